#include "SimIdentity.h"
#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <QtTest>

using namespace SimProtocol;

class tst_SimParameterMemory : public QObject
{
    Q_OBJECT

private slots:
    // A set is stored and answered with its own payload; the get returns it.
    void setThenGet_data()
    {
        QTest::addColumn<int>("setCommand");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("getRequest");
        const auto row = [](const char *name, int command, const char *payload, const char *get) {
            QTest::newRow(name) << command << QByteArray::fromHex(payload) << QByteArray::fromHex(get);
        };
        row("timings charge 0, pretrigger -1000", 0x0F22,
            "02000000 01000000 00fee10b00000000 18fcffffffffffff 0000000000000000 00fee10b00000000", "02");
        row("trigger 0 on PD filtered", 0x0F24, "00 01 0000 04000000 0000003f 10270000 64000000", "00");
        row("user gating", 0x0F26, "02 01 0000 0000803e e8030000", "02");
        row("PD gain 6 dB", 0x0F27, "03 000000 0000c040", "03");
        row("remote power on", 0x0F27, "05 000000 0000803f", "05");
        row("muxer, sources 15 and 15", 0x0F2A, "00 00 0f 0f", "00");
        row("digital channel 7", 0x0F2C, "07 00 01 00 01 400d0300", "07");
        row("test voltage calibration", 0x0F63, "07 2a92244992a4a340", "07");
        row("fan control", 0x0F64, "0000a041 0000a042 0000003f 0000803f 0000003f", "");
    }
    void setThenGet()
    {
        QFETCH(int, setCommand);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, getRequest);
        SimParameterMemory memory{SimIdentity()};
        const SimParameterMemory::Reply set = memory.handle(quint16(setCommand), payload);
        QCOMPARE(set.ack, quint16(AckOk));
        QCOMPARE(set.payload.toHex(), payload.toHex());
        const SimParameterMemory::Reply get = memory.handle(quint16(setCommand + kGetOffset), getRequest);
        QCOMPARE(get.ack, quint16(AckOk));
        QCOMPARE(get.payload.toHex(), payload.toHex());
    }

    // The defaults a get answers, and refusals: the acknowledge code, the
    // reply (a refused set names its instance), and the memory unchanged.
    void replies_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("ack");
        QTest::addColumn<QByteArray>("reply");
        const auto row = [](const char *name, int command, const QByteArray &payload, int ack, const char *reply) {
            QTest::newRow(name) << command << QByteArray::fromHex(payload) << ack << QByteArray::fromHex(reply);
        };
        row("calibration 2640.0", 0x0F83, "07", 0, "07 0000000000a0a440");
        row("PD gain levels, range 0 to 60 step 6", 0x0F48, "03", 0, "03 01 0000 00000000 00007042 0000c040");
        row("bandwidth levels 0 and 1", 0x0F48, "04", 0, "04 00 0000 02000000 00000000 0000803f");
        row("system gating gain -16 dB", 0x0F47, "00", 0, "00 000000 000080c1");
        row("muxer on PD filtered", 0x0F4A, "", 0, "00 00 04 00");
        row("system gating on at 0.1585", 0x0F46, "03", 0, "03 01 0000 d34d223e 204e0000");

        row("timings channel 258", 0x0F22, "02010000 01000000" + QByteArray(64, '0'), 3, "02");
        row("gating level NaN", 0x0F26, "02 01 0000 0000c07f 00000000", 3, "02");
        row("PD gain above its range", 0x0F27, "03 000000 00008442", 3, "03");
        row("muxer selector 16", 0x0F2A, "00 00 10 00", 3, "");
        row("info string is read-only", 0x0F63, "03 414243", 3, "03");
        row("calibration zero", 0x0F63, "07 0000000000000000", 3, "07");
        row("get without index", 0x0F42, "", 1, "");
        row("unknown command", 0x0F30, "", 4, "");
    }
    void replies()
    {
        QFETCH(int, command);
        QFETCH(QByteArray, payload);
        QFETCH(int, ack);
        QFETCH(QByteArray, reply);
        SimParameterMemory memory{SimIdentity()};
        const auto snapshot = [&memory] {
            return memory.payload(GetTimings, 2) + memory.payload(GetGain, 3) + memory.payload(GetMuxer, 0);
        };
        const QByteArray before = snapshot();
        const SimParameterMemory::Reply result = memory.handle(quint16(command), payload);
        QCOMPARE(result.ack, quint16(ack));
        QCOMPARE(result.payload.toHex(), reply.toHex());
        QCOMPARE(snapshot(), before);
    }
};

QTEST_APPLESS_MAIN(tst_SimParameterMemory)
#include "tst_simparametermemory.moc"
