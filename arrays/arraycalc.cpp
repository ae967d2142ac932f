#include "arrays/arraycalc.h"
#include "config/constants.h"

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "config/fatal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

using femtokit::constants::FOURPI;
// Highest rank of the quotient series and of product-form temporaries.
constexpr int kLMaxSeries = 55;

const CCHCalc &Calc() { return *CCHArray::chcalc; }

double T(int lx, int ly, int lz) { return Calc().Trinomial(lx, ly, lz); }

bool SameSymmetry(CCHArray *a, CCHArray *b) {
  return a->GetXSYM() == b->GetXSYM() && a->GetYSYM() == b->GetYSYM() && a->GetZSYM() == b->GetZSYM();
}

// Traceless projection of the product-form set A(irA), taken up to rank LA,
// into B(irB). Q is a work array (NRADIAL 1, A's symmetry, LMAX >= B's).
void DetraceWith(CCHArray *A, int irA, int LA, CCHArray *B, int irB, CCHArray *Q) {
  const CCHCalc &calc = Calc();
  const int LB = B->GetLMAX();
  const int dlx = A->GetXSYM() ? 2 : 1, dly = A->GetYSYM() ? 2 : 1, dlz = A->GetZSYM() ? 2 : 1;
  ArrayCalc::CheckRadialIndex(A, irA, "Detrace");
  B->ZeroArray(irB);
  Q->ZeroArray(0);

  // Contract the traces of the higher ranks down onto each (lx, ly, lz).
  for (int lx = 0; lx <= LB; lx += dlx) {
    for (int ly = 0; ly <= LB - lx; ly += dly) {
      for (int lz = 0; lz <= LB - lx - ly; lz += dlz) {
        const int L = lx + ly + lz;
        double q = 0.0;
        for (int a = 0; L + 2 * a <= LA; ++a) {
          for (int b = 0; L + 2 * (a + b) <= LA; ++b) {
            for (int c = 0; L + 2 * (a + b + c) <= LA; ++c) {
              const int m = a + b + c;
              if (L + 2 * m > LA) femtokit::Fatal("L+2m is tooooo big\n");
              const double weight = std::pow(0.5, m) * calc.Factorial(L + 2 * m) * calc.DoubleFactorial(2 * L + 1) /
                                    (calc.Factorial(L) * calc.Factorial(a) * calc.Factorial(b) * calc.Factorial(c) *
                                     calc.DoubleFactorial(2 * L + 2 * m + 1));
              q += weight * A->GetElement(lx + 2 * a, ly + 2 * b, lz + 2 * c, irA);
            }
          }
        }
        Q->SetElement(lx, ly, lz, 0, q);
      }
    }
  }

  // Project each rank onto the traceless harmonics with lx <= 1; the rest
  // follows from tracelessness.
  for (int lx = 0; lx < 2; lx += dlx) {
    for (int ly = 0; ly <= LB - lx; ly += dly) {
      for (int lz = 0; lz <= LB - lx - ly; lz += dlz) {
        const int L = lx + ly + lz;
        double sum = 0.0;
        for (int mx = lx; mx <= L; mx += 2) {
          for (int my = ly % 2; my <= L - mx; my += 2) {
            const int mz = L - mx - my;
            sum += calc.GetOverlap(lx, ly, lz, mx, my, mz) * Q->GetElement(mx, my, mz, 0) * calc.Factorial(L) /
                   (calc.Factorial(mx) * calc.Factorial(my) * calc.Factorial(mz));
          }
        }
        B->SetElement(lx, ly, lz, irB, calc.DoubleFactorial(2 * L + 1) / (FOURPI * calc.Factorial(L)) * sum);
      }
    }
  }
  B->FillRemainderX(irB);
}

std::unique_ptr<CCHArray> MakeDetraceWork(CCHArray *A, CCHArray *B) {
  return std::make_unique<CCHArray>(B->GetLMAX(), 1, 1.0, A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
}

std::unique_ptr<CCHArray> MakeProductWork(CCHArray *A, CCHArray *B) {
  return std::make_unique<CCHArray>(std::min(A->GetLMAX() + B->GetLMAX(), kLMaxSeries), 1, 1.0,
                                    A->GetXSYM() && B->GetXSYM(), A->GetYSYM() && B->GetYSYM(),
                                    A->GetZSYM() && B->GetZSYM());
}

// Traceless product through a product-form temporary of the full rank of
// the product, so that the traces of the high ranks reach C's ranks.
void MultiplyWith(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC, CCHArray *product,
                  CCHArray *detracework) {
  ArrayCalc::MultiplyArrays_Partial(A->GetLMAX(), A, irA, B->GetLMAX(), B, irB, product->GetLMAX(), product, 0);
  DetraceWith(product, 0, product->GetLMAX(), C, irC, detracework);
}

std::unique_ptr<CCHArray> MakeQuotientWork(CCHArray *A, CCHArray *B) {
  return std::make_unique<CCHArray>(kLMaxSeries, 1, 1.0, A->GetXSYM() && B->GetXSYM(), A->GetYSYM() && B->GetYSYM(),
                                    A->GetZSYM() && B->GetZSYM());
}

// Solves A = B*C rank by rank for the product-form coefficients P of C, then
// projects P onto C. P (LMAX 55) and Q are work arrays reused for every ir.
void DivideWith(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC, CCHArray *P, CCHArray *Q) {
  const bool axsym = A->GetXSYM() && B->GetXSYM(), aysym = A->GetYSYM() && B->GetYSYM(),
             azsym = A->GetZSYM() && B->GetZSYM();
  if ((!axsym && C->GetXSYM()) || (!aysym && C->GetYSYM()) || (!azsym && C->GetZSYM()))
    femtokit::Fatal("FATAL: Symmetry mismatch in ArrayCalc::DivdeArrays\n");
  ArrayCalc::CheckRadialIndex(A, irA, "DivideArrays");
  ArrayCalc::CheckRadialIndex(B, irB, "DivideArrays");
  const double b0 = B->GetElement(0, 0, 0, irB);
  if (b0 == 0.0)
    femtokit::Fatal("FATAL: ArrayCalc::DivideArrays: divisor has B(0,0,0)=0 at ir=%d, the quotient is undefined\n",
                    irB);

  const int sx = axsym ? 2 : 1, sy = aysym ? 2 : 1, sz = azsym ? 2 : 1;
  const int dL = (axsym && aysym && azsym) ? 2 : 1;
  const int LMAXA = A->GetLMAX(), LMAXB = B->GetLMAX();
  const int bdx = B->GetXSYM() ? 2 : 1, bdy = B->GetYSYM() ? 2 : 1, bdz = B->GetZSYM() ? 2 : 1;
  const int adx = A->GetXSYM() ? 2 : 1, ady = A->GetYSYM() ? 2 : 1, adz = A->GetZSYM() ? 2 : 1;

  double SA = 0.0, previous = 1.0;
  bool converged = false;
  int L = 0;
  for (;;) {
    double SL = 0.0;
    for (int lx = 0; lx <= L; lx += sx) {
      for (int ly = 0; ly <= L - lx; ly += sy) {
        const int lz = L - lx - ly;
        if (lz % sz != 0) continue;
        double p = 0.0;
        if (L <= LMAXA && lx % adx == 0 && ly % ady == 0 && lz % adz == 0) {
          const double a = A->GetElement(lx, ly, lz, irA);
          p = a / b0;
          SA += std::fabs(a);
        }
        if (L > 0) {
          // Every lower-rank m = l - d with d a non-zero element of B.
          double correction = 0.0;
          const int dmax = std::min(LMAXB, L);
          for (int dx = 0; dx <= std::min(lx, dmax); dx += bdx) {
            for (int dy = 0; dy <= std::min(ly, dmax - dx); dy += bdy) {
              for (int dz = (dx + dy == 0) ? bdz : 0; dz <= std::min(lz, dmax - dx - dy); dz += bdz) {
                const int mx = lx - dx, my = ly - dy, mz = lz - dz;
                correction -= B->GetElement(dx, dy, dz, irB) * P->GetElement(mx, my, mz, 0) * T(dx, dy, dz) *
                              T(mx, my, mz);
              }
            }
          }
          correction /= b0 * T(lx, ly, lz);
          p += correction;
          SL += std::fabs(correction);
        }
        P->SetElement(lx, ly, lz, 0, p);
      }
    }
    const double threshold = SA * 1.0e-6 / std::fabs(b0);
    converged = previous <= threshold && SL <= threshold;
    L += dL;
    if ((converged && L > LMAXA) || L > kLMaxSeries) break;
    previous = SL;
  }
  const int Lreached = std::min(L - 1, kLMaxSeries);
  if (converged && L > LMAXA)
    femtokit::Print("INFO: Sum in DivideAExpArrays satisfied convergence criteria at L=%d\n", Lreached);
  else
    femtokit::Warn("WARNING: Sum in DivideAExpArrays did not converge by L=%d\n", Lreached);
  DetraceWith(P, 0, Lreached, C, irC, Q);
}

void InvertWith(CCHArray *A, int irA, CCHArray *C, int irC, CCHArray *U, CCHArray *P, CCHArray *Q) {
  if (!SameSymmetry(A, C)) femtokit::Fatal("FATAL: Symmetry mismatch in ArrayCalc::InvertArray\n");
  ArrayCalc::CheckRadialIndex(A, irA, "InvertArray");
  if (A->GetElement(0, 0, 0, irA) == 0.0)
    femtokit::Fatal("FATAL: ArrayCalc::InvertArray: A(0,0,0)=0 at ir=%d, the reciprocal is undefined\n", irA);
  DivideWith(U, 0, A, irA, C, irC, P, Q);
}

std::unique_ptr<CCHArray> MakeUnit(CCHArray *A) {
  auto U = std::make_unique<CCHArray>(A->GetLMAX(), 1, 1.0, A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
  U->SetElement(0, 0, 0, 0, 1.0);
  return U;
}

}  // namespace

namespace ArrayCalc {

void CheckRadialIndex(const CCHArray *a, int ir, const char *operation) {
  if (ir < 0 || ir >= a->GetNRADIAL())
    femtokit::Fatal("ArrayCalc::%s: radial index %d outside 0..%d\n", operation, ir, a->GetNRADIAL() - 1);
}

namespace {

// A mismatch: the comparison's own message and a line giving the values.
struct Mismatch {
  std::string message, values;
  bool empty() const { return message.empty(); }
};

Mismatch Find(CCHArray *a, CCHArray *b) {
  if (!SameSymmetry(a, b))
    return {"Symmetry mismatch between CHArrays!!!\n",
            femtokit::Format("(XYZSYM (%d,%d,%d) and (%d,%d,%d))\n", a->GetXSYM(), a->GetYSYM(), a->GetZSYM(),
                             b->GetXSYM(), b->GetYSYM(), b->GetZSYM())};
  if (a->GetNRADIAL() != b->GetNRADIAL())
    return {"NRADIAL mismatch between CCHArrays!!!\n",
            femtokit::Format("(NRADIAL %d and %d)\n", a->GetNRADIAL(), b->GetNRADIAL())};
  if (std::fabs(std::fabs(a->GetRADSTEP()) - std::fabs(b->GetRADSTEP())) > 1.0e-10)
    return {"RADSTEP mismatch between CCHArrays!!!\n",
            femtokit::Format("(RADSTEP %.10g and %.10g)\n", a->GetRADSTEP(), b->GetRADSTEP())};
  if (a->GetLMAX() != b->GetLMAX())
    return {"LMAX mismatch metween CCHArrays!!!\n",
            femtokit::Format("(LMAX %d and %d)\n", a->GetLMAX(), b->GetLMAX())};
  return {};
}

Mismatch Find(C3DArray *a, CCHArray *b) {
  if (a->GetXSYM() != b->GetXSYM() || a->GetYSYM() != b->GetYSYM() || a->GetZSYM() != b->GetZSYM())
    return {femtokit::Format("X: %d=?%d, Y: %d=?%d Z: %d=?%d\nSymmetry mismatch between CHArray and 3DArray!!!\n",
                             b->GetXSYM(), a->GetXSYM(), b->GetYSYM(), a->GetYSYM(), b->GetZSYM(), a->GetZSYM()),
            ""};
  return {};
}

Mismatch Find(CCHArray *a, C3DArray *b) {
  if (a->GetXSYM() != b->GetXSYM() || a->GetYSYM() != b->GetYSYM() || a->GetZSYM() != b->GetZSYM())
    return {"Symmetry mismatch between CHArray and 3DArray!!!\n",
            femtokit::Format("(XYZSYM (%d,%d,%d) and (%d,%d,%d))\n", a->GetXSYM(), a->GetYSYM(), a->GetZSYM(),
                             b->GetXSYM(), b->GetYSYM(), b->GetZSYM())};
  return {};
}

Mismatch Find(C3DArray *a, C3DArray *b) {
  if (a->GetXSYM() != b->GetXSYM() || a->GetYSYM() != b->GetYSYM() || a->GetZSYM() != b->GetZSYM())
    return {"Symmetry mismatch between 3DArrays!!!\n",
            femtokit::Format("(XYZSYM (%d,%d,%d) and (%d,%d,%d))\n", a->GetXSYM(), a->GetYSYM(), a->GetZSYM(),
                             b->GetXSYM(), b->GetYSYM(), b->GetZSYM())};
  if (a->GetNXMAX() != b->GetNXMAX() || a->GetNYMAX() != b->GetNYMAX() || a->GetNZMAX() != b->GetNZMAX())
    return {"NXYZMAX mismatch between 3DArrays!!!\n",
            femtokit::Format("(NXYZMAX (%d,%d,%d) and (%d,%d,%d))\n", a->GetNXMAX(), a->GetNYMAX(), a->GetNZMAX(),
                             b->GetNXMAX(), b->GetNYMAX(), b->GetNZMAX())};
  if (std::fabs(a->GetDELX() - b->GetDELX()) > 1.0e-10 || std::fabs(a->GetDELY() - b->GetDELY()) > 1.0e-10 ||
      std::fabs(a->GetDELZ() - b->GetDELZ()) > 1.0e-10)
    return {"DELXYZ mismatch between 3DArrays!!!\n",
            femtokit::Format("(DELXYZ (%.10g,%.10g,%.10g) and (%.10g,%.10g,%.10g))\n", a->GetDELX(), a->GetDELY(),
                             a->GetDELZ(), b->GetDELX(), b->GetDELY(), b->GetDELZ())};
  return {};
}

template <class A, class B>
bool Compare(A *a, B *b) {
  const Mismatch m = Find(a, b);
  if (m.empty()) return true;
  femtokit::Emit(femtokit::Verbosity::Quiet, m.message);
  return false;
}

template <class A, class B>
std::string Describe(A *a, B *b) {
  const Mismatch m = Find(a, b);
  return m.message + m.values;
}

std::string First(const std::string &a, const std::string &b) { return a.empty() ? b : a; }

// Fatal with the mismatch and the operation's own line.
void RequireSame(const std::string &mismatch, const char *what) {
  if (!mismatch.empty()) femtokit::Fatal("%s%s", mismatch.c_str(), what);
}

}  // namespace

std::string ParameterMismatch(CCHArray *a, CCHArray *b) { return Describe(a, b); }
std::string ParameterMismatch(C3DArray *a, CCHArray *b) { return Describe(a, b); }
std::string ParameterMismatch(CCHArray *a, C3DArray *b) { return Describe(a, b); }
std::string ParameterMismatch(C3DArray *a, C3DArray *b) { return Describe(a, b); }

bool CompareArrayParameters(CCHArray *a, CCHArray *b) { return Compare(a, b); }
bool CompareArrayParameters(C3DArray *a, CCHArray *b) { return Compare(a, b); }
bool CompareArrayParameters(CCHArray *a, C3DArray *b) { return Compare(a, b); }
bool CompareArrayParameters(C3DArray *a, C3DArray *b) { return Compare(a, b); }

void CopyArray(CCHArray *A, int irA, CCHArray *B, int irB) {
  CheckRadialIndex(A, irA, "CopyArray");
  const int LA = A->GetLMAX(), LB = B->GetLMAX();
  const int dlx = A->GetXSYM() ? 2 : 1, dly = A->GetYSYM() ? 2 : 1, dlz = A->GetZSYM() ? 2 : 1;
  for (int lx = 0; lx <= LB; lx += dlx)
    for (int ly = 0; ly <= LB - lx; ly += dly)
      for (int lz = 0; lz <= LB - lx - ly; lz += dlz)
        B->SetElement(lx, ly, lz, irB, (lx + ly + lz <= LA) ? A->GetElement(lx, ly, lz, irA) : 0.0);
}

void CopyArray(CCHArray *A, CCHArray *B) {
  RequireSame(ParameterMismatch(A, B), "fatal error, parameters mismatch in ArrayCalc::CopyArray\n");
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) CopyArray(A, ir, B, ir);
}

void AddArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  const int L = std::min(A->GetLMAX(), B->GetLMAX());
  const int dlx = C->GetXSYM() ? 2 : 1, dly = C->GetYSYM() ? 2 : 1, dlz = C->GetZSYM() ? 2 : 1;
  for (int lx = 0; lx <= L; lx += dlx)
    for (int ly = 0; ly <= L - lx; ly += dly)
      for (int lz = 0; lz <= L - lx - ly; lz += dlz)
        C->SetElement(lx, ly, lz, irC, A->GetElement(lx, ly, lz, irA) + B->GetElement(lx, ly, lz, irB));
}

void AddArrays(CCHArray *A, CCHArray *B, CCHArray *C) {
  RequireSame(First(ParameterMismatch(A, B), ParameterMismatch(B, C)),
              "fatal error, parameters mismatch in ArrayCalc::AddArrays\n");
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) AddArrays(A, ir, B, ir, C, ir);
}

void MultiplyArrays_Partial(int LA, CCHArray *A, int irA, int LB, CCHArray *B, int irB, int LC, CCHArray *C,
                            int irC) {
  const int Lmax = std::min({LA + LB, LC, C->GetLMAX()});
  // Ranks above an operand's LMAX hold nothing; leaving them out changes no value.
  LA = std::min({LA, Lmax, A->GetLMAX()});
  LB = std::min({LB, Lmax, B->GetLMAX()});
  CheckRadialIndex(A, irA, "MultiplyArrays_Partial");
  CheckRadialIndex(B, irB, "MultiplyArrays_Partial");
  C->ZeroArray(irC);
  const int adx = A->GetXSYM() ? 2 : 1, ady = A->GetYSYM() ? 2 : 1, adz = A->GetZSYM() ? 2 : 1;
  const int bdx = B->GetXSYM() ? 2 : 1, bdy = B->GetYSYM() ? 2 : 1, bdz = B->GetZSYM() ? 2 : 1;
  for (int lx = 0; lx <= LA; lx += adx) {
    for (int ly = 0; ly <= LA - lx; ly += ady) {
      for (int lz = 0; lz <= LA - lx - ly; lz += adz) {
        const double a = A->GetElement(lx, ly, lz, irA);
        if (a == 0.0) continue;
        const double ta = T(lx, ly, lz) * a;
        const int Lm = std::min(LB, Lmax - (lx + ly + lz));
        for (int mx = 0; mx <= Lm; mx += bdx)
          for (int my = 0; my <= Lm - mx; my += bdy)
            for (int mz = 0; mz <= Lm - mx - my; mz += bdz)
              C->IncrementElement(lx + mx, ly + my, lz + mz, irC,
                                  ta * T(mx, my, mz) * B->GetElement(mx, my, mz, irB) /
                                      T(lx + mx, ly + my, lz + mz));
      }
    }
  }
}

void MultiplyArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  auto product = MakeProductWork(A, B);
  auto work = MakeDetraceWork(product.get(), C);
  MultiplyWith(A, irA, B, irB, C, irC, product.get(), work.get());
}

void MultiplyArrays(CCHArray *A, CCHArray *B, CCHArray *C) {
  RequireSame(First(ParameterMismatch(A, B), ParameterMismatch(B, C)),
              "fatal error, parameters mismatch in ArrayCalc::MultiplyArrays\n");
  auto product = MakeProductWork(A, B);
  auto work = MakeDetraceWork(product.get(), C);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) MultiplyWith(A, ir, B, ir, C, ir, product.get(), work.get());
}

void DivideArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  auto P = MakeQuotientWork(A, B);
  auto Q = MakeDetraceWork(P.get(), C);
  DivideWith(A, irA, B, irB, C, irC, P.get(), Q.get());
}

void DivideArrays(CCHArray *A, CCHArray *B, CCHArray *C) {
  if (A->GetNRADIAL() != B->GetNRADIAL() || B->GetNRADIAL() != C->GetNRADIAL())
    femtokit::Fatal("FATAL: NRADIAL mismatch in ArrayCalc::DivideArrays\n");
  auto P = MakeQuotientWork(A, B);
  auto Q = MakeDetraceWork(P.get(), C);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) DivideWith(A, ir, B, ir, C, ir, P.get(), Q.get());
}

void InvertArray(CCHArray *A, int irA, CCHArray *C, int irC) {
  auto U = MakeUnit(A);
  auto P = MakeQuotientWork(U.get(), A);
  auto Q = MakeDetraceWork(P.get(), C);
  InvertWith(A, irA, C, irC, U.get(), P.get(), Q.get());
}

void InvertArray(CCHArray *A, CCHArray *C) {
  if (A->GetNRADIAL() != C->GetNRADIAL()) femtokit::Fatal("FATAL: NRADIAL mismatch in ArrayCalc::InvertArrays\n");
  auto U = MakeUnit(A);
  auto P = MakeQuotientWork(U.get(), A);
  auto Q = MakeDetraceWork(P.get(), C);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) InvertWith(A, ir, C, ir, U.get(), P.get(), Q.get());
}

void Detrace(CCHArray *A, int irA, CCHArray *B, int irB) {
  auto Q = MakeDetraceWork(A, B);
  DetraceWith(A, irA, A->GetLMAX(), B, irB, Q.get());
}

void Detrace(CCHArray *A, CCHArray *B) {
  RequireSame(ParameterMismatch(A, B), "fatal error, parameters mismatch in ArrayCalc::Detrace\n");
  auto Q = MakeDetraceWork(A, B);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) DetraceWith(A, ir, A->GetLMAX(), B, ir, Q.get());
}

namespace {

// Applies op(a, b) to every stored cell of A and B into C (element by element).
template <typename Op>
void ElementWise(C3DArray *A, C3DArray *B, C3DArray *C, Op op) {
  const int nsx = A->GetXSYM() ? 1 : 2, nsy = A->GetYSYM() ? 1 : 2, nsz = A->GetZSYM() ? 1 : 2;
  for (int isx = 0; isx < nsx; ++isx)
    for (int ix = 0; ix < A->GetNXMAX(); ++ix)
      for (int isy = 0; isy < nsy; ++isy)
        for (int iy = 0; iy < A->GetNYMAX(); ++iy)
          for (int isz = 0; isz < nsz; ++isz)
            for (int iz = 0; iz < A->GetNZMAX(); ++iz)
              C->SetElement(isx, ix, isy, iy, isz, iz,
                            op(A->GetElement(isx, ix, isy, iy, isz, iz),
                               B == nullptr ? 0.0 : B->GetElement(isx, ix, isy, iy, isz, iz)));
}

// The mismatch is the whole message.
void Require(const std::string &mismatch) {
  if (!mismatch.empty()) femtokit::Fatal("%s", mismatch.c_str());
}

}  // namespace

void MultiplyArrays(C3DArray *A, C3DArray *B, C3DArray *C) {
  Require(First(ParameterMismatch(A, B), ParameterMismatch(A, C)));
  ElementWise(A, B, C, [](double a, double b) { return a * b; });
}

void DivideArrays(C3DArray *A, C3DArray *B, C3DArray *C) {
  Require(First(ParameterMismatch(A, B), ParameterMismatch(A, C)));
  ElementWise(A, B, C, [](double a, double b) { return a / b; });
}

void AddArrays(C3DArray *A, C3DArray *B, C3DArray *C) {
  Require(First(ParameterMismatch(A, B), ParameterMismatch(A, C)));
  ElementWise(A, B, C, [](double a, double b) { return a + b; });
}

void CopyArray(C3DArray *A, C3DArray *B) {
  Require(ParameterMismatch(A, B));
  ElementWise(A, nullptr, B, [](double a, double) { return a; });
}

void InvertArray(C3DArray *A, C3DArray *B) {
  Require(ParameterMismatch(A, B));
  ElementWise(A, nullptr, B, [](double a, double) { return 1.0 / a; });
}

}  // namespace ArrayCalc

// The traceless projection of an array's own radial bins.
void CCHArray::Detrace(int ir) {
  CheckIR(ir, "Detrace");
  CCHArray temp(LMAX, 1, RADSTEP, XSYM, YSYM, ZSYM);
  ArrayCalc::Detrace(this, ir, &temp, 0);
  ArrayCalc::CopyArray(&temp, 0, this, ir);
}

void CCHArray::Detrace() {
  CCHArray temp(LMAX, 1, RADSTEP, XSYM, YSYM, ZSYM);
  CCHArray work(LMAX, 1, 1.0, XSYM, YSYM, ZSYM);
  for (int ir = 0; ir < NRADIAL; ++ir) {
    DetraceWith(this, ir, LMAX, &temp, 0, &work);
    ArrayCalc::CopyArray(&temp, 0, this, ir);
  }
}
