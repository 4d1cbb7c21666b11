// The command-line options of the look of the batch graphs.
#include "graph_style_cli.hpp"

#include "error.hpp"

#include "messages.hpp"
#include "numbers.hpp"

#include <cmath>
#include <optional>

namespace fasogram {

std::string take_graph_option(int code, std::string_view value, Options& options) {
    GraphStyle& style = options.graph_style;
    switch (code) {
    case opt_time_unit: style.time_unit = value; return {};
    case opt_x_axis:
        if (value == "period" || value == "periodo") {
            style.period_axis = true;
        } else if (value == "frequency" || value == "frecuencia") {
            style.period_axis = false;
        } else {
            return std::string(_("--x: expected frequency or period: ")) + quoted_argument(value);
        }
        return {};
    case opt_ylim: {
        const std::size_t colon = value.find(':');
        std::optional<double> lo, hi;
        if (colon != std::string_view::npos) {
            lo = parse_real(value.substr(0, colon));
            hi = parse_real(value.substr(colon + 1));
        }
        if (!lo || !hi || !std::isfinite(*lo) || !std::isfinite(*hi) || !(*hi > *lo))
            return std::string(_("--ylim: expected MIN:MAX with MIN less than MAX: ")) +
                   quoted_argument(value);
        style.ylim = std::make_pair(*lo, *hi);
        return {};
    }
    case opt_title: style.title = std::string(value); return {};
    case opt_xlabel: style.xlabel = std::string(value); return {};
    case opt_ylabel: style.ylabel = std::string(value); return {};
    case opt_mark_peaks: {
        std::size_t k = 0;
        bool digits = !value.empty();
        for (char c : value) {
            if (c < '0' || c > '9' || k > 1000) {
                digits = false;
                break;
            }
            k = k * 10 + static_cast<std::size_t>(c - '0');
        }
        if (!digits || k < 1 || k > 100)
            return std::string(_("--mark-peaks: expected a number of peaks from 1 to 100: ")) +
                   quoted_argument(value);
        style.mark_peaks = k;
        return {};
    }
    case opt_stamp: style.stamp = true; return {};
    default: return std::string(_("unknown graph option"));
    }
}

std::string graph_options_help() {
    return _(R"(  Look of the graphs of --plot and --screen:
      --time-unit U      unit of the series' times (d, h, min, s, yr or
                         another): names the units of the axes
      --x frequency|period  x axis in frequency (default) or in period
      --ylim MIN:MAX     limits of the y axis (default, fitted to the data)
      --title TEXT       title above the graph
      --xlabel TEXT      name of the x axis
      --ylabel TEXT      name of the y axis
      --mark-peaks K     labels the K highest peaks with their periods (1 to 100)
      --stamp            date and time in the margin
)");
}

} // namespace fasogram
