#include "config/output.h"

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <utility>
#include <vector>

namespace femtokit {

namespace {

std::atomic<int> verbosity{static_cast<int>(Verbosity::Normal)};

struct Channel {
  std::mutex mutex;
  OutputFunction sink;           // empty: write to stream
  std::FILE *stream = nullptr;   // null: standard output
};

Channel &TheChannel() {
  static Channel channel;
  return channel;
}

}  // namespace

std::string VFormat(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), static_cast<size_t>(n));
}

void SetVerbosity(Verbosity level) { verbosity.store(static_cast<int>(level)); }
Verbosity GetVerbosity() { return static_cast<Verbosity>(verbosity.load()); }
bool Shows(Verbosity level) { return static_cast<int>(level) <= verbosity.load(std::memory_order_relaxed); }

void SetOutput(OutputFunction sink) {
  Channel &c = TheChannel();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.sink = std::move(sink);
  c.stream = nullptr;
}

void SetOutput(std::FILE *stream) {
  Channel &c = TheChannel();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.sink = nullptr;
  c.stream = stream;
}

void Emit(Verbosity level, const std::string &text) {
  if (!Shows(level)) return;
  Channel &c = TheChannel();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.sink) {
    c.sink(level, text);
    return;
  }
  std::FILE *out = c.stream ? c.stream : stdout;
  std::fwrite(text.data(), 1, text.size(), out);
  if (level == Verbosity::Silent) std::fflush(out);
}

std::string Format(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

void Print(const char *format, ...) {
  if (!Shows(Verbosity::Normal)) return;
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  Emit(Verbosity::Normal, text);
}

void Warn(const char *format, ...) {
  if (!Shows(Verbosity::Quiet)) return;
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  Emit(Verbosity::Quiet, text);
}

}  // namespace femtokit
