// Phase-shift tables of the generic pair (CWaveFunction_generic): the input is
// the table "q delta ddelta/dq" of the one S-wave channel of a proton-Lambda
// like pair on a fixed q mesh of three points, 5 ... 25 MeV/c. A table that
// reads must give a finite |psi|^2.
#include <cmath>

#include "fuzz_common.h"
#include "wavefunction/wavefunction_generic.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &dir = fuzz::FreshScratch();
  const std::string pars = dir + "/wfparameters.dat";
  fuzz::WriteFile(pars,
                  "int NQMAX 3\ndouble DELQ 10\ndouble M1 938.272\ndouble M2 1115.683\ndouble SPIN1 0.5\n"
                  "double SPIN2 0.5\nint NCHANNELS 1\ndouble CHANNEL0_S 0\nstring CHANNEL0_PHASEFILE phases.dat\n");
  fuzz::WriteFile(dir + "/phases.dat", std::string(reinterpret_cast<const char *>(data), size));
  fuzz::Run(true, [&] {
    CWaveFunction_generic wf(pars);
    for (int iq = 0; iq < wf.GetNQMAX(); iq++)
      for (double r : {0.1, 1.0, 7.5})
        for (double c : {-1.0, 0.2, 1.0})
          if (!std::isfinite(wf.CalcPsiSquared(iq, r, c)))
            fuzz::Finding("|psi|^2 from a phase-shift table that reads is not finite");
  });
  return 0;
}
