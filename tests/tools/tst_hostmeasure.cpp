#include "HostProcess.h"
#include "RecordingReader.h"
#include "SimProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// dravik-host measure as the test engineer runs it: the simulator and the host
// as separate processes on loopback, the recording read back with the HDF5
// library. Every process wait is bounded; no test sleeps.
class tst_HostMeasure : public QObject
{
    Q_OBJECT

private:
    using Result = HostProcess::Result;

    static QProcessEnvironment cleanEnvironment() { return HostProcess::cleanEnvironment(); }

    static Result runHost(const QStringList &args, int timeoutMs = 60000)
    {
        return HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH), args, timeoutMs);
    }

    static QStringList measure(const QString &address, const QString &output)
    {
        return {QStringLiteral("measure"), QStringLiteral("--plugin"), QStringLiteral(DRAVIK_PLUGIN_PATH),
                QStringLiteral("--address"), address, QStringLiteral("--output"), output,
                QStringLiteral("--simulated")};
    }

    // Files the run left next to its output: the recording or nothing, never
    // a temporary file.
    static QStringList leftovers(const QTemporaryDir &dir)
    {
        QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        files.removeAll(QStringLiteral("settings.json"));
        return files;
    }

    static QString writeSettings(const QTemporaryDir &dir, const QByteArray &json)
    {
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(json);
        return path;
    }

private Q_SLOTS:
    void recordsEachRun_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("host");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("channels");

        // Binary channels are let through ("NoBinaryChannels": 0) so that
        // both sample types are checked; the big muxer channel is left out
        // of the damped AC file to keep it small. A shot comes every second
        // and its record is complete half a second later, so 1.6 s of
        // running always holds one.
        QTest::newRow("damped AC, two measurements")
            << QStringList{"--scenario", "dac"}
            << QStringList{"--operation-mode", "DAC+", "--duration", "1.6", "--channels", "1018,1021,1028"} << 2
            << QList<int>{1018, 1021, 1028};
        QTest::newRow("VLF sine")
            << QStringList{"--scenario", "vlf", "--time-scale", "10"}
            << QStringList{"--operation-mode", "VLF Sinus", "--duration", "4", "--channels", "1018,1021"} << 1
            << QList<int>{1018, 1021};
        QTest::newRow("PD pulses")
            << QStringList{"--scenario", "dac"}
            << QStringList{"--measurement-mode", "1", "--charge", "1e-9", "--duration", "2.5", "--channels",
                           "1001,1021"}
            << 1 << QList<int>{1001, 1021};
    }
    void recordsEachRun()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, host);
        QFETCH(int, count);
        QFETCH(QList<int>, channels);

        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start(simulator), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString output = dir.filePath(QStringLiteral("run.h5"));
        const QString settings = writeSettings(dir, R"({"NoBinaryChannels": 0, "AliveTimout": 2000})");
        const Result r = runHost(measure(sim.address(), output) + host
                                 + QStringList{"--count", QString::number(count), "--settings", settings, "--json"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(leftovers(dir), QStringList{QStringLiteral("run.h5")});

        // The JSON summary agrees with the file.
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(json.value(QStringLiteral("exit_code")).toInt(), 0);
        QVERIFY(json.value(QStringLiteral("file_written")).toBool());

        RecordingReader reader(output);
        QVERIFY(reader.isOpen());
        const QVariantMap root = reader.rootAttributes();
        const QStringList documented{
            "format", "format_version", "created_utc", "host_version", "complete", "plugin_file", "plugin_name",
            "plugin_version", "plugin_uuid", "device_serial", "device_firmware_version", "device_software_version",
            "device_hardware_version", "device_protocol_version", "device_product_number", "device_descriptor", "device_type",
            "test_voltage_calibration", "address", "simulated", "settings", "device_settings", "environment",
            "operation_mode", "operation_mode_name", "measurement_mode", "measurement_count", "duration_s",
            "post_processing_parameters", "frequency_hz", "test_voltage_v", "attenuation_per_s",
            "charge_to_voltage_factor_v_per_c", "overflow"};
        for (const QString &key : documented)
            QVERIFY2(root.contains(key), qPrintable(key));
        QCOMPARE(root.value("format").toString(), QStringLiteral("dravik-host recording"));
        QCOMPARE(root.value("complete").toInt(), 1);
        QCOMPARE(root.value("simulated").toInt(), 1);
        QCOMPARE(root.value("plugin_version").toString(), QStringLiteral("4.0.0"));
        // The simulator's identity (docs/SIMULATOR.md).
        QCOMPARE(root.value("device_serial").toString(), QStringLiteral("100042"));
        QCOMPARE(root.value("device_firmware_version").toString(), QStringLiteral("23"));
        QCOMPARE(root.value("device_software_version").toString(), QStringLiteral("11"));
        QCOMPARE(root.value("device_hardware_version").toString(), QStringLiteral("3"));
        QCOMPARE(root.value("device_protocol_version").toString(), QStringLiteral("2"));
        QCOMPARE(root.value("test_voltage_calibration").toDouble(), 2640.0);
        QCOMPARE(root.value("address").toString(), sim.address());
        QCOMPARE(root.value("measurement_count").toInt(), count);
        const QJsonObject applied = QJsonDocument::fromJson(root.value("settings").toString().toUtf8()).object();
        QCOMPARE(applied.value("NetworkAddress").toString(), sim.address());
        QCOMPARE(applied.value("NoBinaryChannels").toInt(), 0);
        const QJsonObject deviceSettings =
            QJsonDocument::fromJson(root.value("device_settings").toString().toUtf8()).object();
        QCOMPARE(deviceSettings.value("NetworkAddress").toString(), sim.address());
        QVERIFY(root.value("environment").toString().contains(QStringLiteral("\"operation_mode\"")));

        QCOMPARE(reader.groups().size(), count);
        const QHash<int, QPair<QString, double>> expected{
            {1001, {"float32", 125e6}}, {1018, {"float32", 200000.0}}, {1021, {"float32", 100000.0}},
            {1028, {"uint8", 200000.0}}};
        for (const QString &group : reader.groups()) {
            const QVariantMap g = reader.groupAttributes(group);
            QCOMPARE(g.value("stop_status").toInt(), 0);
            QCOMPARE(g.value("drained").toInt(), 1);
            QVERIFY(g.value("run_s").toDouble() > 0.5);
            const QStringList sets = reader.datasets(group);
            QCOMPARE(g.value("chunk_count").toInt(), sets.size());
            QSet<int> seen;
            for (const QString &name : sets) {
                const RecordingReader::Dataset d = reader.dataset(group, name);
                const int channel = d.attributes.value("channel_id").toInt();
                QVERIFY2(channels.contains(channel), qPrintable(QString::number(channel)));
                seen.insert(channel);
                QCOMPARE(d.type, expected.value(channel).first);
                QCOMPARE(d.attributes.value("data_type_name").toString(), d.type);
                QCOMPARE(d.attributes.value("data_type").toInt(), d.type == QLatin1String("float32") ? 2 : 6);
                QCOMPARE(d.attributes.value("sample_rate").toDouble(), expected.value(channel).second);
                QVERIFY(!d.attributes.value("channel_name").toString().isEmpty());
                QVERIFY(std::isfinite(d.attributes.value("start_time").toDouble()));
                QVERIFY(d.attributes.contains("trigger_time"));
                QVERIFY(d.attributes.contains("unit"));
                QVERIFY(d.elements > 0);
                if (channel == 1021)
                    QCOMPARE(d.attributes.value("unit").toString(), QStringLiteral("V"));
            }
            QVERIFY2(seen == QSet<int>(channels.begin(), channels.end()),
                     qPrintable(QStringLiteral("%1: %2 datasets").arg(group).arg(sets.size())));
        }
    }

    // Needs the post-processing device, which measures the test voltage.
    void measuredFrequency_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("host");
        QTest::addColumn<double>("truth");
        QTest::newRow("damped AC, 50 Hz") << QStringList{"--scenario", "dac"}
                                          << QStringList{"--operation-mode", "DAC+", "--duration", "1.6"} << 50.0;
        QTest::newRow("VLF sine, 0.1 Hz") << QStringList{"--scenario", "vlf", "--time-scale", "10"}
                                          << QStringList{"--operation-mode", "VLF Sinus", "--duration", "4"} << 0.1;
    }
    void measuredFrequency()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, host);
        QFETCH(double, truth);

        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start(simulator), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString output = dir.filePath(QStringLiteral("run.h5"));
        const Result r = runHost(measure(sim.address(), output) + host + QStringList{"--channels", "1021"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        RecordingReader reader(output);
        const QVariantMap root = reader.rootAttributes();
        if (root.value("post_processing_parameters").toInt() == 0)
            QSKIP("the device offers no test voltage frequency (parameter 2013): the plug-in does not hand out "
                  "its post-processing device yet");
        const double measured = root.value("frequency_hz").toDouble();
        QVERIFY2(std::abs(measured - truth) <= 0.005 * truth,
                 qPrintable(QStringLiteral("measured %1 Hz, true %2 Hz").arg(measured).arg(truth)));
    }

    // The link goes down under a running measurement: the documented exit
    // code, and no file (an older one stays as it was).
    void linkLostMidMeasurement_data()
    {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<bool>("olderFile");
        QTest::newRow("dropped when running") << QStringList{"--drop-in-state", "3"} << false;
        QTest::newRow("dropped when running, older file there") << QStringList{"--drop-in-state", "3"} << true;
        QTest::newRow("dropped when stopping") << QStringList{"--drop-in-state", "8"} << false;
    }
    void linkLostMidMeasurement()
    {
        QFETCH(QStringList, fault);
        QFETCH(bool, olderFile);

        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start(QStringList{"--scenario", "dac"} + fault), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString output = dir.filePath(QStringLiteral("run.h5"));
        if (olderFile) {
            QFile old(output);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an older recording");
        }
        const Result r = runHost(measure(sim.address(), output)
                                 + QStringList{"--duration", "0.5", "--count", "2", "--channels", "1021", "--overwrite", "--json"});
        QCOMPARE(r.exitCode, 6);
        QVERIFY2(r.err.contains(QStringLiteral("the link to the detector was lost")), qPrintable(r.err));
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(json.value("exit_code").toInt(), 6);
        QVERIFY(!json.value("file_written").toBool());
        QVERIFY(json.value("error").toString().contains(QStringLiteral("link")));
        if (olderFile) {
            QCOMPARE(leftovers(dir), QStringList{QStringLiteral("run.h5")});
            QFile old(output);
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("an older recording"));
        } else {
            QCOMPARE(leftovers(dir), QStringList());
        }
    }

    void detectorRejected_data()
    {
        QTest::addColumn<QStringList>("identity");
        QTest::addColumn<QString>("message");
        QTest::newRow("firmware 22") << QStringList{"--firmware-version", "22"} << "firmware not supported";
        QTest::newRow("software 10") << QStringList{"--software-version", "10"} << "software not supported";
        QTest::newRow("protocol 1") << QStringList{"--protocol-version", "1"} << "protocol not supported";
    }
    void detectorRejected()
    {
        QFETCH(QStringList, identity);
        QFETCH(QString, message);
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start(identity), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const Result r = runHost(measure(sim.address(), dir.filePath(QStringLiteral("run.h5"))));
        QCOMPARE(r.exitCode, 5);
        // The device's notification is shown with its severity.
        QVERIFY2(r.err.contains(QStringLiteral("device error: ")), qPrintable(r.err));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(leftovers(dir), QStringList());
    }

    void nothingListening()
    {
        // A port that was free a moment ago: the connection is refused.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        server.close();
        QTemporaryDir dir;
        const Result r = runHost(measure(address, dir.filePath(QStringLiteral("run.h5"))) + QStringList{"--timeout", "3"});
        QCOMPARE(r.exitCode, 4);
        QVERIFY2(r.err.contains(address), qPrintable(r.err));
        QCOMPARE(leftovers(dir), QStringList());
    }

    // A remote address is refused before anything is loaded: the plug-in path
    // points nowhere, so even a broken guard could not connect.
    void remoteAddressRefused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("factory address") << "192.168.220.100:52922";
        QTest::newRow("documentation network") << "192.0.2.1:52922";
        QTest::newRow("host name") << "detector:52922";
    }
    void remoteAddressRefused()
    {
        QFETCH(QString, address);
        QTemporaryDir dir;
        const Result r = runHost({"measure", "--plugin", dir.filePath("absent.so"), "--address", address, "-o",
                                  dir.filePath("run.h5")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("--allow-remote")), qPrintable(r.err));
        QCOMPARE(leftovers(dir), QStringList());
    }

    void interruptedRunLeavesNoFile()
    {
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start({"--scenario", "dac"}), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        QProcess host;
        host.setProcessEnvironment(cleanEnvironment());
        host.start(QStringLiteral(DRAVIK_HOST_PATH),
                   measure(sim.address(), dir.filePath(QStringLiteral("run.h5")))
                       + QStringList{"--duration", "60", "--channels", "1021"});
        QVERIFY(host.waitForStarted(10000));
        QByteArray err;
        QVERIFY(QTest::qWaitFor(
            [&] {
                host.waitForReadyRead(100);
                err += host.readAllStandardError();
                return err.contains("measurement 1 of 1: running") || host.state() != QProcess::Running;
            },
            20000));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral(".run.h5.%1.partial").arg(host.processId()))));
        host.terminate();
        QVERIFY(host.waitForFinished(20000));
        err += host.readAllStandardError();
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.exitCode(), 130);
        QVERIFY2(err.contains("interrupted"), err.constData());
        QCOMPARE(leftovers(dir), QStringList());
    }

    void helpTexts_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("mentions");
        const QStringList codes{"Exit codes:", "  4  could not connect", "  5  the detector was rejected",
                                "  6  a measurement failed", "--allow-remote", "--settings FILE", "DAC+"};
        QTest::newRow("tool") << QStringList{"--help"} << "usage: dravik-host COMMAND" << QStringList{"info", "measure"};
        QTest::newRow("measure --help") << QStringList{"measure", "--help"} << "usage: dravik-host measure" << codes;
        QTest::newRow("help measure") << QStringList{"help", "measure"} << "usage: dravik-host measure" << codes;
        QTest::newRow("info --help") << QStringList{"info", "--help"} << "usage: dravik-host info"
                                     << QStringList{"Exit codes"};
    }
    void helpTexts()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, first);
        QFETCH(QStringList, mentions);
        const Result r = runHost(args, 10000);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        QVERIFY2(r.out.startsWith(first), qPrintable(r.out));
        for (const QString &text : mentions)
            QVERIFY2(r.out.contains(text), qPrintable(text));
        // Fits a terminal.
        for (const QString &line : r.out.split(QLatin1Char('\n')))
            QVERIFY2(line.size() <= 80, qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(tst_HostMeasure)
#include "tst_hostmeasure.moc"
