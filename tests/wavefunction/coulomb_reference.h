#ifndef FEMTOKIT_TESTS_COULOMB_REFERENCE_H
#define FEMTOKIT_TESTS_COULOMB_REFERENCE_H

// Independent long-double references for Coulomb functions and Kummer's
// function, built from textbook series, asymptotic expansions and direct
// integration of the Coulomb equation, without GSL.

#include <cmath>
#include <complex>

namespace coulref {

using ld = long double;
using cld = std::complex<long double>;
const ld kPi = 3.141592653589793238462643383279502884L;

// ln Gamma(z) for Re z > 0: shift to Re z >= 20, then Stirling's series. The
// principal logarithms of the shift factors keep Im lnGamma continuous.
inline cld LnGamma(cld z) {
  cld shift = 0.0L;
  while (z.real() < 20.0L) {
    shift += std::log(z);
    z += 1.0L;
  }
  const cld z2 = z * z;
  cld s = (z - 0.5L) * std::log(z) - z + 0.5L * std::log(2.0L * kPi) + 1.0L / (12.0L * z) -
          1.0L / (360.0L * z * z2) + 1.0L / (1260.0L * z * z2 * z2) - 1.0L / (1680.0L * z * z2 * z2 * z2);
  return s - shift;
}

// Coulomb phase sigma_L = arg Gamma(L + 1 + i eta).
inline ld Sigma(int L, ld eta) { return LnGamma(cld(L + 1.0L, eta)).imag(); }

// ln C_L(eta), C_L = 2^L e^(-pi eta/2) |Gamma(L + 1 + i eta)| / (2L + 1)!.
inline ld LnCL(int L, ld eta) {
  ld lnc0sq = (eta == 0.0L) ? 0.0L : std::log(2.0L * kPi * eta / std::expm1(2.0L * kPi * eta));
  ld s = 0.5L * lnc0sq + L * std::log(2.0L);
  for (int k = 1; k <= L; ++k) s += 0.5L * std::log(ld(k) * k + eta * eta);
  for (int k = 2; k <= 2 * L + 1; ++k) s -= std::log(ld(k));
  return s;
}

// Regular function F_L and its derivative from the power series
// F_L = C_L sum_k A_k rho^k, A_(L+1) = 1, A_(L+2) = eta/(L+1),
// (k + L)(k - L - 1) A_k = 2 eta A_(k-1) - A_(k-2).
inline void F(int L, ld eta, ld rho, ld *f, ld *fp) {
  ld Akm2 = 1.0L, Akm1 = eta / (L + 1.0L);
  ld p = std::pow(rho, ld(L + 1));
  ld sum = Akm2 * p, dsum = (L + 1) * Akm2 * p / rho;
  p *= rho;
  sum += Akm1 * p;
  dsum += (L + 2) * Akm1 * p / rho;
  ld biggest = std::fabs(sum), previous = std::fabs(Akm1 * p);
  for (int k = L + 3; k < 4000; ++k) {
    const ld Ak = (2.0L * eta * Akm1 - Akm2) / (ld(k + L) * ld(k - L - 1));
    p *= rho;
    const ld term = Ak * p;
    sum += term;
    dsum += k * term / rho;
    biggest = std::fmax(biggest, std::fabs(term));
    Akm2 = Akm1;
    Akm1 = Ak;
    // Every other coefficient vanishes at eta = 0: test two terms.
    if (k > L + 10 + 2 * rho && std::fabs(term) + previous < 1e-24L * biggest) break;
    previous = std::fabs(term);
  }
  const ld c = std::exp(LnCL(L, eta));
  *f = c * sum;
  *fp = c * dsum;
}

// F_L and G_L at large rho from the asymptotic expansion (Abramowitz and Stegun 14.5):
// F = g cos(theta) + f sin(theta), G = f cos(theta) - g sin(theta).
inline void Asymptotic(int L, ld eta, ld rho, ld *Fv, ld *Gv) {
  ld fk = 1.0L, gk = 0.0L, f = 1.0L, g = 0.0L, last = 1.0e30L;
  for (int k = 0; k < 200; ++k) {
    const ld a = (2 * k + 1) * eta / ((2 * k + 2) * rho);
    const ld b = (ld(L) * (L + 1) - ld(k) * (k + 1) + eta * eta) / ((2 * k + 2) * rho);
    const ld fn = a * fk - b * gk, gn = a * gk + b * fk;
    const ld size = std::fabs(fn) + std::fabs(gn);
    if (size > last) break;  // asymptotic series: stop at the smallest term
    fk = fn;
    gk = gn;
    f += fk;
    g += gk;
    last = size;
    if (size < 1e-30L) break;
  }
  const ld theta = rho - eta * std::log(2.0L * rho) - L * kPi / 2.0L + Sigma(L, eta);
  *Fv = g * std::cos(theta) + f * std::sin(theta);
  *Gv = f * std::cos(theta) - g * std::sin(theta);
}

// Irregular function G_L at rho: asymptotic values at rho >= 60 and one step
// inside, then Numerov's method inward (G is the dominant solution inward).
inline ld G(int L, ld eta, ld rho) {
  const ld rfar = std::fmax(60.0L, ld(L) * (L + 1) + eta * eta + 20.0L);
  const int n = static_cast<int>(std::ceil((rfar - rho) / 5.0e-4L));
  const ld h = (rfar - rho) / n;
  auto k2 = [&](ld r) { return 1.0L - 2.0L * eta / r - ld(L) * (L + 1) / (r * r); };
  ld f0, u0, f1, u1;
  Asymptotic(L, eta, rfar, &f0, &u0);
  Asymptotic(L, eta, rfar - h, &f1, &u1);
  const ld c = h * h / 12.0L;
  for (int i = 2; i <= n; ++i) {
    const ld r0 = rfar - (i - 2) * h, r1 = rfar - (i - 1) * h, r2 = rfar - i * h;
    const ld u2 = (2.0L * (1.0L - 5.0L * c * k2(r1)) * u1 - (1.0L + c * k2(r0)) * u0) / (1.0L + c * k2(r2));
    u0 = u1;
    u1 = u2;
  }
  return u1;
}

// Kummer's M(-i eta, 1, i x) by its power series, summed to full precision.
inline cld KummerM(ld eta, ld x) {
  const cld a(0.0L, -eta), z(0.0L, x);
  cld s = 1.0L, t = 1.0L;
  for (int n = 1; n < 2000; ++n) {
    t *= (a + ld(n - 1)) / (ld(n) * ld(n)) * z;
    s += t;
    if (n > 2 * x + 5 && std::abs(t) < 1e-24L * std::abs(s)) break;
  }
  return s;
}

}  // namespace coulref

#endif
