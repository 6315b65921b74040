#include "SimIdentity.h"
#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <QtTest>

// Vectors are laid out from the payload tables by hand (little-endian, floats
// as IEEE 754), not produced by the code under test.
class tst_SimParameterMemory : public QObject
{
    Q_OBJECT

private slots:
    void setThenGet_data();
    void setThenGet();
    void refusedSet_data();
    void refusedSet();
    void defaults_data();
    void defaults();
    void gainFollowsItsLevels();
    void identification();
};

void tst_SimParameterMemory::setThenGet_data()
{
    QTest::addColumn<int>("setCommand");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("getRequest");

    QTest::newRow("timings charge 0, pretrigger -1000")
        << 0x0F22
        << QByteArray::fromHex("02000000 01000000 00fee10b00000000 18fcffffffffffff 0000000000000000 00fee10b00000000")
        << QByteArray::fromHex("02");
    QTest::newRow("trigger 1 with two values")
        << 0x0F24 << QByteArray::fromHex("01 02 0000 04000000 0000803e c0e1e400 fbffffff 07000000")
        << QByteArray::fromHex("01");
    QTest::newRow("system gating") << 0x0F26 << QByteArray::fromHex("03 01 0000 d34d223e 204e0000")
                                   << QByteArray::fromHex("03");
    QTest::newRow("PD gain 6 dB") << 0x0F27 << QByteArray::fromHex("03 000000 0000c040") << QByteArray::fromHex("03");
    QTest::newRow("filter ADC 1 highpass 0") << 0x0F25 << QByteArray::fromHex("22 02 0000 0000003f 000080be")
                                             << QByteArray::fromHex("22");
    QTest::newRow("muxer dual, selectors 4 and 7") << 0x0F2A << QByteArray::fromHex("01 00 04 07") << QByteArray();
    QTest::newRow("ADC 3 inverted") << 0x0F2B << QByteArray::fromHex("03 01") << QByteArray::fromHex("03");
    // The hold time starts at offset 5, unaligned.
    QTest::newRow("digital channel 7") << 0x0F2C << QByteArray::fromHex("07 00 01 00 01 400d0300")
                                       << QByteArray::fromHex("07");
    QTest::newRow("test voltage calibration") << 0x0F63 << QByteArray::fromHex("07 2a92244992a4a340")
                                              << QByteArray::fromHex("07");
    QTest::newRow("IP port") << 0x0F63 << QByteArray::fromHex("04 bace") << QByteArray::fromHex("04");
    QTest::newRow("fan control") << 0x0F64 << QByteArray::fromHex("0000c841 00008c42 9a99993e 6666663f 0000803e")
                                 << QByteArray();
}

void tst_SimParameterMemory::setThenGet()
{
    QFETCH(int, setCommand);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, getRequest);

    SimParameterMemory memory{SimIdentity()};
    const SimParameterMemory::Reply set = memory.handle(quint16(setCommand), payload);
    QCOMPARE(set.ack, quint16(SimProtocol::AckOk));
    // The acknowledge echoes the payload: its first byte names the instance.
    QCOMPARE(set.payload.toHex(), payload.toHex());
    const SimParameterMemory::Reply get = memory.handle(quint16(setCommand + SimProtocol::kGetOffset), getRequest);
    QCOMPARE(get.ack, quint16(SimProtocol::AckOk));
    QCOMPARE(get.payload.toHex(), payload.toHex());
}

void tst_SimParameterMemory::refusedSet_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("ack");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("timings one byte short")
        << 0x0F22 << QByteArray::fromHex("01000000 01000000 0000000000000000 0000000000000000 0000000000000000 00000000000000")
        << 1 << QByteArray::fromHex("01");
    // The channel is a u32: 0x102 is not channel 2.
    QTest::newRow("timings channel 258")
        << 0x0F22 << QByteArray::fromHex("02010000 01000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000")
        << 3 << QByteArray::fromHex("02");
    QTest::newRow("trigger count 3, two values")
        << 0x0F24 << QByteArray::fromHex("00 03 0000 44000000 0000803e 00000000 01000000 02000000") << 1
        << QByteArray::fromHex("00");
    QTest::newRow("trigger of one byte") << 0x0F24 << QByteArray::fromHex("01") << 1 << QByteArray::fromHex("01");
    QTest::newRow("trigger 2 does not exist") << 0x0F24 << QByteArray::fromHex("02 00 0000 44000000 0000803e 00000000")
                                              << 3 << QByteArray::fromHex("02");
    QTest::newRow("filter 5 does not exist") << 0x0F25 << QByteArray::fromHex("05 00 0000") << 3 << QByteArray::fromHex("05");
    QTest::newRow("gating level NaN") << 0x0F26 << QByteArray::fromHex("02 01 0000 0000c07f 00000000") << 3
                                      << QByteArray::fromHex("02");
    QTest::newRow("PD gain above its range") << 0x0F27 << QByteArray::fromHex("03 000000 00008442") << 3
                                             << QByteArray::fromHex("03");
    QTest::newRow("gain 9 does not exist") << 0x0F27 << QByteArray::fromHex("09 000000 00000000") << 3
                                           << QByteArray::fromHex("09");
    QTest::newRow("muxer selector 16") << 0x0F2A << QByteArray::fromHex("00 00 10 00") << 3 << QByteArray();
    QTest::newRow("digital channel 8 bytes") << 0x0F2C << QByteArray::fromHex("07 00 01 00 01 400d03") << 1
                                             << QByteArray::fromHex("07");
    QTest::newRow("info string is read-only") << 0x0F63 << QByteArray::fromHex("03 414243") << 3
                                              << QByteArray::fromHex("03");
    QTest::newRow("MAC address of 5 bytes") << 0x0F63 << QByteArray::fromHex("01 0011223344") << 1
                                            << QByteArray::fromHex("01");
    QTest::newRow("calibration zero") << 0x0F63 << QByteArray::fromHex("07 0000000000000000") << 3
                                      << QByteArray::fromHex("07");
    QTest::newRow("empty indexed set") << 0x0F27 << QByteArray() << 1 << QByteArray();
    QTest::newRow("get without index") << 0x0F42 << QByteArray() << 1 << QByteArray();
    QTest::newRow("unknown command") << 0x0F30 << QByteArray() << 4 << QByteArray();
}

void tst_SimParameterMemory::refusedSet()
{
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(int, ack);
    QFETCH(QByteArray, reply);

    SimParameterMemory memory{SimIdentity()};
    const QByteArray before = memory.payload(SimProtocol::GetTimings, 2) + memory.payload(SimProtocol::GetGain, 3)
        + memory.payload(SimProtocol::GetMuxer, 0);
    const SimParameterMemory::Reply result = memory.handle(quint16(command), payload);
    QCOMPARE(result.ack, quint16(ack));
    QCOMPARE(result.payload.toHex(), reply.toHex());
    QCOMPARE(memory.payload(SimProtocol::GetTimings, 2) + memory.payload(SimProtocol::GetGain, 3)
                 + memory.payload(SimProtocol::GetMuxer, 0),
             before);
}

void tst_SimParameterMemory::defaults_data()
{
    QTest::addColumn<int>("getCommand");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("calibration 2640.0") << 0x0F83 << QByteArray::fromHex("07")
                                        << QByteArray::fromHex("07 0000000000a0a440");
    QTest::newRow("PD gain levels, range 0 to 60 step 6")
        << 0x0F48 << QByteArray::fromHex("03") << QByteArray::fromHex("03 01 0000 00000000 00007042 0000c040");
    QTest::newRow("bandwidth levels 0 and 1")
        << 0x0F48 << QByteArray::fromHex("04") << QByteArray::fromHex("04 00 0000 02000000 00000000 0000803f");
    QTest::newRow("test voltage gain -30 dB") << 0x0F47 << QByteArray::fromHex("02")
                                              << QByteArray::fromHex("02 000000 0000f0c1");
    // The host runs system gating at -16 dB; the levels must allow it.
    QTest::newRow("system gating gain -16 dB") << 0x0F47 << QByteArray::fromHex("00")
                                               << QByteArray::fromHex("00 000000 000080c1");
    QTest::newRow("muxer on PD filtered") << 0x0F4A << QByteArray() << QByteArray::fromHex("00 00 04 00");
    QTest::newRow("device type as decimal text") << 0x0F83 << QByteArray::fromHex("08") << QByteArray::fromHex("08 31");
    QTest::newRow("IP port 52922") << 0x0F83 << QByteArray::fromHex("04") << QByteArray::fromHex("04 bace");
    QTest::newRow("serial repeats the identity") << 0x0F83 << QByteArray::fromHex("00")
                                                 << QByteArray::fromHex("00 ca86010000000000");
    QTest::newRow("system gating on at 0.1585")
        << 0x0F46 << QByteArray::fromHex("03") << QByteArray::fromHex("03 01 0000 d34d223e 204e0000");
}

void tst_SimParameterMemory::defaults()
{
    QFETCH(int, getCommand);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, payload);

    SimParameterMemory memory{SimIdentity()};
    const SimParameterMemory::Reply get = memory.handle(quint16(getCommand), request);
    QCOMPARE(get.ack, quint16(SimProtocol::AckOk));
    QCOMPARE(get.payload.toHex(), payload.toHex());
}

void tst_SimParameterMemory::gainFollowsItsLevels()
{
    SimParameterMemory memory{SimIdentity()};
    const QByteArray twentyDb = QByteArray::fromHex("03 000000 0000a041");
    QCOMPARE(memory.handle(SimProtocol::SetGain, twentyDb).ack, quint16(SimProtocol::AckOk));
    // A list of 0 and 10 dB takes 20 dB out of reach.
    QCOMPARE(memory.setPayload(SimProtocol::GetGainLevels, 3, QByteArray::fromHex("03 00 0000 02000000 00000000 00002041")),
             quint16(SimProtocol::AckOk));
    QCOMPARE(memory.handle(SimProtocol::SetGain, twentyDb).ack, quint16(SimProtocol::AckBadValue));
    // A list whose count promises more than it holds is not stored.
    QCOMPARE(memory.setPayload(SimProtocol::GetGainLevels, 3, QByteArray::fromHex("03 00 0000 03000000 00000000 00002041")),
             quint16(SimProtocol::AckBadLength));
}

void tst_SimParameterMemory::identification()
{
    SimIdentity identity;
    QCOMPARE(identity.encode().toHex(),
             QByteArray::fromHex("71d46a0000000000 ca86010000000000"
                                 "4a756e20313220323032332031343a30353a3331202873696d29000000000000"
                                 "01 00 17 0b 03 02")
                 .toHex());
    // A descriptor of 32 characters fills the field without a terminator;
    // a longer one is cut.
    identity.descriptor = QString(40, QLatin1Char('D'));
    const QByteArray payload = identity.encode();
    QCOMPARE(payload.size(), 54);
    QCOMPARE(payload.mid(16, 32), QByteArray(32, 'D'));
    QCOMPARE(quint8(payload.at(48)), quint8(1));
}

QTEST_APPLESS_MAIN(tst_SimParameterMemory)
#include "tst_simparametermemory.moc"
