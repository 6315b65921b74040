#include "SimAcquisition.h"
#include "SimIdentity.h"
#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <QSignalSpy>
#include <QtTest>

using namespace SimProtocol;

namespace {

constexpr qint64 kMs = 1000000;

// Every group records periods records of lengthMs (frames as long), with the
// acquisition time-out given; the others none.
void setTimings(SimParameterMemory &memory, const QList<int> &groups, quint32 periods, qint64 lengthMs,
                qint64 timeoutMs = 0)
{
    for (int group = 0; group < kGroupCount; ++group) {
        SimPayloads::Timing timing;
        timing.channel = quint32(group);
        timing.periods = groups.contains(group) ? periods : 0u;
        timing.samplePeriod = timing.framePeriod = quint64(lengthMs * kMs);
        timing.timeout = quint64(timeoutMs * kMs);
        QCOMPARE(memory.handle(SetTimings, SimPayloads::encode(timing)).ack, quint16(AckOk));
    }
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
    void sequence_data()
    {
        QTest::addColumn<QList<int>>("groups"); // groups that record; the others get 0 periods
        QTest::addColumn<int>("periods");
        QTest::addColumn<int>("muxerSource");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<bool>("stop"); // the host takes a frame and stops; else it discards
        QTest::addColumn<QList<int>>("expected");

        // A record taken and transferred: tst_draviksimulator, over loopback.
        QTest::newRow("no group enabled") << QList<int>{} << 1 << 68 << 0 << false << QList<int>{2, 3, 4, 1};
        QTest::newRow("trigger never comes") << QList<int>{0} << 1 << 67 << 30 << false << QList<int>{2, 3, 5, 1};
        QTest::newRow("stopped with a frame in transfer")
            << QList<int>{1} << int(SimAcquisition::kUntilStopped) << 68 << 0 << true << QList<int>{2, 3, 8, 7, 1};
    }

    void sequence()
    {
        QFETCH(QList<int>, groups);
        QFETCH(int, periods);
        QFETCH(int, muxerSource);
        QFETCH(int, timeoutMs);
        QFETCH(bool, stop);
        QFETCH(QList<int>, expected);

        SimParameterMemory memory{SimIdentity()};
        setTimings(memory, groups, quint32(periods), 20, timeoutMs);
        SimPayloads::Trigger trigger;
        trigger.index = 1;
        trigger.source = quint32(muxerSource);
        trigger.level = 0.1f;
        QCOMPARE(memory.handle(SetTrigger, SimPayloads::encode(trigger)).ack, quint16(AckOk));
        SimAcquisition acquisition(&memory);
        acquisition.setDelays(5, 5);
        acquisition.setTerminalHold(0); // the states follow each other at once

        QSignalSpy spy(&acquisition, &SimAcquisition::stateChanged);
        QCOMPARE(int(acquisition.state()), int(Ready));
        spy.clear();

        QCOMPARE(acquisition.start(), quint16(AckOk));
        SimPacketStream::Frame frame;
        if (stop) {
            bool taken = false; // QTRY evaluates once more after success: take only once
            QTRY_VERIFY(taken || (taken = acquisition.takeFrame(groups.first(), &frame) == AckOk));
            QCOMPARE(acquisition.stop(), quint16(AckOk));
            QTRY_VERIFY(states(spy).contains(Transferring));
        } else {
            QTRY_VERIFY(states(spy).contains(expected.at(2)));
        }
        for (int group = 0; group < kGroupCount; ++group)
            QCOMPARE(acquisition.discard(group), quint16(AckOk));
        if (stop)
            acquisition.transferDone();
        QTRY_COMPARE(states(spy), expected);
    }

    void channelStateBytes()
    {
        SimParameterMemory memory{SimIdentity()};
        setTimings(memory, {0, 1, 2, 4}, 1, 10);
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
};

QTEST_GUILESS_MAIN(tst_SimAcquisition)
#include "tst_simacquisition.moc"
