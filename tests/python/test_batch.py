"""Many series at once (fasogram.spectra) and the one series reader shared by
the program and the module (fasogram.read_series)."""
import os
import subprocess

import numpy as np
import pytest

import fasogram

PROGRAM = os.environ.get("FASOGRAM_PROGRAM")


def curves(count, seed=11, errors=False):
    rng = np.random.default_rng(seed)
    out = []
    for _ in range(count):
        n = int(rng.integers(30, 200))
        t = 100.0 + np.sort(rng.uniform(0.0, 40.0, n))
        y = 3.0 + np.cos(2 * np.pi * rng.uniform(0.1, 2.0) * t) + rng.normal(0.0, 0.3, n)
        out.append((t, y, rng.uniform(0.1, 0.5, n)) if errors else (t, y))
    return out


def same(a, b):
    return all(x.tobytes() == y.tobytes() for x, y in zip(a, b)) and len(a[0]) == len(b[0])


class TestSpectra:
    @pytest.mark.parametrize("window", ["hanning", "square"])
    @pytest.mark.parametrize("errors", [False, True])
    def test_each_spectrum_and_its_peaks_are_the_single_calls(self, window, errors):
        many = curves(9, errors=errors)
        for threads in (1, 3):
            results = fasogram.spectra(many, 0.02, 2.5, 700, window, threads=threads, peaks=2)
            assert len(results) == len(many)
            for curve, result in zip(many, results):
                dy = curve[2] if errors else None
                single = fasogram.spectrum(curve[0], curve[1], 0.02, 2.5, 700, window,
                                           threads=1, dy=dy)
                assert same(tuple(result), tuple(single))
                assert result.has_errors == errors and result.grid == single.grid
                # Found with the spectrum, and found again from its arrays.
                assert result.peaks(2) == single.peaks(2)
                assert result.peaks(1) == single.peaks(1)
                assert result.peaks(3) == single.peaks(3)

    def test_frequencies_near_zero_are_skipped_as_by_spectrum(self):
        t, y = curves(1)[0]
        (result,) = fasogram.spectra([(t, y)], -0.05, 0.05, 400)
        single = fasogram.spectrum(t, y, -0.05, 0.05, 400)
        assert len(result) == len(single) < 401
        assert same(tuple(result), tuple(single))

    def test_a_bad_series_fails_alone_with_the_message_of_spectrum(self):
        good = curves(2)
        t = np.arange(10.0)
        bad = [(t, np.full(10, 5.0)), ([1.0], [2.0]), (t, t, np.zeros(10)), (t, t[:-1]),
               (t, np.where(t == 3, np.nan, t))]
        batch = [good[0], *bad, good[1]]
        results = fasogram.spectra(batch, 0.1, 1.0, 200, "square", failures="return")
        assert same(tuple(results[0]), tuple(fasogram.spectrum(*good[0], 0.1, 1.0, 200, "square")))
        assert same(tuple(results[-1]), tuple(fasogram.spectrum(*good[1], 0.1, 1.0, 200, "square")))
        for curve, result in zip(bad, results[1:-1]):
            assert isinstance(result, ValueError)
            with pytest.raises(ValueError) as single:
                fasogram.spectrum(curve[0], curve[1], 0.1, 1.0, 200, "square",
                                  dy=curve[2] if len(curve) == 3 else None)
            assert str(result) == str(single.value)
        with pytest.raises(ValueError, match="does not vary"):
            fasogram.spectra(batch, 0.1, 1.0, 200, "square")

    @pytest.mark.parametrize("kwargs,message", [
        (dict(fmin=1.0, fmax=1.0), "fmax must be greater than fmin"),
        (dict(steps=0), "steps must be 1 or more"),
        (dict(fmax=float("inf")), "must be finite"),
        (dict(threads=0), "threads must be 1 or more"),
        (dict(peaks=-1), "peaks must be 0 or more"),
        (dict(window="box"), "unknown window"),
        (dict(failures="skip"), "failures must be"),
    ])
    def test_bad_arguments_are_refused(self, kwargs, message):
        args = dict(fmin=0.1, fmax=1.0, steps=10)
        args.update(kwargs)
        with pytest.raises(ValueError, match=message):
            fasogram.spectra(curves(2), **args)
        with pytest.raises(ValueError, match="each series must be"):
            fasogram.spectra([(np.arange(3.0),)], 0.1, 1.0, 10)
        assert fasogram.spectra([], 0.1, 1.0, 10) == []

    def test_results_are_read_only_so_the_peaks_stay_those_of_the_fits(self):
        t, y = curves(1)[0]
        for result in (fasogram.spectrum(t, y, 0.1, 2.0, 300),
                       fasogram.spectra([(t, y)], 0.1, 2.0, 300)[0],
                       fasogram.spectrum(t, y, frequency=[0.5, 0.2, 0.9])):
            with pytest.raises(ValueError, match="read-only"):
                result.rho[0] = 2.0
        # Frequencies given in any order: the peaks along increasing frequency.
        grid = fasogram.spectrum(t, y, 0.1, 2.0, 600)
        order = np.random.default_rng(2).permutation(len(grid))
        given = fasogram.spectrum(t, y, frequency=grid.frequency[order])
        assert given.frequency.tobytes() == grid.frequency[order].tobytes()
        for a, b in zip(given.peaks(3), grid.peaks(3), strict=True):
            assert abs(a.frequency - b.frequency) < 1e-9 and abs(a.rho - b.rho) < 1e-9


# --- one reader for the program and the module ---

BAD_FILES = [
    "1 2\n3 x\n",
    "1 2\n2,,3\n",
    ",1 2\n",
    "1 2\n3 nan\n",
    "1 2\n1e999 4\n",
    "tiempo valor\n1 2\ntiempo 3\n",
    "1 2\n3 \x1b[1m\n",
]
BAD_WITH_ERRORS = ["1 2 0.1\n3 4\n", "1 2 0.1\n3 4 0\n", "1 2 0.1\n3 4 -1e-9\n", "1 2 inf\n"]


def program_error(path, *options):
    done = subprocess.run([PROGRAM, "-q", "--from", "0.1", "--to", "1", "--steps", "10",
                           "-o", "table.dat", *options, path.name], cwd=path.parent,
                          capture_output=True, timeout=60,
                          env=dict(os.environ, LANG="C", LC_ALL="C", LANGUAGE=""))
    assert done.returncode == 1, done.stderr
    (line,) = done.stderr.decode().splitlines()
    assert line.startswith("fasogram: error: ")
    return line.removeprefix("fasogram: error: ")


@pytest.mark.skipif(not PROGRAM, reason="FASOGRAM_PROGRAM is not set")
def test_the_module_refuses_what_the_program_refuses_in_its_words(tmp_path):
    for k, text in enumerate(BAD_FILES + BAD_WITH_ERRORS):
        errors = text in BAD_WITH_ERRORS
        path = tmp_path / f"s{k}.dat"
        path.write_text(text)
        with pytest.raises(fasogram.LightCurveError) as caught:
            fasogram.read_series(path, errors=errors, name=path.name)
        assert str(caught.value) == program_error(path, *(["-e"] if errors else []))


@pytest.mark.skipif(not PROGRAM, reason="FASOGRAM_PROGRAM is not set")
def test_the_module_reads_the_programs_series_as_the_program(tmp_path):
    example = os.environ["FASOGRAM_EXAMPLE"]
    text = ("\ufeffT MAG\r\n# comment\r\n" + "\r\n".join(
        line.replace(" ", ",", 1) if k % 3 == 0 else line
        for k, line in enumerate(open(example).read().splitlines())) + "\r\n")
    path = tmp_path / "serie.dat"
    path.write_text(text)
    done = subprocess.run([PROGRAM, "-q", "--from", "0.01", "--to", "0.5", "--steps", "2000",
                           "--peaks", "1", "--window", "square", "-o", "table.dat", path.name],
                          cwd=tmp_path, capture_output=True, text=True, timeout=120, check=True)
    t, y = fasogram.read_series(path)
    assert len(t) == 2983
    best = fasogram.spectrum(t, y, 0.01, 0.5, 2000, "square").peaks(1)[0]
    period, rho = (float(v) for v in done.stdout.splitlines()[1].split()[2:4])
    assert abs(period - best.period) <= 5e-5 * best.period
    assert abs(rho - best.rho) <= 1e-6
