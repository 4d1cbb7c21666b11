// False-alarm probabilities: the analytic approximation's arguments and
// limits, and the bootstrap checked resample by resample against the exact
// engine run on the same resampled series.
#include "fasogram/spectrum.hpp"
#include "series_fixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace {

using namespace fasogram;

struct Noise {
    std::vector<double> t, x, sigma;
};

// Uneven times over [0, 100), values of white noise with a sinusoid of
// amplitude `a` at frequency 0.37, errors between 0.5 and 1.5.
Noise noise_series(std::size_t n, double a = 0.0, std::uint64_t seed = 3) {
    Noise s;
    std::uint64_t state = seed;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const double t = 100.0 * uniform();
        const double e = uniform() + uniform() + uniform() - 1.5;
        s.t.push_back(t);
        s.x.push_back(a * std::sin(2 * std::numbers::pi * 0.37 * t) + e);
        s.sigma.push_back(0.5 + uniform());
    }
    return s;
}

// The highest rho of the exact engine over the grid.
double exact_maximum(const std::vector<double>& t, const std::vector<double>& x,
                     const std::vector<double>& sigma, Window window, const FrequencyGrid& grid) {
    const SpectrumEngine engine =
        sigma.empty() ? SpectrumEngine(t, x, window) : SpectrumEngine(t, x, sigma, window);
    double best = 0.0;
    engine.run(grid, [&](const SpectrumPoint& p) {
        if (p.rho > best) best = p.rho;
    });
    return best;
}

TEST(AnalyticFap, ArgumentsAndLimits) {
    const Noise s = noise_series(60);
    const FapBasis basis = fap_basis(s.t, {}, Window::square);
    // The square window's effective number of points is the number of points.
    EXPECT_DOUBLE_EQ(basis.n_eff, 60.0);
    double mean = std::accumulate(s.t.begin(), s.t.end(), 0.0) / 60.0, var = 0.0;
    for (double t : s.t) var += (t - mean) * (t - mean) / 60.0;
    EXPECT_NEAR(basis.t_eff, std::sqrt(4 * std::numbers::pi * var), 1e-12 * basis.t_eff);
    // The Hanning window weighs the middle: fewer effective points.
    EXPECT_LT(fap_basis(s.t, {}, Window::hanning).n_eff, 60.0);

    EXPECT_THROW(false_alarm_probability(0.2, 1.0, 1.0, basis), std::invalid_argument);
    EXPECT_THROW(false_alarm_probability(0.2, 2.0, 1.0, basis), std::invalid_argument);
    EXPECT_THROW(false_alarm_probability(0.2, 0.0, INFINITY, basis), std::invalid_argument);
    EXPECT_THROW(false_alarm_probability(NAN, 0.0, 1.0, basis), std::invalid_argument);
    EXPECT_THROW(false_alarm_probability(0.2, 0.0, 1.0, FapBasis{4.0, 10.0}),
                 std::invalid_argument);
    EXPECT_NO_THROW(false_alarm_probability(0.2, 0.0, 1.0, FapBasis{4.000001, 10.0}));
    EXPECT_THROW(false_alarm_probability(0.2, 0.0, 1.0, FapBasis{60, std::nan("")}),
                 std::invalid_argument);
    for (double p : {0.0, 1.0, -0.1, std::nan("")})
        EXPECT_THROW(false_alarm_level(p, 0.0, 1.0, basis), std::invalid_argument) << p;

    EXPECT_EQ(false_alarm_probability(0.0, 0.0, 1.0, basis), 1.0);
    EXPECT_EQ(false_alarm_probability(-0.5, 0.0, 1.0, basis), 1.0);
    EXPECT_EQ(false_alarm_probability(1.0, 0.0, 1.0, basis), 0.0);
    // Falls with rho; a band across zero searches its wider side.
    double last = 1.0;
    for (double rho = 0.05; rho < 1; rho += 0.05) {
        const double p = false_alarm_probability(rho, 0.0, 2.0, basis);
        EXPECT_LE(p, last) << rho;
        last = p;
        EXPECT_EQ(false_alarm_probability(rho, -2.0, 1.0, basis), p);
    }
    // The level is the inverse.
    for (double p : {0.5, 0.1, 0.01, 0.001, 1e-6}) {
        const double level = false_alarm_level(p, 0.0, 2.0, basis);
        EXPECT_NEAR(false_alarm_probability(level, 0.0, 2.0, basis), p, 1e-9 * p) << p;
    }
}

TEST(Bootstrap, ArgumentsAreChecked) {
    const Noise s = noise_series(40);
    const FrequencyGrid grid{0.01, 2.0, 100, 0.02};
    BootstrapOptions o;
    o.resamples = 0;
    EXPECT_THROW(bootstrap(s.t, s.x, {}, Window::square, grid, o), std::invalid_argument);
    o.resamples = 5;
    o.threads = max_threads + 1;
    EXPECT_THROW(bootstrap(s.t, s.x, {}, Window::square, grid, o), std::invalid_argument);
    o.threads = max_threads;
    EXPECT_NO_THROW(bootstrap(s.t, s.x, {}, Window::square, grid, o));
    o.threads = 1;
    EXPECT_THROW(bootstrap(s.t, s.x, {}, Window::square, FrequencyGrid{1.0, 1.0, 10, 0.02}, o),
                 std::invalid_argument);
    EXPECT_THROW(bootstrap(s.t, s.x, {}, Window::square, FrequencyGrid{0.0, 1.0, 0, 0.02}, o),
                 std::invalid_argument);
    std::vector<double> x = s.x;
    x[3] = NAN;
    EXPECT_THROW(bootstrap(s.t, x, {}, Window::square, grid, o), SeriesError);
    std::vector<double> sigma = s.sigma;
    sigma[7] = 0.0;
    EXPECT_THROW(bootstrap(s.t, s.x, sigma, Window::square, grid, o), SeriesError);
    EXPECT_THROW(bootstrap(s.t, std::vector<double>(40, 2.0), {}, Window::square, grid, o),
                 SeriesError);
    EXPECT_THROW(bootstrap(s.t, std::span(s.x).first(39), {}, Window::square, grid, o),
                 SeriesError);

    EXPECT_THROW(Bootstrap(std::vector<double>{}), std::invalid_argument);
    EXPECT_THROW(Bootstrap({0.5, std::nan("")}), std::invalid_argument);
    EXPECT_THROW(Bootstrap({0.5, 1.0000001}), std::invalid_argument);
    EXPECT_THROW(Bootstrap({-1e-300}), std::invalid_argument);
    EXPECT_NO_THROW(Bootstrap({0.0, 1.0}));
    EXPECT_THROW(Bootstrap({0.5}).probability(NAN), std::invalid_argument);
}

TEST(Bootstrap, EachMaximumIsTheExactEnginesOnThatResample) {
    const Noise s = noise_series(150, 0.3);
    // Across zero: the skipped frequencies are skipped here too.
    const FrequencyGrid grids[] = {{-0.3, 1.5, 700, 0.02}, {0.005, 3.0, 1000, 0.01}};
    for (const bool errors : {false, true})
        for (const Window window : {Window::hanning, Window::square})
            for (const FrequencyGrid& grid : grids) {
                const std::vector<double> sigma = errors ? s.sigma : std::vector<double>{};
                BootstrapOptions o;
                o.resamples = 6;
                o.seed = 99;
                const Bootstrap b = bootstrap(s.t, s.x, sigma, window, grid, o);
                ASSERT_EQ(b.resamples(), 6u);
                for (std::size_t r = 0; r < 6; ++r) {
                    const std::vector<std::size_t> k = bootstrap_indices(99, r, s.t.size());
                    std::vector<double> x, e;
                    for (std::size_t i = 0; i < k.size(); ++i) {
                        x.push_back(s.x[k[i]]);
                        if (errors) e.push_back(s.sigma[k[i]]);
                    }
                    const double exact = exact_maximum(s.t, x, e, window, grid);
                    EXPECT_NEAR(b.maxima()[r], exact, 1e-9)
                        << "errors " << errors << " window " << static_cast<int>(window) << " grid "
                        << grid.f_ini << " resample " << r;
                }
            }
}

TEST(Bootstrap, GridsOfSeveralBlocksMissNoFrequency) {
    // 150001 frequencies: transforms of 65536 frequencies, the last one
    // partly filled.  A signal near the end of each block in turn is where
    // the resamples' maxima lie.
    for (const double f_signal : {2.6214, 5.2430, 5.9999}) {
        Noise s = noise_series(200, 0.0, 17);
        for (std::size_t i = 0; i < s.t.size(); ++i)
            s.x[i] += 3 * std::sin(2 * std::numbers::pi * f_signal * s.t[i]);
        const FrequencyGrid grid{0.0, 6.0, 150000, 0.01};
        BootstrapOptions o;
        o.resamples = 3;
        o.seed = 8;
        const Bootstrap b = bootstrap(s.t, s.x, s.sigma, Window::hanning, grid, o);
        for (std::size_t r = 0; r < 3; ++r) {
            const std::vector<std::size_t> k = bootstrap_indices(8, r, s.t.size());
            std::vector<double> x, e;
            for (std::size_t i = 0; i < k.size(); ++i) {
                x.push_back(s.x[k[i]]);
                e.push_back(s.sigma[k[i]]);
            }
            EXPECT_NEAR(b.maxima()[r], exact_maximum(s.t, x, e, Window::hanning, grid), 1e-9)
                << f_signal << " " << r;
        }
    }
}

TEST(Bootstrap, SameSeedSameMaximaWhateverTheThreads) {
    const Noise s = noise_series(300, 0.2);
    const FrequencyGrid grid{0.01, 5.0, 3000, 0.02};
    BootstrapOptions o;
    o.resamples = 40;
    o.seed = 12345;
    o.threads = 1;
    const std::vector<double> one = bootstrap(s.t, s.x, s.sigma, Window::hanning, grid, o).maxima();
    for (unsigned threads : {2u, 3u, 0u}) {
        o.threads = threads;
        EXPECT_EQ(bootstrap(s.t, s.x, s.sigma, Window::hanning, grid, o).maxima(), one) << threads;
    }
    // The first resamples of a longer run are the same resamples.
    o.resamples = 45;
    const std::vector<double> longer =
        bootstrap(s.t, s.x, s.sigma, Window::hanning, grid, o).maxima();
    EXPECT_TRUE(std::equal(one.begin(), one.end(), longer.begin()));
    // Another seed, other resamples.
    o.resamples = 40;
    o.seed = 12346;
    const std::vector<double> other =
        bootstrap(s.t, s.x, s.sigma, Window::hanning, grid, o).maxima();
    std::size_t same = 0;
    for (std::size_t r = 0; r < 40; ++r) same += other[r] == one[r];
    EXPECT_EQ(same, 0u);
    // An interruption reaches the caller.
    o.interruption_point = [] { throw std::runtime_error("stop"); };
    o.threads = 2;
    o.resamples = 2000;
    EXPECT_THROW(bootstrap(s.t, s.x, s.sigma, Window::hanning, grid, o), std::runtime_error);
}

TEST(Bootstrap, ProbabilityCountsAndBoundsAndLevels) {
    const Bootstrap b({0.1, 0.4, 0.2, 0.4, 0.3, 0.05, 0.25, 0.35, 0.15, 0.45});
    // At a maximum it counts (at least), just above it does not.
    auto p = b.probability(0.45);
    EXPECT_EQ(p.exceeding, 1u);
    EXPECT_FALSE(p.upper_bound);
    EXPECT_DOUBLE_EQ(p.probability, 0.1);
    EXPECT_DOUBLE_EQ(p.error, std::sqrt(0.1 * 0.9 / 10));
    p = b.probability(std::nextafter(0.45, 1.0));
    EXPECT_TRUE(p.upper_bound);
    EXPECT_EQ(p.exceeding, 0u);
    EXPECT_DOUBLE_EQ(p.probability, 0.1);
    EXPECT_EQ(p.error, 0.0);
    p = b.probability(0.4);
    EXPECT_EQ(p.exceeding, 3u);
    p = b.probability(std::nextafter(0.4, 1.0));
    EXPECT_EQ(p.exceeding, 1u);
    p = b.probability(0.05);
    EXPECT_EQ(p.exceeding, 10u);
    EXPECT_DOUBLE_EQ(p.probability, 1.0);
    EXPECT_EQ(p.error, 0.0);
    EXPECT_EQ(b.probability(-1.0).exceeding, 10u);

    // Levels: the k-th highest, k = floor(p B), or higher where it is tied;
    // p B below 1 has none.
    EXPECT_DOUBLE_EQ(b.level(0.1), 0.45);
    EXPECT_DOUBLE_EQ(b.level(0.2), 0.45); // 0.4 twice: 3 of 10 reach it
    EXPECT_DOUBLE_EQ(b.level(0.3), 0.4);
    EXPECT_DOUBLE_EQ(b.level(0.39), 0.4);
    EXPECT_DOUBLE_EQ(b.level(0.4), 0.35);
    EXPECT_DOUBLE_EQ(b.level(0.999), 0.1);
    EXPECT_THROW(b.level(0.0999), std::invalid_argument);
    for (double q : {0.0, 1.0, std::nan("")}) EXPECT_THROW(b.level(q), std::invalid_argument);
    for (double q : {0.1, 0.25, 0.5, 0.9}) EXPECT_LE(b.probability(b.level(q)).probability, q);
    const Bootstrap same({0.3, 0.3, 0.3});
    EXPECT_GT(same.level(0.5), 0.3);
    EXPECT_TRUE(same.probability(same.level(0.5)).upper_bound);
    EXPECT_DOUBLE_EQ(same.level(0.9999), 0.3);
}

TEST(Bootstrap, IndicesAreUniformOverThePoints) {
    // 20000 draws over 7 points: chi-square with 6 degrees of freedom, below
    // 22.46 with probability 0.999.
    std::vector<int> count(7, 0);
    for (std::size_t r = 0; r < 2000; ++r)
        for (std::size_t k : bootstrap_indices(42, r, 7)) {
            ASSERT_LT(k, 7u);
            ++count[k];
        }
    const double expected = 2000.0 * 7 / 7;
    double chi2 = 0;
    for (int c : count) chi2 += (c - expected) * (c - expected) / expected;
    EXPECT_LT(chi2, 22.46);
    EXPECT_EQ(bootstrap_indices(1, 0, 0).size(), 0u);
    EXPECT_EQ(bootstrap_indices(1, 0, 1), std::vector<std::size_t>{0});
}

} // namespace
