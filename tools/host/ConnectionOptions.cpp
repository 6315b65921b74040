#include "ConnectionOptions.h"

#include <QCommandLineParser>
#include <QLocale>

#include <cmath>

void ConnectionOptions::addTo(QCommandLineParser &parser)
{
    for (const char *name : {"plugin", "address", "timeout"})
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    for (const char *name : {"allow-remote", "json", "quiet", "verbose"})
        parser.addOption(QCommandLineOption(QLatin1String(name)));
}

bool ConnectionOptions::toDouble(const QString &text, double *value)
{
    bool ok = false;
    *value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(*value);
}

bool ConnectionOptions::toUnsigned(const QString &text, qulonglong max, qulonglong *value)
{
    bool ok = false;
    *value = text.trimmed().toULongLong(&ok, 0);
    return ok && *value <= max;
}

bool ConnectionOptions::take(const QCommandLineParser &parser, const QString &defaultPluginPath, QString *error)
{
    const auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&](const char *name) { return parser.isSet(QLatin1String(name)); };

    pluginPath = isSet("plugin") ? value("plugin") : defaultPluginPath;
    if (!isSet("address")) {
        *error = QStringLiteral("--address HOST:PORT is required (for the simulator: the address it prints)");
        return false;
    }
    QString why;
    if (!ConnectionAddress::parse(value("address"), &address, &why)) {
        *error = QStringLiteral("--address: %1").arg(why);
        return false;
    }
    allowRemote = isSet("allow-remote");
    if (!address.isLoopback() && !allowRemote) {
        *error = QStringLiteral("--address %1 is not a loopback address; "
                                "connecting to a real detector needs --allow-remote")
                     .arg(address.toString());
        return false;
    }
    if (isSet("timeout") && (!toDouble(value("timeout"), &timeoutSeconds) || timeoutSeconds <= 0
                             || timeoutSeconds > 3600)) {
        *error = QStringLiteral("--timeout: '%1' is not a number of seconds above 0 and at most 3600").arg(value("timeout"));
        return false;
    }
    json = isSet("json");
    quiet = isSet("quiet");
    verbose = isSet("verbose");
    return true;
}

QString ConnectionOptions::usageConnection(double defaultTimeoutSeconds, const QString &timeoutMeaning)
{
    QString text = QStringLiteral(
        "  --address HOST:PORT       the detector, or the address dravik-sim prints;\n"
        "                            required. Only 127.0.0.0/8 and localhost unless\n"
        "                            --allow-remote is given\n"
        "  --allow-remote            allow an address outside loopback (a real detector)\n"
        "  --plugin PATH             the plug-in module (default: the installed one,\n"
        "                            found from this program's folder, or the build\n"
        "                            tree's; 'dravik-host info --help' lists where)\n");
    text += QStringLiteral("  --timeout SECONDS         %1 (%2)\n").arg(timeoutMeaning).arg(defaultTimeoutSeconds);
    return text;
}

QString ConnectionOptions::usageOutput()
{
    return QStringLiteral(
        "  --json                    the summary as one JSON object on stdout\n"
        "  --quiet                   no progress on stderr; notifications and errors\n"
        "                            are still shown\n"
        "  --verbose                 the plug-in's debug log on stderr\n"
        "  -h, --help                this text\n");
}
