#ifndef FEMTOKIT_SOURCE_SOURCECALC_GX1D_H
#define FEMTOKIT_SOURCE_SOURCECALC_GX1D_H

#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

// Isotropic source: a normalised Gaussian of one-particle radius R with weight
// lambdaG plus a normalised exponential tail of length X with weight lambdaX.
// Components of order L > 0 get the same profile times (r^2/(r^2+a^2))^(L/2).
// Parameters (spars): lambdaG, R (fm), lambdaX, X (fm), a (fm).
// The whole-array fill warns when more than 1e-3 of the norm lies beyond the
// array's r mesh, naming the reach that would hold it.
class CSourceCalc_GX1D : public CSourceCalc {
 public:
  const femtokit::SourceModel *Model() const override { return &femtokit::GX1DModel(); }
  CSourceCalc_GX1D();
  void InitSPars();
  void SetSPars(double lambdaG, double R, double lambdaX, double X, double a);
  void CalcS(CCHArray *A) override;
  void CalcS(int lx, int ly, int lz, CCHArray *A) override;

  // The angle-averaged source S_000 (fm^-3) at n separations r (fm) into S.
  // Fails (fatal) as the parameters are read (a value outside its range).
  void Source(const double *r, int n, double *S) const;
  // Fraction of the model's norm (lambdaG + lambdaX) at r > rho (fm).
  double LostFraction(double rho) const;

 private:
  struct Profile {
    double lambdaG, R, lambdaX, X, a;
  };
  Profile GetProfile() const;
  // The L = 0 profile at the bin centres (ir + 0.5) delr, ir < n, into S.
  static void FillProfile(const Profile &p, double delr, int n, double *S);
  // S = S0 times the order-L factor (r^2/(r^2+a^2))^(L/2); S may be S0.
  static void ApplyOrder(const Profile &p, int L, double delr, int n, const double *S0, double *S);
  // Warns when the array's r mesh leaves more than kLostNormTolerance out.
  void CheckMeshReach(const CCHArray *A) const;
};

#endif
