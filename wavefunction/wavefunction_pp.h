#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PP_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_PP_H

#include <complex>
#include <map>
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
// of the plane and partial waves) is integrated from the origin outward to
// r = rmax (step h = rmax/nradial = 0.01 fm, Numerov) for the states 1S0
// (l = 0), 3P0, 3P1, 3C2 (l = 1; for J = 2 only the diagonal 3P2 element, the
// coupling to 3F2 is ignored) and two references without the strong
// potential, NS (l = 1) and NS0 (l = 0). Matched there to the Coulomb
// functions, u = A F + B G, it gives the phase shift, tan(delta) = B/A,
// relative to them; the stored radial tables are the regular solutions
// normalised to e^(i delta)(F cos delta + G sin delta) outside the potential.
//
// |psi|^2 outside r = epsilon is the antisymmetrised Coulomb wave with the
// S and P partial waves replaced through S = e^(-2 i delta); inside epsilon the
// partial waves are replaced by the integrated radial solutions themselves.
//
// Small q. Inside the Coulomb barrier F_l ~ C_l and G_l ~ 1/C_l, with C_0^2 the
// Gamow factor 2 pi eta/(e^(2 pi eta) - 1) (5e-30 at q = 0.3 MeV/c, below the
// double range under q = 0.03 MeV/c), and delta ~ C_l^2. So the phase shifts,
// the radial tables and |psi|^2 are all computed in units of these factors,
// where they are of order one at any q, and |psi|^2 is multiplied by the Gamow
// factor only at the end (0 where the product underflows). The mesh obeys the
// base class's supported range (from QMIN = 0.01 MeV/c, where |psi|^2 is 0 in
// double precision already); the numerics themselves hold down to 1e-6 MeV/c,
// where the Coulomb phase arg Gamma(1 + i eta) ~ eta ln eta starts to lose
// its digits in double.
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
  // tables; returns 1. The mesh points are shared among OpenMP threads (the
  // tables do not depend on their number); a failure at any point is fatal
  // after the loop.
  int Initialize();

  // Integrates one state at mesh point iq and stores its regular radial
  // solution and phase: which = 1 -> 3P0, 2 -> 3P1, 3 -> 1S0, 4 -> NS,
  // 5 -> 3C2, 6 -> NS0 (the l = 0 reference); other values store nothing.
  // strong = false integrates without the strong potential. Returns 1.
  int GetPsiNoneCoupledState(long iq, short ell, const char *name, short which, bool strong);

  // |psi|^2 at mesh point iq (thread-safe: reads the tables only): the
  // Gamow factor times CalcScaledPsiSquared; 0 where that underflows.
  double CalcPsiSquared(int iq, double r, double ctheta) const override;
  // |psi|^2 divided by the Gamow factor C_0^2 = 2 pi eta/(e^(2 pi eta) - 1) of
  // mesh point iq: of order one at any q (1/2 at r = 0 without the strong
  // interaction, the singlet's share), also where |psi|^2 itself underflows.
  double CalcScaledPsiSquared(int iq, double r, double ctheta) const;
  // ln of that Gamow factor (finite where the factor underflows).
  double GetLogGamow(int iq) const;

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

  // Combination tables [iq][i] (read-only after construction), in units of
  // C_l of their l (C_1 for the triplet tables, C_0 for the singlet one).
  std::vector<RadialTable> Ftriplet1;  // (u_3C2 - u_3P1)/2
  std::vector<RadialTable> Dtriplet1;  // (u_3C2 + u_3P1)/2 - u_NS
  std::vector<RadialTable> Ftriplet0;  // (u_3C2 - u_3P0)/3
  std::vector<RadialTable> Dtriplet0;  // (2 u_3C2 + u_3P0)/3 - u_NS
  std::vector<RadialTable> Dsinglet;   // u_1S0 - u_NS0
  // Phase phi of each state at each mesh point (delta + pi/2, in [0, pi));
  // pi/2 means no phase shift (also to double precision when delta ~ C_l^2
  // is below 1e-16, at q below about 0.5 MeV/c; the scaled S - 1 kept for
  // |psi|^2 holds it there).
  std::vector<double> phase_1S0, phase_3P0, phase_3P1, phase_NS, phase_3C2, phase_NS0;
  RadialTable uwork;  // nradial + 3 values (kept for callers; the integration uses its own scratch)
  // Regular radial solutions of the mesh point last integrated (0 where they
  // underflow, at the smallest q).
  RadialTable u_3P0, u_3P1, u_3C2, u_1S0, u_NS, u_NS0;

 private:
  // Per-q factors of CalcPsiSquared, fixed at construction; the S-matrix
  // combinations in units of C_l^2 of their l.
  struct QFactors {
    std::complex<double> eisigma0, eisigma1;  // e^(-i sigma_l) of the partial waves
    std::complex<double> s_singlet;           // S_1S0 - 1
    std::complex<double> d_triplet1;          // (S_3P1 + S_3C2)/2 - 1
    std::complex<double> f_triplet1;          // (S_3P1 - S_3C2)/2
    std::complex<double> d_triplet0;          // S_3P0/3 + 2 S_3C2/3 - 1
    std::complex<double> f_triplet0;          // (S_3C2 - S_3P0)/3
    double ratio1 = 1.0;                      // C_1/C_0 = sqrt(1 + eta^2)/3
    double gamow = 1.0, loggamow = 0.0;       // C_0^2 and its logarithm
  };

  // Work arrays of one radial integration; one set per thread.
  struct Scratch {
    std::vector<double> kwork;         // effective potential K(r_i), i = 1 ... nradial + 1
    std::vector<double> u;             // the regular solution being integrated, i = 0 ... nradial + 1
    std::vector<RadialTable> scaled;   // [which]: the last solution of each state over C_l
  };

  void Build(const char *parsfilename);
  void FillQFactors(int iq);
  // V(r_j) of a state at j = 1 ... nradial + 1 (it does not depend on q), computed once.
  const std::vector<double> &PotentialTable(const std::string &state);
  // The work of GetPsiNoneCoupledState for a valid which, with the potential
  // table V (null: no strong potential) and the scratch of the calling thread;
  // writes the phase and S - 1 of mesh point iq, and with publish the public
  // solution table of the state. Fatal when the solution does not match.
  void Integrate(int iq, int l, const char *name, int which, const std::vector<double> *V, Scratch &work,
                 bool publish);

  PotentialFunction potential;
  Scratch scratch_;  // of GetPsiNoneCoupledState
  std::vector<std::vector<std::complex<double>>> sminus1_;  // [which][iq]: (S - 1)/C_l^2
  std::map<std::string, std::vector<double>> potential_cache_;
  std::vector<QFactors> qfactors;
};

#endif
