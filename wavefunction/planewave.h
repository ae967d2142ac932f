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
  double delx;                         // table step in x, 0.01 (0.01/|eta| with Coulomb and |eta| > 1)
  int q1q2;                            // charge product; 0 means the free plane wave
  int nxmax;                           // last table index
  std::complex<double> cfact;          // e^(-pi eta/2) Gamma(1 + i eta)
  std::complex<double> cphase;         // e^(i sigma_0) = cfact/|cfact|, also where cfact underflows
  double lognorm;                      // ln |cfact| = ln C_0(eta) (half the log of the Gamow factor)
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

  // Kummer's M(a, b, z) for this object's a = -i eta, b = 1: power series,
  // summed to full double precision, for |z| < max(10, eta) (message
  // "hyper not coverging!." if 2000 terms do not get there); asymptotic
  // expansion beyond. (For eta above about 2 the five-term expansion is poor
  // between |z| = 10 and about eta^2, that is beyond r = 1000 fm at q = 1 MeV/c.)
  std::complex<double> hyper(std::complex<double> a, std::complex<double> b, std::complex<double> z) const;

  // psi(r, ctheta) = e^(i q r ctheta/HBARC) conj(cfact M(-i eta, 1, i q r (1 + ctheta)/HBARC)).
  // For a large repulsive eta it is of order C_0 = e^lognorm and underflows
  // like it (C_0^2 < 1e-308 below q = 0.03 MeV/c for protons); planewave_scaled
  // is the same wave divided by C_0.
  std::complex<double> planewave(double r, double ctheta) const;

  // Extends the Kummer-function table to the argument xmax (a wave at
  // separations up to r needs xmax = 2 q r/HBARC), keeping the existing
  // entries; nothing changes when it already reaches xmax or when q1q2 = 0
  // (the free wave reads no table). Not to be called while another thread
  // reads the wave.
  void ExtendTable(double xmax);
  // psi(r, ctheta)/C_0 = e^(i q r ctheta/HBARC) conj(cphase M(-i eta, 1, i q r (1 + ctheta)/HBARC)):
  // modulus 1 at r = 0, finite at every eta. Without Coulomb the plane wave itself.
  std::complex<double> planewave_scaled(double r, double ctheta) const;

 private:
  // M(-i eta, 1, i x) from the table where it holds x, directly elsewhere.
  std::complex<double> Kummer(double x) const;
  // e^(i q r ctheta/HBARC) conj(c M(-i eta, 1, i q r (1 + ctheta)/HBARC)).
  std::complex<double> Distorted(std::complex<double> c, double r, double ctheta) const;
};

#endif
