#pragma once

#include "SimConfig.h"

#include <QString>
#include <QStringList>

// The command line of dravik-sim, turned into a SimConfig. Kept apart from
// main() so that every option and every refusal can be tested without
// starting a process.
class SimCommandLine
{
public:
    enum Outcome { Run, Help, Version, Error };

    // arguments as QCoreApplication::arguments() gives them, program name first.
    // On Error, message says what is wrong.
    static Outcome parse(const QStringList &arguments, SimConfig *config, QString *message);
    static QString usage();

    // "HOST:PORT" with a loopback host (127.x.x.x, localhost, [::1]) and a
    // port of 0 to 65535.
    static bool parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *error);
};
