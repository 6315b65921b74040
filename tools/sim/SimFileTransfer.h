#pragma once

#include <QByteArray>
#include <QHash>
#include <QVector>

// The detector's end of the file transfer: it takes a file announced with
// 0x0F60 {id, reserved, size, checksum} in sequential 0x0F61 blocks {id,
// offset, data}, keeps a running CRC, answers the checksum request 0x0F80 {id}
// with {id, 0, bytes received, CRC over them} and can read a stored block back
// with 0x0F81 {id, offset[, length]} (the get of the block command).
//
// Limits, since every size comes from the wire: files up to 64 MiB, 128 MiB
// announced in all, four transfers at a time (a new announcement evicts the
// oldest finished one when all four places are taken).
class SimFileTransfer
{
public:
    static constexpr quint32 kMaxFileSize = 64u << 20;
    static constexpr quint64 kMaxTotalSize = 128u << 20;
    static constexpr int kMaxTransfers = 4;
    static constexpr int kMaxReadBlock = 65000;
    static constexpr int kFileInfoSize = 16;
    static constexpr int kBlockHeaderSize = 8;

    struct Reply
    {
        quint16 ack = 0;
        QByteArray payload;
        // Set by the checksum request when the whole file arrived with the
        // announced checksum.
        bool verified = false;
        quint32 transferId = 0;
    };

    Reply fileInfo(const QByteArray &request);
    Reply fileBlock(const QByteArray &request);
    Reply checksum(const QByteArray &request);
    Reply readBlock(const QByteArray &request);

    // The checksum reply reports a wrong CRC (the stored file is unharmed).
    void setCorruptChecksum(bool corrupt) { m_corruptChecksum = corrupt; }
    bool corruptChecksum() const { return m_corruptChecksum; }

    // Complete, with the announced checksum.
    bool isVerified(quint32 transferId) const;
    QByteArray data(quint32 transferId) const;
    QVector<quint32> transferIds() const;
    // Forgets every transfer (the connection was lost).
    void clear();

private:
    struct Transfer
    {
        quint32 size = 0;
        quint32 announcedCrc = 0;
        quint32 crc = 0;
        QByteArray data;
        quint64 sequence = 0; // order of announcement, for eviction
    };

    quint64 announcedTotal() const;

    QHash<quint32, Transfer> m_transfers;
    quint64 m_sequence = 0;
    bool m_corruptChecksum = false;
};
