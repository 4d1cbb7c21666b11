// Deterministic test series shaped like real observations: nightly samples
// at about the same hour with random dropouts and a seasonal gap each year,
// two sinusoids and noise, on Julian-day-sized times.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

namespace fasogram::testing {

struct Series {
    std::vector<double> t, x;
};

// The bundled example series (examples/datos.dat).
inline Series example_series() {
    Series s;
    std::ifstream in(FASOGRAM_EXAMPLE);
    for (double a, b; in >> a >> b;) {
        s.t.push_back(a);
        s.x.push_back(b);
    }
    return s;
}

// Uniform deviates in [0, 1) from a 64-bit linear congruential generator:
// the same sequence on every platform and library.
class Uniform {
  public:
    explicit Uniform(std::uint64_t seed) : state_(seed) {}
    double operator()() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) * 0x1.0p-53;
    }

  private:
    std::uint64_t state_;
};

inline Series observed_series(double t0 = 2450000.5, int nights = 4000, std::uint64_t seed = 7) {
    Series s;
    Uniform uniform(seed);
    const double two_pi = 8 * std::atan(1.0);
    for (int d = 0; d < nights; ++d) {
        const double season = std::fmod(d, 365.25) / 365.25;
        if (season > 0.68) continue;   // the field is behind the sun
        if (uniform() < 0.3) continue; // clouds
        const double t = t0 + d + 0.1 * uniform();
        const double noise = (uniform() + uniform() + uniform() - 1.5) * 0.4;
        s.t.push_back(t);
        s.x.push_back(10.0 + 0.8 * std::cos(two_pi * (t - t0) / 2.7 + 0.4) +
                      0.3 * std::sin(two_pi * (t - t0) / 37.0) + noise);
    }
    return s;
}

// Normalised weights of the Hanning ('h') or square ('c') window.
inline std::vector<double> window_weights(const std::vector<double>& t, char window) {
    // In extended precision: 1 + cos() loses its relative accuracy near the
    // ends of the series in double.
    const long double two_pi = 8 * std::atan(1.0L);
    const long double span = static_cast<long double>(t.back()) - t.front();
    const long double mid = (static_cast<long double>(t.front()) + t.back()) / 2;
    std::vector<long double> h(t.size());
    long double sum = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        h[i] = window == 'h' ? std::cos(two_pi * (t[i] - mid) / span) + 1 : 1.0L;
        sum += h[i];
    }
    std::vector<double> w(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) w[i] = static_cast<double>(h[i] / sum);
    return w;
}

inline std::vector<double> grid(double f_ini, double f_fin, int n_points) {
    std::vector<double> f(n_points + 1);
    const double df = (f_fin - f_ini) / n_points;
    for (int j = 0; j <= n_points; ++j) f[j] = static_cast<double>(j) * df + f_ini;
    return f;
}

} // namespace fasogram::testing
