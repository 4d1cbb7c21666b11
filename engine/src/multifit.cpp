// The simultaneous fit of several frequencies with their harmonics by
// nonlinear weighted least squares (Levenberg-Marquardt), and the
// uncertainties of what it finds.
//
// The parameters are C0 and, for each frequency k, f_k followed by the
// coefficients a_kh, b_kh of cos and sin of 2 pi h f_k s, s = t - epoch: the
// model is linear in all but the frequencies, which keeps the steps well
// behaved.  The values are fitted less their weighted mean.  Each step
// solves (A + lambda diag A) delta = g with A = J^T W J and g = J^T W r, in
// extended precision and scaled to a unit diagonal.
//
// The covariance of the parameters is the sandwich A^-1 B A^-1 with
// B = sum_i w_i^2 v_i J_i J_i^T, v_i the variance of point i: sigma_i^2 when
// the errors are given, otherwise the residual variance.  With the square
// window and errors it is A^-1, without errors s^2 A^-1; with the Hanning
// window, whose weights are not inverse variances, only the sandwich is
// right.
#include "multifit_internal.hpp"

#include <algorithm>
#include <cmath>

namespace fasogram {

using detail::multi::WeightedSeries;

namespace {

struct Problem {
    const WeightedSeries& p;
    std::vector<double> s; // t - epoch
    std::size_t K;
    int H;
    std::size_t P; // parameters

    std::size_t base(std::size_t k) const { return 1 + k * static_cast<std::size_t>(2 * H + 1); }

    // The model at point i and, when jac is given, its derivatives.
    double model(const std::vector<double>& th, std::size_t i, double* jac) const {
        const double tp = two_pi();
        double v = th[0];
        if (jac != nullptr) jac[0] = 1.0;
        for (std::size_t k = 0; k < K; ++k) {
            const std::size_t b = base(k);
            const double r1 = detail::multi::reduced_cycles(th[b], s[i]);
            double dfk = 0.0;
            for (int h = 1; h <= H; ++h) {
                const double hr = h * r1;
                const double x = tp * (hr - std::nearbyint(hr));
                const double c = std::cos(x), sn = std::sin(x);
                const std::size_t ia = b + 1 + 2 * static_cast<std::size_t>(h - 1);
                const double a = th[ia], bb = th[ia + 1];
                v += a * c + bb * sn;
                if (jac != nullptr) {
                    jac[ia] = c;
                    jac[ia + 1] = sn;
                    dfk += tp * h * s[i] * (bb * c - a * sn);
                }
            }
            if (jac != nullptr) jac[b] = dfk;
        }
        return v;
    }

    long double chi_square(const std::vector<double>& th) const {
        long double sum = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (p.w[i] == 0.0) continue;
            const double r = p.yc[i] - model(th, i, nullptr);
            sum += p.w[i] * static_cast<long double>(r) * r;
        }
        return sum;
    }

    // A = J^T W J (lower triangle and mirrored), g = J^T W r, chi^2.
    long double normal(const std::vector<double>& th, std::vector<long double>& A,
                       std::vector<long double>& g) const {
        A.assign(P * P, 0);
        g.assign(P, 0);
        std::vector<double> J(P);
        long double chi = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const double w = p.w[i];
            if (w == 0.0) continue;
            const double r = p.yc[i] - model(th, i, J.data());
            chi += w * static_cast<long double>(r) * r;
            for (std::size_t a = 0; a < P; ++a) {
                const long double wa = static_cast<long double>(w) * J[a];
                g[a] += wa * r;
                long double* row = &A[a * P];
                for (std::size_t b = 0; b <= a; ++b) row[b] += wa * J[b];
            }
        }
        for (std::size_t a = 0; a < P; ++a)
            for (std::size_t b = 0; b < a; ++b) A[b * P + a] = A[a * P + b];
        return chi;
    }
};

double wrap_phase(double cycles) {
    double v = cycles - std::floor(cycles);
    if (v >= 1.0) v = 0.0;
    return v;
}

} // namespace

double MultiFit::model(double t) const {
    double v = c0;
    for (std::size_t k = 0; k < frequencies.size(); ++k) v += component(k, t);
    return v;
}

double MultiFit::component(std::size_t k, double t) const {
    if (k >= frequencies.size()) throw std::out_of_range("MultiFit::component: no such frequency");
    const double s = t - epoch;
    const double r1 = detail::multi::reduced_cycles(frequencies[k], s);
    double v = 0.0;
    for (const FitTerm& term : terms) {
        if (term.index != k) continue;
        const double hr = term.harmonic * r1;
        const double x = two_pi() * (hr - std::nearbyint(hr));
        v += term.a * std::cos(x) + term.b * std::sin(x);
    }
    return v;
}

MultiFit fit_frequencies(std::span<const double> t, std::span<const double> y,
                         std::span<const double> sigma, Window window,
                         std::span<const double> frequencies, const FitOptions& options) {
    using detail::multi::bad;
    detail::multi::check_window(window);
    detail::multi::check_harmonics(options.harmonics);
    if (options.max_iterations < 1) bad("max_iterations must be 1 or more");
    if (frequencies.empty()) bad("the fit needs at least one frequency");
    if (frequencies.size() > max_fit_frequencies)
        bad("the fit takes at most " + std::to_string(max_fit_frequencies) + " frequencies");
    const int H = options.harmonics;
    const std::size_t K = frequencies.size();
    if (K * static_cast<std::size_t>(2 * H + 1) > max_fit_coefficients)
        bad("the fit takes at most " + std::to_string(max_fit_coefficients) +
            " coefficients besides C0");
    if (!std::isnan(options.epoch) && !std::isfinite(options.epoch)) bad("the epoch is not finite");

    const WeightedSeries p = detail::multi::weigh_series(t, y, sigma, window);
    const double lw = p.line_width();
    for (std::size_t k = 0; k < K; ++k) {
        detail::multi::check_frequency(frequencies[k], p.t_max, "a frequency");
        if (!(frequencies[k] > 0.0)) bad("the frequencies of a fit must be positive");
        for (std::size_t j = 0; j < k; ++j)
            if (std::fabs(frequencies[k] - frequencies[j]) < lw / 100.0)
                bad("two frequencies of the fit are closer than a hundredth of a line width");
    }
    Problem pr{p, {}, K, H, 1 + K * static_cast<std::size_t>(2 * H + 1)};
    if (p.used <= pr.P)
        throw SeriesError(SeriesError::Kind::too_few_points,
                          "the fit has " + std::to_string(pr.P) + " parameters and only " +
                              std::to_string(p.used) + " points carry weight");

    MultiFit fit;
    fit.harmonics = H;
    if (std::isnan(options.epoch)) {
        long double st = 0;
        for (std::size_t i = 0; i < p.tau.size(); ++i) st += p.w[i] * p.tau[i];
        fit.epoch = p.t_ref + static_cast<double>(st / p.sum_w);
    } else {
        fit.epoch = options.epoch;
    }
    pr.s.resize(p.t.size());
    for (std::size_t i = 0; i < p.t.size(); ++i) pr.s[i] = p.t[i] - fit.epoch;
    for (const double v : pr.s)
        if (!std::isfinite(v)) bad("the epoch is too far from the times");

    std::vector<double> th(pr.P, 0.0);
    for (std::size_t k = 0; k < K; ++k) th[pr.base(k)] = frequencies[k];

    // The coefficients of the linear fit at the starting frequencies.
    std::vector<long double> A, g;
    pr.normal(th, A, g);
    {
        std::vector<std::size_t> lin;
        for (std::size_t a = 0; a < pr.P; ++a)
            if (a == 0 || (a - 1) % static_cast<std::size_t>(2 * H + 1) != 0) lin.push_back(a);
        const std::size_t m = lin.size();
        std::vector<long double> Al(m * m), gl(m);
        for (std::size_t a = 0; a < m; ++a) {
            gl[a] = g[lin[a]];
            for (std::size_t b = 0; b < m; ++b) Al[a * m + b] = A[lin[a] * pr.P + lin[b]];
        }
        if (!detail::multi::solve_spd(Al, gl, m))
            bad("the starting frequencies cannot be fitted together (singular normal "
                "equations)");
        for (std::size_t a = 0; a < m; ++a) th[lin[a]] += static_cast<double>(gl[a]);
    }

    // Levenberg-Marquardt.  A step of delta lowers chi^2 by about
    // delta . g, which is (delta / error)^2 chi^2 / n for one parameter: the
    // fit has converged when that is below 1e-16 chi^2 / n, a step of a
    // hundred-millionth of the errors.
    long double chi = pr.normal(th, A, g);
    const long double per_point = 1.0L / static_cast<long double>(p.used);
    double lambda = 1e-3;
    bool converged = false;
    long double last_predicted = -1;
    int it = 0;
    for (; it < options.max_iterations && !converged; ++it) {
        std::vector<long double> Ad = A, delta = g;
        for (std::size_t a = 0; a < pr.P; ++a) Ad[a * pr.P + a] *= 1.0L + lambda;
        bool lowered = false;
        long double predicted = 0;
        if (detail::multi::solve_spd(Ad, delta, pr.P)) {
            std::vector<double> trial = th;
            for (std::size_t a = 0; a < pr.P; ++a) {
                trial[a] += static_cast<double>(delta[a]);
                predicted += delta[a] * g[a];
            }
            if (pr.chi_square(trial) <= chi) {
                th = trial;
                chi = pr.normal(th, A, g);
                lambda = std::max(lambda / 10.0, 1e-12);
                lowered = true;
                last_predicted = predicted;
                converged = predicted <= 1e-16L * chi * per_point;
            }
        }
        if (!lowered) {
            lambda *= 10.0;
            // No step lowers chi^2 any more: the last full step was within
            // the rounding of chi^2 of the minimum, or the fit is stuck.
            if (lambda > 1e10) {
                converged = last_predicted >= 0 && last_predicted <= 1e-8L * chi * per_point;
                break;
            }
        }
    }
    fit.iterations = it;

    // Negative frequencies turned positive: cos is even, sin odd.
    for (std::size_t k = 0; k < K; ++k) {
        const std::size_t b = pr.base(k);
        if (th[b] < 0.0) {
            th[b] = -th[b];
            for (int h = 1; h <= H; ++h) th[b + 2 * static_cast<std::size_t>(h)] *= -1.0;
        }
    }
    chi = pr.normal(th, A, g);

    // Residuals and their variance.
    const std::size_t n = p.t.size();
    fit.residuals.resize(n);
    long double shr = 0, sh = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = p.yc[i] - pr.model(th, i, nullptr);
        fit.residuals[i] = r;
        if (p.w[i] > 0.0) {
            shr += p.h[i] * static_cast<long double>(r) * r;
            sh += p.h[i];
        }
    }
    fit.points = p.used;
    fit.time_span = p.span;
    fit.chi_square = static_cast<double>(chi);
    fit.residual_rms = static_cast<double>(std::sqrt(shr / sh));
    fit.errors_scaled = !p.has_sigma;
    const long double dof = static_cast<long double>(p.used) - static_cast<long double>(pr.P);
    long double s2 = 0;
    if (!p.has_sigma) {
        long double swr = 0;
        for (std::size_t i = 0; i < n; ++i)
            swr += p.w[i] * static_cast<long double>(fit.residuals[i]) * fit.residuals[i];
        s2 = swr / p.sum_w * static_cast<long double>(p.used) / dof;
    }

    // The covariance: A^-1 B A^-1.
    std::vector<long double> Ainv, cov(pr.P * pr.P, 0);
    const bool invertible = detail::multi::invert_spd(A, pr.P, Ainv);
    if (invertible) {
        std::vector<long double> B(pr.P * pr.P, 0);
        std::vector<double> J(pr.P);
        for (std::size_t i = 0; i < n; ++i) {
            const double w = p.w[i];
            if (w == 0.0) continue;
            pr.model(th, i, J.data());
            // sigma_i^2 = h_i / w_i.
            const long double v = p.has_sigma ? p.h[i] / static_cast<long double>(w) : s2;
            const long double ww = static_cast<long double>(w) * w * v;
            for (std::size_t a = 0; a < pr.P; ++a) {
                const long double wa = ww * J[a];
                for (std::size_t b = 0; b <= a; ++b) B[a * pr.P + b] += wa * J[b];
            }
        }
        for (std::size_t a = 0; a < pr.P; ++a)
            for (std::size_t b = 0; b < a; ++b) B[b * pr.P + a] = B[a * pr.P + b];
        std::vector<long double> tmp(pr.P * pr.P, 0);
        for (std::size_t a = 0; a < pr.P; ++a)
            for (std::size_t c = 0; c < pr.P; ++c) {
                const long double x = Ainv[a * pr.P + c];
                if (x == 0) continue;
                for (std::size_t b = 0; b < pr.P; ++b) tmp[a * pr.P + b] += x * B[c * pr.P + b];
            }
        for (std::size_t a = 0; a < pr.P; ++a)
            for (std::size_t c = 0; c < pr.P; ++c) {
                const long double x = tmp[a * pr.P + c];
                if (x == 0) continue;
                for (std::size_t b = 0; b < pr.P; ++b) cov[a * pr.P + b] += x * Ainv[c * pr.P + b];
            }
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto covariance = [&](std::size_t a, std::size_t b) {
        return invertible ? static_cast<double>(cov[a * pr.P + b]) : nan;
    };
    fit.converged = converged && invertible;
    fit.c0 = p.mean + th[0];
    fit.c0_error = std::sqrt(covariance(0, 0));

    const double sqrt_n = std::sqrt(static_cast<double>(p.used));
    const double pi = two_pi() / 2.0;
    for (std::size_t k = 0; k < K; ++k) {
        const std::size_t b = pr.base(k);
        const double f = th[b];
        const double f_err = std::sqrt(covariance(b, b));
        fit.frequencies.push_back(f);
        fit.frequency_errors.push_back(f_err);
        for (int h = 1; h <= H; ++h) {
            const std::size_t ia = b + 1 + 2 * static_cast<std::size_t>(h - 1), ib = ia + 1;
            FitTerm term;
            term.index = k;
            term.harmonic = h;
            term.a = th[ia];
            term.b = th[ib];
            term.frequency = h * f;
            term.frequency_error = h * f_err;
            const double amp = std::hypot(term.a, term.b);
            term.amplitude = amp;
            term.phase = wrap_phase(std::atan2(term.b, term.a) / two_pi());
            const double caa = covariance(ia, ia), cbb = covariance(ib, ib),
                         cab = covariance(ia, ib);
            const double a = term.a, bb = term.b;
            term.amplitude_error =
                std::sqrt(std::max(0.0, a * a * caa + bb * bb * cbb + 2 * a * bb * cab)) / amp;
            term.phase_error =
                std::sqrt(std::max(0.0, bb * bb * caa + a * a * cbb - 2 * a * bb * cab)) /
                (amp * amp) / two_pi();
            const double sn = fit.residual_rms;
            term.frequency_error_analytic =
                std::sqrt(6.0) * sn / (pi * sqrt_n * amp * fit.time_span);
            term.amplitude_error_analytic = std::sqrt(2.0) * sn / sqrt_n;
            term.phase_error_analytic = term.amplitude_error_analytic / (two_pi() * amp);
            fit.terms.push_back(term);
        }
    }
    return fit;
}

} // namespace fasogram
