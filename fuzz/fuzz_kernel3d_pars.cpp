// The 3D-kernel parameter file (CKernelWF): the input is the file; a kernel it
// gives is filled with the free-boson |psi|^2 - 1 (tables of up to 2^18
// values, to keep every input fast) and must hold finite values.
#include <cmath>

#include "fuzz_common.h"
#include "kernel/kernelwf.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string pars = fuzz::FreshScratch() + "/kparameters.dat";
  fuzz::WriteFile(pars, std::string(reinterpret_cast<const char *>(data), size));
  fuzz::Run(true, [&] {
    CKernelWF kernel(pars);
    const double values = double(kernel.GetNQMAX()) * kernel.GetNRMAX() * (kernel.GetNCTHETA() + 1.0);
    if (values > double(1 << 18)) return;
    kernel.Calc_PureHBT();
    const int iq = kernel.GetNQMAX() - 1, ir = kernel.GetNRMAX() - 1;
    for (int ic = 0; ic <= kernel.GetNCTHETA(); ic += kernel.GetNCTHETA())
      if (!std::isfinite(kernel.GetPsiSquared(0, 0, ic)) || !std::isfinite(kernel.GetPsiSquared(iq, ir, ic)))
        fuzz::Finding("a free-boson 3D kernel value is not finite");
    const double q = kernel.GetNQMAX() * kernel.GetDELQ() * 0.7, r = kernel.GetNRMAX() * kernel.GetDELR() * 0.3;
    if (!std::isfinite(kernel.GetPsiSquared(q, r, 0.4))) fuzz::Finding("an interpolated 3D kernel value is not finite");
  });
  return 0;
}
