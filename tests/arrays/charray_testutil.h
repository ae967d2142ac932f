#ifndef FEMTOKIT_TESTS_ARRAYS_CHARRAY_TESTUTIL_H
#define FEMTOKIT_TESTS_ARRAYS_CHARRAY_TESTUTIL_H

// Helpers shared by the harmonic-array tests: a product quadrature rule on the
// unit sphere and pointwise evaluation of an expansion.

#include "arrays/charray.h"

#include <gsl/gsl_integration.h>
#include <gsl/gsl_math.h>
#include <gsl/gsl_sf_legendre.h>

#include <cmath>
#include <functional>
#include <vector>

namespace testutil {

struct Direction {
  double x, y, z, weight;
};

// Gauss-Legendre in cos(theta) times the uniform rule in phi: exact for
// polynomials of degree below min(2*ntheta, nphi) in the components.
inline std::vector<Direction> SphereRule(int ntheta, int nphi) {
  std::vector<Direction> rule;
  gsl_integration_glfixed_table *table = gsl_integration_glfixed_table_alloc(ntheta);
  for (int i = 0; i < ntheta; ++i) {
    double c, wc;
    gsl_integration_glfixed_point(-1.0, 1.0, i, &c, &wc, table);
    const double s = std::sqrt(1.0 - c * c);
    for (int j = 0; j < nphi; ++j) {
      const double phi = 2.0 * M_PI * (j + 0.5) / nphi;
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
  for (int lx = 0; lx <= a.GetLMAX(); ++lx)
    for (int ly = 0; ly + lx <= a.GetLMAX(); ++ly)
      for (int lz = 0; lz + ly + lx <= a.GetLMAX(); ++lz)
        if (a.ElementExists(lx, ly, lz, ir))
          f += CCHArray::chcalc->Trinomial(lx, ly, lz) * a.GetElement(lx, ly, lz, ir) * gsl_pow_int(ex, lx) *
               gsl_pow_int(ey, ly) * gsl_pow_int(ez, lz);
  return f;
}

// Harmonic components of degree L <= lmax of f, at direction e:
// sum over L of (2L+1)/(4 pi) * integral f(e') P_L(e.e') dOmega'.
inline double Project(const std::function<double(double, double, double)> &f, int lmax,
                      const std::vector<Direction> &rule, double ex, double ey, double ez) {
  std::vector<double> pl(static_cast<size_t>(lmax) + 1);
  double sum = 0.0;
  for (const Direction &d : rule) {
    double c = ex * d.x + ey * d.y + ez * d.z;
    c = std::fmax(-1.0, std::fmin(1.0, c));
    gsl_sf_legendre_Pl_array(lmax, c, pl.data());
    double kernel = 0.0;
    for (int L = 0; L <= lmax; ++L) kernel += (2 * L + 1) * pl[static_cast<size_t>(L)];
    sum += d.weight * f(d.x, d.y, d.z) * kernel;
  }
  return sum / (4.0 * M_PI);
}

// Tracelessness residual of bin ir: the largest |A(l+2x) + A(l+2y) + A(l+2z)|
// over base triples whose three partners are stored.
inline double TraceResidual(const CCHArray &a, int ir) {
  double worst = 0.0;
  const int lmax = a.GetLMAX();
  for (int lx = 0; lx <= lmax - 2; ++lx)
    for (int ly = 0; lx + ly <= lmax - 2; ++ly)
      for (int lz = 0; lx + ly + lz <= lmax - 2; ++lz)
        if (a.ElementExists(lx + 2, ly, lz, ir) && a.ElementExists(lx, ly + 2, lz, ir) &&
            a.ElementExists(lx, ly, lz + 2, ir))
          worst = std::fmax(worst, std::fabs(a.GetElement(lx + 2, ly, lz, ir) + a.GetElement(lx, ly + 2, lz, ir) +
                                             a.GetElement(lx, ly, lz + 2, ir)));
  return worst;
}

}  // namespace testutil

#endif
