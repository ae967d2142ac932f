#include "config/internal/bytesource.h"

#include <cstdio>

#include "config/fatal.h"
#include "config/output.h"

#ifdef FEMTOKIT_HAVE_ZLIB
#include <zlib.h>
#endif

namespace femtokit {

bool HaveZlib() {
#ifdef FEMTOKIT_HAVE_ZLIB
  return true;
#else
  return false;
#endif
}

ByteSource::ByteSource(const std::string &filename)
    : filename_(filename), file_(std::fopen(filename.c_str(), "rb")) {
  if (!file_) return;
  open_ = true;
  const int c0 = std::getc(file_.get()), c1 = c0 == EOF ? EOF : std::getc(file_.get());
  gzip_ = c0 == 0x1f && c1 == 0x8b;
  std::rewind(file_.get());
#ifdef FEMTOKIT_HAVE_ZLIB
  if (gzip_) {
    // zlib reads through its own descriptor; the C stream only told the format.
    gz_ = gzopen(filename.c_str(), "rb");
    if (!gz_) open_ = false;
    else gzbuffer(static_cast<gzFile>(gz_), 1 << 18);
    file_.reset();
  }
#endif
}

ByteSource::~ByteSource() {
#ifdef FEMTOKIT_HAVE_ZLIB
  if (gz_) gzclose(static_cast<gzFile>(gz_));
#endif
}

std::size_t ByteSource::Read(char *buffer, std::size_t n) {
  if (ended_ || n == 0) return 0;
  if (!gzip_) {
    const std::size_t got = std::fread(buffer, 1, n, file_.get());
    if (got < n && std::ferror(file_.get())) FatalFile(filename_, "Error reading %s\n", filename_.c_str());
    consumed_ += got;
    if (got == 0) ended_ = true;
    return got;
  }
#ifdef FEMTOKIT_HAVE_ZLIB
  gzFile gz = static_cast<gzFile>(gz_);
  const unsigned ask = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
  const int got = gzread(gz, buffer, ask);
  if (got > 0) return static_cast<std::size_t>(got);
  ended_ = true;
  int code = Z_OK;
  const char *message = gzerror(gz, &code);
  if (code == Z_OK) return 0;
  if (code == Z_BUF_ERROR) {  // zlib's "unexpected end of file"
    Warn("WARNING: the compressed file %s ends early (%s): it was cut short\n", filename_.c_str(), message);
    return 0;
  }
  FatalFile(filename_, "Error reading the compressed file %s: %s\n", filename_.c_str(), message);
#else
  FatalFile(filename_,
            "%s is gzip-compressed, and this build of femtokit reads no compressed files (build it with zlib, "
            "Debian package zlib1g-dev, or decompress the file)\n",
            filename_.c_str());
#endif
}

std::size_t ByteSource::Consumed() const {
#ifdef FEMTOKIT_HAVE_ZLIB
  if (gz_) {
    const long offset = gzoffset(static_cast<gzFile>(gz_));
    return offset < 0 ? 0 : static_cast<std::size_t>(offset);
  }
#endif
  return consumed_;
}

}  // namespace femtokit
