#pragma once

#include <QVariant>
#include <QVariantList>

// The PD gain chosen from the expected charge, and the trigger level derived
// from a charge.
class GainSelection
{
public:
    // Charge-to-voltage factor k: 0.39, or 1.41 with the wide PD bandwidth
    // (1084 above 0.5); outside measurement mode 1 a positive factor 2005
    // (chargeToVoltage) replaces it as 2005 × 1e-9. usedFactor tells whether it did.
    static double voltageFactor(const QVariant &bandwidthValue, int measurementMode, const QVariant &chargeToVoltage,
                                bool *usedFactor = nullptr);

    // Target gain in dB for charge q (coulomb): -20 log10(q × 1e9 × k).
    static double targetDb(double charge, double factor);

    // The largest level not above target; the smallest level when none is;
    // 0 for an empty list. levels is parameter 1080 (numbers).
    static double chooseLevel(const QVariantList &levels, double target);

    // |charge / gain / calibration| with gain = 10^(gainDb / -20): the PD
    // trigger level for a charge in coulomb.
    static double triggerLevel(double charge, double gainDb, double calibration);
};
