#include "math/gslmatrix.h"

#include "config/fatal.h"

#include <gsl/gsl_complex_math.h>
#include <gsl/gsl_linalg.h>

#include <cmath>

namespace {

const double kPivotTolerance = 1e-13;

// Row pointers of a vector of rows.
template <class T>
std::vector<const T *> Rows(const std::vector<std::vector<T>> &A) {
  std::vector<const T *> rows(A.size());
  for (size_t i = 0; i < A.size(); i++) rows[i] = A[i].data();
  return rows;
}
template <class T>
std::vector<T *> Rows(std::vector<std::vector<T>> &A) {
  std::vector<T *> rows(A.size());
  for (size_t i = 0; i < A.size(); i++) rows[i] = A[i].data();
  return rows;
}

// Sizes the caller's vectors of rows to n x n.
template <class T>
void Shape(std::vector<std::vector<T>> &A, int n) {
  A.resize(static_cast<size_t>(n));
  for (auto &row : A) row.resize(static_cast<size_t>(n));
}

void CheckShape(size_t rows, size_t cols, int n, const char *what) {
  if (rows != static_cast<size_t>(n) || cols != static_cast<size_t>(n))
    femtokit::Fatal("%s: a %zu x %zu matrix given to a wrapper of dimension %d\n", what, rows, cols, n);
}

template <class T>
void CheckShape(const std::vector<std::vector<T>> &A, int n, const char *what) {
  for (const auto &row : A) CheckShape(A.size(), row.size(), n, what);
  if (A.empty()) CheckShape(0, 0, n, what);
}

// True when every pivot of the LU diagonal is finite and not below the
// tolerance relative to the largest.
template <class Abs>
bool PivotsFine(int n, Abs abspivot) {
  double biggest = 0.0;
  for (int i = 0; i < n; i++) {
    const double p = abspivot(i);
    if (!std::isfinite(p)) return false;
    biggest = std::fmax(biggest, p);
  }
  if (!(biggest > 0.0)) return false;
  for (int i = 0; i < n; i++)
    if (abspivot(i) <= kPivotTolerance * biggest) return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- real

CGSLMatrix_Real::CGSLMatrix_Real(int n) : n_(n) {
  femtokit::InitGSL();
  if (n < 1) femtokit::Fatal("CGSLMatrix_Real: dimension %d, must be at least 1\n", n);
}

void CGSLMatrix_Real::LoadA(const double *const *A) {
  if (!A_) A_.reset(gsl_matrix_alloc(n_, n_));
  for (int i = 0; i < n_; i++)
    for (int j = 0; j < n_; j++) gsl_matrix_set(A_.get(), i, j, A[i][j]);
}

bool CGSLMatrix_Real::SolveLinearEqs(const double *y, const double *const *A, double *x) {
  LoadA(A);
  if (!y_) y_.reset(gsl_vector_alloc(n_));
  if (!x_) x_.reset(gsl_vector_alloc(n_));
  if (!perm_) perm_.reset(gsl_permutation_alloc(n_));
  for (int i = 0; i < n_; i++) gsl_vector_set(y_.get(), i, y[i]);
  int sign = 0;
  if (gsl_linalg_LU_decomp(A_.get(), perm_.get(), &sign) != 0) return false;
  if (!PivotsFine(n_, [&](int i) { return std::fabs(gsl_matrix_get(A_.get(), i, i)); })) return false;
  if (gsl_linalg_LU_solve(A_.get(), perm_.get(), y_.get(), x_.get()) != 0) return false;
  for (int i = 0; i < n_; i++) x[i] = gsl_vector_get(x_.get(), i);
  return true;
}

bool CGSLMatrix_Real::SolveLinearEqs(const std::vector<double> &y, const Matrix &A, std::vector<double> &x) {
  CheckShape(A, n_, "CGSLMatrix_Real::SolveLinearEqs");
  CheckShape(y.size(), y.size(), n_, "CGSLMatrix_Real::SolveLinearEqs (right-hand side)");
  std::vector<double> solution(static_cast<size_t>(n_));
  if (!SolveLinearEqs(y.data(), Rows(A).data(), solution.data())) return false;
  x = solution;
  return true;
}

void CGSLMatrix_Real::Diagonalise(const double *const *A) {
  LoadA(A);
  if (!eigenWork_) eigenWork_.reset(gsl_eigen_symmv_alloc(n_));
  if (!eval_) eval_.reset(gsl_vector_alloc(n_));
  if (!evec_) evec_.reset(gsl_matrix_alloc(n_, n_));
  if (gsl_eigen_symmv(A_.get(), eval_.get(), evec_.get(), eigenWork_.get()) != 0)
    femtokit::Fatal("CGSLMatrix_Real::EigenFind: the eigen-decomposition did not converge\n");
}

void CGSLMatrix_Real::EigenFind(const double *const *A, double **evec, double *eval) {
  Diagonalise(A);
  for (int k = 0; k < n_; k++) {
    eval[k] = gsl_vector_get(eval_.get(), k);
    for (int i = 0; i < n_; i++) evec[i][k] = gsl_matrix_get(evec_.get(), i, k);
  }
}

void CGSLMatrix_Real::EigenFind(const Matrix &A, Matrix &evec, std::vector<double> &eval) {
  CheckShape(A, n_, "CGSLMatrix_Real::EigenFind");
  Shape(evec, n_);
  eval.resize(static_cast<size_t>(n_));
  EigenFind(Rows(A).data(), Rows(evec).data(), eval.data());
}

void CGSLMatrix_Real::Invert(const double *const *A, double **Ainv) {
  Diagonalise(A);
  for (int i = 0; i < n_; i++)
    for (int j = 0; j < n_; j++) {
      double sum = 0.0;
      for (int k = 0; k < n_; k++)
        sum += gsl_matrix_get(evec_.get(), i, k) * gsl_matrix_get(evec_.get(), j, k) / gsl_vector_get(eval_.get(), k);
      Ainv[i][j] = sum;
    }
}

void CGSLMatrix_Real::Invert(const Matrix &A, Matrix &Ainv) {
  CheckShape(A, n_, "CGSLMatrix_Real::Invert");
  Matrix result;
  Shape(result, n_);
  Invert(Rows(A).data(), Rows(result).data());
  Ainv = std::move(result);
}

// ------------------------------------------------------------- complex

namespace {
gsl_complex ToGSL(const std::complex<double> &z) { return gsl_complex_rect(z.real(), z.imag()); }
std::complex<double> FromGSL(const gsl_complex &z) { return {GSL_REAL(z), GSL_IMAG(z)}; }
}  // namespace

CGSLMatrix_Complex::CGSLMatrix_Complex(int n) : n_(n) {
  femtokit::InitGSL();
  if (n < 1) femtokit::Fatal("CGSLMatrix_Complex: dimension %d, must be at least 1\n", n);
}

void CGSLMatrix_Complex::LoadA(const Complex *const *A) {
  if (!A_) A_.reset(gsl_matrix_complex_alloc(n_, n_));
  for (int i = 0; i < n_; i++)
    for (int j = 0; j < n_; j++) gsl_matrix_complex_set(A_.get(), i, j, ToGSL(A[i][j]));
}

bool CGSLMatrix_Complex::SolveLinearEqs(const Complex *y, const Complex *const *A, Complex *x) {
  LoadA(A);
  if (!y_) y_.reset(gsl_vector_complex_alloc(n_));
  if (!x_) x_.reset(gsl_vector_complex_alloc(n_));
  if (!perm_) perm_.reset(gsl_permutation_alloc(n_));
  for (int i = 0; i < n_; i++) gsl_vector_complex_set(y_.get(), i, ToGSL(y[i]));
  int sign = 0;
  if (gsl_linalg_complex_LU_decomp(A_.get(), perm_.get(), &sign) != 0) return false;
  if (!PivotsFine(n_, [&](int i) { return gsl_complex_abs(gsl_matrix_complex_get(A_.get(), i, i)); })) return false;
  if (gsl_linalg_complex_LU_solve(A_.get(), perm_.get(), y_.get(), x_.get()) != 0) return false;
  for (int i = 0; i < n_; i++) x[i] = FromGSL(gsl_vector_complex_get(x_.get(), i));
  return true;
}

bool CGSLMatrix_Complex::SolveLinearEqs(const std::vector<Complex> &y, const Matrix &A, std::vector<Complex> &x) {
  CheckShape(A, n_, "CGSLMatrix_Complex::SolveLinearEqs");
  CheckShape(y.size(), y.size(), n_, "CGSLMatrix_Complex::SolveLinearEqs (right-hand side)");
  std::vector<Complex> solution(static_cast<size_t>(n_));
  if (!SolveLinearEqs(y.data(), Rows(A).data(), solution.data())) return false;
  x = solution;
  return true;
}

void CGSLMatrix_Complex::Diagonalise(const Complex *const *A) {
  LoadA(A);
  if (!eigenWork_) eigenWork_.reset(gsl_eigen_hermv_alloc(n_));
  if (!eval_) eval_.reset(gsl_vector_alloc(n_));
  if (!evec_) evec_.reset(gsl_matrix_complex_alloc(n_, n_));
  if (gsl_eigen_hermv(A_.get(), eval_.get(), evec_.get(), eigenWork_.get()) != 0)
    femtokit::Fatal("CGSLMatrix_Complex::EigenFind: the eigen-decomposition did not converge\n");
}

void CGSLMatrix_Complex::EigenFind(const Complex *const *A, Complex **evec, double *eval) {
  Diagonalise(A);
  for (int k = 0; k < n_; k++) {
    eval[k] = gsl_vector_get(eval_.get(), k);
    for (int i = 0; i < n_; i++) evec[i][k] = FromGSL(gsl_matrix_complex_get(evec_.get(), i, k));
  }
}

void CGSLMatrix_Complex::EigenFind(const Matrix &A, Matrix &evec, std::vector<double> &eval) {
  CheckShape(A, n_, "CGSLMatrix_Complex::EigenFind");
  Shape(evec, n_);
  eval.resize(static_cast<size_t>(n_));
  EigenFind(Rows(A).data(), Rows(evec).data(), eval.data());
}

void CGSLMatrix_Complex::Invert(const Complex *const *A, Complex **Ainv) {
  Diagonalise(A);
  for (int i = 0; i < n_; i++)
    for (int j = 0; j < n_; j++) {
      Complex sum = 0.0;
      for (int k = 0; k < n_; k++)
        sum += FromGSL(gsl_matrix_complex_get(evec_.get(), i, k)) *
               std::conj(FromGSL(gsl_matrix_complex_get(evec_.get(), j, k))) / gsl_vector_get(eval_.get(), k);
      Ainv[i][j] = sum;
    }
}

void CGSLMatrix_Complex::Invert(const Matrix &A, Matrix &Ainv) {
  CheckShape(A, n_, "CGSLMatrix_Complex::Invert");
  Matrix result;
  Shape(result, n_);
  Invert(Rows(A).data(), Rows(result).data());
  Ainv = std::move(result);
}
