// The wave-function build shares the mesh momenta among threads: its tables
// must not depend on the thread count, and a failure at one momentum must
// leave the parallel region through the error path.
#include "common/child.h"
#include "common/testutil.h"
#include "config/fatal.h"
#include "wavefunction/wavefunction_pairs.h"
#include "wavefunction/wavefunction_pp.h"

#include <gtest/gtest.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string ThreadsPars(const std::string &name, const std::string &text) {
  static const std::string dir = ScratchDir("wavefunction_threads");
  return testutil::WriteTextIn(dir, name, text);
}

// Runs make() with the given number of threads and restores the default.
template <class F>
auto WithThreads(int n, F make) {
#ifdef _OPENMP
  const int saved = omp_get_max_threads();
  omp_set_num_threads(n);
  auto result = make();
  omp_set_num_threads(saved);
  return result;
#else
  (void)n;
  return make();
#endif
}

// |psi|^2 at a spread of points inside and outside EPSILON, and beyond the tables' default reach.
std::vector<double> Sample(const CWaveFunction &wf) {
  std::vector<double> values;
  for (int iq = 0; iq < wf.GetNQMAX(); ++iq)
    for (double r : {0.3, 2.0, 7.5, 12.0, 45.0})
      for (double c : {-0.9, 0.1, 0.7}) values.push_back(wf.CalcPsiSquared(iq, r, c));
  return values;
}

}  // namespace

TEST(WaveFunctionThreads, TablesDoNotDependOnTheThreadCount) {
  testing::internal::CaptureStdout();
  // Momenta from 0.5 MeV/c (deep under the Coulomb barrier) to 60 MeV/c, EPSILON inside the radial tables.
  const std::string pp = ThreadsPars("pp.dat", "int NQMAX 12\ndouble DELQ 5.0\ndouble EPSILON 4.0\nbool STRONG 1\n");
  auto build = [&] { return std::make_unique<CWaveFunction_pp>(pp); };
  std::unique_ptr<CWaveFunction_pp> one = WithThreads(1, build), two = WithThreads(2, build);
  EXPECT_EQ(Sample(*one), Sample(*two));
  EXPECT_EQ(one->phase_1S0, two->phase_1S0);
  EXPECT_EQ(one->phase_3C2, two->phase_3C2);
  EXPECT_EQ(one->Dsinglet, two->Dsinglet);
  EXPECT_EQ(one->Ftriplet0, two->Ftriplet0);
  // The public solution tables hold the last mesh point's, as a serial build leaves them.
  EXPECT_EQ(one->u_1S0, two->u_1S0);
  CWaveFunction_pp &last = *two;
  const std::vector<std::complex<double>> u = last.u_1S0;
  last.GetPsiNoneCoupledState(last.GetNQMAX() - 1, 0, "1S0", 3, true);
  EXPECT_EQ(last.u_1S0, u);

  // The pairs built on the base class (plane and partial waves, short-range correction).
  for (const std::string pair : {"pkplus", "nn", "pipluspiminus"}) {
    const std::string file = ThreadsPars(pair + ".dat", "int NQMAX 9\ndouble DELQ 7.0\n");
    auto make = [&] { return femtokit::MakeWaveFunction(pair, file); };
    std::unique_ptr<CWaveFunction> a = WithThreads(1, make), b = WithThreads(2, make);
    EXPECT_EQ(Sample(*a), Sample(*b)) << pair;
    for (int ic = 0; ic < a->GetNChannels(); ++ic)
      for (int iq = 0; iq < a->GetNQMAX(); ++iq) EXPECT_EQ(a->GetWepsilon(ic, iq), b->GetWepsilon(ic, iq)) << pair;
  }
  testing::internal::GetCapturedStdout();
}

TEST(WaveFunctionThreads, AFailureAtOneMomentumLeavesTheBuildAsAnError) {
  testing::internal::CaptureStdout();
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  // A potential that is not a number from 1 fm on spoils the matching at every momentum.
  const std::string pars = ThreadsPars("nan.dat", "int NQMAX 6\ndouble DELQ 10.0\nbool STRONG 1\n");
  auto nan_potential = [](double r, const char *, const char *) {
    return r > 1.0 ? std::numeric_limits<double>::quiet_NaN() : 0.0;
  };
  for (int threads : {1, 2}) {
    try {
      WithThreads(threads, [&] { return std::make_unique<CWaveFunction_pp>(pars, nan_potential); });
      ADD_FAILURE() << "no error with " << threads << " threads";
    } catch (const femtokit::Error &e) {
      EXPECT_NE(std::string(e.what()).find("does not match the Coulomb functions"), std::string::npos) << e.what();
    }
  }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
  testing::internal::GetCapturedStdout();
}
