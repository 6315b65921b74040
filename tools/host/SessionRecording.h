#pragma once

#include "Hdf5Recorder.h"
#include "RunReport.h"

#include <QList>
#include <QObject>
#include <QString>

class DeviceSession;
struct ChannelData;
struct ChannelInfo;

// Records the measurements of a DeviceSession to one HDF5 file (Hdf5Recorder:
// the layout, the hidden partial file and the rename). Every measurement that
// begins while the recording is open becomes a group, numbered from 1 whatever
// the session's own count (a GUI session may have measured before the
// recording began), with every chunk the session passes on.
//
// commit() ends a run that succeeded. keep() ends one that failed: the
// measurements recorded so far stay, the one under way as far as it got, and
// the file is marked incomplete ("complete" = 0) with the exit code and the
// reason; without any measurement there is nothing to keep and no file.
// finish() picks between them for a command-line run.
class SessionRecording : public QObject
{
    Q_OBJECT

public:
    // sessionReport is the session's report (the measurements' tallies);
    // both outlive the recording.
    SessionRecording(DeviceSession *session, const RunReport *sessionReport, const QString &path,
                     QObject *parent = nullptr);

    bool open(QString *error);
    // header describes the run (plug-in, device, settings, environment); its
    // own measurements are replaced by the recorded ones.
    bool commit(const RunReport &header, QString *error);
    bool keep(const RunReport &header, int exitCode, const QString &reason, QString *error);
    void discard();
    // Ends a command-line run that finished with exitCode and runError:
    // commit() when it succeeded, keep() when it failed after measuring
    // (a failed write keeps nothing), discard() otherwise. Returns the run's
    // exit code (ExitOutputFailed when a successful run could not be written)
    // and sets report->fileWritten; writeError gets the write's error, if any.
    int finish(RunReport *report, int exitCode, const QString &runError, QString *writeError);

    // header with the recorded measurements: the file's attributes and the summary.
    RunReport recorded(const RunReport &header) const;
    int measurementCount() const { return m_measurements.size(); }
    // A measurement is being recorded.
    bool isRecording() const { return m_recorder.hasOpenMeasurement(); }
    QString path() const { return m_recorder.path(); }
    QString temporaryPath() const { return m_recorder.temporaryPath(); }

Q_SIGNALS:
    // The file could not be written; the recording takes nothing more.
    void failed(const QString &error);
    void measurementRecorded(const RunReport::Measurement &measurement);

private:
    void onMeasurementBegins();
    void onChunkTaken(int channelId, const ChannelData &chunk, const ChannelInfo &info);
    void onMeasurementEnds();
    // The session's current measurement under its number in the file.
    RunReport::Measurement current() const;
    void fail(const QString &error);

    const RunReport *m_sessionReport;
    Hdf5Recorder m_recorder;
    QList<RunReport::Measurement> m_measurements;
    bool m_failed = false;
};
