#include "SimDevice.h"

#include "SimAcquisition.h"
#include "SimByteOrder.h"
#include "SimFirmwareWriter.h"
#include "SimPacketStream.h"
#include "SimProtocol.h"
#include "SimSignalModel.h"

#include <QxtLogger.h>

#include <cmath>

using namespace SimProtocol;

namespace {

const char *const kTag = "[SIM.Device]:";
constexpr int kStatisticsSamples = 4096;
constexpr double kTwoPi = 6.283185307179586;

} // namespace

SimDevice::SimDevice(QObject *parent)
    : QObject(parent)
    , m_memory(m_identity)
    , m_acquisition(new SimAcquisition(&m_memory, this))
    , m_firmware(new SimFirmwareWriter(this))
{
    m_handlers = {
        {Identify, &SimDevice::identify},
        {MeasurementState, &SimDevice::measurementState},
        {StartMeasurement, &SimDevice::startStop},
        {StopMeasurement, &SimDevice::startStop},
        {DiscardData, &SimDevice::discard},
        {TransferData, &SimDevice::transfer},
        {GetAdcStatistics, &SimDevice::adcStatistics},
        {SetDeviceConfig, &SimDevice::deviceConfig},
        {GetDeviceConfig, &SimDevice::deviceConfig},
        {FileInfo, &SimDevice::fileTransfer},
        {FileBlock, &SimDevice::fileTransfer},
        {FileChecksum, &SimDevice::fileTransfer},
        {FileRead, &SimDevice::fileTransfer},
        {FirmwareWrite, &SimDevice::firmwareWrite},
        {ReadLog, &SimDevice::readLog},
    };

    connect(m_acquisition, &SimAcquisition::stateChanged, this, [this](int state) {
        if (state == AcquisitionTerminated || state == SimProtocol::TimedOut || state == SimProtocol::Stopped)
            logEvent(QStringLiteral("measurement state %1").arg(state));
        emit measurementStateChanged(state);
    });
    connect(m_firmware, &SimFirmwareWriter::reply, this,
            [this](const QByteArray &payload) { emit asyncReply(FirmwareWrite, AckOk, payload); });
    connect(m_firmware, &SimFirmwareWriter::written, this, [this](const QByteArray &image, quint8 mode) {
        m_acquisition->setNotReady(false);
        logEvent(QStringLiteral("firmware written: %1 bytes, mode %2").arg(image.size()).arg(mode));
        emit firmwareWritten(image, mode);
    });

    logEvent(QStringLiteral("boot: firmware %1, software %2, hardware %3, protocol %4")
                 .arg(m_identity.firmwareVersion)
                 .arg(m_identity.softwareVersion)
                 .arg(m_identity.hardwareVersion)
                 .arg(m_identity.protocolVersion));
}

SimDevice::~SimDevice() = default;

void SimDevice::setIdentity(const SimIdentity &identity)
{
    m_identity = identity;
    // The configuration items that repeat the identity follow it.
    QByteArray serial;
    simbytes::appendU64(serial, identity.serial);
    m_memory.setPayload(GetDeviceConfig, SimPayloads::ConfigSerialNumber,
                        SimPayloads::encodeConfig(SimPayloads::ConfigSerialNumber, serial));
    m_memory.setPayload(GetDeviceConfig, SimPayloads::ConfigDeviceType,
                        SimPayloads::encodeConfig(SimPayloads::ConfigDeviceType,
                                                  QByteArray::number(identity.deviceType)));
}

void SimDevice::setScenario(SimScenario::Kind kind)
{
    m_acquisition->setScenario(kind);
}

void SimDevice::logEvent(const QString &line)
{
    m_log.append(m_acquisition ? m_acquisition->deviceTimeNs() : 0, line);
    QxtLogger::getInstance()->debug(kTag, line);
}

quint16 SimDevice::stateCode()
{
    return m_acquisition->state();
}

void SimDevice::connectionLost()
{
    m_files.clear();
}

QVector<SimDevice::Reply> SimDevice::handle(quint16 command, const QByteArray &payload)
{
    Handler handler = m_handlers.value(command, nullptr);
    if (!handler && m_memory.handles(command))
        handler = &SimDevice::parameters;
    if (!handler)
        return {Reply{command, AckUnknownCommand, QByteArray(), nullptr}};
    return (this->*handler)(command, payload);
}

QVector<SimDevice::Reply> SimDevice::identify(quint16 command, const QByteArray &)
{
    return {Reply{command, AckOk, m_identity.encode(), nullptr}};
}

QVector<SimDevice::Reply> SimDevice::measurementState(quint16 command, const QByteArray &)
{
    return {Reply{command, AckOk, m_acquisition->stateReport(), nullptr}};
}

QVector<SimDevice::Reply> SimDevice::startStop(quint16 command, const QByteArray &)
{
    const bool start = command == StartMeasurement;
    const quint16 ack = start ? m_acquisition->start() : m_acquisition->stop();
    logEvent(QStringLiteral("%1 (ack %2)").arg(start ? QStringLiteral("start") : QStringLiteral("stop")).arg(ack));
    return {Reply{command, ack, QByteArray(), nullptr}};
}

QVector<SimDevice::Reply> SimDevice::discard(quint16 command, const QByteArray &payload)
{
    if (payload.size() != 1)
        return {Reply{command, AckBadLength, QByteArray(), nullptr}};
    return {Reply{command, m_acquisition->discard(simbytes::u8(payload, 0)), payload, nullptr}};
}

QVector<SimDevice::Reply> SimDevice::transfer(quint16 command, const QByteArray &payload)
{
    // Refusals carry no payload: the host hands every transfer payload to its
    // unpacker, which drops an empty one without a word.
    if (payload.size() != 1)
        return {Reply{command, AckBadLength, QByteArray(), nullptr}};
    SimPacketStream::Frame frame;
    const quint16 ack = m_acquisition->takeFrame(simbytes::u8(payload, 0), &frame);
    if (ack != AckOk)
        return {Reply{command, ack, QByteArray(), nullptr}};
    return {Reply{command, AckOk, QByteArray(), std::make_shared<SimPacketStream>(frame, m_maxPacketSamples)}};
}

QVector<SimDevice::Reply> SimDevice::adcStatistics(quint16 command, const QByteArray &)
{
    const SimSignalModel model(m_acquisition->scenario(), SimSignalModel::frontEndFrom(m_memory));
    const SimSignalModel::Statistics s = model.pdStatistics(m_acquisition->deviceTimeNs(), kStatisticsSamples);
    return {Reply{command, AckOk, SimPayloads::encodeAdcStatistics(kStatisticsSamples, s.minimum, s.maximum, s.mean, s.rms),
                  nullptr}};
}

QVector<SimDevice::Reply> SimDevice::deviceConfig(quint16 command, const QByteArray &payload)
{
    if (command == GetDeviceConfig && !payload.isEmpty() && simbytes::u8(payload, 0) == SimPayloads::ConfigInfoString)
        return {Reply{command, AckOk, SimPayloads::encodeConfig(SimPayloads::ConfigInfoString, infoString()), nullptr}};
    return parameters(command, payload);
}

QVector<SimDevice::Reply> SimDevice::parameters(quint16 command, const QByteArray &payload)
{
    const SimParameterMemory::Reply reply = m_memory.handle(command, payload);
    return {Reply{command, reply.ack, reply.payload, nullptr}};
}

QVector<SimDevice::Reply> SimDevice::fileTransfer(quint16 command, const QByteArray &payload)
{
    SimFileTransfer::Reply reply;
    switch (command) {
    case FileInfo:
        reply = m_files.fileInfo(payload);
        if (reply.ack == AckOk)
            logEvent(QStringLiteral("file %1 announced").arg(reply.transferId));
        break;
    case FileBlock:
        reply = m_files.fileBlock(payload);
        break;
    case FileChecksum:
        reply = m_files.checksum(payload);
        logEvent(QStringLiteral("file %1 checksum %2").arg(reply.transferId).arg(reply.verified ? "ok" : "mismatch"));
        if (reply.verified)
            emit fileVerified(reply.transferId, m_files.data(reply.transferId));
        break;
    default:
        reply = m_files.readBlock(payload);
        break;
    }
    return {Reply{command, reply.ack, reply.payload, nullptr}};
}

QVector<SimDevice::Reply> SimDevice::firmwareWrite(quint16 command, const QByteArray &payload)
{
    if (payload.size() < 5)
        return {Reply{command, AckBadLength, QByteArray(), nullptr}};
    const quint32 id = simbytes::u32(payload, 0);
    const quint8 mode = simbytes::u8(payload, 4);
    quint16 ack = AckOk;
    const quint8 state = m_acquisition->state();
    if (state != Ready)
        ack = AckBusy; // not while measuring, nor while an image is being written
    else if (!m_files.isVerified(id))
        ack = AckTransferError;
    if (ack == AckOk) {
        // Not ready from the start, so that the first progress reply already says so.
        m_acquisition->setNotReady(true);
        logEvent(QStringLiteral("writing firmware from file %1, mode %2").arg(id).arg(mode));
        ack = m_firmware->begin(id, mode, m_files.data(id));
        if (ack == AckOk)
            return {};
        m_acquisition->setNotReady(false);
    }
    return {Reply{command, ack, QByteArray(), nullptr}};
}

QVector<SimDevice::Reply> SimDevice::readLog(quint16 command, const QByteArray &)
{
    QVector<Reply> replies;
    for (const QByteArray &piece : m_log.pieces(m_logPieceSize))
        replies.append(Reply{command, AckOk, piece, nullptr});
    replies.append(Reply{command, AckOk, QByteArray(), nullptr});
    return replies;
}

QByteArray SimDevice::infoString()
{
    // Temperatures drift slowly with device time; the fan follows the board
    // temperature along the configured curve.
    const double seconds = double(m_acquisition->deviceTimeNs()) * 1e-9;
    const double fpga = 45.0 + 3.0 * std::sin(kTwoPi * seconds / 600.0);
    const double board = 38.0 + 2.0 * std::sin(kTwoPi * seconds / 900.0 + 1.0);
    const double psu = 41.0 + 1.5 * std::sin(kTwoPi * seconds / 1200.0 + 2.0);
    const SimPayloads::FanControl fan = m_memory.fanControl();
    double duty = fan.minDutyCycle;
    if (fan.maxTemperature > fan.minTemperature) {
        const double position = (board - fan.minTemperature) / (fan.maxTemperature - fan.minTemperature);
        duty = fan.minDutyCycle + qBound(0.0, position, 1.0) * (fan.maxDutyCycle - fan.minDutyCycle);
    }
    return QStringLiteral("FPGA %1 C; Board %2 C; PSU %3 C; Fan %4 %")
        .arg(fpga, 0, 'f', 1)
        .arg(board, 0, 'f', 1)
        .arg(psu, 0, 'f', 1)
        .arg(qRound(duty * 100.0))
        .toLatin1();
}
