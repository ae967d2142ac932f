#include "wavefunction/wavefunction_pkplus.h"

#include <cmath>

#include "config/fatal.h"
#include "config/output.h"
#include "math/misc.h"
#include "wavefunction/pair_terms.h"

CWaveFunction_pkplus::CWaveFunction_pkplus(const char *parsfilename) {
  ParsInit(parsfilename);
  q1q2 = COULOMB ? 1 : 0;
  m1 = MPROTON;
  m2 = MKAON;
  ellmax = 1;
  nchannels = 3;
  InitArrays();
  ell = {0, 1, 1};
  InitWaves();
  channelweight = {1.0, 1.0, 2.0};
  read_phaseshifts();
  // The tables hold nuclear phases (delta ~ q^(2l+1)); with Coulomb the
  // outer waves need the Coulomb-modified ones, and the correction inside
  // EPSILON is the strong-only one times the penetrability, both vanishing with
  // the Gamow factor at small q.
  FillWepsilonAndCoulombCorrect();
  UpdateFactors();
  CheckInsideDensity("p K+");
}

void CWaveFunction_pkplus::read_phaseshifts() {
  const femtokit::phaseshifts::PhaseShiftTable table = femtokit::phaseshifts::PKplusTable();
  // Every mesh point from the table: the correction inside EPSILON needs the
  // phase and its slope together, down to the smallest q.
  ReadPhaseShiftTable(table);
}

void CWaveFunction_pkplus::UpdateFactors() {
  factors.resize(nqmax);
  for (int iq = 0; iq < nqmax; iq++)
    factors[iq] = femtokit::pairterms::MakeSpinHalfSpinZeroFactors(delta[0][iq], delta[1][iq], delta[2][iq],
                                                                   ShortRangeCorrection(iq));
}

double CWaveFunction_pkplus::CalcPsiSquared(int iq, double r, double ctheta) const {
  if (iq < 0 || iq >= nqmax) femtokit::Fatal("iq too large!\n");
  const std::complex<double> A = planewave[iq]->planewave(r, ctheta);
  if (!STRONG) return std::norm(A);
  const auto &f = factors[iq];
  if (r < epsilon) return std::norm(A) + f.ceps;
  const double q = qarray[iq];
  const double x = q * r / HBARC;
  const std::complex<double> phi0 = partwave[0][iq]->GetPhiIncoming(r) / x;
  const std::complex<double> phi1 = partwave[1][iq]->GetPhiIncoming(r) / x;
  std::complex<double> psi;
  const double psisquared = femtokit::pairterms::SpinHalfSpinZero(A, phi0, phi1, ctheta, f.s0, f.g, f.d, &psi);
  if (psisquared > 500.0) {
    femtokit::Warn("_____________________________________________\nin CalcPsiSquared, q=%g,r=%g, psisquared=huge=%g\n"
                   "hstar0=(%g,%g), hstar1=(%g,%g),psi=(%g,%g)\n",
                   q, r, psisquared, phi0.real(), phi0.imag(), phi1.real(), phi1.imag(), psi.real(), psi.imag());
  }
  return psisquared;
}
