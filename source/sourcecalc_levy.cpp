#include "source/sourcecalc_levy.h"
#include "source/sourceparameters.h"

#include "arrays/charray.h"

#include "config/fatal.h"
#include "math/internal/gslworkspace.h"

#include <gsl/gsl_integration.h>
#include <gsl/gsl_interp2d.h>
#include <gsl/gsl_sf_erf.h>
#include <gsl/gsl_spline.h>
#include <gsl/gsl_spline2d.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

namespace {

const double kTwoPi2 = 2.0 * M_PI * M_PI;

// log Gamma(x) without std::lgamma's write of the global signgam (a data race
// between threads).
double LogGamma(double x) {
  int sign = 0;
  return ::lgamma_r(x, &sign);
}

// f_alpha(0) = Gamma(3/alpha)/(2 pi^2 alpha).
double ProfileAtZero(double alpha) { return std::exp(LogGamma(3.0 / alpha)) / (kTwoPi2 * alpha); }

double Gaussian(double x) { return std::pow(4.0 * M_PI, -1.5) * std::exp(-0.25 * x * x); }

double GaussianTail(double x) {
  const double u = 0.5 * x;
  return gsl_sf_erfc(u) + 2.0 / std::sqrt(M_PI) * u * std::exp(-u * u);
}

void CheckAlpha(double alpha) {
  if (!(alpha > 0.0 && alpha <= 2.0)) femtokit::Fatal("Levy source: alpha=%g lies outside (0, 2]\n", alpha);
}

// Expansion of sin(xt)/(xt) under the integral:
//   f = (2 pi^2 alpha)^-1 sum_n (-1)^n x^2n Gamma((2n+3)/alpha)/(2n+1)!,
// convergent for alpha > 1 (for alpha = 1 when x < 1), asymptotic for alpha < 1.
// ok = false when it did not converge or cancels by more than 1e4.
double SmallSeries(double alpha, double x, bool &ok) {
  ok = false;
  const double lx = std::log(x);
  // |sum| <= Gamma(3/alpha) (f is largest at 0), so a term beyond 1e4 times
  // that means too much cancellation (or divergence) for the series to serve.
  const double first = LogGamma(3.0 / alpha), limit = first + std::log(1e4);
  double sum = 0.0, biggest = 0.0;
  for (int n = 0; n < 500; n++) {
    const double lt = LogGamma((2.0 * n + 3.0) / alpha) - LogGamma(2.0 * n + 2.0) + 2.0 * n * lx;
    if (lt > limit) return 0.0;
    const double size = std::exp(lt);
    sum += (n % 2 == 0) ? size : -size;
    biggest = std::max(biggest, size);
    if (size < 1e-17 * std::fabs(sum)) {
      ok = biggest < 1e4 * std::fabs(sum);
      return sum / (kTwoPi2 * alpha);
    }
  }
  return 0.0;
}

// Expansion of exp(-t^alpha) under the integral (alpha < 2):
//   Int_0^inf t sin(xt) e^(-t^alpha) dt = sum_{n>=1} (-1)^(n+1) Gamma(n alpha + 2) sin(pi n alpha/2)/(n! x^(n alpha + 2)),
// convergent for alpha < 1, asymptotic for alpha > 1 (summed to its smallest
// term); with `integrated` the terms are those of the tail fraction
//   Int_x^inf 4 pi y^2 f dy = (2/pi) sum (-1)^(n+1) Gamma(n alpha + 2) sin(pi n alpha/2)/(n! n alpha x^(n alpha)).
// ok = false unless the neglected terms (bounded without the sine) are below
// 1e-13 of the sum and the sum cancels by less than 1e4.
double LargeSeries(double alpha, double x, bool integrated, bool &ok) {
  ok = false;
  const double lx = std::log(x);
  double sum = 0.0, biggest = 0.0, previous = HUGE_VAL;
  for (int n = 1; n < 500; n++) {
    double lb = LogGamma(n * alpha + 2.0) - LogGamma(n + 1.0) - (n * alpha + 2.0) * lx;
    if (integrated) lb += 2.0 * lx - std::log(n * alpha);
    const double bound = std::exp(lb);
    if (n > 1 && bound > previous) break;  // asymptotic: smallest term passed
    const double term = bound * std::sin(0.5 * M_PI * n * alpha);
    sum += (n % 2 == 1) ? term : -term;
    biggest = std::max(biggest, bound);
    previous = bound;
    if (bound < 1e-17 * std::fabs(sum)) break;
  }
  ok = previous < 1e-13 * std::fabs(sum) && biggest < 1e4 * std::fabs(sum);
  return integrated ? 2.0 / M_PI * sum : sum / (kTwoPi2 * x);
}

// Tail fraction where the series of LargeSeries holds (far out); alpha = 2 in
// closed form. Fails (fatal) where the series does not converge.
double TailSeries(double alpha, double x) {
  if (alpha == 2.0) return GaussianTail(x);
  bool ok = false;
  const double t = LargeSeries(alpha, x, true, ok);
  if (!ok) femtokit::Fatal("Levy source: tail series at x=%g, alpha=%g did not converge\n", x, alpha);
  return t;
}

// The integral along the ray t = s e^(i phi), phi = pi/(2(alpha + 1)), where
// both e^(i x t) and e^(-t^alpha) decay (alpha phi = pi/2 - phi < pi/2):
//   Int_0^inf t sin(xt) e^(-t^alpha) dt = Im e^(2 i phi) Int_0^inf s exp(-(x s + s^alpha) sin phi + i (x s - s^alpha) cos phi) ds.
// The integrand falls by e^(-2 pi tan phi) per oscillation, so a plain
// adaptive quadrature converges without cancellation.
double Quadrature(double alpha, double x) {
  struct Pars {
    double alpha, x, sinphi, cosphi, s2, c2;
  };
  const double phi = M_PI / (2.0 * (alpha + 1.0));
  Pars p{alpha, x, std::sin(phi), std::cos(phi), std::sin(2.0 * phi), std::cos(2.0 * phi)};
  gsl_function f;
  f.function = [](double s, void *v) {
    const Pars &q = *static_cast<Pars *>(v);
    if (s == 0.0) return 0.0;
    const double sa = std::pow(s, q.alpha);
    const double mag = s * std::exp(-(q.x * s + sa) * q.sinphi);
    const double arg = (q.x * s - sa) * q.cosphi;
    return mag * (q.s2 * std::cos(arg) + q.c2 * std::sin(arg));  // Im(e^(2 i phi) e^(i arg))
  };
  f.params = &p;
  femtokit::InitGSL();
  femtokit::IntegrationWorkspace w = femtokit::MakeIntegrationWorkspace(2000);
  double result = 0.0, error = 0.0;
  gsl_integration_qagiu(&f, 0.0, 0.0, 1e-12, 2000, w.get(), &result, &error);
  return result / (kTwoPi2 * x);
}

// Tail fraction by quadrature of the directly computed profile (only for
// alpha below the table where the series does not converge).
double TailQuadrature(double alpha, double x) {
  struct Pars {
    double alpha;
  } p{alpha};
  gsl_function f;
  f.function = [](double y, void *v) {
    return 4.0 * M_PI * y * y * CSourceCalc_Levy::ProfileDirect(static_cast<Pars *>(v)->alpha, y);
  };
  f.params = &p;
  femtokit::InitGSL();
  femtokit::IntegrationWorkspace w = femtokit::MakeIntegrationWorkspace(1000);
  double result = 0.0, error = 0.0;
  gsl_integration_qagiu(&f, x, 1e-10, 1e-8, 1000, w.get(), &result, &error);
  return result;
}

struct Spline2dFree {
  void operator()(gsl_spline2d *s) const { gsl_spline2d_free(s); }
};

// Width of the profile's core, sqrt(-f(0)/(f''(0)/2)) = sqrt(6 Gamma(3/alpha)/Gamma(5/alpha)):
// 2 for alpha = 2, 1/sqrt(2) for alpha = 1, 0.045 for alpha = 0.5. The table
// runs in u = x/width, so that the core and the onset of the tail sit at
// similar u for every alpha.
double CoreWidth(double alpha) {
  return std::sqrt(6.0 * std::exp(LogGamma(3.0 / alpha) - LogGamma(5.0 / alpha)));
}

// Envelopes that the tables divide out, so that what is interpolated is of
// order 1 everywhere: with u = x/w,
//   profile:        f0 (1 + u^2)^(-(3+alpha)/2) (1 + c u^2)/(1 + u^2),
//   tail fraction:  (1 + u^2)^(-alpha/2) (1 + d u^2)/(1 + u^2),
// c - 1 and d - 1 the amplitudes of the power laws of the tail in u,
//   f -> C x^-(3+alpha), C = Gamma(alpha+2) sin(pi alpha/2)/(2 pi^2),
//   T -> (2/pi) Gamma(alpha+2) sin(pi alpha/2)/(alpha x^alpha).
// The amplitudes grow large for small alpha (the tail lies far above the
// core's continuation) and vanish linearly at alpha = 2; the added 1 keeps the
// envelope, and so the ratio, smooth in alpha there.
struct Envelope {
  double alpha, f0, c, d;
  Envelope(double a, double f0_in, double w) : alpha(a), f0(f0_in) {
    const double C = std::exp(LogGamma(a + 2.0)) * std::sin(0.5 * M_PI * a) / kTwoPi2;
    c = 1.0 + C / (f0 * std::pow(w, 3.0 + a));
    d = 1.0 + 4.0 * M_PI * C / (a * std::pow(w, a));
  }
  double Profile(double u) const {
    const double u2 = u * u;
    return f0 * std::pow(1.0 + u2, -0.5 * (5.0 + alpha)) * (1.0 + c * u2);
  }
  double Tail(double u) const {
    const double u2 = u * u;
    return std::pow(1.0 + u2, -0.5 * (2.0 + alpha)) * (1.0 + d * u2);
  }
};

// The alpha grid: steps of 0.01 from 0.3 to 0.7 and 0.025 from 0.7 to 1,
// where the core narrows and the tail rises fast with falling alpha, 0.05
// from 1 to 1.8, and 0.005 from 1.8 to 2, where the
// Gaussian core gives way to the power-law tail within a few widths and the
// profile changes fastest with alpha. It starts below kAlphaMin, the lowest
// alpha served from it, since the spline's end condition spoils its first
// intervals.
std::vector<double> AlphaGrid() {
  std::vector<double> a;
  for (int j = 0; j < 40; j++) a.push_back(0.3 + 0.01 * j);
  for (int j = 0; j < 12; j++) a.push_back(0.7 + 0.025 * j);
  for (int j = 0; j < 16; j++) a.push_back(1.0 + 0.05 * j);
  for (int j = 0; j < 40; j++) a.push_back(1.8 + 0.005 * j);
  a.push_back(2.0);
  return a;
}

// The tables on the grid alpha_j x y_k, y = ln u uniform from ln 1e-4 to
// ln 3e4 (spacing about 0.05), of the profile f and the tail fraction T over
// their envelopes: both are of order 1 at small and large u, are
// analytic in alpha (also through alpha = 2, where the power-law tail's
// weight vanishes linearly), and are interpolated bicubically.
class LevyTable {
 public:
  LevyTable() : alpha_(AlphaGrid()) {
    const int na = static_cast<int>(alpha_.size());
    const double ymin = std::log(CSourceCalc_Levy::kUMin), ymax = std::log(CSourceCalc_Levy::kUMax);
    const int ny = static_cast<int>(std::ceil((ymax - ymin) / 0.05)) + 1;
    y_.resize(ny);
    for (int k = 0; k < ny; k++) y_[k] = k == ny - 1 ? ymax : ymin + k * (ymax - ymin) / (ny - 1);
    std::vector<double> v(static_cast<std::size_t>(na) * ny), tau(v.size());
    femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
    for (int j = 0; j < na; j++) {
      errors.Run([&] {
        const double a = alpha_[j], f0 = ProfileAtZero(a), w = CoreWidth(a);
        const Envelope envelope(a, f0, w);
        std::vector<double> integrand(ny);
        for (int k = 0; k < ny; k++) {
          const double u = std::exp(y_[k]), x = u * w;
          const double f = CSourceCalc_Levy::ProfileDirect(a, x);
          integrand[k] = 4.0 * M_PI * x * x * x * f;  // d/dy of the held norm
          v[Index(j, k, na)] = f / envelope.Profile(u);
        }
        // Tail fractions downward from the top, where the series holds.
        std::unique_ptr<gsl_spline, void (*)(gsl_spline *)> s(gsl_spline_alloc(gsl_interp_cspline, ny),
                                                                gsl_spline_free);
        gsl_spline_init(s.get(), y_.data(), integrand.data(), ny);
        double T = TailSeries(a, CSourceCalc_Levy::kUMax * w);
        for (int k = ny - 1; k >= 0; k--) {
          if (k < ny - 1) T += gsl_spline_eval_integ(s.get(), y_[k], y_[k + 1], nullptr);
          const double u = std::exp(y_[k]);
          tau[Index(j, k, na)] = T / envelope.Tail(u);
        }
      });
    }
    errors.Rethrow();
    v_.reset(gsl_spline2d_alloc(gsl_interp2d_bicubic, na, ny));
    tau_.reset(gsl_spline2d_alloc(gsl_interp2d_bicubic, na, ny));
    gsl_spline2d_init(v_.get(), alpha_.data(), y_.data(), v.data(), na, ny);
    gsl_spline2d_init(tau_.get(), alpha_.data(), y_.data(), tau.data(), na, ny);
  }

  double V(double alpha, double y) const { return Eval(v_.get(), alpha, y); }
  double Tau(double alpha, double y) const { return Eval(tau_.get(), alpha, y); }

 private:
  static std::size_t Index(int j, int k, int na) { return static_cast<std::size_t>(k) * na + j; }
  static double Eval(const gsl_spline2d *s, double alpha, double y) {
    gsl_interp_accel xa{0, 0, 0}, ya{0, 0, 0};  // per call: the table is shared between threads
    return gsl_spline2d_eval(s, alpha, y, &xa, &ya);
  }
  std::vector<double> alpha_, y_;
  std::unique_ptr<gsl_spline2d, Spline2dFree> v_, tau_;
};

const LevyTable &Table() {
  static const LevyTable table;
  return table;
}

}  // namespace

CSourceCalc_Levy::CSourceCalc_Levy() { InitSPars(); }

void CSourceCalc_Levy::InitSPars() {
  for (const femtokit::SourceParameter &p : femtokit::LevyModel().parameters) parameter::set(spars, p.name, p.def);
}

void CSourceCalc_Levy::SetSPars(double lambda, double R, double alpha) {
  parameter::set(spars, "lambda", lambda);
  parameter::set(spars, "R", R);
  parameter::set(spars, "alpha", alpha);
}

void CSourceCalc_Levy::ReadPars(double &lambda, double &R, double &alpha) const {
  const femtokit::SourceModel &m = femtokit::LevyModel();
  lambda = femtokit::ReadChecked(spars, m, "lambda");
  R = femtokit::ReadChecked(spars, m, "R");
  alpha = femtokit::ReadChecked(spars, m, "alpha");
}

double CSourceCalc_Levy::ProfileDirect(double alpha, double x) {
  CheckAlpha(alpha);
  if (!(x >= 0.0)) femtokit::Fatal("Levy source: negative or undefined separation %g\n", x);
  if (alpha == 2.0) return Gaussian(x);
  if (x == 0.0) return ProfileAtZero(alpha);
  if (std::isinf(x)) return 0.0;
  bool ok = false;
  double f = SmallSeries(alpha, x, ok);
  if (ok) return f;
  f = LargeSeries(alpha, x, false, ok);
  if (ok) return f;
  return Quadrature(alpha, x);
}

CSourceCalc_Levy::Shape::Shape(double alpha_in) : alpha(alpha_in) {
  CheckAlpha(alpha);
  f0 = ProfileAtZero(alpha);
  width = CoreWidth(alpha);
  tabulated = alpha >= kAlphaMin && alpha < 2.0;
}

double CSourceCalc_Levy::Shape::Profile(double x) const {
  if (!(x >= 0.0)) femtokit::Fatal("Levy source: negative or undefined separation %g\n", x);
  const double u = x / width;
  if (alpha == 2.0) return Gaussian(x);
  if (!(tabulated && u >= kUMin && u <= kUMax)) return ProfileDirect(alpha, x);
  return Table().V(alpha, std::log(u)) * Envelope(alpha, f0, width).Profile(u);
}

double CSourceCalc_Levy::Shape::TailFraction(double x) const {
  if (!(x >= 0.0)) femtokit::Fatal("Levy source: negative or undefined separation %g\n", x);
  if (alpha == 2.0) return GaussianTail(x);
  if (std::isinf(x)) return 0.0;
  const double u = x / width;
  if (u >= kUMax) return TailSeries(alpha, x);
  if (!tabulated) {
    bool ok = false;
    const double t = x > 0.0 ? LargeSeries(alpha, x, true, ok) : 1.0;
    return ok || x == 0.0 ? t : TailQuadrature(alpha, x);
  }
  if (u <= kUMin) return 1.0 - 4.0 * M_PI / 3.0 * x * x * x * f0;
  return Table().Tau(alpha, std::log(u)) * Envelope(alpha, f0, width).Tail(u);
}

double CSourceCalc_Levy::Profile(double alpha, double x) { return Shape(alpha).Profile(x); }

double CSourceCalc_Levy::TailFraction(double alpha, double x) { return Shape(alpha).TailFraction(x); }

double CSourceCalc_Levy::Source(double r) const {
  double lambda, R, alpha;
  ReadPars(lambda, R, alpha);
  return lambda * Profile(alpha, r / R) / (R * R * R);
}

double CSourceCalc_Levy::LostFraction(double rho) const {
  double lambda, R, alpha;
  ReadPars(lambda, R, alpha);
  return TailFraction(alpha, rho / R);
}

void CSourceCalc_Levy::CalcS(int lx, int ly, int lz, CCHArray *A) {
  double lambda, R, alpha;
  ReadPars(lambda, R, alpha);
  const double delr = A->GetRADSTEP(), scale = lambda / (R * R * R);
  const bool isotropic = lx == 0 && ly == 0 && lz == 0;
  const Shape shape(alpha);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir)
    A->SetElement(lx, ly, lz, ir, isotropic ? scale * shape.Profile((ir + 0.5) * delr / R) : 0.0);
}

void CSourceCalc_Levy::CalcS(CCHArray *A) {
  double lambda, R, alpha;
  ReadPars(lambda, R, alpha);
  A->ZeroArray();
  CalcS(0, 0, 0, A);
  CheckMeshReach(A, R, alpha);
}

void CSourceCalc_Levy::CheckMeshReach(const CCHArray *A, double R, double alpha) const {
  const double reach = A->GetNRADIAL() * A->GetRADSTEP();
  const Shape shape(alpha);
  const double lost = shape.TailFraction(reach / R);
  if (!(lost > kLostNormTolerance)) return;
  // The reach that would hold all but the tolerance: double, then bisect in
  // the logarithm (heavy tails need reaches of many decades).
  double lo = std::max(reach, 1e-3 * R), hi = 2.0 * lo;
  while (shape.TailFraction(hi / R) > kLostNormTolerance && hi < 1e30 * R) {
    lo = hi;
    hi *= 2.0;
  }
  for (int i = 0; i < 40; ++i) {
    const double mid = std::sqrt(lo * hi);
    (shape.TailFraction(mid / R) > kLostNormTolerance ? lo : hi) = mid;
  }
  WarnLostNorm(lost, reach, hi);
}
