#ifndef FEMTOKIT_FIT_IMAGE_H
#define FEMTOKIT_FIT_IMAGE_H

#include <limits>
#include <string>
#include <vector>

class CKernel;

// Source imaging: the source S_l(r) from a measured correlation function
// without assuming its shape. A component of order l of the correlation
// function and of the source are related through the kernel projection K_l
// exactly as the forward transform (fit/s2cf.h) relates them,
//
//   C_l(q) = 4 pi Int r^2 dr K_l(q, r) S_l(r)
//          = Sum_ir 4 pi r_ir^2 dr K_l(q, r_ir) S_l(r_ir)   (the kernel's r bins),
//
// with C_0 = C - 1 the angle average and S_0 = S; for l > 0 any harmonic
// component of order l (Cartesian (lx, ly, lz) with lx + ly + lz = l, or
// spherical Y_lm) of C and S obeys the same relation (Funk-Hecke). S_l is
// expanded in a radial basis, S_l(r) = Sum_j c_j B_j(r), so that C_l = A c is
// linear in the coefficients, and c minimises
//
//   chi^2(c) + alpha s ||L c||^2,    chi^2 = Sum_i ((A c)_i - C_l(q_i))^2 / sigma_i^2,
//
// where L c is the second derivative S_l''(r) sampled over the basis' range
// (||L c||^2 ~ Int S''^2 dr) and s = tr(A^T W A)/tr(L^T L) makes the strength
// alpha dimensionless, the same for any units and data size. With positivity
// every coefficient is >= 0 (then S_0 >= 0 everywhere, B-splines being
// non-negative); with a fixed normalisation Int d^3r S = lambda is imposed.
namespace femtokit {

// The measured input: q (MeV/c), the transform's left side (C(q) - 1 for
// l = 0, the component C_l(q) for l > 0) and its errors (> 0).
struct ImageData {
  std::vector<double> q, cf, error;
};

// How the strength alpha is chosen.
enum class ImageCriterion {
  GCV,      // generalised cross-validation: minimum of n chi^2/(n - tr H)^2 over alpha
  LCurve,   // L-curve: corner (maximum curvature) of (log chi, log ||L c||) over alpha
  Fixed     // the strength given in ImageOptions::alpha
};
// "gcv", "lcurve", "fixed".
const char *CriterionName(ImageCriterion c);

struct ImageOptions {
  int l = 0;  // order of the component (kernel projection K_l)
  // Breakpoints of the radial basis (fm, strictly increasing, >= 0, within
  // the kernel's r mesh); at least 2. Empty: 17 evenly spaced from 0 to the
  // kernel's last r bin edge.
  std::vector<double> knots;
  // B-spline order (1 piecewise constant on the knot intervals, 2 linear,
  // 4 cubic, ...), 1 ... 8. For order >= 2 the basis function that does not
  // vanish at the last knot is left out, so S(r) = 0 there, continuously.
  int order = 4;
  bool positive = true;  // coefficients >= 0 (only for l = 0)
  // Normalisation lambda = 4 pi Int r^2 S_0 dr: free (NaN), or fixed to this
  // value (only for l = 0).
  double lambda = std::numeric_limits<double>::quiet_NaN();
  ImageCriterion criterion = ImageCriterion::GCV;
  double alpha = -1.0;  // the strength for ImageCriterion::Fixed (>= 0)
  // The output r mesh (fm); empty: the kernel's r bin centres within the knots.
  std::vector<double> r;
};

struct ImageResult {
  int l = 0;
  std::vector<double> r, s, error;  // fm, fm^-3, fm^-3 (error: sqrt of the covariance's diagonal)
  std::vector<double> covariance;   // r.size()^2, row-major, fm^-6
  std::vector<double> coefficients;       // c_j, fm^-3
  std::vector<double> coefficientCovariance;  // row-major
  std::vector<double> knots;               // breakpoints used
  std::vector<double> centres;             // Greville abscissa of each basis function, fm
  std::vector<double> resolution;          // diagonal of the resolution matrix per basis function
  std::vector<double> curve;  // the image transformed back, (A c)_i at the data's q
  int order = 4;
  int npoints = 0;              // data points
  double chi2 = 0.0;            // of the image against the data
  double effective = 0.0;       // tr H, H the influence matrix of the data on the fit
  double ndof = 0.0;            // npoints - effective
  double alpha = 0.0;           // strength used
  ImageCriterion criterion = ImageCriterion::GCV;
  bool positive = false;
  int active = 0;               // coefficients held at 0 by positivity
  double rMinResolved = 0.0, rMaxResolved = 0.0;  // fm
  double qMin = 0.0, qMax = 0.0;                 // data's q range, MeV/c

  // S_l at r (fm) from the coefficients (0 outside the knots).
  double Evaluate(double r) const;
  // 4 pi Int_{r1}^{r2} r^2 S_l dr (the norm, lambda, for l = 0 over the whole
  // range) and its error from the coefficients' covariance.
  double Integral(double r1, double r2, double *error) const;
  // Header lines: chi^2, dof, effective parameters, strength, criterion, the
  // resolved r range.
  std::vector<std::string> Summary() const;
};

// Images the data through kernel projection l. Fatal (the library's error
// path, message naming the value): data arrays of different lengths, a q, C
// or error that is not finite, an error <= 0, a q outside the kernel's q bin
// centres, knots not strictly increasing or outside the kernel's r mesh or
// negative, an order outside 1 ... 8, fewer data points than 2 or than half
// the basis functions, l above the kernel's LMAX or absent (odd l of
// identical particles), positivity or a fixed lambda for l > 0, a fixed
// strength < 0 or not finite, a non-finite result.
ImageResult Image(const CKernel &kernel, const ImageData &data, const ImageOptions &options);

// Lawson-Hanson active-set non-negative least squares: x >= 0 minimising
// ||A x - b|| for A m x n (row-major). GSL has none; this is the textbook
// algorithm (Lawson and Hanson, Solving Least Squares Problems, ch. 23) with
// the passive-set least-squares steps done by GSL's Householder QR.
// `active` receives for each variable whether it is held at 0. Returns the
// number of outer iterations; fatal when it does not terminate in 3 n + 10.
int NNLS(int m, int n, const double *A, const double *b, double *x, std::vector<char> *active = nullptr);

}  // namespace femtokit

#endif
