#pragma once

#include <QVariant>

// The host's view of the running test, handed to DeviceInterface::setEnvironment().
class AbstractQueryObject
{
public:
    // Keys understood by query(); the host may know more.
    enum Key {
        KeyChargeCalibrationFactor = 4, // phase -1, channel: the charge channel
        KeyOperationMode = 3,
        KeyNominalCharge = 14,          // coulomb
        KeyHvSourceType = 25,
        KeyChargeToVoltageFactor = 27
    };

    virtual ~AbstractQueryObject() = default;

    virtual int measurementMode() const = 0;
    virtual unsigned maximumShots() const = 0;
    // Fills value for key at phase/channel (-1 for none). Returns false and
    // leaves value invalid when the host has no value.
    virtual bool query(int key, QVariant &value, int phase = -1, int channel = -1) const = 0;
};
