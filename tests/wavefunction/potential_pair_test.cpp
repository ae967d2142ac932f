// Channels of the generic pair from local potentials: square-well phases and
// interior waves in closed form (with and without Coulomb, l = 0 and 1),
// scattering lengths and effective ranges of Gaussian, Yukawa and the p-Lambda
// (Usmani) wells against an independent zero-energy integration, Coulomb plus
// a square well against an independent shooting code, the V = 0 limit,
// continuity at the matching radius, C(q) of a Gaussian source against an
// independent exact solution, and the errors of the potential keys.
#include "common/child.h"
#include "common/testutil.h"
#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernel.h"
#include "kernel/kernelwf.h"
#include "wavefunction/potential.h"
#include "wavefunction/wavefunction_generic.h"

#include <gsl/gsl_sf_bessel.h>
#include <gsl/gsl_sf_coulomb.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testutil::kHbarc;
using testutil::WriteTextIn;

std::string MeshKeys(int nq, double delq) {
  std::ostringstream s;
  s << "int NQMAX " << nq << "\ndouble DELQ " << delq << "\n";
  return s.str();
}

// Riccati-Bessel F_l = x j_l(x), G_l = -x y_l(x) and their derivatives.
void RiccatiFG(int l, double x, double *F, double *G, double *Fp, double *Gp) {
  const double jl = gsl_sf_bessel_jl(l, x), yl = gsl_sf_bessel_yl(l, x);
  const double jm = l == 0 ? std::cos(x) / x : gsl_sf_bessel_jl(l - 1, x);
  const double ym = l == 0 ? std::sin(x) / x : gsl_sf_bessel_yl(l - 1, x);
  *F = x * jl;
  *G = -x * yl;
  *Fp = x * jm - l * jl;
  *Gp = -(x * ym - l * yl);
}

// Fixed-step fourth-order Runge-Kutta of u'' = K(r) u from r0 (u, u' given)
// to r1 on n steps; written independently of the library's solver.
void RK4(const std::function<double(double)> &K, double r0, double r1, int n, double &u, double &up) {
  const double h = (r1 - r0) / n;
  double r = r0;
  for (int i = 0; i < n; i++) {
    const double k1u = up, k1p = K(r) * u;
    const double k2u = up + 0.5 * h * k1p, k2p = K(r + 0.5 * h) * (u + 0.5 * h * k1u);
    const double k3u = up + 0.5 * h * k2p, k3p = K(r + 0.5 * h) * (u + 0.5 * h * k2u);
    const double k4u = up + h * k3p, k4p = K(r + h) * (u + h * k3u);
    u += h / 6 * (k1u + 2 * k2u + 2 * k3u + k4u);
    up += h / 6 * (k1p + 2 * k2p + 2 * k3p + k4p);
    r += h;
  }
}

// Scattering length and effective range (particle-physics sign: k cot delta =
// -1/a + r k^2/2) of an S-wave potential twomu*V(r) (fm^-2) from the zero-energy
// solution u0 -> 1 - r/a, r_e = 2 int (1 - r/a)^2 - u0^2 dr, integrated out to R.
void ZeroEnergy(const std::function<double(double)> &U, double vc, double R, double *a, double *re) {
  // Start u = r (1 + vc r/2) at r = 1e-7 (vc: the 1/r part of U), then RK4
  // on a mesh of 1e-4 fm to 1 fm and 1e-3 fm beyond.
  double r = 1e-7, u = r * (1 + 0.5 * vc * r), up = 1 + vc * r;
  std::vector<double> rs{0.0}, us{0.0};
  auto step = [&](double r1, int n) {
    const double h = (r1 - r) / n;
    for (int i = 0; i < n; i++) {
      RK4(U, r, r + h, 1, u, up);
      r += h;
      rs.push_back(r);
      us.push_back(u);
    }
  };
  step(1.0, 10000);
  step(R, static_cast<int>((R - 1.0) / 1e-3));
  const double A = R - u / up;  // u ~ up (r - A) beyond the potential
  *a = A;
  // u0 normalised to 1 - r/a: divide by -up A... u = up (r - A) = -up A (1 - r/A).
  const double norm = -up * A;
  double integral = 0.0;  // trapezoid
  for (std::size_t i = 1; i < rs.size(); i++) {
    auto f = [&](std::size_t j) {
      const double w = 1 - rs[j] / A, v = us[j] / norm;
      return w * w - v * v;
    };
    integral += 0.5 * (rs[i] - rs[i - 1]) * (f(i) + f(i - 1));
  }
  *re = 2 * integral;
}

// The Usmani p-Lambda potential written out from its published constants.
double Usmani(double r, double sigmasigma) {
  const double x = 0.7 * r;
  const double t = (1 + 3 / x + 3 / (x * x)) * std::exp(-x) / x * std::pow(1 - std::exp(-2 * r * r), 2);
  return 2137.0 / (1 + std::exp((r - 0.5) / 0.2)) - (6.2 - 0.25 * 0.25 * sigmasigma) * t * t;
}

// a and r_e from the phases at the first two mesh points of an S-wave channel.
void FromPhases(const CWaveFunction_generic &wf, int ic, double *a, double *re) {
  const double k0 = wf.GetQ(0) / kHbarc, k1 = wf.GetQ(1) / kHbarc;
  const double y0 = k0 / std::tan(wf.GetDelta(ic, 0)), y1 = k1 / std::tan(wf.GetDelta(ic, 1));
  const double half_r = (y1 - y0) / (k1 * k1 - k0 * k0);
  *re = 2 * half_r;
  *a = -1.0 / (y0 - half_r * k0 * k0);
}

const char *kPlambdaPair =
    "double M1 938.272\ndouble M2 1115.68\ndouble SPIN1 0.5\ndouble SPIN2 0.5\nint NCHANNELS 2\n"
    "double CHANNEL0_S 0\nstring CHANNEL0_POTENTIAL usmani\ndouble CHANNEL1_S 1\nstring CHANNEL1_POTENTIAL usmani\n";

}  // namespace

TEST(PotentialPair, SquareWellPhasesAndInteriorInClosedForm) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_square");
  // Two spin-0 particles of 1000 MeV (mu = 500 MeV), S and P waves in a well
  // of -30 MeV and 2 fm, and a repulsive barrier of +80 MeV in the S wave of
  // a second pair.
  for (double V : {-30.0, 80.0}) {
    std::ostringstream p;
    p << MeshKeys(8, 25.0) << "double M1 1000\ndouble M2 1000\nint NCHANNELS 2\nint CHANNEL0_L 0\n"
      << "string CHANNEL0_POTENTIAL squarewell\ndouble CHANNEL0_V " << V << "\ndouble CHANNEL0_R 2\n"
      << "int CHANNEL1_L 1\nstring CHANNEL1_POTENTIAL squarewell\ndouble CHANNEL1_V " << V
      << "\ndouble CHANNEL1_R 2\n";
    CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", p.str()));
    EXPECT_DOUBLE_EQ(wf.GetMatchRadius(), 2.0);
    const double R = 2.0, twomu = 2 * 500.0 / (kHbarc * kHbarc);
    for (int iq = 0; iq < wf.GetNQMAX(); iq++) {
      const double k = wf.GetQ(iq) / kHbarc, K2 = k * k - twomu * V;
      for (int l = 0; l <= 1; l++) {
        // Interior regular wave: x j_l(x) of x = K r (K^2 > 0), or the
        // modified one inside a barrier higher than the energy.
        double fi, fpi;
        std::function<double(double)> inner;
        if (K2 > 0) {
          const double K = std::sqrt(K2);
          double G, Gp;
          RiccatiFG(l, K * R, &fi, &G, &fpi, &Gp);
          fpi *= K;
          inner = [K, l](double r) {
            double F, G, Fp, Gp;
            RiccatiFG(l, K * r, &F, &G, &Fp, &Gp);
            return F;
          };
        } else {
          const double kappa = std::sqrt(-K2);
          auto f = [kappa, l](double r) {  // x i_l(x): sinh x, cosh x - sinh x/x
            const double x = kappa * r;
            return l == 0 ? std::sinh(x) : std::cosh(x) - std::sinh(x) / x;
          };
          inner = f;
          fi = f(R);
          fpi = (f(R + 1e-6) - f(R - 1e-6)) / 2e-6;
        }
        const double gamma = fpi / fi;
        double F, G, Fp, Gp;
        RiccatiFG(l, k * R, &F, &G, &Fp, &Gp);
        const double tandelta = (gamma * F - k * Fp) / (k * Gp - gamma * G);
        EXPECT_NEAR(std::tan(wf.GetDelta(l, iq)), tandelta, 1e-9 * std::max(1e-3, std::fabs(tandelta)))
            << "V=" << V << " l=" << l << " q=" << wf.GetQ(iq);
        // The interior wave: the same matched at the edge.
        const double d = std::atan(tandelta);
        const double wR = std::cos(d) * F + std::sin(d) * G;
        for (double r : {0.13, 0.9, 1.7, 1.99})
          EXPECT_NEAR(wf.GetInnerWave(l, iq, r), wR * inner(r) / inner(R), 1e-6 * std::fabs(wR) + 1e-9)
              << "V=" << V << " l=" << l << " q=" << wf.GetQ(iq) << " r=" << r;
      }
    }
  }
}

TEST(PotentialPair, ScatteringLengthsAgainstZeroEnergyIntegration) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_scattering_length");
  const double mu = 938.272 * 938.272 / (2 * 938.272), twomu = 2 * mu / (kHbarc * kHbarc);
  // A Gaussian well (shallow, no bound state), a Yukawa well with a Gaussian
  // core and a Hulthen well with an exponential core.
  struct Case {
    std::string keys;
    std::function<double(double)> V;
    double vc;  // lim r V(r), MeV fm
  };
  const Case cases[] = {
      {"string CHANNEL0_POTENTIAL gauss\nint CHANNEL0_NTERMS 2\ndouble CHANNEL0_V0 -60\ndouble CHANNEL0_BETA0 1.3\n"
       "double CHANNEL0_V1 40\ndouble CHANNEL0_BETA1 0.5\n",
       [](double r) { return -60 * std::exp(-r * r / 1.69) + 40 * std::exp(-r * r / 0.25); }, 0.0},
      {"string CHANNEL0_POTENTIAL yukawa\ndouble CHANNEL0_V -50\ndouble CHANNEL0_MU 0.7\nstring CHANNEL0_CORE gauss\n"
       "double CHANNEL0_VCORE 300\ndouble CHANNEL0_RCORE 0.4\n",
       [](double r) { return -50 * std::exp(-0.7 * r) / (0.7 * r) + 300 * std::exp(-r * r / 0.16); }, -50 / 0.7},
      {"string CHANNEL0_POTENTIAL hulthen\ndouble CHANNEL0_V -40\ndouble CHANNEL0_MU 1.2\nstring CHANNEL0_CORE exp\n"
       "double CHANNEL0_VCORE 200\ndouble CHANNEL0_RCORE 0.3\n",
       [](double r) { return -40 * std::exp(-1.2 * r) / (1 - std::exp(-1.2 * r)) + 200 * std::exp(-r / 0.3); },
       -40 / 1.2},
  };
  for (const Case &c : cases) {
    CWaveFunction_generic wf(
        WriteTextIn(dir, "wf.dat", MeshKeys(2, 0.1) + "double M1 938.272\ndouble M2 938.272\nint NCHANNELS 1\n" + c.keys));
    double a, re, a0, re0;
    FromPhases(wf, 0, &a, &re);
    ZeroEnergy([&](double r) { return twomu * c.V(r); }, twomu * c.vc, 40.0, &a0, &re0);
    EXPECT_NEAR(a, a0, 2e-6 * std::fabs(a0)) << c.keys;
    EXPECT_NEAR(re, re0, 1e-4 * std::fabs(re0)) << c.keys;
  }
}

TEST(PotentialPair, UsmaniPLambdaScatteringParameters) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_usmani");
  CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", MeshKeys(2, 0.1) + kPlambdaPair));
  const double mu = 938.272 * 1115.68 / (938.272 + 1115.68), twomu = 2 * mu / (kHbarc * kHbarc);
  for (int ic = 0; ic < 2; ic++) {
    const double ss = ic == 0 ? -3.0 : 1.0;
    double a, re, a0, re0;
    FromPhases(wf, ic, &a, &re);
    ZeroEnergy([&](double r) { return twomu * Usmani(r, ss); }, 0.0, 40.0, &a0, &re0);
    EXPECT_NEAR(a, a0, 2e-6 * std::fabs(a0)) << "channel " << ic;
    EXPECT_NEAR(re, re0, 1e-4 * std::fabs(re0)) << "channel " << ic;
    // Attractive without a bound state: a < 0 in this sign convention.
    EXPECT_LT(a, 0.0);
  }
}

TEST(PotentialPair, EffectiveRangeFitsOfChargedPairs) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_ere");
  // Coulomb-corrected strong phases from scattering parameters give them back.
  const std::string ere = "double M1 938.272\ndouble M2 493.677\nint Q1Q2 1\nint NCHANNELS 1\n"
                          "double CHANNEL0_A -3.5\ndouble CHANNEL0_REFF 1.8\n";
  CWaveFunction_generic e(WriteTextIn(dir, "ere.dat", ere), std::vector<double>{0.5, 1.0});
  double a, re;
  e.FitEffectiveRange(0, &a, &re);
  EXPECT_NEAR(a, -3.5, 1e-6);
  EXPECT_NEAR(re, 1.8, 1e-4);
  // Two protons in a singlet Gaussian well: the Coulomb-modified expansion
  // (with 2 k eta h(eta)) is one smooth function of k^2, so fits at 0.5/1 and
  // at 2/4 MeV/c agree; Coulomb makes |a| smaller than the well's own.
  const std::string pp = "double M1 938.272\nbool IDENTICAL 1\ndouble SPIN1 0.5\nint NCHANNELS 1\ndouble CHANNEL0_S 0\n"
                         "string CHANNEL0_POTENTIAL gauss\ndouble CHANNEL0_V0 -34\ndouble CHANNEL0_BETA0 1.7\n";
  double a1, r1, a2, r2, an, rn;
  CWaveFunction_generic(WriteTextIn(dir, "pp.dat", pp + "int Q1Q2 1\n"), std::vector<double>{0.5, 1.0}).FitEffectiveRange(0, &a1, &r1);
  CWaveFunction_generic(WriteTextIn(dir, "pp.dat", pp + "int Q1Q2 1\n"), std::vector<double>{2.0, 4.0}).FitEffectiveRange(0, &a2, &r2);
  CWaveFunction_generic(WriteTextIn(dir, "nn.dat", pp), std::vector<double>{0.5, 1.0}).FitEffectiveRange(0, &an, &rn);
  EXPECT_NEAR(a1, a2, 1e-3 * std::fabs(a1));
  EXPECT_NEAR(r1, r2, 1e-2 * std::fabs(r1));
  EXPECT_LT(an, a1);
  EXPECT_LT(a1, 0.0);
  // Attractive Coulomb: |a| grows.
  double aa, ra;
  CWaveFunction_generic(WriteTextIn(dir, "pm.dat", pp + "int Q1Q2 -1\n"), std::vector<double>{0.5, 1.0}).FitEffectiveRange(0, &aa, &ra);
  EXPECT_LT(aa, an);
}

TEST(PotentialPair, RelativisticReducedMassMattersOnlyAtLargeMomenta) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_mu");
  // pi+ p-like masses (light): the reduced energy E1 E2/(E1 + E2) equals
  // m1 m2/(m1 + m2) at threshold and is twice it at 300 MeV/c.
  const std::string pair = "double M1 139.57\ndouble M2 938.272\nint NCHANNELS 1\nstring CHANNEL0_POTENTIAL gauss\n"
                           "double CHANNEL0_V0 -60\ndouble CHANNEL0_BETA0 1\n";
  const std::vector<double> q{0.5, 300.0};
  CWaveFunction_generic nonrel(WriteTextIn(dir, "a.dat", pair), q);
  CWaveFunction_generic rel(WriteTextIn(dir, "b.dat", pair + "string REDUCEDMASS relativistic\n"), q);
  EXPECT_NEAR(rel.PotentialReducedMass(0.5) / nonrel.PotentialReducedMass(0.5), 1.0, 1e-5);
  EXPECT_GT(rel.PotentialReducedMass(300.0) / nonrel.PotentialReducedMass(300.0), 1.5);
  EXPECT_NEAR(rel.GetDelta(0, 0), nonrel.GetDelta(0, 0), 1e-5 * std::fabs(nonrel.GetDelta(0, 0)));
  EXPECT_GT(rel.GetDelta(0, 1), 1.2 * nonrel.GetDelta(0, 1));  // a stronger attraction
}

TEST(PotentialPair, ShippedNeutronPairCarriesTheMeasuredScatteringParameters) {
  testutil::QuietOutput quiet;
  const std::string file = std::string(FEMTOKIT_SOURCE_DIR) + "/data/nn_1s0/wfparameters.dat";
  double a, re;
  CWaveFunction_generic(file, std::vector<double>{0.5, 1.0}).FitEffectiveRange(0, &a, &re);
  EXPECT_NEAR(a, -18.9, 2e-3);
  EXPECT_NEAR(re, 2.75, 2e-3);
}

TEST(PotentialPair, CoulombPlusSquareWellAgainstShooting) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_coulomb_square");
  for (int q1q2 : {1, -1}) {
    std::ostringstream p;
    p << MeshKeys(6, 12.0) << "double M1 938.272\ndouble M2 493.677\nint Q1Q2 " << q1q2
      << "\nint NCHANNELS 1\nstring CHANNEL0_POTENTIAL squarewell\ndouble CHANNEL0_V -25\ndouble CHANNEL0_R 1.8\n";
    CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", p.str()));
    const double mu = 938.272 * 493.677 / (938.272 + 493.677), twomu = 2 * mu / (kHbarc * kHbarc);
    for (int iq = 0; iq < wf.GetNQMAX(); iq++) {
      const double k = wf.GetQ(iq) / kHbarc, eta = wf.GetEta(iq);
      // Inside: u'' = (twomu V + 2 eta k/r - k^2) u from u = r(1 + eta k r).
      const double R = 1.8;
      double r0 = 1e-6, u = r0 * (1 + eta * k * r0), up = 1 + 2 * eta * k * r0;
      RK4([&](double r) { return -25 * twomu + 2 * eta * k / r - k * k; }, r0, R, 20000, u, up);
      gsl_sf_result F, Fp, G, Gp;
      double ef, eg;
      gsl_sf_coulomb_wave_FG_e(eta, k * R, 0.0, 0, &F, &Fp, &G, &Gp, &ef, &eg);
      // u = A (F + t G): t = (k Fp u - F up)/(G up - k Gp u).
      const double t = (k * Fp.val * u - F.val * up) / (G.val * up - k * Gp.val * u);
      EXPECT_NEAR(std::tan(wf.GetDelta(0, iq)), t, 1e-8 * std::fabs(t)) << "q1q2=" << q1q2 << " q=" << wf.GetQ(iq);
    }
  }
}

TEST(PotentialPair, ZeroPotentialGivesTheCoulombWave) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_zero");
  // Identical charged spin-0 bosons (S and D waves) and a distinguishable
  // neutral pair: with V = 0 every channel is the Coulomb (free) wave.
  const std::string pairs[] = {
      "double M1 139.57\nint Q1Q2 1\nbool IDENTICAL 1\nint NCHANNELS 2\nint CHANNEL0_L 0\n"
      "string CHANNEL0_POTENTIAL woodssaxon\ndouble CHANNEL0_V 0\ndouble CHANNEL0_R 1\ndouble CHANNEL0_DIFFUSENESS 0.5\n"
      "int CHANNEL1_L 2\nstring CHANNEL1_POTENTIAL squarewell\ndouble CHANNEL1_V 0\ndouble CHANNEL1_R 3\n",
      "double M1 938.272\ndouble M2 1115.68\nint NCHANNELS 1\nstring CHANNEL0_POTENTIAL squarewell\n"
      "double CHANNEL0_V 0\ndouble CHANNEL0_R 3\n"};
  for (const std::string &pair : pairs) {
    CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", MeshKeys(5, 20.0) + pair));
    CWaveFunction_generic free(WriteTextIn(dir, "free.dat", MeshKeys(5, 20.0) + "bool STRONG 0\n" + pair));
    for (int iq = 0; iq < 5; iq++) {
      for (int ic = 0; ic < wf.GetNChannels(); ic++) EXPECT_NEAR(wf.GetDelta(ic, iq), 0.0, 1e-10);
      for (double r : {0.0, 0.04, 0.8, 2.9, 3.1, 12.0})
        for (double c : {-1.0, -0.3, 0.5, 1.0})
          ASSERT_NEAR(wf.CalcPsiSquared(iq, r, c), free.CalcPsiSquared(iq, r, c), 1e-8)
              << pair << " iq=" << iq << " r=" << r << " c=" << c;
    }
  }
}

TEST(PotentialPair, ContinuousAtTheMatchingRadiusAndAsymptoticOutside) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_matching");
  CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", MeshKeys(10, 10.0) + kPlambdaPair));
  const double R = wf.GetMatchRadius();
  EXPECT_GT(R, 5.0);
  EXPECT_LT(R, 20.0);
  for (int iq = 0; iq < wf.GetNQMAX(); iq++) {
    for (double c : {-1.0, -0.4, 0.2, 0.9}) {
      const double in = wf.CalcPsiSquared(iq, R * (1 - 1e-10), c), out = wf.CalcPsiSquared(iq, R * (1 + 1e-10), c);
      // (the outer form interpolates its partial waves linearly on 0.01 fm: about 1e-6)
      EXPECT_NEAR(in, out, 1e-6) << "q=" << wf.GetQ(iq);
    }
    // Where V has faded (1 fm inside R), the interior wave is the asymptotic
    // sin(x + delta) of each channel, and the angle average of |psi|^2 is
    // 1 + sum_S w_S (sin^2(x + delta_S) - sin^2 x)/x^2.
    const double r = R - 1.0, x = wf.GetQ(iq) * r / kHbarc;
    double expected = 1.0, average = 0.0;
    for (int ic = 0; ic < 2; ic++) {
      const double d = wf.GetDelta(ic, iq);
      EXPECT_NEAR(wf.GetInnerWave(ic, iq, r), std::sin(x + d), 1e-6);
      expected += (ic == 0 ? 0.25 : 0.75) * (std::pow(std::sin(x + d), 2) - std::pow(std::sin(x), 2)) / (x * x);
    }
    const int n = 200;  // midpoint rule in cos(theta): exact enough for a smooth integrand
    for (int i = 0; i < n; i++) average += wf.CalcPsiSquared(iq, r, -1 + (i + 0.5) * 2.0 / n) / n;
    EXPECT_NEAR(average, expected, 1e-5) << "q=" << wf.GetQ(iq);
  }
}

TEST(PotentialPair, IdenticalChargedPairsAreContinuousAtTheMatchingRadius) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_identical");
  // Two protons with a Gaussian singlet well and a P-wave Woods-Saxon in the
  // triplet, from the smallest momenta (Gamow factor 1e-8 at 0.15 MeV/c) up.
  const std::string pair =
      "double M1 938.272\nint Q1Q2 1\nbool IDENTICAL 1\ndouble SPIN1 0.5\nint NCHANNELS 2\n"
      "double CHANNEL0_S 0\nstring CHANNEL0_POTENTIAL gauss\ndouble CHANNEL0_V0 -45\ndouble CHANNEL0_BETA0 1.4\n"
      "int CHANNEL1_L 1\ndouble CHANNEL1_S 1\nstring CHANNEL1_POTENTIAL woodssaxon\ndouble CHANNEL1_V -20\n"
      "double CHANNEL1_R 1\ndouble CHANNEL1_DIFFUSENESS 0.3\n";
  for (double delq : {0.3, 15.0}) {
    CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", MeshKeys(6, delq) + pair));
    const double R = wf.GetMatchRadius();
    for (int iq = 0; iq < wf.GetNQMAX(); iq++)
      for (double c : {-1.0, -0.4, 0.2, 0.9}) {
        const double in = wf.CalcPsiSquared(iq, R * (1 - 1e-10), c), out = wf.CalcPsiSquared(iq, R * (1 + 1e-10), c);
        ASSERT_TRUE(std::isfinite(in) && in >= 0.0) << "q=" << wf.GetQ(iq);
        EXPECT_NEAR(in, out, 1e-6 * std::fabs(out)) << "q=" << wf.GetQ(iq) << " c=" << c;
        EXPECT_GE(wf.CalcPsiSquared(iq, 0.3, c), 0.0);
      }
  }
}

TEST(PotentialPair, GaussianSourceCorrelationAgainstIndependentSolution) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_cf");
  const int nq = 12, nr = 80;
  const double delq = 4.0, delr = 0.1;
  CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", MeshKeys(nq, delq) + kPlambdaPair));
  std::ostringstream k;
  k << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint KLMAX 2\ndouble DELQ " << delq << "\ndouble DELR " << delr
    << "\nbool IDENTICAL 0\n";
  CKernel kernel(WriteTextIn(dir, "k.dat", k.str()));
  kernel.Calc(&wf);
  const double mu = 938.272 * 1115.68 / (938.272 + 1115.68), twomu = 2 * mu / (kHbarc * kHbarc);
  const double R = 1.2;
  for (int iq = 0; iq < nq; iq++) {
    const double q = (iq + 0.5) * delq, kk = q / kHbarc;
    // Independent: the S waves of both spin states by RK4 from the origin
    // to 15 fm, normalised there to sin(k r + delta); angle average
    // <|psi|^2> - 1 = sum_S w_S (u_S^2 - sin^2(k r))/(k r)^2.
    double c_kernel = 0.0, c_exact = 0.0;
    std::vector<double> avg(nr, 0.0);
    for (int s = 0; s < 2; s++) {
      const double ss = s == 0 ? -3.0 : 1.0, w = s == 0 ? 0.25 : 0.75;
      auto K = [&](double r) { return twomu * Usmani(r, ss) - kk * kk; };
      double r = 1e-6, u = r, up = 1.0;
      std::vector<double> ur(nr);
      for (int ir = 0; ir < nr; ir++) {
        const double rr = (ir + 0.5) * delr;
        RK4(K, r, rr, 400, u, up);
        r = rr;
        ur[ir] = u;
      }
      double uu = u, uup = up;
      RK4(K, r, 15.0, 20000, uu, uup);
      const double norm = std::hypot(uu, uup / kk);
      for (int ir = 0; ir < nr; ir++) {
        const double rr = (ir + 0.5) * delr, x = kk * rr;
        avg[ir] += w * (std::pow(ur[ir] / norm, 2) - std::pow(std::sin(x), 2)) / (x * x);
      }
    }
    for (int ir = 0; ir < nr; ir++) {
      const double rr = (ir + 0.5) * delr;
      const double S = std::exp(-rr * rr / (4 * R * R)) / std::pow(4 * M_PI * R * R, 1.5);
      c_kernel += 4 * M_PI * rr * rr * delr * S * kernel.GetValue(0, iq, ir);
      c_exact += 4 * M_PI * rr * rr * delr * S * avg[ir];
      // Without the tail beyond the mesh, K_0 itself is the angle average.
      EXPECT_NEAR(kernel.GetValue(0, iq, ir), avg[ir], 1e-6 * (1 + std::fabs(avg[ir]))) << "q=" << q << " r=" << rr;
    }
    EXPECT_NEAR(c_kernel, c_exact, 1e-5) << "q=" << q;
  }
  // The 3D kernel tabulates the same |psi|^2.
  CKernelWF k3(WriteTextIn(dir, "k3.dat", "int NQMAX 12\nint NRMAX 20\nint NCTHETA 8\ndouble DELQ 4\ndouble DELR 0.5\n"
                                    "bool IDENTICAL 0\n"));
  k3.Calc(&wf);
  for (int iq : {0, 5, 11})
    for (int ir : {0, 3, 19})
      for (int ic : {0, 3, 8})
        EXPECT_NEAR(k3.GetPsiSquared(iq, ir, ic), wf.GetPsiSquared((iq + 0.5) * 4.0, (ir + 0.5) * 0.5, 1.0 - ic * 0.25),
                    1e-12);
}

TEST(PotentialPair, ErrorsAreRefused) {
  testutil::QuietOutput quiet;
  const std::string dir = ScratchDir("potential_errors");
  WriteTextIn(dir, "undecayed.dat", "0 -50\n1 -40\n2 -30\n3 -20\n");
  WriteTextIn(dir, "decreasing.dat", "0 -50\n1 -40\n0.5 -30\n3 0\n");
  WriteTextIn(dir, "short.dat", "0 -50\n1 0\n");
  const std::string base = MeshKeys(2, 10.0) + "double M1 938.272\ndouble M2 1115.68\nint NCHANNELS 1\n";
  const char *bad[] = {
      "string CHANNEL0_POTENTIAL cosine\n",
      "string CHANNEL0_POTENTIAL gauss\ndouble CHANNEL0_V0 -50\ndouble CHANNEL0_BETA0 0\n",
      "string CHANNEL0_POTENTIAL gauss\ndouble CHANNEL0_V0 -50\n",
      "string CHANNEL0_POTENTIAL yukawa\ndouble CHANNEL0_V -50\ndouble CHANNEL0_MU 0.7\nstring CHANNEL0_CORE box\n",
      "string CHANNEL0_POTENTIAL squarewell\ndouble CHANNEL0_V -50\ndouble CHANNEL0_R -1\n",
      "string CHANNEL0_POTENTIAL squarewell\ndouble CHANNEL0_V -50\ndouble CHANNEL0_R 2\ndouble MATCHRADIUS 1.5\n",
      "string CHANNEL0_POTENTIAL squarewell\ndouble CHANNEL0_V -50\ndouble CHANNEL0_R 2\nstring REDUCEDMASS half\n",
      "string CHANNEL0_POTENTIAL squarewell\ndouble CHANNEL0_V -50\ndouble CHANNEL0_R 2\ndouble CHANNEL0_A -2\n",
      "string CHANNEL0_POTENTIAL table\nstring CHANNEL0_POTENTIALFILE undecayed.dat\n",
      "string CHANNEL0_POTENTIAL table\nstring CHANNEL0_POTENTIALFILE decreasing.dat\n",
      "string CHANNEL0_POTENTIAL table\nstring CHANNEL0_POTENTIALFILE short.dat\n",
      "string CHANNEL0_POTENTIAL table\nstring CHANNEL0_POTENTIALFILE missing.dat\n",
      "string CHANNEL0_POTENTIAL yukawa\ndouble CHANNEL0_V -50\ndouble CHANNEL0_MU 0.01\n",  // no decay by 200 fm
  };
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  for (const char *b : bad) EXPECT_THROW(CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", base + b)), femtokit::Error) << b;
  // The Usmani form needs total spin 0 or 1.
  EXPECT_THROW(CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat",
                                              MeshKeys(2, 10.0) + "double M1 938\ndouble M2 1115\ndouble SPIN1 0.5\n"
                                                              "int NCHANNELS 1\nstring CHANNEL0_POTENTIAL usmani\n")),
               femtokit::Error);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
  // A table that decays reads, relative to the parameter file.
  WriteTextIn(dir, "good.dat", "# r V\n0 -50\n1 -40\n2 -10\n4 0\n");
  CWaveFunction_generic wf(WriteTextIn(dir, "wf.dat", base + "string CHANNEL0_POTENTIAL table\n"
                                                      "string CHANNEL0_POTENTIALFILE good.dat\n"));
  EXPECT_DOUBLE_EQ(wf.GetMatchRadius(), 4.0);
}
