#pragma once

#include "AbstractJobHandler_v2.h"

#include <QByteArray>
#include <QHash>
#include <QList>

// Sends files held in memory to the detector over the command channel: the
// file is announced (0x0F60), sent in blocks of 65000 bytes, one in flight at
// a time (0x0F61), and confirmed by comparing our CRC with the detector's
// (0x0F80). Each transfer is known by a random 32-bit id, so several may be
// open at once. Its client is the firmware update, which follows a transfer
// through transferState.
//
// Lives on the protocol thread; everything here runs there, including
// addTransfer. There are no time-outs: a transfer whose replies never come
// stays open until the link goes down, when the protocol handler calls
// onDisconnect() on this thread.
class DravikFileTransfer_v2 : public AbstractJobHandler_v2
{
    Q_OBJECT

public:
    enum Command : quint16 {
        FileInfoCommand = 0x0F60,
        FileBlockCommand = 0x0F61,
        ChecksumCommand = 0x0F80,
        // The detector's read-back of a stored block; we never ask for it, but
        // claim it so that a stray reply is not reported as unknown.
        FileReadCommand = 0x0F81
    };

    enum TransferStatus {
        TransferStarted = 0,
        BlockAcknowledged = 1,
        TransferSuccessful = 2,
        TransferFailed = 3
    };
    Q_ENUM(TransferStatus)

    static constexpr quint32 kBlockSize = 65000;
    // Draws after the first before addTransfer gives up on a free id.
    static constexpr int kIdRetries = 10;
    // Our only client runs one transfer at a time; this bounds the copies of
    // files we hold should a client forget to wait for the end.
    static constexpr int kMaxOpenTransfers = 16;

    // The announcement, also the layout of the checksum reply; little-endian.
    struct FileInfo
    {
        quint32 transferId = 0;
        quint32 reserved = 0;
        quint32 size = 0;
        quint32 checksum = 0;
    };
    static constexpr int kFileInfoSize = 16;

    // The detector's acknowledge of one block.
    struct BlockAck
    {
        quint32 transferId = 0;
        quint32 offset = 0;
    };
    static constexpr int kBlockAckSize = 8;
    static constexpr int kBlockHeaderSize = 8;

    explicit DravikFileTransfer_v2(QObject *parent = nullptr);

    QList<quint16> commands() const override;

    // Registers data as a new transfer and starts it: transferState reports
    // status 0 and the announcement is sent before this returns. The id is
    // written to transferId as soon as it is drawn, so a caller comparing
    // reports against it already knows it when status 0 arrives. False (and
    // no report) when no free id could be drawn or too many are open.
    bool addTransfer(const QByteArray &data, quint32 &transferId);

    int openTransfers() const { return m_transfers.size(); }
    bool isOpen(quint32 transferId) const { return m_transfers.contains(transferId); }

    // Pure encoders and decoders of the payloads; the decoders return false
    // when the payload is too short and leave their output alone then.
    static QByteArray encodeFileInfo(const FileInfo &info);
    static bool decodeFileInfo(const QByteArray &payload, FileInfo *info);
    // The reply to the announcement: at least the transfer id.
    static bool decodeTransferId(const QByteArray &payload, quint32 *transferId);
    static bool decodeBlockAck(const QByteArray &payload, BlockAck *ack);
    // {transferId, offset, the bytes of data from offset}: at most blockSize
    // of them, none when offset is at or past the end.
    static QByteArray encodeBlock(quint32 transferId, const QByteArray &data, quint32 offset, quint32 blockSize);

    // The fraction of size that done stands for. An empty file has no
    // meaningful fraction: it counts as complete (1.0) once it was transferred
    // successfully and as nothing (0.0) in every other report, so that a
    // progress bar fed with it ends full exactly when the transfer succeeded.
    static double progress(quint32 done, quint32 size, qint32 status);

Q_SIGNALS:
    // One report per step, emitted synchronously on the protocol thread.
    void transferState(qint32 status, quint32 transferId, double progress);

public Q_SLOTS:
    void onQlpPacket(quint16 command, quint16 stateCode, quint16 acknowledge, QByteArray datagram) override;
    // The link went down: every open transfer is forgotten without a report
    // (the firmware update learns of the loss from the connection itself).
    void onDisconnect() override;

protected:
    // A fresh random id; virtual so that tests can force collisions.
    virtual quint32 drawTransferId();

private:
    struct Transfer
    {
        QByteArray data;
        quint32 offset = 0;
        quint32 blockSize = kBlockSize;
        // The request whose reply the transfer waits for, and when it was
        // added: a refusal too short to name its transfer ends the oldest
        // transfer waiting for that reply.
        quint16 awaiting = 0;
        quint64 sequence = 0;
    };

    using Handler = void (DravikFileTransfer_v2::*)(quint16 stateCode, quint16 acknowledge, const QByteArray &payload);

    void startTransfer(quint32 transferId);
    void sendNextBlock(quint32 transferId);
    void finishTransfer(quint32 transferId, qint32 status);
    void send(quint32 transferId, quint16 command, const QByteArray &payload);
    // A refusal of command without the transfer id: fails the transfer that
    // waits for it. False when the reply is no refusal or nothing waits.
    bool failRefusedWithoutId(quint16 command, quint16 acknowledge);

    void processFileInfoReply(quint16 stateCode, quint16 acknowledge, const QByteArray &payload);
    void processBlockReply(quint16 stateCode, quint16 acknowledge, const QByteArray &payload);
    void processChecksumReply(quint16 stateCode, quint16 acknowledge, const QByteArray &payload);

    QHash<quint16, Handler> m_handlers;
    QHash<quint32, Transfer> m_transfers;
    quint64 m_added = 0;
};
