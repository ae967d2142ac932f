#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <string>

#include "common/child.h"

namespace {

struct Mesh { int nq, nr, lmax; double delq, delr; bool identical; };
using KFunction = std::function<double(int ell, double q, double r)>;

std::string ParsFile(const std::string &dir, const Mesh &m) {
  const std::string name = dir + "/kparameters.dat";
  std::ofstream(name) << std::setprecision(10) << "int NQMAX " << m.nq << "\nint NRMAX " << m.nr
                      << "\nint KLMAX " << m.lmax << "\ndouble DELQ " << m.delq << "\ndouble DELR "
                      << m.delr << "\nbool IDENTICAL " << m.identical << "\n";
  return name;
}

// Writes a kernel data directory by hand: K_l(q, r) = f(l, q, r) at bin centres.
void WriteKernelDir(const std::string &dir, const Mesh &m, const KFunction &f) {
  std::filesystem::create_directories(dir);
  for (int ell = 0; ell <= m.lmax; ell += m.identical ? 2 : 1)
    for (int iq = 0; iq < m.nq; iq++) {
      char name[64];
      snprintf(name, sizeof name, "/ell%d_q%07.2f.tmp", ell, (iq + 0.5) * m.delq);
      std::ofstream out(dir + name);
      out << m.nr << " " << m.delr << "\n" << std::setprecision(17);
      for (int ir = 0; ir < m.nr; ir++) out << f(ell, (iq + 0.5) * m.delq, (ir + 0.5) * m.delr) << "\n";
    }
}

// A kernel read from a hand-written directory; its printout is discarded.
std::unique_ptr<CKernel> Load(const std::string &name, const Mesh &m, const KFunction &f) {
  const std::string dir = ScratchDir(name);
  WriteKernelDir(dir + "/data", m, f);
  testing::internal::CaptureStdout();
  auto k = std::make_unique<CKernel>(ParsFile(dir, m));
  k->Read(dir + "/data");
  testing::internal::GetCapturedStdout();
  return k;
}

}  // namespace

TEST(CKernel, WriteReadRoundTrip) {
  // A width with more digits than the files keep must still read back.
  const Mesh m{3, 5, 2, 4.0, 0.1234567, false};
  auto f = [](int ell, double q, double r) { return (ell + 1) * 1e-3 * q * std::sin(7 * r) - 0.1 * ell; };
  auto a = Load("kernel_rt_src", m, f);
  const std::string dir = ScratchDir("kernel_rt") + "/deep/kdata";
  testing::internal::CaptureStdout();
  a->Write(dir);
  CKernel b(ParsFile(ScratchDir("kernel_rt_pars"), m));
  b.Read(dir);
  testing::internal::GetCapturedStdout();
  std::ifstream in(dir + "/ell1_q0006.00.tmp");
  char head[64];
  snprintf(head, sizeof head, "5 0.123457\n%17.10e\n", a->GetValue(1, 1, 0));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}).rfind(head, 0), 0u);
  for (int ell = 0; ell <= 2; ell++)
    for (int iq = 0; iq < 3; iq++)
      for (int ir = 0; ir < 5; ir++)
        ASSERT_NEAR(b.GetValue(ell, iq, ir), f(ell, (iq + 0.5) * 4, (ir + 0.5) * m.delr), 1e-10);
}

TEST(CKernel, InterpolationIsExactForLinearFunctionsAndHandlesEdges) {
  const Mesh m{5, 8, 1, 4.0, 0.5, false};
  auto f = [](int ell, double q, double r) { return 0.3 - 0.02 * q + 0.15 * r + ell * (0.01 * q - 0.2 * r); };
  auto k = Load("kernel_interp", m, f);
  // Exact between the first and last bin centres (q 2..18, r 0.25..3.75).
  for (int ell = 0; ell <= 1; ell++)
    for (double q = 2.0; q <= 18.0; q += 0.37)
      for (double r = 0.25; r <= 3.75; r += 0.111) ASSERT_NEAR(k->GetValue(ell, q, r), f(ell, q, r), 1e-12);
  // Flat below the first centre and above the last.
  EXPECT_NEAR(k->GetValue(0, 0.5, 1.25), f(0, 2.0, 1.25), 1e-12);
  EXPECT_NEAR(k->GetValue(0, 19.5, 0.1), f(0, 18.0, 0.25), 1e-12);
  // Nothing beyond the mesh edges.
  for (double q : {20.0 + 1e-9, double(NAN), -5.0}) EXPECT_EQ(k->GetValue(0, q, 1.0), 0.0);
  for (double r : {4.0 + 1e-9, -100.0}) EXPECT_EQ(k->GetValue(0, 6.0, r), 0.0);
}

TEST(CKernel, ReadFailuresAreFatalAndNameTheFile) {
  const Mesh m{2, 4, 2, 4.0, 0.5, true};
  const std::string dir = ScratchDir("kernel_bad"), pars = ParsFile(dir, m);
  const std::string file = "/ell2_q0006.00.tmp";
  struct Case { std::string name, text, message; } const cases[] = {  // text "-": file removed
      {"missing", "-", "Cannot open kernel data file " + dir + "/missing" + file},
      {"short", "4 0.5\n1\n2\n3\n", dir + "/short" + file + " holds 3 values"},
      {"empty", "", dir + "/empty" + file},
      {"fewer", "3 0.5\n1\n2\n3\n", "Inconsistent values for nrmax or delr in data files!\n"},
  };
  for (const auto &c : cases) {
    WriteKernelDir(dir + "/" + c.name, m, [](int, double, double) { return 0.5; });
    if (c.text == "-") std::filesystem::remove(dir + "/" + c.name + file);
    else std::ofstream(dir + "/" + c.name + file) << c.text;
    const ChildResult r = RunInChild([&] { CKernel(pars).Read(dir + "/" + c.name); });
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
}

TEST(CKernel, PsiSquaredFromLegendreProjections) {
  // |psi|^2 - 1 = g(x) = 0.3 + 0.5x + 0.6x^2 - 0.25x^3, scaled by s(q, r), in
  // Legendre form: x^2 = (P0 + 2P2)/3, x^3 = (3P1 + 2P3)/5, K_l = c_l/(2l+1).
  const double c[4] = {0.3 + 0.2, 0.5 - 0.15, 0.4, -0.1};
  auto g = [](double x) { return 0.3 + 0.5 * x + 0.6 * x * x - 0.25 * x * x * x; };
  auto s = [](double q, double r) { return 1.0 + 0.05 * q - 0.3 * r; };
  auto kf = [&](int ell, double q, double r) { return ell <= 3 ? s(q, r) * c[ell] / (2 * ell + 1) : 0.0; };
  auto k = Load("kernel_psi", Mesh{3, 4, 6, 4.0, 0.5, false}, kf);
  // Bilinear in (q, r), extrapolated outside the first and last centres.
  for (double x : {-1.0, -0.7, 0.0, 0.3, 1.0})
    for (double q : {0.0, 3.3, 6.0, 11.5})
      for (double r : {0.0, 0.75, 1.6}) ASSERT_NEAR(k->GetPsiSquared(q, r, x), 1 + s(q, r) * g(x), 1e-12);
  EXPECT_NEAR(k->GetPsiSquared(2, 1, 0.3), 1 + s(10, 0.75) * g(0.3), 1e-12);

  // A single q bin serves every q.
  auto one = Load("kernel_oneq", Mesh{1, 3, 3, 4.0, 0.5, false}, kf);
  for (double q : {0.0, 7.0, 100.0})
    for (double r : {0.25, 0.6, 1.2}) EXPECT_NEAR(one->GetPsiSquared(q, r, 0.3), 1 + s(2, r) * g(0.3), 1e-12);
}
