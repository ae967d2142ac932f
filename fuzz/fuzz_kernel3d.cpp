// libFuzzer harness of the 3D-kernel directory reader (CKernelWF::Read). The
// kernel has two q bins (files q0002.50.tmp and q0007.50.tmp), 3 r bins and
// NCTHETA = 2; the input up to its first form feed ('\f') is the first file,
// the rest the second (absent when the input has no form feed).
//
// Build (clang with libFuzzer), from the repository root, after building
// build-fuzz/libfemtokit.a as described in fuzz/fuzz_event_file.cpp:
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fopenmp -I. fuzz/fuzz_kernel3d.cpp \
//     build-fuzz/libfemtokit.a -lgsl -lgslcblas -o build-fuzz/fuzz_kernel3d
//   build-fuzz/fuzz_kernel3d -max_total_time=60
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernelwf.h"

namespace {

void Write(const std::string &name, const uint8_t *data, size_t size) {
  if (std::FILE *fp = std::fopen(name.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, fp);
    std::fclose(fp);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string dir = "/tmp/femtokit_fuzz_kernel3d_" + std::to_string(getpid());
  static const std::string pars = [] {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetVerbosity(femtokit::Verbosity::Silent);
    std::filesystem::create_directories(dir);
    const std::string name = dir + "/kparameters.dat";
    if (std::FILE *fp = std::fopen(name.c_str(), "w")) {
      std::fputs("int NQMAX 2\nint NRMAX 3\nint NCTHETA 2\ndouble DELQ 5\ndouble DELR 1\nbool IDENTICAL 0\n", fp);
      std::fclose(fp);
    }
    return name;
  }();
  size_t split = 0;
  while (split < size && data[split] != '\f') split++;
  Write(dir + "/q0002.50.tmp", data, split);
  if (split < size)
    Write(dir + "/q0007.50.tmp", data + split + 1, size - split - 1);
  else
    std::filesystem::remove(dir + "/q0007.50.tmp");
  try {
    CKernelWF kernel(pars);
    kernel.Read(dir);
    // Whatever was read is finite.
    for (double q : {1.0, 4.0, 9.0})
      for (double r : {0.2, 1.5, 2.9})
        for (double c : {-1.0, 0.3, 1.0})
          if (!std::isfinite(kernel.GetPsiSquared(q, r, c))) __builtin_trap();
  } catch (const femtokit::Error &) {
  }
  return 0;
}
