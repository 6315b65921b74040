#include "HostProcess.h"
#include "SimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// What a host developer and a test engineer get from an install: the tree is
// put into a temporary DESTDIR (which makes it a relocated install, as an
// unpacked package is), examples/minimal-host is built from its installed copy
// against that prefix alone, and the installed programs run from there.
class tst_Install : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_prefix;
    std::unique_ptr<SimProcess> m_sim;

    static bool run(const QStringList &command)
    {
        const HostProcess::Result r = HostProcess::run(command.first(), command.mid(1), 120000);
        if (r.exitCode != 0)
            qWarning().noquote() << command.join(QLatin1Char(' ')) << "exit" << r.exitCode << '\n' << r.out << r.err;
        return r.exitCode == 0;
    }
    QString fill(QString text) const
    {
        return text.replace(QLatin1String("@prefix"), m_prefix)
            .replace(QLatin1String("@example"), m_dir.filePath(QStringLiteral("example")))
            .replace(QLatin1String("@port"), QString::number(m_sim->port()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString root = m_dir.filePath(QStringLiteral("root"));
        m_prefix = root + QStringLiteral(INSTALL_PREFIX);
        QVERIFY(run({CMAKE_COMMAND, "-E", "env", "DESTDIR=" + root, CMAKE_COMMAND, "--install", BUILD_DIR}));

        // Nothing of the source or build tree: the example's source is the
        // installed copy, the SDK is found through the prefix alone.
        const QString example = m_dir.filePath(QStringLiteral("example"));
        QVERIFY(run({CMAKE_COMMAND, "-S", m_prefix + "/" INSTALL_DOCDIR "/examples/minimal-host", "-B", example, "-G",
                     CMAKE_GENERATOR, "-DCMAKE_MAKE_PROGRAM=" CMAKE_MAKE_PROGRAM, "-DCMAKE_CXX_COMPILER=" CMAKE_CXX_COMPILER,
                     "-DCMAKE_PREFIX_PATH=" + m_prefix, "-DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON"}));
        QFile cache(example + QStringLiteral("/CMakeCache.txt"));
        QVERIFY(cache.open(QIODevice::ReadOnly)
                && cache.readAll().contains("DravikSdk_DIR:PATH=" + (m_prefix + "/" INSTALL_CMAKEDIR).toUtf8() + '\n'));
        QVERIFY(run({CMAKE_COMMAND, "--build", example}));

        m_sim = std::make_unique<SimProcess>(m_prefix + QStringLiteral("/" INSTALL_BINDIR "/dravik-sim"));
        QVERIFY2(m_sim->start({}), qPrintable(m_sim->errorString()));
    }

    void installed_data()
    {
        QTest::addColumn<QStringList>("command"); // @prefix, @example, @port are filled in
        QTest::addColumn<QStringList>("out");     // parts of stdout
        const auto row = [](const char *name, const QStringList &command, const QStringList &out) {
            QTest::newRow(name) << command << out;
        };
        const QString bin = QStringLiteral("@prefix/" INSTALL_BINDIR "/");
        row("dravik-host info finds its plug-in", {bin + "dravik-host", "info"},
            {"file:        @prefix/" INSTALL_PLUGIN "\n", "version:     " DRAVIK_VERSION "\n"});
        row("dravik-host --version", {bin + "dravik-host", "--version"}, {"dravik-host " DRAVIK_VERSION "\n"});
        row("dravik-sim --version", {bin + "dravik-sim", "--version"}, {"dravik-sim " DRAVIK_VERSION "\n"});
        // The installed plug-in against the simulator: the detector's
        // identification and the loopback address the device was given.
        row("minimal-host", {"@example/minimal-host", "@port"},
            {"plug-in: Dravik v2/v3 " DRAVIK_VERSION "\n", "Serial number: 100042\n", ": 127.0.0.1:@port\n"});
    }
    void installed()
    {
        QFETCH(QStringList, command);
        QFETCH(QStringList, out);
        for (QString &word : command)
            word = fill(word);
        const HostProcess::Result r = HostProcess::run(command.first(), command.mid(1), 30000);
        QVERIFY2(r.exitCode == 0, qPrintable(QStringLiteral("exit %1: %2").arg(r.exitCode).arg(r.err)));
        for (const QString &text : out)
            QVERIFY2(r.out.contains(fill(text)), qPrintable(fill(text) + QStringLiteral(" missing in:\n") + r.out));
    }
};

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
