#pragma once

#include <QHash>

// Which logical channel each hardware channel of the detector feeds, given the
// muxer set-up. Hardware channels exist only between the unpacker and the
// device; the host sees logical channel ids.
class HardwareChannelMap
{
public:
    // selectorMap: muxer selector value → logical channel (-1 for none).
    // hvSourceType 3 swaps hardware 5/6 and routes selector 5 on hardware 0 to
    // channel 1001. In dual mode with both selectors equal only hardware 3
    // gets the channel; hardware 4 maps to -1.
    static QHash<int, int> build(bool dual, bool gating, quint8 ch0, quint8 ch1, int hvSourceType,
                                 const QHash<int, int> &selectorMap);
};
