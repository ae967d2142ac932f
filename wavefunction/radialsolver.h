#ifndef FEMTOKIT_WAVEFUNCTION_RADIALSOLVER_H
#define FEMTOKIT_WAVEFUNCTION_RADIALSOLVER_H

#include <vector>

#include "wavefunction/potential.h"

namespace femtokit {

// The regular solution of the radial Schroedinger equation with a local
// potential and Coulomb,
//   u'' = [twomu V(r) + 2 eta k/r + l(l+1)/r^2 - k^2] u,   k = q/hbar c,
// (twomu = 2 mu/(hbar c)^2 in MeV^-1 fm^-2, eta the Sommerfeld parameter of
// the Coulomb waves it is matched to; eta = 0 without Coulomb), integrated
// outward from r0 = 1e-6 fm, where it starts as r^(l+1)(1 + c1 r) (c1 from
// the 1/r parts of Coulomb and of V), by GSL's adaptive Runge-Kutta
// Prince-Dormand (8, 9) method at a relative tolerance of 1e-12. The
// integration stops and restarts at every discontinuity of V, so that no step
// straddles one. At the matching radius R, where V has decayed, it is matched
// to the Coulomb functions u = alpha F/C_l + beta G C_l (scaled functions), so
// tan(delta) = C_l^2 beta/alpha: the phase shift relative to the Coulomb waves.
struct RadialSolution {
  double delta = 0.0;  // phase shift, radians, in (-pi/2, pi/2]
  double h = 0.0;      // table step, fm: r_i = i h, i = 0 ... n, n h = R
  // The regular solution normalised to F cos(delta) + G sin(delta) beyond R,
  // and its r-derivative (fm^-1), at r_i. 0 where the normalisation
  // underflows (strongly repulsive Coulomb at the smallest q).
  std::vector<double> w, wp;
  // The same solution scaled by 1/C_l (finite at every eta) would be w/C_l.
};

class RadialSolver {
 public:
  // V null: no strong potential (the Coulomb or free regular wave).
  // rmatch (fm) must lie beyond V's range and be positive.
  RadialSolver(const LocalPotential *V, int l, double rmatch);

  // Solution with its table on a step of about h (fm; the step is R/ceil(R/h)).
  // Fatal (through the one error path) when the integration fails or the
  // solution does not match.
  RadialSolution Solve(double q, double eta, double twomu, double h) const;
  // The phase shift alone.
  double Phase(double q, double eta, double twomu) const;

  double GetRMatch() const { return rmatch_; }

 private:
  // Integrates from r0 to R, storing u and u' at n + 1 grid points when
  // table is not null; returns the phase and writes the normalisation
  // factor that turns u into w.
  double Integrate(double q, double eta, double twomu, int n, std::vector<double> *u, std::vector<double> *up,
                   double *factor) const;

  const LocalPotential *V_;
  int l_;
  double rmatch_;
  std::vector<double> breaks_;  // discontinuities of V inside (0, R)
};

// Hermite cubic of a table (value and derivative at r_i = i h) at r; r beyond
// the table takes the last cell.
inline double HermiteAt(const std::vector<double> &f, const std::vector<double> &fp, double h, double r) {
  const int n = static_cast<int>(f.size()) - 1;
  int i = static_cast<int>(r / h);
  if (i >= n) i = n - 1;
  if (i < 0) i = 0;
  const double t = r / h - i, t2 = t * t, t3 = t2 * t;
  const double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
  return h00 * f[i] + h10 * h * fp[i] + h01 * f[i + 1] + h11 * h * fp[i + 1];
}

}  // namespace femtokit

#endif
