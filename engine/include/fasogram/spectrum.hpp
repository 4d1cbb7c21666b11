// fasogram's spectrum engine: the public interface of libfasogram_engine.
//
// The spectrum of an unevenly sampled series.
//
// At every trial frequency f the series is fitted with
//     Y = C1 + C2 cos(2 pi f t) + C3 sin(2 pi f t)
// by weighted least squares, and the spectral correlation coefficient
// rho = |(P - m^2) / V| is reported: P is the weighted mean square of the
// fitted curve, m the weighted mean and V the weighted variance of the data.
// Each point weighs what the window gives it, divided by the square of its
// measurement error when the series comes with errors.
//
// The numbers are those of the exact fit of the series as given (times and
// values as doubles, weights normalised to sum 1 exactly), each good to far
// better than its eighth significant digit.  They do not depend on the order
// of the points, and adding a constant to every value moves C1 alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
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
    // Whether the points lie more than half a line width apart, so that a
    // peak can fall between two of them and be missed or shown far too low.
    bool undersampled() const { return step() > line_width / 2.0; }
};

// The fewest steps over the same limits whose points lie at most half a
// line width apart (the grid's own number when they already do).  Raises
// std::invalid_argument when no number of steps a grid can have is enough.
std::int64_t resolving_steps(const FrequencyGrid& grid);

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

// A series that has no spectrum.
class SeriesError : public std::invalid_argument {
  public:
    enum class Kind {
        size_mismatch,  // times and values differ in number
        too_few_points, // fewer than two points
        not_finite,     // a time or a value is NaN or infinite
        no_time_span,   // every time is the same
        zero_variance,  // the weighted values do not vary
        bad_error,      // a measurement error is not finite or not above 0
    };
    static constexpr std::size_t no_index = std::numeric_limits<std::size_t>::max();
    SeriesError(Kind kind, const std::string& message, std::size_t index = no_index)
        : std::invalid_argument(message), kind_(kind), index_(index) {}
    Kind kind() const { return kind_; }
    // The position in the input of the point at fault (bad_error and
    // not_finite), or no_index.
    std::size_t index() const { return index_; }

  private:
    Kind kind_;
    std::size_t index_;
};

// How the engine evaluates a uniform grid: chosen from the estimated cost of
// each path, or forced (the tests and the benchmarks compare the paths on the
// same grids).  Both give the same printed digits.
enum class GridPath { automatic, direct, nufft };

// Settings of one engine that change how, never what, it computes.
struct EngineOptions {
    GridPath path = GridPath::automatic;
    // Whether the careful evaluation may use its four-lane vector code where
    // the processor has it.
    bool careful_lanes = true;
};

// What an engine has done since it was made (all its runs and fits).
struct EngineStats {
    std::size_t careful = 0;      // frequencies evaluated again the careful way
    std::size_t nufft_blocks = 0; // grid blocks evaluated by transforms
};

// The most threads a call may ask for.
inline constexpr unsigned max_threads = 1024;

// The series prepared for fitting: put in time order, weighted by the window
// and reduced to its weighted mean and variance.  Fits run on `threads`
// threads (0: every core); the results do not depend on the thread count.
// Running out of memory raises std::bad_alloc and a thread that cannot start
// std::system_error, in the calling thread.
//
// Every entry checks its arguments and raises std::invalid_argument (or its
// subclass SeriesError) with a message saying what is wrong: a grid of no
// steps, limits that are not finite or not increasing, a window or digits
// value that is not one of the enumerators, an empty callback, more than
// max_threads threads, a frequency that is not finite, an engine that was
// moved from.  Times and frequencies whose products leave the range the
// phase reduction supports (|t|·|f| up to 2^1000 with every doubled
// frequency finite) are refused the same way.
class SpectrumEngine {
  public:
    // Raises SeriesError when the series has no spectrum.
    SpectrumEngine(std::span<const double> t, std::span<const double> x, Window window,
                   EngineOptions options = {});
    // The same series with the measurement error sigma[i] of each value:
    // every weight is the window's divided by sigma[i]^2.  With the square
    // window rho is then the share of the chi-square of the constant model
    // that the sinusoid removes.  A sigma that is not finite or not above 0
    // raises SeriesError (bad_error, its index in the message and index()).
    SpectrumEngine(std::span<const double> t, std::span<const double> x,
                   std::span<const double> sigma, Window window, EngineOptions options = {});
    ~SpectrumEngine();
    SpectrumEngine(SpectrumEngine&&) noexcept;
    SpectrumEngine& operator=(SpectrumEngine&&) noexcept;

    std::size_t size() const;
    Window window() const;
    double time_span() const;    // latest time − earliest time, D
    double line_width() const;   // 2/D for the Hanning window, 1/D for the square one
    double mean() const;         // weighted mean m
    double variance() const;     // weighted variance V
    double largest_time() const; // the largest |t|
    bool has_errors() const;     // made with measurement errors
    // The median of the gaps between consecutive distinct times.
    double median_spacing() const;

    // Fits every frequency of the grid that is not skipped and hands the
    // points to `on_point` in increasing j.  Memory stays bounded whatever
    // the size of the grid.  An exception thrown by `on_point` stops the run
    // and reaches the caller.
    void run(const FrequencyGrid& grid, const std::function<void(const SpectrumPoint&)>& on_point,
             unsigned threads = 0, Digits digits = Digits::eight) const;

    // The fits at the given frequencies, in their order (no skipping).
    std::vector<SpectrumPoint> fit(std::span<const double> freqs, unsigned threads = 0) const;

    // The path run() takes for `grid` on `threads` threads.
    GridPath path_for(const FrequencyGrid& grid, unsigned threads = 0) const;

    EngineStats stats() const;

    // The settings: given at construction, changed here between runs (not
    // while another thread runs the engine).
    EngineOptions options() const;
    void set_options(const EngineOptions& options);

    struct Impl;

  private:
    SpectrumEngine(std::span<const double> t, std::span<const double> x,
                   std::span<const double> sigma, Window window, EngineOptions options,
                   bool without_errors);
    const Impl& impl() const;
    std::unique_ptr<Impl> impl_;
};

// Raises std::invalid_argument unless the grid can be run on a series whose
// largest |t| is `t_max`: at least one step, finite increasing limits, a
// finite step and line width, and phases within the supported range.
void check_grid(const FrequencyGrid& grid, double t_max);

// A grid to be completed from the series: what is left out is chosen by
// auto_grid.
struct GridRequest {
    std::optional<double> f_ini = std::nullopt;
    std::optional<double> f_fin = std::nullopt;
    std::optional<std::int64_t> n_points = std::nullopt;
    // Grid points per line width: the step left to auto_grid is
    // line_width/oversample.
    double oversample = 10.0;
};

// The most steps auto_grid puts below the highest frequency it chooses.
inline constexpr std::int64_t max_auto_steps = 1000000;

// The grid auto_grid chose and why it ends where it does.
struct AutoGrid {
    FrequencyGrid grid;
    // 1/(2 median_spacing()): on evenly spaced times the highest frequency
    // the sampling tells apart from a lower one; on clustered times (a few
    // points a night) the same for the spacing within the clusters.
    double nyquist = 0.0;
    // Whether f_fin was held to max_auto_steps steps above f_ini, below the
    // Nyquist frequency (long series sampled in dense clusters).
    bool capped = false;
};

// Completes the request.  With step = line_width/oversample: f_ini, unless
// given, is one step; f_fin, unless given, is the largest f_ini + k·step not
// above `nyquist`, k at least 1 and at most max_auto_steps; n_points, unless
// given, is that k, or with a given f_fin the fewest steps no wider than
// `step`.  Raises std::invalid_argument for an
// oversample that is not a finite number above 0, given limits that are not
// finite or not increasing, a chosen f_fin that would not lie above a given
// f_ini, or more steps than a grid can have.
AutoGrid auto_grid(const SpectrumEngine& engine, const GridRequest& request = {});

// Every point of a grid run, in order.
struct Spectrum {
    std::vector<SpectrumPoint> points;
};
Spectrum compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                          unsigned threads = 0);

// value + tail (a double-double) correctly rounded to 17 significant
// digits, as "d.dddddddddddddddde+XX"; non-finite values as "NaN",
// "Infinity" and "-Infinity".
std::string format_full_digits(double value, double tail);

// One peak of a spectrum, refined to the maximum of rho between its grid
// neighbours.
struct Peak {
    double frequency = 0.0; // where rho is highest between the grid neighbours
    double period = 0.0;    // 1/|frequency|
    double rho = 0.0;       // spectral correlation coefficient there
    double amplitude = 0.0; // sqrt(C2² + C3²)
    double phase = 0.0;     // in cycles, 0 <= phase < 1: the fit is C1 + A cos(2π(f t − phase))
    double c1 = 0.0;
};

// Collects the local maxima of rho while the points of one grid run go by
// (in increasing frequency), keeping only as many candidates as the k
// highest peaks can need, and refines them at the end.  A step in frequency
// much wider than the one before (the frequencies skipped around zero)
// separates the points on either side: they are not neighbours.
class PeakFinder {
  public:
    explicit PeakFinder(std::size_t k);
    void add(const SpectrumPoint& point);

    // The k highest peaks, highest rho first, refined with extra fits by
    // `engine` (the engine that computed the points).
    std::vector<Peak> peaks(const SpectrumEngine& engine, unsigned threads = 0) const;

  private:
    struct Candidate {
        double below = 0.0, f = 0.0, above = 0.0; // neighbour frequencies and the grid maximum
        double rho = 0.0;
    };
    void offer(const Candidate& c);

    std::size_t k_;
    std::size_t keep_;
    std::vector<Candidate> kept_; // a min-heap on rho
    SpectrumPoint prev2_{}, prev1_{};
    int have_ = 0; // how many of prev2_, prev1_ are valid neighbours
};

// The same over a whole spectrum held in arrays (frequencies increasing).
std::vector<Peak> find_peaks(const SpectrumEngine& engine, std::span<const SpectrumPoint> spectrum,
                             std::size_t k, unsigned threads = 0);

} // namespace fasogram
