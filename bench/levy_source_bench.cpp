// Levy source fill of the main job's source mesh (LMAX 4, 80 bins of 0.5 fm,
// even in x, y, z) as a fit does it: a new alpha and R at every fill, so no
// fill reuses the previous one. The profile table is built before timing
// (once per process, on first use: about half a second on two cores).
#include <benchmark/benchmark.h>

#include "arrays/charray.h"
#include "config/output.h"
#include "source/sourcecalc_levy.h"

namespace {

void BM_LevyFill(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);  // heavy tails warn at every fill
  CCHArray A(4, 80, 0.5, true, true, true);
  CSourceCalc_Levy levy;
  CSourceCalc_Levy::Profile(1.5, 1.0);  // the table
  int i = 0;
  for (auto _ : state) {
    const double alpha = 0.5 + 1.5 * ((i * 37) % 1000) / 1000.0, R = 3.0 + 0.004 * (i % 1000);
    levy.SetSPars(0.8, R, alpha);
    levy.CalcS(&A);
    benchmark::DoNotOptimize(A.GetElement(0, 0, 0, 0));
    i++;
  }
}
BENCHMARK(BM_LevyFill)->Unit(benchmark::kMicrosecond);

// The profile alone, 80 points per iteration (no array, no spars).
void BM_LevyProfile80(benchmark::State &state) {
  CSourceCalc_Levy::Profile(1.5, 1.0);
  int i = 0;
  for (auto _ : state) {
    const CSourceCalc_Levy::Shape shape(0.5 + 1.5 * ((i * 37) % 1000) / 1000.0);
    double s = 0.0;
    for (int ir = 0; ir < 80; ir++) s += shape.Profile((ir + 0.5) * 0.1);
    benchmark::DoNotOptimize(s);
    i++;
  }
}
BENCHMARK(BM_LevyProfile80)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
