// The highest peaks of a spectrum, refined between their grid neighbours.
#include "fasogram/spectrum.hpp"

#include <algorithm>
#include <cmath>

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
    peak.amplitude = std::hypot(p.c2, p.c3);
    double phase = std::atan2(p.c3, p.c2) / two_pi();
    if (phase < 0.0) phase += 1.0;
    if (phase >= 1.0) phase = 0.0;
    peak.phase = phase;
    peak.c1 = p.c1;
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

void PeakFinder::add(const SpectrumPoint& point) {
    if (!std::isfinite(point.rho)) {
        have_ = 0; // a singular frequency is nobody's neighbour
        return;
    }
    if (have_ >= 1) {
        const double step = point.f - prev1_.f;
        const double before = have_ >= 2 ? prev1_.f - prev2_.f : step;
        if (step > 1.5 * before) have_ = 0;
    }
    if (have_ >= 2 && prev1_.rho > prev2_.rho && prev1_.rho >= point.rho)
        offer({prev2_.f, prev1_.f, point.f, prev1_.rho});
    prev2_ = prev1_;
    prev1_ = point;
    have_ = std::min(have_ + 1, 2);
}

std::vector<Peak> PeakFinder::peaks(const SpectrumEngine& engine, unsigned threads) const {
    std::vector<Candidate> cands = kept_;
    // Golden-section search for the maximum of rho in [below, above] of every
    // candidate at once: one fit per candidate and step, all in one call.
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    struct Search {
        double a, b, x1, x2, r1, r2;
    };
    std::vector<Search> s(cands.size());
    std::vector<double> freqs;
    for (std::size_t i = 0; i < cands.size(); ++i) {
        s[i].a = cands[i].below;
        s[i].b = cands[i].above;
        s[i].x1 = s[i].b - g * (s[i].b - s[i].a);
        s[i].x2 = s[i].a + g * (s[i].b - s[i].a);
        freqs.push_back(s[i].x1);
        freqs.push_back(s[i].x2);
    }
    auto rho_of = [](const SpectrumPoint& p) { return std::isfinite(p.rho) ? p.rho : -1.0; };
    std::vector<SpectrumPoint> fits = engine.fit(freqs, threads);
    for (std::size_t i = 0; i < cands.size(); ++i) {
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
    // The best of the grid point and the searched points.
    freqs.clear();
    for (std::size_t i = 0; i < s.size(); ++i)
        freqs.push_back(s[i].r1 >= s[i].r2 ? s[i].x1 : s[i].x2);
    fits = engine.fit(freqs, threads);
    std::vector<Peak> out;
    for (std::size_t i = 0; i < cands.size(); ++i) {
        const bool searched = rho_of(fits[i]) >= cands[i].rho;
        const SpectrumPoint p =
            searched ? fits[i] : engine.fit(std::span<const double>(&cands[i].f, 1), threads)[0];
        out.push_back(make_peak(p));
    }
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
