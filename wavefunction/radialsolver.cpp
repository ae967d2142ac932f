#include "wavefunction/radialsolver.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_odeiv2.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "config/constants.h"
#include "config/fatal.h"
#include "wavefunction/coulwave.h"

namespace femtokit {

namespace {

const double kR0 = 1.0e-6;      // fm, start of the outward integration
const double kRelTol = 1.0e-12;  // relative tolerance of the adaptive steps

struct Equation {
  const LocalPotential *V;
  double twomu, etak2, ll, k2;  // twomu, 2 eta k, l(l+1), k^2
};

int RHS(double r, const double y[], double dydr[], void *params) {
  const Equation *e = static_cast<const Equation *>(params);
  const double K = (e->V ? e->twomu * (*e->V)(r) : 0.0) + e->etak2 / r + e->ll / (r * r) - e->k2;
  dydr[0] = y[1];
  dydr[1] = K * y[0];
  return GSL_SUCCESS;
}

struct DriverDeleter {
  void operator()(gsl_odeiv2_driver *d) const { gsl_odeiv2_driver_free(d); }
};

}  // namespace

RadialSolver::RadialSolver(const LocalPotential *V, int l, double rmatch) : V_(V), l_(l), rmatch_(rmatch) {
  if (l < 0) Fatal("RadialSolver: l=%d is negative\n", l);
  if (!(rmatch > 10.0 * kR0) || !std::isfinite(rmatch))
    Fatal("RadialSolver: matching radius %g fm is not a finite radius above %g fm\n", rmatch, 10.0 * kR0);
  if (V_ != nullptr)
    for (double b : V_->Discontinuities())
      if (b > kR0 && b < rmatch_) breaks_.push_back(b);
  std::sort(breaks_.begin(), breaks_.end());
}

double RadialSolver::Integrate(double q, double eta, double twomu, int n, std::vector<double> *u,
                               std::vector<double> *up, double *factor) const {
  InitGSL();
  const double k = q / constants::HBARC;
  Equation eq{V_, twomu, 2.0 * eta * k, static_cast<double>(l_) * (l_ + 1), k * k};
  gsl_odeiv2_system sys{RHS, nullptr, 2, &eq};
  // Error per step relative to |u| + h |u'| (and |u'| + h |u''|), so that the
  // nodes of u need no absolute scale.
  std::unique_ptr<gsl_odeiv2_driver, DriverDeleter> driver(
      gsl_odeiv2_driver_alloc_standard_new(&sys, gsl_odeiv2_step_rk8pd, 0.1 * kR0, 0.0, kRelTol, 1.0, 1.0));
  if (!driver) Fatal("RadialSolver: cannot allocate the ODE driver\n");

  // u = r^(l+1)(1 + c1 r + ...): c1 from the 1/r terms of K (Coulomb and a
  // Yukawa-like V); the next order is below 1e-10 at r0.
  const double vc = V_ ? V_->CoulombLikeStrength() : 0.0;
  const double c1 = (2.0 * eta * k + twomu * vc) / (2.0 * (l_ + 1.0));
  double y[2];
  y[0] = std::pow(kR0, l_ + 1) * (1.0 + c1 * kR0);
  y[1] = std::pow(kR0, l_) * ((l_ + 1.0) + (l_ + 2.0) * c1 * kR0);
  double r = kR0;

  const bool table = u != nullptr;
  const double h = rmatch_ / std::max(n, 1);
  if (table) {
    u->assign(n + 1, 0.0);
    up->assign(n + 1, 0.0);
    (*up)[0] = l_ == 0 ? 1.0 : 0.0;
  }
  std::size_t ib = 0;
  auto advance = [&](double target) {
    // Stop at every discontinuity before target, restarting the stepper there.
    while (ib < breaks_.size() && breaks_[ib] <= target) {
      if (breaks_[ib] > r) {
        const int status = gsl_odeiv2_driver_apply(driver.get(), &r, breaks_[ib], y);
        if (status != GSL_SUCCESS)
          Fatal("RadialSolver: the integration fails at r=%g fm (q=%g MeV/c, l=%d): %s\n", r, q, l_,
                gsl_strerror(status));
        gsl_odeiv2_driver_reset(driver.get());
      }
      ++ib;
    }
    if (target > r) {
      const int status = gsl_odeiv2_driver_apply(driver.get(), &r, target, y);
      if (status != GSL_SUCCESS)
        Fatal("RadialSolver: the integration fails at r=%g fm (q=%g MeV/c, l=%d): %s\n", r, q, l_,
              gsl_strerror(status));
    }
  };
  if (table) {
    for (int i = 1; i <= n; i++) {
      const double target = i == n ? rmatch_ : i * h;
      advance(target);
      (*u)[i] = y[0];
      (*up)[i] = y[1];
    }
  } else {
    advance(rmatch_);
  }

  // Matching to the scaled Coulomb functions (F'G - FG' = 1 for them).
  const double rho = k * rmatch_;
  double Fs, Gs, Fps, Gps;
  CoulWave::GetFGScaled(l_, rho, eta, &Fs, &Gs, &Fps, &Gps);
  const double urho = y[1] / k;
  const double alpha = urho * Gs - y[0] * Gps;
  const double beta = Fps * y[0] - Fs * urho;
  const double lognorm = CoulWave::LogNorm(l_, eta);
  const double C2 = std::exp(2.0 * lognorm);
  const double norm = std::hypot(alpha, C2 * beta);
  if (!(norm > 0.0) || !std::isfinite(norm) || !std::isfinite(alpha) || !std::isfinite(beta))
    Fatal("RadialSolver: the l=%d wave at q=%g MeV/c does not match the Coulomb functions at r=%g fm\n", l_, q,
          rmatch_);
  const double sign = (alpha > 0.0 || (alpha == 0.0 && beta > 0.0)) ? 1.0 : -1.0;
  // w = F cos(delta) + G sin(delta) = sign C u/norm.
  if (factor != nullptr) *factor = sign * std::exp(lognorm) / norm;
  return std::atan2(sign * C2 * beta, sign * alpha);
}

RadialSolution RadialSolver::Solve(double q, double eta, double twomu, double h) const {
  if (!(h > 0.0)) Fatal("RadialSolver: table step %g fm is not positive\n", h);
  const int n = std::max(2, static_cast<int>(std::ceil(rmatch_ / h - 1e-9)));
  RadialSolution s;
  double factor = 0.0;
  s.delta = Integrate(q, eta, twomu, n, &s.w, &s.wp, &factor);
  s.h = rmatch_ / n;
  for (int i = 0; i <= n; i++) {
    s.w[i] *= factor;
    s.wp[i] *= factor;
  }
  return s;
}

double RadialSolver::Phase(double q, double eta, double twomu) const {
  return Integrate(q, eta, twomu, 0, nullptr, nullptr, nullptr);
}

}  // namespace femtokit
