// Inside the fits of several frequencies: the weighted series they share,
// phase reduction, small symmetric solvers and a parallel loop.
#pragma once

#include "fasogram/spectrum.hpp"

#include <cmath>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace fasogram::detail::multi {

// A series with its weights, in input order.  Times are also kept from the
// middle of the series (tau = t - t_ref), which leaves every sum and every
// fitted power unchanged and keeps the phases small.
struct WeightedSeries {
    std::vector<double> t, y, h, w; // times, values, window weights, fit weights
    std::vector<double> tau;        // t - t_ref
    std::vector<double> yc;         // y - mean
    double t_ref = 0.0, first = 0.0, last = 0.0, span = 0.0;
    double t_max = 0.0; // the largest |t|
    double sum_w = 0.0, mean = 0.0, variance = 0.0;
    std::size_t used = 0; // points with w > 0
    Window window = Window::hanning;
    bool has_sigma = false;

    double line_width() const { return (window == Window::hanning ? 2.0 : 1.0) / span; }
};

[[noreturn]] void bad(const std::string& message);

// Checks the series as SpectrumEngine does (SeriesError) and the errors
// (finite and positive), weighs it and, when `need_variation`, refuses one
// whose weighted values do not vary.
WeightedSeries weigh_series(std::span<const double> t, std::span<const double> y,
                            std::span<const double> sigma, Window window,
                            bool need_variation = true);

void check_window(Window window);
void check_harmonics(int harmonics);
void check_threads(unsigned threads);
// A frequency whose phases the fits can reduce: finite, with |f| t_max below
// 2^1000.
void check_frequency(double f, double t_max, const char* what);

// f·tau reduced to [-1/2, 1/2] cycles, the rounding of the product
// included (exact to about 1e-16 cycles).
inline double reduced_cycles(double f, double tau) {
    const double x = f * tau;
    const double e = std::fma(f, tau, -x);
    const double r = x - std::nearbyint(x);
    return r + e;
}

// Solves the symmetric positive definite system a x = b of order n (a
// row-major, only its lower triangle read), scaled to a unit diagonal
// first; b becomes x.  False, with b unchanged, when a is not positive
// definite to working precision.
bool solve_spd(std::vector<long double> a, std::vector<long double>& b, std::size_t n);
// The inverse of such a matrix (false when it is not positive definite).
bool invert_spd(const std::vector<long double>& a, std::size_t n, std::vector<long double>& inv);

// Runs body(item) for item = 0 .. count-1 on up to `threads` threads (0:
// every core); an exception in any of them reaches the caller.
void parallel_items(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& body);

} // namespace fasogram::detail::multi
