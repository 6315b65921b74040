#pragma once

#include <QByteArray>
#include <QVector>

// Typed views of the payloads the detector keeps in its parameter memory and
// acts on itself (timings, trigger, gating, gains, muxer, digital channels,
// calibration, fan control), and the builders of its defaults. The parameter
// memory stores bytes; the acquisition and the signal synthesis read them
// through these.
//
// decode functions return false when the bytes are too short for the layout;
// the memory only stores payloads that passed its length rules, so that is a
// guard, not a path taken in use.
class SimPayloads
{
public:
    // 40 bytes: channel u32, periods u32, sample period u64, pretrigger i64,
    // timeout u64, frame period u64. Times in nanoseconds.
    struct Timing
    {
        quint32 channel = 0;
        quint32 periods = 0;
        quint64 samplePeriod = 0;
        qint64 pretrigger = 0;
        quint64 timeout = 0;
        quint64 framePeriod = 0;
    };
    static constexpr int kTimingSize = 40;
    static QByteArray encode(const Timing &timing);
    static bool decode(const QByteArray &bytes, Timing *timing);

    // 16 + 4n bytes: index u8, n u8, 2 reserved, source u32, level f32,
    // hold time u32, n values i32.
    struct Trigger
    {
        quint8 index = 0;
        quint32 source = 0;
        float level = 0;
        quint32 holdtime = 0;
        QVector<qint32> values;
    };
    static constexpr int kTriggerHeaderSize = 16;
    static QByteArray encode(const Trigger &trigger);
    static bool decode(const QByteArray &bytes, Trigger *trigger);

    // 12 bytes: instance u8, activation u8, 2 zero, level f32, hold time u32.
    struct Gating
    {
        quint8 instance = 0;
        quint8 activation = 0;
        float level = 0;
        quint32 holdtime = 0;
    };
    static constexpr int kGatingSize = 12;
    static QByteArray encode(const Gating &gating);
    static bool decode(const QByteArray &bytes, Gating *gating);

    // 8 bytes: gain u8, 3 reserved, value f32 (dB).
    static constexpr int kGainSize = 8;
    static QByteArray encodeGain(quint8 gain, float valueDb);
    static bool decodeGain(const QByteArray &bytes, float *valueDb);

    // Gain levels, either an explicit list (form byte 0: n u32 then n floats) or
    // a range (form byte 1: minimum, maximum, step as floats).
    static QByteArray encodeGainLevelList(quint8 gain, const QVector<float> &levels);
    static QByteArray encodeGainLevelRange(quint8 gain, float minimum, float maximum, float step);
    // The lowest and highest selectable level of either form.
    static bool gainLevelBounds(const QByteArray &bytes, float *lowest, float *highest);

    // 4 bytes: dual channel, gating info, selector 0, selector 1.
    struct Muxer
    {
        quint8 dualChannel = 0;
        quint8 gatingInfo = 0;
        quint8 channel0 = 0;
        quint8 channel1 = 0;
    };
    static constexpr int kMuxerSize = 4;
    static QByteArray encode(const Muxer &muxer);
    static bool decode(const QByteArray &bytes, Muxer *muxer);

    // 9 bytes: channel u8, reserved u8, inversion u8, positive edge u8,
    // negative edge u8, hold time u32 at offset 5 (unaligned).
    struct DigitalChannel
    {
        quint8 channel = 0;
        quint8 inversion = 0;
        quint8 positiveEdge = 1;
        quint8 negativeEdge = 0;
        quint32 holdtime = 0;
    };
    static constexpr int kDigitalChannelSize = 9;
    static QByteArray encode(const DigitalChannel &channel);
    static bool decode(const QByteArray &bytes, DigitalChannel *channel);

    // 4 + 4n bytes: filter u8, n u8, 2 zero, n coefficients f32.
    static QByteArray encodeFilter(quint8 filter, const QVector<float> &coefficients);

    // 2 bytes: ADC u8, inverted u8.
    static constexpr int kAdcConfigSize = 2;
    static QByteArray encodeAdcConfig(quint8 adc, bool inverted);

    // 20 bytes: minimum and maximum temperature (°C), minimum and maximum duty
    // cycle (0..1), omega: five floats.
    struct FanControl
    {
        float minTemperature = 30.0f;
        float maxTemperature = 60.0f;
        float minDutyCycle = 0.2f;
        float maxDutyCycle = 1.0f;
        float omega = 0.5f;
    };
    static constexpr int kFanControlSize = 20;
    static QByteArray encode(const FanControl &fan);
    static bool decode(const QByteArray &bytes, FanControl *fan);

    // 20 bytes: sample count u32, then minimum, maximum, mean, rms as floats.
    static QByteArray encodeAdcStatistics(quint32 samples, float minimum, float maximum, float mean, float rms);

    // Device configuration: item u8 followed by the item's value bytes.
    enum ConfigItem : quint8 {
        ConfigSerialNumber = 0,
        ConfigMacAddress = 1,
        ConfigIpAddress = 2,
        ConfigInfoString = 3,
        ConfigIpPort = 4,
        ConfigIpNetmask = 5,
        ConfigIpGateway = 6,
        ConfigTestVoltageCalibration = 7,
        ConfigDeviceType = 8,
    };
    static constexpr int kConfigItemCount = 9;
    static QByteArray encodeConfig(quint8 item, const QByteArray &value);
    // The value size an item must have; 0 for the free-length items (info
    // string, device type).
    static int configValueSize(quint8 item);
    static QByteArray encodeCalibration(double voltsPerUnit);
    static bool decodeCalibration(const QByteArray &configPayload, double *voltsPerUnit);
};
