// The fits solved in vectors against solve_fit<double>, one at a time: on
// random sums and on the awkward ones (nearly singular, values at the ends
// of the range or within a hair of an eight-digit rounding boundary, rho
// near 0 and 1, sums that are not finite), over every run length up to two
// vectors of eight and a tail, at each width the processor has.  A fit the
// vectors settle must be the scalar one bit for bit, values, flags and the
// stated bounds alike; a fit the scalar solution settles with room to spare
// must be settled by the vectors too.
#include "kernel_widths.hpp"
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"
#include "spectrum_solve_batch.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace fasogram {
namespace {

using detail::Evaluation;
using detail::FitRecord;
using detail::Prepared;
using detail::SumBounds;
using detail::Sums;

constexpr double kUnit = std::numeric_limits<double>::epsilon() / 2;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Rng {
    std::uint64_t s;
    double uniform() { // [0, 1)
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(s >> 11) * 0x1p-53;
    }
    double between(double a, double b) { return a + (b - a) * uniform(); }
    int below(int n) { return static_cast<int>(uniform() * n); }
};

// One fit's input: the sums and their bounds.
struct Case {
    Sums<double> u;
    double mu = 0, eta = 0;
};

struct Series {
    Prepared p;
    double S = 0, mean = 0, variance = 0, dm = 0;
};

Series make_series(Rng& g, int scale) {
    Series s;
    s.S = g.between(5.0, 5000.0);
    s.mean = g.between(-0.4, 0.4);
    s.variance = g.between(0.01, 0.2);
    s.dm = g.between(-1e-17, 1e-17);
    s.p.sum_h = {s.S, 0.0};
    s.p.mean = {s.mean, s.mean * 1e-18};
    s.p.variance = {s.variance, 0.0};
    s.p.centre_offset = {s.dm, 0.0};
    s.p.mean_err = 1e-31 * g.between(1.0, 100.0);
    s.p.moment_rel = 1e-31 * g.between(1.0, 100.0);
    s.p.scale = scale;
    return s;
}

// The scalar solution and the bounds it stated (NaN where it stated none).
struct Scalar {
    Evaluation e;
    double bound[4] = {kNaN, kNaN, kNaN, kNaN};
};

Scalar scalar_fit(const Series& s, const Case& c, double f) {
    std::vector<FitRecord> rec;
    detail::fit_records() = &rec;
    SumBounds b;
    b.mu = c.mu;
    b.eta = c.eta;
    b.unit = kUnit;
    Scalar r;
    r.e = detail::solve_fit(c.u, s.p, s.p.centre_offset, b, f);
    detail::fit_records() = nullptr;
    if (!rec.empty()) {
        const auto& t = rec.back().bound;
        r.bound[0] = t.rho;
        r.bound[1] = t.c1;
        r.bound[2] = t.c2;
        r.bound[3] = t.c3;
    }
    return r;
}

// A well-conditioned fit of the series: cbar, sbar, the centred matrix and
// the coefficients drawn, rho set by scaling the coefficients.
Case random_case(Rng& g, const Series& s, double rho, double cond, double bound_scale) {
    const double cbar = g.between(-0.3, 0.3), sbar = g.between(-0.3, 0.3);
    const double mcc = g.between(0.1, 0.5), mss = g.between(0.1, 0.5);
    const double mcs = g.between(-1.0, 1.0) * std::sqrt(mcc * mss) * (1.0 - cond);
    double c2 = g.between(-1.0, 1.0), c3 = g.between(-1.0, 1.0);
    double y1 = mcc * c2 + mcs * c3, y2 = mcs * c2 + mss * c3;
    const double k = std::sqrt(rho * s.variance / (c2 * y1 + c3 * y2));
    c2 *= k;
    c3 *= k;
    y1 *= k;
    y2 *= k;
    Case c;
    const double S = s.S;
    c.u.hc = cbar * S;
    c.u.hs = sbar * S;
    c.u.hcc = (mcc + cbar * cbar) * S;
    c.u.hss = (mss + sbar * sbar) * S;
    c.u.hcs = (mcs + cbar * sbar) * S;
    c.u.hyc = y1 * S + s.dm * c.u.hc;
    c.u.hys = y2 * S + s.dm * c.u.hs;
    c.mu = bound_scale * S * g.between(0.5, 2.0);
    c.eta = bound_scale * S * g.between(0.5, 2.0);
    return c;
}

// Value j of a point: rho, C1, C2, C3.
double value(const Evaluation& e, int j) {
    const double v[4] = {e.point.rho, e.point.c1, e.point.c2, e.point.c3};
    return v[j];
}

// Moves value j of the fit to within `rel` (relative) of an eight-digit
// rounding boundary (or of a power of ten, where `decade`) by changing the
// sums of h y: C2 through sum h y c, C3 through sum h y s, C1 through both
// (secant steps), rho by scaling both.
void near_boundary(const Series& s, Case& c, int j, double rel, bool decade) {
    const double v0 = value(scalar_fit(s, c, 1.0).e, j);
    if (!std::isfinite(v0) || v0 == 0) return;
    char text[40];
    std::snprintf(text, sizeof text, "%.7e", std::fabs(v0));
    const int e10 = std::atoi(text + 10);
    const long double digits = std::strtold(text, nullptr) / std::pow(10.0L, e10) * 1e7L;
    const long double unit = std::pow(10.0L, e10 - 7);
    const long double edge = decade ? std::pow(10.0L, e10) : (std::floor(digits) + 0.5L) * unit;
    const double target = static_cast<double>(std::copysign(edge * (1.0L + rel), v0));
    if (j == 0) {
        const double lambda = std::sqrt(target / v0);
        const double y1 = c.u.hyc - s.dm * c.u.hc, y2 = c.u.hys - s.dm * c.u.hs;
        c.u.hyc = s.dm * c.u.hc + lambda * y1;
        c.u.hys = s.dm * c.u.hs + lambda * y2;
        return;
    }
    double& x = j == 3 ? c.u.hys : c.u.hyc;
    double xa = x, va = v0;
    double xb = x * (1.0 + 1e-6) + 1e-9, vb = 0;
    for (int it = 0; it < 6; ++it) {
        x = xb;
        vb = value(scalar_fit(s, c, 1.0).e, j);
        if (vb == va || !std::isfinite(vb)) break;
        const double xn = xb - (vb - target) * (xb - xa) / (vb - va);
        xa = xb;
        va = vb;
        xb = xn;
    }
    x = xb;
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Whether the eight digits of v are settled with room to spare: the quick
// test of settled() must then decide it whatever its slack.
bool clearly_settled(double v, double err) {
    if (!std::isfinite(v) || !std::isfinite(err) || v == 0) return false;
    const double a = std::fabs(v);
    if (!(a > 1e-280 && a < 1e280)) return false;
    const double room = 4.0 * (err + 1e-13 * a);
    char lo[40], hi[40];
    std::snprintf(lo, sizeof lo, "%.7e", a - room);
    std::snprintf(hi, sizeof hi, "%.7e", a + room);
    if (std::string(lo) != hi) return false;
    const std::string m = std::string(lo).substr(0, 9);
    return m != "1.0000000" && m != "1.0000001" && m != "9.9999999" && m != "9.9999998";
}

// Lanes in all, settled in vectors, settled by the scalar solution, and
// settled by it with room to spare.
struct Tally {
    std::size_t total = 0, vector = 0, scalar = 0, clear = 0;
};

// Runs the cases as one batch at `width` and holds each lane against the
// scalar solution.
void check_batch(const Series& s, const std::vector<Case>& cases, unsigned width, Tally& t,
                 const std::string& what) {
    const std::size_t n = cases.size();
    std::vector<double> col[10];
    for (auto& v : col) v.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Case& c = cases[i];
        const double row[10] = {c.u.hc,  c.u.hs,  c.u.hcc, c.u.hcs, c.u.hss,
                                c.u.hyc, c.u.hys, c.mu,    c.eta,   1.0 + 0.25 * i};
        for (int k = 0; k < 10; ++k) col[k][i] = row[k];
    }
    const detail::SumColumns sc{col[0].data(), col[1].data(), col[2].data(), col[3].data(),
                                col[4].data(), col[5].data(), col[6].data(), col[7].data(),
                                col[8].data(), col[9].data()};
    // Written in reverse order through `where`; the lanes left alone keep
    // their marker.
    Evaluation marker;
    marker.point.f = -7.0;
    std::vector<Evaluation> out(n, marker);
    std::vector<std::uint32_t> where(n);
    for (std::size_t i = 0; i < n; ++i) where[i] = static_cast<std::uint32_t>(n - 1 - i);
    std::vector<std::uint8_t> done(n, 2);
    std::vector<double> bounds(4 * n, kNaN);
    detail::solve_batch(sc, n, s.p, s.p.centre_offset, kUnit, out.data(), where.data(), done.data(),
                        bounds.data(), width);
    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(what + " width " + std::to_string(width) + " lane " + std::to_string(i) +
                     " of " + std::to_string(n));
        const Scalar r = scalar_fit(s, cases[i], col[9][i]);
        const Evaluation& v = out[where[i]];
        ASSERT_LE(done[i], 1);
        ++t.total;
        if (r.e.settled) ++t.scalar;
        bool clear = r.e.settled;
        for (int j = 0; j < 4 && clear; ++j)
            clear = clearly_settled(value(r.e, j), r.bound[j]) && r.e.point.tail.exponent == 0;
        if (clear) {
            ++t.clear;
            EXPECT_EQ(done[i], 1) << "a fit settled with room to spare is left to the scalar";
        }
        if (done[i] == 0) {
            EXPECT_EQ(v.point.f, -7.0) << "a lane left to the scalar was written";
            continue;
        }
        ++t.vector;
        EXPECT_TRUE(r.e.settled) << "settled in vectors, not by the scalar solution";
        EXPECT_TRUE(v.settled);
        EXPECT_EQ(v.converged, r.e.converged);
        const double a[] = {v.point.f,       v.point.rho,     v.point.c1,
                            v.point.c2,      v.point.c3,      v.point.tail.rho,
                            v.point.tail.c1, v.point.tail.c2, v.point.tail.c3};
        const double b[] = {r.e.point.f,       r.e.point.rho,     r.e.point.c1,
                            r.e.point.c2,      r.e.point.c3,      r.e.point.tail.rho,
                            r.e.point.tail.c1, r.e.point.tail.c2, r.e.point.tail.c3};
        for (std::size_t k = 0; k < std::size(a); ++k)
            EXPECT_TRUE(same_bits(a[k], b[k])) << "field " << k << ": " << a[k] << " vs " << b[k];
        EXPECT_EQ(v.point.tail.exponent, 0);
        for (int j = 0; j < 4; ++j)
            EXPECT_TRUE(same_bits(bounds[4 * i + j], r.bound[j]))
                << "bound " << j << ": " << bounds[4 * i + j] << " vs " << r.bound[j];
    }
}

std::vector<unsigned> widths() {
    std::vector<unsigned> w{2};
    if (detail::solve_batch_widest() >= 4) w.push_back(4);
    if (detail::solve_batch_widest() >= 8) w.push_back(8);
    return w;
}

// A mix of plain and awkward fits for one series.
std::vector<Case> mixed_cases(Rng& g, const Series& s, std::size_t n) {
    std::vector<Case> v;
    for (std::size_t i = 0; i < n; ++i) {
        const int kind = g.below(12);
        double rho = g.between(0.001, 0.999);
        double cond = g.between(0.05, 0.9);
        double bscale = std::pow(10.0, g.between(-19.0, -15.0));
        if (kind == 1) rho = g.between(1e-12, 1e-6);                    // rho near 0, tiny C2, C3
        if (kind == 2) rho = 1.0 - g.between(1e-15, 1e-9);              // rho near 1
        if (kind == 3) cond = std::pow(10.0, g.between(-15.0, -6.0));   // nearly singular
        if (kind == 4) bscale = std::pow(10.0, g.between(-14.0, -8.0)); // loose bounds
        Case c = random_case(g, s, rho, cond, bscale);
        if (kind == 5 || kind == 6) {
            const int j = g.below(4);
            const double rel = (g.below(2) ? 1.0 : -1.0) * std::pow(10.0, g.between(-17.0, -11.0));
            near_boundary(s, c, j, rel, kind == 6);
        }
        if (kind == 7) {
            double* f[] = {&c.u.hc,  &c.u.hs,  &c.u.hcc, &c.u.hcs, &c.u.hss,
                           &c.u.hyc, &c.u.hys, &c.mu,    &c.eta};
            const double bad[] = {kNaN, kInf, -kInf};
            *f[g.below(9)] = bad[g.below(3)];
        }
        if (kind == 8) c.u.hys = s.dm * c.u.hs; // C3 near 0
        if (kind == 9) {                        // exactly singular or indefinite
            c.u.hcs = g.below(2) ? c.u.hcc : std::sqrt(c.u.hcc * c.u.hss) * 1.5;
        }
        v.push_back(c);
    }
    return v;
}

TEST(SolveBatch, LanesMatchTheScalarSolutionAtEveryLengthAndWidth) {
    Rng g{12345};
    Tally t;
    for (unsigned w : widths())
        for (int rep = 0; rep < 12; ++rep) {
            const Series s = make_series(g, rep % 3 == 0 ? 0 : g.below(40) - 20);
            for (std::size_t n = 1; n <= 17; ++n)
                check_batch(s, mixed_cases(g, s, n), w, t, "length " + std::to_string(n));
        }
    // The mix must exercise both outcomes.
    EXPECT_GT(t.vector, 500u);
    EXPECT_GT(t.clear, 300u);
    EXPECT_GT(t.total, t.scalar);
}

TEST(SolveBatch, FitsNearRoundingBoundariesMatchOrAreLeftToTheScalar) {
    Rng g{777};
    Tally t;
    for (unsigned w : widths()) {
        const Series s = make_series(g, 3);
        for (int j = 0; j < 4; ++j)
            for (bool decade : {false, true})
                for (double rel :
                     {-1e-11, -1e-13, -3e-15, -2e-16, 0.0, 2e-16, 3e-15, 1e-13, 1e-11}) {
                    std::vector<Case> cases;
                    for (int i = 0; i < 11; ++i) {
                        const double bscale = std::pow(10.0, g.between(-18.0, -15.0));
                        Case c = random_case(g, s, g.between(0.01, 0.99), 0.3, bscale);
                        near_boundary(s, c, j, rel * (1.0 + 0.1 * i), decade);
                        cases.push_back(c);
                    }
                    check_batch(s, cases, w, t, "value " + std::to_string(j));
                }
    }
    // Some of these are settled, some not even by the scalar solution, some
    // only without room to spare; none differs.
    EXPECT_GT(t.vector, 0u);
    EXPECT_GT(t.total, t.scalar);
    EXPECT_GT(t.scalar, t.clear);
}

TEST(SolveBatch, ValuesOutOfTheNormalRangeAreLeftToTheScalar) {
    Rng g{99};
    Tally t;
    // A scale that puts C1, C2, C3 near the bottom of the doubles or past
    // their top, and ones whose 2^scale is not a double.
    for (int scale : {-980, -958, -957, -950, 900, 1023, 1030, -1030, 1100}) {
        const Series s = make_series(g, scale);
        for (unsigned w : widths()) {
            std::vector<Case> cases;
            for (int i = 0; i < 9; ++i)
                cases.push_back(random_case(g, s, g.between(0.01, 0.99), 0.3, 1e-17));
            check_batch(s, cases, w, t, "scale " + std::to_string(scale));
        }
    }
    EXPECT_GT(t.vector, 0u); // the scales that keep the values in range still settle
}

// Every bit of a spectrum, as the engine's own vectors of each width
// solve it on both paths, against the same spectrum solved one fit at a
// time by solve_fit (which every fit takes while fits are recorded).
std::vector<SpectrumPoint> spectrum(const SpectrumEngine& engine, const FrequencyGrid& g) {
    std::vector<SpectrumPoint> out;
    engine.run(
        g, [&](const SpectrumPoint& p) { out.push_back(p); }, 1);
    return out;
}

TEST(SolveBatch, TheEnginesSpectraAtEveryWidthAreThoseOfTheScalarSolution) {
    // Nightly data with gaps, a large mean and a signal: most fits are
    // settled in the vectors, a few near the aliases left to solve_fit.
    Rng g{2024};
    std::vector<double> t, x;
    for (int k = 0; k < 1500; ++k) {
        if (g.uniform() < 0.3) continue;
        t.push_back(2450000.5 + k + 0.05 * g.uniform());
        x.push_back(500.0 + std::cos(6.283185307179586 * t.back() / 3.7) + 0.3 * g.uniform());
    }
    const FrequencyGrid grid{0.001, 2.5, 6000, 0.0};
    for (GridPath path : {GridPath::direct, GridPath::nufft}) {
        EngineOptions o;
        o.path = path;
        const SpectrumEngine engine(t, x, Window::hanning, o);
        std::vector<FitRecord> records;
        detail::fit_records() = &records;
        const std::vector<SpectrumPoint> scalar = spectrum(engine, grid);
        detail::fit_records() = nullptr;
        ASSERT_EQ(scalar.size(), static_cast<std::size_t>(grid.size()));
        ASSERT_GE(records.size(), scalar.size());
        const char* name = path == GridPath::direct ? "direct" : "transforms";
        for (unsigned w : widths()) {
            const test_widths::SolveWidth sw(w);
            ASSERT_EQ(sw.lanes, w);
            const std::vector<SpectrumPoint> v = spectrum(engine, grid);
            ASSERT_EQ(v.size(), scalar.size());
            int differ = 0;
            std::string first;
            for (std::size_t i = 0; i < v.size(); ++i) {
                const SpectrumPoint &a = v[i], &b = scalar[i];
                const double x1[] = {a.f, a.rho, a.c1, a.c2, a.c3, a.tail.rho, a.tail.c1};
                const double x2[] = {b.f, b.rho, b.c1, b.c2, b.c3, b.tail.rho, b.tail.c1};
                for (int k = 0; k < 7; ++k)
                    if (!same_bits(x1[k], x2[k]) && differ++ == 0)
                        first = std::string(name) + " f=" + std::to_string(a.f) + " field " +
                                std::to_string(k);
            }
            EXPECT_EQ(differ, 0) << w << " lanes: " << first;
        }
    }
}

} // namespace
} // namespace fasogram
