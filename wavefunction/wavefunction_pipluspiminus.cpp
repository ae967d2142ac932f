#include "wavefunction/wavefunction_pipluspiminus.h"

#include <algorithm>
#include <cmath>

#include "config/fatal.h"
#include "config/output.h"
#include "math/misc.h"
#include "wavefunction/coulwave.h"

namespace {
const int kIsospin[5] = {0, 0, 1, 2, 2};
}  // namespace

CWaveFunction_pipluspiminus::CWaveFunction_pipluspiminus(const char *parsfilename) {
  ParsInit(parsfilename);
  q1q2 = -1;
  m1 = m2 = MPI;
  ellmax = 2;
  nchannels = 5;
  InitArrays();
  ell = {0, 2, 1, 0, 2};
  InitWaves();
  channelweight = {0.6666666666666666, 3.333333333333333, 3.0, 0.3333333333333333, 1.6666666666666665};
  for (int ic = 0; ic < nchannels; ic++) {
    for (int iq = 0; iq < nqmax; iq++) {
      double d = 0.0, dp = 0.0;
      getphaseshift_pipi(kIsospin[ic], ell[ic], qarray[iq], &d, &dp);
      delta[ic][iq] = d;
      ddeltadq[ic][iq] = dp;
    }
  }
  // Strong phases: the correction from them, then their Coulomb correction.
  FillWepsilonAndCoulombCorrect();
  UpdateFactors();
  CheckInsideDensity("pi+ pi-");
  femtokit::Print("pipluspiminus wf initialized\n");
}

void CWaveFunction_pipluspiminus::getphaseshift_pipi(int I, int ell, double q, double *delta, double *ddeltadq) {
  if ((ell + I) % 2 != 0) femtokit::Fatal("pipi phase shift: bad (ell,I) comb, ell=%d, I=%d\n", ell, I);
  auto set = [&](double t, double dtdq_over_t) {
    const double d = std::atan(t);
    const double c = std::cos(d);
    *delta = d;
    *ddeltadq = c * c * t * dtdq_over_t;
  };
  if (I == 0) {
    if (ell == 0) {
      // tan(delta) = a q/D with D = 1 - q~/290 + (q/625)^2. The linear term
      // uses q~ = q tanh(q/q0), q0 = 8 MeV/c: q itself above 20 MeV/c (D moves
      // by less than 1e-3 there, by 1e-4 above 30 MeV/c) but even in q at
      // threshold, so that tan(delta) is odd in q and delta ~ q, as an
      // effective-range expansion requires (a term linear in q in D puts q^2
      // into tan(delta), and the Coulomb-corrected correction inside EPSILON
      // then grows like 1/q^2 instead of following the Gamow factor).
      const double q0 = 8.0;
      const double th = std::tanh(q / q0);
      const double qt = q * th, dqt = th + (q / q0) * (1.0 - th * th);
      const double D = (q / 625.0) * (q / 625.0) + 1.0 - qt / 290.0;
      const double dD = 2.0 * q / 390625.0 - dqt / 290.0;
      const double t = 0.0014615274394612406 * q / D;
      set(t, (D - q * dD) / (q * D));
      if (*delta < 0.0) *delta += M_PI;  // delta in (0, pi): it passes pi/2 where D = 0
    } else if (ell == 2) {
      const double s = 1.0 + q * q / 1000000.0;
      const double t = 6.164724745553792e-15 * std::pow(q / s, 5);
      set(t, 5.0 * (1.0 - q * q / 1000000.0) / (q * s));
    } else {
      *delta = *ddeltadq = 0.0;
    }
  } else if (I == 1) {
    if (ell == 1) {
      // rho(770) Breit-Wigner, averaged over a momentum step w (a central
      // difference gives the derivative).
      auto phi = [](double k) {
        const double E = 2.0 * std::sqrt(k * k + 19482.5764);
        return std::atan2(115048.12 * std::pow(k / 359.39703128990925, 3) * 771.1 / E, 594595.2100000001 - E * E);
      };
      const double w = q < 20.0 ? q / 20.0 : 1.0;
      if (!(w > 0.0)) {  // q = 0: no phase, zero slope (a P wave starts as q^3)
        *delta = *ddeltadq = 0.0;
        return;
      }
      const double h = 0.5 * w;
      const double qq = std::max(q, h);
      *delta = 0.5 * (phi(qq - h) + phi(qq + h));
      *ddeltadq = (phi(qq + h) - phi(qq - h)) / w;
    } else {
      *delta = *ddeltadq = 0.0;
    }
  } else if (I == 2) {
    if (ell == 0) {
      const double y = std::pow(0.25495097567963926 * q / femtokit::constants::HBARC, 2), s = 1.0 + y;
      const double t = -0.0006588050607389837 * q / s;
      set(t, (1.0 - y) / (q * s));
    } else if (ell == 2) {
      const double y = std::pow(0.5 * q / femtokit::constants::HBARC, 2), s = 1.0 + y;
      const double t = -8.400000000000001e-15 * std::pow(q / s, 5);
      set(t, 5.0 * (1.0 - y) / (q * s));
    } else {
      *delta = *ddeltadq = 0.0;
    }
  }
}

void CWaveFunction_pipluspiminus::UpdateFactors() {
  factors.assign(nqmax, Factors());
  for (int iq = 0; iq < nqmax; iq++) {
    for (int ic = 0; ic < 5; ic++) factors[iq].s[ic] = Misc::ceiphi(-2.0 * delta[ic][iq]) - 1.0;
    factors[iq].ceps = ShortRangeCorrection(iq);
  }
}

double CWaveFunction_pipluspiminus::CalcPsiSquared(int iq, double r, double ctheta) const {
  if (iq < 0 || iq >= nqmax) return 1.0;
  const std::complex<double> A = planewave[iq]->planewave(r, ctheta);
  const Factors &f = factors[iq];
  if (r < epsilon) return STRONG ? std::norm(A) + f.ceps : std::norm(A);
  if (!STRONG) return std::norm(A);

  const std::complex<double> B = planewave[iq]->planewave(r, -ctheta);
  const std::complex<double> psis = (A + B) * M_SQRT1_2;
  const std::complex<double> psia = (A - B) * M_SQRT1_2;
  const double x = qarray[iq] * r / HBARC;
  const std::complex<double> phi0 = partwave[0][iq]->GetPhiIncoming(r) / x;
  const std::complex<double> phi1 = partwave[1][iq]->GetPhiIncoming(r) / x;
  const std::complex<double> phi2 = partwave[2][iq]->GetPhiIncoming(r) / x;
  const double p2 = 1.5 * ctheta * ctheta - 0.5;
  const std::complex<double> ci(0.0, 1.0);
  const std::complex<double> s0 = M_SQRT1_2 * phi0, s2 = -5.0 * M_SQRT1_2 * p2 * phi2;
  const std::complex<double> psiI0 = psis + s0 * f.s[0] + s2 * f.s[1];
  const std::complex<double> psiI1 = psia + (3.0 * M_SQRT1_2 * ctheta) * ci * phi1 * f.s[2];
  const std::complex<double> psiI2 = psis + s0 * f.s[3] + s2 * f.s[4];
  const double ns = std::norm(psis);
  return std::norm(A) + (std::norm(psiI0) - ns) / 3.0 + (std::norm(psiI1) - std::norm(psia)) / 2.0 +
         (std::norm(psiI2) - ns) / 6.0;
}
