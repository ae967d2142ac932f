#include "fit/cf2sfit_models.h"

#include "config/parametermap.h"
#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

#include <initializer_list>

namespace {

struct ParDecl {
  const char *name;
  double error, xmin, xmax;
};

// Fills the records from the calculator's current values (the model's
// defaults, from its table, where it has none) and seeds the matrices; the
// bounds are the fit's (tighter than the model's, where the fill is slow or
// the correlation flat), narrowed to the model's own range.
void Declare(CCF2SFit &fit, const femtokit::SourceModel &model, std::initializer_list<ParDecl> decls) {
  int i = 0;
  for (const ParDecl &s : decls) {
    const double fallback = model.Find(s.name)->def;
    fit.par[i].Set(s.name, parameter::getD(fit.sourcecalc->spars, s.name, fallback), s.error, s.xmin, s.xmax);
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
  Declare(*this, femtokit::GX1DModel(),
          {{"lambdaG", 0.02, 0.0, 1.5},
           {"R", 0.2, 1.0, 12.0},
           {"lambdaX", 0.02, 0.0, 1.5},
           {"X", 0.4, 1.0, 25.0},
           {"a", 0.2, 1.0, 20.0}});
}

CCF2SFit_3DGaussian::CCF2SFit_3DGaussian(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory,
                                         CCHArray *ctheoryCH_, CCHArray *source, CKernel *kernel_) {
  WireMesh(*this, 5, scalc, cexp, cerror, ctheory, ctheoryCH_, source, kernel_);
  Declare(*this, femtokit::Gauss3DModel(),
          {{"lambda", 0.02, 0.0, 1.5},
           {"Rx", 0.2, 1.0, 12.0},
           {"Ry", 0.2, 1.0, 12.0},
           {"Rz", 0.2, 1.0, 12.0},
           {"Xoff", 0.2, -10.0, 10.0}});
}

CCF2SFit_Blast::CCF2SFit_Blast(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory,
                               CCHArray *ctheoryCH_, CCHArray *source, CKernel *kernel_) {
  WireMesh(*this, 4, scalc, cexp, cerror, ctheory, ctheoryCH_, source, kernel_);
  Declare(*this, femtokit::BlastModel(),
          {{"lambda", 0.05, 0.0, 1.5}, {"R", 0.5, 5.0, 20.0}, {"Tau", 0.5, 5.0, 20.0}, {"DelTau", 0.5, 0.0, 20.0}});
}

CCF2SFit_Levy::CCF2SFit_Levy(CSourceCalc *scalc, CCHArray *cexp, CCHArray *cerror, CCHArray *ctheory,
                             CCHArray *source, CKernel *kernel_) {
  WireHarmonic(*this, 3, scalc, cexp, cerror, ctheory, source, kernel_);
  Declare(*this, femtokit::LevyModel(),
          {{"lambda", 0.02, 0.0, 1.5}, {"R", 0.2, 0.5, 20.0}, {"alpha", 0.05, 0.5, 2.0}});
}
