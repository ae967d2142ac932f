// The femtokit program's common options, argument checks, source models by
// name and kernels from their directories.
#include "apps/femtokit/cli.h"

#include "arrays/charray.h"
#include "config/constants.h"
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
#include "source/species.h"

#ifdef _OPENMP
#include <omp.h>
#endif

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

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
    double number;
    if (femtokit::ParseNumber(value, number))  // every digit typed is kept
      parameter::set(source->spars, name, parameter::ExactText(number));
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

std::string DataDir() {
  const char *env = std::getenv("FEMTOKIT_DATA");
  return env && *env ? std::string(env) : std::string(FEMTOKIT_DATA_DIR);
}

// Names given to a repeatable option, each possibly a comma-separated list.
std::vector<std::string> SplitList(const std::vector<std::string> &items) {
  std::vector<std::string> names;
  for (const std::string &item : items) {
    size_t start = 0;
    while (start <= item.size()) {
      const size_t comma = item.find(',', start);
      const std::string name = item.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (!name.empty()) names.push_back(name);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return names;
}

// A mass in MeV: a number or a particle name.
double MassOf(const std::string &option, const std::string &text) {
  using namespace femtokit::constants;
  static const std::map<std::string, double> masses = {
      {"pi", MPI}, {"pion", MPI}, {"K", MKAON}, {"kaon", MKAON}, {"p", MPROTON}, {"proton", MPROTON},
      {"n", MNEUTRON}, {"neutron", MNEUTRON}, {"Lambda", MLAMBDA}, {"lambda", MLAMBDA}};
  auto it = masses.find(text);
  if (it != masses.end()) return it->second;
  double m;
  if (!femtokit::ParseNumber(text, m) || !(m > 0.0))
    ArgumentError(option + " " + text, "expected a positive mass in MeV or one of pi, K, p, n, Lambda");
  return m;
}

}  // namespace fkcli
