#include "ConnectionAddress.h"
#include "HostQuery.h"
#include "MeasureOptions.h"
#include "OperationModeNames.h"

#include <QtTest>

class tst_MeasureOptions : public QObject
{
    Q_OBJECT

private:
    static QStringList base() { return {QStringLiteral("--address"), QStringLiteral("127.0.0.1:4000"), QStringLiteral("-o"), QStringLiteral("out.h5")}; }

private Q_SLOTS:
    void loopbackGuard_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("127.0.0.1") << "127.0.0.1:52922" << true;
        QTest::newRow("elsewhere in 127/8") << "127.45.3.9:1" << true;
        QTest::newRow("localhost") << "localhost:1" << true;
        QTest::newRow("factory address") << "192.168.220.100:52922" << false;
        QTest::newRow("any address") << "0.0.0.0:52922" << false;
        QTest::newRow("128.0.0.1") << "128.0.0.1:1" << false;
        QTest::newRow("short form") << "127.1:1" << false;
        QTest::newRow("a name that starts like loopback") << "127.0.0.1.example.com:1" << false;
    }
    void loopbackGuard()
    {
        QFETCH(QString, address);
        QFETCH(bool, loopback);

        MeasureOptions refused;
        const QStringList args{QStringLiteral("--address"), address, QStringLiteral("-o"), QStringLiteral("x.h5")};
        QCOMPARE(refused.parse(args, QString()) == MeasureOptions::Outcome::Run, loopback);
        if (!loopback)
            QVERIFY2(refused.errorString().contains(QStringLiteral("--allow-remote")), qPrintable(refused.errorString()));

        MeasureOptions allowed;
        QCOMPARE(allowed.parse(args + QStringList{QStringLiteral("--allow-remote")}, QString()),
                 MeasureOptions::Outcome::Run);
        QCOMPARE(allowed.address.isLoopback(), loopback);
    }

    void malformedAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("no port") << "127.0.0.1";
        QTest::newRow("port 0") << "127.0.0.1:0";
        QTest::newRow("port too big") << "127.0.0.1:65536";
        QTest::newRow("port not a number") << "127.0.0.1:http";
        QTest::newRow("IPv6 loopback") << "[::1]:4000";
        QTest::newRow("bare IPv6") << "::1:4000";
    }
    void malformedAddress()
    {
        QFETCH(QString, address);
        ConnectionAddress parsed;
        QString error;
        QVERIFY(!ConnectionAddress::parse(address, &parsed, &error));
        QVERIFY(!error.isEmpty());
        MeasureOptions options;
        QCOMPARE(options.parse({QStringLiteral("--address"), address, QStringLiteral("--allow-remote"),
                                QStringLiteral("-o"), QStringLiteral("x.h5")},
                               QString()),
                 MeasureOptions::Outcome::Error);
    }

    void operationModeNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::newRow("number") << "3" << 3;
        QTest::newRow("short") << "DAC+" << 0;
        QTest::newRow("short, other case") << "dac-" << 1;
        QTest::newRow("long with underscore") << "vlf_sinus" << 3;
        QTest::newRow("short with blank") << "CR Test" << 5;
        QTest::newRow("last") << "Pinpointing" << 11;
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
            int again = -1;
            QVERIFY(OperationModeNames::parse(OperationModeNames::shortName(mode), &again));
            QCOMPARE(again, mode);
            QVERIFY(OperationModeNames::parse(OperationModeNames::longName(mode), &again));
            QCOMPARE(again, mode);
        }
    }

    void refusedCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString address = QStringLiteral("127.0.0.1:4000");
        QTest::newRow("no address") << QStringList{"-o", "x.h5"} << "--address HOST:PORT is required";
        QTest::newRow("no output") << QStringList{"--address", address} << "--output FILE is required";
        QTest::newRow("address twice") << (base() + QStringList{"--address", "127.0.0.2:1"}) << "more than once";
        QTest::newRow("unknown option") << (base() + QStringList{"--frobnicate"}) << "frobnicate";
        QTest::newRow("stray argument") << (base() + QStringList{"extra"}) << "unexpected argument 'extra'";
        QTest::newRow("count 0") << (base() + QStringList{"--count", "0"}) << "--count";
        QTest::newRow("negative duration") << (base() + QStringList{"--duration", "-1"}) << "--duration";
        QTest::newRow("timeout 0") << (base() + QStringList{"--timeout", "0"}) << "--timeout";
        QTest::newRow("measurement mode 3") << (base() + QStringList{"--measurement-mode", "3"}) << "--measurement-mode";
        QTest::newRow("unknown operation mode") << (base() + QStringList{"--operation-mode", "AC"}) << "unknown mode 'AC'";
        QTest::newRow("charge 0") << (base() + QStringList{"--charge", "0"}) << "--charge";
        QTest::newRow("max shots beyond 32 bits") << (base() + QStringList{"--max-shots", "4294967296"}) << "--max-shots";
        QTest::newRow("channels not numbers") << (base() + QStringList{"--channels", "1021,tv"}) << "'tv'";
    }
    void refusedCommandLines()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        MeasureOptions options;
        QCOMPARE(options.parse(args, QString()), MeasureOptions::Outcome::Error);
        QVERIFY2(options.errorString().contains(message), qPrintable(options.errorString()));
    }

    void fullCommandLine()
    {
        MeasureOptions options;
        const QStringList args{"--address", "localhost:4000", "--plugin", "/p/libdravik_v2.so",
                               "--operation-mode", "VLF Sinus", "--measurement-mode", "1", "--charge", "2e-9",
                               "--hv-source", "1", "--charge-to-voltage", "1.5e9", "--calibration", "0.9",
                               "--max-shots", "0x10", "--count", "3", "--duration", "0.25", "--channels",
                               "1021, 1001", "--timeout", "4", "--output", "run.h5", "--json", "--simulated"};
        QCOMPARE(options.parse(args, QStringLiteral("/default")), MeasureOptions::Outcome::Run);
        QCOMPARE(options.address.toString(), QStringLiteral("localhost:4000"));
        QCOMPARE(options.pluginPath, QStringLiteral("/p/libdravik_v2.so"));
        QCOMPARE(options.operationMode, 3);
        QCOMPARE(options.measurementMode, 1);
        QCOMPARE(options.charge.toDouble(), 2e-9);
        QCOMPARE(options.hvSourceType.toInt(), 1);
        QCOMPARE(options.chargeToVoltageFactor.toDouble(), 1.5e9);
        QCOMPARE(options.calibrationFactor.toDouble(), 0.9);
        QCOMPARE(options.maximumShots, 16u);
        QCOMPARE(options.count, 3);
        QCOMPARE(options.durationSeconds, 0.25);
        QCOMPARE(options.channels, (QSet<int>{1021, 1001}));
        QCOMPARE(options.timeoutSeconds, 4.0);
        QCOMPARE(options.outputPath, QStringLiteral("run.h5"));
        QVERIFY(options.json && options.simulated && !options.quiet && !options.overwrite);

        MeasureOptions defaults;
        QCOMPARE(defaults.parse(base(), QStringLiteral("/default")), MeasureOptions::Outcome::Run);
        QCOMPARE(defaults.pluginPath, QStringLiteral("/default"));
        QVERIFY(!defaults.charge.isValid() && !defaults.hvSourceType.isValid());
        QVERIFY(!defaults.chargeToVoltageFactor.isValid() && !defaults.calibrationFactor.isValid());
        QCOMPARE(defaults.operationMode, 0);
        QCOMPARE(defaults.measurementMode, 0);
        QCOMPARE(defaults.maximumShots, 4294967295u);
    }

    void helpWinsOverEverythingElse()
    {
        MeasureOptions options;
        QCOMPARE(options.parse({QStringLiteral("--help")}, QString()), MeasureOptions::Outcome::Help);
        QCOMPARE(options.parse({QStringLiteral("--address"), QStringLiteral("192.168.220.100:52922"), QStringLiteral("-h")},
                               QString()),
                 MeasureOptions::Outcome::Help);
        const QString usage = MeasureOptions::usage();
        for (const char *code : {"  0  ", "  2  ", "  3  ", "  4  ", "  5  ", "  6  ", "  7  ", "  130  "})
            QVERIFY2(usage.contains(QLatin1String(code)), code);
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
        QCOMPARE(described.value(QStringLiteral("operation_mode_name")).toString(), QStringLiteral("VLF Sinus"));
        QCOMPARE(described.value(QStringLiteral("charge_calibration_factor")).toDouble(), 0.9);
        QVERIFY(!described.contains(QStringLiteral("nominal_charge_c")));
    }
};

QTEST_GUILESS_MAIN(tst_MeasureOptions)
#include "tst_measureoptions.moc"
