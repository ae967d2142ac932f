#include "arrays/charray.h"
#include "common/child.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "source/sourcecalc_gx1d.h"

#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace {

const double HBARC = 197.3269602;

std::string KernelPars(const std::string &dir, int nq, double delq, int nr, double delr, int lmax, bool identical) {
  std::string path = dir + "/kpars.dat";
  std::ofstream(path) << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint KLMAX " << lmax << "\ndouble DELQ "
                      << delq << "\ndouble DELR " << delr << "\nbool IDENTICAL " << (identical ? 1 : 0) << "\n";
  return path;
}

// Writes K_l(q, r) = value(l, iq, ir, q, r) straight into the kernel directory
// format, independently of the kernel classes.
template <typename F>
void WriteKernel(const std::string &dir, int nq, double delq, int nr, double delr, int lmax, int lstep, F value) {
  for (int l = 0; l <= lmax; l += lstep)
    for (int iq = 0; iq < nq; ++iq) {
      char name[64];
      std::snprintf(name, sizeof name, "/ell%d_q%07.2f.tmp", l, (iq + 0.5) * delq);
      FILE *f = std::fopen((dir + name).c_str(), "w");
      std::fprintf(f, "%d %g\n", nr, delr);
      for (int ir = 0; ir < nr; ++ir)
        std::fprintf(f, "%17.10e\n", value(l, iq, ir, (iq + 0.5) * delq, (ir + 0.5) * delr));
      std::fclose(f);
    }
}

// The free identical-boson kernel K_l = (-1)^(l/2) j_l(2qr/hbarc), even l.
void WriteFreeBosonKernel(const std::string &dir, int nq, double delq, int nr, double delr, int lmax) {
  WriteKernel(dir, nq, delq, nr, delr, lmax, 2, [](int l, int, int, double q, double r) {
    return ((l / 2) % 2 ? -1 : 1) * gsl_sf_bessel_jl(l, 2 * q * r / HBARC);
  });
}

// Transforms a unit-weight Gaussian of radius R and compares the (0,0,0)
// component with the closed form exp(-4 q^2 R^2 / hbarc^2).
void CheckGaussian(CKernel &kernel, CCHArray &source, CCHArray &CF, double R) {
  CSourceCalc_GX1D gx;
  gx.SetSPars(1.0, R, 0.0, 10.0, 5.0);
  gx.CalcS(&source);
  S2CF::s2c(&source, &kernel, &CF);
  int checked = 0;
  for (int iq = 0; iq < CF.GetNRADIAL(); ++iq) {
    const double q = (iq + 0.5) * CF.GetRADSTEP();
    const double exact = std::exp(-4 * q * q * R * R / (HBARC * HBARC));
    if (exact < 0.01) continue;
    EXPECT_NEAR(CF.GetElement(0, 0, 0, iq), exact, 0.01 * exact) << "R=" << R << " q=" << q;
    ++checked;
  }
  EXPECT_GT(checked, 5);
}

}  // namespace

TEST(S2CF, FreeBosonsGiveGaussianCorrelationOnMatchingMesh) {
  std::string dir = ScratchDir("s2cf_match");
  WriteFreeBosonKernel(dir, 40, 2.0, 240, 0.25, 4);
  testing::internal::CaptureStdout();
  CKernel kernel(KernelPars(dir, 40, 2.0, 240, 0.25, 4, true).c_str());
  kernel.Read(dir.c_str());
  CCHArray source(4, 240, 0.25, true, true, true), CF(4, 40, 2.0, true, true, true);
  for (double R : {3.0, 4.5, 6.0}) CheckGaussian(kernel, source, CF, R);
  testing::internal::GetCapturedStdout();
  // Components beyond lx <= 1 stay zero; L = 2 and 4 components are filled.
  EXPECT_EQ(CF.GetElement(2, 0, 0, 3), 0.0);
  EXPECT_NE(CF.GetElement(0, 0, 2, 3), 0.0);
}

TEST(S2CF, FreeBosonsGiveGaussianCorrelationThroughInterpolation) {
  std::string dir = ScratchDir("s2cf_interp");
  WriteFreeBosonKernel(dir, 120, 1.0, 800, 0.075, 2);
  testing::internal::CaptureStdout();
  CKernel kernel(KernelPars(dir, 120, 1.0, 800, 0.075, 2, true).c_str());
  kernel.Read(dir.c_str());
  CCHArray source(2, 150, 0.3, true, true, true), CF(2, 35, 3.0, true, true, true);
  for (double R : {3.0, 6.0}) CheckGaussian(kernel, source, CF, R);
  testing::internal::GetCapturedStdout();
}

TEST(S2CF, SingleBinSourceAndComponentForm) {
  std::string dir = ScratchDir("s2cf_single");
  testing::internal::CaptureStdout();
  CKernel kernel(KernelPars(dir, 6, 5.0, 10, 1.0, 2, false).c_str());
  // K_l(iq, ir) = 0.1 l + 0.01 iq + 0.001 ir, through the file format.
  WriteKernel(dir, 6, 5.0, 10, 1.0, 2, 1, [](int l, int iq, int ir, double, double) {
    return 0.1 * l + 0.01 * iq + 0.001 * ir;
  });
  kernel.Read(dir.c_str());
  CCHArray source(2, 10, 1.0), CF(2, 6, 5.0);
  const int ir0 = 3;
  source.SetElement(0, 1, 1, ir0, 2.0);
  source.SetElement(1, 0, 0, ir0, -1.0);
  S2CF::s2c(&source, &kernel, &CF);
  const double r0 = ir0 + 0.5, w = 4 * M_PI * r0 * r0 * 1.0;
  for (int iq = 0; iq < 6; ++iq) {
    EXPECT_NEAR(CF.GetElement(0, 1, 1, iq), w * (0.2 + 0.01 * iq + 0.001 * ir0) * 2.0, 1e-12);
    EXPECT_NEAR(CF.GetElement(1, 0, 0, iq), -w * (0.1 + 0.01 * iq + 0.001 * ir0), 1e-12);
    EXPECT_EQ(CF.GetElement(0, 0, 0, iq), 0.0);
  }
  // The single-component form works on lx >= 2 too and leaves other components alone.
  source.SetElement(2, 0, 0, ir0, 1.0);
  S2CF::s2c(2, 0, 0, &source, &kernel, &CF);
  EXPECT_NEAR(CF.GetElement(2, 0, 0, 1), w * (0.2 + 0.01 + 0.001 * ir0), 1e-12);
  EXPECT_NEAR(CF.GetElement(1, 0, 0, 1), -w * (0.1 + 0.01 + 0.001 * ir0), 1e-12);
  testing::internal::GetCapturedStdout();
}

TEST(S2CF, ChecksAndWarnings) {
  std::string dir = ScratchDir("s2cf_checks");
  const std::string kp4 = KernelPars(dir, 4, 2.0, 5, 1.0, 4, true);
  ChildResult tooBig = RunInChild([&] {
    CKernel kernel(kp4.c_str());
    CCHArray source(2, 5, 1.0, true, true, true), CF(4, 4, 2.0, true, true, true);
    S2CF::s2c(&source, &kernel, &CF);
  });
  EXPECT_EQ(tooBig.status, 1);
  EXPECT_NE(tooBig.output.find("FATAL: Kernel LMAX=4 larger than either S LMAX=2 or CF LMAX=4\n"), std::string::npos);

  ChildResult odd = RunInChild([&] {
    CKernel kernel(kp4.c_str());
    CCHArray source(4, 5, 1.0), CF(4, 4, 2.0, false, true, true);
    S2CF::s2c(&source, &kernel, &CF);
  });
  EXPECT_EQ(odd.status, 1);
  EXPECT_NE(odd.output.find("FATAL: kernel has no odd L components, but CF wants them\n"
                            "Make sure CF array has XSYM=YSYM=ZSYM='true'\n"),
            std::string::npos);

  const std::string kp2 = KernelPars(dir, 4, 2.0, 5, 1.0, 2, true);
  ChildResult warn = RunInChild([&] {
    CKernel kernel(kp2.c_str());
    CCHArray source(4, 5, 1.0, true, true, true), CF(4, 4, 2.0, true, true, true);
    source.SetElement(0, 0, 4, 2, 1.0);
    CF.SetElement(0, 0, 4, 2, 5.0);
    S2CF::s2c(&source, &kernel, &CF);
    std::printf("L4=%g\n", CF.GetElement(0, 0, 4, 2));
  });
  EXPECT_EQ(warn.status, 0);
  EXPECT_NE(warn.output.find("WARNING: Array parameters for kernel calculations don't match\n"
                             "___ CORRELATION FUNCTION PARAMETERS ___\n"),
            std::string::npos);
  EXPECT_NE(warn.output.find("_____ SOURCE FUNCTION PARAMETERS _____\n"), std::string::npos);
  EXPECT_NE(warn.output.find("For kernel, LMAX=2\nL4=0\n"), std::string::npos);
}
