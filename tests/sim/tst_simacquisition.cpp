#include "SimAcquisition.h"
#include "SimIdentity.h"
#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <QSignalSpy>
#include <QtTest>

using namespace SimProtocol;

namespace {

constexpr qint64 kMs = 1000000;

struct Timing
{
    quint32 periods;
    qint64 recordMs;
    qint64 frameMs;
    qint64 pretriggerMs;
    qint64 timeoutMs;
};

void setTiming(SimParameterMemory &memory, int group, const Timing &t)
{
    SimPayloads::Timing timing;
    timing.channel = quint32(group);
    timing.periods = t.periods;
    timing.samplePeriod = quint64(t.recordMs * kMs);
    timing.framePeriod = quint64(t.frameMs * kMs);
    timing.pretrigger = t.pretriggerMs * kMs;
    timing.timeout = quint64(t.timeoutMs * kMs);
    QCOMPARE(memory.handle(SetTimings, SimPayloads::encode(timing)).ack, quint16(AckOk));
}

void setTrigger(SimParameterMemory &memory, int index, quint32 source, float level)
{
    SimPayloads::Trigger trigger;
    trigger.index = quint8(index);
    trigger.source = source;
    trigger.level = level;
    QCOMPARE(memory.handle(SetTrigger, SimPayloads::encode(trigger)).ack, quint16(AckOk));
}

QList<int> states(const QSignalSpy &spy)
{
    QList<int> list;
    for (const QList<QVariant> &arguments : spy)
        list.append(arguments.at(0).toInt());
    return list;
}

// Takes every ready frame of every group until the acquisition is back at Ready.
void drain(SimAcquisition &acquisition)
{
    for (int group = 0; group < kGroupCount; ++group) {
        SimPacketStream::Frame frame;
        while (acquisition.takeFrame(group, &frame) == AckOk)
            acquisition.transferDone();
    }
}

} // namespace

class tst_SimAcquisition : public QObject
{
    Q_OBJECT

private slots:
    void sequence_data();
    void sequence();
    void channelStateBytes();
    void refusals();
    void finishedStateStaysVisible();
    void recordCutIntoFrames();
    void hostTooSlow();
    void triggerLevelReadLive();
};

void tst_SimAcquisition::sequence_data()
{
    QTest::addColumn<QList<int>>("groups"); // groups that record; the others get 0 periods
    QTest::addColumn<int>("periods");
    QTest::addColumn<int>("muxerSource");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("host"); // what the host does: fetch nothing, one frame, or stop
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("single record on every group")
        << QList<int>{0, 1, 2, 3, 4} << 1 << 68 << 0 << "transfer" << QList<int>{2, 3, 4, 7, 1};
    QTest::newRow("no group enabled") << QList<int>{} << 1 << 68 << 0 << "discard" << QList<int>{2, 3, 4, 1};
    // External trigger 1 is not wired: the muxer waits until its timeout.
    QTest::newRow("trigger never comes") << QList<int>{0} << 1 << 67 << 30 << "discard" << QList<int>{2, 3, 5, 1};
    QTest::newRow("stopped with a frame in transfer")
        << QList<int>{1} << int(SimAcquisition::kUntilStopped) << 68 << 0 << "stop" << QList<int>{2, 3, 8, 7, 1};
}

void tst_SimAcquisition::sequence()
{
    QFETCH(QList<int>, groups);
    QFETCH(int, periods);
    QFETCH(int, muxerSource);
    QFETCH(int, timeoutMs);
    QFETCH(QString, host);
    QFETCH(QList<int>, expected);

    SimParameterMemory memory{SimIdentity()};
    for (int group = 0; group < kGroupCount; ++group)
        setTiming(memory, group, {groups.contains(group) ? quint32(periods) : 0u, 20, 20, 0, timeoutMs});
    setTrigger(memory, 1, quint32(muxerSource), 0.1f);
    SimAcquisition acquisition(&memory);
    acquisition.setDelays(5, 5);
    acquisition.setTerminalHold(0); // the hold has a test of its own

    QSignalSpy spy(&acquisition, &SimAcquisition::stateChanged);
    QCOMPARE(int(acquisition.state()), int(Ready));
    spy.clear();

    QCOMPARE(acquisition.start(), quint16(AckOk));
    SimPacketStream::Frame frame;
    if (host == QLatin1String("stop")) {
        bool taken = false; // QTRY evaluates once more after success: take only once
        QTRY_VERIFY(taken || (taken = acquisition.takeFrame(groups.first(), &frame) == AckOk));
        QCOMPARE(acquisition.stop(), quint16(AckOk));
        QTRY_VERIFY(states(spy).contains(Transferring));
    } else {
        QTRY_VERIFY(states(spy).contains(expected.at(2)));
        if (host == QLatin1String("transfer"))
            QCOMPARE(acquisition.takeFrame(groups.first(), &frame), quint16(AckOk));
    }
    for (int group = 0; group < kGroupCount; ++group)
        QCOMPARE(acquisition.discard(group), quint16(AckOk));
    if (host != QLatin1String("discard"))
        acquisition.transferDone();
    QTRY_COMPARE(states(spy), expected);
}

void tst_SimAcquisition::channelStateBytes()
{
    SimParameterMemory memory{SimIdentity()};
    for (int group = 0; group < kGroupCount; ++group)
        setTiming(memory, group, {group == 3 ? 0u : 1u, 10, 10, 0, 0});
    SimAcquisition acquisition(&memory);
    acquisition.setDelays(0, 0);
    acquisition.setTerminalHold(0);
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("0100"));
    acquisition.start();
    QTRY_COMPARE(int(acquisition.state()), int(AcquisitionTerminated));
    // Group in the low nibble, data ready 0x40; charge 1 is off and not listed.
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("040440414244"));
    QCOMPARE(acquisition.discard(1), quint16(AckOk));
    SimPacketStream::Frame frame;
    QCOMPARE(acquisition.takeFrame(4, &frame), quint16(AckOk));
    QCOMPARE(int(frame.group), 4);
    QCOMPARE(frame.samples, 2000); // 10 ms at 200 kHz
    // The frame in transfer is no longer ready; the state says Transferring.
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("070440014204"));
    acquisition.transferDone();
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("040440014204"));
    drain(acquisition);
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("0100"));
}

void tst_SimAcquisition::refusals()
{
    SimParameterMemory memory{SimIdentity()};
    setTiming(memory, 1, {SimAcquisition::kUntilStopped, 10, 10, 0, 0});
    SimAcquisition acquisition(&memory);
    acquisition.setDelays(0, 0);
    SimPacketStream::Frame frame;
    QCOMPARE(acquisition.stop(), quint16(AckOk)); // nothing to stop
    QCOMPARE(acquisition.takeFrame(1, &frame), quint16(AckNoData));
    QCOMPARE(acquisition.takeFrame(5, &frame), quint16(AckBadValue));
    QCOMPARE(acquisition.discard(5), quint16(AckBadValue));
    QCOMPARE(acquisition.start(), quint16(AckOk));
    QCOMPARE(acquisition.start(), quint16(AckBusy));
    acquisition.stop();
    drain(acquisition);
    QTRY_COMPARE(int(acquisition.state()), int(Ready));
    // Writing firmware: not ready, no start.
    acquisition.setNotReady(true);
    QCOMPARE(int(acquisition.state()), int(NotReady));
    QCOMPARE(acquisition.start(), quint16(AckBusy));
}

void tst_SimAcquisition::finishedStateStaysVisible()
{
    // Nothing to record: the acquisition ends at once with no data, and still
    // shows "terminated" for the hold, so that a polling host sees it.
    SimParameterMemory memory{SimIdentity()};
    for (int group = 0; group < kGroupCount; ++group)
        setTiming(memory, group, {0u, 10, 10, 0, 0});
    SimAcquisition acquisition(&memory);
    acquisition.setDelays(0, 0);
    acquisition.setTerminalHold(60000);
    acquisition.start();
    QTRY_COMPARE(int(acquisition.state()), int(AcquisitionTerminated));
    QCOMPARE(int(acquisition.state()), int(AcquisitionTerminated));
    acquisition.setTerminalHold(0);
    QCOMPARE(int(acquisition.state()), int(Ready));
}

void tst_SimAcquisition::recordCutIntoFrames()
{
    SimParameterMemory memory{SimIdentity()};
    for (int group = 0; group < kGroupCount; ++group)
        setTiming(memory, group, {0u, 10, 10, 0, 0});
    // As in a VLF sine test: one record of "ten years" in 2 s frames, here 20 ms.
    setTiming(memory, 1, {1u, 10LL * 365 * 24 * 3600 * 1000, 20, 5, 0});
    SimAcquisition acquisition(&memory);
    acquisition.setDelays(0, 0);
    acquisition.start();
    // Armed, recording and data ready, for good: the record never ends.
    QTRY_COMPARE(acquisition.stateReport().toHex(), QByteArray("030171"));
    QList<SimPacketStream::Frame> frames;
    QTRY_VERIFY([&] {
        SimPacketStream::Frame frame;
        while (acquisition.takeFrame(1, &frame) == AckOk) {
            acquisition.transferDone();
            frames.append(frame);
        }
        return frames.size() >= 3;
    }());
    for (int i = 0; i < frames.size(); ++i) {
        // Every frame names the record's one trigger, 5 ms after the record began.
        QCOMPARE(frames.at(i).triggerNs, frames.first().startNs + 5 * kMs);
        QCOMPARE(frames.at(i).startNs, frames.first().startNs + i * 20 * kMs);
        QCOMPARE(frames.at(i).samples, 2000);
    }
    acquisition.stop();
}

void tst_SimAcquisition::hostTooSlow()
{
    SimParameterMemory memory{SimIdentity()};
    for (int group = 0; group < kGroupCount; ++group)
        setTiming(memory, group, {group == 2 ? SimAcquisition::kUntilStopped : 0u, 1, 1, 0, 0});
    SimAcquisition acquisition(&memory);
    acquisition.setDelays(0, 0);
    acquisition.setPendingLimit(3);
    const qint64 begun = acquisition.deviceTimeNs();
    acquisition.start();
    QTRY_VERIFY(acquisition.lostFrames() > 0);
    // Only the newest frames are kept.
    SimPacketStream::Frame first, second;
    QCOMPARE(acquisition.takeFrame(2, &first), quint16(AckOk));
    QCOMPARE(acquisition.takeFrame(2, &second), quint16(AckOk));
    QCOMPARE(second.startNs - first.startNs, 1 * kMs);
    QVERIFY(first.startNs >= begun + 1 * kMs);
    acquisition.stop();
}

void tst_SimAcquisition::triggerLevelReadLive()
{
    SimParameterMemory memory{SimIdentity()};
    for (int group = 0; group < kGroupCount; ++group)
        setTiming(memory, group, {group == 0 ? 1u : 0u, 1, 1, 0, 0});
    // PD filtered above 1.0: a 1 nC discharge (0.39) never gets there.
    setTrigger(memory, 1, 4, 1.0f);
    SimAcquisition acquisition(&memory);
    acquisition.setDelays(0, 0);
    acquisition.setTimeScale(20.0); // a DAC shot every 50 ms of wall time
    acquisition.start();
    QTRY_COMPARE(int(acquisition.state()), int(Running));
    // Three shots with their discharges go by without a trigger.
    const qint64 started = acquisition.deviceTimeNs();
    QTRY_VERIFY(acquisition.deviceTimeNs() > started + 3100 * kMs);
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("030110"));
    // A level search halving down to 0.25 catches the next discharge.
    setTrigger(memory, 1, 4, 0.25f);
    QTRY_COMPARE(int(acquisition.state()), int(AcquisitionTerminated));
    SimPacketStream::Frame frame;
    QCOMPARE(acquisition.takeFrame(0, &frame), quint16(AckOk));
    // The trigger is a discharge: 10, 20 or 30 ms into a one-second DAC cycle.
    const qint64 intoCycle = frame.triggerNs % (1000 * kMs);
    QVERIFY2(intoCycle == 10 * kMs || intoCycle == 20 * kMs || intoCycle == 30 * kMs,
             qPrintable(QString::number(intoCycle)));
    QCOMPARE(frame.startNs, frame.triggerNs);
}

QTEST_GUILESS_MAIN(tst_SimAcquisition)
#include "tst_simacquisition.moc"
