#pragma once

#include "FirFilter.h"
#include "PdTestvoltage.h"

// Damped AC test voltage: an oscillation that decays after each shot.
// Frequency and attenuation come from the slope of the block (a 99-sample
// least-squares slope, which removes offset and drift): the frequency from the
// spacing of the falling zero crossings of its autocorrelation, the attenuation
// from the energy lost between the first two periods after its largest value.
// A block of less than about three periods has no measurable frequency.
//
// process() returns the estimate's code: 2 for blocks shorter than 100
// samples, 1 when no frequency or attenuation could be measured, 0 when both
// were. The block is conditioned and the amplitude measured in every case.
class PdTvDAC : public PdTestvoltage
{
public:
    static constexpr int kMinimumSamples = 100;
    static constexpr int kSlopeTaps = 99;

    PdTvDAC();

    int process(const float *src, float *dst, int n) override;
    // A peak envelope: |src| at its local maxima joined by straight lines. A
    // flat block (a ramp or a step without oscillation) gets its peak value
    // throughout instead.
    int currentAmplitude(const float *src, float *dst, int n) override;

    // h[k] = (k - 49) / 80850 rounded to eight decimals.
    static void slopeTaps(float *taps);

private:
    // Frequency and attenuation of a damped oscillation in src. Both stay NaN
    // for blocks shorter than kMinimumSamples and become -1 where the estimate
    // fails after that.
    int estimate(const float *src, int n, double *frequency, double *attenuation);
    // First falling zero crossing of r at or after index from (r[i - 1] >= 0 >
    // r[i]), interpolated; -1 if there is none.
    static double fallingZero(const float *r, int from, int count);
    // The offset removal of process(): dst is the scaled, smoothed block.
    void centre(float *dst, int n, double frequency);

    FirFilter m_slope;
};
