#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PKPLUS_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PKPLUS_H

#include <complex>
#include <string>
#include <vector>

#include "wavefunction/pair_terms.h"
#include "wavefunction/wavefunction.h"

// Relative wave function of a proton and a K+ (spin 1/2 with spin 0, not
// identical): the Coulomb wave (COULOMB false: the plane wave) with the
// strong phase shifts of three channels, c = 0: S wave, 1: P wave J = 1/2,
// 2: P wave J = 3/2 (weights 1, 1, 2), from the compiled-in table (nuclear
// phases), Coulomb-corrected when COULOMB is on
// (CWaveFunction::FillWepsilonAndCoulombCorrect, as for pi+ pi-). Outside
// epsilon the outgoing part of each partial wave carries e^(-2 i delta_c);
// the P waves split into a spin-non-flip and a spin-flip amplitude. Inside
// epsilon |psi|^2 is the Coulomb wave plus the volume-averaged correction
// C_epsilon of the channels (see CWaveFunction::FillWepsilonAndCoulombCorrect).
//
// Read-only after construction except for TabulateTo: concurrent
// CalcPsiSquared/GetPsiSquared calls are safe.
class CWaveFunction_pkplus : public CWaveFunction {
 public:
  // Reads the wave-function parameter file (CWaveFunction::ParsInit) and
  // builds everything. Prints nothing of its own. Fails as ParsInit does.
  explicit CWaveFunction_pkplus(const char *parsfilename);
  explicit CWaveFunction_pkplus(const std::string &parsfilename) : CWaveFunction_pkplus(parsfilename.c_str()) {}

  // Nuclear phase shifts of every channel at every mesh point from the table (linear
  // interpolation on its half-MeV/c grid, 0 beyond 350 MeV/c), the first mesh
  // point included.
  void read_phaseshifts();

  // |psi|^2 at mesh point iq, separation r (fm), cos(theta) = ctheta. A value
  // above 500 prints a diagnostic and is returned. Fails (fatal "iq too
  // large!") for iq outside 0 ... nqmax-1.
  double CalcPsiSquared(int iq, double r, double ctheta) const override;

 protected:
  // Recomputes the per-q factors of CalcPsiSquared from delta and Wepsilon
  // (after the constructor or after changing them).
  void UpdateFactors();

 private:
  std::vector<femtokit::pairterms::SpinHalfSpinZeroFactors> factors;  // [nqmax]
};

#endif
