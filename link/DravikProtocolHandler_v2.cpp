#include "DravikProtocolHandler_v2.h"

#include "AbstractJobHandler_v2.h"
#include "DravikParameterHandler_v2.h"
#include "QlpCodec.h"
#include "QlpConverter_v2.h"
#include "QxtLogger.h"

#include <QSet>
#include <QThread>

namespace {
const char *const kTag = "[DRAVIK.PH]:";

// Firmware update states that matter to the alive supervision.
enum FirmwareState {
    FirmwareTransferStarted = 0,
    FirmwareTransferFailed = 3,
    FirmwareWritingSuccessful = 6,
    FirmwareWritingFailed = 7
};
}

DravikProtocolHandler_v2::DravikProtocolHandler_v2(const QSharedPointer<AbstractParameterContainer> &userParameters,
                                                   const QSharedPointer<AbstractParameterContainer> &deviceParameters,
                                                   const Jobs &jobs, QObject *parent)
    : DravikAbstractProtocolHandler_v2(userParameters, parent)
    , m_converter(new QlpConverter_v2(false))
    , m_measurementHandler(jobs.measurement)
    , m_fileTransferHandler(jobs.fileTransfer)
    , m_logFileReader(jobs.logFileReader)
    , m_firmwareUpdateHandler(jobs.firmwareUpdate)
    , m_deviceParameters(deviceParameters)
{
    // The converter is created without a parent; it follows the handler
    // to the protocol thread only as a child.
    m_converter->setParent(this);
    for (QObject *job : {static_cast<QObject *>(m_measurementHandler), static_cast<QObject *>(m_fileTransferHandler),
                         static_cast<QObject *>(m_logFileReader), static_cast<QObject *>(m_firmwareUpdateHandler)}) {
        if (job)
            adopt(job);
    }
}

DravikProtocolHandler_v2::DravikProtocolHandler_v2(const QSharedPointer<AbstractParameterContainer> &userParameters,
                                                   const QSharedPointer<AbstractParameterContainer> &deviceParameters,
                                                   QObject *parent)
    : DravikProtocolHandler_v2(userParameters, deviceParameters, Jobs(), parent)
{
}

DravikProtocolHandler_v2::~DravikProtocolHandler_v2() = default;

QThread *DravikProtocolHandler_v2::moveToProtocolThread(QObject *threadParent)
{
    auto *thread = new QThread(threadParent);
    thread->setObjectName(QLatin1String(kThreadName));
    moveToThread(thread);
    connect(thread, &QThread::finished, this, &QObject::deleteLater);
    return thread;
}

void DravikProtocolHandler_v2::init()
{
    QxtLogger *log = QxtLogger::getInstance();

    m_parameterHandler = new DravikParameterHandler_v2(m_deviceParameters);
    adopt(m_parameterHandler);

    initCommandHandler(m_fileTransferHandler);
    initCommandHandler(m_logFileReader);

    if (m_measurementHandler) {
        initCommandHandler(m_measurementHandler);
        connect(m_measurementHandler, &AbstractMeasurementJob_v2::measurementCommandResult, this,
                &DravikAbstractProtocolHandler_v2::measurementCommandResponse);
        connect(m_measurementHandler, &AbstractMeasurementJob_v2::channelData, this,
                &DravikAbstractProtocolHandler_v2::channelData);
        connect(m_measurementHandler, &AbstractMeasurementJob_v2::channelDataTermination, this,
                &DravikAbstractProtocolHandler_v2::channelDataTermination);
        connect(m_measurementHandler, &AbstractMeasurementJob_v2::answerBehindData, this,
                &DravikProtocolHandler_v2::deliverResponse);
    } else {
        log->error(kTag, Q_FUNC_INFO, "unable to create measurement handler");
    }

    initCommandHandler(m_parameterHandler);

    if (m_firmwareUpdateHandler) {
        initCommandHandler(m_firmwareUpdateHandler);
        connect(this, &DravikAbstractProtocolHandler_v2::updateFirmware, m_firmwareUpdateHandler,
                &AbstractFirmwareJob_v2::onUpdateFirmware);
        connect(this, &DravikAbstractProtocolHandler_v2::connectionChanged, m_firmwareUpdateHandler,
                &AbstractFirmwareJob_v2::onConnectionChanged);
        connect(m_firmwareUpdateHandler, &AbstractFirmwareJob_v2::processState, this,
                &DravikProtocolHandler_v2::onFirmwareUpdateState);
        connect(m_firmwareUpdateHandler, &AbstractFirmwareJob_v2::processState, this,
                &DravikAbstractProtocolHandler_v2::firmwareUpdateState);
    } else {
        log->error(kTag, Q_FUNC_INFO, "unable to create firmware update handler");
    }

    connect(m_converter, &QlpConverter_v2::frameToTransmit, this, &DravikProtocolHandler_v2::onFrameToSend);
    connect(m_converter, &QlpConverter_v2::receivedResponse, this, &DravikProtocolHandler_v2::onReceivedResponse);
    // A new connection starts with a clean receive state: a frame cut off by
    // the last disconnect must not swallow the first bytes of the next link.
    connect(this, &DravikAbstractProtocolHandler_v2::connectionChanged, this,
            &DravikProtocolHandler_v2::onConnectionChanged);
}

void DravikProtocolHandler_v2::adopt(QObject *job)
{
    // A parent in another thread is refused by Qt, so the job follows this
    // handler's thread first.
    if (job->thread() != thread())
        job->moveToThread(thread());
    job->setParent(this);
}

void DravikProtocolHandler_v2::initCommandHandler(AbstractJobHandler_v2 *handler)
{
    QxtLogger *log = QxtLogger::getInstance();
    if (!handler) {
        log->error(kTag, Q_FUNC_INFO, "invalid handler given");
        return;
    }
    const QList<quint16> ids = handler->commands();
    if (ids.isEmpty()) {
        log->error(kTag, Q_FUNC_INFO, "command handler without any command");
        return;
    }
    connect(handler, &AbstractJobHandler_v2::sendQlpCommand, this, &DravikProtocolHandler_v2::onSendQlpCommand,
            Qt::UniqueConnection);
    connect(handler, &AbstractJobHandler_v2::requestRefused, this, &DravikAbstractProtocolHandler_v2::requestRefused,
            Qt::UniqueConnection);
    for (quint16 id : ids)
        m_handlers.insert(id, handler);
}

void DravikProtocolHandler_v2::onReceivedResponse(quint16 cmdGroup, quint16 command, quint16 stateCode,
                                                  quint16 ackCode, QByteArray cmdData)
{
    const quint16 key = quint16(((cmdGroup & 0x7F) << 8) | command);
    AbstractJobHandler_v2 *handler = m_handlers.value(key);
    if (!handler) {
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "unknown command", QString::number(key, 16));
        return;
    }
    if (m_requested.contains(key))
        ++m_answers;
    // The detector answers a state poll after the raw data it sent before,
    // and says Ready only once it has sent everything it had. The data takes
    // a detour through the unpack thread; the state answer must take it too,
    // or the device (and the host) would see the detector Ready while the end
    // of the measurement is still being unpacked, and take the measurement as
    // over without it.
    if (key == kMeasurementStateCommand && m_measurementHandler)
        m_measurementHandler->passBehindData(key, stateCode, ackCode, cmdData);
    else
        deliverResponse(key, stateCode, ackCode, cmdData);
}

void DravikProtocolHandler_v2::deliverResponse(quint16 command, quint16 stateCode, quint16 ackCode,
                                               QByteArray cmdData)
{
    AbstractJobHandler_v2 *handler = m_handlers.value(command);
    if (!handler)
        return;
    handler->onQlpPacket(command, stateCode, ackCode, cmdData);
    // The container may be read from another thread at any time, and holds
    // the newest answer; the state of this one goes to the device in order.
    if (command == kMeasurementStateCommand && m_deviceParameters)
        Q_EMIT measurementStateAnswered(m_deviceParameters->value(kMeasurementStateId));
}

void DravikProtocolHandler_v2::onSendQlpCommand(quint16 command, QByteArray cmdData)
{
    // A job hears of success only through the response.
    transmitCommand(command, cmdData);
}

void DravikProtocolHandler_v2::onConnectionChanged(bool open)
{
    m_requested.clear();
    if (open) {
        m_converter->resetReceiveState();
        return;
    }
    // Nothing in flight will be answered any more; each job drops what it waits for.
    QSet<AbstractJobHandler_v2 *> jobs;
    for (const auto &job : qAsConst(m_handlers)) {
        if (job)
            jobs.insert(job);
    }
    for (AbstractJobHandler_v2 *job : qAsConst(jobs))
        job->onDisconnect();
}

void DravikProtocolHandler_v2::onFirmwareUpdateState(int state, double, QString)
{
    switch (state) {
    case FirmwareTransferStarted:
        pauseAliveSupervision(true);
        break;
    case FirmwareTransferFailed:
        // A refused second update reports a failed transfer too, while the
        // first one goes on: the detector stays busy, keep waiting for it.
        if (!m_firmwareUpdateHandler || !m_firmwareUpdateHandler->isRunning())
            pauseAliveSupervision(false);
        break;
    case FirmwareWritingSuccessful:
    case FirmwareWritingFailed:
        pauseAliveSupervision(false);
        break;
    default:
        break;
    }
}

void DravikProtocolHandler_v2::requestParameter(QList<int> parameterIds)
{
    if (m_parameterHandler)
        m_parameterHandler->requestParameter(parameterIds);
}

void DravikProtocolHandler_v2::requestParameter(int parameterId)
{
    if (m_parameterHandler)
        m_parameterHandler->requestParameter(parameterId);
}

void DravikProtocolHandler_v2::processMeasurementCommandIntern(MeasurementCommands command, int data)
{
    // Transfers are too frequent to log each one.
    if (command == StartMeasurement || command == StopMeasurement || command == DiscardData)
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, int(command));
    if (m_measurementHandler)
        m_measurementHandler->processMeasurementCommand(command, data);
}

void DravikProtocolHandler_v2::readLogFileIntern(QString filename)
{
    if (m_logFileReader)
        m_logFileReader->readLogFile(filename);
    else
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "no log file reader, reading not possible.");
}

void DravikProtocolHandler_v2::processValidChannels(QList<int> channels)
{
    if (m_measurementHandler)
        m_measurementHandler->processValidChannels(channels);
}

bool DravikProtocolHandler_v2::processReceivedData(QByteArray data)
{
    m_answers = 0;
    const int result = m_converter->receiveData(data);
    if (result == qlp::Ok || result == qlp::Incomplete)
        return m_answers > 0;
    QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "QLP frame error", result);
    // What followed the bad frame in this read is gone; the next read starts a new frame.
    m_converter->resetReceiveState();
    return false;
}

int DravikProtocolHandler_v2::transmitCommand(quint16 command, QByteArray data)
{
    const int result = m_converter->sendCommand(command, data);
    if (result == qlp::Ok)
        m_requested.insert(command);
    return result;
}

void DravikProtocolHandler_v2::setGainCompensation(bool enabled)
{
    if (m_measurementHandler)
        m_measurementHandler->setGainCompensation(enabled);
}
