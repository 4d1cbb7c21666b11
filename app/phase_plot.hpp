// The phase plot of a fitted frequency: the series folded at its period over
// two cycles, the other frequencies taken out, with the model curve.
#pragma once

#include "fasogram/spectrum.hpp"
#include "plot_spectrum.hpp"

#include <span>
#include <string>
#include <vector>

namespace fasogram {

struct PhaseFold {
    double frequency = 0.0;
    double c0 = 0.0;
    std::vector<float> x, y;             // phase (0 to 2) and value less C0, each point twice
    std::vector<float> curve_x, curve_y; // the model, less C0
};

// Folds the series (the values the fit was made to) at frequency k of the
// fit: phase = frac(f_k (t - epoch)); value = residual + frequency k's
// harmonics.
PhaseFold fold_series(const MultiFit& fit, std::size_t k, std::span<const double> t);

// Draws the fold on a page as SpectrumGraph::draw does the spectrum: the
// points as small dark crosses and the model in the page's curve colour.
void draw_phase_plot(const PhaseFold& fold, const GraphPage& page);

} // namespace fasogram
