#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// The detector's end of a link in tests: a listener on 127.0.0.1 (an
// ephemeral port) that records the bytes and the request frames it receives
// and, if given a responder, answers each request. Frames are cut here with
// code of its own, so a misreading in the plug-in's codec shows as a failure.
class LoopbackPeer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        quint16 command;
        QByteArray payload;
    };
    // Returns the bytes to send back for one request (empty: stay silent).
    using Responder = std::function<QByteArray(const Request &)>;

    LoopbackPeer();

    // "127.0.0.1:PORT", as the connection setting holds it.
    QString address() const;
    quint16 port() const { return m_server.serverPort(); }
    void setResponder(Responder responder) { m_responder = std::move(responder); }

    // A response frame as a detector sends it: header with the response bit,
    // acknowledge code, state code, length, payload; all little-endian.
    static QByteArray response(quint16 command, quint16 ackCode, quint16 stateCode, const QByteArray &payload);

    QPointer<QTcpSocket> client;
    int connections = 0;
    QByteArray received;
    QList<Request> requests;

Q_SIGNALS:
    void requestReceived(quint16 command, QByteArray payload);

private:
    void onReadyRead();

    QTcpServer m_server;
    Responder m_responder;
    QByteArray m_pending;
};
