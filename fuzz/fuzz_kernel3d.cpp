// 3D-kernel directories (CKernelWF::Read). The kernel has two q bins (files
// q0002.50.tmp and q0007.50.tmp), 3 r bins and NCTHETA = 2; the input up to its
// first form feed ('\f') is the first file, the rest the second (absent when
// the input has no form feed). Whatever reads must give finite values.
#include <cmath>

#include "fuzz_common.h"
#include "kernel/kernelwf.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &dir = fuzz::FreshScratch();
  const std::string pars = dir + "/kparameters.dat";
  fuzz::WriteFile(pars, "int NQMAX 2\nint NRMAX 3\nint NCTHETA 2\ndouble DELQ 5\ndouble DELR 1\nbool IDENTICAL 0\n");
  const std::string text(reinterpret_cast<const char *>(data), size);
  const size_t split = text.find('\f');
  fuzz::WriteFile(dir + "/q0002.50.tmp", text.substr(0, split));
  if (split != std::string::npos) fuzz::WriteFile(dir + "/q0007.50.tmp", text.substr(split + 1));
  fuzz::Run(true, [&] {
    CKernelWF kernel(pars);
    kernel.Read(dir);
    for (double q : {1.0, 4.0, 9.0})
      for (double r : {0.2, 1.5, 2.9})
        for (double c : {-1.0, 0.3, 1.0})
          if (!std::isfinite(kernel.GetPsiSquared(q, r, c))) fuzz::Finding("a 3D kernel value read is not finite");
  });
  return 0;
}
