#include "DeviceInterface.h"
#include "DeviceSession.h"
#include "ExitCode.h"
#include "RunReport.h"
#include "SdkMetaTypes.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

class BareDevice : public QObject, public DeviceInterface
{
    Q_OBJECT
    Q_INTERFACES(DeviceInterface)

public:
    QStringList calls;
    QHash<int, QVariant> values;
    QHash<int, ChannelData> store; // token -> chunk
    bool startable = true;
    bool running = false;
    bool postProcessing = false;
    int state = 0;

    bool initialize() override { return true; }
    bool isAvailable() const override { return true; }
    bool isOpen() const override { return state == 2; }
    int openState() const override { return state; }
    void open() override { calls << QStringLiteral("open"); onOpen(); }
    void close() override { calls << QStringLiteral("close"); onClose(); }
    QString serialNumber() const override { return QString(); }
    QString deviceKey() const override { return QString(); }
    int phaseCount() const override { return 1; }
    int maxVoltage() const override { return 0; }
    double minimumVoltage() const override { return 0; }
    double maximumVoltage() const override { return 0; }
    QList<int> channelIds() const override { return {1021}; }
    bool channelInfo(int id, ChannelInfo &out) const override
    {
        if (id != 1021)
            return false;
        out.id = 1021;
        out.name = QStringLiteral("Test voltage");
        out.unit = QStringLiteral("V");
        out.sampleRate = 100000.0;
        out.dataType = ChannelData::DataTypeFloat;
        return true;
    }
    ChannelData takeChannelData(int, int token, bool *ok) override
    {
        const bool found = store.contains(token);
        if (ok)
            *ok = found;
        return store.take(token);
    }
    QString phaseName(int) const override { return QStringLiteral("L1"); }
    bool parameterInfo(int id, ParameterInfo &out) const override
    {
        out.id = id;
        return postProcessing && id >= 2013 && id <= 2017;
    }
    QList<int> parameterIds() const override { return values.keys(); }
    QVariant value(int id) const override { return values.value(id); }
    int setValue(int id, const QVariant &v) override
    {
        values.insert(id, v);
        return 0;
    }
    QVariantHash settings() const override { return {}; }
    void setEnvironment(const AbstractQueryObject &) override { calls << QStringLiteral("setEnvironment"); }
    bool applySettings(const QVariantHash &) override { return false; }
    void resetSettings() override {}
    bool hasWidget(int) const override { return false; }
    void createWidget(int, QLayout *) override {}
    QPixmap icon() const override { return QPixmap(); }
    bool isReady() const override { return running; }
    bool isOpenAndStartable() const override { return isOpen() && startable; }
    bool isRunning() const override { return running; }
    QPair<StatusType, QString> statusInfo(int code) const override
    {
        return {StatusError, code == -1007 ? QStringLiteral("Connection to Dravik lost") : QString()};
    }
    void setDataTransferEnabled(bool) override {}
    void start() override { calls << QStringLiteral("start"); onStart(); }
    void stop(bool force) override { calls << (force ? QStringLiteral("stop(force)") : QStringLiteral("stop")); onStop(); }
    void disengage() override {}
    void reserved() override {}

protected:
    virtual void onOpen() {}
    virtual void onClose() {}
    virtual void onStart() {}
    virtual void onStop() {}
};

class FakeDevice : public BareDevice
{
    Q_OBJECT

public:
    enum class Open { Opens, Refuses, Silent, RejectsVersion };
    enum class Start { Runs, Silent };
    Open openBehaviour = Open::Opens;
    Start startBehaviour = Start::Runs;
    int stopStatus = 0;
    int idleAfterStopMs = 150;

    void announce(int channel, const QVector<float> &samples)
    {
        static int nextToken = 1;
        ChannelData c;
        c.channelId = channel;
        c.dataType = ChannelData::DataTypeFloat;
        c.data = QSharedPointer<QByteArray>::create(reinterpret_cast<const char *>(samples.constData()),
                                                    samples.size() * 4);
        const int token = nextToken++;
        store.insert(token, c);
        Q_EMIT channelDataAvailable(channel, token);
    }

    void loseLink()
    {
        running = false;
        state = 0;
        Q_EMIT stopped(-4);
        Q_EMIT closed(-1007);
    }

Q_SIGNALS:
    void opened();
    void closed(int status);
    void channelDataAvailable(int channelId, int token);
    void started();
    void ready(bool ready);
    void stopped(int status);
    void notification(StatusType statusCode, QString text, int token);
    void parameterChanged(QList<int> parameterIds);

protected:
    void onOpen() override
    {
        switch (openBehaviour) {
        case Open::Opens:
        case Open::RejectsVersion:
            QTimer::singleShot(10, this, [this] {
                state = 2;
                if (openBehaviour == Open::RejectsVersion)
                    Q_EMIT notification(StatusError, QStringLiteral("Dravik firmware not supported!"), -1);
                Q_EMIT opened();
            });
            break;
        case Open::Refuses:
            QTimer::singleShot(10, this, [this] { Q_EMIT closed(-1003); });
            break;
        case Open::Silent:
            break;
        }
    }
    void onClose() override
    {
        QTimer::singleShot(10, this, [this] {
            state = 0;
            Q_EMIT closed(-1003);
        });
    }
    void onStart() override
    {
        if (startBehaviour == Start::Silent)
            return;
        QTimer::singleShot(10, this, [this] {
            running = true;
            values.insert(1010, 3);
            Q_EMIT started();
            Q_EMIT ready(true);
            announce(1021, {1.0f, -3.0f});
        });
    }
    void onStop() override
    {
        if (!running) {
            Q_EMIT stopped(0);
            return;
        }
        QTimer::singleShot(10, this, [this] {
            running = false;
            values.insert(1010, 9);
            Q_EMIT stopped(stopStatus);
            QTimer::singleShot(idleAfterStopMs / 2, this, [this] { announce(1021, {2.0f}); });
            QTimer::singleShot(idleAfterStopMs, this, [this] { values.insert(1010, 1); });
        });
    }
};

DeviceSession::Config config(int count = 1, int durationMs = 50, int timeoutMs = 2000)
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

} // namespace

class tst_DeviceSession : public QObject
{
    Q_OBJECT

private:
    static int runToEnd(DeviceSession &session, int timeoutMs = 10000)
    {
        QSignalSpy finished(&session, &DeviceSession::finished);
        session.begin();
        if (!finished.wait(timeoutMs))
            return -1;
        return finished.first().first().toInt();
    }

private Q_SLOTS:
    void initTestCase() { registerSdkMetaTypes(); }

    void twoMeasurements()
    {
        FakeDevice device;
        RunReport report;
        DeviceSession session(&device, HostQuery(0, 1), config(2), &report);
        QString error;
        QVERIFY2(session.attach(&error), qPrintable(error));
        QSignalSpy chunks(&session, &DeviceSession::chunkTaken);
        QSignalSpy begins(&session, &DeviceSession::measurementBegins);
        QSignalSpy ends(&session, &DeviceSession::measurementEnds);

        QCOMPARE(runToEnd(session), int(ExitOk));
        QCOMPARE(device.calls, (QStringList{"open", "setEnvironment", "start", "stop", "start", "stop", "close"}));
        QCOMPARE(begins.size(), 2);
        QCOMPARE(ends.size(), 2);
        QCOMPARE(chunks.size(), 4);
        QCOMPARE(report.measurements.size(), 2);
        for (const RunReport::Measurement &m : qAsConst(report.measurements)) {
            QCOMPARE(m.chunks, 2);
            QVERIFY(m.drained);
            QCOMPARE(m.channels.value(1021).samples, 3);
            QCOMPARE(m.channels.value(1021).peak, 3.0);
            QCOMPARE(m.channels.value(1021).name, QStringLiteral("Test voltage"));
        }
        QCOMPARE(report.chunksOutside, 0);
        QVERIFY(session.errorString().isEmpty());
    }

    void onlyTheChosenChannelsArePassedOn()
    {
        FakeDevice device;
        RunReport report;
        DeviceSession::Config c = config();
        c.channels = {1001};
        DeviceSession session(&device, HostQuery(0, 1), c, &report);
        QString error;
        QVERIFY(session.attach(&error));
        QSignalSpy chunks(&session, &DeviceSession::chunkTaken);
        QCOMPARE(runToEnd(session), int(ExitOk));
        QCOMPARE(chunks.size(), 0);
        QCOMPARE(report.measurements.first().chunks, 2);
        QVERIFY(!report.measurements.first().channels.value(1021).recorded);
        QVERIFY(device.store.isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<int>("open");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("stopStatus");
        QTest::addColumn<bool>("startable");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("calls");

        using O = FakeDevice::Open;
        using S = FakeDevice::Start;
        QTest::newRow("connection refused") << int(O::Refuses) << int(S::Runs) << 0 << true << int(ExitConnectFailed)
                                            << "could not connect to 127.0.0.1:1" << QStringList{"open"};
        QTest::newRow("version check failed") << int(O::RejectsVersion) << int(S::Runs) << 0 << true
                                              << int(ExitDetectorRejected) << "Dravik firmware not supported!"
                                              << QStringList{"open", "setEnvironment", "close"};
        QTest::newRow("not startable") << int(O::Opens) << int(S::Runs) << 0 << false << int(ExitDetectorRejected)
                                       << "cannot start" << QStringList{"open", "setEnvironment", "close"};
        QTest::newRow("never starts") << int(O::Opens) << int(S::Silent) << 0 << true << int(ExitMeasurementFailed)
                                      << "did not start within" << QStringList{"open", "setEnvironment", "start", "close"};
    }
    void failures()
    {
        QFETCH(int, open);
        QFETCH(int, start);
        QFETCH(int, stopStatus);
        QFETCH(bool, startable);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(QStringList, calls);

        FakeDevice device;
        device.openBehaviour = FakeDevice::Open(open);
        device.startBehaviour = FakeDevice::Start(start);
        device.stopStatus = stopStatus;
        device.startable = startable;
        RunReport report;
        DeviceSession session(&device, HostQuery(0, 1), config(1, 50, 300), &report);
        QString error;
        QVERIFY(session.attach(&error));
        QCOMPARE(runToEnd(session), exitCode);
        QVERIFY2(session.errorString().contains(message), qPrintable(session.errorString()));
        QCOMPARE(device.calls, calls);
    }

    void linkLostWhileRunning()
    {
        FakeDevice device;
        RunReport report;
        DeviceSession session(&device, HostQuery(0, 1), config(1, 5000), &report);
        QString error;
        QVERIFY(session.attach(&error));
        connect(&session, &DeviceSession::progress, &device, [&](const QString &text) {
            if (text.endsWith(QLatin1String("running")))
                QTimer::singleShot(20, &device, &FakeDevice::loseLink);
        });
        QCOMPARE(runToEnd(session), int(ExitMeasurementFailed));
        QVERIFY2(session.errorString().contains(QStringLiteral("link to the detector was lost")),
                 qPrintable(session.errorString()));
        QVERIFY2(session.errorString().contains(QStringLiteral("Connection to Dravik lost")),
                 qPrintable(session.errorString()));
        QCOMPARE(device.calls, (QStringList{"open", "setEnvironment", "start"}));
    }

    void abortStopsTheDetectorThenCloses()
    {
        FakeDevice device;
        RunReport report;
        DeviceSession session(&device, HostQuery(0, 1), config(1, 5000), &report);
        QString error;
        QVERIFY(session.attach(&error));
        connect(&session, &DeviceSession::progress, &device, [&](const QString &text) {
            if (text.endsWith(QLatin1String("running")))
                session.abort(ExitInterrupted, QStringLiteral("interrupted by signal 15"));
        });
        QCOMPARE(runToEnd(session), int(ExitInterrupted));
        QCOMPARE(device.calls, (QStringList{"open", "setEnvironment", "start", "stop(force)", "close"}));
        QVERIFY(!device.running);
    }

    void postProcessingValues()
    {
        FakeDevice device;
        device.postProcessing = true;
        device.values.insert(2016, 1.5e9);
        RunReport report;
        DeviceSession session(&device, HostQuery(0, 1), config(1, 200), &report);
        QString error;
        QVERIFY(session.attach(&error));
        connect(&session, &DeviceSession::progress, &device, [&](const QString &text) {
            if (text.endsWith(QLatin1String("starting"))) {
                device.values.insert(2013, 0.0);
                Q_EMIT device.parameterChanged({2013, 2014, 2015});
            } else if (text.endsWith(QLatin1String("running"))) {
                device.values.insert(2013, 50.02);
                device.values.insert(2014, std::numeric_limits<double>::infinity());
                Q_EMIT device.parameterChanged({2013, 2014, 2015});
            }
        });
        QCOMPARE(runToEnd(session), int(ExitOk));
        QVERIFY(report.postProcessing);
        const RunReport::Measurement &m = report.measurements.first();
        QCOMPARE(m.parameters.value(2013), 50.02);
        QVERIFY(!m.parameters.contains(2014)); // not finite
        QVERIFY(!m.parameters.contains(2015)); // never announced
        QCOMPARE(m.parameters.value(2016), 1.5e9);
        QCOMPARE(report.lastParameter(2013), 50.02);
        QVERIFY(std::isnan(report.lastParameter(2015)));
    }

};

QTEST_GUILESS_MAIN(tst_DeviceSession)
#include "tst_devicesession.moc"
