#include "DravikMeasurementHandler_v2.h"

#include "QxtLogger.h"
#include "RawDataUnpacker_v2.h"

namespace {
const char *const kTag = "[DRAVIK.MH]:";
const quint16 kStart = 0x0F00;
const quint16 kStop = 0x0F01;
const quint16 kTransfer = 0x0F5B;
const quint16 kDiscard = 0x0F06;
}

DravikMeasurementHandler_v2::DravikMeasurementHandler_v2(QObject *parent)
    : AbstractMeasurementJob_v2(parent)
    , m_unpacker(new RawDataUnpacker_v2)
{
    m_handlers = {
        {kStart, &DravikMeasurementHandler_v2::onStartAcknowledged},
        {kStop, &DravikMeasurementHandler_v2::onStopAcknowledged},
        {kTransfer, &DravikMeasurementHandler_v2::onDataFrame},
        // Claimed so that its acknowledge is not reported as unknown; nothing to do.
        {kDiscard, nullptr},
    };

    m_unpackThread.setObjectName(QStringLiteral("DravikUnpackThread"));
    m_unpacker->moveToThread(&m_unpackThread);
    connect(&m_unpackThread, &QThread::finished, m_unpacker, &QObject::deleteLater);
    connect(m_unpacker, &RawDataUnpacker_v2::channelData, this, &AbstractMeasurementJob_v2::channelData);
    connect(m_unpacker, &RawDataUnpacker_v2::channelDataTermination, this,
            &AbstractMeasurementJob_v2::channelDataTermination);
    connect(this, &DravikMeasurementHandler_v2::unpackData, m_unpacker, &RawDataUnpacker_v2::onUnpackData);
    connect(this, &DravikMeasurementHandler_v2::setUnpackerGainCompensation, m_unpacker,
            &RawDataUnpacker_v2::onSetGainCompensation);
    // Data frames take a detour through the unpack thread; the answers to
    // start and stop take the same one, so the device never hears that an
    // acquisition started before the blocks of the previous one have arrived,
    // and so do the measurement-state answers (passBehindData()).
    connect(this, &DravikMeasurementHandler_v2::passThroughUnpacker, m_unpacker, &RawDataUnpacker_v2::onPass);
    connect(m_unpacker, &RawDataUnpacker_v2::passed, this, &DravikMeasurementHandler_v2::onPassed);
    m_unpackThread.start(QThread::InheritPriority);
}

DravikMeasurementHandler_v2::~DravikMeasurementHandler_v2()
{
    m_unpackThread.quit();
    m_unpackThread.wait();
}

QList<quint16> DravikMeasurementHandler_v2::commands() const
{
    return m_handlers.keys();
}

void DravikMeasurementHandler_v2::processMeasurementCommand(MeasurementCommands command, int data)
{
    const QByteArray channel(1, char(data & 0xFF));
    switch (command) {
    case StartMeasurement:
        Q_EMIT sendQlpCommand(kStart, QByteArray());
        break;
    case StopMeasurement:
        Q_EMIT sendQlpCommand(kStop, QByteArray());
        break;
    case TransferData:
        Q_EMIT sendQlpCommand(kTransfer, channel);
        break;
    case DiscardData:
        Q_EMIT sendQlpCommand(kDiscard, channel);
        break;
    }
}

void DravikMeasurementHandler_v2::processValidChannels(const QList<int> &channels)
{
    // The detector needs no list; the transfer commands name the channels.
    Q_UNUSED(channels)
}

void DravikMeasurementHandler_v2::setGainCompensation(bool enabled)
{
    Q_EMIT setUnpackerGainCompensation(enabled);
}

void DravikMeasurementHandler_v2::passBehindData(quint16 command, quint16 stateCode, quint16 ackCode,
                                                 const QByteArray &cmdData)
{
    m_behindData.enqueue({command, stateCode, ackCode, cmdData, m_connection});
    Q_EMIT passThroughUnpacker(command, ackCode == 0);
}

void DravikMeasurementHandler_v2::onDisconnect()
{
    ++m_connection;
}

void DravikMeasurementHandler_v2::onPassed()
{
    if (m_behindData.isEmpty())
        return;
    const Answer answer = m_behindData.dequeue();
    if (answer.command == kStart || answer.command == kStop)
        Q_EMIT measurementCommandResult(answer.command == kStart ? StartMeasurement : StopMeasurement,
                                        answer.ackCode == 0);
    else if (answer.connection == m_connection)
        Q_EMIT answerBehindData(answer.command, answer.stateCode, answer.ackCode, answer.data);
}

void DravikMeasurementHandler_v2::onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode,
                                              QByteArray cmdData)
{
    const auto it = m_handlers.constFind(command);
    if (it == m_handlers.constEnd()) {
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "no handler for command", command);
        return;
    }
    if (it.value())
        (this->*it.value())(command, stateCode, ackCode, cmdData);
}

void DravikMeasurementHandler_v2::onStartAcknowledged(quint16 command, quint16 stateCode, quint16 ackCode,
                                                      const QByteArray &data)
{
    QxtLogger::getInstance()->debug(kTag, "processed command StartMeasurement");
    // The code goes straight to the device, ahead of the answer itself.
    if (isRefusal(ackCode))
        Q_EMIT requestRefused(command, ackCode, {});
    passBehindData(command, stateCode, ackCode, data);
}

void DravikMeasurementHandler_v2::onStopAcknowledged(quint16 command, quint16 stateCode, quint16 ackCode,
                                                     const QByteArray &data)
{
    QxtLogger::getInstance()->debug(kTag, "processed command StopMeasurement");
    if (isRefusal(ackCode))
        Q_EMIT requestRefused(command, ackCode, {});
    passBehindData(command, stateCode, ackCode, data);
}

void DravikMeasurementHandler_v2::onDataFrame(quint16 command, quint16, quint16 ackCode, const QByteArray &data)
{
    // A refusal that names its channel group (as refused sets name their
    // instance) withholds data the detector announced. Without the byte it
    // says there was nothing to send: a transfer asked for twice.
    if (isRefusal(ackCode) && !data.isEmpty() && data.size() < RawDataUnpacker_v2::kHeaderSize) {
        Q_EMIT requestRefused(command, ackCode, {quint8(data.at(0))});
        return;
    }
    Q_EMIT unpackData(data);
}
