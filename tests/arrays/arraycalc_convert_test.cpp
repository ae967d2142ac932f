#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/ylmarray.h"
#include "charray_testutil.h"
#include "config/fatal.h"
#include "math/sphericalharmonics.h"

using namespace testutil;

namespace {

// Message of the fatal error body raises.
std::string FatalMessage(const std::function<void()> &body) {
  ThrowPolicy throws;
  try {
    body();
  } catch (const femtokit::Error &e) {
    return e.what();
  }
  return "no error";
}

// A(l) = (2L+1)!!/(4 pi L!) * integral f(e) GetAFromE(l, e) dOmega: the
// A-expansion of f by quadrature.
void ExactExpansion(const Function &f, CCHArray &a, int ir, const std::vector<Direction> &rule) {
  const CCHCalc &c = *CCHArray::chcalc;
  a.ForEachTriple([&](int x, int y, int z) {
    const int L = x + y + z;
    double s = 0.0;
    for (const Direction &d : rule) s += d.weight * f(d.x, d.y, d.z) * c.GetAFromE(x, y, z, d.x, d.y, d.z);
    a.SetElement(x, y, z, ir, c.DoubleFactorial(2 * L + 1) / (4 * M_PI * c.Factorial(L)) * s);
  });
}

double MaxDifference(const CCHArray &a, int ira, const CCHArray &b, int irb) {
  double worst = 0.0;
  a.ForEachTriple([&](int x, int y, int z) {
    worst = std::fmax(worst, std::fabs(a.GetElement(x, y, z, ira) - b.GetElement(x, y, z, irb)));
  });
  return worst;
}


}  // namespace

TEST(ArrayCalcConvert, MomentsAndTracelessArraysAreInverses) {
  CRandom random(3);
  CCHArray m(6, 3, 0.5), a(6, 3, 0.5), points(6, 3, 0.5), back(6, 3, 0.5);
  for (int ir = 0; ir < 3; ++ir)
    for (int p = 0; p < 5; ++p) {
      const Direction e = RandomDirection(random);
      m.IncrementMArrayFromE(e.x, e.y, e.z, 1.0 + p, ir);
      points.IncrementAExpArrayFromE(e.x, e.y, e.z, 1.0 + p, ir);
    }
  ArrayCalc::CalcAExpArrayFromMArray(&m, &a);
  ArrayCalc::CalcMArrayFromAExpArray(&a, &back);
  for (int ir = 0; ir < 3; ++ir) {
    EXPECT_LT(MaxDifference(a, ir, points, ir), 1e-10);
    EXPECT_LT(MaxDifference(back, ir, m, ir), 1e-12);
  }
  // A symmetric moment array feeds an unsymmetric A: the odd triples are 0.
  CCHArray msym(4, 1, 1.0, true, true, false), afull(4, 1, 1.0);
  msym.IncrementMArrayFromE(0.6, 0.0, 0.8, 2.0, 0);
  msym.IncrementMArrayFromE(-0.6, 0.0, 0.8, 2.0, 0);
  ArrayCalc::CalcAExpArrayFromMArray(&msym, 0, &afull, 0);
  EXPECT_EQ(afull.GetElement(1, 0, 1, 0), 0.0);
  EXPECT_NEAR(afull.GetElement(2, 0, 0, 0), 4.0 * 7.5 * (0.36 - 1.0 / 3.0), 1e-13);
  CCHArray m4(4, 3, 0.5), n2(6, 2, 0.5);
  EXPECT_EQ(FatalMessage([&] { ArrayCalc::CalcAExpArrayFromMArray(&m4, 0, &a, 0); }),
            "LMAX from M does not match LMAX from A");
  EXPECT_EQ(FatalMessage([&] { ArrayCalc::CalcMArrayFromAExpArray(&a, 0, &m4, 0); }),
            "LMAX from M does not match LMAX from A");
  Stdout([&] {
    EXPECT_EQ(FatalMessage([&] { ArrayCalc::CalcAExpArrayFromMArray(&n2, &a); }),
              "fatal error, parameters mismatch in ArrayCalc::CalcAExpArrayFromMArray");
  });
}

// The exponential of a rotated, shifted anisotropic Gaussian's exponent is
// the exact expansion of the Gaussian on each sphere: every coefficient
// agrees with the direct projection, also where the rank of the terms goes
// far beyond the array's LMAX (the traces of the high ranks reach it).
TEST(ArrayCalcConvert, GaussianExponentialIsTheExactExpansion) {
  const double R[3] = {3.0, 4.0, 5.0}, o[3] = {0.5, -1.0, 0.8};
  const double c1 = std::cos(0.7), s1 = std::sin(0.7), c2 = std::cos(0.4), s2 = std::sin(0.4);
  const double U[3][3] = {{c1 * c2, -s1, c1 * s2}, {s1 * c2, c1, s1 * s2}, {-s2, 0.0, c2}};
  double Q[3][3];  // U diag(1/(4R^2)) U^T
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      Q[i][j] = 0.0;
      for (int k = 0; k < 3; ++k) Q[i][j] += U[i][k] * U[j][k] / (4 * R[k] * R[k]);
    }
  const auto rule = SphereRule(32, 64);
  for (const double r : {2.5, 12.5, 16.5}) {
    // F(e) = -(r e - o)^T Q (r e - o) in product form.
    CCHArray X(2, 1, 1.0), Xt(2, 1, 1.0), A4(4, 1, 1.0), A8(8, 1, 1.0), exact4(4, 1, 1.0), exact8(8, 1, 1.0);
    double Qo[3] = {0, 0, 0}, oQo = 0.0;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) Qo[i] += Q[i][j] * o[j];
      oQo += o[i] * Qo[i];
    }
    X.SetElement(0, 0, 0, 0, -oQo);
    X.SetElement(1, 0, 0, 0, 2 * r * Qo[0]);
    X.SetElement(0, 1, 0, 0, 2 * r * Qo[1]);
    X.SetElement(0, 0, 1, 0, 2 * r * Qo[2]);
    for (int i = 0; i < 3; ++i)
      for (int j = i; j < 3; ++j) {
        const int lx = (i == 0) + (j == 0), ly = (i == 1) + (j == 1), lz = 2 - lx - ly;
        X.SetElement(lx, ly, lz, 0, -r * r * Q[i][j]);
      }
    ArrayCalc::Detrace(&X, &Xt);
    ArrayCalc::CalcAExpArrayFromXExpArray(&Xt, 0, &A4, 0);
    ArrayCalc::CalcAExpArrayFromXExpArray(&Xt, 0, &A8, 0);
    const Function gauss = [&](double x, double y, double z) {
      const double d[3] = {r * x - o[0], r * y - o[1], r * z - o[2]};
      double q = 0.0;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) q += d[i] * Q[i][j] * d[j];
      return std::exp(-q);
    };
    ExactExpansion(gauss, exact4, 0, rule);
    ExactExpansion(gauss, exact8, 0, rule);
    // The series stops when its terms fall below 1e-8 (of the leading 1).
    const double scale = exact4.GetElement(0, 0, 0, 0);
    EXPECT_LT(MaxDifference(A4, 0, exact4, 0) / scale, 1e-7) << r;
    EXPECT_LT(MaxDifference(A8, 0, exact8, 0) / scale, 1e-7) << r;
    EXPECT_NEAR(A4.GetElement(0, 0, 2, 0) / exact4.GetElement(0, 0, 2, 0), 1.0, 1e-7) << r;
    EXPECT_LT(TraceResidual(A8, 0), 1e-12 * scale);
  }
  // A constant exponent: e^x0 in (0,0,0) and nothing else.
  CCHArray x0(3, 1, 1.0, true, false, false), a(5, 1, 1.0, true, false, false);
  x0.SetElement(0, 0, 0, 0, -0.75);
  ArrayCalc::CalcAExpArrayFromXExpArray(&x0, 0, &a, 0);
  a.ForEachTriple([&](int x, int y, int z) {
    EXPECT_NEAR(a.GetElement(x, y, z, 0), x + y + z == 0 ? std::exp(-0.75) : 0.0, 1e-15);
  });
}

TEST(ArrayCalcConvert, LogarithmAndExponentialAreInverses) {
  for (bool s : {false, true}) {
    CCHArray A(3, 2, 1.0, s, false, false), X(12, 2, 1.0, s, false, false), back(3, 2, 1.0, s, false, false);
    A.RandomizeA(0.12);
    for (int ir = 0; ir < 2; ++ir) A.SetElement(0, 0, 0, ir, 1.0 + ir);
    std::string printed = Stdout([&] {
      for (int ir = 0; ir < 2; ++ir) ArrayCalc::CalcXExpArrayFromAExpArray(&A, ir, &X, ir);
    });
    EXPECT_EQ(printed.find("nmax was "), 0u) << printed;
    for (int ir = 0; ir < 2; ++ir) {
      ArrayCalc::CalcAExpArrayFromXExpArray(&X, ir, &back, ir);
      EXPECT_LT(MaxDifference(back, ir, A, ir), 3e-8) << s;  // two series stopped at 1e-8
      // The logarithm itself, pointwise, against ln of the function of A.
      const Function lnA = [&](double x, double y, double z) { return std::log(Evaluate(A, ir, x, y, z)); };
      const double e[3] = {0.48, -0.6, 0.64};
      EXPECT_NEAR(Evaluate(X, ir, e[0], e[1], e[2]), Project(lnA, 12, SphereRule(20, 40), e[0], e[1], e[2]), 1e-9);
    }
  }
  // Whole arrays: the logarithm takes the destination first.
  CCHArray A(4, 2, 1.0), X(4, 2, 1.0), nope(4, 2, 1.0, false, false, true);
  A.RandomizeA(0.05);
  A.SetElement(0, 0, 0, 0, 2.0);
  A.SetElement(0, 0, 0, 1, -1.0);
  Stdout([&] {
    EXPECT_EQ(FatalMessage([&] { ArrayCalc::CalcXExpArrayFromAExpArray(&X, &A); }),
              "ArrayCalc::CalcXExpArrayFromAExpArray: A(0,0,0)=-1 at ir=1, the logarithm needs it positive");
  });
  EXPECT_NEAR(X.GetElement(0, 0, 0, 0), std::log(2.0), 1e-3);
  EXPECT_EQ(FatalMessage([&] { ArrayCalc::CalcAExpArrayFromXExpArray(&A, 0, &nope, 0); }),
            "ArrayCalc::CalcAExpArrayFromXExpArray: the destination is symmetric along an axis where the source is "
            "not");
}

// Linear in r between bin centres, through the origin for the odd part, the
// last bin's value in the last half bin and 0 beyond: a function that is
// linear in r and in x per bin comes out exactly on every cell.
TEST(ArrayCalcConvert, MeshFromExpansionFollowsTheRadialInterpolationRules) {
  const double a = 2.0, b = -0.3, c = 0.7, delta = 1.6;
  const int nrad = 3;
  CCHArray A(2, nrad, delta);
  for (int ir = 0; ir < nrad; ++ir) {
    const double rc = (ir + 0.5) * delta;
    A.SetElement(0, 0, 0, ir, a + b * rc);
    A.SetElement(1, 0, 0, ir, c * rc);  // F(r u) = a + b r + c x at bin centres
  }
  C3DArray mesh(6, 0.9, false, false, false);
  ArrayCalc::Calc3DArrayFromAExpArray(&A, &mesh);
  int inner = 0, outer = 0, beyond = 0;
  for (int sx = 0; sx < 2; ++sx)
    for (int ix = 0; ix < 6; ++ix)
      for (int iy = 0; iy < 6; ++iy)
        for (int iz = 0; iz < 6; ++iz) {
          const double x = (sx ? -1 : 1) * (ix + 0.5) * 0.9, y = (iy + 0.5) * 0.9, z = (iz + 0.5) * 0.9;
          const double r = std::sqrt(x * x + y * y + z * z), last = (nrad - 0.5) * delta;
          double expected = 0.0;
          if (r < 0.5 * delta) {
            expected = a + b * 0.5 * delta + c * x, ++inner;
          } else if (r < last) {
            expected = a + b * r + c * x;
          } else if (r < nrad * delta) {
            expected = a + b * last + c * last * x / r, ++outer;
          } else {
            ++beyond;
          }
          EXPECT_NEAR(mesh.GetElement(sx, ix, 0, iy, 0, iz), expected, 1e-13) << x << " " << y << " " << z;
        }
  EXPECT_TRUE(inner > 0 && outer > 0 && beyond > 0);
  C3DArray sym(4, 1.0, true, false, false);
  Stdout([&] {
    EXPECT_EQ(FatalMessage([&] { ArrayCalc::Calc3DArrayFromAExpArray(&A, &sym); }),
              "fatal error, parameters mismatch in ArrayCalc::Calc3DArrayFromAExpArray");
  });
}

TEST(ArrayCalcConvert, ExpansionFromMeshRecoversReproducibleFunctionsAndGaussians) {
  // Multilinear functions are what trilinear interpolation reproduces.
  const Function multilinear = [](double x, double y, double z) {
    return 1.0 + 0.3 * x - 0.2 * y + 0.05 * x * y - 0.02 * y * z + 0.01 * x * y * z;
  };
  const Function gauss = [](double x, double y, double z) {
    return std::exp(-0.25 * (x * x / 9 + y * y / 16 + z * z / 25));
  };
  const auto rule = SphereRule(20, 40);
  for (bool symmetric : {false, true}) {
    const Function &f = symmetric ? gauss : multilinear;
    const int n = 16, ns = symmetric ? 1 : 2;
    C3DArray mesh(n, 1.0, symmetric, symmetric, symmetric);
    for (int sx = 0; sx < ns; ++sx)
      for (int ix = 0; ix < n; ++ix)
        for (int sy = 0; sy < ns; ++sy)
          for (int iy = 0; iy < n; ++iy)
            for (int sz = 0; sz < ns; ++sz)
              for (int iz = 0; iz < n; ++iz)
                mesh.SetElement(sx, ix, sy, iy, sz, iz,
                                f((sx ? -1 : 1) * (ix + 0.5), (sy ? -1 : 1) * (iy + 0.5), (sz ? -1 : 1) * (iz + 0.5)));
    CCHArray A(6, 12, 1.25, symmetric, symmetric, symmetric), exact(6, 12, 1.25, symmetric, symmetric, symmetric);
    ArrayCalc::CalcAExpArrayFrom3DArray(&mesh, &A);
    for (int ir = 0; ir < 12; ++ir) {
      const double r = (ir + 0.5) * 1.25;
      ExactExpansion([&](double x, double y, double z) { return f(r * x, r * y, r * z); }, exact, ir, rule);
      const double scale = std::fabs(exact.GetElement(0, 0, 0, ir));
      // Exact up to the angular rule for the multilinear function; within
      // the interpolation error (about 1 %) for the Gaussian on 1 fm cells.
      EXPECT_LT(MaxDifference(A, ir, exact, ir) / scale, symmetric ? 0.02 : 1e-6) << symmetric << " " << r;
    }
  }
  // Spheres that leave the mesh: one warning naming the first such bin.
  C3DArray small(4, 1.0, false, false, false);
  small.MakeConstant(1.0);
  CCHArray A(0, 6, 1.0);
  EXPECT_EQ(Stdout([&] { ArrayCalc::CalcAExpArrayFrom3DArray(&small, &A); }),
            "WARNING: ArrayCalc::CalcAExpArrayFrom3DArray: from bin 4 (r=4.5) on the spheres leave the mesh; the "
            "function counts as 0 outside it\n");
  EXPECT_NEAR(A.GetElement(0, 0, 0, 3), 1.0, 1e-14);
  EXPECT_LT(A.GetElement(0, 0, 0, 5), 0.6);
}

TEST(ArrayCalcConvert, SphericalHarmonicCoefficientsAreExactInversesAndMatchYlm) {
  CRandom random(8);
  // A point: y(L, M) = 4 pi w conj(Y_LM(e0)).
  CCHArray point(6, 1, 1.0);
  const Direction e0 = RandomDirection(random);
  point.IncrementAExpArrayFromE(e0.x, e0.y, e0.z, 0.8, 0);
  CYlmArray y(6, 2);
  ArrayCalc::CalcYlmExpArrayFromAExpArray(&point, 0, &y, 1);
  const double theta = std::acos(e0.z), phi = std::atan2(e0.y, e0.x);
  for (int L = 0; L <= 6; ++L)
    for (int M = 0; M <= L; ++M)
      EXPECT_LT(std::abs(y.GetElement(L, M, 1) - 4 * M_PI * 0.8 * std::conj(SpherHarmonics::Ylm(L, M, theta, phi))),
                1e-12)
          << L << " " << M;
  // A -> Y -> A, with and without symmetry.
  for (int flags : {0, 5, 7}) {
    CCHArray a(7, 2, 1.0, flags & 1, flags & 2, flags & 4), back(7, 2, 1.0, flags & 1, flags & 2, flags & 4);
    a.RandomizeA(1.0);
    CYlmArray ya(7, 1);
    ArrayCalc::CalcYlmExpArrayFromAExpArray(&a, 1, &ya, 0);
    ArrayCalc::CalcAExpArrayFromYlmExpArray(&ya, 0, &back, 1);
    EXPECT_LT(MaxDifference(a, 1, back, 1), 1e-10) << flags;
  }
  // Y -> A -> Y for coefficients of a real function; an A of lower LMAX
  // keeps the low orders, a Y of higher LMAX gets zeros above.
  CYlmArray yr(5, 1), yback(6, 1);
  for (int L = 0; L <= 5; ++L)
    for (int M = 0; M <= L; ++M) yr.SetElement(L, M, 0, {random.gauss(), M == 0 ? 0.0 : random.gauss()});
  CCHArray a5(5, 1, 1.0), a3(3, 1, 1.0);
  ArrayCalc::CalcAExpArrayFromYlmExpArray(&yr, 0, &a5, 0);
  ArrayCalc::CalcAExpArrayFromYlmExpArray(&yr, 0, &a3, 0);
  EXPECT_LT(MaxDifference(a3, 0, a5, 0), 1e-12);
  yback.SetElement(6, 3, 0, {1.0, 1.0});
  ArrayCalc::CalcYlmExpArrayFromAExpArray(&a5, 0, &yback, 0);
  for (int L = 0; L <= 6; ++L)
    for (int M = 0; M <= L; ++M)
      EXPECT_LT(std::abs(yback.GetElement(L, M, 0) - (L <= 5 ? yr.GetElement(L, M, 0) : 0.0)), 1e-11) << L << M;
  // The function itself: F(e) = sum_LM y Y_LM at a direction.
  const Direction e1 = RandomDirection(random);
  const double t1 = std::acos(e1.z), p1 = std::atan2(e1.y, e1.x);
  double f = 0.0;
  for (int L = 0; L <= 5; ++L)
    for (int M = -L; M <= L; ++M) {
      const std::complex<double> c = M >= 0 ? yr.GetElement(L, M, 0)
                                            : (M % 2 ? -1.0 : 1.0) * std::conj(yr.GetElement(L, -M, 0));
      f += std::real(c * SpherHarmonics::Ylm(L, M, t1, p1));
    }
  EXPECT_NEAR(a5.AExpand(e1.x, e1.y, e1.z, 0), f, 1e-11);
}

TEST(CYlmArray, StorageScalingAndRange) {
  CYlmArray y(1, 3);
  y.IncrementElement(1, 0, 0, {1.0, 2.0});
  y.IncrementElement(1, 0, 0, {1.0, 2.0});
  y.SetElement(1, 1, 1, {3.0, -1.0});
  y.SetElement(0, 0, 2, {5.0, 0.0});
  y.ScaleArray(-1.0, 1);
  EXPECT_EQ(y.GetElement(1, 0, 0), std::complex<double>(2.0, 4.0));
  EXPECT_EQ(y.GetElement(1, 1, 1), std::complex<double>(-3.0, 1.0));
  EXPECT_EQ(y.GetElement(0, 0, 2), std::complex<double>(5.0, 0.0));
  y.ZeroArray(0);
  EXPECT_EQ(y.GetElement(1, 0, 0), 0.0);
  EXPECT_EQ(FatalMessage([&] { y.GetElement(1, 2, 0); }),
            "CYlmArray: element (L=1, M=2, ir=0) outside 0<=M<=L<=1, 0<=ir<3");
  EXPECT_EQ(FatalMessage([&] { y.ScaleArray(2.0, 3); }), "CYlmArray::ScaleArray: radial index 3 outside 0..2");
}
