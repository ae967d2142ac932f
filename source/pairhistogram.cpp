#include "source/pairhistogram.h"

#include <cmath>

#include "arrays/charray.h"
#include "config/fatal.h"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace femtokit {

namespace {

// Radial bins are handed to threads in blocks of this many (one cache line of
// a component's radial profile), so threads do not write to shared lines.
constexpr int kBinBlock = 8;

// Calls f(dx, dy, dz) for every pair in the fixed order: i outer, j inner.
template <class F, class G>
void ForEachPair(const PointList &a, const PointList &b, bool identical, F &&f, G &&after_row) {
  const std::size_t na = a.size();
  for (std::size_t i = 0; i < na; i++) {
    const std::array<double, 4> &p = a[i];
    const PointList &other = identical ? a : b;
    const std::size_t nj = identical ? i : b.size();
    for (std::size_t j = 0; j < nj; j++) {
      const std::array<double, 4> &o = other[j];
      f(p[1] - o[1], p[2] - o[2], p[3] - o[3]);
    }
    after_row(i);
  }
}

void Count(PairSums &sums, double dx, double dy, double dz) {
  sums.pairs += 1.0;
  sums.sum[0] += dx;
  sums.sum[1] += dy;
  sums.sum[2] += dz;
  sums.sum2[0] += dx * dx;
  sums.sum2[1] += dy * dy;
  sums.sum2[2] += dz * dz;
}

template <class Increment>
PairSums Histogram(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A,
                   int nthreads, const std::function<void(std::size_t)> &progress, Increment &&increment) {
  const double delr = A->GetRADSTEP();
  const int nr = A->GetNRADIAL();
  const double reach = nr * delr;
  PairSums total;
  ParallelErrors errors;
  (void)nthreads;  // unused without OpenMP
#pragma omp parallel num_threads(nthreads)
  {
#ifdef _OPENMP
    const int tid = omp_get_thread_num(), nt = omp_get_num_threads();
#else
    const int tid = 0, nt = 1;
#endif
    errors.Run([&] {
      PairSums sums;
      double mine = 0.0;
      ForEachPair(a, b, identical, [&](double dx, double dy, double dz) {
        if (tid == 0) Count(sums, dx, dy, dz);
        const double s = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (!(s < reach)) return;  // beyond the mesh, or not a number
        const int ir = static_cast<int>(s / delr);
        if (ir >= nr || (ir / kBinBlock) % nt != tid) return;
        mine += 1.0;
        if (s == 0.0)
          A->IncrementElement(0, 0, 0, 0, weight);
        else
          increment(dx / s, dy / s, dz / s, ir);
      }, [&](std::size_t i) {
        if (tid == 0 && progress) progress(i);
      });
#pragma omp critical(femtokit_pair_histogram)
      {
        if (tid == 0) {
          const double keep = total.inside;
          total = sums;
          total.inside = keep;
        }
        total.inside += mine;
      }
    });
  }
  errors.Rethrow();
  return total;
}

}  // namespace

PairSums HistogramPairs(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A,
                        const std::function<void(std::size_t i)> &progress) {
#ifdef _OPENMP
  const int nthreads = omp_get_max_threads();
#else
  const int nthreads = 1;
#endif
  PairSums sums = Histogram(a, b, identical, weight, A, nthreads, progress, [&](double ex, double ey, double ez, int ir) {
    A->AltIncrementAExpArrayFromE(ex, ey, ez, weight, ir);
  });
  A->FillRemainderX();
  return sums;
}

PairSums HistogramPairsDirect(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A) {
  return Histogram(a, b, identical, weight, A, 1, nullptr, [&](double ex, double ey, double ez, int ir) {
    A->IncrementAExpArrayFromE(ex, ey, ez, weight, ir);
  });
}

}  // namespace femtokit
