// Bytes of a file read in blocks, gzip-compressed or not: a file that begins
// with the gzip magic bytes is decompressed on the fly (zlib, when the build
// has it), any other is read as it is.
#ifndef FEMTOKIT_CONFIG_INTERNAL_BYTESOURCE_H
#define FEMTOKIT_CONFIG_INTERNAL_BYTESOURCE_H

#include <cstddef>
#include <string>

#include "config/fileio.h"

namespace femtokit {

class ByteSource {
 public:
  // Opens the file; check IsOpen() (callers word their own message).
  explicit ByteSource(const std::string &filename);
  ~ByteSource();
  ByteSource(const ByteSource &) = delete;
  ByteSource &operator=(const ByteSource &) = delete;

  bool IsOpen() const { return open_; }
  bool Compressed() const { return gzip_; }
  const std::string &filename() const { return filename_; }

  // Up to n bytes into buffer; 0 at the end. Fatal, naming the file: a read
  // error, corrupt compressed data, a compressed file in a build without
  // zlib. A compressed stream cut short ends with a warning (the reader then
  // sees a truncated file).
  std::size_t Read(char *buffer, std::size_t n);

  // Bytes taken from the file so far (compressed bytes for gzip).
  std::size_t Consumed() const;

 private:
  std::string filename_;
  FilePtr file_;
  void *gz_ = nullptr;  // gzFile when compressed
  bool open_ = false, gzip_ = false, ended_ = false;
  std::size_t consumed_ = 0;
};

// True when the build reads gzip-compressed files.
bool HaveZlib();

}  // namespace femtokit

#endif
