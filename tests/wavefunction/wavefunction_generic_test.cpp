// The pair from a parameter file (CWaveFunction_generic): the proton pair
// without strong interaction against CWaveFunction_pp, Coulomb-only pi+ pi+
// and K+ K+ against an independent sum of symmetrised Coulomb partial waves,
// p-Lambda and Lambda-Lambda against Lednicky-Lyuboshitz with the shipped
// scattering parameters, phase-shift tables, conventions and errors.
#include "common/gaussiancf.h"
#include "common/child.h"
#include "common/testutil.h"
#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction_generic.h"
#include "wavefunction/wavefunction_pairs.h"
#include "wavefunction/wavefunction_pipluspiminus.h"
#include "wavefunction/wavefunction_pp.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_coulomb.h>
#include <gsl/gsl_sf_dawson.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <complex>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testutil::kHbarc;
using testutil::WriteTextIn;

std::string MeshKeysWithEpsilon(int nq, double delq, double epsilon) {
  std::ostringstream s;
  s << "int NQMAX " << nq << "\ndouble DELQ " << delq << "\ndouble EPSILON " << epsilon << "\n";
  return s.str();
}

std::string KernelPars(const std::string &dir, int nq, double delq, int nr, double delr, int lmax, bool identical) {
  std::ostringstream s;
  s << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint KLMAX " << lmax << "\ndouble DELQ " << delq
    << "\ndouble DELR " << delr << "\nbool IDENTICAL " << identical << "\n";
  return WriteTextIn(dir, "k.dat", s.str());
}

std::string Shipped(const std::string &pair) { return std::string(FEMTOKIT_SOURCE_DIR) + "/data/" + pair + "/wfparameters.dat"; }

using testutil::GaussianCF;

// The same from the angle average of the symmetrised Coulomb wave of two
// identical spin-0 particles of mass m, <|psi|^2> = sum_(l even) 2(2l+1) F_l(eta, rho)^2/rho^2,
// eta = q1q2 alpha (E/2)/q with E/2 = sqrt(m^2 + q^2), on the same r mesh.
double SymmetrisedCoulombCF(double m, int q1q2, double q, double R, int nr, double delr) {
  femtokit::InitGSL();
  const double eta = q1q2 * std::sqrt(m * m + q * q) / (2 * 137.036 * q), k = q / kHbarc;
  double c = 0.0;
  for (int ir = 0; ir < nr; ir++) {
    const double r = (ir + 0.5) * delr, rho = k * r;
    int lmax = static_cast<int>(rho) + 14;
    std::vector<double> F(lmax + 1);
    double fexp;
    while (gsl_sf_coulomb_wave_F_array(0.0, lmax, eta, rho, F.data(), &fexp) != GSL_SUCCESS) lmax -= 2;
    double psi2 = 0.0;
    for (int l = 0; l <= lmax; l += 2) psi2 += 2 * (2 * l + 1) * std::pow(F[l] * std::exp(fexp) / rho, 2);
    c += 4 * M_PI * r * r * delr * std::exp(-r * r / (4 * R * R)) * (psi2 - 1.0);
  }
  return c * std::pow(4 * M_PI * R * R, -1.5);
}

// Lednicky-Lyuboshitz term of one S-wave spin state of a neutral pair and a
// Gaussian source: |f|^2/(2R^2) (1 - d0/(2 sqrt(pi) R)) + 2 Re f F1(z)/(sqrt(pi) R) - Im f F2(z)/R,
// f = 1/(1/f0 + d0 k^2/2 - i k), z = 2kR, F1 = Dawson(z)/z, F2 = (1 - e^(-z^2))/z.
double LLTerm(double f0, double d0, double k, double R) {
  const std::complex<double> f = 1.0 / std::complex<double>(1 / f0 + 0.5 * d0 * k * k, -k);
  const double z = 2 * k * R, F1 = gsl_sf_dawson(z) / z, F2 = (1 - std::exp(-z * z)) / z;
  return 0.5 * std::norm(f) / (R * R) * (1 - d0 / (2 * std::sqrt(M_PI) * R)) + 2 * f.real() * F1 / (std::sqrt(M_PI) * R) -
         f.imag() * F2 / R;
}

}  // namespace

TEST(GenericPair, ProtonPairWithoutStrongIsTheProtonPairsStrongZero) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("generic_pp");
  const std::string mesh = MeshKeysWithEpsilon(6, 10.0, 1.0) + "bool STRONG 0\n";
  CWaveFunction_generic generic(WriteTextIn(dir, "generic.dat", mesh + "double M1 938.271\nint Q1Q2 1\nbool IDENTICAL 1\n"
                                                                  "double SPIN1 0.5\n"));
  CWaveFunction_pp pp(WriteTextIn(dir, "pp.dat", mesh));
  for (int iq = 0; iq < 6; iq++)
    for (double r : {0.05, 0.7, 2.3, 9.9, 17.0, 33.0})
      for (double c : {-1.0, -0.6, 0.0, 0.3, 0.95}) {
        const double ref = pp.CalcPsiSquared(iq, r, c);
        ASSERT_NEAR(generic.CalcPsiSquared(iq, r, c), ref, 1e-13 * ref) << "iq=" << iq << " r=" << r << " c=" << c;
      }
  // And so their kernels.
  CKernel a(KernelPars(dir, 6, 10.0, 40, 0.5, 4, true)), b(KernelPars(dir, 6, 10.0, 40, 0.5, 4, true));
  a.Calc(&generic);
  b.Calc(&pp);
  for (int l = 0; l <= 4; l += 2)
    for (int iq = 0; iq < 6; iq++)
      for (int ir = 0; ir < 40; ir++) ASSERT_NEAR(a.GetValue(l, iq, ir), b.GetValue(l, iq, ir), 1e-12);
}

TEST(GenericPair, CoulombOnlyPionsAndKaonsMatchSymmetrisedCoulombWaves) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("generic_coulomb");
  const int nq = 10, nr = 200;
  const double delq = 5.0, delr = 0.125;
  struct Case {
    const char *name;
    double m;
  };
  for (const Case &p : {Case{"pipluspiplus", 139.57}, Case{"kpluskplus", 493.677}}) {
    std::ostringstream pars;
    pars << MeshKeysWithEpsilon(nq, delq, 1.0) << "bool STRONG 1\ndouble M1 " << p.m << "\nint Q1Q2 1\nbool IDENTICAL 1\n";
    CWaveFunction_generic wf(WriteTextIn(dir, std::string(p.name) + ".dat", pars.str()));
    CKernel kernel(KernelPars(dir, nq, delq, nr, delr, 0, true));
    kernel.Calc(&wf);
    // Measured: 6.5e-7 (the hypergeometric table and the 720-angle projection).
    for (double R : {1.5, 3.0, 6.0})
      for (int iq = 0; iq < nq; iq++) {
        const double q = (iq + 0.5) * delq;
        EXPECT_NEAR(GaussianCF(kernel, iq, R), SymmetrisedCoulombCF(p.m, 1, q, R, nr, delr), 2e-6)
            << p.name << " R=" << R << " q=" << q;
      }
  }
}

TEST(GenericPair, LambdaPairsMatchLednickyLyuboshitz) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("generic_lambda");
  const int nq = 25, nr = 240;
  const double delq = 4.0, delr = 0.125;  // q to 100 MeV/c, r to 30 fm
  // The shipped scattering parameters (femtoscopy convention f0 = -A).
  CWaveFunction_generic plambda(Shipped("plambda"));
  CWaveFunction_generic lambdalambda(Shipped("lambdalambda"));
  ASSERT_FALSE(plambda.GetIDENTICAL());
  ASSERT_TRUE(lambdalambda.GetIDENTICAL());
  CKernel kp(KernelPars(dir, nq, delq, nr, delr, 0, false)), kl(KernelPars(dir, nq, delq, nr, delr, 0, true));
  kp.Calc(&plambda);
  kl.Calc(&lambdalambda);
  // Lednicky-Lyuboshitz is exact for the asymptotic wave outside the source
  // and corrects the inside to first order in d0/R; the kernel replaces the
  // wave inside EPSILON = 1.5 fm by the volume-averaged correction. Measured
  // largest |C - C_LL| over q <= 100 MeV/c for R = 1.2, 1.5, 2, 3 fm:
  // p-Lambda 0.117, 0.039, 0.0089, 0.0012 (C up to 3.2, 2.8, 2.4, 1.9: the
  // singlet's f0 = 2.9 fm and d0 = 2.9 fm make the interior matter most for the
  // smallest sources) and Lambda-Lambda 0.0098, 0.0033, 0.0009, 0.0004.
  const double Rs[] = {1.2, 1.5, 2.0, 3.0}, tp[] = {0.13, 0.045, 0.01, 0.0015}, tl[] = {0.012, 0.004, 0.0011, 0.0006};
  for (int iR = 0; iR < 4; iR++) {
    const double R = Rs[iR];
    for (int iq = 0; iq < nq; iq++) {
      const double q = (iq + 0.5) * delq, k = q / kHbarc, z = 2 * k * R;
      const double llp = 1 + 0.25 * LLTerm(2.88, 2.92, k, R) + 0.75 * LLTerm(1.66, 3.78, k, R);
      const double lll = 1 - 0.5 * std::exp(-z * z) + 0.5 * LLTerm(0.81, 3.99, k, R);
      EXPECT_NEAR(1 + GaussianCF(kp, iq, R), llp, tp[iR]) << "p-Lambda R=" << R << " q=" << q;
      EXPECT_NEAR(1 + GaussianCF(kl, iq, R), lll, tl[iR]) << "Lambda-Lambda R=" << R << " q=" << q;

    }
  }
}

TEST(GenericPair, ShippedPairsBuildWithNonNegativeDensities) {
  testutil::QuietOutput quiet;
  struct Case {
    const char *pair;
    bool identical;
  };
  for (const Case &c : {Case{"pipluspiplus", true}, Case{"kpluskplus", true}, Case{"plambda", false},
                        Case{"lambdalambda", true}}) {
    auto wf = femtokit::MakeWaveFunction("generic", Shipped(c.pair));
    EXPECT_EQ(femtokit::PairIsIdentical("generic", *wf), c.identical) << c.pair;
    double lowest = 1.0;
    for (int iq = 0; iq < wf->GetNQMAX(); iq++)
      for (double r : {0.2, 0.9, 1.4, 2.1, 3.7, 8.2})
        for (double x = -0.95; x < 1.0; x += 0.15) lowest = std::min(lowest, wf->CalcPsiSquared(iq, r, x));
    EXPECT_GE(lowest, 0.0) << c.pair;
  }
  // The pi+ pi+ tables are the pi+ pi- pair's closed forms, row by row.
  for (int l : {0, 2}) {
    std::ifstream in(std::string(FEMTOKIT_SOURCE_DIR) + "/data/pipluspiplus/pipi_I2_" + (l ? "D" : "S") + ".dat");
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      double q, d, dp, dref, dpref;
      std::istringstream(line) >> q >> d >> dp;
      CWaveFunction_pipluspiminus::getphaseshift_pipi(2, l, q > 0 ? q : 1e-6, &dref, &dpref);
      ASSERT_NEAR(d, q > 0 ? dref : 0.0, 1e-12 + 1e-11 * std::fabs(dref)) << "l=" << l << " q=" << q;
      ASSERT_NEAR(dp, dpref, 1e-11 * std::fabs(dpref) + 1e-18) << "l=" << l << " q=" << q;
      rows++;
    }
    EXPECT_EQ(rows, 1001);
  }
  // pi+ pi+ Coulomb-corrects them: tan delta shrinks by the Gamow factor 2 pi eta/(e^(2 pi eta) - 1).
  CWaveFunction_generic pipi(Shipped("pipluspiplus"));
  const int iq = 4;
  double bare, slope;
  CWaveFunction_pipluspiminus::getphaseshift_pipi(2, 0, pipi.GetQ(iq), &bare, &slope);
  const double x = 2 * M_PI * pipi.GetEta(iq);
  EXPECT_NEAR(std::tan(pipi.GetDelta(0, iq)), std::tan(bare) * x / std::expm1(x), 1e-8 * std::fabs(std::tan(bare)));
}

TEST(GenericPair, ScatteringLengthConventionTablesAndSpinStates) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("generic_conventions");
  // k cot delta = -1/A + REFF k^2/2: delta -> -k A at small k, so A < 0 attracts.
  CWaveFunction_generic nn(WriteTextIn(dir, "nn.dat", MeshKeysWithEpsilon(4, 0.2, 1.0) +
                                                    "double M1 939.565\nbool IDENTICAL 1\ndouble SPIN1 0.5\n"
                                                    "int NCHANNELS 1\ndouble CHANNEL0_S 0\ndouble CHANNEL0_A -18.9\n"
                                                    "double CHANNEL0_REFF 2.75\n"));
  const double k = nn.GetQ(0) / kHbarc;
  EXPECT_NEAR(nn.GetDelta(0, 0), 18.9 * k, 0.02 * 18.9 * k);
  const double k2 = nn.GetQ(2) / kHbarc;
  EXPECT_NEAR(k2 / std::tan(nn.GetDelta(0, 2)), 1 / 18.9 + 0.5 * 2.75 * k2 * k2, 1e-12);
  // Singlet 1/4 symmetric, triplet 3/4 antisymmetric; channel weight w_S (2l+1) 2.
  ASSERT_EQ(nn.GetSpinStates().size(), 2u);
  EXPECT_EQ(nn.GetSpinStates()[0].weight, 0.25);
  EXPECT_TRUE(nn.GetSpinStates()[0].symmetric);
  EXPECT_FALSE(nn.GetSpinStates()[1].symmetric);
  EXPECT_EQ(nn.GetChannelWeight(0), 0.5);

  // A P-wave table next to the parameter file, delta = c q^3 (1 + b q^2): mesh
  // values between its rows interpolate exactly, phase and slope; COULOMBCORRECT 0
  // keeps them for a charged pair.
  auto phase = [](double q) { return 1e-7 * q * q * q * (1 + 1e-3 * q * q); };
  auto slope = [](double q) { return 1e-7 * q * q * (3 + 5e-3 * q * q); };
  std::string table = "# q delta ddelta/dq\n";
  char row[128];
  for (int n = 0; n <= 20; n++) {
    std::snprintf(row, sizeof row, "%.17g %.17g %.17g\n", 5.0 * n, phase(5.0 * n), slope(5.0 * n));
    table += row;
  }
  WriteTextIn(dir, "table.dat", table);
  CWaveFunction_generic pk(WriteTextIn(dir, "pk.dat", MeshKeysWithEpsilon(5, 7.0, 1.0) +
                                                    "double M1 938.271\ndouble M2 493.677\nint Q1Q2 1\ndouble SPIN1 0.5\ndouble SPIN2 0\n"
                                                    "int NCHANNELS 1\nint CHANNEL0_L 1\n"
                                                    "string CHANNEL0_PHASEFILE table.dat\nbool COULOMBCORRECT 0\n"));
  for (int iq = 0; iq < 5; iq++) {
    EXPECT_NEAR(pk.GetDelta(0, iq), phase(pk.GetQ(iq)), 1e-12 * phase(pk.GetQ(iq)));
    EXPECT_NEAR(pk.GetDdeltadq(0, iq), slope(pk.GetQ(iq)), 1e-12 * slope(pk.GetQ(iq)));
  }
  EXPECT_EQ(pk.GetChannelWeight(0), 3.0);  // one spin state (1/2), 2l + 1 = 3
  // Strong off: the Coulomb wave whatever the phases.
  CWaveFunction_generic off(WriteTextIn(dir, "pkoff.dat", MeshKeysWithEpsilon(5, 7.0, 1.0) + "bool STRONG 0\n"
                                                    "double M1 938.271\ndouble M2 493.677\nint Q1Q2 1\ndouble SPIN1 0.5\ndouble SPIN2 0\n"
                                                    "int NCHANNELS 1\nint CHANNEL0_L 1\nstring CHANNEL0_PHASEFILE table.dat\n"));
  for (double r : {0.5, 3.0})
    EXPECT_EQ(off.CalcPsiSquared(2, r, 0.4), std::norm(CPlaneWave(off.GetEta(2), 1, off.GetQ(2)).planewave(r, 0.4)));
}

TEST(GenericPair, MalformedFilesAreFatal) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("generic_errors");
  WriteTextIn(dir, "short.dat", "0 0 0\n");
  WriteTextIn(dir, "table.dat", "0 0 0\n10 0.1 0.01\n");
  const std::string m = MeshKeysWithEpsilon(3, 5.0, 1.0);
  const std::string bad[] = {
      "int Q1Q2 1\n",                                                          // no mass
      "double M1 139.57\n",                                                    // distinguishable without M2
      "double M1 -1\nbool IDENTICAL 1\n",                                      // negative mass
      "double M1 1\ndouble M2 2\nbool IDENTICAL 1\n",                          // identical, different masses
      "double M1 1\ndouble M2 1\ndouble SPIN1 0.3\n",                          // spin not a multiple of 1/2
      "double M1 1\ndouble M2 1\ndouble SPIN1 0.5\ndouble SPIN2 0.5\nint NCHANNELS 1\ndouble CHANNEL0_A -1\n",  // S needed
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\ndouble CHANNEL0_S 1\ndouble CHANNEL0_A -1\n",  // S impossible
      "double M1 1\nbool IDENTICAL 1\nint NCHANNELS 1\nint CHANNEL0_L 1\nstring CHANNEL0_PHASEFILE table.dat\n",  // odd l, bosons
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\n",                                                       // neither A nor table
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\ndouble CHANNEL0_A 1\nstring CHANNEL0_PHASEFILE table.dat\n",  // both
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\nint CHANNEL0_L 1\ndouble CHANNEL0_A 1\n",  // A for a P wave
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\ndouble CHANNEL0_A 0\n",                    // A = 0
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\ndouble CHANNEL0_A 1\ndouble CHANNEL0_WEIGHT 0.5\n",  // weights 0.5
      "double M1 1\ndouble M2 1\ndouble SPIN1 0.5\ndouble SPIN2 0.5\nint NCHANNELS 2\ndouble CHANNEL0_S 1\n"
      "double CHANNEL0_A 1\ndouble CHANNEL0_WEIGHT 0.7\ndouble CHANNEL1_S 1\nint CHANNEL1_L 1\n"
      "string CHANNEL1_PHASEFILE table.dat\ndouble CHANNEL1_WEIGHT 0.75\n",  // one state, two weights
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\nstring CHANNEL0_PHASEFILE missing.dat\n",
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\nstring CHANNEL0_PHASEFILE short.dat\n",
      "double M1 1\ndouble M2 1\nint NCHANNELS 1\nstring CHANNEL0_PHASEFILE table.dat\n",  // mesh reaches 12.5 MeV/c
  };
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  int i = 0;
  for (const std::string &b : bad) {
    const std::string file = WriteTextIn(dir, "bad" + std::to_string(i) + ".dat", m + b);
    EXPECT_THROW(CWaveFunction_generic wf(file), femtokit::Error) << i << ": " << b;
    i++;
  }
  EXPECT_THROW(femtokit::PairIsIdentical("generic"), femtokit::Error);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}

// A wave function built on a kernel's mesh: that mesh replaces the file's for
// this construction only, gives the file's values at shared q points, and the
// range a pair supports bounds it.
TEST(GenericPair, WaveFunctionOnAKernelsMeshWithinThePairsRange) {
  testutil::QuietOutput quiet;
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  const auto own = femtokit::MakeWaveFunction("generic", Shipped("plambda"));  // 50 bins of 2 MeV/c
  const auto mesh = femtokit::MakeWaveFunction("generic", Shipped("plambda"), 7, 6.0);
  ASSERT_EQ(mesh->GetNQMAX(), 7);
  EXPECT_EQ(mesh->GetDELQ(), 6.0);
  // q = 3, 9, ... MeV/c: bins 1, 4, ... of the file's mesh.
  for (int iq = 0; iq < 7; iq++)
    for (double r : {0.7, 2.5, 9.0}) EXPECT_NEAR(mesh->CalcPsiSquared(iq, r, 0.3), own->CalcPsiSquared(3 * iq + 1, r, 0.3), 1e-12);
  EXPECT_EQ(femtokit::MakeWaveFunction("generic", Shipped("plambda"))->GetNQMAX(), 50);  // scoped
  double lo, hi;
  femtokit::PairQRange("generic", Shipped("pipluspiplus"), lo, hi);
  EXPECT_EQ(lo, CWaveFunction::QMIN);
  EXPECT_EQ(hi, 500.0);  // the phase-shift tables' last row
  femtokit::PairQRange("pp", Shipped("pp"), lo, hi);
  EXPECT_EQ(hi, CWaveFunction::QMAX);
  EXPECT_THROW(femtokit::PairQRange("pq", Shipped("pp"), lo, hi), femtokit::Error);
  EXPECT_THROW(femtokit::MakeWaveFunction("generic", Shipped("pipluspiplus"), 10, 60.0), femtokit::Error);  // to 570 MeV/c
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}
