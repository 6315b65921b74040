#include "HostProcess.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// dravik-host firmware and log as a user runs them: the simulator and the host
// as separate processes on loopback. The simulator's own log (read back with
// the log command) is the witness of what was written. Every process wait is
// bounded; no test sleeps.
class tst_HostFirmwareLog : public QObject
{
    Q_OBJECT

private:
    static HostProcess::Result host(const QString &command, const QString &file, const QString &address,
                                    const QStringList &extra = {})
    {
        return HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH),
                                QStringList{command, file, "--plugin", DRAVIK_PLUGIN_PATH, "--address", address} + extra,
                                30000);
    }

    // Every line of the detector's log: "[    12.345678] text".
    static QString badLine(const QByteArray &log)
    {
        static const QRegularExpression line(QStringLiteral("^\\[ *\\d+\\.\\d{6}\\] \\S.*$"));
        for (const QByteArray &l : log.split('\n')) {
            if (!l.isEmpty() && !line.match(QString::fromUtf8(l)).hasMatch())
                return QString::fromUtf8(l);
        }
        return QString();
    }

private Q_SLOTS:
    // 300 KB sent and written; the detector's log says it wrote the image.
    // Updates that fail are rows of tst_faultmatrix.
    void firmware()
    {
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString image = dir.filePath("new.dravikfw");
        QByteArray bytes(300000, Qt::Uninitialized);
        QRandomGenerator generator(20240611);
        for (char &c : bytes)
            c = char(generator.bounded(256));
        QVERIFY(writeFile(image, bytes));

        const HostProcess::Result r = host("firmware", image, sim.address(), {"--mode", "2", "--json"});
        QVERIFY2(r.exitCode == 0, qPrintable(QStringLiteral("exit %1: %2").arg(r.exitCode).arg(r.err)));
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(json.value("exit_code").toInt(), 0);
        QCOMPARE(json.value("final_state").toInt(), 6);
        QVERIFY(json.value("written").toBool());
        QCOMPARE(json.value("bytes").toDouble(), 300000.0);
        QCOMPARE(json.value("mode").toInt(), 2);
        QCOMPARE(json.value("progress").toDouble(), 1.0);
        QVERIFY2(r.err.contains("state 6: Writing successful"), qPrintable(r.err));
        // The states in the order the update goes, each progress within [0, 1].
        QList<int> states;
        for (const QJsonValue &v : json.value("states").toArray()) {
            const QJsonObject s = v.toObject();
            states.append(s.value("state").toInt());
            const double progress = s.value("progress").toDouble(-1);
            QVERIFY2(progress >= 0.0 && progress <= 1.0, qPrintable(QString::number(progress)));
            QVERIFY(!s.value("description").toString().isEmpty());
        }
        QVERIFY2(states.value(0) == 0 && states.contains(2) && states.last() == 6 && !states.contains(3),
                 qPrintable(QJsonDocument(json).toJson()));
        QVERIFY(std::is_sorted(states.begin(), states.end()));

        const QString out = dir.filePath("detector.log");
        const HostProcess::Result l = host("log", out, sim.address());
        QVERIFY2(l.exitCode == 0, qPrintable(l.err));
        QCOMPARE(readFile(out).count("firmware written"), 1);
        QCOMPARE(readFile(out).count("firmware written: 300000 bytes, mode 2"), 1);
    }

    // The log arrives whole in pieces of 7 bytes: a second read holds the
    // first one byte for byte, followed only by what happened since (the
    // first connection closing, the second opening).
    void logByteForByte()
    {
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start({"--log-piece", "7"}), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const HostProcess::Result a = host("log", dir.filePath("first.log"), sim.address(), {"--json"});
        QVERIFY2(a.exitCode == 0, qPrintable(a.err));
        const QByteArray one = readFile(dir.filePath("first.log"));
        QCOMPARE(QJsonDocument::fromJson(a.out.toUtf8()).object().value("bytes").toDouble(), double(one.size()));
        const HostProcess::Result b = host("log", dir.filePath("second.log"), sim.address());
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const QByteArray two = readFile(dir.filePath("second.log"));

        QVERIFY2(one.contains("] boot: firmware 23, software 11, hardware 3, protocol 2\n"), one.constData());
        QCOMPARE(one.count("connection from 127.0.0.1:"), 1);
        QCOMPARE(badLine(one), QString());
        QCOMPARE(badLine(two), QString());
        QVERIFY(two.size() > one.size() && two.startsWith(one));
        const QByteArray since = two.mid(one.size());
        QVERIFY2(since.contains("connection closed") && since.contains("connection from 127.0.0.1:"), since.constData());
        QVERIFY(!since.contains("boot:"));
    }
};

QTEST_GUILESS_MAIN(tst_HostFirmwareLog)
#include "tst_hostfirmwarelog.moc"
