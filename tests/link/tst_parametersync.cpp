#include "DravikParameterHandler_v2.h"
#include "DravikProtocolHandler_v2.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "PdQlp_v2.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

enum : int {
    MeasurementState = 1010,
    MuxerFramePeriod = 1018,
    Trigger0Level = 1044,
    Trigger1Source = 1048,
    Trigger1Level = 1049,
    Trigger1Holdtime = 1050,
    Trigger1Values = 1051,
    GatingSystemActivation = 1098,
    GatingSystemLevel = 1099,
    GatingSystemHoldtime = 1100,
    GatingUserActivation = 1101,
    GatingUserLevel = 1102,
    GatingUserHoldtime = 1103,
    GainPdValue = 1081,
};

struct DetectorMemory
{
    QHash<QPair<quint16, quint8>, QByteArray> stored;
    QHash<quint16, quint16> ackCodes; // per set command; 0 when absent

    static quint8 index(const QByteArray &payload) { return payload.isEmpty() ? 0 : quint8(payload.at(0)); }

    QByteArray answer(const LoopbackPeer::Request &request)
    {
        const quint16 command = request.command;
        const bool isSet = (command & 0xFF) >= 0x20 && (command & 0xFF) < 0x40 && command != 0x0F41;
        if (isSet) {
            const quint16 ack = ackCodes.value(command, 0);
            if (ack == 0 || ack > 7)
                stored.insert({quint16(command + 0x20), index(request.payload)}, request.payload);
            return LoopbackPeer::response(command, ack, 0, request.payload.left(1));
        }
        const auto it = stored.constFind({command, index(request.payload)});
        if (it == stored.constEnd())
            return QByteArray();
        return LoopbackPeer::response(command, 0, 0, it.value());
    }
};

} // namespace

class tst_ParameterSync : public QObject
{
    Q_OBJECT

private:
    QSharedPointer<ParameterHandler> m_user;
    QSharedPointer<ParameterHandler> m_device;
    DetectorMemory m_memory;
    LoopbackPeer *m_peer = nullptr;
    DravikProtocolHandler_v2 *m_handler = nullptr;

    QList<quint16> sentCommands() const
    {
        QList<quint16> ids;
        for (const auto &r : m_peer->requests)
            ids.append(r.command);
        return ids;
    }

    void confirm(int id, const QVariant &v) { m_device->update(id, v, 0); }

    int waitForStatus(int id)
    {
        if (!QTest::qWaitFor([&] { return !m_device->pendingIds().contains(id); }, 5000))
            return 1;
        return m_device->isValid(id) ? 0 : -1;
    }

    void identify()
    {
        QByteArray identity(54, 0);
        identity[53] = 2;
        m_memory.stored.insert({0x0100, 0}, identity);
        QSignalSpy version(m_handler->parameterHandler()->pdQlp(), &PdQlp_v2::protocolVersion);
        m_handler->onRequestParameter(1001);
        QVERIFY(version.wait(5000));
    }

private Q_SLOTS:
    void init()
    {
        m_user.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.data]:")));
        m_device.reset(new ParameterHandler(nullptr, QStringLiteral("[DRAVIK.devdata]:")));
        ParameterCatalogue::registerDeviceParameters([](const ParameterInfo &) { return true; }, m_device.data());
        ParameterCatalogue::registerUserParameters([](const ParameterInfo &) { return true; }, m_user.data());
        m_memory = DetectorMemory();

        m_peer = new LoopbackPeer;
        m_peer->setResponder([this](const LoopbackPeer::Request &r) { return m_memory.answer(r); });
        m_user->update(1172, 10000, 0);
        m_user->update(1171, m_peer->address(), 0);

        m_handler = new DravikProtocolHandler_v2(m_user, m_device);
        m_handler->init();
        QSignalSpy changed(m_handler, &DravikAbstractProtocolHandler_v2::connectionChanged);
        m_handler->onOpen();
        QVERIFY(changed.wait(5000));
        QTRY_VERIFY(m_peer->client);
    }

    void cleanup()
    {
        delete m_handler;
        delete m_peer;
    }

    void changedMemberTravelsWithItsInstance()
    {
        confirm(Trigger1Source, 2u);
        confirm(Trigger1Level, 0.5);
        confirm(Trigger1Holdtime, 100u);
        confirm(Trigger1Values, QVariantList{1, -2});
        m_peer->requests.clear();

        m_device->setValue(Trigger1Level, 0.75);
        QCOMPARE(waitForStatus(Trigger1Level), 0);

        // The set carries the whole instance (its layout: tst_pdqlp); the
        // detector's memory answers the read-back with what the set wrote.
        QCOMPARE(sentCommands(), (QList<quint16>{0x0F24, 0x0F44}));
        QCOMPARE(m_peer->requests.at(1).payload, QByteArray::fromHex("01"));
        QCOMPARE(m_device->value(Trigger1Level).toDouble(), 0.75);
        QCOMPARE(m_device->value(Trigger1Holdtime).toUInt(), 100u);
        QCOMPARE(m_device->value(Trigger1Values).toList(), (QVariantList{1, -2}));
    }

    void pendingIdsAreGroupedAndOrdered()
    {
        identify();
        for (int id : {1017, 1018, 1019, 1020, 1021})
            confirm(id, 8u);
        for (int id : {1043, 1044, 1045})
            confirm(id, 1u);
        confirm(1046, QVariantList());
        for (int id : {GatingSystemActivation, GatingSystemLevel, GatingSystemHoldtime, GatingUserActivation,
                       GatingUserLevel, GatingUserHoldtime})
            confirm(id, 1u);
        m_peer->requests.clear();

        m_device->setValue(QHash<int, QVariant>{{GatingSystemLevel, 0.25},
                                                {Trigger0Level, 0.5},
                                                {MuxerFramePeriod, 16u},
                                                {GatingUserLevel, 0.125},
                                                {GatingSystemHoldtime, 7u}});
        QTRY_VERIFY_WITH_TIMEOUT(m_device->pendingIds().isEmpty(), 5000);

        QList<QPair<quint16, quint8>> sets;
        for (const auto &r : qAsConst(m_peer->requests)) {
            if ((r.command & 0xFF) < 0x40)
                sets.append({r.command, quint8(r.payload.at(0))});
        }
        const QList<QPair<quint16, quint8>> expected{{0x0F22, 0}, {0x0F24, 0}, {0x0F26, 2}, {0x0F26, 3}};
        QCOMPARE(sets, expected);
        QCOMPARE(m_device->value(GatingSystemHoldtime).toUInt(), 7u);
        QCOMPARE(m_device->value(GatingUserLevel).toDouble(), 0.125);
    }

    void acknowledgeCodes_data()
    {
        QTest::addColumn<int>("ack");
        QTest::addColumn<int>("status");
        for (int code = 1; code <= 7; ++code)
            QTest::addRow("code %d fails", code) << code << -1;
        QTest::newRow("code 0 succeeds") << 0 << 0;
        QTest::newRow("code 9 is not a failure") << 9 << 0;
    }
    void acknowledgeCodes()
    {
        QFETCH(int, ack);
        QFETCH(int, status);
        confirm(GainPdValue, 1.0);
        m_memory.ackCodes.insert(0x0F27, quint16(ack));
        m_peer->requests.clear();
        LogCapture log;

        m_device->setValue(GainPdValue, 10.0);
        QCOMPARE(waitForStatus(GainPdValue), status);
        if (status == 0) {
            QCOMPARE(sentCommands(), (QList<quint16>{0x0F27, 0x0F47}));
            QCOMPARE(m_device->value(GainPdValue).toDouble(), 10.0);
        } else {
            QCOMPARE(sentCommands(), QList<quint16>{0x0F27});
            QCOMPARE(m_device->value(GainPdValue).toDouble(), 1.0);
            QVERIFY(!log.texts(QtDebugMsg).filter(QStringLiteral("acknowledge failure, params (1081)GainPdValue, ")).isEmpty());
        }
    }

    void parameterWithoutSetCommandFails()
    {
        confirm(MeasurementState, 0u);
        m_peer->requests.clear();
        LogCapture log;
        m_device->setValue(MeasurementState, 5u);
        QCOMPARE(waitForStatus(MeasurementState), -1);
        QVERIFY(m_peer->requests.isEmpty());
        QVERIFY(!log.texts(QtDebugMsg).filter(QStringLiteral("parameter set failed")).isEmpty());
    }

    void undecodableResponseFailsTheInstance()
    {
        confirm(GainPdValue, 1.0);
        m_memory.stored.insert({0x0F47, 3}, QByteArray::fromHex("0300")); // too short for a gain value
        LogCapture log;
        QSignalSpy status(m_device.data(), qOverload<int, int>(&AbstractParameterContainer::parameterStatusChanged));
        m_handler->onRequestParameter(GainPdValue);
        QTRY_VERIFY(status.contains(QVariantList{GainPdValue, -1}));
        QCOMPARE(m_device->value(GainPdValue).toDouble(), 1.0);
        QVERIFY(!log.texts(QtDebugMsg).filter(QStringLiteral("error translating packet command f47 data 0300")).isEmpty());
    }

    void listReadSendsOneGetPerInstance()
    {
        m_peer->requests.clear();
        m_handler->onRequestParameter(QList<int>{Trigger1Level, Trigger1Source, GatingUserLevel, 2000,
                                                 GatingSystemLevel, Trigger1Values});
        QTRY_COMPARE(m_peer->requests.size(), 3);
        QCOMPARE(m_peer->requests.at(0).command, quint16(0x0F44));
        QCOMPARE(m_peer->requests.at(0).payload, QByteArray::fromHex("01"));
        QCOMPARE(m_peer->requests.at(1).command, quint16(0x0F46));
        QCOMPARE(m_peer->requests.at(1).payload, QByteArray::fromHex("02"));
        QCOMPARE(m_peer->requests.at(2).payload, QByteArray::fromHex("03"));
    }

};

QTEST_GUILESS_MAIN(tst_ParameterSync)
#include "tst_parametersync.moc"
