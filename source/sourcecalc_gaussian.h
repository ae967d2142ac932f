#ifndef FEMTOKIT_SOURCE_SOURCECALC_GAUSSIAN_H
#define FEMTOKIT_SOURCE_SOURCECALC_GAUSSIAN_H

#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

// Three-dimensional Gaussian source of the pair separation r (fm), with
// radii Rx, Ry, Rz along its principal axes, centre (Xoff, Yoff, Zoff) and
// axes turned by the Euler angles (radians):
//   S(r) = lambda/((4 pi)^(3/2) Rx Ry Rz) exp((r - o)^T U D U^T (r - o)),
//   D = diag(-1/(4 Rx^2), -1/(4 Ry^2), -1/(4 Rz^2)),  U = Rz(psi) Ry(theta) Rz(phi),
// which integrates to lambda. Parameters (spars): lambda, Rx, Ry, Rz (fm),
// Xoff, Yoff, Zoff (fm), Euler_Phi, Euler_Theta, Euler_Psi (rad).
class CSourceCalc_Gaussian : public CSourceCalc {
 public:
  const femtokit::SourceModel *Model() const override { return &femtokit::Gauss3DModel(); }
  CSourceCalc_Gaussian();
  // Writes the defaults: lambda 1, radii 4 fm, offsets and angles 0.
  void InitSPars();
  // Each writes exactly the keys of its arguments.
  void SetSPars(double lambda, double Rx, double Ry, double Rz);
  void SetSPars(double lambda, double Rx, double Ry, double Rz, double Xoff, double Yoff, double Zoff);
  void SetSPars(double lambda, double Rx, double Ry, double Rz, double Xoff, double Yoff, double Zoff,
                double Euler_Phi, double Euler_Theta, double Euler_Psi);

  // The exponent F(r) = ln S(r) = sum_ij alpha[i][j] r_i r_j with r_0 = 1
  // (alpha[0][0] the constant, alpha[0][i] = alpha[i][0] the linear
  // coefficients counted once, alpha[i][j] for i, j >= 1 the quadratic form).
  // Fails (fatal) when the parameters break a symmetry of A: XSYM with Xoff,
  // Euler_Phi, Euler_Theta or Euler_Psi nonzero ("Xsym true, but Xoff,
  // Euler_phi, Euler_Theta or Euler_Psi !=0"), YSYM with Yoff, Euler_Phi or
  // Euler_Psi nonzero, ZSYM with Zoff or Euler_Theta nonzero (|.| > 1e-8).
  void CalcAlpha(double alpha[4][4], const CCHArray *A) const;

  using CSourceCalc::CalcS;
  // Overwrites every bin of A (every triple under its LMAX) with the harmonic
  // expansion of S on the sphere r = (ir + 1/2) RADSTEP, truncated at A's
  // LMAX: the projections onto the harmonics by a product rule in the frame
  // of the source's principal axes, with node counts set per shell by the
  // spread of the exponent over it, so the result is the exact expansion to
  // rounding (cost: bench/gauss3d_bench.cpp). Fails: the symmetry checks of
  // CalcAlpha.
  void CalcS(CCHArray *A) override;
  // The same expansion through exp of the exponent's harmonic series
  // (ArrayCalc::CalcAExpArrayFromXExpArray, rank 55; lx >= 2 completed by
  // FillRemainderX): the independent, much slower reference.
  void CalcS_Series(CCHArray *A);
  // Overwrites every cell of a 3D mesh with S at the cell centre, axis-aligned
  // (the Euler angles are not read) and without symmetry checks.
  // Both fills warn when more than 1e-3 of the norm lies outside the mesh.
  void CalcS(C3DArray *A);

  // Norm (in units of the source's integral times lambda) beyond the radius rho
  // (fm) of the Gaussian with exponent alpha (CalcAlpha).
  static double LostFraction(const double alpha[4][4], double rho);

 private:
  // The harmonic fills' warning when norm lies beyond A's reach.
  void WarnLostNorm(const double alpha[4][4], const CCHArray *A) const;
};

#endif
