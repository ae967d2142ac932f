#include "source/sourcecalc_gaussian.h"
#include "config/constants.h"

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "config/fatal.h"

#include <cmath>

namespace {
using femtokit::constants::FOURPI;
const double kSymmetryTolerance = 1.0e-8;
}  // namespace

CSourceCalc_Gaussian::CSourceCalc_Gaussian() { InitSPars(); }

void CSourceCalc_Gaussian::InitSPars() {
  parameter::set(spars, "lambda", 1.0);
  for (const char *key : {"Rx", "Ry", "Rz"}) parameter::set(spars, key, 4);
  for (const char *key : {"Xoff", "Yoff", "Zoff", "Euler_Phi", "Euler_Theta", "Euler_Psi"})
    parameter::set(spars, key, 0);
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
  const double lambda = parameter::getD(spars, "lambda", 1.0);
  const double R[3] = {parameter::getD(spars, "Rx", 4.0), parameter::getD(spars, "Ry", 4.0),
                       parameter::getD(spars, "Rz", 4.0)};
  const double o[3] = {parameter::getD(spars, "Xoff", 0.0), parameter::getD(spars, "Yoff", 0.0),
                       parameter::getD(spars, "Zoff", 0.0)};
  const double phi = parameter::getD(spars, "Euler_Phi", 0.0);
  const double theta = parameter::getD(spars, "Euler_Theta", 0.0);
  const double psi = parameter::getD(spars, "Euler_Psi", 0.0);
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
}

void CSourceCalc_Gaussian::CalcS(C3DArray *A) {
  const double lambda = parameter::getD(spars, "lambda", 1.0);
  const double Rx = parameter::getD(spars, "Rx", 4.0), Ry = parameter::getD(spars, "Ry", 4.0),
               Rz = parameter::getD(spars, "Rz", 4.0);
  const double Xoff = parameter::getD(spars, "Xoff", 0.0), Yoff = parameter::getD(spars, "Yoff", 0.0),
               Zoff = parameter::getD(spars, "Zoff", 0.0);
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
}
