// Series with measurement errors: every point weighs its window weight over
// sigma^2.  The printed digits are checked against the quadruple-precision
// reference, which weighs the points the same way from the definition.
#include "fasogram/spectrum.hpp"
#include "series_fixture.hpp"
#include "spectrum_reference.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace fasogram {
namespace {

using reference::Reference;

std::vector<double> grid_of(double f_ini, double f_fin, int n_points) {
    const FrequencyGrid g{f_ini, f_fin, n_points, 0.0};
    std::vector<double> f;
    for (std::int64_t j = 0; j < g.size(); ++j) f.push_back(g.frequency(j));
    return f;
}

// Errors spread over two decades, as photometry of a faint and a bright
// night gives them.
std::vector<double> errors_for(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> decades(-2.0, 0.0);
    std::vector<double> sigma(n);
    for (double& s : sigma) s = 0.3 * std::pow(10.0, decades(rng));
    return sigma;
}

// The eight-digit fields of a grid run with errors against the reference;
// returns how many fields were compared.
int expect_eight_digits(const testing::Series& s, const std::vector<double>& sigma, Window window,
                        const FrequencyGrid& grid) {
    const SpectrumEngine engine(s.t, s.x, sigma, window);
    EXPECT_TRUE(engine.has_errors());
    const Reference ref(s.t, s.x, sigma, window == Window::hanning);
    int compared = 0, wrong = 0;
    engine.run(grid, [&](const SpectrumPoint& p) {
        const reference::Point want = ref.fit(p.f);
        ASSERT_FALSE(want.singular) << p.f;
        const double got[4] = {p.rho, p.c1, p.c2, p.c3};
        const reference::quad exact[4] = {want.rho, want.c1, want.c2, want.c3};
        for (int k = 0; k < 4; ++k, ++compared) {
            const std::string printed = reference::table_field(got[k]);
            if (reference::rounds_to(printed, exact[k])) continue;
            if (++wrong <= 5)
                ADD_FAILURE() << "field " << k << " at f = " << p.f << ": printed " << printed
                              << ", exact " << reference::to_string(exact[k]);
        }
    });
    EXPECT_EQ(wrong, 0);
    return compared;
}

TEST(MeasurementErrors, EightDigitFieldsAreTheExactFitOfTheWeightedSeries) {
    const testing::Series example = testing::example_series();
    const std::vector<double> sigma = errors_for(example.t.size(), 5);
    // Through the daily aliases of the nightly sampling, both windows, and on
    // a grid large enough to go by transforms.
    for (Window w : {Window::hanning, Window::square}) {
        EXPECT_EQ(expect_eight_digits(example, sigma, w, {0.0005, 3.0, 150, 0.0}), 4 * 151);
        const SpectrumEngine engine(example.t, example.x, sigma, w);
        const FrequencyGrid big{0.001, 1.5, 60000, engine.line_width()};
        EXPECT_EQ(engine.path_for(big, 1), GridPath::nufft);
        const Reference ref(example.t, example.x, sigma, w == Window::hanning);
        int wrong = 0;
        std::int64_t j = 0;
        engine.run(
            big,
            [&](const SpectrumPoint& p) {
                if (j++ % 1999 != 0) return;
                const reference::Point want = ref.fit(p.f);
                wrong += !reference::rounds_to(reference::table_field(p.rho), want.rho);
                wrong += !reference::rounds_to(reference::table_field(p.c2), want.c2);
            },
            1);
        EXPECT_EQ(wrong, 0);
    }
    // Values on a large zero point and Julian-day times.
    testing::Series observed = testing::observed_series(2450000.5, 1500, 3);
    for (double& x : observed.x) x += 25000.0;
    expect_eight_digits(observed, errors_for(observed.t.size(), 8), Window::hanning,
                        {0.001, 2.2, 200, 0.0});
}

// value + tail printed with 17 significant digits against the exact value
// correctly rounded (either rounding within 1e-25 of a boundary).
bool seventeen_digits_exact(double value, double tail, reference::quad exact) {
    const std::string printed = format_full_digits(value, tail);
    auto rounded = [](reference::quad v) {
        char buffer[64];
        quadmath_snprintf(buffer, sizeof buffer, "%.16Qe", v);
        return std::string(buffer);
    };
    if (printed == rounded(exact)) return true;
    const reference::quad d = fabsq(exact) * 1e-25Q;
    const std::string below = rounded(exact - d), above = rounded(exact + d);
    return below != above && (printed == below || printed == above);
}

TEST(MeasurementErrors, EveryDigitRunsTakeTheWeightsInDoubleDouble) {
    const testing::Series s = testing::observed_series(2450000.5, 700, 11);
    const std::vector<double> sigma = errors_for(s.t.size(), 12);
    for (Window w : {Window::hanning, Window::square}) {
        const SpectrumEngine engine(s.t, s.x, sigma, w);
        const Reference ref(s.t, s.x, sigma, w == Window::hanning);
        int compared = 0, wrong = 0;
        engine.run(
            FrequencyGrid{0.0004, 1.2, 120, engine.line_width()},
            [&](const SpectrumPoint& p) {
                const reference::Point want = ref.fit(p.f);
                const double v[4] = {p.rho, p.c1, p.c2, p.c3};
                const double tails[4] = {p.tail.rho, p.tail.c1, p.tail.c2, p.tail.c3};
                const reference::quad exact[4] = {want.rho, want.c1, want.c2, want.c3};
                for (int k = 0; k < 4; ++k, ++compared) {
                    if (seventeen_digits_exact(v[k], tails[k], exact[k])) continue;
                    if (++wrong <= 5)
                        ADD_FAILURE() << "field " << k << " at f = " << p.f << ": "
                                      << format_full_digits(v[k], tails[k]) << ", exact "
                                      << reference::to_string(exact[k]);
                }
            },
            0, Digits::full);
        EXPECT_EQ(compared, 4 * 121);
        EXPECT_EQ(wrong, 0);
    }
}

TEST(MeasurementErrors, OnlyTheRatiosOfTheErrorsCount) {
    const testing::Series s = testing::observed_series(2450000.5, 600, 4);
    const std::vector<double> f = grid_of(0.01, 1.0, 90);
    const std::vector<double> sigma = errors_for(s.t.size(), 6);
    for (Window w : {Window::hanning, Window::square}) {
        const std::vector<SpectrumPoint> plain = SpectrumEngine(s.t, s.x, w).fit(f);
        // Equal errors: the plain series, digit for digit.
        const std::vector<SpectrumPoint> equal =
            SpectrumEngine(s.t, s.x, std::vector<double>(s.t.size(), 0.07), w).fit(f);
        const std::vector<SpectrumPoint> base = SpectrumEngine(s.t, s.x, sigma, w).fit(f);
        // Every error times a power of two, at either end of the range of a
        // double: the same bits.
        for (double scale : {0x1p-1000, 0x1p+1000}) {
            std::vector<double> scaled = sigma;
            for (double& v : scaled) v *= scale;
            const std::vector<SpectrumPoint> got = SpectrumEngine(s.t, s.x, scaled, w).fit(f);
            for (std::size_t k = 0; k < f.size(); ++k) {
                ASSERT_EQ(got[k].rho, base[k].rho) << scale << " " << f[k];
                ASSERT_EQ(got[k].c3, base[k].c3) << scale << " " << f[k];
            }
        }
        int differ = 0;
        for (std::size_t k = 0; k < f.size(); ++k) {
            EXPECT_EQ(reference::table_field(equal[k].rho), reference::table_field(plain[k].rho));
            EXPECT_EQ(reference::table_field(equal[k].c1), reference::table_field(plain[k].c1));
            differ += reference::table_field(base[k].rho) != reference::table_field(plain[k].rho);
        }
        // Unequal errors do change the spectrum.
        EXPECT_GT(differ, 80);
    }
}

TEST(MeasurementErrors, APoorPointBarelyMovesThePeak) {
    // 60 points of a clean sinusoid, one of them 1 mag off with an error of
    // 1 mag among errors of 0.01.
    const double f0 = 0.137;
    std::vector<double> t, x;
    std::mt19937_64 rng(21);
    std::uniform_real_distribution<double> jitter(0.0, 0.7);
    for (int i = 0; i < 60; ++i) {
        t.push_back(1.3 * i + jitter(rng));
        x.push_back(15.0 + 0.4 * std::cos(two_pi() * f0 * t.back() + 0.3));
    }
    x[23] += 1.0;
    std::vector<double> sigma(t.size(), 0.01);
    sigma[23] = 1.0;
    for (Window w : {Window::hanning, Window::square}) {
        const SpectrumEngine weighted(t, x, sigma, w), plain(t, x, w);
        const FrequencyGrid grid{0.05, 0.3, 2000, weighted.line_width()};
        const Peak with = find_peaks(weighted, compute_spectrum(weighted, grid).points, 1).at(0);
        const Peak without = find_peaks(plain, compute_spectrum(plain, grid).points, 1).at(0);
        // Down-weighted by 10^4, the poor point leaves the fit nearly clean.
        EXPECT_NEAR(with.frequency, f0, 2e-3 * weighted.line_width());
        EXPECT_GT(with.rho, 0.9995);
        EXPECT_NEAR(with.amplitude, 0.4, 2e-3);
        // Taken at face value, it pulls the peak and costs a tenth of rho.
        EXPECT_GT(std::fabs(without.frequency - f0), 10 * std::fabs(with.frequency - f0));
        EXPECT_LT(without.rho, 0.9);
    }
}

TEST(MeasurementErrors, ErrorsThatAreNotFiniteOrNotAboveZeroAreRefusedByIndex) {
    const std::vector<double> t{1, 2, 3, 4, 5}, x{1, 3, 2, 5, 4};
    const double inf = std::numeric_limits<double>::infinity();
    auto refusal = [&](std::vector<double> sigma) {
        try {
            SpectrumEngine engine(t, x, sigma, Window::square);
        } catch (const SeriesError& e) {
            return std::to_string(static_cast<int>(e.kind())) + " " +
                   (e.index() == SeriesError::no_index ? "-" : std::to_string(e.index())) + " " +
                   e.what();
        }
        return std::string("accepted");
    };
    const std::string bad = std::to_string(static_cast<int>(SeriesError::Kind::bad_error));
    EXPECT_EQ(refusal({1, 1, 0, 1, 1}), bad + " 2 error 2 is not a finite number above 0 (0)");
    EXPECT_EQ(refusal({1, 1, 1, -0.0, -1}), bad + " 3 error 3 is not a finite number above 0 (-0)");
    EXPECT_EQ(refusal({1, std::nan(""), 1, 1, 0}),
              bad + " 1 error 1 is not a finite number above 0 (nan)");
    EXPECT_EQ(refusal({1, 1, 1, 1, inf}), bad + " 4 error 4 is not a finite number above 0 (inf)");
    EXPECT_EQ(refusal({1, 1, 1, 1, -DBL_TRUE_MIN}),
              bad + " 4 error 4 is not a finite number above 0 (-4.9406564584124654e-324)");
    EXPECT_EQ(refusal({1, 1, 1, 1}),
              std::to_string(static_cast<int>(SeriesError::Kind::size_mismatch)) +
                  " - times and errors differ in number");
    // Just above 0 and the largest double are errors like any other (the
    // points of the other error then weigh nothing beside them).
    EXPECT_EQ(refusal({DBL_TRUE_MIN, DBL_TRUE_MIN, DBL_TRUE_MIN, 1, 1}), "accepted");
    EXPECT_EQ(refusal({DBL_MAX, DBL_MAX, DBL_MAX, 1, 1}), "accepted");
    EXPECT_EQ(refusal({DBL_TRUE_MIN, 1, 1, 1, 1}),
              std::to_string(static_cast<int>(SeriesError::Kind::zero_variance)) +
                  " - the weighted values do not vary");
}

TEST(MeasurementErrors, ErrorsBeyondTheRangeOfTheirSquaresWeighNothing) {
    // Against 1e-300, errors of 1e300 make weights below the smallest double:
    // those points drop out, as they would in exact arithmetic to 600 digits.
    const std::vector<double> t{0, 1, 2, 3, 4, 5, 6}, x{1, 3, 2, 5, 4, 9, -7};
    const std::vector<double> sigma{1e-300, 1e-300, 1e-300, 1e-300, 1e-300, 1e300, 1e300};
    const std::vector<double> f = grid_of(0.05, 0.45, 8);
    const std::vector<SpectrumPoint> got = SpectrumEngine(t, x, sigma, Window::square).fit(f);
    const std::vector<double> t5(t.begin(), t.begin() + 5), x5(x.begin(), x.begin() + 5);
    const std::vector<SpectrumPoint> five = SpectrumEngine(t5, x5, Window::square).fit(f);
    for (std::size_t k = 0; k < f.size(); ++k) {
        EXPECT_EQ(reference::table_field(got[k].rho), reference::table_field(five[k].rho));
        EXPECT_EQ(reference::table_field(got[k].c1), reference::table_field(five[k].c1));
    }
    // Only the points that weigh nothing vary: no spectrum.
    EXPECT_THROW(SpectrumEngine(t, std::vector<double>{1, 1, 1, 1, 1, 2, 3}, sigma, Window::square),
                 SeriesError);
}

} // namespace
} // namespace fasogram
