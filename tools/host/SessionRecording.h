#pragma once

#include "Hdf5Recorder.h"
#include "RunReport.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

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
//
// With several detectors in one run, each has a SessionRecording of its own
// on one shared Hdf5Recorder, under its detector number; the run settles each
// (settle()) and then commits or discards the file once.
class SessionRecording : public QObject
{
    Q_OBJECT

public:
    // sessionReport is the session's report (the measurements' tallies);
    // both outlive the recording.
    SessionRecording(DeviceSession *session, const RunReport *sessionReport, const QString &path,
                     QObject *parent = nullptr);
    // One detector (from 1) of several: recorder is shared, open, and
    // committed by the caller.
    SessionRecording(DeviceSession *session, const RunReport *sessionReport, Hdf5Recorder *recorder, int detector,
                     QObject *parent = nullptr);

    bool open(QString *error);
    // header describes the run (plug-in, device, settings, environment); its
    // own measurements are replaced by the recorded ones.
    bool commit(const RunReport &header, QString *error);
    bool keep(const RunReport &header, int exitCode, const QString &reason, QString *error);
    void discard();
    // One detector of several: ends the measurement under way as far as it
    // got and writes the detector's group attributes (header with the
    // recorded measurements, the exit code and the reason). False with error
    // set if the detector recorded nothing or the write failed.
    bool settle(const RunReport &header, int exitCode, const QString &reason, QString *error);
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
    bool isRecording() const { return m_recorder->hasOpenMeasurement(m_detector); }
    QString path() const { return m_recorder->path(); }
    QString temporaryPath() const { return m_recorder->temporaryPath(); }

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
    // header with the recorded measurements and the one under way ended as
    // far as it got.
    RunReport closeOpen(const RunReport &header, QString *error);

    const RunReport *m_sessionReport;
    std::unique_ptr<Hdf5Recorder> m_ownRecorder;
    Hdf5Recorder *m_recorder;
    const int m_detector = 0;
    QList<RunReport::Measurement> m_measurements;
    bool m_failed = false;
};
