#include "OperationModes.h"

#include <QCoreApplication>

namespace {

struct TranslatableText
{
    const char *source;
    const char *comment;
};

struct ModeName
{
    int mode;
    TranslatableText shortName;
    TranslatableText longName;
};

// The short names reach the translator with the comment of the long form plus
// " (short version)", so that "Sinus" (short) and "Sinus AC" (long) can be
// told apart in the translation files. The comments are spelled out in full
// because lupdate only picks up literals.
const ModeName kNames[] = {
    {-1, QT_TRANSLATE_NOOP3("OperationModes", "-", "Undefined Operation mode (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "Undefined", "Undefined Operation mode")},
    {0, QT_TRANSLATE_NOOP3("OperationModes", "DAC+", "Operation mode DAC+ (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "DAC positive", "Operation mode DAC+")},
    {1, QT_TRANSLATE_NOOP3("OperationModes", "DAC-", "Operation mode DAC- (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "DAC negative", "Operation mode DAC-")},
    {2, QT_TRANSLATE_NOOP3("OperationModes", "Slope", "Operation mode VLF CR Slope (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "VLF CR Slope", "Operation mode VLF CR Slope")},
    {3, QT_TRANSLATE_NOOP3("OperationModes", "Sinus", "Operation mode VLF Sinus (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "VLF Sinus", "Operation mode VLF Sinus")},
    {4, QT_TRANSLATE_NOOP3("OperationModes", "Noise", "Operation mode disturbance level (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "Disturbance Level", "Operation mode disturbance level")},
    {5, QT_TRANSLATE_NOOP3("OperationModes", "CR Test", "Operation mode cable testing (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "VLF CR Test", "Operation mode cable testing")},
    {6, QT_TRANSLATE_NOOP3("OperationModes", "Sin AC", "Operation mode Sinus (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "Sinus AC", "Operation mode Sinus")},
    {7, QT_TRANSLATE_NOOP3("OperationModes", "Sin Test", "Operation mode VLF Sinus cable testing (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "VLF Sinus Withstand", "Operation mode VLF Sinus cable testing")},
    {8, QT_TRANSLATE_NOOP3("OperationModes", "DAC+ Test", "Operation mode DAC+ cable testing (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "DAC positive Withstand", "Operation mode DAC+ cable testing")},
    {9, QT_TRANSLATE_NOOP3("OperationModes", "DAC- Test", "Operation mode DAC- cable testing (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "DAC negative Withstand", "Operation mode DAC- cable testing")},
    {10, QT_TRANSLATE_NOOP3("OperationModes", "Sensitivity", "Operation mode sensitivity check (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "Sensitivity check", "Operation mode sensitivity check")},
    // The trailing blank of the long name is what hosts and existing
    // translation files know; keep it.
    {11, QT_TRANSLATE_NOOP3("OperationModes", "Pinpointing", "Operation mode Pinpointing (short version)"),
     QT_TRANSLATE_NOOP3("OperationModes", "Pinpointing ", "Operation mode Pinpointing")},
};

QString translated(const TranslatableText &text)
{
    return QCoreApplication::translate("OperationModes", text.source, text.comment);
}

struct DeviceType
{
    int type;
    int maxVoltage;
    // Bit n set: operation mode n runs on this type. Modes -1, 4 and 10 are
    // handled before the mask is consulted; kAllModes also admits mode
    // numbers this plug-in does not know yet.
    quint32 modes;
};

constexpr quint32 modeBit(int mode)
{
    return quint32(1) << mode;
}

constexpr quint32 kAllModes = 0xffffffffu;

const DeviceType kDeviceTypes[] = {
    {0, 62000, kAllModes},
    // Listed rather than written as "all but Sinus AC": a mode added later
    // must not run on these detectors until someone has said it can.
    {1, 62000, modeBit(OperationModes::DacPositive) | modeBit(OperationModes::DacNegative)
                   | modeBit(OperationModes::VlfCrSlope) | modeBit(OperationModes::VlfSinus)
                   | modeBit(OperationModes::VlfCrTest) | modeBit(OperationModes::VlfSinusWithstand)
                   | modeBit(OperationModes::DacPositiveWithstand) | modeBit(OperationModes::DacNegativeWithstand)
                   | modeBit(OperationModes::Pinpointing)},
    {2, 62000, modeBit(OperationModes::VlfSinus) | modeBit(OperationModes::VlfSinusWithstand)
                   | modeBit(OperationModes::Pinpointing)},
    {3, 30000, modeBit(OperationModes::DacNegative) | modeBit(OperationModes::DacNegativeWithstand)
                   | modeBit(OperationModes::Pinpointing)},
    {4, 300000, modeBit(OperationModes::DacNegative) | modeBit(OperationModes::DacNegativeWithstand)
                    | modeBit(OperationModes::Pinpointing)},
};

const DeviceType *findDeviceType(const QVariant &deviceType)
{
    bool ok = false;
    const int type = deviceType.toInt(&ok);
    if (!deviceType.isValid() || !ok)
        return nullptr;
    for (const DeviceType &entry : kDeviceTypes) {
        if (entry.type == type)
            return &entry;
    }
    return nullptr;
}

} // namespace

QString OperationModes::name(int mode, bool shortName)
{
    for (const ModeName &entry : kNames) {
        if (entry.mode != mode)
            continue;
        return translated(shortName ? entry.shortName : entry.longName);
    }
    const QString prefix = shortName ? translated(QT_TRANSLATE_NOOP3("OperationModes", "unk.",
                                                                     "Unknown operation mode (short version)"))
                                     : translated(QT_TRANSLATE_NOOP3("OperationModes", "Unknown",
                                                                     "Unknown operation mode"));
    return prefix + QLatin1Char(' ') + QString::number(mode);
}

bool OperationModes::isSupported(const QVariant &deviceType, int mode)
{
    if (mode == Undefined || mode == DisturbanceLevel || mode == SensitivityCheck)
        return true;
    const DeviceType *entry = findDeviceType(deviceType);
    // A detector that has not told us its type, or one newer than this
    // plug-in, must not be locked out of any test.
    if (!entry || entry->modes == kAllModes)
        return true;
    if (mode < 0 || mode > 31)
        return false;
    return (entry->modes & modeBit(mode)) != 0;
}

int OperationModes::maxVoltage(const QVariant &deviceType)
{
    const DeviceType *entry = findDeviceType(deviceType);
    return entry ? entry->maxVoltage : 0;
}
