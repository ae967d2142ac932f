// The proton-proton wave function built on a q mesh: part 0 holds extra
// wave-function parameter lines (EPSILON, STRONG, ...), part 1 the q-mesh
// file. The mesh is kept to at most kMaxPoints points so that every input
// builds quickly. |psi|^2 is then evaluated on and between the mesh points;
// at mesh points of at least kCheckedQ it must be finite and non-negative.
#include <cmath>

#include "config/numberreader.h"
#include "fuzz_common.h"
#include "wavefunction/wavefunction_pp.h"

namespace {

constexpr long long kMaxPoints = 3;
// Below 1 MeV/c the radial solution is a separate open matter (small-q
// accuracy); lower this to CWaveFunction::QMIN once it is settled.
constexpr double kCheckedQ = CWaveFunction::QMIN;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size);
  if (parts.size() < 2 || parts[0].find("QARRAYFILENAME") != std::string::npos ||
      parts[0].find("DELQ") != std::string::npos)
    return 0;
  // A tiny mesh only: the count is the first word of the mesh file.
  const size_t begin = parts[1].find_first_not_of(" \t\r\n\v\f");
  const size_t end = parts[1].find_first_of(" \t\r\n\v\f", begin);
  long long count;
  if (begin != std::string::npos &&
      femtokit::ParseInteger(parts[1].substr(begin, end == std::string::npos ? end : end - begin), count) &&
      count > kMaxPoints)
    return 0;
  const std::string &dir = fuzz::FreshScratch();
  const std::string pars = dir + "/wfparameters.dat", mesh = dir + "/qmesh.dat";
  // The mesh always comes from the file.
  fuzz::WriteFile(pars, "double DELQ -1\nstring QARRAYFILENAME " + mesh + "\n" + parts[0]);
  fuzz::WriteFile(mesh, parts[1]);
  std::unique_ptr<CWaveFunction_pp> wf;
  // The mesh reader's errors name their file (fuzz_qmesh checks it); the pair's
  // own setting checks (EPSILON) need not.
  if (!fuzz::Run(false, [&] { wf = std::make_unique<CWaveFunction_pp>(pars); })) return 0;
  for (int iq = 0; iq < wf->GetNQMAX(); iq++) {
    const double q = wf->GetQ(iq);
    for (double r : {0.05, 1.0, 3.0, 8.95, 9.5, 30.0, 70.0})
      for (double c : {-1.0, 0.0, 0.7, 1.0}) {
        const double p = wf->CalcPsiSquared(iq, r, c);
        if (q >= kCheckedQ && !(std::isfinite(p) && p >= -1e-9))
          fuzz::Finding(femtokit::Format("|psi|^2 = %g at q = %g, r = %g, cos = %g", p, q, r, c));
        fuzz::Run(false, [&] { wf->GetPsiSquared(q * 1.01, r, c); });
      }
  }
  return 0;
}
