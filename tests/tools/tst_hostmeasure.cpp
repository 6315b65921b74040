#include "HostProcess.h"
#include "RecordingReader.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// dravik-host measure as the test engineer runs it: the simulator and the host
// as separate processes on loopback, the recording read back with the HDF5
// library. Every process wait is bounded; no test sleeps. Command lines that
// end before a detector answers are in tst_hostcommandline, runs that fail
// in tst_faultmatrix.
class tst_HostMeasure : public QObject
{
    Q_OBJECT

private:
    static QStringList measure(const QString &address, const QString &output)
    {
        return {"measure", "--plugin", DRAVIK_PLUGIN_PATH, "--address", address, "--output", output, "--simulated"};
    }

    static HostProcess::Result runHost(const QStringList &args)
    {
        return HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH), args);
    }

private Q_SLOTS:
    void recordsEachRun_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("host");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("channels");
        QTest::addColumn<double>("frequency"); // the scenario's true test voltage frequency, 0: none

        // Binary channels are let through ("NoBinaryChannels": 0) so that
        // both sample types are checked; the big muxer channel is left out
        // of the damped AC file to keep it small. A shot comes every second
        // and its record is complete half a second later, so 1.6 s of
        // running always holds one.
        QTest::newRow("damped AC, two measurements")
            << QStringList{"--scenario", "dac"}
            << QStringList{"--operation-mode", "DAC+", "--duration", "1.6", "--channels", "1018,1021,1028"} << 2
            << QList<int>{1018, 1021, 1028} << 50.0;
        QTest::newRow("VLF sine")
            << QStringList{"--scenario", "vlf", "--time-scale", "10"}
            << QStringList{"--operation-mode", "VLF Sinus", "--duration", "4", "--channels", "1018,1021"} << 1
            << QList<int>{1018, 1021} << 0.1;
        QTest::newRow("PD pulses")
            << QStringList{"--scenario", "dac"}
            << QStringList{"--measurement-mode", "1", "--charge", "1e-9", "--duration", "2.5", "--channels", "1001,1021"}
            << 1 << QList<int>{1001, 1021} << 0.0;
    }
    void recordsEachRun()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, host);
        QFETCH(int, count);
        QFETCH(QList<int>, channels);
        QFETCH(double, frequency);

        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start(simulator), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString output = dir.filePath(QStringLiteral("run.h5"));
        const QString settings = dir.filePath(QStringLiteral("settings.json"));
        QVERIFY(writeFile(settings, R"({"NoBinaryChannels": 0, "AliveTimout": 2000})"));
        const HostProcess::Result r = runHost(measure(sim.address(), output) + host
                                              + QStringList{"--count", QString::number(count), "--settings",
                                                            settings, "--json"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        // The recording next to the settings, never a temporary file.
        QCOMPARE(filesIn(dir.path()), QStringList({QStringLiteral("run.h5"), QStringLiteral("settings.json")}));
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(json.value(QStringLiteral("exit_code")).toInt(), 0);
        QVERIFY(json.value(QStringLiteral("file_written")).toBool());

        RecordingReader reader(output);
        QVERIFY(reader.isOpen());
        const QVariantMap root = reader.rootAttributes();
        // The documented attributes whose values are not compared below.
        for (const char *key : {"format_version", "created_utc", "host_version", "plugin_file", "plugin_name", "plugin_uuid",
                                "device_product_number", "device_descriptor", "device_type", "operation_mode",
                                "operation_mode_name", "measurement_mode", "duration_s", "frequency_hz", "test_voltage_v",
                                "attenuation_per_s", "charge_to_voltage_factor_v_per_c", "overflow"})
            QVERIFY2(root.contains(QLatin1String(key)), key);
        // The simulator's identity (docs/SIMULATOR.md) and what the run was asked.
        const QVariantMap expected{
            {"format", "dravik-host recording"}, {"complete", 1}, {"simulated", 1}, {"plugin_version", "4.0.0"},
            {"device_serial", "100042"}, {"device_firmware_version", "23"}, {"device_software_version", "11"},
            {"device_hardware_version", "3"}, {"device_protocol_version", "2"}, {"test_voltage_calibration", 2640},
            {"address", sim.address()}, {"measurement_count", count}, {"post_processing_parameters", 1}};
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QVERIFY2(root.value(it.key()).toString() == it.value().toString(),
                     qPrintable(it.key() + QLatin1String(": ") + root.value(it.key()).toString()));
        const auto object = [&](const char *key) {
            return QJsonDocument::fromJson(root.value(QLatin1String(key)).toString().toUtf8()).object();
        };
        QCOMPARE(object("settings").value("NetworkAddress").toString(), sim.address());
        QCOMPARE(object("settings").value("NoBinaryChannels").toInt(), 0);
        QCOMPARE(object("device_settings").value("NetworkAddress").toString(), sim.address());
        QVERIFY(object("environment").contains(QStringLiteral("operation_mode")));
        if (frequency > 0) {
            const double measured = root.value("frequency_hz").toDouble();
            QVERIFY2(std::abs(measured - frequency) <= 0.005 * frequency,
                     qPrintable(QStringLiteral("measured %1 Hz, true %2 Hz").arg(measured).arg(frequency)));
        }

        QCOMPARE(reader.groups().size(), count);
        const QHash<int, QPair<QString, double>> types{{1001, {"float32", 125e6}}, {1018, {"float32", 200000.0}},
                                                       {1021, {"float32", 100000.0}}, {1028, {"uint8", 200000.0}}};
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
                // The device's description of the channel; the layout is tst_hdf5recorder's.
                QCOMPARE(d.type, types.value(channel).first);
                QCOMPARE(d.attributes.value("sample_rate").toDouble(), types.value(channel).second);
                QVERIFY(!d.attributes.value("channel_name").toString().isEmpty());
                QVERIFY(std::isfinite(d.attributes.value("start_time").toDouble()));
                QVERIFY(d.elements > 0);
                if (channel == 1021)
                    QCOMPARE(d.attributes.value("unit").toString(), QStringLiteral("V"));
            }
            QVERIFY2(seen == QSet<int>(channels.begin(), channels.end()),
                     qPrintable(QStringLiteral("%1: %2 datasets").arg(group).arg(sets.size())));
        }
    }

    // Three phases at once: one file, a group per detector with its identity.
    // A detector lost at the stop ends the run for all and keeps the file.
    void recordsSeveralDetectors_data()
    {
        QTest::addColumn<QStringList>("fault"); // for the second simulator
        QTest::addColumn<int>("exitCode");
        QTest::newRow("three detectors") << QStringList() << 0;
        QTest::newRow("second detector lost at the stop") << QStringList{"--drop-in-state", "8"} << 6;
    }
    void recordsSeveralDetectors()
    {
        QFETCH(QStringList, fault);
        QFETCH(int, exitCode);

        SimProcess sims[3]{SimProcess(DRAVIK_SIM_PATH), SimProcess(DRAVIK_SIM_PATH), SimProcess(DRAVIK_SIM_PATH)};
        QStringList host{"measure", "--plugin", DRAVIK_PLUGIN_PATH, "--simulated", "--duration", "1.6",
                         "--channels", "1021"};
        for (int d = 0; d < 3; ++d) {
            QVERIFY2(sims[d].start(QStringList{"--serial", QString::number(500001 + d)} + (d == 1 ? fault : QStringList())),
                     qPrintable(sims[d].errorString()));
            host << "--address" << sims[d].address();
        }
        QTemporaryDir dir;
        const QString output = dir.filePath(QStringLiteral("phases.h5"));
        const HostProcess::Result r = runHost(host + QStringList{"--output", output});
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("phases.h5")});
        if (exitCode != 0)
            QVERIFY2(r.err.contains(QStringLiteral("detector 2 (%1): the link to the detector was lost").arg(sims[1].address())),
                     qPrintable(r.err));

        RecordingReader reader(output);
        QVERIFY(reader.isOpen());
        const QVariantMap root = reader.rootAttributes();
        QCOMPARE(root.value("complete").toInt(), exitCode == 0 ? 1 : 0);
        QCOMPARE(root.value("exit_code").toInt(), exitCode);
        QCOMPARE(root.value("detector_count").toInt(), 3);
        QCOMPARE(reader.groups(), (QStringList{"detector_1", "detector_2", "detector_3"}));
        for (int d = 0; d < 3; ++d) {
            const QString group = QStringLiteral("detector_%1").arg(d + 1);
            const QVariantMap g = reader.groupAttributes(group);
            QCOMPARE(g.value("device_serial").toString(), QString::number(500001 + d));
            QCOMPARE(g.value("address").toString(), sims[d].address());
            QCOMPARE(reader.groups(group), QStringList{"measurement_001"});
            const QString measurement = group + QStringLiteral("/measurement_001");
            QCOMPARE(reader.groupAttributes(measurement).value("complete").toInt(), exitCode == 0 ? 1 : 0);
            // A whole run records each detector's test voltage record.
            if (exitCode == 0)
                QVERIFY(!reader.datasets(measurement).isEmpty());
        }
        // The report reads one detector as a recording of its own.
        RecordingReader second(output);
        QVERIFY(second.selectDetector(2) && !second.selectDetector(4));
        QCOMPARE(second.rootAttributes().value("device_serial").toString(), QStringLiteral("500002"));
        QCOMPARE(second.groups(), QStringList{"measurement_001"});
    }
};

QTEST_GUILESS_MAIN(tst_HostMeasure)
#include "tst_hostmeasure.moc"
