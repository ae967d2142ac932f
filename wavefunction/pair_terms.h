#ifndef FEMTOKIT_WAVEFUNCTION_PAIR_TERMS_H
#define FEMTOKIT_WAVEFUNCTION_PAIR_TERMS_H

// Strong-interaction terms shared by the pair wave functions (internal).
#include <algorithm>
#include <cmath>
#include <complex>

namespace femtokit {
namespace pairterms {

// |psi|^2 of a spin-1/2 + spin-0 pair outside epsilon: the wave a with its S
// wave and (spin-averaged) P wave replaced,
//   |a + phi0 s0/2 + (3/2) i ctheta phi1 g|^2 + |(1/2) i sin(theta) phi1 d|^2,
// phi_l = incoming partial wave/x, s0 = E_0 - 1, g = 2/3 E_3/2 + 1/3 E_1/2 - 1,
// d = E_3/2 - E_1/2 (E = e^(-2 i delta)).
inline double SpinHalfSpinZero(std::complex<double> a, std::complex<double> phi0, std::complex<double> phi1,
                               double ctheta, std::complex<double> s0, std::complex<double> g,
                               std::complex<double> d, std::complex<double> *psi_out = nullptr) {
  const std::complex<double> ci(0.0, 1.0);
  const std::complex<double> psi = a + 0.5 * phi0 * s0 + 1.5 * ctheta * ci * phi1 * g;
  const double sintheta = std::sqrt(std::max(0.0, 1.0 - ctheta * ctheta));
  if (psi_out != nullptr) *psi_out = psi;
  return std::norm(psi) + std::norm(0.5 * sintheta * phi1 * d);
}

// Per-momentum factors of a spin-1/2 + spin-0 pair from its three channel
// phases (S, P J = 1/2, P J = 3/2) and its short-range correction ceps.
struct SpinHalfSpinZeroFactors {
  std::complex<double> s0;  // E_0 - 1, E_c = e^(-2 i delta_c)
  std::complex<double> g;   // 2/3 E_2 + 1/3 E_1 - 1 (spin-non-flip P wave)
  std::complex<double> d;   // E_2 - E_1 (spin-flip P wave)
  double ceps;              // C_epsilon
};

inline SpinHalfSpinZeroFactors MakeSpinHalfSpinZeroFactors(double delta0, double delta1, double delta2, double ceps) {
  const std::complex<double> e0 = std::polar(1.0, -2.0 * delta0);
  const std::complex<double> e1 = std::polar(1.0, -2.0 * delta1);
  const std::complex<double> e2 = std::polar(1.0, -2.0 * delta2);
  return {e0 - 1.0, 2.0 / 3.0 * e2 + e1 / 3.0 - 1.0, e2 - e1, ceps};
}

}  // namespace pairterms
}  // namespace femtokit

#endif
