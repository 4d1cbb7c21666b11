// The fast evaluation: a group of frequencies that follow each other on a
// grid shares one anchor of the phases, and the phases of the next
// frequency are reached by rotating each point's phase by 2 pi t d, d the
// exact difference of the two frequencies (a grid's differences take a
// few values, each with its table of cosines and sines).  The sums run
// eight points side by side in blocks that stay in the first-level cache,
// compiled for the vector units the processor reports.
//
// Error bounds.  A phase is off by a few roundings at the anchor and by a
// few more per rotation (the table's cosine and sine are as good as an
// anchor's); the sums add their own roundings.  The points' errors are
// added up in the worst case (points whose phases repeat make the same
// errors), so the bound grows with the rotations: a group of kFastGroup
// frequencies keeps it small enough that few frequencies need fitting
// again at their own anchor (see FastEvaluator::evaluate).
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"
#include "spectrum_solve_batch.hpp"
#include "target_region.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace fasogram::detail {
namespace {

// Eight doubles side by side.  The compiler maps them onto whatever vector
// registers the target has (one AVX-512 register, two AVX ones, four SSE2
// ones), so the same source serves every processor.
using vd = double __attribute__((vector_size(64)));
constexpr std::size_t kLanes = 8;
// 64 vectors = 512 points per block; each lane sums 64 terms of a block.
constexpr std::size_t kBlockVectors = 64;
// The six sums the kernel adds up per frequency: sum h c, h s, h c c, h c s,
// h y c, h y s.  The seventh, sum h s s, is sum h less sum h c c.
constexpr std::size_t kSums = 6;

constexpr double kUnit = std::numeric_limits<double>::epsilon() / 2;
constexpr double kLongUnit = std::numeric_limits<long double>::epsilon() / 2;

// 2 pi as an unevaluated sum of two doubles.
constexpr double kTwoPiHi = 6.283185307179586;
constexpr double kTwoPiLo = 2.4492935982947064e-16;

// An array of vectors on a 64-byte boundary, zeroed unless `fill` says
// otherwise; those of a long series from the memory of earlier calls.
class VecArray {
  public:
    VecArray() = default;
    explicit VecArray(std::size_t n, bool fill = true) : n_(n), p_(take(n), Free{n}) {
        if (fill)
            for (std::size_t i = 0; i < n; ++i) p_.get()[i] = vd{};
    }
    vd& operator[](std::size_t i) { return p_.get()[i]; }
    const vd& operator[](std::size_t i) const { return p_.get()[i]; }
    vd* data() { return p_.get(); }
    const vd* data() const { return p_.get(); }
    std::size_t size() const { return n_; }

  private:
    static vd* take(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(vd)) throw std::bad_alloc();
        if (n * sizeof(vd) >= kRecycledFrom) return static_cast<vd*>(take_recycled(n * sizeof(vd)));
        return static_cast<vd*>(::operator new[](n * sizeof(vd), std::align_val_t{64}));
    }
    struct Free {
        std::size_t n = 0;
        void operator()(vd* p) const {
            if (n * sizeof(vd) >= kRecycledFrom)
                give_recycled(p, n * sizeof(vd));
            else
                ::operator delete[](p, std::align_val_t{64});
        }
    };
    std::size_t n_ = 0;
    std::unique_ptr<vd[], Free> p_{nullptr, Free{0}};
};

using LSums = Sums<long double>;

// One run of frequencies over one block of points: rc[k] and rs[k] are the
// block's part of the table that turns frequency k's phases to the next
// frequency's (null for the run's last).
struct Block {
    const vd* __restrict h;
    const vd* __restrict hy;
    const vd* const* rc;
    const vd* const* rs;
    vd* __restrict c;
    vd* __restrict s;
    std::size_t nvec;
    bool pairs; // two frequencies a pass where the target has the registers
};

#if defined(__GNUC__)
#define FASOGRAM_INLINE inline __attribute__((always_inline))
#else
#define FASOGRAM_INLINE inline
#endif

// The vector code, once per target: a namespace with W, the vector type,
// and Ops, its fused multiply-add and rounding to the nearest whole number.
// The plain version works on two lanes (the vectors every processor has) and
// does both lane by lane.
namespace plain {
using W = double __attribute__((vector_size(16), may_alias));
struct Ops {
    static FASOGRAM_INLINE W fma(W a, W b, W c) {
        return W{std::fma(a[0], b[0], c[0]), std::fma(a[1], b[1], c[1])};
    }
    static FASOGRAM_INLINE W round(W a) { return W{std::nearbyint(a[0]), std::nearbyint(a[1])}; }
};
#include "spectrum_fast_kernels.inc"
} // namespace plain

// (GCC's target pragmas, or clang's attribute pragmas; other compilers take
// the plain version.)
#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_HAVE_X86_PATHS 1
FASOGRAM_TARGET_BEGIN("avx2,fma")
namespace avx2 {
using W = double __attribute__((vector_size(32), may_alias));
struct Ops {
    static FASOGRAM_INLINE W fma(W a, W b, W c) {
        return (W)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
    }
    static FASOGRAM_INLINE W round(W a) {
        return (W)_mm256_round_pd((__m256d)a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    }
};
#include "spectrum_fast_kernels.inc"
} // namespace avx2
FASOGRAM_TARGET_END
FASOGRAM_TARGET_BEGIN("avx512f,avx512dq,avx512vl,fma")
namespace avx512 {
using W = double __attribute__((vector_size(64), may_alias));
struct Ops {
    static FASOGRAM_INLINE W fma(W a, W b, W c) {
        return (W)_mm512_fmadd_pd((__m512d)a, (__m512d)b, (__m512d)c);
    }
    static FASOGRAM_INLINE W round(W a) {
        // (the masked form: the plain one trips a warning in some compilers'
        // headers)
        return (W)_mm512_mask_roundscale_pd((__m512d)a, 0xff, (__m512d)a,
                                            _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    }
};
#include "spectrum_fast_kernels.inc"
} // namespace avx512
FASOGRAM_TARGET_END
#endif

// `lanes`: the doubles of the kernels' vectors; each lane of a block vector
// is added up in a lane of W, kLanes / lanes block vectors to one W.
struct Kernels {
    void (*sums)(const Block&, std::size_t, bool, vd*, vd*);
    void (*anchor)(const vd*, double, vd*, vd*, std::size_t);
    void (*anchor_pair)(const vd*, double, vd*, vd*, vd*, vd*, std::size_t);
    void (*magnitude)(const vd*, const vd*, const vd*, std::size_t, vd*);
    void (*exact_sums)(const vd*, const vd*, const vd*, const vd*, const vd*, const vd*, const vd*,
                       std::size_t, vd*, vd*);
    unsigned lanes;
};

// The widest kernels the processor runs, or the widest up to `most` lanes.
Kernels pick_kernels(unsigned most = kLanes) {
#ifdef FASOGRAM_HAVE_X86_PATHS
    if (most >= 8 && cpu_has_avx512())
        return {avx512::sums,      avx512::anchor,     avx512::anchor_pair,
                avx512::magnitude, avx512::exact_sums, 8};
    if (most >= 4 && cpu_has_avx2_fma())
        return {avx2::sums, avx2::anchor, avx2::anchor_pair, avx2::magnitude, avx2::exact_sums, 4};
#endif
    return {plain::sums, plain::anchor, plain::anchor_pair, plain::magnitude, plain::exact_sums, 2};
}

Kernels kKernels = pick_kernels();
// (fast_kernel_pairs)
bool kPairs = true;

// The total of the eight lanes of a double-double lane vector, in long
// double: the high parts pairwise (three levels), then the low parts.
long double lane_total(const vd& hi, const vd& lo) {
    const long double h01 = static_cast<long double>(hi[0]) + hi[1];
    const long double h23 = static_cast<long double>(hi[2]) + hi[3];
    const long double h45 = static_cast<long double>(hi[4]) + hi[5];
    const long double h67 = static_cast<long double>(hi[6]) + hi[7];
    const double l = ((lo[0] + lo[1]) + (lo[2] + lo[3])) + ((lo[4] + lo[5]) + (lo[6] + lo[7]));
    return ((h01 + h23) + (h45 + h67)) + l;
}

} // namespace

void fast_kernel_pairs(bool allowed) {
    kPairs = allowed;
}

unsigned fast_kernel_lanes(unsigned most) {
    if (most != 0 && most != 2 && most != 4 && most != 8)
        throw std::invalid_argument("fast_kernel_lanes: 0, 2, 4 or 8");
    kKernels = pick_kernels(most == 0 ? kLanes : most);
    return kKernels.lanes;
}

namespace {

// The anchor's values for times t, a block at a time: `run` fills the
// block's output vectors (kBlockVectors each, one per span of `out`) from
// its times, and the first n of each land in `out`.
template <std::size_t K, class Run>
void anchor_by_blocks(std::span<const double> t, std::array<std::span<double>, K> out, Run run) {
    std::size_t n = t.size();
    for (const auto& o : out) n = std::min(n, o.size());
    VecArray tv(kBlockVectors);
    std::array<VecArray, K> v;
    for (VecArray& a : v) a = VecArray(kBlockVectors);
    for (std::size_t first = 0; first < n; first += kBlockVectors * kLanes) {
        const std::size_t m = std::min(n - first, kBlockVectors * kLanes);
        for (std::size_t i = 0; i < kBlockVectors * kLanes; ++i)
            tv[i / kLanes][i % kLanes] = i < m ? t[first + i] : 0.0;
        run(tv.data(), v);
        for (std::size_t k = 0; k < K; ++k)
            for (std::size_t i = 0; i < m; ++i) out[k][first + i] = v[k][i / kLanes][i % kLanes];
    }
}

} // namespace

void fast_anchor(std::span<const double> t, double f, std::span<double> c, std::span<double> s) {
    anchor_by_blocks<2>(t, {c, s}, [f](const vd* tb, std::array<VecArray, 2>& v) {
        kKernels.anchor(tb, f, v[0].data(), v[1].data(), kBlockVectors);
    });
}

void fine_anchor(std::span<const double> t, double f, std::span<double> c, std::span<double> cl,
                 std::span<double> s, std::span<double> sl) {
    anchor_by_blocks<4>(t, {c, cl, s, sl}, [f](const vd* tb, std::array<VecArray, 4>& v) {
        kKernels.anchor_pair(tb, f, v[0].data(), v[1].data(), v[2].data(), v[3].data(),
                             kBlockVectors);
    });
}

// The series laid out for the kernel, padded with zero-weight points to a
// whole number of blocks, and the constants of the error bounds.
struct Prepared::Layout {
    std::size_t vectors = 0; // whole blocks
    std::size_t used = 0;    // vectors holding points
    VecArray t, h, hy;
    VecArray hy_lo;                     // h (x - centre) less hy, to about 2^-104 of it
    long double sum_h = 0.0;            // sum of the h laid out, to a unit of the format
    double long_h = 0.0, long_hy = 0.0; // the totals across blocks and lanes
    double abs_h = 0.0, abs_hy = 0.0;   // sum h and sum |h y|, rounded up
    // The same, each point counted as often as a rounding of its lane's
    // block sum reaches it (kBlockVectors + 2 less its place in the block)
    // where a lane of the kernels' vectors adds one lane of the block
    // vectors; where it adds s of them (s = kLanes / lanes), a lane adds s
    // kBlockVectors terms and a term is reached at most s times as often.
    double block_h = 0.0, block_hy = 0.0;
};

std::shared_ptr<const Prepared::Layout> make_layout(const Prepared& p) {
    auto l = std::make_shared<Prepared::Layout>();
    const std::size_t n = p.t.size();
    std::size_t vectors = (n + kLanes - 1) / kLanes;
    vectors = (vectors + kBlockVectors - 1) / kBlockVectors * kBlockVectors;
    l->vectors = vectors;
    l->used = (n + kLanes - 1) / kLanes;
    l->t = VecArray(vectors);
    l->h = VecArray(vectors);
    l->hy = VecArray(vectors);
    l->hy_lo = VecArray(vectors);
    double sum_h = 0, sum_hy = 0, block_h = 0, block_hy = 0;
    dd::DD exact_h{};
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t v = i / kLanes, ln = i % kLanes;
        l->t[v][ln] = p.t[i];
        l->h[v][ln] = p.h[i];
        // y is x - centre rounded: h (x - centre) is hy + hy_lo, less the
        // rounding of h times the low part (2^-53 of 2^-53 of hy).
        const dd::DD y = dd::two_sum(p.x[i], -p.centre);
        const dd::DD hy = dd::two_prod(p.h[i], y.hi);
        l->hy[v][ln] = hy.hi;
        l->hy_lo[v][ln] = hy.lo + p.h[i] * y.lo;
        sum_h += p.h[i];
        sum_hy += std::fabs(l->hy[v][ln]);
        const auto reach = static_cast<double>(kBlockVectors + 2 - v % kBlockVectors);
        block_h += reach * p.h[i];
        block_hy += reach * std::fabs(l->hy[v][ln]);
        exact_h = exact_h + p.h[i];
    }
    l->sum_h = dd::to_long_double(exact_h);
    // The totals, a strict bound against A, the sum of the terms' magnitudes
    // (at most 1.01 sum h for the sums of h, as |c|, |s| <= 1 + 1e-12):
    // the two-sums across nb blocks leave each lane's low part, |lo| <=
    // nb u A, with its own roundings, nb^2 u^2 A in all; the lanes' high
    // parts are added pairwise in long double (three levels, a long-double
    // unit of A each) and the low parts after them (one more).  sum h s s,
    // taken from sum h less sum h c c (see evaluate), costs three more
    // long-double units of sum h (sum h itself in long double, and two
    // additions).
    const double nb = static_cast<double>(vectors / kBlockVectors);
    const double lane_rounding = 4.0 * kLongUnit + (nb * nb + 16.0) * kUnit * kUnit;
    l->long_h = 1.01 * (lane_rounding + 3.0 * kLongUnit) * sum_h;
    l->long_hy = 1.01 * lane_rounding * sum_hy;
    // The plain sums of the magnitudes are off by n units at most.
    const double up = 1.0 + 2.0 * static_cast<double>(n + 1) * kUnit;
    l->abs_h = sum_h * up;
    l->abs_hy = sum_hy * up;
    l->block_h = block_h * up;
    l->block_hy = block_hy * up;
    return l;
}

namespace {

// The memory of the step tables, kept from call to call (up to kSpareBytes)
// so that a run faults no new pages in for its tables.
constexpr std::size_t kSpareBytes = std::size_t{32} << 20;

class SpareArrays {
  public:
    VecArray take(std::size_t n) {
        {
            const std::lock_guard<std::mutex> lock(m_);
            for (auto& a : spare_)
                if (a.size() == n) {
                    VecArray out = std::move(a);
                    std::swap(a, spare_.back());
                    spare_.pop_back();
                    bytes_ -= n * sizeof(vd);
                    return out;
                }
        }
        return VecArray(n, false);
    }
    void give(VecArray&& a) {
        const std::size_t b = a.size() * sizeof(vd);
        const std::lock_guard<std::mutex> lock(m_);
        if (b == 0 || bytes_ + b > kSpareBytes) return;
        bytes_ += b;
        spare_.push_back(std::move(a));
    }

  private:
    std::mutex m_;
    std::vector<VecArray> spare_;
    std::size_t bytes_ = 0;
};

SpareArrays& spare_arrays() {
    static SpareArrays s;
    return s;
}

// The cosine and sine of each point's phase 2 pi t d for one difference d
// of neighbouring frequencies, as an anchor computes them (the vectors past
// the points are not set).
struct StepTable {
    double d = 0.0;
    VecArray rc, rs;
    long double drift = 0.0; // sum h (rc^2 + rs^2 - 1)
    std::uint64_t used = 0;  // when a run last took it
    StepTable() = default;
    StepTable(const StepTable&) = delete;
    StepTable& operator=(const StepTable&) = delete;
    ~StepTable() {
        spare_arrays().give(std::move(rc));
        spare_arrays().give(std::move(rs));
    }
};

// A run turns by at most kRunTables differences (each a table kept in the
// scratch while the run goes), fewer where so many tables of a long series
// would take more than kStepTableBytes, but at least one; the scratch keeps
// as many tables as fit in kStepTableBytes, and at least a run's.
constexpr std::size_t kRunTables = 4;
constexpr std::size_t kStepTableBytes = std::size_t{16} << 20;

std::size_t table_bytes(const Prepared::Layout& l) {
    return 2 * l.vectors * sizeof(vd);
}
std::size_t run_tables(const Prepared::Layout& l) {
    return std::clamp<std::size_t>(kStepTableBytes / table_bytes(l), 1, kRunTables);
}

} // namespace

struct FastEvaluator::Scratch {
    VecArray c{kBlockVectors}, s{kBlockVectors};
    VecArray cl{kBlockVectors}, sl{kBlockVectors}; // the low parts of a frequency alone
    VecArray hi{kSums * kFastGroup}, lo{kSums * kFastGroup};
    // The group's sums and bounds in long double, and rounded to double by
    // column (kSolveColumns of kFastGroup) for the fits solved in vectors.
    static constexpr std::size_t kSolveColumns = 10;
    std::vector<LSums> sums = std::vector<LSums>(kFastGroup);
    std::vector<SumBounds> bounds = std::vector<SumBounds>(kFastGroup);
    std::vector<double> columns = std::vector<double>(kSolveColumns * kFastGroup);
    std::vector<std::uint8_t> done = std::vector<std::uint8_t>(kFastGroup);
    // The tables of a run, one per step, and their parts for a block.
    std::vector<const StepTable*> step = std::vector<const StepTable*>(kFastGroup);
    std::vector<const vd*> rc = std::vector<const vd*>(kFastGroup);
    std::vector<const vd*> rs = std::vector<const vd*>(kFastGroup);
    std::vector<std::unique_ptr<StepTable>> tables;
    std::uint64_t runs = 0;
};

namespace {

// sum h (c^2 + s^2 - 1) over every point of the layout.
long double magnitude_sum(const Prepared::Layout& l, const VecArray& c, const VecArray& s) {
    long double sum = 0.0;
    for (std::size_t b = 0; b < l.used; b += kBlockVectors) {
        vd m;
        kKernels.magnitude(&l.h[b], &c[b], &s[b], std::min(kBlockVectors, l.used - b), &m);
        for (std::size_t ln = 0; ln < kLanes; ++ln) sum += m[ln];
    }
    return sum;
}

// The table of difference d from the scratch, made there if it is not (in
// place of the one least recently used by a run other than this one).
const StepTable& step_table(const Prepared::Layout& l, FastEvaluator::Scratch& sc, double d) {
    for (const auto& t : sc.tables)
        if (t->d == d) {
            t->used = sc.runs;
            return *t;
        }
    const std::size_t keep = std::max(run_tables(l), kStepTableBytes / table_bytes(l));
    StepTable* t = nullptr;
    if (sc.tables.size() < keep) {
        sc.tables.push_back(std::make_unique<StepTable>());
        t = sc.tables.back().get();
        t->rc = spare_arrays().take(l.vectors);
        t->rs = spare_arrays().take(l.vectors);
    } else {
        // (a run takes at most run_tables(l) <= keep, so one is free)
        for (const auto& u : sc.tables)
            if (u->used != sc.runs && (!t || u->used < t->used)) t = u.get();
    }
    t->d = d;
    t->used = sc.runs;
    for (std::size_t b = 0; b < l.used; b += kBlockVectors)
        kKernels.anchor(&l.t[b], d, &t->rc[b], &t->rs[b], std::min(kBlockVectors, l.used - b));
    t->drift = magnitude_sum(l, t->rc, t->rs);
    return *t;
}

} // namespace

FastEvaluator::FastEvaluator(const Prepared& series) : series_(series) {}

FastEvaluator::~FastEvaluator() = default;

std::shared_ptr<FastEvaluator::Scratch> FastEvaluator::scratch() const {
    return std::make_shared<Scratch>();
}

// The sums solved in double, where their rounding to double (half a unit of
// each) and the solve's own arithmetic in double still settle the digits,
// as nearly all do; the rest in long double.
namespace {

// The sums rounded to double, and their bounds grown by that rounding.
Sums<double> in_double(const LSums& u, const SumBounds& bd, SumBounds& bdd) {
    const Sums<double> d{static_cast<double>(u.hc),  static_cast<double>(u.hs),
                         static_cast<double>(u.hcc), static_cast<double>(u.hcs),
                         static_cast<double>(u.hss), static_cast<double>(u.hyc),
                         static_cast<double>(u.hys)};
    const double most = std::max(
        {std::fabs(d.hc), std::fabs(d.hs), std::fabs(d.hcc), std::fabs(d.hcs), std::fabs(d.hss)});
    bdd = bd;
    bdd.mu += kUnit * most;
    bdd.eta += kUnit * std::max(std::fabs(d.hyc), std::fabs(d.hys));
    bdd.unit = kUnit;
    return d;
}

Evaluation solve_fit_twice(const Prepared& p, const LSums& u, SumBounds bd, double f) {
    SumBounds bdd;
    const Sums<double> d = in_double(u, bd, bdd);
    const Evaluation e = solve_fit(d, p, p.centre_offset, bdd, f);
    if (e.settled) return e;
    bd.unit = kLongUnit;
    return solve_fit(u, p, p.centre_offset, bd, f);
}

} // namespace

namespace {

// How far a run from freqs[0] goes: while each difference of neighbours is
// exact and one of at most `most` (at most kRunTables).
std::size_t run_length(std::span<const double> freqs, std::size_t most) {
    std::array<double, kRunTables> steps{};
    std::size_t distinct = 0, k = 1;
    for (; k < freqs.size(); ++k) {
        const dd::DD d = dd::two_sum(freqs[k], -freqs[k - 1]);
        if (d.lo != 0.0 || !(d.hi != 0.0)) break;
        if (std::find(steps.begin(), steps.begin() + distinct, d.hi) != steps.begin() + distinct)
            continue;
        if (distinct == most) break;
        steps[distinct++] = d.hi;
    }
    return k;
}

} // namespace

// The sums and bounds of a run of frequencies into sc.sums and sc.bounds
// from `first` on.
void FastEvaluator::evaluate_run(std::span<const double> freqs, std::size_t first,
                                 Scratch& sc) const {
    const Prepared::Layout& l = *series_.layout;
    const std::size_t count = freqs.size();
    ++sc.runs;
    for (std::size_t k = 0; k + 1 < count; ++k)
        sc.step[k] = &step_table(l, sc, freqs[k + 1] - freqs[k]);
    vd* hi_all = &sc.hi[kSums * first];
    vd* lo_all = &sc.lo[kSums * first];
    long double mag0 = 0.0; // sum h (c^2 + s^2 - 1) at the anchor
    // The last block stops at the last vector that holds points (the rest
    // are zero-weight padding).
    for (std::size_t b = 0; b < l.used; b += kBlockVectors) {
        const std::size_t nvec = std::min(kBlockVectors, l.used - b);
        kKernels.anchor(&l.t[b], freqs[0], sc.c.data(), sc.s.data(), nvec);
        vd m;
        kKernels.magnitude(&l.h[b], sc.c.data(), sc.s.data(), nvec, &m);
        for (std::size_t ln = 0; ln < kLanes; ++ln) mag0 += m[ln];
        for (std::size_t k = 0; k + 1 < count; ++k) {
            sc.rc[k] = &sc.step[k]->rc[b];
            sc.rs[k] = &sc.step[k]->rs[b];
        }
        sc.rc[count - 1] = sc.rs[count - 1] = nullptr;
        const Block blk{&l.h[b],     &l.hy[b],    sc.rc.data(), sc.rs.data(),
                        sc.c.data(), sc.s.data(), nvec,         kPairs};
        kKernels.sums(blk, count, b == 0, hi_all, lo_all);
    }
    long double drift = 0.0; // of the steps so far
    const auto split = static_cast<double>(kLanes / kKernels.lanes);
    for (std::size_t k = 0; k < count; ++k) {
        const vd* hi = &hi_all[kSums * k];
        const vd* lo = &lo_all[kSums * k];
        LSums u;
        u.hc = lane_total(hi[0], lo[0]);
        u.hs = lane_total(hi[1], lo[1]);
        u.hcc = lane_total(hi[2], lo[2]);
        u.hcs = lane_total(hi[3], lo[3]);
        u.hyc = lane_total(hi[4], lo[4]);
        u.hys = lane_total(hi[5], lo[5]);
        // sum h s s from sum h (c c + s s) less sum h c c, the first from the
        // phasors' distance from the unit circle: at the anchor, plus that of
        // each step (the rotations scale each point's phasor by the steps'
        // magnitudes, to first order).  Taking the sum of h s s as sum h
        // less sum h c c alone would be within the bound too, but it would
        // not match the sum of h c c's own phasors: a fit whose rho is 1
        // would show a few units of 1e-15 beyond it.
        const long double off = mag0 + drift;
        if (k + 1 < count) drift += sc.step[k]->drift;
        u.hss = (l.sum_h + off) - u.hcc;
        // Phase error of every point, in the worst case: the anchor
        // (kFastAnchorUnits, tested) and per rotation the table's cosine
        // and sine (computed as an anchor's) and the rotation's arithmetic
        // (c s' - s s'' and s c' + c s'' each rounded twice: an error vector
        // no longer than u (|z'| + |z| |s''|), two units of the phasor).
        const double phase =
            (kFastAnchorUnits + (2.0 + kFastAnchorUnits) * static_cast<double>(k)) * kUnit;
        SumBounds bd;
        // The errors of the points add up in the worst case: points whose
        // phases repeat (whole-day times at frequencies of a few bits) make
        // the same errors, so that no allowance of the square-root kind
        // holds.  Each lane adds a block's terms in double, each addition
        // rounding within the sum of the terms before it, before the
        // blocks' totals are carried exactly: a term's magnitude counts
        // once for each addition after its own, and twice for the products.
        // sum h s s is off by sum h c c's error plus `off` (the true sums of
        // h cos^2 and h sin^2 add up to sum h exactly): mu covers both.
        bd.mu = 1.02 * (2.0 * phase * l.abs_h + kUnit * split * l.block_h) + l.long_h +
                std::fabs(static_cast<double>(off));
        bd.eta = 1.02 * ((phase + 3.0 * kUnit) * l.abs_hy + kUnit * split * l.block_hy) + l.long_hy;
        sc.sums[first + k] = u;
        sc.bounds[first + k] = bd;
    }
}

void FastEvaluator::evaluate(std::span<const double> freqs, std::span<Evaluation> out,
                             Scratch& sc) const {
    const std::size_t count = std::min({freqs.size(), out.size(), kFastGroup});
    if (count == 0) return;
    // The group by runs, each anchored afresh.
    for (std::size_t first = 0; first < count;) {
        const std::size_t len =
            run_length(freqs.subspan(first, count - first), run_tables(*series_.layout));
        evaluate_run(freqs.subspan(first, len), first, sc);
        first += len;
    }
    // The group's fits in double in vectors (as the transforms do); the
    // rest one at a time, in double and then, where that does not settle
    // them, in long double.
    double* col[Scratch::kSolveColumns];
    for (std::size_t c = 0; c < Scratch::kSolveColumns; ++c)
        col[c] = sc.columns.data() + c * kFastGroup;
    for (std::size_t k = 0; k < count; ++k) {
        SumBounds bdd;
        const Sums<double> d = in_double(sc.sums[k], sc.bounds[k], bdd);
        const double row[Scratch::kSolveColumns] = {d.hc,  d.hs,  d.hcc,  d.hcs,   d.hss,
                                                    d.hyc, d.hys, bdd.mu, bdd.eta, freqs[k]};
        for (std::size_t c = 0; c < Scratch::kSolveColumns; ++c) col[c][k] = row[c];
    }
    const SumColumns cols{col[0], col[1], col[2], col[3], col[4],
                          col[5], col[6], col[7], col[8], col[9]};
    std::uint8_t* done = sc.done.data();
    solve_batch(cols, count, series_, series_.centre_offset, kUnit, out.data(), nullptr, done);
    for (std::size_t k = 0; k < count; ++k)
        if (!done[k]) out[k] = solve_fit_twice(series_, sc.sums[k], sc.bounds[k], freqs[k]);
}

Evaluation FastEvaluator::evaluate_alone(double f, Scratch& sc) const {
    const Prepared::Layout& l = *series_.layout;
    constexpr std::size_t kExactSums = 7;
    std::fill(sc.hi.data(), sc.hi.data() + kExactSums, vd{});
    std::fill(sc.lo.data(), sc.lo.data() + kExactSums, vd{});
    for (std::size_t b = 0; b < l.used; b += kBlockVectors) {
        const std::size_t nvec = std::min(kBlockVectors, l.used - b);
        kKernels.anchor_pair(&l.t[b], f, sc.c.data(), sc.cl.data(), sc.s.data(), sc.sl.data(),
                             nvec);
        kKernels.exact_sums(&l.h[b], &l.hy[b], &l.hy_lo[b], sc.c.data(), sc.cl.data(), sc.s.data(),
                            sc.sl.data(), nvec, sc.hi.data(), sc.lo.data());
    }
    long double v[kExactSums];
    for (std::size_t i = 0; i < kExactSums; ++i) v[i] = lane_total(sc.hi[i], sc.lo[i]);
    const LSums u{v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    // The anchor's cosine and sine, c + cl and s + sl, are within
    // a = kFineAnchorUnits units u of 2^-53 of the exact ones (so at most
    // 1 + a u in size), and the products are exact but for the products of
    // low parts, rounded: h c is off by a u h, a product of two of them such
    // as h c s by 2 a u h (a u (|c| + |s|) from the phases), and h y c by
    // a u |h y|.  What is rounded goes to the lanes' low parts.  A term's
    // low part (its products' roundings, and h cl and the like, each within
    // about u of a pair's high part) is below 4 u of the term; with A the
    // sum of a lane's terms' magnitudes, each term adds at most u A (the
    // two-sum's error) and that to a low part of at most (n + 4) u A, which
    // rounds within u of itself: (n^2 + 4 n) u^2 A in all; the roundings
    // within the terms' low parts (the products of low parts, their sums,
    // the dropped cl sl and the like) add at most 14 u^2 of each term;
    // 20 n^2 u^2 A covers both.  The lanes' totals in long double cost four
    // long-double units of A (three levels and the low parts).  A is at
    // most 1.01 sum h for the sums of h, and sum |h y| for the sums of h y
    // (|h (x - centre)| is |hy| to 2^-52); 1.01 covers the second-order
    // terms.
    const double a = kFineAnchorUnits;
    const double n = static_cast<double>(series_.t.size());
    const double adding = 4.0 * kLongUnit + 20.0 * n * n * kUnit * kUnit;
    SumBounds bd;
    bd.mu = 1.01 * (2.0 * a * kUnit + adding) * (1.01 * l.abs_h);
    bd.eta = 1.01 * (a * kUnit + adding) * l.abs_hy;
    return solve_fit_twice(series_, u, bd, f);
}

} // namespace fasogram::detail
