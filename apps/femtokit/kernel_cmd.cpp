// femtokit kernel PAIR: the kernel of a pair written as a kernel directory.
#include "apps/femtokit/cli.h"

#include "config/constants.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "kernel/kernel.h"
#include "wavefunction/wavefunction_pairs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace fkcli {
namespace {

namespace fs = std::filesystem;

struct KernelOptions {
  Common common;
  std::string pair, out, wf, kpars, m1, m2;
  int charges = 0;
  int nq = -1, nr = -1, lmax = -1;
  double dq = -1.0, dr = -1.0;
};

// Other names users write for the pairs (the library's, and the program's own kernels).
std::string CanonicalPair(const std::string &name) {
  if (name == "free") return "bosons";
  if (name == "classical") return "coulomb";
  return femtokit::CanonicalPairName(name);
}


// Writes a parameter file "type name value" from typed entries.
void WriteParameterFile(const std::string &file, const std::vector<std::string> &lines) {
  std::ofstream out(file);
  for (const std::string &l : lines) out << l << "\n";
  out.close();
  if (!out) femtokit::FatalFile(file, "cannot write %s\n", file.c_str());
}

void RunKernel(KernelOptions &o) {
  ApplyCommon(o.common);
  const std::string pair = CanonicalPair(o.pair);
  const auto &names = femtokit::PairNames();
  const bool bosons = pair == "bosons", coulomb = pair == "coulomb";
  bool named = std::find(names.begin(), names.end(), pair) != names.end();
  // A pair from a parameter file: a file given as PAIR, or data/<PAIR>/wfparameters.dat.
  std::string genericfile;
  if (!named && !bosons && !coulomb) {
    if (fs::is_regular_file(o.pair))
      genericfile = o.pair;
    else if (fs::is_regular_file(DataDir() + "/" + pair + "/wfparameters.dat"))
      genericfile = DataDir() + "/" + pair + "/wfparameters.dat";
    else
      ArgumentError("PAIR " + o.pair, "unknown pair (expected one of " + CLI::detail::join(names, ", ") +
                                          ", pipluspiplus, kpluskplus, plambda, lambdalambda, bosons, coulomb, "
                                          "or a generic pair's parameter file)");
    if (!o.wf.empty()) ArgumentError("--wf", "a pair from a parameter file is given as PAIR itself");
    named = true;
  }
  if (coulomb && (o.m1.empty() || o.m2.empty()))
    ArgumentError("PAIR coulomb", "the classical Coulomb kernel needs --m1 and --m2 (and --charges)");
  if (!coulomb && (!o.m1.empty() || !o.m2.empty() || o.charges != 0))
    ArgumentError("--m1/--m2/--charges", "only the classical Coulomb kernel (PAIR coulomb) takes masses and charges");
  if (!named && !o.wf.empty()) ArgumentError("--wf", "only pairs with a wave function take a wave-function file");
  const std::string label =
      genericfile.empty() ? pair : fs::absolute(genericfile).parent_path().filename().string();
  const double m1 = coulomb ? MassOf("--m1", o.m1) : 0.0, m2 = coulomb ? MassOf("--m2", o.m2) : 0.0;

  // The mesh: defaults, the pair's shipped kparameters.dat or --kpars, then the flags.
  parameterMap mesh;
  parameter::set(mesh, "NQMAX", 60);
  parameter::set(mesh, "DELQ", 2.0);
  parameter::set(mesh, "NRMAX", 80);
  parameter::set(mesh, "DELR", 0.5);
  parameter::set(mesh, "KLMAX", 4);
  const std::string shipped = (genericfile.empty() ? DataDir() + "/" + pair : fs::path(genericfile).parent_path().string()) +
                              "/kparameters.dat";
  if (!o.kpars.empty())
    parameter::ReadParsFromFile(mesh, o.kpars);
  else if (named && fs::exists(shipped))
    parameter::ReadParsFromFile(mesh, shipped);
  if (o.nq >= 0) parameter::set(mesh, "NQMAX", o.nq);
  if (o.dq >= 0) parameter::set(mesh, "DELQ", o.dq);
  if (o.nr >= 0) parameter::set(mesh, "NRMAX", o.nr);
  if (o.dr >= 0) parameter::set(mesh, "DELR", o.dr);
  if (o.lmax >= 0) parameter::set(mesh, "KLMAX", o.lmax);
  const int nq = parameter::getI(mesh, "NQMAX", 60), nr = parameter::getI(mesh, "NRMAX", 80);
  const double dq = parameter::getD(mesh, "DELQ", 2.0), dr = parameter::getD(mesh, "DELR", 0.5);
  const int lmax = parameter::getI(mesh, "KLMAX", 4);
  if (nq < 1 || nr < 1 || !(dq > 0.0) || !(dr > 0.0) || lmax < 0)
    ArgumentError("--nq/--dq/--nr/--dr/--lmax", femtokit::Format("expected a mesh of positive sizes, got %d q bins of "
                                                                 "%g MeV/c, %d r bins of %g fm, l <= %d",
                                                                 nq, dq, nr, dr, lmax));

  // The wave function is built on the kernel's q mesh (whatever mesh its
  // file names), so the mesh must lie where the pair can be computed.
  std::unique_ptr<CWaveFunction> wf;
  std::string wfpars;
  const std::string wfpair = genericfile.empty() ? pair : "generic";
  if (named) {
    wfpars = !genericfile.empty() ? genericfile : o.wf.empty() ? DataDir() + "/" + pair + "/wfparameters.dat" : o.wf;
    double qlo, qhi;
    femtokit::PairQRange(wfpair, wfpars, qlo, qhi);
    if (nq > CWaveFunction::MAXNQ || 0.5 * dq < qlo || (nq - 0.5) * dq > qhi)
      ArgumentError("--nq/--dq", femtokit::Format("the kernel's q mesh (%d bins of %g MeV/c, centres %g ... %g MeV/c) "
                                                  "reaches beyond the pair %s: its wave function holds at most %d "
                                                  "points from q = %g to %g MeV/c",
                                                  nq, dq, 0.5 * dq, (nq - 0.5) * dq, label.c_str(),
                                                  CWaveFunction::MAXNQ, qlo, qhi));
    wf = femtokit::MakeWaveFunction(wfpair, wfpars, nq, dq);
  }
  const bool identical = bosons || (wf && femtokit::PairIsIdentical(wfpair, *wf));

  // Parameter lines stay below the reader's 100 characters.
  const std::vector<std::string> meshlines = {
      femtokit::Format("int NQMAX %d", nq),   femtokit::Format("double DELQ %.10g", dq),
      femtokit::Format("int NRMAX %d", nr),   femtokit::Format("double DELR %.10g", dr),
      femtokit::Format("int KLMAX %d", lmax), femtokit::Format("bool IDENTICAL %d", identical ? 1 : 0),
      "# kernel mesh, written by femtokit kernel " + label.substr(0, 40)};
  // The kernel reads its mesh from a file: one in a fresh private directory
  // (mkdtemp), so that no existing file or link is written through.
  std::string scratch = (fs::temp_directory_path() / "femtokit-kernel-XXXXXX").string();
  if (::mkdtemp(&scratch[0]) == nullptr)
    femtokit::FatalFile(scratch, "cannot create a scratch directory %s\n", scratch.c_str());
  std::unique_ptr<CKernel> made;
  std::string refused;  // the library's refusal of the mesh, naming the scratch file
  try {
    WriteParameterFile(scratch + "/kparameters.dat", meshlines);
    made = std::make_unique<CKernel>(scratch + "/kparameters.dat");
  } catch (const femtokit::Error &e) {
    refused = e.what();
  } catch (...) {
    std::error_code ec;
    fs::remove_all(scratch, ec);
    throw;
  }
  if (!refused.empty()) {
    std::error_code ec;
    fs::remove_all(scratch, ec);
    // The scratch file is gone: the message names the mesh as the user gave it.
    const std::string file = "kernel parameter file " + scratch + "/kparameters.dat: ";
    if (refused.compare(0, file.size(), file) == 0) refused.erase(0, file.size());
    while (!refused.empty() && refused.back() == '\n') refused.pop_back();
    ArgumentError("--nq/--dq/--nr/--dr/--lmax", "the kernel mesh " + refused);
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
  CKernel &kernel = *made;

  const auto t0 = std::chrono::steady_clock::now();
  std::string what;
  // Written with the kernel files in one step, so that the directory never
  // pairs new tables with an old mesh.
  std::map<std::string, std::string> extra;
  if (named) {
    Progress bar(label + " kernel", nq, ProgressWanted(o.common));
    kernel.CalcWithProgress(wf.get(), [&](int done, int) { bar.Update(done); });
    bar.Clear();
    std::ifstream in(wfpars, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.is_open())
      extra["wfparameters.dat"] = text.str() + "# femtokit kernel computed this wave function on the kernel's q mesh "
                                               "(kparameters.dat)\n";
    what = label + " kernel (wave function from " + wfpars + ")";
  } else if (bosons) {
    kernel.Calc_PureHBT();
    what = "free identical-boson kernel";
  } else {
    kernel.Calc_ClassCoul(m1, m2, o.charges);
    what = femtokit::Format("classical Coulomb kernel (masses %g and %g MeV, charge product %d)", m1, m2, o.charges);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::string meshtext;
  for (const std::string &l : meshlines) meshtext += l + "\n";
  extra["kparameters.dat"] = meshtext;
  kernel.Write(o.out, extra);
  Status(o.common, "%s: %s, computed in %.2f s, written to %s\n", what.c_str(), DescribeKernel(kernel).c_str(),
         seconds, o.out.c_str());
}

}  // namespace

void AddKernel(CLI::App &app) {
  auto o = std::make_shared<KernelOptions>();
  CLI::App *sub = app.add_subcommand("kernel", "The kernel K_l(q, r) of a pair, written as a kernel directory");
  sub->add_option("PAIR", o->pair,
                  "pp (Reid93 + Coulomb), pkplus (pK+), ppiplus (ppi+), pipluspiminus (pi+pi-), nn,\n"
                  "pipluspiplus (pi+pi+), kpluskplus (K+K+), plambda (pLambda), lambdalambda (LambdaLambda),\n"
                  "a generic pair's parameter file (or the name of its data/ directory),\n"
                  "bosons (free identical bosons), coulomb (classical Coulomb; needs --m1, --m2, --charges)")
      ->required();
  sub->add_option("-o,--output", o->out, "Kernel directory to write (created when missing)")->required()->type_name("DIR");
  sub->add_option("--wf", o->wf, "Wave-function parameter file of a named pair [default: data/<pair>/wfparameters.dat]; "
                               "its q mesh is replaced by the kernel's")->type_name("FILE");
  sub->add_option("--kpars", o->kpars, "Kernel mesh file (NQMAX, DELQ, NRMAX, DELR, KLMAX) [default: data/<pair>/kparameters.dat]")
      ->type_name("FILE");
  sub->add_option("--nq", o->nq, "Number of q bins")->type_name("N")->check(Integer(1, 100000));
  sub->add_option("--dq", o->dq, "q bin width, MeV/c")->type_name("MEV")->check(Positive());
  sub->add_option("--nr", o->nr, "Number of r bins")->type_name("N")->check(Integer(1, 100000));
  sub->add_option("--dr", o->dr, "r bin width, fm")->type_name("FM")->check(Positive());
  sub->add_option("--lmax", o->lmax, "Highest Legendre order l")->type_name("L")->check(Integer(0, 40));
  sub->add_option("--m1", o->m1, "coulomb: mass of particle 1, MeV, or pi, K, p, n, Lambda")->type_name("MASS");
  sub->add_option("--m2", o->m2, "coulomb: mass of particle 2, MeV, or pi, K, p, n, Lambda")->type_name("MASS");
  sub->add_option("--charges", o->charges, "coulomb: product of the charges q1 q2 (units of e)")->type_name("Q1Q2")->check(Integer(-1000, 1000));
  AddCommon(sub, o->common, true);
  sub->footer(std::string("Computes the kernel K_l(q, r) = 1/2 Int dcos(theta) (|psi(q, r, cos theta)|^2 - 1) P_l(cos theta) of a pair\n"
      "and writes it as a kernel directory (one file per l and q bin, plus kparameters.dat with the mesh),\n"
      "which 'femtokit cf' and 'femtokit fit' read. q (MeV/c) is the momentum of one particle in the pair\n"
      "frame, r (fm) the separation. The mesh comes from the pair's shipped data/<pair>/kparameters.dat\n"
      "(or --kpars), else 60 q bins of 2 MeV/c, 80 r bins of 0.5 fm, l <= 4; the flags override it. The wave\n"
      "function is computed at the kernel's q bins, whatever mesh its parameter file names; a q mesh beyond\n"
      "what the pair supports (its phase-shift tables, 0.01 ... 1000 MeV/c) is refused.") + "\n\n" + 
      "Examples:\n"
      "  femtokit kernel pp -o kdata/pp                  # the main job's pp kernel, a few seconds\n"
      "  femtokit kernel bosons --nq 40 --dq 2.5 -o kdata/bosons\n"
      "  femtokit kernel coulomb --m1 p --m2 K --charges 1 -o kdata/classical_pK\n"
      "A progress bar with the time left shows on a terminal (not in a pipe, not with --quiet).");
  sub->callback([o] { RunKernel(*o); });
}

}  // namespace fkcli
