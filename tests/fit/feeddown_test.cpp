#include "fit/feeddown.h"

#include <cmath>
#include <vector>

#include "config/constants.h"
#include "math/random.h"
#include "qmatrix_testutil.h"

using qmtest::WriteMatrix;
using qmtest::WriteText;

class FeedDown : public qmtest::Quiet {};

namespace {

std::vector<double> Values(const CCHArray &a) {
  std::vector<double> v;
  for (int i = 0; i < a.GetNRADIAL(); ++i) v.push_back(a.GetElement(0, 0, 0, i));
  return v;
}

void Fill(CCHArray &a, const std::function<double(double)> &f) {
  for (int i = 0; i < a.GetNRADIAL(); ++i) a.SetElement(0, 0, 0, i, f((i + 0.5) * a.GetRADSTEP()));
}

// Two-body decay momentum of M -> m1 m2 in the rest frame of M.
double DecayMomentum(double M, double m1, double m2) {
  return std::sqrt((M * M - (m1 + m2) * (m1 + m2)) * (M * M - (m1 - m2) * (m1 - m2))) / (2 * M);
}

// Conditional matrix T(q_pp, q_pLambda) of the proton-Lambda pair feeding the
// proton-proton pair through Lambda -> p pi-, by Monte Carlo: in the pLambda
// frame the primary proton moves with -q and the Lambda with +q along z; the
// Lambda decays isotropically; q of the two protons is half their invariant
// relative momentum. Parent q is drawn with the q^2 population inside each bin.
std::string DecayMatrix(const std::string &path, int nd, double dd, int np, double dp, int samples) {
  using namespace femtokit::constants;
  const double pstar = DecayMomentum(MLAMBDA, MPROTON, MPI), estar = std::sqrt(MPROTON * MPROTON + pstar * pstar);
  CRandom random(4321);
  std::vector<double> t(static_cast<size_t>(nd * np), 0.0);
  for (int j = 0; j < np; ++j) {
    int inside = 0;
    for (int s = 0; s < samples; ++s) {
      const double lo = j * dp, hi = (j + 1) * dp;
      const double q = std::cbrt(lo * lo * lo + random.ran() * (hi * hi * hi - lo * lo * lo));
      const double cth = 2 * random.ran() - 1, phi = 2 * M_PI * random.ran(), sth = std::sqrt(1 - cth * cth);
      const double px = pstar * sth * std::cos(phi), py = pstar * sth * std::sin(phi), pz = pstar * cth;
      const double elam = std::sqrt(MLAMBDA * MLAMBDA + q * q), gamma = elam / MLAMBDA, beta = q / elam;
      const double pz2 = gamma * (pz + beta * estar), e2 = gamma * (estar + beta * pz);
      const double e1 = std::sqrt(MPROTON * MPROTON + q * q), pz1 = -q;
      const double dp2 = px * px + py * py + (pz2 - pz1) * (pz2 - pz1), de = e2 - e1;
      const double qd = 0.5 * std::sqrt(dp2 - de * de);
      const int i = static_cast<int>(qd / dd);
      if (i < nd) {
        t[static_cast<size_t>(i * np + j)] += 1;
        ++inside;
      }
    }
    for (int i = 0; i < nd; ++i) t[static_cast<size_t>(i * np + j)] /= inside;
  }
  return WriteMatrix(path, nd, dd, np, dp, [&](int i, int j) { return t[static_cast<size_t>(i * np + j)]; });
}

}  // namespace

TEST_F(FeedDown, GenuineAloneAndIdentityLeaveTheCorrelationUnchanged) {
  const std::string dir = ScratchDir("feeddown_identity");
  auto kernel = qmtest::FreeBosonKernel(dir, 50, 1.0);
  CCHArray gen(0, 50, 1.0, true, true, true), out(0, 50, 1.0, true, true, true);
  qmtest::FreeBosonCF(*kernel, 0.6, 5.0, gen);
  const std::vector<double> g = Values(gen);

  CFeedDown alone(WriteText(dir + "/alone.dat", "double lambdaGen 1\n"));
  alone.Apply(&gen, &out);
  EXPECT_EQ(Values(out), g);

  // Genuine 0.6 plus the same function through an identity matrix with 0.4.
  WriteMatrix(dir + "/identity.dat", 50, 1.0, 50, 1.0, [](int i, int j) { return i == j ? 1.0 : 0.0; });
  CFeedDown id(
      WriteText(dir + "/id.dat",
                "double lambdaGen 0.6\nint NRESIDUALS 1\nstring RESIDUAL0_NAME self\n"
                "string RESIDUAL0_TYPE matrix\nstring RESIDUAL0_MATRIX identity.dat\ndouble lambda_self 0.4\n"));
  id.SetParentCorrelation("self", &gen);
  id.Apply(&gen, &out);
  for (int i = 0; i < 50; ++i) EXPECT_NEAR(out.GetElement(0, 0, 0, i), g[static_cast<size_t>(i)], 1e-15) << i;
  // In place, with a smaller measured array of the same bin width.
  CCHArray in(0, 50, 1.0, true, true, true), small(0, 30, 1.0, true, true, true);
  qmtest::FreeBosonCF(*kernel, 0.6, 5.0, in);
  id.SetParentCorrelation("self", &in);
  id.Apply(&in, &in);
  id.SetParentCorrelation("self", &gen);
  id.Apply(&gen, &small);
  for (int i = 0; i < 30; ++i) {
    EXPECT_NEAR(in.GetElement(0, 0, 0, i), g[static_cast<size_t>(i)], 1e-15) << i;
    EXPECT_NEAR(small.GetElement(0, 0, 0, i), g[static_cast<size_t>(i)], 1e-15) << i;
  }
}

TEST_F(FeedDown, FlatResidualScalesExactlyAndTheRemainderFollowsTheOthers) {
  const std::string dir = ScratchDir("feeddown_flat");
  CCHArray gen(0, 40, 2.0, true, true, true), out(0, 40, 2.0, true, true, true);
  Fill(gen, [](double q) { return 0.8 * std::exp(-q * q / 900) - 0.1 * std::exp(-q / 30); });
  const std::vector<double> g = Values(gen);
  CFeedDown fd(WriteText(dir + "/flat.dat",
                         "double lambdaGen 0.7\nint NRESIDUALS 1\nstring RESIDUAL0_NAME misid\n"
                         "string RESIDUAL0_TYPE flat\ndouble lambda_misid 0.3\n"));
  fd.Apply(&gen, &out);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(out.GetElement(0, 0, 0, i), 0.7 * g[static_cast<size_t>(i)]);

  // A direct residual and a flat remainder: lambda_rest = 1 - lambdaGen - lambda_mis.
  CCHArray mis(0, 50, 2.0, true, true, true);
  Fill(mis, [](double q) { return -0.2 * std::exp(-q / 10); });
  CFeedDown rem(WriteText(dir + "/rem.dat",
                          "double lambdaGen 0.5\nint NRESIDUALS 2\nstring RESIDUAL0_NAME mis\n"
                          "string RESIDUAL0_TYPE direct\ndouble lambda_mis 0.1\nstring RESIDUAL1_NAME rest\n"
                          "string RESIDUAL1_TYPE flat\nstring REMAINDER rest\n"));
  EXPECT_NEAR(rem.GetLambda("lambda_rest"), 0.4, 1e-15);
  rem.SetParentCorrelation("mis", &mis);
  // A fit writes trial lambda's by name.
  parameter::set(rem.lambdas, "lambdaGen", 0.62);
  rem.SetLambda("lambda_mis", 0.13);
  rem.Apply(&gen, &out);
  EXPECT_NEAR(rem.GetLambda("lambda_rest"), 0.25, 1e-12);
  EXPECT_NEAR(rem.CheckLambdas(), 1.0, 1e-15);
  for (int i = 0; i < 40; ++i)
    EXPECT_NEAR(out.GetElement(0, 0, 0, i), 0.62 * g[static_cast<size_t>(i)] + 0.13 * mis.GetElement(0, 0, 0, i),
                1e-15);
  rem.SetLambda("lambdaGen", 0.9);  // 0.9 + 0.13 > 1: the remainder would be negative
  qmtest::ExpectFileError([&] { rem.Apply(&gen, &out); }, dir + "/rem.dat", "more than 1");
}

TEST_F(FeedDown, DecayMatrixMovesTheParentPeakWhereTheKinematicsSays) {
  using namespace femtokit::constants;
  const std::string dir = ScratchDir("feeddown_decay");
  // Daughter (pp) mesh 100 bins of 2 MeV/c, parent (pLambda) mesh 150 bins of 1 MeV/c.
  DecayMatrix(dir + "/pL_to_pp.dat", 100, 2.0, 150, 1.0, 1000);
  CFeedDown fd(WriteText(dir + "/fd.dat",
                         "double lambdaGen 0.5\nint NRESIDUALS 2\nstring RESIDUAL0_NAME pL\n"
                         "string RESIDUAL0_TYPE matrix\nstring RESIDUAL0_MATRIX pL_to_pp.dat\ndouble lambda_pL 0.3\n"
                         "string RESIDUAL1_NAME flat\nstring RESIDUAL1_TYPE flat\ndouble lambda_flat 0.2\n"));
  CCHArray parent(0, 150, 1.0, true, true, true), residual(0, 100, 2.0, true, true, true);
  fd.SetParentCorrelation("pL", &parent);

  // A parent correlation that is flat stays flat: the residual is a mean over parents.
  Fill(parent, [](double) { return 0.3; });
  fd.GetResidualCorrelation("pL", &residual);
  // (Below 2 MeV/c the decay protons rarely meet the primary one: a row
  // without samples maps to 0.)
  for (int i = 1; i < 75; ++i) EXPECT_NEAR(residual.GetElement(0, 0, 0, i), 0.3, 1e-14) << i;

  // Parent pairs at rest relative to each other (q < 3 MeV/c) give daughter
  // protons at q0 = sqrt(m_p (E* - m_p)/2), E* the decay proton's energy in the
  // Lambda frame: about 50 MeV/c, far from q = 0.
  Fill(parent, [](double q) { return q < 3 ? 1.0 : 0.0; });
  fd.GetResidualCorrelation("pL", &residual);
  const double pstar = DecayMomentum(MLAMBDA, MPROTON, MPI);
  const double q0 = std::sqrt(MPROTON * (std::sqrt(MPROTON * MPROTON + pstar * pstar) - MPROTON) / 2);
  EXPECT_NEAR(q0, 50.2, 0.1);
  int peak = 0;
  for (int i = 0; i < 100; ++i) {
    const double q = (i + 0.5) * 2, v = residual.GetElement(0, 0, 0, i);
    if (v > residual.GetElement(0, 0, 0, peak)) peak = i;
    if (q < 40 || q > 60) {
      EXPECT_EQ(v, 0.0) << q;
    }
  }
  EXPECT_NEAR((peak + 0.5) * 2, q0, 2.0);
  EXPECT_GT(residual.GetElement(0, 0, 0, peak), 0.0);

  // The whole model: 0.5 genuine + 0.3 residual; the flat part adds nothing to C - 1.
  CCHArray gen(0, 100, 2.0, true, true, true), out(0, 100, 2.0, true, true, true);
  Fill(gen, [](double q) { return std::exp(-q * q / 400); });
  fd.Apply(&gen, &out);
  for (int i = 0; i < 100; ++i)
    EXPECT_NEAR(out.GetElement(0, 0, 0, i), 0.5 * gen.GetElement(0, 0, 0, i) + 0.3 * residual.GetElement(0, 0, 0, i),
                1e-15);
}

TEST_F(FeedDown, CountsMatrixEqualsConditionalTimesPhaseSpace) {
  const std::string dir = ScratchDir("feeddown_counts");
  // Daughter i from parent j: weights 1/4, 1/2, 1/4 on rows j/2 - 1, j/2, j/2 + 1,
  // row -1 folded into row 0, so every column sums to 1.
  auto cond = [](int i, int j) {
    const int c = j / 2;
    double w = i == c ? 0.5 : (i == c - 1 || i == c + 1) ? 0.25 : 0.0;
    if (i == 0 && c == 0) w += 0.25;
    return w;
  };
  WriteMatrix(dir + "/cond.dat", 26, 2.0, 50, 1.0, cond);
  WriteMatrix(dir + "/counts.dat", 26, 2.0, 50, 1.0,
              [&](int i, int j) { return 1000.0 * cond(i, j) * (3.0 * j * j + 3.0 * j + 1.0); });
  const std::string common =
      "double lambdaGen 0.8\nint NRESIDUALS 1\nstring RESIDUAL0_NAME p\n"
      "string RESIDUAL0_TYPE matrix\ndouble lambda_p 0.2\n";
  CFeedDown a(WriteText(dir + "/a.dat", common + "string RESIDUAL0_MATRIX cond.dat\n"));
  CFeedDown b(WriteText(dir + "/b.dat", common + "string RESIDUAL0_MATRIX counts.dat\nstring MATRIXTYPE counts\n"));
  CFeedDown f(WriteText(dir + "/f.dat", common + "string RESIDUAL0_MATRIX cond.dat\nstring PAIRDENSITY flat\n"));
  CCHArray parent(0, 50, 1.0, true, true, true), ra(0, 25, 2.0, true, true, true), rb(0, 25, 2.0, true, true, true),
      rf(0, 25, 2.0, true, true, true);
  Fill(parent, [](double q) { return std::exp(-q / 8); });
  for (CFeedDown *fd : {&a, &b, &f}) fd->SetParentCorrelation("p", &parent);
  a.GetResidualCorrelation("p", &ra);
  b.GetResidualCorrelation("p", &rb);
  f.GetResidualCorrelation("p", &rf);
  for (int i = 0; i < 25; ++i) {
    EXPECT_NEAR(ra.GetElement(0, 0, 0, i), rb.GetElement(0, 0, 0, i), 1e-14) << i;
    // By hand: daughter i is the mean over parents with weights T n (or T alone).
    double num = 0, den = 0, flatnum = 0, flatden = 0;
    for (int j = 0; j < 50; ++j) {
      const double n = 3.0 * j * j + 3.0 * j + 1.0, c = std::exp(-(j + 0.5) / 8);
      num += cond(i, j) * n * c;
      den += cond(i, j) * n;
      flatnum += cond(i, j) * c;
      flatden += cond(i, j);
    }
    EXPECT_NEAR(ra.GetElement(0, 0, 0, i), num / den, 1e-14) << i;
    EXPECT_NEAR(rf.GetElement(0, 0, 0, i), flatnum / flatden, 1e-14) << i;
  }
}

TEST_F(FeedDown, LambdasThatDoNotAddUpAndMissingPiecesAreFatal) {
  const std::string dir = ScratchDir("feeddown_errors");
  const std::string pars = dir + "/fd.dat";
  auto make = [&](const std::string &text) { return [=] { CFeedDown fd(WriteText(pars, text)); }; };
  const std::string one = "int NRESIDUALS 1\nstring RESIDUAL0_NAME pL\nstring RESIDUAL0_TYPE direct\n";
  qmtest::ExpectFileError(make("double lambdaGen 0.6\n" + one + "double lambda_pL 0.3\n"), pars, "sum to 0.9");
  qmtest::ExpectFileError(make("double lambdaGen 1.1\n" + one + "double lambda_pL -0.1\n"), pars, "negative");
  qmtest::ExpectFileError(make("int NRESIDUALS 1\nstring RESIDUAL0_NAME p-L\nstring RESIDUAL0_TYPE flat\n"), pars,
                          "RESIDUAL0_NAME");
  qmtest::ExpectFileError(make("int NRESIDUALS 1\nstring RESIDUAL0_NAME pL\nstring RESIDUAL0_TYPE curve\n"), pars,
                          "TYPE 'curve'");
  qmtest::ExpectFileError(make("int NRESIDUALS 1\nstring RESIDUAL0_NAME pL\nstring RESIDUAL0_TYPE matrix\n"), pars,
                          "RESIDUAL0_MATRIX");
  qmtest::ExpectFileError(make("double lambdaGen 0.5\n" + one + "string RESIDUAL1_NAME pL\nint NRESIDUALS 2\n"), pars,
                          "two residuals");
  qmtest::ExpectFileError(make(one + "string REMAINDER pL\n"), pars, "REMAINDER pL");
  qmtest::ExpectFileError(make("int NRESIDUALS 101\n"), pars, "NRESIDUALS=101");
  qmtest::ExpectFileError(make(one + "string RESIDUAL0_TYPE matrix\nstring RESIDUAL0_MATRIX m.dat\n"
                                     "string UNITS MeV\n"),
                          pars, "units 'MeV'");

  // At Apply: lambda's written by a fit, a parent that was never set, meshes.
  CFeedDown fd(WriteText(pars, "double lambdaGen 0.6\n" + one + "double lambda_pL 0.4\n"));
  CCHArray gen(0, 20, 2.0, true, true, true), out(0, 20, 2.0, true, true, true), fine(0, 40, 1.0, true, true, true);
  qmtest::ExpectFileError([&] { fd.Apply(&gen, &out); }, pars, "no parent correlation");
  fd.SetParentCorrelation("pL", &fine);
  qmtest::ExpectFileError([&] { fd.Apply(&gen, &out); }, pars, "parent array's q mesh");
  fd.SetParentCorrelation("pL", &gen);
  fd.Apply(&gen, &out);
  qmtest::ExpectFileError([&] { fd.Apply(&fine, &out); }, pars, "genuine correlation's q mesh");
  parameter::set(fd.lambdas, "lambda_pL", 0.5);
  qmtest::ExpectFileError([&] { fd.Apply(&gen, &out); }, pars, "sum to 1.1");
  qmtest::ExpectFileError([&] { fd.SetLambda("lambda_pK", 0.1); }, pars, "no lambda is named lambda_pK");
  qmtest::ExpectFileError([&] { fd.SetParentCorrelation("pK", &gen); }, pars, "no residual is named pK");
  // A residual with lambda 0 needs no parent.
  CFeedDown zero(WriteText(dir + "/zero.dat", one + "double lambdaGen 1\n"));
  zero.Apply(&gen, &out);
}
