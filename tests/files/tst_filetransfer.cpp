#include "DravikFileTransfer_v2.h"
#include "LogCapture.h"

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

namespace {

const quint16 kInfo = 0x0F60;
const quint16 kBlock = 0x0F61;
const quint16 kChecksum = 0x0F80;
const QString kTag = QStringLiteral("[DRAVIK.IO.File]: ");

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

quint32 detectorCrc(const QByteArray &data)
{
    return ~quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

QByteArray fileOf(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31 + i / 257) & 0xFF);
    return data;
}

class ScriptedIds : public DravikFileTransfer_v2
{
public:
    QList<quint32> ids;
    int draws = 0;

protected:
    quint32 drawTransferId() override
    {
        ++draws;
        return ids.size() > 1 ? ids.takeFirst() : ids.value(0);
    }
};

quint16 commandOf(const QSignalSpy &sent, int i) { return sent.at(i).at(0).value<quint16>(); }

QByteArray payloadOf(const QSignalSpy &sent, int i) { return sent.at(i).at(1).toByteArray(); }

void answer(DravikFileTransfer_v2 &job, const QSignalSpy &sent, const QByteArray &file, int failAt = -1,
            quint16 ack = 0, bool wrongChecksum = false, int from = 0)
{
    for (int i = from; i < sent.size(); ++i) {
        const QByteArray request = payloadOf(sent, i);
        const quint16 code = i == failAt ? ack : 0;
        switch (commandOf(sent, i)) {
        case kInfo:
            job.onQlpPacket(kInfo, 0, code, request);
            break;
        case kBlock:
            job.onQlpPacket(kBlock, 0, code, request.left(8));
            break;
        case kChecksum: {
            const quint32 crc = detectorCrc(file) ^ (i == failAt && wrongChecksum ? 0x5A5A5A5Au : 0u);
            job.onQlpPacket(kChecksum, 0, code, request.left(4) + le32(0) + le32(quint32(file.size())) + le32(crc));
            break;
        }
        default:
            break;
        }
    }
}

QStringList jobLines(const LogCapture &log)
{
    QStringList lines;
    for (const QString &line : log.texts(QtDebugMsg, QStringLiteral("dravik"))) {
        if (line.startsWith(kTag))
            lines.append(line);
    }
    return lines;
}

} // namespace

class tst_FileTransfer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void blocks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<QList<int>>("lengths");
        QTest::addColumn<QList<double>>("progress");
        QTest::addColumn<double>("finalProgress");

        QTest::newRow("empty") << 0 << QList<int>() << QList<int>() << QList<double>() << 1.0;
        QTest::newRow("one byte") << 1 << QList<int>{0} << QList<int>{1} << QList<double>{0.0} << 65000.0;
        QTest::newRow("one whole block") << 65000 << QList<int>{0} << QList<int>{65000} << QList<double>{0.0} << 1.0;
        QTest::newRow("one byte more") << 65001 << QList<int>{0, 65000} << QList<int>{65000, 1}
                                       << QList<double>{0.0, 65000.0 / 65001.0} << 130000.0 / 65001.0;
    }

    void blocks()
    {
        QFETCH(int, size);
        QFETCH(QList<int>, offsets);
        QFETCH(QList<int>, lengths);
        QFETCH(QList<double>, progress);
        QFETCH(double, finalProgress);

        const QByteArray file = fileOf(size);
        ScriptedIds job;
        job.ids = {0x11223344u};
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        QSignalSpy states(&job, &DravikFileTransfer_v2::transferState);

        quint32 id = 0;
        QVERIFY(job.addTransfer(file, id));
        QCOMPARE(id, 0x11223344u);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(commandOf(sent, 0), kInfo);
        QCOMPARE(payloadOf(sent, 0),
                 QByteArray::fromHex("4433221100000000") + le32(quint32(size)) + le32(detectorCrc(file)));
        QCOMPARE(states.size(), 1);
        QCOMPARE(states.at(0), (QVariantList{0, id, 0.0}));

        answer(job, sent, file);

        QCOMPARE(sent.size(), 1 + offsets.size() + 1);
        for (int i = 0; i < offsets.size(); ++i) {
            QCOMPARE(commandOf(sent, 1 + i), kBlock);
            QCOMPARE(payloadOf(sent, 1 + i),
                     le32(id) + le32(quint32(offsets.at(i))) + file.mid(offsets.at(i), lengths.at(i)));
        }
        QCOMPARE(commandOf(sent, sent.size() - 1), kChecksum);
        QCOMPARE(payloadOf(sent, sent.size() - 1), QByteArray::fromHex("44332211"));

        QCOMPARE(states.size(), 1 + progress.size() + 1);
        for (int i = 0; i < progress.size(); ++i)
            QCOMPARE(states.at(1 + i), (QVariantList{1, id, progress.at(i)}));
        QCOMPARE(states.last(), (QVariantList{2, id, finalProgress}));
        QVERIFY(!job.isOpen(id));
    }

    void failures_data()
    {
        QTest::addColumn<int>("failAt");
        QTest::addColumn<quint16>("ack");
        QTest::addColumn<bool>("wrongChecksum");
        QTest::addColumn<int>("blockReports");
        QTest::addColumn<int>("status");
        QTest::addColumn<double>("finalProgress");

        const double size = 130001.0;
        QTest::newRow("announcement refused") << 0 << quint16(3) << false << 0 << 3 << 0.0;
        QTest::newRow("first block refused") << 1 << quint16(1) << false << 0 << 3 << 0.0;
        QTest::newRow("second block refused") << 2 << quint16(7) << false << 1 << 3 << 65000.0 / size;
        QTest::newRow("last block refused") << 3 << quint16(0xFFFF) << false << 2 << 3 << 130000.0 / size;
        QTest::newRow("checksum differs") << 4 << quint16(0) << true << 3 << 3 << 195000.0 / size;
        QTest::newRow("checksum equal, ack set") << 4 << quint16(5) << false << 3 << 2 << 195000.0 / size;
    }

    void failures()
    {
        QFETCH(int, failAt);
        QFETCH(quint16, ack);
        QFETCH(bool, wrongChecksum);
        QFETCH(int, blockReports);
        QFETCH(int, status);
        QFETCH(double, finalProgress);

        const QByteArray file = fileOf(130001);
        ScriptedIds job;
        job.ids = {0x0A0B0C0Du};
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        QSignalSpy states(&job, &DravikFileTransfer_v2::transferState);
        quint32 id = 0;
        QVERIFY(job.addTransfer(file, id));
        answer(job, sent, file, failAt, ack, wrongChecksum);

        QCOMPARE(sent.size(), failAt + 1);
        QCOMPARE(states.size(), 1 + blockReports + 1);
        QCOMPARE(states.last(), (QVariantList{status, id, finalProgress}));
        QCOMPARE(job.openTransfers(), 0);

        job.onQlpPacket(kInfo, 0, 0, le32(id));
        job.onQlpPacket(kBlock, 0, 0, le32(id) + le32(0));
        QCOMPARE(sent.size(), failAt + 1);
        QCOMPARE(states.size(), 1 + blockReports + 1);
    }

    void unusableReplies_data()
    {
        QTest::addColumn<quint16>("command");
        QTest::addColumn<quint16>("ack");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("logged");

        const QString shortLine = QStringLiteral(" invalid data length  %1");
        QTest::newRow("announcement reply short") << kInfo << quint16(0) << QByteArray::fromHex("0d0c0b")
                                                  << shortLine.arg(3);
        QTest::newRow("block reply short") << kBlock << quint16(0) << QByteArray::fromHex("0d0c0b0a000000")
                                           << shortLine.arg(7);
        QTest::newRow("checksum reply short")
            << kChecksum << quint16(0) << QByteArray::fromHex("0d0c0b0a000000000000000000000000").left(15)
            << shortLine.arg(15);
        QTest::newRow("announcement reply, unknown id")
            << kInfo << quint16(0) << QByteArray::fromHex("01000000") << kTag + QStringLiteral(" 1  : invalid transfer id");
        QTest::newRow("block reply, unknown id") << kBlock << quint16(0) << QByteArray::fromHex("0100000000000000")
                                                 << kTag + QStringLiteral(" invalid transfer id  1");
        QTest::newRow("checksum reply, unknown id")
            << kChecksum << quint16(0) << QByteArray::fromHex("01000000000000000000000000000000")
            << kTag + QStringLiteral(" invalid transfer id  1");
        QTest::newRow("read-back reply") << quint16(0x0F81) << quint16(0) << QByteArray::fromHex("0d0c0b0a00000000ff")
                                         << QString();
        QTest::newRow("command not claimed") << quint16(0x0F62) << quint16(0)
                                             << QByteArray::fromHex("0d0c0b0a00000000") << QString();
    }

    void unusableReplies()
    {
        QFETCH(quint16, command);
        QFETCH(quint16, ack);
        QFETCH(QByteArray, payload);
        QFETCH(QString, logged);

        const QByteArray file = fileOf(65001);
        ScriptedIds job;
        job.ids = {0x0A0B0C0Du};
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        QSignalSpy states(&job, &DravikFileTransfer_v2::transferState);
        quint32 id = 0;
        QVERIFY(job.addTransfer(file, id));
        states.clear();

        LogCapture log;
        job.onQlpPacket(command, 0, ack, payload);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(states.size(), 0);
        QVERIFY(job.isOpen(id));
        const QStringList lines = jobLines(log);
        if (logged.isEmpty()) {
            QCOMPARE(lines, QStringList());
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().endsWith(logged), qPrintable(lines.first()));
        }

        answer(job, sent, file);
        QCOMPARE(states.last(), (QVariantList{2, id, 130000.0 / 65001.0}));
    }

    void disconnectDropsOpenTransfers()
    {
        const QByteArray file = fileOf(70000);
        ScriptedIds job;
        job.ids = {1u, 2u};
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        QSignalSpy states(&job, &DravikFileTransfer_v2::transferState);
        quint32 first = 0;
        quint32 second = 0;
        QVERIFY(job.addTransfer(file, first));
        QVERIFY(job.addTransfer(file, second));
        job.onQlpPacket(kInfo, 0, 0, le32(first)); // one of them has a block in flight
        QCOMPARE(sent.size(), 3);
        states.clear();

        job.onDisconnect();
        QCOMPARE(job.openTransfers(), 0);
        QCOMPARE(states.size(), 0);

        job.onQlpPacket(kBlock, 0, 0, le32(first) + le32(0));
        job.onQlpPacket(kInfo, 0, 0, le32(second));
        QCOMPARE(sent.size(), 3);
        QCOMPARE(states.size(), 0);

        job.ids = {1u};
        quint32 again = 0;
        QVERIFY(job.addTransfer(file, again));
        QCOMPARE(again, 1u);
    }

    void idDrawing_data()
    {
        QTest::addColumn<QList<quint32>>("ids");
        QTest::addColumn<bool>("added");
        QTest::addColumn<int>("draws");

        QList<quint32> tenTaken;
        for (int i = 0; i < 10; ++i)
            tenTaken << 7u;
        QTest::newRow("free at once") << QList<quint32>{8u} << true << 1;
        QTest::newRow("free at the eleventh draw") << (tenTaken + QList<quint32>{8u}) << true << 11;
        QTest::newRow("taken at all eleven draws") << (tenTaken + QList<quint32>{7u, 8u}) << false << 11;
    }

    void idDrawing()
    {
        QFETCH(QList<quint32>, ids);
        QFETCH(bool, added);
        QFETCH(int, draws);

        ScriptedIds job;
        job.ids = {7u};
        quint32 id = 0;
        QVERIFY(job.addTransfer(fileOf(3), id));
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        QSignalSpy states(&job, &DravikFileTransfer_v2::transferState);
        job.ids = ids;
        job.draws = 0;

        LogCapture log;
        QCOMPARE(job.addTransfer(fileOf(3), id), added);
        QCOMPARE(job.draws, draws);
        QCOMPARE(job.openTransfers(), added ? 2 : 1);
        QCOMPARE(sent.size(), added ? 1 : 0);
        QCOMPARE(states.size(), added ? 1 : 0);
        if (added)
            QCOMPARE(id, 8u);
        QCOMPARE(log.contains(QtDebugMsg, kTag + QStringLiteral(" unable to get new transfer id")), !added);
    }

    void openTransfersAreBounded()
    {
        ScriptedIds job;
        for (quint32 i = 1; i <= quint32(DravikFileTransfer_v2::kMaxOpenTransfers) + 1; ++i)
            job.ids << i;
        QSignalSpy sent(&job, &AbstractJobHandler_v2::sendQlpCommand);
        quint32 id = 0;
        for (int i = 0; i < DravikFileTransfer_v2::kMaxOpenTransfers; ++i)
            QVERIFY(job.addTransfer(fileOf(1), id));
        QVERIFY(!job.addTransfer(fileOf(1), id));
        QCOMPARE(sent.size(), DravikFileTransfer_v2::kMaxOpenTransfers);

        job.onQlpPacket(kInfo, 0, 3, le32(1u));
        QVERIFY(job.addTransfer(fileOf(1), id));
    }
};

QTEST_GUILESS_MAIN(tst_FileTransfer)
#include "tst_filetransfer.moc"
