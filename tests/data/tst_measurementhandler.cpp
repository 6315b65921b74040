#include "DravikMeasurementHandler_v2.h"
#include "LogCapture.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QThread>
#include <QtEndian>
#include <QtTest>

namespace {

using Result = QPair<int, bool>;

// The handler's own lines; the unpacker's come from its thread whenever it
// gets to the data, and are its tests' business.
QStringList dravikLines(const LogCapture &log)
{
    QStringList lines;
    for (const LogCapture::Line &line : log.lines()) {
        if (line.category.startsWith(QLatin1String("dravik")) && !line.text.contains(QLatin1String("RawDataUnpacker")))
            lines.append(line.text);
    }
    return lines;
}

// The thread that logs the unpacker's "invalid packet cafe".
QAtomicPointer<QThread> g_seenOn;
QtMessageHandler g_previous = nullptr;

void threadSpy(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("invalid packet cafe")))
        g_seenOn.testAndSetOrdered(nullptr, QThread::currentThread());
    g_previous(type, context, message);
}

} // namespace

class tst_MeasurementHandler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=true"));
    }

    void dataFramesComeBackAsChannelData()
    {
        // Unpacked on the unpack thread, in frame order: a group-1 sample,
        // then the group's termination; a state and a start answer that came
        // after the frames are reported after their blocks, in their order.
        LogCapture log;
        DravikMeasurementHandler_v2 job;
        QStringList order;
        QList<QByteArray> blocks;
        connect(&job, &AbstractMeasurementJob_v2::channelData, this,
                [&](int channel, quint64 trigger, quint64 packet, const QByteArray &data) {
                    order.append(QStringLiteral("data %1 %2 %3").arg(channel).arg(trigger).arg(packet));
                    blocks.append(data);
                });
        connect(&job, &AbstractMeasurementJob_v2::channelDataTermination, this,
                [&](int channel, quint64 trigger, quint64 packet) {
                    order.append(QStringLiteral("end %1 %2 %3").arg(channel).arg(trigger).arg(packet));
                });
        connect(&job, &AbstractMeasurementJob_v2::measurementCommandResult, this,
                [&](MeasurementCommands command, bool success) {
                    order.append(QStringLiteral("answer %1 %2").arg(int(command)).arg(success));
                });
        connect(&job, &AbstractMeasurementJob_v2::answerBehindData, this,
                [&](quint16 command, quint16, quint16, const QByteArray &data) {
                    order.append(QStringLiteral("state %1 %2").arg(command, 0, 16).arg(QString(data.toHex())));
                });
        g_previous = qInstallMessageHandler(threadSpy);
        const QByteArray header = QByteArray::fromHex("01000000 0000 0000 0500000000000000");
        job.onQlpPacket(0x0F5B, 0, 0, QByteArray::fromHex("cafe"));
        job.onQlpPacket(0x0F5B, 0, 0, header + QByteArray::fromHex("0600000000000000 01000000"));
        job.onQlpPacket(0x0F5B, 0, 0, header + QByteArray::fromHex("0700000000000000"));
        job.passBehindData(0x0F41, 0, 0, QByteArray::fromHex("0100"));
        job.onQlpPacket(0x0F00, 0, 0, QByteArray());
        QVERIFY(order.isEmpty());

        QTRY_COMPARE(order.size(), 20);
        qInstallMessageHandler(g_previous);
        QStringList expected;
        for (const char *kind : {"data", "end"}) {
            for (int channel : {9, 10, 11, 12, 13, 14, 15, 16, 8})
                expected.append(QStringLiteral("%1 %2 5 %3").arg(kind).arg(channel).arg(kind[0] == 'd' ? 6 : 7));
        }
        expected << QStringLiteral("state f41 0100") << QStringLiteral("answer 0 1");
        QCOMPARE(order, expected);
        // A state answer of a connection that went down is not handed on; the
        // stop answer behind it still is.
        job.passBehindData(0x0F41, 0, 0, QByteArray::fromHex("0300"));
        job.onDisconnect();
        job.onQlpPacket(0x0F01, 0, 0, QByteArray());
        QTRY_COMPARE(order.size(), 21);
        QCOMPARE(order.last(), QStringLiteral("answer 1 1"));
        // The unpacked blocks as they are (their decoding: tst_rawdataunpacker).
        QCOMPARE(qFromLittleEndian<float>(blocks.at(8).constData()), 1.0f / 2147483648.0f);
        QVERIFY(g_seenOn.loadAcquire() && g_seenOn.loadAcquire() != QThread::currentThread());
        QCOMPARE(log.unexpectedQtWarnings(), QStringList());
    }

    void gainCompensationFollowsFrameOrder()
    {
        DravikMeasurementHandler_v2 job;
        QSignalSpy data(&job, &AbstractMeasurementJob_v2::channelData);
        const QByteArray frame = QByteArray::fromHex("00000000 0014 0000 0000000000000000 0000000000000000 0040");
        job.onQlpPacket(0x0F5B, 0, 0, frame);
        job.setGainCompensation(false);
        job.onQlpPacket(0x0F5B, 0, 0, frame);
        job.setGainCompensation(true);
        job.onQlpPacket(0x0F5B, 0, 0, frame);
        QTRY_COMPARE(data.size(), 3);
        QList<float> values;
        for (const QList<QVariant> &args : qAsConst(data))
            values.append(qFromLittleEndian<float>(args.at(3).toByteArray().constData()));
        QCOMPARE(values, (QList<float>{0.5f * 0.1f, 0.5f, 0.5f * 0.1f}));
    }

    void commands_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("argument");
        QTest::addColumn<int>("id");
        QTest::addColumn<QByteArray>("payload");

        QTest::newRow("start ignores the argument") << 0 << 5 << 0x0F00 << QByteArray();
        QTest::newRow("stop ignores the argument") << 1 << 7 << 0x0F01 << QByteArray();
        QTest::newRow("transfer, low byte of 258") << 2 << 258 << 0x0F5B << QByteArray::fromHex("02");
        QTest::newRow("discard, low byte of -1") << 3 << -1 << 0x0F06 << QByteArray::fromHex("ff");
        QTest::newRow("unknown value 4") << 4 << 1 << -1 << QByteArray();
    }

    void commands()
    {
        QFETCH(int, command);
        QFETCH(int, argument);
        QFETCH(int, id);
        QFETCH(QByteArray, payload);

        DravikMeasurementHandler_v2 job;
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        LogCapture log;
        job.processMeasurementCommand(MeasurementCommands(command), argument);
        if (id < 0) {
            QCOMPARE(sent.size(), 0);
            QCOMPARE(dravikLines(log), QStringList());
            return;
        }
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().at(0).value<quint16>(), quint16(id));
        QCOMPARE(sent.first().at(1).toByteArray().toHex(), payload.toHex());
    }

    void frames_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("stateCode");
        QTest::addColumn<int>("ackCode");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<Result>>("results");
        QTest::addColumn<QList<QByteArray>>("unpacked");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QList<int>>("refusal"); // acknowledge code and subjects of requestRefused

        const QString started = QStringLiteral("[DRAVIK.MH]: processed command StartMeasurement");
        const QString stopped = QStringLiteral("[DRAVIK.MH]: processed command StopMeasurement");
        QTest::newRow("start acknowledged") << 0x0F00 << 7 << 0 << QByteArray::fromHex("01") << QList<Result>{{0, true}}
                                            << QList<QByteArray>() << QStringList{started} << QList<int>();
        QTest::newRow("start refused") << 0x0F00 << 0 << 1 << QByteArray() << QList<Result>{{0, false}}
                                       << QList<QByteArray>() << QStringList{started} << QList<int>{1};
        QTest::newRow("stop acknowledged") << 0x0F01 << 3 << 0 << QByteArray() << QList<Result>{{1, true}}
                                           << QList<QByteArray>() << QStringList{stopped} << QList<int>();
        QTest::newRow("discard acknowledged: silence") << 0x0F06 << 0 << 0 << QByteArray::fromHex("05")
                                                       << QList<Result>() << QList<QByteArray>() << QStringList()
                                                       << QList<int>();
        QTest::newRow("data frame whatever its codes but a refusal")
            << 0x0F5B << 9 << 9 << QByteArray::fromHex("0102030405") << QList<Result>()
            << QList<QByteArray>{QByteArray::fromHex("0102030405")} << QStringList() << QList<int>();
        // Refused with the group named: data the device was told of is withheld.
        QTest::newRow("transfer refused") << 0x0F5B << 9 << 7 << QByteArray::fromHex("02") << QList<Result>()
                                          << QList<QByteArray>() << QStringList() << QList<int>{7, 2};
        // Refused without a group: nothing was there to send.
        QTest::newRow("empty data frame is still forwarded")
            << 0x0F5B << 0 << 6 << QByteArray() << QList<Result>() << QList<QByteArray>{QByteArray()} << QStringList()
            << QList<int>();
        QTest::newRow("unknown frame is reported") << 0x0F02 << 0 << 0 << QByteArray::fromHex("0100") << QList<Result>()
                                                   << QList<QByteArray>() << QStringList{" no handler for command 3842"}
                                                   << QList<int>();
    }

    void frames()
    {
        QFETCH(int, command);
        QFETCH(int, stateCode);
        QFETCH(int, ackCode);
        QFETCH(QByteArray, payload);
        QFETCH(QList<Result>, results);
        QFETCH(QStringList, lines);
        QFETCH(QList<int>, refusal);

        registerLinkMetaTypes();
        DravikMeasurementHandler_v2 job;
        QSignalSpy refused(&job, &AbstractJobHandler_v2::requestRefused);
        QSignalSpy result(&job, &AbstractMeasurementJob_v2::measurementCommandResult);
        QSignalSpy unpack(&job, &DravikMeasurementHandler_v2::unpackData);
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        LogCapture log;
        job.onQlpPacket(quint16(command), quint16(stateCode), quint16(ackCode), payload);
        // Answers come back through the unpack thread, behind the data before them.
        QTRY_COMPARE(result.size(), results.size());

        QList<Result> gotResults;
        for (const QList<QVariant> &args : qAsConst(result))
            gotResults.append({int(args.at(0).value<MeasurementCommands>()), args.at(1).toBool()});
        QCOMPARE(gotResults, results);
        QList<QByteArray> gotUnpacked;
        for (const QList<QVariant> &args : qAsConst(unpack))
            gotUnpacked.append(args.at(0).toByteArray());
        QTEST(gotUnpacked, "unpacked");
        QCOMPARE(sent.size(), 0);
        QCOMPARE(refused.size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty())
            QCOMPARE(QList<int>{refused.first().at(1).toInt()} + refused.first().at(2).value<QList<int>>(), refusal);
        const QStringList got = dravikLines(log);
        QCOMPARE(got.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(got.at(i).endsWith(lines.at(i)), qPrintable(got.at(i)));
    }
};

QTEST_GUILESS_MAIN(tst_MeasurementHandler)
#include "tst_measurementhandler.moc"
