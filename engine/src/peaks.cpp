// The highest peaks of a spectrum, refined between their grid neighbours.
#include "fasogram/spectrum.hpp"

#include "spectrum_internal.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace fasogram {

namespace {

bool heap_order(double a, double b) {
    return a > b; // std heap functions with this order keep the lowest rho on top
}

Peak make_peak(const SpectrumPoint& p) {
    Peak peak;
    peak.frequency = p.f;
    peak.period = 1.0 / std::fabs(p.f);
    peak.rho = p.rho;
    peak.c1 = p.c1;
    // Out of the doubles' range the amplitude and phase come from the
    // scaled values: the doubles hold too few of their digits.
    const ScaledValue c2 = coefficient(p, 2), c3 = coefficient(p, 3);
    const double a2 = c2.hi + c2.lo, a3 = c3.hi + c3.lo;
    peak.amplitude = std::hypot(a2, a3);
    if (p.tail.exponent != 0) {
        const ScaledValue c1 = coefficient(p, 1);
        peak.exponent = p.tail.exponent;
        peak.head = {peak.amplitude, c1.hi + c1.lo};
        peak.amplitude = std::ldexp(peak.amplitude, p.tail.exponent);
    }
    double phase = std::atan2(a3, a2) / two_pi();
    if (phase < 0.0) phase += 1.0;
    if (phase >= 1.0) phase = 0.0;
    peak.phase = phase;
    return peak;
}

} // namespace

PeakFinder::PeakFinder(std::size_t k)
    : k_(k), keep_(k == 0 ? 0 : std::max<std::size_t>(2 * k, k + 8)) {}

void PeakFinder::offer(const Candidate& c) {
    if (keep_ == 0) return;
    auto lower = [](const Candidate& a, const Candidate& b) { return heap_order(a.rho, b.rho); };
    if (kept_.size() < keep_) {
        kept_.push_back(c);
        std::push_heap(kept_.begin(), kept_.end(), lower);
    } else if (c.rho > kept_.front().rho) {
        std::pop_heap(kept_.begin(), kept_.end(), lower);
        kept_.back() = c;
        std::push_heap(kept_.begin(), kept_.end(), lower);
    }
}

void PeakFinder::add(std::span<const double> f, std::span<const double> rho) {
    if (f.size() != rho.size())
        throw std::invalid_argument("PeakFinder::add: " + std::to_string(f.size()) +
                                    " frequencies but " + std::to_string(rho.size()) + " rho");
    // The neighbours in locals, so that they stay in registers.
    Seen p2 = prev2_, p1 = prev1_;
    int have = have_;
    for (std::size_t i = 0; i < f.size(); ++i) step(p2, p1, have, f[i], rho[i]);
    prev2_ = p2;
    prev1_ = p1;
    have_ = have;
}

namespace {

// Where the parabola through the grid maximum and its neighbours peaks, or
// the grid maximum where that parabola does not lie between them.
double parabola_top(double a, double ra, double b, double rb, double c, double rc) {
    const double p = (b - a) * (rb - rc), q = (b - c) * (rb - ra);
    const double den = p - q;
    if (!(den != 0.0)) return b;
    const double x = b - 0.5 * ((b - a) * p - (b - c) * q) / den;
    return x > a && x < c ? x : b;
}

double rho_of(const SpectrumPoint& p) {
    return std::isfinite(p.rho) ? p.rho : -1.0;
}

// Golden-section search for the maximum of rho in [lo, hi] of every bracket
// at once: one fit per bracket and step, all in one call.  Slow, but it
// needs nothing of rho but its values: the way for the fits too nearly
// singular for the derivatives.
std::vector<double> golden_maxima(const SpectrumEngine& engine,
                                  const std::vector<detail::PeakBracket>& brackets,
                                  unsigned threads) {
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    struct Search {
        double a, b, x1, x2, r1, r2;
    };
    std::vector<Search> s(brackets.size());
    std::vector<double> freqs;
    for (std::size_t i = 0; i < brackets.size(); ++i) {
        s[i].a = brackets[i].lo;
        s[i].b = brackets[i].hi;
        s[i].x1 = s[i].b - g * (s[i].b - s[i].a);
        s[i].x2 = s[i].a + g * (s[i].b - s[i].a);
        freqs.push_back(s[i].x1);
        freqs.push_back(s[i].x2);
    }
    std::vector<SpectrumPoint> fits = engine.fit(freqs, threads);
    for (std::size_t i = 0; i < s.size(); ++i) {
        s[i].r1 = rho_of(fits[2 * i]);
        s[i].r2 = rho_of(fits[2 * i + 1]);
    }
    // 60 steps narrow the bracket by 0.618^60, about 3e-13 of two grid steps.
    for (int step = 0; step < 60; ++step) {
        freqs.clear();
        for (Search& q : s) {
            if (q.r1 < q.r2) {
                q.a = q.x1;
                q.x1 = q.x2;
                q.r1 = q.r2;
                q.x2 = q.a + g * (q.b - q.a);
                freqs.push_back(q.x2);
            } else {
                q.b = q.x2;
                q.x2 = q.x1;
                q.r2 = q.r1;
                q.x1 = q.b - g * (q.b - q.a);
                freqs.push_back(q.x1);
            }
        }
        fits = engine.fit(freqs, threads);
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i].x2 == freqs[i])
                s[i].r2 = rho_of(fits[i]);
            else
                s[i].r1 = rho_of(fits[i]);
        }
    }
    std::vector<double> out;
    for (const Search& q : s) out.push_back(q.r1 >= q.r2 ? q.x1 : q.x2);
    return out;
}

} // namespace

std::vector<Peak> PeakFinder::peaks(const SpectrumEngine& engine, unsigned threads) const {
    const SpectrumEngine::Impl& im = engine.impl();
    std::vector<detail::PeakBracket> brackets;
    for (const Candidate& c : kept_)
        brackets.push_back({c.below,
                            parabola_top(c.below, c.rho_below, c.f, c.rho, c.above, c.rho_above),
                            c.above});
    // Newton's method on the derivative where the fit allows, the golden
    // section on rho's values elsewhere.
    const std::vector<double> newton_best = detail::refine_maxima(im.series, brackets, threads);
    std::vector<double> best = newton_best;
    std::vector<detail::PeakBracket> rest;
    for (std::size_t i = 0; i < best.size(); ++i)
        if (!std::isfinite(best[i])) rest.push_back(brackets[i]);
    if (!rest.empty()) {
        const std::vector<double> found = golden_maxima(engine, rest, threads);
        for (std::size_t i = 0, j = 0; i < best.size(); ++i)
            if (!std::isfinite(best[i])) best[i] = found[j++];
    }
    // The refined point, unless the grid point is higher.  Where the
    // derivative found the point, rho there may fall short of the grid
    // point's by its rounding: the top is flat to a double, and the root of
    // the derivative is the better place.
    std::vector<SpectrumPoint> fits = engine.fit(best, threads);
    std::vector<bool> refined(kept_.size());
    std::vector<double> again;
    for (std::size_t i = 0; i < kept_.size(); ++i) {
        const bool newton = std::isfinite(newton_best[i]);
        const double slack = newton ? 4.0 * std::numeric_limits<double>::epsilon() : 0.0;
        refined[i] = rho_of(fits[i]) >= kept_[i].rho * (1.0 - slack);
        if (!refined[i]) again.push_back(kept_[i].f);
    }
    const std::vector<SpectrumPoint> grid = engine.fit(again, threads);
    std::vector<Peak> out;
    for (std::size_t i = 0, j = 0; i < kept_.size(); ++i)
        out.push_back(make_peak(refined[i] ? fits[i] : grid[j++]));
    std::sort(out.begin(), out.end(), [](const Peak& a, const Peak& b) {
        return a.rho > b.rho || (a.rho == b.rho && a.frequency < b.frequency);
    });
    if (out.size() > k_) out.resize(k_);
    return out;
}

std::vector<Peak> find_peaks(const SpectrumEngine& engine, std::span<const SpectrumPoint> spectrum,
                             std::size_t k, unsigned threads) {
    PeakFinder finder(k);
    for (const SpectrumPoint& p : spectrum) finder.add(p);
    return finder.peaks(engine, threads);
}

} // namespace fasogram
