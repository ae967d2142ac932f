#ifndef FEMTOKIT_WAVEFUNCTION_INTERNAL_IMPOSEDMESH_H
#define FEMTOKIT_WAVEFUNCTION_INTERNAL_IMPOSEDMESH_H

// A q mesh imposed on the wave functions built on this thread while the object
// lives (internal: used by femtokit::MakeWaveFunction with a mesh).

#include "config/parametermap.h"

namespace femtokit {
namespace internal {

// CWaveFunction::ParsInit takes NQMAX = nq and DELQ = dq (bin centres
// (i + 1/2) dq) in place of the parameter file's mesh, and ignores its
// QARRAYFILENAME. Scoped; nests.
class ImposedQMesh {
 public:
  ImposedQMesh(int nq, double dq);
  ~ImposedQMesh();
  ImposedQMesh(const ImposedQMesh &) = delete;
  ImposedQMesh &operator=(const ImposedQMesh &) = delete;

 private:
  parameterMap mesh_;
  const parameterMap *previous_;
};

}  // namespace internal
}  // namespace femtokit

#endif
