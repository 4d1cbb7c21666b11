// Fast evaluation of the weighted least-squares sinusoid fit over a regular
// frequency grid.
//
// At every trial frequency f the series is fitted with
//     Y = C1 + C2 cos(2 pi f t) + C3 sin(2 pi f t)
// by weighted least squares (weights normalised to sum 1) and the spectral
// correlation coefficient rho = |(P - m^2) / V| is reported, where P is the
// weighted mean square of the fitted curve, m the weighted mean and V the
// weighted variance of the data.
//
// The engine computes the same quantities as the straightforward evaluation
// (one reduction, cosine and sine per point and frequency, a second pass for
// P), but
//   - reduces t*f to whole cycles exactly (an FMA two-product), so the phases
//     stay accurate for large times such as Julian days;
//   - advances the phases from one frequency to the next by a rotation and
//     re-anchors them exactly every few hundred frequencies;
//   - works on the series centred on its weighted mean, so that P - m^2 and
//     the coefficients need no cancelling subtraction;
//   - solves the 3 x 3 normal equations in extended precision;
//   - runs the frequencies on all cores, with a vector path chosen at run
//     time for the processor.
#pragma once

#include <cstddef>
#include <span>

namespace fasogram {

// The outcome of the fit at one frequency.
struct SineFit {
    double c1 = 0;  // constant term
    double c2 = 0;  // cosine amplitude
    double c3 = 0;  // sine amplitude
    double rho = 0; // spectral correlation coefficient
};

// Fits the series (t, x) with normalised weights w at every frequency of
// `freqs`, which must be a regular grid of step `df` (freqs[k] equal to
// freqs[0] + k*df up to rounding; the exact values in `freqs` are the ones
// used).  Results go to `out`, one per frequency, in order.  `threads` 0
// uses every core.
void fit_spectrum_fast(std::span<const double> t, std::span<const double> w,
                       std::span<const double> x, std::span<const double> freqs, double df,
                       std::span<SineFit> out, unsigned threads = 0);

} // namespace fasogram
