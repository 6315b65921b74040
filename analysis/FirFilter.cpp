#include "FirFilter.h"

#include "SignalPrimitives.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// out[i] = sum_j taps[j] * in[i + j] for i < n. Block outputs at a time are
// summed in registers across all taps (one load and one multiply-add per tap
// and vector), each output adding its taps in order. The last block runs in
// full too and only its first outputs are kept, so every output comes from the
// same instructions wherever the block boundaries fall (a scalar tail would
// round differently once multiply and add are fused). in must therefore be
// readable up to index n + Block + count - 2.
template<int Block>
inline __attribute__((always_inline)) void convolve(const float *taps, int count, const float *in, float *out, int n)
{
    for (int i = 0; i < n; i += Block) {
        float sum[Block] = {};
        for (int k = 0; k < count; ++k) {
            const float t = taps[k];
            const float *x = in + i + k;
            for (int j = 0; j < Block; ++j)
                sum[j] += t * x[j];
        }
        std::copy(sum, sum + std::min(Block, n - i), out + i);
    }
}

using Kernel = void (*)(const float *, int, const float *, float *, int);

// Eight vector registers of sums each: enough independent additions to keep
// both arithmetic ports busy.
void convolveBaseline(const float *taps, int count, const float *in, float *out, int n)
{
    static_assert(32 <= FirFilter::kMaxBlock, "the work block holds one kernel block past the slice");
    convolve<32>(taps, count, in, out, n);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The product runs on whatever x86-64 the host has, so the wider kernels are
// chosen at run time rather than by compiler flags.
__attribute__((target("avx2,fma"))) void convolveAvx2(const float *taps, int count, const float *in, float *out,
                                                        int n)
{
    static_assert(64 <= FirFilter::kMaxBlock, "the work block holds one kernel block past the slice");
    convolve<64>(taps, count, in, out, n);
}

__attribute__((target("avx512f,fma"))) void convolveAvx512(const float *taps, int count, const float *in,
                                                            float *out, int n)
{
    static_assert(128 <= FirFilter::kMaxBlock, "the work block holds one kernel block past the slice");
    convolve<128>(taps, count, in, out, n);
}

Kernel chooseKernel()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return convolveAvx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return convolveAvx2;
    return convolveBaseline;
}
#else
Kernel chooseKernel()
{
    return convolveBaseline;
}
#endif

const Kernel kConvolve = chooseKernel();

} // namespace

int FirFilter::setTaps(const float *taps, int count)
{
    if (!taps || count < 1 || count > kMaxTaps)
        return dsp::BadArgument;
    for (int k = 0; k < count; ++k)
        if (!std::isfinite(taps[k]))
            return dsp::BadArgument;
    const int work = count - 1 + kSlice + kMaxBlock;
    if (!m_reversed.reserve(count) || !m_work.reserve(work)) {
        m_count = 0;
        return dsp::NoMemory;
    }
    // The kernel reads a block past the slice; keep that part tidy numbers.
    std::fill(m_work.data(), m_work.data() + work, 0.0f);
    m_count = count;
    std::reverse_copy(taps, taps + count, m_reversed.data());
    return fillDelayLine(0.0f);
}

int FirFilter::setMovingAverage(int length, float gain)
{
    if (length < 0 || length >= kMaxTaps || !std::isfinite(gain))
        return dsp::BadArgument;
    float taps[kMaxTaps];
    std::fill(taps, taps + length + 1, gain / static_cast<float>(length + 1));
    return setTaps(taps, length + 1);
}

int FirFilter::setDelayLine(const float *values, int count)
{
    if (m_count < 1)
        return dsp::Failed;
    if (!values || count != m_count - 1)
        return dsp::BadArgument;
    std::copy(values, values + count, m_work.data());
    return dsp::Ok;
}

int FirFilter::fillDelayLine(float value)
{
    if (m_count < 1)
        return dsp::Failed;
    std::fill(m_work.data(), m_work.data() + m_count - 1, value);
    return dsp::Ok;
}

int FirFilter::apply(const float *src, float *dst, int n)
{
    if (!src || !dst || n < 1)
        return dsp::BadArgument;
    if (m_count < 1)
        return dsp::Failed;
    const int history = m_count - 1;
    float *work = m_work.data();
    for (int done = 0; done < n;) {
        const int slice = std::min(kSlice, n - done);
        // Copy the slice in before any output of it is written: src may be dst.
        std::memcpy(work + history, src + done, static_cast<std::size_t>(slice) * sizeof(float));
        kConvolve(m_reversed.data(), m_count, work, dst + done, slice);
        std::memmove(work, work + slice, static_cast<std::size_t>(history) * sizeof(float));
        done += slice;
    }
    return dsp::Ok;
}

int FirFilter::taps(float *out, int count) const
{
    if (!out || count != m_count || m_count < 1)
        return dsp::BadArgument;
    std::reverse_copy(m_reversed.data(), m_reversed.data() + m_count, out);
    return dsp::Ok;
}
