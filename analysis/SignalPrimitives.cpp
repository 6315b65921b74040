#include "SignalPrimitives.h"

#include "FftPlanCache.h"
#include "SampleBuffer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

// The loops below are written so that the compiler vectorises them: plain
// element-wise bodies, and reductions spread over kLanes independent
// accumulators (a single accumulator would be a serial dependency the compiler
// may not reorder without fast-math, which we do not use).

namespace dsp {

namespace {

constexpr int kLanes = 8;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

bool badBlock(const void *a, const void *b, int n)
{
    return !a || !b || n < 1;
}

// Largest (or, with Smallest, smallest) non-NaN value; NaN if there is none.
// Comparisons with NaN are false, so NaN samples never replace a lane.
template<bool Smallest>
float extreme(const float *src, int n)
{
    float lane[kLanes];
    std::fill(lane, lane + kLanes, Smallest ? kInf : -kInf);
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j) {
            const float v = src[i + j];
            lane[j] = (Smallest ? v < lane[j] : v > lane[j]) ? v : lane[j];
        }
    float result = Smallest ? kInf : -kInf;
    for (; i < n; ++i)
        result = (Smallest ? src[i] < result : src[i] > result) ? src[i] : result;
    for (float v : lane)
        result = (Smallest ? v < result : v > result) ? v : result;
    if (result == (Smallest ? kInf : -kInf)) {
        // Either a block of that infinity or a block of NaNs.
        for (int k = 0; k < n; ++k)
            if (!std::isnan(src[k]))
                return result;
        return kNaN;
    }
    return result;
}

int firstIndexOf(const float *src, int n, float value)
{
    if (std::isnan(value))
        return 0;
    for (int i = 0; i < n; ++i)
        if (src[i] == value)
            return i;
    return 0;
}

inline std::uint32_t magnitudeKey(float v)
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    // Without the sign bit, the bit patterns of non-negative floats order like
    // the values, with infinity above every number and NaN above infinity.
    return bits & 0x7fffffffu;
}

inline float keyValue(std::uint32_t key)
{
    float v;
    std::memcpy(&v, &key, sizeof v);
    return v;
}

// Work blocks kept per thread for reuse: the analysis calls these primitives on
// block after block of the same length, and a fresh block of a few megabytes
// each time costs page faults comparable to the work itself. Each thread keeps
// the largest it needed.
thread_local SampleBuffer t_medianWork;
thread_local SampleBuffer t_fftWork;

// The middle magnitude keys (the (n/2)-th smallest and, for even n, the one
// below it) in two passes: a histogram of the top 11 bits (a quarter of an
// octave per bin) finds the bin holding the middle, the keys of that bin are
// gathered, and a selection among those few finishes the job.
int middleKeys(const float *src, int n, std::uint32_t *lower, std::uint32_t *upper)
{
    constexpr int kShift = 20;
    constexpr int kBins = 1 << 11;
    // Four interleaved histograms, so that runs of similar samples do not wait
    // on one counter.
    int histogram[4][kBins] = {};
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int j = 0; j < 4; ++j)
            ++histogram[j][magnitudeKey(src[i + j]) >> kShift];
    for (; i < n; ++i)
        ++histogram[0][magnitudeKey(src[i]) >> kShift];

    const int k = n / 2;
    int below = 0;
    std::uint32_t bin = 0;
    int inBin = 0;
    for (;; ++bin) {
        inBin = histogram[0][bin] + histogram[1][bin] + histogram[2][bin] + histogram[3][bin];
        if (k < below + inBin)
            break;
        below += inBin;
    }

    // One slot more than the bin holds: the gathering loop writes every key
    // and only moves on past those of the bin.
    if (!t_medianWork.reserve(inBin + 1))
        return NoMemory;
    std::uint32_t *keys = t_medianWork.words();
    int gathered = 0;
    for (int m = 0; m < n; ++m) {
        const std::uint32_t key = magnitudeKey(src[m]);
        keys[gathered] = key;
        gathered += (key >> kShift) == bin ? 1 : 0;
    }
    const int position = k - below;
    std::nth_element(keys, keys + position, keys + inBin);
    *upper = keys[position];
    if (position > 0) {
        *lower = *std::max_element(keys, keys + position);
    } else {
        // The lower middle is the largest key of the bins below: rare, one
        // more pass.
        std::uint32_t largest = 0;
        const std::uint32_t limit = bin << kShift;
        for (int m = 0; m < n; ++m) {
            const std::uint32_t key = magnitudeKey(src[m]);
            largest = (key < limit && key > largest) ? key : largest;
        }
        *lower = largest;
    }
    return Ok;
}

// Direct sum, for few lags where an FFT would cost more than it saves.
void autoCorrelationDirect(const float *x, int n, float *dst, int lags)
{
    for (int k = 0; k < lags; ++k) {
        double lane[kLanes] = {};
        const int terms = n - k;
        int i = 0;
        for (; i + kLanes <= terms; i += kLanes)
            for (int j = 0; j < kLanes; ++j)
                lane[j] += static_cast<double>(x[i + j]) * x[i + j + k];
        double sum = 0.0;
        for (; i < terms; ++i)
            sum += static_cast<double>(x[i]) * x[i + k];
        for (double v : lane)
            sum += v;
        dst[k] = static_cast<float>(sum);
    }
}

// Wiener-Khinchin: the inverse transform of the power spectrum of the block,
// padded so that lags below `lags` do not wrap around. The power spectrum is
// real and even, so its inverse transform is its forward transform divided by
// the size: the one plan serves both ways. Leaves the unscaled lags in the
// real parts of t_fftWork (every second float) and the scale in *scale.
int autoCorrelationFft(const float *src, int n, float offset, int lags, float *scale)
{
    if (n > INT_MAX - lags)
        return BadArgument;
    FftPlanCache::Lease plan = FftPlanCache::instance().acquireAtLeast(n + lags - 1);
    if (!plan.isValid())
        return NoMemory;
    const int size = plan.size();
    const int floats = FftPlanCache::bufferFloats(size);
    if (!t_fftWork.reserve(floats))
        return NoMemory;

    float *w = t_fftWork.data();
    for (int i = 0; i < n; ++i)
        w[i] = src[i] - offset;
    std::fill(w + n, w + floats, 0.0f);
    plan.forward(w);
    // |X_j|^2 into w[j], ascending, which only overwrites bins already read;
    // then the mirror half, P[size - j] = P[j].
    const int half = size / 2;
    for (int j = 0; j <= half; ++j) {
        const float re = w[2 * j];
        const float im = w[2 * j + 1];
        w[j] = re * re + im * im;
    }
    for (int j = 1; j < size - half; ++j)
        w[size - j] = w[j];
    plan.forward(w);
    *scale = 1.0f / static_cast<float>(size);
    return Ok;
}

bool directIsCheaper(int n, int lags)
{
    const double size = n + static_cast<double>(lags);
    // A direct lag costs about n multiply-adds, the two transforms about
    // 5 size log2(size) flops in all plus their set-up; the direct sum is kept
    // to the cases clearly below that (a few lags).
    return static_cast<double>(n) * lags < 4.0 * size * std::log2(size) + 4096.0;
}

// dst[k] = raw[k * stride] * scale, normalised by mode, in one pass; raw may
// be dst when stride is 1.
void normalise(const float *raw, int stride, float *dst, int lags, int n, int mode, float scale)
{
    float factor = scale;
    if (mode == AutoCorrBiased) {
        factor = scale / static_cast<float>(n);
    } else if (mode == AutoCorrNormalised) {
        const float inverse = 1.0f / (raw[0] * scale);
        if (inverse > 0.0f && std::isfinite(inverse))
            factor = scale * inverse;
    }
    if (mode == AutoCorrUnbiased) {
        for (int k = 0; k < lags; ++k)
            dst[k] = raw[k * stride] * (scale / static_cast<float>(n - k));
    } else {
        for (int k = 0; k < lags; ++k)
            dst[k] = raw[k * stride] * factor;
    }
}

} // namespace

int abs(const float *src, float *dst, int n)
{
    if (badBlock(src, dst, n))
        return BadArgument;
    for (int i = 0; i < n; ++i)
        dst[i] = std::fabs(src[i]);
    return Ok;
}

int multiplyConstant(const float *src, float c, float *dst, int n)
{
    if (badBlock(src, dst, n) || !std::isfinite(c))
        return BadArgument;
    for (int i = 0; i < n; ++i)
        dst[i] = src[i] * c;
    return Ok;
}

int subtractConstant(const float *src, float c, float *dst, int n)
{
    if (badBlock(src, dst, n) || !std::isfinite(c))
        return BadArgument;
    for (int i = 0; i < n; ++i)
        dst[i] = src[i] - c;
    return Ok;
}

int convert16(const std::int16_t *src, float *dst, int n, int scaleExponent)
{
    if (badBlock(src, dst, n) || scaleExponent < -126 || scaleExponent > 149)
        return BadArgument;
    const float factor = std::ldexp(1.0f, -scaleExponent);
    for (int i = 0; i < n; ++i)
        dst[i] = static_cast<float>(src[i]) * factor;
    return Ok;
}

int copy(const float *src, float *dst, int n)
{
    if (badBlock(src, dst, n))
        return BadArgument;
    if (src != dst)
        std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(float));
    return Ok;
}

int maximum(const float *src, int n, float *max)
{
    if (badBlock(src, max, n))
        return BadArgument;
    *max = extreme<false>(src, n);
    return Ok;
}

int minimum(const float *src, int n, float *min)
{
    if (badBlock(src, min, n))
        return BadArgument;
    *min = extreme<true>(src, n);
    return Ok;
}

int maximumIndex(const float *src, int n, float *max, int *index)
{
    if (badBlock(src, max, n) || !index)
        return BadArgument;
    // Two passes, both vectorised, beat one pass that tracks the index.
    *max = extreme<false>(src, n);
    *index = firstIndexOf(src, n, *max);
    return Ok;
}

int minMaxIndex(const float *src, int n, float *min, int *minIndex, float *max, int *maxIndex)
{
    if (badBlock(src, min, n) || !minIndex || !max || !maxIndex)
        return BadArgument;
    *min = extreme<true>(src, n);
    *max = extreme<false>(src, n);
    *minIndex = firstIndexOf(src, n, *min);
    *maxIndex = firstIndexOf(src, n, *max);
    return Ok;
}

int peak(const float *src, int n, float *peak)
{
    if (badBlock(src, peak, n))
        return BadArgument;
    float lane[kLanes] = {};
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j) {
            const float v = std::fabs(src[i + j]);
            lane[j] = v > lane[j] ? v : lane[j];
        }
    float result = 0.0f;
    bool number = false;
    for (; i < n; ++i) {
        const float v = std::fabs(src[i]);
        result = v > result ? v : result;
    }
    for (float v : lane)
        result = v > result ? v : result;
    for (int k = 0; k < n && !number; ++k)
        number = !std::isnan(src[k]);
    *peak = number ? result : kNaN;
    return Ok;
}

int mean(const float *src, int n, float *mean)
{
    if (badBlock(src, mean, n))
        return BadArgument;
    double lane[kLanes] = {};
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j)
            lane[j] += src[i + j];
    double sum = 0.0;
    for (; i < n; ++i)
        sum += src[i];
    for (double v : lane)
        sum += v;
    *mean = static_cast<float>(sum / n);
    return Ok;
}

int medianAbs(const float *src, int n, float *median)
{
    if (badBlock(src, median, n))
        return BadArgument;
    std::uint32_t lower = 0;
    std::uint32_t upper = 0;
    const int status = middleKeys(src, n, &lower, &upper);
    if (status != Ok)
        return status;
    if (n % 2 == 1)
        *median = keyValue(upper);
    else
        *median = static_cast<float>((static_cast<double>(keyValue(lower)) + keyValue(upper)) / 2.0);
    return Ok;
}

int autoCorrelation(const float *src, int n, float *dst, int m, int mode)
{
    if (badBlock(src, dst, n) || m < 1 || mode < AutoCorrNone || mode > AutoCorrNormalised)
        return BadArgument;
    float offset = 0.0f;
    mean(src, n, &offset);
    const int lags = std::min(m, n);
    if (directIsCheaper(n, lags)) {
        SampleBuffer centred;
        if (!centred.reserve(n))
            return NoMemory;
        subtractConstant(src, offset, centred.data(), n);
        autoCorrelationDirect(centred.data(), n, dst, lags);
        normalise(dst, 1, dst, lags, n, mode, 1.0f);
    } else {
        float scale = 1.0f;
        const int status = autoCorrelationFft(src, n, offset, lags, &scale);
        if (status != Ok)
            return status;
        normalise(t_fftWork.data(), 2, dst, lags, n, mode, scale);
    }
    std::fill(dst + lags, dst + m, 0.0f);
    return Ok;
}

int extractBits16(const std::uint16_t *src, std::uint8_t *out, int n, int bit)
{
    if (badBlock(src, out, n) || bit < 0 || bit > 15)
        return BadArgument;
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>((src[i] >> bit) & 1u);
    return Ok;
}

int extractBits32(const std::uint32_t *src, std::uint8_t *out, int n, int bit)
{
    if (badBlock(src, out, n) || bit < 0 || bit > 31)
        return BadArgument;
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>((src[i] >> bit) & 1u);
    return Ok;
}

int deinterleaveBytes(const std::uint8_t *src, std::uint8_t *a, std::uint8_t *b, int n)
{
    if (badBlock(src, a, n) || !b)
        return BadArgument;
    for (int i = 0; i < n; ++i) {
        a[i] = src[2 * i];
        b[i] = src[2 * i + 1];
    }
    return Ok;
}

} // namespace dsp
