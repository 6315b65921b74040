#include "HostProcess.h"
#include "SimProcess.h"

#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// dravik-host gui as a user runs it for a screenshot: the simulator and the
// host as separate processes on loopback, the window rendered offscreen and
// saved as PNG. Its refused command lines are in tst_hostcommandline.
class tst_HostGui : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void screenshot_data()
    {
        QTest::addColumn<bool>("simulator"); // false: a loopback port nobody listens on
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("reported");
        QTest::newRow("connected, dark, expert tab") << true << QStringList{"--tab", "expert", "--dark"} << ", connected)";
        QTest::newRow("measuring, expert gains") << true << QStringList{"--tab", "expert", "--set", "2010=true", "--page",
                                                                       "Gain", "--start"} << ", connected, measuring)";
        QTest::newRow("not connected, light") << false << QStringList{"--timeout", "2"} << "not connected";
    }
    void screenshot()
    {
        QFETCH(bool, simulator);
        QFETCH(QStringList, options);
        QFETCH(QString, reported);
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QString address;
        if (simulator) {
            QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
            address = sim.address();
        } else {
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        }
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("panel.png"));
        const HostProcess::Result result = HostProcess::run(
            QStringLiteral(DRAVIK_HOST_PATH),
            QStringList{"gui", "--plugin", DRAVIK_PLUGIN_PATH, "--address", address, "--screenshot", out} + options);
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY2(result.out.contains(reported), qPrintable(result.out));
        // A window of the four tabs: far from a blank stub.
        QImage image;
        QVERIFY2(image.load(out, "PNG"), qPrintable(out));
        QVERIFY2(image.width() >= 300 && image.height() >= 200 && image.width() <= 8000 && image.height() <= 8000,
                 qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
        if (simulator)
            QVERIFY(sim.stop());
    }
};

QTEST_GUILESS_MAIN(tst_HostGui)
#include "tst_hostgui.moc"
