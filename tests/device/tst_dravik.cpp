#include "DravikSimulator.h"
#include "Dravik_v2.h"
#include "LogCapture.h"
#include "ParameterHandler.h"
#include "PdQlp_v2.h"
#include "SimPayloads.h"
#include "TestQuery.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

quint32 u32At(const QByteArray &p, int offset)
{
    return p.size() >= offset + 4 ? qFromLittleEndian<quint32>(p.constData() + offset) : 0xDEADBEEF;
}

float f32At(const QByteArray &p, int offset)
{
    const quint32 bits = u32At(p, offset);
    float v;
    memcpy(&v, &bits, 4);
    return v;
}

QList<int> firstArguments(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QVariantList &args : spy)
        values.append(args.at(0).toInt());
    return values;
}

enum : int {
    Trigger1Level = 1049,
    SettingsConnection = 1171,
    UserCharge = 2000,
    UserOperationMode = 2001,
    UserMeasurementMode = 2002,
    ExpertMode = 2010,
};

} // namespace

// The detector device against the simulator on a loopback port.
class tst_Dravik : public QObject
{
    Q_OBJECT

private:
    DravikSimulator *m_sim = nullptr;
    Dravik_v2 *m_device = nullptr;

    ParameterHandler &deviceParams() { return *m_device->deviceContainer(); }

    void openRig()
    {
        QSignalSpy opened(m_device, &AbstractDevice::opened);
        m_device->open();
        QVERIFY(opened.wait(10000));
    }

    // Waits until the link has carried every requested device parameter.
    void settle()
    {
        const bool settled = QTest::qWaitFor([this] { return deviceParams().pendingIds().isEmpty(); }, 10000);
        QString ids;
        for (int id : deviceParams().pendingIds())
            ids += QString::number(id) + QLatin1Char(' ');
        QVERIFY2(settled, qPrintable(ids));
    }

    void applyEnvironment(const TestQuery &query)
    {
        m_device->setEnvironment(query);
        settle();
    }

private Q_SLOTS:
    // A fresh simulator and an initialised device aimed at it.
    void init()
    {
        m_sim = new DravikSimulator;
        QVERIFY2(m_sim->listen(), qPrintable(m_sim->errorString()));
        m_device = new Dravik_v2;
        QVERIFY(m_device->initialize());
        // Never the factory address: the simulator on this machine only.
        QCOMPARE(m_device->setValue(SettingsConnection, QStringLiteral("127.0.0.1:%1").arg(m_sim->serverPort())), 0);
    }

    void cleanup()
    {
        delete m_device;
        delete m_sim;
        m_device = nullptr;
        m_sim = nullptr;
    }

    void openIdentifyRefreshAndClose_data()
    {
        QTest::addColumn<bool>("hostCloses"); // false: the detector drops the link
        QTest::newRow("closed by the host") << true;
        QTest::newRow("dropped by the detector") << false;
    }
    void openIdentifyRefreshAndClose()
    {
        QFETCH(bool, hostCloses);
        QSignalSpy states(m_device, &AbstractDevice::openStateChanged);
        QSignalSpy opened(m_device, &AbstractDevice::opened);
        QSignalSpy closed(m_device, &AbstractDevice::closed);
        QSignalSpy inspect(m_device, &Dravik_v2::inspectEvent);
        QElapsedTimer clock;

        m_device->open();
        QTRY_COMPARE(m_device->openState(), 1);
        clock.start();
        QVERIFY(opened.wait(10000));
        // The start-up delay after a passed version check.
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(firstArguments(states), (QList<int>{1, 2}));
        QVERIFY(m_device->isOpen());
        QCOMPARE(m_device->value(1002).toULongLong(), SimIdentity().serial);
        QCOMPARE(m_device->value(2009), m_device->value(1002));
        QVERIFY(m_device->value(1008).isValid());
        // The full refresh reached every command instance.
        QVERIFY(m_sim->requestCount(0x0F42) >= 5);
        QVERIFY(m_sim->requestCount(0x0F4C) >= 8);
        QStringList names;
        for (const auto &args : qAsConst(inspect)) {
            if (args.at(0).toInt() == 2)
                names << args.at(1).toHash().value(QStringLiteral("text")).toString();
        }
        QCOMPARE(names, (QStringList{"connecting", "connected"}));

        if (hostCloses)
            m_device->close();
        else
            m_sim->close();
        QVERIFY(closed.wait(10000));
        QCOMPARE(closed.first().first().toInt(), -1003);
        QVERIFY(!m_device->isOpen());
        if (hostCloses) {
            QCOMPARE(firstArguments(states), (QList<int>{1, 2, 3, 0}));
        } else {
            // Identification values become invalid.
            QVERIFY(!m_device->value(1008).isValid());
            QVERIFY(!m_device->value(1009).isValid());
        }
    }

    void rejectedVersionsOpenButNeverStartable_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("firmware");
        QTest::addColumn<int>("software");
        QTest::addColumn<int>("hardware");
        QTest::addColumn<QString>("text");
        const QString text = QStringLiteral("Dravik %1 not supported! You need at least version %2 or higher. "
                                            "Current version is %3.");
        QTest::newRow("protocol 1") << 1 << 23 << 11 << 3 << text.arg("protocol").arg(2).arg(1);
        QTest::newRow("firmware 22") << 2 << 22 << 2 << 3 << text.arg("firmware").arg(23).arg(22);
        // Below software 2 the hardware version stands for the firmware; the
        // message still names the firmware parameter.
        QTest::newRow("software 1 uses hardware") << 2 << 30 << 1 << 22 << text.arg("firmware").arg(23).arg(30);
        QTest::newRow("software 10") << 2 << 23 << 10 << 3 << text.arg("software").arg(11).arg(10);
    }
    // Opened, so that the firmware can be updated, but never startable,
    // whatever the firmware number: the last word is startableChanged(false).
    void rejectedVersionsOpenButNeverStartable()
    {
        QFETCH(int, protocol);
        QFETCH(int, firmware);
        QFETCH(int, software);
        QFETCH(int, hardware);
        QFETCH(QString, text);
        SimIdentity identity;
        identity.protocolVersion = quint8(protocol);
        identity.firmwareVersion = quint8(firmware);
        identity.softwareVersion = quint8(software);
        identity.hardwareVersion = quint8(hardware);
        m_sim->setIdentity(identity);
        QSignalSpy notes(m_device, qOverload<StatusType, QString, int>(&AbstractDevice::notification));
        QSignalSpy startables(m_device, &Dravik_v2::startableChanged);
        QElapsedTimer clock;
        clock.start();
        openRig();
        // Reported connected at once, without the start-up delay or a refresh.
        QVERIFY(clock.elapsed() < 900);
        QCOMPARE(notes.count(), 1);
        QCOMPARE(notes.first().at(0).value<StatusType>(), StatusError);
        QCOMPARE(notes.first().at(1).toString(), text);
        QCOMPARE(notes.first().at(2).toInt(), -1);
        QCOMPARE(startables.last().first().toBool(), false);
        QVERIFY(!m_device->isOpenAndStartable());
        QCOMPARE(m_sim->requestCount(0x0F42), 0);
        QCOMPARE(m_device->openState(), 2);
        // A start is refused at once, with a stop the host can wait for.
        QSignalSpy stopped(m_device, qOverload<int>(&AbstractDevice::stopped));
        m_device->start();
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(stopped.first().first().toInt(), int(Dravik_v2::StatusDeviceNotSupported));
    }

    void pollsStateAndVitalData()
    {
        openRig();
        m_sim->resetCounters();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QTest::qWaitFor([this] { return m_sim->requestCount(0x0F4F) >= 4; }, 5000));
        const qint64 elapsed = clock.elapsed();
        const int states = m_sim->requestCount(0x0F41);
        // Every 100 ms and every 500 ms; loose bounds, this is not a timing test.
        QVERIFY2(states >= elapsed / 100 / 2 && states <= elapsed / 100 * 2 + 2,
                 qPrintable(QStringLiteral("%1 in %2 ms").arg(states).arg(elapsed)));
        QVERIFY(m_sim->requestCount(0x0F83) >= 3);
    }

    void startParameters_data()
    {
        QTest::addColumn<int>("measurementMode");
        QTest::addColumn<int>("operationMode");
        QTest::addColumn<unsigned>("shots");
        // periods, sample period, pretrigger of TV and muxer; trigger sources
        // of trigger 0 (charge) and 1 (muxer); system gating activation.
        QTest::addColumn<QList<quint64>>("tv");
        QTest::addColumn<QList<quint64>>("muxer");
        QTest::addColumn<quint32>("source0");
        QTest::addColumn<quint32>("source1");
        QTest::addColumn<quint32>("gating");

        using L = QList<quint64>;
        QTest::newRow("mode 1") << 1 << 0 << 0u << L{1, 199360000, 0} << L{500, 800000, 300000} << 68u << 4u << 0u;
        QTest::newRow("mode 2") << 2 << 0 << 0u << L{1, 199360000, 0} << L{1, 100000000, 0} << 68u << 68u << 0u;
        QTest::newRow("invalid mode 7") << 7 << 0 << 0u << L{1, 200000000, 0} << L{1, 200000000, 0} << 68u << 68u
                                        << 0u;
        QTest::newRow("DAC+") << 0 << 0 << 0u << L{4294967295u, 500000000, 1000000} << L{4294967295u, 50000000, 0}
                              << 66u << 66u << 1u;
        QTest::newRow("CR slope") << 0 << 2 << 0u << L{4294967295u, 35000000, 1000000}
                                  << L{4294967295u, 30000000, 0} << 66u << 66u << 1u;
        QTest::newRow("VLF sine, 25 shots") << 0 << 3 << 25u << L{1, 315360000000000000ull, 0}
                                            << L{25, 1000000, 500000} << 68u << 13u << 1u;
        QTest::newRow("noise") << 0 << 4 << 0u << L{1, 200000000, 0} << L{1, 50000000, 0} << 68u << 68u << 1u;
        QTest::newRow("sensitivity: periods 0") << 0 << 10 << 0u << L{0, 200000000, 0} << L{0, 200000000, 0} << 68u
                                                << 68u << 1u;
    }
    void startParameters()
    {
        QFETCH(int, measurementMode);
        QFETCH(int, operationMode);
        QFETCH(unsigned, shots);
        QFETCH(QList<quint64>, tv);
        QFETCH(QList<quint64>, muxer);
        QFETCH(quint32, source0);
        QFETCH(quint32, source1);
        QFETCH(quint32, gating);

        openRig();
        TestQuery query;
        query.mode = measurementMode;
        query.shots = shots;
        query.keyed.insert(AbstractQueryObject::KeyOperationMode, operationMode);
        applyEnvironment(query);

        // A timing instance: periods at 4, sample period at 8, pretrigger at 16 (64 bits each but periods).
        const auto timing = [this](quint8 group) {
            const QByteArray p = m_sim->parameter(0x0F42, group).leftJustified(40, '\0');
            return QList<quint64>{u32At(p, 4), qFromLittleEndian<quint64>(p.constData() + 8),
                                  qFromLittleEndian<quint64>(p.constData() + 16)};
        };
        QCOMPARE(timing(1), tv);
        QCOMPARE(timing(2).at(1), tv.at(1)); // the charge records as long as the test voltage
        QCOMPARE(timing(0), muxer);
        // Charge channels 1 and 2 acquire nothing.
        QCOMPARE(timing(3).at(0) + timing(4).at(0), 0ull);
        QCOMPARE(u32At(m_sim->parameter(0x0F44, 0), 4), source0);
        QCOMPARE(u32At(m_sim->parameter(0x0F44, 1), 4), source1);
        const QByteArray systemGating = m_sim->parameter(0x0F46, 3);
        QCOMPARE(quint32(quint8(systemGating.at(1))), gating);
        QCOMPARE(f32At(systemGating, 4), 0.1585f);
        QCOMPARE(u32At(systemGating, 8), 20000u);
    }

    // Hold-time overrides reach the detector as given; values it cannot take
    // (negative, not finite, beyond 32 bits) are refused with a warning and
    // the built-in value stays.
    void gatingPathAndSettingsOverrides_data()
    {
        QTest::addColumn<QVariant>("digitalHold");
        QTest::addColumn<QVariant>("systemHold");
        QTest::addColumn<quint32>("digitalSent");
        QTest::addColumn<quint32>("systemSent");
        QTest::addColumn<int>("warnings");
        QTest::newRow("as given") << QVariant(1234) << QVariant("777") << 1234u << 777u << 0;
        QTest::newRow("negative") << QVariant(-5) << QVariant(-1.0) << 200000u << 0u << 2;
        QTest::newRow("beyond 32 bits") << QVariant(1e12) << QVariant(4294967296.0) << 200000u << 0u << 2;
        QTest::newRow("not finite") << QVariant(qInf()) << QVariant("nan") << 200000u << 0u << 2;
    }
    void gatingPathAndSettingsOverrides()
    {
        QFETCH(QVariant, digitalHold);
        QFETCH(QVariant, systemHold);
        QFETCH(quint32, digitalSent);
        QFETCH(quint32, systemSent);
        QFETCH(int, warnings);
        openRig();
        // Straight into the parameters, as a host or the debug view may write them.
        m_device->setValue(1173, digitalHold);
        m_device->setValue(1175, systemHold);
        m_device->applySettings({{"SystemGatingLevel", 0.25}});
        LogCapture log;
        TestQuery query;
        query.keyed.insert(AbstractQueryObject::KeyOperationMode, 0);
        query.keyed.insert(AbstractQueryObject::KeyHvSourceType, 1);
        applyEnvironment(query);

        // HV source type 1 gates through digital channel 0; system gating off.
        QCOMPARE(quint8(m_sim->parameter(0x0F46, 0).at(1)), quint8(1));
        const QByteArray system = m_sim->parameter(0x0F46, 3);
        QCOMPARE(quint8(system.at(1)), quint8(0));
        // The overrides replace the built-in values all the same.
        QCOMPARE(f32At(system, 4), 0.25f);
        QCOMPARE(u32At(system, 8), systemSent);
        QCOMPARE(u32At(m_sim->parameter(0x0F4C, 0), 5), digitalSent);
        QCOMPARE(log.texts(QtWarningMsg).filter("ignoring").size(), warnings);
        // The gain of the system gating channel is fixed.
        QCOMPARE(f32At(m_sim->parameter(0x0F47, 0), 4), -16.0f);
    }

    // Every start() ends in exactly one started() or stopped(), and a stop()
    // given while the start is pending is not lost: the host hears exactly
    // one stopped(), and the detector is not left measuring.
    void everyStartEndsOnceAndStopIsNeverLost_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("expected"); // in order: "started", "stopped <status>"
        QTest::addColumn<int>("startSent"); // -1: either
        QTest::newRow("stop while waiting for parameters") << "waiting" << QStringList{"stopped 0"} << 0;
        QTest::newRow("stop while the start is on its way") << "delayed" << QStringList{"started", "stopped 0"} << 1;
        QTest::newRow("start refused") << "refused" << QStringList{"stopped -1006"} << 1;
        QTest::newRow("link lost while starting") << "lost" << QStringList{"stopped -4"} << -1;
        QTest::newRow("close while waiting for parameters") << "close" << QStringList{"stopped -4"} << 0;
        QTest::newRow("not connected") << "closed" << QStringList{"stopped -1005"} << 0;
    }
    void everyStartEndsOnceAndStopIsNeverLost()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, expected);
        QFETCH(int, startSent);
        if (scenario != "closed")
            openRig();
        QStringList seen;
        connect(m_device, &AbstractDevice::started, this, [&seen] { seen << "started"; });
        connect(m_device, qOverload<int>(&AbstractDevice::stopped), this,
                [&seen](int status) { seen << QStringLiteral("stopped %1").arg(status); });
        // A simplified start waits while a user parameter is pending.
        if (scenario == "waiting" || scenario == "close") {
            const QSignalBlocker blocker(m_device->userContainer().data());
            m_device->userContainer()->setValue(2008, 60);
        } else {
            m_device->setValue(ExpertMode, true);
        }
        if (scenario == "delayed" || scenario == "lost")
            m_sim->setResponseDelay(300);
        if (scenario == "refused")
            m_sim->setFailAck(0x0F00);
        m_sim->resetCounters();

        m_device->start();
        if (scenario == "waiting" || scenario == "delayed")
            m_device->stop();
        else if (scenario == "lost")
            m_sim->close();
        else if (scenario == "close")
            m_device->close();
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), expected.size(), 10000);
        QCOMPARE(seen, expected);
        if (startSent >= 0)
            QCOMPARE(m_sim->requestCount(0x0F00) > 0, startSent == 1);
        QVERIFY(!m_device->isRunning() && !m_device->isReady());
        if (scenario == "delayed")
            QTRY_VERIFY(m_sim->measurementState() != 2 && m_sim->measurementState() != 3);
        // A second start while one is on its way is refused without a word to the host.
        if (scenario == "refused") {
            m_sim->clearFailAck(0x0F00);
            m_device->start();
            m_device->start();
            QTRY_COMPARE(seen.size(), expected.size() + 1);
            QCOMPARE(seen.last(), QStringLiteral("started"));
        }
    }

    // Ready follows the detector's Running while we run; the link going down
    // clears running and ready, and the next measurement is ready again.
    void runningAndReadyFollowTheDetectorAndTheLink()
    {
        openRig();
        QSignalSpy commands(m_device, &Dravik_v2::measurementCommand);
        QSignalSpy ready(m_device, &AbstractDevice::ready);
        QSignalSpy stopped(m_device, qOverload<int>(&AbstractDevice::stopped));
        LogCapture log;

        // The detector runs without a start from us: stopped, with a warning.
        deviceParams().update(1010, 3u, 0);
        QCOMPARE(commands.count(), 1);
        QCOMPARE(commands.first().first().value<MeasurementCommands>(), StopMeasurement);
        QCOMPARE(log.texts(QtWarningMsg).filter("stopping measurement on device").size(), 1);

        m_device->setValue(ExpertMode, true);
        for (int round = 0; round < 2; ++round) {
            ready.clear();
            stopped.clear();
            m_device->start();
            QTRY_VERIFY_WITH_TIMEOUT(m_device->isReady(), 10000);
            QCOMPARE(ready.count(), 1);
            QVERIFY(ready.first().first().toBool());
            m_sim->close();
            QVERIFY(stopped.wait(10000));
            QCOMPARE(stopped.first().first().toInt(), -4);
            QCOMPARE(ready.count(), 2);
            QVERIFY(!ready.last().first().toBool());
            QVERIFY(!m_device->isRunning() && !m_device->isReady());
            QTRY_COMPARE_WITH_TIMEOUT(m_device->openState(), 0, 10000);
            QVERIFY(m_sim->listen());
            QCOMPARE(m_device->setValue(SettingsConnection, QStringLiteral("127.0.0.1:%1").arg(m_sim->serverPort())), 0);
            openRig();
        }
    }

    void channelStateReports()
    {
        openRig();
        QSignalSpy commands(m_device, &Dravik_v2::measurementCommand);
        auto report = [this](int id, quint8 byte) {
            deviceParams().update(id, QVariant::fromValue(st_ChannelMeasState{byte}), 0);
        };

        m_device->setDataTransferEnabled(false);
        report(1013, 0x42);
        QCOMPARE(commands.count(), 1);
        QCOMPARE(commands.first().at(0).value<MeasurementCommands>(), DiscardData);
        QCOMPARE(commands.first().at(1).toInt(), 2);

        commands.clear();
        m_device->setDataTransferEnabled(true);
        report(1013, 0xC2); // bit 7: not a valid report
        report(1013, 0x02); // no data ready
        QCOMPARE(commands.count(), 0);
        report(1013, 0x42);
        report(1013, 0x42); // within 100 ms: the first request is still in flight
        report(1011, 0x40);
        QCOMPARE(commands.count(), 2);
        QCOMPARE(commands.at(0).at(0).value<MeasurementCommands>(), TransferData);
        QCOMPARE(commands.at(0).at(1).toInt(), 2);
        QCOMPARE(commands.at(1).at(1).toInt(), 0);
        // After the guard interval the channel may be requested again.
        QTRY_VERIFY_WITH_TIMEOUT((report(1013, 0x42), commands.count() == 3), 1000);
    }

    // A target of 25 dB picks the 20 dB level (the choice's other cases are in tst_devicehelpers).
    void gainChoiceAndTriggerLevel()
    {
        const double targetDb = 25.0;
        const float gain = 20.0f;
        // The detector's levels: the connection's own gain update reads them.
        QCOMPARE(m_sim->setParameter(0x0F48, 3, SimPayloads::encodeGainLevelList(3, {0, 10, 20, 30})), quint16(0));
        openRig();
        applyEnvironment(TestQuery()); // measurement mode 0
        deviceParams().update(1084, 0.0f, 0); // narrow bandwidth: k = 0.39
        m_device->setValue(2006, 2.0);
        // q such that -20 log10(q 1e9 k) is the target.
        const double charge = std::pow(10.0, targetDb / -20.0) / 0.39 * 1e-9;
        m_device->setValue(UserCharge, charge);
        settle();
        QTRY_COMPARE(f32At(m_sim->parameter(0x0F47, 3), 4), gain);
        // Trigger level by charge: 2008 % of the charge, through the gain and calibration.
        const double qt = 50.0 / 100.0 * charge;
        const double expected = std::abs(qt / std::pow(10.0, gain / -20.0) / 2.0);
        QTRY_VERIFY(qFuzzyCompare(f32At(m_sim->parameter(0x0F44, 1), 8), float(expected)));
    }

    // Checked for the first mode a host sets and again on every connection.
    void operationModeSupport()
    {
        openRig();
        m_device->setValue(1124, 3); // Corvin: 30 kV, modes 1, 9, 11
        settle();
        QCOMPARE(m_device->maxVoltage(), 30000);
        QSignalSpy notes(m_device, qOverload<StatusType, QString, int>(&AbstractDevice::notification));
        QSignalSpy startables(m_device, &Dravik_v2::startableChanged);
        const auto lastNote = [&notes] { return notes.isEmpty() ? QString() : notes.last().at(1).toString(); };
        m_device->setValue(UserOperationMode, 0);
        QCOMPARE(lastNote(), "Operation mode 'DAC positive' not supported.");
        m_device->setValue(UserOperationMode, 3);
        QCOMPARE(notes.count(), 2);
        QCOMPARE(notes.last().at(0).value<StatusType>(), StatusWarning);
        QCOMPARE(lastNote(), "Operation mode 'VLF Sinus' not supported.");
        QCOMPARE(startables.last().first().toBool(), false);
        QCOMPARE(m_device->value(UserOperationMode).toInt(), 3); // accepted as the user's value

        // A reconnect does not make it startable.
        m_device->close();
        QTRY_COMPARE(m_device->openState(), 0);
        openRig();
        QCOMPARE(notes.count(), 3);
        QCOMPARE(startables.last().first().toBool(), false);

        m_device->setValue(UserOperationMode, 4);
        QCOMPARE(notes.count(), 3);
        QCOMPARE(startables.last().first().toBool(), true);
        // Switching to sensitivity check resets the charge; staying there does not.
        m_device->setValue(UserOperationMode, 10);
        QCOMPARE(m_device->value(UserCharge).toDouble(), 1e-10);
        m_device->setValue(UserCharge, 5e-9);
        m_device->setValue(UserOperationMode, 10);
        QCOMPARE(m_device->value(UserCharge).toDouble(), 5e-9);
    }

    // Without a connection: status texts, unknown ids, an environment with
    // invalid keyed values, and the settings round trip.
    void withoutConnection()
    {
        Dravik_v2 device;
        QVERIFY(device.initialize());
        // A second initialize() changes nothing: no second protocol thread.
        QVERIFY(device.initialize());
        QCOMPARE(device.findChildren<QThread *>().size(), 1);
        QVERIFY(!device.icon().isNull());
        QCOMPARE(device.statusInfo(-1007), qMakePair(StatusError, QStringLiteral("Connection to Dravik lost")));
        QCOMPARE(device.statusInfo(-1008).first, StatusWarning); // a dropped shot
        QCOMPARE(device.statusInfo(0), qMakePair(StatusInformation, QString()));
        QCOMPARE(device.setValue(4242, 1), -1);

        device.setValue(UserOperationMode, 2);
        device.setValue(2005, 3.5);
        TestQuery query;
        query.mode = 1;
        query.shots = 12;
        query.keyed.insert(AbstractQueryObject::KeyOperationMode, QVariant());
        query.keyed.insert(AbstractQueryObject::KeyChargeToVoltageFactor, QVariant());
        query.keyed.insert(AbstractQueryObject::KeyNominalCharge, 1e-12); // too small to become the charge
        device.setEnvironment(query);
        QCOMPARE(device.value(UserOperationMode).toInt(), 2);
        QCOMPARE(device.value(2005).toDouble(), 3.5);
        QCOMPARE(device.value(UserMeasurementMode).toInt(), 1);
        QCOMPARE(device.value(2011).toUInt(), 12u);
        QCOMPARE(device.value(2003).toDouble(), 1e-12);
        // Measurement mode set from "never set": the charge went to its default.
        QCOMPARE(device.value(UserCharge).toDouble(), 1e-9);

        QCOMPARE(device.settings(), (QVariantHash{{"NetworkAddress", "192.168.220.100:52922"}, {"AliveTimout", 5000}}));
        const QVariantHash applied{{"NetworkAddress", "127.0.0.1:5000"}, {"AliveTimout", 3000}, {"HoldTimeDG0", 100u},
                                   {"SystemGatingLevel", 0.2}, {"SystemGatingHoldTime", 30000u},
                                   {"PdLogFile", "/tmp/dravik.log"}, {"MaxShotsVLFSinLocalization", 9u},
                                   {"DevelopMode", true}};
        QVERIFY(device.applySettings(applied));
        QVERIFY(device.serviceAccess() && device.productionAccess());
        QVariantHash expected = applied;
        expected.remove("MaxShotsVLFSinLocalization");
        expected.remove("DevelopMode");
        QCOMPARE(device.settings(), expected);
        QCOMPARE(device.value(2011).toUInt(), 9u);
        QVERIFY(!device.applySettings({{"HoldTimeDG0", "many"}}));
        QCOMPARE(device.value(1173).toUInt(), 100u);
    }

    // With the protocol thread really running: the host asks again while the
    // read-back of its first value is on its way; the older read-back must
    // not confirm over the newer request, only the newer one's read-back does.
    void readBackNeverConfirmsOverANewerRequest()
    {
        openRig();
        settle();
        m_sim->setResponseDelay(150);
        const float first = 0.25f;
        const float second = 0.75f;
        bool secondAsked = false;
        QList<float> confirmedAfterwards;
        QObject scope; // the connections below end with this test
        connect(m_sim, &DravikSimulator::requestReceived, &scope, [&](quint16 command, const QByteArray &payload) {
            // The read-back of the first value has reached the detector.
            if (command == 0x0F44 && payload.startsWith('\x01') && !secondAsked) {
                secondAsked = true;
                m_device->setValue(Trigger1Level, second);
            }
        });
        connect(&deviceParams(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged), &scope,
                [&](int id, int status) {
                    if (id == Trigger1Level && secondAsked && status != 1)
                        confirmedAfterwards << (status == 0 ? m_device->value(Trigger1Level).toFloat() : -1.0f);
                });
        m_device->setValue(Trigger1Level, first);
        // The container's signals come from the protocol thread, queued.
        QTRY_VERIFY_WITH_TIMEOUT(!confirmedAfterwards.isEmpty() && !deviceParams().pendingIds().contains(Trigger1Level),
                                 10000);
        QCOMPARE(confirmedAfterwards, QList<float>{second});
        QCOMPARE(f32At(m_sim->parameter(0x0F44, 1), 8), second);
    }

    // A detector that keeps refusing remote power is asked three times, then
    // the user is told once; the next open() asks again. The first refusal
    // is a warning naming the parameters.
    void remotePowerRefusalsAreBounded()
    {
        m_sim->setFailAck(0x0F27);
        QSignalSpy notes(m_device, qOverload<StatusType, QString, int>(&AbstractDevice::notification));
        const auto errors = [&notes] {
            return std::count_if(notes.begin(), notes.end(),
                                 [](const QList<QVariant> &n) { return n.at(0).value<StatusType>() == StatusError; });
        };
        openRig();
        QTRY_COMPARE_WITH_TIMEOUT(errors(), 1, 10000);
        QVERIFY2(notes.first().at(1).toString().startsWith(QLatin1String("The detector refused Gain")),
                 qPrintable(notes.first().at(1).toString()));
        // After the gain write that follows the last refusal: four vital-data
        // polls (two seconds) without a further gain write.
        const auto pollsFromNow = [this](int count) {
            const int polls = m_sim->requestCount(0x0F4F);
            return QTest::qWaitFor([=] { return m_sim->requestCount(0x0F4F) >= polls + count; }, 10000);
        };
        QVERIFY(pollsFromNow(2));
        const int writes = m_sim->requestCount(0x0F27);
        QVERIFY(pollsFromNow(4));
        QCOMPARE(m_sim->requestCount(0x0F27), writes);
        QCOMPARE(errors(), 1);

        m_device->close();
        QTRY_COMPARE(m_device->openState(), 0);
        openRig();
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->requestCount(0x0F27) > writes, 10000);
    }

    // close() while the device is still connecting ends in one closed() and
    // no opened(); an open() right after a close() connects again.
    void closeWhileConnectingAndOpenRightAfterClose()
    {
        QSignalSpy opened(m_device, &AbstractDevice::opened);
        QSignalSpy closed(m_device, &AbstractDevice::closed);
        QSignalSpy states(m_device, &AbstractDevice::openStateChanged);
        connect(m_device, &AbstractDevice::openStateChanged, this, [this](int state) {
            if (state == Dravik_v2::StateConnecting)
                m_device->close();
        }, Qt::QueuedConnection);
        m_device->open();
        QVERIFY(closed.wait(10000));
        QCOMPARE(m_device->openState(), 0);
        m_device->disconnect(this);
        QTRY_VERIFY(!m_sim->hasClient());
        QCOMPARE(opened.count(), 0);
        QCOMPARE(closed.count(), 1);

        openRig();
        states.clear();
        m_device->close();
        m_device->open();
        // Connecting again after the close. Whether this simulator takes the
        // new connection depends on whether it has seen the old one go (it
        // serves one host at a time), so the test stops at the reconnect.
        QTRY_VERIFY_WITH_TIMEOUT(firstArguments(states).mid(firstArguments(states).indexOf(0)).contains(1), 10000);
    }

    void hardwareChannelMapFollowsMuxer()
    {
        openRig();
        QSignalSpy notes(m_device, qOverload<StatusType, QString, int>(&AbstractDevice::notification));
        // Dual mode: selectors on hardware 3 and 4.
        m_device->setValue(1113, 1u);
        m_device->setValue(1111, 2u);
        m_device->setValue(1112, 7u);
        settle();
        QTRY_COMPARE(m_device->hwChannelMap().value(3), 1002);
        QCOMPARE(m_device->hwChannelMap().value(4), 1009);
        QVERIFY(!m_device->hwChannelMap().contains(0));
        // Both on one channel: the second output is not recorded, and the user hears so once.
        m_device->setValue(1112, 2u);
        settle();
        QTRY_COMPARE(m_device->hwChannelMap().value(4), -1);
        QCOMPARE(m_device->hwChannelMap().value(3), 1002);
        m_device->refreshAllParameters(true);
        settle();
        QCOMPARE(notes.count(), 1);
        QCOMPARE(notes.first().at(1).toString(),
                 "Both muxer channels select 'System gating raw'; only muxer channel 0 is recorded.");
        // Single mode with gating info.
        m_device->setValue(1114, 1u);
        m_device->setValue(1113, 0u);
        m_device->setValue(1111, 5u);
        settle();
        QTRY_COMPARE(m_device->hwChannelMap().value(0), 1006);
        QCOMPARE(m_device->hwChannelMap().value(1), 1004);
        QCOMPARE(m_device->hwChannelMap().value(5), 1018);
        // HV source type 3 (set by the host's environment) reroutes at once.
        m_device->setValue(1178, 3);
        QCOMPARE(m_device->hwChannelMap().value(0), 1001);
        QCOMPARE(m_device->hwChannelMap().value(5), 1019);
    }
};

QTEST_MAIN(tst_Dravik)
#include "tst_dravik.moc"
