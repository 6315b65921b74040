#pragma once

#include "ChannelData.h"
#include "ChannelInfo.h"
#include "HostQuery.h"
#include "StatusType.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

class DeviceInterface;
class RunReport;

// Drives one device through a run, the way a host does, using only
// DeviceInterface and the device's signals (connected by name, so the host
// needs no plug-in header):
//
//   open() -> opened() -> setEnvironment() -> check startable
//   for each measurement: start() -> started(), ready(true) -> run for the
//     duration -> stop() -> stopped(0) -> wait until the detector is idle and
//     the last chunks are in
//   close() -> closed()
//
// Every wait has a time-out. Every announced chunk is taken at once, counted
// in the report and, for the channels asked for, passed on through
// chunkTaken(); shots the device reports dropped are counted too. Failures
// end the run with one of the exit codes of ExitCode.h: the session stops a
// running detector and closes the link before it reports finished().
//
// An interactive session (Config::interactive, the GUI's) leaves the start and
// stop to the host: once connected it waits in Open; requestStart() runs the
// next measurement until requestStop(), then it is Open again. Failures end
// it as they end a run; abort() closes it.
//
// A measurement counts as complete when it ran its time, the detector went
// idle with its data handed over, and every announced chunk was taken; one
// that is not ends the run with ExitMeasurementFailed, as does a run in which
// no chunk was recorded. A measurement cut short still ends with
// measurementEnds() (its report says it is not complete), so that what it
// measured is kept. Time the host itself did not run while measuring is
// warned about and counted: the detector keeps only so many frames.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Connecting, Configuring, Starting, Running, Stopping, Draining, Closing, Finished, Open };
    Q_ENUM(State)

    struct Config
    {
        int count = 1;
        int durationMs = 2000;
        int timeoutMs = 15000;
        QSet<int> channels;    // empty: every channel is passed on
        QString address;       // for messages only; the device already has it
        int quietMs = 300;     // no chunks for this long after a stop: the data is in
        int pollMs = 50;
        bool interactive = false; // the host starts and stops each measurement; count and duration unused
        int stallMs = 1000;    // the host not running for this long while measuring is reported
    };

    // device must implement DeviceInterface; report outlives the session.
    DeviceSession(QObject *device, const HostQuery &query, const Config &config, RunReport *report,
                  QObject *parent = nullptr);

    // Connects to the device's signals. False with error set if the device
    // lacks one of them (then it is no device of this contract).
    bool attach(QString *error);
    void begin();
    // Ends the run with exitCode (from outside: an interrupt, a recording that
    // failed). The detector is stopped and the link closed first.
    void abort(int exitCode, const QString &message);

    // Interactive sessions only. requestStart() in Open starts the next
    // measurement (false in any other state); requestStop() stops a
    // measurement that is starting or running (false otherwise).
    bool requestStart();
    bool requestStop();
    // The environment for the next measurements: handed to the device at once
    // when the session is Open, else when it has connected.
    void setQuery(const HostQuery &query);
    const HostQuery &query() const { return m_query; }
    // The measurement under way or the last one, from 1; 0 before the first.
    int measurementIndex() const { return m_index; }

    State state() const { return m_state; }
    QString stateName() const;
    // Seconds since the current measurement was started.
    double measurementSeconds() const;
    int exitCode() const { return m_exitCode; }
    QString errorString() const { return m_error; }

    // Parameter ids of the device's identification, with their report names.
    static QList<QPair<int, QString>> identificationParameters();

Q_SIGNALS:
    void measurementBegins(int index);
    // The detector reported the measurement running (ready(true)).
    void measurementRunning(int index);
    void chunkTaken(int channelId, const ChannelData &chunk, const ChannelInfo &info);
    void measurementEnds(int index);
    void notified(int severity, const QString &text);
    void progress(const QString &text);
    void finished(int exitCode);
    void stateChanged(DeviceSession::State state);

private Q_SLOTS:
    // Connected by name to the device's signals.
    void onOpened();
    void onClosed(int status);
    void onChannelDataAvailable(int channelId, int token);
    void onStarted();
    void onReady(bool ready);
    void onStopped(int status);
    void onNotification(StatusType severity, QString text, int token);
    void onParameterChanged(QList<int> parameterIds);
    void onStatusCode(int code);

private:
    void setState(State state);
    void configure();
    void checkStartable();
    void startMeasurement(int index);
    void onDeadline();
    void onRunElapsed();
    void onDrainPoll();
    void onStallWatch();
    void measurementDone(bool drained);
    // Emits measurementEnds() for a measurement begun and not ended yet.
    void endMeasurement();
    // message, followed by the device's last warning of this measurement.
    QString withDeviceWarning(const QString &message) const;
    void fail(int exitCode, const QString &message);
    void windDown();
    void closeLink();
    void finish();
    void capture(int id);
    bool inMeasurement() const;
    QString statusText(int status) const;
    double sinceBegin() const;
    QString measurementLabel() const;

    QObject *m_object;
    DeviceInterface *m_device;
    HostQuery m_query;
    Config m_config;
    RunReport *m_report;

    State m_state = State::Idle;
    int m_index = 0;
    bool m_started = false;
    bool m_exiting = false;
    bool m_linkLost = false;
    int m_exitCode = 0;
    QString m_error;
    QString m_rejection;
    QString m_lastWarning;
    QString m_measurementWarning;
    bool m_measurementOpen = false;
    QHash<int, ChannelInfo> m_channelInfo;

    QTimer m_deadline;
    QTimer m_runTimer;
    QTimer m_drainPoll;
    QTimer m_stallWatch;
    QElapsedTimer m_stallClock;
    QElapsedTimer m_clock;       // since begin()
    QElapsedTimer m_measurementClock;
    QElapsedTimer m_runClock;    // since ready
    QElapsedTimer m_sinceChunk;
    QElapsedTimer m_drainClock;
};
