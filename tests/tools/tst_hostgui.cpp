#include "HostProcess.h"
#include "SimProcess.h"

#include <QFileInfo>
#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// dravik-host gui as a user runs it for a screenshot: the simulator and the
// host as separate processes on loopback, the window rendered offscreen and
// saved as PNG. Every process wait is bounded; no test sleeps.
class tst_HostGui : public QObject
{
    Q_OBJECT

private:
    static HostProcess::Result host(const QStringList &args, int timeoutMs = 60000)
    {
        return HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH), args, timeoutMs);
    }

    static QStringList gui(const QString &address, const QString &screenshot)
    {
        return {QStringLiteral("gui"), QStringLiteral("--plugin"), QStringLiteral(DRAVIK_PLUGIN_PATH),
                QStringLiteral("--address"), address, QStringLiteral("--screenshot"), screenshot};
    }

    // A window of the four tabs: far from a blank stub.
    static void checkImage(const QString &path)
    {
        QVERIFY2(QFileInfo(path).size() > 0, qPrintable(path));
        QImage image;
        QVERIFY2(image.load(path, "PNG"), qPrintable(path));
        QVERIFY(!image.isNull());
        QVERIFY2(image.width() >= 300 && image.height() >= 200,
                 qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
        QVERIFY(image.width() <= 8000 && image.height() <= 8000);
    }

private Q_SLOTS:
    void screenshotConnected_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("tab");
        QTest::newRow("light, control") << false << "control";
        QTest::newRow("dark, expert") << true << "expert";
        QTest::newRow("light, debug") << false << "debug";
    }

    void screenshotConnected()
    {
        QFETCH(bool, dark);
        QFETCH(QString, tab);
        SimProcess sim(QStringLiteral(DRAVIK_SIM_PATH));
        QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.filePath(QStringLiteral("panel.png"));
        QStringList args = gui(sim.address(), out) << QStringLiteral("--tab") << tab;
        if (dark)
            args << QStringLiteral("--dark");
        const HostProcess::Result result = host(args);
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY2(result.out.contains(QLatin1String(", connected)")),
                 qPrintable(result.out));
        checkImage(out);
        QVERIFY(sim.stop());
    }

    void screenshotNotConnected()
    {
        // A loopback port nobody listens on any more.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        server.close();
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.filePath(QStringLiteral("disconnected.png"));
        const HostProcess::Result result = host(gui(address, out) << QStringLiteral("--timeout") << QStringLiteral("2"));
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY2(result.out.contains(QLatin1String("not connected")), qPrintable(result.out));
        checkImage(out);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no address") << QStringList{QStringLiteral("--screenshot"), QStringLiteral("OUT")};
        QTest::newRow("remote without --allow-remote")
            << QStringList{QStringLiteral("--address"), QStringLiteral("192.0.2.1:5025"), QStringLiteral("--screenshot"),
                           QStringLiteral("OUT")};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--address"), QStringLiteral("127.0.0.1:1"),
                                                       QStringLiteral("--screenshot"), QStringLiteral("OUT"),
                                                       QStringLiteral("--frobnicate")};
        QTest::newRow("unknown tab") << QStringList{QStringLiteral("--address"), QStringLiteral("127.0.0.1:1"),
                                                    QStringLiteral("--screenshot"), QStringLiteral("OUT"),
                                                    QStringLiteral("--tab"), QStringLiteral("plots")};
        QTest::newRow("stray argument") << QStringList{QStringLiteral("--address"), QStringLiteral("127.0.0.1:1"),
                                                       QStringLiteral("--screenshot"), QStringLiteral("OUT"),
                                                       QStringLiteral("extra")};
    }

    void usageErrors()
    {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.filePath(QStringLiteral("never.png"));
        args.replaceInStrings(QRegularExpression(QStringLiteral("^OUT$")), out);
        const HostProcess::Result result = host(QStringList{QStringLiteral("gui")} + args, 30000);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(QLatin1String("dravik-host gui:")), qPrintable(result.err));
        QVERIFY(!QFileInfo::exists(out));
    }

    void help()
    {
        const HostProcess::Result result = host({QStringLiteral("gui"), QStringLiteral("--help")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.contains(QLatin1String("--screenshot FILE")));
        QVERIFY(result.out.contains(QLatin1String("--dark")));
        QVERIFY(result.out.contains(QLatin1String("--tab NAME")));
    }
};

QTEST_GUILESS_MAIN(tst_HostGui)
#include "tst_hostgui.moc"
