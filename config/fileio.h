#ifndef FEMTOKIT_CONFIG_FILEIO_H
#define FEMTOKIT_CONFIG_FILEIO_H

// C streams that close themselves, and checked writing of one file.

#include <cstdio>
#include <memory>
#include <string>

namespace femtokit {

struct FileCloser {
  void operator()(FILE *f) const {
    if (f) std::fclose(f);
  }
};
// A C stream that closes itself.
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens a file for writing; fatal, naming the file, when it cannot.
FilePtr OpenForWriting(const std::string &filename);

// Flushes and closes a written file; a write that did not reach the file is fatal.
void CloseWritten(FilePtr file, const std::string &filename);

}  // namespace femtokit

#endif
