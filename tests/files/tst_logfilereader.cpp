#include "LogCapture.h"
#include "LogFileReader_v2.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const quint16 kReadLog = 0x0F04;

QByteArray contents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

} // namespace

class tst_LogFileReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void pieces_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QByteArray>("written");

        QTest::newRow("3, 5 and the end") << QList<QByteArray>{"abc", "defgh", ""} << QByteArray("abcdefgh");
        QTest::newRow("empty log") << QList<QByteArray>{""} << QByteArray();
        QTest::newRow("one large piece") << QList<QByteArray>{QByteArray(70000, 'L'), ""} << QByteArray(70000, 'L');
        QTest::newRow("bytes after the end") << QList<QByteArray>{"ab", "", "cd"} << QByteArray("ab");
    }

    void pieces()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, written);

        const QString file = path(QStringLiteral("pieces.log"));
        QFile::remove(file);
        LogFileReader_v2 reader;
        QSignalSpy done(&reader, &LogFileReader_v2::logFileRead);
        LogCapture log;
        reader.readLogFile(file);
        for (const QByteArray &reply : replies)
            reader.onQlpPacket(kReadLog, 0, 0, reply);

        QCOMPARE(contents(file), written);
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first(), (QVariantList{true, file, qint64(written.size())}));
        QCOMPARE(log.count(QtDebugMsg, QStringLiteral("[DRAVIK.LFR]: read log byte count %1").arg(written.size())), 1);
    }

    void repeatedEndMarker()
    {
        const QString file = path(QStringLiteral("again.log"));
        LogFileReader_v2 reader;
        QSignalSpy done(&reader, &LogFileReader_v2::logFileRead);
        reader.readLogFile(file);
        reader.onQlpPacket(kReadLog, 0, 0, "short");
        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());

        QFile other(file);
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("something much longer than the log");
        other.close();

        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());
        QCOMPARE(contents(file), QByteArray("short"));
        QCOMPARE(done.size(), 2);
    }

    void newRequestEmptiesBuffer()
    {
        LogFileReader_v2 reader;
        reader.readLogFile(path(QStringLiteral("first.log")));
        reader.onQlpPacket(kReadLog, 0, 0, "first");
        reader.readLogFile(path(QStringLiteral("second.log")));
        reader.onQlpPacket(kReadLog, 0, 0, "second");
        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());
        QCOMPARE(contents(path(QStringLiteral("second.log"))), QByteArray("second"));
        QVERIFY(!QFile::exists(path(QStringLiteral("first.log"))));
    }

    void onlyTheLogCommandCounts()
    {
        LogFileReader_v2 reader;
        const QString file = path(QStringLiteral("codes.log"));
        reader.readLogFile(file);
        reader.onQlpPacket(0x0F05, 0, 0, "other");
        reader.onQlpPacket(kReadLog, 7, 3, "coded");
        reader.onQlpPacket(0x0F05, 0, 0, QByteArray());
        QVERIFY(!QFile::exists(file));
        reader.onQlpPacket(kReadLog, 0xFFFF, 0xFFFF, QByteArray());
        QCOMPARE(contents(file), QByteArray("coded"));
    }

    void unwritableFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("missing folder") << path(QStringLiteral("no/such/folder/x.log"));
        QTest::newRow("a folder") << m_dir.path();
    }

    void unwritableFile()
    {
        QFETCH(QString, file);
        LogFileReader_v2 reader;
        QSignalSpy done(&reader, &LogFileReader_v2::logFileRead);
        LogCapture log;
        reader.readLogFile(file);
        reader.onQlpPacket(kReadLog, 0, 0, "kept");
        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first(), (QVariantList{false, file, qint64(4)}));
        QCOMPARE(reader.buffer(), QByteArray("kept"));
        QCOMPARE(log.texts(QtWarningMsg), QStringList());
        QCOMPARE(log.unexpectedQtWarnings(), QStringList());
    }

    void runawayLog()
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

        reader.readLogFile(path(QStringLiteral("after.log")));
        reader.onQlpPacket(kReadLog, 0, 0, "ok");
        reader.onQlpPacket(kReadLog, 0, 0, QByteArray());
        QCOMPARE(done.last().at(0).toBool(), true);
    }
};

QTEST_GUILESS_MAIN(tst_LogFileReader)
#include "tst_logfilereader.moc"
