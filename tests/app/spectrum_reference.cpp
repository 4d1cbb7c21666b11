#include "spectrum_reference.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace fasogram::reference {
namespace {

constexpr long double kTwoPi = 6.283185307179586476925286766559L;

// Fraction of a cycle of t*f, from the exact product t*f = p + e.
long double cycles(double t, double f) {
    const double p = t * f;
    const double e = std::fma(t, f, -p);
    return static_cast<long double>(p - std::nearbyint(p)) + e;
}

} // namespace

Moments moments(std::span<const double> w, std::span<const double> x) {
    Moments mv;
    long double s2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const long double wx = static_cast<long double>(x[i]) * w[i];
        mv.mean += wx;
        s2 += x[i] * wx;
    }
    mv.var = s2 - mv.mean * mv.mean;
    return mv;
}

Fit fit(std::span<const double> t, std::span<const double> w, std::span<const double> x,
        const Moments& mv, double f) {
    using ld = long double;
    const std::size_t n = t.size();
    std::vector<ld> ca(n), sa(n);
    ld f12 = 0, f13 = 0, f22 = 0, f23 = 0, f33 = 0, f2x = 0, f3x = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const ld th = kTwoPi * cycles(t[i], f);
        const ld c = std::cos(th), s = std::sin(th);
        ca[i] = c;
        sa[i] = s;
        const ld wi = w[i], wx = static_cast<ld>(x[i]) * w[i];
        f12 += wi * c;
        f13 += wi * s;
        f22 += c * (wi * c);
        f23 += c * (wi * s);
        f33 += s * (wi * s);
        f2x += wx * c;
        f3x += wx * s;
    }
    const ld m = mv.mean;
    const ld det =
        (f22 * f33 - f23 * f23) - f12 * (f12 * f33 - f23 * f13) + f13 * (f12 * f23 - f22 * f13);
    Fit r;
    r.c1 = (m * (f22 * f33 - f23 * f23) - f12 * (f2x * f33 - f23 * f3x) +
            f13 * (f2x * f23 - f22 * f3x)) /
           det;
    r.c2 = ((f2x * f33 - f23 * f3x) - m * (f12 * f33 - f23 * f13) + f13 * (f12 * f3x - f2x * f13)) /
           det;
    r.c3 = ((f22 * f3x - f2x * f23) - f12 * (f12 * f3x - f2x * f13) + m * (f12 * f23 - f22 * f13)) /
           det;
    ld p = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const ld y = r.c1 + r.c2 * ca[i] + r.c3 * sa[i];
        p += w[i] * y * y;
    }
    r.rho = std::fabs((p - m * m) / mv.var);

    // Condition number ||A||_1 ||A^-1||_1 from the cofactors of the
    // symmetric matrix (1 f12 f13; f12 f22 f23; f13 f23 f33).
    const ld a[3][3] = {{1, f12, f13}, {f12, f22, f23}, {f13, f23, f33}};
    ld inv[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            inv[j][i] = (a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1]) / det;
        }
    ld na = 0, ni = 0;
    for (int j = 0; j < 3; ++j) {
        ld ca1 = 0, ci = 0;
        for (int i = 0; i < 3; ++i) {
            ca1 += std::fabs(a[i][j]);
            ci += std::fabs(inv[i][j]);
        }
        na = std::max(na, ca1);
        ni = std::max(ni, ci);
    }
    r.cond = det != 0 && std::isfinite(na * ni) ? na * ni : HUGE_VALL;
    return r;
}

} // namespace fasogram::reference
