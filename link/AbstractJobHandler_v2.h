#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

// A job on the protocol thread: it claims command ids, receives the responses
// to them and asks the protocol handler to send requests. The protocol
// handler is its parent.
class AbstractJobHandler_v2 : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The command ids whose responses this job wants. Claimed ids with nothing
    // to do are legitimate: they keep those responses from being reported as unknown.
    virtual QList<quint16> commands() const = 0;

    // The detector's acknowledge codes 1 to 7 refuse a request; 0 and any
    // other code count as success.
    static bool isRefusal(quint16 ackCode) { return ackCode >= 1 && ackCode <= 7; }

public Q_SLOTS:
    // One response frame; command is the id without the response bit.
    virtual void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) = 0;
    // The link went down: responses to what is in flight will never come.
    // Called on the protocol thread by the protocol handler for every job.
    virtual void onDisconnect() {}

Q_SIGNALS:
    void sendQlpCommand(quint16 command, QByteArray cmdData);
    // The detector refused a request (an acknowledge code from 1 to 7).
    // subjects says what was refused where the command has several: the
    // parameter ids of a refused write, the channel group of a refused
    // transfer; empty otherwise.
    void requestRefused(quint16 command, quint16 ackCode, QList<int> subjects);
};
