// Seventeen-digit rounding of double-double values, as the CSV table writes
// them: checked against the C library's correctly rounded %.16e for plain
// doubles, and at the rounding boundaries.
#include "decimal17.hpp"

#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace fasogram {
namespace {

std::string printf17(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.16e", v);
    return buf;
}

std::string written(double hi, double lo = 0.0) {
    return format17(round17({hi, lo}, 0.0));
}

TEST(Decimal17, PlainDoublesAsTheCLibraryRoundsThem) {
    std::uint64_t state = 11;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state;
    };
    int checked = 0;
    for (int i = 0; i < 20000; ++i) {
        // Any mantissa, exponents over the whole range a spectrum can reach.
        const double mantissa = 1.0 + static_cast<double>(next() >> 11) * 0x1.0p-53;
        const int exponent = static_cast<int>(next() % 1800) - 900;
        double v = std::ldexp(mantissa, exponent);
        if (next() & 1) v = -v;
        ASSERT_EQ(written(v), printf17(v)) << std::hexfloat << v;
        ++checked;
    }
    for (double v : {1.0, 0.1, 0.5, 1e16, 1e17 - 16, 9.999999999999999e22, 1e-290, 1e290,
                     0x1.fffffffffffffp+1023, 0x1p-1074, 123456789012345678.0}) {
        EXPECT_EQ(written(v), printf17(v)) << v;
        EXPECT_EQ(written(-v), printf17(-v)) << v;
    }
    EXPECT_EQ(checked, 20000);
    EXPECT_EQ(written(0.0), "0.0000000000000000e+00");
}

TEST(Decimal17, TheLowPartDecidesTheLastDigit) {
    // 1 - 1e-20 is 0.99999999999999999999: it rounds up to one, the digits
    // going over to the next decade.
    EXPECT_EQ(written(1.0, -1e-20), "1.0000000000000000e+00");
    // 1 - 1e-17 rounds down to seventeen nines.
    EXPECT_EQ(written(1.0, -1e-17), "9.9999999999999999e-01");
    // A tie goes to the even digit, from either side.
    EXPECT_EQ(written(12345678901234568.0, -0.5), "1.2345678901234568e+16");
    EXPECT_EQ(written(12345678901234566.0, 0.5), "1.2345678901234566e+16");
    // Just past the tie.
    EXPECT_EQ(written(12345678901234568.0, -0.5 - 0x1p-40), "1.2345678901234567e+16");
    // Against the sign: 2 less 0.6 units of the last place.
    EXPECT_EQ(written(-2.0, 6e-17), "-1.9999999999999999e+00");
    EXPECT_EQ(written(-2.0, 4e-17), "-2.0000000000000000e+00");
}

TEST(Decimal17, SettledOnlyWhenTheErrorStaysOffTheBoundary) {
    // 1.0 is half a unit (of 1e-16) from the boundaries next to it.
    bool settled = false;
    round17({1.0, 0.0}, 0.49e-16, &settled);
    EXPECT_TRUE(settled);
    round17({1.0, 0.0}, 0.51e-16, &settled);
    EXPECT_FALSE(settled);
    // A value 0.1 unit below a boundary: an error of 0.09 units keeps it,
    // 0.11 units does not.
    const dd::DD near{1.2345678901234567e+16, 0.4};
    round17(near, 0.09, &settled);
    EXPECT_TRUE(settled);
    round17(near, 0.11, &settled);
    EXPECT_FALSE(settled);
    // Zero is certain only without error.
    round17({0.0, 0.0}, 0.0, &settled);
    EXPECT_TRUE(settled);
    round17({0.0, 0.0}, 1e-300, &settled);
    EXPECT_FALSE(settled);
}

TEST(Decimal17, EveryDecadeEdgeFromDoubleDoubles) {
    // Just under and over each power of ten, the low part carrying the
    // difference: 10^k (1 - 0.5e-17) and 10^k (1 + 0.5e-16) are the
    // boundaries of the 17-digit roundings next to it.  The reference is
    // MPFR's correct rounding of hi + lo, exact at 2200 bits.
    mpfr_t p, v, d;
    mpfr_inits2(2200, p, v, d, static_cast<mpfr_ptr>(nullptr));
    int checked = 0, wrong = 0;
    std::string first;
    for (int k = -300; k <= 307; ++k) {
        mpfr_set_ui(p, 10, MPFR_RNDN);
        mpfr_pow_si(p, p, k, MPFR_RNDN);
        for (double rel : {-0.51e-17, -0.49e-17, 0.0, 0.49e-16, 0.51e-16, -3e-17}) {
            mpfr_set(v, p, MPFR_RNDN);
            mpfr_mul_d(d, p, rel, MPFR_RNDN);
            mpfr_add(v, v, d, MPFR_RNDN);
            const double hi = mpfr_get_d(v, MPFR_RNDN);
            mpfr_sub_d(d, v, hi, MPFR_RNDN);
            const double lo = mpfr_get_d(d, MPFR_RNDN);
            // The value the double-double holds, exactly.
            mpfr_set_d(v, hi, MPFR_RNDN);
            mpfr_add_d(v, v, lo, MPFR_RNDN);
            char digits[40];
            mpfr_exp_t e = 0;
            mpfr_get_str(digits, &e, 10, 17, v, MPFR_RNDN);
            char want[64];
            std::snprintf(want, sizeof want, "%c.%se%c%02d", digits[0], digits + 1,
                          e - 1 < 0 ? '-' : '+', static_cast<int>(e - 1 < 0 ? 1 - e : e - 1));
            const std::string got = format17(round17({hi, lo}, 0.0));
            ++checked;
            if (got != want && wrong++ == 0)
                first = got + " for " + want + " at 10^" + std::to_string(k);
        }
    }
    mpfr_clears(p, v, d, static_cast<mpfr_ptr>(nullptr));
    EXPECT_EQ(checked, 608 * 6);
    EXPECT_EQ(wrong, 0) << first;
}

} // namespace
} // namespace fasogram
