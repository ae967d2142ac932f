#include "math/misc.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/child.h"

// Decay momentum and the two failures. For equal masses qout^2 + qside^2 +
// qlong^2 = Qinv^2/4; a pair along x has side y, long z; the unused output is 0.
TEST(Misc, KinematicsAndFailures) {
  const double p2 = Misc::triangle(1115.7, 938.3, 139.6);  // the energies add up to the mass
  EXPECT_NEAR(std::sqrt(p2 + 938.3 * 938.3) + std::sqrt(p2 + 139.6 * 139.6), 1115.7, 1e-9);
  const double a[4] = {10.0, 0.0, 0.0, 0.0}, b[4] = {1.0, 0.0, 0.0, 0.0};
  ChildResult r = RunInChild([] { Misc::triangle(1.0, 0.6, 0.6); }), s = RunInChild([&] { Misc::GetQinv(a, b); });
  EXPECT_EQ(r.status + s.status, 2);
  EXPECT_EQ(r.output + s.output, "Disaster with triangle\nDISASTER with GetQinv, wrong sign, = -81\n");
  auto E = [](double px, double py, double pz) { return std::sqrt(139.57 * 139.57 + px * px + py * py + pz * pz); };
  const double pa[4] = {E(310, 40, 500), 310, 40, 500}, pb[4] = {E(280, -25, 380), 280, -25, 380};
  const double pc[4] = {E(200, 10, 6), 200, 10, 6}, pd[4] = {E(200, -10, -6), 200, -10, -6};
  double unused = 123.0, qo, qs, ql;
  Misc::outsidelong(pa, pb, unused, qo, qs, ql);
  EXPECT_EQ(unused, 0.0);
  EXPECT_NEAR(qo * qo + qs * qs + ql * ql, 0.25 * std::pow(Misc::GetQinv(pa, pb), 2), 1e-8);
  Misc::outsidelong(pc, pd, unused, qo, qs, ql);
  EXPECT_TRUE(std::fabs(qo) < 1e-12 && std::fabs(qs - 10.0) < 1e-12 && std::fabs(ql - 6.0) < 1e-12);
}

// The Racah route agrees with GSL's 3j symbols everywhere, including J outside
// the triangle |j1 - j2| <= J <= j1 + j2 and |m1| > j1, where both are 0.
TEST(Misc, ClebschGordan) {
  EXPECT_NEAR(Misc::cgc(1, 1, 0.5, -0.5, 1.5, 0.5), std::sqrt(1.0 / 3.0), 1e-14);
  for (int a = 0; a <= 6; ++a)  // twice j1, j2, J, M and m1
    for (int b = 0; b <= 5; ++b)
      for (int J = (a + b) % 2; J <= a + b + 2; J += 2)
        for (int M = -J; M <= J; M += 2)
          for (int m1 = -a - 2; m1 <= a + 2; m1 += 2) {
            const double j1 = a / 2.0, j2 = b / 2.0, m = m1 / 2.0, m2 = (M - m1) / 2.0;
            EXPECT_NEAR(Misc::oldcgc(j1, m, j2, m2, J / 2.0, M / 2.0), Misc::cgc(j1, m, j2, m2, J / 2.0, M / 2.0), 1e-12)
                << a << " " << b << " " << J << " " << M << " " << m1;
          }
}
