#include "PdQlp_v2.h"

#include "ParameterCatalogue.h"
#include "QxtLogger.h"

#include <QDebug>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <iterator>
#include <new>
#include <type_traits>

namespace {

const char kTag[] = "[DRAVIK.PdQlp]:";

constexpr quint16 kIdentify = 0x0100;
constexpr quint16 kSetTimings = 0x0F22;
constexpr quint16 kSetTrigger = 0x0F24;
constexpr quint16 kSetFilter = 0x0F25;
constexpr quint16 kSetGating = 0x0F26;
constexpr quint16 kSetGain = 0x0F27;
constexpr quint16 kSetMuxer = 0x0F2A;
constexpr quint16 kSetAdcConfig = 0x0F2B;
constexpr quint16 kSetDigitalChannel = 0x0F2C;
constexpr quint16 kMeasurementState = 0x0F41;
constexpr quint16 kGetTimings = 0x0F42;
constexpr quint16 kGetTrigger = 0x0F44;
constexpr quint16 kGetFilter = 0x0F45;
constexpr quint16 kGetGating = 0x0F46;
constexpr quint16 kGetGain = 0x0F47;
constexpr quint16 kGainLevels = 0x0F48;
constexpr quint16 kGetMuxer = 0x0F4A;
constexpr quint16 kGetAdcConfig = 0x0F4B;
constexpr quint16 kGetDigitalChannel = 0x0F4C;
constexpr quint16 kAdcStatistics = 0x0F4F;
constexpr quint16 kSetDeviceConfig = 0x0F63;
constexpr quint16 kGetDeviceConfig = 0x0F83;
constexpr quint16 kSetFanControl = 0x0F64;
constexpr quint16 kGetFanControl = 0x0F84;

// Lists on the wire carry their count in one byte.
constexpr int kMaxListEntries = 255;

// A frame's payload length is 16 bits, so the explicit gain-level list can
// never hold more than this; a range that expands to more levels is not one
// the detector can mean, and expanding it would only burn memory.
constexpr int kMaxGainLevels = (0xFFFF - 8) / 4;

// Little-endian field access, the one place the payload codecs touch bytes.
// The receive functions check the payload length first; the bounds check here
// is the safety net that keeps a wrong offset from reading past the buffer.
template<typename T>
bool fieldFits(const QByteArray &bytes, int offset)
{
    return offset >= 0 && offset <= bytes.size() && int(sizeof(T)) <= bytes.size() - offset;
}

template<typename T>
T readLe(const QByteArray &bytes, int offset)
{
    static_assert(std::is_integral<T>::value, "integers only; floats go through readFloatLe");
    if (!fieldFits<T>(bytes, offset))
        return T(0);
    return qFromLittleEndian<T>(bytes.constData() + offset);
}

float readFloatLe(const QByteArray &bytes, int offset)
{
    const quint32 bits = readLe<quint32>(bytes, offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

template<typename T>
void writeLe(QByteArray &bytes, int offset, T value)
{
    static_assert(std::is_integral<T>::value, "integers only; floats go through writeFloatLe");
    if (fieldFits<T>(bytes, offset))
        qToLittleEndian<T>(value, bytes.data() + offset);
}

void writeFloatLe(QByteArray &bytes, int offset, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeLe<quint32>(bytes, offset, bits);
}

// How many 4-byte fields fit between offset and the end of the payload.
int fieldsPresent(const QByteArray &payload, int offset)
{
    return payload.size() > offset ? (payload.size() - offset) / 4 : 0;
}

// Up to count 4-byte floats from offset on; count must already be capped.
QVariantList readFloats(const QByteArray &payload, int offset, int count)
{
    QVariantList list;
    list.reserve(count);
    for (int i = 0; i < count; ++i)
        list.append(readFloatLe(payload, offset + 4 * i));
    return list;
}

QString hexCommand(quint16 command)
{
    return QString::number(command, 16);
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// One decoded field: the parameter at that position of the instance, or id 0
// where the instance has none, so that the caller sees the hole.
void appendField(PdQlp_v2::ParameterValues &values, const QMap<int, int> &mapping, int secondIndex,
                 const QVariant &value)
{
    values.append(qMakePair(mapping.value(secondIndex, 0), value));
}

} // namespace

struct PdQlp_v2::ReceiveRule
{
    enum LengthMessage { ShowLength, HideLength };
    enum IndexField { FixedZero, Byte0, UInt32At0 };
    enum MappingMessage { ShowIndex, HideIndex };

    int minLength;
    LengthMessage lengthMessage;
    IndexField index;
    int members;      // the instance must carry this many parameters; 0 accepts any
    int otherMembers; // a second accepted count (gating: 1 or 3), 0 for none
    const char *mappingMessage;
    MappingMessage mappingIndex;
};

PdQlp_v2::PdQlp_v2(const QSharedPointer<AbstractParameterContainer> &deviceParameters, QObject *parent)
    : QObject(parent)
    , m_deviceParameters(deviceParameters)
{
    qRegisterMetaType<st_ChannelMeasState>("st_ChannelMeasState");

    // A child follows this object to the protocol thread; as a member it is
    // destroyed (and leaves the child list) before QObject would delete it.
    m_translator.setParent(this);

    m_receive.insert(kIdentify, &PdQlp_v2::receiveIdentification);
    m_receive.insert(kMeasurementState, &PdQlp_v2::receiveMeasurementState);
    m_receive.insert(kGetTimings, &PdQlp_v2::receiveMeasurementTimings);
    m_receive.insert(kGetTrigger, &PdQlp_v2::receiveTriggerParameters);
    m_receive.insert(kGetFilter, &PdQlp_v2::receiveFilterParameters);
    m_receive.insert(kGetGating, &PdQlp_v2::receiveGating);
    m_receive.insert(kGetGain, &PdQlp_v2::receiveGain);
    m_receive.insert(kGainLevels, &PdQlp_v2::receiveGainParameters);
    m_receive.insert(kGetMuxer, &PdQlp_v2::receiveExtendedMuxer);
    m_receive.insert(kGetAdcConfig, &PdQlp_v2::receiveAdcConfig);
    m_receive.insert(kGetDigitalChannel, &PdQlp_v2::receiveDigitalChannelParams);
    m_receive.insert(kAdcStatistics, &PdQlp_v2::receiveAdcStatisticsParams);
    m_receive.insert(kGetDeviceConfig, &PdQlp_v2::receiveDeviceParameter);
    m_receive.insert(kGetFanControl, &PdQlp_v2::receiveFanControlParams);

    m_compose.insert(kSetTimings, &PdQlp_v2::composeMeasurementTimings);
    m_compose.insert(kSetTrigger, &PdQlp_v2::composeTriggerParameters);
    m_compose.insert(kSetFilter, &PdQlp_v2::composeFilterParameters);
    m_compose.insert(kSetGating, &PdQlp_v2::composeGating);
    m_compose.insert(kSetGain, &PdQlp_v2::composeGain);
    m_compose.insert(kSetMuxer, &PdQlp_v2::composeExtendedMuxer);
    m_compose.insert(kSetAdcConfig, &PdQlp_v2::composeAdcConfig);
    m_compose.insert(kSetDigitalChannel, &PdQlp_v2::composeDigitalChannelParams);
    m_compose.insert(kSetDeviceConfig, &PdQlp_v2::composeDeviceParameter);
    m_compose.insert(kSetFanControl, &PdQlp_v2::composeFanControlParams);
    // Get requests: commands with a single instance ask with an empty payload,
    // the others name the instance in one byte.
    for (quint16 command : {kIdentify, kMeasurementState, kGetMuxer, kAdcStatistics, kGetFanControl})
        m_compose.insert(command, &PdQlp_v2::composeEmptyRequest);
    for (quint16 command : {kGetTrigger, kGetFilter, kGetGating, kGetGain, kGainLevels, kGetAdcConfig,
                            kGetDigitalChannel, kGetDeviceConfig})
        m_compose.insert(command, &PdQlp_v2::composeIndexRequest);
    m_compose.insert(kGetTimings, &PdQlp_v2::composeMeasurementTimingsRequest);

    // Codes the detector documents as refusals; anything else it sends is
    // taken as success.
    m_acknowledge.insert(0, 0);
    for (quint16 code = 1; code <= 7; ++code)
        m_acknowledge.insert(code, -1);

    connect(this, &PdQlp_v2::protocolVersion, this, &PdQlp_v2::applyProtocolSpecifics);
    connect(this, &PdQlp_v2::protocolVersion, &m_translator, &QlpCommandTranslator_v2::applyProtocolVersionSpecifics);
}

PdQlp_v2::ParameterValues PdQlp_v2::parameterData(quint16 command, const QByteArray &payload)
{
    const auto it = m_receive.constFind(command);
    if (it == m_receive.constEnd()) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "no data processing function for", "command", command,
                                        "data", hexBytes(payload));
        return {};
    }
    return (this->*it.value())(command, payload);
}

QByteArray PdQlp_v2::compose(int parameterId, bool set, bool *ok)
{
    bool ignored = false;
    bool *result = ok ? ok : &ignored;
    *result = false;

    bool known = false;
    const quint16 command = m_translator.command(parameterId, set, &known);
    if (!known || command == QlpCommandTranslator_v2::kNoCommand)
        return QByteArray();
    const quint8 index = m_translator.firstIndex(parameterId, &known);
    if (!known)
        return QByteArray();
    const auto it = m_compose.constFind(command);
    if (it == m_compose.constEnd())
        return QByteArray();
    return (this->*it.value())(command, index, result);
}

QList<QVariant> PdQlp_v2::newValues(quint16 command, quint8 index, int count) const
{
    const QMap<int, int> mapping = m_translator.mapping(command, index);
    if (mapping.size() != count) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "invalid parameter count", "command", hexCommand(command),
                                        "channel id", uint(index), "expected params", count, "params",
                                        mapping.size());
        return {};
    }

    QList<QVariant> values;
    values.reserve(count);
    for (int secondIndex = 0; secondIndex < count; ++secondIndex) {
        const int id = mapping.value(secondIndex, 0);
        QVariant value;
        if (m_deviceParameters) {
            value = m_deviceParameters->newValue(id);
            if (!value.isValid())
                value = m_deviceParameters->value(id);
        }
        if (!value.isValid()) {
            QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "invalid parameter value for", "command",
                                            hexCommand(command), "channel id", uint(index), "parameter",
                                            ParameterCatalogue::logName(id));
            return {};
        }
        values.append(value);
    }
    return values;
}

bool PdQlp_v2::isAcknowledgeFailure(quint16 ackCode) const
{
    return m_acknowledge.value(ackCode, 0) != 0;
}

void PdQlp_v2::applyProtocolSpecifics(quint32 version)
{
    // Nothing in the payloads changes between the versions we speak; older
    // detectors are only reported, the timings refuse them on their own.
    if (version < 2)
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "invalid protocol version", version);
}

bool PdQlp_v2::openInstance(const char *function, quint16 command, const QByteArray &payload,
                            const ReceiveRule &rule, QMap<int, int> &mapping) const
{
    if (payload.size() < rule.minLength) {
        if (rule.lengthMessage == ReceiveRule::ShowLength)
            QxtLogger::getInstance()->debug(kTag, function, "invalid data length ", payload.size());
        else
            QxtLogger::getInstance()->debug(kTag, function, "invalid data length");
        return false;
    }

    quint32 index = 0;
    if (rule.index == ReceiveRule::Byte0)
        index = readLe<quint8>(payload, 0);
    else if (rule.index == ReceiveRule::UInt32At0)
        index = readLe<quint32>(payload, 0);
    // First indices are one byte; a wider field holding more names no instance
    // (and must not wrap round onto one).
    mapping = index <= 0xFF ? m_translator.mapping(command, quint8(index)) : QMap<int, int>();

    if (rule.members == 0 || mapping.size() == rule.members
        || (rule.otherMembers != 0 && mapping.size() == rule.otherMembers))
        return true;
    if (rule.mappingIndex == ReceiveRule::ShowIndex)
        QxtLogger::getInstance()->debug(kTag, function, rule.mappingMessage, index);
    else
        QxtLogger::getInstance()->debug(kTag, function, rule.mappingMessage);
    return false;
}

bool PdQlp_v2::timingsSupported(const char *function) const
{
    if (m_protocolVersion >= 2)
        return true;
    QxtLogger::getInstance()->debug(kTag, function, "protocol version", m_protocolVersion, "not supported");
    return false;
}

// Receive functions -----------------------------------------------------------

PdQlp_v2::ParameterValues PdQlp_v2::receiveIdentification(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{54, ReceiveRule::ShowLength, ReceiveRule::FixedZero, 9, 0,
                                  "invalid identify mapping", ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    appendField(values, mapping, 0, QVariant::fromValue(readLe<quint64>(payload, 0)));
    appendField(values, mapping, 1, QVariant::fromValue(readLe<quint64>(payload, 8)));
    // Zero-padded; a descriptor that fills all 32 bytes has no terminator.
    const QByteArray descriptor = payload.mid(16, 32);
    const int end = descriptor.indexOf('\0');
    appendField(values, mapping, 2, QString::fromLatin1(end < 0 ? descriptor : descriptor.left(end)));
    appendField(values, mapping, 3, uint(readLe<quint8>(payload, 48)));
    appendField(values, mapping, 4, uint(readLe<quint8>(payload, 49)));
    appendField(values, mapping, 8, uint(readLe<quint8>(payload, 50))); // firmware
    appendField(values, mapping, 5, uint(readLe<quint8>(payload, 51))); // software
    appendField(values, mapping, 6, uint(readLe<quint8>(payload, 52))); // hardware
    appendField(values, mapping, 7, uint(readLe<quint8>(payload, 53))); // protocol

    const quint32 version = readLe<quint8>(payload, 53);
    m_protocolVersion = version;
    Q_EMIT protocolVersion(version);
    QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "set protocol version", version);
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveDeviceParameter(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{1, ReceiveRule::ShowLength, ReceiveRule::Byte0, 1, 0, "invalid parameter mapping",
                                  ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};
    // Each item has its own layout, which the device and the configuration
    // view know; here it stays raw.
    ParameterValues values;
    appendField(values, mapping, 0, payload.mid(1));
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveMeasurementState(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{2, ReceiveRule::HideLength, ReceiveRule::FixedZero, 0, 0, nullptr,
                                  ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    // A length other than announced means the response is not what we think
    // it is; a half-applied state would start transfers for channels that hold
    // nothing, so none of it is used. This is polled every 100 ms and a wrong
    // length is not worth a line each time.
    const int count = readLe<quint8>(payload, 1);
    if (payload.size() - 2 != count)
        return {};

    // The low nibble of a channel state byte is the acquisition channel
    // (muxer, test voltage, charge 0..2); the instance lists the charges first.
    // Each byte gives its own pair: a channel reported twice is confirmed
    // twice, and the later state is the one that stays.
    static const int secondIndexOfChannel[] = {4, 5, 1, 2, 3};
    ParameterValues values;
    appendField(values, mapping, 0, uint(readLe<quint8>(payload, 0)));
    for (int i = 0; i < count; ++i) {
        const quint8 state = readLe<quint8>(payload, 2 + i);
        const int channel = state & 0x0F;
        if (channel >= int(std::size(secondIndexOfChannel)))
            continue;
        appendField(values, mapping, secondIndexOfChannel[channel], QVariant::fromValue(st_ChannelMeasState{state}));
    }
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveMeasurementTimings(quint16 command, const QByteArray &payload)
{
    if (!timingsSupported(Q_FUNC_INFO))
        return {};
    static const ReceiveRule rule{40, ReceiveRule::HideLength, ReceiveRule::UInt32At0, 5, 0, "invalid channel id",
                                  ReceiveRule::ShowIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    appendField(values, mapping, 2, uint(readLe<quint32>(payload, 4)));               // periods
    appendField(values, mapping, 0, QVariant::fromValue(readLe<quint64>(payload, 8))); // sample period
    appendField(values, mapping, 3, QVariant::fromValue(readLe<qint64>(payload, 16))); // pretrigger
    appendField(values, mapping, 4, QVariant::fromValue(readLe<quint64>(payload, 24))); // timeout
    appendField(values, mapping, 1, QVariant::fromValue(readLe<quint64>(payload, 32))); // frame period
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveTriggerParameters(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{16, ReceiveRule::ShowLength, ReceiveRule::Byte0, 4, 0, "invalid channel id",
                                  ReceiveRule::ShowIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    appendField(values, mapping, 0, uint(readLe<quint32>(payload, 4)));
    appendField(values, mapping, 1, double(readFloatLe(payload, 8)));
    appendField(values, mapping, 2, uint(readLe<quint32>(payload, 12)));
    // A count beyond the payload gets what did arrive, not a read past it.
    const int count = qMin(int(readLe<quint8>(payload, 1)), fieldsPresent(payload, 16));
    QVariantList triggerValues;
    triggerValues.reserve(count);
    for (int i = 0; i < count; ++i)
        triggerValues.append(readLe<qint32>(payload, 16 + 4 * i));
    appendField(values, mapping, 3, triggerValues);
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveFilterParameters(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{4, ReceiveRule::ShowLength, ReceiveRule::Byte0, 1, 0, "invalid filter id",
                                  ReceiveRule::ShowIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    const int count = qMin(int(readLe<quint8>(payload, 1)), fieldsPresent(payload, 4));
    ParameterValues values;
    appendField(values, mapping, 0, readFloats(payload, 4, count));
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveGating(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{12, ReceiveRule::ShowLength, ReceiveRule::Byte0, 1, 3, "invalid gating id",
                                  ReceiveRule::ShowIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    appendField(values, mapping, 0, QVariant::fromValue(uchar(readLe<quint8>(payload, 1))));
    // Only the analogue gatings have a level and a hold time; the digital and
    // overflow instances carry zeros (or junk) there.
    if (mapping.size() == 3) {
        appendField(values, mapping, 1, double(readFloatLe(payload, 4)));
        appendField(values, mapping, 2, uint(readLe<quint32>(payload, 8)));
    }
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveGain(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{8, ReceiveRule::ShowLength, ReceiveRule::Byte0, 1, 0, "invalid gain id",
                                  ReceiveRule::ShowIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    appendField(values, mapping, 0, readFloatLe(payload, 4));
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveGainParameters(quint16 command, const QByteArray &payload)
{
    // As for the gain value, the line names the gain the detector sent.
    static const ReceiveRule rule{4, ReceiveRule::ShowLength, ReceiveRule::Byte0, 1, 0, "invalid gain id",
                                  ReceiveRule::ShowIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    const uint gain = readLe<quint8>(payload, 0);
    const uint form = readLe<quint8>(payload, 1);
    const int needed = form == 0 ? 8 : 16;
    if (payload.size() < needed) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "invalid data length for gain id", gain, form, "length",
                                        payload.size());
        return {};
    }

    QVariantList levels;
    if (form == 0) {
        // Compared by division: 8 + 4n wraps round for the counts a broken
        // detector may send, and n itself is never trusted for an allocation.
        const quint32 count = readLe<quint32>(payload, 4);
        if (count <= quint32(fieldsPresent(payload, 8)))
            levels = readFloats(payload, 8, int(count));
    } else {
        const float minimum = readFloatLe(payload, 4);
        const float maximum = readFloatLe(payload, 8);
        const float step = readFloatLe(payload, 12);
        const double steps = std::round((double(maximum) - double(minimum)) / double(step)); // halves away from zero
        if (!std::isfinite(steps) || steps > kMaxGainLevels) {
            // A zero step, NaNs or a step far too fine for the range: no list
            // of levels anybody can choose from.
            QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "invalid gain range for gain id", gain, "minimum",
                                            minimum, "maximum", maximum, "step", step);
        } else {
            // A range running against its step gives no intermediate levels,
            // only the maximum.
            const int count = steps > 0 ? int(steps) : 0;
            levels.reserve(count + 1);
            for (int i = 0; i < count; ++i)
                levels.append(float(double(minimum) + i * double(step)));
            levels.append(maximum);
        }
    }

    ParameterValues values;
    appendField(values, mapping, 0, levels);
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveExtendedMuxer(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{4, ReceiveRule::ShowLength, ReceiveRule::FixedZero, 4, 0, "invalid muxer mapping",
                                  ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    for (int i = 0; i < 4; ++i)
        appendField(values, mapping, i, uint(readLe<quint8>(payload, i)));
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveAdcConfig(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{2, ReceiveRule::ShowLength, ReceiveRule::Byte0, 1, 0, "invalid parameter mapping",
                                  ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    appendField(values, mapping, 0, readLe<quint8>(payload, 1) != 0);
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveDigitalChannelParams(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{9, ReceiveRule::ShowLength, ReceiveRule::Byte0, 4, 0, "invalid parameter mapping",
                                  ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    // Byte 1 is reserved, which leaves the hold time unaligned at offset 5.
    ParameterValues values;
    appendField(values, mapping, 0, uint(readLe<quint8>(payload, 2)));
    appendField(values, mapping, 1, uint(readLe<quint8>(payload, 3)));
    appendField(values, mapping, 2, uint(readLe<quint8>(payload, 4)));
    appendField(values, mapping, 3, uint(readLe<quint32>(payload, 5)));
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveFanControlParams(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{20, ReceiveRule::ShowLength, ReceiveRule::FixedZero, 5, 0,
                                  "invalid parameter mapping", ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    ParameterValues values;
    for (int i = 0; i < 5; ++i)
        appendField(values, mapping, i, readFloatLe(payload, 4 * i));
    return values;
}

PdQlp_v2::ParameterValues PdQlp_v2::receiveAdcStatisticsParams(quint16 command, const QByteArray &payload)
{
    static const ReceiveRule rule{20, ReceiveRule::ShowLength, ReceiveRule::FixedZero, 4, 0,
                                  "invalid parameter mapping", ReceiveRule::HideIndex};
    QMap<int, int> mapping;
    if (!openInstance(Q_FUNC_INFO, command, payload, rule, mapping))
        return {};

    // Bytes 0-3 are not ours to interpret.
    ParameterValues values;
    for (int i = 0; i < 4; ++i)
        appendField(values, mapping, i, readFloatLe(payload, 4 + 4 * i));
    return values;
}

// Compose functions -----------------------------------------------------------

QByteArray PdQlp_v2::composeEmptyRequest(quint16, quint8, bool *ok)
{
    *ok = true;
    return QByteArray();
}

QByteArray PdQlp_v2::composeIndexRequest(quint16, quint8 index, bool *ok)
{
    *ok = true;
    return QByteArray(1, char(index));
}

QByteArray PdQlp_v2::composeMeasurementTimingsRequest(quint16 command, quint8 index, bool *ok)
{
    // A detector that cannot answer with timings we would decode is not asked.
    if (!timingsSupported(Q_FUNC_INFO)) {
        *ok = false;
        return QByteArray();
    }
    return composeIndexRequest(command, index, ok);
}

QByteArray PdQlp_v2::composeDeviceParameter(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 1);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(1, char(index));
    payload += values.at(0).toByteArray();
    qDebug().noquote() << kTag << Q_FUNC_INFO << "payload" << hexBytes(payload);
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeMeasurementTimings(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    if (!timingsSupported(Q_FUNC_INFO))
        return QByteArray();
    const QList<QVariant> values = newValues(command, index, 5);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(40, '\0');
    writeLe<quint32>(payload, 0, index);
    writeLe<quint32>(payload, 4, values.at(2).toUInt());        // periods
    writeLe<quint64>(payload, 8, values.at(0).toULongLong());   // sample period
    writeLe<qint64>(payload, 16, values.at(3).toLongLong());    // pretrigger
    writeLe<quint64>(payload, 24, values.at(4).toULongLong());  // timeout
    writeLe<quint64>(payload, 32, values.at(1).toULongLong());  // frame period
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeTriggerParameters(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 4);
    if (values.isEmpty())
        return QByteArray();

    const QVariantList triggerValues = values.at(3).value<QVariantList>();
    if (triggerValues.size() > kMaxListEntries) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "too many trigger parameters trigger", "id", uint(index),
                                        "param count", triggerValues.size());
        return QByteArray();
    }

    const int size = 16 + 4 * triggerValues.size();
    QByteArray payload;
    try {
        payload = QByteArray(size, '\0');
    } catch (const std::bad_alloc &) {
        // Qt reports a failed allocation by throwing; nothing may leave the
        // protocol thread that way.
        QxtLogger::getInstance()->warning(kTag, Q_FUNC_INFO, "out of memory ", size);
        return QByteArray();
    }
    writeLe<quint8>(payload, 0, index);
    writeLe<quint8>(payload, 1, quint8(triggerValues.size()));
    writeLe<quint32>(payload, 4, values.at(0).toUInt());
    writeFloatLe(payload, 8, float(values.at(1).toDouble()));
    writeLe<quint32>(payload, 12, values.at(2).toUInt());
    for (int i = 0; i < triggerValues.size(); ++i)
        writeLe<qint32>(payload, 16 + 4 * i, triggerValues.at(i).toInt());
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeFilterParameters(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 1);
    if (values.isEmpty())
        return QByteArray();

    const QVariantList coefficients = values.at(0).value<QVariantList>();
    if (coefficients.size() > kMaxListEntries) {
        QxtLogger::getInstance()->debug(kTag, Q_FUNC_INFO, "too many filter parameters", "id", uint(index),
                                        "param count", coefficients.size());
        return QByteArray();
    }

    QByteArray payload(4 + 4 * coefficients.size(), '\0');
    writeLe<quint8>(payload, 0, index);
    writeLe<quint8>(payload, 1, quint8(coefficients.size()));
    for (int i = 0; i < coefficients.size(); ++i)
        writeFloatLe(payload, 4 + 4 * i, float(coefficients.at(i).toDouble()));
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeGating(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    // User (2) and system (3) gating are analogue and have a level and a hold
    // time; the other instances only switch on and off.
    const bool analogue = index == 2 || index == 3;
    const QList<QVariant> values = newValues(command, index, analogue ? 3 : 1);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(12, '\0');
    writeLe<quint8>(payload, 0, index);
    writeLe<quint8>(payload, 1, quint8(values.at(0).toUInt()));
    if (analogue) {
        writeFloatLe(payload, 4, float(values.at(1).toDouble()));
        writeLe<quint32>(payload, 8, values.at(2).toUInt());
    }
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeGain(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 1);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(8, '\0');
    writeLe<quint8>(payload, 0, index);
    writeFloatLe(payload, 4, float(values.at(0).toDouble()));
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeExtendedMuxer(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 4);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(4, '\0');
    for (int i = 0; i < 4; ++i)
        writeLe<quint8>(payload, i, quint8(values.at(i).toUInt()));
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeAdcConfig(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 1);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(2, '\0');
    writeLe<quint8>(payload, 0, index);
    writeLe<quint8>(payload, 1, values.at(0).toBool() ? 1 : 0);
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeDigitalChannelParams(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 4);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(9, '\0');
    writeLe<quint8>(payload, 0, index);
    writeLe<quint8>(payload, 2, quint8(values.at(0).toUInt()));
    writeLe<quint8>(payload, 3, quint8(values.at(1).toUInt()));
    writeLe<quint8>(payload, 4, quint8(values.at(2).toUInt()));
    writeLe<quint32>(payload, 5, values.at(3).toUInt());
    *ok = true;
    return payload;
}

QByteArray PdQlp_v2::composeFanControlParams(quint16 command, quint8 index, bool *ok)
{
    *ok = false;
    const QList<QVariant> values = newValues(command, index, 5);
    if (values.isEmpty())
        return QByteArray();

    QByteArray payload(20, '\0');
    for (int i = 0; i < 5; ++i)
        writeFloatLe(payload, 4 * i, float(values.at(i).toDouble()));
    *ok = true;
    return payload;
}
