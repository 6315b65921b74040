#include "HostProcess.h"
#include "TestFiles.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// dravik-host runs that end before a detector answers: the plug-in's
// metadata, help texts, refused command lines (exit 2) and a loopback port
// nobody listens on (exit 4). None of them may leave a file behind.
class tst_HostCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void run_data()
    {
        QTest::addColumn<QStringList>("args"); // @dir, @plugin, @foreign, @closed are filled in
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("out"); // parts of stdout
        QTest::addColumn<QStringList>("err"); // parts of stderr
        const auto row = [](const char *name, const QStringList &args, int code, const QStringList &out,
                            const QStringList &err) { QTest::newRow(name) << args << code << out << err; };
        const QStringList fw{"firmware", "@dir/one.dravikfw", "--address", "127.0.0.1:9"};
        const QStringList log{"log", "@dir/new.log", "--address", "127.0.0.1:9"};
        const QStringList gui{"gui", "--address", "127.0.0.1:1", "--screenshot", "@dir/never.png"};
        const QStringList closed{"--plugin", "@plugin", "--address", "@closed", "--timeout", "3"};

        row("info", {"info"}, 0, // no path: the plug-in next to the program, here the build tree's
            {"file:        @plugin\n", "IID:         DevicePluginInterface\n", "className:   Dravik_v2_Plugin\n",
             "name:        Dravik v2/v3\n", "description: PD Measurement Device for DAC/CR and VLF Sinus\n",
             "uuid:        462018FC-392C-4619-B9CE-D63DA9DC1625\n", "version:     4.0.0\n"},
            {});
        row("info, missing file", {"info", "/nonexistent/libdravik_v2.so"}, 1, {}, {"dravik-host: ", "no such file"});
        row("info, not a library", {"info", "@dir/one.dravikfw"}, 1, {}, {"not a Qt plug-in"});
        row("info, another interface", {"info", "@foreign"}, 1, {},
            {"not a Dravik plug-in (interface \"org.example.SomethingElse/1.0\""});

        // Each spelling of help reaches its command's text, with the shared
        // connection and output options and the command's own default time-out.
        row("--help", {"--help"}, 0, {"usage: dravik-host COMMAND", "  info [PLUGIN_PATH]", "  gui"}, {});
        row("measure --help", {"measure", "--help"}, 0, {"usage: dravik-host measure", "  4  could not connect"}, {});
        row("help firmware", {"help", "firmware"}, 0, {"usage: dravik-host firmware FILE", "--allow-remote", "--json"}, {});
        row("log -h", {"log", "-h"}, 0, {"usage: dravik-host log OUT", "--timeout SECONDS", "(30)", "--json"}, {});
        row("gui --help", {"gui", "--help"}, 0, {"--screenshot FILE", "--dark", "--tab NAME", "--start", "--page NAME"}, {});
        row("help report", {"help", "report"}, 0, {"usage: dravik-host report RECORDING.h5", "13 the recording"}, {});
        row("report without -o", {"report", "@dir/one.dravikfw"}, 2, {}, {"-o REPORT.pdf is required"});

        row("no command", {}, 2, {}, {"usage: dravik-host"});
        row("unknown command", {"frobnicate"}, 2, {}, {"unknown command 'frobnicate'", "usage: dravik-host"});
        // Refused before anything is loaded: the plug-in path points nowhere.
        row("measure, remote address", {"measure", "--plugin", "@dir/absent.so", "--address", "192.168.220.100:52922",
                                        "-o", "@dir/run.h5"}, 2, {}, {"--allow-remote"});
        row("firmware without file", {"firmware", "--address", "127.0.0.1:9"}, 2, {}, {"FILE is required"});
        row("firmware, missing file", {"firmware", "@dir/absent.dravikfw", "--address", "127.0.0.1:9"}, 2, {},
            {"cannot read"});
        row("firmware, empty file", {"firmware", "@dir/empty.dravikfw", "--address", "127.0.0.1:9"}, 2, {}, {"is empty"});
        row("firmware, mode 256", fw + QStringList{"--mode", "256"}, 2, {}, {"--mode: '256'"});
        row("firmware, two files", fw + QStringList{"@dir/one.dravikfw"}, 2, {}, {"unexpected argument"});
        row("log, OUT exists", {"log", "@dir/one.dravikfw", "--address", "127.0.0.1:9"}, 2, {}, {"give --overwrite"});
        row("log, OUT a folder", {"log", "@dir", "--address", "127.0.0.1:9", "--overwrite"}, 2, {}, {"is a directory"});
        row("log, OUT empty", {"log", "", "--address", "127.0.0.1:9"}, 2, {}, {"the output file OUT is required"});
        row("firmware, a folder", {"firmware", "@dir", "--address", "127.0.0.1:9"}, 2, {},
            {"is a directory, not a firmware image"});
        row("log, address twice", log + QStringList{"--address", "127.0.0.1:10"}, 2, {}, {"given more than once"});
        row("gui, unknown tab", gui + QStringList{"--tab", "plots"}, 2, {}, {"dravik-host gui: --tab takes"});
        row("gui, unknown option", gui + QStringList{"--frobnicate"}, 2, {}, {"dravik-host gui: Unknown option"});
        row("gui, --set without a value", gui + QStringList{"--set", "2010"}, 2, {}, {"--set: \"2010\" is not ID=VALUE"});
        row("gui, unknown page", gui + QStringList{"--page", "Plots"}, 2, {}, {"--page: the expert view has no page"});

        row("measure, nobody listens", QStringList{"measure", "-o", "@dir/run.h5"} + closed, 4, {}, {"@closed"});
        row("firmware, nobody listens", QStringList{"firmware", "@dir/one.dravikfw"} + closed, 4, {}, {});
    }
    void run()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, out);
        QFETCH(QStringList, err);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeFile(dir.filePath("one.dravikfw"), "Z") && writeFile(dir.filePath("empty.dravikfw"), ""));
        // A loopback port that was free a moment ago: the connection is refused.
        QTcpServer reserve;
        QVERIFY(reserve.listen(QHostAddress::LocalHost));
        const QString closedAddress = QStringLiteral("127.0.0.1:%1").arg(reserve.serverPort());
        reserve.close();
        const auto fill = [&](QStringList list) {
            for (QString &text : list) {
                text.replace(QLatin1String("@dir"), dir.path()).replace(QLatin1String("@closed"), closedAddress);
                text.replace(QLatin1String("@plugin"), QStringLiteral(DRAVIK_PLUGIN_PATH));
                text.replace(QLatin1String("@foreign"), QStringLiteral(FOREIGN_PLUGIN_PATH));
            }
            return list;
        };
        const QStringList before = filesIn(dir.path());

        const HostProcess::Result r = HostProcess::run(QStringLiteral(DRAVIK_HOST_PATH), fill(args), 30000);
        QVERIFY2(r.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(r.exitCode).arg(r.err)));
        for (const QString &text : fill(out))
            QVERIFY2(r.out.contains(text), qPrintable(QStringLiteral("'%1' missing in:\n%2").arg(text, r.out)));
        for (const QString &text : fill(err))
            QVERIFY2(r.err.contains(text), qPrintable(QStringLiteral("'%1' missing in:\n%2").arg(text, r.err)));
        if (exitCode != 0)
            QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
        // Fits a terminal.
        for (const QString &line : r.out.split(QLatin1Char('\n')))
            QVERIFY2(line.size() <= 80, qPrintable(line));
        QCOMPARE(filesIn(dir.path()), before);
        QCOMPARE(readFile(dir.filePath("one.dravikfw")), QByteArray("Z"));
    }
};

QTEST_GUILESS_MAIN(tst_HostCommandLine)
#include "tst_hostcommandline.moc"
