#include "fit/gauss3dfit.h"

#include <string>

#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

CCF2SFit_Gauss3D::CCF2SFit_Gauss3D(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory,
                                   CCHArray *ctheoryCH_, CCHArray *source, CKernel *kernel_) {
  const femtokit::SourceModel &model = femtokit::Gauss3DModel();
  npars = static_cast<int>(model.parameters.size());
  ndim = 3;
  sourcecalc = scalc;
  cexp3D = cexp;
  cerror3D = cerror;
  ctheory3D = ctheory;
  ctheoryCH = ctheoryCH_;
  sourceCH = source;
  kernel = kernel_;
  Init();
  for (int i = 0; i < npars; i++) {
    const femtokit::SourceParameter &p = model.parameters[static_cast<size_t>(i)];
    par[i].Set(p.name, femtokit::ReadChecked(scalc->spars, model, p), p.step, p.min, p.max);
    StepMatrix[i][i] = p.step;
    ErrorMatrix[i][i] = p.step * p.step;
  }
  NarrowBoundsToModel();
  // Fixed: everything but lambda and the radii, kept in the table's order.
  for (int i = npars - 1; i >= 0; i--) {
    const std::string name = model.parameters[static_cast<size_t>(i)].name;
    if (name != "lambda" && name != "Rx" && name != "Ry" && name != "Rz") FixPar(name);
  }
}
