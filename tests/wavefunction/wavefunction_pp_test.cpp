#include "common/child.h"
#include "common/testutil.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/planewave.h"
#include "wavefunction/wavefunction_pp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

static std::string WfPars(const std::string &name, int nqmax, double delq, double epsilon, bool strong = true) {
  static const std::string dir = ScratchDir("wavefunction_pp");
  std::ofstream(dir + "/" + name) << "int NQMAX " << nqmax << "\ndouble DELQ " << delq << "\ndouble EPSILON "
                                  << epsilon << "\nbool STRONG " << strong << "\n";
  return dir + "/" + name;
}

// Eta of the plane and partial waves: alpha (E1 E2/E)/q with E = 2 sqrt(M_p^2 + q^2).
using testutil::ProtonPairEta;
static double Delta(double phase) { return (phase - M_PI / 2) * 180.0 / M_PI; }  // phase shift in degrees

static double NoPotential(double, const char *, const char *) { return 0.0; }

TEST(WaveFunctionPP, Reid93PhaseShiftsMatchNijmegenAndCoulombReferencesAreFl) {
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
    EXPECT_NEAR(Delta(wf.phase_1S0[0]), row[1], 0.2) << row[0];
    EXPECT_NEAR(Delta(wf.phase_3P0[0]), row[2], tol_p) << row[0];
    EXPECT_NEAR(Delta(wf.phase_3P1[0]), row[3], tol_p) << row[0];
    EXPECT_NEAR(Delta(wf.phase_3C2[0]), row[4], 0.2 * row[4]) << row[0];
    // The no-strong references: no phase, and their radial solutions (left by the last q) are F_l.
    for (double phase : {wf.phase_NS[0], wf.phase_NS0[0]}) EXPECT_NEAR(phase, M_PI / 2, 1e-4) << row[0];
    for (int i : {1, 37, 250, 600, 1000})
      for (int l : {0, 1}) {
        double F, G;
        CoulWave::GetFG(l, wf.GetQ(0) * i * 0.01 / 197.3269602, ProtonPairEta(wf.GetQ(0)), &F, &G);
        EXPECT_LT(std::abs((l == 0 ? wf.u_NS0 : wf.u_NS)[i] - F), 2e-4) << row[0] << " l=" << l << " i=" << i;
      }
  }
}

TEST(WaveFunctionPP, PsiSquaredIsContinuousAtEpsilonAndHasCoulombLimits) {
  // Square wells of range 2 fm with a different depth, so a different phase, for 1S0, 3P0, 3P1 and 3P2.
  CWaveFunction_pp wf(WfPars("cont.dat", 8, 20.0, 3.0), [](double r, const char *s, const char *) {
    return r > 2.0 ? 0.0 : s[0] == '1' ? -30.0 : s[2] == '0' ? -45.0 : s[2] == '1' ? 25.0 : -15.0;
  });
  for (int iq : {0, 2, 7})
    for (double c : {-0.8, 0.0, 0.4, 1.0}) {
      const double above = wf.CalcPsiSquared(iq, 3.0 + 1e-9, c);
      EXPECT_NEAR(wf.CalcPsiSquared(iq, 3.0 - 1e-9, c), above, 1e-4 * (1.0 + above)) << wf.GetQ(iq) << " c=" << c;
    }
  // Without strong interaction: exactly the antisymmetrised Coulomb wave, |a + b|^2/8 + 3 |a - b|^2/8. With no
  // potential in the integration: every phase pi/2, and inside and outside EPSILON give that same wave.
  CWaveFunction_pp off(WfPars("off.dat", 3, 30.0, 1.0, false)), zero(WfPars("zero.dat", 3, 30.0, 4.0), &NoPotential);
  for (int iq = 0; iq < 3; ++iq) {
    for (double phase : {zero.phase_1S0[iq], zero.phase_3P0[iq], zero.phase_3P1[iq], zero.phase_3C2[iq]})
      EXPECT_NEAR(phase, M_PI / 2, 1e-4);
    const CPlaneWave pw(ProtonPairEta(off.GetQ(iq)), 1, off.GetQ(iq));
    for (double r : {0.005, 0.7, 3.0, 4.5, 12.0, 35.0})
      for (double c : {-1.0, -0.4, 0.0, 0.3, 1.0}) {
        const std::complex<double> a = pw.planewave(r, c), b = pw.planewave(r, -c);
        const double coulomb = (std::norm(a + b) + 3.0 * std::norm(a - b)) / 8.0;
        EXPECT_NEAR(off.CalcPsiSquared(iq, r, c), coulomb, 1e-12 * (1.0 + coulomb)) << "r=" << r << " c=" << c;
        EXPECT_NEAR(zero.CalcPsiSquared(iq, r, c), coulomb, 2e-4) << "r=" << r << " c=" << c;
      }
  }
}

TEST(WaveFunctionPP, EpsilonMustLieInsideTheRadialTables) {
  const ChildResult res = RunInChild([] { CWaveFunction_pp wf(WfPars("bad.dat", 2, 10.0, 10.0)); });
  EXPECT_EQ(res.status, 1);
  EXPECT_NE(res.output.find("CWaveFunction_pp: EPSILON = 10 fm must be below the integration radius rmax = 10 fm\n"),
            std::string::npos) << res.output;
}
