// The 3D Gaussian source on the main job's source mesh (LMAX 4, 80 bins of
// 0.5 fm; data/pp/aparsCH_source.dat), with and without symmetry flags:
// - one harmonic fill by the shell quadrature (CalcS) beside the rank-55
//   exponential series it replaces (CalcS_Series), axis-aligned radii 4, 5,
//   6 fm and, without symmetry, the same source turned by Euler angles;
// - a whole 4-parameter Newton fit (lambda, Rx, Ry, Rz; two runs of
//   Newton(2)) of a 3D correlation function on 10^3 cells of 5 MeV/c through
//   the main job's kernel mesh (60 q bins of 2 MeV/c; free identical bosons,
//   whose cost equals any kernel's), each fill by either path.
// Output is quiet.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "femtokit.h"

namespace {

const std::string kPars = std::string(FEMTOKIT_SOURCE_DIR) + "/data/pp";

// A source array shaped like the main job's, with or without the symmetry flags.
std::unique_ptr<CCHArray> SourceArray(bool symmetric) {
  CCHArray like(kPars + "/aparsCH_source.dat");
  return std::make_unique<CCHArray>(like.GetLMAX(), like.GetNRADIAL(), like.GetRADSTEP(), symmetric, symmetric,
                                    symmetric);
}

// Quadrature (kSeries = 0) or series (1) fill; arguments: symmetric, turned.
template <int kSeries>
void BM_Gauss3DFill(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const bool symmetric = state.range(0) != 0, turned = state.range(1) != 0;
  auto A = SourceArray(symmetric);
  CSourceCalc_Gaussian g;
  if (turned)
    g.SetSPars(0.8, 4.0, 5.0, 6.0, 0.0, 0.0, 0.0, 0.3, 0.5, -0.2);
  else
    g.SetSPars(0.8, 4.0, 5.0, 6.0);
  int i = 0;
  for (auto _ : state) {
    parameter::set(g.spars, "Rx", 4.0 + 0.01 * (i++ % 7));
    if (kSeries)
      g.CalcS_Series(A.get());
    else
      g.CalcS(A.get());
    benchmark::DoNotOptimize(A->Data());
  }
}

// A Gaussian source fill through one path, for the fit.
class SeriesGaussian : public CSourceCalc_Gaussian {
 public:
  void CalcS(CCHArray *A) override { CalcS_Series(A); }
};

template <int kSeries>
void BM_Gauss3DNewtonFit(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const bool symmetric = state.range(0) != 0;
  CKernel kernel(kPars + "/kparameters.dat");
  kernel.Calc_PureHBT();
  auto source = SourceArray(symmetric);
  CCHArray ctheoryCH(kernel.GetLMAX(), kernel.GetNQMAX(), kernel.GetDELQ(), true, true, true);
  C3DArray cexp(10, 5.0, true, true, true), cerror(10, 5.0, true, true, true), ctheory(10, 5.0, true, true, true);
  const double hbarc = femtokit::constants::HBARC;
  for (int ix = 0; ix < 10; ix++)
    for (int iy = 0; iy < 10; iy++)
      for (int iz = 0; iz < 10; iz++) {
        const double qx = (ix + 0.5) * 5, qy = (iy + 0.5) * 5, qz = (iz + 0.5) * 5;
        cexp.SetElement(0, ix, 0, iy, 0, iz,
                        0.7 * std::exp(-4 * (16 * qx * qx + 25 * qy * qy + 36 * qz * qz) / (hbarc * hbarc)));
        cerror.SetElement(0, ix, 0, iy, 0, iz, 0.005);
      }
  std::unique_ptr<CSourceCalc_Gaussian> calc;
  if (kSeries)
    calc = std::make_unique<SeriesGaussian>();
  else
    calc = std::make_unique<CSourceCalc_Gaussian>();
  double calls = 0.0;
  for (auto _ : state) {
    calc->SetSPars(0.6, 4.5, 4.5, 4.5);
    CCF2SFit_3DGaussian fit(calc.get(), &cexp, &cerror, &ctheory, &ctheoryCH, source.get(), &kernel);
    fit.FixPar("Xoff");
    fit.Newton(2);
    fit.Newton(2);
    calls += fit.ncalls;
    benchmark::DoNotOptimize(fit.par[1].value);
  }
  state.counters["evaluations"] = calls / state.iterations();
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Gauss3DFill, 0)
    ->Name("BM_Gauss3DFillQuadrature")
    ->ArgNames({"sym", "turned"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Gauss3DFill, 1)
    ->Name("BM_Gauss3DFillSeries")
    ->ArgNames({"sym", "turned"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Gauss3DNewtonFit, 0)
    ->Name("BM_Gauss3DNewtonFitQuadrature")
    ->ArgNames({"sym"})
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Gauss3DNewtonFit, 1)
    ->Name("BM_Gauss3DNewtonFitSeries")
    ->ArgNames({"sym"})
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
