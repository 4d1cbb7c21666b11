// The maximum of rho near a grid peak, by Newton's method on the analytic
// derivative of rho.
//
// Around a base frequency f_b every sum of the fit is a power series in
// x = 2 pi T (f - f_b), T the largest distance of a time from the middle of
// the series (tau_i = t_i - middle, v_i = tau_i / T, |v_i| <= 1):
//     sum h v^j e^{i theta(f)} = sum_k (i x)^k / k! E_{j+k},
//     E_m = sum h v^m e^{i theta(f_b)},
// and the same for the doubled phases (with 2 i x) and for the values.  One
// pass over the points, with one sine and cosine each, gives the moments E;
// rho and its first two derivatives in x at any x near the base then cost a
// few dozen operations, so that Newton's steps are nearly free.  The root of
// the derivative is settled to about a unit roundoff of the line width,
// where comparisons of rho alone settle only its square root.
#include "spectrum_internal.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

namespace fasogram::detail {
namespace {

// How far from its base the series is used (|x| <= kReach), and the number of
// its terms: (2 kReach)^kTerms / kTerms! is below 3e-17.  The search starts
// at the top of the parabola through the grid points, rarely further than
// that from the maximum; beyond, the base moves.
constexpr double kReach = 0.05;
constexpr int kTerms = 10;
constexpr int kMoments = kTerms + 2; // E_0 .. E_{kTerms+1}

// A value with its first and second derivatives.
struct Jet {
    double v = 0.0, d = 0.0, dd = 0.0;
};
Jet operator+(Jet a, Jet b) {
    return {a.v + b.v, a.d + b.d, a.dd + b.dd};
}
Jet operator-(Jet a, Jet b) {
    return {a.v - b.v, a.d - b.d, a.dd - b.dd};
}
Jet operator*(Jet a, Jet b) {
    return {a.v * b.v, a.d * b.v + a.v * b.d, a.dd * b.v + 2.0 * a.d * b.d + a.v * b.dd};
}
Jet operator*(double s, Jet a) {
    return {s * a.v, s * a.d, s * a.dd};
}
Jet operator/(Jet a, Jet b) {
    const double q = a.v / b.v;
    const double qd = (a.d - q * b.d) / b.v;
    return {q, qd, (a.dd - 2.0 * qd * b.d - q * b.dd) / b.v};
}

using Moments = std::array<std::complex<double>, kMoments>;

struct Base {
    double f = 0.0;
    Moments e{}, e2{}, ey{}; // phases, doubled phases, values times phases
};

// Points go four at a time, each of the four in a lane of its own.
constexpr std::size_t kLanes = 4;

// What the refinement of every bracket shares, padded to whole lanes with
// points of no weight.
struct Series {
    std::vector<double> tau, v, h, hy; // centred times, tau / T, weights, weights times (x - m)
    double scale = 0.0;                // 2 pi T: x per unit of frequency
    double weight = 0.0;               // sum h
};

Series centred(const Prepared& p) {
    Series s;
    const std::size_t n = p.t.size();
    const std::size_t padded = (n + kLanes - 1) / kLanes * kLanes;
    const double middle = 0.5 * (p.t.front() + p.t.back());
    const double half = 0.5 * (p.t.back() - p.t.front());
    s.tau.assign(padded, 0.0);
    s.v.assign(padded, 0.0);
    s.h.assign(padded, 0.0);
    s.hy.assign(padded, 0.0);
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        s.tau[i] = p.t[i] - middle;
        largest = std::max(largest, std::fabs(s.tau[i]));
    }
    largest = std::max(largest, half);
    if (!(largest > 0.0) || !std::isfinite(largest)) return s;
    for (std::size_t i = 0; i < n; ++i) s.v[i] = s.tau[i] / largest;
    const double offset = p.centre_offset.hi;
    double weight = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        s.h[i] = p.h[i];
        s.hy[i] = p.h[i] * (p.y[i] - offset);
        weight += p.h[i];
    }
    s.scale = 2.0 * 3.14159265358979323846 * largest;
    s.weight = weight;
    return s;
}

constexpr double inverse_factorial(int n) {
    double f = 1.0;
    for (int k = 2; k <= n; ++k) f *= k;
    return 1.0 / f;
}

// cos and sin of 2 pi f tau for the four points of a lane group.  The phase
// in quarter cycles is split into a whole number q and a rest a in [-1/2,
// 1/2] without losing the digits of a large product; the series of cos and
// sin at pi a / 2 (to the 16th and 15th power, whose next terms are below
// 5e-17) and the quarter of the circle q mod 4 give the values.  Nothing
// but arithmetic, so that the four go in one vector.
[[gnu::always_inline]] inline void phases(const double* tau, double f, double* c, double* s) {
    constexpr double half_pi = 1.57079632679489661923;
    for (std::size_t j = 0; j < kLanes; ++j) {
        const double p = 4.0 * f * tau[j];
        const double err = 4.0 * std::fma(f, tau[j], -0.25 * p);
        const double q = std::nearbyint(p);
        const double a = half_pi * ((p - q) + err);
        const double a2 = a * a;
        constexpr double i1 = 1.0, i2 = inverse_factorial(2), i3 = inverse_factorial(3),
                         i4 = inverse_factorial(4), i5 = inverse_factorial(5),
                         i6 = inverse_factorial(6), i7 = inverse_factorial(7),
                         i8 = inverse_factorial(8), i9 = inverse_factorial(9),
                         i10 = inverse_factorial(10), i11 = inverse_factorial(11),
                         i12 = inverse_factorial(12), i13 = inverse_factorial(13),
                         i14 = inverse_factorial(14), i15 = inverse_factorial(15),
                         i16 = inverse_factorial(16);
        const double sn =
            a *
            (i1 -
             a2 * (i3 - a2 * (i5 - a2 * (i7 - a2 * (i9 - a2 * (i11 - a2 * (i13 - a2 * i15)))))));
        const double cs =
            1.0 -
            a2 * (i2 -
                  a2 * (i4 -
                        a2 * (i6 - a2 * (i8 - a2 * (i10 - a2 * (i12 - a2 * (i14 - a2 * i16)))))));
        // The quarter: odd ones swap cos and sin; cos is negative in the
        // second and third, sin in the third and fourth.
        const double quarter = q - 4.0 * std::floor(0.25 * q);
        const double upper = std::floor(0.5 * quarter);
        const double odd = quarter - 2.0 * upper;
        const double cc = odd * sn + (1.0 - odd) * cs;
        const double ss = odd * cs + (1.0 - odd) * sn;
        c[j] = (1.0 - 2.0 * (odd + upper - 2.0 * odd * upper)) * cc;
        s[j] = (1.0 - 2.0 * upper) * ss;
    }
}

// The moments of the six sums (cosines and sines of the phases, of the
// doubled phases, and of the phases times the values), each kMoments long,
// summed lane by lane.
[[gnu::always_inline]] inline void accumulate(const Series& s, double f, double* acc) {
    double lanes[6][kMoments][kLanes] = {};
    for (std::size_t i = 0; i < s.tau.size(); i += kLanes) {
        double c[kLanes], sn[kLanes], terms[6][kLanes], pw[kMoments][kLanes];
        phases(&s.tau[i], f, c, sn);
        for (std::size_t j = 0; j < kLanes; ++j) {
            const double h = s.h[i + j], hy = s.hy[i + j];
            terms[0][j] = h * c[j];
            terms[1][j] = h * sn[j];
            terms[2][j] = h * ((c[j] - sn[j]) * (c[j] + sn[j]));
            terms[3][j] = h * (2.0 * c[j] * sn[j]);
            terms[4][j] = hy * c[j];
            terms[5][j] = hy * sn[j];
            pw[0][j] = 1.0;
        }
        for (int m = 1; m < kMoments; ++m)
            for (std::size_t j = 0; j < kLanes; ++j) pw[m][j] = pw[m - 1][j] * s.v[i + j];
        for (int k = 0; k < 6; ++k)
            for (int m = 0; m < kMoments; ++m)
                for (std::size_t j = 0; j < kLanes; ++j) lanes[k][m][j] += pw[m][j] * terms[k][j];
    }
    for (int k = 0; k < 6; ++k)
        for (int m = 0; m < kMoments; ++m)
            acc[k * kMoments + m] =
                (lanes[k][m][0] + lanes[k][m][1]) + (lanes[k][m][2] + lanes[k][m][3]);
}

__attribute__((target("avx2,fma"))) void accumulate_avx2(const Series& s, double f, double* acc) {
    accumulate(s, f, acc);
}

void accumulate_plain(const Series& s, double f, double* acc) {
    accumulate(s, f, acc);
}

void build(const Series& s, double f, Base& b) {
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    double acc[6 * kMoments];
    if (avx2)
        accumulate_avx2(s, f, acc);
    else
        accumulate_plain(s, f, acc);
    b.f = f;
    for (int m = 0; m < kMoments; ++m) {
        b.e[m] = {acc[m], acc[kMoments + m]};
        b.e2[m] = {acc[2 * kMoments + m], acc[3 * kMoments + m]};
        b.ey[m] = {acc[4 * kMoments + m], acc[5 * kMoments + m]};
    }
}

// sum h v^j e^{i (theta + w x v)} for j = 0, 1, 2 from the moments.
std::array<std::complex<double>, 3> shifted(const Moments& e, double wx) {
    std::array<std::complex<double>, 3> out{};
    std::complex<double> coef = 1.0;
    const std::complex<double> z(0.0, wx);
    for (int k = 0; k < kTerms; ++k) {
        for (int j = 0; j < 3; ++j) out[j] += coef * e[k + j];
        coef *= z / static_cast<double>(k + 1);
    }
    return out;
}

// The real and imaginary parts of sum h v^j e^{i w (theta + x v)} as jets in
// x: d/dx multiplies the term by i w v.
Jet real_jet(const std::array<std::complex<double>, 3>& p, double w) {
    return {p[0].real(), -w * p[1].imag(), -w * w * p[2].real()};
}
Jet imag_jet(const std::array<std::complex<double>, 3>& p, double w) {
    return {p[0].imag(), w * p[1].real(), -w * w * p[2].imag()};
}

struct Point {
    Jet rho;          // rho times V, with its derivatives in x
    bool good = true; // the fit is far from singular
};

Point evaluate(const Series& s, const Base& b, double x) {
    const auto p = shifted(b.e, x), q = shifted(b.e2, 2.0 * x), r = shifted(b.ey, x);
    const double inv = 1.0 / s.weight;
    const Jet cbar = inv * real_jet(p, 1.0), sbar = inv * imag_jet(p, 1.0);
    const Jet c2 = (0.5 * inv) * real_jet(q, 2.0), s2 = (0.5 * inv) * imag_jet(q, 2.0);
    const Jet half{0.5, 0.0, 0.0};
    const Jet mcc = half + c2 - cbar * cbar;
    const Jet mss = half - c2 - sbar * sbar;
    const Jet mcs = s2 - cbar * sbar;
    const Jet y1 = inv * real_jet(r, 1.0), y2 = inv * imag_jet(r, 1.0);
    const Jet det = mcc * mss - mcs * mcs;
    Point out;
    // Close to a singular fit (near zero frequency, or an alias of regular
    // sampling) the sums lose too many digits to this formulation: the
    // variances of the cosines and sines (at most 1) are differences that
    // cancel, and so is the determinant.
    out.good =
        std::isfinite(det.v) && mcc.v > 1e-5 && mss.v > 1e-5 && det.v > 1e-6 * (mcc.v * mss.v);
    if (!out.good) return out;
    out.rho = (mss * y1 * y1 - 2.0 * (mcs * y1 * y2) + mcc * y2 * y2) / det;
    out.good = std::isfinite(out.rho.v) && std::isfinite(out.rho.d) && std::isfinite(out.rho.dd);
    return out;
}

// The maximum in [lo, hi] from `start`; NaN when the search cannot tell.
double refine(const Series& s, const PeakBracket& bracket) {
    constexpr int kIterations = 120, kNewton = 12, kBases = 12;
    const double eps = std::numeric_limits<double>::epsilon();
    Base b;
    build(s, bracket.start, b);
    double lo = (bracket.lo - b.f) * s.scale, hi = (bracket.hi - b.f) * s.scale;
    double x = 0.0;
    int bases = 1;
    for (int it = 0; it < kIterations; ++it) {
        const Point pt = evaluate(s, b, x);
        if (!pt.good) return std::numeric_limits<double>::quiet_NaN();
        const double g = pt.rho.d, curve = pt.rho.dd;
        if (g > 0.0)
            lo = std::max(lo, x);
        else if (g < 0.0)
            hi = std::min(hi, x);
        else
            return b.f + x / s.scale;
        // Newton's step while it stays inside the bracket and comes down
        // fast; halving the bracket otherwise (a flat top, where the
        // derivative is mostly rounding).
        double next = it < kNewton && curve < 0.0 ? x - g / curve : lo - 1.0;
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        const double f = b.f + next / s.scale;
        const double tiny = std::max(1e-12, 4.0 * eps * std::fabs(f) * s.scale);
        if (std::fabs(next - x) <= tiny || hi - lo <= tiny) return f;
        if (std::fabs(next) > kReach) {
            if (++bases > kBases) return std::numeric_limits<double>::quiet_NaN();
            build(s, f, b);
            lo -= next;
            hi -= next;
            next = 0.0;
        }
        x = next;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

std::vector<double> refine_maxima(const Prepared& series, std::span<const PeakBracket> brackets,
                                  unsigned threads) {
    std::vector<double> out(brackets.size(), std::numeric_limits<double>::quiet_NaN());
    if (brackets.empty() || series.t.size() < 2) return out;
    const Series s = centred(series);
    if (!(s.scale > 0.0) || !(s.weight > 0.0)) return out;
    parallel_run(brackets.size(), threads, &series.interruption_point,
                 [&](std::size_t i, unsigned) { out[i] = refine(s, brackets[i]); });
    return out;
}

} // namespace fasogram::detail
