#ifndef FEMTOKIT_KERNEL_KERNELCACHE_H
#define FEMTOKIT_KERNEL_KERNELCACHE_H

#include <memory>
#include <string>

#include "config/parametermap.h"

class CKernel;

namespace femtokit {

// The mesh of a pair kernel: nq q bins of dq MeV/c, nr r bins of dr fm, l <= lmax.
struct KernelMesh {
  int nq = 60;
  double dq = 2.0;
  int nr = 80;
  double dr = 0.5;
  int lmax = 4;
};

// The mesh of a kernel parameter map (NQMAX, DELQ, NRMAX, DELR, KLMAX; the
// defaults above for keys it lacks). Fails (fatal, naming `what`): a count
// below 1 (lmax below 0) or a width that is not finite and positive.
KernelMesh ReadKernelMesh(const parameterMap &pars, const std::string &what);

// The kernel of a pair by name (as MakeWaveFunction knows them; the shipped
// file pairs are built as "generic") from its wave-function parameter file,
// with the wave function built on the kernel's q mesh. meshtext, when given,
// receives the kernel parameter file of the mesh (with IDENTICAL). Fails
// (fatal) when the q mesh reaches beyond where the pair can be computed, and
// as the wave function and kernel fail.
std::unique_ptr<CKernel> ComputePairKernel(const std::string &pair, const std::string &wfparsfile,
                                           const KernelMesh &mesh, std::string *meshtext = nullptr);

// The directory kernels are cached in: FEMTOKIT_CACHE when set, else
// $XDG_CACHE_HOME/femtokit/kernels, else $HOME/.cache/femtokit/kernels.
// Fails (fatal) when none of these variables is set.
std::string DefaultKernelCacheDir();

// ComputePairKernel through a cache: one directory per pair and mesh under
// cachedir, named <pair>-<hash of the inputs>, holding the kernel files, its
// mesh file and the full text of the inputs (the parsed wave-function
// parameters, the content of the files they name in the parameter file's
// directory, the mesh and the cache revision). An entry is current when its
// input text equals the present one; then it is read, else the kernel is
// computed and the entry written in one step (an interrupted write leaves the
// old entry or none). `computed`, when given, says which happened. Fails
// (fatal, naming the file) for a cache that cannot be written or an entry that
// cannot be read.
std::unique_ptr<CKernel> CachedPairKernel(const std::string &pair, const std::string &wfparsfile,
                                          const KernelMesh &mesh, const std::string &cachedir,
                                          bool *computed = nullptr);

}  // namespace femtokit

#endif
