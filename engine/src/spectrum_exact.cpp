// The last resort for the rare frequency whose fit is so nearly singular
// (condition numbers beyond about 1e18, such as an alias of a sampling that
// is regular to a millionth of a day) that double-double sums cannot settle
// its digits: the same sums in multiple precision, with the precision
// doubled until the digits are settled.
#include "spectrum_internal.hpp"
#include "spectrum_solve.hpp"

#include <mpfr.h>

#include <algorithm>
#include <cmath>

namespace fasogram::detail {

namespace {

// A multiple-precision number for the solution, at the precision in force
// on this thread.
thread_local mpfr_prec_t working_precision = 128;

class Mp {
  public:
    Mp() {
        mpfr_init2(v_, working_precision);
        mpfr_set_zero(v_, 1);
    }
    Mp(const Mp& o) {
        mpfr_init2(v_, working_precision);
        mpfr_set(v_, o.v_, MPFR_RNDN);
    }
    Mp& operator=(const Mp& o) {
        mpfr_set(v_, o.v_, MPFR_RNDN);
        return *this;
    }
    ~Mp() { mpfr_clear(v_); }
    mpfr_ptr get() { return v_; }
    mpfr_srcptr get() const { return v_; }

  private:
    mpfr_t v_;
};

Mp operator+(const Mp& a, const Mp& b) {
    Mp r;
    mpfr_add(r.get(), a.get(), b.get(), MPFR_RNDN);
    return r;
}
Mp operator-(const Mp& a, const Mp& b) {
    Mp r;
    mpfr_sub(r.get(), a.get(), b.get(), MPFR_RNDN);
    return r;
}
Mp operator*(const Mp& a, const Mp& b) {
    Mp r;
    mpfr_mul(r.get(), a.get(), b.get(), MPFR_RNDN);
    return r;
}
Mp operator/(const Mp& a, const Mp& b) {
    Mp r;
    mpfr_div(r.get(), a.get(), b.get(), MPFR_RNDN);
    return r;
}

void set_dd(mpfr_ptr r, dd::DD v) {
    mpfr_set_d(r, v.hi, MPFR_RNDN);
    mpfr_add_d(r, r, v.lo, MPFR_RNDN); // exact: the precision holds both parts
}

double as_double(const Mp& v) {
    return mpfr_get_d(v.get(), MPFR_RNDN);
}

double scaled_double(const Mp& v, int k) {
    Mp r;
    mpfr_mul_2si(r.get(), v.get(), k, MPFR_RNDN);
    return mpfr_get_d(r.get(), MPFR_RNDN);
}

bool is_zero(const Mp& v) {
    return mpfr_zero_p(v.get()) != 0;
}
bool is_finite(const Mp& v) {
    return mpfr_number_p(v.get()) != 0;
}
int binary_exponent(const Mp& v) {
    return mpfr_regular_p(v.get()) ? static_cast<int>(mpfr_get_exp(v.get())) : 0;
}

dd::DD as_dd(const Mp& v);
dd::DD as_dd_shifted(const Mp& v, int shift) {
    Mp r;
    mpfr_mul_2si(r.get(), v.get(), -shift, MPFR_RNDN);
    return as_dd(r);
}

dd::DD as_dd(const Mp& v) {
    const double hi = mpfr_get_d(v.get(), MPFR_RNDN);
    Mp rest;
    mpfr_sub_d(rest.get(), v.get(), hi, MPFR_RNDN);
    return {hi, mpfr_get_d(rest.get(), MPFR_RNDN)};
}

} // namespace

template <> Mp from_dd<Mp>(dd::DD v) {
    Mp r;
    set_dd(r.get(), v);
    return r;
}

Evaluation evaluate_exact(const Prepared& p, double f, const Evaluation& best, Digits digits) {
    Evaluation result = best;
    // Doubled until the digits are settled.  Only a value that sits exactly
    // on a rounding boundary (a tie, ties go to the even digit) never
    // settles; at the last precision its bound is so far below any digit
    // that the rounding of the value found is the exact value's.
    constexpr mpfr_prec_t kLastPrecision = mpfr_prec_t{1} << 14;
    for (mpfr_prec_t prec = 192; prec <= kLastPrecision; prec *= 2) {
        working_precision = prec;
        mpfr_t two_pi, a, c, s, hc, hs, term, xm, hw, tf, cyc, quarters;
        mpfr_inits2(prec, two_pi, a, c, s, hc, hs, term, xm, hw, static_cast<mpfr_ptr>(nullptr));
        mpfr_inits2(128, tf, cyc, quarters, static_cast<mpfr_ptr>(nullptr));
        mpfr_const_pi(two_pi, MPFR_RNDN);
        mpfr_mul_2ui(two_pi, two_pi, 1, MPFR_RNDN);
        // S, the mean and the variance at this precision from the values as
        // read: their double-double values would leave an error of 2^-106
        // in the centring, which a nearly singular fit multiplies by its
        // condition number.
        const auto weight = [&](std::size_t i) {
            if (p.h_lo.empty())
                mpfr_set_d(hw, p.h[i], MPFR_RNDN);
            else
                set_dd(hw, {p.h[i], p.h_lo[i]});
        };
        Moments<Mp> m;
        Mp hx;
        double x_max = 0.0;
        for (std::size_t i = 0; i < p.t.size(); ++i) {
            if (p.h[i] == 0.0) continue;
            weight(i);
            mpfr_add(m.sum_h.get(), m.sum_h.get(), hw, MPFR_RNDN);
            mpfr_mul_d(term, hw, p.x[i], MPFR_RNDN);
            mpfr_add(hx.get(), hx.get(), term, MPFR_RNDN);
            x_max = std::max(x_max, std::fabs(p.x[i]));
        }
        m.mean = hx / m.sum_h;
        Sums<Mp> sums;
        Mp hyy;
        double sum_h = 0, sum_hy = 0;
        std::size_t n = 0;
        for (std::size_t i = 0; i < p.t.size(); ++i) {
            const double h = p.h[i];
            if (h == 0.0) continue;
            ++n;
            // The phase in cycles, t f less its nearest whole number,
            // exactly: 128 bits hold the product of two doubles, and MPFR's
            // exponents do not underflow where a double-double's low part
            // (or the whole product) would.
            mpfr_set_d(tf, p.t[i], MPFR_RNDN);
            mpfr_mul_d(cyc, tf, f, MPFR_RNDN);
            mpfr_frac(cyc, cyc, MPFR_RNDN);
            // Into [-1/2, 1/2], exactly: a value past a half has its bits
            // between 1/2 and the product's last one.
            if (mpfr_cmp_d(cyc, 0.5) > 0)
                mpfr_sub_ui(cyc, cyc, 1, MPFR_RNDN);
            else if (mpfr_cmp_d(cyc, -0.5) < 0)
                mpfr_add_ui(cyc, cyc, 1, MPFR_RNDN);
            mpfr_mul_2ui(quarters, cyc, 2, MPFR_RNDN);
            if (mpfr_integer_p(quarters)) {
                // A whole number of quarter cycles: exact values.
                const int k = static_cast<int>(mpfr_get_si(quarters, MPFR_RNDN)) & 3;
                mpfr_set_si(c, k == 0 ? 1 : k == 2 ? -1 : 0, MPFR_RNDN);
                mpfr_set_si(s, k == 1 ? 1 : k == 3 ? -1 : 0, MPFR_RNDN);
            } else {
                mpfr_mul(a, cyc, two_pi, MPFR_RNDN);
                mpfr_sin_cos(s, c, a, MPFR_RNDN);
            }
            weight(i);
            mpfr_mul(hc, c, hw, MPFR_RNDN);
            mpfr_mul(hs, s, hw, MPFR_RNDN);
            mpfr_d_sub(xm, p.x[i], m.mean.get(), MPFR_RNDN);
            mpfr_add(sums.hc.get(), sums.hc.get(), hc, MPFR_RNDN);
            mpfr_add(sums.hs.get(), sums.hs.get(), hs, MPFR_RNDN);
            mpfr_mul(term, hc, c, MPFR_RNDN);
            mpfr_add(sums.hcc.get(), sums.hcc.get(), term, MPFR_RNDN);
            mpfr_mul(term, hc, s, MPFR_RNDN);
            mpfr_add(sums.hcs.get(), sums.hcs.get(), term, MPFR_RNDN);
            mpfr_mul(term, hs, s, MPFR_RNDN);
            mpfr_add(sums.hss.get(), sums.hss.get(), term, MPFR_RNDN);
            mpfr_mul(term, hc, xm, MPFR_RNDN);
            mpfr_add(sums.hyc.get(), sums.hyc.get(), term, MPFR_RNDN);
            mpfr_mul(term, hs, xm, MPFR_RNDN);
            mpfr_add(sums.hys.get(), sums.hys.get(), term, MPFR_RNDN);
            mpfr_mul(term, hw, xm, MPFR_RNDN);
            mpfr_mul(term, term, xm, MPFR_RNDN);
            mpfr_add(hyy.get(), hyy.get(), term, MPFR_RNDN);
            sum_h += h;
            sum_hy += std::fabs(h * p.xm[i].hi);
        }
        mpfr_clears(two_pi, a, c, s, hc, hs, term, xm, hw, tf, cyc, quarters,
                    static_cast<mpfr_ptr>(nullptr));
        m.variance = hyy / m.sum_h;
        // Every operation is good to one unit of the precision; a sum of n
        // terms to n of them (a plain worst-case bound: cheap at this width).
        // Past the exponents of a double the unit is held at 2^-1000, a bound
        // larger than the truth, rather than let it underflow to 0 and
        // claim the sums exact.
        const double unit = std::ldexp(1.0, -std::min(static_cast<int>(prec) - 1, 1000));
        const double nd = static_cast<double>(n) + 8.0;
        m.mean_err = 4.0 * nd * unit * x_max;
        m.rel = 4.0 * nd * unit;
        SumBounds bd;
        bd.mu = 4.0 * nd * unit * sum_h;
        bd.eta = 4.0 * nd * unit * (sum_hy + sum_h * x_max);
        bd.unit = unit;
        fit_precision() = static_cast<int>(prec);
        result = solve_fit(sums, p, m, dd::DD{}, bd, f, digits);
        fit_precision() = 0;
        if (result.settled) break;
        // The double-double the value is handed on in holds no more: past
        // this, more bits cannot settle the eight digits of a value within
        // 1e-11 of a boundary.
        if (digits == Digits::eight && result.converged) break;
    }
    // The constants and tables MPFR keeps for this thread go with it.
    mpfr_free_cache();
    return result;
}

} // namespace fasogram::detail
