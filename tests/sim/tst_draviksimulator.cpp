#include "DravikSimulator.h"
#include "LogCapture.h"
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
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(bytes.constData()) + offset);
}

quint32 fileCrc(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

QByteArray fileOf(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251) & 0xFF);
    return data;
}

QByteArray timing(quint32 channel, quint32 periods, quint64 recordNs, quint64 frameNs)
{
    QByteArray bytes = u32(channel) + u32(periods);
    QByteArray wide(8, '\0');
    for (quint64 value : {recordNs, quint64(0), quint64(0), frameNs}) {
        qToLittleEndian<quint64>(value, wide.data());
        bytes += wide;
    }
    return bytes;
}

} // namespace

class tst_DravikSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void identification();
    void setThenGet_data();
    void setThenGet();
    void fullAcquisition();
    void fileTransfer_data();
    void fileTransfer();

    void dropAfterFrames();
    void dropInState_data();
    void dropInState();
    void silent();
    void garbage();
    void responseDelay();
    void failAck();
    void splitWrites();

private:
    Response transferFile(quint32 id, const QByteArray &data, quint32 announcedCrc);
    Response roundTrip(quint16 command, const QByteArray &payload = QByteArray());

    DravikSimulator *m_sim = nullptr;
    SimTestClient *m_client = nullptr;
    LogCapture *m_log = nullptr;
};

void tst_DravikSimulator::init()
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

void tst_DravikSimulator::cleanup()
{
    delete m_client;
    m_client = nullptr;
    delete m_sim;
    m_sim = nullptr;
    const QStringList warnings = m_log->unexpectedQtWarnings();
    delete m_log;
    m_log = nullptr;
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

Response tst_DravikSimulator::roundTrip(quint16 command, const QByteArray &payload)
{
    const int before = m_client->responses.size();
    m_client->send(command, payload);
    [&] { QTRY_VERIFY(m_client->responses.size() > before); }();
    return m_client->responses.value(before);
}

void tst_DravikSimulator::identification()
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
    identity.protocolVersion = 2;
    m_sim->setIdentity(identity);

    const Response response = roundTrip(0x0100);
    QCOMPARE(response.command, quint16(0x0100));
    QCOMPARE(response.ack, quint16(0));
    QCOMPARE(response.state, quint16(1)); // Ready
    QCOMPARE(response.payload.toHex(),
             (QByteArray::fromHex("0100000000000000 0200000000000000 58") + QByteArray(31, '\0')
              + QByteArray::fromHex("04 05 1e 0c 06 02"))
                 .toHex());
    QCOMPARE(roundTrip(0x0F83, QByteArray::fromHex("08")).payload.toHex(), QByteArray("0834"));
}

void tst_DravikSimulator::setThenGet_data()
{
    QTest::addColumn<int>("setCommand");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("getRequest");

    QTest::newRow("trigger 0 on PD filtered")
        << 0x0F24 << QByteArray::fromHex("00 01 0000 04000000 0000003f 10270000 64000000") << QByteArray::fromHex("00");
    QTest::newRow("user gating") << 0x0F26 << QByteArray::fromHex("02 01 0000 0000803e e8030000")
                                 << QByteArray::fromHex("02");
    QTest::newRow("remote power on") << 0x0F27 << QByteArray::fromHex("05 000000 0000803f") << QByteArray::fromHex("05");
    QTest::newRow("fan control") << 0x0F64 << QByteArray::fromHex("0000a041 0000a042 0000003f 0000803f 0000003f")
                                 << QByteArray();
}

void tst_DravikSimulator::setThenGet()
{
    QFETCH(int, setCommand);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, getRequest);

    const Response set = roundTrip(quint16(setCommand), payload);
    QCOMPARE(set.command, quint16(setCommand));
    QCOMPARE(set.ack, quint16(0));
    QCOMPARE(set.payload.left(1), payload.left(1));
    const Response get = roundTrip(quint16(setCommand + 0x20), getRequest);
    QCOMPARE(get.ack, quint16(0));
    QCOMPARE(get.payload.toHex(), payload.toHex());
    QCOMPARE(m_sim->parameter(quint16(setCommand + 0x20), quint8(getRequest.isEmpty() ? 0 : getRequest.at(0))).toHex(),
             payload.toHex());
}

void tst_DravikSimulator::fullAcquisition()
{
    for (quint32 group = 0; group < 5; ++group) {
        const QByteArray payload = group == 1 ? timing(1, 1, 30000000, 20000000) : timing(group, 0, 1000000, 1000000);
        QCOMPARE(roundTrip(0x0F22, payload).ack, quint16(0));
    }
    const Response start = roundTrip(0x0F00);
    QCOMPARE(start.ack, quint16(0));
    QCOMPARE(start.state, quint16(2)); // Starting
    QCOMPARE(roundTrip(0x0F00).ack, quint16(2)); // already started

    QByteArray report;
    QTRY_VERIFY((report = roundTrip(0x0F41).payload) == QByteArray::fromHex("040141"));

    int frames = 0;
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
            if (trigger == 0)
                trigger = qFromLittleEndian<quint64>(reinterpret_cast<const uchar *>(packet.payload.constData()) + 8);
            QCOMPARE(qFromLittleEndian<quint64>(reinterpret_cast<const uchar *>(packet.payload.constData()) + 8), trigger);
            samples += (packet.payload.size() - 24) / 4;
        }
        ++frames;
    }
    QCOMPARE(frames, 2);
    QCOMPARE(samples, 3000); // 30 ms at 100 kHz
    const Response none = roundTrip(0x0F5B, QByteArray::fromHex("01"));
    QCOMPARE(none.ack, quint16(6));
    QVERIFY(none.payload.isEmpty());
    QTRY_COMPARE(roundTrip(0x0F41).payload, QByteArray::fromHex("0100"));
}

void tst_DravikSimulator::fileTransfer_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<bool>("announceWrong");
    QTest::addColumn<int>("ack");

    QTest::newRow("65001 bytes, checksum correct") << 65001 << false << false << 0;
    QTest::newRow("checksum corrupted on the way back") << 1000 << true << false << 0;
    QTest::newRow("announced with a wrong checksum") << 1000 << false << true << 5;
}

Response tst_DravikSimulator::transferFile(quint32 id, const QByteArray &data, quint32 announcedCrc)
{
    Response info = roundTrip(0x0F60, u32(id) + u32(0) + u32(quint32(data.size())) + u32(announcedCrc));
    if (info.ack != 0 || readU32(info.payload, 0) != id)
        return info;
    for (int offset = 0; offset < data.size(); offset += 65000) {
        const Response block = roundTrip(0x0F61, u32(id) + u32(quint32(offset)) + data.mid(offset, 65000));
        if (block.ack != 0 || block.payload != u32(id) + u32(quint32(offset)))
            return block;
    }
    return roundTrip(0x0F80, u32(id));
}

void tst_DravikSimulator::fileTransfer()
{
    QFETCH(int, size);
    QFETCH(bool, corrupt);
    QFETCH(bool, announceWrong);
    QFETCH(int, ack);

    m_sim->setCorruptChecksum(corrupt);
    QSignalSpy received(m_sim, &DravikSimulator::fileReceived);
    const QByteArray data = fileOf(size);
    const quint32 crc = fileCrc(data);
    const Response reply = transferFile(0xC0FFEE01u, data, announceWrong ? crc ^ 1u : crc);

    QCOMPARE(reply.command, quint16(0x0F80));
    QCOMPARE(reply.ack, quint16(ack));
    QCOMPARE(reply.payload.size(), 16);
    QCOMPARE(readU32(reply.payload, 0), 0xC0FFEE01u);
    QCOMPARE(readU32(reply.payload, 8), quint32(size));
    QCOMPARE(readU32(reply.payload, 12) == crc, !corrupt);
    QCOMPARE(m_sim->file(0xC0FFEE01u), ack == 0 ? data : QByteArray());
    QCOMPARE(received.size(), ack == 0 ? 1 : 0);
}

void tst_DravikSimulator::dropAfterFrames()
{
    QSignalSpy fault(m_sim, &DravikSimulator::faultTriggered);
    m_sim->setDropAfterFrames(3);
    for (int i = 0; i < 5; ++i)
        m_client->send(0x0100);
    QTRY_COMPARE(m_client->socket().state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(m_client->responses.size(), 3);
    QCOMPARE(fault.value(0).value(0).toString(), QStringLiteral("drop after frames"));
    SimTestClient again;
    QVERIFY(again.connectTo(m_sim->serverPort()));
    for (int i = 0; i < 5; ++i)
        again.send(0x0100);
    QTRY_COMPARE(again.responses.size(), 5);
}

void tst_DravikSimulator::dropInState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<quint32>("periods");
    QTest::newRow("running") << 3 << 0xFFFFFFFFu;
    QTest::newRow("transferring") << 7 << 1u;
}

void tst_DravikSimulator::dropInState()
{
    QFETCH(int, state);
    QFETCH(quint32, periods);
    QSignalSpy fault(m_sim, &DravikSimulator::faultTriggered);
    for (quint32 group = 0; group < 5; ++group)
        QCOMPARE(roundTrip(0x0F22, timing(group, group == 0 ? periods : 0, 20000000, 20000000)).ack, quint16(0));
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
        QVERIFY(m_client->received.size() < 5000000);
        QTRY_COMPARE(m_sim->measurementState(), 1);
    }
}

void tst_DravikSimulator::silent()
{
    QSignalSpy requests(m_sim, &DravikSimulator::requestReceived);
    m_sim->setSilentAfterFrames(1);
    for (int i = 0; i < 3; ++i)
        m_client->send(0x0F41);
    QTRY_COMPARE(requests.size(), 3);
    m_client->send(0x0100);
    QTRY_COMPARE(requests.size(), 4);
    QCOMPARE(m_client->responses.size(), 1);
    QCOMPARE(m_client->socket().state(), QAbstractSocket::ConnectedState);
}

void tst_DravikSimulator::garbage()
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

void tst_DravikSimulator::responseDelay()
{
    m_sim->setResponseDelay(150);
    QElapsedTimer clock;
    clock.start();
    m_client->send(0x0100);
    m_client->send(0x0F41);
    QTRY_COMPARE(m_client->responses.size(), 2);
    QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_client->responses.at(0).command, quint16(0x0100));
    QCOMPARE(m_client->responses.at(1).command, quint16(0x0F41));
}

void tst_DravikSimulator::failAck()
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

void tst_DravikSimulator::splitWrites()
{
    int reads = 0;
    connect(&m_client->socket(), &QTcpSocket::readyRead, this, [&reads] { ++reads; });
    m_sim->setSplitWrites(5);
    m_client->send(0x0100);
    m_client->send(0x0F41);
    QTRY_COMPARE(m_client->responses.size(), 2);
    QCOMPARE(m_client->responses.at(0).payload.size(), 54);
    QCOMPARE(m_client->responses.at(1).payload, QByteArray::fromHex("0100"));
    QVERIFY2(reads >= 8, qPrintable(QString::number(reads)));
}

QTEST_GUILESS_MAIN(tst_DravikSimulator)
#include "tst_draviksimulator.moc"
