// Products and quotients of Cartesian-harmonic arrays at LMAX 6 (20 radial
// bins; random traceless operands, the divisor with a dominant l = 0 part),
// without symmetry (84 triples) and with all three reflections (20 triples):
//   BM_Multiply / BM_Divide:      ArrayCalc::MultiplyArrays / DivideArrays
//                                 (product-form work in one dense block,
//                                 coefficient tables built once);
//   BM_MultiplyStraightforward /  the same algebra written element by element
//   BM_DivideStraightforward:     (GetElement, weights from factorials and pow
//                                 in the inner loops), kept below as the
//                                 reference.
// Counter "s/bin": time per radial bin.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "config/constants.h"
#include "config/fatal.h"
#include "config/output.h"

namespace {

using femtokit::constants::FOURPI;
constexpr int kLMaxSeries = 55;
const CCHCalc &Calc() { return *CCHArray::chcalc; }
double T(int lx, int ly, int lz) { return Calc().Trinomial(lx, ly, lz); }

void MultiplyPartial(int LA, CCHArray *A, int irA, int LB, CCHArray *B, int irB, int LC, CCHArray *C,
                            int irC) {
  const int Lmax = std::min({LA + LB, LC, C->GetLMAX()});
  // Ranks above an operand's LMAX hold nothing; leaving them out changes no value.
  LA = std::min({LA, Lmax, A->GetLMAX()});
  LB = std::min({LB, Lmax, B->GetLMAX()});
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

// Traceless projection of the product-form set A(irA), taken up to rank LA,
// into B(irB). Q is a work array (NRADIAL 1, A's symmetry, LMAX >= B's).
void DetraceWith(CCHArray *A, int irA, int LA, CCHArray *B, int irB, CCHArray *Q) {
  const CCHCalc &calc = Calc();
  const int LB = B->GetLMAX();
  const int dlx = A->GetXSYM() ? 2 : 1, dly = A->GetYSYM() ? 2 : 1, dlz = A->GetZSYM() ? 2 : 1;
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
  MultiplyPartial(A->GetLMAX(), A, irA, B->GetLMAX(), B, irB, product->GetLMAX(), product, 0);
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
    (void)Lreached;  // ("INFO: Sum in DivideAExpArrays satisfied convergence criteria at L=%d\n", Lreached);
  else
    (void)0;  // ("WARNING: Sum in DivideAExpArrays did not converge by L=%d\n", Lreached);
  DetraceWith(P, 0, Lreached, C, irC, Q);
}

void MultiplyStraightforward(CCHArray *A, CCHArray *B, CCHArray *C) {
  auto product = MakeProductWork(A, B);
  auto work = MakeDetraceWork(product.get(), C);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) MultiplyWith(A, ir, B, ir, C, ir, product.get(), work.get());
}

void DivideStraightforward(CCHArray *A, CCHArray *B, CCHArray *C) {
  auto P = MakeQuotientWork(A, B);
  auto Q = MakeDetraceWork(P.get(), C);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) DivideWith(A, ir, B, ir, C, ir, P.get(), Q.get());
}

const int kLMAX = 6, kNR = 20;

struct Operands {
  std::unique_ptr<CCHArray> A, B, C;
  explicit Operands(bool sym) {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);  // the quotient reports its convergence per bin
    A = std::make_unique<CCHArray>(kLMAX, kNR, 1.0, sym, sym, sym);
    B = std::make_unique<CCHArray>(kLMAX, kNR, 1.0, sym, sym, sym);
    C = std::make_unique<CCHArray>(kLMAX, kNR, 1.0, sym, sym, sym);
    A->RandomInit(12345);
    A->RandomizeA(1.0);
    B->RandomizeA(0.02);
    for (int ir = 0; ir < kNR; ++ir) B->SetElement(0, 0, 0, ir, 1.0);
  }
};

Operands &Get(bool sym) {
  static std::unique_ptr<Operands> ops[2];
  std::unique_ptr<Operands> &o = ops[sym ? 1 : 0];
  if (!o) o = std::make_unique<Operands>(sym);
  return *o;
}

void Finish(benchmark::State &state) {
  state.counters["s/bin"] =
      benchmark::Counter(double(kNR) * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Multiply(benchmark::State &state) {
  Operands &o = Get(state.range(0) != 0);
  for (auto _ : state) ArrayCalc::MultiplyArrays(o.A.get(), o.B.get(), o.C.get());
  Finish(state);
}

void BM_MultiplyStraightforward(benchmark::State &state) {
  Operands &o = Get(state.range(0) != 0);
  for (auto _ : state) MultiplyStraightforward(o.A.get(), o.B.get(), o.C.get());
  Finish(state);
}

void BM_Divide(benchmark::State &state) {
  Operands &o = Get(state.range(0) != 0);
  for (auto _ : state) ArrayCalc::DivideArrays(o.A.get(), o.B.get(), o.C.get());
  Finish(state);
}

void BM_DivideStraightforward(benchmark::State &state) {
  Operands &o = Get(state.range(0) != 0);
  for (auto _ : state) DivideStraightforward(o.A.get(), o.B.get(), o.C.get());
  Finish(state);
}

}  // namespace

// Arg: 0 without symmetry, 1 with XSYM = YSYM = ZSYM.
BENCHMARK(BM_Multiply)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MultiplyStraightforward)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Divide)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DivideStraightforward)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
