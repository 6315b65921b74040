#include "PdLocFilter.h"

#include "PdLocFilter_p.h"
#include "SignalPrimitives.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Samples at the start of a block whose mean is taken as its offset: before
// the pulse, which the trigger places later in the block.
constexpr int kOffsetSamples = 50;
// median(|x|) of Gaussian noise is 0.6745 sigma.
constexpr float kMedianToSigma = 0.6745f;

// alpha = s2 / (s1 + s2) of two noise powers; an infinite one becomes 1, and
// NaN (both zero) is left for the caller to refuse.
double noiseWeight(double blockNoise, double averageNoise)
{
    const double alpha = averageNoise * averageNoise / (blockNoise * blockNoise + averageNoise * averageNoise);
    return std::isinf(alpha) ? 1.0 : alpha;
}

} // namespace

PdLocFilter::PdLocFilter(float f1, float f2, float fs)
    : d(new (std::nothrow) PdLocFilterPrivate)
{
    design(f1, f2, fs, 1.0f);
}

PdLocFilter::~PdLocFilter() = default;

int PdLocFilter::design(float f1, float f2, float fs, float gain)
{
    if (!d)
        return dsp::NoMemory;
    // Whatever happens below, the old band-pass is gone: filtering on with
    // corners nobody asks for any more would hide the refusal.
    d->bandPass = IirFilter();
    if (!(f1 > 0.0f) || !(f2 > 0.0f) || !(fs > 0.0f) || !std::isfinite(f1) || !std::isfinite(f2)
        || !std::isfinite(fs) || !std::isfinite(gain) || !(f1 < f2) || !(f2 < fs))
        return dsp::BadArgument;
    d->gain = gain;
    int status = d->highPass.design(IirFilter::HighPass, static_cast<double>(f1) / fs, 1);
    if (status == dsp::Ok)
        status = d->lowPass.design(IirFilter::LowPass, static_cast<double>(f2) / fs, 1);
    if (status != dsp::Ok)
        return status;

    // The product of the two first-order transfer functions
    // (b0 + b1 z^-1) / (1 + a1 z^-1) as one second-order section.
    float h[4];
    float l[4];
    d->highPass.taps(h, 4);
    d->lowPass.taps(l, 4);
    const double hb0 = h[0] / h[2], hb1 = h[1] / h[2], ha1 = h[3] / h[2];
    const double lb0 = l[0] / l[2], lb1 = l[1] / l[2], la1 = l[3] / l[2];
    const float section[6] = {
        static_cast<float>(hb0 * lb0),
        static_cast<float>(hb0 * lb1 + hb1 * lb0),
        static_cast<float>(hb1 * lb1),
        1.0f,
        static_cast<float>(ha1 + la1),
        static_cast<float>(ha1 * la1),
    };
    return d->bandPass.setBiquads(section, 1);
}

int PdLocFilter::filter(const float *src, float *dst, int n)
{
    if (!src || !dst || n < 1)
        return dsp::BadArgument;
    if (!d || !d->bandPass.isReady())
        return dsp::NoMemory;
    float offset = 0.0f;
    dsp::mean(src, std::min(n, kOffsetSamples), &offset);
    dsp::subtractConstant(src, offset, dst, n);
    d->bandPass.apply(dst, dst, n);
    if (d->gain != 1.0f)
        dsp::multiplyConstant(dst, d->gain, dst, n);
    return dsp::Ok;
}

int PdLocFilter::resetAverage()
{
    if (!d)
        return dsp::NoMemory;
    d->average.release();
    d->averageSamples = 0;
    d->averageNoise = 0.0f;
    return dsp::Ok;
}

int PdLocFilter::blend(const float *x, const float *a, float *dst, int n, float alpha)
{
    if (!x || !a || !dst || n < 1 || !std::isfinite(alpha))
        return dsp::BadArgument;
    const float keep = 1.0f - alpha;
    for (int i = 0; i < n; ++i)
        dst[i] = a[i] * keep + x[i] * alpha;
    return dsp::Ok;
}

int PdLocFilter::weightedAverage(const float *x, const float *a, float *dst, int n)
{
    if (!x || !a || !dst || n < 1)
        return dsp::BadArgument;
    float sx = 0.0f;
    float sa = 0.0f;
    dsp::medianAbs(x, n, &sx);
    dsp::medianAbs(a, n, &sa);
    return blend(x, a, dst, n, static_cast<float>(noiseWeight(sx, sa)));
}

int PdLocFilter::noise(const float *x, int n, float *sigma)
{
    const int status = dsp::medianAbs(x, n, sigma);
    if (status == dsp::Ok)
        *sigma /= kMedianToSigma;
    return status;
}

int PdLocFilter::process(const float *src, float *dst, int n)
{
    if (!src || !dst || n < 1)
        return dsp::BadArgument;
    if (!d)
        return dsp::NoMemory;
    float sigma = 0.0f;
    noise(src, n, &sigma);
    const double alpha = noiseWeight(sigma, d->averageNoise);
    if (!std::isfinite(alpha))
        return dsp::BadArgument;

    if (d->averageSamples == 0) {
        if (!d->average.reserve(n))
            return dsp::NoMemory;
        d->averageSamples = n;
        dsp::copy(src, d->average.data(), n);
        dsp::copy(src, dst, n);
    } else {
        if (n != d->averageSamples)
            return dsp::BadArgument;
        blend(src, d->average.data(), dst, n, static_cast<float>(alpha));
        dsp::copy(dst, d->average.data(), n);
    }
    noise(dst, n, &d->averageNoise);
    return dsp::Ok;
}

int PdLocFilter::average(float *dst, int n) const
{
    if (!d || d->averageSamples == 0)
        return dsp::NoMemory;
    if (!dst || n != d->averageSamples)
        return dsp::BadArgument;
    return dsp::copy(d->average.data(), dst, n);
}

int PdLocFilter::averageSize() const
{
    return d ? d->averageSamples : 0;
}

float PdLocFilter::averageNoise() const
{
    return d ? d->averageNoise : 0.0f;
}
