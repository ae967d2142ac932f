#include "apps/femtokit/cli.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "kernel/kernel.h"
#include "source/sourceparameters.h"
#include "source/sourcecalc_blast.h"
#include "source/sourcecalc_gaussian.h"
#include "source/sourcecalc_gx1d.h"
#include "source/sourcecalc_levy.h"
#include "source/sourcecalc_oscar.h"

#include <unistd.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
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

// ---------------------------------------------------------------- exit status, library output

namespace {
int exitstatus = kExitOK;
// Warnings shown, by kind (the text with each number as '#'), with the first
// text and the repetitions not shown.
struct Folded {
  std::string first;
  int repeated = 0;
};
std::map<std::string, Folded> shownwarnings;
std::vector<std::string> shownorder;
int heldwarnings = 0;
bool holding = false;

std::string KindOf(const std::string &text) {
  std::string key;
  for (size_t i = 0; i < text.size(); i++) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
      key += text[i];
      continue;
    }
    while (i + 1 < text.size() && std::strchr("0123456789.eE+-", text[i + 1]) != nullptr) i++;
    key += '#';
  }
  return key;
}
}  // namespace

void SetExitStatus(int status) { exitstatus = status; }
int ExitStatus() { return exitstatus; }

void LibraryOutput(int level, const std::string &text) {
  std::string shown = text;
  if (level == static_cast<int>(femtokit::Verbosity::Quiet)) {
    if (holding) {
      heldwarnings++;
      return;
    }
    const std::string kind = KindOf(text);
    auto it = shownwarnings.find(kind);
    if (it != shownwarnings.end()) {
      it->second.repeated++;
      return;
    }
    shownwarnings[kind].first = text;
    shownorder.push_back(kind);
    // One prefix, "warning: ", whatever the library's text starts with.
    size_t start = 0;
    for (const char *prefix : {"warning:", "Warning:", "WARNING:"})
      if (text.compare(0, std::strlen(prefix), prefix) == 0) start = std::strlen(prefix);
    while (start < text.size() && text[start] == ' ') start++;
    shown = "warning: " + text.substr(start);
  }
  if (Progress *bar = ActiveProgress()) bar->Clear();
  std::fputs(shown.c_str(), stderr);
}

void ReportFoldedWarnings() {
  for (const std::string &kind : shownorder) {
    const Folded &f = shownwarnings[kind];
    if (f.repeated == 0) continue;
    std::string first = f.first.substr(0, f.first.find('\n'));
    if (first.size() > 60) first = first.substr(0, 57) + "...";
    std::fprintf(stderr, "femtokit: %d more warning%s like \"%s\" (other numbers) not shown\n", f.repeated,
                 f.repeated == 1 ? "" : "s", first.c_str());
  }
}

HoldWarnings::HoldWarnings(const Common &common) : active_(!common.verbose && !holding) {
  if (active_) {
    holding = true;
    heldwarnings = 0;
  }
}

HoldWarnings::~HoldWarnings() { Release(); }

void HoldWarnings::Release() {
  if (active_) holding = false;
  active_ = false;
}

int HoldWarnings::Count() const { return heldwarnings; }

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
      const std::string &line = in.Text();
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

// The source calculators by model name; their parameters come from the
// model's table (source/sourceparameters.h).
struct Model {
  std::string name;
  std::function<std::unique_ptr<CSourceCalc>()> make;
};

const std::vector<Model> &Models() {
  static const std::vector<Model> models = {
      {"gx1d", [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_GX1D()); }},
      {"levy", [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_Levy()); }},
      {"gauss3d", [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_Gaussian()); }},
      {"blast", [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_Blast()); }},
      {"events", [] { return std::unique_ptr<CSourceCalc>(new CSourceCalc_OSCAR()); }},
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

std::string ParameterText(const femtokit::SourceParameter &p, double value) {
  std::string text = femtokit::Format("%s=%g", p.name, value);
  if (p.unit && *p.unit) text += std::string(" ") + p.unit;
  return text;
}

std::string ModelHelp() {
  std::string text = "Source models: their parameters with default, range and meaning:\n";
  for (const Model &m : Models()) {
    const femtokit::SourceModel *table = femtokit::FindSourceModel(m.name);
    if (!table) continue;
    text += femtokit::Format("  %s: %s\n", table->name, table->title);
    for (const femtokit::SourceParameter &p : table->parameters)
      text += femtokit::Format("    %-22s %-22s %s\n", ParameterText(p, p.def).c_str(), femtokit::RangeText(p).c_str(),
                               p.meaning);
  }
  return text + "  events also takes OSCARfilename (the event file; --events sets it).\n\n";
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
  if (model == "events" && parameter::getS(source->spars, "OSCARfilename", "UNDEFINED") == "UNDEFINED")
    ArgumentError("--events", "the events model needs an event file (--events FILE, or OSCARfilename in --pars)");
  // Every value against the model's own range, named by where it came from.
  if (const femtokit::SourceModel *table = source->Model())
    for (const femtokit::SourceParameter &p : table->parameters) {
      try {
        femtokit::ReadChecked(source->spars, *table, p);
      } catch (const femtokit::Error &e) {
        std::string origin = settings.parsfile.empty() ? "--model " + model : "--pars " + settings.parsfile;
        for (const std::string &set : settings.sets)
          if (set.compare(0, std::strlen(p.name) + 1, std::string(p.name) + "=") == 0) origin = "--set " + set;
        std::string what = e.what();
        while (!what.empty() && what.back() == '\n') what.pop_back();
        ArgumentError(origin, what);
      }
    }
  return source;
}

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
