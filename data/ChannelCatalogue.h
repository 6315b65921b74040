#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

// The logical channels the device offers the host, the muxer's source
// selector values, and the trigger sources the detector understands.
class ChannelCatalogue
{
public:
    struct Channel
    {
        int id;
        const char *name;
        int roleCode;   // 1 PD filtered, 2 charge phase 0, 3 test voltage, 4 raw gating, 5 overflow ADC 0
        int dataType;   // ChannelData::DataType
        const char *unit;
        double sampleRate;
    };

    // Registers one channel (phase 0); false if the device refused it.
    using RegisterFunction = std::function<bool(const Channel &)>;

    // Every channel in registration order.
    static QList<Channel> channels();
    static void registerChannels(const RegisterFunction &sink);

    // Muxer selector value (MuxerChannel0/1) → logical channel.
    static QHash<int, int> selectorMap();
    // The logical channel of a selector value, -1 for none.
    static int channelForSelector(int selector);

    // Trigger sources (code, name) in the order the user is offered them;
    // empty below firmware version 12.
    static QList<QPair<int, QString>> triggerSources(quint32 firmwareVersion);
};
