// Channel tables of the wave-function base: phase shifts from compiled-in
// tables, the short-range correction, and the extension of the wave tables.
#include <cmath>

#include "config/fatal.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/wavefunction.h"

void CWaveFunction::ReadPhaseShiftTable(const femtokit::phaseshifts::PhaseShiftTable &table, int iqfirst) {
  const int N = table.npoints;
  for (int ic = 0; ic < table.nchannels && ic < nchannels; ic++) {
    const double *d = table.delta + static_cast<std::size_t>(ic) * N;
    const double *dp = table.ddeltadq + static_cast<std::size_t>(ic) * N;
    for (int iq = iqfirst; iq < nqmax; iq++) {
      const double q2 = 2.0 * qarray[iq];
      const double fl = std::floor(q2);
      double value = 0.0, derivative = 0.0;
      if (fl >= 0.0 && fl <= N - 2) {
        const int n = static_cast<int>(fl);
        const double w = q2 - n;
        value = (1.0 - w) * d[n] + w * d[n + 1];
        derivative = (1.0 - w) * dp[n] + w * dp[n + 1];
      } else if (fl == N - 1 && q2 == fl) {  // the last grid point itself
        value = d[N - 1];
        derivative = dp[N - 1];
      }
      delta[ic][iq] = value;
      ddeltadq[ic][iq] = derivative;
    }
  }
}

void CWaveFunction::CoulombCorrectPhaseShifts() {
  if (q1q2 == 0) return;
  for (int ic = 0; ic < nchannels; ic++)
    for (int iq = 0; iq < nqmax; iq++)
      CoulWave::phaseshift_CoulombCorrect(ell[ic], qarray[iq], eta[iq], delta[ic][iq], ddeltadq[ic][iq]);
}

void CWaveFunction::FillWepsilon(bool free_eta) {
  const double volume = 4.0 * PI * epsilon * epsilon * epsilon / 3.0;
  // Each mesh point by one thread (Coulomb functions at epsilon for every channel).
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int iq = 0; iq < nqmax; iq++) {
    errors.Run([&] {
      const double q = qarray[iq];
      for (int ic = 0; ic < nchannels; ic++) {
        const double iw = GetIW(ell[ic], epsilon, q, q1q2, eta[iq], delta[ic][iq]);
        const double iw0 = GetIW(ell[ic], epsilon, q, q1q2, free_eta ? eta[iq] : 0.0, 0.0);
        Wepsilon[ic][iq] = (ddeltadq[ic][iq] - iw + iw0) / volume;
      }
    });
  }
  errors.Rethrow();
}

double CWaveFunction::ShortRangeCorrection(int iq) const {
  const double q = qarray[iq];
  double c = 0.0;
  for (int ic = 0; ic < nchannels; ic++) c += channelweight[ic] * Wepsilon[ic][iq];
  return 2.0 * PI * HBARC * HBARC * HBARC * c / (q * q);
}

void CWaveFunction::TabulateTo(double rmax) {
  if (!(rmax >= 0.0) || !std::isfinite(rmax)) femtokit::Fatal("TabulateTo: rmax=%g fm is not a finite reach\n", rmax);
  // Only the waves that exist (a subclass may build none).
  const int nq = static_cast<int>(planewave.size());
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int iq = 0; iq < nq; iq++) {
    errors.Run([&] {
      if (planewave[iq]) planewave[iq]->ExtendTable(2.0 * qarray[iq] * rmax / HBARC);
      for (auto &row : partwave) {
        CPartWave *pw = iq < static_cast<int>(row.size()) ? row[iq].get() : nullptr;
        if (pw != nullptr) pw->ExtendTable(static_cast<int>(std::ceil(rmax / pw->delr)) + 1);
      }
    });
  }
  errors.Rethrow();
}
