// Writes an OSCAR2013 particle-list file of synthetic events whose emission
// source is known, to try the event-file source (CSourceCalc_OSCAR) on.
//
//   make_oscar_events <output> [events particles Rx Ry Rz t0 sigma_t T seed]
//
// Every particle is a pi+ (pdg 211) emitted independently of all others:
// position x, y, z Gaussian with standard deviations Rx, Ry, Rz (fm) about the
// origin, emission time Gaussian with mean t0 and deviation sigma_t (fm/c),
// and a thermal momentum (relativistic Boltzmann, temperature T in MeV, at
// rest in the collision frame; CRandom::generate_boltzmann), independent of
// the position. Defaults: 100 events of 100 particles, Rx = Ry = 4,
// Rz = 5 fm, t0 = 0, sigma_t = 3 fm/c, T = 120 MeV, seed 2013; this is the
// shipped data/oscar/gauss_events.oscar.
//
// Expected radii of CSourceCalc_OSCAR on such a file (identical pi+, pair
// momentum Pt, single-particle momentum pa = Pt/2, energy Ea, pair velocity
// v = pa/Ea, gamma = Ea/m), for a rapidity window close to y = 0:
//   Rside = Rx (= Ry),
//   Rlong^2 = <cosh^2 y> Rz^2 + <sinh^2 y> (sigma_t^2 + t0^2) - <sinh y>^2 t0^2,
//   Rout^2  = gamma^2 (Rx^2 + v^2 (<cosh^2 y> sigma_t^2 + <sinh^2 y> Rz^2 + Var(cosh y) t0^2)),
// the averages over the selected rapidities (for |y| < 0.3, <sinh^2 y> = 0.030);
// the spread of the selected transverse velocities about v adds a little to
// Rout. The program prints these for the y -> 0 limit and the shipped window.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/constants.h"
#include "config/numberreader.h"
#include "math/random.h"

int main(int argc, char **argv) {
  if (argc != 2 && argc != 11) {
    std::fprintf(stderr, "usage: %s <output> [events particles Rx Ry Rz t0 sigma_t T seed]\n", argv[0]);
    return 2;
  }
  long long nev = 100, npart = 100, sd = 2013;
  double Rx = 4.0, Ry = 4.0, Rz = 5.0, t0 = 0.0, sigmat = 3.0, T = 120.0;
  if (argc > 2) {
    bool ok = femtokit::ParseInteger(argv[2], nev) && nev > 0 && nev < 2147483647 && femtokit::ParseInteger(argv[3], npart) &&
              npart > 0 && npart < 2147483647 && femtokit::ParseInteger(argv[10], sd) && sd > 0 && sd < 2147483647;
    double *values[] = {&Rx, &Ry, &Rz, &t0, &sigmat, &T};
    for (int i = 0; i < 6; i++) ok = ok && femtokit::ParseNumber(argv[4 + i], *values[i]);
    if (!ok || !(Rx > 0 && Ry > 0 && Rz > 0 && sigmat >= 0 && T > 0)) {
      std::fprintf(stderr, "%s: events, particles and seed must be positive integers, Rx Ry Rz T positive "
                   "numbers, t0 a number and sigma_t >= 0\n", argv[0]);
      return 2;
    }
  }
  const int nevents = static_cast<int>(nev), nparticles = static_cast<int>(npart), seed = static_cast<int>(sd);
  const double m = femtokit::constants::MPI;

  std::FILE *out = std::fopen(argv[1], "w");
  if (!out) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::fprintf(out, "#!OSCAR2013 particle_lists t x y z mass p0 px py pz pdg ID charge\n");
  std::fprintf(out, "# Units: fm fm fm fm GeV GeV GeV GeV GeV none none e\n");
  std::fprintf(out,
               "# femtokit make_oscar_events: pi+ from a Gaussian source Rx=%g Ry=%g Rz=%g fm, t0=%g sigma_t=%g "
               "fm/c, thermal momenta T=%g MeV, seed %d\n",
               Rx, Ry, Rz, t0, sigmat, T, seed);
  CRandom rng(seed);
  for (int ev = 0; ev < nevents; ev++) {
    std::fprintf(out, "# event %d out %d\n", ev, nparticles);
    for (int i = 0; i < nparticles; i++) {
      const double x = Rx * rng.gauss(), y = Ry * rng.gauss(), z = Rz * rng.gauss(), t = t0 + sigmat * rng.gauss();
      double p[4];
      rng.generate_boltzmann(m, T, p);
      std::fprintf(out, "%.4f %.4f %.4f %.4f %.5f %.6f %.6f %.6f %.6f 211 %d 1\n", t, x, y, z, m / 1000, p[0] / 1000,
                   p[1] / 1000, p[2] / 1000, p[3] / 1000, ev * nparticles + i);
    }
    std::fprintf(out, "# event %d end 0 impact   0.000\n", ev);
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "error writing %s\n", argv[1]);
    return 1;
  }
  // Expected radii at y -> 0 for pairs of momentum Pt = 400 MeV/c.
  const double pa = 200.0, Ea = std::sqrt(m * m + pa * pa), v = pa / Ea, gamma = Ea / m;
  std::printf("wrote %d events of %d pi+ to %s\n", nevents, nparticles, argv[1]);
  std::printf("expected at y -> 0, Pt = 400 MeV/c: Rout=%g, Rside=%g, Rlong=%g fm\n",
              gamma * std::sqrt(Rx * Rx + v * v * sigmat * sigmat), Rx, Rz);
  return 0;
}
