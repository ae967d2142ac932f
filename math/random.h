#ifndef FEMTOKIT_MATH_RANDOM_H
#define FEMTOKIT_MATH_RANDOM_H

#include <gsl/gsl_rng.h>

#include <memory>

// Pseudo-random numbers from GSL's RANLUX generator (ranlxd1), plus a polar
// Gaussian pair and a thermal four-momentum sampler. Owns its generator.
class CRandom {
 public:
  explicit CRandom(int seed);
  void reset(int seed);
  double ran();                          // uniform on [0,1)
  unsigned long iran(unsigned long imax);  // uniform in 0 .. imax-1
  double gauss();                        // unit normal
  void gauss2(double *g1, double *g2);   // two unit normals, polar method
  // Four-momentum p[0..3] = (E, px, py, pz) from exp(-E/T) at rest.
  void generate_boltzmann(double mass, double T, double *p);

 private:
  struct RngDeleter {
    void operator()(gsl_rng *r) const { gsl_rng_free(r); }
  };
  std::unique_ptr<gsl_rng, RngDeleter> randy;
};

#endif
