#pragma once

#include <QString>
#include <QVariant>

// The operation-mode vocabulary (what kind of test the host runs) and the
// device types with their voltage limits and supported modes.
class OperationModes
{
public:
    enum Mode {
        Undefined = -1,
        DacPositive = 0,
        DacNegative = 1,
        VlfCrSlope = 2,
        VlfSinus = 3,
        DisturbanceLevel = 4,
        VlfCrTest = 5,
        SinusAc = 6,
        VlfSinusWithstand = 7,
        DacPositiveWithstand = 8,
        DacNegativeWithstand = 9,
        SensitivityCheck = 10,
        Pinpointing = 11
    };

    // Short ("DAC+") or long ("DAC positive") translatable name; unknown
    // numbers give "unk. n" / "Unknown n".
    static QString name(int mode, bool shortName);

    // Whether a detector of deviceType (parameter 1124) can run mode. Modes
    // -1, 4 and 10 run everywhere; an invalid or unknown type supports all.
    static bool isSupported(const QVariant &deviceType, int mode);

    // Maximum test voltage in volts for deviceType; 0 for an unknown type.
    static int maxVoltage(const QVariant &deviceType);
};
