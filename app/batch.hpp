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

// Runs the options (already checked): reads the series (a file, or standard
// input for "-"), writes the table, the graphs and the peak table (standard
// output).  Notes go to standard error unless quiet; an error stop prints one
// "fasogram: error: ..." line there.  Returns the exit status: 0 after a
// complete run, 1 after an error.
int run_batch(const Options& options);

} // namespace fasogram
