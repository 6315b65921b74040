#include "PdPulseDetector.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

double median(std::vector<float> &values)
{
    if (values.empty())
        return 0.0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

double PdPulseDetector::noise(const float *x, int n)
{
    if (!x || n <= 0)
        return 0.0;
    std::vector<float> values(x, x + n);
    const double centre = median(values);
    for (int i = 0; i < n; ++i)
        values[size_t(i)] = float(std::fabs(x[i] - centre));
    return median(values) / 0.6745;
}

PdPulseDetector::Result PdPulseDetector::detect(const float *x, int n, double sampleRate, double startTime,
                                                double threshold)
{
    Result result;
    if (!x || n < 3 || !(sampleRate > 0))
        return result;
    result.noise = noise(x, n);
    result.threshold = threshold > 0 ? threshold : kNoiseMultiple * result.noise;
    if (!(result.threshold > 0))
        return result; // a flat record: nothing stands out of nothing
    const int deadSamples = std::max(1, int(std::lround(kDeadTimeSeconds * sampleRate)));
    int i = 0;
    while (i < n) {
        if (std::fabs(x[i]) <= result.threshold) {
            ++i;
            continue;
        }
        // The excursion lasts while the magnitude stays above half the
        // threshold, and merges what follows within the dead time.
        int best = i;
        int last = i;
        for (int j = i; j < n && j - last <= deadSamples; ++j) {
            if (std::fabs(x[j]) > 0.5 * result.threshold)
                last = j;
            if (std::fabs(x[j]) > std::fabs(x[best]))
                best = j;
        }
        Pulse pulse;
        pulse.index = best;
        // The time from a parabola through the extreme and its neighbours; the
        // peak is the largest sample itself: a PD pulse rises within a sample
        // or two, and a parabola over its kink overshoots by up to a tenth.
        double offset = 0;
        if (best > 0 && best < n - 1) {
            const double left = x[best - 1], middle = x[best], right = x[best + 1];
            const double curvature = left - 2 * middle + right;
            if (curvature != 0)
                offset = qBound(-0.5, 0.5 * (left - right) / curvature, 0.5);
        }
        pulse.time = startTime + (best + offset) / sampleRate;
        pulse.peak = x[best];
        result.pulses.append(pulse);
        i = last + deadSamples + 1;
    }
    return result;
}
