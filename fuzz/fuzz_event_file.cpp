// libFuzzer harness of the event-file reader (CSourceCalc_OSCAR::ReadR and the
// pair fill after it). The input is the whole file; its first line decides
// the format (default or OSCAR2013), so both readers are reached.
//
// Build (clang with libFuzzer), from the repository root:
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ \
//     -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
//     -DFEMTOKIT_BUILD_TESTS=OFF -DFEMTOKIT_BUILD_BENCH=OFF -DFEMTOKIT_BUILD_TOOLS=OFF
//   cmake --build build-fuzz --target femtokit
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fopenmp -I. fuzz/fuzz_event_file.cpp \
//     build-fuzz/libfemtokit.a -lgsl -lgslcblas -o build-fuzz/fuzz_event_file
//   build-fuzz/fuzz_event_file -max_total_time=60
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "source/sourcecalc_oscar.h"

namespace {

// Writes the input to this process's scratch file and returns its name.
std::string WriteInput(const uint8_t *data, size_t size, const char *prefix) {
  static const std::string name = "/tmp/femtokit_fuzz_event_file_" + std::to_string(getpid()) + ".txt";
  if (std::FILE *fp = std::fopen(name.c_str(), "wb")) {
    std::fputs(prefix, fp);
    if (size > 0) std::fwrite(data, 1, size, fp);
    std::fclose(fp);
  }
  return name;
}

}  // namespace

#ifndef FEMTOKIT_FUZZ_PREFIX
#define FEMTOKIT_FUZZ_PREFIX ""
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool once = [] {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetVerbosity(femtokit::Verbosity::Silent);
    return true;
  }();
  (void)once;
  const std::string file = WriteInput(data, size, FEMTOKIT_FUZZ_PREFIX);
  try {
    CSourceCalc_OSCAR source;
    source.SetIDs(211, 211);
    source.SetSPars(600, 1000, 0, 360, -10, 10);  // a wide window: most particles reach the pair fill
    parameter::set(source.spars, "OSCARfilename", file);
    parameter::set(source.spars, "NMAX", 2000);
    CCHArray A(4, 20, 1.0, true, true, true);
    source.CalcS(&A);
  } catch (const femtokit::Error &) {
  }
  return 0;
}
