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
//   BM_PluginEndToEnd     the same stream through the plug-in's detector
//                         device: socket and codec on the protocol thread,
//                         unpacking on the unpack thread, chunks made and
//                         taken on this thread. bytes_per_second counts raw
//                         sample bytes (2 per muxer sample) of the chunks
//                         taken; cpu_s_per_GB the process's CPU time per GB,
//                         plugin_cpu_s_per_GB the same without the
//                         simulator's thread (so the plug-in and this
//                         thread, which takes the chunks as a host would).
//
// bytes_per_second is the figure; the plug-in's end-to-end rate is measured
// against the loopback one in the same run.

#include "DravikSimulator.h"
#include "Dravik_v2.h"
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

#include <ctime>
#include <functional>

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
    for (quint8 group = 0; group < SimProtocol::kGroupCount; ++group) {
        SimPayloads::Timing timing;
        timing.channel = group;
        timing.periods = group == 0 ? 0xFFFFFFFFu : 0;
        timing.samplePeriod = timing.framePeriod = quint64(frameNs);
        sim->setParameter(SimProtocol::GetTimings, group, SimPayloads::encode(timing));
    }
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

void BM_PluginEndToEnd(benchmark::State &state)
{
    ensureApplication();
    QThread thread;
    // Larger frames than above: the device asks for a channel at most once per
    // state poll (100 ms), so the frame size sets its ceiling.
    DravikSimulator *sim = startStreamingSimulator(thread, 100000000);
    if (!sim->listen()) {
        state.SkipWithError("cannot listen on loopback");
        return;
    }
    {
        Dravik_v2 device;
        device.initialize();
        // The simulator on this machine; expert mode keeps the timings above.
        device.setValue(1171, QStringLiteral("127.0.0.1:%1").arg(sim->serverPort()));
        device.setValue(2010, true);
        device.setDataTransferEnabled(true);
        qint64 sampleBytes = 0;
        QObject::connect(&device, &AbstractDevice::channelDataAvailable, [&](int channel, int token) {
            bool ok = false;
            const ChannelData chunk = device.takeChannelData(channel, token, &ok);
            if (ok && chunk.dataType == ChannelData::DataTypeFloat)
                sampleBytes += chunk.data->size() / 2; // back to 16-bit samples
        });
        bool opened = false;
        QObject::connect(&device, &AbstractDevice::opened, [&] { opened = true; });
        device.open();
        if (!waitFor([&] { return opened && !device.hwChannelMap().isEmpty(); }, 10000)) {
            state.SkipWithError("device did not open");
        } else {
            device.start();
            waitFor([&] { return sampleBytes > 0; }, 10000); // the first frame warms up
            const clockid_t simClock = cpuClockOf(sim);
            const double simStart = threadCpuSeconds(simClock);
            const std::clock_t cpuStart = std::clock();
            qint64 counted = 0;
            for (auto _ : state) {
                const qint64 before = sampleBytes;
                if (!waitFor([&] { return sampleBytes > before; }, 10000)) {
                    state.SkipWithError("no data");
                    break;
                }
                counted += sampleBytes - before;
            }
            const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            const double simCpu = threadCpuSeconds(simClock) - simStart;
            state.SetBytesProcessed(counted);
            const double gb = double(counted) / 1e9;
            state.counters["cpu_s_per_GB"] = counted > 0 ? cpu / gb : 0.0;
            state.counters["plugin_cpu_s_per_GB"] = counted > 0 ? (cpu - simCpu) / gb : 0.0;
            device.stop(false);
        }
    }
    thread.quit();
    thread.wait();
}
BENCHMARK(BM_PluginEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace

BENCHMARK_MAIN();
