// Tabulated potentials of the generic pair (femtokit::LocalPotential, form
// "table"): the input is the file of rows "r V". A table that reads must give
// a finite V at every r, 0 beyond its end and a finite range.
#include <cmath>

#include "fuzz_common.h"
#include "wavefunction/potential.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &dir = fuzz::FreshScratch();
  const std::string table = dir + "/potential.dat";
  fuzz::WriteFile(table, std::string(reinterpret_cast<const char *>(data), size));
  fuzz::Run(true, [&] {
    const femtokit::LocalPotential v = femtokit::LocalPotential::FromTableFile(table);
    const double range = v.Range(1e-7);
    if (!std::isfinite(range) || range < 0.0) fuzz::Finding("a table that reads has no finite range");
    for (double r : {0.0, 1e-3, 0.5, 1.0, 2.5, 10.0, 100.0, 1e6})
      if (!std::isfinite(v(r))) fuzz::Finding("V(r) of a table that reads is not finite");
    if (v(range * 1.0001 + 1e-9) != 0.0) fuzz::Finding("V(r) of a table is not 0 beyond its last row");
  });
  return 0;
}
