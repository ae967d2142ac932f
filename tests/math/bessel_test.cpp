#include "math/bessel.h"

#include <gtest/gtest.h>

#include <cmath>

// j_l against its power series x^l/(2l+1)!! sum_k (-x^2/2)^k/(k! (2l+3)...(2l+2k+1)),
// also at high order and small x where upward recursion fails (j_24(0.01) ~ 1e-80);
// y_l through the Wronskian j_l y_(l-1) - j_(l-1) y_l = 1/x^2; h*_l = j_l - i y_l.
// Underflow and overflow give 0 or infinities, without aborting the program.
TEST(Bessel, SeriesWronskianAndExtremes) {
  for (int l : {0, 1, 5, 12, 24, 40})
    for (double x : {1e-3, 0.01, 0.5, 3.0}) {
      long double pre = 1.0L, term = 1.0L, sum = 1.0L;
      for (int k = 1; k <= l; ++k) pre *= x / (2 * k + 1);
      for (int k = 1; k < 60; ++k) sum += (term *= -x * x / (2.0L * k * (2 * l + 2 * k + 1)));
      EXPECT_NEAR(Bessel::jn(l, x), pre * sum, 1e-12 * std::fabs(pre * sum)) << l << " " << x;
    }
  for (int l : {1, 3, 15, 30})
    for (double x : {0.2, 4.0, 35.0})
      EXPECT_NEAR((Bessel::jn(l, x) * Bessel::yn(l - 1, x) - Bessel::jn(l - 1, x) * Bessel::yn(l, x)) * x * x, 1.0, 1e-10);
  EXPECT_EQ(Bessel::hstarn(3, 4.0), std::complex<double>(Bessel::jn(3, 4.0), -Bessel::yn(3, 4.0)));
  EXPECT_EQ(Bessel::jn(200, 1e-10), 0.0);
  EXPECT_EQ(Bessel::yn(200, 1e-10), -HUGE_VAL);
  EXPECT_EQ(Bessel::Kn(50, 1e-8), HUGE_VAL);
}
