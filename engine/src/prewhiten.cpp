// Prewhitening: frequencies found one after the other in the spectra of the
// residuals, each time fitted together with every one found before.
#include "multifit_internal.hpp"

#include <algorithm>
#include <cmath>

namespace fasogram {

namespace {

// The fit of the mean alone: where no frequency has been accepted.
MultiFit mean_only(const detail::multi::WeightedSeries& p, int harmonics) {
    MultiFit fit;
    fit.harmonics = harmonics;
    long double st = 0, shr = 0, sh = 0, chi = 0;
    for (std::size_t i = 0; i < p.t.size(); ++i) st += p.w[i] * p.tau[i];
    fit.epoch = p.t_ref + static_cast<double>(st / p.sum_w);
    fit.c0 = p.mean;
    fit.residuals = p.yc;
    for (std::size_t i = 0; i < p.t.size(); ++i) {
        if (p.w[i] == 0.0) continue;
        const long double r = p.yc[i];
        shr += p.h[i] * r * r;
        sh += p.h[i];
        chi += p.w[i] * r * r;
    }
    fit.points = p.used;
    fit.time_span = p.span;
    fit.residual_rms = static_cast<double>(std::sqrt(shr / sh));
    fit.chi_square = static_cast<double>(chi);
    fit.errors_scaled = !p.has_sigma;
    const long double var =
        p.has_sigma ? 1.0L / p.sum_w : chi / p.sum_w / static_cast<long double>(p.used - 1);
    fit.c0_error = static_cast<double>(std::sqrt(var));
    fit.converged = true;
    return fit;
}

// The amplitude of frequency k over all its harmonics.
double total_amplitude(const MultiFit& fit, std::size_t k) {
    double sum = 0.0;
    for (const FitTerm& term : fit.terms)
        if (term.index == k) sum += term.amplitude * term.amplitude;
    return std::sqrt(sum);
}

} // namespace

Prewhitening prewhiten(std::span<const double> t, std::span<const double> y,
                       std::span<const double> sigma, Window window, const FrequencyGrid& grid,
                       const PrewhitenOptions& options) {
    using detail::multi::bad;
    detail::multi::check_window(window);
    detail::multi::check_harmonics(options.harmonics);
    detail::multi::check_threads(options.threads);
    if (options.max_frequencies < 1 || options.max_frequencies > max_fit_frequencies)
        bad("the number of frequencies to look for must be from 1 to " +
            std::to_string(max_fit_frequencies));
    if (options.max_frequencies * static_cast<std::size_t>(2 * options.harmonics + 1) >
        max_fit_coefficients)
        bad("that many frequencies and harmonics take more than " +
            std::to_string(max_fit_coefficients) + " coefficients");
    if (!std::isfinite(options.snr_min) || options.snr_min < 0.0)
        bad("the least signal-to-noise ratio is not a finite number of 0 or more");
    if (!std::isfinite(options.snr_half_width) || options.snr_half_width < 0.0)
        bad("the half width of the noise band is not a finite number of 0 or more");
    if (options.max_iterations < 1) bad("max_iterations must be 1 or more");

    const detail::multi::WeightedSeries p = detail::multi::weigh_series(t, y, sigma, window);
    check_grid(grid, p.t_max);
    const int H = options.harmonics;
    const unsigned threads = options.threads;

    Prewhitening result;
    result.snr_half_width =
        options.snr_half_width > 0.0 ? options.snr_half_width : 100.0 * p.line_width();
    const double half = result.snr_half_width;

    auto spectrum_of = [&](std::span<const double> values) {
        std::vector<HarmonicPoint> points;
        const HarmonicSpectrum spectrum(t, values, sigma, window, H);
        spectrum.run(
            grid, [&](const HarmonicPoint& q) { points.push_back(q); }, threads);
        return points;
    };

    const HarmonicSpectrum first(t, y, sigma, window, H);
    std::vector<HarmonicPoint> current;
    first.run(
        grid, [&](const HarmonicPoint& q) { current.push_back(q); }, threads);
    result.fit = mean_only(p, H);
    std::vector<double> found;
    result.stop = Prewhitening::Stop::count;

    while (found.size() < options.max_frequencies) {
        // The harmonics already in the model are passed over.
        std::vector<double> exclude;
        for (const double f : found)
            for (int h = 1; h <= H; ++h) exclude.push_back(h * f);
        std::vector<Peak> peaks = first.peaks(current, 1, exclude);
        // A peak at a negative frequency is its mirror's.
        if (peaks.empty() || !(std::fabs(peaks[0].frequency) > 0.0)) {
            result.stop = Prewhitening::Stop::no_peak;
            break;
        }
        const Peak peak = peaks[0];
        std::vector<double> start = found;
        start.push_back(std::fabs(peak.frequency));
        MultiFit fit;
        std::vector<HarmonicPoint> residual;
        try {
            fit = fit_frequencies(
                t, y, sigma, window, start,
                {H, std::numeric_limits<double>::quiet_NaN(), options.max_iterations});
            residual = spectrum_of(fit.residuals);
        } catch (const std::invalid_argument&) {
            // The candidate cannot be fitted with the others (it is too close
            // to one, or the residuals no longer vary): nothing more is found.
            result.stop = Prewhitening::Stop::no_peak;
            break;
        }
        const double noise = mean_amplitude(residual, fit.frequencies.back(), half);
        const double snr = total_amplitude(fit, found.size()) / noise;
        PrewhitenStep step;
        step.index = found.size();
        step.peak = peak;
        step.spectrum = current;
        step.fit = &fit;
        step.residual = residual;
        step.snr = snr;
        if (!(snr >= options.snr_min)) {
            result.stop = Prewhitening::Stop::snr;
            result.rejected = peak;
            result.rejected_snr = snr;
            break;
        }
        if (options.extra_stop && options.extra_stop(step)) {
            result.stop = Prewhitening::Stop::extra;
            result.rejected = peak;
            result.rejected_snr = snr;
            break;
        }
        found = fit.frequencies;
        result.fit = std::move(fit);
        current = std::move(residual);
    }

    // The S/N of every frequency in the final residuals.  One that fell
    // below the limit there (typically an alias taken before its true
    // frequency, which then took its power) is dropped, the lowest first,
    // and the others fitted again without it.
    for (;;) {
        result.noise.clear();
        result.snr.clear();
        for (std::size_t k = 0; k < found.size(); ++k) {
            const double noise = mean_amplitude(current, found[k], half);
            result.noise.push_back(noise);
            result.snr.push_back(total_amplitude(result.fit, k) / noise);
        }
        const auto lowest = std::min_element(result.snr.begin(), result.snr.end());
        if (lowest == result.snr.end() || *lowest >= options.snr_min) break;
        const auto k = static_cast<std::size_t>(lowest - result.snr.begin());
        result.dropped.push_back(found[k]);
        found.erase(found.begin() + static_cast<std::ptrdiff_t>(k));
        if (found.empty()) {
            result.fit = mean_only(p, H);
            current = spectrum_of(result.fit.residuals);
            continue;
        }
        result.fit =
            fit_frequencies(t, y, sigma, window, found,
                            {H, std::numeric_limits<double>::quiet_NaN(), options.max_iterations});
        found = result.fit.frequencies;
        current = spectrum_of(result.fit.residuals);
    }
    result.residual_spectrum = std::move(current);
    return result;
}

} // namespace fasogram
