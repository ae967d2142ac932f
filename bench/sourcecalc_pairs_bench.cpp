// Pair loops of the blast-wave and event-file sources: the pair histogram
// (monomials of each pair's direction summed per r bin, one conversion to
// A-expansion coefficients per bin, chunks of rows on the threads) against
// the direct increment (IncrementAExpArrayFromE per pair, rebuilding lx >= 2
// each time); pairs per second. Args: LMAX, threads (binned form only).
// Also the whole blast-wave fill of the shipped pion parameters (1000 points,
// 499500 pairs, LMAX 4) and the event-file source on the shipped synthetic
// events (data/oscar: reading, selection and pairs) at 1 and 2 threads. Rates
// are per wall-clock second.
#include <benchmark/benchmark.h>
#include <omp.h>

#include "arrays/charray.h"
#include "config/output.h"
#include "math/random.h"
#include "source/pairhistogram.h"
#include "source/sourcecalc_blast.h"
#include "source/sourcecalc_oscar.h"

#include <string>

namespace {

const int kPoints = 1000;  // 499500 pairs of identical particles

femtokit::PointList Points() {
  CRandom rng(11);
  femtokit::PointList p(kPoints);
  for (auto &x : p) x = {0.0, 6.0 * rng.gauss(), 4.0 * rng.gauss(), 5.0 * rng.gauss()};
  return p;
}

void Pairs(benchmark::State &state, bool binned) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const femtokit::PointList p = Points();
  const int lmax = static_cast<int>(state.range(0));
  omp_set_num_threads(binned ? static_cast<int>(state.range(1)) : 1);
  CCHArray A(lmax, 60, 1.0, true, true, true);
  for (auto _ : state) {
    A.ZeroArray();
    if (binned)
      femtokit::HistogramPairs(p, p, true, 1.0, &A);
    else
      femtokit::HistogramPairsDirect(p, p, true, 1.0, &A);
    benchmark::DoNotOptimize(A.GetElement(0, 0, 0, 3));
  }
  state.counters["pairs/s"] =
      benchmark::Counter(0.5 * kPoints * (kPoints - 1), benchmark::Counter::kIsIterationInvariantRate);
  omp_set_num_threads(omp_get_num_procs());
}

void BM_PairsBinned(benchmark::State &state) { Pairs(state, true); }
void BM_PairsDirect(benchmark::State &state) { Pairs(state, false); }

void BM_BlastFillPions(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  omp_set_num_threads(static_cast<int>(state.range(0)));
  CSourceCalc_Blast blast;
  blast.SetSPars(0.5, 13.0, 9.0, 2.0, 0.7, 110.0, 600.0, 1.5, 139.58, 139.58);
  CCHArray A(4, 100, 0.5, true, true, true);
  for (auto _ : state) blast.CalcS(&A);
  state.counters["pairs/s"] = benchmark::Counter(499500.0, benchmark::Counter::kIsIterationInvariantRate);
  omp_set_num_threads(omp_get_num_procs());
}

void BM_EventFileFill(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  omp_set_num_threads(static_cast<int>(state.range(0)));
  const std::string data = std::string(FEMTOKIT_SOURCE_DIR) + "/data/oscar/";
  CSourceCalc_OSCAR source;
  parameter::ReadParsFromFile(source.spars, data + "oscarparameters.dat");
  parameter::set(source.spars, "OSCARfilename", data + "gauss_events.oscar");
  CCHArray A((data + "aparameters.dat").c_str());
  double pairs = 0.0;
  for (auto _ : state) {
    source.CalcS(&A);
    pairs = source.LastSummary().pairs;
  }
  state.counters["pairs/s"] = benchmark::Counter(pairs, benchmark::Counter::kIsIterationInvariantRate);
  omp_set_num_threads(omp_get_num_procs());
}

}  // namespace

BENCHMARK(BM_PairsBinned)->Args({4, 1})->Args({4, 2})->Args({8, 1})->Args({8, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PairsDirect)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlastFillPions)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EventFileFill)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
