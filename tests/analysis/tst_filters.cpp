#include "FirFilter.h"
#include "IirFilter.h"
#include "PdTestvoltage.h"
#include "PdTvDAC.h"
#include "ReferenceData.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {

class Smoother : public PdTestvoltage
{
public:
    int process(const float *, float *, int) override { return 0; }
    int currentAmplitude(const float *, float *, int) override { return 0; }
    void smooth(float *x, int n) { smoothZeroPhase(x, n); }
};

void setUp(FirFilter &filter, const QString &name)
{
    float taps[PdTvDAC::kSlopeTaps];
    if (name == QLatin1String("smoothing")) {
        PdTestvoltage::smoothingTaps(taps);
        filter.setTaps(taps, PdTestvoltage::kSmoothingTaps);
    } else if (name == QLatin1String("slope")) {
        PdTvDAC::slopeTaps(taps);
        filter.setTaps(taps, PdTvDAC::kSlopeTaps);
    } else {
        filter.setMovingAverage(100, 1.0f);
    }
}

QVector<float> input() { return ReferenceData::floats(QStringLiteral("block_input.txt")); }

} // namespace

class tst_Filters : public QObject
{
    Q_OBJECT

private slots:
    void analyserWindows()
    {
        float smoothing[PdTestvoltage::kSmoothingTaps];
        PdTestvoltage::smoothingTaps(smoothing);
        VERIFY_NEAR(smoothing, PdTestvoltage::kSmoothingTaps, ReferenceData::numbers(QStringLiteral("savgol51.txt")), 5.1e-7);
        float slope[PdTvDAC::kSlopeTaps];
        PdTvDAC::slopeTaps(slope);
        VERIFY_NEAR(slope, PdTvDAC::kSlopeTaps, ReferenceData::numbers(QStringLiteral("slope99.txt")), 5.1e-9);
    }

    void firAgainstReference_data()
    {
        QTest::addColumn<QString>("filter");
        for (const char *name : {"smoothing", "slope", "average101"})
            QTest::newRow(name) << name;
    }
    void firAgainstReference()
    {
        QFETCH(QString, filter);
        const QVector<float> x = input();
        const QVector<double> expected = ReferenceData::numbers(QStringLiteral("fir_%1.txt").arg(filter));
        FirFilter fir;
        setUp(fir, filter);
        std::vector<float> y(x.begin(), x.end());
        QCOMPARE(fir.apply(y.data(), y.data(), x.size()), 0);
        VERIFY_NEAR(y.data(), x.size(), expected, 2e-6 * ReferenceData::largest(expected) + 1e-7);

        // In place and in pieces, shorter and longer than the taps and around
        // the vector widths, gives the very samples of one block.
        std::vector<float> stream(9000), whole(9000);
        for (int i = 0; i < 9000; ++i)
            stream[i] = static_cast<float>(std::sin(i * 0.37) + 0.001 * i);
        FirFilter one, many;
        setUp(one, filter);
        setUp(many, filter);
        QCOMPARE(one.apply(stream.data(), whole.data(), 9000), 0);
        int done = 0;
        for (int piece : {1, 7, 30, 2009, 1, 2048, 2049, 50, 2805}) {
            QCOMPARE(many.apply(stream.data() + done, stream.data() + done, piece), 0);
            done += piece;
        }
        QCOMPARE(done, 9000);
        QVERIFY(stream == whole);
    }

    void zeroPhaseSmoothing_data()
    {
        QTest::addColumn<int>("n");
        for (int n : {2000, 1, 25, 26, 51})
            QTest::addRow("%d samples", n) << n;
    }
    void zeroPhaseSmoothing()
    {
        QFETCH(int, n);
        const QVector<float> block = input();
        std::vector<float> x(block.begin(), block.begin() + n);
        QVector<double> expected = ReferenceData::numbers(QStringLiteral("smooth_zero_phase.txt"));
        if (n < 2000) {
            float taps[PdTestvoltage::kSmoothingTaps];
            PdTestvoltage::smoothingTaps(taps);
            expected.fill(0.0, n);
            for (int i = 0; i < n; ++i)
                for (int j = -25; j <= 25; ++j)
                    expected[i] += taps[j + 25] * x[std::min(std::max(i + j, 0), n - 1)];
        }
        Smoother smoother;
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<float> y = x;
            smoother.smooth(y.data(), n);
            VERIFY_NEAR(y.data(), n, expected, 1e-5);
        }
    }

    void butterworth_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("cutoff");
        QTest::addColumn<QVector<double>>("taps");
        for (const QVector<double> &row : ReferenceData::rows(QStringLiteral("butterworth.txt")))
            QTest::addRow("%s order %d cut-off %g", row[0] == 1 ? "low-pass" : "high-pass", int(row[1]), row[2])
                << int(row[0]) << int(row[1]) << row[2] << row.mid(3);
    }
    void butterworth()
    {
        QFETCH(int, type);
        QFETCH(int, order);
        QFETCH(double, cutoff);
        QFETCH(QVector<double>, taps);
        IirFilter iir;
        QCOMPARE(iir.design(type, cutoff, order), 0);
        QCOMPARE(iir.tapCount(), taps.size());
        std::vector<float> ours(static_cast<std::size_t>(taps.size()));
        QCOMPARE(iir.taps(ours.data(), taps.size()), 0);
        for (int part = 0; part < 2; ++part) {
            const QVector<double> expected = taps.mid(part * (order + 1), order + 1);
            const double scale = ReferenceData::largest(expected);
            for (int j = 0; j <= order; ++j) {
                const float e = static_cast<float>(expected[j]);
                const float ulp = std::nextafter(std::fabs(e), INFINITY) - std::fabs(e);
                const float actual = ours[part * (order + 1) + j];
                QVERIFY2(std::fabs(actual - e) <= 2 * ulp + 1e-9 * scale,
                         qPrintable(QStringLiteral("%1%2: %3, expected %4").arg(part ? 'a' : 'b').arg(j).arg(actual, 0, 'g', 9)
                                        .arg(expected[j], 0, 'g', 12)));
            }
        }
    }

    void butterworthRefusals_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("cutoff");
        QTest::addColumn<int>("order");
        QTest::newRow("order 0") << 1 << 0.1 << 0;
        QTest::newRow("order 13") << 1 << 0.1 << 13;
        QTest::newRow("cut-off 0") << 1 << 0.0 << 2;
        QTest::newRow("cut-off 0.5") << 2 << 0.5 << 2;
        QTest::newRow("NaN cut-off") << 1 << std::numeric_limits<double>::quiet_NaN() << 2;
    }
    void butterworthRefusals()
    {
        QFETCH(int, type);
        QFETCH(double, cutoff);
        QFETCH(int, order);
        IirFilter iir;
        float x[2] = {1, 2};
        QCOMPARE(iir.design(type, cutoff, order), 2);
        QCOMPARE(iir.apply(x, x, 2), 1);
        QCOMPARE(iir.design(IirFilter::LowPass, 0.1, 2), 0);
        float before[6], after[6];
        iir.taps(before, 6);
        QCOMPARE(iir.design(type, cutoff, order), 2);
        QCOMPARE(iir.taps(after, 6), 0);
        QCOMPARE(QVector<float>(after, after + 6), QVector<float>(before, before + 6));
    }

    void iirCarriesState()
    {
        const QVector<float> x = input();
        IirFilter iir;
        QCOMPARE(iir.design(IirFilter::LowPass, 0.05, 4), 0);
        std::vector<float> y(x.begin(), x.end());
        QCOMPARE(iir.apply(y.data(), y.data(), 777), 0);
        QCOMPARE(iir.apply(y.data() + 777, y.data() + 777, x.size() - 777), 0);
        VERIFY_NEAR(y.data(), x.size(), ReferenceData::numbers(QStringLiteral("iir_lowpass4.txt")), 1e-5);

        IirFilter direct, cascade;
        direct.design(IirFilter::HighPass, 0.02, 2);
        float taps[6];
        direct.taps(taps, 6);
        QCOMPARE(cascade.setBiquads(taps, 1), 0);
        std::vector<float> a(x.begin(), x.end()), b(x.begin(), x.end());
        direct.apply(a.data(), a.data(), x.size());
        cascade.apply(b.data(), b.data(), x.size());
        VERIFY_NEAR(b.data(), x.size(), QVector<double>(a.begin(), a.end()), 1e-5);
        taps[3] = 0.0f;
        QCOMPARE(cascade.setBiquads(taps, 1), 2);
        QCOMPARE(cascade.setBiquads(taps, IirFilter::kMaxSections + 1), 2);
    }
};

QTEST_APPLESS_MAIN(tst_Filters)
#include "tst_filters.moc"
