#pragma once

#include "ChannelData.h"

// Edits of a chunk in its own time base (start time in seconds, samples at a
// sample rate): cutting it to a window and zeroing an interval. Both leave the
// chunk unchanged when its data type or sample rate is unusable.
class ChunkEditing
{
public:
    // Bytes per sample of a data type; 0 for an unknown type.
    static int sampleSize(int dataType);

    // Keeps the samples within [start, stop] (rounded to whole samples) and
    // moves the start time to the first kept sample. A window that begins
    // before the chunk keeps the chunk's start; one that ends before it
    // begins leaves the chunk empty. Logs what it did under tag.
    static void cut(ChannelData &chunk, int channelId, double sampleRate, double start, double stop);

    // Sets the samples from from to to (seconds, rounded, clamped to the
    // chunk) to zero.
    static void zero(ChannelData &chunk, double sampleRate, double from, double to);
};
