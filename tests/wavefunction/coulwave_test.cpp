#include "wavefunction/coulwave.h"

#include <gtest/gtest.h>

#include "tests/wavefunction/coulomb_reference.h"

// F and G against the long-double references, including 1.2 < x < 2 eta where
// GSL itself only approximates; the derivatives through F'G - FG' = 1. Extreme
// inputs make GSL underflow or overflow, which must not abort the program;
// an underflowed F is 0.
TEST(CoulWave, FGAgainstReferencesAndExtremes) {
  double F, G, Fp, Gp, F2, G2;
  for (double eta : {-2.0, -0.3, 0.0, 0.05, 0.5, 2.0, 6.0, 15.0})
    for (double rho : {0.5, 2.0, 5.0, 11.0})
      for (int L : {0, 1, 3, 6}) {
        CoulWave::GetFG(L, rho, eta, &F, &G);
        const double f = coulref::F(L, eta, rho), g = coulref::G(L, eta, rho);
        EXPECT_NEAR(F, f, 1e-9 * std::fabs(f)) << eta << " " << rho << " " << L;
        EXPECT_NEAR(G, g, 1e-8 * std::fabs(g)) << eta << " " << rho << " " << L;
        CoulWave::GetFGprime(L, rho, eta, &F, &G, &Fp, &Gp);
        EXPECT_NEAR(Fp * G - F * Gp, 1.0, 1e-10) << eta << " " << rho << " " << L;
      }
  for (double eta : {-60.0, -5.0, 0.0, 1e-7, 3.0, 40.0, 150.0})
    for (double x : {1e-9, 1e-3, 0.5, 5.0, 120.0, 800.0})
      for (int L : {0, 4, 30, 80}) {
        CoulWave::GetFGprime(L, x, eta, &F, &G, &Fp, &Gp);
        CoulWave::GetFG(L, x, eta, &F2, &G2);
        EXPECT_TRUE(std::isfinite(F + F2) && !std::isnan(G + G2)) << eta << " " << x << " " << L;
      }
  CoulWave::GetFG(80, 1e-9, 0.0, &F, &G);
  EXPECT_EQ(F, 0.0);
}

// tan(delta) scales by C_0^2 prod_k (1 + eta^2/k^2) (C_0^2 the Gamow factor),
// which goes to 1 with eta, on delta's own branch; the derivative against a
// finite difference.
TEST(CoulWave, PhaseShiftCorrection) {
  // Corrected delta(q) = d0 + 0.004 (q - 40) with eta = eta0 40/q; its slope in *dq.
  auto corrected = [](int ell, double eta0, double d0, double q, double *dq) {
    double d = d0 + 0.004 * (q - 40.0);
    *dq = 0.004;
    CoulWave::phaseshift_CoulombCorrect(ell, q, eta0 * 40.0 / q, d, *dq);
    return d;
  };
  for (double eta : {-0.8, 1e-4, 0.05, 0.6, 2.5})
    for (int ell : {0, 1, 2, 4}) {
      double C = 2.0 * M_PI * eta / std::expm1(2.0 * M_PI * eta), dq, unused;
      for (int k = 1; k <= ell; ++k) C *= 1.0 + eta * eta / (k * k);
      for (double d0 : {0.3, -0.4, 2.0, -2.6}) {
        const double d = corrected(ell, eta, d0, 40.0, &dq), t = C * std::tan(d0);
        EXPECT_NEAR(std::tan(d), t, 1e-12 * (1.0 + std::fabs(t)));
        EXPECT_TRUE(std::cos(d) * std::cos(d0) > 0.0 && d > -M_PI && d <= M_PI);
        const double up = corrected(ell, eta, d0, 40.001, &unused), down = corrected(ell, eta, d0, 39.999, &unused);
        EXPECT_NEAR(dq, (up - down) / 0.002, 1e-7 + 1e-6 * std::fabs(dq)) << eta << " " << ell << " " << d0;
      }
    }
}
