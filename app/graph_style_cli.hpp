// The command-line options of the look of the batch graphs.
#pragma once

#include "cli.hpp"

#include <getopt.h>
#include <string>
#include <string_view>

namespace fasogram {

// The getopt codes of these options (long options only).
enum GraphOptionCode : int {
    opt_time_unit = 768,
    opt_x_axis,
    opt_ylim,
    opt_title,
    opt_xlabel,
    opt_ylabel,
    opt_mark_peaks,
    opt_stamp,
};

// Their getopt rows.
inline constexpr option graph_long_options[] = {
    {"time-unit", required_argument, nullptr, opt_time_unit},
    {"x", required_argument, nullptr, opt_x_axis},
    {"ylim", required_argument, nullptr, opt_ylim},
    {"title", required_argument, nullptr, opt_title},
    {"xlabel", required_argument, nullptr, opt_xlabel},
    {"ylabel", required_argument, nullptr, opt_ylabel},
    {"mark-peaks", required_argument, nullptr, opt_mark_peaks},
    {"stamp", no_argument, nullptr, opt_stamp},
};

inline bool is_graph_option(int code) {
    return code >= opt_time_unit && code <= opt_stamp;
}

// Takes one of the options above with its value into options.graph_style;
// returns the usage message (one line, without "fasogram: error: ") when the
// value is not valid, empty otherwise.
std::string take_graph_option(int code, std::string_view value, Options& options);

// The lines of --help for these options.
std::string graph_options_help();

} // namespace fasogram
