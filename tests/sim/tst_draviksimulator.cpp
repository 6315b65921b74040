#include "DravikSimulator.h"
#include "LogCapture.h"
#include "ReferenceCrc32.h"
#include "SimTestClient.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

namespace {

using Response = SimTestClient::Response;

QByteArray u32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(value, bytes.data());
    return bytes;
}

quint32 readU32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

// A timing instance: record length and frame period in ns, no pretrigger or time-out.
QByteArray timing(quint32 channel, quint32 periods, quint64 recordNs, quint64 frameNs)
{
    QByteArray bytes = u32(channel) + u32(periods);
    for (quint64 value : {recordNs, quint64(0), quint64(0), frameNs})
        bytes += u32(quint32(value)) + u32(quint32(value >> 32));
    return bytes;
}

} // namespace

// The whole simulator over loopback, with a client of the tests' own.
class tst_DravikSimulator : public QObject
{
    Q_OBJECT

private:
    DravikSimulator *m_sim = nullptr;
    SimTestClient *m_client = nullptr;
    LogCapture *m_log = nullptr;

    Response roundTrip(quint16 command, const QByteArray &payload = QByteArray())
    {
        const int before = m_client->responses.size();
        m_client->send(command, payload);
        [&] { QTRY_VERIFY(m_client->responses.size() > before); }();
        return m_client->responses.value(before);
    }
    void setTimings(quint32 periods0, quint32 periods1, quint64 recordNs, quint64 frameNs)
    {
        for (quint32 group = 0; group < 5; ++group) {
            const quint32 periods = group == 0 ? periods0 : group == 1 ? periods1 : 0;
            QCOMPARE(roundTrip(0x0F22, timing(group, periods, recordNs, frameNs)).ack, quint16(0));
        }
    }

private slots:
    void init()
    {
        m_log = new LogCapture;
        m_sim = new DravikSimulator;
        m_sim->setAcquisitionDelays(5, 5, 20);
        m_sim->setFirmwarePacing(1, 4);
        QVERIFY(m_sim->listen());
        m_client = new SimTestClient;
        QVERIFY(m_client->connectTo(m_sim->serverPort()));
        QTRY_VERIFY(m_sim->hasClient());
    }

    void cleanup()
    {
        delete m_client;
        delete m_sim;
        const QStringList warnings = m_log->unexpectedQtWarnings();
        delete m_log;
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void identificationAndParameters()
    {
        SimIdentity identity;
        identity.productNumber = 1;
        identity.serial = 2;
        identity.descriptor = QStringLiteral("X");
        identity.deviceType = 4;
        identity.deviceSubType = 5;
        identity.firmwareVersion = 30;
        identity.softwareVersion = 12;
        identity.hardwareVersion = 6;
        m_sim->setIdentity(identity);
        const Response response = roundTrip(0x0100);
        QCOMPARE(response.command, quint16(0x0100));
        QCOMPARE(response.ack, quint16(0));
        QCOMPARE(response.state, quint16(1)); // Ready
        QCOMPARE(response.payload.toHex(), (QByteArray::fromHex("0100000000000000 0200000000000000 58")
                                            + QByteArray(31, '\0') + QByteArray::fromHex("04 05 1e 0c 06 02")).toHex());
        QCOMPARE(roundTrip(0x0F83, QByteArray::fromHex("08")).payload.toHex(), QByteArray("0834"));

        // A set and its get (more byte vectors in tst_simparametermemory).
        const QByteArray trigger = QByteArray::fromHex("00 01 0000 04000000 0000003f 10270000 64000000");
        const Response set = roundTrip(0x0F24, trigger);
        QCOMPARE(set.ack, quint16(0));
        QCOMPARE(set.payload.left(1), trigger.left(1));
        QCOMPARE(roundTrip(0x0F44, QByteArray::fromHex("00")).payload.toHex(), trigger.toHex());
        QCOMPARE(m_sim->parameter(0x0F44, 0).toHex(), trigger.toHex());
    }

    void fullAcquisition()
    {
        setTimings(0, 1, 30000000, 20000000);
        // Starting lasts long enough for the second start to find it busy on
        // a loaded machine; the acquisition itself is 20 ms.
        m_sim->setAcquisitionDelays(300, 30);
        const Response start = roundTrip(0x0F00);
        QCOMPARE(start.ack, quint16(0));
        QCOMPARE(start.state, quint16(2)); // Starting
        QCOMPARE(roundTrip(0x0F00).ack, quint16(2)); // already started
        QTRY_COMPARE(roundTrip(0x0F41).payload, QByteArray::fromHex("040141"));

        // Two frames of group 1, each raw packets ending with a bare header.
        int samples = 0;
        quint64 trigger = 0;
        for (int frame = 0; frame < 2; ++frame) {
            const int before = m_client->responses.size();
            m_client->send(0x0F5B, QByteArray::fromHex("01"));
            QTRY_VERIFY(m_client->responses.size() > before && m_client->responses.last().payload.size() == 24);
            for (int i = before; i < m_client->responses.size(); ++i) {
                const Response &packet = m_client->responses.at(i);
                QCOMPARE(packet.command, quint16(0x0F5B));
                QCOMPARE(packet.ack, quint16(0));
                QCOMPARE(int(packet.payload.at(0)), 1);
                const quint64 packetTrigger = qFromLittleEndian<quint64>(packet.payload.constData() + 8);
                if (!trigger)
                    trigger = packetTrigger;
                QCOMPARE(packetTrigger, trigger); // one trigger time for the whole frame
                samples += (packet.payload.size() - 24) / 4;
            }
        }
        QCOMPARE(samples, 3000); // 30 ms at 100 kHz
        const Response none = roundTrip(0x0F5B, QByteArray::fromHex("01"));
        QCOMPARE(none.ack, quint16(6));
        QVERIFY(none.payload.isEmpty());
        QTRY_COMPARE(roundTrip(0x0F41).payload, QByteArray::fromHex("0100"));
    }

    void fileTransfer_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<bool>("announceWrong");
        QTest::addColumn<int>("ack");
        QTest::newRow("65001 bytes, checksum correct") << 65001 << false << false << 0;
        QTest::newRow("checksum corrupted on the way back") << 1000 << true << false << 0;
        QTest::newRow("announced with a wrong checksum") << 1000 << false << true << 5;
    }
    void fileTransfer()
    {
        QFETCH(int, size);
        QFETCH(bool, corrupt);
        QFETCH(bool, announceWrong);
        QFETCH(int, ack);
        m_sim->setCorruptChecksum(corrupt);
        QSignalSpy received(m_sim, &DravikSimulator::fileReceived);
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char((i * 7 + i / 251) & 0xFF);
        const quint32 id = 0xC0FFEE01u;
        const quint32 crc = referenceCrc32(data);

        const Response info = roundTrip(0x0F60, u32(id) + u32(0) + u32(quint32(size)) + u32(crc ^ announceWrong));
        QCOMPARE(info.ack, quint16(0));
        QCOMPARE(readU32(info.payload, 0), id);
        for (int offset = 0; offset < size; offset += 65000) {
            const Response block = roundTrip(0x0F61, u32(id) + u32(quint32(offset)) + data.mid(offset, 65000));
            QCOMPARE(block.ack, quint16(0));
            QCOMPARE(block.payload, u32(id) + u32(quint32(offset)));
        }
        const Response reply = roundTrip(0x0F80, u32(id));
        QCOMPARE(reply.ack, quint16(ack));
        QCOMPARE(reply.payload.size(), 16);
        QCOMPARE(readU32(reply.payload, 0), id);
        QCOMPARE(readU32(reply.payload, 8), quint32(size));
        QCOMPARE(readU32(reply.payload, 12) == crc, !corrupt);
        QCOMPARE(m_sim->file(id), ack == 0 ? data : QByteArray());
        QCOMPARE(received.size(), ack == 0 ? 1 : 0);
    }

    // ---- faults, one by one

    void dropAfterFrames()
    {
        QSignalSpy fault(m_sim, &DravikSimulator::faultTriggered);
        m_sim->setDropAfterFrames(3);
        for (int i = 0; i < 5; ++i)
            m_client->send(0x0100);
        QTRY_COMPARE(m_client->socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_client->responses.size(), 3);
        QCOMPARE(fault.value(0).value(0).toString(), QStringLiteral("drop after frames"));
        // Once only: the next host is served.
        SimTestClient again;
        QVERIFY(again.connectTo(m_sim->serverPort()));
        for (int i = 0; i < 5; ++i)
            again.send(0x0100);
        QTRY_COMPARE(again.responses.size(), 5);
    }

    void dropInState_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("running") << 3;
        QTest::newRow("transferring") << 7;
    }
    void dropInState()
    {
        QFETCH(int, state);
        QSignalSpy fault(m_sim, &DravikSimulator::faultTriggered);
        setTimings(state == 3 ? 0xFFFFFFFFu : 1u, 0, 20000000, 20000000);
        m_sim->setDropInState(state);
        QCOMPARE(roundTrip(0x0F00).ack, quint16(0));
        if (state == 7) {
            QTRY_COMPARE(roundTrip(0x0F41).payload, QByteArray::fromHex("040140"));
            m_client->send(0x0F5B, QByteArray::fromHex("00"));
        }
        QTRY_COMPARE(m_client->socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(fault.value(0).value(0).toString(), QStringLiteral("drop in state"));
        if (state == 3) {
            QCOMPARE(m_sim->measurementState(), 3);
        } else {
            QVERIFY(m_client->received.size() < 5000000); // the transfer stopped with the link
            QTRY_COMPARE(m_sim->measurementState(), 1);
        }
    }

    void silent()
    {
        QSignalSpy requests(m_sim, &DravikSimulator::requestReceived);
        m_sim->setSilentAfterFrames(1);
        for (int i = 0; i < 3; ++i)
            m_client->send(0x0F41);
        m_client->send(0x0100);
        QTRY_COMPARE(requests.size(), 4);
        QCOMPARE(m_client->responses.size(), 1);
        QCOMPARE(m_client->socket().state(), QAbstractSocket::ConnectedState);
    }

    void garbage()
    {
        const QByteArray good = roundTrip(0x0100).payload;
        m_client->received.clear();
        m_client->rawOnly = true;
        m_sim->setGarbageAfterFrames(1);
        m_client->send(0x0100);
        QTRY_COMPARE(m_client->received.size(), 8 + 54);
        QVERIFY(m_client->received.mid(8) != good);
        QVERIFY(m_client->received.left(2) != QByteArray::fromHex("0081"));
    }

    // Delayed, split into small writes: the same responses in the same order.
    void responseDelayAndSplitWrites()
    {
        int reads = 0;
        connect(&m_client->socket(), &QTcpSocket::readyRead, this, [&reads] { ++reads; });
        m_sim->setResponseDelay(150);
        m_sim->setSplitWrites(5);
        QElapsedTimer clock;
        clock.start();
        m_client->send(0x0100);
        m_client->send(0x0F41);
        QTRY_COMPARE(m_client->responses.size(), 2);
        QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_client->responses.at(0).command, quint16(0x0100));
        QCOMPARE(m_client->responses.at(0).payload.size(), 54);
        QCOMPARE(m_client->responses.at(1).payload, QByteArray::fromHex("0100"));
        QVERIFY2(reads >= 8, qPrintable(QString::number(reads)));
    }

    void failAck()
    {
        const QByteArray before = m_sim->parameter(0x0F47, 3);
        m_sim->setFailAck(0x0F27, 3);
        const Response refused = roundTrip(0x0F27, QByteArray::fromHex("03 000000 0000c040"));
        QCOMPARE(refused.ack, quint16(3));
        QCOMPARE(refused.payload, QByteArray::fromHex("03")); // names the instance
        QCOMPARE(roundTrip(0x0F47, QByteArray::fromHex("03")).payload, before);
        m_sim->clearFailAck(0x0F27);
        QCOMPARE(roundTrip(0x0F27, QByteArray::fromHex("03 000000 0000c040")).ack, quint16(0));
    }
};

QTEST_GUILESS_MAIN(tst_DravikSimulator)
#include "tst_draviksimulator.moc"
