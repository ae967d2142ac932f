#ifndef FEMTOKIT_ARRAYS_INTERNAL_PRODUCTFORM_H
#define FEMTOKIT_ARRAYS_INTERNAL_PRODUCTFORM_H

// The work representation behind products, quotients, traceless projections
// and the exponential and logarithm of Cartesian-harmonic arrays (ArrayCalc).
//
// Polynomials in the components of a direction are held as monomial
// coefficients c(l) of sum_l c(l) ex^lx ey^ly ez^lz. A product-form set P
// (the coefficients ArrayCalc::MultiplyArrays_Partial works on) is
// c(l) = T(l) P(l), T the trinomial, so a product is a plain polynomial
// product and needs no trinomials in its inner loop.

#include <algorithm>
#include <vector>

class CCHArray;

namespace femtokit {
namespace productform {

// Highest rank of the work polynomials (the series are truncated there).
constexpr int kMaxRank = 55;

// Flat numbering of the triples with lx + ly + lz <= lmax under axis steps;
// lz runs innermost and contiguous.
struct Layout {
  int lmax, dx, dy, dz, size = 0;
  std::vector<int> row;      // index of (lx, ly, 0); -1 when not stored
  std::vector<double> invT;  // 1/T(l) per index

  Layout(int lmax, bool xsym, bool ysym, bool zsym);
  bool Stored(int lx, int ly, int lz) const {
    return lx % dx == 0 && ly % dy == 0 && lz % dz == 0 && lx + ly + lz <= lmax;
  }
  int Index(int lx, int ly, int lz) const { return row[static_cast<size_t>(lx * (lmax + 1) + ly)] + lz / dz; }
};

using Poly = std::vector<double>;

// Calls f(first index, count) for the contiguous lz runs of all stored
// triples up to rank L.
template <class F>
void ForRuns(const Layout &g, int L, F &&f) {
  for (int lx = 0; lx <= L; lx += g.dx)
    for (int ly = 0; ly <= L - lx; ly += g.dy) f(g.Index(lx, ly, 0), (L - lx - ly) / g.dz + 1);
}

// c = 0 up to rank L.
void Zero(const Layout &g, Poly &c, int L);
// c = T(l) * X(l, ir) for the stored triples of X up to rank `rank`, 0 above
// up to rank `zero` (the layout stores every triple X stores).
void Load(const Layout &g, const CCHArray *X, int ir, int rank, int zero, Poly &c);
// C = U * Q truncated at rank LC, with U of rank LU and Q of rank LQ.
void Multiply(const Layout &g, const Poly &U, int LU, const Poly &Q, int LQ, Poly &C, int LC);
// Traceless projection of the polynomial c (rank LS) into B(irB): contraction
// of the traces of the higher ranks onto each rank <= LMAX of B,
//   Q(l) = sum_{abc} 0.5^m (L+2m)! (2L+1)!! / (L! a! b! c! (2L+2m+1)!!) P(l + 2(a,b,c)),
// P = c/T, then the overlap projection onto the lx <= 1 harmonics and
// FillRemainderX. scratch: a polynomial of the layout.
void Project(const Layout &g, const Poly &c, int LS, Poly &scratch, CCHArray *B, int irB);

// Work polynomials of rank kMaxRank: U, P, Q, S and a scratch polynomial for
// the projection.
struct Work {
  Layout g;
  Poly U, P, Q, S, scratch;
  Work(bool xsym, bool ysym, bool zsym);
};
// One work set per symmetry and thread, built on first use and kept: the
// rank-55 polynomials (up to 27720 coefficients each) would otherwise be
// allocated and page-faulted on every call, several times a series' cost.
Work &WorkFor(bool xsym, bool ysym, bool zsym);

}  // namespace productform
}  // namespace femtokit

#endif
