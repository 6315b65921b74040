#include "FftPlanCache.h"
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

std::vector<float> randomBlock(int n, unsigned seed, float offset = 0.0f)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float &v : x)
        v = normal(generator) + offset;
    return x;
}

// The definition, summed in double: the yardstick for the FFT path.
std::vector<double> directAutoCorrelation(const std::vector<float> &x, int lags)
{
    double mean = 0.0;
    for (float v : x)
        mean += v;
    mean /= static_cast<double>(x.size());
    const int n = static_cast<int>(x.size());
    std::vector<double> r(static_cast<std::size_t>(lags), 0.0);
    for (int k = 0; k < lags && k < n; ++k)
        for (int i = 0; i + k < n; ++i)
            r[k] += (x[i] - mean) * (x[i + k] - mean);
    return r;
}

} // namespace

class tst_SignalPrimitives : public QObject
{
    Q_OBJECT

private slots:
    void statusCodes_data();
    void statusCodes();
    void elementwise_data();
    void elementwise();
    void extremes_data();
    void extremes();
    void meanKeepsPrecision();
    void medianAbs_data();
    void medianAbs();
    void autoCorrelationReference_data();
    void autoCorrelationReference();
    void autoCorrelationAgainstDefinition_data();
    void autoCorrelationAgainstDefinition();
    void autoCorrelationOfConstantBlock();
    void bits_data();
    void bits();
    void deinterleave();
    void convert16_data();
    void convert16();
    void fastSize();
    void planCacheStaysBounded();
    void planOfAtLeast_data();
    void planOfAtLeast();
};

void tst_SignalPrimitives::statusCodes_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("expected");

    static float a[4] = {1, 2, 3, 4};
    static float b[4];
    static std::int16_t s16[4];
    static std::uint16_t u16[4];
    static std::uint32_t u32[4];
    static std::uint8_t bytes[8];
    static float value;
    static int index;

    QTest::newRow("abs null src") << Call([] { return dsp::abs(nullptr, b, 4); }) << 2;
    QTest::newRow("abs null dst") << Call([] { return dsp::abs(a, nullptr, 4); }) << 2;
    QTest::newRow("abs length 0") << Call([] { return dsp::abs(a, b, 0); }) << 2;
    QTest::newRow("abs length -1") << Call([] { return dsp::abs(a, b, -1); }) << 2;
    QTest::newRow("abs length 1") << Call([] { return dsp::abs(a, b, 1); }) << 0;
    QTest::newRow("multiply NaN") << Call([] { return dsp::multiplyConstant(a, kNaN, b, 4); }) << 2;
    QTest::newRow("multiply infinity") << Call([] { return dsp::multiplyConstant(a, -kInf, b, 4); }) << 2;
    QTest::newRow("multiply in place") << Call([] { return dsp::multiplyConstant(b, 2.0f, b, 4); }) << 0;
    QTest::newRow("subtract NaN") << Call([] { return dsp::subtractConstant(a, kNaN, b, 4); }) << 2;
    QTest::newRow("subtract infinity") << Call([] { return dsp::subtractConstant(a, kInf, b, 4); }) << 2;
    QTest::newRow("convert exponent 150") << Call([] { return dsp::convert16(s16, b, 4, 150); }) << 2;
    QTest::newRow("convert exponent -127") << Call([] { return dsp::convert16(s16, b, 4, -127); }) << 2;
    QTest::newRow("convert exponent 15") << Call([] { return dsp::convert16(s16, b, 4, 15); }) << 0;
    QTest::newRow("copy null") << Call([] { return dsp::copy(nullptr, b, 4); }) << 2;
    QTest::newRow("maximum null result") << Call([] { return dsp::maximum(a, 4, nullptr); }) << 2;
    QTest::newRow("minimum length 0") << Call([] { return dsp::minimum(a, 0, &value); }) << 2;
    QTest::newRow("maximum index null index") << Call([] { return dsp::maximumIndex(a, 4, &value, nullptr); }) << 2;
    QTest::newRow("min max index null") << Call([] { return dsp::minMaxIndex(a, 4, &value, &index, &value, nullptr); })
                                        << 2;
    QTest::newRow("peak null") << Call([] { return dsp::peak(nullptr, 4, &value); }) << 2;
    QTest::newRow("mean length 0") << Call([] { return dsp::mean(a, 0, &value); }) << 2;
    QTest::newRow("median null") << Call([] { return dsp::medianAbs(nullptr, 4, &value); }) << 2;
    QTest::newRow("autocorrelation mode 4") << Call([] { return dsp::autoCorrelation(a, 4, b, 4, 4); }) << 2;
    QTest::newRow("autocorrelation mode -1") << Call([] { return dsp::autoCorrelation(a, 4, b, 4, -1); }) << 2;
    QTest::newRow("autocorrelation no lags") << Call([] { return dsp::autoCorrelation(a, 4, b, 0, 0); }) << 2;
    QTest::newRow("autocorrelation mode 3") << Call([] { return dsp::autoCorrelation(a, 4, b, 4, 3); }) << 0;
    QTest::newRow("bit 16 of 16") << Call([] { return dsp::extractBits16(u16, bytes, 4, 16); }) << 2;
    QTest::newRow("bit -1 of 16") << Call([] { return dsp::extractBits16(u16, bytes, 4, -1); }) << 2;
    QTest::newRow("bit 15 of 16") << Call([] { return dsp::extractBits16(u16, bytes, 4, 15); }) << 0;
    QTest::newRow("bit 32 of 32") << Call([] { return dsp::extractBits32(u32, bytes, 4, 32); }) << 2;
    QTest::newRow("bit 31 of 32") << Call([] { return dsp::extractBits32(u32, bytes, 4, 31); }) << 0;
    QTest::newRow("deinterleave null b") << Call([] { return dsp::deinterleaveBytes(bytes, bytes, nullptr, 4); }) << 2;
}

void tst_SignalPrimitives::statusCodes()
{
    QFETCH(Call, call);
    QFETCH(int, expected);
    QCOMPARE(call(), expected);
}

void tst_SignalPrimitives::elementwise_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<float>("constant");
    QTest::addColumn<bool>("inPlace");

    // 19 samples: two full vector lanes and a tail.
    for (bool inPlace : {false, true}) {
        const char *where = inPlace ? "in place" : "separate";
        QTest::addRow("abs %s", where) << 0 << 0.0f << inPlace;
        QTest::addRow("multiply %s", where) << 1 << -2.5f << inPlace;
        QTest::addRow("subtract %s", where) << 2 << 0.75f << inPlace;
        QTest::addRow("copy %s", where) << 3 << 0.0f << inPlace;
    }
}

void tst_SignalPrimitives::elementwise()
{
    QFETCH(int, operation);
    QFETCH(float, constant);
    QFETCH(bool, inPlace);

    const std::vector<float> x = randomBlock(19, 7);
    std::vector<float> out(x.size(), kNaN);
    std::vector<float> expected(x.size());
    float *dst = out.data();
    if (inPlace) {
        out = x;
        dst = out.data();
    }
    const float *src = inPlace ? dst : x.data();
    int status = -1;
    for (std::size_t i = 0; i < x.size(); ++i) {
        switch (operation) {
        case 0: expected[i] = std::fabs(x[i]); break;
        case 1: expected[i] = x[i] * constant; break;
        case 2: expected[i] = x[i] - constant; break;
        default: expected[i] = x[i]; break;
        }
    }
    switch (operation) {
    case 0: status = dsp::abs(src, dst, 19); break;
    case 1: status = dsp::multiplyConstant(src, constant, dst, 19); break;
    case 2: status = dsp::subtractConstant(src, constant, dst, 19); break;
    default: status = dsp::copy(src, dst, 19); break;
    }
    QCOMPARE(status, 0);
    for (std::size_t i = 0; i < x.size(); ++i)
        QCOMPARE(out[i], expected[i]);
}

void tst_SignalPrimitives::extremes_data()
{
    QTest::addColumn<QVector<float>>("x");
    QTest::addColumn<float>("min");
    QTest::addColumn<int>("minIndex");
    QTest::addColumn<float>("max");
    QTest::addColumn<int>("maxIndex");
    QTest::addColumn<float>("peak");

    QTest::newRow("single") << QVector<float>{-3} << -3.0f << 0 << -3.0f << 0 << 3.0f;
    QTest::newRow("maximum in the tail") << QVector<float>{0, 1, 2, 3, 4, 5, 6, 7, 1, 2, 9}
                                         << 0.0f << 0 << 9.0f << 10 << 9.0f;
    QTest::newRow("ties give the first index") << QVector<float>{2, -1, 5, 5, -1, 0, 5, 0, 0, -1}
                                               << -1.0f << 1 << 5.0f << 2 << 5.0f;
    QTest::newRow("negative peak is larger") << QVector<float>{1, 2, -7, 3, 0, 0, 0, 0, 0, 6}
                                             << -7.0f << 2 << 6.0f << 9 << 7.0f;
    QTest::newRow("NaN samples ignored") << QVector<float>{kNaN, 1, kNaN, -2, 0, 0, 0, 0, kNaN, 4, kNaN}
                                         << -2.0f << 3 << 4.0f << 9 << 4.0f;
    QTest::newRow("all NaN") << QVector<float>{kNaN, kNaN, kNaN} << kNaN << 0 << kNaN << 0 << kNaN;
    QTest::newRow("infinities") << QVector<float>{-kInf, 0, kInf} << -kInf << 0 << kInf << 2 << kInf;
    QTest::newRow("all minus infinity") << QVector<float>{-kInf, -kInf} << -kInf << 0 << -kInf << 0 << kInf;
}

void tst_SignalPrimitives::extremes()
{
    QFETCH(QVector<float>, x);
    QFETCH(float, min);
    QFETCH(int, minIndex);
    QFETCH(float, max);
    QFETCH(int, maxIndex);
    QFETCH(float, peak);

    const auto same = [](float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
    float value = 0;
    int index = -1;
    QCOMPARE(dsp::maximum(x.constData(), x.size(), &value), 0);
    QVERIFY2(same(value, max), qPrintable(QString::number(value)));
    QCOMPARE(dsp::minimum(x.constData(), x.size(), &value), 0);
    QVERIFY2(same(value, min), qPrintable(QString::number(value)));
    QCOMPARE(dsp::maximumIndex(x.constData(), x.size(), &value, &index), 0);
    QVERIFY(same(value, max));
    QCOMPARE(index, maxIndex);
    float low = 0;
    float high = 0;
    int lowIndex = -1;
    int highIndex = -1;
    QCOMPARE(dsp::minMaxIndex(x.constData(), x.size(), &low, &lowIndex, &high, &highIndex), 0);
    QVERIFY(same(low, min));
    QVERIFY(same(high, max));
    QCOMPARE(lowIndex, minIndex);
    QCOMPARE(highIndex, maxIndex);
    QCOMPARE(dsp::peak(x.constData(), x.size(), &value), 0);
    QVERIFY2(same(value, peak), qPrintable(QString::number(value)));
}

void tst_SignalPrimitives::meanKeepsPrecision()
{
    // An offset far above the signal, over a long block: a float sum stalls
    // once it passes 2^24 times the step and returns a mean that is visibly off.
    const int n = 3000001;
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[i] = 10000.0f + ((i % 2) ? 0.5f : -0.5f);
    float mean = 0;
    QCOMPARE(dsp::mean(x.data(), n, &mean), 0);
    QCOMPARE(mean, 10000.0f - 0.5f / n);
}

void tst_SignalPrimitives::medianAbs_data()
{
    QTest::addColumn<QVector<float>>("x");

    QTest::newRow("even count 1 2 3 4") << QVector<float>{1, 2, 3, 4};
    QTest::newRow("even count with signs") << QVector<float>{-4, 1, -3, 2};
    QTest::newRow("odd count") << QVector<float>{5, -1, 3};
    QTest::newRow("single") << QVector<float>{-0.25f};
    QTest::newRow("two") << QVector<float>{-1, 3};
    QTest::newRow("all equal") << QVector<float>{2, -2, 2, 2};
    QTest::newRow("middle pair equal") << QVector<float>{1, 2, 2, 3};
    QTest::newRow("zeros below the middle") << QVector<float>{0, -0.0f, 0, 1};
    // Values that share their top bits, so the selection has to go down to
    // the last level.
    QTest::newRow("neighbouring floats") << QVector<float>{1.0f, std::nextafter(1.0f, 2.0f),
                                                           std::nextafter(std::nextafter(1.0f, 2.0f), 2.0f),
                                                           std::nextafter(1.0f, 0.0f)};
    QTest::newRow("denormals") << QVector<float>{1e-45f, 3e-45f, 2e-45f, 1e-40f};
    QTest::newRow("infinity is the largest") << QVector<float>{kInf, 1, 2};
    for (int n : {1000, 1001, 4096}) {
        const std::vector<float> x = randomBlock(n, static_cast<unsigned>(n));
        QTest::addRow("random %d", n) << QVector<float>(x.begin(), x.end());
    }
    QVector<float> spikes(999, 0.001f);
    spikes[3] = 1e30f;
    spikes[500] = -1e30f;
    QTest::newRow("noise with spikes") << spikes;
}

void tst_SignalPrimitives::medianAbs()
{
    QFETCH(QVector<float>, x);

    std::vector<float> sorted;
    for (float v : x)
        sorted.push_back(std::fabs(v));
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const float expected = n % 2 ? sorted[n / 2]
                                 : static_cast<float>((static_cast<double>(sorted[n / 2 - 1]) + sorted[n / 2]) / 2.0);
    const QVector<float> before = x;
    float median = kNaN;
    QCOMPARE(dsp::medianAbs(x.constData(), x.size(), &median), 0);
    QCOMPARE(median, expected);
    QCOMPARE(x, before);
}

void tst_SignalPrimitives::autoCorrelationReference_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("lags");

    for (int mode = 0; mode <= 3; ++mode) {
        // Few lags take the direct sum, many the FFT.
        QTest::addRow("mode %d, 8 lags", mode) << mode << 8;
        QTest::addRow("mode %d, all lags and beyond", mode) << mode << -1;
    }
}

void tst_SignalPrimitives::autoCorrelationReference()
{
    QFETCH(int, mode);
    QFETCH(int, lags);

    QString error;
    const QVector<float> x = ReferenceData::floats(QStringLiteral("autocorr_input.txt"), &error);
    QVector<double> expected = ReferenceData::numbers(QStringLiteral("autocorr_mode%1.txt").arg(mode), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    if (lags > 0)
        expected.resize(lags);
    const int m = expected.size();

    std::vector<float> r(static_cast<std::size_t>(m), kNaN);
    QCOMPARE(dsp::autoCorrelation(x.constData(), x.size(), r.data(), m, mode), 0);
    const QVector<double> unnormalised = ReferenceData::numbers(QStringLiteral("autocorr_mode0.txt"));
    for (int k = 0; k < m; ++k) {
        // The FFT's error is of the order of 1e-6 of R[0], before normalisation.
        double scale = unnormalised[0];
        if (mode == 1)
            scale /= x.size();
        else if (mode == 2)
            scale /= k < x.size() ? x.size() - k : 1;
        else if (mode == 3)
            scale = 1.0;
        const double tolerance = 1e-5 * scale;
        QVERIFY2(std::fabs(r[k] - expected[k]) <= tolerance,
                 qPrintable(QStringLiteral("lag %1: %2, expected %3").arg(k).arg(r[k]).arg(expected[k])));
    }
}

void tst_SignalPrimitives::autoCorrelationAgainstDefinition_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("lags");
    QTest::addColumn<bool>("periodic");

    QTest::newRow("one sample") << 1 << 3 << false;
    QTest::newRow("three samples") << 3 << 3 << false;
    QTest::newRow("odd length, half the lags") << 4097 << 2048 << false;
    QTest::newRow("all lags") << 3000 << 3000 << false;
    // A block that repeats exactly shows any wrap-around of a too short FFT.
    QTest::newRow("periodic block, all lags") << 2000 << 2000 << true;
    QTest::newRow("periodic block, 1.5x lags") << 1536 << 1024 << true;
    QTest::newRow("prime length") << 7919 << 4000 << false;
}

void tst_SignalPrimitives::autoCorrelationAgainstDefinition()
{
    QFETCH(int, n);
    QFETCH(int, lags);
    QFETCH(bool, periodic);

    std::vector<float> x = randomBlock(n, static_cast<unsigned>(n), 3.0f);
    if (periodic)
        for (int i = 0; i < n; ++i)
            x[i] = static_cast<float>(std::sin(2.0 * M_PI * i / 100.0) + 0.3 * std::cos(2.0 * M_PI * i / 25.0));
    const std::vector<double> expected = directAutoCorrelation(x, lags);
    std::vector<float> r(static_cast<std::size_t>(lags), kNaN);
    QCOMPARE(dsp::autoCorrelation(x.data(), n, r.data(), lags, dsp::AutoCorrNone), 0);
    const QString error = ReferenceData::mismatch(r.data(), lags, QVector<double>(expected.begin(), expected.end()),
                                                  2e-5 * std::max(1.0, expected[0]));
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void tst_SignalPrimitives::autoCorrelationOfConstantBlock()
{
    // R[0] = 0 after the mean is removed: mode 3 must not divide by it.
    const std::vector<float> x(5000, 4.5f);
    std::vector<float> r(100, kNaN);
    QCOMPARE(dsp::autoCorrelation(x.data(), 5000, r.data(), 100, dsp::AutoCorrNormalised), 0);
    for (float v : r)
        QVERIFY2(std::isfinite(v) && std::fabs(v) < 1e-3f, qPrintable(QString::number(v)));
}

void tst_SignalPrimitives::bits_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("bit");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("16-bit bit 0") << 16 << 0 << QByteArray::fromHex("0100010001000000");
    QTest::newRow("16-bit bit 7") << 16 << 7 << QByteArray::fromHex("0000010101000000");
    QTest::newRow("16-bit bit 15") << 16 << 15 << QByteArray::fromHex("0001010000000000");
    QTest::newRow("32-bit bit 0") << 32 << 0 << QByteArray::fromHex("0100010001000000");
    QTest::newRow("32-bit bit 16") << 32 << 16 << QByteArray::fromHex("0000000000010000");
    QTest::newRow("32-bit bit 31") << 32 << 31 << QByteArray::fromHex("0000000000000100");
}

void tst_SignalPrimitives::bits()
{
    QFETCH(int, width);
    QFETCH(int, bit);
    QFETCH(QByteArray, expected);

    std::uint8_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    if (width == 16) {
        const std::uint16_t words[8] = {0x0001, 0x8000, 0xffff, 0x0080, 0x7fff, 0x0100, 0x4000, 0x0000};
        QCOMPARE(dsp::extractBits16(words, out, 8, bit), 0);
    } else {
        const std::uint32_t words[8] = {0x0001u, 0x8000u, 0xffffu, 0x0080u, 0x7fffu, 0x00010000u, 0x80000000u, 0u};
        QCOMPARE(dsp::extractBits32(words, out, 8, bit), 0);
    }
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 8), expected);
}

void tst_SignalPrimitives::deinterleave()
{
    const std::uint8_t src[7] = {1, 2, 3, 4, 5, 6, 7};
    std::uint8_t a[4] = {0, 0, 0, 9};
    std::uint8_t b[4] = {0, 0, 0, 9};
    QCOMPARE(dsp::deinterleaveBytes(src, a, b, 3), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(a), 4), QByteArray::fromHex("01030509"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(b), 4), QByteArray::fromHex("02040609"));
}

void tst_SignalPrimitives::convert16_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<QVector<float>>("expected");

    QTest::newRow("scale 15") << 15 << QVector<float>{32767.0f / 32768.0f, -1.0f, 0.0f, 1.0f / 32768.0f};
    QTest::newRow("scale 0") << 0 << QVector<float>{32767.0f, -32768.0f, 0.0f, 1.0f};
    QTest::newRow("scale -2") << -2 << QVector<float>{131068.0f, -131072.0f, 0.0f, 4.0f};
}

void tst_SignalPrimitives::convert16()
{
    QFETCH(int, scale);
    QFETCH(QVector<float>, expected);

    const std::int16_t src[4] = {0x7fff, static_cast<std::int16_t>(-0x8000), 0, 1};
    float out[4];
    QCOMPARE(dsp::convert16(src, out, 4, scale), 0);
    QCOMPARE(QVector<float>(out, out + 4), expected);
}

void tst_SignalPrimitives::fastSize()
{
    const auto smooth = [](int v) {
        for (int p : {2, 3, 5, 7})
            while (v % p == 0)
                v /= p;
        return v == 1;
    };
    for (int n = 1; n <= 3000; ++n) {
        const int size = FftPlanCache::fastSize(n);
        QVERIFY2(size >= n && smooth(size), qPrintable(QString::number(n)));
        for (int smaller = n; smaller < size; ++smaller)
            QVERIFY2(!smooth(smaller), qPrintable(QStringLiteral("%1 -> %2").arg(n).arg(size)));
    }
    QCOMPARE(FftPlanCache::fastSize(1 << 20), 1 << 20);
    QCOMPARE(FftPlanCache::fastSize(INT_MAX), 0);
}

void tst_SignalPrimitives::planCacheStaysBounded()
{
    FftPlanCache &cache = FftPlanCache::instance();
    for (int size = 64; size < 64 + 3 * FftPlanCache::kSlots; ++size)
        QVERIFY(cache.acquire(size).isValid());
    QCOMPARE(cache.cachedPlans(), int(FftPlanCache::kSlots));

    // More leases held at once than there are slots: the extra ones get plans
    // of their own, and the same size leased twice shares its slot.
    std::vector<FftPlanCache::Lease> held;
    for (int size = 1000; size < 1000 + FftPlanCache::kSlots + 3; ++size)
        held.push_back(cache.acquire(size));
    held.push_back(cache.acquire(1000));
    for (const FftPlanCache::Lease &lease : held)
        QVERIFY(lease.isValid());
    QCOMPARE(cache.cachedPlans(), int(FftPlanCache::kSlots));
    held.clear();

    // A plan still does its job after others came and went.
    const std::vector<float> x = randomBlock(1000, 3);
    std::vector<float> r(600);
    QCOMPARE(dsp::autoCorrelation(x.data(), 1000, r.data(), 600, dsp::AutoCorrNone), 0);
    const std::vector<double> expected = directAutoCorrelation(x, 600);
    QVERIFY(ReferenceData::mismatch(r.data(), 600, QVector<double>(expected.begin(), expected.end()),
                                    2e-5 * expected[0])
                .isEmpty());
}

void tst_SignalPrimitives::planOfAtLeast_data()
{
    QTest::addColumn<int>("minimum");

    QTest::newRow("below the trial threshold") << 1001;
    QTest::newRow("just a power of two") << 65536;
    QTest::newRow("one above a power of two") << 65537;
    QTest::newRow("the analyser's 200000 samples") << 299850;
}

void tst_SignalPrimitives::planOfAtLeast()
{
    QFETCH(int, minimum);

    FftPlanCache &cache = FftPlanCache::instance();
    const FftPlanCache::Lease lease = cache.acquireAtLeast(minimum);
    QVERIFY(lease.isValid());
    const int size = lease.size();
    QVERIFY2(size >= minimum && size == FftPlanCache::fastSize(size), qPrintable(QString::number(size)));
    if (minimum < FftPlanCache::kTrialThreshold)
        QCOMPARE(size, FftPlanCache::fastSize(minimum));
    else
        QVERIFY(size <= FftPlanCache::kTrialSpan * minimum);
    // Chosen once: the next request for the same minimum gets the same size.
    QCOMPARE(cache.acquireAtLeast(minimum).size(), size);
}

QTEST_APPLESS_MAIN(tst_SignalPrimitives)
#include "tst_signalprimitives.moc"
