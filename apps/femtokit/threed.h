// The 3D paths of the femtokit program: frames (PRF, LCMS), `cf --3d` and
// `fit -m gauss3d` on 3D correlation tables (fit/table3d.h).
#ifndef FEMTOKIT_APPS_FEMTOKIT_THREED_H
#define FEMTOKIT_APPS_FEMTOKIT_THREED_H

#include <cmath>

#include "apps/femtokit/cli.h"
#include "fit/table3d.h"

namespace fkcli {

// --frame prf|lcms with gamma_T given directly (--gamma-t) or from the pair's
// --kt or --mt and masses (--m1, --m2).
struct FrameOptions {
  std::string frame;  // "", "prf", "lcms"
  std::string m1, m2;
  double kt = NAN, mt = NAN, gammaT = -1.0;  // NaN: not given
};
void AddFrameOptions(CLI::App *sub, FrameOptions &o);
// gamma_T from the options (0 when none given); argument errors for an
// incomplete or contradictory set. A table's gamma_T (> 0) must agree with
// the options' to 1e-6 and is taken when they give none.
double ResolveGammaT(const FrameOptions &o, double tableGammaT);
// The frame the options ask for, or `otherwise` when they name none.
femtokit::Frame ResolveFrame(const FrameOptions &o, femtokit::Frame otherwise);

struct CF3DInputs {
  Common common;
  Settings settings;
  std::string model, events, kernel, kpars, out, projections;
  FrameOptions frame;
  int bins = 10;
  double width = 4.0;
};
// Fills the source model on the kernel's r mesh, transforms it through the
// kernel, and writes C on a 3D mesh of q_out, q_side, q_long in the asked
// frame as a 3D table (and the projections table).
void RunCF3D(const CF3DInputs &in);

struct Fit3DInputs {
  Common common;
  Settings settings;
  std::string kernel, kpars, table, minimiser, out, projections;
  std::vector<std::string> free, fix;
  FrameOptions frame;
  int iterations = -1;
};
// Fits the 3D Gaussian (lambda, Rx = R_out, Ry = R_side, Rz = R_long free;
// offsets and Euler angles fixed unless freed) to a 3D table.
void RunFit3D(const Fit3DInputs &in);

// Help text of the 3D options, for the subcommands' footers.
std::string ThreeDHelp();

}  // namespace fkcli

#endif
