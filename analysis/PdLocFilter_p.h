#pragma once

#include "IirFilter.h"
#include "SampleBuffer.h"

// The state behind PdLocFilter.
struct PdLocFilterPrivate
{
    IirFilter highPass;
    IirFilter lowPass;
    // Both first-order sections in one biquad; ready only after a valid design.
    IirFilter bandPass;
    SampleBuffer average;
    int averageSamples = 0;
    float averageNoise = 0.0f;
    float gain = 1.0f;
};
