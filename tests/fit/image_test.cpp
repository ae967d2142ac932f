#include "arrays/charray.h"
#include "common/child.h"
#include "config/fatal.h"
#include "fit/image.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "math/random.h"
#include "source/sourcecalc_gaussian.h"
#include "source/sourcecalc_gx1d.h"
#include "source/sourcecalc_levy.h"
#include "wavefunction/wavefunction_pp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <random>

namespace {

using femtokit::Image;
using femtokit::ImageData;
using femtokit::ImageOptions;
using femtokit::ImageResult;

// Kernels on the main job's mesh (60 q bins of 2 MeV/c, 80 r bins of 0.5 fm):
// free identical bosons (l <= 2) and proton-proton (Reid93 + Coulomb, l = 0),
// computed once.
CKernel &Kernel(bool pp) {
  static std::unique_ptr<CKernel> kernels[2];
  std::unique_ptr<CKernel> &k = kernels[pp];
  if (!k) {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    const std::string file = ScratchDir(pp ? "image_pp" : "image_bosons") + "/kpars.dat";
    std::ofstream(file) << "int NQMAX 60\nint NRMAX 80\nint KLMAX " << (pp ? 0 : 2)
                        << "\ndouble DELQ 2.0\ndouble DELR 0.5\nbool IDENTICAL 1\n";
    k = std::make_unique<CKernel>(file);
    if (pp) {
      CWaveFunction_pp wf(std::string(FEMTOKIT_SOURCE_DIR) + "/data/pp/wfparameters.dat");
      k->Calc(&wf);
    } else {
      k->Calc_PureHBT();
    }
  }
  return *k;
}

// The source on the kernel's r mesh (LMAX as the kernel's) and its C - 1.
struct Truth {
  std::unique_ptr<CCHArray> source, cf;
};
Truth Transform(CKernel &kernel, const std::function<void(CCHArray *)> &fill) {
  const int L = kernel.GetLMAX();
  Truth t{std::make_unique<CCHArray>(L, 80, 0.5, true, true, true), std::make_unique<CCHArray>(L, 60, 2.0, true, true, true)};
  fill(t.source.get());
  S2CF::s2c(t.source.get(), &kernel, t.cf.get());
  return t;
}

// Data of component (lx, ly, lz) with Gaussian noise of size sigma (fixed seed).
ImageData Noisy(const Truth &t, int lx, int ly, int lz, double sigma, int seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  ImageData d;
  for (int i = 0; i < 60; i++) {
    // Box-Muller: the same numbers with every standard library.
    const double g = std::sqrt(-2.0 * std::log(1.0 - u(gen))) * std::cos(2.0 * M_PI * u(gen));
    d.q.push_back((i + 0.5) * 2.0);
    d.cf.push_back(t.cf->GetElement(lx, ly, lz, i) + sigma * g);
    d.error.push_back(sigma);
  }
  return d;
}

std::vector<double> Knots(double step, double end) {
  std::vector<double> k;
  for (double r = 0.0; r <= end + 1e-9; r += step) k.push_back(r);
  return k;
}

// Share of the image's r points in its resolved range whose 1-sigma band holds the truth.
double Coverage(const ImageResult &res, const CCHArray &source, int lx, int ly, int lz) {
  int in = 0, n = 0;
  for (size_t k = 0; k < res.r.size(); k++) {
    if (res.r[k] < res.rMinResolved || res.r[k] > res.rMaxResolved) continue;
    const double truth = source.GetElement(lx, ly, lz, res.r[k]);
    n++;
    in += std::fabs(res.s[k] - truth) <= res.error[k];
  }
  return n ? double(in) / n : 0.0;
}

struct LoopStats {
  double coverage = 0.0, chi2ndof = 0.0;
};
LoopStats ClosedLoop(const Truth &t, CKernel &kernel, int lx, int ly, int lz, double sigma, const ImageOptions &o,
                     int seeds) {
  LoopStats s;
  for (int seed = 1; seed <= seeds; seed++) {
    const ImageResult res = Image(kernel, Noisy(t, lx, ly, lz, sigma, seed), o);
    s.coverage += Coverage(res, *t.source, lx, ly, lz) / seeds;
    s.chi2ndof += res.chi2 / res.ndof / seeds;
  }
  return s;
}

}  // namespace

TEST(NNLS, MatchesBruteForceOverEveryActiveSet) {
  // The NNLS solution is the feasible one of least residual among the
  // unconstrained least-squares solutions on every subset of the variables.
  std::mt19937 gen(7);
  std::normal_distribution<double> g(0.0, 1.0);
  for (int trial = 0; trial < 40; trial++) {
    const int m = 7, n = 4;
    std::vector<double> A(m * n), b(m);
    for (double &a : A) a = g(gen);
    for (double &v : b) v = g(gen);
    double best = HUGE_VAL;
    std::vector<double> xbest(n, 0.0);
    for (int mask = 0; mask < (1 << n); mask++) {
      std::vector<int> cols;
      for (int j = 0; j < n; j++)
        if (mask >> j & 1) cols.push_back(j);
      std::vector<double> x(n, 0.0);
      const int k = static_cast<int>(cols.size());
      if (k > 0) {
        // Normal equations by Gauss-Jordan on the k x k system (well conditioned here).
        std::vector<double> N(k * (k + 1), 0.0);
        for (int a = 0; a < k; a++) {
          for (int c = 0; c < k; c++)
            for (int i = 0; i < m; i++) N[a * (k + 1) + c] += A[i * n + cols[a]] * A[i * n + cols[c]];
          for (int i = 0; i < m; i++) N[a * (k + 1) + k] += A[i * n + cols[a]] * b[i];
        }
        for (int p = 0; p < k; p++)
          for (int r = 0; r < k; r++) {
            if (r == p) continue;
            const double f = N[r * (k + 1) + p] / N[p * (k + 1) + p];
            for (int c = 0; c <= k; c++) N[r * (k + 1) + c] -= f * N[p * (k + 1) + c];
          }
        bool feasible = true;
        for (int a = 0; a < k; a++) {
          x[cols[a]] = N[a * (k + 1) + k] / N[a * (k + 1) + a];
          feasible = feasible && x[cols[a]] >= 0.0;
        }
        if (!feasible) continue;
      }
      double r2 = 0.0;
      for (int i = 0; i < m; i++) {
        double f = -b[i];
        for (int j = 0; j < n; j++) f += A[i * n + j] * x[j];
        r2 += f * f;
      }
      if (r2 < best - 1e-12) best = r2, xbest = x;
    }
    std::vector<double> x(n);
    std::vector<char> active;
    femtokit::NNLS(m, n, A.data(), b.data(), x.data(), &active);
    for (int j = 0; j < n; j++) {
      EXPECT_NEAR(x[j], xbest[j], 1e-9) << "trial " << trial << " variable " << j;
      EXPECT_EQ(active[j] != 0, x[j] == 0.0) << "trial " << trial;
    }
  }
  // A problem whose least-squares solution is positive: NNLS is that solution.
  const double A[] = {1, 0, 0, 1, 1, 1}, b[] = {1, 2, 3.1};
  double x[2];
  femtokit::NNLS(3, 2, A, b, x);
  EXPECT_NEAR(x[0], (2 * 1 + 3.1 - 2) / 3.0, 1e-12);
  EXPECT_NEAR(x[1], (2 * 2 + 3.1 - 1) / 3.0, 1e-12);
}

TEST(Image, ForwardModelIsTheSourceToCorrelationTransform) {
  // The image transformed back (its curve) equals S2CF::s2c of the image's S
  // on the kernel's r mesh, for bins and cubic splines, l = 0 and l = 2: the
  // relation C_l = 4 pi Int r^2 K_l S_l dr and its normalisation are the
  // transform's.
  CKernel &k = Kernel(false);
  Truth t = Transform(k, [](CCHArray *s) {
    CSourceCalc_Gaussian g;
    g.SetSPars(0.8, 3.0, 4.0, 5.5);
    g.CalcS(s);
  });
  for (int order : {1, 4})
    for (int l : {0, 2}) {
      ImageOptions o;
      o.l = l;
      o.order = order;
      o.positive = l == 0;
      o.knots = Knots(2.0, 30.0);
      const ImageResult res = Image(k, Noisy(t, 0, 0, l, 1e-3, 3), o);
      CCHArray s(2, 80, 0.5, true, true, true), cf(2, 60, 2.0, true, true, true);
      for (int ir = 0; ir < 80; ir++) s.SetElement(0, 0, l, ir, res.Evaluate((ir + 0.5) * 0.5));
      S2CF::s2c(&s, &k, &cf);
      for (int i = 0; i < 60; i++)
        EXPECT_NEAR(res.curve[i], cf.GetElement(0, 0, l, i), 1e-10) << "order " << order << " l " << l << " bin " << i;
      // The image's own mesh values agree with Evaluate.
      for (size_t j = 0; j < res.r.size(); j += 7) EXPECT_NEAR(res.s[j], res.Evaluate(res.r[j]), 1e-14);
    }
}

TEST(Image, ZeroNoiseBiasShrinksWithTheStrength) {
  CKernel &k = Kernel(false);
  Truth t = Transform(k, [](CCHArray *s) {
    CSourceCalc_GX1D g;
    g.SetSPars(0.7, 4.0, 0.0, 10.0, 5.0);
    g.CalcS(s);
  });
  ImageData d = Noisy(t, 0, 0, 0, 0.0, 1);
  for (double &e : d.error) e = 1e-3;
  ImageOptions o;
  o.criterion = femtokit::ImageCriterion::Fixed;
  o.knots = Knots(1.0, 30.0);
  double last = HUGE_VAL;
  for (double alpha : {1e-1, 1e-3, 1e-5, 1e-7}) {
    o.alpha = alpha;
    const ImageResult res = Image(k, d, o);
    double worst = 0.0;
    for (size_t j = 0; j < res.r.size(); j++)
      if (res.r[j] >= res.rMinResolved && res.r[j] <= 20.0)
        worst = std::max(worst, std::fabs(res.s[j] - t.source->GetElement(0, 0, 0, res.r[j])));
    EXPECT_LT(worst, last) << "alpha " << alpha;
    last = worst;
    EXPECT_EQ(res.alpha, alpha);
  }
  // Smallest strength: the truth to 2% of its peak.
  EXPECT_LT(last, 0.02 * t.source->GetElement(0, 0, 0, 0));
}

TEST(Image, ClosedLoopsThroughFreeBosonsAndProtons) {
  // Gaussian, Gaussian with an exponential halo, Levy alpha = 1.5; noise 0.01
  // per bin; four seeds each. The 1-sigma band holds the truth at about 68%
  // of the r points (positivity makes it somewhat conservative), the image
  // reproduces the data with chi^2/dof near 1.
  const std::vector<std::pair<const char *, std::function<void(CCHArray *)>>> sources = {
      {"gauss", [](CCHArray *s) { CSourceCalc_GX1D g; g.SetSPars(0.7, 4.0, 0.0, 10.0, 5.0); g.CalcS(s); }},
      {"halo", [](CCHArray *s) { CSourceCalc_GX1D g; g.SetSPars(0.5, 3.5, 0.3, 8.0, 5.0); g.CalcS(s); }},
      {"levy", [](CCHArray *s) { CSourceCalc_Levy g; g.SetSPars(0.8, 3.0, 1.5); g.CalcS(s); }}};
  for (bool pp : {false, true})
    for (const auto &src : sources) {
      CKernel &k = Kernel(pp);
      Truth t = Transform(k, src.second);
      ImageOptions o;
      o.knots = Knots(1.5, 30.0);
      const LoopStats s = ClosedLoop(t, k, 0, 0, 0, 0.01, o, 4);
      const std::string what = std::string(pp ? "pp " : "bosons ") + src.first;
      EXPECT_GT(s.coverage, 0.5) << what;
      EXPECT_LT(s.coverage, 0.97) << what;
      EXPECT_GT(s.chi2ndof, 0.6) << what;
      EXPECT_LT(s.chi2ndof, 1.3) << what;
    }
}

TEST(Image, HaloFractionAndLambdaAreRecovered) {
  // lambdaG = 0.5 (R = 3.5 fm) and lambdaX = 0.3 (X = 8 fm): the image's norm
  // and its share beyond 10 fm against the truth's on the same mesh.
  for (bool pp : {false, true}) {
    CKernel &k = Kernel(pp);
    Truth t = Transform(k, [](CCHArray *s) { CSourceCalc_GX1D g; g.SetSPars(0.5, 3.5, 0.3, 8.0, 5.0); g.CalcS(s); });
    double total = 0.0, beyond = 0.0;
    for (int ir = 0; ir < 80; ir++) {
      const double r = (ir + 0.5) * 0.5, w = 4 * M_PI * r * r * 0.5 * t.source->GetElement(0, 0, 0, ir);
      total += w;
      beyond += r > 10.0 ? w : 0.0;
    }
    ImageOptions o;
    o.knots = Knots(1.5, 30.0);
    const ImageResult res = Image(k, Noisy(t, 0, 0, 0, 0.01, 11), o);
    double etot, ebeyond;
    const double itot = res.Integral(0.0, 40.0, &etot), ibeyond = res.Integral(10.0, 40.0, &ebeyond);
    EXPECT_NEAR(itot, total, std::max(3 * etot, 0.02)) << pp;
    EXPECT_NEAR(ibeyond / itot, beyond / total, 0.05) << pp << " halo share " << beyond / total;
    // A fixed lambda is met exactly.
    o.lambda = 0.78;
    const ImageResult fixed = Image(k, Noisy(t, 0, 0, 0, 0.01, 11), o);
    double e;
    EXPECT_NEAR(fixed.Integral(0.0, 40.0, &e), 0.78, 2e-3);
    EXPECT_LT(e, 1e-3);
  }
}

TEST(Image, QuadrupoleOfAnAnisotropicGaussian) {
  // Rx = 3, Ry = 4, Rz = 6 fm: the (0,0,2) component through K_2 of free
  // bosons, imaged without positivity (it changes sign with the shape).
  CKernel &k = Kernel(false);
  Truth t = Transform(k, [](CCHArray *s) {
    CSourceCalc_Gaussian g;
    g.SetSPars(1.0, 3.0, 4.0, 6.0);
    g.CalcS(s);
  });
  ImageOptions o;
  o.l = 2;
  o.positive = false;
  o.knots = Knots(1.5, 30.0);
  const LoopStats s = ClosedLoop(t, k, 0, 0, 2, 0.002, o, 4);
  EXPECT_GT(s.coverage, 0.5);
  EXPECT_LT(s.coverage, 0.97);
  EXPECT_GT(s.chi2ndof, 0.6);
  EXPECT_LT(s.chi2ndof, 1.3);
  // The sign: S_002 > 0 where the source is long in z (at its peak, r ~ 8 fm).
  const ImageResult res = Image(k, Noisy(t, 0, 0, 2, 0.002, 5), o);
  EXPECT_GT(res.Evaluate(8.0), 0.0);
  EXPECT_GT(t.source->GetElement(0, 0, 2, 8.0), 0.0);
}

TEST(Image, CriteriaAndResolvedRange) {
  CKernel &k = Kernel(false);
  Truth t = Transform(k, [](CCHArray *s) { CSourceCalc_GX1D g; g.SetSPars(0.7, 4.0, 0.0, 10.0, 5.0); g.CalcS(s); });
  ImageOptions o;
  o.knots = Knots(1.5, 30.0);
  for (auto c : {femtokit::ImageCriterion::GCV, femtokit::ImageCriterion::LCurve}) {
    o.criterion = c;
    const ImageResult res = Image(k, Noisy(t, 0, 0, 0, 0.01, 2), o);
    EXPECT_EQ(res.criterion, c);
    EXPECT_GT(res.alpha, 0.0);
    EXPECT_GT(res.effective, 1.0);
    EXPECT_LT(res.effective, 21.0);
    EXPECT_NEAR(res.ndof, 60 - res.effective, 1e-12);
    // pi hbar c/(2 q_max) with q_max = 119 MeV/c; out to the last knot.
    EXPECT_NEAR(res.rMinResolved, M_PI * 197.3269602 / (2 * 119.0), 1e-9);
    EXPECT_DOUBLE_EQ(res.rMaxResolved, 30.0);
    double trace = 0.0;
    for (double v : res.resolution) trace += v;
    EXPECT_GT(trace, 0.5 * res.effective);
  }
  // Data up to 40 MeV/c only: the resolved range starts further out.
  ImageData d = Noisy(t, 0, 0, 0, 0.01, 2);
  d.q.resize(20), d.cf.resize(20), d.error.resize(20);
  o.criterion = femtokit::ImageCriterion::GCV;
  EXPECT_NEAR(Image(k, d, o).rMinResolved, M_PI * 197.3269602 / (2 * 39.0), 1e-9);
}

TEST(Image, RefusesBadInputNamingTheValue) {
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  CKernel &k = Kernel(false);
  Truth t = Transform(k, [](CCHArray *s) { CSourceCalc_GX1D g; g.SetSPars(0.7, 4.0, 0.0, 10.0, 5.0); g.CalcS(s); });
  const ImageData good = Noisy(t, 0, 0, 0, 0.01, 1);
  auto fails = [&](std::function<void(ImageData &, ImageOptions &)> change, const std::string &text) {
    ImageData d = good;
    ImageOptions o;
    change(d, o);
    try {
      Image(k, d, o);
      ADD_FAILURE() << "no error, expected '" << text << "'";
    } catch (const femtokit::Error &e) {
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
  };
  fails([](ImageData &d, ImageOptions &) { d.cf[3] = NAN; }, "C[3] = nan");
  fails([](ImageData &d, ImageOptions &) { d.error[5] = 0.0; }, "error[5] = 0 at q=11");
  fails([](ImageData &d, ImageOptions &) { d.q[0] = 0.5; }, "q=0.5 MeV/c lies outside");
  fails([](ImageData &d, ImageOptions &) { d.q[59] = 125.0; }, "q=125 MeV/c lies outside");
  fails([](ImageData &d, ImageOptions &) { d.error.pop_back(); }, "59 errors");
  fails([](ImageData &, ImageOptions &o) { o.knots = {0, 2, 2, 4}; }, "2 fm follows 2 fm");
  fails([](ImageData &, ImageOptions &o) { o.knots = {-1, 2, 4}; }, "knot -1 fm is negative");
  fails([](ImageData &, ImageOptions &o) { o.knots = {0, 20, 45}; }, "last knot 45 fm");
  fails([](ImageData &, ImageOptions &o) { o.order = 0; }, "order 0");
  fails([](ImageData &, ImageOptions &o) { o.l = 1, o.positive = false; }, "no projection K_1");
  fails([](ImageData &, ImageOptions &o) { o.l = 2; }, "positivity applies");
  fails([](ImageData &, ImageOptions &o) { o.l = 2, o.positive = false, o.lambda = 1; }, "fixed normalisation");
  fails([](ImageData &, ImageOptions &o) { o.criterion = femtokit::ImageCriterion::Fixed, o.alpha = -1; },
        "strength -1");
  fails([](ImageData &d, ImageOptions &) { d.q.resize(5), d.cf.resize(5), d.error.resize(5); },
        "5 data points for 18 basis functions");
}
