// Three sinusoids and Gaussian noise on the times of the bundled example
// series: the test series of the fits of several frequencies.
#pragma once

#include "series_fixture.hpp"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace fasogram::testing {

struct Sinusoid {
    double f, amplitude, phase; // amplitude cos(2 pi (f (t - t0) - phase))
};
inline constexpr double kT0 = 2450000.0;
inline const std::vector<Sinusoid> kSignals{
    {1.0 / 2.7, 0.30, 0.13}, {1.2345, 0.12, 0.61}, {0.0823, 0.06, 0.87}};
inline constexpr double kLevel = 12.5;

// The signals at the example's times, with noise of standard deviation
// `noise` (or sigma[i] for point i when sigma is given) drawn from `seed`.
inline Series three_sinusoids(std::uint64_t seed, double noise = 0.1,
                              const std::vector<double>& sigma = {}) {
    static const Series times = example_series();
    Series s = times;
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double two_pi = 8 * std::atan(1.0);
    for (std::size_t i = 0; i < s.t.size(); ++i) {
        double v = kLevel;
        for (const Sinusoid& x : kSignals)
            v += x.amplitude * std::cos(two_pi * (x.f * (s.t[i] - kT0) - x.phase));
        s.x[i] = v + (sigma.empty() ? noise : sigma[i]) * gauss(rng);
    }
    return s;
}

} // namespace fasogram::testing
