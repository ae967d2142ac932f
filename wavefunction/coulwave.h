#ifndef FEMTOKIT_WAVEFUNCTION_COULWAVE_H
#define FEMTOKIT_WAVEFUNCTION_COULWAVE_H

#include <complex>

// Regular and irregular Coulomb functions F_L(eta, x), G_L(eta, x), the complex
// gamma function and the Coulomb correction of a nuclear phase shift.
namespace CoulWave {

// F_L and G_L at (eta, x), x > 0. GSL's exponent scaling is applied; an
// underflowed F is 0 and an overflowed G is +infinity. No input ends the process.
void GetFG(int L, double x, double eta, double *F, double *G);

// F_l, G_l and their x-derivatives.
void GetFGprime(int ell, double x, double eta, double *F, double *G, double *Fprime, double *Gprime);

// F_l + i G_l and F_l - i G_l.
std::complex<double> CWincoming(int ell, double x, double eta);
std::complex<double> CWoutgoing(int ell, double x, double eta);

// Gamma(z) for complex z.
std::complex<double> cgamma(std::complex<double> z);

// Replaces the phase shift delta of orbital angular momentum ell and its
// q-derivative ddeltadq by the Coulomb-corrected values: tan(delta) is scaled by
// the Coulomb penetrability C_ell = C_0^2 prod_{k=1..ell} (1 + eta^2/k^2), with
// C_0^2 = 2 pi eta/(e^(2 pi eta) - 1) the Gamow factor. Nothing changes for |eta| <= 1e-10.
void phaseshift_CoulombCorrect(int ell, double q, double eta, double &delta, double &ddeltadq);

}  // namespace CoulWave

#endif
