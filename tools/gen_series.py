#!/usr/bin/env python3
"""Writes the example series examples/datos.dat.

A deterministic, unevenly sampled series that looks like ground-based
photometry: times are Julian-date-like days, the object is observable about
eight months a year, a clear night gives a few measurements, cloudy nights
give none.  The values are a constant level, two sinusoids and Gaussian
noise.  Python 3 standard library only; the fixed seed makes the file
identical on every run.

    tools/gen_series.py [output]      (default: examples/datos.dat)
"""

import math
import random
import sys

SEED = 20030422
T_START = 2450000.0        # first day of the series
YEARS = 4                  # span of the series in years
YEAR = 365.25              # days
SEASON = 243               # observable days at the start of each year (~8 months)
CLEAR_NIGHT = 0.75         # probability that a night gives data
PER_NIGHT = (2, 6)         # measurements on a clear night (inclusive range)
NIGHT = (0.55, 0.90)       # fraction of the day in which the night falls

LEVEL = 12.5
SIGNALS = (                # (period in days, semi-amplitude, phase in radians)
    (2.7, 0.30, 0.8),
    (37.0, 0.15, 2.1),
)
NOISE = 0.10               # standard deviation of the Gaussian noise


def series():
    rng = random.Random(SEED)
    times = []
    for year in range(YEARS):
        first = T_START + math.floor(year * YEAR)
        for night in range(SEASON):
            if rng.random() >= CLEAR_NIGHT:
                continue
            count = rng.randint(*PER_NIGHT)
            times.extend(first + night + rng.uniform(*NIGHT) for _ in range(count))
    times.sort()
    for t in times:
        x = LEVEL + rng.gauss(0.0, NOISE)
        for period, amplitude, phase in SIGNALS:
            x += amplitude * math.sin(2.0 * math.pi * (t - T_START) / period + phase)
        yield t, x


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "examples/datos.dat"
    with open(path, "w", newline="\n") as out:
        for t, x in series():
            out.write(f"{t:.5f} {x:.4f}\n")


if __name__ == "__main__":
    main()
