// Shared pieces of the femtokit command-line program: common options and
// source models by name, kernels from their directories (cli.cpp); exit
// status and the library's output channel (output.cpp); the progress bar
// (progress.cpp); plain-text tables (tables.cpp).
#ifndef FEMTOKIT_APPS_FEMTOKIT_CLI_H
#define FEMTOKIT_APPS_FEMTOKIT_CLI_H

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CCHArray;
class CKernel;
class CSourceCalc;
namespace femtokit {
struct SourceParameter;
class PairPartition;
}

namespace fkcli {

// Options every subcommand takes. Threads 0: OpenMP's default (all cores).
struct Common {
  int threads = 0;
  bool quiet = false;
  bool verbose = false;
};

// Adds --threads (when `threads`), --quiet and --verbose to a subcommand.
void AddCommon(CLI::App *sub, Common &common, bool threads);
// Applies the common options: thread count and the library's verbosity
// (Quiet: its warnings only; Normal with --verbose). Called first by every
// subcommand's action.
void ApplyCommon(const Common &common);

// Checks of numeric arguments with one-line messages naming what was
// expected: an integer in [lo, hi]; a finite number > 0; any finite number.
CLI::Validator Integer(long long lo, long long hi);
CLI::Validator Positive();
CLI::Validator Number();

// Exit statuses of the program (documented in its --help and the README).
constexpr int kExitOK = 0;
constexpr int kExitError = 1;      // an error of the computation (the library's message)
constexpr int kExitArguments = 2;  // an argument error (one line naming the argument)
constexpr int kExitFitAtBound = 3;  // a fit converged with a parameter on a bound of its range
constexpr int kExitFitFailed = 4;   // a fit failed (no minimum established; the reason is printed)
// The status main returns after a subcommand that ran to its end (kExitOK
// unless the subcommand sets another).
void SetExitStatus(int status);
int ExitStatus();

// The library's output channel of the program: texts to standard error after
// clearing a progress bar's line; warnings begin with "warning: " and each
// kind (the text with its numbers as '#') is shown once, its repetitions
// counted. Held warnings (HoldWarnings) are counted only.
void LibraryOutput(int level, const std::string &text);
// Prints, per kind of warning, how many repetitions were not shown.
void ReportFoldedWarnings();
// While an object lives, library warnings are counted, not shown (a fit's
// trial points); with --verbose they still show.
class HoldWarnings {
 public:
  explicit HoldWarnings(const Common &common);
  ~HoldWarnings();
  HoldWarnings(const HoldWarnings &) = delete;
  HoldWarnings &operator=(const HoldWarnings &) = delete;
  // Warnings held so far.
  int Count() const;
  // Ends the holding before the object's end.
  void Release();

 private:
  bool active_;
};

// A status line of the program on standard error ("wrote ..."), unless quiet.
void Status(const Common &common, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Raises an argument error: one line naming the argument and what was
// expected; the program exits with status 2.
[[noreturn]] void ArgumentError(const std::string &argument, const std::string &message);
// The names of a repeatable option whose values may be comma-separated lists.
std::vector<std::string> SplitList(const std::vector<std::string> &items);
// A mass in MeV from an option: a positive number or a particle name (pi, K,
// p, n, Lambda); an argument error otherwise.
double MassOf(const std::string &option, const std::string &text);

// A progress bar with the time left, on standard error. It draws only when
// standard error is a terminal and the program is not quiet; the library's
// messages clear its line before they are printed. Thread safe.
class Progress {
 public:
  Progress(const std::string &label, int total, bool enabled);
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;
  // done of total steps; redrawn at most ten times a second (and at the end).
  void Update(int done);
  // Removes the bar's line.
  void Clear();
  bool Enabled() const { return enabled_; }
  // The bar's text for done of total steps after `elapsed` seconds, at most
  // `width` characters: "label [#####.....]  45%  0:12 left".
  static std::string Render(const std::string &label, int done, int total, double elapsed, int width);

 private:
  std::string label_;
  int total_;
  bool enabled_;
  std::chrono::steady_clock::time_point start_, last_;
};
// True when the progress bar may draw: standard error is a terminal (or
// FEMTOKIT_PROGRESS=1 forces it, for tests) and not quiet.
bool ProgressWanted(const Common &common);
// The bar currently drawn, cleared before library messages (or null).
Progress *ActiveProgress();

// A plain-text table: '#' comment lines, then one row of numbers per line,
// separated by blanks. The last comment line names the columns.
struct Table {
  std::vector<std::string> comments;  // without the leading "# "
  std::vector<std::string> columns;
  std::vector<std::vector<double>> rows;
  // Index of the named column, or -1.
  int Column(const std::string &name) const;
};
// Writes the table ("-": standard output); values with 10 significant digits.
// The file appears whole or not at all (written beside it, then renamed);
// fails (library error naming the file) when it cannot be written.
void WriteTable(const std::string &filename, const Table &table);
// Gives a scratch file made by mkstemp (private to its owner) the permissions
// a plainly created file gets under the umask, before it is renamed into place.
void GivePlainPermissions(const std::string &path);

// Checks of destinations, made before anything is computed or written, so
// that a run that fails leaves nothing behind: a table file (not "-") must
// not be an existing directory, an array directory not an existing file, and
// neither may lie under an existing file. Argument errors naming the option.
void CheckTableOutput(const std::string &option, const std::string &file);
void CheckDirectoryOutput(const std::string &option, const std::string &dir);
// Reads a table: comment lines, blank lines skipped; every other line must
// hold the same number of numbers. Column names from the last comment line
// when it has as many words as the rows have numbers. Fails (library error
// naming the file and line): a missing file, a word that is not a number,
// rows of different length, no rows.
Table ReadTable(const std::string &filename);

// A `--set name=value` list, as given.
struct Settings {
  std::vector<std::string> sets;
  std::string parsfile;
};
// Adds --set (repeatable) and --pars to a subcommand, with their help texts.
void AddSettings(CLI::App *sub, Settings &settings, const std::string &sethelp, const std::string &parshelp);

// Source models by name: "gx1d", "gauss3d" and those merged later.
const std::vector<std::string> &ModelNames();
// Each model from its parameter table: what it is, and each parameter's
// default with its unit, range and meaning.
std::string ModelHelp();
// "R=5 fm": a parameter's value with its unit.
std::string ParameterText(const femtokit::SourceParameter &p, double value);
// Builds the named model with its defaults, overlays the parameter file
// (library error when missing) and the --set values. Argument errors: an
// unknown model, a --set without '=', a name the model does not have, a
// non-number for a numeric parameter. `events` sets the event file of the
// event-file model; `start` values are written before the file and --set.
std::unique_ptr<CSourceCalc> MakeSource(const std::string &model, const Settings &settings,
                                        const std::string &events = std::string(),
                                        const std::vector<std::pair<std::string, double>> &start = {});
// "name=value name=value ..." of the model's parameters.
std::string DescribeSource(const CSourceCalc &source);

// A kernel from its directory: the mesh from kpars, or from DIR/kparameters.dat
// (which `femtokit kernel` writes); library errors for missing files.
std::unique_ptr<CKernel> LoadKernel(const std::string &dir, const std::string &kpars);
// "60 q bins of 2 MeV/c, 80 r bins of 0.5 fm, l <= 4, identical particles".
std::string DescribeKernel(const CKernel &kernel);

// Cartesian-harmonic components with lx <= 1 of an array, as written in
// tables: (0,0,0) first, in loop order.
std::vector<std::vector<int>> TableComponents(const CCHArray &array);
// "C_lx_ly_lz" style column name of a component.
std::string ComponentName(const std::string &prefix, const std::vector<int> &l);

// A source array as a table: r (fm), S = S_000 (fm^-3) and the other lx <= 1
// components, under the given comment lines.
Table SourceTable(const CCHArray &source, const std::vector<std::string> &comments);

// Integral of S over the mesh: 4 pi Sum r^2 S_000(r) dr.
double SourceIntegral(const CCHArray &source);

// Directory of the shipped parameter files: FEMTOKIT_DATA when set, else the
// data/ folder of the source tree this program was built from.
std::string DataDir();

// The subcommands.
void AddKernel(CLI::App &app);
void AddCF(CLI::App &app);
void AddSource(CLI::App &app);
void AddFit(CLI::App &app);
void AddPlot(CLI::App &app);
void AddRun(CLI::App &app);
void AddPhases(CLI::App &app);
void AddImage(CLI::App &app);

// Processes sharing the event-file source's pair binning: set by main when
// the program runs under an MPI launcher (mpirun), null otherwise.
void SetPartition(std::shared_ptr<const femtokit::PairPartition> partition);
const std::shared_ptr<const femtokit::PairPartition> &Partition();
// False on the ranks other than 0 of an MPI run: they compute with rank 0
// but write no files and print nothing.
bool MainProcess();

}  // namespace fkcli

#endif
