#include "series_fixture.hpp"
#include "spectrum.hpp"
#include "spectrum_reference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

namespace fasogram {
namespace {

std::vector<SpectrumPoint> fits(const std::vector<double>& t, const std::vector<double>& x,
                                char window, const std::vector<double>& f, unsigned threads = 0) {
    return SpectrumEngine(t, x, window == 'c' ? Window::square : Window::hanning).fit(f, threads);
}

using testing::grid;
using testing::observed_series;
using testing::window_weights;

// Worst disagreements against the long-double evaluation, over the
// frequencies whose normal matrix is not near singular.
struct Disagreement {
    double rho = 0, coef = 0;
    int compared = 0, singular = 0;
};

Disagreement compare_with_reference(const std::vector<double>& t, const std::vector<double>& x,
                                    char window, double f_ini, double f_fin, int n_points) {
    const auto w = window_weights(t, window);
    const auto f = grid(f_ini, f_fin, n_points);
    const auto fast = fits(t, x, window, f);
    const auto mv = reference::moments(w, x);
    Disagreement d;
    for (std::size_t j = 0; j < f.size(); ++j) {
        const auto r = reference::fit(t, w, x, mv, f[j]);
        if (!(r.cond < 1e12)) {
            ++d.singular;
            continue;
        }
        ++d.compared;
        d.rho = std::max(d.rho, static_cast<double>(std::fabs(fast[j].rho - r.rho)));
        // Relative error, but absolute where a coefficient is near 0.
        auto rel = [](double got, long double want) {
            return static_cast<double>(std::fabs(got - want) / std::max(std::fabs(want), 0.1L));
        };
        d.coef =
            std::max({d.coef, rel(fast[j].c1, r.c1), rel(fast[j].c2, r.c2), rel(fast[j].c3, r.c3)});
    }
    return d;
}

// The bundled example series, optionally moved to start at t = 0.
testing::Series example_series(bool from_zero) {
    testing::Series s;
    std::ifstream in(FASOGRAM_EXAMPLE);
    for (double a, b; in >> a >> b;) {
        s.t.push_back(a);
        s.x.push_back(b);
    }
    if (from_zero) {
        const double t0 = s.t.front();
        for (double& v : s.t) v -= t0;
    }
    return s;
}

struct Case {
    const char* name;
    bool from_zero;
    char window;
};

class FastSpectrumAccuracy : public ::testing::TestWithParam<Case> {};

TEST_P(FastSpectrumAccuracy, AgreesWithLongDoubleEvaluation) {
    const Case c = GetParam();
    const auto s = example_series(c.from_zero);
    ASSERT_GT(s.t.size(), 2000u);
    // Up to 3 cycles a day: the grid passes the daily aliases at 1, 2 and 3,
    // where the nightly sampling makes the fit ill-conditioned.
    const auto d = compare_with_reference(s.t, s.x, c.window, 0.0, 3.0, 600);
    EXPECT_GT(d.compared, 550);
    std::printf("      %d frequencies compared, %d near singular; worst |drho| %.2e, "
                "worst coefficient error %.2e\n",
                d.compared, d.singular, d.rho, d.coef);
    EXPECT_LE(d.rho, 1e-12) << c.name;
    EXPECT_LE(d.coef, 1e-11) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Series, FastSpectrumAccuracy,
                         ::testing::Values(Case{"julian_hanning", false, 'h'},
                                           Case{"julian_square", false, 'c'},
                                           Case{"from_zero_hanning", true, 'h'},
                                           Case{"from_zero_square", true, 'c'}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FastSpectrum, FindsTheSignalPeriods) {
    const auto s = observed_series();
    const auto f = grid(0.001, 0.5, 4000);
    const auto out = fits(s.t, s.x, 'h', f);
    std::size_t best = 0;
    for (std::size_t j = 0; j < f.size(); ++j)
        if (out[j].rho > out[best].rho) best = j;
    EXPECT_NEAR(f[best], 1 / 2.7, 2e-4);
    // The peak fit recovers the amplitude of the strong signal and the mean.
    EXPECT_NEAR(std::hypot(out[best].c2, out[best].c3), 0.8, 0.05);
    EXPECT_NEAR(out[best].c1, 10.0, 0.05);
}

TEST(FastSpectrum, SameResultsWhateverTheThreadCount) {
    const auto s = observed_series(2450000.5, 1200);
    // 1000 frequencies: several groups, the last one short.
    const auto f = grid(0.01, 1.2, 999);
    const auto one = fits(s.t, s.x, 'c', f, 1), many = fits(s.t, s.x, 'c', f, 3);
    for (std::size_t j = 0; j < f.size(); ++j) {
        ASSERT_EQ(one[j].rho, many[j].rho) << j;
        ASSERT_EQ(one[j].c2, many[j].c2) << j;
    }
}

TEST(FastSpectrum, SmallSeriesAndSingleFrequency) {
    // Three points and one frequency: the padding must not disturb the fit,
    // which passes exactly through three points (rho = 1).
    const std::vector<double> t = {0.0, 0.3, 0.7}, x = {1.0, 2.0, -0.5};
    const auto w = window_weights(t, 'c');
    const std::vector<double> f = {0.4};
    const auto out = fits(t, x, 'c', f);
    const auto r = reference::fit(t, w, x, reference::moments(w, x), 0.4);
    EXPECT_NEAR(out[0].rho, 1.0, 1e-12);
    EXPECT_NEAR(out[0].c1, static_cast<double>(r.c1), 1e-11);
    EXPECT_NEAR(out[0].c2, static_cast<double>(r.c2), 1e-11);
    EXPECT_NEAR(out[0].c3, static_cast<double>(r.c3), 1e-11);

    EXPECT_TRUE(fits(t, x, 'c', {}).empty());
}

TEST(FastSpectrum, SingularFrequenciesGiveWhatTheFormulasGive) {
    // Whole-day sampling: at f = 0, 1 and 2 every phase is the same and the
    // normal matrix is singular.  The run must finish and report non-finite
    // or huge values there, and sound ones in between.
    std::vector<double> t, x;
    for (int i = 0; i < 300; ++i) {
        t.push_back(2450000.0 + i);
        x.push_back(std::sin(0.3 * i) + 0.01 * (i % 7));
    }
    const auto f = grid(0.0, 2.0, 400);
    const auto out = fits(t, x, 'h', f);
    for (int j : {0, 200, 400}) {
        const auto& r = out[j];
        const bool wild = !std::isfinite(r.c2) || !std::isfinite(r.rho) || std::fabs(r.c2) > 1e6;
        EXPECT_TRUE(wild) << "f = " << f[j] << " c2 = " << r.c2 << " rho = " << r.rho;
    }
    for (int j : {37, 150, 333}) {
        EXPECT_TRUE(std::isfinite(out[j].rho)) << j;
        EXPECT_LE(out[j].rho, 1.0 + 1e-9) << j;
    }
}

} // namespace
} // namespace fasogram
