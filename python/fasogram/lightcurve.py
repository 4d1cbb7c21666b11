"""Light curve files, and the analysis of one light curve for a survey.

A light curve file holds pairs of time and value, the series format of the
program `fasogram`: each pair starts on a new line; its two numbers are
separated by blanks, tabs or a comma and may stand on consecutive lines;
whatever follows the second number on its line is ignored.  Numbers take any
decimal or exponent notation, Fortran D exponents included (1.5D+03).  Empty
lines and comment lines (whose first character other than a blank is # or %)
are skipped; CR LF line ends and a UTF-8 byte order mark are accepted; a lone
time at the end is dropped.  Unlike the program, there is no limit on the
number of pairs.

>>> t, y = parse_light_curve("# t y\\n1.0 2.5\\n2.0, 3.5D0 comment\\n")
>>> t.tolist(), y.tolist()
([1.0, 2.0], [2.5, 3.5])
"""

import math
import os
import re

import numpy as np

import fasogram

_NUMBER = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?")
_SEPARATORS = re.compile(r"[ \t\r,]+")

# The columns of a survey row, in order.
COLUMNS = ("file", "points", "frequency", "period", "rho", "amplitude", "phase",
           "frequency2", "period2", "rho2", "error")


class LightCurveError(ValueError):
    """A light curve that cannot be read; the message names the line at fault."""


def _number(text, line_number):
    if _NUMBER.fullmatch(text):
        value = float(text.replace("d", "e").replace("D", "e"))
        if math.isfinite(value):
            return value
    raise LightCurveError(f"line {line_number}: not a number: {text!r}")


def parse_light_curve(text):
    """The (t, y) float64 arrays of the pairs in `text`; LightCurveError when a word is not a number."""
    if text.startswith("\ufeff"):
        text = text[1:]
    times, values = [], []
    pending = None  # a time waiting for its value
    for line_number, line in enumerate(text.split("\n"), start=1):
        words = _SEPARATORS.split(line.strip(" \t\r,"))
        if not words[0] or words[0][0] in "#%":
            continue
        for word in words:
            number = _number(word, line_number)
            if pending is None:
                pending = number
                continue
            times.append(pending)
            values.append(number)
            pending = None
            break  # the rest of the line after a pair is ignored
    return np.array(times, dtype=np.float64), np.array(values, dtype=np.float64)


def read_light_curve(path):
    """Reads a light curve file; OSError when it cannot be read, LightCurveError when it is not one."""
    with open(path, "rb") as file:
        data = file.read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise LightCurveError(f"not a text file (byte {error.start} is not UTF-8)") from None
    return parse_light_curve(text)


def analyse(path, fmin, fmax, steps, window="hanning", threads=1):
    """One survey row for the light curve in `path`: its two highest peaks, or the error."""
    row = dict.fromkeys(COLUMNS, "")
    row["file"] = os.path.basename(path)
    try:
        t, y = read_light_curve(path)
    except OSError as error:
        row["error"] = f"cannot read the file: {error.strerror or error}"
        return row
    except LightCurveError as error:
        row["error"] = str(error)
        return row
    row["points"] = len(t)
    try:
        peaks = fasogram.spectrum(t, y, fmin, fmax, steps, window, threads).peaks(2)
    except ValueError as error:
        row["error"] = str(error)
        return row
    except Exception as error:  # out of memory, say: this curve fails, not its batch
        row["error"] = f"{type(error).__name__}: {error}"
        return row
    if not peaks:
        row["error"] = "the spectrum has no peak in the range"
        return row
    best = peaks[0]
    row.update(frequency=best.frequency, period=best.period, rho=best.rho,
               amplitude=best.amplitude, phase=best.phase)
    if len(peaks) > 1:
        row.update(frequency2=peaks[1].frequency, period2=peaks[1].period, rho2=peaks[1].rho)
    return row


def analyse_batch(paths, fmin, fmax, steps, window="hanning", threads=1):
    """`analyse` on every path, in order (one task of a survey)."""
    return [analyse(path, fmin, fmax, steps, window, threads) for path in paths]
