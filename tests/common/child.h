#ifndef FEMTOKIT_TESTS_CHILD_H
#define FEMTOKIT_TESTS_CHILD_H

#include <functional>
#include <string>

// Runs body in a forked child with standard output captured. The child exits
// with status 0 when body returns.
struct ChildResult {
  int status;          // exit status, or -1 when the child did not exit normally
  std::string output;  // everything the child wrote on standard output
};
ChildResult RunInChild(const std::function<void()> &body);

// A fresh scratch directory under the system temporary directory.
std::string ScratchDir(const std::string &name);

#endif
