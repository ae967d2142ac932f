#ifndef FEMTOKIT_WAVEFUNCTION_PHASE_INTERPOLATION_H
#define FEMTOKIT_WAVEFUNCTION_PHASE_INTERPOLATION_H

#include <cmath>

namespace femtokit {
namespace phaseshifts {

// Phase shift delta and d delta/dq of orbital angular momentum l at q between
// two table points (qa, da, dpa) and (qb, db, dpb), qa <= q <= qb, qb > 0.
//
// The correction inside EPSILON takes the phase and its slope together: at
// small q it is the small difference q ddelta/dq - (2l+1) delta + O((qR)^2), so
// the two must stay consistent to that order between table points, which a
// linear interpolation of each does not (for a P wave delta ~ q^3 it is off by
// its own size). Here g = delta/q^(2l+1), an even function of q near
// threshold, is interpolated as a cubic in s = q^2 from its values and
// s-slopes at both points (Hermite), and delta, ddelta/dq follow from it: exact
// for delta = q^(2l+1) (c0 + c1 q^2 + c2 q^4 + c3 q^6). From qa = 0, where g is
// not given, g is linear in s from the values at qb (exact for c0 + c1 q^2).
inline void InterpolatePhase(int l, double q, double qa, double da, double dpa, double qb, double db, double dpb,
                             double *delta, double *ddeltadq) {
  const int n = 2 * l + 1;
  // g and dg/ds at a table point.
  auto reduced = [n](double qq, double d, double dp, double *g, double *m) {
    const double qn = std::pow(qq, n);
    *g = d / qn;
    *m = (dp - n * d / qq) / (2.0 * qq * qn);
  };
  double gb, mb;
  reduced(qb, db, dpb, &gb, &mb);
  const double s = q * q, sb = qb * qb;
  double g, gs;  // g(s) and dg/ds
  if (!(qa > 0.0)) {
    g = gb + mb * (s - sb);
    gs = mb;
  } else {
    double ga, ma;
    reduced(qa, da, dpa, &ga, &ma);
    const double sa = qa * qa, h = sb - sa, t = (s - sa) / h;
    const double h00 = (1.0 + 2.0 * t) * (1.0 - t) * (1.0 - t), h10 = t * (1.0 - t) * (1.0 - t);
    const double h01 = t * t * (3.0 - 2.0 * t), h11 = t * t * (t - 1.0);
    g = h00 * ga + h10 * h * ma + h01 * gb + h11 * h * mb;
    // d/ds of the basis: d/dt divided by h.
    const double d00 = 6.0 * t * (t - 1.0), d10 = (1.0 - t) * (1.0 - 3.0 * t);
    const double d01 = 6.0 * t * (1.0 - t), d11 = t * (3.0 * t - 2.0);
    gs = (d00 * ga + d01 * gb) / h + d10 * ma + d11 * mb;
  }
  const double qn = std::pow(q, n);
  *delta = qn * g;
  *ddeltadq = n * (qn / q) * g + 2.0 * q * qn * gs;
}

}  // namespace phaseshifts
}  // namespace femtokit

#endif
