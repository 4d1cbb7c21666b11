// Inside the spectrum engine: the prepared series and the two evaluations of
// the fit, the fast one over groups of grid frequencies and the careful one
// for single frequencies whose printed digits the fast one cannot settle.
//
// Both evaluate the same formulation.  With raw window weights h (the
// normalisation drops out), S = sum h, the weighted mean m and variance V,
// and at frequency f the phases c = cos 2 pi f t, s = sin 2 pi f t:
//     cbar = sum h c / S,  sbar = sum h s / S,
//     M = [ sum h c c/S - cbar^2   sum h c s/S - cbar sbar ]
//         [ (symmetric)            sum h s s/S - sbar^2    ]
//     Y = ( sum h (x - m) c / S,  sum h (x - m) s / S )
//     (C2, C3) = M^-1 Y,  C1 = m - C2 cbar - C3 sbar,
//     rho = (C2 Y1 + C3 Y2) / V.
// That is the solution of the 3 x 3 normal equations with their first row
// divided out, and P - m^2 written without the cancelling subtraction.
// Each evaluation also bounds the error of its sums, carries the bound
// through the solution and reports whether every printed digit is settled.
#pragma once

#include "dd.hpp"
#include "fasogram/spectrum.hpp"
#include "recycled.hpp"

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace fasogram::detail {

// The series as both evaluations need it (points in time order).
struct Prepared {
    RecycledVector<double> t, x, h; // times, values times 2^-scale, raw window weights
    // The values are scaled by a power of two (exactly) so that the largest
    // lies in [1/2, 1): the sums neither overflow nor underflow whatever the
    // scale of the input.  C1, C2, C3 and their bounds are scaled back.
    int scale = 0;
    // The weights' low parts, h + h_lo good to about 1e-32 (runs that print
    // every digit a double holds); empty when h alone is the weight.
    RecycledVector<double> h_lo;
    // The measurement errors times 2^-sigma_scale, in the order of t (empty
    // for a series without them): the smallest lies in [1/2, 1), so that
    // the weights h/sigma^2 stay within range whatever the scale of the
    // errors.  A point whose sigma^2 leaves the range of a double weighs 0.
    RecycledVector<double> sigma;
    dd::DD sum_h;    // S
    dd::DD mean;     // m
    dd::DD variance; // V
    // Bounds of their errors: the absolute one of m, the relative one of S
    // and of V.  They grow with the number of points (each addition of the
    // sums rounds within a unit of 2^-104 or so of the running total).
    double mean_err = 0.0, moment_rel = 0.0;
    double centre = 0.0;       // m rounded to double
    dd::DD centre_offset;      // m - centre
    RecycledVector<double> y;  // x - centre, rounded
    RecycledVector<dd::DD> xm; // x - m
    double t_max = 0.0;        // largest |t|
    bool any_weight_zero = false;
    bool careful_lanes = true; // EngineOptions::careful_lanes
    // The widest lanes the careful evaluation may use where careful_lanes
    // allows lanes: 8 (AVX-512) or 4 (AVX2), as the processor has them.  Only
    // the engine's tests narrow it, to check each path on the same processor.
    unsigned careful_width = 8;
    std::function<void()> interruption_point; // EngineOptions::interruption_point

    // What the engine counts for EngineStats, shared by the series and its
    // copy with exact weights.
    struct Counters {
        std::atomic<std::size_t> careful{0}, nufft_blocks{0}, nufft_ffts{0};
    };
    std::shared_ptr<Counters> counters = std::make_shared<Counters>();

    // The layout of the fast evaluation (opaque).
    struct Layout;
    std::shared_ptr<const Layout> layout;
};

// `sigma` is empty, or the measurement error of every point (finite, above 0).
Prepared prepare_series(std::span<const double> t, std::span<const double> x,
                        std::span<const double> sigma, Window window);
// The same series with the window weights in double-double, for the fits
// that must get 17 digits right (the weights' own rounding is a unit of the
// 16th digit).
Prepared with_exact_weights(const Prepared& series, Window window);
std::shared_ptr<const Prepared::Layout> make_layout(const Prepared& series);

// One evaluated frequency.
struct Evaluation {
    SpectrumPoint point;
    bool settled = false; // every printed digit of rho, C1, C2, C3 is certain
    // The error bounds are far below the final rounding of the values: more
    // precision cannot settle digits that are not (a value that lies within
    // that rounding of a boundary).
    bool converged = false;
};

// What each fit solved on this thread stated about its error, for the
// engine's own tests: nothing is kept unless `fit_records` is set.
struct FitRecord {
    SpectrumPoint point;
    bool settled = false;
    SpectrumPoint::Tails bound; // of rho, C1, C2, C3 (infinite: too ill-conditioned)
    SpectrumPoint::Tails rest;  // what the doubles of `point` lack of the fit's own values
    int precision = 0;          // bits of the careful or multiple-precision sums, 0 fast
};
// This thread's record (null: none) and the precision the next fits are
// solved at, as functions: a thread_local shared between files through its
// name reads as a null pointer in some instrumented builds.
std::vector<FitRecord>*& fit_records();
int& fit_precision();

// The sums each fit on this thread was solved from and their stated
// bounds (mu for the first five, eta for the last two), for the engine's
// own tests: nothing is kept unless `sum_records` is set.  The sums are as
// solve_fit took them, rounded to double-double.
struct SumRecord {
    double f = 0.0;
    dd::DD hc, hs, hcc, hcs, hss, hyc, hys;
    double mu = 0.0, eta = 0.0;
    int precision = 0; // as in FitRecord
};
std::vector<SumRecord>*& sum_records();

// Fast evaluation of `count` frequencies, grid neighbours in order (the
// values in `freqs` are the ones fitted).  `count` is at
// most kFastGroup.  The phases are anchored at the first frequency and
// turned from each frequency to the next by the exact difference of the
// two, through a table of that difference's cosine and sine per point; a
// difference that is not exact, or one more than a run may turn by,
// anchors them afresh.
inline constexpr std::size_t kFastGroup = 128;
class FastEvaluator {
  public:
    explicit FastEvaluator(const Prepared& series);
    ~FastEvaluator();
    // Thread-safe; each thread needs its own Scratch, which also keeps the
    // tables of the differences it has turned by, from call to call.
    struct Scratch;
    std::shared_ptr<Scratch> scratch() const;
    void evaluate(std::span<const double> freqs, std::span<Evaluation> out, Scratch& s) const;
    // One frequency at its own anchor, its cosines and sines as pairs of
    // doubles, with every term of the sums added exactly: a bound far
    // tighter than evaluate's (no allowance for the additions' roundings,
    // and the pairs' error a sixteenth of the anchor's), at more cost per
    // point than one frequency by evaluate; for the frequencies evaluate
    // leaves unsettled.
    Evaluation evaluate_alone(double f, Scratch& s) const;

  private:
    void evaluate_run(std::span<const double> freqs, std::size_t first, Scratch& s) const;
    const Prepared& series_;
};

// The cosine and sine of 2 pi t f for each t, as the fast evaluation
// anchors its phases (for the engine's tests), and the bound of their error
// against the exact values, in units of 2^-53.
void fast_anchor(std::span<const double> t, double f, std::span<double> c, std::span<double> s);
inline constexpr double kFastAnchorUnits = 0.66;
// The same as pairs of doubles, c + cl and s + sl, as a frequency fitted
// alone takes them, and the bound of their error in units of 2^-53.
void fine_anchor(std::span<const double> t, double f, std::span<double> c, std::span<double> cl,
                 std::span<double> s, std::span<double> sl);
inline constexpr double kFineAnchorUnits = 0.04;

// The fast sums' kernels on vectors of at most `most` doubles (2, 4 or 8;
// 0: the widest the processor has), where the processor has them, for the
// engine's tests of every width; not while a call runs.  Returns the width
// taken.
unsigned fast_kernel_lanes(unsigned most);

// Whether the fast sums' eight-lane code may take two frequencies in one
// pass over the points (the default), for the engine's test that it gives
// the bits of one at a time; not while a call runs.
void fast_kernel_pairs(bool allowed);

// The code of the peaks' refinement's moments: 4, that for AVX2, 2, that for
// processors without it (on the same four lanes), or 0, the widest the
// processor has; as fast_kernel_lanes.
unsigned peak_moment_lanes(unsigned most);

// Careful evaluation of one frequency in double-double arithmetic, with the
// exact test for a singular fit.
Evaluation evaluate_careful(const Prepared& series, double f, Digits digits = Digits::eight);

// Sets how the careful evaluation of `series` adds up its sums: in lanes of
// at most `most` doubles (8 or 4), one point at a time (1), or in the
// widest lanes the processor has (0), for the engine's tests of every
// width.  Returns the width taken: 8, 4 or 1, as the processor has them.
unsigned careful_lanes_width(Prepared& series, unsigned most);

// Careful evaluation of runs of neighbouring frequencies: each phase reduced
// exactly at the first frequency of a run, then carried to the next by a
// rotation through the step between them (its cosine and sine per point
// computed once per step), anchored afresh where the difference of two
// frequencies is not exactly one of the steps and after kCarefulRotations
// rotations.  The values are those of evaluate_careful up to its rounding,
// with the bound of the phases grown by careful_phase_units.
inline constexpr std::size_t kCarefulRotations = 32;
class CarefulRuns {
  public:
    // `steps`: the differences of neighbouring frequencies worth a table
    // (each costs a cosine and sine per point, computed here on up to
    // `threads` threads).  Without the four-lane processor code there are no
    // tables and every frequency is evaluated on its own.
    CarefulRuns(const Prepared& series, std::span<const double> steps, unsigned threads);
    ~CarefulRuns();
    CarefulRuns(const CarefulRuns&) = delete;
    CarefulRuns& operator=(const CarefulRuns&) = delete;
    // Evaluates freqs in order; thread-safe.
    void evaluate(std::span<const double> freqs, std::span<Evaluation> out,
                  Digits digits = Digits::eight) const;
    // The cosine and sine of every point's phase at the last of `freqs`, as
    // evaluate carries them there (for the engine's tests).
    std::vector<dd::SinCos> phases(std::span<const double> freqs) const;

  private:
    struct Tables;
    const Prepared& series_;
    std::unique_ptr<Tables> tables_;
};
// The error of a phase's cosine and sine after `rotations` rotations from
// its exact reduction, in units of 2^-104, and that of the entries of the
// double-double table of cosines and sines it starts from.
double careful_phase_units(std::size_t rotations);
inline constexpr double kCarefulTableUnits = 0.54;

// The same in multiple precision, doubled until the digits are settled;
// `best` is what to return when even the widest precision does not settle
// them.
Evaluation evaluate_exact(const Prepared& series, double f, const Evaluation& best,
                          Digits digits = Digits::eight);

// Evaluation of a whole uniform grid, block by block, by non-uniform fast
// Fourier transforms (spectrum_nufft.cpp).  A block is a run of at most
// block_size() consecutive grid indices; its frequencies are the grid's own
// (FrequencyGrid::frequency), skipped ones included.
class NufftEvaluator {
  public:
    // `block` is the number of grid frequencies per transform; the set-up
    // uses up to two threads unless `threads` is 1.
    NufftEvaluator(const Prepared& series, const FrequencyGrid& grid, std::size_t block,
                   unsigned threads);
    ~NufftEvaluator();
    NufftEvaluator(const NufftEvaluator&) = delete;
    NufftEvaluator& operator=(const NufftEvaluator&) = delete;

    std::size_t block_size() const;
    // Thread-safe; each thread needs its own Workspace.
    struct Workspace;
    std::shared_ptr<Workspace> workspace() const;
    // Evaluates grid indices first .. first + out.size() - 1 (at most
    // block_size() of them); `unsettled`, where not null, gets the places in
    // `out` of those whose digits are not settled, in order.
    void evaluate(std::int64_t first, std::span<Evaluation> out, Workspace& w,
                  std::vector<std::uint32_t>* unsettled = nullptr) const;

    // The block size for a grid of `count` frequencies run on `workers`
    // threads at once.
    static std::size_t choose_block(std::int64_t count, unsigned workers);

  private:
    struct Plan;
    std::unique_ptr<Plan> plan_;
};

// The path the engine takes for `grid` with `threads` threads: `forced`
// unless it is automatic or the transforms cannot take the grid, otherwise
// the cheaper by the estimated cost.  `work`, where given, receives the
// estimated work of the path taken, in nanoseconds of one thread.
GridPath choose_grid_path(const Prepared& series, const FrequencyGrid& grid, unsigned threads,
                          GridPath forced = GridPath::automatic, double* work = nullptr);

// Calls whose estimated work is below this many nanoseconds run on the
// calling thread alone when the caller leaves the number of threads to the
// engine: waking the pool's threads costs more CPU time than they save.
inline constexpr double kSmallCallWork = 3e6;

// Runs body(item, worker) for item = 0 .. count-1 on up to `threads` threads
// (0: every core) of the process's pool, the calling thread being worker 0;
// fewer where no more threads can be started.  An exception in any of them
// reaches the caller once all have stopped.  The calling thread passes
// `point` (when given and not empty) about every 50 ms.
void parallel_run(std::size_t count, unsigned threads, const std::function<void()>* point,
                  const std::function<void(std::size_t, unsigned)>& body);

// How many workers parallel_run(count, threads, ...) takes at most: its
// workers are numbered below this.
unsigned parallel_workers(std::size_t count, unsigned threads);

// A local maximum of rho to refine: between the grid neighbours lo and hi,
// the search starting from `start`.
struct PeakBracket {
    double lo = 0.0, start = 0.0, hi = 0.0;
};

// The frequency of each bracket where the derivative of rho vanishes at a
// maximum, by Newton's method on the analytic derivative (peak_refine.cpp),
// on `threads` threads; NaN where the fit is too near singular there for
// that, or the search does not settle.
std::vector<double> refine_maxima(const Prepared& series, std::span<const PeakBracket> brackets,
                                  unsigned threads);

// FFTW's planner is not thread-safe (executing a plan is): every plan is
// made and destroyed under this lock.
std::mutex& fftw_planner_lock();

// Powers of ten 10^(k + kPowerLow) for k = 0 .. 600, as std::pow gives them.
inline constexpr int kPowerLow = -300;
extern const std::array<double, 601> kPowersOfTen;

// One over the unit of the eighth significant digit of a,
// 1e-290 < a < 1e290: its decade from the binary exponent, corrected by
// comparison with the powers (an exact decade is not needed: a wrong one
// fails the quick test of settled()).
inline double digit_scale(double a) {
    // The binary exponent of a normal number from its bits; floor of a
    // negative product by truncation and correction.
    const int e2 = static_cast<int>((std::bit_cast<std::uint64_t>(a) >> 52) & 0x7ff) - 1023;
    const double l10 = e2 * 0.30102999566398120;
    int d = static_cast<int>(l10);
    if (d > l10) --d;
    if (a >= kPowersOfTen[static_cast<std::size_t>(d + 1 - kPowerLow)]) ++d;
    if (a < kPowersOfTen[static_cast<std::size_t>(d - kPowerLow)]) --d;
    return kPowersOfTen[static_cast<std::size_t>(7 - d - kPowerLow)];
}

// Whether value - margin and value + margin print the same eight digits.
bool settled_by_printing(double value, double margin);

// Whether the eight-digit rounding of value is the same for every number
// within err of it, so that the same digits are printed whichever way they
// were computed.  Most values are decided by a quick look at where the
// value falls between two boundaries (inline: four a frequency); the rest
// by printing both ends.
inline bool settled(double value, double err) {
    if (!std::isfinite(value) || !(err >= 0.0) || !std::isfinite(err)) return false;
    const double a = std::fabs(value);
    if (a == 0.0) return err == 0.0;
    const double margin = err + 4.0 * std::numeric_limits<double>::epsilon() * a;
    if (a > 1e-290 && a < 1e290) {
        // The scaled values are good to a few units of 1e-16, far inside the
        // slack.
        const double scale = digit_scale(a);
        const double scaled = a * scale; // about 1e7 .. 1e8: digits and a fraction
        const double slack = margin * scale + 1e-6;
        const double frac = scaled - static_cast<double>(static_cast<std::int64_t>(scaled));
        if (scaled - slack > 1.0000001e7 && scaled + slack < 9.9999999e7 &&
            std::fabs(frac - 0.5) > slack)
            return true;
    }
    return settled_by_printing(value, margin);
}

} // namespace fasogram::detail

namespace fasogram {

struct SpectrumEngine::Impl {
    Window window = Window::hanning;
    EngineOptions options;
    double span = 0.0;
    detail::Prepared series;
    // The series with double-double weights, made by the first run that asks
    // for every digit.
    std::once_flag exact_once;
    std::unique_ptr<detail::Prepared> exact;
};

} // namespace fasogram
