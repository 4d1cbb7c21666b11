// The machine's multiply-add floor for the direct sums, and how close the
// engine's direct sums come to it, on one thread.
//
// The floor: independent chains of fused multiply-adds on the widest vectors
// the processor has (AVX-512, else AVX2), enough of them to hide the
// latency, for about a second; the direct sums do 14 multiply-add-class
// operations per point and frequency, so the floor is 14 times the time of
// one multiply-add per double lane.  The sums: the engine's spectrum on the
// forced direct path (one thread, every unsettled frequency evaluated again
// the careful way, as the program does), timed in CPU time and wall time.
//
//   fma_floor [POINTS FREQUENCIES]...   (default: 1000 10000  20000 2000)
//
// The series: POINTS uniform times over 100 days from JD 2455000, a
// sinusoid and noise; frequencies 0.01 to 5 cycles a day, square window.
#include "bench_support.hpp"
#include "fasogram/spectrum.hpp"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr double kOpsPerPair = 14.0;

using bench::wall_seconds;
const auto cpu_seconds = bench::thread_cpu_seconds;

// Multiply-adds per chain and pass; 12 chains of vectors.
constexpr std::int64_t kSteps = 1 << 20;

#if defined(__GNUC__) && defined(__x86_64__)
// Twelve independent chains, written out so that each stays in a register
// whatever the optimisation level.  V is the vector type, FMA its FMA.
#define FASOGRAM_CHAINS(V, FMA)                                                                    \
    V a0 = (V{} + 1.000), a1 = (V{} + 1.001), a2 = (V{} + 1.002), a3 = (V{} + 1.003);              \
    V a4 = (V{} + 1.004), a5 = (V{} + 1.005), a6 = (V{} + 1.006), a7 = (V{} + 1.007);              \
    V a8 = (V{} + 1.008), a9 = (V{} + 1.009), a10 = (V{} + 1.010), a11 = (V{} + 1.011);            \
    const V m = (V{} + 0.999999999), c = (V{} + 1e-9);                                             \
    for (std::int64_t k = 0; k < passes * kSteps; ++k) {                                           \
        a0 = FMA(a0, m, c);                                                                        \
        a1 = FMA(a1, m, c);                                                                        \
        a2 = FMA(a2, m, c);                                                                        \
        a3 = FMA(a3, m, c);                                                                        \
        a4 = FMA(a4, m, c);                                                                        \
        a5 = FMA(a5, m, c);                                                                        \
        a6 = FMA(a6, m, c);                                                                        \
        a7 = FMA(a7, m, c);                                                                        \
        a8 = FMA(a8, m, c);                                                                        \
        a9 = FMA(a9, m, c);                                                                        \
        a10 = FMA(a10, m, c);                                                                      \
        a11 = FMA(a11, m, c);                                                                      \
    }                                                                                              \
    const V all[12] = {a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11};                          \
    double sum = 0;                                                                                \
    for (const V& v : all)                                                                         \
        for (std::size_t l = 0; l < sizeof(V) / sizeof(double); ++l) sum += v[l];                  \
    return sum;

using V8 = double __attribute__((vector_size(64)));
using V4 = double __attribute__((vector_size(32)));

__attribute__((target("avx512f"))) inline V8 fma8(V8 a, V8 b, V8 c) {
    return (V8)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
}
__attribute__((target("avx2,fma"))) inline V4 fma4(V4 a, V4 b, V4 c) {
    return (V4)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
}
__attribute__((target("avx512f"))) double chains_avx512(std::int64_t passes) {
    FASOGRAM_CHAINS(V8, fma8)
}
__attribute__((target("avx2,fma"))) double chains_avx2(std::int64_t passes) {
    FASOGRAM_CHAINS(V4, fma4)
}
#undef FASOGRAM_CHAINS
#endif

struct Floor {
    const char* unit = "none";
    int lanes = 0;
    double ns_per_lane_fma = 0.0, wall_ns_per_lane_fma = 0.0;
};

Floor measure_floor() {
    Floor fl;
#if defined(__GNUC__) && defined(__x86_64__)
    __builtin_cpu_init();
    const bool avx512 = __builtin_cpu_supports("avx512f");
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (!avx512 && !avx2) return fl;
    fl.unit = avx512 ? "AVX-512" : "AVX2";
    fl.lanes = avx512 ? 8 : 4;
    auto run = [&](std::int64_t passes) {
        return avx512 ? chains_avx512(passes) : chains_avx2(passes);
    };
    volatile double sink = run(2); // warm up
    // The best of five runs of about a quarter of a second each.
    double best_cpu = 1e30, best_wall = 1e30;
    const std::int64_t passes = 64;
    for (int r = 0; r < 5; ++r) {
        const double c0 = cpu_seconds(), w0 = wall_seconds();
        sink = sink + run(passes);
        const double c1 = cpu_seconds(), w1 = wall_seconds();
        const double fmas = static_cast<double>(passes * kSteps * 12 * fl.lanes);
        best_cpu = std::min(best_cpu, (c1 - c0) / fmas * 1e9);
        best_wall = std::min(best_wall, (w1 - w0) / fmas * 1e9);
    }
    fl.ns_per_lane_fma = best_cpu;
    fl.wall_ns_per_lane_fma = best_wall;
#endif
    return fl;
}

struct Sums {
    double cpu = 0.0, wall = 0.0;
    std::size_t careful = 0;
};

Sums measure_sums(std::size_t points, std::int64_t frequencies) {
    using namespace fasogram;
    std::uint64_t state = 5;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    std::vector<double> t(points), x(points);
    for (std::size_t i = 0; i < points; ++i) {
        t[i] = 2455000.0 + 100.0 * uniform();
        const double noise = (uniform() + uniform() + uniform() - 1.5) * 0.2;
        x[i] = 15.0 + 0.2 * std::sin(2 * M_PI * t[i] / 3.7) + noise;
    }
    SpectrumEngine engine(t, x, Window::square);
    EngineOptions options = engine.options();
    options.path = GridPath::direct;
    engine.set_options(options);
    const FrequencyGrid grid{0.01, 5.0, frequencies - 1, engine.line_width()};
    volatile double sink = 0;
    auto once = [&] {
        engine.run(
            grid, [&](const SpectrumPoint& p) { sink = sink + p.rho; }, 1);
    };
    once(); // warm up
    Sums best{1e30, 1e30, 0};
    for (int r = 0; r < 3; ++r) {
        const std::size_t before = engine.stats().careful;
        const double c0 = cpu_seconds(), w0 = wall_seconds();
        once();
        const double c1 = cpu_seconds(), w1 = wall_seconds();
        best.cpu = std::min(best.cpu, c1 - c0);
        best.wall = std::min(best.wall, w1 - w0);
        best.careful = engine.stats().careful - before;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<std::size_t, std::int64_t>> cases;
    for (int i = 1; i + 1 < argc; i += 2) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(argv[i], &end, 10);
        const long long m = std::strtoll(argv[i + 1], nullptr, 10);
        if (n < 2 || m < 2 || *end != '\0') {
            std::fprintf(stderr, "fma_floor: POINTS and FREQUENCIES must be whole numbers >= 2\n");
            return 2;
        }
        cases.emplace_back(n, m);
    }
    if (argc % 2 == 0) {
        std::fprintf(stderr, "usage: fma_floor [POINTS FREQUENCIES]...\n");
        return 2;
    }
    if (cases.empty()) cases = {{1000, 10000}, {20000, 2000}};
    const Floor fl = measure_floor();
    if (fl.lanes == 0) {
        std::printf("no vector multiply-add on this processor: no floor to compare with\n");
        return 0;
    }
    const double floor_ns = kOpsPerPair * fl.ns_per_lane_fma;
    std::printf("multiply-add: %s, %.4f ns per lane (CPU), %.4f (wall), %.1f Gflop/s; "
                "floor of the direct sums %.0f x that = %.3f ns per pair\n",
                fl.unit, fl.ns_per_lane_fma, fl.wall_ns_per_lane_fma, 2.0 / fl.ns_per_lane_fma,
                kOpsPerPair, floor_ns);
    for (const auto& [n, m] : cases) {
        const Sums s = measure_sums(n, m);
        const double pairs = static_cast<double>(n) * static_cast<double>(m);
        const double ns = s.cpu / pairs * 1e9;
        std::printf("direct sums, %zu points x %lld frequencies, one thread: %.2f ms CPU "
                    "(%.2f ms wall), %.3f ns per pair, %.2f x the floor; %zu careful\n",
                    n, static_cast<long long>(m), s.cpu * 1e3, s.wall * 1e3, ns, ns / floor_ns,
                    s.careful);
    }
    return 0;
}
