#include "DravikUpdateFirmware_v2.h"

#include "DravikFileTransfer_v2.h"
#include "QxtLogger.h"

#include <QtEndian>

namespace {
const char *const kTag = "[DRAVIK.IO.FwUpdate]";
}

DravikUpdateFirmware_v2::DravikUpdateFirmware_v2(DravikFileTransfer_v2 *fileTransfer, QObject *parent)
    : AbstractFirmwareJob_v2(parent)
    , m_fileTransfer(fileTransfer)
{
    m_stateTexts = {
        {TransferStarted, tr("Transfer started")},
        {Transfering, tr("Transfering") + QStringLiteral(" ...")},
        {TransferSuccessful, tr("Transfer successful")},
        {TransferFailed, tr("Transfer failed")},
        {WritingStarted, tr("Writing started")},
        {Writing, tr("Writing") + QStringLiteral(" ...")},
        {WritingSuccessful, tr("Writing successful")},
        {WritingFailed, tr("Writing failed")},
        {UpdateFailed, tr("Update failed.", "Update could not finish due to lost device connection.")},
    };
    m_handlers = {
        {kWriteFirmwareCommand, &DravikUpdateFirmware_v2::processCmdResponse_DoFirmwareUpdate},
    };
    // Direct: the transfer job reports status 0 from inside addTransfer, and
    // onUpdateFirmware relies on seeing it before addTransfer returns.
    if (m_fileTransfer) {
        connect(m_fileTransfer, &DravikFileTransfer_v2::transferState, this, &DravikUpdateFirmware_v2::onTransferState,
                Qt::DirectConnection);
    }
}

QList<quint16> DravikUpdateFirmware_v2::commands() const
{
    return m_handlers.keys();
}

QString DravikUpdateFirmware_v2::stateText(qint32 state) const
{
    const auto it = m_stateTexts.constFind(state);
    if (it != m_stateTexts.constEnd())
        return it.value();
    return QStringLiteral("state ") + QString::number(state);
}

void DravikUpdateFirmware_v2::reportState(qint32 state, double progress)
{
    Q_EMIT processState(state, progress, stateText(state));
}

void DravikUpdateFirmware_v2::onUpdateFirmware(QByteArray bitstream, quint8 mode)
{
    QxtLogger *log = QxtLogger::getInstance();
    if (m_running) {
        log->warning(kTag, Q_FUNC_INFO, "update is running, not restarting");
        reportState(TransferFailed, 0.0);
        return;
    }
    m_firmwareSize = quint32(bitstream.size());
    // Not yet running: the transfer's status 0 arrives from inside
    // addTransfer and becomes our state 0 all the same.
    if (m_fileTransfer && m_fileTransfer->addTransfer(bitstream, m_transferId)) {
        m_running = true;
        m_updateMode = mode;
        return;
    }
    log->warning(kTag, Q_FUNC_INFO, "unable to transfer firmware file");
    reportState(TransferFailed, 0.0);
}

void DravikUpdateFirmware_v2::onTransferState(qint32 status, quint32 transferId, double progress)
{
    if (transferId != m_transferId)
        return;
    if (!m_running) {
        if (status == DravikFileTransfer_v2::TransferStarted)
            reportState(TransferStarted, progress);
        return;
    }
    switch (status) {
    case DravikFileTransfer_v2::TransferStarted:
        reportState(TransferStarted, progress);
        break;
    case DravikFileTransfer_v2::BlockAcknowledged:
        reportState(Transfering, progress);
        break;
    case DravikFileTransfer_v2::TransferSuccessful:
        Q_EMIT sendQlpCommand(kWriteFirmwareCommand, encodeWriteOrder(m_transferId, m_updateMode));
        reportState(TransferSuccessful, progress);
        break;
    case DravikFileTransfer_v2::TransferFailed:
        m_running = false;
        reportState(TransferFailed, progress);
        break;
    default:
        break;
    }
}

void DravikUpdateFirmware_v2::onQlpPacket(quint16 command, quint16 stateCode, quint16 ackCode, QByteArray cmdData)
{
    const Handler handler = m_handlers.value(command, nullptr);
    if (!handler) {
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "no handler for command", command);
        return;
    }
    (this->*handler)(command, stateCode, ackCode, cmdData);
}

void DravikUpdateFirmware_v2::processCmdResponse_DoFirmwareUpdate(quint16 command, quint16, quint16 ackCode,
                                                                  const QByteArray &cmdData)
{
    QxtLogger *log = QxtLogger::getInstance();
    quint32 written = 0;
    if (ackCode != 0) {
        if (isRefusal(ackCode))
            Q_EMIT requestRefused(command, ackCode, {});
        reportState(WritingFailed, 0.0);
        log->warning(kTag, "update failed, ack code: ", ackCode);
    } else if (decodeWriteProgress(cmdData, &written)) {
        // An empty image has no fraction written; it counts as nothing until
        // the end reply, which reports 1.0.
        const double progress = m_firmwareSize ? double(written) / double(m_firmwareSize) : 0.0;
        log->debug(kTag, Q_FUNC_INFO, written, "/", m_firmwareSize);
        reportState(Writing, progress);
    } else {
        reportState(WritingSuccessful, 1.0);
        log->debug(kTag, "update successful");
    }
    // The first reply to the write order ends the update as far as a new
    // request is concerned; later progress replies are still reported.
    m_running = false;
}

void DravikUpdateFirmware_v2::onConnectionChanged(bool newState)
{
    if (newState || !m_running)
        return;
    m_running = false;
    reportState(UpdateFailed, 0.0);
}

QByteArray DravikUpdateFirmware_v2::encodeWriteOrder(quint32 transferId, quint8 mode)
{
    QByteArray bytes(5, '\0');
    qToLittleEndian(transferId, bytes.data());
    bytes[4] = char(mode);
    return bytes;
}

bool DravikUpdateFirmware_v2::decodeWriteProgress(const QByteArray &payload, quint32 *bytesWritten)
{
    if (payload.size() < kWriteProgressSize)
        return false;
    *bytesWritten = qFromLittleEndian<quint32>(payload.constData() + 8);
    return true;
}
