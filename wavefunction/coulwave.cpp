#include "wavefunction/coulwave.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_odeiv2.h>
#include <gsl/gsl_sf_coulomb.h>
#include <gsl/gsl_sf_gamma.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "config/fatal.h"
#include "math/internal/gslworkspace.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// value * e^exponent without overflowing or underflowing on the way: a result
// below the double range is 0, one above it is +-infinity.
inline double Scale(double value, double exponent) {
  if (exponent == 0.0 || value == 0.0 || !std::isfinite(value)) return value;
  return std::copysign(std::exp(std::log(std::fabs(value)) + exponent), value);
}

// GSL scales only when G overflows, and then F underflows: F = fc e^(-|exp_F|),
// G = gc e^(|exp_G|). (GSL 2.7 returns exp_F = exp_G > 0, which the Wronskian
// F'G - FG' = 1 shows to be the scale of G and the inverse scale of F.)
inline double ScaleF(double value, double exponent) { return Scale(value, -std::fabs(exponent)); }
inline double ScaleG(double value, double exponent) { return Scale(value, std::fabs(exponent)); }

// Statuses after which GSL's values are kept (a loss of accuracy is reported
// at the edge of its methods' ranges, with values still close).
inline bool Usable(int status) {
  return status == GSL_SUCCESS || status == GSL_EOVRFLW || status == GSL_EUNDRFLW || status == GSL_ELOSS;
}

// Inside the turning point x_t = eta + sqrt(eta^2 + L(L+1)), where F decays and G grows toward x = 0.
inline bool InsideTurningPoint(int L, double x, double eta) {
  return x < eta + std::sqrt(eta * eta + static_cast<double>(L) * (L + 1));
}

// F_L and G_L for L = 0 ... Lmax. Where the values leave the double range GSL
// may answer NaN without an error status; inside the turning point that is an
// underflowed F (0) or an overflowed G (+infinity).
bool FGOrders(int Lmax, double x, double eta, std::vector<double> &F, std::vector<double> &G) {
  F.assign(Lmax + 1, 0.0);
  G.assign(Lmax + 1, 0.0);
  double F_exponent = 0.0, G_exponent = 0.0;
  const int status = gsl_sf_coulomb_wave_FG_array(0.0, Lmax, eta, x, F.data(), G.data(), &F_exponent, &G_exponent);
  if (!Usable(status)) return false;
  for (int L = 0; L <= Lmax; ++L) {
    const bool inside = InsideTurningPoint(L, x, eta);
    F[L] = std::isnan(F[L]) ? (inside ? 0.0 : kNaN) : ScaleF(F[L], F_exponent);
    G[L] = std::isnan(G[L]) ? (inside ? kInf : kNaN) : ScaleG(G[L], G_exponent);
  }
  return true;
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

// Inside the classically forbidden region 0 < x < 2 eta GSL switches to a JWKB
// approximation (errors of up to a few per cent) except where its power series
// applies (x < 1.2 and |eta x| < 10). There F and G are obtained instead by
// integrating the Coulomb equation u'' = (L(L+1)/x^2 + 2 eta/x - 1) u from points
// where GSL is exact: F outward from the series region and G inward from
// x = 2 eta, each as the dominant solution in its direction of integration, in
// the Riccati form y = (ln u, u'/u), which neither overflows nor loses accuracy.
struct RiccatiParams {
  double ell_term;  // L(L+1)
  double eta;
};

int RiccatiRHS(double x, const double y[], double dydx[], void *params) {
  const RiccatiParams *p = static_cast<const RiccatiParams *>(params);
  dydx[0] = y[1];
  dydx[1] = p->ell_term / (x * x) + 2.0 * p->eta / x - 1.0 - y[1] * y[1];
  return GSL_SUCCESS;
}

struct DriverDeleter {
  void operator()(gsl_odeiv2_driver *d) const { gsl_odeiv2_driver_free(d); }
};

// One ODE driver per thread, allocated on first use and reused afterwards.
class RiccatiSolver {
 public:
  RiccatiSolver() : sys_{RiccatiRHS, nullptr, 2, &params_} {
    driver_.reset(gsl_odeiv2_driver_alloc_y_new(&sys_, gsl_odeiv2_step_rk8pd, 1.0e-3, 0.0, 1.0e-13));
  }
  // Carries (ln u, u'/u) from x0 to x1; false when the integration fails.
  bool Carry(int L, double eta, double x0, double x1, double y[2]) {
    params_.ell_term = static_cast<double>(L) * (L + 1);
    params_.eta = eta;
    gsl_odeiv2_driver_reset(driver_.get());
    gsl_odeiv2_driver_reset_hstart(driver_.get(), x1 > x0 ? 1.0e-3 : -1.0e-3);
    double x = x0;
    return gsl_odeiv2_driver_apply(driver_.get(), &x, x1, y) == GSL_SUCCESS;
  }

 private:
  RiccatiParams params_{0.0, 0.0};
  gsl_odeiv2_system sys_;
  std::unique_ptr<gsl_odeiv2_driver, DriverDeleter> driver_;
};

// Start of GSL's series region, with a margin.
inline double SeriesEdge(double eta) { return 0.9 * std::fmin(1.2, 10.0 / eta); }

// True when (x, eta) lies where GSL would use its JWKB approximation. Beyond
// eta = 100 no exact starting point for F exists and GSL's values are kept.
inline bool NeedsRiccati(double x, double eta) {
  return eta > 0.0 && eta <= 100.0 && x < 2.0 * eta && x >= SeriesEdge(eta);
}

// F_L, G_L and their derivatives in the forbidden region; false when a step
// fails (the caller then keeps GSL's values).
bool RiccatiFG(int L, double x, double eta, double *F, double *G, double *Fp, double *Gp) {
  thread_local RiccatiSolver solver;
  double fc[1], fcp[1], gc[1], gcp[1], Fe = 0.0, Ge = 0.0;
  // F from the series region outward.
  const double xs = SeriesEdge(eta);
  int status = gsl_sf_coulomb_wave_FGp_array(L, 0, eta, xs, fc, fcp, gc, gcp, &Fe, &Ge);
  if ((status != GSL_SUCCESS && status != GSL_EOVRFLW) || !(fc[0] > 0.0)) return false;
  double yF[2] = {std::log(fc[0]) + Fe, fcp[0] / fc[0]};
  if (!solver.Carry(L, eta, xs, x, yF)) return false;
  // G from x = 2 eta, where GSL's continued fractions are exact, inward.
  const double xb = 2.0 * eta * (1.0 + 1.0e-12);
  status = gsl_sf_coulomb_wave_FGp_array(L, 0, eta, xb, fc, fcp, gc, gcp, &Fe, &Ge);
  if ((status != GSL_SUCCESS && status != GSL_EOVRFLW) || !(gc[0] > 0.0)) return false;
  double yG[2] = {std::log(gc[0]) + Ge, gcp[0] / gc[0]};
  if (!solver.Carry(L, eta, xb, x, yG)) return false;
  *F = std::exp(yF[0]);
  *G = std::exp(yG[0]);
  *Fp = yF[1] * *F;
  *Gp = yG[1] * *G;
  return true;
}

// Beyond this eta GSL has no exact method inside the turning point (its series
// needs e^(-2 pi eta) in range) and F and G soon leave the double range; there
// the scaled functions come from the power series of F and the recessive
// solution, as long as x <= eta.
constexpr double kEtaScaled = 100.0;

inline bool ScaledForbiddenRegion(double x, double eta) { return eta > kEtaScaled && x <= eta; }

// ln C_L(eta) of the last (L, eta) asked on this thread: tables ask it for
// every radius at one eta.
double CachedLogNorm(int L, double eta) {
  thread_local int last_L = -1;
  thread_local double last_eta = 0.0, last_value = 0.0;
  if (L != last_L || !(eta == last_eta)) {
    last_value = CoulWave::LogNorm(L, eta);
    last_L = L;
    last_eta = eta;
  }
  return last_value;
}

// F_L/C_L = x^(L+1) sum_n t_n and its derivative x^L ((L+1) sum t_n + sum n t_n),
// with t_0 = 1, t_1 = eta x/(L+1) and n (n + 2L + 1) t_n = 2 eta x t_(n-1) - x^2 t_(n-2).
// Inside the turning point the 2 eta x term dominates and the terms add up
// without cancellation. False when the sum leaves the double range.
bool ScaledFSeries(int L, double x, double eta, double *Fs, double *Fps) {
  const double y2 = 2.0 * eta * x, x2 = x * x;
  double older = 0.0, old = 1.0, sum = 1.0, nsum = 0.0;
  for (int n = 1; n < 20000; ++n) {
    const double t = (y2 * old - x2 * older) / (n * (n + 2.0 * L + 1.0));
    sum += t;
    nsum += n * t;
    if (!(std::fabs(sum) < 1.0e300)) return false;
    // Past the largest term they fall faster than geometrically.
    if (n * (std::fabs(t) + std::fabs(old)) <= 1.0e-17 * std::fabs(sum) && n * n > y2) {
      const double xL = std::pow(x, L);
      *Fs = xL * x * sum;
      *Fps = xL * ((L + 1.0) * sum + nsum);
      return std::isfinite(*Fs) && std::isfinite(*Fps);
    }
    older = old;
    old = t;
  }
  return false;
}

struct RecessiveParams {
  int L;
  double eta;
};

// t/(F_L(t)/C_L)^2 at t = e^u (the integrand of the recessive solution in ln t).
double RecessiveIntegrand(double u, void *params) {
  const RecessiveParams *p = static_cast<const RecessiveParams *>(params);
  const double t = std::exp(u);
  double Fs, Fps;
  if (!ScaledFSeries(p->L, t, p->eta, &Fs, &Fps)) return kNaN;
  return t / (Fs * Fs);
}

// Scaled F, G and derivatives at eta > kEtaScaled, x <= eta. G C_L is the
// solution that decays outward with F'G - FG' = 1:
//   G C_L = (F/C_L)(x) int_x^X dt/(F/C_L)(t)^2,
// with X where F/C_L has grown by 1e9, so that the neglected rest of the
// integral is 1e-18 of it. The exact G differs from it by a multiple of F of
// relative size e^(-2 pi eta). False when a sum or the integral fails.
bool ScaledForbidden(int L, double x, double eta, double *Fs, double *Gs, double *Fps, double *Gps) {
  if (!ScaledFSeries(L, x, eta, Fs, Fps) || !(*Fs > 0.0)) return false;
  double X = x, FX = *Fs, unused;
  while (FX < 1.0e9 * *Fs) {
    X *= 2.0;
    if (X > eta || !ScaledFSeries(L, X, eta, &FX, &unused)) return false;
  }
  thread_local femtokit::IntegrationWorkspace workspace = femtokit::MakeIntegrationWorkspace(200);
  RecessiveParams params{L, eta};
  gsl_function f{RecessiveIntegrand, &params};
  double integral = 0.0, error = 0.0;
  const int status = gsl_integration_qag(&f, std::log(x), std::log(X), 0.0, 1.0e-13, 200, GSL_INTEG_GAUSS21,
                                         workspace.get(), &integral, &error);
  if (!std::isfinite(integral) || (status != GSL_SUCCESS && !(error <= 1.0e-10 * integral))) return false;
  *Gs = *Fs * integral;
  *Gps = (*Fps * *Gs - 1.0) / *Fs;
  return std::isfinite(*Gs) && std::isfinite(*Gps);
}

// Unscaled F, G and derivatives in the region of ScaledForbidden: those values
// times e^(+-ln C_L), 0 or infinity where they leave the double range.
bool UnscaledForbidden(int L, double x, double eta, double *F, double *G, double *Fp, double *Gp) {
  double Fs, Gs, Fps, Gps;
  if (!ScaledForbiddenRegion(x, eta) || !ScaledForbidden(L, x, eta, &Fs, &Gs, &Fps, &Gps)) return false;
  const double lnC = CachedLogNorm(L, eta);
  *F = Scale(Fs, lnC);
  *Fp = Scale(Fps, lnC);
  *G = Scale(Gs, -lnC);
  *Gp = Scale(Gps, -lnC);
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
  if (NeedsRiccati(x, eta)) {
    double Fp, Gp;
    if (RiccatiFG(L, x, eta, F, G, &Fp, &Gp)) return;
  }
  {
    double Fp, Gp;
    if (UnscaledForbidden(L, x, eta, F, G, &Fp, &Gp)) return;
  }
  thread_local std::vector<double> fc, gc;
  if (!FGOrders(L, x, eta, fc, gc)) {
    *F = *G = kNaN;
    return;
  }
  *F = fc[L];
  *G = gc[L];
}

void GetFGprime(int ell, double x, double eta, double *F, double *G, double *Fprime, double *Gprime) {
  if (NonPositiveX(x, F, G)) {
    *Fprime = *Gprime = (x == 0.0 && ell > 0) ? 0.0 : kNaN;
    return;
  }
  if (ell < 0) {
    *F = *G = *Fprime = *Gprime = kNaN;
    return;
  }
  femtokit::InitGSL();
  if (NeedsRiccati(x, eta) && RiccatiFG(ell, x, eta, F, G, Fprime, Gprime)) return;
  if (UnscaledForbidden(ell, x, eta, F, G, Fprime, Gprime)) return;
  double fc[1] = {0.0}, fcp[1] = {0.0}, gc[1] = {0.0}, gcp[1] = {0.0};
  double F_exponent = 0.0, G_exponent = 0.0;
  const int status = gsl_sf_coulomb_wave_FGp_array(ell, 0, eta, x, fc, fcp, gc, gcp, &F_exponent, &G_exponent);
  if (Usable(status) && !std::isnan(fc[0]) && !std::isnan(fcp[0]) && !std::isnan(gc[0]) && !std::isnan(gcp[0])) {
    *F = ScaleF(fc[0], F_exponent);
    *Fprime = ScaleF(fcp[0], F_exponent);
    *G = ScaleG(gc[0], G_exponent);
    *Gprime = ScaleG(gcp[0], G_exponent);
    return;
  }
  // The derivative form failed: values of orders ell and ell + 1 and the
  // recurrence (L+1) u_L' = ((L+1)^2/x + eta) u_L - sqrt((L+1)^2 + eta^2) u_(L+1).
  thread_local std::vector<double> fo, go;
  if (!FGOrders(ell + 1, x, eta, fo, go)) {
    *F = *G = *Fprime = *Gprime = kNaN;
    return;
  }
  const double L1 = ell + 1.0;
  const double a = (L1 * L1 / x + eta) / L1, b = std::sqrt(L1 * L1 + eta * eta) / L1;
  *F = fo[ell];
  *G = go[ell];
  *Fprime = a * fo[ell] - b * fo[ell + 1];
  *Gprime = std::isinf(go[ell]) ? -kInf : a * go[ell] - b * go[ell + 1];
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

double CoulombPhase(int L, double eta) {
  if (L < 0 || std::isnan(eta)) return kNaN;
  femtokit::InitGSL();
  gsl_sf_result lnr, arg;
  gsl_sf_lngamma_complex_e(1.0, eta, &lnr, &arg);
  // Gamma(L + 1 + i eta) = Gamma(1 + i eta) prod_k (k + i eta): the phases of
  // all orders share sigma_0's rounding (of order eta ln eta times 1e-16 at
  // large eta), so their differences stay exact.
  double sigma = arg.val;
  for (int k = 1; k <= L; ++k) sigma += std::atan2(eta, double(k));
  return std::remainder(sigma, 2.0 * M_PI);
}

double LogNorm(int L, double eta) {
  if (L < 0 || std::isnan(eta)) return kNaN;
  femtokit::InitGSL();
  gsl_sf_result lnr, arg;
  gsl_sf_lngamma_complex_e(L + 1.0, eta, &lnr, &arg);
  return L * M_LN2 - 0.5 * M_PI * eta + lnr.val - gsl_sf_lnfact(2 * L + 1);
}

void GetFGScaled(int L, double x, double eta, double *Fs, double *Gs, double *Fps, double *Gps) {
  if (NonPositiveX(x, Fs, Gs)) {
    *Fps = (x == 0.0) ? (L == 0 ? 1.0 : 0.0) : kNaN;
    *Gps = (x == 0.0) ? -kInf : kNaN;
    return;
  }
  if (L < 0 || std::isnan(eta)) {
    *Fs = *Gs = *Fps = *Gps = kNaN;
    return;
  }
  femtokit::InitGSL();
  if (ScaledForbiddenRegion(x, eta) && ScaledForbidden(L, x, eta, Fs, Gs, Fps, Gps)) return;
  double F, G, Fp, Gp;
  GetFGprime(L, x, eta, &F, &G, &Fp, &Gp);
  const double lnC = CachedLogNorm(L, eta);
  if (std::fabs(lnC) < 600.0) {
    const double C = std::exp(lnC);
    *Fs = F / C;
    *Fps = Fp / C;
    *Gs = G * C;
    *Gps = Gp * C;
  } else {
    *Fs = Scale(F, -lnC);
    *Fps = Scale(Fp, -lnC);
    *Gs = Scale(G, lnC);
    *Gps = Scale(Gp, lnC);
  }
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

double Penetrability(int ell, double eta) {
  if (std::fabs(eta) <= 1.0e-10) return 1.0;
  const double twopieta = 2.0 * M_PI * eta;
  double C = twopieta / std::expm1(twopieta);
  for (int L = 1; L <= ell; ++L) C *= 1.0 + eta * eta / (static_cast<double>(L) * L);
  return C;
}

}  // namespace CoulWave
