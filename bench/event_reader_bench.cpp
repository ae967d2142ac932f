// Event-file reading at the scale of transport-model output: MB/s of the
// OSCAR2013 reader (plain text and gzip), selection included, on a synthetic
// file of 2·10⁵ particles (about 17 MB of text) written once into $TMPDIR;
// pairs per second of the pair binning on 1 and 2 threads. Rates per
// wall-clock second.
#include <benchmark/benchmark.h>
#include <omp.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "arrays/charray.h"
#include "config/constants.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "math/random.h"
#include "source/pairhistogram.h"
#include "source/sourcecalc_oscar.h"

#ifdef FEMTOKIT_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

const int kEvents = 2000, kParticles = 100;

std::string TmpDir() {
  const char *t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

// The OSCAR2013 text of the synthetic events (Gaussian source, thermal pi+).
std::string EventText() {
  std::string text = "#!OSCAR2013 particle_lists t x y z mass p0 px py pz pdg ID charge\n";
  CRandom rng(5);
  const double m = femtokit::constants::MPI;
  char line[256];
  for (int ev = 0; ev < kEvents; ev++) {
    text += "# event " + std::to_string(ev) + " out " + std::to_string(kParticles) + "\n";
    for (int i = 0; i < kParticles; i++) {
      double p[4];
      const double x = 4 * rng.gauss(), y = 4 * rng.gauss(), z = 5 * rng.gauss(), t = 3 * rng.gauss();
      rng.generate_boltzmann(m, 120.0, p);
      std::snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f %.5f %.6f %.6f %.6f %.6f 211 %d 1\n", t, x, y, z,
                    m / 1000, p[0] / 1000, p[1] / 1000, p[2] / 1000, p[3] / 1000, ev * kParticles + i);
      text += line;
    }
    text += "# event " + std::to_string(ev) + " end 0 impact   0.000\n";
  }
  return text;
}

// Writes the file (plain, or gzip when the name ends in .gz) once; its size in bytes of text.
double EnsureFile(const std::string &name) {
  static const std::string text = EventText();
  struct stat st;
  if (stat(name.c_str(), &st) != 0) {
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) {
#ifdef FEMTOKIT_HAVE_ZLIB
      gzFile f = gzopen(name.c_str(), "wb6");
      gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
      gzclose(f);
#endif
    } else {
      std::FILE *f = std::fopen(name.c_str(), "wb");
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  }
  return static_cast<double>(text.size());
}

void Read(benchmark::State &state, const std::string &name) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const std::string file = TmpDir() + "/" + name;
  const double bytes = EnsureFile(file);
  CSourceCalc_OSCAR c;
  c.SetIDs(211, 211);
  c.SetSPars(400, 50, 0, 360, -0.3, 0.3);
  parameter::set(c.spars, "OSCARfilename", file);
  CSourceCalc_OSCAR::Points ra, rb;
  for (auto _ : state) {
    c.ReadR(ra, rb);
    benchmark::DoNotOptimize(ra.data());
  }
  state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["selected"] = static_cast<double>(ra.size());
}

void BM_ReadOSCAR2013(benchmark::State &state) { Read(state, "femtokit_bench_events.oscar"); }
BENCHMARK(BM_ReadOSCAR2013)->Unit(benchmark::kMillisecond);
#ifdef FEMTOKIT_HAVE_ZLIB
void BM_ReadOSCAR2013Gzip(benchmark::State &state) { Read(state, "femtokit_bench_events.oscar.gz"); }
BENCHMARK(BM_ReadOSCAR2013Gzip)->Unit(benchmark::kMillisecond);
#endif

// Pair binning of 4000 identical points (about 8·10⁶ pairs), LMAX 4; arg: threads.
void BM_PairBinning(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const int n = 4000;
  CRandom rng(3);
  femtokit::PointList p(n);
  for (auto &x : p) x = {0.0, 6.0 * rng.gauss(), 4.0 * rng.gauss(), 5.0 * rng.gauss()};
  omp_set_num_threads(static_cast<int>(state.range(0)));
  CCHArray A(4, 60, 1.0, true, true, true);
  for (auto _ : state) {
    A.ZeroArray();
    femtokit::HistogramPairs(p, p, true, 1.0, &A);
    benchmark::DoNotOptimize(A.GetElement(0, 0, 0, 3));
  }
  state.counters["pairs/s"] = benchmark::Counter(0.5 * n * (n - 1.0), benchmark::Counter::kIsIterationInvariantRate);
  omp_set_num_threads(omp_get_num_procs());
}
BENCHMARK(BM_PairBinning)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
