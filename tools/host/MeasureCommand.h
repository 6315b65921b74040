#pragma once

#include <QStringList>
#include <QTextStream>

// dravik-host measure: loads the plug-in, connects to a detector, runs the
// measurements and records them to HDF5. See MeasureOptions::usage() for the
// command line and ExitCode.h for what the exit code says.
class MeasureCommand
{
public:
    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();
};
