// Cost of fitting:
// - one chi^2 evaluation of the GX1D fit on the main job's meshes (source
//   fill of one component on 80 r bins, its transform to 60 q bins, chi^2);
// - a whole Newton fit of lambdaG and R to the main job's output (two runs
//   of Newton(2), as examples/fit_gx1d.cpp does), and a steepest descent;
// - one evaluation of the 3D Gaussian fit (the rank-55 exponential fill on 60
//   r bins at LMAX 4, with and without symmetry flags on the source array;
//   transform to 75 q bins; FillRemainderX; conversion to 8^3 cells; chi^2),
//   and a whole Newton fit of lambda, Rx, Ry, Rz.
// The kernels are the free identical-boson ones on the same meshes (the
// cost does not depend on the kernel's values). Output is quiet.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "femtokit.h"

namespace {

const std::string kPars = std::string(FEMTOKIT_SOURCE_DIR) + "/data/pp";

// The main job in memory: kernel, arrays and its noisy output.
struct MainJob {
  CKernel kernel{kPars + "/kparameters.dat"};
  CCHArray cexp{kPars + "/aparsCH_CF.dat"}, cerror{kPars + "/aparsCH_CF.dat"}, ctheory{kPars + "/aparsCH_CF.dat"},
      source{kPars + "/aparsCH_source.dat"};
  MainJob() {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    kernel.Calc_PureHBT();
    CSourceCalc_GX1D gx;
    gx.SetSPars(0.6, 5.0, 0.0, 10.0, 5.0);
    gx.CalcS(&source);
    S2CF::s2c(&source, &kernel, &ctheory);
    CRandom randy(-99);
    for (int ir = 0; ir < cexp.GetNRADIAL(); ir++) {
      const double e = 0.05 / (ir + 1);
      cexp.SetElement(0, 0, 0, ir, ctheory.GetElement(0, 0, 0, ir) + e * randy.gauss());
      cerror.SetElement(0, 0, 0, ir, e);
    }
  }
  std::unique_ptr<CCF2SFit_GX1D> Fit(CSourceCalc_GX1D &calc) {
    calc.SetSPars(0.5, 4.0, 0.0, 10.0, 5.0);
    auto fit = std::make_unique<CCF2SFit_GX1D>(&calc, &cexp, &cerror, &ctheory, &source, &kernel);
    for (const char *name : {"lambdaX", "X", "a"}) fit->FixPar(name);
    return fit;
  }
};

void BM_GX1DEvaluation(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  MainJob job;
  CSourceCalc_GX1D calc;
  auto fit = job.Fit(calc);
  double x[2] = {0.6, 5.0}, sum = 0.0;
  int i = 0;
  for (auto _ : state) {
    x[1] = 5.0 + 0.01 * (i++ % 7);
    sum += fit->GetChiSquared(x);
  }
  benchmark::DoNotOptimize(sum);
  state.counters["evaluations/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

template <int kMinimiser>
void BM_GX1DFit(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  MainJob job;
  CSourceCalc_GX1D calc;
  double calls = 0.0;
  for (auto _ : state) {
    auto fit = job.Fit(calc);
    if (kMinimiser == 0) {
      fit->Newton(2);
      fit->Newton(2);
    } else {
      fit->SteepestDescent(100);
    }
    calls += fit->ncalls;
    benchmark::DoNotOptimize(fit->par[0].value);
  }
  state.counters["evaluations"] = calls / state.iterations();
}

struct Gauss3D {
  std::unique_ptr<CKernel> kernel;
  CCHArray source, ctheoryCH{4, 75, 2.0, true, true, true};
  C3DArray cexp{8, 10.0, true, true, true}, cerror{8, 10.0, true, true, true}, ctheory{8, 10.0, true, true, true};
  CSourceCalc_Gaussian calc;
  explicit Gauss3D(bool symmetric) : source(4, 60, 0.5, symmetric, symmetric, symmetric) {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    const std::string kpars = "fit_bench_kparameters.dat";
    if (std::FILE *fp = std::fopen(kpars.c_str(), "w")) {
      std::fputs("int NQMAX 75\nint NRMAX 60\nint KLMAX 4\ndouble DELQ 2\ndouble DELR 0.5\nbool IDENTICAL 1\n", fp);
      std::fclose(fp);
    }
    kernel = std::make_unique<CKernel>(kpars);
    std::remove(kpars.c_str());
    kernel->Calc_PureHBT();
    const double hbarc = femtokit::constants::HBARC;
    for (int ix = 0; ix < 8; ix++)
      for (int iy = 0; iy < 8; iy++)
        for (int iz = 0; iz < 8; iz++) {
          const double qx = (ix + 0.5) * 10, qy = (iy + 0.5) * 10, qz = (iz + 0.5) * 10;
          cexp.SetElement(0, ix, 0, iy, 0, iz, 0.8 * std::exp(-4 * (9 * qx * qx + 16 * qy * qy + 25 * qz * qz) / (hbarc * hbarc)));
          cerror.SetElement(0, ix, 0, iy, 0, iz, 0.005);
        }
  }
  std::unique_ptr<CCF2SFit_3DGaussian> Fit() {
    calc.SetSPars(0.6, 3.6, 3.6, 3.6);
    auto fit = std::make_unique<CCF2SFit_3DGaussian>(&calc, &cexp, &cerror, &ctheory, &ctheoryCH, &source, kernel.get());
    fit->FixPar("Xoff");
    return fit;
  }
};

void BM_3DGaussianEvaluation(benchmark::State &state) {
  Gauss3D g(state.range(0) != 0);
  auto fit = g.Fit();
  double x[4] = {0.8, 3.0, 4.0, 5.0}, sum = 0.0;
  int i = 0;
  for (auto _ : state) {
    x[1] = 3.0 + 0.01 * (i++ % 7);
    sum += fit->GetChiSquared(x);
  }
  benchmark::DoNotOptimize(sum);
  state.counters["evaluations/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_3DGaussianNewtonFit(benchmark::State &state) {
  Gauss3D g(true);
  double calls = 0.0;
  for (auto _ : state) {
    auto fit = g.Fit();
    fit->Newton(2);
    fit->Newton(2);
    calls += fit->ncalls;
    benchmark::DoNotOptimize(fit->par[1].value);
  }
  state.counters["evaluations"] = calls / state.iterations();
}

}  // namespace

// Rates in wall-clock time (the 3D conversion runs in parallel).
BENCHMARK(BM_GX1DEvaluation)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_GX1DFit, 0)->Name("BM_GX1DNewtonFit")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GX1DFit, 1)->Name("BM_GX1DSteepestDescentFit")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_3DGaussianEvaluation)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_3DGaussianNewtonFit)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
