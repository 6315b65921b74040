#include "Crc32_v2.h"
#include "DravikFileTransfer_v2.h"
#include "DravikUpdateFirmware_v2.h"
#include "LogCapture.h"
#include "LogFileReader_v2.h"
#include "ReferenceCrc32.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

// The three file jobs on their own, the test playing the detector: the
// checksum and file transfer, the firmware update on top of it, and the log
// reader. The same jobs through the link against the simulator are in
// tst_filejobs_sim.

namespace {

const quint16 kInfo = 0x0F60;
const quint16 kBlock = 0x0F61;
const quint16 kChecksum = 0x0F80;
const quint16 kWrite = 0x0F03;
const quint16 kReadLog = 0x0F04;
const quint32 kId = 0x0A0B0C0Du;
const quint32 kOtherId = 0x0A0B0C0Eu;
const QString kTag = QStringLiteral("[DRAVIK.IO.File]: ");

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// A transfer job that draws the ids it is given (the last one for ever).
class ScriptedIds : public DravikFileTransfer_v2
{
public:
    explicit ScriptedIds(QList<quint32> given = {kId}) : ids(std::move(given)) {}
    QList<quint32> ids;
    int draws = 0;

protected:
    quint32 drawTransferId() override
    {
        ++draws;
        return ids.size() > 1 ? ids.takeFirst() : ids.value(0);
    }
};

// A transfer job with spies on what it sends and reports.
struct TransferRig
{
    explicit TransferRig(QList<quint32> ids = {kId}) : job(std::move(ids)) {}
    ScriptedIds job;
    QSignalSpy sent{&job, &AbstractJobHandler_v2::sendQlpCommand};
    QSignalSpy states{&job, &DravikFileTransfer_v2::transferState};
};

quint16 commandOf(const QSignalSpy &sent, int i) { return sent.at(i).at(0).value<quint16>(); }
QByteArray payloadOf(const QSignalSpy &sent, int i) { return sent.at(i).at(1).toByteArray(); }


QByteArray fileOf(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31 + i / 257) & 0xFF);
    return data;
}

enum FailingReply { WholeReply, WrongChecksum, FirstByteOnly };

// Answers each request in turn as the detector would; request failAt gets
// ack instead, as a whole reply, with a wrong checksum, or cut to the
// request's first byte (a refusal that names no transfer).
void answer(DravikFileTransfer_v2 &job, const QSignalSpy &sent, const QByteArray &file, int failAt = -1,
            quint16 ack = 0, int how = WholeReply)
{
    const bool wrongChecksum = how == WrongChecksum;
    for (int i = 0; i < sent.size(); ++i) {
        const QByteArray request = payloadOf(sent, i);
        const quint16 code = i == failAt ? ack : 0;
        const quint16 command = commandOf(sent, i);
        if (i == failAt && how == FirstByteOnly) {
            job.onQlpPacket(command, 0, code, request.left(1));
        } else if (command == kInfo) {
            job.onQlpPacket(kInfo, 0, code, request);
        } else if (command == kBlock) {
            job.onQlpPacket(kBlock, 0, code, request.left(8));
        } else if (command == kChecksum) {
            const quint32 crc = referenceCrc32(file) ^ (i == failAt && wrongChecksum ? 0x5A5A5A5Au : 0u);
            job.onQlpPacket(kChecksum, 0, code, request.left(4) + le32(0) + le32(quint32(file.size())) + le32(crc));
        }
    }
}


// The firmware job on a transfer job of its own.
struct Jobs
{
    ScriptedIds transfer;
    DravikUpdateFirmware_v2 firmware{&transfer};
    QSignalSpy transferSent{&transfer, &AbstractJobHandler_v2::sendQlpCommand};
    QSignalSpy firmwareSent{&firmware, &AbstractJobHandler_v2::sendQlpCommand};
    QSignalSpy states{&firmware, &AbstractFirmwareJob_v2::processState};

    void start(int size, quint8 mode)
    {
        firmware.onUpdateFirmware(QByteArray(size, 'f'), mode);
        states.clear();
    }
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class tst_FileJobs : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void checksum()
    {
        QCOMPARE(Crc32_v2::checksum("123456789"), 0x340BC6D9u);
        QCOMPARE(Crc32_v2::checksum(QByteArray()), 0xFFFFFFFFu);
        QRandomGenerator random(20240611u);
        for (int round = 0; round < 300; ++round) {
            const int size = round < 40 ? round : int(random.bounded(70000));
            QByteArray data(size, '\0');
            for (char &c : data)
                c = char(random.bounded(256));
            QCOMPARE(Crc32_v2::checksum(data), referenceCrc32(data));
            const int split = size ? int(random.bounded(size)) : 0;
            const quint32 first = Crc32_v2::update(Crc32_v2::kInitial, data.constData(), split);
            QCOMPARE(Crc32_v2::update(first, data.constData() + split, size - split), referenceCrc32(data));
        }
    }

    void blocks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("finalProgress");
        QTest::newRow("empty") << 0 << 1.0;
        QTest::newRow("one byte") << 1 << 65000.0;
        QTest::newRow("one whole block") << 65000 << 1.0;
        QTest::newRow("one byte more") << 65001 << 130000.0 / 65001.0;
    }
    void blocks()
    {
        QFETCH(int, size);
        QFETCH(double, finalProgress);
        const QByteArray file = fileOf(size);
        TransferRig rig({0x11223344u});
        auto &[job, sent, states] = rig;
        quint32 id = 0;
        QVERIFY(job.addTransfer(file, id));
        QCOMPARE(id, 0x11223344u);
        QCOMPARE(commandOf(sent, 0), kInfo);
        QCOMPARE(payloadOf(sent, 0), QByteArray::fromHex("4433221100000000") + le32(quint32(size)) + le32(referenceCrc32(file)));
        answer(job, sent, file);

        // The announcement, one block per 65000 bytes, the checksum request.
        const int blocks = (size + 64999) / 65000;
        QCOMPARE(sent.size(), blocks + 2);
        QList<QVariantList> expected{{0, id, 0.0}};
        for (int i = 0; i < blocks; ++i) {
            QCOMPARE(commandOf(sent, 1 + i), kBlock);
            QCOMPARE(payloadOf(sent, 1 + i), le32(id) + le32(quint32(i * 65000)) + file.mid(i * 65000, 65000));
            expected.append({1, id, i * 65000.0 / size});
        }
        expected.append({2, id, finalProgress});
        QCOMPARE(commandOf(sent, blocks + 1), kChecksum);
        QCOMPARE(payloadOf(sent, blocks + 1), QByteArray::fromHex("44332211"));
        QCOMPARE(QList<QVariantList>(states), expected);
        QVERIFY(!job.isOpen(id));
    }

    // A file of 130001 bytes: announcement, three blocks, checksum (requests 0 to 4).
    void failures_data()
    {
        QTest::addColumn<int>("failAt");
        QTest::addColumn<quint16>("ack");
        QTest::addColumn<int>("how");
        QTest::addColumn<int>("status");
        QTest::newRow("announcement refused") << 0 << quint16(3) << int(WholeReply) << 3;
        QTest::newRow("first block refused") << 1 << quint16(1) << int(WholeReply) << 3;
        QTest::newRow("second block refused") << 2 << quint16(7) << int(WholeReply) << 3;
        QTest::newRow("last block refused") << 3 << quint16(0xFFFF) << int(WholeReply) << 3;
        QTest::newRow("checksum differs") << 4 << quint16(0) << int(WrongChecksum) << 3;
        QTest::newRow("checksum equal, ack set") << 4 << quint16(5) << int(WholeReply) << 2;
        // Too short for the id: the transfer waiting for that reply fails.
        QTest::newRow("announcement refused, no id") << 0 << quint16(7) << int(FirstByteOnly) << 3;
        QTest::newRow("block refused, no id") << 2 << quint16(7) << int(FirstByteOnly) << 3;
        QTest::newRow("checksum refused, no id") << 4 << quint16(7) << int(FirstByteOnly) << 3;
    }
    void failures()
    {
        QFETCH(int, failAt);
        QFETCH(quint16, ack);
        QFETCH(int, how);
        QFETCH(int, status);
        const QByteArray file = fileOf(130001);
        TransferRig rig;
        auto &[job, sent, states] = rig;
        quint32 id = 0;
        QVERIFY(job.addTransfer(file, id));
        answer(job, sent, file, failAt, ack, how);

        // Nothing after the failing request; one report per acknowledged block.
        const int acknowledged = qMax(0, failAt - 1);
        QCOMPARE(sent.size(), failAt + 1);
        QCOMPARE(states.size(), acknowledged + 2);
        QCOMPARE(states.last(), (QVariantList{status, id, 65000.0 * acknowledged / 130001.0}));
        QCOMPARE(job.openTransfers(), 0);
        // Late replies for the closed transfer change nothing.
        job.onQlpPacket(kInfo, 0, 0, le32(id));
        job.onQlpPacket(kBlock, 0, 0, le32(id) + le32(0));
        QCOMPARE(sent.size(), failAt + 1);
        QCOMPARE(states.size(), acknowledged + 2);
    }

    void unusableReplies_data()
    {
        QTest::addColumn<quint16>("command");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("logged");
        const QString shortLine = QStringLiteral(" invalid data length  %1");
        const QString unknownId = kTag + QStringLiteral(" invalid transfer id  1");
        QTest::newRow("announcement reply short") << kInfo << QByteArray::fromHex("0d0c0b") << shortLine.arg(3);
        QTest::newRow("block reply short") << kBlock << QByteArray::fromHex("0d0c0b0a000000") << shortLine.arg(7);
        QTest::newRow("checksum reply short") << kChecksum << QByteArray::fromHex("0d0c0b0a0000000000000000000000")
                                              << shortLine.arg(15);
        QTest::newRow("announcement reply, unknown id")
            << kInfo << QByteArray::fromHex("01000000") << kTag + QStringLiteral(" 1  : invalid transfer id");
        QTest::newRow("block reply, unknown id") << kBlock << QByteArray::fromHex("0100000000000000") << unknownId;
        QTest::newRow("checksum reply, unknown id") << kChecksum << QByteArray::fromHex("01000000") + QByteArray(12, '\0')
                                                    << unknownId;
        QTest::newRow("read-back reply") << quint16(0x0F81) << QByteArray::fromHex("0d0c0b0a00000000ff") << QString();
        QTest::newRow("command not claimed") << quint16(0x0F62) << QByteArray::fromHex("0d0c0b0a00000000") << QString();
    }
    void unusableReplies()
    {
        QFETCH(quint16, command);
        QFETCH(QByteArray, payload);
        QFETCH(QString, logged);
        const QByteArray file = fileOf(65001);
        TransferRig rig;
        auto &[job, sent, states] = rig;
        quint32 id = 0;
        QVERIFY(job.addTransfer(file, id));
        states.clear();

        LogCapture log;
        job.onQlpPacket(command, 0, 0, payload);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(states.size(), 0);
        QVERIFY(job.isOpen(id));
        const QStringList lines = log.texts(QtDebugMsg, QStringLiteral("dravik")).filter(kTag);
        QCOMPARE(lines.size(), logged.isEmpty() ? 0 : 1);
        if (!logged.isEmpty())
            QVERIFY2(lines.first().endsWith(logged), qPrintable(lines.first()));
        // The transfer goes on as if nothing had come.
        answer(job, sent, file);
        QCOMPARE(states.last(), (QVariantList{2, id, 130000.0 / 65001.0}));
    }

    // Transfers with ids from 7 on are open; the job draws up to eleven
    // times for a free id, and keeps at most sixteen open.
    void newTransfer_data()
    {
        QTest::addColumn<int>("open");
        QTest::addColumn<QList<quint32>>("ids");
        QTest::addColumn<int>("draws");
        QTest::addColumn<QString>("refusal"); // logged; empty: added
        const QList<quint32> tenTaken = QVector<quint32>(10, 7u).toList();
        QTest::newRow("free at once") << 1 << QList<quint32>{8u} << 1 << "";
        QTest::newRow("free at the eleventh draw") << 1 << (tenTaken + QList<quint32>{8u}) << 11 << "";
        QTest::newRow("taken at all eleven draws") << 1 << (tenTaken + QList<quint32>{7u, 8u}) << 11
                                                   << "unable to get new transfer id";
        QTest::newRow("sixteen open") << 16 << QList<quint32>{100u} << 0 << "too many open transfers 16";
    }
    void newTransfer()
    {
        QFETCH(int, open);
        QFETCH(QList<quint32>, ids);
        QFETCH(int, draws);
        QFETCH(QString, refusal);
        TransferRig rig;
        quint32 id = 0;
        for (int i = 0; i < open; ++i) {
            rig.job.ids = {7u + quint32(i)};
            QVERIFY(rig.job.addTransfer(fileOf(3), id));
        }
        rig.sent.clear();
        rig.job.ids = ids;
        rig.job.draws = 0;

        LogCapture log;
        const bool added = refusal.isEmpty();
        QCOMPARE(rig.job.addTransfer(fileOf(3), id), added);
        QCOMPARE(rig.job.draws, draws);
        QCOMPARE(rig.job.openTransfers(), open + (added ? 1 : 0));
        QCOMPARE(rig.sent.size(), added ? 1 : 0);
        if (added)
            QCOMPARE(id, 8u);
        else
            QCOMPARE(log.texts(QtDebugMsg, QStringLiteral("dravik")).filter(kTag + QLatin1Char(' ') + refusal).size(), 1);
    }
    // What the firmware job makes of each report of its transfer.
    void transferReports_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("status");
        QTest::addColumn<quint32>("id");
        QTest::addColumn<QString>("reported"); // the state's text, empty: no report
        QTest::addColumn<bool>("writeOrder");
        QTest::addColumn<bool>("runningAfter");
        QTest::newRow("idle, started") << false << 0 << kId << "Transfer started" << false << false;
        QTest::newRow("idle, failed") << false << 3 << kId << "" << false << false;
        QTest::newRow("running, started") << true << 0 << kId << "Transfer started" << false << true;
        QTest::newRow("running, block") << true << 1 << kId << "Transfering ..." << false << true;
        QTest::newRow("running, successful") << true << 2 << kId << "Transfer successful" << true << true;
        QTest::newRow("running, failed") << true << 3 << kId << "Transfer failed" << false << false;
        QTest::newRow("running, unknown status") << true << 4 << kId << "" << false << true;
        QTest::newRow("running, other id, block") << true << 1 << kOtherId << "" << false << true;
        QTest::newRow("running, other id, failed") << true << 3 << kOtherId << "" << false << true;
    }
    void transferReports()
    {
        QFETCH(bool, running);
        QFETCH(int, status);
        QFETCH(quint32, id);
        QFETCH(QString, reported);
        QFETCH(bool, writeOrder);
        Jobs jobs;
        jobs.start(1000, 3);
        if (!running) {
            jobs.transfer.onQlpPacket(kInfo, 0, 5, le32(kId));
            QVERIFY(!jobs.firmware.isRunning());
            jobs.states.clear();
        }

        jobs.firmware.onTransferState(status, id, 0.25);
        if (reported.isEmpty())
            QCOMPARE(jobs.states.size(), 0);
        else
            QCOMPARE(QList<QVariantList>(jobs.states), (QList<QVariantList>{{status, 0.25, reported}}));
        // The write order: transfer id and mode.
        QCOMPARE(jobs.firmwareSent.size(), writeOrder ? 1 : 0);
        if (writeOrder)
            QCOMPARE(payloadOf(jobs.firmwareSent, 0), QByteArray::fromHex("0d0c0b0a03"));
        QTEST(jobs.firmware.isRunning(), "runningAfter");
    }

    void writeReplies_data()
    {
        QTest::addColumn<quint16>("ack");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QVariantList>("report");
        const QByteArray half = QByteArray::fromHex("000000000000000020a10700"); // 500000 of 1000000
        const QVariantList failed{7, 0.0, "Writing failed"};
        QTest::newRow("half written") << quint16(0) << half << QVariantList{5, 0.5, "Writing ..."};
        QTest::newRow("end") << quint16(0) << QByteArray() << QVariantList{6, 1.0, "Writing successful"};
        QTest::newRow("end, eleven bytes") << quint16(0) << QByteArray::fromHex("0000000000000000ffffff")
                                           << QVariantList{6, 1.0, "Writing successful"};
        QTest::newRow("refused") << quint16(2) << QByteArray() << failed;
        QTest::newRow("refused with progress") << quint16(7) << half << failed;
    }
    void writeReplies()
    {
        QFETCH(quint16, ack);
        QFETCH(QByteArray, payload);
        QFETCH(QVariantList, report);
        Jobs jobs;
        jobs.start(1000000, 0);
        jobs.firmware.onQlpPacket(kWrite, 0, ack, payload);
        QCOMPARE(QList<QVariantList>(jobs.states), QList<QVariantList>{report});
        QVERIFY(!jobs.firmware.isRunning());
    }

    // A second update while one runs is refused; the first goes on with its mode.
    void secondUpdateIsRefused()
    {
        Jobs jobs;
        jobs.start(70000, 1);
        jobs.transfer.ids = {kOtherId};
        jobs.firmware.onUpdateFirmware(QByteArray(10, 's'), 2);
        QCOMPARE(QList<QVariantList>(jobs.states), (QList<QVariantList>{{3, 0.0, "Transfer failed"}}));
        QCOMPARE(jobs.transferSent.size(), 1);
        QVERIFY(jobs.firmware.isRunning());

        answer(jobs.transfer, jobs.transferSent, QByteArray(70000, 'f'));
        QCOMPARE(jobs.firmwareSent.size(), 1);
        QCOMPARE(commandOf(jobs.firmwareSent, 0), kWrite);
        QCOMPARE(payloadOf(jobs.firmwareSent, 0), QByteArray::fromHex("0d0c0b0a01"));
    }
    // A file that cannot be written fails the read, quietly, and keeps the log.
    void logReads_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QByteArray>("written"); // the log, in the file or kept by the reader
        QTest::addColumn<bool>("ok");
        // Many pieces: tst_filejobs_sim.
        const QList<QByteArray> kept{"kept", ""};
        QTest::newRow("empty log") << path("pieces.log") << QList<QByteArray>{""} << QByteArray() << true;
        QTest::newRow("one large piece") << path("pieces.log") << QList<QByteArray>{QByteArray(70000, 'L'), ""}
                                         << QByteArray(70000, 'L') << true;
        QTest::newRow("bytes after the end") << path("pieces.log") << QList<QByteArray>{"ab", "", "cd"}
                                             << QByteArray("ab") << true;
        QTest::newRow("missing folder") << path("no/such/folder/x.log") << kept << QByteArray("kept") << false;
        QTest::newRow("a folder") << m_dir.path() << kept << QByteArray("kept") << false;
    }
    void logReads()
    {
        QFETCH(QString, file);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, written);
        QFETCH(bool, ok);
        if (ok)
            QFile::remove(file);
        LogFileReader_v2 reader;
        QSignalSpy done(&reader, &LogFileReader_v2::logFileRead);
        LogCapture log;
        reader.readLogFile(file);
        for (const QByteArray &reply : replies)
            reader.onQlpPacket(kReadLog, 0, 0, reply);
        QCOMPARE(ok ? contents(file) : reader.buffer(), written);
        QCOMPARE(QList<QVariantList>(done), (QList<QVariantList>{{ok, file, qint64(written.size())}}));
        QCOMPARE(log.count(QtDebugMsg, QStringLiteral("[DRAVIK.LFR]: read log byte count %1").arg(written.size())), 1);
        QCOMPARE(log.texts(QtWarningMsg), QStringList());
        QCOMPARE(log.unexpectedQtWarnings(), QStringList());
    }

    // Only the log command's replies count, whatever their codes but a
    // refusal; a second end marker writes the same log again over a longer
    // file. A new request starting from nothing: fuzz_filejobs.
    void logRepliesAndRequests()
    {
        LogFileReader_v2 reader;
        QSignalSpy done(&reader, &LogFileReader_v2::logFileRead);
        const QString file = path("codes.log");
        reader.readLogFile(file);
        reader.onQlpPacket(0x0F05, 0, 0, "other");
        reader.onQlpPacket(kReadLog, 7, 9, "coded");
        reader.onQlpPacket(0x0F05, 0, 0, QByteArray());
        QVERIFY(!QFile::exists(file));
        reader.onQlpPacket(kReadLog, 0xFFFF, 0xFFFF, QByteArray());
        QCOMPARE(contents(file), QByteArray("coded"));

        QFile other(file);
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("something much longer than the log");
        other.close();
        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());
        QCOMPARE(contents(file), QByteArray("coded"));
        QCOMPARE(done.size(), 2);
        // A refusal is no empty log: nothing is written, the read failed.
        reader.onQlpPacket(kReadLog, 0, 7, QByteArray());
        QCOMPARE(done.last(), (QVariantList{false, file, qint64(0)}));
        QCOMPARE(contents(file), QByteArray("coded"));
    }

    // The buffer stops at its bound with one warning; the next read works.
    void logRunaway()
    {
        LogFileReader_v2 reader;
        QSignalSpy done(&reader, &LogFileReader_v2::logFileRead);
        LogCapture log;
        reader.readLogFile(QString()); // nothing to write, so no 64 MiB on disk
        const QByteArray piece(LogFileReader_v2::kMaxLogSize / 4, 'r');
        for (int i = 0; i < 6; ++i)
            reader.onQlpPacket(kReadLog, 0, 0, piece);
        QCOMPARE(reader.buffer().size(), LogFileReader_v2::kMaxLogSize);
        QCOMPARE(log.texts(QtWarningMsg).size(), 1);
        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());
        QCOMPARE(done.first().at(0).toBool(), false);

        reader.readLogFile(path("after.log"));
        reader.onQlpPacket(kReadLog, 0, 0, "ok");
        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());
        QCOMPARE(done.last().at(0).toBool(), true);
    }
};

QTEST_GUILESS_MAIN(tst_FileJobs)
#include "tst_filejobs.moc"
