#!/usr/bin/python3
# Side by side: runs a Google Benchmark program of ours and times the same work
# in numpy/scipy in the same run, then prints how many times faster ours is and
# whether each budget holds. Debian's interpreter on purpose (python3-numpy and
# python3-scipy from scripts/setup).
#
# Usage: bench/compare.py [--build DIR] [--min-time SECONDS] [--json FILE]
#        (default build-bench/, where scripts/bench builds the programs)
#
# Exit code 0 when every budget holds, 1 when one does not, 2 on a usage or
# run error.
#
# Each comparison names a benchmark of the program and a numpy/scipy function
# doing the same work on the same kind of input. Where numpy/scipy offer more
# than one way (lfilter or convolve, correlate or a hand-made FFT), all are
# timed and the fastest is the reference: the budget is against the best a
# numpy user could write, not the most literal.
import argparse
import json
import math
import os
import subprocess
import sys
import timeit

import numpy as np
import scipy.fft
from scipy import signal

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUDGET = 2.0  # ours at least this many times faster
AUTOCORR_SIZES = [1 << k for k in range(14, 21)]
# "Grows as N log N", judged by the log-log slope of time over N across
# 2^14 .. 2^20: N log N itself has a slope of 1.07 there, N^1.5 would have 1.5
# and a direct O(N^2) sum 2. An FFT's own cost per N log N is not flat on a
# real machine (the data leaves the L2 cache), so the slope may exceed 1.07 by
# SLOPE_MARGIN, or lie within FFT_SLOPE_MARGIN of the slope of a single FFT of
# the same sizes measured by the same program (BM_RealFft), whichever is more.
NLOGN_SLOPE = 1.07
SLOPE_MARGIN = 0.15
FFT_SLOPE_MARGIN = 0.05


# ---------------------------------------------------------------------------
# numpy/scipy equivalents of the work in bench/bench_analysis.cpp


def smoothing_taps():
    j = np.arange(-25, 26)
    return np.round(3.0 * (1949 - 5 * j * j) / 132447.0, 6).astype(np.float32)


def slope_taps():
    k = np.arange(99)
    return np.round((k - 49) / 80850.0, 8).astype(np.float32)


def autocorr_correlate(x, lags):
    xc = x - x.mean(dtype=np.float64).astype(np.float32)
    n = len(xc)
    full = signal.correlate(xc, xc, mode="full", method="fft")
    return full[n - 1:n - 1 + lags] / (n - np.arange(lags))


def autocorr_fft(x, lags):
    xc = x - x.mean(dtype=np.float64).astype(np.float32)
    n = len(xc)
    size = scipy.fft.next_fast_len(n + lags - 1, real=True)
    spectrum = scipy.fft.rfft(xc, size)
    power = (spectrum * spectrum.conj()).real
    r = scipy.fft.irfft(power, size)[:lags]
    return r / (n - np.arange(lags))


def fir_lfilter(taps, state):
    def run(x):
        y, state[:] = signal.lfilter(taps, 1.0, x, zi=state)
        return y
    return run


def fir_convolve(taps, history):
    # The delay line kept as the last len(taps) - 1 inputs, prepended.
    def run(x):
        stream = np.concatenate([history, x])
        history[:] = x[-len(history):]
        return np.convolve(stream, taps, mode="valid")
    return run


def fir_oaconvolve(taps, history):
    def run(x):
        stream = np.concatenate([history, x])
        history[:] = x[-len(history):]
        return signal.oaconvolve(stream, taps, mode="valid")
    return run


def fir_ways(taps):
    return {
        "scipy.signal.lfilter": fir_lfilter(taps, np.zeros(len(taps) - 1, dtype=np.float32)),
        "numpy.convolve": fir_convolve(taps, np.zeros(len(taps) - 1, dtype=np.float32)),
        "scipy.signal.oaconvolve": fir_oaconvolve(taps, np.zeros(len(taps) - 1, dtype=np.float32)),
    }


def damped_oscillation(n):
    t = np.arange(n) / 1e5
    rng = np.random.default_rng(1)
    return (np.exp(-20 * t) * np.sin(2 * np.pi * 50 * t) + 0.001 * rng.standard_normal(n)).astype(np.float32)


def falling_zero(r, start):
    # First i >= max(start, 1) with r[i-1] >= 0 > r[i], interpolated; -1 if none.
    start = max(start, 1)
    hits = np.nonzero((r[start - 1:-1] >= 0) & (r[start:] < 0))[0]
    if len(hits) == 0:
        return -1.0
    i = hits[0] + start
    return i - r[i] / (r[i] - r[i - 1])


def dac_process(x, rate=1e5, scale=1.0):
    """PdTvDAC::process in numpy: slope filter, autocorrelation, zero crossings,
    energies, then scale, zero-phase smoothing and centring."""
    n = len(x)
    y = np.convolve(x, slope_taps(), mode="full")[99:n]
    count = len(y)
    lags = count // 2
    r = autocorr_fft(y, lags)
    x0 = falling_zero(r, 1)
    start = int(math.ceil(x0)) + 1
    k = start + int(np.argmax(r[start:]))
    top = r[k]
    if r[0] / top > 0.8:
        above = np.nonzero(r[start:] > 0.8 * r[0])[0]
        if len(above):
            k = start + int(above[0])
    x1 = falling_zero(r, k + 1)
    if x1 < 0:
        # Too short for a period: no frequency, as in PdTvDAC.
        return math.nan, math.nan, math.nan, x
    frequency = rate / (x1 - x0)
    period = int(math.floor(rate / frequency + 0.5))
    j = int(np.argmax(np.abs(y)))
    e1 = np.dot(y[j:j + period].astype(np.float64), y[j:j + period])
    e2 = np.dot(y[j + period:j + 2 * period].astype(np.float64), y[j + period:j + 2 * period])
    attenuation = math.log(e1 / e2) * 0.5 * rate / period

    d = x * np.float32(scale)
    padded = np.concatenate([np.full(25, d[0]), d, np.full(25, d[-1])])
    d = np.convolve(padded, smoothing_taps(), mode="valid")
    p = min(max(period, 1), n)
    d -= d[-p:].mean(dtype=np.float64).astype(np.float32)
    top, bottom = d.max(), d.min()
    if (d[0] < 0 and abs(top) > abs(bottom)) or (d[0] >= 0 and abs(bottom) > abs(top)):
        d -= (top + bottom) / 2
    amplitude = np.abs(d).max()
    return frequency, attenuation, amplitude, d


def loc_process(state):
    def run(x):
        sigma = np.median(np.abs(x)) / 0.6745
        s = state["noise"]
        alpha = s * s / (sigma * sigma + s * s)
        dst = state["average"] * np.float32(1 - alpha) + x * np.float32(alpha)
        state["average"][:] = dst
        state["noise"] = np.median(np.abs(dst)) / 0.6745
        return dst
    return run


def best_time(function, argument, min_time):
    """Seconds per call: the fastest of five rounds of at least min_time / 5."""
    function(argument)  # warm up (plans, caches)
    number = 1
    while True:
        elapsed = timeit.timeit(lambda: function(argument), number=number)
        if elapsed >= min_time / 5 or number >= 1 << 20:
            break
        number *= 2
    rounds = timeit.repeat(lambda: function(argument), number=number, repeat=5)
    return min(rounds) / number


def comparisons():
    """(benchmark name, {way: (function, argument)})"""
    rng = np.random.default_rng(2)
    result = []
    for n in AUTOCORR_SIZES:
        x = rng.standard_normal(n).astype(np.float32)
        result.append(("BM_AutoCorrelation/%d" % n, {
            "scipy.signal.correlate (fft)": (lambda v, n=n: autocorr_correlate(v, n // 2), x),
            "scipy.fft rfft/irfft": (lambda v, n=n: autocorr_fft(v, n // 2), x),
        }))
    x = damped_oscillation(200000)
    result.append(("BM_PdTvDACProcess", {"numpy/scipy pipeline": (dac_process, x)}))
    noise = rng.standard_normal(200000).astype(np.float32)
    result.append(("BM_SmoothingFilter", {k: (f, noise) for k, f in fir_ways(smoothing_taps()).items()}))
    result.append(("BM_SlopeFilter", {k: (f, noise) for k, f in fir_ways(slope_taps()).items()}))
    first = rng.standard_normal(100000).astype(np.float32)
    block = rng.standard_normal(100000).astype(np.float32)
    state = {"average": first.copy(), "noise": float(np.median(np.abs(first)) / 0.6745)}
    result.append(("BM_PdLocFilterProcess", {"numpy median/blend": (loc_process(state), block)}))
    return result


# ---------------------------------------------------------------------------


def run_program(program, min_time):
    try:
        output = subprocess.run([program, "--benchmark_format=json", "--benchmark_min_time=%g" % min_time,
                                 "--benchmark_repetitions=3"],
                                check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        sys.exit("compare: cannot run %s: %s" % (program, error))
    data = json.loads(output)
    times = {}
    big_o = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            sys.exit("compare: %s reported an error: %s" % (b["name"], b.get("error_message")))
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") in ("BigO", "RMS") and b.get("run_name") == "BM_AutoCorrelation":
                big_o.update(b)
            continue
        seconds = b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        name = b["run_name"]
        times[name] = min(times.get(name, float("inf")), seconds)
    return data.get("context", {}), times, big_o


def check_consistency():
    """The numpy pipeline has to measure what the C++ one does, or the
    comparison is hollow."""
    frequency, attenuation, _, _ = dac_process(damped_oscillation(200000))
    if abs(frequency - 50) > 0.25 or abs(attenuation - 20) > 1:
        sys.exit("compare: numpy DAC pipeline measured %g Hz, %g/s" % (frequency, attenuation))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=os.environ.get("BUILD_DIR", os.path.join(ROOT, "build-bench")))
    parser.add_argument("--min-time", type=float, default=0.5)
    parser.add_argument("--json", help="also write the figures to this file")
    args = parser.parse_args()

    program = os.path.join(args.build, "bench", "bench_analysis")
    if not os.access(program, os.X_OK):
        print("compare: %s not built (configure with -DDRAVIK_BENCH=ON)" % program, file=sys.stderr)
        return 2
    check_consistency()
    # Our program runs before and after the numpy timings and each figure is
    # the better of the two, so that a burst of load from elsewhere on a
    # shared machine does not land on one side only.
    context, ours, big_o = run_program(program, args.min_time)
    theirs_by_name = {name: {way: best_time(f, arg, args.min_time) for way, (f, arg) in ways.items()}
                      for name, ways in comparisons()}
    _, again, _ = run_program(program, args.min_time)
    for name, seconds in again.items():
        ours[name] = min(ours.get(name, seconds), seconds)

    print("%s: %s, %d CPUs, library build %s" % (os.path.basename(program), context.get("host_name", "?"),
                                                  context.get("num_cpus", 0),
                                                  context.get("library_build_type", "?")))
    print("numpy %s, scipy %s" % (np.__version__, scipy.__version__))
    print()
    header = "%-30s %12s  %-30s %12s %8s  %s" % ("benchmark", "ours (us)", "fastest numpy/scipy", "theirs (us)",
                                                 "ratio", "budget")
    print(header)
    print("-" * len(header))
    failed = False
    rows = []
    for name, theirs in theirs_by_name.items():
        if name not in ours:
            print("%-30s missing from the program's output" % name)
            failed = True
            continue
        way, reference = min(theirs.items(), key=lambda item: item[1])
        ratio = reference / ours[name]
        met = ratio >= BUDGET
        failed |= not met
        print("%-30s %12.1f  %-30s %12.1f %7.2fx  %s" % (name, ours[name] * 1e6, way, reference * 1e6, ratio,
                                                        "met" if met else "NOT MET"))
        for other, seconds in sorted(theirs.items()):
            if other != way:
                print("%-30s %12s  %-30s %12.1f %7.2fx" % ("", "", other, seconds * 1e6, seconds / ours[name]))
        rows.append({"benchmark": name, "ours_s": ours[name], "reference": way, "reference_s": reference,
                     "ratio": ratio, "all": theirs})

    sizes = [n for n in AUTOCORR_SIZES
             if "BM_AutoCorrelation/%d" % n in ours and "BM_RealFft/%d" % n in ours]
    if len(sizes) >= 2:
        def slope(times):
            return np.polyfit(np.log(sizes), np.log(times), 1)[0]

        auto = [ours["BM_AutoCorrelation/%d" % n] for n in sizes]
        fft = [ours["BM_RealFft/%d" % n] for n in sizes]
        scipy_t = [next(r["all"]["scipy.fft rfft/irfft"] for r in rows
                        if r.get("benchmark") == "BM_AutoCorrelation/%d" % n) for n in sizes]
        per_fft = [a / f for a, f in zip(auto, fft)]
        limit = max(NLOGN_SLOPE + SLOPE_MARGIN, slope(fft) + FFT_SLOPE_MARGIN)
        met = slope(auto) <= limit
        failed |= not met
        print()
        print("autocorrelation growth over %d .. %d samples: log-log slope %.3f, limit %.3f: %s"
              % (sizes[0], sizes[-1], slope(auto), limit, "met" if met else "NOT MET"))
        print("  slopes: N log N %.2f, one FFT of the padded size %.3f, scipy.fft equivalent %.3f"
              % (NLOGN_SLOPE, slope(fft), slope(scipy_t)))
        print("  autocorrelation / FFT:  " + ", ".join("%d: %.2f" % (n, p) for n, p in zip(sizes, per_fft)))
        print("  ns per N log2 N, ours:  "
              + ", ".join("%d: %.2f" % (n, t / (n * math.log2(n)) * 1e9) for n, t in zip(sizes, auto)))
        print("  ns per N log2 N, FFT:   "
              + ", ".join("%d: %.2f" % (n, t / (n * math.log2(n)) * 1e9) for n, t in zip(sizes, fft)))
        if "real_coefficient" in big_o:
            print("  Google Benchmark fit of the autocorrelation: %.3g ns N log2 N, rms %.0f%%"
                  % (big_o["real_coefficient"], 100 * big_o.get("rms", 0)))
        rows.append({"autocorrelation_over_fft": dict(zip(sizes, per_fft)), "slope": slope(auto),
                     "slope_limit": limit, "fft_slope": slope(fft), "scipy_slope": slope(scipy_t)})

    if args.json:
        with open(args.json, "w") as f:
            json.dump({"context": context, "rows": rows}, f, indent=2)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
