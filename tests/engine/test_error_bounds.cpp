// The error bounds behind every printed digit, against the 640-bit reference
// (mp_reference.hpp): each evaluation's stated bound must cover its true
// error, and no value called settled may have a rounding boundary of its
// printed digits within its bound (checked by MPFR's own rounding).  Also
// the singular fits at phases that are not quarter cycles and the digits of
// nearly singular ones at the stop rule's edge.
#include "fasogram/spectrum.hpp"
#include "kernel_widths.hpp"
#include "mp_reference.hpp"
#include "spectrum_internal.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace fasogram {
namespace {

using namespace mp_reference;
using detail::Evaluation;
using detail::FitRecord;
using detail::Prepared;

constexpr double kDdUnit = 0x1p-105; // what handing a value on as a double-double costs

// |exact - (hi + lo)|, to a few digits.
double error_of(const Big& exact, double hi, double lo) {
    const Big d = exact - Big(hi) - Big(lo);
    return std::fabs(mpfr_get_d(d.p(), MPFR_RNDN));
}

// Whether every number within `radius` of hi + lo rounds to the same
// `digits` significant digits (rounded by MPFR, apart from the engine's own
// rounding).
bool one_rounding(double hi, double lo, double radius, int digits) {
    const Big v = Big(hi) + Big(lo), r(radius);
    return rounded(v - r, digits) == rounded(v + r, digits);
}

// The largest of error / bound over the values seen, the error that of the
// evaluation's own value (the double and what it lacks, `rest`), the bound
// widened by what handing it on as a double-double costs.
struct Worst {
    double ratio = 0.0; // largest error / bound
    std::string where;
    int bounded = 0;  // values with a finite bound
    int judged = 0;   // settled values whose stop rule was checked
    int straddle = 0; // values called settled with a rounding boundary within their bound
    std::string straddled;
    // The stop rule: a settled value has no boundary of its printed digits
    // within its bound (of the double itself, with eight digits).
    void stop_rule(const FitRecord* e, const char* what, int digits = 8) {
        if (e != nullptr) stop_rule(*e, what, digits);
    }
    void stop_rule(const FitRecord& e, const char* what, int digits = 8) {
        if (!e.settled) return;
        const double v[4] = {e.point.rho, e.point.c1, e.point.c2, e.point.c3};
        const double lo[4] = {e.rest.rho, e.rest.c1, e.rest.c2, e.rest.c3};
        const double b[4] = {e.bound.rho, e.bound.c1, e.bound.c2, e.bound.c3};
        for (int k = 0; k < 4; ++k) {
            if (!std::isfinite(b[k]) || v[k] == 0.0) continue;
            ++judged;
            const double radius = b[k] + (digits == 8 ? std::fabs(lo[k]) : 0.0);
            if (!one_rounding(v[k], digits == 8 ? 0.0 : lo[k], radius, digits) && straddle++ == 0)
                straddled = std::string(what) + " f=" + std::to_string(e.point.f) + " value " +
                            std::to_string(k);
        }
    }
    void take(const FitRecord* e, const Exact& r, const char* what) {
        if (e != nullptr) take(*e, r, what);
    }
    void take(const FitRecord& e, const Exact& r, const char* what) {
        const double v[4] = {e.point.rho, e.point.c1, e.point.c2, e.point.c3};
        const double lo[4] = {e.rest.rho, e.rest.c1, e.rest.c2, e.rest.c3};
        const double b[4] = {e.bound.rho, e.bound.c1, e.bound.c2, e.bound.c3};
        const Big* x[4] = {&r.rho, &r.c1, &r.c2, &r.c3};
        for (int k = 0; k < 4; ++k) {
            if (!std::isfinite(b[k])) continue;
            ++bounded;
            const double err = error_of(*x[k], v[k], lo[k]);
            const double ratio = err / (b[k] + kDdUnit * std::fabs(v[k]));
            if (ratio > this->ratio) {
                this->ratio = ratio;
                char buf[160];
                std::snprintf(buf, sizeof buf, "%s f=%.17g value %d err %.3g bound %.3g bits %d",
                              what, e.point.f, k, err, b[k], e.precision);
                where = buf;
            }
        }
    }
};

// The records of the fits solved on this thread while one is alive.
struct Recording {
    std::vector<FitRecord> records;
    Recording() { detail::fit_records() = &records; }
    ~Recording() { detail::fit_records() = nullptr; }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    // The record of the fit whose values `e` returned (the last solved), if
    // it has one.
    const FitRecord* of(const Evaluation& e) const {
        for (auto r = records.rbegin(); r != records.rend(); ++r)
            if (r->point.f == e.point.f)
                return r->point.rho == e.point.rho && r->point.c1 == e.point.c1 &&
                               r->point.c2 == e.point.c2 && r->point.c3 == e.point.c3
                           ? &*r
                           : nullptr;
        return nullptr;
    }
    // Runs `evaluate` with no records but its own and returns the record of
    // what it returned.
    template <class F> const FitRecord* run(F&& evaluate) {
        records.clear();
        last = evaluate();
        return of(last);
    }
    Evaluation last;
};

std::uint64_t next(std::uint64_t& state) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 11;
}
double uniform(std::uint64_t& state) {
    return static_cast<double>(next(state)) * 0x1p-53;
}

struct Data {
    std::vector<double> t, x;
};

// Monthly means over 20 years: times k/12 are not exact, so 12 and 24
// cycles a year are aliases to a few units of 2^-53.
Data monthly() {
    Data d;
    std::uint64_t s = 17;
    for (int k = 0; k < 240; ++k) {
        const double t = 1980.0 + k / 12.0;
        d.t.push_back(t);
        d.x.push_back(std::round((340 + 3 * std::sin(6.283185307179586 * t) + uniform(s)) * 100) /
                      100);
    }
    return d;
}

// Julian-day nights with dropouts and a large mean.
Data nightly(int nights, std::uint64_t seed) {
    Data d;
    std::uint64_t s = seed;
    for (int k = 0; k < nights; ++k) {
        if (uniform(s) < 0.3) continue;
        const double t = 2450000.5 + k + 0.05 * uniform(s);
        d.t.push_back(t);
        d.x.push_back(1000.0 + std::cos(6.283185307179586 * t / 2.7) + 0.5 * uniform(s));
    }
    return d;
}

// The careful evaluation's three ways of adding up its sums: eight lanes
// (where the processor has AVX-512), four lanes (AVX2), one point at a time
// (every processor).  apply() sets `p` to the path and tells whether the
// processor has it: one it lacks would run a narrower path again under
// this one's name, and is left out.
struct CarefulPath {
    unsigned width;
    const char* name;
    bool apply(Prepared& p) const { return detail::careful_lanes_width(p, width) == width; }
};
constexpr CarefulPath kCarefulPaths[] = {
    {8, "eight lanes"}, {4, "four lanes"}, {1, "one point at a time"}};

// Monthly data at frequencies ever closer to the aliases 12 and 24 cycles a
// year: condition numbers from 1 to past 1e30, so that the careful sums
// settle some and the multiple precision the rest at growing widths.
const double kNearAliases[] = {0.37,        1e-7,        12.0 + 1e-3,  12.0 + 1e-5,
                               12.0 + 1e-7, 12.0 + 1e-9, 12.0 + 3e-11, 12.0 - 3e-13,
                               24.0 - 1e-4, 24.0 - 1e-8, 24.0 - 1e-10, 12.0};

TEST(ErrorBounds, CarefulAndMultiplePrecisionBoundsCoverTheTrueError) {
    const Data m = monthly();
    for (Window w : {Window::hanning, Window::square}) {
        const Prepared p = detail::prepare_series(m.t, m.x, {}, w);
        Prepared exact = detail::with_exact_weights(p, w);
        Worst eight, full;
        Recording rec;
        int bits[3] = {0, 0, 0}; // settled in double-double, at 192 bits, wider
        for (const CarefulPath& path : kCarefulPaths) {
            Prepared q = p;
            if (!path.apply(q) || !path.apply(exact)) continue;
            for (double f : kNearAliases) {
                // The engine's own weights taken as exact: the bounds are of
                // the sums, not of the weights' rounding.
                const Exact r8 = reference_fit(m.t, m.x, f, &p.h);
                const Exact r17 = reference_fit(m.t, m.x, f, &exact.h, &exact.h_lo);
                const FitRecord* e8 = rec.run([&] { return detail::evaluate_careful(q, f); });
                eight.take(e8, r8, "eight digits");
                eight.stop_rule(e8, "eight digits");
                const FitRecord* e =
                    rec.run([&] { return detail::evaluate_careful(exact, f, Digits::full); });
                full.take(e, r17, "every digit");
                full.stop_rule(e, "every digit", 17);
                if (e != nullptr) ++bits[e->precision == 106 ? 0 : e->precision == 192 ? 1 : 2];
            }
        }
        // The stop rules over a denser sweep towards the alias, where the
        // bounds reach the last printed digit.
        for (double d = 1e-2; d > 1e-14; d /= 1.3) {
            eight.stop_rule(rec.run([&] { return detail::evaluate_careful(p, 12.0 + d); }),
                            "eight digits");
            full.stop_rule(
                rec.run([&] { return detail::evaluate_careful(exact, 12.0 + d, Digits::full); }),
                "every digit", 17);
        }
        EXPECT_LE(eight.ratio, 1.0) << eight.where;
        EXPECT_LE(full.ratio, 1.0) << full.where;
        EXPECT_EQ(eight.straddle, 0) << eight.straddled;
        EXPECT_EQ(full.straddle, 0) << full.straddled;
        EXPECT_GE(eight.bounded, 80);
        EXPECT_GE(full.bounded, 80);
        // The frequencies reach every stage of the evaluation.
        EXPECT_GT(bits[0], 0);
        EXPECT_GT(bits[1], 0);
        EXPECT_GT(bits[2], 0);
    }
}

// `count` neighbouring frequencies of the grid of step `step` through `from`
// (as the grid computes them: their differences take a few values).
std::vector<double> grid_run(double from, double step, int count) {
    const FrequencyGrid g{from, from + 1e4 * step, 10000, 0.0};
    std::vector<double> f;
    for (int j = 0; j < count; ++j) f.push_back(g.frequency(j));
    return f;
}

// The distinct differences of neighbours in `f`.
std::vector<double> steps_of(const std::vector<double>& f) {
    std::vector<double> d;
    for (std::size_t k = 1; k < f.size(); ++k)
        if (std::find(d.begin(), d.end(), f[k] - f[k - 1]) == d.end()) d.push_back(f[k] - f[k - 1]);
    return d;
}

TEST(ErrorBounds, RotatedPhasesStayWithinTheirGrownBound) {
    // Julian-day times and steps of about 1e-5 and 3e-4 c/d: t d is
    // reduced exactly once per step, each rotation adds its roundings.
    const Data n = nightly(900, 21);
    const Prepared p = detail::prepare_series(n.t, n.x, {}, Window::hanning);
    Big two_pi;
    mpfr_const_pi(two_pi.p(), MPFR_RNDN);
    mpfr_mul_2ui(two_pi.p(), two_pi.p(), 1, MPFR_RNDN);
    double worst_ratio = 0.0, worst_last = 0.0; // error / grown bound; error in units at the end
    std::string where;
    for (const auto& [from, step] : {std::pair{0.9993, 1.03e-5}, std::pair{2.0 - 1e-4, 3.1e-4}}) {
        const std::vector<double> run = grid_run(from, step, detail::kCarefulRotations + 1);
        ASSERT_GT(steps_of(run).size(), 1u) << "the differences should not all be the same";
        const detail::CarefulRuns runs(p, steps_of(run), 1);
        for (std::size_t k = 0; k < run.size(); ++k) {
            const auto phases = runs.phases(std::span<const double>(run).first(k + 1));
            const double allowed = detail::careful_phase_units(k) * dd::kUnit;
            for (std::size_t i = 0; i < p.t.size(); ++i) {
                Big tf, whole, c, s;
                mpfr_mul_d(tf.p(), Big(p.t[i]).p(), run[k], MPFR_RNDN);
                mpfr_rint(whole.p(), tf.p(), MPFR_RNDN);
                const Big ph = two_pi * (tf - whole);
                mpfr_sin_cos(s.p(), c.p(), ph.p(), MPFR_RNDN);
                const double err = std::max(error_of(c, phases[i].c.hi, phases[i].c.lo),
                                            error_of(s, phases[i].s.hi, phases[i].s.lo));
                if (err / allowed > worst_ratio) {
                    worst_ratio = err / allowed;
                    where = "f=" + std::to_string(run[k]) + " after " + std::to_string(k) +
                            " rotations: " + std::to_string(err / dd::kUnit) + " units";
                }
                if (k + 1 == run.size()) worst_last = std::max(worst_last, err / dd::kUnit);
            }
        }
    }
    EXPECT_LE(worst_ratio, 1.0) << where;
    // The growth is real: after the last rotation some phase is off by
    // more than the exact reduction's own allowance.
    EXPECT_GT(worst_last, detail::careful_phase_units(0)) << where;
    std::printf("rotated phases: worst error %.3g of the grown bound (%s); %.3g units after "
                "the last rotation\n",
                worst_ratio, where.c_str(), worst_last);
}

TEST(ErrorBounds, RunsOfCarefulFrequenciesAcrossAliasesMatchOneByOne) {
    // Runs of grid neighbours through the aliases 12 and 24 cycles a year
    // of monthly data and 1 c/d of nightly data: condition numbers up to
    // past 1e20, so that some of them go on to multiple precision.
    const Data m = monthly();
    const Data n = nightly(700, 8);
    struct Case {
        const Data* d;
        Window w;
        double from, step;
    };
    const Case cases[] = {{&m, Window::hanning, 12.0 - 35 * 4e-7, 4e-7},
                          {&m, Window::square, 24.0 - 50 * 3.3e-6, 3.3e-6},
                          {&n, Window::hanning, 1.0 - 40 * 7e-6, 7e-6}};
    int full_rotated = 0, full_wider = 0;
    for (const Case& c : cases) {
        const Prepared p = detail::prepare_series(c.d->t, c.d->x, {}, c.w);
        const Prepared exact = detail::with_exact_weights(p, c.w);
        const std::vector<double> run = grid_run(c.from, c.step, 70);
        const std::vector<double> steps = steps_of(run);
        for (Digits digits : {Digits::eight, Digits::full}) {
            const Prepared& q = digits == Digits::eight ? p : exact;
            const int width = digits == Digits::eight ? 8 : 17;
            const auto& weights = digits == Digits::eight ? q.h : exact.h;
            Worst one, runs;
            Recording rec;
            std::vector<Evaluation> together(run.size());
            const detail::CarefulRuns careful(q, steps, 2);
            careful.evaluate(run, together, digits);
            const std::vector<FitRecord> run_records = rec.records;
            int differ = 0, rotated = 0, wider = 0;
            std::string first;
            for (std::size_t k = 0; k < run.size(); ++k) {
                const Exact r = reference_fit(c.d->t, c.d->x, run[k], &weights,
                                              digits == Digits::full ? &exact.h_lo : nullptr);
                rec.records = run_records;
                const FitRecord* er = rec.of(together[k]);
                runs.take(er, r, "run");
                runs.stop_rule(er, "run", width);
                const FitRecord* e1 =
                    rec.run([&] { return detail::evaluate_careful(q, run[k], digits); });
                one.take(e1, r, "one by one");
                one.stop_rule(e1, "one by one", width);
                rotated += er != nullptr && er->precision == 106;
                wider += er != nullptr && er->precision > 106;
                // The same printed digits.
                const SpectrumPoint& a = together[k].point;
                const SpectrumPoint& b = rec.last.point;
                const double va[4] = {a.rho, a.c1, a.c2, a.c3}, vb[4] = {b.rho, b.c1, b.c2, b.c3};
                const double ta[4] = {a.tail.rho, a.tail.c1, a.tail.c2, a.tail.c3};
                const double tb[4] = {b.tail.rho, b.tail.c1, b.tail.c2, b.tail.c3};
                for (int j = 0; j < 4; ++j) {
                    char xa[40], xb[40];
                    std::snprintf(xa, sizeof xa, "%.7e", va[j]);
                    std::snprintf(xb, sizeof xb, "%.7e", vb[j]);
                    const bool same =
                        digits == Digits::eight
                            ? std::strcmp(xa, xb) == 0
                            : format_full_digits(va[j], ta[j]) == format_full_digits(vb[j], tb[j]);
                    if (!same && differ++ == 0)
                        first = "f=" + std::to_string(run[k]) + " value " + std::to_string(j);
                }
            }
            EXPECT_EQ(differ, 0) << first;
            EXPECT_LE(runs.ratio, 1.0) << runs.where;
            EXPECT_LE(one.ratio, 1.0) << one.where;
            EXPECT_EQ(runs.straddle, 0) << runs.straddled;
            EXPECT_EQ(one.straddle, 0) << one.straddled;
            EXPECT_GE(runs.bounded, 200);
            // With eight digits most were settled in double-double from
            // rotated phases; with 17 the fits nearest the alias go on to
            // multiple precision.
            if (digits == Digits::eight) {
                EXPECT_GE(rotated, 60);
            }
            full_rotated += digits == Digits::full ? rotated : 0;
            full_wider += digits == Digits::full ? wider : 0;
        }
    }
    EXPECT_GE(full_rotated, 60);
    EXPECT_GE(full_wider, 60);
}

TEST(ErrorBounds, FastAndTransformBoundsCoverTheTrueError) {
    const Data m = monthly();
    const Data n = nightly(900, 5);
    // A large level with little scatter: C1's bound is the solve's own
    // rounding of the mean (solved in double first, then in long double).
    Data level = n;
    for (double& x : level.x) x += 1e6;
    struct Case {
        const Data* d;
        Window w;
        FrequencyGrid g;
    };
    const Case cases[] = {{&m, Window::hanning, {11.9, 12.1, 4000, 0.0}},
                          {&m, Window::square, {0.01, 30.0, 4000, 0.0}},
                          {&n, Window::hanning, {0.001, 2.5, 6000, 0.0}},
                          {&n, Window::square, {0.999, 1.001, 3000, 0.0}},
                          {&level, Window::square, {0.001, 2.5, 3000, 0.0}}};
    // The transforms with their code of every vector width the processor
    // has (the four-lane code fuses its multiply-adds, the two-lane code
    // does not); the fast sums, whose widths BoundPins and FastAnchor take,
    // with the widest alone.
    const std::vector<unsigned> widths =
        test_widths::widths_here<test_widths::TransformWidth>({4, 2});
    for (const unsigned width : widths)
        for (const Case& c : cases) {
            const test_widths::TransformWidth tw(width);
            const bool with_fast = width == widths.front();
            const std::string lanes = std::to_string(width) + " lanes: ";
            const Prepared p = detail::prepare_series(c.d->t, c.d->x, {}, c.w);
            const detail::NufftEvaluator nufft(p, c.g, 512, 1);
            auto ws = nufft.workspace();
            const detail::FastEvaluator fast(p);
            auto sc = fast.scratch();
            Worst wn, wf;
            Recording rec_n;
            std::vector<Evaluation> out(nufft.block_size()), out2(detail::kFastGroup);
            for (std::int64_t first = 0; first < c.g.size(); first += 512) {
                const auto len =
                    static_cast<std::size_t>(std::min<std::int64_t>(512, c.g.size() - first));
                rec_n.records.clear();
                nufft.evaluate(first, std::span<Evaluation>(out).first(len), *ws);
                std::vector<double> fr;
                for (std::size_t l = 0; l < std::min(len, detail::kFastGroup); ++l)
                    fr.push_back(c.g.frequency(first + static_cast<std::int64_t>(l)));
                std::vector<FitRecord> from_nufft;
                from_nufft.swap(rec_n.records);
                if (with_fast) fast.evaluate(fr, std::span<Evaluation>(out2).first(fr.size()), *sc);
                std::map<double, const FitRecord*> by_f, by_f2;
                for (const FitRecord& r : from_nufft) by_f[r.point.f] = &r;
                for (const FitRecord& r : rec_n.records) by_f2[r.point.f] = &r;
                for (const auto& [f, r] : by_f) wn.stop_rule(*r, "transform");
                for (const auto& [f, r] : by_f2) wf.stop_rule(*r, "fast");
                // Every 37th frequency of the block for the transforms (74th
                // with the narrower code), every 19th of the fast group for
                // the fast sums.
                for (std::size_t l = 0; l < len; ++l) {
                    const bool transform = l % (with_fast ? 37 : 74) == 0;
                    const bool fast_sums = l < detail::kFastGroup && l % 19 == 0;
                    if (!transform && !fast_sums) continue;
                    const double f = out[l].point.f;
                    const Exact r = reference_fit(c.d->t, c.d->x, f, &p.h);
                    if (transform && by_f.count(f)) wn.take(*by_f[f], r, "transform");
                    if (fast_sums && by_f2.count(f)) wf.take(*by_f2[f], r, "fast");
                }
            }
            std::printf("%stransforms worst error %.3g of the bound (%s)\n", lanes.c_str(),
                        wn.ratio, wn.where.c_str());
            EXPECT_LE(wn.ratio, 1.0) << lanes << wn.where;
            EXPECT_LE(wf.ratio, 1.0) << wf.where;
            EXPECT_EQ(wn.straddle, 0) << lanes << wn.straddled;
            EXPECT_EQ(wf.straddle, 0) << wf.straddled;
            EXPECT_GE(wn.bounded, 100) << lanes;
            if (with_fast) {
                EXPECT_GE(wf.bounded, 100);
            }
        }
}

// Every printed field at f, eight digits from fit() and 17 from a run, against
// the reference; counts the fields that differ.
int wrong_fields(const Data& d, Window w, const std::vector<double>& freqs, std::string& first) {
    const SpectrumEngine engine(d.t, d.x, w);
    const std::vector<SpectrumPoint> table = engine.fit(freqs, 1);
    std::vector<double> weights;
    if (w == Window::square) weights.assign(d.t.size(), 1.0);
    int wrong = 0;
    for (std::size_t k = 0; k < freqs.size(); ++k) {
        const double f = freqs[k];
        // A grid that holds f exactly: 0, f, 2f.
        std::vector<SpectrumPoint> full;
        engine.run(
            FrequencyGrid{0.0, 2 * f, 2, engine.line_width()},
            [&](const SpectrumPoint& p) {
                if (p.f == f) full.push_back(p);
            },
            1, Digits::full);
        const Exact r = reference_fit(d.t, d.x, f, weights.empty() ? nullptr : &weights);
        const Big* ref[4] = {&r.rho, &r.c1, &r.c2, &r.c3};
        const SpectrumPoint& t = table[k];
        const double v8[4] = {t.rho, t.c1, t.c2, t.c3};
        const double v[4] = {full.at(0).rho, full[0].c1, full[0].c2, full[0].c3};
        const double tail[4] = {full[0].tail.rho, full[0].tail.c1, full[0].tail.c2,
                                full[0].tail.c3};
        for (int j = 0; j < 4; ++j) {
            char e8[40];
            std::snprintf(e8, sizeof e8, "%.7e", v8[j]);
            const std::string want8 = rounded(*ref[j], 8), want17 = rounded(*ref[j], 17);
            const std::string got17 = format_full_digits(v[j], tail[j]);
            if (e8 != want8 || got17 != want17) {
                if (wrong++ == 0)
                    first = "f = " + std::to_string(f) + " field " + std::to_string(j) + ": " + e8 +
                            " / " + got17 + " for " + want17;
            }
        }
    }
    return wrong;
}

TEST(ErrorBounds, FastSumsOfAFitNearlySingularInTheSineDirection) {
    // Julian-day times half a day apart, each off by under 1e-6 d: at 1 c/d
    // every phase lies within 1e-5 rad of 0 or pi, so sum h sin^2 is about
    // 1e-11 of sum h; the fast sums take it as sum h less sum h cos^2, and
    // their bound must still cover the 640-bit reference.
    Data d;
    std::uint64_t s = 11;
    for (int k = 0; k < 400; ++k) {
        d.t.push_back(2450000.0 + 0.5 * k + 1e-6 * uniform(s));
        d.x.push_back(10.0 + 0.3 * std::cos(0.17 * k) + 0.01 * uniform(s));
    }
    double ss = 0.0;
    for (double t : d.t) ss += std::pow(std::sin(6.283185307179586 * (t - std::round(t))), 2);
    EXPECT_LT(ss / static_cast<double>(d.t.size()), 1e-9);
    const FrequencyGrid g{1.0 - 1e-11, 1.0 + 1e-11, 200, 0.0};
    for (Window w : {Window::hanning, Window::square}) {
        const Prepared p = detail::prepare_series(d.t, d.x, {}, w);
        const detail::FastEvaluator fast(p);
        auto sc = fast.scratch();
        std::vector<double> fr;
        for (std::int64_t j = 0; j < g.size(); ++j) fr.push_back(g.frequency(j));
        std::vector<Evaluation> out(fr.size());
        Worst wf;
        Recording rec;
        fast.evaluate(fr, out, *sc);
        for (const FitRecord& r : rec.records) wf.stop_rule(r, "fast");
        for (std::size_t l = 0; l < rec.records.size(); l += 5)
            wf.take(rec.records[l], reference_fit(d.t, d.x, rec.records[l].point.f, &p.h), "fast");
        EXPECT_LE(wf.ratio, 1.0) << wf.where;
        EXPECT_EQ(wf.straddle, 0) << wf.straddled;
        EXPECT_GE(wf.bounded, 100);
        std::string first;
        EXPECT_EQ(wrong_fields(d, w, {1.0, 1.0 + 3e-12}, first), 0) << first;
    }
}

TEST(ErrorBounds, DigitsOfNearlySingularFitsAtTheStopRulesEdge) {
    // Ever closer to the aliases, the error of each stage crosses the last
    // printed digit of the eight and of the 17: only the stop rule decides
    // which digits are kept.
    std::vector<double> freqs;
    for (double d = 1e-2; d > 1e-14; d /= 4.7) {
        freqs.push_back(12.0 + d);
        freqs.push_back(24.0 - d);
    }
    std::string first;
    const Data m = monthly();
    EXPECT_EQ(wrong_fields(m, Window::hanning, freqs, first), 0) << first;
    // Weekly Julian-day data near one cycle a week.
    Data weekly;
    std::uint64_t s = 3;
    for (int k = 0; k < 150; ++k) {
        weekly.t.push_back(2444000.5 + 7.0 * k);
        weekly.x.push_back(std::round((20 + std::sin(k * 0.3) + uniform(s)) * 1000) / 1000);
    }
    freqs.clear();
    for (double d = 1e-3; d > 1e-13; d /= 6.1) freqs.push_back(1.0 / 7.0 + d);
    EXPECT_EQ(wrong_fields(weekly, Window::square, freqs, first), 0) << first;
}

TEST(ErrorBounds, SingularFitsAtPhasesOffTheQuarterCycles) {
    // f = (2^20 + 1) 2^-25 and times 2^25 apart: every t f is the same
    // phase, exactly, with a low part (t f has more bits than a double);
    // times half as far apart add the opposite phase.
    const double f = (0x1p20 + 1) * 0x1p-25;
    const double t0 = 3.0 + 0x1p-20 * 12345; // t0 + k 2^25 exact
    auto series = [&](bool two_phases) {
        Data d;
        std::uint64_t s = 9;
        for (int k = 0; k < 12; ++k) {
            d.t.push_back(t0 + k * 0x1p25);
            d.x.push_back(uniform(s));
            if (two_phases) {
                d.t.push_back(t0 + k * 0x1p25 + 0x1p24);
                d.x.push_back(uniform(s));
            }
        }
        return d;
    };
    // Dyadic phases off the quarters: 25/64 of a cycle from times 4k + 5/16
    // at 5/4 cycles a unit, and 57/64 from those two units later.
    Data dyadic;
    std::uint64_t s = 4;
    for (int k = 0; k < 20; ++k) {
        dyadic.t.push_back(4.0 * k + 0.3125 + (k % 2 == 0 ? 0.0 : 2.0));
        dyadic.x.push_back(uniform(s));
    }
    // Half a cycle, reached from either side (t f = k + 1/2 for odd and even
    // k), and an eighth of a cycle.
    Data halves;
    for (int k = 0; k < 30; ++k) {
        halves.t.push_back(k + (k % 3 == 2 ? 0.125 : 0.5));
        halves.x.push_back(uniform(s));
    }
    struct Case {
        Data d;
        double f;
    };
    const Case cases[] = {{series(false), f}, {series(true), f}, {dyadic, 1.25}, {halves, 1.0}};
    for (const Case& c : cases)
        for (Window w : {Window::hanning, Window::square}) {
            const SpectrumEngine engine(c.d.t, c.d.x, w);
            const SpectrumPoint p = engine.fit(std::vector<double>{c.f}, 1).at(0);
            EXPECT_TRUE(std::isnan(p.rho) && std::isnan(p.c1) && std::isnan(p.c2) &&
                        std::isnan(p.c3))
                << c.f << " " << p.rho;
            int points = 0;
            engine.run(
                FrequencyGrid{0.0, 2 * c.f, 2, engine.line_width()},
                [&](const SpectrumPoint& q) {
                    if (q.f != c.f) return;
                    ++points;
                    EXPECT_TRUE(std::isnan(q.rho) && std::isnan(q.c2)) << q.rho;
                    EXPECT_EQ(format_full_digits(q.c3, q.tail.c3), "NaN");
                },
                1, Digits::full);
            EXPECT_EQ(points, 1);
            // Two more phases, however close, make the fit sound again.
            Data three = c.d;
            three.t.push_back(c.d.t[1] + 0x1p-20);
            three.x.push_back(0.5);
            three.t.push_back(c.d.t[2] - 0x1p-19);
            three.x.push_back(0.25);
            std::string first;
            EXPECT_EQ(wrong_fields(three, w, {c.f}, first), 0) << first;
        }
}

// The seven careful sums of `p` at f (as solve_fit takes them) against 640
// bits: the phase t f exactly less its nearest whole number, the values
// less the double-double mean.
std::array<Big, 7> reference_sums(const Prepared& p, double f) {
    Big two_pi;
    mpfr_const_pi(two_pi.p(), MPFR_RNDN);
    mpfr_mul_2ui(two_pi.p(), two_pi.p(), 1, MPFR_RNDN);
    const Big mean = Big(p.mean.hi) + Big(p.mean.lo);
    std::array<Big, 7> sums;
    for (std::size_t i = 0; i < p.t.size(); ++i) {
        Big tf, whole, c, s;
        mpfr_mul_d(tf.p(), Big(p.t[i]).p(), f, MPFR_RNDN);
        mpfr_rint(whole.p(), tf.p(), MPFR_RNDN);
        const Big ph = two_pi * (tf - whole);
        mpfr_sin_cos(s.p(), c.p(), ph.p(), MPFR_RNDN);
        const Big h = p.h_lo.empty() ? Big(p.h[i]) : Big(p.h[i]) + Big(p.h_lo[i]);
        const Big hy = h * (Big(p.x[i]) - mean);
        const Big terms[7] = {h * c, h * s, h * c * c, h * c * s, h * s * s, hy * c, hy * s};
        for (int k = 0; k < 7; ++k) sums[k] = sums[k] + terms[k];
    }
    return sums;
}

// The careful sums where every point's phase is one of three, each the
// fraction of a day (of 4096) where the double-double cosine and sine err
// most: the same error repeats at every point of a phase, so that the sums'
// errors add up in full rather than as independent ones.  They stay within
// a hundredth of the bound, whose allowance for the additions outweighs the
// phases' (of the square-root kind) by far at this length.
TEST(ErrorBounds, CarefulSumsOfThreeRepeatedPhases) {
    Big two_pi;
    mpfr_const_pi(two_pi.p(), MPFR_RNDN);
    mpfr_mul_2ui(two_pi.p(), two_pi.p(), 1, MPFR_RNDN);
    std::vector<std::pair<double, int>> errors; // error in units of 2^-104, fraction
    for (int k = 1; k < 4096; ++k) {
        const double r = k / 4096.0 - (k >= 2048 ? 1.0 : 0.0); // reduced, as t f is
        const dd::SinCos sc = dd::sincos_cycles(dd::DD{r, 0.0});
        Big c, sn;
        const Big ph = two_pi * Big(r);
        mpfr_sin_cos(sn.p(), c.p(), ph.p(), MPFR_RNDN);
        const double e = std::max(error_of(c, sc.c.hi, sc.c.lo), error_of(sn, sc.s.hi, sc.s.lo));
        errors.emplace_back(e / 0x1p-104, k);
    }
    std::sort(errors.rbegin(), errors.rend());
    std::printf("largest double-double cosine or sine errors: %.3g, %.3g, %.3g units of 2^-104\n",
                errors[0].first, errors[1].first, errors[2].first);
    Data d;
    const int n = 60000;
    for (int i = 0; i < n; ++i) {
        d.t.push_back(1000.0 + i + errors[static_cast<std::size_t>(i % 3)].second / 4096.0);
        d.x.push_back(i % 3 == 0 ? 1.0 : i % 3 == 1 ? 2.5 : 4.0);
    }
    const Prepared p = detail::prepare_series(d.t, d.x, {}, Window::square);
    const std::array<Big, 7> ref = reference_sums(p, 1.0);
    for (const CarefulPath& path : kCarefulPaths) {
        Prepared q = p;
        if (!path.apply(q)) continue;
        std::vector<detail::SumRecord> sums;
        detail::sum_records() = &sums;
        detail::evaluate_careful(q, 1.0);
        detail::sum_records() = nullptr;
        ASSERT_FALSE(sums.empty());
        const detail::SumRecord& r = sums.front();
        double worst = 0.0;
        for (int j = 0; j < 7; ++j) {
            const dd::DD v[7] = {r.hc, r.hs, r.hcc, r.hcs, r.hss, r.hyc, r.hys};
            const double err = error_of(ref[static_cast<std::size_t>(j)], v[j].hi, v[j].lo);
            const double bound = j < 5 ? r.mu : r.eta;
            EXPECT_LE(err, bound) << path.name << " sum " << j;
            worst = std::max(worst, err / bound);
        }
        std::printf("%s, three repeated phases: worst sum error %.3g of its bound\n", path.name,
                    worst);
    }
}

TEST(ErrorBounds, CarefulSumsOfEveryPathWithinTheirBounds) {
    // Nightly Julian-day data, 1330 points (blocks of every width and a last
    // group of lanes only partly filled), near the alias 1 c/d where the fits
    // are nearly singular and at a few ordinary frequencies; with the weights
    // of eight digits and of every digit.  Each path's sums against 640 bits,
    // and the eight printed digits of each settled fit against the reference.
    const Data n = nightly(1900, 31);
    ASSERT_NE(n.t.size() % 8, 0u);
    const double freqs[] = {1.0 - 1e-4, 1.0 + 3e-7, 1.0 - 2e-9, 0.37, 2.0 + 1e-8, 4.4};
    struct Worst {
        double ratio = 0.0;
        std::string where;
    };
    for (Window w : {Window::hanning, Window::square}) {
        const Prepared p = detail::prepare_series(n.t, n.x, {}, w);
        const Prepared exact = detail::with_exact_weights(p, w);
        for (const Prepared* base : {&p, &exact}) {
            std::vector<std::array<dd::DD, 7>> seen[3];
            for (double f : freqs) {
                const std::array<Big, 7> ref = reference_sums(*base, f);
                const Exact fit = base == &p ? reference_fit(n.t, n.x, f, &p.h)
                                             : reference_fit(n.t, n.x, f, &exact.h, &exact.h_lo);
                for (int k = 0; k < 3; ++k) {
                    const CarefulPath& path = kCarefulPaths[k];
                    Prepared q = *base;
                    if (!path.apply(q)) continue;
                    std::vector<detail::SumRecord> sums;
                    std::vector<FitRecord> fits;
                    detail::sum_records() = &sums;
                    detail::fit_records() = &fits;
                    const Evaluation e = detail::evaluate_careful(q, f);
                    detail::sum_records() = nullptr;
                    detail::fit_records() = nullptr;
                    ASSERT_FALSE(sums.empty());
                    const detail::SumRecord& r = sums.front();
                    ASSERT_EQ(r.precision, 106);
                    const dd::DD v[7] = {r.hc, r.hs, r.hcc, r.hcs, r.hss, r.hyc, r.hys};
                    seen[k].push_back({v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
                    Worst worst;
                    for (int j = 0; j < 7; ++j) {
                        const double err =
                            error_of(ref[static_cast<std::size_t>(j)], v[j].hi, v[j].lo);
                        const double bound = j < 5 ? r.mu : r.eta;
                        EXPECT_LE(err, bound) << path.name << " f=" << f << " sum " << j;
                        if (err / bound > worst.ratio) {
                            worst.ratio = err / bound;
                            worst.where = std::to_string(j);
                        }
                    }
                    std::printf("%s, f=%.10g, %s weights: worst sum error %.3g of its bound "
                                "(sum %s)\n",
                                path.name, f, base == &p ? "double" : "exact", worst.ratio,
                                worst.where.c_str());
                    if (!e.settled) continue;
                    const double got[4] = {e.point.rho, e.point.c1, e.point.c2, e.point.c3};
                    const Big* want[4] = {&fit.rho, &fit.c1, &fit.c2, &fit.c3};
                    for (int j = 0; j < 4; ++j) {
                        if (got[j] == 0.0 || !std::isfinite(got[j])) continue;
                        EXPECT_EQ(rounded(Big(got[j]), 8), rounded(*want[j], 8))
                            << path.name << " f=" << f << " value " << j;
                    }
                }
            }
            // The paths add up in different orders: where the processor
            // has both kinds of lanes, the switch must reach each.
            if (!seen[0].empty() && !seen[1].empty()) {
                bool differ = false;
                for (std::size_t i = 0; i < seen[0].size(); ++i)
                    for (std::size_t j = 0; j < 7; ++j)
                        differ = differ || seen[0][i][j].hi != seen[1][i][j].hi ||
                                 seen[0][i][j].lo != seen[1][i][j].lo;
                EXPECT_TRUE(differ) << "eight and four lanes gave the same sums throughout";
            }
        }
    }
}

} // namespace
} // namespace fasogram

namespace fasogram {
namespace {

// |exact - (v.hi + v.lo)| as a double.
double dd_error(mpfr_srcptr exact, dd::DD v) {
    mp_reference::Big d;
    mpfr_sub_d(d.p(), exact, v.hi, MPFR_RNDN);
    mpfr_sub_d(d.p(), d.p(), v.lo, MPFR_RNDN);
    return std::fabs(mpfr_get_d(d.p(), MPFR_RNDN));
}

// S, the mean and the variance of long series, each a sum of a million
// terms in double-double, against exact sums: within the bounds the fits
// take, which must grow with the number of points: the mean is off by more
// than the 8 units of 2^-104 the fits allowed it, the variance by more than
// 6 units (8.3 in four interleaved partial sums; 32 and more when it was
// one chain of additions, twice the 16 units the careful fits' solution
// once allowed rho).  (The bounds are of the worst case, which these sums
// of random roundings stay far below.)
TEST(ErrorBounds, MomentsOfLongSeriesWithinTheirBounds) {
    const int n = 1000000;
    double worst_mean = 0.0, worst_var = 0.0; // in units of 2^-104 of the value
    for (Window w : {Window::square, Window::hanning}) {
        std::uint64_t state = w == Window::square ? 78 : 77;
        auto uniform = [&state] {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<double>(state >> 11) * 0x1p-53;
        };
        std::vector<double> t(n), x(n);
        for (int i = 0; i < n; ++i) {
            t[static_cast<std::size_t>(i)] = 0.37 * i + 1e-4 * uniform();
            // (normal deviates, by Box and Muller)
            const double r = std::sqrt(-2.0 * std::log(1.0 - uniform()));
            x[static_cast<std::size_t>(i)] =
                12.0 + 0.3 * r * std::cos(6.283185307179586 * uniform());
        }
        const detail::Prepared p = detail::prepare_series(t, x, {}, w);
        mp_reference::Big s, hx, v, term, mean;
        for (std::size_t i = 0; i < p.t.size(); ++i) {
            mpfr_add_d(s.p(), s.p(), p.h[i], MPFR_RNDN);
            mpfr_set_d(term.p(), p.h[i], MPFR_RNDN);
            mpfr_mul_d(term.p(), term.p(), p.x[i], MPFR_RNDN);
            mpfr_add(hx.p(), hx.p(), term.p(), MPFR_RNDN);
        }
        mpfr_div(mean.p(), hx.p(), s.p(), MPFR_RNDN);
        for (std::size_t i = 0; i < p.t.size(); ++i) {
            mpfr_d_sub(term.p(), p.x[i], mean.p(), MPFR_RNDN);
            mpfr_sqr(term.p(), term.p(), MPFR_RNDN);
            mpfr_mul_d(term.p(), term.p(), p.h[i], MPFR_RNDN);
            mpfr_add(v.p(), v.p(), term.p(), MPFR_RNDN);
        }
        mpfr_div(v.p(), v.p(), s.p(), MPFR_RNDN);
        const double es = dd_error(s.p(), p.sum_h), em = dd_error(mean.p(), p.mean),
                     ev = dd_error(v.p(), p.variance);
        EXPECT_LE(es, p.moment_rel * p.sum_h.hi);
        EXPECT_LE(em, p.mean_err);
        EXPECT_LE(ev, p.moment_rel * p.variance.hi);
        worst_mean = std::max(worst_mean, em / (0x1p-104 * std::fabs(p.mean.hi)));
        worst_var = std::max(worst_var, ev / (0x1p-104 * p.variance.hi));
    }
    std::printf("moments of 1e6 points: mean off by %.3g, variance by %.3g units of 2^-104\n",
                worst_mean, worst_var);
    EXPECT_GT(worst_mean, 12.0);
    EXPECT_GT(worst_var, 6.0);
}

} // namespace
} // namespace fasogram
