// The spectrum printed is the exact weighted least-squares fit correctly
// rounded, checked against an independent evaluation in quadruple precision
// on series of the kind observers bring.
#include "fasogram/spectrum.hpp"
#include "series_fixture.hpp"
#include "spectrum_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace fasogram {
namespace {

using reference::Reference;

using Loaded = testing::Series;
using testing::example_series;

// Every field of every frequency against the reference; returns how many
// frequencies were compared and fails the test on the first few wrong ones.
int expect_exact(const std::vector<double>& t, const std::vector<double>& x, Window window,
                 const std::vector<double>& freqs, EngineOptions options = {}) {
    const SpectrumEngine engine(t, x, window, options);
    const Reference ref(t, x, window == Window::hanning);
    const std::vector<SpectrumPoint> got = engine.fit(freqs);
    int wrong = 0;
    for (std::size_t k = 0; k < freqs.size(); ++k) {
        const reference::Point want = ref.fit(freqs[k]);
        const SpectrumPoint& p = got[k];
        if (want.singular) {
            EXPECT_TRUE(std::isnan(p.rho) && std::isnan(p.c1) && std::isnan(p.c2) &&
                        std::isnan(p.c3))
                << "singular at f = " << freqs[k];
            continue;
        }
        const struct {
            const char* name;
            double value;
            reference::quad exact;
        } fields[] = {{"rho", p.rho, want.rho},
                      {"C1", p.c1, want.c1},
                      {"C2", p.c2, want.c2},
                      {"C3", p.c3, want.c3}};
        for (const auto& field : fields) {
            const std::string printed = reference::table_field(field.value);
            if (reference::rounds_to(printed, field.exact)) continue;
            if (++wrong <= 5)
                ADD_FAILURE() << field.name << " at f = " << freqs[k] << ": printed " << printed
                              << ", exact " << reference::to_string(field.exact);
        }
    }
    EXPECT_EQ(wrong, 0);
    return static_cast<int>(freqs.size());
}

std::vector<double> grid_of(double f_ini, double f_fin, int n_points) {
    const FrequencyGrid g{f_ini, f_fin, n_points, 0.0};
    std::vector<double> f;
    for (std::int64_t j = 0; j < g.size(); ++j) f.push_back(g.frequency(j));
    return f;
}

std::vector<double> plus(std::vector<double> x, double c) {
    for (double& v : x) v += c;
    return x;
}

TEST(ExactSpectrum, ExampleSeriesWhateverTheZeroPointOfTheValues) {
    const Loaded s = example_series();
    // Up to 3 cycles a day, through the daily aliases where the nightly
    // sampling makes the fit ill-conditioned.
    const std::vector<double> f = grid_of(0.0005, 3.0, 150);
    for (Window w : {Window::hanning, Window::square}) {
        SCOPED_TRACE(w == Window::hanning ? "hanning" : "square");
        expect_exact(s.t, s.x, w, f);
        expect_exact(s.t, plus(s.x, 25000.0), w, f);
        expect_exact(s.t, plus(s.x, 1e8), w, f);
    }
}

TEST(ExactSpectrum, LineOrderChangesNothing) {
    const Loaded s = example_series();
    const FrequencyGrid grid{0.0, 1.0, 400, 2.0 / (s.t.back() - s.t.front())};
    const Spectrum sorted = compute_spectrum(SpectrumEngine(s.t, s.x, Window::hanning), grid);
    std::vector<std::size_t> order(s.t.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::mt19937 rng(11);
    std::shuffle(order.begin(), order.end(), rng);
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "shuffled");
        Loaded m;
        for (std::size_t k = 0; k < order.size(); ++k) {
            const std::size_t i = reversed ? order.size() - 1 - k : order[k];
            m.t.push_back(s.t[i]);
            m.x.push_back(s.x[i]);
        }
        const SpectrumEngine engine(m.t, m.x, Window::hanning);
        EXPECT_EQ(engine.line_width(), grid.line_width);
        const Spectrum other = compute_spectrum(engine, grid);
        ASSERT_EQ(other.points.size(), sorted.points.size());
        for (std::size_t k = 0; k < other.points.size(); ++k) {
            ASSERT_EQ(other.points[k].rho, sorted.points[k].rho) << k;
            ASSERT_EQ(other.points[k].c1, sorted.points[k].c1) << k;
            ASSERT_EQ(other.points[k].c2, sorted.points[k].c2) << k;
            ASSERT_EQ(other.points[k].c3, sorted.points[k].c3) << k;
        }
        // f = 0 is skipped: the span is taken from the earliest to the latest time.
        EXPECT_GT(other.points.front().f, 0.0);
    }
}

TEST(ExactSpectrum, NearSingularFrequenciesOfDailySampling) {
    // Nightly at the same hour to within 1e-6 d: near 1 and 2 cycles a day
    // every phase is nearly the same.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> jitter(-1e-6, 1e-6);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> t, x;
    for (int d = 0; d < 300; ++d) {
        t.push_back(2455000.3 + d + jitter(rng));
        x.push_back(12.0 + 0.2 * std::sin(0.21 * d) + noise(rng));
    }
    for (double centre : {1.0, 2.0}) {
        std::vector<double> f = grid_of(centre - 1e-5, centre + 1e-5, 40);
        f.push_back(centre); // exactly on the alias
        for (Window w : {Window::hanning, Window::square}) expect_exact(t, x, w, f);
        // The same on processors without the four-lane careful path.
        EngineOptions scalar;
        scalar.careful_lanes = false;
        expect_exact(t, x, Window::hanning, f, scalar);
    }
}

TEST(ExactSpectrum, FivePointsOnJulianDays) {
    const std::vector<double> t{2451545.0, 2451546.3125, 2451549.75, 2451550.5, 2451557.0625};
    const std::vector<double> x{14.21, 14.38, 14.19, 14.40, 14.27};
    for (Window w : {Window::hanning, Window::square})
        expect_exact(t, x, w, grid_of(0.01, 5.0, 250));
}

TEST(ExactSpectrum, SquareWindowOnTwentyThousandPoints) {
    const Loaded s = example_series();
    Loaded big;
    for (int k = 0; big.t.size() < 20000; ++k)
        for (std::size_t i = 0; i < s.t.size() && big.t.size() < 20000; ++i) {
            big.t.push_back(s.t[i] + 3653.0 * k);
            big.x.push_back(s.x[i]);
        }
    expect_exact(big.t, big.x, Window::square, grid_of(0.01, 0.5, 30));
}

TEST(ExactSpectrum, TinyCoefficientsAtTheLowestFrequencies) {
    // The example series less its least-squares parabola: far below one
    // cycle over the series the sinusoid (a parabola there) can explain next
    // to nothing, rho down to 1e-8 and below.
    Loaded s = example_series();
    const std::size_t n = s.t.size();
    const long double t0 = s.t[0], span = s.t[n - 1] - s.t[0];
    long double m[3][4] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const long double u = (s.t[i] - t0) / span, b[3] = {1, u, u * u};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] += b[r] * b[c];
            m[r][3] += b[r] * s.x[i];
        }
    }
    for (int p = 0; p < 3; ++p)
        for (int r = p + 1; r < 3; ++r) {
            const long double k = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c) m[r][c] -= k * m[p][c];
        }
    long double coef[3];
    for (int r = 2; r >= 0; --r) {
        long double v = m[r][3];
        for (int c = r + 1; c < 3; ++c) v -= m[r][c] * coef[c];
        coef[r] = v / m[r][r];
    }
    for (std::size_t i = 0; i < n; ++i) {
        const long double u = (s.t[i] - t0) / span;
        s.x[i] = static_cast<double>(s.x[i] - coef[0] - coef[1] * u - coef[2] * u * u);
    }
    const std::vector<double> f = grid_of(1e-8, 6e-5, 60);
    const std::vector<SpectrumPoint> got = SpectrumEngine(s.t, s.x, Window::square).fit(f);
    double lowest = 1;
    for (const SpectrumPoint& p : got) lowest = std::min(lowest, p.rho);
    EXPECT_LT(lowest, 1e-7);
    expect_exact(s.t, s.x, Window::square, f);
}

TEST(ExactSpectrum, HugePhases) {
    // Times in seconds since an epoch and frequencies in hertz: |t f| up to
    // about 1e11 cycles.
    std::vector<double> t, x;
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 200; ++i) {
        t.push_back(1.7e9 + 86400.0 * i + 600.0 * u(rng));
        x.push_back(std::cos(2 * M_PI * 57.0 * t.back()) + 0.3 * u(rng));
    }
    expect_exact(t, x, Window::hanning, grid_of(56.9999, 57.0001, 40));
}

TEST(ExactSpectrum, ExactlySingularFrequenciesAreNotANumber) {
    // Yearly data: at half a cycle per year every phase is 0 or pi, an
    // exactly singular fit; at a quarter cycle the four phases are exact
    // and the fit is sound.
    std::vector<double> t, x;
    for (int y = 1990; y <= 2020; ++y) {
        t.push_back(y);
        x.push_back(std::sin(0.7 * y) + 0.01 * (y % 3));
    }
    const std::vector<double> f{0.5, 1.0, 0.25, 0.3};
    for (Window w : {Window::hanning, Window::square}) {
        expect_exact(t, x, w, f);
        const std::vector<SpectrumPoint> got = SpectrumEngine(t, x, w).fit(f);
        EXPECT_TRUE(std::isnan(got[0].rho) && std::isnan(got[1].c2));
        EXPECT_TRUE(std::isfinite(got[2].rho) && std::isfinite(got[3].rho));
        EXPECT_LE(got[2].rho, 1.0);
    }
}

TEST(ExactSpectrum, SameResultsWhateverTheThreadCount) {
    const auto s = testing::observed_series(2450000.5, 1200);
    const SpectrumEngine engine(s.t, s.x, Window::square);
    // 1000 frequencies: several groups, the last one short.
    const FrequencyGrid grid{0.01, 1.2, 999, engine.line_width()};
    const Spectrum one = compute_spectrum(engine, grid, 1);
    const Spectrum many = compute_spectrum(engine, grid, 3);
    ASSERT_EQ(one.points.size(), many.points.size());
    for (std::size_t j = 0; j < one.points.size(); ++j) {
        ASSERT_EQ(one.points[j].rho, many.points[j].rho) << j;
        ASSERT_EQ(one.points[j].c2, many.points[j].c2) << j;
    }
}

TEST(ExactSpectrum, FindsTheSignalPeriods) {
    const auto s = testing::observed_series();
    const SpectrumEngine engine(s.t, s.x, Window::hanning);
    const Spectrum sp = compute_spectrum(engine, FrequencyGrid{0.001, 0.5, 4000, 0.0});
    const auto best = std::max_element(sp.points.begin(), sp.points.end(),
                                       [](auto& a, auto& b) { return a.rho < b.rho; });
    EXPECT_NEAR(best->f, 1 / 2.7, 2e-4);
    // The peak fit recovers the amplitude of the strong signal and the mean.
    EXPECT_NEAR(std::hypot(best->c2, best->c3), 0.8, 0.05);
    EXPECT_NEAR(best->c1, 10.0, 0.05);
}

} // namespace
} // namespace fasogram
