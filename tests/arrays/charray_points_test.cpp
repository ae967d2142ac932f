#include "charray_testutil.h"
#include "config/fatal.h"

#include <gsl/gsl_sf_legendre.h>

using namespace testutil;

namespace {

// w * sum_{L<=lmax} (2L+1) P_L(c), the truncated 4 pi w delta.
double PointSeries(double w, int lmax, double c) {
  double s = 0.0;
  for (int L = 0; L <= lmax; ++L) s += (2 * L + 1) * gsl_sf_legendre_Pl(L, std::fmax(-1.0, std::fmin(1.0, c)));
  return w * s;
}

}  // namespace

TEST(CCHArrayPoints, ExpansionOfAPointIsTheTruncatedLegendreSeriesAlsoUnderSymmetry) {
  CRandom random(77);
  const int lmax = 7;
  for (int flags = 0; flags < 8; ++flags) {
    const bool sx = flags & 1, sy = flags & 2, sz = flags & 4;
    CCHArray a(lmax, 3, 1.0, sx, sy, sz);
    const Direction e0 = RandomDirection(random);
    const double w = 1.7;
    a.IncrementAExpArrayFromE(e0.x, e0.y, e0.z, w, 2);
    EXPECT_LT(TraceResidual(a, 2), 1e-12);
    // A symmetric array keeps the part of the point that is even along its
    // symmetric axes: the mean over the mirror images of e0.
    for (int k = 0; k < 5; ++k) {
      const Direction e1 = RandomDirection(random);
      double expected = 0.0;
      int images = 0;
      for (int m = 0; m < 8; ++m) {
        if (((m & 1) && !sx) || ((m & 2) && !sy) || ((m & 4) && !sz)) continue;
        const double c = (m & 1 ? -1 : 1) * e0.x * e1.x + (m & 2 ? -1 : 1) * e0.y * e1.y + (m & 4 ? -1 : 1) * e0.z * e1.z;
        expected += PointSeries(w, lmax, c);
        ++images;
      }
      EXPECT_NEAR(a.AExpand(e1.x, e1.y, e1.z, 2), expected / images, 1e-11) << flags;
    }
    EXPECT_EQ(a.AExpand(e0.x, e0.y, e0.z, 1), 0.0);  // other bins untouched
  }
  // Low orders by hand.
  CCHArray b(2, 1, 1.0);
  b.IncrementAExpArrayFromThetaPhi(0.7, 2.1, 2.0, 0);
  const double ex = std::sin(0.7) * std::cos(2.1), ez = std::cos(0.7);
  EXPECT_NEAR(b.GetElement(0, 0, 0, 0), 2.0, 1e-15);
  EXPECT_NEAR(b.GetElement(1, 0, 0, 0), 6.0 * ex, 1e-14);
  EXPECT_NEAR(b.GetElement(2, 0, 0, 0), 15.0 * (ex * ex - 1.0 / 3.0), 1e-14);
  EXPECT_NEAR(b.GetElement(0, 0, 2, 0), 15.0 * (ez * ez - 1.0 / 3.0), 1e-14);
  EXPECT_NEAR(b.AExpand(0.7, 2.1, 0), PointSeries(2.0, 2, 1.0), 1e-13);
}

TEST(CCHArrayPoints, RecursiveAndDirectIncrementsAgree) {
  CRandom random(5);
  for (int flags = 0; flags < 8; ++flags) {
    CCHArray direct(12, 2, 1.0, flags & 1, flags & 2, flags & 4), recursive(12, 2, 1.0, flags & 1, flags & 2, flags & 4);
    for (int p = 0; p < 4; ++p) {
      const Direction e = RandomDirection(random);
      const double w = 0.5 + p;
      direct.IncrementAExpArrayFromE(e.x, e.y, e.z, w, 1);
      recursive.AltIncrementAExpArrayFromE(e.x, e.y, e.z, w, 1);
    }
    recursive.FillRemainderX(1);  // once, after the last point
    double worst = 0.0;
    direct.ForEachTriple([&](int x, int y, int z) {
      worst = std::fmax(worst, std::fabs(direct.GetElement(x, y, z, 1) - recursive.GetElement(x, y, z, 1)) /
                                   (1.0 + std::fabs(direct.GetElement(x, y, z, 1))));
    });
    EXPECT_LT(worst, 1e-11) << flags;  // order-12 harmonics are alternating sums
  }
}

TEST(CCHArrayPoints, MomentsAndTracelessCoefficientsConvertIntoEachOther) {
  CRandom random(11);
  const int lmax = 8;
  for (bool s : {false, true}) {
    CCHArray m(lmax, 2, 1.0, s, false, s), a(lmax, 2, 1.0, s, false, s);
    for (int p = 0; p < 6; ++p) {
      const Direction e = RandomDirection(random);
      const double w = 1.0 + random.ran();
      m.IncrementMArrayFromE(e.x, e.y, e.z, w, 0);
      a.IncrementAExpArrayFromE(e.x, e.y, e.z, w, 0);
      if (p == 0) {  // the moments of one point are its monomials
        EXPECT_NEAR(m.GetElement(s ? 2 : 3, 1, 2, 0), w * std::pow(e.x, s ? 2 : 3) * e.y * e.z * e.z, 1e-15);
        m.IncrementMArrayFromThetaPhi(std::acos(e.z), std::atan2(e.y, e.x), -w, 1);
        EXPECT_NEAR(m.GetElement(2, 3, 2, 1), -w * std::pow(e.x * e.y * e.z, 2) * e.y, 1e-15);
      }
    }
    // Points: M -> A equals the A-expansion built point by point, A -> M the moments.
    m.ForEachTriple([&](int x, int y, int z) {
      const double scale = 1.0 + std::fabs(a.GetElement(x, y, z, 0));
      EXPECT_NEAR(m.GetAExpElementFromMArray(x, y, z, 0), a.GetElement(x, y, z, 0), 1e-12 * scale) << x << y << z;
      EXPECT_NEAR(a.GetMElementFromAExpArray(x, y, z, 0), m.GetElement(x, y, z, 0), 1e-12) << x << y << z;
    });
  }
  // Any traceless set comes back through its moments.
  CCHArray t(lmax, 1, 1.0), mt(lmax, 1, 1.0);
  t.RandomizeA(1.0);
  t.ForEachTriple([&](int x, int y, int z) { mt.SetElement(x, y, z, 0, t.GetMElementFromAExpArray(x, y, z, 0)); });
  t.ForEachTriple([&](int x, int y, int z) {
    EXPECT_NEAR(mt.GetAExpElementFromMArray(x, y, z, 0), t.GetElement(x, y, z, 0), 1e-11) << x << y << z;
  });
  // A missing element warns and reads 0, as GetElement does.
  CCHArray sym(2, 1, 1.0, true, false, false);
  EXPECT_EQ(Stdout([&] { EXPECT_EQ(sym.GetMElementFromAExpArray(1, 0, 0, 0), 0.0); }),
            "WARNING: Tried to get non-existent element in CCHArray\nLMAX=2, XSYM=1, YSYM=0, ZSYM=0, ir=0\n"
            "l=(1,0,0), ir=0\n");
}

TEST(CCHArrayPoints, PositionsMeshEdgesAndTheOrigin) {
  CCHArray a(4, 3, 2.0);
  a.IncrementAExpArray(3.0, 4.0, 0.0, 1.5);  // r = 5: bin 2, direction (0.6, 0.8, 0)
  CCHArray b(4, 3, 2.0);
  b.IncrementAExpArrayFromE(0.6, 0.8, 0.0, 1.5, 2);
  b.ForEachTriple([&](int x, int y, int z) { EXPECT_EQ(a.GetElement(x, y, z, 2), b.GetElement(x, y, z, 2)); });
  EXPECT_EQ(a.AExpand(0.3, 0.4, 0.0) + a.AExpand(6.0, 8.0, 0.0), 0.0);  // other bin; beyond the mesh
  EXPECT_NEAR(a.AExpand(3.0, 4.0, 0.0), PointSeries(1.5, 4, 1.0), 1e-12);
  a.IncrementAExpArray(0.0, 6.0, 0.0, 9.0);   // r = 6 = NRADIAL*RADSTEP: ignored
  a.IncrementAExpArray(0.0, 0.0, 0.0, 0.25);  // the origin: l = 0 of bin 0 only
  a.ForEachTriple([&](int x, int y, int z) {
    EXPECT_EQ(a.GetElement(x, y, z, 0), x + y + z == 0 ? 0.25 : 0.0);
    EXPECT_EQ(a.GetElement(x, y, z, 2), b.GetElement(x, y, z, 2));
  });
  EXPECT_EQ(a.AExpand(0.0, 0.0, 0.0), 0.25);
  EXPECT_EQ(a.AExpand(0.0, 0.0, 1.0), 0.25);  // bin 0 is isotropic here
  ThrowPolicy throws;
  EXPECT_THROW(a.IncrementAExpArray(NAN, 0.0, 1.0, 1.0), femtokit::Error);
  EXPECT_THROW(a.AExpand(0.0, NAN, 1.0), femtokit::Error);
  EXPECT_THROW(a.IncrementAExpArrayFromE(1.0, 0.0, 0.0, 1.0, 3), femtokit::Error);
  EXPECT_THROW(a.AltIncrementAExpArrayFromE(1.0, 0.0, 0.0, 1.0, -1), femtokit::Error);
  EXPECT_THROW(a.IncrementMArrayFromE(1.0, 0.0, 0.0, 1.0, 3), femtokit::Error);
}
