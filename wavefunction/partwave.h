#ifndef FEMTOKIT_WAVEFUNCTION_PARTWAVE_H
#define FEMTOKIT_WAVEFUNCTION_PARTWAVE_H

#include "config/constants.h"
#include <complex>
#include <vector>

// One incoming/outgoing radial partial wave of orbital angular momentum ell at a
// fixed relative momentum q, tabulated at r_i = (i + 0.5) delr, i = 0 ... nrmax,
// and linearly interpolated in between.
//   q1q2 != 0: incoming = e^(-i sigma)(F_l + i G_l), outgoing = e^(-i sigma)(F_l - i G_l);
//   q1q2 == 0: incoming = x h*_l(x), outgoing = x h_l(x), x = q r/HBARC.
class CPartWave {
 public:
  double sigma;                     // Coulomb phase arg Gamma(l + 1 + i eta); 0 without Coulomb
  std::complex<double> ci;          // (0, 1)
  double epsilon;                   // short-range radius of the owner, fm (kept only)
  double PI;
  int ell;
  int q1q2;                         // charge product; 0 means no Coulomb
  double q;                         // relative momentum, MeV/c
  double eta;                       // Sommerfeld parameter
  std::vector<std::complex<double>> phi;  // tabulated incoming wave, nrmax + 1 entries
  int nrmax;
  double delr;
  double lognorm;                   // ln C_l(eta) of the Coulomb functions; 0 without Coulomb
  // C_l phi at the same radii, filled where phi leaves the double range
  // (lognorm < -300, repulsive eta above about 95); empty otherwise.
  std::vector<std::complex<double>> phiscaled;

  static constexpr double HBARC = femtokit::constants::HBARC;

  CPartWave(double eta, int q1q2, double q, int ell, double epsilon);
  CPartWave(double eta, int q1q2, double q, int ell, double epsilon, int nrmax, double delr);

  void phi_init();
  std::complex<double> GetPhiIncoming(double r) const;
  std::complex<double> GetPhiOutgoing(double r) const;
  // C_l times the incoming wave, e^(-i sigma)(C_l^2 F/C_l + i G C_l): of order
  // one inside the turning point at any eta, where the wave itself (of order
  // 1/C_l) overflows. Without Coulomb the incoming wave itself.
  std::complex<double> GetPhiIncomingScaled(double r) const;

  // Extends the table (and phiscaled, where kept) to nrmax_new + 1 points (r
  // up to (nrmax_new + 0.5) delr) so that GetPhiIncoming and
  // GetPhiIncomingScaled are lookups that far; existing entries are kept. A
  // smaller nrmax_new changes nothing. Not to be called while another thread
  // reads the wave.
  void ExtendTable(int nrmax_new);

 private:
  std::complex<double> Direct(double r) const;        // incoming wave computed without the table
  std::complex<double> DirectScaled(double r) const;  // the same times C_l
  // Linear interpolation of a table at r_i = (i + 0.5) delr, i < nrmax.
  std::complex<double> Interpolate(const std::vector<std::complex<double>> &table, double r) const;

  double norm_ = 1.0;  // C_l = e^lognorm, where phiscaled is not kept
};

#endif
