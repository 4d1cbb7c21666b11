#!/usr/bin/python3
"""Light curves per second of a survey: in process and on Dask, CPU and wall time.

    PYTHONPATH=build/python bench/python/bench_survey.py [--curves 1000]
        [--points 1000] [--frequencies 10000] [--window hanning] [--workers 2]
        [--skip-astropy] [--rounds 0]

Makes the light curves (random times over 100 days, a sinusoid of random
period between 0.3 and 20 days, Gaussian noise; fixed seed), writes them as
files, and on the same curves and grid (0.01 to 5 cycles per day) times, one
after the other in this one run:

- a loop of fasogram.spectrum(t, y, ..., threads=1).peaks(2) over the arrays
  (in process, one core);
- the same reading every file first with fasogram.read_series;
- fasogram.spectra(curves, ..., peaks=2) on one thread and on every core,
  where the module has it;
- the survey's own task in this process (fasogram.lightcurve.analyse_batch
  over every file: reading, spectrum, two peaks and their false-alarm
  probabilities);
- the survey command (fasogram-survey) on its own local cluster of --workers
  single-threaded workers, start-up included: its CPU time is perf stat's
  task-clock of the command and of every process it started, directly or
  not, whether or not a process waits for them (its workers are forks of
  the command's process);
- astropy's LombScargle (method "fast", the spectrum only, square window
  normalization "standard"), unless --skip-astropy.

For each: wall seconds, CPU seconds, light curves per second of wall time
and per CPU second (= per core fully used).  With --rounds R, the loop and
the survey command then run alternately R more times and the
ratio of their CPU times is printed for each round, with the median: on a
shared machine whose speed moves from minute to minute, the ratio of two
runs taken minutes apart says little.  The survey's rows are checked
against the in-process peaks.  Not a test: the figures depend on the
machine and its load.
"""

import argparse
import csv
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

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


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def task_clock(command):
    """Runs `command`; the CPU seconds of it and of every process it started
    (perf stat's task-clock, which follows processes whether or not anybody
    waits for them), or None where perf cannot count."""
    with tempfile.NamedTemporaryFile("r", suffix=".perf") as counts:
        try:
            done = subprocess.run(["perf", "stat", "-x", ",", "-e", "task-clock", "-o",
                                   counts.name, "--"] + command, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, text=True)
        except OSError:
            return None, None
        for line in counts.read().splitlines():
            fields = line.split(",")
            if len(fields) > 2 and fields[2] == "task-clock" and fields[0]:
                return done, float(fields[0]) / 1000.0  # msec
        return done, None


def run_command(command):
    """Runs the survey command: (wall seconds, CPU seconds, the finished run).
    Without perf the CPU time is that of the processes the command waited
    for only."""
    wall0 = time.perf_counter()
    done, cpu = task_clock(command)
    wall = time.perf_counter() - wall0
    if cpu is None:
        print("(perf cannot count here: the survey's CPU time leaves out any process "
              "it did not wait for)", file=sys.stderr)
        child0, wall0 = children_cpu(), time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              text=True)
        wall, cpu = time.perf_counter() - wall0, children_cpu() - child0
    return wall, cpu, done


def check_rows(done, output, expected):
    """Stops unless the survey ran and its rows hold the in-process peaks."""
    if done is None or done.returncode != 0:
        sys.exit(f"the survey failed: {done.stderr if done else 'could not start'}")
    with open(output, newline="") as file:
        rows = list(csv.DictReader(file))
    for row, peaks in zip(rows, expected):
        assert float(row["rho"]) == peaks[0].rho and float(row["rho2"]) == peaks[1].rho


def timed(label, count, function):
    cpu0, wall0 = time.process_time(), time.perf_counter()
    out = function()
    wall = time.perf_counter() - wall0
    cpu = time.process_time() - cpu0
    print(f"| {label} | {count} | {wall:.2f} | {cpu:.2f} | {count / wall:.1f} | "
          f"{count / cpu:.1f} |", flush=True)
    return out, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--curves", type=int, default=1000)
    parser.add_argument("--points", type=int, default=1000)
    parser.add_argument("--frequencies", type=int, default=10000)
    parser.add_argument("--window", choices=("hanning", "square"), default="hanning")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--skip-astropy", action="store_true")
    parser.add_argument("--rounds", type=int, default=0,
                        help="rounds of the loop and the survey alternated after the table")
    args = parser.parse_args()
    steps = args.frequencies - 1
    curves = make_curves(args.curves, args.points)
    window = args.window
    print(f"{args.curves} light curves x {args.points} points x {args.frequencies} frequencies "
          f"({FMIN} to {FMAX}), {window} window, spectrum + 2 peaks; "
          f"{len(os.sched_getaffinity(0))} cores, load {os.getloadavg()[0]:.1f}\n")
    print("| | light curves | wall s | CPU s | per wall s | per CPU s |")
    print("|---|---|---|---|---|---|")

    def loop():
        return [fasogram.spectrum(t, y, FMIN, FMAX, steps, window, threads=1).peaks(2)
                for t, y in curves]
    expected, loop_cpu = timed("module: loop of spectrum().peaks(2), 1 thread", args.curves, loop)

    with tempfile.TemporaryDirectory() as directory:
        paths = []
        for i, (t, y) in enumerate(curves):
            paths.append(os.path.join(directory, f"lc{i:05d}.dat"))
            np.savetxt(paths[-1], np.column_stack([t, y]), fmt="%.17g")

        if hasattr(fasogram, "read_series"):
            def read_loop():
                out = []
                for path in paths:
                    t, y = fasogram.read_series(path)
                    out.append(fasogram.spectrum(t, y, FMIN, FMAX, steps, window,
                                                 threads=1).peaks(2))
                return out
            timed("module: read_series + spectrum().peaks(2), 1 thread", args.curves, read_loop)

        if hasattr(fasogram, "spectra"):
            for threads, label in ((1, "1 thread"), (None, "every core")):
                def batch(threads=threads):
                    return [s.peaks(2) for s in fasogram.spectra(
                        curves, FMIN, FMAX, steps, window, threads=threads, peaks=2)]
                got, _ = timed(f"module: spectra(peaks=2), {label}", args.curves, batch)
                assert got == expected, "spectra differs from the loop"

        # The survey's own task (peaks and their false-alarm probabilities,
        # reading each file) in this process.
        from fasogram.lightcurve import analyse_batch
        _, task_cpu = timed("module: the survey's task (analyse_batch), 1 thread", args.curves,
                            lambda: analyse_batch(paths, fmin=FMIN, fmax=FMAX, steps=steps,
                                                  window=window, threads=1))

        output = os.path.join(directory, "results.csv")
        command = [sys.executable, "-m", "fasogram.survey", directory, "--from", str(FMIN),
                   "--to", str(FMAX), "--steps", str(steps), "--window", window,
                   "--workers", str(args.workers), "-o", output]

        label = f"survey command, {args.workers} workers (start-up included)"
        wall, survey_cpu, done = run_command(command)
        check_rows(done, output, expected)
        print(f"| {label} | {args.curves} | {wall:.2f} | {survey_cpu:.2f} | "
              f"{args.curves / wall:.1f} | {args.curves / survey_cpu:.1f} |", flush=True)

        ratios = []
        for _ in range(max(0, args.rounds)):
            cpu0 = time.process_time()
            loop()
            loop_round = time.process_time() - cpu0
            _, survey_round, done = run_command(command)
            check_rows(done, output, expected)
            ratios.append((survey_round / loop_round, loop_round, survey_round))

    if not args.skip_astropy:
        from astropy.timeseries import LombScargle
        frequency = FMIN + (FMAX - FMIN) * np.arange(args.frequencies) / steps

        def astropy_fast():
            return [LombScargle(t, y, normalization="standard").power(
                frequency, method="fast", assume_regular_frequency=True) for t, y in curves]
        timed("astropy LombScargle fast, spectrum only", args.curves, astropy_fast)
    print(f"\nsurvey CPU / in-process loop CPU: {survey_cpu / loop_cpu:.2f}; "
          f"/ its task in process: {survey_cpu / task_cpu:.2f}")
    if ratios:
        rounds = "; ".join(f"{r:.2f} ({lc:.2f} s, {sc:.2f} s)" for r, lc, sc in ratios)
        print(f"alternated, survey CPU / loop CPU (loop, survey): {rounds}; "
              f"median {statistics.median(r for r, _, _ in ratios):.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
