#include "wavefunction/planewave.h"

#include <gtest/gtest.h>

#include "common/child.h"
#include "tests/wavefunction/coulomb_reference.h"

using cd = std::complex<double>;

// |psi(r -> 0)|^2 is the Gamow factor 2 pi eta/(e^(2 pi eta) - 1) in every
// direction. M(-i eta, 1, i x) against the long-double series: the series
// below |z| = 10 and, for moderate eta, the asymptotic form above it. The
// tabulated wave agrees with e^(ikr c) conj(cfact M(-i eta, 1, i kr(1 + c))),
// cfact = e^(-pi eta/2) Gamma(1 + i eta), wherever the series converges
// (here kr(1 + c) < 9.5). A series that does not converge is reported.
TEST(PlaneWave, GamowKummerAndTableAgainstReferences) {
  const double q = 30.0, k = q / CPlaneWave::HBARC;
  for (double eta : {-2.0, -0.5, -0.3, 0.02, 0.3, 1.0, 3.0}) {
    CPlaneWave pw(eta, 1, q);
    const double gamow = 2.0 * M_PI * eta / std::expm1(2.0 * M_PI * eta);
    const cd cfact = std::polar(std::sqrt(gamow), double(coulref::Sigma(0, eta)));
    for (double c : {-1.0, 0.0, 0.6}) EXPECT_NEAR(std::norm(pw.planewave(1e-7, c)), gamow, 1e-6 * gamow) << eta;
    for (double x = 0.003; x < (std::fabs(eta) <= 0.3 ? 30.0 : 10.0); x += 0.2113) {
      const cd ref(coulref::KummerM(eta, x)), h = pw.hyper(cd(0.0, -eta), 1.0, cd(0.0, x));
      EXPECT_NEAR(std::abs(h - ref), 0.0, (x < 10.0 ? 2e-5 : 5e-5) * std::abs(ref)) << eta << " " << x;
    }
    for (double r = 0.0; r < 31.0; r += 0.4177)
      for (double c : {-0.9, 0.35, 1.0}) {
        const cd direct = std::polar(1.0, k * r * c) * std::conj(cfact * cd(coulref::KummerM(eta, k * r * (1 + c))));
        EXPECT_NEAR(std::abs(pw.planewave(r, c) - direct), 0.0, 2e-4 * std::abs(direct)) << eta << " " << r << " " << c;
      }
  }
  // eta = 30 needs about 150 terms at x = 10 and converges; at eta = 1e6 the
  // series leaves the double range there.
  EXPECT_EQ(RunInChild([] { CPlaneWave pw(30.0, 1, 1.0); }).output.find("hyper not coverging!.\n"), std::string::npos);
  EXPECT_NE(RunInChild([] { CPlaneWave pw(1e6, 1, 1.0); }).output.find("hyper not coverging!.\n"), std::string::npos);
}
