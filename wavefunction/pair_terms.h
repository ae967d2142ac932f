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

}  // namespace pairterms
}  // namespace femtokit

#endif
