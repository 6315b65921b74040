#pragma once

#include <QMetaType>
#include <QString>

// The host's record of one registered parameter. The fields mirror what the
// host reads; flagA, flagB and numberField have no meaning for this plug-in and
// stay false/0.
struct ParameterInfo
{
    int id = -1;
    QString name;          // display name
    QString description;   // free text
    QString unit;          // unit text
    int kind = 0;          // 0 generic, 1 serial number, 18 charge, 27 charge-to-voltage factor,
                           // 1000 device parameter, 1001 group header
    bool flagA = false;
    bool flagB = false;
    int channelId = -1;    // owning channel, -1 for none
    int numberField = 0;
    int valueType = 0;     // QMetaType id of the value
    int phaseId = -1;      // owning phase, -1 for none
    bool internal = false; // true: hidden from DeviceInterface::parameterIds()
};

Q_DECLARE_METATYPE(ParameterInfo)
