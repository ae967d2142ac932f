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
  // eta = 30 needs about 150 terms at x = 10 and converges; with a = -1e6 i
  // the series leaves the double range there.
  EXPECT_EQ(RunInChild([] { CPlaneWave pw(30.0, 1, 1.0); }).output.find("hyper not coverging!.\n"), std::string::npos);
  EXPECT_NE(RunInChild([] { CPlaneWave(30.0, 1, 1.0).hyper(cd(0.0, -1e6), 1.0, cd(0.0, 10.0)); })
                .output.find("hyper not coverging!.\n"),
            std::string::npos);
}

// Protons at q = 1, 0.3, 0.03 and 0.01 MeV/c (eta = 3.4 ... 342): Kummer's
// series to full precision with the hundreds of terms large eta x needs, the
// table (step 0.01/eta) within 2e-5 of the direct wave to r = 60 fm, and the
// wave scaled by C_0 = |cfact| of modulus 1 at r = 0, where the wave itself is
// C_0 (1e-465 at eta = 342: 0).
TEST(PlaneWave, ProtonsBelowOneMeVScaledWaveAndTable) {
  for (double eta : {3.4, 11.4, 114.0, 342.0}) {
    const double q = 938.271 / (2.0 * 137.036 * eta), k = q / CPlaneWave::HBARC;
    const CPlaneWave pw(eta, 1, q);
    const coulref::ld logC0 = 0.5L * std::log(2.0L * coulref::kPi * eta / std::expm1(2.0L * coulref::kPi * eta));
    EXPECT_NEAR(pw.lognorm, double(logC0), 1e-12 * std::fabs(double(logC0)));
    for (double y : {0.02, 1.0, 30.0, 2000.0}) {  // eta x, in the series region x < max(10, eta)
      if (y >= eta * std::max(10.0, eta)) continue;
      const cd ref(coulref::KummerM(eta, y / eta)), h = pw.hyper(cd(0.0, -eta), 1.0, cd(0.0, y / eta));
      EXPECT_NEAR(std::abs(h - ref), 0.0, 1e-12 * std::abs(ref)) << eta << " " << y;
    }
    const cd cphase = std::polar(1.0, double(coulref::Sigma(0, eta)));
    for (double c : {-1.0, 0.35, 1.0}) {
      EXPECT_NEAR(std::norm(pw.planewave_scaled(1e-9, c)), 1.0, 1e-9);
      for (double r = 0.2; r < 60.0; r += 1.37) {
        const cd direct = std::polar(1.0, k * r * c) * std::conj(cphase * cd(coulref::KummerM(eta, k * r * (1 + c))));
        const cd scaled = pw.planewave_scaled(r, c), wave = pw.planewave(r, c);
        EXPECT_NEAR(std::abs(scaled - direct), 0.0, 2e-5 * std::abs(direct)) << eta << " " << r << " " << c;
        if (eta < 200.0)
          EXPECT_NEAR(std::abs(wave - std::exp(pw.lognorm) * scaled), 0.0, 1e-12 * std::abs(wave));
        else
          EXPECT_EQ(wave, cd(0.0, 0.0));
      }
    }
  }
}
