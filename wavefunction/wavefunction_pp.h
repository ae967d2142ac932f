#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PP_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PP_H

#include <complex>
#include <string>
#include <vector>

#include "wavefunction/wavefunction.h"

// Relative wave function of two protons: Coulomb, antisymmetrisation and the
// strong interaction of the Reid93 potential in the S and P waves. Spin is
// averaged: 1/4 singlet (spatially symmetric), 3/4 triplet (antisymmetric).
//
// At every mesh q the radial equation
//   u'' = [M_p V/(hbar c)^2 + 2 eta k/r + l(l+1)/r^2 - k^2] u,  k = q/(hbar c),
// (the equation with which Reid93 was fitted; eta is the Sommerfeld parameter
// of the plane and partial waves) is integrated inward from r = rmax + 2h
// (h = rmax/nradial = 0.01 fm) for the states 1S0 (l = 0), 3P0, 3P1, 3C2
// (l = 1; for J = 2 only the diagonal 3P2 element, the coupling to 3F2 is
// ignored) and two references without the strong potential, NS (l = 1) and
// NS0 (l = 0). The outer values are the incoming Coulomb waves F + iG. The
// phase phi at the origin gives the phase shift delta = phi - pi/2 relative
// to the Coulomb functions; the stored radial tables are the regular solutions
// normalised to e^(i delta)(F cos delta + G sin delta) outside the potential.
//
// |psi|^2 outside r = epsilon is the antisymmetrised Coulomb wave with the
// S and P partial waves replaced through S = e^(-2 i delta); inside epsilon the
// partial waves are replaced by the integrated radial solutions themselves.
class CWaveFunction_pp : public CWaveFunction {
 public:
  // Strong potential (MeV) of the named state ("1S0", "3P0", "3P1", "3C2") at
  // r (fm) for the pair type (here always "PP").
  typedef double (*PotentialFunction)(double r, const char *statename, const char *pairtype);

  // Reads the wave-function parameter file and computes everything; the
  // strong potential is Reid93 (vpot11 of creid93). EPSILON must lie below
  // rmax = 10 fm.
  explicit CWaveFunction_pp(const char *parsfilename);
  explicit CWaveFunction_pp(const std::string &parsfilename);
  // The same with another strong potential in place of Reid93.
  CWaveFunction_pp(const std::string &parsfilename, PotentialFunction potential);

  // Integrates every state at every mesh point and fills the combination
  // tables; returns 1.
  int Initialize();

  // Integrates one state at mesh point iq and stores its regular radial
  // solution and phase: which = 1 -> 3P0, 2 -> 3P1, 3 -> 1S0, 4 -> NS,
  // 5 -> 3C2, 6 -> NS0 (the l = 0 reference); other values store nothing.
  // strong = false integrates without the strong potential. Returns 1.
  int GetPsiNoneCoupledState(long iq, short ell, const char *name, short which, bool strong);

  // |psi|^2 at mesh point iq (thread-safe: reads the tables only).
  double CalcPsiSquared(int iq, double r, double ctheta) const override;

  // Reid93 vpot11 for the state and pair type.
  static double Reid93Potential(double r, const char *statename, const char *pairtype);

  double GetRMAX() const { return rmax; }
  int GetNRADIAL() const { return nradial; }

  typedef std::vector<std::complex<double>> RadialTable;  // r_i = i h, i = 0 ... nradial

  // Settings and scratch of the integration.
  int strongflag = 0;      // STRONG after ParsInit
  double rmax = 10.0;      // fm
  int nradial = 1000;      // radial steps
  std::string statename;   // state being integrated
  std::string pairtype;    // "PP"
  short ellmaxcopy = 1;

  // Combination tables [iq][i] (read-only after construction).
  std::vector<RadialTable> Ftriplet1;  // (u_3C2 - u_3P1)/2
  std::vector<RadialTable> Dtriplet1;  // (u_3C2 + u_3P1)/2 - u_NS
  std::vector<RadialTable> Ftriplet0;  // (u_3C2 - u_3P0)/3
  std::vector<RadialTable> Dtriplet0;  // (2 u_3C2 + u_3P0)/3 - u_NS
  std::vector<RadialTable> Dsinglet;   // u_1S0 - u_NS0
  // Phase phi at the origin of each state at each mesh point (delta + pi/2,
  // in [0, pi)); pi/2 means no phase shift.
  std::vector<double> phase_1S0, phase_3P0, phase_3P1, phase_NS, phase_3C2, phase_NS0;
  RadialTable uwork;  // nradial + 3 values: the recursion reaches index nradial + 2
  // Regular radial solutions of the mesh point last integrated.
  RadialTable u_3P0, u_3P1, u_3C2, u_1S0, u_NS, u_NS0;

 private:
  // Per-q factors of CalcPsiSquared, fixed at construction.
  struct QFactors {
    std::complex<double> eisigma0, eisigma1;  // e^(-i sigma_l) of the partial waves
    std::complex<double> s_singlet;           // S_1S0 - 1
    std::complex<double> d_triplet1;          // (S_3P1 + S_3C2)/2 - 1
    std::complex<double> f_triplet1;          // (S_3P1 - S_3C2)/2
    std::complex<double> d_triplet0;          // S_3P0/3 + 2 S_3C2/3 - 1
    std::complex<double> f_triplet0;          // (S_3C2 - S_3P0)/3
  };

  void Build(const char *parsfilename);
  void FillQFactors(int iq);

  PotentialFunction potential;
  std::vector<double> kwork;  // effective potential K(r_i), i = 1 ... nradial + 1
  std::vector<QFactors> qfactors;
};

#endif
