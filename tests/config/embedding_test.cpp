// The library as an embedded component: errors a caller catches, output it
// quiets or captures, and the library recovering after an error.
#include "common/child.h"

#include <femtokit.h>
#include <gsl/gsl_sf_bessel.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

// Throwing policy and a captured output channel for the duration of a test.
struct Embedded : testing::Test {
  std::vector<std::pair<femtokit::Verbosity, std::string>> lines;
  void SetUp() override {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetOutput([this](femtokit::Verbosity v, const std::string &text) { lines.emplace_back(v, text); });
  }
  void TearDown() override {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
    femtokit::SetVerbosity(femtokit::Verbosity::Normal);
    femtokit::SetOutput(femtokit::OutputFunction());
  }
  std::string Text() const {
    std::string all;
    for (const auto &line : lines) all += line.second;
    return all;
  }
};

namespace {

std::string Write(const std::string &file, const std::string &text) {
  std::ofstream(file) << text;
  return file;
}

// A small free-boson kernel (K_l = (-1)^(l/2) j_l(2qr/hbarc)) in a directory.
std::string FreeBosonKernel(const std::string &dir) {
  fs::create_directories(dir);
  const std::string pars = Write(dir + "/kpars.dat",
                                 "int NQMAX 10\nint NRMAX 40\nint KLMAX 2\ndouble DELQ 5\ndouble DELR 0.5\n"
                                 "bool IDENTICAL 1\n");
  CKernel k(pars);
  k.Calc_PureHBT();
  k.Write(dir);
  return pars;
}

// A wave function that fails at one mesh momentum.
struct FailingWF : CWaveFunction {
  explicit FailingWF(int bad) : bad_(bad) {
    nqmax = 10;
    delq = 5.0;
    for (int iq = 0; iq < nqmax; iq++) qarray.push_back((iq + 0.5) * delq);
  }
  double CalcPsiSquared(int iq, double, double) const override {
    if (iq == bad_) femtokit::Fatal("bad momentum %d\n", iq);
    return 1.0;
  }
  int bad_;
};

}  // namespace

TEST_F(Embedded, ErrorsAreCaughtAndTheLibraryGoesOn) {
  const std::string dir = ScratchDir("embed_errors");
  // A missing parameter file: the error names it, nothing is printed.
  try {
    CCHArray a(dir + "/missing.dat");
    FAIL() << "no error";
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(e.file(), dir + "/missing.dat");
    EXPECT_NE(std::string(e.what()).find("missing.dat"), std::string::npos);
  }
  EXPECT_EQ(Text(), "");
  CCHArray good(Write(dir + "/a.dat", "int LMAX 2\nint NRADIAL 4\ndouble RADSTEP 1\n"));
  EXPECT_EQ(good.GetNRADIAL(), 4);

  // Chi-square of arrays that differ: the message says what differs.
  CCHArray a(2, 5, 1.0), b(2, 6, 1.0), c(2, 5, 1.0);
  c.SetElement(0, 0, 0, 0, 1.0);
  try {
    CFCalc::GetChiSquared(0, 0, 0, &a, &c, &b);
    FAIL() << "no error";
  } catch (const femtokit::Error &e) {
    EXPECT_NE(std::string(e.what()).find("NRADIAL differs"), std::string::npos) << e.what();
    EXPECT_EQ(e.file(), "");
  }
  C3DArray x(3, 1.0, true, true, true), y(4, 1.0, true, true, true), z(3, 1.0, true, true, true);
  try {
    CFCalc::GetChiSquared(&x, &z, &y);
    FAIL() << "no error";
  } catch (const femtokit::Error &e) {
    EXPECT_NE(std::string(e.what()).find("(NXYZMAX (3,3,3) and (4,4,4))"), std::string::npos) << e.what();
  }
  z.ZeroArray();
  ArrayCalc::InvertArray(&z, &z);  // error 1/0: only the warnings, then a number
  x.ZeroArray();
  EXPECT_EQ(CFCalc::GetChiSquared(&x, &z, &x), 0.0);

  // A kernel directory with a missing table.
  const std::string kdir = dir + "/kernel";
  const std::string kpars = FreeBosonKernel(kdir);
  const std::string missing = kdir + "/ell2_q0022.50.tmp";
  fs::rename(missing, missing + ".away");
  CKernel kernel(kpars);
  try {
    kernel.Read(kdir);
    FAIL() << "no error";
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(e.file(), missing);
  }
  fs::rename(missing + ".away", missing);
  kernel.Read(kdir);
  EXPECT_NEAR(kernel.GetValue(0, 0, 0), gsl_sf_bessel_j0(2 * 2.5 * 0.25 / 197.3269602), 1e-9);
}

TEST_F(Embedded, AFailureInsideTheParallelKernelLoopLeavesItInOrder) {
  const std::string dir = ScratchDir("embed_parallel");
  CKernel kernel(Write(dir + "/k.dat", "int NQMAX 10\nint NRMAX 8\nint KLMAX 2\ndouble DELQ 5\ndouble DELR 1\n"));
  FailingWF bad(7);
  try {
    kernel.Calc(&bad);
    FAIL() << "no error";
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(std::string(e.what()), "bad momentum 7");
  }
  FailingWF good(-1);
  kernel.Calc(&good);
  EXPECT_EQ(kernel.GetValue(0, 9, 7), 0.0);  // |psi|^2 = 1 gives K = 0

}

TEST_F(Embedded, LevelsAndRedirection) {
  femtokit::Print("progress %d\n", 1);
  femtokit::Warn("careful\n");
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  femtokit::Print("hidden\n");
  femtokit::Warn("still shown\n");
  femtokit::SetVerbosity(femtokit::Verbosity::Silent);
  femtokit::Warn("hidden too\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::make_pair(femtokit::Verbosity::Normal, std::string("progress 1\n")));
  EXPECT_EQ(lines[1], std::make_pair(femtokit::Verbosity::Quiet, std::string("careful\n")));
  EXPECT_EQ(lines[2].second, "still shown\n");

  // A FILE* sink, then standard output again.
  femtokit::SetVerbosity(femtokit::Verbosity::Normal);
  const std::string file = ScratchDir("embed_levels") + "/log.txt";
  std::FILE *fp = std::fopen(file.c_str(), "w");
  femtokit::SetOutput(fp);
  CCHArray(2, 3, 1.0).PrintPars();
  femtokit::SetOutput(nullptr);
  std::fclose(fp);
  std::ifstream in(file);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "XSYM=0, YSYM=0, ZSYM=0");
  testing::internal::CaptureStdout();
  femtokit::Print("back\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "back\n");
}

TEST_F(Embedded, AQuietFitLoopPrintsNothing) {
  const std::string dir = ScratchDir("embed_quiet");
  CKernel kernel(FreeBosonKernel(dir));
  kernel.Read(dir);
  CCHArray source(2, 40, 0.5, true, true, true), cf(2, 10, 5.0, true, true, true),
      errors(2, 10, 5.0, true, true, true);
  for (int iq = 0; iq < 10; iq++) errors.SetElement(0, 0, 0, iq, 0.01);
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  lines.clear();
  CSourceCalc_GX1D model;
  double chi2 = 0.0;
  for (int i = 0; i < 1000; i++) {
    model.SetSPars(0.5 + 1e-4 * i, 3.0, 0.0, 10.0, 5.0);
    model.CalcS(&source);
    S2CF::s2c(&source, &kernel, &cf);
    chi2 = CFCalc::GetChiSquared(0, 0, 0, &cf, &errors, &cf);
  }
  EXPECT_EQ(chi2, 0.0);
  EXPECT_EQ(Text(), "");
}

TEST_F(Embedded, SourcesThatReachBeyondTheMeshWarn) {
  // The main job's source mesh (80 bins of 0.5 fm): 4.6 % of a 10 fm Gaussian
  // lies beyond 40 fm, none of a 5 fm one.
  CCHArray source(4, 80, 0.5, true, true, true);
  CSourceCalc_GX1D model;
  model.SetSPars(0.6, 5.0, 0.0, 10.0, 5.0);
  model.CalcS(&source);
  EXPECT_EQ(Text(), "");
  model.SetSPars(0.6, 10.0, 0.0, 10.0, 5.0);
  model.CalcS(&source);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, femtokit::Verbosity::Quiet);
  EXPECT_NE(lines[0].second.find("4.6% of the source's norm lies beyond the r mesh, which reaches 40 fm"),
            std::string::npos)
      << lines[0].second;
  // The named reach holds all but 1e-3, and the fraction is what the mesh misses.
  EXPECT_NEAR(model.LostFraction(40.0), 1.0 - 4.0 * M_PI * 0.5 * [&] {
    double s = 0;
    for (int ir = 0; ir < 80; ir++) s += std::pow((ir + 0.5) * 0.5, 2) * source.GetElement(0, 0, 0, ir);
    return s / 0.6;
  }(), 1e-3);
  const size_t at = lines[0].second.find("a mesh reaching ");
  const double needed = std::atof(lines[0].second.c_str() + at + 16);
  EXPECT_NEAR(model.LostFraction(needed), 1e-3, 2e-5);
  // An exponential tail counts too.
  lines.clear();
  model.SetSPars(0.0, 3.0, 1.0, 8.0, 5.0);
  model.CalcS(&source);
  EXPECT_EQ(lines.size(), 1u);

  // A kernel shorter than the source drops the source beyond it.
  lines.clear();
  const std::string dir = ScratchDir("embed_reach");
  CKernel kernel(FreeBosonKernel(dir));  // 40 bins of 0.5 fm: 20 fm
  kernel.Read(dir);
  CCHArray wide(2, 80, 0.5, true, true, true), cf(2, 10, 5.0, true, true, true);
  model.SetSPars(1.0, 6.0, 0.0, 10.0, 5.0);
  model.CalcS(&wide);
  S2CF::s2c(&wide, &kernel, &cf);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(Text().find("the kernel's r mesh reaches 20 fm, the source's 40 fm"), std::string::npos) << Text();
}

TEST(Embedding, OverlapCacheFillsConsistentlyFromManyThreads) {
  CCHCalc calc;
  CCHCalc::ClearStaticData();
  CCHCalc::InitStaticData();
  std::vector<double> got(8 * 8 * 8, 0.0);
#pragma omp parallel for schedule(dynamic)
  for (int i = 0; i < 8 * 8 * 8; i++) {
    const int lx = i / 64, ly = (i / 8) % 8, lz = i % 8;
    got[i] = calc.GetOverlap(lx, ly, lz, ly, lz, lx);
  }
  for (int i = 0; i < 8 * 8 * 8; i++) {
    const int lx = i / 64, ly = (i / 8) % 8, lz = i % 8;
    EXPECT_NEAR(got[i], calc.GetOverlap0(lx, ly, lz, ly, lz, lx), 1e-10) << i;
  }
}
