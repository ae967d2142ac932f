// Products and quotients of Cartesian-harmonic arrays at LMAX 6 (20 radial
// bins; random traceless operands, the divisor with a dominant l = 0 part),
// without symmetry (84 triples) and with all three reflections (20 triples):
//   BM_Multiply / BM_Divide:               the whole-array forms, which reuse
//                                          their product-form work arrays;
//   BM_MultiplyPerBin / BM_DividePerBin:   the per-bin forms called bin by bin,
//                                          which build the work arrays every
//                                          call (the straightforward loop).
// Counter "s/bin": time per radial bin.

#include <benchmark/benchmark.h>

#include <memory>

#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "config/output.h"

namespace {

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

void BM_MultiplyPerBin(benchmark::State &state) {
  Operands &o = Get(state.range(0) != 0);
  for (auto _ : state)
    for (int ir = 0; ir < kNR; ++ir) ArrayCalc::MultiplyArrays(o.A.get(), ir, o.B.get(), ir, o.C.get(), ir);
  Finish(state);
}

void BM_Divide(benchmark::State &state) {
  Operands &o = Get(state.range(0) != 0);
  for (auto _ : state) ArrayCalc::DivideArrays(o.A.get(), o.B.get(), o.C.get());
  Finish(state);
}

void BM_DividePerBin(benchmark::State &state) {
  Operands &o = Get(state.range(0) != 0);
  for (auto _ : state)
    for (int ir = 0; ir < kNR; ++ir) ArrayCalc::DivideArrays(o.A.get(), ir, o.B.get(), ir, o.C.get(), ir);
  Finish(state);
}

}  // namespace

// Arg: 0 without symmetry, 1 with XSYM = YSYM = ZSYM.
BENCHMARK(BM_Multiply)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MultiplyPerBin)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Divide)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DividePerBin)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
