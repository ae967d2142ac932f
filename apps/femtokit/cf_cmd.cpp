// femtokit cf: the correlation function of a source through a kernel;
// femtokit source: a source from a model or an event file.
#include "apps/femtokit/cli.h"
#include "apps/femtokit/threed.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "source/sourcecalc.h"

namespace fkcli {
namespace {

struct SourceOptions {
  Common common;
  Settings settings;
  std::string model = "gx1d", events, out = "-", array;
  int nr = -1, lmax = -1;
  double dr = -1.0;
  bool nosym = false;
};

struct CFOptions {
  SourceOptions source;
  std::string kernel, kpars, sourcetable;
  // --3d: C on a 3D mesh of q_out, q_side, q_long.
  bool threed = false;
  CF3DInputs three;
};

void AddSourceOptions(CLI::App *sub, SourceOptions &o) {
  sub->add_option("--model,-m", o.model, "Source model: " + CLI::detail::join(ModelNames(), ", "))
      ->type_name("MODEL")
      ->capture_default_str();
  AddSettings(sub, o.settings, "A parameter of the model, NAME=VALUE (repeatable; names, units, defaults below)",
              "Parameter file of the model (lines 'double R 5'); --set overrides it");
  sub->add_option("--events", o.events, "Event file of the event-file model (sets OSCARfilename)")->type_name("FILE");
}

// Fills the source, with a progress bar on a terminal for the models that
// report progress (the sampled blast wave, event files); drawn from their first report.
void FillSource(CSourceCalc &model, const std::string &name, CCHArray &source, const Common &common) {
  std::unique_ptr<Progress> bar;
  if (ProgressWanted(common))
    model.SetProgress([&bar, &name](double fraction) {
      if (!bar) bar = std::make_unique<Progress>(name + " source", 1000, true);
      bar->Update(static_cast<int>(1000.0 * fraction));
    });
  model.CalcS(&source);
  model.SetProgress(nullptr);
  if (bar) bar->Clear();
}

void RunCF(CFOptions &o) {
  if (o.threed) {
    o.three.common = o.source.common;
    o.three.settings = o.source.settings;
    o.three.model = o.source.model;
    o.three.events = o.source.events;
    o.three.kernel = o.kernel;
    o.three.kpars = o.kpars;
    o.three.out = o.source.out;
    if (!o.sourcetable.empty() || !o.source.array.empty() || o.source.nr > 0 || o.source.dr > 0)
      ArgumentError("--3d", "takes neither --source-table, --array, --nr nor --dr");
    RunCF3D(o.three);
    return;
  }
  if (!o.three.projections.empty() || !o.three.frame.frame.empty())
    ArgumentError("--projections/--frame", "serve --3d");
  ApplyCommon(o.source.common);
  CheckTableOutput("--output", o.source.out);
  CheckTableOutput("--source-table", o.sourcetable);
  CheckDirectoryOutput("--array", o.source.array);
  std::unique_ptr<CSourceCalc> model = MakeSource(o.source.model, o.source.settings, o.source.events);
  std::unique_ptr<CKernel> kernel = LoadKernel(o.kernel, o.kpars);
  // Identical particles: the arrays are even in x, y and z, as the kernel needs.
  const bool sym = kernel->GetIDENTICAL();
  const int nr = o.source.nr > 0 ? o.source.nr : kernel->GetNRMAX();
  const double dr = o.source.dr > 0 ? o.source.dr : kernel->GetDELR();
  CCHArray source(kernel->GetLMAX(), nr, dr, sym, sym, sym);
  CCHArray cf(kernel->GetLMAX(), kernel->GetNQMAX(), kernel->GetDELQ(), sym, sym, sym);
  FillSource(*model, o.source.model, source, o.source.common);
  if (!MainProcess()) return;  // the other ranks of an MPI run helped with the pairs
  S2CF::s2c(&source, kernel.get(), &cf);
  cf.FillRemainderX();

  const double norm = SourceIntegral(source);
  const std::vector<std::string> comments = {
      "femtokit cf: correlation function C(q) of a source through a kernel",
      "source: " + o.source.model + " " + DescribeSource(*model),
      femtokit::Format("source mesh: %d r bins of %g fm; integral of S over it: %.6g", nr, dr, norm),
      "kernel: " + o.kernel + " (" + DescribeKernel(*kernel) + ")"};
  Table table;
  table.comments = comments;
  table.comments.push_back("q: momentum of one particle in the pair frame, MeV/c; C: the correlation function C(q)");
  table.comments.push_back("(angular average); C_lx_ly_lz: Cartesian-harmonic component (lx,ly,lz) of C(q) - 1");
  const auto components = TableComponents(cf);
  table.columns = {"q", "C"};
  for (size_t i = 1; i < components.size(); i++) table.columns.push_back(ComponentName("C", components[i]));
  for (int iq = 0; iq < cf.GetNRADIAL(); iq++) {
    std::vector<double> row = {(iq + 0.5) * cf.GetRADSTEP()};
    for (const auto &l : components) row.push_back(cf.GetElement(l[0], l[1], l[2], iq));
    row[1] += 1.0;
    table.rows.push_back(row);
  }
  // The destinations were checked first; the main table comes last.
  if (!o.source.array.empty()) cf.WriteAX(o.source.array);
  if (!o.sourcetable.empty()) WriteTable(o.sourcetable, SourceTable(source, comments));
  WriteTable(o.source.out, table);
  Status(o.source.common, "cf: source %s (integral over the mesh %.4g) through %s: %d q bins written to %s\n",
         o.source.model.c_str(), norm, o.kernel.c_str(), cf.GetNRADIAL(),
         o.source.out == "-" ? "standard output" : o.source.out.c_str());
}

void RunSource(SourceOptions &o) {
  ApplyCommon(o.common);
  CheckTableOutput("--output", o.out);
  CheckDirectoryOutput("--array", o.array);
  std::unique_ptr<CSourceCalc> model = MakeSource(o.model, o.settings, o.events);
  const bool sym = !o.nosym;
  CCHArray source(o.lmax, o.nr, o.dr, sym, sym, sym);
  FillSource(*model, o.model, source, o.common);
  if (!MainProcess()) return;  // the other ranks of an MPI run helped with the pairs
  const double norm = SourceIntegral(source);
  const std::vector<std::string> comments = {
      "femtokit source: source function S(r) of a model",
      "source: " + o.model + " " + DescribeSource(*model),
      femtokit::Format("mesh: %d r bins of %g fm, LMAX %d, %s; integral of S over it: %.6g", o.nr, o.dr, o.lmax,
                       sym ? "even in x, y and z" : "no symmetry", norm)};
  if (!o.array.empty()) source.WriteAllA(o.array);
  WriteTable(o.out, SourceTable(source, comments));
  Status(o.common, "source %s: integral of S over the mesh %.6g; table written to %s%s%s\n", o.model.c_str(), norm,
         o.out == "-" ? "standard output" : o.out.c_str(), o.array.empty() ? "" : ", array directory to ",
         o.array.c_str());
}

}  // namespace

void AddCF(CLI::App &app) {
  auto o = std::make_shared<CFOptions>();
  CLI::App *sub = app.add_subcommand("cf", "The correlation function C(q) of a source model through a kernel, as a table");
  sub->add_option("--kernel,-k", o->kernel, "Kernel directory")->required()->type_name("DIR");
  sub->add_option("--kpars", o->kpars, "Kernel mesh file [default: DIR/kparameters.dat]")->type_name("FILE");
  AddSourceOptions(sub, o->source);
  sub->add_option("-o,--output", o->source.out, "Table to write, '-' for standard output")
      ->type_name("FILE")
      ->capture_default_str();
  sub->add_option("--source-table", o->sourcetable, "Also write S(r) as a table (r in fm, S in fm^-3)")->type_name("FILE");
  sub->add_option("--array", o->source.array, "Also write C(q) - 1 as an array directory (lx <= 1 files)")->type_name("DIR");
  sub->add_option("--nr", o->source.nr, "Source r bins [default: the kernel's]")->type_name("N")->check(Integer(1, 100000000));
  sub->add_option("--dr", o->source.dr, "Source r bin width, fm [default: the kernel's]")->type_name("FM")->check(Positive());
  sub->add_flag("--3d", o->threed, "Write C(q_out, q_side, q_long) on a 3D mesh as a 3D table instead");
  sub->add_option("--bins", o->three.bins, "--3d: cells per axis (per sign where both signs are held)")
      ->type_name("N")
      ->check(Integer(1, 1000))
      ->capture_default_str();
  sub->add_option("--width", o->three.width, "--3d: cell width, MeV/c, in the table's frame")
      ->type_name("MEV")
      ->check(Positive())
      ->capture_default_str();
  sub->add_option("--projections", o->three.projections,
                  "--3d: also write C along each axis and every harmonic component (pair rest frame)")
      ->type_name("FILE");
  AddFrameOptions(sub, o->three.frame);
  AddCommon(sub, o->source.common, true);
  sub->footer(std::string("Computes the correlation function C(q) - 1 = Int d^3r K(q, r) S(r) of a source model through a kernel\n"
      "directory (from 'femtokit kernel') and writes it as a plain-text table: q (MeV/c), C(q), and each\n"
      "stored Cartesian-harmonic component C_lx_ly_lz of C(q) - 1, under a '#' header naming the source,\n"
      "the kernel and the columns (gnuplot, numpy.loadtxt and spreadsheets read it as it is).\n"
      "The source is filled on the kernel's r mesh (unless --nr/--dr) up to the kernel's l; the\n"
      "correlation function lies on the kernel's q mesh.") + "\n\n" + ModelHelp() +
              "Examples:\n"
              "  femtokit cf -k kdata/pp --model gx1d --set lambdaG=0.6 --set R=5 --set lambdaX=0 -o cf.dat\n"
              "  femtokit cf -k kdata/pipluspiplus -m levy -s lambda=0.7 -s R=4 -s alpha=1.2 -o levy.dat\n"
              "  femtokit cf -k kdata/pipluspiplus -m events --pars data/oscar/oscarparameters.dat -o events.dat\n"
              "  femtokit cf -k kdata/bosons -m gauss3d -s lambda=0.6 -s Rx=6 -s Ry=5 -s Rz=4 --3d --frame lcms \\\n"
              "      --kt 300 --m1 pi -o cf3d.dat --projections proj.dat\n\n" + ThreeDHelp());
  sub->callback([o] { RunCF(*o); });
}

void AddSource(CLI::App &app) {
  auto o = std::make_shared<SourceOptions>();
  o->nr = 80;
  o->dr = 0.5;
  o->lmax = 4;
  CLI::App *sub = app.add_subcommand("source", "A source S(r) from a model or an event file, as a table and an array directory");
  AddSourceOptions(sub, *o);
  sub->add_option("-o,--output", o->out, "Table to write, '-' for standard output")->type_name("FILE")->capture_default_str();
  sub->add_option("--array", o->array, "Also write the array directory (every component)")->type_name("DIR");
  sub->add_option("--nr", o->nr, "Number of r bins")->type_name("N")->check(Integer(1, 100000000))->capture_default_str();
  sub->add_option("--dr", o->dr, "r bin width, fm")->type_name("FM")->check(Positive())->capture_default_str();
  sub->add_option("--lmax", o->lmax, "Highest harmonic order L")->type_name("L")->check(Integer(0, 20))->capture_default_str();
  sub->add_flag("--no-sym", o->nosym,
                "Store odd components too (sources not even in x, y, z: offsets, turned axes, unequal species)");
  AddCommon(sub, o->common, true);
  sub->footer(std::string("Fills a source S(r) (fm^-3, r in fm) from a model or an event file on a radial mesh and writes it as a\n"
      "plain-text table (r, S, and each stored Cartesian-harmonic component S_lx_ly_lz) and, with --array,\n"
      "as an array directory (one lx%d_ly%d_lz%d.tmp file per component). The source integrates to the\n"
      "model's lambda when the mesh holds it; the integral over the mesh is printed.") + "\n\n" + ModelHelp() +
              "Examples:\n"
              "  femtokit source --model gauss3d --set Rx=6 --set Ry=5 --set Rz=4 -o source.dat --array source_dir\n"
              "  femtokit source -m blast --pars data/blast/pions.dat --nr 120 -o blast.dat\n"
              "  femtokit source -m events --events my_events.oscar --set IDa=211 --set IDb=211 -o events.dat");
  sub->callback([o] { RunSource(*o); });
}

}  // namespace fkcli
