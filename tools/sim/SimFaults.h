#pragma once

#include <QHash>

// The fault switches of the simulator, the same set on the command line and
// in the library. Frame counts are counted per connection, from 1.
struct SimFaults
{
    // Close the connection once this many requests have been answered (0: at
    // once after accepting). Fires once, then disarms itself.
    int dropAfterFrames = -1;
    // Close the connection when the measurement state becomes this value.
    // Fires once, then disarms itself.
    int dropInState = -1;
    // Requests after this many get no answer at all; the connection stays open.
    int silentAfterFrames = -1;
    // Answers to requests after this many are replaced by random bytes of the
    // same length.
    int garbageAfterFrames = -1;
    // Every response leaves this much later than it would.
    int responseDelayMs = 0;
    // Command id -> acknowledge code: such requests are refused with that code
    // and not carried out.
    QHash<quint16, quint16> failAck;
    // The checksum reply of a file transfer reports a wrong CRC.
    bool corruptChecksum = false;
    // Responses go out in TCP writes of at most this many bytes, each waiting
    // for the previous one to leave (0: off).
    int splitWriteBytes = 0;
};
