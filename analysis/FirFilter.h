#pragma once

#include "SampleBuffer.h"

// A single-rate FIR filter whose delay line carries over from one apply() to
// the next, so a stream can be filtered block by block with the same result as
// in one go: y[i] = sum_k taps[k] x[i - k].
//
// apply() works through the input in slices of kSlice samples behind the
// delay line; within a slice, groups of outputs are summed side by side in
// vector registers (AVX-512 or AVX2 where the processor has them, chosen at
// run time), and every output sums its taps in the same order wherever the
// block boundaries fall.
class FirFilter
{
public:
    static constexpr int kMaxTaps = 4096;
    // The most outputs the kernels sum side by side.
    static constexpr int kMaxBlock = 128;

    FirFilter() = default;
    FirFilter(const FirFilter &) = delete;
    FirFilter &operator=(const FirFilter &) = delete;

    // 1 <= count <= kMaxTaps, every tap finite. Clears the delay line.
    int setTaps(const float *taps, int count);
    // length + 1 taps of gain / (length + 1): a moving average over length + 1
    // samples. Clears the delay line.
    int setMovingAverage(int length, float gain);
    // The taps - 1 previous inputs, oldest first.
    int setDelayLine(const float *values, int count);
    // Every previous input taken as value, as if the signal had been constant.
    int fillDelayLine(float value);
    // src and dst may be the same block.
    int apply(const float *src, float *dst, int n);

    int tapCount() const { return m_count; }
    // The taps as given, in count values.
    int taps(float *out, int count) const;

private:
    static constexpr int kSlice = 2048;

    int m_count = 0;
    // Taps reversed, so that output i is sum_j m_reversed[j] * m_work[i + j].
    SampleBuffer m_reversed;
    // The delay line (count - 1 samples) followed by the current slice and
    // room for the kernel to read one block past it.
    SampleBuffer m_work;
};
