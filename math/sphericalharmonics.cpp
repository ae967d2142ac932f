#include "math/sphericalharmonics.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sf_legendre.h>

#include <cmath>
#include <cstdlib>

#include "config/fatal.h"

namespace SpherHarmonics {

double legendre(int l, double ctheta) {
  if (l < 0) return 0.0;
  // Arguments a rounding step outside [-1, 1] come from cos(theta) computed as a ratio.
  if (std::fabs(ctheta) > 1.0 && std::fabs(ctheta) <= 1.0 + 1.0e-12) ctheta = std::copysign(1.0, ctheta);
  if (std::fabs(ctheta) <= 1.0) {
    femtokit::InitGSL();
    gsl_sf_result r;
    const int status = gsl_sf_legendre_Pl_e(l, ctheta, &r);
    return status == GSL_EUNDRFLW ? 0.0 : r.val;
  }
  // The polynomial itself outside [-1, 1], by Bonnet's recursion.
  double pm = 1.0, p = ctheta;
  if (l == 0) return pm;
  for (int k = 2; k <= l; ++k) {
    const double pk = ((2 * k - 1) * ctheta * p - (k - 1) * pm) / k;
    pm = p;
    p = pk;
  }
  return p;
}

std::complex<double> Ylm(int l, int m, double theta, double phi) {
  const int am = std::abs(m);
  if (l < 0 || am > l) return 0.0;
  double ct = std::cos(theta);
  if (ct > 1.0) ct = 1.0;
  if (ct < -1.0) ct = -1.0;
  femtokit::InitGSL();
  gsl_sf_result r;
  const int status = gsl_sf_legendre_sphPlm_e(l, am, ct, &r);
  double p = status == GSL_EUNDRFLW ? 0.0 : r.val;
  if (m < 0 && (am & 1)) p = -p;
  return {p * std::cos(m * phi), p * std::sin(m * phi)};
}

}  // namespace SpherHarmonics
