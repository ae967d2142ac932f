#include "math/misc.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_coupling.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/fatal.h"

namespace Misc {

bool comparestrings(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

bool comparestrings(const std::string &a, const std::string &b) { return a == b; }

double triangle(double m, double m1, double m2) {
  if (m1 + m2 > m) femtokit::Fatal("Disaster with triangle\n");
  const double m_2 = m * m, m1_2 = m1 * m1, m2_2 = m2 * m2;
  return (m_2 * m_2 + m1_2 * m1_2 + m2_2 * m2_2 - 2.0 * (m_2 * m1_2 + m_2 * m2_2 + m1_2 * m2_2)) / (4.0 * m_2);
}

double GetRapidity(const double *p) { return 0.5 * std::log((p[0] + p[3]) / (p[0] - p[3])); }

double GetDely(const double *p1, const double *p2) { return GetRapidity(p1) - GetRapidity(p2); }

void lorentz(const double *u, const double *p, double *pprime) {
  const double n[4] = {1.0, 0.0, 0.0, 0.0};
  const double udotp = u[0] * p[0] - u[1] * p[1] - u[2] * p[2] - u[3] * p[3];
  const double p0 = p[0];
  const double f = (udotp + p0) / (1.0 + u[0]);
  for (int mu = 0; mu < 4; ++mu) pprime[mu] = p[mu] + 2.0 * p0 * u[mu] - (n[mu] + u[mu]) * f;
}

double GetQinv(const double *p1, const double *p2) {
  double q2 = -(p1[0] - p2[0]) * (p1[0] - p2[0]);
  for (int i = 1; i < 4; ++i) q2 += (p1[i] - p2[i]) * (p1[i] - p2[i]);
  if (q2 < 0.0) femtokit::Fatal("DISASTER with GetQinv, wrong sign, = %g\n", q2);
  return std::sqrt(q2);
}

void outsidelong(const double *pa, const double *pb, double &unused, double &qout, double &qside,
                 double &qlong) {
  double P[4], qv[4];
  for (int mu = 0; mu < 4; ++mu) {
    P[mu] = pa[mu] + pb[mu];
    qv[mu] = 0.5 * (pa[mu] - pb[mu]);
  }
  // Longitudinal boost to the frame where Pz = 0.
  const double beta = P[3] / P[0];
  const double gamma = 1.0 / std::sqrt(1.0 - beta * beta);
  const double q0p = gamma * (qv[0] - beta * qv[3]);
  qlong = gamma * (qv[3] - beta * qv[0]);
  const double Ep = gamma * (P[0] - beta * P[3]);
  // Transverse boost along P_T.
  const double PT = std::sqrt(P[1] * P[1] + P[2] * P[2]);
  const double qout_lcms = (P[1] * qv[1] + P[2] * qv[2]) / PT;
  qside = (P[1] * qv[2] - P[2] * qv[1]) / PT;
  const double betaT = PT / Ep;
  const double gammaT = 1.0 / std::sqrt(1.0 - betaT * betaT);
  qout = gammaT * (qout_lcms - betaT * q0p);
  unused = 0.0;
}

int iround(double x) { return static_cast<int>(std::floor(x + 0.5)); }

double cgc(double j1, double m1, double j2, double m2, double J, double M) {
  if (j1 < 0.0 || j2 < 0.0 || J < 0.0) return 0.0;
  femtokit::InitGSL();
  const long parity = std::lrint(j1 - j2 + M);
  const double sign = (parity % 2 == 0) ? 1.0 : -1.0;
  gsl_sf_result r;
  const int status = gsl_sf_coupling_3j_e(static_cast<int>(std::lrint(2.0 * j1)), static_cast<int>(std::lrint(2.0 * j2)),
                                          static_cast<int>(std::lrint(2.0 * J)), static_cast<int>(std::lrint(2.0 * m1)),
                                          static_cast<int>(std::lrint(2.0 * m2)), static_cast<int>(std::lrint(-2.0 * M)), &r);
  if (status != GSL_SUCCESS) return 0.0;
  return sign * std::sqrt(2.0 * J + 1.0) * r.val;
}

namespace {
// True when x is an integer to rounding.
bool IsInteger(double x) { return std::fabs(x - std::lrint(x)) < 1.0e-6; }
}  // namespace

double oldcgc(double j1, double m1, double j2, double m2, double J, double M) {
  if (std::fabs(m1 + m2 - M) > 0.01) return 0.0;
  // Triangle condition |j1 - j2| <= J <= j1 + j2 and |m| <= j for each pair.
  if (j1 < 0.0 || j2 < 0.0 || J < 0.0) return 0.0;
  if (j1 + j2 < J || j2 > j1 + J || j1 > j2 + J) return 0.0;
  if (std::fabs(m1) > j1 || std::fabs(m2) > j2 || std::fabs(M) > J) return 0.0;
  if (!IsInteger(j1 + m1) || !IsInteger(j2 + m2) || !IsInteger(J + M) || !IsInteger(j1 + j2 + J)) return 0.0;

  const double x = (2.0 * J + 1.0) * cgc_fractorial(j1 + j2 - J, j1 + j2 + J + 1.0) *
                   cgc_fractorial(j1 - m1, J + j1 - j2) * cgc_fractorial(j2 - m2, J + j2 - j1) *
                   cgc_fractorial(J + M, j1 + m1) * cgc_fractorial(J - M, j2 + m2);
  double sum = 0.0;
  for (int k = 0; k <= J + 2.0 * (j1 + j2); ++k) {
    if (j1 - m1 - k < -0.01 || J - M - k < -0.01 || k + m1 + j2 - J < -0.01) continue;
    const double sign = (iround(k + j1 - m1) % 2 == 0) ? 1.0 : -1.0;
    sum += sign * cgc_fractorial(k + m1 + j1, j1 - m1 - k) * cgc_fractorial(j2 + J - m1 - k, J - M - k) /
           (cgc_factorial(k) * cgc_factorial(k + m1 + j2 - J));
  }
  return std::sqrt(x) * sum;
}

double cgc_factorial(double n) {
  double f = 1.0;
  const int nn = iround(n);
  for (int i = 2; i <= nn; ++i) f *= i;
  return f;
}

double cgc_fractorial(double a, double b) {
  // Factorials of arguments below 1 are 1, as in cgc_factorial.
  const int ia = std::max(iround(a), 0), ib = std::max(iround(b), 0);
  double f = 1.0;
  if (ia > ib) {
    for (int i = ib + 1; i <= ia; ++i) f *= i;
  } else {
    for (int i = ia + 1; i <= ib; ++i) f /= i;
  }
  return f;
}

double cgc_delta(double i, double j) { return std::fabs(i - j) < 1.0e-6 ? 1.0 : 0.0; }

std::complex<double> ceiphi(double phi) { return {std::cos(phi), std::sin(phi)}; }

std::complex<double> cexp(std::complex<double> z) { return std::exp(z.real()) * ceiphi(z.imag()); }

std::complex<double> cpow(std::complex<double> z, std::complex<double> w) {
  if (z == 0.0) return (w == 0.0) ? 1.0 : 0.0;
  const std::complex<double> lnz(std::log(std::abs(z)), std::atan2(z.imag(), z.real()));
  return cexp(w * lnz);
}

}  // namespace Misc
