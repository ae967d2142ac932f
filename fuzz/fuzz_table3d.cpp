// 3D correlation tables (femtokit::ReadTable3D): the input is the table file.
// What the reader accepts holds finite values on a mesh of the header's
// binning, errors >= 0 (0 where no row was given), and writes back to a table
// that reads the same.
#include <cmath>

#include "arrays/array3d.h"
#include "fit/table3d.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size);
  const std::string &dir = fuzz::FreshScratch();
  const std::string file = dir + "/table.dat";
  fuzz::WriteFile(file, parts[0]);
  femtokit::Table3D t;
  if (!fuzz::Run(true, [&] { t = femtokit::ReadTable3D(file); })) return 0;
  if (!t.cf || !t.error || t.rows < 1) fuzz::Finding("accepted table without cells");
  const std::array<int, 6> s = t.cf->AllocatedShape();
  std::size_t n = 1;
  for (int v : s) n *= static_cast<std::size_t>(v);
  long given = 0;
  for (std::size_t i = 0; i < n; i++) {
    const double c = t.cf->Data()[i], e = t.error->Data()[i];
    if (!std::isfinite(c) || !std::isfinite(e) || e < 0.0) fuzz::Finding("non-finite value or negative error");
    if (e > 0.0) given++;
  }
  if (given > t.rows) fuzz::Finding("more cells with an error than rows");
  const std::string again = dir + "/again.dat";
  femtokit::Table3D u;
  if (!fuzz::Run(false, [&] {
        femtokit::WriteTable3D(again, *t.cf, t.error.get(), t.frame, t.gammaT, {});
        u = femtokit::ReadTable3D(again);
      }))
    fuzz::Finding("a written table is refused");
  if (u.rows != t.rows || u.frame != t.frame) fuzz::Finding("written table reads differently");
  return 0;
}
