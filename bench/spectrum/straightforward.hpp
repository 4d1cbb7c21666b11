// The straightforward evaluation of the sinusoid fit, kept as the yardstick
// of the benchmarks: per frequency one pass over the points computing the
// phase 2 pi t f reduced modulo 2 pi by truncating division, its cosine and
// sine and the sums of the normal equations (doubles, in index order), the
// 3 x 3 system solved by Cramer's rule, and a second pass for P.
#pragma once

#include <span>
#include <vector>

namespace fasogram::bench {

struct StraightFit {
    double c1 = 0, c2 = 0, c3 = 0, rho = 0;
};

class Straightforward {
  public:
    // Hanning (hanning = true) or square window weights of the series, which
    // must be in time order.
    Straightforward(std::span<const double> t, std::span<const double> x, bool hanning);
    StraightFit fosyl(double f);

  private:
    std::span<const double> t_;
    std::vector<double> w_, wx_, ca_, sa_;
    double mean_ = 0, variance_ = 0;
};

} // namespace fasogram::bench
