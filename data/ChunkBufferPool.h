#pragma once

#include <QByteArray>
#include <QSharedPointer>

#include <memory>
#include <mutex>
#include <vector>

// Chunk memory of one device, used again instead of allocated anew.
//
// A muxer transfer makes a chunk of tens of megabytes. Fresh memory of that
// size comes from the kernel page by page, zeroed, and goes back to it when
// the host lets the chunk go; with several detectors in one process that
// faulting cost more than filling the chunk. A chunk handed out through
// share() comes back here when the host's last reference goes, and the next
// transfer of any channel of the device fills it again.
//
// A buffer is kept only while nobody else holds its bytes: a host that kept a
// copy of the QByteArray keeps the memory, and the pool leaves it alone. At
// most kMaxBuffers buffers and kMaxBytes bytes are kept; what does not fit is
// freed. Buffers under kMinBytes are left to the allocator, which serves
// those well. Chunks that outlive the device free their memory as usual.
class ChunkBufferPool : public std::enable_shared_from_this<ChunkBufferPool>
{
public:
    static constexpr int kMaxBuffers = 2;
    static constexpr qint64 kMaxBytes = 256 * 1024 * 1024;
    static constexpr int kMinBytes = 1024 * 1024;

    static std::shared_ptr<ChunkBufferPool> create() { return std::shared_ptr<ChunkBufferPool>(new ChunkBufferPool); }

    // An empty buffer with room for at least size bytes: the smallest kept
    // one that fits and is not more than twice that, else a new one.
    QByteArray take(int size);
    // Wraps a finished chunk for the host; its buffer comes back here when
    // the last reference to it goes.
    QSharedPointer<QByteArray> share(QByteArray &&chunk);
    // Frees every kept buffer, and keeps none of those that come back until
    // the next take(): a closed device holds no chunk memory.
    void clear();
    int buffersKept() const;

private:
    ChunkBufferPool() = default;
    void giveBack(QByteArray &&buffer);

    mutable std::mutex m_lock;
    std::vector<QByteArray> m_buffers; // at most kMaxBuffers
    bool m_keeping = true;             // false from clear() to the next take()
};
