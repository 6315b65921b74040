#include "DeviceSocket_v2.h"

#include "QxtLogger.h"

#include <QMetaType>
#include <QTcpSocket>

namespace {

const char *const kTag = "[DRAVIK.socket]";

// Counts how deep we are inside the socket's own signals for as long as a
// slot or relay of ours runs.
class SocketSignalScope
{
public:
    explicit SocketSignalScope(int &depth)
        : m_depth(depth)
    {
        ++m_depth;
    }
    ~SocketSignalScope() { --m_depth; }
    SocketSignalScope(const SocketSignalScope &) = delete;
    SocketSignalScope &operator=(const SocketSignalScope &) = delete;

private:
    int &m_depth;
};

} // namespace

DeviceSocket_v2::DeviceSocket_v2(int openTimeout, int closeTimeout, QObject *parent)
    : QObject(parent)
    , m_openTimer(this)
    , m_closeTimer(this)
    , m_openTimeout(openTimeout)
    , m_closeTimeout(closeTimeout)
{
    // The link layer's receivers may sit across a queued connection.
    qRegisterMetaType<QAbstractSocket::SocketError>();
    qRegisterMetaType<QAbstractSocket::SocketState>();

    m_openTimer.setSingleShot(true);
    m_closeTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &DeviceSocket_v2::onOpenTimer);
    connect(&m_closeTimer, &QTimer::timeout, this, &DeviceSocket_v2::onCloseTimer);
}

void DeviceSocket_v2::open(const QString &host, unsigned short port)
{
    if (m_closeTimer.isActive()) {
        QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, "close timer is active");
        m_closeTimer.stop();
    }

    if (!m_socket) {
        QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, "creating socket");
        m_socket = new QTcpSocket(this);
        connectSocket();
    }

    if (m_socket->state() != QAbstractSocket::UnconnectedState) {
        QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, "invalid state, closing");
        close(true);
        return;
    }

    QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, host, port);
    // Armed before connectToHost(), not after: the socket may report connected()
    // or an error from inside that call, and a receiver may close in response.
    // Started afterwards, the timer would then run on for a connection that is
    // up (and tear it down) or for one already closed (a second disconnected()).
    m_openTimer.start(m_openTimeout);
    m_socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void DeviceSocket_v2::connectSocket()
{
    // The timers are stopped before the news goes out, so that a receiver
    // reacting to it sees neither time-out still pending.
    connect(m_socket, &QTcpSocket::connected, &m_openTimer, &QTimer::stop);
    connect(m_socket, &QTcpSocket::connected, this, &DeviceSocket_v2::onConnected);
    connect(m_socket, &QTcpSocket::disconnected, &m_closeTimer, &QTimer::stop);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        SocketSignalScope scope(m_inSocketSignal);
        emit disconnected();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        SocketSignalScope scope(m_inSocketSignal);
        emit readyRead();
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, &DeviceSocket_v2::onError);
    // Recorded before relayed: a receiver of stateChanged() reads lastState().
    connect(m_socket, &QTcpSocket::stateChanged, this, &DeviceSocket_v2::onStateChanged);
    connect(m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState socketState) {
        SocketSignalScope scope(m_inSocketSignal);
        emit stateChanged(socketState);
    });
}

void DeviceSocket_v2::onConnected()
{
    SocketSignalScope scope(m_inSocketSignal);
    // Commands are small and answered one by one; Nagle would hold each back.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit connected();
}

void DeviceSocket_v2::onOpenTimer()
{
    if (m_socket) {
        QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, m_socket->state());
        destroySocket();
    }
    emit disconnected();
}

void DeviceSocket_v2::close(bool force)
{
    if (!m_socket) {
        m_closeTimer.stop();
        emit disconnected();
        return;
    }

    QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, m_socket->state());

    if (m_openTimer.isActive()) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "open timer is active");
        m_openTimer.stop();
    }

    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "not connected");
        emit disconnected();
        destroySocket();
        return;
    }

    if (m_socket->isOpen() && !force) {
        // The relayed disconnected() ends this when the socket has flushed and
        // closed; it stops the close timer on the way.
        m_closeTimer.start(m_closeTimeout);
        m_socket->close();
        return;
    }

    emit disconnected();
    destroySocket();
}

void DeviceSocket_v2::onCloseTimer()
{
    if (m_socket) {
        QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, m_socket->state());
        destroySocket();
    }
    emit disconnected();
}

void DeviceSocket_v2::destroySocket()
{
    m_closeTimer.stop();
    if (!m_socket)
        return;

    // Dropped from the member first: abort() below still reports the state
    // change, and a receiver acting on it must find us already without socket.
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;

    // Aborting a connected or closing socket makes it emit disconnected(), and
    // every caller of destroySocket() emits its own disconnected() around the
    // call; relayed, that would be a second one. So that relay is cut before
    // the abort. The state change still comes through, so lastState() and the
    // stateChanged() receivers end at UnconnectedState.
    disconnect(socket, &QTcpSocket::disconnected, nullptr, nullptr);
    socket->abort();
    socket->disconnect();

    if (m_inSocketSignal > 0) {
        // We are inside one of this socket's signals (a receiver of error() or
        // disconnected() closed by force), and the socket goes on using itself
        // after the emit returns: deleting it now would pull it from under its
        // own feet. It is aborted and cut off from everything, so deleting it
        // a moment later changes nothing anyone can see.
        socket->setParent(nullptr);
        socket->deleteLater();
    } else {
        delete socket;
    }

    QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, "socket destroyed");
}

void DeviceSocket_v2::onStateChanged(QAbstractSocket::SocketState socketState)
{
    SocketSignalScope scope(m_inSocketSignal);
    m_lastState = socketState;
    QxtLogger::getInstance()->trace(kTag, Q_FUNC_INFO, socketState);
    emit inspectEvent(0, QVariantHash{{QStringLiteral("text"),
                                       QStringLiteral("socket state changed %1").arg(int(socketState))}});
}

void DeviceSocket_v2::onError(QAbstractSocket::SocketError socketError)
{
    SocketSignalScope scope(m_inSocketSignal);
    // The socket that reported it, which need not be m_socket any more.
    auto *socket = qobject_cast<QAbstractSocket *>(sender());
    const QString text = socket ? socket->errorString() : QString();
    QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, socket ? socket->state() : m_lastState, socketError,
                                      text);
    m_lastError = socketError;
    m_lastErrorString = text;
    emit error(socketError);
}

QByteArray DeviceSocket_v2::readAll()
{
    if (!m_socket)
        return QByteArray();
    // The same bytes as readAll(), but when the socket holds them in one
    // block of its buffer (the rule while the reader keeps up), Qt hands that
    // block over instead of copying it: megabytes per read during a transfer.
    return m_socket->read(m_socket->bytesAvailable());
}

bool DeviceSocket_v2::isSocketOpen() const
{
    return m_socket && m_socket->isOpen();
}

qint64 DeviceSocket_v2::write(const QByteArray &data)
{
    if (!m_socket)
        return -1;
    return m_socket->write(data);
}
