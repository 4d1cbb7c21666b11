// Printed digits proven by their bounds where the fit is so nearly singular
// that quadruple precision cannot check it: weekly data at one cycle a
// week, monthly data at 12 and 24 cycles a year, and the 17-digit rounding
// over the whole range of a double.  The reference here is a plain
// multiple-precision evaluation at 640 bits: the window weights, the 3 x 3
// normal equations and their elimination, the fitted power from a second
// pass, all from the times and values as read (mp_reference.hpp).
#include "decimal17.hpp"
#include "fasogram/spectrum.hpp"
#include "mp_reference.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace fasogram {
namespace {

using namespace mp_reference;

std::string eight(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7e", v);
    return buf;
}

// A slow trend, a yearly cycle and noise, as a carbon dioxide record.
std::vector<double> values_for(const std::vector<double>& t, double period) {
    std::vector<double> x;
    std::uint64_t state = 5;
    for (double ti : t) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double noise = static_cast<double>(state >> 11) * 0x1p-53 - 0.5;
        x.push_back(std::round((340.0 + 0.004 * ti / period * 12 +
                                3.0 * std::sin(6.283185307179586 * ti / period) + 0.3 * noise) *
                               100.0) /
                    100.0);
    }
    return x;
}

// A scaled value's digits as the reference writes them: d.ddde+XX.
std::string text_of(const ScaledValue& v, int digits) {
    const DecimalDigits d = decimal_digits(v, digits);
    char tail[16];
    std::snprintf(tail, sizeof tail, "e%c%02d", d.exponent < 0 ? '-' : '+',
                  d.exponent < 0 ? -d.exponent : d.exponent);
    return (d.negative ? "-" : "") + d.digits.substr(0, 1) + "." + d.digits.substr(1) + tail;
}

// Uneven times and values of mixed sign around an offset: C1 to C3 of
// different sizes, so that at the bottom of the range some are subnormal
// while others are not.
void small_series(std::vector<double>& t, std::vector<double>& x) {
    std::uint64_t state = 11;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1p-53;
    };
    double time = 0.0;
    for (int i = 0; i < 30; ++i) {
        time += 0.2 + uniform();
        t.push_back(time);
        x.push_back(0.3 + 0.02 * std::sin(1.7 * time) + 0.5 * (uniform() - 0.5));
    }
}

// Every field at f and 2f, 8 digits and 17, against the reference; counts
// the points whose coefficients were carried scaled and those that were not.
void expect_every_digit(const std::vector<double>& t, const std::vector<double>& x, double f,
                        const std::string& label, int& scaled_points, int& plain_points) {
    const SpectrumEngine engine(t, x, Window::hanning);
    const std::vector<double> freqs = {f, 2 * f};
    const std::vector<SpectrumPoint> table = engine.fit(freqs, 1);
    std::vector<SpectrumPoint> full;
    engine.run(
        FrequencyGrid{0.0, 4 * f, 4, engine.line_width()},
        [&](const SpectrumPoint& p) {
            if (p.f == f || p.f == 2 * f) full.push_back(p);
        },
        1, Digits::full);
    ASSERT_EQ(full.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const Exact want = reference_fit(t, x, freqs[k]);
        const Big* ref[3] = {&want.c1, &want.c2, &want.c3};
        const std::string where = label + ", f " + std::to_string(freqs[k]) + ", C";
        EXPECT_EQ(eight(table[k].rho), rounded(want.rho, 8)) << where;
        EXPECT_EQ(format_full_digits(full[k].rho, full[k].tail.rho), rounded(want.rho, 17))
            << where;
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(text_of(coefficient(table[k], j + 1), 8), rounded(*ref[j], 8))
                << where << j + 1;
            EXPECT_EQ(format_full_digits(coefficient(full[k], j + 1)), rounded(*ref[j], 17))
                << where << j + 1;
        }
        if (table[k].tail.exponent == 0) {
            // The doubles themselves print the eight digits.
            const double v8[4] = {table[k].rho, table[k].c1, table[k].c2, table[k].c3};
            const Big* all[4] = {&want.rho, &want.c1, &want.c2, &want.c3};
            for (int j = 0; j < 4; ++j) EXPECT_EQ(eight(v8[j]), rounded(*all[j], 8)) << where;
        }
        (table[k].tail.exponent != 0 ? scaled_points : plain_points) += 1;
        // The doubles are the scaled values rounded, 0 or infinite included.
        const ScaledValue c2 = coefficient(table[k], 2);
        EXPECT_EQ(table[k].c2, std::ldexp(c2.hi + c2.lo, c2.exponent)) << where << 2;
    }
}

// Every printed field of ordinary values, 8 digits and 17, at f and 2f.
void expect_certified(const std::vector<double>& t, const std::vector<double>& x, double f) {
    ASSERT_EQ(FrequencyGrid({0.0, 4 * f, 4, 0.0}).frequency(1), f);
    int scaled_points = 0, plain_points = 0;
    expect_every_digit(t, x, f, "ordinary values", scaled_points, plain_points);
    EXPECT_EQ(plain_points, 2);
}

TEST(CertifiedDigits, CoefficientsAtEveryScaleDownToTheSubnormals) {
    std::vector<double> t, x0;
    small_series(t, x0);
    int scaled_points = 0, plain_points = 0;
    // From values near the largest doubles to coefficients that straddle
    // 2^-969 (below which a double-double's low part is subnormal) and the
    // least normal double 2^-1022 (below which a double loses bits), and to
    // values of a dozen bits.
    for (int scale : {1023, 1020, 0, -960, -965, -969, -975, -1000, -1016, -1017, -1018, -1019,
                      -1020, -1021, -1022, -1023, -1035, -1050, -1062})
        for (double f : {0.37, 0.61}) {
            std::vector<double> x;
            for (double v : x0) x.push_back(std::ldexp(v, scale));
            expect_every_digit(t, x, f, "scale 2^" + std::to_string(scale), scaled_points,
                               plain_points);
        }
    EXPECT_GT(scaled_points, 0);
    EXPECT_GT(plain_points, 0);
}

TEST(CertifiedDigits, CoefficientsBeyondTheLargestDouble) {
    // Points bunched within a hundredth of a day at low frequencies: the
    // cosine and the constant nearly coincide, and C1 and C2, large and of
    // opposite signs, pass the largest double where the values do not.
    std::vector<double> t, x;
    std::uint64_t state = 7;
    for (int i = 0; i < 16; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        t.push_back(0.0007 * i);
        x.push_back((static_cast<double>(state >> 11) * 0x1p-53 - 0.5) * 1e308);
    }
    for (double f : {2.0, 3.0}) {
        const Exact want = reference_fit(t, x, f);
        ASSERT_GT(mpfr_cmpabs(want.c2.p(), Big(std::numeric_limits<double>::max()).p()), 0);
        int scaled_points = 0, plain_points = 0;
        expect_every_digit(t, x, f, "bunched", scaled_points, plain_points);
        EXPECT_EQ(scaled_points, 2);
    }
}

TEST(CertifiedDigits, PeaksBelowTheNormalRangeAreThoseOfTheSameSeriesScaledUp) {
    // Values about 1 that vary by 1e-10, scaled by 2^-1021: still normal
    // doubles, so the scaling is exact and the tiny series has the refined
    // peaks of the ordinary one, but amplitudes near 2^-1054, subnormals of
    // 20 bits.  The digits of the amplitude and C1 the peak table prints (8
    // and 10) are those of the ordinary series scaled down.
    std::vector<double> t, x;
    small_series(t, x);
    for (double& v : x) v = 1.0 + 4e-10 * (v - 0.3);
    std::vector<double> tiny;
    for (double v : x) tiny.push_back(std::ldexp(v, -1021));
    const FrequencyGrid grid{0.05, 2.0, 400, 0.0};
    const SpectrumEngine plain(t, x, Window::hanning), small(t, tiny, Window::hanning);
    const auto peaks_of = [&grid](const SpectrumEngine& engine) {
        PeakFinder finder(3);
        engine.run(
            grid, [&finder](const SpectrumPoint& p) { finder.add(p); }, 1);
        return finder.peaks(engine, 1);
    };
    const std::vector<Peak> a = peaks_of(plain), b = peaks_of(small);
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(a[i].frequency, b[i].frequency);
        EXPECT_EQ(a[i].rho, b[i].rho);
        EXPECT_EQ(a[i].exponent, 0);
        ASSERT_LT(b[i].exponent, 0);
        EXPECT_NEAR(b[i].phase, a[i].phase, 1e-15);
        EXPECT_EQ(text_of({b[i].head.amplitude, 0.0, b[i].exponent}, 8),
                  text_of({a[i].amplitude, 0.0, -1021}, 8));
        EXPECT_EQ(text_of({b[i].head.c1, 0.0, b[i].exponent}, 10),
                  text_of({a[i].c1, 0.0, -1021}, 10));
        // The doubles themselves: the nearest subnormals.
        EXPECT_NEAR(b[i].amplitude, std::ldexp(a[i].amplitude, -1021), 0x1p-1074);
    }
}

TEST(CertifiedDigits, WeeklyDataAtOneCycleAWeek) {
    // Julian-day times a week apart: t f within a few units of 2^-53 of
    // whole numbers, condition numbers past 1e40.
    std::vector<double> t;
    for (int k = 0; k < 300; ++k) t.push_back(2444000.5 + 7.0 * k);
    expect_certified(t, values_for(t, 365.25), 1.0 / 7.0);
}

TEST(CertifiedDigits, MonthlyDataAtTwelveAndTwentyFourCyclesAYear) {
    std::vector<double> t;
    for (int k = 0; k < 240; ++k) t.push_back(1980.0 + k / 12.0);
    expect_certified(t, values_for(t, 1.0), 12.0);
}

TEST(CertifiedDigits, SeventeenDigitsOverTheWholeRangeOfADouble) {
    // The C library's %.16e is correctly rounded: it is the reference for
    // plain doubles, subnormals and the ends of the range included.
    std::uint64_t state = 3;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state;
    };
    int wrong = 0;
    for (int i = 0; i < 4000; ++i) {
        const double mantissa = 1.0 + static_cast<double>(next() >> 11) * 0x1.0p-53;
        // Exponents from the subnormals to the largest doubles, weighted
        // towards the ends where the powers of ten leave double-double.
        const int span = (i & 1) ? 60 : 2098;
        const int exponent = (i & 2) ? -1074 + static_cast<int>(next() % span)
                                     : 1023 - static_cast<int>(next() % span);
        const double v = std::ldexp(mantissa, exponent);
        char want[48];
        std::snprintf(want, sizeof want, "%.16e", v);
        wrong += format17(round17({v, 0.0}, 0.0)) != want;
    }
    EXPECT_EQ(wrong, 0);
    for (double v : {1e-300, 3e-298, 1e-293, 1.5e-290, 1e-281, 0x1p-1074, 0x1p-1022, 1e-310,
                     0x1.fffffffffffffp+1023, 1e300, 1e281}) {
        char want[48];
        std::snprintf(want, sizeof want, "%.16e", v);
        EXPECT_EQ(format17(round17({v, 0.0}, 0.0)), want);
        EXPECT_EQ(format_full_digits(-v, 0.0), "-" + std::string(want));
    }
    // The low part decides the 17th digit down where it is subnormal.
    EXPECT_EQ(format17(round17({1e-300, 1e-317}, 0.0)), "1.0000000000000000e-300");
    EXPECT_EQ(format17(round17({0x1p-1000, 0x1p-1060}, 0.0)),
              format17(round17({0x1p-1000, 0.0}, 0.0)));
}

TEST(CertifiedDigits, DecimalDigitsOfScaledValuesAgreeWithTheCLibrary) {
    // 1 to 17 digits of doubles over the whole range, given plain and as a
    // scaled value whose exponent moves them far out of range and back: the
    // C library's correctly rounded %.*e is the reference.
    std::uint64_t state = 17;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state;
    };
    int wrong = 0;
    for (int i = 0; i < 3000; ++i) {
        const double v = std::ldexp((next() & 1 ? -1.0 : 1.0) *
                                        (1.0 + static_cast<double>(next() >> 11) * 0x1.0p-53),
                                    -1074 + static_cast<int>(next() % 2098));
        const int digits = 1 + static_cast<int>(next() % 17);
        char want[48];
        std::snprintf(want, sizeof want, "%.*e", digits - 1, v);
        for (int shift : {0, 1500, -1500}) {
            const double head = std::ldexp(v, -shift);
            if (std::ldexp(head, shift) != v) continue; // not exact at that shift
            ScaledValue scaled{head, 0.0, shift};
            const DecimalDigits d = decimal_digits(scaled, digits);
            char got[48];
            std::snprintf(got, sizeof got, "%s%c%s%se%c%02d", d.negative ? "-" : "", d.digits[0],
                          digits > 1 ? "." : "", d.digits.c_str() + 1, d.exponent < 0 ? '-' : '+',
                          d.exponent < 0 ? -d.exponent : d.exponent);
            wrong += std::string(got) != want;
        }
    }
    EXPECT_EQ(wrong, 0);
    // The ends of the digit counts, and what is not a number.
    EXPECT_EQ(decimal_digits({0.125, 0.0, 0}, 1).digits, "1"); // a tie, to even
    EXPECT_EQ(decimal_digits({0.375, 0.0, 0}, 1).digits, "4");
    EXPECT_EQ(decimal_digits({1.0, 0x1p-60, 0}, 17).digits, "10000000000000000");
    EXPECT_EQ(decimal_digits({1.0, 0x1p-52, 0}, 17).digits, "10000000000000002");
    EXPECT_THROW(decimal_digits({1.0, 0.0, 0}, 0), std::invalid_argument);
    EXPECT_THROW(decimal_digits({1.0, 0.0, 0}, 18), std::invalid_argument);
    EXPECT_THROW(decimal_digits({std::numeric_limits<double>::infinity(), 0.0, 0}, 8),
                 std::invalid_argument);
}

TEST(CertifiedDigits, FarOutOfRangeSettledOnlyOffTheBoundary) {
    // 2^-1000 is 9.33263618503218878990e-302: 87.899 units (of 1e-318) in
    // its last two digits, 0.399 units above the boundary 87.5 under it.
    const double v = 0x1p-1000;
    bool settled = false;
    const Decimal17 d = round17({v, 0.0}, 0.0, &settled);
    EXPECT_TRUE(settled);
    EXPECT_EQ(format17(d), "9.3326361850321888e-302");
    round17({v, 0.0}, 0.39e-318, &settled);
    EXPECT_TRUE(settled);
    round17({v, 0.0}, 0.41e-318, &settled);
    EXPECT_FALSE(settled);
    // The same from a low part that moves the value onto the boundary's
    // other side: 0.4 units down crosses it.
    EXPECT_EQ(format17(round17({v, -0.41e-318}, 0.0)), "9.3326361850321887e-302");
    EXPECT_EQ(format17(round17({v, -0.39e-318}, 0.0)), "9.3326361850321888e-302");
}

} // namespace
} // namespace fasogram
