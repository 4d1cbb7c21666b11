#!/usr/bin/python3
"""Two builds of the Python module side by side on the series of grid_table.py.

    bench/spectrum/module_ab.py BEFORE_DIR AFTER_DIR [--cells 3554x1e5,...]
        [--calls 9] [--rounds 2] [--threads 1] [--recurring]

BEFORE_DIR and AFTER_DIR are the directories that hold each build's
`fasogram` package (build/python of each tree).  For every cell (N points,
M frequencies from 0.001 to 5 cycles a day, square window) each build runs
in a process of its own, the two alternately: a first call, then --calls
calls timed in CPU time of the process; printed are the minimum and the
first quartile, in milliseconds, one row per cell and round.

With --recurring the series are instead ones whose places on the
transforms' cells recur, on grids from 0 to 0.5 cycles a day: a cell
"days:N:STEPS" is N whole days with noise, "repeated:N:STEPS" 50 points at
each of N/50 times (RECURRING, unless --cells names others).
"""

import argparse
import os
import subprocess
import sys

CELLS = ("300x1e4,300x1e5,3554x1e3,3554x1e4,3554x1e5,3554x1e6,20000x1e3,20000x1e4,"
         "20000x1e5,20000x1e6,100000x1e3,100000x1e4,100000x1e5,100000x1e6")

RECURRING = ("days:100000:1024,days:100000:1000,days:100000:4096,days:1000000:16384,"
             "repeated:100000:10000,days:20000:1024")

CHILD = r"""
import sys, time, warnings
warnings.simplefilter("ignore")
sys.path.insert(0, sys.argv[1])
import numpy as np
import grid_table, fasogram
cell, calls, threads = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
if ":" in cell:
    kind, n, steps = cell.split(":")
    n, steps = int(n), int(steps)
    t = np.arange(n, dtype=float) if kind == "days" else np.repeat(np.arange(n // 50, dtype=float), 50)
    y = 10 + 0.3 * np.cos(2 * np.pi * t / 27.3) + np.random.default_rng(n).normal(0, 1, len(t))
    fmin, fmax = 0.0, 0.5
else:
    n, m = cell.split("x")
    t, y = grid_table.make_series(int(n))
    fmin, fmax, steps = grid_table.FMIN, grid_table.FMAX, int(float(m)) - 1
run = lambda: fasogram.spectrum(t, y, fmin, fmax, steps, window="square",
                                threads=None if threads == 0 else threads)
run()
cpu = []
for _ in range(calls):
    c = time.process_time()
    run()
    cpu.append(time.process_time() - c)
cpu.sort()
print("%.2f %.2f" % (1e3 * cpu[0], 1e3 * cpu[len(cpu) // 4]))
"""


def timed(path, cell, calls, threads):
    env = dict(os.environ, PYTHONPATH=path)
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", CHILD, here, cell, str(calls), str(threads)],
                         env=env, check=True, capture_output=True, text=True).stdout.split()
    return float(out[0]), float(out[1])


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("before")
    ap.add_argument("after")
    ap.add_argument("--cells", default=None)
    ap.add_argument("--calls", type=int, default=9)
    ap.add_argument("--rounds", type=int, default=2)
    ap.add_argument("--threads", type=int, default=1, help="0: left to the engine")
    ap.add_argument("--recurring", action="store_true", help="series whose places recur")
    a = ap.parse_args()
    cells = a.cells or (RECURRING if a.recurring else CELLS)
    print("| round | cell | before min | before q1 | after min | after q1 |")
    print("|---:|---|---:|---:|---:|---:|")
    for r in range(1, a.rounds + 1):
        for cell in cells.split(","):
            b = timed(a.before, cell, a.calls, a.threads)
            f = timed(a.after, cell, a.calls, a.threads)
            print("| %d | %s | %.2f | %.2f | %.2f | %.2f |" % (r, cell, b[0], b[1], f[0], f[1]),
                  flush=True)


if __name__ == "__main__":
    main()
