// Writes the seed corpora of the harnesses from the shipped parameter files
// (data/pp) and from directories written by the library's own writers.
//
//   make_seeds <data/pp> <outdir>     creates <outdir>/<harness>/seed_*
//
// A seed of a several-file harness is its files joined by lines "@@", in the
// order the harness expects (see each fuzz_*.cpp).
#include <filesystem>
#include <fstream>
#include <sstream>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "fuzz_common.h"
#include "kernel/kernel.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "make_seeds: cannot read %s\n", path.c_str());
    std::exit(1);
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Join(const std::vector<std::string> &parts) {
  std::string all;
  for (size_t i = 0; i < parts.size(); i++) all += (i ? fuzz::kSeparator : "") + parts[i];
  return all;
}

struct Seeds {
  std::string dir;
  int n = 0;
  Seeds(const std::string &out, const std::string &harness) : dir(out + "/" + harness) { fs::create_directories(dir); }
  void Add(const std::string &bytes) { fuzz::WriteFile(dir + "/seed_" + std::to_string(n++), bytes); }
};

std::string HarmonicArraySeed(const std::string &parsfile, const std::string &tmp) {
  CCHArray a(parsfile);
  a.RandomizeA(1.0);
  const std::string dir = tmp + "/charray";
  fs::remove_all(dir);
  a.WriteAllA(dir);
  std::vector<std::string> parts{Read(parsfile)};
  a.ForEachTriple([&](int lx, int ly, int lz) {
    parts.push_back(Read(dir + "/lx" + std::to_string(lx) + "_ly" + std::to_string(ly) + "_lz" + std::to_string(lz) +
                         ".tmp"));
  });
  return Join(parts);
}

std::string Array3DSeed(C3DArray &a, const std::string &tmp) {
  a.Randomize_Gaussian();
  const std::string dir = tmp + "/a3d";
  fs::remove_all(dir);
  a.WriteArray(dir);
  std::vector<std::string> parts{Read(dir + "/3Darraypars.dat")};
  for (int ix = 0; ix < a.GetNXMAX(); ix++)
    for (int iy = 0; iy < a.GetNYMAX(); iy++)
      parts.push_back(Read(dir + "/ix" + std::to_string(ix) + "_iy" + std::to_string(iy) + ".tmp"));
  return Join(parts);
}

// The parameter file and the first `nfiles` data files (all when negative).
std::string KernelSeed(const std::string &parsfile, const std::string &tmp, int nfiles = -1) {
  CKernel k(parsfile);
  k.Calc_PureHBT();
  const std::string dir = tmp + "/kernel";
  fs::remove_all(dir);
  k.Write(dir);
  std::vector<std::string> parts{Read(parsfile)};
  for (int ell = 0; ell <= k.GetLMAX(); ell += k.GetIDENTICAL() ? 2 : 1)
    for (int iq = 0; iq < k.GetNQMAX(); iq++)
      if (nfiles < 0 || int(parts.size()) <= nfiles)
        parts.push_back(Read(femtokit::Format("%s/ell%d_q%07.2f.tmp", dir.c_str(), ell, (iq + 0.5) * k.GetDELQ())));
  return Join(parts);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds <data/pp> <outdir>\n");
    return 2;
  }
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const std::string data = argv[1], out = argv[2], tmp = out + "/.work";
  fs::create_directories(tmp);
  auto small = [&](const std::string &name, const std::string &text) {
    fuzz::WriteFile(tmp + "/" + name, text);
    return tmp + "/" + name;
  };

  Seeds pars(out, "fuzz_parameterfile");
  for (const char *f : {"aparsCH_CF.dat", "aparsCH_source.dat", "kparameters.dat", "wfparameters.dat"})
    pars.Add(Read(data + "/" + f));
  pars.Add("int LMAX 4\ndouble RADSTEP 0.5\nbool XSYM 1\nstring NAME pp\n#double X 1\n");

  Seeds charray(out, "fuzz_harmonic_array");
  charray.Add(HarmonicArraySeed(data + "/aparsCH_CF.dat", tmp));
  charray.Add(HarmonicArraySeed(small("apars_small.dat", "int LMAX 1\nint NRADIAL 3\ndouble RADSTEP 0.5\n"), tmp));

  Seeds a3d(out, "fuzz_array3d");
  C3DArray nosym(2, 1.0, false, true, false), sym(3, 0.5, true, true, true);
  a3d.Add(Array3DSeed(nosym, tmp));
  a3d.Add(Array3DSeed(sym, tmp));

  Seeds kernel(out, "fuzz_kernel");
  // The shipped kernel has 180 files; a few keep every input fast.
  kernel.Add(KernelSeed(data + "/kparameters.dat", tmp, 3));
  kernel.Add(KernelSeed(small("kpars_small.dat", "int NQMAX 2\nint NRMAX 4\nint KLMAX 2\ndouble DELQ 4\n"
                                                 "double DELR 0.5\nbool IDENTICAL 1\n"),
                        tmp));

  std::string mesh60 = "60\n";
  for (int i = 0; i < 60; i++) mesh60 += std::to_string(2 * i + 1) + (i % 10 == 9 ? "\n" : " ");
  Seeds qmesh(out, "fuzz_qmesh");
  qmesh.Add(Read(data + "/wfparameters.dat"));
  qmesh.Add(Join({"double DELQ -1\n", mesh60}));
  qmesh.Add(Join({"double DELQ -1\nint NQMAX 3\n", "3\n10 20 40\n"}));

  Seeds pp(out, "fuzz_wavefunction_pp");
  pp.Add(Join({"double EPSILON 9.0\nbool STRONG 1\nbool COULOMB 1\n", "2\n1 20\n"}));
  pp.Add(Join({"double EPSILON 2.0\nbool STRONG 1\n", "3\n0.5 10 120\n"}));
  pp.Add(Join({"bool STRONG 0\n", "1\n60\n"}));

  fs::remove_all(tmp);
  if (fuzz::WriteFailures() > 0) {
    std::fprintf(stderr, "make_seeds: %d seed files could not be written\n", fuzz::WriteFailures());
    return 1;
  }
  return 0;
}
