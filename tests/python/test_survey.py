"""The light curve reader and `python3 -m fasogram.survey` on Dask."""

import csv
import math
import re
import subprocess
import sys

import numpy as np
import pytest

import fasogram
from fasogram.lightcurve import LightCurveError, parse_light_curve, read_light_curve

FMIN, FMAX, STEPS = 0.05, 3.0, 1000
N_CURVES = 200


# --- the reader ---

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
            "8\n")           # a lone time at the end is dropped
    t, y = parse_light_curve(text)
    assert t.tolist() == [1.5, 2.0, 3.0, 4.0, 6.0]
    assert y.tolist() == [2.5, 15.0, -0.4, 0.5, 7.0]
    assert t.dtype == np.float64


@pytest.mark.parametrize("text,message", [
    ("1 2\n3 x\n", r"line 2: not a number: 'x'"),
    ("1 2\n3 nan\n", r"line 2: not a number: 'nan'"),
    ("1 1e999\n", r"line 1: not a number: '1e999'"),
    ("1 2\n1e5e 3\n", r"line 2: not a number: '1e5e'"),
])
def test_reader_names_the_line_at_fault(text, message):
    with pytest.raises(LightCurveError, match=message):
        parse_light_curve(text)


def test_reader_refuses_binary_files(tmp_path):
    path = tmp_path / "image.dat"
    path.write_bytes(b"1 2\n\xff\xd8\xff")
    with pytest.raises(LightCurveError, match="image.dat: not a text file"):
        read_light_curve(path)


def test_reader_skips_a_header_line_only_before_the_first_pair():
    t, y = parse_light_curve("# made by hand\n\ntime,mag,err\n1 2 0.1\n3 4 0.1\n")
    assert (t.tolist(), y.tolist()) == ([1.0, 3.0], [2.0, 4.0])
    # An overflowing number is no number: the line is still a header.
    assert parse_light_curve("t 1e999\n1 2\n")[0].tolist() == [1.0]
    # A first line with a number is data, and a later line without one an error.
    with pytest.raises(LightCurveError, match=r"line 1: not a number: 'time'"):
        parse_light_curve("time 5\n1 2\n")
    with pytest.raises(LightCurveError, match=r"line 2: not a number: 'time'"):
        parse_light_curve("1 2\ntime mag\n")


@pytest.mark.parametrize("text,message", [
    ("2458000.2,,0.02\n", r"line 1: field 2 is empty"),
    ("1,2\n3,\t ,4\n", r"line 2: field 2 is empty"),
    (",1,2\n", r"line 1: field 1 is empty"),
    ("1 2\n2458000.3,\n14.1\n", r"line 2: field 2 is empty"),  # not the next line's time
    ("1\n,2\n", r"line 2: field 1 is empty"),
])
def test_reader_refuses_empty_fields(text, message):
    with pytest.raises(LightCurveError, match=message):
        parse_light_curve(text)


def test_reader_ignores_empty_fields_after_the_pair_and_on_lines_without_numbers():
    t, y = parse_light_curve("1,2,,\n,,\n3 , 4,,x\n5\n\n6\n")
    assert (t.tolist(), y.tolist()) == ([1.0, 3.0, 5.0], [2.0, 4.0, 6.0])


def test_reading_a_file_names_it_and_the_line(tmp_path):
    path = tmp_path / "curve.dat"
    path.write_text("# t y e\n2458000.1,14.2,0.02\n2458000.2,,0.02\n")
    with pytest.raises(LightCurveError, match=r"^curve.dat, line 3: field 2 is empty$"):
        read_light_curve(path, "curve.dat")
    with pytest.raises(LightCurveError, match=re.escape(f"{path}, line 3:")):
        read_light_curve(path)


_NUMBER = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?")


def reference_reader(text):
    """The format read one word at a time, as the reader's documentation says."""
    def number(word, line_number):
        if _NUMBER.fullmatch(word):
            value = float(word.replace("d", "e").replace("D", "e"))
            if math.isfinite(value):
                return value
        raise LightCurveError(f"line {line_number}: not a number: {word!r}")

    def pair_words(line, line_number):
        """The words of the line that go into pairs, up to the one closing a pair."""
        taken = 0 if pending is None else 1
        for field_number, field in enumerate(line.split(","), start=1):
            words = [word for word in re.split(r"[ \t\r]+", field) if word]
            if not words:
                raise LightCurveError(f"line {line_number}: field {field_number} is empty")
            for word in words:
                yield word
                taken += 1
                if taken == 2:
                    return

    times, values, pending, first = [], [], None, True
    for line_number, line in enumerate(text.removeprefix("\ufeff").split("\n"), start=1):
        words = [word for word in re.split(r"[ \t\r,]+", line) if word]
        if not words or words[0][0] in "#%":
            continue
        if first:
            first = False
            if not any(_NUMBER.fullmatch(w) and math.isfinite(float(w.replace("d", "e")
                                                                    .replace("D", "e")))
                       for w in words):
                continue
        for word in pair_words(line, line_number):
            value = number(word, line_number)
            if pending is None:
                pending = value
            else:
                times.append(pending)
                values.append(value)
                pending = None
    return np.array(times), np.array(values)


def outcome(reader, text):
    try:
        t, y = reader(text)
    except LightCurveError as error:
        return str(error)
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


def test_reader_agrees_with_a_word_by_word_reading():
    rng = np.random.default_rng(20240612)
    texts = [random_light_curve_text(rng) for _ in range(4000)]
    errors = 0
    for text in texts:
        expected = outcome(reference_reader, text)
        assert outcome(parse_light_curve, text) == expected, repr(text)
        errors += isinstance(expected, str)
    # Both outcomes were exercised.
    assert 500 < errors < 3500


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
    got_t, got_y = read_light_curve(path)
    assert got_t.tobytes() == t.tobytes() and got_y.tobytes() == y.tobytes()
    # An error near the end is still found, on its line.
    lines[-3] = f"{t[-3]!r},,{y[-3]!r}"
    path.write_text("\n".join(lines) + "\n")
    line_number = "\n".join(lines[:-3]).count("\n") + 2
    with pytest.raises(LightCurveError, match=rf"^long.dat, line {line_number}: field 2 is empty$"):
        read_light_curve(path, "long.dat")


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
        "bad_number.dat": ("1 2\n2 3\nthree 4\n", r"line 3: not a number: 'three'"),
        "empty.dat": ("", r"at least 2 points, got 0"),
        "one_point.dat": ("2455000.5 14.2\n", r"at least 2 points, got 1"),
        "flat.dat": ("1 5\n2 5\n3 5\n4 5\n", r"does not vary"),
        "binary.dat": (b"\x89PNG\r\n\x1a\n\x00\xff", r"not a text file"),
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


def start_survey(directory, output, *extra):
    command = [sys.executable, "-m", "fasogram.survey", str(directory), "--from", str(FMIN),
               "--to", str(FMAX), "--steps", str(STEPS), "-o", str(output), *extra]
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def finish(survey):
    stdout, stderr = survey.communicate(timeout=300)
    return subprocess.CompletedProcess(survey.args, survey.returncode, stdout, stderr)


def run_survey(directory, output, *extra):
    return finish(start_survey(directory, output, *extra))


def read_rows(path):
    with open(path, newline="") as file:
        return list(csv.DictReader(file))


def serial_row(path):
    """The row the survey should write, from the module called directly on numpy's reading."""
    data = np.loadtxt(path, ndmin=2)
    best, second = fasogram.spectrum(data[:, 0], data[:, 1], FMIN, FMAX, STEPS).peaks(2)
    return {"points": len(data), "frequency": best.frequency, "period": best.period,
            "rho": best.rho, "amplitude": best.amplitude, "phase": best.phase,
            "frequency2": second.frequency, "period2": second.period, "rho2": second.rho}


@pytest.fixture(scope="module")
def two_worker_cluster():
    from distributed import LocalCluster
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=None)
    yield cluster
    cluster.close()


def test_survey_on_a_two_worker_cluster(curves, two_worker_cluster, tmp_path):
    directory, periods, broken = curves
    output = tmp_path / "results.csv"
    survey = start_survey(directory, output, "--scheduler", two_worker_cluster.scheduler_address)
    # The serial run meanwhile.
    serial = {name: serial_row(directory / name) for name in periods}
    done = finish(survey)
    assert done.returncode == 0, done.stderr
    assert "100% Completed" in done.stdout
    assert f"{N_CURVES + len(broken)} light curves, {len(broken)} with errors" in done.stdout
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
        "frequency2", "period2", "rho2", "error"}


def test_survey_on_its_own_local_cluster(curves, tmp_path):
    directory, periods, broken = curves
    subset = tmp_path / "subset"
    subset.mkdir()
    for name in sorted(periods)[:12] + ["bad_number.dat", "flat.dat"]:
        (subset / name).write_bytes((directory / name).read_bytes())
    (subset / ".hidden").write_text("not a light curve\n")
    (subset / "nested").mkdir()
    output = subset / "results.csv"  # in the directory itself: not read as a light curve
    done = run_survey(subset, output, "--workers", "2")
    assert done.returncode == 0, done.stderr
    rows = read_rows(output)
    assert len(rows) == 14
    for row in rows:
        if row["file"] in broken:
            assert row["error"]
        else:
            expected = serial_row(subset / row["file"])
            assert float(row["rho"]) == expected["rho"]
            assert abs(float(row["frequency"]) - 1 / periods[row["file"]]) < 2e-3


@pytest.mark.parametrize("args,message", [
    (["--from", "1", "--to", "1", "--steps", "10"], "--to (1.0) must be greater than --from"),
    (["--from", "0.1", "--to", "1", "--steps", "0"], "--steps must be 1 or more"),
    (["--from", "0.1", "--to", "nan", "--steps", "5"], "--from and --to must be finite"),
    (["--from", "0.1", "--to", "1", "--steps", "5", "--workers", "0"], "--workers must be"),
])
def test_survey_refuses_bad_options(tmp_path, args, message):
    done = subprocess.run([sys.executable, "-m", "fasogram.survey", str(tmp_path), *args,
                           "-o", str(tmp_path / "out.csv")], capture_output=True, text=True)
    assert done.returncode == 2
    assert "fasogram.survey: error: " + message in done.stderr
    assert not (tmp_path / "out.csv").exists()


def test_survey_reports_a_missing_or_empty_directory(tmp_path):
    for directory, message in ((tmp_path / "missing", "cannot read the directory"),
                               (tmp_path, "no light curve files")):
        done = run_survey(directory, tmp_path / "out.csv")
        assert done.returncode == 1
        assert "fasogram.survey: error: " + message in done.stderr
        assert not (tmp_path / "out.csv").exists()
