// Wave-function settings and q meshes: part 0 holds wave-function parameter
// lines (DELQ, NQMAX, ...), part 1 the q-mesh file. The parameter file names
// the mesh file first, so a negative DELQ reads it; a part 0 that names a
// mesh file of its own is skipped (it could name any file). The base wave
// function then answers |psi|^2 = 1 by interpolation across the mesh.
#include <cmath>

#include "fuzz_common.h"
#include "wavefunction/wavefunction.h"

namespace {

struct MeshOnly : CWaveFunction {
  explicit MeshOnly(const std::string &pars) { ParsInit(pars); }
  const std::vector<double> &Mesh() const { return qarray; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size);
  if (parts[0].find("QARRAYFILENAME") != std::string::npos) return 0;
  const std::string &dir = fuzz::FreshScratch();
  const std::string pars = dir + "/wfparameters.dat", mesh = dir + "/qmesh.dat";
  fuzz::WriteFile(pars, "string QARRAYFILENAME " + mesh + "\n" + parts[0]);
  if (parts.size() > 1) fuzz::WriteFile(mesh, parts[1]);
  std::unique_ptr<MeshOnly> wf;
  if (!fuzz::Run(true, [&] { wf = std::make_unique<MeshOnly>(pars); })) return 0;
  // What the reader accepts is a mesh the wave functions support.
  const std::vector<double> &q = wf->Mesh();
  if (q.empty() || int(q.size()) != wf->GetNQMAX()) fuzz::Finding("mesh size differs from NQMAX");
  for (size_t i = 0; i < q.size(); i++) {
    if (!(q[i] >= CWaveFunction::QMIN && q[i] <= CWaveFunction::QMAX)) fuzz::Finding("mesh point outside the range");
    if (i > 0 && !(q[i] > q[i - 1])) fuzz::Finding("mesh not strictly increasing");
  }
  for (double x : {0.0, 0.5, 1.0, 1.5})
    for (size_t i = 0; i < q.size() && i < 8; i++)
      if (!(std::fabs(wf->GetPsiSquared(q[i] * x, 2.0, 0.5) - 1.0) < 1e-12))  // blends of 1 round
        fuzz::Finding("base wave function is not 1");
  return 0;
}
