#include "common/child.h"
#include "common/testutil.h"
#include "wavefunction/wavefunction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

namespace {

std::string WriteWaveFunctionFile(const std::string &name, const std::string &text) {
  static const std::string dir = ScratchDir("wavefunction");
  return testutil::WriteTextIn(dir, name, text);
}

// |psi|^2 = 1 + q/100 at every mesh point: linear in q, so interpolation is exact.
struct LinearWF : CWaveFunction {
  explicit LinearWF(const std::string &pars, const std::string &qfile = "") {
    ParsInit(qfile.empty() ? pars
                           : WriteWaveFunctionFile("pars.dat", "double DELQ -1\nstring QARRAYFILENAME " + qfile + "\n"));
  }
  double CalcPsiSquared(int iq, double, double) const override { return 1.0 + 0.01 * qarray[iq]; }
};

// Boosts the four-vector p by velocity beta.
void Boost(const double b[3], double p[4]) {
  const double b2 = b[0] * b[0] + b[1] * b[1] + b[2] * b[2], bp = b[0] * p[1] + b[1] * p[2] + b[2] * p[3];
  const double g = 1 / std::sqrt(1 - b2);
  for (int i = 0; i < 3; i++) p[i + 1] += ((g - 1) * bp / b2 + g * p[0]) * b[i];
  p[0] = g * (p[0] + bp);
}

}  // namespace

TEST(CWaveFunction, QMeshesInterpolateLinearly) {
  LinearWF wf(WriteWaveFunctionFile("uniform.dat", "int NQMAX 10\ndouble DELQ 4.0\n"));  // 2, 6, ..., 38
  // Below the mesh the first point; linear up to half a spacing beyond the last; then 1.
  for (double q : {0.5, 3.1, 17.5, 39.5}) EXPECT_NEAR(wf.GetPsiSquared(q, 2.0, 0.3), 1 + 0.01 * std::fmax(q, 2), 1e-12);
  EXPECT_EQ(wf.GetPsiSquared(40.5, 2.0, 0.3), 1.0);
  LinearWF one("", WriteWaveFunctionFile("q1.dat", "1\n25\n"));  // one point serves every q
  for (double q : {0.0, 25.0, 1e6}) EXPECT_DOUBLE_EQ(one.GetPsiSquared(q, 2.0, 0.5), 1.25);
  // A missing or short q-mesh file stops the process, naming the file.
  const std::string shortfile = WriteWaveFunctionFile("qbad.dat", "5\n1 2 3\n"), nofile = "/no/such/qmesh.dat";
  for (const std::string &f : {nofile, shortfile}) {
    const ChildResult res = RunInChild([&] { LinearWF bad("", f); });
    EXPECT_EQ(res.status, 1);
    const std::string msg = f == nofile ? "cannot open q-mesh file " + f + "\n"
                                        : "q-mesh file " + f + " holds 3 values, fewer than its count 5\n";
    EXPECT_NE(res.output.find(msg), std::string::npos) << res.output;
  }
}

TEST(CWaveFunction, GetQRCThetaSurvivesRounding) {
  CWaveFunction wf;
  const double E = std::sqrt(938.271 * 938.271 + 37.0 * 37.0), betas[][3] = {{0, 0, 0.999}, {0.6, -0.5, 0.3}};
  double q, r, c;
  // Collinear pairs with different emission times, boosted hard: rounding must
  // neither stop the process nor push ctheta out of [-1, 1].
  for (const auto &beta : betas)
    for (double s : {1.0, -1.0}) {
      double pa[4] = {E, 22.2, 0, 29.6}, pb[4] = {E, -22.2, 0, -29.6};
      double xa[4] = {3, 1.2 * s, 0, 1.6 * s}, xb[4] = {-1, -1.2 * s, 0, -1.6 * s};
      for (double *v : {pa, pb, xa, xb}) Boost(beta, v);
      wf.getqrctheta(pa, xa, pb, xb, &q, &r, &c);
      EXPECT_NEAR(q, 37.0, 1e-6);
      EXPECT_TRUE(std::fabs(c - s) < 1e-9 && std::fabs(c) <= 1.0) << c;
    }
  // r = 0 gives ctheta = 0, also when r vanishes only up to rounding (along the pair's world line).
  // (Here r^2 comes out as -2e-25.)
  double pa[4] = {E, 150, 20, 0}, pb[4] = {E, 150, -20, 0}, xa[4] = {3e3, 3e3 * 150 / E, 0, 0}, x0[4] = {};
  for (const double *x : {xa, x0}) {
    wf.getqrctheta(pa, x, pb, x0, &q, &r, &c);
    EXPECT_EQ(c, 0.0);
  }
  // A pair without a rest frame still stops the process.
  const ChildResult res = RunInChild([&] { wf.getqrctheta(x0, xa, x0, x0, &q, &r, &c); });
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.output.rfind("Disaster, r^2=", 0), 0u) << res.output;
}

TEST(CWaveFunction, GetIWWithoutCoulombSWaveClosedForm) {
  CWaveFunction wf;
  for (double q : {5.0, 40.0, 150.0})
    for (double x : {0.02, 0.5, 1.5})  // x = q epsilon/hbarc
      EXPECT_NEAR(wf.GetIW(0, x * 197.3269602 / q, q, 0, 0, 0), -(x - std::sin(2 * x) / 2) / q, 1e-9 * x / q);
}
