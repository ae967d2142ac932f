// Prints an array directory as a table: r (or q) and each stored harmonic
// component A(lx, ly, lz).
//
//   print_array <array parameter file> <array dir>
//
// The parameter file gives LMAX, NRADIAL, RADSTEP and the symmetry flags;
// the directory holds the "lx%d_ly%d_lz%d.tmp" files every stored component.
#include <femtokit.h>

#include <cstdio>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: print_array <array parameter file> <array dir>\n");
    return 2;
  }
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  try {
    CCHArray array(argv[1]);
    array.ReadAllA(argv[2]);
    struct Triple {
      int lx, ly, lz;
    };
    std::vector<Triple> triples;
    array.ForEachTriple([&](int lx, int ly, int lz) { triples.push_back({lx, ly, lz}); });
    std::printf("# %10s", "r");
    for (const Triple &t : triples) std::printf("   A(%d,%d,%d)   ", t.lx, t.ly, t.lz);
    std::printf("\n");
    for (int ir = 0; ir < array.GetNRADIAL(); ir++) {
      std::printf("%12.4f", (ir + 0.5) * array.GetRADSTEP());
      for (const Triple &t : triples) std::printf(" %14.6e", array.GetElement(t.lx, t.ly, t.lz, ir));
      std::printf("\n");
    }
  } catch (const femtokit::Error &e) {
    std::fprintf(stderr, "print_array: %s\n", e.what());
    return 1;
  }
  return 0;
}
