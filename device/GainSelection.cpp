#include "GainSelection.h"

#include <QMetaType>

#include <cmath>
#include <limits>

namespace {

// Charge-to-voltage factors of the PD input in V/nC, narrow and wide band.
constexpr double kNarrowBandFactor = 0.39;
constexpr double kWideBandFactor = 1.41;

// Measurement mode 1 is calibrated for the built-in factors; a host factor
// would shift its gains.
constexpr int kFixedFactorMeasurementMode = 1;

// A number from a parameter: any numeric value, or text that reads as one.
// Booleans are not numbers here, though QVariant would happily make 1 of true.
bool number(const QVariant &value, double *result)
{
    if (!value.isValid() || value.userType() == QMetaType::Bool)
        return false;
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || std::isnan(d))
        return false;
    *result = d;
    return true;
}

} // namespace

double GainSelection::voltageFactor(const QVariant &bandwidthValue, int measurementMode,
                                    const QVariant &chargeToVoltage, bool *usedFactor)
{
    if (usedFactor)
        *usedFactor = false;
    // An unknown bandwidth reads as the narrow band, the detector's default.
    double factor = bandwidthValue.toDouble() > 0.5 ? kWideBandFactor : kNarrowBandFactor;

    double hostFactor = 0;
    if (measurementMode != kFixedFactorMeasurementMode && number(chargeToVoltage, &hostFactor) && hostFactor > 0
        && std::isfinite(hostFactor)) {
        // The caller logs the switch (usedFactor), next to the gain it sets.
        factor = hostFactor * 1e-9;
        if (usedFactor)
            *usedFactor = true;
    }
    return factor;
}

double GainSelection::targetDb(double charge, double factor)
{
    // No charge asks for the most gain (+inf picks the highest level); a
    // negative product gives NaN, which chooseLevel answers with the lowest.
    return -20.0 * std::log10(charge * 1e9 * factor);
}

double GainSelection::chooseLevel(const QVariantList &levels, double target)
{
    bool any = false;
    double smallest = std::numeric_limits<double>::infinity();
    bool found = false;
    double best = 0;
    for (const QVariant &entry : levels) {
        double level = 0;
        // The detector reports numbers; anything else in the list cannot be
        // set as a gain and is passed over.
        if (!number(entry, &level))
            continue;
        any = true;
        smallest = qMin(smallest, level);
        if (level <= target && (!found || level > best)) {
            best = level;
            found = true;
        }
    }
    if (found)
        return best;
    return any ? smallest : 0.0;
}

double GainSelection::triggerLevel(double charge, double gainDb, double calibration)
{
    const double gain = std::pow(10.0, gainDb / -20.0);
    return std::fabs(charge / gain / calibration);
}
