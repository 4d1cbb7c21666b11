#!/usr/bin/env python3
"""Writes the multiperiodic example series examples/multiperiodic.dat.

The times are those of the example series examples/datos.dat (ground-based
nights over four seasons); the values are a constant level, three sinusoids
and Gaussian noise, so that prewhitening has three known frequencies to
find.  Python 3 standard library only; the fixed seed makes the file
identical on every run.

    tools/gen_multiperiodic.py [times] [output]
        (default: examples/datos.dat examples/multiperiodic.dat)
"""

import math
import random
import sys

SEED = 20240305
T0 = 2450000.0             # the time the phases refer to
LEVEL = 12.5
SIGNALS = (                # (frequency in cycles per day, semi-amplitude, phase in cycles)
    (1.0 / 2.7, 0.30, 0.13),
    (1.2345, 0.12, 0.61),
    (0.0823, 0.06, 0.87),
)
NOISE = 0.10               # standard deviation of the Gaussian noise


def times(path):
    with open(path) as f:
        return [float(line.split()[0]) for line in f if line.strip()]


def series(ts):
    rng = random.Random(SEED)
    for t in ts:
        x = LEVEL + rng.gauss(0.0, NOISE)
        for f, amplitude, phase in SIGNALS:
            x += amplitude * math.cos(2.0 * math.pi * (f * (t - T0) - phase))
        yield t, x


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else "examples/datos.dat"
    path = sys.argv[2] if len(sys.argv) > 2 else "examples/multiperiodic.dat"
    with open(path, "w", newline="\n") as out:
        for t, x in series(times(source)):
            out.write(f"{t:.5f} {x:.4f}\n")


if __name__ == "__main__":
    main()
