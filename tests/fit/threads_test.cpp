// Two threads at once filling sources, transforming them, fitting and drawing
// random fills: each gets what it gets alone. The same work built with
// clang++ -fsanitize=thread (library without OpenMP) runs free of reports.
#include <femtokit.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/child.h"
#include "qmatrix_testutil.h"

namespace {

struct Result {
  double R = 0.0, lambda = 0.0, levy0 = 0.0;
  bool finite = true;
};

// A GX1D fit of lambda and R to a correlation function made with (0.6, 5 fm),
// a Levy fill, and random fills of both array kinds.
Result Work(CKernel &kernel, double start) {
  Result result;
  CCHArray source(0, 240, 0.25, true, true, true), cexp(0, 30, 2.0, true, true, true),
      cerror(0, 30, 2.0, true, true, true), ctheory(0, 30, 2.0, true, true, true);
  qmtest::FreeBosonCF(kernel, 0.6, 5.0, cexp);
  for (int iq = 0; iq < 30; ++iq) cerror.SetElement(0, 0, 0, iq, 0.01);
  CSourceCalc_GX1D gx;
  gx.SetSPars(0.5, start, 0.0, 10.0, 5.0);
  CCF2SFit_GX1D fit(&gx, &cexp, &cerror, &ctheory, &source, &kernel);
  for (const char *name : {"lambdaX", "X", "a"}) fit.FixPar(name);
  fit.Newton(2);
  fit.Newton(2);
  result.lambda = fit.par[0].value;
  result.R = fit.par[1].value;

  CSourceCalc_Levy levy;
  levy.SetSPars(1.0, 3.0, 1.5);
  CCHArray s(2, 60, 0.5);
  levy.CalcS(&s);
  result.levy0 = s.GetElement(0, 0, 0, 0);

  CCHArray random(4, 20, 1.0);
  random.RandomizeA(1.0);
  C3DArray random3d(6, 1.0, false, false, false);
  random3d.Randomize_Gaussian();
  for (int ir = 0; ir < 20; ++ir) result.finite = result.finite && std::isfinite(random.GetElement(2, 2, 0, ir));
  result.finite = result.finite && std::isfinite(random3d.GetBiggest());
  for (int i = 0; i < 20; ++i) CCHCalc counted;  // the reference count of the shared tables
  return result;
}

}  // namespace

TEST(Threads, TwoThreadsOfFillsAndFitsGetWhatEachGetsAlone) {
  femtokit::SetVerbosity(femtokit::Verbosity::Silent);
  const std::string dir = ScratchDir("threads");
  std::unique_ptr<CKernel> kernel = qmtest::FreeBosonKernel(dir, 30, 2.0);
  const Result alone[2] = {Work(*kernel, 4.0), Work(*kernel, 6.0)};
  Result together[2];
  std::thread other([&] { together[1] = Work(*kernel, 6.0); });
  together[0] = Work(*kernel, 4.0);
  other.join();
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(together[t].R, alone[t].R) << t;
    EXPECT_EQ(together[t].lambda, alone[t].lambda) << t;
    EXPECT_EQ(together[t].levy0, alone[t].levy0) << t;
    EXPECT_TRUE(together[t].finite);
    EXPECT_NEAR(together[t].R, 5.0, 1e-3) << t;
    EXPECT_NEAR(together[t].lambda, 0.6, 1e-4) << t;
  }
  femtokit::SetVerbosity(femtokit::Verbosity::Normal);
}
