#include "math/sphericalharmonics.h"

#include <gtest/gtest.h>

#include <cmath>

// P_l(x) a rounding step past 1 is P_l(1) = 1. Y_1^1 with the Condon-Shortley
// sign; Y_l^-m = (-1)^m conj(Y_l^m); the addition theorem
// sum_m Y_l^m(n1) conj(Y_l^m(n2)) = (2l+1)/(4 pi) P_l(n1.n2).
TEST(SpherHarmonics, LegendreSignsAndAdditionTheorem) {
  using SpherHarmonics::Ylm;
  const double t1 = 0.83, p1 = 2.1, t2 = 2.2, p2 = -0.4;
  const double c12 = std::cos(t1) * std::cos(t2) + std::sin(t1) * std::sin(t2) * std::cos(p1 - p2);
  EXPECT_NEAR(std::abs(Ylm(1, 1, t1, p1) + std::polar(std::sqrt(3.0 / (8.0 * M_PI)) * std::sin(t1), p1)), 0.0, 1e-15);
  for (int l = 0; l <= 8; ++l) {
    EXPECT_NEAR(SpherHarmonics::legendre(l, 1.0 + 1e-15), 1.0, 1e-13) << l;
    std::complex<double> s = 0.0;
    for (int m = -l; m <= l; ++m) {
      s += Ylm(l, m, t1, p1) * std::conj(Ylm(l, m, t2, p2));
      EXPECT_NEAR(std::abs(Ylm(l, -m, t2, p2) - std::pow(-1.0, m) * std::conj(Ylm(l, m, t2, p2))), 0.0, 1e-14);
    }
    EXPECT_NEAR(std::abs(s - (2 * l + 1) / (4.0 * M_PI) * SpherHarmonics::legendre(l, c12)), 0.0, 1e-13) << l;
  }
}
