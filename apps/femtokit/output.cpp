// The library's output channel of the femtokit program (warnings folded per
// kind, held during a fit) and the program's exit status.
#include "apps/femtokit/cli.h"

#include "config/output.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace fkcli {

namespace {
int exitstatus = kExitOK;
// Warnings shown, by kind (the text with each number as '#'), with the first
// text and the repetitions not shown.
struct Folded {
  std::string first;
  int repeated = 0;
};
std::map<std::string, Folded> shownwarnings;
std::vector<std::string> shownorder;
int heldwarnings = 0;
bool holding = false;

std::string KindOf(const std::string &text) {
  std::string key;
  for (size_t i = 0; i < text.size(); i++) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
      key += text[i];
      continue;
    }
    while (i + 1 < text.size() && std::strchr("0123456789.eE+-", text[i + 1]) != nullptr) i++;
    key += '#';
  }
  return key;
}
}  // namespace

void SetExitStatus(int status) { exitstatus = status; }
int ExitStatus() { return exitstatus; }

void LibraryOutput(int level, const std::string &text) {
  std::string shown = text;
  if (level == static_cast<int>(femtokit::Verbosity::Quiet)) {
    if (holding) {
      heldwarnings++;
      return;
    }
    const std::string kind = KindOf(text);
    auto it = shownwarnings.find(kind);
    if (it != shownwarnings.end()) {
      it->second.repeated++;
      return;
    }
    shownorder.push_back(kind);
    // One prefix, "warning: ", whatever the library's text starts with.
    size_t start = 0;
    for (const char *prefix : {"warning:", "Warning:", "WARNING:"})
      if (text.compare(0, std::strlen(prefix), prefix) == 0) start = std::strlen(prefix);
    while (start < text.size() && text[start] == ' ') start++;
    shown = "warning: " + text.substr(start);
    shownwarnings[kind].first = text.substr(start);
  }
  if (Progress *bar = ActiveProgress()) bar->Clear();
  std::fputs(shown.c_str(), stderr);
}

void ReportFoldedWarnings() {
  for (const std::string &kind : shownorder) {
    const Folded &f = shownwarnings[kind];
    if (f.repeated == 0) continue;
    std::string first = f.first.substr(0, f.first.find('\n'));
    if (first.size() > 60) first = first.substr(0, 57) + "...";
    std::fprintf(stderr, "femtokit: %d more warning%s like \"%s\" (other numbers) not shown\n", f.repeated,
                 f.repeated == 1 ? "" : "s", first.c_str());
  }
}

HoldWarnings::HoldWarnings(const Common &common) : active_(!common.verbose && !holding) {
  if (active_) {
    holding = true;
    heldwarnings = 0;
  }
}

HoldWarnings::~HoldWarnings() { Release(); }

void HoldWarnings::Release() {
  if (active_) holding = false;
  active_ = false;
}

int HoldWarnings::Count() const { return heldwarnings; }

}  // namespace fkcli
