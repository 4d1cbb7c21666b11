#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace fasogram {

enum class Window { hanning, square };

// Two pi as the whole program uses it.
double two_pi();

// Normalised weights of the series and its weighted mean and variance.
struct Weighting {
    std::vector<double> w;  // weights, summing to 1
    std::vector<double> wx; // x(i)·w(i)
    double mean = 0.0;      // Σ wx(i)
    double variance = 0.0;  // Σ x(i)·wx(i) − mean²
};

// Hanning: w(i) = cos(2π (t(i) − t_mid) / D) + 1 with t_mid = t(1) + D/2 and
// D = t(N) − t(1); square: w(i) = 1.  Then normalised to sum 1.  Sums run in
// index order.  Needs at least one point.
Weighting weigh_series(std::span<const double> t, std::span<const double> x, Window window);

// The trial frequencies f_j = j·df + f_ini, j = 0 .. n_points, with
// df = (f_fin − f_ini)/n_points; both limits are included.  Frequencies with
// |f_j| below line_width/100 are skipped.
struct FrequencyGrid {
    double f_ini = 0.0;
    double f_fin = 0.0;
    std::int64_t n_points = 1;
    double line_width = 0.0;

    double step() const { return (f_fin - f_ini) / static_cast<double>(n_points); }
    double skip_threshold() const { return line_width / 100.0; }
    std::int64_t size() const { return n_points < 0 ? 0 : n_points + 1; }
    double frequency(std::int64_t j) const { return static_cast<double>(j) * step() + f_ini; }
};

// Least-squares fit of Y = C1 + C2·cos(2πft) + C3·sin(2πft) at one frequency.
struct Fit {
    double c1 = 0.0;
    double c2 = 0.0;
    double c3 = 0.0;
    double power = 0.0; // P = Σ w(i)·y(i)², y the fitted value
};

// One computed spectrum point, as written to the table.
struct SpectrumPoint {
    double f = 0.0;
    double rho = 0.0; // spectral correlation coefficient |(P − m²)/V|
    double c1 = 0.0;
    double c2 = 0.0;
    double c3 = 0.0;
};

// The curve handed to the plot: frequencies and coefficients as floats.
struct PlotArrays {
    std::vector<float> cox;
    std::vector<float> coy;
};

// The straightforward reference computation.  Per frequency: one pass over
// the points computing the phase 2π·t(i)·f reduced modulo 2π by truncating
// division, its cosine and sine, and the sums of the normal equations; the
// 3×3 system solved by Cramer's rule; a second pass for P.  All sums are
// doubles accumulated in index order.
class ReferenceFitter {
  public:
    // `t` and `weighting` must outlive the fitter.
    ReferenceFitter(std::span<const double> t, const Weighting& weighting);

    Fit fosyl(double f);

  private:
    std::span<const double> t_;
    const Weighting& weighting_;
    std::vector<double> ca_;
    std::vector<double> sa_;
};

// Runs the fit over the grid with the fast engine (spectrum_fast.hpp),
// skipping frequencies below the threshold, and calls `on_point` for each
// computed point in increasing j.  Returns the plot arrays (they grow as
// needed; there is no fixed cap).
PlotArrays compute_spectrum(std::span<const double> t, std::span<const double> x,
                            const Weighting& weighting, const FrequencyGrid& grid,
                            const std::function<void(const SpectrumPoint&)>& on_point);

// As above, keeping every point.
struct Spectrum {
    std::vector<SpectrumPoint> points;
    PlotArrays plot;
};
Spectrum compute_spectrum(std::span<const double> t, std::span<const double> x,
                          const Weighting& weighting, const FrequencyGrid& grid);

} // namespace fasogram
