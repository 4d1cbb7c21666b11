"""False-alarm probabilities of the highest peak: Baluev's approximation
against astropy's, its calibration on seeded pure noise, and its API."""
import math
import os

import numpy as np
import pytest
from scipy import stats

import fasogram

# astropy's own statistics, called with the band's exact upper limit (its
# LombScargle methods round the limit to a grid of their own).
astropy_stats = pytest.importorskip(
    "astropy.timeseries.periodograms.lombscargle._statistics")


def sampling(kind, rng, n=120):
    if kind == "uniform":
        return np.sort(rng.uniform(0.0, 50.0, n))
    if kind == "nightly":  # clusters one night apart: aliases at 1 c/d
        nights = rng.integers(0, 40, n)
        return np.sort(nights + rng.uniform(0.0, 0.3, n))
    if kind == "gapped":  # two seasons with a long gap between them
        a = rng.uniform(0.0, 10.0, n // 2)
        return np.sort(np.concatenate([a, rng.uniform(200.0, 215.0, n - n // 2)]))
    raise ValueError(kind)


@pytest.mark.parametrize("kind", ["uniform", "nightly", "gapped"])
@pytest.mark.parametrize("with_errors", [False, True])
def test_square_window_matches_astropy_baluev(kind, with_errors):
    rng = np.random.default_rng(11)
    t = sampling(kind, rng)
    y = rng.normal(size=t.size)
    dy = rng.uniform(0.5, 2.0, t.size) if with_errors else None
    fmax = 3.0
    result = fasogram.spectrum(t, y, fmin=0.0, fmax=fmax, steps=2000, window="square", dy=dy)
    rho = np.linspace(0.01, 0.9, 60)
    ours = result.false_alarm_probability(rho)
    theirs = astropy_stats.false_alarm_probability(rho, fmax, t, y, dy, "standard", "baluev")
    # Where the probability is tiny (beyond double precision) both must be 0.
    np.testing.assert_allclose(ours, theirs, rtol=1e-6, atol=1e-300)
    assert ours[0] > ours[-1]
    # The level is the inverse, to within the bisection's resolution.
    for p in (0.5, 0.01, 1e-3, 1e-6):
        z = result.false_alarm_level(p)
        assert result.false_alarm_probability(z) == pytest.approx(p, rel=1e-9)
        ref = astropy_stats.false_alarm_level(p, fmax, t, y, dy, "standard", "baluev")
        assert z == pytest.approx(float(ref), rel=1e-5)


def test_errors_enter_through_the_weighted_time_span():
    rng = np.random.default_rng(3)
    t = np.sort(rng.uniform(0.0, 30.0, 80))
    y = rng.normal(size=t.size)
    # Tiny errors at the start: the weighted spread of the times shrinks, and
    # so does the number of independent frequencies.
    dy = np.where(t < 5.0, 0.01, 1.0)
    plain = fasogram.spectrum(t, y, fmin=0.0, fmax=2.0, steps=500, window="square")
    weighted = fasogram.spectrum(t, y, fmin=0.0, fmax=2.0, steps=500, window="square", dy=dy)
    assert weighted.false_alarm_probability(0.2) < plain.false_alarm_probability(0.2)


def test_boundaries_and_arguments():
    rng = np.random.default_rng(5)
    t = np.sort(rng.uniform(0.0, 20.0, 60))
    result = fasogram.spectrum(t, rng.normal(size=60), fmin=0.0, fmax=1.0, steps=200)
    assert result.false_alarm_probability(0.0) == 1.0
    assert result.false_alarm_probability(-0.5) == 1.0
    assert result.false_alarm_probability(1.0) == 0.0
    # Just below 1 the probability is tiny but positive.
    assert 0.0 < result.false_alarm_probability(np.nextafter(0.5, 0.0))
    assert result.false_alarm_probability(0.5) < result.false_alarm_probability(
        np.nextafter(0.5, 0.0)) * (1 + 1e-12)
    for bad in (0.0, 1.0, -0.1, 1.5):
        with pytest.raises(ValueError):
            result.false_alarm_level(bad)
    with pytest.raises(ValueError):
        result.false_alarm_probability(0.3, method="davies")
    with pytest.raises(ValueError):
        result.false_alarm_probability(float("nan"))


def test_each_peak_carries_its_probability():
    rng = np.random.default_rng(8)
    t = np.sort(rng.uniform(0.0, 40.0, 150))
    y = 0.6 * np.sin(2 * np.pi * 0.37 * t) + rng.normal(size=t.size)
    result = fasogram.spectrum(t, y, fmin=0.0, fmax=2.0, steps=4000, window="square")
    peaks = result.peaks(3)
    assert [p.fap for p in peaks] == [result.false_alarm_probability(p.rho) for p in peaks]
    assert peaks[0].fap < 1e-4 and peaks[0].frequency == pytest.approx(0.37, abs=0.01)
    assert peaks[0].fap < peaks[1].fap <= peaks[2].fap


@pytest.mark.parametrize("window", ["square", "hanning"])
def test_calibration_on_pure_noise(window):
    """On white noise sampled at the example series' times, the share of
    highest peaks with probability below 0.05 lies within the binomial
    99.9% interval of 0.05, or below it (the approximation is an upper
    bound)."""
    data = np.loadtxt(os.environ.get("FASOGRAM_EXAMPLE", "examples/datos.dat"))
    rng = np.random.default_rng(2024 if window == "square" else 2025)
    t = np.sort(rng.choice(data[:, 0] - data[0, 0], 150, replace=False))
    span = t[-1] - t[0]
    fmax = 150.0 / span  # about 150 line widths: the grid below resolves every peak
    steps = 600
    trials = 2000
    hits = 0
    for _ in range(trials):
        y = rng.normal(size=t.size)
        result = fasogram.spectrum(t, y, fmin=0.0, fmax=fmax, steps=steps, window=window,
                                   threads=1)
        if result.peaks(1)[0].fap < 0.05:
            hits += 1
    hi = stats.binom.ppf(0.9995, trials, 0.05)
    lo = stats.binom.ppf(0.0005, trials, 0.05)
    assert hits <= hi, (hits, hi)
    # An upper bound, but not a loose one: well above a quarter of the level.
    assert hits >= lo / 4, (hits, lo)


def test_too_few_points_give_no_probability():
    # Four points: the approximation has no degrees of freedom left; five: it has.
    for n, defined in ((4, False), (5, True)):
        t = np.arange(float(n)) * 1.3 + np.array([0.0, 0.1, 0.05, 0.2, 0.0][:n])
        result = fasogram.spectrum(t, np.sin(t), fmin=0.0, fmax=1.0, steps=50, window="square")
        peak = result.peaks(1)[0]
        assert (peak.fap is not None) == defined
        if not defined:
            with pytest.raises(ValueError):
                result.false_alarm_probability(0.5)
