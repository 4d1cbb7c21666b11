// The fast sums' anchor (the cosine and sine of 2 pi t f every point starts
// from) against MPFR: its error, over millions of arguments, must stay
// within kFastAnchorUnits units of 2^-53, the constant the phase bound of
// the fast evaluation is built on, and come within 5% of it.  The
// arguments: Julian-day times at frequencies up to 50 c/d, the ends of each
// quarter-cycle reduction interval (x = +-pi/4 either side of the switch),
// whole quarter cycles and tiny phases down to subnormal ones.
#include "dd.hpp"
#include "kernel_widths.hpp"
#include "spectrum_internal.hpp"

#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fasogram {
namespace {

class AnchorCheck {
  public:
    // `fine`: the anchor of a frequency fitted alone, a pair of doubles for
    // each value, else that of the fast sums.
    explicit AnchorCheck(bool fine) : fine_(fine) {
        for (mpfr_t* v : {&r_, &x_, &c_, &s_, &d_, &two_pi_}) mpfr_init2(*v, 192);
        mpfr_const_pi(two_pi_, MPFR_RNDN);
        mpfr_mul_2ui(two_pi_, two_pi_, 1, MPFR_RNDN);
    }
    ~AnchorCheck() {
        for (mpfr_t* v : {&r_, &x_, &c_, &s_, &d_, &two_pi_}) mpfr_clear(*v);
    }
    AnchorCheck(const AnchorCheck&) = delete;
    AnchorCheck& operator=(const AnchorCheck&) = delete;

    // Runs the anchor on (t[i], f) and takes the error of every result, in
    // units of 2^-53, against the exact cosine and sine of 2 pi t f.
    void take(const std::vector<double>& t, double f, const char* what) {
        std::vector<double> c(t.size()), s(t.size()), cl(t.size(), 0.0), sl(t.size(), 0.0);
        if (fine_)
            detail::fine_anchor(t, f, c, cl, s, sl);
        else
            detail::fast_anchor(t, f, c, s);
        for (std::size_t i = 0; i < t.size(); ++i) {
            // t f less its whole cycles, exactly (t f has at most 106 bits).
            const dd::DD r = dd::cycles(t[i], f);
            mpfr_set_d(r_, r.hi, MPFR_RNDN);
            mpfr_add_d(r_, r_, r.lo, MPFR_RNDN);
            mpfr_mul(x_, r_, two_pi_, MPFR_RNDN);
            mpfr_sin_cos(s_, c_, x_, MPFR_RNDN);
            const double ec = error(c_, c[i], cl[i]), es = error(s_, s[i], sl[i]);
            if (std::max(ec, es) > worst) {
                worst = std::max(ec, es);
                char buf[200];
                std::snprintf(buf, sizeof buf,
                              "%s: t=%.17g f=%.17g cos %.17g (%.3g) sin %.17g (%.3g)", what, t[i],
                              f, c[i], ec, s[i], es);
                where = buf;
            }
            ++count;
        }
    }

    double worst = 0.0;
    std::string where;
    std::size_t count = 0;

  private:
    double error(mpfr_t exact, double v, double low) {
        mpfr_sub_d(d_, exact, v, MPFR_RNDN);
        mpfr_sub_d(d_, d_, low, MPFR_RNDN);
        return std::fabs(mpfr_get_d(d_, MPFR_RNDN)) * 0x1p53;
    }
    bool fine_;
    mpfr_t r_, x_, c_, s_, d_, two_pi_;
};

struct Rng {
    std::uint64_t state;
    double uniform() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    }
};

// The arguments of the checks below, taken by `check`; the widest kernels
// take four times as many Julian-day frequencies.
void run_checks(AnchorCheck& check, bool widest) {
    Rng rng{42};
    // Julian-day times over up to 30 years, frequencies up to 50 c/d: the
    // phases the survey and the program see.  2000 frequencies of 1024
    // points each.
    std::vector<double> t(1024);
    for (int j = 0; j < (widest ? 2000 : 500); ++j) {
        const double span = j % 2 == 0 ? 100.0 : 11000.0;
        for (double& v : t) v = 2455000.0 + span * rng.uniform();
        check.take(t, 50.0 * rng.uniform(), "Julian days");
    }
    // The ends of each reduction interval: t f = m/8 (x = +-pi/4, where the
    // quarter cycle taken off switches) and whole quarter cycles.  With
    // f = 1, t f = t: t within 4000 steps of 2^-55, 2^-51 and 2^-45 either
    // side of m/8.  Then with a low part (t f has more bits than a double):
    // t the nearest double to (n + m/8)/f and its neighbours, n up to 1e6.
    const double f_low = 0.7390851332151607;
    for (int m = -4; m <= 4; ++m) {
        const double centre = m / 8.0;
        for (int e : {-55, -51, -45}) {
            std::vector<double> tt;
            for (int j = -4000; j <= 4000; ++j) tt.push_back(centre + std::ldexp(j, e));
            check.take(tt, 1.0, "interval ends");
        }
        std::vector<double> tt;
        for (int j = 0; j < 4000; ++j) {
            const double t0 = (std::floor(1e6 * rng.uniform()) + centre) / f_low;
            for (int k = -2; k <= 2; ++k)
                tt.push_back(k < 0   ? std::nextafter(t0, -1.0)
                             : k > 0 ? std::nextafter(t0, 1e300)
                                     : t0);
        }
        check.take(tt, f_low, "interval ends, low part");
    }
    // Tiny phases, down to subnormal ones, and phases just off whole cycles.
    for (int e = -1074; e <= -3; ++e) {
        const double f = std::ldexp(1.0 + rng.uniform(), e);
        check.take({1.0, -1.0, 3.0, 1e6}, f, "tiny");
    }
    for (int j = 0; j < 200; ++j) {
        const double t0 = 2455000.0 + j;
        check.take({t0, -t0}, std::nextafter(1.0, 2.0 * (j % 2)), "near whole cycles");
    }
}

// With the kernels of every vector width the processor has: the two-lane
// code (for any x86-64) rounds every product and sum on its own, the wider
// code may fuse them into multiply-adds.  The narrower widths take a
// quarter of the Julian-day frequencies.  The largest error must lie
// within `bound` and reach `least` of it.
void expect_within_bound(bool fine, double bound, double least) {
    const std::vector<unsigned> widths =
        test_widths::widths_here<test_widths::FastWidth>({8, 4, 2});
    for (const unsigned width : widths) {
        const test_widths::FastWidth fw(width);
        const bool widest = width == widths.front();
        AnchorCheck check(fine);
        run_checks(check, widest);
        std::printf("%s, %u lanes: %zu cosines and sines, largest error %.4f units of 2^-53 "
                    "(bound %.2f)\n",
                    fine ? "pairs" : "anchor", width, check.count, check.worst, bound);
        EXPECT_GE(check.count, widest ? std::size_t{2000000} : std::size_t{500000});
        EXPECT_LE(check.worst, bound) << width << " lanes: " << check.where;
        EXPECT_GE(check.worst, least * bound) << width << " lanes";
    }
}

TEST(FastAnchor, CosineAndSineWithinTheirBoundAgainstMpfr) {
    // The bound is nearly reached (at a sine of about 1/sqrt(2)): a smaller
    // one would not hold, a much larger one throws digits away.
    expect_within_bound(false, detail::kFastAnchorUnits, 0.95);
}

// The pairs of a frequency fitted alone, on the same arguments: the
// largest error found is 0.027 of the derived 0.04.
TEST(FastAnchor, PairsOfDoublesWithinTheirBoundAgainstMpfr) {
    expect_within_bound(true, detail::kFineAnchorUnits, 0.5);
}

} // namespace
} // namespace fasogram
