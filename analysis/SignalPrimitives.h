#pragma once

#include <cstdint>

// The vector layer the analysis, the data path and the widgets work through:
// blocks of 32-bit float samples, lengths as sample counts (int), and every
// operation answering with one of the codes below instead of throwing.
//
// "In place" means src and dst are the same block; every element-wise
// operation allows it. Blocks that only partly overlap are not supported.
namespace dsp {

enum Status : int {
    Ok = 0,
    Failed = 1,      // the computation could not produce a result
    BadArgument = 2, // missing pointer, length < 1, non-finite constant, index out of range
    NoMemory = 3     // an operation that allocates could not
};

// dst[i] = |src[i]|
int abs(const float *src, float *dst, int n);
// dst[i] = src[i] * c; c must be finite
int multiplyConstant(const float *src, float c, float *dst, int n);
// dst[i] = src[i] - c; c must be finite
int subtractConstant(const float *src, float c, float *dst, int n);
// dst[i] = src[i] * 2^-scaleExponent; the exponent must leave a normal or
// subnormal float factor (-126 .. 149), otherwise BadArgument.
int convert16(const std::int16_t *src, float *dst, int n, int scaleExponent);
int copy(const float *src, float *dst, int n);

// The extremes ignore NaN samples; a block of NaNs only yields NaN (and index 0).
int maximum(const float *src, int n, float *max);
int minimum(const float *src, int n, float *min);
// First index of the largest value.
int maximumIndex(const float *src, int n, float *max, int *index);
// Both extremes with the first index of each.
int minMaxIndex(const float *src, int n, float *min, int *minIndex, float *max, int *maxIndex);
// The largest magnitude, max |src[i]|. Magnitude rather than value because
// every caller wants a size: PD pulses of either polarity, test voltages that
// may start on their negative half-wave, and blocks already made non-negative.
int peak(const float *src, int n, float *peak);
// Arithmetic mean, summed in double so that long blocks with an offset keep
// their precision.
int mean(const float *src, int n, float *mean);
// The median of |src[i]| without touching src; for an even count the mean of
// the two middle values. Found by selection on the float bit patterns, without
// sorting: a histogram pass, then a selection among the few values near the
// middle. A NaN counts as larger than every number.
int medianAbs(const float *src, int n, float *median);

// Autocorrelation normalisation modes.
enum AutoCorrMode : int {
    AutoCorrNone = 0,
    AutoCorrBiased = 1,   // / N
    AutoCorrUnbiased = 2, // / (N - k)
    AutoCorrNormalised = 3 // / R[0], when 1 / R[0] is positive and finite
};
// dst[k] = sum_i x[i] x[i+k] for k = 0 .. m-1, with x = src minus its mean,
// normalised by mode. Lags at or beyond n have no terms and give 0. Long
// blocks go through a real FFT (FFTW, single precision); the error is then of
// the order of 1e-6 of dst[0].
//
// These two keep a work block per thread for the next call (about 4 bytes per
// sample for the median, 8 per FFT point for the autocorrelation), so that
// block after block of the same length does not allocate.
int autoCorrelation(const float *src, int n, float *dst, int m, int mode);

// out[i] = 1 if bit `bit` of word i is set, else 0; one byte per sample.
int extractBits16(const std::uint16_t *src, std::uint8_t *out, int n, int bit);
int extractBits32(const std::uint32_t *src, std::uint8_t *out, int n, int bit);
// a[i] = src[2i], b[i] = src[2i + 1] for i < n (src holds 2n bytes).
int deinterleaveBytes(const std::uint8_t *src, std::uint8_t *a, std::uint8_t *b, int n);

} // namespace dsp
