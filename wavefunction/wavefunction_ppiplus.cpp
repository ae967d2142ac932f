#include "wavefunction/wavefunction_ppiplus.h"

#include <cmath>

#include "config/fatal.h"
#include "config/output.h"
#include "math/misc.h"
#include "wavefunction/pair_terms.h"

CWaveFunction_ppiplus::CWaveFunction_ppiplus(const char *parsfilename) {
  ParsInit(parsfilename);
  q1q2 = COULOMB ? 1 : 0;
  m1 = MPROTON;
  m2 = MPI;
  ellmax = 1;
  nchannels = 3;
  InitArrays();
  femtokit::Print("Arrays Initialized\n");
  ell = {0, 1, 1};
  InitWaves();
  femtokit::Print("Partial Waves Initialized\n");
  channelweight = {1.0, 1.0, 2.0};
  read_phaseshifts();
  // The tables hold nuclear phases (delta ~ q^(2l+1)); with Coulomb the
  // outer waves need the Coulomb-modified ones, and the correction inside
  // EPSILON is the strong-only one times the penetrability, both vanishing with
  // the Gamow factor at small q.
  FillWepsilonAndCoulombCorrect();
  UpdateFactors();
  CheckInsideDensity("p pi+");
  femtokit::Print("Initialization finished\n");
}

void CWaveFunction_ppiplus::read_phaseshifts() { ReadPhaseShiftTable(femtokit::phaseshifts::PPiplusTable()); }

void CWaveFunction_ppiplus::UpdateFactors() {
  factors.resize(nqmax);
  for (int iq = 0; iq < nqmax; iq++)
    factors[iq] = femtokit::pairterms::MakeSpinHalfSpinZeroFactors(delta[0][iq], delta[1][iq], delta[2][iq],
                                                                   ShortRangeCorrection(iq));
}

double CWaveFunction_ppiplus::CalcPsiSquared(int iq, double r, double ctheta) const {
  if (iq < 0 || iq >= nqmax) femtokit::Fatal("iq too large!\n");
  const std::complex<double> A = planewave[iq]->planewave(r, ctheta);
  if (!STRONG) return std::norm(A);
  const auto &f = factors[iq];
  if (r < epsilon) return std::norm(A) + f.ceps;
  const double x = qarray[iq] * r / HBARC;
  const std::complex<double> phi0 = partwave[0][iq]->GetPhiIncoming(r) / x;
  const std::complex<double> phi1 = partwave[1][iq]->GetPhiIncoming(r) / x;
  return femtokit::pairterms::SpinHalfSpinZero(A, phi0, phi1, ctheta, f.s0, f.g, f.d);
}
