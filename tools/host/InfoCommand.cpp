#include "InfoCommand.h"

#include "DevicePluginInterface.h"
#include "PluginLoader.h"

#include <QUuid>

QString InfoCommand::usage()
{
    return QStringLiteral("usage: dravik-host info PLUGIN_PATH\n"
                          "  Loads the plug-in and prints its metadata and class information.\n");
}

int InfoCommand::run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    if (args.size() != 1) {
        err << usage();
        return 2;
    }
    PluginLoader loader(args.first());
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
