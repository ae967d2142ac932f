#include "wavefunction/planewave.h"

#include <gtest/gtest.h>

#include "common/child.h"
#include "tests/wavefunction/coulomb_reference.h"

using cd = std::complex<double>;

// |psi(r -> 0)|^2 is the Gamow factor 2 pi eta/(e^(2 pi eta) - 1) in every
// direction; without charge the wave is e^(i q r cos(theta)/hbarc).
TEST(PlaneWave, GamowFactorAndFreeWave) {
  for (double eta : {-1.0, -0.1, 0.02, 0.3, 2.0}) {
    CPlaneWave pw(eta, eta > 0 ? 1 : -1, 25.0);
    const double gamow = 2.0 * M_PI * eta / std::expm1(2.0 * M_PI * eta);
    for (double c : {-1.0, 0.0, 0.6}) EXPECT_NEAR(std::norm(pw.planewave(1e-6, c)), gamow, 1e-6 * gamow) << eta;
  }
  CPlaneWave free(0.0, 0, 120.0);
  for (double r : {0.0, 13.0, 250.0})
    EXPECT_NEAR(std::abs(free.planewave(r, -0.3) - std::polar(1.0, -0.3 * 120.0 * r / CPlaneWave::HBARC)), 0.0, 1e-12);
}

// M(-i eta, 1, i x): the series below |z| = 10 and, for moderate eta, the
// asymptotic form above it, against the long-double series. A series that
// does not converge is reported.
TEST(PlaneWave, KummerAgainstReference) {
  for (double eta : {-2.0, -0.5, -0.3, 0.02, 0.3, 1.0, 3.0}) {
    CPlaneWave pw(eta, 1, 30.0);
    for (double x = 0.003; x < (std::fabs(eta) <= 0.3 ? 30.0 : 10.0); x += 0.2113) {
      const cd ref(coulref::KummerM(eta, x)), h = pw.hyper(cd(0.0, -eta), 1.0, cd(0.0, x));
      EXPECT_NEAR(std::abs(h - ref), 0.0, (x < 10.0 ? 2e-5 : 5e-5) * std::abs(ref)) << eta << " " << x;
    }
  }
  EXPECT_NE(RunInChild([] { CPlaneWave pw(30.0, 1, 1.0); }).output.find("hyper not coverging!.\n"), std::string::npos);
  EXPECT_EQ(RunInChild([] { CPlaneWave pw(0.5, 1, 100.0); }).output, "");
}

// Tabulated and direct evaluation agree wherever the series converges (here x < 9.8).
TEST(PlaneWave, TableAgreesWithDirectEvaluation) {
  const double q = 40.0, k = q / CPlaneWave::HBARC;
  for (double eta : {-0.6, 0.05, 0.8}) {
    CPlaneWave pw(eta, 1, q);
    for (double r = 0.0; r < 24.0; r += 0.4177)
      for (double c : {-0.9, -0.2, 0.35, 1.0}) {
        const cd direct = std::polar(1.0, k * r * c) * std::conj(pw.cfact * cd(coulref::KummerM(eta, k * r * (1 + c))));
        EXPECT_NEAR(std::abs(pw.planewave(r, c) - direct), 0.0, 1e-4 * std::abs(direct)) << r << " " << c;
      }
  }
}
