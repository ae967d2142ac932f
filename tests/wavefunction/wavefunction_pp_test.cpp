#include "common/child.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/planewave.h"
#include "wavefunction/wavefunction_pp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

const double kHbarc = 197.3269602;

static std::string WfPars(const std::string &name, int nqmax, double delq, double epsilon, bool strong = true) {
  static const std::string dir = ScratchDir("wavefunction_pp");
  std::ofstream(dir + "/" + name) << "int NQMAX " << nqmax << "\ndouble DELQ " << delq << "\ndouble EPSILON "
                                  << epsilon << "\nbool STRONG " << (strong ? 1 : 0) << "\n";
  return dir + "/" + name;
}

// Eta of the plane and partial waves: alpha (E1 E2/E)/q with E = 2 sqrt(M_p^2 + q^2).
static double Eta(double q) { return std::sqrt(938.271 * 938.271 + q * q) / (2.0 * 137.036 * q); }
static double Delta(double phase) { return (phase - M_PI / 2) * 180.0 / M_PI; }  // phase shift in degrees

// Square wells of range 2 fm: a depth for every state, or one P-wave well for every J.
static double ToyWells(double r, const char *s, const char *) {
  return r > 2.0 ? 0.0 : s[0] == '1' ? -30.0 : s[2] == '0' ? -45.0 : s[2] == '1' ? 25.0 : -15.0;
}
static double CentralWells(double r, const char *s, const char *) { return r > 2.0 ? 0.0 : s[0] == '1' ? -30.0 : -40.0; }
static double NoPotential(double, const char *, const char *) { return 0.0; }

// |psi|^2 when one P-wave phase d1 serves every J: the spin sums collapse to |psi_s|^2/4 + 3|psi_a|^2/4, with
// the l = 0 (l = 1) term of the Coulomb wave sum_l (2l+1) i^l e^(-i sigma_l) F_l/x P_l having F_l replaced by
// e^(-i delta)(F_l cos delta + G_l sin delta). Symmetrised with 1/sqrt(2), so even l get a factor 2.
static double Reference(double q, double d0, double d1, double r, double c) {
  const double eta = Eta(q), x = q * r / kHbarc;
  const std::complex<double> ci(0.0, 1.0);
  std::complex<double> shift[2];
  for (int l = 0; l < 2; ++l) {
    const double d = l == 0 ? d0 : d1, sigma = std::arg(CoulWave::cgamma({l + 1.0, eta}));
    double F, G;
    CoulWave::GetFG(l, x, eta, &F, &G);
    shift[l] = std::exp(-ci * sigma) * (std::exp(-ci * d) * (F * std::cos(d) + G * std::sin(d)) - F) / x;
  }
  const CPlaneWave pw(eta, 1, q);
  const std::complex<double> a = pw.planewave(r, c), b = pw.planewave(r, -c);
  const std::complex<double> psis = (a + b) / std::sqrt(2.0) + std::sqrt(2.0) * shift[0];
  const std::complex<double> psia = (a - b) / std::sqrt(2.0) + std::sqrt(2.0) * 3.0 * ci * c * shift[1];
  return 0.25 * std::norm(psis) + 0.75 * std::norm(psia);
}

TEST(WaveFunctionPP, CoulombReferencesHaveNoPhaseAndAreTheRegularCoulombWaves) {
  CWaveFunction_pp wf(WfPars("ns.dat", 4, 40.0, 9.0));
  for (int iq = 0; iq < 4; ++iq) {
    EXPECT_NEAR(wf.phase_NS[iq], M_PI / 2, 1e-4) << iq;
    EXPECT_NEAR(wf.phase_NS0[iq], M_PI / 2, 1e-4) << iq;
  }
  const double q = wf.GetQ(3);  // the last mesh point integrated leaves its radial solutions: F_l
  for (int i : {1, 37, 250, 600, 1000})
    for (int l : {0, 1}) {
      double F, G;
      CoulWave::GetFG(l, q * i * 0.01 / kHbarc, Eta(q), &F, &G);
      EXPECT_LT(std::abs((l == 0 ? wf.u_NS0 : wf.u_NS)[i] - F), 2e-4) << "l=" << l << " i=" << i;
    }
  EXPECT_EQ(wf.u_NS[0], std::complex<double>(0.0, 0.0));
}

TEST(WaveFunctionPP, Reid93PhaseShiftsMatchNijmegenAnalysis) {
  // PWA93 pp phase shifts (degrees, relative to the Coulomb waves) at T_lab = 1, 5, 10, 25, 50 MeV. 3P2 is
  // integrated without its coupling to 3F2, which lowers it by about 15 %.
  const double rows[][5] = {{1, 32.684, 0.134, -0.081, 0.014},
                            {5, 54.832, 1.582, -0.902, 0.214},
                            {10, 55.219, 3.729, -2.060, 0.651},
                            {25, 48.672, 8.575, -4.932, 2.491},
                            {50, 38.899, 11.47, -8.317, 5.855}};
  for (const auto &row : rows) {
    const double q = std::sqrt(938.272 * row[0] / 2.0), tol_p = row[0] <= 10 ? 0.05 : 0.3;
    CWaveFunction_pp wf(WfPars("pwa.dat", 1, 2.0 * q, 9.0));
    ASSERT_NEAR(wf.GetQ(0), q, 1e-3);
    EXPECT_NEAR(Delta(wf.phase_1S0[0]), row[1], 0.2) << row[0];
    EXPECT_NEAR(Delta(wf.phase_3P0[0]), row[2], tol_p) << row[0];
    EXPECT_NEAR(Delta(wf.phase_3P1[0]), row[3], tol_p) << row[0];
    EXPECT_NEAR(Delta(wf.phase_3C2[0]), row[4], 0.2 * row[4]) << row[0];
  }
}

TEST(WaveFunctionPP, PsiSquaredIsContinuousAtEpsilon) {
  // Toy wells with a phase for every state, and Reid93 near the end of the tables where its tail has died out.
  for (double eps : {3.0, 9.0}) {
    CWaveFunction_pp wf(WfPars("cont.dat", 8, 20.0, eps), eps < 5 ? &ToyWells : &CWaveFunction_pp::Reid93Potential);
    for (int iq : {0, 2, 7})
      for (double c : {-0.8, 0.0, 0.4, 1.0}) {
        const double above = wf.CalcPsiSquared(iq, eps + 1e-9, c);
        EXPECT_NEAR(wf.CalcPsiSquared(iq, eps - 1e-9, c), above, 1e-4 * (1.0 + above))
            << "eps=" << eps << " q=" << wf.GetQ(iq) << " c=" << c;
      }
  }
}

TEST(WaveFunctionPP, LimitsAndShiftedCoulombWave) {
  // Without strong interaction: the antisymmetrised Coulomb wave. With no potential in the integration: every
  // phase pi/2, and inside and outside EPSILON give that same wave.
  CWaveFunction_pp off(WfPars("off.dat", 3, 30.0, 1.0, false));
  CWaveFunction_pp zero(WfPars("zero.dat", 3, 30.0, 4.0), &NoPotential);
  CWaveFunction_pp central(WfPars("central.dat", 3, 30.0, 2.5), &CentralWells);
  for (int iq = 0; iq < 3; ++iq) {
    const double q = off.GetQ(iq), d0 = central.phase_1S0[iq] - M_PI / 2, d1 = central.phase_3P1[iq] - M_PI / 2;
    for (double phase : {zero.phase_1S0[iq], zero.phase_3P0[iq], zero.phase_3P1[iq], zero.phase_3C2[iq]})
      EXPECT_NEAR(phase, M_PI / 2, 1e-4);
    for (double r : {0.005, 0.7, 3.0, 4.5, 12.0, 35.0})
      for (double c : {-1.0, -0.4, 0.0, 0.3, 1.0}) {
        const double coulomb = Reference(q, 0.0, 0.0, r, c);
        EXPECT_NEAR(off.CalcPsiSquared(iq, r, c), coulomb, 1e-12 * (1.0 + coulomb)) << "r=" << r << " c=" << c;
        EXPECT_NEAR(zero.CalcPsiSquared(iq, r, c), coulomb, 2e-4) << "r=" << r << " c=" << c;
        if (r > 2.5) {  // beyond the wells and EPSILON: the Coulomb wave with shifted l = 0, 1 terms
          EXPECT_NEAR(central.CalcPsiSquared(iq, r, c), Reference(q, d0, d1, r, c), 2e-4) << "r=" << r << " c=" << c;
        }
      }
  }
}

TEST(WaveFunctionPP, EpsilonMustLieInsideTheRadialTables) {
  const std::string pars = WfPars("bad.dat", 2, 10.0, 10.0);
  const ChildResult res = RunInChild([&] { CWaveFunction_pp wf(pars); });
  EXPECT_EQ(res.status, 1);
  EXPECT_NE(res.output.find("CWaveFunction_pp: EPSILON = 10 fm must be below the integration radius rmax = 10 fm\n"),
            std::string::npos) << res.output;
}
