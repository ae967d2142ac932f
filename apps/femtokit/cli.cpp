#include "apps/femtokit/cli.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "kernel/kernel.h"
#include "source/sourcecalc_blast.h"
#include "source/sourcecalc_gaussian.h"
#include "source/sourcecalc_gx1d.h"
#include "source/sourcecalc_levy.h"
#include "source/sourcecalc_oscar.h"
#include "source/species.h"

#include <unistd.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#ifndef FEMTOKIT_DATA_DIR
#define FEMTOKIT_DATA_DIR "data"
#endif

namespace fkcli {

void AddCommon(CLI::App *sub, Common &common, bool threads) {
  if (threads)
    sub->add_option("--threads,-j", common.threads, "Threads of the parallel loops (0: all cores); results do not depend on it")
        ->type_name("N")
        ->check(Integer(0, 1024));
  sub->add_flag("--quiet,-q", common.quiet, "No progress bar and no status lines; warnings still show");
  sub->add_flag("--verbose,-v", common.verbose, "Also the library's progress lines and parameter echoes (on standard error)");
}

// Command-line numbers follow the rules of the library's files (femtokit::ParseNumber).
CLI::Validator Integer(long long lo, long long hi) {
  return CLI::Validator(
      [lo, hi](std::string &text) -> std::string {
        long long v;
        if (!femtokit::ParseInteger(text, v) || v < lo || v > hi)
          return "expected an integer from " + std::to_string(lo) + " to " + std::to_string(hi) + ", got '" + text + "'";
        return "";
      },
      "", "integer");
}

CLI::Validator Positive() {
  return CLI::Validator(
      [](std::string &text) -> std::string {
        double v;
        if (!femtokit::ParseNumber(text, v) || !(v > 0.0)) return "expected a positive number, got '" + text + "'";
        return "";
      },
      "", "positive");
}

CLI::Validator Number() {
  return CLI::Validator(
      [](std::string &text) -> std::string {
        double v;
        if (!femtokit::ParseNumber(text, v)) return "expected a number, got '" + text + "'";
        return "";
      },
      "", "number");
}

void ApplyCommon(const Common &common) {
#ifdef _OPENMP
  if (common.threads > 0) omp_set_num_threads(common.threads);
#endif
  femtokit::SetVerbosity(common.verbose && !common.quiet ? femtokit::Verbosity::Normal : femtokit::Verbosity::Quiet);
}

void Status(const Common &common, const char *format, ...) {
  if (common.quiet) return;
  if (Progress *bar = ActiveProgress()) bar->Clear();
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

void ArgumentError(const std::string &argument, const std::string &message) {
  throw CLI::ValidationError(argument, message);
}

// ---------------------------------------------------------------- progress

namespace {
std::atomic<Progress *> active{nullptr};
std::mutex progressmutex;

int TerminalWidth() {
  const char *columns = std::getenv("COLUMNS");
  const int w = columns ? std::atoi(columns) : 0;
  return w >= 40 ? w : 80;
}
}  // namespace

Progress *ActiveProgress() { return active.load(); }

bool ProgressWanted(const Common &common) {
  if (common.quiet) return false;
  const char *force = std::getenv("FEMTOKIT_PROGRESS");
  if (force && std::string(force) == "1") return true;
  return isatty(fileno(stderr)) != 0;
}

Progress::Progress(const std::string &label, int total, bool enabled)
    : label_(label), total_(total), enabled_(enabled && total > 0) {
  start_ = last_ = std::chrono::steady_clock::now();
  if (enabled_) {
    active.store(this);
    std::lock_guard<std::mutex> lock(progressmutex);
    std::fprintf(stderr, "%s\r", Render(label_, 0, total_, 0.0, TerminalWidth() - 1).c_str());
    std::fflush(stderr);
  }
}

Progress::~Progress() {
  Clear();
  if (active.load() == this) active.store(nullptr);
}

std::string Progress::Render(const std::string &label, int done, int total, double elapsed, int width) {
  const double fraction = total > 0 ? static_cast<double>(done) / total : 1.0;
  std::string tail = femtokit::Format(" %3d%%", static_cast<int>(std::floor(100.0 * fraction)));
  if (done > 0 && done < total) {
    const long left = std::lround(elapsed * (total - done) / done);
    tail += femtokit::Format("  %ld:%02ld left", left / 60, left % 60);
  } else if (done >= total) {
    tail += femtokit::Format("  %.1f s", elapsed);
  }
  int barwidth = width - static_cast<int>(label.size()) - static_cast<int>(tail.size()) - 3;
  if (barwidth > 40) barwidth = 40;
  if (barwidth < 5) barwidth = 5;
  const int filled = static_cast<int>(std::floor(fraction * barwidth));
  return label + " [" + std::string(filled, '#') + std::string(barwidth - filled, '.') + "]" + tail;
}

void Progress::Update(int done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(progressmutex);
  if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "\r%s\033[K", Render(label_, done, total_, elapsed, TerminalWidth() - 1).c_str());
  std::fflush(stderr);
}

void Progress::Clear() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(progressmutex);
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

// ---------------------------------------------------------------- tables

int Table::Column(const std::string &name) const {
  for (size_t i = 0; i < columns.size(); i++)
    if (columns[i] == name) return static_cast<int>(i);
  return -1;
}

void WriteTable(const std::string &filename, const Table &table) {
  std::string text;
  for (const std::string &c : table.comments) text += "# " + c + "\n";
  text += "#";
  for (size_t i = 0; i < table.columns.size(); i++) text += femtokit::Format(" %*s", i == 0 ? 9 : 17, table.columns[i].c_str());
  text += "\n";
  for (const auto &row : table.rows) {
    for (size_t i = 0; i < row.size(); i++) text += femtokit::Format(i == 0 ? "%11.10g" : " %17.10g", row[i]);
    text += "\n";
  }
  if (filename == "-") {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  const std::filesystem::path parent = std::filesystem::path(filename).parent_path();
  if (!parent.empty()) femtokit::MakeDirectory(parent.string());
  std::ofstream out(filename);
  out << text;
  out.close();
  if (!out) femtokit::FatalFile(filename, "cannot write the table %s\n", filename.c_str());
}

Table ReadTable(const std::string &filename) {
  femtokit::LineReader in(filename, false);
  if (!in.IsOpen()) femtokit::FatalFile(filename, "cannot open the table %s\n", filename.c_str());
  Table table;
  while (in.NextWithWords()) {
    if (in.Word(0)[0] == '#') {
      const std::string line(in.Text());
      std::string text = line.substr(line.find('#') + 1);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      table.comments.push_back(text);
      continue;
    }
    std::vector<double> row(in.Size());
    for (size_t i = 0; i < in.Size(); i++) row[i] = in.Number(i, "value");
    if (!table.rows.empty() && row.size() != table.rows[0].size())
      femtokit::FatalFile(filename, "%s: %zu numbers, the rows before hold %zu\n", in.Where().c_str(), row.size(),
                          table.rows[0].size());
    table.rows.push_back(row);
  }
  if (table.rows.empty()) femtokit::FatalFile(filename, "%s holds no rows of numbers\n", filename.c_str());
  if (!table.comments.empty()) {
    std::istringstream words(table.comments.back());
    std::vector<std::string> names;
    std::string word;
    while (words >> word) names.push_back(word);
    if (names.size() == table.rows[0].size()) {
      table.columns = names;
      table.comments.pop_back();
    }
  }
  return table;
}

// ---------------------------------------------------------------- sources

void AddSettings(CLI::App *sub, Settings &settings, const std::string &sethelp, const std::string &parshelp) {
  sub->add_option("--set,-s", settings.sets, sethelp)->type_name("NAME=VALUE");
  sub->add_option("--pars", settings.parsfile, parshelp)->type_name("FILE");
}

namespace {

struct Model {
  std::string name, help;
  std::function<std::unique_ptr<CSourceCalc>()> make;
};

const std::vector<Model> &Models() {
  static const std::vector<Model> models = {
      {"gx1d",
       "gx1d     Gaussian plus exponential, isotropic: lambdaG=0.3 R=5 fm (Gaussian), lambdaX=0.3 X=10 fm "
       "(exponential), a=5 fm (L > 0 profile)",
       [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_GX1D()); }},
      {"levy",
       "levy     Levy-stable, isotropic: lambda=1, R=5 fm (scale), alpha=1.5 (stability index, 0 < alpha <= 2; 2: "
       "Gaussian)",
       [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_Levy()); }},
      {"gauss3d",
       "gauss3d  3D Gaussian: lambda=1, Rx=Ry=Rz=4 fm, Xoff=Yoff=Zoff=0 fm, Euler_Phi=Euler_Theta=Euler_Psi=0 rad",
       [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_Gaussian()); }},
      {"blast",
       "blast    blast wave (Monte Carlo): lambda=0.5, R=13 fm, Tau=12 fm/c, DelTau=3 fm/c, Beta=0.7 c, T=110 MeV,\n"
       "           Pt=600 MeV/c (pair), EtaG=1.5, Ma=938.28 Mb=139.58 MeV, Nsample=1000 (data/blast/pions.dat)",
       [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_Blast()); }},
      {"events",
       "events   event file (OSCAR or HepMC, plain or gzip; --events FILE): Pt=600 DELPT=20 MeV/c, PHIMIN_DEG=0\n"
       "           PHIMAX_DEG=360, YMIN=-3 YMAX=3, IDa=IDb=211 (PDG codes; Ma, Mb in MeV from the table of species\n"
       "           unless set), AEQUALB=0, NEVENTSMAX=10000, STATUS=1 (HepMC status) (data/oscar/oscarparameters.dat);\n"
       "           under mpirun the ranks share the pairs",
       [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_OSCAR()); }},
  };
  return models;
}

bool IsNumber(const std::string &text) {
  double v;
  return femtokit::ParseNumber(text, v);
}

}  // namespace

const std::vector<std::string> &ModelNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const Model &m : Models()) n.push_back(m.name);
    return n;
  }();
  return names;
}

std::string ModelHelp() {
  std::string text = "Source models and their parameters (defaults):\n";
  for (const Model &m : Models()) text += "  " + m.help + "\n";
  return text + "\n";
}

std::unique_ptr<CSourceCalc> MakeSource(const std::string &model, const Settings &settings, const std::string &events,
                                        const std::vector<std::pair<std::string, double>> &start) {
  const Model *found = nullptr;
  for (const Model &m : Models())
    if (m.name == model) found = &m;
  if (!found) ArgumentError("--model", "unknown source model '" + model + "' (expected one of " + CLI::detail::join(ModelNames(), ", ") + ")");
  std::unique_ptr<CSourceCalc> source = found->make();
  const parameterMap defaults = source->spars;
  for (const auto &kv : start) parameter::set(source->spars, kv.first, kv.second);
  if (!events.empty()) parameter::set(source->spars, "OSCARfilename", events);
  if (!settings.parsfile.empty()) source->ReadSPars(settings.parsfile);
  for (const std::string &set : settings.sets) {
    const size_t eq = set.find('=');
    if (eq == std::string::npos || eq == 0) ArgumentError("--set " + set, "expected NAME=VALUE");
    const std::string name = set.substr(0, eq), value = set.substr(eq + 1);
    auto it = defaults.find(name);
    if (it == defaults.end()) {
      std::vector<std::string> keys;
      for (const auto &kv : defaults) keys.push_back(kv.first);
      ArgumentError("--set " + set, "the model " + model + " has no parameter '" + name + "' (it has " +
                                        CLI::detail::join(keys, ", ") + ")");
    }
    if (IsNumber(it->second) && !IsNumber(value))
      ArgumentError("--set " + set, "expected a number for " + name);
    if (IsNumber(value))
      parameter::set(source->spars, name, std::strtod(value.c_str(), nullptr));
    else
      parameter::set(source->spars, name, value);
  }
  if (model == "events") {
    // A species named by --set IDa=CODE without its mass takes the mass from the table of species.
    auto given = [&](const std::string &name) {
      for (const std::string &set : settings.sets)
        if (set.compare(0, name.size() + 1, name + "=") == 0) return true;
      return false;
    };
    for (const char *ab : {"a", "b"}) {
      const std::string id = std::string("ID") + ab, mass = std::string("M") + ab;
      if (!given(id) || given(mass)) continue;
      const int code = parameter::getI(source->spars, id, 0);
      const double m = femtokit::SpeciesMass(code);
      if (m == 0.0)
        ArgumentError("--set " + id + "=" + std::to_string(code),
                      "code " + std::to_string(code) + " is not in the table of species; give its mass with --set " +
                          mass + "=MeV");
      parameter::set(source->spars, mass, m);
    }
  }
  if (model == "events" && Partition())
    static_cast<CSourceCalc_OSCAR *>(source.get())->SetPartition(Partition());
  if (model == "events" && parameter::getS(source->spars, "OSCARfilename", "UNDEFINED") == "UNDEFINED")
    ArgumentError("--events", "the events model needs an event file (--events FILE, or OSCARfilename in --pars)");
  return source;
}

namespace {
std::shared_ptr<const femtokit::PairPartition> &PartitionSlot() {
  static std::shared_ptr<const femtokit::PairPartition> partition;
  return partition;
}
}  // namespace

void SetPartition(std::shared_ptr<const femtokit::PairPartition> partition) { PartitionSlot() = std::move(partition); }
const std::shared_ptr<const femtokit::PairPartition> &Partition() { return PartitionSlot(); }
bool MainProcess() { return !PartitionSlot() || PartitionSlot()->Rank() == 0; }

std::string DescribeSource(const CSourceCalc &source) {
  std::string text;
  for (const auto &kv : source.spars) text += (text.empty() ? "" : " ") + kv.first + "=" + kv.second;
  return text;
}

// ---------------------------------------------------------------- kernels

std::unique_ptr<CKernel> LoadKernel(const std::string &dir, const std::string &kpars) {
  const std::string pars = kpars.empty() ? dir + "/kparameters.dat" : kpars;
  if (kpars.empty() && !std::filesystem::exists(pars))
    femtokit::FatalFile(pars,
                        "%s: no kparameters.dat in the kernel directory %s; give the kernel's mesh with --kpars FILE\n",
                        pars.c_str(), dir.c_str());
  auto kernel = std::make_unique<CKernel>(pars);
  kernel->Read(dir);
  return kernel;
}

std::string DescribeKernel(const CKernel &kernel) {
  return femtokit::Format("%d q bins of %g MeV/c, %d r bins of %g fm, l <= %d, %s", kernel.GetNQMAX(),
                          kernel.GetDELQ(), kernel.GetNRMAX(), kernel.GetDELR(), kernel.GetLMAX(),
                          kernel.GetIDENTICAL() ? "identical particles" : "non-identical particles");
}

std::vector<std::vector<int>> TableComponents(const CCHArray &array) {
  std::vector<std::vector<int>> list;
  array.ForEachTriple(array.GetLMAX(), 1, [&](int lx, int ly, int lz) { list.push_back({lx, ly, lz}); });
  return list;
}

std::string ComponentName(const std::string &prefix, const std::vector<int> &l) {
  return femtokit::Format("%s_%d_%d_%d", prefix.c_str(), l[0], l[1], l[2]);
}

Table SourceTable(const CCHArray &source, const std::vector<std::string> &comments) {
  Table table;
  table.comments = comments;
  table.comments.push_back("r: separation of the pair in its rest frame, fm; S: the source S(r) (angular average),");
  table.comments.push_back("fm^-3; S_lx_ly_lz: Cartesian-harmonic component (lx,ly,lz) of S, fm^-3");
  const auto components = TableComponents(source);
  table.columns = {"r", "S"};
  for (size_t i = 1; i < components.size(); i++) table.columns.push_back(ComponentName("S", components[i]));
  for (int ir = 0; ir < source.GetNRADIAL(); ir++) {
    std::vector<double> row = {(ir + 0.5) * source.GetRADSTEP()};
    for (const auto &l : components) row.push_back(source.GetElement(l[0], l[1], l[2], ir));
    table.rows.push_back(row);
  }
  return table;
}

double SourceIntegral(const CCHArray &source) {
  double sum = 0.0;
  const double dr = source.GetRADSTEP();
  for (int ir = 0; ir < source.GetNRADIAL(); ir++) {
    const double r = (ir + 0.5) * dr;
    sum += 4.0 * M_PI * r * r * dr * source.GetElement(0, 0, 0, ir);
  }
  return sum;
}

std::string DataDir() {
  const char *env = std::getenv("FEMTOKIT_DATA");
  return env && *env ? std::string(env) : std::string(FEMTOKIT_DATA_DIR);
}

}  // namespace fkcli
