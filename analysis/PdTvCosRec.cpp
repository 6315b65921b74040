#include "PdTvCosRec.h"

#include "SignalPrimitives.h"

#include <algorithm>
#include <cmath>
#include <limits>

PdTvCosRec::PdTvCosRec()
{
    m_average.setMovingAverage(kAverageLength, 1.0f);
}

double PdTvCosRec::levelCrossing(const float *x, int n, double level)
{
    for (int i = 1; i < n; ++i)
        if ((x[i] > level) != (x[i - 1] > level))
            return crossingPosition(i, x[i - 1], x[i], level);
    return -1.0;
}

int PdTvCosRec::process(const float *src, float *dst, int n)
{
    clearResults();
    setResult(Delay, 0.0);
    if (!parametersValid())
        return dsp::Failed;
    if (!src || !dst || n < 1)
        return dsp::BadArgument;

    double amplitude = kNaN;
    if (mode() == ModeCondition) {
        dsp::multiplyConstant(src, static_cast<float>(parameter(ScaleFactor)), dst, n);
        if (n > kMinimumSamples) {
            float *average = scratch(n);
            if (!average)
                return dsp::NoMemory;
            m_average.fillDelayLine(0.0f);
            m_average.apply(dst, average, n);
            // Skip the samples the average needs to fill up.
            const int settled = kAverageLength + 1;
            float top = 0.0f;
            float bottom = 0.0f;
            dsp::maximum(average + settled, n - settled, &top);
            dsp::minimum(average + settled, n - settled, &bottom);
            amplitude = (static_cast<double>(top) - bottom) / 2.0;
            dsp::subtractConstant(dst, static_cast<float>(top - amplitude), dst, n);
            smoothZeroPhase(dst, n);
        }
    } else {
        dsp::copy(src, dst, n);
    }
    setResult(Amplitude, amplitude);

    double frequency = kNaN;
    if (amplitude > 0.0 && std::isfinite(amplitude)) {
        const double level = dst[0] < 0.0f ? -amplitude / 2.0 : amplitude / 2.0;
        const double c1 = levelCrossing(dst, n, level);
        if (c1 >= 1.0) {
            const int k = static_cast<int>(std::ceil(c1));
            const double c2 = levelCrossing(dst + k, n - k, -level);
            if (c2 >= 1.0)
                frequency = std::asin(std::fabs(level) / amplitude)
                            / (kPi * (k + c2 - c1) / parameter(SampleRate));
        }
    }
    setResult(Frequency, frequency);
    setResult(Attenuation, 0.0);
    setResonanceResults(frequency, 0.0);
    return dsp::Ok;
}

int PdTvCosRec::currentAmplitude(const float *src, float *dst, int n)
{
    if (!dst || n < 1)
        return dsp::BadArgument;
    if (!src) {
        std::fill(dst, dst + n, std::numeric_limits<float>::quiet_NaN());
        return dsp::BadArgument;
    }
    double amplitude = result(Amplitude);
    if (!(amplitude > 0.0) || !std::isfinite(amplitude)) {
        float value = 0.0f;
        dsp::peak(src, n, &value);
        amplitude = value;
    }
    std::fill(dst, dst + n, static_cast<float>(amplitude));
    return dsp::Ok;
}
