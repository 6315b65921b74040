#include "HostProcess.h"
#include "SimProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// dravik-host firmware and log as a user runs them: the simulator and the host
// as separate processes on loopback. The simulator's own log (read back with
// the log command) is the witness that a firmware image was written. Every
// process wait is bounded; no test sleeps.
class tst_HostFirmwareLog : public QObject
{
    Q_OBJECT

private:
    static HostProcess::Result host(const QStringList &args, int timeoutMs = 60000)
    {
        return HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH), args, timeoutMs);
    }

    static QStringList firmware(const QString &address, const QString &image)
    {
        return {QStringLiteral("firmware"), image, QStringLiteral("--plugin"), QStringLiteral(DRAVIK_PLUGIN_PATH),
                QStringLiteral("--address"), address};
    }

    static QStringList log(const QString &address, const QString &out)
    {
        return {QStringLiteral("log"), out, QStringLiteral("--plugin"), QStringLiteral(DRAVIK_PLUGIN_PATH),
                QStringLiteral("--address"), address};
    }

    static QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return QString();
        return path;
    }

    static QByteArray randomImage(int size)
    {
        QByteArray image(size, Qt::Uninitialized);
        QRandomGenerator generator(20240611);
        for (char &c : image)
            c = char(generator.bounded(256));
        return image;
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Every line of the detector's log: "[    12.345678] text".
    static bool wellFormed(const QByteArray &log, QString *bad)
    {
        static const QRegularExpression line(QStringLiteral("^\\[ *\\d+\\.\\d{6}\\] \\S.*$"));
        for (const QByteArray &l : log.split('\n')) {
            if (l.isEmpty())
                continue;
            if (!line.match(QString::fromUtf8(l)).hasMatch()) {
                *bad = QString::fromUtf8(l);
                return false;
            }
        }
        return true;
    }

private Q_SLOTS:
    void helpTexts_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        const QStringList firmwareHelp{"usage: dravik-host firmware FILE", "--mode N", "--timeout SECONDS",
                                       "--allow-remote", "--json", "Writing successful", "\n    8  ",
                                       "\n    9  ", "\n   10  ", "\n   11  "};
        const QStringList logHelp{"usage: dravik-host log OUT", "--overwrite", "--timeout SECONDS", "(30)",
                                  "--allow-remote", "\n   10  ", "\n   11  ", "\n   12  "};
        QTest::newRow("firmware --help") << QStringList{"firmware", "--help"} << firmwareHelp;
        QTest::newRow("help firmware") << QStringList{"help", "firmware"} << firmwareHelp;
        QTest::newRow("log -h") << QStringList{"log", "-h"} << logHelp;
        QTest::newRow("help log") << QStringList{"help", "log"} << logHelp;
        QTest::newRow("overview") << QStringList{"help"} << QStringList{"  firmware FILE", "  log OUT", "  measure"};
    }
    void helpTexts()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        const HostProcess::Result r = host(args, 10000);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        for (const QString &text : expected)
            QVERIFY2(r.out.contains(text), qPrintable(QStringLiteral("'%1' missing in:\n%2").arg(text, r.out)));
    }

    // Refused before anything is loaded: no simulator runs, and the port
    // given is never connected to.
    void refusedUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("firmware without file") << QStringList{"firmware", "--address", "127.0.0.1:9"}
                                               << "FILE is required";
        QTest::newRow("firmware, missing file") << QStringList{"firmware", "@dir/absent.dravikfw", "--address", "127.0.0.1:9"}
                                                << "cannot read";
        QTest::newRow("firmware, empty file") << QStringList{"firmware", "@dir/empty.dravikfw", "--address", "127.0.0.1:9"}
                                              << "is empty";
        QTest::newRow("firmware, mode 256") << QStringList{"firmware", "@dir/one.dravikfw", "--address", "127.0.0.1:9",
                                                           "--mode", "256"}
                                            << "--mode: '256'";
        QTest::newRow("firmware, no address") << QStringList{"firmware", "@dir/one.dravikfw"} << "--address HOST:PORT is required";
        QTest::newRow("firmware, two files") << QStringList{"firmware", "@dir/one.dravikfw", "@dir/one.dravikfw", "--address",
                                                            "127.0.0.1:9"}
                                             << "unexpected argument";
        QTest::newRow("log without file") << QStringList{"log", "--address", "127.0.0.1:9"} << "OUT is required";
        QTest::newRow("log, OUT exists") << QStringList{"log", "@dir/one.dravikfw", "--address", "127.0.0.1:9"}
                                         << "give --overwrite";
        QTest::newRow("log, OUT a folder") << QStringList{"log", "@dir", "--address", "127.0.0.1:9", "--overwrite"}
                                           << "is a directory";
        QTest::newRow("log, timeout 0") << QStringList{"log", "@dir/new.log", "--address", "127.0.0.1:9", "--timeout", "0"}
                                        << "--timeout: '0'";
        QTest::newRow("log, address twice") << QStringList{"log", "@dir/new.log", "--address", "127.0.0.1:9", "--address",
                                                           "127.0.0.1:10"}
                                            << "given more than once";
    }
    void refusedUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(!writeFile(dir, "empty.dravikfw", QByteArray()).isNull());
        QVERIFY(!writeFile(dir, "one.dravikfw", QByteArray(1, '\x5a')).isNull());
        for (QString &arg : args)
            arg.replace(QStringLiteral("@dir"), dir.path());
        const HostProcess::Result r = host(args, 10000);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(dir.filePath("new.log")));
        QCOMPARE(readFile(dir.filePath("one.dravikfw")), QByteArray(1, '\x5a'));
    }

    // 300 KB written with its progress up to 1; the simulator's log then says
    // it wrote exactly that many bytes with the mode given.
    void firmwareWritten()
    {
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString image = writeFile(dir, "new.dravikfw", randomImage(300000));
        QVERIFY(!image.isEmpty());

        const HostProcess::Result r = host(firmware(sim.address(), image) + QStringList{"--mode", "2", "--json"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(json.value("exit_code").toInt(), 0);
        QCOMPARE(json.value("final_state").toInt(), 6);
        QCOMPARE(json.value("bytes").toDouble(), 300000.0);
        QCOMPARE(json.value("mode").toInt(), 2);
        QCOMPARE(json.value("progress").toDouble(), 1.0);
        QVERIFY(json.value("written").toBool());

        // The states in the order the update goes, each progress within [0, 1].
        QList<int> states;
        for (const QJsonValue &v : json.value("states").toArray()) {
            const QJsonObject s = v.toObject();
            states.append(s.value("state").toInt());
            const double progress = s.value("progress").toDouble(-1);
            QVERIFY2(progress >= 0.0 && progress <= 1.0, qPrintable(QString::number(progress)));
            QVERIFY(!s.value("description").toString().isEmpty());
        }
        QVERIFY2(!states.isEmpty() && states.first() == 0 && states.last() == 6,
                 qPrintable(QJsonDocument(json).toJson()));
        QVERIFY(std::is_sorted(states.begin(), states.end()));
        QVERIFY(states.contains(2));
        QVERIFY(!states.contains(3) && !states.contains(7) && !states.contains(8));
        QVERIFY2(r.err.contains("state 6: Writing successful"), qPrintable(r.err));

        const QString out = dir.filePath("detector.log");
        const HostProcess::Result l = host(log(sim.address(), out));
        QVERIFY2(l.exitCode == 0, qPrintable(l.err));
        const QByteArray text = readFile(out);
        QVERIFY2(text.contains("firmware written: 300000 bytes, mode 2"), text.constData());
        QCOMPARE(text.count("firmware written"), 1);
    }

    void firmwareFails_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("finalState");
        QTest::addColumn<int>("exitCode");
        // The detector reports a wrong checksum: the image never counts as
        // arrived, nothing is written.
        QTest::newRow("corrupt checksum") << QStringList{"--corrupt-checksum"} << "0" << 3 << 8;
        // The image arrives, the detector refuses the write order (modes 0 to 3).
        QTest::newRow("mode refused") << QStringList{} << "9" << 7 << 9;
    }
    void firmwareFails()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QString, mode);
        QFETCH(int, finalState);
        QFETCH(int, exitCode);
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start(simulator), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString image = writeFile(dir, "new.dravikfw", randomImage(40000));
        const HostProcess::Result r = host(firmware(sim.address(), image) + QStringList{"--mode", mode, "--json"});
        QVERIFY2(r.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(r.exitCode).arg(r.err)));
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(json.value("final_state").toInt(), finalState);
        QCOMPARE(json.value("exit_code").toInt(), exitCode);
        QVERIFY(!json.value("written").toBool());
        QVERIFY(json.value("error").toString().contains(QStringLiteral("state %1").arg(finalState)));

        const HostProcess::Result l = host(log(sim.address(), dir.filePath("detector.log")));
        QVERIFY2(l.exitCode == 0, qPrintable(l.err));
        QVERIFY(!readFile(dir.filePath("detector.log")).contains("firmware written"));
    }

    // The log arrives whole however the detector cuts it into pieces: a
    // second read holds the first one byte for byte, followed only by what
    // happened since (the first connection closing, the second opening).
    void logByteForByte_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::newRow("pieces of 1024") << "1024";
        QTest::newRow("pieces of 7") << "7";
        QTest::newRow("pieces of 1") << "1";
    }
    void logByteForByte()
    {
        QFETCH(QString, piece);
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start({"--log-piece", piece}), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString first = dir.filePath("first.log");
        const QString second = dir.filePath("second.log");

        const HostProcess::Result a = host(log(sim.address(), first) + QStringList{"--json"});
        QVERIFY2(a.exitCode == 0, qPrintable(a.err));
        const QByteArray one = readFile(first);
        QCOMPARE(QJsonDocument::fromJson(a.out.toUtf8()).object().value("bytes").toDouble(), double(one.size()));
        const HostProcess::Result b = host(log(sim.address(), second));
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const QByteArray two = readFile(second);

        QVERIFY2(one.contains("] boot: firmware 23, software 11, hardware 3, protocol 2\n"), one.constData());
        QCOMPARE(one.count("connection from 127.0.0.1:"), 1);
        QString bad;
        QVERIFY2(wellFormed(one, &bad), qPrintable(bad));
        QVERIFY2(wellFormed(two, &bad), qPrintable(bad));
        QVERIFY(two.size() > one.size());
        QVERIFY(two.startsWith(one));
        const QByteArray since = two.mid(one.size());
        QVERIFY2(since.contains("connection closed") && since.contains("connection from 127.0.0.1:"), since.constData());
        QVERIFY(!since.contains("boot:"));
    }

    // A detector that stops answering once the link is up never sends the
    // end of its log; the host gives up after --timeout, writes nothing, and
    // says so with its own exit code.
    void logTimesOut()
    {
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start({"--silent-after-frames", "60"}), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString out = dir.filePath("detector.log");
        const HostProcess::Result r = host(log(sim.address(), out) + QStringList{"--timeout", "2", "--json"}, 30000);
        QVERIFY2(r.exitCode == 11, qPrintable(QStringLiteral("exit %1: %2").arg(r.exitCode).arg(r.err)));
        QVERIFY2(r.err.contains("did not finish its log within 2 s"), qPrintable(r.err));
        QVERIFY2(r.err.contains("reading the detector's log"), qPrintable(r.err));
        // Connecting, 2 s of waiting and closing; far from any wait without end.
        QVERIFY2(r.elapsedMs >= 2000 && r.elapsedMs < 15000, qPrintable(QString::number(r.elapsedMs)));
        QVERIFY(!QFileInfo::exists(out));
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(json.value("exit_code").toInt(), 11);
        QVERIFY(!json.value("written").toBool());
    }

    // Nothing listens: the connection is refused at once or times out.
    void connectFails()
    {
        QTemporaryDir dir;
        QTcpServer reserve;
        QVERIFY(reserve.listen(QHostAddress::LocalHost));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(reserve.serverPort());
        reserve.close();
        const QString image = writeFile(dir, "new.dravikfw", randomImage(1000));
        const HostProcess::Result f = host(firmware(address, image) + QStringList{"--timeout", "3"}, 30000);
        QVERIFY2(f.exitCode == 4, qPrintable(QStringLiteral("exit %1: %2").arg(f.exitCode).arg(f.err)));
        const HostProcess::Result l = host(log(address, dir.filePath("detector.log")) + QStringList{"--timeout", "3"}, 30000);
        QVERIFY2(l.exitCode == 4, qPrintable(QStringLiteral("exit %1: %2").arg(l.exitCode).arg(l.err)));
        QVERIFY(!QFileInfo::exists(dir.filePath("detector.log")));
    }
};

QTEST_GUILESS_MAIN(tst_HostFirmwareLog)
#include "tst_hostfirmwarelog.moc"
