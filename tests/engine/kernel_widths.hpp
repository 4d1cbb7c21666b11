// The engine's processor-dependent code switched to a narrower vector width
// for the lifetime of one of these, and back to the widest after, for tests
// that run the same checks on every width the processor has.  `lanes` is
// the width taken (the processor may not have the one asked for).
#pragma once

#include "nufft_kernel.hpp"
#include "spectrum_internal.hpp"
#include "spectrum_solve_batch.hpp"

#include <vector>

namespace fasogram::test_widths {

// The fast sums' kernels (2, 4 or 8 lanes), their anchor included.
struct FastWidth {
    unsigned lanes;
    explicit FastWidth(unsigned most) : lanes(detail::fast_kernel_lanes(most)) {}
    ~FastWidth() { detail::fast_kernel_lanes(0); }
    FastWidth(const FastWidth&) = delete;
    FastWidth& operator=(const FastWidth&) = delete;
};

// The transforms' kernel rows, placing, spreading and fits (2 or 4 lanes).
struct TransformWidth {
    unsigned lanes;
    explicit TransformWidth(unsigned most) : lanes(detail::nufft_kernel_lanes(most)) {}
    ~TransformWidth() { detail::nufft_kernel_lanes(0); }
    TransformWidth(const TransformWidth&) = delete;
    TransformWidth& operator=(const TransformWidth&) = delete;
};

// The vectors that solve the fits of the fast sums and the transforms
// (2, 4 or 8 lanes).
struct SolveWidth {
    unsigned lanes;
    explicit SolveWidth(unsigned most) : lanes(detail::solve_batch_lanes(most)) {}
    ~SolveWidth() { detail::solve_batch_lanes(0); }
    SolveWidth(const SolveWidth&) = delete;
    SolveWidth& operator=(const SolveWidth&) = delete;
};

// Of `candidates`, widest first, those that Width takes as asked on this
// processor.
template <class Width> std::vector<unsigned> widths_here(std::vector<unsigned> candidates) {
    std::vector<unsigned> here;
    for (const unsigned most : candidates) {
        const Width w(most);
        if (w.lanes == most) here.push_back(most);
    }
    return here;
}

} // namespace fasogram::test_widths
