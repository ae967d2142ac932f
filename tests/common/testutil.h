#ifndef FEMTOKIT_TESTS_TESTUTIL_H
#define FEMTOKIT_TESTS_TESTUTIL_H

// Helpers shared by the test executables: the fatal policy and verbosity set
// while an object lives, whole files written and read, and physical constants
// typed in independently of the library's.

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "config/fatal.h"
#include "config/output.h"

namespace testutil {

// hbar c in MeV fm; the proton mass in MeV.
constexpr double kHbarc = 197.3269602;
constexpr double kProtonMass = 938.271;

// Sommerfeld parameter of a proton pair at relative momentum q (MeV/c):
// the reduced mass uses the pair's energy, m_p sqrt(1 + (q/m_p)^2) / 2.
inline double ProtonPairEta(double q) {
  return std::sqrt(kProtonMass * kProtonMass + q * q) / (2.0 * 137.036 * q);
}

// Fatal errors throw femtokit::Error while an object lives.
struct ThrowPolicy {
  ThrowPolicy() { femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw); }
  ~ThrowPolicy() { femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit); }
  ThrowPolicy(const ThrowPolicy &) = delete;
  ThrowPolicy &operator=(const ThrowPolicy &) = delete;
};

// The library prints at `level` while an object lives, then at Normal again.
struct ScopedVerbosity {
  explicit ScopedVerbosity(femtokit::Verbosity level) { femtokit::SetVerbosity(level); }
  ~ScopedVerbosity() { femtokit::SetVerbosity(femtokit::Verbosity::Normal); }
  ScopedVerbosity(const ScopedVerbosity &) = delete;
  ScopedVerbosity &operator=(const ScopedVerbosity &) = delete;
};

// The library prints warnings only while an object lives.
struct QuietOutput : ScopedVerbosity {
  QuietOutput() : ScopedVerbosity(femtokit::Verbosity::Quiet) {}
};

// Writes text to path (byte for byte) and gives back the path.
inline std::string WriteText(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Writes text to dir/name and gives back that path.
inline std::string WriteTextIn(const std::string &dir, const std::string &name, const std::string &text) {
  return WriteText(dir + "/" + name, text);
}

// The whole content of a file (empty when it cannot be read).
inline std::string ReadText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace testutil

#endif
