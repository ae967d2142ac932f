// A fit of smeared synthetic data with the chain source -> transform ->
// feed-down -> smearing -> chi-square, by a one-parameter minimisation over R,
// with and without the smearing in the chain.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_min.h>

#include <cmath>
#include <functional>

#include "fit/cf2sfit.h"
#include "fit/feeddown.h"
#include "fit/smearing.h"
#include "qmatrix_testutil.h"

using qmtest::WriteText;

class SmearingFit : public qmtest::Quiet {};

namespace {

// Minimum of f over [lo, hi]: a scan in steps of `step`, then Brent's method
// in the bracket around the best scan point.
double Minimise(const std::function<double(double)> &f, double lo, double hi, double step) {
  double best = lo, fbest = f(lo);
  for (double x = lo + step; x <= hi + 1e-9; x += step) {
    const double fx = f(x);
    if (fx < fbest) {
      fbest = fx;
      best = x;
    }
  }
  if (best - step < lo || best + step > hi) return best;  // at an edge: no bracket
  gsl_function F;
  F.function = [](double x, void *p) { return (*static_cast<const std::function<double(double)> *>(p))(x); };
  F.params = const_cast<std::function<double(double)> *>(&f);
  gsl_min_fminimizer *s = gsl_min_fminimizer_alloc(gsl_min_fminimizer_brent);
  gsl_min_fminimizer_set_with_values(s, &F, best, fbest, best - step, f(best - step), best + step, f(best + step));
  for (int iter = 0; iter < 100; ++iter) {
    gsl_min_fminimizer_iterate(s);
    if (gsl_min_test_interval(gsl_min_fminimizer_x_lower(s), gsl_min_fminimizer_x_upper(s), 1e-5, 0.0) == GSL_SUCCESS)
      break;
  }
  const double x = gsl_min_fminimizer_x_minimum(s);
  gsl_min_fminimizer_free(s);
  return x;
}

}  // namespace

TEST_F(SmearingFit, SmearingInTheChainRecoversTheSourceRadius) {
  const std::string dir = ScratchDir("smearing_fit");
  // The model on a true mesh of 0.5 MeV/c to 100 MeV/c; data in 2 MeV/c bins to 60 MeV/c.
  auto truekernel = qmtest::FreeBosonKernel(ScratchDir("smearing_fit_true"), 200, 0.5);
  auto recokernel = qmtest::FreeBosonKernel(ScratchDir("smearing_fit_reco"), 30, 2.0);
  CCHArray model(0, 200, 0.5, true, true, true), direct(0, 30, 2.0, true, true, true);
  CCHArray data(0, 30, 2.0, true, true, true), theory(0, 30, 2.0, true, true, true);
  CMomentumSmearing smearing(WriteText(dir + "/smearing.dat", "string MODE gaussian\ndouble SIGMA 4\n"));
  CFeedDown feeddown(WriteText(dir + "/feeddown.dat",
                               "double lambdaGen 0.6\nint NRESIDUALS 1\nstring RESIDUAL0_NAME misid\n"
                               "string RESIDUAL0_TYPE flat\nstring REMAINDER misid\n"));
  CCHArray source(0, 240, 0.25, true, true, true);
  CSourceCalc_GX1D gx;
  // C - 1 of radius R as a fit evaluates it: source, transform, decomposition, smearing.
  auto evaluate = [&](double R, bool smear, CCHArray *result) {
    gx.SetSPars(1.0, R, 0.0, 10.0, 5.0);  // lambdaG, R, lambdaX, X, a
    gx.CalcS(&source);
    if (smear) {
      S2CF::s2c(&source, truekernel.get(), &model);
      feeddown.Apply(&model, &model);
      smearing.Apply(&model, result);
    } else {
      S2CF::s2c(&source, recokernel.get(), result);
      feeddown.Apply(result, result);
    }
  };
  const double Rtrue = 5.0, error = 0.002;
  evaluate(Rtrue, true, &data);
  auto chi2 = [&](double R, bool smear) {
    evaluate(R, smear, &theory);
    double sum = 0.0;
    for (int i = 0; i < 30; ++i)
      sum += std::pow((data.GetElement(0, 0, 0, i) - theory.GetElement(0, 0, 0, i)) / error, 2);
    return sum;
  };
  const double withsmearing = Minimise([&](double R) { return chi2(R, true); }, 3.0, 8.0, 0.25);
  const double without = Minimise([&](double R) { return chi2(R, false); }, 3.0, 8.0, 0.25);
  std::printf(
      "fit of smeared data (R = %g fm, sigma = 4 MeV/c): R = %.4f fm with smearing in the chain, "
      "R = %.4f fm without (bias %+.3f fm, chi2 %.1f for 30 points)\n",
      Rtrue, withsmearing, without, without - Rtrue, chi2(without, false));
  EXPECT_NEAR(withsmearing, Rtrue, 2e-3);
  EXPECT_LT(chi2(withsmearing, true), 1e-3);
  // Smearing moves pairs from the many at larger q (phase space q^2) into the
  // few at small q and so lowers the peak; with lambda fixed the fit without
  // it lowers the peak by a larger radius.
  EXPECT_GT(without - Rtrue, 0.1);
  EXPECT_GT(chi2(without, false), 30.0);
}

// The same through the fit framework: Newton on R with the decomposition and
// the smearing in CCF2SFit's chain, and a free lambda written into the
// decomposition by name.
TEST_F(SmearingFit, TheFitFrameworkChainsDecompositionAndSmearing) {
  const std::string dir = ScratchDir("smearing_fit_chain");
  auto truekernel = qmtest::FreeBosonKernel(ScratchDir("smearing_chain_true"), 200, 0.5);
  auto recokernel = qmtest::FreeBosonKernel(ScratchDir("smearing_chain_reco"), 30, 2.0);
  CMomentumSmearing smearing(WriteText(dir + "/smearing.dat", "string MODE gaussian\ndouble SIGMA 4\n"));
  CFeedDown feeddown(WriteText(dir + "/feeddown.dat",
                               "double lambdaGen 0.6\nint NRESIDUALS 1\nstring RESIDUAL0_NAME misid\n"
                               "string RESIDUAL0_TYPE flat\nstring REMAINDER misid\n"));
  CCHArray source(0, 240, 0.25, true, true, true), truth(0, 200, 0.5, true, true, true);
  CCHArray data(0, 30, 2.0, true, true, true), errors(0, 30, 2.0, true, true, true);
  CCHArray recotheory(0, 30, 2.0, true, true, true);
  CSourceCalc_GX1D gx;
  gx.SetSPars(1.0, 5.0, 0.0, 10.0, 5.0);
  gx.CalcS(&source);
  S2CF::s2c(&source, truekernel.get(), &truth);
  feeddown.Apply(&truth, &truth);
  smearing.Apply(&truth, &data);
  for (int i = 0; i < 30; ++i) errors.SetElement(0, 0, 0, i, 0.002);

  auto fit = [&](bool smear) {
    CCF2SFit f;
    f.npars = 2;
    f.Init();
    f.par[0].Set("R", 4.0, 0.2, 1.0, 10.0);
    f.par[1].Set("lambdaGen", 0.5, 0.05, 0.0, 1.0);
    gx.SetSPars(1.0, 4.0, 0.0, 10.0, 5.0);
    f.sourcecalc = &gx;
    f.sourceCH = &source;
    f.cexpCH = &data;
    f.cerrorCH = &errors;
    f.feeddown = &feeddown;
    f.smearing = smear ? &smearing : nullptr;
    f.kernel = smear ? truekernel.get() : recokernel.get();
    f.ctheoryCH = smear ? &truth : &recotheory;
    for (int i = 0; i < 4; ++i) f.Newton(2);
    return std::make_pair(f.par[0].value, f.par[1].value);
  };
  const auto with = fit(true);
  EXPECT_NEAR(with.first, 5.0, 2e-3);
  EXPECT_NEAR(with.second, 0.6, 1e-3);
  EXPECT_NEAR(feeddown.GetLambda("lambdaGen"), with.second, 1e-5);
  const auto without = fit(false);
  std::printf("CCF2SFit: R = %.4f fm, lambda = %.4f with smearing in the chain; R = %.4f fm, lambda = %.4f without\n",
              with.first, with.second, without.first, without.second);
  EXPECT_GT(std::fabs(without.first - 5.0), 0.05);

  // Feed-down and smearing act on the (0,0,0) component only.
  CCF2SFit f;
  f.npars = 1;
  f.Init();
  f.par[0].Set("R", 4.0, 0.2, 1.0, 10.0);
  f.sourcecalc = &gx;
  f.sourceCH = &source;
  f.cexpCH = &data;
  f.cerrorCH = &errors;
  f.smearing = &smearing;
  f.kernel = truekernel.get();
  f.ctheoryCH = &truth;
  f.SetL(0, 2, 0);
  EXPECT_THROW(f.GetChiSquared(std::vector<double>{4.0}), femtokit::Error);
}
