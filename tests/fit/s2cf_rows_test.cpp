// s2c on the kernel's own meshes reads whole kernel and source rows; these
// tests hold it to the plain element-wise sum and to the interpolating form.
#include "arrays/charray.h"
#include "common/child.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Kernel files with K_l(iq, ir) = sin(1 + 0.7 l + 0.31 iq + 0.17 ir) (odd l too unless identical).
std::string WriteSineKernel(const std::string &name, int nq, double delq, int nr, double delr, int lmax,
                            bool identical) {
  const std::string dir = ScratchDir(name);
  std::ofstream(dir + "/kpars.dat") << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint KLMAX " << lmax
                                    << "\ndouble DELQ " << delq << "\ndouble DELR " << delr << "\nbool IDENTICAL "
                                    << identical << "\n";
  for (int l = 0; l <= lmax; l += identical ? 2 : 1)
    for (int iq = 0; iq < nq; ++iq) {
      char file[64];
      std::snprintf(file, sizeof file, "/ell%d_q%07.2f.tmp", l, (iq + 0.5) * delq);
      std::ofstream out(dir + file);
      out.precision(17);
      out << nr << " " << delr << "\n";
      for (int ir = 0; ir < nr; ++ir) out << std::sin(1.0 + 0.7 * l + 0.31 * iq + 0.17 * ir) << "\n";
    }
  return dir;
}

// Source component values that differ from component to component.
double SourceValue(int lx, int ly, int lz, int ir) {
  return std::exp(-0.05 * ir) * (1.0 + 0.3 * lx - 0.2 * ly + 0.1 * lz) * std::cos(0.2 * ir + lz);
}

// CF_l(iq) = sum_ir 4 pi r^2 dr K_L(iq, ir) S_l(ir), written out.
double DirectSum(CKernel &kernel, int lx, int ly, int lz, int iq, double delr) {
  double sum = 0.0;
  for (int ir = 0; ir < kernel.GetNRMAX(); ++ir) {
    const double r = (ir + 0.5) * delr;
    sum += 4.0 * M_PI * r * r * delr * kernel.GetValue(lx + ly + lz, iq, ir) * SourceValue(lx, ly, lz, ir);
  }
  return sum;
}

}  // namespace

TEST(S2CFRows, RowFormEqualsTheElementSumAndTheInterpolatingForm) {
  testing::internal::CaptureStdout();
  const int nq = 7, nr = 13, lmax = 3;
  const double delq = 4.0, delr = 0.5;
  for (bool identical : {false, true}) {
    const std::string dir =
        WriteSineKernel(identical ? "s2cf_rows_id" : "s2cf_rows", nq, delq, nr, delr, lmax, identical);
    CKernel kernel(dir + "/kpars.dat");
    kernel.Read(dir);
    EXPECT_EQ(kernel.Table(1) == nullptr, identical);
    EXPECT_EQ(kernel.Table(lmax + 1), nullptr);
    ASSERT_NE(kernel.Table(2), nullptr);
    EXPECT_EQ(kernel.Table(2)[3 * nr + 5], kernel.GetValue(2, 3, 5));

    // The kernel's meshes (row form), and a source with 5 more bins, holding 0 beyond the kernel (interpolating form).
    const bool s = identical;
    CCHArray source(lmax, nr, delr, s, s, s), longer(lmax, nr + 5, delr, s, s, s);
    CCHArray CF(lmax, nq, delq, s, s, s), CFlonger(lmax, nq, delq, s, s, s);
    source.ForEachTriple([&](int lx, int ly, int lz) {
      for (int ir = 0; ir < nr; ++ir) {
        source.SetElement(lx, ly, lz, ir, SourceValue(lx, ly, lz, ir));
        longer.SetElement(lx, ly, lz, ir, SourceValue(lx, ly, lz, ir));
      }
    });
    S2CF::s2c(&source, &kernel, &CF);
    S2CF::s2c(&longer, &kernel, &CFlonger);
    int checked = 0;
    CF.ForEachTriple(lmax, 1, [&](int lx, int ly, int lz) {
      for (int iq = 0; iq < nq; ++iq) {
        const double direct = DirectSum(kernel, lx, ly, lz, iq, delr), scale = 1e-13 * (1.0 + std::fabs(direct));
        EXPECT_NEAR(CF.GetElement(lx, ly, lz, iq), direct, scale) << lx << ly << lz << " iq=" << iq;
        EXPECT_NEAR(CFlonger.GetElement(lx, ly, lz, iq), direct, scale) << lx << ly << lz << " iq=" << iq;
        ++checked;
      }
    });
    EXPECT_EQ(checked, nq * (identical ? 3 : 16));  // stored lx <= 1 triples up to L = 3

    // The one-component form fills that component alone, with the same values.
    CCHArray one(lmax, nq, delq, s, s, s);
    S2CF::s2c(0, 0, 2, &source, &kernel, &one);
    for (int iq = 0; iq < nq; ++iq) {
      EXPECT_EQ(one.GetElement(0, 0, 2, iq), CF.GetElement(0, 0, 2, iq));
      EXPECT_EQ(one.GetElement(0, 0, 0, iq), 0.0);
    }
  }
  testing::internal::GetCapturedStdout();
}

TEST(S2CFRows, AComponentTheSourceDoesNotStoreCountsAsZeroWithOneWarning) {
  const int nq = 5, nr = 9;
  const std::string dir = WriteSineKernel("s2cf_rows_missing", nq, 5.0, nr, 1.0, 2, false);
  testing::internal::CaptureStdout();
  CKernel kernel(dir + "/kpars.dat");
  kernel.Read(dir);
  CCHArray source(2, nr, 1.0, false, false, true), CF(2, nq, 5.0, false, false, false);  // source even in z
  source.ForEachTriple([&](int lx, int ly, int lz) {
    for (int ir = 0; ir < nr; ++ir) source.SetElement(lx, ly, lz, ir, SourceValue(lx, ly, lz, ir));
  });
  testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  S2CF::s2c(&source, &kernel, &CF);
  const std::string out = testing::internal::GetCapturedStdout();
  // l = (0,0,1), (0,1,1), (1,0,1): one warning each.
  int warnings = 0;
  for (std::size_t at = out.find("does not store"); at != std::string::npos; at = out.find("does not store", at + 1))
    ++warnings;
  EXPECT_EQ(warnings, 3) << out;
  for (int iq = 0; iq < nq; ++iq) {
    EXPECT_EQ(CF.GetElement(0, 0, 1, iq), 0.0);
    EXPECT_EQ(CF.GetElement(1, 0, 1, iq), 0.0);
    EXPECT_NEAR(CF.GetElement(0, 1, 0, iq), DirectSum(kernel, 0, 1, 0, iq, 1.0), 1e-12);
  }
}
