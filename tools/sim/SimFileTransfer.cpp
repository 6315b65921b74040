#include "SimFileTransfer.h"

#include "SimByteOrder.h"
#include "SimCrc32.h"
#include "SimProtocol.h"

using namespace SimProtocol;

namespace {

// What a corrupted checksum reply differs by: not the complement, which would
// be the common CRC-32 and could hide a host that computes that one instead.
constexpr quint32 kCorruption = 0x5A5A5A5Au;

QByteArray idAndOffset(quint32 id, quint32 offset)
{
    QByteArray bytes;
    simbytes::appendU32(bytes, id);
    simbytes::appendU32(bytes, offset);
    return bytes;
}

} // namespace

SimFileTransfer::Reply SimFileTransfer::fileInfo(const QByteArray &request)
{
    Reply reply;
    if (request.size() < kFileInfoSize) {
        reply.ack = AckBadLength;
        return reply;
    }
    const quint32 id = simbytes::u32(request, 0);
    const quint32 size = simbytes::u32(request, 8);
    reply.transferId = id;
    reply.payload = request.left(kFileInfoSize);
    m_transfers.remove(id); // announcing an id again restarts it

    if (m_transfers.size() >= kMaxTransfers) {
        // Make room by forgetting the oldest finished file; unfinished ones stay.
        auto oldest = m_transfers.end();
        for (auto it = m_transfers.begin(); it != m_transfers.end(); ++it) {
            if (quint32(it->data.size()) == it->size && (oldest == m_transfers.end() || it->sequence < oldest->sequence))
                oldest = it;
        }
        if (oldest == m_transfers.end()) {
            reply.ack = AckNoResources;
            return reply;
        }
        m_transfers.erase(oldest);
    }
    if (size > kMaxFileSize || size > kMaxTotalSize - announcedTotal()) {
        reply.ack = AckNoResources;
        return reply;
    }
    Transfer transfer;
    transfer.size = size;
    transfer.announcedCrc = simbytes::u32(request, 12);
    transfer.crc = SimCrc32::kInitial;
    transfer.sequence = ++m_sequence;
    m_transfers.insert(id, transfer);
    return reply;
}

SimFileTransfer::Reply SimFileTransfer::fileBlock(const QByteArray &request)
{
    Reply reply;
    if (request.size() < kBlockHeaderSize) {
        reply.ack = AckBadLength;
        return reply;
    }
    const quint32 id = simbytes::u32(request, 0);
    const quint32 offset = simbytes::u32(request, 4);
    reply.transferId = id;
    reply.payload = idAndOffset(id, offset);
    auto it = m_transfers.find(id);
    // Blocks must come in order, each where the previous one ended.
    if (it == m_transfers.end() || offset != quint32(it->data.size())) {
        reply.ack = AckBadValue;
        return reply;
    }
    const int length = request.size() - kBlockHeaderSize;
    if (quint32(length) > it->size - offset) {
        reply.ack = AckBadLength;
        return reply;
    }
    it->data.append(request.constData() + kBlockHeaderSize, length);
    it->crc = SimCrc32::update(it->crc, request.constData() + kBlockHeaderSize, length);
    return reply;
}

SimFileTransfer::Reply SimFileTransfer::checksum(const QByteArray &request)
{
    Reply reply;
    if (request.size() < 4) {
        reply.ack = AckBadLength;
        return reply;
    }
    const quint32 id = simbytes::u32(request, 0);
    reply.transferId = id;
    const auto it = m_transfers.constFind(id);
    if (it == m_transfers.constEnd()) {
        reply.ack = AckBadValue;
        reply.payload = request.left(4);
        return reply;
    }
    const quint32 received = quint32(it->data.size());
    reply.verified = received == it->size && it->crc == it->announcedCrc;
    reply.ack = reply.verified ? AckOk : AckTransferError;
    simbytes::appendU32(reply.payload, id);
    simbytes::appendU32(reply.payload, 0);
    simbytes::appendU32(reply.payload, received);
    simbytes::appendU32(reply.payload, m_corruptChecksum ? it->crc ^ kCorruption : it->crc);
    return reply;
}

SimFileTransfer::Reply SimFileTransfer::readBlock(const QByteArray &request)
{
    Reply reply;
    if (request.size() < kBlockHeaderSize) {
        reply.ack = AckBadLength;
        return reply;
    }
    const quint32 id = simbytes::u32(request, 0);
    const quint32 offset = simbytes::u32(request, 4);
    reply.transferId = id;
    reply.payload = idAndOffset(id, offset);
    const auto it = m_transfers.constFind(id);
    if (it == m_transfers.constEnd() || offset > quint32(it->data.size())) {
        reply.ack = AckBadValue;
        return reply;
    }
    quint32 length = kMaxReadBlock;
    if (request.size() >= kBlockHeaderSize + 4)
        length = qMin(length, simbytes::u32(request, 8));
    length = qMin(length, quint32(it->data.size()) - offset);
    reply.payload.append(it->data.constData() + offset, int(length));
    return reply;
}

bool SimFileTransfer::isVerified(quint32 transferId) const
{
    const auto it = m_transfers.constFind(transferId);
    return it != m_transfers.constEnd() && quint32(it->data.size()) == it->size && it->crc == it->announcedCrc;
}

QByteArray SimFileTransfer::data(quint32 transferId) const
{
    return m_transfers.value(transferId).data;
}

QVector<quint32> SimFileTransfer::transferIds() const
{
    QVector<quint32> ids;
    for (auto it = m_transfers.constBegin(); it != m_transfers.constEnd(); ++it)
        ids.append(it.key());
    return ids;
}

void SimFileTransfer::clear()
{
    m_transfers.clear();
}

quint64 SimFileTransfer::announcedTotal() const
{
    quint64 total = 0;
    for (const Transfer &transfer : m_transfers)
        total += transfer.size;
    return total;
}
