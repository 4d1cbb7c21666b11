// A plain multiple-precision evaluation of the weighted sinusoid fit at 640
// bits, to judge the engine where quadruple precision cannot: the window
// weights 1 + cos(2 pi (t - mid) / D), the 3 x 3 normal equations and their
// elimination, the fitted power from a second pass, all from the times and
// values as read.
#pragma once

#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace fasogram::mp_reference {

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

inline Big operator+(const Big& a, const Big& b) {
    Big r;
    mpfr_add(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}
inline Big operator-(const Big& a, const Big& b) {
    Big r;
    mpfr_sub(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}
inline Big operator*(const Big& a, const Big& b) {
    Big r;
    mpfr_mul(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}
inline Big operator/(const Big& a, const Big& b) {
    Big r;
    mpfr_div(r.p(), a.p(), b.p(), MPFR_RNDN);
    return r;
}

struct Exact {
    Big rho, c1, c2, c3;
};

// The weighted fit at f, Hanning weights 1 + cos(2 pi (t - mid) / D), or the
// given weights taken exactly (each the sum of its high and low parts).
template <class Weights = std::vector<double>>
Exact reference_fit(std::span<const double> t, std::span<const double> x, double f,
                    const Weights* weights = nullptr, const Weights* weights_lo = nullptr) {
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
        if (weights != nullptr) w[i] = Big((*weights)[i]);
        if (weights_lo != nullptr && !weights_lo->empty()) w[i] = w[i] + Big((*weights_lo)[i]);
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
inline std::string rounded(const Big& v, int digits) {
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

} // namespace fasogram::mp_reference
