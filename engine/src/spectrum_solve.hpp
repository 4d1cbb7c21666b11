// The solution of one frequency's fit from its sums, with the error bound
// carried through.  Shared by the transforms (sums in double, solved in
// double first and in long double where that does not settle the digits),
// the fast evaluation (sums in long double) and the careful one (sums in
// double-double).
#pragma once

#include "decimal17.hpp"
#include "spectrum_internal.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace fasogram::detail {

// The seven sums of one frequency, not normalised: sum h c, sum h s,
// sum h c c, sum h c s, sum h s s, sum h y c, sum h y s, y the values less
// a centre close to the mean.
template <class T> struct Sums { T hc{}, hs{}, hcc{}, hcs{}, hss{}, hyc{}, hys{}; };

// Absolute error bounds of the sums: mu for each of the first five, eta for
// the last two; `unit` is the relative rounding error of one operation in T.
struct SumBounds {
    double mu = 0.0;
    double eta = 0.0;
    double unit = 0.0;
};

inline double as_double(double v) {
    return v;
}
inline double as_double(long double v) {
    return static_cast<double>(v);
}
inline double as_double(dd::DD v) {
    return dd::to_double(v);
}
// v times 2^k, rounded to double.  Within the exponents of a double 2^k is
// a double (made from its bits) and the product is exact in long double,
// whose exponents reach far beyond: one multiplication instead of the
// library's long double scaling.
inline double scaled_double(long double v, int k) {
    if (k >= -1022 && k <= 1023)
        return static_cast<double>(
            v * std::bit_cast<double>(static_cast<std::uint64_t>(1023 + k) << 52));
    return static_cast<double>(std::ldexp(v, k));
}
// v times 2^k as ldexp gives it (exact, or correctly rounded where the
// product is subnormal), by one multiplication where 2^k is a double.
inline double times_power_of_two(double v, int k) {
    if (k >= -1022 && k <= 1023)
        return v * std::bit_cast<double>(static_cast<std::uint64_t>(1023 + k) << 52);
    return std::ldexp(v, k);
}
inline double scaled_double(double v, int k) {
    return times_power_of_two(v, k);
}
inline double scaled_double(dd::DD v, int k) {
    return std::ldexp(dd::to_double(v), k);
}
// Whether v is 0, whether it is finite, its binary exponent (that of
// frexp, 0 for 0) and v times 2^-shift as a double-double, for values that
// may lie beyond the exponents of a double.
inline bool is_zero(double v) {
    return v == 0;
}
inline bool is_zero(long double v) {
    return v == 0;
}
inline bool is_zero(dd::DD v) {
    return v.hi == 0;
}
inline bool is_finite(double v) {
    return std::isfinite(v);
}
inline bool is_finite(long double v) {
    return std::isfinite(v);
}
inline bool is_finite(dd::DD v) {
    return std::isfinite(v.hi) && std::isfinite(v.lo);
}
inline int binary_exponent(double v) {
    int e = 0;
    std::frexp(v, &e);
    return e;
}
inline int binary_exponent(long double v) {
    int e = 0;
    std::frexp(v, &e);
    return e;
}
inline int binary_exponent(dd::DD v) {
    int e = 0;
    std::frexp(v.hi, &e);
    return e;
}
inline dd::DD as_dd_shifted(double v, int shift) {
    return {std::ldexp(v, -shift), 0.0};
}
inline dd::DD as_dd_shifted(long double v, int shift) {
    const long double w = std::ldexp(v, -shift);
    const double hi = static_cast<double>(w);
    return {hi, static_cast<double>(w - hi)};
}
inline dd::DD as_dd_shifted(dd::DD v, int shift) {
    return {std::ldexp(v.hi, -shift), std::ldexp(v.lo, -shift)};
}
inline dd::DD as_dd(double v) {
    return {v, 0.0};
}
inline dd::DD as_dd(long double v) {
    const double hi = static_cast<double>(v);
    return {hi, static_cast<double>(v - hi)};
}
inline dd::DD as_dd(dd::DD v) {
    return v;
}
template <class T> T from_dd(dd::DD v);
template <> inline double from_dd<double>(dd::DD v) {
    return dd::to_double(v);
}
template <> inline long double from_dd<long double>(dd::DD v) {
    return dd::to_long_double(v);
}
template <> inline dd::DD from_dd<dd::DD>(dd::DD v) {
    return v;
}

inline Evaluation singular_point(double f) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {{f, nan, nan, nan, nan, {}}, true};
}

// `offset` is the mean less the centre the y values were taken from.
// With Digits::full the values are settled when their 17-digit rounding is
// certain, and their tails are kept.
// The weighted sum S, the mean and the variance the sums were taken with;
// `mean_err` bounds the error of the values' centre (the mean the y values
// were taken from, less the true one), which the centring of Y below
// leaves as cbar and sbar times that error.
// `rel` bounds the relative errors of S and of the variance.
template <class T> struct Moments {
    T sum_h, mean, variance;
    double mean_err = 0.0;
    double rel = 0.0;
};

template <class T>
Evaluation solve_fit(const Sums<T>& u, const Prepared& p, const Moments<T>& m, dd::DD offset,
                     const SumBounds& b, double f, Digits digits = Digits::eight);

// The end of a fit whose C1, C2 or C3 lies near or below the bottom of the
// range of doubles, or beyond its top: the values as solved (at the scale
// of the sums, 2^-k of the input's) become the point's heads and tails, and
// their digits are settled there.  `given` holds the bounds of rho, C1, C2,
// C3, the last three at the scale of the sums, or is null where the fit
// has none (the digits are then not settled).
template <class T>
Evaluation finish_out_of_range(Evaluation e, const T& c1, const T& c2, const T& c3, dd::DD rho,
                               const double* given, int k, Digits digits) {
    // Values past 2^1000 at the scale of the sums (the solution can reach
    // beyond the exponents of a double where T's do not) are shifted down
    // with their bounds.
    int largest = 0;
    for (const T* c : {&c1, &c2, &c3})
        if (!is_zero(*c)) largest = std::max(largest, binary_exponent(*c));
    const int shift = std::max(0, largest - 1000);
    k += shift;
    const dd::DD v[3] = {as_dd_shifted(c1, shift), as_dd_shifted(c2, shift),
                         as_dd_shifted(c3, shift)};
    const dd::DD vr = dd::abs(rho);
    e.point.tail = {digits == Digits::full ? vr.lo : 0.0, v[0].lo, v[1].lo, v[2].lo,
                    {v[0].hi, v[1].hi, v[2].hi},          k};
    if (digits == Digits::full) e.point.rho = vr.hi;
    if (given == nullptr) {
        e.settled = false;
        return e;
    }
    double bounds[4] = {given[0], given[1], given[2], given[3]};
    for (int j = 1; j < 4; ++j) bounds[j] = std::ldexp(bounds[j], -shift);
    if (digits == Digits::full) {
        constexpr double dd_unit = 0x1p-105;
        bool ok = true;
        for (int j = 0; j < 3 && ok; ++j) {
            round17(v[j], bounds[j + 1] + dd_unit * std::fabs(v[j].hi), &ok, k);
        }
        if (ok) round17(vr, bounds[0] + dd_unit * vr.hi, &ok);
        e.settled = ok;
        constexpr double close = 1e-28;
        e.converged = bounds[0] <= close * vr.hi;
        for (int j = 0; j < 3; ++j) e.converged &= bounds[j + 1] <= close * std::fabs(v[j].hi);
        return e;
    }
    const double eps = std::numeric_limits<double>::epsilon();
    bool ok = settled(e.point.rho, bounds[0]);
    for (int j = 0; j < 3 && ok; ++j)
        ok = digits_settled(v[j], bounds[j + 1] + 4.0 * eps * std::fabs(v[j].hi), k, 8);
    e.settled = ok;
    const double tiny = 1e-3 * eps;
    e.converged = bounds[0] <= tiny * e.point.rho;
    for (int j = 0; j < 3; ++j) e.converged &= bounds[j + 1] <= tiny * std::fabs(v[j].hi);
    return e;
}

template <class T>
Evaluation solve_fit(const Sums<T>& u, const Prepared& p, dd::DD offset, const SumBounds& b,
                     double f, Digits digits = Digits::eight) {
    // Double-double S, mean and variance, with the bounds of their errors.
    const Moments<T> m{from_dd<T>(p.sum_h), from_dd<T>(p.mean), from_dd<T>(p.variance), p.mean_err,
                       p.moment_rel};
    return solve_fit(u, p, m, offset, b, f, digits);
}

template <class T>
Evaluation solve_fit(const Sums<T>& u, const Prepared& p, const Moments<T>& m, dd::DD offset,
                     const SumBounds& b, double f, Digits digits) {
    if (sum_records() != nullptr)
        sum_records()->push_back({f, as_dd(u.hc), as_dd(u.hs), as_dd(u.hcc), as_dd(u.hcs),
                                  as_dd(u.hss), as_dd(u.hyc), as_dd(u.hys), b.mu, b.eta,
                                  fit_precision()});
    const T S = m.sum_h;
    const T dm = from_dd<T>(offset);
    const T cbar = u.hc / S, sbar = u.hs / S;
    const T mcc = u.hcc / S - cbar * cbar;
    const T mss = u.hss / S - sbar * sbar;
    const T mcs = u.hcs / S - cbar * sbar;
    const T y1 = (u.hyc - dm * u.hc) / S;
    const T y2 = (u.hys - dm * u.hs) / S;
    const T det = mcc * mss - mcs * mcs;
    const T c2 = (mss * y1 - mcs * y2) / det;
    const T c3 = (mcc * y2 - mcs * y1) / det;
    const T c1 = m.mean - c2 * cbar - c3 * sbar;
    const T rv = c2 * y1 + c3 * y2; // P - m^2
    const T var = m.variance;

    Evaluation e;
    e.point.f = f;
    e.point.rho = std::fabs(as_double(rv / var));
    // C1, C2 and C3 back to the scale of the input before they are rounded
    // to double: as solved they may lie beyond its range where the input's
    // do not.
    e.point.c1 = scaled_double(c1, p.scale);
    e.point.c2 = scaled_double(c2, p.scale);
    e.point.c3 = scaled_double(c3, p.scale);

    // First-order propagation of the bounds.  Entries of M are off by at most
    // 3 mu/S (the centring adds two more of mu/S), those of Y by eta/S plus
    // the centring.
    // S's own error moves each entry of M (of size one at most) by three
    // times its relative error at most, and each of Y by that of itself.
    const double sd = as_double(S);
    const double mu = 3.0 * b.mu / sd + 8.0 * b.unit + 3.0 * m.rel;
    const double a1 = std::fabs(as_double(cbar)), a2 = std::fabs(as_double(sbar));
    const double eta =
        (b.eta + std::fabs(as_double(dm)) * b.mu) / sd +
        (8.0 * b.unit + m.rel) * (std::fabs(as_double(y1)) + std::fabs(as_double(y2))) +
        m.mean_err * std::max(a1, a2);
    const double dt = as_double(det);
    const double i11 = std::fabs(as_double(mss)) / dt, i22 = std::fabs(as_double(mcc)) / dt,
                 i12 = std::fabs(as_double(mcs)) / dt;
    const double norm_inv = std::max(i11 + i12, i12 + i22);
    // C1, C2 and C3 whose double-doubles would not be whole at the scale
    // of the input (a low part below the normal range, or a value beyond
    // the largest double) keep their digits scaled; their bounds then stay
    // at the scale of the sums.
    const auto out_of_range = [](double kept, const T& v) {
        const double a = std::fabs(kept);
        return !(a >= 0x1p-960 && a <= std::numeric_limits<double>::max()) && !is_zero(v) &&
               is_finite(v);
    };
    const int k = p.scale;
    const bool scaled = out_of_range(e.point.c1, c1) || out_of_range(e.point.c2, c2) ||
                        out_of_range(e.point.c3, c3);
    if (!(dt > 0.0) || !std::isfinite(norm_inv) || !(mu * norm_inv < 0.125))
        return scaled ? finish_out_of_range(e, c1, c2, c3, as_dd(rv / var), nullptr, k, digits) : e;
    // The first-order terms, doubled for what they leave out.  They are
    // taken at the scale of the sums: C2 and C3 as solved, not as returned.
    const double cabs = std::fabs(as_double(c2)) + std::fabs(as_double(c3));
    const double r = 2.0 * (eta + mu * cabs);
    double e2 = (i11 + i12) * r, e3 = (i12 + i22) * r;
    double e1 = a1 * e2 + a2 * e3 + 2.0 * mu * cabs +
                8.0 * b.unit * (std::fabs(as_double(m.mean)) + cabs) + m.mean_err;
    const double erv =
        2.0 * (2.0 * eta * cabs + mu * cabs * cabs) + 8.0 * b.unit * std::fabs(as_double(rv));
    const double vd = as_double(var);
    const double erho = erv / vd + (4.0 * b.unit + 2.0 * m.rel) * e.point.rho;
    if (scaled) {
        const double bounds[4] = {erho, e1, e2, e3};
        return finish_out_of_range(e, c1, c2, c3, as_dd(rv / var), bounds, k, digits);
    }
    // The bounds of C1, C2 and C3 at the scale of the input.
    e1 = times_power_of_two(e1, k);
    e2 = times_power_of_two(e2, k);
    e3 = times_power_of_two(e3, k);
    // For the tests: the bounds and what the doubles lose of the values.
    const auto record = [&] {
        if (fit_records() == nullptr) return;
        const auto lost = [&p](const T& v, double kept) {
            return std::ldexp(dd::to_double(as_dd(v) - dd::DD{std::ldexp(kept, -p.scale), 0.0}),
                              p.scale);
        };
        const dd::DD vr = dd::abs(as_dd(rv / var));
        const SpectrumPoint::Tails rest{dd::to_double(vr - dd::DD{e.point.rho, 0.0}),
                                        lost(c1, e.point.c1),
                                        lost(c2, e.point.c2),
                                        lost(c3, e.point.c3),
                                        {},
                                        0};
        fit_records()->push_back(
            {e.point, e.settled, {erho, e1, e2, e3, {}, 0}, rest, fit_precision()});
    };
    if (digits == Digits::full) {
        const auto back = [k](dd::DD v) {
            return dd::DD{std::ldexp(v.hi, k), std::ldexp(v.lo, k)};
        };
        const dd::DD v1 = back(as_dd(c1)), v2 = back(as_dd(c2)), v3 = back(as_dd(c3));
        const dd::DD vr = dd::abs(as_dd(rv / var));
        e.point = {f, vr.hi, v1.hi, v2.hi, v3.hi, {vr.lo, v1.lo, v2.lo, v3.lo, {}, 0}};
        // Converting T to a double-double costs a unit of 2^-106 at most.
        constexpr double dd_unit = 0x1p-105;
        auto certain = [](dd::DD v, double err) {
            bool ok = false;
            round17(v, err + dd_unit * std::fabs(v.hi), &ok);
            return ok;
        };
        e.settled = certain(v1, e1) && certain(v2, e2) && certain(v3, e3) && certain(vr, erho);
        // Past about 1e-28 of the value more precision no longer moves a
        // 17-digit rounding that is not already certain.
        constexpr double close = 1e-28;
        e.converged = e1 <= close * std::fabs(v1.hi) && e2 <= close * std::fabs(v2.hi) &&
                      e3 <= close * std::fabs(v3.hi) && erho <= close * vr.hi;
        record();
        return e;
    }
    e.settled = settled(e.point.c1, e1) && settled(e.point.c2, e2) && settled(e.point.c3, e3) &&
                settled(e.point.rho, erho);
    const double tiny = 1e-3 * std::numeric_limits<double>::epsilon();
    e.converged = e1 <= tiny * std::fabs(e.point.c1) && e2 <= tiny * std::fabs(e.point.c2) &&
                  e3 <= tiny * std::fabs(e.point.c3) && erho <= tiny * e.point.rho;
    record();
    return e;
}

} // namespace fasogram::detail
