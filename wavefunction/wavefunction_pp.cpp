#include "wavefunction/wavefunction_pp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "config/fatal.h"
#include "math/misc.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/reid93.h"

namespace {

// Where the integrated Reid93 solutions and the phase-shift form agree (the
// one-pion tail is below 1e-5 of the kinetic energy there): the default
// EPSILON. Inside the tail the phase-shift form is not valid.
const double kMatchingEpsilon = 9.0;
// Largest jump of |psi|^2 across EPSILON accepted without a warning.
const double kEpsilonJumpTolerance = 1e-3;

}  // namespace

double CWaveFunction_pp::Reid93Potential(double r, const char *statename, const char *pairtype) {
  double v11, v12, v22;
  creid93(&r, statename, pairtype, &v11, &v12, &v22);
  return v11;
}

CWaveFunction_pp::CWaveFunction_pp(const char *parsfilename) : potential(&Reid93Potential) {
  Build(parsfilename);
}

CWaveFunction_pp::CWaveFunction_pp(const std::string &parsfilename) : potential(&Reid93Potential) {
  Build(parsfilename.c_str());
}

CWaveFunction_pp::CWaveFunction_pp(const std::string &parsfilename, PotentialFunction potential_in)
    : potential(potential_in) {
  Build(parsfilename.c_str());
}

void CWaveFunction_pp::Build(const char *parsfilename) {
  ParsInit(parsfilename, kMatchingEpsilon);
  nradial = 1000;
  q1q2 = 1;  // always charged, whatever COULOMB says
  ellmax = 1;
  strongflag = STRONG;
  nchannels = 4;
  m1 = m2 = MPROTON;
  rmax = 10.0;
  // Inside epsilon the radial tables are read; they end at rmax.
  if (epsilon >= rmax)
    femtokit::Fatal("CWaveFunction_pp: EPSILON = %g fm must be below the integration radius rmax = %g fm\n",
                    epsilon, rmax);
  InitArrays();
  femtokit::Print("Arrays Initialized\n");
  ell[0] = 0;
  ell[1] = ell[2] = ell[3] = 1;
  // The partial-wave tables reach 30 fm (the default); CKernel::Calc extends
  // them to its mesh's reach (TabulateTo), so no kernel point evaluates the
  // Coulomb functions directly and no table is built beyond what is read.
  InitWaves();
  femtokit::Print("Partial Waves Initialized\n");
  ellmaxcopy = static_cast<short>(ellmax);
  pairtype = "PP";

  const RadialTable zero(nradial + 1, 0.0);
  Ftriplet1.assign(nqmax, zero);
  Dtriplet1.assign(nqmax, zero);
  Ftriplet0.assign(nqmax, zero);
  Dtriplet0.assign(nqmax, zero);
  Dsinglet.assign(nqmax, zero);
  phase_1S0.assign(nqmax, 0.0);
  phase_3P0.assign(nqmax, 0.0);
  phase_3P1.assign(nqmax, 0.0);
  phase_NS.assign(nqmax, 0.0);
  phase_3C2.assign(nqmax, 0.0);
  phase_NS0.assign(nqmax, 0.0);
  uwork.assign(nradial + 3, 0.0);
  u_3P0 = u_3P1 = u_3C2 = u_1S0 = u_NS = u_NS0 = zero;
  scratch_.kwork.assign(nradial + 2, 0.0);
  scratch_.u.assign(nradial + 2, 0.0);
  scratch_.scaled.assign(7, zero);
  sminus1_.assign(7, std::vector<std::complex<double>>(nqmax, 0.0));
  qfactors.assign(nqmax, QFactors());
  Initialize();
  if (epsilon_given && STRONG) {
    const double jump = EpsilonJump();
    if (jump > kEpsilonJumpTolerance)
      femtokit::Warn("WARNING: at EPSILON = %g fm the integrated and phase-shift forms of |psi|^2 differ by up to %g; "
                     "they agree at %g fm (the default)\n",
                     epsilon, jump, kMatchingEpsilon);
  }
}

int CWaveFunction_pp::Initialize() {
  const bool strong = strongflag != 0;
  struct State {
    short l;
    const char *name;
    short which;
    bool strong;
  };
  const State states[] = {{0, "1S0", 3, strong}, {1, "3P0", 1, strong}, {1, "3P1", 2, strong},
                          {1, "3C2", 5, strong}, {1, "NS", 4, false},   {0, "NS", 6, false}};
  // The potential tables are filled before the threads start (the potential
  // function need not be thread safe); afterwards they are only read.
  std::vector<const std::vector<double> *> V(7, nullptr);
  for (const State &s : states)
    if (s.strong) V[s.which] = &PotentialTable(s.name);

  // Every mesh point is integrated by one thread with its own scratch, in the
  // same order of operations whatever the thread count. The public solution
  // tables keep the last mesh point's, as a serial loop leaves them.
  const RadialTable zero(nradial + 1, 0.0);
  femtokit::ParallelErrors errors;
#pragma omp parallel
  {
    Scratch work;
    work.kwork.assign(nradial + 2, 0.0);
    work.u.assign(nradial + 2, 0.0);
    work.scaled.assign(7, zero);
#pragma omp for schedule(dynamic)
    for (int iq = 0; iq < nqmax; ++iq) {
      errors.Run([&] {
        for (const State &s : states)
          Integrate(iq, s.l, s.name, s.which, V[s.which], work, iq == nqmax - 1);
        // From the scaled solutions: l = 1 tables in units of C_1, the singlet in units of C_0.
        const RadialTable &s3P0 = work.scaled[1], &s3P1 = work.scaled[2], &s1S0 = work.scaled[3],
                          &sNS = work.scaled[4], &s3C2 = work.scaled[5], &sNS0 = work.scaled[6];
        RadialTable &F1 = Ftriplet1[iq], &D1 = Dtriplet1[iq], &F0 = Ftriplet0[iq], &D0 = Dtriplet0[iq],
                    &DS = Dsinglet[iq];
        for (int i = nradial; i >= 0; --i) {
          F1[i] = 0.5 * (s3C2[i] - s3P1[i]);
          D1[i] = 0.5 * (s3C2[i] + s3P1[i]) - sNS[i];
          F0[i] = (s3C2[i] - s3P0[i]) / 3.0;
          D0[i] = (2.0 * s3C2[i] + s3P0[i]) / 3.0 - sNS[i];
          DS[i] = s1S0[i] - sNS0[i];
        }
        FillQFactors(iq);
      });
    }
  }
  errors.Rethrow();
  statename = states[5].name;
  return 1;
}

const std::vector<double> &CWaveFunction_pp::PotentialTable(const std::string &state) {
  std::vector<double> &V = potential_cache_[state];
  if (V.empty()) {
    const double h = rmax / nradial;
    V.assign(nradial + 2, 0.0);
    for (int j = 1; j <= nradial + 1; ++j) V[j] = potential(j * h, state.c_str(), pairtype.c_str());
  }
  return V;
}

int CWaveFunction_pp::GetPsiNoneCoupledState(long iq, short l, const char *name, short which, bool strong) {
  statename = name;
  if (which < 1 || which > 6) return 1;
  const std::vector<double> *V = strong ? &PotentialTable(statename) : nullptr;
  Integrate(static_cast<int>(iq), l, name, which, V, scratch_, true);
  return 1;
}

void CWaveFunction_pp::Integrate(int iq, int l, const char *name, int which, const std::vector<double> *V,
                                 Scratch &work, bool publish) {
  const int N = nradial;
  const double h = rmax / N, h2 = h * h;
  const double q = qarray[iq], k = q / HBARC;
  // Strong potential with 2 mu = M_p and the exact relative momentum q: the
  // equation with which Reid93 was fitted to the scattering data, so the
  // phases are those of the potential. The Coulomb term 2 eta k/r takes the
  // eta of the plane and partial waves, and the Coulomb functions it is
  // matched to solve the same equation. eta k = mu alpha/(hbar c) does not
  // depend on q, so the equation in r has a finite limit as q -> 0.
  const double mu = MPROTON * MPROTON / (2.0 * MPROTON);
  const double eta_int = eta[iq];
  const double etak = eta_int * k;
  const double hc2 = HBARC * HBARC;
  const double ll = l * (l + 1.0);

  // K(r_j) for j = 1 ... N+1, u'' = K u.
  std::vector<double> &kwork = work.kwork;
  for (int j = 1; j <= N + 1; ++j) {
    const double r = j * h;
    kwork[j] = (V ? 2.0 * mu * (*V)[j] / hc2 : 0.0) + 2.0 * etak / r + ll / (r * r) - k * k;
  }

  // The regular solution u = r^(l+1) (1 + c1 r + c2 r^2 + ...) outward from the
  // origin by Numerov's method (global error O(h^4)). Outward it is the
  // growing solution inside the Coulomb barrier, so no cancellation arises at
  // any q. K u is smooth at r = 0, where it is u''(0) = 2 eta k (l = 0), 2 (l = 1).
  std::vector<double> &u = work.u;
  const double v1 = V ? 2.0 * mu * (*V)[1] / hc2 : 0.0;
  const double c1 = etak / (l + 1.0);
  const double c2 = (2.0 * etak * c1 + v1 - k * k) / (2.0 * (2.0 * l + 3.0));
  const double upp0 = l == 0 ? 2.0 * etak : (l == 1 ? 2.0 : 0.0);
  auto w = [&](int j) { return 1.0 - h2 * kwork[j] / 12.0; };
  u[0] = 0.0;
  u[1] = std::pow(h, l + 1) * (1.0 + c1 * h + c2 * h2);
  u[2] = (2.0 * u[1] * (1.0 + 5.0 * h2 * kwork[1] / 12.0) + h2 * upp0 / 12.0) / w(2);
  for (int n = 2; n <= N; ++n) u[n + 1] = (2.0 * u[n] * (1.0 + 5.0 * h2 * kwork[n] / 12.0) - u[n - 1] * w(n - 1)) / w(n + 1);
  const double du = ((1.0 - h2 * kwork[N + 1] / 6.0) * u[N + 1] - (1.0 - h2 * kwork[N - 1] / 6.0) * u[N - 1]) / (2.0 * h);

  // Matching at rmax to u = alpha F/C_l + beta G C_l (scaled Coulomb functions,
  // F'G - FG' = 1), so tan(delta) = C_l^2 beta/alpha: the phase shift keeps its
  // relative precision where it is of order e^(-2 pi eta).
  const double rho = k * rmax;
  double Fs, Gs, Fps, Gps;
  CoulWave::GetFGScaled(l, rho, eta_int, &Fs, &Gs, &Fps, &Gps);
  const double urho = du / k;
  const double alpha = urho * Gs - u[N] * Gps;
  const double beta = Fps * u[N] - Fs * urho;
  const double lognorm = CoulWave::LogNorm(l, eta_int);
  const double C2 = std::exp(2.0 * lognorm);
  const double norm = std::hypot(alpha, C2 * beta);
  if (!(norm > 0.0) || !std::isfinite(norm))
    femtokit::Fatal("CWaveFunction_pp: the %s wave at q = %g MeV/c does not match the Coulomb functions at r = %g fm\n",
                    name, q, rmax);
  // delta in (-pi/2, pi/2]: cos(delta) = sign alpha/norm, sin(delta) = sign C_l^2 beta/norm.
  const double sign = (alpha > 0.0 || (alpha == 0.0 && beta > 0.0)) ? 1.0 : -1.0;
  const std::complex<double> eidelta(sign * alpha / norm, sign * C2 * beta / norm);

  // The regular solution normalised to e^(i delta)(F cos(delta) + G sin(delta)),
  // divided by C_l; the unscaled one (0 where it underflows) for the public table.
  RadialTable &scaled = work.scaled[which];
  const std::complex<double> factor = eidelta * (sign / norm);
  for (int i = 0; i <= N; ++i) scaled[i] = factor * u[i];
  if (publish) {
    const double C = std::exp(lognorm);
    RadialTable *target = which == 1 ? &u_3P0 : which == 2 ? &u_3P1 : which == 3 ? &u_1S0
                        : which == 4 ? &u_NS : which == 5 ? &u_3C2 : &u_NS0;
    for (int i = 0; i <= N; ++i) (*target)[i] = C * scaled[i];
  }
  // (S - 1)/C_l^2 = -2i sin(delta) e^(-i delta)/C_l^2.
  sminus1_[which][iq] = std::complex<double>(0.0, -2.0 * sign * beta / norm) * std::conj(eidelta);
  double phi = std::arg(eidelta) + 0.5 * M_PI;
  phi -= M_PI * std::floor(phi / M_PI);
  std::vector<double> &phase = which == 1 ? phase_3P0 : which == 2 ? phase_3P1 : which == 3 ? phase_1S0
                             : which == 4 ? phase_NS : which == 5 ? phase_3C2 : phase_NS0;
  phase[iq] = phi;
}

void CWaveFunction_pp::FillQFactors(int iq) {
  QFactors &f = qfactors[iq];
  f.eisigma0 = Misc::ceiphi(-partwave[0][iq]->sigma);
  f.eisigma1 = Misc::ceiphi(-partwave[1][iq]->sigma);
  // S - 1 = e^(-2 i delta) - 1, in units of C_l^2 of its l.
  const std::complex<double> s1S0 = sminus1_[3][iq], s3P0 = sminus1_[1][iq], s3P1 = sminus1_[2][iq],
                             s3C2 = sminus1_[5][iq];
  f.s_singlet = s1S0;
  f.d_triplet1 = 0.5 * (s3P1 + s3C2);
  f.f_triplet1 = 0.5 * (s3P1 - s3C2);
  f.d_triplet0 = s3P0 / 3.0 + 2.0 * s3C2 / 3.0;
  f.f_triplet0 = (s3C2 - s3P0) / 3.0;
  // C_1/C_0 = |1 + i eta| 2/3! and the Gamow factor C_0^2.
  f.ratio1 = std::sqrt(1.0 + eta[iq] * eta[iq]) / 3.0;
  f.loggamow = 2.0 * CoulWave::LogNorm(0, eta[iq]);
  f.gamow = std::exp(f.loggamow);
}

double CWaveFunction_pp::GetLogGamow(int iq) const { return qfactors[iq].loggamow; }

double CWaveFunction_pp::CalcScaledPsiSquared(int iq, double r, double ctheta) const {
  const double q = qarray[iq];
  const std::complex<double> A = planewave[iq]->planewave_scaled(r, ctheta);
  const std::complex<double> B = planewave[iq]->planewave_scaled(r, -ctheta);
  const std::complex<double> psis = (A + B) * M_SQRT1_2;
  const std::complex<double> psia = (A - B) * M_SQRT1_2;
  if (!STRONG) return 0.25 * std::norm(psis) + 0.75 * std::norm(psia);

  // Everything below is in units of C_0: the l = 1 waves and tables, in units
  // of C_1, and their S - 1, in units of C_1^2, carry one factor C_1/C_0.
  const QFactors &f = qfactors[iq];
  // Angular factors sqrt(2 pi) Y_00, sqrt(6 pi) Y_10(theta, 0) and
  // sqrt(6 pi) |Y_11(theta, 0)| in closed form (this runs for every angle of
  // every kernel point).
  const double c0 = M_SQRT1_2;
  const double c1 = 3.0 * M_SQRT1_2 * ctheta;
  const double c2 = 1.5 * std::sqrt(std::max(0.0, 1.0 - ctheta * ctheta));
  const std::complex<double> ci(0.0, 1.0);
  const double x = q * r / HBARC;

  if (r < epsilon) {
    // Partial-wave terms of the incoming-boundary wave built from the radial
    // tables: (2l+1) i^l e^(-i sigma_l) conj(u_l)/x, i.e. N_l conj(T) with
    // N_l = 2 e^(-i sigma_l)/x and the angular factors below. The tables are
    // interpolated by cubics through four points (inside the repulsive core
    // u'' = K u with K ~ 200 fm^-2, where a linear one is 3e-3 off); in the
    // first cell the cubic through T(0) = 0 gives T/x without dividing by 0.
    const double h = rmax / nradial;
    const double t = r / h;
    const double x1 = q * h / HBARC;
    int j0;           // first of the four points
    double a[4], div;  // their weights and the divisor x
    if (t < 1.0) {
      j0 = 0;
      a[0] = 0.0;
      a[1] = 0.5 * (t - 2.0) * (t - 3.0);
      a[2] = -0.5 * (t - 1.0) * (t - 3.0);
      a[3] = (t - 1.0) * (t - 2.0) / 6.0;
      div = x1;
    } else {
      const int j = std::min(static_cast<int>(t), nradial - 2);
      const double w = t - j;
      j0 = j - 1;
      a[0] = -w * (w - 1.0) * (w - 2.0) / 6.0;
      a[1] = 0.5 * (w + 1.0) * (w - 1.0) * (w - 2.0);
      a[2] = -0.5 * (w + 1.0) * w * (w - 2.0);
      a[3] = (w + 1.0) * w * (w - 1.0) / 6.0;
      div = x;
    }
    auto over_x = [&](const RadialTable &T) {
      return (a[0] * T[j0] + a[1] * T[j0 + 1] + a[2] * T[j0 + 2] + a[3] * T[j0 + 3]) / div;
    };
    const std::complex<double> n0 = 2.0 * f.eisigma0;
    const std::complex<double> n1 = 2.0 * f.ratio1 * f.eisigma1;
    const std::complex<double> ds = c0 * n0 * std::conj(over_x(Dsinglet[iq]));
    const std::complex<double> dt1 = ci * c1 * n1 * std::conj(over_x(Dtriplet1[iq]));
    const std::complex<double> dt0 = ci * c1 * n1 * std::conj(over_x(Dtriplet0[iq]));
    const double ft1 = c2 * 2.0 * f.ratio1 * std::abs(over_x(Ftriplet1[iq]));
    const double ft0 = c2 * 2.0 * f.ratio1 * std::abs(over_x(Ftriplet0[iq]));
    return 0.25 * std::norm(psis + ds) + 0.5 * (std::norm(psia + dt1) + ft1 * ft1) + 0.25 * std::norm(psia + dt0) +
           0.5 * ft0 * ft0;
  }
  const std::complex<double> phi0 = partwave[0][iq]->GetPhiIncomingScaled(r) / x;
  const std::complex<double> phi1 = f.ratio1 * partwave[1][iq]->GetPhiIncomingScaled(r) / x;
  const std::complex<double> b0 = c0 * phi0;
  const std::complex<double> b1 = ci * c1 * phi1;
  const std::complex<double> b2 = ci * c2 * phi1;
  return 0.25 * std::norm(psis + b0 * f.s_singlet) +
         0.5 * (std::norm(psia + b1 * f.d_triplet1) + std::norm(b2 * f.f_triplet1)) +
         0.25 * (std::norm(psia + b1 * f.d_triplet0) + 2.0 * std::norm(b2 * f.f_triplet0));
}

double CWaveFunction_pp::CalcPsiSquared(int iq, double r, double ctheta) const {
  const QFactors &f = qfactors[iq];
  const double scaled = CalcScaledPsiSquared(iq, r, ctheta);
  // Where the Gamow factor is subnormal or zero, through logarithms, so that
  // the result is the correctly scaled double (0 where it underflows).
  const double psisquared =
      (f.gamow >= 1.0e-280 || !(scaled > 0.0)) ? f.gamow * scaled : std::exp(f.loggamow + std::log(scaled));
  if (STRONG && r >= epsilon && psisquared < -0.001)
    femtokit::Fatal("in CalcPsiSquared psisquared=%g,q=%g,r=%g\n", psisquared, qarray[iq], r);
  return psisquared;
}
