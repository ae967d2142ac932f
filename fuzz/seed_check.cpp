// A harness built as a plain program (no libFuzzer): feeds it every file of
// the given seed directories, in name order, and fails when its reader
// refuses one or warns about it.
//
//   seedcheck_<harness> <seeddir> ...
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> seeds;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(argv[i], ec))
      if (entry.is_regular_file()) seeds.push_back(fs::absolute(entry.path()));
    if (ec) {
      std::fprintf(stderr, "seed_check: cannot list %s: %s\n", argv[i], ec.message().c_str());
      return 1;
    }
  }
  std::sort(seeds.begin(), seeds.end());
  if (seeds.empty()) {
    std::fprintf(stderr, "seed_check: no seeds\n");
    return 1;
  }
  fuzz::SeedVerdicts().counting = true;
  int one = 1;
  char *args[] = {argv[0], nullptr};
  char **pargs = args;
  LLVMFuzzerInitialize(&one, &pargs);  // works in its scratch directory from here on
  int bad = 0;
  for (const fs::path &seed : seeds) {
    std::ifstream in(seed, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fuzz::Verdicts &v = fuzz::SeedVerdicts();
    v.refusals = v.warnings = 0;
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    if (v.refusals || v.warnings || fuzz::WriteFailures()) {
      std::printf("NOT TAKEN %s: %d refusals, %d warnings, %d unwritten files; last: %s", seed.c_str(), v.refusals,
                  v.warnings, fuzz::WriteFailures(), v.last.c_str());
      bad++;
    } else {
      std::printf("ok %s\n", seed.c_str());
    }
  }
  return bad ? 1 : 0;
}
