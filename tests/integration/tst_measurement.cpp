#include "DravikSimulator.h"
#include "Dravik_v2.h"
#include "EndToEnd.h"
#include "LogCapture.h"
#include "ParameterHandler.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

// Whole measurements: devices against simulators, raw data through the
// protocol and unpack threads into chunks the host takes. With several
// detectors (one per phase of a three-core cable) all run in this process at
// once, each on its own simulator with its own serial number and test voltage
// programme, so that every chunk can be traced to the detector it came from.
class tst_Measurement : public QObject
{
    Q_OBJECT

    static constexpr int kMaxDetectors = 3;
#if defined(__SANITIZE_THREAD__)
    // Generous: under ThreadSanitizer (scripts/tsan) a run takes many times
    // as long as here.
    static constexpr int kWaitMs = 240000;
    // The detectors' device time runs slower there, so that the instrumented
    // code keeps up with their data instead of piling it up.
    static constexpr double kTimeScale = 0.1;
    // And the instrumented protocol threads answer keep-alives late.
    static constexpr int kAliveTimeoutMs = 30000;
#else
    // A plain build needs a few seconds.
    static constexpr int kWaitMs = 90000;
    static constexpr double kTimeScale = 1.0;
    static constexpr int kAliveTimeoutMs = 5000;
#endif

    static quint64 serial(int detector) { return 310001 + quint64(detector); }
    // Detector d alternates between two steps of its own, 8/11, 14/17 and 20/23 kV,
    // and has one PD site of 0.5, 0.75 or 1 nC: every record names its detector
    // and, in measurement mode 0, its place in the run.
    static double stepVolts(int detector, int shot) { return 1000.0 * (8 + 6 * detector + 3 * (shot % 2)); }
    static double siteNc(int detector) { return 0.5 + 0.25 * detector; }

private Q_SLOTS:
    void init() { QCoreApplication::instance()->setProperty("MaxVoltages", QVariant()); }

    void measurement_data()
    {
        QTest::addColumn<int>("measurementMode");
        QTest::addColumn<int>("tvSamples"); // samples per test voltage chunk
        QTest::addColumn<int>("tvRecords"); // to wait for, per detector
        QTest::addColumn<int>("detectors");
        QTest::addColumn<int>("packetSamples"); // 0: as many as fit
        QTest::newRow("mode 0, DAC+") << 0 << 50000 << 2 << 1 << 0;
        QTest::newRow("mode 1") << 1 << 19936 << 1 << 1 << 0;
        QTest::newRow("mode 2") << 2 << 19936 << 1 << 1 << 0;
        QTest::newRow("mode 0, three detectors at once") << 0 << 50000 << 2 << 3 << 0;
        QTest::newRow("mode 0, small packets") << 0 << 50000 << 2 << 1 << 64;
    }
    void measurement()
    {
        QFETCH(int, measurementMode);
        QFETCH(int, tvSamples);
        QFETCH(int, tvRecords);
        QFETCH(int, detectors);
        QFETCH(int, packetSamples);

        DravikSimulator sims[kMaxDetectors];
        Dravik_v2 devices[kMaxDetectors];
        std::unique_ptr<ChunkTaker> takers[kMaxDetectors];
        QList<int> stops[kMaxDetectors];
        // How many chunks each host had when it saw its detector stopped and
        // Ready, the moment a host takes the measurement as over.
        int chunksAtEnd[kMaxDetectors] = {-1, -1, -1};
        bool stopCalled = false;
        LogCapture log;
        for (int d = 0; d < detectors; ++d) {
            SimIdentity identity;
            identity.serial = serial(d);
            sims[d].setIdentity(identity);
            SimTestObject cable;
            cable.voltageStepsVolts = {stepVolts(d, 0), stepVolts(d, 1)};
            cable.sites = {SimPdSite{250.0 * d, siteNc(d), 0.0}};
            sims[d].setTestObject(cable);
            sims[d].setTimeScale(kTimeScale);
            sims[d].setPacketSamples(packetSamples);
            QVERIFY(sims[d].listen());
            QVERIFY(devices[d].initialize());
            // The simulator on this machine, never the factory address.
            devices[d].setValue(1171, QStringLiteral("127.0.0.1:%1").arg(sims[d].serverPort()));
            devices[d].setValue(1172, kAliveTimeoutMs);
            devices[d].setDataTransferEnabled(true);
            takers[d] = std::make_unique<ChunkTaker>(&devices[d], &devices[d]);
            connect(&devices[d], qOverload<int>(&AbstractDevice::stopped), [&stops, d](int status) { stops[d] << status; });
            connect(devices[d].deviceContainer().data(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged),
                    &devices[d], [&, d](int id) {
                        if (id == 1010 && stopCalled && chunksAtEnd[d] < 0 && !devices[d].isRunning()
                            && devices[d].value(1010) == 1)
                            chunksAtEnd[d] = takers[d]->chunks.size();
                    });
            devices[d].open();
        }
        // Waits until condition holds for every detector.
        const auto waitForAll = [&](const std::function<bool(int)> &condition) {
            return QTest::qWaitFor([&] {
                for (int d = 0; d < detectors; ++d) {
                    if (!condition(d))
                        return false;
                }
                return true;
            }, kWaitMs);
        };
        QVERIFY(waitForAll([&](int d) { return devices[d].isOpen(); }));

        // Each detector under its own key, in the application's table while open.
        const QVariantMap maxVoltages = QCoreApplication::instance()->property("MaxVoltages").toMap();
        QCOMPARE(maxVoltages.size(), detectors);
        for (int d = 0; d < detectors; ++d) {
            QCOMPARE(devices[d].deviceKey(), QStringLiteral("%1-1").arg(serial(d)));
            QCOMPARE(maxVoltages.value(devices[d].deviceKey()), QVariant(devices[d].maxVoltage()));
        }

        const TestQuery query = dacQuery(measurementMode);
        for (int d = 0; d < detectors; ++d)
            devices[d].setEnvironment(query);
        QVERIFY(waitForAll([&](int d) { return devices[d].deviceContainer()->pendingIds().isEmpty(); }));
        for (int d = 0; d < detectors; ++d)
            devices[d].start();
        QVERIFY(waitForAll([&](int d) { return devices[d].isRunning(); }));
        // Run until every detector has delivered its test voltage records whole.
        QVERIFY(waitForAll([&](int d) { return takers[d]->received(1021) >= tvRecords; }));
        stopCalled = true;
        for (int d = 0; d < detectors; ++d)
            devices[d].stop(false);
        // What was complete when a detector stopped still comes in, also to a
        // host slow enough that the detector is Ready before the data it sent
        // has been unpacked (ThreadSanitizer's, or 64-sample packets).
        const bool settled = waitForAll([&](int d) { return chunksAtEnd[d] >= 0; });
        QString states;
        for (int d = 0; d < detectors; ++d)
            states += QStringLiteral(" detector %1: running %2, detector state %3;")
                          .arg(d)
                          .arg(devices[d].isRunning())
                          .arg(devices[d].value(1010).toInt());
        QVERIFY2(settled, qPrintable(states));

        QHash<int, int> samples{{1021, tvSamples}}; // per chunk of a channel, the same for every detector
        for (int d = 0; d < detectors; ++d) {
            QHash<int, double> lastStart;
            int shot = 0;
            for (const ChunkTaker::Chunk &c : qAsConst(takers[d]->chunks)) {
                const QString where = QStringLiteral("detector %1 channel %2").arg(d).arg(c.channel);
                // Each channel's chunks whole and in the order the detector recorded them.
                QVERIFY2(c.start > lastStart.value(c.channel, -1.0), qPrintable(where));
                lastStart.insert(c.channel, c.start);
                QVERIFY2(c.samples == samples.value(c.channel, c.samples), qPrintable(where));
                samples.insert(c.channel, c.samples);
                // The muxer's PD: the largest discharge is 0.39 of full scale per nC, input-referred.
                if (c.channel == 1001 && measurementMode == 0)
                    QVERIFY2(std::abs(c.peak / 0.39 - siteNc(d)) < 0.06 * siteNc(d), qPrintable(where));
                if (c.channel != 1021)
                    continue;
                // The step over the calibration 2640, input-referred. Mode 0
                // triggers on the shots, one record each from the first step on;
                // the other modes record some stretch of a cycle.
                const float charged = float(stepVolts(d, shot++)) / 2640.0f;
                const float highest = float(stepVolts(d, 1)) / 2640.0f;
                const QString peak = QStringLiteral("%1 record %2: %3").arg(where).arg(shot).arg(c.peak);
                if (measurementMode == 0)
                    QVERIFY2(std::abs(c.peak - charged) < 0.05f * charged, qPrintable(peak));
                else
                    QVERIFY2(c.peak < 1.05f * highest, qPrintable(peak));
            }
            QVERIFY(takers[d]->chunks.size() >= 2);
            QCOMPARE(stops[d], QList<int>{0});
            QCOMPARE(sims[d].lostFrames(), 0);
        }

        for (int d = 0; d < detectors; ++d)
            devices[d].close();
        QVERIFY(waitForAll([&](int d) { return devices[d].openState() == 0; }));
        // Nothing came, or was still on its way, after the host saw the end.
        for (int d = 0; d < detectors; ++d)
            QCOMPARE(takers[d]->chunks.size(), chunksAtEnd[d]);
        QCOMPARE(log.texts(QtWarningMsg).filter(QStringLiteral("did not finish")), QStringList());
        QCOMPARE(QCoreApplication::instance()->property("MaxVoltages").toMap(), QVariantMap());
    }
};

QTEST_GUILESS_MAIN(tst_Measurement)
#include "tst_measurement.moc"
