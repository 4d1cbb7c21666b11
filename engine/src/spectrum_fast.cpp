// The fast evaluation: a group of frequencies that follow each other on a
// grid shares one exact anchor of the phases, and the phases of the next
// frequencies are reached by rotating each point's phase by 2 pi t df.  The
// sums run eight points side by side in blocks that stay in the first-level
// cache, compiled for the vector units the processor reports.
//
// Error bounds.  A phase is off by a few roundings at the anchor and by
// under one more per rotation (the rotation's cosine and sine are the exact
// values rounded); the sums add their own roundings.  These errors differ
// from point to point like independent roundings, so a sum of n terms is
// bounded the probabilistic way, lambda sqrt(sum of squares) times the unit,
// with lambda = 6 (a bound that fails with a chance of about 1e-9, and then
// only matters near a rounding boundary).
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>

namespace fasogram::detail {
namespace {

// Eight doubles side by side.  The compiler maps them onto whatever vector
// registers the target has (one AVX-512 register, two AVX ones, four SSE2
// ones), so the same source serves every processor.
using vd = double __attribute__((vector_size(64)));
constexpr std::size_t kLanes = 8;
// 64 vectors = 512 points per block; each lane sums 64 terms of a block.
constexpr std::size_t kBlockVectors = 64;

constexpr double kUnit = std::numeric_limits<double>::epsilon() / 2;
constexpr double kLongUnit = std::numeric_limits<long double>::epsilon() / 2;
constexpr double kLambda = 6.0;

// 2 pi as an unevaluated sum of two doubles.
constexpr double kTwoPiHi = 6.283185307179586;
constexpr double kTwoPiLo = 2.4492935982947064e-16;

// The phase 2 pi t f reduced to (-pi, pi], from an exact product.
inline double reduced_phase(double t, double f) {
    const dd::DD r = dd::cycles(t, f);
    return std::fma(kTwoPiHi, r.hi, kTwoPiLo * r.hi + kTwoPiHi * r.lo);
}

// A zeroed array of vectors on a 64-byte boundary.
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
    const vd* data() const { return p_.get(); }
    std::size_t size() const { return n_; }

  private:
    struct Free {
        void operator()(vd* p) const { ::operator delete[](p, std::align_val_t{64}); }
    };
    std::size_t n_ = 0;
    std::unique_ptr<vd[], Free> p_;
};

using LSums = Sums<long double>;

// One group of frequencies over one block of points.
struct Block {
    const vd* __restrict t;
    const vd* __restrict h;
    const vd* __restrict hy;
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

// `eps[k]` is the phase-rate correction of frequency k of the group: its
// exact value less anchor + k*df, times 2 pi.  The lane sums of frequency k
// go to part[7k .. 7k+6]; the caller adds them up in extended precision
// (outside the vector code, which long double arithmetic would slow down).
// The body works on vectors of W doubles: the full eight where the
// processor has 32 vector registers, four (half a block vector) where it has
// 16, so that the seven sums and the phases stay in registers.
template <class W>
FASOGRAM_INLINE void kernel_body(const Block& b, const double* eps, std::size_t nfreq, vd* part) {
    constexpr std::size_t kSplit = sizeof(vd) / sizeof(W);
    const std::size_t n = b.nvec * kSplit;
    const W* __restrict t = reinterpret_cast<const W*>(b.t);
    const W* __restrict h = reinterpret_cast<const W*>(b.h);
    const W* __restrict hy = reinterpret_cast<const W*>(b.hy);
    const W* __restrict rc = reinterpret_cast<const W*>(b.rc);
    const W* __restrict rs = reinterpret_cast<const W*>(b.rs);
    W* __restrict c = reinterpret_cast<W*>(b.c);
    W* __restrict s = reinterpret_cast<W*>(b.s);
    for (std::size_t k = 0; k < nfreq; ++k) {
        const W e = W{} + eps[k];
        W a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {};
        for (std::size_t v = 0; v < n; ++v) {
            const W cv = c[v], sv = s[v], wv = h[v], xv = hy[v];
            // The phase at the exact frequency: a first-order turn by e*t.
            const W et = e * t[v];
            const W cc = cv - et * sv;
            const W ss = sv + et * cv;
            const W wc = wv * cc;
            const W ws = wv * ss;
            a1 += wc;
            a2 += ws;
            a3 += wc * cc;
            a4 += wc * ss;
            a5 += xv * cc;
            a6 += xv * ss;
            a7 += ws * ss;
            c[v] = cv * rc[v] - sv * rs[v];
            s[v] = sv * rc[v] + cv * rs[v];
        }
        const W sums[7] = {a1, a2, a3, a4, a7, a5, a6};
        for (int i = 0; i < 7; ++i) {
            vd o = {};
            for (std::size_t l = 0; l < sizeof(W) / sizeof(double); ++l) o[l] = sums[i][l];
            part[7 * k + static_cast<std::size_t>(i)] = o;
        }
    }
}

using vd4 = double __attribute__((vector_size(32), may_alias));
using vd8 = double __attribute__((vector_size(64), may_alias));

void kernel_generic(const Block& b, const double* eps, std::size_t nfreq, vd* out) {
    kernel_body<vd4>(b, eps, nfreq, out);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_HAVE_X86_PATHS 1
__attribute__((target("avx2,fma"))) void kernel_avx2(const Block& b, const double* eps,
                                                     std::size_t nfreq, vd* out) {
    kernel_body<vd4>(b, eps, nfreq, out);
}

__attribute__((target("avx512f,avx512dq,avx512vl,fma"))) void
kernel_avx512(const Block& b, const double* eps, std::size_t nfreq, vd* out) {
    kernel_body<vd8>(b, eps, nfreq, out);
}
#endif

using Kernel = void (*)(const Block&, const double*, std::size_t, vd*);

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

const Kernel kKernel = pick_kernel();

// The correction of frequency f against the linear grid anchor + k*df, as an
// exact difference times 2 pi.
double rate_correction(double f, double anchor, double k, double df) {
    const dd::DD a = dd::two_sum(f, -anchor);
    const dd::DD q = dd::two_prod(k, df);
    const double delta = ((a.hi - q.hi) + a.lo) - q.lo;
    return kTwoPiHi * delta;
}

} // namespace

// The series laid out for the kernel, padded with zero-weight points to a
// whole number of blocks, and the constants of the error bounds.
struct Prepared::Layout {
    std::size_t vectors = 0;
    VecArray t, h, hy;
    double norm_h = 0.0, norm_hy = 0.0; // sqrt(sum h^2), sqrt(sum (h y)^2)
    double part_h = 0.0, part_hy = 0.0; // sqrt(64 sum over lane blocks of (sum |term|)^2)
    double long_h = 0.0, long_hy = 0.0; // rounding of the long double totals
};

std::shared_ptr<const Prepared::Layout> make_layout(const Prepared& p) {
    auto l = std::make_shared<Prepared::Layout>();
    const std::size_t n = p.t.size();
    std::size_t vectors = (n + kLanes - 1) / kLanes;
    vectors = (vectors + kBlockVectors - 1) / kBlockVectors * kBlockVectors;
    l->vectors = vectors;
    l->t = VecArray(vectors);
    l->h = VecArray(vectors);
    l->hy = VecArray(vectors);
    double sh2 = 0, shy2 = 0, sum_h = 0, sum_hy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t v = i / kLanes, ln = i % kLanes;
        l->t[v][ln] = p.t[i];
        l->h[v][ln] = p.h[i];
        l->hy[v][ln] = p.h[i] * p.y[i];
        sh2 += p.h[i] * p.h[i];
        shy2 += l->hy[v][ln] * l->hy[v][ln];
        sum_h += p.h[i];
        sum_hy += std::fabs(l->hy[v][ln]);
    }
    double qh = 0, qhy = 0;
    std::size_t lane_blocks = 0;
    for (std::size_t b = 0; b < vectors; b += kBlockVectors)
        for (std::size_t ln = 0; ln < kLanes; ++ln) {
            double bh = 0, bhy = 0;
            for (std::size_t v = b; v < b + kBlockVectors; ++v) {
                bh += l->h[v][ln];
                bhy += std::fabs(l->hy[v][ln]);
            }
            qh += bh * bh;
            qhy += bhy * bhy;
            ++lane_blocks;
        }
    l->norm_h = std::sqrt(sh2);
    l->norm_hy = std::sqrt(shy2);
    l->part_h = std::sqrt(static_cast<double>(kBlockVectors) * qh);
    l->part_hy = std::sqrt(static_cast<double>(kBlockVectors) * qhy);
    const double lb = std::sqrt(static_cast<double>(lane_blocks));
    l->long_h = lb * kLongUnit * sum_h;
    l->long_hy = lb * kLongUnit * sum_hy;
    return l;
}

// The cosine and sine of each point's step 2 pi t df, the exact values
// rounded to double.
struct FastEvaluator::Steps {
    VecArray rc, rs;
};

struct FastEvaluator::Scratch {
    VecArray c{kBlockVectors}, s{kBlockVectors};
    std::vector<double> eps = std::vector<double>(kFastGroup);
    std::vector<LSums> sums = std::vector<LSums>(kFastGroup);
    VecArray part{7 * kFastGroup};
};

FastEvaluator::FastEvaluator(const Prepared& series, double df)
    : series_(series), df_(df), steps_(std::make_unique<Steps>()) {
    const Prepared::Layout& l = *series.layout;
    steps_->rc = VecArray(l.vectors);
    steps_->rs = VecArray(l.vectors);
    for (std::size_t i = 0; i < series.t.size(); ++i) {
        if (df == 0.0) {
            steps_->rc[i / kLanes][i % kLanes] = 1.0;
            continue;
        }
        const dd::SinCos sc = dd::sincos_cycles(dd::cycles(series.t[i], df));
        steps_->rc[i / kLanes][i % kLanes] = dd::to_double(sc.c);
        steps_->rs[i / kLanes][i % kLanes] = dd::to_double(sc.s);
    }
}

FastEvaluator::~FastEvaluator() = default;

std::shared_ptr<FastEvaluator::Scratch> FastEvaluator::scratch() const {
    return std::make_shared<Scratch>();
}

void FastEvaluator::evaluate(std::span<const double> freqs, std::span<Evaluation> out,
                             Scratch& sc) const {
    const Prepared::Layout& l = *series_.layout;
    const std::size_t count = std::min({freqs.size(), out.size(), kFastGroup});
    if (count == 0) return;
    const double anchor = freqs[0];
    for (std::size_t k = 0; k < count; ++k)
        sc.eps[k] = rate_correction(freqs[k], anchor, static_cast<double>(k), df_);
    std::fill(sc.sums.begin(), sc.sums.begin() + static_cast<std::ptrdiff_t>(count), LSums{});
    for (std::size_t b = 0; b < l.vectors; b += kBlockVectors) {
        for (std::size_t v = 0; v < kBlockVectors; ++v)
            for (std::size_t ln = 0; ln < kLanes; ++ln) {
                const double th = reduced_phase(l.t[b + v][ln], anchor);
                sc.c[v][ln] = std::cos(th);
                sc.s[v][ln] = std::sin(th);
            }
        const Block blk{&l.t[b],        &l.h[b],     &l.hy[b],    &steps_->rc[b],
                        &steps_->rs[b], sc.c.data(), sc.s.data(), kBlockVectors};
        kKernel(blk, sc.eps.data(), count, sc.part.data());
        for (std::size_t k = 0; k < count; ++k) {
            const vd* o = &sc.part[7 * k];
            LSums& u = sc.sums[k];
            for (std::size_t ln = 0; ln < kLanes; ++ln) {
                u.hc += o[0][ln];
                u.hs += o[1][ln];
                u.hcc += o[2][ln];
                u.hcs += o[3][ln];
                u.hss += o[4][ln];
                u.hyc += o[5][ln];
                u.hys += o[6][ln];
            }
        }
    }
    for (std::size_t k = 0; k < count; ++k) {
        // Phase error of every point: the anchor (reduction, cosine and sine),
        // under one rounding per rotation plus the rotation's own arithmetic,
        // and the second order of the rate correction.
        const double kd = static_cast<double>(k);
        const double et = sc.eps[k] * series_.t_max;
        const double phase = (6.0 + 0.75 * kd + 2.0 * std::sqrt(kd)) * kUnit + 0.5 * et * et;
        SumBounds bd;
        bd.mu = kLambda * (2.0 * phase * l.norm_h + kUnit * l.part_h) + kLambda * l.long_h;
        bd.eta =
            kLambda * ((phase + 3.0 * kUnit) * l.norm_hy + kUnit * l.part_hy) + kLambda * l.long_hy;
        bd.unit = kLongUnit;
        out[k] = solve_fit(sc.sums[k], series_, series_.centre_offset, bd, freqs[k]);
    }
}

} // namespace fasogram::detail
