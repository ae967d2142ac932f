// The pieces of 'femtokit fit': its options, the measured data, the fit
// models from the source models' tables and the minimisation steps.
#ifndef FEMTOKIT_APPS_FEMTOKIT_FIT_H
#define FEMTOKIT_APPS_FEMTOKIT_FIT_H

#include "apps/femtokit/cli.h"
#include "apps/femtokit/threed.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

class CCF2SFit;
class CKernel;

namespace fkcli {

struct FitOptions {
  Common common;
  Settings settings;
  std::string kernel, kpars, data, errors, table, model = "gx1d", minimiser = "auto", feeddown, smearing, out;
  std::string units = "q/MeV";
  std::vector<std::string> free, fix, parents;
  int iterations = -1;
  double qmin = -1.0, qmax = -1.0;
  // gauss3d: a 3D table, its frame and the projections table.
  FrameOptions frame;
  std::string projections;
};

// Measured C(q) - 1 and errors of the (0,0,0) component on a bin-centred mesh
// of nq bins of dq MeV/c; bins without a measurement (rows the table leaves
// out, or outside --qmin/--qmax) have an infinite error and no weight.
struct Measured {
  std::vector<double> cm1, error;
  double dq = 0.0;
  int measured = 0;
};
// The data of --table (in the units of --units; on some of the kernel's bins
// or a bin-centred mesh of their own, of a spacing plausible against the
// kernel's) or of --data/--errors, cut to --qmin/--qmax. Library errors for
// unreadable data, argument errors for implausible units and empty ranges.
Measured ReadMeasured(const FitOptions &o, const CKernel &kernel);

// A fit parameter: the step (error) scale and the allowed range (the model's
// own range, from its table), and whether it is free.
struct FitPar {
  std::string name;
  double error, xmin, xmax;
  bool free;
};

// The models the fit knows: the parameters it fits, those free unless --fix,
// and starting values that differ from the model's defaults (with the reason
// in the help text).
struct FitModel {
  std::vector<std::string> fitted, freed;
  std::vector<std::pair<std::string, double>> start;
  const char *note;
};

const std::map<std::string, FitModel> &FitModels();
// The parameters of a fit from the model's table: steps and ranges.
std::vector<FitPar> FitParameters(const std::string &model, const FitModel &fm);
// The fit models' starting points and free parameters, from the tables.
std::string FitModelHelp();

// Runs the minimisers as --minimiser and --iterations ask (a Levy fit with
// alpha free from two starts); returns how, for the table's header.
std::string Minimise(CCF2SFit &fit, const FitOptions &o);

}  // namespace fkcli

#endif
