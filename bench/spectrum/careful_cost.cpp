// The cost of the careful evaluation of one frequency on its own: every
// phase reduced exactly, its cosine and sine and the sums in double-double.
// Prints CPU time and wall time per point and frequency, with the number of
// fits that needed more than double-double (those time the multiple
// precision too, and should be none here).
//
//   careful_cost [POINTS] [--frequencies M] [--rounds R] [--path any|4|scalar]
//
// The series: POINTS (default 100000) times over 3000 days as a survey
// samples a star, a few points on clear nights of the observing seasons,
// values 12 + 0.3 cos(2 pi t/2.7) plus noise of 0.1, square window; M
// (default 200) frequencies scattered over 0.001 .. 5 cycles a day, each
// evaluated R (default 3) times.
#include "bench_support.hpp"
#include "spectrum_internal.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace fasogram;

using bench::Series;
using bench::survey;
using bench::wall_seconds;
const auto cpu_seconds = bench::thread_cpu_seconds;

} // namespace

int main(int argc, char** argv) {
    std::string path = "any";
    const auto [n, m, rounds] = bench::read_size(argc, argv, {100000, 200, 3},
                                                 [&](const std::string& a, const std::string& v) {
                                                     if (a != "--path") return false;
                                                     path = v;
                                                     return true;
                                                 });
    const Series s = survey(n);
    detail::Prepared p = detail::prepare_series(s.t, s.x, {}, Window::square);
    p.careful_lanes = path != "scalar";
    if (path == "4") p.careful_width = 4;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> freq(0.001, 5.0);
    std::vector<double> f(m);
    for (double& v : f) v = freq(rng);

    std::vector<detail::FitRecord> records;
    detail::fit_records() = &records;
    double checksum = 0.0;
    const double c0 = cpu_seconds(), w0 = wall_seconds();
    for (int r = 0; r < rounds; ++r)
        for (const double v : f) checksum += detail::evaluate_careful(p, v).point.rho;
    const double cpu = cpu_seconds() - c0, wall = wall_seconds() - w0;
    detail::fit_records() = nullptr;
    std::size_t wider = 0;
    for (const auto& rec : records) wider += rec.precision > 106;
    const double pairs = static_cast<double>(n) * static_cast<double>(m) * rounds;
    std::printf("points %zu frequencies %zu rounds %d path %s: cpu %.2f ns, wall %.2f ns per "
                "point and frequency; %zu of %zu fits wider than double-double (sum of rho "
                "%.17g)\n",
                n, m, rounds, path.c_str(), 1e9 * cpu / pairs, 1e9 * wall / pairs, wider,
                records.size(), checksum);
    return 0;
}
