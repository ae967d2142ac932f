// Kernel directories: part 0 is the kernel parameter file, parts 1, 2, ... the
// files "ell%d_q%07.2f.tmp" in reading order (l outer, q inner). The kernel
// reads the directory and answers lookups inside and outside its mesh.
#include <cmath>

#include "fuzz_common.h"
#include "kernel/kernel.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size);
  const std::string &dir = fuzz::FreshScratch();
  const std::string pars = dir + "/kparameters.dat";
  fuzz::WriteFile(pars, parts[0]);
  std::unique_ptr<CKernel> k;
  if (!fuzz::Run(true, [&] { k = std::make_unique<CKernel>(pars); })) return 0;
  const int step = k->GetIDENTICAL() ? 2 : 1;
  size_t part = 1;
  for (int ell = 0; ell <= k->GetLMAX() && part < parts.size(); ell += step)
    for (int iq = 0; iq < k->GetNQMAX() && part < parts.size(); iq++) {
      fuzz::WriteFile(femtokit::Format("%s/ell%d_q%07.2f.tmp", dir.c_str(), ell, (iq + 0.5) * k->GetDELQ()),
                      parts[part++]);
    }
  if (!fuzz::Run(true, [&] { k->Read(dir); })) return 0;
  const double qmax = k->GetDELQ() * k->GetNQMAX(), rmax = k->GetDELR() * k->GetNRMAX();
  fuzz::Run(false, [&] {
    for (double fq : {-0.5, 0.0, 0.3, 0.5, 1.0, 1.5})
      for (double fr : {-0.5, 0.0, 0.25, 1.0, 2.0}) {
        const double q = fq * qmax, r = fr * rmax;
        for (int ell = 0; ell <= k->GetLMAX() && ell <= 4; ell++) k->GetValue(ell, q, r);
        k->GetPsiSquared(q, r, 0.3);
        k->GetPsiSquared(int(fq * k->GetNQMAX()), r, -1.0);
        k->GetPsiSquared(int(fq * k->GetNQMAX()), int(fr * k->GetNRMAX()), 1.0);
      }
  });
  return 0;
}
