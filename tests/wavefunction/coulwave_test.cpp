#include "wavefunction/coulwave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "common/child.h"
#include "tests/wavefunction/coulomb_reference.h"

namespace {

double Gamow(double eta) { return 2.0 * M_PI * eta / std::expm1(2.0 * M_PI * eta); }

}  // namespace

// F from the power series and G from the asymptotic expansion carried inward
// by Numerov's method, both in long double, over attractive and repulsive
// charges, inside and outside the turning point (including the region
// 1.2 < x < 2 eta where GSL itself only approximates).
TEST(CoulWave, FGAgreeWithIndependentReferences) {
  const double etas[] = {-2.0, -0.3, 0.0, 0.05, 0.5, 2.0, 6.0};
  const double rhos[] = {0.5, 2.0, 5.0, 11.0};
  const int ells[] = {0, 1, 3, 6};
  for (double eta : etas)
    for (double rho : rhos)
      for (int L : ells) {
        double F, G;
        CoulWave::GetFG(L, rho, eta, &F, &G);
        long double f, fp;
        coulref::F(L, eta, rho, &f, &fp);
        const double g = static_cast<double>(coulref::G(L, eta, rho));
        EXPECT_NEAR(F, static_cast<double>(f), 1e-9 * std::fabs(static_cast<double>(f))) << eta << " " << rho << " " << L;
        EXPECT_NEAR(G, g, 1e-8 * std::fabs(g)) << eta << " " << rho << " " << L;
      }
}

TEST(CoulWave, ZeroEtaGivesRiccatiBesselFunctions) {
  for (double x : {0.01, 0.3, 1.0, 4.0, 20.0, 150.0}) {
    double F, G;
    CoulWave::GetFG(0, x, 0.0, &F, &G);
    EXPECT_NEAR(F, std::sin(x), 1e-12);
    EXPECT_NEAR(G, std::cos(x), 1e-12);
    CoulWave::GetFG(1, x, 0.0, &F, &G);
    EXPECT_NEAR(F, std::sin(x) / x - std::cos(x), 1e-12 * (1.0 + 1.0 / x));
    EXPECT_NEAR(G, std::cos(x) / x + std::sin(x), 1e-12 * (1.0 + 1.0 / x));
  }
}

TEST(CoulWave, WronskianAndDerivatives) {
  for (double eta : {-3.0, -0.2, 0.0, 0.1, 1.0, 4.0, 15.0})
    for (int L : {0, 2, 5})
      for (double x = 0.05; x < 40.0; x *= 1.37) {
        double F, G, Fp, Gp;
        CoulWave::GetFGprime(L, x, eta, &F, &G, &Fp, &Gp);
        EXPECT_NEAR(Fp * G - F * Gp, 1.0, 1e-10) << eta << " " << L << " " << x;
        double F2, G2;
        CoulWave::GetFG(L, x, eta, &F2, &G2);
        EXPECT_NEAR(F2, F, 1e-9 * std::fabs(F)) << eta << " " << L << " " << x;
        EXPECT_NEAR(G2, G, 1e-9 * std::fabs(G)) << eta << " " << L << " " << x;
      }
}

// F_0(eta, x) -> C_0 x as x -> 0, with C_0^2 the Gamow factor.
TEST(CoulWave, SmallXLimitIsGamowFactor) {
  for (double eta : {-1.5, -0.1, 0.01, 0.4, 3.0}) {
    double F, G;
    const double x = 1e-7;
    CoulWave::GetFG(0, x, eta, &F, &G);
    EXPECT_NEAR(F * F / (x * x), Gamow(eta), 1e-5 * Gamow(eta)) << eta;
  }
}

TEST(CoulWave, IncomingAndOutgoingAreConjugates) {
  for (double eta : {-0.7, 0.0, 0.35})
    for (int L : {0, 2})
      for (double x : {0.2, 3.0, 17.0}) {
        const std::complex<double> in = CoulWave::CWincoming(L, x, eta), out = CoulWave::CWoutgoing(L, x, eta);
        double F, G;
        CoulWave::GetFG(L, x, eta, &F, &G);
        EXPECT_EQ(in, std::conj(out));
        EXPECT_DOUBLE_EQ((in + out).real(), 2.0 * F);
        EXPECT_DOUBLE_EQ(in.imag(), G);
      }
}

// Extreme inputs underflow and overflow inside GSL; none may end the process,
// an underflowed F is 0 and G is never NaN for x > 0.
TEST(CoulWave, ExtremeInputsNeverAbort) {
  ChildResult r = RunInChild([] {
    int bad = 0;
    for (double eta : {-60.0, -5.0, 0.0, 1e-7, 3.0, 40.0, 150.0})
      for (double x : {1e-9, 1e-3, 0.5, 5.0, 120.0, 800.0})
        for (int L : {0, 4, 30, 80}) {
          double F, G, Fp, Gp;
          CoulWave::GetFG(L, x, eta, &F, &G);
          if (!std::isfinite(F) || std::isnan(G)) ++bad;
          CoulWave::GetFGprime(L, x, eta, &F, &G, &Fp, &Gp);
          if (!std::isfinite(F) || std::isnan(G)) ++bad;
        }
    double F, G;
    CoulWave::GetFG(80, 1e-9, 0.0, &F, &G);
    if (F != 0.0) ++bad;
    std::printf("bad %d\n", bad);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "bad 0\n");
}

TEST(CoulWave, ComplexGamma) {
  using C = std::complex<double>;
  EXPECT_NEAR(std::abs(CoulWave::cgamma(C(5.0, 0.0)) - 24.0), 0.0, 1e-12);
  EXPECT_NEAR(std::abs(CoulWave::cgamma(C(0.5, 0.0)) - std::sqrt(M_PI)), 0.0, 1e-13);
  for (double y : {0.1, 1.0, 4.0}) {
    const double mod2 = std::norm(CoulWave::cgamma(C(1.0, y)));
    EXPECT_NEAR(mod2, M_PI * y / std::sinh(M_PI * y), 1e-12 * mod2);
  }
  for (C z : {C(0.3, 0.7), C(2.5, -1.2), C(-0.4, 0.9)}) {
    // Recurrence and reflection formula.
    const C g = CoulWave::cgamma(z);
    EXPECT_NEAR(std::abs(CoulWave::cgamma(z + 1.0) - z * g), 0.0, 1e-12 * std::abs(z * g));
    const C refl = g * CoulWave::cgamma(1.0 - z) * std::sin(M_PI * z);
    EXPECT_NEAR(std::abs(refl - M_PI), 0.0, 1e-11);
  }
  // The Coulomb phase against Stirling's series.
  for (int L : {0, 3})
    for (double eta : {-1.2, 0.4, 5.0}) {
      const C g = CoulWave::cgamma(C(L + 1.0, eta));
      EXPECT_NEAR(std::remainder(std::arg(g) - static_cast<double>(coulref::Sigma(L, eta)), 2.0 * M_PI), 0.0, 1e-12);
    }
}

TEST(CoulWave, PhaseShiftCorrectionScalesTangentByPenetrability) {
  // Negligible eta: nothing changes.
  double delta = 0.7, dd = 0.02;
  CoulWave::phaseshift_CoulombCorrect(2, 100.0, 1e-11, delta, dd);
  EXPECT_EQ(delta, 0.7);
  EXPECT_EQ(dd, 0.02);

  for (double eta : {-0.8, 1e-4, 0.05, 0.6, 2.5})
    for (int ell : {0, 1, 2, 4})
      for (double d0 : {0.3, -0.4, 2.0, -2.6}) {
        double C = Gamow(eta);
        for (int k = 1; k <= ell; ++k) C *= 1.0 + eta * eta / (k * k);
        double d = d0, ddq = 0.0;
        CoulWave::phaseshift_CoulombCorrect(ell, 50.0, eta, d, ddq);
        EXPECT_NEAR(std::tan(d), C * std::tan(d0), 1e-12 * (1.0 + std::fabs(C * std::tan(d0))));
        // The branch keeps the sign of cos(delta) and the result within (-pi, pi].
        EXPECT_GT(std::cos(d) * std::cos(d0), 0.0);
        EXPECT_LE(d, M_PI);
        EXPECT_GT(d, -M_PI);
      }
  // As eta -> 0 the correction goes to 1 for every l (no (l!)^2).
  double d = 0.5, ddq = 0.0;
  CoulWave::phaseshift_CoulombCorrect(2, 50.0, 1e-6, d, ddq);
  EXPECT_NEAR(d, 0.5, 1e-5);
}

// The corrected derivative against a finite difference of the corrected phase
// shift, with eta = eta0 q0/q and delta(q) = 0.3 + 0.004 q.
TEST(CoulWave, PhaseShiftCorrectionDerivative) {
  const double q0 = 40.0, h = 1e-3;
  auto corrected = [](int ell, double eta0, double q, double *dq) {
    double d = 0.3 + 0.004 * q, ddq = 0.004;
    CoulWave::phaseshift_CoulombCorrect(ell, q, eta0 * 40.0 / q, d, ddq);
    if (dq) *dq = ddq;
    return d;
  };
  for (double eta0 : {-0.5, 0.08, 0.7, 3.0})
    for (int ell : {0, 1, 3}) {
      double analytic;
      corrected(ell, eta0, q0, &analytic);
      const double numeric = (corrected(ell, eta0, q0 + h, nullptr) - corrected(ell, eta0, q0 - h, nullptr)) / (2.0 * h);
      EXPECT_NEAR(analytic, numeric, 1e-7 + 1e-6 * std::fabs(numeric)) << eta0 << " " << ell;
    }
}
