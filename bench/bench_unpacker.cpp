// Raw packet unpacking (RawDataUnpacker_v2::onUnpackData) against plain
// memcpy of the same bytes.
//
// Every benchmark works on one packet of 24 header bytes and a 64 KiB sample
// block, the size of a full data frame's payload, filled with fixed
// pseudo-random bytes. bytes_per_second counts packet bytes (header included),
// so all figures compare directly with memcpy of the packet.
//
//   BM_Memcpy          the packet into a buffer of the same size
//   BM_Unpack16        group 0, one 16-bit channel
//   BM_Unpack8Pairs    group 0, two interleaved 8-bit channels
//   BM_Unpack32        groups 1 to 4: eight bit planes and one 32-bit channel
//
// compensation:1 is the default (gain compensation on, gain A 20 dB);
// compensation:0 leaves out the in-place multiplication.
//
// The unpacker is called directly on this thread; its signals go to a lambda
// through a direct connection that touches every block's first and last byte
// and counts the bytes, so queued delivery is not part of the figure but
// allocation, emission and the block's release are (on a warmed heap, see
// warmHeap()). bench/compare_unpacker.py runs this program next to the same
// work in numpy.

#include "RawDataUnpacker_v2.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>

namespace {

constexpr int kPayload = 64 * 1024;

// One packet: group, layout, two unread bytes, gain A, gain B, trigger and
// packet timestamps, then the samples.
QByteArray makePacket(quint8 group, quint8 layout)
{
    QByteArray packet(RawDataUnpacker_v2::kHeaderSize + kPayload, Qt::Uninitialized);
    auto *d = reinterpret_cast<unsigned char *>(packet.data());
    std::memset(d, 0, RawDataUnpacker_v2::kHeaderSize);
    d[0] = group;
    d[1] = layout;
    d[4] = 0x00; // gain A 0x1400: 20 dB
    d[5] = 0x14;
    d[6] = 0x00; // gain B 0xf600: -10 dB
    d[7] = 0xf6;
    d[8] = 1;
    d[16] = 2;
    std::mt19937 random(1234u + group * 7u + layout);
    for (int i = RawDataUnpacker_v2::kHeaderSize; i < packet.size(); ++i)
        d[i] = static_cast<unsigned char>(random());
    return packet;
}

struct Sink
{
    std::int64_t blocks = 0;
    std::int64_t bytes = 0;
    unsigned touched = 0;
};

// A packet's blocks, 128 to 256 KiB together, are allocated and, here, freed
// again at once. On a fresh glibc heap that free leaves more than the default
// trim threshold (128 KiB) at the top, so every packet would hand pages back to
// the kernel and fault them in again: the figure would measure brk() and page
// faults, and change with which benchmark happened to run first. A running
// plug-in has long since freed chunks of megabytes, which raises glibc's
// thresholds for good; one such block at the start puts the heap in that state.
void warmHeap()
{
    QByteArray chunk(8 << 20, '\0');
    benchmark::DoNotOptimize(chunk.data());
}

void runUnpack(benchmark::State &state, quint8 group, quint8 layout, std::int64_t blocksPerPacket,
               std::int64_t outputBytesPerPacket)
{
    QLoggingCategory::setFilterRules(QStringLiteral("dravik.debug=false"));
    warmHeap();
    const QByteArray packet = makePacket(group, layout);
    RawDataUnpacker_v2 unpacker;
    unpacker.onSetGainCompensation(state.range(0) != 0);
    Sink sink;
    QObject::connect(&unpacker, &RawDataUnpacker_v2::channelData, &unpacker,
                     [&sink](int, quint64, quint64, const QByteArray &block) {
                         ++sink.blocks;
                         sink.bytes += block.size();
                         sink.touched += uchar(block.constData()[0]) + uchar(block.constData()[block.size() - 1]);
                     },
                     Qt::DirectConnection);

    for (auto _ : state) {
        unpacker.onUnpackData(packet);
        benchmark::DoNotOptimize(sink.touched);
    }

    const std::int64_t runs = state.iterations();
    if (sink.blocks != runs * blocksPerPacket || sink.bytes != runs * outputBytesPerPacket)
        state.SkipWithError("the unpacker did not emit the expected blocks");
    state.SetBytesProcessed(runs * packet.size());
}

void BM_Memcpy(benchmark::State &state)
{
    const QByteArray packet = makePacket(1, 0);
    QByteArray target(packet.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(target.data(), packet.constData(), size_t(packet.size()));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    if (target != packet)
        state.SkipWithError("memcpy reference copied the wrong bytes");
    state.SetBytesProcessed(state.iterations() * packet.size());
}

void BM_Unpack16(benchmark::State &state)
{
    runUnpack(state, 0, 0, 1, kPayload / 2 * 4);
}

void BM_Unpack8Pairs(benchmark::State &state)
{
    runUnpack(state, 0, 1, 2, 2 * (kPayload / 2) * 4);
}

void BM_Unpack32(benchmark::State &state)
{
    const int n = kPayload / 4;
    runUnpack(state, quint8(state.range(1)), 0, 9, 8 * n + 4 * n);
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Unpack16)->ArgName("compensation")->Arg(1)->Arg(0);
BENCHMARK(BM_Unpack8Pairs)->ArgName("compensation")->Arg(1)->Arg(0);
BENCHMARK(BM_Unpack32)
    ->ArgNames({"compensation", "group"})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Args({1, 3})
    ->Args({1, 4})
    ->Args({0, 1});

} // namespace

BENCHMARK_MAIN();
