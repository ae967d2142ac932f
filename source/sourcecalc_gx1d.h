#ifndef FEMTOKIT_SOURCE_SOURCECALC_GX1D_H
#define FEMTOKIT_SOURCE_SOURCECALC_GX1D_H

#include "source/sourcecalc.h"

// Isotropic source: a normalised Gaussian of one-particle radius R with weight
// lambdaG plus a normalised exponential tail of length X with weight lambdaX.
// Components of order L > 0 get the same profile times (r^2/(r^2+a^2))^(L/2).
class CSourceCalc_GX1D : public CSourceCalc {
 public:
  CSourceCalc_GX1D();
  void InitSPars();
  void SetSPars(double lambdaG, double R, double lambdaX, double X, double a);
  void CalcS(CCHArray *A) override;
  void CalcS(int lx, int ly, int lz, CCHArray *A) override;
};

#endif
