// Writes the seed corpora of every harness from the shipped files (data/) and
// from files written by the library's own writers.
//
//   make_seeds <data> <outdir>     creates <outdir>/<harness>/seed_*
//
// A seed of a several-file harness is its files joined by lines "@@", in the
// order the harness expects (see each fuzz_*.cpp); a harness whose first byte
// picks a mode gets that byte. Every seed is one its reader takes without an
// error or a warning (the fuzz_seeds_* tests run each harness on them).
#include <filesystem>
#include <fstream>
#include <sstream>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "fit/table3d.h"
#include "fuzz_common.h"
#include "kernel/kernel.h"
#include "kernel/kernelwf.h"

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
  Seeds(const std::string &out, const std::string &harness) : dir(out + "/" + harness) {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
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

// The parameter file and every data file.
std::string KernelSeed(const std::string &parsfile, const std::string &tmp) {
  CKernel k(parsfile);
  k.Calc_PureHBT();
  const std::string dir = tmp + "/kernel";
  fs::remove_all(dir);
  k.Write(dir);
  std::vector<std::string> parts{Read(parsfile)};
  for (int ell = 0; ell <= k.GetLMAX(); ell += k.GetIDENTICAL() ? 2 : 1)
    for (int iq = 0; iq < k.GetNQMAX(); iq++)
      parts.push_back(Read(femtokit::Format("%s/ell%d_q%07.2f.tmp", dir.c_str(), ell, (iq + 0.5) * k.GetDELQ())));
  return Join(parts);
}

// The two q files of fuzz_kernel3d's kernel (NQMAX 2, NRMAX 3, NCTHETA 2,
// DELQ 5, DELR 1), written by CKernelWF, joined by a form feed.
std::string Kernel3DSeed(const std::string &parsfile, const std::string &tmp, bool boson) {
  CKernelWF k(parsfile);
  if (boson) k.Calc_PureHBT();
  const std::string dir = tmp + "/kernel3d";
  fs::remove_all(dir);
  k.Write(dir);
  return Read(dir + "/q0002.50.tmp") + "\f" + Read(dir + "/q0007.50.tmp");
}

// The OSCAR2013 header lines of the shipped event file and its first event cut
// to `n` particles, closed by its end line.
std::string OSCAR2013Seed(const std::string &file, int n) {
  std::istringstream in(Read(file));
  std::string line, seed;
  int header = 0, particles = 0;
  while (std::getline(in, line) && particles < n) {
    if (line.rfind("# event", 0) == 0) {
      seed += "# event 0 out " + std::to_string(n) + "\n";
    } else if (line[0] == '#') {
      if (header++ < 3) seed += line + "\n";
    } else {
      seed += line + "\n";
      particles++;
    }
  }
  return seed + "# event 0 end 0 impact   0.000\n";
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds <data> <outdir>\n");
    return 2;
  }
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const std::string root = argv[1], data = root + "/pp", out = argv[2], tmp = out + "/.work";
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
  // The harness's own shape (another one is read with a warning, and reached by any change of part 0).
  C3DArray first(2, 1.0, false, true, false), second(2, 1.0, false, true, false);
  a3d.Add(Array3DSeed(first, tmp));
  a3d.Add(Array3DSeed(second, tmp));

  Seeds kernel(out, "fuzz_kernel");
  // The shipped kernel has 180 files; its parameters with one q bin (3 files) keep every input fast.
  std::string shipped = Read(data + "/kparameters.dat");
  shipped.replace(shipped.find("int NQMAX 60"), 12, "int NQMAX 1");
  kernel.Add(KernelSeed(small("kpars_one_q.dat", shipped), tmp));
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

  // Event files: the shipped OSCAR2013 file cut to whole events, a file of
  // the default format; the OSCAR2013 harness supplies the header line itself.
  const std::string oscar = OSCAR2013Seed(root + "/oscar/gauss_events.oscar", 20);
  Seeds events(out, "fuzz_event_file");
  events.Add(oscar);
  const std::string particles =
      "1 211 0 0.1 0.2 0.3 0.5 0.13958 1 2 3 4\n2 211 0 0.2 0.1 0.3 0.5 0.13958 2 1 3 4\n"
      "3 211 0 0.3 0.2 0.1 0.5 0.13958 3 2 1 4\n";
  events.Add("OSC1997A\nfinal_id_p_x\nmodel 1.0 (1,1)+(1,1) eqsp 0 1\nheader 4\nheader 5\n3 0\n" + particles +
             "0 0\ntrailer 2\ntrailer 3\n3 1\n" + particles + "0 0\ntrailer 2\ntrailer 3\n");
  Seeds events13(out, "fuzz_event_file_oscar2013");
  events13.Add(oscar.substr(oscar.find('\n') + 1));
  // Compressed (mode byte 0: the harness compresses the rest) and HepMC3
  // files (the shipped one cut to three events; the harness supplies the
  // two header lines).
  Seeds gz(out, "fuzz_event_file_gzip");
  gz.Add(std::string(1, '\0') + oscar);
  Seeds hepmc(out, "fuzz_event_file_hepmc");
  const std::string hep = Read(root + "/hepmc/gauss_events.hepmc3");
  const std::size_t body = hep.find("\nE 0 ") + 1, fourth = hep.find("\nE 3 ") + 1;
  hepmc.Add(hep.substr(body, fourth - body) + "HepMC::Asciiv3-END_EVENT_LISTING\n");

  Seeds kernel3d(out, "fuzz_kernel3d");
  const std::string k3 = small("k3_small.dat", "int NQMAX 2\nint NRMAX 3\nint NCTHETA 2\ndouble DELQ 5\n"
                                              "double DELR 1\nbool IDENTICAL 0\n");
  kernel3d.Add(Kernel3DSeed(k3, tmp, true));
  kernel3d.Add(Kernel3DSeed(k3, tmp, false));

  Seeds kernel3dpars(out, "fuzz_kernel3d_pars");
  kernel3dpars.Add(Read(data + "/kparameters.dat"));
  kernel3dpars.Add("int NQMAX 4\nint NRMAX 10\nint NCTHETA 6\ndouble DELQ 5\ndouble DELR 0.5\nbool IDENTICAL 1\n");
  kernel3dpars.Add("int NQMAX 3\nint NRMAX 2\nint NCTHETA 1\ndouble DELQ 100\ndouble DELR 3\n");

  // Matrix harnesses: the first byte is the mode (see fuzz_feeddown.cpp and fuzz_smearing.cpp).
  auto mode = [](int m, const std::string &text) { return std::string(1, static_cast<char>(m)) + text; };
  Seeds feeddown(out, "fuzz_feeddown");
  feeddown.Add(mode(0, "2 1 2 1\n1 0\n0 1\n"));                       // conditional, phase space, q in MeV/c
  feeddown.Add(mode(1, "# counts\n3 2 2 2\n5 1\n2 4\n0 3\n"));       // counts
  feeddown.Add(mode(2 | 4, "2 1 2 1\n0.75 0.25\n0.25 0.75\n"));       // flat density, qinv in MeV/c
  feeddown.Add(mode(8, "2 0.001 2 0.001\n1 0\n0 1\n"));               // k* in GeV/c
  Seeds smearing(out, "fuzz_smearing");
  smearing.Add(mode(0, "2 1 2 1\n0.9 0.1\n0.1 0.9\n"));               // conditional response matrix
  smearing.Add(mode(2, "2 1 3 1\n4 1 0\n1 4 2\n"));                   // counts
  smearing.Add(mode(1, "# q sigma\n0 2\n50 3\n"));                     // 1d Gaussian table
  smearing.Add(mode(3 | 4, "0 1.5\n"));                                // 3d, one line, qinv in MeV/c

  Seeds phases(out, "fuzz_phase_table");
  phases.Add(Read(root + "/pipluspiplus/pipi_I2_S.dat"));
  phases.Add("# q delta ddelta/dq\n0 0 0.01\n20 0.2 0.01\n60 0.5 0.005\n");

  // 3D tables: one from the library's writer (both signs of q_out, LCMS), two written by hand.
  Seeds table3d(out, "fuzz_table3d");
  {
    C3DArray cf(2, 5.0, 2, 5.0, 1, 5.0, false, true, true), err(2, 5.0, 2, 5.0, 1, 5.0, false, true, true);
    cf.Randomize();
    err.MakeConstant(0.01);
    err.SetElement(0, 0, 0, 0, 0, 0, 0.0);  // a cell left out
    table3d.Add(femtokit::Table3DText(cf, &err, femtokit::Frame::LCMS, 1.25, {"seed"}));
  }
  table3d.Add("# frame PRF\n# units MeV/c\n# binning q_out 0 20 2 q_side 0 10 1 q_long 0 10 1\n"
              "15 5 5 1.25 0.1\n5 5 5 1.5 0.2\n");
  table3d.Add("# frame LCMS\n# units MeV/c\n# binning q_out -10 10 2 q_side 0 10 1 q_long -10 10 2\n"
              "-5 5 -5 1.1 0.05\n5 5 5 1.2 0.05\n");

  Seeds potential(out, "fuzz_potential_table");
  potential.Add("# r V\n0 -50\n0.5 -40\n1 -20\n2 -2\n4 0\n");
  potential.Add("0.1 500\n0.6 -30\n1.2 -10\n3.0 -0.5\n6.0 -1e-3\n9 0\n");

  fs::remove_all(tmp);
  if (fuzz::WriteFailures() > 0) {
    std::fprintf(stderr, "make_seeds: %d seed files could not be written\n", fuzz::WriteFailures());
    return 1;
  }
  return 0;
}
