#include "DravikSimulator.h"
#include "Hdf5Recorder.h"
#include "HostProcess.h"
#include "LiveView.h"
#include "LogCapture.h"
#include "PluginDevice.h"
#include "RecordingReader.h"
#include "SimProtocol.h"
#include "StationWindow.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>

// dravik-host gui. The measurement station's toolbar is driven in this
// process against a simulator on a thread of its own, and its recording is
// compared with what `measure` (a child process) writes against the same
// simulator. --screenshot runs the whole tool as a user does. Refused
// command lines are in tst_hostcommandline.
class tst_HostGui : public QObject
{
    Q_OBJECT

private:
    QThread m_thread;
    DravikSimulator *m_sim = nullptr;

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_sim->serverPort()); }

    // The enabled toolbar controls, in toolbar order.
    static QString enabled(const StationWindow &window)
    {
        QStringList names;
        for (const char *name : {"connect", "start", "stop", "record"}) {
            if (window.action(QLatin1String(name))->isEnabled())
                names << QLatin1String(name);
        }
        return names.join(QLatin1Char(' '));
    }

    // Attributes the two files may differ in: times, and what the detector
    // measured or how many shots fell into a measurement.
    static bool varies(const QString &name)
    {
        static const QStringList names{"created_utc", "duration_s", "started_utc", "run_s", "chunk_count",
                                       "byte_count", "chunks_taken", "start_time", "trigger_time", "frequency_hz",
                                       "test_voltage_v", "attenuation_per_s", "overflow", "host_stall_s"};
        return names.contains(name);
    }

    static void compareAttributes(const QVariantMap &gui, const QVariantMap &measure, const QString &where)
    {
        QCOMPARE(gui.keys(), measure.keys());
        for (auto it = measure.cbegin(); it != measure.cend(); ++it) {
            if (!varies(it.key()))
                QVERIFY2(gui.value(it.key()) == it.value(),
                         qPrintable(QStringLiteral("%1 %2: %3 / %4")
                                        .arg(where, it.key(), gui.value(it.key()).toString(), it.value().toString())));
        }
    }

    // Per group: its datasets' attributes, one set per channel.
    static QMap<int, QVariantMap> channels(const RecordingReader &reader, const QString &group)
    {
        QMap<int, QVariantMap> seen;
        for (const QString &name : reader.datasets(group)) {
            const RecordingReader::Dataset d = reader.dataset(group, name, false);
            seen.insert(d.attributes.value(QStringLiteral("channel_id")).toInt(), d.attributes);
        }
        return seen;
    }

private Q_SLOTS:
    void init()
    {
        m_sim = new DravikSimulator;
        m_sim->moveToThread(&m_thread);
        connect(&m_thread, &QThread::finished, m_sim, &QObject::deleteLater);
        m_thread.start();
        m_sim->setScenario(SimScenario::DampedAc);
        QVERIFY(m_sim->listen());
    }
    void cleanup()
    {
        m_thread.quit();
        QVERIFY(m_thread.wait(10000));
    }

    // Two measurements through the toolbar, recorded; each control enabled
    // only when it can act. With a fault in the second measurement the file
    // keeps the first complete and the second as far as it got.
    void toolbar_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error");
        QTest::newRow("as measure records them") << QString() << QString();
        QTest::newRow("second start refused") << "start" << "the measurement stopped before its time";
        QTest::newRow("link lost in the second") << "link" << "the link to the detector was lost";
    }
    void toolbar()
    {
        QFETCH(QString, fault);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString measured = dir.filePath(QStringLiteral("measure.h5"));
        if (fault.isEmpty()) {
            const HostProcess::Result r = HostProcess::run(
                QStringLiteral(DRAVIK_HOST_PATH),
                {"measure", "--plugin", DRAVIK_PLUGIN_PATH, "--address", address(), "--operation-mode", "DAC+",
                 "--count", "2", "--duration", "1.6", "--simulated", "-o", measured});
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        }

        LogCapture log;
        QSet<int> taken; // channels taken in the current measurement, outlives the window
        PluginDevice plugin(QStringLiteral(DRAVIK_PLUGIN_PATH));
        StationWindow::Options options;
        options.address = address();
        options.timeoutMs = 4000;
        options.simulated = true;
        options.settings.insert(QStringLiteral("NetworkAddress"), options.address);
        QCOMPARE(plugin.prepare(options.settings, options.address), 0);
        StationWindow window(&plugin, options);
        window.tabs()->setCurrentWidget(window.liveView());
        window.show();
        auto *modes = window.findChild<QComboBox *>(QStringLiteral("operationMode"));
        QCOMPARE(enabled(window), QStringLiteral("connect"));
        window.action(QStringLiteral("connect"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(enabled(window), QStringLiteral("start record"), 10000);
        window.setRecordPath(dir.filePath(QStringLiteral("gui.h5")));
        window.action(QStringLiteral("record"))->trigger();
        QVERIFY(window.isRecording());
        QVERIFY(!modes->isEnabled()); // one environment per file
        QSignalSpy ended(&window, &StationWindow::recordingEnded);
        // Each measurement runs until it has every channel measure recorded in
        // the same measurement: stopping after a fixed number of drawn chunks
        // could stop a loaded machine before a slower channel's first chunk.
        connect(window.session(), &DeviceSession::chunkTaken, this, [&taken](int channel) { taken.insert(channel); });
        for (int i = 1; i <= 2; ++i) {
            taken.clear();
            const bool faulty = i == 2 && !fault.isEmpty();
            if (faulty && fault == QLatin1String("start"))
                m_sim->setFailAck(SimProtocol::StartMeasurement, 2);
            window.action(QStringLiteral("start"))->trigger();
            if (faulty && fault == QLatin1String("start"))
                break;
            QTRY_COMPARE_WITH_TIMEOUT(enabled(window), QStringLiteral("stop"), 10000);
            // A whole shot: its PD record and its test voltage, drawn live.
            const int drawn = window.liveView()->chunksDrawn();
            QTRY_VERIFY_WITH_TIMEOUT(window.liveView()->chunksDrawn() >= drawn + 2, 10000);
            if (fault.isEmpty()) {
                const QList<int> expected = channels(RecordingReader(measured), Hdf5Recorder::groupName(i)).keys();
                QTRY_VERIFY2_WITH_TIMEOUT(taken.contains(QSet<int>(expected.begin(), expected.end())),
                                          qPrintable(QStringLiteral("measurement %1: channels %2").arg(i).arg(taken.size())),
                                          10000);
            }
            if (faulty) {
                m_sim->close();
                break;
            }
            window.action(QStringLiteral("stop"))->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(enabled(window), QStringLiteral("start record"), 10000);
        }
        if (fault.isEmpty())
            window.action(QStringLiteral("record"))->trigger();
        QVERIFY(ended.count() == 1 || ended.wait(20000));
        QCOMPARE(ended.first().at(0).toBool(), true);
        QVERIFY(!window.isRecording());
        QVERIFY2(window.liveView()->readout(2013).contains(QLatin1String(" Hz")),
                 qPrintable(window.liveView()->readout(2013)));
        if (!fault.isEmpty()) {
            QCOMPARE(enabled(window), QStringLiteral("connect"));
            QVERIFY2(window.statusText().contains(error), qPrintable(window.statusText()));
        }

        RecordingReader gui(dir.filePath(QStringLiteral("gui.h5")));
        QCOMPARE(gui.groups(), QStringList({"measurement_001", "measurement_002"}));
        const QVariantMap root = gui.rootAttributes();
        if (!fault.isEmpty()) {
            // Kept, marked incomplete (with the reason): the first measurement whole.
            QCOMPARE(gui.status(), RecordingReader::Status::Incomplete);
            QCOMPARE(root.value(QStringLiteral("exit_code")).toInt(), 6);
            QVERIFY2(gui.errorString().contains(error), qPrintable(gui.errorString()));
            QCOMPARE(gui.groupAttributes(QStringLiteral("measurement_001")).value("complete").toInt(), 1);
            QVERIFY(channels(gui, QStringLiteral("measurement_001")).contains(1021));
        } else {
            QCOMPARE(gui.status(), RecordingReader::Status::Ok);
            RecordingReader reference(measured);
            QCOMPARE(reference.status(), RecordingReader::Status::Ok);
            compareAttributes(root, reference.rootAttributes(), QStringLiteral("/"));
            for (const QString &group : reference.groups()) {
                compareAttributes(gui.groupAttributes(group), reference.groupAttributes(group), group);
                const QMap<int, QVariantMap> ours = channels(gui, group);
                const QMap<int, QVariantMap> theirs = channels(reference, group);
                QCOMPARE(ours.keys(), theirs.keys());
                for (int channel : theirs.keys())
                    compareAttributes(ours.value(channel), theirs.value(channel),
                                      QStringLiteral("%1 channel %2").arg(group).arg(channel));
            }
        }
        window.shutDown();
        QVERIFY2(log.unexpectedQtWarnings().isEmpty(), qPrintable(log.unexpectedQtWarnings().join('\n')));
    }

    // The whole tool for a picture: the simulator and the host as separate
    // processes on loopback, the window rendered offscreen and saved as PNG.
    void screenshot_data()
    {
        QTest::addColumn<bool>("simulator"); // false: a loopback port nobody listens on
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("reported");
        QTest::newRow("measuring, live tab, dark") << true << QStringList{"--tab", "live", "--dark", "--start"}
                                                   << ", connected, measuring)";
        QTest::newRow("expert gains") << true << QStringList{"--tab", "expert", "--set", "2010=true", "--page", "Gain"}
                                      << ", connected)";
        QTest::newRow("not connected") << false << QStringList{"--timeout", "2"} << "not connected";
    }
    void screenshot()
    {
        QFETCH(bool, simulator);
        QFETCH(QStringList, options);
        QFETCH(QString, reported);
        QString target = address();
        QTcpServer server;
        if (!simulator) {
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            target = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        }
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("panel.png"));
        const HostProcess::Result result = HostProcess::run(
            QStringLiteral(DRAVIK_HOST_PATH),
            QStringList{"gui", "--plugin", DRAVIK_PLUGIN_PATH, "--address", target, "--screenshot", out} + options);
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY2(result.out.contains(reported), qPrintable(result.out));
        // No warning from Qt or the host (the device's own notifications aside).
        QVERIFY2(!result.err.contains(QRegularExpression(QStringLiteral("^(?!device )\\S+ warning: "),
                                                         QRegularExpression::MultilineOption)),
                 qPrintable(result.err));
        // A window drawn, not a blank of the right size: many colours, and the
        // dark palette darker than the light one.
        QImage image;
        QVERIFY2(image.load(out, "PNG"), qPrintable(out));
        QVERIFY2(image.width() >= 1000 && image.height() >= 700 && image.width() <= 8000 && image.height() <= 8000,
                 qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
        QSet<QRgb> colours;
        qint64 lightness = 0;
        for (int y = 0; y < image.height(); y += 4) {
            for (int x = 0; x < image.width(); x += 4) {
                colours.insert(image.pixel(x, y));
                lightness += qGray(image.pixel(x, y));
            }
        }
        lightness /= ((image.height() + 3) / 4) * ((image.width() + 3) / 4);
        QVERIFY2(colours.size() >= 16, qPrintable(QString::number(colours.size())));
        QVERIFY2(options.contains("--dark") == (lightness < 128), qPrintable(QString::number(lightness)));
    }
};

QTEST_MAIN(tst_HostGui)
#include "tst_hostgui.moc"
