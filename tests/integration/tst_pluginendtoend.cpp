#include "DevicePluginInterface.h"
#include "DravikSimulator.h"
#include "EndToEnd.h"
#include "SdkMetaTypes.h"

#include <QPluginLoader>
#include <QSignalSpy>
#include <QtTest>

// The plug-in as a host loads it, against the simulator: only the plug-in
// interfaces and the device's signals by name.
class tst_PluginEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void measure_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("channel"); // what must arrive
        QTest::newRow("mode 0: test voltage and cut channels") << 0 << 1018;
        QTest::newRow("mode 1: averaged pulses") << 1 << 1001;
        QTest::newRow("mode 2: transformed charge") << 2 << 1018;
    }
    void measure()
    {
        QFETCH(int, mode);
        QFETCH(int, channel);
        registerSdkMetaTypes();
        DravikSimulator sim;
        sim.setScenario(SimScenario::DampedAc);
        QVERIFY(sim.listen());
        QPluginLoader loader(QStringLiteral(DRAVIK_PLUGIN_PATH));
        auto *plugin = qobject_cast<DevicePluginInterface *>(loader.instance());
        QVERIFY(plugin);
        QScopedPointer<QObject> object(plugin->createDevice(nullptr));
        auto *device = qobject_cast<DeviceInterface *>(object.data());
        QVERIFY(device);
        QVERIFY(device->initialize());
        // The simulator on this machine before anything opens.
        device->applySettings({{"NetworkAddress", QStringLiteral("127.0.0.1:%1").arg(sim.serverPort())}});
        device->setDataTransferEnabled(true);
        ChunkTaker taker(object.data(), device);
        QSignalSpy opened(object.data(), SIGNAL(opened()));
        device->open();
        QVERIFY(opened.wait(10000));

        const TestQuery query = dacQuery(mode);
        device->setEnvironment(query);
        QSignalSpy started(object.data(), SIGNAL(started()));
        device->start();
        QVERIFY(started.wait(10000));
        QVERIFY(QTest::qWaitFor([&] { return taker.received(channel) && taker.received(1021); }, 30000));
        // Read before the stop, which resets the measured values.
        if (mode == 0) {
            // The simulator's damped AC: 50 Hz, attenuation 20 /s.
            const double f = device->value(2013).toDouble();
            const double delta = device->value(2015).toDouble();
            QVERIFY2(std::abs(f - 50.0) <= 0.25, qPrintable(QString::number(f)));
            QVERIFY2(std::abs(delta - 20.0) <= 1.0, qPrintable(QString::number(delta)));
        }
        QSignalSpy stopped(object.data(), SIGNAL(stopped(int)));
        device->stop(false);
        QVERIFY(stopped.wait(10000));

        for (const ChunkTaker::Chunk &c : qAsConst(taker.chunks)) {
            if (mode == 0 && c.channel == 1018) // cut to ten periods of 50 Hz at 200 kHz
                QVERIFY2(std::abs(c.samples - 40000) <= 400, qPrintable(QString::number(c.samples)));
            if (mode == 1 && c.channel == 1001) // the averaged 0.8 ms pulse at 125 MHz
                QCOMPARE(c.samples, 100000);
            if (c.channel == 1018) // charge as a magnitude
                QVERIFY(c.minimum >= 0.0f);
        }
        if (mode == 1) {
            // The level search ended on a level below its start.
            const float level = device->value(1049).toFloat();
            QVERIFY2(level > 0.0f && level < 1.0f, qPrintable(QString::number(level)));
        }
    }
};

QTEST_GUILESS_MAIN(tst_PluginEndToEnd)
#include "tst_pluginendtoend.moc"
