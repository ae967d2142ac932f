// Channel tables of the wave-function base: phase shifts from compiled-in
// tables, the short-range correction, and the extension of the wave tables.
#include <cmath>

#include "config/fatal.h"
#include "config/output.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/phase_interpolation.h"
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
        if (q2 == fl) {
          value = d[n];
          derivative = dp[n];
        } else {
          femtokit::phaseshifts::InterpolatePhase(ell[ic], qarray[iq], 0.5 * n, d[n], dp[n], 0.5 * (n + 1), d[n + 1],
                                                  dp[n + 1], &value, &derivative);
        }
      } else if (fl == N - 1 && q2 == fl) {  // the last grid point itself
        value = d[N - 1];
        derivative = dp[N - 1];
      }
      delta[ic][iq] = value;
      ddeltadq[ic][iq] = derivative;
    }
  }
}

void CWaveFunction::SetQMesh(const std::vector<double> &q, const std::string &what) {
  if (q.empty() || q.size() > static_cast<std::size_t>(MAXNQ))
    femtokit::Fatal("%s: a q mesh of %zu points (1 ... %d)\n", what.c_str(), q.size(), MAXNQ);
  for (std::size_t i = 0; i < q.size(); i++) {
    if (!(q[i] >= QMIN && q[i] <= QMAX))
      femtokit::Fatal("%s: q=%g MeV/c lies outside %g ... %g MeV/c\n", what.c_str(), q[i], QMIN, QMAX);
    if (i > 0 && !(q[i] > q[i - 1]))
      femtokit::Fatal("%s: q=%g MeV/c does not increase\n", what.c_str(), q[i]);
  }
  qarray = q;
  nqmax = static_cast<int>(q.size());
  delq = -1.0;
  CheckWaveTables(what);
}

void CWaveFunction::FillWepsilon() {
  const double volume = 4.0 * PI * epsilon * epsilon * epsilon / 3.0;
  // Each mesh point by one thread (Coulomb functions at epsilon for every channel).
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int iq = 0; iq < nqmax; iq++) {
    errors.Run([&] {
      const double q = qarray[iq], kp = KappaPrime(iq);
      for (int ic = 0; ic < nchannels; ic++) {
        const double t = InnerExcess(ell[ic], q, epsilon, eta[iq], kp, delta[ic][iq], ddeltadq[ic][iq]);
        if (!std::isfinite(t))
          femtokit::Fatal("channel %d (l=%d) at q=%g MeV/c: phase shift %g rad with slope %g rad per MeV/c gives no "
                          "finite correction inside EPSILON=%g fm (eta=%g)\n",
                          ic, ell[ic], q, delta[ic][iq], ddeltadq[ic][iq], epsilon, eta[iq]);
        Wepsilon[ic][iq] = t / volume;
      }
    });
  }
  errors.Rethrow();
}

void CWaveFunction::FillWepsilonAndCoulombCorrect() {
  if (q1q2 == 0) {
    FillWepsilon();
    return;
  }
  const double volume = 4.0 * PI * epsilon * epsilon * epsilon / 3.0;
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int iq = 0; iq < nqmax; iq++) {
    errors.Run([&] {
      const double q = qarray[iq];
      for (int ic = 0; ic < nchannels; ic++) {
        // The strong-only excess (no Coulomb) times the penetrability that also scales tan(delta).
        const double t = CoulWave::Penetrability(ell[ic], eta[iq]) *
                         InnerExcess(ell[ic], q, epsilon, 0.0, 0.0, delta[ic][iq], ddeltadq[ic][iq]);
        if (!std::isfinite(t))
          femtokit::Fatal("channel %d (l=%d) at q=%g MeV/c: strong phase shift %g rad with slope %g rad per MeV/c "
                          "gives no finite correction inside EPSILON=%g fm\n",
                          ic, ell[ic], q, delta[ic][iq], ddeltadq[ic][iq], epsilon);
        Wepsilon[ic][iq] = t / volume;
        CoulWave::phaseshift_CoulombCorrect(ell[ic], q, eta[iq], delta[ic][iq], ddeltadq[ic][iq]);
      }
    });
  }
  errors.Rethrow();
}

double CWaveFunction::KappaPrime(int iq) const {
  const double q = qarray[iq];
  const double e1 = std::sqrt(m1 * m1 + q * q), e2 = std::sqrt(m2 * m2 + q * q);
  return eta[iq] * q * q * (1.0 / (e1 * e1) + 1.0 / (e2 * e2) - 1.0 / (e1 * e2));
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

void CWaveFunction::CheckInsideDensity(const char *pair) const {
  if (!STRONG || nchannels == 0 || !(epsilon > 0.0)) return;
  // Ball average (3/eps^3) int r^2 dr (1/2) int dcos |psi|^2 by Gauss-Legendre
  // rules in r and cos(theta) (|psi|^2 inside is smooth).
  static const double node[8] = {-0.9602898564975363, -0.7966664774136267, -0.5255324099163290,
                                 -0.1834346424956498, 0.1834346424956498,  0.5255324099163290,
                                 0.7966664774136267,  0.9602898564975363};
  static const double weight[8] = {0.1012285362903763, 0.2223810344533745, 0.3137066458778873,
                                   0.3626837833783620, 0.3626837833783620, 0.3137066458778873,
                                   0.2223810344533745, 0.1012285362903763};
  int negative = 0, first = -1;
  double firstvalue = 0.0;
  for (int iq = 0; iq < nqmax; iq++) {
    double average = 0.0;
    for (int i = 0; i < 8; i++) {
      const double r = 0.5 * epsilon * (1.0 + node[i]);
      double angular = 0.0;
      for (int j = 0; j < 8; j++) angular += 0.5 * weight[j] * CalcPsiSquared(iq, r, node[j]);
      average += 0.5 * weight[i] * 3.0 * r * r / (epsilon * epsilon) * angular;
    }
    if (average < 0.0) {
      if (negative++ == 0) {
        first = iq;
        firstvalue = average;
      }
    }
  }
  if (negative > 0)
    femtokit::Warn("%s: the averaged |psi|^2 inside EPSILON=%g fm is negative (%g) at q=%g MeV/c (%d of %d mesh "
                   "points): the short-range correction outweighs the Coulomb density there; EPSILON lies inside "
                   "the interaction range, or the phase shifts fit no potential within it\n",
                   pair, epsilon, firstvalue, qarray[first], negative, nqmax);
}
