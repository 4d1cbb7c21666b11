"""The spectra and best peaks of every light curve in a directory, on Dask.

    python3 -m fasogram.survey DIR --from F --to F --steps N [--window W]
                               [--scheduler ADDRESS] [--workers N] -o results.csv

Every file in DIR (not in its subdirectories; names starting with a dot are
left out) is read as a light curve (see fasogram.lightcurve), its spectrum
computed from --from to --to in --steps steps, and its two highest peaks
written as one CSV row:

    file, points, frequency, period, rho, amplitude, phase,
    frequency2, period2, rho2, error

(the second peak's frequency, period and rho last).  Numbers are written
with all their digits.  A light curve that cannot be read or has no
spectrum gets a row with the number of points read, if any, and its error;
the other columns stay empty.  Rows follow the order of the file names.

Without --scheduler the work runs on a distributed.LocalCluster started on
this machine (one single-threaded worker process per core, or --workers);
with --scheduler on the existing Dask cluster at ADDRESS (such as
tcp://10.0.0.5:8786), whose workers need the fasogram package and must see
DIR under the same path.  Dask's progress bar shows how far it is.
"""

import argparse
import csv
import math
import os
import sys

from fasogram.lightcurve import COLUMNS, analyse_batch


class SurveyError(Exception):
    """A survey that cannot start; the message says why."""


def light_curve_files(directory):
    """The light curve files of `directory`, sorted by name."""
    try:
        names = sorted(os.listdir(directory))
    except OSError as error:
        raise SurveyError(f"cannot read the directory {directory}: "
                          f"{error.strerror or error}") from None
    return [os.path.join(directory, name) for name in names
            if not name.startswith(".") and os.path.isfile(os.path.join(directory, name))]


def batches(paths, workers):
    """The paths cut into tasks: a few per worker, each large enough to outweigh Dask's overhead."""
    size = max(1, min(64, math.ceil(len(paths) / (4 * max(1, workers)))))
    return [paths[i:i + size] for i in range(0, len(paths), size)]


def run_survey(client, paths, fmin, fmax, steps, window="hanning", show_progress=True):
    """The survey rows of `paths` computed on the Dask cluster of `client`, in the order of `paths`."""
    from distributed import progress, wait

    workers = len(client.scheduler_info().get("workers", {}))
    tasks = batches(paths, workers)
    futures = client.map(analyse_batch, tasks, fmin=fmin, fmax=fmax, steps=steps,
                         window=window, threads=1, pure=False)
    if show_progress and futures:
        progress(futures)
        print(file=sys.stdout, flush=True)
    wait(futures)
    rows = []
    for task, future in zip(tasks, futures):
        if future.status == "finished":
            rows.extend(future.result())
            continue
        # A task that failed as a whole (a worker lost, say): its files still
        # get their rows.
        try:
            error = future.exception()
        except Exception as failure:  # the exception itself may not come back
            error = failure
        for path in task:
            row = dict.fromkeys(COLUMNS, "")
            row["file"] = os.path.basename(path)
            row["error"] = f"task failed: {type(error).__name__}: {error}"
            rows.append(row)
    return rows


def write_rows(rows, file):
    """Writes the rows as CSV with a header line; numbers keep all their digits."""
    writer = csv.DictWriter(file, fieldnames=COLUMNS, lineterminator="\n")
    writer.writeheader()
    for row in rows:
        writer.writerow({key: repr(value) if isinstance(value, float) else value
                         for key, value in row.items()})


def _parser():
    parser = argparse.ArgumentParser(
        prog="fasogram.survey",
        description="Spectra and best peaks of every light curve file in a directory, on Dask.")
    parser.add_argument("directory", metavar="DIR", help="directory of light curve files")
    parser.add_argument("--from", dest="fmin", type=float, required=True, metavar="F",
                        help="lowest frequency (cycles per unit of time)")
    parser.add_argument("--to", dest="fmax", type=float, required=True, metavar="F",
                        help="highest frequency")
    parser.add_argument("--steps", type=int, required=True, metavar="N",
                        help="number of frequency steps (N + 1 frequencies)")
    parser.add_argument("--window", choices=("hanning", "square"), default="hanning",
                        help="spectral window (default: hanning)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of an existing Dask scheduler (default: a local cluster)")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="worker processes of the local cluster (default: one per core)")
    parser.add_argument("-o", "--output", required=True, metavar="FILE", help="CSV file to write")
    return parser


def _survey_on_dask(args, paths):
    from distributed import Client, LocalCluster

    cluster = None
    if args.scheduler:
        try:
            client = Client(args.scheduler, timeout="30s")
        except (OSError, TimeoutError) as error:
            raise SurveyError(f"cannot reach the Dask scheduler at {args.scheduler}: "
                              f"{error}") from None
    else:
        cluster = LocalCluster(n_workers=args.workers or os.cpu_count() or 1,
                               threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    try:
        return run_survey(client, paths, args.fmin, args.fmax, args.steps, args.window)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def main(argv=None):
    parser = _parser()
    args = parser.parse_args(argv)
    if not (math.isfinite(args.fmin) and math.isfinite(args.fmax)):
        parser.error("--from and --to must be finite numbers")
    if not args.fmax > args.fmin:
        parser.error(f"--to ({args.fmax!r}) must be greater than --from ({args.fmin!r})")
    if args.steps < 1:
        parser.error(f"--steps must be 1 or more, got {args.steps}")
    if args.workers is not None and args.workers < 1:
        parser.error(f"--workers must be 1 or more, got {args.workers}")
    if args.workers is not None and args.scheduler:
        parser.error("--workers applies to the local cluster only, not with --scheduler")
    try:
        paths = light_curve_files(args.directory)
        output = os.path.abspath(args.output)
        paths = [os.path.abspath(p) for p in paths if os.path.abspath(p) != output]
        if not paths:
            raise SurveyError(f"no light curve files in {args.directory}")
        # The output is opened first: a file that cannot be written stops the
        # survey before the work, not after it.
        try:
            out = open(args.output, "w", newline="", encoding="utf-8")
        except OSError as error:
            raise SurveyError(f"cannot write {args.output}: {error.strerror or error}") from None
        try:
            with out:
                rows = _survey_on_dask(args, paths)
                write_rows(rows, out)
        except BaseException:
            os.remove(args.output)  # no half-written or empty results
            raise
    except SurveyError as error:
        print(f"fasogram.survey: error: {error}", file=sys.stderr)
        return 1
    failed = sum(1 for row in rows if row["error"])
    print(f"{len(rows)} light curves, {failed} with errors: {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
