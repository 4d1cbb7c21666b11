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
#include "target_region.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>

#include <immintrin.h>

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

using Lanes = double __attribute__((vector_size(8 * kLanes)));
// The moments' sums take their four lanes apart, two moments at a time.
static_assert(kLanes == 4 && kMoments % 2 == 0);

// The moments for processors without AVX2: the lanes rounded one by one by
// the library.  (By reference: vectors wider than the plain target's
// registers are not passed by value.)
namespace plain {
[[gnu::always_inline]] inline void nearest(Lanes& x) {
    for (std::size_t j = 0; j < kLanes; ++j) x[j] = std::nearbyint(x[j]);
}
[[gnu::always_inline]] inline void down(Lanes& x) {
    for (std::size_t j = 0; j < kLanes; ++j) x[j] = std::floor(x[j]);
}
#include "peak_moments.inc"
} // namespace plain

// With AVX2 and fused multiply-adds: one instruction for each rounding.
FASOGRAM_TARGET_BEGIN("avx2,fma")
namespace avx2 {
[[gnu::always_inline]] inline void nearest(Lanes& x) {
    x = (Lanes)_mm256_round_pd((__m256d)x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
[[gnu::always_inline]] inline void down(Lanes& x) {
    x = (Lanes)_mm256_round_pd((__m256d)x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}
#include "peak_moments.inc"
} // namespace avx2
FASOGRAM_TARGET_END

// The moments' code: the AVX2 code where the processor runs it and `most`
// allows it, the plain code otherwise.
struct MomentCode {
    void (*accumulate)(const Series&, double, double*, std::vector<double>&);
    unsigned lanes;
};

MomentCode pick_moment_code(unsigned most = 4) {
    if (most >= 4 && cpu_has_avx2_fma()) return {avx2::accumulate, 4};
    return {plain::accumulate, 2};
}

MomentCode kMomentCode = pick_moment_code();

void build(const Series& s, double f, Base& b, std::vector<double>& work) {
    double acc[6 * kMoments];
    kMomentCode.accumulate(s, f, acc, work);
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
// `work` is the moments' scratch, kept by the caller from bracket to bracket.
double refine(const Series& s, const PeakBracket& bracket, std::vector<double>& work) {
    constexpr int kIterations = 120, kNewton = 12, kBases = 12;
    const double eps = std::numeric_limits<double>::epsilon();
    Base b;
    build(s, bracket.start, b, work);
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
            build(s, f, b, work);
            lo -= next;
            hi -= next;
            next = 0.0;
        }
        x = next;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

unsigned peak_moment_lanes(unsigned most) {
    if (most != 0 && most != 2 && most != 4)
        throw std::invalid_argument("peak_moment_lanes: 0, 2 or 4");
    kMomentCode = pick_moment_code(most == 0 ? 4 : most);
    return kMomentCode.lanes;
}

std::vector<double> refine_maxima(const Prepared& series, std::span<const PeakBracket> brackets,
                                  unsigned threads) {
    std::vector<double> out(brackets.size(), std::numeric_limits<double>::quiet_NaN());
    if (brackets.empty() || series.t.size() < 2) return out;
    const Series s = centred(series);
    if (!(s.scale > 0.0) || !(s.weight > 0.0)) return out;
    // One scratch for each worker of the run.
    std::vector<std::vector<double>> work(parallel_workers(brackets.size(), threads));
    parallel_run(brackets.size(), threads, &series.interruption_point,
                 [&](std::size_t i, unsigned id) { out[i] = refine(s, brackets[i], work[id]); });
    return out;
}

} // namespace fasogram::detail
