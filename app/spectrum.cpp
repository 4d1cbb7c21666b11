#include "spectrum.hpp"

#include "spectrum_fast.hpp"

#include <algorithm>
#include <cmath>

namespace fasogram {

double two_pi() {
    return 8.0 * std::atan(1.0);
}

Weighting weigh_series(std::span<const double> t, std::span<const double> x, Window window) {
    const std::size_t n = t.size();
    Weighting result;
    result.w.resize(n);
    result.wx.resize(n);
    if (n == 0) return result;

    const double dospi = two_pi();
    const double span = t[n - 1] - t[0];
    const double tau = t[0] + span / 2.0;
    for (std::size_t i = 0; i < n; ++i) {
        result.w[i] = window == Window::hanning ? std::cos(dospi * (t[i] - tau) / span) + 1.0 : 1.0;
    }
    double sumapeso = 0.0;
    for (std::size_t i = 0; i < n; ++i) sumapeso += result.w[i];
    for (std::size_t i = 0; i < n; ++i) result.w[i] = result.w[i] / sumapeso;

    double mean = 0.0;
    double xcuad = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        result.wx[i] = x[i] * result.w[i];
        mean += result.wx[i];
        xcuad += x[i] * result.wx[i];
    }
    result.mean = mean;
    result.variance = xcuad - mean * mean;
    return result;
}

ReferenceFitter::ReferenceFitter(std::span<const double> t, const Weighting& weighting)
    : t_(t), weighting_(weighting), ca_(t.size()), sa_(t.size()) {}

Fit ReferenceFitter::fosyl(double f) {
    const std::size_t n = t_.size();
    const double dospi = two_pi();
    const std::vector<double>& w = weighting_.w;
    const std::vector<double>& wx = weighting_.wx;
    const double m = weighting_.mean;

    double f12 = 0.0, f13 = 0.0, f22 = 0.0, f23 = 0.0, f33 = 0.0, f2x = 0.0, f3x = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double alfa = dospi * t_[i] * f;
        const double al = std::fmod(alfa, dospi);
        ca_[i] = std::cos(al);
        sa_[i] = std::sin(al);
        const double c = ca_[i];
        const double s = sa_[i];
        const double cap = w[i] * c;
        const double sap = w[i] * s;
        f12 += cap;
        f13 += sap;
        f22 += c * cap;
        f23 += c * sap;
        f33 += s * sap;
        f2x += wx[i] * c;
        f3x += wx[i] * s;
    }

    // Normal equations, rows (1, f12, f13), (f12, f22, f23), (f13, f23, f33),
    // right-hand side (m, f2x, f3x); Cramer's rule expanded along the first
    // row.  The leading 1 stands for the sum of the normalised weights.
    const double det =
        (f22 * f33 - f23 * f23) - f12 * (f12 * f33 - f23 * f13) + f13 * (f12 * f23 - f22 * f13);
    Fit fit;
    fit.c1 = (m * (f22 * f33 - f23 * f23) - f12 * (f2x * f33 - f23 * f3x) +
              f13 * (f2x * f23 - f22 * f3x)) /
             det;
    fit.c2 =
        ((f2x * f33 - f23 * f3x) - m * (f12 * f33 - f23 * f13) + f13 * (f12 * f3x - f2x * f13)) /
        det;
    fit.c3 =
        ((f22 * f3x - f2x * f23) - f12 * (f12 * f3x - f2x * f13) + m * (f12 * f23 - f22 * f13)) /
        det;

    double power = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double y = fit.c1 + fit.c2 * ca_[i] + fit.c3 * sa_[i];
        power += w[i] * (y * y);
    }
    fit.power = power;
    return fit;
}

PlotArrays compute_spectrum(std::span<const double> t, std::span<const double> x,
                            const Weighting& weighting, const FrequencyGrid& grid,
                            const std::function<void(const SpectrumPoint&)>& on_point) {
    PlotArrays plot;
    const double epsilon = grid.skip_threshold();
    const std::int64_t count = grid.size();
    // The engine works on slices of the grid so that memory stays bounded
    // whatever the number of frequencies.
    constexpr std::int64_t kSlice = 1 << 16;
    std::vector<double> freqs;
    std::vector<SineFit> fits;
    for (std::int64_t first = 0; first < count; first += kSlice) {
        const std::int64_t n = std::min(kSlice, count - first);
        freqs.resize(static_cast<std::size_t>(n));
        for (std::int64_t k = 0; k < n; ++k)
            freqs[static_cast<std::size_t>(k)] = grid.frequency(first + k);
        fits.assign(freqs.size(), SineFit{});
        fit_spectrum_fast(t, weighting.w, x, freqs, grid.step(), fits);
        for (std::size_t k = 0; k < freqs.size(); ++k) {
            const double f = freqs[k];
            if (std::fabs(f) < epsilon) continue;
            SpectrumPoint point;
            point.f = f;
            point.rho = fits[k].rho;
            point.c1 = fits[k].c1;
            point.c2 = fits[k].c2;
            point.c3 = fits[k].c3;
            on_point(point);
            plot.cox.push_back(static_cast<float>(f));
            plot.coy.push_back(static_cast<float>(point.rho));
        }
    }
    return plot;
}

Spectrum compute_spectrum(std::span<const double> t, std::span<const double> x,
                          const Weighting& weighting, const FrequencyGrid& grid) {
    Spectrum spectrum;
    spectrum.plot = compute_spectrum(t, x, weighting, grid, [&](const SpectrumPoint& point) {
        spectrum.points.push_back(point);
    });
    return spectrum;
}

} // namespace fasogram
