"""The light curve reader and `python3 -m fasogram.survey` on Dask."""

import contextlib
import csv
import errno
import ipaddress
import json
import math
import os
import pathlib
import pty
import re
import shutil
import signal
import stat
import subprocess
import sys
import time

import numpy as np
import pytest

import fasogram
from fasogram import LightCurveError, lightcurve

FMIN, FMAX, STEPS = 0.05, 3.0, 1000
N_CURVES = 200


# --- the reader (the program's, through the module) ---

def read(text, **options):
    series = fasogram.read_series(text.encode("utf-8", "surrogatepass"), **options)
    return tuple(series)


def test_reader_takes_the_programs_series_format_and_comments():
    text = ("\ufeff# a light curve\r\n"
            "\n"
            "   % another comment\n"
            "1.5 2.5 anything after the pair\n"
            "2,1.5D+01\n"
            "3.0\t-4e-1\n"
            "4.\n"          # a pair over two lines
            ".5 extra\n"
            "+6 7d0\r\n"
            " , ,\n"         # separators alone
            "8\n")           # a lone time at the end is dropped
    t, y = read(text)
    assert t.tolist() == [1.5, 2.0, 3.0, 4.0, 6.0]
    assert y.tolist() == [2.5, 15.0, -0.4, 0.5, 7.0]
    assert t.dtype == np.float64 and y.dtype == np.float64


@pytest.mark.parametrize("text,message", [
    ("1 2\n3 x\n", r"^<bytes>, line 2: malformed number: 'x'$"),
    ("1 2\n3 nan\n", r"line 2: malformed number: 'nan'$"),
    ("1 2\n-inf 3\n", r"line 2: malformed number: '-inf'$"),
    ("1 1e999\n", r"line 1: malformed number: '1e999'$"),
    ("1 2\n1e5e 3\n", r"line 2: malformed number: '1e5e'$"),
    ("1 2\n3 \x1b[2J\n", r"line 2: malformed number: '\\x1B\[2J'$"),
])
def test_reader_names_the_line_at_fault(text, message):
    with pytest.raises(fasogram.LightCurveError, match=message) as caught:
        read(text)
    assert isinstance(caught.value, ValueError)


def test_reader_skips_a_header_line_only_before_the_first_pair():
    series = fasogram.read_series(b"# made by hand\n\ntime,mag,err\r\n1 2 0.1\n3 4 0.1\n")
    assert (series.t.tolist(), series.y.tolist()) == ([1.0, 3.0], [2.0, 4.0])
    assert (series.header, series.header_line) == ("time,mag,err", 3)
    # An overflowing number is no number: the line is still a header.
    assert read("t 1e999\n1 2\n")[0].tolist() == [1.0]
    # A first line with a number is data, and a later line without one an error.
    with pytest.raises(LightCurveError, match=r"line 1: malformed number: 'time'"):
        read("time 5\n1 2\n")
    with pytest.raises(LightCurveError, match=r"line 2: malformed number: 'time'"):
        read("1 2\ntime mag\n")
    # Without header=True a header is an error, as in the program's dialogue.
    with pytest.raises(LightCurveError, match=r"line 1: malformed number: 'time'"):
        read("time mag\n1 2\n", header=False)
    # A header in another encoding than UTF-8 is skipped all the same.
    series = fasogram.read_series(b"tiempo a\xf1o\n1 2\n3 4\n")
    assert series.header_line == 1 and "tiempo a" in series.header and len(series) == 2


@pytest.mark.parametrize("text,message", [
    ("2458000.2,,0.02\n", r"line 1: empty field in column 2 \(two separators in a row"),
    ("1,2\n3,\t ,4\n", r"line 2: empty field in column 2"),
    (",1,2\n", r"line 1: empty field in column 1"),
    ("1 2\n2458000.3,\n14.1\n", r"line 2: empty field in column 2"),  # not the next line's time
    ("1\n,2\n", r"line 2: empty field in column 1"),
    ("1 2\n,# not a comment\n", r"line 2: empty field in column 1"),
])
def test_reader_refuses_empty_fields(text, message):
    with pytest.raises(LightCurveError, match=message):
        read(text)


def test_reader_ignores_empty_fields_after_the_pair_and_on_lines_without_numbers():
    t, y = read("1,2,,\n,,\n3 , 4,,x\n5\n\n6\n")
    assert (t.tolist(), y.tolist()) == ([1.0, 3.0, 5.0], [2.0, 4.0, 6.0])


def test_reader_with_errors_reads_triples_and_refuses_bad_errors():
    t, y, dy = read("time mag err\n1 2 0.5\n3,4,1e-300 extra\n", errors=True)
    assert (t.tolist(), y.tolist(), dy.tolist()) == ([1.0, 3.0], [2.0, 4.0], [0.5, 1e-300])
    for bad in ("0", "-0.1", "-0"):
        with pytest.raises(LightCurveError,
                           match=rf"line 2: the error must be a number greater than 0: '{bad}'$"):
            read(f"1 2 1\n3 4 {bad}\n", errors=True)
    for bad in ("nan", "inf", "1e999"):
        with pytest.raises(LightCurveError, match=rf"line 2: malformed number: '{bad}'$"):
            read(f"1 2 1\n3 4 {bad}\n", errors=True)
    # The smallest positive double is an error above 0.
    assert read("1 2 4.9e-324\n", errors=True)[2].tolist() == [5e-324]
    with pytest.raises(LightCurveError, match=r"line 2: three numbers \(time, value and error\) "
                                              r"are expected and there are 2$"):
        read("1 2 1\n3 4\n5 6 1\n", errors=True)
    # A pair over two lines is no triple.
    with pytest.raises(LightCurveError, match=r"line 1: three numbers .* there are 1$"):
        read("1\n2 3\n", errors=True)


def test_reader_notes_the_first_third_column_and_stops_at_the_limit():
    series = fasogram.read_series(b"1 2\n3 4 x\n5 6 0.1\n7 8 0.2\n")
    assert series.third_column_line == 3 and series.dy is None
    assert fasogram.read_series(b"1 2\n3 4\n").third_column_line == 0
    text = b"".join(b"%d 1\n" % i for i in range(5))
    exact = fasogram.read_series(text, limit=5)
    assert (len(exact), exact.more) == (5, False)
    cut = fasogram.read_series(text + b"# c\n", limit=4)
    assert (len(cut), cut.more, cut.t[-1]) == (4, True, 3.0)
    assert fasogram.read_series(text[:-5] + b"\n# only a comment\n\n", limit=4).more is False
    with pytest.raises(ValueError, match="limit must be 0 or more"):
        fasogram.read_series(text, limit=-1)


def test_reading_a_file_names_it_and_the_line(tmp_path):
    path = tmp_path / "curve.dat"
    path.write_text("# t y e\n2458000.1,14.2,0.02\n2458000.2,,0.02\n")
    with pytest.raises(LightCurveError, match=r"^curve.dat, line 3: empty field in column 2 "):
        fasogram.read_series(path, name="curve.dat")
    with pytest.raises(LightCurveError, match=re.escape(f"{path}, line 3:")):
        fasogram.read_series(str(path))
    with pytest.raises(FileNotFoundError):
        fasogram.read_series(tmp_path / "missing.dat")
    with pytest.raises(IsADirectoryError):
        fasogram.read_series(tmp_path)


_NUMBER = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?")


def reference_reader(text):
    """The format read one field at a time, as the program's reader is documented:
    (t, y) bytes, or the number of the line at fault."""
    def number(word):
        if _NUMBER.fullmatch(word):
            value = float(word.replace("d", "e").replace("D", "e"))
            if math.isfinite(value):
                return value
        return None

    def fields(line):
        out = []
        for item in line.split(","):
            words = [word for word in re.split(r"[ \t\r]+", item) if word]
            out.extend(words)
            if not words and "," in line:
                out.append("")
        return out

    lines = text.removeprefix("\ufeff").split("\n")
    if lines and lines[-1] == "":
        lines.pop()  # the end of the last line
    times, values, pending, first = [], [], None, True
    for line_number, line in enumerate(lines, start=1):
        if line.lstrip(" \t\r")[:1] in ("#", "%"):
            continue
        words = fields(line)
        if all(word == "" for word in words):
            continue
        if first:
            first = False
            if not any(number(word) is not None for word in words):
                continue
        for word in words:
            value = number(word)
            if value is None:
                return line_number
            if pending is None:
                pending = value
                continue
            times.append(pending)
            values.append(value)
            pending = None
            break
    return np.array(times).tobytes(), np.array(values).tobytes()


def outcome(text):
    try:
        t, y = read(text)
    except LightCurveError as error:
        return int(re.match(r"<bytes>, line (\d+): ", str(error)).group(1))
    return t.tobytes(), y.tobytes()


def random_light_curve_text(rng):
    """Lines of numbers in every notation, separators, comments, headers, empty
    fields, pairs over two lines and the odd word that is not a number."""
    numbers = ["1", "-2.5", "+3.", ".5", "1e3", "2D-2", "1.5E+300", "0", "-0", "7.25d0",
               "12345678901234567890", "2458000.000077121", "1e999", "1e-400"]
    others = ["x", "nan", "inf", "1.2.3", "1e", "--1", "+", ".", "1e5e", "1/2", "\u00e9", "1_0",
              "\x0c", "0x10", "#", "%c", "-", "1,5"]
    separators = [" ", "\t", ",", ", ", " , ", ",,", ",\t,", "  ", "\r"]
    lines = []
    for _ in range(rng.integers(0, 14)):
        kind = rng.random()
        if kind < 0.05:
            lines.append("")
        elif kind < 0.1:
            lines.append(str(rng.choice(["# c", "  % x", ",# y", "\t#", "#,,"])))
        elif kind < 0.13:
            lines.append(str(rng.choice([",", " , ", ",,", "\r"])))
        else:
            words = [str(rng.choice(others if rng.random() < 0.04 else numbers))
                     for _ in range(rng.choice([1, 2, 2, 2, 3, 4]))]
            line = str(rng.choice(["", " ", ",", "\t"])) if rng.random() < 0.2 else ""
            line += words[0] + "".join(str(rng.choice(separators)) + w for w in words[1:])
            if rng.random() < 0.1:
                line += str(rng.choice([",", " ", "\r", ",,"]))
            lines.append(line)
    if rng.random() < 0.2:
        lines.insert(0, str(rng.choice(["time mag", "t,,y", "t 1e999", "a b c"])))
    return (("\ufeff" if rng.random() < 0.05 else "") + "\n".join(lines)
            + str(rng.choice(["", "\n", "\r\n"])))


def test_reader_agrees_with_a_field_by_field_reading():
    rng = np.random.default_rng(20240612)
    texts = [random_light_curve_text(rng) for _ in range(5000)]
    errors = 0
    for text in texts:
        expected = reference_reader(text)
        assert outcome(text) == expected, repr(text)
        errors += isinstance(expected, int)
    # Both outcomes were exercised.
    assert 0.1 < errors / len(texts) < 0.9


def test_reader_of_a_long_file_with_scattered_odd_lines(tmp_path):
    rng = np.random.default_rng(7)
    n = 200_000
    t = 2458000.0 + np.sort(rng.uniform(0.0, 100.0, n))
    y = rng.normal(14.0, 0.1, n)
    lines = [f"{a!r} {b!r} 0.02" for a, b in zip(t, y)]
    for i in rng.choice(n, 300, replace=False):
        lines[i] = rng.choice([f"{t[i]!r}\n{y[i]!r}",            # a pair over two lines
                               f"{t[i]!r},{y[i]!r}\n# comment",
                               f"  {t[i]!r}\t{y[i]!r}\r",
                               f"{t[i]!r}D0 {y[i]!r}d+00"])
    text = "time mag err\n" + "\n".join(lines) + "\n"
    path = tmp_path / "long.dat"
    path.write_text(text)
    got_t, got_y = fasogram.read_series(path)
    assert got_t.tobytes() == t.tobytes() and got_y.tobytes() == y.tobytes()
    # An error near the end is still found, on its line.
    lines[-3] = f"{t[-3]!r},,{y[-3]!r}"
    path.write_text("\n".join(lines) + "\n")
    line_number = "\n".join(lines[:-3]).count("\n") + 2
    with pytest.raises(LightCurveError, match=rf"^long.dat, line {line_number}: empty field in "):
        fasogram.read_series(path, name="long.dat")


# --- the survey ---

def write_curves(directory):
    """N_CURVES light curves with known periods, and five broken files."""
    rng = np.random.default_rng(20240611)
    periods = {}
    for i in range(N_CURVES):
        n = int(rng.integers(100, 160))
        t = 2455000.0 + np.sort(rng.uniform(0.0, 60.0, n))
        period = float(rng.uniform(0.4, 8.0))
        y = (14.0 + rng.uniform(0.4, 1.0) * np.cos(2 * np.pi * (t / period - rng.uniform()))
             + rng.normal(0.0, 0.1, n))
        name = f"curve{i:03d}.dat"
        np.savetxt(directory / name, np.column_stack([t, y]), header=f"period {period!r}")
        periods[name] = period
    broken = {
        "bad_number.dat": ("1 2\n2 3\nthree 4\n", r"line 3: malformed number: 'three'"),
        "empty.dat": ("", r"at least 2 points, got 0"),
        "one_point.dat": ("2455000.5 14.2\n", r"at least 2 points, got 1"),
        "flat.dat": ("1 5\n2 5\n3 5\n4 5\n", r"does not vary"),
        "binary.dat": (b"\x89PNG\r\n\x1a\n\x00\xff", r"line 2: malformed number: '\\x1A'"),
    }
    for name, (content, _) in broken.items():
        path = directory / name
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
    return periods, {name: message for name, (_, message) in broken.items()}


@pytest.fixture(scope="module")
def curves(tmp_path_factory):
    directory = tmp_path_factory.mktemp("curves")
    periods, broken = write_curves(directory)
    return directory, periods, broken


def survey_command(directory, output, *extra, steps=STEPS):
    return [sys.executable, "-m", "fasogram.survey", str(directory), "--from", str(FMIN),
            "--to", str(FMAX), "--steps", str(steps), "-o", str(output), *extra]


def start_survey(directory, output, *extra, steps=STEPS, **popen):
    return subprocess.Popen(survey_command(directory, output, *extra, steps=steps),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **popen)


def finish(survey):
    stdout, stderr = survey.communicate(timeout=300)
    return subprocess.CompletedProcess(survey.args, survey.returncode, stdout, stderr)


def run_survey(directory, output, *extra, **popen):
    return finish(start_survey(directory, output, *extra, **popen))


def read_rows(path):
    with open(path, newline="") as file:
        return list(csv.DictReader(file))


def serial_row(path):
    """The row the survey should write, from the module called directly on numpy's reading."""
    data = np.loadtxt(path, ndmin=2)
    best, second = fasogram.spectrum(data[:, 0], data[:, 1], FMIN, FMAX, STEPS).peaks(2)
    return {"points": len(data), "frequency": best.frequency, "period": best.period,
            "rho": best.rho, "amplitude": best.amplitude, "phase": best.phase,
            "frequency2": second.frequency, "period2": second.period, "rho2": second.rho,
            "fap": best.fap, "fap2": second.fap}



def survey_lines(stderr):
    """The notes of the survey on its standard error, and whether anything else is there."""
    lines = stderr.splitlines()
    return [line for line in lines if not line.startswith("fasogram-survey: ")], lines


def assert_one_line_error(done, message):
    assert done.returncode == 1, done.stderr
    assert "Traceback" not in done.stderr
    others, lines = survey_lines(done.stderr)
    assert others == [], done.stderr
    assert lines[-1].startswith("fasogram-survey: error: "), done.stderr
    assert re.search(message, lines[-1]), done.stderr


def directory_entries(directory):
    return sorted(os.listdir(directory))


@pytest.fixture(scope="module")
def loopback_cluster():
    from distributed import LocalCluster
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address=None,
                           scheduler_kwargs={"dashboard_address": "127.0.0.1:0"})
    yield cluster
    cluster.close()


@pytest.fixture(scope="module")
def few_curves(curves, tmp_path_factory):
    """Four light curves of the module's set, for the runs about the output."""
    directory, periods, _ = curves
    few = tmp_path_factory.mktemp("few")
    for name in sorted(periods)[:4]:
        (few / name).write_bytes((directory / name).read_bytes())
    return few


# --- the survey's results ---

def test_survey_on_a_two_worker_cluster(curves, loopback_cluster, tmp_path):
    directory, periods, broken = curves
    output = tmp_path / "results.csv"
    survey = start_survey(directory, output, "--scheduler", loopback_cluster.scheduler_address)
    # The serial run meanwhile.
    serial = {name: serial_row(directory / name) for name in periods}
    done = finish(survey)
    # Broken files make the exit status 1, with their count as the last note.
    assert done.returncode == 1, done.stderr
    total = N_CURVES + len(broken)
    others, lines = survey_lines(done.stderr)
    assert others == [] and "Traceback" not in done.stderr
    assert lines[-1] == f"fasogram-survey: {len(broken)} of {total} light curves failed"
    # Progress on the standard error, as lines: no carriage return off a terminal.
    assert done.stdout == ""
    assert "\r" not in done.stderr
    assert f"fasogram-survey: 100% ({total} of {total} light curves)" in lines
    rows = read_rows(output)
    assert [row["file"] for row in rows] == sorted(list(periods) + list(broken))

    for row in rows:
        name = row["file"]
        if name in broken:
            assert row["error"], name
            assert row["frequency"] == row["rho"] == row["period"] == ""
            assert re.search(broken[name], row["error"]), (name, row["error"])
            continue
        assert row["error"] == ""
        # Every period recovered.
        assert abs(float(row["frequency"]) - 1 / periods[name]) < 2e-3, name
        # Exactly the numbers of the module called serially.
        expected = serial[name]
        assert int(row["points"]) == expected.pop("points")
        for key, value in expected.items():
            assert float(row[key]) == value, (name, key)
    assert read_rows(output)[0].keys() == {
        "file", "points", "frequency", "period", "rho", "amplitude", "phase",
        "frequency2", "period2", "rho2", "error", "fap", "fap2"}


def test_survey_on_its_own_local_cluster(curves, tmp_path):
    directory, periods, broken = curves
    subset = tmp_path / "subset"
    subset.mkdir()
    for name in sorted(periods)[:12] + ["bad_number.dat", "flat.dat"]:
        (subset / name).write_bytes((directory / name).read_bytes())
    (subset / ".hidden").write_text("not a light curve\n")
    (subset / "nested").mkdir()
    output = subset / "results.csv"  # in the directory itself: not read as a light curve
    output.write_text("an earlier run\n")
    done = run_survey(subset, output, "--workers", "2")
    assert done.returncode == 1, done.stderr
    assert done.stderr.splitlines()[-1] == "fasogram-survey: 2 of 14 light curves failed"
    rows = read_rows(output)
    assert len(rows) == 14
    for row in rows:
        if row["file"] in broken:
            assert row["error"]
        else:
            expected = serial_row(subset / row["file"])
            assert float(row["rho"]) == expected["rho"]
            assert abs(float(row["frequency"]) - 1 / periods[row["file"]]) < 2e-3
    # Good files only: exit status 0.
    (subset / "bad_number.dat").unlink()
    (subset / "flat.dat").unlink()
    done = run_survey(subset, output, "--workers", "1")
    assert done.returncode == 0, done.stderr
    assert done.stderr.splitlines()[-1] == (
        f"fasogram-survey: 12 light curves, none failed: {output}")
    assert len(read_rows(output)) == 12
    assert directory_entries(subset) == sorted(sorted(periods)[:12] + [
        ".hidden", "nested", "results.csv"])


def write_triples(directory):
    """Light curves with a column of errors; the errors differ from point to point."""
    rng = np.random.default_rng(5)
    series = {}
    for i in range(3):
        n = 120
        t = 100.0 + np.sort(rng.uniform(0.0, 30.0, n))
        dy = rng.uniform(0.05, 0.6, n)
        y = 2.0 + np.cos(2 * np.pi * (0.3 + 0.4 * i) * t) + rng.normal(0.0, 1.0, n) * dy
        name = f"triple{i}.dat"
        np.savetxt(directory / name, np.column_stack([t, y, dy]), fmt="%.17g",
                   header="time mag err")
        series[name] = (t, y, dy)
    (directory / "zero_error.dat").write_text("1 2 0.1\n2 3 0.1\n3 1 0\n4 5 0.1\n5 2 1\n6 4 1\n")
    (directory / "pairs.dat").write_text("1 2\n2 3\n3 1\n4 5\n5 2\n6 4\n")
    return series


def test_survey_errors_weigh_the_points_and_a_third_column_is_noted_once(tmp_path):
    series = write_triples(tmp_path)
    output = tmp_path / "results.csv"
    done = run_survey(tmp_path, output, "--errors", "--workers", "1")
    assert done.returncode == 1, done.stderr
    assert done.stderr.splitlines()[-1] == "fasogram-survey: 2 of 5 light curves failed"
    assert "third column" not in done.stderr
    rows = {row["file"]: row for row in read_rows(output)}
    for name, (t, y, dy) in series.items():
        best, second = fasogram.spectrum(t, y, FMIN, FMAX, STEPS, dy=dy).peaks(2)
        unweighted = fasogram.spectrum(t, y, FMIN, FMAX, STEPS).peaks(1)[0]
        assert rows[name]["error"] == "" and rows[name]["points"] == "120"
        assert float(rows[name]["rho"]) == best.rho != unweighted.rho
        assert float(rows[name]["rho2"]) == second.rho
        assert float(rows[name]["fap"]) == best.fap
    assert rows["zero_error.dat"]["error"] == (
        "zero_error.dat, line 3: the error must be a number greater than 0: '0'")
    assert rows["pairs.dat"]["error"] == ("pairs.dat, line 1: three numbers (time, value and "
                                          "error) are expected and there are 2")
    assert rows["pairs.dat"]["points"] == rows["pairs.dat"]["rho"] == ""

    # Without --errors: the same files as pairs, one note for each file with
    # a third column, on the line of its first pair.
    done = run_survey(tmp_path, output, "--workers", "1")
    assert done.returncode == 0, done.stderr
    notes = [line for line in done.stderr.splitlines() if "third column" in line]
    assert notes == [f"fasogram-survey: {name}, line 2: the third column is not read; with "
                     "--errors it is the error of each value and each point weighs 1/error^2"
                     for name in sorted(series)] + [
        "fasogram-survey: zero_error.dat, line 1: the third column is not read; with --errors "
        "it is the error of each value and each point weighs 1/error^2"]
    rows = {row["file"]: row for row in read_rows(output)}
    for name, (t, y, dy) in series.items():
        assert float(rows[name]["rho"]) == fasogram.spectrum(t, y, FMIN, FMAX,
                                                             STEPS).peaks(1)[0].rho


def test_a_task_of_files_gives_the_rows_of_the_files_one_by_one(curves, tmp_path):
    directory, periods, broken = curves
    names = sorted(periods)[:6] + sorted(broken)
    paths = [str(directory / name) for name in names] + [str(tmp_path / "missing.dat")]
    together = lightcurve.analyse_batch(paths, FMIN, FMAX, STEPS)
    alone = [lightcurve.analyse(path, FMIN, FMAX, STEPS) for path in paths]
    assert together == alone
    for row in together:
        if row["file"] in broken:
            assert re.search(broken[row["file"]], row["error"]), row
        elif row["file"] == "missing.dat":
            assert row["error"] == "cannot read the file: No such file or directory"
        else:
            assert row["error"] == "" and float(row["rho"]) == serial_row(
                directory / row["file"])["rho"]


CRASH_HOOK = '''
import os
import fasogram.lightcurve as lightcurve

# Dask may load a preload file twice: the reader is wrapped once.
_read = getattr(lightcurve, "_read_before_hook", lightcurve.read_light_curve)
lightcurve._read_before_hook = _read


def _read_or_crash(path, *args, **kwargs):
    if "crash" in os.path.basename(path):
        os._exit(70)  # the worker process dies, as on a segmentation fault
    return _read(path, *args, **kwargs)


lightcurve.read_light_curve = _read_or_crash
'''


def test_a_crashing_light_curve_alone_gets_an_error_row(curves, tmp_path):
    directory, periods, _ = curves
    crashing = tmp_path / "crashing"
    crashing.mkdir()
    names = sorted(periods)[:8]
    for name in names:
        (crashing / name).write_bytes((directory / name).read_bytes())
    # Sorted among the others, so that its task holds another file too.
    crash_name = names[3].replace(".dat", "_crash.dat")
    (crashing / crash_name).write_bytes((directory / names[3]).read_bytes())
    hook = tmp_path / "crash_hook.py"
    hook.write_text(CRASH_HOOK)
    environment = dict(os.environ, DASK_DISTRIBUTED__WORKER__PRELOAD=repr([str(hook)]))
    output = tmp_path / "results.csv"
    done = run_survey(crashing, output, "--workers", "2", env=environment)
    assert done.returncode == 1, done.stderr
    others, lines = survey_lines(done.stderr)
    assert others == [] and "Traceback" not in done.stderr
    assert lines[-1] == "fasogram-survey: 1 of 9 light curves failed"
    rows = read_rows(output)
    assert [row["file"] for row in rows] == sorted(names + [crash_name])
    for row in rows:
        if row["file"] == crash_name:
            assert row["error"] == "the Dask worker analysing it died"
            assert row["rho"] == ""
        else:
            assert row["error"] == ""
            assert float(row["rho"]) == serial_row(crashing / row["file"])["rho"]


WORKER_REPORT_HOOK = '''
import json
import os
import sys


def dask_teardown(worker):
    with open(os.path.join(os.environ["SURVEY_WORKER_REPORTS"], f"{os.getpid()}.json"),
              "w") as file:
        json.dump({"parent": os.getppid(), "profiler": "profile" in worker.periodic_callbacks,
                   "pandas": "pandas" in sys.modules}, file)
'''


def test_local_workers_are_forks_of_the_survey_without_the_dashboards_load(few_curves,
                                                                             tmp_path):
    # What each worker of the local cluster was, reported as it closes.
    reports = tmp_path / "reports"
    reports.mkdir()
    hook = tmp_path / "report_hook.py"
    hook.write_text(WORKER_REPORT_HOOK)
    environment = dict(os.environ, SURVEY_WORKER_REPORTS=str(reports),
                       DASK_DISTRIBUTED__WORKER__PRELOAD=repr([str(hook)]))
    survey = start_survey(few_curves, tmp_path / "results.csv", "--workers", "2",
                          env=environment)
    done = finish(survey)
    assert done.returncode == 0, done.stderr
    seen = [json.loads(path.read_text()) for path in reports.iterdir()]
    assert len(seen) == 2
    for report in seen:
        # Forked from the survey's own process, which has loaded Dask (no
        # server, no interpreter of its own); no statistical profiler sampling
        # the task; pandas, which Dask's report of versions would load, not
        # loaded.
        assert report == {"parent": survey.pid, "profiler": False, "pandas": False}


@pytest.mark.parametrize("args,message", [
    (["--from", "1", "--to", "1", "--steps", "10"], "--to (1.0) must be greater than --from"),
    (["--from", "0.1", "--to", "1", "--steps", "0"], "--steps must be 1 or more"),
    (["--from", "0.1", "--to", "nan", "--steps", "5"], "--from and --to must be finite"),
    (["--from", "0.1", "--to", "1", "--steps", "5", "--workers", "0"], "--workers must be"),
    (["--from", "0.1", "--to", "1", "--steps", "5", "--bootstrap", "0"],
     "--bootstrap must be 1 or more, got 0"),
    (["--from", "0.1", "--to", "1", "--steps", "5", "--bootstrap", "-4"],
     "--bootstrap must be 1 or more"),
    (["--from", "0.1", "--to", "1", "--steps", "5", "--bootstrap", "2.5"],
     "argument --bootstrap: invalid int value: '2.5'"),
    (["--from", "0.1", "--to", "1", "--steps", "5", "--bootstrap", "5", "--seed", "-1"],
     "--seed must lie from 0 to 2**64-1"),
    (["--from", "0.1", "--to", "1", "--steps", "5", "--bootstrap", "5", "--seed",
      str(2 ** 64)], "--seed must lie from 0 to 2**64-1"),
])
def test_survey_refuses_bad_options(tmp_path, args, message):
    done = subprocess.run([sys.executable, "-m", "fasogram.survey", str(tmp_path), *args,
                           "-o", str(tmp_path / "out.csv")], capture_output=True, text=True)
    assert done.returncode == 2
    assert "fasogram-survey: error: " + message in done.stderr
    assert not (tmp_path / "out.csv").exists()


def test_survey_reports_a_missing_or_empty_directory(tmp_path):
    for directory, message in ((tmp_path / "missing", "cannot read the directory"),
                               (tmp_path, "no light curve files")):
        done = run_survey(directory, tmp_path / "out.csv")
        assert_one_line_error(done, message)
        assert directory_entries(tmp_path) == []


# --- the output: never destroyed ---

EARLIER = "file,points\nearlier.dat,100\n"


def test_earlier_results_kept_when_the_survey_fails(few_curves, tmp_path):
    output = tmp_path / "results.csv"
    output.write_text(EARLIER)
    done = run_survey(few_curves, output, "--scheduler", "nowhere://scheduler")
    assert_one_line_error(done, "cannot reach the Dask scheduler at nowhere://scheduler")
    assert output.read_text() == EARLIER
    assert directory_entries(tmp_path) == ["results.csv"]


def test_a_device_given_as_output_is_written_into_and_never_removed(few_curves, tmp_path):
    if os.geteuid() != 0:
        pytest.skip("making a device node needs root")
    device = tmp_path / "null"
    os.mknod(device, stat.S_IFCHR | 0o666, os.makedev(1, 3))  # as /dev/null
    done = run_survey(few_curves, device, "--scheduler", "nowhere://scheduler")
    assert_one_line_error(done, "cannot reach the Dask scheduler")
    assert stat.S_ISCHR(os.lstat(device).st_mode)
    done = run_survey(few_curves, device, "--workers", "1")
    assert done.returncode == 0, done.stderr
    assert stat.S_ISCHR(os.lstat(device).st_mode)
    assert directory_entries(tmp_path) == ["null"]


def test_output_on_the_standard_output(few_curves, tmp_path):
    path = os.environ.get("PYTHONPATH", "").split(os.pathsep)
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(map(os.path.abspath, path)))
    done = subprocess.run(survey_command(few_curves, "-", "--workers", "1"),
                          capture_output=True, text=True, cwd=tmp_path, env=environment)
    assert done.returncode == 0, done.stderr
    rows = list(csv.DictReader(done.stdout.splitlines()))
    assert [row["file"] for row in rows] == sorted(os.listdir(few_curves))
    assert all(row["rho"] and not row["error"] for row in rows)
    assert directory_entries(tmp_path) == []


def live_processes(group):
    """The processes of a process group that have not ended (zombies left out)."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                fields = open(f"/proc/{entry}/stat").read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[2]) == group and fields[0] != "Z":
                found.append(int(entry))
    return found


def wait_for_start(survey):
    """The survey's first note, once its cluster runs."""
    line = survey.stderr.readline()
    assert re.fullmatch(r"fasogram-survey: \d+ light curves, \d+ workers at tcp://\S+\n", line), \
        line + survey.stderr.read()
    return line


@pytest.mark.parametrize("signum,whole_group", [
    (signal.SIGINT, True),   # Ctrl-C at a terminal: every process of the job
    (signal.SIGHUP, True),   # the terminal closed
    (signal.SIGTERM, False),
])
def test_a_stopped_survey_keeps_the_earlier_results(few_curves, tmp_path, signum, whole_group):
    output = tmp_path / "results.csv"
    output.write_text(EARLIER)
    survey = start_survey(few_curves, output, "--workers", "1", steps=1_000_000,
                          start_new_session=True)
    try:
        wait_for_start(survey)
        # Under way: the earlier results whole, the new ones in a file of their own.
        assert output.read_text() == EARLIER
        temporary = [name for name in directory_entries(tmp_path) if name != "results.csv"]
        assert len(temporary) == 1 and temporary[0].startswith(".results.csv.")
        if whole_group:
            os.killpg(survey.pid, signum)
        else:
            survey.send_signal(signum)
        done = finish(survey)
    finally:
        if survey.poll() is None:
            survey.kill()
    assert done.returncode == 128 + signum, done.stderr
    assert "Traceback" not in done.stderr
    others, lines = survey_lines(done.stderr)
    assert others == []
    assert lines[-1] == (f"fasogram-survey: stopped by {signal.Signals(signum).name}; "
                         f"{output} left as it was")
    assert output.read_text() == EARLIER
    assert directory_entries(tmp_path) == ["results.csv"]
    # No worker process left behind.
    for _ in range(100):
        if not live_processes(survey.pid):
            break
        time.sleep(0.1)
    assert live_processes(survey.pid) == []


# A worker that takes seconds to start: the cluster is still starting for a
# while after the first worker process is seen, however fast they are made.
SLOW_START_HOOK = '''
import time


def dask_setup(worker):
    time.sleep(2)
'''


def test_ctrl_c_while_the_cluster_starts(few_curves, tmp_path, tmp_path_factory):
    output = tmp_path / "results.csv"
    output.write_text(EARLIER)
    hook = tmp_path_factory.mktemp("hook") / "slow_start.py"
    hook.write_text(SLOW_START_HOOK)
    environment = dict(os.environ, DASK_DISTRIBUTED__WORKER__PRELOAD=repr([str(hook)]))
    survey = start_survey(few_curves, output, "--workers", "2", start_new_session=True,
                          env=environment)
    try:
        # As soon as a worker process is being started: forked from the
        # survey (its command line), spawned afresh, or forked from a server.
        def command_line(pid):
            try:
                return pathlib.Path(f"/proc/{pid}/cmdline").read_bytes()
            except OSError:  # it has ended meanwhile
                return b""

        own = b"".join(os.fsencode(arg) + b"\0" for arg in survey.args)

        def worker_like(line):
            return line == own or any(mark in line for mark in (b"spawn_main", b"forkserver"))

        for _ in range(600):
            starting = [pid for pid in process_tree(survey.pid) - {survey.pid}
                        if worker_like(command_line(pid))]
            if starting or survey.poll() is not None:
                break
            time.sleep(0.01)
        assert starting, "no worker process seen"
        os.killpg(survey.pid, signal.SIGINT)
        done = finish(survey)
    finally:
        if survey.poll() is None:
            survey.kill()
    assert done.returncode == 130, done.stderr
    assert "Traceback" not in done.stderr and "KeyboardInterrupt" not in done.stderr
    assert done.stderr.splitlines() == [
        f"fasogram-survey: stopped by SIGINT; {output} left as it was"], done.stderr
    assert output.read_text() == EARLIER
    assert directory_entries(tmp_path) == ["results.csv"]
    for _ in range(100):
        if not live_processes(survey.pid):
            break
        time.sleep(0.1)
    assert live_processes(survey.pid) == []


def test_a_worker_stopped_by_sigterm_ends_and_leaves_the_survey_whole(curves, tmp_path):
    # The local cluster's workers are forks of the survey's process: one that
    # gets SIGTERM must end as a worker does, not act as the survey (whose
    # handler removes the new results' temporary file).
    directory, periods, _ = curves
    subset = tmp_path / "subset"
    subset.mkdir()
    names = sorted(periods)[:8]
    for name in names:
        (subset / name).write_bytes((directory / name).read_bytes())
    output = tmp_path / "results.csv"
    output.write_text(EARLIER)
    steps = 500_000
    survey = start_survey(subset, output, "--workers", "2", steps=steps)
    try:
        wait_for_start(survey)
        own = b"".join(os.fsencode(arg) + b"\0" for arg in survey.args)
        workers = []
        for pid in process_tree(survey.pid) - {survey.pid}:
            with contextlib.suppress(OSError):
                if pathlib.Path(f"/proc/{pid}/cmdline").read_bytes() == own:
                    workers.append(pid)
        assert workers and survey.poll() is None
        os.kill(workers[0], signal.SIGTERM)
        done = finish(survey)
    finally:
        if survey.poll() is None:
            survey.kill()
    assert done.returncode == 0, done.stderr
    assert "Traceback" not in done.stderr
    assert workers[0] not in process_tree(os.getpid())
    rows = read_rows(output)
    assert [row["file"] for row in rows] == names
    for row in rows:
        data = np.loadtxt(subset / row["file"], ndmin=2)
        best, _ = fasogram.spectrum(data[:, 0], data[:, 1], FMIN, FMAX, steps).peaks(2)
        assert row["error"] == "" and float(row["rho"]) == best.rho, row
    assert directory_entries(tmp_path) == ["results.csv", "subset"]


def listening_sockets(pids):
    """(address, port) of the TCP sockets listening in the processes `pids`."""
    inodes = set()
    for pid in pids:
        with contextlib.suppress(OSError):
            for fd in os.listdir(f"/proc/{pid}/fd"):
                with contextlib.suppress(OSError):
                    link = os.readlink(f"/proc/{pid}/fd/{fd}")
                    if link.startswith("socket:["):
                        inodes.add(link[len("socket:["):-1])
    sockets = []
    for table in ("tcp", "tcp6"):
        with open(f"/proc/net/{table}") as file:
            for line in file.readlines()[1:]:
                fields = line.split()
                if fields[3] == "0A" and fields[9] in inodes:  # LISTEN
                    address, port = fields[1].split(":")
                    raw = bytes.fromhex(address)
                    # /proc shows the address as 32-bit words in host (little-endian) order.
                    words = b"".join(raw[i:i + 4][::-1] for i in range(0, len(raw), 4))
                    sockets.append((ipaddress.ip_address(words), int(port, 16)))
    return sockets


def process_tree(root):
    pids = {root}
    grew = True
    while grew:
        grew = False
        for entry in os.listdir("/proc"):
            if entry.isdigit() and int(entry) not in pids:
                with contextlib.suppress(OSError):
                    stat_line = open(f"/proc/{entry}/stat").read()
                    if int(stat_line.rsplit(")", 1)[1].split()[1]) in pids:
                        pids.add(int(entry))
                        grew = True
    return pids


def test_local_cluster_listens_on_the_loopback_only_without_dashboard(few_curves, tmp_path):
    survey = start_survey(few_curves, tmp_path / "results.csv", "--workers", "2",
                          steps=1_000_000)
    try:
        note = wait_for_start(survey)
        assert "at tcp://127.0.0.1:" in note
        sockets = listening_sockets(process_tree(survey.pid))
    finally:
        survey.terminate()
        survey.communicate(timeout=60)
    # The scheduler, its HTTP routes, the two nannies and the two workers at least.
    assert len(sockets) >= 5, sockets
    assert all(address.is_loopback for address, _ in sockets), sockets
    assert 8787 not in [port for _, port in sockets], sockets


def test_progress_updates_one_line_on_a_terminal(few_curves, tmp_path):
    main, terminal = pty.openpty()
    try:
        survey = subprocess.Popen(survey_command(few_curves, tmp_path / "results.csv",
                                                 "--workers", "1"),
                                  stdout=subprocess.DEVNULL, stderr=terminal)
    finally:
        os.close(terminal)
    seen = b""
    while True:
        try:
            chunk = os.read(main, 4096)
        except OSError:  # the terminal's other side closed
            break
        if not chunk:
            break
        seen += chunk
    os.close(main)
    assert survey.wait(timeout=300) == 0
    text = seen.decode().replace("\r\n", "\n")
    assert "\rfasogram-survey: 100% (4 of 4 light curves)\n" in text
    assert text.count("\r") >= 4


# --- the output file: where and how it is written ---

def test_new_results_get_the_mode_of_the_umask(few_curves, tmp_path):
    for umask, mode in ((0o027, 0o640), (0o002, 0o664)):
        output = tmp_path / f"results{umask:o}.csv"
        done = run_survey(few_curves, output, "--workers", "1", umask=umask)
        assert done.returncode == 0, done.stderr
        assert stat.S_IMODE(os.stat(output).st_mode) == mode
    assert directory_entries(tmp_path) == ["results2.csv", "results27.csv"]


def test_a_symbolic_link_is_followed_and_the_replaced_file_keeps_its_mode(few_curves, tmp_path):
    store, links = tmp_path / "store", tmp_path / "links"
    store.mkdir()
    links.mkdir()
    results = store / "results.csv"
    results.write_text(EARLIER)
    os.chmod(results, 0o604)
    if os.geteuid() == 0:
        os.chown(results, 65534, 65534)
    (links / "latest.csv").symlink_to("../store/results.csv")
    (links / "dangling.csv").symlink_to("../store/new.csv")
    for link in ("latest.csv", "dangling.csv"):
        done = run_survey(few_curves, links / link, "--workers", "1")
        assert done.returncode == 0, done.stderr
    assert os.readlink(links / "latest.csv") == "../store/results.csv"
    assert os.readlink(links / "dangling.csv") == "../store/new.csv"
    assert directory_entries(links) == ["dangling.csv", "latest.csv"]
    assert directory_entries(store) == ["new.csv", "results.csv"]
    for written in (results, store / "new.csv"):
        assert [row["file"] for row in read_rows(written)] == sorted(os.listdir(few_curves))
    info = os.stat(results)
    assert stat.S_IMODE(info.st_mode) == 0o604
    if os.geteuid() == 0:
        assert (info.st_uid, info.st_gid) == (65534, 65534)


def test_a_link_in_a_sticky_shared_directory_is_followed_only_as_the_kernel_would(
        few_curves, tmp_path):
    if os.geteuid() != 0:
        pytest.skip("links of another user need root to make")
    shared = tmp_path / "shared"
    shared.mkdir()
    os.chmod(shared, 0o1777)
    victim = tmp_path / "victim.csv"
    victim.write_text(EARLIER)
    planted = shared / "results.csv"
    planted.symlink_to(victim)
    os.lchown(planted, 65534, 65534)  # neither ours nor the directory owner's
    done = run_survey(few_curves, planted, "--workers", "1")
    assert_one_line_error(done, rf"will not follow the symbolic link {re.escape(str(planted))}")
    assert victim.read_text() == EARLIER
    assert os.readlink(planted) == str(victim)
    assert directory_entries(shared) == ["results.csv"]
    # A link of the directory's owner is followed, and so is one of ours.
    os.chown(shared, 65534, 65534)
    done = run_survey(few_curves, planted, "--workers", "1")
    assert done.returncode == 0, done.stderr
    assert len(read_rows(victim)) == 4
    victim.write_text(EARLIER)
    os.chown(shared, 0, 0)
    os.lchown(planted, 0, 0)
    done = run_survey(few_curves, planted, "--workers", "1")
    assert done.returncode == 0, done.stderr
    assert len(read_rows(victim)) == 4
    assert directory_entries(shared) == ["results.csv"]


@contextlib.contextmanager
def tmpfs(path, size):
    path.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(path)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {done.stderr.strip() or done.returncode}")
    try:
        yield path
    finally:
        subprocess.run(["umount", str(path)], check=True)


def test_a_full_disk_is_one_line_and_keeps_the_earlier_results(few_curves, tmp_path):
    with tmpfs(tmp_path / "disk", "64k") as disk:
        output = disk / "results.csv"
        output.write_text(EARLIER)
        filler = os.open(disk / "filler", os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            with pytest.raises(OSError) as full:
                while True:
                    os.write(filler, b"x" * 4096)
        finally:
            os.close(filler)
        assert full.value.errno == errno.ENOSPC
        done = run_survey(few_curves, output, "--workers", "1")
        assert_one_line_error(done, rf"cannot write {re.escape(str(output))}: "
                                    r"No space left on device$")
        assert output.read_text() == EARLIER
        assert directory_entries(disk) == ["filler", "results.csv"]


def test_an_unwritable_output_is_one_line_and_changes_nothing(few_curves, tmp_path):
    # A directory, and a file in a directory that does not exist.
    for output, message in ((tmp_path, "it is a directory"),
                            (tmp_path / "missing" / "results.csv", "No such file or directory")):
        done = run_survey(few_curves, output, "--workers", "1")
        assert_one_line_error(done, f"cannot write {re.escape(str(output))}: {message}")
    assert directory_entries(tmp_path) == []
    # A file that may not be written: on a read-only mount for root (who may
    # write any file), in a read-only directory otherwise.
    if os.geteuid() == 0:
        with tmpfs(tmp_path / "disk", "64k") as disk:
            output = disk / "results.csv"
            output.write_text(EARLIER)
            subprocess.run(["mount", "-o", "remount,ro", str(disk)], check=True)
            done = run_survey(few_curves, output, "--workers", "1")
            assert_one_line_error(done, "Read-only file system")
            assert output.read_text() == EARLIER
            assert directory_entries(disk) == ["results.csv"]
    else:
        locked = tmp_path / "locked"
        locked.mkdir()
        output = locked / "results.csv"
        output.write_text(EARLIER)
        os.chmod(output, 0o444)
        os.chmod(locked, 0o555)
        try:
            done = run_survey(few_curves, output, "--workers", "1")
        finally:
            os.chmod(locked, 0o755)
        assert_one_line_error(done, "Permission denied")
        assert output.read_text() == EARLIER
        assert directory_entries(locked) == ["results.csv"]


# --- the command as installed ---

def test_pip_install_provides_the_fasogram_survey_command(few_curves, tmp_path):
    """Installed from a copy of the sources, with the module built by CMake."""
    source = pathlib.Path(__file__).resolve().parents[2]
    copy = tmp_path / "source"
    (copy / "python").mkdir(parents=True)
    for name in ("setup.py", "setup.cfg", "pyproject.toml"):
        shutil.copy(source / name, copy / name)
    shutil.copytree(source / "python" / "fasogram", copy / "python" / "fasogram")
    prefix = tmp_path / "prefix"
    environment = dict(os.environ, FASOGRAM_PREBUILT_EXTENSION=fasogram._fasogram.__file__)
    done = subprocess.run([sys.executable, "-m", "pip", "install", "--no-deps",
                           "--no-build-isolation", "--no-index", "--no-cache-dir",
                           "--prefix", str(prefix), str(copy)],
                          capture_output=True, text=True, env=environment)
    if done.returncode != 0 and "No module named pip" in done.stderr:
        pytest.skip(f"pip is missing for {sys.executable}")
    assert done.returncode == 0, done.stdout + done.stderr
    (command,) = prefix.glob("**/bin/fasogram-survey")
    (package,) = prefix.glob("**/fasogram/__init__.py")
    # The Python it was installed for.
    assert command.read_text().splitlines()[0] == f"#!{sys.executable}"
    environment = dict(os.environ, PYTHONPATH=str(package.parent.parent))
    where = subprocess.run([sys.executable, "-c", "import fasogram; print(fasogram.__file__)"],
                           capture_output=True, text=True, env=environment)
    assert where.stdout.strip() == str(package)
    helped = subprocess.run([str(command), "--help"], capture_output=True, text=True,
                            env=environment)
    assert helped.returncode == 0 and helped.stdout.startswith("usage: fasogram-survey ")
    output = tmp_path / "results.csv"
    done = subprocess.run([str(command), str(few_curves), "--from", str(FMIN), "--to", str(FMAX),
                           "--steps", str(STEPS), "--workers", "1", "-o", str(output)],
                          capture_output=True, text=True, env=environment)
    assert done.returncode == 0, done.stderr
    rows = read_rows(output)
    assert [row["file"] for row in rows] == sorted(os.listdir(few_curves))
    for row in rows:
        assert float(row["rho"]) == serial_row(few_curves / row["file"])["rho"]


def test_phases_beyond_the_engines_range_give_an_error_row(tmp_path):
    # A time of 1e308, or a frequency that overflows t*f: an error row for
    # that curve, never a crash of the worker.
    (tmp_path / "far.dat").write_text("1 1\n1e308 2\n3 1\n")
    (tmp_path / "near.dat").write_text("1 1\n2 2\n3 1.5\n4 0.5\n")
    far = fasogram.lightcurve.analyse(str(tmp_path / "far.dat"), 0.0, 1.0, 10, "square")
    assert "beyond the phases" in far["error"]
    assert far["frequency"] == ""
    huge = fasogram.lightcurve.analyse(str(tmp_path / "near.dat"), 0.0, 1e308, 10, "square")
    assert "beyond the phases" in huge["error"]
    fine = fasogram.lightcurve.analyse(str(tmp_path / "near.dat"), 0.01, 0.5, 10, "square")
    assert fine["error"] == "" and float(fine["rho"]) > 0


def test_survey_with_bootstrap_writes_the_resamples_probabilities(few_curves, tmp_path):
    output = tmp_path / "results.csv"
    done = run_survey(few_curves, output, "--workers", "1", "--bootstrap", "40", "--seed", "6")
    assert done.returncode == 0, done.stderr
    rows = read_rows(output)
    assert len(rows) == 4
    for row in rows:
        data = np.loadtxt(few_curves / row["file"], ndmin=2)
        result = fasogram.spectrum(data[:, 0], data[:, 1], FMIN, FMAX, STEPS)
        best, second = result.peaks(2)
        for key, peak in (("fap", best), ("fap2", second)):
            fap = result.false_alarm_probability(peak.rho, method="bootstrap", n=40, seed=6)
            text = row[key]
            if fap.upper_bound:
                assert text == "<0.025", (row["file"], key, text)
            else:
                assert float(text) == float(fap) and fap.exceeding == round(40 * float(text))
        # The rest of the row is the spectrum's as without the bootstrap.
        assert float(row["rho"]) == best.rho
    # Each light curve's signal: its highest peak beyond every resample.
    assert all(row["fap"] == "<0.025" for row in rows)