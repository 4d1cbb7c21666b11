// The engine's public entries refuse every bad argument with
// std::invalid_argument and a message, and take every argument at the edge
// of what they accept.
#include "fasogram/spectrum.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fasogram {
namespace {

const std::vector<double> kT{0.0, 1.0, 2.5, 4.0, 4.5};
const std::vector<double> kX{1.0, 3.0, 2.0, 5.0, 4.0};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Runs `call`, which must raise std::invalid_argument whose message holds
// `words`.
template <class Call> void expect_refused(Call&& call, const std::string& words) {
    try {
        call();
        ADD_FAILURE() << "accepted; expected a refusal saying \"" << words << "\"";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
}

std::size_t run_count(const SpectrumEngine& e, const FrequencyGrid& g, unsigned threads = 0) {
    std::size_t n = 0;
    e.run(
        g, [&](const SpectrumPoint&) { ++n; }, threads);
    return n;
}

TEST(EngineArguments, BadGridsAreRefused) {
    const SpectrumEngine e(kT, kX, Window::square);
    const auto run = [&](FrequencyGrid g) { return [&e, g] { run_count(e, g); }; };
    expect_refused(run({0.0, 1.0, 0, 0.0}), "at least one step");
    expect_refused(run({0.0, 1.0, -5, 0.0}), "at least one step");
    expect_refused(run({kNaN, 1.0, 10, 0.0}), "initial frequency is not finite");
    expect_refused(run({0.0, kInf, 10, 0.0}), "final frequency is not finite");
    expect_refused(run({1.0, 1.0, 10, 0.0}), "greater than the initial");
    expect_refused(run({1.0, 0.5, 10, 0.0}), "greater than the initial");
    expect_refused(run({-1e308, 1e308, 1, 0.0}), "beyond the phases");
    expect_refused(run({0.0, 1.0, 10, kNaN}), "line width");
    expect_refused(run({0.0, 1.0, 10, -1e-9}), "line width");
    // The grid is checked before a point is handed on, by path_for too.
    expect_refused([&] { e.path_for({0.0, 1.0, 0, 0.0}); }, "at least one step");
    // One step and a line width of 0 are the smallest accepted.
    EXPECT_EQ(run_count(e, {0.1, 1.0, 1, 0.0}), 2u);
}

TEST(EngineArguments, StepsTooSmallForTheFrequenciesToDifferAreRefused) {
    const SpectrumEngine e(kT, kX, Window::square);
    const auto increasing = [&](const FrequencyGrid& g) {
        double last = -kInf;
        std::size_t n = 0;
        bool ok = true;
        e.run(
            g,
            [&](const SpectrumPoint& p) {
                ok = ok && p.f > last;
                last = p.f;
                ++n;
            },
            1);
        return ok && n == static_cast<std::size_t>(g.n_points) + 1;
    };
    // 256 steps of exactly 2^-48 of the final frequency, 2: the smallest step taken.
    EXPECT_TRUE(increasing({2.0 - 0x1p-39, 2.0, 256, 0.0}));
    // One step more over the same limits is just below it.
    expect_refused([&] { run_count(e, {2.0 - 0x1p-39, 2.0, 257, 0.0}); }, "too small");
    // The grid the fuzzer found: a few units of the last place at 4e-149.
    const double g0 = 4e-149;
    expect_refused(
        [&] {
            run_count(e, {g0, std::nextafter(g0, 1.0) * (1 + 0x1p-50), 300, 0.0});
        },
        "too small");
    // Near the subnormals the floor is 2^-1068.
    expect_refused([&] { run_count(e, {0.0, 300 * 0x1p-1069, 300, 0.0}); }, "too small");
}

TEST(EngineArguments, PhasesBeyondTheReductionAreRefusedUpToTheBound) {
    // |t·f| < 2^1000 is accepted; the largest time here is 4.5.
    const SpectrumEngine e(kT, kX, Window::square);
    const double edge = std::nextafter(0x1p1000 / 4.5, 0.0);
    EXPECT_EQ(run_count(e, {edge / 2, edge, 1, 0.0}), 2u);
    const std::vector<double> at_edge{edge, -edge};
    for (const SpectrumPoint& p : e.fit(at_edge))
        EXPECT_TRUE(std::isnan(p.rho) || (p.rho >= 0.0 && p.rho <= 1.0 + 1e-12)) << p.rho;
    const double beyond = 0x1p1000 / 4.5 * (1.0 + 1e-15);
    expect_refused([&] { run_count(e, {0.0, beyond, 1, 0.0}); }, "beyond the phases");
    const std::vector<double> one{-beyond};
    expect_refused([&] { e.fit(one); }, "beyond the phases");
    // The overflow of a time of 1e308 by the frequency 1.
    const std::vector<double> t{1.0, 1e308}, x{1.0, 2.0};
    const SpectrumEngine far(t, x, Window::square);
    expect_refused([&] { run_count(far, {0.0, 1.0, 1, 0.0}); }, "beyond the phases");
    expect_refused([&] { run_count(far, {0.0, 1e-6, 1, 0.0}); }, "beyond the phases");
    EXPECT_EQ(run_count(far, {1e-300, 2e-300, 1, 0.0}), 2u);
}

TEST(EngineArguments, BadSettingsAndCallsAreRefused) {
    const SpectrumEngine e(kT, kX, Window::hanning);
    const FrequencyGrid g{0.1, 1.0, 4, 0.0};
    expect_refused([&] { e.run(g, {}); }, "function");
    expect_refused(
        [&] {
            e.run(
                g, [](const SpectrumPoint&) {}, 0, static_cast<Digits>(9));
        },
        "digits");
    expect_refused([&] { run_count(e, g, max_threads + 1); }, "threads");
    EXPECT_EQ(run_count(e, g, max_threads), 5u);
    const std::vector<double> bad{0.5, kNaN};
    expect_refused([&] { e.fit(bad, 1); }, "not finite");
    expect_refused([&] { e.fit(std::vector<double>{0.5}, max_threads + 1); }, "threads");
    expect_refused([&] { SpectrumEngine(kT, kX, static_cast<Window>(2)); }, "window");
    EngineOptions o;
    o.path = static_cast<GridPath>(5);
    expect_refused([&] { SpectrumEngine(kT, kX, Window::square, o); }, "grid path");
    SpectrumEngine mutable_engine(kT, kX, Window::square);
    expect_refused([&] { mutable_engine.set_options(o); }, "grid path");
}

TEST(EngineArguments, AMovedFromEngineRefusesEveryCall) {
    SpectrumEngine a(kT, kX, Window::square);
    SpectrumEngine b(std::move(a));
    EXPECT_EQ(b.size(), 5u);
    expect_refused([&] { a.size(); }, "moved from");
    expect_refused([&] { run_count(a, {0.1, 1.0, 4, 0.0}); }, "moved from");
    expect_refused([&] { a.fit(std::vector<double>{0.5}); }, "moved from");
    expect_refused([&] { a.stats(); }, "moved from");
}

TEST(EngineArguments, SeriesWithoutASpectrumAreRefusedWithTheirKind) {
    using Kind = SeriesError::Kind;
    const auto kind_of = [](std::vector<double> t, std::vector<double> x) {
        try {
            SpectrumEngine(t, x, Window::square);
        } catch (const SeriesError& e) {
            return static_cast<int>(e.kind());
        }
        return -1;
    };
    EXPECT_EQ(kind_of({1, 2}, {1}), static_cast<int>(Kind::size_mismatch));
    EXPECT_EQ(kind_of({1}, {1}), static_cast<int>(Kind::too_few_points));
    EXPECT_EQ(kind_of({1, kNaN}, {1, 2}), static_cast<int>(Kind::not_finite));
    EXPECT_EQ(kind_of({1, 1}, {1, 2}), static_cast<int>(Kind::no_time_span));
    EXPECT_EQ(kind_of({1, 2}, {3, 3}), static_cast<int>(Kind::zero_variance));
    // A span that a double cannot hold; values of any finite size are taken.
    EXPECT_EQ(kind_of({-1e308, 1e308}, {1, 2}), static_cast<int>(Kind::not_finite));
    EXPECT_EQ(kind_of({0, 1, 2}, {-1.7e308, 1.7e308, 0}), -1);
    EXPECT_EQ(kind_of({0, 1, 2}, {-4.9e-324, 4.9e-324, 0}), -1);
    // A span so short that its line width overflows, and the shortest that
    // does not.
    EXPECT_EQ(kind_of({0, 4.9e-324}, {1, 2}), static_cast<int>(Kind::no_time_span));
    EXPECT_EQ(kind_of({0, 0x1p-1022}, {1, 2}), -1);
    // The widest span a double holds is accepted.
    EXPECT_EQ(kind_of({-0x1p1022, 0x1p1022}, {1, 2}), -1);
}

} // namespace
} // namespace fasogram
