#include "fasogram/spectrum.hpp"

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

TEST(SpectrumEngine, SquareWindowGivesThePlainMeanAndVariance) {
    const std::vector<double> t{0.0, 1.0, 3.0, 7.0};
    const std::vector<double> x{1.0, 2.0, 4.0, 9.0};
    const SpectrumEngine engine(t, x, Window::square);
    EXPECT_EQ(engine.mean(), 4.0);
    // (1 + 4 + 16 + 81)/4 − 16
    EXPECT_EQ(engine.variance(), 25.5 - 16.0);
    EXPECT_EQ(engine.line_width(), 1.0 / 7.0);
}

TEST(SpectrumEngine, HanningWeightsVanishAtTheEndsAndPeakInTheMiddle) {
    // Raw weights 0, 1, 2, 1, 0: the end values do not count at all.
    const std::vector<double> t{10.0, 12.5, 15.0, 17.5, 20.0};
    const std::vector<double> x{1e9, 4.0, 2.0, 4.0, -1e9};
    const SpectrumEngine engine(t, x, Window::hanning);
    EXPECT_NEAR(engine.mean(), 3.0, 1e-15);
    EXPECT_NEAR(engine.variance(), 1.0, 1e-15);
    EXPECT_EQ(engine.line_width(), 0.2);
}

TEST(SpectrumEngine, RefusesSeriesWithoutASpectrum) {
    using Kind = SeriesError::Kind;
    auto kind_of = [](std::vector<double> t, std::vector<double> x, Window w) {
        try {
            SpectrumEngine engine(t, x, w);
        } catch (const SeriesError& e) {
            return static_cast<int>(e.kind());
        }
        return -1;
    };
    const double nan = std::nan("");
    EXPECT_EQ(kind_of({1, 2}, {1}, Window::square), static_cast<int>(Kind::size_mismatch));
    EXPECT_EQ(kind_of({1}, {1}, Window::square), static_cast<int>(Kind::too_few_points));
    EXPECT_EQ(kind_of({1, nan}, {1, 2}, Window::square), static_cast<int>(Kind::not_finite));
    EXPECT_EQ(kind_of({1, 2}, {1, HUGE_VAL}, Window::square), static_cast<int>(Kind::not_finite));
    EXPECT_EQ(kind_of({3, 3, 3}, {1, 2, 3}, Window::square), static_cast<int>(Kind::no_time_span));
    EXPECT_EQ(kind_of({1, 2, 3}, {5, 5, 5}, Window::square), static_cast<int>(Kind::zero_variance));
    // With the Hanning window the end points carry no weight: three points
    // leave a single weighted value, two points none at all.
    EXPECT_EQ(kind_of({1, 2, 3}, {0, 5, 9}, Window::hanning),
              static_cast<int>(Kind::zero_variance));
    EXPECT_EQ(kind_of({1, 2}, {0, 5}, Window::hanning), static_cast<int>(Kind::zero_variance));
    EXPECT_EQ(kind_of({1, 2, 3, 4}, {0, 5, 5.000000000000001, 9}, Window::hanning), -1);
}

TEST(FrequencyGrid, IncludesBothLimits) {
    FrequencyGrid grid{1.0, 2.0, 4, 0.01};
    ASSERT_EQ(grid.size(), 5);
    const std::array<double, 5> expected{1.0, 1.25, 1.5, 1.75, 2.0};
    for (int j = 0; j < 5; ++j) EXPECT_DOUBLE_EQ(grid.frequency(j), expected[j]);

    const std::vector<double> t = uneven_times(40, 1);
    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = std::sin(t[i]);
    const Spectrum s = compute_spectrum(SpectrumEngine(t, x, Window::square), grid);
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
        const SpectrumEngine engine(t, x, window);
        const std::vector<double> f{f0, 0.123};
        const std::vector<SpectrumPoint> fit = engine.fit(f);
        EXPECT_NEAR(fit[0].c1, a, 1e-8);
        EXPECT_NEAR(fit[0].c2, b, 1e-8);
        EXPECT_NEAR(fit[0].c3, c, 1e-8);
        EXPECT_NEAR(fit[0].rho, 1.0, 1e-9);
        // Away from the signal most of the variance is left unexplained.
        EXPECT_LT(fit[1].rho, 0.5);
    }
    // A cosine alone gives no sine term.
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = a + b * std::cos(two_pi() * f0 * t[i]);
    const std::vector<double> f{f0};
    EXPECT_NEAR(SpectrumEngine(t, x, Window::hanning).fit(f)[0].c3, 0.0, 1e-8);
}

// Solves the weighted least-squares problem independently: normal equations
// built from unreduced phases and solved by Gaussian elimination.
// Weights 1 + cos(2 pi (t - t_mid)/D) of times in increasing order.
std::array<double, 3> direct_fit(const std::vector<double>& t, const std::vector<double>& x,
                                 double f) {
    const double span = t.back() - t.front(), mid = (t.front() + t.back()) / 2;
    double m[3][4] = {};
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double w = 1.0 + std::cos(two_pi() * (t[i] - mid) / span);
        const double basis[3] = {1.0, std::cos(two_pi() * f * t[i]), std::sin(two_pi() * f * t[i])};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] += w * basis[r] * basis[c];
            m[r][3] += w * x[i] * basis[r];
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
    const SpectrumEngine engine(t, x, Window::hanning);
    const std::vector<double> freqs{0.013, 0.2, 0.77, 1.9, -0.4};
    const std::vector<SpectrumPoint> fits = engine.fit(freqs);
    for (std::size_t k = 0; k < freqs.size(); ++k) {
        const double f = freqs[k];
        const std::array<double, 3> expected = direct_fit(t, x, f);
        EXPECT_NEAR(fits[k].c1, expected[0], 1e-9) << f;
        EXPECT_NEAR(fits[k].c2, expected[1], 1e-9) << f;
        EXPECT_NEAR(fits[k].c3, expected[2], 1e-9) << f;
        EXPECT_GE(fits[k].rho, 0.0);
        EXPECT_LE(fits[k].rho, 1.0);
    }
}

TEST(Spectrum, FrequenciesBelowTheThresholdAreSkipped) {
    const std::vector<double> t = uneven_times(100, 5);
    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = std::cos(0.9 * t[i]) + 0.1 * i;
    const SpectrumEngine w(t, x, Window::hanning);

    // Starting at zero: the first frequency is left out.
    const Spectrum from_zero = compute_spectrum(w, FrequencyGrid{0.0, 0.5, 10, 0.02});
    ASSERT_EQ(from_zero.points.size(), 10u);
    EXPECT_DOUBLE_EQ(from_zero.points.front().f, 0.05);

    // A symmetric range keeps the negative frequencies and drops those within
    // the threshold of zero (|f| < 0.15/100 here).
    const Spectrum symmetric = compute_spectrum(w, FrequencyGrid{-0.01, 0.01, 20, 0.15});
    ASSERT_EQ(symmetric.points.size(), 18u); // -0.001, 0 and 0.001 are skipped
    EXPECT_DOUBLE_EQ(symmetric.points.front().f, -0.01);
    EXPECT_NEAR(symmetric.points[8].f, -0.002, 1e-15);
    EXPECT_NEAR(symmetric.points[9].f, 0.002, 1e-15);
    EXPECT_DOUBLE_EQ(symmetric.points.back().f, 0.01);
}

TEST(Spectrum, TheScaleOfTheValuesMovesOnlyTheCoefficients) {
    const std::vector<double> t = uneven_times(60, 9);
    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = 3.0 + std::cos(1.3 * t[i]) + 0.01 * (i % 7);
    const std::vector<double> freqs{0.05, 0.2, 0.2069, 0.6, 1.1};
    for (Window w : {Window::hanning, Window::square}) {
        // Powers of two from the largest finite values to the subnormals:
        // every number is the same but for the exponent, to the doubles'
        // own rounding (which path settles a frequency depends on its
        // decimal digits).
        const auto close = [](double a, double b) {
            return std::fabs(a - b) <= 1e-14 * std::fabs(b);
        };
        for (int k : {1020, 990, -1000, -1070, 500}) {
            std::vector<double> xs(x);
            for (double& v : xs) v = std::ldexp(v, k);
            const SpectrumEngine scaled(t, xs, w);
            const std::vector<SpectrumPoint> got = scaled.fit(freqs);
            // Subnormal values lost bits: the series as given, scaled back.
            std::vector<double> back(xs);
            for (double& v : back) v = std::ldexp(v, -k);
            const std::vector<SpectrumPoint> base = SpectrumEngine(t, back, w).fit(freqs);
            for (std::size_t j = 0; j < freqs.size(); ++j) {
                EXPECT_TRUE(close(got[j].rho, base[j].rho))
                    << k << " " << freqs[j] << ": " << got[j].rho << " vs " << base[j].rho;
                const double tolerance = k < -1020 ? std::ldexp(1.0, -1070) : 0.0;
                for (auto [a, b] : {std::pair{got[j].c1, base[j].c1},
                                    {got[j].c2, base[j].c2},
                                    {got[j].c3, base[j].c3}})
                    EXPECT_TRUE(close(std::ldexp(a, -k), b) ||
                                std::fabs(a - std::ldexp(b, k)) <= tolerance)
                        << k << " " << freqs[j] << ": " << a << " vs " << b;
            }
        }
        // Decimal scales: rho unchanged to its printed digits, C1 scaled.
        const std::vector<SpectrumPoint> base = SpectrumEngine(t, x, w).fit(freqs);
        for (double scale : {1e300, 1e-300}) {
            std::vector<double> xs(x);
            for (double& v : xs) v *= scale;
            const std::vector<SpectrumPoint> got = SpectrumEngine(t, xs, w).fit(freqs);
            for (std::size_t j = 0; j < freqs.size(); ++j) {
                EXPECT_NEAR(got[j].rho, base[j].rho, 1e-13) << scale;
                EXPECT_NEAR(got[j].c1 / scale, base[j].c1, 1e-12) << scale;
            }
        }
    }
}

TEST(Spectrum, ZeroDeterminantGivesNonFiniteValues) {
    // Times on an integer grid: at f = 1 every phase is zero.
    const std::vector<double> t{0, 1, 2, 3, 4, 5};
    const std::vector<double> x{1, 3, 2, 5, 4, 6};
    const std::vector<double> f{1.0};
    const SpectrumPoint fit = SpectrumEngine(t, x, Window::square).fit(f)[0];
    EXPECT_FALSE(std::isfinite(fit.c1));
    EXPECT_FALSE(std::isfinite(fit.c2));
    EXPECT_FALSE(std::isfinite(fit.c3));
    EXPECT_FALSE(std::isfinite(fit.rho));
}

} // namespace
} // namespace fasogram
