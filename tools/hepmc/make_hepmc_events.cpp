// Writes an ASCII HepMC3 file of synthetic events whose emission source is
// known, to try the event-file source on HepMC input:
//
//   make_hepmc_events <output> [events particles seed]
//
// The events of make_oscar_events (pi+ from a Gaussian source Rx = Ry = 4,
// Rz = 5 fm, sigma_t = 3 fm/c, thermal momenta T = 120 MeV), in HepMC's
// units (GeV, mm), each pi+ with its own production vertex at its emission
// point, made by a particle of the collision vertex: for one pion in ten a
// decayed rho0 (status 2) beside a final-state K+, for the others a pi+ of
// status 11 (its last scattering); two beam protons (status 4) go in. A
// selection of final-state pi+ must take the emitted pions only. Defaults:
// 60 events of 100 pions, seed 2013 (data/hepmc/gauss_events.hepmc3).
#include <HepMC3/GenEvent.h>
#include <HepMC3/GenParticle.h>
#include <HepMC3/GenRunInfo.h>
#include <HepMC3/GenVertex.h>
#include <HepMC3/WriterAscii.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "config/constants.h"
#include "config/numberreader.h"
#include "math/random.h"

int main(int argc, char **argv) {
  if (argc != 2 && argc != 5) {
    std::fprintf(stderr, "usage: %s <output> [events particles seed]\n", argv[0]);
    return 2;
  }
  long long nev = 60, npart = 100, sd = 2013;
  if (argc > 2 && !(femtokit::ParseInteger(argv[2], nev) && nev > 0 && nev < 2147483647 &&
                    femtokit::ParseInteger(argv[3], npart) && npart > 0 && npart < 2147483647 &&
                    femtokit::ParseInteger(argv[4], sd) && sd > 0 && sd < 2147483647)) {
    std::fprintf(stderr, "%s: events, particles and seed must be positive integers\n", argv[0]);
    return 2;
  }
  const int nevents = static_cast<int>(nev), nparticles = static_cast<int>(npart), seed = static_cast<int>(sd);

  const double m = femtokit::constants::MPI / 1000.0, mmPerFm = 1.0e-12;
  auto run = std::make_shared<HepMC3::GenRunInfo>();
  run->tools().push_back({"femtokit make_hepmc_events", "1", "pi+ from a Gaussian source, thermal momenta"});
  HepMC3::WriterAscii out(argv[1], run);
  out.set_precision(6);
  CRandom rng(seed);
  for (int ev = 0; ev < nevents; ev++) {
    HepMC3::GenEvent event(HepMC3::Units::GEV, HepMC3::Units::MM);
    event.set_run_info(run);
    event.set_event_number(ev);
    auto collision = std::make_shared<HepMC3::GenVertex>();
    collision->add_particle_in(std::make_shared<HepMC3::GenParticle>(HepMC3::FourVector(0, 0, 100, 100.0044), 2212, 4));
    collision->add_particle_in(std::make_shared<HepMC3::GenParticle>(HepMC3::FourVector(0, 0, -100, 100.0044), 2212, 4));
    event.add_vertex(collision);
    for (int i = 0; i < nparticles; i++) {
      const double x = 4 * rng.gauss(), y = 4 * rng.gauss(), z = 5 * rng.gauss(), t = 3 * rng.gauss();
      double p[4];
      rng.generate_boltzmann(femtokit::constants::MPI, 120.0, p);
      auto vertex = std::make_shared<HepMC3::GenVertex>(HepMC3::FourVector(x * mmPerFm, y * mmPerFm, z * mmPerFm, t * mmPerFm));
      auto pion = std::make_shared<HepMC3::GenParticle>(
          HepMC3::FourVector(p[1] / 1000, p[2] / 1000, p[3] / 1000, p[0] / 1000), 211, 1);
      pion->set_generated_mass(m);
      if (i % 10 == 0) {  // from a decayed rho0 made at the collision; a K+ beside it
        auto rho = std::make_shared<HepMC3::GenParticle>(HepMC3::FourVector(0, 0, 0, 0.775), 113, 2);
        collision->add_particle_out(rho);
        vertex->add_particle_in(rho);
        collision->add_particle_out(std::make_shared<HepMC3::GenParticle>(HepMC3::FourVector(0.3, 0, 0, 0.58), 321, 1));
      } else {  // from a pi+ of the collision that scattered last here (status 11)
        auto parent = std::make_shared<HepMC3::GenParticle>(HepMC3::FourVector(0, 0, 0, 0.14), 211, 11);
        collision->add_particle_out(parent);
        vertex->add_particle_in(parent);
      }
      vertex->add_particle_out(pion);
      event.add_vertex(vertex);
    }
    out.write_event(event);
  }
  out.close();
  std::printf("wrote %d events of %d pi+ to %s\n", nevents, nparticles, argv[1]);
  return 0;
}
