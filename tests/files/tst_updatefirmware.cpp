#include "DravikFileTransfer_v2.h"
#include "DravikProtocolHandler_v2.h"
#include "DravikUpdateFirmware_v2.h"
#include "LoopbackPeer.h"
#include "ParameterHandler.h"

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

namespace {

const quint16 kInfo = 0x0F60;
const quint16 kBlock = 0x0F61;
const quint16 kChecksum = 0x0F80;
const quint16 kWrite = 0x0F03;
const int kConnection = 1171;
const int kAliveTimeout = 1172;
const quint32 kId = 0x0A0B0C0Du;
const quint32 kOtherId = 0x0A0B0C0Eu;

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

class ScriptedIds : public DravikFileTransfer_v2
{
public:
    QList<quint32> ids{kId};

protected:
    quint32 drawTransferId() override { return ids.size() > 1 ? ids.takeFirst() : ids.value(0); }
};

QList<int> statesOf(const QSignalSpy &spy)
{
    QList<int> states;
    for (const QVariantList &args : spy)
        states.append(args.at(0).toInt());
    return states;
}

struct Jobs
{
    ScriptedIds transfer;
    DravikUpdateFirmware_v2 firmware{&transfer};
    QSignalSpy transferSent{&transfer, &AbstractJobHandler_v2::sendQlpCommand};
    QSignalSpy firmwareSent{&firmware, &AbstractJobHandler_v2::sendQlpCommand};
    QSignalSpy states{&firmware, &AbstractFirmwareJob_v2::processState};

    void start(int size = 1000, quint8 mode = 0)
    {
        firmware.onUpdateFirmware(QByteArray(size, 'f'), mode);
        states.clear();
    }
};

struct FakeDetector
{
    quint16 refuse = 0;
    quint16 refuseAck = 0;
    quint16 silentOn = 0;
    bool wrongChecksum = false;
    quint32 checksum = 0;
    quint32 size = 0;

    QByteArray answer(const LoopbackPeer::Request &request)
    {
        if (request.command == silentOn)
            return QByteArray();
        if (request.command == refuse)
            return LoopbackPeer::response(request.command, refuseAck, 0, request.payload.left(8));
        switch (request.command) {
        case kInfo:
            size = qFromLittleEndian<quint32>(request.payload.constData() + 8);
            checksum = qFromLittleEndian<quint32>(request.payload.constData() + 12);
            return LoopbackPeer::response(kInfo, 0, 0, request.payload);
        case kBlock:
            return LoopbackPeer::response(kBlock, 0, 0, request.payload.left(8));
        case kChecksum:
            return LoopbackPeer::response(kChecksum, 0, 0,
                                          request.payload + le32(0) + le32(size) +
                                              le32(wrongChecksum ? ~checksum : checksum));
        case kWrite:
            return LoopbackPeer::response(kWrite, 0, 0, request.payload.left(4) + le32(size) + le32(size / 2)) +
                   LoopbackPeer::response(kWrite, 0, 0, QByteArray());
        default:
            return QByteArray();
        }
    }
};

} // namespace

class tst_UpdateFirmware : public QObject
{
    Q_OBJECT

private:
    QSharedPointer<ParameterHandler> m_user;
    QSharedPointer<ParameterHandler> m_device;
    FakeDetector m_detector;
    LoopbackPeer *m_peer = nullptr;
    DravikProtocolHandler_v2 *m_handler = nullptr;
    ScriptedIds *m_transfer = nullptr;
    DravikUpdateFirmware_v2 *m_firmware = nullptr;

    void connectHandler()
    {
        m_transfer = new ScriptedIds;
        m_firmware = new DravikUpdateFirmware_v2(m_transfer);
        DravikProtocolHandler_v2::Jobs jobs;
        jobs.fileTransfer = m_transfer;
        jobs.firmwareUpdate = m_firmware;
        m_handler = new DravikProtocolHandler_v2(m_user, m_device, jobs);
        m_handler->init();
        QSignalSpy changed(m_handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        m_handler->onOpen();
        QVERIFY(changed.wait(5000));
        QCOMPARE(m_handler->connectionState(), DravikAbstractProtocolHandler_v2::Connected);
        QTRY_VERIFY(m_peer->client);
    }

private Q_SLOTS:
    void init()
    {
        m_user.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.data]:")));
        m_device.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.devdata]:")));
        m_user->add(kConnection, QVariant());
        m_user->add(kAliveTimeout, QVariant());
        m_detector = FakeDetector();
        m_peer = new LoopbackPeer;
        m_peer->setResponder([this](const LoopbackPeer::Request &r) { return m_detector.answer(r); });
        m_user->update(kConnection, m_peer->address(), 0);
        m_user->update(kAliveTimeout, 10000, 0);
    }

    void cleanup()
    {
        delete m_handler; // and the jobs it adopted
        m_handler = nullptr;
        delete m_peer;
        m_peer = nullptr;
    }

    void wholeUpdate()
    {
        Jobs jobs;
        jobs.firmware.onUpdateFirmware(QByteArray(65001, 'x'), 2);
        QVERIFY(jobs.firmware.isRunning());
        QCOMPARE(jobs.transferSent.size(), 1);
        const QByteArray announcement = jobs.transferSent.at(0).at(1).toByteArray();
        QCOMPARE(announcement.left(12), QByteArray::fromHex("0d0c0b0a00000000e9fd0000"));

        jobs.transfer.onQlpPacket(kInfo, 0, 0, announcement);
        jobs.transfer.onQlpPacket(kBlock, 0, 0, QByteArray::fromHex("0d0c0b0a00000000"));
        jobs.transfer.onQlpPacket(kBlock, 0, 0, QByteArray::fromHex("0d0c0b0ae8fd0000"));
        QCOMPARE(jobs.firmwareSent.size(), 0);
        jobs.transfer.onQlpPacket(kChecksum, 0, 0, announcement);
        QCOMPARE(jobs.firmwareSent.size(), 1);
        QCOMPARE(jobs.firmwareSent.at(0).at(0).value<quint16>(), kWrite);
        QCOMPARE(jobs.firmwareSent.at(0).at(1).toByteArray(), QByteArray::fromHex("0d0c0b0a02"));

        jobs.firmware.onQlpPacket(kWrite, 0, 0, QByteArray::fromHex("0d0c0b0ae9fd0000f47e0000"));
        QVERIFY(!jobs.firmware.isRunning());
        jobs.firmware.onQlpPacket(kWrite, 0, 0, QByteArray());

        const QList<QVariantList> expected{
            {0, 0.0, QStringLiteral("Transfer started")},
            {1, 0.0, QStringLiteral("Transfering ...")},
            {1, 65000.0 / 65001.0, QStringLiteral("Transfering ...")},
            {2, 130000.0 / 65001.0, QStringLiteral("Transfer successful")},
            {5, 32500.0 / 65001.0, QStringLiteral("Writing ...")},
            {6, 1.0, QStringLiteral("Writing successful")},
        };
        QCOMPARE(QList<QVariantList>(jobs.states), expected);
    }

    void transferReports_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("status");
        QTest::addColumn<quint32>("id");
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<bool>("writeOrder");
        QTest::addColumn<bool>("runningAfter");

        QTest::newRow("idle, started") << false << 0 << kId << QList<int>{0} << false << false;
        QTest::newRow("idle, failed") << false << 3 << kId << QList<int>() << false << false;
        QTest::newRow("running, started") << true << 0 << kId << QList<int>{0} << false << true;
        QTest::newRow("running, block") << true << 1 << kId << QList<int>{1} << false << true;
        QTest::newRow("running, successful") << true << 2 << kId << QList<int>{2} << true << true;
        QTest::newRow("running, failed") << true << 3 << kId << QList<int>{3} << false << false;
        QTest::newRow("running, unknown status") << true << 4 << kId << QList<int>() << false << true;
        QTest::newRow("running, other id, block") << true << 1 << kOtherId << QList<int>() << false << true;
        QTest::newRow("running, other id, failed") << true << 3 << kOtherId << QList<int>() << false << true;
    }

    void transferReports()
    {
        QFETCH(bool, running);
        QFETCH(int, status);
        QFETCH(quint32, id);
        QFETCH(QList<int>, states);
        QFETCH(bool, writeOrder);
        QFETCH(bool, runningAfter);

        Jobs jobs;
        if (running) {
            jobs.start(1000, 3);
        } else {
            jobs.start();
            jobs.transfer.onQlpPacket(kInfo, 0, 5, le32(kId));
            QVERIFY(!jobs.firmware.isRunning());
            jobs.states.clear();
        }

        jobs.firmware.onTransferState(status, id, 0.25);
        QCOMPARE(statesOf(jobs.states), states);
        for (const QVariantList &args : jobs.states)
            QCOMPARE(args.at(1).toDouble(), 0.25);
        QCOMPARE(jobs.firmwareSent.size(), writeOrder ? 1 : 0);
        if (writeOrder)
            QCOMPARE(jobs.firmwareSent.at(0).at(1).toByteArray(), QByteArray::fromHex("0d0c0b0a03"));
        QCOMPARE(jobs.firmware.isRunning(), runningAfter);
    }

    void writeReplies_data()
    {
        QTest::addColumn<quint16>("ack");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("progress");
        QTest::addColumn<QString>("text");

        QTest::newRow("half written") << quint16(0) << QByteArray::fromHex("000000000000000020a10700") << 5 << 0.5
                                      << QStringLiteral("Writing ...");
        QTest::newRow("end") << quint16(0) << QByteArray() << 6 << 1.0 << QStringLiteral("Writing successful");
        QTest::newRow("end, eleven bytes") << quint16(0) << QByteArray::fromHex("0000000000000000ffffff") << 6 << 1.0
                                           << QStringLiteral("Writing successful");
        QTest::newRow("refused") << quint16(2) << QByteArray() << 7 << 0.0 << QStringLiteral("Writing failed");
        QTest::newRow("refused with progress") << quint16(7) << QByteArray::fromHex("000000000000000020a10700") << 7
                                               << 0.0 << QStringLiteral("Writing failed");
    }

    void writeReplies()
    {
        QFETCH(quint16, ack);
        QFETCH(QByteArray, payload);
        QFETCH(int, state);
        QFETCH(double, progress);
        QFETCH(QString, text);

        Jobs jobs;
        jobs.start(1000000);
        jobs.firmware.onQlpPacket(kWrite, 0, ack, payload);
        QCOMPARE(jobs.states.size(), 1);
        QCOMPARE(jobs.states.first(), (QVariantList{state, progress, text}));
        QVERIFY(!jobs.firmware.isRunning());
    }

    void secondUpdateIsRefused()
    {
        Jobs jobs;
        jobs.start(70000, 1);
        jobs.transfer.ids = {kOtherId};
        jobs.firmware.onUpdateFirmware(QByteArray(10, 's'), 2);

        QCOMPARE(jobs.states.first(), (QVariantList{3, 0.0, QStringLiteral("Transfer failed")}));
        QCOMPARE(jobs.states.size(), 1);
        QCOMPARE(jobs.transferSent.size(), 1);
        QVERIFY(jobs.firmware.isRunning());
        const QByteArray announcement = jobs.transferSent.at(0).at(1).toByteArray();
        jobs.transfer.onQlpPacket(kInfo, 0, 0, announcement);
        jobs.transfer.onQlpPacket(kBlock, 0, 0, le32(kId) + le32(0));
        jobs.transfer.onQlpPacket(kBlock, 0, 0, le32(kId) + le32(65000));
        jobs.transfer.onQlpPacket(kChecksum, 0, 0, announcement);
        QCOMPARE(jobs.firmwareSent.size(), 1);
        QCOMPARE(jobs.firmwareSent.at(0).at(1).toByteArray(), QByteArray::fromHex("0d0c0b0a01"));
    }

    void aliveSupervision_data()
    {
        QTest::addColumn<quint16>("refuse");
        QTest::addColumn<bool>("wrongChecksum");
        QTest::addColumn<QList<int>>("states");

        QTest::newRow("written") << quint16(0) << false << QList<int>{0, 1, 2, 5, 6};
        QTest::newRow("announcement refused") << kInfo << false << QList<int>{0, 3};
        QTest::newRow("checksum differs") << quint16(0) << true << QList<int>{0, 1, 3};
        QTest::newRow("write refused") << kWrite << false << QList<int>{0, 1, 2, 7};
    }

    void aliveSupervision()
    {
        QFETCH(quint16, refuse);
        QFETCH(bool, wrongChecksum);
        QFETCH(QList<int>, states);

        m_detector.refuse = refuse;
        m_detector.refuseAck = 5;
        m_detector.wrongChecksum = wrongChecksum;
        connectHandler();
        QVERIFY(m_handler->isAliveTimerActive());

        QList<int> seen;
        QList<bool> timerRunning;
        connect(m_handler, &DravikAbstractProtocolHandler_v2::firmwareUpdateState, this, [&](int state, double, QString) {
            seen.append(state);
            timerRunning.append(m_handler->isAliveTimerActive());
        });
        Q_EMIT m_handler->updateFirmware(QByteArray(1000, 'i'), 0);
        QTRY_COMPARE_WITH_TIMEOUT(seen, states, 5000);

        QList<bool> expected;
        for (int i = 0; i < states.size(); ++i)
            expected.append(i == states.size() - 1);
        QCOMPARE(timerRunning, expected);
        QCOMPARE(m_transfer->openTransfers(), 0);
    }

    void linkLoss_data()
    {
        QTest::addColumn<quint16>("silentOn");
        QTest::addColumn<bool>("update");
        QTest::addColumn<QList<int>>("states");

        QTest::newRow("during the transfer") << kBlock << true << QList<int>{0, 8};
        QTest::newRow("waiting for the checksum") << kChecksum << true << QList<int>{0, 1, 8};
        QTest::newRow("waiting for the writing") << kWrite << true << QList<int>{0, 1, 2, 8};
        QTest::newRow("idle") << quint16(0) << false << QList<int>();
    }

    void linkLoss()
    {
        QFETCH(quint16, silentOn);
        QFETCH(bool, update);
        QFETCH(QList<int>, states);

        m_detector.silentOn = silentOn;
        connectHandler();
        QSignalSpy reports(m_handler, &DravikAbstractProtocolHandler_v2::firmwareUpdateState);
        if (update) {
            Q_EMIT m_handler->updateFirmware(QByteArray(1000, 'i'), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!m_peer->requests.isEmpty() && m_peer->requests.last().command == silentOn, 5000);
        }

        QSignalSpy changed(m_handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        m_peer->client->abort();
        QVERIFY(changed.wait(5000));
        QCOMPARE(statesOf(reports), states);
        if (update)
            QCOMPARE(reports.last().at(2).toString(), QStringLiteral("Update failed."));
        QVERIFY(!m_firmware->isRunning());
        QCOMPARE(m_transfer->openTransfers(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_UpdateFirmware)
#include "tst_updatefirmware.moc"
