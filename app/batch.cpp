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

Series read_input(const Options& options) {
    const SeriesLayout layout{std::numeric_limits<std::size_t>::max(), true};
    if (options.series == "-") {
        Series series = read_series(std::cin, stdin_name, layout);
        if (std::cin.bad()) throw FatalError("error al leer la " + std::string(stdin_name));
        return series;
    }
    return read_series_file(options.series, options.series, layout);
}

SpectrumEngine prepare_engine(const Series& series, Window window, const std::string& name) {
    try {
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
    const SpectrumEngine engine = prepare_engine(series, options.window, name);
    note(options, std::to_string(series.size()) + " pares (tiempo, valor) en " +
                      (options.series == "-" ? "la " : "") + name);
    note(options, std::string("ventana ") +
                      (options.window == Window::hanning ? "Hanning" : "cuadrada") +
                      "; ancho de cada linea espectral =" + format_real_item(engine.line_width()));

    FrequencyGrid grid;
    grid.f_ini = options.f_ini;
    grid.f_fin = options.f_fin;
    grid.n_points = options.steps;
    grid.line_width = engine.line_width();
    if (const std::string problem = grid_problem(grid, engine); !problem.empty())
        throw FatalError("--from/--to/--steps con " + name + ": " + problem);

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

    SpectrumGraph graph(curve, options.f_ini, options.f_fin);
    draw_batch_graphs(graph, options, outputs);

    if (options.peaks > 0) {
        const std::vector<Peak> peaks =
            harmonic ? harmonic->peaks(options.peaks) : finder.peaks(engine, options.threads);
        if (peaks.size() < options.peaks) {
            note(options, "el espectro tiene " + std::to_string(peaks.size()) +
                              (peaks.size() == 1 ? " pico" : " picos"));
        }
        print_data(format_peak_table(peaks));
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

std::string format_peak_table(const std::vector<Peak>& peaks) {
    std::string text = "  n       frecuencia          periodo       rho        amplitud"
                       "  fase (ciclos)               C1\n";
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
