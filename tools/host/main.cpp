// dravik-host: a host for the Dravik plug-in, built on QPluginLoader and the
// host contract headers only, as any host application would be.
#include "InfoCommand.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

static QString usage()
{
    return QStringLiteral("usage: dravik-host COMMAND [ARGS...]\n"
                          "commands:\n"
                          "  info PLUGIN_PATH   print the plug-in's metadata and class information\n"
                          "  help               this text\n");
}

int main(int argc, char **argv)
{
    // Reading a plug-in needs no display; commands that show widgets bring
    // their own application object.
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        err << usage();
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("info"))
        return InfoCommand::run(args, out, err);
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out << usage();
        return 0;
    }
    err << "dravik-host: unknown command '" << command << "'\n" << usage();
    return 2;
}
