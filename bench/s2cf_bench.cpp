// The source-to-correlation transform and a fit's source-only re-evaluation on
// the main job's meshes (data/pp: 60 q bins x 80 r bins, LMAX 4, identical
// particles, so 6 stored components and 28,800 multiply-adds per transform):
//   BM_S2C                          S2CF::s2c;
//   BM_S2CStraightforward           the element-wise form it replaces (per
//                                   element bounds-checked accessors, weight
//                                   recomputed per element), kept here;
//   BM_S2CMultiplyAdds              the 28,800 multiply-adds alone, on rows
//                                   prepared beforehand: the floor;
//   BM_SourceReevaluation           new parameters, GX1D fill, s2c and chi^2,
//                                   what a fit does per source evaluation;
//   BM_SourceReevaluationStraightforward  the same with the straightforward
//                                   fill (parameter look-ups and pow per
//                                   element) and transform.
// The kernel holds free-boson values (CKernel::Calc_PureHBT): the cost does
// not depend on them. Counter "s/madd": time per multiply-add of the transform.

#include <benchmark/benchmark.h>
#include <gsl/gsl_sf_bessel.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "arrays/charray.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "fit/cfcalc.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "source/sourcecalc_gx1d.h"

namespace {

const double kFourPi = 12.566370614359172;

std::string DataFile(const char *name) { return std::string(FEMTOKIT_SOURCE_DIR) + "/data/pp/" + name; }

struct MainJob {
  CCHArray source{DataFile("aparsCH_source.dat")};
  CCHArray CFtheory{DataFile("aparsCH_CF.dat")};
  CCHArray CFexp{DataFile("aparsCH_CF.dat")};
  CCHArray CFerror{DataFile("aparsCH_CF.dat")};
  CKernel kernel{DataFile("kparameters.dat")};
  CSourceCalc_GX1D gx;
  MainJob() {
    kernel.Calc_PureHBT();
    gx.SetSPars(0.6, 5.0, 0.0, 10.0, 5.0);
    gx.CalcS(&source);
    S2CF::s2c(&source, &kernel, &CFtheory);
    for (int iq = 0; iq < CFexp.GetNRADIAL(); ++iq)
      CFexp.ForEachTriple(CFexp.GetLMAX(), 1, [&](int lx, int ly, int lz) {
        CFexp.SetElement(lx, ly, lz, iq, CFtheory.GetElement(lx, ly, lz, iq) * 1.01);
        CFerror.SetElement(lx, ly, lz, iq, 0.05 / (iq + 1));
      });
  }
  double MultiplyAdds() const {
    int components = 0;
    CFtheory.ForEachTriple(kernel.GetLMAX(), 1, [&](int, int, int) { ++components; });
    return double(components) * kernel.GetNQMAX() * kernel.GetNRMAX();
  }
};

MainJob &Job() {
  static std::unique_ptr<MainJob> job;
  if (!job) {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    job = std::make_unique<MainJob>();
  }
  return *job;
}

// ---- The straightforward forms (the library's before the speed work) ----

void S2CStraightforward(CCHArray *sourceCH, CKernel *kernel, CCHArray *CF) {
  const int Lk = kernel->GetLMAX();
  CF->ZeroArray();
  const int dlx = CF->GetXSYM() ? 2 : 1, dly = CF->GetYSYM() ? 2 : 1, dlz = CF->GetZSYM() ? 2 : 1;
  const double delr = sourceCH->GetRADSTEP();
  for (int iq = 0; iq < CF->GetNRADIAL(); ++iq)
    for (int lx = 0; lx <= 1 && lx <= Lk; lx += dlx)
      for (int ly = 0; ly <= Lk - lx; ly += dly)
        for (int lz = 0; lz <= Lk - lx - ly; lz += dlz)
          for (int ir = 0; ir < sourceCH->GetNRADIAL(); ++ir) {
            const double r = (ir + 0.5) * delr;
            const double w = kFourPi * r * r * delr;
            CF->IncrementElement(lx, ly, lz, iq,
                                 (w * kernel->GetValue(lx + ly + lz, iq, ir)) * sourceCH->GetElement(lx, ly, lz, ir));
          }
}

void GX1DStraightforward(const parameterMap &spars, const CSourceCalc_GX1D &gx, CCHArray *A) {
  const int dlx = A->GetXSYM() ? 2 : 1, dly = A->GetYSYM() ? 2 : 1, dlz = A->GetZSYM() ? 2 : 1;
  const int lmax = A->GetLMAX();
  for (int lx = 0; lx <= 1; lx += dlx)
    for (int ly = 0; lx + ly <= lmax; ly += dly)
      for (int lz = 0; lx + ly + lz <= lmax; lz += dlz) {
        const double lambdaG = parameter::getD(spars, "lambdaG", 0.3);
        const double R = parameter::getD(spars, "R", 5.0);
        const double lambdaX = parameter::getD(spars, "lambdaX", 0.3);
        const double X = parameter::getD(spars, "X", 10.0);
        const double a = parameter::getD(spars, "a", 5.0);
        const double NG = std::pow(kFourPi * R * R, -1.5);
        const double u = 2.0 * R * R / (X * X);
        const double NX =
            1.0 / (kFourPi * X * X * X * (2.0 * u * gsl_sf_bessel_K1_scaled(u) + u * u * gsl_sf_bessel_K0_scaled(u)));
        const int L = lx + ly + lz;
        for (int ir = 0; ir < A->GetNRADIAL(); ++ir) {
          const double r = (ir + 0.5) * A->GetRADSTEP(), r2 = r * r;
          const double rx2 = r2 / (X * X);
          double S = lambdaG * NG * std::exp(-r2 / (4.0 * R * R)) +
                     lambdaX * NX * std::exp(-rx2 / (u + std::sqrt(u * u + rx2)));
          if (L > 0) S *= std::pow(r2 / (r2 + a * a), 0.5 * L);
          A->SetElement(lx, ly, lz, ir, S);
        }
      }
  A->FillRemainderX();
  benchmark::DoNotOptimize(gx.LostFraction(A->GetNRADIAL() * A->GetRADSTEP()));  // the mesh-reach check
}

// ---- Benchmarks ----

void SetCounters(benchmark::State &state, double madds) {
  state.counters["s/madd"] =
      benchmark::Counter(madds * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_S2C(benchmark::State &state) {
  MainJob &job = Job();
  for (auto _ : state) {
    S2CF::s2c(&job.source, &job.kernel, &job.CFtheory);
    benchmark::ClobberMemory();
  }
  SetCounters(state, job.MultiplyAdds());
}

void BM_S2CStraightforward(benchmark::State &state) {
  MainJob &job = Job();
  for (auto _ : state) {
    S2CStraightforward(&job.source, &job.kernel, &job.CFtheory);
    benchmark::ClobberMemory();
  }
  SetCounters(state, job.MultiplyAdds());
}

void BM_S2CMultiplyAdds(benchmark::State &state) {
  MainJob &job = Job();
  const int nq = job.kernel.GetNQMAX(), nr = job.kernel.GetNRMAX();
  std::vector<const double *> rows;
  std::vector<std::vector<double>> ws;
  job.CFtheory.ForEachTriple(job.kernel.GetLMAX(), 1, [&](int lx, int ly, int lz) {
    rows.push_back(job.kernel.Table(lx + ly + lz));
    ws.emplace_back(job.source.Row(lx, ly, lz), job.source.Row(lx, ly, lz) + nr);
  });
  std::vector<double> out(rows.size() * nq);
  for (auto _ : state) {
    for (std::size_t c = 0; c < rows.size(); ++c) {
      const double *w = ws[c].data();
      for (int iq = 0; iq < nq; ++iq) {
        const double *row = rows[c] + static_cast<std::size_t>(iq) * nr;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        int ir = 0;
        for (; ir + 4 <= nr; ir += 4) {
          s0 += row[ir] * w[ir];
          s1 += row[ir + 1] * w[ir + 1];
          s2 += row[ir + 2] * w[ir + 2];
          s3 += row[ir + 3] * w[ir + 3];
        }
        for (; ir < nr; ++ir) s0 += row[ir] * w[ir];
        out[c * nq + iq] = (s0 + s1) + (s2 + s3);
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, job.MultiplyAdds());
}

void BM_SourceReevaluation(benchmark::State &state) {
  MainJob &job = Job();
  int n = 0;
  double chi2 = 0.0;
  for (auto _ : state) {
    job.gx.SetSPars(0.6, 5.0 + 0.01 * (n++ % 2), 0.0, 10.0, 5.0);
    job.gx.CalcS(&job.source);
    S2CF::s2c(&job.source, &job.kernel, &job.CFtheory);
    chi2 += CFCalc::GetChiSquared(0, 0, 0, &job.CFexp, &job.CFerror, &job.CFtheory);
  }
  benchmark::DoNotOptimize(chi2);
}

void BM_SourceReevaluationStraightforward(benchmark::State &state) {
  MainJob &job = Job();
  int n = 0;
  double chi2 = 0.0;
  parameterMap spars;
  for (auto _ : state) {
    parameter::set(spars, "lambdaG", 0.6);
    parameter::set(spars, "R", 5.0 + 0.01 * (n++ % 2));
    parameter::set(spars, "lambdaX", 0.0);
    parameter::set(spars, "X", 10.0);
    parameter::set(spars, "a", 5.0);
    job.gx.SetSPars(0.6, 5.0 + 0.01 * (n % 2), 0.0, 10.0, 5.0);
    GX1DStraightforward(spars, job.gx, &job.source);
    S2CStraightforward(&job.source, &job.kernel, &job.CFtheory);
    chi2 += CFCalc::GetChiSquared(0, 0, 0, &job.CFexp, &job.CFerror, &job.CFtheory);
  }
  benchmark::DoNotOptimize(chi2);
}

}  // namespace

BENCHMARK(BM_S2C)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_S2CStraightforward)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_S2CMultiplyAdds)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SourceReevaluation)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SourceReevaluationStraightforward)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
