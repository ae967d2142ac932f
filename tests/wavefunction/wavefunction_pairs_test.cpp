// The proton-K+, proton-pi+, pi+pi- and neutron-neutron wave functions:
// table lookup, pi pi phase shifts, limits without the strong interaction or
// with zero phases, positivity on the shipped settings, errors and messages.
#include "common/testutil.h"
#include "config/fatal.h"
#include "config/output.h"
#include "common/child.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/phase_interpolation.h"
#include "wavefunction/planewave.h"
#include "wavefunction/wavefunction_nn.h"
#include "wavefunction/wavefunction_pairs.h"
#include "wavefunction/wavefunction_pipluspiminus.h"
#include "wavefunction/wavefunction_pkplus.h"
#include "wavefunction/wavefunction_ppiplus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>

namespace {

using Pipi = CWaveFunction_pipluspiminus;

std::string WritePairsFile(const std::string &name, const std::string &text) {
  static const std::string dir = ScratchDir("wavefunction_pairs");
  return testutil::WriteTextIn(dir, name, text);
}

std::string PairPars(const std::string &name, int nqmax, double delq, double epsilon, bool strong,
                     bool coulomb = true) {
  return WritePairsFile(name, "int NQMAX " + std::to_string(nqmax) + "\ndouble DELQ " + std::to_string(delq) +
                             "\ndouble EPSILON " + std::to_string(epsilon) + "\nbool STRONG " +
                             std::to_string(strong) + "\nbool COULOMB " + std::to_string(coulomb) + "\n");
}

// Silences the construction printouts of a test.
// A pair with every phase shift and derivative set to zero afterwards.
template <class WF>
struct ZeroPhases : WF {
  explicit ZeroPhases(const std::string &pars) : WF(pars) {
    for (auto *table : {&this->delta, &this->ddeltadq})
      for (auto &row : *table) std::fill(row.begin(), row.end(), 0.0);
    this->FillWepsilon();
    this->UpdateFactors();
  }
};

// The Coulomb forms without strong interaction: |A|^2 for the non-identical
// pairs, the antisymmetrised spin average for nn. q1q2 and eta from the object.
double CoulombForm(const CWaveFunction &wf, bool identical, int iq, double r, double c) {
  const CPlaneWave pw(wf.GetEta(iq), wf.GetQ1Q2(), wf.GetQ(iq));
  const std::complex<double> a = pw.planewave(r, c), b = pw.planewave(r, -c);
  return identical ? (std::norm(a + b) + 3.0 * std::norm(a - b)) / 8.0 : std::norm(a);
}

}  // namespace

TEST(PairWaveFunctions, TableLookupOnTheHalfMeVGrid) {
  testutil::QuietOutput quiet;
  // Grid points, both halves of a grid interval, the last grid point and beyond it.
  const std::string qfile = WritePairsFile("qmesh.dat", "6\n10 10.25 10.75 199.75 200 200.5\n");
  CWaveFunction_nn nn(WritePairsFile("nnmesh.dat", "double DELQ -1\nstring QARRAYFILENAME " + qfile + "\n"));
  const auto t = femtokit::phaseshifts::NNTable();
  for (int c = 0; c < 4; c++) {
    const double *d = t.delta + c * t.npoints, *dp = t.ddeltadq + c * t.npoints;
    EXPECT_EQ(nn.GetDelta(c, 0), d[20]);
    EXPECT_EQ(nn.GetDdeltadq(c, 0), dp[20]);
    // Between grid points: the phase-and-slope interpolation, close to the
    // mean of the two points. 10.75 MeV/c lies between 10.5 and 11 (not
    // extrapolated from 10 and 10.5).
    double v, s;
    for (int iq : {1, 2, 3}) {
      const int n = static_cast<int>(2 * nn.GetQ(iq));
      femtokit::phaseshifts::InterpolatePhase(nn.GetEll(c), nn.GetQ(iq), 0.5 * n, d[n], dp[n], 0.5 * (n + 1), d[n + 1],
                                              dp[n + 1], &v, &s);
      EXPECT_EQ(nn.GetDelta(c, iq), v);
      EXPECT_EQ(nn.GetDdeltadq(c, iq), s);
      EXPECT_NEAR(v, 0.5 * (d[n] + d[n + 1]), 0.02 * std::fabs(d[n + 1] - d[n]) + 1e-10);
    }
    EXPECT_EQ(nn.GetDelta(c, 4), d[400]);
    EXPECT_EQ(nn.GetDelta(c, 5), 0.0);
    EXPECT_EQ(nn.GetDdeltadq(c, 5), 0.0);
  }
  // pK+ (without Coulomb, so the table phases themselves): the first mesh point
  // from the table like the others; beyond 350 MeV/c nothing.
  CWaveFunction_pkplus pk(PairPars("pk.dat", 180, 2.0, 1.0, true, false));  // 1, 3, ..., 359
  const auto tk = femtokit::phaseshifts::PKplusTable();
  for (int c = 0; c < 3; c++) {
    EXPECT_EQ(pk.GetDelta(c, 0), tk.delta[c * tk.npoints + 2]);  // q = 1
    EXPECT_EQ(pk.GetDdeltadq(c, 0), tk.ddeltadq[c * tk.npoints + 2]);
    EXPECT_EQ(pk.GetDelta(c, 1), tk.delta[c * tk.npoints + 6]);  // q = 3
    EXPECT_EQ(pk.GetDelta(c, 175), 0.0);                         // q = 351
  }
  // With Coulomb the phases are the Coulomb-corrected table values.
  CWaveFunction_pkplus pkc(PairPars("pkc.dat", 3, 4.0, 1.0, true));  // 2, 6, 10
  double d = tk.delta[12], dp = tk.ddeltadq[12];                  // q = 6
  CoulWave::phaseshift_CoulombCorrect(0, 6.0, pkc.GetEta(1), d, dp);
  EXPECT_EQ(pkc.GetDelta(0, 1), d);
  EXPECT_EQ(pkc.GetDdeltadq(0, 1), dp);
  EXPECT_LT(std::fabs(d), 0.5 * std::fabs(tk.delta[12]));  // the repulsion suppresses it at 6 MeV/c
}

TEST(PairWaveFunctions, PiPiPhaseShiftsAndTheirDerivatives) {
  double d = -1.0, dp = -1.0;
  Pipi::getphaseshift_pipi(0, 0, 0.01, &d, &dp);
  EXPECT_NEAR(d, 0.0014615274394612406 * 0.01, 1e-4 * d);
  // Every derivative is that of its phase (for (0, 2) the mended formula:
  // the old one was off by 71 % at 800 MeV/c). Central differences over 0.02
  // MeV/c. The rho is averaged over a step that shrinks with q below 20 MeV/c,
  // where its difference quotient departs slightly from the slope.
  const int channels[5][2] = {{0, 0}, {0, 2}, {1, 1}, {2, 0}, {2, 2}};
  for (const auto &ch : channels)
    for (double q : {5.0, 60.0, 300.0, 421.0, 800.0}) {
      double dl, dh, dpl, dph;
      Pipi::getphaseshift_pipi(ch[0], ch[1], q, &d, &dp);
      Pipi::getphaseshift_pipi(ch[0], ch[1], q - 0.01, &dl, &dpl);
      Pipi::getphaseshift_pipi(ch[0], ch[1], q + 0.01, &dh, &dph);
      const double tol = ch[0] == 1 && q < 20.0 ? 5e-3 : 2e-4;
      EXPECT_NEAR((dh - dl) / 0.02, dp, tol * std::fabs(dp) + 1e-12) << "I=" << ch[0] << " l=" << ch[1] << " q=" << q;
    }
  // The I = 0 S wave passes pi/2 continuously (D = 0 near 422 MeV/c).
  Pipi::getphaseshift_pipi(0, 0, 420.0, &d, &dp);
  EXPECT_LT(d, M_PI / 2);
  Pipi::getphaseshift_pipi(0, 0, 425.0, &d, &dp);
  EXPECT_GT(d, M_PI / 2);
  // Higher l: zero; I > 2: nothing written; odd l + I: fatal.
  Pipi::getphaseshift_pipi(1, 3, 100.0, &d, &dp);
  EXPECT_EQ(d, 0.0);
  d = dp = 7.0;
  Pipi::getphaseshift_pipi(3, 1, 100.0, &d, &dp);
  EXPECT_EQ(d, 7.0);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  try {
    Pipi::getphaseshift_pipi(0, 1, 100.0, &d, &dp);
    ADD_FAILURE() << "no error";
  } catch (const femtokit::Error &e) {
    EXPECT_STREQ(e.what(), "pipi phase shift: bad (ell,I) comb, ell=1, I=0");
  }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}

TEST(PairWaveFunctions, CoulombCorrectionOfDWaves) {
  // l = 2: tan(delta) scaled by the penetrability C0 (1 + eta^2)(1 + eta^2/4), the
  // derivative that of the corrected phase for eta ~ 1/q (here eta q = -50).
  for (double q : {5.0, 40.0}) {
    auto corrected = [](double qq, double *dd) {
      double dlt, dp;
      Pipi::getphaseshift_pipi(0, 2, qq, &dlt, &dp);
      CoulWave::phaseshift_CoulombCorrect(2, qq, -50.0 / qq, dlt, dp);
      if (dd) *dd = dp;
      return dlt;
    };
    double bare, bdp, dp;
    Pipi::getphaseshift_pipi(0, 2, q, &bare, &bdp);
    const double eta = -50.0 / q, x = 2 * M_PI * eta;
    const double c = x / std::expm1(x) * (1 + eta * eta) * (1 + eta * eta / 4);
    EXPECT_NEAR(std::tan(corrected(q, &dp)), std::tan(bare) * c, 1e-12 * std::fabs(std::tan(bare) * c));
    EXPECT_NEAR((corrected(q + 1e-3, nullptr) - corrected(q - 1e-3, nullptr)) / 2e-3, dp, 1e-5 * std::fabs(dp));
  }
}

TEST(PairWaveFunctions, WithoutStrongOrWithZeroPhasesTheCoulombForm) {
  testutil::QuietOutput quiet;
  const double rs[] = {0.3, 0.9, 1.7, 6.0, 31.0}, cs[] = {-1.0, -0.35, 0.0, 0.6, 1.0};
  // STRONG false: the Coulomb form at every r, whatever epsilon (1 or 2 fm).
  for (const std::string pair : {"pkplus", "ppiplus", "pipluspiminus", "nn"}) {
    const bool identical = femtokit::PairIsIdentical(pair);
    auto a = femtokit::MakeWaveFunction(pair, PairPars("off1.dat", 4, 25.0, 1.0, false));
    auto b = femtokit::MakeWaveFunction(pair, PairPars("off2.dat", 4, 25.0, 2.0, false));
    for (int iq = 0; iq < 4; iq++)
      for (double r : rs)
        for (double c : cs) {
          const double form = CoulombForm(*a, identical, iq, r, c);
          EXPECT_NEAR(a->CalcPsiSquared(iq, r, c), form, 1e-12 * (1 + form)) << pair << " r=" << r << " c=" << c;
          EXPECT_EQ(a->CalcPsiSquared(iq, r, c), b->CalcPsiSquared(iq, r, c)) << pair << " r=" << r;
        }
  }
  // All phases zero: the strong terms vanish inside and outside epsilon.
  const std::string pars = PairPars("zero.dat", 4, 25.0, 1.0, true);
  const std::unique_ptr<CWaveFunction> zero[] = {std::make_unique<ZeroPhases<CWaveFunction_pkplus>>(pars),
                                                 std::make_unique<ZeroPhases<CWaveFunction_ppiplus>>(pars),
                                                 std::make_unique<ZeroPhases<Pipi>>(pars),
                                                 std::make_unique<ZeroPhases<CWaveFunction_nn>>(pars)};
  for (int p = 0; p < 4; p++)
    for (int iq = 0; iq < 4; iq++)
      for (double r : rs)
        for (double c : cs) {
          const double form = CoulombForm(*zero[p], p == 3, iq, r, c);
          EXPECT_NEAR(zero[p]->CalcPsiSquared(iq, r, c), form, 1e-9 * (1 + form)) << p << " r=" << r << " c=" << c;
        }
}

TEST(PairWaveFunctions, ShippedSettingsGiveNonNegativeDensities) {
  testutil::QuietOutput quiet;
  // The shipped EPSILON of each pair keeps |psi|^2 >= 0 inside the sphere
  // (where the volume-averaged correction could overshoot) and outside.
  for (const std::string pair : {"pkplus", "ppiplus", "pipluspiminus", "nn"}) {
    auto wf = femtokit::MakeWaveFunction(pair, std::string(FEMTOKIT_SOURCE_DIR) + "/data/" + pair + "/wfparameters.dat");
    double lowest = 1.0;
    for (int iq = 1; iq < wf->GetNQMAX(); iq++)
      for (double r : {0.2, 1.4, 2.1, 3.7, 8.2})
        for (double c = -0.95; c < 1.0; c += 0.15) lowest = std::min(lowest, wf->CalcPsiSquared(iq, r, c));
    EXPECT_GE(lowest, 0.0) << pair;
  }
}

TEST(PairWaveFunctions, TablesExtendedBeyond30fmAgreeWithDirectEvaluation) {
  testutil::QuietOutput quiet;
  CWaveFunction_ppiplus direct(PairPars("ext.dat", 3, 40.0, 1.5, true)),
      tabulated(PairPars("ext.dat", 3, 40.0, 1.5, true));
  tabulated.TabulateTo(70.0);
  for (int iq = 0; iq < 3; iq++)
    for (double r : {12.345, 29.99, 30.7, 44.4, 69.9})
      for (double c : {-0.7, 0.2, 0.95}) {
        const double a = direct.CalcPsiSquared(iq, r, c), b = tabulated.CalcPsiSquared(iq, r, c);
        if (r < 15.0) {
          EXPECT_EQ(a, b);  // inside the old reach nothing changes
        }
        EXPECT_NEAR(a, b, 2e-4) << "q=" << direct.GetQ(iq) << " r=" << r << " c=" << c;
      }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  EXPECT_THROW(tabulated.TabulateTo(-1.0), femtokit::Error);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}

TEST(PairWaveFunctions, ErrorsAndMessages) {
  std::string text;
  femtokit::SetOutput([&text](femtokit::Verbosity, const std::string &s) { text += s; });
  const std::string pars = PairPars("msg.dat", 2, 30.0, 1.0, true);
  CWaveFunction_nn nn(pars);
  const std::string nnlines[] = {"Arrays Initialized\n", "Partial Waves Initialized\n", "que pasa?\n",
                                 "hola que tal?\n", "Initialization finished\n"};
  std::size_t at = 0;
  for (const std::string &line : nnlines) {
    at = text.find(line, at);
    EXPECT_NE(at, std::string::npos) << line;
  }
  text.clear();
  Pipi pipi(pars);
  EXPECT_NE(text.find("pipluspiminus wf initialized\n"), std::string::npos);
  text.clear();
  CWaveFunction_pkplus pk(pars);
  CWaveFunction_ppiplus ppi(pars);
  EXPECT_EQ(text.find("Initialization finished\n"), text.rfind("Initialization finished\n"));  // pi+ only
  femtokit::SetOutput(static_cast<std::FILE *>(nullptr));

  EXPECT_EQ(pipi.CalcPsiSquared(2, 1.0, 0.5), 1.0);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  for (const CWaveFunction *wf : std::initializer_list<const CWaveFunction *>{&nn, &pk, &ppi}) {
    try {
      wf->CalcPsiSquared(2, 1.0, 0.5);
      ADD_FAILURE() << "no error";
    } catch (const femtokit::Error &e) {
      EXPECT_STREQ(e.what(), "iq too large!");
    }
  }
  try {
    femtokit::MakeWaveFunction("pkminus", pars);
    ADD_FAILURE() << "no error";
  } catch (const femtokit::Error &e) {
    EXPECT_STREQ(e.what(), "unknown pair \"pkminus\"; the pairs are pp, pkplus, ppiplus, pipluspiminus, nn, or generic (a pair from "
                 "its parameter file)");
  }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}
