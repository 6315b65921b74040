#include "PdTvDAC.h"

#include "SignalPrimitives.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool validFrequency(double f)
{
    return f > 0.0 && std::isfinite(f);
}

} // namespace

double PdTvDAC::fallingZero(const float *r, int from, int count)
{
    for (int i = std::max(from, 1); i < count; ++i)
        if (r[i - 1] >= 0.0f && r[i] < 0.0f)
            return crossingPosition(i, r[i - 1], r[i], 0.0);
    return -1.0;
}

PdTvDAC::PdTvDAC()
{
    float taps[kSlopeTaps];
    slopeTaps(taps);
    m_slope.setTaps(taps, kSlopeTaps);
}

void PdTvDAC::slopeTaps(float *taps)
{
    for (int k = 0; k < kSlopeTaps; ++k)
        taps[k] = static_cast<float>(std::round((k - 49) / 80850.0 * 1e8) / 1e8);
}

int PdTvDAC::process(const float *src, float *dst, int n)
{
    clearResults();
    setResult(Delay, 0.0);
    if (!parametersValid())
        return dsp::Failed;
    if (!src || !dst || n < 1)
        return dsp::BadArgument;

    double frequency = kNaN;
    double attenuation = kNaN;
    const int status = estimate(src, n, &frequency, &attenuation);
    setResult(Frequency, frequency);
    setResult(Attenuation, attenuation);

    if (mode() == ModeCondition) {
        dsp::multiplyConstant(src, static_cast<float>(parameter(ScaleFactor)), dst, n);
        smoothZeroPhase(dst, n);
        centre(dst, n, frequency);
    } else {
        dsp::copy(src, dst, n);
    }
    float amplitude = 0.0f;
    dsp::peak(dst, n, &amplitude);
    setResult(Amplitude, amplitude);
    setResonanceResults(frequency, attenuation);
    return status;
}

void PdTvDAC::centre(float *dst, int n, double frequency)
{
    // The mean over the last period is the offset the oscillation decays to. A
    // frequency that gives no period of at least one sample (a failed estimate)
    // leaves one sample.
    const double period = std::floor(parameter(SampleRate) / frequency + 0.5);
    const int p = period >= 1.0 ? static_cast<int>(std::min<double>(period, n)) : 1;
    float offset = 0.0f;
    dsp::mean(dst + n - p, p, &offset);
    dsp::subtractConstant(dst, offset, dst, n);

    // A shot starts with its largest half-wave. If the first sample's side is
    // not the larger one, the offset above was off: centre between the extremes.
    float top = 0.0f;
    float bottom = 0.0f;
    dsp::maximum(dst, n, &top);
    dsp::minimum(dst, n, &bottom);
    const bool startsNegative = dst[0] < 0.0f;
    if ((startsNegative && std::fabs(top) > std::fabs(bottom)) || (!startsNegative && std::fabs(bottom) > std::fabs(top)))
        dsp::subtractConstant(dst, (top + bottom) / 2.0f, dst, n);
}

int PdTvDAC::estimate(const float *src, int n, double *frequency, double *attenuation)
{
    if (n < kMinimumSamples)
        return dsp::BadArgument;
    *frequency = -1.0;
    *attenuation = -1.0;
    const double rate = parameter(SampleRate);

    // The first kSlopeTaps outputs are the filter filling up.
    const int count = n - kSlopeTaps;
    const int lags = count / 2;
    float *slope = scratch(n + std::max(lags, 1));
    if (!slope)
        return dsp::NoMemory;
    m_slope.fillDelayLine(0.0f);
    m_slope.apply(src, slope, n);
    const float *y = slope + kSlopeTaps;
    float *r = slope + n;

    if (count <= std::ceil(rate * 0.001))
        return dsp::Failed;
    const int status = dsp::autoCorrelation(y, count, r, lags, dsp::AutoCorrUnbiased);
    if (status != dsp::Ok)
        return status;

    // x0 is a quarter period in; the maximum after it is the first full period
    // (or, for an undamped voltage whose later periods correlate as well, the
    // first lag that comes close to lag 0); x1 follows it a quarter period on.
    const double x0 = fallingZero(r, 1, lags);
    const int start = static_cast<int>(std::ceil(x0)) + 1;
    if (start >= lags)
        return dsp::Failed;
    float top = 0.0f;
    int k = 0;
    dsp::maximumIndex(r + start, lags - start, &top, &k);
    k += start;
    if (!(top > 0.0f) || !std::isfinite(top))
        return dsp::Failed;
    if (r[0] / top > 0.8f) {
        for (int i = start; i < lags; ++i)
            if (r[i] > 0.8f * r[0]) {
                k = i;
                break;
            }
    }
    // Without x1 the record is too short to measure a period: the lags end
    // before x1 when it holds less than about three periods, and a period
    // taken from x0 and k alone comes out a third to half a period short (a
    // frequency 45 to 100 % too high). No frequency is better than that one.
    const double x1 = fallingZero(r, k + 1, lags);
    if (x1 < 0.0)
        return dsp::Failed;
    *frequency = rate / (x1 - x0);

    const double period = std::floor(rate / *frequency + 0.5);
    if (!(period >= 1.0) || period > count)
        return dsp::Failed;
    const int p = static_cast<int>(period);
    float largest = 0.0f;
    dsp::peak(y, count, &largest);
    int j = 0;
    while (j < count && std::fabs(y[j]) != largest)
        ++j;
    if (count - j <= 2 * p)
        return dsp::Failed;
    double first = 0.0;
    double second = 0.0;
    for (int i = 0; i < p; ++i) {
        first += static_cast<double>(y[j + i]) * y[j + i];
        second += static_cast<double>(y[j + p + i]) * y[j + p + i];
    }
    *attenuation = std::log(first / second) * 0.5 * rate / p;
    return dsp::Ok;
}

int PdTvDAC::currentAmplitude(const float *src, float *dst, int n)
{
    if (!src || !dst || n < 1)
        return dsp::BadArgument;

    const double stored = result(Frequency);
    bool flat = false;
    if (parametersValid() && (stored <= 0.0 || std::isinf(stored))) {
        double frequency = kNaN;
        double attenuation = kNaN;
        estimate(src, n, &frequency, &attenuation);
        float low = 0.0f;
        float high = 0.0f;
        int lowIndex = 0;
        int highIndex = 0;
        dsp::minMaxIndex(src, n, &low, &lowIndex, &high, &highIndex);
        flat = high > 0.0f && std::min(lowIndex, highIndex) < n / 3 && std::max(lowIndex, highIndex) > 2 * n / 3
               && !validFrequency(frequency);
    }
    if (flat) {
        float value = 0.0f;
        dsp::peak(src, n, &value);
        std::fill(dst, dst + n, value);
        return dsp::Ok;
    }

    // Local maxima of |src| joined by straight lines, starting from the first
    // sample and holding the last maximum to the end. Reads run one sample
    // ahead of the writes, so src may be dst.
    float previous = std::fabs(src[0]);
    int anchor = 0;
    double anchorValue = previous;
    dst[0] = previous;
    for (int i = 1; i < n; ++i) {
        const float current = std::fabs(src[i]);
        const float next = i + 1 < n ? std::fabs(src[i + 1]) : -std::numeric_limits<float>::infinity();
        if (current > previous && current >= next) {
            const double step = (current - anchorValue) / (i - anchor);
            for (int j = anchor + 1; j <= i; ++j)
                dst[j] = static_cast<float>(anchorValue + step * (j - anchor));
            anchor = i;
            anchorValue = current;
        }
        previous = current;
    }
    std::fill(dst + anchor + 1, dst + n, static_cast<float>(anchorValue));
    return dsp::Ok;
}
