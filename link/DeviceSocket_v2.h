#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantHash>

class QTcpSocket;

// The one TCP connection to the detector, with what a bare QTcpSocket lacks for
// it: a time limit on connecting, a time limit on an orderly disconnect, a
// teardown that always ends in disconnected(), and a record of the last state
// and error for the link layer's messages. It moves bytes and knows nothing of
// frames.
//
// Every path out of a connection attempt or a connection ends in exactly one
// disconnected() from this object, relayed from the TCP socket or emitted by a
// time-out or close path; the link layer leaves its connecting and
// disconnecting states on it.
//
// Lives on the protocol thread and is used only from there; no locks.
class DeviceSocket_v2 : public QObject
{
    Q_OBJECT

public:
    // The link layer passes 5000 ms for both.
    DeviceSocket_v2(int openTimeout, int closeTimeout, QObject *parent = nullptr);

    // Starts a connection; the outcome arrives as connected() or disconnected().
    // Refused, and closed by force, while a socket is not unconnected.
    void open(const QString &host, unsigned short port);
    // force false: disconnect in order, giving up after the close timeout;
    // force true: at once. The outcome always arrives as disconnected().
    void close(bool force);
    // Aborts and deletes the socket; the next open() creates a new one.
    void destroySocket();

    // Empty without a socket.
    QByteArray readAll();
    // Bytes written, or -1 without a socket or when the socket refuses them.
    qint64 write(const QByteArray &data);
    // True while a TCP socket exists and is open for reading and writing.
    bool isSocketOpen() const;

    QAbstractSocket::SocketError lastError() const { return m_lastError; }
    QString lastErrorString() const { return m_lastErrorString; }
    QAbstractSocket::SocketState lastState() const { return m_lastState; }

signals:
    void connected();
    void disconnected();
    void error(QAbstractSocket::SocketError socketError);
    void stateChanged(QAbstractSocket::SocketState socketState);
    void readyRead();
    void inspectEvent(int event, QVariantHash hash);

private slots:
    void onOpenTimer();
    void onCloseTimer();
    void onStateChanged(QAbstractSocket::SocketState socketState);
    void onError(QAbstractSocket::SocketError socketError);
    void onConnected();

private:
    void connectSocket();

    QTimer m_openTimer;
    QTimer m_closeTimer;
    QTcpSocket *m_socket = nullptr;
    const int m_openTimeout;
    const int m_closeTimeout;
    QAbstractSocket::SocketError m_lastError = QAbstractSocket::UnknownSocketError;
    QString m_lastErrorString;
    QAbstractSocket::SocketState m_lastState = QAbstractSocket::UnconnectedState;
    // Depth of the socket's own signals we are inside; see destroySocket().
    int m_inSocketSignal = 0;
};
