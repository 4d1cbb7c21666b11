#include "multifreq_cli.hpp"

#include "error.hpp"
#include "numbers.hpp"

#include <cmath>

namespace fasogram {

namespace {

std::string quoted(std::string_view text) {
    return "'" + quoted_input(text) + "'";
}

// A whole number from `low` to `high`, written in decimal digits alone.
std::optional<int> whole(std::string_view text, int low, int high) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::optional<int> n = parse_int(text);
    if (!n || *n < low || *n > high) return std::nullopt;
    return n;
}

std::string file_name(std::string_view option, std::string_view value, std::string& out) {
    if (value.empty()) return std::string(option) + ": falta el nombre del archivo";
    if (value == "-")
        return std::string(option) + ": se espera un nombre de archivo (- no es la salida " +
               "estandar aqui)";
    out = value;
    return {};
}

} // namespace

std::string take_multifreq_option(int code, std::string_view value, Options& options) {
    MultiOptions& m = options.multi;
    switch (code) {
    case opt_prewhiten: {
        const auto k = whole(value, 1, static_cast<int>(max_fit_frequencies));
        if (!k)
            return "--prewhiten: se espera un numero de frecuencias de 1 a " +
                   std::to_string(max_fit_frequencies) + ": " + quoted(value);
        m.prewhiten = static_cast<std::size_t>(*k);
        return {};
    }
    case opt_harmonics: {
        const auto h = whole(value, 1, max_harmonics);
        if (!h)
            return "--harmonics: se espera un numero de armonicos de 1 a " +
                   std::to_string(max_harmonics) + ": " + quoted(value);
        m.harmonics = *h;
        return {};
    }
    case opt_detrend: {
        const auto d = whole(value, 0, max_trend_degree);
        if (!d)
            return "--detrend: se espera el grado del polinomio, de 0 a " +
                   std::to_string(max_trend_degree) + ": " + quoted(value);
        m.detrend = *d;
        return {};
    }
    case opt_snr_min:
    case opt_snr_band: {
        const std::optional<double> x = parse_real(value);
        const bool band = code == opt_snr_band;
        if (!x || !std::isfinite(*x) || (band ? !(*x > 0.0) : *x < 0.0))
            return band ? "--snr-band: se espera una semianchura de frecuencia mayor que 0: " +
                              quoted(value)
                        : "--snr-min: se espera una relacion senal/ruido de 0 o mas: " +
                              quoted(value);
        (band ? m.snr_band : m.snr_min) = *x;
        return {};
    }
    case opt_fit_table: return file_name("--fit-table", value, m.fit_table);
    case opt_residuals: return file_name("--residuals", value, m.residuals);
    case opt_window_spectrum: return file_name("--window-spectrum", value, m.window_spectrum);
    case opt_phase_plot: {
        const std::optional<GraphFormat> format = graph_format_of(value);
        if (!format)
            return "--phase-plot " + quoted(value) +
                   ": el formato sale de la extension del nombre: .pdf .ps .eps .svg .png .bmp "
                   ".tif .tiff";
        m.phase_plot = GraphRequest{std::string(value), *format};
        return {};
    }
    }
    return "opcion desconocida";
}

std::string multifreq_problem(const Options& options) {
    const MultiOptions& m = options.multi;
    if (m.prewhiten == 0) {
        for (const auto& [given, name] : {std::pair{!m.fit_table.empty(), "--fit-table"},
                                          std::pair{!m.residuals.empty(), "--residuals"},
                                          std::pair{m.phase_plot.has_value(), "--phase-plot"}})
            if (given) return std::string(name) + " necesita --prewhiten";
    }
    if (options.table == "-" && m.prewhiten > 0)
        return "--table - y --prewhiten escribirian los dos en la salida estandar";
    if (m.prewhiten * static_cast<std::size_t>(2 * m.harmonics + 1) > max_fit_coefficients)
        return "--prewhiten " + std::to_string(m.prewhiten) + " con --harmonics " +
               std::to_string(m.harmonics) + " pasa de " + std::to_string(max_fit_coefficients) +
               " coeficientes en el ajuste";
    return {};
}

std::string multifreq_help() {
    return R"(      --harmonics H      el modelo de cada frecuencia lleva H armonicos (f, 2f, ...,
                         Hf): rho es la parte de la varianza que explican; tambien
                         en --prewhiten (por omision 1)
      --detrend D        resta primero el polinomio de grado D en el tiempo
                         ajustado por minimos cuadrados ponderados (0 a 20)
      --prewhiten K      busca hasta K frecuencias: el pico mas alto del espectro
                         de los residuos, el ajuste simultaneo de todas las
                         halladas y nuevos residuos; para antes si la senal/ruido
                         del siguiente no llega a --snr-min.  La tabla del ajuste
                         (frecuencias, amplitudes y fases con sus errores) sale
                         por la salida estandar
      --snr-min S        senal/ruido minima de una frecuencia (por omision 4): su
                         amplitud sobre la amplitud media del espectro de los
                         residuos a su alrededor
      --snr-band W       ese alrededor: +-W en frecuencia (por omision 100 anchos
                         de linea)
      --fit-table ARCHIVO  la tabla del ajuste en CSV, con 17 cifras
      --residuals ARCHIVO  tiempo y residuo de cada punto, como una serie
      --phase-plot ARCHIVO la serie plegada con el periodo de la primera frecuencia
                         (dos ciclos, sin las demas frecuencias) y el modelo; el
                         formato sale de la extension, como en --plot
      --window-spectrum ARCHIVO  el espectro de la ventana |sum w e^(2 pi i f t)|/sum w
                         en la malla (.csv: valores separados por comas)
)";
}

} // namespace fasogram
