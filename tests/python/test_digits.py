"""The module's doubles against an independent mpmath evaluation of the fit
(weighted normal equations at 320 bits): each double, rounded to eight
significant digits, is the exact value so rounded, on ordinary frequencies
and on fits so nearly singular that their later digits are not settled
(the module promises no more)."""

import decimal
import warnings

import mpmath
import numpy as np
import pytest

import fasogram

mpmath.mp.prec = 320


def exact_fit(t, y, f, hanning):
    """(rho, c1, c2, c3) of the weighted fit, from the doubles as given."""
    t = [mpmath.mpf(float(v)) for v in t]
    y = [mpmath.mpf(float(v)) for v in y]
    lo, hi = min(t), max(t)
    mid, span = (lo + hi) / 2, hi - lo
    w = [1 + mpmath.cos(2 * mpmath.pi * (ti - mid) / span) if hanning else mpmath.mpf(1)
         for ti in t]
    fm = mpmath.mpf(float(f))
    # The phase from t f less its nearest whole number (t f is exact here).
    ph = [2 * mpmath.pi * (ti * fm - mpmath.nint(ti * fm)) for ti in t]
    basis = [(mpmath.mpf(1), mpmath.cos(p), mpmath.sin(p)) for p in ph]
    a = mpmath.matrix(3, 3)
    b = mpmath.matrix(3, 1)
    for wi, yi, bi in zip(w, y, basis):
        for r in range(3):
            b[r] += wi * yi * bi[r]
            for q in range(3):
                a[r, q] += wi * bi[r] * bi[q]
    c = mpmath.lu_solve(a, b)
    sw = mpmath.fsum(w)
    m = mpmath.fsum(wi * yi for wi, yi in zip(w, y)) / sw
    fitted = mpmath.fsum(wi * (c[0] + c[1] * bi[1] + c[2] * bi[2] - m) ** 2
                         for wi, bi in zip(w, basis))
    var = mpmath.fsum(wi * (yi - m) ** 2 for wi, yi in zip(w, y))
    return fitted / var, c[0], c[1], c[2]


def eight(x):
    """x (mpf or float) correctly rounded to eight significant digits."""
    d = decimal.Decimal(mpmath.nstr(x, 60, strip_zeros=False)) if isinstance(
        x, mpmath.mpf) else decimal.Decimal(float(x))
    if d == 0:
        return d
    with decimal.localcontext() as ctx:
        ctx.prec = 8
        ctx.rounding = decimal.ROUND_HALF_EVEN
        return +d


def monthly():
    rng = np.random.default_rng(4)
    t = 1980.0 + np.arange(240) / 12.0
    y = np.round((340 + 3 * np.sin(2 * np.pi * t) + rng.uniform(size=t.size)) * 100) / 100
    return t, y


@pytest.mark.parametrize("window", ["hanning", "square"])
def test_eight_digits_of_each_double_are_the_exact_fits(window):
    t, y = monthly()
    # Ordinary frequencies, then ever closer to the alias at 12 cycles a
    # year, where the doubles' later digits are no longer the exact ones.
    freqs = [0.37, 1.0, 3.3] + [12.0 + d for d in (1e-3, 1e-6, 1e-8, 1e-10, 3e-12)]
    result = fasogram.spectrum(t, y, frequency=freqs, window=window)
    assert len(result) == len(freqs)
    for i in range(len(result)):
        point = result[i]
        f = float(point.frequency)
        assert f in freqs
        exact = exact_fit(t, y, f, window == "hanning")
        for got, want in zip(point[1:], exact):
            assert eight(float(got)) == eight(want), (f, float(got), mpmath.nstr(want, 20))


def test_coefficients_past_the_ends_of_the_doubles_are_their_nearest_doubles():
    """Tiny values give subnormal coefficients within half a unit of the
    least subnormal of the exact ones, huge ones infinite coefficients
    where the exact ones pass the largest double; rho keeps its digits."""
    tiny_t = np.array([0.0, 1.3, 2.1, 3.7, 4.2, 5.9])
    tiny_y = np.array([1e-318, 3e-318, 2e-318, 7e-318, 5e-318, 4e-318])
    huge_t = np.array([0.0, 0.001, 0.002, 0.0035, 0.004, 0.0052])
    huge_y = np.array([1e307, 3e307, -2e307, 5e307, 1e307, -4e307])
    for t, y, f in ((tiny_t, tiny_y, 0.1), (huge_t, huge_y, 2.0)):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", fasogram.UndersampledGridWarning)
            r = fasogram.spectrum(t, y, f, 2 * f, 1, window="square")
        want = exact_fit(t, y, f, hanning=False)
        assert float(f"{r.rho[0]:.7e}") == float(mpmath.nstr(want[0], 8))
        for got, exact in zip((r.c1[0], r.c2[0], r.c3[0]), want[1:]):
            if abs(exact) > np.finfo(float).max:
                assert got == (np.inf if exact > 0 else -np.inf)
            else:
                assert abs(mpmath.mpf(float(got)) - exact) <= mpmath.mpf(2.0) ** -1074
