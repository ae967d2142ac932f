// Source imaging from Python: femtokit.image and femtokit.ImageResult.
#include <cmath>

#include "common.h"
#include "fit/image.h"
#include "kernel/kernel.h"

namespace femtokit {
namespace python {

namespace {

py::array_t<double> Array(const std::vector<double> &v) {
  py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

py::array_t<double> Square(const std::vector<double> &v) {
  const auto n = static_cast<py::ssize_t>(std::lround(std::sqrt(static_cast<double>(v.size()))));
  py::array_t<double> a({n, n});
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

// A 1D float64 array from any sequence; ValueError naming the argument otherwise.
std::vector<double> Vector(const py::object &o, const char *name) {
  py::array_t<double, py::array::c_style | py::array::forcecast> a;
  try {
    a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(o);
  } catch (py::error_already_set &) {
    a = py::array_t<double, py::array::c_style | py::array::forcecast>();
  }
  if (!a || a.ndim() != 1) throw py::value_error(std::string(name) + ": expected a 1D sequence of numbers");
  return std::vector<double>(a.data(), a.data() + a.size());
}

std::string Text(const ImageResult &r) {
  std::string s = "ImageResult (l=" + std::to_string(r.l) + ")\n";
  for (const std::string &line : r.Summary()) s += "  " + line + "\n";
  return s;
}

}  // namespace

void BindImage(py::module_ &m);
void BindImage(py::module_ &m) {
  py::class_<ImageResult>(
      m, "ImageResult",
      "A source imaged from a correlation function (femtokit.image). Read-only attributes: r (fm), s (the image "
      "S_l(r), fm^-3), s_err (its 1-sigma errors), covariance (of s, fm^-6, propagated from the data's errors through "
      "the regularised linear map; regularisation bias not included), coefficients and coefficient_covariance (of "
      "the basis), knots (fm), order, centres (Greville abscissa of each basis function, fm), resolution (the "
      "resolution matrix's diagonal per basis function: the share the data determine), curve (the image transformed "
      "back at the data's q: C - 1 for l = 0), chi2 (of the image against the data), npoints, ndof (npoints minus "
      "effective_parameters), effective_parameters (trace of the influence matrix), regularisation (the strength "
      "used, dimensionless), criterion ('gcv', 'lcurve' or 'fixed'), positive, active (coefficients held at 0), "
      "r_min_resolved and r_max_resolved (fm), l.")
      .def_property_readonly(
          "r", [](const ImageResult &r) { return Array(r.r); }, "The output mesh r (fm).")
      .def_property_readonly(
          "s", [](const ImageResult &r) { return Array(r.s); }, "The image S_l(r) at r (fm^-3).")
      .def_property_readonly(
          "s_err", [](const ImageResult &r) { return Array(r.error); },
          "The 1-sigma errors of s (fm^-3): square roots of the covariance's diagonal.")
      .def_property_readonly(
          "covariance", [](const ImageResult &r) { return Square(r.covariance); },
          "Covariance of s (fm^-6), propagated from the data's errors through the regularised linear map; the "
          "regularisation bias is not included.")
      .def_property_readonly(
          "coefficients", [](const ImageResult &r) { return Array(r.coefficients); },
          "The basis coefficients c_j (fm^-3).")
      .def_property_readonly(
          "coefficient_covariance", [](const ImageResult &r) { return Square(r.coefficientCovariance); },
          "Covariance of the basis coefficients (fm^-6).")
      .def_property_readonly(
          "knots", [](const ImageResult &r) { return Array(r.knots); }, "The basis breakpoints used (fm).")
      .def_property_readonly(
          "centres", [](const ImageResult &r) { return Array(r.centres); },
          "Greville abscissa of each basis function (fm).")
      .def_property_readonly(
          "resolution", [](const ImageResult &r) { return Array(r.resolution); },
          "Diagonal of the resolution matrix per basis function: the share of each coefficient the data determine (1 "
          "fully, 0 not at all).")
      .def_property_readonly(
          "curve", [](const ImageResult &r) { return Array(r.curve); },
          "The image transformed back at the data's q (C - 1 for l = 0, C_l otherwise).")
      .def_readonly("order", &ImageResult::order, "B-spline order of the basis (1 bins, 4 cubic).")
      .def_readonly("l", &ImageResult::l, "The order l of the imaged component.")
      .def_readonly("chi2", &ImageResult::chi2, "chi^2 of the image transformed back against the data.")
      .def_readonly("npoints", &ImageResult::npoints, "Number of data points.")
      .def_readonly("ndof", &ImageResult::ndof, "Degrees of freedom: npoints minus effective_parameters.")
      .def_readonly("effective_parameters", &ImageResult::effective,
                    "Effective number of parameters: the trace of the influence matrix of the data on the fit.")
      .def_readonly("regularisation", &ImageResult::alpha, "The regularisation strength used (dimensionless).")
      .def_property_readonly(
          "criterion", [](const ImageResult &r) { return std::string(CriterionName(r.criterion)); },
          "How the strength was chosen: 'gcv', 'lcurve' or 'fixed'.")
      .def_readonly("positive", &ImageResult::positive, "Whether S >= 0 was imposed.")
      .def_readonly("active", &ImageResult::active, "Number of basis coefficients held at 0 by positivity.")
      .def_readonly("r_min_resolved", &ImageResult::rMinResolved,
                    "Smallest r (fm) the data resolve: max(first knot, pi hbar c / (2 q_max)).")
      .def_readonly("r_max_resolved", &ImageResult::rMaxResolved,
                    "Largest r (fm) the data resolve: min(last knot, pi hbar c / (2 dq)), dq the data's q spacing.")
      .def(
          "evaluate",
          [](const ImageResult &r, const py::object &x) {
            return Vectorize({x}, [&r](const std::vector<const double *> &in, py::ssize_t n, double *out) {
              for (py::ssize_t i = 0; i < n; i++) out[i] = r.Evaluate(in[0][i]);
            });
          },
          py::arg("r"), "The image S_l at r (fm; a number or an array), fm^-3; 0 outside the knots.")
      .def(
          "integral",
          [](const ImageResult &r, double r1, double r2) {
            double e;
            const double v = r.Integral(r1, r2, &e);
            return py::make_tuple(v, e);
          },
          py::arg("r1") = 0.0, py::arg("r2") = HUGE_VAL,
          "(value, error) of 4 pi Int_{r1}^{r2} r^2 S_l dr (r in fm): for l = 0 over the whole range the norm "
          "lambda; the error from the coefficients' covariance.")
      .def(
          "to_dict",
          [](const ImageResult &r) {
            py::dict d;
            auto list = [](const std::vector<double> &v) { return py::cast(v); };
            const size_t n = r.r.size();
            py::list cov;
            for (size_t i = 0; i < n; i++)
              cov.append(
                  py::cast(std::vector<double>(r.covariance.begin() + i * n, r.covariance.begin() + (i + 1) * n)));
            d["l"] = r.l;
            d["r"] = list(r.r);
            d["s"] = list(r.s);
            d["s_err"] = list(r.error);
            d["covariance"] = cov;
            d["coefficients"] = list(r.coefficients);
            d["knots"] = list(r.knots);
            d["order"] = r.order;
            d["curve"] = list(r.curve);
            d["chi2"] = r.chi2;
            d["npoints"] = r.npoints;
            d["ndof"] = r.ndof;
            d["effective_parameters"] = r.effective;
            d["regularisation"] = r.alpha;
            d["criterion"] = CriterionName(r.criterion);
            d["positive"] = r.positive;
            d["active"] = r.active;
            // NaN is not JSON: an empty resolved range is None.
            d["r_min_resolved"] = std::isnan(r.rMinResolved) ? py::object(py::none()) : py::cast(r.rMinResolved);
            d["r_max_resolved"] = std::isnan(r.rMaxResolved) ? py::object(py::none()) : py::cast(r.rMaxResolved);
            return d;
          },
          "A plain dict of the result (lists for arrays) that json.dumps accepts.")
      .def("__str__", &Text)
      .def("__repr__", &Text);

  m.def(
      "image",
      [](CKernel &kernel, const py::object &q, const py::object &c, const py::object &err, const py::object &l,
         const py::object &knots, int order, const py::object &positive, const py::object &regularisation,
         const py::object &norm, const py::object &r) {
        ImageOptions o;
        // l: the order L, or a component (lx, ly, lz) of order lx + ly + lz.
        if (py::isinstance<py::int_>(l) && !py::isinstance<py::bool_>(l)) {
          o.l = l.cast<int>();
        } else {
          std::vector<int> t;
          try {
            t = l.cast<std::vector<int>>();
          } catch (py::cast_error &) {
          }
          if (t.size() != 3) throw py::value_error("l: expected the order L (int) or a component (lx, ly, lz)");
          o.l = t[0] + t[1] + t[2];
        }
        if (o.l < 0) throw py::value_error("l: expected an order >= 0, got " + std::to_string(o.l));
        ImageData d;
        d.q = Vector(q, "q");
        d.cf = Vector(c, "c");
        d.error = Vector(err, "err");
        if (o.l == 0)
          for (double &v : d.cf) v -= 1.0;
        if (!knots.is_none()) o.knots = Vector(knots, "knots");
        if (!r.is_none()) o.r = Vector(r, "r");
        o.order = order;
        o.positive = positive.is_none() ? o.l == 0 : positive.cast<bool>();
        if (!norm.is_none()) o.lambda = norm.cast<double>();
        if (regularisation.is_none()) {
          o.criterion = ImageCriterion::GCV;
        } else if (py::isinstance<py::str>(regularisation)) {
          const std::string name = regularisation.cast<std::string>();
          if (name == "gcv")
            o.criterion = ImageCriterion::GCV;
          else if (name == "lcurve")
            o.criterion = ImageCriterion::LCurve;
          else
            throw py::value_error("regularisation: expected 'gcv', 'lcurve' or a strength >= 0, got '" + name + "'");
        } else {
          o.criterion = ImageCriterion::Fixed;
          o.alpha = regularisation.cast<double>();
        }
        Compute compute;
        return Image(kernel, d, o);
      },
      py::arg("kernel"), py::arg("q"), py::arg("c"), py::arg("err"), py::kw_only(), py::arg("l") = 0,
      py::arg("knots") = py::none(), py::arg("order") = 4, py::arg("positive") = py::none(),
      py::arg("regularisation") = py::none(), py::arg("norm") = py::none(), py::arg("r") = py::none(),
      "Images the source S_l(r) from a measured correlation function through the kernel (femtokit.CKernel).\n\n"
      "q: MeV/c (within the kernel's q bin centres); c: C(q) for l = 0 (1 is subtracted), the component C_l(q) "
      "for l > 0; err: the errors of c (> 0). l: the order L or a component (lx, ly, lz); the projection K_L of the "
      "kernel relates C_l(q) = 4 pi Int r^2 K_L(q, r) S_l(r) dr. knots: basis breakpoints in fm (increasing, "
      "within the kernel's r mesh; default 17 from 0 to its end); order: B-spline order (1 bins, 4 cubic). "
      "positive: S >= 0 (default True for l = 0; only there). regularisation: None or 'gcv' (generalised "
      "cross-validation), 'lcurve', or a strength >= 0 (dimensionless: the penalty on Int S''^2 dr is scaled by "
      "tr(A^T W A)/tr(L^T L)). norm: None (free) or the fixed 4 pi Int r^2 S dr (lambda; l = 0). r: the output "
      "mesh in fm (default the kernel's r bins within the knots).\n"
      "Returns a femtokit.ImageResult. Raises femtokit.Error for non-finite values, errors <= 0, q outside the "
      "kernel, knots not increasing or beyond the kernel, too few points for the basis, positivity or norm for "
      "l > 0; ValueError for arguments of the wrong shape.");
}

}  // namespace python
}  // namespace femtokit
