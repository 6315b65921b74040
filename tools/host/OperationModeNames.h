#pragma once

#include <QString>
#include <QStringList>

// The operation modes a host hands to the device in its environment, with the
// names a test engineer knows them by ("DAC+", "VLF Sinus", ...).
class OperationModeNames
{
public:
    // A number (0 to 11) or a short or long name. Case, blanks and underscores
    // do not matter ("dac+", "vlf_sinus", "CR Test"). False if unknown.
    static bool parse(const QString &text, int *mode);

    // "DAC+" / "DAC positive"; an empty string for an unknown mode.
    static QString shortName(int mode);
    static QString longName(int mode);

    // One line per mode: "  0  DAC+          DAC positive", for the help text.
    static QStringList table();
};
