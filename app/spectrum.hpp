// The spectrum of an unevenly sampled series.
//
// At every trial frequency f the series is fitted with
//     Y = C1 + C2 cos(2 pi f t) + C3 sin(2 pi f t)
// by weighted least squares, and the spectral correlation coefficient
// rho = |(P - m^2) / V| is reported: P is the weighted mean square of the
// fitted curve, m the weighted mean and V the weighted variance of the data.
//
// The numbers are those of the exact fit of the series as given (times and
// values as doubles, weights normalised to sum 1 exactly), each good to far
// better than its eighth significant digit.  They do not depend on the order
// of the points, and adding a constant to every value moves C1 alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace fasogram {

enum class Window { hanning, square };

// Two pi as the whole program uses it.
double two_pi();

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
    bool skipped(double f) const { return !(f >= skip_threshold() || f <= -skip_threshold()); }
};

// One computed spectrum point, as written to the table.  At a frequency
// where the normal equations are exactly singular every value but f is NaN.
struct SpectrumPoint {
    double f = 0.0;
    double rho = 0.0; // spectral correlation coefficient |(P − m²)/V|
    double c1 = 0.0;
    double c2 = 0.0;
    double c3 = 0.0;
    // With Digits::full: what each value lacks of the exact fit, so that
    // value + tail (a double-double) rounds to the exact digits; 0 otherwise.
    struct Tails {
        double rho = 0.0, c1 = 0.0, c2 = 0.0, c3 = 0.0;
    } tail;
};

// How many significant digits of rho, C1, C2 and C3 a run must get right:
// the table's eight, or all 17 a double can hold (value + tail correctly
// rounded to 17 digits; each fit is then evaluated carefully, some 30 to 100
// times the cost).
enum class Digits { eight, full };

// The curve handed to the plot: frequencies and coefficients as floats.
struct PlotArrays {
    std::vector<float> cox;
    std::vector<float> coy;
};

// A series that has no spectrum.
class SeriesError : public std::invalid_argument {
  public:
    enum class Kind {
        size_mismatch,  // times and values differ in number
        too_few_points, // fewer than two points
        not_finite,     // a time or a value is NaN or infinite
        no_time_span,   // every time is the same
        zero_variance,  // the weighted values do not vary
    };
    SeriesError(Kind kind, const std::string& message)
        : std::invalid_argument(message), kind_(kind) {}
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

// The series prepared for fitting: put in time order, weighted by the window
// and reduced to its weighted mean and variance.  Fits run on `threads`
// threads (0: every core); the results do not depend on the thread count.
// Running out of memory raises std::bad_alloc and a thread that cannot start
// std::system_error, in the calling thread.
class SpectrumEngine {
  public:
    // Raises SeriesError when the series has no spectrum.
    SpectrumEngine(std::span<const double> t, std::span<const double> x, Window window);
    ~SpectrumEngine();
    SpectrumEngine(SpectrumEngine&&) noexcept;
    SpectrumEngine& operator=(SpectrumEngine&&) noexcept;

    std::size_t size() const;
    Window window() const;
    double time_span() const;  // latest time − earliest time, D
    double line_width() const; // 2/D for the Hanning window, 1/D for the square one
    double mean() const;       // weighted mean m
    double variance() const;   // weighted variance V

    // Fits every frequency of the grid that is not skipped and hands the
    // points to `on_point` in increasing j.  Memory stays bounded whatever
    // the size of the grid.
    void run(const FrequencyGrid& grid, const std::function<void(const SpectrumPoint&)>& on_point,
             unsigned threads = 0, Digits digits = Digits::eight) const;

    // The fits at the given frequencies, in their order (no skipping).
    std::vector<SpectrumPoint> fit(std::span<const double> freqs, unsigned threads = 0) const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// Runs the grid and collects the plot arrays (they grow as needed; there is
// no fixed cap), handing every point to `on_point` as well.
PlotArrays compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                            const std::function<void(const SpectrumPoint&)>& on_point,
                            unsigned threads = 0, Digits digits = Digits::eight);

// As above, keeping every point.
struct Spectrum {
    std::vector<SpectrumPoint> points;
    PlotArrays plot;
};
Spectrum compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                          unsigned threads = 0);

} // namespace fasogram
