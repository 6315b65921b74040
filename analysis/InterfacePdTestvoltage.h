#pragma once

// A test voltage analyser: measures frequency, amplitude, attenuation and the
// values derived from them on blocks of the "Test voltage" channel, and
// conditions the block on the way (scale, smooth, offset). The wrapper picks a
// variant by operation mode and talks to it through this interface only.
//
// Every operation answers with 0 (success), 1 (invalid parameters or no
// result), 2 (bad argument) or 3 (out of memory); none throws.
class InterfacePdTestvoltage
{
public:
    enum Mode {
        ModeCopy = 1,     // process() passes the block through unchanged
        ModeCondition = 3 // process() scales, smooths and centres the block
    };

    enum Parameter {
        SampleRate = 1,        // Hz, > 0
        ScaleFactor = 2,       // applied to the samples
        ResonanceA = 3,        // > 0
        ResonanceB = 4,        // >= 0
        PhaseOffset = 5,       // radians, continuous AC
        TimeOffset = 6,        // seconds, continuous AC
        ResonanceC = 7,        // >= 0
        AmplitudeOffset = 8,   // subtracted before smoothing, continuous AC
        DetectionThreshold = 9 // zero crossings count once the voltage fell below -threshold
    };

    enum Result {
        Frequency = 1,        // Hz
        Amplitude = 2,        // scaled units
        D3 = 3,               // from the resonance model
        D4 = 4,               // from the resonance model
        Attenuation = 5,      // 1/s
        Delay = 6,            // s, how far the conditioned block lags the input
        FirstZeroCrossing = 7 // s from the block start
    };

    static constexpr int kParameterCount = 9;
    static constexpr int kResultCount = 7;

    virtual ~InterfacePdTestvoltage() = default;

    // ModeCopy or ModeCondition; anything else is refused with 2 and the mode kept.
    virtual int setMode(int mode) = 0;
    virtual int getMode(int *mode) const = 0;
    // A value that fails the parameter's test is refused with 2 and not stored.
    virtual int setParameter(int id, double value) = 0;
    // An unknown id delivers 0.0 with 2.
    virtual int getParameter(int id, double *value) const = 0;
    // Delivers the value with 0 if it is valid, 1 if not; 2 (and NaN) for an
    // unknown id.
    virtual int getResult(int id, double *value) const = 0;
    // Analyses src and writes the conditioned block to dst; src may be dst.
    virtual int process(const float *src, float *dst, int n) = 0;
    // Writes an amplitude envelope of src to dst; src may be dst.
    virtual int currentAmplitude(const float *src, float *dst, int n) = 0;
    // Forgets the results and any state carried from block to block; the mode
    // and the parameters stay.
    virtual int reset() = 0;
};
