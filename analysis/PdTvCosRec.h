#pragma once

#include "FirFilter.h"
#include "PdTestvoltage.h"

// Cosine-rectangular test voltage: plateaus of alternating polarity joined by
// cosine-shaped reversals. The amplitude is the plateau level (half the span
// of a 101-sample moving average, which ignores spikes); the frequency is that
// of the cosine during a reversal, from the time the voltage takes between
// +A/2 and -A/2.
class PdTvCosRec : public PdTestvoltage
{
public:
    // Blocks up to this length are too short to condition.
    static constexpr int kMinimumSamples = 200;
    static constexpr int kAverageLength = 100;

    PdTvCosRec();

    int process(const float *src, float *dst, int n) override;
    // The amplitude as a constant envelope: the measured amplitude, or the
    // block's peak value while there is none.
    int currentAmplitude(const float *src, float *dst, int n) override;

private:
    // First crossing of level at or after index 1 (the side of the level
    // changes between two samples), interpolated; -1 if there is none.
    static double levelCrossing(const float *x, int n, double level);

    FirFilter m_average;
};
