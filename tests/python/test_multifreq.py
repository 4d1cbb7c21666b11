"""Several frequencies from Python: the harmonic spectrum against astropy's
nterms model, prewhitening and the fit on the multiperiodic example, trends,
the spectral window and bad input."""

import doctest
import os
import pathlib

import numpy as np
import pytest
from astropy.timeseries import LombScargle

import fasogram
import fasogram.multifreq

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = pathlib.Path(os.environ.get("FASOGRAM_EXAMPLE", ROOT / "examples" / "datos.dat"))
MULTIPERIODIC = EXAMPLE.parent / "multiperiodic.dat"
# What tools/gen_multiperiodic.py puts in it: (frequency, amplitude, phase at T0).
T0 = 2450000.0
SIGNALS = [(1.0 / 2.7, 0.30, 0.13), (1.2345, 0.12, 0.61), (0.0823, 0.06, 0.87)]


def load(path):
    data = np.loadtxt(path)
    return data[:, 0], data[:, 1]


def julian_series(n=600, seed=4):
    rng = np.random.default_rng(seed)
    t = 2450000.5 + np.sort(rng.uniform(0.0, 150.0, n))
    x = 2 * np.pi * (t - 2450000.5) / 3.1
    y = 7 + 0.5 * np.cos(x) + 0.25 * np.cos(2 * x + 1) + 0.1 * np.sin(3 * x) + rng.normal(0, 0.2, n)
    dy = rng.uniform(0.1, 0.3, n)
    return t, y, dy


# --- the harmonic model against astropy (an independent implementation) ---

@pytest.mark.parametrize("harmonics", [1, 2, 3, 5])
@pytest.mark.parametrize("series", ["example", "julian"])
def test_harmonic_rho_is_astropys_nterms_standard_power(series, harmonics):
    if series == "example":
        t, y = load(MULTIPERIODIC)
    else:
        t, y, _ = julian_series()
    result = fasogram.spectrum(t, y, 0.02, 2.0, 400, window="square", harmonics=harmonics)
    # astropy gets the times from the first one: the model does not change
    # with the origin of time, and its phases of h f t on Julian dates lose
    # some 1e-9 of the power to rounding (ours reduce t f exactly).
    ls = LombScargle(t - t[0], y, nterms=harmonics, fit_mean=True, center_data=True,
                     normalization="standard")
    power = ls.power(result.frequency, method="chi2")
    assert len(result.frequency) == 401
    assert np.max(np.abs(power - result.rho)) < 1e-9
    # The constant and the fundamental describe astropy's model curve when
    # there is one harmonic.
    if harmonics == 1:
        i = int(np.argmax(result.rho))
        f = result.frequency[i]
        ours = (result.c1[i] + result.c2[i] * np.cos(2 * np.pi * f * t)
                + result.c3[i] * np.sin(2 * np.pi * f * t))
        assert np.max(np.abs(ours - ls.model(t - t[0], f))) < 1e-9


@pytest.mark.parametrize("harmonics", [1, 2, 4])
def test_errors_weigh_as_astropys_dy(harmonics):
    t, y, dy = julian_series(seed=9)
    f, rho, _, _, _ = fasogram._fasogram.harmonic_spectrum(
        t, y, dy, 0.02, 2.0, 300, "square", harmonics, 0).arrays
    ls = LombScargle(t - t[0], y, dy, nterms=harmonics, fit_mean=True, center_data=True,
                     normalization="standard")
    assert np.max(np.abs(ls.power(f, method="chi2") - rho)) < 1e-9
    # Without the errors the numbers are not the same: the check can tell.
    plain = fasogram.spectrum(t, y, 0.02, 2.0, 300, window="square", harmonics=harmonics).rho
    assert np.max(np.abs(plain - rho)) > 1e-4


def test_harmonic_spectrum_peaks_and_nested_models():
    t, y, _ = julian_series()
    one = fasogram.spectrum(t, y, 0.05, 1.5, 3000, harmonics=1)
    three = fasogram.spectrum(t, y, 0.05, 1.5, 3000, harmonics=3)
    assert three.window == "hanning"
    assert np.all(three.rho >= one.rho - 1e-12)
    best = three.peaks(1)[0]
    assert abs(best.frequency - 1 / 3.1) < 1e-3
    # Three harmonics see the non-sinusoidal signal's power that one misses.
    assert best.rho > one.peaks(1)[0].rho + 0.05


# --- prewhitening and the fit on the multiperiodic example ---

def test_prewhitening_finds_the_examples_three_frequencies():
    t, y = load(MULTIPERIODIC)
    result = fasogram.prewhiten(t, y, 8, fmin=0.01, fmax=2.0, steps=6650)
    assert len(result.frequencies) == 3
    assert result.stop == "snr"
    assert result.rejected[1] < 4.0
    assert np.all(result.snr >= 4.0)
    for k, (f, amplitude, phase) in enumerate(SIGNALS):
        assert abs(result.frequencies[k] - f) < 3 * result.frequency_errors[k]
        assert abs(result.amplitudes[k] - amplitude) < 3 * result.amplitude_errors[k]
        # The phase at the fit's epoch.
        expected = (phase - f * (result.epoch - T0)) % 1.0
        d = (result.phases[k] - expected + 0.5) % 1.0 - 0.5
        # The frequency's own error carried over the epoch is part of it.
        carried = abs(result.epoch - T0) * result.frequency_errors[k]
        assert abs(d) < 3 * np.hypot(result.phase_errors[k], carried)
    assert np.max(np.abs(result.residuals - (y - result.model(t)))) < 1e-12
    assert abs(np.std(result.residuals) - 0.1) < 0.005
    terms = result.terms
    assert [term.index for term in terms] == [0, 1, 2]
    assert terms[0].snr == result.snr[0]
    # The analytic errors are those of the formulas with this fit's numbers.
    n, span, sigma = result.points, result.time_span, result.residual_rms
    assert np.allclose(result.amplitude_errors_analytic, np.sqrt(2 / n) * sigma, rtol=1e-12)
    assert np.allclose(result.frequency_errors_analytic,
                       np.sqrt(6) * sigma / (np.pi * np.sqrt(n) * result.amplitudes * span),
                       rtol=1e-12)


def test_fit_with_harmonics_detrend_and_errors():
    t, y, dy = julian_series()
    trend_in = 0.3 + 0.002 * (t - t[0])
    result = fasogram.fit(t, y + trend_in, [0.3226], dy=dy, harmonics=3, detrend=1,
                          window="square")
    assert result.amplitudes.shape == (1, 3)
    assert result.phases.shape == (1, 3)
    assert not result.errors_scaled
    assert abs(result.frequencies[0] - 1 / 3.1) < 3 * result.frequency_errors[0]
    for h, amplitude in enumerate([0.5, 0.25, 0.1]):
        assert abs(result.amplitudes[0, h] - amplitude) < 4 * result.amplitude_errors[0, h]
    # The model carries the trend: the residuals are what it leaves.
    assert np.max(np.abs(result.residuals - (y + trend_in - result.model(t)))) < 1e-12
    assert result.trend.degree == 1
    assert np.max(np.abs(result.trend(t) - (trend_in + 7))) < 0.05
    # A component is its harmonics written with amplitudes and phases.
    s = np.linspace(t[0], t[-1], 7)
    f = result.frequencies[0]
    expected = sum(result.amplitudes[0, h] *
                   np.cos(2 * np.pi * ((h + 1) * f * (s - result.epoch) - result.phases[0, h]))
                   for h in range(3))
    assert np.max(np.abs(result.component(0, s) - expected)) < 1e-12


def test_trend_and_spectral_window():
    t = np.linspace(2450000.0, 2450400.0, 801)
    y = 3 - 0.01 * (t - 2450200) + 2e-5 * (t - 2450200) ** 2
    tr = fasogram.trend(t, y, 2, window="square")
    assert tr.degree == 2
    assert np.max(np.abs(tr(t) - y)) < 1e-10
    spec = fasogram.spectrum(t, y + np.sin(t), 0.1, 0.2, 10, detrend=2)
    plain = fasogram.spectrum(t, y + np.sin(t) - tr(t), 0.1, 0.2, 10)
    assert np.max(np.abs(spec.rho - plain.rho)) < 1e-9
    # Evenly sampled: the Dirichlet kernel.
    even = np.arange(100.0)
    f, amplitude = fasogram.spectral_window(even, 0.0, 1.0, 400, window="square")
    with np.errstate(invalid="ignore", divide="ignore"):
        kernel = np.abs(np.sin(np.pi * f * 100) / (100 * np.sin(np.pi * f)))
    kernel[np.abs(np.sin(np.pi * f)) < 1e-12] = 1.0
    assert np.max(np.abs(amplitude - kernel)) < 1e-12


def test_bad_input_is_refused_with_value_error():
    t, y = load(MULTIPERIODIC)
    grid = dict(fmin=0.01, fmax=2.0, steps=100)
    cases = [
        (lambda: fasogram.prewhiten(t, y, 0, **grid), "k must be 1 or more"),
        (lambda: fasogram.prewhiten(t, y, 2, harmonics=0, **grid), "harmonics must be"),
        (lambda: fasogram.prewhiten(t, y, 2, harmonics=21, **grid), "harmonics must be"),
        (lambda: fasogram.prewhiten(t, y, 2, dy=np.ones(3), **grid), "dy and t differ"),
        (lambda: fasogram.prewhiten(t, y, 2, dy=-np.ones(len(t)), **grid), "dy[0]"),
        (lambda: fasogram.prewhiten(t, y, 2, window="hamming", **grid), "unknown window"),
        (lambda: fasogram.prewhiten(t, y, 2, fmin=2, fmax=1, steps=10), "fmax > fmin"),
        (lambda: fasogram.prewhiten(t, y, 2, snr_band=0, **grid), "snr_band"),
        (lambda: fasogram.prewhiten(t, y, 2, detrend=-1, **grid), "degree"),
        (lambda: fasogram.fit(t, y, []), "at least one frequency"),
        (lambda: fasogram.fit(t, y, [0.3, 0.3]), "closer than"),
        (lambda: fasogram.fit(t, y[:10], [0.3]), "differ in length"),
        (lambda: fasogram.fit(t, y, [0.3], epoch="soon"), "epoch must be a number"),
        (lambda: fasogram.trend(t, y, 21), "degree"),
        (lambda: fasogram.spectrum(t, y, 0.1, 1, 10, harmonics=2.5), "whole number"),
        (lambda: fasogram.spectral_window(t, 0, 1, 0), "steps must be 1 or more"),
    ]
    for call, words in cases:
        with pytest.raises(ValueError) as error:
            call()
        assert words in str(error.value), (words, str(error.value))
    with pytest.raises(TypeError):
        fasogram.prewhiten(t, y, 2)  # the grid is needed


def test_docstring_examples():
    assert doctest.testmod(fasogram.multifreq).failed == 0
