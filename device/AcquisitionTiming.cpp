#include "AcquisitionTiming.h"

#include "OperationModes.h"
#include "QxtLogger.h"

#include <QMetaType>

#include <cmath>

namespace {

const char *const kTag = "[DRAVIK2]:";

using Record = AcquisitionTiming::Record;

// Trigger source codes of the detector.
constexpr quint32 kPdFiltered = 4;
constexpr quint32 kChargeWithGating0 = 13;
constexpr quint32 kExternalTrigger0 = 66;
constexpr quint32 kSoftwareTrigger = 68;

// The sine modes sample the test voltage for as long as a test may run: ten
// years of 365 days is "never ends" for the detector.
constexpr quint64 kTenYearsNs = 10ull * 365 * 24 * 3600 * 1000000000ull;
static_assert(kTenYearsNs == 315360000000000000ull, "ten years of 365 days in nanoseconds");

Record makeRecord(quint32 source, quint32 holdtime, quint32 periods, quint64 framePeriod, quint64 samplePeriod,
                  qint64 pretrigger)
{
    Record record;
    record.triggerSource = source;
    record.triggerHoldtime = holdtime;
    record.periods = periods;
    record.framePeriod = framePeriod;
    record.samplePeriod = samplePeriod;
    record.pretrigger = pretrigger;
    return record;
}

// The default record with no periods: the group stays idle.
Record noAcquisition()
{
    Record record;
    record.periods = 0;
    return record;
}

// Operation modes that share one timing.
enum class Family { None, Noise, DirectVoltage, Slope, Sine };

Family family(int operationMode)
{
    switch (operationMode) {
    case OperationModes::DisturbanceLevel:
        return Family::Noise;
    case OperationModes::DacPositive:
    case OperationModes::DacNegative:
    case OperationModes::DacPositiveWithstand:
    case OperationModes::DacNegativeWithstand:
        return Family::DirectVoltage;
    case OperationModes::VlfCrSlope:
    case OperationModes::VlfCrTest:
        return Family::Slope;
    case OperationModes::VlfSinus:
    case OperationModes::SinusAc:
    case OperationModes::VlfSinusWithstand:
    case OperationModes::Pinpointing:
        return Family::Sine;
    default:
        // The sensitivity check and unknown modes acquire nothing.
        return Family::None;
    }
}

// A shot count from the settings: a whole number from 0 to 2^32 - 1, given as
// a number or as text that reads as one ("12", "1e3"). Negative, fractional,
// non-finite or oversized values and booleans are not a count; the caller
// falls back to "all periods" for them rather than sending a rounded or
// wrapped-around limit to the detector.
bool shotCount(const QVariant &value, quint32 *count)
{
    if (!value.isValid() || value.userType() == QMetaType::Bool)
        return false;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < 0 || number > double(AcquisitionTiming::kAllPeriods)
        || std::floor(number) != number)
        return false;
    *count = quint32(number);
    return true;
}

Record testVoltageOrChargeRecord(Family f)
{
    switch (f) {
    case Family::Noise:
        return makeRecord(kSoftwareTrigger, 0, 1, 200000000, 200000000, 0);
    case Family::DirectVoltage:
        return makeRecord(kExternalTrigger0, 0, AcquisitionTiming::kAllPeriods, 500000000, 500000000, 1000000);
    case Family::Slope:
        return makeRecord(kExternalTrigger0, 0, AcquisitionTiming::kAllPeriods, 35000000, 35000000, 1000000);
    case Family::Sine:
        return makeRecord(kSoftwareTrigger, 0, 1, 2000000000, kTenYearsNs, 0);
    case Family::None:
        break;
    }
    return noAcquisition();
}

Record muxerRecord(Family f, const QVariant &maxVlfShots)
{
    switch (f) {
    case Family::Noise:
        return makeRecord(kSoftwareTrigger, 0, 1, 50000000, 50000000, 0);
    case Family::DirectVoltage:
        return makeRecord(kExternalTrigger0, 0, AcquisitionTiming::kAllPeriods, 50000000, 50000000, 0);
    case Family::Slope:
        return makeRecord(kExternalTrigger0, 0, AcquisitionTiming::kAllPeriods, 30000000, 30000000, 0);
    case Family::Sine: {
        quint32 periods = AcquisitionTiming::kAllPeriods;
        if (shotCount(maxVlfShots, &periods))
            QxtLogger::getInstance()->debug(kTag, "Overwrite max VLF Shots with value", periods);
        return makeRecord(kChargeWithGating0, 100000000, periods, 1000000, 1000000, 500000);
    }
    case Family::None:
        break;
    }
    return noAcquisition();
}

} // namespace

AcquisitionTiming::Record AcquisitionTiming::lookup(Group group, int measurementMode, int operationMode,
                                                    const QVariant &maxVlfShots, bool *valid)
{
    if (valid)
        *valid = measurementMode >= 0 && measurementMode <= 2;

    switch (measurementMode) {
    case 0:
        return group == Muxer ? muxerRecord(family(operationMode), maxVlfShots)
                              : testVoltageOrChargeRecord(family(operationMode));
    case 1:
    case 2:
        if (group != Muxer)
            return makeRecord(kSoftwareTrigger, 0, 1, 199360000, 199360000, 0);
        return measurementMode == 1 ? makeRecord(kPdFiltered, 15000000, 500, 800000, 800000, 300000)
                                    : makeRecord(kSoftwareTrigger, 0, 1, 100000000, 100000000, 0);
    default:
        return Record();
    }
}

QHash<int, QVariant> AcquisitionTiming::parameters(const Record &testVoltage, const Record &charge,
                                                   const Record &muxer)
{
    // The detector parameters are typed: the QVariant types below are the
    // widths of the timing record, so the container sends them unchanged.
    struct Ids
    {
        int periods;
        int framePeriod;
        int samplePeriod;
        int pretrigger;
    };
    const auto insertTiming = [](QHash<int, QVariant> &hash, const Record &record, const Ids &ids) {
        hash.insert(ids.periods, QVariant::fromValue<quint32>(record.periods));
        hash.insert(ids.framePeriod, QVariant::fromValue<quint64>(record.framePeriod));
        hash.insert(ids.samplePeriod, QVariant::fromValue<quint64>(record.samplePeriod));
        hash.insert(ids.pretrigger, QVariant::fromValue<qint64>(record.pretrigger));
    };

    QHash<int, QVariant> hash;
    insertTiming(hash, testVoltage, {1024, 1023, 1022, 1025});
    insertTiming(hash, charge, {1029, 1028, 1027, 1030});
    insertTiming(hash, muxer, {1019, 1018, 1017, 1020});
    hash.insert(1034, 0);
    hash.insert(1039, 0);
    hash.insert(1043, QVariant::fromValue<quint32>(charge.triggerSource));
    hash.insert(1045, QVariant::fromValue<quint32>(charge.triggerHoldtime));
    hash.insert(1048, QVariant::fromValue<quint32>(muxer.triggerSource));
    hash.insert(1050, QVariant::fromValue<quint32>(muxer.triggerHoldtime));
    return hash;
}
