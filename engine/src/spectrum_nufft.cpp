// The evaluation of whole blocks of a uniform grid by non-uniform fast
// Fourier transforms, for grids too large for the direct sums.
//
// A block is a run of grid frequencies f_j = f_c + m df + delta_m around the
// grid frequency f_c at its middle, m = -B/2 .. B/2 - 1; delta_m is what the
// rounding of f_j adds to the exact progression (a few units in the last
// place of f_j, computed exactly).  With r_i and x_i the fractional parts of
// f_c t_i and df t_i (both exact, whatever the size of t_i),
//     e^{2 pi i f_j t_i} = e^{2 pi i r_i} e^{2 pi i m x_i} e^{2 pi i delta_m t_i}.
// The first factor goes into the weights, the second makes a type-1
// non-uniform transform (positions x_i, modes m), and the third is
// e^{2 pi i delta_m t_c} (t_c the middle of the times) times
// 1 + 2 pi i delta_m u_i plus a second order far below the rounding, with
// u_i = t_i - t_c: the first-order term is one more transform, of the weights
// times u_i.  The sums at 2 f_j (for cos^2, cos sin and sin^2) are the same
// with f_c, df and delta_m doubled.  Six transforms per block in all:
// h, h y, h u, h y u at f and h, h u at 2 f.
//
// On fine grids the sums times u_i (the slopes) come from the modes of h,
// h y and h at 2f instead, three transforms a block: turned back by
// e^{-2 pi i m t_c df}, mode m + k is sum c_i e^{i k theta_i} times the
// mode's own phases, theta_i = 2 pi df u_i, and a difference stencil (see
// nufft_stencil_table.inc) turns the modes either side into i theta's sum
// within its bound, for every |theta| up to its reach (stencil_for).
//
// Each transform spreads its weights onto n = 2B cells with the exponential
// of semicircle kernel phi(z) = exp(beta (sqrt(1 - z^2) - 1)), |z| < 1, over
// w = 20 cells, takes the FFT and divides mode m by the kernel's Fourier
// transform Phi(m/n).  The kernel's position within its cells is taken from
// the exact fractional part, so a position is good to a unit of 2^-53 of a
// cell rather than of the whole period.
//
// Error bound of mode m of a transform with weights c_i:
//   - the kernel's aliasing, eps(m/n) sum |c_i|: the largest over the offset
//     within a cell of |Phi(nu)^-1 sum_cells phi e^{2 pi i nu s} - 1|,
//     computed once in long double on a fine grid of nu and offsets (about
//     1e-18);
//   - rounding (phase factors, kernel values, spreading, FFT) as
//     independent errors from point to point and cell to cell, the way the
//     direct sums bound theirs: lambda sqrt(sum of squares) with lambda = 6,
//     amplified by |1/Phi| (0.27 in the middle of the block, 3.9 at its
//     ends); the sums of squares are computed once per grid;
//   - what of the rounding is common to every point (points sharing their
//     offsets and phases, as whole-day series do), relative to the result
//     (common_units);
//   - where places on the cells recur dozens of times, the points added up
//     by cell first, each place's share as one point's, or where even that
//     recurs the additions onto the cells in full (Placed);
//   - the deconvolution, a few units of the result.
// This is a model of the roundings, not a worst case: the worst case adds
// the points' errors up in full, about sqrt(N) times wider, and would
// settle few digits of long series.
// The first-order term adds its own bound (or the stencil's, slope_error)
// times 2 pi |delta_m|, the second order (2 pi delta_m u)^2/2 sum |c_i|.
#include "nufft_kernel.hpp"
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"
#include "spectrum_solve_batch.hpp"
#include "target_region.hpp"
#include "thread_pool.hpp"

#include <fftw3.h>
#include <pthread.h>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace fasogram::detail {

std::mutex& fftw_planner_lock() {
    static std::mutex m;
    return m;
}

namespace {

constexpr int kWidth = kKernelWidth;      // cells per point
constexpr double kBeta = kKernelBeta;     // kernel shape
constexpr int kTransforms = 6;            // h, hy, hu, hyu at f; h, hu at 2f
constexpr std::size_t kMaxBlock = 131072; // grid frequencies per transform
constexpr std::size_t kMinBlock = 512;
// Points that follow each other and start within kSlack cells of the
// group's first (the points of one night, on a grid of fine steps) are
// added up exactly onto cells of their own first, at most kGroup of them,
// and their sums then rounded once and added to the transform's cells: a
// cell that hundreds of points reach adds a few groups' sums instead of
// every point's, on grids of more than one block (see PlaceWork).
constexpr std::size_t kSlack = 4;
constexpr std::size_t kGroup = 256;
constexpr std::size_t kPad = kWidth + kSlack; // cells past the last
std::size_t group_limit = kGroup;             // (nufft_group_limit)
// Kernel tables are kept for every point unless they would take more.
constexpr std::size_t kTableBytes = std::size_t{256} << 20;

constexpr double kUnit = std::numeric_limits<double>::epsilon() / 2;
constexpr double kLongUnit = std::numeric_limits<long double>::epsilon() / 2;
constexpr double kLambda = 6.0;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPiHi = 6.283185307179586;
constexpr double kTwoPiLo = 2.4492935982947064e-16;

// Rounding of each transform's weights in units of kUnit: the phase factor
// (reduced phase, cosine and sine: 4, squared for 2f: 11), the products with
// h, y and u, and the position within its cell (2 pi |m|/n times a unit of
// the offset, at most 1.6).  The FFT adds about kFftRounding units of the
// norm of its input per level.
constexpr std::array<double, kTransforms> kWeightRounding{7, 9, 10, 11, 14, 15};
constexpr double kFftRounding = 2.0;

long double kernel_long(long double z) {
    const long double q = (1.0L - z) * (1.0L + z);
    if (!(q > 0.0L)) return 0.0L;
    return std::exp(-static_cast<long double>(kBeta) * (z * z) / (1.0L + std::sqrt(q)));
}

// Distance of cell j (0 .. w-1) from a point at offset a in [0, 1) past the
// cell before the first.
inline double cell_distance(int j, double a) {
    return static_cast<double>(j - kWidth / 2 + 1) - a;
}

#if defined(__GNUC__)
#define FASOGRAM_SPREAD_INLINE inline __attribute__((always_inline))
#else
#define FASOGRAM_SPREAD_INLINE inline
#endif

// The rounding allowance of each cell's value by Horner's rule, in units of
// 2^-53 (absolute), with fused multiply-adds or without: step k rounds its
// result q_k (and, unfused, its product q_{k+1} x), within a unit of it,
// and the steps after it multiply that by x^k; |q_k| is at most the sum of
// |a_i| |x|^(i-k) over i >= k, so that coefficient i is counted min(i + 1,
// d) times (and i times more unfused), |x| being at most 1/2.  The low
// parts' sum (within a unit of itself, some 2^-53 of the value) and its
// addition to the value (a unit of the value: once more each coefficient)
// add their own.  A margin for the second order.
struct RowAllowance {
    double fused[kWidth], any[kWidth];
};
const RowAllowance& row_allowances() {
    static const RowAllowance a = [] {
        RowAllowance r{};
        constexpr int d = kKernelDegree;
        for (int j = 0; j < kWidth; ++j) {
            const double low = std::fabs(kKernelCoefLow[0][j]) + std::fabs(kKernelCoefLow[1][j]);
            double f = low, u = 2 * low;
            for (int i = 0; i <= d; ++i) {
                const double term = std::fabs(kKernelCoef[i][j]) * std::ldexp(1.0, -i);
                f += (std::min(i + 1, d) + 1) * term;
                u += (std::min(i + 1, d) + 1 + i) * term;
            }
            r.fused[j] = f * (1 + 1e-12);
            r.any[j] = u * (1 + 1e-12);
        }
        return r;
    }();
    return a;
}
const double* row_allowance(bool fused) {
    return fused ? row_allowances().fused : row_allowances().any;
}

// Two lanes, the vectors every processor has; the multiply-adds may or may
// not be fused.
namespace row_plain {
using V = double __attribute__((vector_size(16)));
struct Ops {
    static constexpr bool fused = false;
    static FASOGRAM_SPREAD_INLINE V fma(V a, V b, V c) { return a * b + c; }
};
#include "nufft_kernel_row.inc"
} // namespace row_plain

#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_NUFFT_ROW_AVX2 1
FASOGRAM_TARGET_BEGIN("avx2,fma")
namespace row_avx2 {
using V = double __attribute__((vector_size(32)));
struct Ops {
    static constexpr bool fused = true;
    static FASOGRAM_SPREAD_INLINE V fma(V a, V b, V c) {
        return (V)_mm256_fmadd_pd((__m256d)a, (__m256d)b, (__m256d)c);
    }
};
#include "nufft_kernel_row.inc"
} // namespace row_avx2
FASOGRAM_TARGET_END
#endif

// Which target's rows the code of a target takes.
struct PlainRows {
    static FASOGRAM_SPREAD_INLINE void row(double x, double* v) { row_plain::row(x, v); }
    static const double* allowance() { return row_allowance(row_plain::Ops::fused); }
};
#ifdef FASOGRAM_NUFFT_ROW_AVX2
struct Avx2Rows {
    static FASOGRAM_SPREAD_INLINE void row(double x, double* v) { row_avx2::row(x, v); }
    static const double* allowance() { return row_allowance(row_avx2::Ops::fused); }
};
#endif

// Gauss-Legendre nodes and weights on [-1, 1] in long double.
void gauss_legendre(int q, std::vector<long double>& x, std::vector<long double>& wt) {
    const long double pi = 3.141592653589793238462643383279502884L;
    x.resize(static_cast<std::size_t>(q));
    wt.resize(static_cast<std::size_t>(q));
    for (int i = 0; i < q; ++i) {
        long double z = std::cos(pi * (i + 0.75L) / (q + 0.5L)), dp = 1;
        // Newton's method from this start converges in a handful of steps.
        for (int it = 0; it < 8; ++it) {
            long double p0 = 1, p1 = z;
            for (int k = 2; k <= q; ++k) {
                const long double p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
                p0 = p1;
                p1 = p2;
            }
            dp = q * (z * p1 - p0) / (z * z - 1);
            z -= p1 / dp;
        }
        x[static_cast<std::size_t>(i)] = z;
        wt[static_cast<std::size_t>(i)] = 2 / ((1 - z * z) * dp * dp);
    }
}

// What is computed once for the kernel: 1/Phi(nu) on 0 <= nu <= 1/4 as a
// Chebyshev series in 32 nu^2 - 1, and the aliasing bound eps on a grid of nu
// up to a little past 1/4 (the difference stencils read kStencilTerms modes
// past the block's last, n/4 + kStencilTerms of n >= kStencilCells).
constexpr int kCheb = 40;
constexpr int kEpsSteps = 256; // eps at nu = i/(4 kEpsSteps)
constexpr int kEpsPast = 18;   // steps past nu = 1/4
constexpr std::size_t kStencilCells = 1024;
static_assert(4.0 * kEpsSteps * kStencilTerms / kStencilCells + 2 <= kEpsPast);
constexpr int kOffsets = 64;

struct KernelConstants {
    std::array<long double, kCheb> cheb{};
    std::array<double, kEpsSteps + kEpsPast + 1> eps{};
    // The rounding of a row's values and of their products with a weight,
    // in units of kUnit of the row's sum (common_units): the cells'
    // allowances over the least sum of a row (which varies with the offset
    // by the aliasing alone, some 1e-18 of itself, hence the margin), and
    // one for the product.
    double common_kernel = 0.0;

    long double inverse_ft(long double nu) const {
        const long double x = 32 * nu * nu - 1;
        long double b1 = 0, b2 = 0;
        for (int l = kCheb - 1; l >= 1; --l) {
            const long double b0 = cheb[static_cast<std::size_t>(l)] + 2 * x * b1 - b2;
            b2 = b1;
            b1 = b0;
        }
        return cheb[0] / 2 + x * b1 - b2;
    }
};

// Phi(nu) = (w/2) integral over [-1, 1] of phi(z) cos(pi w nu z), by
// Gauss-Legendre quadrature in long double.
long double kernel_ft(long double nu) {
    static const auto nodes = [] {
        std::pair<std::vector<long double>, std::vector<long double>> q;
        gauss_legendre(128, q.first, q.second);
        return q;
    }();
    const long double pi = 3.141592653589793238462643383279502884L;
    long double sum = 0;
    for (std::size_t q = 0; q < nodes.first.size(); ++q)
        sum += nodes.second[q] * kernel_long(nodes.first[q]) *
               std::cos(pi * kWidth * nu * nodes.first[q]);
    return sum * (kWidth / 2.0L);
}

KernelConstants make_constants() {
    KernelConstants c;
    const long double pi = 3.141592653589793238462643383279502884L;
    std::array<long double, kCheb> values{};
    for (int m = 0; m < kCheb; ++m) {
        const long double xm = std::cos(pi * (m + 0.5L) / kCheb);
        values[static_cast<std::size_t>(m)] = 1 / kernel_ft(std::sqrt((xm + 1) / 32));
    }
    for (int l = 0; l < kCheb; ++l) {
        long double s = 0;
        for (int m = 0; m < kCheb; ++m)
            s += values[static_cast<std::size_t>(m)] * std::cos(pi * l * (m + 0.5L) / kCheb);
        c.cheb[static_cast<std::size_t>(l)] = 2 * s / kCheb;
    }
    // The aliasing error of the kernel itself; the rounding of its values is
    // bounded with the other roundings.
    std::array<std::array<long double, kWidth>, kOffsets> values_at{};
    for (int k = 0; k < kOffsets; ++k)
        for (int j = 0; j < kWidth; ++j)
            values_at[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)] =
                kernel_long(cell_distance(j, static_cast<double>(k) / kOffsets) / (kWidth / 2.0L));
    long double least = std::numeric_limits<long double>::max();
    for (const auto& row : values_at) {
        long double sum = 0;
        for (long double v : row) sum += v;
        least = std::min(least, sum);
    }
    double allowed = 0;
    for (int j = 0; j < kWidth; ++j) allowed += row_allowance(false)[j];
    c.common_kernel = allowed / static_cast<double>(least) * (1 + 1e-6) + 1.0;
    for (int i = 0; i <= kEpsSteps + kEpsPast; ++i) {
        const long double nu = i / (4.0L * kEpsSteps);
        const long double inv = i <= kEpsSteps ? c.inverse_ft(nu) : 1 / kernel_ft(nu);
        long double worst = 0;
        // e^{2 pi i nu s} from cell to cell by a turn of e^{2 pi i nu}, and
        // from offset to offset by one of e^{-2 pi i nu/kOffsets}.
        const long double tc = std::cos(2 * pi * nu), ts = std::sin(2 * pi * nu);
        const long double oc = std::cos(2 * pi * nu / kOffsets),
                          os = -std::sin(2 * pi * nu / kOffsets);
        const long double s0 = cell_distance(0, 0.0);
        long double start_c = std::cos(2 * pi * nu * s0), start_s = std::sin(2 * pi * nu * s0);
        for (int k = 0; k < kOffsets; ++k) {
            long double ec = start_c, es = start_s;
            const long double next_start = start_c * oc - start_s * os;
            start_s = start_s * oc + start_c * os;
            start_c = next_start;
            long double re = 0, im = 0;
            for (int j = 0; j < kWidth; ++j) {
                const long double v =
                    values_at[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)];
                re += v * ec;
                im += v * es;
                const long double next = ec * tc - es * ts;
                es = es * tc + ec * ts;
                ec = next;
            }
            const long double dr = re * inv - 1, di = im * inv;
            worst = std::max(worst, std::sqrt(dr * dr + di * di));
        }
        c.eps[static_cast<std::size_t>(i)] = static_cast<double>(worst);
    }
    return c;
}

const KernelConstants& constants() {
    static const KernelConstants c = make_constants();
    return c;
}

std::mutex& planner_lock() {
    return fftw_planner_lock();
}

// The widest rows the processor runs, or the plain ones where `most` is 2,
// and their rounding allowance.
struct RowFunction {
    void (*row)(double, double*) = row_plain::row;
    const double* (*allowance)() = PlainRows::allowance;
};
RowFunction pick_row_function(unsigned most = 4) {
#ifdef FASOGRAM_NUFFT_ROW_AVX2
    if (most >= 4 && cpu_has_avx2_fma()) return {row_avx2::row, Avx2Rows::allowance};
#endif
    return {};
}

RowFunction kRow = pick_row_function();

} // namespace

void kernel_row(double x, double* v, double* err) {
    if (!(x >= -0.5 && x < 0.5)) throw std::invalid_argument("kernel_row: x outside [-1/2, 1/2)");
    kRow.row(x, v);
    std::memcpy(err, kRow.allowance(), kWidth * sizeof(double));
}

double kernel_approximation_bound() {
    return kKernelApproximation;
}

namespace {

// The buffers are the engine's own, aligned as FFTW wants them: FFTW's
// allocator aborts the process when memory runs out, ours raises
// std::bad_alloc.
struct AlignedFree {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<double[], AlignedFree>;

Buffer complex_buffer(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / (2 * sizeof(double)) - 64)
        throw std::bad_alloc();
    void* p = nullptr;
    if (::posix_memalign(&p, 64, 2 * n * sizeof(double)) != 0 || p == nullptr)
        throw std::bad_alloc();
    return Buffer(static_cast<double*>(p));
}

// FFTW's planner and some of its transforms allocate with FFTW's own
// allocator, which aborts the process on failure: the room they may need (a
// few times the transform) is asked for first, and given back, so that a
// shortage is std::bad_alloc here instead.
void probe_room_for_fftw(std::size_t n) {
    const Buffer room = complex_buffer(4 * n);
}

// Kernel tables of `doubles` values, from those earlier calls gave back
// (their pages are not faulted in again on every call), and back.
Buffer take_table(std::size_t doubles);
void give_table(Buffer table, std::size_t doubles);

// The points' places on the cells for one transform step (df or 2 df).
struct Positions {
    RecycledVector<std::uint32_t> cell; // first of the w cells
    RecycledVector<double> offset;      // the point's offset within its cell less 1/2
    Buffer table;                       // kernel values, w per point (or none)
    // Where the points are spread in groups: the first point of each
    // group, and the number of points as the last entry (else empty).
    std::vector<std::uint32_t> group;
    // The points in the order they are placed, where it is not theirs (the
    // groups' entries are places in it).
    std::vector<std::uint32_t> order;
    // The most additions any term of a cell's sum passes through.
    std::size_t chain = 0;
    std::size_t table_size = 0;
    Positions() = default;
    Positions(const Positions&) = delete;
    Positions& operator=(const Positions&) = delete;
    ~Positions() {
        if (table) give_table(std::move(table), table_size);
    }
};

// Places the points for the transforms of one step, whose weights have
// moduli mod[k] and gamma[k] units of rounding, and returns the sums of
// squares of their roundings in units of kUnit^2: each point's weight,
// kernel values and their product, the accumulation of each cell and the
// FFT (its input's norm is at most that of the sums of the moduli reaching
// each cell).  Each addition onto a cell rounds within the sum of the
// moduli that have reached the cell so far, the points being spread in the
// order they are placed (and the one that folds the cells past the last
// onto the first ones within the cell's whole sum): with `running`, the
// squares of those running sums are added up, about a third of what
// allowing each addition the whole sum does on cells that hundreds of
// points reach, but a dependent sum more per cell and weight.  Worth it
// where a grid has more than one block: the frequencies a wider bound
// leaves unsettled cost more than it does.  There the points are also
// placed in groups (kGroup), which the spreading follows: a group's sums
// are added up exactly (a two-sum each, the errors carried), rounded once
// (within 1.01 units of themselves: the carried errors' own roundings are
// below 256 u of a unit) and added onto the cells within their running
// sums, as a point's weight is.  Those roundings are of the groups' sums,
// each relative to itself, so that groups of the same points (nights of
// repeated measurements) round alike relative to their terms, which the
// share common to every point counts; the additions within a group,
// rounded, would not (they round relative to the group's running sums, in
// every group alike, and the FFT adds them up past the bound).
template <std::size_t K> struct PlaceWork {
    std::span<const double> t;
    double step = 0;
    std::size_t n = 0;
    bool keep_table = false;
    bool running = false; // the additions' allowance from the running sums
    // The order the points are placed and spread in (null: as they come),
    // the points by cell where places recur (see Placed).
    const std::vector<std::uint32_t>* order = nullptr;
    std::array<const double*, K> mod{}; // one modulus a point
    std::array<double, K> gamma{};
    Positions* out = nullptr;
};

// What the rounding bound needs of each cell: the sum of the moduli of the
// weights spread onto it (K of them, side by side), the sum of the squares
// of those running sums after each addition (where they are tracked), and
// how many points reach it.  Kept on each thread from call to call, and all
// zero between calls: a call clears the cells it touched, so that series of few
// points on large grids cost in proportion to their points rather than to
// the cells (and fault no new pages in on every call).  At most 8 n doubles
// and n counts a thread, n at most twice the largest block.
struct CellTally {
    std::vector<double> sums, squares;
    std::vector<std::uint32_t> count;
};

CellTally& cell_tally(std::size_t n, std::size_t k, bool running) {
    thread_local CellTally tally;
    // New elements are zero, and so are the old ones between calls.
    if (tally.count.size() < n) tally.count.resize(n);
    if (tally.sums.size() < k * n) tally.sums.resize(k * n);
    if (running && tally.squares.size() < k * n) tally.squares.resize(k * n);
    return tally;
}

// The K sums of a cell as one vector.  (Spelled out for each K: a vector
// size that depends on a template parameter is not taken by every
// compiler.)
template <std::size_t K> struct CellLanes;
template <> struct CellLanes<1> { using type = double __attribute__((vector_size(8))); };
template <> struct CellLanes<2> { using type = double __attribute__((vector_size(16))); };
template <> struct CellLanes<4> { using type = double __attribute__((vector_size(32))); };

// What place_body finds of the roundings of one set of positions: the sums
// of squares of the independent model (units of kUnit^2) and, where the
// additions onto the cells recur, those additions in full (units of kUnit).
//
// Where the same place (cell and offset, to 2^-48 of a cell: a few units of
// the offset's last place) recurs -- whole days on a grid whose period 1/df
// is a small part of their span, or many measurements at one time -- every
// cell adds the same terms over and over, its sum drifts one way, and cells
// of the same terms drift alike: the running sums' squares do not cover
// that once a place recurs more than lambda^2 times on average (the points'
// squared counts by place, over the points; a term repeated k times errs by
// k units where the model allows lambda sqrt(k)).  Such a set is placed
// again by cell (by_cell), in groups whatever the grid: a group's sums are
// added up exactly and rounded once, so that a cell adds a few sums of each
// place instead of each of its points, and the points' share adds up the
// squares of each place's sums of moduli (they share their kernel values'
// roundings and, with equal weights, the products').  Where the groups'
// sums still recur that often (thousands of points a place, or a limit of
// one point to a group), the additions onto the cells and the groups'
// roundings are each taken within the cell's whole sum of moduli and added
// up in full (`drift`).
template <std::size_t K> struct Placed {
    std::array<double, K> squares{}, drift{};
    bool recurring = false; // places recur: the set is placed again
};

// The results of a set of fewer transforms as those of K (the rest zero).
template <std::size_t K, std::size_t L> Placed<K> widened(const Placed<L>& p) {
    static_assert(L <= K);
    Placed<K> out;
    std::copy(p.squares.begin(), p.squares.end(), out.squares.begin());
    std::copy(p.drift.begin(), p.drift.end(), out.drift.begin());
    out.recurring = p.recurring;
    return out;
}

// Places seen, direct-mapped: a place's offset bucket (plus 1, 0 for none)
// and cell, and how many points reached it, of every kSeenStride-th point
// (places that recur dozens of times on average recur among those too).
// Only where their pairs come near the threshold are the places counted
// (PositionCounts).  Kept on each thread.
constexpr std::size_t kSeenStride = 7;
struct SeenPlaces {
    std::vector<std::uint64_t> key;
    std::vector<std::uint32_t> cell, count;
    unsigned bits = 0;
};

SeenPlaces& seen_places(std::size_t points) {
    thread_local SeenPlaces seen;
    unsigned bits = 6;
    while (bits < 16 && (std::size_t{1} << bits) < 2 * points) ++bits;
    const std::size_t size = std::size_t{1} << bits;
    if (seen.key.size() < size) {
        seen.key.resize(size);
        seen.cell.resize(size);
        seen.count.resize(size);
    }
    std::fill_n(seen.key.begin(), size, 0);
    seen.bits = bits;
    return seen;
}

inline std::uint64_t offset_bucket(double x) {
    return static_cast<std::uint64_t>((x + 0.5) * 0x1p48);
}

// Every bit of a key into every bit of its hash (the offsets of structured
// times are multiples of a power of two: their low bits are all zero).
inline std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

inline std::uint64_t place_hash(std::uint64_t bucket, std::uint32_t cell) {
    return mix(bucket ^ (std::uint64_t{cell} << 48));
}

// How many points take each position (offset bucket and cell), the sums
// of their weights' moduli (K of them) and an offset of theirs: an
// open-addressing table, grown as it fills.
template <std::size_t K> class PositionCounts {
  public:
    struct Slot {
        std::uint64_t bucket = 0;
        std::uint32_t cell = 0, count = 0; // count 0: empty
        double offset = 0;
        std::array<double, K> sum{};
    };
    void add(double offset, std::uint32_t cell, const std::array<double, K>& mod) {
        if (2 * (used_ + 1) > slots_.size()) grow();
        const std::uint64_t bucket = offset_bucket(offset);
        Slot& s = find(slots_, bucket, cell);
        if (s.count == 0) {
            s.bucket = bucket;
            s.cell = cell;
            s.offset = offset;
            ++used_;
        }
        ++s.count;
        for (std::size_t k = 0; k < K; ++k) s.sum[k] += mod[k];
    }
    // The sum of the squared counts.
    double squares() const {
        double sum = 0;
        for (const Slot& s : slots_) sum += static_cast<double>(s.count) * s.count;
        return sum;
    }
    const std::vector<Slot>& slots() const { return slots_; }

  private:
    static Slot& find(std::vector<Slot>& slots, std::uint64_t bucket, std::uint32_t cell) {
        const std::size_t mask = slots.size() - 1;
        std::size_t i = place_hash(bucket, cell) & mask;
        while (slots[i].count != 0 && (slots[i].bucket != bucket || slots[i].cell != cell))
            i = (i + 1) & mask;
        return slots[i];
    }
    void grow() {
        std::vector<Slot> bigger(std::max<std::size_t>(1024, 2 * slots_.size()));
        for (const Slot& s : slots_)
            if (s.count != 0) find(bigger, s.bucket, s.cell) = s;
        slots_.swap(bigger);
    }
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

// The points by their first cell (n cells), in their order within a cell.
std::vector<std::uint32_t> by_cell(std::span<const std::uint32_t> cell, std::size_t n) {
    std::vector<std::uint32_t> start(n + 1, 0);
    for (const std::uint32_t c : cell) ++start[c + 1];
    for (std::size_t j = 0; j < n; ++j) start[j + 1] += start[j];
    std::vector<std::uint32_t> order(cell.size());
    for (std::size_t i = 0; i < cell.size(); ++i)
        order[start[cell[i]]++] = static_cast<std::uint32_t>(i);
    return order;
}

template <std::size_t K, class Rows, bool Running, bool Again = false>
FASOGRAM_SPREAD_INLINE Placed<K> place_body(const PlaceWork<K>& w) {
    Positions& ps = *w.out;
    const std::span<const double> t = w.t;
    const std::size_t np = t.size(), n = w.n;
    // Again: placed a second time, in w.order and in groups, the cells,
    // offsets and kernel values those of the first time.
    static_assert(Running || !Again);
    ps.cell.resize(np);
    ps.offset.resize(np);
    ps.group.clear();
    if (w.keep_table && !Again) {
        ps.table_size = np * kWidth;
        ps.table = take_table(ps.table_size);
    }
    CellTally& tally = cell_tally(n, K, Running);
    double* const sums = tally.sums.data();
    double* const squares = tally.squares.data();
    std::uint32_t* const count = tally.count.data();
    std::array<double, K> point{};
    const double nd = static_cast<double>(n);
    const auto ni = static_cast<std::int64_t>(n);
    alignas(32) double v[kWidth];
    const double* const err = Rows::allowance();
    using V4 = double __attribute__((vector_size(32)));
    static_assert(kWidth % 4 == 0);
    double ee = 0;
    for (std::size_t j = 0; j < kWidth; ++j) ee += err[j] * err[j];
    // (the places are checked on the first placing only)
    SeenPlaces& seen = seen_places(Again ? 0 : np / kSeenStride + 1);
    std::uint64_t* const seen_key = seen.key.data();
    std::uint32_t* const seen_cell = seen.cell.data();
    std::uint32_t* const seen_count = seen.count.data();
    const unsigned seen_shift = 64 - seen.bits;
    std::uint64_t pairs = 0;
    std::size_t until_seen = 1;
    // The group being placed (with the running sums): its first cell, its
    // points, how far past the first cell they start and its sums by cell
    // (zero between groups).
    double local[kPad * K] = {};
    std::array<double, K> grouped{}, grouped_full{};
    std::size_t base = 0, members = 0, reach = 0;
    bool any_group = false; // of more than one point
    auto add_group = [&] {
        for (std::size_t o = 0; o < reach + kWidth; ++o) {
            const std::size_t at = base + o < n ? base + o : base + o - n;
            ++count[at];
            for (std::size_t k = 0; k < K; ++k) {
                const double l = local[K * o + k];
                // (a point alone is added onto the cells directly)
                if (members > 1) {
                    grouped[k] += 1.01 * 1.01 * l * l;
                    grouped_full[k] += 1.01 * l;
                }
                const double r = sums[K * at + k] + l;
                sums[K * at + k] = r;
                squares[K * at + k] += r * r;
                local[K * o + k] = 0.0;
            }
        }
        any_group = any_group || members > 1;
    };
    const std::uint32_t* const order = Again ? w.order->data() : nullptr;
    for (std::size_t placed = 0; placed < np; ++placed) {
        const std::size_t i = Again ? order[placed] : placed;
        double x;
        std::size_t cell;
        if constexpr (Again) {
            x = ps.offset[i];
            cell = ps.cell[i];
            if (w.keep_table)
                std::memcpy(v, &ps.table[i * kWidth], sizeof v);
            else
                Rows::row(x, v);
        } else {
            const dd::DD r = dd::cycles(t[i], w.step);
            const dd::DD p = dd::two_prod(nd, r.hi); // exact: n r = p.hi + p.lo + n r.lo
            double g = std::floor(p.hi);
            // p.hi - g is exact, and so is its difference from 1/2 unless
            // p.hi is below 1: one rounding, or two within a unit of 2^-53
            // together.
            x = ((p.hi - g) - 0.5) + (p.lo + nd * r.lo);
            if (x < -0.5) {
                x += 1.0;
                g -= 1.0;
            }
            if (x >= 0.5) {
                x -= 1.0;
                g += 1.0;
            }
            if (x < -0.5) x = -0.5;
            std::int64_t first = static_cast<std::int64_t>(g) - kWidth / 2 + 1;
            if (first < 0 || first >= ni) first = (first % ni + ni) % ni;
            cell = static_cast<std::size_t>(first);
            ps.cell[i] = static_cast<std::uint32_t>(first);
            ps.offset[i] = x;
            Rows::row(x, v);
            if (w.keep_table) std::memcpy(&ps.table[i * kWidth], v, sizeof v);
        }
        // Each weight's roundings and the product's, and the kernel
        // values': sum_j (g v_j + err_j)^2 = g^2 sum v^2 + 2 g sum v err +
        // sum err^2 (in four partial sums each).
        V4 vv4 = {}, ve4 = {};
        for (std::size_t j = 0; j < kWidth; j += 4) {
            V4 vj, ej;
            std::memcpy(&vj, v + j, sizeof vj);
            std::memcpy(&ej, err + j, sizeof ej);
            vv4 += vj * vj;
            ve4 += vj * ej;
        }
        const double vv = (vv4[0] + vv4[1]) + (vv4[2] + vv4[3]);
        const double ve = (ve4[0] + ve4[1]) + (ve4[2] + ve4[3]);
        alignas(32) double c[K];
        for (std::size_t k = 0; k < K; ++k) {
            c[k] = w.mod[k][i];
            const double g = w.gamma[k] + 1.0;
            point[k] += c[k] * c[k] * (g * g * vv + 2 * g * ve + ee);
        }
        if (!Again && --until_seen == 0) {
            until_seen = kSeenStride;
            const std::uint64_t bucket = offset_bucket(x);
            const auto c = static_cast<std::uint32_t>(cell);
            const std::size_t at = place_hash(bucket, c) >> seen_shift;
            if (seen_key[at] == bucket + 1 && seen_cell[at] == c) {
                pairs += seen_count[at]++;
            } else {
                seen_key[at] = bucket + 1;
                seen_cell[at] = c;
                seen_count[at] = 1;
            }
        }
        std::size_t ahead = 0;
        if constexpr (Running) {
            ahead = cell >= base ? cell - base : cell + n - base;
            if (members == 0 || members >= group_limit || ahead > kSlack) {
                if (members != 0) add_group();
                ps.group.push_back(static_cast<std::uint32_t>(placed));
                base = cell;
                members = reach = ahead = 0;
            }
            ++members;
            reach = std::max(reach, ahead);
        }
        // The moduli onto the cells, the K of a cell side by side.
        using VK = typename CellLanes<K>::type;
        static_assert(sizeof(VK) == K * sizeof(double));
        VK ck;
        std::memcpy(&ck, c, sizeof ck);
        for (std::size_t j = 0; j < kWidth; ++j) {
            // The cells past the last are the first ones again.
            const std::size_t at = cell + j < n ? cell + j : cell + j - n;
            if constexpr (!Running) ++count[at];
            double* const to = Running ? local + K * (ahead + j) : sums + K * at;
            VK sum;
            std::memcpy(&sum, to, sizeof sum);
            sum += ck * v[j];
            std::memcpy(to, &sum, sizeof sum);
        }
    }
    if constexpr (Running) {
        if (members != 0) add_group();
        ps.group.push_back(static_cast<std::uint32_t>(np));
    }
    // Each cell's accumulation and its share of the FFT's input norm, read
    // and cleared: by the points where they reach fewer places than there
    // are cells, else cell by cell.  (A group's cells are those its points
    // reach.)
    std::array<double, K> acc{}, norm{}, acc_full{};
    std::uint32_t most = 0;
    auto take = [&](std::size_t at) {
        most = std::max(most, count[at]);
        const auto times = static_cast<double>(count[at]);
        count[at] = 0;
        for (std::size_t k = 0; k < K; ++k) {
            const double s = sums[K * at + k];
            sums[K * at + k] = 0.0;
            // Every addition within the cell's whole sum (one more for
            // the fold of the cells past the last).
            acc_full[k] += times * s;
            if constexpr (Running) {
                acc[k] += squares[K * at + k] + s * s;
                squares[K * at + k] = 0.0;
            } else {
                acc[k] += times * s * s;
            }
            norm[k] += s * s;
        }
    };
    if (np * kWidth < n) {
        for (std::size_t i = 0; i < np; ++i)
            for (std::size_t j = 0, cell = ps.cell[i]; j < kWidth; ++j) {
                const std::size_t at = cell + j < n ? cell + j : cell + j - n;
                if (count[at] != 0) take(at);
            }
    } else {
        for (std::size_t at = 0; at < n; ++at)
            if (count[at] != 0) take(at);
    }
    // A term passes through the rounding of its group's sum and the
    // additions of the groups' sums onto its cell, or through those of
    // every point's.
    ps.chain = (most > 0 ? most - 1 : 0) + (any_group ? 1 : 0);
    const double levels = std::log2(static_cast<double>(n));
    Placed<K> out;
    // How many points take each place, and the sums of their moduli.
    const auto count_places = [&] {
        PositionCounts<K> places;
        for (std::size_t i = 0; i < np; ++i) {
            std::array<double, K> mod;
            for (std::size_t k = 0; k < K; ++k) mod[k] = w.mod[k][i];
            places.add(ps.offset[i], ps.cell[i], mod);
        }
        return places;
    };
    const double threshold = kLambda * kLambda * static_cast<double>(np);
    bool drifts = false;
    if constexpr (!Again) {
        // The sampled places' pairs, kSeenStride^2 times over (a seventh of
        // the points has a 49th of their pairs), estimate the sum of the
        // squared counts by place: the places are counted where the
        // estimate comes to half the threshold.
        const double stride = static_cast<double>(kSeenStride);
        const double estimate =
            static_cast<double>(np) + 2.0 * stride * stride * static_cast<double>(pairs);
        if (pairs != 0 && estimate > 0.5 * threshold && count_places().squares() > threshold) {
            // Placed again by cell (the constructor's `place`): the bounds
            // of this placing are not used.
            out.recurring = true;
            return out;
        }
    } else {
        // The places recur (as they did the first time).  Placed by cell,
        // each group takes up to group_limit points of a few cells: a
        // place's points go onto the cells in about count / limit + 1
        // groups' sums, and those recur rather than the points.
        out.recurring = true;
        const PositionCounts<K> places = count_places();
        const double limit = static_cast<double>(group_limit);
        double q = 0, q2 = 0;
        for (const auto& sl : places.slots()) {
            if (sl.count == 0) continue;
            const double sums_of_place = std::ceil(sl.count / limit) + 1;
            q += sums_of_place;
            q2 += sums_of_place * sums_of_place;
        }
        drifts = q2 > kLambda * kLambda * q;
        // The points of a place share their kernel values and, where their
        // weights agree, the roundings of the weights and the products: the
        // points' share by place, each place's moduli summed before
        // squaring.  (The offsets of a place differ by a few units of their
        // last place, their rows' sums of squares by far less than the
        // margin.)
        std::array<double, K> by_place{};
        for (const auto& sl : places.slots()) {
            if (sl.count == 0) continue;
            Rows::row(sl.offset, v);
            double vv = 0, ve = 0;
            for (std::size_t j = 0; j < kWidth; ++j) {
                vv += v[j] * v[j];
                ve += v[j] * err[j];
            }
            for (std::size_t k = 0; k < K; ++k) {
                const double g = w.gamma[k] + 1.0;
                by_place[k] += sl.sum[k] * sl.sum[k] * (g * g * vv + 2 * g * ve + ee);
            }
        }
        for (std::size_t k = 0; k < K; ++k) point[k] = std::max(point[k], by_place[k] * (1 + 1e-9));
    }
    for (std::size_t k = 0; k < K; ++k) {
        const double fft = kFftRounding * kFftRounding * levels * norm[k];
        if (drifts) {
            out.squares[k] = point[k] + fft;
            out.drift[k] = acc_full[k] + grouped_full[k];
        } else {
            out.squares[k] = point[k] + acc[k] + grouped[k] + fft;
        }
    }
    return out;
}

// The body with or without the running sums, each its own code.
template <std::size_t K, class Rows>
FASOGRAM_SPREAD_INLINE Placed<K> place_either(const PlaceWork<K>& w) {
    if (w.order) return place_body<K, Rows, true, true>(w);
    return w.running ? place_body<K, Rows, true>(w) : place_body<K, Rows, false>(w);
}

Placed<4> place4_generic(const PlaceWork<4>& w) {
    return place_either<4, PlainRows>(w);
}
Placed<2> place2_generic(const PlaceWork<2>& w) {
    return place_either<2, PlainRows>(w);
}
Placed<1> place1_generic(const PlaceWork<1>& w) {
    return place_either<1, PlainRows>(w);
}
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2,fma"))) Placed<4> place4_avx2(const PlaceWork<4>& w) {
    return place_either<4, Avx2Rows>(w);
}
__attribute__((target("avx2,fma"))) Placed<2> place2_avx2(const PlaceWork<2>& w) {
    return place_either<2, Avx2Rows>(w);
}
__attribute__((target("avx2,fma"))) Placed<1> place1_avx2(const PlaceWork<1>& w) {
    return place_either<1, Avx2Rows>(w);
}
#endif

struct PlaceFunctions {
    Placed<4> (*four)(const PlaceWork<4>&) = place4_generic;
    Placed<2> (*two)(const PlaceWork<2>&) = place2_generic;
    Placed<1> (*one)(const PlaceWork<1>&) = place1_generic;
};

PlaceFunctions pick_place_functions(unsigned most = 4) {
    PlaceFunctions f;
#if defined(__GNUC__) && defined(__x86_64__)
    if (most >= 4 && cpu_has_avx2_fma()) {
        f.four = place4_avx2;
        f.two = place2_avx2;
        f.one = place1_avx2;
    }
#endif
    return f;
}

PlaceFunctions kPlace = pick_place_functions();

// Adds weight c[m] times the w kernel values to w cells of each array
// g[m] + 2 base of interleaved complex numbers: the values duplicated once
// (k0 k0 k1 k1 ...), so that each transform takes a multiply-add for every
// two cells and no shuffles.
template <std::size_t T>
FASOGRAM_SPREAD_INLINE void add_spread(double* const* g, std::size_t base,
                                       const double* __restrict k, const double (&c)[T][2]) {
    using V4 = double __attribute__((vector_size(32)));
    static_assert(kWidth % 2 == 0);
    V4 kk[kWidth / 2];
    for (int j = 0; j < kWidth / 2; ++j) kk[j] = V4{k[2 * j], k[2 * j], k[2 * j + 1], k[2 * j + 1]};
    for (std::size_t m = 0; m < T; ++m) {
        const V4 cc = {c[m][0], c[m][1], c[m][0], c[m][1]};
        double* const dst = g[m] + 2 * base;
        for (int j = 0; j < kWidth / 2; ++j) {
            V4 v;
            std::memcpy(&v, dst + 4 * j, sizeof v);
            v += cc * kk[j];
            std::memcpy(dst + 4 * j, &v, sizeof v);
        }
    }
}

// The same onto cells whose sums are kept exactly: each product rounded
// (as the spreading's are), added by a two-sum, its error carried.
// (Four doubles at a time: the products of cells 2j and 2j + 1, re and im
// interleaved, as the cells hold them.)
FASOGRAM_SPREAD_INLINE void add_exactly(double* __restrict hi, double* __restrict lo,
                                        const double* __restrict k, double cr, double ci) {
    using V4 = double __attribute__((vector_size(32)));
    const V4 cc = {cr, ci, cr, ci};
    for (int j = 0; j < kWidth / 2; ++j) {
        const V4 kk = {k[2 * j], k[2 * j], k[2 * j + 1], k[2 * j + 1]};
        const V4 p = cc * kk;
        V4 h, l;
        std::memcpy(&h, hi + 4 * j, sizeof h);
        std::memcpy(&l, lo + 4 * j, sizeof l);
        const V4 s = h + p;
        const V4 b = s - h;
        l += (h - (s - b)) + (p - b);
        std::memcpy(hi + 4 * j, &s, sizeof s);
        std::memcpy(lo + 4 * j, &l, sizeof l);
    }
}

} // namespace

namespace {

// The rounding bound above takes the points' errors as independent.  Where
// many points share their offsets within their cells and their phases (a
// series sampled at whole days, on a grid whose step divides a cycle a day
// evenly), they round the same way: every cell then adds the same sums in
// the same order, and the FFT adds those equal errors up in the modes the
// values fill.  An error common to every term, relative to it, is that
// same share of the mode's value, and is bounded in units of kUnit of the
// value's modulus: the weight's rounding, the additions a term passes
// through in full (Positions::chain: on millions of whole days nearly equal
// terms drift one way, past a random walk's allowance; a sum of j terms
// rounds within j of them, so a term is off by at most one unit of the
// final sum per addition after it), the FFT's levels and,
// amplified by |Phi(0)/Phi(m/n)| (a pattern of kernel errors shared by
// every point turns with the mode as the kernel's transform does), the
// kernel value's rounding and the product's.
double common_units(const Positions& ps, std::size_t n, double weight_units) {
    const double levels = std::log2(static_cast<double>(n));
    return weight_units + static_cast<double>(ps.chain) + kFftRounding * levels;
}

// What depends on the transform size alone: the FFTW plan and, by |m| = 0
// .. n/4 (and kStencilTerms more where n >= kStencilCells), 1/Phi(m/n) and
// the aliasing bound.
struct Transform {
    std::shared_ptr<fftw_plan_s> fft;
    std::vector<double> deconv, alias;
};

} // namespace

struct NufftEvaluator::Plan {
    const Prepared& p;
    FrequencyGrid grid;
    double df = 0.0;
    std::size_t block = 0, n = 0;
    std::shared_ptr<const Transform> transform;
    double t_mid = 0.0, u_max = 0.0;
    RecycledVector<double> u, hy;
    Positions at_f, at_2f;
    std::array<double, kTransforms> l1{}, rounding{};
    // The common relative error but the kernel's (common_units).
    std::array<double, kTransforms> common{};
    // On fine grids the first-order terms come from the neighbouring modes
    // of h, h y and h at 2f (design: the stencil, else null): the phases of
    // t_mid df and t_mid 2 df in cycles, exactly, and the bound of each
    // slope's error (at 0, 1 and 4).
    const StencilDesign* design = nullptr;
    dd::DD turn_f{}, turn_2f{};
    std::array<double, kTransforms> slope_err{};

    Plan(const Prepared& series, const FrequencyGrid& g) : p(series), grid(g) {}
};

// The sums of a chunk of a block's frequencies by column between the two
// passes of their fits (kColumns columns of `stride` each), which of the
// block's frequencies each row is, and which rows the vectors settled.
struct SolveScratch {
    static constexpr std::size_t kColumns = 13;
    static constexpr std::size_t kChunk = 1024;
    std::size_t stride = 0;
    std::vector<double> columns;
    std::vector<std::uint32_t> where;
    std::vector<std::uint8_t> done;
    // The modes a chunk's stencils read (kStencilTerms either side) and
    // its slopes, kStencilRows rows of `reach` doubles (see stencil_modes).
    static constexpr std::size_t kStencilRows = 10;
    std::size_t reach = 0;
    std::vector<double> modes;
    void resize(std::size_t block, bool stencil) {
        block = std::min(block, kChunk);
        stride = block;
        columns.resize(kColumns * block);
        where.resize(block);
        done.resize(block);
        reach = 2 * (block + block % 2 + 2 * kStencilTerms);
        if (stencil) modes.resize(kStencilRows * reach);
    }
    std::size_t bytes() const {
        return (columns.capacity() + modes.capacity()) * sizeof(double) +
               where.capacity() * sizeof(std::uint32_t) + done.capacity();
    }
};

struct NufftEvaluator::Workspace {
    std::size_t n = 0;
    SolveScratch solve;
    std::array<Buffer, kTransforms> cells;
    std::vector<double> phase;    // e^{2 pi i f_c t} per point, interleaved
    std::vector<double> freqs;    // the block's grid frequencies
    std::vector<double> cos, sin; // the phase factors as computed
};

namespace {

// The transforms by size, kept from call to call: an FFTW_ESTIMATE plan
// depends on nothing but the size (and the alignment, always 64 here), so
// every call gets the same transform whichever call planned it.  The last
// kPlans sizes are kept; a plan leaves when the last evaluator using it
// does, under the planner's lock.
constexpr std::size_t kPlans = 8;

struct PlanDestroy {
    void operator()(fftw_plan_s* plan) const {
        std::lock_guard<std::mutex> lock(planner_lock());
        fftw_destroy_plan(plan);
    }
};

struct PlanCache {
    // The lock is made first, so that it outlives the cache at exit.
    PlanCache() { planner_lock(); }
    std::vector<std::pair<std::size_t, std::shared_ptr<const Transform>>> plans; // latest last
};

std::shared_ptr<const Transform> make_transform(std::size_t n) {
    auto tr = std::make_shared<Transform>();
    {
        std::lock_guard<std::mutex> lock(planner_lock());
        probe_room_for_fftw(n);
        Buffer probe = complex_buffer(n);
        auto* data = reinterpret_cast<fftw_complex*>(probe.get());
        fftw_plan made =
            fftw_plan_dft_1d(static_cast<int>(n), data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
        if (!made) throw std::bad_alloc();
        tr->fft = std::shared_ptr<fftw_plan_s>(made, PlanDestroy{});
    }
    const KernelConstants& kc = constants();
    const std::size_t half = n / 4 + 1;
    const std::size_t past = n >= kStencilCells ? kStencilTerms : 0;
    tr->deconv.resize(half + past);
    tr->alias.resize(half + past);
    for (std::size_t m = 0; m < half + past; ++m) {
        const long double nu = static_cast<long double>(m) / static_cast<long double>(n);
        tr->deconv[m] = static_cast<double>(m < half ? kc.inverse_ft(nu) : 1 / kernel_ft(nu));
        const double at = static_cast<double>(nu) * 4 * kEpsSteps;
        const auto i =
            std::min<std::size_t>(static_cast<std::size_t>(at), kEpsSteps + kEpsPast - 1);
        // Between the tabulated points, and for the Chebyshev series' own
        // error (below 1e-17 of 1/Phi), a margin; and what the kernel's
        // polynomials differ from it by, the same for every point at an
        // offset, whole.
        tr->alias[m] =
            1.5 * std::max(kc.eps[i], kc.eps[i + 1]) + 1e-17 + tr->deconv[m] * kKernelApproximation;
    }
    return tr;
}

std::shared_ptr<const Transform> cached_transform(std::size_t n) {
    static PlanCache cache;
    std::shared_ptr<const Transform> leaving;
    {
        std::lock_guard<std::mutex> lock(planner_lock());
        auto& v = cache.plans;
        const auto it =
            std::find_if(v.begin(), v.end(), [n](const auto& e) { return e.first == n; });
        if (it != v.end()) {
            std::rotate(it, it + 1, v.end());
            return v.back().second;
        }
    }
    // Made unlocked (but for the planning); where two calls make the same
    // size at once, both are the same and the first kept stays.
    std::shared_ptr<const Transform> tr = make_transform(n);
    std::lock_guard<std::mutex> lock(planner_lock());
    auto& v = cache.plans;
    const auto it = std::find_if(v.begin(), v.end(), [n](const auto& e) { return e.first == n; });
    if (it != v.end()) return it->second;
    if (v.size() == kPlans) {
        leaving = std::move(v.front().second);
        v.erase(v.begin());
    }
    v.emplace_back(n, tr);
    return tr;
}

// Workspaces given back by earlier calls, for the next ones of the same
// transform size: their pages are not faulted in, nor their buffers
// allocated, again on every call.  At most kPooledBytes are kept, the
// latest given back.
constexpr std::size_t kPooledBytes = std::size_t{64} << 20;

struct WorkspacePool {
    std::mutex lock;
    std::vector<std::unique_ptr<NufftEvaluator::Workspace>> free; // latest last
    std::size_t bytes = 0;
    // The kernel tables, by their number of doubles, at most kPooledBytes
    // of them too.
    std::vector<std::pair<std::size_t, Buffer>> tables; // latest last
    std::size_t table_bytes = 0;
    bool open = true;
    ~WorkspacePool() {
        std::lock_guard<std::mutex> hold(lock);
        open = false;
        free.clear();
        tables.clear();
    }
};

// The pool's lock is held across fork(), so that a child never starts with
// it taken by a thread it does not have.
void lock_pool_for_fork();
void unlock_pool_after_fork();

WorkspacePool& workspace_pool() {
    static WorkspacePool pool;
    static const bool registered = [] {
        ::pthread_atfork(lock_pool_for_fork, unlock_pool_after_fork, unlock_pool_after_fork);
        return true;
    }();
    (void)registered;
    return pool;
}

Buffer take_table(std::size_t doubles) {
    {
        WorkspacePool& pool = workspace_pool();
        std::lock_guard<std::mutex> hold(pool.lock);
        for (auto it = pool.tables.rbegin(); it != pool.tables.rend(); ++it)
            if (it->first == doubles) {
                Buffer b = std::move(it->second);
                pool.tables.erase(std::next(it).base());
                pool.table_bytes -= doubles * sizeof(double);
                return b;
            }
    }
    return complex_buffer((doubles + 1) / 2);
}

void give_table(Buffer table, std::size_t doubles) {
    std::vector<std::pair<std::size_t, Buffer>> leaving;
    WorkspacePool& pool = workspace_pool();
    std::lock_guard<std::mutex> hold(pool.lock);
    if (!pool.open || doubles * sizeof(double) > kPooledBytes) return;
    pool.tables.emplace_back(doubles, std::move(table));
    pool.table_bytes += doubles * sizeof(double);
    while (pool.table_bytes > kPooledBytes) {
        pool.table_bytes -= pool.tables.front().first * sizeof(double);
        leaving.push_back(std::move(pool.tables.front()));
        pool.tables.erase(pool.tables.begin());
    }
}

void lock_pool_for_fork() {
    workspace_pool().lock.lock();
}
void unlock_pool_after_fork() {
    workspace_pool().lock.unlock();
}

std::size_t workspace_bytes(const NufftEvaluator::Workspace& ws) {
    return kTransforms * 2 * (ws.n + kPad) * sizeof(double) +
           (ws.phase.capacity() + ws.freqs.capacity() + ws.cos.capacity() + ws.sin.capacity()) *
               sizeof(double) +
           ws.solve.bytes();
}

} // namespace

namespace {

// The stencil for a grid of step df on times within u_max of their middle,
// or null where the grid is too coarse: the phases of the modes at 2f turn
// by 4 pi df u at most from one to the next, which must be within the
// stencil's reach, and its error times the rounding of the frequencies (at
// most 2^-50 f_max) over df must stay below 2^-66 of the sums' moduli, far
// below their roundings.  The first such of the table: the shortest
// stencil where a short one will do.
const StencilDesign* stencil_for(std::size_t n, double df, double u_max, double f_max) {
    if (n < kStencilCells) return nullptr;
    const double turn = 4 * kPi * df * u_max;
    for (const StencilDesign& d : kStencils)
        if (turn <= d.reach && d.bound * std::ldexp(f_max, -50) / df <= std::ldexp(1.0, -66))
            return &d;
    return nullptr;
}

// The bound of the error of the slope sum c_i u_i e_i that the stencil `d`
// gives from the modes of a transform on steps of `step`, whose weights'
// moduli sum to l1 and whose modes' errors are at most `modes`: the
// stencil's own (d.bound l1), the modes' errors through the coefficients,
// and the roundings of the turns (a recurrence of at most `turns` steps,
// each within 32 units) and of the stencil's sums and products, on modes of
// moduli at most 2 l1 -- over 2 pi step.
double slope_error(const StencilDesign& d, double l1, double modes, double step, double turns) {
    double s_a = 0;
    for (double a : d.a) s_a += std::fabs(a);
    const double rho = (turns + 2 * kStencilTerms + 8) * 32 * kUnit;
    return (d.bound * l1 + s_a * (2 * modes + 8 * l1 * rho)) / (2 * kPi * step) * (1 + 1e-10);
}

} // namespace

// Series of this many points and more take cells 2.5 times the block
// rather than twice: the block's last modes then lie at nu = 1/5, where
// |1/Phi| is 1.48 instead of 3.95 at 1/4, and the frequencies the
// transforms leave in doubt, each summed again over every point, are about
// half as many.
constexpr std::size_t kWideCellsFrom = 50000;

NufftEvaluator::NufftEvaluator(const Prepared& series, const FrequencyGrid& grid, std::size_t block,
                               unsigned threads)
    : plan_(std::make_unique<Plan>(series, grid)) {
    Plan& pl = *plan_;
    const std::size_t np = series.t.size();
    pl.df = grid.step();
    pl.block = std::max<std::size_t>(block, 2);
    pl.n = 2 * pl.block;
    if (np >= kWideCellsFrom) pl.n += (pl.block / 2 + 1) / 2 * 2;
    pl.transform = cached_transform(pl.n);
    pl.t_mid = series.t.front() + (series.t.back() - series.t.front()) / 2;
    pl.u.resize(np);
    pl.hy.resize(np);
    for (std::size_t i = 0; i < np; ++i) {
        pl.u[i] = series.t[i] - pl.t_mid;
        pl.u_max = std::max(pl.u_max, std::fabs(pl.u[i]));
        pl.hy[i] = series.h[i] * series.y[i];
    }
    const bool table = np * 2 * kWidth * sizeof(double) <= kTableBytes;
    const bool several_blocks = grid.size() > static_cast<std::int64_t>(pl.block);
    pl.design =
        stencil_for(pl.n, pl.df, pl.u_max, std::max(std::fabs(grid.f_ini), std::fabs(grid.f_fin)));
    const bool stencil = pl.design != nullptr;

    // The moduli of each transform's weights (the phase factors have modulus
    // 1), their sums and the rounding bounds before |1/Phi|.
    // Those of h u and h y u are wanted by the placing only where the
    // slopes' transforms are taken rather than the stencil.
    const double* const mh = series.h.data();
    RecycledVector<double> mhy(np), mhu(stencil ? 0 : np), mhyu(stencil ? 0 : np);
    for (std::size_t i = 0; i < np; ++i) {
        const double a = std::fabs(pl.hy[i]), b = mh[i] * std::fabs(pl.u[i]);
        const double c = a * std::fabs(pl.u[i]);
        mhy[i] = a;
        if (!stencil) {
            mhu[i] = b;
            mhyu[i] = c;
        }
        pl.l1[0] += mh[i];
        pl.l1[1] += a;
        pl.l1[2] += b;
        pl.l1[3] += c;
    }
    pl.l1[4] = pl.l1[0];
    pl.l1[5] = pl.l1[2];
    for (double& v : pl.l1) v *= 1.0 + 64 * kUnit;
    // The two sets of positions, on two threads of the pool where there are
    // two.  A failure in either reaches the caller once both have stopped.
    Placed<2> at_2f{};
    Placed<4> at_f{};
    std::array<std::exception_ptr, 2> error;
    // The work of one set of positions: step df or 2 df, the transforms'
    // weights' roundings and moduli.
    const auto work = [&]<std::size_t K>(double step, Positions& out,
                                         const std::array<double, K>& gamma, const auto*... mod) {
        PlaceWork<K> w;
        w.t = series.t;
        w.step = step;
        w.n = pl.n;
        w.keep_table = table;
        w.running = several_blocks;
        w.mod = {mod...};
        w.gamma = gamma;
        w.out = &out;
        return w;
    };
    // A set placed, and where its places recur placed again by cell, in
    // groups (see Placed).
    const auto place = []<std::size_t K>(Placed<K> (*f)(const PlaceWork<K>&), PlaceWork<K> w,
                                         std::size_t n) {
        Placed<K> r = f(w);
        if (!r.recurring) return r;
        Positions& ps = *w.out;
        ps.order = by_cell(ps.cell, n);
        w.running = true;
        w.order = &ps.order;
        return f(w);
    };
    const std::function<void(unsigned)> job = [&](unsigned id) {
        try {
            // At f: h, h y (and h u, h y u); at 2f: h (and h u).
            const auto& g = kWeightRounding;
            if (id == 0 && stencil) {
                at_f = widened<4>(
                    place(kPlace.two, work(pl.df, pl.at_f, std::array{g[0], g[1]}, mh, mhy.data()),
                          pl.n));
            } else if (id == 0) {
                at_f = place(kPlace.four,
                             work(pl.df, pl.at_f, std::array{g[0], g[1], g[2], g[3]}, mh,
                                  mhy.data(), mhu.data(), mhyu.data()),
                             pl.n);
            } else if (stencil) {
                at_2f = widened<2>(
                    place(kPlace.one, work(2.0 * pl.df, pl.at_2f, std::array{g[4]}, mh), pl.n));
            } else {
                at_2f = place(kPlace.two,
                              work(2.0 * pl.df, pl.at_2f, std::array{g[4], g[5]}, mh, mhu.data()),
                              pl.n);
            }
        } catch (...) {
            error[id] = std::current_exception();
        }
    };
    if (threads != 1) {
        // Where the pool has no thread to give, the second set waits for
        // the first.
        std::atomic<bool> second_done{false};
        run_on_pool(1, [&](unsigned id) {
            job(id);
            if (id == 1) second_done = true;
        });
        if (!second_done) job(1);
    } else {
        job(0);
        job(1);
    }
    for (const std::exception_ptr& e : error)
        if (e) std::rethrow_exception(e);
    for (std::size_t k = 0; k < kTransforms; ++k) {
        const double squares = k < 4 ? at_f.squares[k] : at_2f.squares[k - 4];
        const double drift = k < 4 ? at_f.drift[k] : at_2f.drift[k - 4];
        pl.rounding[k] = kLambda * kUnit * std::sqrt(squares) + kUnit * drift;
        pl.common[k] = common_units(k < 4 ? pl.at_f : pl.at_2f, pl.n, kWeightRounding[k]);
    }
    if (stencil) {
        pl.turn_f = dd::cycles(pl.t_mid, pl.df);
        pl.turn_2f = dd::cycles(pl.t_mid, 2.0 * pl.df);
        // The modes' error bounds of finish_part at the largest |1/Phi| and
        // aliasing the stencils reach, on modes of modulus up to 2 l1.
        const Transform& tr = *pl.transform;
        const double alias = *std::max_element(tr.alias.begin(), tr.alias.end());
        const double deconv = *std::max_element(tr.deconv.begin(), tr.deconv.end());
        const double kernel = constants().common_kernel * deconv / tr.deconv[0];
        const double turns = static_cast<double>(SolveScratch::kChunk + 2 * kStencilTerms);
        for (const std::size_t k : {0, 1, 4}) {
            const double modes = alias * pl.l1[k] + deconv * pl.rounding[k] +
                                 (2 + pl.common[k] + kernel) * kUnit * 2 * pl.l1[k];
            pl.slope_err[k] =
                slope_error(*pl.design, pl.l1[k], modes, k == 4 ? 2.0 * pl.df : pl.df, turns);
        }
    }
}

NufftEvaluator::~NufftEvaluator() = default;

std::size_t NufftEvaluator::block_size() const {
    return plan_->block;
}

std::shared_ptr<NufftEvaluator::Workspace> NufftEvaluator::workspace() const {
    const std::size_t n = plan_->n;
    std::unique_ptr<Workspace> ws;
    WorkspacePool& pool = workspace_pool();
    {
        std::lock_guard<std::mutex> hold(pool.lock);
        for (auto it = pool.free.rbegin(); it != pool.free.rend(); ++it)
            if ((*it)->n == n) {
                ws = std::move(*it);
                pool.free.erase(std::next(it).base());
                pool.bytes -= workspace_bytes(*ws);
                break;
            }
    }
    if (!ws) {
        ws = std::make_unique<Workspace>();
        ws->n = n;
        for (Buffer& b : ws->cells) b = complex_buffer(n + kPad);
    }
    ws->phase.resize(2 * plan_->p.t.size());
    ws->cos.resize(plan_->p.t.size());
    ws->sin.resize(plan_->p.t.size());
    ws->freqs.resize(plan_->block);
    ws->solve.resize(plan_->block, plan_->design != nullptr);
    // Given back to the pool when the caller lets it go.
    return std::shared_ptr<Workspace>(ws.release(), [](Workspace* w) {
        std::unique_ptr<Workspace> back(w);
        WorkspacePool& pool = workspace_pool();
        std::vector<std::unique_ptr<Workspace>> leaving;
        std::lock_guard<std::mutex> hold(pool.lock);
        if (!pool.open) return;
        pool.bytes += workspace_bytes(*back);
        pool.free.push_back(std::move(back));
        while (pool.bytes > kPooledBytes) {
            pool.bytes -= workspace_bytes(*pool.free.front());
            leaving.push_back(std::move(pool.free.front()));
            pool.free.erase(pool.free.begin());
        }
    });
}

namespace {

// A number of the form 2^a 3^b 5^c at least v (FFTW's fast sizes).
std::size_t smooth_at_least(std::size_t v) {
    std::size_t best = std::numeric_limits<std::size_t>::max();
    for (std::size_t a = 1; a < 2 * v + 2; a *= 2)
        for (std::size_t b = a; b < 2 * v + 2; b *= 3)
            for (std::size_t c = b; c < 2 * v + 2; c *= 5)
                if (c >= v) best = std::min(best, c);
    return best;
}

} // namespace

std::size_t NufftEvaluator::choose_block(std::int64_t count, unsigned workers) {
    const auto total = static_cast<std::size_t>(std::max<std::int64_t>(count, 1));
    const std::size_t w = std::max(1u, workers);
    // As many blocks as make every worker busy, none larger than kMaxBlock.
    const std::size_t rounds = (total + w * kMaxBlock - 1) / (w * kMaxBlock);
    const std::size_t blocks = std::max<std::size_t>(1, std::min(total / kMinBlock, w * rounds));
    const std::size_t per = (total + blocks - 1) / blocks;
    const std::size_t b = smooth_at_least(std::max(per, kMinBlock));
    return b + (b % 2);
}

namespace {

// One block's work after the phase factors: spreading the six transforms'
// weights onto their cells, and the fits from the transformed cells.
struct BlockWork {
    const Prepared* p = nullptr;
    const FrequencyGrid* grid = nullptr;
    const Positions* at_f = nullptr;
    const Positions* at_2f = nullptr;
    const double* phase = nullptr; // e^{2 pi i f_c t} per point, interleaved
    const double* freqs = nullptr; // the block's grid frequencies
    const double* hy = nullptr;
    const double* u = nullptr;
    std::array<double*, kTransforms> cells{};
    SolveScratch* solve = nullptr;                   // the fits' columns, of the workspace
    std::vector<std::uint32_t>* unsettled = nullptr; // (NufftEvaluator::evaluate)
    const double* deconv = nullptr;
    const double* alias = nullptr;
    const double* l1 = nullptr;
    const double* rounding = nullptr;
    const double* common = nullptr;
    double df = 0, fc = 0, t_mid = 0, u_max = 0;
    double common_kernel = 0; // (KernelConstants)
    std::int64_t first = 0, centre = 0;
    std::size_t n = 0;
    // (Plan: the stencil or null; cells 2, 3 and 5 are then null)
    const StencilDesign* design = nullptr;
    const double* slope_err = nullptr;
    dd::DD turn_f{}, turn_2f{};
};

// The weights of the transforms at f of point i (h, h y, and where T is 4
// h u, h y u, each re and im), and at 2f (h, and where T is 2 h u).
template <std::size_t T>
FASOGRAM_SPREAD_INLINE void weights_at_f(const BlockWork& b, std::size_t i, double (&c)[T][2]) {
    const double h = b.p->h[i], er = b.phase[2 * i], ei = b.phase[2 * i + 1], hy = b.hy[i];
    c[0][0] = h * er;
    c[0][1] = h * ei;
    c[1][0] = hy * er;
    c[1][1] = hy * ei;
    if constexpr (T == 4) {
        const double u = b.u[i];
        c[2][0] = c[0][0] * u;
        c[2][1] = c[0][1] * u;
        c[3][0] = c[1][0] * u;
        c[3][1] = c[1][1] * u;
    }
}
template <std::size_t T>
FASOGRAM_SPREAD_INLINE void weights_at_2f(const BlockWork& b, std::size_t i, double (&c)[T][2]) {
    const double h = b.p->h[i], er = b.phase[2 * i], ei = b.phase[2 * i + 1];
    const double sr = (er - ei) * (er + ei), si = 2.0 * er * ei;
    c[0][0] = h * sr;
    c[0][1] = h * si;
    if constexpr (T == 2) {
        const double u = b.u[i];
        c[1][0] = h * sr * u;
        c[1][1] = h * si * u;
    }
}

// The points of one set of positions spread by their groups onto the
// transforms' cells g[0..T-1]: a point alone straight onto them, the points
// of a group onto cells of the group's own, whose sums are then added.
// Without groups (a single block) every point is alone.
template <class Rows, std::size_t T, class Weights>
FASOGRAM_SPREAD_INLINE void spread_groups(const BlockWork& b, const Positions& ps, double* const* g,
                                          Weights weights) {
    const Prepared& p = *b.p;
    const std::size_t n = b.n;
    double scratch[kWidth];
    auto kernel_of = [&](std::size_t i) -> const double* {
        if (ps.table) return &ps.table[i * kWidth];
        Rows::row(ps.offset[i], scratch);
        return scratch;
    };
    // The group's sums exactly: hi + lo, each addition a two-sum.
    alignas(64) double local[T][2 * kPad] = {};
    alignas(64) double carried[T][2 * kPad] = {};
    double c[T][2];
    const bool grouped = !ps.group.empty();
    const std::size_t groups = grouped ? ps.group.size() - 1 : p.t.size();
    // (the groups' entries are places in the order, where there is one)
    const std::uint32_t* const order = ps.order.empty() ? nullptr : ps.order.data();
    const auto point_at = [order](std::size_t j) -> std::size_t { return order ? order[j] : j; };
    for (std::size_t gi = 0; gi < groups; ++gi) {
        const std::size_t first = grouped ? ps.group[gi] : gi;
        const std::size_t last = grouped ? ps.group[gi + 1] : gi + 1;
        const std::size_t base = ps.cell[point_at(first)];
        if (last - first == 1) {
            const std::size_t i = point_at(first);
            if (p.h[i] == 0.0) continue;
            weights(i, c);
            const double* k = kernel_of(i);
            add_spread<T>(g, base, k, c);
            continue;
        }
        std::size_t reach = 0;
        for (std::size_t placed = first; placed < last; ++placed) {
            const std::size_t i = point_at(placed);
            if (p.h[i] == 0.0) continue;
            const std::size_t cell = ps.cell[i];
            const std::size_t ahead = cell >= base ? cell - base : cell + n - base;
            reach = std::max(reach, ahead);
            weights(i, c);
            const double* k = kernel_of(i);
            for (std::size_t m = 0; m < T; ++m)
                add_exactly(local[m] + 2 * ahead, carried[m] + 2 * ahead, k, c[m][0], c[m][1]);
        }
        for (std::size_t m = 0; m < T; ++m) {
            double* const to = g[m] + 2 * base;
            for (std::size_t o = 0; o < 2 * (reach + kWidth); ++o) {
                to[o] += local[m][o] + carried[m][o];
                local[m][o] = 0.0;
                carried[m][o] = 0.0;
            }
        }
    }
}

// Each transform's cells get the points in the order they are placed.
template <class Rows, std::size_t F, std::size_t S>
FASOGRAM_SPREAD_INLINE void spread_sets(const BlockWork& b, double* const (&at_f)[F],
                                        double* const (&at_2f)[S]) {
    spread_groups<Rows, F>(b, *b.at_f, at_f,
                           [&b](std::size_t i, double(&c)[F][2]) { weights_at_f<F>(b, i, c); });
    spread_groups<Rows, S>(b, *b.at_2f, at_2f,
                           [&b](std::size_t i, double(&c)[S][2]) { weights_at_2f<S>(b, i, c); });
}

// h and h y at f, h at 2f where the slopes come from the stencil; else h u
// and h y u at f and h u at 2f as well.
template <class Rows> FASOGRAM_SPREAD_INLINE void spread_body(const BlockWork& b) {
    const auto& g = b.cells;
    if (b.design) {
        double* const at_f[2] = {g[0], g[1]};
        double* const at_2f[1] = {g[4]};
        spread_sets<Rows>(b, at_f, at_2f);
    } else {
        double* const at_f[4] = {g[0], g[1], g[2], g[3]};
        double* const at_2f[2] = {g[4], g[5]};
        spread_sets<Rows>(b, at_f, at_2f);
    }
}

// e^{-2 pi i m r} for m = m0 .. m0 + count - 1 (r in cycles, exactly), from
// the first by a recurrence (each step within 32 units of 2^-53, see
// slope_error), as the pairs (c, c) in `re` and (-s, s) in `im`: a complex
// number (x, y) turned is re (x, y) + im (y, x).
void turns(dd::DD r, std::int64_t m0, std::size_t count, double* re, double* im) {
    const auto angle = [r](double m) {
        const dd::DD p = dd::two_prod(m, r.hi);
        return -kTwoPiHi * ((p.hi - std::nearbyint(p.hi)) + (p.lo + m * r.lo));
    };
    const double a0 = angle(static_cast<double>(m0)), a1 = angle(1.0);
    double c = std::cos(a0), s = std::sin(a0);
    const double wc = std::cos(a1), ws = std::sin(a1);
    for (std::size_t i = 0; i < count; ++i) {
        re[2 * i] = re[2 * i + 1] = c;
        im[2 * i] = -s;
        im[2 * i + 1] = s;
        const double next = c * wc - s * ws;
        s = c * ws + s * wc;
        c = next;
    }
}

namespace stencil {

// (Macros rather than functions: a function taking or returning a vector
// would have one calling convention with AVX and another without.)
using V4 = double __attribute__((vector_size(32)));
#define FASOGRAM_LOAD4(p)                                                                          \
    ({                                                                                             \
        V4 v_;                                                                                     \
        std::memcpy(&v_, (p), sizeof v_);                                                          \
        v_;                                                                                        \
    })
#define FASOGRAM_STORE4(p, v)                                                                      \
    do {                                                                                           \
        const V4 v_ = (v);                                                                         \
        std::memcpy((p), &v_, sizeof v_);                                                          \
    } while (0)
// (x0, y0, x1, y1) -> (y0, x0, y1, x1)
#define FASOGRAM_SWAP4(v) __builtin_shufflevector((v), (v), 1, 0, 3, 2)

// A chunk's stencil rows in SolveScratch::modes, `reach` doubles each: the
// turns at f and 2f (re, then im), the turned modes of h, h y and h at 2f,
// then their slopes, complex numbers interleaved.
constexpr std::size_t kTurnF = 0, kTurn2F = 2, kModes = 4, kSlopes = 7;

} // namespace stencil

// The modes a chunk's stencils read, m0 .. m0 + count - 1, deconvolved and
// turned back by e^{-2 pi i m t_mid df} (at 2f by e^{-2 pi i m t_mid 2 df}),
// so that mode m + k of a transform is sum c_i e_i e^{i (m + k) theta_i}
// (see the head of this file); two modes at a time (count even).
FASOGRAM_SPREAD_INLINE void stencil_modes(const BlockWork& b, SolveScratch& sc, std::int64_t m0,
                                          std::size_t count) {
    using namespace stencil;
    double* const row = sc.modes.data();
    const std::size_t w = sc.reach;
    turns(b.turn_f, m0, count, row + kTurnF * w, row + (kTurnF + 1) * w);
    turns(b.turn_2f, m0, count, row + kTurn2F * w, row + (kTurn2F + 1) * w);
    const double* const from[3] = {b.cells[0], b.cells[1], b.cells[4]};
    const auto n = static_cast<std::int64_t>(b.n);
    for (std::size_t i = 0; i < count; i += 2) {
        const std::int64_t m = m0 + static_cast<std::int64_t>(i);
        const auto i0 = static_cast<std::size_t>(m < 0 ? m + n : m);
        const auto i1 = static_cast<std::size_t>(m + 1 < 0 ? m + 1 + n : m + 1);
        const double d0 = b.deconv[static_cast<std::size_t>(m < 0 ? -m : m)];
        const double d1 = b.deconv[static_cast<std::size_t>(m + 1 < 0 ? -m - 1 : m + 1)];
        const V4 d = {d0, d0, d1, d1};
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t turn = k == 2 ? kTurn2F : kTurnF;
            const V4 tr = FASOGRAM_LOAD4(row + turn * w + 2 * i),
                     ti = FASOGRAM_LOAD4(row + (turn + 1) * w + 2 * i);
            const double* const c = from[k];
            const V4 x = V4{c[2 * i0], c[2 * i0 + 1], c[2 * i1], c[2 * i1 + 1]} * d;
            FASOGRAM_STORE4(row + (kModes + k) * w + 2 * i, tr * x + ti * FASOGRAM_SWAP4(x));
        }
    }
}

// The slope sums c_i u_i e_i of the chunk's `count` frequencies (count
// even): at each the stencil's sum over the turned modes either side, the
// sum of i theta with theta = 2 pi step u, turned forward again (by the
// conjugate turn) and divided by i 2 pi step.
FASOGRAM_SPREAD_INLINE void stencil_slopes(const BlockWork& b, SolveScratch& sc,
                                           std::size_t count) {
    using namespace stencil;
    double* const row = sc.modes.data();
    const std::size_t w = sc.reach;
    const double* const a = b.design->a;
    constexpr auto K = static_cast<std::size_t>(kStencilTerms);
    for (std::size_t k = 0; k < 3; ++k) {
        const double* const x = row + (kModes + k) * w + 2 * K;
        const std::size_t turn = k == 2 ? kTurn2F : kTurnF;
        const double* const tr = row + turn * w + 2 * K;
        const double* const ti = row + (turn + 1) * w + 2 * K;
        double* const out = row + (kSlopes + k) * w;
        const double c = 1 / ((k == 2 ? 4 : 2) * kPi * b.df);
        const V4 scale = {c, -c, c, -c};
        const auto terms = static_cast<std::size_t>(b.design->terms);
        for (std::size_t i = 0; i < 2 * count; i += 4) {
            V4 sum = a[0] * (FASOGRAM_LOAD4(x + i + 2) - FASOGRAM_LOAD4(x + i - 2));
            for (std::size_t q = 2; q <= terms; ++q)
                sum += a[q - 1] * (FASOGRAM_LOAD4(x + i + 2 * q) - FASOGRAM_LOAD4(x + i - 2 * q));
            // D = conj(turn) sum; the slope is D / (i 2 pi step) = (Im D, -Re D) c.
            const V4 turned =
                FASOGRAM_LOAD4(tr + i) * sum - FASOGRAM_LOAD4(ti + i) * FASOGRAM_SWAP4(sum);
            FASOGRAM_STORE4(out + i, FASOGRAM_SWAP4(turned) * scale);
        }
    }
}
#undef FASOGRAM_LOAD4
#undef FASOGRAM_STORE4
#undef FASOGRAM_SWAP4

// One chunk's sums and bounds by column (finish_part), what they are
// computed from: the block's constants in locals, so that the stores into
// the columns are not taken to change them.
enum Column { kHc, kHs, kHcc, kHcs, kHss, kHyc, kHys, kMu, kEta, kF, kP2r, kP2i, kErr };
struct ColumnWork {
    double* column[SolveScratch::kColumns];
    std::uint32_t* where = nullptr;
    const double* freqs = nullptr;
    const double* deconvs = nullptr;
    const double* alias = nullptr;
    // The transforms' modes, or with a stencil the chunk's slopes (2, 3, 5)
    // and their bounds in `rounding`.
    const double* cells[kTransforms];
    double l1[kTransforms], rounding[kTransforms], common[kTransforms];
    double skip = 0, fc = 0, df = 0, t_mid = 0, s_h = 0, second_scale = 0, kernel_per_deconv = 0;
    std::int64_t first = 0, centre = 0, n = 0;
    std::size_t from = 0;
    bool stencil = false;
};

// A sum A and its slope A' turned to the frequency: rot (A + i d A'), with
// rot and d those of f, or at 2f their square and double.
FASOGRAM_SPREAD_INLINE std::pair<double, double> turn(double c, double s, double ar, double ai,
                                                      double dr, double di, double r) {
    const double xr = ar - r * di, xi = ai + r * dr;
    return {c * xr - s * xi, c * xi + s * xr};
}

// The sums and bounds of frequency l into row `live` of the columns (and
// live counted), or its evaluation where the grid skips it.
FASOGRAM_SPREAD_INLINE void column_one(const ColumnWork& w, std::span<Evaluation> out,
                                       std::size_t l, std::size_t& live) {
    const std::int64_t j = w.first + static_cast<std::int64_t>(l);
    const double f = w.freqs[l];
    if (!(f >= w.skip || f <= -w.skip)) {
        Evaluation& e = out[l];
        e = Evaluation{};
        e.point.f = f;
        e.settled = true;
        return;
    }
    const std::int64_t m = j - w.centre;
    const std::size_t am = static_cast<std::size_t>(m < 0 ? -m : m);
    const std::size_t idx = static_cast<std::size_t>(m < 0 ? m + w.n : m);
    // delta = f - f_c - m df, exactly up to its own rounding.
    const dd::DD a = dd::two_sum(f, -w.fc);
    const dd::DD q = dd::two_prod(static_cast<double>(m), w.df);
    const double delta = ((a.hi - q.hi) + a.lo) - q.lo;
    const double d2 = 2 * kPi * delta; // rate of the first-order term
    // e^{2 pi i delta t_c}, and its square for 2f.
    double rc = 1.0, rs = 0.0;
    if (delta != 0.0) {
        const dd::DD r = dd::cycles(w.t_mid, delta);
        const double th = std::fma(kTwoPiHi, r.hi, kTwoPiLo * r.hi + kTwoPiHi * r.lo);
        if (std::fabs(th) < 1e-4) {
            rc = 1.0 - 0.5 * th * th;
            rs = th - th * th * th * (1.0 / 6);
        } else {
            rc = std::cos(th);
            rs = std::sin(th);
        }
    }
    const double rc2 = (rc - rs) * (rc + rs), rs2 = 2.0 * rc * rs;
    const double deconv = w.deconvs[am];
    const double kernel = w.kernel_per_deconv * deconv;
    double re[kTransforms], im[kTransforms], mod[kTransforms], err[kTransforms];
    for (std::size_t k = 0; k < kTransforms; ++k) {
        if (w.stencil && (k == 2 || k == 3 || k == 5)) {
            // The slope from the stencil of the modes around m.
            re[k] = w.cells[k][2 * (l - w.from)];
            im[k] = w.cells[k][2 * (l - w.from) + 1];
            mod[k] = std::fabs(re[k]) + std::fabs(im[k]);
            err[k] = w.rounding[k];
            continue;
        }
        re[k] = w.cells[k][2 * idx] * deconv;
        im[k] = w.cells[k][2 * idx + 1] * deconv;
        mod[k] = std::fabs(re[k]) + std::fabs(im[k]);
        // The deconvolution's 2 units, and the common error.
        const double units = 2 + w.common[k] + kernel;
        err[k] = w.alias[am] * w.l1[k] + deconv * w.rounding[k] + units * kUnit * mod[k];
    }
    const auto [p1r, p1i] = turn(rc, rs, re[0], im[0], re[2], im[2], d2);
    const auto [pyr, pyi] = turn(rc, rs, re[1], im[1], re[3], im[3], d2);
    const auto [p2r, p2i] = turn(rc2, rs2, re[4], im[4], re[5], im[5], 2 * d2);
    const double ad = std::fabs(d2), second = w.second_scale * delta * delta;
    const double err1 = err[0] + ad * (err[2] + 2 * kUnit * mod[2]) + second * w.l1[0] +
                        4 * kUnit * (mod[0] + ad * mod[2]);
    const double erry = err[1] + ad * (err[3] + 2 * kUnit * mod[3]) + second * w.l1[1] +
                        4 * kUnit * (mod[1] + ad * mod[3]);
    const double err2 = err[4] + 2 * ad * (err[5] + 2 * kUnit * mod[5]) + 4 * second * w.l1[4] +
                        8 * kUnit * (mod[4] + 2 * ad * mod[5]);
    const double errm = std::max(err1, 0.5 * err2);
    const std::size_t r = live++;
    double* const* const column = w.column;
    const double s_h = w.s_h;
    column[kHc][r] = p1r;
    column[kHs][r] = p1i;
    column[kHcc][r] = (s_h + p2r) / 2;
    column[kHcs][r] = p2i / 2;
    column[kHss][r] = (s_h - p2r) / 2;
    column[kHyc][r] = pyr;
    column[kHys][r] = pyi;
    // S + p2r rounds within 1.5 units of S in double (S itself rounded
    // to double), within one in long double: the 4 units added to mu.
    column[kMu][r] = errm + 4 * kUnit * s_h;
    column[kEta][r] = erry;
    column[kF][r] = f;
    column[kP2r][r] = p2r;
    column[kP2i][r] = p2i;
    column[kErr][r] = errm;
    w.where[r] = static_cast<std::uint32_t>(l);
}

#if defined(__GNUC__) && defined(__x86_64__)
// Frequencies l .. l + 3 by column_one's arithmetic, side by side, into
// rows r .. r + 3; false (nothing written) where one of them is skipped or
// its turn e^{2 pi i delta t_c} needs more than the series.
__attribute__((target("avx2,fma"))) bool columns4_avx2(const ColumnWork& w, std::size_t l,
                                                       std::size_t r) {
    using V = __m256d;
    const V f = _mm256_loadu_pd(w.freqs + l);
    const V skip = _mm256_set1_pd(w.skip);
    const V kept =
        _mm256_or_pd(_mm256_cmp_pd(f, skip, _CMP_GE_OQ), _mm256_cmp_pd(f, -skip, _CMP_LE_OQ));
    if (_mm256_movemask_pd(kept) != 0xF) return false;
    alignas(32) double md[4];
    std::size_t am[4], idx[4];
    for (std::size_t i = 0; i < 4; ++i) {
        const std::int64_t m = w.first + static_cast<std::int64_t>(l + i) - w.centre;
        md[i] = static_cast<double>(m);
        am[i] = static_cast<std::size_t>(m < 0 ? -m : m);
        idx[i] = static_cast<std::size_t>(m < 0 ? m + w.n : m);
    }
    // delta = f - f_c - m df (dd::two_sum, dd::two_prod)
    const V m = _mm256_load_pd(md);
    const V nfc = _mm256_set1_pd(-w.fc), df = _mm256_set1_pd(w.df);
    const V ah = f + nfc, ab = ah - f;
    const V al = (f - (ah - ab)) + (nfc - ab);
    const V qh = m * df, ql = _mm256_fmsub_pd(m, df, qh);
    const V delta = ((ah - qh) + al) - ql;
    const V d2 = 2 * kPi * delta;
    // dd::cycles(t_mid, delta)
    const V tm = _mm256_set1_pd(w.t_mid);
    const V ph = tm * delta, pe = _mm256_fmsub_pd(tm, delta, ph);
    constexpr int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    const V pf = ph - _mm256_round_pd(ph, kNearest), ef = pe - _mm256_round_pd(pe, kNearest);
    V rh = pf + ef;
    const V rb = rh - pf;
    V rl = (pf - (rh - rb)) + (ef - rb);
    const V whole = _mm256_round_pd(rh, kNearest);
    {
        const V a = rh - whole, sh = a + rl, sb = sh - a;
        rl = (a - (sh - sb)) + (rl - sb);
        rh = sh;
    }
    const V th = _mm256_fmadd_pd(_mm256_set1_pd(kTwoPiHi), rh, kTwoPiLo * rh + kTwoPiHi * rl);
    const V sign = _mm256_set1_pd(-0.0);
    if (_mm256_movemask_pd(
            _mm256_cmp_pd(_mm256_andnot_pd(sign, th), _mm256_set1_pd(1e-4), _CMP_LT_OQ)) != 0xF)
        return false;
    const V rc = 1.0 - 0.5 * th * th, rs = th - th * th * th * (1.0 / 6);
    const V rc2 = (rc - rs) * (rc + rs), rs2 = 2.0 * rc * rs;
    const V deconv = {w.deconvs[am[0]], w.deconvs[am[1]], w.deconvs[am[2]], w.deconvs[am[3]]};
    const V alias = {w.alias[am[0]], w.alias[am[1]], w.alias[am[2]], w.alias[am[3]]};
    const V kernel = w.kernel_per_deconv * deconv;
    V re[kTransforms], im[kTransforms], mod[kTransforms], err[kTransforms];
    for (std::size_t k = 0; k < kTransforms; ++k) {
        const double* const c = w.cells[k];
        if (w.stencil && (k == 2 || k == 3 || k == 5)) {
            const std::size_t o = 2 * (l - w.from);
            re[k] = V{c[o], c[o + 2], c[o + 4], c[o + 6]};
            im[k] = V{c[o + 1], c[o + 3], c[o + 5], c[o + 7]};
            mod[k] = _mm256_andnot_pd(sign, re[k]) + _mm256_andnot_pd(sign, im[k]);
            err[k] = _mm256_set1_pd(w.rounding[k]);
            continue;
        }
        re[k] = V{c[2 * idx[0]], c[2 * idx[1]], c[2 * idx[2]], c[2 * idx[3]]} * deconv;
        im[k] =
            V{c[2 * idx[0] + 1], c[2 * idx[1] + 1], c[2 * idx[2] + 1], c[2 * idx[3] + 1]} * deconv;
        mod[k] = _mm256_andnot_pd(sign, re[k]) + _mm256_andnot_pd(sign, im[k]);
        const V units = (2 + w.common[k]) + kernel;
        err[k] = alias * w.l1[k] + deconv * w.rounding[k] + units * kUnit * mod[k];
    }
    // turn() of the three sums, written out (a lambda would not take the
    // function's target).
    const V q2 = 2 * d2;
    const V x1r = re[0] - d2 * im[2], x1i = im[0] + d2 * re[2];
    const V xyr = re[1] - d2 * im[3], xyi = im[1] + d2 * re[3];
    const V x2r = re[4] - q2 * im[5], x2i = im[4] + q2 * re[5];
    const V p1r = rc * x1r - rs * x1i, p1i = rc * x1i + rs * x1r;
    const V pyr = rc * xyr - rs * xyi, pyi = rc * xyi + rs * xyr;
    const V p2r = rc2 * x2r - rs2 * x2i, p2i = rc2 * x2i + rs2 * x2r;
    const V ad = _mm256_andnot_pd(sign, d2), second = w.second_scale * delta * delta;
    const V err1 = err[0] + ad * (err[2] + 2 * kUnit * mod[2]) + second * w.l1[0] +
                   4 * kUnit * (mod[0] + ad * mod[2]);
    const V erry = err[1] + ad * (err[3] + 2 * kUnit * mod[3]) + second * w.l1[1] +
                   4 * kUnit * (mod[1] + ad * mod[3]);
    const V err2 = err[4] + 2 * ad * (err[5] + 2 * kUnit * mod[5]) + 4 * second * w.l1[4] +
                   8 * kUnit * (mod[4] + 2 * ad * mod[5]);
    const V errm = _mm256_max_pd(err1, 0.5 * err2);
    const V s_h = _mm256_set1_pd(w.s_h);
    double* const* const column = w.column;
    _mm256_storeu_pd(column[kHc] + r, p1r);
    _mm256_storeu_pd(column[kHs] + r, p1i);
    _mm256_storeu_pd(column[kHcc] + r, (s_h + p2r) / 2);
    _mm256_storeu_pd(column[kHcs] + r, p2i / 2);
    _mm256_storeu_pd(column[kHss] + r, (s_h - p2r) / 2);
    _mm256_storeu_pd(column[kHyc] + r, pyr);
    _mm256_storeu_pd(column[kHys] + r, pyi);
    _mm256_storeu_pd(column[kMu] + r, errm + 4 * kUnit * s_h);
    _mm256_storeu_pd(column[kEta] + r, erry);
    _mm256_storeu_pd(column[kF] + r, f);
    _mm256_storeu_pd(column[kP2r] + r, p2r);
    _mm256_storeu_pd(column[kP2i] + r, p2i);
    _mm256_storeu_pd(column[kErr] + r, errm);
    for (std::size_t i = 0; i < 4; ++i) w.where[r + i] = static_cast<std::uint32_t>(l + i);
    return true;
}
#else
bool columns4_avx2(const ColumnWork&, std::size_t, std::size_t) {
    return false;
}
#endif

// The fits of the block's frequencies from..to-1 (at most
// SolveScratch::kChunk of them).
template <bool Lanes>
FASOGRAM_SPREAD_INLINE void finish_part(const BlockWork& b, std::span<Evaluation> out,
                                        std::size_t from, std::size_t to) {
    const Prepared& p = *b.p;
    const long double sum_h = dd::to_long_double(p.sum_h);
    const double s_h = static_cast<double>(sum_h);
    const double second_scale = 0.5 * (2 * kPi * b.u_max) * (2 * kPi * b.u_max);
    // (rounded up: a unit of its own at most, far within common_kernel's
    // margin)
    const double kernel_per_deconv = b.common_kernel / b.deconv[0] * (1 + 4 * kUnit);
    // First every frequency's sums and bounds, into the columns; then the
    // fits.
    SolveScratch& sc = *b.solve;
    const auto col = [&sc](Column c) { return sc.columns.data() + c * sc.stride; };
    std::size_t live = 0;
    // With a stencil: the modes from kStencilTerms before the chunk's first
    // to as many past its last.
    const std::int64_t m0 = b.first + static_cast<std::int64_t>(from) - b.centre - kStencilTerms;
    if (b.design) {
        const std::size_t even = to - from + (to - from) % 2;
        stencil_modes(b, sc, m0, even + 2 * kStencilTerms);
        stencil_slopes(b, sc, even);
    }
    ColumnWork w;
    for (std::size_t c = 0; c < SolveScratch::kColumns; ++c)
        w.column[c] = sc.columns.data() + c * sc.stride;
    w.where = sc.where.data();
    w.skip = b.grid->skip_threshold(); // (FrequencyGrid::skipped)
    w.freqs = b.freqs;
    w.deconvs = b.deconv;
    w.alias = b.alias;
    w.fc = b.fc;
    w.df = b.df;
    w.t_mid = b.t_mid;
    w.s_h = s_h;
    w.second_scale = second_scale;
    w.kernel_per_deconv = kernel_per_deconv;
    w.first = b.first;
    w.centre = b.centre;
    w.n = static_cast<std::int64_t>(b.n);
    w.from = from;
    w.stencil = b.design != nullptr;
    for (std::size_t k = 0; k < kTransforms; ++k) {
        w.cells[k] = b.cells[k];
        w.l1[k] = b.l1[k];
        w.rounding[k] = b.rounding[k];
        w.common[k] = b.common[k];
        if (!w.cells[k]) {
            // (the slopes' bounds, and the rows of the slopes)
            w.rounding[k] = b.slope_err[k == 5 ? 4 : k - 2];
            w.cells[k] = sc.modes.data() + (stencil::kSlopes + (k == 5 ? 2 : k - 2)) * sc.reach;
        }
    }
    std::size_t l = from;
    if constexpr (Lanes) {
        // Four frequencies at a time where the vectors take them.
        for (; l + 4 <= to; l += 4)
            if (columns4_avx2(w, l, live))
                live += 4;
            else
                for (std::size_t i = 0; i < 4; ++i) column_one(w, out, l + i, live);
    }
    for (; l < to; ++l) column_one(w, out, l, live);

    // Solved in double first: with its roundings (a few units of 2^-53 of
    // entries of order one) nearly every frequency's digits are still
    // settled (all but about one in a thousand at 100000 points, fewer on
    // shorter series); the rest are solved again in long double.  The
    // vectors take the whole chunk and settle nearly all; what they leave
    // (fits they cannot prove settled by the quick test, or every fit where
    // the engine's tests record them) is solved one at a time as before.
    std::uint8_t* done = sc.done.data();
    SumColumns sums;
    sums.hc = col(kHc);
    sums.hs = col(kHs);
    sums.hcc = col(kHcc);
    sums.hcs = col(kHcs);
    sums.hss = col(kHss);
    sums.hyc = col(kHyc);
    sums.hys = col(kHys);
    sums.mu = col(kMu);
    sums.eta = col(kEta);
    sums.f = col(kF);
    solve_batch(sums, live, p, p.centre_offset, kUnit, out.data(), sc.where.data(), done);
    for (std::size_t r = 0; r < live; ++r) {
        if (done[r]) continue;
        Evaluation& e = out[sc.where[r]];
        const double f = col(kF)[r];
        const Sums<double> sd{col(kHc)[r],  col(kHs)[r],  col(kHcc)[r], col(kHcs)[r],
                              col(kHss)[r], col(kHyc)[r], col(kHys)[r]};
        SumBounds bd;
        bd.mu = col(kMu)[r];
        bd.eta = col(kEta)[r];
        bd.unit = kUnit;
        e = solve_fit(sd, p, p.centre_offset, bd, f);
        if (e.settled) continue;
        const double p2r = col(kP2r)[r], p2i = col(kP2i)[r];
        Sums<long double> s;
        s.hc = col(kHc)[r];
        s.hs = col(kHs)[r];
        s.hcc = (sum_h + static_cast<long double>(p2r)) / 2;
        s.hss = (sum_h - static_cast<long double>(p2r)) / 2;
        s.hcs = static_cast<long double>(p2i) / 2;
        s.hyc = col(kHyc)[r];
        s.hys = col(kHys)[r];
        bd.mu = col(kErr)[r] + 4 * kLongUnit * s_h;
        bd.unit = kLongUnit;
        e = solve_fit(s, p, p.centre_offset, bd, f);
    }
    // (while the chunk's evaluations are still in the cache)
    if (b.unsettled)
        for (std::size_t l = from; l < to; ++l)
            if (!out[l].settled) b.unsettled->push_back(static_cast<std::uint32_t>(l));
}

// A chunk of the block at a time: its columns stay in the cache between
// the two passes, and the workspace holds one chunk's, whatever the block.
template <bool Lanes>
FASOGRAM_SPREAD_INLINE void finish_body(const BlockWork& b, std::span<Evaluation> out) {
    for (std::size_t from = 0; from < out.size(); from += SolveScratch::kChunk)
        finish_part<Lanes>(b, out, from, std::min(out.size(), from + SolveScratch::kChunk));
}

void spread_generic(const BlockWork& b) {
    spread_body<PlainRows>(b);
}
void finish_generic(const BlockWork& b, std::span<Evaluation> out) {
    finish_body<false>(b, out);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define FASOGRAM_NUFFT_X86 1
__attribute__((target("avx2,fma"))) void spread_avx2(const BlockWork& b) {
    spread_body<Avx2Rows>(b);
}
__attribute__((target("avx2,fma"))) void finish_avx2(const BlockWork& b,
                                                     std::span<Evaluation> out) {
    finish_body<true>(b, out);
}
#endif

struct BlockFunctions {
    void (*spread)(const BlockWork&) = spread_generic;
    void (*finish)(const BlockWork&, std::span<Evaluation>) = finish_generic;
};

BlockFunctions pick_block_functions(unsigned most = 4) {
    BlockFunctions f;
#ifdef FASOGRAM_NUFFT_X86
    if (most >= 4 && cpu_has_avx2_fma()) {
        f.spread = spread_avx2;
        f.finish = finish_avx2;
    }
#endif
    return f;
}

BlockFunctions kBlock = pick_block_functions();

} // namespace

std::size_t nufft_group_limit(std::size_t most) {
    if (most < 1 || most > kGroup) throw std::invalid_argument("nufft_group_limit: 1 to 256");
    return std::exchange(group_limit, most);
}

unsigned nufft_kernel_lanes(unsigned most) {
    if (most != 0 && most != 2 && most != 4)
        throw std::invalid_argument("nufft_kernel_lanes: 0, 2 or 4");
    const unsigned at_most = most == 0 ? 4 : most;
    kRow = pick_row_function(at_most);
    kPlace = pick_place_functions(at_most);
    kBlock = pick_block_functions(at_most);
    return kRow.row == row_plain::row ? 2 : 4;
}

void NufftEvaluator::evaluate(std::int64_t first, std::span<Evaluation> out, Workspace& ws,
                              std::vector<std::uint32_t>* unsettled) const {
    const Plan& pl = *plan_;
    const Prepared& p = pl.p;
    const std::size_t count = std::min(out.size(), pl.block);
    if (count == 0) return;
    ++p.counters->nufft_blocks;
    const std::size_t np = p.t.size(), n = pl.n;
    BlockWork b;
    b.p = &p;
    b.grid = &pl.grid;
    b.at_f = &pl.at_f;
    b.at_2f = &pl.at_2f;
    b.phase = ws.phase.data();
    b.hy = pl.hy.data();
    b.u = pl.u.data();
    b.deconv = pl.transform->deconv.data();
    b.alias = pl.transform->alias.data();
    b.l1 = pl.l1.data();
    b.rounding = pl.rounding.data();
    b.common = pl.common.data();
    b.common_kernel = constants().common_kernel;
    b.df = pl.df;
    b.t_mid = pl.t_mid;
    b.u_max = pl.u_max;
    b.first = first;
    b.centre = first + static_cast<std::int64_t>(count / 2);
    b.fc = pl.grid.frequency(b.centre);
    b.n = n;
    // The frequencies exactly as the rest of the engine computes them (the
    // code compiled for processors with fused multiply-add may fuse j df + f).
    for (std::size_t l = 0; l < count; ++l)
        ws.freqs[l] = pl.grid.frequency(first + static_cast<std::int64_t>(l));
    b.freqs = ws.freqs.data();
    b.solve = &ws.solve;
    b.unsettled = unsettled;
    if (unsettled) unsettled->clear();

    // Phase factors of the weights at f_c (t f_c reduced exactly, its
    // cosine and sine within 0.66 units of 2^-53, eight points at a time, as
    // the direct sums anchor theirs); those at 2 f_c are their squares.
    double* ph = ws.phase.data();
    fast_anchor(p.t, b.fc, ws.cos, ws.sin);
    for (std::size_t i = 0; i < np; ++i) {
        ph[2 * i] = ws.cos[i];
        ph[2 * i + 1] = ws.sin[i];
    }
    b.design = pl.design;
    b.slope_err = pl.slope_err.data();
    b.turn_f = pl.turn_f;
    b.turn_2f = pl.turn_2f;
    for (std::size_t k = 0; k < kTransforms; ++k) {
        if (pl.design && (k == 2 || k == 3 || k == 5)) continue;
        b.cells[k] = ws.cells[k].get();
        std::memset(b.cells[k], 0, 2 * (n + kPad) * sizeof(double));
    }
    kBlock.spread(b);
    probe_room_for_fftw(pl.n);
    for (double* gk : b.cells) {
        if (!gk) continue;
        ++p.counters->nufft_ffts;
        for (std::size_t j = 0; j < 2 * kPad; ++j) gk[j] += gk[2 * n + j];
        auto* data = reinterpret_cast<fftw_complex*>(gk);
        fftw_execute_dft(pl.transform->fft.get(), data, data);
    }
    kBlock.finish(b, out.subspan(0, count));
}

namespace {

// Estimated costs in nanoseconds of one thread's work, measured on an
// x86-64 machine with AVX-512 (the ratios matter, not the units), and the
// same divided by the threads each part runs on.  Both paths fit every
// frequency.  The direct sums cost per call, per point and frequency, per
// frequency and per point (the tables of the steps); the transforms per
// call, per point (placing the points and their kernel values, on two
// threads), per point and block (spreading), per grid cell of each block's
// six FFTs and per frequency (the kernel tables and FFT plans are kept from
// call to call).  The share of frequencies evaluated again the careful way
// (about 45 ns per point each) was about 6e-4 for the direct sums and
// 1.5e-4 for the transforms on series of hundreds to thousands of points.
// The figures per point and per frequency of both paths were taken again
// once the transforms' kernel values came from polynomials (bench/spectrum/
// path_choice, one thread: the transforms 160 ns a point at 100
// frequencies, 84 ns a frequency past the FFTs at 30000; the direct sums
// 115 ns a frequency and 35 a point besides their 0.6 a pair).
struct PathCosts {
    double direct_work = 0.0, direct = 0.0, nufft_work = 0.0, nufft = 0.0;
};

PathCosts path_costs(const Prepared& series, const FrequencyGrid& grid, unsigned threads) {
    PathCosts c;
    const double points = static_cast<double>(series.t.size());
    const double count = static_cast<double>(grid.size());
    const double cores = static_cast<double>(std::max(1u, threads));
    const double careful = 45.0 * points * count;
    c.direct_work = 2e4 + 0.6 * points * count + 115.0 * count + 35.0 * points + 6e-4 * careful;
    c.direct = c.direct_work / std::min(cores, std::ceil(count / static_cast<double>(kFastGroup)));
    const unsigned workers = std::min(std::max(1u, threads), 8u);
    const double block = static_cast<double>(NufftEvaluator::choose_block(grid.size(), 1));
    const double n = 2.0 * block;
    const double blocks = std::ceil(count / block);
    const double per_block = blocks * (55.0 * points + 2.1 * n * std::log2(n)) + 84.0 * count;
    c.nufft_work = 5e4 + 105.0 * points + per_block + 1.5e-4 * careful;
    c.nufft = 5e4 + 105.0 * points / std::min(cores, 2.0) +
              per_block / std::min(static_cast<double>(workers), blocks) + 1.5e-4 * careful / cores;
    return c;
}

GridPath path_for(const Prepared& series, const FrequencyGrid& grid, GridPath forced,
                  const PathCosts& c) {
    const double df = grid.step();
    const double f_max = std::max(std::fabs(grid.f_ini), std::fabs(grid.f_fin));
    // The transforms need a proper step and doubled frequencies that stay
    // finite.
    if (!(df > 0.0) || !std::isfinite(df) || !(f_max < 1e300) ||
        !std::isfinite(4.0 * f_max * series.t_max))
        return GridPath::direct;
    // The rounding of the grid frequencies (at most a few units of 2^-53 f)
    // times the half span of the times, in radians, must stay small enough
    // for its second order to be far below the rounding (under 1e-17);
    // beyond that nearly every frequency would be evaluated again.
    const double half_span = (series.t.back() - series.t.front()) / 2;
    if (!(2 * kPi * std::ldexp(f_max, -51) * half_span < 4e-9)) return GridPath::direct;
    if (forced != GridPath::automatic) return forced;
    // The transforms where they take less work and no more than half as
    // long again (a single block runs on one thread where the direct sums
    // take every core), or where they are the faster.
    if (c.nufft < c.direct) return GridPath::nufft;
    return c.nufft < 1.5 * c.direct && c.nufft_work < c.direct_work ? GridPath::nufft
                                                                    : GridPath::direct;
}

} // namespace

GridPath choose_grid_path(const Prepared& series, const FrequencyGrid& grid, unsigned threads,
                          GridPath forced, double* work) {
    // The machine's cores, not the call's threads: the path, and with it
    // every bit of the results, must not depend on the thread count.
    // A call whose work is small either way runs on the calling thread
    // where the engine chooses the threads (kSmallCallWork): its paths are
    // compared on one.
    (void)threads;
    PathCosts c = path_costs(series, grid, std::max(1u, std::thread::hardware_concurrency()));
    if (c.direct_work < kSmallCallWork && c.nufft_work < kSmallCallWork)
        c = path_costs(series, grid, 1);
    const GridPath path = path_for(series, grid, forced, c);
    if (work != nullptr) *work = path == GridPath::nufft ? c.nufft_work : c.direct_work;
    return path;
}

} // namespace fasogram::detail
