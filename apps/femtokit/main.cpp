// femtokit: the toolkit's command-line program. Subcommands compute kernels,
// correlation functions and sources, fit sources to measured correlation
// functions, draw them, and run the main job with its paths and seed as options.
//
// Exit status: 0 on success, 1 for an error of the computation (a missing or
// malformed file, arrays that do not fit; the library's message), 2 for an
// argument error (one line naming the argument).
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
#include <cstring>
#include <set>
#include <string>

namespace {

// The subcommand named on the command line (for the error prefix), or "".
std::string SubcommandOf(const CLI::App &app, int argc, char **argv) {
  for (int i = 1; i < argc; i++)
    for (const CLI::App *sub : app.get_subcommands([](const CLI::App *) { return true; }))
      if (sub->get_name() == argv[i]) return sub->get_name();
  return "";
}

// Warnings already shown, by their text with each number as '#': a fit repeats the
// same warning at every evaluation with other numbers.
std::set<std::string> shownwarnings;
int repeatedwarnings = 0;

// Library texts go to standard error, after clearing a progress bar's line, so
// standard output carries only results. A warning is shown once.
void LibraryOutput(femtokit::Verbosity level, const std::string &text) {
  if (level == femtokit::Verbosity::Quiet) {
    std::string key;
    for (size_t i = 0; i < text.size(); i++) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
        key += text[i];
        continue;
      }
      while (i + 1 < text.size() && std::strchr("0123456789.eE+-", text[i + 1]) != nullptr) i++;
      key += '#';
    }
    if (!shownwarnings.insert(key).second) {
      repeatedwarnings++;
      return;
    }
  }
  if (fkcli::Progress *bar = fkcli::ActiveProgress()) bar->Clear();
  std::fputs(text.c_str(), stderr);
}

int Finish(int status) {
  if (repeatedwarnings > 0)
    std::fprintf(stderr, "femtokit: %d repetitions of the warnings above (with other numbers) not shown\n",
                 repeatedwarnings);
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
      "Run 'femtokit <subcommand> --help' for each subcommand's options, defaults and an example.",
      "femtokit"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "femtokit 0.1.0");
  fkcli::AddKernel(app);
  fkcli::AddCF(app);
  fkcli::AddSource(app);
  fkcli::AddFit(app);
  fkcli::AddPlot(app);
  fkcli::AddRun(app);

  const std::string sub = SubcommandOf(app, argc, argv);
  const std::string prefix = sub.empty() ? "femtokit: " : "femtokit " + sub + ": ";
  if (sub.empty() && argc > 1 && argv[1][0] != '-') {
    std::fprintf(stderr, "femtokit: unknown subcommand '%s' (expected kernel, cf, source, fit, plot or run; see 'femtokit --help')\n",
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
  return Finish(0);
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
