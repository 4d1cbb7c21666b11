// The kernel values the transforms of spectrum_nufft.cpp spread with, and
// the exponential they are computed by, exposed for the engine's tests.
//
// The kernel is phi(z) = exp(-e(z)), e(z) = beta z^2 / (1 + sqrt(1 - z^2)),
// over 20 cells.  Its values are computed four cells at a time: e(z) by the
// correctly rounded division and square root, and exp(-e) as
//     exp(a) = 2^k 2^(j/32) exp(r),  a = -e = (32 k + j) ln2/32 + r,
// with |r| <= ln2/64 (Cody and Waite's reduction, exact but for the last
// step), 2^(j/32) from a table of double-double values, and exp(r) - 1 by
// its Taylor polynomial of degree 7.  Two kinds of error:
//   - roundings, at most kKernelExpUnits units of 2^-53 of the value, which
//     the transforms' bound counts with its other roundings;
//   - the polynomial's truncation (and the rounding of its coefficients and
//     table entries), at most kKernelExpTruncation of the value and, where
//     it comes near that, of one sign (the polynomial falls short of the
//     exponential): the transforms' bound takes it whole, as
//     kernel_approximation_bound() times the sum of the weights' moduli.
#pragma once

#include <cstddef>
#include <span>

namespace fasogram::detail {

inline constexpr int kKernelWidth = 20;
inline constexpr double kKernelBeta = 2.3 * kKernelWidth;

// The constants of the exponential, for the tests that evaluate the same
// formula exactly.
struct KernelExpConstants {
    double shift;     // 1.5 * 2^52: adding it rounds to a whole number
    double c;         // 32/ln2, rounded
    double l1, l2;    // ln2/32 = l1 + l2, l1 with 40 bits (k l1 exact)
    double coef[6];   // 1/2, 1/3!, ..., 1/7!, rounded
    const double* hi; // 2^(j/32) = hi[j] + lo[j], j = 0 .. 31
    const double* lo;
};
const KernelExpConstants& kernel_exp_constants();

// The rounding of a kernel value in units of 2^-53 of itself, and the
// largest relative error of the formula evaluated exactly (|r| up to
// ln2/64 and a hair: 4.75e-21 from the truncation at r = -ln2/64, the rest
// from the coefficients, table and reduction constants).
inline constexpr double kKernelExpUnits = 1.1;
inline constexpr double kKernelExpTruncation = 4.8e-21;

// exp(-e) as the transforms compute it, for e in [0, 47], four at a time
// with the processor's vector code where it has it.
void kernel_exp(std::span<const double> e, std::span<double> out);

// The 20 kernel values of a point at x, -1/2 <= x < 1/2 past the middle of
// its cell (cell j at distance j - 9.5 - x), their exponents e (0 where the
// value is 0) and the rounding of each value in units of 2^-53 of itself
// (the exponential's and the exponent's; on values below 1e-11, next to
// the kernel's ends, to first order).
void kernel_row(double x, double* v, double* e, double* units);

// A bound of the sum over the 20 cells of |value - phi| for a point
// anywhere, where value is the formula evaluated exactly:
// kKernelExpTruncation times the largest sum of the kernel's values.
double kernel_approximation_bound();

// The transforms' code of at most `most` lanes (2: the plain two-lane code
// every processor has, whose multiply-adds are fused or not as the compiler
// makes them; 4: AVX2 with fused multiply-adds; 0: the widest the processor
// has), where the processor has it, for the engine's tests of every width:
// the kernel rows, the placing of the points and the spreading and fits of
// each block.  Not while a call runs or an evaluator lives.  Returns the
// width taken.
unsigned nufft_kernel_lanes(unsigned most);

// The most points the transforms add up on cells of their own before
// adding their sums onto the transform's (1 to 256, 256 unless set; 1:
// every point straight onto the transform's cells), for the engine's
// tests.  Not while a call runs or an evaluator lives.  Returns the limit
// before.
std::size_t nufft_group_limit(std::size_t most);

} // namespace fasogram::detail
