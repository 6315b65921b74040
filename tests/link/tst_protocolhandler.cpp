#include "AbstractJobHandler_v2.h"
#include "DravikProtocolHandler_v2.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "ParameterHandler.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

namespace {

const int kConnection = 1171;
const int kAliveTimeout = 1172;
const int kGainCompensation = 2004;

// Claims the given commands and records what reaches it.
class RecordingJob : public AbstractJobHandler_v2
{
    Q_OBJECT

public:
    RecordingJob(QList<quint16> ids, QObject *parent)
        : AbstractJobHandler_v2(parent)
        , m_ids(std::move(ids))
    {
    }
    QList<quint16> commands() const override { return m_ids; }
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) override
    {
        packets.append(QStringLiteral("%1 ack %2 state %3 %4")
                           .arg(command, 0, 16)
                           .arg(ackCode)
                           .arg(stateCode)
                           .arg(QString::fromLatin1(cmdData.toHex())));
    }
    void send(quint16 command, const QByteArray &data) { Q_EMIT sendQlpCommand(command, data); }

    QStringList packets; // "f41 ack 0 state 3 0102": command and payload in hex

private:
    QList<quint16> m_ids;
};

class TestProtocolHandler : public DravikProtocolHandler_v2
{
    Q_OBJECT

public:
    using DravikProtocolHandler_v2::DravikProtocolHandler_v2;
    using DravikProtocolHandler_v2::processReceivedData;
    using DravikProtocolHandler_v2::transmitCommand;

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

    void responseReachesOnlyItsJob()
    {
        TestProtocolHandler handler(m_user, m_device);
        auto *measurement = new RecordingJob({0x0F00, 0x0F01, 0x0F5B, 0x0F06}, &handler);
        auto *parameters = new RecordingJob({0x0100, 0x0F41}, &handler);
        handler.init();
        handler.initCommandHandler(measurement);
        handler.initCommandHandler(parameters);

        LogCapture log;
        // Delivered, but answers to nothing that was asked for prove no life.
        QVERIFY(!handler.processReceivedData(LoopbackPeer::response(0x0F01, 1, 2, QByteArray::fromHex("aabb"))
                                             + LoopbackPeer::response(0x0F10, 0, 0, QByteArray("x"))
                                             + LoopbackPeer::response(0x0F41, 0, 7, QByteArray())));
        QCOMPARE(measurement->packets, QStringList{"f01 ack 1 state 2 aabb"});
        QCOMPARE(parameters->packets, QStringList{"f41 ack 0 state 7 "});
        // The unclaimed id: one warning, the id in lower-case hex.
        const QStringList warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().startsWith(QLatin1String("[DRAVIK.PH]: ")), qPrintable(warnings.first()));
        QVERIFY2(warnings.first().endsWith(QLatin1String(" unknown command f10")), qPrintable(warnings.first()));
        QCOMPARE(handler.transmitCommand(0x0F41, QByteArray()), 0);
        QVERIFY(handler.processReceivedData(LoopbackPeer::response(0x0F41, 0, 0, QByteArray())));
    }

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

        peer.client->write(LoopbackPeer::response(0x0F41, 0, 3, QByteArray::fromHex("0102")));
        QTRY_COMPARE(job->packets, QStringList{"f41 ack 0 state 3 0102"});

        // Half a frame when the link goes: the next link starts clean.
        handler.processReceivedData(LoopbackPeer::response(0x0F41, 0, 3, QByteArray::fromHex("0102")).left(5));
        handler.onClose();
        handler.onOpen();
        QTRY_COMPARE(peer.connections, 2);
        QTRY_COMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connected);
        peer.client->write(LoopbackPeer::response(0x0F41, 0, 4, QByteArray::fromHex("0304")));
        QTRY_COMPARE(job->packets, (QStringList{"f41 ack 0 state 3 0102", "f41 ack 0 state 4 0304"}));
    }

    void linkGoesDown_data()
    {
        QTest::addColumn<bool>("peerDrops");
        QTest::newRow("orderly close") << false;
        QTest::newRow("peer drops the link") << true;
    }
    void linkGoesDown()
    {
        QFETCH(bool, peerDrops);
        LoopbackPeer peer;
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer);
        QVERIFY(handler.isAliveTimerActive());

        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        handler.onOpen(); // already open: nothing happens
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connected);
        QCOMPARE(peer.connections, 1);

        if (peerDrops)
            peer.client->abort();
        else
            handler.onClose();
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 5000);
        QCOMPARE(changed.first().first().toBool(), false);
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Disconnected);
        QVERIFY(!handler.isAliveTimerActive());

        handler.onClose(); // closing a closed link reports it again
        QCOMPARE(QList<QVariantList>(changed), (QList<QVariantList>{{false}, {false}}));
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
        handler.setSocketTimeout(300);
        handler.init();
        setUser(kConnection, address);
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        QSignalSpy errors(&handler, &DravikAbstractProtocolHandler_v2::error);
        handler.onOpen();
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connecting);
        QVERIFY(changed.wait(5000));
        QCOMPARE(QList<QVariantList>(changed), QList<QVariantList>{{false}});
        QCOMPARE(errors.count(), 1);
        QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Disconnected);
    }

    void addressParsing_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host and port") << "127.0.0.1:52922" << "127.0.0.1" << 52922;
        QTest::newRow("host alone") << "127.0.0.1" << "127.0.0.1" << 65535;
        QTest::newRow("host and colon") << "127.0.0.1:" << "127.0.0.1" << 0;
        QTest::newRow("port not a number") << "127.0.0.1:abc" << "127.0.0.1" << 0;
        QTest::newRow("empty") << "" << "" << 65535;
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

    void aliveSupervision_data()
    {
        QTest::addColumn<QByteArray>("talk"); // what the peer sends every 300 ms
        QTest::addColumn<bool>("asked");      // after a request for it; without: the link idles
        QTest::addColumn<bool>("closed");
        const QByteArray state = LoopbackPeer::response(0x0F41, 0, 0, QByteArray::fromHex("00"));
        QTest::newRow("silent peer") << QByteArray() << true << true;
        QTest::newRow("garbage: a complete request frame") << QByteArray::fromHex("00000000") << true << true;
        QTest::newRow("garbage: a frame that never ends") << QByteArray::fromHex("418f0000 0000 ffff") << true << true;
        QTest::newRow("answers nobody asked for") << state << false << true;
        QTest::newRow("answers keep it alive") << state << true << false;
        // Idle: the handler's own keep-alives, each answered, keep it open.
        QTest::newRow("answered keep-alives keep it alive") << QByteArray() << false << false;
    }
    void aliveSupervision()
    {
        // Interval 1 s: closed two intervals after the last accepted data.
        QFETCH(QByteArray, talk);
        QFETCH(bool, asked);
        QFETCH(bool, closed);
        LoopbackPeer peer;
        const bool idle = talk.isEmpty() && !asked;
        if (idle)
            peer.setResponder([](const LoopbackPeer::Request &r) {
                return LoopbackPeer::response(r.command, 0, 0, QByteArray::fromHex("00"));
            });
        TestProtocolHandler handler(m_user, m_device);
        handler.init();
        connectTo(handler, peer, 1000);
        QTimer timer;
        int keepAlives = 0;
        connect(&timer, &QTimer::timeout, &peer, [&] {
            // The keep-alive asks for the state (recorded here): sent as the
            // parameter handler would send it, and answered by the peer.
            if (asked || (idle && handler.requested.size() > keepAlives && ++keepAlives))
                handler.transmitCommand(0x0F41, QByteArray());
            if (peer.client && !talk.isEmpty())
                peer.client->write(talk);
        });
        timer.start(300);
        QElapsedTimer clock;
        clock.start();
        QSignalSpy changed(&handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        QCOMPARE(changed.wait(closed ? 5000 : 2600), closed);
        if (!closed) {
            QCOMPARE(handler.connectionState(), DravikAbstractProtocolHandler_v2::Connected);
            QCOMPARE(handler.requested.size(), keepAlives);
            return;
        }
        QCOMPARE(changed.first().first().toBool(), false);
        QVERIFY2(clock.elapsed() >= 1900 && clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(handler.requested, QList<int>{1010});
    }
};

QTEST_GUILESS_MAIN(tst_ProtocolHandler)
#include "tst_protocolhandler.moc"
