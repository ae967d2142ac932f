// femtokit: the toolkit's command-line program. Subcommands compute kernels,
// correlation functions and sources, fit sources to measured correlation
// functions, draw them, and run the main job with its paths and seed as options.
//
// Exit status: 0 on success, 1 for an error of the computation (a missing or
// malformed file, arrays that do not fit; the library's message), 2 for an
// argument error (one line naming the argument, also a model parameter outside
// its range), 3 for a fit that converged with a parameter on a bound of its
// range, 4 for a fit that failed (the reason on standard error).
#include "apps/femtokit/cli.h"

#include "config/fatal.h"
#include "config/output.h"

#ifdef FEMTOKIT_HAVE_MPI
#include <mpi.h>

#include "source/pairhistogram_mpi.h"
#endif

#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <string>

namespace {

// The subcommand named on the command line (for the error prefix), or "".
std::string SubcommandOf(const CLI::App &app, int argc, char **argv) {
  for (int i = 1; i < argc; i++)
    for (const CLI::App *sub : app.get_subcommands([](const CLI::App *) { return true; }))
      if (sub->get_name() == argv[i]) return sub->get_name();
  return "";
}

void LibraryOutput(femtokit::Verbosity level, const std::string &text) {
  fkcli::LibraryOutput(static_cast<int>(level), text);
}

// The first option on the command line that the subcommand does not know
// ("--no-such-flag", "-x"), or "". Values of options (words after an option
// that takes one, negative numbers) are not options.
std::string UnknownOption(const CLI::App &app, const std::string &sub, int argc, char **argv) {
  const CLI::App *s = nullptr;
  for (const CLI::App *c : app.get_subcommands([](const CLI::App *) { return true; }))
    if (c->get_name() == sub) s = c;
  if (!s) return "";
  for (int i = 1; i < argc; i++) {
    const std::string word = argv[i];
    if (word == "--") break;
    if (word.size() < 2 || word[0] != '-' || std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.')
      continue;
    const std::string name = word.compare(0, 2, "--") == 0 ? word.substr(0, word.find('=')) : word.substr(0, 2);
    const CLI::Option *o = s->get_option_no_throw(name);
    if (!o) o = app.get_option_no_throw(name);
    if (!o) return name;
    // An option's value may start with '-': skip it.
    if (o->get_type_size() != 0 && word.find('=') == std::string::npos && (name == word)) i++;
  }
  return "";
}

int Finish(int status) {
  fkcli::ReportFoldedWarnings();
  return status;
}

}  // namespace

int Main(int argc, char **argv) {
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  femtokit::SetOutput(femtokit::OutputFunction(LibraryOutput));
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);

  CLI::App app{
      "femtokit: two-particle femtoscopy. Kernels K(q, r) = |psi|^2 - 1 of a pair, correlation functions\n"
      "C(q) - 1 = Int d^3r K(q, r) S(r) of a source S(r), fits of source models to measured C(q), plots.\n"
      "Units: q (momentum of one particle in the pair frame) in MeV/c, r in fm, S(r) in fm^-3.\n"
      "Run 'femtokit <subcommand> --help' for each subcommand's options, defaults and an example.\n"
      "Exit status: 0 success; 1 an error of the computation (a missing or malformed file; the library's\n"
      "message); 2 an argument error, also a model parameter outside its range (one line naming it); 3 a fit\n"
      "that converged with a parameter on a bound of its range; 4 a fit that failed (the reason is printed).",
      "femtokit"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "femtokit 0.1.0");
  fkcli::AddKernel(app);
  fkcli::AddCF(app);
  fkcli::AddSource(app);
  fkcli::AddFit(app);
  fkcli::AddPlot(app);
  fkcli::AddRun(app);
  fkcli::AddPhases(app);
  fkcli::AddImage(app);

  const std::string sub = SubcommandOf(app, argc, argv);
  const std::string prefix = sub.empty() ? "femtokit: " : "femtokit " + sub + ": ";
  if (sub.empty() && argc > 1 && argv[1][0] != '-') {
    std::fprintf(stderr, "femtokit: unknown subcommand '%s' (expected kernel, cf, source, fit, image, plot, run or phases; see 'femtokit --help')\n",
                 argv[1]);
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    std::string what = e.what();
    // A missing required argument is often the consequence of a mistyped option: name that.
    if (dynamic_cast<const CLI::RequiredError *>(&e)) {
      const std::string unknown = UnknownOption(app, sub, argc, argv);
      if (!unknown.empty()) what = "unknown option " + unknown;
    }
    while (!what.empty() && what.back() == '\n') what.pop_back();
    for (char &c : what)
      if (c == '\n') c = ' ';
    std::fprintf(stderr, "%s%s (see 'femtokit %s--help')\n", prefix.c_str(), what.c_str(),
                 sub.empty() ? "" : (sub + " ").c_str());
    return 2;
  } catch (const femtokit::Error &e) {
    if (fkcli::Progress *bar = fkcli::ActiveProgress()) bar->Clear();
    std::string what = e.what();
    while (!what.empty() && what.back() == '\n') what.pop_back();
    std::fprintf(stderr, "%s\n", what.c_str());
    return Finish(1);
  } catch (const std::exception &e) {
    if (fkcli::Progress *bar = fkcli::ActiveProgress()) bar->Clear();
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), e.what());
    return Finish(1);
  }
  return Finish(fkcli::ExitStatus());
}

// Under an MPI launcher (mpirun sets these) the ranks share the event-file
// source's pairs; rank 0 prints and writes, the others stay silent.
int main(int argc, char **argv) {
#ifdef FEMTOKIT_HAVE_MPI
  const bool mpi = std::getenv("OMPI_COMM_WORLD_SIZE") || std::getenv("PMI_RANK") || std::getenv("PMIX_RANK");
  if (mpi) {
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    fkcli::SetPartition(femtokit::MPIPartition(MPI_COMM_WORLD));
    if (!fkcli::MainProcess()) {
      if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) MPI_Abort(MPI_COMM_WORLD, 1);
    }
  }
  const int status = Main(argc, argv);
  if (mpi) {
    fkcli::SetPartition(nullptr);
    MPI_Finalize();
  }
  return status;
#else
  return Main(argc, argv);
#endif
}
