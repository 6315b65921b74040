#pragma once

#include <QList>
#include <QString>

// What the device asks of a channel's chunk creator, independent of how the
// chunks are assembled.
class DravikChunkCreatorBase_v2
{
public:
    virtual ~DravikChunkCreatorBase_v2() = default;

    // Drops the chunk being assembled (slices and waiting chunks stay).
    virtual void reset() = 0;
    // Called when an acquisition's channel table is rebuilt; nothing to do by default.
    virtual void prepare() {}
    // Makes chunks from the slices up to end until none is left; the tokens
    // under which they wait. start is the trigger time of the chunk.
    virtual QList<int> collectChunks(quint64 start, quint64 end, bool verbose) = 0;
    // "slices remaining N", or empty when nothing waits.
    virtual QString statusText() const = 0;
    // Makes at most one chunk; more tells whether one was made.
    virtual void takeChunk(bool *more, quint64 start, quint64 end, int *token) = 0;
};
