#include "math/misc.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/child.h"

namespace {
double Mdot(const double *a, const double *b) { return a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3]; }
double E(double m, double px, double py, double pz) { return std::sqrt(m * m + px * px + py * py + pz * pz); }
}  // namespace

// Decay momentum and failures. A boost along z shifts the rapidity by its own
// and keeps the mass. For equal masses qout^2 + qside^2 + qlong^2 = Qinv^2/4;
// a pair along x has side y, long z.
TEST(Misc, KinematicsAndFailures) {
  const double p2 = Misc::triangle(1115.7, 938.3, 139.6);  // the energies add up to the mass
  EXPECT_NEAR(std::sqrt(p2 + 938.3 * 938.3) + std::sqrt(p2 + 139.6 * 139.6), 1115.7, 1e-9);
  const double a[4] = {10.0, 0.0, 0.0, 0.0}, b[4] = {1.0, 0.0, 0.0, 0.0};
  ChildResult r = RunInChild([] { Misc::triangle(1.0, 0.6, 0.6); }), s = RunInChild([&] { Misc::GetQinv(a, b); });
  EXPECT_EQ(r.status + s.status, 2);
  EXPECT_EQ(r.output + s.output, "Disaster with triangle\nDISASTER with GetQinv, wrong sign, = -81\n");
  double out[4], unused = 123.0, qo, qs, ql;
  const double uz[4] = {std::cosh(0.7), 0.0, 0.0, std::sinh(0.7)}, p[4] = {E(0.938, 0.3, 0.2, 1.1), 0.3, 0.2, 1.1};
  Misc::lorentz(uz, p, out);
  EXPECT_NEAR(Misc::GetDely(out, p), 0.7, 1e-13);
  EXPECT_NEAR(Mdot(out, out), Mdot(p, p), 1e-12);
  const double m = 139.57, pa[4] = {E(m, 310, 40, 500), 310, 40, 500}, pb[4] = {E(m, 280, -25, 380), 280, -25, 380};
  Misc::outsidelong(pa, pb, unused, qo, qs, ql);
  EXPECT_EQ(unused, 0.0);
  EXPECT_NEAR(qo * qo + qs * qs + ql * ql, 0.25 * std::pow(Misc::GetQinv(pa, pb), 2), 1e-8);
  const double pc[4] = {E(m, 200, 10, 6), 200, 10, 6}, pd[4] = {E(m, 200, -10, -6), 200, -10, -6};
  Misc::outsidelong(pc, pd, unused, qo, qs, ql);
  EXPECT_TRUE(std::fabs(qo) < 1e-12 && std::fabs(qs - 10.0) < 1e-12 && std::fabs(ql - 6.0) < 1e-12);
}

// The Racah and 3j routes agree; the coefficients are orthonormal,
// sum_m1 <j1 m1 j2 m2|J M><j1 m1 j2 m2|J' M> = delta_JJ', and vanish outside the
// triangle or for |m| > j (then a J beyond the triangle sums to 0).
TEST(Misc, ClebschGordan) {
  EXPECT_NEAR(Misc::cgc(1, 1, 0.5, -0.5, 1.5, 0.5), std::sqrt(1.0 / 3.0), 1e-14);
  EXPECT_EQ(Misc::oldcgc(1, 0, 0, 0, 0, 0), 0.0);
  for (int a = 0; a <= 6; ++a)  // a, b, J, Jp, M, m1: twice j1, j2, J, J', M, m1
    for (int b = 0; b <= 5; ++b)
      for (int J = (a + b) % 2; J <= a + b + 2; J += 2)
        for (int Jp = std::abs(a - b); Jp <= a + b; Jp += 2)
          for (int M = -std::min(J, Jp); M <= std::min(J, Jp); M += 2) {
            double s = 0.0;
            for (int m1 = -a; m1 <= a; m1 += 2) {
              const double c = Misc::cgc(a / 2.0, m1 / 2.0, b / 2.0, (M - m1) / 2.0, J / 2.0, M / 2.0);
              EXPECT_NEAR(c, Misc::oldcgc(a / 2.0, m1 / 2.0, b / 2.0, (M - m1) / 2.0, J / 2.0, M / 2.0), 1e-12);
              s += c * Misc::cgc(a / 2.0, m1 / 2.0, b / 2.0, (M - m1) / 2.0, Jp / 2.0, M / 2.0);
            }
            EXPECT_NEAR(s, J == Jp ? 1.0 : 0.0, 1e-12) << a << " " << b << " " << J << " " << Jp << " " << M;
          }
}
