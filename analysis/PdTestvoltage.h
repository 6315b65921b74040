#pragma once

#include "FirFilter.h"
#include "InterfacePdTestvoltage.h"
#include "SampleBuffer.h"

#include <limits>

// What the three analysers share: mode, parameters, results with their
// validity tests, the 51-tap smoothing filter and the resonance model.
class PdTestvoltage : public InterfacePdTestvoltage
{
public:
    // Samples the smoothing filter delays its output by.
    static constexpr int kFilterDelay = 25;
    static constexpr int kSmoothingTaps = 2 * kFilterDelay + 1;

    int setMode(int mode) override;
    int getMode(int *mode) const override;
    int setParameter(int id, double value) override;
    int getParameter(int id, double *value) const override;
    int getResult(int id, double *value) const override;
    int reset() override;

    // The smoothing window: quadratic Savitzky-Golay over 51 samples,
    // w_j = 3 (1949 - 5 j^2) / 132447 rounded to six decimals.
    static void smoothingTaps(float *taps);

protected:
    static constexpr double kPi = 3.14159265358979323846;
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    PdTestvoltage();

    double parameter(int id) const { return m_parameters[id]; }
    double result(int id) const { return m_results[id]; }
    void setResult(int id, double value) { m_results[id] = value; }
    int mode() const { return m_mode; }

    // Sample rate > 0 and finite, parameters 2 to 8 finite.
    bool parametersValid() const;
    // Every result NaN.
    void clearResults();
    // D3 and D4 from the frequency and the attenuation (NaN unless both finite).
    void setResonanceResults(double frequency, double attenuation);

    // Smooths x in place without delay: the filter is primed with the first
    // sample, its output moved back by the filter delay and the end completed
    // by feeding the last sample, so both ends see the signal held constant.
    void smoothZeroPhase(float *x, int n);
    // The streaming form: the delay line carries over and the output lags by
    // kFilterDelay samples.
    FirFilter &smoothingFilter() { return m_smoothing; }

    // How far before sample i the straight line through (i - 1, previous) and
    // (i, current) meets level, in samples; every zero and level crossing of
    // the analysers is placed so. crossingPosition() is i minus that.
    static double crossingFraction(double previous, double current, double level);
    static double crossingPosition(int i, double previous, double current, double level);

    // A work block that lives as long as the analyser, so that processing
    // block after block does not allocate each time.
    float *scratch(int n);

private:
    int m_mode = ModeCondition;
    double m_parameters[kParameterCount + 1] = {};
    double m_results[kResultCount + 1] = {};
    FirFilter m_smoothing;
    SampleBuffer m_scratch;
};
