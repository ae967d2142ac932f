// Kernel time of every shipped pair on its shipped meshes (data/<pair>/), at
// 1 and 2 threads: what scripts/kernel.sh <pair> spends.
//   BM_PairWaveFunction: building the wave function and tabulating its waves
//     to the kernel's reach (CWaveFunction::TabulateTo);
//   BM_PairKernel: the projection CKernel::Calc on the built wave function;
//   BM_PairWhole: both, what one kernel program run computes.
// The 1-thread rows are the serial calculation the 2-thread rows replace.
// The counter "evals/s" is wave-function evaluations per second of wall time.

#include <benchmark/benchmark.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <map>
#include <memory>
#include <string>

#include "config/output.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction_pairs.h"

namespace {

std::string DataFile(const std::string &pair, const char *name) {
  return std::string(FEMTOKIT_SOURCE_DIR) + "/data/" + pair + "/" + name;
}

bool SetThreads(benchmark::State &state) {
#ifdef _OPENMP
  omp_set_num_threads(static_cast<int>(state.range(0)));
  return true;
#else
  if (state.range(0) != 1) state.SkipWithError("built without OpenMP");
  return state.range(0) == 1;
#endif
}

void BM_PairWaveFunction(benchmark::State &state, const std::string &pair) {
  if (!SetThreads(state)) return;
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  CKernel kernel(DataFile(pair, "kparameters.dat"));
  for (auto _ : state) {
    std::unique_ptr<CWaveFunction> wf = femtokit::MakeWaveFunction(pair, DataFile(pair, "wfparameters.dat"));
    wf->TabulateTo(kernel.GetNRMAX() * kernel.GetDELR());
    benchmark::DoNotOptimize(wf.get());
  }
}

void BM_PairKernel(benchmark::State &state, const std::string &pair) {
  if (!SetThreads(state)) return;
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  static std::map<std::string, std::unique_ptr<CWaveFunction>> built;
  std::unique_ptr<CWaveFunction> &wf = built[pair];
  if (!wf) wf = femtokit::MakeWaveFunction(pair, DataFile(pair, "wfparameters.dat"));
  CKernel kernel(DataFile(pair, "kparameters.dat"));
  wf->TabulateTo(kernel.GetNRMAX() * kernel.GetDELR());
  for (auto _ : state) {
    kernel.Calc(wf.get());
    benchmark::DoNotOptimize(kernel.GetValue(0, 0, 0));
  }
  const double evals = 720.0 * kernel.GetNQMAX() * kernel.GetNRMAX();
  state.counters["evals/s"] = benchmark::Counter(evals * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_PairWhole(benchmark::State &state, const std::string &pair) {
  if (!SetThreads(state)) return;
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  CKernel kernel(DataFile(pair, "kparameters.dat"));
  for (auto _ : state) {
    std::unique_ptr<CWaveFunction> wf = femtokit::MakeWaveFunction(pair, DataFile(pair, "wfparameters.dat"));
    kernel.Calc(wf.get());
    benchmark::DoNotOptimize(kernel.GetValue(0, 0, 0));
  }
  const double evals = 720.0 * kernel.GetNQMAX() * kernel.GetNRMAX();
  state.counters["evals/s"] = benchmark::Counter(evals * state.iterations(), benchmark::Counter::kIsRate);
}

int Register() {
  for (const std::string &pair : femtokit::PairNames()) {
    benchmark::RegisterBenchmark(("BM_PairWaveFunction/" + pair).c_str(), BM_PairWaveFunction, pair)
        ->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_PairKernel/" + pair).c_str(), BM_PairKernel, pair)
        ->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_PairWhole/" + pair).c_str(), BM_PairWhole, pair)
        ->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
  }
  return 0;
}
const int registered = Register();

}  // namespace

BENCHMARK_MAIN();
