#include "math/random.h"

#include "config/fatal.h"

#include <gsl/gsl_randist.h>

#include <cmath>

CRandom::CRandom(int seed) : randy(gsl_rng_alloc(gsl_rng_ranlxd1)) {
  femtokit::InitGSL();
  // A negative seed is reduced modulo 2^32 by the conversion to unsigned long.
  gsl_rng_set(randy.get(), static_cast<unsigned long>(static_cast<unsigned int>(seed)));
}

void CRandom::reset(int seed) {
  gsl_rng_set(randy.get(), static_cast<unsigned long>(static_cast<unsigned int>(seed)));
}

double CRandom::ran() { return gsl_rng_uniform(randy.get()); }

unsigned long CRandom::iran(unsigned long imax) { return gsl_rng_uniform_int(randy.get(), imax); }

double CRandom::gauss() { return gsl_ran_ugaussian(randy.get()); }

void CRandom::gauss2(double *g1, double *g2) {
  double x, y, s;
  do {
    x = 1.0 - 2.0 * ran();
    y = 1.0 - 2.0 * ran();
    s = x * x + y * y;
  } while (s > 1.0 || s == 0.0);  // s = 0 would give log(0)
  const double r = std::sqrt(s);
  const double f = std::sqrt(-2.0 * std::log(s));
  *g1 = (x / r) * f;
  *g2 = (y / r) * f;
}

void CRandom::generate_boltzmann(double mass, double T, double *p) {
  if (T / mass <= 0.08) {
    const double sigma = std::sqrt(mass * T);
    gauss2(&p[1], &p[2]);
    p[1] *= sigma;
    p[2] *= sigma;
    p[3] = sigma * gauss();
    p[0] = std::sqrt(mass * mass + p[1] * p[1] + p[2] * p[2] + p[3] * p[3]);
    return;
  }
  double r1, r2, r3, k, E;
  do {
    r1 = ran();
    r2 = ran();
    r3 = ran();
    k = -T * std::log(r1 * r2 * r3);
    E = std::sqrt(mass * mass + k * k);
    p[0] = E;
  } while (r1 * r2 * r3 == 0.0 || ran() > std::exp((k - E) / T));  // a zero draw would give k = infinity
  const double ctheta = std::log(r1 / r2) / std::log(r1 * r2);
  const double stheta = std::sqrt(1.0 - ctheta * ctheta);
  const double lnr12 = T * std::log(r1 * r2);
  const double f = lnr12 * lnr12 / (k * k);
  if (f > 1.0) femtokit::Fatal("phi=%g, out of range\n", f);
  const double phi = 2.0 * M_PI * f;
  p[3] = k * ctheta;
  p[1] = k * stheta * std::cos(phi);
  p[2] = k * stheta * std::sin(phi);
}
