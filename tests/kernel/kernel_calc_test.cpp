#include "common/child.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction.h"

#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <cmath>
#include <fstream>
#include <functional>
#include <string>

namespace {

const double kHbarc = 197.3269602;

std::string KernelPars(const std::string &name, int nq, int nr, int lmax, double delq, double delr, bool identical) {
  const std::string path = ScratchDir("kernel_calc_" + name) + "/kpars.dat";
  std::ofstream(path) << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint KLMAX " << lmax << "\ndouble DELQ "
                      << delq << "\ndouble DELR " << delr << "\nbool IDENTICAL " << identical << "\n";
  return path;
}

// A wave function given by a formula of (q, r, ctheta) on the uniform q mesh (iq + 0.5)*dq.
struct FormulaWF : CWaveFunction {
  FormulaWF(int nq, double dq, std::function<double(double, double, double)> f) : f_(std::move(f)) {
    nqmax = nq;
    delq = dq;
    for (int iq = 0; iq < nq; iq++) qarray.push_back((iq + 0.5) * dq);
  }
  double CalcPsiSquared(int iq, double r, double ctheta) const override { return f_(qarray[iq], r, ctheta); }
  std::function<double(double, double, double)> f_;
};

double X(const CKernel &k, int iq, int ir) { return 2 * (iq + 0.5) * k.GetDELQ() * (ir + 0.5) * k.GetDELR() / kHbarc; }

}  // namespace

TEST(KernelCalc, OnePlusCosThetaThenPureHBT) {
  CKernel k(KernelPars("hbt", 10, 40, 12, 4.0, 0.5, false));
  FormulaWF wf(1, 4.0, [](double, double, double c) { return 1 + c; });  // one point serves every q
  k.Calc(&wf);
  const double h = 2.0 / 720;  // midpoint rule for 1/2 Int x^2 dx: 1/3 - h^2/12
  for (int i = 0; i < 10 * 40; i++)
    for (int l = 0; l <= 2; l++) EXPECT_NEAR(k.GetValue(l, i / 40, i % 40), l == 1 ? 1.0 / 3 - h * h / 12 : 0.0, 1e-13);
  k.Calc_PureHBT();  // must also clear the odd tables
  for (int iq : {0, 3, 9})  // (0, 0) has small q r: K_0 -> 1, K_l -> 0
    for (int ir : {0, 7, 39})
      for (int l = 0; l <= 12; l++)
        ASSERT_NEAR(k.GetValue(l, iq, ir), l % 2 ? 0.0 : (l % 4 ? -1 : 1) * gsl_sf_bessel_jl(l, X(k, iq, ir)), 1e-12)
            << l << " " << iq << " " << ir;
}

TEST(KernelCalc, CalcMatchesPureHBTForAnyThreadCount) {
  FormulaWF wf(6, 8.0, [](double q, double r, double c) { return 1.0 + std::cos(2 * q * r * c / kHbarc); });
  const std::string pars = KernelPars("proj", 6, 20, 4, 8.0, 1.0, true);
  CKernel calc(pars), calc1(pars), hbt(pars);
  calc.Calc(&wf);
#ifdef _OPENMP
  const int saved = omp_get_max_threads();
  omp_set_num_threads(saved == 1 ? 2 : 1);
  calc1.Calc(&wf);
  omp_set_num_threads(saved);
#else
  calc1.Calc(&wf);
#endif
  hbt.Calc_PureHBT();
  for (int iq = 0; iq < 6; iq++)
    for (int ir = 0; ir < 20; ir++)
      for (int l = 0; l <= 4; l += 2) {
        // Midpoint-rule error: grows like l(l+1) and (2qr/hbarc)^2.
        const double tol = 4e-7 * (1 + l * (l + 1) + std::pow(X(calc, iq, ir), 2));
        ASSERT_NEAR(calc.GetValue(l, iq, ir), hbt.GetValue(l, iq, ir), tol);
        ASSERT_EQ(calc.GetValue(l, iq, ir), calc1.GetValue(l, iq, ir));
      }
}

TEST(KernelCalc, ClassicalCoulombLimits) {
  const double m = 938.271;
  CKernel k(KernelPars("class", 3, 40, 2, 10.0, 1.0, true));
  for (int q1q2 : {0, 1}) {
    k.Calc_PureHBT();  // stale values to clear
    testing::internal::CaptureStdout();
    k.Calc_ClassCoul(m, m, q1q2);
    // Printed only where allowed; repelling protons are forbidden at small q r.
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("q=5, r=0.5, kernel0=1 =? 1\n") == std::string::npos, q1q2 == 1);
    for (int iq = 0; iq < 3; iq++)
      for (int ir = 0; ir < 40; ir++) {
        const double q = (iq + 0.5) * 10, r = ir + 0.5, e = std::sqrt(m * m + q * q);
        const double x = q1q2 * 2 * 197.327 * e * e / (137.036 * r * q * q * 2 * e);
        // K_0 + 1 = sqrt(1 - x) where allowed, 0 where forbidden (x >= 1);
        // without charge ctheta is uniform and K_2 vanishes too.
        EXPECT_NEAR(k.GetValue(0, iq, ir), x >= 1 ? -1.0 : std::sqrt(1 - x) - 1, 1e-12) << iq << " " << ir;
        if (q1q2 == 0 || x >= 1) {
          EXPECT_NEAR(k.GetValue(2, iq, ir), 0.0, x >= 1 ? 0.0 : 1e-5);
        }
      }
  }
}
