#include "wavefunction/partwave.h"

#include <gtest/gtest.h>

#include "tests/wavefunction/coulomb_reference.h"

// Incoming e^(-i sigma)(F + iG) and outgoing e^(-i sigma)(F - iG) against the
// long-double references: at mesh points, between them (linear interpolation,
// error ~ (q delr/hbarc)^2/8) and beyond the table; eta = 0 is the free wave.
TEST(PartWave, WavesAgainstReference) {
  const double q = 60.0, points[][2] = {{1.505, 1e-8}, {14.005, 1e-8}, {29.995, 1e-8}, {7.77, 3e-6}, {45.0, 1e-8}};
  for (double eta : {-0.4, 0.0, 0.15, 1.3})
    for (int ell : {0, 1, 3}) {
      CPartWave pw(eta, eta == 0.0 ? 0 : 1, q, ell, 0.5);
      EXPECT_NEAR(pw.sigma, coulref::Sigma(ell, eta), 1e-12);
      for (const auto &p : points) {
        const double rho = q * p[0] / CPartWave::HBARC, F = coulref::F(ell, eta, rho), G = coulref::G(ell, eta, rho);
        const std::complex<double> e = std::polar(1.0, -pw.sigma), in = pw.GetPhiIncoming(p[0]);
        EXPECT_NEAR(std::abs(in - e * std::complex<double>(F, G)), 0.0, p[1] * std::hypot(F, G)) << eta << " " << p[0];
        EXPECT_NEAR(std::abs(pw.GetPhiOutgoing(p[0]) - e * std::complex<double>(F, -G)), 0.0, p[1] * std::hypot(F, G));
      }
    }
}
