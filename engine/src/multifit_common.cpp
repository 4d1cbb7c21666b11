// What the fits of several frequencies share: the weighted series, the
// argument checks, the symmetric solvers and the parallel loop.
#include "multifit_internal.hpp"
#include "spectrum_internal.hpp"

#include <algorithm>

namespace fasogram {

namespace detail::multi {

void bad(const std::string& message) {
    throw std::invalid_argument(message);
}

void check_window(Window window) {
    if (window != Window::hanning && window != Window::square) bad("unknown window");
}

void check_harmonics(int harmonics) {
    if (harmonics < 1 || harmonics > max_harmonics)
        bad("harmonics: " + std::to_string(harmonics) + " is not from 1 to " +
            std::to_string(max_harmonics));
}

void check_threads(unsigned threads) {
    if (threads > max_threads)
        bad("threads: " + std::to_string(threads) + " is more than " + std::to_string(max_threads));
}

void check_frequency(double f, double t_max, const char* what) {
    if (!std::isfinite(f)) bad(std::string(what) + " is not finite");
    if (!(std::fabs(f) * t_max < 0x1p1000) || !std::isfinite(4.0 * max_harmonics * f))
        bad(std::string(what) + " times the largest time is beyond the phases the fits reduce " +
            "(|t·f| < 2^1000)");
}

namespace {

// The window weights of a series of span `span` starting at `first`.
void window_weights(std::span<const double> t, double first, double last, Window window,
                    std::vector<double>& h) {
    h.assign(t.size(), 1.0);
    if (window == Window::square) return;
    const double span = last - first;
    const double pi = two_pi() / 2.0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double d = std::min(t[i] - first, last - t[i]);
        const double s = std::sin(pi * (d / span));
        h[i] = 2.0 * s * s;
    }
}

// Checks the times (and errors) alone and fills times, span and weights.
void weigh_times(std::span<const double> t, std::span<const double> sigma, Window window,
                 WeightedSeries& p) {
    using Kind = SeriesError::Kind;
    check_window(window);
    if (!sigma.empty() && sigma.size() != t.size())
        throw SeriesError(Kind::size_mismatch, "errors and times differ in number");
    if (t.size() < 2) throw SeriesError(Kind::too_few_points, "fewer than two points");
    for (const double v : t)
        if (!std::isfinite(v)) throw SeriesError(Kind::not_finite, "a time is not finite");
    for (const double s : sigma)
        if (!(std::isfinite(s) && s > 0.0)) bad("an error sigma is not a finite positive number");
    const auto [lo, hi] = std::minmax_element(t.begin(), t.end());
    p.first = *lo;
    p.last = *hi;
    p.span = p.last - p.first;
    if (!std::isfinite(p.span))
        throw SeriesError(Kind::not_finite, "the time span is too wide for a double");
    if (!(p.span > 0.0)) throw SeriesError(Kind::no_time_span, "every time is the same");
    p.window = window;
    p.has_sigma = !sigma.empty();
    p.t.assign(t.begin(), t.end());
    p.t_ref = p.first + 0.5 * p.span;
    p.t_max = std::max(std::fabs(p.first), std::fabs(p.last));
    window_weights(t, p.first, p.last, window, p.h);
    p.w = p.h;
    for (std::size_t i = 0; i < sigma.size(); ++i) {
        const double w = p.h[i] / (sigma[i] * sigma[i]);
        if (!std::isfinite(w)) bad("an error sigma is too small: its weight is not finite");
        p.w[i] = w;
    }
    p.tau.resize(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) p.tau[i] = t[i] - p.t_ref;
}

} // namespace

WeightedSeries weigh_series(std::span<const double> t, std::span<const double> y,
                            std::span<const double> sigma, Window window, bool need_variation) {
    using Kind = SeriesError::Kind;
    check_window(window);
    if (t.size() != y.size())
        throw SeriesError(Kind::size_mismatch, "times and values differ in number");
    for (const double v : y)
        if (!std::isfinite(v)) throw SeriesError(Kind::not_finite, "a value is not finite");
    WeightedSeries p;
    weigh_times(t, sigma, window, p);
    p.y.assign(y.begin(), y.end());
    // The moments in extended precision, the values scaled by a power of
    // two so that no square overflows.
    double largest = 0.0;
    for (const double v : y) largest = std::max(largest, std::fabs(v));
    int scale = 0;
    if (largest > 0.0) std::frexp(largest, &scale);
    long double sw = 0, swy = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        sw += p.w[i];
        swy += static_cast<long double>(p.w[i]) * std::ldexp(y[i], -scale);
        if (p.w[i] > 0.0) ++p.used;
    }
    if (!(sw > 0)) throw SeriesError(Kind::zero_variance, "no point carries weight");
    const long double mean = swy / sw;
    long double var = 0;
    p.yc.resize(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
        const long double d = std::ldexp(static_cast<long double>(y[i]), -scale) - mean;
        p.yc[i] = static_cast<double>(std::ldexp(d, scale));
        var += p.w[i] * d * d;
    }
    p.sum_w = static_cast<double>(sw);
    p.mean = static_cast<double>(std::ldexp(mean, scale));
    p.variance = static_cast<double>(std::ldexp(var / sw, 2 * scale));
    if (need_variation) {
        bool varies = false, any = false;
        double seen = 0.0;
        for (std::size_t i = 0; i < y.size() && !varies; ++i) {
            if (p.w[i] == 0.0) continue;
            if (any && y[i] != seen) varies = true;
            seen = y[i];
            any = true;
        }
        if (!varies) throw SeriesError(Kind::zero_variance, "the weighted values do not vary");
    }
    return p;
}

namespace {

// Cholesky factor (lower, in place) of the matrix scaled to a unit
// diagonal; d receives the scale factors.
bool factor_scaled(std::vector<long double>& a, std::size_t n, std::vector<long double>& d) {
    d.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const long double v = a[i * n + i];
        if (!(v > 0) || !std::isfinite(static_cast<double>(v))) return false;
        d[i] = 1 / std::sqrt(v);
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j <= i; ++j) a[i * n + j] *= d[i] * d[j];
    // A pivot this small leaves no digit of the solution.
    constexpr long double tiny = 1e-15L;
    for (std::size_t j = 0; j < n; ++j) {
        long double s = a[j * n + j];
        for (std::size_t k = 0; k < j; ++k) s -= a[j * n + k] * a[j * n + k];
        if (!(s > tiny)) return false;
        const long double l = std::sqrt(s);
        a[j * n + j] = l;
        for (std::size_t i = j + 1; i < n; ++i) {
            long double v = a[i * n + j];
            for (std::size_t k = 0; k < j; ++k) v -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = v / l;
        }
    }
    return true;
}

void substitute(const std::vector<long double>& l, std::size_t n, std::vector<long double>& x) {
    for (std::size_t i = 0; i < n; ++i) {
        long double v = x[i];
        for (std::size_t k = 0; k < i; ++k) v -= l[i * n + k] * x[k];
        x[i] = v / l[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {
        long double v = x[i];
        for (std::size_t k = i + 1; k < n; ++k) v -= l[k * n + i] * x[k];
        x[i] = v / l[i * n + i];
    }
}

} // namespace

bool solve_spd(std::vector<long double> a, std::vector<long double>& b, std::size_t n) {
    std::vector<long double> d;
    if (!factor_scaled(a, n, d)) return false;
    std::vector<long double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = b[i] * d[i];
    substitute(a, n, x);
    for (std::size_t i = 0; i < n; ++i) b[i] = x[i] * d[i];
    return true;
}

bool invert_spd(const std::vector<long double>& a, std::size_t n, std::vector<long double>& inv) {
    std::vector<long double> l = a, d;
    if (!factor_scaled(l, n, d)) return false;
    inv.assign(n * n, 0);
    std::vector<long double> col(n);
    for (std::size_t j = 0; j < n; ++j) {
        std::fill(col.begin(), col.end(), 0);
        col[j] = 1;
        substitute(l, n, col);
        for (std::size_t i = 0; i < n; ++i) inv[i * n + j] = col[i] * d[i] * d[j];
    }
    return true;
}

void parallel_items(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& body) {
    parallel_run(count, threads, nullptr, [&body](std::size_t i, unsigned) { body(i); });
}

} // namespace detail::multi

std::vector<double> fit_weights(std::span<const double> t, std::span<const double> sigma,
                                Window window) {
    detail::multi::WeightedSeries p;
    detail::multi::weigh_times(t, sigma, window, p);
    return p.w;
}

} // namespace fasogram
