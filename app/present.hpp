// The dialogue's graph on the screen and in files.
#pragma once

#include "plot_spectrum.hpp"

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

// Draws the spectrum on the screen, then asks whether to save the graph as
// BMP, TIFF, PostScript or PDF (answers 1 to 4, 0 ends; other numbers ask
// again) and draws it once more into that file in the current directory.
// End of input or an answer that is not an integer raises FatalError.
void present_spectrum(const SpectrumPlot& plot, std::istream& in, std::ostream& out);

} // namespace fasogram
