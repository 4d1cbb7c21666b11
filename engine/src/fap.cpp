// The false-alarm probability of the highest peak of a spectrum.
//
// Under the null hypothesis (the values pure Gaussian noise with the given
// errors, sampled at these times) rho at one frequency follows a Beta
// distribution, P(rho > z) = (1 - z)^((N - 3)/2), and the chance that the
// highest peak over a band of width Δf exceeds z is bounded (Davies) and,
// for small probabilities, closely approximated (Baluev 2008, eq. 6) by
//     FAP = 1 - (1 - P_single) exp(-tau),
//     tau = gamma(N - 1) W (1 - z)^((N - 4)/2) sqrt((N - 1) z / 2),
//     W = Δf T_eff,  T_eff = sqrt(4 pi Var_w(t)),
// gamma(n) = sqrt(2/n) Γ(n/2)/Γ((n - 1)/2).  The weights are those of the
// fit; N is the effective number of points of the window weights,
// (Σh)²/Σh², which is the number of points for the square window (the
// errors enter as inverse variances and leave the distribution alone).
#include "fasogram/spectrum.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace fasogram {

FapBasis fap_basis(std::span<const double> t, std::span<const double> sigma, Window window) {
    const std::vector<double> w = fit_weights(t, sigma, window);
    const std::vector<double> h = fit_weights(t, {}, window);
    FapBasis b;
    long double sw = 0, st = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        sw += w[i];
        st += w[i] * static_cast<long double>(t[i]);
    }
    const long double tm = st / sw;
    long double sv = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const long double d = t[i] - tm;
        sv += w[i] * d * d;
    }
    b.t_eff = static_cast<double>(std::sqrt(4.0L * std::numbers::pi_v<long double> * sv / sw));
    long double sh = 0, sh2 = 0;
    for (double x : h) {
        sh += x;
        sh2 += static_cast<long double>(x) * x;
    }
    b.n_eff = static_cast<double>(sh * sh / sh2);
    return b;
}

namespace {

double searched_width(double fmin, double fmax) {
    if (!(std::isfinite(fmin) && std::isfinite(fmax)) || !(fmax > fmin))
        throw std::invalid_argument("false-alarm probability: the band must have fmin < fmax, "
                                    "both finite");
    // rho(-f) = rho(f): a band across zero searches its wider side.
    if (fmin < 0 && fmax > 0) return std::max(-fmin, fmax);
    return std::fabs(std::fabs(fmax) - std::fabs(fmin));
}

void check_basis(const FapBasis& b) {
    if (!(b.n_eff > 4) || !std::isfinite(b.n_eff) || !(b.t_eff >= 0) || !std::isfinite(b.t_eff))
        throw std::invalid_argument("false-alarm probability: needs more than 4 effective points "
                                    "and a finite time span");
}

} // namespace

double false_alarm_probability(double rho, double fmin, double fmax, const FapBasis& basis) {
    check_basis(basis);
    const double width = searched_width(fmin, fmax);
    if (std::isnan(rho)) throw std::invalid_argument("false-alarm probability: rho is NaN");
    if (rho <= 0) return 1.0;
    if (rho >= 1) return 0.0;
    const double n = basis.n_eff;
    const double single = std::exp(0.5 * (n - 3) * std::log1p(-rho));
    const double gamma = std::sqrt(2.0 / (n - 1)) *
                         std::exp(std::lgamma(0.5 * (n - 1)) - std::lgamma(0.5 * (n - 2)));
    const double tau = gamma * width * basis.t_eff * std::exp(0.5 * (n - 4) * std::log1p(-rho)) *
                       std::sqrt(0.5 * (n - 1) * rho);
    return std::min(1.0, -std::expm1(-tau) + single * std::exp(-tau));
}

double false_alarm_level(double p, double fmin, double fmax, const FapBasis& basis) {
    if (!(p > 0 && p < 1))
        throw std::invalid_argument("false-alarm level: the probability must lie in (0, 1)");
    check_basis(basis);
    (void)searched_width(fmin, fmax);
    // The probability falls with rho wherever it is below 1: bisect for the
    // rho where it crosses p.
    double lo = 0.0, hi = 1.0;
    for (int i = 0; i < 200 && hi - lo > 0; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid == lo || mid == hi) break;
        if (false_alarm_probability(mid, fmin, fmax, basis) > p)
            lo = mid;
        else
            hi = mid;
    }
    return 0.5 * (lo + hi);
}

} // namespace fasogram
