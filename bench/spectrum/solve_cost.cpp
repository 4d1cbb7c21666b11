// The cost of solving the fits from their sums: solve_fit<double> one
// frequency at a time against solve_batch in vectors of two, four and
// eight lanes (those the processor has).  Prints, for each, the median over
// the rounds of CPU and wall nanoseconds per fit, and the share of fits
// the vectors settle (the rest go to solve_fit, whose time is counted).
//
//   solve_cost [POINTS] [--frequencies M] [--rounds R]
//
// The sums are those of POINTS (default 300) survey-like times and values
// (bench_support.hpp), square window, at M (default 100000) frequencies
// over 0.001 .. 5 cycles a day, taken once in long double; the bounds are
// a few units of 2^-53 of the sums, as the transforms' are.
#include "bench_support.hpp"
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"
#include "spectrum_solve_batch.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace fasogram;

struct Columns {
    std::vector<double> c[10];
    detail::SumColumns view() const {
        return {c[0].data(), c[1].data(), c[2].data(), c[3].data(), c[4].data(),
                c[5].data(), c[6].data(), c[7].data(), c[8].data(), c[9].data()};
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const auto [n, m, rounds] = bench::read_size(argc, argv, {300, 100000, 7});
    const bench::Series s = bench::survey(n);
    const detail::Prepared p = detail::prepare_series(s.t, s.x, {}, Window::square);
    const double unit = 0x1p-53;
    Columns cols;
    for (auto& c : cols.c) c.resize(m);
    const long double sum_h = dd::to_long_double(p.sum_h);
    for (std::size_t k = 0; k < m; ++k) {
        const double f = 0.001 + (5.0 - 0.001) * static_cast<double>(k) / static_cast<double>(m);
        long double hc = 0, hs = 0, hcc = 0, hcs = 0, hyc = 0, hys = 0;
        for (std::size_t i = 0; i < p.t.size(); ++i) {
            const long double ph = 2 * 3.14159265358979323846L * std::fmod(p.t[i] * f, 1.0);
            const long double c = std::cos(ph), sn = std::sin(ph), h = p.h[i];
            hc += h * c;
            hs += h * sn;
            hcc += h * c * c;
            hcs += h * c * sn;
            hyc += h * p.y[i] * c;
            hys += h * p.y[i] * sn;
        }
        const double row[10] = {static_cast<double>(hc),
                                static_cast<double>(hs),
                                static_cast<double>(hcc),
                                static_cast<double>(hcs),
                                static_cast<double>(sum_h - hcc),
                                static_cast<double>(hyc),
                                static_cast<double>(hys),
                                8 * unit * static_cast<double>(sum_h),
                                8 * unit * static_cast<double>(std::fabs(hyc) + std::fabs(hys)),
                                f};
        for (int j = 0; j < 10; ++j) cols.c[j][k] = row[j];
    }
    const detail::SumColumns v = cols.view();
    std::vector<detail::Evaluation> out(m);
    std::vector<std::uint8_t> done(m);
    auto scalar_one = [&](std::size_t k) {
        const detail::Sums<double> u{v.hc[k],  v.hs[k],  v.hcc[k], v.hcs[k],
                                     v.hss[k], v.hyc[k], v.hys[k]};
        detail::SumBounds b;
        b.mu = v.mu[k];
        b.eta = v.eta[k];
        b.unit = unit;
        out[k] = detail::solve_fit(u, p, p.centre_offset, b, v.f[k]);
    };
    std::printf("%zu points, %zu fits, %d rounds (medians, ns per fit)\n", n, m, rounds);
    std::vector<unsigned> widths{0, 2};
    if (detail::solve_batch_widest() >= 4) widths.push_back(4);
    if (detail::solve_batch_widest() >= 8) widths.push_back(8);
    for (unsigned w : widths) {
        std::vector<double> cpu, wall;
        std::size_t settled = 0;
        for (int r = 0; r < rounds; ++r) {
            const double c0 = bench::thread_cpu_seconds(), w0 = bench::wall_seconds();
            settled = 0;
            if (w == 0) {
                for (std::size_t k = 0; k < m; ++k) scalar_one(k);
            } else {
                detail::solve_batch(v, m, p, p.centre_offset, unit, out.data(), nullptr,
                                    done.data(), nullptr, w);
                for (std::size_t k = 0; k < m; ++k)
                    if (done[k])
                        ++settled;
                    else
                        scalar_one(k);
            }
            cpu.push_back((bench::thread_cpu_seconds() - c0) * 1e9 / static_cast<double>(m));
            wall.push_back((bench::wall_seconds() - w0) * 1e9 / static_cast<double>(m));
        }
        std::printf("%-8s cpu %7.2f  wall %7.2f",
                    w == 0 ? "scalar" : ("lanes " + std::to_string(w)).c_str(), median(cpu),
                    median(wall));
        if (w != 0)
            std::printf("  settled in vectors %.4f",
                        static_cast<double>(settled) / static_cast<double>(m));
        std::printf("\n");
    }
    return 0;
}
