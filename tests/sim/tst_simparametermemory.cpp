#include "SimIdentity.h"
#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <QtTest>

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
    QTest::newRow("PD gain 6 dB") << 0x0F27 << QByteArray::fromHex("03 000000 0000c040") << QByteArray::fromHex("03");
    QTest::newRow("digital channel 7") << 0x0F2C << QByteArray::fromHex("07 00 01 00 01 400d0300")
                                       << QByteArray::fromHex("07");
    QTest::newRow("test voltage calibration") << 0x0F63 << QByteArray::fromHex("07 2a92244992a4a340")
                                              << QByteArray::fromHex("07");
}

void tst_SimParameterMemory::setThenGet()
{
    QFETCH(int, setCommand);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, getRequest);

    SimParameterMemory memory{SimIdentity()};
    const SimParameterMemory::Reply set = memory.handle(quint16(setCommand), payload);
    QCOMPARE(set.ack, quint16(SimProtocol::AckOk));
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

    QTest::newRow("timings channel 258")
        << 0x0F22 << QByteArray::fromHex("02010000 01000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000")
        << 3 << QByteArray::fromHex("02");
    QTest::newRow("gating level NaN") << 0x0F26 << QByteArray::fromHex("02 01 0000 0000c07f 00000000") << 3
                                      << QByteArray::fromHex("02");
    QTest::newRow("PD gain above its range") << 0x0F27 << QByteArray::fromHex("03 000000 00008442") << 3
                                             << QByteArray::fromHex("03");
    QTest::newRow("muxer selector 16") << 0x0F2A << QByteArray::fromHex("00 00 10 00") << 3 << QByteArray();
    QTest::newRow("info string is read-only") << 0x0F63 << QByteArray::fromHex("03 414243") << 3
                                              << QByteArray::fromHex("03");
    QTest::newRow("calibration zero") << 0x0F63 << QByteArray::fromHex("07 0000000000000000") << 3
                                      << QByteArray::fromHex("07");
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
    QTest::newRow("system gating gain -16 dB") << 0x0F47 << QByteArray::fromHex("00")
                                               << QByteArray::fromHex("00 000000 000080c1");
    QTest::newRow("muxer on PD filtered") << 0x0F4A << QByteArray() << QByteArray::fromHex("00 00 04 00");
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

QTEST_APPLESS_MAIN(tst_SimParameterMemory)
#include "tst_simparametermemory.moc"
