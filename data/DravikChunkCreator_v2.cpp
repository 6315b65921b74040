#include "DravikChunkCreator_v2.h"

#include "QxtLogger.h"

#include <QRandomGenerator>
#include <QWriteLocker>

namespace {
const char *const kTag = "[DRAVIK.ChunkCreator]:";
constexpr double kNanoseconds = 1e-9;
}

DravikChunkCreator_v2::DravikChunkCreator_v2(int channelId, int maxOutstanding)
    : m_channelId(channelId)
    , m_maxOutstanding(qBound(1, maxOutstanding, kTokenRange))
{
}

void DravikChunkCreator_v2::reset()
{
    QWriteLocker locker(&m_lock);
    m_pending.clear();
    m_chunkTime = 0;
}

void DravikChunkCreator_v2::addSlice(quint64 packetTimeStamp, const QByteArray &data)
{
    QWriteLocker locker(&m_lock);
    m_slices.insert(packetTimeStamp, data);
}

QList<int> DravikChunkCreator_v2::collectChunks(quint64 start, quint64 end, bool verbose)
{
    QList<int> tokens;
    for (;;) {
        if (verbose) {
            int slices = 0;
            {
                QWriteLocker locker(&m_lock);
                slices = m_slices.size();
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
    QWriteLocker locker(&m_lock);
    if (m_slices.isEmpty())
        return QString();
    return QStringLiteral("slices remaining %1").arg(m_slices.size());
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
        QWriteLocker locker(&m_lock);
        // Everything up to the end of the transfer; the start does not bound it.
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
            locker.relock();
        } else if (m_pending.isEmpty()) {
            m_chunkTime = taken.firstKey();
            qsizetype total = 0;
            for (const QByteArray &block : qAsConst(taken))
                total += block.size();
            m_pending.reserve(int(total));
            for (const QByteArray &block : qAsConst(taken))
                m_pending.append(block);
        }
        if (!m_pending.isEmpty()) {
            while (m_tokens.size() >= m_maxOutstanding) {
                m_tokens.remove(m_tokenOrder.takeFirst());
                ++dropped;
            }
            const int drawn = drawToken();
            ChannelData chunk;
            chunk.data = QSharedPointer<QByteArray>::create(m_pending);
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
        QWriteLocker locker(&m_lock);
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
    QWriteLocker locker(&m_lock);
    return m_tokens.size();
}
