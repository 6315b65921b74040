#!/usr/bin/python3
"""Raw packet unpacking: bench_unpacker next to the same work in numpy.

Runs the Google Benchmark program bench_unpacker (JSON output), then times the
numpy equivalent of each case on packets of the same size in the same run, and
prints GB/s (10^9 bytes of packet per second, header included; CPU time on
both sides), the ratio to
memcpy of the packet, the ratio to numpy and the budget:

    32-bit groups: at least 2 GB/s and at least 5x numpy
    16-bit group:  at least 3 GB/s

For the 32-bit groups numpy is timed two ways (a shift-and-mask per bit plane,
and np.unpackbits on the low bytes); the faster one is the reference.

Usage: bench/compare_unpacker.py [--bench PATH] [--min-time SECONDS]
"""

import argparse
import json
import os
import subprocess
import sys
import time
import timeit

import numpy as np

HEADER = 24
PAYLOAD = 64 * 1024
PACKET = HEADER + PAYLOAD
SCALE16 = np.float32(2.0 ** -15)
SCALE8 = np.float32(2.0 ** -7)
SCALE32 = np.float32(2.0 ** -31)
GAIN_A = np.float32(10.0 ** ((5120 / 256.0) / -20.0))
GAIN_B = np.float32(10.0 ** ((-2560 / 256.0) / -20.0))


def packet(seed):
    rng = np.random.default_rng(seed)
    p = np.zeros(PACKET, dtype=np.uint8)
    p[HEADER:] = rng.integers(0, 256, PAYLOAD, dtype=np.uint8)
    return p.tobytes()


def unpack16(p, compensation):
    v = np.frombuffer(p, dtype="<i2", offset=HEADER, count=PAYLOAD // 2).astype(np.float32)
    v *= SCALE16
    if compensation:
        v *= GAIN_A
    return v


def unpack8(p, compensation):
    b = np.frombuffer(p, dtype=np.int8, offset=HEADER, count=PAYLOAD)
    first = b[0::2].astype(np.float32)
    second = b[1::2].astype(np.float32)
    first *= SCALE8
    second *= SCALE8
    if compensation:
        first *= GAIN_A
        second *= GAIN_B
    return first, second


def unpack32_shift(p, compensation):
    w = np.frombuffer(p, dtype="<u4", offset=HEADER, count=PAYLOAD // 4)
    planes = [((w >> k) & 1).astype(np.uint8) for k in range(8)]
    v = w.view("<i4").astype(np.float32)
    v *= SCALE32
    if compensation:
        v *= GAIN_A
    return planes, v


def unpack32_unpackbits(p, compensation):
    raw = np.frombuffer(p, dtype=np.uint8, offset=HEADER, count=PAYLOAD)
    bits = np.unpackbits(raw[0::4, None], axis=1, bitorder="little")
    planes = [np.ascontiguousarray(bits[:, k]) for k in range(8)]
    v = np.frombuffer(p, dtype="<i4", offset=HEADER, count=PAYLOAD // 4).astype(np.float32)
    v *= SCALE32
    if compensation:
        v *= GAIN_A
    return planes, v


def rate(fn, min_time):
    """Packet bytes per second, best of five repeats of about min_time each.

    CPU time of this thread, like Google Benchmark's default, so that other
    work on a shared machine does not favour either side."""
    timer = timeit.Timer(fn, timer=time.thread_time)
    number, _ = timer.autorange()
    number = max(1, int(number * min_time / 0.2))
    best = min(timer.repeat(repeat=5, number=number)) / number
    return PACKET / best


def find_bench(root):
    """$BUILD_DIR as scripts/bench sets it, else build-bench/, else build-bench-data/."""
    builds = [os.environ["BUILD_DIR"]] if os.environ.get("BUILD_DIR") else []
    for build in builds + [os.path.join(root, "build-bench"), os.path.join(root, "build-bench-data")]:
        path = os.path.join(build, "bench", "bench_unpacker")
        if os.access(path, os.X_OK):
            return path
    return None


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", default=find_bench(root), help="path of bench_unpacker")
    parser.add_argument("--min-time", type=float, default=0.2)
    args = parser.parse_args()
    if not args.bench:
        sys.exit("compare_unpacker: bench_unpacker not built (DRAVIK_BENCH=ON)")

    out = subprocess.run([args.bench, "--benchmark_format=json",
                          "--benchmark_min_time=%g" % args.min_time],
                         check=True, capture_output=True, text=True).stdout
    native = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("error_occurred"):
            sys.exit("compare_unpacker: %s: %s" % (b["name"], b.get("error_message")))
        native[b["name"]] = b["bytes_per_second"]

    p16, p8 = packet(1), packet(2)
    p32 = {g: packet(10 + g) for g in range(1, 5)}
    src = np.frombuffer(p16, dtype=np.uint8)
    dst = np.empty_like(src)
    numpy_rates = {"BM_Memcpy": rate(lambda: np.copyto(dst, src), args.min_time)}
    for c in (1, 0):
        numpy_rates["BM_Unpack16/compensation:%d" % c] = rate(lambda: unpack16(p16, c), args.min_time)
        numpy_rates["BM_Unpack8Pairs/compensation:%d" % c] = rate(lambda: unpack8(p8, c), args.min_time)
    for c, g in ((1, 1), (1, 2), (1, 3), (1, 4), (0, 1)):
        name = "BM_Unpack32/compensation:%d/group:%d" % (c, g)
        shift = rate(lambda: unpack32_shift(p32[g], c), args.min_time)
        unpackbits = rate(lambda: unpack32_unpackbits(p32[g], c), args.min_time)
        numpy_rates[name] = max(shift, unpackbits)

    memcpy = native.get("BM_Memcpy", 0.0)
    print("%-40s %8s %8s %10s %8s  %s" % ("packet of 24 + 65536 bytes", "GB/s", "/memcpy",
                                           "numpy GB/s", "/numpy", "budget"))
    all_met = True
    for name, bps in native.items():
        np_bps = numpy_rates.get(name, 0.0)
        verdict = "-"
        if name.startswith("BM_Unpack32"):
            ok = bps >= 2e9 and np_bps > 0 and bps >= 5 * np_bps
            verdict = "met" if ok else "MISSED (>= 2 GB/s and >= 5x numpy)"
            all_met &= ok
        elif name.startswith("BM_Unpack16"):
            ok = bps >= 3e9
            verdict = "met" if ok else "MISSED (>= 3 GB/s)"
            all_met &= ok
        print("%-40s %8.2f %8.3f %10.2f %8.1f  %s" % (
            name, bps / 1e9, bps / memcpy if memcpy else 0.0, np_bps / 1e9,
            bps / np_bps if np_bps else 0.0, verdict))
    print("budget: %s" % ("met" if all_met else "MISSED"))
    return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main())
