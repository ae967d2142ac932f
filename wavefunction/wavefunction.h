#ifndef FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_H
#define FEMTOKIT_WAVEFUNCTION_WAVEFUNCTION_H

#include "config/constants.h"
#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "wavefunction/partwave.h"
#include "wavefunction/phaseshift_tables.h"
#include "wavefunction/planewave.h"

// Base of the two-particle relative wave functions. It reads the common
// settings, owns the q mesh, the per-q Coulomb plane waves and the per-(l, q)
// partial waves, and interpolates |psi|^2 in q. A pair is a subclass that
// fixes masses, charges and channels and overrides CalcPsiSquared.
//
// A subclass constructor runs, in order: ParsInit; set q1q2, m1, m2, ellmax,
// nchannels; InitArrays; fill ell; InitWaves; fill channelweight, delta,
// ddeltadq, Wepsilon. Afterwards the object is only read, so concurrent
// GetPsiSquared calls are safe as long as CalcPsiSquared keeps no scratch state.
//
// Tables are indexed like arrays: delta[ic][iq], partwave[l][iq]->...,
// planewave[iq]->....
class CWaveFunction {
 public:
  CWaveFunction();
  virtual ~CWaveFunction();
  CWaveFunction(const CWaveFunction &) = delete;
  CWaveFunction &operator=(const CWaveFunction &) = delete;

  // Supported q mesh: at most MAXNQ points, each within QMIN ... QMAX MeV/c.
  // Below 0.01 MeV/c even pion pairs have |psi|^2 ~ e^(-2 pi eta) < 1e-130
  // and eta/q overflows sooner or later; above 1 GeV/c the kernels carry no
  // femtoscopic information and the per-point plane-wave table (x = qr/hbarc
  // to r = 30 fm in steps of 0.01) would exceed 15000 entries.
  static constexpr double QMIN = 0.01;
  static constexpr double QMAX = 1000.0;
  static constexpr int MAXNQ = 10000;

  // Reads NQMAX, DELQ, EPSILON, COULOMB, STRONG and QARRAYFILENAME and builds
  // qarray: uniform bin centres for DELQ > 0, read from QARRAYFILENAME
  // ("count" then that many values) for DELQ < 0. Fatal, naming the file, for
  // DELQ 0 or not finite, a mesh outside the supported one (above), a mesh
  // file that is missing or short, whose words are not all finite numbers
  // (the position in the message), or whose points do not increase strictly,
  // and for plane-wave tables beyond the memory budget.
  // A missing EPSILON takes default_epsilon (fm); epsilon_given records
  // whether the file set it. While femtokit::MakeWaveFunction builds a wave
  // function on a kernel's mesh, that mesh replaces the file's NQMAX, DELQ
  // and QARRAYFILENAME.
  void ParsInit(const char *parsfilename, double default_epsilon = 1.0);
  void ParsInit(const std::string &parsfilename, double default_epsilon = 1.0) {
    ParsInit(parsfilename.c_str(), default_epsilon);
  }

  // Allocates eta, planewave, partwave (all null), delta, ddeltadq, Wepsilon,
  // ell and channelweight from nqmax, nchannels and ellmax.
  void InitArrays();
  // Fills eta and builds the plane wave of every mesh q and the partial wave of
  // every (l, q) used by a channel. The mesh points are shared among OpenMP
  // threads (the waves do not depend on their number). Fatal when a channel's
  // ell lies outside 0 ... ellmax, or when the partial-wave tables would
  // exceed the memory budget.
  void InitWaves();

  // |psi|^2 at mesh point iq. The base class answers 1.
  virtual double CalcPsiSquared(int iq, double r, double ctheta) const;

  // |psi|^2 at any q by linear interpolation between mesh points.
  double GetPsiSquared(double q, double r, double ctheta) const;
  // |psi|^2 for momentum (pa, pb) and space-time (xa, xb) four-vectors.
  double GetPsiSquared(const double *pa, const double *xa, const double *pb, const double *xb) const;

  // Relative momentum q, separation r and cos(angle) in the pair rest frame.
  void getqrctheta(const double *pa, const double *xa, const double *pb, const double *xb, double *q,
                   double *r, double *ctheta) const;

  // Boundary part of the energy-derivative identity for the squared radial
  // wave of order ell with phase shift delta (relative to the Coulomb waves)
  // at r = epsilon, for a q-independent reduced mass: IW = -B/q (see
  // InnerExcess). Without Coulomb and with delta = 0 it is
  // -(2/hbarc) int_0^epsilon (x j_ell(kr))^2 dr.
  double GetIW(int ell, double epsilon, double q, int q1q2, double eta, double delta) const;

  // T = (2/hbarc) int_0^R (u^2 - F^2) dr (1/(MeV/c)): the excess of the squared
  // regular radial wave u of order ell over the Coulomb one F_ell inside r < R,
  // for u = cos(delta) F + sin(delta) G beyond R (delta the phase shift relative
  // to the Coulomb waves, ddeltadq its q-derivative, eta at q). It follows from
  // the energy-derivative (Wronskian) identity for the regular wave at fixed
  // potential, with kappa = k eta (kappaprime = d kappa/dk = eta dln(mu)/dln(q)
  // for the q-dependent reduced energy mu of the waves):
  //   2k int_0^R u^2 dr = k ddelta/dk + x u_x^2 - u u_x - x u u_xx
  //                       + (k deta/dk)(u_x u_eta - u u_x,eta) + 2 kappa' int_0^R u^2/r dr,
  // k deta/dk = kappaprime - eta, x = kR, taken for u and for F (delta = 0).
  // The small interior term is estimated with an excess density ~ r^(2 ell).
  // eta = kappaprime = 0 is the identity without Coulomb.
  static double InnerExcess(int ell, double q, double R, double eta, double kappaprime, double delta,
                            double ddeltadq);

  // Fills delta and ddeltadq of one channel from a scattering length and an
  // effective range (fm).
  void EffectiveRange(int ichannel, double scattlength, double Reff);

  // Prints the estimate of the correlation function from phase-shift
  // derivatives for a Gaussian source of radii Rx, Ry, Rz (fm).
  void PrintCdelta(double Rx, double Ry, double Rz) const;

  // Largest |difference| of |psi|^2 between the inner and outer forms at
  // r = epsilon (just inside against just outside), over the mesh momenta and
  // five values of cos(theta). Near 0 when epsilon is where the two agree.
  double EpsilonJump() const;

  int GetNQMAX() const { return nqmax; }
  double GetEPSILON() const { return epsilon; }
  double GetDELQ() const { return delq; }
  double GetQ(int iq) const { return qarray[iq]; }

  // Extends the partial-wave and plane-wave tables so that |psi|^2 at every
  // separation up to rmax (fm) is a table lookup: beyond their default reach
  // (30 fm) the waves otherwise evaluate Coulomb or Bessel functions at every
  // call. Tables already reaching rmax are left alone; values inside the old
  // reach do not change. CKernel::Calc calls it with the kernel's reach. It is
  // the one operation that changes a built object: not to be called while
  // another thread evaluates it. Fails (fatal) for a negative or non-finite rmax.
  void TabulateTo(double rmax);

  // Channel tables at mesh point iq: phase shift (rad), its q-derivative
  // (rad per MeV/c) and the short-range correction density (rad per MeV/c
  // per fm^3, see FillWepsilon). Indices are not checked.
  int GetNChannels() const { return nchannels; }
  int GetEll(int ichannel) const { return ell[ichannel]; }
  double GetDelta(int ichannel, int iq) const { return delta[ichannel][iq]; }
  double GetDdeltadq(int ichannel, int iq) const { return ddeltadq[ichannel][iq]; }
  double GetWepsilon(int ichannel, int iq) const { return Wepsilon[ichannel][iq]; }
  double GetChannelWeight(int ichannel) const { return channelweight[ichannel]; }
  double GetEta(int iq) const { return eta[iq]; }
  double GetEpsilon() const { return epsilon; }
  bool GetSTRONG() const { return STRONG; }
  int GetQ1Q2() const { return q1q2; }

 private:
  // Reads the q-mesh file into nqmax and qarray.
  void ReadQMesh(const std::string &filename);
  // Fatal, naming `file`, when the plane-wave tables of the mesh exceed the memory budget.
  void CheckWaveTables(const std::string &file) const;

 protected:
  // Fills delta and ddeltadq of channels 0 ... table.nchannels-1 from the
  // table's half-MeV/c grid: a grid point (the last one included) gives the
  // table values, a q between grid points the interpolation of
  // femtokit::phaseshifts::InterpolatePhase with the channel's ell (phase and
  // slope consistent down to threshold). Mesh momenta beyond the table get 0
  // for both. Starts at mesh point iqfirst (earlier points are left as they are).
  void ReadPhaseShiftTable(const femtokit::phaseshifts::PhaseShiftTable &table, int iqfirst = 0);
  // Replaces the q mesh read by ParsInit (before InitArrays) by the given
  // points, as a mesh file would give them (delq = -1). Fatal, naming `what`,
  // for an empty mesh, more than MAXNQ points, points outside QMIN ... QMAX
  // or not strictly increasing.
  void SetQMesh(const std::vector<double> &q, const std::string &what);
  // Short-range correction density of every channel and mesh point,
  //   Wepsilon = InnerExcess/(4 pi epsilon^3/3),
  // the excess of the channel's squared radial wave inside r < epsilon over the
  // Coulomb (free) one, averaged over the sphere, for phases relative to the
  // Coulomb waves (or free waves without Coulomb). Fatal, naming the channel
  // and q, when it is not finite.
  void FillWepsilon();
  // For phases of the strong interaction alone (as a phase-shift analysis
  // without Coulomb gives them): the correction of each channel is the
  // strong-only one (InnerExcess without Coulomb) times the penetrability
  // C_l(eta) (CoulWave::Penetrability), and then delta and ddeltadq are
  // replaced by their Coulomb-corrected values (tan(delta) times the same
  // C_l). Differentiating the corrected phase instead is not consistent with
  // the Coulomb waves at small q. Without Coulomb (q1q2 = 0) it is FillWepsilon.
  void FillWepsilonAndCoulombCorrect();
  // d kappa/dk = eta dln(mu)/dln(q) at mesh point iq, mu = E1 E2/(E1 + E2).
  double KappaPrime(int iq) const;
  // Warns, naming the pair, EPSILON and q, when the ball average of |psi|^2
  // over r < epsilon is negative at some mesh point (the correction there
  // outweighs the Coulomb density: EPSILON inside the potential, or phase
  // shifts whose slope no potential outside EPSILON can give).
  void CheckInsideDensity(const char *pair) const;
  // C_epsilon = sum_c 2 pi channelweight[c] HBARC^3 Wepsilon[c][iq]/q^2: the
  // volume-averaged strong change of |psi|^2 inside epsilon at mesh point iq.
  double ShortRangeCorrection(int iq) const;

  std::vector<std::vector<double>> Wepsilon;  // [nchannels][nqmax]
  std::vector<std::vector<double>> delta;     // [nchannels][nqmax], radians
  std::vector<std::vector<double>> ddeltadq;  // [nchannels][nqmax], 1/(MeV/c)
  std::vector<double> eta;                    // [nqmax]
  std::vector<double> channelweight;          // [nchannels]
  std::vector<std::unique_ptr<CPlaneWave>> planewave;             // [nqmax]
  std::vector<std::vector<std::unique_ptr<CPartWave>>> partwave;  // [ellmax+1][nqmax], shared by l

  double PI = 3.141592653589793;
  std::complex<double> ci{0.0, 1.0};
  double HBARC = femtokit::constants::HBARC;  // MeV fm
  double MPI = femtokit::constants::MPI;
  double MKAON = femtokit::constants::MKAON;
  double MPROTON = femtokit::constants::MPROTON;
  double MLAMBDA = femtokit::constants::MLAMBDA;
  double MNEUTRON = femtokit::constants::MNEUTRON;

  std::vector<int> ell;  // [nchannels]
  int nchannels = 0;
  int q1q2 = 0;
  double m1 = 0.0, m2 = 0.0;
  double epsilon = 1.0;
  bool epsilon_given = false;  // EPSILON was set by the parameter file
  bool STRONG = true;
  bool COULOMB = true;
  int ellmax = 0;
  int nqmax = 0;
  double delq = 0.0;  // negative when the mesh was read from a file
  std::vector<double> qarray;
  // Radial points of the partial-wave tables built by InitWaves (0.01 fm apart);
  // beyond the table a partial wave evaluates the Coulomb functions directly.
  int partwave_nrmax = 3000;
};

#endif
