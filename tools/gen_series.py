#!/usr/bin/env python3
"""Writes the example series examples/datos.dat, or examples/errores.dat.

A deterministic, unevenly sampled series that looks like ground-based
photometry: times are Julian-date-like days, the object is observable about
eight months a year, a clear night gives a few measurements, cloudy nights
give none.  The values are a constant level, two sinusoids and Gaussian
noise.  Python 3 standard library only; the fixed seed makes the file
identical on every run.

With --errors: two seasons of a faint variable with a period of 0.8127 d,
measured on good nights with errors of about 0.02 mag and on poor nights
(three in ten: moonlight, thin cloud) with errors of 0.3 to 0.6 mag; each
line holds time, magnitude and error.

    tools/gen_series.py [output]            (default: examples/datos.dat)
    tools/gen_series.py --errors [output]   (default: examples/errores.dat)
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


ERRORS_SEED = 1
ERRORS_START = 2455000.0
ERRORS_YEARS = 2
ERRORS_LEVEL = 14.2
ERRORS_SIGNAL = (0.8127, 0.06, 1.1)   # period in days, semi-amplitude, phase in radians
POOR_NIGHT = 0.3                      # probability that a clear night is a poor one
GOOD_ERROR = (0.016, 0.025)           # mag, range of a good night's error
POOR_ERROR = (0.3, 0.6)               # mag, range of a poor night's error


def series_with_errors():
    rng = random.Random(ERRORS_SEED)
    points = []
    period, amplitude, phase = ERRORS_SIGNAL
    for year in range(ERRORS_YEARS):
        first = ERRORS_START + math.floor(year * YEAR)
        for night in range(SEASON):
            if rng.random() >= CLEAR_NIGHT:
                continue
            poor = rng.random() < POOR_NIGHT
            error = rng.uniform(*(POOR_ERROR if poor else GOOD_ERROR))
            for _ in range(rng.randint(*PER_NIGHT)):
                t = first + night + rng.uniform(*NIGHT)
                x = (ERRORS_LEVEL + rng.gauss(0.0, error)
                     + amplitude * math.sin(2.0 * math.pi * (t - ERRORS_START) / period + phase))
                points.append((t, x, error))
    points.sort()
    return points


def main():
    args = sys.argv[1:]
    if args[:1] == ["--errors"]:
        path = args[1] if len(args) > 1 else "examples/errores.dat"
        with open(path, "w", newline="\n") as out:
            out.write("# tiempo (dias)  magnitud  error\n")
            for t, x, e in series_with_errors():
                out.write(f"{t:.5f} {x:.4f} {e:.3f}\n")
        return
    path = args[0] if args else "examples/datos.dat"
    with open(path, "w", newline="\n") as out:
        for t, x in series():
            out.write(f"{t:.5f} {x:.4f}\n")


if __name__ == "__main__":
    main()
