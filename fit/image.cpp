#include "fit/image.h"

#include "config/constants.h"
#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernel.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_bspline.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_multifit.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace femtokit {

const char *CriterionName(ImageCriterion c) {
  switch (c) {
    case ImageCriterion::GCV:
      return "gcv";
    case ImageCriterion::LCurve:
      return "lcurve";
    case ImageCriterion::Fixed:
      return "fixed";
  }
  return "?";
}

namespace {

using constants::FOURPI;

struct GslFree {
  void operator()(gsl_bspline_workspace *w) const { gsl_bspline_free(w); }
};

// A dense row-major matrix over a std::vector, viewed as a gsl_matrix when
// GSL works on it (a leading block of rows x cols with the full row stride).
struct Dense {
  int rows = 0, cols = 0;
  std::vector<double> v;
  Dense() = default;
  Dense(int r, int c) : rows(r), cols(c), v(static_cast<size_t>(r) * c, 0.0) {}
  double &operator()(int i, int j) { return v[static_cast<size_t>(i) * cols + j]; }
  double operator()(int i, int j) const { return v[static_cast<size_t>(i) * cols + j]; }
  gsl_matrix_view View(int r, int c) { return gsl_matrix_view_array_with_tda(v.data(), r, c, cols); }
};

// The radial basis: B-splines of an order on the breakpoints (GSL), order 1
// the indicator functions of the knot intervals. For order >= 2 the last
// B-spline (the only one not vanishing at the last knot) is left out.
class Basis {
 public:
  Basis(int order, const std::vector<double> &knots) : order_(order), knots_(knots) {
    const int nbreak = static_cast<int>(knots.size());
    if (order == 1) {
      n_ = nbreak - 1;
      for (int j = 0; j < n_; j++) centres_.push_back(0.5 * (knots[j] + knots[j + 1]));
      return;
    }
    w_.reset(gsl_bspline_alloc(order, nbreak));
    gsl_vector_const_view b = gsl_vector_const_view_array(knots.data(), nbreak);
    gsl_bspline_knots(&b.vector, w_.get());
    full_ = static_cast<int>(gsl_bspline_ncoeffs(w_.get()));
    n_ = full_ - 1;
    values_.assign(full_, 0.0);
    for (int j = 0; j < n_; j++) centres_.push_back(gsl_bspline_greville_abscissa(j, w_.get()));
  }
  int Size() const { return n_; }
  double Lo() const { return knots_.front(); }
  double Hi() const { return knots_.back(); }
  const std::vector<double> &Centres() const { return centres_; }
  // B_j(r) for every j into out[0 .. Size()-1]; zeros outside the knots.
  void Eval(double r, double *out) {
    std::fill(out, out + n_, 0.0);
    if (!(r >= Lo() && r <= Hi())) return;
    if (order_ == 1) {
      int j = static_cast<int>(std::upper_bound(knots_.begin(), knots_.end(), r) - knots_.begin()) - 1;
      out[std::min(j, n_ - 1)] = 1.0;
      return;
    }
    gsl_vector_view b = gsl_vector_view_array(values_.data(), full_);
    gsl_bspline_eval(r, &b.vector, w_.get());
    std::copy(values_.begin(), values_.begin() + n_, out);
  }

 private:
  int order_, n_ = 0, full_ = 0;
  std::vector<double> knots_, centres_, values_;
  std::unique_ptr<gsl_bspline_workspace, GslFree> w_;
};

// Lawson-Hanson NNLS with its scratch allocated once and reused.
class NNLSWork {
 public:
  NNLSWork(int m, int n)
      : m_(m), n_(n), sub_(m, n), rhs_(m), z_(n), w_(n), tau_(n), resid_(m), sol_(n), passive_(n), skip_(n) {}

  int Solve(const double *A, const double *b, double *x, std::vector<char> *active) {
    const int m = m_, n = n_;
    double anorm = 0.0, bnorm = 0.0;
    for (int k = 0; k < m * n; k++) anorm = std::max(anorm, std::fabs(A[k]));
    for (int i = 0; i < m; i++) bnorm = std::max(bnorm, std::fabs(b[i]));
    const double tol = 1e-13 * std::max(1.0, anorm) * std::max(1.0, bnorm) * (m + n);
    std::fill(x, x + n, 0.0);
    std::fill(passive_.begin(), passive_.end(), 0);
    int outer = 0, npassive = 0;
    const int limit = 3 * n + 10;
    for (;;) {
      Gradient(A, b, x);
      std::fill(skip_.begin(), skip_.end(), 0);
      bool added = false;
      // The zero variable with the steepest descent joins the passive set;
      // one whose least-squares value comes out <= 0 (rounding) is skipped.
      while (!added) {
        int t = -1;
        for (int j = 0; j < n; j++)
          if (!passive_[j] && !skip_[j] && w_[j] > tol && (t < 0 || w_[j] > w_[t])) t = j;
        if (t < 0 || npassive >= m) break;
        passive_[t] = 1;
        LeastSquares(A, b);
        if (z_[t] > 0.0) {
          added = true;
          npassive++;
        } else {
          passive_[t] = 0;
          skip_[t] = 1;
        }
      }
      if (!added) break;
      if (++outer > limit) Fatal("NNLS: no termination after %d iterations (%d x %d problem)\n", limit, m, n);
      // Inner loop: step towards the passive least-squares solution until it
      // is feasible, moving variables that reach 0 back to the zero set.
      for (int inner = 0;; inner++) {
        bool feasible = true;
        for (int j = 0; j < n; j++)
          if (passive_[j] && z_[j] <= 0.0) feasible = false;
        if (feasible) {
          for (int j = 0; j < n; j++) x[j] = passive_[j] ? z_[j] : 0.0;
          break;
        }
        if (inner > limit) Fatal("NNLS: no feasible step after %d inner iterations (%d x %d problem)\n", limit, m, n);
        // The step stops where the first passive variable reaches 0; that one
        // and any other at or below 0 return to the zero set.
        double step = 1.0;
        int first = -1;
        for (int j = 0; j < n; j++)
          if (passive_[j] && z_[j] <= 0.0) {
            const double s = x[j] / (x[j] - z_[j]);
            if (first < 0 || s < step) step = s, first = j;
          }
        for (int j = 0; j < n; j++)
          if (passive_[j]) x[j] += step * (z_[j] - x[j]);
        x[first] = 0.0;
        for (int j = 0; j < n; j++)
          if (passive_[j] && x[j] <= 0.0) {
            x[j] = 0.0;
            passive_[j] = 0;
            npassive--;
          }
        LeastSquares(A, b);
      }
    }
    if (active) {
      active->assign(n, 0);
      for (int j = 0; j < n; j++) (*active)[j] = !passive_[j];
    }
    return outer;
  }

 private:
  // w = A^T (b - A x).
  void Gradient(const double *A, const double *b, const double *x) {
    for (int i = 0; i < m_; i++) {
      double r = b[i];
      for (int j = 0; j < n_; j++) r -= A[static_cast<size_t>(i) * n_ + j] * x[j];
      resid_[i] = r;
    }
    for (int j = 0; j < n_; j++) {
      double s = 0.0;
      for (int i = 0; i < m_; i++) s += A[static_cast<size_t>(i) * n_ + j] * resid_[i];
      w_[j] = s;
    }
  }
  // z on the passive set minimising ||A_P z - b|| (Householder QR), 0 elsewhere.
  void LeastSquares(const double *A, const double *b) {
    int np = 0;
    for (int j = 0; j < n_; j++)
      if (passive_[j]) {
        for (int i = 0; i < m_; i++) sub_(i, np) = A[static_cast<size_t>(i) * n_ + j];
        np++;
      }
    std::fill(z_.begin(), z_.end(), 0.0);
    if (np == 0) return;
    std::copy(b, b + m_, rhs_.begin());
    gsl_matrix_view S = sub_.View(m_, np);
    gsl_vector_view tau = gsl_vector_view_array(tau_.data(), np);
    gsl_vector_view rhs = gsl_vector_view_array(rhs_.data(), m_);
    gsl_vector_view sol = gsl_vector_view_array(sol_.data(), np);
    gsl_vector_view res = gsl_vector_view_array(resid_.data(), m_);
    gsl_linalg_QR_decomp(&S.matrix, &tau.vector);
    // A column that is linearly dependent on the others gets no value.
    bool singular = false;
    double big = 0.0;
    for (int k = 0; k < np; k++) big = std::max(big, std::fabs(sub_(k, k)));
    for (int k = 0; k < np; k++) singular = singular || !(std::fabs(sub_(k, k)) > 1e-14 * big);
    if (singular) {
      for (int k = 0; k < np; k++) sol_[k] = -1.0;  // drops out in the inner loop
    } else {
      gsl_linalg_QR_lssolve(&S.matrix, &tau.vector, &rhs.vector, &sol.vector, &res.vector);
    }
    np = 0;
    for (int j = 0; j < n_; j++)
      if (passive_[j]) z_[j] = sol_[np++];
  }

  int m_, n_;
  Dense sub_;
  std::vector<double> rhs_, z_, w_, tau_, resid_, sol_;
  std::vector<char> passive_, skip_;
};

void CheckFinite(const char *what, int i, double v) {
  if (!std::isfinite(v)) Fatal("Image: %s[%d] = %g is not a finite number\n", what, i, v);
}

// The regularised problem at one strength: the stacked system
// [W A; sqrt(alpha s) L; (w n)] c = [W d; 0; (w lambda)] reduced by QR to its
// triangle, solved with or without positivity.
class Problem {
 public:
  Problem(const Dense &At, const std::vector<double> &bt, const Dense &L, const std::vector<double> &norm,
          double normWeight, double lambda, bool positive)
      : At_(At), bt_(bt), L_(L), norm_(norm), w_(normWeight), lambda_(lambda), positive_(positive),
        nd_(At.rows), nb_(At.cols), nl_(L.rows), rows_(nd_ + nl_ + (norm.empty() ? 0 : 1)),
        M_(rows_, nb_), y_(rows_), tau_(nb_), R_(nb_, nb_), z_(nb_), Rp_(nb_, nb_), taup_(nb_), row_(nb_),
        c_(nb_), active_(nb_, 0), nnls_(nb_, nb_) {}

  // Solves at internal strength a (= alpha s); false when the system is
  // singular at this strength.
  bool Solve(double a) {
    const double sa = std::sqrt(a);
    for (int i = 0; i < nd_; i++) {
      for (int j = 0; j < nb_; j++) M_(i, j) = At_(i, j);
      y_[i] = bt_[i];
    }
    for (int i = 0; i < nl_; i++) {
      for (int j = 0; j < nb_; j++) M_(nd_ + i, j) = sa * L_(i, j);
      y_[nd_ + i] = 0.0;
    }
    if (!norm_.empty()) {
      for (int j = 0; j < nb_; j++) M_(rows_ - 1, j) = w_ * norm_[j];
      y_[rows_ - 1] = w_ * lambda_;
    }
    gsl_matrix_view M = M_.View(rows_, nb_);
    gsl_vector_view tau = gsl_vector_view_array(tau_.data(), nb_);
    gsl_vector_view y = gsl_vector_view_array(y_.data(), rows_);
    gsl_linalg_QR_decomp(&M.matrix, &tau.vector);
    gsl_linalg_QR_QTvec(&M.matrix, &tau.vector, &y.vector);
    double big = 0.0, small = HUGE_VAL;
    for (int i = 0; i < nb_; i++) {
      for (int j = 0; j < nb_; j++) R_(i, j) = j >= i ? M_(i, j) : 0.0;
      z_[i] = y_[i];
      big = std::max(big, std::fabs(R_(i, i)));
      small = std::min(small, std::fabs(R_(i, i)));
    }
    if (!(small > 1e-12 * big)) return false;
    if (positive_) {
      nnls_.Solve(R_.v.data(), z_.data(), c_.data(), &active_);
    } else {
      c_ = z_;
      gsl_matrix_view R = R_.View(nb_, nb_);
      gsl_vector_view c = gsl_vector_view_array(c_.data(), nb_);
      gsl_blas_dtrsv(CblasUpper, CblasNoTrans, CblasNonUnit, &R.matrix, &c.vector);
    }
    for (double v : c_)
      if (!std::isfinite(v)) return false;
    return true;
  }

  const std::vector<double> &Coefficients() const { return c_; }
  const std::vector<char> &Active() const { return active_; }
  int NActive() const { return static_cast<int>(std::count(active_.begin(), active_.end(), 1)); }
  // chi^2 of the current solution.
  double Chi2() const {
    double chi2 = 0.0;
    for (int i = 0; i < nd_; i++) {
      double f = 0.0;
      for (int j = 0; j < nb_; j++) f += At_(i, j) * c_[j];
      chi2 += (f - bt_[i]) * (f - bt_[i]);
    }
    return chi2;
  }
  // ||L c||.
  double Roughness() const {
    double s = 0.0;
    for (int i = 0; i < nl_; i++) {
      double f = 0.0;
      for (int j = 0; j < nb_; j++) f += L_(i, j) * c_[j];
      s += f * f;
    }
    return std::sqrt(s);
  }
  // tr H, H = W A_P (M_P^T M_P)^-1 A_P^T W the influence matrix of the data
  // with the coefficients held at 0 by positivity left out: the triangle of
  // M_P is that of R's passive columns; tr H = ||W A_P R_P^-1||_F^2.
  double Effective() {
    int np = 0;
    for (int j = 0; j < nb_; j++)
      if (!active_[j]) {
        for (int i = 0; i < nb_; i++) Rp_(i, np) = R_(i, j);
        np++;
      }
    if (np == 0) return 0.0;
    gsl_matrix_view Rp = Rp_.View(nb_, np);
    gsl_vector_view tau = gsl_vector_view_array(taup_.data(), np);
    gsl_linalg_QR_decomp(&Rp.matrix, &tau.vector);
    gsl_matrix_view T = Rp_.View(np, np);
    gsl_vector_view row = gsl_vector_view_array(row_.data(), np);
    double tr = 0.0;
    for (int i = 0; i < nd_; i++) {
      int k = 0;
      for (int j = 0; j < nb_; j++)
        if (!active_[j]) row_[k++] = At_(i, j);
      // x R_P = a  <=>  R_P^T x^T = a^T.
      gsl_blas_dtrsv(CblasUpper, CblasTrans, CblasNonUnit, &T.matrix, &row.vector);
      for (int j = 0; j < np; j++) tr += row_[j] * row_[j];
    }
    return tr;
  }
  // (M^T M)^-1 = R^-1 R^-T over every coefficient, row-major.
  std::vector<double> Posterior() {
    std::vector<double> inv(R_.v);
    gsl_matrix_view I = gsl_matrix_view_array(inv.data(), nb_, nb_);
    gsl_linalg_tri_upper_invert(&I.matrix);
    std::vector<double> cov(static_cast<size_t>(nb_) * nb_, 0.0);
    for (int i = 0; i < nb_; i++)
      for (int j = 0; j < nb_; j++) {
        double s = 0.0;
        for (int k = std::max(i, j); k < nb_; k++) s += inv[static_cast<size_t>(i) * nb_ + k] * inv[static_cast<size_t>(j) * nb_ + k];
        cov[static_cast<size_t>(i) * nb_ + j] = s;
      }
    return cov;
  }

 private:
  const Dense &At_;
  const std::vector<double> &bt_;
  const Dense &L_;
  const std::vector<double> &norm_;
  double w_, lambda_;
  bool positive_;
  int nd_, nb_, nl_, rows_;
  Dense M_;
  std::vector<double> y_, tau_;
  Dense R_;
  std::vector<double> z_;
  Dense Rp_;
  std::vector<double> taup_, row_, c_;
  std::vector<char> active_;
  NNLSWork nnls_;
};

// Rows of the second-derivative operator: S'' by three-point differences on a
// grid over the knots (each interval cut in four; for order 1 the interval
// centres, where S is the coefficient itself), each row weighted by the root of
// its grid share so that ||L c||^2 approximates Int S''^2 dr.
Dense SecondDerivative(Basis &basis, const std::vector<double> &knots, int order) {
  std::vector<double> x;
  if (order == 1) {
    x = basis.Centres();
  } else {
    for (size_t k = 0; k + 1 < knots.size(); k++)
      for (int s = 0; s < 4; s++) x.push_back(knots[k] + 0.25 * s * (knots[k + 1] - knots[k]));
    x.push_back(knots.back());
  }
  const int nb = basis.Size(), ng = static_cast<int>(x.size());
  Dense L(std::max(ng - 2, 1), nb);
  if (ng < 3) return L;  // a single interval of order 1: nothing to bend
  std::vector<double> b0(nb), b1(nb), b2(nb);
  basis.Eval(x[0], b0.data());
  basis.Eval(x[1], b1.data());
  for (int i = 1; i + 1 < ng; i++) {
    basis.Eval(x[i + 1], b2.data());
    const double hm = x[i] - x[i - 1], hp = x[i + 1] - x[i], weight = std::sqrt(0.5 * (hm + hp));
    for (int j = 0; j < nb; j++)
      L(i - 1, j) = weight * 2.0 * ((b2[j] - b1[j]) / hp - (b1[j] - b0[j]) / hm) / (hm + hp);
    std::swap(b0, b1);
    std::swap(b1, b2);
  }
  return L;
}

}  // namespace

int NNLS(int m, int n, const double *A, const double *b, double *x, std::vector<char> *active) {
  if (m < 1 || n < 1) Fatal("NNLS: a %d x %d problem\n", m, n);
  NNLSWork work(m, n);
  return work.Solve(A, b, x, active);
}

ImageResult Image(const CKernel &kernel, const ImageData &data, const ImageOptions &o) {
  InitGSL();
  const int nd = static_cast<int>(data.q.size());
  if (data.cf.size() != data.q.size() || data.error.size() != data.q.size())
    Fatal("Image: %zu q values, %zu correlation values and %zu errors; expected as many of each\n", data.q.size(),
          data.cf.size(), data.error.size());
  if (o.l < 0 || o.l > kernel.GetLMAX() || kernel.Table(o.l) == nullptr)
    Fatal("Image: l=%d: the kernel has no projection K_%d (LMAX=%d%s)\n", o.l, o.l, kernel.GetLMAX(),
          kernel.GetIDENTICAL() ? ", identical particles: even l only" : "");
  if (o.l > 0 && o.positive) Fatal("Image: positivity applies to the angle average (l=0), not to l=%d\n", o.l);
  if (o.l > 0 && !std::isnan(o.lambda)) Fatal("Image: a fixed normalisation applies to l=0, not to l=%d\n", o.l);
  if (!std::isnan(o.lambda) && !std::isfinite(o.lambda)) Fatal("Image: lambda = %g is not a finite number\n", o.lambda);
  if (o.order < 1 || o.order > 8) Fatal("Image: B-spline order %d; expected 1 ... 8\n", o.order);
  if (o.criterion == ImageCriterion::Fixed && !(o.alpha >= 0.0 && std::isfinite(o.alpha)))
    Fatal("Image: regularisation strength %g; expected a finite number >= 0\n", o.alpha);
  const int nq = kernel.GetNQMAX(), nr = kernel.GetNRMAX();
  const double dq = kernel.GetDELQ(), dr = kernel.GetDELR(), rreach = nr * dr;
  const double qlo = 0.5 * dq, qhi = (nq - 0.5) * dq;
  for (int i = 0; i < nd; i++) {
    CheckFinite("q", i, data.q[i]);
    CheckFinite("C", i, data.cf[i]);
    CheckFinite("error", i, data.error[i]);
    if (!(data.error[i] > 0.0)) Fatal("Image: error[%d] = %g at q=%g MeV/c is not positive\n", i, data.error[i], data.q[i]);
    if (data.q[i] < qlo * (1 - 1e-9) || data.q[i] > qhi * (1 + 1e-9))
      Fatal("Image: q=%g MeV/c lies outside the kernel's q bin centres %g ... %g MeV/c\n", data.q[i], qlo, qhi);
  }
  std::vector<double> knots = o.knots;
  if (knots.empty())
    for (int k = 0; k <= 16; k++) knots.push_back(rreach * k / 16.0);
  if (knots.size() < 2) Fatal("Image: %zu knot; expected at least 2\n", knots.size());
  for (size_t k = 0; k < knots.size(); k++) {
    CheckFinite("knot", static_cast<int>(k), knots[k]);
    if (knots[k] < 0.0) Fatal("Image: knot %g fm is negative\n", knots[k]);
    if (k > 0 && !(knots[k] > knots[k - 1]))
      Fatal("Image: knots not strictly increasing: %g fm follows %g fm\n", knots[k], knots[k - 1]);
  }
  if (knots.back() > rreach * (1 + 1e-9))
    Fatal("Image: the last knot %g fm lies beyond the kernel's r mesh (%g fm)\n", knots.back(), rreach);
  for (size_t k = 0; k < o.r.size(); k++) CheckFinite("r", static_cast<int>(k), o.r[k]);

  Basis basis(o.order, knots);
  const int nb = basis.Size();
  if (nb < 1) Fatal("Image: %zu knots of order %d give no basis function\n", knots.size(), o.order);
  if (nd < 2 || 2 * nd < nb)
    Fatal("Image: %d data points for %d basis functions; expected at least 2 and at least half as many\n", nd, nb);

  // Design matrix A_ij = Sum_ir K_l(q_i, r_ir) 4 pi r_ir^2 dr B_j(r_ir), K
  // linear in q between the kernel's rows, whitened by the errors.
  const double *K = kernel.Table(o.l);
  Dense Bk(nr, nb);
  std::vector<double> weight(nr), norm(nb, 0.0);
  for (int ir = 0; ir < nr; ir++) {
    const double r = (ir + 0.5) * dr;
    weight[ir] = FOURPI * r * r * dr;
    basis.Eval(r, &Bk(ir, 0));
    for (int j = 0; j < nb; j++) norm[j] += weight[ir] * Bk(ir, j);
  }
  Dense At(nd, nb);
  std::vector<double> bt(nd), wk(nr);
  for (int i = 0; i < nd; i++) {
    const double x = std::min(std::max(data.q[i] / dq - 0.5, 0.0), nq - 1.0);
    const int i0 = std::min(static_cast<int>(x), nq - 1), i1 = std::min(i0 + 1, nq - 1);
    const double f = x - i0;
    for (int ir = 0; ir < nr; ir++)
      wk[ir] = weight[ir] * ((1 - f) * K[static_cast<size_t>(i0) * nr + ir] + f * K[static_cast<size_t>(i1) * nr + ir]);
    for (int j = 0; j < nb; j++) {
      double s = 0.0;
      for (int ir = 0; ir < nr; ir++) s += wk[ir] * Bk(ir, j);
      At(i, j) = s / data.error[i];
    }
    bt[i] = data.cf[i] / data.error[i];
  }
  Dense L = SecondDerivative(basis, knots, o.order);
  double ta = 0.0, tl = 0.0;
  for (double v : At.v) ta += v * v;
  for (double v : L.v) tl += v * v;
  if (!(ta > 0.0)) Fatal("Image: the kernel K_%d vanishes at the data's q over the knots' r range\n", o.l);
  const double scale = tl > 0.0 ? ta / tl : 0.0;
  // A fixed lambda: one row weighted 1e6 above the data's rows (Lawson and
  // Hanson's weighting method for an equality constraint).
  std::vector<double> normRow;
  double normWeight = 0.0;
  const bool fixedNorm = !std::isnan(o.lambda);
  if (fixedNorm) {
    normRow = norm;
    double nn = 0.0;
    for (double v : norm) nn += v * v;
    normWeight = 1e6 * std::sqrt(ta / nd / nn);
  }
  Problem problem(At, bt, L, normRow, normWeight, o.lambda, o.positive);

  // The strength: a criterion over a grid of alpha from 1e-8 to 1e3 (ten per
  // decade), or the given one.
  double alpha = o.alpha;
  if (o.criterion != ImageCriterion::Fixed) {
    const int ngrid = 111;
    std::vector<double> alphas, gcv, rho, eta;
    for (int k = 0; k < ngrid; k++) {
      const double a = std::pow(10.0, -8.0 + 0.1 * k);
      if (!problem.Solve(a * scale)) continue;
      const double chi2 = problem.Chi2(), tr = problem.Effective();
      alphas.push_back(a);
      gcv.push_back(nd - tr > 1e-9 ? nd * chi2 / ((nd - tr) * (nd - tr)) : HUGE_VAL);
      rho.push_back(std::sqrt(chi2));
      eta.push_back(problem.Roughness());
    }
    if (alphas.size() < 3) Fatal("Image: the regularised system is singular at every strength tried\n");
    size_t best = 0;
    if (o.criterion == ImageCriterion::GCV) {
      best = static_cast<size_t>(std::min_element(gcv.begin(), gcv.end()) - gcv.begin());
    } else {
      gsl_vector_view r = gsl_vector_view_array(rho.data(), rho.size());
      gsl_vector_view e = gsl_vector_view_array(eta.data(), eta.size());
      if (gsl_multifit_linear_lcorner(&r.vector, &e.vector, &best) != GSL_SUCCESS)
        Fatal("Image: the L-curve has no corner over alpha = 1e-8 ... 1e3; give the strength\n");
    }
    alpha = alphas[best];
  }
  if (!problem.Solve(alpha * scale))
    Fatal("Image: the regularised system is singular at strength %g; give a larger strength or fewer basis "
          "functions\n", alpha);

  ImageResult res;
  res.l = o.l;
  res.order = o.order;
  res.knots = knots;
  res.centres = basis.Centres();
  res.coefficients = problem.Coefficients();
  res.npoints = nd;
  res.chi2 = problem.Chi2();
  res.effective = problem.Effective();
  res.ndof = nd - res.effective;
  res.alpha = alpha;
  res.criterion = o.criterion;
  res.positive = o.positive;
  res.active = problem.NActive();
  res.qMin = *std::min_element(data.q.begin(), data.q.end());
  res.qMax = *std::max_element(data.q.begin(), data.q.end());
  res.curve.resize(nd);
  for (int i = 0; i < nd; i++) {
    double f = 0.0;
    for (int j = 0; j < nb; j++) f += At(i, j) * res.coefficients[j];
    res.curve[i] = f * data.error[i];
  }
  // Covariance of the coefficients, propagated from the data's errors through
  // the linear map of the regularised solution at the chosen strength,
  // c = P A^T W d with P = (A^T W A + alpha s L^T L)^-1 (and the lambda row):
  // cov = P A^T W A P. The map is that of the problem without the positivity
  // bounds: coefficients held at 0 keep the spread they would have if free,
  // so the band there is conservative, not zero. Regularisation bias is not
  // in it: it shrinks with the strength (the criterion balances the two).
  const std::vector<double> P = problem.Posterior();
  std::vector<double> G(static_cast<size_t>(nb) * nb, 0.0), PG(G.size(), 0.0);
  for (int j = 0; j < nb; j++)
    for (int k = j; k < nb; k++) {
      double g = 0.0;
      for (int i = 0; i < nd; i++) g += At(i, j) * At(i, k);
      G[static_cast<size_t>(j) * nb + k] = G[static_cast<size_t>(k) * nb + j] = g;
    }
  for (int j = 0; j < nb; j++)
    for (int k = 0; k < nb; k++) {
      double v = 0.0;
      for (int i = 0; i < nb; i++) v += P[static_cast<size_t>(j) * nb + i] * G[static_cast<size_t>(i) * nb + k];
      PG[static_cast<size_t>(j) * nb + k] = v;
    }
  res.coefficientCovariance.assign(G.size(), 0.0);
  for (int j = 0; j < nb; j++)
    for (int k = 0; k < nb; k++) {
      double v = 0.0;
      for (int i = 0; i < nb; i++) v += PG[static_cast<size_t>(j) * nb + i] * P[static_cast<size_t>(i) * nb + k];
      res.coefficientCovariance[static_cast<size_t>(j) * nb + k] = v;
    }
  const std::vector<double> &C = res.coefficientCovariance;
  // Resolution matrix P A^T W A: its diagonal is the share of each
  // coefficient that the data determine (1: the data alone; 0: the
  // regularisation alone); the shares sum to about the effective parameters.
  res.resolution.assign(nb, 0.0);
  for (int j = 0; j < nb; j++) res.resolution[j] = PG[static_cast<size_t>(j) * nb + j];
  // Resolved range: structure finer than half a period of the kernel's
  // oscillation at the highest q, pi hbar c/(2 q_max), is not resolved; the
  // data's q spacing dq samples the source out to pi hbar c/(2 dq) (the
  // Nyquist distance of a plane-wave kernel); the image ends at the last knot.
  {
    std::vector<double> qs(data.q);
    std::sort(qs.begin(), qs.end());
    double step = HUGE_VAL;
    for (size_t i = 1; i < qs.size(); i++)
      if (qs[i] - qs[i - 1] > 1e-9 * qs[i]) step = std::min(step, qs[i] - qs[i - 1]);
    if (!std::isfinite(step)) step = qs.front();
    const double hbarc = constants::HBARC;
    res.rMinResolved = std::max(knots.front(), M_PI * hbarc / (2.0 * qs.back()));
    res.rMaxResolved = std::min(knots.back(), M_PI * hbarc / (2.0 * step));
  }
  // The image and its covariance on the output mesh.
  if (o.r.empty()) {
    for (int ir = 0; ir < nr; ir++) {
      const double r = (ir + 0.5) * dr;
      if (r >= knots.front() && r <= knots.back()) res.r.push_back(r);
    }
  } else {
    res.r = o.r;
  }
  const int no = static_cast<int>(res.r.size());
  Dense B(no, nb);
  for (int k = 0; k < no; k++) basis.Eval(res.r[k], &B(k, 0));
  Dense BC(no, nb);
  for (int k = 0; k < no; k++)
    for (int j = 0; j < nb; j++) {
      double s = 0.0;
      for (int i = 0; i < nb; i++) s += B(k, i) * C[static_cast<size_t>(i) * nb + j];
      BC(k, j) = s;
    }
  res.s.resize(no);
  res.error.resize(no);
  res.covariance.assign(static_cast<size_t>(no) * no, 0.0);
  for (int k = 0; k < no; k++) {
    double s = 0.0;
    for (int j = 0; j < nb; j++) s += B(k, j) * res.coefficients[j];
    res.s[k] = s;
    for (int m = 0; m < no; m++) {
      double v = 0.0;
      for (int j = 0; j < nb; j++) v += BC(k, j) * B(m, j);
      res.covariance[static_cast<size_t>(k) * no + m] = v;
    }
    res.error[k] = std::sqrt(std::max(0.0, res.covariance[static_cast<size_t>(k) * no + k]));
  }
  for (double v : res.s)
    if (!std::isfinite(v)) Fatal("Image: the image is not finite (strength %g)\n", alpha);
  return res;
}

double ImageResult::Evaluate(double r) const {
  Basis basis(order, knots);
  std::vector<double> b(basis.Size());
  basis.Eval(r, b.data());
  double s = 0.0;
  for (size_t j = 0; j < b.size() && j < coefficients.size(); j++) s += b[j] * coefficients[j];
  return s;
}

double ImageResult::Integral(double r1, double r2, double *err) const {
  Basis basis(order, knots);
  const int nb = basis.Size();
  std::vector<double> g(nb, 0.0), b(nb);
  const double lo = std::max(r1, knots.front()), hi = std::min(r2, knots.back());
  if (hi > lo) {
    // Midpoint rule on 4000 cells (the B-splines are smooth within the knot intervals).
    const int n = 4000;
    const double h = (hi - lo) / n;
    for (int k = 0; k < n; k++) {
      const double r = lo + (k + 0.5) * h;
      basis.Eval(r, b.data());
      for (int j = 0; j < nb; j++) g[j] += FOURPI * r * r * h * b[j];
    }
  }
  double v = 0.0, var = 0.0;
  for (int j = 0; j < nb; j++) {
    v += g[j] * coefficients[j];
    for (int k = 0; k < nb; k++) var += g[j] * coefficientCovariance[static_cast<size_t>(j) * nb + k] * g[k];
  }
  if (err) *err = std::sqrt(std::max(0.0, var));
  return v;
}

std::vector<std::string> ImageResult::Summary() const {
  std::vector<std::string> lines;
  lines.push_back(Format("chi^2=%.6g, bins=%d, dof=%.4g, effective parameters=%.4g, chi^2/dof=%.4g", chi2, npoints,
                         ndof, effective, ndof > 0 ? chi2 / ndof : HUGE_VAL));
  lines.push_back(Format("regularisation strength=%.4g (%s), basis: %zu B-splines of order %d on %zu knots %g ... %g fm%s",
                         alpha, CriterionName(criterion), coefficients.size(), order, knots.size(), knots.front(),
                         knots.back(), positive ? Format(", S >= 0 (%d held at 0)", active).c_str() : ""));
  if (std::isnan(rMinResolved))
    lines.push_back(Format("resolved r range: none (no coefficient is determined by the data to half; q = %g ... %g MeV/c)",
                           qMin, qMax));
  else
    lines.push_back(Format("resolved r range: %.4g ... %.4g fm (data q = %g ... %g MeV/c)", rMinResolved, rMaxResolved,
                           qMin, qMax));
  return lines;
}

}  // namespace femtokit
