#include "SimAcquisition.h"

#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <QxtLogger.h>

using namespace SimProtocol;

namespace {

const char *const kTag = "[SIM.Acquisition]:";
constexpr int kTickMs = 10;
// Frames or trigger searches one group may take per update; what is left is
// done on the next tick, so a run-away configuration cannot stall the server.
constexpr int kStepBudget = 4096;

qint64 clampTime(quint64 value)
{
    return value > quint64(SimAcquisition::kMaxTimeNs) ? SimAcquisition::kMaxTimeNs : qint64(value);
}

} // namespace

SimAcquisition::SimAcquisition(const SimParameterMemory *memory, QObject *parent)
    : QObject(parent)
    , m_memory(memory)
    , m_tick(this)
    , m_phaseTimer(this)
{
    m_clock.start();
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &SimAcquisition::onTick);
    m_phaseTimer.setSingleShot(true);
    connect(&m_phaseTimer, &QTimer::timeout, this, [this] {
        if (m_phase == Starting)
            enterRunning();
        else if (m_phase == Stopping)
            enterTerminal(Stopped);
        settle();
    });
}

void SimAcquisition::setScenario(SimScenario::Kind kind)
{
    m_scenario = SimScenario(kind, m_scenario.testObject());
}

void SimAcquisition::setTestObject(const SimTestObject &testObject)
{
    m_scenario = SimScenario(m_scenario.kind(), testObject);
}

void SimAcquisition::setTimeScale(double timeScale)
{
    if (!(timeScale > 0) || timeScale == m_timeScale)
        return;
    // Rebase so that device time stays continuous across the change.
    m_clockBaseNs = deviceTimeNs();
    m_clockBaseElapsed = m_clock.nsecsElapsed();
    m_timeScale = timeScale;
}

void SimAcquisition::setDelays(int startMs, int stopMs)
{
    m_startDelayMs = qMax(0, startMs);
    m_stopDelayMs = qMax(0, stopMs);
}

void SimAcquisition::setPendingLimit(int frames)
{
    m_pendingLimit = qMax(1, frames);
}

void SimAcquisition::setNotReady(bool notReady)
{
    m_notReady = notReady;
    updateState();
}

qint64 SimAcquisition::deviceTimeNs() const
{
    return m_clockBaseNs + qint64(double(m_clock.nsecsElapsed() - m_clockBaseElapsed) * m_timeScale);
}

quint16 SimAcquisition::start()
{
    if (m_notReady || isActive())
        return AckBusy;
    // A new start throws away what the last acquisition left untransferred.
    for (GroupRun &run : m_groups)
        run = GroupRun();
    m_lostFrames = 0;
    m_phase = Starting;
    m_phaseTimer.start(m_startDelayMs);
    m_tick.start();
    QxtLogger::getInstance()->debug(kTag, "start");
    updateState();
    return AckOk;
}

void SimAcquisition::enterRunning()
{
    m_phase = Running;
    const qint64 now = deviceTimeNs();
    // The HV source's programme starts with the first cycle after the start.
    m_scenario.setStepOrigin(now + m_scenario.cycleNs());
    for (int group = 0; group < kGroupCount; ++group) {
        const SimPayloads::Timing timing = m_memory->timing(group);
        GroupRun &run = m_groups[group];
        run = GroupRun();
        run.periods = timing.periods;
        run.dtNs = SimSignalModel::samplePeriodNs(group);
        qint64 frameNs = clampTime(timing.framePeriod);
        qint64 recordNs = clampTime(timing.samplePeriod);
        if (frameNs == 0)
            frameNs = recordNs;
        if (recordNs == 0)
            recordNs = frameNs;
        run.enabled = timing.periods > 0 && recordNs > 0;
        if (timing.periods > 0 && recordNs == 0)
            QxtLogger::getInstance()->warning(kTag, "group", group, "has no record length, not acquired");
        run.frameNs = qBound(qMax(kMinFrameNs, run.dtNs), frameNs, qint64(kMaxFrameSamples) * run.dtNs);
        run.recordNs = qMax(recordNs, run.dtNs);
        run.pretriggerNs = qBound(-kMaxTimeNs, timing.pretrigger, kMaxTimeNs);
        run.timeoutNs = clampTime(timing.timeout);
        // The pretrigger part must have been sampled after the start.
        run.cursorNs = now + qMax<qint64>(0, run.pretriggerNs);
        run.armedSinceNs = now;
    }
    QxtLogger::getInstance()->debug(kTag, "running at", now);
}

quint16 SimAcquisition::stop()
{
    advance();
    if (m_phase == Starting || m_phase == Running) {
        // Records still being taken are abandoned; complete frames stay ready.
        for (GroupRun &run : m_groups)
            run.recording = false;
        m_phase = Stopping;
        m_phaseTimer.start(m_stopDelayMs);
        QxtLogger::getInstance()->debug(kTag, "stop");
    }
    updateState();
    return AckOk;
}

quint16 SimAcquisition::discard(int group)
{
    if (group < 0 || group >= kGroupCount)
        return AckBadValue;
    advance();
    m_groups[group].ready.clear();
    settle();
    return AckOk;
}

quint16 SimAcquisition::takeFrame(int group, SimPacketStream::Frame *frame)
{
    if (group < 0 || group >= kGroupCount)
        return AckBadValue;
    advance();
    std::deque<SimPacketStream::Frame> &ready = m_groups[group].ready;
    if (ready.empty())
        return AckNoData;
    *frame = ready.front();
    ready.pop_front();
    ++m_activeTransfers;
    updateState();
    return AckOk;
}

void SimAcquisition::transferDone()
{
    m_activeTransfers = qMax(0, m_activeTransfers - 1);
    settle();
}

quint8 SimAcquisition::state()
{
    advance();
    settle();
    return reportedState();
}

QByteArray SimAcquisition::stateReport()
{
    const quint8 current = state();
    QByteArray report;
    report.append(char(current));
    report.append(char(0));
    if (m_phase == Idle)
        return report;
    for (int group = 0; group < kGroupCount; ++group) {
        const GroupRun &run = m_groups[group];
        if (!run.enabled)
            continue;
        quint8 byte = quint8(group);
        if (isActive() && !run.done)
            byte |= ChannelArmed;
        if (run.recording)
            byte |= ChannelRecording;
        if (!run.ready.empty())
            byte |= ChannelDataReady;
        report.append(char(byte));
    }
    report[1] = char(report.size() - 2);
    return report;
}

void SimAcquisition::onTick()
{
    advance();
    settle();
}

void SimAcquisition::advance()
{
    if (m_phase != Running)
        return;
    const qint64 now = deviceTimeNs();
    const SimSignalModel::FrontEnd frontEnd = SimSignalModel::frontEndFrom(*m_memory);
    const SimSignalModel model(m_scenario, frontEnd);
    bool allDone = true;
    bool anyTimedOut = false;
    for (int group = 0; group < kGroupCount; ++group) {
        GroupRun &run = m_groups[group];
        if (!run.enabled)
            continue;
        advanceGroup(group, run, now, model, frontEnd);
        allDone = allDone && run.done;
        anyTimedOut = anyTimedOut || run.timedOut;
    }
    if (allDone) {
        QxtLogger::getInstance()->debug(kTag, anyTimedOut ? "timed out" : "acquisition terminated");
        enterTerminal(anyTimedOut ? TimedOut : Terminated);
    }
}

void SimAcquisition::enterTerminal(Phase phase)
{
    if (m_lostFrames > 0)
        QxtLogger::getInstance()->warning(kTag, "frames dropped in all:", m_lostFrames);
    m_phase = phase;
    m_terminalClock.start();
    updateState();
}

void SimAcquisition::advanceGroup(int group, GroupRun &run, qint64 nowNs, const SimSignalModel &model,
                                  const SimSignalModel::FrontEnd &frontEnd)
{
    for (int step = 0; step < kStepBudget && !run.done; ++step) {
        if (run.recording) {
            const qint64 frameEnd = qMin(run.nextFrameNs + run.frameNs, run.recordEndNs);
            if (frameEnd > nowNs)
                return;
            pushFrame(group, run, frameEnd, frontEnd);
            if (frameEnd < run.recordEndNs)
                continue;
            run.recording = false;
            ++run.records;
            run.armedSinceNs = run.recordEndNs;
            const SimPayloads::Trigger trigger = m_memory->trigger(group == GroupMuxer ? 1 : 0);
            run.cursorNs = qMax(run.recordEndNs + qMax<qint64>(0, run.pretriggerNs),
                                run.triggerNs + qint64(trigger.holdtime));
            if (run.periods != kUntilStopped && run.records >= run.periods)
                run.done = true;
            continue;
        }
        if (run.cursorNs >= nowNs)
            return;
        const SimPayloads::Trigger trigger = m_memory->trigger(group == GroupMuxer ? 1 : 0);
        const qint64 searchEnd = qMin(nowNs, run.cursorNs + m_scenario.cycleNs());
        const qint64 triggerNs = model.nextTrigger(trigger.source, trigger.level, run.cursorNs, searchEnd);
        if (triggerNs < 0) {
            run.cursorNs = searchEnd;
            if (run.timeoutNs > 0 && nowNs - run.armedSinceNs >= run.timeoutNs) {
                run.done = true;
                run.timedOut = true;
            }
            continue;
        }
        run.recording = true;
        run.triggerNs = triggerNs;
        run.nextFrameNs = triggerNs - run.pretriggerNs;
        run.recordEndNs = run.nextFrameNs + run.recordNs;
    }
}

void SimAcquisition::pushFrame(int group, GroupRun &run, qint64 endNs, const SimSignalModel::FrontEnd &frontEnd)
{
    SimPacketStream::Frame frame;
    frame.group = quint8(group);
    frame.triggerNs = run.triggerNs;
    frame.startNs = run.nextFrameNs;
    frame.samples = int(qMax<qint64>(1, (endNs - run.nextFrameNs) / run.dtNs));
    frame.scenario = m_scenario;
    frame.frontEnd = frontEnd;
    run.nextFrameNs = endNs;
    run.ready.push_back(frame);
    if (int(run.ready.size()) > m_pendingLimit) {
        run.ready.pop_front();
        // Counted always, logged at the first and then every thousandth, and in
        // sum when the acquisition ends: a slow host should not also drown in log lines.
        if (m_lostFrames++ % 1000 == 0)
            QxtLogger::getInstance()->warning(kTag, "group", group, "frame dropped, host does not keep up; lost",
                                              m_lostFrames);
    }
}

void SimAcquisition::settle()
{
    if (m_phase == Stopped || m_phase == Terminated || m_phase == TimedOut) {
        bool empty = m_activeTransfers == 0;
        for (const GroupRun &run : m_groups)
            empty = empty && run.ready.empty();
        if (empty && m_terminalClock.elapsed() >= m_terminalHoldMs) {
            m_phase = Idle;
            m_tick.stop();
        }
    }
    updateState();
}

quint8 SimAcquisition::reportedState() const
{
    switch (m_phase) {
    case Idle:
        return m_notReady ? NotReady : Ready;
    case Starting:
        return SimProtocol::Starting;
    case Running:
        return SimProtocol::Running;
    case Stopping:
        return SimProtocol::Stopping;
    case Stopped:
        return m_activeTransfers > 0 ? Transferring : SimProtocol::Stopped;
    case Terminated:
        return m_activeTransfers > 0 ? Transferring : AcquisitionTerminated;
    case TimedOut:
        return m_activeTransfers > 0 ? Transferring : SimProtocol::TimedOut;
    }
    return Ready;
}

void SimAcquisition::updateState()
{
    const int current = reportedState();
    if (current == m_lastReported)
        return;
    m_lastReported = current;
    emit stateChanged(current);
}
