// Transforms, chi-square and fits.
#include <cmath>
#include <memory>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common.h"
#include "config/output.h"
#include "config/parametermap.h"
#include "fit/cf2sfit.h"
#include "fit/cf2sfit_models.h"
#include "fit/cfcalc.h"
#include "fit/feeddown.h"
#include "fit/fitsummary.h"
#include "fit/gauss3dfit.h"
#include "fit/table3d.h"
#include "fit/s2cf.h"
#include "fit/smearing.h"
#include "kernel/kernel.h"
#include "kernel/kernelwf.h"
#include "source/sourcecalc.h"

namespace femtokit {
namespace python {

namespace {

std::vector<std::string> FreeNames(const CCF2SFit &f) {
  std::vector<std::string> names;
  for (int i = 0; i < f.nfreepars; i++) names.push_back(f.par[i].name);
  return names;
}

CParInfo &Named(CCF2SFit &f, const std::string &name) {
  const int i = f.FindPar(name);
  if (i < 0) throw py::key_error("the fit has no parameter " + name);
  return f.par[i];
}

template <class Field>
py::array_t<double> Column(const CCF2SFit &f, Field field) {
  py::array_t<double> a(f.npars);
  for (int i = 0; i < f.npars; i++) a.mutable_at(i) = field(f.par[i]);
  return a;
}

py::array_t<double> Matrix(const std::vector<std::vector<double>> &m) {
  const py::ssize_t n = static_cast<py::ssize_t>(m.size());
  py::array_t<double> a({n, n});
  auto v = a.mutable_unchecked<2>();
  for (py::ssize_t i = 0; i < n; i++)
    for (py::ssize_t j = 0; j < n; j++) v(i, j) = m[i][j];
  return a;
}

// chi^2 of a fit as a function of its free parameters, for SciPy or iminuit.
class ChiSquare {
 public:
  explicit ChiSquare(py::object fit) : fit_(std::move(fit)), names_(FreeNames(fit_.cast<CCF2SFit &>())) {}

  double operator()(const std::vector<double> &x) const {
    CCF2SFit &f = fit_.cast<CCF2SFit &>();
    if (FreeNames(f) != names_)
      throw py::value_error(
          "the fit's free parameters changed since this chi-square function was made; make "
          "a new one with chi2_function()");
    if (x.size() != names_.size())
      throw py::value_error("expected " + std::to_string(names_.size()) + " parameter values, got " +
                            std::to_string(x.size()));
    Compute compute;
    return f.GetChiSquared(x);
  }

  const std::vector<std::string> &names() const { return names_; }
  py::array_t<double> Start() const {
    const CCF2SFit &f = fit_.cast<const CCF2SFit &>();
    py::array_t<double> a(static_cast<py::ssize_t>(names_.size()));
    for (size_t i = 0; i < names_.size(); i++) a.mutable_at(i) = f.par[i].value;
    return a;
  }
  py::array_t<double> Errors() const {
    const CCF2SFit &f = fit_.cast<const CCF2SFit &>();
    py::array_t<double> a(static_cast<py::ssize_t>(names_.size()));
    for (size_t i = 0; i < names_.size(); i++) a.mutable_at(i) = f.par[i].error;
    return a;
  }
  std::vector<std::pair<double, double>> Bounds() const {
    const CCF2SFit &f = fit_.cast<const CCF2SFit &>();
    std::vector<std::pair<double, double>> b;
    for (size_t i = 0; i < names_.size(); i++) b.emplace_back(f.par[i].xmin, f.par[i].xmax);
    return b;
  }

 private:
  py::object fit_;
  std::vector<std::string> names_;
};

py::array_t<double> FreeMatrix(const std::vector<std::vector<double>> &m, size_t n) {
  const py::ssize_t k = static_cast<py::ssize_t>(n);
  py::array_t<double> a({k, k});
  auto v = a.mutable_unchecked<2>();
  for (py::ssize_t i = 0; i < k; i++)
    for (py::ssize_t j = 0; j < k; j++) v(i, j) = m.empty() ? std::nan("") : m[i][j];
  return a;
}

const char *StatusName(const FitStatus &s) {
  switch (s.code) {
    case FitStatus::Code::Converged:
      return "converged";
    case FitStatus::Code::AtBound:
      return "at bound";
    default:
      return "failed";
  }
}

// A fit's result as Python sees it (femtokit.FitResult): a copy of the
// library's summary, with NumPy arrays and dicts made on access.
struct FitResult {
  femtokit::FitSummary s;

  py::dict Values() const {
    py::dict d;
    for (size_t i = 0; i < s.names.size(); i++) d[py::str(s.names[i])] = s.values[i];
    return d;
  }
  py::dict Errors() const {
    py::dict d;
    for (size_t i = 0; i < s.errors.size(); i++) d[py::str(s.free[i])] = s.errors[i];
    return d;
  }
  py::array_t<double> Q() const {
    const py::ssize_t n = static_cast<py::ssize_t>(s.curve.size());
    if (s.qdim == 1) return py::array_t<double>(n, s.q.data());
    return py::array_t<double>({n, static_cast<py::ssize_t>(3)}, s.q.data());
  }
  py::array_t<double> Curve() const {
    return py::array_t<double>(static_cast<py::ssize_t>(s.curve.size()), s.curve.data());
  }
  std::string Reason() const { return s.status.code == FitStatus::Code::Converged ? std::string() : s.status.reason; }
  py::dict ToDict() const {
    py::dict d;
    auto matrix = [](const std::vector<std::vector<double>> &m, size_t n) {
      py::list rows;
      for (size_t i = 0; i < n; i++) {
        py::list row;
        for (size_t j = 0; j < n; j++) row.append(m.empty() ? py::object(py::none()) : py::object(py::float_(m[i][j])));
        rows.append(row);
      }
      return rows;
    };
    d["names"] = s.names;
    d["free"] = s.free;
    d["values"] = Values();
    d["errors"] = Errors();
    d["covariance"] = matrix(s.covariance, s.free.size());
    d["correlation"] = matrix(s.correlation, s.free.size());
    d["chi2"] = s.chi2;
    d["ndof"] = s.ndof;
    d["pvalue"] = std::isfinite(s.pvalue) ? py::object(py::float_(s.pvalue)) : py::object(py::none());
    d["status"] = StatusName(s.status);
    d["reason"] = Reason();
    d["converged"] = s.status.code == FitStatus::Code::Converged;
    d["at_bound"] = s.atbound;
    d["errors_valid"] = s.status.errorsvalid;
    d["q"] = Q().attr("tolist")();
    d["curve"] = s.curve;
    return d;
  }
};

// Runs a minimiser and returns the result at the point it left.
template <class... A>
auto Minimise(void (CCF2SFit::*run)(A...)) {
  return [run](CCF2SFit &f, A... a) {
    Compute compute;
    (f.*run)(a...);
    return FitResult{femtokit::SummariseFit(f)};
  };
}

struct ParDecl {
  std::string name;
  py::object value;
  double error, xmin, xmax;
};

std::unique_ptr<CCF2SFit> MakeFit(CSourceCalc *scalc, CCHArray *cexp, CCHArray *cerror, CCHArray *ctheory,
                                  CCHArray *source, CKernel *kernel, const std::vector<py::tuple> &parameters) {
  if (parameters.empty()) throw py::value_error("a fit needs at least one parameter");
  std::vector<ParDecl> decls;
  for (const py::tuple &t : parameters) {
    if (t.size() != 5) throw py::value_error("a parameter is a tuple (name, value or None, error, xmin, xmax)");
    decls.push_back({t[0].cast<std::string>(), t[1], t[2].cast<double>(), t[3].cast<double>(), t[4].cast<double>()});
  }
  auto fit = std::make_unique<CCF2SFit>();
  fit->npars = static_cast<int>(decls.size());
  fit->ndim = 1;
  fit->sourcecalc = scalc;
  fit->cexpCH = cexp;
  fit->cerrorCH = cerror;
  fit->ctheoryCH = ctheory;
  fit->sourceCH = source;
  fit->kernel = kernel;
  {
    Compute compute;
    fit->Init();
  }
  for (size_t i = 0; i < decls.size(); i++) {
    const ParDecl &s = decls[i];
    if (!(s.error > 0.0)) throw py::value_error("parameter " + s.name + ": the error must be positive");
    const double value = s.value.is_none() ? parameter::getD(scalc->spars, s.name, 0.0) : s.value.cast<double>();
    fit->par[i].Set(s.name, value, s.error, s.xmin, s.xmax);
    fit->StepMatrix[i][i] = s.error;
    fit->ErrorMatrix[i][i] = s.error * s.error;
  }
  fit->NarrowBoundsToModel();
  return fit;
}

}  // namespace

void BindFits(py::module_ &m) {
  py::module_ s2cf = m.def_submodule("S2CF", "Source-to-correlation transforms (S2CF).");
  s2cf.def("s2c", py::overload_cast<CCHArray *, CKernel *, CCHArray *>(&S2CF::s2c), py::arg("source"),
           py::arg("kernel"), py::arg("cf"), py::call_guard<Compute>(),
           "CF_l(q) = int 4 pi r^2 K_L(q, r) S_l(r) dr: zeroes cf and fills its lx <= 1 components with C(q) - 1 "
           "(q in MeV/c) from the source (fm^-3, r in fm); call cf.fill_remainder_x() for the rest. "
           "femtokit.Error for LMAX or symmetry mismatches.");
  s2cf.def("s2c", py::overload_cast<int, int, int, CCHArray *, CKernel *, CCHArray *>(&S2CF::s2c), py::arg("lx"),
           py::arg("ly"), py::arg("lz"), py::arg("source"), py::arg("kernel"), py::arg("cf"), py::call_guard<Compute>(),
           "The same for component (lx, ly, lz) alone.");
  s2cf.def("s2c", py::overload_cast<C3DArray *, CKernelWF *, C3DArray *>(&S2CF::s2c), py::arg("source"),
           py::arg("kernel"), py::arg("cf"), py::call_guard<Compute>(),
           "3D form: C(q) (the full C, not C - 1) at every stored cell of cf (MeV/c) from a source on a 3D mesh "
           "(fm^-3, fm) through |psi|^2 of a CKernelWF, on the library's threads without the GIL.");

  py::module_ cfcalc = m.def_submodule("CFCalc", "Chi-square between correlation functions (CFCalc).");
  cfcalc.def("get_chi_squared",
             py::overload_cast<int, int, int, CCHArray *, CCHArray *, CCHArray *>(&CFCalc::GetChiSquared),
             py::arg("lx"), py::arg("ly"), py::arg("lz"), py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"),
             py::call_guard<Compute>(),
             "Sum over the q bins of component (lx, ly, lz) of (exp - theory)^2/error^2. femtokit.Error for "
             "arrays of different NRADIAL.");
  cfcalc.def("get_chi_squared", py::overload_cast<C3DArray *, C3DArray *, C3DArray *>(&CFCalc::GetChiSquared),
             py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"), py::call_guard<Compute>(),
             "The same over every stored cell of 3D meshes. femtokit.Error, naming what differs, for other meshes.");

  py::class_<ChiSquare>(m, "ChiSquare",
                        "chi^2 of a fit as a function of its free parameters (fit.chi2_function()): call it with a "
                        "sequence of their values in the order of names. For SciPy: minimize(f, f.start, "
                        "bounds=f.bounds); for iminuit: Minuit(f, f.start, name=f.names) with errordef f.errordef.")
      .def("__call__", &ChiSquare::operator(), py::arg("x"),
           "chi^2 at the free values x (the fit's own values do not change; its best point is remembered).")
      .def_property_readonly("names", &ChiSquare::names, "Names of the free parameters, in call order.")
      .def_property_readonly("start", &ChiSquare::Start, "The fit's current values of the free parameters.")
      .def_property_readonly("errors", &ChiSquare::Errors, "Their errors (step scales).")
      .def_property_readonly("bounds", &ChiSquare::Bounds, "Their (xmin, xmax).")
      .def_property_readonly(
          "errordef", [](const ChiSquare &) { return 1.0; }, "Delta chi^2 = 1 at one standard deviation.");

  py::class_<FitResult>(m, "FitResult",
                        "The result of a fit: values of every parameter; errors, covariance and correlation of the "
                        "free ones (Delta chi^2 = 1); chi^2, degrees of freedom and p-value; the minimiser's status; "
                        "the best-fit curve C(q) at the fitted q. str() prints the fit table, to_dict() gives "
                        "plain types for json.")
      .def_property_readonly(
          "names", [](const FitResult &r) { return r.s.names; }, "Every parameter's name, free ones first (list of str).")
      .def_property_readonly(
          "free", [](const FitResult &r) { return r.s.free; }, "The free parameters' names (list of str).")
      .def_property_readonly("values", &FitResult::Values, "dict name -> value of every parameter (units of the model's "
                             "table: fm for radii).")
      .def_property_readonly("errors", &FitResult::Errors,
                             "dict name -> error (Delta chi^2 = 1) of the free parameters; empty when the errors are not "
                             "valid (errors_valid False).")
      .def_property_readonly(
          "covariance", [](const FitResult &r) { return FreeMatrix(r.s.covariance, r.s.free.size()); },
          "Covariance of the free parameters, (n_free, n_free) array in the order of free; NaN when the errors are "
          "not valid.")
      .def_property_readonly(
          "correlation", [](const FitResult &r) { return FreeMatrix(r.s.correlation, r.s.free.size()); },
          "Correlation coefficients of the free parameters, (n_free, n_free) array (1 on the diagonal); NaN when "
          "the errors are not valid.")
      .def_property_readonly(
          "chi2", [](const FitResult &r) { return r.s.chi2; }, "chi^2 at the values.")
      .def_property_readonly(
          "ndof", [](const FitResult &r) { return r.s.ndof; }, "Degrees of freedom: compared points minus free "
          "parameters.")
      .def_property_readonly(
          "pvalue", [](const FitResult &r) { return r.s.pvalue; },
          "Probability of a chi^2 at least this large with ndof degrees of freedom (GSL gsl_cdf_chisq_Q); NaN "
          "for ndof < 1.")
      .def_property_readonly(
          "status", [](const FitResult &r) { return std::string(StatusName(r.s.status)); },
          "'converged', 'at bound' (a minimum with a free parameter on a bound of its range) or 'failed' (no "
          "minimum established; the values are where the minimiser stopped).")
      .def_property_readonly("reason", &FitResult::Reason,
                             "Why the fit failed or which parameters sit on a bound; empty when converged.")
      .def_property_readonly(
          "converged", [](const FitResult &r) { return r.s.status.code == FitStatus::Code::Converged; },
          "True for status 'converged'.")
      .def_property_readonly(
          "at_bound", [](const FitResult &r) { return r.s.atbound; },
          "Names of the free parameters sitting on a bound (their errors mean little).")
      .def_property_readonly(
          "errors_valid", [](const FitResult &r) { return r.s.status.errorsvalid; },
          "True when errors and covariance describe the final point (a chi^2 Hessian there, or a Metropolis "
          "chain's covariance).")
      .def_property_readonly("q", &FitResult::Q,
                             "The fitted q values: one-dimensional fits, the q bins with a finite error (MeV/c, "
                             "shape (n,)); 3D fits, the cells with a nonzero error ((q_x, q_y, q_z) in MeV/c, shape "
                             "(n, 3)).")
      .def_property_readonly("curve", &FitResult::Curve,
                             "The best-fit C(q) (not C - 1) at q, after any feed-down and smearing steps.")
      .def("to_dict", &FitResult::ToDict,
           "Every attribute as plain Python types (lists for arrays; None for NaN entries and a p-value without "
           "degrees of freedom), for json.dumps.")
      .def("__str__", [](const FitResult &r) { return r.s.table; })
      .def("__repr__", [](const FitResult &r) {
        std::string text = "<femtokit.FitResult " + std::string(StatusName(r.s.status));
        for (size_t i = 0; i < r.s.names.size(); i++) text += femtokit::Format(" %s=%.6g", r.s.names[i].c_str(), r.s.values[i]);
        return text + femtokit::Format(" chi2=%.6g ndof=%d>", r.s.chi2, r.s.ndof);
      });

  py::class_<CCF2SFit>(m, "CCF2SFit",
                       "Fit of a source model's parameters to a measured correlation function: each evaluation "
                       "writes trial values into the model's spars, fills the source, transforms it through the "
                       "kernel and takes chi^2 against the data. The objects it uses are kept alive by it.")
      .def(py::init(&MakeFit), py::arg("source_calc"), py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"),
           py::arg("source"), py::arg("kernel"), py::arg("parameters"), py::keep_alive<1, 2>(), py::keep_alive<1, 3>(),
           py::keep_alive<1, 4>(), py::keep_alive<1, 5>(), py::keep_alive<1, 6>(), py::keep_alive<1, 7>(),
           "A fit of the (0,0,0) component (set_l for another) of any source model. parameters: tuples (name, "
           "value or None for the model's current value, error > 0, xmin, xmax) naming keys of the model's spars.")
      .def("set_par", &CCF2SFit::SetPar, py::arg("name"), py::arg("value"), "Sets a parameter's value.")
      .def(
          "set_error", [](CCF2SFit &f, const std::string &name, double e) { Named(f, name).error = e; },
          py::arg("name"), py::arg("error"), "Sets a parameter's error (the scale of trial steps).")
      .def(
          "set_bounds",
          [](CCF2SFit &f, const std::string &name, double lo, double hi) {
            CParInfo &p = Named(f, name);
            p.xmin = lo;
            p.xmax = hi;
          },
          py::arg("name"), py::arg("xmin"), py::arg("xmax"), "Sets a parameter's allowed range.")
      .def("fix_par", &CCF2SFit::FixPar, py::arg("name"), "Holds the parameter constant.")
      .def("free_par", &CCF2SFit::FreePar, py::arg("name"), "Lets the parameter vary again.")
      .def("set_l", &CCF2SFit::SetL, py::arg("lx"), py::arg("ly"), py::arg("lz"),
           "The harmonic component fitted by a one-dimensional fit.")
      .def("use_best_pars", &CCF2SFit::UseBestPars, "Moves to the best point seen.")
      .def("find_par", &CCF2SFit::FindPar, py::arg("name"), "Position of the parameter, or -1.")
      .def(
          "read_data",
          [](CCF2SFit &f, const py::object &cfdir, const py::object &errordir) {
            const std::string cf = Path(cfdir), err = Path(errordir);
            Compute compute;
            f.ReadData(cf, err);
          },
          py::arg("cfdir"), py::arg("errordir"),
          "Reads the measured C(q) - 1 and its errors from data directories as the main job writes them "
          "(e.g. 'GX1d/pp', 'GX1d/pp_errors'). femtokit.Error for missing or malformed ones.")
      .def(
          "get_chi_squared",
          [](CCF2SFit &f, const std::vector<double> &x) {
            if (static_cast<int>(x.size()) != f.nfreepars)
              throw py::value_error("expected " + std::to_string(f.nfreepars) + " free parameter values");
            Compute compute;
            return f.GetChiSquared(x);
          },
          py::arg("x"), "chi^2 at the free values x (in the order of free_names); the values do not change.")
      .def(
          "chi2_function", [](py::object self) { return ChiSquare(self); },
          "A ChiSquare: chi^2 as a function of the current free parameters, for SciPy or iminuit.")
      .def("newton", Minimise(&CCF2SFit::Newton), py::arg("n") = 2,
           "Newton-Raphson with a finite-difference Hessian of chi^2 (steps: the errors; one iteration for n <= 1, "
           "two otherwise), respecting the bounds; leaves error_matrix = 2 H^-1. Returns a FitResult (status "
           "'failed' with the reason for a Hessian that is not positive definite or a step finding no lower "
           "chi^2). femtokit.Error for a free parameter without a positive error, or as an evaluation fails.")
      .def("steepest_descent", Minimise(&CCF2SFit::SteepestDescent), py::arg("n"),
           "At most n steepest-descent iterations in error-scaled coordinates, respecting the bounds. Returns a "
           "FitResult without errors (errors_valid False; run newton() after it for errors); status 'failed' at "
           "the iteration limit. femtokit.Error as newton().")
      .def("metropolis", Minimise(&CCF2SFit::Metropolis), py::arg("n"),
           "A Markov chain of n evaluations from the current point; error_matrix becomes the chain's covariance "
           "and the result's errors its square roots. Returns a FitResult (at the chain's last point; "
           "use_best_pars() moves to its best). femtokit.Error as an evaluation fails.")
      .def(
          "result", [](CCF2SFit &f) {
            Compute compute;
            return FitResult{femtokit::SummariseFit(f)};
          },
          "The FitResult at the current values with the last minimiser's status (one evaluation of chi^2 fills "
          "the best-fit curve). femtokit.Error as the evaluation fails.")
      .def("update_metro_step_size", &CCF2SFit::UpdateMetroStepSize, py::call_guard<Compute>(),
           "Metropolis proposal steps and the errors from error_matrix.")
      .def(
          "calc_error_matrix_from_curvature",
          [](CCF2SFit &f, const std::vector<std::vector<double>> &c) { return f.CalcErrorMatrixFromCurvature(c); },
          py::arg("curvature"),
          "error_matrix = C^-1 over the free block, C the curvature of chi^2/2 (a free x free matrix); False "
          "when C is not positive definite.")
      .def("fit_table", &CCF2SFit::FitTable, "Name, value, error and free of each parameter; chi^2, bins, dof.")
      .def("print_fit_table", &CCF2SFit::PrintFitTable, "Prints fit_table() (Normal level).")
      .def_property_readonly(
          "names",
          [](const CCF2SFit &f) {
            std::vector<std::string> n;
            for (const CParInfo &p : f.par) n.push_back(p.name);
            return n;
          },
          "Parameter names, free ones first (the order of values, errors and the matrices).")
      .def_property_readonly("free_names", &FreeNames, "Names of the free parameters.")
      .def_property_readonly(
          "values", [](const CCF2SFit &f) { return Column(f, [](const CParInfo &p) { return p.value; }); },
          "Current values (a copy).")
      .def_property_readonly(
          "errors", [](const CCF2SFit &f) { return Column(f, [](const CParInfo &p) { return p.error; }); },
          "Errors: statistical, Delta chi^2 = 1 (a copy).")
      .def_property_readonly("xmin",
                             [](const CCF2SFit &f) { return Column(f, [](const CParInfo &p) { return p.xmin; }); },
                             "Lower bounds of the parameters (a copy, in the order of names).")
      .def_property_readonly("xmax",
                             [](const CCF2SFit &f) { return Column(f, [](const CParInfo &p) { return p.xmax; }); },
                             "Upper bounds of the parameters (a copy, in the order of names).")
      .def_property_readonly("fixed",
                             [](const CCF2SFit &f) {
                               std::vector<bool> b;
                               for (const CParInfo &p : f.par) b.push_back(p.fixed);
                               return b;
                             },
                             "For each parameter (in the order of names): True when it is held constant.")
      .def_property_readonly(
          "at_bound",
          [](const CCF2SFit &f) {
            py::list l;
            for (int i = 0; i < f.npars; i++) {
              const CParInfo &p = f.par[i];
              if (i < f.nfreepars && p.value <= p.xmin)
                l.append("lower");
              else if (i < f.nfreepars && p.value >= p.xmax)
                l.append("upper");
              else
                l.append(py::none());
            }
            return l;
          },
          "For each parameter (in the order of names): 'lower' or 'upper' when a free parameter ends at that bound "
          "of its range (the fit table's 'at lower/upper bound'; its error then means little), else None.")
      .def_property_readonly(
          "error_matrix", [](const CCF2SFit &f) { return Matrix(f.ErrorMatrix); },
          "Covariance of the parameters (npars x npars, a copy).")
      .def_property_readonly(
          "step_matrix", [](const CCF2SFit &f) { return Matrix(f.StepMatrix); }, "Metropolis step directions.")
      .def_readonly("chi2", &CCF2SFit::chi2, "chi^2 of the current point.")
      .def_readonly("bestchi2", &CCF2SFit::bestchi2, "Smallest chi^2 seen.")
      .def_readonly("ncalls", &CCF2SFit::ncalls, "Evaluations so far.")
      .def_readonly("npars", &CCF2SFit::npars, "Number of parameters, free and fixed.")
      .def_readonly("nfreepars", &CCF2SFit::nfreepars, "Number of free parameters (the first ones of names).")
      .def_readonly("ndim", &CCF2SFit::ndim, "1: one harmonic component over q; 3: a correlation function on a 3D mesh.")
      .def_property_readonly("nbins", &CCF2SFit::GetNBins, "Measured points compared.")
      .def_property_readonly("ndof", &CCF2SFit::GetNDOF, "Degrees of freedom.")
      .def(
          "set_feeddown", [](CCF2SFit &f, CFeedDown *d) { f.feeddown = d; }, py::arg("feeddown"),
          py::keep_alive<1, 2>(), "Chains a feed-down decomposition after the transform (None removes it).")
      .def(
          "set_smearing", [](CCF2SFit &f, CMomentumSmearing *s) { f.smearing = s; }, py::arg("smearing"),
          py::keep_alive<1, 2>(), "Chains a momentum smearing after the transform (None removes it).")
      .def(
          "set_model_array", [](CCF2SFit &f, CCHArray *a) { f.cmodelCH = a; }, py::arg("cmodel"),
          py::keep_alive<1, 2>(), "Where the model after the chained steps lands (measured mesh).");

  py::class_<CCF2SFit_GX1D, CCF2SFit>(
      m, "CCF2SFit_GX1D",
      "Fit of CSourceCalc_GX1D: lambdaG, R (fm), lambdaX, X (fm), a (fm), starting from the model's values.")
      .def(py::init<CSourceCalc *, CCHArray *, CCHArray *, CCHArray *, CCHArray *, CKernel *>(), py::arg("source_calc"),
           py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"), py::arg("source"), py::arg("kernel"),
           py::keep_alive<1, 2>(), py::keep_alive<1, 3>(), py::keep_alive<1, 4>(), py::keep_alive<1, 5>(),
           py::keep_alive<1, 6>(), py::keep_alive<1, 7>(), py::call_guard<Compute>());

  py::class_<CCF2SFit_3DGaussian, CCF2SFit>(
      m, "CCF2SFit_3DGaussian",
      "Fit of CSourceCalc_Gaussian to a correlation function on a 3D mesh: lambda, Rx, Ry, Rz, Xoff (fm).")
      .def(py::init<CSourceCalc *, C3DArray *, C3DArray *, C3DArray *, CCHArray *, CCHArray *, CKernel *>(),
           py::arg("source_calc"), py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"), py::arg("ctheory_ch"),
           py::arg("source"), py::arg("kernel"), py::keep_alive<1, 2>(), py::keep_alive<1, 3>(), py::keep_alive<1, 4>(),
           py::keep_alive<1, 5>(), py::keep_alive<1, 6>(), py::keep_alive<1, 7>(), py::keep_alive<1, 8>(),
           py::call_guard<Compute>());

  py::class_<CCF2SFit_Gauss3D, CCF2SFit>(
      m, "CCF2SFit_Gauss3D",
      "Fit of CSourceCalc_Gaussian to a correlation function on a 3D mesh (x = out, y = side, z = long, pair "
      "rest frame) with every parameter of the model (steps and ranges from its table): lambda, Rx, Ry, Rz free; "
      "Xoff, Yoff, Zoff and the Euler angles fixed until free_par. Cells with error 0 are not compared.")
      .def(py::init<CSourceCalc *, C3DArray *, C3DArray *, C3DArray *, CCHArray *, CCHArray *, CKernel *>(),
           py::arg("source_calc"), py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"), py::arg("ctheory_ch"),
           py::arg("source"), py::arg("kernel"), py::keep_alive<1, 2>(), py::keep_alive<1, 3>(), py::keep_alive<1, 4>(),
           py::keep_alive<1, 5>(), py::keep_alive<1, 6>(), py::keep_alive<1, 7>(), py::keep_alive<1, 8>(),
           py::call_guard<Compute>());

  py::class_<CCF2SFit_Blast, CCF2SFit>(
      m, "CCF2SFit_Blast",
      "Fit of CSourceCalc_Blast to a correlation function on a 3D mesh: lambda, R (fm), Tau, DelTau (fm/c).")
      .def(py::init<CSourceCalc *, C3DArray *, C3DArray *, C3DArray *, CCHArray *, CCHArray *, CKernel *>(),
           py::arg("source_calc"), py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"), py::arg("ctheory_ch"),
           py::arg("source"), py::arg("kernel"), py::keep_alive<1, 2>(), py::keep_alive<1, 3>(), py::keep_alive<1, 4>(),
           py::keep_alive<1, 5>(), py::keep_alive<1, 6>(), py::keep_alive<1, 7>(), py::keep_alive<1, 8>(),
           py::call_guard<Compute>());

  py::class_<CCF2SFit_Levy, CCF2SFit>(
      m, "CCF2SFit_Levy",
      "Fit of CSourceCalc_Levy to the angle-averaged correlation function: lambda, R (fm), alpha.")
      .def(py::init<CSourceCalc *, CCHArray *, CCHArray *, CCHArray *, CCHArray *, CKernel *>(), py::arg("source_calc"),
           py::arg("cexp"), py::arg("cerror"), py::arg("ctheory"), py::arg("source"), py::arg("kernel"),
           py::keep_alive<1, 2>(), py::keep_alive<1, 3>(), py::keep_alive<1, 4>(), py::keep_alive<1, 5>(),
           py::keep_alive<1, 6>(), py::keep_alive<1, 7>(), py::call_guard<Compute>());

  // 3D tables and frames.
  m.def(
      "read_table3d",
      [](const std::string &file) {
        femtokit::Table3D t;
        {
          Compute compute;  // the reading without the GIL; the results are cast with it
          t = femtokit::ReadTable3D(file);
        }
        py::object cf = py::cast(std::move(t.cf)), error = py::cast(std::move(t.error));
        return py::make_tuple(cf, error, femtokit::FrameName(t.frame), t.gammaT);
      },
      py::arg("filename"),
      "Reads a 3D table (rows q_out q_side q_long C error under '# frame', '# units MeV/c', '# binning'): "
      "(C - 1, errors, frame 'PRF' or 'LCMS', gamma_T or 0), arrays on the table's own mesh; absent cells have "
      "error 0.");
  m.def(
      "write_table3d",
      [](const std::string &file, const C3DArray &cf, const C3DArray *error, const std::string &frame, double gammaT) {
        if (frame != "PRF" && frame != "LCMS") throw py::value_error("frame must be 'PRF' or 'LCMS'");
        femtokit::WriteTable3D(file, cf, error, frame == "LCMS" ? femtokit::Frame::LCMS : femtokit::Frame::PRF,
                               gammaT, {});
      },
      py::arg("filename"), py::arg("cf"), py::arg("error") = nullptr, py::arg("frame") = "PRF", py::arg("gamma_t") = 0.0,
      py::call_guard<Compute>(), "Writes C - 1 (and errors; cells with error 0 left out) as a 3D table.");
  m.def(
      "scaled_out", [](const C3DArray &a, double f) { return femtokit::ScaledOut(a, f); },
      py::arg("array"), py::arg("factor"),
      "A copy with the out cell width times factor: 1/gamma_T takes an LCMS mesh to the PRF, gamma_T back.");
  m.def("gamma_t_from_kt", &femtokit::GammaTFromKT, py::arg("kt"), py::arg("m1"), py::arg("m2"),
        "gamma_T of a pair of masses m1, m2 (MeV) at kT = |pT1 + pT2|/2 (MeV/c).");
  m.def("gamma_t_from_mt", &femtokit::GammaTFromMT, py::arg("mt"), py::arg("m1"), py::arg("m2"),
        "gamma_T of a pair of masses m1, m2 (MeV) at mT = sqrt(kT^2 + (M/2)^2) (MeV).");

  py::class_<CFeedDown>(m, "CFeedDown",
                        "Feed-down decomposition: C_model - 1 = lambdaGen (C_gen - 1) + sum_i lambda_i (C_i - 1), "
                        "residuals flat, direct or carried by a decay matrix; q in MeV/c.")
      .def(py::init([](const py::object &pars) {
             std::unique_ptr<CFeedDown> d;
             WithParameterFile(pars, [&](const std::string &file) { d = std::make_unique<CFeedDown>(file); }, &FeedDownKeys());
             return d;
           }),
           py::arg("pars"),
           "From a parameter file or dict. Relative matrix file names are taken from the file's directory (for a "
           "dict: give absolute names). femtokit.Error, naming the file at fault, for bad settings or matrices.")
      .def("apply", &CFeedDown::Apply, py::arg("cf_in"), py::arg("cf_out"), py::call_guard<Compute>(),
           "Writes C_model - 1 into the (0,0,0) component of cf_out from C_gen - 1 in cf_in.")
      .def("set_parent_correlation", &CFeedDown::SetParentCorrelation, py::arg("name"), py::arg("parent"),
           py::keep_alive<1, 3>(), "The parent C - 1 of a direct or matrix residual (kept alive by this object).")
      .def("get_residual_correlation", &CFeedDown::GetResidualCorrelation, py::arg("name"), py::arg("out"),
           py::call_guard<Compute>(),
           "Writes the named residual's C - 1 (q in MeV/c) into the (0,0,0) component of out. femtokit.Error for "
           "an unknown name.")
      .def("set_lambda", &CFeedDown::SetLambda, py::arg("key"), py::arg("value"),
           "Sets 'lambdaGen' or 'lambda_<name>'.")
      .def("get_lambda", &CFeedDown::GetLambda, py::arg("key"), "The value of 'lambdaGen' or 'lambda_<name>'; femtokit.Error for another key.")
      .def("check_lambdas", &CFeedDown::CheckLambdas, "Checks the lambdas as apply does; returns their sum.")
      .def_property_readonly("residual_names",
                             [](const CFeedDown &d) {
                               std::vector<std::string> n;
                               for (int i = 0; i < d.GetNResiduals(); i++) n.push_back(d.GetResidualName(i));
                               return n;
                             },
                             "Names of the residual correlations, in the order of the parameter file.")
      .def_property_readonly(
          "lambdas", [](const CFeedDown &d) { return ToDict(d.lambdas); }, "The lambdas by key (a copy).");

  py::class_<CMomentumSmearing>(m, "CMomentumSmearing",
                                "Momentum resolution: carries C - 1 from the true q mesh to the measured one "
                                "(response matrix or Gaussian sigma(q)); q in MeV/c.")
      .def(py::init([](const py::object &pars) {
             std::unique_ptr<CMomentumSmearing> s;
             WithParameterFile(pars, [&](const std::string &file) { s = std::make_unique<CMomentumSmearing>(file); }, &SmearingKeys());
             return s;
           }),
           py::arg("pars"),
           "From a parameter file or dict (MODE, MATRIXFILE, SIGMA, SIGMAFILE, UNITS, ...). Relative file names "
           "are taken from the file's directory (for a dict: give absolute names).")
      .def("apply", &CMomentumSmearing::Apply, py::arg("cf_in"), py::arg("cf_out"), py::call_guard<Compute>(),
           "Smears the (0,0,0) component of cf_in (true mesh) into cf_out (measured mesh).")
      .def_property_readonly("is_gaussian", &CMomentumSmearing::IsGaussian, "True for a Gaussian resolution sigma(q), False for a response matrix.")
      .def("get_sigma", &CMomentumSmearing::GetSigma, py::arg("q"), "Resolution (MeV/c) at true q (MeV/c).")
      .def("true_q_reach", &CMomentumSmearing::TrueQReach, py::arg("qreco"),
           "How far (MeV/c) the model's true mesh should reach for measured bins up to qreco.");
}

}  // namespace python
}  // namespace femtokit
