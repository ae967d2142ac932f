#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/child.h"

namespace {

struct Mesh {
  int nq, nr, lmax;
  double delq, delr;
  bool identical;
};

std::string ParsFile(const std::string &dir, const Mesh &m) {
  const std::string name = dir + "/kparameters.dat";
  std::ofstream out(name);
  out << "int NQMAX " << m.nq << "\nint NRMAX " << m.nr << "\nint KLMAX " << m.lmax << "\ndouble DELQ " << m.delq
      << "\ndouble DELR " << m.delr << "\nbool IDENTICAL " << (m.identical ? 1 : 0) << "\n";
  return name;
}

std::string FileName(const std::string &dir, int ell, double q) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "/ell%d_q%07.2f.tmp", ell, q);
  return dir + buffer;
}

using KFunction = std::function<double(int ell, double q, double r)>;

// Writes a kernel data directory by hand, values K_l(q, r) = f(l, q, r) at bin centres.
void WriteKernelDir(const std::string &dir, const Mesh &m, const KFunction &f, int nrfile = -1) {
  std::filesystem::create_directories(dir);
  if (nrfile < 0) nrfile = m.nr;
  for (int ell = 0; ell <= m.lmax; ell += m.identical ? 2 : 1)
    for (int iq = 0; iq < m.nq; iq++) {
      const double q = (iq + 0.5) * m.delq;
      FILE *fp = fopen(FileName(dir, ell, q).c_str(), "w");
      fprintf(fp, "%d %g\n", nrfile, m.delr);
      for (int ir = 0; ir < nrfile; ir++) fprintf(fp, "%.17g\n", f(ell, q, (ir + 0.5) * m.delr));
      fclose(fp);
    }
}

// A kernel with the given mesh and tables read from a hand-written directory.
// Construction and reading print; the text is discarded.
struct LoadedKernel {
  std::unique_ptr<CKernel> kernel;
  LoadedKernel(const std::string &name, const Mesh &m, const KFunction &f) {
    const std::string dir = ScratchDir(name);
    WriteKernelDir(dir + "/data", m, f);
    testing::internal::CaptureStdout();
    kernel = std::make_unique<CKernel>(ParsFile(dir, m));
    kernel->Read(dir + "/data");
    testing::internal::GetCapturedStdout();
  }
  ~LoadedKernel() {
    testing::internal::CaptureStdout();
    kernel.reset();
    testing::internal::GetCapturedStdout();
  }
  CKernel *operator->() { return kernel.get(); }
};

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(CKernel, ParametersDefaultsAndPrintout) {
  const std::string dir = ScratchDir("kernel_pars");
  const std::string empty = dir + "/empty.dat";
  std::ofstream(empty) << "# nothing set\n";
  testing::internal::CaptureStdout();
  {
    CKernel k(empty);
    EXPECT_EQ(k.GetNQMAX(), 25);
    EXPECT_EQ(k.GetNRMAX(), 120);
    EXPECT_EQ(k.GetLMAX(), 24);
    EXPECT_EQ(k.GetDELQ(), 4.0);
    EXPECT_EQ(k.GetDELR(), 0.5);
    EXPECT_FALSE(k.GetIDENTICAL());
    EXPECT_EQ(k.GetValue(3, 10, 100), 0.0);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "reading from " + empty +
                     "\n  _________ PARAMETERS FOR KERNEL ________\ndelq set to 4\nnqmax set to 25\n"
                     "delr set to 0.5\nnrmax set to 120\nKLMAX=24\nIDENTICAL set to 0\n"
                     "__________________________________________\nkernel object deleted\n");

  const Mesh m{3, 7, 4, 2.5, 0.25, true};
  const std::string pars = ParsFile(dir, m);
  testing::internal::CaptureStdout();
  {
    CKernel k(pars.c_str());
    EXPECT_TRUE(k.GetIDENTICAL());
  }
  const std::string out2 = testing::internal::GetCapturedStdout();
  EXPECT_NE(out2.find("delq set to 2.5\nnqmax set to 3\ndelr set to 0.25\nnrmax set to 7\nKLMAX=4\n"
                      "IDENTICAL set to 1\n"),
            std::string::npos);

  const ChildResult r = RunInChild([&] { CKernel bad(dir + "/missing.dat"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("attempting to read non-existent parameter file " + dir + "/missing.dat"),
            std::string::npos);
}

TEST(CKernel, WriteReadRoundTripAndFileFormat) {
  const Mesh m{3, 5, 2, 4.0, 0.5, false};
  auto f = [](int ell, double q, double r) { return (ell + 1) * 1e-3 * q * std::sin(0.7 * r) - 0.1 * ell; };
  LoadedKernel a("kernel_rt_src", m, f);
  for (int ell = 0; ell <= 2; ell++)
    for (int iq = 0; iq < 3; iq++)
      for (int ir = 0; ir < 5; ir++)
        ASSERT_EQ(a->GetValue(ell, iq, ir), f(ell, (iq + 0.5) * 4.0, (ir + 0.5) * 0.5));

  const std::string dir = ScratchDir("kernel_rt") + "/deep/kdata";
  testing::internal::CaptureStdout();
  a->Write(dir);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("For q=6, Will write to " + dir + "/ell2_q0006.00.tmp\n"), std::string::npos);
  EXPECT_NE(out.find("For q=10, Will write to " + dir + "/ell0_q0010.00.tmp\n"), std::string::npos);
  // Order: l outer, q inner.
  EXPECT_LT(out.find("ell0_q0010.00"), out.find("ell1_q0002.00"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 9);

  char expected[256];
  std::string text = "5 0.5\n";
  for (int ir = 0; ir < 5; ir++) {
    snprintf(expected, sizeof expected, "%17.10e\n", f(1, 6.0, (ir + 0.5) * 0.5));
    text += expected;
  }
  EXPECT_EQ(ReadText(dir + "/ell1_q0006.00.tmp"), text);

  testing::internal::CaptureStdout();
  {
    CKernel b(ParsFile(ScratchDir("kernel_rt_pars"), m));
    b.Read(dir);
    for (int ell = 0; ell <= 2; ell++)
      for (int iq = 0; iq < 3; iq++)
        for (int ir = 0; ir < 5; ir++) {
          const double v = a->GetValue(ell, iq, ir);
          ASSERT_NEAR(b.GetValue(ell, iq, ir), v, 1e-10 * std::fabs(v));
        }
  }
  testing::internal::GetCapturedStdout();
}

TEST(CKernel, IdenticalKernelHasEvenTablesOnly) {
  const Mesh m{2, 3, 3, 4.0, 0.5, true};
  LoadedKernel k("kernel_ident", m, [](int ell, double, double r) { return 1.0 + ell + r; });
  EXPECT_EQ(k->GetValue(1, 0, 0), 0.0);
  EXPECT_EQ(k->GetValue(3, 1, 2), 0.0);
  EXPECT_EQ(k->GetValue(1, 2.0, 0.25), 0.0);
  EXPECT_EQ(k->GetValue(2, 0, 0), 3.25);

  const std::string dir = ScratchDir("kernel_ident_out");
  testing::internal::CaptureStdout();
  k->Write(dir);
  k->Print();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::filesystem::exists(dir + "/ell2_q0006.00.tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/ell1_q0006.00.tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/ell3_q0002.00.tmp"));
  EXPECT_NE(out.find("ellmax=3, nqmax=2, nrmax=3\n______________ q=2 MeV/c____________________\n"
                     "  0.25  1.250e+00  3.250e+00 \n"),
            std::string::npos);
  EXPECT_NE(out.find("______________ q=6 MeV/c____________________\n"), std::string::npos);
}

TEST(CKernel, InterpolationIsExactForLinearFunctionsAndHandlesEdges) {
  const Mesh m{5, 8, 1, 4.0, 0.5, false};
  auto f = [](int ell, double q, double r) { return 0.3 - 0.02 * q + 0.15 * r + ell * (0.01 * q - 0.2 * r); };
  LoadedKernel k("kernel_interp", m, f);
  // Exact between the first and last bin centres.
  for (int ell = 0; ell <= 1; ell++)
    for (double q = 2.0; q <= 18.0; q += 0.37)
      for (double r = 0.25; r <= 3.75; r += 0.111)
        ASSERT_NEAR(k->GetValue(ell, q, r), f(ell, q, r), 1e-12) << ell << " " << q << " " << r;
  // At a bin centre the table value exactly.
  EXPECT_EQ(k->GetValue(1, 10.0, 1.75), k->GetValue(1, 2, 3));
  // On the boundary between bins: the mean of the two.
  EXPECT_DOUBLE_EQ(k->GetValue(0, 8.0, 1.25), 0.5 * (k->GetValue(0, 1, 2) + k->GetValue(0, 2, 2)));
  // Below the first centre and above the last: flat.
  EXPECT_NEAR(k->GetValue(0, 0.5, 1.25), f(0, 2.0, 1.25), 1e-12);
  EXPECT_NEAR(k->GetValue(0, 19.5, 0.1), f(0, 18.0, 0.25), 1e-12);
  EXPECT_NEAR(k->GetValue(0, 6.0, 3.9), f(0, 6.0, 3.75), 1e-12);
  // Beyond the mesh edges: nothing.
  EXPECT_EQ(k->GetValue(0, 20.0 + 1e-9, 1.0), 0.0);
  EXPECT_EQ(k->GetValue(0, 6.0, 4.0 + 1e-9), 0.0);
  EXPECT_EQ(k->GetValue(0, NAN, 1.0), 0.0);
  EXPECT_EQ(k->GetValue(0, 6.0, -100.0), 0.0);
  // Index lookup off the mesh.
  EXPECT_EQ(k->GetValue(0, 5, 0), 0.0);
  EXPECT_EQ(k->GetValue(0, 0, 8), 0.0);
  EXPECT_EQ(k->GetValue(1, -1, 0), 0.0);
  EXPECT_EQ(k->GetValue(1, 0, -1), 0.0);
}

TEST(CKernel, InterpolatedValueBelowMinusOneIsReported) {
  const Mesh m{2, 4, 0, 4.0, 0.5, false};
  LoadedKernel k("kernel_below", m, [](int, double, double) { return -1.5; });
  testing::internal::CaptureStdout();
  const double v = k->GetValue(0, 3.0, 1.2);
  const double w = k->GetValue(0, 3.0, 0.8);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_DOUBLE_EQ(v, -1.5);
  EXPECT_DOUBLE_EQ(w, -1.5);
  EXPECT_EQ(out, "answer below -1, =-1.5, q=3, r=1.2, iq=0, ir=2, nrmax=4\n");
}

TEST(CKernel, ReadFailuresAreFatal) {
  const Mesh m{2, 4, 2, 4.0, 0.5, true};
  const std::string dir = ScratchDir("kernel_bad");
  const std::string pars = ParsFile(dir, m);
  auto f = [](int, double, double) { return 0.5; };
  auto read = [&](const std::string &data) {
    return RunInChild([&] {
      CKernel k(pars);
      k.Read(data);
    });
  };

  // Missing file, named in the message.
  WriteKernelDir(dir + "/missing", m, f);
  std::filesystem::remove(dir + "/missing/ell2_q0006.00.tmp");
  ChildResult r = read(dir + "/missing");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Cannot open kernel data file " + dir + "/missing/ell2_q0006.00.tmp"), std::string::npos);

  // Fewer radial points announced than the kernel needs.
  WriteKernelDir(dir + "/fewer", m, f, 3);
  r = read(dir + "/fewer");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Inconsistent values for nrmax or delr in data files!\n"), std::string::npos);

  // Another radial width.
  WriteKernelDir(dir + "/delr", Mesh{2, 4, 2, 4.0, 0.5 + 1e-6, true}, f);
  r = read(dir + "/delr");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Inconsistent values for nrmax or delr in data files!\n"), std::string::npos);

  // Header announces more values than the file holds.
  WriteKernelDir(dir + "/short", m, f);
  std::ofstream(dir + "/short/ell0_q0002.00.tmp") << "4 0.5\n1\n2\n3\n";
  r = read(dir + "/short");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(dir + "/short/ell0_q0002.00.tmp holds 3 values"), std::string::npos);

  // Empty file: no header.
  WriteKernelDir(dir + "/empty", m, f);
  std::ofstream(dir + "/empty/ell0_q0006.00.tmp").flush();
  r = read(dir + "/empty");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(dir + "/empty/ell0_q0006.00.tmp"), std::string::npos);

  // More radial values than needed are accepted; the extra ones are ignored.
  WriteKernelDir(dir + "/more", m, [](int, double, double r) { return r; }, 6);
  r = read(dir + "/more");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.find("Inconsistent"), std::string::npos);
}

TEST(CKernel, SixDigitWidthRoundTrips) {
  // DELR passes through the parameter map with 6 digits, as the files write it.
  const std::string dir = ScratchDir("kernel_delr");
  const std::string pars = dir + "/k.dat";
  std::ofstream(pars) << "int NQMAX 1\nint NRMAX 2\nint KLMAX 0\ndouble DELR 0.1234567\n";
  const ChildResult ok = RunInChild([&] {
    CKernel k(pars);
    k.Write(dir + "/data");
    k.Read(dir + "/data");
  });
  EXPECT_EQ(ok.status, 0);
  EXPECT_NE(ok.output.find("delr set to 0.123457\n"), std::string::npos);
}

TEST(CKernel, PsiSquaredFromLegendreProjections) {
  // |psi|^2 - 1 = g(x) = 0.3 + 0.5x + 0.6x^2 - 0.25x^3 in Legendre form:
  // x^2 = (P0 + 2P2)/3, x^3 = (3P1 + 2P3)/5, and K_l = c_l/(2l+1).
  const double c[4] = {0.3 + 0.2, 0.5 - 0.15, 0.4, -0.1};
  auto g = [](double x) { return 0.3 + 0.5 * x + 0.6 * x * x - 0.25 * x * x * x; };
  const Mesh m{3, 4, 6, 4.0, 0.5, false};
  // The angular shape is scaled by a factor linear in q and r, to test interpolation.
  auto s = [](double q, double r) { return 1.0 + 0.05 * q - 0.3 * r; };
  LoadedKernel k("kernel_psi", m,
                 [&](int ell, double q, double r) { return ell <= 3 ? s(q, r) * c[ell] / (2 * ell + 1) : 0.0; });

  for (double x : {-1.0, -0.7, 0.0, 0.3, 0.95, 1.0}) {
    for (int iq = 0; iq < 3; iq++)
      for (int ir = 0; ir < 4; ir++) {
        const double q = (iq + 0.5) * 4.0, r = (ir + 0.5) * 0.5;
        ASSERT_NEAR(k->GetPsiSquared(iq, ir, x), 1.0 + s(q, r) * g(x), 1e-12) << x;
      }
    // Linear in r, also extrapolated below the first centre.
    for (double r : {0.0, 0.1, 0.6, 1.3, 1.75})
      ASSERT_NEAR(k->GetPsiSquared(1, r, x), 1.0 + s(6.0, r) * g(x), 1e-12) << x << " " << r;
    // Bilinear in (q, r), extrapolated outside the first and last q centres.
    for (double q : {0.0, 1.0, 3.3, 7.9, 10.0, 11.5})
      for (double r : {0.25, 0.9, 1.6})
        ASSERT_NEAR(k->GetPsiSquared(q, r, x), 1.0 + s(q, r) * g(x), 1e-12) << x << " " << q << " " << r;
  }
  // Out of range.
  EXPECT_EQ(k->GetPsiSquared(3, 0, 0.5), 1.0);
  EXPECT_EQ(k->GetPsiSquared(0, 4, 0.5), 1.0);
  EXPECT_EQ(k->GetPsiSquared(3, 0.5, 0.5), 1.0);
  EXPECT_EQ(k->GetPsiSquared(0, 50.0, 0.5), 1.0);
  // Past the last r centre the missing neighbour counts as 1.
  k->CalcP(0.2);
  const double last = k->CalcPsiSquared(0, 3, 0.2);
  EXPECT_NEAR(k->CalcPsiSquared(0, 2.0, 0.2), 0.5 * (last + 1.0), 1e-12);
}

TEST(CKernel, LegendreTableAndSumStopping) {
  const Mesh m{1, 1, 12, 4.0, 0.5, true};
  // Terms (2l+1) K_l P_l(1) for l = 0, 2, ..., 8 below 1e-4; l = 10 large.
  LoadedKernel k("kernel_stop", m, [](int ell, double, double) { return ell < 10 ? 1e-6 : 1.0; });
  k->CalcP(1.0);
  double sum = 1.0;
  for (int ell = 0; ell <= 8; ell += 2) sum += (2 * ell + 1) * 1e-6;
  EXPECT_DOUBLE_EQ(k->CalcPsiSquared(0, 0, 1.0), sum);

  // Recurrence against closed forms.
  k->CalcP(0.4);
  const double x = 0.4;
  const double p4 = (35 * std::pow(x, 4) - 30 * x * x + 3) / 8;
  const double p5 = (63 * std::pow(x, 5) - 70 * std::pow(x, 3) + 15 * x) / 8;
  // With K_l = 1 for one l only, the sum picks out (2l+1) P_l.
  LoadedKernel one("kernel_one", Mesh{1, 1, 5, 4.0, 0.5, false},
                   [](int ell, double, double) { return ell == 4 || ell == 5 ? 1.0 : 0.0; });
  EXPECT_NEAR(one->GetPsiSquared(0, 0, x), 1.0 + 9 * p4 + 11 * p5, 1e-13);

  // A zero kernel gives 1; LMAX = 0 gives 1 + K_0.
  LoadedKernel zero("kernel_zero", Mesh{1, 2, 4, 4.0, 0.5, false}, [](int, double, double) { return 0.0; });
  EXPECT_EQ(zero->GetPsiSquared(0, 1, -0.3), 1.0);
  LoadedKernel l0("kernel_l0", Mesh{1, 2, 0, 4.0, 0.5, false}, [](int, double, double r) { return r; });
  EXPECT_DOUBLE_EQ(l0->GetPsiSquared(0, 1, -0.3), 1.75);
}

TEST(CKernel, SingleQBinKernelUsesThatBinForAnyQ) {
  LoadedKernel k("kernel_oneq", Mesh{1, 3, 2, 4.0, 0.5, false},
                 [](int ell, double, double r) { return ell == 0 ? 0.2 * r : 0.1; });
  for (double q : {0.0, 2.0, 7.0, 100.0})
    for (double r : {0.25, 0.6, 1.2}) EXPECT_DOUBLE_EQ(k->GetPsiSquared(q, r, 0.3), k->GetPsiSquared(0, r, 0.3));
  EXPECT_NEAR(k->GetPsiSquared(50.0, 0.25, 0.3), 1.0 + 0.05 + 3 * 0.1 * 0.3 + 5 * 0.1 * (1.5 * 0.09 - 0.5), 1e-12);
}
