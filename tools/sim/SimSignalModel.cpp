#include "SimSignalModel.h"

#include "SimByteOrder.h"
#include "SimParameterMemory.h"
#include "SimProtocol.h"

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kNoiseBits = 16;

// Gaussian noise, drawn once with a fixed seed (Box-Muller over mt19937, both
// exactly defined, so the table is the same on every platform).
const float *noiseTable()
{
    static const std::vector<float> table = [] {
        std::vector<float> values(std::size_t(1) << kNoiseBits);
        std::mt19937 generator(0x5DA7u);
        const double scale = 1.0 / 4294967296.0;
        for (std::size_t i = 0; i < values.size(); i += 2) {
            const double u1 = (double(generator()) + 1.0) * scale;
            const double u2 = double(generator()) * scale;
            const double radius = std::sqrt(-2.0 * std::log(u1));
            values[i] = float(radius * std::cos(2 * kPi * u2));
            values[i + 1] = float(radius * std::sin(2 * kPi * u2));
        }
        return values;
    }();
    return table.data();
}

inline float noiseAt(quint64 index, quint64 salt)
{
    return noiseTable()[((index + salt) * 0x9E3779B97F4A7C15ull) >> (64 - kNoiseBits)];
}

// Floor and ceiling of a / b for b > 0, also for negative a.
inline qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline qint64 ceilDiv(qint64 a, qint64 b) { return -floorDiv(-a, b); }

// Index range [first, last) of the samples (each covering [t, t + dt)) that
// overlap [begin, end), clipped to the block.
inline void overlapping(qint64 begin, qint64 end, qint64 startNs, qint64 dtNs, int n, int *first, int *last)
{
    *first = int(qBound<qint64>(0, floorDiv(begin - startNs, dtNs), n));
    *last = int(qBound<qint64>(0, ceilDiv(end - startNs, dtNs), n));
}

// Index range of the sample times that fall in [begin, end).
inline void within(qint64 begin, qint64 end, qint64 startNs, qint64 dtNs, int n, int *first, int *last)
{
    *first = int(qBound<qint64>(0, ceilDiv(begin - startNs, dtNs), n));
    *last = int(qBound<qint64>(0, ceilDiv(end - startNs, dtNs), n));
}

// A double-exponential current pulse, normalised so that its largest value on
// the 8 ns sample grid is 1: the direct pulse peaks 8 ns after it starts.
struct PulseShape
{
    double rise;
    double fall;
    qint64 lengthNs;
    double norm;

    PulseShape(double riseNs, double fallNs, qint64 length)
        : rise(riseNs)
        , fall(fallNs)
        , lengthNs(length)
        , norm(0)
    {
        double peak = 0;
        for (qint64 t = 0; t < length; t += 8)
            peak = std::max(peak, raw(double(t)));
        norm = 1.0 / peak;
    }
    double raw(double t) const { return std::exp(-t / fall) - std::exp(-t / rise); }
    double at(double t) const { return raw(t) * norm; }
};

// The echo has travelled the cable twice: lower and wider.
const PulseShape kDirect(4.0, 40.0, 512);
const PulseShape kEcho(8.0, 80.0, 1024);
constexpr qint64 kChargeTailNs = 10 * SimSignalModel::kChargeDecayNs;
constexpr qint64 kLongestDisturbanceNs = 100000;
constexpr double kDisturbanceRingHz = 1e6;

// Widths of the HV source's outputs wired to the digital inputs: input 0 is its
// switching signal (used for digital gating), input 2 its trigger output.
qint64 inputPulseWidth(int input)
{
    switch (input) {
    case 0:
        return 100000;
    case 2:
        return 10000;
    default:
        return 0;
    }
}

inline qint64 clampSample(double value, double fullScale, qint64 lowest, qint64 highest)
{
    return qBound<qint64>(lowest, qint64(std::lrint(value * fullScale)), highest);
}

} // namespace

SimSignalModel::SimSignalModel(const SimScenario &scenario, const FrontEnd &frontEnd)
    : m_scenario(scenario)
    , m_frontEnd(frontEnd)
{
}

SimSignalModel::FrontEnd SimSignalModel::frontEndFrom(const SimParameterMemory &memory)
{
    FrontEnd frontEnd;
    for (int gain = 0; gain < SimParameterMemory::kGainCount; ++gain)
        frontEnd.gainCode[gain] = qint16(qBound(-32768L, std::lrint(memory.gainDb(gain) * 256.0), 32767L));
    frontEnd.wideBand = memory.gainDb(SimParameterMemory::GainPdBandwidth) > 0.5f;
    frontEnd.calibration = memory.testVoltageCalibration();
    for (int adc = 0; adc < 4; ++adc) {
        const QByteArray config = memory.payload(SimProtocol::GetAdcConfig, quint8(adc));
        frontEnd.invert[adc] = config.size() >= 2 && config.at(1) != 0;
    }
    for (int instance = 0; instance < 8; ++instance)
        frontEnd.gating[instance] = memory.gating(instance);
    for (int channel = 0; channel < 8; ++channel)
        frontEnd.digital[channel] = memory.digitalChannel(channel);
    frontEnd.muxer = memory.muxer();
    return frontEnd;
}

qint64 SimSignalModel::samplePeriodNs(int group)
{
    switch (group) {
    case SimProtocol::GroupMuxer:
        return 8;
    case SimProtocol::GroupTestVoltage:
        return 10000;
    default:
        return 5000;
    }
}

double SimSignalModel::gainLinear(int gainIndex) const
{
    return std::pow(10.0, m_frontEnd.gainCode[gainIndex] / 256.0 / 20.0);
}

int SimSignalModel::gainOfSource(int source) const
{
    switch (source) {
    case UserGatingRaw:
    case UserGatingFiltered:
        return SimParameterMemory::GainUserGating;
    case SystemGatingRaw:
    case SystemGatingFiltered:
        return SimParameterMemory::GainSystemGating;
    case TestVoltageRaw:
        return SimParameterMemory::GainTestVoltage;
    default:
        return SimParameterMemory::GainPd;
    }
}

// ADC 0 digitises PD and the charges derived from it, 1 the user gating input,
// 2 the system gating input, 3 the test voltage.
int SimSignalModel::adcOfSource(int source) const
{
    switch (source) {
    case UserGatingRaw:
    case UserGatingFiltered:
        return 1;
    case SystemGatingRaw:
    case SystemGatingFiltered:
        return 2;
    case TestVoltageRaw:
        return 3;
    default:
        return 0;
    }
}

double SimSignalModel::gatingScale(bool user) const
{
    // The user gating sensor sits further from the HV source than the system one.
    return (user ? kUserGatingCoupling : 1.0)
        * gainLinear(user ? SimParameterMemory::GainUserGating : SimParameterMemory::GainSystemGating);
}

double SimSignalModel::voltsPerNc() const
{
    return m_frontEnd.wideBand ? kWideBandVoltsPerNc : kNarrowBandVoltsPerNc;
}

qint16 SimSignalModel::gainCode(int group, int slot) const
{
    switch (group) {
    case SimProtocol::GroupMuxer:
        if (slot == 0)
            return m_frontEnd.gainCode[gainOfSource(m_frontEnd.muxer.channel0)];
        return m_frontEnd.muxer.dualChannel ? m_frontEnd.gainCode[gainOfSource(m_frontEnd.muxer.channel1)] : 0;
    case SimProtocol::GroupTestVoltage:
        return slot == 0 ? m_frontEnd.gainCode[SimParameterMemory::GainTestVoltage] : 0;
    default:
        return slot == 0 ? m_frontEnd.gainCode[SimParameterMemory::GainPd] : 0;
    }
}

void SimSignalModel::addPd(qint64 startNs, qint64 dtNs, int n, double scale, float *out) const
{
    const qint64 endNs = startNs + n * dtNs;
    QVector<SimScenario::Pulse> pulses;
    m_scenario.pulses(startNs - m_scenario.longestEchoNs() - kEcho.lengthNs, endNs, &pulses);
    for (const SimScenario::Pulse &pulse : pulses) {
        const struct {
            const PulseShape &shape;
            qint64 delay;
            double ratio;
        } parts[] = {{kDirect, 0, 1.0}, {kEcho, pulse.echoDelayNs, SimScenario::kEchoRatio}};
        for (const auto &part : parts) {
            const qint64 begin = pulse.timeNs + part.delay;
            int first, last;
            within(begin, begin + part.shape.lengthNs, startNs, dtNs, n, &first, &last);
            const double amplitude = scale * pulse.chargeNc * part.ratio;
            for (int i = first; i < last; ++i)
                out[i] += float(amplitude * part.shape.at(double(startNs + i * dtNs - begin)));
        }
    }
}

void SimSignalModel::addCharge(int phase, qint64 startNs, qint64 dtNs, int n, double scale, float *out) const
{
    QVector<SimScenario::Pulse> pulses;
    m_scenario.pulses(startNs - kChargeTailNs, startNs + n * dtNs, &pulses);
    for (const SimScenario::Pulse &pulse : pulses) {
        int first, last;
        within(pulse.timeNs, pulse.timeNs + kChargeTailNs, startNs, dtNs, n, &first, &last);
        const double amplitude = scale * pulse.chargeNc * kCrosstalk[phase];
        for (int i = first; i < last; ++i) {
            const double age = double(startNs + i * dtNs - pulse.timeNs);
            out[i] += float(amplitude * std::exp(-age / double(kChargeDecayNs)));
        }
    }
}

void SimSignalModel::addDisturbances(qint64 startNs, qint64 dtNs, int n, double scale, float *out) const
{
    QVector<SimScenario::Disturbance> events;
    m_scenario.disturbances(startNs - kLongestDisturbanceNs, startNs + n * dtNs, &events);
    for (const SimScenario::Disturbance &event : events) {
        int first, last;
        within(event.timeNs, event.timeNs + event.durationNs, startNs, dtNs, n, &first, &last);
        for (int i = first; i < last; ++i) {
            const double age = double(startNs + i * dtNs - event.timeNs);
            // A ringing burst that dies away within its duration.
            out[i] += float(scale * event.amplitude * std::exp(-3.0 * age / double(event.durationNs))
                            * std::cos(2 * kPi * kDisturbanceRingHz * age * 1e-9));
        }
    }
}

void SimSignalModel::synthesise(int source, qint64 startNs, qint64 dtNs, int n, float *out) const
{
    const double gain = gainLinear(gainOfSource(source));
    const double sign = m_frontEnd.invert[adcOfSource(source)] ? -1.0 : 1.0;
    const double adcNoise = dtNs < 1000 ? kFastAdcNoise : kSlowAdcNoise;
    const float sigma = float(std::sqrt(kInputNoise * gain * kInputNoise * gain + adcNoise * adcNoise));
    // Each source and rate draws its own noise, repeatable for a given sample.
    const quint64 salt = quint64(source) * 0x51ED27u + quint64(dtNs) * 0x2545F491u;
    const quint64 firstIndex = quint64(floorDiv(startNs, dtNs));
    for (int i = 0; i < n; ++i)
        out[i] = sigma * noiseAt(firstIndex + quint64(i), salt);

    const double scale = sign * gain;
    switch (source) {
    case PdRaw:
    case PdFiltered:
        addPd(startNs, dtNs, n, scale * voltsPerNc(), out);
        break;
    case UserGatingRaw:
    case UserGatingFiltered:
        addDisturbances(startNs, dtNs, n, sign * gatingScale(true), out);
        break;
    case SystemGatingRaw:
    case SystemGatingFiltered:
        addDisturbances(startNs, dtNs, n, sign * gatingScale(false), out);
        break;
    case TestVoltageRaw: {
        // The test voltage moves slowly against 125 MHz: one value per microsecond
        // is plenty and keeps the muxer path cheap.
        const int hold = dtNs >= 1000 ? 1 : int(1000 / dtNs);
        const double perVolt = scale / m_frontEnd.calibration;
        for (int i = 0; i < n; i += hold) {
            const float value = float(perVolt * m_scenario.testVoltage(startNs + i * dtNs));
            for (int j = i; j < qMin(n, i + hold); ++j)
                out[j] += value;
        }
        break;
    }
    default: {
        const int phase = (source - Charge0) % 3;
        addCharge(phase, startNs, dtNs, n, scale * voltsPerNc(), out);
        if ((source - Charge0) / 3 == 2) { // charge with gating: blanked while the system gate is open
            for (const Window &window : gatingWindows(3, startNs, startNs + n * dtNs)) {
                int first, last;
                overlapping(window.begin, window.end, startNs, dtNs, n, &first, &last);
                std::fill(out + first, out + last, 0.0f);
            }
        }
        break;
    }
    }
}

void SimSignalModel::fill(int group, qint64 startNs, int n, char *dst) const
{
    if (group == SimProtocol::GroupMuxer)
        fillMuxer(startNs, n, dst);
    else
        fillWords(group, startNs, n, dst);
}

void SimSignalModel::fillMuxer(qint64 startNs, int n, char *dst) const
{
    thread_local std::vector<float> first;
    thread_local std::vector<float> second;
    first.resize(std::size_t(n));
    synthesise(m_frontEnd.muxer.channel0, startNs, 8, n, first.data());
    if (!m_frontEnd.muxer.dualChannel) {
        for (int i = 0; i < n; ++i)
            simbytes::store<qint16>(dst + 2 * i, qint16(clampSample(first[i], 32768.0, -32768, 32767)));
        return;
    }
    second.resize(std::size_t(n));
    synthesise(m_frontEnd.muxer.channel1, startNs, 8, n, second.data());
    for (int i = 0; i < n; ++i) {
        dst[2 * i] = char(clampSample(first[i], 128.0, -128, 127));
        dst[2 * i + 1] = char(clampSample(second[i], 128.0, -128, 127));
    }
}

void SimSignalModel::fillWords(int group, qint64 startNs, int n, char *dst) const
{
    thread_local std::vector<float> analog;
    thread_local std::vector<quint8> bits;
    analog.resize(std::size_t(n));
    bits.assign(std::size_t(n), 0);
    const qint64 dtNs = samplePeriodNs(group);
    const int source = group == SimProtocol::GroupTestVoltage ? int(TestVoltageRaw) : Charge0 + (group - 2);
    synthesise(source, startNs, dtNs, n, analog.data());
    flagBits(group, startNs, dtNs, n, bits.data());
    // The analog value fills the upper 24 bits, the eight flags the lowest byte.
    for (int i = 0; i < n; ++i) {
        const qint64 value = clampSample(analog[i], 8388608.0, -8388608, 8388607);
        simbytes::store<quint32>(dst + 4 * i, (quint32(qint32(value)) << 8) | bits[i]);
    }
}

void SimSignalModel::flagBits(int group, qint64 startNs, qint64 dtNs, int n, quint8 *bits) const
{
    const qint64 endNs = startNs + n * dtNs;
    auto mark = [&](const QVector<Window> &windows, quint8 mask) {
        for (const Window &window : windows) {
            int first, last;
            overlapping(window.begin, window.end, startNs, dtNs, n, &first, &last);
            for (int i = first; i < last; ++i)
                bits[i] |= mask;
        }
    };

    if (group != SimProtocol::GroupCharge0) {
        // Digital inputs 0 to 7 on bits 0 to 7: unconditioned on the test voltage
        // group (100 kHz) and charge 2, after edge detection and hold time on charge 1.
        const bool filtered = group == SimProtocol::GroupCharge1;
        quint8 inverted = 0;
        for (int input = 0; input < 8; ++input) {
            mark(digitalInput(input, filtered, startNs, endNs), quint8(1u << input));
            if (m_frontEnd.digital[input].inversion)
                inverted |= quint8(1u << input);
        }
        for (int i = 0; i < n; ++i)
            bits[i] ^= inverted;
        return;
    }

    // Charge 0 carries the gates and the overflow flags: bits 0 and 1 digital
    // gating, 2 user gating, 3 system gating, 4 to 7 overflow of ADC 3 down to 0.
    for (int input = 0; input < 2; ++input) {
        if (m_frontEnd.gating[input].activation)
            mark(digitalInput(input, true, startNs, endNs), quint8(1u << input));
    }
    mark(gatingWindows(2, startNs, endNs), 0x04);
    mark(gatingWindows(3, startNs, endNs), 0x08);
    for (int adc = 0; adc < 3; ++adc)
        mark(overflowWindows(adc, startNs, endNs), quint8(0x80u >> adc));
    const double tvScale = gainLinear(SimParameterMemory::GainTestVoltage) / m_frontEnd.calibration;
    if (m_scenario.highestVoltage() * std::fabs(tvScale) < 1.0)
        return; // the test voltage cannot reach full scale with these settings
    for (int i = 0; i < n; ++i) {
        if (std::fabs(m_scenario.testVoltage(startNs + i * dtNs) * tvScale) >= 1.0)
            bits[i] |= 0x10;
    }
}

QVector<SimSignalModel::Window> SimSignalModel::digitalInput(int input, bool filtered, qint64 fromNs, qint64 toNs) const
{
    QVector<Window> windows;
    const qint64 width = inputPulseWidth(input);
    if (width == 0)
        return windows;
    const SimPayloads::DigitalChannel &channel = m_frontEnd.digital[input];
    const qint64 hold = qint64(channel.holdtime);
    qint64 offset = 0;
    qint64 length = width;
    if (filtered) {
        if (channel.positiveEdge) {
            length = qMax(width, hold);
        } else if (channel.negativeEdge) {
            offset = width;
            length = hold;
        } else {
            return windows;
        }
    }
    for (qint64 shot = m_scenario.nextShot(fromNs - offset - length); shot >= 0 && shot < toNs;
         shot = m_scenario.nextShot(shot + 1))
        windows.append({shot + offset, shot + offset + length});
    return windows;
}

QVector<SimSignalModel::Window> SimSignalModel::gatingWindows(int instance, qint64 fromNs, qint64 toNs) const
{
    QVector<Window> windows;
    const SimPayloads::Gating &gating = m_frontEnd.gating[instance];
    if (!gating.activation)
        return windows;
    const double scale = gatingScale(instance == 2);
    const qint64 hold = qint64(gating.holdtime);
    QVector<SimScenario::Disturbance> events;
    m_scenario.disturbances(fromNs - kLongestDisturbanceNs - hold, toNs, &events);
    for (const SimScenario::Disturbance &event : events) {
        if (qMin(1.0, event.amplitude * scale) > double(gating.level))
            windows.append({event.timeNs, event.timeNs + event.durationNs + hold});
    }
    return windows;
}

QVector<SimSignalModel::Window> SimSignalModel::overflowWindows(int adc, qint64 fromNs, qint64 toNs) const
{
    QVector<Window> windows;
    if (adc == 0) {
        const double perNc = voltsPerNc() * gainLinear(SimParameterMemory::GainPd);
        QVector<SimScenario::Pulse> pulses;
        m_scenario.pulses(fromNs - m_scenario.longestEchoNs() - kEcho.lengthNs, toNs, &pulses);
        for (const SimScenario::Pulse &pulse : pulses) {
            const double peak = std::fabs(pulse.chargeNc) * perNc;
            if (peak >= 1.0)
                windows.append({pulse.timeNs, pulse.timeNs + kDirect.lengthNs});
            if (peak * SimScenario::kEchoRatio >= 1.0)
                windows.append({pulse.timeNs + pulse.echoDelayNs, pulse.timeNs + pulse.echoDelayNs + kEcho.lengthNs});
        }
        return windows;
    }
    const double scale = gatingScale(adc == 1);
    QVector<SimScenario::Disturbance> events;
    m_scenario.disturbances(fromNs - kLongestDisturbanceNs, toNs, &events);
    for (const SimScenario::Disturbance &event : events) {
        if (event.amplitude * scale >= 1.0)
            windows.append({event.timeNs, event.timeNs + event.durationNs});
    }
    return windows;
}

qint64 SimSignalModel::nextTrigger(quint32 source, float level, qint64 fromNs, qint64 toNs) const
{
    toNs = qMin(toNs, fromNs + m_scenario.cycleNs());
    if (toNs <= fromNs)
        return -1;
    // What the trigger comparator sees: the value at the ADC, clipped at full scale.
    auto exceeds = [level](double atAdc) { return qMin(1.0, std::fabs(atAdc)) > double(level); };

    switch (source) {
    case TriggerSoftware:
        return fromNs;
    case TriggerExternal0:
    case TriggerDigitalGating0:
    case TestVoltageRaw: {
        const qint64 shot = m_scenario.nextShot(fromNs);
        return shot >= 0 && shot < toNs ? shot : -1;
    }
    case TriggerExternal1:
    case TriggerDigitalGating1:
        return -1;
    case UserGatingRaw:
    case UserGatingFiltered:
    case SystemGatingRaw:
    case SystemGatingFiltered: {
        const double scale = gatingScale(source == UserGatingRaw || source == UserGatingFiltered);
        QVector<SimScenario::Disturbance> events;
        m_scenario.disturbances(fromNs, toNs, &events);
        for (const SimScenario::Disturbance &event : events) {
            if (exceeds(event.amplitude * scale))
                return event.timeNs;
        }
        return -1;
    }
    default:
        break;
    }
    if (source > 15)
        return -1;
    double perNc = voltsPerNc() * gainLinear(SimParameterMemory::GainPd);
    if (source >= Charge0)
        perNc *= kCrosstalk[(source - Charge0) % 3];
    QVector<SimScenario::Pulse> pulses;
    m_scenario.pulses(fromNs, toNs, &pulses);
    for (const SimScenario::Pulse &pulse : pulses) {
        if (exceeds(pulse.chargeNc * perNc))
            return pulse.timeNs;
    }
    return -1;
}

SimSignalModel::Statistics SimSignalModel::pdStatistics(qint64 startNs, int n) const
{
    Statistics statistics;
    if (n <= 0)
        return statistics;
    std::vector<float> values(static_cast<std::size_t>(n));
    synthesise(PdRaw, startNs, 8, n, values.data());
    double sum = 0, squares = 0;
    statistics.minimum = statistics.maximum = float(clampSample(values[0], 32768.0, -32768, 32767) / 32768.0);
    for (float value : values) {
        // As the ADC reports it: quantised and clipped.
        const float sample = float(clampSample(value, 32768.0, -32768, 32767) / 32768.0);
        statistics.minimum = qMin(statistics.minimum, sample);
        statistics.maximum = qMax(statistics.maximum, sample);
        sum += sample;
        squares += double(sample) * sample;
    }
    statistics.mean = float(sum / n);
    statistics.rms = float(std::sqrt(squares / n));
    return statistics;
}
