#include "HostProcess.h"
#include "RecordingReader.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// Faults a test engineer meets on a flaky link, one row each: the
// simulator's fault options, a simulator killed with SIGKILL, an interrupted
// and a frozen host. Each row says the exit code, the longest the run may
// take, and what is left: a recording with how many complete measurements,
// or no file at all. No run may end in success without its data.
class tst_FaultMatrix : public QObject
{
    Q_OBJECT

    enum Action { Nothing, KillSimulator, Interrupt, FreezeHost };

private Q_SLOTS:
    void fault_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("host"); // @out, @image and @fastAlive are filled in
        QTest::addColumn<int>("action");       // when the host says "measurement N of N: running"
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("seconds");      // the run ends within this
        QTest::addColumn<int>("complete");     // complete measurements in the recording; -1: no file
        QTest::addColumn<QString>("message");  // on stderr

        const auto measure = [](int count, const char *duration = "1", const char *timeout = "5",
                                const char *channels = "1018,1021") {
            return QStringList{"measure", "-o", "@out", "--count", QString::number(count), "--duration", duration,
                               "--timeout", timeout, "--channels", channels};
        };
        const QStringList fast{"--settings", "@fastAlive"};
        const QStringList firmware{"firmware", "@image", "--timeout", "10"};
        const QStringList log{"log", "@out", "--timeout", "3"};
        const auto row = [](const char *name, const QStringList &simulator, const QStringList &host, int action,
                            int exitCode, int seconds, int complete, const char *message) {
            QTest::newRow(name) << simulator << host << action << exitCode << seconds << complete
                                << QString::fromUtf8(message);
        };
        // The start waits for its parameters, which come late.
        row("answers 1.5 s late", {"--delay-ms", "1500"}, measure(1, "1", "30"), Nothing, 0, 60, 1, "written");
        // PD pulse records fill the detector's store within about two seconds.
        row("host frozen", {"--time-scale", "5"}, measure(1, "4") + QStringList{"--measurement-mode", "1"}, FreezeHost,
            0, 40, 1, "may be missing");
        row("unknown channel", {}, measure(1, "1", "5", "1021,9999"), Nothing, 2, 10, -1,
            "the device has no channel 9999");
        row("transfers refused", {"--fail-ack", "0x0F5B"}, measure(1, "3"), Nothing, 6, 25, 0,
            "refused to send muxer data (acknowledge code 7)");
        row("64 bytes per write", {"--split-writes", "64"}, measure(1), Nothing, 6, 25, 0, "data was still due 5 s");
        row("timings refused", {"--fail-ack", "0x0F22"}, measure(1), Nothing, 6, 15, 0,
            "did not take Muxer channel sample period (1017)");
        row("start refused", {"--fail-ack", "0x0F00"}, measure(1), Nothing, 6, 15, 0,
            "refused to start the measurement (acknowledge code 7)");
        row("stop refused", {"--fail-ack", "0x0F01"}, measure(1), Nothing, 6, 15, 0,
            "refused to stop the measurement (acknowledge code 7)");
        row("link dropped when stopping", {"--drop-in-state", "8"}, measure(2), Nothing, 6, 15, 0,
            "the link to the detector was lost");
        row("simulator killed in measurement 2", {}, measure(2), KillSimulator, 6, 20, 1,
            "the link to the detector was lost");
        row("detector falls silent", {"--silent-after-frames", "150"}, measure(1) + fast, Nothing, 6, 15, 0,
            "the link to the detector was lost");
        row("detector speaks garbage", {"--garbage-after-frames", "150"}, measure(1) + fast, Nothing, 6, 15, 0,
            "Connection to Dravik lost");
        row("interrupted", {}, measure(2), Interrupt, 130, 15, 1, "interrupted");
        row("firmware 22 rejected", {"--firmware-version", "22"}, measure(1), Nothing, 5, 15, -1,
            "device error: Dravik firmware not supported");
        row("log of a rejected detector", {"--firmware-version", "22"}, log, Nothing, 5, 15, -1,
            "the detector was rejected");
        row("log, link dropped while identifying", {"--drop-after-frames", "1"}, log, Nothing, 4, 15, -1,
            "could not connect");
        row("file announcement refused", {"--fail-ack", "0x0F60"}, firmware, Nothing, 8, 15, -1,
            "refused a file transfer (acknowledge code 7)");
        row("file block refused", {"--fail-ack", "0x0F61"}, firmware, Nothing, 8, 15, -1, "state 3: Transfer failed");
        row("checksum request refused", {"--fail-ack", "0x0F80"}, firmware, Nothing, 8, 15, -1,
            "state 3: Transfer failed");
        row("firmware mode refused", {}, firmware + QStringList{"--mode", "9"}, Nothing, 9, 15, -1,
            "state 7: Writing failed");
        row("log read refused", {"--fail-ack", "0x0F04"}, log, Nothing, 12, 15, -1,
            "refused to send its log (acknowledge code 7); nothing written");
        row("log never ends", {"--silent-after-frames", "90"}, log, Nothing, 11, 15, -1,
            "did not finish its log within 3 s");
    }

    void fault()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, host);
        QFETCH(int, action);
        QFETCH(int, exitCode);
        QFETCH(int, seconds);
        QFETCH(int, complete);
        QFETCH(QString, message);

        QTemporaryDir dir;
        const QString out = dir.filePath(host.first() == QLatin1String("log") ? "detector.log" : "run.h5");
        const QMap<QString, QString> files{{"@out", out},
                                           {"@image", dir.filePath("new.dravikfw")},
                                           {"@fastAlive", dir.filePath("alive.json")}};
        QVERIFY(writeFile(files["@image"], QByteArray(100000, 'F')));
        QVERIFY(writeFile(files["@fastAlive"], R"({"AliveTimout": 1000})"));
        for (QString &arg : host)
            arg = files.value(arg, arg);

        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        sim.captureErrorOutput();
        QVERIFY2(sim.start(simulator), qPrintable(sim.errorString()));
        QProcess run;
        run.setProcessEnvironment(HostProcess::cleanEnvironment());
        QElapsedTimer clock;
        clock.start();
        run.start(QStringLiteral(DRAVIK_HOST_PATH), host.mid(0, 1) + QStringList{"--plugin", DRAVIK_PLUGIN_PATH,
                                                                                 "--address", sim.address(), "--json"}
                                                        + host.mid(1));
        QVERIFY(run.waitForStarted(10000));
        QByteArray err;
        bool acted = action == Nothing;
        const QString count = host.value(host.indexOf("--count") + 1);
        const QByteArray when = QStringLiteral("measurement %1 of %1: running").arg(count).toUtf8();
        const bool ended = QTest::qWaitFor(
            [&] {
                err += run.readAllStandardError();
                if (!acted && err.contains(when)) {
                    acted = true;
                    const pid_t pid = pid_t(run.processId());
                    if (action == KillSimulator) {
                        sim.endWith(SIGKILL);
                    } else if (action == Interrupt) {
                        ::kill(pid, SIGTERM);
                    } else {
                        // Frozen until the detector had to drop frames it could not hand over.
                        ::kill(pid, SIGSTOP);
                        const bool lost =
                            QTest::qWaitFor([&] { return sim.errorOutput().contains("frame dropped"); }, 20000);
                        ::kill(pid, SIGCONT);
                        if (!lost)
                            return true;
                    }
                }
                return run.state() == QProcess::NotRunning;
            },
            (seconds + 10) * 1000);
        if (!ended)
            run.kill();
        run.waitForFinished(5000);
        err += run.readAllStandardError();
        QVERIFY2(ended && acted, err.constData());
        QVERIFY2(clock.elapsed() < seconds * 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == exitCode, err.constData());
        QVERIFY2(err.contains(message.toUtf8()), err.constData());

        // What is left: the recording with what was measured, or nothing.
        QStringList left = filesIn(dir.path());
        left.removeAll("new.dravikfw");
        left.removeAll("alive.json");
        QCOMPARE(left, complete < 0 ? QStringList() : QStringList{QFileInfo(out).fileName()});
        if (complete < 0 || host.first() != QLatin1String("measure"))
            return;
        RecordingReader reader(out);
        const QVariantMap root = reader.rootAttributes();
        QCOMPARE(root.value("complete").toInt(), exitCode == 0 ? 1 : 0);
        QCOMPARE(root.value("exit_code").toInt(), exitCode);
        int whole = 0;
        for (const QString &group : reader.groups())
            whole += reader.groupAttributes(group).value("complete").toInt();
        QCOMPARE(whole, complete);
        // The detector dropped frames (its log said so) while the host was stopped: the recording says so too.
        if (action == FreezeHost)
            QVERIFY(reader.groupAttributes(reader.groups().value(0)).value("host_stall_s").toDouble() >= 1.0);
        if (exitCode != 0 || action != Nothing)
            return;
        // Not only a file: the data is the simulator's 20 kV test voltage,
        // measured with the settings the device asked for.
        const QJsonObject json = QJsonDocument::fromJson(run.readAllStandardOutput()).object();
        const QJsonObject m = json.value("measurements").toArray().first().toObject();
        double peak = 0.0;
        for (const QJsonValue &c : m.value("channels").toArray())
            peak += c.toObject().value("id").toInt() == 1021 ? c.toObject().value("peak").toDouble() : 0.0;
        QVERIFY2(qAbs(peak - 20000.0) < 1000.0, qPrintable(QString::number(peak)));
    }
};

QTEST_GUILESS_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
