#include "wavefunction/partwave.h"

#include <cmath>

#include "math/bessel.h"
#include "math/misc.h"
#include "wavefunction/coulwave.h"

CPartWave::CPartWave(double eta_in, int q1q2_in, double q_in, int ell_in, double epsilon_in)
    : CPartWave(eta_in, q1q2_in, q_in, ell_in, epsilon_in, 3000, 0.01) {}

CPartWave::CPartWave(double eta_in, int q1q2_in, double q_in, int ell_in, double epsilon_in, int nrmax_in,
                     double delr_in)
    : sigma(0.0),
      ci(0.0, 1.0),
      epsilon(epsilon_in),
      PI(M_PI),
      ell(ell_in),
      q1q2(q1q2_in),
      q(q_in),
      eta(eta_in),
      nrmax(nrmax_in),
      delr(delr_in),
      lognorm(0.0) {
  if (q1q2 != 0) {
    // From ln Gamma, which keeps the phase where Gamma itself underflows.
    sigma = CoulWave::CoulombPhase(ell, eta);
    lognorm = CoulWave::LogNorm(ell, eta);
    norm_ = std::exp(lognorm);
  }
  phi_init();
}

std::complex<double> CPartWave::Direct(double r) const {
  const double x = r * q / HBARC;
  if (q1q2 == 0) return x * Bessel::hstarn(ell, x);
  return CoulWave::CWincoming(ell, x, eta) * Misc::ceiphi(-sigma);
}

std::complex<double> CPartWave::DirectScaled(double r) const {
  if (q1q2 == 0) return Direct(r);
  double Fs, Gs, Fps, Gps;
  CoulWave::GetFGScaled(ell, r * q / HBARC, eta, &Fs, &Gs, &Fps, &Gps);
  return std::complex<double>(std::exp(2.0 * lognorm) * Fs, Gs) * Misc::ceiphi(-sigma);
}

void CPartWave::phi_init() {
  phi.assign(nrmax + 1, 0.0);
  phiscaled.clear();
  if (q1q2 == 0 || lognorm >= -300.0) {
    for (int i = 0; i <= nrmax; ++i) phi[i] = Direct((i + 0.5) * delr);
    return;
  }
  // Both tables from one evaluation of the scaled functions: the wave itself
  // is e^(-i sigma)(C F/C + i (G C)/C), 0 and infinity where those leave the range.
  phiscaled.assign(nrmax + 1, 0.0);
  const std::complex<double> eisigma = Misc::ceiphi(-sigma);
  const double C = std::exp(lognorm), C2 = std::exp(2.0 * lognorm);
  for (int i = 0; i <= nrmax; ++i) {
    double Fs, Gs, Fps, Gps;
    CoulWave::GetFGScaled(ell, (i + 0.5) * delr * q / HBARC, eta, &Fs, &Gs, &Fps, &Gps);
    phiscaled[i] = std::complex<double>(C2 * Fs, Gs) * eisigma;
    phi[i] = std::complex<double>(C * Fs, Gs / C) * eisigma;
  }
}

inline std::complex<double> CPartWave::Interpolate(const std::vector<std::complex<double>> &table, double r) const {
  int i = static_cast<int>(std::floor(r / delr));
  if (i < 0) i = 0;
  const double f = (r - (i + 0.5) * delr) / delr;
  if (f > 0.0 || i == 0) return (1.0 - f) * table[i] + f * table[i + 1];
  return (1.0 + f) * table[i] - f * table[i - 1];
}

void CPartWave::ExtendTable(int nrmax_new) {
  if (nrmax_new <= nrmax) return;
  phi.resize(static_cast<std::size_t>(nrmax_new) + 1);
  if (phiscaled.empty()) {
    for (int i = nrmax + 1; i <= nrmax_new; ++i) phi[i] = Direct((i + 0.5) * delr);
  } else {
    // Both tables grow together, as phi_init builds them.
    phiscaled.resize(static_cast<std::size_t>(nrmax_new) + 1);
    const std::complex<double> eisigma = Misc::ceiphi(-sigma);
    const double C = std::exp(lognorm), C2 = std::exp(2.0 * lognorm);
    for (int i = nrmax + 1; i <= nrmax_new; ++i) {
      double Fs, Gs, Fps, Gps;
      CoulWave::GetFGScaled(ell, (i + 0.5) * delr * q / HBARC, eta, &Fs, &Gs, &Fps, &Gps);
      phiscaled[i] = std::complex<double>(C2 * Fs, Gs) * eisigma;
      phi[i] = std::complex<double>(C * Fs, Gs / C) * eisigma;
    }
  }
  nrmax = nrmax_new;
}

std::complex<double> CPartWave::GetPhiIncoming(double r) const {
  if (std::floor(r / delr) >= nrmax) return Direct(r);
  return Interpolate(phi, r);
}

std::complex<double> CPartWave::GetPhiIncomingScaled(double r) const {
  if (phiscaled.empty()) return norm_ * (std::floor(r / delr) >= nrmax ? Direct(r) : Interpolate(phi, r));
  if (std::floor(r / delr) >= nrmax) return DirectScaled(r);
  return Interpolate(phiscaled, r);
}

std::complex<double> CPartWave::GetPhiOutgoing(double r) const {
  const std::complex<double> out = std::conj(GetPhiIncoming(r));
  if (q1q2 == 0) return out;
  return out * Misc::ceiphi(-2.0 * sigma);
}
