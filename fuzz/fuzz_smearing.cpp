// Momentum-smearing readers: the input's first byte picks what the rest is, a
// response matrix M(q_reco, q_true) (even) or a Gaussian resolution table
// "q sigma" (odd, 1d or 3d form), and the momentum units; what reads is then
// applied to a correlation function.
#include "arrays/charray.h"
#include "fit/smearing.h"
#include "fuzz_common.h"

#include <memory>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const uint8_t mode = size ? data[0] : 0;
  const std::string &dir = fuzz::FreshScratch();
  const std::string file = dir + "/input.dat", pars = dir + "/smearing.dat";
  fuzz::WriteFile(file, size ? std::string(reinterpret_cast<const char *>(data) + 1, size - 1) : std::string());
  static const char *units[] = {"q_MeV", "qinv_MeV", "kstar_GeV", "qinv_GeV"};
  const bool gaussian = mode & 1;
  std::string text = std::string("string UNITS ") + units[(mode >> 2) & 3] + "\n";
  if (gaussian)
    text +=
        "string MODE gaussian\nstring SIGMAFILE " + file + "\nstring GAUSSIANFORM " + ((mode & 2) ? "3d" : "1d") + "\n";
  else
    text += "string MATRIXFILE " + file + "\nstring MATRIXTYPE " + ((mode & 2) ? "counts" : "conditional") + "\n";
  fuzz::WriteFile(pars, text);
  std::unique_ptr<CMomentumSmearing> sm;
  if (!fuzz::Run(true, [&] { sm = std::make_unique<CMomentumSmearing>(pars); })) return 0;
  fuzz::Run(false, [&] {
    // On the true mesh the reader gave (a matrix), or on one of its own.
    const bool matrix = !gaussian;
    const int nin = matrix ? sm->GetMatrix().GetNCols() : 40, nout = matrix ? sm->GetMatrix().GetNRows() : 10;
    const double din = matrix ? sm->GetMatrix().GetColStep() : 0.5, dout = matrix ? sm->GetMatrix().GetRowStep() : 2.0;
    CCHArray in(0, nin, din), out(0, nout, dout);
    for (int j = 0; j < nin; ++j) in.SetElement(0, 0, 0, j, 1.0 / (j + 1));
    sm->Apply(&in, &out);
  });
  return 0;
}
