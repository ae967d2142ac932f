#include "math/bessel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/child.h"

namespace {
// j_l(x) by its power series x^l/(2l+1)!! sum_k (-x^2/2)^k/(k! (2l+3)(2l+5)...(2l+2k+1)).
long double SeriesJ(int l, long double x) {
  long double pre = 1.0L;
  for (int k = 1; k <= l; ++k) pre *= x / (2 * k + 1);
  long double term = 1.0L, sum = 1.0L;
  for (int k = 1; k < 200; ++k) {
    term *= -x * x / (2.0L * k * (2 * l + 2 * k + 1));
    sum += term;
    if (std::fabs(term) < 1e-22L * std::fabs(sum)) break;
  }
  return pre * sum;
}
}  // namespace

TEST(Bessel, ClosedFormsOfLowOrders) {
  for (double x : {0.001, 0.4, 1.0, 3.3, 12.0, 80.0}) {
    const double s = std::sin(x), c = std::cos(x);
    EXPECT_NEAR(Bessel::j0(x), s / x, 1e-15);
    EXPECT_NEAR(Bessel::j1(x), s / (x * x) - c / x, 1e-13);
    EXPECT_NEAR(Bessel::y0(x), -c / x, 1e-15 / x);
    EXPECT_NEAR(Bessel::y1(x), -c / (x * x) - s / x, 1e-13 / (x * x));
    EXPECT_EQ(Bessel::jn(0, x), Bessel::j0(x));
    EXPECT_EQ(Bessel::jn(1, x), Bessel::j1(x));
    EXPECT_NEAR(Bessel::jn(2, x), 3.0 * Bessel::j1(x) / x - Bessel::j0(x), 1e-12 * (1.0 + 1.0 / x));
    const std::complex<double> h = Bessel::hn(3, x), hs = Bessel::hstarn(3, x);
    EXPECT_EQ(h, std::conj(hs));
    EXPECT_EQ(h.real(), Bessel::jn(3, x));
    EXPECT_EQ(h.imag(), Bessel::yn(3, x));
    EXPECT_EQ(Bessel::h0(x), std::complex<double>(Bessel::j0(x), Bessel::y0(x)));
    EXPECT_EQ(Bessel::hstar1(x), std::complex<double>(Bessel::j1(x), -Bessel::y1(x)));
  }
}

// High orders at small x, where upward recursion fails: j_24(0.01) ~ 1.7e-80.
TEST(Bessel, HighOrderAtSmallArgument) {
  for (int l : {5, 12, 24, 40})
    for (double x : {1e-3, 0.01, 0.5, 3.0}) {
      const double ref = static_cast<double>(SeriesJ(l, x));
      EXPECT_NEAR(Bessel::jn(l, x), ref, 1e-12 * std::fabs(ref)) << l << " " << x;
    }
  const double j24 = Bessel::jn(24, 0.01);
  EXPECT_GT(j24, 1e-81);
  EXPECT_LT(j24, 1e-79);
  // Wronskian j_l y_(l-1) - j_(l-1) y_l = 1/x^2 ties y to j.
  for (int l : {3, 15, 30})
    for (double x : {0.2, 4.0, 35.0}) {
      const double w = Bessel::jn(l, x) * Bessel::yn(l - 1, x) - Bessel::jn(l - 1, x) * Bessel::yn(l, x);
      EXPECT_NEAR(w * x * x, 1.0, 1e-10) << l << " " << x;
    }
}

TEST(Bessel, ParityAndExtremes) {
  for (int l : {0, 1, 2, 7}) {
    EXPECT_NEAR(Bessel::jn(l, -1.7), ((l & 1) ? -1.0 : 1.0) * Bessel::jn(l, 1.7), 1e-15);
    EXPECT_NEAR(Bessel::yn(l, -1.7), ((l & 1) ? 1.0 : -1.0) * Bessel::yn(l, 1.7), 1e-13);
  }
  EXPECT_EQ(Bessel::jn(3, 0.0), 0.0);
  EXPECT_EQ(Bessel::jn(0, 0.0), 1.0);
  ChildResult r = RunInChild([] {
    const double j = Bessel::jn(200, 1e-10);
    const double y = Bessel::yn(200, 1e-10);
    const double k = Bessel::Kn(50, 1e-8);
    const double jj = Bessel::Jn(300, 1e-5);
    std::printf("%g %g %g %g\n", j, y, k, jj);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "0 -inf inf 0\n");
}

TEST(Bessel, CylindricalAndModifiedKnownValues) {
  EXPECT_NEAR(Bessel::J0(2.404825557695773), 0.0, 1e-14);
  EXPECT_NEAR(Bessel::Y1(1.0), -0.7812128213002887, 1e-15);
  EXPECT_NEAR(Bessel::K0(1.0), 0.42102443824070834, 1e-15);
  EXPECT_NEAR(Bessel::K1(1.0), 0.6019072301972346, 1e-15);
  EXPECT_NEAR(Bessel::Kn(2, 2.7), Bessel::K0(2.7) + 2.0 * Bessel::K1(2.7) / 2.7, 1e-14);
}
