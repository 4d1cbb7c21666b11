// The command-line options of the analysis of several frequencies:
// prewhitening, harmonics, trends, and what is written of the fit.
#pragma once

#include "cli.hpp"

#include <string>
#include <string_view>

namespace fasogram {

// The getopt codes of these options (long options only).
enum MultiOptionCode : int {
    opt_prewhiten = 512,
    opt_harmonics,
    opt_detrend,
    opt_snr_min,
    opt_snr_band,
    opt_fit_table,
    opt_residuals,
    opt_phase_plot,
    opt_window_spectrum,
    opt_fap_stop,
};

// Takes one of the options above with its value into options.multi;
// returns the usage message (one line, without "fasogram: error: ") when the
// value is not valid, empty otherwise.  The false-alarm stop of prewhitening
// (--fap-stop P) becomes PrewhitenOptions::extra_stop in multifreq_batch.cpp.
std::string take_multifreq_option(int code, std::string_view value, Options& options);

// The checks that concern several options, after the last one: the usage
// message, or empty.
std::string multifreq_problem(const Options& options);

// The lines of --help for these options.
std::string multifreq_help();

} // namespace fasogram
