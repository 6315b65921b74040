#include "FirFilter.h"
#include "IirFilter.h"
#include "PdTestvoltage.h"
#include "PdTvDAC.h"
#include "ReferenceData.h"
#include "SignalPrimitives.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Reaches the zero-phase smoothing the analysers share.
class Smoother : public PdTestvoltage
{
public:
    int process(const float *, float *, int) override { return 0; }
    int currentAmplitude(const float *, float *, int) override { return 0; }
    void smooth(float *x, int n) { smoothZeroPhase(x, n); }
};

// Configures filter by name: the analysers' two windows and their moving average.
int setUp(FirFilter &filter, const QString &name)
{
    if (name == QLatin1String("smoothing")) {
        float taps[PdTestvoltage::kSmoothingTaps];
        PdTestvoltage::smoothingTaps(taps);
        return filter.setTaps(taps, PdTestvoltage::kSmoothingTaps);
    }
    if (name == QLatin1String("slope")) {
        float taps[PdTvDAC::kSlopeTaps];
        PdTvDAC::slopeTaps(taps);
        return filter.setTaps(taps, PdTvDAC::kSlopeTaps);
    }
    return filter.setMovingAverage(100, 1.0f);
}

// The smoothing definition: the window centred on each sample, both ends held.
std::vector<double> centredSmoothing(const std::vector<float> &x)
{
    float taps[PdTestvoltage::kSmoothingTaps];
    PdTestvoltage::smoothingTaps(taps);
    const int n = static_cast<int>(x.size());
    const int half = PdTestvoltage::kFilterDelay;
    std::vector<double> y(x.size(), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = -half; j <= half; ++j)
            y[i] += taps[j + half] * x[std::min(std::max(i + j, 0), n - 1)];
    return y;
}

// Both taps as float32: scipy's double design rounded the way ours is stored.
bool sameFloat(double actual, double expected, double scale)
{
    const float a = static_cast<float>(actual);
    const float e = static_cast<float>(expected);
    const double ulp = std::nextafter(std::fabs(e), INFINITY) - std::fabs(e);
    return std::fabs(a - e) <= 2 * ulp + 1e-9 * scale;
}

} // namespace

class tst_Filters : public QObject
{
    Q_OBJECT

private slots:
    void analyserWindows();
    void firAgainstReference_data();
    void firAgainstReference();
    void firAcrossSlices();
    void firDelayLine();
    void firRefusals();
    void zeroPhaseSmoothing_data();
    void zeroPhaseSmoothing();
    void butterworth_data();
    void butterworth();
    void butterworthRefusals_data();
    void butterworthRefusals();
    void iirBlockCarriesState();
    void biquadMatchesDirectForm();
    void iirWithoutDesign();
};

void tst_Filters::analyserWindows()
{
    QString error;
    const QVector<double> savgol = ReferenceData::numbers(QStringLiteral("savgol51.txt"), &error);
    const QVector<double> slope = ReferenceData::numbers(QStringLiteral("slope99.txt"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    float smoothing[PdTestvoltage::kSmoothingTaps];
    PdTestvoltage::smoothingTaps(smoothing);
    QVERIFY(ReferenceData::mismatch(smoothing, PdTestvoltage::kSmoothingTaps, savgol, 5e-7 + 1e-8).isEmpty());
    QCOMPARE(smoothing[25], 0.044146f);
    QCOMPARE(smoothing[0], -0.026637f);
    QCOMPARE(smoothing[50], -0.026637f);
    double sum = 0;
    for (float t : smoothing)
        sum += t;
    QVERIFY(std::fabs(sum - 1.0) < 1e-5);

    float slopeTaps[PdTvDAC::kSlopeTaps];
    PdTvDAC::slopeTaps(slopeTaps);
    const QString slopeError = ReferenceData::mismatch(slopeTaps, PdTvDAC::kSlopeTaps, slope, 5e-9 + 1e-10);
    QVERIFY2(slopeError.isEmpty(), qPrintable(slopeError));
}

void tst_Filters::firAgainstReference_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<QVector<int>>("pieces");

    const QVector<int> whole{2000};
    // Pieces shorter than the delay line, one sample, and across the internal slice.
    const QVector<int> ragged{1, 7, 30, 1100, 2, 860};
    const QVector<int> edge{1999, 1};
    for (const char *name : {"smoothing", "slope", "average"}) {
        const QString file = QStringLiteral("fir_%1.txt")
                                 .arg(QLatin1String(name) == QLatin1String("average") ? QStringLiteral("average101")
                                                                                     : QLatin1String(name));
        QTest::addRow("%s, one block", name) << name << file << whole;
        QTest::addRow("%s, ragged pieces", name) << name << file << ragged;
        QTest::addRow("%s, last sample alone", name) << name << file << edge;
    }
}

void tst_Filters::firAgainstReference()
{
    QFETCH(QString, filter);
    QFETCH(QString, reference);
    QFETCH(QVector<int>, pieces);

    QString error;
    const QVector<float> x = ReferenceData::floats(QStringLiteral("block_input.txt"), &error);
    const QVector<double> expected = ReferenceData::numbers(reference, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    FirFilter fir;
    QCOMPARE(setUp(fir, filter), 0);
    std::vector<float> y(static_cast<std::size_t>(x.size()), kNaN);
    int done = 0;
    for (int piece : pieces) {
        QCOMPARE(fir.apply(x.constData() + done, y.data() + done, piece), 0);
        done += piece;
    }
    QCOMPARE(done, x.size());
    const QString mismatch = ReferenceData::mismatch(y.data(), x.size(), expected,
                                                     2e-6 * ReferenceData::largest(expected) + 1e-7);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    // However the stream is cut, every output sums the same products in the
    // same order: in place and in one go give the same bits.
    std::vector<float> inPlace(x.begin(), x.end());
    FirFilter again;
    setUp(again, filter);
    QCOMPARE(again.apply(inPlace.data(), inPlace.data(), x.size()), 0);
    QVERIFY(inPlace == y);
}

void tst_Filters::firAcrossSlices()
{
    // Longer than the filter's internal slice, cut right around its edges.
    const int n = 9000;
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = static_cast<float>(std::sin(i * 0.37) + 0.001 * i);
    FirFilter whole;
    setUp(whole, QStringLiteral("slope"));
    std::vector<float> expected(n);
    QCOMPARE(whole.apply(x.data(), expected.data(), n), 0);

    FirFilter pieces;
    setUp(pieces, QStringLiteral("slope"));
    std::vector<float> y(n);
    int done = 0;
    for (int piece : {2047, 1, 2048, 2049, 50, 2805}) {
        QCOMPARE(pieces.apply(x.data() + done, y.data() + done, piece), 0);
        done += piece;
    }
    QCOMPARE(done, n);
    QVERIFY(y == expected);

    float taps[PdTvDAC::kSlopeTaps];
    PdTvDAC::slopeTaps(taps);
    for (int i : {0, 98, 2047, 2048, 2146, 4096, 8999}) {
        double sum = 0;
        for (int k = 0; k < PdTvDAC::kSlopeTaps && k <= i; ++k)
            sum += static_cast<double>(taps[k]) * x[i - k];
        QVERIFY2(std::fabs(y[i] - sum) < 1e-6, qPrintable(QString::number(i)));
    }
}

void tst_Filters::firDelayLine()
{
    FirFilter fir;
    const float taps[3] = {1, 2, 3};
    QCOMPARE(fir.setTaps(taps, 3), 0);
    // Oldest first: x[-2] = 10, x[-1] = 20.
    const float line[2] = {10, 20};
    QCOMPARE(fir.setDelayLine(line, 2), 0);
    const float x[3] = {1, 0, 0};
    float y[3];
    QCOMPARE(fir.apply(x, y, 3), 0);
    QCOMPARE(y[0], 1.0f * 1 + 2.0f * 20 + 3.0f * 10);
    QCOMPARE(y[1], 2.0f * 1 + 3.0f * 20);
    QCOMPARE(y[2], 3.0f * 1);

    QCOMPARE(fir.fillDelayLine(-1.0f), 0);
    QCOMPARE(fir.apply(x, y, 1), 0);
    QCOMPARE(y[0], 1.0f - 2.0f - 3.0f);

    float back[3];
    QCOMPARE(fir.taps(back, 3), 0);
    QCOMPARE(QVector<float>(back, back + 3), QVector<float>({1, 2, 3}));
}

void tst_Filters::firRefusals()
{
    FirFilter fir;
    float x[4] = {1, 2, 3, 4};
    QCOMPARE(fir.apply(x, x, 4), 1);
    QCOMPARE(fir.fillDelayLine(0.0f), 1);
    QCOMPARE(fir.setTaps(nullptr, 3), 2);
    QCOMPARE(fir.setTaps(x, 0), 2);
    std::vector<float> many(FirFilter::kMaxTaps + 1, 0.0f);
    QCOMPARE(fir.setTaps(many.data(), FirFilter::kMaxTaps + 1), 2);
    const float nan[2] = {1, kNaN};
    QCOMPARE(fir.setTaps(nan, 2), 2);
    QCOMPARE(fir.setMovingAverage(-1, 1.0f), 2);
    QCOMPARE(fir.setMovingAverage(3, kNaN), 2);
    QCOMPARE(fir.setMovingAverage(0, 1.0f), 0);
    QCOMPARE(fir.tapCount(), 1);
    QCOMPARE(fir.setTaps(x, 4), 0);
    QCOMPARE(fir.setDelayLine(x, 4), 2);
    QCOMPARE(fir.setDelayLine(x, 2), 2);
    QCOMPARE(fir.apply(x, nullptr, 4), 2);
    QCOMPARE(fir.apply(x, x, 0), 2);
}

void tst_Filters::zeroPhaseSmoothing_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("fromFile");

    QTest::newRow("reference block") << 2000 << true;
    // Blocks no longer than the delay take every output from the held end.
    for (int n : {1, 2, 10, 24, 25, 26, 50, 51, 52, 300})
        QTest::addRow("%d samples", n) << n << false;
}

void tst_Filters::zeroPhaseSmoothing()
{
    QFETCH(int, n);
    QFETCH(bool, fromFile);

    QString error;
    const QVector<float> block = ReferenceData::floats(QStringLiteral("block_input.txt"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    std::vector<float> x(block.begin(), block.begin() + n);
    const QVector<double> expected =
        fromFile ? ReferenceData::numbers(QStringLiteral("smooth_zero_phase.txt")) : [&] {
            const std::vector<double> y = centredSmoothing(x);
            return QVector<double>(y.begin(), y.end());
        }();

    Smoother smoother;
    // A second pass on the same object must not see the first one's state.
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<float> y = x;
        smoother.smooth(y.data(), n);
        const QString mismatch = ReferenceData::mismatch(y.data(), n, expected, 1e-5);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }
}

void tst_Filters::butterworth_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("order");
    QTest::addColumn<double>("cutoff");
    QTest::addColumn<QVector<double>>("taps");

    QString error;
    const QVector<QVector<double>> rows = ReferenceData::rows(QStringLiteral("butterworth.txt"), &error);
    if (!error.isEmpty())
        qFatal("%s", qPrintable(error));
    for (const QVector<double> &row : rows) {
        const int type = static_cast<int>(row[0]);
        const int order = static_cast<int>(row[1]);
        QTest::addRow("%s order %d cut-off %g", type == 1 ? "low-pass" : "high-pass", order, row[2])
            << type << order << row[2] << row.mid(3);
    }
}

void tst_Filters::butterworth()
{
    QFETCH(int, type);
    QFETCH(int, order);
    QFETCH(double, cutoff);
    QFETCH(QVector<double>, taps);

    IirFilter iir;
    QCOMPARE(iir.design(type, cutoff, order), 0);
    QVERIFY(iir.isReady());
    QCOMPARE(iir.tapCount(), 2 * order + 2);
    QCOMPARE(taps.size(), 2 * order + 2);
    std::vector<float> ours(static_cast<std::size_t>(taps.size()));
    QCOMPARE(iir.taps(ours.data(), taps.size()), 0);
    // Each polynomial to float precision of its own largest coefficient.
    for (int part = 0; part < 2; ++part) {
        const QVector<double> expected = taps.mid(part * (order + 1), order + 1);
        const double scale = ReferenceData::largest(expected);
        for (int j = 0; j <= order; ++j) {
            const double actual = ours[part * (order + 1) + j];
            QVERIFY2(sameFloat(actual, expected[j], scale),
                     qPrintable(QStringLiteral("%1%2: %3, expected %4")
                                    .arg(part ? 'a' : 'b')
                                    .arg(j)
                                    .arg(actual, 0, 'g', 9)
                                    .arg(expected[j], 0, 'g', 12)));
        }
    }
}

void tst_Filters::butterworthRefusals_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("cutoff");
    QTest::addColumn<int>("order");

    QTest::newRow("order 0") << 1 << 0.1 << 0;
    QTest::newRow("order 13") << 1 << 0.1 << 13;
    QTest::newRow("cut-off 0") << 1 << 0.0 << 2;
    QTest::newRow("cut-off 0.5") << 2 << 0.5 << 2;
    QTest::newRow("negative cut-off") << 2 << -0.1 << 2;
    QTest::newRow("NaN cut-off") << 1 << double(kNaN) << 2;
    QTest::newRow("type 0") << 0 << 0.1 << 2;
    QTest::newRow("type 3") << 3 << 0.1 << 2;
}

void tst_Filters::butterworthRefusals()
{
    QFETCH(int, type);
    QFETCH(double, cutoff);
    QFETCH(int, order);

    IirFilter iir;
    QCOMPARE(iir.design(type, cutoff, order), 2);
    QVERIFY(!iir.isReady());

    // A refused design leaves an earlier one in place.
    QCOMPARE(iir.design(IirFilter::LowPass, 0.1, 2), 0);
    float before[6];
    iir.taps(before, 6);
    QCOMPARE(iir.design(type, cutoff, order), 2);
    float after[6];
    QCOMPARE(iir.taps(after, 6), 0);
    QCOMPARE(QVector<float>(after, after + 6), QVector<float>(before, before + 6));
    QCOMPARE(iir.order(), 2);
}

void tst_Filters::iirBlockCarriesState()
{
    QString error;
    const QVector<float> x = ReferenceData::floats(QStringLiteral("block_input.txt"), &error);
    const QVector<double> expected = ReferenceData::numbers(QStringLiteral("iir_lowpass4.txt"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    IirFilter iir;
    QCOMPARE(iir.design(IirFilter::LowPass, 0.05, 4), 0);
    std::vector<float> y(x.begin(), x.end());
    QCOMPARE(iir.apply(y.data(), y.data(), 777), 0);
    QCOMPARE(iir.apply(y.data() + 777, y.data() + 777, x.size() - 777), 0);
    const QString mismatch = ReferenceData::mismatch(y.data(), x.size(), expected, 1e-5);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    // resetState() starts the stream afresh.
    iir.resetState();
    std::vector<float> again(x.begin(), x.end());
    QCOMPARE(iir.apply(again.data(), again.data(), x.size()), 0);
    QVERIFY(again == y);
}

void tst_Filters::biquadMatchesDirectForm()
{
    IirFilter direct;
    QCOMPARE(direct.design(IirFilter::HighPass, 0.02, 2), 0);
    float taps[6];
    QCOMPARE(direct.taps(taps, 6), 0);
    IirFilter cascade;
    QCOMPARE(cascade.setBiquads(taps, 1), 0);
    QCOMPARE(cascade.tapCount(), 6);

    QString error;
    const QVector<float> x = ReferenceData::floats(QStringLiteral("block_input.txt"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    std::vector<float> a(static_cast<std::size_t>(x.size()));
    std::vector<float> b(static_cast<std::size_t>(x.size()));
    QCOMPARE(direct.apply(x.constData(), a.data(), x.size()), 0);
    QCOMPARE(cascade.apply(x.constData(), b.data(), x.size()), 0);
    const QString mismatch = ReferenceData::mismatch(b.data(), x.size(), QVector<double>(a.begin(), a.end()), 1e-5);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    const float zeroA0[6] = {1, 0, 0, 0, 0, 0};
    QCOMPARE(cascade.setBiquads(zeroA0, 1), 2);
    QCOMPARE(cascade.setBiquads(taps, 0), 2);
    QCOMPARE(cascade.setBiquads(taps, IirFilter::kMaxSections + 1), 2);
}

void tst_Filters::iirWithoutDesign()
{
    IirFilter iir;
    float x[2] = {1, 2};
    QCOMPARE(iir.apply(x, x, 2), 1);
    QCOMPARE(iir.tapCount(), 0);
    QCOMPARE(iir.taps(x, 2), 2);
}

QTEST_APPLESS_MAIN(tst_Filters)
#include "tst_filters.moc"
