#include "wavefunction/coulwave.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_coulomb.h>
#include <gsl/gsl_sf_gamma.h>

#include <cmath>
#include <limits>
#include <vector>

#include "config/fatal.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// value * e^exponent without overflowing or underflowing on the way: a result
// below the double range is 0, one above it is +-infinity.
inline double Scale(double value, double exponent) {
  if (exponent == 0.0 || value == 0.0 || !std::isfinite(value)) return value;
  return std::copysign(std::exp(std::log(std::fabs(value)) + exponent), value);
}

// Values at x <= 0, where GSL reports a domain error: F_L(0) = 0 and G_L(0) is
// infinite; negative x is outside the functions' domain.
inline bool NonPositiveX(double x, double *F, double *G) {
  if (x > 0.0) return false;
  if (x == 0.0) {
    *F = 0.0;
    *G = kInf;
  } else {
    *F = kNaN;
    *G = kNaN;
  }
  return true;
}

}  // namespace

namespace CoulWave {

void GetFG(int L, double x, double eta, double *F, double *G) {
  if (NonPositiveX(x, F, G)) return;
  if (L < 0) {
    *F = *G = kNaN;
    return;
  }
  femtokit::InitGSL();
  thread_local std::vector<double> fc, gc;
  fc.assign(L + 1, 0.0);
  gc.assign(L + 1, 0.0);
  double F_exponent = 0.0, G_exponent = 0.0;
  const int status = gsl_sf_coulomb_wave_FG_array(0.0, L, eta, x, fc.data(), gc.data(), &F_exponent, &G_exponent);
  // GSL_EOVRFLW and GSL_EUNDRFLW only announce that the exponents carry the
  // scale; any other failure leaves no usable value.
  if (status != GSL_SUCCESS && status != GSL_EOVRFLW && status != GSL_EUNDRFLW) {
    *F = kNaN;
    *G = kNaN;
    return;
  }
  *F = Scale(fc[L], F_exponent);
  *G = Scale(gc[L], G_exponent);
}

void GetFGprime(int ell, double x, double eta, double *F, double *G, double *Fprime, double *Gprime) {
  if (NonPositiveX(x, F, G)) {
    *Fprime = *Gprime = (x == 0.0 && ell > 0) ? 0.0 : kNaN;
    return;
  }
  femtokit::InitGSL();
  double fc[1] = {0.0}, fcp[1] = {0.0}, gc[1] = {0.0}, gcp[1] = {0.0};
  double F_exponent = 0.0, G_exponent = 0.0;
  const int status = gsl_sf_coulomb_wave_FGp_array(ell, 0, eta, x, fc, fcp, gc, gcp, &F_exponent, &G_exponent);
  if (status != GSL_SUCCESS && status != GSL_EOVRFLW && status != GSL_EUNDRFLW) {
    *F = *G = *Fprime = *Gprime = kNaN;
    return;
  }
  *F = Scale(fc[0], F_exponent);
  *Fprime = Scale(fcp[0], F_exponent);
  *G = Scale(gc[0], G_exponent);
  *Gprime = Scale(gcp[0], G_exponent);
}

std::complex<double> CWincoming(int ell, double x, double eta) {
  double F, G;
  GetFG(ell, x, eta, &F, &G);
  return {F, G};
}

std::complex<double> CWoutgoing(int ell, double x, double eta) {
  double F, G;
  GetFG(ell, x, eta, &F, &G);
  return {F, -G};
}

std::complex<double> cgamma(std::complex<double> z) {
  femtokit::InitGSL();
  gsl_sf_result lnr, arg;
  const int status = gsl_sf_lngamma_complex_e(z.real(), z.imag(), &lnr, &arg);
  if (status == GSL_EDOM) return {kInf, 0.0};  // a pole
  const double modulus = std::exp(lnr.val);
  return {modulus * std::cos(arg.val), modulus * std::sin(arg.val)};
}

void phaseshift_CoulombCorrect(int ell, double q, double eta, double &delta, double &ddeltadq) {
  if (std::fabs(eta) <= 1.0e-10) return;
  const double PI = M_PI;
  const double twopieta = 2.0 * PI * eta;
  // Gamow factor C0 = 2 pi eta/(e - 1) and C0*e = 2 pi eta/(1 - 1/e), e = exp(2 pi eta),
  // written so that neither overflows for large |eta|.
  double C = twopieta / std::expm1(twopieta);
  const double Ce = twopieta / (-std::expm1(-twopieta));
  double Cprime = (C / q) * (Ce - 1.0);  // eta ~ 1/q
  // Penetrability of order L: C_L = (1 + eta^2/L^2) C_(L-1).
  const double eta2 = eta * eta;
  for (int L = 1; L <= ell; ++L) {
    const double L2 = static_cast<double>(L) * L;
    Cprime = (1.0 + eta2 / L2) * Cprime - (2.0 * eta2 / (L2 * q)) * C;
    C = (1.0 + eta2 / L2) * C;
  }
  const double t = std::tan(delta);
  double newdelta = std::atan(t * C);
  if (std::cos(delta) <= 0.0) newdelta += PI;
  if (newdelta > PI) newdelta -= 2.0 * PI;
  ddeltadq = ((1.0 + t * t) * ddeltadq * C + t * Cprime) / ((t * C) * (t * C) + 1.0);
  delta = newdelta;
}

}  // namespace CoulWave
