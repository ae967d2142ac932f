#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PIPLUSPIMINUS_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PIPLUSPIMINUS_H

#include <complex>
#include <string>
#include <vector>

#include "wavefunction/wavefunction.h"

// Relative wave function of a pi+ and a pi- (attractive Coulomb, q1q2 = -1
// always). The Coulomb wave A is split into its symmetric and antisymmetric
// parts psi_s, psi_a, which carry the isospin 0 and 2 (even l) and isospin 1
// (odd l) interactions. Five channels with closed-form pi pi phase shifts
// (getphaseshift_pipi), Coulomb-corrected: c = 0: (l 0, I 0), 1: (2, 0),
// 2: (1, 1), 3: (0, 2), 4: (2, 2). Outside epsilon
//   |psi|^2 = |A|^2 + (|psi_I0|^2 - |psi_s|^2)/3 + (|psi_I1|^2 - |psi_a|^2)/2
//             + (|psi_I2|^2 - |psi_s|^2)/6,
// the Coulomb wave plus the isospin-weighted strong change of each isospin
// wave (so that without the strong interaction it is |A|^2 inside and outside
// epsilon alike); inside epsilon |A|^2 plus C_epsilon.
//
// Read-only after construction except for TabulateTo: concurrent
// CalcPsiSquared/GetPsiSquared calls are safe.
class CWaveFunction_pipluspiminus : public CWaveFunction {
 public:
  // Reads the wave-function parameter file (CWaveFunction::ParsInit) and
  // builds everything, printing "pipluspiminus wf initialized" at the end.
  // COULOMB is not consulted. Fails as ParsInit does.
  explicit CWaveFunction_pipluspiminus(const char *parsfilename);
  explicit CWaveFunction_pipluspiminus(const std::string &parsfilename)
      : CWaveFunction_pipluspiminus(parsfilename.c_str()) {}

  // pi pi phase shift delta (rad) and d delta/dq (rad per MeV/c) of isospin I
  // and orbital angular momentum ell at q (MeV/c), without Coulomb: effective-
  // range forms for (l, I) = (0, 0), (2, 0), (0, 2), (2, 2) (tan(delta) odd in
  // q, delta ~ q^(2l+1) at threshold), the rho(770)
  // Breit-Wigner for (1, 1), 0 for higher l. Nothing is written for I > 2.
  // Fails (fatal) for odd l + I.
  static void getphaseshift_pipi(int I, int ell, double q, double *delta, double *ddeltadq);

  // |psi|^2 at mesh point iq, separation r (fm), cos(theta) = ctheta; 1 for
  // iq outside 0 ... nqmax-1.
  double CalcPsiSquared(int iq, double r, double ctheta) const override;

 protected:
  // Recomputes the per-q factors of CalcPsiSquared from delta and Wepsilon.
  void UpdateFactors();

 private:
  struct Factors {
    std::complex<double> s[5];  // E_c - 1, E_c = e^(-2 i delta_c)
    double ceps;                // C_epsilon
  };
  std::vector<Factors> factors;  // [nqmax]
};

#endif
