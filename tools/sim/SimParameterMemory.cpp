#include "SimParameterMemory.h"

#include "SimByteOrder.h"
#include "SimIdentity.h"
#include "SimProtocol.h"

#include <cmath>

using namespace SimProtocol;

namespace {

bool allFloatsFinite(const QByteArray &bytes, int offset)
{
    for (int pos = offset; bytes.size() - pos >= 4; pos += 4) {
        if (!std::isfinite(simbytes::f32(bytes, pos)))
            return false;
    }
    return true;
}

// The part after a fixed header must hold exactly `count` 4-byte values.
bool holdsExactly(const QByteArray &bytes, int header, int count)
{
    return bytes.size() >= header && (bytes.size() - header) % 4 == 0 && (bytes.size() - header) / 4 == count;
}

bool upTo(int index, int last) { return index >= 0 && index <= last; }

} // namespace

struct SimParameterMemory::Family
{
    quint16 set; // 0 for a get-only family
    quint16 get;
    bool indexed; // instance index in byte 0 of the set payload and of the get request
    bool (*validIndex)(int index);
    // Length and values of a payload about to be stored; returns an ack code.
    quint16 (*checkPayload)(const SimParameterMemory &memory, quint8 index, const QByteArray &payload);
};

namespace {

using Family = SimParameterMemory::Family;
using Memory = SimParameterMemory;

const Family kFamilies[] = {
    {SetTimings, GetTimings, true, [](int i) { return upTo(i, kGroupCount - 1); },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         if (p.size() != SimPayloads::kTimingSize)
             return AckBadLength;
         // The channel travels as u32; an index byte alone does not make it.
         return simbytes::u32(p, 0) < quint32(kGroupCount) ? AckOk : AckBadValue;
     }},
    {SetTrigger, GetTrigger, true, [](int i) { return upTo(i, 1); },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         if (!holdsExactly(p, SimPayloads::kTriggerHeaderSize, p.size() < 2 ? -1 : simbytes::u8(p, 1)))
             return AckBadLength;
         return std::isfinite(simbytes::f32(p, 8)) ? AckOk : AckBadValue;
     }},
    {SetFilter, GetFilter, true, [](int i) { return (i & 0x1F) <= 4 && (i >> 5) <= 2; },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         if (!holdsExactly(p, 4, p.size() < 2 ? -1 : simbytes::u8(p, 1)))
             return AckBadLength;
         return allFloatsFinite(p, 4) ? AckOk : AckBadValue;
     }},
    {SetGating, GetGating, true, [](int i) { return upTo(i, 7); },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         if (p.size() != SimPayloads::kGatingSize)
             return AckBadLength;
         return std::isfinite(simbytes::f32(p, 4)) ? AckOk : AckBadValue;
     }},
    {SetGain, GetGain, true, [](int i) { return upTo(i, Memory::kGainCount - 1); },
     [](const Memory &memory, quint8 index, const QByteArray &p) -> quint16 {
         float value = 0;
         if (p.size() != SimPayloads::kGainSize || !SimPayloads::decodeGain(p, &value))
             return AckBadLength;
         // The front end can only be set within its level range; a value outside
         // is what a misplaced float looks like.
         float lowest = 0, highest = 0;
         if (!std::isfinite(value)
             || !SimPayloads::gainLevelBounds(memory.payload(GetGainLevels, index), &lowest, &highest))
             return AckBadValue;
         constexpr float kSlack = 1e-3f;
         return value >= lowest - kSlack && value <= highest + kSlack ? AckOk : AckBadValue;
     }},
    {0, GetGainLevels, true, [](int i) { return upTo(i, Memory::kGainCount - 1); },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         float lowest = 0, highest = 0;
         return SimPayloads::gainLevelBounds(p, &lowest, &highest) ? AckOk : AckBadLength;
     }},
    {SetMuxer, GetMuxer, false, [](int i) { return i == 0; },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         if (p.size() != SimPayloads::kMuxerSize)
             return AckBadLength;
         // Sixteen sources can be routed to the muxer.
         return simbytes::u8(p, 2) <= 15 && simbytes::u8(p, 3) <= 15 ? AckOk : AckBadValue;
     }},
    {SetAdcConfig, GetAdcConfig, true, [](int i) { return upTo(i, 3); },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         return p.size() == SimPayloads::kAdcConfigSize ? AckOk : AckBadLength;
     }},
    {SetDigitalChannel, GetDigitalChannel, true, [](int i) { return upTo(i, 7); },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         return p.size() == SimPayloads::kDigitalChannelSize ? AckOk : AckBadLength;
     }},
    {SetDeviceConfig, GetDeviceConfig, true, [](int i) { return upTo(i, SimPayloads::kConfigItemCount - 1); },
     [](const Memory &, quint8 item, const QByteArray &p) -> quint16 {
         const int valueSize = p.size() - 1;
         const int required = SimPayloads::configValueSize(item);
         if (required != 0 ? valueSize != required : (valueSize < 1 || valueSize > 255))
             return AckBadLength;
         if (item == SimPayloads::ConfigTestVoltageCalibration) {
             const double factor = simbytes::f64(p, 1);
             return std::isfinite(factor) && factor != 0.0 ? AckOk : AckBadValue;
         }
         return AckOk;
     }},
    {SetFanControl, GetFanControl, false, [](int i) { return i == 0; },
     [](const Memory &, quint8, const QByteArray &p) -> quint16 {
         if (p.size() != SimPayloads::kFanControlSize)
             return AckBadLength;
         return allFloatsFinite(p, 0) ? AckOk : AckBadValue;
     }},
};

const Family *familyOf(quint16 command)
{
    for (const Family &family : kFamilies) {
        if (command == family.get || (family.set != 0 && command == family.set))
            return &family;
    }
    return nullptr;
}

} // namespace

SimParameterMemory::SimParameterMemory(const SimIdentity &identity)
{
    resetToDefaults(identity);
}

void SimParameterMemory::resetToDefaults(const SimIdentity &identity)
{
    m_store.clear();

    // A single record per group after power-on, as the host's own default: one
    // trigger, 200 ms in one frame. The muxer runs at 125 MHz, so its default
    // is kept at 1 ms instead of 50 MB per frame.
    for (quint8 group = 0; group < kGroupCount; ++group) {
        SimPayloads::Timing timing;
        timing.channel = group;
        timing.periods = 1;
        timing.samplePeriod = timing.framePeriod = group == GroupMuxer ? 1000000 : 200000000;
        m_store.insert(key(GetTimings, group), SimPayloads::encode(timing));
    }

    // Both triggers on the software trigger (68): a start records at once.
    for (quint8 index = 0; index < 2; ++index) {
        SimPayloads::Trigger trigger;
        trigger.index = index;
        trigger.source = 68;
        trigger.level = index == 0 ? 0.1f : 0.5f;
        m_store.insert(key(GetTrigger, index), SimPayloads::encode(trigger));
    }

    // Filters pass through: b0 = 1, the other biquad taps 0.
    for (quint8 adc = 0; adc <= 2; ++adc) {
        for (quint8 kind = 0; kind <= 4; ++kind) {
            const quint8 filter = quint8(adc * 32 + kind);
            m_store.insert(key(GetFilter, filter), SimPayloads::encodeFilter(filter, {1.0f, 0, 0, 0, 0}));
        }
    }

    for (quint8 instance = 0; instance < 8; ++instance) {
        SimPayloads::Gating gating;
        gating.instance = instance;
        if (instance == 2) { // user gating: off, but with a usable threshold
            gating.level = 0.5f;
            gating.holdtime = 20000;
        } else if (instance == 3) { // system gating: on, as the host configures it
            gating.activation = 1;
            gating.level = 0.1585f;
            gating.holdtime = 20000;
        }
        m_store.insert(key(GetGating, instance), SimPayloads::encode(gating));
    }

    // Levels first: a gain value is checked against them.
    // The gating inputs can be attenuated: the host runs system gating at -16 dB.
    const QVector<float> gatingLevels{-24, -16, -8, 0, 8, 16, 24};
    const QVector<float> onOff{0, 1};
    m_store.insert(key(GetGainLevels, GainSystemGating), SimPayloads::encodeGainLevelList(GainSystemGating, gatingLevels));
    m_store.insert(key(GetGainLevels, GainUserGating), SimPayloads::encodeGainLevelList(GainUserGating, gatingLevels));
    m_store.insert(key(GetGainLevels, GainTestVoltage),
                   SimPayloads::encodeGainLevelList(GainTestVoltage, {-30, -20, -10, 0}));
    // The PD amplifier in range form, the only one: so both forms are served.
    m_store.insert(key(GetGainLevels, GainPd), SimPayloads::encodeGainLevelRange(GainPd, 0, 60, 6));
    for (quint8 gain : {GainPdBandwidth, GainPdRemotePower, GainClockSource, GainSystemGatingBandwidth,
                        GainUserGatingBandwidth})
        m_store.insert(key(GetGainLevels, gain), SimPayloads::encodeGainLevelList(gain, onOff));

    for (quint8 gain = 0; gain < kGainCount; ++gain) {
        // The divider of the test voltage input needs -30 dB for tens of kV;
        // system gating as the host sets it.
        const float value = gain == GainTestVoltage ? -30.0f : gain == GainSystemGating ? -16.0f : 0.0f;
        m_store.insert(key(GetGain, gain), SimPayloads::encodeGain(gain, value));
    }

    SimPayloads::Muxer muxer;
    muxer.channel0 = 4; // PD filtered
    m_store.insert(key(GetMuxer, 0), SimPayloads::encode(muxer));

    for (quint8 adc = 0; adc < 4; ++adc)
        m_store.insert(key(GetAdcConfig, adc), SimPayloads::encodeAdcConfig(adc, false));

    for (quint8 channel = 0; channel < 8; ++channel) {
        SimPayloads::DigitalChannel digital;
        digital.channel = channel;
        m_store.insert(key(GetDigitalChannel, channel), SimPayloads::encode(digital));
    }

    QByteArray serial;
    simbytes::appendU64(serial, identity.serial);
    QByteArray port;
    simbytes::appendU16(port, 52922);
    // The network items only describe the detector's own configuration; the
    // simulator serves on the address it was told to listen on and never uses them.
    const QByteArray configValues[SimPayloads::kConfigItemCount] = {
        serial,
        QByteArray::fromHex("0244525600" "01"),
        QByteArray::fromHex("c0a8dc64"), // 192.168.220.100
        QByteArray(),                     // info string, computed on request
        port,
        QByteArray::fromHex("ffff0000"),
        QByteArray::fromHex("c0a8dcfe"),
        QByteArray(),                     // calibration, below
        // The host writes the device type as the decimal text of an int.
        QByteArray::number(identity.deviceType),
    };
    for (quint8 item = 0; item < SimPayloads::kConfigItemCount; ++item) {
        if (item != SimPayloads::ConfigInfoString && item != SimPayloads::ConfigTestVoltageCalibration)
            m_store.insert(key(GetDeviceConfig, item), SimPayloads::encodeConfig(item, configValues[item]));
    }
    m_store.insert(key(GetDeviceConfig, SimPayloads::ConfigTestVoltageCalibration),
                   SimPayloads::encodeCalibration(2640.0));

    m_store.insert(key(GetFanControl, 0), SimPayloads::encode(SimPayloads::FanControl()));
}

bool SimParameterMemory::handles(quint16 command) const
{
    return familyOf(command) != nullptr;
}

SimParameterMemory::Reply SimParameterMemory::handle(quint16 command, const QByteArray &payload)
{
    const Family *family = familyOf(command);
    if (!family)
        return {AckUnknownCommand, QByteArray()};

    if (family->indexed && payload.isEmpty())
        return {AckBadLength, QByteArray()};
    const quint8 index = family->indexed ? simbytes::u8(payload, 0) : 0;
    const QByteArray indexByte = family->indexed ? payload.left(1) : QByteArray();
    if (!family->validIndex(index))
        return {AckBadValue, indexByte};

    if (command == family->get)
        return {AckOk, m_store.value(key(family->get, index))};

    // Read-only items of a writable family.
    if (family->set == SetDeviceConfig && index == SimPayloads::ConfigInfoString)
        return {AckBadValue, indexByte};
    const quint16 ack = store(*family, index, payload);
    return {ack, ack == AckOk ? payload : indexByte};
}

QByteArray SimParameterMemory::payload(quint16 getCommand, quint8 index) const
{
    return m_store.value(key(getCommand, index));
}

quint16 SimParameterMemory::setPayload(quint16 getCommand, quint8 index, const QByteArray &payload)
{
    const Family *family = familyOf(getCommand);
    if (!family || family->get != getCommand || !family->validIndex(index))
        return AckBadValue;
    if (family->indexed && (payload.isEmpty() || simbytes::u8(payload, 0) != index))
        return AckBadValue;
    return store(*family, index, payload);
}

quint16 SimParameterMemory::store(const Family &family, quint8 index, const QByteArray &payload)
{
    const quint16 ack = family.checkPayload(*this, index, payload);
    if (ack == AckOk)
        m_store.insert(key(family.get, index), payload);
    return ack;
}

SimPayloads::Timing SimParameterMemory::timing(int group) const
{
    SimPayloads::Timing timing;
    SimPayloads::decode(payload(GetTimings, quint8(group)), &timing);
    return timing;
}

SimPayloads::Trigger SimParameterMemory::trigger(int index) const
{
    SimPayloads::Trigger trigger;
    SimPayloads::decode(payload(GetTrigger, quint8(index)), &trigger);
    return trigger;
}

SimPayloads::Gating SimParameterMemory::gating(int instance) const
{
    SimPayloads::Gating gating;
    SimPayloads::decode(payload(GetGating, quint8(instance)), &gating);
    return gating;
}

float SimParameterMemory::gainDb(int gain) const
{
    float value = 0;
    SimPayloads::decodeGain(payload(GetGain, quint8(gain)), &value);
    return value;
}

SimPayloads::Muxer SimParameterMemory::muxer() const
{
    SimPayloads::Muxer muxer;
    SimPayloads::decode(payload(GetMuxer, 0), &muxer);
    return muxer;
}

SimPayloads::DigitalChannel SimParameterMemory::digitalChannel(int channel) const
{
    SimPayloads::DigitalChannel digital;
    SimPayloads::decode(payload(GetDigitalChannel, quint8(channel)), &digital);
    return digital;
}

SimPayloads::FanControl SimParameterMemory::fanControl() const
{
    SimPayloads::FanControl fan;
    SimPayloads::decode(payload(GetFanControl, 0), &fan);
    return fan;
}

double SimParameterMemory::testVoltageCalibration() const
{
    double factor = 1.0;
    SimPayloads::decodeCalibration(payload(GetDeviceConfig, SimPayloads::ConfigTestVoltageCalibration), &factor);
    return factor;
}
