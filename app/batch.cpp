// A batch run: the series read, its spectrum, the table, graphs and peaks.
#include "batch.hpp"

#include "batch_plot.hpp"
#include "console_out.hpp"
#include "error.hpp"
#include "multifreq_batch.hpp"
#include "plot_spectrum.hpp"
#include "series.hpp"
#include "table_csv.hpp"

#include <cerrno>
#include <charconv>
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

constexpr std::string_view stdin_name = "entrada estandar";

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
        Series series = read_series(std::cin, stdin_name, layout);
        if (std::cin.bad()) throw FatalError("error al leer la " + std::string(stdin_name));
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
            throw FatalError(name + ": se necesitan al menos 2 pares (tiempo, valor) y hay " +
                             std::to_string(series.size()));
        case SeriesError::Kind::no_time_span:
            throw FatalError(
                name + ": todos los tiempos son iguales; la serie no abarca ningun intervalo");
        case SeriesError::Kind::zero_variance:
            throw FatalError(name +
                             ": la serie no varia con esta ventana (varianza ponderada nula); "
                             "no tiene espectro");
        default: throw FatalError(name + ": " + error.what());
        }
    }
}

void print_data(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw FatalError("error al escribir en la salida estandar: " +
                         std::string(std::strerror(errno == 0 ? EIO : errno)));
}

// The grid the options ask for, what they leave out chosen from the series;
// notes say what was chosen and whether the grid can miss peaks.
FrequencyGrid choose_grid(const Options& options, const SpectrumEngine& engine,
                          const std::string& name) {
    const std::string where = "--from/--to/--steps con " + name + ": ";
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
                             "--from no queda por debajo de la frecuencia de Nyquist del "
                             "espaciado mediano de los tiempos (" +
                             short_text(nyquist) + "): falta --to");
        if (options.f_fin && !options.f_ini && !(*options.f_fin > first))
            throw FatalError(where + "--to no pasa de la frecuencia inicial automatica (" +
                             short_text(first) + ", un paso): falta --from");
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
        std::string text = "malla automatica: de " + short_text(grid.f_ini) + " a " +
                           short_text(grid.f_fin) + " en " + std::to_string(grid.n_points) +
                           " pasos de " + short_text(grid.step());
        if (!options.steps) text += " (ancho de linea / " + short_text(request.oversample) + ")";
        if (!options.f_fin) {
            text += chosen.capped
                        ? "; la frecuencia final queda a " + std::to_string(max_auto_steps) +
                              " pasos, por debajo de la de Nyquist del espaciado mediano (" +
                              short_text(chosen.nyquist) + "): --to para ir mas alla"
                        : "; la final no pasa de 1/(2 x el espaciado mediano de los tiempos, " +
                              short_text(engine.median_spacing()) + ")";
        }
        note(options, text);
    }
    if (grid.undersampled()) {
        std::string text = "el paso de la malla (" + short_text(grid.step()) +
                           ") pasa de la mitad del ancho de linea (" +
                           short_text(grid.line_width / 2.0) +
                           "): un pico puede caer entre dos frecuencias; ";
        try {
            const std::int64_t steps = resolving_steps(grid);
            text += "para muestrearlos todos hacen falta " + std::to_string(steps) +
                    " pasos: --from " + exact_text(grid.f_ini) + " --to " + exact_text(grid.f_fin) +
                    " --steps " + std::to_string(steps);
        } catch (const std::invalid_argument&) {
            text += "ninguna malla de estos limites los muestrea todos";
        }
        note(options, text);
    }
    return grid;
}

void run(const Options& options) {
    if (options.screen) {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0')
            throw FatalError("--screen: no hay pantalla donde mostrar el grafico (DISPLAY no esta "
                             "definida)");
    }
    const std::string name = options.series == "-" ? std::string(stdin_name) : options.series;
    const auto say = [&options](const std::string& text) { note(options, text); };
    const Series series = remove_trend(read_input(options), options, say);
    if (series.header_line > 0) {
        note(options, name + ", linea " + std::to_string(series.header_line) +
                          ": cabecera ignorada: '" + series.header + "'");
    }
    if (!options.errors && series.third_column_line > 0) {
        note(options, name + ", linea " + std::to_string(series.third_column_line) +
                          ": la tercera columna no se lee; con -e/--errors es el error de cada "
                          "valor y cada punto pesa 1/error^2");
    }
    const SpectrumEngine engine = prepare_engine(series, options.window, name);
    note(options, std::to_string(series.size()) +
                      (options.errors ? " ternas (tiempo, valor, error) en "
                                      : " pares (tiempo, valor) en ") +
                      (options.series == "-" ? "la " : "") + name);
    note(options, std::string("ventana ") +
                      (options.window == Window::hanning ? "Hanning" : "cuadrada") +
                      "; ancho de cada linea espectral =" + format_real_item(engine.line_width()));

    const FrequencyGrid grid = choose_grid(options, engine, name);

    RunOutputs outputs;
    TableOutput table(options.table, outputs);
    PeakFinder finder(options.peaks);
    std::int64_t written = 0;
    auto on_point = [&](const SpectrumPoint& point) {
        table.write(point);
        if (options.peaks > 0) finder.add(point);
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

    SpectrumGraph graph(curve, grid.f_ini, grid.f_fin);
    draw_batch_graphs(graph, options, outputs);

    if (options.peaks > 0) {
        const std::vector<Peak> peaks =
            harmonic ? harmonic->peaks(options.peaks) : finder.peaks(engine, options.threads);
        if (peaks.size() < options.peaks) {
            note(options, "el espectro tiene " + std::to_string(peaks.size()) +
                              (peaks.size() == 1 ? " pico" : " picos"));
        }
        // The false-alarm probability of each height over the band searched.
        // (one sinusoid: the approximation does not hold for a harmonic
        // model), nan where it has nothing to go on (4 points or fewer).
        std::vector<double> faps;
        if (!harmonic) {
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
        print_data(format_peak_table(peaks, faps));
    }
    run_multifrequency(series, grid, options, outputs, say, print_data);

    // Every output is complete: they replace the earlier files together.
    outputs.commit();
    note(options, "espectro de " + std::to_string(written) + " frecuencias en " +
                      (options.table == "-" ? "la " : "") + quoted_input(table.name()));
    for (const GraphRequest& request : options.graphs)
        note(options, "grafico en " + quoted_input(request.path));
    show_batch_graph(graph, options);
}

} // namespace

std::string format_peak_table(const std::vector<Peak>& peaks, const std::vector<double>& faps) {
    std::string text = "  n       frecuencia          periodo       rho        amplitud"
                       "  fase (ciclos)               C1";
    text += faps.empty() ? "\n" : "         fap\n";
    int n = 0;
    for (const Peak& p : peaks) {
        char index[16];
        std::snprintf(index, sizeof index, "%3d", ++n);
        text += index;
        text += column(p.frequency, 10, 16);
        text += column(p.period, 10, 16);
        text += column(p.rho, 6, 9, true);
        text += column(p.amplitude, 8, 15);
        text += column(p.phase, 6, 14, true);
        text += column(p.c1, 10, 16);
        if (static_cast<std::size_t>(n) <= faps.size()) {
            char fap[32];
            std::snprintf(fap, sizeof fap, "%12.3e", faps[static_cast<std::size_t>(n) - 1]);
            text += fap;
        }
        text += '\n';
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
        std::fprintf(stderr, "fasogram: error: memoria insuficiente para el espectro\n");
    } catch (const std::system_error& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "fasogram: error: no se pudo iniciar un hilo de calculo: %s\n",
                     error.what());
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "fasogram: error: %s\n", quoted_input(error.what()).c_str());
    }
    return 1;
}

} // namespace fasogram
