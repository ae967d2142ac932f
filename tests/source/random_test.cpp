#include "source/random.h"

#include <gtest/gtest.h>

#include <gsl/gsl_sf_bessel.h>

#include <cmath>

TEST(Random, SameSeedSameSequenceAndResetRestarts) {
  CRandom a(-1234), b(-1234);
  double first[5];
  for (double &x : first) {
    x = a.ran();
    EXPECT_EQ(x, b.ran());
    EXPECT_GE(x, 0.0);
    EXPECT_LT(x, 1.0);
  }
  a.reset(-1234);
  for (double x : first) EXPECT_EQ(x, a.ran());
  for (int i = 0; i < 20; ++i) EXPECT_EQ(a.iran(1), 0u);
}

TEST(Random, GaussianMoments) {
  CRandom r(42);
  const int n = 200000;
  double s1 = 0, s2 = 0, c = 0;
  for (int i = 0; i < n / 2; ++i) {
    double g1, g2;
    r.gauss2(&g1, &g2);
    ASSERT_TRUE(std::isfinite(g1) && std::isfinite(g2));
    s1 += g1 + g2;
    s2 += g1 * g1 + g2 * g2;
    c += g1 * g2;
  }
  EXPECT_NEAR(s1 / n, 0.0, 0.01);
  EXPECT_NEAR(s2 / n, 1.0, 0.01);
  EXPECT_NEAR(c / (n / 2), 0.0, 0.01);
  double u = 0;
  for (int i = 0; i < n; ++i) u += r.gauss() * r.gauss();
  EXPECT_NEAR(u / n, 0.0, 0.01);
}

TEST(Random, BoltzmannMomenta) {
  CRandom r(7);
  const double m = 938.272, T = 0.08 * 938.272;  // boundary: non-relativistic branch
  const int n = 100000;
  double px2 = 0;
  for (int i = 0; i < n; ++i) {
    double p[4];
    r.generate_boltzmann(m, T, p);
    EXPECT_NEAR(p[0] * p[0], m * m + p[1] * p[1] + p[2] * p[2] + p[3] * p[3], 1e-6 * p[0] * p[0]);
    px2 += p[1] * p[1];
  }
  EXPECT_NEAR(px2 / n / (m * T), 1.0, 0.02);

  // Relativistic branch for pions at T = 120 MeV: <E> of the Juttner distribution.
  const double mpi = 139.57, Tpi = 120.0;
  double sumE = 0, sumpz = 0;
  for (int i = 0; i < n; ++i) {
    double p[4];
    r.generate_boltzmann(mpi, Tpi, p);
    sumE += p[0];
    sumpz += p[3];
  }
  // <E> = 3T + m K1(m/T)/K2(m/T) for the Juttner distribution.
  const double z = mpi / Tpi;
  const double k1k2 = gsl_sf_bessel_Kn(1, z) / gsl_sf_bessel_Kn(2, z);
  EXPECT_NEAR(sumE / n, 3 * Tpi + mpi * k1k2, 0.01 * sumE / n);
  EXPECT_NEAR(sumpz / n, 0.0, 3.0);
}
