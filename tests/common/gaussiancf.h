#ifndef FEMTOKIT_TESTS_GAUSSIANCF_H
#define FEMTOKIT_TESTS_GAUSSIANCF_H

#include <cmath>

#include "kernel/kernel.h"

namespace testutil {

// C(q) - 1 = sum_r 4 pi r^2 dr S(r) K_0(q, r) at q bin iq, on the kernel's r
// mesh, for the Gaussian source S(r) = exp(-r^2/4R^2)/(4 pi R^2)^(3/2).
inline double GaussianCF(const CKernel &kernel, int iq, double R) {
  double c = 0.0;
  for (int ir = 0; ir < kernel.GetNRMAX(); ir++) {
    const double r = (ir + 0.5) * kernel.GetDELR();
    c += 4 * M_PI * r * r * kernel.GetDELR() * std::exp(-r * r / (4 * R * R)) * kernel.GetValue(0, iq, ir);
  }
  return c * std::pow(4 * M_PI * R * R, -1.5);
}

}  // namespace testutil

#endif
