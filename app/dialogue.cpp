// The interactive dialogue: the series of datos.dat, the window, the grid, the table and the graph.
#include "dialogue.hpp"

#include "messages.hpp"

#include "console_in.hpp"
#include "console_out.hpp"
#include "error.hpp"
#include "plot_spectrum.hpp"
#include "present.hpp"
#include "series.hpp"
#include "table.hpp"

#include <algorithm>
#include <new>
#include <string>
#include <system_error>

namespace fasogram {

namespace {

void write_banner(std::ostream& out) {
    // The box is 52 characters wide; the contact text starts after 15 blanks.
    std::string contact = "|" + std::string(15, ' ') + std::string(contact_text);
    if (contact.size() < 51) contact.append(51 - contact.size(), ' ');
    contact += '|';

    write_line(out, {"O--------------------------------------------------O"});
    write_line(out, {"|                     FASOGRAM                     |"});
    write_line(out, {"|                  version 22/04/03                |"});
    write_line(out, {contact});
    write_line(out, {"O--------------------------------------------------O"});
    write_line(out, {""});
    write_line(out, {"ESPECTRO DE LA SERIE TEMPORAL datos.dat (equiespaciada o no)"});
    write_line(out, {"AJUSTANDO AL MODELO Y = C1 + C2*COS(2PI*f*t) + C3*SIN(2PI*f*t)"});
    write_line(out, {"Refs: Astronomical Journal (1981) vol.86(4), pp 619."});
    write_line(out, {"      Astronomical Journal (1996) vol.111(1), pp 541."});
    write_line(out, {"      Astronomical Journal (1997) vol.113(2), pp 863."});
    write_line(out, {});
    write_line(out, {"El espectro estara en fasogram.dat y el orden sera:"});
    write_line(out, {"frecuencia, Coef.Corr.Espec., C1, C2, C3"});
    write_line(out, {});
    write_line(out, {"Nota: unidad de frecuencia = ciclos por unidad de tiempo"});
    write_line(out, {});
}

// The series ready for the fit; a series whose weighted values do not vary
// has no spectrum.
SpectrumEngine prepare_engine(const Series& series, Window window) {
    try {
        return SpectrumEngine(series.t, series.x, window);
    } catch (const SeriesError& error) {
        if (error.kind() == SeriesError::Kind::zero_variance)
            throw FatalError(std::string(series_file_name) +
                             ": la serie no varia con esta ventana (varianza ponderada nula); "
                             "no tiene espectro");
        throw FatalError(std::string(series_file_name) + ": " + error.what());
    }
}

void run(std::istream& in, std::ostream& out, const std::filesystem::path& dir) {
    write_banner(out);

    const Series series = read_series_file(dir / series_file_name, series_file_name);
    if (series.size() < 2) {
        throw FatalError(std::string(series_file_name) +
                         ": se necesitan al menos 2 pares (tiempo, valor) y hay " +
                         std::to_string(series.size()));
    }
    const auto [earliest, latest] = std::minmax_element(series.t.begin(), series.t.end());
    const double span = *latest - *earliest;
    if (span == 0.0) {
        throw FatalError(std::string(series_file_name) +
                         ": todos los tiempos son iguales; la serie no abarca ningun "
                         "intervalo");
    }
    write_line(out,
               {"son ", static_cast<long long>(series.size()), "    datos en la serie temporal"});
    if (series.more) {
        write_line(out,
                   {std::string(series_file_name) + " tiene mas datos: se leen solo los primeros",
                    static_cast<long long>(max_pairs), " pares"});
    }
    write_line(out, {});

    AnswerReader answers(in, out);

    constexpr std::string_view window_question = "ventana Hanning (h) o cuadrada (c)?";
    Window window = Window::hanning;
    for (;;) {
        write_line(out, {window_question});
        const char zc = answers.read_char(window_question);
        if (zc == 'h' || zc == 'H') {
            window = Window::hanning;
            break;
        }
        if (zc == 'c' || zc == 'C') {
            window = Window::square;
            break;
        }
    }
    const SpectrumEngine engine = prepare_engine(series, window);
    const double line_width = engine.line_width();
    write_line(out, {"ancho de cada linea espectral =", line_width});
    write_line(out, {});

    constexpr std::string_view ini_question = "frecuencia inicial?";
    constexpr std::string_view fin_question = "frecuencia final?";
    write_line(out, {"Definicion de los limites del espectro:"});
    double f_ini = 0.0;
    double f_fin = 0.0;
    for (;;) {
        write_line(out, {ini_question});
        f_ini = answers.read_real(ini_question);
        write_line(out, {fin_question});
        f_fin = answers.read_real(fin_question);
        if (!(f_fin > f_ini)) {
            write_line(out, {"zapallo! frec final debe ser > frec inicial"});
            continue;
        }
        // The widest limits the engine takes with these times.
        FrequencyGrid limits{f_ini, f_fin, 1, line_width};
        const std::string problem = grid_problem(limits, engine);
        if (problem.empty()) break;
        write_line(out, {"zapallo! " + problem});
    }

    constexpr std::string_view points_question = "Numero de puntos que tendra el espectro?";
    int n_points = 0;
    for (;;) {
        write_line(out, {points_question});
        n_points = answers.read_int(points_question);
        if (n_points > 0) break;
        write_line(out, {"el numero de puntos debe ser mayor que 0"});
    }

    write_line(out, {"estoy calculando el espectro...."});
    write_line(out, {"vea que bonito el grafico....."});
    flush_output(out);

    FrequencyGrid grid;
    grid.f_ini = f_ini;
    grid.f_fin = f_fin;
    grid.n_points = n_points;
    grid.line_width = line_width;

    TableWriter table(dir / table_file_name, table_file_name);
    const PlotArrays curve =
        compute_spectrum(engine, grid, [&](const SpectrumPoint& point) { table.write(point); });
    table.close();

    present_spectrum(SpectrumPlot{curve, f_ini, f_fin}, in, out);
}

} // namespace

int run_fasogram(std::istream& in, std::ostream& out, std::ostream& err,
                 const std::filesystem::path& dir) {
    // The dialogue speaks Spanish whatever the locale, the messages it
    // shares with batch runs too.
    const SpanishMessages spanish;
    try {
        run(in, out, dir);
        flush_output(out);
        return 0;
    } catch (const FatalError& error) {
        out.flush();
        err << "fasogram: error: " << error.what() << '\n';
    } catch (const std::bad_alloc&) {
        out.flush();
        err << "fasogram: error: memoria insuficiente para el espectro\n";
    } catch (const std::system_error& error) {
        out.flush();
        err << "fasogram: error: no se pudo iniciar un hilo de calculo: " << error.what() << '\n';
    } catch (const std::exception& error) {
        out.flush();
        err << "fasogram: error: " << quoted_input(error.what()) << '\n';
    }
    err.flush();
    return 1;
}

} // namespace fasogram
