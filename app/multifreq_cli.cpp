#include "multifreq_cli.hpp"
#include "messages.hpp"

#include "error.hpp"
#include "numbers.hpp"

#include <cmath>

namespace fasogram {

namespace {

// A whole number from `low` to `high`, written in decimal digits alone.
std::optional<int> whole(std::string_view text, int low, int high) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::optional<int> n = parse_int(text);
    if (!n || *n < low || *n > high) return std::nullopt;
    return n;
}

std::string file_name(std::string_view option, std::string_view value, std::string& out) {
    if (value.empty()) return std::string(option) + _(": the file name is missing");
    if (value == "-")
        return std::string(option) + _(": expected a file name (- is not standard output here)");
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
            return _("--prewhiten: expected a number of frequencies from 1 to ") +
                   std::to_string(max_fit_frequencies) + ": " + quoted_argument(value);
        m.prewhiten = static_cast<std::size_t>(*k);
        return {};
    }
    case opt_harmonics: {
        const auto h = whole(value, 1, max_harmonics);
        if (!h)
            return _("--harmonics: expected a number of harmonics from 1 to ") +
                   std::to_string(max_harmonics) + ": " + quoted_argument(value);
        m.harmonics = *h;
        return {};
    }
    case opt_detrend: {
        const auto d = whole(value, 0, max_trend_degree);
        if (!d)
            return _("--detrend: expected the degree of the polynomial, from 0 to ") +
                   std::to_string(max_trend_degree) + ": " + quoted_argument(value);
        m.detrend = *d;
        return {};
    }
    case opt_snr_min:
    case opt_snr_band: {
        const std::optional<double> x = parse_real(value);
        const bool band = code == opt_snr_band;
        if (!x || !std::isfinite(*x) || (band ? !(*x > 0.0) : *x < 0.0))
            return band ? _("--snr-band: expected a frequency half width greater than 0: ") +
                              quoted_argument(value)
                        : _("--snr-min: expected a signal to noise ratio of 0 or more: ") +
                              quoted_argument(value);
        (band ? m.snr_band : m.snr_min) = *x;
        return {};
    }
    case opt_fap_stop: {
        const std::optional<double> p = parse_real(value);
        if (!p || !(*p > 0.0) || !(*p <= 1.0))
            return _("--fap-stop: expected a probability above 0 and at most 1: ") +
                   quoted_argument(value);
        m.fap_stop = *p;
        return {};
    }
    case opt_fit_table: return file_name("--fit-table", value, m.fit_table);
    case opt_residuals: return file_name("--residuals", value, m.residuals);
    case opt_window_spectrum: return file_name("--window-spectrum", value, m.window_spectrum);
    case opt_phase_plot: {
        const std::optional<GraphFormat> format = graph_format_of(value);
        if (!format)
            return "--phase-plot " + quoted_argument(value) +
                   _(": the format comes from the name's extension: ") +
                   ".pdf .ps .eps .svg .png .bmp .tif .tiff";
        m.phase_plot = GraphRequest{std::string(value), *format};
        return {};
    }
    }
    return _("unknown option");
}

std::string multifreq_problem(const Options& options) {
    const MultiOptions& m = options.multi;
    if (m.prewhiten == 0) {
        for (const auto& [given, name] : {std::pair{!m.fit_table.empty(), "--fit-table"},
                                          std::pair{!m.residuals.empty(), "--residuals"},
                                          std::pair{m.phase_plot.has_value(), "--phase-plot"}})
            if (given) return std::string(name) + _(" needs --prewhiten");
    }
    if (options.table == "-" && m.prewhiten > 0)
        return _("--table - and --prewhiten would both write to standard output");
    if (m.prewhiten * static_cast<std::size_t>(2 * m.harmonics + 1) > max_fit_coefficients)
        return "--prewhiten " + std::to_string(m.prewhiten) + _(" with --harmonics ") +
               std::to_string(m.harmonics) + _(" goes beyond ") +
               std::to_string(max_fit_coefficients) + _(" coefficients in the fit");
    return {};
}

std::string multifreq_help() {
    return std::string(
               _("      --fap-stop P       prewhitening also stops before a peak whose "
                 "false-alarm\n                         probability (Baluev's) exceeds P\n")) +
           _(R"(      --harmonics H      the model of each frequency carries H harmonics (f, 2f,
                         ..., Hf): rho is the share of the variance they explain;
                         also in --prewhiten (default 1)
      --detrend D        first subtract the polynomial of degree D in time fitted
                         by weighted least squares (0 to 20)
      --prewhiten K      look for up to K frequencies: the highest peak of the
                         spectrum of the residuals, the simultaneous fit of all
                         those found and new residuals; stops when the signal to
                         noise ratio of the next one falls short of --snr-min.
                         The fit table (frequencies, amplitudes and phases with
                         their errors) goes to standard output
      --snr-min S        least signal to noise ratio of a frequency (default 4):
                         its amplitude over the mean amplitude of the spectrum of
                         the residuals around it
      --snr-band W       that surrounding: +-W in frequency (default 100 line
                         widths)
      --fit-table FILE   the fit table as CSV, with 17 digits
      --residuals FILE   time and residual of each point, as a series
      --phase-plot FILE  the series folded with the period of the first
                         frequency (two cycles, without the other frequencies)
                         and the model; the format comes from the extension, as
                         in --plot
      --window-spectrum FILE  the spectral window |sum w e^(2 pi i f t)|/sum w
                         on the grid (.csv: comma-separated values)
)");
}

} // namespace fasogram
