#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class DeviceInterface;
class DeviceSession;

// Several detectors measured together, one per phase of a three-core cable,
// so that a shot's phases line up by trigger time. Each detector has its own
// interactive DeviceSession; this class only keeps them in step:
//
//   all sessions Open -> every device startable? (else ExitDetectorRejected)
//   for each measurement: requestStart() on all -> all Running -> run for
//     the duration -> requestStop() on all -> all Open again
//   then every session closes its link.
//
// The first session that fails ends the run for all of them with its exit
// code (a detector lost mid-run: ExitMeasurementFailed); the others are
// stopped and closed, and what each recorded is kept by its recording.
class MultiDetectorRun : public QObject
{
    Q_OBJECT

public:
    struct Detector
    {
        DeviceSession *session; // interactive
        DeviceInterface *device;
        QString address;
    };

    MultiDetectorRun(const QList<Detector> &detectors, int count, int durationMs, QObject *parent = nullptr);

    void begin();
    // Ends the run for every detector with exitCode (an interrupt, a
    // recording that failed).
    void abort(int exitCode, const QString &message);

    int exitCode() const { return m_exitCode; }
    QString errorString() const { return m_error; }
    // The measurement under way or the last one, from 1.
    int measurementIndex() const { return m_index; }

Q_SIGNALS:
    void progress(const QString &text);
    void finished(int exitCode);

private:
    enum class Phase { Opening, Starting, Running, Stopping, Closing };

    // Moves on once every session has reached what the phase waits for.
    void advance();
    void startAll();
    void stopAll();
    void onSessionFinished(int detector, int exitCode);
    bool allIn(int state) const;

    QList<Detector> m_detectors;
    const int m_count;
    const int m_durationMs;
    Phase m_phase = Phase::Opening;
    int m_index = 0;
    int m_finished = 0;
    int m_exitCode = 0;
    QString m_error;
    QTimer m_runTimer;
};
