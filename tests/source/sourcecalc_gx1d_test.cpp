// The GX1D fill computes its radial profile once per array and each order's
// factor as a power of sqrt(r^2/(r^2+a^2)); it must give the model's formula.
#include "arrays/charray.h"
#include "source/sourcecalc_gx1d.h"

#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

#include <cmath>

TEST(SourceCalcGX1D, EveryComponentFollowsTheModelFormula) {
  const double lambdaG = 0.6, R = 4.0, lambdaX = 0.25, X = 7.0, a = 3.0;
  const double NG = std::pow(4 * M_PI * R * R, -1.5), u = 2 * R * R / (X * X);
  const double NX = 1.0 / (4 * M_PI * X * X * X * u * u * gsl_sf_bessel_Kn(2, u) * std::exp(u));
  auto formula = [&](int L, double r) {
    const double S = lambdaG * NG * std::exp(-r * r / (4 * R * R)) + lambdaX * NX * std::exp(u - std::sqrt(u * u + r * r / (X * X)));
    return S * std::pow(r * r / (r * r + a * a), 0.5 * L);
  };
  testing::internal::CaptureStdout();  // the mesh-reach warning
  CSourceCalc_GX1D gx;
  gx.SetSPars(lambdaG, R, lambdaX, X, a);
  CCHArray A(4, 30, 0.7), B(4, 30, 0.7), sym(4, 30, 0.7, true, true, true);  // odd orders too, and even only
  gx.CalcS(&A);
  gx.CalcS(&sym);
  testing::internal::GetCapturedStdout();
  for (CCHArray *array : {&A, &sym})
    array->ForEachTriple(4, 1, [&](int lx, int ly, int lz) {
      for (int ir = 0; ir < 30; ++ir) {
        const double exact = formula(lx + ly + lz, (ir + 0.5) * 0.7);
        EXPECT_NEAR(array->GetElement(lx, ly, lz, ir), exact, 1e-14 * exact) << lx << ly << lz << " " << ir;
      }
    });
  // One component alone gives the same values; lx >= 2 follows from tracelessness.
  gx.CalcS(1, 1, 2, &B);
  for (int ir = 0; ir < 30; ++ir) {
    EXPECT_EQ(B.GetElement(1, 1, 2, ir), A.GetElement(1, 1, 2, ir));
    EXPECT_DOUBLE_EQ(A.GetElement(2, 0, 2, ir), -A.GetElement(0, 2, 2, ir) - A.GetElement(0, 0, 4, ir));
  }
}
