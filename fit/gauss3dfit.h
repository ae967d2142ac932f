#ifndef FEMTOKIT_FIT_GAUSS3DFIT_H
#define FEMTOKIT_FIT_GAUSS3DFIT_H

#include "fit/cf2sfit.h"

// The 3D Gaussian (CSourceCalc_Gaussian) fitted to a correlation function on
// a 3D mesh (x = out, y = side, z = long, pair rest frame) with every
// parameter of the model: names, steps (the starting errors) and ranges from
// its table (femtokit::Gauss3DModel()), values from the calculator. lambda,
// Rx, Ry and Rz are free; the offsets and Euler angles fixed (FreePar frees
// them: a turned source needs arrays without the symmetry its turn breaks).
// Cells whose error is 0 are not compared. The objects passed in must
// outlive the fit.
class CCF2SFit_Gauss3D : public CCF2SFit {
 public:
  CCF2SFit_Gauss3D(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory, CCHArray *ctheoryCH,
                   CCHArray *source, CKernel *kernel);
};

#endif
