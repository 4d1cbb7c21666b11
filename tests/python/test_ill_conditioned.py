"""Fits so nearly singular that only multiple precision settles them, on
series whose values lie far below 1 (the engine scales them by a power of
two): every printed digit against an mpmath least-squares fit."""

import sys

import mpmath
import numpy as np
import pytest

import fasogram


def exact_fit(t, x, f, window):
    """rho, C1, C2, C3 of the weighted fit, in 1200-digit arithmetic.

    The basis is 1, cos - 1 and sin (C1 then less C2) so that the tiny
    phases keep their information without a cancelling subtraction."""
    with mpmath.workdps(1200):
        f = mpmath.mpf(f)
        pts = sorted(zip(t, x))
        t = [mpmath.mpf(a) for a, _ in pts]
        x = [mpmath.mpf(b) for _, b in pts]
        if window == "square":
            h = [mpmath.mpf(1)] * len(t)
        else:
            span = t[-1] - t[0]
            h = [2 * mpmath.sin(mpmath.pi * min(a - t[0], t[-1] - a) / span) ** 2 for a in t]
        phase = [2 * mpmath.pi * f * a for a in t]
        u = [-2 * mpmath.sin(p / 2) ** 2 for p in phase]
        s = [mpmath.sin(p) for p in phase]
        total = sum(h)

        def mean(v):
            return sum(w * a for w, a in zip(h, v)) / total

        du = [a - mean(u) for a in u]
        ds = [a - mean(s) for a in s]
        dx = [a - mean(x) for a in x]
        m = mpmath.matrix([[mean([a * a for a in du]), mean([a * b for a, b in zip(du, ds)])],
                           [mean([a * b for a, b in zip(du, ds)]), mean([a * a for a in ds])]])
        y = mpmath.matrix([mean([a * b for a, b in zip(du, dx)]),
                           mean([a * b for a, b in zip(ds, dx)])])
        c2, c3 = mpmath.lu_solve(m, y)
        rho = (c2 * y[0] + c3 * y[1]) / mean([a * a for a in dx])
        c1 = mean(x) - c2 * mean(u) - c3 * mean(s) - c2
        # The residual sum gives rho a second way: a wrong solution fails here.
        resid = mean([(a - c1 - c2 * mpmath.cos(p) - c3 * mpmath.sin(p)) ** 2
                      for a, p in zip(x, phase)])
        assert abs(1 - resid / mean([a * a for a in dx]) - rho) < mpmath.mpf(10) ** -200
        return rho, c1, c2, c3


def eight_digits(v):
    """The exact value rounded to eight significant digits, as '%.7e' prints."""
    with mpmath.workdps(1200):
        if v == 0:
            return "%.7e" % 0.0
        e = int(mpmath.floor(mpmath.log10(abs(v))))
        q = int(mpmath.nint(abs(v) * mpmath.mpf(10) ** (7 - e)))
        if q >= 10 ** 8:
            e += 1
            q = int(mpmath.nint(abs(v) * mpmath.mpf(10) ** (7 - e)))
        digits = str(q)
        return "%s%s.%se%+03d" % ("-" if v < 0 else "", digits[0], digits[1:], e)


def printed(value):
    return "%.7e" % value


def check_digits(t, x, f, window):
    result = fasogram.spectrum(np.array(t), np.array(x), frequency=np.array([f]),
                               window=window, threads=2)
    exact = exact_fit(t, x, f, window)
    got = [result.rho[0], result.c1[0], result.c2[0], result.c3[0]]
    for name, value, want in zip(("rho", "C1", "C2", "C3"), got, exact):
        if abs(want) > sys.float_info.max:
            # Beyond the range of a double: the rounding is the infinity.
            assert value == (np.inf if want > 0 else -np.inf), name
        else:
            assert printed(value) == eight_digits(want), name
    return exact


# A fuzzing finding: 18 points with times from 1e-310 to 1e188 and values
# from 1e-320 to 1e-42.  At this frequency one point sits 5e-20 rad and one
# 8.5e-6 rad from the rest (condition number about 1e39); the fit nearly
# interpolates the dominant value, rho = 1 - 7e-30.
FOUND = np.array([
    [-1.775484980854224e-64, 1.6008803578541765e-194],
    [-7.418412301374843e-68, -1.775484980854224e-64],
    [3.4617598574294e-310, 8.854e-321],
    [3.4732827108164e-310, 2.2541451703578456e-130],
    [-8.08634922390439e-174, 2.689520321423687e-306],
    [-1.2912888916922322e-172, 6.885172022844638e-304],
    [-6.06314245410472e-269, 2.577695647264681e-57],
    [9.372342935824321e-48, 1.0453480737e-314],
    [5.31017013e-315, -2.3534379294747506e-185],
    [1.2882300597376008e-231, 1.344974619049471e-284],
    [-3.155443620884092e-31, 1.4853970568e-313],
    [-4.946610904160031e+173, 9.951320910951655e-43],
    [9.56559539845085e-308, 3.78610223736616e-307],
    [4.1636476517678714e-17, 4.0869604e-317],
    [4.1636476543502864e-17, 8.231357e-317],
    [1.9233850485149285e-306, 5.39450218526e-312],
    [8.498632899301327e+187, 2.900042239688414e-57],
    [-1.7295970709623937e-100, 1.59504e-319]])
FOUND_F = 1.6008803578541765e-194


def test_found_series_square_window():
    rho = check_digits(list(FOUND[:, 0]), list(FOUND[:, 1]), FOUND_F, "square")[0]
    assert 0 < 1 - rho < mpmath.mpf("1e-28")


def test_found_series_hanning_window_overflows_where_the_exact_values_do():
    # The points near t = 0 weigh alike and differ in phase by 1e-210 rad at
    # most: C1 and C2 are about -/+ 8e365, C3 about 2e156.
    rho, c1, c2, _ = check_digits(list(FOUND[:, 0]), list(FOUND[:, 1]), FOUND_F, "hanning")
    assert abs(c1) > sys.float_info.max and abs(c2) > sys.float_info.max
    assert 0.009 < rho < 0.01


def cluster_series(value_scale, phase_a, phase_b, f):
    """Five points within 3e-30 cycles of each other, one (carrying the
    dominant value) phase_a cycles away and one phase_b cycles away."""
    cycles = [0.0, 1e-30, 2e-30, 3e-30, 5e-31, phase_a, phase_b]
    values = [0.3, -0.2, 0.1, 0.25, 0.15, 1e3, 0.05]
    return [c / f for c in cycles], [v * value_scale for v in values]


@pytest.mark.parametrize("value_scale, phase_a, phase_b, f", [
    (1e-20, 1e-21, 1e-6, 1.0),
    (1e-120, 1e-20, 1e-7, 1e150),
    # Subnormal values.
    (2.0 ** -1040, 1e-20, 1e-7, 1e-150),
    # Values of ordinary size, scaled down rather than up.
    (1.0, 1e-20, 1e-7, 1.0),
])
def test_nearly_singular_fits_of_tiny_values(value_scale, phase_a, phase_b, f):
    t, x = cluster_series(value_scale, phase_a, phase_b, f)
    check_digits(t, x, f, "square")


@pytest.mark.parametrize("value_scale, overflows", [(1.0, True), (1e-300, False)])
def test_phases_below_the_range_of_a_double(value_scale, overflows):
    # Five times whose t f lies below the smallest normal double (1e-318
    # times 0.7 is not a double at all) and one a millionth of a cycle away:
    # the fit turns on the exact phases of the five, which only multiple
    # precision resolves.  C1, C2 and C3 are about 4e321, -4e321 and -1e316
    # for values of order 1, beyond the range of a double; 1e-300 times that
    # for values of 1e-300, within it (though not at the scale the engine
    # solves them in, values of order 1).
    t = [0.0, 1e-318, 2.3e-318, 3.7e-318, 5.1e-318, 1e-6 / 0.7]
    x = [v * value_scale for v in [0.9, 0.1, 0.5, -0.3, 0.7, 0.4]]
    rho, c1, c2, c3 = check_digits(t, x, 0.7, "square")
    for c in (c1, c2, c3):
        assert (abs(c) > sys.float_info.max) == overflows
    assert 0.05 < rho < 0.06


def test_hanning_weights_of_a_huge_span():
    # A fuzzing finding: times up to 3e160 and the rest within 3e6 of 0, so
    # that every Hanning weight but the end ones is the square of a sine
    # below 1e-153, which in double precision underflows (rho came out 2.12).
    t = [2451545.0, 2.6250019073777633, 3.7548121445199484e-308, 1.2124631022710443e-99,
         -2.872848349932294e-188, -2.3223297334602057e-57, 4.92627567596714e-88,
         1.303804827915e-312, 3.0333507740450556e+160]
    x = [4.778310638126733e-299, 0.09999642372131348, 1.5765088198255387e-52, 2.7e-322,
         4.861469557716008e-62, 1.6162942479181271e-81, -2.3254964207801943e-97, 0.0,
         12.125141545997842]
    check_digits(t, x, 1 / 12, "hanning")
    # The same series on a span a thousand times shorter: the weights of the
    # inner points then lie near 1e-300, just within range.
    t[-1] = 3.0333507740450556e+157
    check_digits(t, x, 1 / 12, "hanning")


@pytest.mark.parametrize("window", ["hanning", "square"])
def test_a_huge_value_of_weight_zero_leaves_the_others_their_digits(window):
    # Found by fuzzing: with the Hanning window the latest point (3e160, of
    # weight 0) set the values' scale, the squares of the others underflowed
    # and rho came out as 1.0001741.
    t = [2451545.0, 2451546.31, 1.3637186305368866e-302, 4.201615712646133e-149,
         1.3545035081753228e+240, -2.719537912376347e+213, -5.877828945089993e-39]
    x = [12.1, 12.092106099400288, 4.186341030828635e-149, 4.9263734788883506e-88,
         3.033350774045084e+160, -2.3536708967834612e-185, -1.386813913741169e-109]
    for f in (1.0 / 12.0, 0.25):
        check_digits(t, x, f, window)
