#pragma once

#include "AbstractJobHandler_v2.h"
#include "MeasurementCommands.h"

#include <QList>

// What the protocol handler needs of the measurement job: it sends the
// measurement commands and relays the unpacked raw data. The job itself
// lives with the data path; the link only knows this interface.
class AbstractMeasurementJob_v2 : public AbstractJobHandler_v2
{
    Q_OBJECT

public:
    using AbstractJobHandler_v2::AbstractJobHandler_v2;

    // Sends start, stop, transfer or discard; data is the hardware channel
    // for transfer and discard.
    virtual void processMeasurementCommand(MeasurementCommands command, int data) = 0;
    // The hardware channels of the coming acquisition.
    virtual void processValidChannels(const QList<int> &channels) = 0;
    // Switches the unpacker's gain compensation.
    virtual void setGainCompensation(bool enabled) = 0;
    // Hands an answer of another job back through answerBehindData() once
    // every data frame received before it has been unpacked and handed on.
    virtual void passBehindData(quint16 command, quint16 stateCode, quint16 ackCode, const QByteArray &cmdData) = 0;

Q_SIGNALS:
    void channelData(int channelId, quint64 triggerTimeStamp, quint64 packetTimeStamp, QByteArray data);
    void channelDataTermination(int channelId, quint64 triggerTimeStamp, quint64 packetTimeStamp);
    void measurementCommandResult(MeasurementCommands measCommand, bool success);
    void answerBehindData(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData);
};
