#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PPIPLUS_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PPIPLUS_H

#include <complex>
#include <string>
#include <vector>

#include "wavefunction/pair_terms.h"
#include "wavefunction/wavefunction.h"

// Relative wave function of a proton and a pi+ (spin 1/2 with spin 0, not
// identical): the Coulomb wave (COULOMB false: the plane wave) with the
// strong phase shifts of three channels, c = 0: S31, 1: P31 (J = 1/2),
// 2: P33 (J = 3/2, the Delta(1232)), weights 1, 1, 2, from the compiled-in
// table (nuclear phases), Coulomb-corrected when COULOMB is on
// (CWaveFunction::FillWepsilonAndCoulombCorrect, as for pi+ pi-). Outside the outgoing part of each partial wave carries e^(-2 i delta_c);
// the P waves split into a spin-non-flip and a spin-flip amplitude. Inside
// epsilon |psi|^2 is the Coulomb wave plus the volume-averaged correction
// C_epsilon of the channels (see CWaveFunction::FillWepsilonAndCoulombCorrect).
//
// Read-only after construction except for TabulateTo: concurrent
// CalcPsiSquared/GetPsiSquared calls are safe.
class CWaveFunction_ppiplus : public CWaveFunction {
 public:
  // Reads the wave-function parameter file (CWaveFunction::ParsInit) and
  // builds everything, printing "Arrays Initialized", "Partial Waves
  // Initialized" and "Initialization finished" on the way. Fails as ParsInit does.
  explicit CWaveFunction_ppiplus(const char *parsfilename);
  explicit CWaveFunction_ppiplus(const std::string &parsfilename) : CWaveFunction_ppiplus(parsfilename.c_str()) {}

  // Nuclear phase shifts of every channel at every mesh point from the table (linear
  // interpolation on its half-MeV/c grid, 0 beyond 390 MeV/c).
  void read_phaseshifts();

  // |psi|^2 at mesh point iq, separation r (fm), cos(theta) = ctheta. Fails
  // (fatal "iq too large!") for iq outside 0 ... nqmax-1.
  double CalcPsiSquared(int iq, double r, double ctheta) const override;

 protected:
  // Recomputes the per-q factors of CalcPsiSquared from delta and Wepsilon
  // (after the constructor or after changing them).
  void UpdateFactors();

 private:
  std::vector<femtokit::pairterms::SpinHalfSpinZeroFactors> factors;  // [nqmax]
};

#endif
