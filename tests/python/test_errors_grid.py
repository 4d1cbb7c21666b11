"""fasogram.spectrum with measurement errors (dy) and with the grid chosen from the
sampling: against astropy, the program, and real series that Debian ships."""

import csv
import datetime
import io
import os
import pathlib
import shutil
import subprocess
import warnings

import numpy as np
import pytest
from astropy.timeseries import LombScargle

import fasogram
from test_spectrum import table_field

EXAMPLE = pathlib.Path(os.environ.get(
    "FASOGRAM_EXAMPLE", pathlib.Path(__file__).resolve().parents[2] / "examples" / "datos.dat"))
PROGRAM = os.environ.get("FASOGRAM_PROGRAM")
DATASETS = pathlib.Path("/usr/lib/python3/dist-packages/statsmodels/datasets")


def series_with_errors(n=500, offset=0.0, seed=3):
    rng = np.random.default_rng(seed)
    t = offset + np.sort(rng.uniform(0.0, 300.0, n))
    dy = 10.0 ** rng.uniform(-2.0, -0.5, n)
    y = 12.0 + 0.2 * np.cos(2 * np.pi * t / 3.3) + dy * rng.standard_normal(n)
    return t, y, dy


# --- measurement errors ---

@pytest.mark.parametrize("offset", [0.0, 2450000.5], ids=["t-from-0", "julian-days"])
def test_square_window_with_errors_is_astropys_standard_power(offset):
    t, y, dy = series_with_errors(offset=offset)
    result = fasogram.spectrum(t, y, 0.005, 2.0, 3000, window="square", dy=dy)
    assert result.has_errors
    ls = LombScargle(t, y, dy, fit_mean=True, center_data=True, normalization="standard")
    power = ls.power(result.frequency, method="cython", assume_regular_frequency=False)
    assert np.max(np.abs(power - result.rho)) < 1e-9
    # The weighted fit itself at the highest peak.
    i = int(np.argmax(result.rho))
    f = result.frequency[i]
    ours = result.c1[i] + result.c2[i] * np.cos(2 * np.pi * f * t) + result.c3[i] * np.sin(
        2 * np.pi * f * t)
    assert np.max(np.abs(ours - ls.model(t, f))) < 1e-9
    # Without the errors the spectrum is another one.
    assert np.max(np.abs(fasogram.spectrum(t, y, 0.005, 2.0, 3000, window="square").rho
                         - result.rho)) > 1e-3


def test_one_error_for_every_point_and_scaled_errors():
    t, y, dy = series_with_errors(n=200)
    args = (t, y, 0.01, 1.0, 400)
    plain = fasogram.spectrum(*args)
    scalar = fasogram.spectrum(*args, dy=0.03)
    same = fasogram.spectrum(*args, dy=np.full(t.size, 0.03))
    assert np.array_equal(scalar.rho, same.rho) and np.array_equal(scalar.c2, same.c2)
    assert not plain.has_errors and scalar.has_errors
    # Equal errors weigh the points equally: the plain spectrum.
    np.testing.assert_allclose(scalar.rho, plain.rho, rtol=1e-12, atol=1e-15)
    # Only the ratios count: errors times a power of two give the same bits.
    a = fasogram.spectrum(*args, dy=dy)
    b = fasogram.spectrum(*args, dy=list(dy * 2.0**-600))
    assert np.array_equal(a.rho, b.rho) and np.array_equal(a.c3, b.c3)


@pytest.mark.skipif(not PROGRAM, reason="FASOGRAM_PROGRAM is not set")
@pytest.mark.parametrize("window", ["hanning", "square"])
def test_errors_give_the_programs_table(tmp_path, window):
    t, y, dy = series_with_errors(n=300, offset=2450000.5)
    data = tmp_path / "s.dat"
    data.write_text("".join(f"{a!r} {b!r} {c!r}\n" for a, b, c in zip(t, y, dy)))
    subprocess.run([PROGRAM, "-q", "-e", "-w", window, "--from", "0.01", "--to", "1.5",
                    "--steps", "1000", "-o", str(tmp_path / "t.dat"), str(data)],
                   capture_output=True, timeout=120, check=True)
    table = (tmp_path / "t.dat").read_text().splitlines()
    result = fasogram.spectrum(t, y, 0.01, 1.5, 1000, window=window, dy=dy)
    lines = ["".join(table_field(v) for v in row) for row in zip(*result)]
    assert len(table) == 1001
    assert lines == table


@pytest.mark.parametrize("dy,message", [
    ([1, 1, np.nan, 0, 1], r"dy\[2\] is not finite \(nan\)"),
    ([1, 1, 1, 0, -1], r"dy\[3\] must be above 0, got 0.0"),
    ([1, -1e-300, 1, 1, 1], r"dy\[1\] must be above 0, got -1e-300"),
    ([1, 1, 1, 1, np.inf], r"dy\[4\] is not finite \(inf\)"),
    ([1, 1, 1], r"t and dy differ in length \(5 and 3\)"),
    ([[1, 1, 1, 1, 1]], r"dy must be one-dimensional"),
    (0, r"dy must be a finite number above 0, got 0"),
    (-0.5, r"dy must be a finite number above 0, got -0.5"),
    (np.nan, r"dy must be a finite number above 0, got nan"),
    ("abc", r"dy must be a sequence of real numbers"),
    (["a"] * 5, r"dy must be a sequence of real numbers"),
])
def test_bad_errors_raise_value_error_naming_the_first_bad_index(dy, message):
    with pytest.raises(ValueError, match=message):
        fasogram.spectrum([0, 1, 2.5, 3, 4], [1, 3, 2, 5, 4], 0.1, 1, 10, dy=dy)


def test_the_smallest_error_above_zero_is_taken():
    result = fasogram.spectrum([0, 1, 2.5, 3, 4], [1, 3, 2, 5, 4], 0.1, 1, 10, window="square",
                               dy=[5e-324, 5e-324, 5e-324, 1, 1])
    assert np.all(np.isfinite(result.rho))


# --- the grid chosen from the sampling ---

def test_left_out_grid_parts_are_chosen_from_the_sampling():
    t = 2000.0 + 0.25 * np.arange(100)
    y = np.sin(2 * np.pi * 0.9 * t)
    result = fasogram.spectrum(t, y, window="square")
    step = result.line_width / 10
    grid = result.grid
    assert grid.fmin == step
    assert grid.fmax <= 2.0 < grid.fmax + step  # 1/(2 x spacing 0.25)
    assert len(result.frequency) == grid.steps + 1
    assert result.frequency[0] == grid.fmin and result.frequency[-1] == grid.fmax
    coarse = fasogram.spectrum(t, y, window="square", oversample=4)
    assert coarse.grid.fmin == result.line_width / 4
    only_to = fasogram.spectrum(t, y, fmax=1.0, window="square")
    assert only_to.grid.fmin == step and only_to.grid.fmax == 1.0
    assert only_to.grid.steps == int(np.ceil((1.0 - step) / step))
    with pytest.warns(fasogram.UndersampledGridWarning, match="99 steps"):
        only_steps = fasogram.spectrum(t, y, steps=50, window="square")
    assert only_steps.grid == (grid.fmin, grid.fmax, 50)
    with pytest.raises(ValueError, match="oversample must be a finite number above 0"):
        fasogram.spectrum(t, y, oversample=0)
    with pytest.raises(ValueError, match="initial frequency is not below the highest"):
        fasogram.spectrum(t, y, fmin=2.0)


def test_the_undersampling_warning_at_half_the_line_width_and_just_above():
    # Times 0..64: the Hanning line width is 1/32, and 64 steps over 0..1
    # are half of it apart.
    t = np.arange(65.0)
    y = np.sin(1.3 * t)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        fasogram.spectrum(t, y, 0.0, 1.0, 64)
        fasogram.spectrum(t, y)  # ten points a line width
        fasogram.spectrum(t, y, oversample=2)
    with pytest.warns(fasogram.UndersampledGridWarning,
                      match=r"64 steps from fmin=0.0 to fmax=1.0 sample every peak"):
        fasogram.spectrum(t, y, 0.0, 1.0, 63)
    with pytest.warns(fasogram.UndersampledGridWarning, match="more than half the line width"):
        fasogram.spectrum(t, y, oversample=1.9)
    with pytest.warns(fasogram.UndersampledGridWarning, match="no grid of these limits"):
        fasogram.spectrum(t, y, 1e290, 2e290, 1)


# --- real series: the true periods without any grid option ---

def statsmodels_csv(name):
    path = DATASETS / name / f"{name}.csv"
    if not path.exists():
        pytest.skip(f"{path} is not installed (python3-statsmodels, tools/setup.sh)")
    with open(path, newline="") as f:
        return list(csv.reader(f))[1:]


def r_series(name):
    """A time series of R's datasets as (time, value) arrays."""
    if not shutil.which("Rscript"):
        pytest.skip("Rscript is not installed (r-base-core, tools/setup.sh)")
    out = subprocess.run(
        ["Rscript", "-e", f"x <- {name}; write.csv(data.frame(t = as.numeric(time(x)), "
                          f"v = as.numeric(x)), row.names = FALSE)"],
        capture_output=True, text=True, timeout=120, check=True).stdout
    data = np.loadtxt(io.StringIO(out), delimiter=",", skiprows=1)
    return data[:, 0], data[:, 1]


def yearly_sunspots():
    rows = np.array(statsmodels_csv("sunspots"), dtype=float)
    return rows[:, 0], rows[:, 1]


def weekly_co2():
    """Mauna Loa CO2 by week, the weeks without a value left out, in years."""
    t, y = [], []
    for date, value in statsmodels_csv("co2"):
        if value:
            d = datetime.date(int(date[:4]), int(date[4:6]), int(date[6:]))
            t.append(d.year + (d.timetuple().tm_yday - 0.5) / 365.25)
            y.append(float(value))
    return np.array(t), np.array(y)


def monthly_el_nino():
    rows = np.array(statsmodels_csv("elnino"), dtype=float)
    t = (rows[:, :1] + (np.arange(12) + 0.5) / 12).ravel()
    return t, rows[:, 1:].ravel()


@pytest.mark.parametrize("load,period,tolerance", [
    (yearly_sunspots, 11.0, 0.5),
    (lambda: r_series("sunspot.month"), 11.0, 0.5),
    (lambda: r_series("lynx"), 9.8, 0.25),
    (weekly_co2, 1.0, 0.01),
    (monthly_el_nino, 1.0, 0.01),
], ids=["sunspots", "sunspot.month", "lynx", "co2", "elnino"])
def test_true_periods_of_real_series_without_grid_options(load, period, tolerance):
    t, y = load()
    result = fasogram.spectrum(t, y)
    best = result.peaks(1)[0]
    assert abs(best.period - period) < tolerance, result.peaks(3)
    # Evenly spaced: the grid ends at the Nyquist frequency, where astropy's
    # automatic grid goes on to five times it and its highest power is an
    # alias above it (the mirror image of the true peak).
    spacing = np.median(np.diff(np.unique(t)))
    assert result.grid.fmax <= 0.5 / spacing * (1 + 1e-9)
    assert result.grid.fmax + result.grid.fmin > 0.5 / spacing


@pytest.mark.parametrize("load", [yearly_sunspots, lambda: r_series("lynx")],
                         ids=["sunspots", "lynx"])
def test_astropys_automatic_grid_peaks_at_an_alias_above_nyquist(load):
    t, y = load()
    frequency, power = LombScargle(t, y).autopower()
    spacing = np.median(np.diff(t))
    assert frequency[-1] > 2 / spacing
    assert frequency[np.argmax(power)] > 0.5 / spacing
    ours = fasogram.spectrum(t, y, window="square").peaks(1)[0]
    assert ours.frequency < 0.5 / spacing and ours.period > 9.0


def test_both_periods_of_the_example_series():
    data = np.loadtxt(EXAMPLE)
    result = fasogram.spectrum(data[:, 0], data[:, 1])
    peaks = result.peaks(5)
    assert abs(peaks[0].period - 2.7) < 1e-3
    assert any(abs(p.period - 37.0) < 0.2 for p in peaks)
    # Clustered nightly data: up to the spacing within the nights, beyond the
    # daily aliases of the 2.7-day signal.
    assert result.grid.fmax > 1 + 1 / 2.7
