#pragma once

// Conditions and averages PD pulse blocks for localisation: a band-pass filter
// and a running average in which each new block counts by its noise.
//
// Codes: 0 success, 2 bad argument or size mismatch, 3 no state or out of
// memory; none throws.
class InterfacePdLocFilter
{
public:
    virtual ~InterfacePdLocFilter() = default;

    // New band-pass from f1 (high-pass corner) to f2 (low-pass corner) at sample
    // rate fs, with an output gain.
    virtual int design(float f1, float f2, float fs, float gain) = 0;
    // Band-passes a block; the filter state carries over to the next call.
    virtual int filter(const float *src, float *dst, int n) = 0;
    // Forgets the running average.
    virtual int resetAverage() = 0;
    // dst = a (1 - alpha) + x alpha with alpha from the noise of x and a.
    virtual int weightedAverage(const float *x, const float *a, float *dst, int n) = 0;
    // dst = a (1 - alpha) + x alpha; alpha must be finite.
    virtual int blend(const float *x, const float *a, float *dst, int n, float alpha) = 0;
    // Adds src to the running average and writes the average to dst.
    virtual int process(const float *src, float *dst, int n) = 0;
    // Copies the running average (n samples, its size) to dst.
    virtual int average(float *dst, int n) const = 0;
};
