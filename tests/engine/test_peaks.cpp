#include "fasogram/spectrum.hpp"
#include "kernel_widths.hpp"
#include "series_fixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

namespace fasogram {
namespace {

using Loaded = testing::Series;

Loaded example() {
    return testing::example_series();
}

TEST(Peaks, ExampleSeriesShowsItsTwoSignalsAndTheirAliasesInOrder) {
    const Loaded s = example();
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const FrequencyGrid grid{0.0, 0.5, 5000, engine.line_width()};
    const Spectrum spectrum = compute_spectrum(engine, grid);
    const std::vector<Peak> peaks = find_peaks(engine, spectrum.points, 5);
    ASSERT_EQ(peaks.size(), 5u);
    EXPECT_NEAR(peaks[0].frequency, 1 / 2.7, 2e-4);
    EXPECT_NEAR(peaks[0].period, 2.7, 2e-3);
    for (std::size_t i = 1; i < peaks.size(); ++i) EXPECT_GE(peaks[i - 1].rho, peaks[i].rho);
    const bool has_37 = std::any_of(peaks.begin(), peaks.end(),
                                    [](const Peak& p) { return std::fabs(p.period - 37.0) < 0.5; });
    EXPECT_TRUE(has_37);

    for (const Peak& p : peaks) {
        // Between its grid neighbours, and at least as high as the grid point.
        const auto j = static_cast<std::int64_t>(std::llround((p.frequency - 0.0) / grid.step()));
        EXPECT_NEAR(p.frequency, grid.frequency(j), 1.0001 * grid.step());
        double grid_best = 0;
        for (std::int64_t i = std::max<std::int64_t>(j - 1, 1); i <= j + 1; ++i)
            grid_best = std::max(grid_best, spectrum.points[static_cast<std::size_t>(i - 1)].rho);
        EXPECT_GE(p.rho, grid_best * (1 - 1e-15));
        // A dense scan around the refined maximum finds nothing higher.
        std::vector<double> dense;
        for (int i = -200; i <= 200; ++i) dense.push_back(p.frequency + i * grid.step() / 200);
        for (const SpectrumPoint& q : engine.fit(dense)) EXPECT_LE(q.rho, p.rho * (1 + 1e-13));
        // The amplitude and phase describe the fit at that frequency.
        const SpectrumPoint at = engine.fit(std::vector<double>{p.frequency})[0];
        EXPECT_DOUBLE_EQ(p.amplitude, std::hypot(at.c2, at.c3));
        EXPECT_NEAR(p.amplitude * std::cos(two_pi() * p.phase), at.c2, 1e-12);
        EXPECT_NEAR(p.amplitude * std::sin(two_pi() * p.phase), at.c3, 1e-12);
        EXPECT_GE(p.phase, 0.0);
        EXPECT_LT(p.phase, 1.0);
        EXPECT_EQ(p.c1, at.c1);
    }
}

TEST(Peaks, EndsOfTheRunAndTheSkippedGapAreNotPeaks) {
    // rho rising to the last point, and a maximum right next to the gap left
    // by the frequencies skipped around zero, are not local maxima.
    const std::vector<double> t{0, 1.3, 2.1, 3.7, 5.2, 6.0, 7.9};
    const std::vector<double> x{1, 3, 2, 5, 4, 6, 2};
    const SpectrumEngine engine(t, x, Window::square);
    PeakFinder finder(10);
    finder.add({-0.3, 0.1, 0, 0, 0, {}});
    finder.add({-0.2, 0.2, 0, 0, 0, {}});
    finder.add({-0.1, 0.3, 0, 0, 0, {}}); // last before the gap
    finder.add({0.1, 0.2, 0, 0, 0, {}});  // first after it
    finder.add({0.2, 0.1, 0, 0, 0, {}});
    finder.add({0.3, 0.4, 0, 0, 0, {}});
    EXPECT_TRUE(finder.peaks(engine).empty());

    // k = 0 asks for nothing; k = 1 gives the highest of the k = 3 peaks.
    const Spectrum spectrum = compute_spectrum(engine, FrequencyGrid{0.01, 2.0, 400, 0.0});
    EXPECT_TRUE(find_peaks(engine, spectrum.points, 0).empty());
    const std::vector<Peak> three = find_peaks(engine, spectrum.points, 3);
    const std::vector<Peak> one = find_peaks(engine, spectrum.points, 1);
    ASSERT_EQ(three.size(), 3u);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].frequency, three[0].frequency);
    EXPECT_EQ(one[0].rho, three[0].rho);

    // The frequencies and rho as arrays, in pieces and with a singular
    // point (nobody's neighbour): the same candidates as point by point.
    std::vector<double> f, rho;
    for (const SpectrumPoint& p : spectrum.points) {
        f.push_back(p.f);
        rho.push_back(p.rho);
    }
    rho[150] = std::numeric_limits<double>::quiet_NaN();
    PeakFinder by_point(3), by_array(3);
    for (std::size_t i = 0; i < f.size(); ++i) by_point.add(f[i], rho[i]);
    by_array.add(std::span(f).first(100), std::span(rho).first(100));
    by_array.add(std::span(f).subspan(100), std::span(rho).subspan(100));
    const std::vector<Peak> a = by_point.peaks(engine), b = by_array.peaks(engine);
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(a[i].frequency, b[i].frequency);
        EXPECT_EQ(a[i].rho, b[i].rho);
    }
    EXPECT_THROW(by_array.add(std::span(f), std::span(rho).first(5)), std::invalid_argument);
}

TEST(Peaks, NearlySingularFitsAreStillRefinedToTheirMaximum) {
    // Every night at nearly the same hour: near 1 cycle a day the cosine and
    // sine columns are nearly constant, and the fits nearly singular.
    std::vector<double> t, x;
    for (int i = 0; i < 300; ++i) {
        t.push_back(2450000.3 + i + 1e-3 * std::sin(1.7 * i));
        x.push_back(std::sin(0.21 * i) + 0.3 * std::cos(2.3 * i));
    }
    const SpectrumEngine engine(t, x, Window::hanning);
    const FrequencyGrid grid{0.995, 1.005, 4000, engine.line_width()};
    const Spectrum spectrum = compute_spectrum(engine, grid);
    const std::vector<Peak> peaks = find_peaks(engine, spectrum.points, 2);
    ASSERT_EQ(peaks.size(), 2u);
    for (const Peak& p : peaks) {
        std::vector<double> dense;
        for (int i = -100; i <= 100; ++i) dense.push_back(p.frequency + i * grid.step() / 100);
        for (const SpectrumPoint& q : engine.fit(dense)) EXPECT_LE(q.rho, p.rho * (1 + 1e-12));
        EXPECT_EQ(p.rho, engine.fit(std::vector<double>{p.frequency})[0].rho);
    }
}

TEST(Peaks, RefinedAlikeByTheMomentsCodeOfEveryProcessor) {
    // Uneven nights over 400 days, two close sinusoids and noise, 1003
    // points (not a whole number of lanes): the moments' code for AVX2 and
    // that for processors without it must give the same maxima, to the refinement's own accuracy,
    // and each a maximum of the fitted rho between its neighbours.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> hour(0.0, 0.3);
    std::normal_distribution<double> noise(0.0, 0.2);
    std::vector<double> t, x;
    for (int i = 0; i < 1003; ++i) {
        const double ti = 2455000.0 + std::floor(i * 0.4) + hour(rng);
        t.push_back(ti);
        x.push_back(std::cos(2 * M_PI * 0.3137 * ti) + 0.6 * std::sin(2 * M_PI * 0.3161 * ti) +
                    noise(rng));
    }
    const SpectrumEngine engine(t, x, Window::square);
    const FrequencyGrid grid{0.01, 1.0, 20000, engine.line_width()};
    const Spectrum spectrum = compute_spectrum(engine, grid);
    const std::vector<unsigned> widths = test_widths::widths_here<test_widths::PeakWidth>({4, 2});
    ASSERT_FALSE(widths.empty());
    std::vector<Peak> widest;
    for (const unsigned lanes : widths) {
        const test_widths::PeakWidth width(lanes);
        const std::vector<Peak> peaks = find_peaks(engine, spectrum.points, 4);
        ASSERT_EQ(peaks.size(), 4u) << lanes;
        if (widest.empty()) widest = peaks;
        for (std::size_t k = 0; k < peaks.size(); ++k) {
            const Peak& p = peaks[k];
            const double ulp = std::nextafter(p.frequency, 2.0) - p.frequency;
            EXPECT_NEAR(p.frequency, widest[k].frequency, 2e-13 * engine.line_width() + 8 * ulp)
                << lanes << " lanes, peak " << k;
            std::vector<double> dense;
            for (int i = -50; i <= 50; ++i) dense.push_back(p.frequency + i * grid.step() / 50);
            for (const SpectrumPoint& q : engine.fit(dense))
                EXPECT_LE(q.rho, p.rho * (1 + 1e-12)) << lanes << " lanes, peak " << k;
        }
    }
}

} // namespace
} // namespace fasogram
