// Times the spectrum: the fast engine the program uses against the
// straightforward evaluation (one reduction, cosine and sine per point and
// frequency, a second pass for P, one thread), side by side, and prints ns
// per (point, frequency) pair.
//
// The series is the bundled example (examples/datos.dat) repeated in later
// years until it has the requested number of points, so it keeps the
// example's Julian-day times, nightly sampling and seasonal gaps.
//
// --near-singular times instead a grid of 2001 frequencies within 1e-5 c/d
// of 2 cycles a day on nightly sampling regular to 1e-6 d, where nearly every
// fit is ill-conditioned.
//
//   bench_spectrum [points] [--quick] [--series FILE] [--near-singular [--threads N]
//                  [--path auto|direct|nufft]] [--full-digits [--threads N]]
//
// --full-digits times every digit of 2001 frequencies on a nightly series
// (one thread unless --threads says otherwise).
#include "fasogram/spectrum.hpp"
#include "straightforward.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <class F> double seconds(F&& fn) {
    const auto t0 = Clock::now();
    fn();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// CPU seconds of the whole process (every thread) so far.
double cpu_seconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

bool load(const char* path, std::size_t points, std::vector<double>& t, std::vector<double>& x) {
    std::ifstream in(path);
    std::vector<double> t0, x0;
    for (double a, b; in >> a >> b;) {
        t0.push_back(a);
        x0.push_back(b);
    }
    if (t0.size() < 2) return false;
    // Whole years after the end of the series, so the seasons stay in place.
    const double span = std::ceil((t0.back() - t0.front() + 1) / 365.25) * 365.25;
    for (std::size_t k = 0; t.size() < points; ++k)
        for (std::size_t i = 0; i < t0.size() && t.size() < points; ++i) {
            t.push_back(t0[i] + std::floor(static_cast<double>(k) * span));
            x.push_back(x0[i]);
        }
    return true;
}

int near_singular_bench(const std::vector<double>& t, const std::vector<double>& x,
                        unsigned threads, fasogram::GridPath path) {
    using namespace fasogram;
    EngineOptions options;
    options.path = path;
    const SpectrumEngine engine(t, x, Window::square, options);
    const FrequencyGrid grid{2.0 - 1e-5, 2.0 + 1e-5, 2000, engine.line_width()};
    const double pairs = static_cast<double>(t.size()) * static_cast<double>(grid.size());
    const std::size_t before = engine.stats().careful;
    volatile double sink = 0;
    const double cpu0 = cpu_seconds();
    const double fast = seconds([&] {
        engine.run(
            grid, [&](const SpectrumPoint& p) { sink = sink + p.rho; }, threads);
    });
    const double cpu1 = cpu_seconds();
    const std::size_t careful = engine.stats().careful - before;
    bench::Straightforward straightforward(t, x, false);
    const double slow = seconds([&] {
        for (std::int64_t j = 0; j < grid.size(); ++j)
            sink = sink + straightforward.fosyl(grid.frequency(j)).rho;
    });
    const double cpu2 = cpu_seconds();
    std::printf("near-singular grid, %zu points, %lld frequencies, %u engine threads (0: all): "
                "engine %.3f s %.2f ns/pair (CPU %.3f s; %zu careful) | straightforward %.3f s "
                "%.2f ns/pair (CPU %.3f s) | ratio %.2f, of CPU %.2f\n",
                t.size(), static_cast<long long>(grid.size()), threads, fast, fast / pairs * 1e9,
                cpu1 - cpu0, careful, slow, slow / pairs * 1e9, cpu2 - cpu1, slow / fast,
                (cpu2 - cpu1) / (cpu1 - cpu0));
    return 0;
}

// Every digit of 2001 frequencies 0.1 to 0.4 c/d (every one evaluated the
// careful way, as runs of grid neighbours), CPU seconds on `threads` threads.
int full_digits_bench(const std::vector<double>& t, const std::vector<double>& x,
                      unsigned threads) {
    using namespace fasogram;
    const SpectrumEngine engine(t, x, Window::hanning);
    const FrequencyGrid grid{0.1, 0.4, 2000, engine.line_width()};
    double sink = 0;
    const double cpu0 = cpu_seconds();
    const double wall = seconds([&] {
        engine.run(
            grid, [&](const SpectrumPoint& p) { sink += p.rho; }, threads, Digits::full);
    });
    const double cpu = cpu_seconds() - cpu0;
    const double pairs = static_cast<double>(t.size()) * static_cast<double>(grid.size());
    std::printf("every digit, %zu points, %lld frequencies, %u threads (0: all): %.3f s wall, "
                "CPU %.3f s, %.2f ns/pair of CPU (%zu careful; sum of rho %.17g)\n",
                t.size(), static_cast<long long>(grid.size()), threads, wall, cpu,
                cpu / pairs * 1e9, engine.stats().careful, sink);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t points = 20000;
    bool quick = false, near_singular = false, full_digits = false;
    unsigned threads = 0;
    fasogram::GridPath grid_path = fasogram::GridPath::automatic;
    const char* path = FASOGRAM_EXAMPLE;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--near-singular") == 0)
            near_singular = true;
        else if (std::strcmp(argv[i], "--full-digits") == 0)
            full_digits = true;
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            threads = static_cast<unsigned>(std::stoul(argv[++i]));
        else if (std::strcmp(argv[i], "--path") == 0 && i + 1 < argc) {
            ++i;
            grid_path = std::strcmp(argv[i], "direct") == 0  ? fasogram::GridPath::direct
                        : std::strcmp(argv[i], "nufft") == 0 ? fasogram::GridPath::nufft
                                                             : fasogram::GridPath::automatic;
        } else if (std::strcmp(argv[i], "--series") == 0 && i + 1 < argc)
            path = argv[++i];
        else
            points = std::stoul(argv[i]);
    }
    std::vector<double> t, x;
    // Nightly points, each night at 0.3 d plus `jitter` times a uniform
    // number less `centre`.
    auto nightly = [&](double jitter, double centre) {
        std::uint64_t state = 17;
        auto uniform = [&state] {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<double>(state >> 11) * 0x1.0p-53;
        };
        for (std::size_t d = 0; d < points; ++d) {
            t.push_back(2450000.3 + static_cast<double>(d) + jitter * (uniform() - centre));
            x.push_back(10 + std::sin(0.37 * static_cast<double>(d)) + 0.2 * uniform());
        }
    };
    if (full_digits) {
        nightly(0.3, 0.0);
        return full_digits_bench(t, x, threads == 0 ? 1 : threads);
    }
    if (near_singular) {
        nightly(2e-6, 0.5);
        return near_singular_bench(t, x, threads, grid_path);
    }
    if (!load(path, points, t, x)) {
        std::fprintf(stderr, "bench_spectrum: cannot read a series from %s\n", path);
        return 2;
    }
    using namespace fasogram;
    const SpectrumEngine engine(t, x, Window::hanning);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("series: %zu points from %s, t from %.2f to %.2f; %u cores\n", t.size(), path,
                t.front(), t.back(), cores);

    double base_ns = 0;
    for (int n_points : {1000, 10000, 100000}) {
        if (quick && n_points > 1000) break;
        FrequencyGrid grid{0.0, 0.5, n_points, 2.0 / (t.back() - t.front())};
        std::vector<double> f(static_cast<std::size_t>(grid.size()));
        for (std::size_t j = 0; j < f.size(); ++j) f[j] = grid.frequency(static_cast<long>(j));
        const double pairs = static_cast<double>(t.size()) * static_cast<double>(f.size());

        volatile double fast_sink = 0;
        const std::size_t careful_before = engine.stats().careful;
        const double fast = seconds([&] {
            engine.run(grid, [&](const SpectrumPoint& p) { fast_sink = fast_sink + p.rho; });
        });
        std::printf("%7zu frequencies: fast %7.3f s %6.3f ns/pair (%zu careful)", f.size(), fast,
                    fast / pairs * 1e9, engine.stats().careful - careful_before);
        if (n_points <= 10000) {
            bench::Straightforward straightforward(t, x, true);
            volatile double sink = 0;
            const double slow = seconds([&] {
                for (double fr : f) sink = sink + straightforward.fosyl(fr).rho;
            });
            base_ns = slow / pairs * 1e9;
            std::printf(" | straightforward %7.3f s %6.2f ns/pair | ratio %5.1f", slow, base_ns,
                        slow / fast);
        } else if (base_ns > 0) {
            std::printf(" | straightforward at %.2f ns/pair would take %.0f s", base_ns,
                        base_ns * pairs * 1e-9);
        }
        std::printf("\n");
    }
    return 0;
}
