#ifndef FEMTOKIT_TESTS_FIT_QMATRIX_TESTUTIL_H
#define FEMTOKIT_TESTS_FIT_QMATRIX_TESTUTIL_H

// Helpers of the smearing and feed-down tests: files written straight in
// their text formats, and correlation functions of free identical bosons.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "arrays/charray.h"
#include "common/child.h"
#include "common/testutil.h"
#include "config/fatal.h"
#include "config/output.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "source/sourcecalc_gx1d.h"

namespace qmtest {

using testutil::WriteText;

// A matrix file: header "nrows rowstep ncols colstep", then row i as line i.
inline std::string WriteMatrix(const std::string &path, int nrows, double rowstep, int ncols, double colstep,
                               const std::function<double(int, int)> &entry) {
  std::ofstream out(path);
  out.precision(17);
  out << "# test matrix\n" << nrows << " " << rowstep << " " << ncols << " " << colstep << "\n";
  for (int i = 0; i < nrows; ++i) {
    for (int j = 0; j < ncols; ++j) out << entry(i, j) << (j + 1 < ncols ? " " : "\n");
  }
  return path;
}

// Free identical bosons: kernel (-1)^(l/2) j_l(2qr/hbarc) on nq bins of dq
// (MeV/c) and 240 r bins of 0.25 fm (60 fm), l = 0 only.
inline std::unique_ptr<CKernel> FreeBosonKernel(const std::string &dir, int nq, double dq) {
  const std::string kpars =
      WriteText(dir + "/kpars.dat", "int NQMAX " + std::to_string(nq) + "\nint NRMAX 240\nint KLMAX 0\ndouble DELQ " +
                                        std::to_string(dq) + "\ndouble DELR 0.25\nbool IDENTICAL 1\n");
  auto kernel = std::make_unique<CKernel>(kpars);
  kernel->Calc_PureHBT();
  return kernel;
}

// C - 1 of a Gaussian source (weight lambda, radius R in fm) through the kernel
// into cf (LMAX 0).
inline void FreeBosonCF(CKernel &kernel, double lambda, double R, CCHArray &cf) {
  CCHArray source(0, 240, 0.25, true, true, true);
  CSourceCalc_GX1D gx;
  gx.SetSPars(lambda, R, 0.0, 10.0, 5.0);
  gx.CalcS(&source);
  S2CF::s2c(&source, &kernel, &cf);
}

// Quiet output and throwing errors for the length of a test.
class Quiet : public testing::Test {
 protected:
  void SetUp() override {
    femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  }
  void TearDown() override {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
    femtokit::SetVerbosity(femtokit::Verbosity::Normal);
    femtokit::SetOutput(static_cast<std::FILE *>(nullptr));
  }
};

// Runs body, expecting a femtokit::Error about `file` whose message names it
// and holds `part`.
inline void ExpectFileError(const std::function<void()> &body, const std::string &file, const std::string &part) {
  try {
    body();
    ADD_FAILURE() << "no error; expected one about " << file << " with '" << part << "'";
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(e.file(), file) << e.what();
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

}  // namespace qmtest

#endif
