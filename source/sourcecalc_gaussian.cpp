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

#include <cmath>

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

  const double cf = std::cos(phi), sf = std::sin(phi), ct = std::cos(theta), st = std::sin(theta);
  const double cp = std::cos(psi), sp = std::sin(psi);
  const double U[3][3] = {{cp * ct * cf - sf * sp, cp * ct * sf + cf * sp, -cp * st},
                          {-sp * ct * cf - cp * sf, -sp * ct * sf + cf * cp, sp * st},
                          {cf * st, sf * st, ct}};
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
  if (A->GetNRADIAL() > 0) {
    const double reach = A->GetNRADIAL() * A->GetRADSTEP();
    WarnLostFraction(LostFraction(alpha, reach) / ReadPars(spars).lambda, "source's norm",
                     femtokit::Format("reaches %g fm", reach));
  }
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
