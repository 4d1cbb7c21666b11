// Computes a spectrum the way the program does and writes every point with
// full precision, for comparisons with other software.
//
//   spectrum_dump SERIES h|c F_INI F_FIN N_POINTS OUT
//
// SERIES holds time-value pairs; OUT gets "f rho c1 c2 c3" lines.  The time
// taken by the computation alone is printed on stdout.
#include "fasogram/spectrum.hpp"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: spectrum_dump SERIES h|c F_INI F_FIN N_POINTS OUT\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::vector<double> t, x;
    for (double a, b; in >> a >> b;) {
        t.push_back(a);
        x.push_back(b);
    }
    if (t.size() < 2) {
        std::fprintf(stderr, "spectrum_dump: no series in %s\n", argv[1]);
        return 2;
    }
    using namespace fasogram;
    const Window window = argv[2][0] == 'c' ? Window::square : Window::hanning;
    const SpectrumEngine engine(t, x, window);
    FrequencyGrid grid{std::stod(argv[3]), std::stod(argv[4]), std::stoll(argv[5]),
                       engine.line_width()};

    const auto t0 = std::chrono::steady_clock::now();
    const Spectrum s = compute_spectrum(engine, grid);
    const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::FILE* out = std::fopen(argv[6], "w");
    if (!out) {
        std::fprintf(stderr, "spectrum_dump: cannot write %s\n", argv[6]);
        return 2;
    }
    for (const SpectrumPoint& p : s.points)
        std::fprintf(out, "%.17g %.17g %.17g %.17g %.17g\n", p.f, p.rho, p.c1, p.c2, p.c3);
    std::fclose(out);
    std::printf("%.6f\n", sec);
    return 0;
}
