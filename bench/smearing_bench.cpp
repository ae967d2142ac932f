// Cost per fit evaluation of the steps after the transform:
// - CMomentumSmearing::Apply, Gaussian resolution (sigma 3 MeV/c, 1d), from a
//   true mesh of 0.25 MeV/c to the measured 2 MeV/c bins to 60 MeV/c (30 bins);
//   arg: true bins (200, 400, 800);
// - the first Apply on a mesh pair, which builds the map;
// - CFeedDown::Apply with one dense 100 x 150 decay matrix and a flat part.
// For scale: the transform of an LMAX 0 source with 240 r bins onto 400 q
// bins costs about 100k kernel products.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>

#include "arrays/charray.h"
#include "config/output.h"
#include "fit/feeddown.h"
#include "fit/smearing.h"

namespace {

std::string Dir() {
  static std::string dir = [] {
    char name[] = "/tmp/smearing_bench_XXXXXX";
    const char *made = mkdtemp(name);
    return std::string(made ? made : "/tmp");
  }();
  return dir;
}

std::string Write(const std::string &name, const std::string &text) {
  const std::string path = Dir() + "/" + name;
  std::ofstream(path) << text;
  return path;
}

void Fill(CCHArray &a) {
  for (int i = 0; i < a.GetNRADIAL(); ++i) {
    const double q = (i + 0.5) * a.GetRADSTEP();
    a.SetElement(0, 0, 0, i, 0.6 * std::exp(-q * q / 400));
  }
}

void BM_GaussianApply(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const int n = static_cast<int>(state.range(0));
  CMomentumSmearing sm(Write("gauss.dat", "string MODE gaussian\ndouble SIGMA 3\n"));
  CCHArray in(0, n, 100.0 / n, true, true, true), out(0, 30, 2.0, true, true, true);
  Fill(in);
  sm.Apply(&in, &out);
  for (auto _ : state) {
    sm.Apply(&in, &out);
    benchmark::DoNotOptimize(out.GetElement(0, 0, 0, 0));
  }
}
BENCHMARK(BM_GaussianApply)->Arg(200)->Arg(400)->Arg(800);

void BM_GaussianBuild(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  CCHArray in(0, 400, 0.25, true, true, true), out(0, 30, 2.0, true, true, true);
  Fill(in);
  for (auto _ : state) {
    CMomentumSmearing sm(Write("gauss.dat", "string MODE gaussian\ndouble SIGMA 3\n"));
    sm.Apply(&in, &out);
    benchmark::DoNotOptimize(out.GetElement(0, 0, 0, 0));
  }
}
BENCHMARK(BM_GaussianBuild)->Unit(benchmark::kMillisecond);

void BM_FeedDownApply(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  std::string matrix = "100 2 150 1\n";
  for (int i = 0; i < 100; ++i) {
    for (int j = 0; j < 150; ++j) matrix += "0.01 ";
    matrix += "\n";
  }
  Write("dense.dat", matrix);
  CFeedDown fd(Write("fd.dat",
                     "double lambdaGen 0.5\nint NRESIDUALS 2\nstring RESIDUAL0_NAME pL\n"
                     "string RESIDUAL0_TYPE matrix\nstring RESIDUAL0_MATRIX dense.dat\n"
                     "double lambda_pL 0.3\nstring RESIDUAL1_NAME flat\nstring RESIDUAL1_TYPE flat\n"
                     "double lambda_flat 0.2\n"));
  CCHArray parent(0, 150, 1.0, true, true, true), gen(0, 100, 2.0, true, true, true),
      out(0, 100, 2.0, true, true, true);
  Fill(parent);
  Fill(gen);
  fd.SetParentCorrelation("pL", &parent);
  for (auto _ : state) {
    fd.Apply(&gen, &out);
    benchmark::DoNotOptimize(out.GetElement(0, 0, 0, 0));
  }
}
BENCHMARK(BM_FeedDownApply);

}  // namespace

BENCHMARK_MAIN();
