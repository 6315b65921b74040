#include "DeviceSocket_v2.h"
#include "LogCapture.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

const QString kHost = QStringLiteral("127.0.0.1");
constexpr int kTimeout = 250;
constexpr int kWait = 3000;
constexpr int kSettle = 2 * kTimeout + 150;
constexpr int kStuckBytes = 16 * 1024 * 1024;

class StalledListener
{
public:
    StalledListener(int backlog, int receiveBuffer)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0)
            return;
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0
            || ::listen(m_fd, backlog) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_port = ntohs(address.sin_port);
    }
    ~StalledListener()
    {
        for (int fd : m_clients)
            ::close(fd);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StalledListener(const StalledListener &) = delete;
    StalledListener &operator=(const StalledListener &) = delete;

    quint16 port() const { return m_port; }

    bool fillBacklog()
    {
        const int first = connectNonBlocking();
        if (first < 0)
            return false;
        pollfd request{first, POLLOUT, 0};
        int error = -1;
        socklen_t length = sizeof error;
        if (::poll(&request, 1, kWait) != 1 || ::getsockopt(first, SOL_SOCKET, SO_ERROR, &error, &length) != 0
            || error != 0)
            return false;
        return connectNonBlocking() >= 0;
    }

private:
    static sockaddr_in loopback(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    int connectNonBlocking()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return -1;
        m_clients.push_back(fd);
        const sockaddr_in address = loopback(m_port);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS)
            return -1;
        return fd;
    }

    int m_fd = -1;
    quint16 m_port = 0;
    std::vector<int> m_clients;
};

enum class Peer {
    Accepting,   // QTcpServer that accepts and keeps every connection
    Refusing,    // a loopback port with nothing listening
    BacklogFull, // the handshake never completes
    NotReading,  // connected, but the peer reads nothing
};

struct Target
{
    std::unique_ptr<QTcpServer> server;
    std::unique_ptr<StalledListener> stalled;
    quint16 port = 0;

    bool listen(Peer peer)
    {
        switch (peer) {
        case Peer::Accepting:
        case Peer::Refusing:
            server.reset(new QTcpServer);
            if (!server->listen(QHostAddress::LocalHost, 0))
                return false;
            port = server->serverPort();
            if (peer == Peer::Refusing)
                server->close();
            return true;
        case Peer::BacklogFull:
            stalled.reset(new StalledListener(0, 0));
            port = stalled->port();
            return port != 0 && stalled->fillBacklog();
        case Peer::NotReading:
            stalled.reset(new StalledListener(4, 64 * 1024));
            port = stalled->port();
            return port != 0;
        }
        return false;
    }
};

QTcpSocket *acceptOne(QTcpServer &server)
{
    if (!QTest::qWaitFor([&server] { return server.hasPendingConnections(); }, kWait))
        return nullptr;
    return server.nextPendingConnection();
}

QTcpSocket *liveSocket(const DeviceSocket_v2 &socket) { return socket.findChild<QTcpSocket *>(); }

int settledCount(QSignalSpy &spy)
{
    if (spy.isEmpty())
        spy.wait(kWait);
    if (!spy.isEmpty())
        spy.wait(kSettle);
    return spy.count();
}

} // namespace

Q_DECLARE_METATYPE(Peer)

class tst_DeviceSocket : public QObject
{
    Q_OBJECT

private:
    bool openTo(DeviceSocket_v2 &socket, Peer peer, Target &target)
    {
        if (!target.listen(peer))
            return false;
        QSignalSpy connected(&socket, &DeviceSocket_v2::connected);
        QSignalSpy error(&socket, &DeviceSocket_v2::error);
        socket.open(kHost, target.port);
        switch (peer) {
        case Peer::Accepting:
        case Peer::NotReading:
            return connected.wait(kWait);
        case Peer::Refusing:
            return !error.isEmpty() || error.wait(kWait);
        case Peer::BacklogFull:
            return socket.lastState() == QAbstractSocket::ConnectingState;
        }
        return false;
    }

    static bool backUpWrites(DeviceSocket_v2 &socket)
    {
        return socket.write(QByteArray(kStuckBytes, 'x')) == kStuckBytes && liveSocket(socket)
               && liveSocket(socket)->bytesToWrite() > 0;
    }

    std::unique_ptr<LogCapture> m_log;

private Q_SLOTS:
    void init() { m_log.reset(new LogCapture); }

    void cleanup()
    {
        const QStringList unexpected = m_log->unexpectedQtWarnings();
        m_log.reset();
        QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char('\n'))));
    }

    void connectReportsEachState()
    {
        Target target;
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        QSignalSpy connected(&socket, &DeviceSocket_v2::connected);
        QSignalSpy disconnected(&socket, &DeviceSocket_v2::disconnected);
        QList<QAbstractSocket::SocketState> relayed;
        QList<QAbstractSocket::SocketState> recorded;
        connect(&socket, &DeviceSocket_v2::stateChanged, this, [&](QAbstractSocket::SocketState state) {
            relayed.append(state);
            recorded.append(socket.lastState());
        });

        QVERIFY(openTo(socket, Peer::Accepting, target));
        QCOMPARE(connected.count(), 1);
        const QList<QAbstractSocket::SocketState> expected{QAbstractSocket::HostLookupState,
                                                           QAbstractSocket::ConnectingState,
                                                           QAbstractSocket::ConnectedState};
        QCOMPARE(relayed, expected);
        QCOMPARE(recorded, expected);
        QCOMPARE(liveSocket(socket)->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);

        QVERIFY(!disconnected.wait(kSettle));
        QCOMPARE(liveSocket(socket)->state(), QAbstractSocket::ConnectedState);
    }

    void closeEndsInOneDisconnected_data()
    {
        QTest::addColumn<Peer>("peer");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("keepsSocket");

        QTest::newRow("connected, orderly") << Peer::Accepting << false << true;
        QTest::newRow("connected, forced") << Peer::Accepting << true << false;
        QTest::newRow("connecting, orderly") << Peer::BacklogFull << false << false;
        QTest::newRow("peer not reading, orderly") << Peer::NotReading << false << false;
        QTest::newRow("refused, orderly") << Peer::Refusing << false << false;
    }
    void closeEndsInOneDisconnected()
    {
        QFETCH(Peer, peer);
        QFETCH(bool, force);
        QFETCH(bool, keepsSocket);

        Target target;
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        QVERIFY(openTo(socket, peer, target));
        if (peer == Peer::NotReading)
            QVERIFY(backUpWrites(socket));
        QPointer<QTcpSocket> first = liveSocket(socket);
        QVERIFY(first);
        QTcpSocket *serverSide = peer == Peer::Accepting ? acceptOne(*target.server) : nullptr;
        QVERIFY(peer != Peer::Accepting || serverSide);
        QSignalSpy disconnected(&socket, &DeviceSocket_v2::disconnected);
        QSignalSpy connected(&socket, &DeviceSocket_v2::connected);

        socket.close(force);
        QCOMPARE(settledCount(disconnected), 1);
        QCOMPARE(connected.count(), 0);
        QCOMPARE(!first.isNull(), keepsSocket);
        QCOMPARE(liveSocket(socket) != nullptr, keepsSocket);
        if (serverSide)
            QTRY_COMPARE_WITH_TIMEOUT(serverSide->state(), QAbstractSocket::UnconnectedState, kWait);

        Target next;
        QVERIFY(openTo(socket, Peer::Accepting, next));
        QCOMPARE(liveSocket(socket) == first.data(), keepsSocket);
    }

    void connectionAttemptFails_data()
    {
        QTest::addColumn<Peer>("peer");
        QTest::addColumn<int>("expectedError");

        QTest::newRow("refused") << Peer::Refusing << int(QAbstractSocket::ConnectionRefusedError);
        QTest::newRow("no answer") << Peer::BacklogFull << -1;
    }
    void connectionAttemptFails()
    {
        QFETCH(Peer, peer);
        QFETCH(int, expectedError);

        Target target;
        QVERIFY(target.listen(peer));
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        QStringList order;
        connect(&socket, &DeviceSocket_v2::error, this, [&] { order.append(QStringLiteral("error")); });
        connect(&socket, &DeviceSocket_v2::disconnected, this, [&] { order.append(QStringLiteral("disconnected")); });
        QSignalSpy error(&socket, &DeviceSocket_v2::error);
        QSignalSpy disconnected(&socket, &DeviceSocket_v2::disconnected);
        QSignalSpy connected(&socket, &DeviceSocket_v2::connected);

        socket.open(kHost, target.port);
        QPointer<QTcpSocket> first = liveSocket(socket);
        QVERIFY(first);
        QCOMPARE(settledCount(disconnected), 1);
        QVERIFY2(connected.isEmpty(), "the handshake completed against a full backlog");
        QVERIFY(first.isNull());

        if (expectedError < 0) {
            QCOMPARE(order, QStringList{QStringLiteral("disconnected")});
        } else {
            QCOMPARE(order, (QStringList{QStringLiteral("error"), QStringLiteral("disconnected")}));
            QCOMPARE(error.first().first().value<QAbstractSocket::SocketError>(),
                     QAbstractSocket::SocketError(expectedError));
            QCOMPARE(socket.lastError(), QAbstractSocket::SocketError(expectedError));
            QVERIFY(!socket.lastErrorString().isEmpty());
        }

        Target next;
        QVERIFY(openTo(socket, Peer::Accepting, next));
        QVERIFY(liveSocket(socket));
    }

};

QTEST_GUILESS_MAIN(tst_DeviceSocket)
#include "tst_devicesocket.moc"
