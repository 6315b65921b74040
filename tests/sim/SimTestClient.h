#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>

// A host as small as it can be, written for these tests from the frame tables
// alone: it sends request frames and cuts response frames out of the stream.
// Deliberately not the simulator's own codec, so that the two check each other.
class SimTestClient : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        quint16 command = 0; // response bit cleared
        quint16 ack = 0;
        quint16 state = 0;
        QByteArray payload;
    };

    explicit SimTestClient(QObject *parent = nullptr);

    bool connectTo(quint16 port);
    void send(quint16 command, const QByteArray &payload = QByteArray());
    // Request frame bytes exactly as they go on the wire.
    static QByteArray requestFrame(quint16 command, const QByteArray &payload);

    QTcpSocket &socket() { return m_socket; }
    QList<Response> responses;
    // Every byte received, in order.
    QByteArray received;
    // Frames whose header lacked the response bit.
    int framesWithoutResponseBit = 0;
    // Only collect bytes into received, cut nothing (for garbage).
    bool rawOnly = false;

signals:
    void responseReceived();

private:
    void onReadyRead();
    QTcpSocket m_socket;
    QByteArray m_buffer;
    int m_offset = 0;
};
