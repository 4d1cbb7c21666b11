#!/usr/bin/python3
"""The cost of refining peaks against the cost of their spectrum.

    PYTHONPATH=build/python bench/spectrum/peak_refine.py [--curves 100]
        [--points 1000] [--steps 9999] [--threads 1]

Curves of the survey kind (--points points over 100 days, a sinusoid of a
random period between 0.3 and 20 days and noise), each its spectrum on
--steps + 1 frequencies from 0.01 to 5 cycles a day (square window), then
its two highest peaks refined.  Beside them, in the same run and on the
same curves, astropy's LombScargle: its power on the same grid (method
"fast", then "cython", the exact sums), and its two highest grid peaks
refined the way astropy leaves to its user, scipy's bounded search for the
maximum of the exact power between the grid neighbours.  CPU seconds of the
whole process (every thread) and wall seconds, summed over the curves; the
last column is each refinement's share of its own spectrum's time.
"""

import argparse
import time

import numpy as np
from astropy.timeseries import LombScargle
from scipy.optimize import minimize_scalar

import fasogram


def curves(count, points, seed=5):
    rng = np.random.default_rng(seed)
    out = []
    for _ in range(count):
        t = 2455000.0 + np.sort(rng.uniform(0.0, 100.0, points))
        y = 15.0 + 0.2 * np.sin(2 * np.pi * t / rng.uniform(0.3, 20.0)) + \
            rng.normal(0, 0.1, points)
        out.append((t, y))
    return out


class Clock:
    def __init__(self):
        self.cpu = 0.0
        self.wall = 0.0

    def __enter__(self):
        self._cpu, self._wall = time.process_time(), time.perf_counter()
        return self

    def __exit__(self, *exc):
        self.cpu += time.process_time() - self._cpu
        self.wall += time.perf_counter() - self._wall


def grid_peaks(power, k):
    inner = np.flatnonzero((power[1:-1] > power[:-2]) & (power[1:-1] >= power[2:])) + 1
    return inner[np.argsort(power[inner])[::-1][:k]]


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--curves", type=int, default=100)
    parser.add_argument("--points", type=int, default=1000)
    parser.add_argument("--steps", type=int, default=9999)
    parser.add_argument("--threads", type=int, default=1, help="fasogram's threads (0: every core)")
    args = parser.parse_args()
    threads = None if args.threads == 0 else args.threads
    data = curves(args.curves, args.points)
    fmin, fmax = 0.01, 5.0
    freq = np.linspace(fmin, fmax, args.steps + 1)

    spec, refine = Clock(), Clock()
    a_fast, a_exact, a_refine = Clock(), Clock(), Clock()
    found = []
    for t, y in data:
        with spec:
            result = fasogram.spectrum(t, y, fmin, fmax, args.steps, window="square",
                                       threads=threads)
        with refine:
            peaks = result.peaks(2)
        found.append(peaks[0].frequency)
        ls = LombScargle(t, y)
        with a_fast:
            ls.power(freq, method="fast")
        with a_exact:
            power = ls.power(freq, method="cython")
        with a_refine:
            for j in grid_peaks(power, 2):
                lo, hi = freq[max(j - 1, 0)], freq[min(j + 1, freq.size - 1)]
                minimize_scalar(lambda f: -ls.power(np.array([f]), method="cython")[0],
                                bounds=(lo, hi), method="bounded",
                                options={"xatol": 1e-12 * hi})

    print(f"{args.curves} curves of {args.points} points, {args.steps + 1} frequencies, "
          f"fasogram on {args.threads or 'every'} thread(s)")
    print("| program | step | CPU s | wall s | refinement / spectrum (CPU) |")
    print("|---|---|---:|---:|---:|")
    print(f"| fasogram | spectrum | {spec.cpu:.3f} | {spec.wall:.3f} | |")
    print(f"| fasogram | peaks(2) | {refine.cpu:.3f} | {refine.wall:.3f} | "
          f"{refine.cpu / spec.cpu:.3f} |")
    print(f"| astropy | power, fast | {a_fast.cpu:.3f} | {a_fast.wall:.3f} | |")
    print(f"| astropy | power, cython | {a_exact.cpu:.3f} | {a_exact.wall:.3f} | |")
    print(f"| astropy + scipy | two bounded searches | {a_refine.cpu:.3f} | {a_refine.wall:.3f} | "
          f"{a_refine.cpu / a_exact.cpu:.3f} |")
    print(f"per curve: spectrum {1e3 * spec.cpu / args.curves:.2f} ms CPU, "
          f"peaks(2) {1e3 * refine.cpu / args.curves:.3f} ms CPU")


if __name__ == "__main__":
    main()
