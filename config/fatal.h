#ifndef FEMTOKIT_CONFIG_FATAL_H
#define FEMTOKIT_CONFIG_FATAL_H

#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

#include "config/output.h"

namespace femtokit {

// A fatal inconsistency reported to a caller that chose FatalPolicy::Throw.
// what() is the whole message (as printed under the default policy, without
// the final newline); file() names the file it is about, or is empty.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string &message, const std::string &file = std::string())
      : std::runtime_error(message), file_(file) {}
  const std::string &file() const { return file_; }

 private:
  std::string file_;
};

// What a fatal inconsistency does. Exit (the default): its message goes out
// through the output channel (standard output unless redirected) and the
// process ends with status 1. Throw: a femtokit::Error is thrown and nothing
// is printed. Process-wide.
enum class FatalPolicy { Exit, Throw };
void SetFatalPolicy(FatalPolicy policy);
FatalPolicy GetFatalPolicy();

// The library's one error path: a printf-formatted message, handled by the
// policy. Inside an OpenMP parallel region it always throws, for the region's
// guard (ParallelErrors) to carry out of the region.
[[noreturn]] void Fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The same for an error about a file; the message should name it.
[[noreturn]] void FatalFile(const std::string &file, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// Raises an already built error through the policy.
[[noreturn]] void Raise(const Error &error);

// Collects the first error raised inside an OpenMP region so that it leaves
// the region in order:
//   femtokit::ParallelErrors errors;
//   #pragma omp parallel for
//   for (...) errors.Run([&] { ... });
//   errors.Rethrow();   // after the region: through the policy
// Once an error is kept, the remaining bodies are skipped.
class ParallelErrors {
 public:
  template <class F>
  void Run(F &&body) noexcept {
    if (failed()) return;
    try {
      body();
    } catch (...) {
      Keep(std::current_exception());
    }
  }
  bool failed() const { return failed_.load(std::memory_order_relaxed); }
  void Rethrow();

 private:
  void Keep(std::exception_ptr e) noexcept;
  std::mutex mutex_;
  std::exception_ptr first_;
  std::atomic<bool> failed_{false};
};

// Turns GSL's aborting error handler off once per process. The library calls it
// wherever it uses GSL; callers never need to. It also runs at start-up, in
// every program that links the library: GSL's handler is one process-wide
// pointer, so the embedding program's GSL calls return status codes too (the
// library checks every status itself). A handler the program installs later
// also receives the library's GSL failures.
void InitGSL();

// Creates a directory and its parents (like "mkdir -p"); fatal when it cannot.
void MakeDirectory(const std::string &dirname);

}  // namespace femtokit

#endif
