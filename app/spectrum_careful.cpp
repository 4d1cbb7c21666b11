// The careful evaluation of one frequency, for the few whose printed digits
// the fast evaluation cannot settle (nearly singular fits, tiny
// coefficients, values next to a rounding boundary): every phase exactly
// reduced and its cosine and sine in double-double, the sums in
// double-double in blocks, and the exact test for a singular fit.
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"

#include <cmath>

namespace fasogram::detail {

namespace {

using dd::DD;

constexpr double kLambda = 6.0;
constexpr std::size_t kBlock = 256;

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
    PhaseCount phases;
    double norm_h = 0, norm_hy = 0; // sums of squares of the terms
    double part_h = 0, part_hy = 0; // sums over blocks of (block sum of |term|)^2
    double sum_h = 0, sum_hy = 0;   // sums of |term|
    std::size_t blocks = 0;
};

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
// Compiled twice: for processors with fused multiply-add, which the exact
// products use, and for the rest.
__attribute__((target_clones("arch=haswell", "default")))
#endif
Accumulated
accumulate(const Prepared& p, double f) {
    Accumulated a;
    Sums<DD> block;
    double block_h = 0, block_hy = 0;
    std::size_t in_block = 0;
    const std::size_t n = p.t.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double h = p.h[i];
        if (h == 0.0) continue;
        const DD r = dd::cycles(p.t[i], f);
        a.phases.add(r);
        const dd::SinCos sc = dd::sincos_cycles(r);
        const DD hc = sc.c * h, hs = sc.s * h;
        const DD xm = p.xm[i];
        block.hc = block.hc + hc;
        block.hs = block.hs + hs;
        block.hcc = block.hcc + hc * sc.c;
        block.hcs = block.hcs + hc * sc.s;
        block.hss = block.hss + hs * sc.s;
        block.hyc = block.hyc + hc * xm;
        block.hys = block.hys + hs * xm;
        const double hy = std::fabs(h * xm.hi);
        a.norm_h += h * h;
        a.norm_hy += hy * hy;
        block_h += h;
        block_hy += hy;
        if (++in_block == kBlock) {
            add_to(a.total, block);
            block = Sums<DD>{};
            a.part_h += block_h * block_h;
            a.part_hy += block_hy * block_hy;
            a.sum_h += block_h;
            a.sum_hy += block_hy;
            block_h = block_hy = 0;
            in_block = 0;
            ++a.blocks;
        }
    }
    if (in_block > 0) {
        add_to(a.total, block);
        a.part_h += block_h * block_h;
        a.part_hy += block_hy * block_hy;
        a.sum_h += block_h;
        a.sum_hy += block_hy;
        ++a.blocks;
    }
    return a;
}

} // namespace

Evaluation evaluate_careful(const Prepared& p, double f) {
    const Accumulated a = accumulate(p, f);
    if (a.phases.singular()) return singular_point(f);

    // Each phase is good to about one unit; each product and sum adds a few.
    constexpr double u = dd::kUnit;
    const double nb = std::sqrt(static_cast<double>(a.blocks));
    const double kb = static_cast<double>(kBlock);
    SumBounds bd;
    bd.mu = kLambda * (2.0 * 4.0 * u * std::sqrt(a.norm_h) + 4.0 * u * std::sqrt(kb * a.part_h) +
                       4.0 * u * nb * a.sum_h);
    bd.eta = kLambda * (8.0 * u * std::sqrt(a.norm_hy) + 4.0 * u * std::sqrt(kb * a.part_hy) +
                        4.0 * u * nb * a.sum_hy);
    bd.unit = 4.0 * u;
    const Evaluation e = solve_fit(a.total, p, DD{}, bd, f);
    return e.settled ? e : evaluate_exact(p, f, e);
}

} // namespace fasogram::detail
