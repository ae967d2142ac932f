#include "math/sphericalharmonics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <utility>
#include <vector>

#include <gsl/gsl_integration.h>

TEST(SpherHarmonics, LegendrePolynomials) {
  for (double x : {-1.0, -0.42, 0.0, 0.77, 1.0}) {
    EXPECT_DOUBLE_EQ(SpherHarmonics::legendre(0, x), 1.0);
    EXPECT_NEAR(SpherHarmonics::legendre(1, x), x, 1e-15);
    EXPECT_NEAR(SpherHarmonics::legendre(2, x), 1.5 * x * x - 0.5, 1e-15);
    EXPECT_NEAR(SpherHarmonics::legendre(3, x), 2.5 * x * x * x - 1.5 * x, 1e-15);
  }
  EXPECT_NEAR(SpherHarmonics::legendre(7, 1.0), 1.0, 1e-15);
  EXPECT_NEAR(SpherHarmonics::legendre(7, -1.0), -1.0, 1e-15);
  // A rounding step outside [-1, 1] and the polynomial beyond it.
  EXPECT_NEAR(SpherHarmonics::legendre(4, 1.0 + 1e-15), 1.0, 1e-12);
  EXPECT_NEAR(SpherHarmonics::legendre(2, 2.0), 5.5, 1e-14);
}

TEST(SpherHarmonics, LowOrdersAndConjugation) {
  const double th = 0.83, ph = 2.1;
  const std::complex<double> e(std::cos(ph), std::sin(ph));
  EXPECT_NEAR(std::abs(SpherHarmonics::Ylm(0, 0, th, ph) - 1.0 / std::sqrt(4.0 * M_PI)), 0.0, 1e-15);
  EXPECT_NEAR(std::abs(SpherHarmonics::Ylm(1, 0, th, ph) - std::sqrt(3.0 / (4.0 * M_PI)) * std::cos(th)), 0.0, 1e-15);
  EXPECT_NEAR(std::abs(SpherHarmonics::Ylm(1, 1, th, ph) + std::sqrt(3.0 / (8.0 * M_PI)) * std::sin(th) * e), 0.0, 1e-15);
  EXPECT_NEAR(std::abs(SpherHarmonics::Ylm(2, 2, th, ph) -
                       0.25 * std::sqrt(15.0 / (2.0 * M_PI)) * std::sin(th) * std::sin(th) * e * e),
              0.0, 1e-15);
  for (int l = 0; l <= 6; ++l)
    for (int m = 0; m <= l; ++m) {
      const std::complex<double> plus = SpherHarmonics::Ylm(l, m, th, ph), minus = SpherHarmonics::Ylm(l, -m, th, ph);
      EXPECT_NEAR(std::abs(minus - ((m & 1) ? -1.0 : 1.0) * std::conj(plus)), 0.0, 1e-14) << l << " " << m;
    }
  EXPECT_EQ(SpherHarmonics::Ylm(2, 3, th, ph), std::complex<double>(0.0, 0.0));
}

// Orthonormality on the sphere: Gauss-Legendre in cos(theta) and a uniform
// phi grid, both exact for these orders.
TEST(SpherHarmonics, Orthonormality) {
  const int nc = 12, nphi = 24, lmax = 5;
  gsl_integration_glfixed_table *gl = gsl_integration_glfixed_table_alloc(nc);
  struct Point {
    double theta, phi, weight;
  };
  std::vector<Point> points;
  for (int ic = 0; ic < nc; ++ic) {
    double c, w;
    gsl_integration_glfixed_point(-1.0, 1.0, ic, &c, &w, gl);
    for (int ip = 0; ip < nphi; ++ip) points.push_back({std::acos(c), (ip + 0.5) * 2.0 * M_PI / nphi, w * 2.0 * M_PI / nphi});
  }
  gsl_integration_glfixed_table_free(gl);
  std::vector<std::vector<std::complex<double>>> values;
  std::vector<std::pair<int, int>> lm;
  for (int l = 0; l <= lmax; ++l)
    for (int m = -l; m <= l; ++m) {
      lm.emplace_back(l, m);
      values.emplace_back();
      for (const Point &p : points) values.back().push_back(SpherHarmonics::Ylm(l, m, p.theta, p.phi));
    }
  for (size_t a = 0; a < lm.size(); ++a)
    for (size_t b = a; b < lm.size(); ++b) {
      std::complex<double> s = 0.0;
      for (size_t k = 0; k < points.size(); ++k) s += points[k].weight * std::conj(values[a][k]) * values[b][k];
      EXPECT_NEAR(std::abs(s - (a == b ? 1.0 : 0.0)), 0.0, 1e-13) << lm[a].first << lm[a].second << lm[b].first << lm[b].second;
    }
}
