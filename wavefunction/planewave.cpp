#include "wavefunction/planewave.h"

#include "config/fatal.h"
#include "config/output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "math/misc.h"
#include "wavefunction/coulwave.h"

CPlaneWave::CPlaneWave(double eta_in, int q1q2_in, double q_in)
    : PI(M_PI),
      ci(0.0, 1.0),
      delx(0.01),
      q1q2(q1q2_in),
      nxmax(0),
      cfact(0.0),
      cphase(1.0),
      lognorm(0.0),
      inv_gamma_bma(0.0),
      inv_gamma_a(0.0),
      q(q_in),
      eta(eta_in) {
  for (auto &c : seriesratio) c = 0.0;
  for (auto &c : asymA) c = 0.0;
  for (auto &c : asymB) c = 0.0;

  // M(-i eta, 1, i x) varies on the scale of 1/|eta| in x where |eta| > 1 (it
  // depends on eta x = k r(1 + ctheta) eta, of which the Bohr radius is the
  // unit): the step shrinks with it, so linear interpolation stays within
  // about 1e-5 at every q.
  if (q1q2 != 0) delx /= std::max(1.0, std::fabs(eta));

  // The table reaches the argument of r = 30 fm, and at least x = 10 (10/|eta|
  // for |eta| > 1, that is r(1 + ctheta) = 10 Bohr radii; beyond it, the
  // series is evaluated directly).
  const double xmax = q * 30.0 / HBARC;
  // Bounds the table (and keeps its size an int): 1e7 entries reach q = 6.6e4 MeV/c.
  if (!(std::isfinite(q) && xmax / delx <= 1.0e7))
    femtokit::Fatal("CPlaneWave: q=%g MeV/c is not a finite momentum with a plane-wave table of at most 1e7 entries\n",
                    q);
  if (xmax > 10.0)
    nxmax = static_cast<int>(std::floor(std::floor(xmax / delx + 1.0) * delx / delx));
  else
    nxmax = 1000;

  const std::complex<double> a(0.0, -eta), b(1.0, 0.0);
  if (q1q2 != 0) {
    cfact = std::exp(-0.5 * PI * eta) * CoulWave::cgamma(std::complex<double>(1.0, eta));
    cphase = Misc::ceiphi(CoulWave::CoulombPhase(0, eta));
    lognorm = CoulWave::LogNorm(0, eta);
    for (int n = 1; n <= 40; ++n) seriesratio[n] = (a + double(n - 1)) / (double(n) * (b + double(n - 1)));
    // Pochhammer products built one factor at a time, divided by n at each step.
    std::complex<double> A = 1.0, B = 1.0;
    for (int n = 1; n <= 5; ++n) {
      A *= (a + double(n - 1)) * (1.0 + a - b + double(n - 1)) / double(n);
      B *= (b - a + double(n - 1)) * (1.0 - a + double(n - 1)) / double(n);
      asymA[n] = A;
      asymB[n] = B;
    }
    inv_gamma_bma = 1.0 / CoulWave::cgamma(1.0 - a);
    inv_gamma_a = 1.0 / CoulWave::cgamma(a);
  }

  hyperarray.assign(nxmax + 1, 1.0);
  if (q1q2 != 0)
    for (int j = 0; j <= nxmax; ++j) hyperarray[j] = hyper(a, b, ci * ((j + 0.5) * delx));
}

void CPlaneWave::ExtendTable(double xmax) {
  if (q1q2 == 0 || !(xmax > 0.0)) return;
  const int nxmax_new = static_cast<int>(std::ceil(xmax / delx)) + 1;
  if (nxmax_new <= nxmax) return;
  const std::complex<double> a(0.0, -eta), b(1.0, 0.0);
  hyperarray.resize(static_cast<std::size_t>(nxmax_new) + 1);
  for (int j = nxmax + 1; j <= nxmax_new; ++j) hyperarray[j] = hyper(a, b, ci * ((j + 0.5) * delx));
  nxmax = nxmax_new;
}

std::complex<double> CPlaneWave::hyper(std::complex<double> a, std::complex<double> b, std::complex<double> z) const {
  // Without Coulomb a = 0 and M(0, 1, z) = 1.
  if (q1q2 == 0) return 1.0;
  // For a repulsive eta and |z| < eta (the region the Coulomb barrier shadows)
  // the terms add up without cancellation, however many are needed (about
  // 2 sqrt(eta |z|)).
  if (std::abs(z) < std::max(10.0, eta)) {
    std::complex<double> sum = 1.0, term = 1.0;
    for (int n = 1; n <= 2000; ++n) {
      term *= z * (n <= 40 ? seriesratio[n] : (a + double(n - 1)) / (double(n) * (b + double(n - 1))));
      sum += term;
      if (!std::isfinite(std::abs(sum))) break;  // beyond the double range
      // Converged once the terms are below the last digit and falling by half or more.
      if (std::abs(term) <= 1.0e-17 * std::abs(sum) &&
          std::abs(z) * std::abs(a + double(n)) <= 0.5 * (n + 1.0) * std::abs(b + double(n)))
        return sum;
    }
    femtokit::Warn("hyper not coverging!.\n");
    return sum;
  }
  // Large |z| (Abramowitz and Stegun 13.5.1).
  const std::complex<double> minusz = -z;
  std::complex<double> S1 = 1.0, S2 = 1.0, pm = 1.0, pz = 1.0;
  for (int n = 1; n <= 5; ++n) {
    pm *= minusz;
    pz *= z;
    S1 += asymA[n] / pm;
    S2 += asymB[n] / pz;
  }
  const double m = std::floor(z.imag() / (2.0 * PI));
  return inv_gamma_bma * S1 * Misc::cpow(minusz, -a) +
         inv_gamma_a * S2 * Misc::cpow(z, a - b) * Misc::cexp(z - 2.0 * PI * m * ci);
}

inline std::complex<double> CPlaneWave::Kummer(double x) const {
  const double u = x / delx - 0.5;
  const int j = static_cast<int>(std::floor(u));
  if (x > delx && j < nxmax) {
    const double w = u - j;
    return (1.0 - w) * hyperarray[j] + w * hyperarray[j + 1];
  }
  return hyper(std::complex<double>(0.0, -eta), 1.0, ci * x);
}

inline std::complex<double> CPlaneWave::Distorted(std::complex<double> c, double r, double ctheta) const {
  const std::complex<double> R = c * Kummer(q * r * (1.0 + ctheta) / HBARC);
  double phi = -q * r * ctheta / HBARC;
  phi -= 2.0 * PI * std::floor(phi / (2.0 * PI));
  return std::conj(Misc::ceiphi(phi) * R);
}

std::complex<double> CPlaneWave::planewave(double r, double ctheta) const {
  if (q1q2 == 0) return Misc::ceiphi(q * r * ctheta / HBARC);
  return Distorted(cfact, r, ctheta);
}

std::complex<double> CPlaneWave::planewave_scaled(double r, double ctheta) const {
  if (q1q2 == 0) return Misc::ceiphi(q * r * ctheta / HBARC);
  return Distorted(cphase, r, ctheta);
}
