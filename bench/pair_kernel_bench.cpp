// Kernel time of every shipped pair (the named classes and the pairs from
// parameter files, p-Lambda with the Usmani potential among them) on its shipped meshes (data/<pair>/), at
// 1 and 2 threads: what scripts/kernel.sh <pair> spends.
//   BM_PairWaveFunction: building the wave function and tabulating its waves
//     to the kernel's reach (CWaveFunction::TabulateTo);
//   BM_PairKernel: the projection CKernel::Calc on the built wave function;
//   BM_PairWhole: both, what one kernel program run computes.
// The 1-thread rows are the serial calculation the 2-thread rows replace.
// Besides wall time: "process_cpu", CPU seconds of all threads per iteration;
// the CPU column is the calling thread's, which takes its share of every
// parallel loop and runs the serial parts, so on a busy shared machine the
// ratio of 1-thread to 2-thread CPU column still shows the critical path.
// The counter "evals/s" is wave-function evaluations per second of wall time.

#include <benchmark/benchmark.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/output.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction_pairs.h"

namespace {

std::string DataFile(const std::string &pair, const char *name) {
  return std::string(FEMTOKIT_SOURCE_DIR) + "/data/" + pair + "/" + name;
}

// The pairs from parameter files (data/<dir>/) beside the named classes.
const char *const kGenericPairs[] = {"plambda", "plambda_usmani", "lambdalambda"};
bool IsGeneric(const std::string &pair) {
  for (const char *g : kGenericPairs)
    if (pair == g) return true;
  return false;
}
std::unique_ptr<CWaveFunction> Make(const std::string &pair) {
  return femtokit::MakeWaveFunction(IsGeneric(pair) ? "generic" : pair, DataFile(pair, "wfparameters.dat"));
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

// CPU seconds of the whole process per iteration since c0.
void ProcessCPU(benchmark::State &state, std::clock_t c0) {
  state.counters["process_cpu"] = double(std::clock() - c0) / CLOCKS_PER_SEC / double(state.iterations());
}

void BM_PairWaveFunction(benchmark::State &state, const std::string &pair) {
  if (!SetThreads(state)) return;
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  CKernel kernel(DataFile(pair, "kparameters.dat"));
  const std::clock_t c0 = std::clock();
  for (auto _ : state) {
    std::unique_ptr<CWaveFunction> wf = Make(pair);
    wf->TabulateTo(kernel.GetNRMAX() * kernel.GetDELR());
    benchmark::DoNotOptimize(wf.get());
  }
  ProcessCPU(state, c0);
}

void BM_PairKernel(benchmark::State &state, const std::string &pair) {
  if (!SetThreads(state)) return;
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  static std::map<std::string, std::unique_ptr<CWaveFunction>> built;
  std::unique_ptr<CWaveFunction> &wf = built[pair];
  if (!wf) wf = Make(pair);
  CKernel kernel(DataFile(pair, "kparameters.dat"));
  wf->TabulateTo(kernel.GetNRMAX() * kernel.GetDELR());
  const std::clock_t c0 = std::clock();
  for (auto _ : state) {
    kernel.Calc(wf.get());
    benchmark::DoNotOptimize(kernel.GetValue(0, 0, 0));
  }
  ProcessCPU(state, c0);
  const double evals = 720.0 * kernel.GetNQMAX() * kernel.GetNRMAX();
  state.counters["evals/s"] = benchmark::Counter(evals * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_PairWhole(benchmark::State &state, const std::string &pair) {
  if (!SetThreads(state)) return;
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  CKernel kernel(DataFile(pair, "kparameters.dat"));
  const std::clock_t c0 = std::clock();
  for (auto _ : state) {
    std::unique_ptr<CWaveFunction> wf = Make(pair);
    kernel.Calc(wf.get());
    benchmark::DoNotOptimize(kernel.GetValue(0, 0, 0));
  }
  ProcessCPU(state, c0);
  const double evals = 720.0 * kernel.GetNQMAX() * kernel.GetNRMAX();
  state.counters["evals/s"] = benchmark::Counter(evals * state.iterations(), benchmark::Counter::kIsRate);
}

int Register() {
  std::vector<std::string> pairs = femtokit::PairNames();
  for (const char *g : kGenericPairs) pairs.push_back(g);
  for (const std::string &pair : pairs) {
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
