// An independent evaluation of the sinusoid fit in quadruple precision, to
// judge the engine: weights 1 + cos(2 pi (t - t_mid)/D) (divided by sigma^2
// for a series with measurement errors) and phases from the
// exact product t*f in 113-bit arithmetic, the 3 x 3 normal equations of the
// centred values solved by Gaussian elimination, and the fitted power from a
// second pass over the points.
#pragma once

#include <quadmath.h>

#include <span>
#include <string>
#include <vector>

namespace fasogram::reference {

using quad = __float128;

struct Point {
    quad rho = 0, c1 = 0, c2 = 0, c3 = 0;
    bool singular = false; // the points sit on at most two phases
};

class Reference {
  public:
    Reference(std::span<const double> t, std::span<const double> x, bool hanning);
    // With the measurement error sigma[i] of every value.
    Reference(std::span<const double> t, std::span<const double> x, std::span<const double> sigma,
              bool hanning);
    Point fit(double f) const;

  private:
    std::vector<double> t_;
    std::vector<quad> h_, xc_;
    quad sum_ = 0, mean_ = 0, var_ = 0;
};

// Whether a value the program printed is the reference value correctly
// rounded to its eight significant digits (either rounding where the
// reference lies within 1e-11 of a rounding boundary).  `printed` is the
// 15-character table field.
bool rounds_to(const std::string& printed, quad exact);

std::string to_string(quad v);

// A double as the spectrum table prints it (15 characters, eight significant
// digits, "E" and a two-digit exponent, or the sign and three digits alone),
// written here from glibc's correctly rounded printf for the tests' own use.
std::string table_field(double value);

} // namespace fasogram::reference
