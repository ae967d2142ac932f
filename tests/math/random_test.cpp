#include "math/random.h"

#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

TEST(Random, SeedsAreReproducible) {
  CRandom a(-1234), b(-1234);
  const double first = a.ran();
  EXPECT_EQ(first, b.ran());
  a.reset(-1234);
  EXPECT_EQ(first, a.ran());
  EXPECT_EQ(a.iran(1), 0u);
}

TEST(Random, GaussianPairAndThermalMomenta) {
  CRandom r(42);
  const int n = 100000;
  double s2 = 0, c = 0;
  for (int i = 0; i < n; ++i) {
    double g1, g2;
    r.gauss2(&g1, &g2);
    s2 += g1 * g1 + g2 * g2;
    c += g1 * g2;
  }
  EXPECT_NEAR(s2 / (2 * n), 1.0, 0.01);
  EXPECT_NEAR(c / n, 0.0, 0.01);

  // Non-relativistic branch (T/m = 0.08 exactly): <px^2> = m T.
  const double m = 938.272, T = 0.08 * m;
  double px2 = 0;
  for (int i = 0; i < n; ++i) {
    double p[4];
    r.generate_boltzmann(m, T, p);
    px2 += p[1] * p[1];
  }
  EXPECT_NEAR(px2 / n / (m * T), 1.0, 0.02);

  // Relativistic branch: <E> = 3T + m K1(m/T)/K2(m/T) for the Juttner distribution.
  const double mpi = 139.57, Tpi = 120.0;
  double sumE = 0;
  for (int i = 0; i < n; ++i) {
    double p[4];
    r.generate_boltzmann(mpi, Tpi, p);
    sumE += p[0];
  }
  const double z = mpi / Tpi;
  EXPECT_NEAR(sumE / n, 3 * Tpi + mpi * gsl_sf_bessel_Kn(1, z) / gsl_sf_bessel_Kn(2, z), 0.01 * sumE / n);
}
