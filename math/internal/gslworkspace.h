#ifndef FEMTOKIT_MATH_INTERNAL_GSLWORKSPACE_H
#define FEMTOKIT_MATH_INTERNAL_GSLWORKSPACE_H

#include <gsl/gsl_integration.h>

#include <cstddef>
#include <memory>

namespace femtokit {

struct IntegrationWorkspaceFree {
  void operator()(gsl_integration_workspace *w) const { gsl_integration_workspace_free(w); }
};

// An owned GSL integration workspace of n intervals.
using IntegrationWorkspace = std::unique_ptr<gsl_integration_workspace, IntegrationWorkspaceFree>;
inline IntegrationWorkspace MakeIntegrationWorkspace(std::size_t n) {
  return IntegrationWorkspace(gsl_integration_workspace_alloc(n));
}

}  // namespace femtokit

#endif
