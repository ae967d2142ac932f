// CCHArray, C3DArray and the conversions between them.
#include <cmath>
#include <memory>

#include "arrays/array3d.h"
#include "arrays/arraycalc.h"
#include "arrays/charray.h"
#include "common.h"
#include "config/fatal.h"

namespace femtokit {
namespace python {

namespace {

std::vector<std::array<int, 3>> StoredTriples(const CCHArray &a) {
  std::vector<std::array<int, 3>> triples;
  a.ForEachStoredTriple([&](int lx, int ly, int lz) { triples.push_back({lx, ly, lz}); });
  return triples;
}

// Row of (lx, ly, lz) in the storage block, or -1.
long Row(const CCHArray &a, int lx, int ly, int lz) {
  long row = 0, found = -1;
  a.ForEachStoredTriple([&](int x, int y, int z) {
    if (x == lx && y == ly && z == lz) found = row;
    row++;
  });
  return found;
}

std::vector<py::ssize_t> Shape3D(const C3DArray &a) {
  const std::array<int, 6> s = a.AllocatedShape();
  return {s[0], s[1], s[2], s[3], s[4], s[5]};
}

bool SameShape(const C3DArray &a, const C3DArray &b) {
  return a.AllocatedShape() == b.AllocatedShape() && std::fabs(a.GetDELX() - b.GetDELX()) <= 1e-10 &&
         std::fabs(a.GetDELY() - b.GetDELY()) <= 1e-10 && std::fabs(a.GetDELZ() - b.GetDELZ()) <= 1e-10;
}

// Cell centres along one axis of the full mesh: -(n - 0.5) d ... (n - 0.5) d,
// or only the positive half for a symmetric axis.
std::vector<double> AxisCentres(int n, double del, bool sym) {
  std::vector<double> c;
  if (!sym)
    for (int i = n - 1; i >= 0; i--) c.push_back(-(i + 0.5) * del);
  for (int i = 0; i < n; i++) c.push_back((i + 0.5) * del);
  return c;
}

}  // namespace

void BindArrays(py::module_ &m) {
  py::class_<CCHArray>(m, "CCHArray",
                       "A function of a three-vector in its Cartesian-harmonic expansion: for each stored triple "
                       "(lx, ly, lz), lx + ly + lz <= LMAX, a radial profile of NRADIAL bins of width RADSTEP "
                       "(bin ir centred at (ir + 0.5) RADSTEP; fm for sources, MeV/c for correlation functions). "
                       "Symmetry flags keep only even indices of an axis. Sources hold S(r) in fm^-3, correlation "
                       "functions C(q) - 1.")
      .def(py::init<int, int, double, bool, bool, bool>(), py::arg("lmax"), py::arg("nradial"), py::arg("radstep"),
           py::arg("xsym") = false, py::arg("ysym") = false, py::arg("zsym") = false,
           "An array of zeros. radstep in the unit of the radial variable (fm or MeV/c). Raises femtokit.Error for "
           "a negative lmax or nradial.")
      .def(py::init([](const py::object &pars) {
             std::unique_ptr<CCHArray> a;
             WithParameterFile(pars, [&](const std::string &file) { a = std::make_unique<CCHArray>(file); }, &ArrayKeys());
             return a;
           }),
           py::arg("pars"),
           "An array of zeros from an array parameter file or a dict of its keys (LMAX, NRADIAL, RADSTEP, XSYM, "
           "YSYM, ZSYM, IDENTICAL). Raises femtokit.Error for a missing file or impossible sizes.")
      .def_property_readonly("lmax", &CCHArray::GetLMAX, "Highest order L = lx + ly + lz in use.")
      .def_property_readonly("nradial", &CCHArray::GetNRADIAL, "Number of radial bins.")
      .def_property("radstep", &CCHArray::GetRADSTEP, &CCHArray::SetRADSTEP, "Radial bin width (fm or MeV/c).")
      .def_property_readonly("xsym", &CCHArray::GetXSYM, "True when the array is even in x (odd-lx components absent).")
      .def_property_readonly("ysym", &CCHArray::GetYSYM, "True when the array is even in y (odd-ly components absent).")
      .def_property_readonly("zsym", &CCHArray::GetZSYM, "True when the array is even in z (odd-lz components absent).")
      .def("set_lmax", &CCHArray::SetLMAX, py::arg("lmax"),
           "Lowers LMAX (a larger value is ignored); the storage and its views stay as built.")
      .def_property_readonly(
          "bin_centres",
          [](const CCHArray &a) {
            py::array_t<double> r(a.GetNRADIAL());
            for (int i = 0; i < a.GetNRADIAL(); i++) r.mutable_at(i) = (i + 0.5) * a.GetRADSTEP();
            return r;
          },
          "Radial bin centres (ir + 0.5) * radstep (fm or MeV/c), a new array.")
      .def_property_readonly(
          "triples",
          [](const CCHArray &a) {
            py::list t;
            for (const auto &l : StoredTriples(a)) t.append(py::make_tuple(l[0], l[1], l[2]));
            return t;
          },
          "The stored triples (lx, ly, lz) in storage order: row i of coefficients belongs to triples[i].")
      .def_property_readonly(
          "coefficients",
          [](py::object self) {
            CCHArray &a = self.cast<CCHArray &>();
            const py::ssize_t rows = static_cast<py::ssize_t>(StoredTriples(a).size());
            return View(a.Data(), {rows, a.GetNRADIAL()}, self);
          },
          "All coefficients as a writable NumPy view (no copy) of shape (len(triples), nradial): row i is triple "
          "triples[i]. The view keeps the array alive.")
      .def(
          "component",
          [](py::object self, int lx, int ly, int lz) {
            CCHArray &a = self.cast<CCHArray &>();
            const long row = Row(a, lx, ly, lz);
            if (row < 0)
              throw py::key_error("triple (" + std::to_string(lx) + ", " + std::to_string(ly) + ", " +
                                  std::to_string(lz) + ") is not stored in this array");
            return View(a.Data() + row * a.GetNRADIAL(), {a.GetNRADIAL()}, self);
          },
          py::arg("lx"), py::arg("ly"), py::arg("lz"),
          "The radial profile of triple (lx, ly, lz) as a writable NumPy view (no copy); KeyError when not "
          "stored. The view keeps the array alive.")
      .def("get_element", py::overload_cast<int, int, int, int>(&CCHArray::GetElement, py::const_), py::arg("lx"),
           py::arg("ly"), py::arg("lz"), py::arg("ir"),
           "Coefficient (lx, ly, lz) of radial bin ir; 0 with a warning when not stored.")
      .def("set_element", py::overload_cast<int, int, int, int, double>(&CCHArray::SetElement), py::arg("lx"),
           py::arg("ly"), py::arg("lz"), py::arg("ir"), py::arg("value"),
           "Sets a coefficient; femtokit.Error when it is not stored.")
      .def("increment_element", py::overload_cast<int, int, int, int, double>(&CCHArray::IncrementElement),
           py::arg("lx"), py::arg("ly"), py::arg("lz"), py::arg("ir"), py::arg("value"),
           "Adds to a coefficient; femtokit.Error when it is not stored.")
      .def("zero_array", py::overload_cast<>(&CCHArray::ZeroArray), "Sets every coefficient to 0.")
      .def("scale_array", py::overload_cast<double>(&CCHArray::ScaleArray), py::arg("factor"),
           "Multiplies every coefficient by factor.")
      .def("fill_remainder_x", py::overload_cast<>(&CCHArray::FillRemainderX),
           "Rebuilds the lx >= 2 coefficients of a traceless set from those with lx <= 1 (after S2CF.s2c).")
      .def("detrace", py::overload_cast<>(&CCHArray::Detrace),
           "Traceless projection of a product-form coefficient set, in place.")
      .def(
          "aexpand",
          [](const CCHArray &a, const py::object &x, const py::object &y, const py::object &z) {
            return Vectorize({x, y, z}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
              for (py::ssize_t i = 0; i < n; i++) out[i] = a.AExpand(v[0][i], v[1][i], v[2][i]);
            });
          },
          py::arg("x"), py::arg("y"), py::arg("z"),
          "The function at positions (x, y, z) (radial unit; NumPy broadcasting): the expansion of bin "
          "floor(r/radstep) in the direction of (x, y, z), 0 beyond the mesh. femtokit.Error for NaN.")
      .def("write_all_a", PathMethod<>(&CCHArray::WriteAllA), py::arg("dirname"),
           "Writes every stored triple as a data directory of 'lx%d_ly%d_lz%d.tmp' files ('%16.10e').")
      .def("write_ax", PathMethod<>(&CCHArray::WriteAX), py::arg("dirname"),
           "Writes the lx <= 1 triples ('%g'), as the main job does.")
      .def("read_all_a", PathMethod<>(&CCHArray::ReadAllA), py::arg("dirname"),
           "Reads every stored triple from a data directory (femtokit.Error when "
           "files are missing or malformed).")
      .def("read_ax", PathMethod<>(&CCHArray::ReadAX), py::arg("dirname"),
           "Reads the lx <= 1 triples and rebuilds the rest.")
      .def("write_short", PathMethod<>(&CCHArray::WriteShort), py::arg("filename"), py::arg("lmax"),
           "Writes a summary table up to lmax.")
      .def("print_pars", &CCHArray::PrintPars, "Prints LMAX, NRADIAL, RADSTEP and the symmetries (Normal level).")
      .def("__repr__", [](const CCHArray &a) {
        return "<femtokit.CCHArray LMAX=" + std::to_string(a.GetLMAX()) + " NRADIAL=" + std::to_string(a.GetNRADIAL()) +
               " RADSTEP=" + std::to_string(a.GetRADSTEP()) + " sym=(" + std::to_string(a.GetXSYM()) + "," +
               std::to_string(a.GetYSYM()) + "," + std::to_string(a.GetZSYM()) + ")>";
      });

  py::class_<C3DArray>(m, "C3DArray",
                       "A function f(x, y, z) on a Cartesian mesh of cells: NXMAX cells of width DELX per "
                       "half-axis (cell ix centred at (ix + 0.5) DELX; at -(ix + 0.5) DELX in the negative sign "
                       "block of a non-symmetric axis). Units are the caller's (fm, or MeV/c for correlation "
                       "functions).")
      .def(py::init<int, double, int, double, int, double, bool, bool, bool>(), py::arg("nxmax"), py::arg("delx"),
           py::arg("nymax"), py::arg("dely"), py::arg("nzmax"), py::arg("delz"), py::arg("xsym") = false,
           py::arg("ysym") = false, py::arg("zsym") = false, "A mesh of zeros.")
      .def(py::init<int, double, bool, bool, bool>(), py::arg("nxyzmax"), py::arg("delxyz"), py::arg("xsym") = false,
           py::arg("ysym") = false, py::arg("zsym") = false,
           "A cubic mesh of zeros: nxyzmax cells of width delxyz per half-axis.")
      .def(py::init([](const py::object &pars) {
             std::unique_ptr<C3DArray> a;
             WithParameterFile(pars, [&](const std::string &file) { a = std::make_unique<C3DArray>(file); }, &Array3DKeys());
             return a;
           }),
           py::arg("pars"),
           "A mesh of zeros from a parameter file or dict (NXMAX, NYMAX, NZMAX, DELX, DELY, DELZ or DELXYZ, "
           "XSYM, YSYM, ZSYM, IDENTICAL).")
      .def_static(
          "from_directory",
          [](const py::object &dirname) {
            const std::string dir = Path(dirname);
            std::unique_ptr<C3DArray> a;
            {
              Compute compute;
              a = std::make_unique<C3DArray>(dir + "/3Darraypars.dat");
              a->ReadArray(dir);
            }
            return a;
          },
          py::arg("dirname"), "A 3D array read from a directory that write_array wrote (any shape).")
      .def_property_readonly("nxmax", &C3DArray::GetNXMAX, "Cells per half-axis along x.")
      .def_property_readonly("nymax", &C3DArray::GetNYMAX, "Cells per half-axis along y.")
      .def_property_readonly("nzmax", &C3DArray::GetNZMAX, "Cells per half-axis along z.")
      .def_property_readonly("delx", &C3DArray::GetDELX, "Cell width along x (fm or MeV/c).")
      .def_property_readonly("dely", &C3DArray::GetDELY, "Cell width along y (fm or MeV/c).")
      .def_property_readonly("delz", &C3DArray::GetDELZ, "Cell width along z (fm or MeV/c).")
      .def_property_readonly("xsym", &C3DArray::GetXSYM, "True when f(-x) = f(x): one sign block stored along x.")
      .def_property_readonly("ysym", &C3DArray::GetYSYM, "True when f(-y) = f(y): one sign block stored along y.")
      .def_property_readonly("zsym", &C3DArray::GetZSYM, "True when f(-z) = f(z): one sign block stored along z.")
      .def_property_readonly(
          "values",
          [](py::object self) {
            C3DArray &a = self.cast<C3DArray &>();
            return View(a.Data(), Shape3D(a), self);
          },
          "The stored values as a writable NumPy view (no copy) of shape (nsx, nxmax, nsy, nymax, nsz, nzmax): "
          "axes [isx][ix][isy][iy][isz][iz], a sign block isx = 1 (x < 0) only for a non-symmetric axis. The "
          "view keeps the array alive; the shape never changes (read_array refuses another shape).")
      .def(
          "to_grid",
          [](const C3DArray &a) {
            const std::vector<double> cx = AxisCentres(a.GetNXMAX(), a.GetDELX(), a.GetXSYM());
            const std::vector<double> cy = AxisCentres(a.GetNYMAX(), a.GetDELY(), a.GetYSYM());
            const std::vector<double> cz = AxisCentres(a.GetNZMAX(), a.GetDELZ(), a.GetZSYM());
            py::array_t<double> grid({cx.size(), cy.size(), cz.size()});
            auto g = grid.mutable_unchecked<3>();
            for (size_t i = 0; i < cx.size(); i++)
              for (size_t j = 0; j < cy.size(); j++)
                for (size_t k = 0; k < cz.size(); k++) g(i, j, k) = a.GetElement(cx[i], cy[j], cz[k]);
            return py::make_tuple(py::array(py::cast(cx)), py::array(py::cast(cy)), py::array(py::cast(cz)), grid);
          },
          "A copy on a plain grid: (x, y, z, values) with the cell centres of each axis (both signs for a "
          "non-symmetric axis, the positive half for a symmetric one) and values[i, j, k] at (x[i], y[j], z[k]).")
      .def(
          "get_element",
          [](const C3DArray &a, int isx, int ix, int isy, int iy, int isz, int iz) {
            const std::array<int, 6> s = a.AllocatedShape();
            const int i[6] = {isx, ix, isy, iy, isz, iz};
            for (int k = 0; k < 6; k++)
              if (i[k] < 0 || i[k] >= s[k]) throw py::index_error("3D array index outside the mesh");
            return a.GetElement(isx, ix, isy, iy, isz, iz);
          },
          py::arg("isx"), py::arg("ix"), py::arg("isy"), py::arg("iy"), py::arg("isz"), py::arg("iz"),
          "Value by index; IndexError outside the stored mesh.")
      .def(
          "value_at",
          [](const C3DArray &a, const py::object &x, const py::object &y, const py::object &z) {
            return Vectorize({x, y, z}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
              for (py::ssize_t i = 0; i < n; i++) out[i] = a.GetElement(v[0][i], v[1][i], v[2][i]);
            });
          },
          py::arg("x"), py::arg("y"), py::arg("z"),
          "Value of the cell holding each (x, y, z) (NumPy broadcasting); 0 outside the mesh.")
      .def(
          "interpolate",
          [](const C3DArray &a, const py::object &x, const py::object &y, const py::object &z) {
            return Vectorize({x, y, z}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
              for (py::ssize_t i = 0; i < n; i++) out[i] = a.GetElement_Interpolate(v[0][i], v[1][i], v[2][i]);
            });
          },
          py::arg("x"), py::arg("y"), py::arg("z"),
          "Trilinear interpolation between cell centres at (x, y, z) (broadcasting); 0 beyond half a cell past "
          "the mesh.")
      .def("zero_array", &C3DArray::ZeroArray, "Sets every cell to 0.")
      .def("make_constant", &C3DArray::MakeConstant, py::arg("c"), "Sets every cell to c.")
      .def("scale_array", &C3DArray::ScaleArray, py::arg("factor"), "Multiplies every cell by factor.")
      .def("get_biggest", &C3DArray::GetBiggest, "Stored value of largest magnitude, with its sign.")
      .def("write_array", PathMethod<>(&C3DArray::WriteArray), py::arg("dirname"),
           "Writes a directory of '3Darraypars.dat' and one 'ix%d_iy%d.tmp' per column.")
      .def(
          "read_array",
          [](C3DArray &a, const py::object &dirname) {
            const std::string dir = Path(dirname);
            Compute compute;
            // Its views must stay valid: a directory of another shape is refused.
            C3DArray shape((dir + "/3Darraypars.dat").c_str());
            if (!SameShape(a, shape))
              femtokit::FatalFile(dir + "/3Darraypars.dat",
                                  "3D array directory %s holds another mesh than this array; read it with "
                                  "C3DArray.from_directory\n",
                                  dir.c_str());
            a.ReadArray(dir);
          },
          py::arg("dirname"),
          "Reads a directory that write_array wrote into this array. femtokit.Error for missing or short files "
          "and for a directory of another mesh (use C3DArray.from_directory).")
      .def("__repr__", [](const C3DArray &a) {
        return "<femtokit.C3DArray N=(" + std::to_string(a.GetNXMAX()) + "," + std::to_string(a.GetNYMAX()) + "," +
               std::to_string(a.GetNZMAX()) + ") DEL=(" + std::to_string(a.GetDELX()) + "," +
               std::to_string(a.GetDELY()) + "," + std::to_string(a.GetDELZ()) + ")>";
      });

  py::module_ ac = m.def_submodule("ArrayCalc", "Conversions between array forms (ArrayCalc).");
  ac.def("calc_3d_array_from_aexp_array", &ArrayCalc::Calc3DArrayFromAExpArray, py::arg("A"), py::arg("C3D"),
         py::call_guard<Compute>(),
         "Fills the 3D mesh from a Cartesian-harmonic array (linear in r between bin centres, 0 beyond the "
         "r mesh); cell widths and radstep share their unit. femtokit.Error when the symmetry flags differ.");
  ac.def("calc_aexp_array_from_3d_array", &ArrayCalc::CalcAExpArrayFrom3DArray, py::arg("C3D"), py::arg("A"),
         py::call_guard<Compute>(), "Projects the (interpolated) 3D mesh onto the harmonics of every radial bin of A.");
  ac.def("copy_array", py::overload_cast<CCHArray *, CCHArray *>(&ArrayCalc::CopyArray), py::arg("A"), py::arg("B"),
         "Copies A into B (same parameters, else femtokit.Error).");
  ac.def("compare_array_parameters", py::overload_cast<CCHArray *, CCHArray *>(&ArrayCalc::CompareArrayParameters),
         py::arg("a"), py::arg("b"), "True when the two arrays have the same parameters (else a warning).");
}

}  // namespace python
}  // namespace femtokit
