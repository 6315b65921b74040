#include "SimIdentity.h"
#include "SimPacketStream.h"
#include "SimParameterMemory.h"
#include "SimPayloads.h"
#include "SimProtocol.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

constexpr qint64 kMs = 1000000;
constexpr qint64 kSecond = 1000 * kMs;

// A raw packet's header fields and samples (past the 8-byte response header).
struct Packet
{
    int group;
    int layout;
    qint16 gainA;
    quint64 triggerNs;
    quint64 packetNs;
    QByteArray samples;
};

// The data packets of one frame, and its termination packet apart.
struct Frame
{
    QList<Packet> packets;
    Packet termination;
    QByteArray samples;
};

Frame record(int group, qint64 startNs, int samples, qint64 triggerNs, const SimParameterMemory &memory,
             int packetSamples = 0)
{
    SimPacketStream::Frame description;
    description.group = quint8(group);
    description.startNs = startNs;
    description.triggerNs = triggerNs;
    description.samples = samples;
    description.scenario = SimScenario(SimScenario::DampedAc);
    description.frontEnd = SimSignalModel::frontEndFrom(memory);
    SimPacketStream stream(description, packetSamples);
    Frame frame;
    while (!stream.atEnd()) {
        const QByteArray p = stream.nextResponse(3).mid(8);
        const Packet packet{p.at(0), p.at(1), qFromLittleEndian<qint16>(p.constData() + 4),
                            qFromLittleEndian<quint64>(p.constData() + 8), qFromLittleEndian<quint64>(p.constData() + 16),
                            p.mid(24)};
        if (packet.samples.isEmpty()) {
            frame.termination = packet;
        } else {
            frame.packets.append(packet);
            frame.samples.append(packet.samples);
        }
    }
    return frame;
}

// The samples at the ADC input, full scale 1, the packet's gain taken out.
QVector<double> analog(const Frame &frame)
{
    const bool muxer = frame.packets.first().group == 0;
    const double factor = std::pow(10.0, -frame.packets.first().gainA / 256.0 / 20.0);
    const char *d = frame.samples.constData();
    QVector<double> values;
    for (int i = 0; i < frame.samples.size(); i += muxer ? 2 : 4)
        values.append(factor * (muxer ? qFromLittleEndian<qint16>(d + i) / 32768.0
                                       : qFromLittleEndian<qint32>(d + i) / 2147483648.0));
    return values;
}

// The index of the largest magnitude in [from, to).
int peakIn(const QVector<double> &v, int from, int to)
{
    int peak = from;
    for (int i = from; i < to; ++i) {
        if (std::fabs(v.at(i)) > std::fabs(v.at(peak)))
            peak = i;
    }
    return peak;
}

} // namespace

class tst_SimSignals : public QObject
{
    Q_OBJECT

private slots:
    void packetLayout_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("packetSamples");
        QTest::addColumn<int>("gainA");
        QTest::addColumn<int>("packets");

        QTest::newRow("muxer, two full packets and a bit") << 0 << 65505 << 0 << 0 << 3;
        QTest::newRow("test voltage at -30 dB") << 1 << 20000 << 0 << -7680 << 2;
        QTest::newRow("one sample") << 3 << 1 << 0 << 0 << 1;
    }

    void packetLayout()
    {
        QFETCH(int, group);
        QFETCH(int, samples);
        QFETCH(int, packetSamples);
        QFETCH(int, gainA);
        QFETCH(int, packets);

        SimParameterMemory memory{SimIdentity()};
        const qint64 start = 3 * kSecond + 123456;
        const qint64 dt = SimSignalModel::samplePeriodNs(group);
        const Frame frame = record(group, start, samples, start + 1000, memory, packetSamples);

        QCOMPARE(frame.packets.size(), packets);
        const int width = group == 0 ? 2 : 4;
        QCOMPARE(frame.samples.size(), samples * width);
        qint64 expectedNs = start;
        for (const Packet &packet : frame.packets) {
            QCOMPARE(packet.group, group);
            QCOMPARE(packet.layout, 0);
            QCOMPARE(int(packet.gainA), gainA);
            QCOMPARE(packet.triggerNs, quint64(start + 1000));
            QCOMPARE(packet.packetNs, quint64(expectedNs));
            QVERIFY(packet.samples.size() + 24 <= 0xFFFF);
            expectedNs += packet.samples.size() / width * dt;
        }
        QCOMPARE(frame.termination.group, group);
        QCOMPARE(frame.termination.packetNs, quint64(start + samples * dt));
        QCOMPARE(frame.termination.triggerNs, quint64(start + 1000));
    }

    void dampedAcTrueValues()
    {
        SimParameterMemory memory{SimIdentity()};
        const qint64 shot = 7 * kSecond;
        const Frame frame = record(1, shot - kMs, 50000, shot, memory);
        QVector<double> volts = analog(frame);
        for (double &x : volts)
            x *= 2640.0; // the calibration

        QVERIFY(std::fabs(volts.at(50) - 20000.0) < 20.0);
        QVector<double> crossings;
        for (int i = 1; i < volts.size(); ++i) {
            const double t = (i - 100) * 1e-5; // seconds after the shot
            if (t > 0.01 && t < 0.13 && volts.at(i - 1) <= 0 && volts.at(i) > 0)
                crossings.append(t - volts.at(i) / (volts.at(i) - volts.at(i - 1)) * 1e-5);
        }
        QVERIFY(crossings.size() >= 5);
        const double frequency = (crossings.size() - 1) / (crossings.last() - crossings.first());
        QVERIFY2(std::fabs(frequency - 50.0) < 0.05, qPrintable(QString::number(frequency)));
        const double early = volts.at(100 + 2000); // t = 20 ms, a positive crest
        const double late = volts.at(100 + 12000); // t = 120 ms
        const double attenuation = std::log(early / late) / 0.1;
        QVERIFY2(std::fabs(attenuation - 20.0) < 0.2, qPrintable(QString::number(attenuation)));
        QVERIFY(std::fabs(early - 20000.0 * std::exp(-0.4)) < 50.0);
    }

    void pulseAndEcho()
    {
        SimParameterMemory memory{SimIdentity()};
        QCOMPARE(memory.handle(SimProtocol::SetGain, SimPayloads::encodeGain(SimParameterMemory::GainPd, 6.0f)).ack,
                 quint16(SimProtocol::AckOk));
        const qint64 pulse = 3 * kSecond + 10 * kMs;
        const qint64 start = pulse - 2000;
        const Frame frame = record(0, start, 3000, pulse - 2000, memory);
        QCOMPARE(int(frame.packets.first().gainA), 6 * 256);
        const QVector<double> v = analog(frame);

        // The pulse 8 ns after its time (one sample at 125 MHz), the echo 12 us
        // later at 0.6 of it, quiet between.
        const int peak = peakIn(v, 0, 600);
        QCOMPARE(start + peak * 8, pulse + 8);
        QVERIFY2(std::fabs(v.at(peak) + 0.39) < 0.01, qPrintable(QString::number(v.at(peak))));
        const int echo = peakIn(v, 1600, v.size());
        const qint64 delay = (echo - peak) * 8;
        QVERIFY2(delay >= 12000 && delay <= 12040, qPrintable(QString::number(delay)));
        QVERIFY2(std::fabs(v.at(echo) / v.at(peak) - 0.6) < 0.05, qPrintable(QString::number(v.at(echo) / v.at(peak))));
        QVERIFY(std::fabs(v.at(1000)) < 0.01);
    }

    // Where the discharges of a site reach the sensor: the direct pulse after
    // x / v, the echo 2 (L - x) / v later, only in cycles whose voltage step
    // reaches the inception voltage. Cycle 1 below is the first step.
    void sitePulses_data()
    {
        QTest::addColumn<QString>("sites");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("cycle"); // after the origin
        QTest::addColumn<QList<qint64>>("arrivals"); // ns after the discharge at 10 ms into the cycle
        QTest::addColumn<QList<qint64>>("echoes");
        QTest::addColumn<QList<double>>("charges");
        QTest::newRow("default: near end, 1 nC") << QString() << QString() << 1 << QList<qint64>{0} << QList<qint64>{12000}
                                                << QList<double>{-1.0};
        QTest::newRow("two sites") << "250:2,700:0.5" << QString() << 1 << QList<qint64>{1563, 4375}
                                   << QList<qint64>{8875, 3250} << QList<double>{-2.0, -0.5};
        QTest::newRow("first step below the inception") << "250:2:9,700:0.5:13" << "6,10,14" << 1 << QList<qint64>{}
                                                        << QList<qint64>{} << QList<double>{};
        QTest::newRow("second step: one site") << "250:2:9,700:0.5:13" << "6,10,14" << 2 << QList<qint64>{1563}
                                               << QList<qint64>{8875} << QList<double>{-2.0};
        QTest::newRow("steps repeat") << "250:2:9,700:0.5:13" << "6,10,14" << 6 << QList<qint64>{1563, 4375}
                                      << QList<qint64>{8875, 3250} << QList<double>{-2.0, -0.5};
    }

    void sitePulses()
    {
        QFETCH(QString, sites);
        QFETCH(QString, steps);
        QFETCH(int, cycle);
        QFETCH(QList<qint64>, arrivals);
        QFETCH(QList<qint64>, echoes);
        QFETCH(QList<double>, charges);
        SimTestObject object;
        QString error;
        QVERIFY(sites.isEmpty() || object.parseSites(sites, &error));
        QVERIFY(steps.isEmpty() || object.parseVoltageSteps(steps, &error));
        SimScenario scenario(SimScenario::DampedAc, object);
        scenario.setStepOrigin(5 * kSecond); // the first step is cycle 5
        const qint64 discharge = (4 + cycle) * kSecond + 10 * kMs;
        QVector<SimScenario::Pulse> pulses;
        scenario.pulses(discharge, discharge + 5 * kMs, &pulses);
        QCOMPARE(pulses.size(), arrivals.size());
        for (int i = 0; i < pulses.size(); ++i) {
            QCOMPARE(pulses.at(i).timeNs - discharge, arrivals.at(i));
            QCOMPARE(pulses.at(i).echoDelayNs, echoes.at(i));
            QCOMPARE(pulses.at(i).chargeNc, charges.at(i));
        }
        if (!steps.isEmpty()) // the shot of the cycle at its step's voltage
            QVERIFY(std::fabs(scenario.testVoltage((4 + cycle) * kSecond) - object.voltageStepsVolts.at((cycle - 1) % 3)) < 1e-6);
    }

    void trigger_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<int>("source");
        QTest::addColumn<float>("level");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("expected");

        const int dac = SimScenario::DampedAc;
        QTest::newRow("software fires at once") << dac << 68 << 0.5f << 1234LL << 1234LL;
        QTest::newRow("external trigger 0 at the next shot") << dac << 66 << 0.0f << 2 * kSecond + 1 << 3 * kSecond;
        QTest::newRow("external trigger 1 never") << dac << 67 << 0.0f << 0LL << -1LL;
        QTest::newRow("PD filtered above the level") << dac << 4 << 0.25f << 5 * kSecond << 5 * kSecond + 10 * kMs;
        QTest::newRow("PD filtered below the level") << dac << 4 << 0.5f << 5 * kSecond << -1LL;
        QTest::newRow("system gating disturbance") << dac << 2 << 0.3f << 5 * kSecond + 1 << 6 * kSecond;
        QTest::newRow("VLF discharge burst") << int(SimScenario::VlfSine) << 0 << 0.1f << 10 * kSecond
                                             << 12 * kSecond + 300 * kMs;
        QTest::newRow("no high voltage, no shot") << int(SimScenario::Noise) << 66 << 0.0f << 0LL << -1LL;
    }

    void trigger()
    {
        QFETCH(int, scenario);
        QFETCH(int, source);
        QFETCH(float, level);
        QFETCH(qint64, from);

        SimParameterMemory memory{SimIdentity()};
        const SimSignalModel model{SimScenario(SimScenario::Kind(scenario)), SimSignalModel::frontEndFrom(memory)};
        QTEST(model.nextTrigger(quint32(source), level, from, from + 60 * kSecond), "expected");
    }
};

QTEST_APPLESS_MAIN(tst_SimSignals)
#include "tst_simsignals.moc"
