#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common/child.h"
#include "source/sourcecalc_gx1d.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

double After(const std::string &text, const std::string &key) {
  size_t pos = text.find(key);
  return pos == std::string::npos ? NAN : std::atof(text.c_str() + pos + key.size());
}

}  // namespace

TEST(SourceCalc, NormalisationAndEffectiveRadiiOfGaussians) {
  // lambda = 1: integral 1, Rinv = R; lambda = 0.6 must not change the radii.
  for (double lambda : {1.0, 0.6}) {
    ChildResult out = RunInChild([lambda] {
      CSourceCalc_GX1D gx;
      gx.SetSPars(lambda, 5.0, 0.0, 10.0, 5.0);
      CCHArray A(2, 400, 0.1, true, true, true);
      gx.CalcS(&A);
      gx.NormCheck(&A);
      A.ZeroArray(0, 0, 2);  // keep the isotropic part only
      A.ZeroArray(0, 2, 0);
      A.ZeroArray(2, 0, 0);
      double Rx, Ry, Rz, Xoff, Yoff, Zoff;
      gx.CalcEffGaussPars(&A, Rx, Ry, Rz, Xoff, Yoff, Zoff);
      std::printf("Rx=%g Xoff=%g\n", Rx, Xoff);
    });
    EXPECT_NEAR(After(out.output, "normalization check = "), lambda, 1e-3 * lambda);
    EXPECT_NEAR(After(out.output, "Rinv="), 5.0, 0.01);
    EXPECT_NEAR(After(out.output, "Rx="), 5.0, 0.01);
    EXPECT_EQ(After(out.output, "Xoff="), 0.0);
  }
  // The exponential tail integrates to its weight, also when X << R makes
  // u = 2R^2/X^2 so large that e^-u underflows; an empty mesh integrates to 0.
  for (double X : {10.0, 0.2}) {
    ChildResult tail = RunInChild([X] {
      CSourceCalc_GX1D gx;
      gx.SetSPars(0.0, 5.0, 1.0, X, 5.0);
      CCHArray A(0, 3000, 0.1, true, true, true), empty(0, 0, 0.1);
      gx.CalcS(&A);
      gx.NormCheck(&A);
      gx.NormCheck(&empty);
    });
    EXPECT_NEAR(After(tail.output, "normalization check = "), 1.0, 1e-3) << X;
    EXPECT_NE(tail.output.find("\nnormalization check = 0\n"), std::string::npos) << tail.output;
  }
}

TEST(SourceCalc, DampingTracelessCompletionAndDummies) {
  CSourceCalc_GX1D gx;
  gx.SetSPars(0.6, 5.0, 0.2, 10.0, 5.0);
  CCHArray A(2, 5, 2.0);  // bin 2 has r = 5 fm = a
  gx.CalcS(&A);
  const double s0 = A.GetElement(0, 0, 0, 2);
  EXPECT_NEAR(A.GetElement(1, 0, 0, 2), s0 * std::sqrt(0.5), 1e-14 * s0);
  EXPECT_NEAR(A.GetElement(0, 2, 0, 2), s0 * 0.5, 1e-14 * s0);
  for (int ir = 0; ir < 5; ++ir)
    EXPECT_NEAR(A.GetElement(2, 0, 0, ir), -A.GetElement(0, 2, 0, ir) - A.GetElement(0, 0, 2, ir), 1e-15);

  ChildResult out = RunInChild([] {
    CSourceCalc base;
    CCHArray B(0, 1, 1.0);
    B.SetElement(0, 0, 0, 0, 3.0);
    base.CalcS(&B);
    base.CalcS(0, 0, 0, &B);
    std::printf("%g\n", B.GetElement(0, 0, 0, 0));
  });
  EXPECT_EQ(out.output, "i'm a dummyCalcS(CCHArray)\ni'm a dummy CalcS(int,int,int,CCHArray *)\n3\n");
}

TEST(SourceCalc, NormCheckOn3DMeshCountsSymmetricHalves) {
  const double R = 2.0, norm = std::pow(4 * M_PI * R * R, -1.5);
  auto fill = [&](C3DArray &A) {
    for (int isx = 0; isx < (A.GetXSYM() ? 1 : 2); ++isx)
      for (int ix = 0; ix < A.GetNXMAX(); ++ix)
        for (int isy = 0; isy < (A.GetYSYM() ? 1 : 2); ++isy)
          for (int iy = 0; iy < A.GetNYMAX(); ++iy)
            for (int isz = 0; isz < (A.GetZSYM() ? 1 : 2); ++isz)
              for (int iz = 0; iz < A.GetNZMAX(); ++iz) {
                double x = (ix + 0.5) * 0.5, y = (iy + 0.5) * 0.5, z = (iz + 0.5) * 0.5;
                A.SetElement(isx, ix, isy, iy, isz, iz, norm * std::exp(-(x * x + y * y + z * z) / (4 * R * R)));
              }
  };
  for (bool sym : {false, true}) {
    ChildResult out = RunInChild([&] {
      C3DArray A(30, 0.5, sym, sym, false);
      fill(A);
      CSourceCalc().NormCheck(&A);
    });
    EXPECT_NEAR(After(out.output, "Norm Check of 3DArray = "), 1.0, 1e-3) << sym;
  }
}
