// The transforms' kernel values against MPFR (640 bits): the exponential's
// rounding and the truncation of its formula, each against the constant the
// transforms' error bound takes for it, the rows of kernel values of a point
// against the kernel at the exact distances, and the truncation of a large
// sum of same-signed weights against the term the bound adds for it.
#include "kernel_widths.hpp"
#include "mp_reference.hpp"
#include "nufft_kernel.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace fasogram {
namespace {

using detail::kernel_exp_constants;
using detail::kKernelExpTruncation;
using detail::kKernelExpUnits;
using mp_reference::Big;

constexpr double kUnit = 0x1p-53;

Big mp_exp(const Big& a) {
    Big r;
    mpfr_exp(r.p(), a.p(), MPFR_RNDN);
    return r;
}

double to_double(const Big& v) {
    return mpfr_get_d(v.p(), MPFR_RNDN);
}

// The formula of exp(-e) evaluated exactly: the multiple of ln2/32 the
// engine's reduction takes, then r, the polynomial and the table entry
// without a rounding.  Returns the formula's value.
Big exact_formula(double e) {
    const detail::KernelExpConstants& k = kernel_exp_constants();
    const double a = -e;
    const double kd = std::fma(a, k.c, k.shift) - k.shift;
    const auto n = static_cast<std::int64_t>(kd);
    const std::int64_t j = n & 31, whole = (n - j) / 32;
    const Big r = Big(a) - Big(kd) * (Big(k.l1) + Big(k.l2));
    Big q(k.coef[5]);
    for (int c = 4; c >= 0; --c) q = Big(k.coef[c]) + r * q;
    const Big p = r + r * r * q;
    Big v = (Big(k.hi[j]) + Big(k.lo[j])) * (Big(1.0) + p);
    mpfr_mul_2si(v.p(), v.p(), static_cast<long>(whole), MPFR_RNDN);
    return v;
}

// Arguments in [0, 47]: a dense grid, random ones, and at every multiple of
// ln2/32 the two ends of the reduced argument's range and the multiple
// itself (the polynomial's worst points and the table's entries).
std::vector<double> arguments() {
    std::vector<double> e;
    for (int i = 0; i <= 200000; ++i) e.push_back(47.0 * i / 200000);
    std::mt19937_64 gen(17);
    std::uniform_real_distribution<double> u(0.0, 47.0);
    for (int i = 0; i < 50000; ++i) e.push_back(u(gen));
    const double step = std::log(2.0) / 32;
    for (int n = 0; n * step <= 47.0; ++n)
        for (double r : {-0.5, -0.4999999999, 0.0, 0.4999999999, 0.5}) {
            const double v = (n + r) * step;
            if (v >= 0.0 && v <= 47.0) e.push_back(v);
        }
    return e;
}

using test_widths::TransformWidth;

// The widths the processor has, widest first: the four-lane code fuses its
// multiply-adds, the two-lane code (compiled for any x86-64) does not.
std::vector<unsigned> transform_widths() {
    return test_widths::widths_here<TransformWidth>({4, 2});
}

TEST(NufftKernel, ExponentialWithinItsRoundingAndItsTruncation) {
    const std::vector<double> e = arguments();
    for (const unsigned width : transform_widths()) {
        const TransformWidth tw(width);
        std::vector<double> v(e.size());
        detail::kernel_exp(e, v);
        double worst_units = 0, worst_trunc = 0;
        int above = 0; // the formula above the exponential by half the bound: never
        for (std::size_t i = 0; i < e.size(); ++i) {
            const Big exact = mp_exp(Big(-e[i]));
            const double ex = to_double(exact);
            worst_units =
                std::max(worst_units, std::fabs(to_double(Big(v[i]) - exact)) / ex / kUnit);
            if (i % 7 != 0 && i < 250001) continue; // every adversarial argument, a seventh
            const double d = to_double((exact_formula(e[i]) - exact) / exact);
            worst_trunc = std::max(worst_trunc, std::fabs(d));
            above += d > 0.5 * kKernelExpTruncation;
        }
        std::printf("%u lanes: exponential within %.3f units, truncation %.4g of its bound\n",
                    width, worst_units, worst_trunc / kKernelExpTruncation);
        // The stated allowances hold and are nearly tight: the rounding
        // reaches past a unit, the truncation within 2% of its bound (at
        // r = -ln2/64), with the multiply-adds fused or not.
        EXPECT_LE(worst_units, kKernelExpUnits) << width << " lanes";
        EXPECT_GE(worst_units, 0.9) << width << " lanes";
        EXPECT_LE(worst_trunc, kKernelExpTruncation) << width << " lanes";
        EXPECT_GE(worst_trunc, 0.98 * kKernelExpTruncation) << width << " lanes";
        EXPECT_EQ(above, 0) << width << " lanes";
    }
    // Out of range.
    std::vector<double> bad = {47.5}, out(1);
    EXPECT_THROW(detail::kernel_exp(bad, out), std::invalid_argument);
    bad[0] = std::nan("");
    EXPECT_THROW(detail::kernel_exp(bad, out), std::invalid_argument);
    EXPECT_THROW(detail::kernel_exp(bad, {}), std::invalid_argument);
}

// The kernel at the exact distance of cell j from a point at x.
Big exact_kernel(int j, double x) {
    const Big z = (Big(j - 9.5) - Big(x)) / Big(10.0);
    const Big q = Big(1.0) - z * z;
    if (mpfr_sgn(q.p()) <= 0) return Big(0.0);
    Big s;
    mpfr_sqrt(s.p(), q.p(), MPFR_RNDN);
    return mp_exp(Big(detail::kKernelBeta) * (s - Big(1.0)));
}

// Each point's sum over its cells of the formula less the exponential of
// the exponents the engine computed: the truncation alone.
double row_truncation(double x) {
    double v[detail::kKernelWidth], e[detail::kKernelWidth], units[detail::kKernelWidth];
    detail::kernel_row(x, v, e, units);
    Big sum;
    for (int j = 0; j < detail::kKernelWidth; ++j)
        if (v[j] != 0.0) sum = sum + exact_formula(e[j]) - mp_exp(Big(-e[j]));
    return to_double(sum);
}

TEST(NufftKernel, RowsAgainstTheKernelAndTheirTruncationAgainstTheBound) {
    // Each value within its rounding allowance of the kernel at the exact
    // distance (the units the row states, the exponential's and the
    // exponent's; 3 units of the exponent, as once taken, fall short by 8%).
    // On values below 1e-11, next to the kernel's ends, where the allowance
    // holds to first order only, what it misses is absolute and far below
    // the 1e-17 of the weights' moduli the aliasing term adds as a margin.
    const double b = detail::kernel_approximation_bound();
    for (const unsigned width : transform_widths()) {
        const TransformWidth tw(width);
        double worst = 0, most_sum = 0, excess = 0;
        for (int i = -2048; i < 2048; ++i) {
            const double x = i / 4096.0 + std::abs(i % 3) * 0x1p-40;
            double v[detail::kKernelWidth], e[detail::kKernelWidth], units[detail::kKernelWidth];
            detail::kernel_row(x, v, e, units);
            Big sum;
            for (int j = 0; j < detail::kKernelWidth; ++j) {
                const Big k = exact_kernel(j, x);
                sum = sum + k;
                const double kd = to_double(k);
                if (kd == 0.0) {
                    EXPECT_EQ(v[j], 0.0);
                    EXPECT_EQ(e[j], 0.0);
                    continue;
                }
                const double allowed = units[j] * kUnit + kKernelExpTruncation;
                const double err = std::fabs(to_double(Big(v[j]) - k));
                if (kd > 1e-11)
                    worst = std::max(worst, err / kd / allowed);
                else
                    excess = std::max(excess, err - allowed * kd);
            }
            most_sum = std::max(most_sum, to_double(sum));
        }
        EXPECT_LE(worst, 1.0) << width << " lanes";
        EXPECT_LE(excess, 1e-25) << width << " lanes";
        std::printf("%u lanes: worst %.3f of the allowance, excess at the ends %.2e\n", width,
                    worst, excess);
        // The bound is the truncation times the largest sum of kernel values,
        // nearly tight.
        EXPECT_LE(most_sum * kKernelExpTruncation, b);
        EXPECT_GE(most_sum * kKernelExpTruncation, b * (1 - 1e-6));
    }
    EXPECT_THROW(detail::kernel_row(0.5, nullptr, nullptr, nullptr), std::invalid_argument);
}

TEST(NufftKernel, TruncationOfALargeSameSignedSumWithinTheBoundsTerm) {
    // The offsets whose rows carry the most truncation (of one sign: the
    // polynomial stops short of the exponential), found coarsely in double
    // from each value's reduced argument, then taken exactly.
    const detail::KernelExpConstants& k = kernel_exp_constants();
    const double r_max = std::log(2.0) / 64;
    std::vector<std::pair<double, double>> scored;
    for (int i = -20000; i < 20000; ++i) {
        const double x = i / 40000.0;
        double v[detail::kKernelWidth], e[detail::kKernelWidth], units[detail::kKernelWidth];
        detail::kernel_row(x, v, e, units);
        double s = 0;
        for (int j = 0; j < detail::kKernelWidth; ++j) {
            const double kd = std::fma(-e[j], k.c, k.shift) - k.shift;
            const double r = (-e[j] - kd * k.l1) / r_max;
            s += v[j] * std::pow(r, 8);
        }
        scored.emplace_back(-s, x);
    }
    std::sort(scored.begin(), scored.end());
    std::vector<double> worst_x, trunc;
    for (std::size_t i = 0; i < 16; ++i) {
        worst_x.push_back(scored[i].second);
        trunc.push_back(row_truncation(scored[i].second));
        EXPECT_LE(trunc.back(), 0.0);
    }
    // 200000 points of positive weights at those offsets: at mode 0 every
    // cell adds with the same phase.  The sum's truncation against the
    // bound's term, kernel_approximation_bound() times the weights' sum.
    std::mt19937_64 gen(3);
    std::uniform_real_distribution<double> w(0.5, 1.0);
    Big total, l1;
    for (int i = 0; i < 200000; ++i) {
        const double c = w(gen);
        total = total + Big(c) * Big(trunc[static_cast<std::size_t>(i) % trunc.size()]);
        l1 = l1 + Big(c);
    }
    const double ratio =
        std::fabs(to_double(total)) / (detail::kernel_approximation_bound() * to_double(l1));
    EXPECT_LE(ratio, 1.0);
    // The most a row reaches of the term: pinned, so that a term made that
    // much smaller fails here.
    EXPECT_GE(ratio, 0.4);
    RecordProperty("ratio", std::to_string(ratio));
    std::printf("truncation of the sum / its term: %.3f\n", ratio);
}

} // namespace
} // namespace fasogram
