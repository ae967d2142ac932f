#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_NN_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_NN_H

#include <complex>
#include <string>
#include <vector>

#include "wavefunction/wavefunction.h"

// Relative wave function of two neutrons (identical spin-1/2 fermions, no
// Coulomb): the antisymmetrised plane wave, 1/4 singlet (spatially
// symmetric) and 3/4 triplet (antisymmetric), with the strong phase shifts of
// four channels from the compiled-in table, c = 0: 1S0, 1: 3P0, 2: 3P1,
// 3: 3P2 (weights 0.5, 0.5, 1.5, 2.5). The spin algebra is that of the
// proton pair: the triplet P waves mix through the squared Clebsch-Gordan
// coefficients of l = 1, S = 1 to J = 0, 1, 2. Inside epsilon |psi|^2 is the
// free antisymmetrised wave plus the volume-averaged correction C_epsilon.
//
// Read-only after construction except for TabulateTo: concurrent
// CalcPsiSquared/GetPsiSquared calls are safe.
class CWaveFunction_nn : public CWaveFunction {
 public:
  // Reads the wave-function parameter file (CWaveFunction::ParsInit) and
  // builds everything, printing "Arrays Initialized", "Partial Waves
  // Initialized", "que pasa?", "hola que tal?" and "Initialization finished"
  // on the way. COULOMB is not consulted. Fails as ParsInit does.
  explicit CWaveFunction_nn(const char *parsfilename);
  explicit CWaveFunction_nn(const std::string &parsfilename) : CWaveFunction_nn(parsfilename.c_str()) {}

  // Phase shifts of every channel at every mesh point from the table (linear
  // interpolation on its half-MeV/c grid, 0 beyond 200 MeV/c).
  void read_phaseshifts();

  // |psi|^2 at mesh point iq, separation r (fm), cos(theta) = ctheta. Fails
  // (fatal "iq too large!") for iq outside 0 ... nqmax-1.
  double CalcPsiSquared(int iq, double r, double ctheta) const override;

 protected:
  // Recomputes the per-q factors of CalcPsiSquared from delta and Wepsilon.
  void UpdateFactors();

 private:
  struct Factors {
    std::complex<double> singlet;    // E_0 - 1 (E_c = e^(-2 i delta_c))
    std::complex<double> triplet1;   // (E_2 + E_3)/2 - 1: M_S = +-1
    std::complex<double> flip1;      // (E_2 - E_3)/2
    std::complex<double> triplet0;   // E_1/3 + 2 E_3/3 - 1: M_S = 0
    std::complex<double> flip0;      // (E_3 - E_1)/3
    double ceps;                     // C_epsilon
  };
  std::vector<Factors> factors;  // [nqmax]
};

#endif
