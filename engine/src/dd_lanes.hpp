// Double-double arithmetic on four lanes at once (AVX2 with fused
// multiply-add), the same operations as dd.hpp done side by side for four
// points.  Only for functions compiled for that target.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_HAVE_DD_LANES 1

#include "dd.hpp"

#include <immintrin.h>

namespace fasogram::dd::lanes {

using V = double __attribute__((vector_size(32)));
using M = long long __attribute__((vector_size(32)));

#define FASOGRAM_LANES inline __attribute__((always_inline, target("avx2,fma")))

struct DD4 {
    V hi, lo;
};

FASOGRAM_LANES V splat(double v) {
    return V{v, v, v, v};
}
FASOGRAM_LANES V fma(V a, V b, V c) {
    return (V)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
FASOGRAM_LANES V round(V a) {
    return (V)_mm256_round_pd((__m256d)a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
FASOGRAM_LANES V select(M mask, V a, V b) {
    return (V)_mm256_blendv_pd((__m256d)b, (__m256d)a, (__m256d)mask);
}

FASOGRAM_LANES DD4 two_sum(V a, V b) {
    const V s = a + b;
    const V bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}
FASOGRAM_LANES DD4 quick_two_sum(V a, V b) {
    const V s = a + b;
    return {s, b - (s - a)};
}
FASOGRAM_LANES DD4 two_prod(V a, V b) {
    const V p = a * b;
    return {p, fma(a, b, -p)};
}
FASOGRAM_LANES DD4 add(DD4 a, DD4 b) {
    DD4 s = two_sum(a.hi, b.hi);
    const DD4 t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = quick_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return quick_two_sum(s.hi, s.lo);
}
FASOGRAM_LANES DD4 neg(DD4 a) {
    return {-a.hi, -a.lo};
}
FASOGRAM_LANES DD4 sub(DD4 a, DD4 b) {
    return add(a, neg(b));
}
FASOGRAM_LANES DD4 add(DD4 a, V b) {
    DD4 s = two_sum(a.hi, b);
    s.lo += a.lo;
    return quick_two_sum(s.hi, s.lo);
}
FASOGRAM_LANES DD4 mul(DD4 a, DD4 b) {
    DD4 p = two_prod(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return quick_two_sum(p.hi, p.lo);
}
FASOGRAM_LANES DD4 mul(DD4 a, V b) {
    DD4 p = two_prod(a.hi, b);
    p.lo += a.lo * b;
    return quick_two_sum(p.hi, p.lo);
}
FASOGRAM_LANES DD4 splat(DD v) {
    return {splat(v.hi), splat(v.lo)};
}

// The fraction of t*f in cycles, as dd::cycles does it.
FASOGRAM_LANES DD4 cycles(V t, V f) {
    const V p = t * f;
    const V e = fma(t, f, -p);
    const V pf = p - round(p);
    const V ef = e - round(e);
    DD4 r = two_sum(pf, ef);
    const V whole = round(r.hi);
    return two_sum(r.hi - whole, r.lo);
}

struct SinCos4 {
    DD4 c, s;
};

// Cosine and sine of 2 pi r, as dd::sincos_cycles does it.
FASOGRAM_LANES SinCos4 sincos_cycles(DD4 r) {
    const SinCosTable& tb = sincos_table();
    const V q = round(r.hi * 4.0);
    const DD4 r1 = two_sum(r.hi - q * 0.25, r.lo);
    const V jd = round(r1.hi * 256.0);
    const DD4 u = two_sum(r1.hi - jd * (1.0 / 256.0), r1.lo);

    const DD4 x = mul(splat(kTwoPi), u);
    const DD4 x2 = mul(x, x);
    const V t = x2.hi;
    const V tail_s = t * (-1.0 / 5040 + t * (1.0 / 362880 - t / 39916800));
    const DD4 ps = add(neg(splat(tb.inv6)), mul(x2, add(splat(tb.inv120), tail_s)));
    const DD4 sx = add(x, mul(x, mul(x2, ps)));
    const V tail_c = t * (1.0 / 40320 + t * (-1.0 / 3628800 + t / 479001600));
    const DD4 pc = add(neg(splat(tb.half)),
                       mul(x2, add(splat(tb.inv24), mul(x2, add(neg(splat(tb.inv720)), tail_c)))));
    const DD4 cx = add(splat(DD{1.0, 0.0}), mul(x2, pc));

    DD4 sj = {}, cj = {}; // every lane set below
    for (int l = 0; l < 4; ++l) {
        const int j = static_cast<int>(jd[l]);
        const SinCos& e = tb.entry[j < 0 ? -j : j];
        cj.hi[l] = e.c.hi;
        cj.lo[l] = e.c.lo;
        sj.hi[l] = j < 0 ? -e.s.hi : e.s.hi;
        sj.lo[l] = j < 0 ? -e.s.lo : e.s.lo;
    }
    const DD4 s1 = add(mul(sj, cx), mul(cj, sx));
    const DD4 c1 = sub(mul(cj, cx), mul(sj, sx));
    const M q0 = q == 0.0, q1 = q == 1.0, qm = q == -1.0;
    SinCos4 out;
    // q = 0: (c1, s1); 1: (-s1, c1); -1: (s1, -c1); +-2: (-c1, -s1).
    out.c.hi = select(q0, c1.hi, select(q1, -s1.hi, select(qm, s1.hi, -c1.hi)));
    out.c.lo = select(q0, c1.lo, select(q1, -s1.lo, select(qm, s1.lo, -c1.lo)));
    out.s.hi = select(q0, s1.hi, select(q1, c1.hi, select(qm, -c1.hi, -s1.hi)));
    out.s.lo = select(q0, s1.lo, select(q1, c1.lo, select(qm, -c1.lo, -s1.lo)));
    return out;
}

#undef FASOGRAM_LANES

} // namespace fasogram::dd::lanes

#endif
