#include "source/pairhistogram_mpi.h"

#ifdef FEMTOKIT_HAVE_MPI

#include <climits>
#include <cstdint>
#include <vector>

#include "config/fatal.h"

namespace femtokit {

namespace {

// MPI counts are ints: larger transfers go in pieces of at most this many doubles.
constexpr std::size_t kPiece = std::size_t(1) << 27;

void Check(int code, const char *what) {
  if (code != MPI_SUCCESS) Fatal("MPI: %s failed (error %d)\n", what, code);
}

void BroadcastDoubles(double *data, std::size_t n, MPI_Comm comm) {
  for (std::size_t at = 0; at < n; at += kPiece) {
    const std::size_t len = n - at < kPiece ? n - at : kPiece;
    Check(MPI_Bcast(data + at, static_cast<int>(len), MPI_DOUBLE, 0, comm), "MPI_Bcast of the particle lists");
  }
}

class MPIPartitionImpl : public PairPartition {
 public:
  explicit MPIPartitionImpl(MPI_Comm comm) : comm_(comm) {
    Check(MPI_Comm_rank(comm, &rank_), "MPI_Comm_rank");
    Check(MPI_Comm_size(comm, &size_), "MPI_Comm_size");
  }
  int Rank() const override { return rank_; }
  int Size() const override { return size_; }

  void ShareChunks(std::vector<double> &tables, std::size_t block, std::size_t nchunks) const override {
    // Each rank's blocks are consecutive; gathered rank by rank in place.
    std::vector<int> counts(static_cast<std::size_t>(size_)), offsets(static_cast<std::size_t>(size_));
    for (int r = 0; r < size_; r++) {
      const std::uint64_t begin = First(r, size_, nchunks) * block, end = First(r + 1, size_, nchunks) * block;
      if (end > static_cast<std::uint64_t>(INT_MAX))
        Fatal("MPI: the pair histogram's chunk tables (%llu values) are too large to gather in one call\n",
              static_cast<unsigned long long>(tables.size()));
      offsets[static_cast<std::size_t>(r)] = static_cast<int>(begin);
      counts[static_cast<std::size_t>(r)] = static_cast<int>(end - begin);
    }
    Check(MPI_Allgatherv(MPI_IN_PLACE, 0, MPI_DATATYPE_NULL, tables.data(), counts.data(), offsets.data(), MPI_DOUBLE,
                         comm_),
          "MPI_Allgatherv of the pair chunk tables");
  }

  bool AllSucceeded(bool ok) const override {
    int mine = ok ? 1 : 0, all = 0;
    Check(MPI_Allreduce(&mine, &all, 1, MPI_INT, MPI_LAND, comm_), "MPI_Allreduce");
    return all != 0;
  }

  void SharePoints(PointList &a, PointList &b, int &events) const override {
    unsigned long long sizes[3] = {a.size(), b.size(), static_cast<unsigned long long>(events)};
    Check(MPI_Bcast(sizes, 3, MPI_UNSIGNED_LONG_LONG, 0, comm_), "MPI_Bcast of the list sizes");
    a.resize(sizes[0]);
    b.resize(sizes[1]);
    events = static_cast<int>(sizes[2]);
    BroadcastDoubles(a.empty() ? nullptr : a.data()->data(), 4 * a.size(), comm_);
    BroadcastDoubles(b.empty() ? nullptr : b.data()->data(), 4 * b.size(), comm_);
  }

 private:
  MPI_Comm comm_;
  int rank_ = 0, size_ = 1;
};

}  // namespace

std::shared_ptr<const PairPartition> MPIPartition(MPI_Comm comm) { return std::make_shared<MPIPartitionImpl>(comm); }

PairSums HistogramPairs(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A,
                        MPI_Comm comm) {
  const MPIPartitionImpl partition(comm);
  return HistogramPairs(a, b, identical, weight, A, nullptr, &partition);
}

}  // namespace femtokit

#endif
