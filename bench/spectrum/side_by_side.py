#!/usr/bin/python3
"""Side by side with astropy's LombScargle.

Runs the program's spectrum (through the spectrum_dump tool) and astropy's
LombScargle on the same series and frequency grid, checks that astropy's
power agrees with the spectral correlation coefficient rho (both are the
share of the weighted variance explained by the fitted sinusoid), and prints
the times and their ratio.

    side_by_side.py SPECTRUM_DUMP SERIES [n_points]

astropy is set up to fit the same model: fit_mean=True,
normalization='standard', weights w given as dy = 1/sqrt(w), points of zero
weight (the ends of the Hanning window) dropped.
"""

import math
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.timeseries import LombScargle


def hanning_weights(t):
    span = t[-1] - t[0]
    mid = t[0] + span / 2
    w = np.cos(2 * math.pi * (t - mid) / span) + 1
    return w / w.sum()


def main():
    dump, series = sys.argv[1], sys.argv[2]
    n_points = int(sys.argv[3]) if len(sys.argv) > 3 else 10000
    f_ini, f_fin = 0.0, 0.5
    data = np.loadtxt(series)
    t, y = data[:, 0], data[:, 1]
    print(f"series: {len(t)} points; grid {f_ini}..{f_fin} with {n_points + 1} frequencies")

    with tempfile.NamedTemporaryFile(suffix=".txt") as out:
        seconds = float(subprocess.check_output(
            [dump, series, "h", str(f_ini), str(f_fin), str(n_points), out.name]).decode())
        ours = np.loadtxt(out.name)
    freq, rho = ours[:, 0], ours[:, 1]
    print(f"fasogram engine          {seconds:9.3f} s")

    w = hanning_weights(t)
    keep = w > 0
    ls = LombScargle(t[keep], y[keep], dy=1 / np.sqrt(w[keep]), fit_mean=True,
                     normalization="standard")
    # The slow method is timed on a tenth of the grid and scaled up.
    for method, share in (("cython", 1), ("slow", 10)):
        f = freq[::share]
        start = time.perf_counter()
        power = ls.power(f, method=method, assume_regular_frequency=False)
        took = (time.perf_counter() - start) * share
        diff = np.max(np.abs(power - rho[::share]))
        label = f"astropy {method}" + ("" if share == 1 else f" (x{share})")
        print(f"{label:24} {took:9.3f} s   ratio {took / seconds:7.1f}   "
              f"max |power - rho| {diff:.1e}")
        if diff > 1e-6:
            print("  power and rho disagree", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
