#include "ConnectionOptions.h"
#include "ExitCode.h"
#include "FirmwareCommand.h"

#include <QCommandLineParser>
#include <QtTest>

#include <cmath>
#include <limits>

// The options the device commands share, parsed the way each command does:
// its parser gets them added, then takes them back. Nothing connects here.
class tst_ConnectionOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void take_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected"); // the address taken, or a part of the error

        QTest::newRow("loopback") << QStringList{"--address", "127.0.0.1:4000"} << true << "127.0.0.1:4000";
        QTest::newRow("127/8") << QStringList{"--address", "127.1.2.3:4000"} << true << "127.1.2.3:4000";
        QTest::newRow("localhost") << QStringList{"--address", "localhost:4000"} << true << "localhost:4000";
        QTest::newRow("missing") << QStringList{} << false << "--address HOST:PORT is required";
        QTest::newRow("no port") << QStringList{"--address", "127.0.0.1"} << false << "--address:";
        QTest::newRow("port 0") << QStringList{"--address", "127.0.0.1:0"} << false << "--address:";
        QTest::newRow("remote refused") << QStringList{"--address", "192.168.220.100:10001"} << false
                                        << "needs --allow-remote";
        QTest::newRow("name refused") << QStringList{"--address", "detector.lan:10001"} << false << "needs --allow-remote";
        QTest::newRow("remote allowed") << QStringList{"--address", "192.168.220.100:10001", "--allow-remote"} << true
                                        << "192.168.220.100:10001";
        QTest::newRow("timeout 0") << QStringList{"--address", "127.0.0.1:1", "--timeout", "0"} << false << "--timeout";
        QTest::newRow("timeout over an hour") << QStringList{"--address", "127.0.0.1:1", "--timeout", "3601"} << false
                                              << "--timeout";
        QTest::newRow("timeout nan") << QStringList{"--address", "127.0.0.1:1", "--timeout", "nan"} << false << "--timeout";
        QTest::newRow("timeout text") << QStringList{"--address", "127.0.0.1:1", "--timeout", "ten"} << false << "--timeout";
    }
    void take()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        QCommandLineParser parser;
        ConnectionOptions::addTo(parser);
        QVERIFY(parser.parse(QStringList{"cmd"} + args));
        ConnectionOptions options;
        QString error;
        QCOMPARE(options.take(parser, QStringLiteral("/default/plugin.so"), &error), ok);
        if (ok) {
            QCOMPARE(options.address.toString(), expected);
            QVERIFY(error.isEmpty());
        } else {
            QVERIFY2(error.contains(expected), qPrintable(error));
        }
    }

    void defaultsAndFlags()
    {
        QCommandLineParser parser;
        ConnectionOptions::addTo(parser);
        QVERIFY(parser.parse({"cmd", "--address", "127.0.0.1:5", "--json", "--quiet", "--timeout", "2.5"}));
        ConnectionOptions options;
        options.timeoutSeconds = 30;
        QString error;
        QVERIFY(options.take(parser, QStringLiteral("/default/plugin.so"), &error));
        QCOMPARE(options.pluginPath, QStringLiteral("/default/plugin.so"));
        QCOMPARE(options.timeoutSeconds, 2.5);
        QVERIFY(options.json && options.quiet && !options.verbose && !options.allowRemote);

        // A command's own default time-out stays when --timeout is not given.
        QCommandLineParser plain;
        ConnectionOptions::addTo(plain);
        QVERIFY(plain.parse({"cmd", "--address", "127.0.0.1:5", "--plugin", "/p.so"}));
        ConnectionOptions other;
        other.timeoutSeconds = 30;
        QVERIFY(other.take(plain, QStringLiteral("/default/plugin.so"), &error));
        QCOMPARE(other.timeoutSeconds, 30.0);
        QCOMPARE(other.pluginPath, QStringLiteral("/p.so"));
    }

    void exitCodeForState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("code");
        QTest::newRow("0 transfer started") << 0 << -1;
        QTest::newRow("1 transferring") << 1 << -1;
        QTest::newRow("2 transfer successful") << 2 << -1;
        QTest::newRow("3 transfer failed") << 3 << int(ExitFirmwareTransferFailed);
        QTest::newRow("4 writing started") << 4 << -1;
        QTest::newRow("5 writing") << 5 << -1;
        QTest::newRow("6 writing successful") << 6 << int(ExitOk);
        QTest::newRow("7 writing failed") << 7 << int(ExitFirmwareWriteFailed);
        QTest::newRow("8 link lost") << 8 << int(ExitLinkLost);
        QTest::newRow("9 unknown") << 9 << -1;
        QTest::newRow("-1 unknown") << -1 << -1;
    }
    void exitCodeForState()
    {
        QFETCH(int, state);
        QFETCH(int, code);
        QCOMPARE(FirmwareCommand::exitCodeForState(state), code);
    }

    void exitCodesDistinct()
    {
        const QList<int> codes{ExitOk, ExitInfoFailed, ExitUsage, ExitPluginFailed, ExitConnectFailed,
                               ExitDetectorRejected, ExitMeasurementFailed, ExitOutputFailed,
                               ExitFirmwareTransferFailed, ExitFirmwareWriteFailed, ExitLinkLost, ExitTimedOut,
                               ExitLogNotWritten, ExitInterrupted};
        QCOMPARE(QSet<int>(codes.begin(), codes.end()).size(), codes.size());
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
        QTest::newRow("far over") << 7.0 << "[##########] 100%";
        QTest::newRow("negative") << -0.25 << "[          ]   0%";
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
};

QTEST_GUILESS_MAIN(tst_ConnectionOptions)
#include "tst_connectionoptions.moc"
