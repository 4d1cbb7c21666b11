"""False-alarm probabilities by bootstrap: calibrated on seeded white noise
sampled at the example's times, against Baluev's approximation with a
signal, against astropy's bootstrap in distribution, and the API."""
import os
import pickle
import signal
import threading
import time

import numpy as np
import pytest
from scipy import stats

import fasogram

astropy_stats = pytest.importorskip(
    "astropy.timeseries.periodograms.lombscargle._statistics")

EXAMPLE = os.environ.get("FASOGRAM_EXAMPLE", os.path.join(
    os.path.dirname(__file__), "..", "..", "examples", "datos.dat"))


def example_times():
    return np.loadtxt(EXAMPLE)[:, 0]


def test_white_noise_probabilities_are_uniform():
    # Under the null hypothesis the observed highest rho is one more draw
    # beside the B resamples' (nearly: they come from the empirical
    # distribution), so k, the resamples that reach it, is uniform on 0 .. B.
    t = example_times()
    rng = np.random.default_rng(20240611)
    n_series, b = 200, 100
    ks = []
    for s in range(n_series):
        y = rng.normal(12.5, 0.2, t.size)
        result = fasogram.spectrum(t, y, 0.05, 0.5, 650)
        fap = result.false_alarm_probability(result.rho.max(), method="bootstrap", n=b, seed=s)
        assert fap.resamples == b
        ks.append(fap.exceeding)
        assert float(fap) == (max(fap.exceeding, 1) / b)
    ks = np.array(ks)
    # Chi-square over five classes of k, 4 degrees of freedom: below 18.47
    # with probability 0.999.
    edges = [0, 20, 40, 60, 80, b + 1]
    observed = np.histogram(ks, bins=edges)[0]
    expected = n_series * np.diff(edges) / (b + 1)
    chi2 = ((observed - expected) ** 2 / expected).sum()
    assert chi2 < stats.chi2.ppf(0.999, 4), (observed, expected)
    # The tail that matters: k <= 4 (a probability of 5% or less).
    tail = int((ks <= 4).sum())
    lo, hi = stats.binom.interval(0.999, n_series, 5 / (b + 1))
    assert lo <= tail <= hi, tail


def test_with_a_signal_baluev_bounds_the_bootstrap_and_is_close_below_5_percent():
    # A sinusoid whose peak reaches rho of about 0.1 in 150 points: Baluev's
    # approximation is an upper bound, close where the probability is small.
    rng = np.random.default_rng(31)
    b = 2000
    compared = 0
    for _ in range(10):
        t = np.sort(rng.uniform(0, 60, 150))
        y = rng.normal(0, 1, t.size) + 0.45 * np.sin(2 * np.pi * 0.37 * t)
        result = fasogram.spectrum(t, y, 0.01, 3.0, 1000, window="square")
        rho = result.rho.max()
        analytic = result.false_alarm_probability(rho)
        boot = result.false_alarm_probability(rho, method="bootstrap", n=b, seed=3)
        spread = 3 * np.sqrt(analytic * (1 - analytic) / b) + 1 / b
        assert float(boot) <= analytic + spread, (rho, analytic, boot)
        if analytic < 0.05:
            assert float(boot) >= 0.5 * analytic - spread, (rho, analytic, boot)
            compared += 1
    assert compared >= 3


def test_maxima_follow_astropys_bootstrap_in_distribution():
    # The same series and grid (astropy's own for bootstrap, square window,
    # no errors: rho is astropy's standard power); other generators, so the
    # two sets of maxima are compared as samples (two-sample Kolmogorov-
    # Smirnov at 0.001).
    rng = np.random.default_rng(5)
    t = np.sort(rng.uniform(0, 40, 120))
    y = rng.normal(0, 1, t.size)
    df = 1 / (t[-1] - t[0]) / 5
    fmin, steps = df / 2, 999
    fmax = fmin + steps * df
    result = fasogram.spectrum(t, y, fmin, fmax, steps, window="square")
    ours = result._bootstrap(400, 9).maxima
    theirs = np.asarray(astropy_stats._bootstrap_max(t, y, None, fmax, "standard", 9, 400))
    assert stats.ks_2samp(ours, theirs).pvalue > 0.001
    # And a gross change of the null is seen: maxima of a series of a third
    # the points are higher.
    short = fasogram.spectrum(t[::3], y[::3], fmin, fmax, steps, window="square")
    assert stats.ks_2samp(short._bootstrap(400, 9).maxima, theirs).pvalue < 1e-6


def test_bootstrap_api():
    rng = np.random.default_rng(8)
    t = np.sort(rng.uniform(0, 30, 80))
    y = rng.normal(0, 1, t.size)
    dy = rng.uniform(0.5, 1.5, t.size)
    result = fasogram.spectrum(t, y, 0.05, 2.0, 400, dy=dy)
    # Above every maximum: a bound, never 0.
    top = result.false_alarm_probability(0.999, method="bootstrap", n=50)
    assert isinstance(top, fasogram.BootstrapFap) and isinstance(top, float)
    assert top.upper_bound and float(top) == 1 / 50 and top.error == 0.0
    assert top.exceeding == 0 and top.resamples == 50
    assert repr(top) == "BootstrapFap(<0.02)"
    low = result.false_alarm_probability(0.0, method="bootstrap", n=50)
    assert float(low) == 1.0 and not low.upper_bound and low.exceeding == 50
    mid = result.false_alarm_probability(np.median(result._bootstrap(50, 0).maxima),
                                         method="bootstrap", n=50)
    assert float(mid) == mid.exceeding / 50
    assert mid.error == pytest.approx(np.sqrt(float(mid) * (1 - float(mid)) / 50))
    assert pickle.loads(pickle.dumps(mid)).error == mid.error
    # Arrays give floats.
    arr = result.false_alarm_probability([0.0, 0.999], method="bootstrap", n=50)
    assert arr.dtype == float and list(arr) == [1.0, 1 / 50]

    # The same seed, the same resamples, whatever the threads or the object.
    a = fasogram.spectrum(t, y, 0.05, 2.0, 400, dy=dy, threads=1)._bootstrap(30, 77).maxima
    b = fasogram.spectrum(t, y, 0.05, 2.0, 400, dy=dy, threads=3)._bootstrap(30, 77).maxima
    np.testing.assert_array_equal(a, b)
    c = result._bootstrap(30, 78).maxima
    assert not np.any(a == c)
    # Kept per (n, seed).
    assert result._bootstrap(30, 77) is result._bootstrap(30, 77)

    # Levels: the k-th highest maximum, k = floor(p n).
    maxima = np.sort(result._bootstrap(200, 0).maxima)[::-1]
    assert result.false_alarm_level(0.05, method="bootstrap", n=200) == maxima[9]
    assert result.false_alarm_level(0.005, method="bootstrap", n=200) == maxima[0]
    with pytest.raises(ValueError, match="needs at least 1000 resamples"):
        result.false_alarm_level(0.001, method="bootstrap", n=200)
    np.testing.assert_array_equal(
        result.false_alarm_level([0.05, 0.5], method="bootstrap", n=200), maxima[[9, 99]])

    for kwargs, message in (({"method": "davies"}, "method must be"),
                            ({"method": "bootstrap", "n": 0}, "n must be 1 or more"),
                            ({"method": "bootstrap", "n": 2.5}, "n must be a whole number"),
                            ({"method": "bootstrap", "n": True}, "n must be a whole number"),
                            ({"method": "bootstrap", "seed": -1}, "seed must lie"),
                            ({"method": "bootstrap", "seed": 2 ** 64}, "seed must lie")):
        with pytest.raises(ValueError, match=message):
            result.false_alarm_probability(0.1, **kwargs)
    assert result._bootstrap(1, 2 ** 64 - 1).maxima.size == 1
    with pytest.raises(ValueError, match="rho is NaN"):
        result.false_alarm_probability(float("nan"), method="bootstrap", n=50)
    for p in (0.0, 1.0, -0.5):
        with pytest.raises(ValueError):
            result.false_alarm_level(p, method="bootstrap", n=50)
    at = fasogram.spectrum(t, y, frequency=[0.3, 0.6])
    with pytest.raises(ValueError, match="no band"):
        at.false_alarm_probability(0.1, method="bootstrap", n=10)
    harmonic = fasogram.spectrum(t, y, 0.05, 2.0, 400, harmonics=2)
    with pytest.raises(ValueError, match="one sinusoid"):
        harmonic.false_alarm_probability(0.1, method="bootstrap", n=10)
    # The module refuses what the package would not pass either.
    with pytest.raises(ValueError):
        result._result.bootstrap(0, 1)
    with pytest.raises(ValueError):
        result._result.bootstrap(5, -1)


def test_ctrl_c_stops_a_long_bootstrap_with_keyboard_interrupt():
    # A million resamples would take minutes; SIGINT half a second in.
    rng = np.random.default_rng(4)
    t = np.sort(rng.uniform(0, 100, 500))
    result = fasogram.spectrum(t, rng.normal(size=t.size), 0.01, 5.0, 5000)
    sent = []

    def interrupt():
        time.sleep(0.5)
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    thread = threading.Thread(target=interrupt)
    thread.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            result.false_alarm_probability(0.05, method="bootstrap", n=1_000_000)
        stopped = time.monotonic()
    finally:
        thread.join()
    assert sent and stopped - sent[0] < 3.0
    # Nothing half-made was kept: the next call draws them all.
    assert float(result.false_alarm_probability(0.05, method="bootstrap", n=20)) > 0
