#include "DeviceSocket_v2.h"
#include "LogCapture.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
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
// Open and close time-outs of the object under test.
constexpr int kTimeout = 250;
// For a signal that has to come.
constexpr int kWait = 3000;
// Outlasts both timers: long enough for a second disconnected() to show.
constexpr int kSettle = 2 * kTimeout + 150;
// More than the kernel holds for a peer that does not read (the send buffer
// grows to 4 MiB at most here, the peer's receive buffer is pinned small), so
// that an orderly close stays pending with bytes still to write.
constexpr int kStuckBytes = 16 * 1024 * 1024;

// A loopback listener that never accepts, for the two peers QTcpServer cannot
// play: one whose accept queue is full, so that the kernel drops any further
// SYN and a connection attempt hangs in the handshake; and one that lets
// connections complete but never reads them, so that writes back up and an
// orderly close cannot finish.
class StalledListener
{
public:
    StalledListener(int backlog, int receiveBuffer)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0)
            return;
        // Set on the listener, inherited by every connection it completes.
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

    // With listen(fd, 0) Linux keeps one completed connection waiting and drops
    // the SYN of every further one until that one is accepted, which here is
    // never. The first filler has to complete; the second takes the place a
    // kernel rounding the backlog up would still offer.
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

// The peers open() is pointed at.
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

// The server's side of the connection just made; the server notices it in
// its own time, which may be after the client's connected().
QTcpSocket *acceptOne(QTcpServer &server)
{
    if (!QTest::qWaitFor([&server] { return server.hasPendingConnections(); }, kWait))
        return nullptr;
    return server.nextPendingConnection();
}

QTcpSocket *liveSocket(const DeviceSocket_v2 &socket)
{
    return socket.findChild<QTcpSocket *>();
}

// Waits for a signal that has to come, then long enough for either timer to
// add a second one, and returns how many there were.
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
    // The object's own trace lines as "function: message", in order.
    QStringList traces() const
    {
        static const QString prefix = QStringLiteral("[DRAVIK.socket] ");
        static const QString scope = QStringLiteral("DeviceSocket_v2::");
        QStringList result;
        for (const QString &line : m_log->texts(QtDebugMsg, QStringLiteral("dravik.trace"))) {
            const int name = line.indexOf(scope);
            const int end = line.indexOf(QLatin1String(") "), name);
            if (!line.startsWith(prefix) || name < 0 || end < 0)
                continue;
            const int open = line.indexOf(QLatin1Char('('), name);
            result.append(line.mid(name + scope.size(), open - name - scope.size()) + QStringLiteral(": ")
                          + line.mid(end + 2));
        }
        return result;
    }

    // Opens towards the peer and waits until the socket has got as far as the
    // peer lets it: connected, refused, or hanging in the handshake.
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

    // Fills what the kernel will take and leaves the rest queued in the
    // socket, so that an orderly close has to wait for a peer that never reads.
    static bool backUpWrites(DeviceSocket_v2 &socket)
    {
        return socket.write(QByteArray(kStuckBytes, 'x')) == kStuckBytes && liveSocket(socket)
               && liveSocket(socket)->bytesToWrite() > 0;
    }

    std::unique_ptr<LogCapture> m_log;

private Q_SLOTS:
    void initTestCase()
    {
        // Several checks read the trace lines: which branch open() took.
        QLoggingCategory::setFilterRules(QStringLiteral("dravik.trace.debug=true"));
    }

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
        QSignalSpy inspect(&socket, &DeviceSocket_v2::inspectEvent);
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
        // Recorded before relayed, so a receiver of stateChanged() already reads the new state.
        QCOMPARE(recorded, expected);
        QStringList texts;
        for (const QList<QVariant> &event : qAsConst(inspect)) {
            QCOMPARE(event.at(0).toInt(), 0);
            const QVariantHash hash = event.at(1).toHash();
            QCOMPARE(hash.keys(), QStringList{QStringLiteral("text")});
            texts.append(hash.value(QStringLiteral("text")).toString());
        }
        QCOMPARE(texts, (QStringList{QStringLiteral("socket state changed 1"), QStringLiteral("socket state changed 2"),
                                     QStringLiteral("socket state changed 3")}));
        QCOMPARE(liveSocket(socket)->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);

        // The open timer must have stopped with the connection: expiring, it
        // would tear down a healthy link.
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
        // The close timer ends it; the open timer must not add a second one.
        QTest::newRow("connecting, orderly") << Peer::BacklogFull << false << false;
        QTest::newRow("connecting, forced") << Peer::BacklogFull << true << false;
        // The close time-out: the peer never takes the bytes the close waits for.
        QTest::newRow("peer not reading, orderly") << Peer::NotReading << false << false;
        QTest::newRow("peer not reading, forced") << Peer::NotReading << true << false;
        // Refused: the socket is back in UnconnectedState with the open timer running.
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

        // Whatever the way out, the object is ready for the next connection, and
        // an orderly close leaves the socket to be used again.
        Target next;
        QVERIFY(openTo(socket, Peer::Accepting, next));
        QCOMPARE(liveSocket(socket) == first.data(), keepsSocket);
    }

    void closeWithoutSocket_data()
    {
        QTest::addColumn<bool>("force");
        QTest::newRow("orderly") << false;
        QTest::newRow("forced") << true;
    }
    void closeWithoutSocket()
    {
        QFETCH(bool, force);
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        QSignalSpy disconnected(&socket, &DeviceSocket_v2::disconnected);
        QSignalSpy stateChanged(&socket, &DeviceSocket_v2::stateChanged);

        socket.close(force);
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!disconnected.wait(kSettle));
        QVERIFY(!liveSocket(socket));
        QVERIFY(stateChanged.isEmpty());
        QCOMPARE(socket.readAll(), QByteArray());
        QCOMPARE(socket.write(QByteArrayLiteral("\x01\x02")), qint64(-1));
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
        // The open time-out ends both: a refusal alone leaves the attempt open.
        QCOMPARE(settledCount(disconnected), 1);
        QVERIFY2(connected.isEmpty(), "the handshake completed against a full backlog");
        QVERIFY(first.isNull());
        QVERIFY(traces().contains(QStringLiteral("destroySocket: socket destroyed")));

        if (expectedError < 0) {
            QCOMPARE(order, QStringList{QStringLiteral("disconnected")});
        } else {
            QCOMPARE(order, (QStringList{QStringLiteral("error"), QStringLiteral("disconnected")}));
            QCOMPARE(error.first().first().value<QAbstractSocket::SocketError>(),
                     QAbstractSocket::SocketError(expectedError));
            QCOMPARE(socket.lastError(), QAbstractSocket::SocketError(expectedError));
            QVERIFY(!socket.lastErrorString().isEmpty());
            const QStringList warnings = m_log->texts(QtWarningMsg, QStringLiteral("dravik")).filter(
                QStringLiteral("DeviceSocket_v2::onError"));
            QCOMPARE(warnings.size(), 1);
            QVERIFY(warnings.first().startsWith(QLatin1String("[DRAVIK.socket] ")));
            QVERIFY(warnings.first().endsWith(
                QStringLiteral(" QAbstractSocket::ConnectionRefusedError ") + socket.lastErrorString()));
        }

        // After the time-out the next open() starts over with a new socket.
        Target next;
        QVERIFY(openTo(socket, Peer::Accepting, next));
        QVERIFY(liveSocket(socket));
    }

    void openWhileBusy_data()
    {
        QTest::addColumn<Peer>("peer");
        QTest::addColumn<bool>("closing");

        QTest::newRow("connected") << Peer::Accepting << false;
        QTest::newRow("connecting") << Peer::BacklogFull << false;
        QTest::newRow("orderly close pending") << Peer::NotReading << true;
    }
    void openWhileBusy()
    {
        QFETCH(Peer, peer);
        QFETCH(bool, closing);

        Target target;
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        QVERIFY(openTo(socket, peer, target));
        if (closing) {
            QVERIFY(backUpWrites(socket));
            socket.close(false);
            QCOMPARE(liveSocket(socket)->state(), QAbstractSocket::ClosingState);
        }
        QTcpSocket *serverSide = nullptr;
        std::unique_ptr<QSignalSpy> serverConnections;
        if (target.server) {
            serverSide = acceptOne(*target.server);
            QVERIFY(serverSide);
            serverConnections.reset(new QSignalSpy(target.server.get(), &QTcpServer::newConnection));
        }
        QSignalSpy disconnected(&socket, &DeviceSocket_v2::disconnected);
        QSignalSpy connected(&socket, &DeviceSocket_v2::connected);
        m_log->clear();

        socket.open(kHost, target.port);
        QCOMPARE(settledCount(disconnected), 1);
        QVERIFY(connected.isEmpty());
        QVERIFY(!liveSocket(socket));

        // No second attempt: open() went straight to the forced close, after
        // stopping a running close timer first.
        QStringList expected;
        if (closing)
            expected << QStringLiteral("open: close timer is active");
        expected << QStringLiteral("open: invalid state, closing") << QStringLiteral("destroySocket: socket destroyed");
        QCOMPARE(traces().filter(QRegularExpression(QStringLiteral("^(open|destroySocket): "))), expected);
        if (serverSide) {
            QCOMPARE(serverConnections->count(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(serverSide->state(), QAbstractSocket::UnconnectedState, kWait);
            QVERIFY(!target.server->hasPendingConnections());
        }
    }

    void peerEndsConnection_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("peer closes") << false;
        QTest::newRow("peer resets") << true;
    }
    void peerEndsConnection()
    {
        QFETCH(bool, reset);

        Target target;
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        QVERIFY(openTo(socket, Peer::Accepting, target));
        QPointer<QTcpSocket> first = liveSocket(socket);
        QTcpSocket *serverSide = acceptOne(*target.server);
        QVERIFY(serverSide);
        QSignalSpy disconnected(&socket, &DeviceSocket_v2::disconnected);
        QSignalSpy error(&socket, &DeviceSocket_v2::error);

        if (reset) {
            // Linger with time 0 turns the close into a RST.
            const linger hard{1, 0};
            QCOMPARE(::setsockopt(int(serverSide->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
        }
        serverSide->abort();

        QCOMPARE(settledCount(disconnected), 1);
        QCOMPARE(error.count(), 1);
        QCOMPARE(error.first().first().value<QAbstractSocket::SocketError>(),
                 QAbstractSocket::RemoteHostClosedError);
        QCOMPARE(socket.lastState(), QAbstractSocket::UnconnectedState);

        // The socket is kept and serves the next connection.
        QVERIFY(first);
        Target next;
        QVERIFY(openTo(socket, Peer::Accepting, next));
        QCOMPARE(liveSocket(socket), first.data());
    }

    // A receiver that closes by force from inside error() is inside the
    // socket's own signal; the socket must survive that, and the link still
    // ends in one disconnected().
    void forcedCloseFromErrorReceiver_data()
    {
        QTest::addColumn<Peer>("peer");
        QTest::newRow("refused") << Peer::Refusing;
        QTest::newRow("peer closes") << Peer::Accepting;
    }
    void forcedCloseFromErrorReceiver()
    {
        QFETCH(Peer, peer);

        Target target;
        QVERIFY(target.listen(peer));
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        connect(&socket, &DeviceSocket_v2::error, &socket, [&socket] { socket.close(true); });
        QSignalSpy connected(&socket, &DeviceSocket_v2::connected);
        QSignalSpy disconnected(&socket, &DeviceSocket_v2::disconnected);

        socket.open(kHost, target.port);
        QPointer<QTcpSocket> first = liveSocket(socket);
        if (peer == Peer::Accepting) {
            QVERIFY(connected.wait(kWait));
            QTcpSocket *serverSide = acceptOne(*target.server);
            QVERIFY(serverSide);
            serverSide->abort();
        }

        QCOMPARE(settledCount(disconnected), 1);
        QVERIFY(!liveSocket(socket));
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), kWait);
    }

    void bytesRoundTrip_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("one byte") << 1;
        QTest::newRow("a frame") << 64;
        // More than one read's worth: arrives in several readyRead()s.
        QTest::newRow("1 MiB") << 1024 * 1024;
    }
    void bytesRoundTrip()
    {
        QFETCH(int, size);

        Target target;
        DeviceSocket_v2 socket(kTimeout, kTimeout);
        QVERIFY(openTo(socket, Peer::Accepting, target));
        QTcpSocket *serverSide = acceptOne(*target.server);
        QVERIFY(serverSide);
        QByteArray payload(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            payload[i] = char(i * 7 + (i >> 8));

        QCOMPARE(socket.write(payload), qint64(size));
        QByteArray atPeer;
        QTRY_COMPARE_WITH_TIMEOUT((atPeer += serverSide->readAll()).size(), size, kWait);
        QCOMPARE(atPeer, payload);

        QSignalSpy readyRead(&socket, &DeviceSocket_v2::readyRead);
        QCOMPARE(serverSide->write(payload), qint64(size));
        QByteArray received;
        QTRY_COMPARE_WITH_TIMEOUT((received += socket.readAll()).size(), size, kWait);
        QCOMPARE(received, payload);
        QVERIFY(!readyRead.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_DeviceSocket)
#include "tst_devicesocket.moc"
