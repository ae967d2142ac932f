// femtokit fit: a source model fitted to a measured correlation function.
#include "apps/femtokit/cli.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "fit/cf2sfit.h"
#include "fit/feeddown.h"
#include "fit/smearing.h"
#include "kernel/kernel.h"
#include "source/sourcecalc.h"
#include "source/sourceparameters.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <fstream>
#include <map>

namespace fkcli {
namespace {

struct FitOptions {
  Common common;
  Settings settings;
  std::string kernel, kpars, data, errors, table, model = "gx1d", minimiser = "auto", feeddown, smearing, out;
  std::string units = "q/MeV";
  std::vector<std::string> free, fix, parents;
  int iterations = -1;
  double qmin = -1.0, qmax = -1.0;
};

// A fit parameter: the step (error) scale and the allowed range (the model's
// own range, from its table), and whether it is free.
struct FitPar {
  std::string name;
  double error, xmin, xmax;
  bool free;
};

// The models the fit knows: the parameters it fits, those free unless --fix,
// and starting values that differ from the model's defaults (with the reason
// in the help text).
struct FitModel {
  std::vector<std::string> fitted, freed;
  std::vector<std::pair<std::string, double>> start;
  const char *note;
};

const std::map<std::string, FitModel> &FitModels() {
  static const std::map<std::string, FitModel> models = {
      {"gx1d",
       {{"lambdaG", "R", "lambdaX", "X", "a"},
        {"lambdaG", "R"},
        {{"lambdaX", 0.0}},
        "the tail starts off (lambdaX=0; --free lambdaX,X fits it); a acts on L > 0 only, not on the fitted "
        "angle average"}},
      {"levy",
       {{"lambda", "R", "alpha"},
        {"lambda", "R", "alpha"},
        {},
        "with alpha free, a second fit starts from the Gaussian solution (alpha = 2 held, then freed); the lower "
        "chi^2 wins"}},
      {"blast",
       {{"lambda", "R", "Tau", "DelTau"},
        {"lambda", "R"},
        {},
        "the Monte-Carlo samples are the same at every evaluation"}},
  };
  return models;
}

// The parameters of a fit from the model's table: steps and ranges.
std::vector<FitPar> FitParameters(const std::string &model, const FitModel &fm) {
  const femtokit::SourceModel *table = femtokit::FindSourceModel(model);
  std::vector<FitPar> pars;
  for (const std::string &name : fm.fitted) {
    const femtokit::SourceParameter *p = table->Find(name);
    const bool free = std::find(fm.freed.begin(), fm.freed.end(), name) != fm.freed.end();
    pars.push_back({name, p->step, p->minOpen ? std::nextafter(p->min, HUGE_VAL) : p->min,
                    p->maxOpen ? std::nextafter(p->max, -HUGE_VAL) : p->max, free});
  }
  return pars;
}

// The fit models' starting points and free parameters, from the tables.
std::string FitModelHelp() {
  std::string text = "Starting points (the models' defaults unless said) and free parameters:\n";
  for (const auto &kv : FitModels()) {
    const femtokit::SourceModel *table = femtokit::FindSourceModel(kv.first);
    std::string line = "  " + kv.first + ":";
    for (const std::string &name : kv.second.fitted) {
      const femtokit::SourceParameter *p = table->Find(name);
      double value = p->def;
      for (const auto &st : kv.second.start)
        if (st.first == name) value = st.second;
      line += " " + ParameterText(*p, value);
    }
    text += line + "; free: " + CLI::detail::join(kv.second.freed, ", ") + "\n    (" + kv.second.note + ")\n";
  }
  return text;
}

// A model filled whole at every evaluation, whatever component is fitted:
// the fit writes its trial values into this object's spars, which are handed
// to the model before each fill. Models that add into their array (event
// samples) get a zeroed array. The blast wave's generator restarts at every
// fill, so chi^2 is a smooth function of the parameters (the same samples,
// moved), not Monte-Carlo noise.
class WholeFill : public CSourceCalc {
 public:
  explicit WholeFill(std::unique_ptr<CSourceCalc> model) : model_(std::move(model)) { spars = model_->spars; }
  void CalcS(CCHArray *A) override {
    model_->spars = spars;
    model_->RestartSampling(-1234);
    A->ZeroArray();
    model_->CalcS(A);
  }
  void CalcS(int, int, int, CCHArray *A) override { CalcS(A); }
  const femtokit::SourceModel *Model() const override { return model_->Model(); }

 private:
  std::unique_ptr<CSourceCalc> model_;
};

// Component (0,0,0) of an array directory: the values of lx0_ly0_lz0.tmp
// and its bin width. Fails (library error naming the file): missing file,
// bad header, fewer values than announced.
std::vector<double> ReadComponent(const std::string &dir, double &radstep) {
  const std::string file = dir + "/lx0_ly0_lz0.tmp";
  femtokit::NumberReader in(file);
  if (!in.IsOpen()) femtokit::FatalFile(file, "Reading Error: %s, does not exist\n", file.c_str());
  long long n = 0;
  if (!in.Next(n, 1, INT_MAX, "NRADIAL") || !in.Next(radstep, "RADSTEP") || !(radstep > 0.0))
    femtokit::FatalFile(file, "Reading Error: %s has no valid header (NRADIAL RADSTEP)\n", file.c_str());
  std::vector<double> values;  // grows with what the file holds, not with the announced count
  for (long long i = 0; i < n; i++) {
    double v;
    if (!in.Next(v, "value"))
      femtokit::FatalFile(file, "Reading Error: %s holds %lld readable values, %lld expected\n", file.c_str(), i, n);
    values.push_back(v);
  }
  in.WarnIfTrailing();
  return values;
}

// Measured C(q) - 1 and errors of the (0,0,0) component on a bin-centred mesh
// of nq bins of dq MeV/c; bins without a measurement (rows the table leaves
// out, or outside --qmin/--qmax) have an infinite error and no weight.
struct Measured {
  std::vector<double> cm1, error;
  double dq = 0.0;
  int measured = 0;
};

// The factor from a table's q column to femtokit's q (the momentum of one
// particle in the pair frame, k*, in MeV/c) and a label, from --units
// VARIABLE/UNIT: q, kstar or k* (all k*), qinv or q_inv (= 2 k*); MeV or GeV.
double UnitsFactor(const std::string &units, std::string &label) {
  const size_t slash = units.find_first_of("/,:");
  const std::string variable = units.substr(0, slash), unit = slash == std::string::npos ? "" : units.substr(slash + 1);
  double factor;
  if (variable == "q" || variable == "kstar" || variable == "k*")
    factor = 1.0;
  else if (variable == "qinv" || variable == "q_inv")
    factor = 0.5;
  else
    ArgumentError("--units " + units, "expected VARIABLE/UNIT with VARIABLE q, kstar (k*, = q) or qinv (= 2 k*) and "
                                      "UNIT MeV or GeV, e.g. qinv/GeV");
  if (unit == "MeV" || unit == "MeV/c")
    ;
  else if (unit == "GeV" || unit == "GeV/c")
    factor *= 1000.0;
  else
    ArgumentError("--units " + units, "expected the unit MeV or GeV after the variable, e.g. qinv/GeV");
  label = variable + " in " + unit;
  return factor;
}

// True when every row's q is a bin centre (i + 0.5) dq.
bool OnMesh(const std::vector<std::array<double, 3>> &rows, double dq) {
  for (const auto &row : rows) {
    const double k = row[0] / dq - 0.5;
    if (std::fabs(k - std::round(k)) > 1e-4 || k < -1e-4) return false;
  }
  return true;
}

// Rows (q in MeV/c, C - 1, error) on a bin-centred mesh: the kernel's when the
// rows are some of its bins, else the one whose spacing is the smallest step
// between rows (rows may leave bins out). That spacing must be plausible
// against the kernel's bins.
Measured FromRows(const std::string &file, const std::vector<std::array<double, 3>> &rows, const CKernel &kernel,
                  const std::string &units, double factor) {
  Measured m;
  const double kdq = kernel.GetDELQ();
  double dq = rows.size() > 1 ? HUGE_VAL : 2.0 * rows[0][0];
  for (size_t i = 1; i < rows.size(); i++) {
    if (!(rows[i][0] > rows[i - 1][0]))
      femtokit::FatalFile(file, "%s: q=%g in row %zu does not exceed the row before (q=%g)\n", file.c_str(),
                          rows[i][0] / factor, i + 1, rows[i - 1][0] / factor);
    dq = std::min(dq, rows[i][0] - rows[i - 1][0]);
  }
  if (OnMesh(rows, kdq)) dq = kdq;
  if (!(dq > 0.0) || !std::isfinite(dq))
    femtokit::FatalFile(file, "%s: no bin width follows from its q column\n", file.c_str());
  // A factor 5 either way: tables in GeV read as MeV (1000), q_inv as k* (2) and the like.
  if (dq < 0.2 * kdq || dq > 20.0 * kdq)
    ArgumentError("--units " + units, femtokit::Format("the table %s has q bins of %g MeV/c (%g as %s), implausible "
                                                       "against the kernel's bins of %g MeV/c; give the table's "
                                                       "units with --units (e.g. qinv/GeV)",
                                                       file.c_str(), dq, dq / factor, units.c_str(), kdq));
  m.dq = dq;
  for (const auto &row : rows) {
    const double k = row[0] / dq - 0.5;
    if (std::fabs(k - std::round(k)) > 1e-4 || k < -1e-4)
      femtokit::FatalFile(file, "%s: q=%g is not on the bin-centred mesh q = (i + 0.5) %g (%s) that its rows "
                          "step by\n",
                          file.c_str(), row[0] / factor, dq / factor, units.c_str());
    const size_t i = static_cast<size_t>(std::lround(k));
    if (m.cm1.size() <= i) {
      m.cm1.resize(i + 1, 0.0);
      m.error.resize(i + 1, HUGE_VAL);
    }
    m.cm1[i] = row[1];
    m.error[i] = row[2];
  }
  return m;
}

Measured ReadMeasured(const FitOptions &o, const CKernel &kernel) {
  Measured m;
  double factor = 1.0;
  if (!o.table.empty()) {
    std::string label;
    factor = UnitsFactor(o.units, label);
    const Table t = ReadTable(o.table);
    int iq = t.Column("q"), ic = t.Column("C_exp"), ie = t.Column("error");
    if (ic < 0) ic = t.Column("C");
    if (iq < 0 || ic < 0 || ie < 0) iq = 0, ic = 1, ie = 2;
    if (t.rows[0].size() < 3)
      femtokit::FatalFile(o.table, "%s: the table needs the columns q (MeV/c), C and error\n", o.table.c_str());
    std::vector<std::array<double, 3>> rows;
    for (const auto &row : t.rows) {
      const double q = row[static_cast<size_t>(iq)], e = row[static_cast<size_t>(ie)];
      if (!(e > 0.0))
        femtokit::FatalFile(o.table, "%s: the error %g at q=%g is not positive\n", o.table.c_str(), e, q);
      rows.push_back({q * factor, row[static_cast<size_t>(ic)] - 1.0, e});
    }
    m = FromRows(o.table, rows, kernel, o.units, factor);
  } else {
    double de = 0.0;
    m.cm1 = ReadComponent(o.data, m.dq);
    m.error = ReadComponent(o.errors, de);
    if (m.cm1.size() != m.error.size() || std::fabs(de - m.dq) > 1e-6 * m.dq)
      femtokit::FatalFile(o.errors, "%s: %zu bins of %g MeV/c, the data %s %zu bins of %g MeV/c\n", o.errors.c_str(),
                          m.error.size(), de, o.data.c_str(), m.cm1.size(), m.dq);
    for (size_t i = 0; i < m.error.size(); i++)
      if (!(m.error[i] > 0.0))
        femtokit::FatalFile(o.errors, "%s: the error %g in bin %zu is not positive\n", o.errors.c_str(), m.error[i], i);
  }
  // The fit range, in the units of the data's q.
  if (o.qmin >= 0.0 && o.qmax >= 0.0 && !(o.qmax > o.qmin))
    ArgumentError("--qmin/--qmax", femtokit::Format("expected qmin < qmax, got %g and %g", o.qmin, o.qmax));
  for (size_t i = 0; i < m.cm1.size(); i++) {
    const double q = (i + 0.5) * m.dq / factor;
    if ((o.qmin >= 0.0 && q < o.qmin) || (o.qmax >= 0.0 && q > o.qmax)) m.error[i] = HUGE_VAL;
  }
  while (!m.error.empty() && std::isinf(m.error.back())) {
    m.error.pop_back();
    m.cm1.pop_back();
  }
  for (double e : m.error) m.measured += std::isfinite(e) ? 1 : 0;
  if (m.measured == 0)
    ArgumentError("--qmin/--qmax", femtokit::Format("no measured bin lies in the fit range %g ... %g", o.qmin,
                                                    o.qmax < 0.0 ? HUGE_VAL : o.qmax));
  return m;
}

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

void RunFit(FitOptions &o) {
  ApplyCommon(o.common);
  if (o.table.empty() == (o.data.empty() && o.errors.empty()))
    ArgumentError("--table/--data", "expected either --table FILE or --data DIR with --errors DIR");
  if (o.table.empty() && (o.data.empty() || o.errors.empty()))
    ArgumentError(o.data.empty() ? "--data" : "--errors", o.data.empty() ? "expected with --errors (the measured C(q) - 1)"
                                                                         : "expected with --data (the errors of C(q) - 1)");
  auto fm = FitModels().find(o.model);
  if (fm == FitModels().end()) {
    std::vector<std::string> names;
    for (const auto &m : FitModels()) names.push_back(m.first);
    ArgumentError("--model " + o.model, "no fit of this model (expected one of " + CLI::detail::join(names, ", ") + ")");
  }
  const std::vector<std::string> tofree = SplitList(o.free), tofix = SplitList(o.fix);
  if (o.minimiser != "auto" && o.minimiser != "newton" && o.minimiser != "steepest" && o.minimiser != "metropolis")
    ArgumentError("--minimiser " + o.minimiser, "expected auto, newton, steepest or metropolis");
  if (!o.parents.empty() && o.feeddown.empty()) ArgumentError("--parent", "parent correlations need --feeddown FILE");

  // The model, started at the fit's defaults, then --pars and --set.
  std::unique_ptr<CSourceCalc> model = MakeSource(o.model, o.settings, "", fm->second.start);

  std::unique_ptr<CKernel> kernel = LoadKernel(o.kernel, o.kpars);
  const Measured m = ReadMeasured(o, *kernel);
  const bool sym = kernel->GetIDENTICAL();
  const int lmax = kernel->GetLMAX(), nq = static_cast<int>(m.cm1.size());
  CCHArray cexp(lmax, nq, m.dq, sym, sym, sym), cerror(lmax, nq, m.dq, sym, sym, sym);
  for (int i = 0; i < nq; i++) {
    cexp.SetElement(0, 0, 0, i, m.cm1[static_cast<size_t>(i)]);
    cerror.SetElement(0, 0, 0, i, m.error[static_cast<size_t>(i)]);
  }
  if (nq * m.dq > kernel->GetNQMAX() * kernel->GetDELQ() + 1e-9)
    femtokit::Warn("the data reach q = %g MeV/c, beyond the kernel's %g MeV/c; the model is 1 there\n", nq * m.dq,
                   kernel->GetNQMAX() * kernel->GetDELQ());

  std::unique_ptr<CFeedDown> feeddown;
  std::unique_ptr<CMomentumSmearing> smearing;
  std::vector<std::unique_ptr<CCHArray>> parentarrays;
  if (!o.feeddown.empty()) {
    feeddown = std::make_unique<CFeedDown>(o.feeddown);
    for (const std::string &p : o.parents) {
      const size_t eq = p.find('=');
      if (eq == std::string::npos || eq == 0) ArgumentError("--parent " + p, "expected NAME=TABLE");
      const std::string file = p.substr(eq + 1);
      const Table t = ReadTable(file);
      const double dq = 2.0 * t.rows[0][0];
      auto a = std::make_unique<CCHArray>(0, static_cast<int>(t.rows.size()), dq, true, true, true);
      for (size_t i = 0; i < t.rows.size(); i++) {
        if (t.rows[i].size() < 2 || std::fabs(t.rows[i][0] - (i + 0.5) * dq) > 1e-4 * dq)
          femtokit::FatalFile(file, "%s: row %zu is not (q, C) on a bin-centred mesh of %g MeV/c\n", file.c_str(), i + 1, dq);
        a->SetElement(0, 0, 0, static_cast<int>(i), t.rows[i][1] - 1.0);
      }
      feeddown->SetParentCorrelation(p.substr(0, eq), a.get());
      parentarrays.push_back(std::move(a));
    }
  }
  if (!o.smearing.empty()) smearing = std::make_unique<CMomentumSmearing>(o.smearing);

  // The model's correlation function: on the data's mesh, or with smearing on
  // the kernel's q mesh (the true mesh, which should reach beyond the data).
  const int nt = smearing ? kernel->GetNQMAX() : nq;
  const double dt = smearing ? kernel->GetDELQ() : m.dq;
  CCHArray ctheory(lmax, nt, dt, sym, sym, sym), cmodel(lmax, nq, m.dq, sym, sym, sym);
  CCHArray source(lmax, kernel->GetNRMAX(), kernel->GetDELR(), sym, sym, sym);
  WholeFill calc(std::move(model));

  // Parameters: the model's, then the feed-down lambdas (fixed unless freed).
  std::vector<FitPar> pars = FitParameters(o.model, fm->second);
  if (feeddown)
    for (const auto &kv : feeddown->lambdas) pars.push_back({kv.first, 0.02, 0.0, 1.0, false});
  for (const std::string &name : tofree) {
    bool known = false;
    for (FitPar &p : pars)
      if (p.name == name) p.free = known = true;
    if (!known) ArgumentError("--free " + name, "no fit parameter of this name");
  }
  for (const std::string &name : tofix) {
    bool known = false;
    for (FitPar &p : pars)
      if (p.name == name) p.free = false, known = true;
    if (!known) ArgumentError("--fix " + name, "no fit parameter of this name");
  }
  CCF2SFit fit;
  fit.npars = static_cast<int>(pars.size());
  fit.ndim = 1;
  fit.sourcecalc = &calc;
  fit.kernel = kernel.get();
  fit.cexpCH = &cexp;
  fit.cerrorCH = &cerror;
  fit.ctheoryCH = &ctheory;
  fit.sourceCH = &source;
  fit.feeddown = feeddown.get();
  fit.smearing = smearing.get();
  fit.cmodelCH = &cmodel;
  fit.Init();
  int nfree = 0;
  for (size_t i = 0; i < pars.size(); i++) {
    const FitPar &p = pars[i];
    const double value = feeddown && feeddown->lambdas.count(p.name) ? feeddown->GetLambda(p.name)
                                                                      : parameter::getD(calc.spars, p.name, 0.0);
    fit.par[i].Set(p.name, value, p.error, p.xmin, p.xmax);
    fit.StepMatrix[i][i] = p.error;
    fit.ErrorMatrix[i][i] = p.error * p.error;
    nfree += p.free;
  }
  for (const FitPar &p : pars)
    if (!p.free) fit.FixPar(p.name);
  if (nfree == 0) ArgumentError("--fix", "no free parameter left to fit");

  // auto (and the start of metropolis): steepest descent into the minimum's
  // basin, where Newton's quadratic model holds, then Newton for the minimum
  // and the error matrix. Warnings at the trial points are held: the final
  // point is evaluated again below with its own.
  std::string how;
  HoldWarnings held(o.common);
  auto descend = [&](int n) {
    fit.SteepestDescent(n);
    fit.Newton(2);
    fit.Newton(2);
  };
  // The minimiser as chosen, without Metropolis (which runs last, once).
  const std::string first = o.minimiser == "metropolis" ? "auto" : o.minimiser;
  auto minimise = [&]() {
    if (first == "auto") {
      descend(o.minimiser == "auto" && o.iterations > 0 ? o.iterations : 100);
    } else if (first == "newton") {
      for (int i = 0; i < (o.iterations > 0 ? o.iterations : 3); i++) fit.Newton(2);
    } else {
      fit.SteepestDescent(o.iterations > 0 ? o.iterations : 100);
      fit.Newton(1);
    }
  };
  if (first == "auto") {
    const int n = o.minimiser == "auto" && o.iterations > 0 ? o.iterations : 100;
    how = femtokit::Format("steepest descent (at most %d iterations), then 2 x 2 Newton-Raphson iterations; errors from "
                           "the chi^2 Hessian", n);
  } else if (first == "newton") {
    how = femtokit::Format("Newton-Raphson, %d x 2 iterations; errors from the chi^2 Hessian",
                           o.iterations > 0 ? o.iterations : 3);
  } else {
    how = femtokit::Format("steepest descent (at most %d iterations), then one Newton step for the errors",
                           o.iterations > 0 ? o.iterations : 100);
  }
  // A Levy fit with alpha free also starts from the Gaussian solution (alpha = 2
  // held, then freed); the fit with the lower chi^2 wins (a failed one loses).
  const int ialpha = fit.FindPar("alpha");
  if (o.model == "levy" && ialpha >= 0 && ialpha < fit.nfreepars) {
    struct State {
      std::vector<CParInfo> par;
      std::vector<std::vector<double>> errors, steps;
      int nfree;
      FitStatus status;
      double chi2;
    };
    auto save = [&] { return State{fit.par, fit.ErrorMatrix, fit.StepMatrix, fit.nfreepars, fit.status, fit.chi2}; };
    auto restore = [&](const State &st) {
      fit.par = st.par;
      fit.ErrorMatrix = st.errors;
      fit.StepMatrix = st.steps;
      fit.nfreepars = st.nfree;
      fit.status = st.status;
      fit.chi2 = st.chi2;
    };
    const State start = save();
    minimise();
    const State standard = save();
    restore(start);
    fit.SetPar("alpha", 2.0);
    fit.FixPar("alpha");
    minimise();
    fit.FreePar("alpha");
    minimise();
    const State gaussian = save();
    const bool takegauss = !standard.status.ok() || (gaussian.status.ok() && gaussian.chi2 < standard.chi2);
    restore(takegauss ? gaussian : standard);
    how += femtokit::Format("; from the standard start (chi^2 %.6g, %s) and from the Gaussian solution (chi^2 %.6g, "
                            "%s): the %s one",
                            standard.chi2, standard.status.CodeName(), gaussian.chi2, gaussian.status.CodeName(),
                            takegauss ? "Gaussian" : "standard");
  } else {
    minimise();
  }
  if (o.minimiser == "metropolis") {
    const int n = o.iterations > 0 ? o.iterations : 4000;
    fit.UpdateMetroStepSize();
    fit.Metropolis(n / 2);
    fit.UpdateMetroStepSize();
    fit.Metropolis(n - n / 2);
    const FitStatus chain = fit.status;
    fit.UpdateMetroStepSize();
    for (int i = 0; i < fit.nfreepars; i++) fit.par[static_cast<size_t>(i)].value = fit.par[static_cast<size_t>(i)].xbar;
    fit.status = chain;
    fit.UpdateBoundStatus();
    how = femtokit::Format("auto, then Metropolis, %d steps; values and errors: mean and covariance of the last %d", n,
                           n - n / 2);
  }
  const int heldcount = held.Count();
  held.Release();
  // The final point fills the model arrays for the curve; its warnings show.
  std::vector<double> x;
  for (int i = 0; i < fit.nfreepars; i++) x.push_back(fit.par[static_cast<size_t>(i)].value);
  fit.chi2 = fit.GetChiSquared(x);
  if (heldcount > 0)
    Status(o.common, "fit: %d library warning%s at trial points of the minimisation not shown (--verbose shows them)\n",
           heldcount, heldcount == 1 ? "" : "s");
  // A REMAINDER lambda is written back by the decomposition at every evaluation.
  if (feeddown)
    for (CParInfo &p : fit.par)
      if (p.fixed && feeddown->lambdas.count(p.name)) p.value = feeddown->GetLambda(p.name);
  const CCHArray &fitted = (feeddown || smearing) ? cmodel : ctheory;

  std::string text = "fit of " + o.model + " to " + (o.table.empty() ? o.data : o.table) + " through " + o.kernel +
                     " (" + how + ")\n" + fit.FitTable();
  if (fit.status.errorsvalid) {
    text += "error matrix (covariance of the free parameters):\n";
    text += femtokit::Format("%12s", "");
    for (int j = 0; j < fit.nfreepars; j++) text += femtokit::Format(" %12s", fit.par[static_cast<size_t>(j)].name.c_str());
    text += "\n";
    for (int i = 0; i < fit.nfreepars; i++) {
      text += femtokit::Format("%12s", fit.par[static_cast<size_t>(i)].name.c_str());
      for (int j = 0; j < fit.nfreepars; j++)
        text += femtokit::Format(" %12.4e", fit.ErrorMatrix[static_cast<size_t>(i)][static_cast<size_t>(j)]);
      text += "\n";
    }
  } else {
    text += "error matrix: none (no error estimate at the final point)\n";
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  if (!fit.status.ok()) {
    std::fprintf(stderr, "femtokit fit: the fit failed: %s%s\n", fit.status.reason.c_str(),
                 o.out.empty() ? "" : "; no curve written");
    SetExitStatus(kExitFitFailed);
    return;
  }
  if (fit.status.code == FitStatus::Code::AtBound) {
    std::fprintf(stderr, "femtokit fit: warning: the best point lies on a bound of the allowed range: %s\n",
                 fit.status.reason.c_str());
    SetExitStatus(kExitFitAtBound);
  }

  if (!o.out.empty()) {
    Table t;
    t.comments = {"femtokit fit: measured correlation function and the best fit",
                  "model: " + o.model + ", kernel: " + o.kernel + " (" + DescribeKernel(*kernel) + ")",
                  femtokit::Format("chi^2=%g, bins=%d, dof=%d; %s", fit.chi2, fit.GetNBins(), fit.GetNDOF(), how.c_str()),
                  "status: " + fit.status.Text()};
    std::string best = "best fit:";
    for (const CParInfo &p : fit.par) best += femtokit::Format(" %s=%g", p.name.c_str(), p.value);
    t.comments.push_back(best.substr(0, 400));
    t.comments.push_back("q: MeV/c; C_exp and error: the measured C(q); C_fit: the model" +
                         std::string(feeddown || smearing ? " after feed-down and smearing" : ""));
    t.columns = {"q", "C_exp", "error", "C_fit"};
    for (int i = 0; i < nq; i++)
      if (std::isfinite(cerror.GetElement(0, 0, 0, i)))
        t.rows.push_back({(i + 0.5) * m.dq, 1.0 + cexp.GetElement(0, 0, 0, i), cerror.GetElement(0, 0, 0, i),
                        1.0 + fitted.GetElement(0, 0, 0, i)});
    WriteTable(o.out, t);
    Status(o.common, "best-fit curve written to %s\n", o.out.c_str());
  }
}

}  // namespace

void AddFit(CLI::App &app) {
  auto o = std::make_shared<FitOptions>();
  CLI::App *sub = app.add_subcommand("fit", "Fit of a source model to a measured correlation function");
  sub->add_option("--kernel,-k", o->kernel, "Kernel directory")->required()->type_name("DIR");
  sub->add_option("--kpars", o->kpars, "Kernel mesh file [default: DIR/kparameters.dat]")->type_name("FILE");
  sub->add_option("--table,-t", o->table, "Measured C(q) as a table: q (MeV/c), C, error")->type_name("FILE");
  sub->add_option("--data", o->data, "Measured C(q) - 1 as an array directory")->type_name("DIR");
  sub->add_option("--errors", o->errors, "Its errors as an array directory")->type_name("DIR");
  sub->add_option("--units", o->units, "The table's q column: VARIABLE/UNIT, VARIABLE q or kstar (k*, the momentum of one "
                                       "particle in the pair frame) or qinv (= 2 k*), UNIT MeV or GeV")
      ->type_name("VAR/UNIT")
      ->capture_default_str();
  sub->add_option("--qmin", o->qmin, "Fit range: lowest q fitted (units of the data's q column)")
      ->type_name("Q")
      ->check(CLI::Validator(
          [](std::string &text) -> std::string {
            double v;
            return femtokit::ParseNumber(text, v) && v >= 0.0 ? "" : "expected a number >= 0, got '" + text + "'";
          },
          "", "q"));
  sub->add_option("--qmax", o->qmax, "Fit range: highest q fitted (units of the data's q column)")
      ->type_name("Q")
      ->check(Positive());
  sub->add_option("--model,-m", o->model, "Source model to fit: gx1d, levy or blast")->type_name("MODEL")->capture_default_str();
  AddSettings(sub, o->settings, "Start value of a parameter, NAME=VALUE (repeatable; units as in 'femtokit cf --help')",
              "Parameter file of the model's start values; --set overrides it");
  sub->add_option("--free", o->free, "Parameters to free (comma-separated; also feed-down lambdaGen, lambda_<name>)")
      ->type_name("NAMES");
  sub->add_option("--fix", o->fix, "Parameters to hold at their start values (comma-separated)")->type_name("NAMES");
  sub->add_option("--minimiser", o->minimiser, "auto (steepest descent, then Newton), newton, steepest or metropolis (after auto)")
      ->capture_default_str()->type_name("NAME");
  sub->add_option("--iterations,-n", o->iterations,
                  "auto, steepest: descent iterations [100]; newton: Newton(2) calls [3]; metropolis: steps [4000]")
      ->type_name("N")
      ->check(Integer(1, 100000000));
  sub->add_option("--feeddown", o->feeddown, "Feed-down (lambda) decomposition parameter file")->type_name("FILE");
  sub->add_option("--parent", o->parents, "Parent correlation of a direct or matrix residual: NAME=TABLE (q, C)")
      ->type_name("NAME=TABLE");
  sub->add_option("--smearing", o->smearing, "Momentum-smearing parameter file (the model is then computed on the "
                                             "kernel's q mesh)")
      ->type_name("FILE");
  sub->add_option("-o,--output", o->out, "Best-fit curve table: q, C_exp, error, C_fit")->type_name("FILE");
  AddCommon(sub, o->common, true);
  sub->footer(std::string("Fits a source model to the angle-averaged measured correlation function C(q) (its (0,0,0) component)\n"
      "through a kernel: each evaluation fills the source, transforms it, applies the optional feed-down\n"
      "decomposition and momentum smearing, and takes chi^2 against the data. The data are a table\n"
      "(columns q in MeV/c, C, error; as 'femtokit run -o' or 'femtokit fit -o' write it) or array\n"
      "directories of C(q) - 1 and its errors (as the main job writes them). Prints the parameter table\n"
      "(name, value, error, free), chi^2 and the error matrix; -o writes the best-fit curve.") + "\n\n" +
      FitModelHelp() + "--set, --pars, --free and --fix change them; each parameter's range and step come from its model\n"
      "(see 'femtokit cf --help').\n"
      "With --feeddown its lambdas (lambdaGen, lambda_<name>) are fit parameters too, fixed unless --free.\n"
      "A table's rows may be some of the kernel's q bins (or of their own bin-centred mesh); --qmin/--qmax\n"
      "restrict the fit. Tables in other units: --units qinv/GeV (q_inv = 2 k*; femtokit's q is k*).\n"
      "The table ends with the fit's status: converged, at a bound (which parameter) or failed (why).\n"
      "Exit status: 0 converged; 3 converged with a parameter on a bound of its range; 4 the fit failed\n"
      "(values are where it stopped, no errors, no curve written); 1 and 2 as for every subcommand.\n\n"
      "Examples (the main job's output, from run/work; a table from 'femtokit run -o'):\n"
      "  femtokit fit -k ../../kdata/pp --kpars ../parameters/pp/kparameters.dat --data GX1d/pp --errors GX1d/pp_errors\n"
      "  femtokit fit -k kdata/pp --table run.dat --minimiser metropolis -o fit.dat");
  sub->callback([o] { RunFit(*o); });
}

}  // namespace fkcli
