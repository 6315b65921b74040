#include "PdLocFilter.h"
#include "ReferenceData.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using Block = std::vector<float>;

Block gaussian(int n, float sigma, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(0.0f, sigma);
    Block x(static_cast<std::size_t>(n));
    for (float &v : x)
        v = normal(generator);
    return x;
}

// The same magnitudes in another order and with flipped signs: exactly the
// same noise estimate, different samples.
Block shuffledTwin(const Block &x)
{
    Block twin(x.rbegin(), x.rend());
    for (std::size_t i = 0; i < twin.size(); i += 2)
        twin[i] = -twin[i];
    return twin;
}

float median(Block x)
{
    for (float &v : x)
        v = std::fabs(v);
    std::sort(x.begin(), x.end());
    const std::size_t n = x.size();
    return n % 2 ? x[n / 2] : (x[n / 2 - 1] + x[n / 2]) / 2;
}

} // namespace

class tst_PdLocFilter : public QObject
{
    Q_OBJECT

private slots:
    void design_data();
    void design();
    void bandPassAgainstReference_data();
    void bandPassAgainstReference();
    void averaging_data();
    void averaging();
    void averagingRefusals();
    void weightedAverage_data();
    void weightedAverage();
    void blend();
    void noiseOfEvenCount();
};

void tst_PdLocFilter::design_data()
{
    QTest::addColumn<float>("f1");
    QTest::addColumn<float>("f2");
    QTest::addColumn<float>("fs");
    QTest::addColumn<float>("gain");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("cornersValid");

    QTest::newRow("the wrapper's corners") << 5e4f << 2.5e7f << 1.25e8f << 1.0f << 0 << true;
    QTest::newRow("with gain") << 5e4f << 2.5e7f << 1.25e8f << -3.0f << 0 << true;
    QTest::newRow("corners swapped") << 2.5e7f << 5e4f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("equal corners") << 1e6f << 1e6f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("f1 zero") << 0.0f << 2.5e7f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("f1 negative") << -5e4f << 2.5e7f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("f2 at fs") << 5e4f << 1.25e8f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("f2 above Nyquist") << 5e4f << 7e7f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("f2 at Nyquist") << 5e4f << 6.25e7f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("fs infinite") << 5e4f << 2.5e7f << kInf << 1.0f << 2 << false;
    QTest::newRow("NaN corner") << kNaN << 2.5e7f << 1.25e8f << 1.0f << 2 << false;
    QTest::newRow("NaN gain") << 5e4f << 2.5e7f << 1.25e8f << kNaN << 2 << true;
    QTest::newRow("infinite gain") << 5e4f << 2.5e7f << 1.25e8f << kInf << 2 << true;
}

void tst_PdLocFilter::design()
{
    QFETCH(float, f1);
    QFETCH(float, f2);
    QFETCH(float, fs);
    QFETCH(float, gain);
    QFETCH(int, expected);
    QFETCH(bool, cornersValid);

    Block x = gaussian(64, 1.0f, 1);
    Block y(x.size());

    // Made with these corners (and gain 1): a band-pass only if they are valid.
    PdLocFilter made(f1, f2, fs);
    QCOMPARE(made.filter(x.data(), y.data(), 64), cornersValid ? 0 : 3);

    // Designed afresh on a working filter: a refusal leaves it without one.
    PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
    QCOMPARE(filter.filter(x.data(), y.data(), 64), 0);
    QCOMPARE(filter.design(f1, f2, fs, gain), expected);
    QCOMPARE(filter.filter(x.data(), y.data(), 64), expected == 0 ? 0 : 3);
    QCOMPARE(filter.filter(nullptr, y.data(), 64), 2);
}

void tst_PdLocFilter::bandPassAgainstReference_data()
{
    QTest::addColumn<float>("gain");
    QTest::addColumn<bool>("inPlace");

    QTest::newRow("gain 1") << 1.0f << false;
    QTest::newRow("gain 1 in place") << 1.0f << true;
    QTest::newRow("gain 2.5") << 2.5f << false;
}

void tst_PdLocFilter::bandPassAgainstReference()
{
    QFETCH(float, gain);
    QFETCH(bool, inPlace);

    QString error;
    const QVector<float> x = ReferenceData::floats(QStringLiteral("block_input.txt"), &error);
    QVector<double> expected = ReferenceData::numbers(QStringLiteral("bandpass_block.txt"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (double &v : expected)
        v *= gain;

    PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
    QCOMPARE(filter.design(5e4f, 2.5e7f, 1.25e8f, gain), 0);
    Block y(x.begin(), x.end());
    const int half = x.size() / 2;
    // Two blocks: each loses its own offset, the filter state runs on.
    for (int start : {0, half}) {
        const float *src = inPlace ? y.data() + start : x.constData() + start;
        QCOMPARE(filter.filter(src, y.data() + start, half), 0);
    }
    const QString mismatch = ReferenceData::mismatch(y.data(), x.size(), expected,
                                                     1e-5 * ReferenceData::largest(expected));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void tst_PdLocFilter::averaging_data()
{
    QTest::addColumn<float>("secondNoise");
    QTest::addColumn<double>("alpha");

    // alpha = S^2 / (sigma^2 + S^2) with S the average's noise, sigma the block's.
    QTest::newRow("equal noise counts half") << 1.0f << 0.5;
    QTest::newRow("four times the noise") << 4.0f << 1.0 / 17.0;
    QTest::newRow("half the noise") << 0.5f << 0.8;
}

void tst_PdLocFilter::averaging()
{
    QFETCH(float, secondNoise);
    QFETCH(double, alpha);

    const int n = 1000;
    const Block first = gaussian(n, 1.0f, 7);
    Block second = shuffledTwin(first);
    for (float &v : second)
        v *= secondNoise;

    PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
    Block out(n, kNaN);
    QCOMPARE(filter.process(first.data(), out.data(), n), 0);
    QVERIFY(out == first);
    QCOMPARE(filter.averageSize(), n);
    QCOMPARE(filter.averageNoise(), median(first) / 0.6745f);

    QCOMPARE(filter.process(second.data(), out.data(), n), 0);
    for (int i = 0; i < n; ++i) {
        const double expected = first[i] * (1 - alpha) + second[i] * alpha;
        QVERIFY2(std::fabs(out[i] - expected) < 1e-5, qPrintable(QStringLiteral("%1: %2 vs %3").arg(i).arg(out[i]).arg(expected)));
    }
    Block average(n);
    QCOMPARE(filter.average(average.data(), n), 0);
    QVERIFY(average == out);
    QCOMPARE(filter.averageNoise(), median(out) / 0.6745f);

    // A reset forgets it all: the next block is taken as it is.
    QCOMPARE(filter.resetAverage(), 0);
    QCOMPARE(filter.averageSize(), 0);
    QCOMPARE(filter.averageNoise(), 0.0f);
    QCOMPARE(filter.process(second.data(), out.data(), n), 0);
    QVERIFY(out == second);
}

void tst_PdLocFilter::averagingRefusals()
{
    PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
    Block zeros(200, 0.0f);
    Block out(200, 1.0f);
    // 0 / 0: no noise in the block nor in the (missing) average.
    QCOMPARE(filter.process(zeros.data(), out.data(), 200), 2);
    QCOMPARE(filter.averageSize(), 0);
    QCOMPARE(filter.average(out.data(), 200), 3);

    const Block x = gaussian(200, 1.0f, 3);
    QCOMPARE(filter.process(x.data(), out.data(), 200), 0);
    const Block shorter = gaussian(100, 1.0f, 4);
    Block shortOut(100, 7.0f);
    QCOMPARE(filter.process(shorter.data(), shortOut.data(), 100), 2);
    QVERIFY(shortOut == Block(100, 7.0f));
    Block average(200);
    QCOMPARE(filter.average(average.data(), 200), 0);
    QVERIFY(average == x);
    QCOMPARE(filter.average(average.data(), 100), 2);

    QCOMPARE(filter.process(nullptr, out.data(), 200), 2);
    QCOMPARE(filter.process(x.data(), nullptr, 200), 2);
    QCOMPARE(filter.process(x.data(), out.data(), 0), 2);

    // A silent block after a noisy average: alpha 1, the block replaces it.
    QCOMPARE(filter.process(zeros.data(), out.data(), 200), 0);
    QVERIFY(out == zeros);
}

void tst_PdLocFilter::weightedAverage_data()
{
    QTest::addColumn<Block>("x");
    QTest::addColumn<Block>("a");
    QTest::addColumn<int>("expected");
    QTest::addColumn<double>("alpha");

    // median |x| = 2.5 (even count), median |a| = 5: alpha = 25 / (6.25 + 25).
    QTest::newRow("even counts") << Block{1, -2, 3, 4} << Block{5, -5, 10, 0} << 0 << 25.0 / 31.25;
    QTest::newRow("same noise") << Block{1, -2, 3} << Block{-3, 2, 1} << 0 << 0.5;
    QTest::newRow("silent x") << Block{0, 0, 0} << Block{1, 2, 3} << 0 << 1.0;
    QTest::newRow("both silent") << Block{0, 0, 0} << Block{0, 0, 0} << 2 << 0.0;
}

void tst_PdLocFilter::weightedAverage()
{
    QFETCH(Block, x);
    QFETCH(Block, a);
    QFETCH(int, expected);
    QFETCH(double, alpha);

    PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
    const int n = static_cast<int>(x.size());
    Block out(x.size(), kNaN);
    QCOMPARE(filter.weightedAverage(x.data(), a.data(), out.data(), n), expected);
    if (expected != 0)
        return;
    for (int i = 0; i < n; ++i)
        QVERIFY(std::fabs(out[i] - (a[i] * (1 - alpha) + x[i] * alpha)) < 1e-6);
    // No state: the running average is untouched.
    QCOMPARE(filter.averageSize(), 0);
}

void tst_PdLocFilter::blend()
{
    PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
    const Block x{1, 2, 3};
    const Block a{-1, 0, 5};
    Block out(3);
    QCOMPARE(filter.blend(x.data(), a.data(), out.data(), 3, 0.25f), 0);
    QVERIFY(out == Block({-0.5f, 0.5f, 4.5f}));
    QCOMPARE(filter.blend(x.data(), a.data(), out.data(), 3, kNaN), 2);
    QCOMPARE(filter.blend(x.data(), a.data(), out.data(), 3, kInf), 2);
    QCOMPARE(filter.blend(x.data(), nullptr, out.data(), 3, 0.5f), 2);
    QCOMPARE(filter.blend(x.data(), a.data(), out.data(), 0, 0.5f), 2);
}

void tst_PdLocFilter::noiseOfEvenCount()
{
    const float x[4] = {-4, 3, 1, -2};
    float sigma = 0;
    QCOMPARE(PdLocFilter::noise(x, 4, &sigma), 0);
    QCOMPARE(sigma, 2.5f / 0.6745f);
}

QTEST_APPLESS_MAIN(tst_PdLocFilter)
#include "tst_pdlocfilter.moc"
