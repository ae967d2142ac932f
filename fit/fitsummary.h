#ifndef FEMTOKIT_FIT_FITSUMMARY_H
#define FEMTOKIT_FIT_FITSUMMARY_H

#include <string>
#include <vector>

#include "fit/cf2sfit.h"

namespace femtokit {

// What a fit found, at its current point: the numbers a report or a binding
// hands on, with the covariance restricted to the free parameters.
struct FitSummary {
  std::vector<std::string> names;  // every parameter, in the fit's order (free ones first)
  std::vector<double> values;      // every parameter's value
  std::vector<std::string> free;   // the free parameters (the first free.size() of names)
  // Errors (Delta chi^2 = 1), covariance and correlation of the free
  // parameters, in the order of free; empty unless status.errorsvalid.
  std::vector<double> errors;
  std::vector<std::vector<double>> covariance, correlation;
  double chi2 = 0.0;
  int ndof = 0;
  double pvalue = 0.0;  // P(chi^2_ndof >= chi2); NaN when ndof < 1
  FitStatus status;
  std::vector<std::string> atbound;  // free parameters sitting on a bound
  // The compared points: one-dimensional fits, the q bins whose error is
  // finite (q in MeV/c, qdim 1); 3D fits, the cells whose error is not 0
  // ((q_x, q_y, q_z) per point, qdim 3). curve: the best-fit C(q) (not C - 1)
  // there, after the fit's feed-down and smearing steps.
  int qdim = 1;
  std::vector<double> q;
  std::vector<double> curve;
  std::string table;  // CCF2SFit::FitTable()
};

// The summary of a fit at its current values: evaluates chi^2 there once (so
// that the model arrays hold the best-fit curve; the fit's values do not
// change). Fails as GetChiSquared fails.
FitSummary SummariseFit(CCF2SFit &fit);

// Upper tail probability of the chi^2 distribution with ndof degrees of
// freedom at chi2 (GSL's gsl_cdf_chisq_Q); NaN for ndof < 1 or a chi2 that is
// negative or not finite.
double ChiSquareProbability(double chi2, int ndof);

}  // namespace femtokit

#endif
