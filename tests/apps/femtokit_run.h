#ifndef FEMTOKIT_TESTS_APPS_FEMTOKIT_RUN_H
#define FEMTOKIT_TESTS_APPS_FEMTOKIT_RUN_H

// The femtokit program run as a user runs it, from the tests of its paths.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "common/child.h"
#include "common/testutil.h"

#ifdef FEMTOKIT_CLI

namespace femtokitrun {

// Exit status (-1: did not exit normally) and what the program wrote.
struct Outcome {
  int status;
  std::string out, err;
};

// The program's argument vector: its path, then args (which must outlive it).
inline std::vector<char *> Argv(std::vector<std::string> &args) {
  std::vector<char *> argv = {const_cast<char *>(FEMTOKIT_CLI)};
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs femtokit with args in dir (standard output and error to files, so
// neither is a terminal), with extra environment variables.
inline Outcome Femtokit(std::vector<std::string> args, const std::string &dir = ".",
                        const std::vector<std::pair<std::string, std::string>> &env = {}) {
  static int count = 0;
  const std::string base = ScratchDir("femtokit_io") + "/" + std::to_string(count++);
  std::vector<char *> argv = Argv(args);
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    for (const auto &e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
    const int out = open((base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execv(FEMTOKIT_CLI, argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, testutil::ReadText(base + ".out"),
          testutil::ReadText(base + ".err")};
}

}  // namespace femtokitrun

#endif  // FEMTOKIT_CLI

#endif
