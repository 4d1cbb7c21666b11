// The kernel values the transforms of spectrum_nufft.cpp spread with, for
// the engine's tests.
//
// The kernel is phi(z) = exp(beta (sqrt(1 - z^2) - 1)), |z| < 1, over 20
// cells: a point at offset x (-1/2 <= x < 1/2 past the middle of its cell)
// gives cell j the value phi((j - 9.5 - x)/10).  Each cell's value is a
// polynomial in x of degree kKernelDegree (tools/gen_kernel.py fits them,
// nufft_kernel_table.inc holds them), evaluated by Horner's rule, the cells
// side by side in vectors.  Two kinds of error:
//   - the polynomials, evaluated exactly, differ from phi by what rounding
//     their coefficients to doubles (the first two to double-doubles, whose
//     low parts are added at the end) makes, the same for every point at
//     an offset: at most kernel_approximation_bound() summed over a row,
//     which the transforms' bound takes whole, times the sum of the
//     weights' moduli;
//   - the roundings of Horner's rule, at most the row's stated allowance
//     for each cell (a constant of the cell: one rounding of each step's
//     result, and of its product where the code does not fuse them, each
//     carried through the steps after it, with |x| at most 1/2, and the
//     last addition's), which the transforms' bound counts with its other
//     roundings.
#pragma once

#include <cstddef>

namespace fasogram::detail {

inline constexpr int kKernelWidth = 20;
inline constexpr double kKernelBeta = 2.3 * kKernelWidth;
#include "nufft_kernel_table.inc"

// The difference stencils (tools/gen_stencil.py) that give the transforms'
// first-order term on fine grids: for |theta| <= reach, 2 sum_k a[k-1]
// sin(k theta) is theta within bound (see spectrum_nufft.cpp).
#include "nufft_stencil_table.inc"

// The 20 kernel values of a point at x, -1/2 <= x < 1/2, and the allowance
// for the rounding of each, in units of 2^-53 (absolute).
void kernel_row(double x, double* v, double* err);

// A bound of the sum over the 20 cells of |value - phi| for a point
// anywhere, where value is the cell's polynomial evaluated exactly.
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
