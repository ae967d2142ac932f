#include "source/sourcecalc_blast.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "config/parametermap.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

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

// Integral of the l = 0 part over the mesh with the exact shell volumes the fill divides by.
double Integral(const CCHArray &A) {
  const double d = A.GetRADSTEP();
  double sum = 0.0;
  for (int ir = 0; ir < A.GetNRADIAL(); ir++)
    sum += 4.0 * M_PI / 3.0 * d * d * d * (std::pow(ir + 1.0, 3) - std::pow(ir, 3)) * A.GetElement(0, 0, 0, ir);
  return sum;
}

void ExpectSameArrays(const CCHArray &a, const CCHArray &b) {
  a.ForEachTriple([&](int lx, int ly, int lz) {
    for (int ir = 0; ir < a.GetNRADIAL(); ir++) ASSERT_EQ(a.GetElement(lx, ly, lz, ir), b.GetElement(lx, ly, lz, ir));
  });
}

}  // namespace

TEST(Blast, ParametersAndReproducibility) {
  Quiet quiet;
  CSourceCalc_Blast blast;
  parameter::set(blast.spars, "T", 150.0);
  blast.SetSPars(0.8, 10.0, 9.0, 2.0);  // every other key back to its default
  EXPECT_EQ(parameter::getD(blast.spars, "T", 0), 110.0);
  EXPECT_EQ(parameter::getD(blast.spars, "lambda", 0), 0.8);
  EXPECT_EQ(parameter::getI(blast.spars, "Nsample", 0), 1000);

  // Two fresh calculators give the same array; a second fill of the same
  // array replaces the first (the fill zeroes it) and continues the stream.
  CSourceCalc_Blast a, b;
  for (CSourceCalc_Blast *c : {&a, &b}) {
    c->SetSPars(0.6, 8.0, 10.0, 2.0, 0.6, 100.0, 500.0, 1.2, 938.28, 139.58);
    parameter::set(c->spars, "Nsample", 150);
  }
  CCHArray A(4, 40, 1.0, false, true, false), B(4, 40, 1.0, false, true, false), C(4, 40, 1.0, false, true, false);
  a.CalcS(&A);
  b.CalcS(&B);
  ExpectSameArrays(A, B);
  a.CalcS(&A);
  b.CalcS(&C);  // into a fresh array
  ExpectSameArrays(A, C);
}

TEST(Blast, NormalisationIsLambdaTimesTheFractionInsideTheMesh) {
  Quiet quiet;
  for (double Mb : {139.58, 139.9, 938.28}) {  // different species; identical (within 1 MeV); different again
    CSourceCalc_Blast fill, replay;
    for (CSourceCalc_Blast *c : {&fill, &replay}) {
      c->SetSPars(0.7, 9.0, 8.0, 2.5, 0.7, 120.0, 800.0, 1.0, 139.58, Mb);
      parameter::set(c->spars, "Nsample", 200);
    }
    CCHArray A(2, 25, 1.0, true, true, true);  // 25 fm: part of the pairs falls outside
    fill.CalcS(&A);
    // The same draws, paired by hand.
    const double ma = 139.58, pa = ma * 800.0 / (ma + Mb), pb = Mb * 800.0 / (ma + Mb);
    const double Pa[4] = {std::sqrt(ma * ma + pa * pa), pa, 0, 0}, Pb[4] = {std::sqrt(Mb * Mb + pb * pb), pb, 0, 0};
    CSourceCalc_Blast::Points ra, rb;
    replay.Get_r(Pa, ra);
    const bool identical = std::fabs(Mb - ma) < 1.0;
    if (!identical) replay.Get_r(Pb, rb);
    double inside = 0, pairs = 0;
    for (std::size_t i = 0; i < ra.size(); i++)
      for (std::size_t j = 0; j < (identical ? i : rb.size()); j++) {
        const auto &o = identical ? ra[j] : rb[j];
        const double s = std::hypot(ra[i][1] - o[1], ra[i][2] - o[2], ra[i][3] - o[3]);
        pairs += 1;
        inside += s < 25.0;
      }
    EXPECT_EQ(pairs, identical ? 200.0 * 199 / 2 : 200.0 * 200);
    EXPECT_GT(inside / pairs, 0.3);
    EXPECT_LT(inside / pairs, 0.99);
    EXPECT_NEAR(Integral(A), 0.7 * inside / pairs, 1e-12) << Mb;
  }
}

TEST(Blast, ProperTimeDensity) {
  Quiet quiet;
  CSourceCalc_Blast blast;
  // Density tau exp(-(tau - tau0)^2/(2 dtau^2)) on tau > 0. For tau0 = 12, dtau = 3
  // the cut at 0 is negligible: <tau> = tau0 + dtau^2/tau0, <tau^2> = tau0^2 + 3 dtau^2,
  // P(tau < tau0) = 1/2 - dtau/(sqrt(2 pi) tau0), below the Gaussian's 1/2.
  const int n = 200000;
  double m1 = 0, m2 = 0, below = 0, lowest = 1e9;
  for (int i = 0; i < n; i++) {
    const double t = blast.GetTau(12.0, 3.0);
    m1 += t;
    m2 += t * t;
    below += t < 12.0;
    lowest = std::fmin(lowest, t);
  }
  EXPECT_GT(lowest, 0.0);
  EXPECT_NEAR(m1 / n, 12.75, 0.03);
  EXPECT_NEAR(m2 / n, 171.0, 0.8);
  EXPECT_NEAR(below / n, 0.5 - 3.0 / (std::sqrt(2 * M_PI) * 12.0), 0.005);

  // tau0 = 2, dtau = 3: the cut matters; moments by quadrature.
  double z0 = 0, z1 = 0, z2 = 0;
  for (double t = 0.0005; t < 40; t += 0.001) {
    const double w = t * std::exp(-(t - 2) * (t - 2) / 18.0);
    z0 += w;
    z1 += w * t;
    z2 += w * t * t;
  }
  m1 = m2 = lowest = 0;
  lowest = 1e9;
  for (int i = 0; i < n; i++) {
    const double t = blast.GetTau(2.0, 3.0);
    m1 += t;
    m2 += t * t;
    lowest = std::fmin(lowest, t);
  }
  EXPECT_GT(lowest, 0.0);
  EXPECT_NEAR(m1 / n, z1 / z0, 0.015);
  EXPECT_NEAR(m2 / n, z2 / z0, 0.15);
}

TEST(Blast, WeightBoundAndHotPions) {
  Quiet quiet;
  // For T <= m the bound is exactly 1 (the random streams are those of the unbounded form).
  EXPECT_EQ(CSourceCalc_Blast::WeightBound(139.58, 300.0, 0.98, 139.58), 1.0);
  EXPECT_EQ(CSourceCalc_Blast::WeightBound(938.28, 900.0, 2.0, 300.0), 1.0);
  // Above, it is the supremum over eta of cosh(eta) exp(-(E_min(eta) - e_min)/T), E_min
  // minimised over the flow on the disk: compare with a scan.
  struct Case {
    double m, p1, umax, T;
  };
  // The first case moves faster than the flow can follow and its weight still
  // peaks at eta = 0; the others peak on the flow branch, on the edge branch or
  // where the two meet.
  for (const Case &c : {Case{139.58, 300.0, 0.98, 160.0}, Case{139.58, 0.0, 0.98, 200.0}, Case{139.58, 300.0, 0.0, 500.0},
                        Case{139.58, 300.0, 0.98, 400.0}, Case{139.58, 139.58, 1.2, 300.0}, Case{139.58, 50.0, 2.0, 400.0}}) {
    const double p0 = std::sqrt(c.m * c.m + c.p1 * c.p1);
    auto Emin = [&](double ch) {
      double e = 1e300;
      for (int k = 0; k <= 1500; k++) {
        const double ux = c.umax * (2.0 * k / 1500 - 1.0);
        e = std::fmin(e, std::sqrt(ch * ch + ux * ux) * p0 - ux * c.p1);
      }
      return e;
    };
    const double emin = Emin(1.0);
    double scan = 1.0;
    for (double eta = 0; eta < 4; eta += 0.004) scan = std::fmax(scan, std::cosh(eta) * std::exp(-(Emin(std::cosh(eta)) - emin) / c.T));
    const double W = CSourceCalc_Blast::WeightBound(c.m, c.p1, c.umax, c.T);
    if (c.T == 160.0)
      EXPECT_EQ(W, 1.0);
    else
      EXPECT_GT(W, 1.01);
    EXPECT_GE(W, scan * (1 - 1e-9)) << c.p1 << " " << c.umax << " " << c.T;
    EXPECT_NEAR(W, scan, 2e-5 * W) << c.p1 << " " << c.umax << " " << c.T;
  }

  // Slow pions (pair Pt 100 MeV/c, slower than the flow) at T = 170 MeV > m,
  // whose unbounded weight reaches 1.02: the fill runs and keeps its norm.
  CSourceCalc_Blast hot;
  hot.SetSPars(0.5, 10.0, 9.0, 2.0, 0.7, 170.0, 100.0, 1.5, 139.58, 139.58);
  EXPECT_GT(CSourceCalc_Blast::WeightBound(139.58, 50.0, 0.7 / std::sqrt(1 - 0.49), 170.0), 1.015);
  parameter::set(hot.spars, "Nsample", 150);
  CCHArray A(2, 80, 1.0, true, true, true);
  EXPECT_NO_THROW(hot.CalcS(&A));
  EXPECT_GT(Integral(A), 0.45);
  EXPECT_LE(Integral(A), 0.5 + 1e-12);
}

TEST(Blast, EmissionPointsAndParameterErrors) {
  Quiet quiet;
  // No flow, a particle at rest: points uniform on the disk, <x^2 + y^2> = R^2/2,
  // and t = tau cosh(eta), z = tau sinh(eta) on the hyperbola of proper time tau > 0.
  CSourceCalc_Blast blast;
  blast.SetSPars(1.0, 6.0, 9.0, 2.0, 0.0, 100.0, 0.0, 1.0, 139.58, 139.58);
  parameter::set(blast.spars, "Nsample", 4000);
  const double p[4] = {139.58, 0, 0, 0};
  CSourceCalc_Blast::Points r;
  blast.Get_r(p, r);
  ASSERT_EQ(r.size(), 4000u);
  double rho2 = 0;
  for (const auto &x : r) {
    rho2 += x[1] * x[1] + x[2] * x[2];
    ASSERT_LE(std::hypot(x[1], x[2]), 6.0 + 1e-12);
    ASSERT_GT(x[0] * x[0] - x[3] * x[3], 0.0);
  }
  EXPECT_NEAR(rho2 / 4000, 18.0, 0.6);

  // Out-of-range parameters are fatal, not NaN arrays.
  CCHArray A(2, 10, 1.0, true, true, true);
  for (const char *key : {"Beta", "T", "Nsample"}) {
    CSourceCalc_Blast bad;
    parameter::set(bad.spars, key, std::string(key) == "Beta" ? 1.0 : 0.0);
    if (std::string(key) == "Nsample") parameter::set(bad.spars, "Nsample", 1);
    if (std::string(key) == "Nsample") parameter::set(bad.spars, "Mb", 938.28);  // identical: one point, no pair
    EXPECT_THROW(bad.CalcS(&A), femtokit::Error) << key;
  }
}

TEST(Blast, ShippedParameterFilesShowMtScaling) {
  Quiet quiet;
  // Pions (kT = 300 MeV/c) and protons (kT = 800 MeV/c) from one fireball:
  // the longitudinal region of homogeneity shrinks like tau sqrt(T/mT)
  // (mT = 331 and 1135 MeV).
  double along[2], norm[2];
  const char *files[2] = {"pions.dat", "protons.dat"};
  for (int k = 0; k < 2; k++) {
    CSourceCalc_Blast blast;
    blast.ReadSPars(std::string(FEMTOKIT_SOURCE_DIR) + "/data/blast/" + files[k]);
    parameter::set(blast.spars, "Nsample", 400);
    CCHArray A(2, 120, 0.5, true, true, true);
    blast.CalcS(&A);
    norm[k] = Integral(A) / parameter::getD(blast.spars, "lambda", 0);
    double Rx, Ry, Rz, X, Y, Z;
    blast.CalcEffGaussPars(&A, Rx, Ry, Rz, X, Y, Z);
    along[k] = Rz;
  }
  EXPECT_GT(norm[0], 0.99);
  EXPECT_GT(norm[1], 0.99);
  EXPECT_NEAR(along[0] / along[1], std::sqrt(1135.0 / 331.0), 0.25) << along[0] << " " << along[1];
}
