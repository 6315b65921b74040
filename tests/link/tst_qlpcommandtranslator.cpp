#include "LogCapture.h"
#include "ParameterCatalogue.h"
#include "ParameterHandler.h"
#include "QlpCommandTranslator_v2.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {

using Counts = QMap<int, int>; // first index → number of parameters

// The enumerator name of an id, as the catalogue has it: a wrong id in the
// translation shows up as a wrong name. Rows that name a parameter whose
// enumerator is shared (the fan members) give the whole log name instead.
QString label(int id, const QString &expected)
{
    const QString logName = ParameterCatalogue::logName(id);
    if (expected.startsWith(QLatin1Char('(')))
        return logName;
    return logName.mid(logName.indexOf(QLatin1Char(')')) + 1);
}

QList<int> deviceParameterIds()
{
    ParameterHandler container(nullptr, QStringLiteral("[test]"));
    ParameterCatalogue::registerDeviceParameters([](const ParameterInfo &) { return true; }, &container);
    return container.ids();
}

QStringList prefixed(const QString &prefix, const QStringList &members)
{
    QStringList result;
    for (const QString &member : members)
        result.append(prefix + member);
    return result;
}

const QStringList kTimingMembers{"SamplePeriod", "FramePeriod", "Periods", "PretriggerPeriod", "TimeoutPeriod"};
const QStringList kTriggerMembers{"Source", "Level", "Holdtime", "Values"};
const QStringList kDigitalMembers{"Invertion", "PositiveEdge", "NegativeEdge", "HoldTime"};

} // namespace

class tst_QlpCommandTranslator : public QObject
{
    Q_OBJECT

private slots:
    void instances_data();
    void instances();
    void coversTheCatalogue();
    void memberCounts_data();
    void memberCounts();
    void commands();
    void lookups_data();
    void lookups();
    void protocolVersionRebuildsMaps();
    void lookupsWhileRebuilding();
};

void tst_QlpCommandTranslator::instances_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("firstIndex");
    QTest::addColumn<QStringList>("expected"); // by second index

    QTest::newRow("identification") << 0x0100 << 0
                                    << QStringList{"DeviceCodeNumber", "DeviceSerial", "DeviceDescriptor",
                                                   "DeviceType", "DeviceSubType", "DeviceSoftwareVersion",
                                                   "DeviceHardwareVersion", "DeviceProtocolVersion",
                                                   "DeviceFirmwareVersion"};
    QTest::newRow("measurement state") << 0x0F41 << 0
                                       << QStringList{"MeasurementState", "ChannelStateCharge0", "ChannelStateCharge1",
                                                      "ChannelStateCharge2", "ChannelStateMuxer",
                                                      "ChannelStateTestVoltage"};
    QTest::newRow("timings set muxer") << 0x0F22 << 0 << prefixed("Muxer", kTimingMembers);
    QTest::newRow("timings get charge 0") << 0x0F42 << 2 << prefixed("Charge0", kTimingMembers);
    QTest::newRow("timings set charge 2") << 0x0F22 << 4 << prefixed("Charge2", kTimingMembers);
    QTest::newRow("timings channel 5") << 0x0F42 << 5 << QStringList();
    QTest::newRow("trigger 0 set") << 0x0F24 << 0 << prefixed("Trigger0", kTriggerMembers);
    QTest::newRow("trigger 1 get") << 0x0F44 << 1 << prefixed("Trigger1", kTriggerMembers);
    QTest::newRow("trigger 2") << 0x0F44 << 2 << QStringList();
    QTest::newRow("filter adc 0 lowpass 0") << 0x0F45 << 0 << QStringList{"FilterAdc0Lowpass0"};
    QTest::newRow("filter adc 0 bandpass") << 0x0F25 << 4 << QStringList{"FilterAdc0Bandpass"};
    QTest::newRow("filter adc 1 highpass 0") << 0x0F45 << 34 << QStringList{"FilterAdc1Highpass0"};
    QTest::newRow("filter adc 2 bandpass") << 0x0F45 << 68 << QStringList{"FilterAdc2Bandpass"};
    QTest::newRow("filter kind 5") << 0x0F45 << 5 << QStringList();
    QTest::newRow("filter adc 3") << 0x0F45 << 96 << QStringList();
    QTest::newRow("gating digital 0") << 0x0F26 << 0 << QStringList{"GatingDigital0Activation"};
    QTest::newRow("gating digital 1") << 0x0F46 << 1 << QStringList{"GatingDigital1Activation"};
    QTest::newRow("gating user") << 0x0F26 << 2
                                 << QStringList{"GatingUserActivation", "GatingUserLevel", "GatingUserHoldtime"};
    QTest::newRow("gating system") << 0x0F46 << 3
                                   << QStringList{"GatingSystemActivation", "GatingSystemLevel",
                                                  "GatingSystemHoldtime"};
    QTest::newRow("gating adc overflow 3") << 0x0F26 << 7 << QStringList{"GatingAdcOverflow3Activation"};
    QTest::newRow("gating 8") << 0x0F46 << 8 << QStringList();
    QTest::newRow("gain system gating") << 0x0F27 << 0 << QStringList{"GainSystemGatingValue"};
    QTest::newRow("gain pd") << 0x0F47 << 3 << QStringList{"GainPdValue"};
    QTest::newRow("gain user gating bandwidth") << 0x0F27 << 8 << QStringList{"GainUserGatingBandwidthValue"};
    QTest::newRow("gain 9") << 0x0F47 << 9 << QStringList();
    QTest::newRow("gain levels system gating") << 0x0F48 << 0 << QStringList{"GainSystemGatingLevels"};
    QTest::newRow("gain levels system bandwidth") << 0x0F48 << 7
                                                  << QStringList{"GainSystemGatingBandwidthLevels"};
    QTest::newRow("muxer") << 0x0F4A << 0
                           << QStringList{"MuxerDualChannelEnable", "MuxerGatingEnable", "MuxerChannel0",
                                          "MuxerChannel1"};
    QTest::newRow("adc 0") << 0x0F2B << 0 << QStringList{"Adc0Invert"};
    QTest::newRow("adc 3") << 0x0F4B << 3 << QStringList{"Adc3Invert"};
    QTest::newRow("statistics") << 0x0F4F << 0
                                << QStringList{"StatisticsMin", "StatisticsMax", "StatisticsMean", "StatisticsRms"};
    QTest::newRow("digital channel 0") << 0x0F2C << 0 << prefixed("DigitalChannel0", kDigitalMembers);
    QTest::newRow("digital channel 7") << 0x0F4C << 7 << prefixed("DigitalChannel7", kDigitalMembers);
    QTest::newRow("config serial") << 0x0F63 << 0 << QStringList{"DeviceConfigSerialNumber"};
    QTest::newRow("config ip address") << 0x0F83 << 2 << QStringList{"DeviceConfigIpAddress"};
    QTest::newRow("config info string get") << 0x0F83 << 3 << QStringList{"DeviceConfigInfoString"};
    QTest::newRow("config info string set") << 0x0F63 << 3 << QStringList();
    QTest::newRow("config ip port") << 0x0F63 << 4 << QStringList{"DeviceConfigIpPort"};
    QTest::newRow("config calibration") << 0x0F63 << 7 << QStringList{"DeviceConfigTestVoltageCalibration"};
    QTest::newRow("config device type") << 0x0F83 << 8 << QStringList{"DeviceConfigDeviceType"};
    QTest::newRow("fan control") << 0x0F84 << 0
                                 << QStringList{"(1180)FanControlMinTemperature", "(1181)FanControlMinTemperature",
                                                "(1182)FanControlMinTemperature", "(1183)FanControlMinTemperature",
                                                "(1184)FanControlMinTemperature"};
    QTest::newRow("not a table command") << 0x0F00 << 0 << QStringList();
}

void tst_QlpCommandTranslator::instances()
{
    QFETCH(int, command);
    QFETCH(int, firstIndex);
    QFETCH(QStringList, expected);

    QlpCommandTranslator_v2 translator;
    const QMap<int, int> mapping = translator.mapping(quint16(command), quint8(firstIndex));
    QCOMPARE(mapping.keys(), [&] {
        QList<int> positions;
        for (int i = 0; i < expected.size(); ++i)
            positions.append(i);
        return positions;
    }());
    QStringList actual;
    for (int i = 0; i < expected.size(); ++i)
        actual.append(label(mapping.value(i), expected.at(i)));
    QCOMPARE(actual, expected);
    // parameters() is the same instance in payload order: the job takes its
    // first id as the instance's representative.
    QCOMPARE(translator.parameters(quint16(command), quint8(firstIndex)), mapping.values());
}

void tst_QlpCommandTranslator::coversTheCatalogue()
{
    QlpCommandTranslator_v2 translator;
    const QHash<int, QlpCommandTranslator_v2::Entry> table = translator.table();

    // Every detector parameter of the catalogue has commands, and nothing else
    // (group headers, settings, user parameters) has.
    QList<int> catalogue = deviceParameterIds();
    QList<int> translated = table.keys();
    std::sort(catalogue.begin(), catalogue.end());
    std::sort(translated.begin(), translated.end());
    QCOMPARE(translated, catalogue);

    for (int id : {1000, 1016, 1042, 1047, 1052, 1070, 1097, 1110, 1115, 1125, 1130, 1165, 1179, 1185, 1170, 1171,
                   1178, 2000, 2009, 2011})
        QVERIFY2(!translator.contains(id), qPrintable(ParameterCatalogue::logName(id)));

    // No two parameters share a place in a payload, in either direction.
    QHash<QString, int> places;
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        const QlpCommandTranslator_v2::Entry &e = it.value();
        QVERIFY2(e.setCommand != QlpCommandTranslator_v2::kNoCommand
                     || e.getCommand != QlpCommandTranslator_v2::kNoCommand,
                 qPrintable(ParameterCatalogue::logName(it.key())));
        for (quint16 command : {e.setCommand, e.getCommand}) {
            if (command == QlpCommandTranslator_v2::kNoCommand)
                continue;
            const QString place = QStringLiteral("%1/%2/%3").arg(command, 0, 16).arg(e.firstIndex).arg(e.secondIndex);
            QVERIFY2(!places.contains(place), qPrintable(place + QLatin1Char(' ')
                                                         + ParameterCatalogue::logName(places.value(place))
                                                         + QLatin1Char(' ') + ParameterCatalogue::logName(it.key())));
            places.insert(place, it.key());
        }
        // A parameter that is written is read back with the matching get.
        if (e.setCommand != QlpCommandTranslator_v2::kNoCommand)
            QCOMPARE(int(e.getCommand), e.setCommand + 0x20);
    }
}

void tst_QlpCommandTranslator::memberCounts_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<Counts>("counts"); // every instance of the command

    auto same = [](QList<int> indices, int count) {
        Counts counts;
        for (int index : indices)
            counts.insert(index, count);
        return counts;
    };
    const QList<int> gains{0, 1, 2, 3, 4, 5, 6, 7, 8};
    const QList<int> filters{0, 1, 2, 3, 4, 32, 33, 34, 35, 36, 64, 65, 66, 67, 68};
    const Counts gating{{0, 1}, {1, 1}, {2, 3}, {3, 3}, {4, 1}, {5, 1}, {6, 1}, {7, 1}};

    QTest::newRow("identification") << 0x0100 << Counts{{0, 9}};
    QTest::newRow("measurement state") << 0x0F41 << Counts{{0, 6}};
    QTest::newRow("timings set") << 0x0F22 << same({0, 1, 2, 3, 4}, 5);
    QTest::newRow("timings get") << 0x0F42 << same({0, 1, 2, 3, 4}, 5);
    QTest::newRow("trigger set") << 0x0F24 << same({0, 1}, 4);
    QTest::newRow("trigger get") << 0x0F44 << same({0, 1}, 4);
    QTest::newRow("filter set") << 0x0F25 << same(filters, 1);
    QTest::newRow("filter get") << 0x0F45 << same(filters, 1);
    QTest::newRow("gating set") << 0x0F26 << gating;
    QTest::newRow("gating get") << 0x0F46 << gating;
    QTest::newRow("gain set") << 0x0F27 << same(gains, 1);
    QTest::newRow("gain get") << 0x0F47 << same(gains, 1);
    QTest::newRow("gain levels") << 0x0F48 << same(gains, 1);
    QTest::newRow("muxer set") << 0x0F2A << Counts{{0, 4}};
    QTest::newRow("muxer get") << 0x0F4A << Counts{{0, 4}};
    QTest::newRow("adc config set") << 0x0F2B << same({0, 1, 2, 3}, 1);
    QTest::newRow("adc config get") << 0x0F4B << same({0, 1, 2, 3}, 1);
    QTest::newRow("digital channel set") << 0x0F2C << same({0, 1, 2, 3, 4, 5, 6, 7}, 4);
    QTest::newRow("digital channel get") << 0x0F4C << same({0, 1, 2, 3, 4, 5, 6, 7}, 4);
    QTest::newRow("statistics") << 0x0F4F << Counts{{0, 4}};
    QTest::newRow("device config set") << 0x0F63 << same({0, 1, 2, 4, 5, 6, 7, 8}, 1);
    QTest::newRow("device config get") << 0x0F83 << same({0, 1, 2, 3, 4, 5, 6, 7, 8}, 1);
    QTest::newRow("fan set") << 0x0F64 << Counts{{0, 5}};
    QTest::newRow("fan get") << 0x0F84 << Counts{{0, 5}};
}

void tst_QlpCommandTranslator::memberCounts()
{
    QFETCH(int, command);
    QFETCH(Counts, counts);

    QlpCommandTranslator_v2 translator;
    Counts actual;
    QHash<int, QSet<int>> secondIndices;
    const QHash<int, QlpCommandTranslator_v2::Entry> table = translator.table();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it) {
        if (it->setCommand == command || it->getCommand == command) {
            actual[it->firstIndex] += 1;
            secondIndices[it->firstIndex].insert(it->secondIndex);
        }
    }
    QCOMPARE(actual, counts);
    // The compose functions fetch second index 0 to count - 1: no gaps.
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it) {
        QSet<int> expected;
        for (int i = 0; i < it.value(); ++i)
            expected.insert(i);
        QCOMPARE(secondIndices.value(it.key()), expected);
        QCOMPARE(translator.mapping(quint16(command), quint8(it.key())).size(), it.value());
    }
}

void tst_QlpCommandTranslator::commands()
{
    QlpCommandTranslator_v2 translator;
    const QSet<quint16> sets{0x0F22, 0x0F24, 0x0F25, 0x0F26, 0x0F27, 0x0F2A, 0x0F2B, 0x0F2C, 0x0F63, 0x0F64};
    const QSet<quint16> gets{0x0100, 0x0F41, 0x0F42, 0x0F44, 0x0F45, 0x0F46, 0x0F47,
                             0x0F48, 0x0F4A, 0x0F4B, 0x0F4C, 0x0F4F, 0x0F83, 0x0F84};
    QCOMPARE(translator.commands(), sets + gets);
    for (quint16 command : sets + gets)
        QCOMPARE(translator.isSetCommand(command), sets.contains(command));
    // Actions and file transfer belong to other jobs.
    for (quint16 command : {0x0F00, 0x0F01, 0x0F03, 0x0F04, 0x0F06, 0x0F5B, 0x0F60, 0x0F61, 0x0F80, 0x0F81})
        QVERIFY(!translator.commands().contains(command) && !translator.isSetCommand(command));
}

void tst_QlpCommandTranslator::lookups_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("set");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("firstIndex");
    QTest::addColumn<int>("secondIndex");

    QTest::newRow("pretrigger charge 0 set") << 1030 << true << true << 0x0F22 << 2 << 3;
    QTest::newRow("pretrigger charge 0 get") << 1030 << false << true << 0x0F42 << 2 << 3;
    QTest::newRow("firmware version get") << 1008 << false << true << 0x0100 << 0 << 8;
    QTest::newRow("firmware version set") << 1008 << true << true << 0xFFFF << 0 << 8;
    QTest::newRow("measurement state set") << 1010 << true << true << 0xFFFF << 0 << 0;
    QTest::newRow("test voltage channel state") << 1012 << false << true << 0x0F41 << 0 << 5;
    QTest::newRow("gain pd levels set") << 1080 << true << true << 0xFFFF << 3 << 0;
    QTest::newRow("gain pd levels get") << 1080 << false << true << 0x0F48 << 3 << 0;
    QTest::newRow("filter adc 2 highpass 1") << 1068 << true << true << 0x0F25 << 67 << 0;
    QTest::newRow("system gating hold time") << 1100 << true << true << 0x0F26 << 3 << 2;
    QTest::newRow("muxer channel 1") << 1112 << true << true << 0x0F2A << 0 << 3;
    QTest::newRow("info string set") << 1122 << true << true << 0xFFFF << 3 << 0;
    QTest::newRow("digital channel 6 hold time") << 1164 << false << true << 0x0F4C << 6 << 3;
    QTest::newRow("fan omega") << 1184 << true << true << 0x0F64 << 0 << 4;
    QTest::newRow("group header") << 1042 << true << false << 0xFFFF << 0 << 0;
    QTest::newRow("setting") << 1171 << false << false << 0xFFFF << 0 << 0;
    QTest::newRow("unknown") << 999 << true << false << 0xFFFF << 0 << 0;
}

void tst_QlpCommandTranslator::lookups()
{
    QFETCH(int, id);
    QFETCH(bool, set);
    QFETCH(bool, ok);
    QFETCH(int, command);
    QFETCH(int, firstIndex);
    QFETCH(int, secondIndex);

    QlpCommandTranslator_v2 translator;
    LogCapture log;
    bool found = !ok;
    QCOMPARE(int(translator.command(id, set, &found)), command);
    QCOMPARE(found, ok);
    QCOMPARE(translator.contains(id), ok);
    if (ok) {
        QCOMPARE(int(translator.firstIndex(id, &found)), firstIndex);
        QVERIFY(found);
        QCOMPARE(int(translator.secondIndex(id, &found)), secondIndex);
        QVERIFY(found);
        QVERIFY(log.texts(QtDebugMsg).isEmpty());
    } else {
        const QStringList lines = log.texts(QtDebugMsg, QStringLiteral("dravik"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(QLatin1String("[DRAVIK.CT] ")), qPrintable(lines.first()));
        const QString tail = QStringLiteral("const no command for parameter %1 setCommand %2")
                                 .arg(ParameterCatalogue::logName(id), set ? "true" : "false");
        QVERIFY2(lines.first().endsWith(tail), qPrintable(lines.first()));
        translator.firstIndex(id, &found);
        QVERIFY(!found);
    }
}

void tst_QlpCommandTranslator::protocolVersionRebuildsMaps()
{
    QlpCommandTranslator_v2 translator;
    const QSet<quint16> commands = translator.commands();
    const QMap<int, int> gating = translator.mapping(0x0F26, 2);

    for (quint32 version : {0u, 1u, 2u, 7u}) {
        LogCapture log;
        translator.applyProtocolVersionSpecifics(version);
        const QStringList lines = log.texts(QtDebugMsg, QStringLiteral("dravik"));
        if (version < 2)
            QCOMPARE(lines, QStringList{QStringLiteral("[DRAVIK] invalid protocol version %1 "
                                                       "QlpCommandTranslator_v2::applyProtocolVersionSpecifics")
                                            .arg(version)});
        else
            QVERIFY(lines.isEmpty());
        QCOMPARE(translator.commands(), commands);
        QCOMPARE(translator.mapping(0x0F26, 2), gating);
    }
}

void tst_QlpCommandTranslator::lookupsWhileRebuilding()
{
    // The job reads the maps on the protocol thread while an identification
    // response may rebuild them; a reader must never see a half-built map.
    QlpCommandTranslator_v2 translator;
    const QList<int> trigger1{1048, 1049, 1050, 1051};
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
        while (!stop.load()) {
            if (translator.parameters(0x0F44, 1) != trigger1 || !translator.commands().contains(0x0F84))
                ++wrong;
        }
    });
    for (int i = 0; i < 2000; ++i)
        translator.applyProtocolVersionSpecifics(2);
    stop = true;
    reader.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(tst_QlpCommandTranslator)
#include "tst_qlpcommandtranslator.moc"
