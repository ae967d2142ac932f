// libFuzzer harness of the OSCAR2013 event-file reader: the input follows the
// OSCAR2013 header line, so every input reaches the OSCAR2013 body reader.
#define FEMTOKIT_FUZZ_PREFIX "#!OSCAR2013 particle_lists t x y z mass p0 px py pz pdg ID charge\n"
#include "fuzz_event_file.cpp"
