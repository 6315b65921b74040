#pragma once

#include "PdTestvoltage.h"

// Continuous sine test voltage (VLF and power-frequency AC), analysed as a
// stream: the smoothing filter, the amplitude tracker and the phase tracker
// carry over from block to block for the whole measurement. In condition mode
// process() replaces the block by the running phase of the voltage in radians
// (0 at each rising zero crossing), which is what the other channels are
// related to; the phase lags the input by the smoothing delay, reported as
// the Delay result.
//
// A zero crossing only counts once the voltage has been below
// -DetectionThreshold since the last one, so noise around zero does not count
// as crossings.
class PdTvContinuousAC : public PdTestvoltage
{
public:
    PdTvContinuousAC() = default;

    int process(const float *src, float *dst, int n) override;
    // The amplitude of the last full period, or of the current one once it
    // is larger; 0 until two periods have been seen. Keeps its own tracker, so
    // it does not disturb process().
    int currentAmplitude(const float *src, float *dst, int n) override;
    int reset() override;

private:
    // Amplitude per period as half its peak-to-peak value, so that an offset
    // of the voltage does not count; a period ends at an armed rising zero
    // crossing.
    struct Envelope
    {
        bool armed = false;
        float previous = 0.0f;
        float top;    // of the current period
        float bottom;
        float held;   // of the last full period
        bool seenOne = false;
        bool seenTwo = false;
        Envelope();
        float running() const; // of the current period so far
        void track(float v, float threshold);
    };

    struct Phase
    {
        bool armed = false;
        float previous = 1.0f;
        double phase;
        double step;        // radians per sample
        double counter = 0; // samples since the last crossing
        bool seen = false;
        Phase();
    };

    bool m_primed = false;
    Envelope m_envelope;
    Envelope m_amplitudeEnvelope;
    Phase m_phase;
};
