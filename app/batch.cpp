// A batch run: the series read, its spectrum, the table, graphs and peaks.
#include "batch.hpp"

#include "batch_plot.hpp"
#include "console_out.hpp"
#include "error.hpp"
#include "messages.hpp"
#include "multifreq_batch.hpp"
#include "plot_spectrum.hpp"
#include "series.hpp"
#include "table_csv.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace fasogram {

namespace {

// The name of standard input in messages.
std::string stdin_name() {
    return _("standard input");
}

void note(const Options& options, const std::string& text) {
    if (options.quiet) return;
    std::fflush(stdout);
    std::fprintf(stderr, "fasogram: %s\n", text.c_str());
}

// A number with `digits` significant digits, right-aligned in `width`
// characters, in the C locale's notation whatever the locale.
std::string column(double value, int digits, int width, bool fixed = false) {
    char buffer[64];
    const auto end = fixed ? std::to_chars(buffer, buffer + sizeof buffer, value,
                                           std::chars_format::fixed, digits)
                                 .ptr
                           : std::to_chars(buffer, buffer + sizeof buffer, value,
                                           std::chars_format::general, digits)
                                 .ptr;
    std::string text(buffer, end);
    if (text.size() < static_cast<std::size_t>(width))
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return " " + text;
}

// The same for a value out of the range of doubles, from its scaled
// digits (written as to_chars writes numbers so small or large: 1.25e-318).
std::string column(const ScaledValue& value, int digits, int width) {
    if (value.exponent == 0 || !std::isfinite(value.hi))
        return column(value.hi + value.lo, digits, width);
    const DecimalDigits d = decimal_digits(value, digits);
    std::string mantissa = d.digits;
    while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
    std::string text = d.negative ? "-" : "";
    text += mantissa[0];
    if (mantissa.size() > 1) text += "." + mantissa.substr(1);
    char exponent[16];
    std::snprintf(exponent, sizeof exponent, "e%c%02d", d.exponent < 0 ? '-' : '+',
                  d.exponent < 0 ? -d.exponent : d.exponent);
    text += exponent;
    if (text.size() < static_cast<std::size_t>(width))
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return " " + text;
}

// A number as it reads back: the fewest digits that give the same double.
std::string exact_text(double value) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

// A number with nine significant digits, for the notes.
std::string short_text(double value) {
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 9).ptr;
    return std::string(buffer, end);
}

Series read_input(const Options& options) {
    const SeriesLayout layout{std::numeric_limits<std::size_t>::max(), true, options.errors};
    if (options.series == "-") {
        Series series = read_series(std::cin, stdin_name(), layout);
        if (std::cin.bad()) throw FatalError(_("cannot read from ") + stdin_name());
        return series;
    }
    return read_series_file(options.series, options.series, layout);
}

SpectrumEngine prepare_engine(const Series& series, Window window, const std::string& name) {
    try {
        if (!series.sigma.empty()) return SpectrumEngine(series.t, series.x, series.sigma, window);
        return SpectrumEngine(series.t, series.x, window);
    } catch (const SeriesError& error) {
        switch (error.kind()) {
        case SeriesError::Kind::too_few_points:
            throw FatalError(name +
                             _(": at least 2 (time, value) pairs are needed and there are ") +
                             std::to_string(series.size()));
        case SeriesError::Kind::no_time_span:
            throw FatalError(name + _(": all the times are equal; the series spans no interval"));
        case SeriesError::Kind::zero_variance:
            throw FatalError(name + _(": the series does not vary under this window (zero weighted "
                                      "variance); it has no spectrum"));
        default: throw FatalError(name + ": " + error.what());
        }
    }
}

void print_data(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw FatalError(_("cannot write to standard output: ") +
                         std::string(std::strerror(errno == 0 ? EIO : errno)));
}

// The grid the options ask for, what they leave out chosen from the series;
// notes say what was chosen and whether the grid can miss peaks.
FrequencyGrid choose_grid(const Options& options, const SpectrumEngine& engine,
                          const std::string& name) {
    const std::string where = _("--from/--to/--steps with ") + name + ": ";
    FrequencyGrid grid;
    const bool automatic = !options.f_ini || !options.f_fin || !options.steps;
    if (!automatic) {
        grid = {*options.f_ini, *options.f_fin, *options.steps, engine.line_width()};
        if (const std::string problem = grid_problem(grid, engine); !problem.empty())
            throw FatalError(where + problem);
    } else {
        const GridRequest request{options.f_ini, options.f_fin, options.steps,
                                  options.oversample.value_or(GridRequest{}.oversample)};
        const double nyquist = 0.5 / engine.median_spacing();
        const double first = engine.line_width() / request.oversample;
        if (options.f_ini && !options.f_fin && !(nyquist > *options.f_ini))
            throw FatalError(where +
                             _("--from is not below the Nyquist frequency of the median spacing of "
                               "the times (") +
                             short_text(nyquist) + _("): --to is missing"));
        if (options.f_fin && !options.f_ini && !(*options.f_fin > first))
            throw FatalError(where + _("--to does not go beyond the automatic first frequency (") +
                             short_text(first) + _(", one step): --from is missing"));
        AutoGrid chosen;
        try {
            chosen = auto_grid(engine, request);
        } catch (const std::invalid_argument& error) {
            const std::string problem =
                grid_problem(FrequencyGrid{options.f_ini.value_or(first),
                                           options.f_fin.value_or(nyquist), 1, 0.0},
                             engine);
            throw FatalError(where + (problem.empty() ? quoted_input(error.what()) : problem));
        }
        grid = chosen.grid;
        std::string text = _("automatic grid: from ") + short_text(grid.f_ini) + _(" to ") +
                           short_text(grid.f_fin) + _(" in ") + std::to_string(grid.n_points) +
                           _(" steps of ") + short_text(grid.step());
        if (!options.steps) text += _(" (line width / ") + short_text(request.oversample) + ")";
        if (!options.f_fin) {
            text += chosen.capped
                        ? _("; the last frequency stays at ") + std::to_string(max_auto_steps) +
                              _(" steps, below the Nyquist frequency of the median spacing (") +
                              short_text(chosen.nyquist) + _("): --to to go further")
                        : _("; the last one does not go beyond 1/(2 x the median spacing of the "
                            "times, ") +
                              short_text(engine.median_spacing()) + ")";
        }
        note(options, text);
    }
    if (grid.undersampled()) {
        std::string text =
            _("the grid step (") + short_text(grid.step()) + _(") exceeds half the line width (") +
            short_text(grid.line_width / 2.0) + _("): a peak can fall between two frequencies; ");
        try {
            const std::int64_t steps = resolving_steps(grid);
            text += _("sampling them all takes ") + std::to_string(steps) + _(" steps: --from ") +
                    exact_text(grid.f_ini) + " --to " + exact_text(grid.f_fin) + " --steps " +
                    std::to_string(steps);
        } catch (const std::invalid_argument&) {
            text += _("no grid of these limits samples them all");
        }
        note(options, text);
    }
    return grid;
}

// The bootstrap of the series over the grid, as --bootstrap and --seed ask.
Bootstrap run_bootstrap(const Series& series, const FrequencyGrid& grid, const Options& options) {
    note(options, _("bootstrap: ") + std::to_string(options.bootstrap) +
                      _(" resamples of the series, seed ") + std::to_string(options.seed));
    BootstrapOptions o;
    o.resamples = options.bootstrap;
    o.seed = options.seed;
    o.threads = options.threads;
    try {
        return bootstrap(series.t, series.x, series.sigma, options.window, grid, o);
    } catch (const std::invalid_argument& error) {
        throw FatalError("--bootstrap: " + quoted_input(error.what()));
    }
}

// The rho of each --fap-levels probability: the bootstrap's when there is
// one, otherwise Baluev's over the band of the grid.
std::vector<FapLine> fap_lines(const Series& series, const FrequencyGrid& grid,
                               const Options& options, const std::optional<Bootstrap>& boot) {
    std::vector<FapLine> lines;
    if (options.fap_levels.empty()) return lines;
    try {
        const FapBasis basis = fap_basis(series.t, series.sigma, options.window);
        for (const double p : options.fap_levels)
            lines.push_back(
                {p, boot ? boot->level(p) : false_alarm_level(p, grid.f_ini, grid.f_fin, basis)});
    } catch (const std::invalid_argument& error) {
        throw FatalError("--fap-levels: " + quoted_input(error.what()));
    }
    return lines;
}

void run(const Options& options) {
    if (options.screen) {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0')
            throw FatalError(
                _("--screen: there is no display to show the graph on (DISPLAY is not set)"));
    }
    const std::string name = options.series == "-" ? stdin_name() : options.series;
    const auto say = [&options](const std::string& text) { note(options, text); };
    const Series series = remove_trend(read_input(options), options, say);
    if (series.header_line > 0) {
        note(options, name + _(", line ") + std::to_string(series.header_line) +
                          _(": header ignored: '") + series.header + "'");
    }
    if (!options.errors && series.third_column_line > 0) {
        note(options, name + _(", line ") + std::to_string(series.third_column_line) +
                          _(": the third column is not read; with -e/--errors it is the error of "
                            "each value and each point weighs 1/error^2"));
    }
    const SpectrumEngine engine = prepare_engine(series, options.window, name);
    note(options, std::to_string(series.size()) +
                      (options.errors ? _(" (time, value, error) triples in ")
                                      : _(" (time, value) pairs in ")) +
                      (options.series == "-" ? std::string(_("the standard input")) : name));
    note(options,
         std::string(options.window == Window::hanning ? _("Hanning window") : _("square window")) +
             _("; width of each spectral line =") + format_real_item(engine.line_width()));

    const FrequencyGrid grid = choose_grid(options, engine, name);

    RunOutputs outputs;
    TableOutput table(options.table, outputs);
    PeakFinder finder(std::max(options.peaks, options.graph_style.mark_peaks));
    std::int64_t written = 0;
    auto on_point = [&](const SpectrumPoint& point) {
        table.write(point);
        if (options.peaks > 0 || options.graph_style.mark_peaks > 0) finder.add(point);
        ++written;
    };
    const bool graphs = !options.graphs.empty() || options.screen;
    // A CSV table carries every digit a double holds, each of them exact.
    const Digits digits = is_csv_name(options.table) ? Digits::full : Digits::eight;
    PlotArrays curve;
    std::optional<HarmonicTable> harmonic;
    if (options.multi.harmonics > 1) {
        harmonic.emplace(series, options);
        curve = harmonic->run(grid, on_point, graphs);
    } else if (graphs) {
        curve = compute_spectrum(engine, grid, on_point, options.threads, digits);
    } else {
        engine.run(grid, on_point, options.threads, digits);
    }
    table.finish();

    // The peaks of the table and those marked on the graphs (the highest
    // first: the table's are the first of them).
    const std::size_t wanted = std::max(options.peaks, graphs ? options.graph_style.mark_peaks : 0);
    std::vector<Peak> peaks;
    if (wanted > 0)
        peaks = harmonic ? harmonic->peaks(wanted) : finder.peaks(engine, options.threads);
    // The bootstrap, when asked, gives the peaks' probabilities and the
    // levels; otherwise Baluev's approximation.
    std::optional<Bootstrap> boot;
    if (options.bootstrap > 0) boot = run_bootstrap(series, grid, options);
    const std::vector<FapLine> levels =
        graphs ? fap_lines(series, grid, options, boot) : std::vector<FapLine>{};
    const BatchGraph graph(curve, grid.f_ini, grid.f_fin, options.graph_style, peaks, levels);
    draw_batch_graphs(graph, options, outputs);

    if (options.peaks > 0) {
        if (peaks.size() > options.peaks) peaks.resize(options.peaks);
        if (peaks.size() < options.peaks) {
            note(options, _("the spectrum has ") + std::to_string(peaks.size()) +
                              (peaks.size() == 1 ? _(" peak") : _(" peaks")));
        }
        // The false-alarm probability of each height over the band searched.
        // (one sinusoid: the approximation does not hold for a harmonic
        // model), nan where it has nothing to go on (4 points or fewer).
        std::vector<double> faps;
        if (boot) {
            std::vector<BootstrapProbability> probabilities;
            for (const Peak& p : peaks) probabilities.push_back(boot->probability(p.rho));
            print_data(format_peak_table(peaks, probabilities));
        } else if (!harmonic) {
            const FapBasis basis = fap_basis(series.t, series.sigma, options.window);
            for (const Peak& p : peaks) {
                double fap = std::numeric_limits<double>::quiet_NaN();
                try {
                    fap = false_alarm_probability(p.rho, grid.f_ini, grid.f_fin, basis);
                } catch (const std::invalid_argument&) {
                }
                faps.push_back(fap);
            }
        }
        if (!boot) print_data(format_peak_table(peaks, faps));
    }
    run_multifrequency(series, grid, options, outputs, say, print_data);

    // Every output is complete: they replace the earlier files together.
    outputs.commit();
    if (!options.table.empty())
        note(options, _("spectrum of ") + std::to_string(written) + _(" frequencies in ") +
                          (options.table == "-" ? std::string(_("the standard output"))
                                                : quoted_input(table.name())));
    for (const GraphRequest& request : options.graphs)
        note(options, _("graph in ") + quoted_input(request.path));
    show_batch_graph(graph, options);
}

} // namespace

std::string format_peak_table(const std::vector<Peak>& peaks, const std::vector<double>& faps) {
    std::string text = _("  n        frequency           period       rho       amplitude phase "
                         "(cycles)               C1\n");
    if (!faps.empty()) text.insert(text.size() - 1, "         fap");
    int n = 0;
    for (const Peak& p : peaks) {
        char index[16];
        std::snprintf(index, sizeof index, "%3d", ++n);
        text += index;
        text += column(p.frequency, 10, 16);
        text += column(p.period, 10, 16);
        text += column(p.rho, 6, 9, true);
        text += column(
            ScaledValue{p.exponent == 0 ? p.amplitude : p.head.amplitude, 0.0, p.exponent}, 8, 15);
        text += column(p.phase, 6, 14, true);
        text += column(ScaledValue{p.exponent == 0 ? p.c1 : p.head.c1, 0.0, p.exponent}, 10, 16);
        if (static_cast<std::size_t>(n) <= faps.size()) {
            char fap[32];
            std::snprintf(fap, sizeof fap, "%12.3e", faps[static_cast<std::size_t>(n) - 1]);
            text += fap;
        }
        text += '\n';
    }
    return text;
}

std::string format_peak_table(const std::vector<Peak>& peaks,
                              const std::vector<BootstrapProbability>& faps) {
    std::string text = format_peak_table(peaks);
    // The heading gets the two columns, each line its two numbers.
    const std::string heading = "         fap     fap_err";
    std::size_t end = text.find('\n');
    text.insert(end, heading);
    end += heading.size();
    for (const BootstrapProbability& p : faps) {
        end = text.find('\n', end + 1);
        if (end == std::string::npos) break;
        char cells[64];
        if (p.upper_bound) {
            char bound[32];
            std::snprintf(bound, sizeof bound, "<%.3e", p.probability);
            std::snprintf(cells, sizeof cells, "%12s%12s", bound, "-");
        } else {
            std::snprintf(cells, sizeof cells, "%12.3e%12.1e", p.probability, p.error);
        }
        text.insert(end, cells);
        end += std::strlen(cells);
    }
    return text;
}

int run_batch(const Options& options) {
    try {
        run(options);
        return 0;
    } catch (const FatalError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "fasogram: error: %s\n", error.what());
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "fasogram: error: %s\n", _("not enough memory for the spectrum"));
    } catch (const std::system_error& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "fasogram: error: %s%s\n",
                     _("a computing thread could not be started: "), error.what());
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "fasogram: error: %s\n", quoted_input(error.what()).c_str());
    }
    return 1;
}

} // namespace fasogram
