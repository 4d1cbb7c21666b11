// The highest peaks of a spectrum, each refined to the maximum of rho
// between its grid neighbours.
#pragma once

#include "spectrum.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace fasogram {

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
