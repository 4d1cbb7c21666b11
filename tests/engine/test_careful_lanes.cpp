// The careful evaluation's cosines and sines on lanes: four lanes (AVX2) and
// eight (AVX-512) give what one point at a time gives, on phases across
// every quarter and every step of the table and at their edges, and those
// are within the phases' allowance of the 640-bit values.
#include "dd_lanes.hpp"
#include "mp_reference.hpp"
#include "spectrum_internal.hpp"
#include "target_region.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fasogram {
namespace {

using dd::DD;
using dd::SinCos;
using mp_reference::Big;

// Phases in cycles as dd::cycles gives them (|r| <= 1/2, the low part at
// most half a unit of the high one): every quarter, eighth and step of
// 1/256 cycle and their neighbours, the midpoints between steps, the
// phases of Julian-day times at a few frequencies, and phases within half a
// step of the table's entries, where its own errors and the polynomials'
// add up (one of them, next to 22/256 cycle, errs by 1.07 units of 2^-104,
// found in a search of three million such phases).
std::vector<DD> phases() {
    std::vector<DD> r;
    auto both = [&](double hi, double lo) {
        for (double sign : {1.0, -1.0}) {
            const DD v = dd::two_sum(sign * hi, sign * lo);
            if (std::fabs(v.hi) <= 0.5) r.push_back(v);
        }
    };
    for (int k = 0; k <= 128; ++k) {
        const double at = k / 256.0;
        both(at, 0.0);
        both(std::nextafter(at, 1.0), 0.0);
        both(std::nextafter(at, 0.0), 0x1p-60 * at);
        both(at + 1.0 / 512, -0x1p-58 / 512);
        both(at - 1.0 / 512, 0x1p-58 / 512);
        both(at + 1.0 / 512, 0.0);
    }
    std::uint64_t s = 21;
    for (double f : {0.37, 1.0 + 1e-9, 2.7182818284590451, 123.456}) {
        for (int i = 0; i < 500; ++i) {
            s = s * 6364136223846793005ULL + 1442695040888963407ULL;
            const double t = 2450000.5 + static_cast<double>(s >> 11) * 0x1p-53 * 4000.0;
            r.push_back(dd::cycles(t, f));
        }
    }
    both(0x1.6203cd74b0dcap-4, 0x1.598f22564704p-61);
    for (int k = 0; k <= 32; ++k)
        for (int i = 0; i < 300; ++i) {
            s = s * 6364136223846793005ULL + 1442695040888963407ULL;
            const double off = (static_cast<double>(s >> 11) * 0x1p-53 - 0.5) / 256.0;
            both(k / 256.0 + off, static_cast<double>(s & 0x7ff) * 0x1p-70 * (k + 1) / 256.0);
        }
    while (r.size() % 8 != 0) r.push_back(DD{});
    return r;
}

#ifdef FASOGRAM_HAVE_DD_LANES
__attribute__((target("avx2,fma"))) void sincos_four(const std::vector<DD>& r,
                                                     std::vector<SinCos>& out) {
    namespace ln = dd::lanes;
    for (std::size_t i = 0; i < r.size(); i += 4) {
        ln::DD4 v;
        ln::load_dd(&r[i], v.hi, v.lo);
        const ln::SinCos4 sc = ln::sincos_cycles(v);
        for (std::size_t l = 0; l < 4; ++l)
            out[i + l] = {{sc.c.hi[l], sc.c.lo[l]}, {sc.s.hi[l], sc.s.lo[l]}};
    }
}

__attribute__((target("avx512f,avx512dq,avx512vl,fma"))) void
sincos_eight(const std::vector<DD>& r, std::vector<SinCos>& out) {
    namespace ln = dd::lanes8;
    for (std::size_t i = 0; i < r.size(); i += 8) {
        ln::DD8 v;
        ln::load_dd(&r[i], v.hi, v.lo);
        const ln::SinCos8 sc = ln::sincos_cycles(v);
        for (std::size_t l = 0; l < 8; ++l)
            out[i + l] = {{sc.c.hi[l], sc.c.lo[l]}, {sc.s.hi[l], sc.s.lo[l]}};
    }
}
#endif

bool same(const SinCos& a, const SinCos& b) {
    return a.c.hi == b.c.hi && a.c.lo == b.c.lo && a.s.hi == b.s.hi && a.s.lo == b.s.lo;
}

double error_of(const Big& exact, DD v) {
    const Big d = exact - Big(v.hi) - Big(v.lo);
    return std::fabs(mpfr_get_d(d.p(), MPFR_RNDN));
}

TEST(CarefulLanes, CosinesAndSinesOfOnePointAtATimeWithinTheirAllowance) {
    const std::vector<DD> r = phases();
    Big two_pi;
    mpfr_const_pi(two_pi.p(), MPFR_RNDN);
    mpfr_mul_2ui(two_pi.p(), two_pi.p(), 1, MPFR_RNDN);
    const double allowed = detail::careful_phase_units(0) * dd::kUnit;
    double worst = 0.0;
    std::string where;
    for (const DD& v : r) {
        const SinCos sc = dd::sincos_cycles(v);
        const Big ph = two_pi * (Big(v.hi) + Big(v.lo));
        Big c, s;
        mpfr_sin_cos(s.p(), c.p(), ph.p(), MPFR_RNDN);
        const double err = std::max(error_of(c, sc.c), error_of(s, sc.s));
        if (err > worst) {
            worst = err;
            char buf[80];
            std::snprintf(buf, sizeof buf, "r = %.17g + %.3g", v.hi, v.lo);
            where = buf;
        }
    }
    EXPECT_LE(worst, allowed) << where;
    // Above one unit, the allowance these phases had before.
    EXPECT_GT(worst, dd::kUnit) << where;
    std::printf("%zu phases: worst error %.3g units (%s)\n", r.size(), worst / dd::kUnit,
                where.c_str());
}

TEST(CarefulLanes, TableEntriesWithinTheirAllowance) {
    // Every entry of the table the cosines and sines start from, against
    // 640 bits: the allowance the phases' bound is derived from holds, and
    // is nearly reached.
    Big two_pi;
    mpfr_const_pi(two_pi.p(), MPFR_RNDN);
    mpfr_mul_2ui(two_pi.p(), two_pi.p(), 1, MPFR_RNDN);
    const dd::SinCosTable& table = dd::sincos_table();
    double worst = 0.0;
    int at = -1;
    for (int j = 0; j <= 32; ++j) {
        const Big ph = two_pi * Big(j / 256.0);
        Big c, s;
        mpfr_sin_cos(s.p(), c.p(), ph.p(), MPFR_RNDN);
        const dd::SinCos& e = table.entry[static_cast<std::size_t>(j)];
        const double err = std::max(error_of(c, e.c), error_of(s, e.s)) / dd::kUnit;
        EXPECT_LE(err, detail::kCarefulTableUnits) << "entry " << j;
        if (err > worst) {
            worst = err;
            at = j;
        }
    }
    EXPECT_GT(worst, 0.9 * detail::kCarefulTableUnits) << "entry " << at;
    std::printf("table of 33 entries: worst error %.3g units (entry %d)\n", worst, at);
}

TEST(CarefulLanes, LanesGiveWhatOnePointAtATimeGives) {
#ifdef FASOGRAM_HAVE_DD_LANES
    const std::vector<DD> r = phases();
    std::vector<SinCos> one(r.size());
    for (std::size_t i = 0; i < r.size(); ++i) one[i] = dd::sincos_cycles(r[i]);
    int widths = 0;
    if (detail::cpu_has_avx2_fma()) {
        std::vector<SinCos> four(r.size());
        sincos_four(r, four);
        for (std::size_t i = 0; i < r.size(); ++i)
            ASSERT_TRUE(same(four[i], one[i])) << "four lanes, r = " << r[i].hi << " + " << r[i].lo;
        ++widths;
    }
    if (detail::cpu_has_avx512()) {
        std::vector<SinCos> eight(r.size());
        sincos_eight(r, eight);
        for (std::size_t i = 0; i < r.size(); ++i)
            ASSERT_TRUE(same(eight[i], one[i]))
                << "eight lanes, r = " << r[i].hi << " + " << r[i].lo;
        ++widths;
    }
    if (widths == 0) GTEST_SKIP() << "no lanes on this processor";
#else
    GTEST_SKIP() << "no lanes in this build";
#endif
}

// The same for the engine's own four-lane code (the phases the careful runs
// anchor at a frequency, compiled with the engine's options rather than
// this file's): Julian-day times at a few frequencies, every point's cosine
// and sine bit for bit those of one point at a time, whose error the test
// above holds to the allowance.
TEST(CarefulLanes, TheEnginesLanesGiveWhatOnePointAtATimeGives) {
    if (!detail::cpu_has_avx2_fma()) GTEST_SKIP() << "no lanes on this processor";
    std::vector<double> t, x;
    std::uint64_t s = 33;
    for (int i = 0; i < 4096; ++i) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        t.push_back(2450000.5 + static_cast<double>(s >> 11) * 0x1p-53 * 4000.0);
        x.push_back(static_cast<double>(i % 5));
    }
    const detail::Prepared p = detail::prepare_series(t, x, {}, Window::square);
    const double steps[] = {1e-5};
    const detail::CarefulRuns runs(p, steps, 1);
    int checked = 0;
    for (double f : {0.37, 1.0 + 1e-9, 2.7182818284590451, 123.456, 7.77e-3}) {
        const double fs[] = {f};
        const std::vector<SinCos> lanes = runs.phases(fs);
        ASSERT_EQ(lanes.size(), p.t.size());
        int differ = 0;
        std::string first;
        for (std::size_t i = 0; i < p.t.size(); ++i) {
            const SinCos one = dd::sincos_cycles(dd::cycles(p.t[i], f));
            if (!same(lanes[i], one) && differ++ == 0) first = "t = " + std::to_string(p.t[i]);
            ++checked;
        }
        EXPECT_EQ(differ, 0) << "f = " << f << ", first at " << first;
    }
    EXPECT_EQ(checked, 5 * 4096);
}

} // namespace
} // namespace fasogram
