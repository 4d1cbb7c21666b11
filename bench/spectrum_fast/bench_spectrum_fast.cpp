// Times the fast spectrum engine against the straightforward evaluation
// (one reduction, cosine and sine per point and frequency, a second pass for
// P, one thread) on a Julian-day series of 20000 points, and prints ns per
// (point, frequency) pair.
//
//   bench_spectrum_fast [points] [--quick]
#include "series_fixture.h"
#include "spectrum_fast.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The straightforward evaluation, as the program did it before the engine.
double straightforward(const std::vector<double>& t, const std::vector<double>& w,
                       const std::vector<double>& x, const std::vector<double>& f) {
    const double two_pi = 8 * std::atan(1.0);
    const std::size_t n = t.size();
    std::vector<double> wx(n), ca(n), sa(n);
    double m = 0;
    for (std::size_t i = 0; i < n; ++i) m += wx[i] = x[i] * w[i];
    double checksum = 0;
    for (double fr : f) {
        double f12 = 0, f13 = 0, f22 = 0, f23 = 0, f33 = 0, f2x = 0, f3x = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double al = std::fmod(two_pi * t[i] * fr, two_pi);
            const double c = std::cos(al), s = std::sin(al);
            ca[i] = c;
            sa[i] = s;
            const double cap = w[i] * c, sap = w[i] * s;
            f12 += cap;
            f13 += sap;
            f22 += c * cap;
            f23 += c * sap;
            f33 += s * sap;
            f2x += wx[i] * c;
            f3x += wx[i] * s;
        }
        const double det =
            (f22 * f33 - f23 * f23) - f12 * (f12 * f33 - f23 * f13) + f13 * (f12 * f23 - f22 * f13);
        const double c1 = (m * (f22 * f33 - f23 * f23) - f12 * (f2x * f33 - f23 * f3x) +
                           f13 * (f2x * f23 - f22 * f3x)) /
                          det;
        const double c2 = ((f2x * f33 - f23 * f3x) - m * (f12 * f33 - f23 * f13) +
                           f13 * (f12 * f3x - f2x * f13)) /
                          det;
        const double c3 = ((f22 * f3x - f2x * f23) - f12 * (f12 * f3x - f2x * f13) +
                           m * (f12 * f23 - f22 * f13)) /
                          det;
        double p = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double y = c1 + c2 * ca[i] + c3 * sa[i];
            p += w[i] * y * y;
        }
        checksum += p;
    }
    return checksum;
}

template <class F> double seconds(F&& fn) {
    const auto t0 = Clock::now();
    fn();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    std::size_t points = 20000;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else
            points = std::stoul(argv[i]);
    }
    // Nightly observations with gaps, as many nights as it takes.
    auto s = fasogram::testing::observed_series(2450000.5, 1000);
    for (int nights = 1000; s.t.size() < points; nights *= 2)
        s = fasogram::testing::observed_series(2450000.5, nights * 2);
    s.t.resize(points);
    s.x.resize(points);
    const auto w = fasogram::testing::window_weights(s.t, 'h');
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("series: %zu points, t from %.1f to %.1f; %u cores\n", points, s.t.front(),
                s.t.back(), cores);

    double base_ns = 0;
    for (int n_points : {1000, 10000, 100000}) {
        if (quick && n_points > 1000) break;
        const auto f = fasogram::testing::grid(0.0, 0.5, n_points);
        const double pairs = static_cast<double>(points) * static_cast<double>(f.size());
        std::vector<fasogram::SineFit> out(f.size());
        const double fast =
            seconds([&] { fasogram::fit_spectrum_fast(s.t, w, s.x, f, 0.5 / n_points, out); });
        std::printf("%7zu frequencies: fast %8.3f s  %6.3f ns/pair", f.size(), fast,
                    fast / pairs * 1e9);
        if (n_points <= 10000) {
            volatile double sink = 0;
            const double slow = seconds([&] { sink = straightforward(s.t, w, s.x, f); });
            base_ns = slow / pairs * 1e9;
            std::printf("   straightforward %8.3f s  %6.2f ns/pair   ratio %5.1f", slow, base_ns,
                        slow / fast);
        } else if (base_ns > 0) {
            std::printf("   (straightforward at %.2f ns/pair would take %.0f s)", base_ns,
                        base_ns * pairs * 1e-9);
        }
        std::printf("\n");
    }
    return 0;
}
