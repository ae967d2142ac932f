// HepMC event files (ASCII HepMC3, and HepMC2 ASCII through HepMC3's reader)
// for the event-file source; builds with HepMC3 only.
#ifndef FEMTOKIT_SOURCE_INTERNAL_HEPMCREADER_H
#define FEMTOKIT_SOURCE_INTERNAL_HEPMCREADER_H

#include <functional>
#include <string>

namespace femtokit {

// The HepMC format a file's first lines announce: 3 (Asciiv3), 2
// (IO_GenEvent), or 0 for none (the file is read as it is, compressed or not).
int HepMCVersion(const std::string &filename);

// A particle as the event-file source takes it: momenta and energy in MeV,
// emission point (the production vertex) in fm and fm/c.
struct HepMCParticle {
  long long pdg;
  double px, py, pz, E, x, y, z, t;
  int event;  // from 1
};

// Reads up to neventsmax events and calls take for every particle of status
// `status` whose code is one of the two; every event is converted from its
// own units (GeV or MeV, mm or cm) first. Returns the number of complete
// events. An event the library cannot read ends the reading with a warning
// naming the file and the event; a particle of the status without a
// production vertex is skipped, and counted in one warning.
int ReadHepMC(const std::string &filename, int version, int neventsmax, int status, long long ida, long long idb,
              const std::function<void(const HepMCParticle &)> &take);

}  // namespace femtokit

#endif
