// A batch run: the spectrum of a series as the command line asks, without
// questions.
#pragma once

#include "cli.hpp"

#include <string>
#include <vector>

namespace fasogram {

// The peak table as printed: a heading line and one aligned line per peak
// (frequency, period, rho, amplitude, phase in cycles, C1), each with a line
// end.  With `faps` (one per peak) a last column gives each peak's
// false-alarm probability.
std::string format_peak_table(const std::vector<Peak>& peaks, const std::vector<double>& faps = {});
// With the bootstrap's probabilities: the fap column holds k/B to 4
// significant digits ("%.3e") and a further column, fap_err, its binomial
// standard error to 2 ("%.1e"); when no resample reaches the peak, the fap
// column reads "<" and 1/B (as "<1.000e-03") and fap_err "-".
std::string format_peak_table(const std::vector<Peak>& peaks,
                              const std::vector<BootstrapProbability>& faps);

// Runs the options (already checked): reads the series (a file, or standard
// input for "-"), writes the table, the graphs and the peak table (standard
// output).  Notes go to standard error unless quiet; an error stop prints one
// "fasogram: error: ..." line there.  Returns the exit status: 0 after a
// complete run, 1 after an error.
int run_batch(const Options& options);

} // namespace fasogram
