#include "DeviceSettings.h"

#include "QxtLogger.h"

#include <QMetaType>
#include <QString>

#include <cmath>
#include <limits>

namespace {

enum class Requirement { Text, UnsignedNumber };

struct Setting
{
    const char *key;
    int parameterId;
    Requirement requirement;
    bool exported;
};

// In the order settings() reads them. MaxShotsVLFSinLocalization is only
// taken in; settings() never hands it back.
const Setting kSettings[] = {
    {"NetworkAddress", 1171, Requirement::Text, true},
    {"AliveTimout", 1172, Requirement::Text, true},
    {"HoldTimeDG0", 1173, Requirement::UnsignedNumber, true},
    {"SystemGatingLevel", 1174, Requirement::UnsignedNumber, true},
    {"SystemGatingHoldTime", 1175, Requirement::UnsignedNumber, true},
    {"PdLogFile", 1177, Requirement::Text, true},
    {"MaxShotsVLFSinLocalization", 2011, Requirement::UnsignedNumber, false},
};

bool convertibleToText(const QVariant &value)
{
    // A trial conversion rather than canConvert(): canConvert() only looks at
    // the type and says yes to a string list of any length.
    QVariant copy = value;
    return copy.convert(QMetaType::QString);
}

bool usable(const QVariant &value, Requirement requirement)
{
    if (!value.isValid())
        return false;
    return requirement == Requirement::Text ? convertibleToText(value) : DeviceSettings::isUnsignedNumber(value);
}

} // namespace

QVariantHash DeviceSettings::settings(const ValueFunction &value)
{
    QVariantHash hash;
    for (const Setting &setting : kSettings) {
        if (!setting.exported)
            continue;
        const QVariant current = value(setting.parameterId);
        if (current.isValid())
            hash.insert(QLatin1String(setting.key), current);
    }
    return hash;
}

DeviceSettings::Access DeviceSettings::apply(const QVariantHash &hash, const RequestFunction &request)
{
    // Texts first, numbers second: the connection settings are in place
    // before anything that acts on a measurement.
    for (const Requirement pass : {Requirement::Text, Requirement::UnsignedNumber}) {
        for (const Setting &setting : kSettings) {
            if (setting.requirement != pass)
                continue;
            const QString key = QLatin1String(setting.key);
            const QVariant value = hash.value(key);
            if (!usable(value, setting.requirement))
                continue;
            QxtLogger::getInstance()->debug("[DRAVIK]", key, value);
            request(setting.parameterId, value);
        }
    }

    // Development access opens everything the other two do.
    const bool development = hash.value(QStringLiteral("DevelopMode")).toBool();
    Access access;
    access.development = development;
    access.service = hash.value(QStringLiteral("ServiceMode")).toBool() || development;
    access.production = hash.value(QStringLiteral("ProductionMode")).toBool() || development;
    return access;
}

// "Convertible to an unsigned number" means: the value is a finite number of
// at least 0, given as a number or as text that reads as one in the C locale.
// So "12" and 12 pass, "-5", -5, "abc", NaN and booleans do not. Fractions
// pass ("1.5", 1.5): SystemGatingLevel shares this rule and is a fraction by
// nature (0.1585 built in), so an integer-only reading would make that key
// useless. What a fraction means for a hold time or a shot count is up to the
// code that uses the parameter (the shot limit refuses one). The value is
// requested as given, not as the converted number, so the parameter keeps
// the host's type.
bool DeviceSettings::toHoldTime(const QVariant &value, quint32 *holdTime)
{
    if (!isUnsignedNumber(value))
        return false;
    const double number = value.toDouble();
    if (number > double(std::numeric_limits<quint32>::max()))
        return false;
    *holdTime = quint32(number);
    return true;
}

bool DeviceSettings::isUnsignedNumber(const QVariant &value)
{
    if (value.userType() == QMetaType::Bool)
        return false;
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && std::isfinite(number) && number >= 0;
}
