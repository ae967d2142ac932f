// femtokit fit: a source model fitted to a measured correlation function.
#include "apps/femtokit/cli.h"
#include "apps/femtokit/threed.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/parametermap.h"
#include "fit/cf2sfit.h"
#include "fit/feeddown.h"
#include "fit/smearing.h"
#include "kernel/kernel.h"
#include "source/sourcecalc.h"
#include "source/sourcecalc_blast.h"

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
  std::vector<std::string> free, fix, parents;
  int iterations = -1;
  // gauss3d: a 3D table, its frame and the projections table.
  FrameOptions frame;
  std::string projections;
};

// Fit parameters of a model: the step (error) scale and the allowed range.
struct FitPar {
  std::string name;
  double error, xmin, xmax;
  bool free;
};

struct FitModel {
  std::vector<std::pair<std::string, double>> start;  // starting values before --pars and --set
  std::vector<FitPar> pars;
};

const std::map<std::string, FitModel> &FitModels() {
  static const std::map<std::string, FitModel> models = {
      {"gx1d",
       {{{"lambdaG", 0.5}, {"R", 4.0}, {"lambdaX", 0.0}, {"X", 10.0}, {"a", 5.0}},
        {{"lambdaG", 0.02, 0.0, 1.5, true},
         {"R", 0.2, 1.0, 12.0, true},
         {"lambdaX", 0.02, 0.0, 1.5, false},
         {"X", 0.4, 1.0, 25.0, false},
         {"a", 0.2, 1.0, 20.0, false}}}},
      {"levy",
       {{{"lambda", 0.5}, {"R", 5.0}, {"alpha", 1.5}},
        {{"lambda", 0.02, 0.0, 1.5, true}, {"R", 0.2, 0.5, 20.0, true}, {"alpha", 0.05, 0.5, 2.0, true}}}},
      {"blast",
       {{},
        {{"lambda", 0.05, 0.0, 1.5, true},
         {"R", 0.5, 5.0, 20.0, true},
         {"Tau", 0.5, 5.0, 20.0, false},
         {"DelTau", 0.5, 0.0, 20.0, false}}}},
  };
  return models;
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
    if (auto *blast = dynamic_cast<CSourceCalc_Blast *>(model_.get())) blast->randy.reset(-1234);
    A->ZeroArray();
    model_->CalcS(A);
  }
  void CalcS(int, int, int, CCHArray *A) override { CalcS(A); }

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

// Measured C(q) - 1 and errors of the (0,0,0) component on a bin-centred mesh.
struct Measured {
  std::vector<double> cm1, error;
  double dq = 0.0;
};

Measured ReadMeasured(const FitOptions &o) {
  Measured m;
  if (!o.table.empty()) {
    const Table t = ReadTable(o.table);
    int iq = t.Column("q"), ic = t.Column("C_exp"), ie = t.Column("error");
    if (ic < 0) ic = t.Column("C");
    if (iq < 0 || ic < 0 || ie < 0) iq = 0, ic = 1, ie = 2;
    if (t.rows[0].size() < 3)
      femtokit::FatalFile(o.table, "%s: the table needs the columns q (MeV/c), C and error\n", o.table.c_str());
    m.dq = 2.0 * t.rows[0][static_cast<size_t>(iq)];
    for (size_t i = 0; i < t.rows.size(); i++) {
      const auto &row = t.rows[i];
      const double q = row[static_cast<size_t>(iq)], e = row[static_cast<size_t>(ie)];
      if (!(m.dq > 0.0) || std::fabs(q - (i + 0.5) * m.dq) > 1e-4 * m.dq)
        femtokit::FatalFile(o.table,
                            "%s: q=%g in row %zu is not on the bin-centred mesh q = (i + 0.5) %g MeV/c that the "
                            "first row starts\n",
                            o.table.c_str(), q, i + 1, m.dq);
      if (!(e > 0.0))
        femtokit::FatalFile(o.table, "%s: the error %g at q=%g is not positive\n", o.table.c_str(), e, q);
      m.cm1.push_back(row[static_cast<size_t>(ic)] - 1.0);
      m.error.push_back(e);
    }
    return m;
  }
  double de = 0.0;
  m.cm1 = ReadComponent(o.data, m.dq);
  m.error = ReadComponent(o.errors, de);
  if (m.cm1.size() != m.error.size() || std::fabs(de - m.dq) > 1e-6 * m.dq)
    femtokit::FatalFile(o.errors, "%s: %zu bins of %g MeV/c, the data %s %zu bins of %g MeV/c\n", o.errors.c_str(),
                        m.error.size(), de, o.data.c_str(), m.cm1.size(), m.dq);
  for (size_t i = 0; i < m.error.size(); i++)
    if (!(m.error[i] > 0.0))
      femtokit::FatalFile(o.errors, "%s: the error %g in bin %zu is not positive\n", o.errors.c_str(), m.error[i], i);
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
  if (o.model == "gauss3d") {
    if (!o.data.empty() || !o.errors.empty() || !o.feeddown.empty() || !o.smearing.empty() || !o.parents.empty())
      ArgumentError("--model gauss3d", "fits a 3D table (--table); it takes no --data, --errors, --feeddown, "
                                       "--parent or --smearing");
    Fit3DInputs in;
    in.common = o.common;
    in.settings = o.settings;
    in.kernel = o.kernel;
    in.kpars = o.kpars;
    in.table = o.table;
    in.minimiser = o.minimiser;
    in.out = o.out;
    in.projections = o.projections;
    in.free = o.free;
    in.fix = o.fix;
    in.frame = o.frame;
    in.iterations = o.iterations;
    RunFit3D(in);
    return;
  }
  if (!o.projections.empty() || !o.frame.frame.empty()) ArgumentError("--projections/--frame", "serve -m gauss3d");
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
  const Measured m = ReadMeasured(o);
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
  std::vector<FitPar> pars = fm->second.pars;
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
  // and the error matrix.
  std::string how;
  auto descend = [&](int n) {
    fit.SteepestDescent(n);
    fit.Newton(2);
    fit.Newton(2);
  };
  if (o.minimiser == "auto") {
    const int n = o.iterations > 0 ? o.iterations : 100;
    descend(n);
    how = femtokit::Format("steepest descent (at most %d iterations), then 2 x 2 Newton-Raphson iterations; errors from "
                           "the chi^2 Hessian", n);
  } else if (o.minimiser == "newton") {
    const int n = o.iterations > 0 ? o.iterations : 3;
    for (int i = 0; i < n; i++) fit.Newton(2);
    how = femtokit::Format("Newton-Raphson, %d x 2 iterations; errors from the chi^2 Hessian", n);
  } else if (o.minimiser == "steepest") {
    const int n = o.iterations > 0 ? o.iterations : 100;
    fit.SteepestDescent(n);
    fit.Newton(1);
    how = femtokit::Format("steepest descent (at most %d iterations), then one Newton step for the errors", n);
  } else {
    const int n = o.iterations > 0 ? o.iterations : 4000;
    descend(100);
    fit.UpdateMetroStepSize();
    fit.Metropolis(n / 2);
    fit.UpdateMetroStepSize();
    fit.Metropolis(n - n / 2);
    fit.UpdateMetroStepSize();
    for (int i = 0; i < fit.nfreepars; i++) fit.par[static_cast<size_t>(i)].value = fit.par[static_cast<size_t>(i)].xbar;
    how = femtokit::Format("auto, then Metropolis, %d steps; values and errors: mean and covariance of the last %d", n,
                           n - n / 2);
  }
  // The final point fills the model arrays for the curve.
  std::vector<double> x;
  for (int i = 0; i < fit.nfreepars; i++) x.push_back(fit.par[static_cast<size_t>(i)].value);
  fit.chi2 = fit.GetChiSquared(x);
  // A REMAINDER lambda is written back by the decomposition at every evaluation.
  if (feeddown)
    for (CParInfo &p : fit.par)
      if (p.fixed && feeddown->lambdas.count(p.name)) p.value = feeddown->GetLambda(p.name);
  const CCHArray &fitted = (feeddown || smearing) ? cmodel : ctheory;

  std::string text = "fit of " + o.model + " to " + (o.table.empty() ? o.data : o.table) + " through " + o.kernel +
                     " (" + how + ")\n" + fit.FitTable();
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
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);

  if (!o.out.empty()) {
    Table t;
    t.comments = {"femtokit fit: measured correlation function and the best fit",
                  "model: " + o.model + ", kernel: " + o.kernel + " (" + DescribeKernel(*kernel) + ")",
                  femtokit::Format("chi^2=%g, bins=%d, dof=%d; %s", fit.chi2, fit.GetNBins(), fit.GetNDOF(), how.c_str())};
    std::string best = "best fit:";
    // Free parameters with their errors (name=value+-error), which 'femtokit plot' shows.
    for (size_t i = 0; i < fit.par.size(); i++) {
      const CParInfo &p = fit.par[i];
      best += static_cast<int>(i) < fit.nfreepars ? femtokit::Format(" %s=%g+-%.3g", p.name.c_str(), p.value, p.error)
                                                  : femtokit::Format(" %s=%g", p.name.c_str(), p.value);
    }
    t.comments.push_back(best.substr(0, 400));
    t.comments.push_back("q: MeV/c; C_exp and error: the measured C(q); C_fit: the model" +
                         std::string(feeddown || smearing ? " after feed-down and smearing" : ""));
    t.columns = {"q", "C_exp", "error", "C_fit"};
    for (int i = 0; i < nq; i++)
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
  sub->add_option("--model,-m", o->model, "Source model to fit: gx1d, levy, blast, or gauss3d (a 3D table)")->type_name("MODEL")->capture_default_str();
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
  sub->add_option("--projections", o->projections, "gauss3d: measured and fitted C along each axis")->type_name("FILE");
  AddFrameOptions(sub, o->frame);
  AddCommon(sub, o->common, true);
  sub->footer(std::string("Fits a source model to the angle-averaged measured correlation function C(q) (its (0,0,0) component)\n"
      "through a kernel: each evaluation fills the source, transforms it, applies the optional feed-down\n"
      "decomposition and momentum smearing, and takes chi^2 against the data. The data are a table\n"
      "(columns q in MeV/c, C, error; as 'femtokit run -o' or 'femtokit fit -o' write it) or array\n"
      "directories of C(q) - 1 and its errors (as the main job writes them). Prints the parameter table\n"
      "(name, value, error, free), chi^2 and the error matrix; -o writes the best-fit curve.") + "\n\n" +
      "Starting points and free parameters (--set, --pars, --free and --fix change them):\n"
      "  gx1d   lambdaG=0.5 R=4 fm lambdaX=0 X=10 fm a=5 fm; lambdaG and R free\n"
      "  levy   lambda=0.5 R=5 fm alpha=1.5; all free (alpha in 0.5 .. 2)\n"
      "  blast  the blast wave's defaults (or --pars data/blast/pions.dat); lambda and R free, Tau and\n"
      "         DelTau fixed; the Monte-Carlo samples are the same at every evaluation\n"
      "With --feeddown its lambdas (lambdaGen, lambda_<name>) are fit parameters too, fixed unless --free.\n\n"
      "Examples (the main job's output, from run/work; a table from 'femtokit run -o'):\n"
      "  femtokit fit -k ../../kdata/pp --kpars ../parameters/pp/kparameters.dat --data GX1d/pp --errors GX1d/pp_errors\n"
      "  femtokit fit -k kdata/pp --table run.dat --minimiser metropolis -o fit.dat\n\n"
      "gauss3d fits a 3D table (one row per cell, see below): lambda, Rx (out), Ry (side), Rz (long) free,\n"
      "offsets Xoff, Yoff, Zoff and Euler angles Euler_Phi, Euler_Theta, Euler_Psi fixed unless --free;\n"
      "steps and ranges from the model's table. It prints the radii in the frame asked (--frame; default\n"
      "the table's); -o writes the best fit as a 3D table, --projections C along each axis.\n"
      "  femtokit fit -k kdata/bosons -m gauss3d -t cf3d.dat --frame lcms -o fit3d.dat --projections p.dat\n\n" +
      ThreeDHelp());
  sub->callback([o] { RunFit(*o); });
}

}  // namespace fkcli
