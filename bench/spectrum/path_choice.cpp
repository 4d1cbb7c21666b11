// The engine's choice between the direct sums and the transforms, against
// both forced, size by size, on one thread: CPU milliseconds of each path
// (medians of 7 runs, the two paths alternately) and which one the
// automatic choice takes.
//
//   path_choice [POINTS,...] [FREQUENCIES,...]
//       (default: 100,300,1000,3554,20000,100000  10,100,300,1000,3000,10000)
//
// The series: clear nights of the observing seasons over 3000 days, a few
// points each, from JD 2455000; a cosine of 2.7 d and noise; frequencies
// 0.001 to 5 cycles a day, square window.
#include "bench_support.hpp"
#include "fasogram/spectrum.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace fasogram;

const auto cpu_seconds = bench::process_cpu_seconds;

std::vector<long> numbers(const char* text) {
    std::vector<long> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(std::atol(item.c_str()));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<long> sizes = numbers(argc > 1 ? argv[1] : "100,300,1000,3554,20000,100000");
    const std::vector<long> grids = numbers(argc > 2 ? argv[2] : "10,100,300,1000,3000,10000");
    std::printf("| N | M | direct CPU ms | transforms CPU ms | automatic | its cost / the "
                "cheaper |\n|---:|---:|---:|---:|---|---:|\n");
    for (const long n : sizes) {
        const bench::Series s = bench::survey(static_cast<std::size_t>(n));
        EngineOptions direct_only, transforms_only;
        direct_only.path = GridPath::direct;
        transforms_only.path = GridPath::nufft;
        const SpectrumEngine direct(s.t, s.x, Window::square, direct_only);
        const SpectrumEngine transforms(s.t, s.x, Window::square, transforms_only);
        const SpectrumEngine automatic(s.t, s.x, Window::square);
        for (const long m : grids) {
            const FrequencyGrid grid{0.001, 5.0, m - 1, 0.0};
            std::vector<double> cost[2];
            double sum = 0.0;
            for (int r = 0; r < 8; ++r)
                for (int k = 0; k < 2; ++k) {
                    const double c0 = cpu_seconds();
                    (k == 0 ? direct : transforms)
                        .run(
                            grid, [&](const SpectrumPoint& p) { sum += p.rho; }, 1);
                    if (r > 0) cost[k].push_back(cpu_seconds() - c0); // the first warms up
                }
            for (auto& c : cost) std::sort(c.begin(), c.end());
            const double d = 1e3 * cost[0][3], t = 1e3 * cost[1][3];
            const bool chose_transforms = automatic.path_for(grid, 1) == GridPath::nufft;
            std::printf("| %ld | %ld | %.3f | %.3f | %s | %.2f |\n", n, m, d, t,
                        chose_transforms ? "transforms" : "direct",
                        (chose_transforms ? t : d) / std::min(d, t));
            if (!(sum == sum)) std::printf("(a NaN rho)\n");
        }
    }
    return 0;
}
