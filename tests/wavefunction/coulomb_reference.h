#pragma once

// Independent long-double references for Coulomb functions and Kummer's
// function: series, the asymptotic expansion and Numerov integration, no GSL.

#include <cmath>
#include <complex>
#include <utility>

namespace coulref {

using ld = long double;
using cld = std::complex<ld>;
const ld kPi = 3.141592653589793238462643383279502884L;

// Coulomb phase arg Gamma(L + 1 + i eta): shift to Re z >= 30, then Stirling's
// series (principal logarithms of the shifts keep the phase continuous).
inline ld Sigma(int L, ld eta) {
  cld z(L + 1.0L, eta), s = 0.0L;
  for (; z.real() < 30.0L; z += 1.0L) s -= std::log(z);
  s += (z - 0.5L) * std::log(z) - z + 1.0L / (12.0L * z) - std::pow(z, -3) / 360.0L + std::pow(z, -5) / 1260.0L;
  return s.imag();
}

// F_L = C_L sum_k A_k rho^k with A_(L+1) = 1, A_(L+2) = eta/(L+1),
// (k + L)(k - L - 1) A_k = 2 eta A_(k-1) - A_(k-2), and
// C_L^2 = 2 pi eta/(e^(2 pi eta) - 1) prod_k (k^2 + eta^2) (2^L/(2L+1)!)^2.
inline ld F(int L, ld eta, ld rho) {
  ld c2 = (eta == 0.0L) ? 1.0L : 2.0L * kPi * eta / std::expm1(2.0L * kPi * eta);
  for (int k = 1; k <= L; ++k) c2 *= 4.0L * (ld(k) * k + eta * eta) / std::pow(ld(2 * k) * (2 * k + 1), 2);
  // 300 terms; cancellation (terms up to ~e^rho) limits this to rho below about 15.
  ld a2 = 1.0L, a1 = eta / (L + 1.0L), p = std::pow(rho, ld(L + 2)), sum = p / rho + a1 * p;
  for (int k = L + 3; k < L + 300; ++k) {
    const ld a = (2.0L * eta * a1 - a2) / (ld(k + L) * ld(k - L - 1));
    sum += a * (p *= rho);
    a2 = std::exchange(a1, a);
  }
  return std::sqrt(c2) * sum;
}

// G_L: the asymptotic expansion (Abramowitz and Stegun 14.5) at rho >= 60 and
// beyond eta^2/4 (its terms then fall like 2^k/k!), where 40 terms reach full
// precision, carried inward by Numerov's method (G dominates inward). Inside the turning point 2 eta the
// step continues in s = sqrt(rho) with u = s^(1/2) v,
// v'' = [((2L+1)^2 - 1/4)/s^2 + 8 eta - 4 s^2] v, where the steep growth of G at
// large eta and small rho becomes gentle (a fixed step in rho would lose
// accuracy there as (eta/rho)^2).
inline ld G(int L, ld eta, ld rho) {
  const ld ll = ld(L) * (L + 1), rfar = std::fmax(60.0L, ll + 0.25L * eta * eta + 20.0L);
  auto asymptotic = [&](ld r) {
    ld fk = 1.0L, gk = 0.0L, f = 1.0L, g = 0.0L;
    for (int k = 0; k < 40; ++k) {
      const ld d = (2 * k + 2) * r, a = (2 * k + 1) * eta / d, b = (ll - ld(k) * (k + 1) + eta * eta) / d;
      const ld fn = a * fk - b * gk, gn = a * gk + b * fk;
      f += (fk = fn);
      g += (gk = gn);
    }
    const ld theta = r - eta * std::log(2.0L * r) - L * kPi / 2.0L + Sigma(L, eta);
    return f * std::cos(theta) - g * std::sin(theta);
  };
  const ld rswitch = std::fmax(rho, std::fmin(2.0L * eta, rfar - 1.0L));
  const int n = static_cast<int>(std::ceil((rfar - rswitch) / 5.0e-4L));
  const ld h = (rfar - rswitch) / n, c = h * h / 12.0L;
  auto w = [&](ld r) { return 1.0L + c * (1.0L - 2.0L * eta / r - ll / (r * r)); };
  ld u0 = asymptotic(rfar), u1 = asymptotic(rfar - h);
  for (int i = 2; i <= n; ++i) {
    const ld r = rfar - i * h;
    u0 = std::exchange(u1, ((12.0L - 10.0L * w(r + h)) * u1 - w(r + 2.0L * h) * u0) / w(r));
  }
  if (rswitch <= rho) return u1;
  // u0 at rswitch + h, u1 at rswitch: the s step is the one between their square roots.
  const ld s1 = std::sqrt(rswitch), hs = std::sqrt(rswitch + h) - s1, a = (2 * L + 1) * (2 * L + 1) - 0.25L;
  const int m = static_cast<int>(std::ceil((s1 - std::sqrt(rho)) / hs));
  const ld cs = hs * hs / 12.0L;
  auto ws = [&](ld s) { return 1.0L - cs * (a / (s * s) + 8.0L * eta - 4.0L * s * s); };
  ld v0 = u0 / std::sqrt(s1 + hs), v1 = u1 / std::sqrt(s1), s = s1;
  for (int i = 0; i < m - 1; ++i, s -= hs)
    v0 = std::exchange(v1, ((12.0L - 10.0L * ws(s)) * v1 - ws(s + hs) * v0) / ws(s - hs));
  // The last step lands on rho: Numerov on the shortened step, three points at s + hs, s, rho.
  const ld sr = std::sqrt(rho), d = s - sr;
  if (d <= 0.0L) return v1 * std::sqrt(s);
  // Quadratic extrapolation through the Taylor expansion with v'' = Q v at s.
  const ld Q = a / (s * s) + 8.0L * eta - 4.0L * s * s, vp = (v0 - v1) / hs - 0.5L * hs * Q * v1;
  return (v1 - d * vp + 0.5L * d * d * Q * v1) * std::sqrt(sr);
}

// Kummer's M(-i eta, 1, i x) by its power series; 300 terms cover x <= 30.
inline cld KummerM(ld eta, ld x) {
  const cld a(0.0L, -eta), z(0.0L, x);
  cld s = 1.0L, t = 1.0L;
  for (int n = 1; n < 300; ++n) s += (t *= (a + ld(n - 1)) / (ld(n) * ld(n)) * z);
  return s;
}

}  // namespace coulref
