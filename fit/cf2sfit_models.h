#ifndef FEMTOKIT_FIT_CF2SFIT_MODELS_H
#define FEMTOKIT_FIT_CF2SFIT_MODELS_H

#include "fit/cf2sfit.h"

// Ready-made fits: each wires a CCF2SFit to a source calculator, the
// correlation arrays, the source array and the kernel, declares the model's
// parameters (starting from the calculator's current values, or the model's
// defaults from its table where the calculator has none) and seeds
// StepMatrix = diag(error), ErrorMatrix = diag(error^2), so any minimiser
// can run at once. Nothing is validated here: a start outside the bounds
// stays the start. The objects passed in must outlive the fit.

// One harmonic component (SetL; (0,0,0) by default) of a correlation
// function held as CCHArrays, for CSourceCalc_GX1D. Parameters (error, range):
//   lambdaG (0.02, 0 .. 1.5), R (0.2 fm, 1 .. 12), lambdaX (0.02, 0 .. 1.5),
//   X (0.4 fm, 1 .. 25), a (0.2 fm, 1 .. 20).
// The main job's output is fitted with ReadData("GX1d/pp", "GX1d/pp_errors").
class CCF2SFit_GX1D : public CCF2SFit {
 public:
  CCF2SFit_GX1D(CSourceCalc *scalc, CCHArray *cexp, CCHArray *cerror, CCHArray *ctheory, CCHArray *source,
                CKernel *kernel);
};

// A correlation function on a 3D mesh, for CSourceCalc_Gaussian (the
// harmonic fill; ctheoryCH receives the transform, ctheory its 3D form).
// Parameters: lambda (0.02, 0 .. 1.5), Rx, Ry, Rz (0.2 fm, 1 .. 12),
// Xoff (0.2 fm, -10 .. 10); the calculator's other keys are not fitted.
// With a symmetric source array Xoff must stay 0: fix it.
class CCF2SFit_3DGaussian : public CCF2SFit {
 public:
  CCF2SFit_3DGaussian(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory, CCHArray *ctheoryCH,
                      CCHArray *source, CKernel *kernel);
};

// A correlation function on a 3D mesh, for CSourceCalc_Blast (the fill is
// Monte-Carlo from the calculator's own generator). Parameters (error, range):
//   lambda (0.05, 0 .. 1.5), R (0.5 fm, 5 .. 20), Tau (0.5 fm/c, 5 .. 20),
//   DelTau (0.5 fm/c, 0 .. 20); the calculator's other keys are not fitted.
class CCF2SFit_Blast : public CCF2SFit {
 public:
  CCF2SFit_Blast(CSourceCalc *scalc, C3DArray *cexp, C3DArray *cerror, C3DArray *ctheory, CCHArray *ctheoryCH,
                 CCHArray *source, CKernel *kernel);
};

// One harmonic component (the angle-averaged one, (0,0,0)) of a correlation
// function, for CSourceCalc_Levy. Parameters (error, range):
//   lambda (0.02, 0 .. 1.5), R (0.2 fm, 0.5 .. 20), alpha (0.05, 0.5 .. 2).
// alpha = 2 is the Gaussian limit; the Levy source refuses alpha outside
// (0, 2], so the range keeps every trial valid.
class CCF2SFit_Levy : public CCF2SFit {
 public:
  CCF2SFit_Levy(CSourceCalc *scalc, CCHArray *cexp, CCHArray *cerror, CCHArray *ctheory, CCHArray *source,
                CKernel *kernel);
};

#endif
