#pragma once

#include <QVector>

// Finds PD pulses in one record of the PD channel: every excursion above a
// threshold counts once, at its largest magnitude, and pulses closer than the
// dead time merge into the larger one. The threshold is a multiple of the
// record's noise unless one is given; the noise is the median absolute
// deviation, which the pulses themselves hardly move.
class PdPulseDetector
{
public:
    struct Pulse
    {
        int index = 0;       // sample of the largest magnitude
        double time = 0;     // s, refined between samples
        double peak = 0;     // signed largest sample (channel units, V)
    };

    struct Result
    {
        double noise = 0;     // rms of the noise estimate, channel units
        double threshold = 0; // what a pulse had to exceed
        QVector<Pulse> pulses;
    };

    // threshold not above 0: kNoiseMultiple times the noise.
    static Result detect(const float *x, int n, double sampleRate, double startTime, double threshold = 0);
    // Median absolute deviation from the median, scaled to a standard deviation.
    static double noise(const float *x, int n);

    static constexpr double kNoiseMultiple = 8.0;
    static constexpr double kDeadTimeSeconds = 200e-9;
};
