#include "config/fatal.h"

#include <gsl/gsl_errno.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

namespace femtokit {

namespace {

std::atomic<int> policy{static_cast<int>(FatalPolicy::Exit)};

bool InParallel() {
#ifdef _OPENMP
  return omp_in_parallel() != 0;
#else
  return false;
#endif
}

// The printed form ends with a newline, the thrown one does not.
std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

void SetFatalPolicy(FatalPolicy p) { policy.store(static_cast<int>(p)); }
FatalPolicy GetFatalPolicy() { return static_cast<FatalPolicy>(policy.load()); }

void Raise(const Error &error) {
  if (InParallel() || GetFatalPolicy() == FatalPolicy::Throw) throw error;
  std::string text = error.what();
  if (text.empty() || text.back() != '\n') text += '\n';
  Emit(Verbosity::Silent, text);
  std::fflush(stdout);
  std::exit(1);
}

void Fatal(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  Raise(Error(Trimmed(text)));
}

void FatalFile(const std::string &file, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  Raise(Error(Trimmed(text), file));
}

void ParallelErrors::Keep(std::exception_ptr e) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!first_) first_ = e;
  failed_.store(true);
}

void ParallelErrors::Rethrow() {
  if (!first_) return;
  std::exception_ptr e = first_;
  first_ = nullptr;
  failed_.store(false);
  try {
    std::rethrow_exception(e);
  } catch (const Error &error) {
    Raise(error);
  } catch (const std::exception &other) {
    Raise(Error(other.what()));
  }
}

void InitGSL() {
  static const bool done = [] {
    gsl_set_error_handler_off();
    return true;
  }();
  (void)done;
}

namespace {
// Every program that links the library uses Fatal, so this runs before main.
const bool gsl_handler_off = (InitGSL(), true);
}  // namespace

void MakeDirectory(const std::string &dirname) {
  std::error_code ec;
  std::filesystem::create_directories(dirname, ec);
  if (ec || !std::filesystem::is_directory(dirname))
    FatalFile(dirname, "Cannot create directory %s: %s\n", dirname.c_str(),
              ec ? ec.message().c_str() : "not a directory");
}

}  // namespace femtokit

