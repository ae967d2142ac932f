#include "common/child.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/planewave.h"
#include "wavefunction/wavefunction_pp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

const double kHbarc = 197.3269602;
const double kMp = 938.271;
const double kDeg = 180.0 / M_PI;

std::string WfPars(const std::string &name, int nqmax, double delq, double epsilon, bool strong = true) {
  static const std::string dir = ScratchDir("wavefunction_pp");
  const std::string path = dir + "/" + name;
  std::ofstream out(path);
  out << "int NQMAX " << nqmax << "\ndouble DELQ " << delq << "\ndouble EPSILON " << epsilon
      << "\nbool STRONG " << (strong ? 1 : 0) << "\n";
  return path;
}

// Square wells of range 2 fm, a different depth for every state.
double ToyWells(double r, const char *state, const char *) {
  if (r > 2.0) return 0.0;
  if (std::strcmp(state, "1S0") == 0) return -30.0;
  if (std::strcmp(state, "3P0") == 0) return -45.0;
  if (std::strcmp(state, "3P1") == 0) return 25.0;
  return -15.0;  // 3C2
}

// A singlet well and one P-wave well shared by every J.
double CentralWells(double r, const char *state, const char *) {
  if (r > 2.0) return 0.0;
  return std::strcmp(state, "1S0") == 0 ? -30.0 : -40.0;
}

double NoPotential(double, const char *, const char *) { return 0.0; }

// Phases as phase shifts in degrees.
double Delta(double phase) { return (phase - M_PI / 2) * kDeg; }

}  // namespace

TEST(WaveFunctionPP, CoulombReferenceHasNoPhaseAndIsTheRegularCoulombWave) {
  CWaveFunction_pp wf(WfPars("ns.dat", 4, 40.0, 9.0));
  for (int iq = 0; iq < 4; ++iq) {
    EXPECT_NEAR(wf.phase_NS[iq], M_PI / 2, 1e-4) << iq;
    EXPECT_NEAR(wf.phase_NS0[iq], M_PI / 2, 1e-4) << iq;
  }
  // The last mesh point integrated holds its radial solutions: F_l.
  const double q = wf.GetQ(3);
  const double e = std::sqrt(kMp * kMp + q * q);
  const double eta = 2.0 * e / (4.0 * 137.036 * q);  // eta of the plane and partial waves
  for (int i : {1, 37, 250, 600, 1000}) {
    const double x = q * i * 0.01 / kHbarc;
    double F0, G0, F1, G1;
    CoulWave::GetFG(0, x, eta, &F0, &G0);
    CoulWave::GetFG(1, x, eta, &F1, &G1);
    EXPECT_NEAR(wf.u_NS0[i].real(), F0, 2e-4) << i;
    EXPECT_NEAR(wf.u_NS0[i].imag(), 0.0, 2e-4) << i;
    EXPECT_NEAR(wf.u_NS[i].real(), F1, 2e-4) << i;
    EXPECT_NEAR(wf.u_NS[i].imag(), 0.0, 2e-4) << i;
  }
  EXPECT_EQ(wf.u_NS[0], std::complex<double>(0.0, 0.0));
}

TEST(WaveFunctionPP, Reid93PhaseShiftsMatchNijmegenAnalysis) {
  // Nijmegen PWA93 pp phase shifts (degrees, relative to the Coulomb waves)
  // at T_lab = 1, 5, 10, 25, 50 MeV. 3P2 is integrated without its coupling
  // to 3F2, so it is compared at low energy only and more loosely.
  struct Row {
    double tlab, s0, p0, p1, p2;
  };
  const Row rows[] = {{1, 32.684, 0.134, -0.081, 0.014},
                      {5, 54.832, 1.582, -0.902, 0.214},
                      {10, 55.219, 3.729, -2.060, 0.651},
                      {25, 48.672, 8.575, -4.932, 2.491},
                      {50, 38.899, 11.47, -8.317, 5.855}};
  for (const Row &row : rows) {
    const double q = std::sqrt(938.272 * row.tlab / 2.0);  // q^2 = M_p T_lab/2
    CWaveFunction_pp wf(WfPars("pwa.dat", 1, 2.0 * q, 9.0));
    ASSERT_NEAR(wf.GetQ(0), q, 1e-3);
    const double tol_p = row.tlab <= 10 ? 0.05 : 0.3;
    EXPECT_NEAR(Delta(wf.phase_1S0[0]), row.s0, 0.2) << row.tlab;
    EXPECT_NEAR(Delta(wf.phase_3P0[0]), row.p0, tol_p) << row.tlab;
    EXPECT_NEAR(Delta(wf.phase_3P1[0]), row.p1, tol_p) << row.tlab;
    if (row.tlab <= 10) {
      EXPECT_NEAR(Delta(wf.phase_3C2[0]), row.p2, 0.1) << row.tlab;
    }
  }
}

TEST(WaveFunctionPP, InsideAndOutsideFormulasAgreeBeyondTheRange) {
  // Wells of range 2 fm: beyond 2 fm the radial tables (inside formula) and
  // the phase shifts (outside formula) describe the same wave.
  const std::string pars_in = WfPars("in.dat", 4, 30.0, 9.5);
  const std::string pars_out = WfPars("out.dat", 4, 30.0, 0.01);
  CWaveFunction_pp in(pars_in, &ToyWells);
  CWaveFunction_pp out(pars_out, &ToyWells);
  EXPECT_GT(std::fabs(Delta(in.phase_3P0[3])), 1.0);
  EXPECT_GT(std::fabs(Delta(in.phase_3P1[3])), 1.0);
  for (int iq = 0; iq < 4; ++iq) {
    EXPECT_GT(std::fabs(Delta(in.phase_1S0[iq])), 5.0) << "the wells must scatter";
    for (double r : {2.5, 3.33, 5.0, 7.71, 9.2})
      for (double c : {-0.95, -0.3, 0.0, 0.6, 1.0}) {
        const double v = out.CalcPsiSquared(iq, r, c);
        EXPECT_NEAR(in.CalcPsiSquared(iq, r, c), v, 1e-4 * (1.0 + v))
            << "q=" << in.GetQ(iq) << " r=" << r << " c=" << c;
      }
  }
}

TEST(WaveFunctionPP, PsiSquaredIsContinuousAtEpsilon) {
  // Toy wells inside their range and Reid93 near the end of the tables,
  // where its tail has died out.
  for (int which = 0; which < 2; ++which) {
    const double eps = which == 0 ? 3.0 : 9.0;
    const std::string pars = WfPars("cont.dat", 8, 20.0, eps);
    std::unique_ptr<CWaveFunction_pp> wf =
        which == 0 ? std::make_unique<CWaveFunction_pp>(pars, &ToyWells) : std::make_unique<CWaveFunction_pp>(pars);
    for (int iq : {0, 2, 7})
      for (double c : {-0.8, 0.0, 0.4, 1.0}) {
        const double below = wf->CalcPsiSquared(iq, eps - 1e-9, c);
        const double above = wf->CalcPsiSquared(iq, eps + 1e-9, c);
        // One table step changes |psi|^2 by up to a few 1e-3 here.
        EXPECT_NEAR(below, above, 1e-4 * (1.0 + above)) << "eps=" << eps << " q=" << wf->GetQ(iq) << " c=" << c;
      }
  }
}

TEST(WaveFunctionPP, OutsideFormulaIsTheCoulombWaveWithShiftedPartialWaves) {
  // With one P-wave phase for every J the spin sums collapse: |psi|^2 =
  // |psi_s'|^2/4 + 3|psi_a'|^2/4, where the l = 0 (l = 1) term of the Coulomb
  // wave sum_l (2l+1) i^l e^(-i sigma_l) F_l/x P_l gets F_l replaced by
  // e^(-i delta)(F_l cos delta + G_l sin delta).
  CWaveFunction_pp wf(WfPars("central.dat", 3, 40.0, 2.5), &CentralWells);
  const std::complex<double> ci(0.0, 1.0);
  for (int iq = 0; iq < 3; ++iq) {
    const double q = wf.GetQ(iq);
    ASSERT_NEAR(wf.phase_3P0[iq], wf.phase_3P1[iq], 1e-12);
    const double e = std::sqrt(kMp * kMp + q * q);
    const double eta = 2.0 * e / (4.0 * 137.036 * q);  // q1q2 alpha (E1 E2/E)/q
    CPlaneWave pw(eta, 1, q);
    const double d0 = wf.phase_1S0[iq] - M_PI / 2, d1 = wf.phase_3P1[iq] - M_PI / 2;
    for (double r : {3.0, 6.5, 14.0})
      for (double c : {-0.7, 0.1, 0.9}) {
        const double x = q * r / kHbarc;
        double F0, G0, F1, G1;
        CoulWave::GetFG(0, x, eta, &F0, &G0);
        CoulWave::GetFG(1, x, eta, &F1, &G1);
        const double sigma0 = std::arg(CoulWave::cgamma({1.0, eta}));
        const double sigma1 = std::arg(CoulWave::cgamma({2.0, eta}));
        const std::complex<double> shift0 =
            std::exp(-ci * sigma0) * (std::exp(-ci * d0) * (F0 * std::cos(d0) + G0 * std::sin(d0)) - F0) / x;
        const std::complex<double> shift1 =
            std::exp(-ci * sigma1) * (std::exp(-ci * d1) * (F1 * std::cos(d1) + G1 * std::sin(d1)) - F1) / x;
        const std::complex<double> a = pw.planewave(r, c), b = pw.planewave(r, -c);
        // Symmetrised and antisymmetrised with 1/sqrt(2): even l get a factor 2.
        const std::complex<double> psis = (a + b) / std::sqrt(2.0) + std::sqrt(2.0) * shift0;
        const std::complex<double> psia = (a - b) / std::sqrt(2.0) + std::sqrt(2.0) * 3.0 * ci * c * shift1;
        EXPECT_NEAR(wf.CalcPsiSquared(iq, r, c), 0.25 * std::norm(psis) + 0.75 * std::norm(psia), 2e-4)
            << "q=" << q << " r=" << r << " c=" << c;
      }
  }
}

TEST(WaveFunctionPP, WithoutStrongInteractionItIsTheAntisymmetrisedCoulombWave) {
  CWaveFunction_pp off(WfPars("off.dat", 3, 30.0, 1.0, false));
  CWaveFunction_pp zero(WfPars("zero.dat", 3, 30.0, 4.0), &NoPotential);
  for (int iq = 0; iq < 3; ++iq) {
    const double q = off.GetQ(iq);
    const double e = std::sqrt(kMp * kMp + q * q);
    CPlaneWave pw(2.0 * e / (4.0 * 137.036 * q), 1, q);
    // No potential in the integration: every phase is pi/2, every S is 1.
    for (double phase : {zero.phase_1S0[iq], zero.phase_3P0[iq], zero.phase_3P1[iq], zero.phase_3C2[iq]})
      EXPECT_NEAR(phase, M_PI / 2, 1e-4);
    for (double r : {0.005, 0.7, 3.0, 4.5, 12.0, 35.0})
      for (double c : {-1.0, -0.4, 0.0, 0.3, 1.0}) {
        const std::complex<double> a = pw.planewave(r, c), b = pw.planewave(r, -c);
        const double expected = 0.25 * std::norm(a + b) / 2.0 + 0.75 * std::norm(a - b) / 2.0;
        EXPECT_NEAR(off.CalcPsiSquared(iq, r, c), expected, 1e-12 * (1.0 + expected));
        EXPECT_NEAR(zero.CalcPsiSquared(iq, r, c), expected, 2e-4) << "r=" << r << " c=" << c;
      }
    // Perpendicular to q the antisymmetric part vanishes.
    const std::complex<double> a = pw.planewave(2.0, 0.0);
    EXPECT_NEAR(off.CalcPsiSquared(iq, 2.0, 0.0), 0.25 * 2.0 * std::norm(a), 1e-12);
  }
}

TEST(WaveFunctionPP, IdenticalProtonsGiveAnEvenFunctionOfCosTheta) {
  CWaveFunction_pp wf(WfPars("even.dat", 2, 50.0, 6.0));
  for (int iq = 0; iq < 2; ++iq)
    for (double r : {0.0, 0.004, 0.6, 1.3, 5.999, 6.0, 11.0})
      for (double c : {0.1, 0.55, 0.97}) {
        const double v = wf.CalcPsiSquared(iq, r, c);
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_GE(v, 0.0);
        EXPECT_NEAR(v, wf.CalcPsiSquared(iq, r, -c), 1e-9 * (1.0 + v));
      }
}

TEST(WaveFunctionPP, MeshFromFileUsesItsOwnMomenta) {
  static const std::string dir = ScratchDir("wavefunction_pp_mesh");
  std::ofstream(dir + "/q.dat") << "2\n30 75\n";
  std::ofstream(dir + "/wf.dat") << "int NQMAX 2\ndouble DELQ -1\ndouble EPSILON 9\nstring QARRAYFILENAME "
                                 << dir << "/q.dat\n";
  CWaveFunction_pp file(dir + "/wf.dat");
  CWaveFunction_pp uniform(WfPars("uniform.dat", 1, 60.0, 9.0));
  EXPECT_EQ(file.GetQ(0), 30.0);
  EXPECT_DOUBLE_EQ(file.phase_1S0[0], uniform.phase_1S0[0]);
  EXPECT_DOUBLE_EQ(file.CalcPsiSquared(0, 1.7, 0.3), uniform.CalcPsiSquared(0, 1.7, 0.3));
}

TEST(WaveFunctionPP, EpsilonMustLieInsideTheRadialTables) {
  const std::string pars = WfPars("bad.dat", 2, 10.0, 10.0);
  ChildResult res = RunInChild([&] { CWaveFunction_pp wf(pars); });
  EXPECT_EQ(res.status, 1);
  EXPECT_NE(res.output.find("EPSILON = 10 fm must be below the integration radius rmax = 10 fm"),
            std::string::npos)
      << res.output;
}
