#ifndef FEMTOKIT_CONFIG_OUTPUT_H
#define FEMTOKIT_CONFIG_OUTPUT_H

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

namespace femtokit {

// How much the library prints. Every text carries the level from which on it
// is shown: progress lines, parameter echoes and results at Normal, warnings
// at Quiet, fatal messages at Silent (always).
enum class Verbosity { Silent = 0, Quiet = 1, Normal = 2 };

// Process-wide level; Normal (today's texts) by default.
void SetVerbosity(Verbosity level);
Verbosity GetVerbosity();

// Where the texts go. The callable receives each text with its level, after
// the level filter; a null callable (or a null FILE*) restores standard output.
// Calls are serialised, so the callable need not be thread safe.
using OutputFunction = std::function<void(Verbosity, const std::string &)>;
void SetOutput(OutputFunction sink);
void SetOutput(std::FILE *stream);

// printf-style output through the channel: Print at Normal, Warn at Quiet.
void Print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Warn(const char *format, ...) __attribute__((format(printf, 1, 2)));
// A preformatted text at a given level.
void Emit(Verbosity level, const std::string &text);

// True when a text of this level would be shown (lets callers skip building
// costly printouts).
bool Shows(Verbosity level);

// printf into a std::string.
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormat(const char *format, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace femtokit

#endif
