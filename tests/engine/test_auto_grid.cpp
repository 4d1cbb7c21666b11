// The grid completed from the sampling, and the number of steps that
// samples every peak.
#include "fasogram/spectrum.hpp"
#include "series_fixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

namespace fasogram {
namespace {

std::vector<double> wave(const std::vector<double>& t, double f) {
    std::vector<double> x;
    for (double v : t) x.push_back(std::sin(two_pi() * f * v) + 0.01 * std::fmod(v * 7.3, 1.0));
    return x;
}

TEST(AutoGrid, EvenSamplingEndsAtItsNyquistFrequency) {
    std::vector<double> t;
    for (int i = 0; i < 100; ++i) t.push_back(2000.0 + 0.25 * i);
    const SpectrumEngine engine(t, wave(t, 0.9), Window::square);
    EXPECT_EQ(engine.median_spacing(), 0.25);
    const AutoGrid a = auto_grid(engine);
    const double step = engine.line_width() / 10.0;
    EXPECT_EQ(a.nyquist, 2.0);
    EXPECT_FALSE(a.capped);
    EXPECT_EQ(a.grid.f_ini, step);
    EXPECT_EQ(a.grid.line_width, engine.line_width());
    // The last frequency is the last whole step below the Nyquist frequency.
    EXPECT_LE(a.grid.f_fin, 2.0);
    EXPECT_GT(a.grid.f_fin + step, 2.0);
    EXPECT_EQ(a.grid.f_fin, a.grid.f_ini + static_cast<double>(a.grid.n_points) * step);
    EXPECT_NEAR(a.grid.step(), step, 1e-12 * step);
    EXPECT_FALSE(a.grid.undersampled());

    // The oversampling factor sets the step; the Hanning line is twice as wide.
    const SpectrumEngine hanning(t, wave(t, 0.9), Window::hanning);
    const AutoGrid h = auto_grid(hanning, {.oversample = 4.0});
    EXPECT_EQ(h.grid.f_ini, hanning.line_width() / 4.0);
    EXPECT_EQ(hanning.line_width(), 2.0 * engine.line_width());
    EXPECT_LE(h.grid.f_fin, 2.0);
    EXPECT_GT(h.grid.f_fin + h.grid.f_ini, 2.0);
}

TEST(AutoGrid, MedianSpacingOfDistinctTimesInAnyOrder) {
    // Gaps 1, 1, 2, 3 once the repeated time is left out: median (1 + 2)/2.
    const std::vector<double> t{7, 0, 1, 2, 2, 4}, x{1, 2, 3, 1, 5, 2};
    EXPECT_EQ(SpectrumEngine(t, x, Window::square).median_spacing(), 1.5);
    // An odd number of gaps: the middle one.
    const std::vector<double> t3{0, 10, 11, 13}, x3{1, 2, 0, 3};
    EXPECT_EQ(SpectrumEngine(t3, x3, Window::square).median_spacing(), 2.0);
}

TEST(AutoGrid, ClusteredNightsAreHeldToAMillionSteps) {
    // Eight points 15 minutes apart on each of 3000 nights: the spacing within
    // the nights reaches 48 cycles a day, 4.6 million square-window steps.
    std::vector<double> t;
    for (int night = 0; night < 3000; ++night)
        for (int k = 0; k < 8; ++k) t.push_back(night + k / 96.0);
    const SpectrumEngine engine(t, wave(t, 0.3), Window::square);
    EXPECT_NEAR(engine.median_spacing(), 1 / 96.0, 1e-12);
    const AutoGrid a = auto_grid(engine);
    EXPECT_TRUE(a.capped);
    EXPECT_EQ(a.grid.n_points, max_auto_steps);
    EXPECT_NEAR(a.nyquist, 48.0, 1e-9);
    EXPECT_LT(a.grid.f_fin, a.nyquist);
    EXPECT_EQ(a.grid.f_fin, a.grid.f_ini + 1e6 * a.grid.f_ini);
    // A coarser step reaches the Nyquist frequency within the cap.
    const AutoGrid coarse = auto_grid(engine, {.oversample = 2.0});
    EXPECT_FALSE(coarse.capped);
    EXPECT_LT(coarse.grid.n_points, max_auto_steps);
    EXPECT_GT(coarse.grid.f_fin + coarse.grid.f_ini, 48.0);
}

TEST(AutoGrid, GivenPartsAreKept) {
    const testing::Series s = testing::example_series();
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const double step = engine.line_width() / 10.0;
    const AutoGrid from = auto_grid(engine, {.f_ini = 0.2});
    EXPECT_EQ(from.grid.f_ini, 0.2);
    EXPECT_NEAR(from.grid.step(), step, 1e-9 * step);
    const AutoGrid to = auto_grid(engine, {.f_fin = 0.5});
    EXPECT_EQ(to.grid.f_ini, step);
    EXPECT_EQ(to.grid.f_fin, 0.5);
    // The fewest steps no wider than the line width over the oversampling.
    EXPECT_LE(to.grid.step(), step);
    EXPECT_GT((0.5 - step) / static_cast<double>(to.grid.n_points - 1), step);
    const AutoGrid steps = auto_grid(engine, {.n_points = 77});
    EXPECT_EQ(steps.grid.n_points, 77);
    EXPECT_EQ(steps.grid.f_ini, step);
    EXPECT_EQ(steps.grid.f_fin, auto_grid(engine).grid.f_fin);
    const AutoGrid all = auto_grid(engine, {0.1, 0.3, 5, 3.0});
    EXPECT_EQ(all.grid.f_ini, 0.1);
    EXPECT_EQ(all.grid.f_fin, 0.3);
    EXPECT_EQ(all.grid.n_points, 5);
}

TEST(AutoGrid, RequestsThatLeaveNoGridAreRefused) {
    const testing::Series s = testing::example_series();
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const double nyquist = 0.5 / engine.median_spacing();
    for (double k : {0.0, -1.0, std::nan(""), HUGE_VAL})
        EXPECT_THROW(auto_grid(engine, {.oversample = k}), std::invalid_argument) << k;
    EXPECT_THROW(auto_grid(engine, {.n_points = 0}), std::invalid_argument);
    // An initial frequency at the Nyquist frequency leaves nothing above it;
    // just below it, one step.
    EXPECT_THROW(auto_grid(engine, {.f_ini = nyquist}), std::invalid_argument);
    const AutoGrid below = auto_grid(engine, {.f_ini = std::nextafter(nyquist, 0.0)});
    EXPECT_EQ(below.grid.n_points, 1);
    // A final frequency at the automatic initial one.
    EXPECT_THROW(auto_grid(engine, {.f_fin = engine.line_width() / 10.0}), std::invalid_argument);
    EXPECT_THROW(auto_grid(engine, {.f_ini = 0.3, .f_fin = 0.2}), std::invalid_argument);
    EXPECT_THROW(auto_grid(engine, {.f_fin = 1e303}), std::invalid_argument);
    EXPECT_THROW(auto_grid(engine, {.oversample = 1e300}), std::invalid_argument);
}

TEST(AutoGrid, FindsBothSignalsOfTheExampleSeries) {
    const testing::Series s = testing::example_series();
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const AutoGrid a = auto_grid(engine);
    // Up to the nightly spacing: the daily aliases are in the grid, and the
    // true signal stays the highest peak.
    EXPECT_GT(a.grid.f_fin, 3.0);
    const std::vector<Peak> peaks = find_peaks(engine, compute_spectrum(engine, a.grid).points, 5);
    ASSERT_EQ(peaks.size(), 5u);
    EXPECT_NEAR(peaks[0].period, 2.7, 1e-3);
    EXPECT_TRUE(std::any_of(peaks.begin(), peaks.end(),
                            [](const Peak& p) { return std::fabs(p.period - 37.0) < 0.2; }));
}

TEST(UndersampledGrid, AtHalfTheLineWidthAndJustAbove) {
    // 65 times 0..64: the Hanning line width is 1/32 exactly, and the grid of
    // 64 steps over 0..1 has a step of exactly half of it.
    std::vector<double> t;
    for (int i = 0; i <= 64; ++i) t.push_back(i);
    const SpectrumEngine engine(t, wave(t, 0.2), Window::hanning);
    ASSERT_EQ(engine.line_width(), 1.0 / 32.0);
    const FrequencyGrid at{0.0, 1.0, 64, engine.line_width()};
    EXPECT_FALSE(at.undersampled());
    EXPECT_EQ(resolving_steps(at), 64);
    const FrequencyGrid above{0.0, 1.0, 63, engine.line_width()};
    EXPECT_TRUE(above.undersampled());
    EXPECT_EQ(resolving_steps(above), 64);
    EXPECT_EQ(resolving_steps({0.0, 1.0, 3, engine.line_width()}), 64);
    // Limits whose span is not a whole number of half widths: the next whole
    // number of steps, whose step is within the half width.
    const FrequencyGrid odd{0.013, 0.9, 5, engine.line_width()};
    const std::int64_t n = resolving_steps(odd);
    EXPECT_FALSE((FrequencyGrid{odd.f_ini, odd.f_fin, n, odd.line_width}.undersampled()));
    EXPECT_TRUE((FrequencyGrid{odd.f_ini, odd.f_fin, n - 1, odd.line_width}.undersampled()));
    // A grid that no number of steps resolves.
    EXPECT_THROW(resolving_steps({0.0, 1e300, 1, engine.line_width()}), std::invalid_argument);
}

} // namespace
} // namespace fasogram
