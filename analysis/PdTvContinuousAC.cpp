#include "PdTvContinuousAC.h"

#include "SignalPrimitives.h"

#include <algorithm>
#include <cmath>
#include <limits>

PdTvContinuousAC::Envelope::Envelope()
    : top(-std::numeric_limits<float>::infinity())
    , bottom(std::numeric_limits<float>::infinity())
    , held(-std::numeric_limits<float>::infinity())
{
}

float PdTvContinuousAC::Envelope::running() const
{
    return (top - bottom) / 2.0f;
}

void PdTvContinuousAC::Envelope::track(float v, float threshold)
{
    armed = armed || v < -threshold;
    top = std::max(top, v);
    bottom = std::min(bottom, v);
    if (v > 0.0f && previous <= 0.0f && armed) {
        held = running();
        top = -std::numeric_limits<float>::infinity();
        bottom = std::numeric_limits<float>::infinity();
        armed = false;
        seenTwo = seenOne;
        seenOne = true;
    }
    previous = v;
}

PdTvContinuousAC::Phase::Phase()
    : phase(std::numeric_limits<double>::quiet_NaN())
    , step(std::numeric_limits<double>::quiet_NaN())
{
}

int PdTvContinuousAC::reset()
{
    m_primed = false;
    m_envelope = Envelope();
    m_amplitudeEnvelope = Envelope();
    m_phase = Phase();
    return PdTestvoltage::reset();
}

int PdTvContinuousAC::process(const float *src, float *dst, int n)
{
    clearResults();
    const double rate = parameter(SampleRate);
    setResult(Delay, kFilterDelay / rate);
    if (!src || !dst || n < 1)
        return dsp::BadArgument;
    if (mode() != ModeCondition)
        return dsp::copy(src, dst, n);
    if (!parametersValid())
        return dsp::Failed;

    dsp::multiplyConstant(src, static_cast<float>(parameter(ScaleFactor)), dst, n);
    dsp::subtractConstant(dst, static_cast<float>(parameter(AmplitudeOffset)), dst, n);
    if (!m_primed) {
        smoothingFilter().fillDelayLine(dst[0]);
        m_primed = true;
    }
    smoothingFilter().apply(dst, dst, n);

    const float threshold = static_cast<float>(parameter(DetectionThreshold));
    for (int i = 0; i < n; ++i)
        m_envelope.track(dst[i], threshold);
    setResult(Amplitude, m_envelope.held);

    const double timeShift = rate * parameter(TimeOffset);
    const double phaseOffset = parameter(PhaseOffset);
    bool firstInBlock = true;
    Phase &p = m_phase;
    for (int i = 0; i < n; ++i) {
        const float v = dst[i];
        p.armed = p.armed || v < -threshold;
        if (v > 0.0f && p.previous <= 0.0f && p.armed) {
            p.armed = false;
            // The crossing lies this fraction of a sample before sample i.
            const double fraction = crossingFraction(p.previous, v, 0.0);
            if (firstInBlock)
                setResult(FirstZeroCrossing, (i - fraction) / rate);
            firstInBlock = false;
            if (p.seen) {
                p.step = 2.0 * kPi / (p.counter - fraction);
                p.phase = p.step * fraction + p.step * timeShift + phaseOffset;
            }
            p.counter = fraction;
            p.seen = true;
        }
        dst[i] = static_cast<float>(p.phase);
        p.counter += 1.0;
        p.phase += p.step;
        p.previous = v;
    }
    setResult(Frequency, p.step * rate / (2.0 * kPi));
    return dsp::Ok;
}

int PdTvContinuousAC::currentAmplitude(const float *src, float *dst, int n)
{
    if (!src || !dst || n < 1)
        return dsp::BadArgument;
    const float threshold = static_cast<float>(parameter(DetectionThreshold));
    Envelope &e = m_amplitudeEnvelope;
    for (int i = 0; i < n; ++i) {
        // Read before the write: src may be dst.
        e.track(src[i], threshold);
        dst[i] = e.seenTwo ? std::max(e.running(), e.held) : 0.0f;
    }
    return dsp::Ok;
}
