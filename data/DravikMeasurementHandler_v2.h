#pragma once

#include "AbstractMeasurementJob_v2.h"

#include <QHash>
#include <QQueue>
#include <QThread>

class RawDataUnpacker_v2;

// The measurement job on the protocol thread: sends start, stop, transfer and
// discard, reports the detector's acknowledgement of start and stop, and
// hands every data frame, unchanged, to the raw-data unpacker on its own
// thread. The unpacker's blocks come back through this job to the protocol
// handler. Stateless in use: every command is sent as asked. Answers that
// must not overtake the data received before them (start, stop, measurement
// state) are handed on behind it.
class DravikMeasurementHandler_v2 : public AbstractMeasurementJob_v2
{
    Q_OBJECT

public:
    explicit DravikMeasurementHandler_v2(QObject *parent = nullptr);
    // Quits and joins the unpack thread; the unpacker goes with it.
    ~DravikMeasurementHandler_v2() override;

    QList<quint16> commands() const override;
    void processMeasurementCommand(MeasurementCommands command, int data) override;
    void processValidChannels(const QList<int> &channels) override;
    void setGainCompensation(bool enabled) override;
    void passBehindData(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &cmdData) override;
    // Answers of other jobs from the connection that went down are not
    // handed back any more; start and stop answers still are.
    void onDisconnect() override;

public Q_SLOTS:
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) override;

Q_SIGNALS:
    void unpackData(QByteArray cmdData);
    void setUnpackerGainCompensation(bool useGainCompensation);
    // Queues a marker behind the data frames: the oldest waiting answer is
    // handed on when the unpacker gets to it.
    void passThroughUnpacker(int command, bool success);

private:
    using Handler = void (DravikMeasurementHandler_v2::*)(quint16, quint16, quint16, const QByteArray &);

    void onStartAcknowledged(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &data);
    void onStopAcknowledged(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &data);
    void onDataFrame(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &data);

    struct Answer
    {
        quint16 command;
        quint16 stateCode;
        quint16 ackCode;
        QByteArray data;
        int connection; // m_connection when it came in
    };

    // The unpacker got to the oldest marker: its answer goes on.
    void onPassed();

    QHash<quint16, Handler> m_handlers;
    // Answers whose markers are in the unpacker's queue, oldest first. As
    // long as that queue, which the frames fill; one poll answer per 100 ms.
    QQueue<Answer> m_behindData;
    int m_connection = 0;
    QThread m_unpackThread;
    RawDataUnpacker_v2 *m_unpacker = nullptr;
};
