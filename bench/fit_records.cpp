// The report's test voltage fit over records from a file, for
// bench/compare_fit.py: per record the plug-in's estimate (PdTvDAC), the fit
// seeded from it, and the CPU time of the fit alone, as JSON lines.
//
// usage: fit_records RECORDS.f32 SAMPLES_PER_RECORD SAMPLE_RATE [REPEAT]
#include "DampedCosineFit.h"
#include "PdTvDAC.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fputs("usage: fit_records RECORDS.f32 SAMPLES_PER_RECORD SAMPLE_RATE [REPEAT]\n", stderr);
        return 2;
    }
    const int n = std::atoi(argv[2]);
    const double rate = std::atof(argv[3]);
    const int repeat = argc > 4 ? std::max(1, std::atoi(argv[4])) : 20;
    std::FILE *in = std::fopen(argv[1], "rb");
    if (!in || n < DampedCosineFit::kMinSamples || !(rate > 0)) {
        std::fputs("fit_records: cannot read the records\n", stderr);
        return 2;
    }
    std::vector<float> record(static_cast<size_t>(n));
    while (std::fread(record.data(), sizeof(float), record.size(), in) == record.size()) {
        PdTvDAC plugin;
        plugin.setParameter(InterfacePdTestvoltage::SampleRate, rate);
        std::vector<float> conditioned(record);
        plugin.process(conditioned.data(), conditioned.data(), n);
        DampedCosineFit::Seed seed;
        plugin.getResult(InterfacePdTestvoltage::Frequency, &seed.frequency);
        plugin.getResult(InterfacePdTestvoltage::Attenuation, &seed.attenuation);
        DampedCosineFit::Result fit;
        const double start = cpuSeconds();
        for (int k = 0; k < repeat; ++k)
            fit = DampedCosineFit::fit(record.data(), n, rate, seed);
        const double seconds = (cpuSeconds() - start) / repeat;
        std::printf("{\"plugin_frequency\": %.12g, \"plugin_attenuation\": %.12g, \"ok\": %s, \"frequency\": %.12g, "
                    "\"attenuation\": %.12g, \"amplitude\": %.12g, \"iterations\": %d, \"seconds\": %.9g}\n",
                    seed.frequency, seed.attenuation, fit.ok ? "true" : "false", fit.frequency, fit.attenuation,
                    fit.amplitude, fit.iterations, seconds);
    }
    std::fclose(in);
    return 0;
}
