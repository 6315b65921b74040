#pragma once

#include "AbstractMeasurementJob_v2.h"

#include <QHash>
#include <QThread>

class RawDataUnpacker_v2;

// The measurement job on the protocol thread: sends start, stop, transfer and
// discard, reports the detector's acknowledgement of start and stop, and
// hands every data frame, unchanged, to the raw-data unpacker on its own
// thread. The unpacker's blocks come back through this job to the protocol
// handler. Stateless in use: every command is sent as asked.
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

public Q_SLOTS:
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData) override;

Q_SIGNALS:
    void unpackData(QByteArray cmdData);
    void setUnpackerGainCompensation(bool useGainCompensation);
    // A start or stop answer, reported once every data frame received before
    // it has been unpacked and handed on.
    void passThroughUnpacker(int command, bool success);

private:
    using Handler = void (DravikMeasurementHandler_v2::*)(quint16, quint16, quint16, const QByteArray &);

    void onStartAcknowledged(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &data);
    void onStopAcknowledged(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &data);
    void onDataFrame(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &data);

    QHash<quint16, Handler> m_handlers;
    QThread m_unpackThread;
    RawDataUnpacker_v2 *m_unpacker = nullptr;
};
