#include "arrays/chcalc.h"
#include "common/child.h"
#include "charray_testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Triple {
  int x, y, z;
};

std::vector<Triple> TriplesUpTo(int lmax) {
  std::vector<Triple> t;
  for (int L = 0; L <= lmax; ++L)
    for (int lx = 0; lx <= L; ++lx)
      for (int ly = 0; ly <= L - lx; ++ly) t.push_back({lx, ly, L - lx - ly});
  return t;
}

// The coefficient object that the arrays keep for the whole process.
const CCHCalc &Calc() {
  CCHArray keeper(0, 1, 1.0);
  return *CCHArray::chcalc;
}

}  // namespace

TEST(CCHCalc, CombinatorialNumbersInsideAndBeyondTheTables) {
  const CCHCalc &calc = Calc();
  EXPECT_EQ(calc.Factorial(0), 1.0);
  EXPECT_EQ(calc.Factorial(1), 1.0);
  EXPECT_EQ(calc.Factorial(5), 120.0);
  EXPECT_EQ(calc.DoubleFactorial(0), 1.0);
  EXPECT_EQ(calc.DoubleFactorial(1), 1.0);
  EXPECT_EQ(calc.DoubleFactorial(7), 105.0);
  EXPECT_EQ(calc.DoubleFactorial(-1), 1.0);
  EXPECT_EQ(calc.Binomial(2, 3), 10.0);
  EXPECT_EQ(calc.Trinomial(1, 1, 1), 6.0);
  EXPECT_EQ(calc.Trinomial(2, 0, 0), 1.0);
  EXPECT_EQ(calc.Trinomial(0, 3, 1), 4.0);

  // Above the table limit of 56 the values come from direct computation.
  for (int n : {56, 57, 80, 170})
    EXPECT_NEAR(std::log(calc.Factorial(n)), std::lgamma(n + 1.0), 1e-12 * std::lgamma(n + 1.0)) << n;
  for (int n : {113, 114, 115, 200}) {
    double expected = 0.0;  // log n!!
    for (int k = n; k > 1; k -= 2) expected += std::log(static_cast<double>(k));
    EXPECT_NEAR(std::log(calc.DoubleFactorial(n)), expected, 1e-12 * expected) << n;
  }
  const double lb = std::lgamma(71.0) - std::lgamma(31.0) - std::lgamma(41.0);
  EXPECT_NEAR(std::log(calc.Binomial(30, 40)), lb, 1e-12 * lb);
  const double lt = std::lgamma(61.0) - 3.0 * std::lgamma(21.0);
  EXPECT_NEAR(std::log(calc.Trinomial(20, 20, 20)), lt, 1e-12 * lt);
  EXPECT_NEAR(calc.Trinomial(30, 20, 10) / calc.Trinomial(10, 30, 20), 1.0, 1e-14);
}

TEST(CCHCalc, OutOfRangeArgumentsAreFatal) {
  const CCHCalc &calc = Calc();
  ChildResult r = RunInChild([&] { calc.Factorial(-2); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "CCHCalc::Factorial: negative argument -2\n");
  r = RunInChild([&] { calc.Factorial(171); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "CCHCalc::Factorial: 171! is too large for a double\n");
  r = RunInChild([&] { calc.Trinomial(1, -1, 0); });
  EXPECT_EQ(r.status, 1);
}

TEST(CCHCalc, TracelessHarmonicsKnownValuesAndContraction) {
  const CCHCalc &calc = Calc();
  EXPECT_EQ(calc.GetAFromE(0, 0, 0, 0.3, 0.4, 0.5), 1.0);
  EXPECT_DOUBLE_EQ(calc.GetAFromE(1, 0, 0, 0.3, 0.4, 0.5), 0.3);
  EXPECT_NEAR(calc.GetAFromE(2, 0, 0, 1, 0, 0), 2.0 / 3.0, 1e-15);
  EXPECT_NEAR(calc.GetAFromE(2, 0, 0, 0, 0, 1), -1.0 / 3.0, 1e-15);
  EXPECT_NEAR(calc.GetAFromThetaPhi(0, 0, 2, 0.0, 0.0), 2.0 / 3.0, 1e-15);
  EXPECT_NEAR(calc.GetMFromThetaPhi(1, 1, 0, M_PI / 2, M_PI / 4), 0.5, 1e-15);
  EXPECT_EQ(calc.GetMFromE(2, 1, 3, 2.0, 3.0, -1.0), -12.0);

  // Along the z axis the harmonic of (0,0,L) is L!/(2L-1)!! P_L(cos theta).
  for (int L = 1; L <= 12; ++L)
    EXPECT_NEAR(calc.GetAFromThetaPhi(0, 0, L, 0.7, 0.2),
                calc.Factorial(L) / calc.DoubleFactorial(2 * L - 1) * gsl_sf_legendre_Pl(L, std::cos(0.7)), 1e-13)
        << L;

  // Contracting any two indices gives zero at every unit vector.
  const double e[3][3] = {{0.36, 0.48, 0.8}, {-0.6, 0.0, 0.8}, {0.267261241912424, -0.534522483824849, 0.801783725737273}};
  for (const auto &v : e)
    for (int L = 0; L <= 10; ++L)
      for (int lx = 0; lx <= L; ++lx)
        for (int ly = 0; ly <= L - lx; ++ly) {
          const int lz = L - lx - ly;
          const double trace = calc.GetAFromE(lx + 2, ly, lz, v[0], v[1], v[2]) +
                               calc.GetAFromE(lx, ly + 2, lz, v[0], v[1], v[2]) +
                               calc.GetAFromE(lx, ly, lz + 2, v[0], v[1], v[2]);
          EXPECT_NEAR(trace, 0.0, 1e-12) << lx << ly << lz;
        }
}

TEST(CCHCalc, OverlapsUpToOrderSevenEqualTheIntegralOverDirections) {
  const CCHCalc &calc = Calc();
  const std::vector<Triple> triples = TriplesUpTo(7);
  // Integrands are polynomials of degree <= 14: 8 Gauss points and 16 phi points are exact.
  const std::vector<testutil::Direction> rule = testutil::SphereRule(8, 16);
  std::vector<double> harmonic(triples.size() * rule.size()), monomial(triples.size() * rule.size());
  for (size_t t = 0; t < triples.size(); ++t)
    for (size_t p = 0; p < rule.size(); ++p) {
      const Triple &l = triples[t];
      const testutil::Direction &d = rule[p];
      harmonic[t * rule.size() + p] = calc.GetAFromE(l.x, l.y, l.z, d.x, d.y, d.z);
      monomial[t * rule.size() + p] = calc.GetMFromE(l.x, l.y, l.z, d.x, d.y, d.z);
    }
  int failures = 0;
  // A harmonic of order L is orthogonal to every monomial of lower order, so
  // the integral vanishes there as the overlap does. (Monomials of higher
  // order have lower-order parts; the overlap is defined only for equal order.)
  for (size_t t = 0; t < triples.size(); ++t)
    for (size_t tp = 0; tp < triples.size(); ++tp) {
      if (triples[tp].x + triples[tp].y + triples[tp].z > triples[t].x + triples[t].y + triples[t].z) continue;
      double integral = 0.0;
      for (size_t p = 0; p < rule.size(); ++p)
        integral += rule[p].weight * harmonic[t * rule.size() + p] * monomial[tp * rule.size() + p];
      const Triple &l = triples[t], &m = triples[tp];
      const double cached = calc.GetOverlap(l.x, l.y, l.z, m.x, m.y, m.z);
      const double direct = calc.GetOverlap0(l.x, l.y, l.z, m.x, m.y, m.z);
      if (std::fabs(cached - integral) > 1e-12 || std::fabs(direct - integral) > 1e-12) {
        if (++failures < 10)
          ADD_FAILURE() << "(" << l.x << l.y << l.z << ")x(" << m.x << m.y << m.z << "): cached " << cached
                        << " direct " << direct << " integral " << integral;
      }
    }
  EXPECT_EQ(failures, 0);

  EXPECT_NEAR(calc.GetOverlap(0, 0, 0, 0, 0, 0), 4 * M_PI, 1e-14);
  EXPECT_NEAR(calc.GetOverlap(1, 0, 0, 1, 0, 0), 4 * M_PI / 3, 1e-14);
  EXPECT_NEAR(calc.GetOverlap(2, 0, 0, 2, 0, 0), 16 * M_PI / 45, 1e-14);
  EXPECT_NEAR(calc.GetOverlap(2, 0, 0, 0, 2, 0), -8 * M_PI / 45, 1e-14);
  EXPECT_NEAR(calc.GetOverlap(0, 2, 0, 2, 0, 0), -8 * M_PI / 45, 1e-14);
  EXPECT_EQ(calc.GetOverlap(1, 0, 0, 0, 1, 0), 0.0);
  EXPECT_EQ(calc.GetOverlap(2, 0, 0, 1, 0, 0), 0.0);
}

TEST(CCHCalc, OverlapCacheIsSizedToValidEntriesAndSafeForAnyIndex) {
  const CCHCalc &calc = Calc();
  // Every permutation, up to order 14, against the direct formula.
  for (const Triple &l : TriplesUpTo(14)) {
    const int L = l.x + l.y + l.z;
    for (int mx = 0; mx <= L; ++mx)
      for (int my = 0; my <= L - mx; ++my) {
        const int mz = L - mx - my;
        ASSERT_NEAR(calc.GetOverlap(l.x, l.y, l.z, mx, my, mz), calc.GetOverlap0(l.x, l.y, l.z, mx, my, mz),
                    1e-12 * std::fabs(calc.GetOverlap0(l.x, l.y, l.z, mx, my, mz)) + 1e-300);
      }
  }
  // Slot of (1,1,1): a = 0..1; the row a = 1 (lxp = 3) has no room for an odd lyp.
  calc.GetOverlap(1, 1, 1, 1, 1, 1);
  const CCHCalc::OverlapSlot &slot = CCHCalc::overlap[1][1][1];
  ASSERT_EQ(slot.size(), 2u);
  EXPECT_EQ(slot[0].size(), 1u);
  EXPECT_EQ(slot[1].size(), 0u);
  calc.GetOverlap(3, 1, 0, 1, 1, 2);
  const CCHCalc::OverlapSlot &slot2 = CCHCalc::overlap[3][1][0];
  ASSERT_EQ(slot2.size(), 2u);
  EXPECT_EQ(slot2[0].size(), 2u);
  EXPECT_EQ(slot2[1].size(), 1u);
  // Negative partner indices give 0 without touching a table.
  EXPECT_EQ(calc.GetOverlap0(2, 2, 0, -2, 6, 0), 0.0);
  EXPECT_EQ(calc.GetOverlap(2, 2, 0, -2, 6, 0), 0.0);
  EXPECT_EQ(calc.GetOverlap(2, 0, 0, 0, 4, -2), 0.0);
}

TEST(CCHCalc, OverlapsAboveTheTableLimitAreCorrect) {
  const CCHCalc &calc = Calc();
  // Along the harmonic's own axis, L!/(2L-1)!! P_L(x) against x^L gives
  // L!/(2L-1)!! 2 pi 2^(L+1) (L!)^2/(2L+1)!. The direct sum alternates in
  // sign, so this stays a precise check only at moderate order.
  for (int L : {2, 10, 16}) {
    const double expected = calc.Factorial(L) / calc.DoubleFactorial(2 * L - 1) * 2 * M_PI * std::pow(2.0, L + 1) *
                            calc.Factorial(L) * calc.Factorial(L) / calc.Factorial(2 * L + 1);
    EXPECT_NEAR(calc.GetOverlap(L, 0, 0, L, 0, 0), expected, 1e-10 * expected) << L;
    EXPECT_NEAR(calc.GetOverlap(0, 0, L, 0, 0, L), expected, 1e-10 * expected) << L;
  }
  // Beyond the tables: (57,0,0) against x y^56 is a single term. With the polar
  // axis along x only the t^57 part of t (1-t^2)^28 survives against P_57:
  // 57!/113!! * [2 pi 56!/(2^56 (28!)^2)] * [2^58 (57!)^2/115!].
  const double logexpected = std::lgamma(58.0) - std::log(calc.DoubleFactorial(113)) + std::log(2 * M_PI) +
                             std::lgamma(57.0) - 56 * std::log(2.0) - 2 * std::lgamma(29.0) + 58 * std::log(2.0) +
                             2 * std::lgamma(58.0) - std::lgamma(116.0);
  EXPECT_NEAR(std::log(calc.GetOverlap(57, 0, 0, 1, 56, 0)), logexpected, 1e-12 * std::fabs(logexpected));
  EXPECT_NEAR(std::log(calc.GetOverlap(0, 57, 0, 56, 1, 0)), logexpected, 1e-12 * std::fabs(logexpected));
  EXPECT_EQ(calc.GetOverlap(57, 0, 0, 0, 56, 1), 0.0);  // parity
}

TEST(CCHCalc, ReferenceCountKeepsAndClearsTheTables) {
  ChildResult r = RunInChild([] {
    Calc();  // the arrays' long-lived object
    CCHCalc first;
    { CCHCalc second; }
    if (CCHCalc::fact.empty() || first.Factorial(5) != 120.0) puts("tables lost");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");

  r = RunInChild([] {
    CCHCalc::INITIALIZED = 0;  // as if no object were alive
    { CCHCalc only; }
    if (!CCHCalc::fact.empty() || !CCHCalc::overlap.empty()) puts("tables kept");
    CCHCalc again;
    CCHCalc::INITIALIZED++;  // keep the rebuilt tables when `again` goes
    if (again.Factorial(6) != 720.0 || std::fabs(again.GetOverlap(1, 0, 0, 1, 0, 0) - 4 * M_PI / 3) > 1e-14)
      puts("tables not rebuilt");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "Clearing static data used for charray calc.s. \nDon't do this unless you are finished with charray "
            "objects\nCCHCalc static data cleared\n");
}
