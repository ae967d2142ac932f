#include "source/species.h"

#include "config/constants.h"
#include "config/output.h"

namespace femtokit {

namespace {

// Particles; antiparticles are the negative codes (with "anti-" or the
// opposite charge in the name) unless the particle is its own.
struct Entry {
  int pdg;
  double mass;
  const char *name, *antiname;  // antiname nullptr: self-conjugate
};

const Entry kTable[] = {
    {11, 0.51099895, "e-", "e+"},
    {13, 105.6583755, "mu-", "mu+"},
    {111, 134.9768, "pi0", nullptr},
    {211, constants::MPI, "pi+", "pi-"},
    {221, 547.862, "eta", nullptr},
    {113, 775.26, "rho0", nullptr},
    {213, 775.11, "rho+", "rho-"},
    {223, 782.66, "omega", nullptr},
    {331, 957.78, "eta'", nullptr},
    {333, 1019.461, "phi", nullptr},
    {321, constants::MKAON, "K+", "K-"},
    {311, 497.611, "K0", "anti-K0"},
    {310, 497.611, "K0S", nullptr},
    {130, 497.611, "K0L", nullptr},
    {313, 895.55, "K*0", "anti-K*0"},
    {323, 891.67, "K*+", "K*-"},
    {411, 1869.66, "D+", "D-"},
    {421, 1864.84, "D0", "anti-D0"},
    {2212, constants::MPROTON_SOURCE, "p", "anti-p"},
    {2112, constants::MNEUTRON, "n", "anti-n"},
    {3122, 1115.683, "Lambda", "anti-Lambda"},
    {3222, 1189.37, "Sigma+", "anti-Sigma+"},
    {3212, 1192.642, "Sigma0", "anti-Sigma0"},
    {3112, 1197.449, "Sigma-", "anti-Sigma-"},
    {3322, 1314.86, "Xi0", "anti-Xi0"},
    {3312, 1321.71, "Xi-", "anti-Xi-"},
    {3334, 1672.45, "Omega-", "anti-Omega-"},
    {2224, 1232.0, "Delta++", "anti-Delta++"},
    {4122, 2286.46, "Lambda_c+", "anti-Lambda_c+"},
    {1000010020, 1875.613, "d", "anti-d"},
    {1000010030, 2808.921, "t", "anti-t"},
    {1000020030, 2808.391, "He3", "anti-He3"},
    {1000020040, 3727.379, "alpha", "anti-alpha"},
};

// Both signs, built once.
struct Table {
  Species list[2 * sizeof(kTable) / sizeof(kTable[0])];
  int n = 0;
  Table() {
    for (const Entry &e : kTable) {
      list[n++] = {e.pdg, e.mass, e.name};
      if (e.antiname) list[n++] = {-e.pdg, e.mass, e.antiname};
    }
  }
};

}  // namespace

const Species *FindSpecies(int pdg) {
  static const Table table;
  for (int i = 0; i < table.n; i++)
    if (table.list[i].pdg == pdg) return &table.list[i];
  return nullptr;
}

double SpeciesMass(int pdg) {
  const Species *s = FindSpecies(pdg);
  return s ? s->mass : 0.0;
}

std::string SpeciesName(int pdg) {
  const Species *s = FindSpecies(pdg);
  return s ? Format("%s (%d)", s->name, pdg) : Format("code %d", pdg);
}

}  // namespace femtokit
