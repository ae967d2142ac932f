#include "source/sourcecalc_blast.h"
#include "source/sourceparameters.h"
#include "config/constants.h"

#include <algorithm>
#include <cmath>

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/parametermap.h"
#include "source/pairhistogram.h"

namespace {

const double SQRT2PI = 2.5066282746310002;
using femtokit::constants::FOURPIOVERTHREE;
// Rounding allowance of the weight guard: the bound is exact, the weights are
// computed along another path.
const double kWeightSlack = 1e-9;

}  // namespace

CSourceCalc_Blast::CSourceCalc_Blast() : randy(-1234) { InitSPars(); }

void CSourceCalc_Blast::InitSPars() {
  for (const femtokit::SourceParameter &p : femtokit::BlastModel().parameters) parameter::set(spars, p.name, p.def);
}

void CSourceCalc_Blast::SetSPars(double lambda, double R, double Tau, double DelTau) {
  InitSPars();
  parameter::set(spars, "lambda", lambda);
  parameter::set(spars, "R", R);
  parameter::set(spars, "Tau", Tau);
  parameter::set(spars, "DelTau", DelTau);
}

void CSourceCalc_Blast::SetSPars(double lambda, double R, double Tau, double DelTau, double Beta, double T,
                                 double Pt, double EtaG, double Ma, double Mb) {
  SetSPars(lambda, R, Tau, DelTau);
  parameter::set(spars, "Beta", Beta);
  parameter::set(spars, "T", T);
  parameter::set(spars, "Pt", Pt);
  parameter::set(spars, "EtaG", EtaG);
  parameter::set(spars, "Ma", Ma);
  parameter::set(spars, "Mb", Mb);
}

double CSourceCalc_Blast::GetTau(double tau0, double deltau) {
  const double p = SQRT2PI * tau0 * deltau / (deltau * deltau + SQRT2PI * tau0 * deltau);
  while (true) {
    if (randy.ran() < p) {
      // tau0 times a Gaussian, kept with probability min(1, tau/tau0)
      const double tau = tau0 + deltau * randy.gauss();
      if (tau < 0.0) continue;
      if (tau >= tau0) return tau;
      if (randy.ran() > tau / tau0) continue;
      return tau;
    }
    // (tau - tau0) times a Gaussian above tau0: a Rayleigh deviate
    double u = randy.ran();
    while (u == 0.0) u = randy.ran();
    return tau0 + deltau * std::sqrt(-2.0 * std::log(u));
  }
}

// With c = cosh(eta) >= 1, the smallest u.p on the disk is
//   E_min(c) = c m                                   while c u_p <= umax,
//   E_min(c) = sqrt(c^2 + umax^2) p0 - umax |p1|     beyond,
// (u_p = |p1|/m), a convex function of c, so ln of the weight,
// ln c - (E_min(c) - e_min)/T, is concave: its largest value is at a
// stationary point of one branch, at the branch boundary or at c = 1.
// For T <= m it decreases from c = 1, where it is 0.
double CSourceCalc_Blast::WeightBound(double m, double p1, double umax, double T) {
  if (!(T > m)) return 1.0;
  const double ap = std::fabs(p1), p0 = std::sqrt(m * m + ap * ap), up = ap / m;
  const double emin = umax > up ? m : std::sqrt(1.0 + umax * umax) * p0 - umax * ap;
  auto Emin = [&](double c) { return c * up <= umax ? c * m : std::sqrt(c * c + umax * umax) * p0 - umax * ap; };
  auto weight = [&](double c) { return c * std::exp(-(Emin(c) - emin) / T); };
  double best = 1.0;
  const double c1 = T / m;  // stationary point of c exp(-c m/T)
  if (c1 * up <= umax) best = std::max(best, weight(c1));
  // stationary point of the second branch: T^2 (c^2 + umax^2) = c^4 p0^2
  const double T2 = T * T;
  const double c2 = std::sqrt((T2 + std::sqrt(T2 * T2 + 4.0 * p0 * p0 * T2 * umax * umax)) / (2.0 * p0 * p0));
  if (c2 >= 1.0 && c2 * up >= umax) best = std::max(best, weight(c2));
  if (up > 0.0) {
    const double cb = umax / up;
    if (cb >= 1.0) best = std::max(best, weight(cb));
  }
  return best;
}

void CSourceCalc_Blast::Get_r(const double *p, Points &r) {
  const double m = std::sqrt(p[0] * p[0] - p[1] * p[1]);
  const femtokit::SourceModel &model = femtokit::BlastModel();
  const double EtaG = femtokit::ReadChecked(spars, model, "EtaG");
  const double R = femtokit::ReadChecked(spars, model, "R");
  const double T = femtokit::ReadChecked(spars, model, "T");
  const double Tau = femtokit::ReadChecked(spars, model, "Tau");
  const double Beta = femtokit::ReadChecked(spars, model, "Beta");
  const double DelTau = femtokit::ReadChecked(spars, model, "DelTau");
  const int N = static_cast<int>(femtokit::ReadChecked(spars, model, "Nsample"));
  if (!(m > 0.0)) femtokit::Fatal("CSourceCalc_Blast: four-momentum (%g,%g) has no positive mass\n", p[0], p[1]);

  const double umax = Beta / std::sqrt(1.0 - Beta * Beta);
  const double up = std::fabs(p[1]) / m, gammap = std::sqrt(1.0 + up * up);
  const double emin = umax > up ? m : std::sqrt(1.0 + umax * umax) * p[0] - umax * std::fabs(p[1]);
  const double W = WeightBound(m, p[1], umax, T);

  r.resize(static_cast<std::size_t>(N));
  for (int i = 0; i < N; i++) {
    while (true) {
      const double eta = EtaG * randy.gauss();
      double x, y;
      do {
        x = 1.0 - 2.0 * randy.ran();
        y = 1.0 - 2.0 * randy.ran();
      } while (x * x + y * y > 1.0);
      const double ux = x * umax, sh = std::sinh(eta);
      const double u0 = std::sqrt(1.0 + ux * ux + sh * sh);
      const double e = u0 * p[0] - ux * p[1];
      const double w = std::cosh(eta) * std::exp(-(e - emin) / T) / W;
      if (w > 1.0 + kWeightSlack)
        femtokit::Fatal("DISASTER! weight=%g which is > 1.0, eu=%g, eumin=%g\n", w, e, emin);
      if (randy.ran() > w) continue;
      const double tau = GetTau(Tau, DelTau);
      const double t = tau * std::cosh(eta), z = tau * sh, X = R * x, Y = R * y;
      r[static_cast<std::size_t>(i)] = {gammap * t - up * X, gammap * X - up * t, Y, z};
      break;
    }
  }
}

void CSourceCalc_Blast::Get_r(double *p, double **r) {
  Points points;
  Get_r(static_cast<const double *>(p), points);
  for (std::size_t i = 0; i < points.size(); i++)
    for (int k = 0; k < 4; k++) r[i][k] = points[i][static_cast<std::size_t>(k)];
}

void CSourceCalc_Blast::CalcS(CCHArray *A) {
  const femtokit::SourceModel &model = femtokit::BlastModel();
  femtokit::CheckAll(spars, model);
  const int N = static_cast<int>(femtokit::ReadChecked(spars, model, "Nsample"));
  const double Ma = femtokit::ReadChecked(spars, model, "Ma");
  const double Mb = femtokit::ReadChecked(spars, model, "Mb");
  const double lambda = femtokit::ReadChecked(spars, model, "lambda");
  const double Pt = femtokit::ReadChecked(spars, model, "Pt");
  const bool identical = std::fabs(Ma - Mb) < 1.0;
  if (N < (identical ? 2 : 1))
    femtokit::Fatal("CSourceCalc_Blast: Nsample=%d gives no pairs (at least %d needed)\n", N, identical ? 2 : 1);
  if (!(Ma > 0.0) || !(Mb > 0.0))
    femtokit::Fatal("CSourceCalc_Blast: masses Ma=%g, Mb=%g must be positive\n", Ma, Mb);

  // The two particles move with the pair's velocity.
  const double pa = Ma * Pt / (Ma + Mb), pb = Mb * Pt / (Ma + Mb);
  const double Pa[4] = {std::sqrt(Ma * Ma + pa * pa), pa, 0.0, 0.0};
  const double Pb[4] = {std::sqrt(Mb * Mb + pb * pb), pb, 0.0, 0.0};
  Points a, b;
  Get_r(Pa, a);
  if (!identical) Get_r(Pb, b);

  A->ZeroArray();
  const femtokit::PairSums sums =
      femtokit::HistogramPairs(a, b, identical, lambda, A, PairProgress(a.size(), identical ? a.size() : b.size(), identical));
  if (sums.pairs > 0.0)
    WarnLostFraction(1.0 - sums.inside / sums.pairs, "sampled pairs",
                     femtokit::Format("reaches %g fm", A->GetNRADIAL() * A->GetRADSTEP()));

  const double n = static_cast<double>(N);
  const double c = identical ? 2.0 / (n * (n - 1.0)) : 1.0 / (n * n);
  const double delr = A->GetRADSTEP();
  for (int ir = 0; ir < A->GetNRADIAL(); ir++) {
    const double volume = FOURPIOVERTHREE * delr * delr * delr * ((ir + 1.0) * (ir + 1.0) * (ir + 1.0) - 1.0 * ir * ir * ir);
    A->ScaleArray(c / volume, ir);
  }
}
