// The fits of a run of frequencies solved together, in vectors of two,
// four or eight lanes: the same operations, in the same order, as
// solve_fit<double> with eight printed digits, so that each lane's values
// and bounds are those that function gives, bit for bit.  Only the lanes
// the quick test of settled() proves settled are finished here; every
// other lane (an unusual fit, values out of the normal range, digits near a
// rounding boundary) is left to the caller for solve_fit.
#pragma once

#include "spectrum_internal.hpp"

#include <cstddef>
#include <cstdint>

namespace fasogram::detail {

// The sums of the fits by column (one array per field of Sums<double>, and
// the bounds mu and eta of SumBounds), and each fit's frequency.
struct SumColumns {
    const double *hc = nullptr, *hs = nullptr, *hcc = nullptr, *hcs = nullptr, *hss = nullptr,
                 *hyc = nullptr, *hys = nullptr;
    const double *mu = nullptr, *eta = nullptr;
    const double* f = nullptr;
};

// Solves fits 0 .. count-1 as solve_fit<double>(sums, p, offset, {mu, eta,
// unit}, f) would.  Fit i whose digits are proved settled gets its
// evaluation in out[where[i]] (out[i] where `where` is null) and done[i] =
// 1; the others get done[i] = 0 and their out untouched (all of them
// while the engine's tests record sums or fits).  `bounds`, where
// not null, gets for each settled fit the bounds of rho, C1, C2 and C3
// (4 i .. 4 i + 3), as solve_fit states them (for the engine's tests).
// `width` is the number of lanes: 0 for the widest the processor has,
// otherwise 2, 4 or 8 where the processor has them (tests).
void solve_batch(const SumColumns& s, std::size_t count, const Prepared& p, dd::DD offset,
                 double unit, Evaluation* out, const std::uint32_t* where, std::uint8_t* done,
                 double* bounds = nullptr, unsigned width = 0);

// The widest width solve_batch can take on this processor.
unsigned solve_batch_widest();

// The width solve_batch takes where its caller leaves it: at most `most`
// lanes (2, 4 or 8; 0: the widest the processor has), where the processor
// has them, for the engine's tests of every width through the engine's own
// calls; not while a call runs.  Returns the width taken.
unsigned solve_batch_lanes(unsigned most);

} // namespace fasogram::detail
