#ifndef FEMTOKIT_TESTS_WRITEFAULT_H
#define FEMTOKIT_TESTS_WRITEFAULT_H

// Faults injected into the library's directory writes while an object lives.

#include <cerrno>
#include <cstring>
#include <string>

#include "config/fileio.h"
#include "config/internal/directorywriter.h"

// The write of the file named `name` (in any directory being written) does not
// reach the disk, as on a full device.
struct FullDiskFor {
  explicit FullDiskFor(const std::string &name) {
    femtokit::SetDirectoryWriteHook([name](const char *step, const std::string &path) {
      const bool hit = std::strcmp(step, "close") == 0 && path.size() >= name.size() + 1 &&
                       path.compare(path.size() - name.size() - 1, std::string::npos, "/" + name) == 0;
      return hit ? ENOSPC : 0;
    });
  }
  ~FullDiskFor() { femtokit::SetDirectoryWriteHook(nullptr); }
};

#endif
