"""Light curve files, and the analysis of one light curve for a survey.

A light curve file holds pairs of time and value, the series format of the
program `fasogram` in its batch runs: each pair starts on a new line; its two
numbers are separated by blanks, tabs or a comma and may stand on consecutive
lines; whatever follows the second number on its line is ignored.  Numbers
take any decimal or exponent notation, Fortran D exponents included
(1.5D+03).  Empty lines and comment lines (whose first character other than a
blank or a comma is # or %) are skipped, and so is a header: a first line
(not empty, not a comment) holding no number.  CR LF line ends and a UTF-8
byte order mark are accepted; a lone time at the end is dropped.  Unlike the
program, there is no limit on the number of pairs.

A comma separates two fields: an empty one (`2458000.2,,0.02`, a comma at the
start of the line, or a line ending in a comma before its pair is complete)
is an error rather than a column silently shifted.  So is a word that is not a
number (nan and inf included); the message names the line.

>>> t, y = parse_light_curve("time mag\\n# t y\\n1.0 2.5\\n2.0, 3.5D0 comment\\n")
>>> t.tolist(), y.tolist()
([1.0, 2.0], [2.5, 3.5])
"""

import math
import os
import re
import warnings

import numpy as np

import fasogram

_NUMBER = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?")
_BLANKS = re.compile(r"[ \t\r]+")
_WORDS = re.compile(r"[^ \t\r,]+")

# The columns of a survey row, in order.
COLUMNS = ("file", "points", "frequency", "period", "rho", "amplitude", "phase",
           "frequency2", "period2", "rho2", "error", "fap", "fap2")

_NUMBER_BYTES = re.compile(_NUMBER.pattern.encode())

# Byte classes of the array reader, for the bytes other than digits, points
# and minus signs: 0 a byte of a number (+ e E), 1 blank, 2 comma, 3 line end,
# 4 a byte no number holds, 5 the exponent letter d or D.
_CLASS = np.full(256, 4, np.uint8)
_CLASS[[ord("+"), ord("e"), ord("E")]] = 0
_CLASS[[ord(" "), ord("\t"), ord("\r")]] = 1
_CLASS[ord(",")] = 2
_CLASS[ord("\n")] = 3
_CLASS[[ord("d"), ord("D")]] = 5
_CLASS[[ord(c) for c in "0123456789.-"]] = 255  # not looked up


class LightCurveError(ValueError):
    """A light curve that cannot be read; the message names the line at fault."""


def _number(text, line_number):
    if _NUMBER.fullmatch(text):
        value = float(text.replace("d", "e").replace("D", "e"))
        if math.isfinite(value):
            return value
    raise LightCurveError(f"line {line_number}: not a number: {text!r}")


def _is_number(text):
    try:
        _number(text, 0)
    except LightCurveError:
        return False
    return True


class _LineReader:
    """The reader of one line at a time: the definition of the format, used for
    the lines the array reader leaves to it (errors, pairs over two lines,
    headers, very long numbers)."""

    def __init__(self):
        self.pending = None  # a time waiting for its value
        self.pairs = []

    def line(self, text, line_number, first):
        """Reads a line holding a word that does not start a comment; `first`
        when no such line came before."""
        if first and not any(_is_number(word) for word in _WORDS.findall(text)):
            return  # a header
        for field_number, field in enumerate(text.split(","), start=1):
            words = [word for word in _BLANKS.split(field) if word]
            if not words:
                raise LightCurveError(f"line {line_number}: field {field_number} is empty")
            for word in words:
                number = _number(word, line_number)
                if self.pending is None:
                    self.pending = number
                    continue
                self.pairs.append((self.pending, number))
                self.pending = None
                return  # the rest of the line after a pair is ignored


def _convert(text, count):
    """The `count` numbers of `text` (bytes of numbers in the reader's syntax,
    exponent letter e, between blanks), or None when a word is not one."""
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        try:
            values = np.fromstring(text, sep=" ")
        except (DeprecationWarning, ValueError):  # stopped at a word that is not a number
            return None
    return values if len(values) == count else None


# The array reader takes a file in blocks of whole lines of about this many
# bytes, small enough for its arrays to stay in the processor's caches.
_BLOCK = 1 << 20


class _Pairs:
    """The pairs read so far, in pieces, with the line reader's state."""

    def __init__(self):
        self.times, self.values = [], []
        self.reader = _LineReader()
        self.data_lines = 0  # lines with a pair (or a header) read so far

    def add(self, t, y):
        self.flush()
        self.times.append(t)
        self.values.append(y)

    def flush(self):
        if self.reader.pairs:
            pairs = np.array(self.reader.pairs, dtype=np.float64)
            self.times.append(pairs[:, 0])
            self.values.append(pairs[:, 1])
            self.reader.pairs = []

    def arrays(self):
        self.flush()
        if not self.times:
            return np.empty(0), np.empty(0)
        return np.concatenate(self.times), np.concatenate(self.values)


def _parse(data):
    """The (t, y) arrays of the light curve in the bytes `data` (UTF-8)."""
    begin = 3 if data.startswith(b"\xef\xbb\xbf") else 0
    everything = np.frombuffer(data, np.uint8)
    pairs = _Pairs()
    line_number = 0  # of the lines before the block
    while begin < len(data):
        end = begin + _BLOCK
        if end < len(data):
            cut = data.rfind(b"\n", begin, end)
            if cut < 0:
                cut = data.find(b"\n", end)
            end = len(data) if cut < 0 else cut + 1
        line_number += _parse_block(data, everything[begin:end], begin, line_number, pairs)
        begin = end
    return pairs.arrays()


def _parse_block(data, raw, offset, line_number, pairs):
    """Adds to `pairs` those of the lines `raw` (starting at `offset` in `data`
    and after `line_number` lines); the number of line ends in `raw`.

    The lines whose first two words are numbers, with no empty field before or
    between them, are read at once: their other bytes are blanked and the rest
    converted in one call.  The line reader takes the others (errors, pairs
    over two lines, a header) and the lines after them while a time waits for
    its value."""
    # The bytes other than digits, points and minus signs, and their classes.
    special = np.flatnonzero((raw <= 44) | (raw >= 58) | (raw == 47))
    kind = _CLASS[raw[special]]
    is_separator = (kind >= 1) & (kind <= 3)
    separators = special[is_separator]
    separator_kind = kind[is_separator]
    line_ends = separators[separator_kind == 3]
    line_count = len(line_ends)
    commas = separators[separator_kind == 2]
    line_starts = np.concatenate(([0], line_ends + 1))
    line_ends = np.concatenate((line_ends, [len(raw)]))
    bounds = np.concatenate(([-1], separators, [len(raw)]))
    gaps = np.flatnonzero(np.diff(bounds) > 1)
    starts, ends = bounds[gaps] + 1, bounds[gaps + 1]
    if len(starts) == 0:
        return line_count
    # Words with a byte no number holds.
    strange = np.zeros(len(starts), bool)
    strange[np.searchsorted(starts, special[kind == 4], "right") - 1] = True

    # The lines that hold a pair: a word that does not start a comment.
    first_word = np.searchsorted(starts, line_starts)
    word_count = np.searchsorted(starts, line_ends) - first_word
    first_char = raw[starts[np.minimum(first_word, len(starts) - 1)]]
    lines = np.flatnonzero((word_count > 0) & (first_char != ord("#")) & (first_char != ord("%")))
    first_word, word_count = first_word[lines], word_count[lines]

    regular = word_count >= 2
    regular[regular] = ~strange[first_word[regular]] & ~strange[first_word[regular] + 1]
    time_word = first_word[regular]
    value_word = time_word + 1
    before = np.searchsorted(commas, starts[time_word]) - np.searchsorted(
        commas, line_starts[lines[regular]])
    between = np.searchsorted(commas, starts[value_word]) - np.searchsorted(
        commas, ends[time_word])
    regular[regular] = (before == 0) & (between <= 1)
    time_word = first_word[regular]
    value_word = time_word + 1

    # The text of those pairs alone: every other byte blanked.
    edges = np.column_stack((starts[time_word], ends[time_word],
                             starts[value_word], ends[value_word])).ravel()
    toggles = np.zeros(len(raw), np.uint8)
    toggles[edges[edges < len(raw)]] = 1
    keep = np.bitwise_xor.accumulate(toggles).view(bool)
    text = raw.copy()
    text[~keep] = ord(" ")
    letters = special[kind == 5]
    text[letters[keep[letters]]] = ord("e")
    values = _convert(text.tobytes(), 2 * len(time_word))
    if values is None:
        # A word is not a number: its line goes to the line reader.
        words = text.tobytes().split()
        bad = np.array([not _NUMBER_BYTES.fullmatch(word) for word in words], bool)
        values = np.full(len(words), np.nan)
        values[~bad] = np.array([float(word) for word, b in zip(words, bad) if not b])
    values = values.reshape(-1, 2)
    good = np.isfinite(values).all(axis=1)
    regular[regular] = good
    t_all = np.full(len(lines), np.nan)
    y_all = np.full(len(lines), np.nan)
    t_all[regular], y_all[regular] = values[good, 0], values[good, 1]

    # Runs of regular lines between the others, which the line reader reads
    # (with the lines after them while a time waits for its value).
    irregular = np.flatnonzero(~regular)
    reader = pairs.reader
    position = 0
    while position < len(lines):
        if reader.pending is None:
            following = np.searchsorted(irregular, position)
            stop = irregular[following] if following < len(irregular) else len(lines)
            if stop > position:
                pairs.add(t_all[position:stop], y_all[position:stop])
                position = stop
                continue
        line = lines[position]
        text = data[offset + line_starts[line]:offset + line_ends[line]].decode("utf-8")
        reader.line(text, line_number + int(line) + 1, first=pairs.data_lines + position == 0)
        position += 1
    pairs.data_lines += len(lines)
    return line_count


def parse_light_curve(text):
    """The (t, y) float64 arrays of the pairs in `text`; LightCurveError naming the
    line when a word is not a number or a field is empty."""
    return _parse(text.encode("utf-8", "surrogatepass"))


def read_light_curve(path, name=None):
    """Reads a light curve file; OSError when it cannot be read, LightCurveError
    (whose message starts with `name`, by default the path) when it is not one."""
    name = os.fspath(path) if name is None else name
    with open(path, "rb") as file:
        data = file.read()
    if not data.isascii():
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as error:
            raise LightCurveError(f"{name}: not a text file (byte {error.start} is not UTF-8)") \
                from None
    try:
        return _parse(data)
    except LightCurveError as error:
        raise LightCurveError(f"{name}, {error}") from None


def analyse(path, fmin, fmax, steps, window="hanning", threads=1, bootstrap=0, seed=0):
    """One survey row for the light curve in `path`: its two highest peaks, or the error.

    With `bootstrap` resamples (from `seed`) the peaks' fap and fap2 are the
    bootstrap's probabilities, a bound written "<1/B" (as "<0.001") when no
    resample reached the peak; otherwise Baluev's approximation."""
    row = dict.fromkeys(COLUMNS, "")
    row["file"] = os.path.basename(path)
    try:
        t, y = read_light_curve(path, row["file"])
    except OSError as error:
        row["error"] = f"cannot read the file: {error.strerror or error}"
        return row
    except LightCurveError as error:
        row["error"] = str(error)
        return row
    except Exception as error:  # out of memory, say: this curve fails, not its batch
        row["error"] = f"cannot read the file: {type(error).__name__}: {error}"
        return row
    row["points"] = len(t)
    try:
        result = fasogram.spectrum(t, y, fmin, fmax, steps, window, threads)
        peaks = result.peaks(2)
        if bootstrap and peaks:
            peaks = [p._replace(fap=_bootstrap_fap(result, p.rho, bootstrap, seed))
                     for p in peaks]
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
               amplitude=best.amplitude, phase=best.phase, fap=best.fap)
    if len(peaks) > 1:
        row.update(frequency2=peaks[1].frequency, period2=peaks[1].period, rho2=peaks[1].rho,
                   fap2=peaks[1].fap)
    return row


def _bootstrap_fap(result, rho, n, seed):
    fap = result.false_alarm_probability(rho, method="bootstrap", n=n, seed=seed)
    return f"<{float(fap)!r}" if fap.upper_bound else float(fap)


def analyse_batch(paths, fmin, fmax, steps, window="hanning", threads=1, bootstrap=0, seed=0):
    """`analyse` on every path, in order (one task of a survey)."""
    return [analyse(path, fmin, fmax, steps, window, threads, bootstrap, seed)
            for path in paths]
