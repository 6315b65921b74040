#include "DravikChunkCreator_v2.h"

#include "QxtLogger.h"

#include <QRandomGenerator>

namespace {
const char *const kTag = "[DRAVIK.ChunkCreator]:";
constexpr double kNanoseconds = 1e-9;
} // namespace

DravikChunkCreator_v2::DravikChunkCreator_v2(int channelId, int maxOutstanding,
                                             std::shared_ptr<ChunkBufferPool> buffers)
    : m_buffers(buffers ? std::move(buffers) : ChunkBufferPool::create())
    , m_channelId(channelId)
    , m_maxOutstanding(qBound(1, maxOutstanding, kTokenRange))
{
}

void DravikChunkCreator_v2::reset()
{
    std::lock_guard<std::mutex> locker(m_lock);
    m_pending.clear();
    m_chunkTime = 0;
}

void DravikChunkCreator_v2::addSlice(quint64 packetTimeStamp, const QByteArray &data)
{
    std::lock_guard<std::mutex> locker(m_lock);
    if (m_slices.isEmpty() && (m_runStamps.isEmpty() || packetTimeStamp > m_runStamps.constLast())) {
        // Transfers of a channel tend to be alike, so the last one's size
        // saves growing the run step by step.
        if (m_runStamps.isEmpty() && m_runSizeHint > data.size())
            m_run = m_buffers->take(m_runSizeHint);
        m_run.append(data);
        m_runStamps.append(packetTimeStamp);
        m_runEnds.append(m_run.size());
        return;
    }
    spillRun();
    m_slices.insert(packetTimeStamp, data);
}

qint64 DravikChunkCreator_v2::discardSlices()
{
    std::lock_guard<std::mutex> locker(m_lock);
    qint64 bytes = m_run.size() + m_pending.size();
    for (const QByteArray &slice : qAsConst(m_slices))
        bytes += slice.size();
    m_slices.clear();
    m_run.clear();
    m_runStamps.clear();
    m_runEnds.clear();
    m_pending.clear();
    m_chunkTime = 0;
    return bytes;
}

void DravikChunkCreator_v2::spillRun()
{
    int begin = 0;
    for (int i = 0; i < m_runStamps.size(); ++i) {
        m_slices.insert(m_runStamps.at(i), m_run.mid(begin, m_runEnds.at(i) - begin));
        begin = m_runEnds.at(i);
    }
    m_run.clear();
    m_runStamps.clear();
    m_runEnds.clear();
}

QList<int> DravikChunkCreator_v2::collectChunks(quint64 start, quint64 end, bool verbose)
{
    QList<int> tokens;
    for (;;) {
        if (verbose) {
            int slices = 0;
            {
                std::lock_guard<std::mutex> locker(m_lock);
                slices = sliceCount();
            }
            QxtLogger::getInstance()->debug(kTag, "channel", m_channelId, ": slices", slices);
        }
        bool more = false;
        int token = -1;
        takeChunk(&more, start, end, &token);
        if (!more)
            break;
        tokens.append(token);
    }
    return tokens;
}

QString DravikChunkCreator_v2::statusText() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    const int slices = sliceCount();
    if (slices == 0)
        return QString();
    return QStringLiteral("slices remaining %1").arg(slices);
}

int DravikChunkCreator_v2::drawToken() const
{
    // The store holds at most m_maxOutstanding (<= the range) tokens, so a free
    // one exists; random draws find it quickly, the scan guarantees the end.
    for (int attempt = 0; attempt < 64; ++attempt) {
        const int token = int(QRandomGenerator::global()->bounded(kTokenRange));
        if (!m_tokens.contains(token))
            return token;
    }
    const int from = int(QRandomGenerator::global()->bounded(kTokenRange));
    for (int i = 0; i < kTokenRange; ++i) {
        const int token = (from + i) % kTokenRange;
        if (!m_tokens.contains(token))
            return token;
    }
    return -1; // unreachable while the bound holds
}

void DravikChunkCreator_v2::takeChunk(bool *more, quint64 start, quint64 end, int *token)
{
    int dropped = 0;
    bool made = false;
    {
        std::unique_lock<std::mutex> locker(m_lock);
        // Everything up to the end of the transfer; the start does not bound it.
        if (!m_runStamps.isEmpty() && m_runStamps.constLast() <= end) {
            // The usual case: the whole run, joined already.
            if (m_pending.isEmpty()) {
                m_chunkTime = m_runStamps.constFirst();
                m_pending = m_run;
                m_runSizeHint = m_run.size();
            }
            m_run.clear();
            m_runStamps.clear();
            m_runEnds.clear();
            // Gives back what the size hint reserved well beyond the chunk;
            // the allocator shrinks the block where it is, nothing is copied.
            // A little slack stays, so that the buffer fits the next transfer.
            if (m_pending.capacity() - m_pending.size() > m_pending.size() / 8)
                m_pending.squeeze();
        } else {
            spillRun();
            QMap<quint64, QByteArray> taken;
            auto it = m_slices.begin();
            while (it != m_slices.end() && it.key() <= end) {
                taken.insert(it.key(), it.value());
                it = m_slices.erase(it);
            }
            // Also the pass that ends collectChunks() after the last chunk, and a
            // termination for a channel that received nothing.
            if (taken.isEmpty()) {
                locker.unlock();
                QxtLogger::getInstance()->debug(kTag, "channel", m_channelId, ": no slices available");
                locker.lock();
            } else if (m_pending.isEmpty()) {
                m_chunkTime = taken.firstKey();
                qsizetype total = 0;
                for (const QByteArray &block : qAsConst(taken))
                    total += block.size();
                m_pending = m_buffers->take(int(total));
                for (const QByteArray &block : qAsConst(taken))
                    m_pending.append(block);
            }
        }
        if (!m_pending.isEmpty()) {
            while (m_tokens.size() >= m_maxOutstanding) {
                m_tokens.remove(m_tokenOrder.takeFirst());
                ++dropped;
            }
            const int drawn = drawToken();
            ChannelData chunk;
            chunk.data = m_buffers->share(std::move(m_pending));
            chunk.startTime = double(m_chunkTime) * kNanoseconds;
            chunk.markers.append(ChannelData::Marker{ChannelData::MarkerTrigger, double(start) * kNanoseconds, QVariant()});
            m_tokens.insert(drawn, chunk);
            m_tokenOrder.append(drawn);
            m_pending.clear();
            made = true;
            if (token)
                *token = drawn;
        }
    }
    if (dropped > 0) {
        QxtLogger::getInstance()->warning(kTag, "channel", m_channelId, ": dropped", dropped,
                                          "chunk(s) the host did not take");
    }
    if (more)
        *more = made;
}

ChannelData DravikChunkCreator_v2::takeToken(int token)
{
    {
        std::lock_guard<std::mutex> locker(m_lock);
        const auto it = m_tokens.find(token);
        if (it != m_tokens.end()) {
            ChannelData chunk = it.value();
            m_tokens.erase(it);
            m_tokenOrder.removeOne(token);
            return chunk;
        }
    }
    QxtLogger::getInstance()->debug(kTag, "unknown token", token);
    return ChannelData();
}

int DravikChunkCreator_v2::outstandingChunks() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_tokens.size();
}
