// Source imaging on the main job's meshes (60 q bins of 2 MeV/c, 80 r bins of
// 0.5 fm): a Gaussian source with noise 0.01 per bin imaged on 20 cubic
// B-splines (19 knots give 21; the one not vanishing at the last knot is left out).
//   BM_ImageGCV/positive        strength by GCV over its 111-point grid, S >= 0 (NNLS at each strength)
//   BM_ImageGCV/free            the same without positivity
//   BM_ImageLCurve              strength at the L-curve's corner, S >= 0
//   BM_ImageFixed               one solve at a given strength, S >= 0, with the covariance
// The kernel holds free-boson values (CKernel::Calc_PureHBT): the cost does
// not depend on them.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "arrays/charray.h"
#include "config/output.h"
#include "fit/image.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "math/random.h"
#include "source/sourcecalc_gx1d.h"

namespace {

struct Problem {
  std::unique_ptr<CKernel> kernel;
  femtokit::ImageData data;
  femtokit::ImageOptions options;
  Problem() {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    const std::string kpars = "image_bench_kparameters.dat";
    if (std::FILE *fp = std::fopen(kpars.c_str(), "w")) {
      std::fputs("int NQMAX 60\nint NRMAX 80\nint KLMAX 0\ndouble DELQ 2.0\ndouble DELR 0.5\nbool IDENTICAL 1\n", fp);
      std::fclose(fp);
    }
    kernel = std::make_unique<CKernel>(kpars);
    kernel->Calc_PureHBT();
    CCHArray source(0, 80, 0.5, true, true, true), cf(0, 60, 2.0, true, true, true);
    CSourceCalc_GX1D gx;
    gx.SetSPars(0.6, 4.0, 0.0, 10.0, 5.0);
    gx.CalcS(&source);
    S2CF::s2c(&source, kernel.get(), &cf);
    CRandom random(3);
    for (int iq = 0; iq < 60; iq++) {
      data.q.push_back((iq + 0.5) * 2.0);
      data.cf.push_back(cf.GetElement(0, 0, 0, iq) + 0.01 * random.gauss());
      data.error.push_back(0.01);
    }
    for (int k = 0; k <= 18; k++) options.knots.push_back(30.0 * k / 18);  // 19 knots: 20 cubic B-splines
  }
};

Problem &Shared() {
  static Problem p;
  return p;
}

void Run(benchmark::State &state, femtokit::ImageOptions o) {
  Problem &p = Shared();
  for (auto _ : state) {
    femtokit::ImageResult r = femtokit::Image(*p.kernel, p.data, o);
    benchmark::DoNotOptimize(r.s.data());
  }
  const femtokit::ImageResult r = femtokit::Image(*p.kernel, p.data, o);
  state.counters["basis"] = static_cast<double>(r.coefficients.size());
  state.counters["points"] = static_cast<double>(r.npoints);
}

void BM_ImageGCV(benchmark::State &state) {
  femtokit::ImageOptions o = Shared().options;
  o.positive = state.range(0) != 0;
  state.SetLabel(o.positive ? "positive" : "free");
  Run(state, o);
}
BENCHMARK(BM_ImageGCV)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ImageLCurve(benchmark::State &state) {
  femtokit::ImageOptions o = Shared().options;
  o.criterion = femtokit::ImageCriterion::LCurve;
  Run(state, o);
}
BENCHMARK(BM_ImageLCurve)->Unit(benchmark::kMillisecond);

void BM_ImageFixed(benchmark::State &state) {
  femtokit::ImageOptions o = Shared().options;
  o.criterion = femtokit::ImageCriterion::Fixed;
  o.alpha = 1e-3;
  Run(state, o);
}
BENCHMARK(BM_ImageFixed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
