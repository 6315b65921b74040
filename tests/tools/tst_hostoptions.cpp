#include "ConnectionOptions.h"
#include "FirmwareCommand.h"
#include "HostQuery.h"
#include "MeasureOptions.h"
#include "OperationModeNames.h"
#include "SettingsFile.h"
#include "TestFiles.h"

#include <QCommandLineParser>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

// What dravik-host takes from its command line and files before it loads
// anything: the options the device commands share (each command's parser
// gets them added, then takes them back), measure's own options, the
// settings file, and the firmware command's exit codes and progress bar.
// Nothing connects here.
class tst_HostOptions : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static QStringList base() { return {"--address", "127.0.0.1:4000", "-o", "out.h5"}; }
    QString write(const QByteArray &text)
    {
        const QString path = m_dir.filePath(QStringLiteral("settings.json"));
        return writeFile(path, text) ? path : QString();
    }
    // The shared connection options taken from a command line.
    static bool take(const QStringList &args, ConnectionOptions *options, QString *error)
    {
        QCommandLineParser parser;
        ConnectionOptions::addTo(parser);
        return parser.parse(QStringList{"cmd"} + args) && options->take(parser, QStringLiteral("/default/plugin.so"), error);
    }

private Q_SLOTS:
    void connectionOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected"); // the address taken, or a part of the error
        const auto address = [](const char *text, bool allowRemote = false) {
            return QStringList{"--address", text} + (allowRemote ? QStringList{"--allow-remote"} : QStringList());
        };
        QTest::newRow("loopback") << address("127.0.0.1:4000") << true << "127.0.0.1:4000";
        QTest::newRow("elsewhere in 127/8") << address("127.45.3.9:1") << true << "127.45.3.9:1";
        QTest::newRow("localhost") << address("localhost:4000") << true << "localhost:4000";
        QTest::newRow("missing") << QStringList{} << false << "--address HOST:PORT is required";
        for (const char *remote : {"192.168.220.100:52922", "0.0.0.0:52922", "128.0.0.1:1", "127.1:1",
                                   "127.0.0.1.example.com:1", "detector.lan:10001"})
            QTest::addRow("remote %s", remote) << address(remote) << false << "needs --allow-remote";
        QTest::newRow("remote allowed") << address("192.168.220.100:10001", true) << true << "192.168.220.100:10001";
        // Malformed whether remote is allowed or not.
        for (const char *malformed : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:http"})
            QTest::addRow("malformed %s", malformed) << address(malformed, true) << false << "--address:";
        for (const char *v6 : {"[::1]:4000", "::1:4000"})
            QTest::addRow("IPv6 %s", v6) << address(v6, true) << false << "IPv4 only; give an IPv4 address";
        for (const char *timeout : {"0", "3601", "nan", "ten"})
            QTest::addRow("timeout %s", timeout) << (address("127.0.0.1:1") + QStringList{"--timeout", timeout}) << false
                                                 << QStringLiteral("'%1' is not a number of seconds above 0").arg(timeout);
    }
    void connectionOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        ConnectionOptions options;
        QString error;
        QCOMPARE(take(args, &options, &error), ok);
        if (ok) {
            QCOMPARE(options.address.toString(), expected);
            QCOMPARE(options.address.isLoopback(), !args.contains("--allow-remote"));
        } else {
            QVERIFY2(error.contains(expected), qPrintable(error));
        }
    }

    void connectionDefaultsAndFlags()
    {
        ConnectionOptions options;
        options.timeoutSeconds = 30;
        QString error;
        QVERIFY(take({"--address", "127.0.0.1:5", "--json", "--quiet", "--timeout", "2.5"}, &options, &error));
        QCOMPARE(options.pluginPath, QStringLiteral("/default/plugin.so"));
        QCOMPARE(options.timeoutSeconds, 2.5);
        QVERIFY(options.json && options.quiet && !options.verbose && !options.allowRemote);

        // A command's own default time-out stays when --timeout is not given
        // (--plugin over the default: fullMeasureCommandLine).
        ConnectionOptions other;
        other.timeoutSeconds = 30;
        QVERIFY(take({"--address", "127.0.0.1:5"}, &other, &error));
        QCOMPARE(other.timeoutSeconds, 30.0);
    }

    // The documented exit codes of the final firmware states; -1: not final.
    void exitCodeForState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("code");
        const int codes[] = {-1, -1, -1, 8, -1, -1, 0, 9, 10, -1};
        for (int state = -1; state <= 9; ++state)
            QTest::addRow("state %d", state) << state << (state < 0 ? -1 : codes[state]);
    }
    void exitCodeForState()
    {
        QFETCH(int, state);
        QFETCH(int, code);
        QCOMPARE(FirmwareCommand::exitCodeForState(state), code);
    }

    void progressBar_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("bar");
        QTest::newRow("0") << 0.0 << "[          ]   0%";
        QTest::newRow("half") << 0.5 << "[#####     ]  50%";
        QTest::newRow("just under 1") << 0.999 << "[#########.]  99%";
        QTest::newRow("1") << 1.0 << "[##########] 100%";
        // The transfer reports a little over 1 for some sizes.
        QTest::newRow("over 1") << 1.0866 << "[##########] 100%";
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << "[          ]   0%";
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "[##########] 100%";
    }
    void progressBar()
    {
        QFETCH(double, fraction);
        QFETCH(QString, bar);
        bar.replace(QLatin1Char('.'), QLatin1Char(' '));
        QCOMPARE(FirmwareCommand::progressBar(fraction, 10), bar);
    }

    void operationModeNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::newRow("number") << "3" << 3;
        QTest::newRow("short, other case") << "dac-" << 1;
        QTest::newRow("long with underscore") << "vlf_sinus" << 3;
        QTest::newRow("short with blank") << "CR Test" << 5;
        QTest::newRow("last") << "Pinpointing" << 11;
        QTest::newRow("withstand, DAC+") << "DAC+ Test" << 8;
        QTest::newRow("undefined is no test") << "-1" << -1;
        QTest::newRow("beyond the table") << "12" << -1;
        QTest::newRow("unknown") << "AC" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void operationModeNames()
    {
        QFETCH(QString, text);
        QFETCH(int, mode);
        int parsed = -1;
        QCOMPARE(OperationModeNames::parse(text, &parsed), mode >= 0);
        if (mode >= 0) {
            QCOMPARE(parsed, mode);
            for (const QString &name : {OperationModeNames::shortName(mode), OperationModeNames::longName(mode)}) {
                QVERIFY2(OperationModeNames::parse(name, &parsed), qPrintable(name));
                QCOMPARE(parsed, mode);
            }
        }
    }

    void refusedMeasureCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        // The address and time-out rules: connectionOptions.
        QTest::newRow("no output") << QStringList{"--address", "127.0.0.1:4000"} << "--output FILE is required";
        QTest::newRow("same address twice") << (base() + base().mid(0, 2)) << "given twice";
        QTest::newRow("four addresses")
            << (base() + QStringList{"--address", "127.0.0.2:1", "--address", "127.0.0.3:1", "--address", "127.0.0.4:1"})
            << "at most 3 detectors";
        QTest::newRow("unknown option") << (base() + QStringList{"--frobnicate"}) << "frobnicate";
        QTest::newRow("stray argument") << (base() + QStringList{"extra"}) << "unexpected argument 'extra'";
        QTest::newRow("count 0") << (base() + QStringList{"--count", "0"}) << "--count";
        QTest::newRow("negative duration") << (base() + QStringList{"--duration", "-1"}) << "--duration";
        QTest::newRow("duration 0") << (base() + QStringList{"--duration", "0"}) << "above 0 and at most 86400";
        QTest::newRow("measurement mode 3") << (base() + QStringList{"--measurement-mode", "3"}) << "--measurement-mode";
        QTest::newRow("unknown operation mode") << (base() + QStringList{"--operation-mode", "AC"}) << "unknown mode 'AC'";
        QTest::newRow("charge 0") << (base() + QStringList{"--charge", "0"}) << "--charge";
        QTest::newRow("max shots beyond 32 bits") << (base() + QStringList{"--max-shots", "4294967296"}) << "--max-shots";
        QTest::newRow("channels not numbers") << (base() + QStringList{"--channels", "1021,tv"}) << "'tv'";
    }
    void refusedMeasureCommandLines()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        MeasureOptions options;
        QCOMPARE(options.parse(args, QString()), MeasureOptions::Outcome::Error);
        QVERIFY2(options.errorString().contains(message), qPrintable(options.errorString()));
    }

    void fullMeasureCommandLine()
    {
        MeasureOptions options;
        const QStringList args{"--address", "localhost:4000", "--plugin", "/p/libdravik_v2.so",
                               "--operation-mode", "VLF Sinus", "--measurement-mode", "1", "--charge", "2e-9",
                               "--hv-source", "1", "--charge-to-voltage", "1.5e9", "--calibration", "0.9",
                               "--max-shots", "0x10", "--count", "100000", "--duration", "0.25", "--channels",
                               "1021, 1001", "--timeout", "4", "--output", "run.h5", "--json", "--simulated"};
        QCOMPARE(options.parse(args, "/default"), MeasureOptions::Outcome::Run);
        QCOMPARE(options.address.toString(), "localhost:4000");
        QCOMPARE(options.pluginPath, "/p/libdravik_v2.so");
        QCOMPARE(options.operationMode, 3);
        QCOMPARE(options.measurementMode, 1);
        QCOMPARE(options.charge.toDouble(), 2e-9);
        QCOMPARE(options.hvSourceType.toInt(), 1);
        QCOMPARE(options.chargeToVoltageFactor.toDouble(), 1.5e9);
        QCOMPARE(options.calibrationFactor.toDouble(), 0.9);
        QCOMPARE(options.maximumShots, 16u);
        QCOMPARE(options.count, 100000);
        QCOMPARE(options.durationSeconds, 0.25);
        QCOMPARE(options.channels, (QSet<int>{1021, 1001}));
        QCOMPARE(options.timeoutSeconds, 4.0);
        QCOMPARE(options.outputPath, "run.h5");
        QVERIFY(options.json && options.simulated && !options.quiet && !options.overwrite);

        MeasureOptions defaults;
        QCOMPARE(defaults.parse(base(), "/default"), MeasureOptions::Outcome::Run);
        QCOMPARE(defaults.pluginPath, "/default");
        QVERIFY(!defaults.charge.isValid() && !defaults.hvSourceType.isValid());
        QVERIFY(!defaults.chargeToVoltageFactor.isValid() && !defaults.calibrationFactor.isValid());
        QVERIFY(defaults.operationMode == 0 && defaults.measurementMode == 0);
        QCOMPARE(defaults.maximumShots, 4294967295u);
    }

    void helpWinsOverEverythingElse()
    {
        MeasureOptions options;
        QCOMPARE(options.parse({"--help"}, QString()), MeasureOptions::Outcome::Help);
        QCOMPARE(options.parse({"--address", "192.168.220.100:52922", "-h"}, QString()), MeasureOptions::Outcome::Help);
    }

    void queryAnswersWhereTheDeviceAsks()
    {
        HostQuery query(1, 500);
        query.set(AbstractQueryObject::KeyOperationMode, 3);
        query.set(AbstractQueryObject::KeyChargeCalibrationFactor, 0.9, -1, 1018);
        query.set(AbstractQueryObject::KeyNominalCharge, QVariant());
        QCOMPARE(query.measurementMode(), 1);
        QCOMPARE(query.maximumShots(), 500u);

        QVariant v;
        QVERIFY(query.query(AbstractQueryObject::KeyOperationMode, v, -1, -1));
        QCOMPARE(v.toInt(), 3);
        QVERIFY(query.query(AbstractQueryObject::KeyChargeCalibrationFactor, v, -1, 1018));
        QCOMPARE(v.toDouble(), 0.9);
        QVERIFY(!query.query(AbstractQueryObject::KeyChargeCalibrationFactor, v, -1, -1));
        QVERIFY(!v.isValid());
        QVERIFY(!query.query(AbstractQueryObject::KeyNominalCharge, v));
        QVERIFY(!query.query(AbstractQueryObject::KeyHvSourceType, v));

        const QVariantMap described = query.describe();
        QCOMPARE(described.value("operation_mode_name").toString(), "VLF Sinus");
        QCOMPARE(described.value("charge_calibration_factor").toDouble(), 0.9);
        QVERIFY(!described.contains("nominal_charge_c"));
    }

    void settingsFileAcceptsEveryKnownKey()
    {
        SettingsFile settings;
        const QString path = write(R"({
            "NetworkAddress": "127.0.0.1:52922", "AliveTimout": 2000, "HoldTimeDG0": 200000,
            "SystemGatingLevel": 0.2, "SystemGatingHoldTime": 20000, "PdLogFile": "/tmp/pd.log",
            "MaxShotsVLFSinLocalization": 12, "ServiceMode": true, "ProductionMode": false, "DevelopMode": false,
            "GatingTime": 0.0005, "TVAmplitudeThreshold": 15000, "NoPostAquisitionCut": 0,
            "NoAdaptiveGain": true, "NoBinaryChannels": 0 })");
        QVERIFY2(settings.load(path), qPrintable(settings.errorString()));
        const QVariantHash v = settings.values();
        QCOMPARE(v.size(), SettingsFile::deviceKeys().size() + SettingsFile::postProcessingKeys().size());
        QCOMPARE(v.value("HoldTimeDG0").userType(), int(QMetaType::LongLong));
        QCOMPARE(v.value("HoldTimeDG0").toString(), "200000");
        QCOMPARE(v.value("SystemGatingLevel").userType(), int(QMetaType::Double));
        QCOMPARE(v.value("ServiceMode").userType(), int(QMetaType::Bool));
        QCOMPARE(v.value("NoAdaptiveGain").toInt(), 1);
        QCOMPARE(v.value("GatingTime").toDouble(), 0.0005);
    }

    void settingsFileRefusesWhatWouldBeIgnored_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("misspelt key") << QByteArray(R"({"AliveTimeout": 1000})") << "did you mean \"AliveTimout\"";
        QTest::newRow("unknown key") << QByteArray(R"({"Baudrate": 9600})") << "unknown key \"Baudrate\"";
        QTest::newRow("number as text") << QByteArray(R"({"HoldTimeDG0": "200000"})") << "must be a number";
        QTest::newRow("flag as number") << QByteArray(R"({"DevelopMode": 1})") << "true or false";
        // The plug-in would take another interval than the one recorded.
        QTest::newRow("alive -5") << QByteArray(R"({"AliveTimout": -5})") << "from 1000 to 10000, not -5";
        QTest::newRow("alive 1e12") << QByteArray(R"({"AliveTimout": 1e12})") << "from 1000 to 10000, not 1e+12";
        QTest::newRow("not an object") << QByteArray("[1, 2]") << "one JSON object";
        QTest::newRow("not JSON") << QByteArray("AliveTimout=1000") << "not JSON";
        QTest::newRow("missing file") << QByteArray() << "absent.json";
    }
    void settingsFileRefusesWhatWouldBeIgnored()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        SettingsFile settings;
        QVERIFY(!settings.load(text.isNull() ? m_dir.filePath("absent.json") : write(text)));
        QVERIFY2(settings.errorString().contains(message), qPrintable(settings.errorString()));
        QVERIFY(settings.values().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_HostOptions)
#include "tst_hostoptions.moc"
