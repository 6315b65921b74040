#include "SimCommandLine.h"
#include "SimProcess.h"
#include "SimTestClient.h"

#include <QtTest>

#include <csignal>

class tst_SimCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void accepted()
    {
        SimConfig config;
        QString message;
        const QStringList arguments{"dravik-sim",          "--listen",          "127.0.0.1:5000", "--scenario",
                                    "vlf",                 "--time-scale",      "10",             "--serial",
                                    "0x10",                "--firmware-version", "22",            "--descriptor",
                                    "Jan 01 2024",         "--fail-ack",        "0x0F27:3",       "--fail-ack",
                                    "0x0F00",              "--drop-in-state",   "3",              "--delay-ms",
                                    "20",                  "--corrupt-checksum", "--split-writes", "7",
                                    "--cable-length",      "500",               "--velocity",     "150",
                                    "--pd-site",           "100:2",             "--pd-site",      "400:-0.5:12",
                                    "--voltage-steps",     "6,12.5"};
        QCOMPARE(SimCommandLine::parse(arguments, &config, &message), SimCommandLine::Run);
        QCOMPARE(config.address, QHostAddress(QStringLiteral("127.0.0.1")));
        QCOMPARE(config.port, quint16(5000));
        QCOMPARE(config.scenario, SimScenario::VlfSine);
        QCOMPARE(config.timeScale, 10.0);
        QCOMPARE(config.identity.serial, quint64(16));
        QCOMPARE(config.identity.firmwareVersion, quint8(22));
        QCOMPARE(config.identity.descriptor, QStringLiteral("Jan 01 2024"));
        QCOMPARE(config.faults.failAck.value(0x0F27), quint16(3));
        QCOMPARE(config.faults.failAck.value(0x0F00), quint16(7));
        QCOMPARE(config.faults.dropInState, 3);
        QCOMPARE(config.faults.responseDelayMs, 20);
        QVERIFY(config.faults.corruptChecksum);
        QCOMPARE(config.faults.splitWriteBytes, 7);
        QCOMPARE(config.identity.protocolVersion, quint8(2));
        QCOMPARE(config.faults.dropAfterFrames, -1);
        QCOMPARE(config.testObject.cableLengthMetres, 500.0);
        QCOMPARE(config.testObject.velocityMetresPerMicrosecond, 150.0);
        QCOMPARE(config.testObject.sites.size(), 2);
        QCOMPARE(config.testObject.sites.at(1).positionMetres, 400.0);
        QCOMPARE(config.testObject.sites.at(1).chargeNc, -0.5);
        QCOMPARE(config.testObject.sites.at(1).inceptionVolts, 12000.0);
        QCOMPARE(config.testObject.sites.at(0).inceptionVolts, 0.0);
        QCOMPARE(config.testObject.voltageStepsVolts, (QVector<double>{6000.0, 12500.0}));
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");

        QTest::newRow("unknown scenario") << QStringList{"--scenario", "storm"} << "dac, cr, vlf, noise";
        QTest::newRow("firmware version above a byte") << QStringList{"--firmware-version", "256"} << "firmware-version";
        QTest::newRow("fail-ack without a number") << QStringList{"--fail-ack", "start"} << "COMMAND[:ACK]";
        QTest::newRow("descriptor too long") << QStringList{"--descriptor", QString(33, QLatin1Char('x'))} << "32";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "frobnicate";
        QTest::newRow("any address") << QStringList{"--listen", "0.0.0.0:52922"} << "non-loopback";
        QTest::newRow("site beyond the far end") << QStringList{"--pd-site", "961:1"} << "0 to 960 m";
        QTest::newRow("site on a shorter cable") << QStringList{"--cable-length", "200", "--pd-site", "250:1"} << "0 to 200 m";
        QTest::newRow("site without charge") << QStringList{"--pd-site", "250"} << "METRES:CHARGE_NC";
        QTest::newRow("site of 0 nC") << QStringList{"--pd-site", "250:0"} << "not 0";
        QTest::newRow("velocity 0") << QStringList{"--velocity", "0"} << "--velocity 0";
        QTest::newRow("round trip above 1 ms") << QStringList{"--cable-length", "100000"} << "round trip";
        QTest::newRow("negative voltage step") << QStringList{"--voltage-steps", "6,-8"} << "--voltage-steps -8";
    }

    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, mentions);
        SimConfig config;
        QString message;
        QCOMPARE(SimCommandLine::parse(QStringList{"dravik-sim"} + arguments, &config, &message), SimCommandLine::Error);
        QVERIFY2(message.contains(mentions), qPrintable(message));
    }

    void listen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");

        QTest::newRow("loopback, free port") << "127.0.0.1:0" << true << "127.0.0.1" << 0;
        QTest::newRow("localhost") << "localhost:1" << true << "127.0.0.1" << 1;
        QTest::newRow("IPv6 loopback") << "[::1]:65535" << true << "::1" << 65535;
        QTest::newRow("factory address") << "192.168.220.100:52922" << false << "" << 0;
        QTest::newRow("no port") << "127.0.0.1" << false << "" << 0;
        QTest::newRow("port too large") << "127.0.0.1:65536" << false << "" << 0;
    }

    void listen()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, address);
        QHostAddress parsed;
        quint16 parsedPort = 0;
        QString error;
        QCOMPARE(SimCommandLine::parseListen(text, &parsed, &parsedPort, &error), ok);
        if (ok) {
            QCOMPARE(parsed, QHostAddress(address));
            QTEST(int(parsedPort), "port");
        } else {
            QVERIFY(!error.isEmpty());
        }
    }

    void executableServesAndStopsOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void executableServesAndStopsOnSignal()
    {
        QFETCH(int, signalNumber);
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH)); // reads "listening 127.0.0.1:PORT"
        QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
        SimTestClient client;
        QVERIFY(client.connectTo(sim.port()));
        client.send(0x0100);
        QTRY_COMPARE(client.responses.size(), 1);
        QCOMPARE(client.responses.first().payload.size(), 54);
        QVERIFY(sim.endWith(signalNumber));
    }
};

QTEST_GUILESS_MAIN(tst_SimCommandLine)
#include "tst_simcommandline.moc"
