#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class tst_HostInfo : public QObject
{
    Q_OBJECT

private:
    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    static Result runHost(const QStringList &args)
    {
        QProcess process;
        process.start(QStringLiteral(DRAVIK_HOST_PATH), args);
        Result result;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

private Q_SLOTS:
    void printsMetadataAndClassInfo()
    {
        const Result r = runHost({QStringLiteral("info"), QStringLiteral(DRAVIK_PLUGIN_PATH)});
        QCOMPARE(r.exitCode, 0);
        const QStringList expected{
            QStringLiteral("IID:         DevicePluginInterface"),
            QStringLiteral("className:   Dravik_v2_Plugin"),
            QStringLiteral("name:        Dravik v2/v3"),
            QStringLiteral("description: PD Measurement Device for DAC/CR and VLF Sinus"),
            QStringLiteral("uuid:        462018FC-392C-4619-B9CE-D63DA9DC1625"),
            QStringLiteral("version:     4.0.0"),
        };
        const QStringList lines = r.out.split(QLatin1Char('\n'));
        for (const QString &line : expected)
            QVERIFY2(lines.contains(line), qPrintable(r.out));
    }

    void refusesWhatIsNoDravikPlugin_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");

        QTest::newRow("missing file") << QStringLiteral("/nonexistent/libdravik_v2.so") << QStringLiteral("no such file");
        QTest::newRow("not a library") << QStringLiteral("TEXTFILE") << QStringLiteral("not a Qt plug-in");
        QTest::newRow("another interface") << QStringLiteral(FOREIGN_PLUGIN_PATH)
                                           << QStringLiteral("not a Dravik plug-in (interface \"org.example.SomethingElse/1.0\"");
    }
    void refusesWhatIsNoDravikPlugin()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (path == QLatin1String("TEXTFILE")) {
            path = dir.filePath(QStringLiteral("libfake.so"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not an ELF object\n");
        } else if (path == QLatin1String("DIR")) {
            path = dir.path();
        }
        const Result r = runHost({QStringLiteral("info"), path});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith(QStringLiteral("dravik-host: ")), qPrintable(r.err));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")};
        QTest::newRow("info without path") << QStringList{QStringLiteral("info")};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        const Result r = runHost(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("usage: dravik-host")), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(tst_HostInfo)
#include "tst_hostinfo.moc"
