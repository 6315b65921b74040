#include "PdTvContinuousAC.h"
#include "PdTvCosRec.h"
#include "PdTvDAC.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Block = std::vector<float>;
using Analyser = InterfacePdTestvoltage;

// A e^(-delta t) sin(2 pi f t + phase) + offset, plus Gaussian noise of noise * A.
Block dampedSine(double rate, int n, double f, double delta, double a, double phase = 0, double offset = 0,
                 double noise = 0)
{
    std::mt19937 generator(static_cast<unsigned>(n + f * 10));
    std::normal_distribution<double> normal(0.0, noise * a + 1e-30);
    Block x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[i] = static_cast<float>(a * std::exp(-delta * i / rate) * std::sin(2 * kPi * f * i / rate + phase) + offset
                                  + normal(generator));
    return x;
}

// Plateaus of +-A held for `plateau` seconds, joined by half a cosine of frequency f.
Block cosRecWave(double rate, int n, double f, double a, double plateau, bool negative, double offset = 0,
                        double noise = 0)
{
    Block x = dampedSine(rate, n, 0, 0, a, 0, offset, noise);
    const double cycle = plateau + 0.5 / f;
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        const int segment = static_cast<int>(t / cycle);
        const double in = t - segment * cycle;
        const double sign = ((segment % 2 == 0) != negative) ? 1.0 : -1.0;
        x[i] += static_cast<float>(sign * a * (in < plateau ? 1.0 : std::cos(2 * kPi * f * (in - plateau))));
    }
    return x;
}

double result(const Analyser &analyser, int id, int *code = nullptr)
{
    double value = -12345.0;
    const int status = analyser.getResult(id, &value);
    if (code)
        *code = status;
    return value;
}

// The value, which must be valid, within relative of expected.
#define VERIFY_RESULT(analyser, id, expected, relative)                                                              \
    do {                                                                                                               \
        int code_ = -1;                                                                                                \
        const double value_ = result(analyser, id, &code_);                                                            \
        QCOMPARE(code_, 0);                                                                                            \
        QVERIFY2(std::fabs(value_ - (expected)) <= (relative) * std::fabs(expected),                                  \
                 qPrintable(QStringLiteral("result %1: %2, expected %3").arg(id).arg(value_, 0, 'g', 8).arg(expected))); \
    } while (false)

float peakOf(const Block &x)
{
    float peak = 0;
    for (float v : x)
        peak = std::max(peak, std::fabs(v));
    return peak;
}

} // namespace

class tst_TestVoltage : public QObject
{
    Q_OBJECT

private slots:
    void parameters_data();
    void parameters();
    void defaults();
    void damped_data();
    void damped();
    void dampedFailures_data();
    void dampedFailures();
    void resonance();
    void dampedEnvelope_data();
    void dampedEnvelope();
    void cosineRectangular_data();
    void cosineRectangular();
    void cosineRectangularWithoutResult();
    void continuous_data();
    void continuous();
    void continuousCopyAndEnvelope();
};

void tst_TestVoltage::parameters_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("sample rate 0") << 1 << 0.0 << 2;
    QTest::newRow("sample rate infinite") << 1 << double(INFINITY) << 2;
    QTest::newRow("scale factor NaN") << 2 << kNaN << 2;
    QTest::newRow("scale factor negative") << 2 << -3.5 << 0;
    QTest::newRow("resonance a 0") << 3 << 0.0 << 2;
    QTest::newRow("resonance b 0") << 4 << 0.0 << 0;
    QTest::newRow("resonance b negative") << 4 << -1e-9 << 2;
    QTest::newRow("resonance c negative") << 7 << -1.0 << 2;
    QTest::newRow("time offset infinite") << 6 << -double(INFINITY) << 2;
    QTest::newRow("threshold negative") << 9 << -1.0 << 0;
    QTest::newRow("id 0") << 0 << 1.0 << 2;
    QTest::newRow("id 10") << 10 << 1.0 << 2;
}

void tst_TestVoltage::parameters()
{
    QFETCH(int, id);
    QFETCH(double, value);
    QFETCH(int, expected);

    const std::unique_ptr<Analyser> analysers[] = {std::make_unique<PdTvDAC>(), std::make_unique<PdTvCosRec>(),
                                                   std::make_unique<PdTvContinuousAC>()};
    for (const auto &analyser : analysers) {
        double before = kNaN, after = kNaN;
        const int known = analyser->getParameter(id, &before);
        QCOMPARE(analyser->setParameter(id, value), expected);
        QCOMPARE(analyser->getParameter(id, &after), known);
        // Refused values are not stored; unknown ids read as 0.0.
        QCOMPARE(after, known != 0 ? 0.0 : expected == 0 ? value : before);
    }
}

void tst_TestVoltage::defaults()
{
    const std::unique_ptr<Analyser> analysers[] = {std::make_unique<PdTvDAC>(), std::make_unique<PdTvCosRec>(),
                                                   std::make_unique<PdTvContinuousAC>()};
    for (const auto &analyser : analysers) {
        const double parameters[] = {100000.0, 1.0, 0, 0, 0, 0, 0, 0, 0};
        for (int id = 1; id <= 9; ++id) {
            double value = kNaN;
            QCOMPARE(analyser->getParameter(id, &value), 0);
            QCOMPARE(value, parameters[id - 1]);
        }
        for (int id = 1; id <= 7; ++id) {
            int code = -1;
            QVERIFY(std::isnan(result(*analyser, id, &code)));
            QCOMPARE(code, 1);
        }
        double value = 1.0;
        QCOMPARE(analyser->getResult(8, &value), 2);
        int mode = 0;
        QCOMPARE(analyser->setMode(2), 2);
        QCOMPARE(analyser->getMode(&mode), 0);
        QCOMPARE(mode, 3);
        QCOMPARE(analyser->setMode(1), 0);
        QCOMPARE(analyser->getMode(&mode), 0);
        QCOMPARE(mode, 1);
    }
}

void tst_TestVoltage::damped_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("attenuation");
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("phase");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("noise");
    QTest::addColumn<double>("scale");

    QTest::newRow("50 Hz, 20/s at 100 kHz") << 1e5 << 200000 << 50.0 << 20.0 << 1.0 << 0.0 << 0.0 << 0.0 << 1.0;
    QTest::newRow("1% noise") << 1e5 << 200000 << 50.0 << 20.0 << 1.0 << 0.3 << 0.0 << 0.01 << 1.0;
    QTest::newRow("0.2 s, small") << 1e5 << 20000 << 50.0 << 20.0 << 0.02 << 2.0 << 0.0 << 0.0 << 1.0;
    QTest::newRow("offset, noise and scale") << 1e5 << 100000 << 50.0 << 20.0 << 0.5 << 0.0 << 0.2 << 0.005 << 3000.0;
    QTest::newRow("negative half-wave first") << 1e5 << 100000 << 50.0 << 20.0 << 1.0 << kPi << -0.1 << 0.0 << 1.0;
    QTest::newRow("300 Hz, 60/s, noisy") << 1e5 << 100000 << 300.0 << 60.0 << 1000.0 << 0.0 << 0.0 << 0.01 << 1.0;
    QTest::newRow("16.7 Hz, 8/s at 20 kHz") << 2e4 << 40000 << 16.7 << 8.0 << 1.0 << 0.7 << 0.0 << 0.0 << 1.0;
    QTest::newRow("undamped 30 Hz") << 1e5 << 100000 << 30.0 << 0.0 << 1.0 << 0.2 << 0.0 << 0.0 << 1.0;
}

void tst_TestVoltage::damped()
{
    QFETCH(double, rate);
    QFETCH(int, n);
    QFETCH(double, frequency);
    QFETCH(double, attenuation);
    QFETCH(double, amplitude);
    QFETCH(double, phase);
    QFETCH(double, offset);
    QFETCH(double, noise);
    QFETCH(double, scale);

    const Block x = dampedSine(rate, n, frequency, attenuation, amplitude, phase, offset, noise);
    PdTvDAC analyser;
    analyser.setParameter(PdTvDAC::SampleRate, rate);
    analyser.setParameter(PdTvDAC::ScaleFactor, scale);
    Block y = x;
    QCOMPARE(analyser.process(y.data(), y.data(), n), 0);

    VERIFY_RESULT(analyser, PdTvDAC::Frequency, frequency, 0.005);
    if (attenuation > 0)
        VERIFY_RESULT(analyser, PdTvDAC::Attenuation, attenuation, 0.05);
    else
        QVERIFY(std::fabs(result(analyser, PdTvDAC::Attenuation)) < 0.5);
    QCOMPARE(result(analyser, PdTvDAC::Delay), 0.0);

    // The block conditioned: scaled, centred on the level it decays to, its
    // largest excursion the amplitude.
    const Block clean = dampedSine(rate, n, frequency, attenuation, amplitude * scale, phase);
    VERIFY_RESULT(analyser, PdTvDAC::Amplitude, peakOf(clean), 0.03 + 3 * noise);
    const int period = static_cast<int>(rate / frequency + 0.5);
    double tail = 0;
    for (int i = n - period; i < n; ++i)
        tail += y[i];
    QVERIFY2(std::fabs(tail / period) < 0.01 * peakOf(clean), qPrintable(QString::number(tail / period)));
    QVERIFY(std::fabs(y[n / 2] - clean[n / 2]) < (0.01 + 3 * noise) * peakOf(clean));
}

void tst_TestVoltage::dampedFailures_data()
{
    QTest::addColumn<Block>("x");
    QTest::addColumn<int>("expected");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("attenuation");

    // NaN: too short to try; -1: the estimate failed.
    QTest::newRow("99 samples") << dampedSine(1e5, 99, 50, 20, 1) << 2 << kNaN << kNaN;
    QTest::newRow("100 samples") << dampedSine(1e5, 100, 50, 20, 1) << 1 << -1.0 << -1.0;
    QTest::newRow("not over 1 ms after the slope filter") << dampedSine(1e5, 199, 50, 20, 1) << 1 << -1.0 << -1.0;
    QTest::newRow("constant") << Block(20000, 5.0f) << 1 << -1.0 << -1.0;
    // Largest slope so late that two periods do not fit after it.
    QTest::newRow("growing oscillation") << dampedSine(1e5, 50000, 50, -20, 1) << 1 << 50.0 << -1.0;
}

void tst_TestVoltage::dampedFailures()
{
    QFETCH(Block, x);
    QFETCH(int, expected);
    QFETCH(double, frequency);
    QFETCH(double, attenuation);

    PdTvDAC analyser;
    Block y(x.size(), -7.0f);
    QCOMPARE(analyser.process(x.data(), y.data(), static_cast<int>(x.size())), expected);
    const double f = result(analyser, PdTvDAC::Frequency);
    QVERIFY2(std::isnan(frequency) ? std::isnan(f) : std::fabs(f - frequency) <= 0.01 * std::fabs(frequency),
             qPrintable(QString::number(f)));
    int code = -1;
    const double delta = result(analyser, PdTvDAC::Attenuation, &code);
    QCOMPARE(code, 1);
    QVERIFY(std::isnan(attenuation) ? std::isnan(delta) : delta == attenuation);
    // Conditioned and measured all the same.
    QVERIFY(y[0] != -7.0f);
    QCOMPARE(result(analyser, PdTvDAC::Amplitude), double(peakOf(y)));

    // In copy mode the block passes unchanged; the estimate is the same.
    PdTvDAC copying;
    copying.setMode(1);
    copying.setParameter(PdTvDAC::ScaleFactor, 1000.0);
    QCOMPARE(copying.process(x.data(), y.data(), static_cast<int>(x.size())), expected);
    QVERIFY(y == x);
    QVERIFY(std::isnan(f) ? std::isnan(result(copying, 1)) : result(copying, 1) == f);
}

void tst_TestVoltage::resonance()
{
    // D3 = max(0, 1 / (a (w^2 + d^2)) - b), D4 = max(0, (2 d a - c) / (a w)); the
    // cosine-rectangular analyser takes d = 0. Rows: plain; b and c; b above the
    // first term; c above 2 d a.
    const double rows[][3] = {{1e-6, 0, 0}, {1e-6, 1, 1e-6}, {1e-6, 1e3, 0}, {1e-6, 0, 1}};
    const Block damped = dampedSine(1e5, 100000, 50, 20, 1);
    const Block cr = cosRecWave(1e5, 20000, 50, 1000, 0.02, false);
    for (const auto &row : rows) {
        PdTvDAC dac;
        PdTvCosRec cosRec;
        for (Analyser *analyser : {static_cast<Analyser *>(&dac), static_cast<Analyser *>(&cosRec)}) {
            QCOMPARE(analyser->setParameter(Analyser::ResonanceA, row[0]), 0);
            QCOMPARE(analyser->setParameter(Analyser::ResonanceB, row[1]), 0);
            QCOMPARE(analyser->setParameter(Analyser::ResonanceC, row[2]), 0);
        }
        Block y(damped.size());
        dac.process(damped.data(), y.data(), 100000);
        cosRec.process(cr.data(), y.data(), 20000);
        for (Analyser *analyser : {static_cast<Analyser *>(&dac), static_cast<Analyser *>(&cosRec)}) {
            const double w = 2 * kPi * result(*analyser, Analyser::Frequency);
            const double d = result(*analyser, Analyser::Attenuation);
            QCOMPARE(result(*analyser, Analyser::D3), std::max(0.0, 1 / (row[0] * (w * w + d * d)) - row[1]));
            QCOMPARE(result(*analyser, Analyser::D4), std::max(0.0, (2 * d * row[0] - row[2]) / (row[0] * w)));
        }
    }
}

void tst_TestVoltage::dampedEnvelope_data()
{
    QTest::addColumn<Block>("x");
    QTest::addColumn<Block>("first"); // processed before, or nothing
    QTest::addColumn<bool>("flat");

    // 150 samples at 100 kHz: after the slope filter too short to estimate.
    Block ramp(150), bump(150);
    for (int i = 0; i < 150; ++i) {
        ramp[i] = 1.0f + i * 0.01f;
        bump[i] = static_cast<float>(std::sin(kPi * i / 149.0));
    }
    const Block falling(ramp.rbegin(), ramp.rend());
    Block negative = ramp;
    for (float &v : negative)
        v = -v;
    // Flat: the stored frequency marks a failed estimate, the extremes sit near
    // the two ends, and this block has no frequency either.
    QTest::newRow("rising ramp after a failed estimate") << ramp << ramp << true;
    QTest::newRow("falling ramp after a constant block") << falling << Block(20000, 5.0f) << true;
    // Not flat: never estimated (NaN does not count), a good estimate, a
    // maximum not above 0, or an extreme in the middle.
    QTest::newRow("nothing estimated yet") << ramp << Block() << false;
    QTest::newRow("after a good estimate") << ramp << dampedSine(1e5, 50000, 50, 20, 1) << false;
    QTest::newRow("negative ramp") << negative << negative << false;
    QTest::newRow("half a sine") << bump << bump << false;
    QTest::newRow("damped oscillation") << dampedSine(1e5, 50000, 50, 20, 2.0) << Block() << false;
}

void tst_TestVoltage::dampedEnvelope()
{
    QFETCH(Block, x);
    QFETCH(Block, first);
    QFETCH(bool, flat);

    const int n = static_cast<int>(x.size());
    PdTvDAC analyser;
    Block y(first.size() + 1);
    analyser.process(first.data(), y.data(), static_cast<int>(first.size()));
    Block envelope(x.size(), -1.0f);
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), n), 0);
    if (flat) {
        QVERIFY(envelope == Block(x.size(), peakOf(x)));
        return;
    }
    QVERIFY(envelope != Block(x.size(), peakOf(x)));
    QCOMPARE(envelope[0], std::fabs(x[0]));
    if (n == 50000) {
        // Peaks every half period joined by lines: close to 2 e^(-20 t).
        for (int i = 500; i < n; i += 97)
            QVERIFY2(std::fabs(envelope[i] - 2.0 * std::exp(-20.0 * i / 1e5)) < 0.006, qPrintable(QString::number(i)));
        Block inPlace = x;
        QCOMPARE(analyser.currentAmplitude(inPlace.data(), inPlace.data(), n), 0);
        QVERIFY(inPlace == envelope);
    }
}

void tst_TestVoltage::cosineRectangular_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("plateau");
    QTest::addColumn<bool>("negative");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("noise");
    QTest::addColumn<double>("scale");

    QTest::newRow("50 Hz reversal, 100 kHz") << 1e5 << 20000 << 50.0 << 1.0 << 0.02 << false << 0.0 << 0.0 << 1.0;
    QTest::newRow("starting negative") << 1e5 << 20000 << 50.0 << 1.0 << 0.02 << true << 0.0 << 0.0 << 1.0;
    QTest::newRow("offset, noise and scale") << 1e5 << 30000 << 80.0 << 0.5 << 0.05 << false << 0.1 << 0.005 << 2000.0;
    QTest::newRow("500 Hz reversal, 1 MHz") << 1e6 << 20000 << 500.0 << 3.0 << 0.005 << true << 0.0 << 0.0 << 1.0;
    QTest::newRow("20 Hz, 10 kHz, long plateaus") << 1e4 << 12000 << 20.0 << 1.0 << 0.4 << false << -0.2 << 0.002 << 1.0;
}

void tst_TestVoltage::cosineRectangular()
{
    QFETCH(double, rate);
    QFETCH(int, n);
    QFETCH(double, frequency);
    QFETCH(double, amplitude);
    QFETCH(double, plateau);
    QFETCH(bool, negative);
    QFETCH(double, offset);
    QFETCH(double, noise);
    QFETCH(double, scale);

    const Block x = cosRecWave(rate, n, frequency, amplitude, plateau, negative, offset, noise);
    PdTvCosRec analyser;
    analyser.setParameter(PdTvCosRec::SampleRate, rate);
    analyser.setParameter(PdTvCosRec::ScaleFactor, scale);
    Block y(x.size());
    QCOMPARE(analyser.process(x.data(), y.data(), n), 0);
    VERIFY_RESULT(analyser, PdTvCosRec::Amplitude, amplitude * scale, 0.005 + noise);
    VERIFY_RESULT(analyser, PdTvCosRec::Frequency, frequency, 0.01);
    QCOMPARE(result(analyser, PdTvCosRec::Attenuation), 0.0);
    // Centred: the offset is gone from the plateaus.
    const double first = (negative ? -1 : 1) * amplitude * scale;
    QVERIFY(std::fabs(y[static_cast<int>(plateau * rate / 2)] - first) < (0.005 + 3 * noise) * amplitude * scale);

    // The envelope is the amplitude throughout.
    Block envelope(x.size());
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), n), 0);
    QVERIFY(envelope == Block(x.size(), static_cast<float>(result(analyser, PdTvCosRec::Amplitude))));
}

void tst_TestVoltage::cosineRectangularWithoutResult()
{
    // 200 samples are too short to condition: scaled only, nothing measured
    // but the attenuation of 0; the envelope falls back to the block's peak.
    const Block x = cosRecWave(1e5, 200, 500, 1.0, 0.0005, false);
    PdTvCosRec analyser;
    analyser.setParameter(PdTvCosRec::ScaleFactor, 2.0);
    Block y(x.size());
    QCOMPARE(analyser.process(x.data(), y.data(), 200), 0);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(y[i], 2.0f * x[i]);
    int code = -1;
    QVERIFY(std::isnan(result(analyser, PdTvCosRec::Amplitude, &code)) && code == 1);
    QVERIFY(std::isnan(result(analyser, PdTvCosRec::Frequency, &code)) && code == 1);
    QCOMPARE(result(analyser, PdTvCosRec::Attenuation, &code), 0.0);
    QCOMPARE(code, 0);
    QCOMPARE(analyser.currentAmplitude(x.data(), y.data(), 200), 0);
    QVERIFY(y == Block(200, peakOf(x)));
    QCOMPARE(analyser.currentAmplitude(nullptr, y.data(), 200), 2);
    QVERIFY(std::isnan(y[0]) && std::isnan(y[199]));

    // Copy mode: the block unchanged, no amplitude, so no frequency.
    const Block longer = cosRecWave(1e5, 20000, 50, 1.0, 0.02, false);
    Block z(longer.size());
    QCOMPARE(analyser.setMode(1), 0);
    QCOMPARE(analyser.process(longer.data(), z.data(), 20000), 0);
    QVERIFY(z == longer);
    QVERIFY(std::isnan(result(analyser, PdTvCosRec::Frequency)));
    QCOMPARE(analyser.process(longer.data(), z.data(), 0), 2);
}

void tst_TestVoltage::continuous_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("phase");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("noise");
    QTest::addColumn<double>("threshold");
    QTest::addColumn<double>("phaseOffset");
    QTest::addColumn<double>("timeOffset");
    QTest::addColumn<QVector<int>>("blocks");

    QTest::newRow("50 Hz, blocks of 10000") << 1e5 << 50.0 << 1000.0 << 0.0 << 0.0 << 0.0 << 25.0 << 0.0 << 0.0
                                            << QVector<int>(6, 10000);
    QTest::newRow("0.1 Hz VLF at 1 kHz") << 1e3 << 0.1 << 20000.0 << 1.0 << 0.0 << 0.0 << 500.0 << 0.0 << 0.0
                                         << QVector<int>(8, 5000);
    QTest::newRow("60 Hz, ragged blocks") << 5e4 << 60.0 << 3.0 << 2.0 << 0.0 << 0.0 << 0.075 << 0.0 << 0.0
                                          << QVector<int>{1, 999, 17, 4000, 2983, 1, 12000};
    QTest::newRow("offset removed by parameter 8") << 1e5 << 50.0 << 1000.0 << 0.5 << 300.0 << 0.0 << 25.0 << 0.0
                                                   << 0.0 << QVector<int>(5, 10000);
    QTest::newRow("noisy, threshold holds") << 1e5 << 50.0 << 1000.0 << 0.0 << 0.0 << 0.02 << 25.0 << 0.0 << 0.0
                                            << QVector<int>(5, 10000);
    QTest::newRow("phase and time offsets") << 1e5 << 50.0 << 1000.0 << 0.0 << 0.0 << 0.0 << 25.0 << 0.4 << 0.001
                                            << QVector<int>(5, 10000);
}

void tst_TestVoltage::continuous()
{
    QFETCH(double, rate);
    QFETCH(double, frequency);
    QFETCH(double, amplitude);
    QFETCH(double, phase);
    QFETCH(double, offset);
    QFETCH(double, noise);
    QFETCH(double, threshold);
    QFETCH(double, phaseOffset);
    QFETCH(double, timeOffset);
    QFETCH(QVector<int>, blocks);

    int total = 0;
    for (int b : blocks)
        total += b;
    const Block x = dampedSine(rate, total, frequency, 0.0, amplitude, phase, offset, noise);
    PdTvContinuousAC analyser;
    const double parameters[][2] = {{1, rate}, {8, offset}, {9, threshold}, {5, phaseOffset}, {6, timeOffset}};
    for (const auto &p : parameters)
        QCOMPARE(analyser.setParameter(int(p[0]), p[1]), 0);

    Block y(x.size());
    int done = 0;
    int crossings = 0;
    for (int b : blocks) {
        QCOMPARE(analyser.process(x.data() + done, y.data() + done, b), 0);
        QCOMPARE(result(analyser, PdTvContinuousAC::Delay), 25.0 / rate);
        int code = -1;
        const double crossing = result(analyser, PdTvContinuousAC::FirstZeroCrossing, &code);
        if (code == 0) {
            // A rising zero crossing of the smoothed voltage, which lags by the delay.
            const double t = done / rate + crossing - 25.0 / rate;
            QVERIFY(std::fabs(std::remainder(2 * kPi * frequency * t + phase, 2 * kPi)) < 0.01 + noise);
            ++crossings;
        }
        done += b;
    }
    QVERIFY(crossings > 0);
    VERIFY_RESULT(analyser, PdTvContinuousAC::Frequency, frequency, 0.001);
    VERIFY_RESULT(analyser, PdTvContinuousAC::Amplitude, amplitude, 0.005 + noise);

    // The block became the phase of the (delayed) voltage plus the offsets.
    for (int i = static_cast<int>(3 * rate / frequency); i < total; i += 37) {
        const double expected = 2 * kPi * frequency * ((i - 25.0) / rate + timeOffset) + phase + phaseOffset;
        QVERIFY2(std::fabs(std::remainder(y[i] - expected, 2 * kPi)) < 0.01 + noise,
                 qPrintable(QStringLiteral("sample %1: %2, expected %3").arg(i).arg(y[i]).arg(expected)));
    }

    // After reset() the same stream in one block gives the same bits: nothing
    // depends on where the blocks ended.
    QCOMPARE(analyser.reset(), 0);
    QVERIFY(std::isnan(result(analyser, PdTvContinuousAC::Frequency)));
    Block z = x;
    QCOMPARE(analyser.process(z.data(), z.data(), total), 0);
    for (int i = 0; i < total; ++i)
        QVERIFY2((std::isnan(z[i]) && std::isnan(y[i])) || z[i] == y[i], qPrintable(QString::number(i)));
}

void tst_TestVoltage::continuousCopyAndEnvelope()
{
    const Block x = dampedSine(1e4, 2000, 50, 0, 2.0);
    PdTvContinuousAC copying;
    copying.setParameter(PdTvContinuousAC::SampleRate, 1e4);
    QCOMPARE(copying.setMode(1), 0);
    Block y(x.size());
    QCOMPARE(copying.process(x.data(), y.data(), 2000), 0);
    QVERIFY(y == x);
    QCOMPARE(result(copying, PdTvContinuousAC::Delay), 25.0 / 1e4);
    QVERIFY(std::isnan(result(copying, PdTvContinuousAC::Frequency)));
    QCOMPARE(copying.process(nullptr, y.data(), 2000), 2);

    // Until the second crossing there is no period: no phase, NaN.
    PdTvContinuousAC analyser;
    analyser.setParameter(PdTvContinuousAC::SampleRate, 1e4);
    analyser.setParameter(PdTvContinuousAC::DetectionThreshold, 0.05);
    QCOMPARE(analyser.process(x.data(), y.data(), 100), 0);
    QVERIFY(std::isnan(y[99]));
    QCOMPARE(analyser.process(x.data() + 100, y.data() + 100, 1900), 0);
    VERIFY_RESULT(analyser, PdTvContinuousAC::Amplitude, 2.0, 0.01);

    // The envelope keeps a tracker of its own, so process() having seen the
    // stream does not count: zero until two periods have ended (each at an
    // armed rising crossing, the first once the voltage fell below
    // -threshold: samples 201 and 401), then the peak.
    Block envelope(x.size(), -1.0f);
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), 1000), 0);
    QCOMPARE(analyser.currentAmplitude(x.data() + 1000, envelope.data() + 1000, 1000), 0);
    for (int i = 0; i < 2000; ++i)
        QVERIFY2(i < 400 ? envelope[i] == 0.0f : i < 401 || std::fabs(envelope[i] - 2.0f) < 0.01f,
                 qPrintable(QString::number(i)));
    QCOMPARE(analyser.currentAmplitude(x.data(), nullptr, 10), 2);
}

QTEST_APPLESS_MAIN(tst_TestVoltage)
#include "tst_testvoltage.moc"
