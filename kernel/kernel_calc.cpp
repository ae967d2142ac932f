// Filling the kernel tables: projection of a wave function, free identical
// particles, and classical Coulomb trajectories.

#include "config/output.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "config/constants.h"
#include "config/fatal.h"
#include "kernel/kernel.h"
#include "math/bessel.h"
#include "math/sphericalharmonics.h"
#include "wavefunction/wavefunction.h"

namespace {
constexpr int kNCTHETA = 720;  // midpoint slices of cos(theta) in [-1, 1]
}

// K_l(q, r) = 1/2 Int dx (|psi|^2 - 1) P_l(x) by the midpoint rule on 720
// slices. The q rows are shared out among threads; each (q, r) point is summed
// by one thread in a fixed order, so the tables do not depend on the thread
// count. The wave function's radial tables are first extended to the kernel's
// reach (so no evaluation falls back on direct Coulomb functions); after that
// it is only read. A fatal error inside the loop leaves it through the error
// path after the loop.
void CKernel::CalcWithProgress(CWaveFunction *wf, const ProgressFunction &progress) {
  if (LMAX < 0) return;
  // Beyond its q mesh (and half a spacing of extrapolation) a wave function
  // answers |psi|^2 = 1: a kernel reaching further would be zero there.
  const int nwf = wf->GetNQMAX();
  if (nwf > 1 && NQMAX > 0) {
    const double qlast = wf->GetQ(nwf - 1), reach = qlast + 0.5 * (qlast - wf->GetQ(nwf - 2));
    const double kq = (NQMAX - 0.5) * DELQ;
    if (kq > reach * (1.0 + 1e-9))
      femtokit::Fatal("CKernel::Calc: the kernel's q mesh (NQMAX=%d, DELQ=%g) reaches q=%g MeV/c, beyond the wave "
                      "function's mesh (%d points from %g to %g MeV/c); give the wave function the kernel's q mesh\n",
                      NQMAX, DELQ, kq, nwf, wf->GetQ(0), qlast);
  }
  wf->TabulateTo(NRMAX * DELR);
  const int step = LStep();
  const int nl = LMAX + 1;

  std::vector<double> xc(kNCTHETA);
  std::vector<double> ptable(static_cast<std::size_t>(kNCTHETA) * nl, 0.0);  // P_l(x_ic) at [ic*nl + l]
  for (int ic = 0; ic < kNCTHETA; ic++) {
    xc[ic] = 2.0 * (ic + 0.5) / kNCTHETA - 1.0;
    for (int l = 0; l <= LMAX; l += step) ptable[static_cast<std::size_t>(ic) * nl + l] = SpherHarmonics::legendre(l, xc[ic]);
  }

  const CWaveFunction *cwf = wf;
  // A failure in a worker (a fatal inconsistency of the wave function) is
  // kept and raised after the region.
  femtokit::ParallelErrors errors;
  int rowsdone = 0;
#pragma omp parallel
  {
    std::vector<double> sum(nl);
#pragma omp for schedule(dynamic)
    for (int iq = 0; iq < NQMAX; iq++) {
      errors.Run([&] {
        const double q = (iq + 0.5) * DELQ;
        for (int ir = 0; ir < NRMAX; ir++) {
          const double r = (ir + 0.5) * DELR;
          for (int l = 0; l <= LMAX; l += step) sum[l] = 0.0;
          for (int ic = 0; ic < kNCTHETA; ic++) {
            const double d = cwf->GetPsiSquared(q, r, xc[ic]) - 1.0;
            const double *p = &ptable[static_cast<std::size_t>(ic) * nl];
            for (int l = 0; l <= LMAX; l += step) sum[l] += d * p[l];
          }
          for (int l = 0; l <= LMAX; l += step) Entry(l, iq, ir) = sum[l] / kNCTHETA;
        }
        if (progress) {
#pragma omp critical(kernel_progress)
          progress(++rowsdone, NQMAX);
        }
      });
    }
  }
  errors.Rethrow();
}

// Free identical bosons: |psi|^2 = 1 + cos(2 q r ctheta/hbarc), with q the
// momentum of one particle in the pair frame. Its projections are
// K_l = (-1)^(l/2) j_l(2 q r/hbarc) for even l and 0 for odd l.
void CKernel::Calc_PureHBT() {
  const double hbarc = femtokit::constants::HBARC;
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(static)
  for (int iq = 0; iq < NQMAX; iq++) errors.Run([&] {
    const double q = (iq + 0.5) * DELQ;
    for (int ir = 0; ir < NRMAX; ir++) {
      const double x = 2.0 * q * (ir + 0.5) * DELR / hbarc;
      for (int l = 0; l <= LMAX; l++) {
        if (!HasTable(l)) continue;
        if (l % 2 != 0) {
          Entry(l, iq, ir) = 0.0;
        } else {
          const double sign = (l / 2) % 2 == 0 ? 1.0 : -1.0;
          Entry(l, iq, ir) = sign * Bessel::jn(l, x);
        }
      }
    }
  });
  errors.Rethrow();
}

// Classical picture: a pair at separation r with Coulomb-to-kinetic energy
// ratio x reaches infinity with its direction bent; the angular density of
// |psi|^2 is sampled through the variable u, c = sqrt(u^2 + x^2) + x - 1.
// Classically forbidden points (x >= 1) get |psi|^2 = 0.
void CKernel::Calc_ClassCoul(double ma, double mb, int q1q2) {
  const int step = LStep();
  for (int l = 0; l <= LMAX; l++) {
    if (!HasTable(l)) continue;
    for (int iq = 0; iq < NQMAX; iq++)
      for (int ir = 0; ir < NRMAX; ir++) Entry(l, iq, ir) = 0.0;
  }
  if (LMAX < 0) return;

  for (int iq = 0; iq < NQMAX; iq++) {
    const double q = (iq + 0.5) * DELQ;
    const double ea = sqrt(ma * ma + q * q), eb = sqrt(mb * mb + q * q);
    for (int ir = 0; ir < NRMAX; ir++) {
      const double r = (ir + 0.5) * DELR;
      const double x = 2.0 * q1q2 * femtokit::constants::HBARC_ROUNDED * ea * eb /
                       (femtokit::constants::ALPHA_INV * r * q * q * (ea + eb));
      if (x < 1.0) {
        const double U = 2.0 * sqrt(1.0 - x);
        const double du = U * 0.001953125;  // 512 samples u = (n + 1/2) du < U
        for (int n = 0; n < 512; n++) {
          const double u = (n + 0.5) * du;
          CalcP(sqrt(u * u + x * x) + x - 1.0);
          for (int l = 0; l <= LMAX; l += step) Entry(l, iq, ir) += 0.5 * du * P[l];
        }
      }
      Entry(0, iq, ir) -= 1.0;
    }
  }
}
