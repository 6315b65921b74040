#include "ChunkEditing.h"
#include "DravikWrapper_v2.h"
#include "FloatChunk.h"
#include "Dravik_v2.h"
#include "LogCapture.h"
#include "StubDevice.h"
#include "TestQuery.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <numeric>

namespace {

constexpr double kTvRate = 100000.0;
constexpr double kChargeRate = 200000.0;
constexpr double kPdRate = 125000000.0;

// A damped AC test voltage as the detector records it around the shot at t:
// charged before it, then 50 Hz decaying at 20 /s.
QVector<float> dampedAc(int n, double pretrigger)
{
    QVector<float> x(n);
    for (int i = 0; i < n; ++i) {
        const double t = std::max(0.0, i / kTvRate - pretrigger);
        x[i] = float(7.5 * std::exp(-20.0 * t) * std::cos(2 * M_PI * 50.0 * t));
    }
    return x;
}

ChannelData binaryChunk(const char *hex)
{
    ChannelData chunk;
    chunk.dataType = 6;
    chunk.data = QSharedPointer<QByteArray>::create(QByteArray::fromHex(hex));
    return chunk;
}

} // namespace

// The post-processing device on a stub detector: chunks go in as the
// detector would announce them, and come out processed under new tokens.
class tst_DravikWrapper : public QObject
{
    Q_OBJECT

private:
    StubDevice *m_inner = nullptr;
    DravikWrapper_v2 *m_wrapper = nullptr;
    QList<ChannelData> m_published;

    void build(int measurementMode, int operationMode, const QVariantHash &settings = {})
    {
        m_published.clear();
        m_inner = new StubDevice;
        m_inner->registerChannel(1001, QStringLiteral("PD filtered"), 0, 1, 2, QString(), kPdRate);
        m_inner->registerChannel(1004, QStringLiteral("System gating (PD) binary"), 0, 0, 6, QString(), kPdRate);
        m_inner->registerChannel(1018, QStringLiteral("Charge phase 0"), 0, 2, 2, QStringLiteral("C"), kChargeRate);
        m_inner->registerChannel(1021, QStringLiteral("Test voltage"), 0, 3, 2, QStringLiteral("V"), kTvRate);
        m_inner->registerChannel(1028, QStringLiteral("Overflow ADC ch. 0 information"), 0, 5, 6, QString(), kChargeRate);
        m_inner->setValue(2001, operationMode);
        m_wrapper = new DravikWrapper_v2(m_inner, nullptr);
        QVERIFY(m_wrapper->initialize());
        m_wrapper->applySettings(settings);
        TestQuery query;
        query.mode = measurementMode;
        m_wrapper->setEnvironment(query);
        connect(m_wrapper, &AbstractDevice::channelDataAvailable, this, [this](int channel, int token) {
            bool ok = false;
            ChannelData chunk = m_wrapper->takeChannelData(channel, token, &ok);
            QVERIFY(ok);
            chunk.channelId = channel;
            m_published.append(chunk);
        });
        m_wrapper->start();
    }

    QList<int> publishedChannels() const
    {
        QList<int> ids;
        for (const ChannelData &c : m_published)
            ids << c.channelId;
        return ids;
    }

private Q_SLOTS:
    void cleanup()
    {
        delete m_wrapper;
        m_wrapper = nullptr;
    }

    // Channels of a trigger wait for its test voltage and are cut to ten of
    // its periods, with HV source type 1 only up to where the amplitude fell
    // below the threshold: a shot below it is cut to nothing and the host
    // told. A record too short for a frequency reports +infinity, uncut.
    void shotsCutToTheirTestVoltage_data()
    {
        QTest::addColumn<double>("threshold"); // the shot's amplitude is 7.5 V
        QTest::addColumn<double>("seconds");   // record length, 1 ms of it before the shot
        QTest::addColumn<double>("frequency"); // reported, +infinity: none
        QTest::addColumn<int>("charge");       // samples left of the charge channel, 0: dropped
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("ten periods") << 0.0 << 0.5 << 50.0 << 40000;
        QTest::newRow("too short for a frequency: uncut") << 0.0 << 0.045 << inf << 9000;
        // 7.5 V e^(-20 t) falls below 5 V after 20.3 ms.
        QTest::newRow("until the amplitude falls below the threshold") << 5.0 << 0.5 << 50.0 << 4060;
        QTest::newRow("below the threshold: dropped") << 15000.0 << 0.5 << 50.0 << 0;
        QTest::newRow("too short and below the threshold: dropped") << 15000.0 << 0.045 << inf << 0;
    }
    void shotsCutToTheirTestVoltage()
    {
        QFETCH(double, threshold);
        QFETCH(double, seconds);
        QFETCH(double, frequency);
        QFETCH(int, charge);
        build(0, 1, {{QStringLiteral("TVAmplitudeThreshold"), threshold}});
        m_inner->setValue(1178, 1);
        QSignalSpy notes(m_wrapper, qOverload<StatusType, QString, int>(&AbstractDevice::notification));
        QSignalSpy codes(m_wrapper, &AbstractDevice::statusCode);
        LogCapture log;
        const double t = 2.0;
        m_inner->announce(1018, floatChunk(QVector<float>(int(kChargeRate * seconds), -1.0f), t - 0.001, t));
        QVERIFY(m_published.isEmpty());
        m_inner->announce(1021, floatChunk(dampedAc(int(kTvRate * seconds), 0.001), t - 0.001, t));

        const double f = m_wrapper->value(2013).toDouble();
        QVERIFY(std::isinf(frequency) ? f == frequency : std::abs(f - frequency) < 0.25);
        QCOMPARE(publishedChannels(), charge ? (QList<int>{1021, 1018}) : QList<int>());
        QCOMPARE(codes.count(), charge ? 0 : 1);
        QCOMPARE(notes.count(), codes.count());
        if (charge == 0) {
            QCOMPARE(log.texts(QtWarningMsg).filter(QStringLiteral("Channeldata is empty after cutting")).size(), 2);
            QCOMPARE(codes.first().first().toInt(), int(Dravik_v2::StatusShotDropped));
            QCOMPARE(notes.first().first().value<StatusType>(), StatusWarning);
            QCOMPARE(notes.first().at(1).toString(),
                     QStringLiteral("Shot at 2.000000 s dropped: test voltage amplitude %1 V is below the threshold "
                                    "of 15000 V").arg(m_wrapper->value(2014).toDouble(), 0, 'g', 6));
            return;
        }
        QVERIFY(std::abs(floatsOf(m_published.at(1)).size() - charge) <= charge / 100);
        QCOMPARE(m_published.at(1).startTime, std::isinf(frequency) ? t - 0.001 : t);
    }

    void testVoltageWindows_data()
    {
        QTest::addColumn<int>("operationMode");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<double>("length");
        QTest::newRow("CR, 50 Hz") << 2 << 50.0 << true << 0.0098;
        QTest::newRow("CR without a frequency") << 5 << std::numeric_limits<double>::infinity() << false << 0.0;
        QTest::newRow("sine: no cut") << 3 << 50.0 << false << 0.0;
        QTest::newRow("1000 Hz is no test voltage") << 9 << 1000.0 << false << 0.0;
        QTest::newRow("unknown mode") << 10 << 50.0 << false << 0.0;
    }
    void testVoltageWindows()
    {
        QFETCH(int, operationMode);
        QFETCH(double, frequency);
        QFETCH(bool, cut);
        QFETCH(double, length);
        DravikWrapper_v2::TestVoltageResult result;
        result.frequency = frequency;
        double stop = -1.0;
        QCOMPARE(DravikWrapper_v2::testVoltageWindow(operationMode, 1.0, result, &stop), cut);
        if (cut)
            QVERIFY(qFuzzyCompare(stop - 1.0, length));
    }

    // A window that begins before the chunk keeps the chunk's start; the
    // bytes are cut in place, and a copy of the chunk held elsewhere keeps
    // its own.
    void cutBounds_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("startTime");
        QTest::addColumn<float>("first");
        QTest::addColumn<int>("samples");
        QTest::newRow("window before the chunk") << 9.0 << 10.0 << 0.0f << 50;
        QTest::newRow("window inside") << 10.2 << 10.2 << 20.0f << 30;
    }
    void cutBounds()
    {
        QFETCH(double, start);
        QFETCH(double, startTime);
        QFETCH(float, first);
        QFETCH(int, samples);
        QVector<float> ramp(100);
        std::iota(ramp.begin(), ramp.end(), 0.0f);
        ChannelData chunk = floatChunk(ramp, 10.0, 10.0);
        const ChannelData elsewhere = chunk;
        ChunkEditing::cut(chunk, 1018, 100.0, start, 10.5);
        QCOMPARE(chunk.startTime, startTime);
        QCOMPARE(chunk.data->size(), samples * 4);
        QCOMPARE(reinterpret_cast<const float *>(chunk.data->constData())[0], first);
        QCOMPARE(reinterpret_cast<const float *>(chunk.data->constData())[samples - 1], first + samples - 1);
        QCOMPARE(elsewhere.data->size(), 400);
        QCOMPARE(reinterpret_cast<const float *>(elsewhere.data->constData())[99], 99.0f);
    }

    // The gating interval around the trigger is zeroed; its half-width comes
    // from the HV source type unless "GatingTime" is set.
    void fillAroundTrigger_data()
    {
        QTest::addColumn<int>("hvSource");
        QTest::addColumn<double>("gatingTime");
        QTest::addColumn<int>("zeroed");
        QTest::newRow("HV source 1") << 1 << -1.0 << 300;
        QTest::newRow("HV source 0") << 0 << -1.0 << 100;
        QTest::newRow("HV source 6: nothing") << 6 << -1.0 << 0;
        QTest::newRow("GatingTime") << 6 << 0.001 << 400;
    }
    void fillAroundTrigger()
    {
        QFETCH(int, hvSource);
        QFETCH(double, gatingTime);
        QFETCH(int, zeroed);
        QVariantHash settings{{QStringLiteral("NoPostAquisitionCut"), 1}};
        if (gatingTime >= 0)
            settings.insert(QStringLiteral("GatingTime"), gatingTime);
        build(0, 0, settings);
        m_inner->setValue(1178, hvSource);
        m_inner->announce(1018, floatChunk(QVector<float>(2000, -1.0f), 0.999, 1.0));
        QCOMPARE(m_published.size(), 1);
        const QVector<float> x = floatsOf(m_published.first());
        QCOMPARE(int(std::count(x.begin(), x.end(), 0.0f)), zeroed);
        QCOMPARE(int(std::count(x.begin(), x.end(), 1.0f)), 2000 - zeroed); // magnitude
    }

    void continuousVoltageHoldsUntilMeasured()
    {
        build(0, 3);
        m_inner->announce(1018, floatChunk(QVector<float>(100, 1.0f), 0.0, 0.0));
        m_inner->announce(1021, floatChunk(QVector<float>(1000, 0.0f), 0.0, 0.0)); // flat: no frequency
        QVERIFY(m_published.isEmpty());
    }

    void binaryChannels_data()
    {
        QTest::addColumn<QVariantHash>("settings");
        QTest::addColumn<int>("published");
        QTest::newRow("dropped by default") << QVariantHash() << 0;
        QTest::newRow("NoBinaryChannels 0") << QVariantHash{{QStringLiteral("NoBinaryChannels"), 0}} << 1;
    }
    void binaryChannels()
    {
        QFETCH(QVariantHash, settings);
        build(2, 0, settings);
        m_inner->announce(1004, binaryChunk("00010100"));
        QTEST(m_published.size(), "published");
    }

    void parametersAndTokens()
    {
        build(2, 0);
        QSignalSpy changed(m_wrapper, &AbstractDevice::parameterChanged);
        m_wrapper->start();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().value<QList<int>>(), (QList<int>{2013, 2014, 2015, 2017}));
        QVERIFY(!m_wrapper->value(2017).isValid()); // not running
        m_inner->setRunning(true);
        changed.clear();
        m_inner->announce(1028, binaryChunk("000001"));
        QCOMPARE(m_wrapper->value(2017).toBool(), true);
        QVERIFY(std::any_of(changed.cbegin(), changed.cend(),
                            [](const QVariantList &args) { return args.first().value<QList<int>>().contains(2017); }));
        changed.clear();
        m_wrapper->stop(false);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(m_wrapper->value(2017).toBool(), false);

        // A token is good for one take.
        disconnect(m_wrapper, &AbstractDevice::channelDataAvailable, this, nullptr);
        QSignalSpy available(m_wrapper, &AbstractDevice::channelDataAvailable);
        m_inner->announce(1018, floatChunk(QVector<float>(10, -2.0f), 0.0, qQNaN()));
        QCOMPARE(available.count(), 1);
        const int token = available.first().at(1).toInt();
        bool ok = false;
        QCOMPARE(floatsOf(m_wrapper->takeChannelData(1018, token, &ok)).first(), 2.0f);
        QVERIFY(ok);
        LogCapture log;
        m_wrapper->takeChannelData(1018, token, &ok);
        QVERIFY(!ok);
        QCOMPARE(log.texts(QtDebugMsg).filter(QStringLiteral("Token not found for channel: 1018")).size(), 1);
    }

    // A host that never takes its chunks does not make the wrapper grow.
    void untakenChunksAreBounded()
    {
        build(2, 0);
        disconnect(m_wrapper, &AbstractDevice::channelDataAvailable, this, nullptr);
        QSignalSpy available(m_wrapper, &AbstractDevice::channelDataAvailable);
        LogCapture log;
        for (int i = 0; i < 257; ++i)
            m_inner->announce(1018, floatChunk(QVector<float>(4, 1.0f), i, qQNaN()));
        QCOMPARE(available.count(), 257);
        bool ok = true;
        m_wrapper->takeChannelData(1018, available.first().at(1).toInt(), &ok);
        QVERIFY(!ok); // the oldest went to make room
        m_wrapper->takeChannelData(1018, available.last().at(1).toInt(), &ok);
        QVERIFY(ok);
        QCOMPARE(log.texts(QtWarningMsg).filter(QStringLiteral("dropped a chunk the host did not take")).size(), 1);
    }

    // ---- measurement mode 1 ------------------------------------------------

    void triggerLevelFromFirstPulse()
    {
        build(1, 0);
        QCOMPARE(m_inner->value(1049).toFloat(), 1.0f); // the search starts high
        m_inner->setValue(1081, 20.0);
        QVector<float> pulse(100000, 0.0f);
        pulse[500] = 0.4f;
        m_inner->announce(1001, floatChunk(pulse, 0.0, 0.0));
        // 0.4 / (2 × 10^(-20/20)) = 2.0
        QCOMPARE(m_inner->value(1049).toFloat(), 2.0f);
    }

    void oneAveragedBlockPerSecond()
    {
        build(1, 0);
        for (double start : {0.0, 0.5, 1.0, 1.5, 2.2}) {
            QVector<float> pulse(1000);
            for (int i = 0; i < pulse.size(); ++i)
                pulse[i] = float(0.01 * std::sin(i * 0.7));
            pulse[500] = 0.5f;
            m_inner->announce(1001, floatChunk(pulse, start, start));
        }
        QCOMPARE(m_published.size(), 3);
        QCOMPARE(m_published.at(1).startTime, 1.0);
        QCOMPARE(m_published.at(2).startTime, 2.2);
    }

    // A long block at 125 MHz: windows of 0.8 ms from 0.4 ms before each
    // trigger, at least 0.9 ms apart, only where they fit in the block.
    void pulseTriggeringAndFactor_data()
    {
        QTest::addColumn<double>("charge");
        QTest::addColumn<double>("factor");
        QTest::newRow("1 nC") << 1e-9 << 1e9;
        QTest::newRow("charge 0: infinite factor not set") << 0.0 << 0.0;
    }
    void pulseTriggeringAndFactor()
    {
        QFETCH(double, charge);
        build(1, 0, {{QStringLiteral("NoAdaptiveGain"), 0}});
        m_inner->setValue(2003, charge);
        // End the level search with a first short block.
        m_inner->announce(1001, floatChunk(QVector<float>(1000, 0.1f), 0.0, 0.0));
        m_published.clear();

        const int n = 990000;
        QVector<float> x(n);
        for (int i = 0; i < n; ++i)
            x[i] = float(1e-3 * std::sin(i * 0.37)); // a little noise for the averager
        x[0] = 0.9f;       // above at the start: previous starts true, no trigger
        x[20000] = 0.9f;   // window would begin before the block
        x[200000] = 1.0f;  // recorded: window [150000, 250000)
        x[250000] = 0.8f;  // inside the 0.9 ms hold-off
        x[950000] = 0.9f;  // window would end after the block
        m_inner->announce(1001, floatChunk(x, 0.0, 0.0));
        QCOMPARE(m_published.size(), 1);
        const QVector<float> averaged = floatsOf(m_published.first());
        QCOMPARE(averaged.size(), 100000);
        // Only the window of the pulse at 200000 went into the average.
        QVERIFY2(std::abs(averaged[50000] - 1.0f) < 1e-3f, qPrintable(QString::number(averaged[50000])));
        QVERIFY(std::abs(averaged[99999] - x[249999]) < 1e-3f);
        QTEST(m_wrapper->value(2016).toDouble(), "factor");
    }
};

QTEST_GUILESS_MAIN(tst_DravikWrapper)
#include "tst_dravikwrapper.moc"
