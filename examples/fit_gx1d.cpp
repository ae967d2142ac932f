// Fits the main job's output: the weight lambdaG and radius R of the Gaussian
// source to the noisy correlation function in GX1d/pp with its errors in
// GX1d/pp_errors, as femtodriver writes them, through the same kernel.
//
//   fit_gx1d [parameter dir] [kernel dir] [output dir]
//
// The defaults are the main job's layout seen from its working directory
// (scripts/run.sh: run/work): ../parameters/pp, ../../kdata/pp and ".".
// Prints the parameter table; exits with status 1 when the fit is poor
// (chi^2/dof above 3).
#include <femtokit.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
  const std::string pars = argc > 1 ? argv[1] : "../parameters/pp";
  const std::string kdata = argc > 2 ? argv[2] : "../../kdata/pp";
  const std::string output = argc > 3 ? argv[3] : ".";
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);  // nothing per evaluation

  CKernel kernel(pars + "/kparameters.dat");
  kernel.Read(kdata);
  CCHArray cexp(pars + "/aparsCH_CF.dat"), cerror(pars + "/aparsCH_CF.dat"), ctheory(pars + "/aparsCH_CF.dat");
  CCHArray source(pars + "/aparsCH_source.dat");

  CSourceCalc_GX1D gauss;
  gauss.SetSPars(0.5, 4.0, 0.0, 10.0, 5.0);  // the start: a Gaussian, no exponential tail
  CCF2SFit_GX1D fit(&gauss, &cexp, &cerror, &ctheory, &source, &kernel);
  fit.ReadData(output + "/GX1d/pp", output + "/GX1d/pp_errors");
  for (const char *name : {"lambdaX", "X", "a"}) fit.FixPar(name);
  // Newton-Raphson until an iteration gains less than 0.01 in chi^2 (the status says so).
  for (int i = 0; i < 10; i++) {
    fit.Newton(2);
    if (fit.status.ok()) break;
  }

  std::fputs(fit.FitTable().c_str(), stdout);
  return fit.status.ok() && fit.chi2 < 3.0 * fit.GetNDOF() ? 0 : 1;
}
