#include "wavefunction/planewave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>

#include "common/child.h"
#include "math/sphericalharmonics.h"
#include "wavefunction/partwave.h"
#include "tests/wavefunction/coulomb_reference.h"

namespace {
const double kHbarc = 197.3269602;
using cd = std::complex<double>;

cd Reference(double eta, double x) {
  const coulref::cld m = coulref::KummerM(eta, x);
  return {static_cast<double>(m.real()), static_cast<double>(m.imag())};
}
}  // namespace

TEST(PlaneWave, FreeWaveHasUnitModulus) {
  CPlaneWave pw(0.0, 0, 120.0);
  for (double r : {0.0, 0.7, 13.0, 250.0})
    for (double c : {-1.0, -0.3, 0.0, 0.8, 1.0}) {
      const cd v = pw.planewave(r, c);
      EXPECT_NEAR(std::abs(v), 1.0, 1e-14);
      EXPECT_NEAR(std::arg(v * std::exp(cd(0.0, -120.0 * r * c / kHbarc))), 0.0, 1e-12);
    }
}

TEST(PlaneWave, TableSize) {
  EXPECT_EQ(CPlaneWave(0.1, 1, 30.0).nxmax, 1000);  // x reaches 10 at least
  CPlaneWave big(0.01, 1, 200.0);                    // xmax = 30.4
  EXPECT_GE((big.nxmax + 0.5) * big.delx, 200.0 * 30.0 / kHbarc);
  EXPECT_EQ(static_cast<int>(big.hyperarray.size()), big.nxmax + 1);
}

// |psi(r -> 0)|^2 is the Gamow factor 2 pi eta/(e^(2 pi eta) - 1), for every direction.
TEST(PlaneWave, DensityAtOriginIsGamowFactor) {
  for (double eta : {-1.0, -0.1, 0.02, 0.3, 2.0}) {
    CPlaneWave pw(eta, eta > 0 ? 1 : -1, 25.0);
    const double gamow = 2.0 * M_PI * eta / std::expm1(2.0 * M_PI * eta);
    EXPECT_NEAR(std::norm(pw.cfact), gamow, 1e-12 * gamow);
    for (double c : {-1.0, 0.0, 0.6}) EXPECT_NEAR(std::norm(pw.planewave(1e-6, c)), gamow, 1e-6 * gamow) << eta;
  }
}

// Kummer's M(-i eta, 1, i x) from the series branch against the long-double series.
TEST(PlaneWave, KummerSeriesAgainstReference) {
  for (double eta : {-2.0, -0.5, 0.01, 0.3, 1.0, 3.0}) {
    CPlaneWave pw(eta, 1, 30.0);
    for (double x = 0.003; x < 10.0; x += 0.2113) {
      const cd ref = Reference(eta, x);
      const cd h = pw.hyper(cd(0.0, -eta), 1.0, cd(0.0, x));
      EXPECT_NEAR(std::abs(h - ref), 0.0, 2e-5 * std::abs(ref)) << eta << " " << x;
    }
  }
}

// The large-|z| form against the series where both hold (moderate eta, |z| >= 10).
TEST(PlaneWave, AsymptoticFormAgainstSeries) {
  for (double eta : {-0.3, 0.02, 0.1, 0.3}) {
    CPlaneWave pw(eta, 1, 30.0);
    for (double x = 10.0; x < 30.0; x += 0.77) {
      const cd ref = Reference(eta, x);
      const cd h = pw.hyper(cd(0.0, -eta), 1.0, cd(0.0, x));
      EXPECT_NEAR(std::abs(h - ref), 0.0, 5e-5 * std::abs(ref)) << eta << " " << x;
    }
    // The two forms meet at |z| = 10.
    const cd below = pw.hyper(cd(0.0, -eta), 1.0, cd(0.0, 10.0 - 1e-9));
    const cd above = pw.hyper(cd(0.0, -eta), 1.0, cd(0.0, 10.0));
    EXPECT_NEAR(std::abs(below - above), 0.0, 5e-5 * std::abs(below));
  }
}

// Tabulated and direct evaluation agree wherever the series converges.
TEST(PlaneWave, TableAgreesWithDirectEvaluation) {
  for (double eta : {-0.6, 0.05, 0.8}) {
    const double q = 40.0;
    CPlaneWave pw(eta, 1, q);
    for (double r = 0.0; r < 24.0; r += 0.4177)
      for (double c : {-0.9, -0.2, 0.35, 1.0}) {
        const double x = q * r * (1.0 + c) / kHbarc;
        if (x >= 10.0) continue;
        const cd direct = std::exp(cd(0.0, q * r * c / kHbarc)) * std::conj(pw.cfact * Reference(eta, x));
        EXPECT_NEAR(std::abs(pw.planewave(r, c) - direct), 0.0, 1e-4 * std::abs(direct)) << eta << " " << r << " " << c;
      }
    // Across x = delx the table and the direct series join.
    const double r1 = 0.01 * kHbarc / (2.0 * q);
    const cd a = pw.planewave(r1 * (1.0 - 1e-9), 1.0), b = pw.planewave(r1 * (1.0 + 1e-9), 1.0);
    EXPECT_NEAR(std::abs(a - b), 0.0, 1e-5 * std::abs(a));
  }
}

// The Coulomb wave is the partial-wave sum sum_l (2l+1) i^l e^(-i sigma_l) F_l/rho P_l(c).
// For the low orders e^(-i sigma_l) F_l is taken as half the sum of the incoming
// and outgoing partial waves; for the high ones, where G is huge, from F directly.
TEST(PlaneWave, PartialWaveExpansion) {
  const double q = 50.0, eta = 0.4;
  CPlaneWave pw(eta, 1, q);
  const int lmax = 30, lwaves = 4;
  std::vector<CPartWave> waves;
  for (int l = 0; l <= lwaves; ++l) waves.emplace_back(eta, 1, q, l, 0.0, 1000, 0.01);
  for (int i : {150, 420, 799})
    for (double c : {-0.8, 0.1, 0.9}) {
      const double r = (i + 0.5) * 0.01, rho = q * r / kHbarc;
      cd sum = 0.0, il = 1.0;
      for (int l = 0; l <= lmax; ++l) {
        cd regular;
        if (l <= lwaves) {
          regular = 0.5 * (waves[l].phi[i] + waves[l].GetPhiOutgoing(r));
        } else {
          long double f, fp;
          coulref::F(l, eta, rho, &f, &fp);
          regular = std::exp(cd(0.0, -static_cast<double>(coulref::Sigma(l, eta)))) * static_cast<double>(f);
        }
        sum += (2.0 * l + 1.0) * il * regular / rho * SpherHarmonics::legendre(l, c);
        il *= cd(0.0, 1.0);
      }
      EXPECT_NEAR(std::abs(pw.planewave(r, c) - sum), 0.0, 2e-5 * std::abs(sum)) << r << " " << c;
    }
}

TEST(PlaneWave, NonConvergedSeriesIsReported) {
  ChildResult r = RunInChild([] { CPlaneWave pw(30.0, 1, 1.0); });
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("hyper not coverging!.\n"), std::string::npos);
  ChildResult quiet = RunInChild([] { CPlaneWave pw(0.5, 1, 100.0); });
  EXPECT_EQ(quiet.output, "");
}
