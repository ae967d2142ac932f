// Event files (CSourceCalc_OSCAR::ReadR and the pair fill after it): the input
// is the whole file; its first line decides the format (default or
// OSCAR2013), so both readers are reached. fuzz_event_file_oscar2013.cpp
// includes this file with a prefix that fixes the OSCAR2013 header.
#include "arrays/charray.h"
#include "config/parametermap.h"
#include "fuzz_common.h"
#include "source/sourcecalc_oscar.h"

#ifndef FEMTOKIT_FUZZ_PREFIX
#define FEMTOKIT_FUZZ_PREFIX ""
#endif

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string file = fuzz::FreshScratch() + "/events.txt";
  fuzz::WriteFile(file, FEMTOKIT_FUZZ_PREFIX + std::string(reinterpret_cast<const char *>(data), size));
  fuzz::Run(true, [&] {
    CSourceCalc_OSCAR source;
    source.SetIDs(211, 211);
    source.SetSPars(600, 1000, 0, 360, -10, 10);  // a wide window: most particles reach the pair fill
    parameter::set(source.spars, "OSCARfilename", file);
    parameter::set(source.spars, "NMAX", 2000);
    CCHArray A(4, 50, 4.0, true, true, true);  // to 200 fm: the seeds lose no pairs
    source.CalcS(&A);
  });
  return 0;
}
