// Source models: each fills a Cartesian-harmonic array with S(r) in fm^-3.
#include <algorithm>
#include <cmath>
#include <memory>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common.h"
#include "config/fatal.h"
#include "config/output.h"
#include "source/sourceparameters.h"
#include "source/sourcecalc.h"
#include "source/sourcecalc_blast.h"
#include "source/sourcecalc_gaussian.h"
#include "source/sourcecalc_gx1d.h"
#include "source/sourcecalc_levy.h"
#include "source/sourcecalc_oscar.h"

namespace femtokit {
namespace python {

namespace {

// The keys a model's dict may hold: its table's parameters (an int for a
// count, a float otherwise) and the event model's file name.
KeySchema SourceKeys(const femtokit::SourceModel &model) {
  KeySchema schema{std::string("source ") + model.name, {}};
  for (const femtokit::SourceParameter &p : model.parameters)
    schema.keys.push_back({p.name, p.integer ? KeyType::Int : KeyType::Double});
  if (&model == &femtokit::EventsModel()) schema.keys.push_back({"OSCARfilename", KeyType::String});
  return schema;
}

// Every parameter of the model in spars checked against its range:
// femtokit.ParameterError with the library's message.
void CheckRanges(const parameterMap &spars, const femtokit::SourceModel &model) {
  std::string message;
  try {
    femtokit::CheckAll(spars, model);
    return;
  } catch (const femtokit::Error &e) {
    message = e.what();
  }
  while (!message.empty() && message.back() == '\n') message.pop_back();
  RaiseParameterError(message);
}

// Overlays the dict onto spars (or replaces them): unknown keys, values of
// the wrong type and values outside the model's ranges raise and leave spars
// as they were.
void Apply(CSourceCalc &s, const py::dict &d, bool replace) {
  const femtokit::SourceModel *model = s.Model();
  if (model) CheckKeys(d, SourceKeys(*model));
  parameterMap next = replace ? parameterMap() : s.spars;
  for (const auto &e : ToParameterMap(d)) next[e.first] = e.second;
  if (model) CheckRanges(next, *model);
  s.spars = std::move(next);
}

// Runs a setter of the model; values outside its ranges raise and restore spars.
template <class T, class... A>
auto Checked(void (T::*f)(A...)) {
  return [f](T &s, A... a) {
    const parameterMap before = s.spars;
    (s.*f)(a...);
    if (const femtokit::SourceModel *model = s.Model()) {
      try {
        CheckRanges(s.spars, *model);
      } catch (...) {
        s.spars = before;
        throw;
      }
    }
  };
}

// The model with its defaults, overlaid by the dict when given.
template <class T>
std::unique_ptr<T> Make(const py::object &spars) {
  auto s = std::make_unique<T>();
  if (!spars.is_none()) Apply(*s, spars.cast<py::dict>(), false);
  return s;
}

std::string ParameterRepr(const femtokit::SourceParameter &p) {
  return std::string("<SourceParameter ") + p.name + " = " + femtokit::Format("%g", p.def) +
         (*p.unit ? std::string(" ") + p.unit : std::string()) + ", range " + femtokit::RangeText(p) + ": " +
         p.meaning + ">";
}

py::array_t<double> Points(const femtokit::PointList &p) {
  py::array_t<double> a({static_cast<py::ssize_t>(p.size()), static_cast<py::ssize_t>(4)});
  auto v = a.mutable_unchecked<2>();
  for (size_t i = 0; i < p.size(); i++)
    for (int k = 0; k < 4; k++) v(i, k) = p[i][k];
  return a;
}

// Refuses separations that are not finite or negative.
void CheckRadii(const double *r, py::ssize_t n) {
  for (py::ssize_t i = 0; i < n; i++)
    if (!std::isfinite(r[i]) || r[i] < 0.0)
      throw py::value_error(femtokit::Format("r = %g fm: expected a finite separation >= 0", r[i]));
}

// S_000 at the separations r (fm) from a fill of the l = 0 component on bins
// of width dr (fm) reaching beyond the largest r, linear between the bin
// centres and the first bin's value below its centre.
void MeshSource(CSourceCalc &s, const double *r, py::ssize_t n, double dr, double *out) {
  double rmax = 0.0;
  for (py::ssize_t i = 0; i < n; i++) rmax = std::max(rmax, r[i]);
  // At least 60 fm, so that the fill's check of the norm the mesh holds does
  // not warn about the small reach a few small r would ask for.
  const double bins = std::floor(std::max(rmax, 60.0) / dr) + 2.0;
  if (bins > 1.0e7)
    throw py::value_error(femtokit::Format("r up to %g fm on bins of %g fm: more than 10^7 bins; give a wider dr",
                                           rmax, dr));
  const int nbins = static_cast<int>(bins);
  CCHArray a(0, nbins, dr, false, false, false);
  s.CalcS(&a);
  const double *S = a.Row(0, 0, 0);
  for (py::ssize_t i = 0; i < n; i++) {
    const double x = r[i] / dr - 0.5;
    if (x <= 0.0) {
      out[i] = S[0];
      continue;
    }
    const int k = std::min(static_cast<int>(x), nbins - 2);
    const double f = x - k;
    out[i] = (1.0 - f) * S[k] + f * S[k + 1];
  }
}

// r -> S(r) (profile: 4 pi r^2 S(r)) through `eval` over the flattened radii.
template <class Eval>
py::object RadialFunction(const py::object &r, bool profile, Eval eval) {
  return Vectorize({r}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
    CheckRadii(v[0], n);
    eval(v[0], n, out);
    if (profile)
      for (py::ssize_t i = 0; i < n; i++) out[i] *= 4.0 * M_PI * v[0][i] * v[0][i];
  });
}

// The method source(r) (profile false) or 4 pi r^2 S(r) (profile true) of a
// model evaluated exactly by eval(model, r, n, out); dr is accepted and unused.
template <class Model, class Eval>
auto ExactRadialMethod(bool profile, Eval eval) {
  return [profile, eval](const Model &s, const py::object &r, const py::object &) {
    return RadialFunction(r, profile, [&](const double *x, py::ssize_t n, double *out) { eval(s, x, n, out); });
  };
}

double MeshWidth(const py::object &dr) {
  const double w = dr.is_none() ? 0.1 : dr.cast<double>();
  if (!std::isfinite(w) || !(w > 0.0)) throw py::value_error(femtokit::Format("dr = %g fm: expected a width > 0", w));
  return w;
}

const char *kMeshSourceDoc =
    "The angle-averaged source S(r) = S_000(r) in fm^-3 at separations r (fm; NumPy arrays welcome, same shape "
    "out) with the current parameters: the l = 0 component filled on bins of dr fm (default 0.1) reaching past "
    "the largest r, linear between bin centres. The Monte Carlo models (blast, events) fill histograms: a wider dr "
    "means less noise. ValueError for r < 0, a non-finite r or dr <= 0; femtokit.Error as the model's fill fails.";
const char *kMeshProfileDoc =
    "The distribution of the separation, 4 pi r^2 S(r) in fm^-1 (its integral over r is the model's lambda), at "
    "r (fm), from source(r, dr). Failures as source().";

const char *kSparsDoc =
    "The model's parameters as a dict (a copy; doubles keep 6 significant digits). Assigning a dict replaces "
    "them all; update_spars changes some.";

}  // namespace

void BindSources(py::module_ &m) {
  py::class_<femtokit::SourceParameter>(m, "SourceParameter",
                                        "One parameter of a source model: the model refuses values outside its range.")
      .def_property_readonly("name", [](const femtokit::SourceParameter &p) { return std::string(p.name); }, "The key in the model's spars.")
      .def_property_readonly(
          "unit", [](const femtokit::SourceParameter &p) { return std::string(p.unit); },
          "'fm', 'fm/c', 'MeV', 'MeV/c', 'rad', 'deg', 'c', or '' for a pure number.")
      .def_readonly("default", &femtokit::SourceParameter::def, "The value the model starts from.")
      .def_property_readonly(
          "range", [](const femtokit::SourceParameter &p) { return py::make_tuple(p.min, p.max); },
          "(min, max); min_open and max_open say whether an end is excluded.")
      .def_readonly("min_open", &femtokit::SourceParameter::minOpen, "True when the lower end of the range is excluded.")
      .def_readonly("max_open", &femtokit::SourceParameter::maxOpen, "True when the upper end of the range is excluded.")
      .def_property_readonly("range_text", [](const femtokit::SourceParameter &p) { return femtokit::RangeText(p); },
                             "The range as the messages show it: '(0, 1000] fm'.")
      .def_readonly("step", &femtokit::SourceParameter::step, "First step of a fit (same unit).")
      .def_readonly("integer", &femtokit::SourceParameter::integer, "True for a count (an int).")
      .def_property_readonly("meaning", [](const femtokit::SourceParameter &p) { return std::string(p.meaning); }, "What the parameter is, in one line.")
      .def(
          "contains", [](const femtokit::SourceParameter &p, double x) { return femtokit::InRange(p, x); },
          py::arg("value"), "True when the model accepts the value.")
      .def("__repr__", &ParameterRepr);

  py::class_<femtokit::SourceModel>(m, "SourceModel",
                                    "A source model's parameter table, the one the library checks against.")
      .def_property_readonly("name", [](const femtokit::SourceModel &s) { return std::string(s.name); }, "The model's name ('gx1d', 'levy', 'gauss3d', 'blast', 'events').")
      .def_property_readonly(
          "title", [](const femtokit::SourceModel &s) { return std::string(s.title); }, "What the model is.")
      .def_property_readonly(
          "parameters",
          [](const femtokit::SourceModel &s) {
            py::list l;
            for (const femtokit::SourceParameter &p : s.parameters)
              l.append(py::cast(&p, py::return_value_policy::reference));
            return l;
          },
          "Its parameters, in the order a user sees them.")
      .def(
          "__getitem__",
          [](const femtokit::SourceModel &s, const std::string &name) {
            const femtokit::SourceParameter *p = s.Find(name);
            if (!p) throw py::key_error(std::string("source ") + s.name + ": no parameter '" + name + "'");
            return p;
          },
          py::arg("name"), py::return_value_policy::reference, "The parameter of that name; KeyError when absent.")
      .def("__repr__", [](const femtokit::SourceModel &s) {
        std::string text = std::string("<SourceModel ") + s.name + ": " + s.title + "\n";
        for (const femtokit::SourceParameter &p : s.parameters) text += "  " + ParameterRepr(p) + "\n";
        return text + ">";
      });

  m.def(
      "source_models",
      [] {
        py::dict d;
        for (const femtokit::SourceModel *model : femtokit::SourceModels())
          d[model->name] = py::cast(model, py::return_value_policy::reference);
        return d;
      },
      "The source models' parameter tables by name ('gx1d', 'levy', 'gauss3d', 'blast', 'events'): names, units, "
      "defaults, ranges, fit steps and meanings.");
  m.def(
      "source_model",
      [](const std::string &name) {
        const femtokit::SourceModel *model = femtokit::FindSourceModel(name);
        if (!model) throw py::key_error("no source model '" + name + "' (gx1d, levy, gauss3d, blast or events)");
        return model;
      },
      py::arg("name"), py::return_value_policy::reference, "One model's parameter table; KeyError when unknown.");

  py::class_<CSourceCalc>(m, "CSourceCalc",
                          "Base of the source models: the named parameters in spars turn into S(r) (fm^-3, r in "
                          "fm) written into an array, normalised to the model's lambda.")
      .def_property(
          "spars", [](const CSourceCalc &s) { return ToDict(s.spars); },
          [](CSourceCalc &s, const py::dict &d) { Apply(s, d, true); }, kSparsDoc)
      .def(
          "update_spars", [](CSourceCalc &s, const py::dict &d) { Apply(s, d, false); }, py::arg("pars"),
          "Sets the given parameters, leaving the others. KeyError for a name the model does not have, TypeError "
          "for a value of the wrong type, femtokit.ParameterError (a ValueError) for one outside the model's range; "
          "spars stay as they were.")
      .def(
          "read_spars",
          [](CSourceCalc &s, const py::object &pars) {
            if (py::isinstance<py::dict>(pars)) return Apply(s, pars.cast<py::dict>(), false);
            const parameterMap before = s.spars;
            WithParameterFile(pars, [&](const std::string &file) { s.ReadSPars(file); });
            if (const femtokit::SourceModel *model = s.Model()) {
              try {
                CheckRanges(s.spars, *model);
              } catch (...) {
                s.spars = before;
                throw;
              }
            }
          },
          py::arg("pars"),
          "Overlays a parameter file (or dict) onto spars; femtokit.Error for a missing file, "
          "femtokit.ParameterError (a ValueError) for a value outside the model's range.")
      .def_property_readonly(
          "model", [](const CSourceCalc &s) { return s.Model(); }, py::return_value_policy::reference,
          "The model's parameter table (femtokit.SourceModel), or None.")
      .def_property_readonly(
          "parameters",
          [](const CSourceCalc &s) {
            py::list l;
            if (const femtokit::SourceModel *model = s.Model())
              for (const femtokit::SourceParameter &p : model->parameters)
                l.append(py::cast(&p, py::return_value_policy::reference));
            return l;
          },
          "The model's parameters (femtokit.SourceParameter: name, unit, default, range, step, meaning).")
      .def(
          "source",
          [](CSourceCalc &s, const py::object &r, const py::object &dr) {
            const double w = MeshWidth(dr);
            return RadialFunction(r, false, [&](const double *x, py::ssize_t n, double *out) { MeshSource(s, x, n, w, out); });
          },
          py::arg("r"), py::arg("dr") = py::none(), kMeshSourceDoc)
      .def(
          "profile",
          [](CSourceCalc &s, const py::object &r, const py::object &dr) {
            const double w = MeshWidth(dr);
            return RadialFunction(r, true, [&](const double *x, py::ssize_t n, double *out) { MeshSource(s, x, n, w, out); });
          },
          py::arg("r"), py::arg("dr") = py::none(), kMeshProfileDoc)
      .def("calc_s", py::overload_cast<CCHArray *>(&CSourceCalc::CalcS), py::arg("A"), py::call_guard<Compute>(),
           "Fills the whole array with S(r) (fm^-3) on its r mesh (fm), without the GIL. femtokit.Error as the "
           "model fails (e.g. parameters that break the array's symmetry).")
      .def("calc_s", py::overload_cast<int, int, int, CCHArray *>(&CSourceCalc::CalcS), py::arg("lx"), py::arg("ly"),
           py::arg("lz"), py::arg("A"), py::call_guard<Compute>(),
           "Fills component (lx, ly, lz) for every radial bin (models that support it).")
      .def("norm_check", py::overload_cast<CCHArray *>(&CSourceCalc::NormCheck), py::arg("A"),
           py::call_guard<Compute>(), "Prints the integral of the source over the mesh (lambda when it holds all).")
      .def("norm_check", py::overload_cast<C3DArray *>(&CSourceCalc::NormCheck), py::arg("A"),
           py::call_guard<Compute>())
      .def(
          "calc_eff_gauss_pars",
          [](CSourceCalc &s, CCHArray *a) {
            double rx, ry, rz, xo, yo, zo;
            {
              Compute compute;
              s.CalcEffGaussPars(a, rx, ry, rz, xo, yo, zo);
            }
            py::dict d;
            d["Rx"] = rx, d["Ry"] = ry, d["Rz"] = rz, d["Xoff"] = xo, d["Yoff"] = yo, d["Zoff"] = zo;
            return d;
          },
          py::arg("A"),
          "Radii Rx, Ry, Rz and offsets Xoff, Yoff, Zoff (fm) of the Gaussian with the source's first and second "
          "moments, as a dict.");

  // Exact S(r) of the models that have one, for source(r) and profile(r).
  const auto gx1dSource = [](const CSourceCalc_GX1D &g, const double *x, py::ssize_t n, double *out) {
    g.Source(x, static_cast<int>(n), out);
  };
  const auto levySource = [](const CSourceCalc_Levy &l, const double *x, py::ssize_t n, double *out) {
    for (py::ssize_t i = 0; i < n; i++) out[i] = l.Source(x[i]);
  };
  py::class_<CSourceCalc_GX1D, CSourceCalc>(
      m, "CSourceCalc_GX1D",
      "A Gaussian of one-particle radius R (fm; S ~ exp(-r^2/(4 R^2))) with weight lambdaG plus an exponential-like "
      "tail of length X (fm) with weight lambdaX; its components of order L > 0 carry (r^2/(r^2+a^2))^(L/2) (a in "
      "fm), so it is not isotropic unless a is large. Parameters, units and ranges: the parameters attribute.")
      .def(py::init(&Make<CSourceCalc_GX1D>), py::arg("spars") = py::none(),
           "Defaults, overlaid by the dict spars when given.")
      .def("set_spars", Checked(&CSourceCalc_GX1D::SetSPars), py::arg("lambdaG"), py::arg("R"), py::arg("lambdaX"), py::arg("X"),
           py::arg("a"), "Sets the five parameters (R, X, a in fm).")
      .def(
          "source",
          ExactRadialMethod<CSourceCalc_GX1D>(false, gx1dSource),
          py::arg("r"), py::arg("dr") = py::none(),
          "The angle-averaged source S_000(r) in fm^-3 at separations r (fm; NumPy arrays welcome, same shape out), "
          "exact (dr is not used). ValueError for r < 0 or not finite; femtokit.ParameterError for a parameter "
          "outside its range.")
      .def(
          "profile",
          ExactRadialMethod<CSourceCalc_GX1D>(true, gx1dSource),
          py::arg("r"), py::arg("dr") = py::none(),
          "4 pi r^2 S_000(r) in fm^-1 at r (fm), exact: the distribution of the separation, integrating to "
          "lambdaG + lambdaX. Failures as source().")
      .def("lost_fraction", &CSourceCalc_GX1D::LostFraction, py::arg("rho"),
           "Fraction of the model's norm at r > rho (fm).");

  py::class_<CSourceCalc_Levy, CSourceCalc>(
      m, "CSourceCalc_Levy",
      "Isotropic Levy-stable source of index alpha (0 < alpha <= 2) and scale R (fm): S(r) = lambda R^-3 "
      "f_alpha(r/R), the Gaussian of one-particle radius R at alpha = 2, tails ~ r^-(3+alpha) below. Fills the l = 0 "
      "component.")
      .def(py::init(&Make<CSourceCalc_Levy>), py::arg("spars") = py::none(),
           "Defaults (lambda 1, R 5 fm, alpha 1.5), overlaid by the dict spars when given.")
      .def("set_spars", Checked(&CSourceCalc_Levy::SetSPars), py::arg("lambda_"), py::arg("R"), py::arg("alpha"),
           "Sets lambda, R (fm) and alpha.")
      .def(
          "source",
          ExactRadialMethod<CSourceCalc_Levy>(false, levySource),
          py::arg("r"), py::arg("dr") = py::none(),
          "S(r) in fm^-3 at separations r (fm) with the current parameters (NumPy arrays welcome, same shape out; "
          "dr is not used). ValueError for r < 0 or not finite; femtokit.Error for R <= 0 or alpha outside (0, 2].")
      .def(
          "radial_profile",
          ExactRadialMethod<CSourceCalc_Levy>(true, levySource),
          py::arg("r"), py::arg("dr") = py::none(),
          "4 pi r^2 S(r) in fm^-1 at r (fm): the distribution of the separation, integrating to lambda. Called as "
          "levy.profile(r) on an object. Failures as source().")
      .def("lost_fraction", &CSourceCalc_Levy::LostFraction, py::arg("rho"),
           "Fraction of the model's norm beyond rho (fm).")
      .def_static(
          "unit_profile",
          [](double alpha, const py::object &x) {
            return Vectorize({x}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
              for (py::ssize_t i = 0; i < n; i++) {
                if (!std::isfinite(v[0][i]) || v[0][i] < 0.0)
                  throw py::value_error(femtokit::Format("x = %g: expected a finite value >= 0", v[0][i]));
                out[i] = CSourceCalc_Levy::Profile(alpha, v[0][i]);
              }
            });
          },
          py::arg("alpha"), py::arg("x"),
          "Unit-scale profile f_alpha(x) (R = 1, lambda = 1, units of R^-3) at x = r/R (NumPy arrays welcome); "
          "also CSourceCalc_Levy.profile(alpha, x) called on the class. ValueError for x < 0 or not finite; "
          "femtokit.Error for alpha outside (0, 2].");

  py::class_<CSourceCalc_Gaussian, CSourceCalc>(
      m, "CSourceCalc_Gaussian",
      "Three-dimensional Gaussian of the pair separation: radii Rx, Ry, Rz (fm) along its axes, centre (Xoff, "
      "Yoff, Zoff) in fm, axes turned by the Euler angles Euler_Phi, Euler_Theta, Euler_Psi (rad); integral "
      "lambda.")
      .def(py::init(&Make<CSourceCalc_Gaussian>), py::arg("spars") = py::none(),
           "Defaults (lambda 1, radii 4 fm), overlaid by the dict spars when given.")
      .def("set_spars",
           Checked(py::overload_cast<double, double, double, double, double, double, double, double, double, double>(
               &CSourceCalc_Gaussian::SetSPars)),
           py::arg("lambda_"), py::arg("Rx"), py::arg("Ry"), py::arg("Rz"), py::arg("Xoff") = 0.0,
           py::arg("Yoff") = 0.0, py::arg("Zoff") = 0.0, py::arg("Euler_Phi") = 0.0, py::arg("Euler_Theta") = 0.0,
           py::arg("Euler_Psi") = 0.0, "Sets lambda, the radii and offsets (fm) and the Euler angles (rad).")
      .def("calc_s", py::overload_cast<C3DArray *>(&CSourceCalc_Gaussian::CalcS), py::arg("A"),
           py::call_guard<Compute>(), "Fills a 3D mesh with S at the cell centres (axis-aligned: no Euler angles).")
      .def("calc_s", py::overload_cast<CCHArray *>(&CSourceCalc_Gaussian::CalcS), py::arg("A"),
           py::call_guard<Compute>(),
           "Fills the harmonic array, exact up to its LMAX. femtokit.Error when the parameters break its symmetry.")
      .def("calc_s_series", &CSourceCalc_Gaussian::CalcS_Series, py::arg("A"), py::call_guard<Compute>(),
           "The same fill through the exponential series (the slower reference).");

  py::class_<CSourceCalc_Blast, CSourceCalc>(
      m, "CSourceCalc_Blast",
      "Monte Carlo blast-wave source: emission on a disk of radius R (fm) with transverse flow (edge velocity "
      "Beta), proper times around Tau (fm/c, spread DelTau), temperature T (MeV), pair momentum Pt (MeV/c), "
      "spatial-rapidity width EtaG, masses Ma, Mb (MeV), Nsample points per species.")
      .def(py::init(&Make<CSourceCalc_Blast>), py::arg("spars") = py::none(),
           "Defaults, overlaid by the dict spars when given; its own generator (seed -1234).")
      .def("set_spars",
           Checked(py::overload_cast<double, double, double, double, double, double, double, double, double, double>(
               &CSourceCalc_Blast::SetSPars)),
           py::arg("lambda_"), py::arg("R"), py::arg("Tau"), py::arg("DelTau"), py::arg("Beta"), py::arg("T"),
           py::arg("Pt"), py::arg("EtaG"), py::arg("Ma"), py::arg("Mb"), "Defaults first, then these values.")
      .def("set_spars", Checked(py::overload_cast<double, double, double, double>(&CSourceCalc_Blast::SetSPars)),
           py::arg("lambda_"), py::arg("R"), py::arg("Tau"), py::arg("DelTau"), "Defaults first, then these values.")
      .def(
          "get_r",
          [](CSourceCalc_Blast &s, double energy, double px) {
            CSourceCalc_Blast::Points r;
            const double p[4] = {energy, px, 0.0, 0.0};
            {
              Compute compute;
              s.Get_r(p, r);
            }
            return Points(r);
          },
          py::arg("energy"), py::arg("px"),
          "Nsample emission points (t, x, y, z) in fm/c and fm of a particle of energy and momentum px along x "
          "(MeV), as an array of shape (Nsample, 4).");

  py::class_<CSourceCalc_OSCAR, CSourceCalc>(
      m, "CSourceCalc_OSCAR",
      "Source from the final-state particles of simulated events in a text event file (spars OSCARfilename): "
      "species IDa, IDb in a window of pT (Pt, DELPT in MeV/c), azimuth and rapidity; pair separations in fm.")
      .def(py::init(&Make<CSourceCalc_OSCAR>), py::arg("spars") = py::none(),
           "Defaults, overlaid by the dict spars when given.")
      .def("set_spars", Checked(&CSourceCalc_OSCAR::SetSPars), py::arg("Pt"), py::arg("DELPT"), py::arg("PHIMIN_DEG"),
           py::arg("PHIMAX_DEG"), py::arg("YMIN"), py::arg("YMAX"),
           "Pair momentum window (MeV/c), azimuth window (degrees) and rapidity window.")
      .def("set_ids", py::overload_cast<int, int>(&CSourceCalc_OSCAR::SetIDs), py::arg("IDa"), py::arg("IDb"),
           "Species by PDG code, with their masses from the table of species; femtokit.Error for a code it lacks.")
      .def("set_ids", py::overload_cast<int, int, double, double>(&CSourceCalc_OSCAR::SetIDs), py::arg("IDa"),
           py::arg("IDb"), py::arg("Ma"), py::arg("Mb"), "Species by any PDG codes, with their masses (MeV).")
      .def(
          "read_r",
          [](CSourceCalc_OSCAR &s) {
            CSourceCalc_OSCAR::Points ra, rb;
            int events;
            {
              Compute compute;
              events = s.ReadR(ra, rb);
            }
            return py::make_tuple(events, Points(ra), Points(rb));
          },
          "Reads the event file: (events, points of species a, points of species b), points as arrays of rows "
          "(t, out, side, long) in fm/c and fm. femtokit.Error for a file that cannot be read.")
      .def(
          "last_summary",
          [](const CSourceCalc_OSCAR &s) {
            const CSourceCalc_OSCAR::Summary &x = s.LastSummary();
            py::dict d;
            d["events"] = x.events, d["na"] = x.na, d["nb"] = x.nb, d["pairs"] = x.pairs, d["inside"] = x.inside;
            d["mean"] = py::make_tuple(x.mean[0], x.mean[1], x.mean[2]);
            d["radius"] = py::make_tuple(x.radius[0], x.radius[1], x.radius[2]);
            return d;
          },
          "What the last calc_s found: counts, mean separation and effective radii (out, side, long) in fm.");
}

}  // namespace python
}  // namespace femtokit
