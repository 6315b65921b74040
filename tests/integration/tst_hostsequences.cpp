#include "DravikSimulator.h"
#include "DravikWrapper_v2.h"
#include "LogCapture.h"
#include "TestQuery.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

// Seeded random walks over what a host does with the device it gets from the
// plug-in, interleaved with what a detector on a flaky link does, against the
// in-process simulator. After every step the walk checks what a host relies
// on; at its end the device must open and measure again.
//
// Environment: SEQUENCE_WALKS (default 10), SEQUENCE_STEPS (50),
// SEQUENCE_SEED (first walk's seed; default from the clock, printed),
// SEQUENCE_SECONDS (walk until this much time has passed instead of a count).
// A failing walk prints its seed; SEQUENCE_SEED=<seed> SEQUENCE_WALKS=1
// replays it alone.

namespace {

constexpr int kMaxUntaken = 200; // the host takes promptly; far below the device's bounds

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// The host's side of one walk: the device, what it announced, and the model
// of what it may say next. Every breach is recorded with the step it
// happened in.
class Walk : public QObject
{
    Q_OBJECT

public:
    explicit Walk(quint32 seed)
        : m_random(seed)
        , m_seed(seed)
    {
        m_sim.setScenario(SimScenario::DampedAc);
        m_sim.setAcquisitionDelays(20, 20, 50);
        if (!m_sim.listen())
            breach(QStringLiteral("simulator does not listen: %1").arg(m_sim.errorString()));
        createDevice();
    }
    ~Walk() override { delete m_device; }

    QStringList breaches;

    void run(int steps)
    {
        // Most walks begin on an open device, where most of what can go wrong is.
        if (pick(4) != 0) {
            m_trace << QStringLiteral("open-and-wait");
            m_device->open();
            waitFor([this] { return m_device->isOpen(); }, 5000);
        }
        for (m_step = 1; m_step <= steps && breaches.isEmpty(); ++m_step)
            step();
        m_step = 0;
        if (breaches.isEmpty())
            recover();
    }

    QString trace() const { return m_trace.join(QStringLiteral(", ")); }

private:
    void breach(const QString &what)
    {
        breaches << QStringLiteral("seed %1, step %2 (%3): %4").arg(m_seed).arg(m_step).arg(m_trace.value(
                                                                                              m_trace.size() - 1),
                                                                                          what);
    }

    int pick(int bound) { return int(m_random.bounded(bound)); }

    // Runs the event loop until done() or the time is up.
    bool waitFor(const std::function<bool()> &done, int ms) { return QTest::qWaitFor(done, ms); }

    void createDevice()
    {
        m_device = new DravikWrapper_v2;
        m_device->initialize();
        m_device->applySettings({{QStringLiteral("NetworkAddress"),
                                  QStringLiteral("127.0.0.1:%1").arg(m_sim.serverPort())},
                                 {QStringLiteral("AliveTimout"), 1000}});
        m_device->setDataTransferEnabled(true);
        m_starting = m_running = false;
        m_untaken.clear();
        connect(m_device, &AbstractDevice::started, this, &Walk::onStarted);
        connect(m_device, qOverload<int>(&AbstractDevice::stopped), this, &Walk::onStopped);
        connect(m_device, &AbstractDevice::closed, this, &Walk::onClosed);
        connect(m_device, &AbstractDevice::opened, this, [this] { m_opened = true; });
        connect(m_device, &AbstractDevice::channelDataAvailable, this, &Walk::onChunk);
    }

    // ---- what the device says --------------------------------------------

    void onStarted()
    {
        if (!m_starting)
            breach(QStringLiteral("started() without a start() waiting for its end"));
        m_starting = false;
        m_running = true;
        m_startedAt = m_startCalledAt;
    }

    void onStopped(int status)
    {
        if (m_inStop)
            return; // the answer to stop() while nothing runs: counted there
        if (m_starting)
            m_starting = false;
        else if (!m_running)
            breach(QStringLiteral("stopped(%1) with nothing started").arg(status));
        m_running = false;
    }

    void onClosed()
    {
        m_opened = false;
        if (m_device->isReady() || m_device->isRunning())
            breach(QStringLiteral("closed() while still ready or running"));
        if (m_starting)
            breach(QStringLiteral("closed() with a start that never ended"));
    }

    void onChunk(int channel, int token)
    {
        if (m_untaken.size() < kMaxUntaken && pick(5) == 0) {
            m_untaken.append({channel, token, m_running ? m_startedAt : -1.0});
            return;
        }
        take({channel, token, m_running ? m_startedAt : -1.0});
    }

    struct Announced
    {
        int channel;
        int token;
        double measurementStart; // device seconds at the start() of its measurement, -1 if none
    };

    void take(const Announced &a)
    {
        bool ok = false;
        const ChannelData chunk = m_device->takeChannelData(a.channel, a.token, &ok);
        if (!ok || !chunk.data || chunk.data->isEmpty()) {
            breach(QStringLiteral("announced chunk %1/%2 cannot be taken").arg(a.channel).arg(a.token));
            return;
        }
        if (chunk.channelId != a.channel)
            breach(QStringLiteral("chunk announced for %1 came as %2").arg(a.channel).arg(chunk.channelId));
        // A chunk of a measurement holds nothing recorded before its start();
        // the analysis may move its start back by a filter delay.
        if (a.measurementStart >= 0 && chunk.startTime < a.measurementStart - 0.05)
            breach(QStringLiteral("chunk of channel %1 starts at %2 s, before its measurement (%3 s)")
                       .arg(a.channel)
                       .arg(chunk.startTime, 0, 'f', 6)
                       .arg(a.measurementStart, 0, 'f', 6));
    }

    // ---- one step ----------------------------------------------------------

    void step()
    {
        struct Op
        {
            const char *name;
            int weight;
            void (Walk::*run)();
        };
        static const Op ops[] = {
            {"open", 8, &Walk::open},
            {"close", 4, &Walk::close},
            {"start", 10, &Walk::start},
            {"stop", 8, &Walk::stop},
            {"set", 8, &Walk::setParameter},
            {"environment", 5, &Walk::setEnvironment},
            {"settings", 2, &Walk::applySettings},
            {"initialize", 1, &Walk::initializeAgain},
            {"take", 6, &Walk::takeOne},
            {"take-bad", 3, &Walk::takeBadToken},
            {"delete", 1, &Walk::deleteDevice},
            {"wait", 5, &Walk::waitForNews},
            {"sim-drop", 3, &Walk::simDrop},
            {"sim-silent", 1, &Walk::simSilent},
            {"sim-delay", 3, &Walk::simDelay},
            {"sim-refuse", 3, &Walk::simRefuse},
            {"sim-garbage", 1, &Walk::simGarbage},
            {"sim-heal", 4, &Walk::simHeal},
        };
        int total = 0;
        for (const Op &op : ops)
            total += op.weight;
        int r = pick(total);
        const Op *chosen = ops;
        while (r >= chosen->weight)
            r -= (chosen++)->weight;
        m_trace << QLatin1String(chosen->name);
        (this->*chosen->run)();
        // Let both threads and the simulator move on a little.
        waitFor([] { return false; }, pick(15));
        checkBounds();
    }

    void checkBounds()
    {
        // Qt's own complaints (a queued type not registered, a timer on the
        // wrong thread), and a chunk the device announced but could not hand
        // over to the post-processing, are faults wherever they happen.
        const QStringList qtWarnings = m_log.unexpectedQtWarnings();
        if (!qtWarnings.isEmpty())
            breach(QStringLiteral("Qt warned: %1").arg(qtWarnings.first()));
        const QStringList lost = m_log.texts(QtWarningMsg).filter(QStringLiteral("data (token"));
        if (!lost.isEmpty())
            breach(QStringLiteral("an announced chunk was not there: %1").arg(lost.first()));
        m_log.clear();
        if (m_untaken.size() > kMaxUntaken)
            breach(QStringLiteral("%1 chunks waiting").arg(m_untaken.size()));
        if (m_device && !m_device->isOpen() && m_device->isReady())
            breach(QStringLiteral("ready while not open"));
    }

    void open()
    {
        m_device->open();
        if (pick(2) == 0)
            waitFor([this] { return m_device->isOpen() || m_device->openState() == 0; }, 3000);
    }

    void close() { m_device->close(); }

    void start()
    {
        // A start() while one runs or is on its way is ignored.
        if (!m_starting && !m_running) {
            m_starting = true;
            m_startCalledAt = double(m_sim.deviceTimeNs()) * 1e-9;
        }
        m_device->start();
        if (pick(2) == 0)
            waitFor([this] { return !m_starting; }, 3000);
    }

    void stop()
    {
        // With nothing started the answer is an immediate stopped(0).
        const bool idle = !m_starting && !m_running;
        m_inStop = idle;
        QSignalSpy stopped(m_device, qOverload<int>(&AbstractDevice::stopped));
        m_device->stop(pick(2) == 0);
        m_inStop = false;
        if (idle && stopped.count() != 1)
            breach(QStringLiteral("stop() with nothing started gave %1 stopped()").arg(stopped.count()));
    }

    void setParameter()
    {
        // Parameters a host and the views write: triggers, gains, gating,
        // muxer, timings, user values.
        static const int ids[] = {1043, 1044, 1049, 1050, 1081, 1084, 1087, 1099, 1100,
                                  1111, 1112, 1113, 1114, 1018, 1024, 2000, 2005, 2007, 2008, 2010};
        const int id = ids[pick(int(std::size(ids)))];
        QVariant value;
        switch (pick(4)) {
        case 0:
            value = pick(16);
            break;
        case 1:
            value = float(pick(1000)) / 100.0f;
            break;
        case 2:
            value = id == 2010 ? QVariant(pick(2) == 0) : QVariant(1e-9 * pick(100));
            break;
        default:
            value = QStringLiteral("x"); // nonsense from a host
            break;
        }
        m_device->setValue(id, value);
    }

    void setEnvironment()
    {
        TestQuery query;
        query.mode = pick(4) - 1; // -1 (disengaged) to 2
        query.keyed.insert(AbstractQueryObject::KeyOperationMode, pick(13) - 1);
        if (pick(2) == 0)
            query.keyed.insert(AbstractQueryObject::KeyHvSourceType, pick(6));
        if (pick(2) == 0)
            query.keyed.insert(AbstractQueryObject::KeyNominalCharge, 1e-10 * (1 + pick(50)));
        m_device->setEnvironment(query);
    }

    void applySettings()
    {
        QVariantHash settings{{QStringLiteral("AliveTimout"), 1000 + pick(2000)}};
        if (pick(2) == 0)
            settings.insert(QStringLiteral("HoldTimeDG0"), pick(2) == 0 ? QVariant(-5) : QVariant(1e12));
        m_device->applySettings(settings);
    }

    void initializeAgain() { m_device->initialize(); }

    void takeOne()
    {
        if (!m_untaken.isEmpty())
            take(m_untaken.takeAt(pick(m_untaken.size())));
    }

    void takeBadToken()
    {
        bool ok = true;
        const ChannelData chunk = m_device->takeChannelData(1000 + pick(60), -1 - pick(1000), &ok);
        if (ok || (chunk.data && !chunk.data->isEmpty()))
            breach(QStringLiteral("a token never announced was taken"));
    }

    void deleteDevice()
    {
        delete m_device;
        m_device = nullptr;
        createDevice();
    }

    void waitForNews()
    {
        QSignalSpy news(m_device, &AbstractDevice::openStateChanged);
        QSignalSpy started(m_device, &AbstractDevice::started);
        QSignalSpy stopped(m_device, qOverload<int>(&AbstractDevice::stopped));
        QSignalSpy chunks(m_device, &AbstractDevice::channelDataAvailable);
        waitFor([&] { return !news.isEmpty() || !started.isEmpty() || !stopped.isEmpty() || !chunks.isEmpty(); },
                400);
    }

    void simDrop() { m_sim.setDropAfterFrames(pick(20)); }
    void simSilent() { m_sim.setSilentAfterFrames(pick(20)); }
    void simDelay() { m_sim.setResponseDelay(pick(400)); }
    void simRefuse()
    {
        static const quint16 commands[] = {0x0F00, 0x0F01, 0x0F5B, 0x0F27, 0x0F24, 0x0F22, 0x0F2A};
        m_sim.setFailAck(commands[pick(int(std::size(commands)))], quint16(1 + pick(7)));
    }
    void simGarbage() { m_sim.setGarbageAfterFrames(pick(30)); }
    void simHeal() { m_sim.setFaults(SimFaults()); }

    // ---- the end of a walk ------------------------------------------------

    // Whatever happened, a healed link and open() + start() measure again.
    // Whatever happened, a healed link and open() + start() measure again. A
    // link the walk left desynchronised (garbage in the middle of a frame) is
    // only noticed by the alive supervision, which closes it: a second round
    // then finds it closed and opens it again.
    void recover()
    {
        m_trace << QStringLiteral("recover");
        m_sim.setFaults(SimFaults());
        if (!m_sim.isListening() && !m_sim.listen(QHostAddress::LocalHost, m_sim.serverPort()))
            breach(QStringLiteral("simulator gone"));
        for (int round = 0; round < 2 && !m_running; ++round)
            tryToMeasure();
        if (!m_running)
            breach(QStringLiteral("does not start again (open state %1, detector state %2 read, %3 at the detector)")
                       .arg(m_device->openState())
                       .arg(m_device->value(1010).toString())
                       .arg(m_sim.measurementState()));
        stop();
        if (!waitFor([this] { return !m_running; }, 15000))
            breach(QStringLiteral("does not stop again"));
        while (!m_untaken.isEmpty())
            take(m_untaken.takeFirst());
        checkBounds();
    }

    void tryToMeasure()
    {
        if (m_running || m_starting) {
            stop();
            // An answer lost on the link ends the wait after twice the alive interval.
            if (!waitFor([this] { return !m_running && !m_starting; }, 15000))
                breach(QStringLiteral("no end of the measurement after stop()"));
        }
        if (!m_device->isOpen()) {
            m_device->close();
            if (!waitFor([this] { return m_device->openState() == 0; }, 8000))
                breach(QStringLiteral("does not close (state %1)").arg(m_device->openState()));
            // This simulator serves one host at a time: it refuses a new
            // connection until it has seen the old one go.
            waitFor([this] { return !m_sim.hasClient(); }, 2000);
            m_device->open();
            if (!waitFor([this] { return m_opened && m_device->isOpen(); }, 8000))
                return;
        }
        TestQuery query;
        query.keyed.insert(AbstractQueryObject::KeyOperationMode, 0);
        query.keyed.insert(AbstractQueryObject::KeyHvSourceType, 0);
        m_device->setEnvironment(query);
        m_device->setValue(2010, true); // expert mode: no wait for other requests
        // A detector refuses a start until it is ready again after the last
        // measurement's data has gone out; a host waits for that. A link that
        // only looks alive closes meanwhile.
        // A frame of the muxer in measurement mode 2 is 50 MB; under a
        // sanitizer on a busy machine its transfer takes many seconds.
        if (!waitFor([this] { return m_device->value(1010).toInt() == 1 || !m_device->isOpen(); }, 30000))
            return;
        if (m_device->isOpen()) {
            start();
            waitFor([this] { return !m_starting; }, 15000);
        }
    }

    LogCapture m_log;
    QRandomGenerator m_random;
    const quint32 m_seed;
    int m_step = 0;
    QStringList m_trace;
    DravikSimulator m_sim;
    QPointer<DravikWrapper_v2> m_device;
    bool m_opened = false;
    bool m_starting = false;
    bool m_running = false;
    bool m_inStop = false;
    double m_startCalledAt = -1.0;
    double m_startedAt = -1.0;
    QList<Announced> m_untaken;
};

} // namespace

class tst_HostSequences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void randomWalks()
    {
        const int walks = envInt("SEQUENCE_WALKS", 10);
        const int steps = envInt("SEQUENCE_STEPS", 50);
        const int seconds = envInt("SEQUENCE_SECONDS", 0);
        const quint32 first = quint32(envInt("SEQUENCE_SEED", int(QDateTime::currentMSecsSinceEpoch() & 0x7fffffff)));
        qInfo("walks from seed %u, %d steps each", first, steps);
        QElapsedTimer clock;
        clock.start();
        int done = 0;
        for (quint32 seed = first;; ++seed) {
            if (seconds > 0 ? clock.elapsed() >= seconds * 1000LL : done >= walks)
                break;
            Walk walk(seed);
            walk.run(steps);
            ++done;
            QVERIFY2(walk.breaches.isEmpty(),
                     qPrintable(walk.breaches.join('\n') + QStringLiteral("\nsteps: ") + walk.trace() +
                                QStringLiteral("\nreplay: SEQUENCE_SEED=%1 SEQUENCE_WALKS=1").arg(seed)));
        }
        qInfo("%d walks of %d steps in %lld ms", done, steps, clock.elapsed());
    }
};

QTEST_GUILESS_MAIN(tst_HostSequences)
#include "tst_hostsequences.moc"
