#pragma once

// Least-squares fit of a damped cosine with offset,
//
//     u(t) = A exp(-delta t) cos(2 pi f t + phi) + c,   t = i / sampleRate,
//
// to one record of the test voltage, with GSL's nonlinear least squares
// (gsl_multilarge_nlinear: Levenberg-Marquardt on the normal equations,
// the variant for many more samples than parameters). The fit starts from the
// plug-in's frequency and attenuation; amplitude, phase and offset are seeded
// by linear least squares at those values, so that the solver starts close to
// the minimum and needs few iterations.
//
// Inside the solver the model is e(t) (a cos wt + b sin wt) + c, linear in a,
// b and c, which keeps the problem well conditioned whatever the phase; the
// exponential and the rotation are carried from sample to sample by complex
// multiplication instead of calling exp, cos and sin for every sample.
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
