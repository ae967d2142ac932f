// Shared by the libFuzzer harnesses: one process runs many inputs, so errors
// throw (FatalPolicy::Throw) and are caught per input; the library prints at
// Quiet level into a sink that drops the text; tables built from an input are
// held to a small memory budget so that every input runs fast.
//
// A harness input that stands for several files (a parameter file and a data
// directory) is split at lines "@@": part 0, part 1, ... Parts are written
// into a scratch directory that is emptied before every input.
#ifndef FEMTOKIT_FUZZ_COMMON_H
#define FEMTOKIT_FUZZ_COMMON_H

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"

namespace fuzz {

// Separator of the parts of an input: a line "@@".
inline const std::string kSeparator = "\n@@\n";

// Budget of one table under fuzzing.
constexpr std::uint64_t kFuzzMemoryBudget = std::uint64_t(32) << 20;

// The scratch directory as the harnesses name it: "." (the process works
// inside it), so that file names, and with them the messages and the code
// paths an input takes, are the same in every run of the same inputs.
inline std::string &ScratchPath() {
  static std::string path;
  return path;
}

// Its absolute name, for removal at exit.
inline std::string &ScratchAbsolute() {
  static std::string path;
  return path;
}

inline void RemoveScratch() {
  std::error_code ec;
  if (!ScratchAbsolute().empty()) std::filesystem::remove_all(ScratchAbsolute(), ec);
}

// The seed check (seed_check.cpp, the harness built as a plain program) counts
// what the readers say of an input: refusals and warnings while a file is
// read (within Run(true, ...)). A seed must give neither, or the harness would
// never reach past its reader's first check.
struct Verdicts {
  bool counting = false, reading = false;
  int refusals = 0, warnings = 0;
  std::string last;  // the last message
};
inline Verdicts &SeedVerdicts() {
  static Verdicts v;
  return v;
}

// Process set-up: policy, output, budget and a fresh scratch directory, which
// becomes the working directory (not in the parent of -jobs=N, which runs no
// inputs and writes its jobs' logs where it was started).
inline void Setup(int argc, char **argv) {
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  femtokit::SetOutput([](femtokit::Verbosity level, const std::string &text) {
    Verdicts &v = SeedVerdicts();
    if (!v.counting || !v.reading || level != femtokit::Verbosity::Quiet) return;
    v.warnings++;
    v.last = text;
  });
  femtokit::SetMemoryBudget(kFuzzMemoryBudget);
  // A memory file system keeps the per-input file writes cheap.
  const char *tmp = std::getenv("TMPDIR");
  std::error_code ec;
  const std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp");
  std::string pattern = base + "/femtokit_fuzz_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  ScratchAbsolute() = buffer.data();
  std::atexit(RemoveScratch);
  for (int i = 1; i < argc; i++)
    if (std::strncmp(argv[i], "-jobs=", 6) == 0) {
      ScratchPath() = ScratchAbsolute();
      return;
    }
  // Corpus, artifact and dictionary paths given to libFuzzer must be absolute.
  if (chdir(buffer.data()) != 0) {
    std::perror("chdir");
    std::abort();
  }
  ScratchPath() = ".";
}

// Files written for the current input.
inline std::vector<std::string> &Written() {
  static std::vector<std::string> written;
  return written;
}

// Scratch files of the current input that could not be written. Such an
// input is skipped: a failure of the harness's own set-up (a file name the
// file system refuses, a full disk) is a harness problem, never a finding.
inline int &WriteFailures() {
  static int failures = 0;
  return failures;
}

// Removes the previous input's files and returns the scratch directory.
inline const std::string &FreshScratch() {
  WriteFailures() = 0;
  for (const std::string &path : Written()) std::remove(path.c_str());
  Written().clear();
  return ScratchPath();
}

inline std::vector<std::string> SplitParts(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(kSeparator, start);
    if (at == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + kSeparator.size();
  }
}

inline void WriteFile(const std::string &path, const std::string &bytes) {
  Written().push_back(path);
  FILE *f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr;
  if (f) {
    if (!bytes.empty()) ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
  }
  if (!ok) {
    static int reported = 0;
    if (reported++ < 10)
      std::fprintf(stderr, "HARNESS PROBLEM (not a finding, input skipped): cannot write scratch file %.200s: %s\n",
                   path.c_str(), std::strerror(errno));
    WriteFailures()++;
  }
}

// A finding that is not a crash: prints and aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void Finding(const std::string &what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

// Runs body and returns true when it completed; false without running it when
// a scratch file of this input could not be written. An error of the library's
// error path is an expected outcome (false); while reading files it must name
// the file (namesFile). Anything else escapes and is a finding: an uncaught
// exception aborts the process.
template <class F>
bool Run(bool namesFile, F &&body) {
  if (WriteFailures() > 0) return false;
  struct Reading {
    bool was;
    explicit Reading(bool now) : was(SeedVerdicts().reading) { SeedVerdicts().reading = now; }
    ~Reading() { SeedVerdicts().reading = was; }
  } reading(namesFile);
  try {
    body();
    return true;
  } catch (const femtokit::Error &e) {
    if (namesFile && e.file().empty()) Finding(std::string("error names no file: ") + e.what());
    if (SeedVerdicts().counting && namesFile) {
      SeedVerdicts().refusals++;
      SeedVerdicts().last = e.what();
    }
    return false;
  }
}

}  // namespace fuzz

#endif
