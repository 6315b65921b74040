#pragma once

#include "ChannelData.h"
#include "ChunkBufferPool.h"
#include "DravikChunkCreatorBase_v2.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QVector>

#include <memory>
#include <mutex>

// Collects one logical channel's blocks of a transfer (slices, ordered by
// the detector's packet time), joins them into one chunk when the transfer
// ends, and hands each chunk out once against a token.
//
// Slices nearly always arrive in rising packet time. Those are joined as they
// come, so that the end of a transfer hands out bytes already joined instead
// of copying tens of megabytes while the next transfer waits for it, and each
// block is released as soon as it is copied. A slice that arrives out of order
// or repeats a time sends the joined ones back into the ordered map, which
// then takes every slice until it is empty again; the chunks are the same
// either way.
//
// Chunks the host never takes must not pile up: at most maxOutstanding
// chunks wait per channel; beyond that the oldest is dropped with a warning
// naming the channel and how many were dropped. Tokens are drawn at random
// from 0 to 32767 among those not in use, so a draw always ends.
//
// Every operation holds the lock: slices arrive on the device's thread, the
// host may take chunks from another. Every operation writes, so a plain
// std::mutex; ThreadSanitizer sees it, where it would not see Qt's locks.
class DravikChunkCreator_v2 : public DravikChunkCreatorBase_v2
{
public:
    static constexpr int kTokenRange = 32768;
    static constexpr int kDefaultMaxOutstanding = 64;

    // buffers: the device's chunk memory, shared by its channels; a pool of
    // its own if none.
    explicit DravikChunkCreator_v2(int channelId, int maxOutstanding = kDefaultMaxOutstanding,
                                   std::shared_ptr<ChunkBufferPool> buffers = nullptr);

    int channelId() const { return m_channelId; }

    void reset() override;
    QList<int> collectChunks(quint64 start, quint64 end, bool verbose) override;
    QString statusText() const override;
    void takeChunk(bool *more, quint64 start, quint64 end, int *token) override;

    // Stores a block under its packet time, replacing one with the same time.
    void addSlice(quint64 packetTimeStamp, const QByteArray &data);
    // Drops the slices of a transfer that never ended (and a chunk being
    // assembled); returns how many bytes went. Chunks waiting for the host stay.
    qint64 discardSlices();
    // The chunk waiting under token, removed; an empty ChannelData if none.
    ChannelData takeToken(int token);
    int outstandingChunks() const;

private:
    int drawToken() const;
    // Both with the lock held.
    void spillRun();
    int sliceCount() const { return m_slices.size() + m_runStamps.size(); }

    mutable std::mutex m_lock;
    const std::shared_ptr<ChunkBufferPool> m_buffers;
    QHash<int, ChannelData> m_tokens;
    QList<int> m_tokenOrder; // oldest first, for dropping
    // The slices are either all in the run (rising times, joined) or all in
    // the map; never in both.
    QMap<quint64, QByteArray> m_slices;
    QByteArray m_run;
    QVector<quint64> m_runStamps;
    QVector<int> m_runEnds; // where each joined slice ends in m_run
    int m_runSizeHint = 0;  // size of the last chunk made from a run
    QByteArray m_pending;
    quint64 m_chunkTime = 0;
    const int m_channelId;
    const int m_maxOutstanding;
};
