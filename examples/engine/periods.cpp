// The two highest peaks of a series read from standard input (a "time
// value" pair a line, comments and a header allowed), by the fasogram
// engine library.  Build it against the
// installed library:
//   c++ -std=c++20 periods.cpp $(pkg-config --cflags --libs fasogram)
#include <fasogram/series.hpp>
#include <fasogram/spectrum.hpp>

#include <cstdio>
#include <iostream>
#include <stdexcept>

int main() {
    try {
        fasogram::SeriesLayout layout;
        layout.header = true;
        const fasogram::Series series = fasogram::read_series(std::cin, layout);
        const fasogram::SpectrumEngine engine(series.t, series.x, fasogram::Window::hanning);
        const fasogram::FrequencyGrid grid{0.0, 0.5, 5000, engine.line_width()};
        fasogram::PeakFinder finder(2);
        engine.run(grid, [&](const fasogram::SpectrumPoint& p) { finder.add(p); });
        for (const fasogram::Peak& peak : finder.peaks(engine))
            std::printf("period %.4f  rho %.6f  amplitude %.4f\n", peak.period, peak.rho,
                        peak.amplitude);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "periods: %s\n", error.what());
        return 1;
    }
    return 0;
}
