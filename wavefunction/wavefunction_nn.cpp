#include "wavefunction/wavefunction_nn.h"

#include <algorithm>
#include <cmath>

#include "config/fatal.h"
#include "config/output.h"
#include "math/misc.h"

namespace {
const double kSqrtHalf = 0.7071067811865475;
}

CWaveFunction_nn::CWaveFunction_nn(const char *parsfilename) {
  ParsInit(parsfilename);
  q1q2 = 0;
  m1 = m2 = MNEUTRON;
  ellmax = 1;
  nchannels = 4;
  InitArrays();
  femtokit::Print("Arrays Initialized\n");
  ell = {0, 1, 1, 1};
  InitWaves();
  femtokit::Print("Partial Waves Initialized\n");
  channelweight = {0.5, 0.5, 1.5, 2.5};
  read_phaseshifts();
  femtokit::Print("que pasa?\n");
  FillWepsilon();
  UpdateFactors();
  CheckInsideDensity("nn");
  femtokit::Print("hola que tal?\n");
  femtokit::Print("Initialization finished\n");
}

void CWaveFunction_nn::read_phaseshifts() { ReadPhaseShiftTable(femtokit::phaseshifts::NNTable()); }

void CWaveFunction_nn::UpdateFactors() {
  factors.assign(nqmax, Factors());
  for (int iq = 0; iq < nqmax; iq++) {
    const std::complex<double> e0 = Misc::ceiphi(-2.0 * delta[0][iq]);
    const std::complex<double> e1 = Misc::ceiphi(-2.0 * delta[1][iq]);
    const std::complex<double> e2 = Misc::ceiphi(-2.0 * delta[2][iq]);
    const std::complex<double> e3 = Misc::ceiphi(-2.0 * delta[3][iq]);
    factors[iq] = {e0 - 1.0,           0.5 * (e2 + e3) - 1.0,     0.5 * (e2 - e3),
                   e1 / 3.0 + 2.0 * e3 / 3.0 - 1.0, (e3 - e1) / 3.0, ShortRangeCorrection(iq)};
  }
}

double CWaveFunction_nn::CalcPsiSquared(int iq, double r, double ctheta) const {
  if (iq < 0 || iq >= nqmax) femtokit::Fatal("iq too large!\n");
  const std::complex<double> A = planewave[iq]->planewave(r, ctheta);
  const std::complex<double> B = planewave[iq]->planewave(r, -ctheta);
  const std::complex<double> psis = (A + B) * kSqrtHalf;
  const std::complex<double> psia = (A - B) * kSqrtHalf;
  const double free = 0.25 * std::norm(psis) + 0.75 * std::norm(psia);
  if (!STRONG) return free;
  const Factors &f = factors[iq];
  if (r < epsilon) return free + f.ceps;

  const double x = qarray[iq] * r / HBARC;
  const std::complex<double> phi0 = partwave[0][iq]->GetPhiIncoming(r) / x;
  const std::complex<double> phi1 = partwave[1][iq]->GetPhiIncoming(r) / x;
  // sqrt(2 pi) Y_00, i sqrt(6 pi) Y_10(theta, 0) and |sqrt(6 pi) Y_11(theta, 0)|
  // in closed form (only the modulus of the spin-flip terms enters).
  const std::complex<double> ci(0.0, 1.0);
  const std::complex<double> b0 = kSqrtHalf * phi0;
  const std::complex<double> b1 = ci * (3.0 * kSqrtHalf * ctheta) * phi1;
  const double b2 = 1.5 * std::sqrt(std::max(0.0, 1.0 - ctheta * ctheta)) * std::abs(phi1);
  return 0.25 * std::norm(psis + b0 * f.singlet) +
         0.5 * (std::norm(psia + b1 * f.triplet1) + b2 * b2 * std::norm(f.flip1)) +
         0.25 * (std::norm(psia + b1 * f.triplet0) + 2.0 * b2 * b2 * std::norm(f.flip0));
}
