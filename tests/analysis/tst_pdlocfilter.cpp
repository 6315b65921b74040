#include "PdLocFilter.h"
#include "ReferenceData.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using Block = std::vector<float>;

struct Design
{
    float f1, f2, fs, gain;
    int expected;
};

Block gaussian(int n, float sigma, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(0.0f, sigma);
    Block x(static_cast<std::size_t>(n));
    for (float &v : x)
        v = normal(generator);
    return x;
}

float sigmaOf(Block x)
{
    for (float &v : x)
        v = std::fabs(v);
    std::sort(x.begin(), x.end());
    const std::size_t n = x.size();
    return (n % 2 ? x[n / 2] : (x[n / 2 - 1] + x[n / 2]) / 2) / 0.6745f;
}

} // namespace

Q_DECLARE_METATYPE(Design)

class tst_PdLocFilter : public QObject
{
    Q_OBJECT

private slots:
    void design_data()
    {
        QTest::addColumn<Design>("c"); // corners, sample rate, gain, expected code
        QTest::newRow("the wrapper's corners, gain -3") << Design{5e4f, 2.5e7f, 1.25e8f, -3.0f, 0};
        QTest::newRow("corners swapped") << Design{2.5e7f, 5e4f, 1.25e8f, 1.0f, 2};
        QTest::newRow("equal corners") << Design{1e6f, 1e6f, 1.25e8f, 1.0f, 2};
        QTest::newRow("f1 zero") << Design{0.0f, 2.5e7f, 1.25e8f, 1.0f, 2};
        QTest::newRow("f2 at Nyquist") << Design{5e4f, 6.25e7f, 1.25e8f, 1.0f, 2};
        QTest::newRow("NaN corner") << Design{kNaN, 2.5e7f, 1.25e8f, 1.0f, 2};
    }
    void design()
    {
        QFETCH(Design, c);
        const auto [f1, f2, fs, gain, expected] = c;

        Block x = gaussian(64, 1.0f, 1);
        Block y(x.size());
        PdLocFilter made(f1, f2, fs);
        QCOMPARE(made.filter(x.data(), y.data(), 64), expected == 0 || std::isinf(gain) ? 0 : 3);
        PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
        QCOMPARE(filter.design(f1, f2, fs, gain), expected);
        QCOMPARE(filter.filter(x.data(), y.data(), 64), expected == 0 ? 0 : 3);
        QCOMPARE(filter.filter(nullptr, y.data(), 64), 2);
    }

    void bandPassAgainstReference()
    {
        const QVector<float> x = ReferenceData::floats(QStringLiteral("block_input.txt"));
        const QVector<double> expected = ReferenceData::numbers(QStringLiteral("bandpass_block.txt"));
        for (float gain : {1.0f, 2.5f}) {
            PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
            QCOMPARE(filter.design(5e4f, 2.5e7f, 1.25e8f, gain), 0);
            Block y(x.begin(), x.end());
            const int half = x.size() / 2;
            QCOMPARE(filter.filter(y.data(), y.data(), half), 0);
            QCOMPARE(filter.filter(y.data() + half, y.data() + half, half), 0);
            QVector<double> scaled = expected;
            for (double &v : scaled)
                v *= gain;
            VERIFY_NEAR(y.data(), x.size(), scaled, 1e-5 * ReferenceData::largest(scaled));
        }
    }

    void averaging_data()
    {
        QTest::addColumn<float>("secondNoise");
        QTest::addColumn<double>("alpha");

        QTest::newRow("equal noise counts half") << 1.0f << 0.5;
        QTest::newRow("four times the noise") << 4.0f << 1.0 / 17.0;
        QTest::newRow("half the noise") << 0.5f << 0.8;
    }
    void averaging()
    {
        QFETCH(float, secondNoise);
        QFETCH(double, alpha);

        const int n = 1000;
        const Block first = gaussian(n, 1.0f, 7);
        Block second(first.rbegin(), first.rend());
        for (int i = 0; i < n; ++i)
            second[i] *= (i % 2 ? secondNoise : -secondNoise);

        PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
        Block out(n, kNaN);
        QCOMPARE(filter.process(first.data(), out.data(), n), 0);
        QVERIFY(out == first);
        QCOMPARE(filter.averageNoise(), sigmaOf(first));

        QCOMPARE(filter.process(second.data(), out.data(), n), 0);
        for (int i = 0; i < n; ++i)
            QVERIFY(std::fabs(out[i] - (first[i] * (1 - alpha) + second[i] * alpha)) < 1e-5);
        Block average(n);
        QCOMPARE(filter.average(average.data(), n), 0);
        QVERIFY(average == out);
        QCOMPARE(filter.averageNoise(), sigmaOf(out));

        QCOMPARE(filter.resetAverage(), 0);
        QCOMPARE(filter.averageSize(), 0);
        QCOMPARE(filter.process(second.data(), out.data(), n), 0);
        QVERIFY(out == second);
    }

    void averagingRefusals()
    {
        PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
        const Block zeros(200, 0.0f);
        Block out(200, 1.0f);
        QCOMPARE(filter.process(zeros.data(), out.data(), 200), 2);
        QCOMPARE(filter.averageSize(), 0);
        QCOMPARE(filter.average(out.data(), 200), 3);

        const Block x = gaussian(200, 1.0f, 3);
        QCOMPARE(filter.process(x.data(), out.data(), 200), 0);
        const Block shorter = gaussian(100, 1.0f, 4);
        Block untouched(100, 7.0f);
        QCOMPARE(filter.process(shorter.data(), untouched.data(), 100), 2);
        QVERIFY(untouched == Block(100, 7.0f));
        Block average(200);
        QCOMPARE(filter.average(average.data(), 200), 0);
        QVERIFY(average == x);
        QCOMPARE(filter.process(x.data(), nullptr, 200), 2);

        QCOMPARE(filter.process(zeros.data(), out.data(), 200), 0);
        QVERIFY(out == zeros);
    }

    void weightedAverage_data()
    {
        QTest::addColumn<Block>("x");
        QTest::addColumn<Block>("a");
        QTest::addColumn<int>("expected");
        QTest::addColumn<double>("alpha");

        QTest::newRow("even counts") << Block{1, -2, 3, 4} << Block{5, -5, 10, 0} << 0 << 25.0 / 31.25;
        QTest::newRow("same noise") << Block{1, -2, 3} << Block{-3, 2, 1} << 0 << 0.5;
        QTest::newRow("both silent") << Block{0, 0, 0} << Block{0, 0, 0} << 2 << 0.0;
    }
    void weightedAverage()
    {
        QFETCH(Block, x);
        QFETCH(Block, a);
        QFETCH(int, expected);
        QFETCH(double, alpha);

        PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
        const int n = static_cast<int>(x.size());
        Block out(x.size(), kNaN);
        QCOMPARE(filter.weightedAverage(x.data(), a.data(), out.data(), n), expected);
        for (int i = 0; i < n && expected == 0; ++i)
            QVERIFY(std::fabs(out[i] - (a[i] * (1 - alpha) + x[i] * alpha)) < 1e-6);
        QCOMPARE(filter.averageSize(), 0);
        QCOMPARE(filter.blend(x.data(), a.data(), out.data(), n, kNaN), 2);
        QCOMPARE(filter.blend(x.data(), a.data(), out.data(), n, -kInf), 2);
    }
};

QTEST_APPLESS_MAIN(tst_PdLocFilter)
#include "tst_pdlocfilter.moc"
