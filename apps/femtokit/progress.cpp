// The progress bar of the femtokit program.
#include "apps/femtokit/cli.h"

#include "config/numberreader.h"
#include "config/output.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace fkcli {

namespace {
std::atomic<Progress *> active{nullptr};
std::mutex progressmutex;

int TerminalWidth() {
  const char *columns = std::getenv("COLUMNS");
  long long w = 0;
  return columns && femtokit::ParseInteger(columns, w) && w >= 40 && w <= 10000 ? static_cast<int>(w) : 80;
}
}  // namespace

Progress *ActiveProgress() { return active.load(); }

bool ProgressWanted(const Common &common) {
  if (common.quiet) return false;
  const char *force = std::getenv("FEMTOKIT_PROGRESS");
  if (force && std::string(force) == "1") return true;
  return isatty(fileno(stderr)) != 0;
}

Progress::Progress(const std::string &label, int total, bool enabled)
    : label_(label), total_(total), enabled_(enabled && total > 0) {
  start_ = last_ = std::chrono::steady_clock::now();
  if (enabled_) {
    active.store(this);
    std::lock_guard<std::mutex> lock(progressmutex);
    std::fprintf(stderr, "%s\r", Render(label_, 0, total_, 0.0, TerminalWidth() - 1).c_str());
    std::fflush(stderr);
  }
}

Progress::~Progress() {
  Clear();
  if (active.load() == this) active.store(nullptr);
}

std::string Progress::Render(const std::string &label, int done, int total, double elapsed, int width) {
  const double fraction = total > 0 ? static_cast<double>(done) / total : 1.0;
  std::string tail = femtokit::Format(" %3d%%", static_cast<int>(std::floor(100.0 * fraction)));
  if (done > 0 && done < total) {
    const long left = std::lround(elapsed * (total - done) / done);
    tail += femtokit::Format("  %ld:%02ld left", left / 60, left % 60);
  } else if (done >= total) {
    tail += femtokit::Format("  %.1f s", elapsed);
  }
  int barwidth = width - static_cast<int>(label.size()) - static_cast<int>(tail.size()) - 3;
  if (barwidth > 40) barwidth = 40;
  if (barwidth < 5) barwidth = 5;
  const int filled = static_cast<int>(std::floor(fraction * barwidth));
  return label + " [" + std::string(filled, '#') + std::string(barwidth - filled, '.') + "]" + tail;
}

void Progress::Update(int done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(progressmutex);
  if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "\r%s\033[K", Render(label_, done, total_, elapsed, TerminalWidth() - 1).c_str());
  std::fflush(stderr);
}

void Progress::Clear() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(progressmutex);
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

}  // namespace fkcli
