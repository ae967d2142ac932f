#include "source/sourcecalc_gx1d.h"

#include "arrays/charray.h"

#include "config/fatal.h"

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_bessel.h>
#include <gsl/gsl_sf_erf.h>

#include <cmath>
#include <memory>

namespace {

struct WorkspaceFree {
  void operator()(gsl_integration_workspace *w) const { gsl_integration_workspace_free(w); }
};

// Fraction of the exponential part's norm beyond rho: the profile
// exp(u - sqrt(u^2 + r^2/X^2)) weighted by 4 pi r^2, over its integral
// 4 pi X^3 (2u K1s(u) + u^2 K0s(u)) (scaled Bessel functions, as in the fill).
double ExponentialTail(double rho, double X, double u) {
  struct Pars {
    double X, u;
  } pars{X, u};
  gsl_function f;
  f.function = [](double r, void *p) {
    const Pars &v = *static_cast<Pars *>(p);
    const double rx2 = r * r / (v.X * v.X);
    return r * r * std::exp(-rx2 / (v.u + std::sqrt(v.u * v.u + rx2)));
  };
  f.params = &pars;
  std::unique_ptr<gsl_integration_workspace, WorkspaceFree> w(gsl_integration_workspace_alloc(200));
  double tail = 0.0, error = 0.0;
  gsl_integration_qagiu(&f, rho, 0.0, 1e-8, 200, w.get(), &tail, &error);
  const double total = X * X * X * (2.0 * u * gsl_sf_bessel_K1_scaled(u) + u * u * gsl_sf_bessel_K0_scaled(u));
  return tail / total;
}

// Fraction of a Gaussian source exp(-r^2/(4R^2)) beyond rho.
double GaussianTail(double rho, double R) {
  const double x = rho / (2.0 * R);
  return gsl_sf_erfc(x) + 2.0 / std::sqrt(M_PI) * x * std::exp(-x * x);
}

}  // namespace

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
  CheckMeshReach(A);
}

double CSourceCalc_GX1D::LostFraction(double rho) const {
  const double lambdaG = parameter::getD(spars, "lambdaG", 0.3);
  const double R = parameter::getD(spars, "R", 5.0);
  const double lambdaX = parameter::getD(spars, "lambdaX", 0.3);
  const double X = parameter::getD(spars, "X", 10.0);
  const double total = lambdaG + lambdaX;
  if (!(std::fabs(total) > 0.0)) return 0.0;
  double lost = 0.0;
  if (lambdaG != 0.0) lost += lambdaG * GaussianTail(rho, R);
  if (lambdaX != 0.0) lost += lambdaX * ExponentialTail(rho, X, 2.0 * R * R / (X * X));
  return lost / total;
}

void CSourceCalc_GX1D::CheckMeshReach(const CCHArray *A) const {
  const double reach = A->GetNRADIAL() * A->GetRADSTEP();
  const double lost = LostFraction(reach);
  if (!(lost > kLostNormTolerance)) return;
  // The reach that would hold all but the tolerance: double, then bisect.
  double lo = reach, hi = std::max(2.0 * reach, 1.0);
  while (LostFraction(hi) > kLostNormTolerance && hi < 1e6) {
    lo = hi;
    hi *= 2.0;
  }
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (lo + hi);
    (LostFraction(mid) > kLostNormTolerance ? lo : hi) = mid;
  }
  WarnLostNorm(lost, reach, hi);
}
