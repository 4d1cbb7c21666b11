"""The analysis of light curves for a survey.

A light curve file is a series file of the program `fasogram` in its batch
runs, read by `fasogram.read_series` (the program's own reader): pairs of
time and value, or with errors (time, value, error) triples, comments, a
header line, CR LF line ends.  Its spectrum is computed on the survey's grid
and its two highest peaks make one row of the survey.
"""

import os

import fasogram
from fasogram import LightCurveError

__all__ = ["COLUMNS", "LightCurveError", "read_light_curve", "analyse", "analyse_batch"]

# The columns of a survey row, in order.
COLUMNS = ("file", "points", "frequency", "period", "rho", "amplitude", "phase",
           "frequency2", "period2", "rho2", "error", "fap", "fap2")


def read_light_curve(path, name=None, errors=False):
    """Reads a light curve file (see fasogram.read_series); OSError when it cannot
    be read, LightCurveError (whose message starts with `name`, by default the
    path) when it is not one."""
    return fasogram.read_series(path, errors=errors, header=True, name=name)


def _third_column_note(name, line):
    return (f"{name}, line {line}: the third column is not read; with --errors it is the "
            "error of each value and each point weighs 1/error^2")


def _read(path, errors):
    """The row of `path` so far and its series, or the row with its error."""
    row = dict.fromkeys(COLUMNS, "")
    row["file"] = os.path.basename(path)
    try:
        series = read_light_curve(path, row["file"], errors)
    except OSError as error:
        row["error"] = f"cannot read the file: {error.strerror or error}"
        return row, None
    except LightCurveError as error:
        row["error"] = str(error)
        return row, None
    except Exception as error:  # out of memory, say: this curve fails, not its batch
        row["error"] = f"cannot read the file: {type(error).__name__}: {error}"
        return row, None
    row["points"] = len(series)
    if not errors and series.third_column_line:
        row["note"] = _third_column_note(row["file"], series.third_column_line)
    return row, series


def _fill(row, outcome, bootstrap=0, seed=0):
    """The row with the peaks of its spectrum, or the spectrum's error.

    With `bootstrap` resamples (from `seed`) the peaks' fap and fap2 are the
    bootstrap's probabilities, a bound written "<1/B" (as "<0.001") when no
    resample reached the peak; otherwise Baluev's approximation."""
    if isinstance(outcome, ValueError):
        row["error"] = str(outcome)
        return row
    if isinstance(outcome, BaseException):
        row["error"] = f"{type(outcome).__name__}: {outcome}"
        return row
    try:
        peaks = outcome.peaks(2)
        if bootstrap and peaks:
            peaks = [p._replace(fap=_bootstrap_fap(outcome, p.rho, bootstrap, seed))
                     for p in peaks]
    except ValueError as error:
        row["error"] = str(error)
        return row
    if not peaks:
        row["error"] = "the spectrum has no peak in the range"
        return row
    best = peaks[0]
    row.update(frequency=best.frequency, period=best.period, rho=best.rho,
               amplitude=best.amplitude, phase=best.phase, fap=best.fap)
    if len(peaks) > 1:
        row.update(frequency2=peaks[1].frequency, period2=peaks[1].period, rho2=peaks[1].rho,
                   fap2=peaks[1].fap)
    return row


def _bootstrap_fap(result, rho, n, seed):
    fap = result.false_alarm_probability(rho, method="bootstrap", n=n, seed=seed)
    return f"<{float(fap)!r}" if fap.upper_bound else float(fap)


def analyse(path, fmin, fmax, steps, window="hanning", threads=1, errors=False, bootstrap=0,
            seed=0):
    """One survey row for the light curve in `path`: its two highest peaks, or the
    error.  With `errors` the file holds (time, value, error) triples and each
    point weighs 1/error^2; without, a row whose file has a third column gets
    the note "note" (not a column of the survey)."""
    row, series = _read(path, errors)
    if series is None:
        return row
    try:
        outcome = fasogram.spectrum(series.t, series.y, fmin, fmax, steps, window, threads,
                                    dy=series.dy)
    except Exception as error:  # a ValueError, or out of memory: this curve fails alone
        outcome = error
    return _fill(row, outcome, bootstrap, seed)


def analyse_batch(paths, fmin, fmax, steps, window="hanning", threads=1, errors=False,
                  bootstrap=0, seed=0):
    """`analyse` on every path, in order (one task of a survey): the spectra of
    the files read are computed in one call, on `threads` threads."""
    read = [_read(path, errors) for path in paths]
    curves = [tuple(series) for _, series in read if series is not None]
    try:
        outcomes = iter(fasogram.spectra(curves, fmin, fmax, steps, window, threads, peaks=2,
                                         failures="return"))
    except Exception:  # out of memory for the whole batch, say: one file at a time
        outcomes = None
    rows = []
    for (row, series), path in zip(read, paths):
        if series is None:
            rows.append(row)
        elif outcomes is None:
            rows.append(analyse(path, fmin, fmax, steps, window, threads, errors, bootstrap,
                                seed))
        else:
            rows.append(_fill(row, next(outcomes), bootstrap, seed))
    return rows
