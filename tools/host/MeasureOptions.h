#pragma once

#include "ConnectionAddress.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

// The command line of `dravik-host measure`, parsed and checked. Nothing here
// touches the plug-in or the network: a bad or remote address is refused
// before anything is loaded.
class MeasureOptions
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

    // Connection.
    QString pluginPath;
    ConnectionAddress address;
    bool allowRemote = false;
    QString settingsPath;
    double timeoutSeconds = 15.0;

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

    // Reporting.
    bool json = false;
    bool quiet = false;
    bool verbose = false;

private:
    bool fail(const QString &message);

    QString m_error;
};
