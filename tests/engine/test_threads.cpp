// The results do not depend on the number of threads, to the last bit, on
// every path; the threads are those of one pool that every call reuses, from
// any number of calling threads and from inside a call.
#include "fasogram/spectrum.hpp"
#include "multi_fixture.hpp"
#include "nufft_kernel.hpp"
#include "series_fixture.hpp"
#include "spectrum_internal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fasogram {
namespace {

std::vector<SpectrumPoint> points(const SpectrumEngine& engine, const FrequencyGrid& grid,
                                  GridPath path, unsigned threads, Digits digits) {
    EngineOptions options = engine.options();
    options.path = path;
    const_cast<SpectrumEngine&>(engine).set_options(options);
    std::vector<SpectrumPoint> out;
    engine.run(
        grid, [&](const SpectrumPoint& p) { out.push_back(p); }, threads, digits);
    return out;
}

// How many points differ in any bit of any value.
std::size_t differing_bits(const std::vector<SpectrumPoint>& a,
                           const std::vector<SpectrumPoint>& b) {
    std::size_t wrong = a.size() == b.size() ? 0 : 1;
    for (std::size_t j = 0; j < a.size() && j < b.size(); ++j) {
        const double va[] = {a[j].f,        a[j].rho,     a[j].c1,      a[j].c2,     a[j].c3,
                             a[j].tail.rho, a[j].tail.c1, a[j].tail.c2, a[j].tail.c3};
        const double vb[] = {b[j].f,        b[j].rho,     b[j].c1,      b[j].c2,     b[j].c3,
                             b[j].tail.rho, b[j].tail.c1, b[j].tail.c2, b[j].tail.c3};
        wrong += std::memcmp(va, vb, sizeof va) != 0;
    }
    return wrong;
}

TEST(Threads, EveryPathGivesTheSameBitsOnAnyNumberOfThreads) {
    const auto s = testing::observed_series(2450000.5, 2000);
    for (Window w : {Window::hanning, Window::square}) {
        SCOPED_TRACE(w == Window::hanning ? "hanning" : "square");
        const SpectrumEngine engine(s.t, s.x, w);
        // Large enough for several blocks of transforms, and fine enough
        // for their slopes to come from the stencil (three FFTs a block).
        const FrequencyGrid grid{0.0, 5.0, 300000, engine.line_width()};
        const EngineStats before = engine.stats();
        const auto nufft1 = points(engine, grid, GridPath::nufft, 1, Digits::eight);
        EXPECT_GE(engine.stats().nufft_blocks - before.nufft_blocks, 2u)
            << "too few blocks to tell";
        EXPECT_EQ(engine.stats().nufft_ffts - before.nufft_ffts,
                  3 * (engine.stats().nufft_blocks - before.nufft_blocks));
        EXPECT_EQ(nufft1.size(), 300000u);
        for (unsigned threads : {2u, 3u, 8u})
            EXPECT_EQ(differing_bits(nufft1,
                                     points(engine, grid, GridPath::nufft, threads, Digits::eight)),
                      0u)
                << "transforms on " << threads << " threads";
        const FrequencyGrid small{0.1, 3.0, 3000, engine.line_width()};
        const auto direct1 = points(engine, small, GridPath::direct, 1, Digits::eight);
        const auto careful1 = points(engine, FrequencyGrid{0.3, 0.5, 300, engine.line_width()},
                                     GridPath::automatic, 1, Digits::full);
        for (unsigned threads : {2u, 5u}) {
            EXPECT_EQ(differing_bits(
                          direct1, points(engine, small, GridPath::direct, threads, Digits::eight)),
                      0u)
                << "direct sums on " << threads << " threads";
            EXPECT_EQ(
                differing_bits(careful1,
                               points(engine, FrequencyGrid{0.3, 0.5, 300, engine.line_width()},
                                      GridPath::automatic, threads, Digits::full)),
                0u)
                << "every digit on " << threads << " threads";
        }
        // The refined peaks of the grid (several candidates at once).
        const std::vector<Peak> peaks1 = find_peaks(engine, direct1, 6, 1);
        ASSERT_EQ(peaks1.size(), 6u);
        for (unsigned threads : {2u, 4u}) {
            const std::vector<Peak> other = find_peaks(engine, direct1, 6, threads);
            ASSERT_EQ(other.size(), peaks1.size());
            EXPECT_EQ(std::memcmp(other.data(), peaks1.data(), sizeof(Peak) * peaks1.size()), 0)
                << "peaks on " << threads << " threads";
        }
        std::vector<double> freqs;
        for (int k = 0; k < 500; ++k) freqs.push_back(0.37 + 0.0013 * k);
        EXPECT_EQ(differing_bits(engine.fit(freqs, 1), engine.fit(freqs, 4)), 0u);
    }
}

// The printed digits of every value of every point, one line each.
std::vector<std::string> printed(const std::vector<SpectrumPoint>& table) {
    std::vector<std::string> lines;
    for (const SpectrumPoint& p : table) {
        char line[160];
        std::snprintf(line, sizeof line, "%.17g %.7e %.7e %.7e %.7e", p.f, p.rho, p.c1, p.c2, p.c3);
        lines.emplace_back(line);
    }
    return lines;
}

// Nights of many points on a grid of several blocks: the transforms add
// each night's points up on cells of their own (which changes the bits:
// the sums are added in another order), and the results do not depend on
// the threads either.
TEST(Threads, NightsAddedUpTogetherGiveTheSameBitsOnAnyNumberOfThreads) {
    std::vector<double> t, x;
    testing::Uniform uniform(3);
    for (int night = 0; night < 300; ++night)
        for (int i = 0; i < 40; ++i) {
            t.push_back(2455000.3 + 2.0 * night + 0.05 * uniform());
            x.push_back(12.0 + 0.3 * std::sin(t.back() / 1.7) + 0.1 * uniform());
        }
    const SpectrumEngine engine(t, x, Window::square);
    const FrequencyGrid grid{0.0, 2.0, 300000, engine.line_width()};
    const std::size_t blocks = engine.stats().nufft_blocks;
    const auto one = points(engine, grid, GridPath::nufft, 1, Digits::eight);
    EXPECT_GE(engine.stats().nufft_blocks - blocks, 2u) << "too few blocks to tell";
    for (unsigned threads : {2u, 3u})
        EXPECT_EQ(
            differing_bits(one, points(engine, grid, GridPath::nufft, threads, Digits::eight)), 0u)
            << threads << " threads";
    const std::size_t before = detail::nufft_group_limit(1);
    const auto alone = points(engine, grid, GridPath::nufft, 2, Digits::eight);
    detail::nufft_group_limit(before);
    EXPECT_GT(differing_bits(one, alone), 0u) << "no night added up together";
    EXPECT_EQ(printed(one), printed(alone));
}

// Places on the cells that recur (40 measurements at each of 300 whole
// days): each set of positions is placed a second time, by cell, on the
// pool's threads where there are two; the bits stay those of one thread.
TEST(Threads, PlacesThatRecurGiveTheSameBitsOnAnyNumberOfThreads) {
    std::vector<double> t, x;
    testing::Uniform uniform(5);
    for (int night = 0; night < 300; ++night)
        for (int i = 0; i < 40; ++i) {
            t.push_back(2455000.5 + night);
            x.push_back(12.0 + 0.3 * std::sin(night / 1.7) + 0.1 * uniform());
        }
    const SpectrumEngine engine(t, x, Window::square);
    const FrequencyGrid grid{0.0, 0.5, 4096, 0.0};
    const auto one = points(engine, grid, GridPath::nufft, 1, Digits::eight);
    for (unsigned threads : {2u, 3u})
        EXPECT_EQ(
            differing_bits(one, points(engine, grid, GridPath::nufft, threads, Digits::eight)), 0u)
            << threads << " threads";
}

// The direct sums turn the phases from each frequency to the next through a
// table per difference of neighbours, kept by each thread and dropped for
// new ones when a long series' tables would take too much memory: which
// tables a thread still holds must not change a bit.
// (A series so long that its tables take more than 8 MB each turns a run
// by a single difference, anchoring afresh where the next one differs; its
// printed digits must still be the transforms'.)
TEST(Threads, DirectSumsOverMoreStepsThanTheThreadsKeepGiveTheSameBits) {
    struct Case {
        int nights;
        std::int64_t steps;
        std::ptrdiff_t differences; // more than a thread keeps tables for
    };
    for (const Case c : {Case{210000, 4095, 16}, Case{1200000, 255, 4}}) {
        const auto s = testing::observed_series(2450000.5, c.nights);
        ASSERT_GT(s.t.size(), static_cast<std::size_t>(c.nights) * 2 / 5);
        const SpectrumEngine engine(s.t, s.x, Window::square);
        const FrequencyGrid grid{0.0005, 5.0, c.steps, engine.line_width()};
        // Differences of neighbours across thirteen binary orders of
        // frequency: more tables than a thread keeps for this many points.
        std::vector<double> steps;
        for (std::int64_t j = 0; j + 1 < grid.size(); ++j)
            steps.push_back(grid.frequency(j + 1) - grid.frequency(j));
        std::sort(steps.begin(), steps.end());
        ASSERT_GT(std::unique(steps.begin(), steps.end()) - steps.begin(), c.differences);
        const auto one = points(engine, grid, GridPath::direct, 1, Digits::eight);
        ASSERT_EQ(one.size(), static_cast<std::size_t>(grid.size()));
        for (unsigned threads : {2u, 3u})
            EXPECT_EQ(
                differing_bits(one, points(engine, grid, GridPath::direct, threads, Digits::eight)),
                0u)
                << s.t.size() << " points, " << threads << " threads";
        if (c.nights < 1200000) continue;
        const auto lines = printed(one);
        const auto other = printed(points(engine, grid, GridPath::nufft, 2, Digits::eight));
        ASSERT_EQ(lines.size(), other.size());
        std::size_t differ = 0;
        for (std::size_t j = 0; j < lines.size(); ++j) differ += lines[j] != other[j];
        EXPECT_EQ(differ, 0u);
    }
}

// The direct sums' eight-lane code takes two frequencies in each pass over
// the points, the second's phases turned in registers: the same operations
// as two passes, so the same bits, on both windows and a grid whose
// differences of neighbours take several values.
TEST(Threads, DirectSumsTwoFrequenciesAPassGiveTheBitsOfOneAtATime) {
    if (detail::fast_kernel_lanes(0) != 8) GTEST_SKIP() << "no eight-lane code here";
    const auto s = testing::observed_series(2450000.5, 3000);
    for (const Window window : {Window::square, Window::hanning}) {
        const SpectrumEngine engine(s.t, s.x, window);
        const FrequencyGrid grid{0.003, 3.1, 2999, engine.line_width()};
        const auto paired = points(engine, grid, GridPath::direct, 1, Digits::eight);
        detail::fast_kernel_pairs(false);
        const auto single = points(engine, grid, GridPath::direct, 1, Digits::eight);
        detail::fast_kernel_pairs(true);
        ASSERT_EQ(paired.size(), static_cast<std::size_t>(grid.size()));
        EXPECT_EQ(differing_bits(paired, single), 0u);
    }
}

// Where the engine picks the threads, a call whose work is a fraction of a
// millisecond runs on the calling thread alone (the pool's threads would
// cost more CPU time to wake than they save), and a larger one on every
// core: seen from the fits each thread solves.
TEST(Threads, CallsTooSmallToShareRunOnTheCallingThread) {
    const auto s = testing::observed_series(2450000.5, 2000);
    const SpectrumEngine engine(s.t, s.x, Window::square);
    auto fitted_here = [&](const FrequencyGrid& grid) {
        std::vector<detail::FitRecord> records;
        detail::fit_records() = &records;
        std::size_t points = 0;
        engine.run(
            grid, [&](const SpectrumPoint&) { ++points; }, 0);
        detail::fit_records() = nullptr;
        std::vector<double> f;
        for (const auto& r : records) f.push_back(r.point.f);
        std::sort(f.begin(), f.end());
        EXPECT_EQ(points, static_cast<std::size_t>(grid.size()));
        return static_cast<std::size_t>(std::unique(f.begin(), f.end()) - f.begin());
    };
    const FrequencyGrid small{0.1, 3.0, 299, engine.line_width()};
    EXPECT_EQ(fitted_here(small), 300u);
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: nothing to share";
    const FrequencyGrid large{0.1, 3.0, 199999, engine.line_width()};
    EXPECT_LT(fitted_here(large), 200000u);
}

TEST(Threads, RunsOfCarefulFrequenciesGiveTheSameBitsAndTheDigitsOfOneByOne) {
    // Nightly Julian-day sampling regular to 5e-7 d with dropouts: long runs
    // of careful frequencies around the alias 1 c/d (far longer than a
    // segment, so that segments end in the middle of the alias), around its
    // negative, and a shorter one on either side of f = 0 (the frequencies
    // within a hundredth of a line width of it are left out).
    testing::Series s;
    std::uint64_t state = 5;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    for (int d = 0; d < 1500; ++d) {
        if (uniform() < 0.3) continue;
        s.t.push_back(2455000.3 + d + 1e-6 * (uniform() - 0.5));
        s.x.push_back(12.0 + 0.2 * std::sin(0.21 * d) + 0.1 * uniform());
    }
    for (Window w : {Window::hanning, Window::square}) {
        SCOPED_TRACE(w == Window::hanning ? "hanning" : "square");
        const SpectrumEngine engine(s.t, s.x, w);
        const double lw = engine.line_width();
        const FrequencyGrid grids[] = {{1.0 - 1e-4, 1.0 + 1e-4, 1600, lw},
                                       {-1.0 - 1e-4, -1.0 + 1e-4, 1600, lw},
                                       {-1e-4, 1.25e-4, 1800, lw}};
        for (const FrequencyGrid& grid : grids) {
            // Several segments of 32 careful frequencies at the aliases.
            const std::size_t least = grid.f_ini < -0.5 || grid.f_ini > 0.5 ? 64 : 16;
            SCOPED_TRACE(grid.f_ini);
            for (GridPath path : {GridPath::direct, GridPath::nufft}) {
                SCOPED_TRACE(path == GridPath::direct ? "direct" : "transforms");
                const std::size_t before = engine.stats().careful;
                const auto one = points(engine, grid, path, 1, Digits::eight);
                EXPECT_GT(engine.stats().careful - before, least)
                    << "too few careful to tell: " << engine.stats().careful - before;
                for (unsigned threads : {2u, 3u})
                    EXPECT_EQ(
                        differing_bits(one, points(engine, grid, path, threads, Digits::eight)), 0u)
                        << threads << " threads";
                // fit() takes every frequency on its own.
                std::vector<double> freqs;
                for (const SpectrumPoint& p : one) freqs.push_back(p.f);
                EXPECT_EQ(printed(one), printed(engine.fit(freqs, 1)));
            }
            const auto full1 = points(engine, grid, GridPath::automatic, 1, Digits::full);
            for (unsigned threads : {2u, 3u})
                EXPECT_EQ(differing_bits(full1, points(engine, grid, GridPath::automatic, threads,
                                                       Digits::full)),
                          0u)
                    << "every digit on " << threads << " threads";
        }
    }
}

TEST(Threads, SeveralFrequencyAnalysesGiveTheSameBitsOnAnyNumberOfThreads) {
    const auto s = testing::three_sinusoids(17);
    std::vector<double> sigma(s.t.size());
    for (std::size_t i = 0; i < sigma.size(); ++i) sigma[i] = 0.08 + 0.04 * ((i * 7) % 5);
    const HarmonicSpectrum harmonic(s.t, s.x, sigma, Window::hanning, 2);
    // Several blocks of frequencies, so that the threads share them out.
    const FrequencyGrid grid{0.01, 3.0, 6000, harmonic.line_width()};
    auto run = [&](unsigned threads) {
        std::vector<double> bits;
        harmonic.run(
            grid,
            [&](const HarmonicPoint& p) {
                bits.insert(bits.end(), {p.f, p.rho, p.amplitude, p.c0, p.a1, p.b1});
            },
            threads);
        return bits;
    };
    const std::vector<double> one = run(1);
    ASSERT_GT(one.size(), 6u * 5000);
    auto window = [&](unsigned threads) {
        std::vector<double> bits;
        for (const WindowPoint& w : spectral_window(s.t, sigma, Window::square, grid, threads))
            bits.insert(bits.end(), {w.f, w.amplitude});
        return bits;
    };
    const std::vector<double> window1 = window(1);
    PrewhitenOptions options;
    options.max_frequencies = 3;
    options.threads = 1;
    const Prewhitening pw1 = prewhiten(s.t, s.x, sigma, Window::hanning, grid, options);
    ASSERT_EQ(pw1.fit.frequencies.size(), 3u);
    for (unsigned threads : {2u, 3u, 8u}) {
        SCOPED_TRACE(threads);
        const std::vector<double> other = run(threads);
        ASSERT_EQ(other.size(), one.size());
        EXPECT_EQ(std::memcmp(other.data(), one.data(), one.size() * sizeof(double)), 0);
        const std::vector<double> w = window(threads);
        ASSERT_EQ(w.size(), window1.size());
        EXPECT_EQ(std::memcmp(w.data(), window1.data(), w.size() * sizeof(double)), 0);
        options.threads = threads;
        const Prewhitening pw = prewhiten(s.t, s.x, sigma, Window::hanning, grid, options);
        ASSERT_EQ(pw.fit.frequencies.size(), pw1.fit.frequencies.size());
        EXPECT_EQ(std::memcmp(pw.fit.frequencies.data(), pw1.fit.frequencies.data(),
                              pw1.fit.frequencies.size() * sizeof(double)),
                  0);
        ASSERT_EQ(pw.fit.residuals.size(), pw1.fit.residuals.size());
        EXPECT_EQ(std::memcmp(pw.fit.residuals.data(), pw1.fit.residuals.data(),
                              pw1.fit.residuals.size() * sizeof(double)),
                  0);
        ASSERT_EQ(pw.snr.size(), pw1.snr.size());
        EXPECT_EQ(std::memcmp(pw.snr.data(), pw1.snr.data(), pw1.snr.size() * sizeof(double)), 0);
    }
}

TEST(Threads, CallsFromManyThreadsAndFromInsideACallShareThePoolSafely) {
    const auto s = testing::observed_series(2450000.5, 1500);
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const FrequencyGrid grid{0.05, 2.0, 4000, engine.line_width()};
    const auto alone = points(engine, grid, GridPath::direct, 2, Digits::eight);
    // Four callers at once, each asking for three threads.
    std::vector<std::vector<SpectrumPoint>> got(4);
    {
        std::vector<std::thread> callers;
        for (auto& g : got)
            callers.emplace_back([&] {
                engine.run(
                    grid, [&](const SpectrumPoint& p) { g.push_back(p); }, 3);
            });
        for (auto& c : callers) c.join();
    }
    for (const auto& g : got) EXPECT_EQ(differing_bits(alone, g), 0u);
    // A call made from the callback of another (on the calling thread).
    std::size_t inner = 0;
    bool nested = false;
    engine.run(
        FrequencyGrid{0.5, 0.6, 3, engine.line_width()},
        [&](const SpectrumPoint&) {
            if (nested) return;
            nested = true;
            inner = engine.fit(std::vector<double>(100, 0.37), 3).size();
        },
        2);
    EXPECT_EQ(inner, 100u);
}

TEST(Threads, AnInterruptionStopsTheCallAndThePoolGoesOn) {
    const auto s = testing::observed_series(2450000.5, 1500);
    EngineOptions options;
    int calls = 0;
    options.interruption_point = [&] {
        if (++calls == 1) throw std::runtime_error("stop");
    };
    const SpectrumEngine engine(s.t, s.x, Window::hanning, options);
    const FrequencyGrid grid{0.05, 2.0, 20000, engine.line_width()};
    EXPECT_THROW(engine.run(
                     grid, [](const SpectrumPoint&) {}, 4),
                 std::runtime_error);
    std::size_t count = 0;
    engine.run(
        grid, [&](const SpectrumPoint&) { ++count; }, 4);
    EXPECT_EQ(count, 20001u); // both ends of the grid
}

} // namespace
} // namespace fasogram
