// A slow, careful evaluation of the sinusoid fit, used to judge the fast
// engine in tests and benchmarks: the same formulas as the program, but
// phases reduced from an exact product t*f, trigonometry, sums and the
// solution all in long double, and P from a second pass.
#pragma once

#include <span>

namespace fasogram::reference {

struct Fit {
    long double c1 = 0, c2 = 0, c3 = 0, rho = 0;
    long double cond = 0; // 1-norm condition number of the normal matrix
};

struct Moments {
    long double mean = 0, var = 0;
};

Moments moments(std::span<const double> w, std::span<const double> x);

Fit fit(std::span<const double> t, std::span<const double> w, std::span<const double> x,
        const Moments& mv, double f);

} // namespace fasogram::reference
