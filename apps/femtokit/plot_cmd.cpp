// femtokit plot: PNG or SVG pictures of the program's tables through gnuplot.
#include "apps/femtokit/cli.h"

#include "config/fatal.h"
#include "config/output.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fkcli {
namespace {

struct PlotOptions {
  Common common;
  std::string table, out, data, title, script;
  bool r2 = false, logy = false;
};

// gnuplot's single-quoted string: a quote is doubled.
std::string Quote(const std::string &text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}

// The gnuplot program: FEMTOKIT_GNUPLOT when set, else "gnuplot" on PATH; "" when missing.
std::string FindGnuplot() {
  const char *env = std::getenv("FEMTOKIT_GNUPLOT");
  if (env && *env) return access(env, X_OK) == 0 ? std::string(env) : std::string();
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t colon = dirs.find(':', start);
    std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/gnuplot";
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return "";
}

// Index (1-based, for gnuplot) of the first present column of the names, or 0.
int GnuplotColumn(const Table &t, std::initializer_list<const char *> names) {
  for (const char *n : names) {
    const int i = t.Column(n);
    if (i >= 0) return i + 1;
  }
  return 0;
}

// "source" (columns r, S), else "fit", "run" or "cf" from the table's first header line.
std::string Kind(const Table &t) {
  if (t.Column("r") >= 0) return "source";
  for (const std::string &c : t.comments)
    for (const char *k : {"fit", "run"})
      if (c.rfind(std::string("femtokit ") + k + ":", 0) == 0) return k;
  return "cf";
}

void RunPlot(PlotOptions &o) {
  ApplyCommon(o.common);
  std::string out = o.out;
  if (out.empty()) out = std::filesystem::path(o.table).replace_extension(".png").string();
  const std::string ext = std::filesystem::path(out).extension().string();
  if (ext != ".png" && ext != ".svg") ArgumentError("--output " + out, "expected a file name ending in .png or .svg");

  const Table t = ReadTable(o.table);
  const std::string kind = Kind(t);
  std::string script = ext == ".png" ? "set terminal pngcairo size 900,600 enhanced font 'DejaVu Sans,12'\n"
                                     : "set terminal svg size 900,600 enhanced font 'DejaVu Sans,12' background rgb 'white'\n";
  script += "set output " + Quote(out) + "\nset grid lc rgb '#dddddd'\nset key top right box opaque\n";
  script += "set style line 1 lc rgb '#1f4e9e' pt 7 ps 0.7 lw 1.2\nset style line 2 lc rgb '#c0392b' lw 2.2\n";
  if (!o.title.empty()) script += "set title " + Quote(o.title) + "\n";
  if (o.logy) script += "set logscale y\nset format y '10^{%L}'\n";
  std::string plot;
  const std::string file = Quote(o.table);
  if (kind == "source") {
    if (t.Column("r") < 0 || t.Column("S") < 0)
      femtokit::FatalFile(o.table, "%s: a source table needs the columns r and S\n", o.table.c_str());
    const int r = t.Column("r") + 1, s = t.Column("S") + 1;
    script += "set xlabel 'r (fm)'\n";
    if (o.r2) {
      script += "set ylabel 'r^2 S(r) (fm^{-1})'\n";
      plot = femtokit::Format("plot %s using %d:(($%d)**2*$%d) with lines ls 2 title 'r^2 S(r)'", file.c_str(), r, r, s);
    } else {
      script += "set ylabel 'S(r) (fm^{-3})'\n";
      plot = femtokit::Format("plot %s using %d:%d with lines ls 2 title 'S(r)'", file.c_str(), r, s);
    }
  } else {
    if (o.r2) ArgumentError("--r2", "r^2 S(r) is drawn from a source table, not from a correlation function");
    script += "set xlabel 'q (MeV/c)'\nset ylabel 'C(q)'\n";
    const int q = t.Column("q") >= 0 ? t.Column("q") + 1 : 1;
    const int cexp = GnuplotColumn(t, {"C_exp"}), err = GnuplotColumn(t, {"error"});
    const int model = GnuplotColumn(t, {"C_fit", "C_theory", "C"});
    // The curve first, so the data points lie on top of it.
    std::vector<std::string> parts;
    if (model) {
      const char *label = kind == "fit" ? "fit" : kind == "run" ? "exact" : "model";
      parts.push_back(femtokit::Format("%s using %d:%d with lines ls 2 title '%s'", file.c_str(), q, model, label));
    }
    if (cexp && err)
      parts.push_back(femtokit::Format("%s using %d:%d:%d with yerrorbars ls 1 title 'data'", file.c_str(), q, cexp, err));
    if (!o.data.empty()) {
      const Table d = ReadTable(o.data);
      int dq = d.Column("q") + 1, dc = GnuplotColumn(d, {"C_exp", "C"}), de = GnuplotColumn(d, {"error"});
      if (dq <= 0 || dc == 0 || de == 0) dq = 1, dc = 2, de = 3;
      if (d.rows[0].size() < 3) femtokit::FatalFile(o.data, "%s: data need the columns q, C, error\n", o.data.c_str());
      parts.push_back(
          femtokit::Format("%s using %d:%d:%d with yerrorbars ls 1 title 'data'", Quote(o.data).c_str(), dq, dc, de));
    }
    if (parts.empty())
      femtokit::FatalFile(o.table, "%s: no column to draw (expected C, or C_exp and error)\n", o.table.c_str());
    plot = "plot " + CLI::detail::join(parts, ", \\\n     ");
  }
  script += plot + "\n";

  std::string scriptfile = o.script;
  if (!scriptfile.empty()) {
    std::ofstream s(scriptfile);
    s << script;
    s.close();
    if (!s) femtokit::FatalFile(scriptfile, "cannot write the gnuplot script %s\n", scriptfile.c_str());
  }
  const std::string gnuplot = FindGnuplot();
  if (gnuplot.empty())
    femtokit::Fatal("femtokit plot: gnuplot is not installed; install it with 'sudo apt-get install gnuplot-nox'%s\n",
                    scriptfile.empty() ? "" : (" and run 'gnuplot " + scriptfile + "'").c_str());
  if (scriptfile.empty()) {
    char name[] = "/tmp/femtokit_plot_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) femtokit::Fatal("femtokit plot: cannot create a temporary script file\n");
    close(fd);
    scriptfile = name;
    std::ofstream(scriptfile) << script;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    execl(gnuplot.c_str(), gnuplot.c_str(), scriptfile.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  if (o.script.empty()) std::remove(scriptfile.c_str());
  if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    femtokit::FatalFile(out, "femtokit plot: gnuplot (%s) failed on %s; nothing written to %s\n", gnuplot.c_str(),
                        o.table.c_str(), out.c_str());
  Status(o.common, "plot of %s written to %s\n", o.table.c_str(), out.c_str());
}

}  // namespace

void AddPlot(CLI::App &app) {
  auto o = std::make_shared<PlotOptions>();
  CLI::App *sub = app.add_subcommand("plot", "PNG or SVG pictures of C(q) (data, errors, model) and of S(r), through gnuplot");
  sub->add_option("TABLE", o->table, "Table to draw")->required()->check(CLI::ExistingFile);
  sub->add_option("-o,--output", o->out, "Picture to write, .png or .svg [default: TABLE with .png]")->type_name("FILE");
  sub->add_option("--data", o->data, "Measured points to draw over a model curve: table of q, C, error")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  sub->add_flag("--r2", o->r2, "Draw r^2 S(r) instead of S(r)");
  sub->add_flag("--logy", o->logy, "Logarithmic vertical axis (sources)");
  sub->add_option("--title", o->title, "Title above the plot")->type_name("TEXT");
  sub->add_option("--script", o->script, "Also keep the gnuplot script, to adjust and rerun")->type_name("FILE");
  AddCommon(sub, o->common, false);
  sub->footer(std::string("Draws a table of this program as PNG or SVG through gnuplot (Debian package gnuplot-nox):\n"
      "a correlation function C(q) against q (MeV/c) from 'cf' (the model curve), 'run' or 'fit' (data\n"
      "points with error bars and the exact or best-fit curve), or a source S(r) (fm^-3) against r (fm)\n"
      "from 'source' or 'cf --source-table' (r^2 S(r) in fm^-1 with --r2). The format follows the\n"
      "output's extension.") + "\n\n" + 
      "Examples:\n"
      "  femtokit plot fit.dat -o fit.png           # data with errors and the best fit\n"
      "  femtokit plot cf.dat --data run.dat -o cf.svg\n"
      "  femtokit plot source.dat --r2 -o source.png");
  sub->callback([o] { RunPlot(*o); });
}

}  // namespace fkcli
