#include "SimCrc32.h"
#include "SimIdentity.h"
#include "SimPacketStream.h"
#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

constexpr qint64 kMs = 1000000;
constexpr qint64 kSecond = 1000 * kMs;

// A raw packet read back from the layout table: 24-byte header, then samples.
struct Packet
{
    int group = -1;
    int layout = -1;
    qint16 gainA = 0;
    qint16 gainB = 0;
    quint64 triggerNs = 0;
    quint64 packetNs = 0;
    QByteArray samples;
};

Packet readPacket(const QByteArray &response)
{
    const QByteArray p = response.mid(8); // past the response header
    const auto *d = reinterpret_cast<const uchar *>(p.constData());
    Packet packet;
    packet.group = d[0];
    packet.layout = d[1];
    packet.gainA = qFromLittleEndian<qint16>(d + 4);
    packet.gainB = qFromLittleEndian<qint16>(d + 6);
    packet.triggerNs = qFromLittleEndian<quint64>(d + 8);
    packet.packetNs = qFromLittleEndian<quint64>(d + 16);
    packet.samples = p.mid(24);
    return packet;
}

struct Frame
{
    QList<Packet> packets; // data packets; the termination is kept apart
    Packet termination;
    QByteArray samples;
};

Frame record(int group, qint64 startNs, int samples, qint64 triggerNs, const SimParameterMemory &memory,
             SimScenario::Kind scenario = SimScenario::DampedAc, int packetSamples = 0)
{
    SimPacketStream::Frame description;
    description.group = quint8(group);
    description.startNs = startNs;
    description.triggerNs = triggerNs;
    description.samples = samples;
    description.scenario = SimScenario(scenario);
    description.frontEnd = SimSignalModel::frontEndFrom(memory);
    SimPacketStream stream(description, packetSamples);
    Frame frame;
    while (!stream.atEnd()) {
        const QByteArray response = stream.nextResponse(3);
        const Packet packet = readPacket(response);
        if (packet.samples.isEmpty()) {
            frame.termination = packet;
        } else {
            frame.packets.append(packet);
            frame.samples.append(packet.samples);
        }
    }
    return frame;
}

// Input-referred values: what the host's unpacker gives with gain compensation.
QVector<double> analog(const Frame &frame)
{
    QVector<double> values;
    const auto *d = reinterpret_cast<const uchar *>(frame.samples.constData());
    const double factor = std::pow(10.0, -frame.packets.first().gainA / 256.0 / 20.0);
    if (frame.packets.first().group == 0) {
        for (int i = 0; i + 1 < frame.samples.size(); i += 2)
            values.append(qFromLittleEndian<qint16>(d + i) / 32768.0 * factor);
    } else {
        for (int i = 0; i + 3 < frame.samples.size(); i += 4)
            values.append(qFromLittleEndian<qint32>(d + i) / 2147483648.0 * factor);
    }
    return values;
}

QVector<quint8> flags(const Frame &frame)
{
    QVector<quint8> bits;
    for (int i = 0; i + 3 < frame.samples.size(); i += 4)
        bits.append(quint8(frame.samples.at(i)));
    return bits;
}

void setGain(SimParameterMemory &memory, int gain, float db)
{
    QByteArray payload(4, '\0');
    payload[0] = char(gain);
    float value = db;
    char raw[4];
    qToLittleEndian<float>(value, raw);
    payload.append(raw, 4);
    QCOMPARE(memory.handle(SimProtocol::SetGain, payload).ack, quint16(SimProtocol::AckOk));
}

} // namespace

class tst_SimSignals : public QObject
{
    Q_OBJECT

private slots:
    void packetLayout_data();
    void packetLayout();
    void cutIntoPacketsAlike();
    void dampedAcTrueValues();
    void reversalFrequency();
    void pulseAndEcho();
    void overflowGatingAndInputs();
    void dualChannelMuxer();
    void trigger_data();
    void trigger();
    void checksum_data();
    void checksum();
};

void tst_SimSignals::packetLayout_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("packetSamples");
    QTest::addColumn<int>("gainA");
    QTest::addColumn<int>("packets");

    // 16-bit muxer samples: 32752 per full packet; 32-bit words: 16376.
    QTest::newRow("muxer, two full packets and a bit") << 0 << 65505 << 0 << 0 << 3;
    QTest::newRow("test voltage at -30 dB") << 1 << 20000 << 0 << -7680 << 2;
    QTest::newRow("charge 2, small packets") << 4 << 100 << 16 << 0 << 7;
    QTest::newRow("one sample") << 3 << 1 << 0 << 0 << 1;
}

void tst_SimSignals::packetLayout()
{
    QFETCH(int, group);
    QFETCH(int, samples);
    QFETCH(int, packetSamples);
    QFETCH(int, gainA);
    QFETCH(int, packets);

    SimParameterMemory memory{SimIdentity()};
    const qint64 start = 3 * kSecond + 123456;
    const qint64 dt = SimSignalModel::samplePeriodNs(group);
    const Frame frame = record(group, start, samples, start + 1000, memory, SimScenario::DampedAc, packetSamples);

    QCOMPARE(frame.packets.size(), packets);
    const int width = group == 0 ? 2 : 4;
    QCOMPARE(frame.samples.size(), samples * width);
    qint64 expectedNs = start;
    for (const Packet &packet : frame.packets) {
        QCOMPARE(packet.group, group);
        QCOMPARE(packet.layout, 0);
        QCOMPARE(int(packet.gainA), gainA);
        QCOMPARE(packet.triggerNs, quint64(start + 1000));
        // A packet's time is its first sample's.
        QCOMPARE(packet.packetNs, quint64(expectedNs));
        QVERIFY(packet.samples.size() + 24 <= 0xFFFF);
        expectedNs += packet.samples.size() / width * dt;
    }
    // The termination is a bare header stamped with the frame's end, later
    // than every packet it closes.
    QCOMPARE(frame.termination.group, group);
    QCOMPARE(frame.termination.packetNs, quint64(start + samples * dt));
    QCOMPARE(frame.termination.triggerNs, quint64(start + 1000));
}

void tst_SimSignals::cutIntoPacketsAlike()
{
    SimParameterMemory memory{SimIdentity()};
    const qint64 start = 10 * kMs - 4000;
    const QByteArray whole = record(0, start, 5000, start, memory).samples;
    QCOMPARE(record(0, start, 5000, start, memory, SimScenario::DampedAc, 8).samples, whole);
    QCOMPARE(record(0, start, 5000, start, memory, SimScenario::DampedAc, 999).samples, whole);
    QCOMPARE(record(2, 0, 3000, 0, memory).samples, record(2, 0, 3000, 0, memory, SimScenario::DampedAc, 64).samples);
}

void tst_SimSignals::dampedAcTrueValues()
{
    SimParameterMemory memory{SimIdentity()};
    const qint64 shot = 7 * kSecond;
    // As the host records a shot: 1 ms before the trigger, 500 ms in all, at 100 kHz.
    const Frame frame = record(1, shot - kMs, 50000, shot, memory);
    const QVector<double> volts = [&] {
        QVector<double> v = analog(frame);
        for (double &x : v)
            x *= 2640.0;
        return v;
    }();

    // Charged before the shot.
    QVERIFY(std::fabs(volts.at(50) - 20000.0) < 20.0);
    // Frequency from the rising zero crossings of the first 130 ms, where the
    // oscillation is still large against the noise.
    QVector<double> crossings;
    for (int i = 1; i < volts.size(); ++i) {
        const double t = (i - 100) * 1e-5; // seconds after the shot
        if (t > 0.01 && t < 0.13 && volts.at(i - 1) <= 0 && volts.at(i) > 0)
            crossings.append(t - volts.at(i) / (volts.at(i) - volts.at(i - 1)) * 1e-5);
    }
    QVERIFY(crossings.size() >= 5);
    const double frequency = (crossings.size() - 1) / (crossings.last() - crossings.first());
    QVERIFY2(std::fabs(frequency - 50.0) < 0.05, qPrintable(QString::number(frequency)));
    // Attenuation from the crests 100 ms apart (5 periods): u0 e^-20t.
    const double early = volts.at(100 + 2000); // t = 20 ms, a positive crest
    const double late = volts.at(100 + 12000); // t = 120 ms
    const double attenuation = std::log(early / late) / 0.1;
    QVERIFY2(std::fabs(attenuation - 20.0) < 0.2, qPrintable(QString::number(attenuation)));
    QVERIFY(std::fabs(early - 20000.0 * std::exp(-0.4)) < 50.0);
}

void tst_SimSignals::reversalFrequency()
{
    // A CR reversal is half a cosine: from -A/2 to +A/2 takes 1/(6 f).
    const SimScenario cr(SimScenario::CosineRectangular);
    const qint64 reversal = 20 * kSecond;
    qint64 lowCrossing = -1, highCrossing = -1;
    for (qint64 t = reversal; t < reversal + 20 * kMs; t += 1000) {
        const double u = cr.testVoltage(t);
        if (lowCrossing < 0 && u > -10000.0)
            lowCrossing = t;
        if (highCrossing < 0 && u > 10000.0)
            highCrossing = t;
    }
    const double frequency = 1.0 / (6.0 * double(highCrossing - lowCrossing) * 1e-9);
    QVERIFY2(std::fabs(frequency - 50.0) < 0.1, qPrintable(QString::number(frequency)));
    QCOMPARE(cr.testVoltage(reversal + 100 * kMs), 20000.0);
    QCOMPARE(cr.testVoltage(reversal + 5 * kSecond + 100 * kMs), -20000.0);
}

void tst_SimSignals::pulseAndEcho()
{
    SimParameterMemory memory{SimIdentity()};
    setGain(memory, SimParameterMemory::GainPd, 6.0f);
    // Around the first discharge of a DAC shot: -1 nC at 10 ms after the shot.
    const qint64 pulse = 3 * kSecond + 10 * kMs;
    const qint64 start = pulse - 2000;
    const Frame frame = record(0, start, 3000, pulse - 2000, memory);
    QCOMPARE(int(frame.packets.first().gainA), 6 * 256);
    const QVector<double> v = analog(frame);

    int peak = 0;
    for (int i = 0; i < 600; ++i) {
        if (std::fabs(v.at(i)) > std::fabs(v.at(peak)))
            peak = i;
    }
    // The direct pulse peaks one sample (8 ns) after it starts, at 0.39 per nC.
    QCOMPARE(start + peak * 8, pulse + 8);
    QVERIFY2(std::fabs(v.at(peak) + 0.39) < 0.01, qPrintable(QString::number(v.at(peak))));
    // The echo comes back after the cable's round trip, 12 us, lower and wider.
    int echo = 1600;
    for (int i = 1600; i < v.size(); ++i) {
        if (std::fabs(v.at(i)) > std::fabs(v.at(echo)))
            echo = i;
    }
    const qint64 delay = (start + echo * 8) - (start + peak * 8);
    QVERIFY2(delay >= 12000 && delay <= 12040, qPrintable(QString::number(delay)));
    QVERIFY2(std::fabs(v.at(echo) / v.at(peak) - 0.6) < 0.05, qPrintable(QString::number(v.at(echo) / v.at(peak))));
    // Away from the pulses only noise.
    QVERIFY(std::fabs(v.at(1000)) < 0.01);
}

void tst_SimSignals::overflowGatingAndInputs()
{
    SimParameterMemory memory{SimIdentity()};
    // 12 dB makes a 1 nC discharge 0.39 * 3.98 = 1.55 of full scale: clipped.
    setGain(memory, SimParameterMemory::GainPd, 12.0f);
    const qint64 shot = 2 * kSecond;
    const Frame gates = record(2, shot, 8000, shot, memory); // 40 ms at 200 kHz
    const QVector<quint8> bits = flags(gates);
    auto set = [&](int sample, quint8 mask) { return (bits.at(sample) & mask) != 0; };

    // Overflow of ADC 0 is bit 7, in the samples holding the discharges at 10, 20, 30 ms.
    for (int sample : {2000, 4000, 6000})
        QVERIFY2(set(sample, 0x80), qPrintable(QString::number(sample)));
    QVERIFY(!set(2002, 0x80));
    // System gating (bit 3): the switching disturbance of 50 us plus 20 us hold.
    QVERIFY(set(0, 0x08));
    QVERIFY(set(13, 0x08));
    QVERIFY(!set(14, 0x08));
    // User gating is off by default; digital gating needs its activation.
    for (int i = 0; i < bits.size(); ++i)
        QVERIFY((bits.at(i) & 0x07) == 0);

    // Unconditioned digital inputs on charge 2: the switching signal (input 0,
    // 100 us) and the trigger output (input 2, 10 us) at the shot.
    const QVector<quint8> inputs = flags(record(4, shot - 10000, 100, shot, memory));
    QCOMPARE(int(inputs.at(1)), 0);
    QCOMPARE(int(inputs.at(2)), 0x05);
    QCOMPARE(int(inputs.at(3)), 0x05);
    QCOMPARE(int(inputs.at(4)), 0x01);
    QCOMPARE(int(inputs.at(21)), 0x01);
    QCOMPARE(int(inputs.at(22)), 0);
}

void tst_SimSignals::dualChannelMuxer()
{
    SimParameterMemory memory{SimIdentity()};
    // Dual channel: PD filtered and the test voltage raw, 8 bits each.
    QCOMPARE(memory.handle(SimProtocol::SetMuxer, QByteArray::fromHex("01 00 04 03")).ack, quint16(SimProtocol::AckOk));
    const qint64 shot = 4 * kSecond;
    const Frame frame = record(0, shot - 1000, 200, shot, memory);
    QCOMPARE(frame.packets.first().layout, 1);
    QCOMPARE(int(frame.packets.first().gainA), 0);
    QCOMPARE(int(frame.packets.first().gainB), -30 * 256);
    // Second byte of each pair: 20 kV / 2640 at -30 dB = 0.2397 of full scale.
    const double tv = qint8(frame.samples.at(1)) / 128.0;
    QVERIFY2(std::fabs(tv - 0.2397) < 0.01, qPrintable(QString::number(tv)));
}

void tst_SimSignals::trigger_data()
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
    // 1 nC is 0.39 at 0 dB: above 0.25, not above 0.5.
    QTest::newRow("PD filtered above the level") << dac << 4 << 0.25f << 5 * kSecond << 5 * kSecond + 10 * kMs;
    QTest::newRow("PD filtered below the level") << dac << 4 << 0.5f << 5 * kSecond << -1LL;
    // Charge 1 sees a tenth of charge 0.
    QTest::newRow("charge 1 crosstalk") << dac << 8 << 0.03f << 5 * kSecond << 5 * kSecond + 10 * kMs;
    // The switching disturbance (2.0) at the default -16 dB: 0.317 of full scale.
    QTest::newRow("system gating disturbance") << dac << 2 << 0.3f << 5 * kSecond + 1 << 6 * kSecond;
    QTest::newRow("system gating below the level") << dac << 2 << 0.35f << 5 * kSecond + 1 << -1LL;
    QTest::newRow("VLF discharge burst") << int(SimScenario::VlfSine) << 0 << 0.1f << 10 * kSecond
                                         << 12 * kSecond + 300 * kMs;
    QTest::newRow("no high voltage, no shot") << int(SimScenario::Noise) << 66 << 0.0f << 0LL << -1LL;
    QTest::newRow("unknown source") << dac << 70 << 0.0f << 0LL << -1LL;
}

void tst_SimSignals::trigger()
{
    QFETCH(int, scenario);
    QFETCH(int, source);
    QFETCH(float, level);
    QFETCH(qint64, from);
    QFETCH(qint64, expected);

    SimParameterMemory memory{SimIdentity()};
    const SimSignalModel model{SimScenario(SimScenario::Kind(scenario)), SimSignalModel::frontEndFrom(memory)};
    QCOMPARE(model.nextTrigger(quint32(source), level, from, from + 60 * kSecond), expected);
}

void tst_SimSignals::checksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("crc");

    QTest::newRow("check value") << QByteArray("123456789") << 0x340BC6D9u;
    QTest::newRow("empty file") << QByteArray() << 0xFFFFFFFFu;
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0x2DFD1072u;
}

void tst_SimSignals::checksum()
{
    QFETCH(QByteArray, data);
    QFETCH(quint32, crc);
    QCOMPARE(SimCrc32::compute(data), crc);
    // Block by block as the file arrives gives the same.
    quint32 running = SimCrc32::kInitial;
    for (int i = 0; i < data.size(); i += 4)
        running = SimCrc32::update(running, data.constData() + i, qMin(4, data.size() - i));
    QCOMPARE(running, crc);
}

QTEST_APPLESS_MAIN(tst_SimSignals)
#include "tst_simsignals.moc"
