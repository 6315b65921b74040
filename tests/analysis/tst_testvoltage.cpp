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

// A synthetic test voltage and how the analyser is set up for it.
struct Damped
{
    double rate;
    int n;
    double frequency, attenuation, amplitude, phase, offset, noise, scale;
};
struct CosRec
{
    double rate;
    int n;
    double frequency, amplitude, plateau;
    bool negative;
    double offset, noise, scale;
};
struct Continuous
{
    double rate, frequency, amplitude, phase, offset, noise, threshold, phaseOffset, timeOffset;
    QVector<int> blocks;
};

} // namespace

Q_DECLARE_METATYPE(Damped)
Q_DECLARE_METATYPE(CosRec)
Q_DECLARE_METATYPE(Continuous)

class tst_TestVoltage : public QObject
{
    Q_OBJECT

private slots:
    void parameters_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");

        QTest::newRow("sample rate 0") << 1 << 0.0 << 2;
        QTest::newRow("scale factor NaN") << 2 << kNaN << 2;
        QTest::newRow("scale factor negative") << 2 << -3.5 << 0;
        QTest::newRow("resonance a 0") << 3 << 0.0 << 2;
        QTest::newRow("resonance b 0") << 4 << 0.0 << 0;
        QTest::newRow("resonance c negative") << 7 << -1.0 << 2;
        QTest::newRow("threshold negative") << 9 << -1.0 << 0;
        QTest::newRow("id 0") << 0 << 1.0 << 2;
    }
    void parameters()
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
            QCOMPARE(after, known != 0 ? 0.0 : expected == 0 ? value : before);
        }
    }

    void damped_data()
    {
        QTest::addColumn<Damped>("c"); // rate, n, frequency, attenuation, amplitude, phase, offset, noise, scale
        QTest::newRow("50 Hz, 20/s at 100 kHz") << Damped{1e5, 200000, 50, 20, 1, 0, 0, 0, 1};
        QTest::newRow("0.2 s, small") << Damped{1e5, 20000, 50, 20, 0.02, 2, 0, 0, 1};
        QTest::newRow("offset, noise and scale") << Damped{1e5, 100000, 50, 20, 0.5, 0, 0.2, 0.005, 3000};
        QTest::newRow("negative half-wave first") << Damped{1e5, 100000, 50, 20, 1, kPi, -0.1, 0, 1};
        QTest::newRow("300 Hz, 60/s, noisy") << Damped{1e5, 100000, 300, 60, 1000, 0, 0, 0.01, 1};
        QTest::newRow("undamped 30 Hz") << Damped{1e5, 100000, 30, 0, 1, 0.2, 0, 0, 1};
        QTest::newRow("3 periods are enough") << Damped{1e5, 6099, 50, 20, 1, 1, 0, 0, 1};
    }
    void damped()
    {
        QFETCH(Damped, c);
        const auto [rate, n, frequency, attenuation, amplitude, phase, offset, noise, scale] = c;

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

        const Block clean = dampedSine(rate, n, frequency, attenuation, amplitude * scale, phase);
        VERIFY_RESULT(analyser, PdTvDAC::Amplitude, peakOf(clean), 0.03 + 3 * noise);
        const int period = static_cast<int>(rate / frequency + 0.5);
        double tail = 0;
        for (int i = n - period; i < n; ++i)
            tail += y[i];
        QVERIFY2(std::fabs(tail / period) < 0.01 * peakOf(clean), qPrintable(QString::number(tail / period)));
        QVERIFY(std::fabs(y[n / 2] - clean[n / 2]) < (0.01 + 3 * noise) * peakOf(clean));
    }

    void dampedFailures_data()
    {
        QTest::addColumn<Block>("x");
        QTest::addColumn<int>("expected");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("attenuation");

        QTest::newRow("99 samples") << dampedSine(1e5, 99, 50, 20, 1) << 2 << kNaN << kNaN;
        QTest::newRow("100 samples") << dampedSine(1e5, 100, 50, 20, 1) << 1 << -1.0 << -1.0;
        QTest::newRow("constant") << Block(20000, 5.0f) << 1 << -1.0 << -1.0;
        QTest::newRow("growing oscillation") << dampedSine(1e5, 50000, 50, -20, 1) << 1 << 50.0 << -1.0;
        QTest::newRow("2.25 periods: no frequency") << dampedSine(1e5, 4599, 50, 20, 1) << 1 << -1.0 << -1.0;
    }
    void dampedFailures()
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
        QVERIFY(y[0] != -7.0f);
        QCOMPARE(result(analyser, PdTvDAC::Amplitude), double(peakOf(y)));

        PdTvDAC copying;
        copying.setMode(1);
        copying.setParameter(PdTvDAC::ScaleFactor, 1000.0);
        QCOMPARE(copying.process(x.data(), y.data(), static_cast<int>(x.size())), expected);
        QVERIFY(y == x);
        QVERIFY(std::isnan(f) ? std::isnan(result(copying, 1)) : result(copying, 1) == f);
    }

    void dampedEnvelope_data()
    {
        QTest::addColumn<Block>("x");
        QTest::addColumn<Block>("first"); // processed before, or nothing
        QTest::addColumn<bool>("flat");

        Block ramp(150);
        for (int i = 0; i < 150; ++i)
            ramp[i] = 1.0f + i * 0.01f;
        const Block falling(ramp.rbegin(), ramp.rend());
        QTest::newRow("rising ramp after a failed estimate") << ramp << ramp << true;
        QTest::newRow("falling ramp after a constant block") << falling << Block(20000, 5.0f) << true;
        QTest::newRow("nothing estimated yet") << ramp << Block() << false;
        QTest::newRow("after a good estimate") << ramp << dampedSine(1e5, 50000, 50, 20, 1) << false;
        QTest::newRow("damped oscillation") << dampedSine(1e5, 50000, 50, 20, 2.0) << Block() << false;
    }
    void dampedEnvelope()
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
            for (int i = 500; i < n; i += 97)
                QVERIFY2(std::fabs(envelope[i] - 2.0 * std::exp(-20.0 * i / 1e5)) < 0.006, qPrintable(QString::number(i)));
            Block inPlace = x;
            QCOMPARE(analyser.currentAmplitude(inPlace.data(), inPlace.data(), n), 0);
            QVERIFY(inPlace == envelope);
        }
    }

    void cosineRectangular_data()
    {
        QTest::addColumn<CosRec>("c"); // rate, n, frequency, amplitude, plateau, negative, offset, noise, scale
        QTest::newRow("50 Hz reversal, 100 kHz") << CosRec{1e5, 20000, 50, 1, 0.02, false, 0, 0, 1};
        QTest::newRow("starting negative") << CosRec{1e5, 20000, 50, 1, 0.02, true, 0, 0, 1};
        QTest::newRow("offset, noise and scale") << CosRec{1e5, 30000, 80, 0.5, 0.05, false, 0.1, 0.005, 2000};
        QTest::newRow("20 Hz, 10 kHz, long plateaus") << CosRec{1e4, 12000, 20, 1, 0.4, false, -0.2, 0.002, 1};
    }
    void cosineRectangular()
    {
        QFETCH(CosRec, c);
        const auto [rate, n, frequency, amplitude, plateau, negative, offset, noise, scale] = c;

        const Block x = cosRecWave(rate, n, frequency, amplitude, plateau, negative, offset, noise);
        PdTvCosRec analyser;
        analyser.setParameter(PdTvCosRec::SampleRate, rate);
        analyser.setParameter(PdTvCosRec::ScaleFactor, scale);
        Block y(x.size());
        QCOMPARE(analyser.process(x.data(), y.data(), n), 0);
        VERIFY_RESULT(analyser, PdTvCosRec::Amplitude, amplitude * scale, 0.005 + noise);
        VERIFY_RESULT(analyser, PdTvCosRec::Frequency, frequency, 0.01);
        QCOMPARE(result(analyser, PdTvCosRec::Attenuation), 0.0);
        const double first = (negative ? -1 : 1) * amplitude * scale;
        QVERIFY(std::fabs(y[static_cast<int>(plateau * rate / 2)] - first) < (0.005 + 3 * noise) * amplitude * scale);

        Block envelope(x.size());
        QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), n), 0);
        QVERIFY(envelope == Block(x.size(), static_cast<float>(result(analyser, PdTvCosRec::Amplitude))));
    }

    void cosineRectangularWithoutResult()
    {
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

        const Block longer = cosRecWave(1e5, 20000, 50, 1.0, 0.02, false);
        Block z(longer.size());
        QCOMPARE(analyser.setMode(1), 0);
        QCOMPARE(analyser.process(longer.data(), z.data(), 20000), 0);
        QVERIFY(z == longer);
        QVERIFY(std::isnan(result(analyser, PdTvCosRec::Frequency)));
        QCOMPARE(analyser.process(longer.data(), z.data(), 0), 2);
    }

    void continuous_data()
    {
        // rate, frequency, amplitude, phase, offset, noise, threshold, phase offset, time offset, blocks
        QTest::addColumn<Continuous>("c");
        QTest::newRow("50 Hz, blocks of 10000") << Continuous{1e5, 50, 1000, 0, 0, 0, 25, 0, 0, QVector<int>(6, 10000)};
        QTest::newRow("0.1 Hz VLF at 1 kHz") << Continuous{1e3, 0.1, 20000, 1, 0, 0, 500, 0, 0, QVector<int>(8, 5000)};
        QTest::newRow("60 Hz, ragged blocks")
            << Continuous{5e4, 60, 3, 2, 0, 0, 0.075, 0, 0, {1, 999, 17, 4000, 2983, 1, 12000}};
        QTest::newRow("phase and time offsets")
            << Continuous{1e5, 50, 1000, 0, 0, 0, 25, 0.4, 0.001, QVector<int>(5, 10000)};
    }
    void continuous()
    {
        QFETCH(Continuous, c);
        const auto &[rate, frequency, amplitude, phase, offset, noise, threshold, phaseOffset, timeOffset, blocks] = c;

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
                const double t = done / rate + crossing - 25.0 / rate;
                QVERIFY(std::fabs(std::remainder(2 * kPi * frequency * t + phase, 2 * kPi)) < 0.01 + noise);
                ++crossings;
            }
            done += b;
        }
        QVERIFY(crossings > 0);
        VERIFY_RESULT(analyser, PdTvContinuousAC::Frequency, frequency, 0.001);
        VERIFY_RESULT(analyser, PdTvContinuousAC::Amplitude, amplitude, 0.005 + noise);

        for (int i = static_cast<int>(3 * rate / frequency); i < total; i += 37) {
            const double expected = 2 * kPi * frequency * ((i - 25.0) / rate + timeOffset) + phase + phaseOffset;
            QVERIFY2(std::fabs(std::remainder(y[i] - expected, 2 * kPi)) < 0.01 + noise,
                     qPrintable(QStringLiteral("sample %1: %2, expected %3").arg(i).arg(y[i]).arg(expected)));
        }

        QCOMPARE(analyser.reset(), 0);
        QVERIFY(std::isnan(result(analyser, PdTvContinuousAC::Frequency)));
        Block z = x;
        QCOMPARE(analyser.process(z.data(), z.data(), total), 0);
        for (int i = 0; i < total; ++i)
            QVERIFY2((std::isnan(z[i]) && std::isnan(y[i])) || z[i] == y[i], qPrintable(QString::number(i)));

        // Going on with an offset the analyser is not told of: it counts in neither amplitude.
        Block shifted = dampedSine(rate, total, frequency, 0.0, amplitude, phase, offset + 0.3 * amplitude, noise);
        QCOMPARE(analyser.currentAmplitude(shifted.data(), z.data(), total), 0);
        QVERIFY2(std::fabs(z.back() - amplitude) <= 0.005 * amplitude, qPrintable(QString::number(z.back())));
        QCOMPARE(analyser.process(shifted.data(), shifted.data(), total), 0);
        VERIFY_RESULT(analyser, PdTvContinuousAC::Amplitude, amplitude, 0.005 + noise);
    }
};

QTEST_APPLESS_MAIN(tst_TestVoltage)
#include "tst_testvoltage.moc"
