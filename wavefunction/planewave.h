#ifndef FEMTOKIT_WAVEFUNCTION_PLANEWAVE_H
#define FEMTOKIT_WAVEFUNCTION_PLANEWAVE_H

#include "config/constants.h"
#include <complex>
#include <vector>

// The Coulomb-distorted plane wave of relative momentum q (or the free plane
// wave when q1q2 = 0), through Kummer's function M(-i eta, 1, i x) tabulated at
// x_j = (j + 0.5) delx, j = 0 ... nxmax.
class CPlaneWave {
 public:
  double PI;
  std::complex<double> ci;             // (0, 1)
  double delx;                         // table step in x, 0.01
  int q1q2;                            // charge product; 0 means the free plane wave
  int nxmax;                           // last table index
  std::complex<double> cfact;          // e^(-pi eta/2) Gamma(1 + i eta)
  std::complex<double> inv_gamma_bma;  // 1/Gamma(1 + i eta)
  std::complex<double> inv_gamma_a;    // 1/Gamma(-i eta)
  std::complex<double> seriesratio[41];  // Kummer-series term ratios without z, n = 1 ... 40
  std::complex<double> asymA[6];       // large-|z| coefficients (a)_n (1+a-b)_n/n!, n = 1 ... 5
  std::complex<double> asymB[6];       // large-|z| coefficients (b-a)_n (1-a)_n/n!, n = 1 ... 5
  double q;                            // relative momentum, MeV/c
  double eta;                          // Sommerfeld parameter
  std::vector<std::complex<double>> hyperarray;  // M(-i eta, 1, i x_j), nxmax + 1 entries

  static constexpr double HBARC = femtokit::constants::HBARC;

  CPlaneWave(double eta, int q1q2, double q);

  // Kummer's M(a, b, z) for this object's a = -i eta, b = 1: power series for
  // |z| < 10 (message "hyper not coverging!." if 40 terms do not reach 1e-5),
  // asymptotic expansion for |z| >= 10.
  std::complex<double> hyper(std::complex<double> a, std::complex<double> b, std::complex<double> z) const;

  // psi(r, ctheta) = e^(i q r ctheta/HBARC) conj(cfact M(-i eta, 1, i q r (1 + ctheta)/HBARC)).
  std::complex<double> planewave(double r, double ctheta) const;

  // Extends the Kummer-function table to the argument xmax (a wave at
  // separations up to r needs xmax = 2 q r/HBARC), keeping the existing
  // entries; nothing changes when it already reaches xmax or when q1q2 = 0
  // (the free wave reads no table). Not to be called while another thread
  // reads the wave.
  void ExtendTable(double xmax);
};

#endif
