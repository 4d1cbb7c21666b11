"""Refined peaks against the maximum of rho found in 40-digit arithmetic.

The reference fits Y = C1 + C2 cos 2 pi f t + C3 sin 2 pi f t by solving the
3 x 3 weighted normal equations in mpmath, and finds where d rho / df
vanishes by the secant method on mpmath's numerical derivative: nothing in
it is shared with the engine but the weights of the window."""

import mpmath
import numpy as np
import pytest

import fasogram

mpmath.mp.dps = 40


def window_weights(t, window):
    if window == "square":
        return np.ones_like(t)
    d = np.minimum(t - t[0], t[-1] - t)
    return 2.0 * np.sin(np.pi * (d / (t[-1] - t[0]))) ** 2


class Reference:
    def __init__(self, t, y, window, dy=None):
        order = np.argsort(t)
        t, y = np.asarray(t)[order], np.asarray(y)[order]
        w = window_weights(t, window)
        if dy is not None:
            w = w / np.asarray(dy)[order] ** 2
        self.t = [mpmath.mpf(float(v)) for v in t]
        self.w = [mpmath.mpf(float(v)) for v in w]
        sw = mpmath.fsum(self.w)
        mean = mpmath.fsum(wi * float(yi) for wi, yi in zip(self.w, y)) / sw
        self.y = [mpmath.mpf(float(v)) - mean for v in y]
        self.total = mpmath.fsum(wi * yi * yi for wi, yi in zip(self.w, self.y))

    def rho(self, f):
        cols = [[mpmath.mpf(1)] * len(self.t),
                [mpmath.cos(2 * mpmath.pi * f * ti) for ti in self.t],
                [mpmath.sin(2 * mpmath.pi * f * ti) for ti in self.t]]
        a = mpmath.matrix(3, 3)
        b = mpmath.matrix(3, 1)
        for i in range(3):
            b[i] = mpmath.fsum(w * c * y for w, c, y in zip(self.w, cols[i], self.y))
            for j in range(3):
                a[i, j] = mpmath.fsum(w * c * d for w, c, d in zip(self.w, cols[i], cols[j]))
        coef = mpmath.lu_solve(a, b)
        self.coef = coef
        return (coef[0] * b[0] + coef[1] * b[1] + coef[2] * b[2]) / self.total

    def phase(self, f):
        """The phase in cycles of the fit at f: C2 cos + C3 sin = A cos(2 pi (f t - phase))."""
        self.rho(f)
        return mpmath.atan2(self.coef[2], self.coef[1]) / (2 * mpmath.pi) % 1

    def maximum(self, f0, width):
        """The root of d rho / df next to f0 (width: a scale of the peak)."""
        h = width * mpmath.mpf(10) ** -12
        slope = lambda f: mpmath.diff(self.rho, f, h=h)
        return mpmath.findroot(slope, (mpmath.mpf(f0), mpmath.mpf(f0) + width * 1e-6),
                               solver="secant", tol=(width * 1e-30) ** 2)


def ten_digits(value):
    """value correctly rounded to ten significant digits, as the peak table prints it."""
    return mpmath.nstr(mpmath.mpf(value), 10, min_fixed=-10, max_fixed=10)


def uneven_times(n, span, seed, start=2455000.0):
    rng = np.random.default_rng(seed)
    return start + np.sort(rng.uniform(0.0, span, n))


def check_peak(ref, peak, width, tol):
    best = ref.maximum(peak.frequency, width)
    error = abs(mpmath.mpf(peak.frequency) - best)
    # At most a few units of the last place of f beyond tol.
    assert error <= tol + 4 * np.spacing(peak.frequency), (peak.frequency, best)
    # No frequency is higher than the refined one by more than rounding.
    assert ref.rho(best) - ref.rho(peak.frequency) <= 1e-15 * ref.rho(best)
    assert peak.rho == pytest.approx(float(ref.rho(peak.frequency)), rel=1e-14)
    # The phase refers to t = 0, millions of cycles away: it moves by t df
    # cycles with the frequency, and shows a wrong maximum first.
    turn = abs(mpmath.mpf(peak.phase) - ref.phase(best))
    assert min(turn, 1 - turn) < 1e-8, (peak.phase, ref.phase(best))
    return best


@pytest.mark.parametrize("window", ["square", "hanning"])
def test_close_double_peak_both_refined_to_the_exact_maximum(window):
    # Two sinusoids 1.3 line widths apart: the two peaks lean on each other,
    # so neither maximum lies at a signal's frequency.
    t = uneven_times(160, 60.0, seed=3)
    lw = (2.0 if window == "hanning" else 1.0) / (t[-1] - t[0])
    f1 = 0.4137
    f2 = f1 + 1.3 * lw
    rng = np.random.default_rng(4)
    y = (np.cos(2 * np.pi * f1 * t) + 0.9 * np.cos(2 * np.pi * f2 * t + 1.0) +
         rng.normal(0, 0.3, t.size))
    result = fasogram.spectrum(t, y, 0.3, 0.6, 3000, window=window)
    peaks = result.peaks(2)
    assert len(peaks) == 2
    ref = Reference(t, y, window)
    found = sorted(check_peak(ref, p, lw, 1e-13 * lw) for p in peaks)
    assert found[1] - found[0] > 0.8 * lw
    for p in peaks:
        best = ref.maximum(p.frequency, lw)
        # The peak table's ten digits are those of the exact maximum unless
        # it lies within the error of a rounding boundary.
        if ten_digits(best - 1e-13 * lw) == ten_digits(best + 1e-13 * lw):
            assert ten_digits(p.frequency) == ten_digits(best)


def test_peaks_at_both_ends_of_the_grid_stay_between_their_neighbours():
    t = uneven_times(120, 40.0, seed=8)
    lw = 1.0 / (t[-1] - t[0])
    step = 0.25 * lw
    rng = np.random.default_rng(9)
    for fmin in (0.7 - 1.35 * step, 0.7 - 39.35 * step):
        # The maximum falls between the first two grid frequencies, then
        # between the last two.
        y = np.cos(2 * np.pi * 0.7 * t + 0.3) + rng.normal(0, 0.05, t.size)
        result = fasogram.spectrum(t, y, fmin, fmin + 40 * step, 40, window="square")
        peak = result.peaks(1)[0]
        ref = Reference(t, y, "square")
        best = check_peak(ref, peak, lw, 1e-13 * lw)
        edge = fmin + step if fmin > 0.7 - 2 * step else fmin + 39 * step
        assert abs(best - edge) < step
        assert abs(peak.frequency - 0.7) < 0.5 * step


def test_noise_free_top_and_merged_double_peak():
    # A noise-free sinusoid: rho is 1 at its frequency, and within 1e-9 of
    # it over a ten-thousandth of a line width.
    t = uneven_times(90, 30.0, seed=12)
    lw = 1.0 / (t[-1] - t[0])
    y = 5.0 + 0.4 * np.cos(2 * np.pi * 0.23 * t + 2.0)
    peak = fasogram.spectrum(t, y, 0.2, 0.26, 400, window="square").peaks(1)[0]
    assert 1 - peak.rho < 1e-14
    ref = Reference(t, y, "square")
    check_peak(ref, peak, lw, 1e-13 * lw)
    # Two equal sinusoids 0.9 line widths apart make one broad, flat top.
    y = np.cos(2 * np.pi * (0.23 - 0.45 * lw) * t) + np.cos(2 * np.pi * (0.23 + 0.45 * lw) * t)
    peak = fasogram.spectrum(t, y, 0.2, 0.26, 400, window="square").peaks(1)[0]
    assert abs(peak.frequency - 0.23) < 0.5 * lw
    check_peak(Reference(t, y, "square"), peak, lw, 1e-12 * lw)


def test_measurement_errors_and_a_long_time_origin():
    # Times near 2.4e6 days, weights of the errors: the phases of the
    # refinement must keep their digits.
    t = uneven_times(140, 900.0, seed=21, start=2451545.0)
    rng = np.random.default_rng(22)
    dy = rng.uniform(0.05, 0.4, t.size)
    y = 0.2 * np.sin(2 * np.pi * 1.73 * t) + rng.normal(0, 1, t.size) * dy
    lw = 2.0 / (t[-1] - t[0])
    peak = fasogram.spectrum(t, y, 1.7, 1.76, 800, window="hanning", dy=dy).peaks(1)[0]
    ref = Reference(t, y, "hanning", dy)
    check_peak(ref, peak, lw, 1e-13 * lw)
