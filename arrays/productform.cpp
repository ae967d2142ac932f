#include "arrays/internal/productform.h"

#include "arrays/charray.h"
#include "config/constants.h"

#include <cmath>
#include <memory>

namespace femtokit {
namespace productform {

namespace {
using femtokit::constants::FOURPI;
const CCHCalc &Chcalc() { return *CCHArray::chcalc; }
}  // namespace

Layout::Layout(int lmax_, bool xsym, bool ysym, bool zsym)
    : lmax(lmax_), dx(xsym ? 2 : 1), dy(ysym ? 2 : 1), dz(zsym ? 2 : 1) {
  row.assign(static_cast<size_t>((lmax + 1) * (lmax + 1)), -1);
  for (int lx = 0; lx <= lmax; lx += dx)
    for (int ly = 0; ly <= lmax - lx; ly += dy) {
      row[static_cast<size_t>(lx * (lmax + 1) + ly)] = size;
      size += (lmax - lx - ly) / dz + 1;
    }
  invT.resize(static_cast<size_t>(size));
  for (int lx = 0; lx <= lmax; lx += dx)
    for (int ly = 0; ly <= lmax - lx; ly += dy)
      for (int lz = 0; lz <= lmax - lx - ly; lz += dz)
        invT[static_cast<size_t>(Index(lx, ly, lz))] = 1.0 / Chcalc().Trinomial(lx, ly, lz);
}

void Zero(const Layout &g, Poly &c, int L) {
  ForRuns(g, L, [&](int i0, int n) { std::fill_n(&c[static_cast<size_t>(i0)], n, 0.0); });
}

void Load(const Layout &g, const CCHArray *X, int ir, int rank, int zero, Poly &c) {
  Zero(g, c, zero);
  X->ForEachTriple(rank, rank, [&](int lx, int ly, int lz) {
    c[static_cast<size_t>(g.Index(lx, ly, lz))] = Chcalc().Trinomial(lx, ly, lz) * X->GetElement(lx, ly, lz, ir);
  });
}

void Multiply(const Layout &g, const Poly &U, int LU, const Poly &Q, int LQ, Poly &C, int LC) {
  Zero(g, C, LC);
  for (int ux = 0; ux <= LU; ux += g.dx)
    for (int uy = 0; uy <= LU - ux; uy += g.dy)
      for (int uz = 0; uz <= LU - ux - uy; uz += g.dz) {
        const double u = U[static_cast<size_t>(g.Index(ux, uy, uz))];
        if (u == 0.0) continue;
        const int lm = std::min(LQ, LC - (ux + uy + uz));
        for (int mx = 0; mx <= lm; mx += g.dx)
          for (int my = 0; my <= lm - mx; my += g.dy) {
            const double *q = &Q[static_cast<size_t>(g.Index(mx, my, 0))];
            double *c = &C[static_cast<size_t>(g.Index(mx + ux, my + uy, uz))];
            const int nz = (lm - mx - my) / g.dz + 1;
            for (int k = 0; k < nz; ++k) c[k] += u * q[k];
          }
      }
}

void Project(const Layout &g, const Poly &c, int LS, Poly &P, CCHArray *B, int irB) {
  const CCHCalc &calc = Chcalc();
  const int LB = std::min(B->GetLMAX(), LS);
  std::vector<double> invfact(static_cast<size_t>(LS / 2 + 1));
  for (int k = 0; k <= LS / 2; ++k) invfact[static_cast<size_t>(k)] = 1.0 / calc.Factorial(k);
  // P = c/T, once.
  ForRuns(g, LS, [&](int i0, int n) {
    for (int i = i0; i < i0 + n; ++i) P[static_cast<size_t>(i)] = c[static_cast<size_t>(i)] * g.invT[static_cast<size_t>(i)];
  });

  // weight(L, m) = 0.5^m (L+2m)! (2L+1)!! / (L! (2L+2m+1)!!)
  const int mmax = LS / 2 + 1;
  std::vector<double> weight(static_cast<size_t>((LB + 1) * mmax), 0.0);
  for (int L = 0; L <= LB; ++L)
    for (int m = 0; L + 2 * m <= LS; ++m)
      weight[static_cast<size_t>(L * mmax + m)] = std::ldexp(calc.Factorial(L + 2 * m), -m) *
                                                   calc.DoubleFactorial(2 * L + 1) /
                                                   (calc.Factorial(L) * calc.DoubleFactorial(2 * L + 2 * m + 1));

  Layout low(LB, g.dx == 2, g.dy == 2, g.dz == 2);
  std::vector<double> Q(static_cast<size_t>(low.size), 0.0);
  const int stride = 2 / g.dz;  // index step of lz -> lz + 2
  for (int lx = 0; lx <= LB; lx += g.dx)
    for (int ly = 0; ly <= LB - lx; ly += g.dy)
      for (int lz = 0; lz <= LB - lx - ly; lz += g.dz) {
        const int L = lx + ly + lz;
        const double *wL = &weight[static_cast<size_t>(L * mmax)];
        double q = 0.0;
        for (int a = 0; L + 2 * a <= LS; ++a)
          for (int b = 0; L + 2 * (a + b) <= LS; ++b) {
            const double fab = invfact[static_cast<size_t>(a)] * invfact[static_cast<size_t>(b)];
            const double *p = &P[static_cast<size_t>(g.Index(lx + 2 * a, ly + 2 * b, lz))];
            for (int c = 0; L + 2 * (a + b + c) <= LS; ++c)
              q += wL[a + b + c] * fab * invfact[static_cast<size_t>(c)] * p[c * stride];
          }
        Q[static_cast<size_t>(low.Index(lx, ly, lz))] = q;
      }

  B->ZeroArray(irB);
  B->ForEachTriple(LB, 1, [&](int lx, int ly, int lz) {
    const int L = lx + ly + lz;
    double sum = 0.0;
    for (int mx = lx; mx <= L; mx += 2)
      for (int my = ly % 2; my <= L - mx; my += 2) {
        const int mz = L - mx - my;
        if (!low.Stored(mx, my, mz)) continue;  // odd along a symmetric axis of the source: 0
        sum += calc.GetOverlap(lx, ly, lz, mx, my, mz) * Q[static_cast<size_t>(low.Index(mx, my, mz))] /
               low.invT[static_cast<size_t>(low.Index(mx, my, mz))];
      }
    B->SetElement(lx, ly, lz, irB, calc.DoubleFactorial(2 * L + 1) / (FOURPI * calc.Factorial(L)) * sum);
  });
  B->FillRemainderX(irB);
}

Work::Work(bool xsym, bool ysym, bool zsym)
    : g(kMaxRank, xsym, ysym, zsym), U(static_cast<size_t>(g.size)), P(U.size()), Q(U.size()), S(U.size()),
      scratch(U.size()) {}

Work &WorkFor(bool xsym, bool ysym, bool zsym) {
  static thread_local std::unique_ptr<Work> cache[8];
  const int key = (xsym ? 1 : 0) + (ysym ? 2 : 0) + (zsym ? 4 : 0);
  if (!cache[key]) cache[key] = std::make_unique<Work>(xsym, ysym, zsym);
  return *cache[key];
}

}  // namespace productform
}  // namespace femtokit
