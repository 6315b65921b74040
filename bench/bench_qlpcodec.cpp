// Receive path of the Qlp frame codec against plain memcpy of the same bytes.
//
// Every benchmark walks the same kind of input: about 1 MiB of back-to-back
// response frames, all with one payload size. bytes_per_second counts input
// bytes (headers included), so the figures compare directly with memcpy of
// that stream, which runs in the same program as the reference.
//
//   BM_Memcpy              the whole stream into a buffer of the same size
//   BM_MemcpyInto64KiB     the stream in 64 KiB pieces into one 64 KiB buffer,
//                          the footprint the codec's receive buffer has; it
//                          stays in cache, so this is the faster reference
//   BM_ReceiveCodecOnly    qlp::receive with a handler that only counts frames
//   BM_ReceiveQByteArray   the same, the handler wrapping each payload in a
//                          QByteArray as QlpConverter_v2 does (one allocation
//                          and one copy per frame)
//
// chunk is the size of the pieces receive() gets, the way the socket hands over
// whatever it holds: 1460 is one Ethernet segment, 65536 a full read, 0 the
// whole stream in one call. Chunks ignore frame boundaries on purpose.
//
// At the end the program prints each receive figure as a fraction of the faster
// of the two memcpy figures for the same stream and whether the 64 KiB frames
// stay within the budget.

#include "QlpCodec.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kStreamTarget = 1 << 20;
// Fraction of memcpy throughput the receive path has to reach with 64 KiB
// payloads (docs/PERFORMANCE.md).
constexpr double kBudget = 0.25;

// Back-to-back response frames with payloadLength bytes each, together at least
// kStreamTarget bytes. Group, command and codes vary so that nothing depends on
// a constant header.
std::vector<unsigned char> makeStream(std::size_t payloadLength, std::size_t *frames)
{
    const std::size_t frameSize = qlp::kResponseHeaderSize + payloadLength;
    const std::size_t count = (kStreamTarget + frameSize - 1) / frameSize;
    std::vector<unsigned char> stream;
    stream.reserve(count * frameSize);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t header = static_cast<std::uint16_t>(0x8000 | ((i % 0x80) << 8) | (i * 7 % 0x100));
        const std::uint16_t fields[] = {header, static_cast<std::uint16_t>(i % 3),
                                        static_cast<std::uint16_t>(i % 5),
                                        static_cast<std::uint16_t>(payloadLength)};
        for (std::uint16_t field : fields) {
            stream.push_back(static_cast<unsigned char>(field & 0xFF));
            stream.push_back(static_cast<unsigned char>(field >> 8));
        }
        for (std::size_t k = 0; k < payloadLength; ++k)
            stream.push_back(static_cast<unsigned char>((i + k * 31) & 0xFF));
    }
    *frames = count;
    return stream;
}

struct Tally
{
    std::size_t frames = 0;
    std::size_t payloadBytes = 0;
};

int transmitNothing(const unsigned char *, std::size_t, void *)
{
    return 0;
}

int countOnly(qlp::Codec *, std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t, const unsigned char *,
              std::size_t length, void *user)
{
    auto *tally = static_cast<Tally *>(user);
    ++tally->frames;
    tally->payloadBytes += length;
    return 0;
}

// What QlpConverter_v2::responseHandler pays before the signal goes out: the
// payload copied into a fresh QByteArray, freed again when the last reference
// drops.
int wrapInQByteArray(qlp::Codec *, std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t,
                     const unsigned char *payload, std::size_t length, void *user)
{
    QByteArray bytes(reinterpret_cast<const char *>(payload), static_cast<int>(length));
    benchmark::DoNotOptimize(bytes.constData());
    auto *tally = static_cast<Tally *>(user);
    ++tally->frames;
    tally->payloadBytes += static_cast<std::size_t>(bytes.size());
    return 0;
}

void BM_Memcpy(benchmark::State &state)
{
    std::size_t frames = 0;
    const std::vector<unsigned char> stream = makeStream(static_cast<std::size_t>(state.range(0)), &frames);
    std::vector<unsigned char> target(stream.size());
    for (auto _ : state) {
        std::memcpy(target.data(), stream.data(), stream.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    if (target != stream)
        state.SkipWithError("memcpy reference copied the wrong bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void BM_MemcpyInto64KiB(benchmark::State &state)
{
    constexpr std::size_t kPiece = 65536;
    std::size_t frames = 0;
    const std::vector<unsigned char> stream = makeStream(static_cast<std::size_t>(state.range(0)), &frames);
    std::vector<unsigned char> target(kPiece);
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < stream.size(); pos += kPiece) {
            std::memcpy(target.data(), stream.data() + pos, std::min(kPiece, stream.size() - pos));
            benchmark::DoNotOptimize(target.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void runReceive(benchmark::State &state, qlp::ResponseHandler handler)
{
    const std::size_t payloadLength = static_cast<std::size_t>(state.range(0));
    std::size_t frames = 0;
    const std::vector<unsigned char> stream = makeStream(payloadLength, &frames);
    const std::size_t chunk = state.range(1) > 0 ? static_cast<std::size_t>(state.range(1)) : stream.size();

    std::unique_ptr<unsigned char[]> memory(new unsigned char[qlp::kMinMemorySize]);
    qlp::Codec *codec = qlp::init(memory.get(), qlp::kMinMemorySize);
    qlp::setTransmitHandler(codec, &transmitNothing);
    qlp::setResponseHandler(codec, handler);

    Tally tally;
    int last = qlp::Ok;
    bool failed = false;
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            const std::size_t take = std::min(chunk, stream.size() - pos);
            last = qlp::receive(codec, stream.data() + pos, take, &tally);
            failed |= last != qlp::Ok && last != qlp::Incomplete;
        }
        // The stream ends on a frame boundary, so the last call must have
        // delivered everything.
        failed |= last != qlp::Ok;
    }

    const std::size_t runs = static_cast<std::size_t>(state.iterations());
    if (failed)
        state.SkipWithError("receive() returned an error");
    else if (tally.frames != frames * runs || tally.payloadBytes != frames * payloadLength * runs)
        state.SkipWithError("handler did not see every frame");
    state.SetBytesProcessed(static_cast<std::int64_t>(runs * stream.size()));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames * runs), benchmark::Counter::kIsRate);
}

void BM_ReceiveCodecOnly(benchmark::State &state)
{
    runReceive(state, &countOnly);
}

void BM_ReceiveQByteArray(benchmark::State &state)
{
    runReceive(state, &wrapInQByteArray);
}

void receiveCases(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"payload", "chunk"});
    for (std::int64_t chunk : {0, 65536, 1460})
        b->Args({65535, chunk});
    for (std::int64_t chunk : {0, 1460})
        b->Args({16, chunk});
}

BENCHMARK(BM_Memcpy)->ArgName("payload")->Arg(65535)->Arg(16);
BENCHMARK(BM_MemcpyInto64KiB)->ArgName("payload")->Arg(65535)->Arg(16);
BENCHMARK(BM_ReceiveCodecOnly)->Apply(receiveCases);
BENCHMARK(BM_ReceiveQByteArray)->Apply(receiveCases);

// The usual console output, then every receive figure next to the faster memcpy
// of the stream with the same payload size. With repetitions the median is used.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median)
                continue;
            const auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end())
                continue;
            Figure &figure = m_figures[run.run_name.str()];
            if (median || !figure.fromMedian)
                figure = Figure{rate->second.value, median};
            if (std::find(m_order.begin(), m_order.end(), run.run_name.str()) == m_order.end())
                m_order.push_back(run.run_name.str());
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::FILE *out = stdout;
        bool header = false;
        bool allMet = true;
        for (const std::string &name : m_order) {
            const std::string payload = payloadOf(name);
            if (name.rfind("BM_Memcpy", 0) == 0 || payload.empty())
                continue;
            const double reference = referenceFor(payload);
            if (reference <= 0)
                continue;
            if (!header) {
                std::fprintf(out, "\n%-50s %8s %8s %s\n", "receive vs memcpy of the same stream", "GB/s",
                             "ratio", "budget");
                header = true;
            }
            const double gbps = m_figures[name].bytesPerSecond / 1e9;
            const double ratio = m_figures[name].bytesPerSecond / reference;
            const char *verdict = "-";
            if (payload == "65535") {
                verdict = ratio >= kBudget ? "met" : "MISSED";
                allMet &= ratio >= kBudget;
            }
            std::fprintf(out, "%-50s %8.2f %8.3f %s\n", name.c_str(), gbps, ratio, verdict);
        }
        for (const char *payload : {"65535", "16"}) {
            if (referenceFor(payload) > 0)
                std::fprintf(out, "memcpy reference, payload %-5s %8.2f GB/s\n", payload,
                             referenceFor(payload) / 1e9);
        }
        if (header)
            std::fprintf(out, "budget: 64 KiB frames at least %.0f%% of memcpy: %s\n", kBudget * 100,
                         allMet ? "met" : "MISSED");
        std::fflush(out);
    }

private:
    struct Figure
    {
        double bytesPerSecond = 0;
        bool fromMedian = false;
    };

    // The faster memcpy is the stricter yardstick.
    double referenceFor(const std::string &payload) const
    {
        double best = 0;
        for (const char *family : {"BM_Memcpy/payload:", "BM_MemcpyInto64KiB/payload:"}) {
            const auto figure = m_figures.find(family + payload);
            if (figure != m_figures.end())
                best = std::max(best, figure->second.bytesPerSecond);
        }
        return best;
    }

    static std::string payloadOf(const std::string &name)
    {
        const std::string key = "payload:";
        const std::size_t at = name.find(key);
        if (at == std::string::npos)
            return {};
        const std::size_t from = at + key.size();
        return name.substr(from, name.find('/', from) - from);
    }

    std::map<std::string, Figure> m_figures;
    std::vector<std::string> m_order;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
