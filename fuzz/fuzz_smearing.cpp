// libFuzzer harness of the momentum-smearing readers: the input's first byte
// picks what the rest is, a response matrix M(q_reco, q_true) (even) or a
// Gaussian resolution table "q sigma" (odd, 1d or 3d form), and the momentum
// units; what reads is then applied to a correlation function.
//
// Build (from the repository root):
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I. fuzz/fuzz_smearing.cpp \
//     config/*.cpp arrays/charray*.cpp arrays/chcalc.cpp math/random.cpp fit/qmatrix.cpp fit/smearing.cpp \
//     -lgsl -lgslcblas -o fuzz_smearing
//   ./fuzz_smearing -max_total_time=60
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "fit/smearing.h"

namespace {

std::string Directory() {
  static std::string dir = [] {
    char name[] = "/tmp/fuzz_smearing_XXXXXX";
    const char *made = mkdtemp(name);
    return std::string(made ? made : "/tmp");
  }();
  return dir;
}

void Write(const std::string &path, const uint8_t *data, size_t size) {
  if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool once = [] {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetVerbosity(femtokit::Verbosity::Silent);
    return true;
  }();
  (void)once;
  const uint8_t mode = size ? data[0] : 0;
  const std::string file = Directory() + "/input.dat", pars = Directory() + "/smearing.dat";
  Write(file, size ? data + 1 : data, size ? size - 1 : 0);
  static const char *units[] = {"q_MeV", "qinv_MeV", "kstar_GeV", "qinv_GeV"};
  const bool gaussian = mode & 1;
  std::string text = std::string("string UNITS ") + units[(mode >> 2) & 3] + "\n";
  if (gaussian)
    text +=
        "string MODE gaussian\nstring SIGMAFILE " + file + "\nstring GAUSSIANFORM " + ((mode & 2) ? "3d" : "1d") + "\n";
  else
    text += "string MATRIXFILE " + file + "\nstring MATRIXTYPE " + ((mode & 2) ? "counts" : "conditional") + "\n";
  Write(pars, reinterpret_cast<const uint8_t *>(text.data()), text.size());
  try {
    CMomentumSmearing sm(pars);
    if (gaussian) {
      CCHArray in(0, 40, 0.5), out(0, 10, 2.0);
      for (int j = 0; j < 40; ++j) in.SetElement(0, 0, 0, j, 1.0 / (j + 1));
      sm.Apply(&in, &out);
    } else {
      const CQMatrix &m = sm.GetMatrix();
      CCHArray in(0, m.GetNCols(), m.GetColStep()), out(0, m.GetNRows(), m.GetRowStep());
      for (int j = 0; j < m.GetNCols(); ++j) in.SetElement(0, 0, 0, j, 1.0 / (j + 1));
      sm.Apply(&in, &out);
    }
  } catch (const femtokit::Error &) {
  }
  return 0;
}
