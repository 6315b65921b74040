#include "HardwareChannelMap.h"

#include "QxtLogger.h"

namespace {

// An HV source with its charge phases 0 and 1 crossed: charge phase 0 arrives
// on hardware 6 instead of 5, and the muxer's "user gating filtered" input
// carries the filtered PD signal.
constexpr int kCrossedHvSource = 3;

struct FixedChannel
{
    int hardware;
    int channel;
};

// Hardware channels whose meaning does not depend on the muxer set-up.
const FixedChannel kFixedChannels[] = {
    {7, 1020}, {8, 1021}, {17, 1026}, {18, 1027}, {19, 1022}, {20, 1023},
    {21, 1028}, {22, 1029}, {23, 1030}, {24, 1031},
};

// Blocks of hardware channels that map one to one onto logical channels.
struct ChannelRange
{
    int firstHardware;
    int lastHardware;
    int firstChannel;
};

const ChannelRange kChannelRanges[] = {
    {9, 16, 1032},
    {25, 40, 1040},
};

// Muxer outputs: hardware 0 in single mode (1 and 2 carry the gating
// channels), hardware 3 and 4 in dual mode.
constexpr int kSingleOutput = 0;
constexpr int kSystemGatingOutput = 1;
constexpr int kUserGatingOutput = 2;
constexpr int kDualOutput0 = 3;
constexpr int kDualOutput1 = 4;

constexpr int kChargePhase0 = 1018;
constexpr int kChargePhase1 = 1019;
constexpr int kPdFiltered = 1001;
constexpr int kSystemGatingBinary = 1004;
constexpr int kUserGatingBinary = 1007;
constexpr int kUserGatingFilteredSelector = 5;

} // namespace

QHash<int, int> HardwareChannelMap::build(bool dual, bool gating, quint8 ch0, quint8 ch1, int hvSourceType,
                                          const QHash<int, int> &selectorMap)
{
    QHash<int, int> map;
    for (const FixedChannel &entry : kFixedChannels)
        map.insert(entry.hardware, entry.channel);
    for (const ChannelRange &range : kChannelRanges) {
        for (int hardware = range.firstHardware; hardware <= range.lastHardware; ++hardware)
            map.insert(hardware, range.firstChannel + (hardware - range.firstHardware));
    }

    const bool crossed = hvSourceType == kCrossedHvSource;
    if (crossed)
        QxtLogger::getInstance()->debug("[DRAVIK2]:", "switch phase 1 => 0");
    map.insert(5, crossed ? kChargePhase1 : kChargePhase0);
    map.insert(6, crossed ? kChargePhase0 : kChargePhase1);

    // Selector values without a channel stay in the map as -1: the hardware
    // channel is still acquired, its data just has no logical channel to go
    // to (the device drops it).
    const auto channelOf = [&selectorMap](quint8 selector) { return selectorMap.value(selector, -1); };
    if (dual) {
        map.insert(kDualOutput0, channelOf(ch0));
        // Two outputs on one channel would interleave two signals in one
        // chunk: the second is left without a channel (the device warns).
        map.insert(kDualOutput1, ch1 == ch0 ? -1 : channelOf(ch1));
    } else {
        map.insert(kSingleOutput, channelOf(ch0));
        if (gating) {
            map.insert(kSystemGatingOutput, kSystemGatingBinary);
            map.insert(kUserGatingOutput, kUserGatingBinary);
        }
        if (crossed && ch0 == kUserGatingFilteredSelector)
            map.insert(kSingleOutput, kPdFiltered);
    }
    return map;
}
