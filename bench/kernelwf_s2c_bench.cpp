// The 3D transform through CKernelWF: a Gaussian source on 20^3 stored cells
// of 1 fm with all three symmetries (visited over both sign blocks: 64000
// cells) into a CF of 6^3 cells of 5 MeV/c (216), 13.8 million kernel
// lookups, each trilinear in q, r and cos theta. Reported as cells^2/s
// (source cells visited times CF cells, per second). Arg: threads.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "arrays/array3d.h"
#include "config/output.h"
#include "fit/s2cf.h"
#include "kernel/kernelwf.h"

namespace {

void BM_S2C3D(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const std::string pars = "/tmp/femtokit_bench_kernelwf.dat";
  if (std::FILE *fp = std::fopen(pars.c_str(), "w")) {
    std::fputs("int NQMAX 40\nint NRMAX 150\nint NCTHETA 100\ndouble DELQ 1.5\ndouble DELR 0.25\nbool IDENTICAL 1\n", fp);
    std::fclose(fp);
  }
  CKernelWF kernel(pars);
  kernel.Calc_PureHBT();
  C3DArray S(20, 1.0, true, true, true), CF(6, 5.0, true, true, true);
  for (int ix = 0; ix < 20; ix++)
    for (int iy = 0; iy < 20; iy++)
      for (int iz = 0; iz < 20; iz++) {
        const double x = ix + 0.5, y = iy + 0.5, z = iz + 0.5;
        S.SetElement(0, ix, 0, iy, 0, iz, std::exp(-(x * x + y * y + z * z) / 64.0));
      }
  omp_set_num_threads(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    S2CF::s2c(&S, &kernel, &CF);
    benchmark::DoNotOptimize(CF.GetElement(0, 1, 0, 1, 0, 1));
  }
  omp_set_num_threads(omp_get_num_procs());
  state.counters["cells^2/s"] = benchmark::Counter(64000.0 * 216.0, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_S2C3D)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
