#!/usr/bin/python3
"""The bootstrap false-alarm probability side by side with astropy's.

    PYTHONPATH=build/python bench/bootstrap/side_by_side.py [--resamples 1000]
        [--astropy-resamples 50] [--points 1000] [--frequencies 10000]

One uneven series (uniform random times over 100 days, white noise), the
square window without errors, so that rho is astropy's "standard" power,
and one grid: astropy's own for bootstrap (samples_per_peak 5 from half a
step, as many frequencies as asked).  Times wall and CPU seconds (CPU of
every thread of this process) of

    fasogram   Spectrum.false_alarm_probability(method="bootstrap", n=B)
    astropy    LombScargle.false_alarm_probability(method="bootstrap"),
               on fewer resamples and scaled to B

and, for scale, one exact spectrum per resample (fasogram.spectrum on a few
resamples, scaled), which is what the bootstrap would cost without its
matrix products.  Both bootstraps' probabilities of the same heights are
printed: they follow the same distribution, not the same draws.
"""

import argparse
import os
import sys
import time

import numpy as np
from astropy.timeseries import LombScargle

import fasogram


def timed(func):
    wall, cpu = time.perf_counter(), time.process_time()
    value = func()
    return value, time.perf_counter() - wall, time.process_time() - cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--resamples", type=int, default=1000)
    parser.add_argument("--astropy-resamples", type=int, default=50)
    parser.add_argument("--points", type=int, default=1000)
    parser.add_argument("--frequencies", type=int, default=10000)
    args = parser.parse_args()
    b, b_astropy = args.resamples, args.astropy_resamples

    rng = np.random.default_rng(2024)
    t = np.sort(rng.uniform(0, 100, args.points))
    y = rng.normal(0, 1, args.points)
    df = 1 / (t[-1] - t[0]) / 5
    fmin = df / 2
    fmax = fmin + (args.frequencies - 1) * df
    steps = args.frequencies - 1

    result = fasogram.spectrum(t, y, fmin, fmax, steps, window="square")
    ls = LombScargle(t, y, normalization="standard")
    freq, power = ls.autopower(maximum_frequency=fmax)
    # astropy's bootstrap takes its spectra by its default method, "fast"
    # (approximate sums): it agrees with rho to some 1e-3.
    if len(freq) != len(result) or np.max(np.abs(freq - result.frequency)) > 1e-9 * fmax:
        print("the grids differ", file=sys.stderr)
        return 1
    diff = np.max(np.abs(power - result.rho))
    if diff > 5e-3:
        print(f"the powers differ by {diff:.1e}", file=sys.stderr)
        return 1
    print(f"series: {args.points} points over 100 days; {len(freq)} frequencies "
          f"{fmin:.6g} .. {fmax:.6g}; {b} resamples; max |power - rho| {diff:.1e}")

    heights = np.array([0.02, 0.025, 0.03])
    ours, wall, cpu = timed(lambda: result.false_alarm_probability(heights, method="bootstrap",
                                                                  n=b, seed=1))
    kwds = {"n_bootstraps": b_astropy, "random_seed": 1}
    theirs, a_wall, a_cpu = timed(lambda: ls.false_alarm_probability(
        heights, method="bootstrap", maximum_frequency=fmax, method_kwds=kwds))
    scale = b / b_astropy
    a_wall, a_cpu = a_wall * scale, a_cpu * scale

    few = 5
    index = np.random.default_rng(7).integers(0, args.points, (few, args.points))
    _, e_wall, e_cpu = timed(lambda: [fasogram.spectrum(t, y[k], fmin, fmax, steps,
                                                        window="square").rho.max()
                                      for k in index])
    e_wall, e_cpu = e_wall * b / few, e_cpu * b / few

    print(f"{'':34} {'wall s':>9} {'CPU s':>9} {'wall ratio':>11} {'CPU ratio':>10}")
    print(f"{'fasogram bootstrap':34} {wall:9.3f} {cpu:9.3f} {1:11.1f} {1:10.1f}")
    print(f"{f'astropy bootstrap ({b_astropy} x {scale:g})':34} {a_wall:9.3f} {a_cpu:9.3f} "
          f"{a_wall / wall:11.1f} {a_cpu / cpu:10.1f}")
    print(f"{f'one exact spectrum each ({few} x {b / few:g})':34} {e_wall:9.3f} {e_cpu:9.3f} "
          f"{e_wall / wall:11.1f} {e_cpu / cpu:10.1f}")
    print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    print("probabilities of rho", ", ".join(f"{h:g}" for h in heights))
    print("  fasogram", ", ".join(f"{float(p):.3f}" for p in ours),
          f"(+- {np.sqrt(0.25 / b):.3f} at most)")
    print("  astropy ", ", ".join(f"{float(p):.3f}" for p in theirs),
          f"(+- {np.sqrt(0.25 / b_astropy):.3f} at most)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
