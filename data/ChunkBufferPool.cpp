#include "ChunkBufferPool.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {
// Room for size bytes in a new buffer. Tens of megabytes faulted in 4 KiB
// pages cost more than the copying that fills them; on Linux the buffer asks
// for transparent huge pages, 2 MiB per fault. Only a hint: where the kernel
// declines, or elsewhere, the pages come as before.
void reserveFresh(QByteArray &buffer, int size)
{
    buffer.reserve(size);
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr quintptr kHugePage = 2 * 1024 * 1024;
    if (size < int(4 * kHugePage))
        return;
    const auto begin = quintptr(buffer.data());
    const quintptr first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const quintptr last = (begin + quintptr(size)) & ~(kHugePage - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#endif
}
} // namespace

QByteArray ChunkBufferPool::take(int size)
{
    {
        std::lock_guard<std::mutex> locker(m_lock);
        m_keeping = true;
        auto best = m_buffers.end();
        for (auto it = m_buffers.begin(); it != m_buffers.end(); ++it) {
            // Not one of twice the size: a small channel would hold memory a
            // large one needs.
            const bool fits = it->capacity() >= size && it->capacity() / 2 <= size;
            if (fits && (best == m_buffers.end() || it->capacity() < best->capacity()))
                best = it;
        }
        if (best != m_buffers.end()) {
            QByteArray buffer = std::move(*best);
            m_buffers.erase(best);
            return buffer;
        }
    }
    QByteArray buffer;
    reserveFresh(buffer, size);
    return buffer;
}

QSharedPointer<QByteArray> ChunkBufferPool::share(QByteArray &&chunk)
{
    const std::weak_ptr<ChunkBufferPool> pool = shared_from_this();
    return QSharedPointer<QByteArray>(new QByteArray(std::move(chunk)), [pool](QByteArray *buffer) {
        if (const std::shared_ptr<ChunkBufferPool> owner = pool.lock())
            owner->giveBack(std::move(*buffer));
        delete buffer;
    });
}

void ChunkBufferPool::giveBack(QByteArray &&buffer)
{
    // Shared: a copy of the chunk is still read somewhere.
    if (!buffer.isDetached() || buffer.capacity() < kMinBytes)
        return;
    // reserve() of what is there marks the capacity as wanted, so that
    // emptying the buffer keeps its memory instead of freeing it.
    buffer.reserve(buffer.capacity());
    buffer.resize(0);
    std::lock_guard<std::mutex> locker(m_lock);
    qint64 kept = buffer.capacity();
    for (const QByteArray &other : m_buffers)
        kept += other.capacity();
    if (!m_keeping || int(m_buffers.size()) >= kMaxBuffers || kept > kMaxBytes)
        return;
    m_buffers.push_back(std::move(buffer));
}

void ChunkBufferPool::clear()
{
    std::vector<QByteArray> gone;
    std::lock_guard<std::mutex> locker(m_lock);
    gone.swap(m_buffers);
    m_keeping = false;
}

int ChunkBufferPool::buffersKept() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return int(m_buffers.size());
}
