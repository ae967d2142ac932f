// femtokit fit: a source model fitted to a measured correlation function.
#include "apps/femtokit/fit.h"

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
#include <cmath>
#include <fstream>
#include <map>

namespace fkcli {
namespace {

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
  // Warnings at the trial points are held: the final point is evaluated again
  // below with its own.
  HoldWarnings held(o.common);
  const std::string how = Minimise(fit, o);
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
    // Free parameters with their errors (name=value+-error), which 'femtokit plot' shows.
    for (size_t i = 0; i < fit.par.size(); i++) {
      const CParInfo &p = fit.par[i];
      const bool witherror = static_cast<int>(i) < fit.nfreepars && fit.status.errorsvalid;
      best += witherror ? femtokit::Format(" %s=%g+-%.3g", p.name.c_str(), p.value, p.error)
                        : femtokit::Format(" %s=%g", p.name.c_str(), p.value);
    }
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
