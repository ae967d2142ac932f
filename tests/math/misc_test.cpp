#include "math/misc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/child.h"

namespace {
double Mdot(const double *a, const double *b) { return a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3]; }
}  // namespace

TEST(Misc, CompareStrings) {
  EXPECT_TRUE(Misc::comparestrings("", ""));
  EXPECT_TRUE(Misc::comparestrings("Rx", "Rx"));
  EXPECT_FALSE(Misc::comparestrings("Rx", "Rxy"));
  EXPECT_FALSE(Misc::comparestrings("Rxy", "Rx"));
  EXPECT_FALSE(Misc::comparestrings("Ry", "Rx"));
  EXPECT_TRUE(Misc::comparestrings(std::string("lambda"), std::string("lambda")));
}

TEST(Misc, TwoBodyDecayMomentum) {
  EXPECT_DOUBLE_EQ(Misc::triangle(10.0, 4.0, 6.0), 0.0);
  // K -> pi pi: p^2 = m^2/4 - mpi^2 for equal masses.
  EXPECT_NEAR(Misc::triangle(497.6, 139.57, 139.57), 497.6 * 497.6 / 4.0 - 139.57 * 139.57, 1e-8);
  // Energies add up: sqrt(p^2 + m1^2) + sqrt(p^2 + m2^2) = m.
  const double p2 = Misc::triangle(1115.7, 938.3, 139.6);
  EXPECT_NEAR(std::sqrt(p2 + 938.3 * 938.3) + std::sqrt(p2 + 139.6 * 139.6), 1115.7, 1e-9);
  ChildResult r = RunInChild([] { Misc::triangle(1.0, 0.6, 0.6); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Disaster with triangle\n");
}

TEST(Misc, QinvAndItsFailure) {
  const double p1[4] = {std::sqrt(100.0 * 100.0 + 0.0 + 139.57 * 139.57), 100.0, 0.0, 0.0};
  const double p2[4] = {std::sqrt(50.0 * 50.0 + 139.57 * 139.57), 0.0, 50.0, 0.0};
  double d[4];
  for (int i = 0; i < 4; ++i) d[i] = p1[i] - p2[i];
  EXPECT_NEAR(Misc::GetQinv(p1, p2), std::sqrt(-Mdot(d, d)), 1e-10);
  const double a[4] = {10.0, 0.0, 0.0, 0.0}, b[4] = {1.0, 0.0, 0.0, 0.0};
  ChildResult r = RunInChild([&] { Misc::GetQinv(a, b); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "DISASTER with GetQinv, wrong sign, = -81\n");
}

TEST(Misc, RapidityAndBoost) {
  const double p[4] = {std::sqrt(0.3 * 0.3 + 0.2 * 0.2 + 1.1 * 1.1 + 0.938 * 0.938), 0.3, 0.2, 1.1};
  const double u0[4] = {1.0, 0.0, 0.0, 0.0};
  double out[4];
  Misc::lorentz(u0, p, out);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(out[i], p[i], 1e-15);

  // A boost along z shifts the rapidity by the boost's rapidity.
  const double y = 0.7;
  const double uz[4] = {std::cosh(y), 0.0, 0.0, std::sinh(y)};
  Misc::lorentz(uz, p, out);
  EXPECT_NEAR(Misc::GetRapidity(out) - Misc::GetRapidity(p), y, 1e-13);
  EXPECT_NEAR(Misc::GetDely(out, p), y, 1e-13);

  // General boost: invariant mass kept, and a body at rest ends with four-momentum m u.
  const double u[4] = {std::sqrt(1.0 + 0.4 * 0.4 + 0.9 * 0.9 + 0.3 * 0.3), 0.4, -0.9, 0.3};
  Misc::lorentz(u, p, out);
  EXPECT_NEAR(Mdot(out, out), Mdot(p, p), 1e-12);
  const double rest[4] = {2.0, 0.0, 0.0, 0.0};
  double moving[4];
  Misc::lorentz(u, rest, moving);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(moving[i], 2.0 * u[i], 1e-13);
}

// For equal masses q = (pa - pb)/2 has no time component in the pair frame, so
// qout^2 + qside^2 + qlong^2 = Qinv^2/4.
TEST(Misc, OutSideLong) {
  const double m = 139.57;
  auto fill = [m](double px, double py, double pz, double *p) {
    p[1] = px;
    p[2] = py;
    p[3] = pz;
    p[0] = std::sqrt(m * m + px * px + py * py + pz * pz);
  };
  double pa[4], pb[4];
  fill(310.0, 40.0, 500.0, pa);
  fill(280.0, -25.0, 380.0, pb);
  double first = 123.0, qo, qs, ql;
  Misc::outsidelong(pa, pb, first, qo, qs, ql);
  EXPECT_EQ(first, 0.0);
  const double qinv = Misc::GetQinv(pa, pb);
  EXPECT_NEAR(qo * qo + qs * qs + ql * ql, 0.25 * qinv * qinv, 1e-8);

  // Pair moving along x with no longitudinal motion: side is q_y, long is q_z.
  fill(200.0, 10.0, 6.0, pa);
  fill(200.0, -10.0, -6.0, pb);
  Misc::outsidelong(pa, pb, first, qo, qs, ql);
  EXPECT_NEAR(qs, 10.0, 1e-12);
  EXPECT_NEAR(ql, 6.0, 1e-12);
  EXPECT_NEAR(qo, 0.0, 1e-12);
}

TEST(Misc, RoundingAndComplexHelpers) {
  EXPECT_EQ(Misc::iround(2.5), 3);
  EXPECT_EQ(Misc::iround(2.49), 2);
  EXPECT_EQ(Misc::iround(-2.5), -2);
  EXPECT_EQ(Misc::iround(-2.51), -3);
  using C = std::complex<double>;
  EXPECT_NEAR(std::abs(Misc::ceiphi(0.9) - std::exp(C(0.0, 0.9))), 0.0, 1e-15);
  EXPECT_NEAR(std::abs(Misc::cexp(C(0.3, -2.0)) - std::exp(C(0.3, -2.0))), 0.0, 1e-15);
  EXPECT_NEAR(std::abs(Misc::cpow(C(0.0, 2.0), C(0.0, -0.5)) - std::pow(C(0.0, 2.0), C(0.0, -0.5))), 0.0, 1e-14);
  EXPECT_NEAR(std::abs(Misc::cpow(C(-3.0, 0.0), C(0.5, 0.0)) - C(0.0, std::sqrt(3.0))), 0.0, 1e-14);
  EXPECT_NEAR(std::abs(Misc::cpow(C(0.0, -7.0), C(-1.0, 0.3)) - std::pow(C(0.0, -7.0), C(-1.0, 0.3))), 0.0, 1e-14);
}

TEST(Misc, ClebschGordanKnownValues) {
  const double s = 1.0 / std::sqrt(2.0);
  EXPECT_NEAR(Misc::cgc(0.5, 0.5, 0.5, -0.5, 1, 0), s, 1e-14);
  EXPECT_NEAR(Misc::cgc(0.5, 0.5, 0.5, -0.5, 0, 0), s, 1e-14);
  EXPECT_NEAR(Misc::cgc(0.5, -0.5, 0.5, 0.5, 0, 0), -s, 1e-14);
  EXPECT_NEAR(Misc::cgc(1, 0, 1, 0, 2, 0), std::sqrt(2.0 / 3.0), 1e-14);
  EXPECT_NEAR(Misc::cgc(1, 0, 1, 0, 1, 0), 0.0, 1e-14);
  EXPECT_NEAR(Misc::cgc(1, 1, 0.5, -0.5, 1.5, 0.5), std::sqrt(1.0 / 3.0), 1e-14);
  EXPECT_NEAR(Misc::oldcgc(1, 1, 0.5, -0.5, 0.5, 0.5), std::sqrt(2.0 / 3.0), 1e-14);
  EXPECT_NEAR(Misc::oldcgc(0.5, -0.5, 0.5, 0.5, 0, 0), -s, 1e-14);
  // Outside the triangle or with |m| > j both give 0.
  EXPECT_EQ(Misc::oldcgc(1, 0, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(Misc::cgc(1, 0, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(Misc::oldcgc(2, 0, 0.5, 0.5, 1, 0.5), 0.0);
  EXPECT_EQ(Misc::oldcgc(1, 2, 1, -1, 2, 1), 0.0);
  EXPECT_EQ(Misc::cgc(1, 2, 1, -1, 2, 1), 0.0);
  EXPECT_EQ(Misc::oldcgc(1, 1, 1, 0, 2, 0), 0.0);  // m1 + m2 != M
  EXPECT_DOUBLE_EQ(Misc::cgc_factorial(5), 120.0);
  EXPECT_DOUBLE_EQ(Misc::cgc_factorial(0.4), 1.0);
  EXPECT_DOUBLE_EQ(Misc::cgc_fractorial(6, 3), 120.0);
  EXPECT_DOUBLE_EQ(Misc::cgc_fractorial(3, 6), 1.0 / 120.0);
  EXPECT_EQ(Misc::cgc_delta(1, 1), 1.0);
  EXPECT_EQ(Misc::cgc_delta(1, 2), 0.0);
}

// The Racah sum and the 3j route agree everywhere, and the coefficients form
// an orthogonal matrix: sum_(m1,m2) <j1 m1 j2 m2|J M><j1 m1 j2 m2|J' M> = delta_JJ'.
TEST(Misc, ClebschGordanConsistencyAndOrthogonality) {
  for (int tj1 = 0; tj1 <= 6; ++tj1)
    for (int tj2 = 0; tj2 <= 5; ++tj2) {
      const double j1 = 0.5 * tj1, j2 = 0.5 * tj2;
      for (int tJ = 0; tJ <= tj1 + tj2 + 2; ++tJ)
        for (int tm1 = -tj1; tm1 <= tj1; tm1 += 2)
          for (int tm2 = -tj2; tm2 <= tj2; tm2 += 2) {
            const double J = 0.5 * tJ, m1 = 0.5 * tm1, m2 = 0.5 * tm2;
            if ((tj1 + tj2 + tJ) % 2) continue;
            EXPECT_NEAR(Misc::oldcgc(j1, m1, j2, m2, J, m1 + m2), Misc::cgc(j1, m1, j2, m2, J, m1 + m2), 1e-12)
                << j1 << " " << m1 << " " << j2 << " " << m2 << " " << J;
          }
      for (int tJ = std::abs(tj1 - tj2); tJ <= tj1 + tj2; tJ += 2)
        for (int tJp = std::abs(tj1 - tj2); tJp <= tj1 + tj2; tJp += 2)
          for (int tM = -std::min(tJ, tJp); tM <= std::min(tJ, tJp); tM += 2) {
            double s = 0.0;
            for (int tm1 = -tj1; tm1 <= tj1; tm1 += 2) {
              const double m1 = 0.5 * tm1, m2 = 0.5 * tM - m1;
              s += Misc::cgc(j1, m1, j2, m2, 0.5 * tJ, 0.5 * tM) * Misc::cgc(j1, m1, j2, m2, 0.5 * tJp, 0.5 * tM);
            }
            EXPECT_NEAR(s, tJ == tJp ? 1.0 : 0.0, 1e-12);
          }
    }
}
