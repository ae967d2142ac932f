// femtokit image: the source S(r) imaged from a measured correlation function.
#include "apps/femtokit/cli.h"

#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"
#include "fit/image.h"
#include "kernel/kernel.h"

#include <cmath>

namespace fkcli {
namespace {

struct ImageInputs {
  Common common;
  std::string kernel, kpars, table, out = "-", knots, regularisation = "gcv", l = "0";
  int order = 4;
  bool positive = false, free = false;  // neither: S >= 0 for l = 0
  double lambda = NAN;
};

// Numbers of a comma-separated list, or LO:HI:N (N intervals of equal width).
std::vector<double> ParseKnots(const std::string &text) {
  std::vector<double> knots;
  const auto error = [&] {
    ArgumentError("--knots " + text, "expected knots in fm as a comma-separated list (0,1,2.5,...) or LO:HI:N "
                                     "(N intervals of equal width from LO to HI)");
  };
  if (text.find(':') != std::string::npos) {
    const size_t a = text.find(':'), b = text.find(':', a + 1);
    double lo, hi;
    long long n;
    if (b == std::string::npos || !femtokit::ParseNumber(text.substr(0, a), lo) ||
        !femtokit::ParseNumber(text.substr(a + 1, b - a - 1), hi) || !femtokit::ParseInteger(text.substr(b + 1), n) ||
        n < 1 || n > 10000 || !(hi > lo))
      error();
    for (long long k = 0; k <= n; k++) knots.push_back(lo + (hi - lo) * static_cast<double>(k) / n);
    return knots;
  }
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(',', start);
    double v;
    if (!femtokit::ParseNumber(text.substr(start, end - start), v)) error();
    knots.push_back(v);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (size_t k = 0; k < knots.size(); k++)
    if (knots[k] < 0.0 || (k > 0 && !(knots[k] > knots[k - 1])))
      ArgumentError("--knots " + text, femtokit::Format("knots must be >= 0 and strictly increasing; %g fm at "
                                                        "position %zu is not", knots[k], k + 1));
  return knots;
}

// --l: "L" (a table q, C_L, error) or "lx,ly,lz" (the column C_lx_ly_lz of a
// table with harmonic components, as 'femtokit cf' writes them).
std::vector<int> ParseComponent(const std::string &text) {
  std::vector<int> l;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find_first_of(",_", start);
    long long v;
    if (!femtokit::ParseInteger(text.substr(start, end - start), v) || v < 0 || v > 64)
      ArgumentError("--l " + text, "expected the order L (0, 2, ...) or a component lx,ly,lz");
    l.push_back(static_cast<int>(v));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (l.size() != 1 && l.size() != 3) ArgumentError("--l " + text, "expected the order L or a component lx,ly,lz");
  return l;
}

void RunImage(ImageInputs &in) {
  ApplyCommon(in.common);
  CheckTableOutput("--output", in.out);
  const std::vector<int> comp = ParseComponent(in.l);
  const int L = comp.size() == 1 ? comp[0] : comp[0] + comp[1] + comp[2];
  femtokit::ImageOptions o;
  o.l = L;
  o.order = in.order;
  if (!in.knots.empty()) o.knots = ParseKnots(in.knots);
  if (in.positive && in.free) ArgumentError("--positive/--no-positive", "give one of them");
  if (in.positive && L > 0)
    ArgumentError("--positive", femtokit::Format("S >= 0 holds for the angle average (l = 0), not for l = %d", L));
  o.positive = in.positive || (!in.free && L == 0);
  if (!std::isnan(in.lambda)) {
    if (L > 0) ArgumentError("--lambda", "a fixed normalisation is for the angle average (l = 0)");
    o.lambda = in.lambda;
  }
  if (in.regularisation == "gcv") {
    o.criterion = femtokit::ImageCriterion::GCV;
  } else if (in.regularisation == "lcurve") {
    o.criterion = femtokit::ImageCriterion::LCurve;
  } else {
    double a;
    if (!femtokit::ParseNumber(in.regularisation, a) || !(a >= 0.0) || !std::isfinite(a))
      ArgumentError("--regularisation " + in.regularisation, "expected gcv, lcurve or a strength >= 0");
    o.criterion = femtokit::ImageCriterion::Fixed;
    o.alpha = a;
  }

  std::unique_ptr<CKernel> kernel = LoadKernel(in.kernel, in.kpars);
  const Table t = ReadTable(in.table);
  int iq = t.Column("q"), ic = -1, ie = -1;
  std::string cname = "C";
  if (comp.size() == 3 && L > 0) {
    cname = ComponentName("C", comp);
    ic = t.Column(cname);
    ie = t.Column(ComponentName("error", comp));
    if (ie < 0) ie = t.Column("error");
    if (ic < 0 || ie < 0 || iq < 0)
      femtokit::FatalFile(in.table, "%s: no columns q, %s and %s (or error)\n", in.table.c_str(), cname.c_str(),
                          ComponentName("error", comp).c_str());
  } else {
    ic = t.Column(L == 0 ? "C_exp" : "-"), ie = t.Column("error");
    if (ic < 0 && L == 0) ic = t.Column("C");
    if (iq < 0 || ic < 0 || ie < 0) iq = 0, ic = 1, ie = 2;
    if (t.rows[0].size() < 3)
      femtokit::FatalFile(in.table, "%s: the table needs the columns q (MeV/c), %s and error\n", in.table.c_str(),
                          L == 0 ? "C" : "C_L");
  }
  femtokit::ImageData data;
  for (const auto &row : t.rows) {
    data.q.push_back(row[static_cast<size_t>(iq)]);
    data.cf.push_back(row[static_cast<size_t>(ic)] - (L == 0 ? 1.0 : 0.0));
    data.error.push_back(row[static_cast<size_t>(ie)]);
  }
  const femtokit::ImageResult res = femtokit::Image(*kernel, data, o);

  Table out;
  const std::string what = L == 0 ? "S(r)" : comp.size() == 3 ? ComponentName("S", comp) : femtokit::Format("S_%d", L);
  out.comments = {"femtokit image: " + what + " imaged from " + in.table + " (" + (L == 0 ? "C" : cname) + ")",
                  "kernel: " + in.kernel + " (" + DescribeKernel(*kernel) + "), projection l=" + std::to_string(L)};
  for (const std::string &s : res.Summary()) out.comments.push_back(s);
  double enorm;
  const double norm = res.Integral(res.knots.front(), res.knots.back(), &enorm);
  out.comments.push_back(femtokit::Format("integral 4 pi Int r^2 S dr = %.5g +- %.2g%s", norm, enorm,
                                          std::isnan(o.lambda) ? "" : " (fixed)"));
  out.comments.push_back("r: fm; S: the image, fm^-3; error: its 1-sigma error (from the covariance); r2S, r2error: "
                         "r^2 S and r^2 error, fm^-1");
  out.columns = {"r", "S", "error", "r2S", "r2error"};
  for (size_t k = 0; k < res.r.size(); k++) {
    const double r = res.r[k];
    out.rows.push_back({r, res.s[k], res.error[k], r * r * res.s[k], r * r * res.error[k]});
  }
  if (MainProcess()) {
    for (const std::string &s : res.Summary()) Status(in.common, "%s\n", s.c_str());
    WriteTable(in.out, out);
    if (in.out != "-") Status(in.common, "image written to %s\n", in.out.c_str());
  }
}

}  // namespace

void AddImage(CLI::App &app) {
  auto in = std::make_shared<ImageInputs>();
  CLI::App *sub = app.add_subcommand("image", "The source S(r) imaged from a measured correlation function, with errors");
  sub->add_option("--kernel,-k", in->kernel, "Kernel directory")->required()->type_name("DIR");
  sub->add_option("--kpars", in->kpars, "Kernel mesh file [default: DIR/kparameters.dat]")->type_name("FILE");
  sub->add_option("--table,-t", in->table, "Measured C(q) as a table: q (MeV/c), C, error")->required()->type_name("FILE");
  sub->add_option("-o,--output", in->out, "Image table to write ('-': standard output)")->type_name("FILE")->capture_default_str();
  sub->add_option("--knots", in->knots, "Basis breakpoints in fm: a list 0,1,2.5,... or LO:HI:N [default: 0:RMAX:16, "
                                        "RMAX the kernel's r reach]")
      ->type_name("LIST");
  sub->add_option("--order", in->order, "B-spline order: 1 bins (piecewise constant), 2 linear, 4 cubic")
      ->check(Integer(1, 8))
      ->capture_default_str();
  sub->add_flag("--positive", in->positive, "S(r) >= 0 (the default for l = 0)");
  sub->add_flag("--no-positive", in->free, "S(r) of either sign");
  sub->add_option("--regularisation", in->regularisation,
                  "Strength of the smoothness penalty: gcv (generalised cross-validation), lcurve (L-curve corner) "
                  "or a number >= 0")
      ->type_name("CRIT|VALUE")
      ->capture_default_str();
  sub->add_option("--lambda", in->lambda, "Fix the normalisation 4 pi Int r^2 S dr [default: free]")
      ->type_name("VALUE")
      ->check(Number());
  sub->add_option("--l", in->l, "Component: the order L (a table q, C_L, error) or lx,ly,lz (the column C_lx_ly_lz "
                                "and error_lx_ly_lz or error)")
      ->type_name("L|LX,LY,LZ")
      ->capture_default_str();
  AddCommon(sub, in->common, false);
  sub->footer(
      "Images the source: finds S(r) = Sum_j c_j B_j(r) on a radial basis (B-splines of --order on --knots)\n"
      "minimising chi^2 + alpha s ||S''||^2 against the measured C(q) through the kernel, with C(q) - 1 =\n"
      "4 pi Int r^2 K_0(q, r) S(r) dr (l = 0; C_l and S_l through K_l for a harmonic component), S >= 0 by\n"
      "non-negative least squares, alpha chosen by generalised cross-validation (or the L-curve, or given).\n"
      "The table's header gives chi^2 of the image against the data, the degrees of freedom (points minus\n"
      "effective parameters, the trace of the influence matrix), the strength and its criterion, and the\n"
      "resolved r range: from pi hbar c/(2 q_max) (finer structure is not resolved) to the last knot, or to\n"
      "pi hbar c/(2 dq) for q bins of dq. Columns: r (fm), S (fm^-3), error, r2S = r^2 S and r2error (fm^-1).\n"
      "Errors are propagated from the data through the regularised linear map (bias not included).\n\n"
      "Examples:\n"
      "  femtokit image -k kdata/pp -t run.dat -o source.dat\n"
      "  femtokit image -k kdata/pp -t run.dat --knots 0:30:20 --regularisation lcurve -o source.dat\n"
      "  femtokit image -k kdata/bosons -t cf.dat --l 0,0,2 --knots 0:30:20 -o s002.dat\n"
      "  femtokit plot source.dat truth.dat --r2 -o source.png   # the band, with the truth overlaid");
  sub->callback([in] { RunImage(*in); });
}

}  // namespace fkcli
