#include "source/pairhistogram.h"

#include "arrays/charray.h"
#include "math/random.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

femtokit::PointList RandomPoints(CRandom &rng, int n, double scale) {
  femtokit::PointList p(static_cast<std::size_t>(n));
  for (auto &x : p) x = {rng.gauss(), scale * rng.gauss(), scale * rng.gauss(), 1.3 * scale * rng.gauss()};
  return p;
}

}  // namespace

TEST(PairHistogram, BinnedMomentsMatchTheDirectIncrementAtAnyThreadCount) {
  CRandom rng(7);
  const femtokit::PointList a = RandomPoints(rng, 120, 3.0), b = RandomPoints(rng, 90, 4.0);
  for (bool identical : {true, false})
    for (bool sym : {true, false}) {
      CCHArray fast(5, 20, 0.8, sym, false, sym), direct(5, 20, 0.8, sym, false, sym), serial(5, 20, 0.8, sym, false, sym);
      const femtokit::PairSums s = femtokit::HistogramPairs(a, b, identical, 0.5, &fast);
      const femtokit::PairSums d = femtokit::HistogramPairsDirect(a, b, identical, 0.5, &direct);
      omp_set_num_threads(1);
      femtokit::HistogramPairs(a, b, identical, 0.5, &serial);
      omp_set_num_threads(omp_get_num_procs());

      // Counts and moments by brute force.
      double pairs = 0, inside = 0, sum0 = 0, sum2z = 0;
      for (std::size_t i = 0; i < a.size(); i++)
        for (std::size_t j = 0; j < (identical ? i : b.size()); j++) {
          const auto &o = identical ? a[j] : b[j];
          pairs += 1;
          inside += std::hypot(a[i][1] - o[1], a[i][2] - o[2], a[i][3] - o[3]) < 16.0;
          sum0 += a[i][1] - o[1];
          sum2z += (a[i][3] - o[3]) * (a[i][3] - o[3]);
        }
      EXPECT_EQ(s.pairs, pairs);
      EXPECT_EQ(s.inside, inside);
      EXPECT_EQ(d.inside, inside);
      EXPECT_NEAR(s.sum[0], sum0, 1e-9);
      EXPECT_NEAR(s.sum2[2], sum2z, 1e-9 * sum2z);
      fast.ForEachTriple([&](int lx, int ly, int lz) {
        for (int ir = 0; ir < 20; ir++) {
          const double v = fast.GetElement(lx, ly, lz, ir), ref = direct.GetElement(lx, ly, lz, ir);
          ASSERT_NEAR(v, ref, 1e-12 * std::fabs(direct.GetElement(0, 0, 0, ir))) << lx << ly << lz << " " << ir;
          ASSERT_EQ(v, serial.GetElement(lx, ly, lz, ir));
        }
      });
    }
}

TEST(PairHistogram, CoincidentPointsAndFarPairs) {
  // Two points at the same place have no direction: their weight goes to the
  // isotropic part of bin 0. A pair beyond the mesh is counted, not binned.
  const femtokit::PointList a = {{0, 1, 2, 3}, {0, 1, 2, 3}, {0, 100, 2, 3}};
  CCHArray A(3, 10, 1.0, false, false, false);
  const femtokit::PairSums s = femtokit::HistogramPairs(a, a, true, 2.0, &A);
  EXPECT_EQ(s.pairs, 3.0);
  EXPECT_EQ(s.inside, 1.0);
  A.ForEachTriple([&](int lx, int ly, int lz) {
    for (int ir = 0; ir < 10; ir++)
      ASSERT_EQ(A.GetElement(lx, ly, lz, ir), lx + ly + lz == 0 && ir == 0 ? 2.0 : 0.0) << lx << ly << lz << ir;
  });
}

namespace {

// Ranks simulated by threads of one process: each thread bins its chunks and
// posts them on a shared board; ShareChunks returns when every rank has posted.
struct Board {
  std::mutex mutex;
  std::condition_variable all;
  std::vector<double> tables;
  int posted = 0;
};

class ThreadPartition : public femtokit::PairPartition {
 public:
  ThreadPartition(Board &board, int rank, int size) : board_(board), rank_(rank), size_(size) {}
  int Rank() const override { return rank_; }
  int Size() const override { return size_; }
  void ShareChunks(std::vector<double> &tables, std::size_t block, std::size_t nchunks) const override {
    std::unique_lock<std::mutex> lock(board_.mutex);
    board_.tables.resize(tables.size());
    const std::size_t begin = First(rank_, size_, nchunks) * block, end = First(rank_ + 1, size_, nchunks) * block;
    std::copy(tables.begin() + begin, tables.begin() + end, board_.tables.begin() + begin);
    if (++board_.posted == size_) board_.all.notify_all();
    board_.all.wait(lock, [&] { return board_.posted == size_; });
    tables = board_.tables;
  }
  bool AllSucceeded(bool ok) const override { return ok; }
  void SharePoints(femtokit::PointList &, femtokit::PointList &, int &) const override {}

 private:
  Board &board_;
  int rank_, size_;
};

}  // namespace

TEST(PairHistogram, ProcessesSharingTheChunksGiveTheOneProcessArrayBitForBit) {
  CRandom rng(9);
  const femtokit::PointList a = RandomPoints(rng, 700, 3.0), b = RandomPoints(rng, 300, 4.0);
  for (bool identical : {true, false}) {
    CCHArray one(4, 25, 0.7, false, false, false);
    const femtokit::PairSums s1 = femtokit::HistogramPairs(a, b, identical, 1.0, &one);
    for (int size : {2, 3, 200}) {  // 200 ranks: more than the chunks, some ranks have none
      Board board;
      std::vector<std::unique_ptr<CCHArray>> arrays;
      for (int r = 0; r < size; r++) arrays.push_back(std::make_unique<CCHArray>(4, 25, 0.7, false, false, false));
      std::vector<femtokit::PairSums> sums(static_cast<std::size_t>(size));
      std::vector<std::thread> ranks;
      for (int r = 0; r < size; r++)
        ranks.emplace_back([&, r] {
          const ThreadPartition part(board, r, size);
          sums[static_cast<std::size_t>(r)] =
              femtokit::HistogramPairs(a, b, identical, 1.0, arrays[static_cast<std::size_t>(r)].get(), nullptr, &part);
        });
      for (std::thread &t : ranks) t.join();
      for (int r = 0; r < size; r++) {
        EXPECT_EQ(sums[static_cast<std::size_t>(r)].pairs, s1.pairs);
        EXPECT_EQ(sums[static_cast<std::size_t>(r)].sum2[1], s1.sum2[1]);
        one.ForEachTriple([&](int lx, int ly, int lz) {
          for (int ir = 0; ir < 25; ir++)
            ASSERT_EQ(arrays[static_cast<std::size_t>(r)]->GetElement(lx, ly, lz, ir), one.GetElement(lx, ly, lz, ir))
                << size << " ranks, rank " << r << ": " << lx << ly << lz << " " << ir;
        });
      }
    }
  }
}
