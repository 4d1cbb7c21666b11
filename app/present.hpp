#pragma once

#include "spectrum.hpp"

#include <istream>
#include <ostream>

namespace fasogram {

// What the graph of the spectrum needs: the curve and the frequency limits
// the user asked for.
struct SpectrumPlot {
    const PlotArrays& curve;
    double f_ini = 0.0;
    double f_fin = 0.0;
};

// Draws the spectrum on the screen and runs the save dialogue.  The graph
// and the save dialogue are not built yet: for now this does nothing and
// the run ends right after the table is closed.
void present_spectrum(const SpectrumPlot& plot, std::istream& in, std::ostream& out);

} // namespace fasogram
