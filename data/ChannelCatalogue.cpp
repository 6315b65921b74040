#include "ChannelCatalogue.h"

#include "ChannelData.h"

namespace {

constexpr int Float = ChannelData::DataTypeFloat;
constexpr int Binary = ChannelData::DataTypeBinary;
constexpr double Fast = 125000000.0; // the muxer's sample rate
constexpr double Slow = 200000.0;

// Registration order is the order the host lists the channels in.
const ChannelCatalogue::Channel kChannels[] = {
    {1000, "PD raw", 0, Float, "", Fast},
    {1001, "PD filtered", 1, Float, "", Fast},
    {1002, "System gating raw", 4, Float, "", Fast},
    {1003, "System gating filtered", 0, Float, "", Fast},
    {1005, "User gating raw", 4, Float, "", Fast},
    {1006, "User gating filtered", 0, Float, "", Fast},
    {1008, "Test voltage raw", 0, Float, "", Fast},
    {1009, "Charge 0 raw", 0, Float, "", Fast},
    {1010, "Charge 1 raw", 0, Float, "", Fast},
    {1011, "Charge 2 raw", 0, Float, "", Fast},
    {1012, "Charge 0 peak", 0, Float, "", Fast},
    {1013, "Charge 1 peak", 0, Float, "", Fast},
    {1014, "Charge 2 peak", 0, Float, "", Fast},
    {1015, "Charge 0 with gating", 0, Float, "", Fast},
    {1016, "Charge 1 with gating", 0, Float, "", Fast},
    {1017, "Charge 2 with gating", 0, Float, "", Fast},
    {1007, "User gating (PD) binary", 0, Binary, "", Fast},
    {1004, "System gating (PD) binary", 0, Binary, "", Fast},
    {1018, "Charge phase 0", 2, Float, "C", Slow},
    {1019, "Charge phase 1", 0, Float, "C", Slow},
    {1020, "Charge phase 2", 0, Float, "C", Slow},
    {1021, "Test voltage", 3, Float, "V", 100000.0},
    {1022, "User gating binary", 0, Binary, "", Slow},
    {1023, "System gating binary", 0, Binary, "", Slow},
    {1028, "Overflow ADC ch. 0 information", 5, Binary, "", Slow},
    {1029, "Overflow ADC ch. 1 information", 0, Binary, "", Slow},
    {1030, "Overflow ADC ch. 2 information", 0, Binary, "", Slow},
    {1031, "Overflow ADC ch. 3 information", 0, Binary, "", Slow},
    {1026, "Digital gating 0", 0, Binary, "", Slow},
    {1027, "Digital gating 1", 0, Binary, "", Slow},
    {1032, "Binary data ch 0 low res", 0, Binary, "", 100000.0},
    {1033, "Binary data ch 1 low res", 0, Binary, "", 100000.0},
    {1034, "Binary data ch 2 low res", 0, Binary, "", 100000.0},
    {1035, "Binary data ch 3 low res", 0, Binary, "", 100000.0},
    {1036, "Binary data ch 4 low res", 0, Binary, "", 100000.0},
    {1037, "Binary data ch 5 low res", 0, Binary, "", 100000.0},
    {1038, "Binary data ch 6 low res", 0, Binary, "", 100000.0},
    {1039, "Binary data ch 7 low res", 0, Binary, "", 100000.0},
    {1040, "Binary data ch 0 filtered", 0, Binary, "", Slow},
    {1041, "Binary data ch 1 filtered", 0, Binary, "", Slow},
    {1042, "Binary data ch 2 filtered", 0, Binary, "", Slow},
    {1043, "Binary data ch 3 filtered", 0, Binary, "", Slow},
    {1044, "Binary data ch 4 filtered", 0, Binary, "", Slow},
    {1045, "Binary data ch 5 filtered", 0, Binary, "", Slow},
    {1046, "Binary data ch 6 filtered", 0, Binary, "", Slow},
    {1047, "Binary data ch 7 filtered", 0, Binary, "", Slow},
    {1048, "Binary data ch 0 raw", 0, Binary, "", Slow},
    {1049, "Binary data ch 1 raw", 0, Binary, "", Slow},
    {1050, "Binary data ch 2 raw", 0, Binary, "", Slow},
    {1051, "Binary data ch 3 raw", 0, Binary, "", Slow},
    {1052, "Binary data ch 4 raw", 0, Binary, "", Slow},
    {1053, "Binary data ch 5 raw", 0, Binary, "", Slow},
    {1054, "Binary data ch 6 raw", 0, Binary, "", Slow},
    {1055, "Binary data ch 7 raw", 0, Binary, "", Slow},
};

// Selector value → logical channel, by position.
const int kSelectorChannels[] = {1000, 1005, 1002, 1008, 1001, 1006, 1003, 1009,
                                 1010, 1011, 1012, 1013, 1014, 1015, 1016, 1017};

struct TriggerSource
{
    int code;
    const char *name;
};

const TriggerSource kTriggerSources[] = {
    {0, "PD raw"},
    {4, "PD filtered"},
    {3, "Test voltage raw"},
    {7, "Charge 0 filtered"},
    {8, "Charge 1 filtered"},
    {9, "Charge 2 filtered"},
    {10, "Charge 0 peak"},
    {11, "Charge 1 peak"},
    {12, "Charge 2 peak"},
    {13, "Charge 0 with gating"},
    {14, "Charge 1 with gating"},
    {15, "Charge 2 with gating"},
    {1, "User gating raw"},
    {5, "User gating filtered"},
    {2, "System gating raw"},
    {6, "System gating filtered"},
    {64, "Digital gating ch 0"},
    {65, "Digital gating ch 1"},
    {66, "External trigger 0"},
    {67, "External trigger 1"},
    {68, "Software trigger"},
};

constexpr quint32 kFirstFirmwareWithTriggerSources = 12;

} // namespace

QList<ChannelCatalogue::Channel> ChannelCatalogue::channels()
{
    return QList<Channel>(std::begin(kChannels), std::end(kChannels));
}

void ChannelCatalogue::registerChannels(const RegisterFunction &sink)
{
    for (const Channel &channel : kChannels)
        sink(channel);
}

QHash<int, int> ChannelCatalogue::selectorMap()
{
    QHash<int, int> map;
    for (int selector = 0; selector < int(std::size(kSelectorChannels)); ++selector)
        map.insert(selector, kSelectorChannels[selector]);
    return map;
}

int ChannelCatalogue::channelForSelector(int selector)
{
    if (selector < 0 || selector >= int(std::size(kSelectorChannels)))
        return -1;
    return kSelectorChannels[selector];
}

QList<QPair<int, QString>> ChannelCatalogue::triggerSources(quint32 firmwareVersion)
{
    QList<QPair<int, QString>> sources;
    if (firmwareVersion < kFirstFirmwareWithTriggerSources)
        return sources;
    for (const TriggerSource &source : kTriggerSources)
        sources.append({source.code, QString::fromLatin1(source.name)});
    return sources;
}
