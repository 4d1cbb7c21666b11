// The transforms' kernel values, polynomials in the point's offset within its
// cell, against the kernel evaluated in multiple precision: every value lies
// within its cell's bound, and the bound is not far above the largest error.
#include "spectrum_internal.hpp"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace fasogram {
namespace {

using detail::kNufftWidth;

constexpr double kUnit = std::numeric_limits<double>::epsilon() / 2;

// exp(beta (sqrt(1 - z^2) - 1)) for the cell j of a point at x (z the
// cell's distance from the point over w/2), 0 for |z| >= 1, at 256 bits.
class ExactKernel {
  public:
    ExactKernel() {
        for (mpfr_ptr v : {z_, q_, r_}) mpfr_init2(v, 256);
    }
    ~ExactKernel() {
        for (mpfr_ptr v : {z_, q_, r_}) mpfr_clear(v);
    }
    ExactKernel(const ExactKernel&) = delete;
    ExactKernel& operator=(const ExactKernel&) = delete;

    // The error of `value`, in multiple precision and rounded once.
    double error(int j, double x, double value) {
        // z = (j - w/2 + 1 - (x + 1/2)) / (w/2), exact at 256 bits.
        mpfr_set_d(z_, x, MPFR_RNDN);
        mpfr_add_d(z_, z_, 0.5, MPFR_RNDN);
        mpfr_si_sub(z_, j - kNufftWidth / 2 + 1, z_, MPFR_RNDN);
        mpfr_div_si(z_, z_, kNufftWidth / 2, MPFR_RNDN);
        mpfr_sqr(q_, z_, MPFR_RNDN);
        mpfr_si_sub(q_, 1, q_, MPFR_RNDN);
        if (mpfr_sgn(q_) <= 0) {
            mpfr_set_zero(r_, 1);
        } else {
            mpfr_sqrt(r_, q_, MPFR_RNDN);
            mpfr_sub_si(r_, r_, 1, MPFR_RNDN);
            mpfr_mul_d(r_, r_, 2.3 * kNufftWidth, MPFR_RNDN);
            mpfr_exp(r_, r_, MPFR_RNDN);
        }
        mpfr_sub_d(r_, r_, value, MPFR_RNDN);
        return std::fabs(mpfr_get_d(r_, MPFR_RNDN));
    }

  private:
    mpfr_t z_, q_, r_;
};

TEST(NufftKernel, ValuesStayWithinTheirBoundsAndTheBoundsAreNearlyTight) {
    const detail::KernelPoly& kp = detail::kernel_poly();
    // Both ends of the offsets, a regular grid and random offsets.
    std::vector<double> xs{-0.5, 0.5, std::nextafter(-0.5, 0.0), std::nextafter(0.5, 0.0), 0.0};
    for (int i = 0; i <= 3000; ++i) xs.push_back(-0.5 + i / 3000.0);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    for (int i = 0; i < 20000; ++i) xs.push_back(uniform(rng));

    ExactKernel exact;
    std::array<double, kNufftWidth> worst{}, largest{};
    std::array<double, kNufftWidth> v{};
    int beyond = 0;
    for (double x : xs) {
        detail::nufft_kernel_values(x, v.data());
        // The bound at x: the polynomial's own error and the rounding at the
        // upper end of x's step of |x|.
        const auto step = std::min(static_cast<std::size_t>(std::fabs(x) * 32),
                                   static_cast<std::size_t>(detail::kNufftRoundingSteps));
        for (int j = 0; j < kNufftWidth; ++j) {
            const auto uj = static_cast<std::size_t>(j);
            const double err = exact.error(j, x, v[uj]);
            const double at_x = kp.approx[uj] + kp.rounding[step][uj] * kUnit;
            if (err > at_x && ++beyond <= 5)
                ADD_FAILURE() << "cell " << j << ", x = " << x << ": error " << err
                              << " above its bound " << at_x;
            worst[uj] = std::max(worst[uj], err);
            largest[uj] = std::max(largest[uj], std::fabs(v[uj]));
        }
    }
    EXPECT_EQ(beyond, 0);
    for (int j = 0; j < kNufftWidth; ++j) {
        const auto uj = static_cast<std::size_t>(j);
        const double bound = kp.bound[uj];
        EXPECT_LE(worst[uj], bound) << "cell " << j;
        // No more than a few units of the cell's largest value, and for the
        // cells that carry the weight (values above 0.01) within a factor
        // 2.5 of the largest error seen (1.5 to 2.3 as made).
        EXPECT_LE(bound, 5 * kUnit * largest[uj] + 2e-19) << "cell " << j;
        if (largest[uj] > 0.01) {
            EXPECT_GE(2.5 * worst[uj], bound) << "cell " << j;
        }
    }
    // The kernel's middle and ends: 1 at the point, e^-46 a cell past the
    // w cells' reach.
    EXPECT_NEAR(largest[kNufftWidth / 2 - 1], 1.0, 1e-15);
    EXPECT_NEAR(largest[kNufftWidth / 2], 1.0, 1e-15);
    EXPECT_LT(largest[0], 6e-12);
    EXPECT_LT(largest[kNufftWidth - 1], 6e-12);
}

} // namespace
} // namespace fasogram
