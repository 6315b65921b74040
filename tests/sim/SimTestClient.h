#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>

// The host's end of a link to the simulator in its tests: sends request
// frames and cuts the response frames with code of its own.
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

    QTcpSocket &socket() { return m_socket; }
    QList<Response> responses;
    QByteArray received; // every byte, as it came
    bool rawOnly = false; // keep the bytes only, cut no frames

private:
    void onReadyRead();
    QTcpSocket m_socket;
    QByteArray m_buffer;
};
