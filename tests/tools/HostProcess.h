#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// dravik-host as a child process, bounded in time: what the tests of its
// device commands (measure, firmware, log) run and look at.
class HostProcess
{
public:
    struct Result
    {
        int exitCode = -1;   // -1: crashed or killed after the time-out
        QString out;
        QString err;
    };

    // The test's environment without QT_LOGGING_RULES, so that the host's
    // stderr holds what a user sees.
    static QProcessEnvironment cleanEnvironment();
    // Runs program with args; kills it after timeoutMs.
    static Result run(const QString &program, const QStringList &args, int timeoutMs = 60000);
};
