#include "LogCapture.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "StubDevice.h"

#include <QMetaType>
#include <QSet>
#include <QtTest>

#include <algorithm>

namespace {

class CatalogueDevice : public StubDevice
{
public:
    CatalogueDevice()
        : deviceContainer(this, QStringLiteral("[DEVICE]:"))
        , userContainer(this, QStringLiteral("[USER]:"))
    {
    }

    bool initialize() override
    {
        const ParameterCatalogue::RegisterFunction sink = [this](const ParameterInfo &info) {
            records.append(info);
            const bool accepted = registerParameter(info);
            if (!accepted)
                refused.append(info.id);
            return accepted;
        };
        ParameterCatalogue::registerUserParameters(sink, &userContainer);
        ParameterCatalogue::registerDeviceParameters(sink, &deviceContainer);
        return true;
    }

    ParameterHandler deviceContainer;
    ParameterHandler userContainer;
    QList<ParameterInfo> records;
    QList<int> refused;
};

QSet<int> idRange(int first, int last)
{
    QSet<int> ids;
    for (int id = first; id <= last; ++id)
        ids.insert(id);
    return ids;
}

const QSet<int> &groupIds()
{
    static const QSet<int> ids = [] {
        QSet<int> set{1000, 1016, 1042, 1047, 1052, 1058, 1064, 1097, 1110, 1115, 1125, 1170, 1179, 1185};
        for (int id = 1070; id <= 1094; id += 3)
            set.insert(id); // nine gain headers
        for (int id = 1130; id <= 1165; id += 5)
            set.insert(id); // eight digital channel headers
        return set;
    }();
    return ids;
}

QSet<int> detectorIds()
{
    QSet<int> ids = idRange(1000, 1169) + idRange(1179, 1189);
    return ids - groupIds();
}

QSet<int> userIds() { return idRange(1171, 1178) + idRange(2000, 2011); }

QSet<int> toSet(const QList<int> &ids) { return QSet<int>(ids.begin(), ids.end()); }

} // namespace

class tst_ParameterCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void containers()
    {
        CatalogueDevice device;
        device.initialize();

        QVERIFY(device.refused.isEmpty());
        QCOMPARE(toSet(device.deviceContainer.ids()), detectorIds());
        QCOMPARE(toSet(device.userContainer.ids()), userIds());

        for (ParameterHandler *container : {&device.deviceContainer, &device.userContainer}) {
            for (int id : container->ids()) {
                QVERIFY2(!container->value(id).isValid(), qPrintable(QString::number(id)));
                QVERIFY(container->isValid(id));
            }
            QVERIFY(container->pendingIds().isEmpty());
        }
    }

    void logName_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("expected");

        QTest::newRow("device serial") << 1002 << "(1002)DeviceSerial";
        QTest::newRow("group header") << 1000 << "(1000)DeviceParameter";
        QTest::newRow("settings group") << 1170 << "(1170)Settings";
        QTest::newRow("hv source") << 1178 << "(1178)HvSourceType";
        QTest::newRow("fan omega") << 1184 << "(1184)FanControlMinTemperature";
        QTest::newRow("expert mode") << 2010 << "(2010)ExpertMode";
    }

    void logName()
    {
        QFETCH(int, id);

        QTEST(ParameterCatalogue::logName(id), "expected");
    }

    // Ids without an enumerator name, inside the catalogue and around it, log "(id)" alone.
    void enumeratorNamesCoverTheNamedRanges()
    {
        const QSet<int> named = idRange(1000, 1173) + idRange(1176, 1189) + idRange(2000, 2004) + QSet<int>{2010};
        for (int id = 995; id <= 2015; ++id) {
            const QString prefix = QStringLiteral("(%1)").arg(id);
            const QString name = ParameterCatalogue::logName(id);
            QVERIFY2(name.startsWith(prefix), qPrintable(name));
            QVERIFY2(named.contains(id) == (name.size() > prefix.size()), qPrintable(name));
        }
    }

    // Registering again keeps every value (add() keeps an existing entry);
    // the device refuses its visible parameters a second time.
    void registeringTwice()
    {
        CatalogueDevice device;
        device.initialize();
        device.userContainer.update(1172, 7000, 0);
        device.deviceContainer.update(1002, QStringLiteral("D123"), 0);
        device.records.clear();

        LogCapture log;
        device.initialize();

        QCOMPARE(device.records.size(), 202);
        std::sort(device.refused.begin(), device.refused.end());
        QCOMPARE(device.refused, (QList<int>{2000, 2005, 2009}));
        QCOMPARE(log.texts(QtWarningMsg, QStringLiteral("dravik")).size(), 3);
        QVERIFY(log.unexpectedQtWarnings().isEmpty());

        QCOMPARE(device.userContainer.value(1172), QVariant(7000));
        QCOMPARE(device.deviceContainer.value(1002), QVariant(QStringLiteral("D123")));
        QCOMPARE(device.parameterIds().size(), 3);
    }
};

QTEST_GUILESS_MAIN(tst_ParameterCatalogue)
#include "tst_parametercatalogue.moc"
