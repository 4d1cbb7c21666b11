// The cost of one row of the transforms' kernel values (20 cells of a point,
// the widest code the processor runs, and the two-lane code every processor
// has), through detail::kernel_row: CPU and wall nanoseconds per row over
// offsets spread across a cell, the best of R rounds.
//
//   kernel_row_cost [ROWS] [--rounds R]     (default 2000000 rows, 5 rounds)
#include "bench_support.hpp"
#include "nufft_kernel.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

int main(int argc, char** argv) {
    using namespace fasogram;
    long rows = 2000000;
    int rounds = 5;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--rounds") == 0 && a + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++a]));
        else
            rows = std::max(1L, std::atol(argv[a]));
    }
    for (const unsigned most : {0u, 2u}) {
        const unsigned lanes = detail::nufft_kernel_lanes(most);
        double best_cpu = 1e300, best_wall = 1e300, sum = 0.0;
        for (int r = 0; r < rounds; ++r) {
            double v[detail::kKernelWidth], err[detail::kKernelWidth];
            const double c0 = bench::process_cpu_seconds();
            const auto w0 = std::chrono::steady_clock::now();
            for (long i = 0; i < rows; ++i) {
                detail::kernel_row(static_cast<double>(i % 4096) / 4096.0 - 0.5, v, err);
                sum += v[7];
            }
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
            best_cpu = std::min(best_cpu, bench::process_cpu_seconds() - c0);
            best_wall = std::min(best_wall, wall);
        }
        std::printf("%u lanes: %.1f ns CPU, %.1f ns wall a row (checksum %.6g)\n", lanes,
                    best_cpu / static_cast<double>(rows) * 1e9,
                    best_wall / static_cast<double>(rows) * 1e9, sum);
    }
    detail::nufft_kernel_lanes(0);
}
