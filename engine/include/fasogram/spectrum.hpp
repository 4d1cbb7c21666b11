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

#include <cmath>
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
    // What each value lacks of the exact fit.  With Digits::full, value +
    // tail (a double-double) rounds to the exact digits; otherwise the
    // tails are 0.  Where C1, C2 or C3 lies near or below the bottom of the
    // range of doubles (under 2^-960, about 1e-289, where the low part of a
    // double-double nears the subnormals, which hold fewer digits), or
    // beyond the largest double, `exponent` is not 0 and each C_k is
    // (head.c_k + c_k tail) * 2^exponent, a scaled double-double that rounds
    // to the run's digits, while the point's c1, c2, c3 stay the nearest
    // doubles (0 or infinite where none is near).  Otherwise exponent and
    // head are 0.  coefficient() reads either.
    struct Tails {
        double rho = 0.0, c1 = 0.0, c2 = 0.0, c3 = 0.0;
        struct Heads {
            double c1 = 0.0, c2 = 0.0, c3 = 0.0;
        } head;
        int exponent = 0;
    } tail;
};

// A value carried past the range of a double: (hi + lo) * 2^exponent.
struct ScaledValue {
    double hi = 0.0, lo = 0.0;
    int exponent = 0;
};

// C_k of a point (k = 1, 2 or 3) with all the digits the run settled.
ScaledValue coefficient(const SpectrumPoint& point, int k);

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
    // Called now and then on the calling thread while a run or fit is under
    // way (about every 50 ms of work): an exception it throws stops every
    // thread of the call and reaches the caller.  How a caller lets its user
    // interrupt a long run.
    std::function<void()> interruption_point;
};

// What an engine has done since it was made (all its runs and fits).
struct EngineStats {
    std::size_t careful = 0;      // frequencies evaluated again the careful way
    std::size_t nufft_blocks = 0; // grid blocks evaluated by transforms
    // Their FFTs: six a block, or three on grids fine enough for the
    // first-order terms to come from neighbouring modes.
    std::size_t nufft_ffts = 0;
};

// The most threads a call may ask for.
inline constexpr unsigned max_threads = 1024;

// The series prepared for fitting: put in time order, weighted by the window
// and reduced to its weighted mean and variance.  Fits run on `threads`
// threads (0: every core), those of one pool the process's calls share;
// the results do not depend on the thread count, to the last bit, on every
// path.
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
    friend class PeakFinder; // refines its peaks on the prepared series
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
std::string format_full_digits(const ScaledValue& value);

// A scaled value correctly rounded to `significant` digits (1 to 17, ties
// to even): "-" or "", the digits, and the decimal exponent of the first.
// Finite values only (std::invalid_argument otherwise).
struct DecimalDigits {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};
DecimalDigits decimal_digits(const ScaledValue& value, int significant);

// One peak of a spectrum, refined to the maximum of rho between its grid
// neighbours.
struct Peak {
    double frequency = 0.0; // where rho is highest between the grid neighbours
    double period = 0.0;    // 1/|frequency|
    double rho = 0.0;       // spectral correlation coefficient there
    double amplitude = 0.0; // sqrt(C2² + C3²)
    double phase = 0.0;     // in cycles, 0 <= phase < 1: the fit is C1 + A cos(2π(f t − phase))
    double c1 = 0.0;
    // Out of the range of doubles, as in SpectrumPoint: when exponent is
    // not 0 the amplitude and C1 are head.amplitude * 2^exponent and
    // head.c1 * 2^exponent, amplitude and c1 the nearest doubles.
    struct Heads {
        double amplitude = 0.0, c1 = 0.0;
    } head;
    int exponent = 0;
};

// Collects the local maxima of rho while the points of one grid run go by
// (in increasing frequency), keeping only as many candidates as the k
// highest peaks can need, and refines them at the end.  A step in frequency
// much wider than the one before (the frequencies skipped around zero)
// separates the points on either side: they are not neighbours.
class PeakFinder {
  public:
    explicit PeakFinder(std::size_t k);
    void add(const SpectrumPoint& point) { add(point.f, point.rho); }
    // The same for the point's frequency and rho, all a peak needs of it.
    void add(double f, double rho) { step(prev2_, prev1_, have_, f, rho); }
    // The same for points f[i], rho[i] one after the other (spans of one
    // length, else std::invalid_argument).
    void add(std::span<const double> f, std::span<const double> rho);

    // The k highest peaks, highest rho first, refined with extra fits by
    // `engine` (the engine that computed the points).
    std::vector<Peak> peaks(const SpectrumEngine& engine, unsigned threads = 0) const;

  private:
    struct Candidate {
        double below = 0.0, f = 0.0, above = 0.0; // neighbour frequencies and the grid maximum
        double rho = 0.0;
        double rho_below = 0.0, rho_above = 0.0; // rho at the neighbours
    };
    void offer(const Candidate& c);

    struct Seen {
        double f = 0.0, rho = 0.0;
    };
    // One point past the neighbours p2 and p1 (`have` of them valid),
    // offering p1 where it is a local maximum.
    void step(Seen& p2, Seen& p1, int& have, double f, double rho) {
        if (!std::isfinite(rho)) {
            have = 0; // a singular frequency is nobody's neighbour
            return;
        }
        if (have >= 1) {
            const double gap = f - p1.f;
            const double before = have >= 2 ? p1.f - p2.f : gap;
            if (gap > 1.5 * before) have = 0;
        }
        if (have >= 2 && p1.rho > p2.rho && p1.rho >= rho)
            offer({p2.f, p1.f, f, p1.rho, p2.rho, rho});
        p2 = p1;
        p1 = {f, rho};
        have = have < 2 ? have + 1 : 2;
    }

    std::size_t k_;
    std::size_t keep_;
    std::vector<Candidate> kept_; // a min-heap on rho
    Seen prev2_{}, prev1_{};
    int have_ = 0; // how many of prev2_, prev1_ are valid neighbours
};

// The same over a whole spectrum held in arrays (frequencies increasing).
std::vector<Peak> find_peaks(const SpectrumEngine& engine, std::span<const SpectrumPoint> spectrum,
                             std::size_t k, unsigned threads = 0);

} // namespace fasogram

// ===========================================================================
// Several frequencies: spectra of a harmonic model, the simultaneous fit of
// several sinusoids, prewhitening, trends and the spectral window.
//
// These entries stand apart from SpectrumEngine and take the errors of the
// values themselves: every point weighs its window weight (Hanning
// 2 sin^2(pi d/D), d its distance to the nearer end of the series and D the
// time span, or 1 for the square window) over sigma^2, with sigma = 1 for
// every point when `sigma` is empty.  Times, values and errors are checked
// as SpectrumEngine checks a series (SeriesError), errors must be finite and
// positive, and every other argument raises std::invalid_argument naming
// what is wrong.
// ===========================================================================
namespace fasogram {

// The most harmonics of one frequency, frequencies of one fit and degree of
// a trend the entries below take.
inline constexpr int max_harmonics = 20;
inline constexpr std::size_t max_fit_frequencies = 100;
// The most coefficients of one fit besides C0: K (2H + 1) <= this.
inline constexpr std::size_t max_fit_coefficients = 1000;
inline constexpr int max_trend_degree = 20;

// The weight of every point in the fits below (input order).
std::vector<double> fit_weights(std::span<const double> t, std::span<const double> sigma,
                                Window window);

// A polynomial in time fitted by weighted least squares.  It is held in
// Legendre polynomials of u = (t - centre)/scale, centre the middle of the
// series and scale half its span, so that times of any size and degrees up
// to max_trend_degree stay well conditioned.
struct Trend {
    int degree = -1; // -1: no trend (the value is 0 everywhere)
    double centre = 0.0;
    double scale = 1.0;
    std::vector<double> coefficients; // of P_0(u) .. P_degree(u)
    double operator()(double t) const;
};
Trend fit_trend(std::span<const double> t, std::span<const double> y, std::span<const double> sigma,
                Window window, int degree);

// One frequency of the spectrum of the H-harmonic model
//     Y = C0 + sum_h a_h cos(2 pi h f t) + b_h sin(2 pi h f t),  h = 1 .. H,
// fitted by weighted least squares.  rho is the share of the weighted
// variance the model explains; amplitude is sqrt(sum_h a_h^2 + b_h^2), the
// amplitude of the sinusoid of the same power; a1 and b1 are the
// coefficients of the fundamental (times measured from 0).  Where the fit
// is singular every value but f is NaN.
struct HarmonicPoint {
    double f = 0.0;
    double rho = 0.0;
    double amplitude = 0.0;
    double c0 = 0.0, a1 = 0.0, b1 = 0.0;
};

// The spectrum of the H-harmonic model.  With H = 1 and no errors it is the
// spectrum SpectrumEngine computes, by a path of its own (good to about
// 1e-12 of the variance, not to every printed digit).
class HarmonicSpectrum {
  public:
    HarmonicSpectrum(std::span<const double> t, std::span<const double> y,
                     std::span<const double> sigma, Window window, int harmonics);
    ~HarmonicSpectrum();
    HarmonicSpectrum(HarmonicSpectrum&&) noexcept;
    HarmonicSpectrum& operator=(HarmonicSpectrum&&) noexcept;

    std::size_t size() const;
    int harmonics() const;
    Window window() const;
    double time_span() const;
    double line_width() const; // 2/D for the Hanning window, 1/D for the square one
    double mean() const;       // weighted mean
    double variance() const;   // weighted variance

    // Every frequency of the grid that is not skipped, in increasing j, on
    // `threads` threads (0: every core; the values do not depend on it).
    void run(const FrequencyGrid& grid, const std::function<void(const HarmonicPoint&)>& on_point,
             unsigned threads = 0) const;
    // The fits at the given frequencies, in their order.
    std::vector<HarmonicPoint> at(std::span<const double> freqs) const;
    // The k highest local maxima of rho among `points` (a grid run in
    // increasing frequency), highest first, each refined to the maximum of
    // rho between its grid neighbours.  A Peak's amplitude is the point's
    // (that of the fundamental alone when H = 1), its phase and c1 those of
    // the fundamental.  Maxima closer than half a line width to a frequency
    // of `exclude` (or to its mirror -f) are passed over.
    std::vector<Peak> peaks(std::span<const HarmonicPoint> points, std::size_t k,
                            std::span<const double> exclude = {}) const;

    struct Impl;

  private:
    const Impl& impl() const;
    std::unique_ptr<Impl> impl_;
};

// One term of a simultaneous fit: harmonic h of frequency k, written
//     amplitude cos(2 pi (h f_k (t - epoch) - phase)),
// phase in cycles, 0 <= phase < 1.  The errors are 1-sigma: from the
// covariance matrix of the fit, and the analytic ones of an evenly sampled
// series of the same number of points, span and residual scatter
// (Montgomery & O'Donoghue 1999): sigma_f = sqrt(6) sigma_N / (pi sqrt(N)
// A T), sigma_A = sqrt(2/N) sigma_N, sigma_phase = sigma_A / (2 pi A).
struct FitTerm {
    std::size_t index = 0; // k, from 0
    int harmonic = 1;      // h
    double frequency = 0.0, frequency_error = 0.0, frequency_error_analytic = 0.0;
    double amplitude = 0.0, amplitude_error = 0.0, amplitude_error_analytic = 0.0;
    double phase = 0.0, phase_error = 0.0, phase_error_analytic = 0.0;
    double a = 0.0, b = 0.0; // a cos(2 pi h f_k (t - epoch)) + b sin(...)
};

struct FitOptions {
    int harmonics = 1;
    // The time the phases refer to; NaN: the weighted mean time, where a
    // phase and its frequency are uncorrelated.
    double epoch = std::numeric_limits<double>::quiet_NaN();
    int max_iterations = 200;
};

// The simultaneous weighted least-squares fit of
//     Y = C0 + sum_k sum_h a_kh cos(2 pi h f_k (t - epoch)) + b_kh sin(...)
// with every frequency, coefficient and C0 free (Levenberg-Marquardt).
struct MultiFit {
    int harmonics = 1;
    double epoch = 0.0;
    double c0 = 0.0, c0_error = 0.0;
    std::vector<double> frequencies, frequency_errors; // f_k and its error
    std::vector<FitTerm> terms;                        // k-major, then h
    std::vector<double> residuals;                     // y - model, input order
    std::size_t points = 0;                            // points that carry weight (N)
    double time_span = 0.0;                            // T
    double residual_rms = 0.0;  // sigma_N: window-weighted rms of the residuals
    double chi_square = 0.0;    // sum of weight * residual^2
    bool errors_scaled = false; // no sigma: errors scaled by the residual variance
    int iterations = 0;
    bool converged = false;

    double model(double t) const;
    // Frequency k's harmonics alone (without C0).
    double component(std::size_t k, double t) const;
};

// Starts from `frequencies` (finite, positive, each at least a hundredth of
// a line width from the others, at most max_fit_frequencies of them and
// max_fit_coefficients coefficients) with the coefficients of the linear fit
// at them.  There must be more points that carry weight than parameters.
MultiFit fit_frequencies(std::span<const double> t, std::span<const double> y,
                         std::span<const double> sigma, Window window,
                         std::span<const double> frequencies, const FitOptions& options = {});

// The mean amplitude of a spectrum within `half_width` of f (the points of
// the grid run that lie there; NaN when none does).
double mean_amplitude(std::span<const HarmonicPoint> spectrum, double f, double half_width);

// What prewhitening has found when it considers a further frequency.
struct PrewhitenStep {
    std::size_t index = 0;                   // how many frequencies were accepted before
    Peak peak;                               // the highest peak of the residuals' spectrum
    std::span<const HarmonicPoint> spectrum; // that spectrum
    const MultiFit* fit = nullptr;           // the fit with the candidate
    std::span<const HarmonicPoint> residual; // the spectrum of that fit's residuals
    double snr = 0.0;                        // the candidate's S/N
};

struct PrewhitenOptions {
    std::size_t max_frequencies = 1; // K
    int harmonics = 1;
    double snr_min = 4.0;
    // The band over which the noise around a frequency is averaged: the
    // residual spectrum within +-snr_half_width of it; 0: 100 line widths.
    double snr_half_width = 0.0;
    unsigned threads = 0;
    int max_iterations = 200;
    // A further stop, asked after the S/N test has passed: true rejects the
    // candidate and ends the search (the place for a false-alarm limit).
    std::function<bool(const PrewhitenStep&)> extra_stop;
};

struct Prewhitening {
    enum class Stop { count, snr, extra, no_peak };
    MultiFit fit;            // of the accepted frequencies (none: C0 alone)
    std::vector<double> snr; // of each accepted frequency in the final residuals
    std::vector<double> noise;
    Stop stop = Stop::count;
    Peak rejected; // the candidate that stopped the search (snr, extra)
    double rejected_snr = 0.0;
    // Frequencies accepted on the way whose S/N in the final residuals fell
    // below snr_min: dropped, and the others fitted again without them.
    std::vector<double> dropped;
    double snr_half_width = 0.0;                  // the band used
    std::vector<HarmonicPoint> residual_spectrum; // of the final residuals
};

// Finds up to K frequencies one after the other: the highest peak of the
// spectrum of the current residuals over `grid`, then the simultaneous fit
// of every frequency found so far started from the peaks, then new
// residuals.  A candidate is accepted when its fitted amplitude
// sqrt(sum_h A_h^2) over the mean amplitude of the new residuals' spectrum
// within the band around it is at least snr_min (and extra_stop does not
// object).  At the end every frequency's S/N is taken again in the final
// residuals; one below snr_min there (an alias taken before its true
// frequency, say) is dropped and the rest fitted again, until all pass.
// The grid's line_width sets which frequencies are skipped.
Prewhitening prewhiten(std::span<const double> t, std::span<const double> y,
                       std::span<const double> sigma, Window window, const FrequencyGrid& grid,
                       const PrewhitenOptions& options);

// The spectral window: |sum_i w_i exp(2 pi i f t_i)| / sum_i w_i at every
// frequency of the grid (none skipped), with the weights of fit_weights.
struct WindowPoint {
    double f = 0.0;
    double amplitude = 0.0;
};
std::vector<WindowPoint> spectral_window(std::span<const double> t, std::span<const double> sigma,
                                         Window window, const FrequencyGrid& grid,
                                         unsigned threads = 0);

// ---------------------------------------------------------------------------
// Is the peak real?  The false-alarm probability of the highest peak.
//
// The null hypothesis: the values are pure white Gaussian noise with the
// given errors, sampled at these times.  The probability is that of a peak
// at least this high anywhere in the searched band [fmin, fmax] under that
// hypothesis; it is not the probability that the signal is real.  It is
// Baluev's (2008) alias-free approximation, an upper bound that becomes
// close at small probabilities.
struct FapBasis {
    double n_eff = 0.0; // (Σh)²/Σh² of the window weights h: N for the square window
    double t_eff = 0.0; // sqrt(4π Var(t)), the variance weighted as the fit weighs
};
// From the times, errors (empty: none) and window of the series.
FapBasis fap_basis(std::span<const double> t, std::span<const double> sigma, Window window);
// The probability of a highest peak of at least rho in the band; 1 at rho <= 0.
// Raises std::invalid_argument for a band that is not fmin < fmax, rho NaN
// or a basis of 4 effective points or fewer.
double false_alarm_probability(double rho, double fmin, double fmax, const FapBasis& basis);
// The rho whose probability is p, 0 < p < 1.
double false_alarm_level(double p, double fmin, double fmax, const FapBasis& basis);

// ---------------------------------------------------------------------------
// The false-alarm probability by bootstrap.
//
// The null hypothesis: the values carry no periodic signal and are
// exchangeable across the fixed times.  Each resample draws N values, with
// their errors, with replacement from the series and puts them at the
// original times (the window weight stays with the time, a drawn error
// divides it); its spectrum is taken over the same grid with the same
// weights, and only its highest rho is kept.  The probability of an
// observed height rho0 is the share of the resamples whose highest rho is
// at least rho0.  Like the analytic one it is not the probability that the
// signal is real.
//
// Resample b of seed s draws its N indices, in the order of the input, from
// SplitMix64 (Steele, Lea & Flood 2014) whose state starts at
// mix(s XOR mix(b)), mix the generator's output function applied to its
// argument plus 0x9E3779B97F4A7C15; each index k in [0, N) is the high word
// of the 128-bit product of a draw and N, redrawn while the low word falls
// below 2^64 mod N (Lemire 2019).  The draws are the same on every
// platform and do not depend on the number of threads.
//
// The highest rho of a resample is computed in double precision by
// non-uniform fast Fourier transforms batched over the resamples: it lies
// within about 1e-11 of its size of the exact fit's highest rho over the
// same grid (a few 1e-12 measured), ample for a count.  The observed rho0
// comes from the exact engine.
inline constexpr std::uint64_t default_bootstrap_seed = 0;

struct BootstrapOptions {
    std::size_t resamples = 1000; // B, at least 1
    std::uint64_t seed = default_bootstrap_seed;
    unsigned threads = 0; // 0: every core; at most max_threads
    // As EngineOptions::interruption_point.
    std::function<void()> interruption_point;
};

// What the resamples say of one height.
struct BootstrapProbability {
    // k/B, k the resamples whose highest rho is at least the height; when k
    // is 0, 1/B as an upper bound (the probability is below it).
    double probability = 1.0;
    // The binomial standard error sqrt(p (1 - p) / B); 0 for a bound.
    double error = 0.0;
    bool upper_bound = false;
    std::size_t exceeding = 0; // k
    std::size_t resamples = 0; // B
};

// The highest rho of every resample, in resample order.
class Bootstrap {
  public:
    // Raises std::invalid_argument when `maxima` is empty or holds a value
    // that is NaN or outside [0, 1].
    explicit Bootstrap(std::vector<double> maxima);
    const std::vector<double>& maxima() const { return maxima_; }
    std::size_t resamples() const { return maxima_.size(); }
    // Raises std::invalid_argument for a rho that is NaN.
    BootstrapProbability probability(double rho) const;
    // The lowest rho whose probability is at most p: the k-th highest
    // maximum, k = floor(p B), whose probability is k/B, or where maxima
    // equal to it would count more than k, the next higher one (just above
    // the highest when it is shared by more than k).  Raises
    // std::invalid_argument unless 0 < p < 1 and p B >= 1 (a level needs at
    // least 1/p resamples).
    double level(double p) const;

  private:
    std::vector<double> maxima_;
    std::vector<double> descending_;
};

// The bootstrap of the series over the non-skipped frequencies of `grid`.
// `sigma` is empty or the error of every value.  The series and the grid
// are checked as SpectrumEngine and SpectrumEngine::run check them
// (SeriesError, std::invalid_argument), as are the resamples (at least 1)
// and the threads.  A resample whose values do not vary has no spectrum: its
// highest rho counts as 0.
Bootstrap bootstrap(std::span<const double> t, std::span<const double> x,
                    std::span<const double> sigma, Window window, const FrequencyGrid& grid,
                    const BootstrapOptions& options = {});

// The indices of the values resample `index` of `seed` puts at times
// 0 .. n-1 (as above), to build one resample again.
std::vector<std::size_t> bootstrap_indices(std::uint64_t seed, std::size_t index, std::size_t n);

} // namespace fasogram
