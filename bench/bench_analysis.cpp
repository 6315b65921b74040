// The analysis primitives and analysers on the block sizes the plug-in sees.
// bench/compare.py runs this program and times the same work in numpy/scipy in
// the same run; the budget is that every figure here is at least twice as fast
// as its numpy/scipy equivalent, and that the autocorrelation grows as N log N.
//
//   BM_AutoCorrelation/N   N samples, N/2 lags, mean removed, unbiased (the
//                          damped AC analyser's call); Google Benchmark fits
//                          the N log N curve over 2^14 .. 2^20
//   BM_RealFft/N           one in-place real FFTW transform of the size the
//                          autocorrelation of N samples pads to: the yardstick
//                          for its growth, which can be no better than that of
//                          the transforms it is made of
//   BM_PdTvDACProcess      PdTvDAC::process on 200 000 samples (2 s at
//                          100 kHz of a 50 Hz oscillation decaying at 20/s),
//                          conditioning included
//   BM_SmoothingFilter     the 51-tap smoothing window over 200 000 samples,
//                          delay line carried (FirFilter::apply)
//   BM_SlopeFilter         the 99-tap slope filter, the same way
//   BM_PdLocFilterProcess  PdLocFilter::process on 100 000 samples into an
//                          existing average (two noise estimates and the blend)
//
// items_per_second counts input samples.

#include "FftPlanCache.h"
#include "FirFilter.h"
#include "PdLocFilter.h"
#include "PdTestvoltage.h"
#include "PdTvDAC.h"
#include "SampleBuffer.h"
#include "SignalPrimitives.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> noise(int n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float &v : x)
        v = normal(generator);
    return x;
}

std::vector<float> dampedOscillation(int n)
{
    std::vector<float> x = noise(n, 1);
    for (int i = 0; i < n; ++i) {
        const double t = i / 1e5;
        x[i] = static_cast<float>(std::exp(-20.0 * t) * std::sin(2 * kPi * 50.0 * t) + 0.001 * x[i]);
    }
    return x;
}

void BM_AutoCorrelation(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<float> x = noise(n, 2);
    std::vector<float> r(static_cast<std::size_t>(n / 2));
    for (auto _ : state) {
        if (dsp::autoCorrelation(x.data(), n, r.data(), n / 2, dsp::AutoCorrUnbiased) != dsp::Ok)
            state.SkipWithError("autoCorrelation failed");
        benchmark::DoNotOptimize(r.data());
    }
    state.SetComplexityN(n);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AutoCorrelation)->RangeMultiplier(2)->Range(1 << 14, 1 << 20)->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);

void BM_RealFft(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    FftPlanCache::Lease plan = FftPlanCache::instance().acquireAtLeast(n + n / 2 - 1);
    const int size = plan.size();
    SampleBuffer buffer;
    if (!plan.isValid() || !buffer.reserve(FftPlanCache::bufferFloats(size))) {
        state.SkipWithError("no plan");
        return;
    }
    const std::vector<float> x = noise(FftPlanCache::bufferFloats(size), 6);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(x.begin(), x.end(), buffer.data());
        state.ResumeTiming();
        plan.forward(buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["size"] = size;
    state.SetComplexityN(n);
}
BENCHMARK(BM_RealFft)->RangeMultiplier(2)->Range(1 << 14, 1 << 20)->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);

void BM_PdTvDACProcess(benchmark::State &state)
{
    const int n = 200000;
    const std::vector<float> x = dampedOscillation(n);
    std::vector<float> y(x.size());
    PdTvDAC analyser;
    analyser.setParameter(PdTvDAC::SampleRate, 1e5);
    for (auto _ : state) {
        if (analyser.process(x.data(), y.data(), n) != dsp::Ok)
            state.SkipWithError("process failed");
        benchmark::DoNotOptimize(y.data());
    }
    double frequency = 0;
    analyser.getResult(PdTvDAC::Frequency, &frequency);
    if (std::fabs(frequency - 50.0) > 0.25)
        state.SkipWithError("wrong frequency");
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PdTvDACProcess)->Unit(benchmark::kMicrosecond);

void runFir(benchmark::State &state, const float *taps, int count)
{
    const int n = 200000;
    const std::vector<float> x = noise(n, 3);
    std::vector<float> y(x.size());
    FirFilter filter;
    filter.setTaps(taps, count);
    for (auto _ : state) {
        filter.apply(x.data(), y.data(), n);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_SmoothingFilter(benchmark::State &state)
{
    float taps[PdTestvoltage::kSmoothingTaps];
    PdTestvoltage::smoothingTaps(taps);
    runFir(state, taps, PdTestvoltage::kSmoothingTaps);
}
BENCHMARK(BM_SmoothingFilter)->Unit(benchmark::kMicrosecond);

void BM_SlopeFilter(benchmark::State &state)
{
    float taps[PdTvDAC::kSlopeTaps];
    PdTvDAC::slopeTaps(taps);
    runFir(state, taps, PdTvDAC::kSlopeTaps);
}
BENCHMARK(BM_SlopeFilter)->Unit(benchmark::kMicrosecond);

void BM_PdLocFilterProcess(benchmark::State &state)
{
    const int n = 100000;
    const std::vector<float> first = noise(n, 4);
    const std::vector<float> x = noise(n, 5);
    std::vector<float> y(x.size());
    PdLocFilter filter(5e4f, 2.5e7f, 1.25e8f);
    filter.process(first.data(), y.data(), n);
    for (auto _ : state) {
        if (filter.process(x.data(), y.data(), n) != dsp::Ok)
            state.SkipWithError("process failed");
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PdLocFilterProcess)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
