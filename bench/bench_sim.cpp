// Data rate of the detector simulator: how fast it makes raw data packets, and
// how many raw packet bytes per second it serves to a host on loopback.
//
//   BM_Synthesis/<group>  packets of one frame made in memory, no socket:
//                         0 the 125 MHz muxer (16-bit), 2 a charge group (32-bit)
//   BM_ServeLoopback      a host that only reads: it asks for muxer frames of
//                         20 ms (2.5 M samples, 5 MB) one after the other and
//                         counts the bytes of every response up to each
//                         frame's termination packet. The simulator runs on a
//                         thread of its own, its device time 100 times the
//                         wall clock so that a frame is always ready.
//
//   BM_PluginEndToEnd/detectors:N
//                         the same stream through the plug-in's detector
//                         device: socket and codec on the protocol thread,
//                         unpacking on the unpack thread, chunks made and
//                         taken on this thread. bytes_per_second counts raw
//                         sample bytes (2 per muxer sample) of the chunks
//                         taken; cpu_s_per_GB the process's CPU time per GB,
//                         plugin_cpu_s_per_GB the same without the
//                         simulator's thread (so the plug-in and this
//                         thread, which takes the chunks as a host would).
//                         With N of 2 and 3, as many simulators and devices
//                         in one process (one host thread): bytes_per_second
//                         is the aggregate, least_share the detector that got
//                         least against a fair share, vs_one_detector the
//                         aggregate against N = 1 of the same run.
//
// bytes_per_second is the figure; the plug-in's end-to-end rate is measured
// against the loopback one in the same run.

#include "DravikSimulator.h"
#include "Dravik_v2.h"
#include "ParameterHandler.h"
#include "SimIdentity.h"
#include "SimPacketStream.h"
#include "SimParameterMemory.h"
#include "SimPayloads.h"
#include "SimProtocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <vector>

#include <pthread.h>
#include <time.h>

namespace {

void BM_Synthesis(benchmark::State &state)
{
    const int group = int(state.range(0));
    SimParameterMemory memory{SimIdentity()};
    SimPacketStream::Frame frame;
    frame.group = quint8(group);
    frame.samples = 1 << 20;
    frame.frontEnd = SimSignalModel::frontEndFrom(memory);
    qint64 bytes = 0;
    qint64 start = 0;
    for (auto _ : state) {
        frame.startNs = frame.triggerNs = start; // a new stretch of noise each time
        start += qint64(frame.samples) * SimSignalModel::samplePeriodNs(group);
        SimPacketStream stream(frame);
        while (!stream.atEnd()) {
            const QByteArray response = stream.nextResponse(SimProtocol::Running);
            bytes += response.size();
            benchmark::DoNotOptimize(response.constData());
        }
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Synthesis)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

QByteArray request(quint16 command, const QByteArray &payload)
{
    QByteArray frame(4, '\0');
    qToLittleEndian<quint16>(command, frame.data());
    qToLittleEndian<quint16>(quint16(payload.size()), frame.data() + 2);
    return frame + payload;
}

// Reads responses until a frame's termination packet; returns the bytes read,
// 0 if the simulator had no frame ready, -1 if it went quiet. Parses in place
// and drops consumed bytes once per read, so the host side costs little.
qint64 readFrame(QTcpSocket &socket, QByteArray &buffer)
{
    qint64 total = 0;
    int pos = 0;
    for (;;) {
        while (buffer.size() - pos < 8
               || buffer.size() - pos - 8 < qFromLittleEndian<quint16>(buffer.constData() + pos + 6)) {
            buffer.remove(0, pos);
            pos = 0;
            if (!socket.waitForReadyRead(5000))
                return -1;
            buffer += socket.readAll();
        }
        const int length = qFromLittleEndian<quint16>(buffer.constData() + pos + 6);
        const quint16 ack = qFromLittleEndian<quint16>(buffer.constData() + pos + 2);
        pos += 8 + length;
        total += 8 + length;
        if (ack != 0 || length == 24) {
            buffer.remove(0, pos);
            return ack != 0 ? 0 : total;
        }
    }
}

// Sockets and timers want an application object; one for the whole program.
void ensureApplication()
{
    static int argc = 1;
    static char name[] = "bench_sim";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    // A host that only reads lets the simulator drop frames, which it reports;
    // that is expected here and not worth a line each.
    QLoggingCategory::setFilterRules(QStringLiteral("dravik=false\ndravik.*=false"));
}

// Muxer frames of frameNs for ever, the other groups idle. The device writes
// its own timings when it connects, so a benchmark of the device sets these
// again once it is open (on the simulator's thread, as here).
void setStreamingTimings(DravikSimulator *sim, qint64 frameNs)
{
    QMetaObject::invokeMethod(sim, [sim, frameNs] {
        for (quint8 group = 0; group < SimProtocol::kGroupCount; ++group) {
            SimPayloads::Timing timing;
            timing.channel = group;
            timing.periods = group == 0 ? 0xFFFFFFFFu : 0;
            timing.samplePeriod = timing.framePeriod = quint64(frameNs);
            sim->setParameter(SimProtocol::GetTimings, group, SimPayloads::encode(timing));
        }
    }, Qt::BlockingQueuedConnection);
}

// A simulator on a thread of its own that streams muxer frames of frameNs
// for ever (device time 100 times the wall clock, so a frame is always ready).
DravikSimulator *startStreamingSimulator(QThread &thread, qint64 frameNs)
{
    auto *sim = new DravikSimulator;
    sim->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, sim, &QObject::deleteLater);
    thread.start();
    sim->setTimeScale(100.0);
    sim->setAcquisitionDelays(0, 0, 0);
    setStreamingTimings(sim, frameNs);
    return sim;
}

void BM_ServeLoopback(benchmark::State &state)
{
    ensureApplication();
    QThread thread;
    DravikSimulator *sim = startStreamingSimulator(thread, 20000000);
    if (!sim->listen()) {
        state.SkipWithError("cannot listen on loopback");
        return;
    }
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), sim->serverPort());
    if (!socket.waitForConnected(5000)) {
        state.SkipWithError("cannot connect");
        return;
    }
    socket.setReadBufferSize(0);
    QByteArray buffer;
    socket.write(request(SimProtocol::StartMeasurement, QByteArray()));
    socket.waitForBytesWritten();
    readFrame(socket, buffer); // the start acknowledge

    qint64 bytes = 0;
    qint64 frames = 0;
    for (auto _ : state) {
        socket.write(request(SimProtocol::TransferData, QByteArray(1, '\0')));
        socket.waitForBytesWritten();
        const qint64 got = readFrame(socket, buffer);
        if (got < 0) {
            state.SkipWithError("simulator stopped answering");
            break;
        }
        bytes += got;
        frames += got > 0 ? 1 : 0;
    }
    state.SetBytesProcessed(bytes);
    state.counters["frames"] = double(frames);
    socket.abort();
    thread.quit();
    thread.wait();
}
BENCHMARK(BM_ServeLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

// Sleeps in the event loop until condition holds, as a host would. Not
// QCoreApplication::processEvents(flags, ms): that overload drops
// WaitForMoreEvents and spins, which took a whole core from the threads being
// measured. The ticking timer wakes the wait so that the deadline is checked.
bool waitFor(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(50);
    QEventLoop loop;
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// CPU seconds a thread has used so far, read from any thread.
double threadCpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The CPU clock of the thread obj lives on.
clockid_t cpuClockOf(QObject *obj)
{
    clockid_t clock = CLOCK_THREAD_CPUTIME_ID;
    QMetaObject::invokeMethod(obj, [&clock] { pthread_getcpuclockid(pthread_self(), &clock); },
                              Qt::BlockingQueuedConnection);
    return clock;
}

// The aggregate rate of BM_PluginEndToEnd/detectors:1, for the ratio the
// runs with more detectors report (they run after it, in the same program).
double g_singleRate = 0.0;

void BM_PluginEndToEnd(benchmark::State &state)
{
    ensureApplication();
    const int n = int(state.range(0));
    // One simulator per detector, each on a thread of its own. Larger frames
    // than above: the device asks for a channel at most once per state poll
    // (100 ms), so the frame size sets its ceiling.
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<DravikSimulator *> sims;
    for (int i = 0; i < n; ++i) {
        threads.push_back(std::make_unique<QThread>());
        sims.push_back(startStreamingSimulator(*threads.back(), 100000000));
        if (!sims.back()->listen()) {
            state.SkipWithError("cannot listen on loopback");
            break;
        }
    }
    if (int(sims.size()) == n) {
        // Every device in this thread, as one host drives them.
        std::vector<std::unique_ptr<Dravik_v2>> devices;
        std::vector<qint64> sampleBytes(size_t(n), 0);
        int opened = 0;
        for (int i = 0; i < n; ++i) {
            devices.push_back(std::make_unique<Dravik_v2>());
            Dravik_v2 &device = *devices.back();
            device.initialize();
            // The simulator on this machine; expert mode keeps the timings above.
            device.setValue(1171, QStringLiteral("127.0.0.1:%1").arg(sims[size_t(i)]->serverPort()));
            device.setValue(2010, true);
            device.setDataTransferEnabled(true);
            qint64 *bytes = &sampleBytes[size_t(i)];
            QObject::connect(&device, &AbstractDevice::channelDataAvailable, [&device, bytes](int channel, int token) {
                bool ok = false;
                const ChannelData chunk = device.takeChannelData(channel, token, &ok);
                if (ok && chunk.dataType == ChannelData::DataTypeFloat)
                    *bytes += chunk.data->size() / 2; // back to 16-bit samples
            });
            QObject::connect(&device, &AbstractDevice::opened, [&opened] { ++opened; });
            device.open();
        }
        const auto total = [&] { return std::accumulate(sampleBytes.begin(), sampleBytes.end(), qint64(0)); };
        const auto all = [&](const std::function<bool(int)> &condition) {
            for (int i = 0; i < n; ++i) {
                if (!condition(i))
                    return false;
            }
            return true;
        };
        // Open, and the device's own writes of the timings gone out.
        const auto ready = [&](int i) {
            const Dravik_v2 &device = *devices[size_t(i)];
            return !device.hwChannelMap().isEmpty() && device.deviceContainer()->pendingIds().isEmpty();
        };
        if (!waitFor([&] { return opened == n && all(ready); }, 10000)) {
            state.SkipWithError("device did not open");
        } else {
            for (DravikSimulator *sim : sims)
                setStreamingTimings(sim, 100000000);
            for (auto &device : devices)
                device->start();
            // The first frame of each warms up.
            waitFor([&] { return all([&](int i) { return sampleBytes[size_t(i)] > 0; }); }, 10000);
            std::vector<clockid_t> simClocks;
            double simStart = 0.0;
            for (DravikSimulator *sim : sims) {
                simClocks.push_back(cpuClockOf(sim));
                simStart += threadCpuSeconds(simClocks.back());
            }
            const std::vector<qint64> base = sampleBytes;
            const std::clock_t cpuStart = std::clock();
            QElapsedTimer wall;
            wall.start();
            for (auto _ : state) {
                const qint64 before = total();
                if (!waitFor([&] { return total() > before; }, 10000)) {
                    state.SkipWithError("no data");
                    break;
                }
            }
            const double seconds = wall.nsecsElapsed() * 1e-9;
            const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            double simCpu = -simStart;
            for (clockid_t clock : simClocks)
                simCpu += threadCpuSeconds(clock);
            qint64 counted = 0;
            qint64 least = std::numeric_limits<qint64>::max();
            for (int i = 0; i < n; ++i) {
                const qint64 got = sampleBytes[size_t(i)] - base[size_t(i)];
                counted += got;
                least = std::min(least, got);
            }
            state.SetBytesProcessed(counted);
            const double gb = double(counted) / 1e9;
            state.counters["cpu_s_per_GB"] = counted > 0 ? cpu / gb : 0.0;
            state.counters["plugin_cpu_s_per_GB"] = counted > 0 ? (cpu - simCpu) / gb : 0.0;
            // The detector that got least, against a fair share of the total
            // (each detector should have at least 0.8 of it).
            state.counters["least_share"] = counted > 0 ? double(least) * n / double(counted) : 0.0;
            const double rate = seconds > 0 ? double(counted) / seconds : 0.0;
            if (n == 1)
                g_singleRate = rate;
            else if (g_singleRate > 0)
                state.counters["vs_one_detector"] = rate / g_singleRate;
            for (auto &device : devices)
                device->stop(false);
        }
    }
    for (auto &thread : threads) {
        thread->quit();
        thread->wait();
    }
}
// One detector, then two and three at once in the same run: the aggregate
// should not fall below one detector's rate, and no detector below 0.8 of a
// fair share.
BENCHMARK(BM_PluginEndToEnd)->ArgName("detectors")->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(10.0);

} // namespace

BENCHMARK_MAIN();
