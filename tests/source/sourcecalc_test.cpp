#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common/child.h"
#include "source/sourcecalc_gx1d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

double Extract(const std::string &text, const std::string &key) {
  size_t pos = text.find(key);
  if (pos == std::string::npos) return NAN;
  return std::atof(text.c_str() + pos + key.size());
}

}  // namespace

TEST(SourceCalc, BaseFillsAreDummies) {
  ChildResult out = RunInChild([] {
    CSourceCalc base;
    CCHArray A(2, 5, 1.0);
    A.SetElement(0, 0, 0, 0, 3.0);
    base.CalcS(&A);
    base.CalcS(0, 0, 0, &A);
    std::printf("%g\n", A.GetElement(0, 0, 0, 0));
  });
  EXPECT_EQ(out.output, "i'm a dummyCalcS(CCHArray)\ni'm a dummy CalcS(int,int,int,CCHArray *)\n3\n");
}

TEST(SourceCalc, GaussianNormalisationAndEffectiveRadii) {
  // lambda = 1 Gaussian of R = 5 fm on a fine mesh: integral 1, Rinv = R.
  ChildResult out = RunInChild([] {
    CSourceCalc_GX1D gx;
    gx.SetSPars(1.0, 5.0, 0.0, 10.0, 5.0);
    CCHArray A(2, 400, 0.1, true, true, true);
    gx.CalcS(&A);
    gx.NormCheck(&A);
    gx.CalcEffGaussPars(&A);
  });
  EXPECT_NEAR(Extract(out.output, "normalization check = "), 1.0, 1e-3);
  EXPECT_NEAR(Extract(out.output, "Rinv="), 5.0, 0.01);
  EXPECT_NE(out.output.find("offset_xyz=(0,0,0)"), std::string::npos) << out.output;

  // A weight lambda = 0.6 must not change the radii: the moments are divided by the integral.
  CSourceCalc_GX1D gx;
  gx.SetSPars(0.6, 5.0, 0.0, 10.0, 5.0);
  CCHArray A(2, 400, 0.1, true, true, true);
  gx.CalcS(&A);
  A.ZeroArray(0, 0, 2);  // isotropic: drop the damped L = 2 profile
  A.ZeroArray(0, 2, 0);
  A.ZeroArray(2, 0, 0);
  double Rx, Ry, Rz, Xoff, Yoff, Zoff;
  ChildResult quiet = RunInChild([&] { gx.CalcEffGaussPars(&A, Rx, Ry, Rz, Xoff, Yoff, Zoff); });
  EXPECT_NEAR(Extract(quiet.output, "Rinv="), 5.0, 0.01);
  testing::internal::CaptureStdout();
  gx.CalcEffGaussPars(&A, Rx, Ry, Rz, Xoff, Yoff, Zoff);
  testing::internal::GetCapturedStdout();
  EXPECT_NEAR(Rx, 5.0, 0.01);
  EXPECT_NEAR(Ry, 5.0, 0.01);
  EXPECT_NEAR(Rz, 5.0, 0.01);
  EXPECT_EQ(Xoff, 0.0);
}

TEST(SourceCalc, ExponentialTailIntegratesToItsWeight) {
  testing::internal::CaptureStdout();
  CSourceCalc_GX1D gx;
  gx.SetSPars(0.0, 5.0, 1.0, 10.0, 5.0);
  CCHArray A(0, 3000, 0.1, true, true, true);
  gx.CalcS(&A);
  gx.NormCheck(&A);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NEAR(Extract(out, "normalization check = "), 1.0, 1e-3);
}

TEST(SourceCalc, DampingOfHigherComponentsAndFilledSet) {
  CSourceCalc_GX1D gx;
  gx.SetSPars(0.6, 5.0, 0.2, 10.0, 5.0);
  CCHArray A(2, 5, 2.0);  // bin 2 has r = 5 fm = a
  gx.CalcS(&A);
  const double s0 = A.GetElement(0, 0, 0, 2);
  EXPECT_NEAR(A.GetElement(1, 0, 0, 2), s0 * std::sqrt(0.5), 1e-14 * s0);
  EXPECT_NEAR(A.GetElement(0, 2, 0, 2), s0 * 0.5, 1e-14 * s0);
  // lx >= 2 follows from tracelessness.
  for (int ir = 0; ir < 5; ++ir)
    EXPECT_NEAR(A.GetElement(2, 0, 0, ir), -A.GetElement(0, 2, 0, ir) - A.GetElement(0, 0, 2, ir), 1e-15);

  // With all symmetries and LMAX 4 exactly the even lx = 0 components are written.
  CCHArray S(4, 3, 1.0, true, true, true);
  gx.CalcS(&S);
  const int written[][3] = {{0, 0, 0}, {0, 0, 2}, {0, 0, 4}, {0, 2, 0}, {0, 2, 2}, {0, 4, 0}};
  for (auto &l : written) EXPECT_GT(S.GetElement(l[0], l[1], l[2], 0), 0.0);

  // A second fill overwrites everything.
  gx.SetSPars(1.0, 3.0, 0.0, 10.0, 5.0);
  gx.CalcS(&A);
  const double NG = std::pow(4 * M_PI * 9.0, -1.5);
  EXPECT_NEAR(A.GetElement(0, 0, 0, 0), NG * std::exp(-1.0 / 36.0), 1e-15);
}

TEST(SourceCalc, NormCheckOn3DMeshCountsSymmetricHalves) {
  // A Gaussian on a symmetric mesh and on a full mesh prints the same integral.
  const double R = 2.0, norm = std::pow(4 * M_PI * R * R, -1.5);
  auto fill = [&](C3DArray &A) {
    const int nsx = A.GetXSYM() ? 1 : 2, nsy = A.GetYSYM() ? 1 : 2, nsz = A.GetZSYM() ? 1 : 2;
    for (int isx = 0; isx < nsx; ++isx)
      for (int ix = 0; ix < A.GetNXMAX(); ++ix)
        for (int isy = 0; isy < nsy; ++isy)
          for (int iy = 0; iy < A.GetNYMAX(); ++iy)
            for (int isz = 0; isz < nsz; ++isz)
              for (int iz = 0; iz < A.GetNZMAX(); ++iz) {
                double x = (ix + 0.5) * A.GetDELX(), y = (iy + 0.5) * A.GetDELY(), z = (iz + 0.5) * A.GetDELZ();
                A.SetElement(isx, ix, isy, iy, isz, iz, norm * std::exp(-(x * x + y * y + z * z) / (4 * R * R)));
              }
  };
  C3DArray full(30, 0.5, false, false, false), sym(30, 0.5, true, true, false);
  fill(full);
  fill(sym);
  CSourceCalc calc;
  testing::internal::CaptureStdout();
  calc.NormCheck(&full);
  calc.NormCheck(&sym);
  std::string out = testing::internal::GetCapturedStdout();
  const double a = Extract(out, "Norm Check of 3DArray = ");
  const double b = Extract(out.substr(out.find('\n') + 1), "Norm Check of 3DArray = ");
  EXPECT_NEAR(a, 1.0, 1e-3);
  EXPECT_NEAR(a, b, 1e-12);
}
