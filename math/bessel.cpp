#include "math/bessel.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_bessel.h>

#include <cmath>
#include <limits>

#include "config/fatal.h"

namespace {


// Value of an error-returning GSL call: an underflow is 0; an overflow keeps
// GSL's infinity with the sign the function has there.
inline double Value(int status, const gsl_sf_result &r, double overflow_sign = 1.0) {
  if (status == GSL_EUNDRFLW) return 0.0;
  if (status == GSL_EOVRFLW) return overflow_sign * std::numeric_limits<double>::infinity();
  return r.val;
}

template <typename F>
inline double Call(F f, double x, double overflow_sign = 1.0) {
  femtokit::InitGSL();
  gsl_sf_result r;
  const int status = f(x, &r);
  return Value(status, r, overflow_sign);
}

template <typename F>
inline double CallN(F f, int n, double x, double overflow_sign = 1.0) {
  femtokit::InitGSL();
  gsl_sf_result r;
  const int status = f(n, x, &r);
  return Value(status, r, overflow_sign);
}

}  // namespace

namespace Bessel {

double J0(double x) { return Call(gsl_sf_bessel_J0_e, x); }
double J1(double x) { return Call(gsl_sf_bessel_J1_e, x); }
double Jn(int n, double x) { return CallN(gsl_sf_bessel_Jn_e, n, x); }
double Y0(double x) { return Call(gsl_sf_bessel_Y0_e, x, -1.0); }
double Y1(double x) { return Call(gsl_sf_bessel_Y1_e, x, -1.0); }
double Yn(int n, double x) { return CallN(gsl_sf_bessel_Yn_e, n, x, -1.0); }

double I0(double x) { return Call(gsl_sf_bessel_I0_e, x); }
double I1(double x) { return Call(gsl_sf_bessel_I1_e, x, x < 0 ? -1.0 : 1.0); }
double In(int n, double x) { return CallN(gsl_sf_bessel_In_e, n, x, (x < 0 && (n & 1)) ? -1.0 : 1.0); }
double K0(double x) { return Call(gsl_sf_bessel_K0_e, x); }
double K1(double x) { return Call(gsl_sf_bessel_K1_e, x); }
double Kn(int n, double x) { return CallN(gsl_sf_bessel_Kn_e, n, x); }

double j0(double x) { return Call(gsl_sf_bessel_j0_e, x); }
double j1(double x) { return Call(gsl_sf_bessel_j1_e, x); }
double y0(double x) { return Call(gsl_sf_bessel_y0_e, x, -1.0); }
double y1(double x) { return Call(gsl_sf_bessel_y1_e, x, -1.0); }

// GSL takes x >= 0 only; j_l(-x) = (-1)^l j_l(x) and y_l(-x) = (-1)^(l+1) y_l(x).
double jn(int l, double x) {
  if (x < 0.0) return ((l & 1) ? -1.0 : 1.0) * jn(l, -x);
  if (l == 0) return j0(x);
  return CallN(gsl_sf_bessel_jl_e, l, x);
}

double yn(int l, double x) {
  if (x < 0.0) return ((l & 1) ? 1.0 : -1.0) * yn(l, -x);
  if (l == 0) return y0(x);
  return CallN(gsl_sf_bessel_yl_e, l, x, -1.0);
}

std::complex<double> h0(double x) { return {j0(x), y0(x)}; }
std::complex<double> h1(double x) { return {j1(x), y1(x)}; }
std::complex<double> hn(int l, double x) { return {jn(l, x), yn(l, x)}; }
std::complex<double> hstar0(double x) { return {j0(x), -y0(x)}; }
std::complex<double> hstar1(double x) { return {j1(x), -y1(x)}; }
std::complex<double> hstarn(int l, double x) { return {jn(l, x), -yn(l, x)}; }

}  // namespace Bessel
