#ifndef FEMTOKIT_MATH_GSLMATRIX_H
#define FEMTOKIT_MATH_GSLMATRIX_H

#include <gsl/gsl_eigen.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_permutation.h>
#include <gsl/gsl_vector.h>

#include <complex>
#include <memory>
#include <vector>

// Dense linear algebra of a fixed dimension n over GSL, for matrices held as
// row-pointer arrays (A[i][j], row i, column j) or as vectors of rows. The
// caller's arrays are copied into GSL objects, which each wrapper allocates
// on first use and reuses in later calls; inputs are never changed. Not safe
// to share between threads (the work objects are reused).
//
// Singular systems never abort: SolveLinearEqs reports them, and Invert
// leaves non-finite entries where an eigenvalue is 0.
class CGSLMatrix_Real {
 public:
  using Matrix = std::vector<std::vector<double>>;

  // Fails: n < 1 (fatal).
  explicit CGSLMatrix_Real(int n);
  int GetDim() const { return n_; }

  // Solves A x = y for x by LU decomposition with partial pivoting. Returns
  // false, leaving x unchanged, when A is singular: a pivot that is zero,
  // not finite, or below 1e-13 of the largest pivot in magnitude (a matrix
  // singular up to rounding).
  bool SolveLinearEqs(const double *y, const double *const *A, double *x);
  bool SolveLinearEqs(const std::vector<double> &y, const Matrix &A, std::vector<double> &x);

  // Eigen-decomposition of the symmetric A (only its lower triangle is read):
  // eval[k] is the k-th eigenvalue and evec[i][k] component i of the k-th
  // unit eigenvector (eigenvectors in the columns), in GSL's order (unsorted).
  void EigenFind(const double *const *A, double **evec, double *eval);
  void EigenFind(const Matrix &A, Matrix &evec, std::vector<double> &eval);

  // Spectral inverse of the symmetric A: Ainv = sum_k v_k v_k^T / eval_k.
  // A zero eigenvalue gives non-finite entries. Ainv may be A.
  void Invert(const double *const *A, double **Ainv);
  void Invert(const Matrix &A, Matrix &Ainv);

 private:
  struct Free {
    void operator()(gsl_matrix *m) const { gsl_matrix_free(m); }
    void operator()(gsl_vector *v) const { gsl_vector_free(v); }
    void operator()(gsl_permutation *p) const { gsl_permutation_free(p); }
    void operator()(gsl_eigen_symmv_workspace *w) const { gsl_eigen_symmv_free(w); }
  };
  void LoadA(const double *const *A);
  void Diagonalise(const double *const *A);
  int n_;
  std::unique_ptr<gsl_eigen_symmv_workspace, Free> eigenWork_;
  std::unique_ptr<gsl_vector, Free> eval_;
  std::unique_ptr<gsl_matrix, Free> evec_;
  std::unique_ptr<gsl_vector, Free> x_;
  std::unique_ptr<gsl_permutation, Free> perm_;
  std::unique_ptr<gsl_matrix, Free> A_;
  std::unique_ptr<gsl_vector, Free> y_;
};

// The same for complex matrices; the eigen-decomposition and inverse are for
// Hermitian A (eigenvalues real), Ainv = sum_k v_k v_k^H / eval_k.
class CGSLMatrix_Complex {
 public:
  using Complex = std::complex<double>;
  using Matrix = std::vector<std::vector<Complex>>;

  // Fails: n < 1 (fatal).
  explicit CGSLMatrix_Complex(int n);
  int GetDim() const { return n_; }

  // Solves A x = y; false (x unchanged) when A is singular, as for the real form.
  bool SolveLinearEqs(const Complex *y, const Complex *const *A, Complex *x);
  bool SolveLinearEqs(const std::vector<Complex> &y, const Matrix &A, std::vector<Complex> &x);
  // Hermitian A (lower triangle read): eval[k] real, evec[i][k] component i of
  // the k-th unit eigenvector.
  void EigenFind(const Complex *const *A, Complex **evec, double *eval);
  void EigenFind(const Matrix &A, Matrix &evec, std::vector<double> &eval);
  void Invert(const Complex *const *A, Complex **Ainv);
  void Invert(const Matrix &A, Matrix &Ainv);

 private:
  struct Free {
    void operator()(gsl_matrix_complex *m) const { gsl_matrix_complex_free(m); }
    void operator()(gsl_vector_complex *v) const { gsl_vector_complex_free(v); }
    void operator()(gsl_vector *v) const { gsl_vector_free(v); }
    void operator()(gsl_permutation *p) const { gsl_permutation_free(p); }
    void operator()(gsl_eigen_hermv_workspace *w) const { gsl_eigen_hermv_free(w); }
  };
  void LoadA(const Complex *const *A);
  void Diagonalise(const Complex *const *A);
  int n_;
  std::unique_ptr<gsl_eigen_hermv_workspace, Free> eigenWork_;
  std::unique_ptr<gsl_vector, Free> eval_;
  std::unique_ptr<gsl_matrix_complex, Free> evec_;
  std::unique_ptr<gsl_vector_complex, Free> x_;
  std::unique_ptr<gsl_permutation, Free> perm_;
  std::unique_ptr<gsl_matrix_complex, Free> A_;
  std::unique_ptr<gsl_vector_complex, Free> y_;
};

#endif
