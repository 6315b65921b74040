#pragma once

#include "SimPacketStream.h"
#include "SimPayloads.h"
#include "SimScenario.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

class SimParameterMemory;

// The detector's measurement state machine and acquisition scheduler.
//
//   Ready --start--> Starting --(start delay)--> Running
//   Running --every group done--> Acquisition terminated, or Timed out if a
//       group waited longer than its timeout for a trigger
//   Starting/Running --stop--> Stopping --(stop delay)--> Stopped
//   Terminated/Timed out/Stopped --all frames transferred or discarded, and
//       shown for at least the terminal hold (250 ms)--> Ready
//   While frames of a finished acquisition are being sent: Transferring.
//   While firmware is being written: Not ready.
//
// Per group (muxer, test voltage, charge 0 to 2) the timings read at start mean:
// Periods = number of records (triggers), 0 = group off, 0xFFFFFFFF = until
// stopped; SamplePeriod = length of a record; FramePeriod = length of a frame,
// the unit of one transfer (a record is cut into frames); PretriggerPeriod =
// part of a record before its trigger; TimeoutPeriod = longest wait for a
// trigger, 0 = none. The muxer group triggers on trigger 1, the others on
// trigger 0; after a record the next trigger is accepted once the hold time
// since the last trigger has passed and the pretrigger part has been sampled
// anew. Trigger source and level are read live, so a level search by the
// host takes effect while running.
//
// Frames exist only as descriptions until a transfer synthesises them. The
// clock is device time: nanoseconds since the detector started, running at
// timeScale times wall-clock speed.
class SimAcquisition : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMinFrameNs = 10000;
    static constexpr int kMaxFrameSamples = 1 << 26;
    static constexpr qint64 kMaxTimeNs = 1000000000000000000LL; // about 31 years
    static constexpr quint32 kUntilStopped = 0xFFFFFFFFu;
    static constexpr int kDefaultPendingLimit = 32;

    explicit SimAcquisition(const SimParameterMemory *memory, QObject *parent = nullptr);

    void setScenario(SimScenario::Kind kind);
    void setTestObject(const SimTestObject &testObject);
    const SimScenario &scenario() const { return m_scenario; }
    // Device time runs timeScale times as fast as the wall clock (> 0).
    void setTimeScale(double timeScale);
    double timeScale() const { return m_timeScale; }
    void setDelays(int startMs, int stopMs);
    // How long a finished acquisition is reported at least, so that a host
    // polling every 100 ms sees Terminated, Timed out or Stopped even when no
    // data is left to fetch.
    void setTerminalHold(int ms) { m_terminalHoldMs = qMax(0, ms); }
    // Ready frames kept per group; when a host does not keep up, the oldest go.
    void setPendingLimit(int frames);
    void setNotReady(bool notReady);

    qint64 deviceTimeNs() const;

    quint16 start();
    quint16 stop();
    quint16 discard(int group);
    // Hands out the oldest ready frame of a group for transfer; call
    // transferDone() when its stream has been sent or dropped.
    quint16 takeFrame(int group, SimPacketStream::Frame *frame);
    void transferDone();

    // The state the detector reports now.
    quint8 state();
    // Payload of the measurement-state response: state, count, channel bytes.
    QByteArray stateReport();
    // Frames dropped in the current or last acquisition because the host did
    // not fetch them in time.
    int lostFrames() const { return m_lostFrames; }

signals:
    void stateChanged(int state);

private:
    enum Phase { Idle, Starting, Running, Stopping, Stopped, Terminated, TimedOut };

    struct GroupRun
    {
        bool enabled = false;
        bool done = false;
        bool timedOut = false;
        quint32 periods = 0;
        quint32 records = 0;
        qint64 dtNs = 1;
        qint64 frameNs = 0;
        qint64 recordNs = 0;
        qint64 pretriggerNs = 0;
        qint64 timeoutNs = 0;
        qint64 cursorNs = 0;      // earliest time of the next trigger
        qint64 armedSinceNs = 0;  // since when the group waits for a trigger
        bool recording = false;
        qint64 triggerNs = 0;
        qint64 recordEndNs = 0;
        qint64 nextFrameNs = 0;
        std::deque<SimPacketStream::Frame> ready;
    };

    void onTick();
    void enterRunning();
    void advance();
    void advanceGroup(int group, GroupRun &run, qint64 nowNs, const SimSignalModel &model,
                      const SimSignalModel::FrontEnd &frontEnd);
    void pushFrame(int group, GroupRun &run, qint64 endNs, const SimSignalModel::FrontEnd &frontEnd);
    void enterTerminal(Phase phase);
    void settle();
    void updateState();
    quint8 reportedState() const;
    bool isActive() const { return m_phase == Starting || m_phase == Running || m_phase == Stopping; }

    const SimParameterMemory *m_memory;
    SimScenario m_scenario;
    double m_timeScale = 1.0;
    QElapsedTimer m_clock;
    qint64 m_clockBaseNs = 0;       // device time at the last rebase
    qint64 m_clockBaseElapsed = 0;  // wall nanoseconds at the last rebase
    int m_startDelayMs = 50;
    int m_stopDelayMs = 30;
    int m_terminalHoldMs = 250;
    QElapsedTimer m_terminalClock;
    int m_pendingLimit = kDefaultPendingLimit;
    bool m_notReady = false;

    Phase m_phase = Idle;
    GroupRun m_groups[5];
    int m_activeTransfers = 0;
    int m_lostFrames = 0;
    int m_lastReported = -1;
    QTimer m_tick;
    QTimer m_phaseTimer;
};
