#include "fit/smearing.h"

#include <gsl/gsl_integration.h>

#include <cmath>
#include <memory>
#include <vector>

#include "qmatrix_testutil.h"

using qmtest::WriteMatrix;
using qmtest::WriteText;

class Smearing : public qmtest::Quiet {};

namespace {

struct GLTable {
  explicit GLTable(size_t n) : t(gsl_integration_glfixed_table_alloc(n)), n(n) {}
  ~GLTable() { gsl_integration_glfixed_table_free(t); }
  // Gauss-Legendre sum of f over [a, b].
  template <class F>
  double Integrate(double a, double b, F &&f) const {
    double sum = 0.0;
    for (size_t k = 0; k < n; ++k) {
      double x, w;
      gsl_integration_glfixed_point(a, b, k, &x, &w, t);
      sum += w * f(x);
    }
    return sum;
  }
  gsl_integration_glfixed_table *t;
  size_t n;
};

// Density of q_reco = x for true q: 1d folded Gaussian, or the modulus of an
// isotropic 3d Gaussian smear of the vector.
double Density(double x, double q, double s, bool threed) {
  const double g1 = std::exp(-0.5 * (x - q) * (x - q) / (s * s)), g2 = std::exp(-0.5 * (x + q) * (x + q) / (s * s));
  if (threed) return x / (q * s * std::sqrt(2 * M_PI)) * (g1 - g2);
  return (g1 + g2) / (s * std::sqrt(2 * M_PI));
}

// The measured C - 1 of reconstructed bin [a, b]: pairs of true q weighted by
// the phase space q^2 and carried by the resolution, for the function that the
// array's bin-centre values describe (linear between the centres, constant
// beyond the outer ones), by quadrature over true and reconstructed q.
double Convolution(const std::vector<double> &c, double dq, double a, double b,
                   const std::function<double(double)> &sigma, bool threed) {
  const GLTable outer(8), inner(20);
  const size_t n = c.size();
  auto f = [&](double q) {
    const double u = q / dq - 0.5;
    if (u <= 0) return c.front();
    const size_t i = static_cast<size_t>(u);
    if (i + 1 >= n) return c.back();
    return c[i] + (u - i) * (c[i + 1] - c[i]);
  };
  double num = 0.0, den = 0.0;
  for (size_t k = 0; k <= n; ++k) {  // pieces between bin centres
    const double lo = k == 0 ? 0.0 : (k - 0.5) * dq, hi = k == n ? n * dq : (k + 0.5) * dq;
    for (size_t m = 0; m < outer.n; ++m) {
      double q, w;
      gsl_integration_glfixed_point(lo, hi, m, &q, &w, outer.t);
      const double p = inner.Integrate(a, b, [&](double x) { return Density(x, q, sigma(q), threed); });
      num += w * q * q * p * f(q);
      den += w * q * q * p;
    }
  }
  return num / den;
}

}  // namespace

TEST_F(Smearing, IdentityAndBinMergingMatrices) {
  const std::string dir = ScratchDir("smearing_identity");
  auto kernel = qmtest::FreeBosonKernel(dir, 40, 1.0);
  CCHArray cf(0, 40, 1.0, true, true, true), out(0, 40, 1.0, true, true, true), coarse(0, 20, 2.0, true, true, true);
  qmtest::FreeBosonCF(*kernel, 0.6, 5.0, cf);
  WriteMatrix(dir + "/identity.dat", 40, 1.0, 40, 1.0, [](int i, int j) { return i == j ? 1.0 : 0.0; });
  CMomentumSmearing id(WriteText(dir + "/id.dat", "string MATRIXFILE identity.dat\n"));
  id.Apply(&cf, &out);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(out.GetElement(0, 0, 0, i), cf.GetElement(0, 0, 0, i));
  EXPECT_DOUBLE_EQ(id.TrueQReach(10.0), 40.0);

  // Reconstructed bin i of 2 MeV/c holds true bins 2i and 2i+1 of 1 MeV/c: the
  // mean of the two weighted by their phase space, (j+1)^3 - j^3.
  WriteMatrix(dir + "/merge.dat", 20, 2.0, 40, 1.0, [](int i, int j) { return j / 2 == i ? 1.0 : 0.0; });
  CMomentumSmearing merge(WriteText(dir + "/merge_pars.dat", "string MATRIXFILE merge.dat\n"));
  merge.Apply(&cf, &coarse);
  for (int i = 0; i < 20; ++i) {
    const double n0 = 3.0 * (2 * i) * (2 * i) + 3.0 * (2 * i) + 1,
                 n1 = 3.0 * (2 * i + 1) * (2 * i + 1) + 3.0 * (2 * i + 1) + 1;
    EXPECT_NEAR(coarse.GetElement(0, 0, 0, i),
                (n0 * cf.GetElement(0, 0, 0, 2 * i) + n1 * cf.GetElement(0, 0, 0, 2 * i + 1)) / (n0 + n1), 1e-15);
  }
  // The measured array may be shorter than the matrix, the model longer; not the other way.
  CCHArray shortout(0, 10, 2.0, true, true, true), longout(0, 21, 2.0, true, true, true),
      shortin(0, 39, 1.0, true, true, true);
  merge.Apply(&cf, &shortout);
  EXPECT_EQ(shortout.GetElement(0, 0, 0, 9), coarse.GetElement(0, 0, 0, 9));
  qmtest::ExpectFileError([&] { merge.Apply(&cf, &longout); }, dir + "/merge.dat",
                          "the measured array's q mesh (21 bins");
  qmtest::ExpectFileError([&] { merge.Apply(&shortin, &coarse); }, dir + "/merge.dat", "(39 bins of 1 MeV/c)");
  qmtest::ExpectFileError([&] { merge.Apply(&coarse, &coarse); }, dir + "/merge.dat", "column mesh");
}

TEST_F(Smearing, GaussianResolutionEqualsAnIndependentConvolution) {
  // The main job's correlation function (Gaussian source, lambda 0.6, R = 5 fm)
  // through the free-boson kernel on a fine true mesh (0.25 MeV/c to 100 MeV/c),
  // measured in 2 MeV/c bins to 60 MeV/c.
  const std::string dir = ScratchDir("smearing_gauss");
  const int ntrue = 400, nreco = 30;
  const double dtrue = 0.25, dreco = 2.0;
  auto kernel = qmtest::FreeBosonKernel(dir, ntrue, dtrue);
  CCHArray cf(0, ntrue, dtrue, true, true, true), out(0, nreco, dreco, true, true, true);
  qmtest::FreeBosonCF(*kernel, 0.6, 5.0, cf);
  std::vector<double> c(static_cast<size_t>(ntrue));
  for (int j = 0; j < ntrue; ++j) c[static_cast<size_t>(j)] = cf.GetElement(0, 0, 0, j);
  WriteText(dir + "/sigma.dat", "# q sigma, MeV/c\n0 2\n100 6\n");

  struct Case {
    const char *pars;
    bool threed;
    std::function<double(double)> sigma;
  };
  const Case cases[] = {
      {"string MODE gaussian\ndouble SIGMA 3\n", false, [](double) { return 3.0; }},
      {"string MODE gaussian\ndouble SIGMA 3\nstring GAUSSIANFORM 3d\n", true, [](double) { return 3.0; }},
      {"string MODE gaussian\nstring SIGMAFILE sigma.dat\n", false, [](double q) { return 2 + 0.04 * q; }},
      {"string MODE gaussian\nstring SIGMAFILE sigma.dat\nstring GAUSSIANFORM 3d\n", true,
       [](double q) { return 2 + 0.04 * q; }},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.pars);
    std::string warnings;
    femtokit::SetOutput([&](femtokit::Verbosity, const std::string &text) { warnings += text; });
    CMomentumSmearing sm(WriteText(dir + "/sm.dat", k.pars));
    EXPECT_NEAR(sm.GetSigma(50.0), k.sigma(50.0), 1e-12);
    sm.Apply(&cf, &out);
    EXPECT_EQ(warnings, "");  // the true mesh reaches far enough
    double worst = 0.0, change = 0.0;
    for (int i = 0; i < nreco; ++i) {
      const double expect = Convolution(c, dtrue, i * dreco, (i + 1) * dreco, k.sigma, k.threed);
      const double got = out.GetElement(0, 0, 0, i);
      worst = std::fmax(worst, std::fabs(got - expect));
      change = std::fmax(change, std::fabs(got - cf.GetElement(0, 0, 0, (i + 0.5) * dreco)));
      EXPECT_NEAR(got, expect, 1e-4) << "bin " << i;
    }
    std::printf("smearing %s: largest difference to the convolution %.2e, largest change by smearing %.2e\n",
                k.threed ? "3d" : "1d", worst, change);
    EXPECT_GT(change, 0.01);  // the smearing matters at this resolution
  }
  femtokit::SetOutput(static_cast<std::FILE *>(nullptr));
}

TEST_F(Smearing, ResolutionUnitsTruncationAndBadSettings) {
  const std::string dir = ScratchDir("smearing_settings");
  CCHArray in(0, 120, 0.5, true, true, true), a(0, 15, 2.0, true, true, true), b(0, 15, 2.0, true, true, true);
  for (int j = 0; j < 120; ++j) in.SetElement(0, 0, 0, j, std::exp(-std::pow((j + 0.5) * 0.5 / 15, 2)));
  // The same resolution as q_inv table, k* GeV/c constant and q MeV/c constant.
  WriteText(dir + "/qinv.dat", "0 6\n60 6\n");
  CMomentumSmearing q(WriteText(dir + "/q.dat", "string MODE gaussian\ndouble SIGMA 3\n"));
  CMomentumSmearing qinv(
      WriteText(dir + "/i.dat", "string MODE gaussian\nstring SIGMAFILE qinv.dat\nstring UNITS qinv_MeV\n"));
  CMomentumSmearing gev(
      WriteText(dir + "/g.dat", "string MODE gaussian\ndouble SIGMA 0.003\nstring UNITS kstar_GeV\n"));
  q.Apply(&in, &a);
  EXPECT_DOUBLE_EQ(q.TrueQReach(30.0), 45.0);
  for (CMomentumSmearing *other : {&qinv, &gev}) {
    other->Apply(&in, &b);
    for (int i = 0; i < 15; ++i) EXPECT_NEAR(b.GetElement(0, 0, 0, i), a.GetElement(0, 0, 0, i), 1e-14);
  }
  // A true mesh that ends where the measured one does draws a warning; a new
  // mesh pair rebuilds the map.
  std::string warnings;
  femtokit::SetOutput([&](femtokit::Verbosity, const std::string &text) { warnings += text; });
  CCHArray narrow(0, 60, 0.5, true, true, true);
  q.Apply(&narrow, &a);
  EXPECT_NE(warnings.find("come from true q beyond the model's mesh (30 MeV/c); the model should reach 45 MeV/c"),
            std::string::npos)
      << warnings;
  femtokit::SetOutput(static_cast<std::FILE *>(nullptr));

  const std::string pars = dir + "/bad.dat";
  auto make = [&](const std::string &text) { return [=] { CMomentumSmearing sm(WriteText(pars, text)); }; };
  qmtest::ExpectFileError(make("string MODE lorentzian\n"), pars, "unknown MODE 'lorentzian'");
  qmtest::ExpectFileError(make("string MODE matrix\n"), pars, "needs a MATRIXFILE");
  qmtest::ExpectFileError(make("string MODE gaussian\n"), pars, "positive SIGMA");
  qmtest::ExpectFileError(make("string MODE gaussian\ndouble SIGMA 2\nstring GAUSSIANFORM 2d\n"), pars, "'2d'");
  qmtest::ExpectFileError(make("string MODE gaussian\ndouble SIGMA 2\nstring PAIRDENSITY thermal\n"), pars,
                          "'thermal'");
  qmtest::ExpectFileError(make("string MODE gaussian\ndouble SIGMA 2\nstring UNITS fm\n"), pars, "units 'fm'");
  struct Table {
    const char *text, *message;
  };
  const Table tables[] = {
      {"0 2 3\n", "line 1: wrong size: 3 words"},
      {"0 2\n10\n", "line 2: wrong size: 1 words"},
      {"0 -2\n", "sigma = -2 must be positive"},
      {"0 0\n", "sigma = 0 must be positive"},
      {"10 2\n5 2\n", "line 2: q = 5 must be non-negative and above the line before"},
      {"-1 2\n", "q = -1"},
      {"0 nan\n", "line 1, column 3: sigma 'nan' is not a finite number"},
      {"0 2x\n", "line 1, column 3: sigma '2x' is not a number"},
      {"0x1p1 2\n", "line 1, column 1: q '0x1p1' is not a number"},
      {"# empty\n", "holds no line"},
  };
  for (const Table &t : tables) {
    SCOPED_TRACE(t.text);
    const std::string file = WriteText(dir + "/table.dat", t.text);
    qmtest::ExpectFileError(make("string MODE gaussian\nstring SIGMAFILE table.dat\n"), file, t.message);
  }
  qmtest::ExpectFileError(make("string MODE gaussian\nstring SIGMAFILE none.dat\n"), dir + "/none.dat",
                          "cannot open sigma table");
}

// A proton-pair-like C(q) - 1: the Coulomb hole (-1 at q = 0) and the
// attraction peak (+0.8 at 20 MeV/c).
double PPLike(double q) {
  const double x = q / 20.0;
  return 0.8 * x * x * std::exp(1.0 - x * x) - std::exp(-(q / 5.0) * (q / 5.0));
}

// The measured bin [a, b] of PPLike itself, true q up to qmax: fine quadrature
// over true and reconstructed q.
double PPLikeMeasured(double a, double b, double qmax, double sigma, bool threed, bool flat) {
  const GLTable outer(8), inner(20);
  double num = 0.0, den = 0.0;
  const double lo = std::fmax(0.0, a - 10.0 * sigma), hi = std::fmin(qmax, b + 10.0 * sigma);
  const int pieces = static_cast<int>(std::ceil((hi - lo) / 0.1));
  for (int k = 0; k < pieces; ++k) {
    const double q0 = lo + (hi - lo) * k / pieces, q1 = lo + (hi - lo) * (k + 1) / pieces;
    for (size_t m = 0; m < outer.n; ++m) {
      double q, w;
      gsl_integration_glfixed_point(q0, q1, m, &q, &w, outer.t);
      const double p = inner.Integrate(a, b, [&](double x) { return Density(x, q, sigma, threed); });
      const double n = flat ? 1.0 : q * q;
      num += w * n * p * PPLike(q);
      den += w * n * p;
    }
  }
  return num / den;
}

TEST_F(Smearing, GaussianMapConvergesFastOnTheModelMesh) {
  // Measured bins of 1 MeV/c to 40 MeV/c from a model on 1 and 2 MeV/c true
  // bins to 100 MeV/c; the largest error against the fine-quadrature value,
  // in units of the peak.
  const std::string dir = ScratchDir("smearing_order");
  const int nreco = 40;
  const double qmax = 100.0, peak = 0.8;
  struct Case {
    const char *pars;
    double sigma;
    bool threed, flat;
  };
  for (const Case &k : {Case{"double SIGMA 1\n", 1.0, false, false}, Case{"double SIGMA 4\n", 4.0, false, false},
                        Case{"double SIGMA 2\nstring GAUSSIANFORM 3d\n", 2.0, true, false},
                        Case{"double SIGMA 2\nstring PAIRDENSITY flat\n", 2.0, false, true}}) {
    SCOPED_TRACE(k.pars);
    std::vector<double> reference(nreco);
    for (int i = 0; i < nreco; ++i) reference[static_cast<size_t>(i)] = PPLikeMeasured(i, i + 1.0, qmax, k.sigma, k.threed, k.flat);
    double error[2];
    for (int fine = 0; fine < 2; ++fine) {
      const double dtrue = fine ? 1.0 : 2.0;
      const int ntrue = static_cast<int>(qmax / dtrue);
      CCHArray model(0, ntrue, dtrue), out(0, nreco, 1.0);
      for (int j = 0; j < ntrue; ++j) model.SetElement(0, 0, 0, j, PPLike((j + 0.5) * dtrue));
      CMomentumSmearing sm(WriteText(dir + "/sm.dat", std::string("string MODE gaussian\n") + k.pars));
      sm.Apply(&model, &out);
      error[fine] = 0.0;
      for (int i = 0; i < nreco; ++i)
        error[fine] = std::fmax(error[fine], std::fabs(out.GetElement(0, 0, 0, i) - reference[static_cast<size_t>(i)]));
      error[fine] /= peak;
    }
    std::printf("smearing sigma %g%s%s: error / peak %.2e on 2 MeV/c, %.2e on 1 MeV/c true bins\n", k.sigma,
                k.threed ? " 3d" : "", k.flat ? " flat" : "", error[0], error[1]);
    EXPECT_LT(error[1], 1e-5);
    EXPECT_GT(error[0] / error[1], 64.0);  // sixth order at least (second order gives 4)
  }
  // A flat C - 1 stays flat whatever the meshes.
  CCHArray flatin(0, 37, 1.3), flatout(0, 20, 1.7);
  for (int j = 0; j < 37; ++j) flatin.SetElement(0, 0, 0, j, 0.25);
  CMomentumSmearing sm(WriteText(dir + "/flat.dat", "string MODE gaussian\ndouble SIGMA 0.7\ndouble TRUNCATION 1\n"));
  sm.Apply(&flatin, &flatout);
  for (int i = 0; i < 20; ++i) EXPECT_NEAR(flatout.GetElement(0, 0, 0, i), 0.25, 1e-13) << i;
}
