#ifndef FEMTOKIT_CONFIG_FILEIO_H
#define FEMTOKIT_CONFIG_FILEIO_H

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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

// Writes the files of a data directory as one step: each file is written under
// a temporary name ("<name>.partial") and Commit() renames them all into place.
// A writer destroyed before Commit (an error part way, under the throwing
// policy) removes its temporary files, so the directory keeps what it held
// before and a later read never sees a half-written set. Errors name the
// final file.
class DirectoryWriter {
 public:
  // Creates the directory (and its parents) when missing; fatal when it cannot.
  explicit DirectoryWriter(const std::string &dirname);
  DirectoryWriter(const DirectoryWriter &) = delete;
  DirectoryWriter &operator=(const DirectoryWriter &) = delete;
  ~DirectoryWriter();

  // Opens the temporary file that becomes `filename` (a path in the directory).
  FilePtr Open(const std::string &filename);
  // Checked close of a file from Open; fatal, naming `filename`, when the
  // write did not reach the disk.
  void Close(FilePtr file, const std::string &filename);
  // Renames every closed file into place; fatal when a rename fails.
  void Commit();

 private:
  std::vector<std::string> written_;  // final names of closed files
  std::vector<std::string> open_;     // final names of files opened, not yet committed
};

}  // namespace femtokit

#endif
