#include "LogCapture.h"
#include "StubDevice.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QtTest>

class tst_AbstractDevice : public QObject
{
    Q_OBJECT

private:
    static QVariantMap maxVoltages() { return QCoreApplication::instance()->property("MaxVoltages").toMap(); }

private Q_SLOTS:
    void init() { QCoreApplication::instance()->setProperty("MaxVoltages", QVariant()); }

    void registerChannelRules()
    {
        StubDevice device;
        LogCapture log;
        QVERIFY(device.registerChannel(1000, QStringLiteral("PD raw"), 0, 0, 2, QString(), 125e6));
        QVERIFY(!device.registerChannel(1000, QStringLiteral("again"), 0));
        QVERIFY(!device.registerChannel(1001, QStringLiteral("no phase"), -1));

        QCOMPARE(log.texts(QtWarningMsg),
                 (QStringList{QStringLiteral("[AbstractDevice]: Channel 1000 already registered!"),
                              QStringLiteral("[AbstractDevice]: Phase id is undefined! Channel: 1001")}));
        QCOMPARE(device.channelIds(), QList<int>{1000});
        QCOMPARE(device.registeredChannelHooks(), QList<int>{1000});
        ChannelInfo info;
        QVERIFY(device.channelInfo(1000, info));
        QCOMPARE(info.name, QStringLiteral("PD raw"));
        QCOMPARE(info.dataType, 2);
        QCOMPARE(info.sampleRate, 125e6);
        QVERIFY(!device.channelInfo(1001, info));
    }

    void registerParameterRules_data()
    {
        QTest::addColumn<int>("channelId");
        QTest::addColumn<int>("phaseId");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("warning");

        QTest::newRow("neither") << -1 << -1 << true << QString();
        QTest::newRow("phase only") << -1 << 0 << true << QString();
        QTest::newRow("registered channel only") << 7 << -1 << true << QString();
        QTest::newRow("both set") << 7 << 0 << false
                                  << "[AbstractDevice]: Parameter Gain with id 2000 can't be registered because "
                                     "phaseId and channelId is set!";
        QTest::newRow("channel 0, not registered") << 0 << -1 << false
                                                   << "[AbstractDevice]: Parameter channel 0 of parameter Gain with id "
                                                      "2000 is not registered!";
        QTest::newRow("unknown channel") << 8 << -1 << false
                                         << "[AbstractDevice]: Parameter channel 8 of parameter Gain with id 2000 "
                                            "is not registered!";
    }
    void registerParameterRules()
    {
        QFETCH(int, channelId);
        QFETCH(int, phaseId);
        QFETCH(bool, accepted);
        QFETCH(QString, warning);

        StubDevice device;
        QVERIFY(device.registerChannel(7, QStringLiteral("ch"), 0));
        LogCapture log;
        const bool result = device.registerParameter(2000, QStringLiteral("Gain"), 0, QString(), channelId, phaseId,
                                                     0, QString(), QMetaType::Double, false, false, false);
        QCOMPARE(result, accepted);
        QCOMPARE(device.parameterIds(), accepted ? QList<int>{2000} : QList<int>{});
        QCOMPARE(device.registeredParameterHooks(), accepted ? QList<int>{2000} : QList<int>{});
        QCOMPARE(log.texts(QtWarningMsg), warning.isEmpty() ? QStringList() : QStringList{warning});
    }

    void duplicateAndInternalParameters()
    {
        StubDevice device;
        auto reg = [&](int id, const QString &name, bool internal) {
            return device.registerParameter(id, name, 0, QString(), -1, -1, 0, QString(), QMetaType::Double, false,
                                            internal, false);
        };
        LogCapture log;
        QVERIFY(reg(2000, QStringLiteral("Charge"), false));
        QVERIFY(reg(2001, QStringLiteral("Operation mode"), true));
        QVERIFY(reg(1000, QStringLiteral("Device parameters"), true));

        QVERIFY(!reg(2000, QStringLiteral("Charge"), false));
        QCOMPARE(log.texts(QtWarningMsg),
                 QStringList{QStringLiteral("[AbstractDevice]: Parameter  Charge with id 2000 is already registered!")});

        QVERIFY(reg(2001, QStringLiteral("Operation mode 2"), true));
        ParameterInfo info;
        QVERIFY(device.parameterInfo(2001, info));
        QCOMPARE(info.name, QStringLiteral("Operation mode 2"));
        QVERIFY(info.internal);

        QCOMPARE(device.parameterIds(), QList<int>{2000});
        QVERIFY(device.parameterInfo(1000, info));
        QVERIFY(!device.parameterInfo(4242, info));
    }

    void openAndStartableFollowsOpenState()
    {
        StubDevice device;
        QSignalSpy spy(&device, &AbstractDevice::openAndStartableChanged);
        QVERIFY(!device.isOpenAndStartable());

        device.setStartable(true); // unchanged: nothing happens
        QCOMPARE(spy.count(), 0);

        device.simulateOpened();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.takeFirst().first().toBool(), true);

        device.setStartable(false);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.takeFirst().first().toBool(), false);
        device.setStartable(false);
        QCOMPARE(spy.count(), 0);

        device.simulateClosed(-1003);
        QCOMPARE(spy.count(), 0);
        device.setStartable(true);
        QCOMPARE(spy.count(), 0);
        QVERIFY(!device.isOpenAndStartable());

        device.simulateOpened();
        device.simulateClosed();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).first().toBool(), true);
        QCOMPARE(spy.at(1).first().toBool(), false);
    }

    void maxVoltagesSharedBetweenDevices()
    {
        StubDevice a;
        StubDevice b;
        a.setSerial(QStringLiteral("A1"));
        a.setMaxVoltage(100000);
        b.setSerial(QStringLiteral("B2"));
        b.setMaxVoltage(200000);

        QCoreApplication::instance()->setProperty("MaxVoltages", QVariantMap{{QStringLiteral("other-1"), 5}});
        a.simulateOpened();
        b.simulateOpened();
        QCOMPARE(maxVoltages(), (QVariantMap{{QStringLiteral("other-1"), 5},
                                             {QStringLiteral("A1-1"), 100000},
                                             {QStringLiteral("B2-1"), 200000}}));
        QCOMPARE(maxVoltages().value(QStringLiteral("A1-1")).userType(), int(QMetaType::Int));

        a.simulateClosed();
        QCOMPARE(maxVoltages(), (QVariantMap{{QStringLiteral("other-1"), 5}, {QStringLiteral("B2-1"), 200000}}));

        b.setMaxVoltage(150000);
        b.simulateOpened();
        QCOMPARE(maxVoltages().value(QStringLiteral("B2-1")), QVariant(150000));
        b.simulateClosed();
        QCOMPARE(maxVoltages(), (QVariantMap{{QStringLiteral("other-1"), 5}}));
    }

};

QTEST_GUILESS_MAIN(tst_AbstractDevice)
#include "tst_abstractdevice.moc"
