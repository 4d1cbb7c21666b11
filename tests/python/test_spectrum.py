"""fasogram.spectrum against astropy, the program's table, and bad input."""

import doctest
import os
import pathlib
import signal
import subprocess
import threading
import time

import numpy as np
import pytest
from astropy.timeseries import LombScargle

import fasogram

EXAMPLE = pathlib.Path(os.environ.get(
    "FASOGRAM_EXAMPLE", pathlib.Path(__file__).resolve().parents[2] / "examples" / "datos.dat"))
PROGRAM = os.environ.get("FASOGRAM_PROGRAM")
SPECTRUM_DUMP = os.environ.get("FASOGRAM_SPECTRUM_DUMP")


def example_series():
    data = np.loadtxt(EXAMPLE)
    return data[:, 0], data[:, 1]


def noisy_series(n=400, span=200.0, offset=0.0, seed=7):
    rng = np.random.default_rng(seed)
    t = offset + np.sort(rng.uniform(0.0, span, n))
    y = 3.0 + 0.8 * np.cos(2 * np.pi * (t / 4.3 - 0.1)) + rng.normal(0.0, 0.5, n)
    return t, y


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.int64)


# --- agreement with astropy (an independent implementation of the same fit) ---

@pytest.mark.parametrize("series", [noisy_series(), noisy_series(offset=2450000.5),
                                    example_series()], ids=["t-from-0", "julian-days", "example"])
def test_square_window_rho_is_astropys_standard_power(series):
    t, y = series
    result = fasogram.spectrum(t, y, 0.002, 1.5, 2000, window="square")
    ls = LombScargle(t, y, fit_mean=True, center_data=True, normalization="standard")
    power = ls.power(result.frequency, method="cython", assume_regular_frequency=False)
    assert len(result.frequency) == 2001
    assert np.max(np.abs(power - result.rho)) < 1e-9
    # The fitted curve itself, at the highest peak and at two other frequencies.
    for f in (result.frequency[np.argmax(result.rho)], result.frequency[0],
              result.frequency[1234]):
        i = np.searchsorted(result.frequency, f)
        ours = (result.c1[i] + result.c2[i] * np.cos(2 * np.pi * f * t)
                + result.c3[i] * np.sin(2 * np.pi * f * t))
        theirs = ls.model(t, f)
        assert np.max(np.abs(ours - theirs)) < 1e-9 * np.max(np.abs(theirs))


def test_peak_of_a_pure_sinusoid_gives_its_frequency_amplitude_and_phase():
    rng = np.random.default_rng(3)
    t = np.sort(rng.uniform(0.0, 50.0, 300))
    f0, amplitude, phase = 0.3713, 0.5, 0.2
    y = 3.0 + amplitude * np.cos(2 * np.pi * (f0 * t - phase))
    result = fasogram.spectrum(t, y, 0.05, 1.0, 500, window="square")
    best, second = result.peaks(2)
    assert best.frequency == pytest.approx(f0, abs=1e-9)
    assert best.period == pytest.approx(1 / f0, rel=1e-8)
    assert best.rho == pytest.approx(1.0, abs=1e-12)
    assert best.amplitude == pytest.approx(amplitude, rel=1e-8)
    assert best.phase == pytest.approx(phase, abs=1e-8)
    assert second.rho < best.rho
    many = [p.rho for p in result.peaks(20)]
    assert len(many) == 20 and many == sorted(many, reverse=True)
    assert result.peaks(0) == []
    # Never more peaks than the spectrum has.
    assert len(result.peaks(10**6)) < len(result.frequency)


# --- the program's table ---

def table_field(value):
    """A table number written by the table's rule, independently of the program."""
    if np.isnan(value):
        text = "NaN"
    elif np.isinf(value):
        text = "Infinity" if value > 0 else "-Infinity"
    else:
        mantissa, exponent = f"{value + 0.0:.7E}".split("E")
        text = mantissa + (exponent if len(exponent) > 3 else "E" + exponent)
    return text.rjust(15)


def test_table_field_rule():
    assert table_field(0.3703) == "  3.7030000E-01"
    assert table_field(-0.0) == "  0.0000000E+00"
    assert table_field(1e-120) == "  1.0000000-120"
    assert table_field(float("-inf")) == "      -Infinity"


@pytest.mark.skipif(not PROGRAM, reason="FASOGRAM_PROGRAM is not set")
@pytest.mark.parametrize("window,fmin,fmax,steps,expected_lines", [
    ("c", 0.01, 0.5, 500, 501),
    # Hanning line width 0.0015 here: -1e-5, 0 and 1e-5 are closer to zero
    # than a hundredth of it and are skipped.
    ("h", -0.002, 0.002, 400, 398),
])
def test_values_are_the_programs_table(tmp_path, window, fmin, fmax, steps, expected_lines):
    (tmp_path / "datos.dat").write_bytes(EXAMPLE.read_bytes())
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    subprocess.run([PROGRAM], input=f"{window}\n{fmin}\n{fmax}\n{steps}\n0\n", text=True,
                   cwd=tmp_path, env=env, capture_output=True, timeout=120, check=True)
    table = (tmp_path / "fasogram.dat").read_text().splitlines()
    t, y = example_series()
    result = fasogram.spectrum(t, y, fmin, fmax, steps,
                               window="square" if window == "c" else "hanning")
    lines = ["".join(table_field(v) for v in row) for row in zip(*result)]
    assert len(table) == expected_lines
    assert lines == table


@pytest.mark.skipif(not SPECTRUM_DUMP, reason="FASOGRAM_SPECTRUM_DUMP is not set")
@pytest.mark.parametrize("window,fmin,fmax,steps", [("c", 0.01, 0.5, 500),
                                                     ("h", -0.002, 0.002, 400)])
def test_values_are_the_programs_doubles_bit_for_bit(tmp_path, window, fmin, fmax, steps):
    # spectrum_dump runs the program's computation and writes every double
    # with 17 significant digits, which read back to the same bits.
    out = tmp_path / "dump.txt"
    subprocess.run([SPECTRUM_DUMP, str(EXAMPLE), window, str(fmin), str(fmax), str(steps),
                    str(out)], capture_output=True, timeout=120, check=True)
    theirs = np.loadtxt(out)
    t, y = example_series()
    ours = np.column_stack(list(fasogram.spectrum(t, y, fmin, fmax, steps,
                                                  "square" if window == "c" else "hanning")))
    assert ours.shape == theirs.shape
    assert np.array_equal(bits(ours), bits(theirs))


# --- grid, skipping and the result object ---

def test_grid_ends_and_the_skipping_threshold():
    t = np.linspace(0.0, 1.0, 50)  # time span 1: square line width 1, threshold 0.01
    y = np.random.default_rng(1).normal(size=50)
    result = fasogram.spectrum(t, y, 2.0, 3.0, 1, window="square")
    assert result.frequency.tolist() == [2.0, 3.0]
    assert result.line_width == 1.0
    at = fasogram.spectrum(t, y, -0.01, 0.0, 1, window="square")
    assert at.frequency.tolist() == [-0.01]  # exactly at the threshold: kept; 0 skipped
    below = fasogram.spectrum(t, y, np.nextafter(-0.01, 0.0), 0.0, 1, window="square")
    assert below.frequency.size == 0  # just inside it: skipped
    assert below.peaks(3) == []
    assert "no frequencies" in repr(below)


def test_result_unpacks_and_holds_float64_arrays():
    t, y = noisy_series()
    result = fasogram.spectrum(t, y, 0.01, 1.0, 300)
    f, rho, c1, c2, c3 = result
    for name, array in zip(("frequency", "rho", "c1", "c2", "c3"), (f, rho, c1, c2, c3)):
        assert array is getattr(result, name)
        assert array.dtype == np.float64 and array.shape == (301,)
    assert result.window == "hanning"
    assert result.line_width == pytest.approx(2 / (t[-1] - t[0]), rel=1e-15)
    assert result.mean == pytest.approx(np.average(y, weights=1 - np.cos(
        2 * np.pi * (t - t[0]) / (t[-1] - t[0]))), rel=1e-12)
    assert "301 frequencies" in repr(result)


def test_any_array_like_gives_the_same_spectrum():
    t, y = noisy_series(n=200)
    reference = fasogram.spectrum(t, y, 0.01, 1.0, 400)
    wide_t = np.repeat(t, 2)[::2]  # a strided view
    wide_y = np.stack([y, -y], axis=1)[:, 0]
    assert not wide_t.flags.c_contiguous and not wide_y.flags.c_contiguous
    for tt, yy in ((t.tolist(), y.tolist()), (wide_t, wide_y), (tuple(t), y)):
        again = fasogram.spectrum(tt, yy, 0.01, 1.0, 400)
        assert all(np.array_equal(bits(a), bits(b)) for a, b in zip(again, reference))
    t32, y32 = t.astype(np.float32), y.astype(np.float32)
    assert all(np.array_equal(bits(a), bits(b)) for a, b in zip(
        fasogram.spectrum(t32, y32, 0.01, 1.0, 400),
        fasogram.spectrum(t32.astype(np.float64), y32.astype(np.float64), 0.01, 1.0, 400)))
    # The order of the points does not matter.
    order = np.random.default_rng(2).permutation(len(t))
    shuffled = fasogram.spectrum(t[order], y[order], 0.01, 1.0, 400)
    assert all(np.array_equal(bits(a), bits(b)) for a, b in zip(shuffled, reference))


def test_threads_on_and_off_give_identical_results():
    t, y = example_series()
    runs = [fasogram.spectrum(t, y, 0.0, 0.5, 3000, threads=n) for n in (1, 2, None)]
    for other in runs[1:]:
        assert all(np.array_equal(bits(a), bits(b)) for a, b in zip(other, runs[0]))
        assert other.peaks(4) == runs[0].peaks(4)


def test_the_engine_runs_without_the_gil():
    t, y = example_series()

    def run(points):
        beats = []
        done = threading.Event()

        def compute():
            fasogram.spectrum(t, y, 0.0, 0.5, points, threads=1)
            done.set()

        worker = threading.Thread(target=compute)
        start = time.perf_counter()
        worker.start()
        while not done.is_set():
            beats.append(time.perf_counter())
            time.sleep(0.001)
        worker.join()
        return time.perf_counter() - start, np.diff([start] + beats)

    # Grids grow until one takes long enough for the loop to be measured
    # against it (large grids go by transforms and are quick).
    points = 20000
    took, gaps = run(points)
    while took < 0.2 and points < 2_000_000:
        points *= 8
        took, gaps = run(points)
    # Holding the GIL would stop this loop for the whole computation.
    assert took > 0.1 and len(gaps) > 10
    assert gaps.max() < 0.5 * took


# --- bad input ---

GOOD_T = [0.0, 1.0, 2.5, 3.0]
GOOD_Y = [1.0, 3.0, 2.0, 5.0]


@pytest.mark.parametrize("t,y,args,kwargs,message", [
    ([0, 1, 2], [1, 2], (0.1, 1, 10), {}, r"t and y differ in length \(3 and 2\)"),
    ([1.0], [2.0], (0.1, 1, 10), {}, r"at least 2 points, got 1"),
    ([], [], (0.1, 1, 10), {}, r"at least 2 points, got 0"),
    ([0, np.nan, 2, 3], GOOD_Y, (0.1, 1, 10), {}, r"t\[1\] is not finite \(nan\)"),
    (GOOD_T, [1, 2, np.inf, 4], (0.1, 1, 10), {}, r"y\[2\] is not finite \(inf\)"),
    ([2, 2, 2, 2], GOOD_Y, (0.1, 1, 10), {}, r"every time in t is the same"),
    (GOOD_T, [4, 4, 4, 4], (0.1, 1, 10), {"window": "square"}, r"does not vary"),
    # Under the Hanning window only the middle points weigh.
    ([0, 1, 2], [5, 1, 7], (0.1, 1, 10), {}, r"does not vary under the hanning window"),
    (GOOD_T, GOOD_Y, (1.0, 1.0, 10), {}, r"fmax must be greater than fmin"),
    (GOOD_T, GOOD_Y, (1.0, 0.5, 10), {}, r"fmax must be greater than fmin"),
    (GOOD_T, GOOD_Y, (np.nan, 1.0, 10), {}, r"fmin and fmax must be finite"),
    (GOOD_T, GOOD_Y, (0.0, np.inf, 10), {}, r"fmin and fmax must be finite"),
    (GOOD_T, GOOD_Y, ("low", 1.0, 10), {}, r"fmin must be a number"),
    (GOOD_T, GOOD_Y, (0.1, 1, 0), {}, r"steps must be 1 or more, got 0"),
    (GOOD_T, GOOD_Y, (0.1, 1, -5), {}, r"steps must be 1 or more, got -5"),
    (GOOD_T, GOOD_Y, (0.1, 1, 2.5), {}, r"steps must be a whole number"),
    (GOOD_T, GOOD_Y, (0.1, 1, 2**70), {}, r"steps is too large"),
    # Phases t*f beyond what the engine reduces: an error, never a crash.
    ([1.0, 2.0], [1.0, 2.0], (0, 1e308, 1), {"window": "square"}, r"beyond the phases"),
    ([1.0, 1e308, 3.0], [1.0, 2.0, 1.0], (0, 1, 1), {"window": "square"}, r"beyond the phases"),
    (GOOD_T, GOOD_Y, (0.1, 1, 10), {"window": "blackman"}, r"unknown window 'blackman'"),
    (GOOD_T, GOOD_Y, (0.1, 1, 10), {"window": None}, r"unknown window None"),
    (GOOD_T, GOOD_Y, (0.1, 1, 10), {"threads": 0}, r"threads must be 1 or more"),
    ([[0, 1], [2, 3]], [[1, 2], [3, 4]], (0.1, 1, 10), {}, r"t must be one-dimensional"),
    (["a", "b"], [1, 2], (0.1, 1, 10), {}, r"t must be a sequence of real numbers"),
    (GOOD_T, [1j, 2, 3, 4], (0.1, 1, 10), {}, r"y must be a sequence of real numbers"),
])
def test_bad_input_raises_value_error(t, y, args, kwargs, message):
    with pytest.raises(ValueError, match=message):
        fasogram.spectrum(t, y, *args, **kwargs)


def test_a_grid_too_large_for_memory_fails_before_any_work():
    # 10**15 frequencies would take days to compute before running out of memory.
    with pytest.raises(MemoryError):
        fasogram.spectrum(GOOD_T, GOOD_Y, 0.1, 1.0, 10**15)


def test_square_window_accepts_what_hanning_refuses_and_bad_k():
    result = fasogram.spectrum([0, 1, 2], [5, 1, 7], 0.1, 1, 10, window="Square")
    assert result.window == "square" and len(result.frequency) == 11
    with pytest.raises(ValueError, match="k must be 0 or more"):
        result.peaks(-1)
    with pytest.raises(ValueError, match="k must be a whole number"):
        result.peaks(1.5)


# --- documentation ---

def test_docstring_examples_run():
    failed, attempted = doctest.testmod(fasogram)
    assert attempted > 0 and failed == 0
    text = fasogram.spectrum.__doc__
    assert "Example" in text and "ValueError" in text and "threads" in text


def test_ctrl_c_stops_a_long_call_with_keyboard_interrupt():
    # A grid that would take minutes; SIGINT half a second into the call.
    rng = np.random.default_rng(3)
    t = np.sort(rng.uniform(0, 1000, 20000))
    y = np.sin(t) + rng.normal(size=t.size)
    sent = []

    def interrupt():
        time.sleep(0.5)
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    thread = threading.Thread(target=interrupt)
    thread.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            fasogram.spectrum(t, y, 0.001, 5, 20_000_000, "hanning", threads=2)
        stopped = time.monotonic()
    finally:
        thread.join()
    assert sent and stopped - sent[0] < 3.0
    # The engine is usable again at once.
    again = fasogram.spectrum(t[:100], y[:100], 0.01, 1, 10, "square")
    assert len(again.frequency) == 11
