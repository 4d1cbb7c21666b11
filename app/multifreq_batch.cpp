#include "multifreq_batch.hpp"

#include "batch_plot.hpp"
#include "error.hpp"
#include "messages.hpp"
#include "output_file.hpp"
#include "phase_plot.hpp"
#include "table_csv.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace fasogram {

namespace {

std::string shortest(double value) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

// 17 significant digits, or nan / inf / -inf.
std::string full(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 16).ptr;
    return std::string(buffer, end);
}

// Right-aligned in `width`, with `digits` significant digits (or decimals
// when fixed).
std::string column(double value, int digits, int width, bool fixed = false) {
    char buffer[64];
    std::string text;
    if (std::isnan(value)) {
        text = "nan";
    } else {
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, value,
                          fixed ? std::chars_format::fixed : std::chars_format::general, digits)
                .ptr;
        text.assign(buffer, end);
    }
    if (text.size() < static_cast<std::size_t>(width))
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return " " + text;
}

void write_file(RunOutputs& outputs, const std::string& path, const std::string& text) {
    outputs.file(path, path).write(text);
}

const char* window_name(Window window) {
    return window == Window::hanning ? "Hanning" : _("square");
}

} // namespace

Series remove_trend(Series series, const Options& options, const NoteFunction& note) {
    const int degree = options.multi.detrend;
    if (degree < 0) return series;
    Trend trend;
    try {
        trend = fit_trend(series.t, series.x, series.sigma, options.window, degree);
    } catch (const SeriesError&) {
        return series; // a series with no spectrum: said when the engine refuses it
    } catch (const std::invalid_argument&) {
        throw FatalError("--detrend " + std::to_string(degree) + _(": a polynomial of degree ") +
                         std::to_string(degree) + _(" needs at least ") +
                         std::to_string(degree + 1) + _(" distinct times with weight"));
    }
    for (std::size_t i = 0; i < series.size(); ++i) series.x[i] -= trend(series.t[i]);
    note(_("trend of degree ") + std::to_string(degree) + _(" subtracted (window ") +
         window_name(options.window) + ")");
    return series;
}

HarmonicTable::HarmonicTable(const Series& series, const Options& options)
    : spectrum_(series.t, series.x, series.sigma, options.window, options.multi.harmonics),
      keep_(options.peaks > 0), threads_(options.threads) {}

PlotArrays HarmonicTable::run(const FrequencyGrid& grid,
                              const std::function<void(const SpectrumPoint&)>& on_point,
                              bool curve) {
    PlotArrays plot;
    points_.clear();
    spectrum_.run(
        grid,
        [&](const HarmonicPoint& p) {
            SpectrumPoint point;
            point.f = p.f;
            point.rho = p.rho;
            point.c1 = p.c0;
            point.c2 = p.a1;
            point.c3 = p.b1;
            on_point(point);
            if (keep_) points_.push_back(p);
            if (curve) {
                plot.cox.push_back(static_cast<float>(p.f));
                plot.coy.push_back(static_cast<float>(p.rho));
            }
        },
        threads_);
    return plot;
}

std::vector<Peak> HarmonicTable::peaks(std::size_t k) const {
    return spectrum_.peaks(points_, k);
}

std::string format_fit_table(const Prewhitening& result) {
    const MultiFit& fit = result.fit;
    std::string text =
        _("  n  h        frequency    error f  error f MO           period     amplitude    error "
          "A  error A MO phase (cycles)  phase err   err ph MO    S/N\n");
    for (const FitTerm& term : fit.terms) {
        char head[16];
        std::snprintf(head, sizeof head, "%3zu %2d", term.index + 1, term.harmonic);
        text += head;
        text += column(term.frequency, 10, 16);
        text += column(term.frequency_error, 3, 10);
        text += column(term.frequency_error_analytic, 3, 11);
        text += column(1.0 / term.frequency, 10, 16);
        text += column(term.amplitude, 6, 13);
        text += column(term.amplitude_error, 3, 10);
        text += column(term.amplitude_error_analytic, 3, 11);
        text += column(term.phase, 5, 14, true);
        text += column(term.phase_error, 3, 10);
        text += column(term.phase_error_analytic, 3, 11);
        text += column(term.amplitude / result.noise[term.index], 1, 6, true);
        text += '\n';
    }
    text += "C0 =" + column(fit.c0, 10, 0) + " +-" + column(fit.c0_error, 3, 0) +
            _("; phases from T0 =") + column(fit.epoch, 15, 0) + "\n";
    text += _("residuals: sigma =") + column(fit.residual_rms, 6, 0) +
            ", N = " + std::to_string(fit.points) + ", T =" + column(fit.time_span, 8, 0) +
            (fit.errors_scaled ? _("; errors scaled by the variance of the residuals")
                               : _("; errors from the given sigmas")) +
            "\n";
    return text;
}

std::string format_fit_csv(const Prewhitening& result) {
    const MultiFit& fit = result.fit;
    std::string text = "n,armonico,frecuencia,error_frecuencia,error_frecuencia_mo,periodo,"
                       "amplitud,error_amplitud,error_amplitud_mo,fase,error_fase,error_fase_mo,"
                       "snr,epoca,C0,error_C0\n";
    for (const FitTerm& term : fit.terms) {
        const double snr = term.amplitude / result.noise[term.index];
        text += std::to_string(term.index + 1) + "," + std::to_string(term.harmonic);
        for (const double v : {term.frequency, term.frequency_error, term.frequency_error_analytic,
                               1.0 / term.frequency, term.amplitude, term.amplitude_error,
                               term.amplitude_error_analytic, term.phase, term.phase_error,
                               term.phase_error_analytic, snr, fit.epoch, fit.c0, fit.c0_error})
            text += "," + full(v);
        text += '\n';
    }
    return text;
}

std::string format_residuals(const std::vector<double>& t, const std::vector<double>& r) {
    std::string text;
    for (std::size_t i = 0; i < t.size(); ++i) text += shortest(t[i]) + " " + full(r[i]) + "\n";
    return text;
}

void run_multifrequency(const Series& series, const FrequencyGrid& grid, const Options& options,
                        RunOutputs& outputs, const NoteFunction& note, const NoteFunction& print) {
    const MultiOptions& m = options.multi;
    if (!m.window_spectrum.empty()) {
        const std::vector<WindowPoint> points =
            spectral_window(series.t, series.sigma, options.window, grid, options.threads);
        const bool csv = is_csv_name(m.window_spectrum);
        std::string text = csv ? "frecuencia,amplitud\n" : "";
        for (const WindowPoint& p : points)
            text += shortest(p.f) + (csv ? "," : " ") + full(p.amplitude) + "\n";
        write_file(outputs, m.window_spectrum, text);
        note(_("spectral window in ") + m.window_spectrum);
    }
    if (m.prewhiten == 0) return;

    PrewhitenOptions po;
    po.max_frequencies = m.prewhiten;
    po.harmonics = m.harmonics;
    po.snr_min = m.snr_min;
    po.snr_half_width = m.snr_band;
    po.threads = options.threads;
    if (m.fap_stop) {
        // The probability that noise alone puts a peak this high anywhere
        // in the searched band.
        FapBasis basis;
        try {
            basis = fap_basis(series.t, series.sigma, options.window);
        } catch (const std::invalid_argument& error) {
            throw FatalError(std::string("--fap-stop: ") + error.what());
        }
        const double p = *m.fap_stop, lo = grid.f_ini, hi = grid.f_fin;
        po.extra_stop = [basis, p, lo, hi](const PrewhitenStep& step) {
            return false_alarm_probability(step.peak.rho, lo, hi, basis) > p;
        };
    }
    const Prewhitening result =
        prewhiten(series.t, series.x, series.sigma, options.window, grid, po);
    const std::size_t found = result.fit.frequencies.size();
    note(_("prewhitening: ") + std::to_string(found) +
         (found == 1 ? _(" frequency") : _(" frequencies")) + _(" with S/N >= ") +
         shortest(m.snr_min) + _(" (mean noise within +-") +
         column(result.snr_half_width, 6, 0).substr(1) + ")");
    for (const double f : result.dropped)
        note(_("frequency ") + shortest(f) +
             _(" removed: its S/N in the final residuals falls short of the minimum"));
    switch (result.stop) {
    case Prewhitening::Stop::count: break;
    case Prewhitening::Stop::snr:
        note(_("the next peak (f = ") + column(result.rejected.frequency, 10, 0).substr(1) +
             ", S/N = " + column(result.rejected_snr, 3, 0).substr(1) + _(") falls short of S/N ") +
             shortest(m.snr_min));
        break;
    case Prewhitening::Stop::extra:
        note(_("the search stopped by the additional criterion"));
        break;
    case Prewhitening::Stop::no_peak: note(_("no peaks left to fit")); break;
    }
    if (found > 0 && !result.fit.converged)
        note(_("warning: the fit did not fully converge; the errors may not hold"));
    print(format_fit_table(result));
    if (!m.fit_table.empty()) {
        write_file(outputs, m.fit_table, format_fit_csv(result));
        note(_("fit table in ") + m.fit_table);
    }
    if (!m.residuals.empty()) {
        write_file(outputs, m.residuals, format_residuals(series.t, result.fit.residuals));
        note(_("residuals in ") + m.residuals);
    }
    if (m.phase_plot) {
        if (found == 0) {
            note(_("no frequencies: there is no phase curve to draw in ") + m.phase_plot->path);
        } else {
            const PhaseFold fold = fold_series(result.fit, 0, series.t);
            write_graph_file(
                *m.phase_plot, options, outputs,
                [&](const GraphPage& page) { draw_phase_plot(fold, page); }, note);
        }
    }
}

} // namespace fasogram
