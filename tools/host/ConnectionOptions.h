#pragma once

#include "ConnectionAddress.h"

#include <QString>

class QCommandLineParser;

// The options every command that talks to a detector shares: which plug-in,
// which address (loopback only unless --allow-remote), how long to wait, and
// how to report. Each command adds these to its own parser, then takes them
// back after parsing; nothing here touches the plug-in or the network.
class ConnectionOptions
{
public:
    // --plugin, --address, --timeout (values); --allow-remote, --json,
    // --quiet, --verbose (flags).
    static void addTo(QCommandLineParser &parser);
    // Reads the options above from a parser that has parsed. False with error
    // set if --address is missing or bad, remote without --allow-remote, or
    // --timeout is out of range.
    bool take(const QCommandLineParser &parser, const QString &defaultPluginPath, QString *error);
    // The help lines of the options above, for the commands' usage texts.
    static QString usageConnection(double defaultTimeoutSeconds, const QString &timeoutMeaning);
    static QString usageOutput();

    // Number parsing shared by the commands' own options.
    static bool toDouble(const QString &text, double *value);
    static bool toUnsigned(const QString &text, qulonglong max, qulonglong *value);

    QString pluginPath;
    ConnectionAddress address;
    bool allowRemote = false;
    double timeoutSeconds = 15.0;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
};
