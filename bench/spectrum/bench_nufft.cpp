// Times the spectrum of a uniform grid by the two evaluation paths of the
// engine: the direct sums (the exact engine alone) and the blocks of
// non-uniform FFTs, with every unsettled frequency evaluated again the
// careful way in both.  Driven by nufft_side_by_side.py, which adds astropy.
//
//   bench_nufft series N SEED FILE
//       writes N Julian-day-like points: nights at about the same hour with
//       2 to 7 measurements, a seasonal gap and clouds, two signals and noise
//   bench_nufft run FILE F_INI F_FIN N_STEPS auto|direct|nufft THREADS [TABLE]
//       prints "seconds careful points blocks"; TABLE gets the table lines
//   bench_nufft time FILE F_INI F_FIN N_STEPS auto|direct|nufft THREADS REPEATS
//       after one call, REPEATS calls in the same process; prints the medians
//       of "cpu_ms wall_ms" per call (CPU time of every thread), then the
//       careful evaluations and blocks of one call
//   bench_nufft compare FILE F_INI F_FIN N_STEPS
//       runs both paths and prints how many table lines differ
#include "fasogram/spectrum.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace fasogram;

int write_series(std::size_t n, std::uint64_t seed, const char* path) {
    std::uint64_t state = seed;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    const double two_pi = 8 * std::atan(1.0);
    std::FILE* out = std::fopen(path, "w");
    if (!out) return 2;
    std::size_t written = 0;
    for (int d = 0; written < n; ++d) {
        if (std::fmod(d, 365.25) / 365.25 > 0.7 || uniform() < 0.3) continue;
        const int k = 2 + static_cast<int>(uniform() * 6);
        for (int q = 0; q < k && written < n; ++q, ++written) {
            const double t = 2450000.5 + d + 0.55 + 0.35 * uniform();
            const double noise = (uniform() + uniform() + uniform() - 1.5) * 0.2;
            const double x = 12.5 + 0.3 * std::cos(two_pi * (t - 2450000) / 2.7 + 0.8) +
                             0.15 * std::sin(two_pi * (t - 2450000) / 37.0) + noise;
            std::fprintf(out, "%.5f %.4f\n", t, x);
        }
    }
    std::fclose(out);
    return 0;
}

bool read_series(const char* path, std::vector<double>& t, std::vector<double>& x) {
    std::ifstream in(path);
    for (double a, b; in >> a >> b;) {
        t.push_back(a);
        x.push_back(b);
    }
    return t.size() >= 2;
}

struct Result {
    double seconds = 0;
    std::size_t careful = 0, points = 0, blocks = 0;
};

// Every field with eight significant digits, as the table prints them.
std::string table_line(const SpectrumPoint& p) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%15.7e%15.7e%15.7e%15.7e%15.7e", p.f, p.rho, p.c1, p.c2, p.c3);
    return buf;
}

Result run(SpectrumEngine& engine, const FrequencyGrid& grid, GridPath path, unsigned threads,
           std::vector<std::string>* lines) {
    EngineOptions options = engine.options();
    options.path = path;
    engine.set_options(options);
    Result r;
    const EngineStats before = engine.stats();
    // The points are kept as they come and formatted after the clock stops.
    std::vector<SpectrumPoint> kept;
    if (lines) kept.reserve(static_cast<std::size_t>(grid.size()));
    const auto t0 = std::chrono::steady_clock::now();
    engine.run(
        grid,
        [&](const SpectrumPoint& p) {
            ++r.points;
            if (lines) kept.push_back(p);
        },
        threads);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (lines)
        for (const SpectrumPoint& p : kept) lines->push_back(table_line(p));
    r.careful = engine.stats().careful - before.careful;
    r.blocks = engine.stats().nufft_blocks - before.nufft_blocks;
    return r;
}

double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "series") == 0)
        return write_series(std::stoul(argv[2]), std::stoull(argv[3]), argv[4]);
    const bool is_run = argc >= 8 && std::strcmp(argv[1], "run") == 0;
    const bool is_compare = argc == 6 && std::strcmp(argv[1], "compare") == 0;
    const bool is_time = argc == 9 && std::strcmp(argv[1], "time") == 0;
    if (!is_run && !is_compare && !is_time) {
        std::fprintf(stderr, "usage: bench_nufft series N SEED FILE\n"
                             "       bench_nufft run FILE F_INI F_FIN N_STEPS "
                             "auto|direct|nufft THREADS [TABLE]\n"
                             "       bench_nufft time FILE F_INI F_FIN N_STEPS "
                             "auto|direct|nufft THREADS REPEATS\n"
                             "       bench_nufft compare FILE F_INI F_FIN N_STEPS\n");
        return 2;
    }
    std::vector<double> t, x;
    if (!read_series(argv[2], t, x)) {
        std::fprintf(stderr, "bench_nufft: no series in %s\n", argv[2]);
        return 2;
    }
    SpectrumEngine engine(t, x, Window::hanning);
    const FrequencyGrid grid{std::stod(argv[3]), std::stod(argv[4]), std::stoll(argv[5]),
                             engine.line_width()};
    if (is_compare) {
        std::vector<std::string> a, b;
        const Result ra = run(engine, grid, GridPath::nufft, 0, &a);
        const Result rb = run(engine, grid, GridPath::direct, 0, &b);
        std::size_t differ = a.size() == b.size() ? 0 : std::max(a.size(), b.size());
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) differ += a[i] != b[i];
        std::printf("%zu lines, %zu differ; careful: transforms %zu, direct %zu\n", a.size(),
                    differ, ra.careful, rb.careful);
        return differ == 0 ? 0 : 1;
    }
    const std::string mode = argv[6];
    const GridPath path = mode == "direct"  ? GridPath::direct
                          : mode == "nufft" ? GridPath::nufft
                                            : GridPath::automatic;
    const auto threads = static_cast<unsigned>(std::stoul(argv[7]));
    if (is_time) {
        const int repeats = std::max(1, std::stoi(argv[8]));
        Result r = run(engine, grid, path, threads, nullptr);
        std::vector<double> cpu, wall;
        for (int k = 0; k < repeats; ++k) {
            const double c0 = cpu_seconds();
            r = run(engine, grid, path, threads, nullptr);
            cpu.push_back(1e3 * (cpu_seconds() - c0));
            wall.push_back(1e3 * r.seconds);
        }
        std::printf("%.3f %.3f %zu %zu\n", median(cpu), median(wall), r.careful, r.blocks);
        return 0;
    }
    std::vector<std::string> lines;
    const Result r = run(engine, grid, path, threads, argc > 8 ? &lines : nullptr);
    if (argc > 8) {
        std::ofstream out(argv[8]);
        for (const std::string& l : lines) out << l << '\n';
    }
    std::printf("%.6f %zu %zu %zu\n", r.seconds, r.careful, r.points, r.blocks);
    return 0;
}
