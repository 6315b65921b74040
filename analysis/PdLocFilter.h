#pragma once

#include "InterfacePdLocFilter.h"

#include <memory>

struct PdLocFilterPrivate;

// Band-pass: first-order Butterworth high-pass and low-pass combined into one
// biquad. Running average: each block enters with the weight
// alpha = S^2 / (sigma^2 + S^2), sigma being the noise of the block and S that
// of the average, both median(|x|) / 0.6745, so a block as noisy as the
// average counts half, a much noisier one little, and the first block is taken
// as it is.
class PdLocFilter : public InterfacePdLocFilter
{
public:
    // Designs the band-pass with gain 1; invalid corners leave the object
    // without one (filter() then answers 3).
    PdLocFilter(float f1, float f2, float fs);
    ~PdLocFilter() override;
    PdLocFilter(const PdLocFilter &) = delete;
    PdLocFilter &operator=(const PdLocFilter &) = delete;

    // 0 < f1 < f2 < fs, all finite, gain finite, and both corners below fs / 2.
    // A refused design leaves no band-pass.
    int design(float f1, float f2, float fs, float gain) override;
    // Removes the mean of the first 50 samples, band-passes, applies the gain.
    int filter(const float *src, float *dst, int n) override;
    int resetAverage() override;
    int weightedAverage(const float *x, const float *a, float *dst, int n) override;
    int blend(const float *x, const float *a, float *dst, int n, float alpha) override;
    // The first block sets the size of the average; a block of another size is
    // refused with 2 and the average left as it was. src and dst may be the
    // same block.
    int process(const float *src, float *dst, int n) override;
    int average(float *dst, int n) const override;

    // median(|x|) / 0.6745: the standard deviation of Gaussian noise, robust
    // against the pulses riding on it.
    static int noise(const float *x, int n, float *sigma);
    // Samples of the running average, 0 while there is none.
    int averageSize() const;
    float averageNoise() const;

private:
    std::unique_ptr<PdLocFilterPrivate> d;
};
