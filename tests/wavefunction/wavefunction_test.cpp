#include "common/child.h"
#include "wavefunction/wavefunction.h"

#include <gsl/gsl_sf_bessel.h>
#include <gsl/gsl_sf_coulomb.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <string>

namespace {

const double kHbarc = 197.3269602;

std::string WriteFile(const std::string &dir, const std::string &name, const std::string &text) {
  std::string path = dir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

// A wave function whose |psi|^2 at mesh point iq is 1 + slope*q_iq (linear in q,
// so interpolation between mesh points is exact), or a fixed value.
class LinearWF : public CWaveFunction {
 public:
  explicit LinearWF(const std::string &parsfile, double slope = 0.01, double fixed = NAN)
      : slope_(slope), fixed_(fixed) {
    ParsInit(parsfile);
  }
  double CalcPsiSquared(int iq, double, double) const override {
    return std::isnan(fixed_) ? 1.0 + slope_ * qarray[iq] : fixed_;
  }

 private:
  double slope_, fixed_;
};

// Exposes the protected tables of the base.
class PairWF : public CWaveFunction {
 public:
  PairWF(const std::string &parsfile, int charges, double ma, double mb, std::vector<int> ells) {
    ParsInit(parsfile);
    q1q2 = charges;
    m1 = ma;
    m2 = mb;
    nchannels = int(ells.size());
    ellmax = 0;
    for (int l : ells) ellmax = std::max(ellmax, l);
    InitArrays();
    ell = ells;
    InitWaves();
  }
  using CWaveFunction::channelweight;
  using CWaveFunction::ddeltadq;
  using CWaveFunction::delta;
  using CWaveFunction::eta;
  using CWaveFunction::partwave;
  using CWaveFunction::planewave;
};

class WaveFunctionTest : public ::testing::Test {
 protected:
  void SetUp() override { dir = ScratchDir("wavefunction"); }
  std::string Pars(const std::string &extra) { return WriteFile(dir, "wfpars.dat", extra); }
  std::string dir;
};

}  // namespace

TEST_F(WaveFunctionTest, UniformMeshInterpolationAndEdges) {
  CWaveFunction base;
  base.ParsInit(Pars("int NQMAX 15\ndouble DELQ 5.0\n"));
  EXPECT_EQ(base.GetNQMAX(), 15);
  EXPECT_DOUBLE_EQ(base.GetQ(0), 2.5);
  EXPECT_DOUBLE_EQ(base.GetQ(14), 72.5);
  for (double q : {1.0, 12.3, 72.5, 74.0}) EXPECT_EQ(base.GetPsiSquared(q, 3.0, 0.2), 1.0);

  LinearWF wf(Pars("int NQMAX 10\ndouble DELQ 4.0\n"));  // mesh 2, 6, ..., 38
  // Inside: exact for a linear function; at mesh points no blending.
  for (double q : {2.0, 3.1, 6.0, 17.5, 37.9, 38.0}) EXPECT_NEAR(wf.GetPsiSquared(q, 2.0, 0.3), 1 + 0.01 * q, 1e-12);
  // Below the first point: the first point's value.
  EXPECT_DOUBLE_EQ(wf.GetPsiSquared(0.5, 2.0, 0.3), 1.02);
  EXPECT_DOUBLE_EQ(wf.GetPsiSquared(0.0, 2.0, 0.3), 1.02);
  // Up to half a spacing beyond the last point: linear extrapolation; then 1.
  EXPECT_NEAR(wf.GetPsiSquared(39.5, 2.0, 0.3), 1.395, 1e-12);
  EXPECT_EQ(wf.GetPsiSquared(40.5, 2.0, 0.3), 1.0);
  EXPECT_EQ(wf.GetPsiSquared(1e9, 2.0, 0.3), 1.0);
}

TEST_F(WaveFunctionTest, MeshFromFile) {
  std::string qfile = WriteFile(dir, "qmesh.dat", "3\n10 20\n40\n");
  LinearWF wf(Pars("double DELQ -1\nint NQMAX 99\nstring QARRAYFILENAME " + qfile + "\n"));
  EXPECT_EQ(wf.GetNQMAX(), 3);
  EXPECT_DOUBLE_EQ(wf.GetDELQ(), -1.0);
  EXPECT_DOUBLE_EQ(wf.GetQ(0), 10.0);
  EXPECT_DOUBLE_EQ(wf.GetQ(1), 20.0);
  EXPECT_DOUBLE_EQ(wf.GetQ(2), 40.0);
  EXPECT_NEAR(wf.GetPsiSquared(30.0, 2.0, 0.0), 1.3, 1e-12);
  EXPECT_DOUBLE_EQ(wf.GetPsiSquared(20.0, 2.0, 0.0), 1.2);
  EXPECT_DOUBLE_EQ(wf.GetPsiSquared(5.0, 2.0, 0.0), 1.1);
  EXPECT_NEAR(wf.GetPsiSquared(49.0, 2.0, 0.0), 1.49, 1e-12);  // within half of the last spacing (10)
  EXPECT_EQ(wf.GetPsiSquared(51.0, 2.0, 0.0), 1.0);
}

TEST_F(WaveFunctionTest, OnePointMeshAnswersItsPointEverywhere) {
  std::string qfile = WriteFile(dir, "qone.dat", "1 25\n");
  LinearWF wf(Pars("double DELQ -1\nstring QARRAYFILENAME " + qfile + "\n"));
  for (double q : {0.0, 10.0, 25.0, 40.0, 1e6}) EXPECT_DOUBLE_EQ(wf.GetPsiSquared(q, 2.0, 0.5), 1.25);
  LinearWF uniform(Pars("int NQMAX 1\ndouble DELQ 8\n"));
  for (double q : {0.0, 4.0, 30.0}) EXPECT_DOUBLE_EQ(uniform.GetPsiSquared(q, 2.0, 0.5), 1.04);
}

TEST_F(WaveFunctionTest, MeshFileErrorsAreFatalAndNameTheFile) {
  const std::string missing = dir + "/no_such_qmesh.dat";
  const std::string shortfile = WriteFile(dir, "short.dat", "5\n1 2 3\n");
  const std::string empty = WriteFile(dir, "empty.dat", "");
  for (const std::string &f : {missing, shortfile, empty}) {
    const std::string pars = Pars("double DELQ -2\nstring QARRAYFILENAME " + f + "\n");
    ChildResult res = RunInChild([&] { LinearWF wf(pars); });
    EXPECT_EQ(res.status, 1) << f;
    // The message names the file on the last line (after the parameter printout).
    const std::string last = res.output.substr(res.output.rfind("will read qarray"));
    EXPECT_NE(last.find(f, last.find('\n')), std::string::npos) << res.output;
  }
}

TEST_F(WaveFunctionTest, NegativeInterpolatedValueBeyondOneFermiIsFatal) {
  const std::string pars = Pars("int NQMAX 4\ndouble DELQ 10\n");
  ChildResult res = RunInChild([&] {
    LinearWF wf(pars, 0.0, -0.5);
    wf.GetPsiSquared(0.5, 0.5, 0.0);  // below the mesh and inside 1 fm: no check
    wf.GetPsiSquared(12.0, 0.5, 0.0);
    printf("survived\n");
    wf.GetPsiSquared(12.0, 2.0, 0.0);
  });
  EXPECT_EQ(res.status, 1);
  EXPECT_NE(res.output.find("survived\ninterpolate=-0.5, qscaled=12, qlow=5, qhigh=15, rscaled=2\n"),
            std::string::npos)
      << res.output;
  EXPECT_NE(res.output.find("iqhigh=1, -0.5\n"), std::string::npos);
}

namespace {
// Boosts four-vector p by velocity beta (|beta| < 1).
void Boost(const double beta[3], double p[4]) {
  const double b2 = beta[0] * beta[0] + beta[1] * beta[1] + beta[2] * beta[2];
  const double gamma = 1.0 / std::sqrt(1.0 - b2);
  const double bp = beta[0] * p[1] + beta[1] * p[2] + beta[2] * p[3];
  const double t = gamma * (p[0] + bp);
  for (int i = 0; i < 3; i++) p[i + 1] += ((gamma - 1.0) * bp / b2 + gamma * p[0]) * beta[i];
  p[0] = t;
}
}  // namespace

TEST(GetQRCTheta, CollinearAndBoostedPairs) {
  CWaveFunction wf;
  const double m = 938.271, k = 37.0, rr = 4.2, E = std::sqrt(m * m + k * k);
  double q, r, c;
  {
    double pa[4] = {E, 0, 0, k}, pb[4] = {E, 0, 0, -k}, xa[4] = {0, 0, 0, rr / 2}, xb[4] = {0, 0, 0, -rr / 2};
    wf.getqrctheta(pa, xa, pb, xb, &q, &r, &c);
    EXPECT_NEAR(q, k, 1e-12);
    EXPECT_NEAR(r, rr, 1e-12);
    EXPECT_EQ(c, 1.0);
    wf.getqrctheta(pb, xa, pa, xb, &q, &r, &c);
    EXPECT_EQ(c, -1.0);
  }
  // Collinear pairs with emission times that differ, boosted hard in several
  // directions: rounding must neither stop the process nor leave [-1, 1].
  const double betas[][3] = {{0.0, 0.0, 0.999}, {0.6, -0.5, 0.3}, {0.9999, 0, 0}, {0.3, 0.3, -0.9}};
  for (const auto &beta : betas) {
    for (double sign : {1.0, -1.0}) {
      double pa[4] = {E, k * 0.6, 0, k * 0.8}, pb[4] = {E, -k * 0.6, 0, -k * 0.8};
      double xa[4] = {3.0, sign * rr * 0.3, 0, sign * rr * 0.4}, xb[4] = {-1.0, -sign * rr * 0.3, 0, -sign * rr * 0.4};
      for (double *v : {pa, pb, xa, xb}) Boost(beta, v);
      wf.getqrctheta(pa, xa, pb, xb, &q, &r, &c);
      EXPECT_NEAR(q, k, 1e-7 * k);
      EXPECT_NEAR(r, rr, 1e-7 * rr);
      EXPECT_NEAR(c, sign, 1e-9);
      EXPECT_LE(std::fabs(c), 1.0);
    }
  }
  // A generic configuration keeps its rest-frame angle under a boost.
  {
    const double E2 = std::sqrt(m * m + 1400);
    double pa[4] = {E2, 10, 20, 30}, pb[4] = {E2, -10, -20, -30};
    double xa[4] = {2, 1, -2, 0.5}, xb[4] = {-5, -1, 0, 0.5};
    const double kk = std::sqrt(1400.0), dd = std::sqrt(4.0 + 4.0 + 0.0);
    const double cexp = (10 * 2 + 20 * -2 + 30 * 0.0) / (kk * dd);
    const double beta[3] = {0.3, -0.7, 0.5};
    for (double *v : {pa, pb, xa, xb}) Boost(beta, v);
    wf.getqrctheta(pa, xa, pb, xb, &q, &r, &c);
    EXPECT_NEAR(q, kk, 1e-9);
    EXPECT_NEAR(r, dd, 1e-9);
    EXPECT_NEAR(c, cexp, 1e-9);
  }
}

TEST(GetQRCTheta, ZeroMomentumOrSeparationGivesZeroCosine) {
  CWaveFunction wf;
  const double E = 1000.0;
  double q, r, c;
  double pa[4] = {E, 5, 0, 3}, pb[4] = {E, -5, 0, -3}, same[4] = {1, 2, 3, 4};
  wf.getqrctheta(pa, same, pb, same, &q, &r, &c);
  EXPECT_GT(q, 0.0);
  EXPECT_EQ(r, 0.0);
  EXPECT_EQ(c, 0.0);
  double p[4] = {E, 100, 200, 300}, xa[4] = {0, 1, 2, 3}, xb[4] = {0, -1, 0, 3};
  wf.getqrctheta(p, xa, p, xb, &q, &r, &c);
  EXPECT_EQ(q, 0.0);
  EXPECT_GT(r, 0.0);
  EXPECT_EQ(c, 0.0);
  // Separation along the pair's world line: it vanishes in the rest frame, up
  // to rounding, and must not stop the process.
  for (double t : {1.0, 10.0, 1000.0}) {
    double qa[4] = {E, 150, 20, 0}, qb[4] = {E, 150, -20, 0}, xt[4] = {t, t * 150 / E, 0, 0}, x0[4] = {0, 0, 0, 0};
    wf.getqrctheta(qa, xt, qb, x0, &q, &r, &c);
    EXPECT_NEAR(q, 20.0, 1e-9);
    EXPECT_NEAR(r, 0.0, 1e-6 * t);
    EXPECT_LE(std::fabs(c), 1.0);
  }
}

TEST(GetQRCTheta, PairWithoutRestFrameIsFatal) {
  ChildResult res = RunInChild([] {
    CWaveFunction wf;
    double pa[4] = {1, 5, 0, 0}, pb[4] = {1, 5, 0, 0}, xa[4] = {0, 1, 0, 0}, xb[4] = {0, 0, 0, 0};
    double q, r, c;
    wf.getqrctheta(pa, xa, pb, xb, &q, &r, &c);
  });
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.output.rfind("Disaster, r^2=", 0), 0u) << res.output;
}

TEST_F(WaveFunctionTest, FourVectorOverloadUsesPairFrame) {
  LinearWF wf(Pars("int NQMAX 10\ndouble DELQ 4.0\n"));
  const double m = 139.58, k = 17.0, E = std::sqrt(m * m + k * k);
  double pa[4] = {E, k, 0, 0}, pb[4] = {E, -k, 0, 0}, xa[4] = {0, 0, 3, 0}, xb[4] = {0, 0, 0, 0};
  const double beta[3] = {0.2, 0.5, -0.4};
  for (double *v : {pa, pb, xa, xb}) Boost(beta, v);
  EXPECT_NEAR(wf.GetPsiSquared(pa, xa, pb, xb), 1.17, 1e-9);
}

TEST(GetIW, NoCoulombSWaveClosedForm) {
  CWaveFunction wf;
  for (double q : {5.0, 40.0, 150.0})
    for (double eps : {0.5, 1.0, 2.0}) {
      const double x = q * eps / kHbarc;
      EXPECT_NEAR(wf.GetIW(0, eps, q, 0, 0.0, 0.0), -(x - std::sin(2 * x) / 2) / q, 1e-9 * x / q);
    }
}

// The short-range integral is an antiderivative in x = q epsilon/hbarc of twice
// the squared radial wave carrying the phase shift:
//   d(-q IW)/dx = 2 (F_l cos d + G_l sin d)^2   (x j_l, -x y_l without Coulomb).
TEST(GetIW, DerivativeIsSquaredRadialWave) {
  CWaveFunction wf;
  const double q = 60.0, h = 1e-4;
  for (int q1q2 : {0, 1, -1}) {
    const double eta = q1q2 * 0.3;
    for (int l : {0, 1, 2}) {
      for (double d : {0.0, 0.4, -1.1}) {
        for (double x : {0.6, 1.5, 3.0}) {
          auto T = [&](double xx) { return -q * wf.GetIW(l, xx * kHbarc / q, q, q1q2, eta, d); };
          const double dTdx = (T(x + h) - T(x - h)) / (2 * h);
          double F, G;
          if (q1q2 == 0) {
            F = x * gsl_sf_bessel_jl(l, x);
            G = -x * gsl_sf_bessel_yl(l, x);
          } else {
            gsl_sf_result f, fp, g, gp;
            double ef, eg;
            gsl_sf_coulomb_wave_FG_e(eta, x, l, 0, &f, &fp, &g, &gp, &ef, &eg);
            F = f.val;
            G = g.val;
          }
          const double u = F * std::cos(d) + G * std::sin(d);
          EXPECT_NEAR(dTdx, 2 * u * u, 2e-5 * (1 + 2 * u * u)) << "q1q2=" << q1q2 << " l=" << l << " d=" << d
                                                                << " x=" << x;
        }
      }
    }
  }
}

TEST_F(WaveFunctionTest, InitWavesBuildsEtaAndSharedPartialWaves) {
  const double m1 = 938.271, m2 = 493.677;
  PairWF wf(Pars("int NQMAX 3\ndouble DELQ 20\n"), 1, m1, m2, {0, 2, 2});
  for (int iq = 0; iq < 3; iq++) {
    const double q = wf.GetQ(iq), e1 = std::sqrt(m1 * m1 + q * q), e2 = std::sqrt(m2 * m2 + q * q);
    EXPECT_NEAR(wf.eta[iq], (e1 * e2 / (e1 + e2)) / (137.036 * q), 1e-12 * wf.eta[iq]);
    ASSERT_TRUE(wf.planewave[iq]);
    EXPECT_DOUBLE_EQ(wf.planewave[iq]->eta, wf.eta[iq]);
    ASSERT_TRUE(wf.partwave[0][iq]);
    EXPECT_FALSE(wf.partwave[1][iq]);  // no channel has l = 1
    ASSERT_TRUE(wf.partwave[2][iq]);
    EXPECT_EQ(wf.partwave[2][iq]->ell, 2);
    EXPECT_DOUBLE_EQ(wf.partwave[2][iq]->q, q);
  }
  EXPECT_EQ(wf.delta.size(), 3u);
  EXPECT_EQ(wf.delta[2].size(), 3u);
  // Nonrelativistic limit of eta for equal masses: alpha m/(2q).
  PairWF pp(Pars("int NQMAX 1\ndouble DELQ 2\n"), 1, m1, m1, {0});
  EXPECT_NEAR(pp.eta[0], m1 / (2 * 137.036 * 1.0), 1e-5 * pp.eta[0]);
}

TEST_F(WaveFunctionTest, EffectiveRangeExpansionAndCdelta) {
  // Three mesh points close together give a finite-difference check of d delta/dq.
  const std::string qfile = WriteFile(dir, "q3.dat", "3 29.99 30 30.01\n");
  PairWF wf(Pars("double DELQ -1\nstring QARRAYFILENAME " + qfile + "\n"), 0, 939.565, 939.565, {0});
  const double a = -17.3, reff = 2.8;
  wf.EffectiveRange(0, a, reff);
  for (int iq = 0; iq < 3; iq++) {
    const double k = wf.GetQ(iq) / kHbarc;
    EXPECT_NEAR(k / std::tan(wf.delta[0][iq]), -1 / a + 0.5 * reff * k * k, 1e-12);
  }
  EXPECT_NEAR(wf.ddeltadq[0][1], (wf.delta[0][2] - wf.delta[0][0]) / 0.02, 1e-6 * std::fabs(wf.ddeltadq[0][1]));

  wf.channelweight[0] = 0.25;
  const double R = 3.0, q = 30.0;
  const double C = 1 + 0.25 * 2 * M_PI * std::pow(kHbarc, 3) * wf.ddeltadq[0][1] / (std::pow(4 * M_PI, 1.5) * R * R * R * q * q);
  char line[200];
  snprintf(line, sizeof line, "%6.2f  %8.4f  %g\n", q, C, 4 * q * q * (C - 1));
  ChildResult res = RunInChild([&] { wf.PrintCdelta(R, R, R); });
  EXPECT_EQ(res.status, 0);
  EXPECT_EQ(res.output.rfind("! Qinv  C(Q)_estimated ~ ddelta/dq\n", 0), 0u);
  EXPECT_NE(res.output.find(line), std::string::npos) << res.output;
  EXPECT_NE(res.output.find("_________________________________\n"), std::string::npos);
}
