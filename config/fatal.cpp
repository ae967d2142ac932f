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

#include "config/fileio.h"

namespace femtokit {

FilePtr OpenForWriting(const std::string &filename) {
  FilePtr file(std::fopen(filename.c_str(), "w"));
  if (!file) Fatal("Cannot open %s for writing\n", filename.c_str());
  return file;
}

void CloseWritten(FilePtr file, const std::string &filename) {
  const bool failed = std::ferror(file.get()) != 0;
  if (std::fclose(file.release()) != 0 || failed) Fatal("Error writing %s\n", filename.c_str());
}

}  // namespace femtokit
