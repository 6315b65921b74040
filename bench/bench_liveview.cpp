// The live view of dravik-host gui under load.
//
//   BM_MinMaxDecimation/samples/columns
//       MinMaxDecimation::columns on one float chunk, and memcpy of the same
//       chunk in the same iteration: the benchmark's time is the decimation
//       alone (manual time), ratio_to_memcpy the memcpy time over the
//       decimation time summed over the run, so load from elsewhere falls on
//       both sides alike. Budget: 2 M samples to 2 000 columns at a ratio of
//       at least 0.25.
//
//   BM_GuiEventLoopLatency/time_scale/record
//       The measurement station (StationWindow) with the live tab shown,
//       against a simulator on a thread of its own in this process (damped AC,
//       device time time_scale times the wall clock), DAC+ measurement
//       running through the plug-in; with record 1 the measurement is
//       recorded to a temporary HDF5 file as well. A 10 ms single-shot timer
//       on the GUI thread is armed again each time it fires; its lateness is
//       the figure: p50_ms, p99_ms, max_ms over kMeasureSeconds. Budget: p99
//       under 50 ms at the simulator's full rate. The counters also give
//       what the window took (MB_per_s of chunk data, chunks_drawn,
//       chunks_dropped), the frames the simulator dropped because the host
//       did not fetch them in time (sim_lost_frames), the CPU the GUI thread
//       and the process used (gui_cpu_share, process_cpu_share, in cores)
//       and the longest event the GUI thread handled (longest_event_ms wall,
//       longest_event_cpu_ms on the CPU; the program names both on stderr).
//
//   BM_IdleEventLoopLatency
//       The same timer with nothing else in the process: the machine's own
//       share of the lateness, in the same run.

#include "DeviceSession.h"
#include "DravikSimulator.h"
#include "LiveView.h"
#include "MinMaxDecimation.h"
#include "PluginDevice.h"
#include "RunReport.h"
#include "StationWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void BM_MinMaxDecimation(benchmark::State &state)
{
    const int n = int(state.range(0));
    const int columns = int(state.range(1));
    // Noise with a pulse now and then, as a PD record looks; a fixed
    // generator so that every run sees the same data.
    std::vector<float> samples(std::size_t(n), 0.0f);
    quint32 seed = 12345;
    for (float &v : samples) {
        seed = seed * 1664525u + 1013904223u;
        v = float(int(seed >> 8) - (1 << 23)) * 1e-10f;
    }
    for (int i = 1000; i < n; i += 300007)
        samples[std::size_t(i)] = 0.39f;
    std::vector<float> copy(samples.size());

    // The result must be right before its speed counts.
    const QVector<MinMaxDecimation::Column> check = MinMaxDecimation::columns(samples.data(), n, columns);
    for (int c = 0; c < check.size(); ++c) {
        const auto begin = samples.begin() + qint64(c) * n / columns;
        const auto end = samples.begin() + qint64(c + 1) * n / columns;
        const auto [lo, hi] = std::minmax_element(begin, end);
        if (check.size() != columns || check[c].minimum != *lo || check[c].maximum != *hi) {
            state.SkipWithError("decimation differs from std::minmax_element");
            return;
        }
    }

    double decimation = 0;
    double memcpySeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const QVector<MinMaxDecimation::Column> result = MinMaxDecimation::columns(samples.data(), n, columns);
        benchmark::DoNotOptimize(result.constData());
        const auto t1 = Clock::now();
        std::memcpy(copy.data(), samples.data(), samples.size() * sizeof(float));
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        const double seconds = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(seconds);
        decimation += seconds;
        memcpySeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    const double bytes = double(state.iterations()) * double(n) * sizeof(float);
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["GBps"] = bytes / decimation / 1e9;
    state.counters["memcpy_GBps"] = bytes / memcpySeconds / 1e9;
    state.counters["ratio_to_memcpy"] = memcpySeconds / decimation;
}
BENCHMARK(BM_MinMaxDecimation)
    ->ArgNames({"samples", "columns"})
    ->Args({2000000, 2000})
    ->Args({6250000, 1000})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The application, timing every event the GUI thread handles at the top
// level: where the time goes when the event loop is late.
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    struct Longest
    {
        double ms = 0;
        double cpuMs = 0; // of the GUI thread while it ran
        QByteArray what;
    };

    static double threadCpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth > 0 || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        ++m_depth;
        QElapsedTimer clock;
        clock.start();
        const double cpu = threadCpuMs();
        const int type = int(event->type());
        const QByteArray what = QByteArray(receiver->metaObject()->className()) + " event " + QByteArray::number(type);
        const bool result = QApplication::notify(receiver, event);
        const double ms = clock.nsecsElapsed() / 1e6;
        --m_depth;
        if (ms > longest.ms)
            longest = Longest{ms, threadCpuMs() - cpu, what};
        const double cpuMs = threadCpuMs() - cpu;
        if (cpuMs > longestCpu.cpuMs)
            longestCpu = Longest{ms, cpuMs, what};
        return result;
    }

    Longest longest;    // by wall time
    Longest longestCpu; // by the GUI thread's CPU time

private:
    int m_depth = 0;
};

// The program's application (main() makes it): widgets want one.
TimingApplication *g_application = nullptr;

// Runs the event loop until condition holds or ms have passed.
bool waitFor(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(20);
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        loop.exec();
    }
    return true;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    const std::size_t at = std::min(values.size() - 1, std::size_t(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(at), values.end());
    return values[at];
}

const int kMeasureSeconds = 10;
const int kTimerMs = 10;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// A 10 ms single-shot timer on this (the GUI) thread, armed again each time
// it fires, for kMeasureSeconds: how late each timeout came, and the CPU
// the GUI thread and the whole process used meanwhile.
struct Lateness
{
    std::vector<double> ms;
    double seconds = 0;
    double guiCpu = 0;
    double processCpu = 0;
};

Lateness measureLateness()
{
    Lateness result;
    g_application->longest = TimingApplication::Longest();
    g_application->longestCpu = TimingApplication::Longest();
    const std::clock_t processStart = std::clock();
    const double threadStart = threadCpuSeconds();
    QElapsedTimer clock;
    QElapsedTimer armed;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        result.ms.push_back(armed.nsecsElapsed() / 1e6 - kTimerMs);
        if (clock.elapsed() >= kMeasureSeconds * 1000) {
            loop.quit();
            return;
        }
        armed.start();
        timer.start(kTimerMs);
    });
    clock.start();
    armed.start();
    timer.start(kTimerMs);
    loop.exec();
    result.seconds = clock.elapsed() / 1000.0;
    result.guiCpu = threadCpuSeconds() - threadStart;
    result.processCpu = double(std::clock() - processStart) / CLOCKS_PER_SEC;
    return result;
}

void report(benchmark::State &state, const Lateness &l)
{
    state.counters["p50_ms"] = percentile(l.ms, 0.50);
    state.counters["p99_ms"] = percentile(l.ms, 0.99);
    state.counters["max_ms"] = l.ms.empty() ? 0.0 : *std::max_element(l.ms.begin(), l.ms.end());
    state.counters["ticks"] = double(l.ms.size());
    state.counters["gui_cpu_share"] = l.guiCpu / l.seconds;
    state.counters["process_cpu_share"] = l.processCpu / l.seconds;
    state.counters["longest_event_ms"] = g_application->longest.ms;
    state.counters["longest_event_cpu_ms"] = g_application->longestCpu.cpuMs;
    for (const TimingApplication::Longest &e : {g_application->longest, g_application->longestCpu}) {
        if (e.ms > 0)
            std::fprintf(stderr, "GUI thread event: %.1f ms, %.1f ms of it on the CPU, %s\n", e.ms, e.cpuMs,
                         e.what.constData());
    }
}

// The same timer with nothing else in the process: what the machine's own
// load does to it, the reference for the figure below.
void BM_IdleEventLoopLatency(benchmark::State &state)
{
    Lateness lateness;
    for (auto _ : state)
        lateness = measureLateness();
    report(state, lateness);
}
BENCHMARK(BM_IdleEventLoopLatency)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The measurement station on the live tab, its measurement running against
// the simulator, and optionally recording.
void measureStation(benchmark::State &state, DravikSimulator *sim)
{
    PluginDevice plugin(QStringLiteral(DRAVIK_PLUGIN_PATH));
    StationWindow::Options options;
    options.address = QStringLiteral("127.0.0.1:%1").arg(sim->serverPort());
    options.settings.insert(QStringLiteral("NetworkAddress"), options.address);
    if (plugin.prepare(options.settings, options.address) != 0) {
        state.SkipWithError("the plug-in could not be prepared");
        return;
    }
    QTemporaryDir dir;
    StationWindow window(&plugin, options);
    window.tabs()->setCurrentWidget(window.liveView());
    window.resize(1100, 780);
    window.show();
    window.connectDevice();
    window.setRecordPath(dir.filePath(QStringLiteral("run.h5")));
    using State = DeviceSession::State;
    const auto is = [&](State s) { return window.session() && window.session()->state() == s; };
    if (!waitFor([&] { return is(State::Open); }, 20000) || (state.range(1) != 0 && !window.setRecording(true))
        || !window.startMeasurement()
        || !waitFor([&] { return is(State::Running) && window.liveView()->chunksDrawn() > 0; }, 20000)) {
        state.SkipWithError("no measurement running");
        window.shutDown();
        return;
    }
    const int lostBefore = sim->lostFrames();
    const int drawnBefore = window.liveView()->chunksDrawn();
    const int droppedBefore = window.liveView()->chunksDropped();
    qint64 bytes = 0;
    QObject::connect(window.session(), &DeviceSession::chunkTaken,
                     [&bytes](int, const ChannelData &chunk) { bytes += chunk.data ? chunk.data->size() : 0; });
    Lateness lateness;
    for (auto _ : state)
        lateness = measureLateness();
    report(state, lateness);
    state.counters["MB_per_s"] = double(bytes) / lateness.seconds / 1e6;
    state.counters["chunks_drawn"] = window.liveView()->chunksDrawn() - drawnBefore;
    state.counters["chunks_dropped"] = window.liveView()->chunksDropped() - droppedBefore;
    state.counters["sim_lost_frames"] = sim->lostFrames() - lostBefore;
    window.shutDown();
}

void BM_GuiEventLoopLatency(benchmark::State &state)
{
    QThread thread;
    auto *sim = new DravikSimulator;
    sim->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, sim, &QObject::deleteLater);
    thread.start();
    sim->setScenario(SimScenario::DampedAc);
    sim->setTimeScale(double(state.range(0)));
    if (sim->listen())
        measureStation(state, sim);
    else
        state.SkipWithError("cannot listen on loopback");
    sim->close();
    thread.quit();
    thread.wait();
}
BENCHMARK(BM_GuiEventLoopLatency)
    ->ArgNames({"time_scale", "record"})
    ->Args({1, 0})
    ->Args({10, 0})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

// The application lives on main()'s stack: as a static it would outlive Qt's
// thread data and crash the program on its way out.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    TimingApplication application(qtArgc, argv);
    g_application = &application;
    // The simulator reports the frames a host leaves behind; not worth a line each.
    QLoggingCategory::setFilterRules(QStringLiteral("dravik=false\ndravik.*=false"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
