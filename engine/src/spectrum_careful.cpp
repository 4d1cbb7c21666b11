// The careful evaluation of one frequency, for the few whose printed digits
// the fast evaluation cannot settle (nearly singular fits, tiny
// coefficients, values next to a rounding boundary): every phase exactly
// reduced and its cosine and sine in double-double, the sums in
// double-double in blocks, and the exact test for a singular fit.
#include "dd_lanes.hpp"
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"
#include "target_region.hpp"

#include <atomic>
#include <cmath>
#include <stdexcept>

namespace fasogram::detail {

namespace {

using dd::DD;

constexpr std::size_t kBlock = 256;
// The error of an exactly reduced phase's cosine and sine in double-double
// (dd::sincos_cycles), in units U = 2^-104, in the worst case.  With
// u = 2^-53 (U = 4 u^2), a product of two double-doubles rounds within
// 8 u^2 = 2 U of itself (the two cross products, their sum, the dropped
// low product and the sum with the low part of the exact high product: 1,
// 1, 2, 1 and 3 u^2), an accurate sum of two within 3 u^2 + 13 u^3 (Joldes,
// Muller and Popescu's bound for that addition), 0.75 U.  The reduction to
// v within 1/512 cycle of a table entry j is exact; x = 2 pi v is within
// 2.02 U of itself (the product, and 2 pi's own double-double, 0.02 U),
// |x| <= 0.01228; sin x = x + x x^2 p_s within 0.04 U (the sum's rounding
// and x's; the cubic term and its roundings under 1e-5 U, the series'
// truncation far below), cos x = 1 + x^2 p_c within 0.76 U.  Then with the
// entries within kCarefulTableUnits (every one checked against 640 bits),
// c = c_j cos x - s_j sin x errs by at most
//   kCarefulTableUnits (1 + 0.0123) + 0.76 |c_j| + 0.04 |s_j|
//     + 2 (|c_j cos x| + |s_j sin x|) + 0.75 |c|
// where the products' magnitudes add up to at most 1 (the dot product of
// two unit vectors, up to their roundings), so 1.0123 kCarefulTableUnits +
// 3.55; the sine's is smaller (|s_j| <= 0.71): 4.1 units at most, and the
// quarter-cycle turns are exact.  (Measured against 640-bit values: 1.07
// units at worst, at phases next to the entry of 22/256 cycle, in
// tests/engine/test_careful_lanes.cpp.)
constexpr double kPhaseUnits = 1.0123 * kCarefulTableUnits + 3.55;
// A rotation by a step's phase (its own error kPhaseUnits in each part, at
// most sqrt(2) kPhaseUnits in modulus) turns the error of the kept phase
// with it, leaving its modulus as it was, adds the step's, and rounds
// within 2 U (|c c_d| + |s s_d| <= 1 again) + 0.75 U in each part, 2.75
// sqrt(2) = 3.89 U in modulus, taken as 4.  So after k >= 1 rotations the
// modulus of the error, and each part's, is within
// sqrt(2) kPhaseUnits (k + 1) + 4 k.
constexpr double kRotationUnits = 4.0;

// The distinct phases of the weighted points, up to three: the fit is
// singular exactly when the points sit on at most two phases.
class PhaseCount {
  public:
    void add(DD r) {
        if (r.hi == -0.5 && r.lo == 0.0) r.hi = 0.5; // half a cycle either way
        for (int i = 0; i < n_; ++i)
            if (seen_[i].hi == r.hi && seen_[i].lo == r.lo) return;
        if (n_ < 3) seen_[n_++] = r;
    }
    bool singular() const { return n_ <= 2; }

  private:
    DD seen_[3];
    int n_ = 0;
};

void add_to(Sums<DD>& a, const Sums<DD>& b) {
    a.hc = a.hc + b.hc;
    a.hs = a.hs + b.hs;
    a.hcc = a.hcc + b.hcc;
    a.hcs = a.hcs + b.hcs;
    a.hss = a.hss + b.hss;
    a.hyc = a.hyc + b.hyc;
    a.hys = a.hys + b.hys;
}

// The sums of one frequency with what their error bounds need.
struct Accumulated {
    Sums<DD> total;
    double sum_h = 0, sum_hy = 0; // sums of |term|
    std::size_t blocks = 0;
};

// For processors without the four-lane path.
Accumulated accumulate_scalar(const Prepared& p, double f) {
    Accumulated a;
    Sums<DD> block;
    double block_h = 0, block_hy = 0;
    std::size_t in_block = 0;
    const std::size_t n = p.t.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double h = p.h[i];
        if (h == 0.0) continue;
        const DD r = dd::cycles(p.t[i], f);
        const dd::SinCos sc = dd::sincos_cycles(r);
        const DD hw{h, p.h_lo.empty() ? 0.0 : p.h_lo[i]};
        const DD hc = sc.c * hw, hs = sc.s * hw;
        const DD xm = p.xm[i];
        block.hc = block.hc + hc;
        block.hs = block.hs + hs;
        block.hcc = block.hcc + hc * sc.c;
        block.hcs = block.hcs + hc * sc.s;
        block.hss = block.hss + hs * sc.s;
        block.hyc = block.hyc + hc * xm;
        block.hys = block.hys + hs * xm;
        const double hy = std::fabs(h * xm.hi);
        block_h += h;
        block_hy += hy;
        if (++in_block == kBlock) {
            add_to(a.total, block);
            block = Sums<DD>{};
            a.sum_h += block_h;
            a.sum_hy += block_hy;
            block_h = block_hy = 0;
            in_block = 0;
            ++a.blocks;
        }
    }
    if (in_block > 0) {
        add_to(a.total, block);
        a.sum_h += block_h;
        a.sum_hy += block_hy;
        ++a.blocks;
    }
    return a;
}

#ifdef FASOGRAM_HAVE_DD_LANES
// Each lane's share of a block: kBlock/4 terms (the blocks of four lanes
// are of kBlock points, those of eight of twice as many), within the kBlock
// terms a block may have.
constexpr std::size_t kLaneTerms = kBlock / 4;

// The lanes' sums, compiled for each vector width (GCC's target pragmas, or
// clang's attribute pragmas).
FASOGRAM_TARGET_BEGIN("avx2,fma")
namespace w4 {
namespace ln = dd::lanes;
#include "spectrum_careful_lanes.inc"
} // namespace w4
FASOGRAM_TARGET_END
FASOGRAM_TARGET_BEGIN("avx512f,avx512dq,avx512vl,fma")
namespace w8 {
namespace ln = dd::lanes8;
#include "spectrum_careful_lanes.inc"
} // namespace w8
FASOGRAM_TARGET_END

// Cosines and sines of every point, four lanes to a group: hi and lo of the
// cosines, then of the sines.
struct LanePhases {
    std::vector<double> v; // 16 doubles per group of four points
    explicit LanePhases(std::size_t n) : v(16 * ((n + 3) / 4)) {}
    __attribute__((target("avx2,fma"))) FASOGRAM_DD_INLINE void
    store(std::size_t i, const dd::lanes::SinCos4& sc) {
        double* q = v.data() + 4 * i;
        __builtin_memcpy(q, &sc.c.hi, 32);
        __builtin_memcpy(q + 4, &sc.c.lo, 32);
        __builtin_memcpy(q + 8, &sc.s.hi, 32);
        __builtin_memcpy(q + 12, &sc.s.lo, 32);
    }
    __attribute__((target("avx2,fma"))) FASOGRAM_DD_INLINE dd::lanes::SinCos4
    load(std::size_t i) const {
        dd::lanes::SinCos4 sc;
        const double* q = v.data() + 4 * i;
        __builtin_memcpy(&sc.c.hi, q, 32);
        __builtin_memcpy(&sc.c.lo, q + 4, 32);
        __builtin_memcpy(&sc.s.hi, q + 8, 32);
        __builtin_memcpy(&sc.s.lo, q + 12, 32);
        return sc;
    }
};

// Fresh phases, kept for the rotations that follow.
struct AnchorPhases {
    double f;
    LanePhases& keep;
    __attribute__((target("avx2,fma"))) FASOGRAM_DD_INLINE dd::lanes::SinCos4
    operator()(std::size_t i, dd::lanes::V t) const {
        using namespace dd::lanes;
        const SinCos4 sc = sincos_cycles(cycles(t, splat(f)));
        keep.store(i, sc);
        return sc;
    }
};

// The kept phases turned by the angles 2 pi t d of a step d: the cosine and
// sine of the sum from those of its parts.
struct RotatedPhases {
    const LanePhases& step;
    LanePhases& keep;
    __attribute__((target("avx2,fma"))) FASOGRAM_DD_INLINE dd::lanes::SinCos4
    operator()(std::size_t i, dd::lanes::V) const {
        using namespace dd::lanes;
        const SinCos4 a = keep.load(i), d = step.load(i);
        SinCos4 r;
        r.c = sub(mul(a.c, d.c), mul(a.s, d.s));
        r.s = add(mul(a.s, d.c), mul(a.c, d.s));
        keep.store(i, r);
        return r;
    }
};

// The cosines and sines of 2 pi t d of every point (for the step d).
__attribute__((target("avx2,fma"))) void step_phases(const Prepared& p, double d, LanePhases& out) {
    using namespace dd::lanes;
    const std::size_t n = p.t.size();
    for (std::size_t i = 0; i < n; i += 4) {
        V t = {};
        for (std::size_t l = 0; l < 4 && i + l < n; ++l) t[l] = p.t[i + l];
        out.store(i, sincos_cycles(cycles(t, splat(d))));
    }
}
#endif

bool lanes_available(const Prepared& p);
bool wide_lanes_available(const Prepared& p);

Accumulated accumulate(const Prepared& p, double f) {
#ifdef FASOGRAM_HAVE_DD_LANES
    if (wide_lanes_available(p)) return w8::accumulate_fresh(p, f);
    if (lanes_available(p)) return w4::accumulate_fresh(p, f);
#endif
    return accumulate_scalar(p, f);
}

// Whether the weighted points sit on at most two phases, exactly.
bool singular(const Prepared& p, double f) {
    PhaseCount phases;
    for (std::size_t i = 0; i < p.t.size(); ++i)
        if (p.h[i] != 0.0) {
            phases.add(dd::cycles(p.t[i], f));
            if (!phases.singular()) return false;
        }
    return true;
}

} // namespace

std::vector<FitRecord>*& fit_records() {
    thread_local std::vector<FitRecord>* records = nullptr;
    return records;
}

std::vector<SumRecord>*& sum_records() {
    thread_local std::vector<SumRecord>* records = nullptr;
    return records;
}

int& fit_precision() {
    thread_local int precision = 0;
    return precision;
}

double careful_phase_units(std::size_t rotations) {
    if (rotations == 0) return kPhaseUnits;
    const auto k = static_cast<double>(rotations);
    return std::sqrt(2.0) * kPhaseUnits * (k + 1.0) + kRotationUnits * k;
}

namespace {

// The fit from the sums of one frequency whose phases were carried through
// `rotations` rotations from their last exact reduction.
Evaluation solve_careful(const Prepared& p, double f, const Accumulated& a, Digits digits,
                         std::size_t rotations) {
    // Each phase is good to `phase` units (more after rotations), which a
    // term carries at most 8 times (h c^2 twice over, and the products'
    // roundings); each addition rounds within 4 units of the sum of |term|
    // it has added up: at most kBlock - 1 of them within a block and one
    // more a block into the total.  All at their largest and of one sign,
    // as points whose phases repeat make them: the bound is the worst case,
    // and at 2^-104 a unit even that of a million points settles the
    // digits.  (The lanes add up their blocks another way, within the same
    // allowance: see accumulate_lanes in spectrum_careful_lanes.inc.)  The
    // sums of |term| are themselves rounded, within a relative 2^-45.
    constexpr double u = dd::kUnit;
    const double per_term = 8.0 * careful_phase_units(rotations) +
                            4.0 * static_cast<double>(kBlock) + 4.0 * static_cast<double>(a.blocks);
    const double rounded = 1.0 + 0x1p-40;
    SumBounds bd;
    bd.mu = per_term * u * a.sum_h * rounded;
    bd.eta = per_term * u * a.sum_hy * rounded;
    bd.unit = 4.0 * u;
    fit_precision() = 106;
    const Evaluation e = solve_fit(a.total, p, DD{}, bd, f, digits);
    fit_precision() = 0;
    // With every digit printed only a settled value will do: one whose bound
    // is merely small may still straddle a boundary.
    if (e.settled || (digits == Digits::eight && e.converged)) return e;
    if (singular(p, f)) return singular_point(f);
    return evaluate_exact(p, f, e, digits);
}

// Whether b - a is exactly the double d = b - a.
bool exact_difference(double a, double b, double d) {
    if (!std::isfinite(d)) return false;
    const DD r = dd::two_sum(b, -a);
    return r.hi == d && r.lo == 0.0;
}

// Whether the four-lane code may run (the processor has AVX2 and fused
// multiply-add, and the series allows lanes).
bool lanes_available(const Prepared& p) {
#ifdef FASOGRAM_HAVE_DD_LANES
    return cpu_has_avx2_fma() && p.careful_lanes;
#else
    (void)p;
    return false;
#endif
}

// Whether the eight-lane code may run (AVX-512 as well, and the series
// allows eight lanes).
bool wide_lanes_available(const Prepared& p) {
#ifdef FASOGRAM_HAVE_DD_LANES
    return cpu_has_avx512() && p.careful_width >= 8 && lanes_available(p);
#else
    (void)p;
    return false;
#endif
}

} // namespace

unsigned careful_lanes_width(Prepared& p, unsigned most) {
    if (most != 0 && most != 1 && most != 4 && most != 8)
        throw std::invalid_argument("careful_lanes_width: 0, 1, 4 or 8");
    p.careful_lanes = most != 1;
    p.careful_width = most == 4 ? 4 : 8;
    return wide_lanes_available(p) ? 8 : lanes_available(p) ? 4 : 1;
}

Evaluation evaluate_careful(const Prepared& p, double f, Digits digits) {
    return solve_careful(p, f, accumulate(p, f), digits, 0);
}

#ifdef FASOGRAM_HAVE_DD_LANES
struct CarefulRuns::Tables {
    std::vector<double> steps;
    std::vector<LanePhases> phases; // of each step
};
#else
struct CarefulRuns::Tables {
    std::vector<double> steps;
};
#endif

CarefulRuns::CarefulRuns(const Prepared& series, std::span<const double> steps, unsigned threads)
    : series_(series), tables_(std::make_unique<Tables>()) {
    if (!lanes_available(series)) return;
#ifdef FASOGRAM_HAVE_DD_LANES
    for (const double d : steps)
        if (std::isfinite(d) && d != 0.0) tables_->steps.push_back(d);
    const std::size_t n = series.t.size();
    tables_->phases.assign(tables_->steps.size(), LanePhases(n));
    parallel_run(tables_->steps.size(), threads, &series.interruption_point,
                 [&](std::size_t k, unsigned) {
                     step_phases(series, tables_->steps[k], tables_->phases[k]);
                 });
#else
    (void)steps;
    (void)threads;
#endif
}

CarefulRuns::~CarefulRuns() = default;

void CarefulRuns::evaluate(std::span<const double> freqs, std::span<Evaluation> out,
                           Digits digits) const {
    const Prepared& p = series_;
    if (tables_->steps.empty() || freqs.size() < 2) {
        for (std::size_t k = 0; k < freqs.size(); ++k)
            out[k] = evaluate_careful(p, freqs[k], digits);
        return;
    }
#ifdef FASOGRAM_HAVE_DD_LANES
    LanePhases keep(p.t.size());
    std::size_t rotations = 0;
    for (std::size_t k = 0; k < freqs.size(); ++k) {
        const double f = freqs[k];
        const LanePhases* step = nullptr;
        if (k > 0 && rotations < kCarefulRotations) {
            const double d = f - freqs[k - 1];
            if (exact_difference(freqs[k - 1], f, d))
                for (std::size_t s = 0; s < tables_->steps.size(); ++s)
                    if (tables_->steps[s] == d) step = &tables_->phases[s];
        }
        Accumulated a;
        if (step != nullptr) {
            a = w4::accumulate_lanes(p, RotatedPhases{*step, keep});
            ++rotations;
        } else {
            a = w4::accumulate_lanes(p, AnchorPhases{f, keep});
            rotations = 0;
        }
        out[k] = solve_careful(p, f, a, digits, rotations);
    }
#endif
}

std::vector<dd::SinCos> CarefulRuns::phases(std::span<const double> freqs) const {
    const Prepared& p = series_;
    std::vector<dd::SinCos> out(p.t.size());
    if (freqs.empty()) return out;
#ifdef FASOGRAM_HAVE_DD_LANES
    if (!tables_->steps.empty()) {
        LanePhases keep(p.t.size());
        std::size_t rotations = 0;
        for (std::size_t k = 0; k < freqs.size(); ++k) {
            const LanePhases* step = nullptr;
            if (k > 0 && rotations < kCarefulRotations) {
                const double d = freqs[k] - freqs[k - 1];
                if (exact_difference(freqs[k - 1], freqs[k], d))
                    for (std::size_t s = 0; s < tables_->steps.size(); ++s)
                        if (tables_->steps[s] == d) step = &tables_->phases[s];
            }
            if (step != nullptr) {
                w4::accumulate_lanes(p, RotatedPhases{*step, keep});
                ++rotations;
            } else {
                w4::accumulate_lanes(p, AnchorPhases{freqs[k], keep});
                rotations = 0;
            }
        }
        for (std::size_t i = 0; i < p.t.size(); ++i) {
            const double* q = keep.v.data() + 16 * (i / 4) + i % 4;
            out[i] = {{q[0], q[4]}, {q[8], q[12]}};
        }
        return out;
    }
#endif
    for (std::size_t i = 0; i < p.t.size(); ++i)
        out[i] = dd::sincos_cycles(dd::cycles(p.t[i], freqs.back()));
    return out;
}

} // namespace fasogram::detail
