#include "config/fatal.h"

#include <gsl/gsl_errno.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace femtokit {

void Fatal(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
  std::exit(1);
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
    Fatal("Cannot create directory %s: %s\n", dirname.c_str(), ec ? ec.message().c_str() : "not a directory");
}

}  // namespace femtokit
