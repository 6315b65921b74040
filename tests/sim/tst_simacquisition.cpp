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
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("040440414244"));
    QCOMPARE(acquisition.discard(1), quint16(AckOk));
    SimPacketStream::Frame frame;
    QCOMPARE(acquisition.takeFrame(4, &frame), quint16(AckOk));
    QCOMPARE(int(frame.group), 4);
    QCOMPARE(frame.samples, 2000); // 10 ms at 200 kHz
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("070440014204"));
    acquisition.transferDone();
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("040440014204"));
    drain(acquisition);
    QCOMPARE(acquisition.stateReport().toHex(), QByteArray("0100"));
}

QTEST_GUILESS_MAIN(tst_SimAcquisition)
#include "tst_simacquisition.moc"
