#include "kernel/kernelcache.h"

#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction.h"
#include "wavefunction/wavefunction_pairs.h"

namespace fs = std::filesystem;

namespace femtokit {

namespace {

// Raised whenever the kernel or wave-function code changes what a cached
// kernel would hold, so that older entries are no longer current.
constexpr int kCacheRevision = 1;

std::string FileText(const std::string &name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::uint64_t Fnv1a(const std::string &text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// The wave function's name for a pair: the shipped file pairs are generic.
std::string WaveFunctionPair(const std::string &pair) {
  for (const std::string &n : FilePairNames())
    if (n == pair) return "generic";
  return pair;
}

std::string MeshText(const KernelMesh &m, bool identical) {
  return Format("int NQMAX %d\ndouble DELQ %.17g\nint NRMAX %d\ndouble DELR %.17g\nint KLMAX %d\nbool IDENTICAL %d\n",
                m.nq, m.dq, m.nr, m.dr, m.lmax, identical ? 1 : 0);
}

// Everything a kernel depends on, as text: the revision, the pair, the mesh,
// the wave-function parameters as read (sorted, comments dropped) and the
// content of every file in the parameter file's directory that a parameter
// names (phase-shift tables, potentials).
std::string InputText(const std::string &pair, const std::string &wfparsfile, const KernelMesh &mesh) {
  parameterMap wf;
  parameter::ReadParsFromFile(wf, wfparsfile);
  std::string text = Format("femtokit kernel cache revision %d\npair %s\n", kCacheRevision, pair.c_str());
  text += MeshText(mesh, false);
  text += "--- wave-function parameters\n";
  const fs::path dir = fs::path(wfparsfile).parent_path();
  std::map<std::string, std::string> named;
  for (const auto &kv : wf) {
    text += kv.first + " " + kv.second + "\n";
    std::istringstream words(kv.second);
    std::string word;
    while (words >> word) {
      std::error_code ec;
      const fs::path file = dir / word;
      if (fs::is_regular_file(file, ec)) named[word] = FileText(file.string());
    }
  }
  for (const auto &kv : named) text += "--- file " + kv.first + "\n" + kv.second + "\n";
  return text;
}

}  // namespace

KernelMesh ReadKernelMesh(const parameterMap &pars, const std::string &what) {
  KernelMesh m;
  m.nq = parameter::getI(pars, "NQMAX", m.nq);
  m.dq = parameter::getD(pars, "DELQ", m.dq);
  m.nr = parameter::getI(pars, "NRMAX", m.nr);
  m.dr = parameter::getD(pars, "DELR", m.dr);
  m.lmax = parameter::getI(pars, "KLMAX", m.lmax);
  if (m.nq < 1 || m.nr < 1 || m.lmax < 0 || !std::isfinite(m.dq) || !(m.dq > 0.0) || !std::isfinite(m.dr) ||
      !(m.dr > 0.0))
    Fatal("%s: expected a kernel mesh of positive sizes, got NQMAX %d, DELQ %g MeV/c, NRMAX %d, DELR %g fm, "
          "KLMAX %d\n", what.c_str(), m.nq, m.dq, m.nr, m.dr, m.lmax);
  return m;
}

std::unique_ptr<CKernel> ComputePairKernel(const std::string &pair, const std::string &wfparsfile,
                                           const KernelMesh &mesh, std::string *meshtext) {
  const std::string wfpair = WaveFunctionPair(pair);
  double qlo, qhi;
  PairQRange(wfpair, wfparsfile, qlo, qhi);
  if (mesh.nq > CWaveFunction::MAXNQ || 0.5 * mesh.dq < qlo || (mesh.nq - 0.5) * mesh.dq > qhi)
    Fatal("the kernel's q mesh (%d bins of %g MeV/c, centres %g ... %g MeV/c) reaches beyond the pair %s: its wave "
          "function holds at most %d points from q = %g to %g MeV/c\n",
          mesh.nq, mesh.dq, 0.5 * mesh.dq, (mesh.nq - 0.5) * mesh.dq, pair.c_str(), CWaveFunction::MAXNQ, qlo, qhi);
  std::unique_ptr<CWaveFunction> wf = MakeWaveFunction(wfpair, wfparsfile, mesh.nq, mesh.dq);
  const std::string text = MeshText(mesh, PairIsIdentical(wfpair, *wf));
  // The kernel reads its mesh from a file: one in a fresh private directory.
  std::string scratch = (fs::temp_directory_path() / "femtokit-kernel-XXXXXX").string();
  if (::mkdtemp(&scratch[0]) == nullptr) FatalFile(scratch, "cannot create a scratch directory %s\n", scratch.c_str());
  std::unique_ptr<CKernel> kernel;
  try {
    const std::string file = scratch + "/kparameters.dat";
    std::ofstream(file) << text;
    kernel = std::make_unique<CKernel>(file);
  } catch (...) {
    std::error_code ec;
    fs::remove_all(scratch, ec);
    throw;
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
  kernel->Calc(wf.get());
  if (meshtext) *meshtext = text;
  return kernel;
}

std::string DefaultKernelCacheDir() {
  const char *own = std::getenv("FEMTOKIT_CACHE");
  if (own && *own) return own;
  const char *xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && *xdg) return (fs::path(xdg) / "femtokit" / "kernels").string();
  const char *home = std::getenv("HOME");
  if (home && *home) return (fs::path(home) / ".cache" / "femtokit" / "kernels").string();
  Fatal("no directory for cached kernels: set FEMTOKIT_CACHE (or XDG_CACHE_HOME or HOME)\n");
  return std::string();
}

std::unique_ptr<CKernel> CachedPairKernel(const std::string &pair, const std::string &wfparsfile,
                                          const KernelMesh &mesh, const std::string &cachedir, bool *computed) {
  const std::string inputs = InputText(pair, wfparsfile, mesh);
  const std::string dir = (fs::path(cachedir) / Format("%s-%016llx", pair.c_str(),
                                                       static_cast<unsigned long long>(Fnv1a(inputs))))
                              .string();
  const std::string keyfile = dir + "/inputs.txt", meshfile = dir + "/kparameters.dat";
  std::error_code ec;
  if (fs::is_regular_file(keyfile, ec) && fs::is_regular_file(meshfile, ec) && FileText(keyfile) == inputs) {
    auto kernel = std::make_unique<CKernel>(meshfile);
    kernel->Read(dir);
    if (computed) *computed = false;
    return kernel;
  }
  std::string meshtext;
  std::unique_ptr<CKernel> kernel = ComputePairKernel(pair, wfparsfile, mesh, &meshtext);
  fs::create_directories(cachedir, ec);
  if (ec) FatalFile(cachedir, "cannot create the kernel cache directory %s (%s)\n", cachedir.c_str(), ec.message().c_str());
  kernel->Write(dir, {{"kparameters.dat", meshtext}, {"inputs.txt", inputs}});
  if (computed) *computed = true;
  return kernel;
}

}  // namespace femtokit
