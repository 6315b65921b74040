#include "AcquisitionTiming.h"
#include "DeviceSettings.h"
#include "GainSelection.h"
#include "HardwareChannelMap.h"
#include "LogCapture.h"
#include "OperationModes.h"

#include <QtTest>

using Fields = QList<qint64>;
using Requests = QList<QPair<int, QVariant>>;
Q_DECLARE_METATYPE(Requests)

namespace {

Fields fields(const AcquisitionTiming::Record &r)
{
    return {qint64(r.triggerSource), qint64(r.triggerHoldtime), qint64(r.periods),
            qint64(r.framePeriod),   qint64(r.samplePeriod),    r.pretrigger};
}

bool sameVariant(const QVariant &a, const QVariant &b)
{
    return a.userType() == b.userType() && a == b;
}

QHash<int, int> selectorMap()
{
    const int channels[] = {1000, 1005, 1002, 1008, 1001, 1006, 1003, 1009,
                            1010, 1011, 1012, 1013, 1014, 1015, 1016, 1017};
    QHash<int, int> map;
    for (int selector = 0; selector < 16; ++selector)
        map.insert(selector, channels[selector]);
    return map;
}

constexpr int kAbsent = -2;
constexpr qint64 kAll = 4294967295;
const int M = AcquisitionTiming::Muxer;
const int TV = AcquisitionTiming::TestVoltage;
const int Q = AcquisitionTiming::Charge;

} // namespace

class tst_DeviceHelpers : public QObject
{
    Q_OBJECT

private slots:
    void operationModeName_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("shortName");
        QTest::addColumn<QString>("expected");
        QTest::newRow("undefined short") << -1 << true << "-";
        QTest::newRow("pinpointing long keeps its blank") << 11 << false << "Pinpointing ";
        QTest::newRow("unknown short") << 12 << true << "unk. 12";
    }
    void operationModeName()
    {
        QFETCH(int, mode);
        QFETCH(bool, shortName);
        QTEST(OperationModes::name(mode, shortName), "expected");
    }

    void supportedModes_data()
    {
        QTest::addColumn<QVariant>("deviceType");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("supported");
        QTest::addColumn<int>("maxVoltage");
        // Type 3 and the notification: tst_dravik.
        QTest::newRow("type 4, DAC- withstand") << QVariant(4) << 9 << true << 300000;
        QTest::newRow("type 1, all but sine AC") << QVariant(1) << 6 << false << 62000;
        QTest::newRow("unknown type") << QVariant(5) << 6 << true << 0;
        QTest::newRow("no type yet") << QVariant() << 6 << true << 0;
    }
    void supportedModes()
    {
        QFETCH(QVariant, deviceType);
        QFETCH(int, mode);
        QFETCH(int, maxVoltage);
        QTEST(OperationModes::isSupported(deviceType, mode), "supported");
        QCOMPARE(OperationModes::maxVoltage(deviceType), maxVoltage);
    }

    void timingLookup_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("measurementMode");
        QTest::addColumn<int>("operationMode");
        QTest::addColumn<QVariant>("maxShots");
        QTest::addColumn<Fields>("expected");
        QTest::addColumn<bool>("valid");
        const Fields idle{68, 0, 0, 200000000, 200000000, 0};
        const Fields vlf{13, 100000000, kAll, 1000000, 1000000, 500000};
        const auto shots = [vlf](qint64 periods) { Fields f = vlf; f[2] = periods; return f; };
        const QVariant none;
        QTest::newRow("sensitivity check, muxer") << M << 0 << 10 << QVariant(7u) << idle << true;
        QTest::newRow("unknown operation mode") << Q << 0 << 12 << none << idle << true;
        QTest::newRow("DAC- withstand charge") << Q << 0 << 9 << none
                                               << Fields{66, 0, kAll, 500000000, 500000000, 1000000} << true;
        QTest::newRow("slope muxer ignores shots") << M << 0 << 5 << QVariant(7u)
                                                   << Fields{66, 0, kAll, 30000000, 30000000, 0} << true;
        QTest::newRow("pinpointing, no shots") << M << 0 << 11 << none << vlf << true;
        QTest::newRow("shots override") << M << 0 << 7 << QVariant(250u) << shots(250) << true;
        QTest::newRow("shots as text") << M << 0 << 6 << QVariant("12") << shots(12) << true;
        QTest::newRow("shots not a number") << M << 0 << 3 << QVariant("abc") << vlf << true;
        QTest::newRow("shots beyond 32 bit") << M << 0 << 3 << QVariant(4294967296ll) << vlf << true;
        QTest::newRow("mode 1 muxer") << M << 1 << 3 << QVariant(7u)
                                      << Fields{4, 15000000, 500, 800000, 800000, 300000} << true;
        QTest::newRow("disengaged") << M << -1 << 3 << none << Fields{68, 0, 1, 200000000, 200000000, 0} << false;
    }
    void timingLookup()
    {
        QFETCH(int, group);
        QFETCH(int, measurementMode);
        QFETCH(int, operationMode);
        QFETCH(QVariant, maxShots);
        QFETCH(bool, valid);
        bool isValid = !valid;
        const auto record = AcquisitionTiming::lookup(AcquisitionTiming::Group(group), measurementMode,
                                                      operationMode, maxShots, &isValid);
        QTEST(fields(record), "expected");
        QCOMPARE(isValid, valid);
    }

    void voltageFactor_data()
    {
        QTest::addColumn<QVariant>("bandwidth");
        QTest::addColumn<int>("measurementMode");
        QTest::addColumn<QVariant>("chargeToVoltage");
        QTest::addColumn<double>("expected");
        QTest::addColumn<bool>("used");
        QTest::newRow("unknown bandwidth") << QVariant() << 0 << QVariant() << 0.39 << false;
        QTest::newRow("0.5 is still narrow") << QVariant(0.5) << 0 << QVariant() << 0.39 << false;
        QTest::newRow("wide band") << QVariant(1.0) << 0 << QVariant() << 1.41 << false;
        QTest::newRow("host factor") << QVariant(1.0) << 2 << QVariant(2.0) << 2e-9 << true;
        QTest::newRow("mode 1 ignores it") << QVariant(1.0) << 1 << QVariant(2.0) << 1.41 << false;
        QTest::newRow("text factor") << QVariant(0.0) << 0 << QVariant("abc") << 0.39 << false;
    }
    void voltageFactor()
    {
        QFETCH(QVariant, bandwidth);
        QFETCH(int, measurementMode);
        QFETCH(QVariant, chargeToVoltage);
        QFETCH(bool, used);
        bool usedFactor = !used;
        QTEST(GainSelection::voltageFactor(bandwidth, measurementMode, chargeToVoltage, &usedFactor), "expected");
        QCOMPARE(usedFactor, used);
    }

    void chooseLevel_data()
    {
        QTest::addColumn<QVariantList>("levels");
        QTest::addColumn<double>("target");
        QTest::addColumn<double>("expected");
        const QVariantList levels{0.0, 10.0, 20.0, 30.0};
        // Between levels (25 dB picks 20): tst_dravik.
        QTest::newRow("below all: smallest") << levels << -5.0 << 0.0;
        QTest::newRow("exactly a level") << levels << 30.0 << 30.0;
        QTest::newRow("unordered, negative") << QVariantList{5, -10, -30} << -20.0 << -30.0;
        QTest::newRow("empty") << QVariantList() << 25.0 << 0.0;
        QTest::newRow("non-number skipped") << QVariantList{"x", 10} << 5.0 << 10.0;
        QTest::newRow("100 pC") << levels << GainSelection::targetDb(1e-10, 0.39) << 20.0;
        QTest::newRow("no charge: most gain") << levels << GainSelection::targetDb(0, 0.39) << 30.0;
        QTest::newRow("negative charge: least") << levels << GainSelection::targetDb(-1e-9, 0.39) << 0.0;
    }
    void chooseLevel()
    {
        QFETCH(QVariantList, levels);
        QFETCH(double, target);
        QTEST(GainSelection::chooseLevel(levels, target), "expected");
    }

    void hardwareChannels_data()
    {
        QTest::addColumn<bool>("dual");
        QTest::addColumn<bool>("gating");
        QTest::addColumn<int>("ch0");
        QTest::addColumn<int>("hvSourceType");
        QTest::addColumn<int>("hardware");
        QTest::addColumn<int>("channel");
        // Selector 5, system gating, phases on 5, dual mode: tst_dravik, on the real map.
        QTest::newRow("26 in the second block") << false << false << 0 << 0 << 26 << 1041;
        QTest::newRow("nothing beyond 40") << false << false << 0 << 0 << 41 << kAbsent;
        QTest::newRow("HV 3: other selectors kept") << false << false << 6 << 3 << 0 << 1003;
        QTest::newRow("unknown selector") << false << false << 16 << 0 << 0 << -1;
        QTest::newRow("no gating outputs") << false << false << 0 << 0 << 1 << kAbsent;
        QTest::newRow("user gating") << false << true << 0 << 0 << 2 << 1007;
        QTest::newRow("dual: ch0 on 3, no PD swap") << true << false << 5 << 3 << 3 << 1006;
        QTest::newRow("dual: ch1 on 4") << true << false << 5 << 3 << 4 << 1009;
    }
    void hardwareChannels()
    {
        QFETCH(bool, dual);
        QFETCH(bool, gating);
        QFETCH(int, ch0);
        QFETCH(int, hvSourceType);
        QFETCH(int, hardware);
        LogCapture log;
        const auto map = HardwareChannelMap::build(dual, gating, quint8(ch0), 7, hvSourceType, selectorMap());
        QTEST(map.value(hardware, kAbsent), "channel");
        QCOMPARE(log.contains(QtDebugMsg, "[DRAVIK2]: switch phase 1 => 0"), hvSourceType == 3);
    }

    void applySettings_data()
    {
        QTest::addColumn<QVariantHash>("hash");
        QTest::addColumn<Requests>("requests");
        QTest::addColumn<QList<bool>>("access"); // service, production, development
        const QList<bool> noAccess{false, false, false};
        QTest::newRow("develop opens all") << QVariantHash{{"DevelopMode", true}} << Requests()
                                           << QList<bool>{true, true, true};
        QTest::newRow("production only") << QVariantHash{{"ProductionMode", true}, {"DevelopMode", false}}
                                         << Requests() << QList<bool>{false, true, false};
        QTest::newRow("hold time as text") << QVariantHash{{"HoldTimeDG0", "12"}} << Requests{{1173, "12"}}
                                           << noAccess;
        QTest::newRow("hold time not a number") << QVariantHash{{"HoldTimeDG0", "abc"}} << Requests() << noAccess;
        QTest::newRow("negative hold time") << QVariantHash{{"SystemGatingHoldTime", "-5"}} << Requests()
                                            << noAccess;
        QTest::newRow("fractional level") << QVariantHash{{"SystemGatingLevel", 0.1585}}
                                          << Requests{{1174, 0.1585}} << noAccess;
        QTest::newRow("bool is no number") << QVariantHash{{"MaxShotsVLFSinLocalization", true}} << Requests()
                                           << noAccess;
        QTest::newRow("texts before numbers")
            << QVariantHash{{"MaxShotsVLFSinLocalization", 100}, {"PdLogFile", "pd.log"}, {"AliveTimout", 5000},
                            {"NetworkAddress", QVariant()}, {"Unknown", 1}}
            << Requests{{1172, 5000}, {1177, "pd.log"}, {2011, 100}} << noAccess;
    }
    void applySettings()
    {
        QFETCH(QVariantHash, hash);
        QFETCH(Requests, requests);
        Requests made;
        LogCapture log;
        const auto access = DeviceSettings::apply(hash, [&made](int id, const QVariant &v) { made.append({id, v}); });
        // Each request logged with its value; nothing logged for what was skipped.
        const QStringList logged = log.texts(QtDebugMsg, "dravik").filter("[DRAVIK] ");
        QCOMPARE(made.size(), requests.size());
        QCOMPARE(logged.size(), requests.size());
        for (int i = 0; i < made.size(); ++i) {
            QCOMPARE(made.at(i).first, requests.at(i).first);
            QVERIFY2(sameVariant(made.at(i).second, requests.at(i).second), qPrintable(made.at(i).second.toString()));
            QVERIFY2(logged.at(i).endsWith(QLatin1Char(' ') + made.at(i).second.toString()), qPrintable(logged.at(i)));
        }
        QTEST((QList<bool>{access.service, access.production, access.development}), "access");
    }
};

QTEST_GUILESS_MAIN(tst_DeviceHelpers)
#include "tst_devicehelpers.moc"
