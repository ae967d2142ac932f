// libFuzzer harness of gzip-compressed event files: the first byte of the
// input picks the mode. Even: the rest is an event file (its first line
// decides the format), written compressed, so that the reader's line
// handling runs on decompressed blocks. Odd: the rest follows a gzip header
// as it is, so that corrupt and cut compressed streams reach the reader.
#include "arrays/charray.h"
#include "config/parametermap.h"
#include "fuzz_common.h"
#include "source/sourcecalc_oscar.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

#ifdef FEMTOKIT_HAVE_ZLIB
#include <zlib.h>

namespace {

// The bytes as one gzip member (level 1: fast).
std::string Compress(const std::string &text) {
  z_stream z{};
  if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef *>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  const std::string file = fuzz::FreshScratch() + "/events.gz";
  fuzz::WriteFile(file, data[0] % 2 == 0 ? Compress(rest) : std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + rest);
  fuzz::Run(true, [&] {
    CSourceCalc_OSCAR source;
    source.SetIDs(211, 211);
    source.SetSPars(600, 1000, 0, 360, -10, 10);
    parameter::set(source.spars, "OSCARfilename", file);
    parameter::set(source.spars, "NMAX", 2000);
    CCHArray A(4, 50, 4.0, true, true, true);
    source.CalcS(&A);
  });
  return 0;
}
#else
// A build without zlib refuses compressed files by name: nothing to fuzz.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }
#endif
