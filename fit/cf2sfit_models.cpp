#include "fit/cf2sfit_models.h"

#include "config/parametermap.h"
#include "source/sourcecalc.h"

#include <initializer_list>

namespace {

struct ParDecl {
  const char *name;
  double fallback, error, xmin, xmax;
};

// Fills the records from the calculator's current values and seeds the
// matrices; the bounds are the fit's, narrowed to the model's own range.
void Declare(CCF2SFit &fit, std::initializer_list<ParDecl> decls) {
  int i = 0;
  for (const ParDecl &s : decls) {
    fit.par[i].Set(s.name, parameter::getD(fit.sourcecalc->spars, s.name, s.fallback), s.error, s.xmin, s.xmax);
    fit.StepMatrix[i][i] = s.error;
    fit.ErrorMatrix[i][i] = s.error * s.error;
    i++;
  }
  fit.NarrowBoundsToModel();
}

// Stores the pointers of a fit of one harmonic component, or of a 3D mesh,
// and runs Init for npars parameters.
void WireHarmonic(CCF2SFit &fit, int npars, CSourceCalc *scalc, CCHArray *cexp, CCHArray *cerror, CCHArray *ctheory,
                  CCHArray *source, CKernel *kernel) {
  fit.npars = npars;
  fit.ndim = 1;
  fit.sourcecalc = scalc;
  fit.cexpCH = cexp;
  fit.cerrorCH = cerror;
  fit.ctheoryCH = ctheory;
  fit.sourceCH = source;
  fit.kernel = kernel;
  fit.Init();
}

void WireMesh(CCF2SFit &fit, int npars, CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory,
              CCHArray *ctheoryCH, CCHArray *source, CKernel *kernel) {
  fit.npars = npars;
  fit.ndim = 3;
  fit.sourcecalc = scalc;
  fit.cexp3D = cexp;
  fit.cerror3D = cerror;
  fit.ctheory3D = ctheory;
  fit.ctheoryCH = ctheoryCH;
  fit.sourceCH = source;
  fit.kernel = kernel;
  fit.Init();
}

}  // namespace

CCF2SFit_GX1D::CCF2SFit_GX1D(CSourceCalc *scalc, CCHArray *cexp, CCHArray *cerror, CCHArray *ctheory,
                             CCHArray *source, CKernel *kernel_) {
  WireHarmonic(*this, 5, scalc, cexp, cerror, ctheory, source, kernel_);
  Declare(*this, {{"lambdaG", 0.3, 0.02, 0.0, 1.5},
                  {"R", 5.0, 0.2, 1.0, 12.0},
                  {"lambdaX", 0.3, 0.02, 0.0, 1.5},
                  {"X", 10.0, 0.4, 1.0, 25.0},
                  {"a", 5.0, 0.2, 1.0, 20.0}});
}

CCF2SFit_3DGaussian::CCF2SFit_3DGaussian(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory,
                                         CCHArray *ctheoryCH_, CCHArray *source, CKernel *kernel_) {
  WireMesh(*this, 5, scalc, cexp, cerror, ctheory, ctheoryCH_, source, kernel_);
  Declare(*this, {{"lambda", 0.5, 0.02, 0.0, 1.5},
                  {"Rx", 5.0, 0.2, 1.0, 12.0},
                  {"Ry", 5.0, 0.2, 1.0, 12.0},
                  {"Rz", 5.0, 0.2, 1.0, 12.0},
                  {"Xoff", 0.0, 0.2, -10.0, 10.0}});
}

CCF2SFit_Blast::CCF2SFit_Blast(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory,
                               CCHArray *ctheoryCH_, CCHArray *source, CKernel *kernel_) {
  WireMesh(*this, 4, scalc, cexp, cerror, ctheory, ctheoryCH_, source, kernel_);
  Declare(*this, {{"lambda", 1.0, 0.05, 0.0, 1.5},
                  {"R", 13.0, 0.5, 5.0, 20.0},
                  {"Tau", 12.0, 0.5, 5.0, 20.0},
                  {"DelTau", 5.0, 0.5, 0.0, 20.0}});
}

CCF2SFit_Levy::CCF2SFit_Levy(CSourceCalc *scalc, CCHArray *cexp, CCHArray *cerror, CCHArray *ctheory,
                             CCHArray *source, CKernel *kernel_) {
  WireHarmonic(*this, 3, scalc, cexp, cerror, ctheory, source, kernel_);
  Declare(*this, {{"lambda", 1.0, 0.02, 0.0, 1.5}, {"R", 5.0, 0.2, 0.5, 20.0}, {"alpha", 1.5, 0.05, 0.5, 2.0}});
}
