// The fits of several frequencies: the harmonic spectrum against a
// quadruple-precision reference and the spectrum engine, the simultaneous
// fit and its uncertainties over seeded noise draws, prewhitening, trends
// and the spectral window.
#include "fasogram/spectrum.hpp"
#include "multi_fixture.hpp"
#include "multifit_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace fasogram {
namespace {

using reference::quad;
using testing::kSignals;
using testing::kT0;
using testing::Series;

// Every 7th point of the example with its values: a series the quadruple
// reference runs through quickly, with the example's gaps and span.
Series thinned(const Series& s, std::size_t every = 7) {
    Series out;
    for (std::size_t i = 0; i < s.t.size(); i += every) {
        out.t.push_back(s.t[i]);
        out.x.push_back(s.x[i]);
    }
    return out;
}

// Errors that vary from point to point, 0.05 to 0.2.
std::vector<double> varying_sigma(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.05, 0.2);
    std::vector<double> sigma(n);
    for (double& s : sigma) s = u(rng);
    return sigma;
}

// ---------------------------------------------------------------------------
// The harmonic spectrum.

TEST(HarmonicSpectrum, MatchesTheQuadrupleReferenceForEveryWindowHarmonicsAndErrors) {
    const Series s = thinned(testing::three_sinusoids(11));
    const std::vector<double> sigma = varying_sigma(s.t.size(), 5);
    const std::vector<double> freqs{0.0007, 0.0823, 0.3, 1.0 / 2.7, 0.99, 1.2345, 3.7, 11.3};
    for (const Window window : {Window::hanning, Window::square})
        for (const bool with_sigma : {false, true})
            for (const int H : {1, 2, 3, 5}) {
                const std::span<const double> sg =
                    with_sigma ? std::span<const double>(sigma) : std::span<const double>();
                const HarmonicSpectrum hs(s.t, s.x, sg, window, H);
                const std::vector<HarmonicPoint> got = hs.at(freqs);
                for (std::size_t j = 0; j < freqs.size(); ++j) {
                    const reference::HarmonicFit ref = reference::harmonic_fit(
                        s.t, s.x, sg, window == Window::hanning, H, freqs[j]);
                    ASSERT_FALSE(ref.singular);
                    const std::string where = "window " + std::to_string(int(window)) + " sigma " +
                                              std::to_string(with_sigma) + " H " +
                                              std::to_string(H) + " f " + std::to_string(freqs[j]);
                    EXPECT_NEAR(got[j].rho, (double)ref.rho, 1e-11) << where;
                    EXPECT_NEAR(got[j].amplitude, (double)ref.amplitude,
                                1e-9 * (double)ref.amplitude)
                        << where;
                }
            }
}

TEST(HarmonicSpectrum, OneHarmonicIsTheEngineSpectrumAndGridRunsMatchSingleFits) {
    const Series s = testing::three_sinusoids(3);
    for (const Window window : {Window::hanning, Window::square}) {
        const HarmonicSpectrum hs(s.t, s.x, {}, window, 1);
        const SpectrumEngine engine(s.t, s.x, window);
        EXPECT_EQ(hs.line_width(), engine.line_width());
        EXPECT_NEAR(hs.mean(), engine.mean(), 1e-14 * std::fabs(engine.mean()));
        EXPECT_NEAR(hs.variance(), engine.variance(), 1e-13 * engine.variance());
        // A grid that crosses zero: the skipped frequencies are the engine's.
        const FrequencyGrid grid{-0.05, 1.5, 1551, hs.line_width()};
        std::vector<HarmonicPoint> run1, run2;
        hs.run(
            grid, [&](const HarmonicPoint& p) { run1.push_back(p); }, 1);
        hs.run(
            grid, [&](const HarmonicPoint& p) { run2.push_back(p); }, 2);
        std::vector<SpectrumPoint> ref;
        engine.run(grid, [&](const SpectrumPoint& p) { ref.push_back(p); });
        ASSERT_EQ(run1.size(), ref.size());
        ASSERT_EQ(run2.size(), ref.size());
        std::vector<double> freqs;
        for (const HarmonicPoint& p : run1) freqs.push_back(p.f);
        const std::vector<HarmonicPoint> direct = hs.at(freqs);
        for (std::size_t j = 0; j < ref.size(); ++j) {
            ASSERT_EQ(run1[j].f, ref[j].f);
            // The thread count changes nothing.
            EXPECT_EQ(run1[j].rho, run2[j].rho);
            EXPECT_NEAR(run1[j].rho, ref[j].rho, 1e-12) << ref[j].f;
            // The stepped phases of a grid run against phases computed afresh.
            EXPECT_NEAR(run1[j].rho, direct[j].rho, 1e-13) << ref[j].f;
            // Near zero frequency the cosine is nearly the constant: C1 and
            // C2 are ill-conditioned there (rho is not).
            if (std::fabs(ref[j].f) < 0.01) continue;
            EXPECT_NEAR(run1[j].c0, ref[j].c1, 1e-11) << ref[j].f;
            EXPECT_NEAR(run1[j].a1, ref[j].c2, 1e-11) << ref[j].f;
            EXPECT_NEAR(run1[j].b1, ref[j].c3, 1e-11) << ref[j].f;
            EXPECT_NEAR(run1[j].amplitude, std::hypot(ref[j].c2, ref[j].c3), 1e-11);
        }
    }
}

TEST(HarmonicSpectrum, MoreHarmonicsNeverExplainLessAndFindASawtoothsPeriod) {
    // A sawtooth of period 3.3 days: its harmonics carry power the
    // one-harmonic model misses.
    Series s = testing::example_series();
    std::mt19937_64 rng(17);
    std::normal_distribution<double> gauss(0.0, 0.05);
    for (std::size_t i = 0; i < s.t.size(); ++i) {
        const double phase = (s.t[i] - kT0) / 3.3;
        s.x[i] = phase - std::floor(phase) + gauss(rng);
    }
    const FrequencyGrid grid{0.05, 1.0, 4000, 2.0 / 1337.0};
    std::vector<std::vector<HarmonicPoint>> runs;
    for (const int H : {1, 2, 3, 4}) {
        const HarmonicSpectrum hs(s.t, s.x, {}, Window::hanning, H);
        runs.emplace_back();
        hs.run(grid, [&](const HarmonicPoint& p) { runs.back().push_back(p); });
        const std::vector<Peak> best = hs.peaks(runs.back(), 1);
        ASSERT_EQ(best.size(), 1u);
        // With two harmonics and more the true period wins over its half.
        if (H >= 2) {
            EXPECT_NEAR(best[0].frequency, 1 / 3.3, 1e-4) << H;
        }
    }
    for (std::size_t h = 1; h < runs.size(); ++h)
        for (std::size_t j = 0; j < runs[h].size(); ++j)
            EXPECT_GE(runs[h][j].rho, runs[h - 1][j].rho - 1e-12) << runs[h][j].f;
    // At the true frequency four harmonics explain (6/pi^2) sum_{h<=4} 1/h^2
    // = 0.865 of a sawtooth's variance of 1/12, which is 0.971 of the
    // series' variance with the noise: 0.840 of it.
    const HarmonicSpectrum h4(s.t, s.x, {}, Window::hanning, 4);
    const double rho = h4.at(std::vector<double>{1 / 3.3})[0].rho;
    EXPECT_NEAR(rho, 0.840, 0.015);
}

TEST(HarmonicSpectrum, PeaksAreRefinedAndPassOverExcludedFrequencies) {
    const Series s = testing::three_sinusoids(8);
    const HarmonicSpectrum hs(s.t, s.x, {}, Window::hanning, 1);
    const FrequencyGrid grid{0.01, 2.0, 6000, hs.line_width()};
    std::vector<HarmonicPoint> points;
    hs.run(grid, [&](const HarmonicPoint& p) { points.push_back(p); });
    const std::vector<Peak> peaks = hs.peaks(points, 4);
    ASSERT_EQ(peaks.size(), 4u);
    EXPECT_NEAR(peaks[0].frequency, kSignals[0].f, 2e-5);
    for (std::size_t i = 1; i < peaks.size(); ++i) EXPECT_GE(peaks[i - 1].rho, peaks[i].rho);
    for (const Peak& p : peaks) {
        // Nothing higher on a dense scan between the grid neighbours.
        std::vector<double> dense;
        for (int i = -100; i <= 100; ++i) dense.push_back(p.frequency + i * grid.step() / 100);
        for (const HarmonicPoint& q : hs.at(dense)) EXPECT_LE(q.rho, p.rho * (1 + 1e-12));
        const HarmonicPoint at = hs.at(std::vector<double>{p.frequency})[0];
        EXPECT_NEAR(p.amplitude * std::cos(two_pi() * p.phase), at.a1, 1e-12);
        EXPECT_NEAR(p.amplitude * std::sin(two_pi() * p.phase), at.b1, 1e-12);
    }
    // Excluding the highest leaves the others in order.
    const std::vector<double> exclude{peaks[0].frequency};
    const std::vector<Peak> rest = hs.peaks(points, 3, exclude);
    ASSERT_EQ(rest.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(rest[i].frequency, peaks[i + 1].frequency);
    EXPECT_TRUE(hs.peaks(points, 0).empty());

    // A grid that crosses zero holds each peak twice, at f and -f: the
    // excluded frequency takes its mirror with it.
    const FrequencyGrid both{-2.0, 2.0, 12000, hs.line_width()};
    std::vector<HarmonicPoint> mirrored;
    hs.run(both, [&](const HarmonicPoint& p) { mirrored.push_back(p); });
    const std::vector<Peak> pair = hs.peaks(mirrored, 2);
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_NEAR(pair[0].frequency, -pair[1].frequency, 1e-9);
    EXPECT_NEAR(std::fabs(pair[0].frequency), kSignals[0].f, 2e-5);
    const std::vector<Peak> next = hs.peaks(mirrored, 1, exclude);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_GT(std::fabs(std::fabs(next[0].frequency) - kSignals[0].f), 1e-3);
}

// ---------------------------------------------------------------------------
// The simultaneous fit.

std::vector<double> true_frequencies() {
    std::vector<double> f;
    for (const testing::Sinusoid& x : kSignals) f.push_back(x.f);
    return f;
}

// The phase of a true signal at the fit's epoch, in cycles.
double true_phase(const testing::Sinusoid& x, double epoch) {
    const double v = x.phase - x.f * (epoch - kT0);
    return v - std::floor(v);
}

// The difference of two phases in cycles, in [-1/2, 1/2).
double phase_difference(double a, double b) {
    const double d = a - b;
    return d - std::floor(d + 0.5);
}

TEST(MultiFit, ConvergesToTheQuadrupleReferencesMinimumAndDescribesItsModel) {
    const Series s = testing::three_sinusoids(21);
    const std::vector<double> sigma = varying_sigma(s.t.size(), 9);
    for (const Window window : {Window::hanning, Window::square})
        for (const bool with_sigma : {false, true})
            for (const int H : {1, 2}) {
                const std::span<const double> sg =
                    with_sigma ? std::span<const double>(sigma) : std::span<const double>();
                // Started a tenth of a line width away from the truth.
                std::vector<double> start = true_frequencies();
                for (double& f : start) f += 0.1 * 2.0 / 1337.0;
                FitOptions options;
                options.harmonics = H;
                const MultiFit fit = fit_frequencies(s.t, s.x, sg, window, start, options);
                ASSERT_TRUE(fit.converged);
                EXPECT_EQ(fit.errors_scaled, !with_sigma);
                ASSERT_EQ(fit.frequencies.size(), 3u);
                ASSERT_EQ(fit.terms.size(), 3u * H);
                reference::Model m;
                m.epoch = fit.epoch;
                m.c0 = fit.c0;
                m.f = fit.frequencies;
                m.a.assign(3, {});
                m.b.assign(3, {});
                for (const FitTerm& term : fit.terms) {
                    m.a[term.index].push_back(term.a);
                    m.b[term.index].push_back(term.b);
                    // Amplitude and phase say the same as a and b.
                    EXPECT_NEAR(term.amplitude * std::cos(two_pi() * term.phase), term.a, 1e-15);
                    EXPECT_NEAR(term.amplitude * std::sin(two_pi() * term.phase), term.b, 1e-15);
                    EXPECT_DOUBLE_EQ(term.frequency, term.harmonic * fit.frequencies[term.index]);
                }
                const std::vector<quad> g =
                    reference::scaled_gradient(s.t, s.x, sg, window == Window::hanning, m);
                for (std::size_t j = 0; j < g.size(); ++j)
                    EXPECT_LT((double)fabsq(g[j]), 1e-6) << "parameter " << j << " H " << H;
                // The residuals are the values less the model.
                for (std::size_t i = 0; i < s.t.size(); i += 97)
                    EXPECT_NEAR(fit.residuals[i], s.x[i] - fit.model(s.t[i]), 1e-12);
                double sum = fit.c0;
                for (std::size_t k = 0; k < 3; ++k) sum += fit.component(k, s.t[5]);
                EXPECT_NEAR(sum, fit.model(s.t[5]), 1e-13);
            }
}

// Over seeded noise draws the fitted frequencies, amplitudes and phases
// scatter around the truth as their errors say: each lies within 3 sigma
// in at least 95% of 200 draws (with errors right, 99.7% are expected, and
// fewer than 190 of 200 has a probability below 1e-10; errors half the size
// they should be would leave some 87%), and the mean error agrees with the
// scatter of the draws within 20% (four times the scatter's own standard
// error of 5% for 200 draws).
struct Coverage {
    std::vector<double> value, error;
    int inside = 0;
    void add(double deviation, double err) {
        value.push_back(deviation);
        error.push_back(err);
        if (std::fabs(deviation) <= 3.0 * err) ++inside;
    }
    double scatter() const {
        const double mean = std::accumulate(value.begin(), value.end(), 0.0) / value.size();
        double ss = 0.0;
        for (const double v : value) ss += (v - mean) * (v - mean);
        return std::sqrt(ss / (value.size() - 1));
    }
    double mean_error() const {
        return std::accumulate(error.begin(), error.end(), 0.0) / error.size();
    }
};

void check_error_statistics(Window window, bool with_sigma) {
    const Series times = testing::example_series();
    const std::vector<double> sigma =
        with_sigma ? varying_sigma(times.t.size(), 77) : std::vector<double>{};
    constexpr int draws = 200;
    std::vector<Coverage> freq(3), amp(3), phase(3);
    Coverage analytic_f;
    for (int d = 0; d < draws; ++d) {
        const Series s = testing::three_sinusoids(1000 + d, 0.1, sigma);
        std::vector<double> start = true_frequencies();
        for (double& f : start) f += 0.05 * 2.0 / 1337.0;
        const MultiFit fit = fit_frequencies(s.t, s.x, sigma, window, start);
        ASSERT_TRUE(fit.converged) << d;
        for (std::size_t k = 0; k < 3; ++k) {
            const FitTerm& term = fit.terms[k];
            freq[k].add(term.frequency - kSignals[k].f, term.frequency_error);
            amp[k].add(term.amplitude - kSignals[k].amplitude, term.amplitude_error);
            phase[k].add(phase_difference(term.phase, true_phase(kSignals[k], fit.epoch)),
                         term.phase_error);
        }
    }
    const char* names[] = {"frequency", "amplitude", "phase"};
    for (std::size_t k = 0; k < 3; ++k) {
        int q = 0;
        for (const Coverage* c : {&freq[k], &amp[k], &phase[k]}) {
            const std::string what = std::string(names[q++]) + " of signal " + std::to_string(k);
            std::printf("%s: %d of %d within 3 sigma, mean error / scatter %.3f\n", what.c_str(),
                        c->inside, draws, c->mean_error() / c->scatter());
            SCOPED_TRACE(what);
            EXPECT_GE(c->inside, 190);
            EXPECT_NEAR(c->mean_error() / c->scatter(), 1.0, 0.2);
        }
    }
}

TEST(MultiFit, ErrorsMatchTheScatterOfSeededDrawsHanningWithoutErrors) {
    check_error_statistics(Window::hanning, false);
}

TEST(MultiFit, ErrorsMatchTheScatterOfSeededDrawsSquareWithErrors) {
    check_error_statistics(Window::square, true);
}

TEST(MultiFit, ErrorsMatchTheScatterOfSeededDrawsHanningWithErrors) {
    check_error_statistics(Window::hanning, true);
}

TEST(MultiFit, AnalyticErrorsFollowTheirFormulaAndTheSquareWindowsCovariance) {
    const Series s = testing::three_sinusoids(4);
    const MultiFit fit =
        fit_frequencies(s.t, s.x, {}, Window::square, true_frequencies(), FitOptions{});
    const double n = static_cast<double>(s.t.size());
    const double T = s.t.back() - s.t.front();
    double ss = 0.0;
    for (const double r : fit.residuals) ss += r * r;
    const double sigma_n = std::sqrt(ss / n);
    EXPECT_NEAR(fit.residual_rms, sigma_n, 1e-15);
    EXPECT_EQ(fit.points, s.t.size());
    EXPECT_EQ(fit.time_span, T);
    const double pi = std::acos(-1.0);
    for (const FitTerm& term : fit.terms) {
        const double A = term.amplitude;
        EXPECT_NEAR(term.frequency_error_analytic,
                    std::sqrt(6.0) * sigma_n / (pi * std::sqrt(n) * A * T),
                    1e-12 * term.frequency_error_analytic);
        EXPECT_NEAR(term.amplitude_error_analytic, std::sqrt(2.0 / n) * sigma_n, 1e-15);
        EXPECT_NEAR(term.phase_error_analytic, term.amplitude_error_analytic / (2 * pi * A), 1e-15);
        // With equal weights the amplitude error of the covariance is the
        // analytic one for a well-sampled sinusoid (within the 10% that the
        // uneven sampling makes of it).
        EXPECT_NEAR(term.amplitude_error / term.amplitude_error_analytic, 1.0, 0.1);
    }
}

TEST(MultiFit, EpochNegativeStartsAndResidualsInInputOrder) {
    Series s = testing::three_sinusoids(6);
    // The points in reverse order: residuals follow the input.
    std::reverse(s.t.begin(), s.t.end());
    std::reverse(s.x.begin(), s.x.end());
    FitOptions options;
    options.epoch = kT0;
    const MultiFit fit =
        fit_frequencies(s.t, s.x, {}, Window::hanning, true_frequencies(), options);
    EXPECT_EQ(fit.epoch, kT0);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(phase_difference(fit.terms[k].phase, kSignals[k].phase), 0.0,
                    5 * fit.terms[k].phase_error + 0.01);
    }
    for (std::size_t i = 0; i < s.t.size(); i += 101)
        EXPECT_NEAR(fit.residuals[i], s.x[i] - fit.model(s.t[i]), 1e-12);
}

// ---------------------------------------------------------------------------
// Prewhitening.

TEST(Prewhitening, FindsTheThreeSignalsAndNoFourthAboveSignalToNoiseFour) {
    // Five grid points a line width; the peaks are refined between them.
    const FrequencyGrid grid{0.01, 2.0, 6650, 2.0 / 1337.0};
    int fourth = 0;
    constexpr int seeds = 6;
    for (int seed = 0; seed < seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Series s = testing::three_sinusoids(500 + seed);
        PrewhitenOptions options;
        options.max_frequencies = 8;
        const Prewhitening pw = prewhiten(s.t, s.x, {}, Window::hanning, grid, options);
        ASSERT_GE(pw.fit.frequencies.size(), 3u);
        if (pw.fit.frequencies.size() > 3) ++fourth;
        // Found in the order of their amplitudes, within 3 sigma of the truth.
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(pw.fit.frequencies[k], kSignals[k].f, 3 * pw.fit.frequency_errors[k]);
            EXPECT_GE(pw.snr[k], 4.0);
        }
        if (pw.fit.frequencies.size() == 3) {
            EXPECT_EQ(pw.stop, Prewhitening::Stop::snr);
            EXPECT_LT(pw.rejected_snr, 4.0);
            EXPECT_GT(pw.rejected_snr, 0.0);
        }
        EXPECT_EQ(pw.snr_half_width, 100 * 2.0 / (s.t.back() - s.t.front()));
        EXPECT_EQ(pw.residual_spectrum.size(), 6651u);
        // The S/N is the amplitude over the mean of the final residual
        // spectrum in the band.
        const double noise =
            mean_amplitude(pw.residual_spectrum, pw.fit.frequencies[0], pw.snr_half_width);
        EXPECT_DOUBLE_EQ(pw.noise[0], noise);
        EXPECT_DOUBLE_EQ(pw.snr[0], pw.fit.terms[0].amplitude / noise);
    }
    // A noise peak passes S/N 4 in about 2% of such series (some 3000
    // independent frequencies of Rayleigh amplitudes): more than two of six
    // has a probability below 0.3%.
    EXPECT_LE(fourth, 2);
}

TEST(Prewhitening, StopsAtTheCountOrWhereTheExtraStopSays) {
    const Series s = testing::three_sinusoids(31);
    const FrequencyGrid grid{0.01, 2.0, 8000, 2.0 / 1337.0};
    PrewhitenOptions options;
    options.max_frequencies = 2;
    const Prewhitening two = prewhiten(s.t, s.x, {}, Window::hanning, grid, options);
    EXPECT_EQ(two.stop, Prewhitening::Stop::count);
    ASSERT_EQ(two.fit.frequencies.size(), 2u);
    EXPECT_NEAR(two.fit.frequencies[1], kSignals[1].f, 1e-4);

    // The extra stop sees each candidate with its fit and spectra, after it
    // passed the S/N test.
    std::vector<PrewhitenStep> seen;
    options.max_frequencies = 5;
    options.extra_stop = [&](const PrewhitenStep& step) {
        seen.push_back(step);
        EXPECT_NE(step.fit, nullptr);
        EXPECT_EQ(step.fit->frequencies.size(), step.index + 1);
        EXPECT_EQ(step.spectrum.size(), 8001u);
        EXPECT_EQ(step.residual.size(), 8001u);
        EXPECT_GE(step.snr, 4.0);
        return step.index == 1;
    };
    const Prewhitening one = prewhiten(s.t, s.x, {}, Window::hanning, grid, options);
    EXPECT_EQ(one.stop, Prewhitening::Stop::extra);
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(one.fit.frequencies.size(), 1u);
    EXPECT_NEAR(one.rejected.frequency, kSignals[1].f, 1e-4);
    EXPECT_NEAR(seen[1].peak.frequency, kSignals[1].f, 1e-4);

    // Pure noise: nothing is accepted, and the fit is the mean alone.
    std::mt19937_64 rng(2);
    std::normal_distribution<double> gauss(0.0, 0.1);
    std::vector<double> noise(s.t.size());
    for (double& v : noise) v = 5.0 + gauss(rng);
    options.extra_stop = nullptr;
    const Prewhitening none = prewhiten(s.t, noise, {}, Window::square, grid, options);
    EXPECT_EQ(none.stop, Prewhitening::Stop::snr);
    EXPECT_TRUE(none.fit.frequencies.empty());
    EXPECT_NEAR(none.fit.c0, std::accumulate(noise.begin(), noise.end(), 0.0) / noise.size(),
                1e-12);
    EXPECT_LT(none.rejected_snr, 4.0);
}

TEST(Prewhitening, WithHarmonicsFindsANonSinusoidalSignalOnce) {
    Series s = testing::example_series();
    std::mt19937_64 rng(23);
    std::normal_distribution<double> gauss(0.0, 0.05);
    for (std::size_t i = 0; i < s.t.size(); ++i) {
        const double x = two_pi() * (s.t[i] - kT0) / 3.3;
        s.x[i] = 0.3 * std::cos(x) + 0.15 * std::cos(2 * x + 1) + 0.08 * std::cos(3 * x + 2) +
                 gauss(rng);
    }
    const FrequencyGrid grid{0.05, 2.0, 8000, 2.0 / 1337.0};
    PrewhitenOptions options;
    options.max_frequencies = 4;
    options.harmonics = 3;
    const Prewhitening pw = prewhiten(s.t, s.x, {}, Window::hanning, grid, options);
    ASSERT_EQ(pw.fit.frequencies.size(), 1u);
    EXPECT_NEAR(pw.fit.frequencies[0], 1 / 3.3, 1e-5);
    ASSERT_EQ(pw.fit.terms.size(), 3u);
    const double amplitudes[] = {0.3, 0.15, 0.08};
    for (int h = 0; h < 3; ++h)
        EXPECT_NEAR(pw.fit.terms[h].amplitude, amplitudes[h], 5 * pw.fit.terms[h].amplitude_error);
    // One harmonic needs three frequencies for the same signal.
    options.harmonics = 1;
    const Prewhitening plain = prewhiten(s.t, s.x, {}, Window::hanning, grid, options);
    EXPECT_GE(plain.fit.frequencies.size(), 3u);
}

// ---------------------------------------------------------------------------
// Trends.

TEST(Trend, MatchesTheQuadrupleReferenceAndRemovesAPolynomialExactly) {
    const Series base = thinned(testing::three_sinusoids(12), 3);
    const std::vector<double> sigma = varying_sigma(base.t.size(), 4);
    for (const Window window : {Window::hanning, Window::square})
        for (const int degree : {0, 1, 2, 5, 9}) {
            const Trend trend = fit_trend(base.t, base.x, sigma, window, degree);
            ASSERT_EQ(trend.coefficients.size(), static_cast<std::size_t>(degree + 1));
            const std::vector<double> at{base.t.front(), base.t[100], base.t[400], base.t.back()};
            const std::vector<quad> ref =
                reference::trend_values(base.t, base.x, sigma, window == Window::hanning, degree,
                                        trend.centre, trend.scale, at);
            for (std::size_t i = 0; i < at.size(); ++i)
                EXPECT_NEAR(trend(at[i]), (double)ref[i], 1e-10)
                    << "degree " << degree << " t " << at[i];
        }
    // A cubic in days on Julian-date times, recovered to rounding.
    Series s = base;
    for (std::size_t i = 0; i < s.t.size(); ++i) {
        const double d = (s.t[i] - 2450600.0) / 100.0;
        s.x[i] = 3.0 - 0.5 * d + 0.02 * d * d - 0.001 * d * d * d;
    }
    const Trend cubic = fit_trend(s.t, s.x, {}, Window::square, 3);
    for (std::size_t i = 0; i < s.t.size(); i += 10) EXPECT_NEAR(cubic(s.t[i]), s.x[i], 1e-11);
    EXPECT_EQ(Trend{}(123.0), 0.0);
}

TEST(Trend, RefusesMoreDegreesThanDistinctTimes) {
    const std::vector<double> t{1.0, 1.0, 2.0, 2.0, 3.0}, y{1.0, 2.0, 3.0, 4.0, 5.0};
    EXPECT_NO_THROW(fit_trend(t, y, {}, Window::square, 2));
    EXPECT_THROW(fit_trend(t, y, {}, Window::square, 3), std::invalid_argument);
    // The Hanning window weighs neither end: 2.0 alone carries weight.
    EXPECT_NO_THROW(fit_trend(t, y, {}, Window::hanning, 0));
    EXPECT_THROW(fit_trend(t, y, {}, Window::hanning, 1), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// The spectral window.

TEST(SpectralWindow, IsTheDirichletKernelForEvenSamplingAndTheReferenceOtherwise) {
    std::vector<double> even(100);
    for (std::size_t i = 0; i < even.size(); ++i) even[i] = 1000.0 + i;
    const FrequencyGrid grid{0.0, 1.0, 400, 0.0};
    const std::vector<WindowPoint> w = spectral_window(even, {}, Window::square, grid);
    ASSERT_EQ(w.size(), 401u);
    const double pi = std::acos(-1.0);
    for (const WindowPoint& p : w) {
        const double s = std::sin(pi * p.f);
        const double expected =
            std::fabs(s) < 1e-12 ? 1.0 : std::fabs(std::sin(pi * p.f * 100) / (100 * s));
        EXPECT_NEAR(p.amplitude, expected, 1e-12) << p.f;
    }
    // The example's nights show as the alias at one cycle per day.
    const Series s = testing::example_series();
    const std::vector<double> sigma = varying_sigma(s.t.size(), 3);
    const FrequencyGrid wide{0.0, 2.5, 5000, 0.0};
    for (const Window window : {Window::hanning, Window::square}) {
        const std::vector<WindowPoint> ws = spectral_window(s.t, sigma, window, wide, 2);
        EXPECT_NEAR(ws[0].amplitude, 1.0, 1e-15);
        double best = 0.0, at = 0.0;
        for (const WindowPoint& p : ws)
            if (p.f > 0.5 && p.amplitude > best) {
                best = p.amplitude;
                at = p.f;
            }
        EXPECT_NEAR(at, 1.0, 0.01);
        EXPECT_GT(best, 0.5);
        for (std::size_t j = 0; j < ws.size(); j += 487)
            EXPECT_NEAR(
                ws[j].amplitude,
                (double)reference::window_amplitude(s.t, sigma, window == Window::hanning, ws[j].f),
                1e-12)
                << ws[j].f;
    }
}

// ---------------------------------------------------------------------------
// Arguments.

template <class Call> void expect_refused(Call&& call, const std::string& words) {
    try {
        call();
        ADD_FAILURE() << "accepted; expected a refusal saying \"" << words << "\"";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
}

TEST(MultiFreqArguments, EveryEntryRefusesBadArguments) {
    const Series s = thinned(testing::three_sinusoids(1), 10);
    const std::vector<double> sig(s.t.size(), 0.1);
    std::vector<double> bad_sig = sig;
    bad_sig[3] = 0.0;
    const std::vector<double> short_sig(3, 0.1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Window odd = static_cast<Window>(7);
    const FrequencyGrid grid{0.1, 1.0, 100, 0.0};
    const std::vector<double> f1{0.37};

    expect_refused([&] { HarmonicSpectrum(s.t, s.x, {}, Window::hanning, 0); }, "harmonics");
    expect_refused([&] { HarmonicSpectrum(s.t, s.x, {}, Window::hanning, max_harmonics + 1); },
                   "harmonics");
    EXPECT_NO_THROW(HarmonicSpectrum(s.t, s.x, {}, Window::hanning, max_harmonics));
    expect_refused([&] { HarmonicSpectrum(s.t, s.x, {}, odd, 1); }, "unknown window");
    expect_refused([&] { HarmonicSpectrum(s.t, s.x, bad_sig, Window::square, 1); },
                   "finite positive");
    try {
        HarmonicSpectrum(s.t, s.x, short_sig, Window::square, 1);
        ADD_FAILURE();
    } catch (const SeriesError& e) {
        EXPECT_EQ(e.kind(), SeriesError::Kind::size_mismatch);
    }
    try {
        const std::vector<double> flat(s.t.size(), 2.0);
        HarmonicSpectrum(s.t, flat, {}, Window::square, 1);
        ADD_FAILURE();
    } catch (const SeriesError& e) {
        EXPECT_EQ(e.kind(), SeriesError::Kind::zero_variance);
    }
    const HarmonicSpectrum hs(s.t, s.x, {}, Window::square, 2);
    expect_refused(
        [&] {
            hs.run({0.0, 1.0, 0, 0.0}, [](const HarmonicPoint&) {});
        },
        "at least one step");
    expect_refused([&] { hs.run(grid, nullptr); }, "function");
    expect_refused(
        [&] {
            hs.run(
                grid, [](const HarmonicPoint&) {}, max_threads + 1);
        },
        "threads");
    expect_refused([&] { hs.at(std::vector<double>{nan}); }, "not finite");
    const std::vector<HarmonicPoint> backwards{{0.5, 0.1, 0, 0, 0, 0}, {0.4, 0.2, 0, 0, 0, 0}};
    expect_refused([&] { hs.peaks(backwards, 1); }, "do not increase");
    HarmonicSpectrum moved = HarmonicSpectrum(s.t, s.x, {}, Window::square, 1);
    const HarmonicSpectrum taker = std::move(moved);
    expect_refused([&] { (void)moved.size(); }, "moved from");

    expect_refused([&] { fit_frequencies(s.t, s.x, {}, Window::square, {}); }, "at least one");
    expect_refused(
        [&] { fit_frequencies(s.t, s.x, {}, Window::square, std::vector<double>{-0.3}); },
        "positive");
    expect_refused(
        [&] {
            fit_frequencies(s.t, s.x, {}, Window::square, std::vector<double>{0.3, 0.3 + 1e-9});
        },
        "closer than");
    FitOptions opts;
    opts.harmonics = 0;
    expect_refused([&] { fit_frequencies(s.t, s.x, {}, Window::square, f1, opts); }, "harmonics");
    opts = {};
    opts.epoch = std::numeric_limits<double>::infinity();
    expect_refused([&] { fit_frequencies(s.t, s.x, {}, Window::square, f1, opts); }, "epoch");
    opts = {};
    opts.max_iterations = 0;
    expect_refused([&] { fit_frequencies(s.t, s.x, {}, Window::square, f1, opts); },
                   "max_iterations");
    const std::vector<double> many(max_fit_frequencies + 1, 0.1);
    expect_refused([&] { fit_frequencies(s.t, s.x, {}, Window::square, many); }, "at most");
    // More parameters than points.
    const std::vector<double> t5{0, 1, 2, 3, 4}, y5{1, 0, 1, 0, 2};
    try {
        fit_frequencies(t5, y5, {}, Window::square, std::vector<double>{0.1, 0.3});
        ADD_FAILURE();
    } catch (const SeriesError& e) {
        EXPECT_EQ(e.kind(), SeriesError::Kind::too_few_points);
    }

    PrewhitenOptions po;
    po.max_frequencies = 0;
    expect_refused([&] { prewhiten(s.t, s.x, {}, Window::square, grid, po); }, "from 1 to");
    po.max_frequencies = 2;
    po.snr_min = nan;
    expect_refused([&] { prewhiten(s.t, s.x, {}, Window::square, grid, po); }, "signal-to-noise");
    po.snr_min = 4;
    po.snr_half_width = -1;
    expect_refused([&] { prewhiten(s.t, s.x, {}, Window::square, grid, po); }, "half width");
    po.snr_half_width = 0;
    expect_refused(
        [&] {
            prewhiten(s.t, s.x, {}, Window::square, {1.0, 0.5, 10, 0.0}, po);
        },
        "greater than");

    expect_refused([&] { fit_trend(s.t, s.x, {}, Window::square, -1); }, "degree");
    expect_refused([&] { fit_trend(s.t, s.x, {}, Window::square, max_trend_degree + 1); },
                   "degree");
    expect_refused([&] { spectral_window(s.t, bad_sig, Window::square, grid); }, "finite positive");
    expect_refused([&] { mean_amplitude({}, nan, 1.0); }, "not finite");
    EXPECT_TRUE(std::isnan(mean_amplitude({}, 1.0, 1.0)));
    expect_refused(
        [&] {
            fit_weights(std::vector<double>{1.0, 1.0}, {}, Window::square);
        },
        "every time is the same");
    const std::vector<double> w = fit_weights(s.t, sig, Window::square);
    EXPECT_DOUBLE_EQ(w[0], 100.0);
}

} // namespace
} // namespace fasogram
