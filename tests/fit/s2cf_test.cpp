#include "arrays/charray.h"
#include "common/child.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "source/sourcecalc_gx1d.h"

#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

namespace {

const double HBARC = 197.3269602;

// A kernel directory and parameter file with K_l(q, r) = value(l, iq, ir, q, r),
// written straight in the file format, independently of the kernel classes.
std::string WriteKernel(const std::string &name, int nq, double delq, int nr, double delr, int lmax, bool identical,
                        const std::function<double(int, int, int, double, double)> &value) {
  std::string dir = ScratchDir(name);
  std::ofstream(dir + "/kpars.dat") << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint KLMAX " << lmax
                                    << "\ndouble DELQ " << delq << "\ndouble DELR " << delr << "\nbool IDENTICAL "
                                    << identical << "\n";
  for (int l = 0; l <= lmax; l += identical ? 2 : 1)
    for (int iq = 0; iq < nq; ++iq) {
      char file[64];
      std::snprintf(file, sizeof file, "/ell%d_q%07.2f.tmp", l, (iq + 0.5) * delq);
      std::ofstream out(dir + file);
      out.precision(12);
      out << nr << " " << delr << "\n";
      for (int ir = 0; ir < nr; ++ir) out << value(l, iq, ir, (iq + 0.5) * delq, (ir + 0.5) * delr) << "\n";
    }
  return dir;
}

double FreeBoson(int l, int, int, double q, double r) {
  return ((l / 2) % 2 ? -1 : 1) * gsl_sf_bessel_jl(l, 2 * q * r / HBARC);
}

}  // namespace

TEST(S2CF, FreeBosonsGiveTheGaussianCorrelationFunction) {
  // Kernel K_l = (-1)^(l/2) j_l(2qr/hbarc) and a Gaussian source of radius R give
  // C(q) - 1 = exp(-4 q^2 R^2 / hbarc^2), on the kernel's mesh and off it.
  struct Mesh {
    int nq, nr, cfnq, snr;
    double delq, delr, cfdelq, sdelr;
  };
  for (const Mesh &m : {Mesh{40, 240, 40, 240, 2.0, 0.25, 2.0, 0.25}, Mesh{120, 800, 35, 150, 1.0, 0.075, 3.0, 0.3}}) {
    std::string dir = WriteKernel("s2cf_boson", m.nq, m.delq, m.nr, m.delr, 2, true, FreeBoson);
    testing::internal::CaptureStdout();
    CKernel kernel((dir + "/kpars.dat").c_str());
    kernel.Read(dir.c_str());
    CCHArray source(2, m.snr, m.sdelr, true, true, true), CF(2, m.cfnq, m.cfdelq, true, true, true);
    for (double R : {3.0, 4.5, 6.0}) {
      CSourceCalc_GX1D gx;
      gx.SetSPars(1.0, R, 0.0, 10.0, 5.0);
      gx.CalcS(&source);
      S2CF::s2c(&source, &kernel, &CF);
      for (int iq = 0; iq < CF.GetNRADIAL(); ++iq) {
        const double q = (iq + 0.5) * CF.GetRADSTEP(), exact = std::exp(-4 * q * q * R * R / (HBARC * HBARC));
        if (exact > 0.01) {
          EXPECT_NEAR(CF.GetElement(0, 0, 0, iq), exact, 0.01 * exact) << R << " " << q;
        }
      }
      EXPECT_NE(CF.GetElement(0, 0, 2, 0), 0.0);
      EXPECT_EQ(CF.GetElement(2, 0, 0, 0), 0.0);  // lx >= 2 is left to FillRemainderX
    }
    testing::internal::GetCapturedStdout();
  }
}

TEST(S2CF, SingleBinSourceAndComponentForm) {
  // K_l(iq, ir) = 0.1 l + 0.01 iq + 0.001 ir on matching meshes.
  std::string dir = WriteKernel("s2cf_single", 6, 5.0, 10, 1.0, 2, false,
                                [](int l, int iq, int ir, double, double) { return 0.1 * l + 0.01 * iq + 0.001 * ir; });
  testing::internal::CaptureStdout();
  CKernel kernel((dir + "/kpars.dat").c_str());
  kernel.Read(dir.c_str());
  CCHArray source(2, 10, 1.0), CF(2, 6, 5.0);
  const int ir0 = 3;
  const double w = 4 * M_PI * (ir0 + 0.5) * (ir0 + 0.5);
  source.SetElement(0, 1, 1, ir0, 2.0);
  source.SetElement(1, 0, 0, ir0, -1.0);
  source.SetElement(2, 0, 0, ir0, 1.0);
  S2CF::s2c(&source, &kernel, &CF);
  for (int iq = 0; iq < 6; ++iq) {
    EXPECT_NEAR(CF.GetElement(0, 1, 1, iq), w * (0.2 + 0.01 * iq + 0.001 * ir0) * 2.0, 1e-12);
    EXPECT_NEAR(CF.GetElement(1, 0, 0, iq), -w * (0.1 + 0.01 * iq + 0.001 * ir0), 1e-12);
    EXPECT_EQ(CF.GetElement(2, 0, 0, iq), 0.0);
  }
  S2CF::s2c(2, 0, 0, &source, &kernel, &CF);
  EXPECT_NEAR(CF.GetElement(2, 0, 0, 1), w * (0.2 + 0.01 + 0.001 * ir0), 1e-12);
  EXPECT_NEAR(CF.GetElement(1, 0, 0, 1), -w * (0.1 + 0.01 + 0.001 * ir0), 1e-12);
  testing::internal::GetCapturedStdout();
}

TEST(S2CF, ChecksAndWarnings) {
  const std::string k4 = WriteKernel("s2cf_k4", 4, 2.0, 5, 1.0, 4, true, FreeBoson) + "/kpars.dat";
  const std::string k2 = WriteKernel("s2cf_k2", 4, 2.0, 5, 1.0, 2, true, FreeBoson) + "/kpars.dat";
  auto run = [](const std::string &kpars, int slmax, int cflmax, bool cfxsym) {
    return RunInChild([=] {
      CKernel kernel(kpars.c_str());
      CCHArray source(slmax, 5, 1.0, true, true, true), CF(cflmax, 4, 2.0, cfxsym, true, true);
      CF.SetElement(0, 0, cflmax, 2, 5.0);
      S2CF::s2c(&source, &kernel, &CF);
      std::printf("top=%g\n", CF.GetElement(0, 0, cflmax, 2));
    });
  };
  ChildResult tooBig = run(k4, 2, 4, true);
  EXPECT_EQ(tooBig.status, 1);
  EXPECT_NE(tooBig.output.find("FATAL: Kernel LMAX=4 larger than either S LMAX=2 or CF LMAX=4\n"), std::string::npos);
  ChildResult odd = run(k4, 4, 4, false);
  EXPECT_EQ(odd.status, 1);
  EXPECT_NE(odd.output.find("FATAL: kernel has no odd L components, but CF wants them\n"
                            "Make sure CF array has XSYM=YSYM=ZSYM='true'\n"),
            std::string::npos);
  ChildResult warn = run(k2, 4, 4, true);
  EXPECT_EQ(warn.status, 0);
  EXPECT_NE(warn.output.find("WARNING: Array parameters for kernel calculations don't match\n"
                             "___ CORRELATION FUNCTION PARAMETERS ___\n"),
            std::string::npos);
  EXPECT_NE(warn.output.find("For kernel, LMAX=2\ntop=0\n"), std::string::npos);
}
