#include "source/sourcecalc_gx1d.h"

#include "arrays/charray.h"

#include "config/fatal.h"
#include "math/internal/gslworkspace.h"
#include "source/sourceparameters.h"

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_bessel.h>
#include <gsl/gsl_sf_erf.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

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
  femtokit::IntegrationWorkspace w = femtokit::MakeIntegrationWorkspace(200);
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

void CSourceCalc_GX1D::InitSPars() {
  for (const femtokit::SourceParameter &p : femtokit::GX1DModel().parameters) parameter::set(spars, p.name, p.def);
}

void CSourceCalc_GX1D::SetSPars(double lambdaG, double R, double lambdaX, double X, double a) {
  parameter::set(spars, "lambdaG", lambdaG);
  parameter::set(spars, "R", R);
  parameter::set(spars, "lambdaX", lambdaX);
  parameter::set(spars, "X", X);
  parameter::set(spars, "a", a);
}

void CSourceCalc_GX1D::CalcS(int lx, int ly, int lz, CCHArray *A) {
  const Profile p = GetProfile();
  double *S = A->Row(lx, ly, lz);
  FillProfile(p, A->GetRADSTEP(), A->GetNRADIAL(), S);
  ApplyOrder(p, lx + ly + lz, A->GetRADSTEP(), A->GetNRADIAL(), S, S);
}

void CSourceCalc_GX1D::CalcS(CCHArray *A) {
  const Profile p = GetProfile();
  const int n = A->GetNRADIAL();
  const double delr = A->GetRADSTEP();
  // The L = 0 component is the radial profile; every other component is it
  // times the order factor.
  const double *S0 = A->Row(0, 0, 0);
  FillProfile(p, delr, n, A->Row(0, 0, 0));
  A->ForEachTriple(A->GetLMAX(), 1, [&](int lx, int ly, int lz) {
    const int L = lx + ly + lz;
    if (L > 0) ApplyOrder(p, L, delr, n, S0, A->Row(lx, ly, lz));
  });
  // The lx >= 2 components follow from tracelessness; completing them keeps
  // every reader of the array seeing the same function.
  A->FillRemainderX();
  CheckMeshReach(A);
}

CSourceCalc_GX1D::Profile CSourceCalc_GX1D::GetProfile() const {
  const femtokit::SourceModel &m = femtokit::GX1DModel();
  Profile p;
  p.lambdaG = femtokit::ReadChecked(spars, m, "lambdaG");
  p.R = femtokit::ReadChecked(spars, m, "R");
  p.lambdaX = femtokit::ReadChecked(spars, m, "lambdaX");
  p.X = femtokit::ReadChecked(spars, m, "X");
  p.a = femtokit::ReadChecked(spars, m, "a");
  return p;
}

namespace {

// The L = 0 profile at n separations r(i) (fm) into S.
template <class Radius>
void ProfileAt(double lambdaG, double R, double lambdaX, double X, int n, Radius r, double *S) {
  const double fourpi = 4.0 * M_PI;
  const double NG = std::pow(fourpi * R * R, -1.5);
  const double u = 2.0 * R * R / (X * X);
  // 4 pi X^3 u^2 K2(u) is the integral of exp(-sqrt(u^2 + r^2/X^2)) over all space.
  // Both the normalisation and the profile carry a factor e^u (scaled Bessel
  // functions, exponent taken relative to u), so that neither under- nor
  // overflows when X is much smaller than R (u beyond about 700).
  const bool tail = lambdaX != 0.0;
  const double NX =
      tail ? 1.0 / (fourpi * X * X * X * (2.0 * u * gsl_sf_bessel_K1_scaled(u) + u * u * gsl_sf_bessel_K0_scaled(u)))
           : 0.0;
  const double gG = lambdaG * NG, gX = lambdaX * NX;
  const double inv4R2 = 1.0 / (4.0 * R * R), invX2 = 1.0 / (X * X);
  for (int i = 0; i < n; ++i) {
    const double r2 = r(i) * r(i);
    double value = gG * std::exp(-r2 * inv4R2);
    if (tail) {
      const double rx2 = r2 * invX2;  // u - sqrt(u^2 + rx2) without cancellation
      value += gX * std::exp(-rx2 / (u + std::sqrt(u * u + rx2)));
    }
    S[i] = value;
  }
}

}  // namespace

void CSourceCalc_GX1D::FillProfile(const Profile &p, double delr, int n, double *S) {
  ProfileAt(p.lambdaG, p.R, p.lambdaX, p.X, n, [delr](int ir) { return (ir + 0.5) * delr; }, S);
}

void CSourceCalc_GX1D::Source(const double *r, int n, double *S) const {
  const Profile p = GetProfile();
  ProfileAt(p.lambdaG, p.R, p.lambdaX, p.X, n, [r](int i) { return r[i]; }, S);
}

void CSourceCalc_GX1D::ApplyOrder(const Profile &p, int L, double delr, int n, const double *S0, double *S) {
  if (L == 0) {
    if (S != S0) std::copy(S0, S0 + n, S);
    return;
  }
  // (r^2/(r^2 + a^2))^(L/2) as the L-th power of its square root.
  const double a2 = p.a * p.a;
  for (int ir = 0; ir < n; ++ir) {
    const double r = (ir + 0.5) * delr, r2 = r * r;
    const double t = std::sqrt(r2 / (r2 + a2));
    double f = t;
    for (int k = 1; k < L; ++k) f *= t;
    S[ir] = S0[ir] * f;
  }
}

double CSourceCalc_GX1D::LostFraction(double rho) const {
  const Profile p = GetProfile();
  const double lambdaG = p.lambdaG, R = p.R, lambdaX = p.lambdaX, X = p.X;
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
