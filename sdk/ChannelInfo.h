#pragma once

#include <QMetaType>
#include <QString>

// The host's record of one registered channel. The descriptive fields follow
// the channel's registration order: role, data type, unit, sample rate, second
// text, flag.
struct ChannelInfo
{
    int id = -1;
    QString name;
    int phaseId = -1;
    int roleCode = 0;        // 1 PD filtered, 2 charge phase 0, 3 test voltage, 4 raw gating, 5 overflow ADC 0
    int dataType = 0;        // ChannelData::DataType of the channel's blocks
    QString unit;            // "C", "V" or empty
    double sampleRate = 0.0; // samples per second
    QString secondText;
    bool flag = false;
};

Q_DECLARE_METATYPE(ChannelInfo)
