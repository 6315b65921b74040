#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>

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
    static QByteArray requestFrame(quint16 command, const QByteArray &payload);

    QTcpSocket &socket() { return m_socket; }
    QList<Response> responses;
    QByteArray received;
    int framesWithoutResponseBit = 0;
    bool rawOnly = false;

signals:
    void responseReceived();

private:
    void onReadyRead();
    QTcpSocket m_socket;
    QByteArray m_buffer;
    int m_offset = 0;
};
