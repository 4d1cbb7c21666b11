// Double-double arithmetic on several lanes at once, the same operations as
// dd.hpp done side by side: four lanes with AVX2 and fused multiply-add
// (namespace lanes), eight with AVX-512 (namespace lanes8).  Only for
// functions compiled for those targets, on processors that have them.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_HAVE_DD_LANES 1

#include "dd.hpp"
#include "target_region.hpp"

#include <immintrin.h>

namespace fasogram::dd {

// The table of dd.hpp by signed step, j = -32 .. 32 at kMiddle + j, the
// sign of the sine folded in, each part in an array of its own so that the
// lanes fetch their entries with one gather per part.
struct LaneTable {
    static constexpr int kMiddle = 32;
    double c_hi[2 * kMiddle + 1], c_lo[2 * kMiddle + 1];
    double s_hi[2 * kMiddle + 1], s_lo[2 * kMiddle + 1];
};
inline const LaneTable& lane_table() {
    static const LaneTable table = [] {
        const SinCosTable& tb = sincos_table();
        LaneTable t{};
        for (int j = -LaneTable::kMiddle; j <= LaneTable::kMiddle; ++j) {
            const SinCos& e = tb.entry[j < 0 ? -j : j];
            const int k = LaneTable::kMiddle + j;
            t.c_hi[k] = e.c.hi;
            t.c_lo[k] = e.c.lo;
            t.s_hi[k] = j < 0 ? -e.s.hi : e.s.hi;
            t.s_lo[k] = j < 0 ? -e.s.lo : e.s.lo;
        }
        return t;
    }();
    return table;
}

} // namespace fasogram::dd

FASOGRAM_TARGET_BEGIN("avx2,fma")
namespace fasogram::dd::lanes {

using V = double __attribute__((vector_size(32)));
using M = long long __attribute__((vector_size(32)));
inline constexpr int kWidth = 4;

FASOGRAM_DD_INLINE V splat(double v) {
    return V{v, v, v, v};
}
FASOGRAM_DD_INLINE V fma(V a, V b, V c) {
    return (V)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
FASOGRAM_DD_INLINE V round(V a) {
    return (V)_mm256_round_pd((__m256d)a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
FASOGRAM_DD_INLINE V select(M mask, V a, V b) {
    return (V)_mm256_blendv_pd((__m256d)b, (__m256d)a, (__m256d)mask);
}
FASOGRAM_DD_INLINE V load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
FASOGRAM_DD_INLINE void load_dd(const DD* p, V& hi, V& lo) {
    const V a = load(&p[0].hi), b = load(&p[2].hi);
    hi = __builtin_shufflevector(a, b, 0, 2, 4, 6);
    lo = __builtin_shufflevector(a, b, 1, 3, 5, 7);
}
FASOGRAM_DD_INLINE V lookup(const double* table, V at) {
    // (the masked forms, from zero: the plain ones start from an undefined
    // vector, which some compilers' headers warn about)
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return (V)_mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, _mm256_cvtpd_epi32((__m256d)at),
                                       all, 8);
}

#include "dd_lanes_ops.inc"

using DD4 = DDV;
using SinCos4 = SinCosV;

} // namespace fasogram::dd::lanes
FASOGRAM_TARGET_END
FASOGRAM_TARGET_BEGIN("avx512f,avx512dq,avx512vl,fma")
namespace fasogram::dd::lanes8 {

using V = double __attribute__((vector_size(64)));
using M = long long __attribute__((vector_size(64)));
inline constexpr int kWidth = 8;

FASOGRAM_DD_INLINE V splat(double v) {
    return V{v, v, v, v, v, v, v, v};
}
FASOGRAM_DD_INLINE V fma(V a, V b, V c) {
    return (V)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
}
FASOGRAM_DD_INLINE V round(V a) {
    // (the masked form: the plain one trips a warning in some compilers'
    // headers)
    return (V)_mm512_mask_roundscale_pd((__m512d)a, 0xff, (__m512d)a,
                                        _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
FASOGRAM_DD_INLINE V select(M mask, V a, V b) {
    return (V)_mm512_mask_blend_pd(_mm512_movepi64_mask((__m512i)mask), (__m512d)b, (__m512d)a);
}
FASOGRAM_DD_INLINE V load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
FASOGRAM_DD_INLINE void load_dd(const DD* p, V& hi, V& lo) {
    const V a = load(&p[0].hi), b = load(&p[4].hi);
    hi = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
    lo = __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
}
FASOGRAM_DD_INLINE V lookup(const double* table, V at) {
    // (the masked forms, from zero: see lanes::lookup)
    const __m256i at32 = _mm512_mask_cvtpd_epi32(_mm256_setzero_si256(), 0xff, (__m512d)at);
    return (V)_mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xff, at32, table, 8);
}

#include "dd_lanes_ops.inc"

using DD8 = DDV;
using SinCos8 = SinCosV;

} // namespace fasogram::dd::lanes8
FASOGRAM_TARGET_END

#endif
