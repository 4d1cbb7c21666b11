#include "spectrum_fast.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace fasogram {
namespace {

// Eight doubles side by side.  The compiler maps them onto whatever vector
// registers the target has (one AVX-512 register, two AVX ones, four SSE2
// ones), so the same source serves every processor.
using vd = double __attribute__((vector_size(64)));
constexpr std::size_t kLanes = 8;

// Points are processed in blocks that stay in the first-level cache while
// the frequencies of a group run over them.
constexpr std::size_t kBlockVectors = 64; // 512 points
// Frequencies between two exact anchors of the phases.  The rotation that
// carries a phase from one frequency to the next loses about one rounding
// per step, so after 256 steps the phases are still good to ~1e-14.
constexpr std::size_t kGroup = 256;

// 2 pi as an unevaluated sum of two doubles.
constexpr double kTwoPiHi = 6.283185307179586;
constexpr double kTwoPiLo = 2.4492935982947064e-16;

// The phase 2 pi t f reduced to (-pi, pi], from an exact product: t*f = p + e
// with e from an FMA, p split into whole cycles (dropped) and a fraction.
inline double reduced_phase(double t, double f) {
    const double p = t * f;
    const double e = std::fma(t, f, -p);
    const double r = (p - std::nearbyint(p)) + e;
    return std::fma(kTwoPiHi, r, kTwoPiLo * r);
}

// A zeroed array of vectors on a 64-byte boundary (std::vector does not
// promise that alignment for vector types on every compiler).
class VecArray {
  public:
    VecArray() = default;
    explicit VecArray(std::size_t n)
        : n_(n), p_(static_cast<vd*>(::operator new[](n * sizeof(vd), std::align_val_t{64}))) {
        for (std::size_t i = 0; i < n; ++i) p_.get()[i] = vd{};
    }
    vd& operator[](std::size_t i) { return p_.get()[i]; }
    const vd& operator[](std::size_t i) const { return p_.get()[i]; }
    vd* data() { return p_.get(); }
    std::size_t size() const { return n_; }

  private:
    struct Free {
        void operator()(vd* p) const { ::operator delete[](p, std::align_val_t{64}); }
    };
    std::size_t n_ = 0;
    std::unique_ptr<vd[], Free> p_;
};

// The series laid out for the kernel, padded with zero-weight points to a
// whole number of vectors.
struct Series {
    std::size_t vectors = 0;
    VecArray t;  // times
    VecArray w;  // normalised weights
    VecArray wx; // w * (x - centre)
    VecArray rc; // cos and sin of the phase step 2 pi t df
    VecArray rs;
    std::span<const double> t_in, w_in, x_in; // the series as given
    long double mean = 0;                     // weighted mean and variance of the uncentred series
    long double var_raw = 0;
    double centre = 0;      // the weighted mean in double, subtracted from x
    long double dm = 0;     // mean - centre, the first right-hand side after centring
    long double excess = 0; // sum of the weights minus 1 (rounding of the normalisation)
};

Series prepare(std::span<const double> t, std::span<const double> w, std::span<const double> x,
               double df) {
    Series s;
    const std::size_t n = t.size();
    s.vectors = (n + kLanes - 1) / kLanes;
    s.vectors = (s.vectors + kBlockVectors - 1) / kBlockVectors * kBlockVectors;
    s.t = VecArray(s.vectors);
    s.w = VecArray(s.vectors);
    s.wx = VecArray(s.vectors);
    s.rc = VecArray(s.vectors);
    s.rs = VecArray(s.vectors);

    s.t_in = t;
    s.w_in = w;
    s.x_in = x;
    long double mean = 0, s2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const long double wx = static_cast<long double>(x[i]) * w[i];
        mean += wx;
        s2 += x[i] * wx;
    }
    long double sum_w = 0;
    for (std::size_t i = 0; i < n; ++i) sum_w += w[i];
    s.mean = mean;
    s.var_raw = s2 - mean * mean;
    s.centre = static_cast<double>(mean);
    s.dm = mean - s.centre;
    s.excess = sum_w - 1;

    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t v = i / kLanes, l = i % kLanes;
        s.t[v][l] = t[i];
        s.w[v][l] = w[i];
        s.wx[v][l] = w[i] * (x[i] - s.centre);
        const double step = reduced_phase(t[i], df);
        s.rc[v][l] = std::cos(step);
        s.rs[v][l] = std::sin(step);
    }
    return s;
}

// The seven sums of one frequency: sum w c, sum w s, sum w c c, sum w c s,
// sum w s s, sum wx c, sum wx s.
struct Sums {
    double wc = 0, ws = 0, wcc = 0, wcs = 0, wss = 0, xc = 0, xs = 0;
};

// One group of frequencies over one block of points.  `eps[k]` is the small
// phase-rate correction of frequency k of the group: its exact value minus
// anchor + k*df, times 2 pi.  c and s hold the block's phases at the anchor
// and are advanced as the group goes on.
struct Block {
    const vd* __restrict t;
    const vd* __restrict w;
    const vd* __restrict wx;
    const vd* __restrict rc;
    const vd* __restrict rs;
    vd* __restrict c;
    vd* __restrict s;
    std::size_t nvec;
};

#if defined(__GNUC__)
#define FASOGRAM_INLINE inline __attribute__((always_inline))
#else
#define FASOGRAM_INLINE inline
#endif

FASOGRAM_INLINE void kernel_body(const Block& b, const double* eps, std::size_t nfreq, Sums* out) {
    for (std::size_t k = 0; k < nfreq; ++k) {
        const vd e = vd{} + eps[k];
        vd a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {};
        for (std::size_t v = 0; v < b.nvec; ++v) {
            const vd cv = b.c[v], sv = b.s[v], wv = b.w[v], xv = b.wx[v];
            // Phase at the exact frequency: a first-order turn by e*t, which
            // is below 1e-7 radians for any sensible grid.
            const vd et = e * b.t[v];
            const vd cc = cv - et * sv;
            const vd ss = sv + et * cv;
            const vd wc = wv * cc;
            const vd ws = wv * ss;
            a1 += wc;
            a2 += ws;
            a3 += wc * cc;
            a4 += wc * ss;
            a5 += xv * cc;
            a6 += xv * ss;
            a7 += ws * ss;
            b.c[v] = cv * b.rc[v] - sv * b.rs[v];
            b.s[v] = sv * b.rc[v] + cv * b.rs[v];
        }
        Sums& o = out[k];
        for (std::size_t l = 0; l < kLanes; ++l) {
            o.wc += a1[l];
            o.ws += a2[l];
            o.wcc += a3[l];
            o.wcs += a4[l];
            o.wss += a7[l];
            o.xc += a5[l];
            o.xs += a6[l];
        }
    }
}

void kernel_generic(const Block& b, const double* eps, std::size_t nfreq, Sums* out) {
    kernel_body(b, eps, nfreq, out);
}

// Vector paths for x86-64 processors that have them, chosen at run time by
// what the processor reports (not by its model name, which virtual machines
// often hide).
#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_HAVE_X86_PATHS 1
__attribute__((target("avx2,fma"))) void kernel_avx2(const Block& b, const double* eps,
                                                     std::size_t nfreq, Sums* out) {
    kernel_body(b, eps, nfreq, out);
}

__attribute__((target("avx512f,avx512dq,avx512vl,fma"))) void
kernel_avx512(const Block& b, const double* eps, std::size_t nfreq, Sums* out) {
    kernel_body(b, eps, nfreq, out);
}
#endif

using Kernel = void (*)(const Block&, const double*, std::size_t, Sums*);

Kernel pick_kernel() {
#ifdef FASOGRAM_HAVE_X86_PATHS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("fma"))
        return kernel_avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return kernel_avx2;
#endif
    return kernel_generic;
}

// Cramer's rule with the determinants expanded along the first row, for the
// normal matrix (1 f12 f13; f12 f22 f23; f13 f23 f33) and right-hand side
// (b1 f2x f3x).
struct Solution {
    long double c1, c2, c3;
};

Solution cramer(long double f12, long double f13, long double f22, long double f23, long double f33,
                long double b1, long double f2x, long double f3x) {
    const long double m22 = f22 * f33 - f23 * f23;
    const long double m12 = f12 * f33 - f23 * f13;
    const long double m13 = f12 * f23 - f22 * f13;
    const long double det = m22 - f12 * m12 + f13 * m13;
    return {(b1 * m22 - f12 * (f2x * f33 - f23 * f3x) + f13 * (f2x * f23 - f22 * f3x)) / det,
            ((f2x * f33 - f23 * f3x) - b1 * m12 + f13 * (f12 * f3x - f2x * f13)) / det,
            ((f22 * f3x - f2x * f23) - f12 * (f12 * f3x - f2x * f13) + b1 * m13) / det};
}

// The 1-norm condition number of the normal matrix, from its cofactors.
double condition(double f12, double f13, double f22, double f23, double f33) {
    const double a[3][3] = {{1, f12, f13}, {f12, f22, f23}, {f13, f23, f33}};
    double cof[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            cof[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
        }
    const double det = a[0][0] * cof[0][0] + a[0][1] * cof[0][1] + a[0][2] * cof[0][2];
    double na = 0, ni = 0;
    for (int j = 0; j < 3; ++j) {
        na = std::max(na, std::fabs(a[0][j]) + std::fabs(a[1][j]) + std::fabs(a[2][j]));
        ni = std::max(ni, std::fabs(cof[j][0]) + std::fabs(cof[j][1]) + std::fabs(cof[j][2]));
    }
    const double c = na * ni / std::fabs(det);
    return std::isfinite(c) ? c : HUGE_VAL;
}

// Above this condition number the rounding of the vector sums (about 1e-15
// of their size) would show in the coefficients, so the frequency is
// evaluated again the careful way.
constexpr double kCarefulCondition = 1e3;

// The careful evaluation of one frequency: phases from the exact product,
// trigonometry and sums in extended precision in index order, P from a
// second pass.  About as slow as the straightforward evaluation, and used
// only where the fit is ill-conditioned.
SineFit careful_fit(const Series& sr, double f) {
    using ld = long double;
    constexpr ld two_pi = 6.283185307179586476925286766559L;
    const std::size_t n = sr.t_in.size();
    std::vector<ld> ca(n), sa(n);
    ld f12 = 0, f13 = 0, f22 = 0, f23 = 0, f33 = 0, f2x = 0, f3x = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = sr.t_in[i];
        const double p = t * f;
        const double e = std::fma(t, f, -p);
        const ld th = two_pi * (static_cast<ld>(p - std::nearbyint(p)) + e);
        const ld c = std::cos(th), s = std::sin(th);
        ca[i] = c;
        sa[i] = s;
        const ld w = sr.w_in[i], wx = static_cast<ld>(sr.x_in[i]) * sr.w_in[i];
        f12 += w * c;
        f13 += w * s;
        f22 += c * (w * c);
        f23 += c * (w * s);
        f33 += s * (w * s);
        f2x += wx * c;
        f3x += wx * s;
    }
    const Solution c = cramer(f12, f13, f22, f23, f33, sr.mean, f2x, f3x);
    ld power = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const ld y = c.c1 + c.c2 * ca[i] + c.c3 * sa[i];
        power += sr.w_in[i] * y * y;
    }
    SineFit r;
    r.c1 = static_cast<double>(c.c1);
    r.c2 = static_cast<double>(c.c2);
    r.c3 = static_cast<double>(c.c3);
    r.rho = static_cast<double>(std::fabs((power - sr.mean * sr.mean) / sr.var_raw));
    return r;
}

// Solves the normal equations for one frequency from the vector sums of the
// centred series and forms rho, or hands an ill-conditioned frequency to the
// careful evaluation.
SineFit solve(const Sums& u, const Series& sr, double f) {
    if (!(condition(u.wc, u.ws, u.wcc, u.wcs, u.wss) <= kCarefulCondition))
        return careful_fit(sr, f);
    using ld = long double;
    const ld b1 = sr.dm, f2x = u.xc, f3x = u.xs;
    const Solution c = cramer(u.wc, u.ws, u.wcc, u.wcs, u.wss, b1, f2x, f3x);
    // The normal equations take the sum of the weights as exactly 1, so the
    // solution of the centred system is that of the uncentred one with C1
    // moved by the centre, and P - m^2 = C'.b' - dm^2, free of cancellation.
    // P itself is a sum over the actual weights, whose total may differ from
    // 1 by a few roundings: that adds excess * C1^2.
    const ld c1 = sr.centre + c.c1;
    const ld power = c.c1 * b1 + c.c2 * f2x + c.c3 * f3x - b1 * b1 + sr.excess * c1 * c1;
    SineFit r;
    r.c1 = static_cast<double>(c1);
    r.c2 = static_cast<double>(c.c2);
    r.c3 = static_cast<double>(c.c3);
    r.rho = static_cast<double>(std::fabs(power / sr.var_raw));
    return r;
}

// The correction of frequency f against the linear grid anchor + k*df, as an
// exact difference times 2 pi.
double rate_correction(double f, double anchor, double k, double df) {
    // a = f - anchor exactly as a + ea (two-sum), q = k*df exactly as q + eq.
    const double a = f - anchor;
    const double bb = a - f;
    const double ea = (f - (a - bb)) + (-anchor - bb);
    const double q = k * df;
    const double eq = std::fma(k, df, -q);
    const double delta = ((a - q) + ea) - eq;
    return kTwoPiHi * delta;
}

void run_group(Kernel kernel, const Series& sr, std::span<const double> freqs, double df,
               std::size_t first, std::size_t count, VecArray& c, VecArray& s,
               std::vector<double>& eps, std::vector<Sums>& sums, std::span<SineFit> out) {
    const double anchor = freqs[first];
    for (std::size_t k = 0; k < count; ++k)
        eps[k] = rate_correction(freqs[first + k], anchor, static_cast<double>(k), df);
    std::fill(sums.begin(), sums.begin() + count, Sums{});
    for (std::size_t b = 0; b < sr.vectors; b += kBlockVectors) {
        for (std::size_t v = 0; v < kBlockVectors; ++v)
            for (std::size_t l = 0; l < kLanes; ++l) {
                const double th = reduced_phase(sr.t[b + v][l], anchor);
                c[v][l] = std::cos(th);
                s[v][l] = std::sin(th);
            }
        const Block blk{&sr.t[b],  &sr.w[b], &sr.wx[b], &sr.rc[b],
                        &sr.rs[b], c.data(), s.data(),  kBlockVectors};
        kernel(blk, eps.data(), count, sums.data());
    }
    for (std::size_t k = 0; k < count; ++k) out[first + k] = solve(sums[k], sr, freqs[first + k]);
}

} // namespace

void fit_spectrum_fast(std::span<const double> t, std::span<const double> w,
                       std::span<const double> x, std::span<const double> freqs, double df,
                       std::span<SineFit> out, unsigned threads) {
    const std::size_t nf = std::min(freqs.size(), out.size());
    if (nf == 0) return;
    const Series sr = prepare(t, w, x, df);
    const std::size_t groups = (nf + kGroup - 1) / kGroup;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, groups));

    const Kernel kernel = pick_kernel();
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        VecArray c(kBlockVectors), s(kBlockVectors);
        std::vector<double> eps(kGroup);
        std::vector<Sums> sums(kGroup);
        for (std::size_t g; (g = next.fetch_add(1)) < groups;) {
            const std::size_t first = g * kGroup;
            run_group(kernel, sr, freqs, df, first, std::min(kGroup, nf - first), c, s, eps, sums,
                      out);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < threads; ++i) pool.emplace_back(worker);
    worker();
    for (auto& th : pool) th.join();
}

} // namespace fasogram
