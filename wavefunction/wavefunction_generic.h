#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_GENERIC_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_GENERIC_H

#include <complex>
#include <string>
#include <vector>

#include "wavefunction/potential.h"
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
//   or     string CHANNEL<i>_POTENTIAL: a local potential V(r) (form and keys in
//          femtokit::LocalPotential), any l. The channel's radial wave is the
//          exact regular solution with Coulomb (femtokit::RadialSolver) up to
//          the matching radius and the Coulomb-distorted form with its phase
//          shift beyond: no EPSILON correction for it.
// Potential channels share these keys:
//   double MATCHRADIUS   matching radius, fm (default: where every channel's
//                        |V| has fallen below 1e-7 MeV; the edge of a square
//                        well or table). It must not lie inside a square well
//                        or table.
//   double RADIALSTEP    step of the tables of the interior solutions, fm
//                        (default 0.02; Hermite cubics of value and slope in between)
//   string REDUCEDMASS   nonrelativistic (default): mu = m1 m2/(m1 + m2) in the
//                        potential term, as potentials are fitted; relativistic:
//                        the reduced energy E1 E2/(E1 + E2) at each q. The Coulomb
//                        term always takes eta of the Coulomb waves (the reduced
//                        energy), so that the interior solution matches them.
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
  // The same on the given q mesh (MeV/c) instead of the file's.
  CWaveFunction_generic(const std::string &parsfilename, const std::vector<double> &qmesh);

  // Scattering length and effective range (fm) of S-wave channel ic in the
  // particle-physics sign, k cot(delta) = -1/a + reff k^2/2 (a < 0: attraction
  // without a bound state; the femtoscopy f0 = -a), from the phases at the
  // first two mesh points (build the pair on a mesh of small q, e.g. 0.5 and
  // 1 MeV/c). Charged pairs: phases relative to the Coulomb waves (potential
  // channels, COULOMBCORRECT 0) enter the Coulomb-modified expansion
  // C_0^2 k cot(delta) + 2 k eta h(eta) = -1/a + reff k^2/2,
  // h = Re psi(1 + i eta) - ln|eta| (attractive Coulomb: the same with eta < 0);
  // Coulomb-corrected strong phases give back k cot(delta_strong) =
  // C_0^2 k cot(delta). Fatal for l > 0 and fewer than two mesh points.
  void FitEffectiveRange(int ic, double *a, double *reff) const;
  // How channel ic is given: "scattering parameters", "phase table" or the potential's description.
  std::string DescribeChannel(int ic) const { return channel_text_[ic]; }

  // The q range (MeV/c) that every phase-shift table named in the parameter
  // file covers (from its first to its last row); false when it names none.
  // Fails as reading the file and the tables does.
  static bool PhaseTableRange(const std::string &parsfilename, double &qmin, double &qmax);

  // |psi|^2 at mesh point iq (1 outside the mesh).
  double CalcPsiSquared(int iq, double r, double ctheta) const override;

  // Potential channels: whether channel ic has one, the matching radius (fm,
  // 0 without potential channels) and the interior radial wave normalised to
  // F cos(delta) + G sin(delta) beyond it, at mesh point iq and r (fm);
  // fatal for a channel without potential or an index out of range.
  bool HasPotential(int ic) const { return !inner_[ic].empty(); }
  double GetMatchRadius() const { return rmatch_; }
  double GetInnerWave(int ic, int iq, double r) const;
  // The reduced mass (MeV) of the potential term at q (MeV/c).
  double PotentialReducedMass(double q) const;

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
  void Build(const char *parsfilename, const std::vector<double> *qmesh);
  void ReadPhaseShiftFile(int ichannel, const std::string &filename);
  void UpdateFactors();
  // Solves every potential channel at every mesh point (OpenMP over q).
  void SolvePotentials(const std::vector<femtokit::LocalPotential> &potentials, const std::vector<bool> &has);
  // Sommerfeld parameter of the Coulomb waves at any q (as InitWaves has it).
  double EtaAt(double q) const;

  // Interior tables of the potential channels, r_i = i radialstep_ to rmatch_.
  struct InnerTable {
    std::vector<double> w, wp;  // regular solution (normalised) and slope
  };
  std::vector<std::vector<InnerTable>> inner_;     // [ic][iq], empty for other channels
  std::vector<std::vector<InnerTable>> coulomb_;   // [l][iq]: F_l and F_l' (only l of potential channels)
  std::vector<std::complex<double>> cinner_;       // [iq * nchannels + ic]: factor of w
  std::vector<std::complex<double>> cfree_;        // [iq * nchannels + ic]: factor of F
  double rmatch_ = 0.0, radialstep_ = 0.02;
  bool relativistic_mu_ = false;
  bool coulombcorrect_ = true;
  std::vector<std::string> channel_text_;  // [ic]

  bool identical = false;
  double spin1 = 0.0, spin2 = 0.0;
  std::vector<SpinState> states;
  double wsym = 1.0, wanti = 0.0;  // identical: weights of the symmetric and antisymmetric states
  std::vector<std::complex<double>> amplitude;  // [iq * nchannels + ic]: (2l+1) i^l n (E - 1)
  std::vector<double> ceps;                     // [iq]: C_epsilon
};

#endif
