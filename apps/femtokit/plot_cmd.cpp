// femtokit plot: PNG or SVG pictures of the program's tables through gnuplot.
#include "apps/femtokit/cli.h"

#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "source/sourceparameters.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <filesystem>
#include <fstream>

namespace fkcli {
namespace {

// The parts of text between separators as whole non-negative integers; empty
// when any part is not one (the strict number reader's syntax).
std::vector<long long> Integers(const std::string &text, char separator) {
  std::vector<long long> result;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    long long v;
    if (!femtokit::ParseInteger(text.substr(start, end - start), v) || v < 0) return {};
    result.push_back(v);
    if (end == std::string::npos) return result;
    start = end + 1;
  }
}

// chi^2 and dof from a fit table's line "chi^2=X, bins=N, dof=D; ...".
bool ChiSquareAndDof(const std::string &line, double &chi2, double &dof) {
  const size_t c = line.find("chi^2="), comma = line.find(',', c), d = line.find("dof=", comma);
  if (c == std::string::npos || comma == std::string::npos || d == std::string::npos) return false;
  const size_t e = line.find_first_of(",;", d);
  return femtokit::ParseNumber(line.substr(c + 6, comma - c - 6), chi2) &&
         femtokit::ParseNumber(line.substr(d + 4, e == std::string::npos ? std::string::npos : e - d - 4), dof);
}

struct PlotOptions {
  Common common;
  std::vector<std::string> tables;
  std::string out, data, title, script, size;
  int fontsize = 0;
  bool r2 = false, logy = false, logx = false, projector = false, nocomponents = false;
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

// What a table's header says about it: the pair (from the kernel directory),
// the source model, its parameters (with errors after a fit), chi^2/dof.
struct Header {
  std::string pair, model, chi2dof, chi2short, seed;
  struct Value {
    std::string name, value, error;
  };
  std::vector<Value> values;
};

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == ',' || s.back() == ';')) s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(0, 1);
  return s;
}

// "name=value" (or "name=value+-error") words after a prefix.
std::vector<Header::Value> Values(const std::string &text) {
  std::vector<Header::Value> values;
  std::istringstream words(text);
  std::string w;
  while (words >> w) {
    const size_t eq = w.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    Header::Value v{w.substr(0, eq), Trim(w.substr(eq + 1)), ""};
    const size_t pm = v.value.find("+-");
    if (pm != std::string::npos) {
      v.error = v.value.substr(pm + 2);
      v.value.erase(pm);
    }
    values.push_back(v);
  }
  return values;
}

// The pair's name as physicists write it, from its kernel directory's name.
std::string PairLabel(std::string dir) {
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  const std::string base = std::filesystem::path(dir).filename().string();
  static const std::map<std::string, std::string> names = {
      {"pp", "pp"},           {"pkplus", "pK+"},          {"ppiplus", "pπ+"},    {"pipluspiminus", "π+π−"},
      {"nn", "nn"},           {"pipluspiplus", "π+π+"},   {"kpluskplus", "K+K+"}, {"plambda", "pΛ"},
      {"lambdalambda", "ΛΛ"}, {"bosons", "free bosons"}};
  auto it = names.find(base);
  return it == names.end() ? base : it->second;
}

Header ReadHeader(const Table &t) {
  Header h;
  for (const std::string &c : t.comments) {
    size_t at;
    if ((at = c.find("kernel: ")) != std::string::npos) {
      const std::string rest = c.substr(at + 8);
      h.pair = PairLabel(rest.substr(0, rest.find(" (")));
    }
    if (c.rfind("model: ", 0) == 0) h.model = Trim(c.substr(7, c.find(',') - 7));
    if (c.rfind("source: ", 0) == 0) {
      std::istringstream words(c.substr(8));
      words >> h.model;
      h.values = Values(c.substr(8 + h.model.size()));
    }
    if (c.rfind("best fit:", 0) == 0) h.values = Values(c.substr(9));
    double chi2, dof;
    if (c.rfind("chi^2=", 0) == 0 && ChiSquareAndDof(c, chi2, dof) && dof > 0) {
      h.chi2dof = femtokit::Format("χ²/dof = %.4g/%g = %.3g", chi2, dof, chi2 / dof);
      h.chi2short = femtokit::Format("χ²/dof = %.3g", chi2 / dof);
    }
    if ((at = c.find("noise seed ")) != std::string::npos) {
      std::istringstream words(c.substr(at + 11));
      words >> h.seed;
      h.seed = Trim(h.seed);
    }
  }
  return h;
}

// A value with its error, rounded to the error's second significant digit:
// "0.6020 ± 0.0074"; without an error the value as written.
std::string WithError(const std::string &value, const std::string &error) {
  double v, e;
  if (error.empty() || !femtokit::ParseNumber(value, v) || !femtokit::ParseNumber(error, e) || !(e > 0.0))
    return value + (error.empty() ? "" : " ± " + error);
  const int decimals = std::max(0, 1 - static_cast<int>(std::floor(std::log10(e))));
  return femtokit::Format("%.*f ± %.*f", decimals, v, decimals, e);
}

// "R = 4.997 ± 0.029 fm": values with their units, in the order of the
// model's table; after a fit only the fitted (free) parameters, which carry
// errors; parameters at a zero default (offsets, angles) only when set.
std::string ValuesText(const Header &h, size_t most) {
  const femtokit::SourceModel *model = femtokit::FindSourceModel(h.model);
  bool errors = false;
  for (const auto &v : h.values) errors = errors || !v.error.empty();
  std::vector<const Header::Value *> shown;
  if (model) {
    for (const femtokit::SourceParameter &p : model->parameters)
      for (const auto &v : h.values) {
        double x;
        if (v.name != p.name || (errors && v.error.empty())) continue;
        if (p.def == 0.0 && femtokit::ParseNumber(v.value, x) && x == 0.0) continue;
        shown.push_back(&v);
      }
  } else {
    for (const auto &v : h.values)
      if (!errors || !v.error.empty()) shown.push_back(&v);
  }
  std::string text;
  for (size_t i = 0; i < shown.size() && i < most; i++) {
    const femtokit::SourceParameter *p = model ? model->Find(shown[i]->name) : nullptr;
    text += (i ? ", " : "") + shown[i]->name + " = " + WithError(shown[i]->value, shown[i]->error);
    if (p && *p->unit && std::string(p->unit) != "c") text += std::string(" ") + p->unit;
  }
  if (shown.size() > most) text += ", ...";
  return text;
}

// Along an axis the expansion gives F(q e) = Sum_L A(L e): for (lx, ly, lz)
// with lx >= 2 the traceless relation A(lx, ly, lz) = -A(lx-2, ly+2, lz) -
// A(lx-2, ly, lz+2) reaches the stored components (lx <= 1).
void Expand(int lx, int ly, int lz, double coef, std::map<std::array<int, 3>, double> &out) {
  if (lx <= 1) {
    out[{lx, ly, lz}] += coef;
    return;
  }
  Expand(lx - 2, ly + 2, lz, -coef, out);
  Expand(lx - 2, ly, lz + 2, -coef, out);
}

// The components prefix_lx_ly_lz of a table by their indices (columns, 0-based).
std::map<std::array<int, 3>, int> Components(const Table &t, const std::string &prefix) {
  std::map<std::array<int, 3>, int> c;
  for (size_t i = 0; i < t.columns.size(); i++) {
    const std::string &name = t.columns[i];
    if (name.compare(0, prefix.size() + 1, prefix + "_") != 0) continue;
    const std::vector<long long> l = Integers(name.substr(prefix.size() + 1), '_');
    if (l.size() == 3) c[{int(l[0]), int(l[1]), int(l[2])}] = static_cast<int>(i);
  }
  return c;
}

// The function along each axis (x, y, z) as gnuplot expressions over the
// columns: average column + Sum_{L >= 1} A(L along the axis). Empty when the
// table has no components or the three equal the average everywhere.
std::vector<std::string> AxisExpressions(const Table &t, const std::string &prefix, int average) {
  const auto comps = Components(t, prefix);
  if (comps.empty()) return {};
  int lmax = 0;
  for (const auto &c : comps) lmax = std::max(lmax, c.first[0] + c.first[1] + c.first[2]);
  std::vector<std::string> expressions;
  bool differs = false;
  for (int axis = 0; axis < 3; axis++) {
    std::map<std::array<int, 3>, double> terms;
    for (int l = 1; l <= lmax; l++) {
      std::array<int, 3> idx = {0, 0, 0};
      idx[axis] = l;
      Expand(idx[0], idx[1], idx[2], 1.0, terms);
    }
    std::string e = femtokit::Format("($%d", average + 1);
    for (const auto &term : terms) {
      auto it = comps.find(term.first);
      if (it == comps.end() || term.second == 0.0) continue;  // absent by symmetry: zero
      e += femtokit::Format("%+g*$%d", term.second, it->second + 1);
      for (const auto &row : t.rows) differs = differs || std::fabs(term.second * row[it->second]) > 1e-12;
    }
    expressions.push_back(e + ")");
  }
  return differs ? expressions : std::vector<std::string>();
}

const char *const kColours[] = {"#1f4e9e", "#c0392b", "#1e8449", "#8e44ad", "#d35400", "#17202a"};

void RunPlot(PlotOptions &o) {
  ApplyCommon(o.common);
  std::string out = o.out;
  if (out.empty()) out = std::filesystem::path(o.tables[0]).replace_extension(".png").string();
  const std::string ext = std::filesystem::path(out).extension().string();
  if (ext != ".png" && ext != ".svg") ArgumentError("--output " + out, "expected a file name ending in .png or .svg");
  CheckTableOutput("--output", out);
  CheckTableOutput("--script", o.script);
  int width = 900, height = 600;
  if (o.projector) width = 1600, height = 1000;
  if (!o.size.empty()) {
    const std::vector<long long> wh = Integers(o.size, 'x');
    if (wh.size() == 2) width = static_cast<int>(std::min<long long>(wh[0], 100000)),
                        height = static_cast<int>(std::min<long long>(wh[1], 100000));
    if (wh.size() != 2 || width < 100 || height < 100 || width > 10000 || height > 10000)
      ArgumentError("--size " + o.size, "expected WIDTHxHEIGHT in pixels, each from 100 to 10000, e.g. 1600x1000");
  }
  const int fontsize = o.fontsize > 0 ? o.fontsize : o.projector ? 26 : 12;
  const double scale = fontsize / 12.0;

  std::vector<Table> tables;
  std::vector<std::string> kinds;
  std::vector<Header> headers;
  for (const std::string &name : o.tables) {
    tables.push_back(ReadTable(name));
    kinds.push_back(Kind(tables.back()));
    headers.push_back(ReadHeader(tables.back()));
  }
  for (size_t i = 1; i < kinds.size(); i++)
    if ((kinds[i] == "source") != (kinds[0] == "source"))
      ArgumentError("TABLE " + o.tables[i], "a source S(r) and a correlation function C(q) do not share a figure");
  const bool source = kinds[0] == "source", several = tables.size() > 1;
  if (!source && o.r2) ArgumentError("--r2", "r^2 S(r) is drawn from a source table, not from a correlation function");

  // Components along the axes: one table that carries them, unless --no-components.
  std::vector<std::string> axes;
  if (!several && !o.nocomponents && !(source && o.r2)) {
    const Table &t = tables[0];
    const int average = t.Column(source ? "S" : "C");
    if (average >= 0) axes = AxisExpressions(t, source ? "S" : "C", average);
  }
  if (!axes.empty() && o.size.empty()) height = height * 8 / 5;

  std::string script = "@TERMINAL@";
  script += "set output " + Quote("@OUTPUT@") + "\nset grid lc rgb '#dddddd'\n";
  script += "@KEY@";
  script += "set encoding utf8\n";

  // The title: --title, else the pair(s) and, for one fit, chi^2/dof.
  std::string title = o.title;
  if (title.empty()) {
    std::string pair = headers[0].pair;
    for (const Header &h : headers)
      if (h.pair != pair) pair.clear();
    if (!pair.empty()) title = pair + (source ? "" : ": correlation function");
    if (!several && kinds[0] == "fit" && !headers[0].chi2dof.empty())
      title += (title.empty() ? "" : ", ") + headers[0].model + " fit, " + headers[0].chi2dof;
  }
  // An image's resolved r range goes into the title.
  if (o.title.empty() && source)
    for (const std::string &c : tables[0].comments)
      if (c.rfind("resolved r range: ", 0) == 0) {
        const std::string range = c.substr(0, c.find(" ("));
        title += (title.empty() ? "" : ", image; ") + range;
      }
  if (!title.empty()) script += "set title " + Quote(title) + " noenhanced\n";
  if (o.logy) script += "set logscale y\nset format y '10^{%L}'\n";
  if (o.logx) script += "set logscale x\nset autoscale xfix\n";
  if (!axes.empty()) script += "set multiplot layout 2,1\n";

  std::vector<std::string> parts;
  for (size_t i = 0; i < tables.size(); i++) {
    const Table &t = tables[i];
    const Header &h = headers[i];
    const std::string file = Quote(o.tables[i]);
    // Colours: one table, data blue and curve red; several, one colour each.
    const char *data = several ? kColours[i % 6] : kColours[0], *curve = several ? kColours[i % 6] : kColours[1];
    // Coarse bins: markers on the curve's points.
    const bool coarse = t.rows.size() < 40;
    const std::string curvestyle =
        femtokit::Format(coarse ? "with linespoints lc rgb '%s' lw 2.2 pt 6 ps %g" : "with lines lc rgb '%s' lw 2.2",
                         curve, 0.8 * scale);
    const std::string datastyle = femtokit::Format("with yerrorbars lc rgb '%s' pt 7 ps %g lw 1.2", data, 0.7 * scale);
    const std::string values = ValuesText(h, several ? 3 : 6);
    const std::string tag = several ? " [" + std::filesystem::path(o.tables[i]).filename().string() + "]" : "";
    if (source) {
      if (t.Column("S") < 0)
        femtokit::FatalFile(o.tables[i], "%s: a source table needs the columns r and S\n", o.tables[i].c_str());
      const int r = t.Column("r") + 1, s = t.Column("S") + 1;
      // An image (columns S and error): the 1-sigma band under its curve.
      if (t.Column("error") >= 0) {
        const int e = t.Column("error") + 1;
        const std::string band = o.r2 ? femtokit::Format("(($%d)**2*($%d-$%d)):(($%d)**2*($%d+$%d))", r, s, e, r, s, e)
                                      : femtokit::Format("($%d-$%d):($%d+$%d)", s, e, s, e);
        std::string chi = h.chi2short.empty() ? "" : ", " + h.chi2short;
        parts.push_back(femtokit::Format("%s using %d:%s with filledcurves lc rgb '%s' fs transparent solid 0.3 noborder "
                                         "title %s",
                                         file.c_str(), r, band.c_str(), curve, Quote("image ± 1σ" + chi + tag).c_str()));
        parts.push_back(o.r2 ? femtokit::Format("%s using %d:(($%d)**2*$%d) %s notitle", file.c_str(), r, r, s,
                                                curvestyle.c_str())
                             : femtokit::Format("%s using %d:%d %s notitle", file.c_str(), r, s, curvestyle.c_str()));
        continue;
      }
      const std::string label = (o.r2 ? "r² S(r)" : "S(r)") + std::string(h.model.empty() ? "" : ", " + h.model) +
                                (values.empty() ? "" : ": " + values) + tag;
      parts.push_back(o.r2 ? femtokit::Format("%s using %d:(($%d)**2*$%d) %s title %s", file.c_str(), r, r, s,
                                              curvestyle.c_str(), Quote(label).c_str())
                           : femtokit::Format("%s using %d:%d %s title %s", file.c_str(), r, s, curvestyle.c_str(),
                                              Quote(label).c_str()));
      continue;
    }
    const int q = t.Column("q") >= 0 ? t.Column("q") + 1 : 1;
    const int cexp = GnuplotColumn(t, {"C_exp"}), err = GnuplotColumn(t, {"error"});
    const int model = GnuplotColumn(t, {"C_fit", "C_theory", "C"});
    // The curve first, so the data points lie on top of it.
    if (model) {
      std::string label = kinds[i] == "fit" ? h.model + " fit" : kinds[i] == "run" ? "exact" : h.model;
      if (!values.empty()) label += (label.empty() ? "" : ": ") + values;
      if (several && kinds[i] == "fit" && !h.chi2short.empty()) label += "; " + h.chi2short;
      parts.push_back(femtokit::Format("%s using %d:%d %s title %s", file.c_str(), q, model, curvestyle.c_str(),
                                       Quote(label.empty() ? "model" + tag : label).c_str()));
    }
    // Data already drawn from another table (fits of the same points) are drawn once.
    bool drawn = false;
    for (size_t j = 0; j < i && cexp && err; j++) {
      const int jc = tables[j].Column("C_exp"), je = tables[j].Column("error"), jq = tables[j].Column("q");
      if (jc < 0 || je < 0 || tables[j].rows.size() != t.rows.size()) continue;
      bool same = true;
      for (size_t r = 0; r < t.rows.size() && same; r++)
        same = tables[j].rows[r][jc] == t.rows[r][cexp - 1] && tables[j].rows[r][je] == t.rows[r][err - 1] &&
               (jq < 0 || tables[j].rows[r][jq] == t.rows[r][q - 1]);
      drawn = drawn || same;
    }
    if (cexp && err && !drawn) {
      const std::string label = "data" + (h.seed.empty() ? "" : " (noise seed " + h.seed + ")") + tag;
      parts.push_back(femtokit::Format("%s using %d:%d:%d %s title %s", file.c_str(), q, cexp, err, datastyle.c_str(),
                                       Quote(label).c_str()));
    }
  }
  if (!o.data.empty()) {
    if (source) ArgumentError("--data", "measured points go with a correlation function, not with a source");
    const Table d = ReadTable(o.data);
    int dq = d.Column("q") + 1, dc = GnuplotColumn(d, {"C_exp", "C"}), de = GnuplotColumn(d, {"error"});
    if (dq <= 0 || dc == 0 || de == 0) dq = 1, dc = 2, de = 3;
    if (d.rows[0].size() < 3) femtokit::FatalFile(o.data, "%s: data need the columns q, C, error\n", o.data.c_str());
    parts.push_back(femtokit::Format("%s using %d:%d:%d with yerrorbars lc rgb '%s' pt 7 ps %g lw 1.2 title 'data'",
                                     Quote(o.data).c_str(), dq, dc, de, kColours[0], 0.7 * scale));
  }
  // The legend: under the axes, a line per entry, where it hides no curve
  // (inside, bottom right, above a second panel); the picture widens to its
  // longest label unless --size says otherwise.
  size_t longest = 0;
  for (const std::string &part : parts) {
    const size_t at = part.rfind(" title '");
    if (at != std::string::npos) longest = std::max(longest, part.size() - at - 9);
  }
  const int needed = static_cast<int>(longest * 0.62 * fontsize * 1.1) + 140;
  if (o.size.empty() && needed > width) width = needed;
  const std::string key =
      axes.empty() ? femtokit::Format("set bmargin %g\nset key at screen 0.01, screen 0.01 bottom left Left reverse box "
                                      "noenhanced opaque\n",
                                      4.5 + 1.25 * parts.size())
                   : "set key inside bottom right Left reverse box noenhanced opaque\n";
  script.replace(script.find("@KEY@"), 5, key);
  if (parts.empty())
    femtokit::FatalFile(o.tables[0], "%s: no column to draw (expected C, or C_exp and error)\n", o.tables[0].c_str());
  if (source)
    script += o.r2 ? "set xlabel 'r (fm)'\nset ylabel 'r^2 S(r) (fm^{-1})'\n" : "set xlabel 'r (fm)'\nset ylabel 'S(r) (fm^{-3})'\n";
  else
    script += "set xlabel 'q (MeV/c)'\nset ylabel 'C(q) (angular average)'\n";
  script += "plot " + CLI::detail::join(parts, ", \\\n     ") + "\n";
  if (!axes.empty()) {
    const Table &t = tables[0];
    const int x = (source ? t.Column("r") : std::max(0, t.Column("q"))) + 1;
    const bool coarse = t.rows.size() < 40;
    const char *names[] = {"x", "y", "z"};
    std::vector<std::string> lines;
    for (int a = 0; a < 3; a++)
      lines.push_back(femtokit::Format("%s using %d:%s with %s lc rgb '%s' lw 2.2 dt %d%s title '%s along %s'",
                                       Quote(o.tables[0]).c_str(), x, axes[a].c_str(), coarse ? "linespoints" : "lines",
                                       kColours[a + 2], a + 1,
                                       coarse ? femtokit::Format(" pt %d ps %g", 4 + 2 * a, 0.8 * scale).c_str() : "",
                                       source ? "S" : "C", names[a]));
    script += "unset title\nset key inside bottom right Left reverse box opaque\n";
    script += source ? "set ylabel 'S along the axes (fm^{-3})'\n" : "set ylabel 'C(q) along the axes'\n";
    script += "plot " + CLI::detail::join(lines, ", \\\n     ") + "\nunset multiplot\n";
  }

  {
    std::string t = femtokit::Format(
        ext == ".png" ? "set terminal pngcairo size %d,%d enhanced font 'DejaVu Sans,%d' linewidth %g\n"
                      : "set terminal svg size %d,%d enhanced font 'DejaVu Sans,%d' linewidth %g background rgb 'white'\n",
        width, height, fontsize, scale);
    script.replace(script.find("@TERMINAL@"), 10, t);
  }
  // The picture is drawn beside its place and renamed once gnuplot succeeded.
  const std::filesystem::path target(out);
  if (!target.parent_path().empty()) femtokit::MakeDirectory(target.parent_path().string());
  std::string drawn = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  {
    const int fd = mkstemp(&drawn[0]);
    if (fd < 0) femtokit::FatalFile(out, "femtokit plot: cannot write %s\n", out.c_str());
    close(fd);
  }
  const std::string shown = script;  // the kept script names the real output
  script.replace(script.find("@OUTPUT@"), 8, drawn);
  std::string kept = shown;
  kept.replace(kept.find("@OUTPUT@"), 8, out);

  std::string scriptfile = o.script;
  if (!scriptfile.empty()) {
    const std::filesystem::path sp(scriptfile);
    if (!sp.parent_path().empty()) femtokit::MakeDirectory(sp.parent_path().string());
    std::ofstream s(scriptfile);
    s << kept;
    s.close();
    if (!s) {
      std::remove(drawn.c_str());
      femtokit::FatalFile(scriptfile, "cannot write the gnuplot script %s\n", scriptfile.c_str());
    }
  }
  const std::string gnuplot = FindGnuplot();
  if (gnuplot.empty()) {
    std::remove(drawn.c_str());
    femtokit::Fatal("femtokit plot: gnuplot is not installed; install it with 'sudo apt-get install gnuplot-nox'%s\n",
                    scriptfile.empty() ? "" : (" and run 'gnuplot " + scriptfile + "'").c_str());
  }
  char name[] = "/tmp/femtokit_plot_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) {
    std::remove(drawn.c_str());
    femtokit::Fatal("femtokit plot: cannot create a temporary script file\n");
  }
  close(fd);
  const std::string runfile = name;
  std::ofstream(runfile) << script;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    execl(gnuplot.c_str(), gnuplot.c_str(), runfile.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  std::remove(runfile.c_str());
  GivePlainPermissions(drawn);
  if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::rename(drawn.c_str(), out.c_str()) != 0) {
    std::remove(drawn.c_str());
    femtokit::FatalFile(out, "femtokit plot: gnuplot (%s) failed on %s; nothing written to %s\n", gnuplot.c_str(),
                        o.tables[0].c_str(), out.c_str());
  }
  Status(o.common, "plot of %s written to %s\n", CLI::detail::join(o.tables, ", ").c_str(), out.c_str());
}

}  // namespace

void AddPlot(CLI::App &app) {
  auto o = std::make_shared<PlotOptions>();
  CLI::App *sub = app.add_subcommand("plot", "PNG or SVG pictures of C(q) (data, errors, model) and of S(r), through gnuplot");
  sub->add_option("TABLE", o->tables, "Tables to draw (several: in one figure, one colour each)")
      ->required()
      ->check(CLI::ExistingFile);
  sub->add_option("-o,--output", o->out, "Picture to write, .png or .svg [default: TABLE with .png]")->type_name("FILE");
  sub->add_option("--data", o->data, "Measured points to draw over a model curve: table of q, C, error")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  sub->add_flag("--r2", o->r2, "Draw r^2 S(r) instead of S(r)");
  sub->add_flag("--logy", o->logy, "Logarithmic vertical axis (sources)");
  sub->add_flag("--logx", o->logx, "Logarithmic horizontal axis");
  sub->add_option("--size", o->size, "Picture size in pixels [default: 900x600; taller with components]")
      ->type_name("WxH");
  sub->add_option("--font-size", o->fontsize, "Font size in points (lines and markers scale with it) [default: 12]")
      ->type_name("PT")
      ->check(Integer(4, 100));
  sub->add_flag("--projector", o->projector, "Readable on a projector: 1600x1000 pixels, 26 pt, thick lines");
  sub->add_flag("--no-components", o->nocomponents,
                "Only the angular average, also for a table with Cartesian-harmonic components");
  sub->add_option("--title", o->title, "Title above the plot")->type_name("TEXT");
  sub->add_option("--script", o->script, "Also keep the gnuplot script, to adjust and rerun")->type_name("FILE");
  AddCommon(sub, o->common, false);
  sub->footer(std::string("Draws a table of this program as PNG or SVG through gnuplot (Debian package gnuplot-nox):\n"
      "a correlation function C(q) against q (MeV/c) from 'cf' (the model curve), 'run' or 'fit' (data\n"
      "points with error bars and the exact or best-fit curve), or a source S(r) (fm^-3) against r (fm)\n"
      "from 'source', 'cf --source-table' or 'image' (a band of S +- error; r^2 S(r) in fm^-1 with --r2). The format follows the\n"
      "output's extension. Title and legend come from the tables' headers: the pair, the model and its\n"
      "values (after a fit with errors, and chi^2/dof). A single table with Cartesian-harmonic components\n"
      "(C_lx_ly_lz, S_lx_ly_lz) gets a second panel with the function along the x, y and z axes,\n"
      "F(q e) = Sum_L A(L along e), unless it equals the angular average. Curves of fewer than 40 bins\n"
      "carry markers. The output's directory is created when missing.") + "\n\n" + 
      "Examples:\n"
      "  femtokit plot fit.dat -o fit.png           # data with errors and the best fit\n"
      "  femtokit plot cf.dat --data run.dat -o cf.svg\n"
      "  femtokit plot source.dat --r2 -o source.png\n"
      "  femtokit plot image.dat truth.dat --r2 -o image.png   # imaged source with the true one\n"
      "  femtokit plot fit_gauss.dat fit_levy.dat --logx --projector -o talk/fits.png");
  sub->callback([o] { RunPlot(*o); });
}

}  // namespace fkcli
