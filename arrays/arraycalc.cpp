#include "arrays/arraycalc.h"

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "arrays/internal/productform.h"
#include "config/fatal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

namespace pf = femtokit::productform;
// Highest rank of the quotient series and of product-form temporaries.
constexpr int kLMaxSeries = pf::kMaxRank;

bool SameSymmetry(CCHArray *a, CCHArray *b) {
  return a->GetXSYM() == b->GetXSYM() && a->GetYSYM() == b->GetYSYM() && a->GetZSYM() == b->GetZSYM();
}

// The layout of a product or quotient of A and B: symmetric only along the
// axes where both are.
pf::Work &WorkOf(const CCHArray *A, const CCHArray *B) {
  return pf::WorkFor(A->GetXSYM() && B->GetXSYM(), A->GetYSYM() && B->GetYSYM(), A->GetZSYM() && B->GetZSYM());
}

// The result may drop a symmetry of the operands, never claim one they lack.
void CheckResultSymmetry(const pf::Layout &g, const CCHArray *C, const char *operation) {
  if ((C->GetXSYM() && g.dx == 1) || (C->GetYSYM() && g.dy == 1) || (C->GetZSYM() && g.dz == 1))
    femtokit::Fatal("FATAL: Symmetry mismatch in ArrayCalc::%s\n", operation);
}

// Polynomial product of A(irA) up to rank LA and B(irB) up to rank LB, ranks
// up to Lmax, into w.P (U and Q hold the operands).
void ProductInto(CCHArray *A, int irA, int LA, CCHArray *B, int irB, int LB, int Lmax, pf::Work &w) {
  ArrayCalc::CheckRadialIndex(A, irA, "MultiplyArrays_Partial");
  ArrayCalc::CheckRadialIndex(B, irB, "MultiplyArrays_Partial");
  pf::Load(w.g, A, irA, LA, LA, w.U);
  pf::Load(w.g, B, irB, LB, LB, w.Q);
  pf::Multiply(w.g, w.U, LA, w.Q, LB, w.P, Lmax);
}

// Traceless product through the product form of the full rank of the
// product, so that the traces of the high ranks reach C's ranks.
void MultiplyWith(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  pf::Work &w = WorkOf(A, B);
  CheckResultSymmetry(w.g, C, "MultiplyArrays");
  const int LA = std::min(A->GetLMAX(), kLMaxSeries), LB = std::min(B->GetLMAX(), kLMaxSeries);
  const int L = std::min(LA + LB, kLMaxSeries);
  ProductInto(A, irA, LA, B, irB, LB, L, w);
  pf::Project(w.g, w.P, L, w.scratch, C, irC);
}

// Solves A = B*C rank by rank for the polynomial coefficients c = T P of C,
//   c(l) = (T(l) A(l) - sum_{d != 0} T(d) B(d) c(l - d)) / B(0),
// until a rank adds less than 1e-6 of sum |A| / |B(0)| (in product form) twice
// in a row and A's ranks are all in, then projects c onto C.
void DivideWith(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  pf::Work &w = WorkOf(A, B);
  CheckResultSymmetry(w.g, C, "DivdeArrays");
  ArrayCalc::CheckRadialIndex(A, irA, "DivideArrays");
  ArrayCalc::CheckRadialIndex(B, irB, "DivideArrays");
  const double b0 = B->GetElement(0, 0, 0, irB);
  if (b0 == 0.0)
    femtokit::Fatal("FATAL: ArrayCalc::DivideArrays: divisor has B(0,0,0)=0 at ir=%d, the quotient is undefined\n",
                    irB);
  const pf::Layout &g = w.g;
  const int LMAXA = A->GetLMAX();
  const int dL = (g.dx == 2 && g.dy == 2 && g.dz == 2) ? 2 : 1;

  // The terms of B beyond B(0) as (d, T(d) B(d)), and T(l) A(l).
  struct Term {
    int x, y, z;
    double tb;
  };
  std::vector<Term> terms;
  B->ForEachTriple([&](int dx, int dy, int dz) {
    const double b = B->Row(dx, dy, dz)[irB];
    if (b != 0.0 && dx + dy + dz > 0) terms.push_back({dx, dy, dz, b / g.invT[static_cast<size_t>(g.Index(dx, dy, dz))]});
  });
  pf::Load(g, A, irA, std::min(LMAXA, kLMaxSeries), std::min(LMAXA, kLMaxSeries), w.U);
  pf::Poly &c = w.P;
  pf::Zero(g, c, kLMaxSeries);

  double SA = 0.0, previous = 1.0;
  bool converged = false;
  int L = 0;
  for (;;) {
    double SL = 0.0;
    for (int lx = 0; lx <= L; lx += g.dx) {
      for (int ly = 0; ly <= L - lx; ly += g.dy) {
        const int lz = L - lx - ly;
        if (lz % g.dz != 0) continue;
        const int i = g.Index(lx, ly, lz);
        double ta = 0.0;
        if (L <= LMAXA) {
          ta = w.U[static_cast<size_t>(i)];
          SA += std::fabs(ta * g.invT[static_cast<size_t>(i)]);
        }
        double correction = 0.0;
        for (const Term &d : terms)
          if (d.x <= lx && d.y <= ly && d.z <= lz) correction -= d.tb * c[static_cast<size_t>(g.Index(lx - d.x, ly - d.y, lz - d.z))];
        c[static_cast<size_t>(i)] = (ta + correction) / b0;
        SL += std::fabs(correction / b0 * g.invT[static_cast<size_t>(i)]);
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
  pf::Project(g, c, Lreached, w.scratch, C, irC);
}

void InvertWith(CCHArray *A, int irA, CCHArray *C, int irC, CCHArray *U) {
  if (!SameSymmetry(A, C)) femtokit::Fatal("FATAL: Symmetry mismatch in ArrayCalc::InvertArray\n");
  ArrayCalc::CheckRadialIndex(A, irA, "InvertArray");
  if (A->GetElement(0, 0, 0, irA) == 0.0)
    femtokit::Fatal("FATAL: ArrayCalc::InvertArray: A(0,0,0)=0 at ir=%d, the reciprocal is undefined\n", irA);
  DivideWith(U, 0, A, irA, C, irC);
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
  const int Lmax = std::min({LA + LB, LC, C->GetLMAX(), kLMaxSeries});
  // Ranks above an operand's LMAX hold nothing; leaving them out changes no value.
  LA = std::min({LA, Lmax, A->GetLMAX()});
  LB = std::min({LB, Lmax, B->GetLMAX()});
  C->ZeroArray(irC);
  if (Lmax < 0 || LA < 0 || LB < 0) return;
  pf::Work &w = WorkOf(A, B);
  ProductInto(A, irA, LA, B, irB, LB, Lmax, w);
  // Every triple a product of stored triples reaches; a non-zero value on a
  // triple C does not store is fatal.
  const pf::Layout &g = w.g;
  for (int lx = 0; lx <= Lmax; lx += g.dx)
    for (int ly = 0; ly <= Lmax - lx; ly += g.dy)
      for (int lz = 0; lz <= Lmax - lx - ly; lz += g.dz) {
        const size_t i = static_cast<size_t>(g.Index(lx, ly, lz));
        const double p = w.P[i] * g.invT[i];
        if (p != 0.0 || C->ElementExists(lx, ly, lz, irC)) C->IncrementElement(lx, ly, lz, irC, p);
      }
}

void MultiplyArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  MultiplyWith(A, irA, B, irB, C, irC);
}

void MultiplyArrays(CCHArray *A, CCHArray *B, CCHArray *C) {
  RequireSame(First(ParameterMismatch(A, B), ParameterMismatch(B, C)),
              "fatal error, parameters mismatch in ArrayCalc::MultiplyArrays\n");
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) MultiplyWith(A, ir, B, ir, C, ir);
}

void DivideArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  DivideWith(A, irA, B, irB, C, irC);
}

void DivideArrays(CCHArray *A, CCHArray *B, CCHArray *C) {
  if (A->GetNRADIAL() != B->GetNRADIAL() || B->GetNRADIAL() != C->GetNRADIAL())
    femtokit::Fatal("FATAL: NRADIAL mismatch in ArrayCalc::DivideArrays\n");
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) DivideWith(A, ir, B, ir, C, ir);
}

void InvertArray(CCHArray *A, int irA, CCHArray *C, int irC) {
  auto U = MakeUnit(A);
  InvertWith(A, irA, C, irC, U.get());
}

void InvertArray(CCHArray *A, CCHArray *C) {
  if (A->GetNRADIAL() != C->GetNRADIAL()) femtokit::Fatal("FATAL: NRADIAL mismatch in ArrayCalc::InvertArrays\n");
  auto U = MakeUnit(A);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) InvertWith(A, ir, C, ir, U.get());
}

void Detrace(CCHArray *A, int irA, CCHArray *B, int irB) {
  CheckRadialIndex(A, irA, "Detrace");
  pf::Work &w = WorkOf(A, A);
  CheckResultSymmetry(w.g, B, "Detrace");
  const int L = std::min(A->GetLMAX(), kLMaxSeries);
  pf::Load(w.g, A, irA, L, L, w.U);
  pf::Project(w.g, w.U, L, w.scratch, B, irB);
}

void Detrace(CCHArray *A, CCHArray *B) {
  RequireSame(ParameterMismatch(A, B), "fatal error, parameters mismatch in ArrayCalc::Detrace\n");
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) Detrace(A, ir, B, ir);
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
  for (int ir = 0; ir < NRADIAL; ++ir) {
    ArrayCalc::Detrace(this, ir, &temp, 0);
    ArrayCalc::CopyArray(&temp, 0, this, ir);
  }
}
