#include "DeviceSession.h"
#include "ExitCode.h"
#include "FloatChunk.h"
#include "RunReport.h"
#include "SdkMetaTypes.h"
#include "StubDevice.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// A device with the test voltage channel only, answering each call after
// 10 ms as the test tells it to. Every start hands out a chunk of two
// samples, every stop one more of one sample after it.
class FakeDevice : public StubDevice
{
    Q_OBJECT

public:
    enum Behaviour { Normal, NeverStarts, LosesLinkWhenRunning };
    Behaviour behaviour = Normal;
    QStringList calls;
    int taken = 0;
    int announced = 0;

    FakeDevice() { registerChannel(1021, QStringLiteral("Test voltage"), 0, 0, ChannelData::DataTypeFloat, "V", 1e5); }
    void addPostProcessing()
    {
        for (int id = 2013; id <= 2017; ++id) {
            ParameterInfo info;
            info.id = id;
            registerParameter(info);
        }
    }
    void announce(const QVector<float> &samples)
    {
        ++announced;
        StubDevice::announce(1021, floatChunk(samples, 0.0, std::nan("")));
    }
    void later(std::function<void()> f) { QTimer::singleShot(10, this, std::move(f)); }

    void open() override
    {
        calls << "open";
        later([this] { simulateOpened(); });
    }
    void close() override
    {
        calls << "close";
        later([this] { simulateClosed(-1003); });
    }
    ChannelData takeChannelData(int channelId, int token, bool *ok) override
    {
        const ChannelData chunk = StubDevice::takeChannelData(channelId, token, ok);
        taken += *ok ? 1 : 0;
        return chunk;
    }
    void setEnvironment(const AbstractQueryObject &) override { calls << "setEnvironment"; }
    bool isReady() const override { return isRunning(); }
    QPair<StatusType, QString> statusInfo(int code) const override
    {
        return {StatusError, code == -1007 ? QStringLiteral("Connection to Dravik lost") : QString()};
    }
    void start() override
    {
        calls << "start";
        if (behaviour == NeverStarts)
            return;
        later([this] {
            setRunning(true);
            setValue(1010, 3);
            Q_EMIT started();
            Q_EMIT ready(true);
            announce({1.0f, -3.0f});
            if (behaviour == LosesLinkWhenRunning)
                later([this] {
                    setRunning(false);
                    Q_EMIT stopped(-4);
                    simulateClosed(-1007);
                });
        });
    }
    void stop(bool force) override
    {
        calls << (force ? "stop(force)" : "stop");
        if (!isRunning())
            return Q_EMIT stopped(0);
        // Stopping, then the last chunk, then idle.
        later([this] {
            setRunning(false);
            setValue(1010, 9);
            Q_EMIT stopped(0);
            QTimer::singleShot(75, this, [this] { announce({2.0f}); });
            QTimer::singleShot(150, this, [this] { setValue(1010, 1); });
        });
    }
};

} // namespace

class tst_DeviceSession : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeDevice> m_device;
    RunReport m_report;
    QString m_error;

    // Runs a session on a fresh device to its end; returns the exit code.
    int run(const DeviceSession::Config &config, const std::function<void(DeviceSession &)> &prepare = {})
    {
        DeviceSession session(m_device.get(), HostQuery(0, 1), config, &m_report);
        QString error;
        if (!session.attach(&error))
            return -2;
        if (prepare)
            prepare(session);
        QSignalSpy finished(&session, &DeviceSession::finished);
        session.begin();
        if (!finished.wait(10000))
            return -1;
        m_error = session.errorString();
        return finished.first().first().toInt();
    }

    static DeviceSession::Config config(int count, int durationMs, int timeoutMs = 2000)
    {
        DeviceSession::Config c;
        c.count = count;
        c.durationMs = durationMs;
        c.timeoutMs = timeoutMs;
        c.address = QStringLiteral("127.0.0.1:1");
        c.quietMs = 50;
        c.pollMs = 10;
        return c;
    }

private Q_SLOTS:
    void initTestCase() { registerSdkMetaTypes(); }

    void init()
    {
        m_device.reset(new FakeDevice);
        m_report = RunReport();
    }

    // Every chunk is taken and counted; only those of the chosen channels are passed on.
    void measurements_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QSet<int>>("channels");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("two measurements, every channel") << 2 << QSet<int>() << int(ExitOk);
        // Taken and counted, but a run that records nothing did not succeed.
        QTest::newRow("other channels only") << 1 << QSet<int>{1001} << int(ExitMeasurementFailed);
    }
    void measurements()
    {
        QFETCH(int, count);
        QFETCH(QSet<int>, channels);
        QFETCH(int, exitCode);
        DeviceSession::Config c = config(count, 50);
        c.channels = channels;
        int passedOn = 0;
        QCOMPARE(run(c, [&](DeviceSession &session) {
                     connect(&session, &DeviceSession::chunkTaken, this, [&](int id) { passedOn += id == 1021; });
                 }),
                 exitCode);
        QStringList calls{"open", "setEnvironment"};
        for (int i = 0; i < count; ++i)
            calls << "start" << "stop";
        QCOMPARE(m_device->calls, calls << "close");
        QCOMPARE(passedOn, channels.isEmpty() ? 2 * count : 0);
        QCOMPARE(m_device->taken, m_device->announced);
        QCOMPARE(m_report.measurements.size(), count);
        for (const RunReport::Measurement &m : qAsConst(m_report.measurements)) {
            QCOMPARE(m.chunks, 2);
            QVERIFY(m.drained && m.complete);
            QCOMPARE(m.channels.value(1021).recorded, channels.isEmpty());
            QCOMPARE(m.channels.value(1021).samples, 3);
            QCOMPARE(m.channels.value(1021).peak, 3.0);
            QCOMPARE(m.channels.value(1021).name, QStringLiteral("Test voltage"));
        }
        QCOMPARE(m_report.chunksOutside, 0);
        QCOMPARE(m_error.isEmpty(), exitCode == ExitOk);
        QCOMPARE(m_report.recordedChunks(), passedOn);
    }

    void failures_data()
    {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<bool>("startable");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("calls");
        const QStringList configured{"open", "setEnvironment"};
        // A refused connection and a rejected detector: tst_hostcommandline and tst_hostmeasure.
        QTest::newRow("not startable") << int(FakeDevice::Normal) << false << int(ExitDetectorRejected)
                                       << QStringList{"cannot start"} << configured + QStringList{"close"};
        QTest::newRow("never starts") << int(FakeDevice::NeverStarts) << true << int(ExitMeasurementFailed)
                                      << QStringList{"did not start within"} << configured + QStringList{"start", "close"};
        QTest::newRow("link lost while running")
            << int(FakeDevice::LosesLinkWhenRunning) << true << int(ExitMeasurementFailed)
            << QStringList{"link to the detector was lost", "Connection to Dravik lost"}
            << configured + QStringList{"start"};
        // Interrupted: the detector is stopped before the link is closed.
        QTest::newRow("aborted while running") << int(FakeDevice::Normal) << true << int(ExitInterrupted)
                                               << QStringList{"interrupted by signal 15"}
                                               << configured + QStringList{"start", "stop(force)", "close"};
    }
    void failures()
    {
        QFETCH(int, behaviour);
        QFETCH(bool, startable);
        QFETCH(int, exitCode);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, calls);
        m_device->behaviour = FakeDevice::Behaviour(behaviour);
        m_device->setStartable(startable);
        const std::function<void(DeviceSession &)> abortWhenRunning = [](DeviceSession &session) {
            connect(&session, &DeviceSession::progress, &session, [&session](const QString &text) {
                if (text.endsWith(QLatin1String("running")))
                    session.abort(ExitInterrupted, QStringLiteral("interrupted by signal 15"));
            });
        };
        QCOMPARE(run(config(1, 5000, 300), exitCode == ExitInterrupted ? abortWhenRunning : nullptr), exitCode);
        for (const QString &message : messages)
            QVERIFY2(m_error.contains(message), qPrintable(m_error));
        QCOMPARE(m_device->calls, calls);
        QVERIFY(!m_device->isRunning());
    }

    // The GUI's session: once connected it waits; each start runs until the
    // host stops it, and the session is open again after the last data.
    void interactive()
    {
        DeviceSession::Config c = config(1, 50);
        c.interactive = true;
        DeviceSession session(m_device.get(), HostQuery(0, 1), c, &m_report);
        QString error;
        QVERIFY(session.attach(&error));
        QVERIFY(!session.requestStart()); // not connected
        session.begin();
        QTRY_COMPARE(session.state(), DeviceSession::State::Open);
        QVERIFY(!session.requestStop());
        QSignalSpy states(&session, &DeviceSession::stateChanged);
        for (int i = 1; i <= 2; ++i) {
            QVERIFY(session.requestStart());
            QVERIFY(!session.requestStart());
            QTRY_COMPARE(session.state(), DeviceSession::State::Running);
            states.clear();
            QVERIFY(!states.wait(150)); // no duration: it runs until stopped
            QVERIFY(session.requestStop());
            QTRY_COMPARE(session.state(), DeviceSession::State::Open);
            QCOMPARE(session.measurementIndex(), i);
        }
        session.abort(ExitOk, QStringLiteral("the window was closed"));
        QTRY_COMPARE(session.state(), DeviceSession::State::Finished);
        QCOMPARE(session.exitCode(), int(ExitOk));
        QCOMPARE(m_device->calls,
                 QStringList({"open", "setEnvironment", "start", "stop", "start", "stop", "close"}));
        QCOMPARE(m_report.measurements.size(), 2);
        for (const RunReport::Measurement &m : qAsConst(m_report.measurements)) {
            QCOMPARE(m.chunks, 2);
            QVERIFY(m.drained);
        }
    }

    // The post-processing values announced while running, finite ones only.
    void postProcessingValues()
    {
        m_device->addPostProcessing();
        m_device->setValue(2016, 1.5e9);
        QCOMPARE(run(config(1, 200), [this](DeviceSession &session) {
                     connect(&session, &DeviceSession::progress, m_device.get(), [this](const QString &text) {
                         if (text.endsWith(QLatin1String("starting"))) {
                             m_device->setValue(2013, 0.0);
                         } else if (text.endsWith(QLatin1String("running"))) {
                             m_device->setValue(2013, 50.02);
                             m_device->setValue(2014, std::numeric_limits<double>::infinity());
                             for (int code : {-1008, -1007, -1008})
                                 Q_EMIT m_device->statusCode(code);
                         } else {
                             return;
                         }
                         Q_EMIT m_device->parameterChanged({2013, 2014, 2015});
                     });
                 }),
                 int(ExitOk));
        QVERIFY(m_report.postProcessing);
        const RunReport::Measurement &m = m_report.measurements.first();
        QCOMPARE(m.parameters.value(2013), 50.02);
        QVERIFY(!m.parameters.contains(2014)); // not finite
        QVERIFY(!m.parameters.contains(2015)); // never announced
        QCOMPARE(m.parameters.value(2016), 1.5e9);
        QCOMPARE(m_report.lastParameter(2013), 50.02);
        QVERIFY(std::isnan(m_report.lastParameter(2015)));
        QCOMPARE(m.droppedShots, 2);
        QCOMPARE(m_report.toJson().value("dropped_shots").toInt(), 2); // the shots the device dropped
    }
};

QTEST_GUILESS_MAIN(tst_DeviceSession)
#include "tst_devicesession.moc"
