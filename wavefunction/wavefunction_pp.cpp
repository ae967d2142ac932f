#include "wavefunction/wavefunction_pp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "config/fatal.h"
#include "math/misc.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/reid93.h"

namespace {

const double kSqrtHalf = 0.7071067811865475;
const int kPartWaveNR = 6000;  // partial-wave table: 0.01 fm steps to 60 fm
// Where the integrated Reid93 solutions and the phase-shift form agree (the
// one-pion tail is below 1e-5 of the kinetic energy there): the default
// EPSILON. Inside the tail the phase-shift form is not valid.
const double kMatchingEpsilon = 9.0;
// Largest jump of |psi|^2 across EPSILON accepted without a warning.
const double kEpsilonJumpTolerance = 1e-3;

// Wraps an angle into (-pi, pi].
double WrapAngle(double a) {
  a = std::remainder(a, 2.0 * M_PI);
  return a <= -M_PI ? a + 2.0 * M_PI : a;
}

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
  // Kernel meshes reach 40 to 60 fm. Beyond its table (30 fm by default) a
  // partial wave evaluates the Coulomb functions directly at every call, which
  // would dominate the kernel calculation; tabulate the two waves to 60 fm.
  partwave_nrmax = kPartWaveNR;
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
  kwork.assign(nradial + 2, 0.0);
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
  for (int iq = 0; iq < nqmax; ++iq) {
    GetPsiNoneCoupledState(iq, 0, "1S0", 3, strong);
    GetPsiNoneCoupledState(iq, 1, "3P0", 1, strong);
    GetPsiNoneCoupledState(iq, 1, "3P1", 2, strong);
    GetPsiNoneCoupledState(iq, 1, "3C2", 5, strong);
    GetPsiNoneCoupledState(iq, 1, "NS", 4, false);
    GetPsiNoneCoupledState(iq, 0, "NS", 6, false);
    for (int i = nradial; i >= 0; --i) {
      Ftriplet1[iq][i] = 0.5 * (u_3C2[i] - u_3P1[i]);
      Dtriplet1[iq][i] = 0.5 * (u_3C2[i] + u_3P1[i]) - u_NS[i];
      Ftriplet0[iq][i] = (u_3C2[i] - u_3P0[i]) / 3.0;
      Dtriplet0[iq][i] = (2.0 * u_3C2[i] + u_3P0[i]) / 3.0 - u_NS[i];
      Dsinglet[iq][i] = u_1S0[i] - u_NS0[i];
    }
    FillQFactors(iq);
  }
  return 1;
}

int CWaveFunction_pp::GetPsiNoneCoupledState(long iq, short l, const char *name, short which, bool strong) {
  statename = name;
  const int N = nradial;
  const double h = rmax / N;
  const double q = qarray[iq];
  // Strong potential with 2 mu = M_p and the exact relative momentum q: the
  // equation with which Reid93 was fitted to the scattering data, so the
  // phases are those of the potential. The Coulomb term 2 eta k/r takes the
  // eta of the plane and partial waves, and the outer values solve the same
  // equation: the integrated waves join the outer ones at any radius.
  const double mu = MPROTON * MPROTON / (2.0 * MPROTON);
  const double eta_int = eta[iq];
  const double hc2 = HBARC * HBARC;

  // K(r_j) for j = 1 ... N+1: the recursion for u_i needs K at r_(i+1).
  for (int j = 1; j <= N + 1; ++j) {
    const double r = j * h;
    const double V = strong ? potential(r, statename.c_str(), pairtype.c_str()) : 0.0;
    kwork[j] = 2.0 * mu * V / hc2 + 2.0 * eta_int * q / (HBARC * r) + l * (l + 1.0) / (r * r) - q * q / hc2;
  }

  // Inward from the incoming Coulomb wave F + iG: the three-point difference
  // u_i - 2u_(i+1) + u_(i+2) = h^2 u''(r_(i+1)).
  const std::complex<double> c2 = CoulWave::CWincoming(l, q * (rmax + 2.0 * h) / HBARC, eta_int);
  const std::complex<double> c1 = CoulWave::CWincoming(l, q * (rmax + h) / HBARC, eta_int);
  uwork[N + 2] = c2;
  uwork[N + 1] = c1;
  const double h2 = h * h;
  for (int i = N; i >= 0; --i) uwork[i] = (2.0 + h2 * kwork[i + 1]) * uwork[i + 1] - uwork[i + 2];

  // Near the origin the irregular solution dominates, so arg(u) tends to the
  // phase phi of its coefficient; extrapolated linearly from r_1 and r_2.
  const double a1 = std::arg(uwork[1]);
  const double a2 = std::arg(uwork[2]);
  double phi = a1 + WrapAngle(a1 - a2);
  phi -= M_PI * std::floor(phi / M_PI);  // e^(2i phi) fixes phi modulo pi

  // The regular solution starts from (c - e^(2i phi) c*)/2. The recursion is
  // linear with real coefficients, so that second inward pass equals the same
  // combination of the first pass and its conjugate.
  const std::complex<double> e2iphi = Misc::ceiphi(2.0 * phi);
  RadialTable *target = nullptr;
  double *phase = nullptr;
  switch (which) {
    case 1: target = &u_3P0; phase = &phase_3P0[iq]; break;
    case 2: target = &u_3P1; phase = &phase_3P1[iq]; break;
    case 3: target = &u_1S0; phase = &phase_1S0[iq]; break;
    case 4: target = &u_NS; phase = &phase_NS[iq]; break;
    case 5: target = &u_3C2; phase = &phase_3C2[iq]; break;
    case 6: target = &u_NS0; phase = &phase_NS0[iq]; break;
    default: return 1;
  }
  RadialTable &u = *target;
  for (int i = 1; i <= N; ++i) u[i] = 0.5 * (uwork[i] - e2iphi * std::conj(uwork[i]));
  u[0] = 0.0;  // the regular solution vanishes at the origin
  *phase = phi;
  return 1;
}

void CWaveFunction_pp::FillQFactors(int iq) {
  QFactors &f = qfactors[iq];
  f.eisigma0 = Misc::ceiphi(-partwave[0][iq]->sigma);
  f.eisigma1 = Misc::ceiphi(-partwave[1][iq]->sigma);
  // S = e^(i(pi - 2 phi)) = e^(-2 i delta).
  const std::complex<double> s1S0 = Misc::ceiphi(M_PI - 2.0 * phase_1S0[iq]);
  const std::complex<double> s3P0 = Misc::ceiphi(M_PI - 2.0 * phase_3P0[iq]);
  const std::complex<double> s3P1 = Misc::ceiphi(M_PI - 2.0 * phase_3P1[iq]);
  const std::complex<double> s3C2 = Misc::ceiphi(M_PI - 2.0 * phase_3C2[iq]);
  f.s_singlet = s1S0 - 1.0;
  f.d_triplet1 = 0.5 * (s3P1 + s3C2) - 1.0;
  f.f_triplet1 = 0.5 * (s3P1 - s3C2);
  f.d_triplet0 = s3P0 / 3.0 + 2.0 * s3C2 / 3.0 - 1.0;
  f.f_triplet0 = (s3C2 - s3P0) / 3.0;
}

double CWaveFunction_pp::CalcPsiSquared(int iq, double r, double ctheta) const {
  const double q = qarray[iq];
  const std::complex<double> A = planewave[iq]->planewave(r, ctheta);
  const std::complex<double> B = planewave[iq]->planewave(r, -ctheta);
  const std::complex<double> psis = (A + B) * kSqrtHalf;
  const std::complex<double> psia = (A - B) * kSqrtHalf;
  if (!STRONG) return 0.25 * std::norm(psis) + 0.75 * std::norm(psia);

  const QFactors &f = qfactors[iq];
  // Angular factors sqrt(2 pi) Y_00, sqrt(6 pi) Y_10(theta, 0) and
  // sqrt(6 pi) |Y_11(theta, 0)| in closed form (this runs for every angle of
  // every kernel point).
  const double c0 = kSqrtHalf;
  const double c1 = 3.0 * kSqrtHalf * ctheta;
  const double c2 = 1.5 * std::sqrt(std::max(0.0, 1.0 - ctheta * ctheta));
  const std::complex<double> ci(0.0, 1.0);
  const double x = q * r / HBARC;
  double psisquared;

  if (r < epsilon) {
    // Partial-wave terms of the incoming-boundary wave built from the radial
    // tables: (2l+1) i^l e^(-i sigma_l) conj(u_l)/x, i.e. N_l conj(T) with
    // N_l = 2 e^(-i sigma_l)/x and the angular factors below. The tables are
    // interpolated linearly; they vanish at r = 0, so below r_1 the ratio
    // T(r)/x(r) is T(r_1)/x(r_1).
    const double h = rmax / nradial;
    const double t = r / h;
    int i = static_cast<int>(t);
    if (i > nradial - 1) i = nradial - 1;
    const double w = t - i;
    const double x1 = q * h / HBARC;
    auto over_x = [&](const RadialTable &T) -> std::complex<double> {
      if (i == 0) return T[1] / x1;
      return ((1.0 - w) * T[i] + w * T[i + 1]) / x;
    };
    const std::complex<double> n0 = 2.0 * f.eisigma0;
    const std::complex<double> n1 = 2.0 * f.eisigma1;
    const std::complex<double> ds = c0 * n0 * std::conj(over_x(Dsinglet[iq]));
    const std::complex<double> dt1 = ci * c1 * n1 * std::conj(over_x(Dtriplet1[iq]));
    const std::complex<double> dt0 = ci * c1 * n1 * std::conj(over_x(Dtriplet0[iq]));
    const double ft1 = c2 * 2.0 * std::abs(over_x(Ftriplet1[iq]));
    const double ft0 = c2 * 2.0 * std::abs(over_x(Ftriplet0[iq]));
    psisquared = 0.25 * std::norm(psis + ds) + 0.5 * (std::norm(psia + dt1) + ft1 * ft1) +
                 0.25 * std::norm(psia + dt0) + 0.5 * ft0 * ft0;
  } else {
    const std::complex<double> phi0 = partwave[0][iq]->GetPhiIncoming(r) / x;
    const std::complex<double> phi1 = partwave[1][iq]->GetPhiIncoming(r) / x;
    const std::complex<double> b0 = c0 * phi0;
    const std::complex<double> b1 = ci * c1 * phi1;
    const std::complex<double> b2 = ci * c2 * phi1;
    psisquared = 0.25 * std::norm(psis + b0 * f.s_singlet) +
                 0.5 * (std::norm(psia + b1 * f.d_triplet1) + std::norm(b2 * f.f_triplet1)) +
                 0.25 * (std::norm(psia + b1 * f.d_triplet0) + 2.0 * std::norm(b2 * f.f_triplet0));
    if (psisquared < -0.001)
      femtokit::Fatal("in CalcPsiSquared psisquared=%g,q=%g,r=%g\n", psisquared, q, r);
  }
  return psisquared;
}
