// Double-double arithmetic: a number as the unevaluated sum hi + lo of two
// doubles with |lo| <= ulp(hi)/2, about 106 bits.  Used where the spectrum
// needs more than double precision: exactly reduced phases, their sines and
// cosines, and the sums of nearly singular fits.
//
// Every operation here is accurate to a few units of 2^-104 of its result
// (the accurate addition, not the sloppy one), with the usual error-free
// transformations; the products need a fused multiply-add, which the callers
// compile for where the processor has one.
#pragma once

#include <cmath>
#include <cstdlib>

// The operations are small and sit in the innermost loops of the careful
// evaluation, which is compiled for more than one processor: they must be
// inlined into each version.
#if defined(__GNUC__)
#define FASOGRAM_DD_INLINE inline __attribute__((always_inline))
#else
#define FASOGRAM_DD_INLINE inline
#endif

namespace fasogram::dd {

struct DD {
    double hi = 0.0;
    double lo = 0.0;
};

// Unit roundoff of the format, 2^-104 (a bound of the relative error of one
// operation is a small multiple of it).
inline constexpr double kUnit = 0x1p-104;

FASOGRAM_DD_INLINE DD two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

FASOGRAM_DD_INLINE DD quick_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

FASOGRAM_DD_INLINE DD two_prod(double a, double b) {
    const double p = a * b;
    return {p, std::fma(a, b, -p)};
}

FASOGRAM_DD_INLINE DD operator+(DD a, DD b) {
    DD s = two_sum(a.hi, b.hi);
    const DD t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = quick_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return quick_two_sum(s.hi, s.lo);
}

FASOGRAM_DD_INLINE DD operator-(DD a) {
    return {-a.hi, -a.lo};
}
FASOGRAM_DD_INLINE DD operator-(DD a, DD b) {
    return a + (-b);
}

FASOGRAM_DD_INLINE DD operator+(DD a, double b) {
    DD s = two_sum(a.hi, b);
    s.lo += a.lo;
    return quick_two_sum(s.hi, s.lo);
}

FASOGRAM_DD_INLINE DD operator*(DD a, DD b) {
    DD p = two_prod(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return quick_two_sum(p.hi, p.lo);
}

FASOGRAM_DD_INLINE DD operator*(DD a, double b) {
    DD p = two_prod(a.hi, b);
    p.lo += a.lo * b;
    return quick_two_sum(p.hi, p.lo);
}

FASOGRAM_DD_INLINE DD operator/(DD a, DD b) {
    const double q1 = a.hi / b.hi;
    DD r = a - b * q1;
    const double q2 = r.hi / b.hi;
    r = r - b * q2;
    const double q3 = r.hi / b.hi;
    return quick_two_sum(q1, q2) + q3;
}

FASOGRAM_DD_INLINE double to_double(DD a) {
    return a.hi + a.lo;
}
FASOGRAM_DD_INLINE long double to_long_double(DD a) {
    return static_cast<long double>(a.hi) + a.lo;
}
FASOGRAM_DD_INLINE DD abs(DD a) {
    return a.hi < 0 || (a.hi == 0 && a.lo < 0) ? -a : a;
}

// The fractional part of t*f in cycles, exactly, as a double-double in
// [-1/2, 1/2]: t*f = p + e exactly (e from a fused multiply-add), whole
// cycles taken from p and then from e.
FASOGRAM_DD_INLINE DD cycles(double t, double f) {
    const double p = t * f;
    const double e = std::fma(t, f, -p);
    const double pf = p - std::nearbyint(p); // exact: p and its nearest integer are close
    const double ef = e - std::nearbyint(e); // e is a whole number of cycles only for huge t*f
    DD r = two_sum(pf, ef);
    const double whole = std::nearbyint(r.hi);
    if (whole != 0.0) r = two_sum(r.hi - whole, r.lo);
    return r;
}

// Cosine and sine of 2 pi r for r in cycles, |r| <= 1/2 (from cycles()).
// Whole, half and quarter cycles give exactly 0 and +-1.
struct SinCos {
    DD c, s;
};

// 2 pi to about 107 bits.
inline constexpr DD kTwoPi{6.283185307179586, 2.4492935982947064e-16};

// Sine and cosine of 2 pi j/256 for j = 0..32, and the leading Taylor
// coefficients, in double-double.
struct SinCosTable {
    SinCos entry[33];
    DD inv6, inv120, inv24, inv720, half;
};
const SinCosTable& sincos_table();

FASOGRAM_DD_INLINE SinCos sincos_cycles(DD r) {
    const SinCosTable& tb = sincos_table();
    // Quarter cycles first, then steps of 1/256 cycle; both subtractions
    // are exact because r lies close to the subtracted value.
    const double q = std::nearbyint(4.0 * r.hi);
    DD r1 = two_sum(r.hi - q * 0.25, r.lo);
    const double jd = std::nearbyint(256.0 * r1.hi);
    const DD u = two_sum(r1.hi - jd / 256.0, r1.lo);

    DD sx{}, cx{1.0, 0.0};
    if (u.hi != 0.0 || u.lo != 0.0) {
        const DD x = kTwoPi * u; // |x| <= 2 pi/512
        const DD x2 = x * x;
        const double t = x2.hi;
        const double tail_s = t * (-1.0 / 5040 + t * (1.0 / 362880 - t / 39916800));
        const DD ps = -tb.inv6 + x2 * (tb.inv120 + tail_s);
        sx = x + x * (x2 * ps);
        const double tail_c = t * (1.0 / 40320 + t * (-1.0 / 3628800 + t / 479001600));
        const DD pc = -tb.half + x2 * (tb.inv24 + x2 * (-tb.inv720 + tail_c));
        cx = DD{1.0, 0.0} + x2 * pc;
    }
    const int j = static_cast<int>(jd);
    const SinCos& e = tb.entry[static_cast<std::size_t>(std::abs(j))];
    const DD sj = j < 0 ? -e.s : e.s, cj = e.c;
    DD s1, c1;
    if (j == 0) {
        s1 = sx;
        c1 = cx;
    } else {
        s1 = sj * cx + cj * sx;
        c1 = cj * cx - sj * sx;
    }
    switch (static_cast<int>(q)) {
    case 0: return {c1, s1};
    case 1: return {-s1, c1};
    case -1: return {s1, -c1};
    default: // half a cycle either way
        return {-c1, -s1};
    }
}

} // namespace fasogram::dd
