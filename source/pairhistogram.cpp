#include "source/pairhistogram.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "arrays/arraycalc_convert.h"
#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace femtokit {

namespace {

// The pairs are split into this many chunks of consecutive rows (points of a),
// whatever the thread count; each chunk sums into a table of its own and the
// tables are added in chunk order, so the result does not depend on the
// thread count.
constexpr std::size_t kChunks = 128;

// Calls f(dx, dy, dz) for every pair of rows [first, last), i outer, j inner.
template <class F>
void ForEachPair(const PointList &a, const PointList &b, bool identical, std::size_t first, std::size_t last, F &&f) {
  const PointList &other = identical ? a : b;
  for (std::size_t i = first; i < last; i++) {
    const std::array<double, 4> &p = a[i];
    const std::size_t nj = identical ? i : b.size();
    for (std::size_t j = 0; j < nj; j++) {
      const std::array<double, 4> &o = other[j];
      f(p[1] - o[1], p[2] - o[2], p[3] - o[3]);
    }
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

void Add(PairSums &total, const PairSums &part) {
  total.pairs += part.pairs;
  total.inside += part.inside;
  for (int k = 0; k < 3; k++) {
    total.sum[k] += part.sum[k];
    total.sum2[k] += part.sum2[k];
  }
}

// Row boundaries of the chunks, with about equal numbers of pairs in each
// (row i of identical points has i partners).
std::vector<std::size_t> ChunkRows(std::size_t rows, bool identical) {
  const std::size_t n = std::max<std::size_t>(1, std::min(kChunks, rows));
  std::vector<std::size_t> edge(n + 1);
  for (std::size_t k = 0; k <= n; k++) {
    const double f = static_cast<double>(k) / static_cast<double>(n);
    edge[k] = static_cast<std::size_t>(std::lround((identical ? std::sqrt(f) : f) * static_cast<double>(rows)));
  }
  edge[n] = rows;
  return edge;
}

// The moments sum_pairs ex^lx ey^ly ez^lz (lx <= 1) of the unit separation
// vectors, per r bin, for the triples the array stores. Moments with lx >= 2
// follow from them, as ex^2 = 1 - ey^2 - ez^2 on the unit sphere.
struct MomentLayout {
  std::vector<int> lx, ly, lz;  // the accumulated triples
  int lmax = 0;
  explicit MomentLayout(const CCHArray &A) : lmax(A.GetLMAX()) {
    A.ForEachTriple(lmax, 1, [&](int x, int y, int z) {
      lx.push_back(x);
      ly.push_back(y);
      lz.push_back(z);
    });
  }
  std::size_t size() const { return lx.size(); }
};

// Turns one bin's moments into A-expansion coefficients (times weight) added
// to bin ir of A; M and T are one-bin work arrays of A's shape.
void AddBin(const MomentLayout &layout, const double *m, double weight, CCHArray *M, CCHArray *T, CCHArray *A,
            int ir) {
  M->ZeroArray(0);
  for (std::size_t c = 0; c < layout.size(); c++) M->SetElement(layout.lx[c], layout.ly[c], layout.lz[c], 0, m[c]);
  const int dly = M->GetYSYM() ? 2 : 1, dlz = M->GetZSYM() ? 2 : 1;
  for (int lx = 2; lx <= layout.lmax; lx++) {
    if (M->GetXSYM() && lx % 2) continue;
    for (int ly = 0; ly + lx <= layout.lmax; ly += dly)
      for (int lz = 0; lz + ly + lx <= layout.lmax; lz += dlz) {
        const double v = M->GetElement(lx - 2, ly, lz, 0) - M->GetElement(lx - 2, ly + 2, lz, 0) -
                         M->GetElement(lx - 2, ly, lz + 2, 0);
        M->SetElement(lx, ly, lz, 0, v);
      }
  }
  ArrayCalc::CalcAExpArrayFromMArray(M, 0, T, 0);
  for (std::size_t c = 0; c < layout.size(); c++)
    A->IncrementElement(layout.lx[c], layout.ly[c], layout.lz[c], ir,
                        weight * T->GetElement(layout.lx[c], layout.ly[c], layout.lz[c], 0));
}

}  // namespace

PairSums HistogramPairs(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A,
                        const std::function<void(std::size_t i)> &progress, const PairPartition *partition) {
  const double delr = A->GetRADSTEP();
  const int nr = A->GetNRADIAL();
  const double reach = nr * delr;
  const MomentLayout layout(*A);
  const std::size_t ncomp = layout.size();
  const int lmax = layout.lmax;
  const std::vector<std::size_t> edge = ChunkRows(a.size(), identical);
  const std::size_t nchunks = edge.size() - 1;
  // One block per chunk: the moments [bin][component], then the coincident
  // pairs and the pair sums (kSumsSize values).
  constexpr std::size_t kSumsSize = 9;
  const std::size_t nmoments = static_cast<std::size_t>(nr) * ncomp, block = nmoments + kSumsSize;
  CheckTableSize("", Format("pair histogram with LMAX=%d, NRADIAL=%d", lmax, nr),
                 SaturatingProduct(nchunks, block), sizeof(double));
  std::size_t first = 0, last = nchunks;
  if (partition) {
    first = PairPartition::First(partition->Rank(), partition->Size(), nchunks);
    last = PairPartition::First(partition->Rank() + 1, partition->Size(), nchunks);
  }

  std::vector<double> tables(nchunks * block, 0.0);
  std::vector<char> done(nchunks, 0);
  std::size_t reported = first;  // chunks whose rows have been reported to progress
  std::mutex progress_mutex;

  ParallelErrors errors;
#pragma omp parallel
  {
    std::vector<double> py(static_cast<std::size_t>(lmax) + 1), pz(static_cast<std::size_t>(lmax) + 1);
    const int *cx = layout.lx.data(), *cy = layout.ly.data(), *cz = layout.lz.data();
#pragma omp for schedule(dynamic, 1)
    for (std::size_t k = first; k < last; k++) {
      errors.Run([&] {
        double *table = tables.data() + k * block;
        PairSums s;  // kept local: neighbouring chunks' records share cache lines
        double zero = 0.0;
        ForEachPair(a, b, identical, edge[k], edge[k + 1], [&](double dx, double dy, double dz) {
          Count(s, dx, dy, dz);
          const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
          if (!(r < reach)) return;  // beyond the mesh, or not a number
          const int ir = static_cast<int>(r / delr);
          if (ir >= nr) return;
          s.inside += 1.0;
          if (r == 0.0) {
            zero += 1.0;
            return;
          }
          const double inv = 1.0 / r, ex = dx * inv, ey = dy * inv, ez = dz * inv;
          py[0] = pz[0] = 1.0;
          for (int l = 1; l <= lmax; l++) {
            py[l] = py[l - 1] * ey;
            pz[l] = pz[l - 1] * ez;
          }
          double *row = table + static_cast<std::size_t>(ir) * ncomp;
          for (std::size_t c = 0; c < ncomp; c++) {
            const double m = py[cy[c]] * pz[cz[c]];
            row[c] += cx[c] ? ex * m : m;
          }
        });
        double *tail = table + nmoments;
        const double record[kSumsSize] = {zero,      s.pairs,   s.inside,  s.sum[0], s.sum[1],
                                          s.sum[2], s.sum2[0], s.sum2[1], s.sum2[2]};
        std::copy(record, record + kSumsSize, tail);
        if (progress) {
          std::lock_guard<std::mutex> lock(progress_mutex);
          done[k] = 1;
          for (; reported < last && done[reported]; reported++)
            for (std::size_t i = edge[reported]; i < edge[reported + 1]; i++) progress(i);
        }
      });
    }
  }
  errors.Rethrow();
  if (partition) partition->ShareChunks(tables, block, nchunks);

  // Chunk tables summed in chunk order, then one conversion per bin.
  PairSums total;
  double zero = 0.0;
  double *moments = tables.data();
  for (std::size_t k = 0; k < nchunks; k++) {
    const double *part = tables.data() + k * block;
    const double *tail = part + nmoments;
    PairSums s;
    s.pairs = tail[1];
    s.inside = tail[2];
    for (int c = 0; c < 3; c++) {
      s.sum[c] = tail[3 + c];
      s.sum2[c] = tail[6 + c];
    }
    Add(total, s);
    zero += tail[0];
    if (k == 0) continue;
    for (std::size_t i = 0; i < nmoments; i++) moments[i] += part[i];
  }
  CCHArray M(lmax, 1, delr, A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
  CCHArray T(lmax, 1, delr, A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
  for (int ir = 0; ir < nr; ir++) {
    const double *m = moments + static_cast<std::size_t>(ir) * ncomp;
    if (std::any_of(m, m + ncomp, [](double v) { return v != 0.0; })) AddBin(layout, m, weight, &M, &T, A, ir);
  }
  if (zero > 0.0) A->IncrementElement(0, 0, 0, 0, weight * zero);
  A->FillRemainderX();
  return total;
}

PairSums HistogramPairsDirect(const PointList &a, const PointList &b, bool identical, double weight, CCHArray *A) {
  const double delr = A->GetRADSTEP();
  const int nr = A->GetNRADIAL();
  const double reach = nr * delr;
  PairSums total;
  ForEachPair(a, b, identical, 0, a.size(), [&](double dx, double dy, double dz) {
    Count(total, dx, dy, dz);
    const double s = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(s < reach)) return;
    const int ir = static_cast<int>(s / delr);
    if (ir >= nr) return;
    total.inside += 1.0;
    if (s == 0.0)
      A->IncrementElement(0, 0, 0, 0, weight);
    else
      A->IncrementAExpArrayFromE(dx / s, dy / s, dz / s, weight, ir);
  });
  return total;
}

}  // namespace femtokit
