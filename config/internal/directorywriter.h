#ifndef FEMTOKIT_CONFIG_INTERNAL_DIRECTORYWRITER_H
#define FEMTOKIT_CONFIG_INTERNAL_DIRECTORYWRITER_H

// The writer of data directories (internal: used by the library's writers).

#include <functional>
#include <string>

#include "config/fileio.h"

namespace femtokit {

// Writes a data directory as one step. The complete new directory is built
// beside the old one, under a fresh hidden name made with mkdir (never an
// existing entry, never through a link), its files created exclusively; Commit
// carries over the old directory's entries that are not the writer's own (by
// `owns`, given a file name without its directory) and swaps the new directory
// in with one atomic exchange of names, after which the old one is removed.
// A process stopped at any instant therefore leaves the old set or the new set
// under the directory's name, never a mix (the old set's stale files are not
// carried over, so a rewrite with fewer files leaves none behind); at most a
// hidden scratch directory beside it. A writer destroyed before Commit (an
// error part way, under the throwing policy) removes its scratch directory.
// Errors name the final file or the directory. A directory given through a
// symbolic link is replaced where the link points; the link stays. Refused:
// the current working directory or one that contains it.
class DirectoryWriter {
 public:
  using Owns = std::function<bool(const std::string &name)>;
  // Creates the parents when missing and the scratch directory; fatal when it cannot.
  DirectoryWriter(const std::string &dirname, Owns owns);
  DirectoryWriter(const DirectoryWriter &) = delete;
  DirectoryWriter &operator=(const DirectoryWriter &) = delete;
  ~DirectoryWriter();

  // Opens the scratch file that becomes `filename` (a path in the directory:
  // the directory as given, "/", a plain file name).
  FilePtr Open(const std::string &filename);
  // Checked close of a file from Open; fatal, naming `filename`, when the
  // write did not reach the disk.
  void Close(FilePtr file, const std::string &filename);
  // Writes a whole text file.
  void WriteText(const std::string &filename, const std::string &text);
  // Swaps the new directory in; fatal, naming the directory, when it cannot
  // (the old directory then stays as it was).
  void Commit();

 private:
  std::string Scratch(const std::string &filename) const;
  void CarryForeignEntries();
  std::string dirname_;  // as the caller gave it (messages)
  std::string target_;   // absolute, links resolved
  std::string scratch_;  // the new directory while it is built
  Owns owns_;
  bool committed_ = false;
};

// True when `name` matches `pattern`, in which '#' stands for one or more
// characters of [0-9.] and every other character for itself.
bool MatchesNumbered(const std::string &name, const std::string &pattern);

// Test hook: called before each step of a directory write with the step
// ("mkdir", "open", "close", "carry", "swap", "cleanup") and the path it acts
// on. A non-zero return is taken as that step's errno and makes it fail
// (at "cleanup" it is ignored, as a failed removal of the old set is). The
// hook may also end the process, to stand for a kill at that instant.
// An empty function removes the hook.
void SetDirectoryWriteHook(std::function<int(const char *step, const std::string &path)> hook);

}  // namespace femtokit

#endif
