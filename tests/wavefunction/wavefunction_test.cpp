#include "common/child.h"
#include "wavefunction/wavefunction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

namespace {

std::string WriteFile(const std::string &name, const std::string &text) {
  static const std::string dir = ScratchDir("wavefunction");
  std::ofstream(dir + "/" + name) << text;
  return dir + "/" + name;
}

std::string MeshPars(const std::string &qfile) {
  return WriteFile("pars.dat", "double DELQ -1\nstring QARRAYFILENAME " + qfile + "\n");
}

// |psi|^2 = 1 + q/100 at every mesh point: linear in q, so interpolation is exact.
class LinearWF : public CWaveFunction {
 public:
  explicit LinearWF(const std::string &parsfile) { ParsInit(parsfile); }
  double CalcPsiSquared(int iq, double, double) const override { return 1.0 + 0.01 * qarray[iq]; }
};

// Boosts the four-vector p by velocity beta.
void Boost(const double beta[3], double p[4]) {
  const double b2 = beta[0] * beta[0] + beta[1] * beta[1] + beta[2] * beta[2], gamma = 1 / std::sqrt(1 - b2);
  const double bp = beta[0] * p[1] + beta[1] * p[2] + beta[2] * p[3], t = gamma * (p[0] + bp);
  for (int i = 0; i < 3; i++) p[i + 1] += ((gamma - 1) * bp / b2 + gamma * p[0]) * beta[i];
  p[0] = t;
}

}  // namespace

TEST(CWaveFunction, QMeshesInterpolateLinearly) {
  LinearWF wf(WriteFile("uniform.dat", "int NQMAX 10\ndouble DELQ 4.0\n"));  // 2, 6, ..., 38
  // Below the mesh the first point; linear up to half a spacing beyond the last; then 1.
  for (double q : {0.5, 2.0, 3.1, 17.5, 38.0, 39.5})
    EXPECT_NEAR(wf.GetPsiSquared(q, 2.0, 0.3), 1 + 0.01 * std::fmax(q, 2.0), 1e-12) << q;
  EXPECT_EQ(wf.GetPsiSquared(40.5, 2.0, 0.3), 1.0);

  LinearWF file(MeshPars(WriteFile("q3.dat", "3\n10 20\n40\n")));
  for (double q : {5.0, 30.0, 49.0}) EXPECT_NEAR(file.GetPsiSquared(q, 2.0, 0.0), 1 + 0.01 * std::fmax(q, 10.0), 1e-12);

  // A one-point mesh answers its point at every q.
  LinearWF one(MeshPars(WriteFile("q1.dat", "1 25\n")));
  for (double q : {0.0, 25.0, 1e6}) EXPECT_DOUBLE_EQ(one.GetPsiSquared(q, 2.0, 0.5), 1.25);
}

TEST(CWaveFunction, QMeshFileErrorsAreFatalAndNameTheFile) {
  for (const std::string text : {"-", "5\n1 2 3\n", ""}) {  // "-": no such file
    const std::string qfile = text == "-" ? "/no/such/qmesh.dat" : WriteFile("qbad.dat", text);
    const ChildResult res = RunInChild([&] { LinearWF wf(MeshPars(qfile)); });
    EXPECT_EQ(res.status, 1);
    const size_t last = res.output.rfind('\n', res.output.size() - 2);  // the last line names the file
    EXPECT_NE(res.output.find(qfile, last), std::string::npos) << res.output;
  }
}

TEST(CWaveFunction, GetQRCThetaSurvivesRounding) {
  CWaveFunction wf;
  const double m = 938.271, k = 37.0, rr = 4.2, E = std::sqrt(m * m + k * k);
  double q, r, c;
  // Collinear pairs with different emission times, boosted hard: rounding must
  // neither stop the process nor push ctheta out of [-1, 1].
  const double betas[][3] = {{0.0, 0.0, 0.999}, {0.6, -0.5, 0.3}, {0.9999, 0, 0}, {0.3, 0.3, -0.9}};
  for (const auto &beta : betas)
    for (double sign : {1.0, -1.0}) {
      double pa[4] = {E, k * 0.6, 0, k * 0.8}, pb[4] = {E, -k * 0.6, 0, -k * 0.8};
      double xa[4] = {3, sign * rr * 0.3, 0, sign * rr * 0.4}, xb[4] = {-1, -sign * rr * 0.3, 0, -sign * rr * 0.4};
      for (double *v : {pa, pb, xa, xb}) Boost(beta, v);
      wf.getqrctheta(pa, xa, pb, xb, &q, &r, &c);
      EXPECT_NEAR(q, k, 1e-7 * k);
      EXPECT_NEAR(c, sign, 1e-9);
      EXPECT_LE(std::fabs(c), 1.0);
    }
  // r = 0 gives ctheta = 0, also when r vanishes only up to rounding (a
  // separation along the pair's world line).
  double pa[4] = {E, 150, 20, 0}, pb[4] = {E, 150, -20, 0}, xa[4] = {1e3, 1e3 * 150 / E, 0, 0}, x0[4] = {};
  wf.getqrctheta(pa, xa, pb, x0, &q, &r, &c);
  EXPECT_NEAR(r, 0.0, 1e-3);
  wf.getqrctheta(pa, x0, pb, x0, &q, &r, &c);
  EXPECT_NEAR(q, 20.0, 1e-9);
  EXPECT_EQ(c, 0.0);
  // A pair without a rest frame still stops the process.
  double s[4] = {1, 5, 0, 0};
  const ChildResult res = RunInChild([&] { wf.getqrctheta(s, xa, s, x0, &q, &r, &c); });
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.output.rfind("Disaster, r^2=", 0), 0u) << res.output;
}

TEST(CWaveFunction, GetIWWithoutCoulombSWaveClosedForm) {
  CWaveFunction wf;
  for (double q : {5.0, 40.0, 150.0})
    for (double x : {0.02, 0.5, 1.5})  // x = q epsilon/hbarc
      EXPECT_NEAR(wf.GetIW(0, x * 197.3269602 / q, q, 0, 0, 0), -(x - std::sin(2 * x) / 2) / q, 1e-9 * x / q);
}
