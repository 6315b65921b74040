#include "AbstractQueryObject.h"
#include "DeviceInterface.h"
#include "DevicePluginInterface.h"
#include "DravikSimulator.h"
#include "SdkMetaTypes.h"

#include <QPluginLoader>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

namespace {

class Query : public AbstractQueryObject
{
public:
    int mode = 0;
    int measurementMode() const override { return mode; }
    unsigned maximumShots() const override { return 4294967295u; }
    bool query(int key, QVariant &value, int, int) const override
    {
        value = key == KeyOperationMode ? QVariant(0) : QVariant();
        return value.isValid();
    }
};

struct Received
{
    int channel;
    int samples;
    float minimum;
};

} // namespace

// The plug-in as a host loads it, against the simulator: only the plug-in
// interfaces and the device's signals by name.
class tst_PluginEndToEnd : public QObject
{
    Q_OBJECT

private:
    QObject *m_object = nullptr;
    DeviceInterface *m_device = nullptr;
    DravikSimulator *m_sim = nullptr;
    QList<Received> m_received;

    bool receivedFrom(int channel) const
    {
        return std::any_of(m_received.begin(), m_received.end(), [channel](const Received &r) {
            return r.channel == channel;
        });
    }

private Q_SLOTS:
    void init()
    {
        registerSdkMetaTypes();
        m_received.clear();
        m_sim = new DravikSimulator;
        m_sim->setScenario(SimScenario::DampedAc);
        QVERIFY(m_sim->listen());

        QPluginLoader loader(QStringLiteral(DRAVIK_PLUGIN_PATH));
        auto *plugin = qobject_cast<DevicePluginInterface *>(loader.instance());
        QVERIFY(plugin);
        m_object = plugin->createDevice(nullptr);
        m_device = qobject_cast<DeviceInterface *>(m_object);
        QVERIFY(m_device);
        QVERIFY(m_device->initialize());
        // The simulator on this machine before anything opens.
        m_device->applySettings({{QStringLiteral("NetworkAddress"),
                                  QStringLiteral("127.0.0.1:%1").arg(m_sim->serverPort())}});
        m_device->setDataTransferEnabled(true);
        // Every announced chunk is taken at once, and only once.
        connect(m_object, SIGNAL(channelDataAvailable(int, int)), this, SLOT(take(int, int)));
        QSignalSpy opened(m_object, SIGNAL(opened()));
        m_device->open();
        QVERIFY(opened.wait(10000));
    }

    void cleanup()
    {
        delete m_object;
        delete m_sim;
    }

    void take(int channel, int token)
    {
        bool ok = false;
        const ChannelData chunk = m_device->takeChannelData(channel, token, &ok);
        QVERIFY(ok);
        bool again = true;
        m_device->takeChannelData(channel, token, &again);
        QVERIFY(!again);
        float minimum = 0.0f;
        const int samples = chunk.data->size() / (chunk.dataType == ChannelData::DataTypeFloat ? 4 : 1);
        if (chunk.dataType == ChannelData::DataTypeFloat && samples > 0) {
            const auto *v = reinterpret_cast<const float *>(chunk.data->constData());
            minimum = *std::min_element(v, v + samples);
        }
        m_received.append({channel, samples, minimum});
    }

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
        Query query;
        query.mode = mode;
        m_device->setEnvironment(query);
        QSignalSpy started(m_object, SIGNAL(started()));
        m_device->start();
        QVERIFY(started.wait(10000));
        QVERIFY(QTest::qWaitFor([&] { return receivedFrom(channel) && receivedFrom(1021); }, 30000));
        // Read before the stop, which resets the measured values.
        if (mode == 0) {
            // The simulator's damped AC: 50 Hz, attenuation 20 /s.
            const double f = m_device->value(2013).toDouble();
            const double delta = m_device->value(2015).toDouble();
            QVERIFY2(std::abs(f - 50.0) <= 0.25, qPrintable(QString::number(f)));
            QVERIFY2(std::abs(delta - 20.0) <= 1.0, qPrintable(QString::number(delta)));
        }
        QSignalSpy stopped(m_object, SIGNAL(stopped(int)));
        m_device->stop(false);
        QVERIFY(stopped.wait(10000));

        for (const Received &r : qAsConst(m_received)) {
            if (mode == 0 && r.channel == 1018) // cut to ten periods of 50 Hz at 200 kHz
                QVERIFY2(std::abs(r.samples - 40000) <= 400, qPrintable(QString::number(r.samples)));
            if (mode == 1 && r.channel == 1001) // the averaged 0.8 ms pulse at 125 MHz
                QCOMPARE(r.samples, 100000);
            if (r.channel == 1018) // charge as a magnitude
                QVERIFY(r.minimum >= 0.0f);
        }
        if (mode == 1) {
            // The level search ended on a level below its start.
            const float level = m_device->value(1049).toFloat();
            QVERIFY2(level > 0.0f && level < 1.0f, qPrintable(QString::number(level)));
        }
    }
};

QTEST_GUILESS_MAIN(tst_PluginEndToEnd)
#include "tst_pluginendtoend.moc"
