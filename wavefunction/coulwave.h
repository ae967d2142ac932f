#ifndef FEMTOKIT_WAVEFUNCTION_COULWAVE_H
#define FEMTOKIT_WAVEFUNCTION_COULWAVE_H

#include <complex>

// Regular and irregular Coulomb functions F_L(eta, x), G_L(eta, x), the complex
// gamma function and the Coulomb correction of a nuclear phase shift.
namespace CoulWave {

// F_L and G_L at (eta, x), x > 0. GSL's exponent scaling is applied; an
// underflowed F is 0 and an overflowed G is +infinity. No input ends the process.
// For eta > 100 and x <= eta, where GSL only approximates, they are the scaled
// functions of GetFGScaled times C_L^(+-1).
void GetFG(int L, double x, double eta, double *F, double *G);

// F_l, G_l and their x-derivatives.
void GetFGprime(int ell, double x, double eta, double *F, double *G, double *Fprime, double *Gprime);

// F_l + i G_l and F_l - i G_l.
std::complex<double> CWincoming(int ell, double x, double eta);
std::complex<double> CWoutgoing(int ell, double x, double eta);

// Gamma(z) for complex z.
std::complex<double> cgamma(std::complex<double> z);

// The Coulomb phase sigma_L = arg Gamma(L + 1 + i eta), in [-pi, pi], from the
// logarithm of Gamma, so it stays right where Gamma itself underflows (large
// eta): sigma_0 + sum_(k=1..L) atan(eta/k). sigma_0 ~ eta ln eta carries an
// absolute rounding of about 1e-16 eta ln eta (5e-9 at eta = 3.4e6); the
// differences between orders do not. NaN for L < 0, and from GSL beyond
// eta ~ 1e14.
double CoulombPhase(int L, double eta);

// ln C_L(eta), C_L = 2^L e^(-pi eta/2) |Gamma(L + 1 + i eta)|/(2L + 1)!, the
// normalisation of F_L ~ C_L x^(L+1) at small x (C_0^2 is the Gamow factor
// 2 pi eta/(e^(2 pi eta) - 1)). Finite for every finite eta; NaN for L < 0.
double LogNorm(int L, double eta);

// The scaled functions F_L/C_L and G_L C_L (C_L = e^LogNorm(L, eta)) and their
// x-derivatives. For a repulsive eta inside the turning point F_L and G_L
// leave the double range like e^(-+pi eta); the scaled ones stay of order one
// there (F_L/C_L ~ x^(L+1), G_L C_L ~ x^(-L)/(2L+1) at small x), and
// F'G - FG' = 1 holds for them too. For eta > 100 and x <= eta they come from
// the power series of F and the recessive-solution integral
// G C_L = (F/C_L) int_x dt/(F/C_L)^2 (exact there to e^(-2 pi eta)); elsewhere
// from GetFGprime. Same domain rules as GetFGprime (x = 0 gives F = 0,
// G = +infinity; x < 0 and L < 0 give NaN).
void GetFGScaled(int L, double x, double eta, double *Fs, double *Gs, double *Fps, double *Gps);

// Replaces the phase shift delta of orbital angular momentum ell and its
// q-derivative ddeltadq by the Coulomb-corrected values: tan(delta) is scaled by
// the Coulomb penetrability C_ell = C_0^2 prod_{k=1..ell} (1 + eta^2/k^2), with
// C_0^2 = 2 pi eta/(e^(2 pi eta) - 1) the Gamow factor. Nothing changes for |eta| <= 1e-10.
void phaseshift_CoulombCorrect(int ell, double q, double eta, double &delta, double &ddeltadq);

// The penetrability C_ell above, the factor phaseshift_CoulombCorrect puts on
// tan(delta); 1 for |eta| <= 1e-10.
double Penetrability(int ell, double eta);

}  // namespace CoulWave

#endif
