#pragma once

// Helpers shared by the array tests: loops over triples, a quadrature rule on
// the unit sphere, pointwise evaluation of expansions, files and fatal paths.

#include "arrays/charray.h"
#include "common/child.h"
#include "common/testutil.h"
#include "math/random.h"

#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_legendre.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

namespace testutil {

using Function = std::function<double(double, double, double)>;

// Calls f(lx, ly, lz) for every triple with lx + ly + lz <= lmax.
template <typename F>
void ForTriples(int lmax, F f) {
  for (int lx = 0; lx <= lmax; ++lx)
    for (int ly = 0; lx + ly <= lmax; ++ly)
      for (int lz = 0; lx + ly + lz <= lmax; ++lz) f(lx, ly, lz);
}

struct Direction { double x, y, z, weight; };

// A direction drawn uniformly on the unit sphere (weight 0).
inline Direction RandomDirection(CRandom &random) {
  double e[3] = {random.gauss(), random.gauss(), random.gauss()};
  const double r = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
  return {e[0] / r, e[1] / r, e[2] / r, 0.0};
}

// Gauss-Legendre in cos(theta) times the uniform rule in phi: exact for
// polynomials of degree below min(2*ntheta, nphi) in the components.
inline std::vector<Direction> SphereRule(int ntheta, int nphi) {
  std::vector<Direction> rule;
  gsl_integration_glfixed_table *table = gsl_integration_glfixed_table_alloc(ntheta);
  for (int i = 0; i < ntheta; ++i) {
    double c, wc;
    gsl_integration_glfixed_point(-1.0, 1.0, i, &c, &wc, table);
    for (int j = 0; j < nphi; ++j) {
      const double phi = 2.0 * M_PI * (j + 0.5) / nphi, s = std::sqrt(1.0 - c * c);
      rule.push_back({s * std::cos(phi), s * std::sin(phi), c, wc * 2.0 * M_PI / nphi});
    }
  }
  gsl_integration_glfixed_table_free(table);
  return rule;
}

// The function an expansion describes at unit vector e in bin ir:
// sum over stored triples of L!/(lx! ly! lz!) A(l) ex^lx ey^ly ez^lz.
inline double Evaluate(const CCHArray &a, int ir, double ex, double ey, double ez) {
  double f = 0.0;
  ForTriples(a.GetLMAX(), [&](int x, int y, int z) {
    if (a.ElementExists(x, y, z, ir))
      f += CCHArray::chcalc->Trinomial(x, y, z) * a.GetElement(x, y, z, ir) * std::pow(ex, x) * std::pow(ey, y) *
           std::pow(ez, z);
  });
  return f;
}

// Harmonic components of degree L <= lmax of f, at direction e:
// sum over L of (2L+1)/(4 pi) * integral f(e') P_L(e.e') dOmega'.
inline double Project(const Function &f, int lmax, const std::vector<Direction> &rule, double ex, double ey,
                      double ez) {
  std::vector<double> pl(static_cast<size_t>(lmax) + 1);
  double sum = 0.0;
  for (const Direction &d : rule) {
    gsl_sf_legendre_Pl_array(lmax, std::fmax(-1.0, std::fmin(1.0, ex * d.x + ey * d.y + ez * d.z)), pl.data());
    for (int L = 0; L <= lmax; ++L) sum += d.weight * f(d.x, d.y, d.z) * (2 * L + 1) * pl[static_cast<size_t>(L)];
  }
  return sum / (4.0 * M_PI);
}

// Largest |A(l+2x) + A(l+2y) + A(l+2z)| of bin ir over fully stored traces.
inline double TraceResidual(const CCHArray &a, int ir) {
  double worst = 0.0;
  ForTriples(a.GetLMAX() - 2, [&](int x, int y, int z) {
    if (a.ElementExists(x + 2, y, z, ir) && a.ElementExists(x, y + 2, z, ir) && a.ElementExists(x, y, z + 2, ir))
      worst = std::fmax(worst, std::fabs(a.GetElement(x + 2, y, z, ir) + a.GetElement(x, y + 2, z, ir) +
                                         a.GetElement(x, y, z + 2, ir)));
  });
  return worst;
}

// What body prints on standard output, run in this process.
inline std::string Stdout(const std::function<void()> &body) {
  testing::internal::CaptureStdout();
  body();
  return testing::internal::GetCapturedStdout();
}

// body must end the process with status 1 after printing message (or, with
// whole = false, something containing it).
inline void ExpectFatal(const std::function<void()> &body, const std::string &message, bool whole = true) {
  const ChildResult r = RunInChild(body);
  EXPECT_EQ(r.status, 1) << message;
  EXPECT_TRUE(whole ? r.output == message : r.output.find(message) != std::string::npos) << r.output;
}

}  // namespace testutil
