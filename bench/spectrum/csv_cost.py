#!/usr/bin/python3
"""What the 17-digit CSV table costs beside the eight-digit one: the program
run on the same series and grid with `-o table.dat` and with `-o table.csv`,
CPU time (user + system of the run) and wall time of each, on grids the
engine takes by the transforms and on small ones it takes by the direct
sums; astropy's LombScargle on the same grid (doubles only) for scale.

    csv_cost.py FASOGRAM [--quick]

The machine may be shared: the load average is printed beside the figures,
and each run is repeated (the best of three is shown).
"""

import math
import os
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.timeseries import LombScargle


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def timed(args):
    """(cpu seconds, wall seconds) of one run of args."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, wall


def best_of(args, repeat):
    runs = [timed(args) for _ in range(repeat)]
    return min(r[0] for r in runs), min(r[1] for r in runs)


def write_series(path, n, seed):
    rng = np.random.default_rng(seed)
    t = np.sort(2450000.5 + rng.uniform(0, 3000, n))
    y = 10 + 0.8 * np.cos(2 * math.pi * t / 2.7) + 0.3 * rng.standard_normal(n)
    np.savetxt(path, np.column_stack([t, y]), fmt="%.6f %.5f")
    return t, y


def astropy_time(t, y, f_ini, f_fin, steps):
    freq = f_ini + np.arange(steps + 1) * ((f_fin - f_ini) / steps)
    freq = freq[freq > 0]
    start = time.perf_counter()
    LombScargle(t, y, fit_mean=True).power(freq, method="fast",
                                           assume_regular_frequency=True)
    return time.perf_counter() - start


def main():
    tool = sys.argv[1]
    quick = "--quick" in sys.argv
    repeat = 1 if quick else 3
    tmp = tempfile.mkdtemp()
    print(f"{os.cpu_count()} cores; load average {load()} at start; best of {repeat}")
    cases = [(2000, 0.001, 5.0, 20000), (20000, 0.001, 5.0, 5000)]
    if not quick:
        cases.append((20000, 0.001, 20.0, 50000))
    for n, f_ini, f_fin, steps in cases:
        series = os.path.join(tmp, f"s{n}.dat")
        t, y = write_series(series, n, n)
        common = [tool, "-q", "--from", str(f_ini), "--to", str(f_fin), "--steps", str(steps)]
        table = os.path.join(tmp, "table.dat")
        csv = os.path.join(tmp, "table.csv")
        c8, w8 = best_of(common + ["-o", table, series], repeat)
        c17, w17 = best_of(common + ["-o", csv, series], repeat)
        ap = astropy_time(t, y, f_ini, f_fin, steps)
        print(f"\nN = {n}, {f_ini} to {f_fin}, {steps} steps (load {load()})")
        print(f"  8-digit table  cpu {c8:8.3f} s  wall {w8:8.3f} s")
        print(f"  17-digit CSV   cpu {c17:8.3f} s  wall {w17:8.3f} s   "
              f"ratio cpu {c17 / c8:6.1f}x  wall {w17 / w8:6.1f}x")
        print(f"  astropy fast (float64 only, wall) {ap:8.3f} s")


if __name__ == "__main__":
    main()
