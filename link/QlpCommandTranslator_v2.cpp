#include "QlpCommandTranslator_v2.h"

#include "ParameterCatalogue.h"
#include "QxtLogger.h"

#include <mutex>

#include <algorithm>

namespace {

// Command ids of the table. In each set/get pair the get id is the set id + 0x20.
constexpr quint16 kNone = QlpCommandTranslator_v2::kNoCommand;
constexpr quint16 kIdentify = 0x0100;
constexpr quint16 kMeasurementState = 0x0F41;
constexpr quint16 kSetTimings = 0x0F22;
constexpr quint16 kSetTrigger = 0x0F24;
constexpr quint16 kSetFilter = 0x0F25;
constexpr quint16 kSetGating = 0x0F26;
constexpr quint16 kSetGain = 0x0F27;
constexpr quint16 kGainLevels = 0x0F48;
constexpr quint16 kSetMuxer = 0x0F2A;
constexpr quint16 kSetAdcConfig = 0x0F2B;
constexpr quint16 kSetDigitalChannel = 0x0F2C;
constexpr quint16 kAdcStatistics = 0x0F4F;
constexpr quint16 kSetDeviceConfig = 0x0F63;
constexpr quint16 kSetFanControl = 0x0F64;
constexpr quint16 kGetOffset = 0x20;

} // namespace

QlpCommandTranslator_v2::QlpCommandTranslator_v2(QObject *parent)
    : QObject(parent)
{
    auto add = [this](int id, quint16 set, quint16 get, int first, int second) {
        Q_ASSERT(!m_table.contains(id));
        Entry entry;
        entry.setCommand = set;
        entry.getCommand = get;
        entry.firstIndex = quint8(first);
        entry.secondIndex = quint8(second);
        m_table.insert(id, entry);
        if (set != kNone)
            m_setCommands.insert(set);
    };
    auto addPair = [&add](int id, quint16 set, int first, int second) {
        add(id, set, quint16(set + kGetOffset), first, second);
    };

    // Identification: the firmware version sits after the protocol version in
    // the instance although its id comes first.
    for (int i = 0; i < 7; ++i)
        add(1001 + i, kNone, kIdentify, 0, i); // DeviceCodeNumber .. DeviceHardwareVersion
    add(1009, kNone, kIdentify, 0, 7);         // DeviceProtocolVersion
    add(1008, kNone, kIdentify, 0, 8);         // DeviceFirmwareVersion

    // Measurement state, then the channel states: charges first, muxer and test
    // voltage last.
    add(1010, kNone, kMeasurementState, 0, 0);
    add(1013, kNone, kMeasurementState, 0, 1);
    add(1014, kNone, kMeasurementState, 0, 2);
    add(1015, kNone, kMeasurementState, 0, 3);
    add(1011, kNone, kMeasurementState, 0, 4);
    add(1012, kNone, kMeasurementState, 0, 5);

    // Timings: channels muxer, test voltage, charge 0..2, five values each in
    // id order (sample, frame, periods, pretrigger, timeout).
    for (int channel = 0; channel < 5; ++channel) {
        for (int value = 0; value < 5; ++value)
            addPair(1017 + 5 * channel + value, kSetTimings, channel, value);
    }

    // Triggers 0 and 1: source, level, hold time, values.
    for (int member = 0; member < 4; ++member) {
        addPair(1043 + member, kSetTrigger, 0, member);
        addPair(1048 + member, kSetTrigger, 1, member);
    }

    // Filters: one instance per coefficient set, ADC k in the bits above 5.
    for (int adc = 0; adc < 3; ++adc) {
        for (int kind = 0; kind < 5; ++kind)
            addPair(1053 + 6 * adc + kind, kSetFilter, 32 * adc + kind, 0);
    }

    // Gating: the detector numbers system gating 3 and user gating 2, the
    // reverse of the id order.
    for (int member = 0; member < 3; ++member) {
        addPair(1098 + member, kSetGating, 3, member);
        addPair(1101 + member, kSetGating, 2, member);
    }
    addPair(1104, kSetGating, 0, 0);
    addPair(1105, kSetGating, 1, 0);
    for (int adc = 0; adc < 4; ++adc)
        addPair(1106 + adc, kSetGating, 4 + adc, 0);

    // Gains: header, Levels, Value per gain, three ids apart.
    for (int gain = 0; gain < 9; ++gain) {
        add(1071 + 3 * gain, kNone, kGainLevels, gain, 0);
        addPair(1072 + 3 * gain, kSetGain, gain, 0);
    }

    // Extended muxer: the flags come before the selectors on the wire.
    addPair(1113, kSetMuxer, 0, 0);
    addPair(1114, kSetMuxer, 0, 1);
    addPair(1111, kSetMuxer, 0, 2);
    addPair(1112, kSetMuxer, 0, 3);

    for (int adc = 0; adc < 4; ++adc)
        addPair(1126 + adc, kSetAdcConfig, adc, 0);

    for (int i = 0; i < 4; ++i)
        add(1186 + i, kNone, kAdcStatistics, 0, i);

    for (int channel = 0; channel < 8; ++channel) {
        for (int member = 0; member < 4; ++member)
            addPair(1131 + 5 * channel + member, kSetDigitalChannel, channel, member);
    }

    // Device configuration: item 3 is the info string, which the detector
    // only reports, so the ids and item numbers part ways after the IP address.
    addPair(1116, kSetDeviceConfig, 0, 0);
    addPair(1117, kSetDeviceConfig, 1, 0);
    addPair(1118, kSetDeviceConfig, 2, 0);
    add(1122, kNone, kSetDeviceConfig + kGetOffset, 3, 0);
    addPair(1119, kSetDeviceConfig, 4, 0);
    addPair(1120, kSetDeviceConfig, 5, 0);
    addPair(1121, kSetDeviceConfig, 6, 0);
    addPair(1123, kSetDeviceConfig, 7, 0);
    addPair(1124, kSetDeviceConfig, 8, 0);

    for (int i = 0; i < 5; ++i)
        addPair(1180 + i, kSetFanControl, 0, i);

    rebuild();
}

bool QlpCommandTranslator_v2::contains(int parameterId) const
{
    return m_table.contains(parameterId);
}

quint16 QlpCommandTranslator_v2::command(int parameterId, bool set, bool *ok) const
{
    const auto it = m_table.constFind(parameterId);
    if (ok)
        *ok = it != m_table.constEnd();
    if (it == m_table.constEnd()) {
        QxtLogger::getInstance()->debug("[DRAVIK.CT]", Q_FUNC_INFO, "no command for parameter",
                                        ParameterCatalogue::logName(parameterId), "setCommand", set);
        return kNoCommand;
    }
    return set ? it->setCommand : it->getCommand;
}

const QlpCommandTranslator_v2::Entry *QlpCommandTranslator_v2::indexEntry(int parameterId, bool *ok,
                                                                          const char *signature) const
{
    const auto it = m_table.constFind(parameterId);
    if (ok)
        *ok = it != m_table.constEnd();
    if (it == m_table.constEnd()) {
        // The index lookups have no direction, so the line carries none.
        QxtLogger::getInstance()->debug("[DRAVIK.CT]", signature, "no command for parameter",
                                        ParameterCatalogue::logName(parameterId));
        return nullptr;
    }
    return &it.value();
}

quint8 QlpCommandTranslator_v2::firstIndex(int parameterId, bool *ok) const
{
    const Entry *entry = indexEntry(parameterId, ok, Q_FUNC_INFO);
    return entry ? entry->firstIndex : 0;
}

quint8 QlpCommandTranslator_v2::secondIndex(int parameterId, bool *ok) const
{
    const Entry *entry = indexEntry(parameterId, ok, Q_FUNC_INFO);
    return entry ? entry->secondIndex : 0;
}

QList<int> QlpCommandTranslator_v2::parameters(quint16 command, quint8 firstIndex) const
{
    QList<int> ids;
    {
        std::shared_lock<std::shared_mutex> locker(m_lock);
        ids = m_instances.values(qMakePair(command, firstIndex));
    }
    // The multi-hash hands values back newest first; callers take the first id
    // as the instance's representative, so give them a stable order: the
    // order of the payload.
    std::stable_sort(ids.begin(), ids.end(), [this](int a, int b) {
        return m_table.value(a).secondIndex < m_table.value(b).secondIndex;
    });
    return ids;
}

QMap<int, int> QlpCommandTranslator_v2::mapping(quint16 command, quint8 firstIndex) const
{
    QMap<int, int> result;
    const QList<int> ids = parameters(command, firstIndex);
    for (int id : ids)
        result.insert(m_table.value(id).secondIndex, id);
    return result;
}

bool QlpCommandTranslator_v2::isSetCommand(quint16 command) const
{
    return m_setCommands.contains(command);
}

QSet<quint16> QlpCommandTranslator_v2::commands() const
{
    std::shared_lock<std::shared_mutex> locker(m_lock);
    return m_commands;
}

void QlpCommandTranslator_v2::applyProtocolVersionSpecifics(quint32 version)
{
    if (version < 2) {
        QxtLogger::getInstance()->debug("[DRAVIK]", "invalid protocol version", version,
                                        "QlpCommandTranslator_v2::applyProtocolVersionSpecifics");
    }
    // The table is the same for every version the detector speaks; the derived
    // maps are rebuilt anyway so that a version-dependent table only has to
    // change rebuild().
    rebuild();
}

void QlpCommandTranslator_v2::rebuild()
{
    QMultiHash<QPair<quint16, quint8>, int> instances;
    QSet<quint16> commands;
    for (auto it = m_table.constBegin(); it != m_table.constEnd(); ++it) {
        const Entry &entry = it.value();
        for (quint16 command : {entry.setCommand, entry.getCommand}) {
            if (command == kNoCommand)
                continue;
            instances.insert(qMakePair(command, entry.firstIndex), it.key());
            commands.insert(command);
        }
    }

    std::lock_guard<std::shared_mutex> locker(m_lock);
    m_instances = instances;
    m_commands = commands;
}
