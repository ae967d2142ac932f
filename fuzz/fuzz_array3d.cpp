// 3D arrays: part 0 is "3Darraypars.dat", parts 1, 2, ... the column files
// "ix%d_iy%d.tmp" in ix-major order. An array reads the directory, then every
// position lookup runs at positions of all signs, at cell edges and outside.
#include <cmath>
#include <limits>

#include "arrays/array3d.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size);
  const std::string &dir = fuzz::FreshScratch();
  fuzz::WriteFile(dir + "/3Darraypars.dat", parts[0]);
  // The column files are named for the shape the parameters give; read them first.
  C3DArray shape(1, 1.0, true, true, true);
  if (!fuzz::Run(true, [&] { shape.ReadPars(dir + "/3Darraypars.dat"); })) return 0;
  size_t part = 1;
  for (int ix = 0; ix < shape.GetNXMAX() && shape.GetNYMAX() > 0 && part < parts.size(); ix++)
    for (int iy = 0; iy < shape.GetNYMAX() && part < parts.size(); iy++)
      fuzz::WriteFile(dir + "/ix" + std::to_string(ix) + "_iy" + std::to_string(iy) + ".tmp", parts[part++]);

  C3DArray a(2, 1.0, false, true, false);
  if (!fuzz::Run(true, [&] { a.ReadArray(dir); })) return 0;
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const double xs[] = {0.0, -0.0, 0.3, -0.3, 1.0, -1.0, 2.5, -7.25, 1e-12, -1e-12, 1e300, -1e300, inf, -inf, nan};
  for (double x : xs)
    for (double y : {0.4, -0.6, x})
      for (double z : {x, -1.5}) {
        a.GetElement(x, y, z);
        a.SetElement(x, y, z, 1.0);
        a.IncrementElement(x, y, z, 0.5);
        a.GetElement_Interpolate(x, y, z);
        a.GetElement_Interpolate(y, z, x);
      }
  a.GetBiggest();
  return 0;
}
