// Large grids go through blocks of non-uniform FFTs; the table they give is
// byte for byte the one of the direct sums, on the series and grids where
// that is hardest: Julian-day times with gaps, a large mean, near-singular
// fits of daily sampling, a handful of points, steps that are not exact in
// binary, negative frequencies.
#include "fasogram/spectrum.hpp"
#include "kernel_widths.hpp"
#include "nufft_kernel.hpp"
#include "series_fixture.hpp"
#include "spectrum_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fasogram {
namespace {

std::string table_line(const SpectrumPoint& p) {
    using reference::table_field;
    return table_field(p.f) + table_field(p.rho) + table_field(p.c1) + table_field(p.c2) +
           table_field(p.c3);
}

// Forces one path on an engine for as long as it lives.
class ForcedPath {
  public:
    ForcedPath(const SpectrumEngine& engine, GridPath path)
        : engine_(const_cast<SpectrumEngine&>(engine)), before_(engine.options()) {
        EngineOptions forced = before_;
        forced.path = path;
        engine_.set_options(forced);
    }
    ~ForcedPath() { engine_.set_options(before_); }
    ForcedPath(const ForcedPath&) = delete;
    ForcedPath& operator=(const ForcedPath&) = delete;

  private:
    SpectrumEngine& engine_;
    EngineOptions before_;
};

std::vector<std::string> table(const SpectrumEngine& engine, const FrequencyGrid& grid,
                               GridPath path, unsigned threads = 0) {
    const ForcedPath forced(engine, path);
    std::vector<std::string> lines;
    engine.run(
        grid, [&](const SpectrumPoint& p) { lines.push_back(table_line(p)); }, threads);
    return lines;
}

// The two paths' tables, line by line; returns the number of lines.
std::size_t expect_same_tables(const SpectrumEngine& engine, const FrequencyGrid& grid) {
    const std::size_t blocks = engine.stats().nufft_blocks;
    const std::vector<std::string> fast = table(engine, grid, GridPath::nufft);
    EXPECT_GT(engine.stats().nufft_blocks, blocks) << "the transforms did not run";
    const std::vector<std::string> direct = table(engine, grid, GridPath::direct);
    EXPECT_EQ(fast.size(), direct.size());
    int wrong = 0;
    for (std::size_t j = 0; j < fast.size() && j < direct.size(); ++j)
        if (fast[j] != direct[j] && ++wrong <= 3)
            ADD_FAILURE() << "line " << j << "\n  transforms: " << fast[j]
                          << "\n  direct:     " << direct[j];
    EXPECT_EQ(wrong, 0);
    return fast.size();
}

std::vector<double> plus(std::vector<double> x, double c) {
    for (double& v : x) v += c;
    return x;
}

TEST(NufftSpectrum, SameTableOnJulianDaysWithGapsAndALargeMean) {
    const auto s = testing::observed_series(2450000.5, 3000);
    for (Window w : {Window::hanning, Window::square}) {
        SCOPED_TRACE(w == Window::hanning ? "hanning" : "square");
        const SpectrumEngine engine(s.t, s.x, w);
        // Up to 6 cycles a day in 20000 steps of 0.0003 (not exact in binary).
        const FrequencyGrid grid{0.0, 6.0, 20000, engine.line_width()};
        EXPECT_EQ(expect_same_tables(engine, grid), 20000u); // f = 0 skipped
        const SpectrumEngine shifted(s.t, plus(s.x, 1e8), w);
        expect_same_tables(shifted, grid);
        // The blocks depend on the thread count, the table does not.
        EXPECT_EQ(table(engine, grid, GridPath::nufft, 1), table(engine, grid, GridPath::nufft, 3));
    }
}

TEST(NufftSpectrum, SameTableThroughTheNearSingularAliasesOfDailySampling) {
    // Nightly at the same hour to within 1e-6 d: near 1 and 2 cycles a day
    // the phases nearly coincide and the fits are nearly singular.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> jitter(-1e-6, 1e-6);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> t, x;
    for (int d = 0; d < 400; ++d) {
        t.push_back(2455000.3 + d + jitter(rng));
        x.push_back(12.0 + 0.2 * std::sin(0.21 * d) + noise(rng));
    }
    const SpectrumEngine engine(t, x, Window::hanning);
    // Step 1e-4 c/d: the grid passes within a few units of 1e-16 of 1 and 2.
    expect_same_tables(engine, FrequencyGrid{0.5, 2.5, 20000, engine.line_width()});
    const std::size_t before = engine.stats().careful;
    table(engine, FrequencyGrid{0.99995, 1.00005, 10000, engine.line_width()}, GridPath::nufft);
    // Most frequencies this close to the alias need the careful evaluation.
    EXPECT_GT(engine.stats().careful - before, 5000u) << engine.stats().careful - before;
}

// Series of 50000 points and more take cells 2.5 times the block: the
// tables of a series at that size and of one a point shorter, on a coarse
// grid (the slopes from transforms of their own) and on a fine one (from
// the stencil), are the direct sums'.
TEST(NufftSpectrum, SameTableOnEitherSideOfTheWiderCellsOfLongSeries) {
    for (const std::size_t n : {std::size_t{49999}, std::size_t{50000}}) {
        SCOPED_TRACE(n);
        std::mt19937_64 rng(n);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<double> t, x;
        for (std::size_t i = 0; i < n; ++i) {
            const double night = std::floor(3000.0 * static_cast<double>(i) / n);
            t.push_back(2455000.6 + night + 0.25 * u(rng));
            x.push_back(10.0 + 0.5 * std::sin(2.1 * t.back()) + u(rng));
        }
        std::sort(t.begin(), t.end());
        const SpectrumEngine engine(t, x, Window::square);
        const double lw = engine.line_width();
        EXPECT_EQ(expect_same_tables(engine, FrequencyGrid{0.01, 5.0, 3000, lw}), 3001u);
        EXPECT_EQ(expect_same_tables(engine, FrequencyGrid{0.01, 0.5, 8000, lw}), 8001u);
    }
}

TEST(NufftSpectrum, SameTableForAFewPointsAndNegativeFrequencies) {
    const std::vector<double> t{2451545.0, 2451546.3125, 2451549.75, 2451550.5, 2451557.0625};
    const std::vector<double> x{14.21, 14.38, 14.19, 14.40, 14.27};
    for (Window w : {Window::hanning, Window::square}) {
        const SpectrumEngine engine(t, x, w);
        // Symmetric about 0 in an odd number of steps: the frequencies
        // nearest 0 are skipped, the others appear with both signs.
        const FrequencyGrid grid{-3.0, 3.0, 12345, engine.line_width()};
        const std::size_t lines = expect_same_tables(engine, grid);
        EXPECT_LT(lines, 12346u);
        EXPECT_GT(lines, 12300u);
    }
}

std::vector<SpectrumPoint> points(const SpectrumEngine& engine, const FrequencyGrid& grid,
                                  GridPath path, unsigned threads = 0) {
    const ForcedPath forced(engine, path);
    std::vector<SpectrumPoint> out;
    engine.run(
        grid, [&](const SpectrumPoint& p) { out.push_back(p); }, threads);
    return out;
}

// How many lines of two tables differ.
std::size_t differing_lines(const std::vector<SpectrumPoint>& a,
                            const std::vector<SpectrumPoint>& b) {
    std::size_t wrong = a.size() == b.size() ? 0 : 1;
    for (std::size_t j = 0; j < a.size() && j < b.size(); ++j)
        wrong += table_line(a[j]) != table_line(b[j]);
    return wrong;
}

// Under AddressSanitizer (about ten times slower, with its own memory
// around every allocation) the largest grid is cut down and the peak memory
// is not judged.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(NufftSpectrum, SameTableOnAMillionFrequencies) {
    const auto s = testing::observed_series(2450000.5, 200);
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    // 0 to 50 c/d: several rounds of blocks.
    const std::int64_t steps = kSanitized ? 200000 : 1000000;
    const FrequencyGrid grid{0.0, 50.0, steps, engine.line_width()};
    const std::vector<SpectrumPoint> fast = points(engine, grid, GridPath::nufft);
    const std::vector<SpectrumPoint> direct = points(engine, grid, GridPath::direct);
    // The lowest frequencies are skipped.
    ASSERT_GT(fast.size(), static_cast<std::size_t>(steps) - 10);
    EXPECT_EQ(differing_lines(fast, direct), 0u);
    EXPECT_EQ(fast.back().f, 50.0);
}

TEST(NufftSpectrum, DigitsAgreeWithTheQuadruplePrecisionReference) {
    const auto s = testing::observed_series(2450000.5, 1500);
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const reference::Reference ref(s.t, s.x, true);
    const FrequencyGrid grid{0.0, 3.0, 30000, engine.line_width()};
    const ForcedPath forced(engine, GridPath::nufft);
    std::int64_t j = 0;
    int checked = 0, wrong = 0;
    engine.run(grid, [&](const SpectrumPoint& p) {
        if (++j % 301 != 0) return;
        ++checked;
        const reference::Point want = ref.fit(p.f);
        const std::string line = table_line(p);
        const reference::quad exact[] = {want.rho, want.c1, want.c2, want.c3};
        for (int k = 0; k < 4; ++k)
            if (!reference::rounds_to(line.substr(15 * (k + 1), 15), exact[k]) && ++wrong <= 3)
                ADD_FAILURE() << "f = " << p.f << ": " << line;
    });
    EXPECT_EQ(checked, 99);
    EXPECT_EQ(wrong, 0);
}

TEST(NufftSpectrum, TheEngineTakesTheTransformsOnlyWhereTheyPay) {
    const auto many = testing::observed_series(2450000.5, 3000);
    const SpectrumEngine large(many.t, many.x, Window::hanning);
    const auto count_blocks = [](const SpectrumEngine& e, const FrequencyGrid& g) {
        const std::size_t before = e.stats().nufft_blocks;
        e.run(g, [](const SpectrumPoint&) {});
        return e.stats().nufft_blocks - before;
    };
    // A small grid: the direct sums.
    EXPECT_EQ(count_blocks(large, FrequencyGrid{0.0, 1.0, 200, large.line_width()}), 0u);
    // A large grid on many points: the transforms.
    EXPECT_GT(count_blocks(large, FrequencyGrid{0.0, 10.0, 100000, large.line_width()}), 0u);
    // A handful of points: the direct sums cost next to nothing.
    const std::vector<double> t{0.0, 1.0, 2.5, 4.0}, x{1.0, 3.0, 2.0, 5.0};
    const SpectrumEngine tiny(t, x, Window::square);
    EXPECT_EQ(count_blocks(tiny, FrequencyGrid{0.0, 10.0, 100000, tiny.line_width()}), 0u);
    // Where the rounding of the grid frequencies times the span of the times
    // is too large for the transforms' first-order correction, the direct
    // sums even when the transforms are asked for: f up to 1e5 over 4 days
    // is within the limit, 1e6 beyond it.
    const ForcedPath forced(tiny, GridPath::nufft);
    EXPECT_GT(count_blocks(tiny, FrequencyGrid{1e5, 1e5 + 1, 1000, tiny.line_width()}), 0u);
    EXPECT_EQ(count_blocks(tiny, FrequencyGrid{1e6, 1e6 + 1, 1000, tiny.line_width()}), 0u);
}

TEST(NufftSpectrum, FineGridsTakeTheirSlopesFromNeighbouringModes) {
    // Each frequency's rounding adds a first-order term, the slope of the
    // sums times 2 pi delta.  Where the step df turns the modes at 2f by at
    // most 1.6 radians (4 pi df u_max, the widest stencil's reach) from one
    // to the next, the slopes come from a stencil of neighbouring modes and
    // a block takes three FFTs; past it, six.  Up to a turn of 1, a stencil
    // of 8 terms where the frequencies' rounding over df leaves its error
    // small (f_max/df up to 2^-16 over its bound), else one of 16.  Both
    // sides of each limit, every table the direct sums'.
    const auto s = testing::observed_series(2450000.5, 1000);
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const double mid = s.t.front() + (s.t.back() - s.t.front()) / 2;
    double u_max = 0;
    for (double t : s.t) u_max = std::max(u_max, std::fabs(t - mid));
    const double pi = 4 * std::atan(1.0);
    const auto ffts_per_block = [&](double f0, double f1, double turn, bool up) {
        const double want = (f1 - f0) * 4 * pi * u_max / turn;
        const auto steps = static_cast<std::int64_t>(up ? std::ceil(want) : std::floor(want));
        const FrequencyGrid grid{f0, f1, steps, engine.line_width()};
        const EngineStats before = engine.stats();
        expect_same_tables(engine, grid);
        const EngineStats after = engine.stats();
        EXPECT_EQ(after.nufft_blocks - before.nufft_blocks, 1u);
        return after.nufft_ffts - before.nufft_ffts;
    };
    EXPECT_EQ(ffts_per_block(0.5, 2.5, 0.999, true), 3u);
    EXPECT_EQ(ffts_per_block(0.5, 2.5, 1.001, false), 3u);
    EXPECT_EQ(ffts_per_block(0.5, 2.5, 1.599, true), 3u);
    EXPECT_EQ(ffts_per_block(0.5, 2.5, 1.601, false), 6u);
    // At a turn of 0.9: 8 terms for f_max up to 2^-16/bound df, 16 past it.
    const double df = 0.9 / (4 * pi * u_max);
    const double f_limit = 0x1p-16 / detail::kStencils[3].bound * df;
    EXPECT_EQ(ffts_per_block(0.99 * f_limit - 1, 0.99 * f_limit, 0.9, true), 3u);
    EXPECT_EQ(ffts_per_block(1.01 * f_limit - 1, 1.01 * f_limit, 0.9, true), 3u);
}

TEST(NufftSpectrum, SameTableWherePhasesTurnByTheFrequenciesRounding) {
    // Times near 1e11 over 100 days at 7 to 8 cycles a day: the rounding of
    // a grid frequency (up to 8.9e-16) turns the phase at the middle time by
    // up to 5.6e-4 radian, past what the fits' vector code takes (1e-4): those
    // frequencies go through the scalar code, their neighbours through the
    // vectors, and the slopes come from the stencil (a turn of 0.31 a step).
    // With the code of every vector width the processor has.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> hour(0.0, 0.3), noise(-0.1, 0.1);
    std::vector<double> t, x;
    for (int d = 0; d < 100; ++d)
        for (int k = 0; k < 3; ++k) {
            t.push_back(1e11 + d + hour(rng));
            x.push_back(3.0 + std::cos(2 * 3.141592653589793 * 7.3 * t.back()) + noise(rng));
        }
    std::sort(t.begin(), t.end());
    for (const unsigned width : test_widths::widths_here<test_widths::TransformWidth>({4, 2})) {
        SCOPED_TRACE(width);
        const test_widths::TransformWidth tw(width);
        const SpectrumEngine engine(t, x, Window::square);
        const EngineStats before = engine.stats();
        EXPECT_EQ(expect_same_tables(engine, FrequencyGrid{7.0, 8.0, 2000, engine.line_width()}),
                  2001u);
        EXPECT_EQ(engine.stats().nufft_ffts - before.nufft_ffts, 3u);
    }
}

// Whether two runs gave the same points to the last bit.
bool same_bits(const std::vector<SpectrumPoint>& a, const std::vector<SpectrumPoint>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t j = 0; j < a.size(); ++j)
        for (auto field : {&SpectrumPoint::f, &SpectrumPoint::rho, &SpectrumPoint::c1,
                           &SpectrumPoint::c2, &SpectrumPoint::c3})
            if (std::bit_cast<std::uint64_t>(a[j].*field) !=
                std::bit_cast<std::uint64_t>(b[j].*field))
                return false;
    return true;
}

// The transforms keep their FFT plans and buffers from call to call (a few
// sizes of each): a call after calls of other sizes, more of them than are
// kept, and calls from several threads at once on two sizes, give the bits
// of the first call, which gives the direct sums' table.
TEST(NufftSpectrum, CallsAfterOtherSizesAndFromSeveralThreadsGiveTheSameBits) {
    const auto s = testing::observed_series(2450000.5, 300);
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const double lw = engine.line_width();
    const FrequencyGrid first{0.0, 5.0, 3000, lw}, second{1.0, 21.0, 40000, lw};
    const std::vector<SpectrumPoint> a = points(engine, first, GridPath::nufft);
    EXPECT_EQ(differing_lines(a, points(engine, first, GridPath::direct)), 0u);
    const std::vector<SpectrumPoint> b = points(engine, second, GridPath::nufft, 2);
    EXPECT_TRUE(same_bits(points(engine, first, GridPath::nufft, 1), a));
    // Ten more transform sizes (600 to 1280 cells).
    const std::size_t blocks = engine.stats().nufft_blocks;
    for (std::int64_t steps = 600; steps < 1300; steps += 70)
        EXPECT_FALSE(points(engine, FrequencyGrid{0.0, 1.0, steps, lw}, GridPath::nufft).empty());
    EXPECT_EQ(engine.stats().nufft_blocks - blocks, 10u);
    EXPECT_TRUE(same_bits(points(engine, first, GridPath::nufft), a));
    EXPECT_TRUE(same_bits(points(engine, second, GridPath::nufft), b));

    const ForcedPath forced(engine, GridPath::nufft);
    constexpr int kCallers = 4, kRounds = 3;
    std::vector<int> same(kCallers, 0);
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; ++c)
        callers.emplace_back([&, c] {
            for (int r = 0; r < kRounds; ++r) {
                const bool odd = (c + r) % 2 == 1;
                std::vector<SpectrumPoint> got;
                engine.run(
                    odd ? second : first, [&](const SpectrumPoint& p) { got.push_back(p); },
                    1 + static_cast<unsigned>(c % 2));
                same[static_cast<std::size_t>(c)] += same_bits(got, odd ? b : a);
            }
        });
    for (std::thread& t : callers) t.join();
    for (int c = 0; c < kCallers; ++c) EXPECT_EQ(same[static_cast<std::size_t>(c)], kRounds);
}

// Peak resident memory of this process in kB since the last reset, from
// /proc.
long peak_kb() {
    std::ifstream in("/proc/self/status");
    for (std::string key; in >> key;) {
        if (key == "VmHWM:") {
            long kb = 0;
            in >> kb;
            return kb;
        }
        std::getline(in, key);
    }
    return -1;
}

void reset_peak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

TEST(NufftSpectrum, MemoryStaysBoundedOnMillionsOfFrequencies) {
    const auto s = testing::observed_series(2450000.5, 120);
    const SpectrumEngine engine(s.t, s.x, Window::square);
    // The points alone would take 4e6 x 40 bytes = 160 MB.
    const FrequencyGrid grid{0.0, 400.0, 4000000, engine.line_width()};
    std::int64_t expected = 0;
    for (std::int64_t j = 0; j < grid.size(); ++j) expected += !grid.skipped(grid.frequency(j));
    reset_peak();
    const long before = peak_kb();
    ASSERT_GT(before, 0);
    std::int64_t count = 0;
    double last = 0;
    {
        const ForcedPath forced(engine, GridPath::nufft);
        engine.run(grid, [&](const SpectrumPoint& p) {
            ++count;
            last = p.f;
        });
    }
    EXPECT_EQ(count, expected);
    EXPECT_GT(count, 3999900);
    EXPECT_EQ(last, 400.0);
    if (!kSanitized) {
        EXPECT_LT(peak_kb() - before, 120 * 1024L);
    }
}

} // namespace
} // namespace fasogram
