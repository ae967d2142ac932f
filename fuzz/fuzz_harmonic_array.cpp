// Cartesian-harmonic arrays: part 0 is the array parameter file, parts 1, 2, ...
// the files "lx%d_ly%d_lz%d.tmp" of a full-form data directory in loop order.
// The array is built from the parameter file and reads the directory.
#include <cmath>

#include "arrays/charray.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size);
  const std::string &dir = fuzz::FreshScratch();
  const std::string pars = dir + "/apars.dat";
  fuzz::WriteFile(pars, parts[0]);
  std::unique_ptr<CCHArray> a;
  if (!fuzz::Run(true, [&] { a = std::make_unique<CCHArray>(pars); })) return 0;
  size_t part = 1;
  a->ForEachTriple([&](int lx, int ly, int lz) {
    if (part < parts.size())
      fuzz::WriteFile(dir + "/lx" + std::to_string(lx) + "_ly" + std::to_string(ly) + "_lz" + std::to_string(lz) +
                          ".tmp",
                      parts[part++]);
  });
  if (!fuzz::Run(true, [&] { a->ReadAllA(dir); })) return 0;
  // Every value read is finite (tracelessness rebuilds lx >= 2 from them).
  for (int ir = 0; ir < a->GetNRADIAL(); ++ir)
    if (!std::isfinite(a->GetElement(0, 0, 0, ir))) fuzz::Finding("a value read is not finite");
  fuzz::Run(false, [&] {
    a->GetElement(0, 0, 0, -1.0);
    a->GetElement(0, 0, 0, 1.0e300);
    a->GetBiggest(0);
  });
  return 0;
}
