#include "wavefunction/wavefunction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "config/constants.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "math/bessel.h"
#include "math/misc.h"
#include "wavefunction/coulwave.h"
#include "wavefunction/internal/imposedmesh.h"

using std::complex;

namespace {
// The q mesh MakeWaveFunction imposes on the wave function it builds (NQMAX,
// DELQ in place of the file's); set on this thread only while it builds one.
thread_local const parameterMap *imposedmesh = nullptr;
}  // namespace

namespace femtokit {
namespace internal {
ImposedQMesh::ImposedQMesh(int nq, double dq) {
  parameter::set(mesh_, "NQMAX", nq);
  parameter::set(mesh_, "DELQ", dq);
  previous_ = imposedmesh;
  imposedmesh = &mesh_;
}
ImposedQMesh::~ImposedQMesh() { imposedmesh = previous_; }
}  // namespace internal
}  // namespace femtokit

CWaveFunction::CWaveFunction() { femtokit::InitGSL(); }

CWaveFunction::~CWaveFunction() = default;

void CWaveFunction::ParsInit(const char *parsfilename, double default_epsilon) {
  parameterMap pars, given;
  parameter::ReadParsFromFile(given, parsfilename);
  epsilon_given = given.count("EPSILON") != 0;
  parameter::set(pars, "NQMAX", 15);
  parameter::set(pars, "DELQ", 5.0);
  parameter::set(pars, "EPSILON", default_epsilon);
  parameter::set(pars, "COULOMB", true);
  parameter::set(pars, "STRONG", true);
  parameter::set(pars, "QARRAYFILENAME", "no_qarray_file");
  parameter::set(pars, "NRMAX", 200);
  parameter::set(pars, "DELR", 0.2);
  for (const auto &entry : given) pars[entry.first] = entry.second;
  pars.origins = given.origins;  // refusals of file values name file and line
  if (imposedmesh) {
    for (const auto &entry : *imposedmesh) pars[entry.first] = entry.second;
    pars.erase("QARRAYFILENAME");
  }
  parameter::PrintPars(pars);

  const std::string qarrayfilename = parameter::getS(pars, "QARRAYFILENAME", "no_qarray_file");
  femtokit::Print("qarrayfilename set to %s\n", qarrayfilename.c_str());

  delq = parameter::getD(pars, "DELQ", 5.0);
  nqmax = parameter::getI(pars, "NQMAX", 15);
  epsilon = parameter::getD(pars, "EPSILON", default_epsilon);
  COULOMB = parameter::getB(pars, "COULOMB", true);
  STRONG = parameter::getB(pars, "STRONG", true);

  const char *parsname = parsfilename;
  if (!std::isfinite(delq))
    femtokit::FatalFile(parsname, "wave-function parameter file %s: DELQ=%g is not a finite number\n", parsname, delq);
  if (delq >= 0.0) {
    if (delq == 0.0)
      femtokit::FatalFile(parsname, "wave-function parameter file %s: DELQ must not be 0 for a uniform q mesh\n",
                          parsname);
    if (nqmax < 1 || nqmax > MAXNQ)
      femtokit::FatalFile(parsname, "wave-function parameter file %s: NQMAX=%d, a q mesh needs 1 ... %d points\n",
                          parsname, nqmax, MAXNQ);
    const double qfirst = 0.5 * delq, qlast = (nqmax - 0.5) * delq;
    if (qfirst < QMIN || qlast > QMAX)
      femtokit::FatalFile(parsname,
                          "wave-function parameter file %s: NQMAX=%d, DELQ=%g give q from %g to %g MeV/c, outside the "
                          "supported range %g ... %g MeV/c\n",
                          parsname, nqmax, delq, qfirst, qlast, QMIN, QMAX);
    qarray.assign(nqmax, 0.0);
    for (int iq = 0; iq < nqmax; iq++) qarray[iq] = (iq + 0.5) * delq;
    CheckWaveTables(parsname);
  } else {
    femtokit::Print("will read qarray from %s\n", qarrayfilename.c_str());
    ReadQMesh(qarrayfilename);
    parameter::set(pars, "NQMAX", nqmax);
  }

  femtokit::Print("__ WFPARAMETERS __\n");
  femtokit::Print("delq set to %g\n", delq);
  femtokit::Print("nqmax set to %d\n", nqmax);
  femtokit::Print("epsilon set to %g\n", epsilon);
  femtokit::Print("STRONG set to %d\n", int(STRONG));
  femtokit::Print("COULOMB set to %d\n", int(COULOMB));
  femtokit::Print("____________________\n");
}

void CWaveFunction::ReadQMesh(const std::string &filename) {
  const char *name = filename.c_str();
  femtokit::NumberReader in(filename);
  if (!in.IsOpen()) femtokit::FatalFile(filename, "cannot open q-mesh file %s\n", name);
  long long count;
  if (!in.Next(count, 1, MAXNQ, "the point count"))
    femtokit::FatalFile(filename, "q-mesh file %s does not start with a positive count\n", name);
  // The count is bounded by MAXNQ; the reservation also by what the file can hold.
  std::vector<double> mesh;
  mesh.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, in.MostValuesLeft())));
  for (long long iq = 0; iq < count; iq++) {
    double q;
    if (!in.Next(q, "q"))
      femtokit::FatalFile(filename, "q-mesh file %s holds %lld values, fewer than its count %lld\n", name, iq, count);
    if (!(q >= QMIN && q <= QMAX))
      femtokit::FatalFile(filename, "%s: q=%g MeV/c is outside the supported range %g ... %g MeV/c\n",
                          in.Where().c_str(), q, QMIN, QMAX);
    if (iq > 0 && !(q > mesh[static_cast<std::size_t>(iq) - 1]))
      femtokit::FatalFile(filename, "%s: q=%g MeV/c does not exceed the point before it (%g MeV/c); the points must "
                          "increase strictly\n",
                          in.Where().c_str(), q, mesh[static_cast<std::size_t>(iq) - 1]);
    mesh.push_back(q);
  }
  in.WarnIfTrailing();
  nqmax = static_cast<int>(count);
  qarray.swap(mesh);
  CheckWaveTables(filename);
}

// Plane-wave table entries at q: the table reaches r = 30 fm in steps of x = 0.01
// (at least 1001 entries); see CPlaneWave.
static std::uint64_t PlaneWaveEntries(double q) {
  const double xmax = q * 30.0 / femtokit::constants::HBARC;
  return xmax > 10.0 ? static_cast<std::uint64_t>(xmax / 0.01) + 2 : 1001;
}

void CWaveFunction::CheckWaveTables(const std::string &file) const {
  std::uint64_t entries = 0;
  for (double q : qarray) entries += PlaneWaveEntries(q);
  femtokit::CheckTableSize(file,
                           femtokit::Format("%s: a q mesh of %d points up to %g MeV/c (plane-wave tables)", file.c_str(),
                                            nqmax, qarray.empty() ? 0.0 : qarray.back()),
                           entries, sizeof(std::complex<double>));
}

void CWaveFunction::InitArrays() {
  eta.assign(nqmax, 0.0);
  planewave.clear();
  planewave.resize(nqmax);
  partwave.clear();
  partwave.resize(ellmax + 1);
  for (auto &row : partwave) row.resize(nqmax);
  delta.assign(nchannels, std::vector<double>(nqmax, 0.0));
  ddeltadq.assign(nchannels, std::vector<double>(nqmax, 0.0));
  Wepsilon.assign(nchannels, std::vector<double>(nqmax, 0.0));
  ell.assign(nchannels, 0);
  channelweight.assign(nchannels, 0.0);
}

void CWaveFunction::InitWaves() {
  // The orders some channel uses; checked before the parallel loop.
  std::vector<char> used(ellmax + 1, 0);
  for (int ic = 0; ic < nchannels; ic++) {
    const int l = ell[ic];
    if (l < 0 || l > ellmax) femtokit::Fatal("channel %d has ell=%d outside 0 ... ellmax=%d\n", ic, l, ellmax);
    used[l] = 1;
  }
  // Partial-wave tables, checked before any wave is built: one per used l and
  // mesh point, partwave_nrmax + 1 entries each.
  const std::uint64_t tables = static_cast<std::uint64_t>(std::count(used.begin(), used.end(), 1)) * nqmax;
  femtokit::CheckTableSize("", femtokit::Format("%d-point q mesh (partial-wave tables)", nqmax),
                           femtokit::SaturatingProduct(tables, static_cast<std::uint64_t>(partwave_nrmax) + 1),
                           sizeof(std::complex<double>));
  // Every mesh point is independent: its waves are built by one thread, so
  // the tables do not depend on the thread count.
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(dynamic)
  for (int iq = 0; iq < nqmax; iq++) {
    errors.Run([&] {
      const double q = qarray[iq];
      const double e1 = sqrt(m1 * m1 + q * q), e2 = sqrt(m2 * m2 + q * q);
      const double e = e1 + e2;
      const double dm2 = m1 * m1 - m2 * m2;
      eta[iq] = q1q2 * (pow(e, 4) - dm2 * dm2) / (4.0 * femtokit::constants::ALPHA_INV * q * e * e * e);
      planewave[iq] = std::make_unique<CPlaneWave>(eta[iq], q1q2, q);
      for (int l = 0; l <= ellmax; l++)
        if (used[l] && !partwave[l][iq])
          partwave[l][iq] = std::make_unique<CPartWave>(eta[iq], q1q2, q, l, epsilon, partwave_nrmax, 0.01);
    });
  }
  errors.Rethrow();
}

double CWaveFunction::CalcPsiSquared(int, double, double) const { return 1.0; }

double CWaveFunction::GetPsiSquared(double q, double r, double ctheta) const {
  const int N = nqmax;
  // A single mesh point stands for every q.
  if (N == 1) return CalcPsiSquared(0, r, ctheta);

  int iqlow, iqhigh;
  if (delq >= 0.0) {
    const double fl = floor(q / delq - 0.5);
    if (fl >= N) {
      return 1.0;  // far beyond the mesh (also keeps the int conversion in range)
    }
    iqlow = fl < -1.0 ? -1 : int(fl);
    iqhigh = iqlow + 1;
  } else {
    if (q <= qarray[0] + 1.0e-5) {
      iqhigh = 0;
    } else {
      iqhigh = N;
      for (int i = 1; i < N; i++) {
        if (qarray[i] + 1.0e-5 >= q) {
          iqhigh = i;
          break;
        }
      }
    }
    iqlow = iqhigh - 1;
  }

  // Above the mesh: extrapolate up to half a spacing, then no correlation.
  if (iqhigh >= N) {
    const double qlast = qarray[N - 1];
    if (iqhigh == N && q - qlast < 0.5 * (qlast - qarray[N - 2])) {
      iqlow = N - 2;
      iqhigh = N - 1;
    } else if (q - qlast > 1.0e-5) {
      return 1.0;
    } else {
      iqlow = N - 2;
      iqhigh = N - 1;
    }
  }
  // Below the mesh the first point is used.
  if (iqhigh <= 0) return CalcPsiSquared(0, r, ctheta);

  const double w = (qarray[iqhigh] - q) / (qarray[iqhigh] - qarray[iqlow]);
  double psisquared;
  if (fabs(w) < 1.0e-5) {
    psisquared = CalcPsiSquared(iqhigh, r, ctheta);
  } else if (fabs(1.0 - w) < 1.0e-5) {
    psisquared = CalcPsiSquared(iqlow, r, ctheta);
  } else {
    psisquared = w * CalcPsiSquared(iqlow, r, ctheta) + (1.0 - w) * CalcPsiSquared(iqhigh, r, ctheta);
  }

  // Outside EPSILON |psi|^2 is a sum of squared waves: a negative value there is
  // a fault. Inside, a negative averaged density was warned about when the wave
  // function was built.
  if (r > 1.0 && r >= epsilon && (delq < 0.0 || q > 0.5 * delq) && psisquared < -0.01) {
    femtokit::Fatal("|psi|^2 = %g < 0 at q = %g MeV/c, r = %g fm, cos(theta) = %g, %s the wave function's q points "
                    "%g and %g MeV/c (%g and %g there); build the wave function on the q mesh it is used at\n",
                    psisquared, q, r, ctheta, w < 0.0 || w > 1.0 ? "extrapolated from" : "interpolated between",
                    qarray[iqlow], qarray[iqhigh], CalcPsiSquared(iqlow, r, ctheta), CalcPsiSquared(iqhigh, r, ctheta));
  }
  return psisquared;
}

double CWaveFunction::GetPsiSquared(const double *pa, const double *xa, const double *pb, const double *xb) const {
  double q, r, ctheta;
  getqrctheta(pa, xa, pb, xb, &q, &r, &ctheta);
  return GetPsiSquared(q, r, ctheta);
}

void CWaveFunction::getqrctheta(const double *pa, const double *xa, const double *pb, const double *xb, double *q,
                                double *r, double *ctheta) const {
  const double g[4] = {1.0, -1.0, -1.0, -1.0};
  auto dot = [&g](const double *a, const double *b) {
    return g[0] * a[0] * b[0] + g[1] * a[1] * b[1] + g[2] * a[2] * b[2] + g[3] * a[3] * b[3];
  };
  double P[4], k[4], d[4];
  for (int mu = 0; mu < 4; mu++) {
    P[mu] = pa[mu] + pb[mu];
    k[mu] = 0.5 * (pa[mu] - pb[mu]);
    d[mu] = xa[mu] - xb[mu];
  }
  const double M2 = dot(P, P);
  // Rounding scale of the Minkowski squares: Euclidean squares of the vectors,
  // enlarged by the boost factor P_E^2/M^2 that the projection below brings in.
  const double PE2 = P[0] * P[0] + P[1] * P[1] + P[2] * P[2] + P[3] * P[3];
  const double boost = M2 > 0.0 ? PE2 / M2 : 1.0;
  const double kscale = (k[0] * k[0] + k[1] * k[1] + k[2] * k[2] + k[3] * k[3]) * boost;
  const double dscale = (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + d[3] * d[3]) * boost;
  // Parts along P vanish in the pair rest frame; only a timelike P has one.
  if (M2 > 0.0 && std::isfinite(M2)) {
    const double Pk = dot(P, k) / M2, Pd = dot(P, d) / M2;
    for (int mu = 0; mu < 4; mu++) {
      k[mu] -= Pk * P[mu];
      d[mu] -= Pd * P[mu];
    }
  }
  // Orthogonal to a timelike P both are spacelike, so negative squares and
  // Cauchy-Schwarz violations can only come from rounding.
  double q2 = -dot(k, k), r2 = -dot(d, d);
  const double s = -dot(k, d);
  const double tol = 1.0e-10;
  bool ok = M2 > 0.0 && std::isfinite(M2) && std::isfinite(q2) && std::isfinite(r2) && std::isfinite(s);
  if (ok) {
    if (q2 < 0.0 && q2 >= -tol * kscale) q2 = 0.0;
    if (r2 < 0.0 && r2 >= -tol * dscale) r2 = 0.0;
    ok = q2 >= 0.0 && r2 >= 0.0 && fabs(s) <= sqrt(r2 * q2) * (1.0 + tol) + tol * sqrt(kscale * dscale);
  }
  if (!ok) femtokit::Fatal("Disaster, r^2=%g, q^2=%g, ctheta=%g\n", r2, q2, s / sqrt(r2 * q2));

  *q = sqrt(q2);
  *r = sqrt(r2);
  const double qr = (*q) * (*r);
  *ctheta = qr > 0.0 ? std::clamp(s / qr, -1.0, 1.0) : 0.0;
}

namespace {

// The wave outside the potential, u = cos(delta) F_l(eta, x) + sin(delta) G_l(eta, x),
// and its x-derivative, divided by C_l(eta0) (lnC0 = ln C_l(eta0), s = sin(delta)/C_l(eta0)^2):
//   u/C_l(eta0) = cos(delta) rho f + s g/rho,  f = F/C_l(eta), g = G C_l(eta), rho = C_l(eta)/C_l(eta0).
// Of order one at every eta: F and G themselves leave the double range inside
// the turning point of a strong repulsion.
struct OuterWave {
  double u, ux;
};

OuterWave Outer(int l, double x, double eta, double lnC0, double cosd, double s) {
  double f, g, fp, gp;
  CoulWave::GetFGScaled(l, x, eta, &f, &g, &fp, &gp);
  const double rho = std::exp(CoulWave::LogNorm(l, eta) - lnC0);
  OuterWave w{cosd * rho * f, cosd * rho * fp};
  if (s != 0.0) {
    w.u += s * g / rho;
    w.ux += s * gp / rho;
  }
  return w;
}

// Boundary part of the energy-derivative identity at x = kR outside the potential,
//   B = x u_x^2 - u u_x - x u u_xx + K (u_x u_eta - u u_x,eta),   K = k d eta/dk,
// and u^2 there, both divided by C_l(eta)^2. u_xx comes from the Coulomb
// equation; the eta-derivatives (at fixed x and delta) from central
// differences extrapolated to zero step (Richardson: error of order h^4, with
// h = 1e-3 |eta|).
struct Boundary {
  double b, u2, uux;
};

Boundary ScaledBoundary(int l, double x, double eta, double K, double delta) {
  const double lnC = CoulWave::LogNorm(l, eta);
  const double cosd = std::cos(delta), sind = std::sin(delta);
  const double s = sind == 0.0 ? 0.0 : sind * std::exp(-2.0 * lnC);
  const OuterWave w = Outer(l, x, eta, lnC, cosd, s);
  const double uxx = (l * (l + 1.0) / (x * x) + 2.0 * eta / x - 1.0) * w.u;
  double b = x * w.ux * w.ux - w.u * w.ux - x * w.u * uxx;
  if (K != 0.0) {
    const double h = 1.0e-3 * std::max(std::fabs(eta), 0.5);
    auto central = [&](double step, double *du, double *dux) {
      const OuterWave p = Outer(l, x, eta + step, lnC, cosd, s), m = Outer(l, x, eta - step, lnC, cosd, s);
      *du = (p.u - m.u) / (2.0 * step);
      *dux = (p.ux - m.ux) / (2.0 * step);
    };
    double du1, dux1, du2, dux2;
    central(h, &du1, &dux1);
    central(0.5 * h, &du2, &dux2);
    const double ueta = (4.0 * du2 - du1) / 3.0, uxeta = (4.0 * dux2 - dux1) / 3.0;
    b += K * (w.ux * ueta - w.u * uxeta);
  }
  return {b, w.u * w.u, w.u * w.ux};
}

// C^2 b without overflow or underflow on the way (C^2 = e^(2 lnC)).
double TimesNorm2(double lnC, double b) {
  if (b == 0.0 || !std::isfinite(b)) return b;
  return std::copysign(std::exp(2.0 * lnC + std::log(std::fabs(b))), b);
}

}  // namespace

double CWaveFunction::GetIW(int ell, double epsilon, double q, int q1q2, double eta, double delta) const {
  const double x = q * epsilon / HBARC;
  const double et = q1q2 == 0 ? 0.0 : eta;
  return -TimesNorm2(CoulWave::LogNorm(ell, et), ScaledBoundary(ell, x, et, -et, delta).b) / q;
}

double CWaveFunction::InnerExcess(int ell, double q, double R, double eta, double kappaprime, double delta,
                                  double ddeltadq) {
  const double hbarc = femtokit::constants::HBARC;
  const double x = q * R / hbarc;
  const double K = kappaprime - eta;
  const double lnC = CoulWave::LogNorm(ell, eta);
  const Boundary with = ScaledBoundary(ell, x, eta, K, delta), without = ScaledBoundary(ell, x, eta, K, 0.0);
  const double outer = TimesNorm2(lnC, with.b - without.b);
  if (kappaprime == 0.0) return ddeltadq + outer / q;
  // The interior term 2 kappa' J, J = int_0^R (u^2 - F^2)/r dr, with the excess
  // density d = (u^2 - F^2)/r^2 modelled as r^(2l) (a + b r^2 + c r^4), the form
  // of the regular waves near the origin, fixed by the excess
  // D = int_0^R (u^2 - F^2) dr itself and by the value and slope of d at R
  // (where u is the outer wave). J is then linear in D:
  //   J = j1 D/R + j2 R^2 d(R) + j3 R^3 d'(R),
  // and 2k D - 2 kappa' J = q ddelta/dq + outer gives T = 2D/hbarc.
  const double n = 2.0 * ell;
  // Moments of r^(n + 2i) over the ball: rows D/R^3, R^2 d(R)/R^2 = d(R), R d'(R);
  // J/R^2 = sum_i w_i A_i. j = M^(-T) w by Cramer's rule.
  const double M[3][3] = {{1.0 / (n + 3.0), 1.0 / (n + 5.0), 1.0 / (n + 7.0)},
                          {1.0, 1.0, 1.0},
                          {n, n + 2.0, n + 4.0}};
  const double w[3] = {1.0 / (n + 2.0), 1.0 / (n + 4.0), 1.0 / (n + 6.0)};
  // Solve M^T j = w.
  double Mt[3][3];
  for (int i = 0; i < 3; i++)
    for (int k = 0; k < 3; k++) Mt[i][k] = M[k][i];
  auto det3 = [](const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const double det = det3(Mt);
  double j[3];
  for (int col = 0; col < 3; col++) {
    double m[3][3];
    for (int i = 0; i < 3; i++)
      for (int k = 0; k < 3; k++) m[i][k] = k == col ? w[i] : Mt[i][k];
    j[col] = det3(m) / det;
  }
  const double k = q / hbarc;
  const double E = TimesNorm2(lnC, with.u2 - without.u2);                    // u^2 - F^2 at R
  const double Ep = 2.0 * k * TimesNorm2(lnC, with.uux - without.uux);       // its r-derivative
  const double dR = E / (R * R), dpR = Ep / (R * R) - 2.0 * E / (R * R * R);  // d and d' at R
  const double known = j[1] * R * R * dR + j[2] * R * R * R * dpR;
  return (q * ddeltadq + outer + 2.0 * kappaprime * known) / (q - hbarc * kappaprime * j[0] / R);
}

void CWaveFunction::EffectiveRange(int ichannel, double scattlength, double Reff) {
  const double a = scattlength;
  for (int iq = 0; iq < nqmax; iq++) {
    const double q = qarray[iq];
    const double t = 1.0 / (-HBARC / (a * q) + 0.5 * q * Reff / HBARC);
    delta[ichannel][iq] = atan(t);
    ddeltadq[ichannel][iq] = t * t / (1.0 + t * t) * (-HBARC / (a * q * q) - 0.5 * Reff / HBARC);
  }
}

void CWaveFunction::PrintCdelta(double Rx, double Ry, double Rz) const {
  femtokit::Print("! Qinv  C(Q)_estimated ~ ddelta/dq\n");
  const double norm = pow(4.0 * PI, 1.5) * Rx * Ry * Rz;
  for (int iq = 0; iq < nqmax; iq++) {
    const double q = qarray[iq];
    double C = 1.0;
    for (int ic = 0; ic < nchannels; ic++)
      C += channelweight[ic] * 2.0 * PI * pow(HBARC, 3) * ddeltadq[ic][iq] / (norm * q * q);
    femtokit::Print("%6.2f  %8.4f  %g\n", q, C, 4.0 * q * q * (C - 1.0));
  }
  femtokit::Print("_________________________________\n");
}

double CWaveFunction::EpsilonJump() const {
  if (!(epsilon > 0.0)) return 0.0;
  const double inside = std::nextafter(epsilon, 0.0) * (1.0 - 1e-12);
  const double outside = epsilon;
  double jump = 0.0;
  for (int iq = 0; iq < nqmax; iq++)
    for (double ctheta : {-1.0, -0.5, 0.0, 0.5, 1.0})
      jump = std::max(jump, std::fabs(CalcPsiSquared(iq, inside, ctheta) - CalcPsiSquared(iq, outside, ctheta)));
  return jump;
}
