#pragma once

#include <QStringList>
#include <QTextStream>

class MeasureOptions;
class ProgressPrinter;
class SettingsFile;

// dravik-host measure: loads the plug-in, connects to a detector, runs the
// measurements and records them to HDF5 (several --address options: several
// detectors together, see MultiDetectorRun). See MeasureOptions::usage() for the
// command line and ExitCode.h for what the exit code says.
class MeasureCommand
{
public:
    static int run(const QStringList &args, QTextStream &out, QTextStream &err);
    static QString usage();

private:
    // Several --address options: the detectors measured together into one file.
    static int runSeveral(const MeasureOptions &options, const SettingsFile &settingsFile, ProgressPrinter &printer,
                          QTextStream &out, QTextStream &err);
};
