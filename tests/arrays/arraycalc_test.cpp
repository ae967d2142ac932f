#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "common/child.h"
#include "charray_testutil.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Random unit vectors, fixed for reproducibility.
std::vector<std::array<double, 3>> Directions(int n) {
  CRandom random(4321);
  std::vector<std::array<double, 3>> e;
  while (static_cast<int>(e.size()) < n) {
    const double x = 2 * random.ran() - 1, y = 2 * random.ran() - 1, z = 2 * random.ran() - 1;
    const double r = std::sqrt(x * x + y * y + z * z);
    if (r > 0.1 && r < 1.0) e.push_back({x / r, y / r, z / r});
  }
  return e;
}

using Function = std::function<double(double, double, double)>;

Function Of(const CCHArray &a, int ir) {
  return [&a, ir](double x, double y, double z) { return testutil::Evaluate(a, ir, x, y, z); };
}

// Largest |c(e) - f_proj(e)| over random directions, f projected on degrees <= lmax of c.
double ProjectionError(const CCHArray &c, int ir, const Function &f, int quadrature) {
  const auto rule = testutil::SphereRule(quadrature, 2 * quadrature);
  double worst = 0.0;
  for (const auto &e : Directions(12))
    worst = std::fmax(worst, std::fabs(testutil::Evaluate(c, ir, e[0], e[1], e[2]) -
                                       testutil::Project(f, c.GetLMAX(), rule, e[0], e[1], e[2])));
  return worst;
}

// A smooth positive traceless array: c0 + small random anisotropy up to rank lmax.
void FillSmooth(CCHArray &a, double c0, double scale, int seed) {
  a.RandomInit(seed);
  a.RandomizeA(scale);
  for (int ir = 0; ir < a.GetNRADIAL(); ++ir) a.SetElement(0, 0, 0, ir, c0);
}

std::string Captured(const std::function<void()> &body) { return RunInChild(body).output; }

}  // namespace

TEST(ArrayCalcCompare, MessagesInOrderOfTheTests) {
  CCHArray a(2, 5, 1.0), sym(3, 4, 2.0, false, true, false), n(3, 4, 1.0), step(3, 5, 1.0 + 1e-9),
      stepneg(2, 5, -1.0), lmax(3, 5, 1.0);
  bool result = true;
  EXPECT_EQ(Captured([&] { printf("%d", ArrayCalc::CompareArrayParameters(&a, &sym)); }),
            "Symmetry mismatch between CHArrays!!!\n0");
  EXPECT_EQ(Captured([&] { printf("%d", ArrayCalc::CompareArrayParameters(&a, &n)); }),
            "NRADIAL mismatch between CCHArrays!!!\n0");
  EXPECT_EQ(Captured([&] { printf("%d", ArrayCalc::CompareArrayParameters(&a, &step)); }),
            "RADSTEP mismatch between CCHArrays!!!\n0");
  EXPECT_EQ(Captured([&] { printf("%d", ArrayCalc::CompareArrayParameters(&a, &lmax)); }),
            "LMAX mismatch metween CCHArrays!!!\n0");
  EXPECT_EQ(Captured([&] { printf("%d", ArrayCalc::CompareArrayParameters(&a, &stepneg)); }), "1");
  result = ArrayCalc::CompareArrayParameters(&a, &a);
  EXPECT_TRUE(result);

  C3DArray grid(3, 1.0, true, false, true), grid2(3, 1.0, true, false, true), other(4, 1.0, true, false, true),
      wide(3, 1.5, true, false, true), flip(3, 1.0, false, false, true);
  CCHArray ch(2, 3, 1.0, true, false, true), chx(2, 3, 1.0, false, true, true);
  EXPECT_TRUE(ArrayCalc::CompareArrayParameters(&grid, &ch));
  EXPECT_TRUE(ArrayCalc::CompareArrayParameters(&ch, &grid));
  EXPECT_TRUE(ArrayCalc::CompareArrayParameters(&grid, &grid2));
  EXPECT_EQ(Captured([&] { ArrayCalc::CompareArrayParameters(&grid, &chx); }),
            "X: 0=?1, Y: 1=?0 Z: 1=?1\nSymmetry mismatch between CHArray and 3DArray!!!\n");
  EXPECT_EQ(Captured([&] { ArrayCalc::CompareArrayParameters(&chx, &grid); }),
            "Symmetry mismatch between CHArray and 3DArray!!!\n");
  EXPECT_EQ(Captured([&] { ArrayCalc::CompareArrayParameters(&grid, &flip); }),
            "Symmetry mismatch between 3DArrays!!!\n");
  EXPECT_EQ(Captured([&] { ArrayCalc::CompareArrayParameters(&grid, &other); }),
            "NXYZMAX mismatch between 3DArrays!!!\n");
  EXPECT_EQ(Captured([&] { ArrayCalc::CompareArrayParameters(&grid, &wide); }),
            "DELXYZ mismatch between 3DArrays!!!\n");
}

TEST(ArrayCalcCompare, WholeArrayFormsStopOnMismatch) {
  CCHArray a(2, 3, 1.0), b(3, 3, 1.0), c(2, 4, 1.0);
  struct Case {
    std::function<void()> body;
    const char *output;
  };
  const Case cases[] = {
      {[&] { ArrayCalc::CopyArray(&a, &b); },
       "LMAX mismatch metween CCHArrays!!!\nfatal error, parameters mismatch in ArrayCalc::CopyArray\n"},
      {[&] { ArrayCalc::AddArrays(&a, &a, &b); },
       "LMAX mismatch metween CCHArrays!!!\nfatal error, parameters mismatch in ArrayCalc::AddArrays\n"},
      {[&] { ArrayCalc::MultiplyArrays(&a, &c, &a); },
       "NRADIAL mismatch between CCHArrays!!!\nfatal error, parameters mismatch in ArrayCalc::MultiplyArrays\n"},
      {[&] { ArrayCalc::Detrace(&a, &b); },
       "LMAX mismatch metween CCHArrays!!!\nfatal error, parameters mismatch in ArrayCalc::Detrace\n"},
      {[&] { ArrayCalc::DivideArrays(&a, &a, &c); }, "FATAL: NRADIAL mismatch in ArrayCalc::DivideArrays\n"},
      {[&] { ArrayCalc::InvertArray(&a, &c); }, "FATAL: NRADIAL mismatch in ArrayCalc::InvertArrays\n"},
  };
  for (const Case &k : cases) {
    ChildResult r = RunInChild(k.body);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, k.output);
  }
}

TEST(ArrayCalc, CopyAndAddRespectRanks) {
  CCHArray a(2, 2, 1.0), big(4, 2, 1.0), sum(4, 2, 1.0);
  a.Randomize(1.0);
  big.Randomize(1.0);
  ArrayCalc::CopyArray(&a, 1, &big, 0);
  EXPECT_EQ(big.GetElement(1, 1, 0, 0), a.GetElement(1, 1, 0, 1));
  EXPECT_EQ(big.GetElement(3, 0, 1, 0), 0.0);  // above LMAX of the source
  EXPECT_NE(big.GetElement(3, 0, 1, 1), 0.0);  // another bin untouched

  sum.Randomize(1.0);
  const double high = sum.GetElement(0, 3, 1, 1);
  ArrayCalc::AddArrays(&a, 0, &big, 1, &sum, 1);
  EXPECT_DOUBLE_EQ(sum.GetElement(0, 2, 0, 1), a.GetElement(0, 2, 0, 0) + big.GetElement(0, 2, 0, 1));
  EXPECT_EQ(sum.GetElement(0, 3, 1, 1), high);

  CCHArray x(3, 3, 1.0), y(3, 3, 1.0), z(3, 3, 1.0);
  x.RandomizeA(1.0);
  y.RandomizeA(1.0);
  ArrayCalc::AddArrays(&x, &y, &z);
  ArrayCalc::CopyArray(&z, &y);
  for (int ir = 0; ir < 3; ++ir)
    EXPECT_NEAR(testutil::Evaluate(y, ir, 0.6, 0.0, 0.8),
                testutil::Evaluate(x, ir, 0.6, 0.0, 0.8) + testutil::Evaluate(z, ir, 0.6, 0.0, 0.8) -
                    testutil::Evaluate(x, ir, 0.6, 0.0, 0.8),
                1e-12);
}

TEST(ArrayCalc, ProductsAgreeWithPointwiseProducts) {
  CCHArray f(3, 2, 1.0), g(3, 2, 1.0), full(6, 2, 1.0), cut(3, 2, 1.0);
  f.RandomizeA(1.0);
  g.RandomizeA(1.0);
  // To rank 6 nothing is lost: the product is exact at every direction.
  ArrayCalc::MultiplyArrays(&f, 1, &g, 1, &full, 0);
  for (const auto &e : Directions(10))
    EXPECT_NEAR(testutil::Evaluate(full, 0, e[0], e[1], e[2]),
                testutil::Evaluate(f, 1, e[0], e[1], e[2]) * testutil::Evaluate(g, 1, e[0], e[1], e[2]), 1e-11);
  EXPECT_LT(testutil::TraceResidual(full, 0), 1e-12);
  // At the operands' rank the result is the harmonic projection of the product,
  // including the traces of the ranks above it.
  ArrayCalc::MultiplyArrays(&f, &g, &cut);
  for (int ir = 0; ir < 2; ++ir) {
    const Function product = [&](double x, double y, double z) {
      return testutil::Evaluate(f, ir, x, y, z) * testutil::Evaluate(g, ir, x, y, z);
    };
    EXPECT_LT(ProjectionError(cut, ir, product, 8), 1e-11);
  }

  // e_x * e_x at LMAX 1 keeps its mean 1/3.
  CCHArray ex(1, 1, 1.0), exex(1, 1, 1.0);
  ex.SetElement(1, 0, 0, 0, 1.0);
  ArrayCalc::MultiplyArrays(&ex, &ex, &exex);
  EXPECT_NEAR(exex.GetElement(0, 0, 0, 0), 1.0 / 3.0, 1e-15);
  EXPECT_NEAR(exex.GetBiggest(0), 1.0 / 3.0, 1e-15);

  // Symmetric operands: (random even) times (random even) into an even array.
  CCHArray se(4, 1, 1.0, true, true, true), sf(4, 1, 1.0, true, true, true), sp(4, 1, 1.0, true, true, true);
  se.RandomizeA(1.0);
  sf.RandomizeA(1.0);
  ArrayCalc::MultiplyArrays(&se, 0, &sf, 0, &sp, 0);
  const Function sprod = [&](double x, double y, double z) {
    return testutil::Evaluate(se, 0, x, y, z) * testutil::Evaluate(sf, 0, x, y, z);
  };
  EXPECT_LT(ProjectionError(sp, 0, sprod, 10), 1e-11);

  // Multiplying by the constant 1 changes nothing.
  CCHArray one(4, 2, 1.0), h(4, 2, 1.0), same(4, 2, 1.0);
  one.SetElement(0, 0, 0, 0, 1.0);
  one.SetElement(0, 0, 0, 1, 1.0);
  h.RandomizeA(1.0);
  ArrayCalc::MultiplyArrays(&h, &one, &same);
  for (int lx = 0; lx <= 4; ++lx)
    for (int ly = 0; lx + ly <= 4; ++ly)
      for (int lz = 0; lx + ly + lz <= 4; ++lz)
        EXPECT_NEAR(same.GetElement(lx, ly, lz, 1), h.GetElement(lx, ly, lz, 1), 1e-13);
}

TEST(ArrayCalc, ProductFormPartialProduct) {
  CCHArray f(2, 1, 1.0), g(3, 1, 1.0), p(5, 1, 1.0), low(5, 1, 1.0);
  f.Randomize(1.0);  // any symmetric coefficients, not only traceless ones
  g.Randomize(1.0);
  ArrayCalc::MultiplyArrays_Partial(2, &f, 0, 3, &g, 0, 9, &p, 0);
  for (const auto &e : Directions(5))
    EXPECT_NEAR(testutil::Evaluate(p, 0, e[0], e[1], e[2]),
                testutil::Evaluate(f, 0, e[0], e[1], e[2]) * testutil::Evaluate(g, 0, e[0], e[1], e[2]), 1e-12);
  // LC bounds the ranks formed; ranks of an operand above its LMAX are empty.
  ArrayCalc::MultiplyArrays_Partial(7, &f, 0, 7, &g, 0, 2, &low, 0);
  EXPECT_EQ(low.GetElement(1, 1, 1, 0), 0.0);
  EXPECT_NEAR(low.GetElement(1, 1, 0, 0),
              (f.GetElement(1, 0, 0, 0) * g.GetElement(0, 1, 0, 0) + f.GetElement(0, 1, 0, 0) * g.GetElement(1, 0, 0, 0) +
               f.GetElement(0, 0, 0, 0) * g.GetElement(1, 1, 0, 0) * 2 +
               f.GetElement(1, 1, 0, 0) * 2 * g.GetElement(0, 0, 0, 0)) /
                  2,
              1e-14);
}

TEST(ArrayCalc, DetraceGivesTheTracelessExpansionOfTheSameFunction) {
  for (int flags : {0, 7, 2}) {
    CCHArray p(4, 2, 1.0, flags & 1, flags & 2, flags & 4), same(4, 2, 1.0, flags & 1, flags & 2, flags & 4),
        low(2, 2, 1.0, flags & 1, flags & 2, flags & 4);
    p.Randomize(1.0);
    ArrayCalc::Detrace(&p, &same);
    for (int ir = 0; ir < 2; ++ir) {
      EXPECT_LT(testutil::TraceResidual(same, ir), 1e-13);
      for (const auto &e : Directions(8))
        EXPECT_NEAR(testutil::Evaluate(same, ir, e[0], e[1], e[2]), testutil::Evaluate(p, ir, e[0], e[1], e[2]),
                    1e-12);
    }
    ArrayCalc::Detrace(&p, 1, &low, 0);
    EXPECT_LT(ProjectionError(low, 0, Of(p, 1), 6), 1e-12);
    // In place, bin by bin.
    CCHArray q(4, 2, 1.0, flags & 1, flags & 2, flags & 4);
    ArrayCalc::CopyArray(&p, &q);
    q.Detrace(1);
    EXPECT_EQ(q.GetElement(2, 2, 0, 1), same.GetElement(2, 2, 0, 1));
    EXPECT_EQ(q.GetElement(2, 2, 0, 0), p.GetElement(2, 2, 0, 0));
    q.Detrace();
    EXPECT_EQ(q.GetElement(0, 2, 2, 0), same.GetElement(0, 2, 2, 0));
  }
  // A traceless set is left as it is; rank 0 of the function e.e is 1.
  CCHArray t(5, 1, 1.0), back(5, 1, 1.0), norm(2, 1, 1.0), normt(2, 1, 1.0);
  t.RandomizeA(1.0);
  ArrayCalc::Detrace(&t, &back);
  for (int lx = 0; lx <= 5; ++lx)
    for (int ly = 0; lx + ly <= 5; ++ly)
      for (int lz = 0; lx + ly + lz <= 5; ++lz)
        EXPECT_NEAR(back.GetElement(lx, ly, lz, 0), t.GetElement(lx, ly, lz, 0), 1e-12);
  norm.SetElement(2, 0, 0, 0, 1.0);
  norm.SetElement(0, 2, 0, 0, 1.0);
  norm.SetElement(0, 0, 2, 0, 1.0);
  ArrayCalc::Detrace(&norm, &normt);
  EXPECT_NEAR(normt.GetElement(0, 0, 0, 0), 1.0, 1e-15);
  EXPECT_NEAR(normt.GetElement(2, 0, 0, 0), 0.0, 1e-15);
}

TEST(ArrayCalc, QuotientsAndReciprocalsAgreeWithPointwiseArithmetic) {
  CCHArray a(2, 2, 1.0), b(2, 2, 1.0), c(4, 2, 1.0), inv(4, 2, 1.0);
  FillSmooth(a, 1.0, 0.2, 11);
  FillSmooth(b, 2.0, 0.3, 12);
  ChildResult r = RunInChild([&] {
    ArrayCalc::DivideArrays(&a, &b, &c);
    for (int ir = 0; ir < 2; ++ir) {
      const Function quotient = [&](double x, double y, double z) {
        return testutil::Evaluate(a, ir, x, y, z) / testutil::Evaluate(b, ir, x, y, z);
      };
      printf("error %d %g\n", ir, ProjectionError(c, ir, quotient, 30));
    }
    ArrayCalc::InvertArray(&b, &inv);
    const Function reciprocal = [&](double x, double y, double z) { return 1.0 / testutil::Evaluate(b, 1, x, y, z); };
    printf("error inv %g\n", ProjectionError(inv, 1, reciprocal, 30));
  });
  EXPECT_EQ(r.status, 0);
  double e0 = 1, e1 = 1, einv = 1;
  const size_t at = r.output.find("error 0");
  ASSERT_NE(at, std::string::npos) << r.output;
  ASSERT_EQ(sscanf(r.output.c_str() + at, "error 0 %lf\nerror 1 %lf\n", &e0, &e1), 2);
  ASSERT_EQ(sscanf(r.output.c_str() + r.output.find("error inv"), "error inv %lf", &einv), 1);
  // The series stops at relative size 1e-6.
  EXPECT_LT(e0, 1e-5);
  EXPECT_LT(e1, 1e-5);
  EXPECT_LT(einv, 1e-5);
  EXPECT_NE(r.output.find("INFO: Sum in DivideAExpArrays satisfied convergence criteria at L="), std::string::npos);
  EXPECT_EQ(r.output.find("WARNING"), std::string::npos);

  // A negative constant term converges as well.
  CCHArray negb(2, 1, 1.0), negc(3, 1, 1.0);
  FillSmooth(negb, -2.0, 0.3, 13);
  r = RunInChild([&] {
    ArrayCalc::DivideArrays(&a, 0, &negb, 0, &negc, 0);
    const Function quotient = [&](double x, double y, double z) {
      return testutil::Evaluate(a, 0, x, y, z) / testutil::Evaluate(negb, 0, x, y, z);
    };
    printf("error %g\n", ProjectionError(negc, 0, quotient, 30));
  });
  double eneg = 1;
  ASSERT_EQ(sscanf(r.output.c_str() + r.output.find("error"), "error %lf", &eneg), 1) << r.output;
  EXPECT_LT(eneg, 1e-5);
  EXPECT_EQ(r.output.find("WARNING"), std::string::npos);
  int lreached = 99;
  ASSERT_EQ(sscanf(r.output.c_str(), "INFO: Sum in DivideAExpArrays satisfied convergence criteria at L=%d", &lreached),
            1);
  EXPECT_LT(lreached, 30);

  // B / B is 1.
  CCHArray one(3, 1, 1.0);
  r = RunInChild([&] {
    ArrayCalc::DivideArrays(&b, 1, &b, 1, &one, 0);
    printf("%.9f %.3g\n", one.GetElement(0, 0, 0, 0), one.GetBiggest(0) - one.GetElement(0, 0, 0, 0));
  });
  EXPECT_NE(r.output.find("1.000000000"), std::string::npos) << r.output;
}

TEST(ArrayCalc, QuotientSeriesEdgeCases) {
  // The reciprocal of a constant is found at once; the series runs through
  // the numerator's rank (3) before it may stop.
  CCHArray c4(3, 1, 1.0), inv(3, 1, 1.0);
  c4.SetElement(0, 0, 0, 0, 4.0);
  ChildResult r = RunInChild([&] {
    ArrayCalc::InvertArray(&c4, 0, &inv, 0);
    printf("%g %g\n", inv.GetElement(0, 0, 0, 0), inv.GetBiggest(0));
  });
  EXPECT_EQ(r.output, "INFO: Sum in DivideAExpArrays satisfied convergence criteria at L=3\n0.25 0.25\n");
  // A zero numerator converges with an empty sum.
  CCHArray zero(2, 1, 1.0), q(2, 1, 1.0);
  r = RunInChild([&] { ArrayCalc::DivideArrays(&zero, 0, &c4, 0, &q, 0); });
  EXPECT_EQ(r.output, "INFO: Sum in DivideAExpArrays satisfied convergence criteria at L=2\n");
  // 1/(0.1 + e_x) has a pole on the sphere: the series cannot converge.
  CCHArray pole(1, 1, 1.0), out(2, 1, 1.0);
  pole.SetElement(0, 0, 0, 0, 0.1);
  pole.SetElement(1, 0, 0, 0, 1.0);
  r = RunInChild([&] { ArrayCalc::InvertArray(&pole, 0, &out, 0); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "WARNING: Sum in DivideAExpArrays did not converge by L=55\n");

  // A zero constant term of the divisor is fatal.
  CCHArray nob(2, 1, 1.0), numer(2, 1, 1.0);
  nob.SetElement(0, 1, 0, 0, 1.0);
  r = RunInChild([&] { ArrayCalc::DivideArrays(&numer, 0, &nob, 0, &q, 0); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "FATAL: ArrayCalc::DivideArrays: divisor has B(0,0,0)=0 at ir=0, the quotient is undefined\n");
  r = RunInChild([&] { ArrayCalc::InvertArray(&nob, &q); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "FATAL: ArrayCalc::InvertArray: A(0,0,0)=0 at ir=0, the reciprocal is undefined\n");

  // Symmetry the operands lack cannot be asked of the result.
  CCHArray even(2, 1, 1.0, true, true, true), plain(2, 1, 1.0);
  even.SetElement(0, 0, 0, 0, 1.0);
  plain.SetElement(0, 0, 0, 0, 1.0);
  r = RunInChild([&] { ArrayCalc::DivideArrays(&plain, 0, &even, 0, &even, 0); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "FATAL: Symmetry mismatch in ArrayCalc::DivdeArrays\n");
  r = RunInChild([&] { ArrayCalc::InvertArray(&plain, 0, &even, 0); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "FATAL: Symmetry mismatch in ArrayCalc::InvertArray\n");
}

TEST(ArrayCalc, MeshArraysElementByElement) {
  C3DArray a(2, 0.5, 2, 0.5, 3, 1.0, false, true, false), b(2, 0.5, 2, 0.5, 3, 1.0, false, true, false),
      c(2, 0.5, 2, 0.5, 3, 1.0, false, true, false), d(2, 0.5, 2, 0.5, 3, 1.0, false, true, false);
  a.Randomize();
  b.Randomize();
  auto check = [&](C3DArray &out, const std::function<double(double, double)> &op) {
    for (int isx = 0; isx < 2; ++isx)
      for (int ix = 0; ix < 2; ++ix)
        for (int iy = 0; iy < 2; ++iy)
          for (int isz = 0; isz < 2; ++isz)
            for (int iz = 0; iz < 3; ++iz)
              EXPECT_DOUBLE_EQ(out.GetElement(isx, ix, 0, iy, isz, iz),
                               op(a.GetElement(isx, ix, 0, iy, isz, iz), b.GetElement(isx, ix, 0, iy, isz, iz)));
  };
  ArrayCalc::MultiplyArrays(&a, &b, &c);
  check(c, [](double x, double y) { return x * y; });
  ArrayCalc::DivideArrays(&a, &b, &c);
  check(c, [](double x, double y) { return x / y; });
  ArrayCalc::AddArrays(&a, &b, &c);
  check(c, [](double x, double y) { return x + y; });
  ArrayCalc::CopyArray(&a, &d);
  check(d, [](double x, double) { return x; });
  ArrayCalc::InvertArray(&a, &d);
  check(d, [](double x, double) { return 1.0 / x; });

  C3DArray wrong(2, 0.5, 2, 0.5, 3, 1.0, true, true, false);
  ChildResult r = RunInChild([&] { ArrayCalc::MultiplyArrays(&a, &b, &wrong); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Symmetry mismatch between 3DArrays!!!\n");
  r = RunInChild([&] { ArrayCalc::InvertArray(&wrong, &a); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Symmetry mismatch between 3DArrays!!!\n");
}
