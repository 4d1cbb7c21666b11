// The fits of a run of frequencies in vectors (spectrum_solve_batch.hpp).
// This file is compiled without contraction of products and sums into
// fused multiply-adds (engine/CMakeLists.txt): the lanes must round as
// solve_fit<double> does, for the bounds it states to hold for them.
#include "spectrum_solve_batch.hpp"

#include "spectrum_solve.hpp"
#include "target_region.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace fasogram::detail {
namespace {

// What every lane of one call shares.
struct BatchJob {
    SumColumns s;
    std::size_t count = 0;
    double S = 0, mean = 0, variance = 0, mean_err = 0, rel = 0, dm = 0, unit = 0;
    double two_k = 1; // 2^scale, the values' way back to the scale of the input
    Evaluation* out = nullptr;
    const std::uint32_t* where = nullptr;
    std::uint8_t* done = nullptr;
    double* bounds = nullptr;
};

// The vector code once per target: two lanes everywhere, four with AVX2,
// eight with AVX-512.
namespace plain {
using V = double __attribute__((vector_size(16)));
using M = std::int64_t __attribute__((vector_size(16)));
constexpr std::size_t kW = 2;
inline V gather(const double* table, M k) {
    return V{table[k[0]], table[k[1]]};
}
#include "spectrum_solve_batch.inc"
} // namespace plain

#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_SOLVE_X86 1
FASOGRAM_TARGET_BEGIN("avx2,fma")
namespace avx2 {
using V = double __attribute__((vector_size(32)));
using M = std::int64_t __attribute__((vector_size(32)));
constexpr std::size_t kW = 4;
[[gnu::always_inline]] inline V gather(const double* table, M k) {
    return (V)_mm256_i64gather_pd(table, (__m256i)k, 8);
}
#include "spectrum_solve_batch.inc"
} // namespace avx2
FASOGRAM_TARGET_END
FASOGRAM_TARGET_BEGIN("avx512f,avx512dq,avx512vl,fma")
namespace avx512 {
using V = double __attribute__((vector_size(64)));
using M = std::int64_t __attribute__((vector_size(64)));
constexpr std::size_t kW = 8;
[[gnu::always_inline]] inline V gather(const double* table, M k) {
    // (the masked form: the plain one trips a warning in some compilers'
    // headers)
    return (V)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xff, (__m512i)k, table, 8);
}
#include "spectrum_solve_batch.inc"
} // namespace avx512
FASOGRAM_TARGET_END
#endif

unsigned widest() {
#ifdef FASOGRAM_SOLVE_X86
    if (cpu_has_avx512()) return 8;
    if (cpu_has_avx2_fma()) return 4;
#endif
    return 2;
}

// The width solve_batch takes where its caller leaves it (0: the widest).
unsigned engine_width = 0;

} // namespace

unsigned solve_batch_widest() {
    static const unsigned w = widest();
    return w;
}

unsigned solve_batch_lanes(unsigned most) {
    if (most != 0 && most != 2 && most != 4 && most != 8)
        throw std::invalid_argument("solve_batch_lanes: 0, 2, 4 or 8");
    const unsigned widest_here = solve_batch_widest();
    engine_width = most == 0 || most >= widest_here ? 0 : most;
    return engine_width == 0 ? widest_here : engine_width;
}

void solve_batch(const SumColumns& s, std::size_t count, const Prepared& p, dd::DD offset,
                 double unit, Evaluation* out, const std::uint32_t* where, std::uint8_t* done,
                 double* bounds, unsigned width) {
    // Where 2^scale is not a double, times_power_of_two takes the library's
    // scaling, and where the engine's tests record the sums or the fits only
    // solve_fit writes the records: every fit is left to solve_fit.  (The
    // vectors are then not exercised by those tests; test_solve_batch.cpp
    // holds them against solve_fit.)
    if (!(p.scale >= -1022 && p.scale <= 1023) || sum_records() != nullptr ||
        fit_records() != nullptr) {
        std::fill(done, done + count, std::uint8_t{0});
        return;
    }
    BatchJob g;
    g.s = s;
    g.count = count;
    // As solve_fit<double> takes them from the prepared series.
    g.S = from_dd<double>(p.sum_h);
    g.mean = from_dd<double>(p.mean);
    g.variance = from_dd<double>(p.variance);
    g.mean_err = p.mean_err;
    g.rel = p.moment_rel;
    g.dm = from_dd<double>(offset);
    g.unit = unit;
    g.two_k = std::bit_cast<double>(static_cast<std::uint64_t>(1023 + p.scale) << 52);
    g.out = out;
    g.where = where;
    g.done = done;
    g.bounds = bounds;
    if (width == 0) width = engine_width == 0 ? solve_batch_widest() : engine_width;
#ifdef FASOGRAM_SOLVE_X86
    if (width == 8 && cpu_has_avx512()) return avx512::solve(g);
    if (width == 4 && cpu_has_avx2_fma()) return avx2::solve(g);
#endif
    plain::solve(g);
}

} // namespace fasogram::detail
