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
      delr(delr_in) {
  if (q1q2 != 0) {
    const std::complex<double> gamma = CoulWave::cgamma(std::complex<double>(ell + 1.0, eta));
    sigma = std::atan2(gamma.imag(), gamma.real());
  }
  phi_init();
}

std::complex<double> CPartWave::Direct(double r) const {
  const double x = r * q / HBARC;
  if (q1q2 == 0) return x * Bessel::hstarn(ell, x);
  return CoulWave::CWincoming(ell, x, eta) * Misc::ceiphi(-sigma);
}

void CPartWave::phi_init() {
  phi.assign(nrmax + 1, 0.0);
  for (int i = 0; i <= nrmax; ++i) phi[i] = Direct((i + 0.5) * delr);
}

void CPartWave::ExtendTable(int nrmax_new) {
  if (nrmax_new <= nrmax) return;
  phi.resize(static_cast<std::size_t>(nrmax_new) + 1);
  for (int i = nrmax + 1; i <= nrmax_new; ++i) phi[i] = Direct((i + 0.5) * delr);
  nrmax = nrmax_new;
}

std::complex<double> CPartWave::GetPhiIncoming(double r) const {
  int i = static_cast<int>(std::floor(r / delr));
  if (i >= nrmax) return Direct(r);
  if (i < 0) i = 0;
  const double f = (r - (i + 0.5) * delr) / delr;
  if (f > 0.0 || i == 0) return (1.0 - f) * phi[i] + f * phi[i + 1];
  return (1.0 + f) * phi[i] - f * phi[i - 1];
}

std::complex<double> CPartWave::GetPhiOutgoing(double r) const {
  const std::complex<double> out = std::conj(GetPhiIncoming(r));
  if (q1q2 == 0) return out;
  return out * Misc::ceiphi(-2.0 * sigma);
}
