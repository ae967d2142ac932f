#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "charray_testutil.h"


using namespace testutil;

namespace {

// Largest |c - f| over random directions in bin ir, with f taken as it is
// (lmax < 0) or projected on the degrees <= lmax.
double Error(const CCHArray &c, int ir, const Function &f, int lmax = -1) {
  static const auto rule = SphereRule(30, 60);
  CRandom random(4321);
  double worst = 0.0;
  for (int i = 0; i < 10; ++i) {
    double e[3] = {random.gauss(), random.gauss(), random.gauss()}, r = std::hypot(e[0], e[1], e[2]);
    for (double &v : e) v /= r;
    const double f0 = lmax < 0 ? f(e[0], e[1], e[2]) : Project(f, lmax, rule, e[0], e[1], e[2]);
    worst = std::fmax(worst, std::fabs(Evaluate(c, ir, e[0], e[1], e[2]) - f0));
  }
  return worst;
}

// a * b or a / b in bin ir, pointwise; any other op gives a alone.
Function Op(const CCHArray &a, const CCHArray &b, int ir, char op) {
  return [&a, &b, ir, op](double x, double y, double z) {
    const double u = Evaluate(a, ir, x, y, z), v = Evaluate(b, ir, x, y, z);
    return op == '*' ? u * v : op == '/' ? u / v : u;
  };
}

}  // namespace

TEST(ArrayCalc, ComparisonMessagesAndMeshArrayForms) {
  CCHArray a(2, 5, 1.0), sym(3, 4, 2.0, false, true, false), n(3, 4, 1.0), step(3, 5, 1.0 + 1e-9), l(3, 5, 1.0);
  for (const auto &c : {std::make_pair(&sym, "Symmetry mismatch between CHArrays!!!\n"),
                        std::make_pair(&n, "NRADIAL mismatch between CCHArrays!!!\n"),
                        std::make_pair(&step, "RADSTEP mismatch between CCHArrays!!!\n"),
                        std::make_pair(&l, "LMAX mismatch metween CCHArrays!!!\n")})
    EXPECT_EQ(Stdout([&] { EXPECT_FALSE(ArrayCalc::CompareArrayParameters(&a, c.first)); }), c.second);
  C3DArray g(3, 1.0, true, false, true), nx(4, 1.0, true, false, true), del(3, 1.5, true, false, true);
  EXPECT_EQ(Stdout([&] { ArrayCalc::CompareArrayParameters(&g, &nx); }), "NXYZMAX mismatch between 3DArrays!!!\n");
  EXPECT_EQ(Stdout([&] { ArrayCalc::CompareArrayParameters(&g, &del); }), "DELXYZ mismatch between 3DArrays!!!\n");
  CCHArray same(2, 3, 1.0, true, false, true), other(2, 3, 1.0, false, true, true);
  EXPECT_TRUE(ArrayCalc::CompareArrayParameters(&g, &same) && ArrayCalc::CompareArrayParameters(&same, &g));
  EXPECT_EQ(Stdout([&] { ArrayCalc::CompareArrayParameters(&g, &other); }),
            "X: 0=?1, Y: 1=?0 Z: 1=?1\nSymmetry mismatch between CHArray and 3DArray!!!\n");
  ExpectFatal([&] { ArrayCalc::MultiplyArrays(&a, &l, &a); },  // whole-array operations stop on a mismatch
              "LMAX mismatch metween CCHArrays!!!\n(LMAX 2 and 3)\nfatal error, parameters mismatch in ArrayCalc::MultiplyArrays\n");
  // Mesh arrays, element by element up to the last element of the last sign block.
  C3DArray u(2, 0.5, false, true, false), v(u), p(u), q(u), r(u);
  u.Randomize();
  v.Randomize();
  ArrayCalc::MultiplyArrays(&u, &v, &p);
  ArrayCalc::DivideArrays(&u, &v, &q);
  ArrayCalc::InvertArray(&u, &r);
  auto last = [](const C3DArray &w) { return w.GetElement(1, 1, 0, 1, 1, 1); };
  const double x = last(u), y = last(v);
  EXPECT_TRUE(last(p) == x * y && last(q) == x / y && last(r) == 1 / x);
}

TEST(ArrayCalc, ProductsAndTracelessProjectionsAgreeWithPointwiseArithmetic) {
  for (bool s : {false, true}) {
    CCHArray f(3, 2, 1.0, s, s, s), g(3, 2, 1.0, s, s, s), cut(3, 2, 1.0, s, s, s), full(6, 2, 1.0, s, s, s);
    f.RandomizeA(1.0);
    g.RandomizeA(1.0);
    ArrayCalc::MultiplyArrays(&f, &g, &cut);
    ArrayCalc::MultiplyArrays(&f, 1, &g, 1, &full, 1);
    // To rank 6 nothing is lost; at rank 3 the product is projected, the
    // traces of the higher ranks included.
    EXPECT_LT(Error(full, 1, Op(f, g, 1, '*')) + TraceResidual(full, 1), 1e-11);
    for (int ir = 0; ir < 2; ++ir) EXPECT_LT(Error(cut, ir, Op(f, g, ir, '*'), 3), 1e-11) << s;
  }
  CCHArray ex(1, 1, 1.0), exex(1, 1, 1.0);  // e_x e_x at LMAX 1 keeps its mean 1/3
  ex.SetElement(1, 0, 0, 0, 1.0);
  ArrayCalc::MultiplyArrays(&ex, &ex, &exex);
  EXPECT_NEAR(exex.GetElement(0, 0, 0, 0), 1.0 / 3.0, 1e-15);
  // Detrace keeps the function and removes the traces, also without symmetry.
  CCHArray p(4, 2, 1.0), t(4, 2, 1.0), low(2, 2, 1.0);
  p.Randomize(1.0);
  ArrayCalc::Detrace(&p, &t);
  ArrayCalc::Detrace(&p, 1, &low, 0);
  EXPECT_LT(Error(t, 1, Op(p, p, 1, '=')) + TraceResidual(t, 1), 1e-12);
  EXPECT_LT(Error(low, 0, Op(p, p, 1, '='), 2), 1e-12);
  p.Detrace();  // in place
  EXPECT_LT(Error(p, 1, Op(t, t, 1, '=')) + TraceResidual(p, 1), 1e-12);
}

TEST(ArrayCalc, QuotientsAndReciprocalsAgreeWithPointwiseArithmetic) {
  CCHArray a(2, 2, 1.0), b(2, 2, 1.0), c(4, 2, 1.0), inv(4, 2, 1.0);
  a.RandomizeA(0.2);
  b.RandomizeA(0.3);
  for (int ir = 0; ir < 2; ++ir) {
    a.SetElement(0, 0, 0, ir, 1.0);
    b.SetElement(0, 0, 0, ir, ir == 0 ? -2.0 : 2.0);  // a negative constant term converges too
  }
  const std::string printed = Stdout([&] { ArrayCalc::DivideArrays(&a, &b, &c), ArrayCalc::InvertArray(&b, &inv); });
  // Two bins, each converged before rank 55.
  const std::string line = "INFO: Sum in DivideAExpArrays satisfied convergence criteria at L=";
  size_t count = 0;
  for (size_t pos = printed.find(line); pos != std::string::npos; pos = printed.find(line, pos + 1)) ++count;
  EXPECT_EQ(count, 4u) << printed;
  EXPECT_EQ(printed.find("L=55"), std::string::npos) << printed;
  for (int ir = 0; ir < 2; ++ir) {  // the series stops at relative size 1e-6
    EXPECT_LT(Error(c, ir, Op(a, b, ir, '/'), 4), 1e-5);
    EXPECT_LT(Error(inv, ir, [&](double x, double y, double z) { return 1 / Evaluate(b, ir, x, y, z); }, 4), 1e-5);
  }
  CCHArray pole(1, 1, 1.0), out(2, 1, 1.0), nob(2, 1, 1.0);
  pole.SetElement(0, 0, 0, 0, 0.1);  // 1/(0.1 + e_x) has a pole on the sphere
  pole.SetElement(1, 0, 0, 0, 1.0);
  EXPECT_EQ(Stdout([&] { ArrayCalc::InvertArray(&pole, 0, &out, 0); }),
            "WARNING: Sum in DivideAExpArrays did not converge by L=55\n");
  nob.SetElement(0, 1, 0, 0, 1.0);
  ExpectFatal([&] { ArrayCalc::DivideArrays(&out, 0, &nob, 0, &out, 0); },
              "FATAL: ArrayCalc::DivideArrays: divisor has B(0,0,0)=0 at ir=0, the quotient is undefined\n");
}
