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

bool SameSymmetry(CCHArray *a, CCHArray *b) {
  return a->GetXSYM() == b->GetXSYM() && a->GetYSYM() == b->GetYSYM() && a->GetZSYM() == b->GetZSYM();
}

// Product-form coefficients of every triple of rank 0 .. N in one block: the
// work storage of products, quotients and traceless projections. Triple
// (lx, ly, lz) sits at base[lx (N+1) + ly] + lz, so the lz of one (lx, ly) are
// consecutive.
class Dense {
 public:
  explicit Dense(int n) : n_(n), base_(static_cast<size_t>((n + 1) * (n + 1)), 0) {
    int offset = 0;
    for (int lx = 0; lx <= n; ++lx)
      for (int ly = 0; ly <= n - lx; ++ly) {
        base_[static_cast<size_t>(lx * (n + 1) + ly)] = offset;
        offset += n - lx - ly + 1;
      }
    v_.assign(static_cast<size_t>(offset), 0.0);
  }
  int N() const { return n_; }
  double &operator()(int lx, int ly, int lz) { return v_[static_cast<size_t>(Base(lx, ly) + lz)]; }
  double operator()(int lx, int ly, int lz) const { return v_[static_cast<size_t>(Base(lx, ly) + lz)]; }
  const double *Line(int lx, int ly) const { return v_.data() + Base(lx, ly); }
  void Zero() { std::fill(v_.begin(), v_.end(), 0.0); }

 private:
  int Base(int lx, int ly) const { return base_[static_cast<size_t>(lx * (n_ + 1) + ly)]; }
  int n_;
  std::vector<int> base_;
  std::vector<double> v_;
};

// Coefficient tables to the highest rank of the series, built once.
struct Tables {
  static constexpr int N = kLMaxSeries;
  Dense trinomial{N};
  std::vector<double> invfact;  // 1/n!, n = 0 .. N
  // Trace weights of the projection: w(L, m) = 2^-m (L+2m)! (2L+1)!! / (L! (2L+2m+1)!!)
  // at [L (N/2+1) + m], L + 2m <= N.
  std::vector<double> trace;
  Tables() : invfact(N + 1), trace(static_cast<size_t>((N + 1) * (N / 2 + 1)), 0.0) {
    const CCHCalc &calc = Calc();
    for (int lx = 0; lx <= N; ++lx)
      for (int ly = 0; ly <= N - lx; ++ly)
        for (int lz = 0; lz <= N - lx - ly; ++lz) trinomial(lx, ly, lz) = calc.Trinomial(lx, ly, lz);
    for (int n = 0; n <= N; ++n) invfact[static_cast<size_t>(n)] = 1.0 / calc.Factorial(n);
    for (int L = 0; L <= N; ++L)
      for (int m = 0; L + 2 * m <= N; ++m)
        trace[static_cast<size_t>(L * (N / 2 + 1) + m)] = std::pow(0.5, m) * calc.Factorial(L + 2 * m) *
                                                          calc.DoubleFactorial(2 * L + 1) /
                                                          (calc.Factorial(L) * calc.DoubleFactorial(2 * L + 2 * m + 1));
  }
  double Trace(int L, int m) const { return trace[static_cast<size_t>(L * (N / 2 + 1) + m)]; }
};

const Tables &ProductTables() {
  static const Tables tables;
  return tables;
}

// Steps of the stored indices along each axis.
struct Steps {
  int x, y, z;
  Steps(bool xsym, bool ysym, bool zsym) : x(xsym ? 2 : 1), y(ysym ? 2 : 1), z(zsym ? 2 : 1) {}
  explicit Steps(const CCHArray *a) : Steps(a->GetXSYM(), a->GetYSYM(), a->GetZSYM()) {}
};

// Bin ir of A, ranks 0 .. min(L, LMAX of A), into the zeroed block P.
void Load(const CCHArray *A, int ir, int L, Dense &P) {
  L = std::min({L, A->GetLMAX(), P.N()});
  P.Zero();
  A->ForEachTriple(L, L, [&](int lx, int ly, int lz) { P(lx, ly, lz) = A->Row(lx, ly, lz)[ir]; });
}

// Traceless projection of the product-form set P, taken up to rank LA, into
// B(irB). s: the symmetry steps of P's content; Q is a work block of rank >= B's.
void DetraceWith(const Dense &P, int LA, Steps s, CCHArray *B, int irB, Dense &Q) {
  const Tables &t = ProductTables();
  const CCHCalc &calc = Calc();
  const int LB = B->GetLMAX();
  LA = std::min(LA, P.N());
  B->ZeroArray(irB);

  // Contract the traces of the higher ranks down onto each (lx, ly, lz).
  for (int lx = 0; lx <= LB; lx += s.x) {
    for (int ly = 0; ly <= LB - lx; ly += s.y) {
      for (int lz = 0; lz <= LB - lx - ly; lz += s.z) {
        const int L = lx + ly + lz, mmax = (LA - L) / 2;
        double q = 0.0;
        for (int a = 0; a <= mmax; ++a) {
          for (int b = 0; a + b <= mmax; ++b) {
            const double *line = P.Line(lx + 2 * a, ly + 2 * b) + lz;
            const double wab = t.invfact[static_cast<size_t>(a)] * t.invfact[static_cast<size_t>(b)];
            for (int c = 0; a + b + c <= mmax; ++c)
              q += t.Trace(L, a + b + c) * wab * t.invfact[static_cast<size_t>(c)] * line[2 * c];
          }
        }
        Q(lx, ly, lz) = q;
      }
    }
  }

  // Project each rank onto the traceless harmonics with lx <= 1; the rest
  // follows from tracelessness.
  for (int lx = 0; lx < 2; lx += s.x) {
    for (int ly = 0; ly <= LB - lx; ly += s.y) {
      for (int lz = 0; lz <= LB - lx - ly; lz += s.z) {
        const int L = lx + ly + lz;
        double sum = 0.0;
        for (int mx = lx; mx <= L; mx += 2) {
          for (int my = ly % 2; my <= L - mx; my += 2) {
            const int mz = L - mx - my;
            sum += calc.GetOverlap(lx, ly, lz, mx, my, mz) * Q(mx, my, mz) * t.trinomial(mx, my, mz);
          }
        }
        B->SetElement(lx, ly, lz, irB, calc.DoubleFactorial(2 * L + 1) / (FOURPI * calc.Factorial(L)) * sum);
      }
    }
  }
  B->FillRemainderX(irB);
}

// The non-zero terms of bin ir of B up to rank L as (triple, B(d) T(d)).
struct Term {
  int x, y, z;
  double bt;
};
void Terms(const CCHArray *B, int ir, int L, bool skip_zero_rank, std::vector<Term> &terms) {
  const Tables &t = ProductTables();
  terms.clear();
  B->ForEachTriple(std::min(L, B->GetLMAX()), L, [&](int dx, int dy, int dz) {
    const double b = B->Row(dx, dy, dz)[ir];
    if (b != 0.0 && !(skip_zero_rank && dx + dy + dz == 0)) terms.push_back({dx, dy, dz, b * t.trinomial(dx, dy, dz)});
  });
}

// Product form of A(irA) up to rank LA times B(irB) up to rank LB, ranks up to
// Lmax, into the block P (zeroed here).
void ProductInto(CCHArray *A, int irA, int LA, CCHArray *B, int irB, int LB, int Lmax, Dense &P,
                 std::vector<Term> &a, std::vector<Term> &b) {
  const Tables &t = ProductTables();
  ArrayCalc::CheckRadialIndex(A, irA, "MultiplyArrays_Partial");
  ArrayCalc::CheckRadialIndex(B, irB, "MultiplyArrays_Partial");
  Terms(A, irA, LA, false, a);
  Terms(B, irB, LB, false, b);
  P.Zero();
  for (const Term &u : a) {
    const int Lm = Lmax - (u.x + u.y + u.z);
    for (const Term &v : b)
      if (v.x + v.y + v.z <= Lm) P(u.x + v.x, u.y + v.y, u.z + v.z) += u.bt * v.bt;
  }
  for (int lx = 0; lx <= Lmax; ++lx)
    for (int ly = 0; ly <= Lmax - lx; ++ly)
      for (int lz = 0; lz <= Lmax - lx - ly; ++lz) P(lx, ly, lz) /= t.trinomial(lx, ly, lz);
}

// The work blocks of one product, quotient or projection, reused bin by bin.
struct Work {
  Dense P, Q;
  std::vector<Term> a, b;
  Work(int rank, int lmax) : P(rank), Q(lmax) {}
};

int ProductRank(CCHArray *A, CCHArray *B) { return std::min(A->GetLMAX() + B->GetLMAX(), kLMaxSeries); }

Steps ProductSteps(CCHArray *A, CCHArray *B) {
  return Steps(A->GetXSYM() && B->GetXSYM(), A->GetYSYM() && B->GetYSYM(), A->GetZSYM() && B->GetZSYM());
}

// Traceless product through the product form of the full rank of the
// product, so that the traces of the high ranks reach C's ranks.
void MultiplyWith(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC, Work &w) {
  const int L = w.P.N();
  ProductInto(A, irA, A->GetLMAX(), B, irB, B->GetLMAX(), L, w.P, w.a, w.b);
  DetraceWith(w.P, L, ProductSteps(A, B), C, irC, w.Q);
}

// Solves A = B*C rank by rank for the product-form coefficients P of C, then
// projects P onto C. The series runs on T(l) P(l), the polynomial
// coefficients, so that each term is one multiply-add.
void DivideWith(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC, Work &w) {
  const Tables &t = ProductTables();
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

  const Steps s(axsym, aysym, azsym), as(A);
  const int dL = (axsym && aysym && azsym) ? 2 : 1;
  const int LMAXA = A->GetLMAX();
  Terms(B, irB, B->GetLMAX(), true, w.b);
  Dense &P = w.P;  // T(l) P(l) while the series runs, P(l) afterwards
  P.Zero();

  double SA = 0.0, previous = 1.0;
  bool converged = false;
  int L = 0;
  for (;;) {
    double SL = 0.0;
    for (int lx = 0; lx <= L; lx += s.x) {
      for (int ly = 0; ly <= L - lx; ly += s.y) {
        const int lz = L - lx - ly;
        if (lz % s.z != 0) continue;
        const double tl = t.trinomial(lx, ly, lz);
        double p = 0.0;
        if (L <= LMAXA && lx % as.x == 0 && ly % as.y == 0 && lz % as.z == 0) {
          const double a = A->Row(lx, ly, lz)[irA];
          p = a / b0;
          SA += std::fabs(a);
        }
        if (L > 0) {
          // Every lower-rank m = l - d with d a non-zero element of B.
          double correction = 0.0;
          for (const Term &d : w.b)
            if (d.x <= lx && d.y <= ly && d.z <= lz) correction -= d.bt * P(lx - d.x, ly - d.y, lz - d.z);
          correction /= b0 * tl;
          p += correction;
          SL += std::fabs(correction);
        }
        P(lx, ly, lz) = p * tl;
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
  for (int lx = 0; lx <= Lreached; ++lx)
    for (int ly = 0; ly <= Lreached - lx; ++ly)
      for (int lz = 0; lz <= Lreached - lx - ly; ++lz) P(lx, ly, lz) /= t.trinomial(lx, ly, lz);
  DetraceWith(P, Lreached, s, C, irC, w.Q);
}

Work QuotientWork(CCHArray *C) { return Work(kLMaxSeries, C->GetLMAX()); }

void InvertWith(CCHArray *A, int irA, CCHArray *C, int irC, CCHArray *U, Work &w) {
  if (!SameSymmetry(A, C)) femtokit::Fatal("FATAL: Symmetry mismatch in ArrayCalc::InvertArray\n");
  ArrayCalc::CheckRadialIndex(A, irA, "InvertArray");
  if (A->GetElement(0, 0, 0, irA) == 0.0)
    femtokit::Fatal("FATAL: ArrayCalc::InvertArray: A(0,0,0)=0 at ir=%d, the reciprocal is undefined\n", irA);
  DivideWith(U, 0, A, irA, C, irC, w);
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
  Work w(std::max(Lmax, 0), 0);
  C->ZeroArray(irC);
  if (Lmax < 0) return;
  ProductInto(A, irA, LA, B, irB, LB, Lmax, w.P, w.a, w.b);
  // Every triple a product of stored triples reaches; a non-zero value on a
  // triple C does not store is fatal.
  const Steps s = ProductSteps(A, B);
  for (int lx = 0; lx <= Lmax; lx += s.x)
    for (int ly = 0; ly <= Lmax - lx; ly += s.y)
      for (int lz = 0; lz <= Lmax - lx - ly; lz += s.z)
        if (w.P(lx, ly, lz) != 0.0 || C->ElementExists(lx, ly, lz, irC))
          C->IncrementElement(lx, ly, lz, irC, w.P(lx, ly, lz));
}

void MultiplyArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  Work w(ProductRank(A, B), C->GetLMAX());
  MultiplyWith(A, irA, B, irB, C, irC, w);
}

void MultiplyArrays(CCHArray *A, CCHArray *B, CCHArray *C) {
  RequireSame(First(ParameterMismatch(A, B), ParameterMismatch(B, C)),
              "fatal error, parameters mismatch in ArrayCalc::MultiplyArrays\n");
  Work w(ProductRank(A, B), C->GetLMAX());
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) MultiplyWith(A, ir, B, ir, C, ir, w);
}

void DivideArrays(CCHArray *A, int irA, CCHArray *B, int irB, CCHArray *C, int irC) {
  Work w = QuotientWork(C);
  DivideWith(A, irA, B, irB, C, irC, w);
}

void DivideArrays(CCHArray *A, CCHArray *B, CCHArray *C) {
  if (A->GetNRADIAL() != B->GetNRADIAL() || B->GetNRADIAL() != C->GetNRADIAL())
    femtokit::Fatal("FATAL: NRADIAL mismatch in ArrayCalc::DivideArrays\n");
  Work w = QuotientWork(C);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) DivideWith(A, ir, B, ir, C, ir, w);
}

void InvertArray(CCHArray *A, int irA, CCHArray *C, int irC) {
  auto U = MakeUnit(A);
  Work w = QuotientWork(C);
  InvertWith(A, irA, C, irC, U.get(), w);
}

void InvertArray(CCHArray *A, CCHArray *C) {
  if (A->GetNRADIAL() != C->GetNRADIAL()) femtokit::Fatal("FATAL: NRADIAL mismatch in ArrayCalc::InvertArrays\n");
  auto U = MakeUnit(A);
  Work w = QuotientWork(C);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) InvertWith(A, ir, C, ir, U.get(), w);
}

void Detrace(CCHArray *A, int irA, CCHArray *B, int irB) {
  CheckRadialIndex(A, irA, "Detrace");
  Work w(std::min(A->GetLMAX(), kLMaxSeries), B->GetLMAX());
  Load(A, irA, A->GetLMAX(), w.P);
  DetraceWith(w.P, A->GetLMAX(), Steps(A), B, irB, w.Q);
}

void Detrace(CCHArray *A, CCHArray *B) {
  RequireSame(ParameterMismatch(A, B), "fatal error, parameters mismatch in ArrayCalc::Detrace\n");
  Work w(std::min(A->GetLMAX(), kLMaxSeries), B->GetLMAX());
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) {
    Load(A, ir, A->GetLMAX(), w.P);
    DetraceWith(w.P, A->GetLMAX(), Steps(A), B, ir, w.Q);
  }
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
  Work w(std::min(LMAX, kLMaxSeries), LMAX);
  for (int ir = 0; ir < NRADIAL; ++ir) {
    Load(this, ir, LMAX, w.P);
    DetraceWith(w.P, LMAX, Steps(this), &temp, 0, w.Q);
    ArrayCalc::CopyArray(&temp, 0, this, ir);
  }
}
