#include "PdTestvoltage.h"

#include "SignalPrimitives.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

bool validResult(int id, double value)
{
    if (!std::isfinite(value))
        return false;
    switch (id) {
    case InterfacePdTestvoltage::Frequency:
    case InterfacePdTestvoltage::Amplitude:
        return value > 0.0;
    case InterfacePdTestvoltage::D3:
    case InterfacePdTestvoltage::D4:
    case InterfacePdTestvoltage::Attenuation:
        return value >= 0.0;
    default:
        return true;
    }
}

bool acceptedParameter(int id, double value)
{
    if (!std::isfinite(value))
        return false;
    switch (id) {
    case InterfacePdTestvoltage::SampleRate:
    case InterfacePdTestvoltage::ResonanceA:
        return value > 0.0;
    case InterfacePdTestvoltage::ResonanceB:
    case InterfacePdTestvoltage::ResonanceC:
        return value >= 0.0;
    default:
        return true;
    }
}

bool knownParameter(int id)
{
    return id >= 1 && id <= InterfacePdTestvoltage::kParameterCount;
}

} // namespace

PdTestvoltage::PdTestvoltage()
{
    m_parameters[SampleRate] = 100000.0;
    m_parameters[ScaleFactor] = 1.0;
    clearResults();
    float taps[kSmoothingTaps];
    smoothingTaps(taps);
    m_smoothing.setTaps(taps, kSmoothingTaps);
}

void PdTestvoltage::smoothingTaps(float *taps)
{
    for (int j = -kFilterDelay; j <= kFilterDelay; ++j) {
        const double w = 3.0 * (1949.0 - 5.0 * j * j) / 132447.0;
        taps[j + kFilterDelay] = static_cast<float>(std::round(w * 1e6) / 1e6);
    }
}

int PdTestvoltage::setMode(int mode)
{
    if (mode != ModeCopy && mode != ModeCondition)
        return dsp::BadArgument;
    m_mode = mode;
    return dsp::Ok;
}

int PdTestvoltage::getMode(int *mode) const
{
    if (!mode)
        return dsp::BadArgument;
    *mode = m_mode;
    return dsp::Ok;
}

int PdTestvoltage::setParameter(int id, double value)
{
    if (!knownParameter(id) || !acceptedParameter(id, value))
        return dsp::BadArgument;
    m_parameters[id] = value;
    return dsp::Ok;
}

int PdTestvoltage::getParameter(int id, double *value) const
{
    if (!value)
        return dsp::BadArgument;
    if (!knownParameter(id)) {
        *value = 0.0;
        return dsp::BadArgument;
    }
    *value = m_parameters[id];
    return dsp::Ok;
}

int PdTestvoltage::getResult(int id, double *value) const
{
    if (!value)
        return dsp::BadArgument;
    if (id < 1 || id > kResultCount) {
        *value = PdTestvoltage::kNaN;
        return dsp::BadArgument;
    }
    *value = m_results[id];
    return validResult(id, *value) ? dsp::Ok : dsp::Failed;
}

int PdTestvoltage::reset()
{
    clearResults();
    return dsp::Ok;
}

bool PdTestvoltage::parametersValid() const
{
    if (!(m_parameters[SampleRate] > 0.0) || !std::isfinite(m_parameters[SampleRate]))
        return false;
    for (int id = ScaleFactor; id <= AmplitudeOffset; ++id)
        if (!std::isfinite(m_parameters[id]))
            return false;
    return true;
}

void PdTestvoltage::clearResults()
{
    std::fill(std::begin(m_results), std::end(m_results), kNaN);
}

void PdTestvoltage::setResonanceResults(double frequency, double attenuation)
{
    const double a = m_parameters[ResonanceA];
    const double b = m_parameters[ResonanceB];
    const double c = m_parameters[ResonanceC];
    m_results[D3] = kNaN;
    m_results[D4] = kNaN;
    if (!std::isfinite(frequency) || !std::isfinite(attenuation) || !std::isfinite(a) || !std::isfinite(b)
        || !std::isfinite(c))
        return;
    const double omega = 2.0 * kPi * frequency;
    const double d3 = std::max(0.0, 1.0 / (a * (omega * omega + attenuation * attenuation)) - b);
    m_results[D3] = d3;
    if (std::isfinite(d3))
        m_results[D4] = std::max(0.0, (2.0 * std::max(attenuation, 0.0) * a - c) / (a * omega));
}

void PdTestvoltage::smoothZeroPhase(float *x, int n)
{
    const float last = x[n - 1];
    m_smoothing.fillDelayLine(x[0]);
    m_smoothing.apply(x, x, n);
    float hold[kFilterDelay];
    float tail[kFilterDelay];
    std::fill(hold, hold + kFilterDelay, last);
    m_smoothing.apply(hold, tail, kFilterDelay);
    // Output i + kFilterDelay belongs to input i.
    if (n > kFilterDelay)
        std::memmove(x, x + kFilterDelay, static_cast<std::size_t>(n - kFilterDelay) * sizeof(float));
    for (int i = std::max(0, n - kFilterDelay); i < n; ++i)
        x[i] = tail[i + kFilterDelay - n];
}

double PdTestvoltage::crossingFraction(double previous, double current, double level)
{
    return (current - level) / (current - previous);
}

double PdTestvoltage::crossingPosition(int i, double previous, double current, double level)
{
    return i - crossingFraction(previous, current, level);
}

float *PdTestvoltage::scratch(int n)
{
    return m_scratch.reserve(n) ? m_scratch.data() : nullptr;
}
