#!/usr/bin/python3
"""fasogram against astropy's LombScargle method "fast", size by size.

    PYTHONPATH=build/python bench/spectrum/grid_table.py [--repeats 3]
        [--points 300,3554,20000,100000] [--frequencies 1e3,1e4,1e5,1e6]
        [--once-above 5] [--threads 0] [--survey-curves 200]

For every number of points N and of frequencies M: a series of N points
sampled as a ground-based survey samples a star (a few points on clear
nights, none in the months the field is behind the sun) over 3000 days, and
a grid of M frequencies from 0.001 to 5 cycles per day.  The square window
is used so that rho is astropy's power with normalization="standard".  The
two programs are run alternately on the same cell; each figure is the median
of --repeats runs, or of one run where the first took more than --once-above
seconds.  CPU seconds are those of the whole process (every thread), wall
seconds those of the clock: the machine may be shared, and its load shows in
the wall times first.

Then the survey figure: --survey-curves curves of 1000 points, their
spectra on 10000 frequencies and two refined peaks each, one after the
other in this process; printed as curves per second of CPU time.
"""

import argparse
import statistics
import time
import warnings

import numpy as np
from astropy.timeseries import LombScargle

import fasogram

FMIN, FMAX = 0.001, 5.0
SPAN = 3000.0


def survey_times(n, rng):
    """n times over SPAN days: nights of the observing seasons, clear ones."""
    nights = np.arange(SPAN)
    nights = nights[(np.fmod(nights, 365.25) / 365.25) < 0.68]
    nights = nights[rng.uniform(size=nights.size) > 0.3]
    t = 2455000.0 + rng.choice(nights, n) + rng.uniform(0.0, 0.3, n)
    return np.sort(t)


def make_series(n, seed=11):
    rng = np.random.default_rng(seed + n)
    t = survey_times(n, rng)
    y = 12.0 + 0.3 * np.cos(2 * np.pi * t / 2.7) + rng.normal(0.0, 0.1, n)
    return t, y


def measure(function):
    cpu, wall = time.process_time(), time.perf_counter()
    function()
    return time.process_time() - cpu, time.perf_counter() - wall


def run_fasogram(t, y, m, threads):
    return fasogram.spectrum(t, y, FMIN, FMAX, m - 1, window="square",
                             threads=None if threads == 0 else threads)


def run_astropy(t, y, m):
    return LombScargle(t, y).power(np.linspace(FMIN, FMAX, m), method="fast")


def cell(t, y, m, repeats, once_above, threads):
    times = {"fasogram": [], "astropy": []}
    for r in range(repeats):
        times["fasogram"].append(measure(lambda: run_fasogram(t, y, m, threads)))
        times["astropy"].append(measure(lambda: run_astropy(t, y, m)))
        if r == 0 and max(w for _, w in (times["fasogram"][0], times["astropy"][0])) > once_above:
            break
    return {k: (statistics.median(c for c, _ in v), statistics.median(w for _, w in v))
            for k, v in times.items()}


def survey_figure(curves, threads):
    rng = np.random.default_rng(5)
    data = []
    for _ in range(curves):
        t = 2455000.0 + np.sort(rng.uniform(0.0, 100.0, 1000))
        y = 15.0 + 0.2 * np.sin(2 * np.pi * t / rng.uniform(0.3, 20.0)) + rng.normal(0, 0.1, 1000)
        data.append((t, y))

    def work():
        for t, y in data:
            fasogram.spectrum(t, y, 0.01, 5.0, 9999, window="square",
                              threads=None if threads == 0 else threads).peaks(2)

    cpu, wall = measure(work)
    return cpu, wall


def main():
    warnings.simplefilter("ignore", fasogram.UndersampledGridWarning)
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--points", default="300,3554,20000,100000")
    parser.add_argument("--frequencies", default="1e3,1e4,1e5,1e6")
    parser.add_argument("--once-above", type=float, default=5.0)
    parser.add_argument("--threads", type=int, default=0, help="fasogram's threads (0: every core)")
    parser.add_argument("--survey-curves", type=int, default=200)
    args = parser.parse_args()
    points = [int(v) for v in args.points.split(",")]
    freqs = [int(float(v)) for v in args.frequencies.split(",")]
    print("| N | M | fasogram CPU s | fasogram wall s | astropy fast CPU s | astropy fast wall s "
          "| CPU ratio (astropy/fasogram) |")
    print("|---:|---:|---:|---:|---:|---:|---:|")
    for n in points:
        t, y = make_series(n)
        for m in freqs:
            c = cell(t, y, m, args.repeats, args.once_above, args.threads)
            fc, fw = c["fasogram"]
            ac, aw = c["astropy"]
            print(f"| {n} | {m:.0e} | {fc:.3f} | {fw:.3f} | {ac:.3f} | {aw:.3f} | {ac / fc:.2f} |",
                  flush=True)
    if args.survey_curves > 0:
        cpu, wall = survey_figure(args.survey_curves, args.threads)
        print(f"\nsurvey use: {args.survey_curves} curves x 1000 points x 10000 frequencies, "
              f"spectrum and two refined peaks: {cpu:.2f} s CPU, {wall:.2f} s wall, "
              f"{args.survey_curves / cpu:.0f} curves per CPU second")


if __name__ == "__main__":
    main()
