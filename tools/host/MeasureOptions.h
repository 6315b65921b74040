#pragma once

#include "ConnectionOptions.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

// The command line of `dravik-host measure`, parsed and checked. Nothing here
// touches the plug-in or the network: a bad or remote address is refused
// before anything is loaded. The connection and reporting options are the
// ones every device command shares (ConnectionOptions).
class MeasureOptions : public ConnectionOptions
{
public:
    enum class Outcome {
        Run,   // options complete and valid
        Help,  // --help given: print usage() and stop
        Error  // errorString() says what is wrong
    };

    // args are the words after "measure". defaultPluginPath is used when
    // --plugin is not given.
    Outcome parse(const QStringList &args, const QString &defaultPluginPath);
    QString errorString() const { return m_error; }

    static QString usage();
    // What measurement modes 0, 1 and 2 do, as the help text says.
    static QStringList measurementModeNames();

    // Connection (the rest in ConnectionOptions).
    QString settingsPath;
    // Every --address in the order given (one detector per phase: up to
    // three); address is the first.
    QList<ConnectionAddress> addresses;
    static constexpr int kMaxDetectors = 3;

    // Environment. Invalid QVariants are not handed to the device.
    int measurementMode = 0;
    int operationMode = 0;
    QVariant charge;               // coulomb
    QVariant hvSourceType;         // int
    QVariant chargeToVoltageFactor; // V/C
    QVariant calibrationFactor;
    unsigned maximumShots = 4294967295u;

    // Measurements.
    int count = 1;
    double durationSeconds = 2.0;
    QSet<int> channels;            // empty: every channel
    QString outputPath;
    bool overwrite = false;
    bool simulated = false;

private:
    bool fail(const QString &message);
    bool takeAddresses(const QStringList &texts);

    QString m_error;
};
