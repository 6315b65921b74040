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

Block noise(int n, double level, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> normal(0.0, level);
    Block x(static_cast<std::size_t>(n));
    for (float &v : x)
        v = static_cast<float>(normal(generator));
    return x;
}

// A e^(-delta t) sin(2 pi f t + phase) + offset, plus Gaussian noise of
// noiseLevel * A.
Block dampedSine(double rate, int n, double f, double delta, double amplitude, double phase, double offset,
                 double noiseLevel)
{
    Block x = noise(n, noiseLevel * amplitude, static_cast<unsigned>(n + f * 10));
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        x[i] += static_cast<float>(amplitude * std::exp(-delta * t) * std::sin(2 * kPi * f * t + phase) + offset);
    }
    return x;
}

// Plateaus of +-A held for `plateau` seconds, joined by half a cosine of
// frequency f: the cosine-rectangular shape.
Block cosineRectangularWave(double rate, int n, double f, double amplitude, double plateau, bool startNegative,
                        double offset, double noiseLevel)
{
    Block x = noise(n, noiseLevel * amplitude, static_cast<unsigned>(n + f));
    const double reversal = 0.5 / f;
    const double cycle = plateau + reversal;
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        const int segment = static_cast<int>(std::floor(t / cycle));
        const double inSegment = t - segment * cycle;
        double sign = (segment % 2 == 0) ? 1.0 : -1.0;
        if (startNegative)
            sign = -sign;
        const double shape = inSegment < plateau ? 1.0 : std::cos(2 * kPi * f * (inSegment - plateau));
        x[i] += static_cast<float>(sign * amplitude * shape + offset);
    }
    return x;
}

double result(const InterfacePdTestvoltage &analyser, int id, int *code = nullptr)
{
    double value = -12345.0;
    const int status = analyser.getResult(id, &value);
    if (code)
        *code = status;
    return value;
}

bool within(double actual, double expected, double relative)
{
    return std::fabs(actual - expected) <= relative * std::fabs(expected);
}

QString describe(double actual, double expected)
{
    return QStringLiteral("%1, expected %2").arg(actual, 0, 'g', 8).arg(expected, 0, 'g', 8);
}

double wrappedDifference(double a, double b)
{
    return std::remainder(a - b, 2 * kPi);
}

} // namespace

class tst_TestVoltage : public QObject
{
    Q_OBJECT

private slots:
    void parameters_data();
    void parameters();
    void modesAndIds();
    void initialResults();

    void damped_data();
    void damped();
    void dampedFailures_data();
    void dampedFailures();
    void dampedCopyMode();
    void resonance_data();
    void resonance();
    void dampedEnvelope();
    void dampedFlatBlock_data();
    void dampedFlatBlock();

    void cosineRectangular_data();
    void cosineRectangular();
    void cosineRectangularShortAndCopy();
    void cosineRectangularEnvelope();

    void continuous_data();
    void continuous();
    void continuousCopyModeAndArguments();
    void continuousEnvelope();
    void continuousReset();
};

void tst_TestVoltage::parameters_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");

    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("sample rate 0") << 1 << 0.0 << 2;
    QTest::newRow("sample rate negative") << 1 << -1.0 << 2;
    QTest::newRow("sample rate infinite") << 1 << inf << 2;
    QTest::newRow("sample rate 1 MHz") << 1 << 1e6 << 0;
    QTest::newRow("scale factor NaN") << 2 << kNaN << 2;
    QTest::newRow("scale factor negative") << 2 << -3.5 << 0;
    QTest::newRow("scale factor 0") << 2 << 0.0 << 0;
    QTest::newRow("resonance a 0") << 3 << 0.0 << 2;
    QTest::newRow("resonance a positive") << 3 << 1e-6 << 0;
    QTest::newRow("resonance b 0") << 4 << 0.0 << 0;
    QTest::newRow("resonance b negative") << 4 << -1e-9 << 2;
    QTest::newRow("phase offset negative") << 5 << -1.5 << 0;
    QTest::newRow("time offset infinite") << 6 << -inf << 2;
    QTest::newRow("resonance c 0") << 7 << 0.0 << 0;
    QTest::newRow("resonance c negative") << 7 << -1.0 << 2;
    QTest::newRow("amplitude offset negative") << 8 << -100.0 << 0;
    QTest::newRow("threshold negative") << 9 << -1.0 << 0;
    QTest::newRow("threshold NaN") << 9 << kNaN << 2;
    QTest::newRow("id 0") << 0 << 1.0 << 2;
    QTest::newRow("id 10") << 10 << 1.0 << 2;
}

void tst_TestVoltage::parameters()
{
    QFETCH(int, id);
    QFETCH(double, value);
    QFETCH(int, expected);

    const std::unique_ptr<InterfacePdTestvoltage> analysers[] = {
        std::make_unique<PdTvDAC>(), std::make_unique<PdTvCosRec>(), std::make_unique<PdTvContinuousAC>()};
    for (const auto &analyser : analysers) {
        double before = kNaN;
        const int known = analyser->getParameter(id, &before);
        QCOMPARE(analyser->setParameter(id, value), expected);
        double after = kNaN;
        QCOMPARE(analyser->getParameter(id, &after), known);
        if (known != 0)
            QCOMPARE(after, 0.0);
        else
            QCOMPARE(after, expected == 0 ? value : before);
    }
}

void tst_TestVoltage::modesAndIds()
{
    PdTvDAC analyser;
    int mode = 0;
    QCOMPARE(analyser.getMode(&mode), 0);
    QCOMPARE(mode, 3);
    QCOMPARE(analyser.setMode(2), 2);
    QCOMPARE(analyser.setMode(0), 2);
    QCOMPARE(analyser.getMode(&mode), 0);
    QCOMPARE(mode, 3);
    QCOMPARE(analyser.setMode(1), 0);
    QCOMPARE(analyser.getMode(&mode), 0);
    QCOMPARE(mode, 1);
    QCOMPARE(analyser.getMode(nullptr), 2);

    double value = 1.0;
    QCOMPARE(analyser.getResult(8, &value), 2);
    QCOMPARE(analyser.getResult(0, &value), 2);
    QCOMPARE(analyser.getResult(1, nullptr), 2);
    QCOMPARE(analyser.getParameter(1, nullptr), 2);
}

void tst_TestVoltage::initialResults()
{
    const std::unique_ptr<InterfacePdTestvoltage> analysers[] = {
        std::make_unique<PdTvDAC>(), std::make_unique<PdTvCosRec>(), std::make_unique<PdTvContinuousAC>()};
    for (const auto &analyser : analysers) {
        double value = 0;
        QCOMPARE(analyser->getParameter(1, &value), 0);
        QCOMPARE(value, 100000.0);
        QCOMPARE(analyser->getParameter(2, &value), 0);
        QCOMPARE(value, 1.0);
        for (int id = 3; id <= 9; ++id) {
            QCOMPARE(analyser->getParameter(id, &value), 0);
            QCOMPARE(value, 0.0);
        }
        for (int id = 1; id <= 7; ++id) {
            int code = -1;
            QVERIFY(std::isnan(result(*analyser, id, &code)));
            QCOMPARE(code, 1);
        }
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
    QTest::newRow("50 Hz, 20/s, 1% noise") << 1e5 << 200000 << 50.0 << 20.0 << 1.0 << 0.3 << 0.0 << 0.01 << 1.0;
    QTest::newRow("50 Hz, 20/s, half a second") << 1e5 << 50000 << 50.0 << 20.0 << 1.0 << 1.0 << 0.0 << 0.0 << 1.0;
    QTest::newRow("50 Hz, 20/s, 0.2 s") << 1e5 << 20000 << 50.0 << 20.0 << 0.02 << 2.0 << 0.0 << 0.0 << 1.0;
    QTest::newRow("50 Hz, 20/s, offset and scale") << 1e5 << 100000 << 50.0 << 20.0 << 0.5 << 0.0 << 0.2 << 0.005
                                                   << 3000.0;
    QTest::newRow("starts on the negative half-wave") << 1e5 << 100000 << 50.0 << 20.0 << 1.0 << kPi << -0.1 << 0.0
                                                      << 1.0;
    QTest::newRow("120 Hz, 5/s") << 1e5 << 100000 << 120.0 << 5.0 << 2.0 << 0.5 << 0.0 << 0.0 << 1.0;
    QTest::newRow("300 Hz, 60/s, noisy, amplitude 1000") << 1e5 << 100000 << 300.0 << 60.0 << 1000.0 << 0.0 << 0.0
                                                         << 0.01 << 1.0;
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
    QCOMPARE(analyser.setParameter(PdTvDAC::SampleRate, rate), 0);
    QCOMPARE(analyser.setParameter(PdTvDAC::ScaleFactor, scale), 0);
    Block y(x.size());
    QCOMPARE(analyser.process(x.data(), y.data(), n), 0);

    int code = -1;
    const double f = result(analyser, PdTvDAC::Frequency, &code);
    QCOMPARE(code, 0);
    QVERIFY2(within(f, frequency, 0.005), qPrintable(describe(f, frequency)));
    const double delta = result(analyser, PdTvDAC::Attenuation, &code);
    if (attenuation > 0) {
        QCOMPARE(code, 0);
        QVERIFY2(within(delta, attenuation, 0.05), qPrintable(describe(delta, attenuation)));
    } else {
        QVERIFY2(std::fabs(delta) < 0.5, qPrintable(describe(delta, attenuation)));
    }
    QCOMPARE(result(analyser, PdTvDAC::Delay, &code), 0.0);
    QCOMPARE(code, 0);

    // The conditioned block: scaled, centred on the level it decays to, with
    // the largest excursion as the amplitude.
    double peak = 0;
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        peak = std::max(peak, std::fabs(amplitude * std::exp(-attenuation * t) * std::sin(2 * kPi * frequency * t + phase)));
    }
    const double a = result(analyser, PdTvDAC::Amplitude, &code);
    QCOMPARE(code, 0);
    QVERIFY2(within(a, peak * scale, 0.03 + 3 * noise), qPrintable(describe(a, peak * scale)));
    const int period = static_cast<int>(rate / frequency + 0.5);
    double tail = 0;
    for (int i = n - period; i < n; ++i)
        tail += y[i];
    QVERIFY2(std::fabs(tail / period) < 0.01 * peak * scale, qPrintable(QString::number(tail / period)));
    QVERIFY2(std::fabs(y[n / 2] - scale * (x[n / 2] - offset)) < (0.01 + 3 * noise) * peak * scale,
             qPrintable(describe(y[n / 2], scale * (x[n / 2] - offset))));

    // In place gives the same.
    Block z = x;
    PdTvDAC again;
    again.setParameter(PdTvDAC::SampleRate, rate);
    again.setParameter(PdTvDAC::ScaleFactor, scale);
    QCOMPARE(again.process(z.data(), z.data(), n), 0);
    QVERIFY(z == y);
    QCOMPARE(result(again, PdTvDAC::Frequency), f);
}

void tst_TestVoltage::dampedFailures_data()
{
    QTest::addColumn<Block>("x");
    QTest::addColumn<int>("expected");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("attenuation");

    // Results: NaN stays NaN (too short to try), -1 marks an estimate that failed.
    QTest::newRow("99 samples") << dampedSine(1e5, 99, 50, 20, 1, 0, 0, 0) << 2 << kNaN << kNaN;
    QTest::newRow("100 samples") << dampedSine(1e5, 100, 50, 20, 1, 0, 0, 0) << 1 << -1.0 << -1.0;
    QTest::newRow("not more than 1 ms after the slope filter") << dampedSine(1e5, 199, 50, 20, 1, 0, 0, 0) << 1
                                                               << -1.0 << -1.0;
    QTest::newRow("constant block") << Block(20000, 5.0f) << 1 << -1.0 << -1.0;
    // A frequency, but the largest slope comes so late that two periods do
    // not fit after it.
    QTest::newRow("growing oscillation") << dampedSine(1e5, 50000, 50, -20, 1, 0, 0, 0) << 1 << 50.0 << -1.0;
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
    int code = -1;
    const double f = result(analyser, PdTvDAC::Frequency, &code);
    if (std::isnan(frequency)) {
        QVERIFY(std::isnan(f));
        QCOMPARE(code, 1);
    } else if (frequency < 0) {
        QCOMPARE(f, frequency);
        QCOMPARE(code, 1);
    } else {
        QVERIFY2(within(f, frequency, 0.01), qPrintable(describe(f, frequency)));
    }
    const double delta = result(analyser, PdTvDAC::Attenuation, &code);
    QCOMPARE(code, 1);
    if (std::isnan(attenuation))
        QVERIFY(std::isnan(delta));
    else
        QCOMPARE(delta, attenuation);
    // The block is conditioned and measured all the same.
    QVERIFY(y[0] != -7.0f);
    float peak = 0;
    for (float v : y)
        peak = std::max(peak, std::fabs(v));
    QCOMPARE(result(analyser, PdTvDAC::Amplitude), double(peak));
}

void tst_TestVoltage::dampedCopyMode()
{
    const Block x = dampedSine(1e5, 50000, 50, 20, 0.8, 0.0, 0.3, 0.0);
    PdTvDAC analyser;
    QCOMPARE(analyser.setMode(1), 0);
    QCOMPARE(analyser.setParameter(PdTvDAC::ScaleFactor, 1000.0), 0);
    Block y(x.size());
    QCOMPARE(analyser.process(x.data(), y.data(), 50000), 0);
    QVERIFY(y == x);
    // Measured on the block as it is: unscaled, with its offset.
    QVERIFY(within(result(analyser, PdTvDAC::Frequency), 50.0, 0.005));
    double peak = 0;
    for (float v : x)
        peak = std::max(peak, double(std::fabs(v)));
    QCOMPARE(result(analyser, PdTvDAC::Amplitude), peak);
}

void tst_TestVoltage::resonance_data()
{
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("c");
    QTest::addColumn<bool>("d3Zero");
    QTest::addColumn<bool>("d4Zero");

    QTest::newRow("plain") << 1e-6 << 0.0 << 0.0 << false << false;
    QTest::newRow("b and c") << 1e-6 << 1.0 << 1e-6 << false << false;
    QTest::newRow("b above the first term") << 1e-6 << 1e3 << 0.0 << true << false;
    QTest::newRow("c above 2 delta a") << 1e-6 << 0.0 << 1.0 << false << true;
}

void tst_TestVoltage::resonance()
{
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, c);
    QFETCH(bool, d3Zero);
    QFETCH(bool, d4Zero);

    const Block x = dampedSine(1e5, 100000, 50, 20, 1, 0, 0, 0);
    PdTvDAC dac;
    PdTvCosRec cosRec;
    for (InterfacePdTestvoltage *analyser : {static_cast<InterfacePdTestvoltage *>(&dac),
                                             static_cast<InterfacePdTestvoltage *>(&cosRec)}) {
        QCOMPARE(analyser->setParameter(PdTvDAC::ResonanceA, a), 0);
        QCOMPARE(analyser->setParameter(PdTvDAC::ResonanceB, b), 0);
        QCOMPARE(analyser->setParameter(PdTvDAC::ResonanceC, c), 0);
    }
    Block y(x.size());
    dac.process(x.data(), y.data(), 100000);
    const double f = result(dac, PdTvDAC::Frequency);
    const double delta = result(dac, PdTvDAC::Attenuation);
    const double omega = 2 * kPi * f;
    const double d3 = std::max(0.0, 1.0 / (a * (omega * omega + delta * delta)) - b);
    const double d4 = std::max(0.0, (2 * delta * a - c) / (a * omega));
    int code = -1;
    QCOMPARE(result(dac, PdTvDAC::D3, &code), d3);
    QCOMPARE(code, 0);
    QCOMPARE(result(dac, PdTvDAC::D4, &code), d4);
    QCOMPARE(code, 0);
    QCOMPARE(d3 == 0.0, d3Zero);
    QCOMPARE(d4 == 0.0, d4Zero);

    // The cosine-rectangular analyser has no attenuation: delta = 0.
    const Block cr = cosineRectangularWave(1e5, 20000, 50, 1000, 0.02, false, 0, 0);
    Block z(cr.size());
    QCOMPARE(cosRec.process(cr.data(), z.data(), 20000), 0);
    const double fc = result(cosRec, PdTvDAC::Frequency);
    const double wc = 2 * kPi * fc;
    QCOMPARE(result(cosRec, PdTvDAC::D3), std::max(0.0, 1.0 / (a * wc * wc) - b));
    QCOMPARE(result(cosRec, PdTvDAC::D4), std::max(0.0, -c / (a * wc)));
}

void tst_TestVoltage::dampedEnvelope()
{
    const double rate = 1e5;
    const int n = 50000;
    const Block x = dampedSine(rate, n, 50, 20, 2.0, 0.0, 0.0, 0.0);
    PdTvDAC analyser;
    Block y(x.size());
    analyser.process(x.data(), y.data(), n);
    Block envelope(x.size());
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), n), 0);
    // Peaks every half period, joined by lines: within the curvature of the
    // exponential between two peaks, from the first peak on.
    for (int i = 500; i < n; i += 97) {
        const double expected = 2.0 * std::exp(-20.0 * i / rate);
        QVERIFY2(std::fabs(envelope[i] - expected) < 0.003 * 2.0, qPrintable(describe(envelope[i], expected)));
    }
    QCOMPARE(envelope[0], std::fabs(x[0]));

    Block inPlace = x;
    QCOMPARE(analyser.currentAmplitude(inPlace.data(), inPlace.data(), n), 0);
    QVERIFY(inPlace == envelope);
    QCOMPARE(analyser.currentAmplitude(nullptr, envelope.data(), n), 2);
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), 0), 2);
}

void tst_TestVoltage::dampedFlatBlock_data()
{
    QTest::addColumn<Block>("x");
    QTest::addColumn<Block>("first");
    QTest::addColumn<bool>("flat");

    // 150 samples at 100 kHz: after the slope filter too short to estimate.
    Block ramp(150);
    for (int i = 0; i < 150; ++i)
        ramp[i] = 1.0f + i * 0.01f;
    Block falling(ramp.rbegin(), ramp.rend());
    Block negative(ramp.size());
    for (std::size_t i = 0; i < ramp.size(); ++i)
        negative[i] = -ramp[i];
    Block bump(ramp.size());
    for (int i = 0; i < 150; ++i)
        bump[i] = static_cast<float>(std::sin(kPi * i / 149.0));
    // Flat: the stored frequency marks a failed estimate, the extremes sit near
    // the two ends, and this block has no frequency either.
    QTest::newRow("rising ramp after a failed estimate") << ramp << ramp << true;
    QTest::newRow("falling ramp after a failed estimate") << falling << falling << true;
    QTest::newRow("ramp after a constant block") << ramp << Block(20000, 5.0f) << true;
    // Not flat: never estimated (NaN does not count as failed) ...
    QTest::newRow("ramp, nothing estimated yet") << ramp << Block() << false;
    // ... or the last estimate was good ...
    QTest::newRow("ramp after a good estimate") << ramp << dampedSine(1e5, 50000, 50, 20, 1, 0, 0, 0) << false;
    // ... or the maximum is not above 0, or an extreme lies in the middle.
    QTest::newRow("negative ramp") << negative << negative << false;
    QTest::newRow("half a sine") << bump << bump << false;
}

void tst_TestVoltage::dampedFlatBlock()
{
    QFETCH(Block, x);
    QFETCH(Block, first);
    QFETCH(bool, flat);

    const int n = static_cast<int>(x.size());
    PdTvDAC analyser;
    if (!first.empty()) {
        Block y(first.size());
        analyser.process(first.data(), y.data(), static_cast<int>(first.size()));
    }
    Block envelope(x.size(), -1.0f);
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), n), 0);
    float peak = 0;
    for (float v : x)
        peak = std::max(peak, std::fabs(v));
    if (flat) {
        for (float v : envelope)
            QCOMPARE(v, peak);
    } else {
        // A monotone block has no maximum inside: the envelope is |x| held
        // from the start, or rising to the last sample.
        QVERIFY(envelope != Block(x.size(), peak));
    }
}

void tst_TestVoltage::cosineRectangular_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("plateau");
    QTest::addColumn<bool>("startNegative");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("noise");
    QTest::addColumn<double>("scale");

    QTest::newRow("50 Hz reversal, 100 kHz") << 1e5 << 20000 << 50.0 << 1.0 << 0.02 << false << 0.0 << 0.0 << 1.0;
    QTest::newRow("starting negative") << 1e5 << 20000 << 50.0 << 1.0 << 0.02 << true << 0.0 << 0.0 << 1.0;
    QTest::newRow("offset, noise and scale") << 1e5 << 30000 << 80.0 << 0.5 << 0.05 << false << 0.1 << 0.005
                                             << 2000.0;
    QTest::newRow("500 Hz reversal, 1 MHz") << 1e6 << 20000 << 500.0 << 3.0 << 0.005 << true << 0.0 << 0.0 << 1.0;
    QTest::newRow("20 Hz reversal, 10 kHz, long plateaus") << 1e4 << 12000 << 20.0 << 1.0 << 0.4 << false << -0.2
                                                           << 0.002 << 1.0;
}

void tst_TestVoltage::cosineRectangular()
{
    QFETCH(double, rate);
    QFETCH(int, n);
    QFETCH(double, frequency);
    QFETCH(double, amplitude);
    QFETCH(double, plateau);
    QFETCH(bool, startNegative);
    QFETCH(double, offset);
    QFETCH(double, noise);
    QFETCH(double, scale);

    const Block x = cosineRectangularWave(rate, n, frequency, amplitude, plateau, startNegative, offset, noise);
    PdTvCosRec analyser;
    analyser.setParameter(PdTvCosRec::SampleRate, rate);
    analyser.setParameter(PdTvCosRec::ScaleFactor, scale);
    Block y(x.size());
    QCOMPARE(analyser.process(x.data(), y.data(), n), 0);

    int code = -1;
    const double a = result(analyser, PdTvCosRec::Amplitude, &code);
    QCOMPARE(code, 0);
    QVERIFY2(within(a, amplitude * scale, 0.005 + noise), qPrintable(describe(a, amplitude * scale)));
    const double f = result(analyser, PdTvCosRec::Frequency, &code);
    QCOMPARE(code, 0);
    QVERIFY2(within(f, frequency, 0.01), qPrintable(describe(f, frequency)));
    QCOMPARE(result(analyser, PdTvCosRec::Attenuation, &code), 0.0);
    QCOMPARE(code, 0);
    QCOMPARE(result(analyser, PdTvCosRec::Delay), 0.0);
    // Centred: the offset is gone from the plateaus.
    const int inPlateau = static_cast<int>(plateau * rate / 2);
    const double expectedFirst = (startNegative ? -1 : 1) * amplitude * scale;
    QVERIFY2(std::fabs(y[inPlateau] - expectedFirst) < (0.005 + 3 * noise) * amplitude * scale,
             qPrintable(describe(y[inPlateau], expectedFirst)));
}

void tst_TestVoltage::cosineRectangularShortAndCopy()
{
    const Block x = cosineRectangularWave(1e5, 200, 500, 1.0, 0.0005, false, 0, 0);
    PdTvCosRec analyser;
    Block y(x.size());
    // Too short to condition: scaled only, nothing measured but attenuation 0.
    QCOMPARE(analyser.setParameter(PdTvCosRec::ScaleFactor, 2.0), 0);
    QCOMPARE(analyser.process(x.data(), y.data(), 200), 0);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(y[i], 2.0f * x[i]);
    int code = -1;
    QVERIFY(std::isnan(result(analyser, PdTvCosRec::Amplitude, &code)));
    QCOMPARE(code, 1);
    QVERIFY(std::isnan(result(analyser, PdTvCosRec::Frequency, &code)));
    QCOMPARE(code, 1);
    QCOMPARE(result(analyser, PdTvCosRec::Attenuation, &code), 0.0);
    QCOMPARE(code, 0);

    const Block longer = cosineRectangularWave(1e5, 20000, 50, 1.0, 0.02, false, 0, 0);
    Block z(longer.size());
    QCOMPARE(analyser.setMode(1), 0);
    QCOMPARE(analyser.process(longer.data(), z.data(), 20000), 0);
    QVERIFY(z == longer);
    QVERIFY(std::isnan(result(analyser, PdTvCosRec::Amplitude)));
    QVERIFY(std::isnan(result(analyser, PdTvCosRec::Frequency)));

    QCOMPARE(analyser.process(nullptr, z.data(), 20000), 2);
    QCOMPARE(analyser.process(longer.data(), z.data(), 0), 2);
}

void tst_TestVoltage::cosineRectangularEnvelope()
{
    const Block x = cosineRectangularWave(1e5, 20000, 50, 1.5, 0.02, false, 0, 0);
    PdTvCosRec analyser;
    Block envelope(x.size());
    // No amplitude yet: the block's peak.
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), 20000), 0);
    float peak = 0;
    for (float v : x)
        peak = std::max(peak, std::fabs(v));
    QVERIFY(envelope == Block(x.size(), peak));

    Block y(x.size());
    analyser.process(x.data(), y.data(), 20000);
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), 20000), 0);
    QVERIFY(envelope == Block(x.size(), static_cast<float>(result(analyser, PdTvCosRec::Amplitude))));

    QCOMPARE(analyser.currentAmplitude(nullptr, envelope.data(), 20000), 2);
    for (float v : envelope)
        QVERIFY(std::isnan(v));
    const Block zeros(100, 0.0f);
    PdTvCosRec fresh;
    Block out(100, 1.0f);
    QCOMPARE(fresh.currentAmplitude(zeros.data(), out.data(), 100), 0);
    QVERIFY(out == zeros);
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

    QTest::newRow("50 Hz at 100 kHz, blocks of 10000") << 1e5 << 50.0 << 1000.0 << 0.0 << 0.0 << 0.0 << 25.0
                                                       << 0.0 << 0.0 << QVector<int>(6, 10000);
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
    analyser.setParameter(PdTvContinuousAC::SampleRate, rate);
    analyser.setParameter(PdTvContinuousAC::AmplitudeOffset, offset);
    analyser.setParameter(PdTvContinuousAC::DetectionThreshold, threshold);
    analyser.setParameter(PdTvContinuousAC::PhaseOffset, phaseOffset);
    analyser.setParameter(PdTvContinuousAC::TimeOffset, timeOffset);

    Block y(x.size());
    int done = 0;
    double lastCrossing = kNaN;
    for (int b : blocks) {
        QCOMPARE(analyser.process(x.data() + done, y.data() + done, b), 0);
        QCOMPARE(result(analyser, PdTvContinuousAC::Delay), 25.0 / rate);
        int code = -1;
        const double crossing = result(analyser, PdTvContinuousAC::FirstZeroCrossing, &code);
        if (code == 0) {
            // The crossing of the smoothed voltage, which lags by the delay.
            const double t = (done / rate) + crossing - 25.0 / rate;
            QVERIFY2(std::fabs(std::remainder(2 * kPi * frequency * t + phase, 2 * kPi)) < 0.01 + noise,
                     qPrintable(QString::number(crossing)));
            lastCrossing = crossing;
        }
        done += b;
    }
    QVERIFY(!std::isnan(lastCrossing));

    int code = -1;
    const double f = result(analyser, PdTvContinuousAC::Frequency, &code);
    QCOMPARE(code, 0);
    QVERIFY2(within(f, frequency, 0.001), qPrintable(describe(f, frequency)));
    const double a = result(analyser, PdTvContinuousAC::Amplitude, &code);
    QCOMPARE(code, 0);
    QVERIFY2(within(a, amplitude, 0.005 + noise), qPrintable(describe(a, amplitude)));

    // The block became the phase of the voltage: 0 at each rising zero crossing
    // of the smoothed (delayed) voltage, plus the offsets.
    const int settled = static_cast<int>(3 * rate / frequency);
    int checked = 0;
    for (int i = settled; i < total; i += 37) {
        const double expected = 2 * kPi * frequency * (i - 25.0) / rate + phase + phaseOffset
                                + 2 * kPi * frequency * timeOffset;
        const double deviation = wrappedDifference(y[i], expected);
        QVERIFY2(std::fabs(deviation) < 0.01 + noise,
                 qPrintable(QStringLiteral("sample %1: %2").arg(i).arg(describe(y[i], expected))));
        ++checked;
    }
    QVERIFY(checked > 10);

    // The stream does not depend on where the blocks end.
    PdTvContinuousAC whole;
    whole.setParameter(PdTvContinuousAC::SampleRate, rate);
    whole.setParameter(PdTvContinuousAC::AmplitudeOffset, offset);
    whole.setParameter(PdTvContinuousAC::DetectionThreshold, threshold);
    whole.setParameter(PdTvContinuousAC::PhaseOffset, phaseOffset);
    whole.setParameter(PdTvContinuousAC::TimeOffset, timeOffset);
    Block z = x;
    QCOMPARE(whole.process(z.data(), z.data(), total), 0);
    for (int i = 0; i < total; ++i)
        if (!(std::isnan(z[i]) && std::isnan(y[i])))
            QVERIFY2(z[i] == y[i], qPrintable(QString::number(i)));
    QCOMPARE(result(whole, PdTvContinuousAC::Frequency), f);
}

void tst_TestVoltage::continuousCopyModeAndArguments()
{
    const Block x = dampedSine(1e4, 5000, 50, 0, 1, 0, 0, 0);
    PdTvContinuousAC analyser;
    analyser.setParameter(PdTvContinuousAC::SampleRate, 1e4);
    QCOMPARE(analyser.setMode(1), 0);
    Block y(x.size());
    QCOMPARE(analyser.process(x.data(), y.data(), 5000), 0);
    QVERIFY(y == x);
    int code = -1;
    QCOMPARE(result(analyser, PdTvContinuousAC::Delay, &code), 25.0 / 1e4);
    QCOMPARE(code, 0);
    for (int id : {1, 2, 3, 4, 5, 7}) {
        QVERIFY(std::isnan(result(analyser, id, &code)));
        QCOMPARE(code, 1);
    }
    QCOMPARE(analyser.process(nullptr, y.data(), 5000), 2);
    QCOMPARE(analyser.process(x.data(), nullptr, 5000), 2);
    QCOMPARE(analyser.process(x.data(), y.data(), 0), 2);

    // Before the second crossing there is no period, so no phase: NaN.
    PdTvContinuousAC fresh;
    fresh.setParameter(PdTvContinuousAC::SampleRate, 1e4);
    QCOMPARE(fresh.process(x.data(), y.data(), 100), 0);
    QVERIFY(std::isnan(y[99]));
    QVERIFY(std::isnan(result(fresh, PdTvContinuousAC::Frequency)));
}

void tst_TestVoltage::continuousEnvelope()
{
    const double rate = 1e4;
    const Block x = dampedSine(rate, 2000, 50, 0, 2.0, 0.0, 0.0, 0.0);
    PdTvContinuousAC analyser;
    analyser.setParameter(PdTvContinuousAC::SampleRate, rate);
    analyser.setParameter(PdTvContinuousAC::DetectionThreshold, 0.05);
    // process() has seen the whole stream; the envelope keeps a tracker of its
    // own and starts from nothing.
    Block y(x.size());
    QCOMPARE(analyser.process(x.data(), y.data(), 2000), 0);
    QVERIFY(within(result(analyser, PdTvContinuousAC::Amplitude), 2.0, 0.01));

    Block envelope(x.size(), -1.0f);
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), 1000), 0);
    QCOMPARE(analyser.currentAmplitude(x.data() + 1000, envelope.data() + 1000, 1000), 0);
    // Zero until two periods have ended, each at an armed rising crossing (the
    // first once the voltage went below -threshold): samples 201 and 401.
    for (int i = 0; i < 400; ++i)
        QCOMPARE(envelope[i], 0.0f);
    for (int i = 401; i < 2000; ++i)
        QVERIFY2(std::fabs(envelope[i] - 2.0f) < 0.01f, qPrintable(QString::number(i)));

    QCOMPARE(analyser.currentAmplitude(nullptr, envelope.data(), 10), 2);
    QCOMPARE(analyser.currentAmplitude(x.data(), envelope.data(), -1), 2);
}

void tst_TestVoltage::continuousReset()
{
    const Block x = dampedSine(1e4, 3000, 50, 0, 1, 0, 0, 0);
    PdTvContinuousAC analyser;
    analyser.setParameter(PdTvContinuousAC::SampleRate, 1e4);
    analyser.setParameter(PdTvContinuousAC::DetectionThreshold, 0.025);
    Block first(x.size());
    QCOMPARE(analyser.process(x.data(), first.data(), 3000), 0);
    QVERIFY(within(result(analyser, PdTvContinuousAC::Frequency), 50.0, 0.01));
    QCOMPARE(analyser.reset(), 0);
    QVERIFY(std::isnan(result(analyser, PdTvContinuousAC::Frequency)));
    double threshold = 0;
    analyser.getParameter(PdTvContinuousAC::DetectionThreshold, &threshold);
    QCOMPARE(threshold, 0.025);
    Block second(x.size());
    QCOMPARE(analyser.process(x.data(), second.data(), 3000), 0);
    for (int i = 0; i < 3000; ++i)
        QVERIFY((std::isnan(first[i]) && std::isnan(second[i])) || first[i] == second[i]);
}

QTEST_APPLESS_MAIN(tst_TestVoltage)
#include "tst_testvoltage.moc"
