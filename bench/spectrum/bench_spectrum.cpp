// Times the reference spectrum computation: N points, a grid of frequencies,
// and reports nanoseconds per (point, frequency) pair.
//
//   bench_spectrum [points [frequencies]]     (default 20000 and 10001)
#include "spectrum.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
    const long points = argc > 1 ? std::atol(argv[1]) : 20000;
    const long frequencies = argc > 2 ? std::atol(argv[2]) : 10001;
    if (points < 2 || frequencies < 2) {
        std::fprintf(stderr, "usage: bench_spectrum [points>=2 [frequencies>=2]]\n");
        return 2;
    }

    // An unevenly sampled series of JD-like times with two signals and noise.
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> step(0.05, 0.25);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> t(points);
    std::vector<double> x(points);
    double now = 2450000.0;
    for (long i = 0; i < points; ++i) {
        now += step(rng);
        t[i] = now;
        x[i] = 12.5 + 0.3 * std::sin(now / 2.7 * 6.283185307179586) +
               0.15 * std::cos(now / 37.0 * 6.283185307179586) + noise(rng);
    }

    using namespace fasogram;
    const Weighting weighting = weigh_series(t, x, Window::hanning);
    FrequencyGrid grid;
    grid.f_ini = 0.001;
    grid.f_fin = 1.0;
    grid.n_points = frequencies - 1;
    grid.line_width = 2.0 / (t.back() - t.front());

    double checksum = 0.0;
    long computed = 0;
    const auto start = std::chrono::steady_clock::now();
    const PlotArrays plot = compute_spectrum(t, weighting, grid, [&](const SpectrumPoint& p) {
        checksum += p.rho;
        ++computed;
    });
    const auto stop = std::chrono::steady_clock::now();

    const double seconds = std::chrono::duration<double>(stop - start).count();
    const double pairs = static_cast<double>(points) * static_cast<double>(computed);
    std::printf("reference spectrum: %ld points x %ld frequencies\n", points, computed);
    std::printf("time %.3f s, %.2f ns per (point, frequency) pair\n", seconds,
                seconds * 1e9 / pairs);
    std::printf("checksum %.9g (curve of %zu points)\n", checksum, plot.cox.size());
    return 0;
}
