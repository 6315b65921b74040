#include "SimPayloads.h"

#include "SimByteOrder.h"

using namespace simbytes;

QByteArray SimPayloads::encode(const Timing &timing)
{
    QByteArray bytes;
    bytes.reserve(kTimingSize);
    appendU32(bytes, timing.channel);
    appendU32(bytes, timing.periods);
    appendU64(bytes, timing.samplePeriod);
    appendI64(bytes, timing.pretrigger);
    appendU64(bytes, timing.timeout);
    appendU64(bytes, timing.framePeriod);
    return bytes;
}

bool SimPayloads::decode(const QByteArray &bytes, Timing *timing)
{
    if (!fits(bytes, 0, kTimingSize))
        return false;
    timing->channel = u32(bytes, 0);
    timing->periods = u32(bytes, 4);
    timing->samplePeriod = u64(bytes, 8);
    timing->pretrigger = i64(bytes, 16);
    timing->timeout = u64(bytes, 24);
    timing->framePeriod = u64(bytes, 32);
    return true;
}

QByteArray SimPayloads::encode(const Trigger &trigger)
{
    QByteArray bytes;
    bytes.reserve(kTriggerHeaderSize + 4 * trigger.values.size());
    appendU8(bytes, trigger.index);
    appendU8(bytes, quint8(trigger.values.size()));
    appendU16(bytes, 0);
    appendU32(bytes, trigger.source);
    appendF32(bytes, trigger.level);
    appendU32(bytes, trigger.holdtime);
    for (qint32 value : trigger.values)
        appendU32(bytes, quint32(value));
    return bytes;
}

bool SimPayloads::decode(const QByteArray &bytes, Trigger *trigger)
{
    if (!fits(bytes, 0, kTriggerHeaderSize))
        return false;
    trigger->index = u8(bytes, 0);
    trigger->source = u32(bytes, 4);
    trigger->level = f32(bytes, 8);
    trigger->holdtime = u32(bytes, 12);
    // Only the values that lie inside the payload; the count byte caps them at 255.
    const int count = qMin<int>(u8(bytes, 1), (bytes.size() - kTriggerHeaderSize) / 4);
    trigger->values.resize(count);
    for (int i = 0; i < count; ++i)
        trigger->values[i] = qint32(u32(bytes, kTriggerHeaderSize + 4 * i));
    return true;
}

QByteArray SimPayloads::encode(const Gating &gating)
{
    QByteArray bytes;
    bytes.reserve(kGatingSize);
    appendU8(bytes, gating.instance);
    appendU8(bytes, gating.activation);
    appendU16(bytes, 0);
    appendF32(bytes, gating.level);
    appendU32(bytes, gating.holdtime);
    return bytes;
}

bool SimPayloads::decode(const QByteArray &bytes, Gating *gating)
{
    if (!fits(bytes, 0, kGatingSize))
        return false;
    gating->instance = u8(bytes, 0);
    gating->activation = u8(bytes, 1);
    gating->level = f32(bytes, 4);
    gating->holdtime = u32(bytes, 8);
    return true;
}

QByteArray SimPayloads::encodeGain(quint8 gain, float valueDb)
{
    QByteArray bytes;
    bytes.reserve(kGainSize);
    appendU8(bytes, gain);
    bytes.append(3, '\0');
    appendF32(bytes, valueDb);
    return bytes;
}

bool SimPayloads::decodeGain(const QByteArray &bytes, float *valueDb)
{
    if (!fits(bytes, 0, kGainSize))
        return false;
    *valueDb = f32(bytes, 4);
    return true;
}

QByteArray SimPayloads::encodeGainLevelList(quint8 gain, const QVector<float> &levels)
{
    QByteArray bytes;
    appendU8(bytes, gain);
    appendU8(bytes, 0);
    appendU16(bytes, 0);
    appendU32(bytes, quint32(levels.size()));
    for (float level : levels)
        appendF32(bytes, level);
    return bytes;
}

QByteArray SimPayloads::encodeGainLevelRange(quint8 gain, float minimum, float maximum, float step)
{
    QByteArray bytes;
    appendU8(bytes, gain);
    appendU8(bytes, 1);
    appendU16(bytes, 0);
    appendF32(bytes, minimum);
    appendF32(bytes, maximum);
    appendF32(bytes, step);
    return bytes;
}

bool SimPayloads::gainLevelBounds(const QByteArray &bytes, float *lowest, float *highest)
{
    if (!fits(bytes, 0, 8))
        return false;
    if (u8(bytes, 1) != 0) {
        if (!fits(bytes, 0, 16))
            return false;
        *lowest = f32(bytes, 4);
        *highest = f32(bytes, 8);
        return true;
    }
    const quint32 count = u32(bytes, 4);
    if (count == 0 || count > quint32(bytes.size() - 8) / 4)
        return false;
    *lowest = *highest = f32(bytes, 8);
    for (quint32 i = 1; i < count; ++i) {
        const float level = f32(bytes, 8 + 4 * int(i));
        *lowest = qMin(*lowest, level);
        *highest = qMax(*highest, level);
    }
    return true;
}

QByteArray SimPayloads::encode(const Muxer &muxer)
{
    QByteArray bytes;
    appendU8(bytes, muxer.dualChannel);
    appendU8(bytes, muxer.gatingInfo);
    appendU8(bytes, muxer.channel0);
    appendU8(bytes, muxer.channel1);
    return bytes;
}

bool SimPayloads::decode(const QByteArray &bytes, Muxer *muxer)
{
    if (!fits(bytes, 0, kMuxerSize))
        return false;
    muxer->dualChannel = u8(bytes, 0);
    muxer->gatingInfo = u8(bytes, 1);
    muxer->channel0 = u8(bytes, 2);
    muxer->channel1 = u8(bytes, 3);
    return true;
}

QByteArray SimPayloads::encode(const DigitalChannel &channel)
{
    QByteArray bytes;
    bytes.reserve(kDigitalChannelSize);
    appendU8(bytes, channel.channel);
    appendU8(bytes, 0);
    appendU8(bytes, channel.inversion);
    appendU8(bytes, channel.positiveEdge);
    appendU8(bytes, channel.negativeEdge);
    appendU32(bytes, channel.holdtime);
    return bytes;
}

bool SimPayloads::decode(const QByteArray &bytes, DigitalChannel *channel)
{
    if (!fits(bytes, 0, kDigitalChannelSize))
        return false;
    channel->channel = u8(bytes, 0);
    channel->inversion = u8(bytes, 2);
    channel->positiveEdge = u8(bytes, 3);
    channel->negativeEdge = u8(bytes, 4);
    channel->holdtime = u32(bytes, 5);
    return true;
}

QByteArray SimPayloads::encodeFilter(quint8 filter, const QVector<float> &coefficients)
{
    QByteArray bytes;
    appendU8(bytes, filter);
    appendU8(bytes, quint8(coefficients.size()));
    appendU16(bytes, 0);
    for (float coefficient : coefficients)
        appendF32(bytes, coefficient);
    return bytes;
}

QByteArray SimPayloads::encodeAdcConfig(quint8 adc, bool inverted)
{
    QByteArray bytes;
    appendU8(bytes, adc);
    appendU8(bytes, inverted ? 1 : 0);
    return bytes;
}

QByteArray SimPayloads::encode(const FanControl &fan)
{
    QByteArray bytes;
    appendF32(bytes, fan.minTemperature);
    appendF32(bytes, fan.maxTemperature);
    appendF32(bytes, fan.minDutyCycle);
    appendF32(bytes, fan.maxDutyCycle);
    appendF32(bytes, fan.omega);
    return bytes;
}

bool SimPayloads::decode(const QByteArray &bytes, FanControl *fan)
{
    if (!fits(bytes, 0, kFanControlSize))
        return false;
    fan->minTemperature = f32(bytes, 0);
    fan->maxTemperature = f32(bytes, 4);
    fan->minDutyCycle = f32(bytes, 8);
    fan->maxDutyCycle = f32(bytes, 12);
    fan->omega = f32(bytes, 16);
    return true;
}

QByteArray SimPayloads::encodeAdcStatistics(quint32 samples, float minimum, float maximum, float mean, float rms)
{
    QByteArray bytes;
    appendU32(bytes, samples);
    appendF32(bytes, minimum);
    appendF32(bytes, maximum);
    appendF32(bytes, mean);
    appendF32(bytes, rms);
    return bytes;
}

QByteArray SimPayloads::encodeConfig(quint8 item, const QByteArray &value)
{
    QByteArray bytes;
    bytes.reserve(1 + value.size());
    appendU8(bytes, item);
    bytes.append(value);
    return bytes;
}

int SimPayloads::configValueSize(quint8 item)
{
    switch (item) {
    case ConfigSerialNumber:
    case ConfigTestVoltageCalibration:
        return 8;
    case ConfigMacAddress:
        return 6;
    case ConfigIpAddress:
    case ConfigIpNetmask:
    case ConfigIpGateway:
        return 4;
    case ConfigIpPort:
        return 2;
    default:
        return 0;
    }
}

QByteArray SimPayloads::encodeCalibration(double voltsPerUnit)
{
    QByteArray value;
    appendF64(value, voltsPerUnit);
    return encodeConfig(ConfigTestVoltageCalibration, value);
}

bool SimPayloads::decodeCalibration(const QByteArray &configPayload, double *voltsPerUnit)
{
    if (!fits(configPayload, 0, 9))
        return false;
    *voltsPerUnit = f64(configPayload, 1);
    return true;
}
