#include "config/fileio.h"
#include "config/internal/directorywriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "config/fatal.h"

namespace fs = std::filesystem;

namespace femtokit {

FilePtr OpenForWriting(const std::string &filename) {
  FilePtr file(std::fopen(filename.c_str(), "w"));
  if (!file) FatalFile(filename, "Cannot open %s for writing\n", filename.c_str());
  return file;
}

void CloseWritten(FilePtr file, const std::string &filename) {
  const bool failed = std::ferror(file.get()) != 0;
  if (std::fclose(file.release()) != 0 || failed) FatalFile(filename, "Error writing %s\n", filename.c_str());
}

bool MatchesNumbered(const std::string &name, const std::string &pattern) {
  // Backtracking over the runs of '#': the patterns have few of them.
  std::function<bool(size_t, size_t)> match = [&](size_t n, size_t p) -> bool {
    if (p == pattern.size()) return n == name.size();
    if (pattern[p] != '#') return n < name.size() && name[n] == pattern[p] && match(n + 1, p + 1);
    size_t end = n;
    while (end < name.size() && (std::isdigit(static_cast<unsigned char>(name[end])) || name[end] == '.')) ++end;
    for (size_t k = end; k > n; --k)
      if (match(k, p + 1)) return true;
    return false;
  };
  return match(0, 0);
}

namespace {

std::mutex hook_mutex;
std::function<int(const char *, const std::string &)> write_hook;

// The injected errno of a step, 0 when it may run.
int Hook(const char *step, const std::string &path) {
  std::function<int(const char *, const std::string &)> hook;
  {
    std::lock_guard<std::mutex> lock(hook_mutex);
    hook = write_hook;
  }
  return hook ? hook(step, path) : 0;
}

std::string ErrnoText(int e) { return std::error_code(e, std::generic_category()).message(); }

// Exchanges two existing paths atomically (renameat2 RENAME_EXCHANGE); -1 with
// errno EINVAL or ENOSYS where the file system cannot.
int Exchange(const std::string &a, const std::string &b) {
#ifdef RENAME_EXCHANGE
  return renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
#else
  errno = ENOSYS;
  return -1;
#endif
}

// Renames `from` to `to` only when `to` does not exist.
int RenameNoReplace(const std::string &from, const std::string &to) {
#ifdef RENAME_NOREPLACE
  const int rc = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (rc == 0 || (errno != EINVAL && errno != ENOSYS)) return rc;
#endif
  if (::access(to.c_str(), F_OK) == 0 || errno != ENOENT) {
    errno = EEXIST;
    return -1;
  }
  return std::rename(from.c_str(), to.c_str());
}

// A fresh directory beside `target` made with mkdir, so never an existing
// entry or link: "<parent>/.<name>.<tag>-<pid>-<n>". Empty (errno set) on failure.
std::string MakeFreshDirectory(const std::string &target, const char *tag) {
  static std::atomic<unsigned> counter{0};
  const fs::path t(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = (t.parent_path() / ("." + t.filename().string() + "." + tag + "-" +
                                                 std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                                 .string();
    if (const int e = Hook("mkdir", name)) {
      errno = e;
      return std::string();
    }
    if (::mkdir(name.c_str(), 0777) == 0) return name;
    if (errno != EEXIST) return std::string();
  }
  errno = EEXIST;
  return std::string();
}

}  // namespace

void SetDirectoryWriteHook(std::function<int(const char *, const std::string &)> hook) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  write_hook = std::move(hook);
}

DirectoryWriter::DirectoryWriter(const std::string &dirname, Owns owns) : dirname_(dirname), owns_(std::move(owns)) {
  const char *d = dirname.c_str();
  if (dirname.empty()) Fatal("Cannot write a data directory with an empty name\n");
  std::error_code ec;
  // Links resolved: the directory a link names is replaced, the link stays.
  fs::path target = fs::weakly_canonical(fs::absolute(dirname, ec), ec);
  if (ec) FatalFile(dirname, "Cannot write directory %s: %s\n", d, ec.message().c_str());
  if (target.has_filename() == false) target = target.parent_path();
  target_ = target.string();
  if (target == target.root_path() || target.filename() == "." || target.filename() == "..")
    FatalFile(dirname, "Cannot write directory %s: it is a file system root\n", d);
  const fs::file_status status = fs::symlink_status(target, ec);
  if (fs::exists(status) && !fs::is_directory(status))
    FatalFile(dirname, "Cannot write directory %s: it exists and is not a directory\n", d);
  const fs::path cwd = fs::current_path(ec);
  if (!ec) {
    // Replacing the working directory (or one holding it) would leave the
    // process in the removed old directory.
    const fs::path rel = fs::weakly_canonical(cwd, ec).lexically_relative(target);
    if (!ec && !rel.empty() && *rel.begin() != "..")
      FatalFile(dirname, "Cannot write directory %s: it is the working directory or holds it\n", d);
  }
  const fs::path parent = target.parent_path();
  fs::create_directories(parent, ec);
  if (ec || !fs::is_directory(parent))
    FatalFile(dirname, "Cannot write directory %s: cannot create %s: %s\n", d, parent.c_str(),
              ec ? ec.message().c_str() : "not a directory");
  scratch_ = MakeFreshDirectory(target_, "new");
  if (scratch_.empty())
    FatalFile(dirname, "Cannot write directory %s: no scratch directory beside it: %s\n", d,
              ErrnoText(errno).c_str());
}

DirectoryWriter::~DirectoryWriter() {
  if (committed_ || scratch_.empty()) return;
  std::error_code ec;
  fs::remove_all(scratch_, ec);  // our own directory; links in it are removed, not followed
}

std::string DirectoryWriter::Scratch(const std::string &filename) const {
  const size_t slash = filename.find_last_of('/');
  const std::string name = slash == std::string::npos ? filename : filename.substr(slash + 1);
  if (name.empty() || name == "." || name == "..")
    FatalFile(filename, "Cannot write %s: not a file name in directory %s\n", filename.c_str(), dirname_.c_str());
  return scratch_ + "/" + name;
}

FilePtr DirectoryWriter::Open(const std::string &filename) {
  const std::string path = Scratch(filename);
  int fd = -1;
  int e = Hook("open", path);
  if (e == 0) {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) e = errno;
  }
  FilePtr file(fd >= 0 ? ::fdopen(fd, "w") : nullptr);
  if (!file) {
    if (fd >= 0) ::close(fd);
    if (e == 0) e = errno;
    FatalFile(filename, "Cannot open %s for writing: %s\n", filename.c_str(), ErrnoText(e).c_str());
  }
  return file;
}

void DirectoryWriter::Close(FilePtr file, const std::string &filename) {
  if (const int e = Hook("close", Scratch(filename))) {
    file.reset();
    FatalFile(filename, "Error writing %s: %s\n", filename.c_str(), ErrnoText(e).c_str());
  }
  CloseWritten(std::move(file), filename);
}

void DirectoryWriter::WriteText(const std::string &filename, const std::string &text) {
  FilePtr file = Open(filename);
  std::fputs(text.c_str(), file.get());
  Close(std::move(file), filename);
}

// Entries of the old directory that are not the writer's own (a parameter
// file written beside the data, a user's notes) go into the new one as hard
// links (copies where a link is refused), sub-directories recursively.
void DirectoryWriter::CarryForeignEntries() {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(target_, ec);
  if (!fs::is_directory(status)) return;
  for (fs::directory_iterator it(target_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (owns_ && owns_(name)) continue;
    const fs::path to = fs::path(scratch_) / name;
    if (fs::exists(fs::symlink_status(to))) continue;  // written anew
    std::error_code copyec;
    if (const int e = Hook("carry", to.string())) copyec = std::error_code(e, std::generic_category());
    if (!copyec) {
      const fs::file_status s = it->symlink_status();
      if (fs::is_regular_file(s)) {
        fs::create_hard_link(it->path(), to, copyec);
        if (copyec) {
          copyec.clear();
          fs::copy_file(it->path(), to, copyec);
        }
      } else {
        fs::copy(it->path(), to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, copyec);
      }
    }
    if (copyec)
      FatalFile(dirname_, "Cannot write directory %s: cannot carry over %s: %s\n", dirname_.c_str(), name.c_str(),
                copyec.message().c_str());
  }
  if (ec)
    FatalFile(dirname_, "Cannot write directory %s: cannot list its old entries: %s\n", dirname_.c_str(),
              ec.message().c_str());
  // The new directory keeps the old one's permissions.
  fs::permissions(scratch_, fs::status(target_, ec).permissions(), ec);
}

void DirectoryWriter::Commit() {
  const char *d = dirname_.c_str();
  CarryForeignEntries();
  std::string old;  // where the old set ends up
  int e = Hook("swap", target_);
  if (e == 0) {
    if (RenameNoReplace(scratch_, target_) == 0) {
      committed_ = true;
      return;
    }
    e = errno;
    if (e == EEXIST || e == ENOTEMPTY) {
      e = 0;
      if (Exchange(scratch_, target_) == 0) {
        old = scratch_;
      } else if (errno == EINVAL || errno == ENOSYS) {
        // No atomic exchange on this file system: the old directory is moved
        // aside first and moved back when the new one cannot take its place.
        old = MakeFreshDirectory(target_, "old");
        if (old.empty() || ::rmdir(old.c_str()) != 0 || std::rename(target_.c_str(), old.c_str()) != 0) {
          e = errno;
        } else if (std::rename(scratch_.c_str(), target_.c_str()) != 0) {
          e = errno;
          std::rename(old.c_str(), target_.c_str());
        }
      } else {
        e = errno;
      }
    }
  }
  if (e != 0) FatalFile(dirname_, "Cannot move the new directory %s into place: %s\n", d, ErrnoText(e).c_str());
  committed_ = true;
  if (Hook("cleanup", old) != 0) return;
  std::error_code ec;
  fs::remove_all(old, ec);
}

}  // namespace femtokit
