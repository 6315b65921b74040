#pragma once

#include <QVariant>
#include <QVariantHash>

#include <functional>

// The device's settings as the host stores them: a key/value hash that maps
// onto user parameters, plus three access flags.
class DeviceSettings
{
public:
    struct Access
    {
        bool service = false;
        bool production = false;
        bool development = false;
    };

    using ValueFunction = std::function<QVariant(int parameterId)>;
    using RequestFunction = std::function<void(int parameterId, const QVariant &value)>;

    // The exported keys ("NetworkAddress", "AliveTimout", "HoldTimeDG0",
    // "SystemGatingLevel", "SystemGatingHoldTime", "PdLogFile") for every
    // parameter whose value is valid.
    static QVariantHash settings(const ValueFunction &value);

    // Requests every usable value of hash through request and returns the
    // access flags. Unusable values are skipped silently.
    static Access apply(const QVariantHash &hash, const RequestFunction &request);

    // The rule for the numeric settings: a finite number >= 0, given as a
    // number or as text. Also how the device judges them where it uses them.
    static bool isUnsignedNumber(const QVariant &value);

    // A hold time as the detector takes it: an unsigned number (above) that
    // fits 32 bits, truncated to whole nanoseconds. False for anything else,
    // so that no out-of-range double is ever cast.
    static bool toHoldTime(const QVariant &value, quint32 *holdTime);
};
