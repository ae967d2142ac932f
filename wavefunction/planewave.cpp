#include "wavefunction/planewave.h"

#include "config/fatal.h"
#include "config/output.h"

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
      inv_gamma_bma(0.0),
      inv_gamma_a(0.0),
      q(q_in),
      eta(eta_in) {
  for (auto &c : seriesratio) c = 0.0;
  for (auto &c : asymA) c = 0.0;
  for (auto &c : asymB) c = 0.0;

  // The table reaches the argument of r = 30 fm, and at least x = 10.
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

std::complex<double> CPlaneWave::hyper(std::complex<double> a, std::complex<double> b, std::complex<double> z) const {
  // Without Coulomb a = 0 and M(0, 1, z) = 1.
  if (q1q2 == 0) return 1.0;
  if (std::abs(z) < 10.0) {
    std::complex<double> sum = 1.0, term = 1.0;
    for (int n = 1; n <= 40; ++n) {
      term *= z * seriesratio[n];
      sum += term;
      if (std::abs(term) < 1.0e-5) return sum;
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

std::complex<double> CPlaneWave::planewave(double r, double ctheta) const {
  if (q1q2 == 0) return Misc::ceiphi(q * r * ctheta / HBARC);
  const double x = q * r * (1.0 + ctheta) / HBARC;
  const double u = x / delx - 0.5;
  const int j = static_cast<int>(std::floor(u));
  std::complex<double> R;
  if (x > delx && j < nxmax) {
    const double w = u - j;
    R = cfact * ((1.0 - w) * hyperarray[j] + w * hyperarray[j + 1]);
  } else {
    R = cfact * hyper(std::complex<double>(0.0, -eta), 1.0, ci * x);
  }
  double phi = -q * r * ctheta / HBARC;
  phi -= 2.0 * PI * std::floor(phi / (2.0 * PI));
  return std::conj(Misc::ceiphi(phi) * R);
}
