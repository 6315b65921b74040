#include "DravikSimulator.h"
#include "LogCapture.h"
#include "SimTestClient.h"

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
};

QTEST_GUILESS_MAIN(tst_DravikSimulator)
#include "tst_draviksimulator.moc"
