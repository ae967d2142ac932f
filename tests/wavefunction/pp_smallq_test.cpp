// The proton-pair wave function from q = 1 MeV/c down to 0.01 MeV/c, where the
// Gamow factor C_0^2 = 2 pi eta/(e^(2 pi eta) - 1) falls from 1e-8 to 1e-930
// (eta = 3.4 ... 342). Coulomb only: |psi|^2, its r -> 0 limit and C(q) of a
// Gaussian source against long-double Kummer series. With Reid93: the
// angle-averaged |psi|^2 and C(q), over the Gamow factor, against an
// independent partial-wave sum (rk8pd radial waves matched to long-double
// Coulomb functions); the zero-energy limit; q below the supported range.
#include "common/child.h"
#include "common/testutil.h"
#include "config/fatal.h"
#include "tests/wavefunction/coulomb_reference.h"
#include "wavefunction/reid93.h"
#include "wavefunction/wavefunction_pp.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_odeiv2.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <vector>

namespace {

using coulref::ld;
using cld = std::complex<ld>;
using testutil::kHbarc;
using testutil::kProtonMass;
using testutil::ProtonPairEta;
const double kR = 1.5;  // Gaussian source radius, fm

ld Gamow(ld eta) { return 2.0L * coulref::kPi * eta / std::expm1(2.0L * coulref::kPi * eta); }

// A pp wave function on the q mesh qs (read from a mesh file), EPSILON 9 fm as shipped.
std::string MeshFilePars(const std::string &name, const std::vector<double> &qs, bool strong) {
  static const std::string dir = ScratchDir("pp_smallq");
  std::ofstream mesh(dir + "/" + name + ".q");
  mesh << qs.size();
  for (double q : qs) mesh << " " << q;
  mesh.close();
  std::ofstream(dir + "/" + name) << "double DELQ -1\ndouble EPSILON 9.0\nbool STRONG " << strong
                                  << "\nstring QARRAYFILENAME " << dir << "/" << name << ".q\n";
  return dir + "/" + name;
}

// Gauss-Legendre nodes and weights on [a, b].
std::vector<std::pair<double, double>> Nodes(int n, double a, double b) {
  gsl_integration_glfixed_table *t = gsl_integration_glfixed_table_alloc(n);
  std::vector<std::pair<double, double>> nodes(n);
  for (int i = 0; i < n; ++i) gsl_integration_glfixed_point(a, b, i, &nodes[i].first, &nodes[i].second, t);
  gsl_integration_glfixed_table_free(t);
  return nodes;
}
const std::vector<std::pair<double, double>> kRNodes = Nodes(40, 0.0, 10.0 * kR), kCNodes = Nodes(16, -1.0, 1.0);

// Angle average (1/2) int dc f(r, c).
ld AngleAverage(const std::function<ld(double, double)> &f, double r) {
  ld s = 0.0L;
  for (auto [c, w] : kCNodes) s += 0.5L * w * f(r, c);
  return s;
}

// C(q) = int d^3r S(r) f for the Gaussian source S = e^(-r^2/4R^2)/(4 pi R^2)^(3/2), from the angle averages at the r nodes.
ld SourceAverage(const std::vector<ld> &averages) {
  ld s = 0.0L;
  for (std::size_t j = 0; j < kRNodes.size(); ++j) {
    const ld r = kRNodes[j].first;
    s += kRNodes[j].second * 4.0L * coulref::kPi * r * r * std::exp(-r * r / (4.0L * kR * kR)) * averages[j];
  }
  return s * std::pow(4.0L * coulref::kPi * kR * kR, -1.5L);
}

// Coulomb-only |psi|^2/C_0^2: spin-averaged antisymmetrised e^(ikz) conj(M(-i eta, 1, i k r (1 + c))).
ld CoulombScaled(double q, double r, double c) {
  const ld eta = ProtonPairEta(q), k = q / kHbarc;
  const cld a = std::polar(1.0L, k * r * c) * std::conj(coulref::KummerM(eta, k * r * (1 + c)));
  const cld b = std::polar(1.0L, -k * r * c) * std::conj(coulref::KummerM(eta, k * r * (1 - c)));
  return (std::norm(a + b) + 3.0L * std::norm(a - b)) / 8.0L;
}

// A value that may underflow: relative 2e-5 in the normal range, 0 far below it.
void ExpectUnscaled(double got, ld want, const std::string &where) {
  if (want > 1e-300L)
    EXPECT_NEAR(got, double(want), 2e-5 * double(want)) << where;
  else if (want < 1e-330L)
    EXPECT_EQ(got, 0.0) << where;
  else
    EXPECT_NEAR(got, double(want), 2e-5 * double(want) + 1e-321) << where;
}

struct SmallQRadialEquation {
  double k, etak;
  int l;
  const char *state;
};

// u'' = (l(l+1)/r^2 + M_p V/hbarc^2 + 2 eta k/r - k^2) u, with Reid93 inside 10 fm, the pp integration radius.
int SmallQRadialRhs(double r, const double y[], double dydr[], void *p) {
  const SmallQRadialEquation &s = *static_cast<const SmallQRadialEquation *>(p);
  double v = 0.0, v12, v22;
  if (r < 10.0) creid93(&r, s.state, "PP", &v, &v12, &v22);
  dydr[0] = y[1];
  dydr[1] = (s.l * (s.l + 1.0) / (r * r) + kProtonMass * v / (kHbarc * kHbarc) + 2.0 * s.etak / r - s.k * s.k) * y[0];
  return GSL_SUCCESS;
}

// |u|^2/C_0^2 at the ascending radii rs of the regular solution normalised to
// e^(i delta)(F cos delta + G sin delta) beyond 10 fm: u = alpha F + beta G
// there, so |u_normalised|^2 = u^2/(alpha^2 + beta^2).
std::vector<ld> SmallQRadialWave(double q, int l, const char *state, const std::vector<double> &rs) {
  const ld eta = ProtonPairEta(q), k = q / kHbarc, R = 10.0L, rho = k * R;
  SmallQRadialEquation s{double(k), double(eta * k), l, state};
  gsl_odeiv2_system sys{SmallQRadialRhs, nullptr, 2, &s};
  gsl_odeiv2_driver *d = gsl_odeiv2_driver_alloc_y_new(&sys, gsl_odeiv2_step_rk8pd, 1e-5, 0.0, 1e-12);
  // r^(l+1) (1 + eta k r/(l+1)): the irregular admixture of the rest dies out outward.
  const double c1 = s.etak / (l + 1.0);
  double r = 1e-4, y[2] = {std::pow(r, l + 1) * (1 + c1 * r), std::pow(r, l) * (l + 1.0 + (l + 2.0) * c1 * r)};
  std::vector<ld> u2(rs.size());
  ld uR = 0.0L, upR = 0.0L;
  for (std::size_t j = 0; j <= rs.size(); ++j) {
    if (r < R && (j == rs.size() || rs[j] > R)) {  // the matching radius on the way
      EXPECT_EQ(gsl_odeiv2_driver_apply(d, &r, double(R), y), GSL_SUCCESS);
      uR = y[0];
      upR = y[1];
    }
    if (j == rs.size()) break;
    EXPECT_EQ(gsl_odeiv2_driver_apply(d, &r, rs[j], y), GSL_SUCCESS);
    u2[j] = ld(y[0]) * y[0];
  }
  gsl_odeiv2_driver_free(d);
  const ld e = 1e-5L, F = coulref::F(l, eta, rho), G = coulref::G(l, eta, rho);
  const ld Fp = (coulref::F(l, eta, rho * (1 + e)) - coulref::F(l, eta, rho * (1 - e))) / (2 * e * rho);
  const ld Gp = (Fp * G - 1.0L) / F, urho = upR / k;
  const ld alpha = urho * G - uR * Gp, beta = Fp * uR - F * urho, gamow = Gamow(eta);
  for (ld &v : u2) v /= (alpha * alpha + beta * beta) * gamow;
  return u2;
}

// Angle-averaged |psi|^2/C_0^2 at the radii rs: 1/2 sum_(even l) (2l+1) F_l^2/rho^2 + 3/2 sum_(odd l) (...),
// with F_0^2 replaced by the 1S0 wave and F_1^2 by sum_J (2J+1)/9 |u_3PJ|^2 (3C2 without its coupling).
std::vector<ld> PartialWaveAverage(double q, const std::vector<double> &rs) {
  const char *states[4] = {"1S0", "3P0", "3P1", "3C2"};
  const ld weight[4] = {0.5L, 0.5L, 1.5L, 2.5L}, eta = ProtonPairEta(q), k = q / kHbarc, gamow = Gamow(eta);
  std::vector<std::vector<ld>> u2;
  for (int s = 0; s < 4; ++s) u2.push_back(SmallQRadialWave(q, s ? 1 : 0, states[s], rs));
  std::vector<ld> K(rs.size(), 0.0L);
  for (std::size_t j = 0; j < rs.size(); ++j) {
    const ld rho = k * rs[j];
    ld f2[13];
    for (int l = 0; l <= 12; ++l) f2[l] = std::pow(coulref::F(l, eta, rho), 2) / gamow;
    for (int l = 12; l >= 0; --l) K[j] += (l % 2 ? 1.5L : 0.5L) * (2 * l + 1) * f2[l];
    for (int s = 0; s < 4; ++s) K[j] += weight[s] * (u2[s][j] - f2[s ? 1 : 0]);
    K[j] /= rho * rho;
  }
  return K;
}

// Measured: |psi|^2/C_0^2 within 1.2e-5 of the series and C(q) within 6.8e-6 (the Kummer table's linear
// interpolation), the same at every q; |psi|^2 and C(q) themselves the same where they are in the double
// range (q >= 0.03) and 0 at q = 0.01 (1e-931).
TEST(PPSmallQ, CoulombOnlyAgainstKummerSeriesAndGamowFactor) {
  const std::vector<double> qs = {0.01, 0.03, 0.1, 0.3, 1.0};
  CWaveFunction_pp wf(MeshFilePars("coulomb.dat", qs, false));
  for (int iq = 0; iq < int(qs.size()); ++iq) {
    const double q = wf.GetQ(iq);
    const ld gamow = Gamow(ProtonPairEta(q));
    EXPECT_NEAR(wf.GetLogGamow(iq), double(std::log(gamow)), 1e-12 * double(-std::log(gamow))) << q;
    // At r = 0 only the singlet (1/4, amplitude sqrt 2) is left: half the Gamow factor.
    for (double c : {-1.0, 0.2, 1.0}) EXPECT_NEAR(wf.CalcScaledPsiSquared(iq, 1e-6, c), 0.5, 1e-6) << q;
    for (double r : {0.3, 2.0, 7.0, 15.0, 40.0})
      for (double c : {-1.0, -0.5, 0.0, 0.7, 1.0}) {
        const ld ref = CoulombScaled(q, r, c);
        const std::string where = "q=" + std::to_string(q) + " r=" + std::to_string(r) + " c=" + std::to_string(c);
        EXPECT_NEAR(wf.CalcScaledPsiSquared(iq, r, c), double(ref), 2e-5 * double(ref)) << where;
        ExpectUnscaled(wf.CalcPsiSquared(iq, r, c), gamow * ref, where);
      }
    std::vector<ld> ref, scaled, full;
    for (auto [r, w] : kRNodes) {
      ref.push_back(AngleAverage([&](double r, double c) { return CoulombScaled(q, r, c); }, r));
      scaled.push_back(AngleAverage([&](double r, double c) { return wf.CalcScaledPsiSquared(iq, r, c); }, r));
      full.push_back(AngleAverage([&](double r, double c) { return wf.CalcPsiSquared(iq, r, c); }, r));
    }
    const ld cref = SourceAverage(ref);
    EXPECT_NEAR(double(SourceAverage(scaled)), double(cref), 2e-5 * double(cref)) << q;
    ExpectUnscaled(double(SourceAverage(full)), gamow * cref, "C(q) at q=" + std::to_string(q));
  }
}

// Measured (largest over r, the same at every q): angle-averaged |psi|^2/C_0^2 within 1.7e-5 of the
// partial-wave sum, C(q)/C_0^2 within 2.2e-6; the 1S0 wave raises C(q) 8.7 times over Coulomb alone here.
TEST(PPSmallQ, Reid93AgainstPartialWaveSumOverGamowFactor) {
  const std::vector<double> qs = {0.03, 0.1, 0.3, 1.0};
  CWaveFunction_pp wf(MeshFilePars("reid93.dat", qs, true));
  std::vector<double> rs;
  for (auto [r, w] : kRNodes) rs.push_back(r);
  for (int iq = 0; iq < int(qs.size()); ++iq) {
    const double q = wf.GetQ(iq);
    const std::vector<ld> ref = PartialWaveAverage(q, rs);
    std::vector<ld> got, coulomb;
    for (std::size_t j = 0; j < rs.size(); ++j) {
      got.push_back(AngleAverage([&](double r, double c) { return wf.CalcScaledPsiSquared(iq, r, c); }, rs[j]));
      coulomb.push_back(AngleAverage([&](double r, double c) { return CoulombScaled(q, r, c); }, rs[j]));
      EXPECT_NEAR(double(got[j]), double(ref[j]), 3e-5 * double(ref[j])) << "q=" << q << " r=" << rs[j];
    }
    const ld cref = SourceAverage(ref), cgot = SourceAverage(got);
    EXPECT_NEAR(double(cgot), double(cref), 1e-5 * double(cref)) << q;
    EXPECT_NEAR(double(cgot / SourceAverage(coulomb)), 8.72, 0.05) << q;
  }
}

// Below about 0.03 MeV/c the wave over the Gamow factor has reached its zero-energy form, and
// |psi|^2 itself (1e-930 at 0.01) is 0; q below the supported range is refused, naming it.
TEST(PPSmallQ, ZeroEnergyLimitUnderflowAndSmallestQ) {
  CWaveFunction_pp wf(MeshFilePars("limit.dat", {CWaveFunction::QMIN, 0.02}, true));
  for (double r : {0.4, 3.0, 8.9, 9.1, 25.0, 70.0})
    for (double c : {-1.0, 0.3, 1.0}) {
      const double a = wf.CalcScaledPsiSquared(0, r, c), b = wf.CalcScaledPsiSquared(1, r, c);
      EXPECT_NEAR(a, b, 1e-5 * a) << "r=" << r << " c=" << c;
      EXPECT_EQ(wf.CalcPsiSquared(1, r, c), 0.0);
      EXPECT_EQ(wf.GetPsiSquared(0.005, r, c), 0.0);
      EXPECT_EQ(wf.CalcPsiSquared(0, r, c), 0.0);
    }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  try {
    CWaveFunction_pp bad(MeshFilePars("bad.dat", {5e-3, 0.01}, true));
    ADD_FAILURE() << "q = 5e-3 MeV/c accepted";
  } catch (const femtokit::Error &e) {
    EXPECT_NE(std::string(e.what()).find("q=0.005 MeV/c is outside the supported range 0.01 ... 1000 MeV/c"),
              std::string::npos)
        << e.what();
  }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
}

}  // namespace
