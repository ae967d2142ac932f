#ifndef FEMTOKIT_TESTS_BADINPUT_H
#define FEMTOKIT_TESTS_BADINPUT_H

// Helpers of the bad-input regression tests: errors are thrown (and the policy
// restored afterwards), output is captured, and every refusal must name its
// file, carry the expected words and come within a second.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/testutil.h"
#include "config/fatal.h"
#include "config/output.h"

namespace badinput {

// Fatal errors throw while an object lives; output goes into `text`.
struct Guard {
  std::string text;
  Guard() {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetOutput([this](femtokit::Verbosity, const std::string &t) { text += t; });
  }
  ~Guard() {
    femtokit::SetOutput(static_cast<std::FILE *>(nullptr));
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
  }
  bool Printed(const std::string &part) const { return text.find(part) != std::string::npos; }
};

using testutil::WriteText;

// body must throw a femtokit::Error about `file` whose message holds every part, within a second.
inline void ExpectRefused(const std::function<void()> &body, const std::string &file,
                          const std::vector<std::string> &parts) {
  const auto start = std::chrono::steady_clock::now();
  try {
    body();
    ADD_FAILURE() << "no error; expected one about " << file;
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(e.file(), file) << e.what();
    for (const std::string &part : parts)
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << "'" << part << "' not in: " << e.what();
  }
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0) << file;
}

}  // namespace badinput

#endif
