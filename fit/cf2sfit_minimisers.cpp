// The minimisers of CCF2SFit: Metropolis sampling, Newton-Raphson steps and
// steepest descent, and the routines that turn second moments into errors.
#include "fit/cf2sfit.h"

#include "config/fatal.h"
#include "math/gslmatrix.h"

#include <algorithm>
#include <cmath>

namespace {

using Matrix = std::vector<std::vector<double>>;

// Proposals outside the bounds redrawn in a row before a Metropolis run ends.
const int kMaxRedraws = 10000;
// Halvings of a Newton or steepest-descent step that finds no lower chi^2.
const int kMaxHalvings = 30;
// Halvings of Newton's difference steps when the Hessian is not positive definite.
const int kMaxNarrowings = 3;
// chi^2 gain below which a small steepest-descent step ends the descent.
const double kMinGain = 1e-3;
// A Newton iteration that lowers chi^2 by less than this (about a tenth of an
// error along one parameter) ends at a minimum.
const double kNewtonTolerance = 1e-2;
bool Inside(const CParInfo &p, double x) { return x >= p.xmin && x <= p.xmax; }

// The nearest point of the parameter's range.
double Project(const CParInfo &p, double x) { return std::min(std::max(x, p.xmin), p.xmax); }

// A difference stencil x - h/2 ... x + h/2 (width h) moved inside the range:
// its two ends and its centre (x itself unless it had to move), narrowed to
// the range when that is shorter than h.
void Stencil(const CParInfo &p, double x, double h, double &lo, double &hi, double &centre) {
  centre = x;
  lo = x - 0.5 * h;
  hi = x + 0.5 * h;
  if (lo >= p.xmin && hi <= p.xmax) return;
  if (p.xmax - p.xmin <= h) {
    lo = p.xmin;
    hi = p.xmax;
  } else if (lo < p.xmin) {
    lo = p.xmin;
    hi = lo + h;
  } else {
    hi = p.xmax;
    lo = hi - h;
  }
  centre = 0.5 * (lo + hi);
}

// True when x sits on a bound of p and the descent direction -g leads out.
bool Blocked(const CParInfo &p, double x, double g) {
  return (x <= p.xmin && g > 0.0) || (x >= p.xmax && g < 0.0);
}

}  // namespace

void CCF2SFit::CheckStepScales(const char *minimiser) const {
  for (int i = 0; i < nfreepars; i++)
    if (!(par[i].error > 0.0) || !std::isfinite(par[i].error))
      femtokit::Fatal("%s: free parameter %s has error %g; its error is the step scale and must be positive\n",
                      minimiser, par[i].name.c_str(), par[i].error);
}

namespace {
// A failed status with its reason.
FitStatus Failed(const std::string &reason) {
  FitStatus s;
  s.code = FitStatus::Code::Failed;
  s.reason = reason;
  return s;
}
}  // namespace

void CCF2SFit::Metropolis(int n) {
  if (nfreepars < 1 || n < 1) {
    femtokit::Warn("Metropolis(%d) with %d free parameters: nothing to do\n", n, nfreepars);
    status = Failed(femtokit::Format("Metropolis(%d) with %d free parameters: nothing done", n, nfreepars));
    return UpdateBoundStatus();
  }
  status = Failed("");
  const size_t N = static_cast<size_t>(npars);
  std::vector<double> x(N), dx(N), x0(N), s(N, 0.0);
  Matrix ss(N, std::vector<double>(N, 0.0));
  for (size_t i = 0; i < N; i++) x0[i] = par[i].value;
  const double sigma = 1.0 / std::sqrt(static_cast<double>(nfreepars));
  int nsuccess = 0, m = 0, redraws = 0;
  while (m < n) {
    for (auto &d : dx) d = randy->gauss();
    bool outside = false;
    for (int i = 0; i < npars; i++) {
      x[i] = par[i].value;
      if (i >= nfreepars) continue;
      for (int j = 0; j < npars; j++) x[i] += sigma * StepMatrix[i][j] * dx[j];
      outside = outside || !Inside(par[i], x[i]);
    }
    if (outside) {
      if (++redraws < kMaxRedraws) continue;
      femtokit::Warn("Metropolis: %d proposals in a row fell outside the bounds; the run ends after %d of %d "
                     "evaluations\n",
                     redraws, m, n);
      status = Failed(femtokit::Format("the Metropolis chain ended after %d of %d evaluations: %d proposals in a row "
                                       "fell outside the bounds",
                                       m, n, redraws));
      break;
    }
    redraws = 0;
    const double c = GetChiSquared(x.data());
    m++;
    if (c < chi2 || randy->ran() < std::exp(-0.5 * (c - chi2))) {
      chi2 = c;
      nsuccess++;
      for (int i = 0; i < npars; i++) par[i].value = x[i];
      femtokit::Print("SUCCESS, Nsuccess=%d, Ncalls=%d\n", nsuccess, m);
    }
    // The chain's state after the step, relative to its start (no cancellation).
    for (size_t i = 0; i < N; i++) {
      const double di = par[i].value - x0[i];
      s[i] += di;
      for (size_t j = 0; j < N; j++) ss[i][j] += di * (par[j].value - x0[j]);
    }
  }
  if (m >= 1)
    for (size_t i = 0; i < N; i++) par[i].xbar = x0[i] + s[i] / m;
  if (m >= 2) {
    for (size_t i = 0; i < N; i++)
      for (size_t j = 0; j < N; j++) {
        const bool free = i < static_cast<size_t>(nfreepars) && j < static_cast<size_t>(nfreepars);
        ErrorMatrix[i][j] = free ? (ss[i][j] / m - (s[i] / m) * (s[j] / m)) * m / (m - 1.0) : 0.0;
      }
    if (m == n) {
      status.code = FitStatus::Code::Converged;
      status.reason.clear();
      status.errorsvalid = true;
    }
  } else {
    femtokit::Warn("Metropolis: %d evaluation(s), too few for a covariance; the error matrix is left as it was\n", m);
    if (status.reason.empty())
      status = Failed(femtokit::Format("the Metropolis chain holds %d evaluation(s), too few for a covariance", m));
  }
  std::string line = femtokit::Format("Best chi^2=%g, Best x[] = ", bestchi2);
  for (const auto &p : par) line += femtokit::Format("%g ", p.bestvalue);
  femtokit::Print("%s\n", line.c_str());
  UpdateBoundStatus();
}

void CCF2SFit::UpdateMetroStepSize() {
  std::vector<double> eval;
  CGSLMatrix_Real(npars).EigenFind(ErrorMatrix, StepMatrix, eval);
  for (double e : eval)
    if (e < -1.0e-10) femtokit::Fatal("FATAL: In UpdateStepSize, negative eigenvalue, =%g\n", e);
  for (int i = 0; i < npars; i++) {
    double sum = 0.0;
    for (int k = 0; k < npars; k++) {
      StepMatrix[i][k] *= std::sqrt(std::fabs(eval[k]));
      sum += StepMatrix[i][k] * StepMatrix[i][k];
    }
    // A fixed parameter keeps its error: the step scale it needs when freed.
    if (i < nfreepars) par[i].error = std::sqrt(sum);
  }
}

bool CCF2SFit::CalcErrorMatrixFromCurvature(const Matrix &C) {
  const int n = nfreepars;
  if (n < 1) return false;
  Matrix evec;
  std::vector<double> eval;
  CGSLMatrix_Real(n).EigenFind(C, evec, eval);
  const double biggest = *std::max_element(eval.begin(), eval.end());
  const double smallest = *std::min_element(eval.begin(), eval.end());
  if (!(biggest > 0.0) || !(smallest > 1e-12 * biggest)) {
    femtokit::Warn("CalcErrorMatrixFromCurvature: the curvature is not positive definite (eigenvalues %g to %g); "
                   "the error matrix is left as it was\n",
                   smallest, biggest);
    return false;
  }
  for (int i = 0; i < npars; i++)
    for (int j = 0; j <= i; j++) {
      double sum = 0.0;
      if (i < n && j < n)
        for (int k = 0; k < n; k++) sum += evec[i][k] * evec[j][k] / eval[k];
      ErrorMatrix[i][j] = ErrorMatrix[j][i] = sum;
    }
  for (int i = 0; i < n; i++) par[i].error = std::sqrt(std::fabs(ErrorMatrix[i][i]));
  return true;
}

void CCF2SFit::Newton(int n) {
  if (nfreepars < 1) {
    femtokit::Warn("Newton: no free parameters, nothing to do\n");
    status = Failed("Newton: no free parameters");
    return UpdateBoundStatus();
  }
  CheckStepScales("Newton");
  status = FitStatus();
  const int nf = nfreepars;
  const size_t N = static_cast<size_t>(nf);
  std::vector<double> x(N), h(N), g(N), delta(N), xt(N), xnew(N);
  Matrix H(N, std::vector<double>(N, 0.0));
  for (int i = 0; i < nf; i++) {
    x[i] = par[i].value;
    h[i] = par[i].error;
  }
  // chi^2 at x shifted by a along i and b along j (j < 0: along i only).
  auto shifted = [&](int i, double a, int j, double b) {
    xt = x;
    xt[i] += a;
    if (j >= 0) xt[j] += b;
    return GetChiSquared(xt.data());
  };
  // Leaves the fit at x with chi^2 c; a failure with its reason.
  auto finish = [&](double c) {
    for (int i = 0; i < nf; i++) par[i].value = x[i];
    chi2 = c;
    UpdateBoundStatus();
  };
  auto fail = [&](double c, const std::string &reason) {
    status = Failed(reason);
    finish(c);
  };
  // chi^2 = -2 ln L: the curvature of -ln L is half the chi^2 Hessian.
  auto errorsfrom = [&](const Matrix &hessian) {
    Matrix C = hessian;
    for (auto &row : C)
      for (double &v : row) v *= 0.5;
    return CalcErrorMatrixFromCurvature(C);
  };
  const int iterations = n <= 1 ? 1 : 2;
  std::vector<double> xc(N);
  for (int i = 0; i < nf; i++) x[i] = Project(par[i], x[i]);
  for (int t = 1; t <= iterations; t++) {
    const double c0 = GetChiSquared(x.data());
    if (!std::isfinite(c0)) {
      femtokit::Warn("Newton: chi^2 is %g at the starting point; nothing done\n", c0);
      status = Failed(femtokit::Format("chi^2 is %g at the starting point of Newton's iteration", c0));
      return UpdateBoundStatus();
    }
    // A Hessian that is not positive definite may be the stencils' fault (too
    // wide for the curvature of chi^2): the steps are halved and it is
    // computed again, a few times, before the iteration gives up.
    for (int narrowed = 0;; narrowed++) {
      // The difference stencils x +- h sit inside the bounds: centred at xc,
      // moved away from a bound (and narrowed where the range is short).
      for (int i = 0; i < nf; i++) {
        double lo, hi;
        Stencil(par[i], x[i], 2.0 * h[i], lo, hi, xc[i]);
        h[i] = 0.5 * (hi - lo);
        if (!(h[i] > 0.0)) {
          femtokit::Warn("Newton: the range of %s is empty; the iteration ends at the current point\n",
                         par[i].name.c_str());
          return fail(c0, "the range of " + par[i].name + " is empty");
        }
      }
      const std::vector<double> xsaved = x;
      x = xc;  // the stencils below are about xc
      const double cc = xc == xsaved ? c0 : GetChiSquared(xc.data());
      for (int i = 1; i < nf; i++)
        for (int j = 0; j < i; j++) {
          const double cpp = shifted(i, h[i], j, h[j]), cpm = shifted(i, h[i], j, -h[j]);
          const double cmp = shifted(i, -h[i], j, h[j]), cmm = shifted(i, -h[i], j, -h[j]);
          H[i][j] = H[j][i] = (cpp + cmm - cpm - cmp) / (4.0 * h[i] * h[j]);
          femtokit::Print("___ itry=%d, Curvature[%d][%d]=%g ___\n", t, i, j, H[i][j]);
        }
      for (int i = 0; i < nf; i++) {
        const double cp = shifted(i, h[i], -1, 0.0), cm = shifted(i, -h[i], -1, 0.0);
        H[i][i] = (cp + cm - 2.0 * cc) / (h[i] * h[i]);
        femtokit::Print("___ itry=%d, Curvature[%d][%d]=%g ___\n", t, i, i, H[i][i]);
        g[i] = (cp - cm) / (2.0 * h[i]);
      }
      x = xsaved;
      // The gradient at x from the one at the stencil centre.
      for (int i = 0; i < nf; i++)
        for (int j = 0; j < nf; j++) g[i] += H[i][j] * (x[j] - xc[j]);
      // Singular up to rounding (a parameter without effect leaves a zero
      // diagonal and off-diagonals of 1e-13) or not a minimum: judged on the
      // Hessian in units of the steps, where all parameters weigh alike.
      Matrix Hs = H, evec;
      std::vector<double> eval;
      for (int i = 0; i < nf; i++)
        for (int j = 0; j < nf; j++) Hs[i][j] *= h[i] * h[j];
      bool finite = true;
      for (const auto &row : Hs)
        for (double v : row) finite = finite && std::isfinite(v);
      if (!finite) {
        femtokit::Warn("Newton: the chi^2 curvature is not finite; the iteration ends at the current point\n");
        return fail(c0, "the chi^2 curvature is not finite");
      }
      CGSLMatrix_Real solver(nf);
      solver.EigenFind(Hs, evec, eval);
      const int kmin = static_cast<int>(std::min_element(eval.begin(), eval.end()) - eval.begin());
      const double biggest = *std::max_element(eval.begin(), eval.end());
      if (!(biggest > 0.0) || !(eval[kmin] > 1e-10 * biggest)) {
        int along = 0;
        for (int i = 1; i < nf; i++)
          if (std::fabs(evec[i][kmin]) > std::fabs(evec[along][kmin])) along = i;
        const char *kind = eval[kmin] > -1e-10 * std::fabs(biggest) ? "singular" : "negative";
        if (kind[0] == 'n' && narrowed < kMaxNarrowings) {
          for (double &step : h) step *= 0.5;
          continue;
        }
        femtokit::Warn("Newton: the chi^2 curvature is %s along %s (eigenvalue %g of the step-scaled Hessian, "
                       "largest %g); fix that parameter or start nearer the minimum. The iteration ends at the current "
                       "point\n",
                       kind, par[along].name.c_str(), eval[kmin], biggest);
        return fail(c0, femtokit::Format("the chi^2 curvature is %s along %s: not a minimum (fix %s or start nearer "
                                         "the minimum)",
                                         kind, par[along].name.c_str(), par[along].name.c_str()));
      }
      break;
    }
    // Parameters on a bound that the step would push out stay there; the
    // step solves the Newton equations of the others.
    std::vector<int> moving;
    for (int i = 0; i < nf; i++)
      if (!Blocked(par[i], x[i], g[i])) moving.push_back(i);
    std::fill(delta.begin(), delta.end(), 0.0);
    if (moving.empty()) {
      femtokit::Print("Newton: every free parameter is held by a bound\n");
      status.code = FitStatus::Code::Converged;
      status.reason.clear();
      status.errorsvalid = errorsfrom(H);
      return finish(c0);
    }
    const size_t m = moving.size();
    Matrix Hm(m, std::vector<double>(m));
    std::vector<double> gm(m), dm(m);
    for (size_t a = 0; a < m; a++) {
      gm[a] = g[moving[a]];
      for (size_t b = 0; b < m; b++) Hm[a][b] = H[moving[a]][moving[b]];
    }
    if (!CGSLMatrix_Real(static_cast<int>(m)).SolveLinearEqs(gm, Hm, dm)) {
      femtokit::Warn("Newton: the chi^2 Hessian is singular; the iteration ends at the current point\n");
      return fail(c0, "the chi^2 Hessian is singular");
    }
    for (size_t a = 0; a < m; a++) delta[moving[a]] = dm[a];
    // The gain the quadratic model predicts for the whole step.
    double predicted = 0.0;
    for (int i = 0; i < nf; i++) predicted += 0.5 * g[i] * delta[i];
    int halvings = 0;
    double cnew = c0;
    for (;;) {
      if (femtokit::Shows(femtokit::Verbosity::Normal)) {
        std::string line = "delx[] = ";
        for (double d : delta) line += femtokit::Format("%g ", d);
        femtokit::Print("%s\n", line.c_str());
      }
      // A step that leaves the bounds is projected back onto them.
      for (int i = 0; i < nf; i++) xnew[i] = Project(par[i], x[i] - delta[i]);
      cnew = GetChiSquared(xnew.data());
      if (cnew <= c0) break;  // false for NaN: a non-finite chi^2 counts as higher
      if (++halvings > kMaxHalvings) {
        // At a minimum up to the resolution of chi^2 when the step predicted
        // no real gain; otherwise the quadratic model failed.
        if (std::fabs(predicted) < kNewtonTolerance) {
          status.code = FitStatus::Code::Converged;
          status.reason.clear();
          status.errorsvalid = errorsfrom(H);
          return finish(c0);
        }
        femtokit::Warn("Newton: no lower chi^2 along the step after %d halvings; the iteration ends at the current "
                       "point\n",
                       kMaxHalvings);
        return fail(c0, femtokit::Format("no lower chi^2 along the Newton step (predicted gain %g) after %d halvings",
                                         predicted, kMaxHalvings));
      }
      for (double &d : delta) d *= 0.5;
      femtokit::Print("new chi^2 bigger than previous, will rescale delx[]\n");
    }
    femtokit::Print("SUCCESS!!!!!!!!!!!\n");
    const bool haveerrors = errorsfrom(H);
    for (int i = 0; i < nf; i++) h[i] = par[i].error;
    x = xnew;
    // The errors are the curvature's at the step's start: they describe the
    // end point when the step was a small one.
    const double gain = c0 - cnew;
    if (gain < kNewtonTolerance) {
      status.code = FitStatus::Code::Converged;
      status.reason.clear();
      status.errorsvalid = haveerrors;
    } else {
      status = Failed(femtokit::Format("not converged: the last Newton iteration lowered chi^2 by %.3g of %.3g "
                                       "predicted (run more iterations)",
                                       gain, predicted));
    }
    finish(cnew);
  }
}

void CCF2SFit::SteepestDescent(int n) {
  if (nfreepars < 1 || n < 1) {
    femtokit::Warn("SteepestDescent(%d) with %d free parameters: nothing to do\n", n, nfreepars);
    status = Failed(femtokit::Format("SteepestDescent(%d) with %d free parameters: nothing done", n, nfreepars));
    return UpdateBoundStatus();
  }
  CheckStepScales("SteepestDescent");
  // The descent computes no errors; it ends converged only by its own test.
  status = Failed(femtokit::Format("not converged in %d steepest-descent iterations", n));
  const size_t N = static_cast<size_t>(npars);
  std::vector<double> x(N), e(N, 0.0), g(N, 0.0), xa(N), xb(N), xnew(N);
  for (int i = 0; i < npars; i++) {
    x[i] = par[i].value;
    if (i < nfreepars) {
      e[i] = par[i].error;
      x[i] = Project(par[i], x[i]);
    }
  }
  double d = 3.0;
  double cref = GetChiSquared(x.data());
  int small = 0, t = 0;
  while (t < n) {
    t++;
    double gnorm = 0.0;
    for (int i = 0; i < nfreepars; i++) {
      xa = x;
      xb = x;
      double centre;
      Stencil(par[i], x[i], d * e[i], xa[i], xb[i], centre);
      g[i] = xb[i] > xa[i] ? (GetChiSquared(xb.data()) - GetChiSquared(xa.data())) * e[i] / (xb[i] - xa[i]) : 0.0;
      // On a bound that the descent would cross, the parameter stays.
      if (Blocked(par[i], x[i], g[i])) g[i] = 0.0;
      gnorm += g[i] * g[i];
    }
    gnorm = std::sqrt(gnorm);
    if (gnorm == 0.0) {
      femtokit::Print("SteepestDescent: zero gradient, a stationary point; the descent stops\n");
      status.code = FitStatus::Code::Converged;
      status.reason.clear();
      break;
    }
    if (!std::isfinite(gnorm)) {
      femtokit::Warn("SteepestDescent: the gradient is %g; the descent stops\n", gnorm);
      status = Failed(femtokit::Format("the chi^2 gradient is %g", gnorm));
      break;
    }
    // Curvature of chi^2 along the gradient, in units of the errors.
    xa = x;
    xb = x;
    for (int i = 0; i < nfreepars; i++) {
      const double step = -d * g[i] / gnorm * e[i];
      xa[i] = Project(par[i], x[i] - 0.5 * step);
      xb[i] = Project(par[i], x[i] + 0.5 * step);
      femtokit::Print("xa[%d]=%g, xb[%d]=%g\n", i, xa[i], i, xb[i]);
    }
    const double kappa = 4.0 * (GetChiSquared(xa.data()) + GetChiSquared(xb.data()) - 2.0 * cref) / (d * d);
    double lambda = gnorm / kappa;
    if (!(lambda >= 0.0)) {
      femtokit::Print("Warning: curvature in q has wrong sign\n");
      lambda = d;
    }
    lambda = std::min(lambda, 10.0 * d);
    // Line search: halve until chi^2 does not rise; a trial beyond a bound
    // is projected onto it, and a non-finite chi^2 counts as a rise.
    xnew = x;
    double cnew = cref;
    int halvings = 0;
    bool found = false;
    for (;;) {
      for (int i = 0; i < nfreepars; i++) xnew[i] = Project(par[i], x[i] - lambda * g[i] / gnorm * e[i]);
      cnew = GetChiSquared(xnew.data());
      if (cnew <= cref) {
        found = true;
        break;
      }
      if (++halvings > kMaxHalvings) break;
      lambda *= 0.5;
      femtokit::Print("new chi^2 not so good\n");
    }
    if (!found) {
      femtokit::Warn("SteepestDescent: no lower chi^2 along the gradient after %d halvings; the descent stops\n",
                     kMaxHalvings);
      status = Failed(femtokit::Format("no lower chi^2 along the gradient after %d halvings", kMaxHalvings));
      break;
    }
    x = xnew;
    const double gain = cref - cnew;
    cref = cnew;
    if (lambda < 2.0 * d) {
      // A small step refines the probes (twice at most, to d = 1/3); once
      // refined, a small step that gains less than kMinGain ends the descent.
      if (++small <= 2) d /= 3.0;
      if (small >= 2 && gain < kMinGain) {
        status.code = FitStatus::Code::Converged;
        status.reason.clear();
        break;
      }
    }
  }
  chi2 = cref;
  for (int i = 0; i < nfreepars; i++) par[i].value = x[i];
  UpdateBoundStatus();
}
