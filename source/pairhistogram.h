#ifndef FEMTOKIT_SOURCE_PAIRHISTOGRAM_H
#define FEMTOKIT_SOURCE_PAIRHISTOGRAM_H

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

class CCHArray;

namespace femtokit {

// Emission points (t, x, y, z) in fm/c and fm; the pair histograms read the
// spatial components only.
using PointList = std::vector<std::array<double, 4>>;

// What a pair histogram saw: pair counts and the sums of the separation
// components d and of their squares over all pairs (inside the mesh or not).
struct PairSums {
  double pairs = 0.0;   // pairs formed
  double inside = 0.0;  // pairs whose separation falls inside the r mesh
  double sum[3] = {0.0, 0.0, 0.0};
  double sum2[3] = {0.0, 0.0, 0.0};
};

// Adds, for every pair of points, weight times the A-expansion of the
// direction of d = a_i - b_j (spatial parts) to bin floor(|d|/RADSTEP) of A;
// separations at or beyond NRADIAL*RADSTEP are counted but not binned, and a
// pair at zero separation adds its weight to A(0,0,0) of bin 0 only (it has no
// direction). identical: the pairs i > j within a (b is not read); otherwise
// every (i, j) of a x b. A is not zeroed; its lx >= 2 components are rebuilt
// by one FillRemainderX at the end, so it must hold a traceless set.
//
// Each pair adds its monomials ex^lx ey^ly ez^lz (lx <= 1) to its bin; each bin's
// sums are turned into A-expansion coefficients once at the end
// (ArrayCalc::CalcAExpArrayFromMArray, the moments with lx >= 2 following from
// ex^2 = 1 - ey^2 - ez^2). The rows of a are split into a fixed number of
// chunks summed separately and added in order, so the array does not depend on
// the thread count. progress, when given, is called one call at a time and in
// order of i, after every point i of a has been paired with all its partners.
//
// With a partition, the chunks are divided among cooperating processes (the
// ranks of an MPI communicator, source/pairhistogram_mpi.h): each computes
// its own consecutive chunks with its threads, every process receives all
// chunk tables and adds them in chunk order, so that every process holds the
// array one process alone would give, bit for bit, for any number of
// processes and threads. Every process must call with the same lists and
// array shape; progress reports the rows of the process's own chunks.
class PairPartition;
PairSums HistogramPairs(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A,
                        const std::function<void(std::size_t i)> &progress = nullptr,
                        const PairPartition *partition = nullptr);

// Processes that share the work of a pair histogram. Implemented over MPI
// (MPIPartition in source/pairhistogram_mpi.h); any other transport may
// implement it the same way.
class PairPartition {
 public:
  virtual ~PairPartition() = default;
  virtual int Rank() const = 0;
  virtual int Size() const = 0;
  // The chunks of rank r: [First(r, n), First(r + 1, n)) of n chunks.
  static std::size_t First(int rank, int size, std::size_t nchunks) {
    return static_cast<std::size_t>(rank) * nchunks / static_cast<std::size_t>(size);
  }
  // tables holds nchunks blocks of `block` doubles; on entry this process's
  // own blocks are filled, on return every block is, on every process.
  virtual void ShareChunks(std::vector<double> &tables, std::size_t block, std::size_t nchunks) const = 0;
  // Whether every process reports success (a collective logical AND).
  virtual bool AllSucceeded(bool ok) const = 0;
  // Every process receives rank 0's lists and event count.
  virtual void SharePoints(PointList &a, PointList &b, int &events) const = 0;
};

// The same pairs with the direct increment (CCHArray::IncrementAExpArrayFromE
// per pair, rebuilding lx >= 2 every time), single-threaded: the reference of
// the tests and benchmarks. A need not hold a traceless set beforehand.
PairSums HistogramPairsDirect(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A);

}  // namespace femtokit

#endif
