// A batch run's analysis of several frequencies: the trend removed first,
// the spectrum of the harmonic model, prewhitening and what is written of
// its fit, the spectral window.
#pragma once

#include "cli.hpp"
#include "output_file.hpp"
#include "plot_spectrum.hpp"
#include "series.hpp"

#include <functional>
#include <string>
#include <vector>

namespace fasogram {

using NoteFunction = std::function<void(const std::string&)>;

// The series less the trend --detrend asks for (the series as it is
// without it), weighted by the run's window.
Series remove_trend(Series series, const Options& options, const NoteFunction& note);

// The spectrum table of the H-harmonic model, for --harmonics above 1.
class HarmonicTable {
  public:
    HarmonicTable(const Series& series, const Options& options);
    // Runs the grid and hands every point on as a table point: C1 the
    // constant, C2 and C3 the fundamental's coefficients.  Keeps what the
    // peak table needs and, when `curve`, the graph's arrays.
    PlotArrays run(const FrequencyGrid& grid,
                   const std::function<void(const SpectrumPoint&)>& on_point, bool curve);
    std::vector<Peak> peaks(std::size_t k) const;

  private:
    HarmonicSpectrum spectrum_;
    std::vector<HarmonicPoint> points_;
    bool keep_ = false;
    unsigned threads_ = 0;
};

// The fit table as printed: a heading, one line per frequency and harmonic
// (frequency, its error and the analytic one, period, amplitude with its
// errors, phase with its errors, S/N) and the lines of C0 and the epoch.
std::string format_fit_table(const Prewhitening& result);
// The same in CSV: a header line, then every value with 17 significant
// digits.
std::string format_fit_csv(const Prewhitening& result);
// Time and residual of every point, a series file (the times with every
// digit that tells them apart, the residuals with 17).
std::string format_residuals(const std::vector<double>& t, const std::vector<double>& r);

// Prewhitening and what is written of it, and the spectral window, as
// options.multi asks (nothing when it asks for none).  The files are staged
// in `outputs`, put in place with the run's other outputs; `print` writes to
// standard output.
void run_multifrequency(const Series& series, const FrequencyGrid& grid, const Options& options,
                        RunOutputs& outputs, const NoteFunction& note, const NoteFunction& print);

} // namespace fasogram
