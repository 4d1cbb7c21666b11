#!/usr/bin/python3
"""Series whose places on the transforms' cells recur, with one build or two.

    bench/spectrum/recurring_places.py BUILD_DIR [BUILD_DIR ...] [--rounds 2]
        [--calls 3]

Each BUILD_DIR holds a build's `fasogram` package (build/python).  The series
are whole days with noise, or 50 points at each of 2000 times, on grids from
0 to 0.5 cycles a day (square window, one thread).  Every build runs each
series in a process of its own, the builds alternately; printed is the
minimum CPU time of --calls calls after a first one, in milliseconds.
"""

import argparse
import os
import subprocess
import sys

CASES = (("days", 100000, 1024), ("days", 100000, 1000), ("days", 100000, 4096),
         ("days", 1000000, 16384), ("repeated", 100000, 10000), ("days", 20000, 1024))

CHILD = r"""
import sys, time, warnings
warnings.simplefilter("ignore")
import numpy as np
import fasogram
kind, n, steps, calls = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = np.random.default_rng(n)
if kind == "days":
    t = np.arange(n, dtype=float)
else:
    t = np.repeat(np.arange(n // 50, dtype=float), 50)
y = 10 + 0.3 * np.cos(2 * np.pi * t / 27.3) + rng.normal(0, 1, len(t))
run = lambda: fasogram.spectrum(t, y, 0.0, 0.5, steps, window="square", threads=1)
run()
cpu = []
for _ in range(calls):
    c = time.process_time()
    run()
    cpu.append(time.process_time() - c)
print("%.1f" % (1e3 * min(cpu)))
"""


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("builds", nargs="+")
    ap.add_argument("--rounds", type=int, default=2)
    ap.add_argument("--calls", type=int, default=3)
    a = ap.parse_args()
    print("| round | series | N | steps | " + " | ".join(a.builds) + " |")
    print("|---:|---|---:|---:|" + "---:|" * len(a.builds))
    for r in range(1, a.rounds + 1):
        for kind, n, steps in CASES:
            ms = []
            for path in a.builds:
                env = dict(os.environ, PYTHONPATH=path)
                out = subprocess.run([sys.executable, "-c", CHILD, kind, str(n), str(steps),
                                      str(a.calls)], env=env, check=True, capture_output=True,
                                     text=True).stdout.strip()
                ms.append(out)
            print("| %d | %s | %d | %d | %s |" % (r, kind, n, steps, " | ".join(ms)), flush=True)


if __name__ == "__main__":
    main()
