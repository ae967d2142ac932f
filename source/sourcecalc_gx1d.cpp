#include "source/sourcecalc_gx1d.h"

#include "arrays/charray.h"

#include <gsl/gsl_sf_bessel.h>

#include <cmath>

CSourceCalc_GX1D::CSourceCalc_GX1D() { InitSPars(); }

void CSourceCalc_GX1D::InitSPars() { SetSPars(0.3, 5.0, 0.3, 10.0, 5.0); }

void CSourceCalc_GX1D::SetSPars(double lambdaG, double R, double lambdaX, double X, double a) {
  parameter::set(spars, "lambdaG", lambdaG);
  parameter::set(spars, "R", R);
  parameter::set(spars, "lambdaX", lambdaX);
  parameter::set(spars, "X", X);
  parameter::set(spars, "a", a);
}

void CSourceCalc_GX1D::CalcS(int lx, int ly, int lz, CCHArray *A) {
  const double lambdaG = parameter::getD(spars, "lambdaG", 0.3);
  const double R = parameter::getD(spars, "R", 5.0);
  const double lambdaX = parameter::getD(spars, "lambdaX", 0.3);
  const double X = parameter::getD(spars, "X", 10.0);
  const double a = parameter::getD(spars, "a", 5.0);

  const double fourpi = 4.0 * M_PI;
  const double NG = std::pow(fourpi * R * R, -1.5);
  const double u = 2.0 * R * R / (X * X);
  // 4 pi X^3 u^2 K2(u) is the integral of exp(-sqrt(u^2 + r^2/X^2)) over all space.
  // Both the normalisation and the profile carry a factor e^u (scaled Bessel
  // functions, exponent taken relative to u), so that neither under- nor
  // overflows when X is much smaller than R (u beyond about 700).
  const double NX =
      1.0 / (fourpi * X * X * X * (2.0 * u * gsl_sf_bessel_K1_scaled(u) + u * u * gsl_sf_bessel_K0_scaled(u)));
  const int L = lx + ly + lz;
  const double delr = A->GetRADSTEP();
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) {
    const double r = (ir + 0.5) * delr, r2 = r * r;
    const double rx2 = r2 / (X * X);  // u - sqrt(u^2 + rx2) without cancellation
    double S = lambdaG * NG * std::exp(-r2 / (4.0 * R * R)) +
               lambdaX * NX * std::exp(-rx2 / (u + std::sqrt(u * u + rx2)));
    if (L > 0) S *= std::pow(r2 / (r2 + a * a), 0.5 * L);
    A->SetElement(lx, ly, lz, ir, S);
  }
}

void CSourceCalc_GX1D::CalcS(CCHArray *A) {
  const int dlx = A->GetXSYM() ? 2 : 1, dly = A->GetYSYM() ? 2 : 1, dlz = A->GetZSYM() ? 2 : 1;
  const int lmax = A->GetLMAX();
  for (int lx = 0; lx <= 1; lx += dlx)
    for (int ly = 0; lx + ly <= lmax; ly += dly)
      for (int lz = 0; lx + ly + lz <= lmax; lz += dlz) CalcS(lx, ly, lz, A);
  // The lx >= 2 components follow from tracelessness; completing them keeps
  // every reader of the array seeing the same function.
  A->FillRemainderX();
}
