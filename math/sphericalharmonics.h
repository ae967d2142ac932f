#ifndef FEMTOKIT_MATH_SPHERICALHARMONICS_H
#define FEMTOKIT_MATH_SPHERICALHARMONICS_H

#include <complex>

namespace SpherHarmonics {

// Legendre polynomial P_l(ctheta).
double legendre(int l, double ctheta);

// Spherical harmonic Y_lm(theta, phi), orthonormal on the unit sphere, with the
// Condon-Shortley phase, so that Y_l,-m = (-1)^m conj(Y_lm). Returns 0 for |m| > l.
std::complex<double> Ylm(int l, int m, double theta, double phi);

}  // namespace SpherHarmonics

#endif
