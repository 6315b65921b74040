#include "InfoCommand.h"

#include "DevicePluginInterface.h"
#include "PluginLoader.h"

#include <QUuid>

QString InfoCommand::usage()
{
    QString text = QStringLiteral("usage: dravik-host info [PLUGIN_PATH]\n"
                                  "\n"
                                  "Loads the plug-in as a host does (metadata first, so that a foreign\n"
                                  "library is never instantiated) and prints its metadata and class\n"
                                  "information. No device is created and nothing is connected.\n"
                                  "Without PLUGIN_PATH, the first of these that exists, from the\n"
                                  "folder this program is in (installed, then build tree):\n");
    for (const QString &candidate : PluginLoader::relativeCandidates())
        text += QStringLiteral("  %1\n").arg(candidate);
    text += QStringLiteral("\n"
                           "Exit codes: 0 printed, 1 not a loadable Dravik plug-in, 2 bad command line.\n");
    return text;
}

int InfoCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    if (args.size() == 1 && (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h"))) {
        out << usage();
        return 0;
    }
    if (args.size() > 1) {
        err << usage();
        return 2;
    }
    PluginLoader loader(args.isEmpty() ? PluginLoader::defaultPath() : args.first());
    if (!loader.load()) {
        err << "dravik-host: " << loader.errorString() << '\n';
        return 1;
    }
    const QJsonObject meta = loader.metaData();
    const DevicePluginInterface *plugin = loader.plugin();
    out << "file:        " << loader.fileName() << '\n'
        << "IID:         " << meta.value(QStringLiteral("IID")).toString() << '\n'
        << "className:   " << meta.value(QStringLiteral("className")).toString() << '\n'
        << "name:        " << plugin->name() << '\n'
        << "description: " << plugin->description() << '\n'
        << "uuid:        " << plugin->uuid().toString(QUuid::WithoutBraces).toUpper() << '\n'
        << "version:     " << plugin->version() << '\n';
    return 0;
}
