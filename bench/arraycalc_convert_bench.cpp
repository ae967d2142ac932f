// Cost of the representation conversions on realistic arrays:
// - a 3D Gaussian source fill (radii 3, 4, 5 fm; 60 bins of 0.5 fm), exp of
//   the quadratic exponent bin by bin with the rank-55 series, against the
//   same series with work arrays of rank max(LMAX_X, LMAX_A) through
//   ArrayCalc::MultiplyArrays_Partial (the truncated form it replaces);
//   args: LMAX, symmetric (axis-aligned, all three reflections) or not
//   (rotated and shifted);
// - A-expansion -> 3D mesh and back (LMAX 6, 60^3 cells of 1 fm);
// - single-point increments, direct and recursive (points/s), LMAX 6.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "config/output.h"

namespace {

const int kNR = 60;
const double kDR = 0.5;

// Product-form exponent -(r e - o)^T Q (r e - o) of a Gaussian with radii
// 3, 4, 5 fm, rotated and shifted unless symmetric.
void GaussianExponent(double r, bool symmetric, CCHArray &X) {
  const double R[3] = {3.0, 4.0, 5.0};
  const double o[3] = {symmetric ? 0.0 : 0.5, symmetric ? 0.0 : -1.0, symmetric ? 0.0 : 0.8};
  const double a = symmetric ? 0.0 : 0.7, c = std::cos(a), s = std::sin(a);
  const double U[3][3] = {{c, -s, 0.0}, {s, c, 0.0}, {0.0, 0.0, 1.0}};
  double Q[3][3], Qo[3] = {0, 0, 0}, oQo = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      Q[i][j] = 0.0;
      for (int k = 0; k < 3; ++k) Q[i][j] += U[i][k] * U[j][k] / (4 * R[k] * R[k]);
    }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) Qo[i] += Q[i][j] * o[j];
    oQo += o[i] * Qo[i];
  }
  X.ZeroArray();
  X.SetElement(0, 0, 0, 0, -oQo);
  if (!symmetric) {
    X.SetElement(1, 0, 0, 0, 2 * r * Qo[0]);
    X.SetElement(0, 1, 0, 0, 2 * r * Qo[1]);
    X.SetElement(0, 0, 1, 0, 2 * r * Qo[2]);
    X.SetElement(1, 1, 0, 0, -r * r * Q[0][1]);
  }
  X.SetElement(2, 0, 0, 0, -r * r * Q[0][0]);
  X.SetElement(0, 2, 0, 0, -r * r * Q[1][1]);
  X.SetElement(0, 0, 2, 0, -r * r * Q[2][2]);
}

// The exponential series with work arrays of rank max(LMAX_X, LMAX_A).
void TruncatedExp(CCHArray *X, CCHArray *A, int irA) {
  const int L = std::max(X->GetLMAX(), A->GetLMAX());
  const bool sx = X->GetXSYM(), sy = X->GetYSYM(), sz = X->GetZSYM();
  CCHArray U(L, 1, 1.0, sx, sy, sz), P(L, 1, 1.0, sx, sy, sz), Q(L, 1, 1.0, sx, sy, sz), S(L, 1, 1.0, sx, sy, sz);
  ArrayCalc::CopyArray(X, 0, &U, 0);
  const double x0 = U.GetElement(0, 0, 0, 0);
  U.SetElement(0, 0, 0, 0, 0.0);
  S.SetElement(0, 0, 0, 0, 1.0);
  Q.SetElement(0, 0, 0, 0, 1.0);
  double t = 1.0;
  for (int n = 1;; ++n) {
    if (n % 6 == 0) t = 0.0;
    ArrayCalc::MultiplyArrays_Partial(X->GetLMAX(), &U, 0, X->GetLMAX() * (n - 1), &Q, 0, X->GetLMAX() * n, &P, 0);
    P.ScaleArray(1.0 / n);
    t = std::max(t, P.GetBiggest(0));
    ArrayCalc::AddArrays(&S, 0, &P, 0, &S, 0);
    ArrayCalc::CopyArray(&P, 0, &Q, 0);
    if (n == 47 || t <= 1e-8) break;
  }
  ArrayCalc::Detrace(&S, 0, A, irA);
  A->ScaleArray(std::exp(x0), irA);
}

template <bool kTruncated>
void BM_GaussianFill(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const int lmax = static_cast<int>(state.range(0));
  const bool sym = state.range(1) != 0;
  CCHArray A(lmax, kNR, kDR, sym, sym, sym), X(2, 1, 1.0, sym, sym, sym), Xt(2, 1, 1.0, sym, sym, sym);
  for (auto _ : state) {
    for (int ir = 0; ir < kNR; ++ir) {
      GaussianExponent((ir + 0.5) * kDR, sym, X);
      ArrayCalc::Detrace(&X, &Xt);
      if (kTruncated)
        TruncatedExp(&Xt, &A, ir);
      else
        ArrayCalc::CalcAExpArrayFromXExpArray(&Xt, 0, &A, ir);
    }
    benchmark::DoNotOptimize(A.GetElement(0, 0, 0, kNR / 2));
  }
  state.counters["bins/s"] = benchmark::Counter(double(kNR) * state.iterations(), benchmark::Counter::kIsRate);
}

std::unique_ptr<CCHArray> GaussianArray(int lmax) {
  auto A = std::make_unique<CCHArray>(lmax, kNR, kDR);
  CCHArray X(2, 1, 1.0), Xt(2, 1, 1.0);
  for (int ir = 0; ir < kNR; ++ir) {
    GaussianExponent((ir + 0.5) * kDR, false, X);
    ArrayCalc::Detrace(&X, &Xt);
    ArrayCalc::CalcAExpArrayFromXExpArray(&Xt, 0, A.get(), ir);
  }
  return A;
}

void BM_MeshFromExpansion(benchmark::State &state) {
  auto A = GaussianArray(6);
  C3DArray mesh(30, 1.0, false, false, false);
  for (auto _ : state) {
    ArrayCalc::Calc3DArrayFromAExpArray(A.get(), &mesh);
    benchmark::DoNotOptimize(mesh.GetElement(0, 3, 0, 3, 0, 3));
  }
}

void BM_ExpansionFromMesh(benchmark::State &state) {
  femtokit::SetVerbosity(femtokit::Verbosity::Silent);
  auto A = GaussianArray(6);
  C3DArray mesh(30, 1.0, false, false, false);
  ArrayCalc::Calc3DArrayFromAExpArray(A.get(), &mesh);
  for (auto _ : state) {
    ArrayCalc::CalcAExpArrayFrom3DArray(&mesh, A.get());
    benchmark::DoNotOptimize(A->GetElement(0, 0, 0, 3));
  }
}

template <bool kRecursive>
void BM_PointIncrement(benchmark::State &state) {
  CCHArray A(6, 1, 1.0);
  const double e[3] = {0.48, -0.6, 0.64};
  for (auto _ : state) {
    if (kRecursive)
      A.AltIncrementAExpArrayFromE(e[0], e[1], e[2], 1.0, 0);
    else
      A.IncrementAExpArrayFromE(e[0], e[1], e[2], 1.0, 0);
  }
  benchmark::DoNotOptimize(A.GetElement(0, 0, 0, 0));
  state.counters["points/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_GaussianFill, false)->Args({4, 0})->Args({6, 0})->Args({6, 1})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GaussianFill, true)->Args({4, 0})->Args({6, 0})->Args({6, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshFromExpansion)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpansionFromMesh)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_PointIncrement, false);
BENCHMARK_TEMPLATE(BM_PointIncrement, true);

BENCHMARK_MAIN();
