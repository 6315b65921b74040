#!/usr/bin/python3
"""The report's test voltage fit next to scipy's curve_fit on the same records.

Makes noisy damped cosines (50 Hz, 20 /s, 20 kV, random phase and offset,
100 kHz, ten periods: the report's fit window), fits each with
fit_records (GSL, seeded from the plug-in's PdTvDAC estimate) and with
scipy.optimize.curve_fit from the same seed, and prints per noise level the
median relative errors in frequency and attenuation of the plug-in's method,
of the report's fit and of scipy, and the CPU time per fit of both fits:

    error no worse than 1.5x scipy's, at least 10x faster

Usage: bench/compare_fit.py [--fit PATH] [--records N]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy.optimize import curve_fit

RATE = 100000.0
N = 20000
F, DELTA, AMPLITUDE = 50.0, 20.0, 20000.0


def model(t, a, delta, f, phi, c):
    return a * np.exp(-delta * t) * np.cos(2 * np.pi * f * t + phi) + c


def records(noise, count, rng):
    t = np.arange(N) / RATE
    out = []
    for _ in range(count):
        phi = rng.uniform(-np.pi, np.pi)
        c = rng.uniform(-200, 200)
        x = model(t, AMPLITUDE, DELTA, F, phi, c) + rng.normal(0, noise * AMPLITUDE, N)
        out.append(x.astype(np.float32))
    return out


def linear_seed(t, x, f, delta):
    e = np.exp(-delta * t)
    basis = np.column_stack([e * np.cos(2 * np.pi * f * t), e * np.sin(2 * np.pi * f * t), np.ones_like(t)])
    (a, b, c), *_ = np.linalg.lstsq(basis, x, rcond=None)
    return np.hypot(a, b), np.arctan2(-b, a), c


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fit", default=os.path.join(os.path.dirname(__file__), "..", "build-bench", "bench", "fit_records"))
    parser.add_argument("--records", type=int, default=40)
    args = parser.parse_args()
    rng = np.random.default_rng(20)
    t = np.arange(N) / RATE
    print(f"{N} samples at {RATE / 1000:g} kHz per record, {args.records} records per noise level")
    header = ("noise", "method", "f error (median)", "delta error (median)", "CPU per fit", "iter. (scipy: nfev)")
    print("  ".join(h.ljust(w) for h, w in zip(header, (6, 16, 17, 20, 12, 10))))
    failed = False
    for noise in (0.01, 0.05):
        data = records(noise, args.records, rng)
        with tempfile.NamedTemporaryFile(suffix=".f32", delete=False) as f:
            for x in data:
                f.write(x.astype("<f4").tobytes())
            path = f.name
        try:
            lines = subprocess.run([args.fit, path, str(N), str(RATE)], check=True, capture_output=True,
                                   text=True).stdout.splitlines()
        finally:
            os.unlink(path)
        ours = [json.loads(line) for line in lines]
        scipy_f, scipy_d, scipy_time, scipy_iter = [], [], [], []
        for x, r in zip(data, ours):
            x64 = x.astype(np.float64)
            a, phi, c = linear_seed(t, x64, r["plugin_frequency"], r["plugin_attenuation"])
            p0 = [a, r["plugin_attenuation"], r["plugin_frequency"], phi, c]
            start = time.process_time()
            repeat = 3
            for _ in range(repeat):
                p, _, info, *_ = curve_fit(model, t, x64, p0=p0, full_output=True)
            scipy_time.append((time.process_time() - start) / repeat)
            scipy_iter.append(info["nfev"])
            scipy_f.append(abs(p[2] / F - 1))
            scipy_d.append(abs(p[1] / DELTA - 1))
        rows = [
            ("plug-in", [abs(r["plugin_frequency"] / F - 1) for r in ours],
             [abs(r["plugin_attenuation"] / DELTA - 1) for r in ours], None, None),
            ("report (GSL)", [abs(r["frequency"] / F - 1) for r in ours],
             [abs(r["attenuation"] / DELTA - 1) for r in ours], [r["seconds"] for r in ours],
             [r["iterations"] for r in ours]),
            ("scipy curve_fit", scipy_f, scipy_d, scipy_time, scipy_iter),
        ]
        for name, ef, ed, seconds, iterations in rows:
            cells = (f"{noise * 100:g} %", name, f"{np.median(ef) * 100:.4f} %", f"{np.median(ed) * 100:.4f} %",
                     "-" if seconds is None else f"{np.median(seconds) * 1e3:.3f} ms",
                     "-" if iterations is None else f"{np.median(iterations):g}")
            print("  ".join(c.ljust(w) for c, w in zip(cells, (6, 16, 17, 20, 12, 10))))
        error_ratio = max(np.median(rows[1][1]) / np.median(scipy_f), np.median(rows[1][2]) / np.median(scipy_d))
        speed = np.median(scipy_time) / np.median(rows[1][3])
        ok = error_ratio <= 1.5 and speed >= 10
        failed = failed or not ok
        print(f"       error vs scipy {error_ratio:.2f}x (budget 1.5x), {speed:.1f}x faster (budget 10x): "
              f"{'ok' if ok else 'OVER BUDGET'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
