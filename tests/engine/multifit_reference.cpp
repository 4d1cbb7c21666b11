#include "multifit_reference.hpp"

#include <algorithm>
#include <cmath>

namespace fasogram::reference {

namespace {

// Reduced phase of the exact product t*f, in [0, 1).
quad cycles(double t, double f) {
    const quad x = (quad)t * f; // exact: 106 bits fit in 113
    quad r = x - floorq(x);
    return r;
}

// Solves a x = b (n x n, row-major) by Gaussian elimination with partial
// pivoting; false when a pivot vanishes.
bool solve(std::vector<quad> a, std::vector<quad>& b, std::size_t n) {
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t best = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (fabsq(a[r * n + col]) > fabsq(a[best * n + col])) best = r;
        if (a[best * n + col] == 0) return false;
        if (best != col) {
            for (std::size_t q = 0; q < n; ++q) std::swap(a[col * n + q], a[best * n + q]);
            std::swap(b[col], b[best]);
        }
        for (std::size_t r = col + 1; r < n; ++r) {
            const quad k = a[r * n + col] / a[col * n + col];
            for (std::size_t q = col; q < n; ++q) a[r * n + q] -= k * a[col * n + q];
            b[r] -= k * b[col];
        }
    }
    for (std::size_t r = n; r-- > 0;) {
        quad v = b[r];
        for (std::size_t q = r + 1; q < n; ++q) v -= a[r * n + q] * b[q];
        b[r] = v / a[r * n + r];
    }
    return true;
}

} // namespace

std::vector<quad> fit_weights(std::span<const double> t, std::span<const double> sigma,
                              bool hanning) {
    const quad first = *std::min_element(t.begin(), t.end());
    const quad last = *std::max_element(t.begin(), t.end());
    std::vector<quad> w(t.size(), 1);
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (hanning) {
            // 1 - cos(2 pi (t - first)/D) = 2 sin^2(pi (t - first)/D): the
            // same weight from either end.
            const quad s = sinq(M_PIq * ((quad)t[i] - first) / (last - first));
            w[i] = 2 * s * s;
        }
        if (!sigma.empty()) w[i] /= (quad)sigma[i] * sigma[i];
    }
    return w;
}

HarmonicFit harmonic_fit(std::span<const double> t, std::span<const double> y,
                         std::span<const double> sigma, bool hanning, int harmonics, double f) {
    const std::vector<quad> w = fit_weights(t, sigma, hanning);
    const std::size_t p = 2 * static_cast<std::size_t>(harmonics) + 1, n = t.size();
    std::vector<quad> a(p * p, 0), rhs(p, 0), basis(p);
    quad sw = 0, swy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sw += w[i];
        swy += w[i] * y[i];
    }
    const quad mean = swy / sw;
    quad var = 0;
    std::vector<std::vector<quad>> rows(n, std::vector<quad>(p));
    for (std::size_t i = 0; i < n; ++i) {
        const quad r = cycles(t[i], f);
        rows[i][0] = 1;
        for (int h = 1; h <= harmonics; ++h) {
            rows[i][2 * h - 1] = cosq(2 * M_PIq * h * r);
            rows[i][2 * h] = sinq(2 * M_PIq * h * r);
        }
        const quad yc = (quad)y[i] - mean;
        var += w[i] * yc * yc;
        for (std::size_t j = 0; j < p; ++j) {
            rhs[j] += w[i] * yc * rows[i][j];
            for (std::size_t k = 0; k < p; ++k) a[j * p + k] += w[i] * rows[i][j] * rows[i][k];
        }
    }
    HarmonicFit out;
    std::vector<quad> x = rhs;
    if (!solve(a, x, p)) {
        out.singular = true;
        return out;
    }
    // The explained power from a second pass over the points.
    quad explained = 0;
    for (std::size_t i = 0; i < n; ++i) {
        quad fitted = 0;
        for (std::size_t j = 0; j < p; ++j) fitted += x[j] * rows[i][j];
        explained += w[i] * fitted * fitted;
    }
    // The fitted constant absorbs the mean of the harmonics: the explained
    // variance is that of the fitted curve about its weighted mean.
    quad fitted_mean = 0;
    for (std::size_t i = 0; i < n; ++i) {
        quad fitted = 0;
        for (std::size_t j = 0; j < p; ++j) fitted += x[j] * rows[i][j];
        fitted_mean += w[i] * fitted;
    }
    fitted_mean /= sw;
    out.rho = (explained / sw - fitted_mean * fitted_mean) / (var / sw);
    quad amp = 0;
    for (std::size_t j = 1; j < p; ++j) amp += x[j] * x[j];
    out.amplitude = sqrtq(amp);
    return out;
}

std::vector<quad> scaled_gradient(std::span<const double> t, std::span<const double> y,
                                  std::span<const double> sigma, bool hanning, const Model& m) {
    const std::vector<quad> w = fit_weights(t, sigma, hanning);
    const std::size_t K = m.f.size(), H = m.a.empty() ? 0 : m.a[0].size();
    const std::size_t P = 1 + K * (2 * H + 1);
    std::vector<quad> g(P, 0), diag(P, 0), J(P);
    quad chi = 0;
    std::size_t used = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const quad s = (quad)t[i] - (quad)m.epoch;
        quad model = m.c0;
        J[0] = 1;
        for (std::size_t k = 0; k < K; ++k) {
            const std::size_t base = 1 + k * (2 * H + 1);
            quad df = 0;
            for (std::size_t h = 1; h <= H; ++h) {
                const quad x = 2 * M_PIq * h * (quad)m.f[k] * s;
                const quad c = cosq(x), sn = sinq(x);
                const quad a = m.a[k][h - 1], b = m.b[k][h - 1];
                model += a * c + b * sn;
                J[base + 2 * h - 1] = c;
                J[base + 2 * h] = sn;
                df += 2 * M_PIq * h * s * (b * c - a * sn);
            }
            J[base] = df;
        }
        const quad r = (quad)y[i] - model;
        if (w[i] > 0) ++used;
        chi += w[i] * r * r;
        for (std::size_t j = 0; j < P; ++j) {
            g[j] += w[i] * r * J[j];
            diag[j] += w[i] * J[j] * J[j];
        }
    }
    for (std::size_t j = 0; j < P; ++j) g[j] /= sqrtq(diag[j] * chi / used);
    return g;
}

std::vector<quad> trend_values(std::span<const double> t, std::span<const double> y,
                               std::span<const double> sigma, bool hanning, int degree,
                               double centre, double scale, std::span<const double> at) {
    const std::vector<quad> w = fit_weights(t, sigma, hanning);
    const std::size_t p = static_cast<std::size_t>(degree) + 1;
    std::vector<quad> a(p * p, 0), x(p, 0), powers(p);
    for (std::size_t i = 0; i < t.size(); ++i) {
        const quad u = ((quad)t[i] - centre) / scale;
        powers[0] = 1;
        for (std::size_t j = 1; j < p; ++j) powers[j] = powers[j - 1] * u;
        for (std::size_t j = 0; j < p; ++j) {
            x[j] += w[i] * powers[j] * y[i];
            for (std::size_t k = 0; k < p; ++k) a[j * p + k] += w[i] * powers[j] * powers[k];
        }
    }
    solve(a, x, p);
    std::vector<quad> out;
    for (const double ti : at) {
        const quad u = ((quad)ti - centre) / scale;
        quad v = 0;
        for (std::size_t j = p; j-- > 0;) v = v * u + x[j];
        out.push_back(v);
    }
    return out;
}

quad window_amplitude(std::span<const double> t, std::span<const double> sigma, bool hanning,
                      double f) {
    const std::vector<quad> w = fit_weights(t, sigma, hanning);
    quad re = 0, im = 0, sw = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const quad r = cycles(t[i], f);
        re += w[i] * cosq(2 * M_PIq * r);
        im += w[i] * sinq(2 * M_PIq * r);
        sw += w[i];
    }
    return sqrtq(re * re + im * im) / sw;
}

} // namespace fasogram::reference
