#include "arrays/chcalc.h"
#include "charray_testutil.h"

// The coefficient object used is the one the arrays keep for the process.

TEST(CCHCalc, TablesContractionAndOverlapsAgainstIndependentValues) {
  CCHArray keeper(0, 1, 1.0);
  const CCHCalc &c = *CCHArray::chcalc;
  // The tables end at 56; beyond, the values are computed directly.
  for (int n : {56, 57, 170}) EXPECT_NEAR(std::log(c.Factorial(n)) / std::lgamma(n + 1.0), 1, 1e-12) << n;
  for (int k : {3, 57, 99})  // (2k+1)!! = (2k+1)!/(2^k k!)
    EXPECT_NEAR(std::log(c.DoubleFactorial(2 * k + 1)), std::lgamma(2 * k + 2.0) - k * M_LN2 - std::lgamma(k + 1.0),
                1e-10);
  testutil::ExpectFatal([&] { c.Factorial(171); }, "CCHCalc::Factorial: 171! is too large for a double\n");
  // Every trace of a traceless harmonic contracts to zero.
  const double v[3] = {0.36, 0.48, 0.8};
  testutil::ForTriples(10, [&](int x, int y, int z) {
    EXPECT_NEAR(c.GetAFromE(x + 2, y, z, v[0], v[1], v[2]) + c.GetAFromE(x, y + 2, z, v[0], v[1], v[2]) +
                    c.GetAFromE(x, y, z + 2, v[0], v[1], v[2]), 0.0, 1e-12);
  });
  // Overlaps equal the integral over directions of harmonic times monomial.
  const auto rule = testutil::SphereRule(8, 16);  // exact to degree 15
  // Up to order 7; against monomials of lower order both vanish.
  testutil::ForTriples(7, [&](int x, int y, int z) {
    testutil::ForTriples(x + y + z, [&](int px, int py, int pz) {
      double integral = 0.0;
      for (const auto &d : rule)
        integral += d.weight * c.GetAFromE(x, y, z, d.x, d.y, d.z) * c.GetMFromE(px, py, pz, d.x, d.y, d.z);
      ASSERT_NEAR(c.GetOverlap(x, y, z, px, py, pz), integral, 1e-12) << x << y << z << " " << px << py << pz;
      ASSERT_NEAR(c.GetOverlap0(x, y, z, px, py, pz), integral, 1e-12) << x << y << z << " " << px << py << pz;
    });
  });
  EXPECT_EQ(c.GetOverlap0(2, 2, 0, -2, 6, 0) + c.GetOverlap(2, 0, 0, 0, 4, -2), 0.0);  // no table is touched
  // Beyond the tables, with the polar axis along x only the t^57 part of
  // t (1-t^2)^28 survives against P_57: (57,0,0) x (1,56,0) is
  // 57!/113!! * [2 pi 56!/(2^56 (28!)^2)] * [2^58 (57!)^2/115!].
  const double expected = 3 * std::lgamma(58.0) - std::lgamma(114.0) + 58 * M_LN2 + std::log(2 * M_PI) +
                          2 * std::lgamma(57.0) - 2 * std::lgamma(29.0) - std::lgamma(116.0);
  EXPECT_NEAR(std::log(c.GetOverlap(57, 0, 0, 1, 56, 0)) / expected, 1, 1e-12);
  // Tables cleared while objects live: values are computed directly until rebuilt.
  EXPECT_EQ(testutil::Stdout(CCHCalc::ClearStaticData),
            "Clearing static data used for charray calc.s. \n"
            "Don't do this unless you are finished with charray objects\n");
  EXPECT_EQ(c.Factorial(5) * c.DoubleFactorial(7) * c.Binomial(2, 3) * c.Trinomial(1, 1, 1), 120.0 * 105 * 10 * 6);
  EXPECT_NEAR(c.GetOverlap(0, 2, 0, 2, 0, 0), -8 * M_PI / 45, 1e-15);
  CCHCalc::InitStaticData();
}
