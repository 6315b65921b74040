#pragma once

#include "Hdf5Recorder.h"

#include <QObject>

class DeviceSession;
class RunReport;

// Records a DeviceSession's run into one HDF5 file: a group per measurement
// with its attributes, a dataset per chunk the session passes on. A write
// that fails aborts the session with ExitOutputFailed.
//
// finish() commits what there is. A run that succeeded is written complete;
// one that failed after its first measurement began keeps what it measured:
// measurements 1..k-1 whole, k as far as it got, with "complete" = 0 and the
// error and exit code as attributes, and the exit code stays what it was.
class SessionRecording : public QObject
{
    Q_OBJECT

public:
    SessionRecording(DeviceSession *session, RunReport *report, const QString &path, QObject *parent = nullptr);

    bool open(QString *error);
    // Commits or discards after the session finished with exitCode and
    // runError; returns the run's exit code (ExitOutputFailed if a successful
    // run could not be written) and sets report->fileWritten. writeError gets
    // the write's error, if any.
    int finish(int exitCode, const QString &runError, QString *writeError);

private:
    DeviceSession *m_session;
    RunReport *m_report;
    Hdf5Recorder m_recorder;
};
