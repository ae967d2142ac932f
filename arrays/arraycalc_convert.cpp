// Conversions between A-expansions, moments, exponent expansions, 3D meshes
// and spherical-harmonic coefficients.

#include "arrays/arraycalc_convert.h"
#include "config/constants.h"

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "arrays/internal/productform.h"
#include "arrays/ylmarray.h"
#include "config/fatal.h"
#include "config/output.h"

#include <gsl/gsl_integration.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

namespace {

using femtokit::constants::FOURPI;
namespace pf = femtokit::productform;
// Rank of the product-form work arrays of the exponential and logarithm.
constexpr int kSeriesRank = pf::kMaxRank;
// A series term counts as small below this (product-form coefficients).
constexpr double kSeriesTolerance = 1.0e-8;

const CCHCalc &Coefficients() { return *CCHArray::chcalc; }

// The destination may drop a symmetry of the source, never claim one the
// source lacks (the odd part would be lost silently).
void CheckSymmetrySubset(const CCHArray *source, const CCHArray *dest, const char *operation) {
  if ((dest->GetXSYM() && !source->GetXSYM()) || (dest->GetYSYM() && !source->GetYSYM()) ||
      (dest->GetZSYM() && !source->GetZSYM()))
    femtokit::Fatal("ArrayCalc::%s: the destination is symmetric along an axis where the source is not\n",
                    operation);
}

// Sums S = sum_n P_n with P_0 = 1 and P_n = U P_(n-1) * factor(n), U of rank
// LU, every product truncated at rank 55. Returns the number of the last term.
// S must hold the zeroth term and zeros up to rank 55 on entry.
template <class Factor>
int SumSeries(pf::Work &w, int LU, int nlimit, Factor factor, int &rank, const char *name) {
  w.Q[0] = 1.0;  // (0,0,0) is the first index
  double t = 1.0;
  int rankQ = 0, n = 1;
  for (;; ++n) {
    if (n % 6 == 0) t = 0.0;
    const int rankP = std::min(LU * n, kSeriesRank);
    pf::Multiply(w.g, w.U, LU, w.Q, rankQ, w.P, rankP);
    // Scale the term, add it, and track its largest product-form coefficient.
    const double f = factor(n);
    double *p = w.P.data(), *sum = w.S.data(), biggest = 0.0;
    const double *invT = w.g.invT.data();
    pf::ForRuns(w.g, rankP, [&](int i0, int count) {
      for (int i = i0; i < i0 + count; ++i) {
        p[i] *= f;
        sum[i] += p[i];
        biggest = std::max(biggest, std::fabs(p[i] * invT[i]));
      }
    });
    t = std::max(t, biggest);
    std::swap(w.P, w.Q);
    rankQ = rankP;
    if (t <= kSeriesTolerance) break;
    if (n == nlimit) {
      femtokit::Warn("WARNING: the series of %s did not converge in %d terms (last terms up to %g)\n", name, nlimit,
                     t);
      break;
    }
  }
  rank = rankQ;
  return n;
}

void ExpWith(CCHArray *X, int irX, CCHArray *A, int irA) {
  CheckSymmetrySubset(X, A, "CalcAExpArrayFromXExpArray");
  ArrayCalc::CheckRadialIndex(X, irX, "CalcAExpArrayFromXExpArray");
  ArrayCalc::CheckRadialIndex(A, irA, "CalcAExpArrayFromXExpArray");
  pf::Work &w = pf::WorkFor(X->GetXSYM(), X->GetYSYM(), X->GetZSYM());
  const int LU = std::min(X->GetLMAX(), kSeriesRank);
  pf::Load(w.g, X, irX, LU, LU, w.U);
  const double x0 = w.U[0];
  w.U[0] = 0.0;
  pf::Zero(w.g, w.S, kSeriesRank);
  w.S[0] = 1.0;
  int rank = 0;
  SumSeries(w, LU, 47, [](int n) { return 1.0 / n; }, rank, "the exponential");
  pf::Project(w.g, w.S, rank, w.scratch, A, irA);
  A->ScaleArray(std::exp(x0), irA);
}

void LogWith(CCHArray *A, int irA, CCHArray *X, int irX) {
  CheckSymmetrySubset(A, X, "CalcXExpArrayFromAExpArray");
  ArrayCalc::CheckRadialIndex(A, irA, "CalcXExpArrayFromAExpArray");
  ArrayCalc::CheckRadialIndex(X, irX, "CalcXExpArrayFromAExpArray");
  pf::Work &w = pf::WorkFor(A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
  const int LU = std::min(A->GetLMAX(), kSeriesRank);
  pf::Load(w.g, A, irA, LU, LU, w.U);
  const double a0 = w.U[0];
  if (!(a0 > 0.0))
    femtokit::Fatal("ArrayCalc::CalcXExpArrayFromAExpArray: A(0,0,0)=%g at ir=%d, the logarithm needs it positive\n",
                    a0, irA);
  pf::ForRuns(w.g, LU, [&](int i0, int n) {
    for (int i = i0; i < i0 + n; ++i) w.U[static_cast<size_t>(i)] /= a0;
  });
  w.U[0] = 0.0;
  pf::Zero(w.g, w.S, kSeriesRank);
  w.S[0] = std::log(a0);
  int rank = 0;
  const int n = SumSeries(w, LU, 49, [](int k) { return k > 1 ? -(k - 1.0) / k : 1.0; }, rank, "the logarithm");
  femtokit::Print("nmax was %d\n", n + 1);
  pf::Project(w.g, w.S, rank, w.scratch, X, irX);
}

// ---------------------------------------------------------------------------
// Evaluation of A-expansions on many points: per bin the coefficients
// T(l) A(l, ir) in loop order, then F(e) by running powers.

struct Evaluator {
  int lmax, dx, dy, dz, ntriples = 0;
  std::vector<double> coef;  // [ir][triple]
  explicit Evaluator(const CCHArray *A)
      : lmax(A->GetLMAX()), dx(A->GetXSYM() ? 2 : 1), dy(A->GetYSYM() ? 2 : 1), dz(A->GetZSYM() ? 2 : 1) {
    A->ForEachTriple([&](int, int, int) { ++ntriples; });
    coef.reserve(static_cast<size_t>(ntriples) * static_cast<size_t>(A->GetNRADIAL()));
    for (int ir = 0; ir < A->GetNRADIAL(); ++ir)
      A->ForEachTriple([&](int lx, int ly, int lz) {
        coef.push_back(Coefficients().Trinomial(lx, ly, lz) * A->GetElement(lx, ly, lz, ir));
      });
  }
  double operator()(int ir, double ex, double ey, double ez) const {
    const double *c = &coef[static_cast<size_t>(ir) * static_cast<size_t>(ntriples)];
    const double sx = dx == 2 ? ex * ex : ex, sy = dy == 2 ? ey * ey : ey, sz = dz == 2 ? ez * ez : ez;
    double f = 0.0, px = 1.0;
    for (int lx = 0; lx <= lmax; lx += dx, px *= sx) {
      double pxy = px;
      for (int ly = 0; ly <= lmax - lx; ly += dy, pxy *= sy) {
        double p = pxy;
        for (int lz = 0; lz <= lmax - lx - ly; lz += dz, p *= sz) f += *c++ * p;
      }
    }
    return f;
  }
};

// Directions and weights (summing to 1) over the part of the sphere that the
// symmetry flags leave: Gauss-Legendre in cos(theta) on [0,1] (ZSYM) or
// [-1,1], midpoint rule in phi on [0,pi/2] (XSYM and YSYM), [-pi/2,pi/2]
// (XSYM), [0,pi] (YSYM) or [-pi,pi]. Mirrored, the phi nodes are equally
// spaced on the whole circle, so the rule is exact for a function even along
// the symmetric axes when the full-sphere rule is.
struct AngularRule {
  std::vector<double> ex, ey, ez, w;
  AngularRule(int ntheta, int nphi_full, bool xsym, bool ysym, bool zsym) {
    const double c0 = zsym ? 0.0 : -1.0;
    int nphi = nphi_full;
    double phi0 = -M_PI, phiwidth = 2.0 * M_PI;
    if (xsym && ysym) {
      nphi = (nphi_full + 3) / 4, phi0 = 0.0, phiwidth = 0.5 * M_PI;
    } else if (xsym) {
      nphi = (nphi_full + 1) / 2, phi0 = -0.5 * M_PI, phiwidth = M_PI;
    } else if (ysym) {
      nphi = (nphi_full + 1) / 2, phi0 = 0.0, phiwidth = M_PI;
    }
    gsl_integration_glfixed_table *table = gsl_integration_glfixed_table_alloc(static_cast<size_t>(ntheta));
    for (int i = 0; i < ntheta; ++i) {
      double c, wc;
      gsl_integration_glfixed_point(c0, 1.0, static_cast<size_t>(i), &c, &wc, table);
      const double s = std::sqrt(std::max(0.0, 1.0 - c * c));
      for (int j = 0; j < nphi; ++j) {
        const double phi = phi0 + phiwidth * (j + 0.5) / nphi;
        ex.push_back(s * std::cos(phi));
        ey.push_back(s * std::sin(phi));
        ez.push_back(c);
        w.push_back(wc / ((1.0 - c0) * nphi));
      }
    }
    gsl_integration_glfixed_table_free(table);
  }
};

// Monomial coefficients of conj(Y_LM), M >= 0, from
//   Y_LM = K sum_{p-q=M, p+q+s=L} (-(x+iy)/2)^p ((x-iy)/2)^q z^s / (p! q! s!),
//   K = sqrt((2L+1)(L+M)!(L-M)!/(4 pi)),
// the Condon-Shortley convention of SpherHarmonics::Ylm. Indexed by (mx, my)
// with mz = L - mx - my, in a (L+1)^2 table.
std::vector<std::complex<double>> ConjYlmMonomials(int L, int M) {
  const CCHCalc &c = Coefficients();
  std::vector<std::complex<double>> d(static_cast<size_t>((L + 1) * (L + 1)), 0.0);
  const double K = std::sqrt((2 * L + 1) * c.Factorial(L + M) * c.Factorial(L - M) / FOURPI);
  const std::complex<double> ipow[4] = {{1.0, 0.0}, {0.0, 1.0}, {-1.0, 0.0}, {0.0, -1.0}};  // i^k
  for (int q = 0; 2 * q + M <= L; ++q) {
    const int p = q + M, s = L - p - q;
    const double f = K * std::pow(-0.5, p) * std::pow(0.5, q) / (c.Factorial(p) * c.Factorial(q) * c.Factorial(s));
    for (int j = 0; j <= p; ++j)
      for (int k = 0; k <= q; ++k) {
        // x^(j+k) (i y)^(p-j) (-i y)^(q-k)
        const std::complex<double> phase = ipow[((p - j) - (q - k) + 4 * L) % 4];
        d[static_cast<size_t>((j + k) * (L + 1) + (p - j + q - k))] +=
            std::conj(f * c.Binomial(j, p - j) * c.Binomial(k, q - k) * phase);
      }
  }
  return d;
}

// G(l) = integral GetAFromE(l, e) conj(Y_LM(e)) dOmega for a triple of rank L.
std::complex<double> HarmonicOverlap(const std::vector<std::complex<double>> &d, int L, int lx, int ly, int lz) {
  std::complex<double> g = 0.0;
  for (int mx = lx % 2; mx <= L; mx += 2)
    for (int my = ly % 2; my <= L - mx; my += 2) {
      const std::complex<double> dm = d[static_cast<size_t>(mx * (L + 1) + my)];
      if (dm != 0.0) g += dm * Coefficients().GetOverlap(lx, ly, lz, mx, my, L - mx - my);
    }
  return g;
}

}  // namespace

namespace ArrayCalc {

void CalcAExpArrayFromMArray(CCHArray *M, int irM, CCHArray *A, int irA) {
  if (M->GetLMAX() != A->GetLMAX()) femtokit::Fatal("LMAX from M does not match LMAX from A\n");
  ArrayCalc::CheckRadialIndex(M, irM, "CalcAExpArrayFromMArray");
  ArrayCalc::CheckRadialIndex(A, irA, "CalcAExpArrayFromMArray");
  A->ForEachTriple(A->GetLMAX(), 1, [&](int lx, int ly, int lz) {
    A->SetElement(lx, ly, lz, irA,
                  M->ElementExists(lx, ly, lz, irM) ? M->GetAExpElementFromMArray(lx, ly, lz, irM) : 0.0);
  });
  A->FillRemainderX(irA);
}

void CalcAExpArrayFromMArray(CCHArray *M, CCHArray *A) {
  if (!CompareArrayParameters(M, A))
    femtokit::Fatal("fatal error, parameters mismatch in ArrayCalc::CalcAExpArrayFromMArray\n");
  for (int ir = 0; ir < M->GetNRADIAL(); ++ir) CalcAExpArrayFromMArray(M, ir, A, ir);
}

void CalcMArrayFromAExpArray(CCHArray *A, int irA, CCHArray *M, int irM) {
  if (M->GetLMAX() != A->GetLMAX()) femtokit::Fatal("LMAX from M does not match LMAX from A\n");
  ArrayCalc::CheckRadialIndex(A, irA, "CalcMArrayFromAExpArray");
  ArrayCalc::CheckRadialIndex(M, irM, "CalcMArrayFromAExpArray");
  M->ForEachTriple([&](int lx, int ly, int lz) {
    M->SetElement(lx, ly, lz, irM,
                  A->ElementExists(lx, ly, lz, irA) ? A->GetMElementFromAExpArray(lx, ly, lz, irA) : 0.0);
  });
}

void CalcMArrayFromAExpArray(CCHArray *A, CCHArray *M) {
  if (!CompareArrayParameters(A, M))
    femtokit::Fatal("fatal error, parameters mismatch in ArrayCalc::CalcMArrayFromAExpArray\n");
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) CalcMArrayFromAExpArray(A, ir, M, ir);
}

void CalcAExpArrayFromXExpArray(CCHArray *X, int irX, CCHArray *A, int irA) { ExpWith(X, irX, A, irA); }

void CalcAExpArrayFromXExpArray(CCHArray *X, CCHArray *A) {
  if (!CompareArrayParameters(X, A))
    femtokit::Fatal("fatal error, parameters mismatch in  ArrayCalc::CalcAExpArrayFromXExpArray\n");
  for (int ir = 0; ir < X->GetNRADIAL(); ++ir) ExpWith(X, ir, A, ir);
}

void CalcXExpArrayFromAExpArray(CCHArray *A, int irA, CCHArray *X, int irX) { LogWith(A, irA, X, irX); }

void CalcXExpArrayFromAExpArray(CCHArray *P, CCHArray *Q) {
  if (!CompareArrayParameters(P, Q))
    femtokit::Fatal("fatal error, parameters mismatch in ArrayCalc::CalcXExpArrayFromAExpArray\n");
  for (int ir = 0; ir < Q->GetNRADIAL(); ++ir) LogWith(Q, ir, P, ir);
}

void Calc3DArrayFromAExpArray(CCHArray *A, C3DArray *C3D) {
  if (!CompareArrayParameters(C3D, A))
    femtokit::Fatal("fatal error, parameters mismatch in ArrayCalc::Calc3DArrayFromAExpArray\n");
  const Evaluator F(A);
  const int nrad = A->GetNRADIAL();
  const double delta = A->GetRADSTEP();
  const int nsx = C3D->GetXSYM() ? 1 : 2, nsy = C3D->GetYSYM() ? 1 : 2, nsz = C3D->GetZSYM() ? 1 : 2;
  const int nx = C3D->GetNXMAX(), ny = C3D->GetNYMAX(), nz = C3D->GetNZMAX();
  const double dx = C3D->GetDELX(), dy = C3D->GetDELY(), dz = C3D->GetDELZ();
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(static)
  for (int sxix = 0; sxix < nsx * nx; ++sxix) {
    errors.Run([&] {
      const int isx = sxix / nx, ix = sxix % nx;
      const double x = (isx ? -1.0 : 1.0) * (ix + 0.5) * dx;
      for (int isy = 0; isy < nsy; ++isy)
        for (int iy = 0; iy < ny; ++iy) {
          const double y = (isy ? -1.0 : 1.0) * (iy + 0.5) * dy;
          for (int isz = 0; isz < nsz; ++isz)
            for (int iz = 0; iz < nz; ++iz) {
              const double z = (isz ? -1.0 : 1.0) * (iz + 0.5) * dz;
              const double r = std::sqrt(x * x + y * y + z * z), s = r / delta;
              double value = 0.0;
              if (s < nrad) {
                const double ux = x / r, uy = y / r, uz = z / r;
                if (s >= nrad - 0.5) {
                  value = F(nrad - 1, ux, uy, uz);  // last half bin: flat
                } else {
                  const int i = static_cast<int>(std::floor(s + 0.5));
                  const double w = (i + 0.5) - s;
                  value = i == 0 ? w * F(0, -ux, -uy, -uz) + (1.0 - w) * F(0, ux, uy, uz)
                                 : w * F(i - 1, ux, uy, uz) + (1.0 - w) * F(i, ux, uy, uz);
                }
              }
              C3D->SetElement(isx, ix, isy, iy, isz, iz, value);
            }
        }
    });
  }
  errors.Rethrow();
}

void CalcAExpArrayFrom3DArray(C3DArray *C3D, CCHArray *A) {
  if (!CompareArrayParameters(C3D, A))
    femtokit::Fatal("fatal error, parameters mismatch in ArrayCalc::CalcAExpArrayFrom3DArray\n");
  const int lmax = A->GetLMAX(), nrad = A->GetNRADIAL();
  const double delta = A->GetRADSTEP();
  const double xmax = C3D->GetNXMAX() * C3D->GetDELX(), ymax = C3D->GetNYMAX() * C3D->GetDELY(),
               zmax = C3D->GetNZMAX() * C3D->GetDELZ();
  const double cell = std::min({C3D->GetDELX(), C3D->GetDELY(), C3D->GetDELZ()});
  const int base = std::max(lmax, 6);

  A->ZeroArray();
  std::vector<char> outside(static_cast<size_t>(std::max(nrad, 0)), 0);
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int ir = 0; ir < nrad; ++ir) {
    errors.Run([&] {
      const double r = (ir + 0.5) * delta;
      // Exact for polynomials of degree 2*base + 7 - LMAX against the
      // harmonics (13 at LMAX 6); beyond that about one node per cell width
      // on the equator, which keeps the error from the kinks of the
      // trilinear interpolant near 1/20 of the interpolation error itself.
      const int nphi = std::max(2 * base + 8, static_cast<int>(std::ceil(2.0 * M_PI * r / cell)));
      const int ntheta = std::max(base + 5, (nphi + 1) / 2);
      const AngularRule rule(ntheta, nphi, A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
      for (size_t k = 0; k < rule.w.size(); ++k) {
        const double x = r * rule.ex[k], y = r * rule.ey[k], z = r * rule.ez[k];
        if (std::fabs(x) >= xmax || std::fabs(y) >= ymax || std::fabs(z) >= zmax) {
          outside[static_cast<size_t>(ir)] = 1;
          continue;
        }
        const double f = C3D->GetElement_Interpolate(x, y, z);
        if (f != 0.0) A->AltIncrementAExpArrayFromE(rule.ex[k], rule.ey[k], rule.ez[k], rule.w[k] * f, ir);
      }
      A->FillRemainderX(ir);
    });
  }
  errors.Rethrow();
  const auto first = std::find(outside.begin(), outside.end(), 1);
  if (first != outside.end()) {
    const int ir = static_cast<int>(first - outside.begin());
    femtokit::Warn("WARNING: ArrayCalc::CalcAExpArrayFrom3DArray: from bin %d (r=%g) on the spheres leave the mesh; "
                   "the function counts as 0 outside it\n",
                   ir, (ir + 0.5) * delta);
  }
}

void CalcYlmExpArrayFromAExpArray(CCHArray *A, int irA, CYlmArray *Y, int irY) {
  ArrayCalc::CheckRadialIndex(A, irA, "CalcYlmExpArrayFromAExpArray");
  Y->ZeroArray(irY);
  const int lmax = std::min(A->GetLMAX(), Y->GetLMAX());
  for (int L = 0; L <= lmax; ++L)
    for (int M = 0; M <= L; ++M) {
      const auto d = ConjYlmMonomials(L, M);
      std::complex<double> y = 0.0;
      A->ForEachTriple(L, L, [&](int lx, int ly, int lz) {
        if (lx + ly + lz != L) return;
        y += Coefficients().Trinomial(lx, ly, lz) * A->GetElement(lx, ly, lz, irA) * HarmonicOverlap(d, L, lx, ly, lz);
      });
      Y->SetElement(L, M, irY, y);
    }
}

void CalcAExpArrayFromYlmExpArray(CYlmArray *Y, int irY, CCHArray *A, int irA) {
  ArrayCalc::CheckRadialIndex(A, irA, "CalcAExpArrayFromYlmExpArray");
  if (irY < 0 || irY >= Y->GetNRADIAL())
    femtokit::Fatal("ArrayCalc::CalcAExpArrayFromYlmExpArray: radial index %d outside 0..%d\n", irY,
                    Y->GetNRADIAL() - 1);
  A->ZeroArray(irA);
  const int lmax = std::min(A->GetLMAX(), Y->GetLMAX());
  for (int L = 0; L <= lmax; ++L) {
    std::vector<std::vector<std::complex<double>>> d;
    for (int M = 0; M <= L; ++M) d.push_back(ConjYlmMonomials(L, M));
    const double norm = Coefficients().DoubleFactorial(2 * L + 1) / (FOURPI * Coefficients().Factorial(L));
    A->ForEachTriple(L, 1, [&](int lx, int ly, int lz) {
      if (lx + ly + lz != L) return;
      // integral F GetAFromE(l) = sum over all M of y(L,M) conj(G_LM(l)); -M pairs with M.
      double integral = 0.0;
      for (int M = 0; M <= L; ++M) {
        const double term = std::real(Y->GetElement(L, M, irY) * std::conj(HarmonicOverlap(d[M], L, lx, ly, lz)));
        integral += M == 0 ? term : 2.0 * term;
      }
      A->SetElement(lx, ly, lz, irA, norm * integral);
    });
  }
  A->FillRemainderX(irA);
}

}  // namespace ArrayCalc
