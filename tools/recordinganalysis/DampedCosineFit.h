#pragma once

// Least-squares fit of a damped cosine with offset,
//
//     u(t) = A exp(-delta t) cos(2 pi f t + phi) + c,   t = i / sampleRate,
//
// to one record of the test voltage, with GSL's nonlinear least squares
// (gsl_multifit_nlinear, Levenberg-Marquardt), starting from the plug-in's
// frequency and attenuation. Written as e(t) (a cos wt + b sin wt) + c the
// model is linear in a, b and c; those are solved for wherever the solver
// looks (variable projection), so it moves only delta and f, needs no start
// for amplitude, phase and offset, and each of its steps costs one pass over
// the record. The result is the least-squares minimum of all five
// parameters; the fit is the same to the last bit on every machine.
class DampedCosineFit
{
public:
    struct Seed
    {
        double frequency = 0;   // Hz; not above 0: taken from the zero crossings
        double attenuation = 0; // 1/s; not finite: 0
    };

    struct Result
    {
        bool ok = false;
        const char *error = ""; // why there is no result
        double amplitude = 0;   // V, at t = 0 (the first sample)
        double frequency = 0;   // Hz
        double attenuation = 0; // 1/s
        double phase = 0;       // rad
        double offset = 0;      // V
        double frequencySigma = 0;   // one standard deviation, from the covariance
        double attenuationSigma = 0;
        double rmsResidual = 0; // V
        int iterations = 0;
    };

    // At least kMinSamples samples; the result's error says what failed.
    static Result fit(const float *samples, int n, double sampleRate, const Seed &seed);
    // The model at sample i of a result, for plots.
    static double model(const Result &result, double sampleRate, int i);

    static constexpr int kMinSamples = 16;
    static constexpr int kMaxIterations = 100;
};
