#include "common/testutil.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction.h"

#include <gsl/gsl_sf_bessel.h>
#include <omp.h>
#include <gtest/gtest.h>

#include "common/writefault.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <string>
#include <vector>

#include "common/child.h"

namespace {

using testutil::kHbarc;

struct Mesh { int nq, nr, lmax; double delq, delr; bool identical; };
using KFunction = std::function<double(int ell, double q, double r)>;

// Writes a kernel parameter file into dir and returns its name; with f also the
// kernel's data files, K_l(q, r) = f(l, q, r) at bin centres.
std::string WriteKernelDir(const std::string &dir, const Mesh &m, const KFunction &f) {
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/kparameters.dat") << std::setprecision(10) << "int NQMAX " << m.nq << "\nint NRMAX " << m.nr
      << "\nint KLMAX " << m.lmax << "\ndouble DELQ " << m.delq << "\ndouble DELR " << m.delr << "\nbool IDENTICAL "
      << m.identical << "\n";
  for (int ell = 0; f && ell <= m.lmax; ell += m.identical ? 2 : 1)
    for (int iq = 0; iq < m.nq; iq++) {
      char name[64];
      snprintf(name, sizeof name, "/ell%d_q%07.2f.tmp", ell, (iq + 0.5) * m.delq);
      std::ofstream out(dir + name);
      out << m.nr << " " << m.delr << "\n" << std::setprecision(17);
      for (int ir = 0; ir < m.nr; ir++) out << f(ell, (iq + 0.5) * m.delq, (ir + 0.5) * m.delr) << "\n";
    }
  return dir + "/kparameters.dat";
}

// A kernel read from a hand-written directory; its printout is discarded.
std::unique_ptr<CKernel> Load(const std::string &name, const Mesh &m, const KFunction &f) {
  const std::string dir = ScratchDir(name);
  testing::internal::CaptureStdout();
  auto k = std::make_unique<CKernel>(WriteKernelDir(dir, m, f));
  k->Read(dir);
  testing::internal::GetCapturedStdout();
  return k;
}

// A wave function given by a formula of (q, r, ctheta) on the uniform q mesh (iq + 0.5)*dq.
struct QMeshFormulaWF : CWaveFunction {
  QMeshFormulaWF(int nq, double dq, std::function<double(double, double, double)> f) : f_(std::move(f)) {
    nqmax = nq;
    delq = dq;
    for (int iq = 0; iq < nq; iq++) qarray.push_back((iq + 0.5) * dq);
  }
  double CalcPsiSquared(int iq, double r, double ctheta) const override { return f_(qarray[iq], r, ctheta); }
  std::function<double(double, double, double)> f_;
};

// 2qr/hbarc at the centre of bin (iq, ir).
double X(const CKernel &k, int iq, int ir) { return 2 * (iq + 0.5) * k.GetDELQ() * (ir + 0.5) * k.GetDELR() / kHbarc; }

// Free identical bosons: K_l = (-1)^(l/2) j_l(2qr/hbarc) for even l, 0 for odd l.
double FreeK(const CKernel &k, int l, int iq, int ir) {
  return l % 2 ? 0.0 : (l % 4 ? -1 : 1) * gsl_sf_bessel_jl(l, X(k, iq, ir));
}

}  // namespace

TEST(CKernel, WriteReadRoundTrip) {
  // A width with more digits than the files keep must still read back.
  const Mesh m{3, 5, 2, 4.0, 0.1234567, false};
  auto f = [](int ell, double q, double r) { return (ell + 1) * 1e-3 * q * std::sin(7 * r) - 0.1 * ell; };
  const std::string dir = ScratchDir("kernel_rt") + "/deep/kdata";
  auto a = Load("kernel_rt_src", m, f);
  testing::internal::CaptureStdout();
  a->Write(dir);
  CKernel b(WriteKernelDir(ScratchDir("kernel_rt_pars"), m, nullptr));
  b.Read(dir);
  testing::internal::GetCapturedStdout();
  for (int i = 0; i < 3 * 3 * 5; i++)
    ASSERT_NEAR(b.GetValue(i / 15, i / 5 % 3, i % 5), f(i / 15, (i / 5 % 3 + 0.5) * 4, (i % 5 + 0.5) * m.delr), 1e-10);
}

TEST(CKernel, InterpolationIsExactForLinearFunctionsAndHandlesEdges) {
  auto f = [](int ell, double q, double r) { return 0.3 - 0.02 * q + 0.15 * r + ell * (0.01 * q - 0.2 * r); };
  auto k = Load("kernel_interp", Mesh{5, 8, 1, 4.0, 0.5, false}, f);
  // Exact between the first and last bin centres (q 2..18, r 0.25..3.75).
  for (int ell = 0; ell <= 1; ell++)
    for (double q = 2.0; q <= 18.0; q += 0.37)
      for (double r = 0.25; r <= 3.75; r += 0.111) ASSERT_NEAR(k->GetValue(ell, q, r), f(ell, q, r), 1e-12);
  // Flat below the first centre and above the last; nothing beyond the mesh edges.
  EXPECT_NEAR(k->GetValue(0, 0.5, 1.25), f(0, 2.0, 1.25), 1e-12);
  EXPECT_NEAR(k->GetValue(0, 19.5, 0.1), f(0, 18.0, 0.25), 1e-12);
  for (double q : {20.0 + 1e-9, double(NAN), -5.0}) EXPECT_EQ(k->GetValue(0, q, 1.0), 0.0);
  for (double r : {4.0 + 1e-9, -100.0}) EXPECT_EQ(k->GetValue(0, 6.0, r), 0.0);
}

TEST(CKernel, FileFailuresAreFatalAndNameTheFile) {
  const Mesh m{2, 4, 2, 4.0, 0.5, true};
  const std::string dir = ScratchDir("kernel_bad"), file = "/ell2_q0006.00.tmp";
  const std::string pars = WriteKernelDir(dir, m, [](int, double, double) { return 0.5; });
  std::ofstream(dir + file) << "4 0.5\n1\n2\n3\n";  // one value short
  for (const std::string &msg : {dir + file + " holds 3 values", "Cannot open kernel data file " + dir + file}) {
    const ChildResult r = RunInChild([&] { CKernel(pars).Read(dir); });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(msg), std::string::npos) << r.output;
    std::filesystem::remove(dir + file);
  }
  // A write that does not reach the disk (a full device) stops the process too.
  FullDiskFor full(file.substr(1));
  const ChildResult w = RunInChild([&] { CKernel(pars).Write(dir); });
  EXPECT_EQ(w.status, 1);
  EXPECT_NE(w.output.find("Error writing " + dir + file), std::string::npos) << w.output;
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
  for (double x : {-1.0, 0.3, 1.0})
    for (double q : {0.0, 3.3, 11.5})
      for (double r : {0.0, 0.75, 1.6}) ASSERT_NEAR(k->GetPsiSquared(q, r, x), 1 + s(q, r) * g(x), 1e-12);
  EXPECT_NEAR(k->GetPsiSquared(2, 1, 0.3), 1 + s(10, 0.75) * g(0.3), 1e-12);
  // A single q bin serves every q.
  auto one = Load("kernel_oneq", Mesh{1, 3, 3, 4.0, 0.5, false}, kf);
  for (double q : {0.0, 7.0, 100.0}) EXPECT_NEAR(one->GetPsiSquared(q, 0.6, 0.3), 1 + s(2, 0.6) * g(0.3), 1e-12);
}

TEST(KernelCalc, LegendreProjectionsAndFreeBosons) {
  CKernel k(WriteKernelDir(ScratchDir("kernel_hbt"), Mesh{10, 40, 12, 4.0, 0.5, false}, nullptr));
  QMeshFormulaWF wf(1, 4.0, [](double, double, double c) { return 1 + c; });  // one point serves every q
  k.Calc(&wf);
  const double h = 2.0 / 720;  // midpoint rule for 1/2 Int x^2 dx: 1/3 - h^2/12
  for (int i = 0; i < 10 * 40; i++)
    for (int l = 0; l <= 2; l++) ASSERT_NEAR(k.GetValue(l, i / 40, i % 40), l == 1 ? 1.0 / 3 - h * h / 12 : 0, 1e-13);
  // Must also clear the odd tables; small q r gives K_0 -> 1, K_l -> 0.
  k.Calc_PureHBT();
  for (int i = 0; i < 10 * 40; i++)
    for (int l = 0; l <= 12; l++) ASSERT_NEAR(k.GetValue(l, i / 40, i % 40), FreeK(k, l, i / 40, i % 40), 1e-12);

  // Calc of the free wave 1 + cos(2 q r ctheta/hbarc) gives the same kernel.
  QMeshFormulaWF wave(6, 8.0, [](double q, double r, double c) { return 1.0 + std::cos(2 * q * r * c / kHbarc); });
  const std::string kpars = WriteKernelDir(ScratchDir("kernel_proj"), Mesh{6, 20, 4, 8.0, 1.0, true}, nullptr);
  CKernel calc(kpars), serial(kpars);
  omp_set_num_threads(3);
  calc.Calc(&wave);
  omp_set_num_threads(1);  // the tables do not depend on the thread count
  serial.Calc(&wave);
  omp_set_num_threads(omp_get_num_procs());
  for (int i = 0; i < 6 * 20; i++)
    for (int l = 0; l <= 4; l += 2) {  // the midpoint rule's error grows like l(l+1) and (qr)^2
      const double tol = 4e-7 * (1 + l * (l + 1) + std::pow(X(calc, i / 20, i % 20), 2));
      ASSERT_NEAR(calc.GetValue(l, i / 20, i % 20), FreeK(calc, l, i / 20, i % 20), tol) << l << " " << i;
      ASSERT_EQ(calc.GetValue(l, i / 20, i % 20), serial.GetValue(l, i / 20, i % 20));
    }
}

TEST(KernelCalc, ProgressReportsEachRowOnceAndChangesNothing) {
  QMeshFormulaWF wave(6, 8.0, [](double q, double r, double c) { return 1.0 + std::cos(2 * q * r * c / kHbarc); });
  const std::string kpars = WriteKernelDir(ScratchDir("kernel_progress"), Mesh{6, 20, 4, 8.0, 1.0, true}, nullptr);
  CKernel plain(kpars), reported(kpars);
  plain.Calc(&wave);
  std::vector<int> done;
  omp_set_num_threads(3);
  reported.CalcWithProgress(&wave, [&](int d, int total) {
    EXPECT_EQ(total, 6);
    done.push_back(d);
  });
  omp_set_num_threads(omp_get_num_procs());
  EXPECT_EQ(done, (std::vector<int>{1, 2, 3, 4, 5, 6}));  // counts in order, whichever thread finished
  for (int i = 0; i < 6 * 20; i++)
    for (int l = 0; l <= 4; l += 2) ASSERT_EQ(reported.GetValue(l, i / 20, i % 20), plain.GetValue(l, i / 20, i % 20));
}

TEST(KernelCalc, ClassicalCoulombLimits) {
  const double m = 938.271;
  CKernel k(WriteKernelDir(ScratchDir("kernel_class"), Mesh{3, 40, 2, 10.0, 1.0, true}, nullptr));
  for (int q1q2 : {0, 1}) {
    k.Calc_PureHBT();  // stale values to clear
    testing::internal::CaptureStdout();
    k.Calc_ClassCoul(m, m, q1q2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no per-point lines
    for (int i = 0; i < 3 * 40; i++) {
      const double q = (i / 40 + 0.5) * 10, r = i % 40 + 0.5;
      const double x = q1q2 * 197.327 * std::sqrt(m * m + q * q) / (137.036 * r * q * q);
      // K_0 + 1 = sqrt(1 - x) where allowed, 0 where forbidden (x >= 1); without charge K_2 vanishes too.
      EXPECT_NEAR(k.GetValue(0, i / 40, i % 40), x >= 1 ? -1.0 : std::sqrt(1 - x) - 1, 1e-12) << i;
      if (q1q2 == 0 || x >= 1) { EXPECT_NEAR(k.GetValue(2, i / 40, i % 40), 0.0, x >= 1 ? 0.0 : 1e-5); }
    }
  }
}
