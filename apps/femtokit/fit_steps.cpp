// femtokit fit: the fit models from the source models' tables and the
// minimisation steps.
#include "apps/femtokit/fit.h"

#include "config/output.h"
#include "fit/cf2sfit.h"
#include "source/sourceparameters.h"

#include <algorithm>
#include <cmath>

namespace fkcli {

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

std::string FitModelHelp() {
  std::string text = "Starting points (the models' defaults unless said) and free parameters:\n";
  for (const auto &kv : FitModels()) {
    const femtokit::SourceModel *table = femtokit::FindSourceModel(kv.first);
    std::string line = "  " + kv.first + ":", steps;
    for (const std::string &name : kv.second.fitted) {
      const femtokit::SourceParameter *p = table->Find(name);
      double value = p->def;
      for (const auto &st : kv.second.start)
        if (st.first == name) value = st.second;
      line += " " + ParameterText(*p, value);
      steps += (steps.empty() ? "" : ", ") + ParameterText(*p, p->step);
    }
    text += line + "; free: " + CLI::detail::join(kv.second.freed, ", ") + "\n    first steps " + steps + "\n    (" +
            kv.second.note + ")\n";
  }
  return text;
}

// The minimisation as --minimiser asks (see the help text); returns how it
// was done, for the table's header.
std::string Minimise(CCF2SFit &fit, const FitOptions &o) {
  // auto (and the start of metropolis): steepest descent into the minimum's
  // basin, where Newton's quadratic model holds, then Newton for the minimum
  // and the error matrix.
  std::string how, starts;
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
  // held, then freed); a converged fit wins over a failed one, else the lower chi^2.
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
    const bool takegauss = standard.status.ok() == gaussian.status.ok() ? gaussian.chi2 < standard.chi2
                                                                         : gaussian.status.ok();
    restore(takegauss ? gaussian : standard);
    starts = femtokit::Format("; from the standard start (chi^2 %.6g, %s) and from the Gaussian solution (chi^2 %.6g, "
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
  return how + starts;
}

}  // namespace fkcli
