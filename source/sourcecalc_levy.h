#ifndef FEMTOKIT_SOURCE_SOURCECALC_LEVY_H
#define FEMTOKIT_SOURCE_SOURCECALC_LEVY_H

#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

// Isotropic Levy-stable source of the pair separation:
//   S(r) = lambda (2 pi)^-3 Int d^3k e^(i k.r) exp(-|k R|^alpha),   k in fm^-1,
// the pair distribution of two single-particle sources with characteristic
// function exp(-|kR|^alpha/2). alpha = 2 is the Gaussian
// (4 pi R^2)^(-3/2) exp(-r^2/4R^2), alpha = 1 the Cauchy form
// R/(pi^2 (r^2 + R^2)^2); for alpha < 2 the tail falls as r^-(3+alpha).
// S integrates to lambda over all space.
//
// Parameters (spars): lambda, R (fm), alpha in (0, 2]. Only the l = 0
// component is non-zero; every other component is written as 0.
//
// S(r) = lambda R^-3 f_alpha(r/R). The profile f_alpha is tabulated once per
// process (on first use, thread-safe) for 0.4 <= alpha <= 2 over ten decades
// of r/R and interpolated bicubically in alpha and ln(r/R); the
// table is built from convergent or asymptotic series where they hold and a
// quadrature along a rotated contour (no oscillation) elsewhere. Outside the
// table the same series or quadrature run per point (alpha < 0.4 is slow).
// The whole-array fill warns when more than 1e-3 of the norm lies beyond the
// array's r mesh, naming the reach that would hold it.
class CSourceCalc_Levy : public CSourceCalc {
 public:
  const femtokit::SourceModel *Model() const override { return &femtokit::LevyModel(); }
  CSourceCalc_Levy();
  // Writes the defaults lambda = 1, R = 5 fm, alpha = 1.5.
  void InitSPars();
  void SetSPars(double lambda, double R, double alpha);

  // Fills the l = 0 component with S(r) at the bin centres and zeroes the
  // rest. Fails (fatal) for R <= 0 or alpha outside (0, 2] (or non-finite).
  void CalcS(CCHArray *A) override;
  // Component (lx, ly, lz): S(r) for (0, 0, 0), zeros otherwise. Fails as above.
  void CalcS(int lx, int ly, int lz, CCHArray *A) override;

  // S(r) in fm^-3 at separation r (fm) with the current parameters. Fails as above.
  double Source(double r) const;
  // Fraction of the model's norm (lambda) at separations beyond rho (fm).
  double LostFraction(double rho) const;

  // Unit-scale profile f_alpha(x) = (2 pi^2 x)^-1 Int_0^inf t sin(x t) exp(-t^alpha) dt
  // (R = 1, lambda = 1, in units of R^-3) from the table where it holds.
  // Fails (fatal) for alpha outside (0, 2] or x < 0.
  static double Profile(double alpha, double x);
  // The same computed directly (series or quadrature, no table): slower, the
  // reference the table is built from.
  static double ProfileDirect(double alpha, double x);
  // Fraction of the unit profile's norm beyond x: Int_x^inf 4 pi y^2 f_alpha(y) dy.
  static double TailFraction(double alpha, double x);

  // Range of the table: alpha from kAlphaMin to 2, x/w(alpha) from kUMin to
  // kUMax, w the width of the profile's core (2 at alpha = 2, 0.009 at 0.4).
  static constexpr double kAlphaMin = 0.4;
  static constexpr double kUMin = 1e-4, kUMax = 3e4;

  // The unit profile of one alpha, with its per-alpha constants computed once
  // (what a fill uses for every bin). Fails (fatal) for alpha outside (0, 2].
  class Shape {
   public:
    explicit Shape(double alpha);
    double Profile(double x) const;       // f_alpha(x); fatal for x < 0
    double TailFraction(double x) const;  // Int_x^inf 4 pi y^2 f_alpha(y) dy
   private:
    double alpha, f0, width;
    bool tabulated;
  };

 private:
  void ReadPars(double &lambda, double &R, double &alpha) const;
  void CheckMeshReach(const CCHArray *A, double R, double alpha) const;
};

#endif
