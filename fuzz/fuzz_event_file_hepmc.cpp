// libFuzzer harness of HepMC3 event files (read through the HepMC3 library):
// the input follows the two HepMC3 header lines. In a build without HepMC3
// every such file is refused by name, and the harness runs nothing.
#ifdef FEMTOKIT_HAVE_HEPMC3
#define FEMTOKIT_FUZZ_PREFIX "HepMC::Version 3.01.02\nHepMC::Asciiv3-START_EVENT_LISTING\n"
#include "fuzz_event_file.cpp"
#else
#include "fuzz_common.h"
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }
#endif
