#!/usr/bin/python3
"""Large grids side by side: the engine as the program runs it (it picks the
transforms on large grids), the engine held to the direct sums (the exact
engine alone) and astropy's LombScargle `fast` method on the same grid.

    nufft_side_by_side.py BENCH_NUFFT [--quick]

Prints the load of the machine (uptime) next to the figures, since the
machine may be shared.  astropy is set up to fit the same model:
fit_mean=True, normalization='standard', weights w as dy = 1/sqrt(w), points
of zero weight (the ends of the Hanning window) dropped.
"""

import math
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.timeseries import LombScargle

PUBLISHED_MS, PUBLISHED_CORES = 76.6, 16


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def engine(tool, series, f_ini, f_fin, steps, path, threads=0, table=None):
    args = [tool, "run", series, str(f_ini), str(f_fin), str(steps), path, str(threads)]
    if table:
        args.append(table)
    sec, careful, points, blocks = subprocess.check_output(args).decode().split()
    return float(sec), int(careful), int(points), int(blocks)


def hanning(t):
    span = t[-1] - t[0]
    w = np.cos(2 * math.pi * (t - (t[0] + span / 2)) / span) + 1
    return w / w.sum()


def astropy_fast(series, table):
    data = np.loadtxt(series)
    t, y = data[:, 0], data[:, 1]
    order = np.argsort(t, kind="stable")
    t, y = t[order], y[order]
    w = hanning(t)
    keep = w > 0
    ours = np.loadtxt(table)
    freq, rho = ours[:, 0], ours[:, 1]
    ls = LombScargle(t[keep], y[keep], dy=1 / np.sqrt(w[keep]), fit_mean=True,
                     normalization="standard")
    start = time.perf_counter()
    power = ls.power(freq, method="fast", assume_regular_frequency=True)
    took = time.perf_counter() - start
    return took, float(np.max(np.abs(power - rho)))


def main():
    tool = sys.argv[1]
    quick = "--quick" in sys.argv
    cores = os.cpu_count()
    steps = 100000 if quick else 1000000
    tmp = tempfile.mkdtemp()
    print(f"{cores} cores; load average {load()} at start")

    # 20000 points, 0 to 50 cycles a day.
    s20 = os.path.join(tmp, "s20000.dat")
    subprocess.check_call([tool, "series", "20000", "1", s20])
    table = os.path.join(tmp, "table.txt")
    print(f"\nN = 20000, 0 to 50 c/d, {steps} steps")
    sec, careful, points, blocks = engine(tool, s20, 0, 50, steps, "auto", table=table)
    print(f"  engine (as the program runs)  {sec:8.3f} s  {blocks} blocks, "
          f"{careful} recomputed of {points} ({100 * careful / points:.4f} %)  load {load()}")
    dsec, dcareful, _, _ = engine(tool, s20, 0, 50, steps, "direct")
    print(f"  exact engine alone (direct)   {dsec:8.3f} s  {dcareful} recomputed "
          f"({100 * dcareful / points:.4f} %)  ratio {dsec / sec:6.1f}  load {load()}")
    asec, diff = astropy_fast(s20, table)
    print(f"  astropy fast                  {asec:8.3f} s  ratio {asec / sec:6.1f}  "
          f"max |power - rho| {diff:.1e}  load {load()}")

    # 3554 points, against the published figure.
    s3554 = os.path.join(tmp, "s3554.dat")
    subprocess.check_call([tool, "series", "3554", "2", s3554])
    sec, careful, points, blocks = engine(tool, s3554, 0, 50, steps, "auto")
    print(f"\nN = 3554, 0 to 50 c/d, {steps} steps: {sec * 1e3:.1f} ms on {cores} cores, "
          f"{sec * 1e3 * cores:.0f} ms x cores (published: {PUBLISHED_MS} ms on "
          f"{PUBLISHED_CORES} cores, {PUBLISHED_MS * PUBLISHED_CORES:.0f} ms x cores); "
          f"{careful} recomputed  load {load()}")

    # Where the transforms start to pay.
    print("\ncrossover, 0 to 50 c/d (seconds: direct / transforms, * = the engine's choice)")
    for n, series in (("20000", s20), ("3554", s3554)):
        row = []
        for m in (300, 1000, 3000, 10000, 30000, 100000):
            d = engine(tool, series, 0, 50, m, "direct")[0]
            f = engine(tool, series, 0, 50, m, "nufft")[0]
            auto_blocks = engine(tool, series, 0, 50, m, "auto")[3]
            row.append(f"{m}: {d:.3f}{'' if auto_blocks else '*'} / "
                       f"{f:.3f}{'*' if auto_blocks else ''}")
        print(f"  N = {n}: " + ", ".join(row) + f"  load {load()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
