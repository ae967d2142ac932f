#include "wavefunction/partwave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "math/misc.h"
#include "tests/wavefunction/coulomb_reference.h"

namespace {
const double kHbarc = 197.3269602;
}

TEST(PartWave, FreeSWaveIsConjugateHankel) {
  const double q = 80.0;
  CPartWave pw(0.0, 0, q, 0, 1.0);
  EXPECT_EQ(pw.nrmax, 3000);
  EXPECT_DOUBLE_EQ(pw.delr, 0.01);
  EXPECT_EQ(pw.sigma, 0.0);
  for (double r : {0.005, 0.3, 1.2345, 7.77, 29.99, 45.0}) {
    const double x = q * r / kHbarc;
    const std::complex<double> in = pw.GetPhiIncoming(r);
    // Linear interpolation on a 0.01 fm mesh: error ~ (q delr/hbarc)^2/8.
    EXPECT_NEAR(in.real(), std::sin(x), 3e-6) << r;
    EXPECT_NEAR(in.imag(), std::cos(x), 3e-6) << r;
    EXPECT_EQ(pw.GetPhiOutgoing(r), std::conj(in));
  }
}

TEST(PartWave, MeshPointsAndDirectEvaluation) {
  const double q = 150.0;
  CPartWave pw(0.0, 0, q, 2, 1.0, 200, 0.05);
  ASSERT_EQ(pw.phi.size(), 201u);
  for (int i : {0, 1, 57, 199, 200}) {
    const std::complex<double> v = pw.GetPhiIncoming((i + 0.5) * 0.05);
    EXPECT_NEAR(std::abs(v - pw.phi[i]), 0.0, 1e-12 * std::abs(pw.phi[i])) << i;
  }
  // Beyond the table: x h*_2(x) evaluated directly.
  for (double r : {10.0, 10.013, 40.0}) {
    const double x = q * r / kHbarc;
    const double j2 = (3.0 / (x * x) - 1.0) * std::sin(x) / x - 3.0 * std::cos(x) / (x * x);
    const double y2 = -(3.0 / (x * x) - 1.0) * std::cos(x) / x - 3.0 * std::sin(x) / (x * x);
    const std::complex<double> v = pw.GetPhiIncoming(r);
    EXPECT_NEAR(v.real(), x * j2, 1e-12);
    EXPECT_NEAR(v.imag(), -x * y2, 1e-12);
  }
}

// With Coulomb: incoming = e^(-i sigma)(F + iG), outgoing = e^(-i sigma)(F - iG),
// against the long-double references for F, G and sigma.
TEST(PartWave, CoulombWavesAgainstReference) {
  for (double eta : {-0.4, 0.15, 1.3})
    for (int ell : {0, 1, 3}) {
      const double q = 60.0;
      CPartWave pw(eta, 1, q, ell, 0.5);
      EXPECT_NEAR(pw.sigma, static_cast<double>(coulref::Sigma(ell, eta)), 1e-12);
      for (int i : {150, 1400, 2999}) {
        const double r = (i + 0.5) * 0.01, rho = q * r / kHbarc;
        long double f, fp;
        coulref::F(ell, eta, rho, &f, &fp);
        const double F = static_cast<double>(f), G = static_cast<double>(coulref::G(ell, eta, rho));
        const std::complex<double> e = Misc::ceiphi(-pw.sigma);
        const std::complex<double> in = pw.GetPhiIncoming(r), out = pw.GetPhiOutgoing(r);
        const double scale = std::fabs(F) + std::fabs(G);
        EXPECT_NEAR(std::abs(in - e * std::complex<double>(F, G)), 0.0, 1e-8 * scale);
        EXPECT_NEAR(std::abs(out - e * std::complex<double>(F, -G)), 0.0, 1e-8 * scale);
        EXPECT_NEAR(std::abs(0.5 * (in + out) - e * F), 0.0, 1e-8 * scale);
      }
    }
}
