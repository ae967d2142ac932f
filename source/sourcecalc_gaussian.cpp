#include "source/sourcecalc_gaussian.h"
#include "config/constants.h"

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "source/sourceparameters.h"

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_erf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

namespace {
using femtokit::constants::FOURPI;
const double kSymmetryTolerance = 1.0e-8;

// Integral of r^2 exp(c + b r - a r^2) over r > rho (a > 0): the square
// completed about m = b/(2a), each term in closed form.
double RadialTail(double a, double b, double c, double rho) {
  const double m = b / (2.0 * a), t0 = rho - m, sa = std::sqrt(a);
  const double top = c + b * b / (4.0 * a);  // the exponent's largest value along the ray
  const double g0 = 0.5 * std::sqrt(M_PI / a) * gsl_sf_erfc(sa * t0);  // Int e^{-a t^2}
  const double e = std::exp(-a * t0 * t0);
  const double g1 = e / (2.0 * a);                     // Int t e^{-a t^2}
  const double g2 = t0 * e / (2.0 * a) + g0 / (2.0 * a);  // Int t^2 e^{-a t^2}
  return std::exp(top) * (g2 + 2.0 * m * g1 + m * m * g0);
}

// The model's parameters, each checked against its range.
struct Gauss3DPars {
  double lambda, R[3], o[3], phi, theta, psi;
};

Gauss3DPars ReadPars(const parameterMap &spars) {
  const femtokit::SourceModel &m = femtokit::Gauss3DModel();
  Gauss3DPars p;
  p.lambda = femtokit::ReadChecked(spars, m, "lambda");
  const char *radii[3] = {"Rx", "Ry", "Rz"}, *offsets[3] = {"Xoff", "Yoff", "Zoff"};
  for (int i = 0; i < 3; i++) {
    p.R[i] = femtokit::ReadChecked(spars, m, radii[i]);
    p.o[i] = femtokit::ReadChecked(spars, m, offsets[i]);
  }
  p.phi = femtokit::ReadChecked(spars, m, "Euler_Phi");
  p.theta = femtokit::ReadChecked(spars, m, "Euler_Theta");
  p.psi = femtokit::ReadChecked(spars, m, "Euler_Psi");
  return p;
}

// U = Rz(psi) Ry(theta) Rz(phi); the quadratic form of the exponent is
// U D U^T, so column k of U is the principal axis of D_k.
void EulerMatrix(double phi, double theta, double psi, double U[3][3]) {
  const double cf = std::cos(phi), sf = std::sin(phi), ct = std::cos(theta), st = std::sin(theta);
  const double cp = std::cos(psi), sp = std::sin(psi);
  const double M[3][3] = {{cp * ct * cf - sf * sp, cp * ct * sf + cf * sp, -cp * st},
                          {-sp * ct * cf - cp * sf, -sp * ct * sf + cf * cp, sp * st},
                          {cf * st, sf * st, ct}};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) U[i][j] = M[i][j];
}

// Gauss-Legendre nodes and weights on [-1, 1] for n points, built once per n
// and shared by all threads (entries are never removed, so a returned
// reference stays valid).
struct GLRule {
  std::vector<double> x, w;
};
const GLRule &GaussLegendre(int n) {
  static std::mutex lock;
  static std::map<int, GLRule> rules;
  std::lock_guard<std::mutex> guard(lock);
  auto it = rules.find(n);
  if (it != rules.end()) return it->second;
  GLRule rule;
  gsl_integration_glfixed_table *table = gsl_integration_glfixed_table_alloc(static_cast<std::size_t>(n));
  rule.x.resize(static_cast<std::size_t>(n));
  rule.w.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; i++)
    gsl_integration_glfixed_point(-1.0, 1.0, static_cast<std::size_t>(i), &rule.x[i], &rule.w[i], table);
  gsl_integration_glfixed_table_free(table);
  return rules.emplace(n, std::move(rule)).first->second;
}

// Order m beyond which the terms I_m(k) cos(m t) of exp(k cos t) stay below
// 1e-16 of I_0(k): I_m/I_0 bounded by the product of the ratios
// I_(v+1)/I_v < k/(v + 1/2 + sqrt(k^2 + (v + 1/2)^2)).
int BesselOrder(double k) {
  if (!(k > 0.0)) return 0;
  double bound = 1.0;
  int m = 0;
  while (bound > 1.0e-16 && m < 100000) {
    const double v = m + 0.5;
    bound *= k / (v + std::sqrt(k * k + v * v));
    m++;
  }
  return m;
}

// The angular projections of one harmonic fill. On each shell exp(F(r n)) is
// integrated against the monomials of n by a product rule (Gauss-Legendre in
// the polar cosine, midpoints in azimuth) in the frame of the source's
// principal axes, where the quadratic part is diagonal; the node counts
// follow the spread of the exponent over the shell, so the rule integrates
// exp(F) times every harmonic up to LMAX to rounding. Without an offset the
// integrand is even along each principal axis: one octant of nodes carries
// the sphere and only even monomials survive. A fixed matrix, built once per
// fill, turns those moments into A's coefficients.
class ShellProjector {
 public:
  ShellProjector(const double alpha[4][4], const double U[3][3], const double D[3], CCHArray *A) {
    lmax_ = A->GetLMAX();
    // The polar axis is the principal axis at the end of the larger gap of
    // the sorted D, so the azimuth sees the smaller gap.
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int a, int b) { return D[a] < D[b]; });
    const bool lowPolar = D[order[1]] - D[order[0]] > D[order[2]] - D[order[1]];
    const int cols[3] = {lowPolar ? order[1] : order[0], lowPolar ? order[2] : order[1],
                         lowPolar ? order[0] : order[2]};
    for (int k = 0; k < 3; k++) {
      d_[k] = D[cols[k]];
      l_[k] = 0.0;
      for (int i = 0; i < 3; i++) {
        V_[i][k] = U[i][cols[k]];
        l_[k] += alpha[0][i + 1] * U[i][cols[k]];
      }
    }
    c0_ = alpha[0][0];
    folded_ = l_[0] == 0.0 && l_[1] == 0.0 && l_[2] == 0.0;
    for (int i = 0; i <= lmax_; i++)
      for (int j = 0; i + j <= lmax_; j++)
        for (int k = 0; i + j + k <= lmax_; k++)
          if (!folded_ || (i % 2 == 0 && j % 2 == 0 && k % 2 == 0)) mono_.push_back({i, j, k});
    BuildProjection(A);
    moments_.resize(mono_.size());
    pw_.resize(3 * static_cast<std::size_t>(lmax_ + 1));
  }

  // Overwrites bin ir of A (every triple under A's LMAX).
  void Fill(const CCHArray *A, int ir) {
    const double r = (ir + 0.5) * A->GetRADSTEP(), r2 = r * r;
    const double lperp = r * std::hypot(l_[0], l_[1]);
    const double lnorm = r * std::sqrt(l_[0] * l_[0] + l_[1] * l_[1] + l_[2] * l_[2]);
    const double gpolar = std::max(std::fabs(d_[2] - d_[0]), std::fabs(d_[2] - d_[1]));
    // exp(b c^2) = exp(b/2) exp((b/2) T_2(c)): order m in T_2 is degree 2m in c.
    const int degTheta = 2 * BesselOrder(0.5 * r2 * gpolar) + BesselOrder(lnorm) + lmax_;
    const int degPhi = 2 * BesselOrder(0.5 * r2 * std::fabs(d_[0] - d_[1])) + BesselOrder(lperp) + lmax_;
    int ntheta = degTheta / 2 + 1;  // exact to degree 2 ntheta - 1
    ntheta += ntheta % 2;
    const int nphi = 4 * (degPhi / 4 + 1);  // exact to trigonometric degree nphi - 1
    const GLRule &gl = GaussLegendre(ntheta);
    std::fill(moments_.begin(), moments_.end(), 0.0);
    const double dphi = 2.0 * M_PI / nphi;
    // Node weights over 4 pi: moments as CalcAExpArrayFromMArray reads them.
    const double wphi = dphi / (4.0 * M_PI) * (folded_ ? 8.0 : 1.0);
    const int ic0 = folded_ ? ntheta / 2 : 0, nphiUsed = folded_ ? nphi / 4 : nphi;
    const std::size_t L1 = static_cast<std::size_t>(lmax_ + 1);
    double *px = pw_.data(), *py = px + L1, *pz = py + L1;
    for (int ic = ic0; ic < ntheta; ic++) {
      const double c = gl.x[ic], s = std::sqrt(std::max(0.0, 1.0 - c * c));
      for (int jp = 0; jp < nphiUsed; jp++) {
        const double ph = (jp + 0.5) * dphi;
        const double n[3] = {s * std::cos(ph), s * std::sin(ph), c};
        const double F = c0_ + r2 * (d_[0] * n[0] * n[0] + d_[1] * n[1] * n[1] + d_[2] * n[2] * n[2]) +
                         r * (l_[0] * n[0] + l_[1] * n[1] + l_[2] * n[2]);
        const double w = gl.w[ic] * wphi * std::exp(F);
        if (w == 0.0) continue;
        px[0] = py[0] = pz[0] = 1.0;
        for (std::size_t e = 1; e < L1; e++) {
          px[e] = px[e - 1] * n[0];
          py[e] = py[e - 1] * n[1];
          pz[e] = pz[e - 1] * n[2];
        }
        for (std::size_t j = 0; j < mono_.size(); j++)
          moments_[j] += w * px[mono_[j][0]] * py[mono_[j][1]] * pz[mono_[j][2]];
      }
    }
    const std::size_t nm = mono_.size();
    for (std::size_t t = 0; t < rows_.size(); t++) {
      const double *g = &G_[t * nm];
      double sum = 0.0;
      for (std::size_t j = 0; j < nm; j++) sum += g[j] * moments_[j];
      rows_[t][ir] = sum;
    }
  }

 private:
  // Column j of G is the A-expansion of the lab moments of the monomial n^j
  // (each lab monomial expanded through e = V n), by the library's moment
  // conversion.
  void BuildProjection(CCHArray *A) {
    const int nm = static_cast<int>(mono_.size()), L1 = lmax_ + 1;
    CCHArray M(lmax_, nm, 1.0, A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
    CCHArray G(lmax_, nm, 1.0, A->GetXSYM(), A->GetYSYM(), A->GetZSYM());
    std::vector<double> poly(static_cast<std::size_t>(L1 * L1 * L1)), next(poly.size());
    auto at = [L1](int i, int j, int k) { return static_cast<std::size_t>((i * L1 + j) * L1 + k); };
    M.ForEachTriple([&](int lx, int ly, int lz) {
      std::fill(poly.begin(), poly.end(), 0.0);
      poly[at(0, 0, 0)] = 1.0;
      const int powers[3] = {lx, ly, lz};
      int deg = 0;
      for (int axis = 0; axis < 3; axis++)
        for (int p = 0; p < powers[axis]; p++, deg++) {
          std::fill(next.begin(), next.end(), 0.0);
          for (int i = 0; i <= deg; i++)
            for (int j = 0; i + j <= deg; j++)
              for (int k = 0; i + j + k <= deg; k++) {
                const double v = poly[at(i, j, k)];
                if (v == 0.0) continue;
                next[at(i + 1, j, k)] += V_[axis][0] * v;
                next[at(i, j + 1, k)] += V_[axis][1] * v;
                next[at(i, j, k + 1)] += V_[axis][2] * v;
              }
          poly.swap(next);
        }
      for (int j = 0; j < nm; j++) M.SetElement(lx, ly, lz, j, poly[at(mono_[j][0], mono_[j][1], mono_[j][2])]);
    });
    ArrayCalc::CalcAExpArrayFromMArray(&M, &G);
    A->ForEachTriple([&](int lx, int ly, int lz) {
      rows_.push_back(A->Row(lx, ly, lz));
      for (int j = 0; j < nm; j++) G_.push_back(G.GetElement(lx, ly, lz, j));
    });
  }

  int lmax_ = 0;
  double V_[3][3], d_[3], l_[3], c0_ = 0.0;
  bool folded_ = true;
  std::vector<std::array<int, 3>> mono_;  // principal-frame monomials carried
  std::vector<double> G_;                 // one row per A triple, one column per monomial
  std::vector<double *> rows_;            // A's row of each triple
  std::vector<double> moments_, pw_;
};

}  // namespace

CSourceCalc_Gaussian::CSourceCalc_Gaussian() { InitSPars(); }

void CSourceCalc_Gaussian::InitSPars() {
  for (const femtokit::SourceParameter &p : femtokit::Gauss3DModel().parameters) parameter::set(spars, p.name, p.def);
}

void CSourceCalc_Gaussian::SetSPars(double lambda, double Rx, double Ry, double Rz) {
  parameter::set(spars, "lambda", lambda);
  parameter::set(spars, "Rx", Rx);
  parameter::set(spars, "Ry", Ry);
  parameter::set(spars, "Rz", Rz);
}

void CSourceCalc_Gaussian::SetSPars(double lambda, double Rx, double Ry, double Rz, double Xoff, double Yoff,
                                    double Zoff) {
  SetSPars(lambda, Rx, Ry, Rz);
  parameter::set(spars, "Xoff", Xoff);
  parameter::set(spars, "Yoff", Yoff);
  parameter::set(spars, "Zoff", Zoff);
}

void CSourceCalc_Gaussian::SetSPars(double lambda, double Rx, double Ry, double Rz, double Xoff, double Yoff,
                                    double Zoff, double Euler_Phi, double Euler_Theta, double Euler_Psi) {
  SetSPars(lambda, Rx, Ry, Rz, Xoff, Yoff, Zoff);
  parameter::set(spars, "Euler_Phi", Euler_Phi);
  parameter::set(spars, "Euler_Theta", Euler_Theta);
  parameter::set(spars, "Euler_Psi", Euler_Psi);
}

void CSourceCalc_Gaussian::CalcAlpha(double alpha[4][4], const CCHArray *A) const {
  const Gauss3DPars p = ReadPars(spars);
  const double lambda = p.lambda, phi = p.phi, theta = p.theta, psi = p.psi;
  const double *R = p.R, *o = p.o;
  auto off = [](double v) { return std::fabs(v) > kSymmetryTolerance; };
  if (A->GetXSYM() && (off(o[0]) || off(phi) || off(theta) || off(psi)))
    femtokit::Fatal("Xsym true, but Xoff, Euler_phi, Euler_Theta or Euler_Psi !=0\n");
  if (A->GetYSYM() && (off(o[1]) || off(phi) || off(psi)))
    femtokit::Fatal("Ysym true, but Yoff, Euler_phi, or Euler_Psi !=0\n");
  if (A->GetZSYM() && (off(o[2]) || off(theta))) femtokit::Fatal("Zsym true, but Zoff or Euler_Theta !=0\n");

  double U[3][3];
  EulerMatrix(phi, theta, psi, U);
  const double D[3] = {-0.25 / (R[0] * R[0]), -0.25 / (R[1] * R[1]), -0.25 / (R[2] * R[2])};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      double sum = 0.0;
      for (int k = 0; k < 3; k++) sum += U[i][k] * D[k] * U[j][k];
      alpha[i + 1][j + 1] = sum;
    }
  double oQo = 0.0;
  for (int i = 0; i < 3; i++) {
    double Qo = 0.0;
    for (int j = 0; j < 3; j++) Qo += alpha[i + 1][j + 1] * o[j];
    oQo += o[i] * Qo;
    alpha[0][i + 1] = alpha[i + 1][0] = -2.0 * Qo;
  }
  alpha[0][0] = std::log(lambda / (std::pow(FOURPI, 1.5) * R[0] * R[1] * R[2])) + oQo;
}

void CSourceCalc_Gaussian::CalcS(CCHArray *A) {
  double alpha[4][4];
  CalcAlpha(alpha, A);
  const Gauss3DPars p = ReadPars(spars);
  double U[3][3];
  EulerMatrix(p.phi, p.theta, p.psi, U);
  const double D[3] = {-0.25 / (p.R[0] * p.R[0]), -0.25 / (p.R[1] * p.R[1]), -0.25 / (p.R[2] * p.R[2])};
  ShellProjector shells(alpha, U, D, A);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) shells.Fill(A, ir);
  WarnLostNorm(alpha, A);
}

void CSourceCalc_Gaussian::WarnLostNorm(const double alpha[4][4], const CCHArray *A) const {
  if (A->GetNRADIAL() > 0) {
    const double reach = A->GetNRADIAL() * A->GetRADSTEP();
    // A cheap bound first: the separation is Gaussian about o with widths
    // sqrt(2) R_i, so it leaves the sphere of radius reach less often than an
    // isotropic one of the largest width leaves that of radius reach - |o|.
    const Gauss3DPars p = ReadPars(spars);
    const double sigma = M_SQRT2 * std::max({p.R[0], p.R[1], p.R[2]});
    const double a = (reach - std::sqrt(p.o[0] * p.o[0] + p.o[1] * p.o[1] + p.o[2] * p.o[2])) / sigma;
    if (a > 0.0 && gsl_sf_erfc(a / M_SQRT2) + std::sqrt(2.0 / M_PI) * a * std::exp(-0.5 * a * a) < kLostNormTolerance)
      return;
    WarnLostFraction(LostFraction(alpha, reach) / ReadPars(spars).lambda, "source's norm",
                     femtokit::Format("reaches %g fm", reach));
  }
}

void CSourceCalc_Gaussian::CalcS_Series(CCHArray *A) {
  double alpha[4][4];
  CalcAlpha(alpha, A);
  const bool sx = A->GetXSYM(), sy = A->GetYSYM(), sz = A->GetZSYM();
  CCHArray X(2, 1, A->GetRADSTEP(), sx, sy, sz), Xt(2, 1, A->GetRADSTEP(), sx, sy, sz);
  const double e0 = std::exp(alpha[0][0]);
  for (int ir = 0; ir < A->GetNRADIAL(); ++ir) {
    const double r = (ir + 0.5) * A->GetRADSTEP(), r2 = r * r;
    // Product-form coefficients of F(r n) - alpha[0][0] as a function of n.
    X.ZeroArray();
    if (!sx) X.SetElement(1, 0, 0, 0, r * alpha[1][0]);
    if (!sy) X.SetElement(0, 1, 0, 0, r * alpha[2][0]);
    if (!sz) X.SetElement(0, 0, 1, 0, r * alpha[3][0]);
    X.SetElement(2, 0, 0, 0, r2 * alpha[1][1]);
    X.SetElement(0, 2, 0, 0, r2 * alpha[2][2]);
    X.SetElement(0, 0, 2, 0, r2 * alpha[3][3]);
    if (!sx && !sy) X.SetElement(1, 1, 0, 0, r2 * alpha[1][2]);
    if (!sx && !sz) X.SetElement(1, 0, 1, 0, r2 * alpha[1][3]);
    if (!sy && !sz) X.SetElement(0, 1, 1, 0, r2 * alpha[2][3]);
    ArrayCalc::Detrace(&X, 0, &Xt, 0);
    ArrayCalc::CalcAExpArrayFromXExpArray(&Xt, 0, A, ir);
    A->ScaleArray(e0, ir);
    A->FillRemainderX(ir);
  }
  WarnLostNorm(alpha, A);
}

double CSourceCalc_Gaussian::LostFraction(const double alpha[4][4], double rho) {
  // Along each direction n the exponent is alpha00 + r (l.n) + r^2 (n.Q.n):
  // the radial tail in closed form, summed over a product rule on the sphere
  // (Gauss-Legendre in cos(theta), uniform in phi).
  constexpr int kTheta = 48, kPhi = 96;
  gsl_integration_glfixed_table *table = gsl_integration_glfixed_table_alloc(kTheta);
  double lost = 0.0;
  for (int i = 0; i < kTheta; i++) {
    double c, w;
    gsl_integration_glfixed_point(-1.0, 1.0, static_cast<std::size_t>(i), &c, &w, table);
    const double s = std::sqrt(std::max(0.0, 1.0 - c * c));
    for (int j = 0; j < kPhi; j++) {
      const double ph = 2.0 * M_PI * (j + 0.5) / kPhi;
      const double n[3] = {s * std::cos(ph), s * std::sin(ph), c};
      double lin = 0.0, quad = 0.0;
      for (int k = 0; k < 3; k++) {
        lin += alpha[0][k + 1] * n[k];
        for (int l = 0; l < 3; l++) quad += alpha[k + 1][l + 1] * n[k] * n[l];
      }
      lost += w * (2.0 * M_PI / kPhi) * RadialTail(-quad, lin, alpha[0][0], rho);
    }
  }
  gsl_integration_glfixed_table_free(table);
  return lost;
}

void CSourceCalc_Gaussian::CalcS(C3DArray *A) {
  const Gauss3DPars p = ReadPars(spars);
  const double lambda = p.lambda, Rx = p.R[0], Ry = p.R[1], Rz = p.R[2], Xoff = p.o[0], Yoff = p.o[1], Zoff = p.o[2];
  const double norm = lambda * std::pow(FOURPI, -1.5) / (Rx * Ry * Rz);
  const int nsx = A->GetXSYM() ? 1 : 2, nsy = A->GetYSYM() ? 1 : 2, nsz = A->GetZSYM() ? 1 : 2;
  for (int isx = 0; isx < nsx; ++isx)
    for (int ix = 0; ix < A->GetNXMAX(); ++ix) {
      const double x = (isx ? -1.0 : 1.0) * (ix + 0.5) * A->GetDELX() - Xoff, fx = x * x / (Rx * Rx);
      for (int isy = 0; isy < nsy; ++isy)
        for (int iy = 0; iy < A->GetNYMAX(); ++iy) {
          const double y = (isy ? -1.0 : 1.0) * (iy + 0.5) * A->GetDELY() - Yoff, fy = y * y / (Ry * Ry);
          for (int isz = 0; isz < nsz; ++isz)
            for (int iz = 0; iz < A->GetNZMAX(); ++iz) {
              const double z = (isz ? -1.0 : 1.0) * (iz + 0.5) * A->GetDELZ() - Zoff;
              A->SetElement(isx, ix, isy, iy, isz, iz, norm * std::exp(-0.25 * (fx + fy + z * z / (Rz * Rz))));
            }
        }
    }
  // The mesh is the box |x_i| < N_i DEL_i; each coordinate is Gaussian of
  // width sqrt(2) R_i about its offset.
  const double half[3] = {A->GetNXMAX() * A->GetDELX(), A->GetNYMAX() * A->GetDELY(), A->GetNZMAX() * A->GetDELZ()};
  const double width[3] = {M_SQRT2 * Rx, M_SQRT2 * Ry, M_SQRT2 * Rz}, off[3] = {Xoff, Yoff, Zoff};
  double inside = 1.0;
  for (int i = 0; i < 3; i++)
    inside *= 0.5 * (gsl_sf_erf((half[i] - off[i]) / (M_SQRT2 * width[i])) +
                     gsl_sf_erf((half[i] + off[i]) / (M_SQRT2 * width[i])));
  WarnLostFraction(1.0 - inside, "source's norm",
                   femtokit::Format("spans |x| < %g, |y| < %g, |z| < %g fm", half[0], half[1], half[2]));
}
