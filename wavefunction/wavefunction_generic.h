#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_GENERIC_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_GENERIC_H

#include <complex>
#include <string>
#include <vector>

#include "wavefunction/wavefunction.h"

// A pair described entirely by its wave-function parameter file: besides the
// common keys (NQMAX, DELQ, EPSILON, COULOMB, STRONG, QARRAYFILENAME):
//
//   double M1, M2         masses, MeV (required; M2 defaults to M1 for identical particles)
//   int Q1Q2              product of the charges in units of e (default 0; COULOMB 0 makes it 0)
//   bool IDENTICAL        identical particles (default 0)
//   double SPIN1, SPIN2   spins, multiples of 1/2 (default 0; for identical
//                         particles SPIN2 defaults to SPIN1)
//   int NCHANNELS         strongly interacting channels (default 0)
//   bool COULOMBCORRECT   Coulomb-correct the channels' phase shifts when Q1Q2 != 0 (default 1)
// and for each channel i = 0 ... NCHANNELS-1:
//   int CHANNEL<i>_L         orbital angular momentum (default 0)
//   double CHANNEL<i>_S      total spin of the spin state it acts in (default: the
//                            only possible one; required when there are several)
//   double CHANNEL<i>_WEIGHT fraction of pairs in that spin state (default
//                            (2S+1)/((2 s1+1)(2 s2+1)))
//   either double CHANNEL<i>_A (scattering length, fm) and CHANNEL<i>_REFF
//          (effective range, fm, default 0): S waves only, through
//          CWaveFunction::EffectiveRange, i.e. k cot(delta) = -1/A + REFF k^2/2
//          (k = q/hbar c): a negative A attracts without a bound state, as for
//          nn (A = -18.9 fm). The femtoscopy convention f0 = -A (positive
//          attractive) is the opposite sign.
//   or     string CHANNEL<i>_PHASEFILE: a table of rows "q delta ddelta/dq"
//          (MeV/c, rad, rad per MeV/c), q increasing, '#' lines are
//          comments; interpolated between rows as femtokit::phaseshifts::InterpolatePhase does (phase and slope consistent), it must cover the q mesh. A
//          relative name is taken from the parameter file's directory.
//
// The phases are the strong ones: for a charged pair they are
// Coulomb-corrected (CWaveFunction::FillWepsilonAndCoulombCorrect, as the pi+ pi- pair
// does) unless COULOMBCORRECT is 0, in which case they are taken as phases
// relative to the Coulomb waves already.
//
// Spin: the total spins S = |s1 - s2| ... s1 + s2 carry the weights above.
// For identical particles a state of even S is spatially symmetric, of odd S
// antisymmetric (bosons and fermions alike), and its channels need l of the
// same parity. A channel acts on every J of its (l, S) alike: no spin-orbit
// splitting. Without strong channels (or with STRONG 0)
//   |psi|^2 = |A|^2                                   (distinguishable),
//   |psi|^2 = sum_S w_S |psi_sym or anti|^2,  psi_sym/anti = (A +- B)/sqrt 2   (identical),
// A the Coulomb (or plane) wave at (r, cos theta), B at (r, -cos theta): for
// two protons the proton pair's STRONG 0 form 0.25 |psi_s|^2 + 0.75 |psi_a|^2.
// Outside EPSILON each spin state's wave gains, per channel,
//   (2l+1) i^l P_l(cos theta) n phi_l (e^(-2 i delta) - 1),
// phi_l the incoming partial wave over x = q r/hbar c, n = 1/2 (distinguishable)
// or 1/sqrt 2 (identical); inside EPSILON the free form plus the
// volume-averaged correction of the channels (weights w_S (2l+1), doubled for
// identical particles).
//
// Read-only after construction except for TabulateTo.
class CWaveFunction_generic : public CWaveFunction {
 public:
  // Reads the parameter file and builds everything; prints the pair it built.
  // Fails (fatal, naming the file or key) for a missing or non-positive mass,
  // identical particles of different masses or spins, a spin that is not a
  // non-negative multiple of 1/2, a channel whose S is not possible, whose l
  // has the wrong parity for its state, that has both or neither of A and
  // PHASEFILE, A with l > 0 or A = 0, spin-state weights that differ within a
  // state, lie outside (0, 1] or do not add up to 1, and for an unreadable,
  // malformed or too short phase-shift table.
  explicit CWaveFunction_generic(const char *parsfilename);
  explicit CWaveFunction_generic(const std::string &parsfilename)
      : CWaveFunction_generic(parsfilename.c_str()) {}

  // The q range (MeV/c) that every phase-shift table named in the parameter
  // file covers (from its first to its last row); false when it names none.
  // Fails as reading the file and the tables does.
  static bool PhaseTableRange(const std::string &parsfilename, double &qmin, double &qmax);

  // |psi|^2 at mesh point iq (1 outside the mesh).
  double CalcPsiSquared(int iq, double r, double ctheta) const override;

  bool GetIDENTICAL() const { return identical; }
  double GetM1() const { return m1; }
  double GetM2() const { return m2; }

  struct SpinState {
    double S;            // total spin
    double weight;       // fraction of pairs
    bool symmetric;      // spatially symmetric: even S for identical particles, always otherwise
    std::vector<int> channels;  // strong channels acting in it
  };
  const std::vector<SpinState> &GetSpinStates() const { return states; }

 private:
  void ReadPhaseShiftFile(int ichannel, const std::string &filename);
  void UpdateFactors();

  bool identical = false;
  double spin1 = 0.0, spin2 = 0.0;
  std::vector<SpinState> states;
  double wsym = 1.0, wanti = 0.0;  // identical: weights of the symmetric and antisymmetric states
  std::vector<std::complex<double>> amplitude;  // [iq * nchannels + ic]: (2l+1) i^l n (E - 1)
  std::vector<double> ceps;                     // [iq]: C_epsilon
};

#endif
