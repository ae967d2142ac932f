// Run under mpirun with any number of ranks: the pair histogram shared among
// the ranks (femtokit::HistogramPairs with a communicator, and the event-file
// source with an MPI partition) must give every rank the one-process array
// bit for bit. Exit status 0 when it does; each mismatch is printed.
#include <mpi.h>

#include <cstdio>
#include <string>

#include "arrays/charray.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "math/random.h"
#include "source/pairhistogram_mpi.h"
#include "source/sourcecalc_oscar.h"

namespace {

int Compare(const CCHArray &x, const CCHArray &y, const char *what, int rank) {
  int bad = 0;
  x.ForEachTriple([&](int lx, int ly, int lz) {
    for (int ir = 0; ir < x.GetNRADIAL(); ir++)
      if (x.GetElement(lx, ly, lz, ir) != y.GetElement(lx, ly, lz, ir) && bad++ < 5)
        std::fprintf(stderr, "rank %d, %s: A(%d,%d,%d) bin %d: %.17g, one process %.17g\n", rank, what, lx, ly, lz,
                     ir, x.GetElement(lx, ly, lz, ir), y.GetElement(lx, ly, lz, ir));
  });
  return bad;
}

}  // namespace

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  if (rank > 0) femtokit::SetOutput([](femtokit::Verbosity, const std::string &) {});
  int bad = 0;

  // Random points, identical and unlike.
  CRandom rng(17);
  femtokit::PointList a(900), b(400);
  for (auto &p : a) p = {0.0, 4 * rng.gauss(), 5 * rng.gauss(), 6 * rng.gauss()};
  for (auto &p : b) p = {0.0, 5 * rng.gauss(), 3 * rng.gauss(), 4 * rng.gauss()};
  for (bool identical : {true, false}) {
    CCHArray one(4, 40, 0.5, false, false, false), shared(4, 40, 0.5, false, false, false);
    const femtokit::PairSums s1 = femtokit::HistogramPairs(a, b, identical, 1.0, &one);
    const femtokit::PairSums s2 = femtokit::HistogramPairs(a, b, identical, 1.0, &shared, MPI_COMM_WORLD);
    bad += Compare(shared, one, identical ? "identical points" : "unlike points", rank);
    bad += s1.pairs != s2.pairs || s1.sum[2] != s2.sum[2] || s1.inside != s2.inside;
  }

  // The event-file source on the shipped file: rank 0 reads, every rank bins.
  if (argc > 1) {
    CSourceCalc_OSCAR alone, together;
    for (CSourceCalc_OSCAR *c : {&alone, &together}) {
      c->ReadSPars(std::string(argv[1]) + "/oscarparameters.dat");
      parameter::set(c->spars, "OSCARfilename", std::string(argv[1]) + "/gauss_events.oscar");
    }
    together.SetPartition(femtokit::MPIPartition(MPI_COMM_WORLD));
    CCHArray one(4, 60, 1.0, true, true, true), shared(4, 60, 1.0, true, true, true);
    alone.CalcS(&one);
    together.CalcS(&shared);
    bad += Compare(shared, one, "event file", rank);
    bad += alone.LastSummary().na != together.LastSummary().na || alone.LastSummary().na < 100;
  }

  int total = 0;
  MPI_Allreduce(&bad, &total, 1, MPI_INT, MPI_SUM, MPI_COMM_WORLD);
  if (rank == 0) std::printf("%d ranks: %s\n", size, total == 0 ? "every rank holds the one-process arrays" : "MISMATCH");
  MPI_Finalize();
  return total == 0 ? 0 : 1;
}
