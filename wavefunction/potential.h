#ifndef FEMTOKIT_WAVEFUNCTION_POTENTIAL_H
#define FEMTOKIT_WAVEFUNCTION_POTENTIAL_H

#include <memory>
#include <string>
#include <vector>

#include "config/parametermap.h"

namespace femtokit {

// A local, central strong potential V(r) (MeV, r in fm) of one channel of a
// pair. The form and its parameters come from the pair's parameter file under
// the channel's prefix P = "CHANNEL<i>_":
//
//   string P POTENTIAL   gauss | yukawa | hulthen | squarewell | woodssaxon | table | usmani
//   gauss        V = sum_n V<n> exp(-(r/BETA<n>)^2), n = 0 ... NTERMS-1:
//                int P NTERMS (default 1), double P V<n> (MeV), double P BETA<n> (fm, > 0)
//   yukawa       V = V exp(-MU r)/(MU r) + core
//   hulthen      V = V exp(-MU r)/(1 - exp(-MU r)) + core
//                double P V (MeV), double P MU (fm^-1, > 0); optional core
//                string P CORE gauss | exp with double P VCORE (MeV), P RCORE (fm, > 0):
//                VCORE exp(-(r/RCORE)^2) or VCORE exp(-r/RCORE)
//   squarewell   V for r < R, 0 beyond: double P V (MeV), P R (fm, > 0)
//   woodssaxon   V/(1 + exp((r - R)/DIFFUSENESS)): double P V, P R (fm, >= 0), P DIFFUSENESS (fm, > 0)
//   table        rows "r V" from string P POTENTIALFILE (a relative name is
//                taken from the parameter file's directory): 0 <= r <= 10000 fm
//                increasing by at least 1e-6 fm, |V| <= 1e8 MeV, at least 4 rows; a Steffen (monotone) cubic
//                spline in between, the first value below the first row, 0
//                beyond the last row, whose |V| must be at most 1e-4 of the
//                table's largest |V| (the potential has decayed there).
//   usmani       the p-Lambda potential of Bodmer, Usmani and Carlson
//                (Phys. Rev. C 29 (1984) 684):
//                V = Wc/(1 + exp((r - R)/a)) - (vbar - vsigma/4 sigma.sigma) T(r)^2,
//                Wc = 2137 MeV, R = 0.5 fm, a = 0.2 fm, vbar = 6.2 MeV, vsigma = 0.25 MeV,
//                T = (1 + 3/x + 3/x^2) exp(-x)/x (1 - exp(-c r^2))^2, x = 0.7 fm^-1 r, c = 2 fm^-2;
//                sigma.sigma = -3 in the spin singlet, +1 in the triplet (the
//                channel's S must be 0 or 1).
// Every number must be finite; keys a form does not take are not read.
class LocalPotential {
 public:
  enum class Form { Gauss, Yukawa, Hulthen, SquareWell, WoodsSaxon, Table, Usmani };

  // Reads the channel's potential from the parameter map (file names it in
  // messages; spin is the channel's total spin S). Fatal, naming file and
  // key, for an unknown form, a missing or out-of-range parameter and an
  // unreadable or malformed table.
  static LocalPotential FromParameters(const parameterMap &pars, const std::string &prefix, double spin,
                                       const std::string &file);
  // The tabulated form from a file (exposed for the fuzzing harness).
  static LocalPotential FromTableFile(const std::string &filename);

  // V(r) in MeV, r >= 0.
  double operator()(double r) const;
  // lim r V(r) as r -> 0 (MeV fm): the 1/r part of the Yukawa and Hulthen forms, 0 otherwise.
  double CoulombLikeStrength() const;
  // Radii where V jumps (the square well's edge, the table's end): the
  // radial integration stops and restarts there.
  std::vector<double> Discontinuities() const;
  // Radius beyond which |V| <= vtol (MeV): exact for the square well and the
  // table (V = 0 beyond), otherwise from a scan on 0.005 fm out to 200 fm.
  // Fatal, naming `file` when given, when the potential has not decayed to
  // vtol by 200 fm.
  double Range(double vtol, const std::string &file = std::string()) const;
  // One line describing form and parameters.
  std::string Describe() const;
  Form GetForm() const { return form_; }

 private:
  struct Spline;  // the table's interpolant (immutable, shared by copies)

  Form form_ = Form::Gauss;
  std::vector<double> v_, beta_;  // gauss terms
  double v0_ = 0.0, mu_ = 0.0, radius_ = 0.0, diffuseness_ = 0.0;
  int core_ = 0;  // 0 none, 1 Gaussian, 2 exponential
  double vcore_ = 0.0, rcore_ = 0.0;
  double sigmasigma_ = 0.0;  // usmani: sigma_Lambda . sigma_N
  std::string tablefile_;
  std::shared_ptr<const Spline> spline_;
};

}  // namespace femtokit

#endif
