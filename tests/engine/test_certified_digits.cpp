// Printed digits proven by their bounds where the fit is so nearly singular
// that quadruple precision cannot check it: weekly data at one cycle a
// week, monthly data at 12 and 24 cycles a year, and the 17-digit rounding
// over the whole range of a double.  The reference here is a plain
// multiple-precision evaluation at 640 bits: the window weights, the 3 x 3
// normal equations and their elimination, the fitted power from a second
// pass, all from the times and values as read.
#include "decimal17.hpp"
#include "fasogram/spectrum.hpp"

#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fasogram {
namespace {

constexpr mpfr_prec_t kRefBits = 640;

class Big {
  public:
    Big() {
        mpfr_init2(v_, kRefBits);
        mpfr_set_zero(v_, 1);
    }
    explicit Big(double d) : Big() { mpfr_set_d(v_, d, MPFR_RNDN); }
    Big(const Big& o) : Big() { mpfr_set(v_, o.v_, MPFR_RNDN); }
    Big& operator=(const Big& o) {
        mpfr_set(v_, o.v_, MPFR_RNDN);
        return *this;
    }
    ~Big() { mpfr_clear(v_); }
    mpfr_ptr p() { return v_; }
    mpfr_srcptr p() const { return v_; }

  private:
    mpfr_t v_;
};

Big operator+(const Big& a, const Big& b) {
    Big r;
    mpfr_add(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}
Big operator-(const Big& a, const Big& b) {
    Big r;
    mpfr_sub(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}
Big operator*(const Big& a, const Big& b) {
    Big r;
    mpfr_mul(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}
Big operator/(const Big& a, const Big& b) {
    Big r;
    mpfr_div(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}

struct Exact {
    Big rho, c1, c2, c3;
};

// The weighted fit at f, Hanning weights 1 + cos(2 pi (t - mid) / D).
Exact reference_fit(const std::vector<double>& t, const std::vector<double>& x, double f) {
    const std::size_t n = t.size();
    const auto [lo, hi] = std::minmax_element(t.begin(), t.end());
    const Big span = Big(*hi) - Big(*lo);
    Big mid = Big(*hi) + Big(*lo);
    mpfr_div_2ui(mid.p(), mid.p(), 1, MPFR_RNDN);
    Big two_pi;
    mpfr_const_pi(two_pi.p(), MPFR_RNDN);
    mpfr_mul_2ui(two_pi.p(), two_pi.p(), 1, MPFR_RNDN);
    std::vector<Big> w(n), c(n), s(n);
    Big a[3][4];
    for (std::size_t i = 0; i < n; ++i) {
        Big arg = two_pi * (Big(t[i]) - mid) / span;
        mpfr_cos(w[i].p(), arg.p(), MPFR_RNDN);
        mpfr_add_ui(w[i].p(), w[i].p(), 1, MPFR_RNDN);
        // t f exactly (106 bits), less its nearest whole number.
        Big tf;
        mpfr_mul_d(tf.p(), Big(t[i]).p(), f, MPFR_RNDN);
        Big whole;
        mpfr_rint(whole.p(), tf.p(), MPFR_RNDN);
        const Big ph = two_pi * (tf - whole);
        mpfr_sin_cos(s[i].p(), c[i].p(), ph.p(), MPFR_RNDN);
        const Big basis[3] = {Big(1.0), c[i], s[i]};
        for (int r = 0; r < 3; ++r) {
            for (int q = 0; q < 3; ++q) a[r][q] = a[r][q] + w[i] * basis[r] * basis[q];
            a[r][3] = a[r][3] + w[i] * Big(x[i]) * basis[r];
        }
    }
    // Elimination with partial pivoting, then back substitution.
    int order[3] = {0, 1, 2};
    for (int col = 0; col < 3; ++col) {
        int best = col;
        for (int r = col + 1; r < 3; ++r)
            if (mpfr_cmpabs(a[order[r]][col].p(), a[order[best]][col].p()) > 0) best = r;
        std::swap(order[col], order[best]);
        for (int r = col + 1; r < 3; ++r) {
            const Big k = a[order[r]][col] / a[order[col]][col];
            for (int q = col; q < 4; ++q) a[order[r]][q] = a[order[r]][q] - k * a[order[col]][q];
        }
    }
    Big sol[3];
    for (int col = 2; col >= 0; --col) {
        Big v = a[order[col]][3];
        for (int q = col + 1; q < 3; ++q) v = v - a[order[col]][q] * sol[q];
        sol[col] = v / a[order[col]][col];
    }
    Big sw, swx;
    for (std::size_t i = 0; i < n; ++i) {
        sw = sw + w[i];
        swx = swx + w[i] * Big(x[i]);
    }
    const Big m = swx / sw;
    Big fitted, var;
    for (std::size_t i = 0; i < n; ++i) {
        const Big d = sol[0] + sol[1] * c[i] + sol[2] * s[i] - m;
        const Big y = Big(x[i]) - m;
        fitted = fitted + w[i] * d * d;
        var = var + w[i] * y * y;
    }
    return {fitted / var, sol[0], sol[1], sol[2]};
}

// The exact value rounded to `digits` significant digits, as "d.ddd...e+XX".
std::string rounded(const Big& v, int digits) {
    char buf[64];
    mpfr_exp_t e = 0;
    mpfr_get_str(buf, &e, 10, static_cast<std::size_t>(digits), v.p(), MPFR_RNDN);
    std::string s = buf;
    std::string out;
    if (s[0] == '-') {
        out = "-";
        s.erase(0, 1);
    }
    char tail[16];
    std::snprintf(tail, sizeof tail, "e%c%02d", e - 1 < 0 ? '-' : '+',
                  static_cast<int>(e - 1 < 0 ? 1 - e : e - 1));
    return out + s.substr(0, 1) + "." + s.substr(1) + tail;
}

std::string eight(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7e", v);
    return buf;
}

// Every printed field, 8 digits and 17, at f and 2f (the grid 0 .. 4f in
// four steps holds both exactly).
void expect_certified(const std::vector<double>& t, const std::vector<double>& x, double f) {
    const SpectrumEngine engine(t, x, Window::hanning);
    ASSERT_EQ(FrequencyGrid({0.0, 4 * f, 4, 0.0}).frequency(1), f);
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
        const Big* ref[4] = {&want.rho, &want.c1, &want.c2, &want.c3};
        const double v8[4] = {table[k].rho, table[k].c1, table[k].c2, table[k].c3};
        const SpectrumPoint& p = full[k];
        const double v[4] = {p.rho, p.c1, p.c2, p.c3};
        const double tails[4] = {p.tail.rho, p.tail.c1, p.tail.c2, p.tail.c3};
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(format_full_digits(v[j], tails[j]), rounded(*ref[j], 17))
                << "field " << j << " at f = " << freqs[k];
            EXPECT_EQ(eight(v8[j]), rounded(*ref[j], 8)) << "field " << j << " at f = " << freqs[k];
        }
    }
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
