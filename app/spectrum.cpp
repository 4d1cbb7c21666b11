#include "spectrum.hpp"

#include "spectrum_fast.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace fasogram {

double two_pi() {
    return 8.0 * std::atan(1.0);
}

struct SpectrumEngine::Impl {
    Window window = Window::hanning;
    std::vector<double> t, x; // in time order
    std::vector<double> w;    // normalised weights
    double span = 0.0;
    double mean = 0.0;
    double variance = 0.0;
};

namespace {

// The pairs in order of time (and of value among equal times), so that the
// order of the input lines cannot change any result.
void sort_pairs(std::span<const double> t, std::span<const double> x, std::vector<double>& ts,
                std::vector<double>& xs) {
    std::vector<std::size_t> order(t.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return t[a] < t[b] || (t[a] == t[b] && x[a] < x[b]);
    });
    ts.resize(t.size());
    xs.resize(t.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        ts[i] = t[order[i]];
        xs[i] = x[order[i]];
    }
}

// The raw window weight of every point.  The Hanning weight
// 1 + cos(2 pi (t - t_mid)/D) is evaluated as 2 sin^2(pi d/D), d the distance
// to the nearer end of the series, so that it keeps its relative accuracy
// near the ends and is exactly 0 at the earliest and the latest time.
std::vector<double> raw_weights(const std::vector<double>& t, Window window) {
    std::vector<double> h(t.size(), 1.0);
    if (window == Window::square) return h;
    const double first = t.front(), last = t.back(), span = last - first;
    const double pi = two_pi() / 2.0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double d = std::min(t[i] - first, last - t[i]);
        const double s = std::sin(pi * (d / span));
        h[i] = 2.0 * s * s;
    }
    return h;
}

} // namespace

SpectrumEngine::SpectrumEngine(std::span<const double> t, std::span<const double> x, Window window)
    : impl_(std::make_unique<Impl>()) {
    using Kind = SeriesError::Kind;
    if (t.size() != x.size())
        throw SeriesError(Kind::size_mismatch, "times and values differ in number");
    if (t.size() < 2) throw SeriesError(Kind::too_few_points, "fewer than two points");
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!std::isfinite(t[i]) || !std::isfinite(x[i]))
            throw SeriesError(Kind::not_finite, "a time or a value is not finite");
    Impl& s = *impl_;
    s.window = window;
    sort_pairs(t, x, s.t, s.x);
    s.span = s.t.back() - s.t.front();
    if (!(s.span > 0.0)) throw SeriesError(Kind::no_time_span, "every time is the same");

    const std::vector<double> h = raw_weights(s.t, window);
    // The weighted variance is zero exactly when every point that carries
    // weight has the same value.
    bool varies = false;
    double seen = 0.0;
    bool any = false;
    for (std::size_t i = 0; i < h.size() && !varies; ++i) {
        if (h[i] == 0.0) continue;
        if (any && s.x[i] != seen) varies = true;
        seen = s.x[i];
        any = true;
    }
    if (!varies) throw SeriesError(Kind::zero_variance, "the weighted values do not vary");

    long double sum = 0;
    for (double v : h) sum += v;
    s.w.resize(h.size());
    for (std::size_t i = 0; i < h.size(); ++i) s.w[i] = static_cast<double>(h[i] / sum);
    long double m = 0;
    for (std::size_t i = 0; i < h.size(); ++i) m += h[i] * static_cast<long double>(s.x[i]);
    m /= sum;
    long double v = 0;
    for (std::size_t i = 0; i < h.size(); ++i) {
        const long double d = s.x[i] - m;
        v += h[i] * d * d;
    }
    s.mean = static_cast<double>(m);
    s.variance = static_cast<double>(v / sum);
}

SpectrumEngine::~SpectrumEngine() = default;
SpectrumEngine::SpectrumEngine(SpectrumEngine&&) noexcept = default;
SpectrumEngine& SpectrumEngine::operator=(SpectrumEngine&&) noexcept = default;

std::size_t SpectrumEngine::size() const {
    return impl_->t.size();
}
Window SpectrumEngine::window() const {
    return impl_->window;
}
double SpectrumEngine::time_span() const {
    return impl_->span;
}
double SpectrumEngine::line_width() const {
    return (impl_->window == Window::hanning ? 2.0 : 1.0) / impl_->span;
}
double SpectrumEngine::mean() const {
    return impl_->mean;
}
double SpectrumEngine::variance() const {
    return impl_->variance;
}

void SpectrumEngine::run(const FrequencyGrid& grid,
                         const std::function<void(const SpectrumPoint&)>& on_point,
                         unsigned threads) const {
    const Impl& s = *impl_;
    const std::int64_t count = grid.size();
    constexpr std::int64_t kSlice = 1 << 16;
    std::vector<double> freqs;
    std::vector<SineFit> fits;
    std::int64_t j = 0;
    while (j < count) {
        if (grid.skipped(grid.frequency(j))) {
            ++j;
            continue;
        }
        freqs.clear();
        while (j < count && static_cast<std::int64_t>(freqs.size()) < kSlice &&
               !grid.skipped(grid.frequency(j)))
            freqs.push_back(grid.frequency(j++));
        fits.assign(freqs.size(), SineFit{});
        fit_spectrum_fast(s.t, s.w, s.x, freqs, grid.step(), fits, threads);
        for (std::size_t k = 0; k < freqs.size(); ++k)
            on_point({freqs[k], fits[k].rho, fits[k].c1, fits[k].c2, fits[k].c3});
    }
}

std::vector<SpectrumPoint> SpectrumEngine::fit(std::span<const double> freqs,
                                               unsigned threads) const {
    const Impl& s = *impl_;
    std::vector<SpectrumPoint> out;
    out.reserve(freqs.size());
    for (double f : freqs) {
        SineFit one;
        fit_spectrum_fast(s.t, s.w, s.x, std::span<const double>(&f, 1), 0.0,
                          std::span<SineFit>(&one, 1), threads);
        out.push_back({f, one.rho, one.c1, one.c2, one.c3});
    }
    return out;
}

PlotArrays compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                            const std::function<void(const SpectrumPoint&)>& on_point,
                            unsigned threads) {
    PlotArrays plot;
    engine.run(
        grid,
        [&](const SpectrumPoint& point) {
            on_point(point);
            plot.cox.push_back(static_cast<float>(point.f));
            plot.coy.push_back(static_cast<float>(point.rho));
        },
        threads);
    return plot;
}

Spectrum compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                          unsigned threads) {
    Spectrum spectrum;
    spectrum.plot = compute_spectrum(
        engine, grid, [&](const SpectrumPoint& point) { spectrum.points.push_back(point); },
        threads);
    return spectrum;
}

} // namespace fasogram
