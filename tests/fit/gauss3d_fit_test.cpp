// 3D Gaussian sources through free-boson kernels: the correlation function
// on a 3D q mesh against its closed form, the fit through the LCMS and the
// PRF, and a turned source recovered with its angle free.
#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "common/testutil.h"
#include "config/constants.h"
#include "config/output.h"
#include "fit/cf2sfit_models.h"
#include "fit/s2cf.h"
#include "fit/table3d.h"
#include "kernel/kernel.h"
#include "config/parametermap.h"
#include "source/sourceparameters.h"
#include "source/sourcecalc_gaussian.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using testutil::kHbarc;

// Free identical-boson kernel; with identical = false the same tables on a
// kernel that keeps odd components (arrays without symmetry flags).
std::unique_ptr<CKernel> BosonKernel(int nq, double dq, int lmax, bool identical) {
  const std::string file = "gauss3d_fit_test_" + std::to_string(getpid()) + ".dat";
  auto write = [&](bool id) {
    std::ofstream(file) << "int NQMAX " << nq << "\nint NRMAX 80\nint KLMAX " << lmax << "\ndouble DELQ " << dq
                        << "\ndouble DELR 0.5\nbool IDENTICAL " << id << "\n";
  };
  write(true);
  auto hbt = std::make_unique<CKernel>(file);
  hbt->Calc_PureHBT();
  if (identical) {
    std::remove(file.c_str());
    return hbt;
  }
  write(false);
  auto k = std::make_unique<CKernel>(file);
  std::remove(file.c_str());
  for (int l = 0; l <= lmax; l++) {
    double *t = k->Table(l);
    const double *s = hbt->Table(l);
    for (int i = 0; i < nq * 80; i++) t[i] = s ? s[i] : 0.0;
  }
  return k;
}

// 1 + lambda exp(-4 sum q_i^2 R_i^2 / hbarc^2) - 1 on every stored cell.
void ClosedForm(C3DArray &C, double lambda, const double R[3]) {
  const int ns[3] = {C.GetXSYM() ? 1 : 2, C.GetYSYM() ? 1 : 2, C.GetZSYM() ? 1 : 2};
  for (int sx = 0; sx < ns[0]; sx++)
    for (int ix = 0; ix < C.GetNXMAX(); ix++)
      for (int sy = 0; sy < ns[1]; sy++)
        for (int iy = 0; iy < C.GetNYMAX(); iy++)
          for (int sz = 0; sz < ns[2]; sz++)
            for (int iz = 0; iz < C.GetNZMAX(); iz++) {
              const double q[3] = {(ix + 0.5) * C.GetDELX(), (iy + 0.5) * C.GetDELY(), (iz + 0.5) * C.GetDELZ()};
              const double e = q[0] * q[0] * R[0] * R[0] + q[1] * q[1] * R[1] * R[1] + q[2] * q[2] * R[2] * R[2];
              C.SetElement(sx, ix, sy, iy, sz, iz, lambda * std::exp(-4 * e / (kHbarc * kHbarc)));
            }
}

// The fit of lambda and the radii (offsets fixed) from a start off the truth.
struct Fit3D {
  std::unique_ptr<CKernel> kernel;
  CCHArray source, ctheoryCH;
  C3DArray ctheory;
  CSourceCalc_Gaussian calc;
  std::unique_ptr<CCF2SFit_3DGaussian> fit;
  Fit3D(std::unique_ptr<CKernel> k, C3DArray &cexp, C3DArray &cerror, bool sym)
      : kernel(std::move(k)),
        source(kernel->GetLMAX(), 80, 0.5, sym, sym, sym),
        ctheoryCH(kernel->GetLMAX(), kernel->GetNQMAX(), kernel->GetDELQ(), sym, sym, sym),
        ctheory(cexp.GetNXMAX(), cexp.GetDELX(), cexp.GetNYMAX(), cexp.GetDELY(), cexp.GetNZMAX(), cexp.GetDELZ(),
                sym, sym, sym) {
    calc.SetSPars(0.5, 4.5, 4.5, 4.5);
    fit = std::make_unique<CCF2SFit_3DGaussian>(&calc, &cexp, &cerror, &ctheory, &ctheoryCH, &source, kernel.get());
    fit->FixPar("Xoff");
  }
  double Value(const char *name) const { return fit->par[static_cast<size_t>(fit->FindPar(name))].value; }
};

}  // namespace

// Distinct radii through free bosons, cell by cell: the harmonic transform at
// LMAX 8 on a fine q mesh, converted to the 3D mesh, equals the closed form up
// to the truncation in L and the interpolation between the 0.5 MeV/c bins.
TEST(Gauss3DFit, FreeBosonsGiveTheClosedFormCellByCell) {
  const testutil::ScopedVerbosity silent(femtokit::Verbosity::Silent);
  auto kernel = BosonKernel(100, 0.5, 8, true);  // to 50 MeV/c, beyond the mesh's corner
  CSourceCalc_Gaussian g;
  const double R[3] = {3.0, 4.0, 5.5};
  g.SetSPars(0.7, R[0], R[1], R[2]);
  CCHArray source(8, 80, 0.5, true, true, true), cf(8, 100, 0.5, true, true, true);
  g.CalcS(&source);
  S2CF::s2c(&source, kernel.get(), &cf);
  cf.FillRemainderX();
  C3DArray mesh(6, 5.0, true, true, true), exact(6, 5.0, true, true, true);
  ArrayCalc::Calc3DArrayFromAExpArray(&cf, &mesh);
  ClosedForm(exact, 0.7, R);
  double worst = 0.0;
  for (int ix = 0; ix < 6; ix++)
    for (int iy = 0; iy < 6; iy++)
      for (int iz = 0; iz < 6; iz++)
        worst = std::max(worst, std::fabs(mesh.GetElement(0, ix, 0, iy, 0, iz) - exact.GetElement(0, ix, 0, iy, 0, iz)));
  EXPECT_LT(worst, 2e-3 * 0.7);
  // Along the axes the differences in radius show: C_out falls fastest.
  EXPECT_GT(mesh.GetElement(0, 3, 0, 0, 0, 0), mesh.GetElement(0, 0, 0, 3, 0, 0));
  EXPECT_GT(mesh.GetElement(0, 0, 0, 3, 0, 0), mesh.GetElement(0, 0, 0, 0, 0, 3));
}

// A table measured in the LCMS (R_out^LCMS) and its PRF form (q_out / gamma_T):
// the fit in the PRF finds R_out^PRF = gamma_T R_out^LCMS, the other radii and
// lambda unchanged, whether the data come as the LCMS table or directly on
// the PRF mesh.
TEST(Gauss3DFit, LCMSTableFitsAsThePRFSourceWithOutRadiusTimesGammaT) {
  const testutil::ScopedVerbosity silent(femtokit::Verbosity::Silent);
  const double gammaT = femtokit::GammaTFromKT(250.0, femtokit::constants::MPI, femtokit::constants::MPI);
  const double lcms[3] = {2.5, 4.0, 3.5}, prf[3] = {gammaT * 2.5, 4.0, 3.5};
  C3DArray measured(6, 5.0, true, true, true), err(6, 5.0, true, true, true);
  ClosedForm(measured, 0.6, lcms);
  err.MakeConstant(0.004);
  const std::string file = "gauss3d_fit_lcms_" + std::to_string(getpid()) + ".dat";
  femtokit::WriteTable3D(file, measured, &err, femtokit::Frame::LCMS, gammaT, {});
  femtokit::Table3D t = femtokit::ReadTable3D(file);
  std::remove(file.c_str());
  ASSERT_EQ(t.frame, femtokit::Frame::LCMS);
  auto cexp = femtokit::ScaledOut(*t.cf, 1.0 / t.gammaT), cerr = femtokit::ScaledOut(*t.error, 1.0 / t.gammaT);
  // The same function written on the PRF mesh with the PRF radii.
  C3DArray direct(6, 5.0 / gammaT, 6, 5.0, 6, 5.0, true, true, true);
  ClosedForm(direct, 0.6, prf);
  for (int i = 0; i < 6; i++)
    EXPECT_NEAR(direct.GetElement(0, i, 0, 2, 0, 1), cexp->GetElement(0, i, 0, 2, 0, 1), 1e-8);

  Fit3D a(BosonKernel(60, 1.0, 4, true), *cexp, *cerr, true);
  a.fit->Newton(2);
  a.fit->Newton(2);
  a.fit->Newton(2);
  EXPECT_NEAR(a.Value("Rx"), prf[0], 0.02 * prf[0]);
  EXPECT_NEAR(a.Value("Ry"), prf[1], 0.02 * prf[1]);
  EXPECT_NEAR(a.Value("Rz"), prf[2], 0.02 * prf[2]);
  EXPECT_NEAR(a.Value("lambda"), 0.6, 0.01);
  EXPECT_NEAR(a.Value("Rx") / gammaT, lcms[0], 0.02 * lcms[0]);  // R_out in the LCMS
}

// A source turned by Euler_Theta about y (radii 3 and 5 fm along x and z
// mixed) through a kernel that keeps the components odd in each axis: the
// fit with Euler_Theta free finds the angle and the radii.
TEST(Gauss3DFit, TurnedSourceRecoveredWithItsAngleFree) {
  const testutil::ScopedVerbosity silent(femtokit::Verbosity::Silent);
  auto truthKernel = BosonKernel(30, 1.0, 4, false);
  CSourceCalc_Gaussian truth;
  truth.SetSPars(0.8, 3.0, 4.0, 5.0, 0, 0, 0, 0, 0.4, 0);
  CCHArray source(4, 80, 0.5, false, false, false), cfCH(4, 30, 1.0, false, false, false);
  truth.CalcS(&source);
  S2CF::s2c(&source, truthKernel.get(), &cfCH);
  cfCH.FillRemainderX();
  C3DArray cexp(3, 5.0, false, false, false), cerr(3, 5.0, false, false, false);
  ArrayCalc::Calc3DArrayFromAExpArray(&cfCH, &cexp);
  cerr.MakeConstant(0.005);
  // The tilt shows: C(q_out, q_long) differs from C(q_out, -q_long).
  EXPECT_GT(std::fabs(cexp.GetElement(0, 1, 0, 0, 0, 1) - cexp.GetElement(0, 1, 0, 0, 1, 1)), 0.01);

  // lambda, the radii and Euler_Theta free, from the model's steps.
  CSourceCalc_Gaussian calc;
  calc.SetSPars(0.75, 3.3, 4.2, 4.7, 0, 0, 0, 0, 0.25, 0);
  CCHArray src(4, 80, 0.5, false, false, false), ctheoryCH(4, 30, 1.0, false, false, false);
  C3DArray ctheory(3, 5.0, false, false, false);
  CCF2SFit fit;
  fit.npars = 5;
  fit.ndim = 3;
  fit.sourcecalc = &calc;
  fit.kernel = truthKernel.get();
  fit.cexp3D = &cexp;
  fit.cerror3D = &cerr;
  fit.ctheory3D = &ctheory;
  fit.ctheoryCH = &ctheoryCH;
  fit.sourceCH = &src;
  fit.Init();
  const char *names[5] = {"lambda", "Rx", "Ry", "Rz", "Euler_Theta"};
  for (int i = 0; i < 5; i++) {
    const femtokit::SourceParameter &p = *femtokit::Gauss3DModel().Find(names[i]);
    fit.par[i].Set(p.name, parameter::getD(calc.spars, p.name, p.def), p.step, p.min, p.max);
    fit.StepMatrix[i][i] = p.step;
    fit.ErrorMatrix[i][i] = p.step * p.step;
  }
  fit.NarrowBoundsToModel();
  fit.Newton(2);
  fit.Newton(2);
  fit.Newton(2);
  struct {
    CCF2SFit &fit;
    double Value(const char *name) const { return fit.par[static_cast<size_t>(fit.FindPar(name))].value; }
  } f{fit};
  EXPECT_NEAR(f.Value("Euler_Theta"), 0.4, 0.01);
  EXPECT_NEAR(f.Value("Rx"), 3.0, 0.03);
  EXPECT_NEAR(f.Value("Rz"), 5.0, 0.05);
  EXPECT_NEAR(f.Value("lambda"), 0.8, 0.01);
}
