// Independent quadruple-precision evaluations for the fits of several
// frequencies: the H-harmonic fit at one frequency from the full normal
// equations of the design [1, cos(2 pi h f t), sin(2 pi h f t)], the
// gradient of chi^2 of a several-frequency model, a polynomial trend in
// monomials and the spectral window.  Weights 2 sin^2(pi d/D) (Hanning) or 1,
// over sigma^2; phases from the exact product t*f.
#pragma once

#include <quadmath.h>

#include <span>
#include <vector>

namespace fasogram::reference {

using quad = __float128;

// The weights of the fits, in quadruple precision.
std::vector<quad> fit_weights(std::span<const double> t, std::span<const double> sigma,
                              bool hanning);

struct HarmonicFit {
    quad rho = 0;
    quad amplitude = 0; // sqrt(sum_h a_h^2 + b_h^2)
    bool singular = false;
};
HarmonicFit harmonic_fit(std::span<const double> t, std::span<const double> y,
                         std::span<const double> sigma, bool hanning, int harmonics, double f);

// The model C0 + sum_k sum_h a_kh cos(2 pi h f_k (t - epoch)) + b_kh sin(...).
struct Model {
    double epoch = 0;
    double c0 = 0;
    std::vector<double> f;              // f_k
    std::vector<std::vector<double>> a; // a[k][h-1]
    std::vector<std::vector<double>> b;
};
// The derivatives of chi^2/2 by every parameter (C0, then f_k, a_k1, b_k1,
// ... for each k), each divided by sqrt(A_jj chi^2 / n) with A = J^T W J: a
// minimum gives values far below 1.
std::vector<quad> scaled_gradient(std::span<const double> t, std::span<const double> y,
                                  std::span<const double> sigma, bool hanning, const Model& m);

// The weighted least-squares polynomial of degree D in (t - centre)/scale
// (normal equations of the monomials, solved by Gaussian elimination), at
// the given times.
std::vector<quad> trend_values(std::span<const double> t, std::span<const double> y,
                               std::span<const double> sigma, bool hanning, int degree,
                               double centre, double scale, std::span<const double> at);

// |sum w exp(2 pi i f t)| / sum w.
quad window_amplitude(std::span<const double> t, std::span<const double> sigma, bool hanning,
                      double f);

} // namespace fasogram::reference
