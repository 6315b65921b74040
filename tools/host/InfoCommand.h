#pragma once

#include <QStringList>
#include <QTextStream>

// dravik-host info PLUGIN_PATH: what a host learns about a plug-in before it
// creates any device.
class InfoCommand
{
public:
    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();
};
