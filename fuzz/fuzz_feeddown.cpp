// libFuzzer harness of the feed-down reader: the input is a transformation
// matrix file T(q_daughter, q_parent); its first byte also picks the matrix
// type, pair density and momentum units of the parameter file. A matrix that
// reads is then applied to a parent correlation on its own meshes.
//
// Build (from the repository root):
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I. fuzz/fuzz_feeddown.cpp \
//     config/*.cpp arrays/charray*.cpp arrays/chcalc.cpp math/random.cpp fit/qmatrix.cpp fit/feeddown.cpp \
//     -lgsl -lgslcblas -o fuzz_feeddown
//   ./fuzz_feeddown -max_total_time=60
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "fit/feeddown.h"
#include "fit/qmatrix.h"

namespace {

std::string Directory() {
  static std::string dir = [] {
    char name[] = "/tmp/fuzz_feeddown_XXXXXX";
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
  const std::string matrix = Directory() + "/matrix.dat", pars = Directory() + "/feeddown.dat";
  Write(matrix, size ? data + 1 : data, size ? size - 1 : 0);
  static const char *units[] = {"q_MeV", "qinv_MeV", "kstar_GeV", "qinv_GeV"};
  const std::string text = std::string("double lambdaGen 0.5\nint NRESIDUALS 2\n") +
                           "string RESIDUAL0_NAME pL\nstring RESIDUAL0_TYPE matrix\nstring RESIDUAL0_MATRIX " + matrix +
                           "\ndouble lambda_pL 0.25\nstring RESIDUAL1_NAME flat\nstring RESIDUAL1_TYPE flat\n" +
                           "string REMAINDER flat\nstring MATRIXTYPE " + ((mode & 1) ? "counts" : "conditional") +
                           "\nstring PAIRDENSITY " + ((mode & 2) ? "flat" : "phasespace") + "\nstring UNITS " +
                           units[(mode >> 2) & 3] + "\n";
  Write(pars, reinterpret_cast<const uint8_t *>(text.data()), text.size());
  try {
    CFeedDown fd(pars);
    CQMatrix t;
    t.Read(matrix, QMesh::MomentumUnitFactor(units[(mode >> 2) & 3], pars),
           (mode & 1) ? CQMatrix::Type::Counts : CQMatrix::Type::Conditional, 1e-3);
    CCHArray parent(0, t.GetNCols(), t.GetColStep()), gen(0, t.GetNRows(), t.GetRowStep()),
        out(0, t.GetNRows(), t.GetRowStep());
    for (int j = 0; j < t.GetNCols(); ++j) parent.SetElement(0, 0, 0, j, 1.0 / (j + 1));
    fd.SetParentCorrelation("pL", &parent);
    fd.Apply(&gen, &out);
  } catch (const femtokit::Error &) {
  }
  return 0;
}
