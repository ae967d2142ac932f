// The femtokit program, run as a user runs it: help texts, exit statuses and
// messages, table formats, numbers against the library's, the progress bar on
// a terminal and off it, the run's seed, a fit of the main job and the plots.
#include "femtokit_run.h"
#include "common/child.h"
#include "common/testutil.h"

#include "arrays/charray.h"
#include "config/output.h"
#include "fit/s2cf.h"
#include "kernel/kernel.h"
#include "source/sourcecalc_gx1d.h"
#include "wavefunction/wavefunction_pairs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef FEMTOKIT_CLI

namespace fs = std::filesystem;

using femtokitrun::Femtokit;
using femtokitrun::Outcome;
using testutil::ReadText;

namespace {

// Runs femtokit on a pseudo-terminal; returns everything it drew there.
Outcome OnTerminal(std::vector<std::string> args) {
  std::vector<char *> argv = femtokitrun::Argv(args);
  int master = -1;
  std::fflush(stdout);
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return {-2, "", "no pseudo-terminal"};
  if (pid == 0) {
    execv(FEMTOKIT_CLI, argv.data());
    _exit(127);
  }
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(master, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(master);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, text, ""};
}

// A table as the program writes it: comment lines and rows of numbers.
struct Table {
  std::vector<std::string> comments;
  std::vector<std::vector<double>> rows;
  std::vector<std::string> columns;  // from the last comment line
};

Table Parse(const std::string &text) {
  Table t;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      EXPECT_TRUE(t.rows.empty()) << "comment after the rows: " << line;
      t.comments.push_back(line);
      continue;
    }
    std::istringstream words(line);
    std::vector<double> row;
    std::string word;
    while (words >> word) {
      char *end = nullptr;
      row.push_back(std::strtod(word.c_str(), &end));
      EXPECT_EQ(*end, '\0') << "not a number: " << word;
    }
    if (!t.rows.empty()) {
      EXPECT_EQ(row.size(), t.rows[0].size()) << line;
    }
    t.rows.push_back(row);
  }
  if (!t.comments.empty()) {
    std::istringstream words(t.comments.back().substr(1));
    std::string word;
    while (words >> word) t.columns.push_back(word);
  }
  return t;
}

int Lines(const std::string &text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// A scratch directory with the main job's parameter files on small meshes
// and a free-boson kernel written by the program.
std::string Job(const std::string &name) {
  const std::string dir = ScratchDir(name);
  const char *sym = "bool XSYM 1\nbool YSYM 1\nbool ZSYM 1\n";
  std::ofstream(dir + "/aparsCH_source.dat") << "int LMAX 2\nint NRADIAL 60\ndouble RADSTEP 0.5\n" << sym;
  std::ofstream(dir + "/aparsCH_CF.dat") << "int LMAX 2\nint NRADIAL 25\ndouble RADSTEP 4\n" << sym;
  std::ofstream(dir + "/kparameters.dat")
      << "int NQMAX 25\nint NRMAX 60\nint KLMAX 2\ndouble DELQ 4\ndouble DELR 0.5\nbool IDENTICAL 1\n";
  const Outcome k = Femtokit({"kernel", "bosons", "--kpars", dir + "/kparameters.dat", "-o", dir + "/kernel"});
  EXPECT_EQ(k.status, 0) << k.err;
  return dir;
}

}  // namespace

TEST(FemtokitHelp, EverySubcommandStatesWhatItDoesItsUnitsAndAnExample) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);  // the library objects built here below
  const Outcome top = Femtokit({"--help"});
  EXPECT_EQ(top.status, 0);
  for (const char *sub : {"kernel", "cf", "source", "fit", "image", "plot", "run", "phases"}) {
    EXPECT_NE(top.out.find(std::string("  ") + sub + " "), std::string::npos) << sub;
    const Outcome help = Femtokit({sub, "--help"});
    EXPECT_EQ(help.status, 0) << sub;
    EXPECT_EQ(help.err, "") << sub;
    EXPECT_NE(help.out.find("Usage: femtokit " + std::string(sub)), std::string::npos) << sub;
    EXPECT_NE(help.out.find("Example"), std::string::npos) << sub;
    EXPECT_NE(help.out.find("femtokit " + std::string(sub) + " "), help.out.rfind("Usage")) << sub;
    EXPECT_NE(help.out.find(std::string(sub) == "run" ? "fm" : "MeV/c"), std::string::npos) << sub;
  }
  EXPECT_NE(Femtokit({"kernel", "--help"}).out.find("--threads"), std::string::npos);
  // Every model's parameters from its table: default with unit, range, meaning.
  const std::string cfhelp = Femtokit({"cf", "--help"}).out;
  for (const char *text : {"lambdaG=0.3", "R=5 fm", "(0, 1000] fm", "not isotropic unless a is large", "alpha=1.5",
                           "(0, 2]", "Nsample=1000", "Euler_Psi=0 rad"})
    EXPECT_NE(cfhelp.find(text), std::string::npos) << text;
  EXPECT_EQ(cfhelp.find("isotropic:"), std::string::npos);
  // fit starts from the same defaults and documents its exit statuses.
  const std::string fithelp = Femtokit({"fit", "--help"}).out;
  EXPECT_NE(fithelp.find("gx1d: lambdaG=0.3 R=5 fm lambdaX=0 X=10 fm a=5 fm; free: lambdaG, R"), std::string::npos);
  EXPECT_NE(fithelp.find("4 the fit failed"), std::string::npos);
  EXPECT_NE(top.out.find("3 a fit\nthat converged with a parameter on a bound"), std::string::npos) << top.out;
  EXPECT_NE(Femtokit({"plot", "--help"}).out.find("gnuplot-nox"), std::string::npos);
  EXPECT_NE(Femtokit({"run", "--help"}).out.find("--seed"), std::string::npos);
}

TEST(FemtokitErrors, ArgumentErrorsAreOneLineNamingTheArgumentWithStatus2) {
  const std::string dir = Job("femtokit_args");
  const std::string k = dir + "/kernel";
  struct Case {
    std::vector<std::string> args;
    std::string expected;  // in the message
  };
  const std::vector<Case> cases = {
      {{}, "A subcommand is required"},
      {{"frobnicate"}, "unknown subcommand 'frobnicate'"},
      {{"kernel", "-o", k}, "PAIR is required"},
      {{"kernel", "pq", "-o", k}, "PAIR pq: unknown pair"},
      {{"kernel", "pp", "-o", k, "--threads", "two"}, "--threads: expected an integer from 0 to 1024, got 'two'"},
      {{"kernel", "pp", "-o", k, "--dq", "-2"}, "--dq: expected a positive number, got '-2'"},
      {{"kernel", "coulomb", "-o", k}, "needs --m1 and --m2"},
      {{"kernel", "coulomb", "--m1", "heavy", "--m2", "p", "-o", k}, "--m1 heavy: expected a positive mass in MeV"},
      {{"kernel", "pp", "-o", k, "--wobble"}, "--wobble"},
      {{"kernel", "--no-such-flag"}, "unknown option --no-such-flag"},
      {{"kernel", "bosons", "--nq", "50000", "--nr", "50000", "-o", k + "_big"}, "--nq/--dq/--nr/--dr/--lmax: the kernel mesh"},
      {{"cf", "--model", "gx1d"}, "--kernel is required"},
      {{"cf", "-k", k, "--model", "cone"}, "unknown source model 'cone'"},
      {{"cf", "-k", k, "--set", "Radius=3"}, "--set Radius=3: the model gx1d has no parameter 'Radius'"},
      {{"cf", "-k", k, "--set", "R=big"}, "--set R=big: expected a number for R"},
      {{"cf", "-k", k, "--set", "R"}, "--set R: expected NAME=VALUE"},
      {{"source", "--nr", "0"}, "--nr: expected an integer from 1"},
      {{"source", "-m", "events"}, "--events: the events model needs an event file"},
      {{"source", "-m", "events", "--events", "e.oscar", "--set", "IDa=7777"},
       "--set IDa=7777: code 7777 is not in the table of species; give its mass with --set Ma=MeV"},
      {{"fit", "-k", k}, "expected either --table FILE or --data DIR with --errors DIR"},
      {{"fit", "-k", k, "--data", "d"}, "--errors: expected with --data"},
      {{"fit", "-k", k, "-t", "t.dat", "--minimiser", "simplex"}, "--minimiser simplex: expected auto, newton"},
      {{"fit", "-k", k, "--data", "d", "--errors", "e", "-m", "gauss3d"}, "--model gauss3d: fits a 3D table"},
      {{"plot", dir + "/kparameters.dat", "-o", "x.jpg"}, "expected a file name ending in .png or .svg"},
      {{"plot", dir + "/absent.dat"}, "File does not exist"},
      {{"run", "--seed", "1.5"}, "--seed: expected an integer"},
  };
  for (const Case &c : cases) {
    const Outcome r = Femtokit(c.args, dir);
    std::string args;
    for (const std::string &a : c.args) args += a + " ";
    EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
    EXPECT_EQ(Lines(r.err), 1) << args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << args << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("femtokit", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "") << args;
  }
  // The fit's parameter lists are checked by name.
  std::ofstream(dir + "/t.dat") << "1 1.2 0.1\n3 1.1 0.1\n";
  const Outcome r = Femtokit({"fit", "-k", k, "-t", "t.dat", "--free", "lambdaX,R2"}, dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--free R2: no fit parameter of this name"), std::string::npos) << r.err;
}

TEST(FemtokitErrors, LibraryErrorsKeepTheirMessageWithStatus1) {
  const std::string dir = Job("femtokit_lib");
  const std::string k = dir + "/kernel";
  auto fails = [&](std::vector<std::string> args, const std::string &expected) {
    const Outcome r = Femtokit(args, dir);
    EXPECT_EQ(r.status, 1) << args[0] << "\n" << r.err;
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find(expected), std::string::npos);  // standard output carries results only
  };
  fails({"cf", "-k", dir + "/nokernel"}, "no kparameters.dat in the kernel directory " + dir + "/nokernel");
  fails({"cf", "-k", k, "--pars", "missing.dat"}, "attempting to read non-existent parameter file missing.dat");
  fails({"fit", "-k", k, "-t", "absent.dat"}, "cannot open the table absent.dat");
  std::ofstream(dir + "/bad.dat") << "# q C error\n2 1.2 0.1\n6 1.1 oops\n";
  fails({"fit", "-k", k, "-t", "bad.dat"}, "bad.dat, line 3, column 7: value 'oops' is not a number");
  std::ofstream(dir + "/gap.dat") << "2 1.2 0.1\n6 1.1 0.1\n9 1.1 0.1\n";
  fails({"fit", "-k", k, "-t", "gap.dat"}, "q=2 is not on the bin-centred mesh q = (i + 0.5) 3");
  std::ofstream(dir + "/back.dat") << "6 1.2 0.1\n2 1.1 0.1\n";
  fails({"fit", "-k", k, "-t", "back.dat"}, "q=2 in row 2 does not exceed the row before");
  std::ofstream(dir + "/zero.dat") << "2 1.2 0.1\n6 1.1 0\n";
  fails({"fit", "-k", k, "-t", "zero.dat"}, "the error 0 at q=6 is not positive");
  fails({"run", "-p", dir + "/nowhere", "--kernel", k}, "attempting to read non-existent parameter file " + dir + "/nowhere");
  fails({"source", "-m", "events", "--events", "none.oscar"}, "none.oscar");
  fails({"source", "-m", "gauss3d", "--set", "Xoff=1"}, "Xsym true");  // a symmetric mesh needs --no-sym
  fs::remove(k + "/ell2_q0010.00.tmp");
  fails({"cf", "-k", k}, "Cannot open kernel data file " + k + "/ell2_q0010.00.tmp");
}

TEST(FemtokitKernel, WritesTheLibrarysKernelWithItsMeshWhateverTheThreads) {
  const std::string dir = ScratchDir("femtokit_kernel");
  const Outcome one = Femtokit({"kernel", "K+K+", "--nq", "4", "--nr", "30", "--lmax", "2", "-j", "1", "-o", "one"}, dir);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "");
  EXPECT_NE(one.err.find("kpluskplus kernel"), std::string::npos) << one.err;
  EXPECT_EQ(Femtokit({"kernel", "kpluskplus", "--nq", "4", "--nr", "30", "--lmax", "2", "-j", "2", "-q", "-o", "two"}, dir)
                .err,
            "");  // --quiet: no status line
  // The directory carries its mesh (the shipped file's widths, the flags' sizes).
  CKernel written(dir + "/one/kparameters.dat");
  EXPECT_EQ(written.GetNQMAX(), 4);
  EXPECT_EQ(written.GetNRMAX(), 30);
  EXPECT_EQ(written.GetLMAX(), 2);
  EXPECT_TRUE(written.GetIDENTICAL());
  EXPECT_DOUBLE_EQ(written.GetDELR(), 0.25);
  written.Read(dir + "/one");
  CKernel library(dir + "/one/kparameters.dat");
  library.Calc(femtokit::MakeWaveFunction("generic", std::string(FEMTOKIT_SOURCE_DIR) + "/data/kpluskplus/wfparameters.dat").get());
  for (int l = 0; l <= 2; l += 2)
    for (int iq = 0; iq < 4; iq++) {
      char name[64];
      std::snprintf(name, sizeof name, "/ell%d_q%07.2f.tmp", l, (iq + 0.5) * 2.0);
      EXPECT_EQ(ReadText(dir + "/one" + name), ReadText(dir + "/two" + name)) << name;
      for (int ir = 0; ir < 30; ir++) ASSERT_NEAR(written.GetValue(l, iq, ir), library.GetValue(l, iq, ir), 1e-9);
    }

  // Free bosons: K_l = (-1)^(l/2) j_l(2qr/hbarc); classical Coulomb masses by name.
  ASSERT_EQ(Femtokit({"kernel", "bosons", "--nq", "3", "--dq", "10", "--nr", "20", "-o", "free"}, dir).status, 0);
  CKernel free(dir + "/free/kparameters.dat");
  free.Read(dir + "/free");
  EXPECT_NEAR(free.GetValue(0, 2, 7), std::sin(2 * 25.0 * 3.75 / 197.3269602) / (2 * 25.0 * 3.75 / 197.3269602), 1e-9);
  EXPECT_EQ(Femtokit({"kernel", "coulomb", "--m1", "p", "--m2", "493.677", "--charges", "1", "--nq", "3", "--nr", "10",
                      "-o", "classical"},
                     dir)
                .status,
            0);
  EXPECT_NE(ReadText(dir + "/classical/kparameters.dat").find("bool IDENTICAL 0"), std::string::npos);
}

TEST(FemtokitKernel, ProgressBarOnATerminalOnlyAndNotWhenQuiet) {
  const std::string dir = ScratchDir("femtokit_progress");
  const std::vector<std::string> args = {"kernel", "kpluskplus", "--nq", "4", "--nr", "20", "-o", dir + "/k"};
  const Outcome tty = OnTerminal(args);
  if (tty.status == -2) GTEST_SKIP() << "no pseudo-terminal on this machine";
  ASSERT_EQ(tty.status, 0) << tty.out;
  EXPECT_NE(tty.out.find("kpluskplus kernel ["), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find("] 100%"), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find('\r'), std::string::npos);
  const Outcome pipe = Femtokit(args);
  EXPECT_EQ(pipe.err.find('['), std::string::npos) << pipe.err;
  EXPECT_EQ(pipe.err.find('\r'), std::string::npos);
  std::vector<std::string> quiet = args;
  quiet.push_back("--quiet");
  EXPECT_EQ(OnTerminal(quiet).out.find('['), std::string::npos);
}

TEST(FemtokitTables, CFAndSourceTablesHoldTheLibrarysNumbersUnderACommentedHeader) {
  const std::string dir = Job("femtokit_tables");
  const Outcome cf = Femtokit({"cf", "-k", "kernel", "--set", "lambdaG=0.7", "--set", "R=3", "--set", "lambdaX=0",
                           "--source-table", "s.dat", "--array", "cfdir"},
                          dir);
  ASSERT_EQ(cf.status, 0) << cf.err;
  const Table t = Parse(cf.out);  // the table on standard output, status lines on standard error
  ASSERT_EQ(t.rows.size(), 25u);
  EXPECT_EQ(t.comments.front(), "# femtokit cf: correlation function C(q) of a source through a kernel");
  EXPECT_EQ(t.columns, (std::vector<std::string>{"q", "C", "C_0_0_2", "C_0_2_0"}));
  EXPECT_EQ(t.rows[0].size(), t.columns.size());
  EXPECT_NE(cf.out.find("lambdaG=0.7"), std::string::npos);

  // The same numbers from the library.
  CKernel kernel(dir + "/kernel/kparameters.dat");
  kernel.Read(dir + "/kernel");
  CCHArray source(2, 60, 0.5, true, true, true), c(2, 25, 4.0, true, true, true);
  CSourceCalc_GX1D gauss;
  gauss.SetSPars(0.7, 3.0, 0.0, 10.0, 5.0);
  gauss.CalcS(&source);
  S2CF::s2c(&source, &kernel, &c);
  for (int iq = 0; iq < 25; iq++) {
    const double q = (iq + 0.5) * 4.0;
    EXPECT_DOUBLE_EQ(t.rows[iq][0], q);
    EXPECT_NEAR(t.rows[iq][1], 1.0 + c.GetElement(0, 0, 0, iq), 1e-9);
    EXPECT_NEAR(t.rows[iq][2], c.GetElement(0, 0, 2, iq), 1e-9);
    // Free bosons: 1 + lambda exp(-4 q^2 R^2/hbarc^2) for a Gaussian of one-particle radius R.
    EXPECT_NEAR(t.rows[iq][1], 1.0 + 0.7 * std::exp(-4 * q * q * 9 / (197.3269602 * 197.3269602)), 2e-3);
  }
  CCHArray back(2, 25, 4.0, true, true, true);
  back.ReadAX(dir + "/cfdir");
  EXPECT_NEAR(back.GetElement(0, 0, 0, 3), c.GetElement(0, 0, 0, 3), 1e-6);

  const Table s = Parse(ReadText(dir + "/s.dat"));
  EXPECT_EQ(s.columns, (std::vector<std::string>{"r", "S", "S_0_0_2", "S_0_2_0"}));
  ASSERT_EQ(s.rows.size(), 60u);
  double norm = 0.0;
  for (int ir = 0; ir < 60; ir++) {
    EXPECT_NEAR(s.rows[ir][1], source.GetElement(0, 0, 0, ir), 1e-12);
    norm += 4 * M_PI * std::pow(s.rows[ir][0], 2) * 0.5 * s.rows[ir][1];
  }
  EXPECT_NEAR(norm, 0.7, 1e-4);

  // source: table and array directory, every component; a non-symmetric mesh with --no-sym.
  const Outcome src = Femtokit({"source", "-m", "gauss3d", "-s", "Rx=3", "-s", "Xoff=0.5", "--no-sym", "--lmax", "2",
                            "--nr", "40", "-o", "g.dat", "--array", "gdir"},
                           dir);
  ASSERT_EQ(src.status, 0) << src.err;
  EXPECT_EQ(src.out, "");
  const Table g = Parse(ReadText(dir + "/g.dat"));
  EXPECT_EQ(g.columns.size(), 1u + 9u);  // r and the 9 components with lx <= 1 up to L = 2
  EXPECT_EQ(g.columns[2], "S_0_0_1");
  EXPECT_TRUE(fs::exists(dir + "/gdir/lx2_ly0_lz0.tmp"));
  EXPECT_NE(src.err.find("integral of S over the mesh 0.99"), std::string::npos) << src.err;
}

TEST(FemtokitRun, SeedRepeatsTheMainJobAsFemtodriverDrawsIt) {
  const std::string dir = Job("femtokit_run");
  const std::vector<std::string> base = {"run", "-p", ".", "-k", "kernel", "--cf-out", "out/pp", "--errors-out",
                                         "out/pp_errors"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return Femtokit(args, dir);
  };
  const Outcome seeded = with({"--seed", "4321", "-o", "run.dat"});
  ASSERT_EQ(seeded.status, 0) << seeded.err;
  EXPECT_EQ(seeded.out.rfind("chisquare=", 0), 0u);
  const std::string first = ReadText(dir + "/out/pp/lx0_ly0_lz0.tmp");
  EXPECT_EQ(with({"--seed", "4321"}).out, seeded.out);
  EXPECT_EQ(ReadText(dir + "/out/pp/lx0_ly0_lz0.tmp"), first);

#ifdef FEMTOKIT_DRIVER
  // femtodriver with FEMTOKIT_SEED draws the same noise.
  fs::create_directories(dir + "/driver/parameters/pp");
  fs::create_directories(dir + "/driver/work");
  for (const char *f : {"aparsCH_source.dat", "aparsCH_CF.dat", "kparameters.dat"})
    fs::copy_file(dir + "/" + f, dir + "/driver/parameters/pp/" + f);
  fs::create_directories(dir + "/kdata");
  fs::copy(dir + "/kernel", dir + "/kdata/pp", fs::copy_options::recursive);
  const ChildResult driver = RunInChild([&] {
    fs::current_path(dir + "/driver/work");
    setenv("FEMTOKIT_SEED", "4321", 1);
    std::fflush(stdout);
    execl(FEMTOKIT_DRIVER, FEMTOKIT_DRIVER, static_cast<char *>(nullptr));
  });
  ASSERT_EQ(driver.status, 0) << driver.output;
  EXPECT_EQ(ReadText(dir + "/driver/work/GX1d/pp/lx0_ly0_lz0.tmp"), first);
  EXPECT_EQ(ReadText(dir + "/driver/work/GX1d/pp_errors/lx0_ly2_lz0.tmp"), ReadText(dir + "/out/pp_errors/lx0_ly2_lz0.tmp"));
#endif

  // Without a seed, two runs in the same second differ, and the seed they report repeats them.
  const Outcome a = with({}), b = with({});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_NE(a.out, b.out);
  const size_t at = b.err.find("--seed ");
  ASSERT_NE(at, std::string::npos) << b.err;
  const std::string seed = std::to_string(std::atol(b.err.c_str() + at + 7));
  const std::string latest = ReadText(dir + "/out/pp/lx0_ly0_lz0.tmp");
  EXPECT_EQ(with({"--seed", seed}).out, b.out);
  EXPECT_EQ(ReadText(dir + "/out/pp/lx0_ly0_lz0.tmp"), latest);

  const Table t = Parse(ReadText(dir + "/run.dat"));
  EXPECT_EQ(t.comments.front(), "# femtokit run: the main job's noisy correlation function and the exact one");
  EXPECT_EQ(t.columns, (std::vector<std::string>{"q", "C_exp", "error", "C_theory"}));
  EXPECT_DOUBLE_EQ(t.rows[0][2], 0.05);
  EXPECT_DOUBLE_EQ(t.rows[4][2], 0.01);
}

TEST(FemtokitFit, RecoversTheMainJobsLambdaAndRadiusFromDirectoriesAndTables) {
  const std::string dir = Job("femtokit_fit");
  ASSERT_EQ(Femtokit({"run", "-p", ".", "-k", "kernel", "--cf-out", "d/pp", "--errors-out", "d/pp_errors", "--seed",
                      "99", "-o", "run.dat"},
                     dir)
                .status,
            0);
  // Value and error of a parameter in the printed table.
  auto value = [](const std::string &out, const std::string &name, int column) {
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string first, error;
      double v[2];
      // A fixed parameter (or a failed fit) shows "-" for its error.
      if (words >> first && first == name && words >> v[0] >> error)
        return column == 0 ? v[0] : error == "-" ? NAN : std::stod(error);
    }
    ADD_FAILURE() << name << " not in\n" << out;
    return 0.0;
  };
  const Outcome dirs = Femtokit({"fit", "-k", "kernel", "--data", "d/pp", "--errors", "d/pp_errors"}, dir);
  ASSERT_EQ(dirs.status, 0) << dirs.err;
  const double lambda = value(dirs.out, "lambdaG", 0), R = value(dirs.out, "R", 0);
  EXPECT_NEAR(lambda, 0.6, 3 * value(dirs.out, "lambdaG", 1));
  EXPECT_NEAR(R, 5.0, 3 * value(dirs.out, "R", 1));
  EXPECT_NE(dirs.out.find("chi^2="), std::string::npos);
  EXPECT_NE(dirs.out.find("error matrix"), std::string::npos);

  // The table written by run gives the same fit (to the directories' 6 digits); Metropolis agrees.
  const Outcome table = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "-o", "fit.dat"}, dir);
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NEAR(value(table.out, "lambdaG", 0), lambda, 1e-3);
  EXPECT_NEAR(value(table.out, "R", 0), R, 1e-2);
  const Outcome metro = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "--minimiser", "metropolis", "-n", "2000"}, dir);
  ASSERT_EQ(metro.status, 0) << metro.err;
  EXPECT_NEAR(value(metro.out, "R", 0), R, 2 * value(dirs.out, "R", 1));
  EXPECT_NEAR(value(metro.out, "R", 1), value(dirs.out, "R", 1), 0.5 * value(dirs.out, "R", 1));

  // The curve: q, the data, their errors and the model at the best point.
  const Table curve = Parse(ReadText(dir + "/fit.dat"));
  EXPECT_EQ(curve.columns, (std::vector<std::string>{"q", "C_exp", "error", "C_fit"}));
  const Table data = Parse(ReadText(dir + "/run.dat"));
  ASSERT_EQ(curve.rows.size(), data.rows.size());
  for (size_t i = 0; i < data.rows.size(); i++) {
    EXPECT_DOUBLE_EQ(curve.rows[i][1], data.rows[i][1]);
    EXPECT_NEAR(curve.rows[i][3], data.rows[i][3], 3 * data.rows[i][2] + 1e-3);
  }
  // Held parameters stay; freed ones move.
  const Outcome fixed = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "--fix", "R", "-s", "R=4.5"}, dir);
  EXPECT_DOUBLE_EQ(value(fixed.out, "R", 0), 4.5);
}

TEST(FemtokitPhases, PhaseShiftsAndScatteringParametersInBothSigns) {
  const Outcome o = Femtokit({"phases", "plambda_usmani", "--qmax", "20", "--dq", "5", "--quiet"});
  ASSERT_EQ(o.status, 0) << o.err;
  const Table t = Parse(o.out);
  ASSERT_EQ(t.rows.size(), 4u);
  EXPECT_EQ(t.columns, (std::vector<std::string>{"q", "delta_0", "delta_1"}));
  EXPECT_DOUBLE_EQ(t.rows[0][0], 5.0);
  EXPECT_GT(t.rows[0][1], t.rows[0][2]);  // the singlet attracts more
  // Scattering lengths of the Usmani potential in both conventions.
  EXPECT_NE(o.out.find("a = -2.8797 fm"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("f0 = 2.8797 fm"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("a = -1.6617 fm"), std::string::npos) << o.out;
  // The effective-range pair gives its own parameters back.
  const Outcome e = Femtokit({"phases", "plambda", "--qmax", "10", "--quiet"});
  ASSERT_EQ(e.status, 0) << e.err;
  EXPECT_NE(e.out.find("a = -2.88 fm, r = 2.92 fm"), std::string::npos) << e.out;
  EXPECT_EQ(Femtokit({"phases", "no_such_pair"}).status, 2);
}

TEST(FemtokitKernel, TheWaveFunctionTakesTheKernelsMeshWithinWhatThePairSupports) {
  femtokit::SetVerbosity(femtokit::Verbosity::Quiet);
  const std::string dir = ScratchDir("femtokit_wfmesh");
  // The user's pLambda file without a q mesh (its own default: 15 bins of 5 MeV/c, up to 75 MeV/c).
  std::ifstream in(std::string(FEMTOKIT_SOURCE_DIR) + "/data/plambda/wfparameters.dat");
  std::ofstream mine(dir + "/wfparameters.dat");
  for (std::string line; std::getline(in, line);)
    if (line.find("NQMAX") == std::string::npos && line.find("DELQ") == std::string::npos) mine << line << "\n";
  mine.close();
  const Outcome own = Femtokit({"kernel", "wfparameters.dat", "--nq", "45", "--dq", "2", "--nr", "20", "--lmax", "0",
                                "-o", "k"},
                               dir);
  ASSERT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.err.find("--wf"), std::string::npos) << own.err;  // no hint naming a refused option
  EXPECT_EQ(own.err.find("warning"), std::string::npos) << own.err;
  CKernel written(dir + "/k/kparameters.dat");
  written.Read(dir + "/k");
  // The shipped file's mesh (50 bins of 2 MeV/c) holds the same q points.
  CKernel library(dir + "/k/kparameters.dat");
  library.Calc(femtokit::MakeWaveFunction("generic", std::string(FEMTOKIT_SOURCE_DIR) + "/data/plambda/wfparameters.dat").get());
  for (int iq : {0, 20, 44})  // 1, 41 and 89 MeV/c: beyond the file's own mesh too
    for (int ir = 0; ir < 20; ir += 3) ASSERT_NEAR(written.GetValue(0, iq, ir), library.GetValue(0, iq, ir), 1e-9) << iq;
  EXPECT_GT(std::fabs(written.GetValue(0, 44, 1)), 1e-4);  // not a kernel of 0 (C = 1) above the file's mesh

  // A mesh beyond the pair's phase-shift tables (500 MeV/c): an argument error naming the limit, nothing written.
  const Outcome far = Femtokit({"kernel", "pipluspiplus", "--nq", "300", "--dq", "2", "-o", "far"}, dir);
  EXPECT_EQ(far.status, 2) << far.err;
  EXPECT_EQ(Lines(far.err), 1) << far.err;
  EXPECT_NE(far.err.find("reaches beyond the pair pipluspiplus"), std::string::npos) << far.err;
  EXPECT_NE(far.err.find("to 500 MeV/c"), std::string::npos) << far.err;
  EXPECT_FALSE(fs::exists(dir + "/far"));
  EXPECT_EQ(Femtokit({"kernel", "pp", "--nq", "2", "--dq", "0.01", "-o", "low"}, dir).status, 2);  // q = 0.005 MeV/c
  // Finer meshes inside it work (the wave function's own mesh is 50 bins of 2 MeV/c).
  const Outcome fine = Femtokit({"kernel", "pipluspiplus", "--nq", "6", "--dq", "0.5", "--nr", "10", "--lmax", "0",
                                 "-o", "fine"},
                                dir);
  EXPECT_EQ(fine.status, 0) << fine.err;
  EXPECT_TRUE(fs::exists(dir + "/fine/ell0_q0002.75.tmp"));
}

TEST(FemtokitErrors, ModelParametersOutsideTheirRangeAreArgumentErrors) {
  const std::string dir = Job("femtokit_ranges");
  std::ofstream(dir + "/zero.dat") << "double R 0\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-s", "R=0"}, "--set R=0: gx1d source: parameter R = 0 is outside its range (0, 1000] fm"},
      {{"-m", "levy", "-s", "alpha=2.1"}, "levy source: parameter alpha = 2.1 is outside its range (0, 2]"},
      {{"--pars", "zero.dat"}, "--pars zero.dat: parameter file zero.dat, line 1: gx1d source: parameter R = 0"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = {"cf", "-k", "kernel", "-o", "out.dat"};
    args.insert(args.end(), c.first.begin(), c.first.end());
    const Outcome r = Femtokit(args, dir);
    EXPECT_EQ(r.status, 2) << c.second << "\n" << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(c.second), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir + "/out.dat")) << c.second;
  }
  const Outcome fit = Femtokit({"fit", "-k", "kernel", "-t", "t.dat", "-s", "R=0"}, dir);
  EXPECT_EQ(fit.status, 2) << fit.err;
}

TEST(FemtokitFit, StatusUnitsRangesAndTheLevyStart) {
  const std::string dir = Job("femtokit_fitstatus");
  ASSERT_EQ(Femtokit({"run", "-p", ".", "-k", "kernel", "--cf-out", "d/pp", "--errors-out", "d/pp_errors", "--seed",
                      "99", "-o", "run.dat"},
                     dir)
                .status,
            0);
  auto number = [](const std::string &out, const std::string &key) {  // "key=number"
    const size_t at = out.find(key + "=");
    return at == std::string::npos ? NAN : std::atof(out.c_str() + at + key.size() + 1);
  };
  auto row = [](const std::string &out, const std::string &name) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string first;
      if (words >> first && first == name) return line;
    }
    return std::string();
  };
  const Outcome gauss = Femtokit({"fit", "-k", "kernel", "-t", "run.dat"}, dir);
  ASSERT_EQ(gauss.status, 0) << gauss.err;
  EXPECT_NE(gauss.out.find("\nstatus: converged\n"), std::string::npos) << gauss.out;
  EXPECT_NE(row(gauss.out, "lambdaX").find("            -    no"), std::string::npos) << gauss.out;  // fixed: no error

  // A failed fit: Newton from far away meets a negative curvature; the table says so, no errors, status 4, no curve.
  const Outcome failed = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "--minimiser", "newton", "-s", "R=1.5", "-s",
                                   "lambdaG=0.05", "-o", "failed.dat"},
                                  dir);
  EXPECT_EQ(failed.status, 4) << failed.err;
  EXPECT_NE(failed.out.find("status: failed: the chi^2 curvature is negative along"), std::string::npos) << failed.out;
  EXPECT_NE(row(failed.out, "R").find("1.5000e+00            -   yes"), std::string::npos) << failed.out;
  EXPECT_EQ(failed.out.find("errors from"), failed.out.find("errors from the chi^2 Hessian"));
  EXPECT_NE(failed.out.find("error matrix: none"), std::string::npos);
  EXPECT_NE(failed.err.find("femtokit fit: the fit failed: the chi^2 curvature is negative"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir + "/failed.dat"));

  // Data with twice the correlation want lambdaG = 1.2 beyond its range [0, 1]: at the bound, status 3.
  const Table data = Parse(ReadText(dir + "/run.dat"));
  {
    std::ofstream twice(dir + "/twice.dat");
    for (const auto &r : data.rows) twice << r[0] << " " << 1 + 2 * (r[1] - 1) << " " << 2 * r[2] << "\n";
  }
  const Outcome bound = Femtokit({"fit", "-k", "kernel", "-t", "twice.dat"}, dir);
  EXPECT_EQ(bound.status, 3) << bound.err;
  EXPECT_NE(bound.out.find("status: at a bound: lambdaG = 1 (upper bound)"), std::string::npos) << bound.out;
  EXPECT_NE(row(bound.out, "lambdaG").find("at upper bound"), std::string::npos);

  // The same table in q_inv and GeV/c: refused without --units, naming both spacings; the same fit with it.
  {
    std::ofstream gev(dir + "/gev.dat");
    gev.precision(12);
    gev << "# qinv C error\n";
    for (const auto &r : data.rows) gev << 2 * r[0] / 1000 << " " << r[1] << " " << r[2] << "\n";
  }
  const Outcome plain = Femtokit({"fit", "-k", "kernel", "-t", "gev.dat"}, dir);
  EXPECT_EQ(plain.status, 2);
  EXPECT_NE(plain.err.find("q bins of 0.008 MeV/c"), std::string::npos) << plain.err;
  EXPECT_NE(plain.err.find("the kernel's bins of 4 MeV/c"), std::string::npos) << plain.err;
  const Outcome units = Femtokit({"fit", "-k", "kernel", "-t", "gev.dat", "--units", "qinv/GeV"}, dir);
  ASSERT_EQ(units.status, 0) << units.err;
  EXPECT_EQ(row(units.out, "R"), row(gauss.out, "R"));
  EXPECT_EQ(Femtokit({"fit", "-k", "kernel", "-t", "gev.dat", "--units", "qinv/TeV"}, dir).status, 2);
  EXPECT_EQ(Femtokit({"fit", "-k", "kernel", "--data", "d/pp", "--errors", "d/pp_errors", "--units", "qinv/GeV"}, dir)
                .status,
            2);

  // Some of the kernel's bins, and a fit range: only those bins count.
  {
    std::ofstream some(dir + "/some.dat");
    for (size_t i = 0; i < data.rows.size(); i++)
      if (i % 3 != 0) some << data.rows[i][0] << " " << data.rows[i][1] << " " << data.rows[i][2] << "\n";
  }
  const Outcome subset = Femtokit({"fit", "-k", "kernel", "-t", "some.dat", "--qmin", "10", "--qmax", "80", "-o",
                                   "some_fit.dat"},
                                  dir);
  ASSERT_EQ(subset.status, 0) << subset.err;
  int inrange = 0;
  for (size_t i = 0; i < data.rows.size(); i++) inrange += i % 3 != 0 && data.rows[i][0] >= 10 && data.rows[i][0] <= 80;
  EXPECT_EQ(number(subset.out, "bins"), inrange) << subset.out;
  const Table curve = Parse(ReadText(dir + "/some_fit.dat"));
  EXPECT_EQ(static_cast<int>(curve.rows.size()), inrange);
  EXPECT_GE(curve.rows.front()[0], 10.0);
  EXPECT_EQ(Femtokit({"fit", "-k", "kernel", "-t", "some.dat", "--qmin", "90", "--qmax", "80"}, dir).status, 2);

  // Levy on Gaussian data: the start from the Gaussian solution reaches the Gaussian's chi^2 (alpha = 2 is it).
  const Outcome levy = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "-m", "levy"}, dir);
  EXPECT_TRUE(levy.status == 0 || levy.status == 3) << levy.err;
  EXPECT_NE(levy.out.find("from the Gaussian solution"), std::string::npos) << levy.out;
  EXPECT_LE(number(levy.out, "chi^2"), number(gauss.out, "chi^2") + 1e-2) << levy.out;
  std::istringstream alpha(row(levy.out, "alpha"));
  std::string name;
  double value = 0.0;
  alpha >> name >> value;
  EXPECT_GT(value, 1.9) << levy.out;
  // Lost-norm warnings describe the final point: from R = 9 fm (13.5% of the
  // norm beyond the 30 fm mesh) the fit ends near 5 fm, where none is lost;
  // held at 9 fm, the final point's warning shows once, as cf gives it there.
  const Outcome far = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "-s", "R=9"}, dir);
  EXPECT_EQ(far.err.find("norm lies beyond"), std::string::npos) << far.err;
  EXPECT_NE(far.err.find("library warnings at trial points of the minimisation not shown"), std::string::npos);
  const Outcome held = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "-s", "R=9", "--fix", "R"}, dir);
  const Outcome cf = Femtokit({"cf", "-k", "kernel", "-s", "R=9", "-s", "lambdaX=0", "-o", "cf9.dat"}, dir);
  const std::string warning = cf.err.substr(0, cf.err.find('\n') + 1);
  EXPECT_EQ(warning.rfind("warning: 13.5% of the source's norm lies beyond the r mesh", 0), 0u) << cf.err;
  EXPECT_NE(held.err.find(warning), std::string::npos) << held.err;
  EXPECT_EQ(held.err.find(warning), held.err.rfind(warning));
  // Shown (--verbose), the trial points' warnings fold by kind, counted apart.
  const Outcome verbose = Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "-s", "R=9", "-v"}, dir);
  EXPECT_NE(verbose.err.find("more warnings like \"13.5% of the source's norm"), std::string::npos) << verbose.err;
  // Warnings start with "warning:" and each kind shows once.
  for (const Outcome *o : {&gauss, &failed, &bound, &units, &subset, &levy, &far, &held, &verbose}) {
    std::istringstream lines(o->err);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
      EXPECT_EQ(line.find("repetitions of the warnings above"), std::string::npos) << line;
    }
  }
}

TEST(FemtokitPlot, PicturesWithAxesAndUnitsOrAnInstallHint) {
  const std::string dir = Job("femtokit_plot");
  ASSERT_EQ(Femtokit({"run", "-p", ".", "-k", "kernel", "--cf-out", "d", "--errors-out", "e", "--seed", "5", "-o",
                      "run.dat"},
                     dir)
                .status,
            0);
  ASSERT_EQ(Femtokit({"cf", "-k", "kernel", "-o", "cf.dat", "--source-table", "s.dat"}, dir).status, 0);
  const Outcome missing = Femtokit({"plot", "run.dat", "-o", "run.png", "--script", "run.gp"}, dir,
                               {{"FEMTOKIT_GNUPLOT", dir + "/no-gnuplot"}});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(Lines(missing.err), 1) << missing.err;
  EXPECT_NE(missing.err.find("install it with 'sudo apt-get install gnuplot-nox'"), std::string::npos) << missing.err;
  // The script drawn: data with error bars and the curve, axes with units.
  const std::string script = ReadText(dir + "/run.gp");
  EXPECT_NE(script.find("set xlabel 'q (MeV/c)'"), std::string::npos);
  EXPECT_NE(script.find("using 1:2:3 with yerrorbars"), std::string::npos) << script;
  EXPECT_NE(script.find("using 1:4 with lines"), std::string::npos) << script;

  if (system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot is not installed";
  const Outcome png = Femtokit({"plot", "run.dat", "-o", "run.png"}, dir);
  ASSERT_EQ(png.status, 0) << png.err;
  EXPECT_EQ(ReadText(dir + "/run.png").substr(1, 3), "PNG");
  // Drawn into a private scratch file, the picture still ends up readable as any new file is.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(static_cast<unsigned>(fs::status(dir + "/run.png").permissions() & fs::perms::all),
            static_cast<unsigned>(0666 & ~mask));
  ASSERT_EQ(Femtokit({"plot", "cf.dat", "--data", "run.dat", "-o", "cf.svg"}, dir).status, 0);
  const std::string svg = ReadText(dir + "/cf.svg");
  EXPECT_NE(svg.find("q (MeV/c)"), std::string::npos);
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  ASSERT_EQ(Femtokit({"plot", "s.dat", "--r2", "-o", "s.svg"}, dir).status, 0);
  EXPECT_NE(ReadText(dir + "/s.svg").find("(fm"), std::string::npos);
}

// Every file in dir (names relative to it), hidden ones included.
std::vector<std::string> Files(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FemtokitLeftovers, AFailedRunLeavesNothingAndRunFindsTheShippedFiles) {
  const std::string dir = Job("femtokit_leftovers");
  ASSERT_EQ(Femtokit({"run", "-p", ".", "-k", "kernel", "--seed", "3", "--cf-out", "d", "--errors-out", "e", "-o",
                      "run.dat"},
                     dir)
                .status,
            0);
  const std::vector<std::string> before = Files(dir);
  // Destinations that cannot be written are refused before anything is.
  const Outcome array = Femtokit({"cf", "-k", "kernel", "--array", "run.dat", "-o", "cf.dat"}, dir);
  EXPECT_EQ(array.status, 2);
  EXPECT_NE(array.err.find("--array run.dat: is a file"), std::string::npos) << array.err;
  EXPECT_EQ(Femtokit({"source", "-o", "run.dat/s.dat"}, dir).status, 2);
  EXPECT_EQ(Femtokit({"kernel", "bosons", "--nq", "50000", "--nr", "50000", "-o", "big"}, dir).status, 2);
  const Outcome range = Femtokit({"cf", "-k", "kernel", "-s", "R=0", "-o", "zero.dat"}, dir);
  EXPECT_NE(range.status, 0);
  EXPECT_EQ(Femtokit({"plot", "run.dat", "-o", "p.png"}, dir, {{"FEMTOKIT_GNUPLOT", "/bin/false"}}).status, 1);
  EXPECT_EQ(Files(dir), before);

  // Outside the data layout the run takes the shipped parameter files; without a kernel
  // it says where to get one and draws no seed.
  const Outcome run = Femtokit({"run", "--seed", "1", "--cf-out", "d2", "--errors-out", "e2"}, dir,
                               {{"FEMTOKIT_DATA", dir + "/nowhere/data"}});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("compute it with 'femtokit kernel pp -o"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("seed"), std::string::npos) << run.err;
  fs::create_directories(dir + "/tree/data");
  fs::copy(fs::path(FEMTOKIT_SOURCE_DIR) / "data" / "pp", dir + "/tree/data/pp");
  ASSERT_EQ(Femtokit({"kernel", "pp", "--nq", "6", "--nr", "20", "-o", dir + "/tree/kdata/pp", "-q"}).status, 0);
  const Outcome shipped = Femtokit({"run", "--seed", "1", "--cf-out", "d2", "--errors-out", "e2"}, dir,
                                   {{"FEMTOKIT_DATA", dir + "/tree/data"}});
  EXPECT_NE(shipped.status, 0);  // data/pp's arrays want 60 bins; this kernel has 6: the library says so
  EXPECT_EQ(shipped.err.find("../parameters/pp"), std::string::npos) << shipped.err;
}

TEST(FemtokitMessages, LongFillsShowProgressWhenAsked) {
  const std::string dir = Job("femtokit_warnings");
  const Outcome bar = Femtokit({"source", "-m", "blast", "-s", "Nsample=600", "-o", "b.dat"}, dir,
                               {{"FEMTOKIT_PROGRESS", "1"}});
  ASSERT_EQ(bar.status, 0) << bar.err;
  EXPECT_NE(bar.err.find("blast source ["), std::string::npos) << bar.err;
  EXPECT_NE(bar.err.find("100%"), std::string::npos) << bar.err;
  const Outcome pipe = Femtokit({"source", "-m", "blast", "-s", "Nsample=600", "-o", "b.dat"}, dir);
  EXPECT_EQ(pipe.err.find("blast source ["), std::string::npos) << pipe.err;
}

// The axis expressions of the plot script, evaluated on a table's row, against
// the library's own value of the harmonic expansion along each axis.
TEST(FemtokitPlot, TitlesLegendsSeveralTablesAndTheFunctionAlongTheAxes) {
  const std::string dir = Job("femtokit_plot3d");
  ASSERT_EQ(Femtokit({"source", "-m", "gauss3d", "-s", "Rx=3", "-s", "Ry=2", "-s", "Rz=1.5", "--lmax", "4", "--nr",
                      "30", "--dr", "0.5", "-o", "s.dat", "--array", "s"},
                     dir)
                .status,
            0);
  const Outcome drawn = Femtokit({"plot", "s.dat", "-o", "pics/new/s.png", "--script", "s.gp"}, dir,
                                 {{"FEMTOKIT_GNUPLOT", "/bin/true"}});
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_TRUE(fs::exists(dir + "/pics/new/s.png"));  // gnuplot stood in for: its (empty) picture renamed into place
  const std::string script = ReadText(dir + "/s.gp");
  EXPECT_NE(script.find("set multiplot layout 2,1"), std::string::npos) << script;
  EXPECT_NE(script.find("Rx = 3 fm, Ry = 2 fm, Rz = 1.5 fm"), std::string::npos) << script;
  const Table t = Parse(ReadText(dir + "/s.dat"));
  CCHArray a(4, 30, 0.5, true, true, true);
  a.ReadAllA(dir + "/s");
  const int ir = 3;
  for (int axis = 0; axis < 3; axis++) {
    const char *names[] = {"S along x", "S along y", "S along z"};
    const size_t end = script.find(std::string("title '") + names[axis]);
    ASSERT_NE(end, std::string::npos) << script;
    const size_t start = script.rfind("using 1:(", end) + 9;
    const std::string e = script.substr(start, script.find(')', start) - start);
    double value = 0.0, coef = 1.0;
    for (size_t i = 0; i < e.size();) {  // "$2-1*$3+2*$6...": terms coef*$column
      if (e[i] == '$') {
        size_t n;
        const int column = std::stoi(e.substr(i + 1), &n);
        value += coef * t.rows[ir][column - 1];
        i += 1 + n;
        coef = 1.0;
      } else {
        size_t n;
        coef = std::stod(e.substr(i), &n);
        i += n + 1;  // past the '*'
      }
    }
    double ex[3] = {0, 0, 0};
    ex[axis] = 1.0;
    EXPECT_NEAR(value, a.AExpand(ex[0], ex[1], ex[2], ir), 1e-6 * std::fabs(value)) << names[axis] << ": " << e;
  }
  // Two fits of one table in one figure: the data once, each fit with its values and errors.
  ASSERT_EQ(Femtokit({"run", "-p", ".", "-k", "kernel", "--cf-out", "d", "--errors-out", "e", "--seed", "5", "-o",
                      "run.dat"},
                     dir)
                .status,
            0);
  ASSERT_EQ(Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "-o", "fit.dat"}, dir).status, 0);
  // Gaussian data: the Levy fit ends with alpha on its bound 2 (status 3).
  ASSERT_EQ(Femtokit({"fit", "-k", "kernel", "-t", "run.dat", "-m", "levy", "-o", "levy.dat"}, dir).status, 3);
  ASSERT_EQ(Femtokit({"plot", "fit.dat", "levy.dat", "--logx", "--projector", "-o", "fits.png", "--script", "f.gp"},
                     dir, {{"FEMTOKIT_GNUPLOT", "/bin/true"}})
                .status,
            0);
  const std::string fits = ReadText(dir + "/f.gp");
  EXPECT_NE(fits.find("set logscale x"), std::string::npos);
  EXPECT_NE(fits.find("font 'DejaVu Sans,26'"), std::string::npos) << fits;  // wider than 1600 for its legend
  EXPECT_NE(fits.find("gx1d fit: lambdaG = "), std::string::npos) << fits;
  EXPECT_NE(fits.find(" ± "), std::string::npos) << fits;
  EXPECT_NE(fits.find("levy fit: lambda = "), std::string::npos) << fits;
  EXPECT_NE(fits.find("linespoints"), std::string::npos) << fits;  // 25 bins: markers
  size_t data = 0;
  for (size_t at = fits.find("yerrorbars"); at != std::string::npos; at = fits.find("yerrorbars", at + 1)) data++;
  EXPECT_EQ(data, 1u) << fits;
}

#endif  // FEMTOKIT_CLI

TEST(FemtokitImage, ImagesACorrelationFunctionAndReportsTheFitAndItsRange) {
  // C(q) of a Gaussian source (R = 3 fm) through free bosons, with errors 0.01
  // and no noise: the image holds lambda and the header states what it is.
  const std::string dir = Job("femtokit_image");
  const Outcome cf = Femtokit({"cf", "-k", dir + "/kernel", "-s", "lambdaG=0.8", "-s", "R=3", "-s", "lambdaX=0", "-o",
                               dir + "/cf.dat"});
  ASSERT_EQ(cf.status, 0) << cf.err;
  const Table c = Parse(ReadText(dir + "/cf.dat"));
  {
    std::ofstream data(dir + "/data.dat");
    data << "# q C error\n";
    for (const auto &row : c.rows) data << row[0] << " " << row[1] << " 0.01\n";
  }
  const Outcome img = Femtokit({"image", "-k", dir + "/kernel", "-t", dir + "/data.dat", "--knots", "0:25:15", "-o",
                                dir + "/image.dat"});
  ASSERT_EQ(img.status, 0) << img.err;
  const std::string text = ReadText(dir + "/image.dat");
  const Table t = Parse(text);
  EXPECT_EQ(t.columns, (std::vector<std::string>{"r", "S", "error", "r2S", "r2error"}));
  for (const char *s : {"chi^2=", "dof=", "effective parameters=", "(gcv)", "resolved r range: ", "S >= 0"})
    EXPECT_NE(text.find(s), std::string::npos) << s;
  double norm = 0.0;
  for (const auto &row : t.rows) {
    EXPECT_NEAR(row[3], row[0] * row[0] * row[1], 1e-9 * (1 + std::fabs(row[3])));
    EXPECT_GE(row[1], -1e-12);
    norm += 4 * M_PI * row[3] * 0.5;
  }
  EXPECT_NEAR(norm, 0.8, 0.03);
  // A fixed strength and the l-curve; argument and library errors.
  EXPECT_EQ(Femtokit({"image", "-k", dir + "/kernel", "-t", dir + "/data.dat", "--regularisation", "1e-3"}).status, 0);
  EXPECT_EQ(Femtokit({"image", "-k", dir + "/kernel", "-t", dir + "/data.dat", "--regularisation", "lcurve"}).status, 0);
  const Outcome bad = Femtokit({"image", "-k", dir + "/kernel", "-t", dir + "/data.dat", "--knots", "0,4,3"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--knots 0,4,3"), std::string::npos) << bad.err;
  EXPECT_EQ(Femtokit({"image", "-k", dir + "/kernel", "-t", dir + "/data.dat", "--l", "2", "--positive"}).status, 2);
  const Outcome far = Femtokit({"image", "-k", dir + "/kernel", "-t", dir + "/data.dat", "--knots", "0:50:10"});
  EXPECT_EQ(far.status, 1);
  EXPECT_NE(far.err.find("last knot 50 fm"), std::string::npos) << far.err;
}
