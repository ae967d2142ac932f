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
                      << delq << "\ndouble DELR " << delr << "\nbool IDENTICAL " << (identical ? 1 : 0) << "\n";
  return path;
}

// A wave function given by a formula of (q, r, ctheta), evaluated at the mesh
// points of a uniform q mesh set up directly (no parameter file).
class FormulaWF : public CWaveFunction {
 public:
  FormulaWF(int nq, double dq, std::function<double(double, double, double)> f) : f_(std::move(f)) {
    nqmax = nq;
    delq = dq;
    qarray.resize(nq);
    for (int iq = 0; iq < nq; iq++) qarray[iq] = (iq + 0.5) * dq;
  }
  double CalcPsiSquared(int iq, double r, double ctheta) const override { return f_(qarray[iq], r, ctheta); }

 private:
  std::function<double(double, double, double)> f_;
};

double Q(const CKernel &k, int iq) { return (iq + 0.5) * k.GetDELQ(); }
double R(const CKernel &k, int ir) { return (ir + 0.5) * k.GetDELR(); }

}  // namespace

TEST(KernelCalc, ProjectionOfOnePlusCosTheta) {
  // One mesh point: the same |psi|^2 = 1 + ctheta at every q.
  FormulaWF wf(1, 10.0, [](double, double, double c) { return 1.0 + c; });
  CKernel k(KernelPars("cos", 3, 4, 3, 5.0, 1.0, false));
  k.Calc(&wf);
  const double h = 2.0 / 720;
  for (int iq = 0; iq < 3; iq++) {
    for (int ir = 0; ir < 4; ir++) {
      EXPECT_NEAR(k.GetValue(0, iq, ir), 0.0, 1e-14);
      // Midpoint rule for 1/2 Int x^2 dx: 1/3 - h^2/12.
      EXPECT_NEAR(k.GetValue(1, iq, ir), 1.0 / 3.0 - h * h / 12, 1e-13);
      EXPECT_NEAR(k.GetValue(2, iq, ir), 0.0, 1e-13);
      EXPECT_NEAR(k.GetValue(3, iq, ir), 0.0, 1e-5);
    }
  }
  // An identical-particle kernel has no K_1.
  CKernel kid(KernelPars("cosid", 2, 2, 2, 5.0, 1.0, true));
  kid.Calc(&wf);
  EXPECT_EQ(kid.GetValue(1, 0, 0), 0.0);
  EXPECT_NEAR(kid.GetValue(0, 1, 1), 0.0, 1e-14);
  EXPECT_NEAR(kid.GetValue(2, 1, 1), 0.0, 1e-13);

  // The base wave function (|psi|^2 = 1) gives a zero kernel.
  CWaveFunction flat;
  std::string qfile = ScratchDir("kernel_calc_flat") + "/pars.dat";
  std::ofstream(qfile) << "int NQMAX 4\ndouble DELQ 10\n";
  flat.ParsInit(qfile);
  k.Calc(&flat);
  for (int l = 0; l <= 3; l++) EXPECT_EQ(k.GetValue(l, 2, 3), 0.0);
}

TEST(KernelCalc, PureHBTMatchesSphericalBesselFunctions) {
  CKernel k(KernelPars("hbt", 10, 40, 8, 4.0, 0.5, true));
  k.Calc_PureHBT();
  // Small q r: |psi|^2 -> 2, so K_0 -> 1 and K_l -> 0.
  EXPECT_NEAR(k.GetValue(0, 0, 0), 1.0, 1e-5);
  for (int l = 2; l <= 8; l += 2) EXPECT_NEAR(k.GetValue(l, 0, 0), 0.0, 1e-5);
  for (int iq : {0, 3, 9}) {
    for (int ir : {0, 7, 39}) {
      const double x = 2 * Q(k, iq) * R(k, ir) / kHbarc;
      EXPECT_NEAR(k.GetValue(0, iq, ir), std::sin(x) / x, 1e-12);
      const double j2 = (3 / (x * x * x) - 1 / x) * std::sin(x) - 3 * std::cos(x) / (x * x);
      EXPECT_NEAR(k.GetValue(2, iq, ir), -j2, 1e-9);
      EXPECT_NEAR(k.GetValue(4, iq, ir), gsl_sf_bessel_jl(4, x), 1e-12);
      EXPECT_NEAR(k.GetValue(6, iq, ir), -gsl_sf_bessel_jl(6, x), 1e-12);
    }
  }
}

TEST(KernelCalc, PureHBTRebuildsSymmetrisedPlaneWave) {
  CKernel k(KernelPars("hbtpsi", 10, 40, 24, 4.0, 0.5, true));
  k.Calc_PureHBT();
  for (int iq : {1, 9}) {
    for (int ir : {3, 39}) {
      for (double c : {-0.9, -0.2, 0.4, 1.0}) {
        const double expect = 1 + std::cos(2 * Q(k, iq) * R(k, ir) * c / kHbarc);
        EXPECT_NEAR(k.GetPsiSquared(iq, ir, c), expect, 2e-4) << iq << " " << ir << " " << c;
      }
    }
  }
}

TEST(KernelCalc, ProjectionAgreesWithPureHBTAndClearsStaleOddTables) {
  // The symmetrised free wave of identical bosons, given at the kernel's q mesh.
  FormulaWF wf(6, 8.0, [](double q, double r, double c) { return 1.0 + std::cos(2 * q * r * c / kHbarc); });
  CKernel calc(KernelPars("proj", 6, 20, 5, 8.0, 1.0, false));
  CKernel hbt(KernelPars("proj2", 6, 20, 5, 8.0, 1.0, false));
  calc.Calc(&wf);
  hbt.Calc(&wf);  // leaves odd-l values (rounding-level) that Calc_PureHBT must clear
  FormulaWF odd(1, 8.0, [](double, double, double c) { return 1.0 + c; });
  hbt.Calc(&odd);  // now K_1 = 1/3: stale
  hbt.Calc_PureHBT();
  for (int iq = 0; iq < 6; iq++) {
    for (int ir = 0; ir < 20; ir++) {
      for (int l = 0; l <= 5; l++) {
        if (l % 2) {
          EXPECT_EQ(hbt.GetValue(l, iq, ir), 0.0);
          EXPECT_NEAR(calc.GetValue(l, iq, ir), 0.0, 1e-12);
        } else {
          // Midpoint-rule error of 1/2 Int cos(a x) P_l(x) dx, h = 1/360: about
          // h^2/48 times the jump of the integrand's derivative, which grows like l(l+1) and a.
          const double a = 2 * Q(calc, iq) * R(calc, ir) / kHbarc;
          EXPECT_NEAR(calc.GetValue(l, iq, ir), hbt.GetValue(l, iq, ir), 4e-7 * (1 + l * (l + 1) + a * a))
              << l << " " << iq << " " << ir;
        }
      }
    }
  }
}

TEST(KernelCalc, ResultsDoNotDependOnThreadCount) {
#ifdef _OPENMP
  FormulaWF wf(7, 6.0, [](double q, double r, double c) {
    return 1.0 + 0.5 * std::exp(-r / 4) * std::cos(q * r * (c + 0.3 * c * c) / kHbarc) + 0.1 * c;
  });
  const std::string pars = KernelPars("threads", 13, 25, 4, 3.5, 0.7, false);
  CKernel one(pars), two(pars);
  const int saved = omp_get_max_threads();
  omp_set_num_threads(1);
  one.Calc(&wf);
  omp_set_num_threads(2);
  two.Calc(&wf);
  omp_set_num_threads(saved);
  for (int l = 0; l <= 4; l++)
    for (int iq = 0; iq < 13; iq++)
      for (int ir = 0; ir < 25; ir++) ASSERT_EQ(one.GetValue(l, iq, ir), two.GetValue(l, iq, ir));
#else
  GTEST_SKIP() << "built without OpenMP";
#endif
}

TEST(KernelCalc, ClassicalCoulombLimits) {
  // No charge: x = 0, c uniform over [-1, 1], K_0 = 0 and K_l ~ 0; both printed values 1.
  const std::string pars = KernelPars("class", 3, 4, 3, 10.0, 2.0, false);
  ChildResult free = RunInChild([&] {
    CKernel k(pars);
    k.Calc_ClassCoul(938.271, 938.271, 0);
    for (int iq = 0; iq < 3; iq++)
      for (int ir = 0; ir < 4; ir++) {
        if (std::fabs(k.GetValue(0, iq, ir)) > 1e-12) printf("bad K0\n");
        for (int l = 1; l <= 3; l++)
          if (std::fabs(k.GetValue(l, iq, ir)) > 1e-5) printf("bad K%d\n", l);
      }
  });
  EXPECT_EQ(free.status, 0);
  EXPECT_EQ(free.output.find("bad"), std::string::npos) << free.output;
  EXPECT_NE(free.output.find("q=5, r=1, kernel0=1 =? 1\n"), std::string::npos) << free.output;
  EXPECT_NE(free.output.find("q=25, r=7, kernel0=1 =? 1\n"), std::string::npos);

  // Repelling protons: forbidden (x >= 1) at small q r, K_0 = -1, nothing printed
  // there; allowed points have K_0 + 1 = sqrt(1 - x).
  const std::string pars2 = KernelPars("class2", 3, 40, 2, 10.0, 1.0, true);
  CKernel k(pars2);
  k.Calc_PureHBT();  // stale values that Calc_ClassCoul must clear
  ChildResult rep = RunInChild([&] {
    k.Calc_ClassCoul(938.271, 938.271, 1);
    const double m = 938.271;
    for (int iq = 0; iq < 3; iq++)
      for (int ir = 0; ir < 40; ir++) {
        const double q = (iq + 0.5) * 10, r = ir + 0.5, e = std::sqrt(m * m + q * q);
        const double x = 2 * 197.327 * e * e / (137.036 * r * q * q * 2 * e);
        const double k0 = x >= 1 ? -1.0 : std::sqrt(1 - x) - 1;
        if (std::fabs(k.GetValue(0, iq, ir) - k0) > 1e-12) printf("bad K0 %d %d\n", iq, ir);
        if (x >= 1 && k.GetValue(2, iq, ir) != 0.0) printf("bad K2 %d %d\n", iq, ir);
        if (x >= 1) printf("forbidden q=%g r=%g\n", q, r);
      }
  });
  EXPECT_EQ(rep.status, 0);
  EXPECT_EQ(rep.output.find("bad"), std::string::npos) << rep.output;
  EXPECT_NE(rep.output.find("forbidden q=5 r=0.5\n"), std::string::npos);
  EXPECT_EQ(rep.output.find("q=5, r=0.5,"), std::string::npos);
  EXPECT_NE(rep.output.find("q=25, r=39.5, kernel0="), std::string::npos);
}
