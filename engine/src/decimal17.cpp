// The 17-digit decimal rounding of double-double values and its text.
#include "decimal17.hpp"

#include "fasogram/spectrum.hpp"

#include <mpfr.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace fasogram {

namespace {

constexpr std::uint64_t kLow = 10'000'000'000'000'000ULL;   // 10^16
constexpr std::uint64_t kHigh = 100'000'000'000'000'000ULL; // 10^17

// 10^k as a double-double, |k| <= 340: steps of the exact 10^22, then the
// rest, a quotient for negative k (each step good to a few units of 2^-104).
dd::DD pow10(int k) {
    static constexpr double exact[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    int n = k < 0 ? -k : k;
    dd::DD p{1.0, 0.0};
    for (; n >= 22; n -= 22) p = p * exact[22];
    p = p * exact[n];
    return k < 0 ? dd::DD{1.0, 0.0} / p : p;
}

// hi + lo and err exactly, in binary wide enough for any two doubles.
constexpr mpfr_prec_t kWide = 2 * 1100 + 64;

// Digits and decade of a positive value as MPFR rounds it to n digits
// (correctly, ties to even).
void digits_of(mpfr_srcptr v, int n, std::uint64_t& digits, int& exponent) {
    char buf[64];
    mpfr_exp_t e = 0;
    mpfr_get_str(buf, &e, 10, static_cast<std::size_t>(n), v, MPFR_RNDN);
    digits = std::strtoull(buf, nullptr, 10);
    exponent = static_cast<int>(e) - 1;
}

// (hi + lo) * 2^exponent rounded to n digits exactly, in wide binary, and
// whether every value within err * 2^exponent of it rounds the same way:
// for values outside the range where the powers of ten are good
// double-doubles (subnormals included) and for scaled ones.  a is positive.
Decimal17 round_wide(Decimal17 out, dd::DD a, double err, int exponent, int n, bool* settled) {
    mpfr_t v, w, d;
    mpfr_inits2(kWide, v, w, d, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(v, a.hi, MPFR_RNDN);
    mpfr_add_d(v, v, a.lo, MPFR_RNDN); // exact at this width
    mpfr_mul_2si(v, v, exponent, MPFR_RNDN);
    digits_of(v, n, out.digits, out.exponent);
    if (settled != nullptr) {
        // Rounding is monotonic: the two ends of the interval decide.
        Decimal17 lo, hi;
        mpfr_set_d(d, err, MPFR_RNDN);
        mpfr_mul_2si(d, d, exponent, MPFR_RNDN);
        mpfr_sub(w, v, d, MPFR_RNDN);
        if (mpfr_sgn(w) > 0) {
            digits_of(w, n, lo.digits, lo.exponent);
            mpfr_add(w, v, d, MPFR_RNDN);
            digits_of(w, n, hi.digits, hi.exponent);
            *settled = lo.digits == hi.digits && lo.exponent == hi.exponent &&
                       lo.digits == out.digits && lo.exponent == out.exponent;
        } else {
            *settled = false;
        }
    }
    mpfr_clears(v, w, d, static_cast<mpfr_ptr>(nullptr));
    return out;
}

// The sign taken out of a value: its magnitude.
dd::DD magnitude(dd::DD value, bool& negative) {
    negative = value.hi < 0 || (value.hi == 0 && value.lo < 0);
    return negative ? -value : value;
}

} // namespace

Decimal17 round17(dd::DD value, double err, bool* settled, int exponent) {
    Decimal17 out;
    const dd::DD a = magnitude(value, out.negative);
    if (a.hi == 0.0) {
        if (settled != nullptr) *settled = err == 0.0;
        return out;
    }
    if (exponent != 0) return round_wide(out, a, err, exponent, 17, settled);
    if (!(a.hi > 1e-280 && a.hi < 1e280)) return round_wide(out, a, err, 0, 17, settled);
    // The decade from log10, corrected when the whole part of the scaled
    // value (high and low parts together) falls outside 10^16 .. 10^17.
    int e = static_cast<int>(std::floor(std::log10(a.hi)));
    double frac = 0.0;
    std::uint64_t n = 0;
    bool found = false;
    for (int attempt = 0; attempt < 3 && !found; ++attempt) {
        const dd::DD scaled = a * pow10(16 - e);
        // Above 2^53 the high part is a whole number; the low one is small.
        const double fl = std::floor(scaled.lo);
        frac = scaled.lo - fl;
        // The whole part in integers (the high part is below 2^63 here).
        const std::int64_t whole =
            static_cast<std::int64_t>(scaled.hi) + static_cast<std::int64_t>(fl);
        if (whole >= static_cast<std::int64_t>(kHigh)) {
            ++e;
        } else if (whole < static_cast<std::int64_t>(kLow)) {
            --e;
        } else {
            n = static_cast<std::uint64_t>(whole);
            found = true;
        }
    }
    // Within the scaling's error of a power of ten the decade can flip back
    // and forth between the attempts: exactly, in wide binary.
    if (!found) return round_wide(out, a, err, 0, 17, settled);
    if (frac > 0.5 || (frac == 0.5 && (n & 1) != 0)) ++n;
    if (n >= kHigh) {
        n /= 10;
        ++e;
    }
    out.digits = n;
    out.exponent = e;
    if (settled != nullptr) {
        // The error in units of the last digit, the scaling's own error
        // (about 1e-29 relative) well inside the allowance.
        const double slack = err * pow10(16 - e).hi + 1e-9;
        *settled = std::fabs(frac - 0.5) > slack;
    }
    return out;
}

std::string format17(const Decimal17& d) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%017llu", static_cast<unsigned long long>(d.digits));
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%c.%se%c%02d", d.negative ? "-" : "", digits[0], digits + 1,
                  d.exponent < 0 ? '-' : '+', d.exponent < 0 ? -d.exponent : d.exponent);
    return buf;
}

bool digits_settled(dd::DD value, double err, int exponent, int significant) {
    if (!std::isfinite(value.hi) || !std::isfinite(value.lo) || !(err >= 0.0) ||
        !std::isfinite(err))
        return false;
    Decimal17 out;
    const dd::DD a = magnitude(value, out.negative);
    if (a.hi == 0.0) return err == 0.0;
    bool ok = false;
    round_wide(out, a, err, exponent, significant, &ok);
    return ok;
}

std::string format_full_digits(double value, double tail) {
    return format_full_digits(ScaledValue{value, tail, 0});
}

std::string format_full_digits(const ScaledValue& value) {
    if (std::isnan(value.hi) || std::isnan(value.lo)) return "NaN";
    if (std::isinf(value.hi)) return value.hi < 0 ? "-Infinity" : "Infinity";
    if (!std::isfinite(value.lo)) return "NaN";
    return format17(round17({value.hi, value.lo}, 0.0, nullptr, value.exponent));
}

DecimalDigits decimal_digits(const ScaledValue& value, int significant) {
    if (significant < 1 || significant > 17)
        throw std::invalid_argument("decimal_digits: the digits must number 1 to 17");
    if (!std::isfinite(value.hi) || !std::isfinite(value.lo))
        throw std::invalid_argument("decimal_digits: the value is not finite");
    Decimal17 d;
    const dd::DD a = magnitude({value.hi, value.lo}, d.negative);
    DecimalDigits out;
    out.negative = d.negative;
    if (a.hi == 0.0) {
        out.negative = false;
        out.digits.assign(static_cast<std::size_t>(significant), '0');
        return out;
    }
    d = round_wide(d, a, 0.0, value.exponent, significant, nullptr);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*llu", significant,
                  static_cast<unsigned long long>(d.digits));
    out.digits = buf;
    out.exponent = d.exponent;
    return out;
}

ScaledValue coefficient(const SpectrumPoint& point, int k) {
    if (k < 1 || k > 3) throw std::invalid_argument("coefficient: k must be 1, 2 or 3");
    const double value = k == 1 ? point.c1 : k == 2 ? point.c2 : point.c3;
    const double tail = k == 1 ? point.tail.c1 : k == 2 ? point.tail.c2 : point.tail.c3;
    if (point.tail.exponent == 0) return {value, tail, 0};
    const double head = k == 1   ? point.tail.head.c1
                        : k == 2 ? point.tail.head.c2
                                 : point.tail.head.c3;
    return {head, tail, point.tail.exponent};
}

} // namespace fasogram
