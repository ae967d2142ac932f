// Kernel projection speed: CKernel::Calc on a realistic mesh (NQMAX 50,
// NRMAX 200, KLMAX 8, 720 angles per point) for the Coulomb plane wave of a
// proton pair and for the full proton-proton wave function, at 1 and 2 threads.
// The counter "evals/s" is wave-function evaluations per second of wall time.

#include <benchmark/benchmark.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kernel/kernel.h"
#include "wavefunction/wavefunction.h"
#include "wavefunction/wavefunction_pp.h"

namespace {

const int kNQ = 50, kNR = 200, kLMAX = 8;
const double kDELQ = 2.0, kDELR = 0.1;

std::string WriteFile(const std::string &name, const std::string &text) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "femtokit_kernel_calc_bench";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / name).string();
  std::ofstream(path) << text;
  return path;
}

std::string KernelPars() {
  return WriteFile("kpars.dat", "int NQMAX " + std::to_string(kNQ) + "\nint NRMAX " + std::to_string(kNR) +
                                    "\nint KLMAX " + std::to_string(kLMAX) + "\ndouble DELQ " +
                                    std::to_string(kDELQ) + "\ndouble DELR " + std::to_string(kDELR) +
                                    "\nbool IDENTICAL 0\n");
}

std::string WFPars() {
  return WriteFile("wfpars.dat", "int NQMAX " + std::to_string(kNQ) + "\ndouble DELQ " + std::to_string(kDELQ) +
                                     "\ndouble EPSILON 1.0\nbool STRONG 1\nbool COULOMB 1\n");
}

// |psi|^2 of the Coulomb-distorted plane wave of two protons (no symmetrisation,
// no strong interaction): one tabulated Kummer-function lookup per call.
class CoulombWF : public CWaveFunction {
 public:
  explicit CoulombWF(const std::string &pars) {
    ParsInit(pars);
    q1q2 = 1;
    m1 = m2 = MPROTON;
    nchannels = 0;
    ellmax = 0;
    InitArrays();
    InitWaves();
  }
  double CalcPsiSquared(int iq, double r, double ctheta) const override {
    return std::norm(planewave[iq]->planewave(r, ctheta));
  }
};

template <class WF>
WF &Shared() {
  static std::unique_ptr<WF> wf;
  if (!wf) {
    std::fflush(stdout);
    wf = std::make_unique<WF>(WFPars());
  }
  return *wf;
}

template <class WF>
void BM_KernelCalc(benchmark::State &state) {
#ifdef _OPENMP
  omp_set_num_threads(static_cast<int>(state.range(0)));
#else
  if (state.range(0) != 1) {
    state.SkipWithError("built without OpenMP");
    return;
  }
#endif
  WF &wf = Shared<WF>();
  CKernel kernel(KernelPars());
  for (auto _ : state) {
    kernel.Calc(&wf);
    benchmark::DoNotOptimize(kernel.GetValue(0, kNQ / 2, kNR / 2));
  }
  const double evals = double(kNQ) * kNR * 720;
  state.counters["evals/s"] = benchmark::Counter(evals * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["threads"] = double(state.range(0));
}

void BM_KernelCalcPureHBT(benchmark::State &state) {
  CKernel kernel(KernelPars());
  for (auto _ : state) {
    kernel.Calc_PureHBT();
    benchmark::DoNotOptimize(kernel.GetValue(0, 0, 0));
  }
  state.counters["points/s"] =
      benchmark::Counter(double(kNQ) * kNR * state.iterations(), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_KernelCalc, CoulombWF)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_KernelCalc, CWaveFunction_pp)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KernelCalcPureHBT)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
