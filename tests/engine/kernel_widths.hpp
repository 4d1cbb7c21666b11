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

// One of the engine's width switches (`set(most)` takes at most `most`
// lanes and returns the width taken; 0 restores the widest), held for the
// lifetime of the object.
template <unsigned (*Set)(unsigned)> struct Width {
    unsigned lanes;
    explicit Width(unsigned most) : lanes(Set(most)) {}
    ~Width() { Set(0); }
    Width(const Width&) = delete;
    Width& operator=(const Width&) = delete;
};

// The fast sums' kernels (2, 4 or 8 lanes), their anchor included.
using FastWidth = Width<detail::fast_kernel_lanes>;
// The transforms' kernel rows, placing, spreading and fits (2 or 4 lanes).
using TransformWidth = Width<detail::nufft_kernel_lanes>;
// The vectors that solve the fits of the fast sums and the transforms
// (2, 4 or 8 lanes).
using SolveWidth = Width<detail::solve_batch_lanes>;
// The moments of the peaks' refinement (4: AVX2, 2: the code without it).
using PeakWidth = Width<detail::peak_moment_lanes>;

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
