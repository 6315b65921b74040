#include "ReferenceData.h"
#include "SignalPrimitives.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

using Call = std::function<int()>;
Q_DECLARE_METATYPE(Call)

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Extremes
{
    QVector<float> x;
    float min;
    int minIndex;
    float max;
    int maxIndex;
    float peak;
};

std::vector<float> randomBlock(int n, unsigned seed, float offset = 0.0f)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(offset, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float &v : x)
        v = normal(generator);
    return x;
}

QVector<double> directAutoCorrelation(const std::vector<float> &x, int lags)
{
    double mean = 0.0;
    for (float v : x)
        mean += v;
    mean /= static_cast<double>(x.size());
    const int n = static_cast<int>(x.size());
    QVector<double> r(lags, 0.0);
    for (int k = 0; k < lags && k < n; ++k)
        for (int i = 0; i + k < n; ++i)
            r[k] += (x[i] - mean) * (x[i + k] - mean);
    return r;
}

bool same(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

} // namespace

Q_DECLARE_METATYPE(Extremes)

class tst_SignalPrimitives : public QObject
{
    Q_OBJECT

private slots:
    void statusCodes_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("expected");

        static float a[4] = {1, 2, 3, 4};
        static float b[4];
        static float value;
        static std::int16_t s16[4];
        static std::uint16_t u16[4];
        static std::uint32_t u32[4];
        static std::uint8_t bytes[8];
        QTest::newRow("null source") << Call([] { return dsp::abs(nullptr, b, 4); }) << 2;
        QTest::newRow("length 0") << Call([] { return dsp::mean(a, 0, &value); }) << 2;
        QTest::newRow("multiply by NaN") << Call([] { return dsp::multiplyConstant(a, kNaN, b, 4); }) << 2;
        QTest::newRow("scale exponent 150") << Call([] { return dsp::convert16(s16, b, 4, 150); }) << 2;
        QTest::newRow("autocorrelation mode 4") << Call([] { return dsp::autoCorrelation(a, 4, b, 4, 4); }) << 2;
        QTest::newRow("autocorrelation no lags") << Call([] { return dsp::autoCorrelation(a, 4, b, 0, 0); }) << 2;
        QTest::newRow("bit 16 of 16") << Call([] { return dsp::extractBits16(u16, bytes, 4, 16); }) << 2;
        QTest::newRow("bit 15 of 16") << Call([] { return dsp::extractBits16(u16, bytes, 4, 15); }) << 0;
        QTest::newRow("bit 32 of 32") << Call([] { return dsp::extractBits32(u32, bytes, 4, 32); }) << 2;
        QTest::newRow("bit 31 of 32") << Call([] { return dsp::extractBits32(u32, bytes, 4, 31); }) << 0;
    }
    void statusCodes()
    {
        QFETCH(Call, call);
        QTEST(call(), "expected");
    }

    void extremes_data()
    {
        QTest::addColumn<Extremes>("c");
        QTest::newRow("maximum in the tail") << Extremes{{0, 1, 2, 3, 4, 5, 6, 7, 1, 2, 9}, 0, 0, 9, 10, 9};
        QTest::newRow("ties give the first index") << Extremes{{2, -1, 5, 5, -1, 0, 5, 0, 0, -1}, -1, 1, 5, 2, 5};
        QTest::newRow("peak is a magnitude") << Extremes{{1, 2, -7, 3, 0, 0, 0, 0, 0, 6}, -7, 2, 6, 9, 7};
        QTest::newRow("NaN ignored") << Extremes{{kNaN, 1, kNaN, -2, 0, 0, 0, 0, kNaN, 4, kNaN}, -2, 3, 4, 9, 4};
        QTest::newRow("all NaN") << Extremes{{kNaN, kNaN, kNaN}, kNaN, 0, kNaN, 0, kNaN};
        QTest::newRow("all minus infinity") << Extremes{{-kInf, -kInf}, -kInf, 0, -kInf, 0, kInf};
    }
    void extremes()
    {
        QFETCH(Extremes, c);
        const float *x = c.x.constData();
        float low = 0, high = 0, value = 0;
        int lowIndex = -1, highIndex = -1, index = -1;
        QCOMPARE(dsp::minMaxIndex(x, c.x.size(), &low, &lowIndex, &high, &highIndex), 0);
        QVERIFY(same(low, c.min) && same(high, c.max));
        QCOMPARE(lowIndex, c.minIndex);
        QCOMPARE(highIndex, c.maxIndex);
        QCOMPARE(dsp::maximumIndex(x, c.x.size(), &value, &index), 0);
        QVERIFY(same(value, c.max));
        QCOMPARE(index, c.maxIndex);
        QCOMPARE(dsp::maximum(x, c.x.size(), &value), 0);
        QVERIFY(same(value, c.max));
        QCOMPARE(dsp::minimum(x, c.x.size(), &value), 0);
        QVERIFY(same(value, c.min));
        QCOMPARE(dsp::peak(x, c.x.size(), &value), 0);
        QVERIFY(same(value, c.peak));
    }

    void meanKeepsPrecision()
    {
        const int n = 3000001;
        std::vector<float> x(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            x[i] = 10000.0f + ((i % 2) ? 0.5f : -0.5f);
        float mean = 0;
        QCOMPARE(dsp::mean(x.data(), n, &mean), 0);
        QCOMPARE(mean, 10000.0f);
    }

    void medianAbs_data()
    {
        QTest::addColumn<QVector<float>>("x");
        QTest::newRow("even count 1 2 3 4") << QVector<float>{1, 2, 3, 4};
        QTest::newRow("even count with signs") << QVector<float>{-4, 1, -3, 2};
        QTest::newRow("odd count") << QVector<float>{5, -1, 3};
        QTest::newRow("lower middle in a lower octave") << QVector<float>{0, -0.0f, 0, 1};
        const float one = 1.0f, up = std::nextafter(one, 2.0f);
        QTest::newRow("neighbouring floats") << QVector<float>{one, up, std::nextafter(up, 2.0f), std::nextafter(one, 0.0f)};
        QTest::newRow("infinity and NaN are the largest") << QVector<float>{kInf, 1, 2, kNaN, -3};
        for (int n : {1000, 1001}) {
            const std::vector<float> x = randomBlock(n, static_cast<unsigned>(n));
            QTest::addRow("random %d", n) << QVector<float>(x.begin(), x.end());
        }
    }
    void medianAbs()
    {
        QFETCH(QVector<float>, x);
        std::vector<float> sorted;
        for (float v : x)
            sorted.push_back(std::fabs(v));
        std::sort(sorted.begin(), sorted.end(), [](float a, float b) { return std::isnan(b) ? !std::isnan(a) : a < b; });
        const std::size_t n = sorted.size();
        const float expected = n % 2 ? sorted[n / 2] : static_cast<float>((double(sorted[n / 2 - 1]) + sorted[n / 2]) / 2);
        const QVector<float> before = x;
        float median = kNaN;
        QCOMPARE(dsp::medianAbs(x.constData(), x.size(), &median), 0);
        QCOMPARE(median, expected);
        QCOMPARE(x, before);
    }

    void autoCorrelationReference_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("lags");
        for (int mode = 0; mode <= 3; ++mode) {
            QTest::addRow("mode %d, 8 lags", mode) << mode << 8;
            QTest::addRow("mode %d, all lags and beyond", mode) << mode << -1;
        }
    }
    void autoCorrelationReference()
    {
        QFETCH(int, mode);
        QFETCH(int, lags);
        const QVector<float> x = ReferenceData::floats(QStringLiteral("autocorr_input.txt"));
        QVector<double> expected = ReferenceData::numbers(QStringLiteral("autocorr_mode%1.txt").arg(mode));
        const double r0 = ReferenceData::numbers(QStringLiteral("autocorr_mode0.txt")).value(0);
        if (lags > 0)
            expected.resize(lags);
        std::vector<float> r(static_cast<std::size_t>(expected.size()), kNaN);
        QCOMPARE(dsp::autoCorrelation(x.constData(), x.size(), r.data(), expected.size(), mode), 0);
        for (int k = 0; k < expected.size(); ++k) {
            const double scale[] = {r0, r0 / x.size(), r0 / std::max(1, x.size() - k), 1.0};
            QVERIFY2(std::fabs(r[k] - expected[k]) <= 1e-5 * scale[mode],
                     qPrintable(QStringLiteral("lag %1: %2, expected %3").arg(k).arg(r[k]).arg(expected[k])));
        }
    }

    void autoCorrelationAgainstDefinition_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("lags");
        QTest::addColumn<int>("shape"); // 0 noise with an offset, 1 periodic, 2 constant
        QTest::addColumn<int>("mode");
        QTest::newRow("one sample") << 1 << 3 << 0 << 0;
        QTest::newRow("prime length, half the lags") << 7919 << 3960 << 0 << 0;
        QTest::newRow("periodic, all lags") << 2000 << 2000 << 1 << 0;
        QTest::newRow("constant: R[0] = 0, mode 3 must not divide") << 5000 << 100 << 2 << 3;
    }
    void autoCorrelationAgainstDefinition()
    {
        QFETCH(int, n);
        QFETCH(int, lags);
        QFETCH(int, shape);
        QFETCH(int, mode);
        std::vector<float> x = randomBlock(n, static_cast<unsigned>(n), 3.0f);
        for (int i = 0; i < n && shape != 0; ++i)
            x[i] = shape == 2 ? 4.5f : static_cast<float>(std::sin(2 * M_PI * i / 100) + 0.3 * std::cos(2 * M_PI * i / 25));
        const QVector<double> expected = directAutoCorrelation(x, lags);
        std::vector<float> r(static_cast<std::size_t>(lags), kNaN);
        QCOMPARE(dsp::autoCorrelation(x.data(), n, r.data(), lags, mode), 0);
        VERIFY_NEAR(r.data(), lags, expected, 2e-5 * std::max(1.0, expected[0]));
    }

    void bits_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("bit");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("16-bit, bit 0") << 16 << 0 << QByteArray::fromHex("0100010001000000");
        QTest::newRow("16-bit, bit 15") << 16 << 15 << QByteArray::fromHex("0001010000000000");
        QTest::newRow("32-bit, bit 16") << 32 << 16 << QByteArray::fromHex("0000000000010000");
        QTest::newRow("32-bit, bit 31") << 32 << 31 << QByteArray::fromHex("0000000000000100");
    }
    void bits()
    {
        QFETCH(int, width);
        QFETCH(int, bit);
        std::uint8_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        const std::uint16_t w16[8] = {0x0001, 0x8000, 0xffff, 0x0080, 0x7fff, 0x0100, 0x4000, 0x0000};
        const std::uint32_t w32[8] = {0x1u, 0x8000u, 0xffffu, 0x80u, 0x7fffu, 0x10000u, 0x80000000u, 0u};
        QCOMPARE(width == 16 ? dsp::extractBits16(w16, out, 8, bit) : dsp::extractBits32(w32, out, 8, bit), 0);
        QTEST(QByteArray(reinterpret_cast<const char *>(out), 8), "expected");
    }

    void convert16()
    {
        const std::int16_t src[3] = {0x7fff, static_cast<std::int16_t>(-0x8000), 1};
        float out[3];
        QCOMPARE(dsp::convert16(src, out, 3, 15), 0);
        QCOMPARE(QVector<float>(out, out + 3), QVector<float>({32767.0f / 32768, -1.0f, 1.0f / 32768}));
        QCOMPARE(dsp::convert16(src, out, 3, -2), 0);
        QCOMPARE(QVector<float>(out, out + 3), QVector<float>({131068.0f, -131072.0f, 4.0f}));
    }
};

QTEST_APPLESS_MAIN(tst_SignalPrimitives)
#include "tst_signalprimitives.moc"
