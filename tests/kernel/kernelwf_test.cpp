#include "kernel/kernelwf.h"
#include "wavefunction/wavefunction.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "common/child.h"
#include "config/fatal.h"
#include "config/output.h"

namespace {

// Quiet output and throwing errors for the length of a test.
struct Quiet {
  Quiet() {
    femtokit::SetVerbosity(femtokit::Verbosity::Silent);
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  }
  ~Quiet() {
    femtokit::SetVerbosity(femtokit::Verbosity::Normal);
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
  }
};

std::string Pars(const std::string &dir, int nq, int nr, int nc, double dq, double dr, bool identical) {
  const std::string name = dir + "/kpars.dat";
  std::ofstream(name) << "int NQMAX " << nq << "\nint NRMAX " << nr << "\nint NCTHETA " << nc << "\ndouble DELQ "
                      << dq << "\ndouble DELR " << dr << "\nbool IDENTICAL " << identical << "\n";
  return name;
}

// A wave function given by a formula of (r, ctheta), one q point serving every q.
struct OneQFormulaWF : CWaveFunction {
  explicit OneQFormulaWF(std::function<double(double, double)> f) : f_(std::move(f)) {
    nqmax = 1;
    delq = 1.0;
    qarray.push_back(0.5);
  }
  double CalcPsiSquared(int, double r, double ctheta) const override { return f_(r, ctheta); }
  std::function<double(double, double)> f_;
};

}  // namespace

TEST(CKernelWF, MeshFreshTableAndCosThetaLookup) {
  Quiet quiet;
  const std::string dir = ScratchDir("kwf_mesh");
  CKernelWF id(Pars(dir, 3, 4, 120, 4.0, 0.5, true));
  EXPECT_DOUBLE_EQ(id.GetDELCTHETA(), 1.0 / 120);
  // A new kernel holds 1.0: every lookup inside the mesh gives 2, outside 1.
  EXPECT_EQ(id.GetPsiSquared(2, 3, 0.4), 2.0);
  EXPECT_EQ(id.GetPsiSquared(7.0, 1.0, -0.2), 2.0);
  EXPECT_EQ(id.GetPsiSquared(3, 0, 0.4), 1.0);
  EXPECT_EQ(id.GetPsiSquared(0, 4, 5), 1.0);
  EXPECT_EQ(id.GetPsiSquared(0, 0, 121), 1.0);

  for (int iq = 0; iq < 3; iq++)
    for (int ir = 0; ir < 4; ir++)
      for (int ic = 0; ic <= 120; ic++) id.Value(iq, ir, ic) = 0.01 * ic * ic + iq - 0.5 * ir;
  // Identical particles: cos(theta) = -0.3 as 0.3; the end points; halfway between two points the mean.
  EXPECT_EQ(id.GetPsiSquared(1, 2, -0.3), id.GetPsiSquared(1, 2, 0.3));
  EXPECT_EQ(id.GetPsiSquared(1, 2, 1.0), 1.0 + id.Value(1, 2, 0));
  EXPECT_EQ(id.GetPsiSquared(1, 2, 0.0), 1.0 + id.Value(1, 2, 120));
  EXPECT_NEAR(id.GetPsiSquared(1, 2, 1.0 - 7.5 / 120), 1.0 + 0.5 * (id.Value(1, 2, 7) + id.Value(1, 2, 8)), 1e-12);
  // Rounding beyond +-1 (1 + 2^-52) and NaN stay on the table.
  EXPECT_EQ(id.GetPsiSquared(1, 2, 1.0 + std::ldexp(1.0, -52)), 1.0 + id.Value(1, 2, 0));
  EXPECT_TRUE(std::isfinite(id.GetPsiSquared(1, 2, NAN)));

  CKernelWF full(Pars(dir, 2, 2, 10, 4.0, 0.5, false));
  for (int ic = 0; ic <= 10; ic++) full.Value(0, 0, ic) = ic;
  EXPECT_EQ(full.GetPsiSquared(0, 0, -1.0), 11.0);
  EXPECT_EQ(full.GetPsiSquared(0, 0, -1.0 - std::ldexp(1.0, -52)), 11.0);
  EXPECT_NEAR(full.GetPsiSquared(0, 0, -0.3), 1.0 + 6.5, 1e-12);  // u = 1.3: between points 6 and 7
}

TEST(CKernelWF, InterpolationIsTrilinearBetweenMeshPoints) {
  Quiet quiet;
  CKernelWF k(Pars(ScratchDir("kwf_interp"), 5, 6, 8, 4.0, 0.5, false));
  auto f = [](double q, double r, double c) { return 0.2 + 0.03 * q - 0.4 * r + 0.7 * c + 0.01 * q * r * c; };
  for (int iq = 0; iq < 5; iq++)
    for (int ir = 0; ir < 6; ir++)
      for (int ic = 0; ic <= 8; ic++) k.Value(iq, ir, ic) = f((iq + 0.5) * 4, (ir + 0.5) * 0.5, 1 - ic * 0.25);
  // At mesh points 1 + K; between the first and last centres exactly the trilinear function.
  EXPECT_EQ(k.GetPsiSquared(10.0, 1.25, 0.5), 1.0 + k.Value(2, 2, 2));
  for (double q = 2.0; q <= 18.0; q += 1.3)
    for (double r = 0.25; r <= 2.75; r += 0.17)
      for (double c = -1.0; c <= 1.0; c += 0.23) ASSERT_NEAR(k.GetPsiSquared(q, r, c), 1 + f(q, r, c), 1e-12);
  // Below the first r centre the value is extrapolated; a neighbour beyond the mesh counts as |psi|^2 = 1.
  EXPECT_NEAR(k.GetPsiSquared(2, 0.05, 0.3), 1 + f(10, 0.05, 0.3), 1e-12);
  const double rlast = 2.75, r = 2.9, w = (r - rlast) / 0.5;
  EXPECT_NEAR(k.GetPsiSquared(2, r, 0.3), (1 - w) * (1 + f(10, rlast, 0.3)) + w * 1.0, 1e-12);
  EXPECT_EQ(k.GetPsiSquared(2, 1e300, 0.3), 1.0);
  EXPECT_EQ(k.GetPsiSquared(1e300, 1.0, 0.3), 1.0);
  EXPECT_EQ(k.GetPsiSquared(5, 1.0, 0.3), 1.0);
}

TEST(CKernelWF, CalcFromWaveFunctionIndependentOfThreads) {
  Quiet quiet;
  const std::string pars = Pars(ScratchDir("kwf_calc"), 6, 10, 20, 5.0, 0.4, false);
  OneQFormulaWF wf([](double r, double c) { return 1.0 + 0.1 * r * c + 0.5 * c * c; });
  CKernelWF a(pars), b(pars);
  omp_set_num_threads(2);
  a.Calc(&wf);
  omp_set_num_threads(1);
  b.Calc(&wf);
  omp_set_num_threads(omp_get_num_procs());
  for (int iq = 0; iq < 6; iq++)
    for (int ir = 0; ir < 10; ir++)
      for (int ic = 0; ic <= 20; ic++) {
        const double r = (ir + 0.5) * 0.4, c = 1 - ic * 0.1;
        ASSERT_NEAR(a.Value(iq, ir, ic), 0.1 * r * c + 0.5 * c * c, 1e-14);
        ASSERT_EQ(a.Value(iq, ir, ic), b.Value(iq, ir, ic));
      }
  // |psi|^2 < 0 beyond 1 fm is unphysical; inside 1 fm it is let through.
  OneQFormulaWF bad([](double r, double) { return r > 2.0 ? -0.5 : 1.0; });
  EXPECT_THROW(a.Calc(&bad), femtokit::Error);
  OneQFormulaWF inner([](double r, double) { return r < 1.0 ? -0.5 : 1.0; });
  EXPECT_NO_THROW(a.Calc(&inner));
  EXPECT_EQ(a.Value(0, 0, 0), -1.5);

  // The free bosons: cos(2 q r c/hbarc) at the mesh points.
  a.Calc_PureHBT();
  EXPECT_NEAR(a.Value(3, 7, 4), std::cos(2 * 17.5 * 3.0 * 0.6 / 197.3269602), 1e-14);
}

TEST(CKernelWF, WriteReadRoundTripAndFileFailures) {
  Quiet quiet;
  const std::string base = ScratchDir("kwf_files"), dir = base + "/kdata";
  const std::string pars = Pars(base, 3, 4, 6, 2.5, 0.5, true);
  CKernelWF a(pars);
  for (int iq = 0; iq < 3; iq++)
    for (int ir = 0; ir < 4; ir++)
      for (int ic = 0; ic <= 6; ic++) a.Value(iq, ir, ic) = std::sin(1.0 + iq + 3.1 * ir + 0.77 * ic) / 3.0;
  a.Write(dir);
  EXPECT_TRUE(std::filesystem::exists(dir + "/q0001.25.tmp"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/q0006.25.tmp"));
  std::ifstream in(dir + "/q0003.75.tmp");
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "4 6");
  CKernelWF b(pars);
  b.Read(dir);
  for (int iq = 0; iq < 3; iq++)
    for (int ir = 0; ir < 4; ir++)
      for (int ic = 0; ic <= 6; ic++) ASSERT_NEAR(b.Value(iq, ir, ic), a.Value(iq, ir, ic), 1e-11);

  // A kernel of other dimensions: both sets of numbers and the file in the message.
  CKernelWF other(Pars(base, 3, 4, 12, 2.5, 0.5, true));
  try {
    other.Read(dir);
    FAIL() << "read a file of the wrong dimensions";
  } catch (const femtokit::Error &e) {
    EXPECT_NE(std::string(e.what()).find("CKernelWF : trying to read file with wrong dimensions\n"
                                         "nrmaxread=4, nrmax=4, ncthetaread=6, nctheta=12"),
              std::string::npos)
        << e.what();
    EXPECT_EQ(e.file(), dir + "/q0001.25.tmp");
  }
  EXPECT_EQ(other.Value(0, 0, 0), 1.0);  // untouched

  // Short file, a field that is no number, a value that is not finite, a missing file.
  const std::string victim = dir + "/q0003.75.tmp";
  const std::string cases[] = {"4 6\n1 2 3\n", "4 6\n" + std::string(27, '1') + " x\n", "4 6\nnan\n", "6\n"};
  for (const std::string &text : cases) {
    std::ofstream(victim) << text;
    try {
      b.Read(dir);
      FAIL() << text;
    } catch (const femtokit::Error &e) {
      EXPECT_EQ(e.file(), victim) << e.what();
      EXPECT_NE(std::string(e.what()).find(victim), std::string::npos) << e.what();
    }
  }
  std::filesystem::remove(victim);
  try {
    b.Read(dir);
    FAIL();
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(e.file(), victim);
  }
  // A failed read leaves the table as it was.
  EXPECT_NEAR(b.Value(2, 3, 6), a.Value(2, 3, 6), 1e-11);

  // Parameters that give no mesh.
  EXPECT_THROW(CKernelWF(Pars(base, 0, 4, 6, 2.5, 0.5, true)), femtokit::Error);
  EXPECT_THROW(CKernelWF(Pars(base, 3, 4, 6, 2.5, -0.5, true)), femtokit::Error);
}

TEST(CKernelWF, DestroyingOnePrintsNothing) {
  const std::string dir = ScratchDir("kwf_quiet");
  const std::string pars = Pars(dir, 2, 3, 4, 4.0, 0.5, true);
  std::string text;
  auto kernel = std::make_unique<CKernelWF>(pars);
  femtokit::SetOutput([&](femtokit::Verbosity, const std::string &t) { text += t; });
  kernel.reset();
  femtokit::SetOutput(static_cast<std::FILE *>(nullptr));
  EXPECT_EQ(text, "");
}
