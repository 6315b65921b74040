#include "DravikFileTransfer_v2.h"

#include "Crc32_v2.h"
#include "QxtLogger.h"

#include <QRandomGenerator>
#include <QtEndian>

namespace {
const char *const kTag = "[DRAVIK.IO.File]: ";

void appendU32(QByteArray &bytes, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

quint32 readU32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}
} // namespace

DravikFileTransfer_v2::DravikFileTransfer_v2(QObject *parent)
    : AbstractJobHandler_v2(parent)
{
    m_handlers = {
        {FileInfoCommand, &DravikFileTransfer_v2::processFileInfoReply},
        {FileBlockCommand, &DravikFileTransfer_v2::processBlockReply},
        {ChecksumCommand, &DravikFileTransfer_v2::processChecksumReply},
        {FileReadCommand, nullptr},
    };
}

QList<quint16> DravikFileTransfer_v2::commands() const
{
    return m_handlers.keys();
}

quint32 DravikFileTransfer_v2::drawTransferId()
{
    return QRandomGenerator::global()->generate();
}

bool DravikFileTransfer_v2::addTransfer(const QByteArray &data, quint32 &transferId)
{
    QxtLogger *log = QxtLogger::getInstance();
    if (m_transfers.size() >= kMaxOpenTransfers) {
        log->debug(kTag, "too many open transfers", m_transfers.size());
        return false;
    }

    transferId = drawTransferId();
    for (int retry = 0; retry < kIdRetries && m_transfers.contains(transferId); ++retry)
        transferId = drawTransferId();
    if (m_transfers.contains(transferId)) {
        log->debug(kTag, "unable to get new transfer id");
        return false;
    }

    Transfer transfer;
    transfer.data = data;
    transfer.sequence = ++m_added;
    m_transfers.insert(transferId, transfer);
    log->debug(kTag, transferId, " : transfer added");
    startTransfer(transferId);
    return true;
}

void DravikFileTransfer_v2::startTransfer(quint32 transferId)
{
    const auto it = m_transfers.constFind(transferId);
    if (it == m_transfers.constEnd())
        return;
    FileInfo info;
    info.transferId = transferId;
    info.size = quint32(it->data.size());
    info.checksum = Crc32_v2::checksum(it->data);
    QxtLogger::getInstance()->debug(kTag, transferId, " : transfer started");
    // The client learns the id from this report before the announcement leaves.
    Q_EMIT transferState(TransferStarted, transferId, 0.0);
    send(transferId, FileInfoCommand, encodeFileInfo(info));
}

void DravikFileTransfer_v2::send(quint32 transferId, quint16 command, const QByteArray &payload)
{
    const auto it = m_transfers.find(transferId);
    if (it != m_transfers.end())
        it->awaiting = command;
    Q_EMIT sendQlpCommand(command, payload);
}

bool DravikFileTransfer_v2::failRefusedWithoutId(quint16 command, quint16 acknowledge)
{
    if (!isRefusal(acknowledge))
        return false;
    auto oldest = m_transfers.end();
    for (auto it = m_transfers.begin(); it != m_transfers.end(); ++it) {
        if (it->awaiting == command && (oldest == m_transfers.end() || it->sequence < oldest->sequence))
            oldest = it;
    }
    if (oldest == m_transfers.end())
        return false;
    QxtLogger::getInstance()->warning(kTag, oldest.key(), " : refused, acknowledge code", acknowledge);
    Q_EMIT requestRefused(command, acknowledge, {});
    finishTransfer(oldest.key(), TransferFailed);
    return true;
}

void DravikFileTransfer_v2::sendNextBlock(quint32 transferId)
{
    QxtLogger *log = QxtLogger::getInstance();
    const auto it = m_transfers.constFind(transferId);
    if (it == m_transfers.constEnd()) {
        log->debug(kTag, transferId, " : invalid transfer id");
        return;
    }
    const quint32 size = quint32(it->data.size());
    if (it->offset < size) {
        // Built before the signal: a reply handled inside it may end the transfer.
        const QByteArray block = encodeBlock(transferId, it->data, it->offset, it->blockSize);
        send(transferId, FileBlockCommand, block);
        log->debug(kTag, transferId, " : transfering");
        return;
    }
    log->debug(kTag, "file transfered ", transferId, " request checksum");
    QByteArray request;
    appendU32(request, transferId);
    send(transferId, ChecksumCommand, request);
}

void DravikFileTransfer_v2::finishTransfer(quint32 transferId, qint32 status)
{
    const auto it = m_transfers.find(transferId);
    if (it == m_transfers.end())
        return;
    const double done = progress(it->offset, quint32(it->data.size()), status);
    // Gone before the report, so that a client may start its next transfer from it.
    m_transfers.erase(it);
    Q_EMIT transferState(status, transferId, done);
}

void DravikFileTransfer_v2::onQlpPacket(quint16 command, quint16 stateCode, quint16 acknowledge, QByteArray datagram)
{
    const Handler handler = m_handlers.value(command, nullptr);
    if (handler)
        (this->*handler)(stateCode, acknowledge, datagram);
}

void DravikFileTransfer_v2::onDisconnect()
{
    m_transfers.clear();
}

void DravikFileTransfer_v2::processFileInfoReply(quint16, quint16 acknowledge, const QByteArray &payload)
{
    quint32 transferId = 0;
    if (!decodeTransferId(payload, &transferId)) {
        if (!failRefusedWithoutId(FileInfoCommand, acknowledge))
            QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, " invalid data length ", payload.size());
        return;
    }
    if (acknowledge != 0) {
        if (isRefusal(acknowledge) && m_transfers.contains(transferId))
            Q_EMIT requestRefused(FileInfoCommand, acknowledge, {});
        finishTransfer(transferId, TransferFailed);
        return;
    }
    sendNextBlock(transferId);
}

void DravikFileTransfer_v2::processBlockReply(quint16, quint16 acknowledge, const QByteArray &payload)
{
    QxtLogger *log = QxtLogger::getInstance();
    BlockAck ack;
    if (!decodeBlockAck(payload, &ack)) {
        if (!failRefusedWithoutId(FileBlockCommand, acknowledge))
            log->debug(kTag, Q_FUNC_INFO, " invalid data length ", payload.size());
        return;
    }
    auto it = m_transfers.find(ack.transferId);
    if (it == m_transfers.end()) {
        log->debug(kTag, "invalid transfer id ", ack.transferId);
        return;
    }
    if (acknowledge != 0) {
        if (isRefusal(acknowledge))
            Q_EMIT requestRefused(FileBlockCommand, acknowledge, {});
        finishTransfer(ack.transferId, TransferFailed);
        return;
    }
    const double done = progress(ack.offset, quint32(it->data.size()), BlockAcknowledged);
    Q_EMIT transferState(BlockAcknowledged, ack.transferId, done);

    // A client may have dropped the transfer from inside the report.
    it = m_transfers.find(ack.transferId);
    if (it == m_transfers.end())
        return;
    // The whole block size, also after a shorter last block: a finished
    // transfer reports 1.0 or more. Saturated, so that a detector repeating
    // its acknowledge can never wrap the offset back into the file.
    it->offset = quint32(qMin<quint64>(quint64(it->offset) + it->blockSize, 0xFFFFFFFFu));
    sendNextBlock(ack.transferId);
}

void DravikFileTransfer_v2::processChecksumReply(quint16, quint16 acknowledge, const QByteArray &payload)
{
    QxtLogger *log = QxtLogger::getInstance();
    FileInfo info;
    if (!decodeFileInfo(payload, &info)) {
        if (!failRefusedWithoutId(ChecksumCommand, acknowledge))
            log->debug(kTag, Q_FUNC_INFO, " invalid data length ", payload.size());
        return;
    }
    const auto it = m_transfers.constFind(info.transferId);
    if (it == m_transfers.constEnd()) {
        log->debug(kTag, "invalid transfer id ", info.transferId);
        return;
    }
    // A whole reply's acknowledge code is not looked at: the checksums decide.
    const quint32 ours = Crc32_v2::checksum(it->data);
    log->debug(kTag, "file transfer ", info.transferId, " checksum send ", ours, " checksum received ", info.checksum);
    finishTransfer(info.transferId, ours == info.checksum ? TransferSuccessful : TransferFailed);
}

QByteArray DravikFileTransfer_v2::encodeFileInfo(const FileInfo &info)
{
    QByteArray bytes;
    bytes.reserve(kFileInfoSize);
    appendU32(bytes, info.transferId);
    appendU32(bytes, info.reserved);
    appendU32(bytes, info.size);
    appendU32(bytes, info.checksum);
    return bytes;
}

bool DravikFileTransfer_v2::decodeFileInfo(const QByteArray &payload, FileInfo *info)
{
    if (payload.size() < kFileInfoSize)
        return false;
    info->transferId = readU32(payload, 0);
    info->reserved = readU32(payload, 4);
    info->size = readU32(payload, 8);
    info->checksum = readU32(payload, 12);
    return true;
}

bool DravikFileTransfer_v2::decodeTransferId(const QByteArray &payload, quint32 *transferId)
{
    if (payload.size() < 4)
        return false;
    *transferId = readU32(payload, 0);
    return true;
}

bool DravikFileTransfer_v2::decodeBlockAck(const QByteArray &payload, BlockAck *ack)
{
    if (payload.size() < kBlockAckSize)
        return false;
    ack->transferId = readU32(payload, 0);
    ack->offset = readU32(payload, 4);
    return true;
}

QByteArray DravikFileTransfer_v2::encodeBlock(quint32 transferId, const QByteArray &data, quint32 offset,
                                              quint32 blockSize)
{
    const quint32 size = quint32(data.size());
    const quint32 length = offset < size ? qMin(size - offset, blockSize) : 0;
    QByteArray bytes;
    bytes.reserve(kBlockHeaderSize + int(length));
    appendU32(bytes, transferId);
    appendU32(bytes, offset);
    bytes.append(data.constData() + (offset < size ? offset : 0), int(length));
    return bytes;
}

double DravikFileTransfer_v2::progress(quint32 done, quint32 size, qint32 status)
{
    if (size == 0)
        return status == TransferSuccessful ? 1.0 : 0.0;
    return double(done) / double(size);
}
