#include "LogCapture.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "StubDevice.h"

#include <QMetaType>
#include <QSet>
#include <QtTest>

#include <algorithm>

namespace {

// A device that only registers the catalogue, the way the real device does in
// initialize(): user parameters and settings first, detector parameters second.
// Every record that reaches the sink is kept, accepted or not.
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

    QList<int> recordedIds() const
    {
        QList<int> ids;
        for (const ParameterInfo &info : records)
            ids.append(info.id);
        return ids;
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

// Everything from 1000 to 1189 outside the settings range, minus the headers.
QSet<int> detectorIds()
{
    QSet<int> ids = idRange(1000, 1169) + idRange(1179, 1189);
    return ids - groupIds();
}

QSet<int> userIds()
{
    return idRange(1171, 1178) + idRange(2000, 2011);
}

QSet<int> toSet(const QList<int> &ids)
{
    return QSet<int>(ids.begin(), ids.end());
}

} // namespace

class tst_ParameterCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void containers();
    void recordFields();
    void kindAndVisibility_data();
    void kindAndVisibility();
    void parameterIdsAreTheDirectOnes();
    void registrationOrder_data();
    void registrationOrder();
    void displayNames_data();
    void displayNames();
    void logName_data();
    void logName();
    void enumeratorNamesCoverTheNamedRanges();
    void userDefaults();
    void refusedRecordsStayOutOfTheContainers();
    void registeringTwice();
};

void tst_ParameterCatalogue::containers()
{
    CatalogueDevice device;
    device.initialize();

    QVERIFY(device.refused.isEmpty());
    QCOMPARE(toSet(device.deviceContainer.ids()), detectorIds());
    QCOMPARE(toSet(device.userContainer.ids()), userIds());
    QCOMPARE(device.deviceContainer.ids().size(), 151);
    QCOMPARE(device.userContainer.ids().size(), 20);

    // Nothing is known until the detector or the settings say so, and nothing
    // is waiting to be sent.
    for (ParameterHandler *container : {&device.deviceContainer, &device.userContainer}) {
        for (int id : container->ids()) {
            QVERIFY2(!container->value(id).isValid(), qPrintable(QString::number(id)));
            QVERIFY(container->isValid(id));
        }
        QVERIFY(container->pendingIds().isEmpty());
    }
}

void tst_ParameterCatalogue::recordFields()
{
    CatalogueDevice device;
    device.initialize();

    QCOMPARE(device.records.size(), 202);
    QCOMPARE(toSet(device.recordedIds()).size(), device.records.size());
    QCOMPARE(toSet(device.recordedIds()), detectorIds() + userIds() + groupIds());
    QCOMPARE(device.records.first().id, 2009);
    QCOMPARE(device.records.last().id, 1189);

    for (const ParameterInfo &info : device.records) {
        const QByteArray what = QByteArray::number(info.id);
        QVERIFY2(info.unit.isEmpty(), what);
        QVERIFY2(info.description.isEmpty(), what);
        QVERIFY2(!info.name.isEmpty(), what);
        QVERIFY2(info.valueType == QMetaType::Double, what);
        QVERIFY2(info.channelId == -1, what);
        QVERIFY2(info.phaseId == -1, what);
        QVERIFY2(info.numberField == 0, what);
        QVERIFY2(!info.flagA && !info.flagB, what);

        // The kind follows the container, whatever the row says.
        if (groupIds().contains(info.id))
            QVERIFY2(info.kind == ParameterCatalogue::KindGroup, what);
        else if (device.deviceContainer.contains(info.id))
            QVERIFY2(info.kind == ParameterCatalogue::KindDeviceParameter, what);
        else
            QVERIFY2(info.kind < ParameterCatalogue::KindDeviceParameter, what);
    }
}

void tst_ParameterCatalogue::kindAndVisibility_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("internal");

    QTest::newRow("device group") << 1000 << 1001 << true;
    QTest::newRow("gain header") << 1088 << 1001 << true;
    QTest::newRow("settings group") << 1170 << 1001 << true;
    QTest::newRow("serial") << 1002 << 1000 << true;
    QTest::newRow("serial copy") << 2009 << 1 << false;
    QTest::newRow("charge") << 2000 << 18 << false;
    QTest::newRow("charge to voltage") << 2005 << 27 << false;
    QTest::newRow("connection") << 1171 << 0 << true;
    QTest::newRow("unnamed setting") << 1175 << 0 << true;
    QTest::newRow("muxer shots") << 2011 << 0 << true;
}

void tst_ParameterCatalogue::kindAndVisibility()
{
    QFETCH(int, id);
    QFETCH(int, kind);
    QFETCH(bool, internal);

    CatalogueDevice device;
    device.initialize();

    ParameterInfo info;
    QVERIFY(device.parameterInfo(id, info));
    QCOMPARE(info.kind, kind);
    QCOMPARE(info.internal, internal);
}

void tst_ParameterCatalogue::parameterIdsAreTheDirectOnes()
{
    CatalogueDevice device;
    device.initialize();

    QList<int> ids = device.parameterIds();
    std::sort(ids.begin(), ids.end());
    QCOMPARE(ids, (QList<int>{2000, 2005, 2009}));
}

void tst_ParameterCatalogue::registrationOrder_data()
{
    // Each row: ids that must be registered one right after the other.
    QTest::addColumn<QList<int>>("run");

    QTest::newRow("user start") << QList<int>{2009, 2000, 2001, 2002, 2003, 2004, 2005, 2006, 2007};
    QTest::newRow("settings after 2007") << QList<int>{2007, 1170, 1171, 1172, 1173, 1174, 1175, 1176, 1177, 2010};
    QTest::newRow("hv source after 2010") << QList<int>{2010, 1178, 2008, 2011};
    QTest::newRow("user before detector") << QList<int>{2011, 1000, 1001};
    QTest::newRow("identification") << QList<int>{1014, 1015, 1016};
    QTest::newRow("sample periods") << QList<int>{1016, 1022, 1027, 1032, 1037, 1017};
    QTest::newRow("pretrigger periods") << QList<int>{1017, 1025, 1030, 1035, 1040, 1020};
    QTest::newRow("periods") << QList<int>{1020, 1024, 1029, 1034, 1039, 1019};
    QTest::newRow("frame periods") << QList<int>{1019, 1023, 1028, 1033, 1038, 1018};
    QTest::newRow("timeout periods") << QList<int>{1018, 1026, 1031, 1036, 1041, 1021, 1042};
    QTest::newRow("triggers") << QList<int>{1046, 1047, 1048, 1049, 1050, 1051, 1052};
    QTest::newRow("filter 0") << QList<int>{1052, 1057, 1053, 1054, 1055, 1056, 1058};
    QTest::newRow("filter 2") << QList<int>{1064, 1069, 1065, 1066, 1067, 1068, 1070};
    QTest::newRow("gain") << QList<int>{1094, 1095, 1096, 1097};
    QTest::newRow("digital into fan") << QList<int>{1165, 1166, 1167, 1168, 1169, 1179, 1180};
    QTest::newRow("statistics last") << QList<int>{1184, 1185, 1186, 1187, 1188, 1189};
}

void tst_ParameterCatalogue::registrationOrder()
{
    QFETCH(QList<int>, run);

    CatalogueDevice device;
    device.initialize();
    const QList<int> order = device.recordedIds();

    const int start = order.indexOf(run.first());
    QVERIFY(start >= 0);
    QCOMPARE(order.mid(start, run.size()), run);
}

void tst_ParameterCatalogue::displayNames_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("name");

    QTest::newRow("1019") << 1019 << "Muxer channel periods";
    QTest::newRow("1023") << 1023 << "TV channel frame period";
    QTest::newRow("1035") << 1035 << "Charge channel 1 pre trigger period";
    QTest::newRow("1057") << 1057 << "Filter ADC 0 bandpass";
    QTest::newRow("1061") << 1061 << "Filter ADC 1 highpass 0";
    QTest::newRow("1079") << 1079 << "Gain Partial discharge (PD)";
    QTest::newRow("1089") << 1089 << "Clock Source levels";
    QTest::newRow("1090") << 1090 << "clock Source value";
    QTest::newRow("1113") << 1113 << "Muxer enable dual channel mode";
    QTest::newRow("1126") << 1126 << "ADC0 invertion";
    QTest::newRow("1140") << 1140 << "Channel external trigger 0";
    QTest::newRow("1152") << 1152 << "pos. edge";
    QTest::newRow("1183") << 1183 << "Max dtuy cycle";
    QTest::newRow("1178") << 1178 << "HvSourceProfile";
    QTest::newRow("2008") << 2008 << "relative trigger level";
    QTest::newRow("2011") << 2011 << "maximum shots of muxer data while in vlf sin mode";
}

void tst_ParameterCatalogue::displayNames()
{
    QFETCH(int, id);
    QFETCH(QString, name);

    CatalogueDevice device;
    device.initialize();

    ParameterInfo info;
    QVERIFY(device.parameterInfo(id, info));
    QCOMPARE(info.name, name);
}

void tst_ParameterCatalogue::logName_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("expected");

    QTest::newRow("device serial") << 1002 << "(1002)DeviceSerial";
    QTest::newRow("group header") << 1000 << "(1000)DeviceParameter";
    QTest::newRow("timing member") << 1036 << "(1036)Charge1TimeoutPeriod";
    QTest::newRow("bandpass") << 1063 << "(1063)FilterAdc1Bandpass";
    QTest::newRow("last digital") << 1169 << "(1169)DigitalChannel7HoldTime";
    QTest::newRow("settings group") << 1170 << "(1170)Settings";
    QTest::newRow("unnamed setting 1174") << 1174 << "(1174)";
    QTest::newRow("hv source") << 1178 << "(1178)HvSourceType";
    QTest::newRow("fan max duty") << 1183 << "(1183)FanControlMinTemperature";
    QTest::newRow("fan omega") << 1184 << "(1184)FanControlMinTemperature";
    QTest::newRow("statistics group") << 1185 << "(1185)ParameterStatistics";
    QTest::newRow("charge to voltage") << 2005 << "(2005)";
    QTest::newRow("serial copy") << 2009 << "(2009)";
    QTest::newRow("expert mode") << 2010 << "(2010)ExpertMode";
    QTest::newRow("below the catalogue") << 999 << "(999)";
    QTest::newRow("above the catalogue") << 2012 << "(2012)";
    QTest::newRow("negative") << -1 << "(-1)";
}

void tst_ParameterCatalogue::logName()
{
    QFETCH(int, id);
    QFETCH(QString, expected);

    QCOMPARE(ParameterCatalogue::logName(id), expected);
}

void tst_ParameterCatalogue::enumeratorNamesCoverTheNamedRanges()
{
    const QSet<int> named = idRange(1000, 1173) + idRange(1176, 1189) + idRange(2000, 2004) + QSet<int>{2010};
    for (int id = 995; id <= 2015; ++id) {
        const QString prefix = QStringLiteral("(%1)").arg(id);
        const QString name = ParameterCatalogue::logName(id);
        QVERIFY2(name.startsWith(prefix), qPrintable(name));
        QVERIFY2(named.contains(id) == (name.size() > prefix.size()), qPrintable(name));
    }
}

void tst_ParameterCatalogue::userDefaults()
{
    const QList<QPair<int, QVariant>> defaults = ParameterCatalogue::userDefaults();

    QList<int> ids;
    for (const auto &entry : defaults)
        ids.append(entry.first);
    QCOMPARE(ids, (QList<int>{2004, 1171, 1172, 1176, 2010, 2008}));

    // The types matter: the settings code reads them back with toString()/toInt()
    // and the host compares the variants it gets.
    const QList<QVariant> expected{true, QStringLiteral("192.168.220.100:52922"), 5000, false, false, 50};
    for (int i = 0; i < defaults.size(); ++i) {
        QCOMPARE(defaults.at(i).second.userType(), expected.at(i).userType());
        QCOMPARE(defaults.at(i).second, expected.at(i));
    }

    CatalogueDevice device;
    device.initialize();
    for (int id : ids)
        QVERIFY2(device.userContainer.contains(id), qPrintable(QString::number(id)));
}

void tst_ParameterCatalogue::refusedRecordsStayOutOfTheContainers()
{
    ParameterHandler deviceContainer(nullptr, QStringLiteral("[DEVICE]:"));
    ParameterHandler userContainer(nullptr, QStringLiteral("[USER]:"));
    int offered = 0;
    const auto refuseAll = [&offered](const ParameterInfo &) {
        ++offered;
        return false;
    };

    ParameterCatalogue::registerUserParameters(refuseAll, &userContainer);
    ParameterCatalogue::registerDeviceParameters(refuseAll, &deviceContainer);

    QCOMPARE(offered, 202);
    QVERIFY(deviceContainer.ids().isEmpty());
    QVERIFY(userContainer.ids().isEmpty());
}

void tst_ParameterCatalogue::registeringTwice()
{
    CatalogueDevice device;
    device.initialize();
    device.userContainer.update(1172, 7000, 0);
    device.deviceContainer.update(1002, QStringLiteral("D123"), 0);
    device.records.clear();

    LogCapture log;
    device.initialize();

    // Only visible parameters count as duplicates, so the three direct ones are
    // refused and the internal records are simply stored again.
    QCOMPARE(device.records.size(), 202);
    std::sort(device.refused.begin(), device.refused.end());
    QCOMPARE(device.refused, (QList<int>{2000, 2005, 2009}));
    const QStringList warnings = log.texts(QtWarningMsg, QStringLiteral("dravik"));
    QCOMPARE(warnings.size(), 3);
    QVERIFY(warnings.contains(
        QStringLiteral("[AbstractDevice]: Parameter  Serial number with id 2009 is already registered!")));
    QVERIFY(warnings.contains(QStringLiteral("[AbstractDevice]: Parameter  Charge with id 2000 is already registered!")));
    QVERIFY(warnings.contains(
        QStringLiteral("[AbstractDevice]: Parameter  Charge to voltage factor with id 2005 is already registered!")));
    QVERIFY(log.unexpectedQtWarnings().isEmpty());

    // A second pass must not wipe what the containers already hold.
    QCOMPARE(device.userContainer.value(1172), QVariant(7000));
    QCOMPARE(device.deviceContainer.value(1002), QVariant(QStringLiteral("D123")));
    QCOMPARE(device.userContainer.ids().size(), 20);
    QCOMPARE(device.deviceContainer.ids().size(), 151);
    QCOMPARE(device.parameterIds().size(), 3);
}

QTEST_GUILESS_MAIN(tst_ParameterCatalogue)
#include "tst_parametercatalogue.moc"
