#ifndef FEMTOKIT_SOURCE_SPECIES_H
#define FEMTOKIT_SOURCE_SPECIES_H

#include <string>

namespace femtokit {

// A particle species by its PDG Monte Carlo code, with its mass (MeV) and
// name. The table holds the common hadrons (light mesons, nucleons,
// hyperons, charm hadrons; antiparticles by the negative code), the light
// nuclei, electrons and muons; pi+- and p keep the masses
// the source models always used (139.58 and 938.28 MeV).
struct Species {
  int pdg;
  double mass;
  const char *name;
};

// The species of a code; nullptr for a code the table does not hold.
const Species *FindSpecies(int pdg);
// Its mass, or 0 for an unknown code.
double SpeciesMass(int pdg);
// "pi+ (211)" or "code 12345" for an unknown one.
std::string SpeciesName(int pdg);

}  // namespace femtokit

#endif
