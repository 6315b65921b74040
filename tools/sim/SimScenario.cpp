#include "SimScenario.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kMs = 1000000;
constexpr qint64 kSecond = 1000 * kMs;
constexpr double kTwoPi = 6.283185307179586;

struct Names
{
    SimScenario::Kind kind;
    const char *name;
};
const Names kNames[] = {
    {SimScenario::DampedAc, "dac"},
    {SimScenario::CosineRectangular, "cr"},
    {SimScenario::VlfSine, "vlf"},
    {SimScenario::Noise, "noise"},
};

// Floor division for times before the first cycle as well.
qint64 cycleIndex(qint64 timeNs, qint64 cycle)
{
    return timeNs >= 0 ? timeNs / cycle : -((-timeNs + cycle - 1) / cycle);
}

} // namespace

SimScenario::SimScenario(Kind kind, const SimTestObject &testObject)
    : m_kind(kind)
    , m_testObject(testObject)
{
}

void SimScenario::setStepOrigin(qint64 timeNs)
{
    m_originCycle = cycleIndex(timeNs, cycleNs());
}

qint64 SimScenario::amplitudeCycle(qint64 cycle) const
{
    const QVector<double> &steps = m_testObject.voltageStepsVolts;
    if (steps.isEmpty())
        return -1;
    const qint64 n = steps.size();
    return ((cycle - m_originCycle) % n + n) % n;
}

qint64 SimScenario::longestEchoNs() const
{
    return qint64(std::ceil(2000.0 * m_testObject.cableLengthMetres / m_testObject.velocityMetresPerMicrosecond));
}

double SimScenario::highestVoltage() const
{
    const QVector<double> &steps = m_testObject.voltageStepsVolts;
    return steps.isEmpty() ? kAmplitudeVolts : *std::max_element(steps.begin(), steps.end());
}

double SimScenario::cycleVoltage(qint64 timeNs) const
{
    const qint64 step = amplitudeCycle(cycleIndex(timeNs, cycleNs()));
    return step < 0 ? kAmplitudeVolts : m_testObject.voltageStepsVolts.at(int(step));
}

QString SimScenario::name(Kind kind)
{
    for (const Names &entry : kNames) {
        if (entry.kind == kind)
            return QString::fromLatin1(entry.name);
    }
    return QString();
}

bool SimScenario::fromName(const QString &name, Kind *kind)
{
    for (const Names &entry : kNames) {
        if (name == QLatin1String(entry.name)) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}

QStringList SimScenario::names()
{
    QStringList list;
    for (const Names &entry : kNames)
        list.append(QString::fromLatin1(entry.name));
    return list;
}

qint64 SimScenario::cycleNs() const
{
    switch (m_kind) {
    case CosineRectangular:
    case VlfSine:
        return 10 * kSecond;
    case DampedAc:
    case Noise:
        break;
    }
    return kSecond;
}

double SimScenario::testVoltage(qint64 timeNs) const
{
    const qint64 cycle = cycleNs();
    const double t = double(timeNs - cycleIndex(timeNs, cycle) * cycle) * 1e-9; // seconds into the cycle
    const double u0 = cycleVoltage(timeNs);
    switch (m_kind) {
    case DampedAc: {
        // The shot discharges the charged cable through the coil; the set then
        // recharges it to the next cycle's voltage for the next shot.
        if (t < 0.6)
            return u0 * std::exp(-kDacAttenuationPerSecond * t) * std::cos(kTwoPi * kDacFrequencyHz * t);
        const double next = cycleVoltage(timeNs + cycle);
        if (t < 0.9)
            return next * (t - 0.6) / 0.3;
        return next;
    }
    case CosineRectangular: {
        // Flat plateaus joined by half a cosine at each reversal.
        const double transition = 0.5 / kReversalFrequencyHz;
        const double half = 0.5 / kVlfFrequencyHz;
        if (t < transition)
            return -u0 * std::cos(kTwoPi * kReversalFrequencyHz * t);
        if (t < half)
            return u0;
        if (t < half + transition)
            return u0 * std::cos(kTwoPi * kReversalFrequencyHz * (t - half));
        return -u0;
    }
    case VlfSine:
        return u0 * std::sin(kTwoPi * kVlfFrequencyHz * t);
    case Noise:
        break;
    }
    return 0.0;
}

const QVector<SimScenario::Event> &SimScenario::pulseTable() const
{
    // DAC: discharges at the first three peaks while the voltage is above the
    // inception level (half the shot voltage), with the sign of the voltage.
    static const QVector<Event> dac{{10 * kMs, -1.0, 0}, {20 * kMs, 1.0, 0}, {30 * kMs, -1.0, 0}};
    // CR: discharges during the steep part of each reversal, with the sign of the slope.
    static const QVector<Event> cr{{3 * kMs, 1.0, 0},           {5 * kMs, 1.0, 0},
                                   {7 * kMs, 1.0, 0},           {5 * kSecond + 3 * kMs, -1.0, 0},
                                   {5 * kSecond + 5 * kMs, -1.0, 0}, {5 * kSecond + 7 * kMs, -1.0, 0}};
    // VLF: bursts around the crests.
    static const QVector<Event> vlf{{2300 * kMs, 1.0, 0}, {2500 * kMs, 1.0, 0}, {2700 * kMs, 1.0, 0},
                                    {7300 * kMs, -1.0, 0}, {7500 * kMs, -1.0, 0}, {7700 * kMs, -1.0, 0}};
    // Noise: interference spikes that look like small discharges.
    static const QVector<Event> noise{{100 * kMs, 0.05, 0}, {350 * kMs, -0.05, 0},
                                      {600 * kMs, 0.05, 0}, {850 * kMs, -0.05, 0}};
    switch (m_kind) {
    case CosineRectangular:
        return cr;
    case VlfSine:
        return vlf;
    case Noise:
        return noise;
    case DampedAc:
        break;
    }
    return dac;
}

const QVector<SimScenario::Event> &SimScenario::disturbanceTable() const
{
    // Switching the HV source disturbs the gating inputs for 50 us: twice the
    // input's nominal range, so that with the host's -16 dB and a level of
    // 0.1585 the system gate opens.
    static const QVector<Event> dac{{0, 2.0, 50000}};
    static const QVector<Event> cr{{0, 2.0, 50000}, {5 * kSecond, 2.0, 50000}};
    static const QVector<Event> none;
    static const QVector<Event> noise{{100 * kMs, 1.5, 2000}, {350 * kMs, 1.5, 2000},
                                      {600 * kMs, 1.5, 2000}, {850 * kMs, 1.5, 2000}};
    switch (m_kind) {
    case DampedAc:
        return dac;
    case CosineRectangular:
        return cr;
    case Noise:
        return noise;
    case VlfSine:
        break;
    }
    return none;
}

const QVector<qint64> &SimScenario::shotTable() const
{
    static const QVector<qint64> once{0};
    static const QVector<qint64> twice{0, 5 * kSecond};
    static const QVector<qint64> never;
    switch (m_kind) {
    case DampedAc:
    case VlfSine:
        return once;
    case CosineRectangular:
        return twice;
    case Noise:
        break;
    }
    return never;
}

template<typename Out, typename Make>
void SimScenario::collect(const QVector<Event> &table, qint64 fromNs, qint64 toNs, QVector<Out> *out, Make make) const
{
    if (table.isEmpty() || toNs <= fromNs)
        return;
    const qint64 cycle = cycleNs();
    for (qint64 k = cycleIndex(fromNs, cycle); k * cycle < toNs; ++k) {
        for (const Event &event : table) {
            const qint64 time = k * cycle + event.offsetNs;
            if (time >= fromNs && time < toNs)
                out->append(make(time, event));
        }
    }
}

void SimScenario::pulses(qint64 fromNs, qint64 toNs, QVector<Pulse> *out) const
{
    // Each site discharges at the scenario's discharge times of every cycle
    // whose voltage reaches its inception voltage. The direct pulse travels x
    // to the sensor, the echo 2L - x by way of the far end.
    const double nsPerMetre = 1000.0 / m_testObject.velocityMetresPerMicrosecond;
    const qint64 longest = qint64(std::ceil(m_testObject.cableLengthMetres * nsPerMetre));
    QVector<Pulse> discharges;
    collect(pulseTable(), fromNs - longest, toNs, &discharges, [](qint64 time, const Event &event) {
        return Pulse{time, event.value, 0};
    });
    const int first = out->size();
    for (const Pulse &discharge : discharges) {
        const double voltage = cycleVoltage(discharge.timeNs);
        for (const SimPdSite &site : m_testObject.sites) {
            if (voltage < site.inceptionVolts)
                continue;
            const qint64 arrival = discharge.timeNs + qint64(std::llround(site.positionMetres * nsPerMetre));
            if (arrival < fromNs || arrival >= toNs)
                continue;
            const qint64 echo = qint64(
                std::llround(2.0 * (m_testObject.cableLengthMetres - site.positionMetres) * nsPerMetre));
            out->append(Pulse{arrival, discharge.chargeNc * site.chargeNc, echo});
        }
    }
    std::stable_sort(out->begin() + first, out->end(),
                     [](const Pulse &a, const Pulse &b) { return a.timeNs < b.timeNs; });
}

void SimScenario::disturbances(qint64 fromNs, qint64 toNs, QVector<Disturbance> *out) const
{
    collect(disturbanceTable(), fromNs, toNs, out, [](qint64 time, const Event &event) {
        return Disturbance{time, event.durationNs, event.value};
    });
}

qint64 SimScenario::nextShot(qint64 atNs) const
{
    const QVector<qint64> &shots = shotTable();
    if (shots.isEmpty())
        return -1;
    const qint64 cycle = cycleNs();
    for (qint64 k = cycleIndex(atNs, cycle);; ++k) {
        for (qint64 offset : shots) {
            if (k * cycle + offset >= atNs)
                return k * cycle + offset;
        }
    }
}
