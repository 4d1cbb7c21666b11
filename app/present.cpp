#include "present.hpp"

namespace fasogram {

void present_spectrum(const SpectrumPlot& /*plot*/, std::istream& /*in*/, std::ostream& /*out*/) {
    // The screen graph and the save dialogue are added here.
}

} // namespace fasogram
