#include "spectrum.hpp"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace fasogram {
namespace {

// Uneven times: a jittered grid with gaps.
std::vector<double> uneven_times(std::size_t n, unsigned seed, double start = 0.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(0.0, 0.8);
    std::vector<double> t;
    double now = start;
    while (t.size() < n) {
        now += 0.3 + jitter(rng);
        if (std::fmod(now, 50.0) < 35.0) t.push_back(now); // seasonal gaps
    }
    return t;
}

TEST(Weighting, SquareWindowGivesEqualWeightsAndThePlainMean) {
    const std::vector<double> t{0.0, 1.0, 3.0, 7.0};
    const std::vector<double> x{1.0, 2.0, 4.0, 9.0};
    const Weighting w = weigh_series(t, x, Window::square);
    for (double wi : w.w) EXPECT_DOUBLE_EQ(wi, 0.25);
    EXPECT_DOUBLE_EQ(w.mean, 4.0);
    // (1 + 4 + 16 + 81)/4 − 16
    EXPECT_DOUBLE_EQ(w.variance, 25.5 - 16.0);
    EXPECT_DOUBLE_EQ(w.wx[3], 2.25);
}

TEST(Weighting, HanningWeightsVanishAtTheEndsAndPeakInTheMiddle) {
    const std::vector<double> t{10.0, 12.5, 15.0, 17.5, 20.0};
    const std::vector<double> x{0.0, 4.0, 2.0, 4.0, 100.0};
    const Weighting w = weigh_series(t, x, Window::hanning);
    // Raw weights 0, 1, 2, 1, 0 normalised by their sum 4.
    EXPECT_NEAR(w.w[0], 0.0, 1e-16);
    EXPECT_DOUBLE_EQ(w.w[1], 0.25);
    EXPECT_DOUBLE_EQ(w.w[2], 0.5);
    EXPECT_DOUBLE_EQ(w.w[3], 0.25);
    EXPECT_NEAR(w.w[4], 0.0, 1e-16);
    EXPECT_NEAR(w.mean, 3.0, 1e-12); // the end points hardly count
    EXPECT_NEAR(w.variance, 0.25 * 16 + 0.5 * 4 + 0.25 * 16 - 9.0, 1e-12);
}

TEST(FrequencyGrid, IncludesBothLimits) {
    FrequencyGrid grid{1.0, 2.0, 4, 0.01};
    ASSERT_EQ(grid.size(), 5);
    const std::array<double, 5> expected{1.0, 1.25, 1.5, 1.75, 2.0};
    for (int j = 0; j < 5; ++j) EXPECT_DOUBLE_EQ(grid.frequency(j), expected[j]);

    const std::vector<double> t = uneven_times(40, 1);
    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = std::sin(t[i]);
    const Spectrum s = compute_spectrum(t, x, weigh_series(t, x, Window::square), grid);
    ASSERT_EQ(s.points.size(), 5u);
    for (int j = 0; j < 5; ++j) EXPECT_DOUBLE_EQ(s.points[j].f, expected[j]);
}

TEST(Spectrum, PureSinusoidIsFittedExactlyAtItsFrequency) {
    const double a = 3.0, b = 1.5, c = -0.75, f0 = 0.37;
    const std::vector<double> t = uneven_times(300, 2, 1000.0);
    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        x[i] = a + b * std::cos(two_pi() * f0 * t[i]) + c * std::sin(two_pi() * f0 * t[i]);
    }
    for (Window window : {Window::hanning, Window::square}) {
        const Weighting w = weigh_series(t, x, window);
        ReferenceFitter fitter(t, w);
        const Fit fit = fitter.fosyl(f0);
        EXPECT_NEAR(fit.c1, a, 1e-8);
        EXPECT_NEAR(fit.c2, b, 1e-8);
        EXPECT_NEAR(fit.c3, c, 1e-8);
        EXPECT_NEAR(std::fabs((fit.power - w.mean * w.mean) / w.variance), 1.0, 1e-9);
        // Away from the signal most of the variance is left unexplained.
        const Fit off = fitter.fosyl(0.123);
        EXPECT_LT(std::fabs((off.power - w.mean * w.mean) / w.variance), 0.5);
    }
    // A cosine alone gives no sine term.
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = a + b * std::cos(two_pi() * f0 * t[i]);
    const Weighting w = weigh_series(t, x, Window::hanning);
    const Fit fit = ReferenceFitter(t, w).fosyl(f0);
    EXPECT_NEAR(fit.c3, 0.0, 1e-8);
}

// Solves the weighted least-squares problem independently: normal equations
// built from unreduced phases and solved by Gaussian elimination.
std::array<double, 3> direct_fit(const std::vector<double>& t, const Weighting& w, double f) {
    double m[3][4] = {};
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double basis[3] = {1.0, std::cos(two_pi() * f * t[i]), std::sin(two_pi() * f * t[i])};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] += w.w[i] * basis[r] * basis[c];
            m[r][3] += w.wx[i] * basis[r];
        }
    }
    for (int p = 0; p < 3; ++p) {
        for (int r = p + 1; r < 3; ++r) {
            const double k = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c) m[r][c] -= k * m[p][c];
        }
    }
    std::array<double, 3> c{};
    for (int r = 2; r >= 0; --r) {
        double v = m[r][3];
        for (int k = r + 1; k < 3; ++k) v -= m[r][k] * c[k];
        c[r] = v / m[r][r];
    }
    return c;
}

TEST(Spectrum, CramerSolutionAgreesWithAnIndependentLeastSquaresSolve) {
    const std::vector<double> t = uneven_times(200, 3);
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(5.0, 2.0);
    std::vector<double> x(t.size());
    for (double& v : x) v = noise(rng);
    const Weighting w = weigh_series(t, x, Window::hanning);
    ReferenceFitter fitter(t, w);
    for (double f : {0.013, 0.2, 0.77, 1.9, -0.4}) {
        const Fit fit = fitter.fosyl(f);
        const std::array<double, 3> expected = direct_fit(t, w, f);
        EXPECT_NEAR(fit.c1, expected[0], 1e-9) << f;
        EXPECT_NEAR(fit.c2, expected[1], 1e-9) << f;
        EXPECT_NEAR(fit.c3, expected[2], 1e-9) << f;
        double power = 0.0;
        for (std::size_t i = 0; i < t.size(); ++i) {
            const double y = expected[0] + expected[1] * std::cos(two_pi() * f * t[i]) +
                             expected[2] * std::sin(two_pi() * f * t[i]);
            power += w.w[i] * y * y;
        }
        EXPECT_NEAR(fit.power, power, 1e-9) << f;
        const double rho = std::fabs((fit.power - w.mean * w.mean) / w.variance);
        EXPECT_GE(rho, 0.0);
        EXPECT_LE(rho, 1.0);
    }
}

TEST(Spectrum, FrequenciesBelowTheThresholdAreSkipped) {
    const std::vector<double> t = uneven_times(100, 5);
    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = std::cos(0.9 * t[i]) + 0.1 * i;
    const Weighting w = weigh_series(t, x, Window::hanning);

    // Starting at zero: the first frequency is left out.
    const Spectrum from_zero = compute_spectrum(t, x, w, FrequencyGrid{0.0, 0.5, 10, 0.02});
    ASSERT_EQ(from_zero.points.size(), 10u);
    EXPECT_DOUBLE_EQ(from_zero.points.front().f, 0.05);

    // A symmetric range keeps the negative frequencies and drops those within
    // the threshold of zero (|f| < 0.15/100 here).
    const Spectrum symmetric = compute_spectrum(t, x, w, FrequencyGrid{-0.01, 0.01, 20, 0.15});
    ASSERT_EQ(symmetric.points.size(), 18u); // -0.001, 0 and 0.001 are skipped
    EXPECT_DOUBLE_EQ(symmetric.points.front().f, -0.01);
    EXPECT_NEAR(symmetric.points[8].f, -0.002, 1e-15);
    EXPECT_NEAR(symmetric.points[9].f, 0.002, 1e-15);
    EXPECT_DOUBLE_EQ(symmetric.points.back().f, 0.01);
}

TEST(Spectrum, PlotArraysFollowThePointsWithoutACap) {
    const std::vector<double> t = uneven_times(30, 6);
    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = std::sin(2.0 * t[i]);
    const Spectrum s = compute_spectrum(t, x, weigh_series(t, x, Window::square),
                                        FrequencyGrid{0.01, 1.0, 12000, 0.0});
    ASSERT_EQ(s.points.size(), 12001u);
    ASSERT_EQ(s.plot.cox.size(), 12001u);
    ASSERT_EQ(s.plot.coy.size(), 12001u);
    for (std::size_t k : {0u, 9999u, 10000u, 12000u}) {
        EXPECT_EQ(s.plot.cox[k], static_cast<float>(s.points[k].f));
        EXPECT_EQ(s.plot.coy[k], static_cast<float>(s.points[k].rho));
    }
}

TEST(Spectrum, ZeroDeterminantGivesNonFiniteValues) {
    // Times on an integer grid: at f = 1 every phase is zero.
    const std::vector<double> t{0, 1, 2, 3, 4, 5};
    const std::vector<double> x{1, 3, 2, 5, 4, 6};
    const Weighting w = weigh_series(t, x, Window::square);
    const Fit fit = ReferenceFitter(t, w).fosyl(1.0);
    EXPECT_FALSE(std::isfinite(fit.c1));
    EXPECT_FALSE(std::isfinite(fit.c2));
    EXPECT_FALSE(std::isfinite(fit.c3));
}

} // namespace
} // namespace fasogram
