#!/usr/bin/python3
"""Light curves per second: the fasogram module, the survey command, astropy.

    PYTHONPATH=build/python bench/python/bench_python.py [--curves 1000]
        [--points 1000] [--frequencies 10000] [--cython-curves N]

Makes the light curves (random times over 100 days, a sinusoid of random
period between 0.3 and 20 days, Gaussian noise; fixed seed), then on the
same curves and the same frequency grid (0.01 to 5 cycles per day):

- the module called serially, one curve after the other: the spectrum alone,
  and the spectrum with its two best peaks (what the survey computes), with
  every core and with one thread;
- the survey command on a local Dask cluster (one worker per core), timed
  from start to end of the command (cluster start-up included);
- astropy's LombScargle, method "cython" on the first --cython-curves
  curves (default: all; it is slow) and method "fast" on all of them.

The square window is used throughout, so that rho is astropy's power with
normalization="standard"; the largest |power - rho| over all the curves and
frequencies is printed for each astropy method.  Needs the fasogram package
(PYTHONPATH=build/python, or installed), python3-astropy, python3-dask and
python3-distributed.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.timeseries import LombScargle

import fasogram

FMIN, FMAX = 0.01, 5.0


def make_curves(count, points, seed=20240611):
    rng = np.random.default_rng(seed)
    curves = []
    for _ in range(count):
        t = 2455000.0 + np.sort(rng.uniform(0.0, 100.0, points))
        period = rng.uniform(0.3, 20.0)
        y = (15.0 + rng.uniform(0.05, 0.5) * np.cos(2 * np.pi * (t / period - rng.uniform()))
             + rng.normal(0.0, 0.1, points))
        curves.append((t, y))
    return curves


def timed(label, count, function):
    start = time.perf_counter()
    out = function()
    seconds = time.perf_counter() - start
    print(f"| {label} | {count} | {seconds:.1f} | {count / seconds:.2f} |", flush=True)
    return out, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--curves", type=int, default=1000)
    parser.add_argument("--points", type=int, default=1000)
    parser.add_argument("--frequencies", type=int, default=10000)
    parser.add_argument("--cython-curves", type=int)
    args = parser.parse_args()
    steps = args.frequencies - 1
    curves = make_curves(args.curves, args.points)
    n_cython = min(args.cython_curves or args.curves, args.curves)
    print(f"{args.curves} light curves x {args.points} points x {args.frequencies} "
          f"frequencies ({FMIN} to {FMAX}), square window, {os.cpu_count()} cores\n")
    print("| | light curves | seconds | light curves per second |")
    print("|---|---|---|---|")

    def module(threads, peaks):
        def run():
            out = []
            for t, y in curves:
                result = fasogram.spectrum(t, y, FMIN, FMAX, steps, "square", threads)
                out.append(result.peaks(2) if peaks else result.rho)
            return out
        return run

    spectra, _ = timed("module, serial calls, spectrum (all cores)", args.curves,
                       module(None, False))
    timed("module, serial calls, spectrum + 2 peaks (all cores)", args.curves,
          module(None, True))
    timed("module, serial calls, spectrum + 2 peaks (1 thread)", args.curves,
          module(1, True))

    with tempfile.TemporaryDirectory() as directory:
        for i, (t, y) in enumerate(curves):
            np.savetxt(os.path.join(directory, f"lc{i:05d}.dat"), np.column_stack([t, y]))
        output = os.path.join(directory, "results.csv")
        command = [sys.executable, "-m", "fasogram.survey", directory, "--from", str(FMIN),
                   "--to", str(FMAX), "--steps", str(steps), "--window", "square", "-o", output]

        def survey():
            done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True)
            if done.returncode != 0:
                sys.exit(f"the survey failed: {done.stderr}")
        timed("survey command, local cluster (start-up included)", args.curves, survey)

    frequency = fasogram.spectrum(*curves[0], FMIN, FMAX, steps, "square").frequency
    assert len(frequency) == args.frequencies
    worst = {}
    for method, count in (("cython", n_cython), ("fast", args.curves)):
        def run():
            diff = 0.0
            for (t, y), rho in zip(curves[:count], spectra):
                ls = LombScargle(t, y, fit_mean=True, center_data=True,
                                 normalization="standard")
                power = ls.power(frequency, method=method,
                                 assume_regular_frequency=method == "fast")
                diff = max(diff, float(np.max(np.abs(power - rho))))
            return diff
        worst[method], _ = timed(f"astropy LombScargle, method {method}", count, run)
    print()
    for method, diff in worst.items():
        print(f"largest |power - rho|, astropy {method}: {diff:.1e}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
