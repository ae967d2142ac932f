#include "config/fatal.h"
#include "math/gslmatrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {
using RMatrix = CGSLMatrix_Real::Matrix;
using CMatrix = CGSLMatrix_Complex::Matrix;
using C = std::complex<double>;
}  // namespace

TEST(GSLMatrixReal, InverseOfIdentityDiagonalAndSymmetricMatrices) {
  CGSLMatrix_Real m(3);
  RMatrix inv;
  m.Invert(RMatrix{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, inv);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) EXPECT_NEAR(inv[i][j], i == j, 1e-15);
  m.Invert(RMatrix{{2, 0, 0}, {0, 0.25, 0}, {0, 0, -4}}, inv);
  EXPECT_NEAR(inv[0][0], 0.5, 1e-15);
  EXPECT_NEAR(inv[1][1], 4.0, 1e-14);
  EXPECT_NEAR(inv[2][2], -0.25, 1e-15);
  const RMatrix A = {{4, 1, 0.5}, {1, 3, -0.2}, {0.5, -0.2, 2}};
  m.Invert(A, inv);  // the same wrapper, its GSL objects reused
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      double s = 0;
      for (int k = 0; k < 3; k++) s += A[i][k] * inv[k][j];
      EXPECT_NEAR(s, i == j, 1e-14);
    }
  // The row-pointer form, in place.
  std::vector<double> r0 = {2, 1}, r1 = {1, 2};
  double *rows[2] = {r0.data(), r1.data()};
  CGSLMatrix_Real(2).Invert(rows, rows);
  EXPECT_NEAR(r0[0], 2.0 / 3, 1e-15);
  EXPECT_NEAR(r0[1], -1.0 / 3, 1e-15);
  // A zero eigenvalue: non-finite entries, no abort.
  m.Invert(RMatrix{{1, 0, 0}, {0, 0, 0}, {0, 0, 1}}, inv);
  EXPECT_FALSE(std::isfinite(inv[1][1]));
}

TEST(GSLMatrixReal, EigenvectorsStandInTheColumns) {
  CGSLMatrix_Real m(2);
  RMatrix evec;
  std::vector<double> eval;
  const RMatrix A = {{2, 1}, {1, 2}};
  m.EigenFind(A, evec, eval);
  EXPECT_NEAR(std::min(eval[0], eval[1]), 1.0, 1e-14);
  EXPECT_NEAR(std::max(eval[0], eval[1]), 3.0, 1e-14);
  for (int k = 0; k < 2; k++) {
    EXPECT_NEAR(evec[0][k] * evec[0][k] + evec[1][k] * evec[1][k], 1.0, 1e-14);
    for (int i = 0; i < 2; i++)
      EXPECT_NEAR(A[i][0] * evec[0][k] + A[i][1] * evec[1][k], eval[k] * evec[i][k], 1e-14);
  }
}

TEST(GSLMatrixReal, SolveLeavesInputsAndReportsSingularSystems) {
  CGSLMatrix_Real m(3);
  const RMatrix A = {{0, 2, 1}, {1, 1, 0}, {3, 0, 1}};  // needs pivoting
  const std::vector<double> y = {3, 2, 4};
  RMatrix Acopy = A;
  std::vector<double> ycopy = y, x;
  ASSERT_TRUE(m.SolveLinearEqs(y, A, x));
  EXPECT_EQ(A, Acopy);
  EXPECT_EQ(y, ycopy);
  for (int i = 0; i < 3; i++) EXPECT_NEAR(A[i][0] * x[0] + A[i][1] * x[1] + A[i][2] * x[2], y[i], 1e-14);
  // Exactly singular, and singular only to rounding (a parameter without
  // effect: zero diagonal, off-diagonals of 1e-13 from finite differences).
  std::vector<double> keep = {7, 7, 7};
  EXPECT_FALSE(m.SolveLinearEqs(y, RMatrix{{1, 2, 3}, {2, 4, 6}, {1, 0, 1}}, keep));
  EXPECT_FALSE(m.SolveLinearEqs(y, RMatrix{{200, 1e-13, 0}, {1e-13, 0, 2e-13}, {0, 2e-13, 800}}, keep));
  EXPECT_EQ(keep, (std::vector<double>{7, 7, 7}));
  EXPECT_FALSE(m.SolveLinearEqs(y, RMatrix{{NAN, 0, 0}, {0, 1, 0}, {0, 0, 1}}, keep));
  // Widely different but regular scales are fine.
  EXPECT_TRUE(m.SolveLinearEqs(y, RMatrix{{1e6, 0, 0}, {0, 1, 0}, {0, 0, 1e-6}}, keep));
  EXPECT_NEAR(keep[2], 4e6, 1e-6);
}

TEST(GSLMatrixComplex, HermitianEigenInverseAndSolve) {
  CGSLMatrix_Complex m(2);
  const CMatrix A = {{C(2, 0), C(0, 1)}, {C(0, -1), C(2, 0)}};
  CMatrix evec, inv;
  std::vector<double> eval;
  m.EigenFind(A, evec, eval);
  EXPECT_NEAR(std::min(eval[0], eval[1]), 1.0, 1e-14);
  EXPECT_NEAR(std::max(eval[0], eval[1]), 3.0, 1e-14);
  for (int k = 0; k < 2; k++)
    for (int i = 0; i < 2; i++) EXPECT_NEAR(std::abs(A[i][0] * evec[0][k] + A[i][1] * evec[1][k] - eval[k] * evec[i][k]), 0, 1e-14);
  m.Invert(A, inv);
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 2; j++) EXPECT_NEAR(std::abs(A[i][0] * inv[0][j] + A[i][1] * inv[1][j] - C(i == j, 0)), 0, 1e-14);
  const CMatrix B = {{C(1, 1), C(2, 0)}, {C(0, -1), C(1, 0)}};
  const std::vector<C> y = {C(1, 0), C(0, 2)};
  std::vector<C> x;
  ASSERT_TRUE(m.SolveLinearEqs(y, B, x));
  for (int i = 0; i < 2; i++) EXPECT_NEAR(std::abs(B[i][0] * x[0] + B[i][1] * x[1] - y[i]), 0, 1e-14);
  EXPECT_FALSE(m.SolveLinearEqs(y, CMatrix{{C(1, 1), C(2, 2)}, {C(2, 2), C(4, 4)}}, x));
}

TEST(GSLMatrix, WrongDimensionsAreErrors) {
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  EXPECT_THROW(CGSLMatrix_Real(0), femtokit::Error);
  EXPECT_THROW(CGSLMatrix_Complex(-1), femtokit::Error);
  CGSLMatrix_Real m(2);
  RMatrix inv;
  EXPECT_THROW(m.Invert(RMatrix{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, inv), femtokit::Error);
  std::vector<double> x;
  EXPECT_THROW(m.SolveLinearEqs({1, 2, 3}, RMatrix{{1, 0}, {0, 1}}, x), femtokit::Error);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}
