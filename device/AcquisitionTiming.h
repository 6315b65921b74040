#pragma once

#include <QHash>
#include <QVariant>

// The acquisition timing the device writes before a start, per channel group,
// measurement mode and operation mode. Times are nanoseconds.
class AcquisitionTiming
{
public:
    enum Group { TestVoltage, Charge, Muxer };

    struct Record
    {
        quint32 triggerSource = 68;
        quint32 triggerHoldtime = 0;
        quint32 periods = 1;
        quint64 framePeriod = 200000000;
        quint64 samplePeriod = 200000000;
        qint64 pretrigger = 0;
    };

    static constexpr quint32 kAllPeriods = 4294967295u;

    // The record for group. measurementMode 1 and 2 are fixed sets, 0 goes by
    // operationMode; maxVlfShots (parameter 2011) replaces the muxer periods of
    // the VLF sine modes when it is a valid unsigned number. An operation mode
    // without timing gives the default record with periods 0. Other
    // measurement modes give the default record; valid is then false.
    static Record lookup(Group group, int measurementMode, int operationMode, const QVariant &maxVlfShots,
                         bool *valid = nullptr);

    // The device parameters the three records set, as one request: periods,
    // frame period, sample period and pretrigger of each group, 1034 = 0 and
    // 1039 = 0, the charge trigger source/hold time (1043/1045) and the
    // muxer's (1048/1050).
    static QHash<int, QVariant> parameters(const Record &testVoltage, const Record &charge, const Record &muxer);
};
