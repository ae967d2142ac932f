// Cost of one |psi|^2 evaluation of the proton-proton wave function (the main
// job's, data/pp/wfparameters.dat) at fixed separations from 1 to 100 fm,
// averaged over the mesh momenta and 16 angles:
//   BM_PsiSquared/<r>:       waves tabulated to 100 fm (TabulateTo), as
//                             CKernel::Calc leaves them for a mesh of that reach;
//   BM_PsiSquaredDirect/<r>: the waves as built, which evaluate Coulomb and
//                             Kummer functions directly beyond their tables (the
//                             straightforward form the tabulation replaces).
// The counter "s/eval" is CPU time per evaluation.
//   BM_PsiSquaredFlatness:   every separation in turn in each round (tabulated
//                             waves), the fastest round of each kept, so that a
//                             busy machine affects all alike; counters
//                             "ns@<r>" and "spread", the largest over the
//                             smallest.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "config/output.h"
#include "wavefunction/wavefunction_pp.h"

namespace {

const double kReach = 100.0;  // fm

CWaveFunction_pp &Built(bool tabulated) {
  static std::unique_ptr<CWaveFunction_pp> wf[2];
  std::unique_ptr<CWaveFunction_pp> &w = wf[tabulated ? 1 : 0];
  if (!w) {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    w = std::make_unique<CWaveFunction_pp>(std::string(FEMTOKIT_SOURCE_DIR) + "/data/pp/wfparameters.dat");
    if (tabulated) w->TabulateTo(kReach + 1.0);
  }
  return *w;
}

void Run(benchmark::State &state, bool tabulated) {
  const CWaveFunction_pp &wf = Built(tabulated);
  const double r = static_cast<double>(state.range(0));
  const int nq = wf.GetNQMAX();
  const int nc = 16;
  double sum = 0.0;
  for (auto _ : state) {
    for (int iq = 0; iq < nq; ++iq)
      for (int ic = 0; ic < nc; ++ic) sum += wf.CalcPsiSquared(iq, r, -1.0 + (ic + 0.5) * 2.0 / nc);
    benchmark::DoNotOptimize(sum);
  }
  const double evals = double(nq) * nc * state.iterations();
  state.counters["s/eval"] = benchmark::Counter(evals, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PsiSquared(benchmark::State &state) { Run(state, true); }
void BM_PsiSquaredDirect(benchmark::State &state) { Run(state, false); }

void BM_PsiSquaredFlatness(benchmark::State &state) {
  const CWaveFunction_pp &wf = Built(true);
  const int radii[] = {1, 5, 10, 20, 30, 40, 60, 80, 100};
  const int nr = sizeof radii / sizeof radii[0], nq = wf.GetNQMAX(), nc = 16;
  double best[nr];
  for (double &b : best) b = 1e300;
  double sum = 0.0;
  for (auto _ : state) {
    for (int k = 0; k < nr; ++k) {
      const auto t0 = std::chrono::steady_clock::now();
      for (int iq = 0; iq < nq; ++iq)
        for (int ic = 0; ic < nc; ++ic) sum += wf.CalcPsiSquared(iq, radii[k], -1.0 + (ic + 0.5) * 2.0 / nc);
      const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
      best[k] = std::min(best[k], ns / (nq * nc));
    }
    benchmark::DoNotOptimize(sum);
  }
  double lo = 1e300, hi = 0.0;
  for (int k = 0; k < nr; ++k) {
    state.counters["ns@" + std::to_string(radii[k])] = best[k];
    lo = std::min(lo, best[k]);
    hi = std::max(hi, best[k]);
  }
  state.counters["spread"] = hi / lo;
}

void Separations(benchmark::internal::Benchmark *b) {
  for (int r : {1, 5, 10, 20, 30, 40, 60, 80, 100}) b->Arg(r);
  b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_PsiSquared)->Apply(Separations);
BENCHMARK(BM_PsiSquaredDirect)->Apply(Separations);
BENCHMARK(BM_PsiSquaredFlatness)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
