// The spectrum of the H-harmonic model and the spectral window.
//
// At frequency f, with theta = 2 pi f tau, the normal equations of the
// harmonics need only the sums
//     C_m = sum w cos(m theta),  S_m = sum w sin(m theta),   m = 0 .. 2H,
//     YC_h = sum w (y - mean) cos(h theta),  YS_h likewise,  h = 1 .. H,
// since products of harmonics are harmonics again:
//     cos(h th) cos(k th) = (cos((h-k) th) + cos((h+k) th)) / 2,  and so on.
// The model is fitted to the values less their weighted mean with the
// basis functions less their weighted means (the constant drops out); rho
// is Y . beta / V.  Over a grid, exp(i theta) of every point is stepped
// from one frequency to the next by a rotation, started afresh from its
// reduced phase at each block of kBlock frequencies.
#include "multifit_internal.hpp"

#include <algorithm>
#include <cmath>

namespace fasogram {

using detail::multi::WeightedSeries;

namespace {

constexpr std::size_t kBlock = 64;
constexpr std::size_t kChunkBlocks = 64;

struct Layout {
    int H;
    std::size_t stride() const { return static_cast<std::size_t>(6 * H + 2); }
    std::size_t c(int m) const { return static_cast<std::size_t>(m); }
    std::size_t s(int m) const { return static_cast<std::size_t>(2 * H + 1 + m); }
    std::size_t yc(int h) const { return static_cast<std::size_t>(4 * H + 1 + h); }
    std::size_t ys(int h) const { return static_cast<std::size_t>(5 * H + 1 + h); }
};

// Adds one point's terms, z = exp(i theta), to the sums.
inline void add_point(const Layout& L, double w, double wy, double zr, double zi, double* u) {
    double pr = zr, pi = zi;
    const int m_max = 2 * L.H;
    for (int m = 1; m <= m_max; ++m) {
        u[L.c(m)] += w * pr;
        u[L.s(m)] += w * pi;
        if (m <= L.H) {
            u[L.yc(m)] += wy * pr;
            u[L.ys(m)] += wy * pi;
        }
        const double nr = pr * zr - pi * zi;
        pi = pr * zi + pi * zr;
        pr = nr;
    }
}

// sum w cos(m theta) for any integer m, from the sums of m >= 0.
inline double cos_sum(const Layout& L, const double* u, int m) {
    return u[L.c(std::abs(m))];
}
inline double sin_sum(const Layout& L, const double* u, int m) {
    return m < 0 ? -u[L.s(-m)] : u[L.s(m)];
}

} // namespace

struct HarmonicSpectrum::Impl {
    WeightedSeries p;
    int H = 1;

    // The fit at f from its sums.
    HarmonicPoint solve(double f, const double* u) const {
        const Layout L{H};
        const std::size_t n = static_cast<std::size_t>(2 * H);
        const double S = p.sum_w;
        auto csum = [&](int m) { return m == 0 ? S : cos_sum(L, u, m); };
        auto ssum = [&](int m) { return m == 0 ? 0.0 : sin_sum(L, u, m); };
        // Basis j = 2(h-1) is cos(h th), j = 2(h-1)+1 is sin(h th).
        std::vector<long double> M(n * n), Y(n), mean_b(n);
        for (int h = 1; h <= H; ++h) {
            mean_b[2 * (h - 1)] = csum(h) / S;
            mean_b[2 * (h - 1) + 1] = ssum(h) / S;
            Y[2 * (h - 1)] = u[L.yc(h)] / S;
            Y[2 * (h - 1) + 1] = u[L.ys(h)] / S;
        }
        for (int h = 1; h <= H; ++h)
            for (int k = 1; k <= H; ++k) {
                const std::size_t ic = 2 * (h - 1), is = ic + 1, kc = 2 * (k - 1), ks = kc + 1;
                const long double cc = 0.5L * (csum(h - k) + csum(h + k));
                const long double ss = 0.5L * (csum(h - k) - csum(h + k));
                const long double cs = 0.5L * (ssum(k + h) + ssum(k - h)); // cos(h) sin(k)
                M[ic * n + kc] = cc / S - mean_b[ic] * mean_b[kc];
                M[is * n + ks] = ss / S - mean_b[is] * mean_b[ks];
                M[ic * n + ks] = cs / S - mean_b[ic] * mean_b[ks];
                M[ks * n + ic] = M[ic * n + ks];
            }
        HarmonicPoint out;
        out.f = f;
        std::vector<long double> beta = Y;
        if (!detail::multi::solve_spd(M, beta, n)) {
            const double nan = std::numeric_limits<double>::quiet_NaN();
            out.rho = out.amplitude = out.c0 = out.a1 = out.b1 = nan;
            return out;
        }
        long double explained = 0, c0 = p.mean, power = 0;
        for (std::size_t j = 0; j < n; ++j) {
            explained += Y[j] * beta[j];
            c0 -= beta[j] * mean_b[j];
            power += beta[j] * beta[j];
        }
        out.rho = static_cast<double>(std::fabs(explained) / p.variance);
        out.amplitude = static_cast<double>(std::sqrt(power));
        out.c0 = static_cast<double>(c0);
        // The fundamental with times from 0: theta = 2 pi f t - psi.
        const double psi = two_pi() * detail::multi::reduced_cycles(f, p.t_ref);
        const double a = static_cast<double>(beta[0]), b = static_cast<double>(beta[1]);
        out.a1 = a * std::cos(psi) - b * std::sin(psi);
        out.b1 = a * std::sin(psi) + b * std::cos(psi);
        return out;
    }

    // The sums at one frequency, every phase computed afresh.
    void direct_sums(double f, std::vector<double>& u) const {
        const Layout L{H};
        u.assign(L.stride(), 0.0);
        const double tp = two_pi();
        for (std::size_t i = 0; i < p.tau.size(); ++i) {
            const double th = tp * detail::multi::reduced_cycles(f, p.tau[i]);
            add_point(L, p.w[i], p.w[i] * p.yc[i], std::cos(th), std::sin(th), u.data());
        }
    }

    HarmonicPoint at(double f) const {
        std::vector<double> u;
        direct_sums(f, u);
        return solve(f, u.data());
    }

    // The grid frequencies j = first .. first + count - 1 (count <= kBlock),
    // skipped ones included, into out.
    void block(const FrequencyGrid& grid, std::int64_t first, std::size_t count,
               HarmonicPoint* out) const {
        const Layout L{H};
        const std::size_t n = p.tau.size();
        const double f0 = grid.frequency(first), df = grid.step();
        const double tp = two_pi();
        std::vector<double> zr(n), zi(n), dr(n), di(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double th = tp * detail::multi::reduced_cycles(f0, p.tau[i]);
            const double dth = tp * detail::multi::reduced_cycles(df, p.tau[i]);
            zr[i] = std::cos(th);
            zi[i] = std::sin(th);
            dr[i] = std::cos(dth);
            di[i] = std::sin(dth);
        }
        std::vector<double> u(L.stride());
        for (std::size_t j = 0; j < count; ++j) {
            std::fill(u.begin(), u.end(), 0.0);
            for (std::size_t i = 0; i < n; ++i) {
                if (j > 0) {
                    const double r = zr[i] * dr[i] - zi[i] * di[i];
                    zi[i] = zr[i] * di[i] + zi[i] * dr[i];
                    zr[i] = r;
                }
                add_point(L, p.w[i], p.w[i] * p.yc[i], zr[i], zi[i], u.data());
            }
            out[j] = solve(grid.frequency(first + static_cast<std::int64_t>(j)), u.data());
        }
    }
};

HarmonicSpectrum::HarmonicSpectrum(std::span<const double> t, std::span<const double> y,
                                   std::span<const double> sigma, Window window, int harmonics)
    : impl_(std::make_unique<Impl>()) {
    detail::multi::check_window(window);
    detail::multi::check_harmonics(harmonics);
    impl_->p = detail::multi::weigh_series(t, y, sigma, window);
    impl_->H = harmonics;
}

HarmonicSpectrum::~HarmonicSpectrum() = default;
HarmonicSpectrum::HarmonicSpectrum(HarmonicSpectrum&&) noexcept = default;
HarmonicSpectrum& HarmonicSpectrum::operator=(HarmonicSpectrum&&) noexcept = default;

const HarmonicSpectrum::Impl& HarmonicSpectrum::impl() const {
    if (!impl_) detail::multi::bad("the harmonic spectrum was moved from");
    return *impl_;
}

std::size_t HarmonicSpectrum::size() const {
    return impl().p.t.size();
}
int HarmonicSpectrum::harmonics() const {
    return impl().H;
}
Window HarmonicSpectrum::window() const {
    return impl().p.window;
}
double HarmonicSpectrum::time_span() const {
    return impl().p.span;
}
double HarmonicSpectrum::line_width() const {
    return impl().p.line_width();
}
double HarmonicSpectrum::mean() const {
    return impl().p.mean;
}
double HarmonicSpectrum::variance() const {
    return impl().p.variance;
}

void HarmonicSpectrum::run(const FrequencyGrid& grid,
                           const std::function<void(const HarmonicPoint&)>& on_point,
                           unsigned threads) const {
    const Impl& im = impl();
    check_grid(grid, im.p.t_max);
    detail::multi::check_frequency(grid.f_ini, im.p.t_max, "the initial frequency");
    detail::multi::check_frequency(grid.f_fin, im.p.t_max, "the final frequency");
    detail::multi::check_threads(threads);
    if (!on_point) detail::multi::bad("run needs a function to take the points");
    const std::int64_t count = grid.size();
    const auto block = static_cast<std::int64_t>(kBlock);
    const std::int64_t chunk = block * static_cast<std::int64_t>(kChunkBlocks);
    std::vector<HarmonicPoint> out;
    for (std::int64_t first = 0; first < count; first += chunk) {
        const std::int64_t last = std::min(count, first + chunk);
        out.assign(static_cast<std::size_t>(last - first), HarmonicPoint{});
        const auto blocks = static_cast<std::size_t>((last - first + block - 1) / block);
        detail::multi::parallel_items(blocks, threads, [&](std::size_t b) {
            const std::int64_t start = first + static_cast<std::int64_t>(b) * block;
            const auto len = static_cast<std::size_t>(std::min(block, last - start));
            im.block(grid, start, len, out.data() + (start - first));
        });
        for (const HarmonicPoint& point : out)
            if (!grid.skipped(point.f)) on_point(point);
    }
}

std::vector<HarmonicPoint> HarmonicSpectrum::at(std::span<const double> freqs) const {
    const Impl& im = impl();
    for (const double f : freqs) detail::multi::check_frequency(f, im.p.t_max, "a frequency");
    std::vector<HarmonicPoint> out;
    out.reserve(freqs.size());
    for (const double f : freqs) out.push_back(im.at(f));
    return out;
}

namespace {

Peak peak_of(const HarmonicPoint& p) {
    Peak peak;
    peak.frequency = p.f;
    peak.period = 1.0 / std::fabs(p.f);
    peak.rho = p.rho;
    peak.amplitude = p.amplitude;
    double phase = std::atan2(p.b1, p.a1) / two_pi();
    if (phase < 0.0) phase += 1.0;
    if (phase >= 1.0) phase = 0.0;
    peak.phase = phase;
    peak.c1 = p.c0;
    return peak;
}

} // namespace

std::vector<Peak> HarmonicSpectrum::peaks(std::span<const HarmonicPoint> points, std::size_t k,
                                          std::span<const double> exclude) const {
    const Impl& im = impl();
    for (const double f : exclude)
        if (!std::isfinite(f)) detail::multi::bad("a frequency to pass over is not finite");
    for (const HarmonicPoint& p : points)
        if (!std::isfinite(p.f)) detail::multi::bad("a spectrum point's frequency is not finite");
    for (std::size_t i = 1; i < points.size(); ++i)
        if (!(points[i].f > points[i - 1].f))
            detail::multi::bad("the spectrum's frequencies do not increase");
    const double half_line = 0.5 * im.p.line_width();
    struct Candidate {
        double below, f, above, rho;
    };
    std::vector<Candidate> found;
    // Neighbours on the grid: a step much wider than the one before (the
    // frequencies skipped around zero) or a singular point separates them.
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        const HarmonicPoint &a = points[i - 1], &b = points[i], &c = points[i + 1];
        if (!std::isfinite(a.rho) || !std::isfinite(b.rho) || !std::isfinite(c.rho)) continue;
        const double before = b.f - a.f, after = c.f - b.f;
        if (after > 1.5 * before || before > 1.5 * after) continue;
        if (!(b.rho > a.rho && b.rho >= c.rho)) continue;
        bool near = false;
        // The spectrum is even in f: a frequency excludes its mirror too.
        for (const double e : exclude)
            near = near || std::fabs(std::fabs(b.f) - std::fabs(e)) < half_line;
        if (!near) found.push_back({a.f, b.f, c.f, b.rho});
    }
    std::sort(found.begin(), found.end(),
              [](const Candidate& x, const Candidate& y) { return x.rho > y.rho; });
    // Refining can reorder close maxima: a few more than k are refined.
    const std::size_t refine = std::min(found.size(), k == 0 ? 0 : std::max(2 * k, k + 8));
    std::vector<Peak> peaks;
    for (std::size_t r = 0; r < refine; ++r) {
        // Golden-section search for the maximum of rho between the
        // neighbours (it lies between them: the middle is above both).
        const double g = (std::sqrt(5.0) - 1.0) / 2.0;
        double lo = found[r].below, hi = found[r].above;
        HarmonicPoint best = im.at(found[r].f);
        double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
        HarmonicPoint p1 = im.at(x1), p2 = im.at(x2);
        for (int it = 0; it < 60 && hi - lo > 1e-13 * std::max(std::fabs(hi), std::fabs(lo));
             ++it) {
            if (!(p1.rho < p2.rho)) {
                hi = x2;
                x2 = x1;
                p2 = p1;
                x1 = hi - g * (hi - lo);
                p1 = im.at(x1);
            } else {
                lo = x1;
                x1 = x2;
                p1 = p2;
                x2 = lo + g * (hi - lo);
                p2 = im.at(x2);
            }
        }
        for (const HarmonicPoint* p : {&p1, &p2})
            if (p->rho > best.rho) best = *p;
        peaks.push_back(peak_of(best));
    }
    std::stable_sort(peaks.begin(), peaks.end(),
                     [](const Peak& x, const Peak& y) { return x.rho > y.rho; });
    if (peaks.size() > k) peaks.resize(k);
    return peaks;
}

double mean_amplitude(std::span<const HarmonicPoint> spectrum, double f, double half_width) {
    if (!std::isfinite(f)) detail::multi::bad("mean_amplitude: the frequency is not finite");
    if (!(half_width >= 0.0) || !std::isfinite(half_width))
        detail::multi::bad("mean_amplitude: the half width is not a finite number of 0 or more");
    double sum = 0.0;
    std::size_t count = 0;
    for (const HarmonicPoint& p : spectrum) {
        if (std::fabs(p.f - f) > half_width || !std::isfinite(p.amplitude)) continue;
        sum += p.amplitude;
        ++count;
    }
    return count == 0 ? std::numeric_limits<double>::quiet_NaN() : sum / static_cast<double>(count);
}

std::vector<WindowPoint> spectral_window(std::span<const double> t, std::span<const double> sigma,
                                         Window window, const FrequencyGrid& grid,
                                         unsigned threads) {
    std::vector<double> ones(t.size(), 0.0);
    // The values do not matter: a series of zeros gives the weights.
    const WeightedSeries p = detail::multi::weigh_series(t, ones, sigma, window, false);
    check_grid(grid, p.t_max);
    detail::multi::check_frequency(grid.f_ini, p.t_max, "the initial frequency");
    detail::multi::check_frequency(grid.f_fin, p.t_max, "the final frequency");
    detail::multi::check_threads(threads);
    const std::int64_t count = grid.size();
    std::vector<WindowPoint> out(static_cast<std::size_t>(count));
    const auto block = static_cast<std::int64_t>(kBlock);
    const auto blocks = static_cast<std::size_t>((count + block - 1) / block);
    const double tp = two_pi();
    detail::multi::parallel_items(blocks, threads, [&](std::size_t b) {
        const std::int64_t first = static_cast<std::int64_t>(b) * block;
        const std::int64_t last = std::min(count, first + block);
        const double f0 = grid.frequency(first), df = grid.step();
        const std::size_t n = p.tau.size();
        std::vector<double> zr(n), zi(n), dr(n), di(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double th = tp * detail::multi::reduced_cycles(f0, p.tau[i]);
            const double dth = tp * detail::multi::reduced_cycles(df, p.tau[i]);
            zr[i] = std::cos(th);
            zi[i] = std::sin(th);
            dr[i] = std::cos(dth);
            di[i] = std::sin(dth);
        }
        for (std::int64_t j = first; j < last; ++j) {
            double re = 0.0, im = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                if (j > first) {
                    const double r = zr[i] * dr[i] - zi[i] * di[i];
                    zi[i] = zr[i] * di[i] + zi[i] * dr[i];
                    zr[i] = r;
                }
                re += p.w[i] * zr[i];
                im += p.w[i] * zi[i];
            }
            out[static_cast<std::size_t>(j)] = {grid.frequency(j), std::hypot(re, im) / p.sum_w};
        }
    });
    return out;
}

} // namespace fasogram
