#include "AbstractJobHandler_v2.h"
#include "DravikProtocolHandler_v2.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "ParameterHandler.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QtTest>

namespace {

const int kConnection = 1171;
const int kAliveTimeout = 1172;
const int kGainCompensation = 2004;

// A job defined by the test: claims the ids it is given and records every
// response it receives.
class RecordingJob : public AbstractJobHandler_v2
{
    Q_OBJECT

public:
    struct Packet
    {
        quint16 command;
        quint16 stateCode;
        quint16 ackCode;
        QByteArray data;
    };

    RecordingJob(QList<quint16> ids, QObject *parent)
        : AbstractJobHandler_v2(parent)
        , m_ids(std::move(ids))
    {
    }
    QList<quint16> commands() const override { return m_ids; }
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) override
    {
        packets.append({command, stateCode, ackCode, cmdData});
    }
    void send(quint16 command, const QByteArray &data) { Q_EMIT sendQlpCommand(command, data); }

    QList<Packet> packets;

private:
    QList<quint16> m_ids;
};

// Opens the protected operations the link calls, and records what reaches them.
class TestProtocolHandler : public DravikProtocolHandler_v2
{
    Q_OBJECT

public:
    using DravikProtocolHandler_v2::DravikProtocolHandler_v2;
    using DravikProtocolHandler_v2::processReceivedData;

    QList<int> requested;
    QList<bool> gainCompensation;

protected:
    void requestParameter(int parameterId) override { requested.append(parameterId); }
    void setGainCompensation(bool enabled) override { gainCompensation.append(enabled); }
};

} // namespace

class tst_ProtocolHandler : public QObject
{
    Q_OBJECT

private:
    QSharedPointer<ParameterHandler> m_user;
    QSharedPointer<ParameterHandler> m_device;

    void setUser(int id, const QVariant &value) { m_user->update(id, value, 0); }

    // A handler connected to the peer, with the alive supervision at interval ms.
    void connectTo(TestProtocolHandler &handler, LoopbackPeer &peer, int interval = 10000)
    {
        setUser(kAliveTimeout, interval);
        setUser(kConnection, peer.address());
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        handler.onOpen();
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.first().first().toBool(), true);
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connected);
        QTRY_VERIFY(peer.client);
    }

private Q_SLOTS:
    void init()
    {
        m_user.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.data]:")));
        m_device.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.devdata]:")));
        for (int id : {kConnection, kAliveTimeout, kGainCompensation})
            m_user->add(id, QVariant());
        setUser(kAliveTimeout, 5000);
    }

    // ---- dispatch --------------------------------------------------------

    void responseReachesOnlyItsJob()
    {
        TestProtocolHandler handler(m_user, m_device);
        auto *measurement = new RecordingJob({0x0F00, 0x0F01, 0x0F5B, 0x0F06}, &handler);
        auto *parameters = new RecordingJob({0x0100, 0x0F41}, &handler);
        handler.init();
        handler.initCommandHandler(measurement);
        handler.initCommandHandler(parameters);

        LogCapture log;
        QVERIFY(handler.processReceivedData(LoopbackPeer::response(0x0F01, 1, 2, QByteArray::fromHex("aabb")) +
                                            LoopbackPeer::response(0x0F41, 0, 7, QByteArray())));
        QCOMPARE(measurement->packets.size(), 1);
        QCOMPARE(measurement->packets.first().command, quint16(0x0F01));
        QCOMPARE(measurement->packets.first().ackCode, quint16(1));
        QCOMPARE(measurement->packets.first().stateCode, quint16(2));
        QCOMPARE(measurement->packets.first().data, QByteArray::fromHex("aabb"));
        QCOMPARE(parameters->packets.size(), 1);
        QCOMPARE(parameters->packets.first().command, quint16(0x0F41));
        QCOMPARE(parameters->packets.first().stateCode, quint16(7));
        QVERIFY(log.texts(QtWarningMsg).isEmpty());
    }

    void unclaimedIdIsReportedOnce()
    {
        TestProtocolHandler handler(m_user, m_device);
        auto *job = new RecordingJob({0x0F41}, &handler);
        handler.init();
        handler.initCommandHandler(job);

        LogCapture log;
        QVERIFY(handler.processReceivedData(LoopbackPeer::response(0x0F10, 0, 0, QByteArray("x"))));
        const QStringList warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().startsWith(QLatin1String("[DRAVIK.PH]: ")), qPrintable(warnings.first()));
        QVERIFY2(warnings.first().endsWith(QLatin1String(" unknown command f10")), qPrintable(warnings.first()));
        QVERIFY(job->packets.isEmpty());
    }

    void laterRegistrationTakesOverAnId()
    {
        TestProtocolHandler handler(m_user, m_device);
        auto *first = new RecordingJob({0x0F03, 0x0F04}, &handler);
        auto *second = new RecordingJob({0x0F04}, &handler);
        handler.initCommandHandler(first);
        handler.initCommandHandler(second);
        QCOMPARE(handler.handlerFor(0x0F03), first);
        QCOMPARE(handler.handlerFor(0x0F04), second);
    }

    void refusedRegistrations()
    {
        TestProtocolHandler handler(m_user, m_device);
        auto *empty = new RecordingJob({}, &handler);
        LogCapture log;
        handler.initCommandHandler(nullptr);
        handler.initCommandHandler(empty);
        const QStringList errors = log.texts(QtCriticalMsg);
        QCOMPARE(errors.size(), 2);
        QVERIFY(errors.at(0).endsWith(QLatin1String(" invalid handler given")));
        QVERIFY(errors.at(1).endsWith(QLatin1String(" command handler without any command")));
        // A job without ids is not connected: what it sends goes nowhere.
        QVERIFY(!QObject::disconnect(empty, &AbstractJobHandler_v2::sendQlpCommand, &handler, nullptr));
    }

    void rejectedBytesAreReportedAndForgotten()
    {
        TestProtocolHandler handler(m_user, m_device);
        auto *job = new RecordingJob({0x0F41}, &handler);
        handler.init();
        handler.initCommandHandler(job);

        LogCapture log;
        // A frame without the response bit, then a response in the same read: both lost.
        QVERIFY(!handler.processReceivedData(QByteArray::fromHex("41 0f 00 00") + LoopbackPeer::response(0x0F41, 0, 0, "a")));
        QVERIFY(log.texts(QtDebugMsg).filter(QStringLiteral("QLP frame error 9")).size() == 1);
        QVERIFY(job->packets.isEmpty());
        // A partial frame counts as accepted; the next read completes it.
        const QByteArray frame = LoopbackPeer::response(0x0F41, 0, 0, "bc");
        QVERIFY(handler.processReceivedData(frame.left(5)));
        QVERIFY(handler.processReceivedData(frame.mid(5)));
        QCOMPARE(job->packets.size(), 1);
        QCOMPARE(job->packets.first().data, QByteArray("bc"));
    }

    void initReportsMissingJobs()
    {
        TestProtocolHandler handler(m_user, m_device);
        LogCapture log;
        handler.init();
        const QStringList errors = log.texts(QtCriticalMsg);
        QVERIFY(errors.filter(QStringLiteral("unable to create measurement handler")).size() == 1);
        QVERIFY(errors.filter(QStringLiteral("unable to create firmware update handler")).size() == 1);
    }

    // ---- the link over loopback ------------------------------------------

    void jobRequestsGoOnTheWire()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        auto *job = new RecordingJob({0x0F41}, &handler);
        handler.init();
        handler.initCommandHandler(job);
        connectTo(handler, peer);

        job->send(0x0F41, QByteArray());
        job->send(0x0F5B, QByteArray::fromHex("05"));
        QTRY_COMPARE(peer.received, QByteArray::fromHex("410f0000 5b0f010005"));

        // The peer's answer comes back to the job.
        peer.client->write(LoopbackPeer::response(0x0F41, 0, 3, QByteArray::fromHex("0102")));
        QTRY_COMPARE(job->packets.size(), 1);
        QCOMPARE(job->packets.first().data, QByteArray::fromHex("0102"));
    }

    void openAndClose()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer);
        QVERIFY(handler.isAliveTimerActive());

        // A second open changes nothing.
        LogCapture log;
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        handler.onOpen();
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connected);
        QVERIFY(log.texts(QtDebugMsg).filter(QStringLiteral(" invalid connection state 2")).size() == 1);
        QCOMPARE(peer.connections, 1);

        // An idle loopback socket may finish its orderly close inside the call.
        handler.onClose();
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().toBool(), false);
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Disconnected);
        QVERIFY(!handler.isAliveTimerActive());

        // Closing a closed link still reports it closed.
        handler.onClose();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.last().first().toBool(), false);
    }

    void peerDropsTheLink()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer);
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        peer.client->abort();
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.first().first().toBool(), false);
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Disconnected);
    }

    void unreachableAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("nobody listening") << QStringLiteral("REFUSED");
        QTest::newRow("host and colon: port 0") << QStringLiteral("127.0.0.1:");
    }
    void unreachableAddress()
    {
        QFETCH(QString, address);
        if (address == QLatin1String("REFUSED")) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            address = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        }
        TestProtocolHandler handler(m_user, m_device);
        // A refusal is reported at once; the link gives up when the open timer runs out.
        handler.setSocketTimeout(300);
        handler.init();
        setUser(kConnection, address);
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        QSignalSpy errors(&handler, &DravikAbstractProtocolHandler_v2::error);
        handler.onOpen();
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connecting);
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().toBool(), false);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Disconnected);
    }

    void openWithoutAddressDoesNothing()
    {
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        handler.onOpen(); // SettingsConnection never confirmed
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Disconnected);
        QCOMPARE(changed.count(), 0);
    }

    void addressParsing_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host and port") << "127.0.0.1:52922" << "127.0.0.1" << 52922;
        QTest::newRow("host alone") << "127.0.0.1" << "127.0.0.1" << 65535;
        QTest::newRow("host and colon") << "127.0.0.1:" << "127.0.0.1" << 0;
        QTest::newRow("port beyond 16 bits") << "127.0.0.1:70000" << "127.0.0.1" << (70000 & 0xFFFF);
        QTest::newRow("port not a number") << "127.0.0.1:abc" << "127.0.0.1" << 0;
        QTest::newRow("empty") << "" << "" << 65535;
        QTest::newRow("colon alone") << ":80" << "" << 80;
        QTest::newRow("extra part ignored") << "localhost:81:82" << "localhost" << 81;
    }
    void addressParsing()
    {
        QFETCH(QString, address);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString parsedHost;
        quint16 parsedPort = 1;
        DravikAbstractProtocolHandler_v2::parseAddress(address, parsedHost, parsedPort);
        QCOMPARE(parsedHost, host);
        QCOMPARE(int(parsedPort), port);
    }

    void settingsReactions()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();

        setUser(kAliveTimeout, 500);
        QCOMPARE(handler.aliveInterval(), 1000);
        setUser(kAliveTimeout, 20000);
        QCOMPARE(handler.aliveInterval(), 10000);

        setUser(kGainCompensation, true);
        setUser(kGainCompensation, false);
        QCOMPARE(handler.gainCompensation, (QList<bool>{true, false}));

        // A new address closes an open link; it is used on the next open.
        connectTo(handler, peer);
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        LoopbackPeer other;
        setUser(kConnection, other.address());
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().toBool(), false);
        handler.onOpen();
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.last().first().toBool(), true);
        QTRY_COMPARE(other.connections, 1);
    }

    // A silent detector is closed two alive intervals after the last accepted
    // data; a keep-alive request goes out after the first.
    void aliveSupervisionClosesSilentPeer()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer, 1000);
        QElapsedTimer clock;
        clock.start();
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        QVERIFY(changed.wait(5000));
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(changed.first().first().toBool(), false);
        QCOMPARE(handler.requested, QList<int>{1010});
        QVERIFY2(elapsed >= 1900 && elapsed < 3000, qPrintable(QString::number(elapsed)));
    }

    // Bytes that the codec rejects do not count as a sign of life.
    void aliveSupervisionClosesGarbagePeer()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer, 1000);
        QTimer garbage;
        connect(&garbage, &QTimer::timeout, &peer, [&peer] {
            if (peer.client)
                peer.client->write(QByteArray::fromHex("00000000")); // a complete request frame
        });
        garbage.start(200);
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.first().first().toBool(), false);
    }

    // Accepted data restarts the supervision: a detector that keeps talking
    // stays connected well past two intervals.
    void acceptedDataKeepsTheLinkAlive()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer, 1000);
        QTimer talk;
        connect(&talk, &QTimer::timeout, &peer, [&peer] {
            if (peer.client)
                peer.client->write(LoopbackPeer::response(0x0F41, 0, 0, QByteArray::fromHex("00")));
        });
        talk.start(300);
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        QVERIFY(!changed.wait(2600));
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connected);
        QVERIFY(handler.requested.isEmpty());
    }

    void firmwareUpdatePausesSupervision()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer);
        auto state = [&handler](int s) {
            QVERIFY(QMetaObject::invokeMethod(&handler, "onFirmwareUpdateState", Q_ARG(int, s), Q_ARG(double, 0.0),
                                              Q_ARG(QString, QString())));
        };
        state(0);
        QVERIFY(!handler.isAliveTimerActive());
        state(8);
        QVERIFY(!handler.isAliveTimerActive());
        state(6);
        QVERIFY(handler.isAliveTimerActive());

        // Resuming while not connected leaves the timer off.
        handler.onClose();
        QTRY_COMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Disconnected);
        state(7);
        QVERIFY(!handler.isAliveTimerActive());
    }

    void readLogFileAndMeasurementCommands()
    {
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();

        LogCapture log;
        handler.onReadLogFile(QStringLiteral("/tmp/x.log")); // not connected: nothing sent
        QVERIFY(log.texts(QtWarningMsg).filter(QStringLiteral("no log file reader, reading not possible.")).size() == 1);

        connectTo(handler, peer);
        handler.onReadLogFile(QStringLiteral("/tmp/x.log"));
        QTRY_COMPARE(peer.received, QByteArray::fromHex("040f0000"));

        log.clear();
        handler.onMeasurementCommand(TransferData, 3);
        QVERIFY(log.texts(QtDebugMsg).filter(QStringLiteral("processMeasurementCommandIntern")).isEmpty());
        handler.onMeasurementCommand(StartMeasurement, 0);
        QVERIFY(log.texts(QtDebugMsg).filter(QStringLiteral("processMeasurementCommandIntern")).size() == 1);

        handler.onValidChannels({1, 4});
        QCOMPARE(handler.validChannels(), (QList<int>{1, 4}));
    }

    // The set-up the device uses: the handler on its own thread, driven only
    // through queued signals, deleted when the thread ends.
    void runsOnTheProtocolThread()
    {
        LoopbackPeer peer;
        setUser(kConnection, peer.address());
        auto *handler = new TestProtocolHandler(m_user, m_device);
        QObject owner;
        QThread *thread = handler->moveToProtocolThread(&owner);
        QCOMPARE(thread->objectName(), QStringLiteral("DravikProtocolHandlerThread"));
        QCOMPARE(thread->parent(), &owner);
        QPointer<TestProtocolHandler> guard(handler);

        QThread *seenOn = nullptr;
        QSignalSpy changed(handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        connect(handler, &DravikAbstractProtocolHandler_v2::connectionChanged, this,
                [&seenOn](bool) { seenOn = QThread::currentThread(); });
        handler->init();
        thread->start();

        QMetaObject::invokeMethod(handler, "onOpen", Qt::QueuedConnection);
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.first().first().toBool(), true);
        // Delivered to this thread through the queue, not called across threads.
        QTRY_COMPARE(seenOn, QThread::currentThread());

        QMetaObject::invokeMethod(handler, "onClose", Qt::QueuedConnection);
        QTRY_COMPARE(changed.count(), 2);
        QCOMPARE(changed.last().first().toBool(), false);

        thread->quit();
        QVERIFY(thread->wait(5000));
        QTRY_VERIFY(guard.isNull());
    }
};

QTEST_GUILESS_MAIN(tst_ProtocolHandler)
#include "tst_protocolhandler.moc"
