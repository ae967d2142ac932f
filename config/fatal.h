#ifndef FEMTOKIT_CONFIG_FATAL_H
#define FEMTOKIT_CONFIG_FATAL_H

#include <string>

namespace femtokit {

// Prints a printf-formatted message on standard output and ends the process
// with exit status 1. Every fatal inconsistency of the library goes through here.
[[noreturn]] void Fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Turns GSL's aborting error handler off once per process. The library calls it
// wherever it uses GSL; callers never need to.
void InitGSL();

// Creates a directory and its parents (like "mkdir -p"); fatal when it cannot.
void MakeDirectory(const std::string &dirname);

}  // namespace femtokit

#endif
