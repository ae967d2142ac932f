// The Python module femtokit: the library's arrays, wave functions, kernels,
// sources, transforms and fits, with NumPy arrays.
#include "common.h"

#ifdef _OPENMP
#include <omp.h>
#endif

#include "config/constants.h"
#include "config/fatal.h"
#include "config/output.h"

namespace femtokit {
namespace python {

void BindConfig(py::module_ &m) {
  py::enum_<femtokit::Verbosity>(m, "Verbosity",
                                 "How much the library prints: Normal (progress, parameter echoes, results), "
                                 "Quiet (warnings only) or Silent (nothing; errors are exceptions).")
      .value("Silent", femtokit::Verbosity::Silent)
      .value("Quiet", femtokit::Verbosity::Quiet)
      .value("Normal", femtokit::Verbosity::Normal);
  m.def("set_verbosity", &femtokit::SetVerbosity, py::arg("level"),
        "Sets the process-wide output level (femtokit.Verbosity). The library's text goes to sys.stdout; text "
        "printed while a computation runs without the GIL (kernels, fits, source fills) appears when it returns.");
  m.def("get_verbosity", &femtokit::GetVerbosity, "The process-wide output level.");

  m.def(
      "read_parameters",
      [](const py::object &filename) {
        parameterMap pars;
        const std::string name = Path(filename);
        parameter::ReadParsFromFile(pars, name);
        return ToDict(pars);
      },
      py::arg("filename"),
      "Reads a parameter file of 'type name value' lines into a dict (ints, floats and strs; doubles keep 6 "
      "significant digits, bools read as 0 or 1). Raises femtokit.Error for a missing file.");
  m.def(
      "write_parameters",
      [](const py::dict &pars, const py::object &filename) { WriteParameterFile(pars, Path(filename)); },
      py::arg("pars"), py::arg("filename"),
      "Writes a dict of bool, int, float and one-word str values as a parameter file that every femtokit "
      "object reads. Raises ValueError for other values.");

#ifdef _OPENMP
  m.def(
      "set_num_threads", [](int n) { omp_set_num_threads(n < 1 ? 1 : n); }, py::arg("n"),
      "Number of threads of the library's parallel loops (kernels, conversions, pair histograms). Results do "
      "not depend on it.");
  m.def("get_max_threads", &omp_get_max_threads, "Threads the library's parallel loops use.");
#else
  m.def(
      "set_num_threads", [](int) {}, py::arg("n"), "Built without OpenMP: the library runs on one thread.");
  m.def(
      "get_max_threads", [] { return 1; }, "Built without OpenMP: 1.");
#endif

  py::module_ c = m.def_submodule("constants", "Physical constants of femtokit::constants (MeV, fm).");
  c.attr("HBARC") = femtokit::constants::HBARC;
  c.attr("HBARC_ROUNDED") = femtokit::constants::HBARC_ROUNDED;
  c.attr("ALPHA_INV") = femtokit::constants::ALPHA_INV;
  c.attr("MPI") = femtokit::constants::MPI;
  c.attr("MKAON") = femtokit::constants::MKAON;
  c.attr("MPROTON") = femtokit::constants::MPROTON;
  c.attr("MNEUTRON") = femtokit::constants::MNEUTRON;
  c.attr("MLAMBDA") = femtokit::constants::MLAMBDA;
}

}  // namespace python
}  // namespace femtokit

namespace femtokit {
namespace python {
void BindImage(py::module_ &m);  // bind_image.cpp
}  // namespace python
}  // namespace femtokit

PYBIND11_MODULE(_core, m) {
  using namespace femtokit::python;
  m.doc() =
      "femtoscopy with femtokit: C(q) - 1 = int d^3r K(q, r) S(r).\n\n"
      "Units: momenta and masses in MeV (MeV/c), distances in fm. q is the momentum of one particle in the pair "
      "rest frame. Meshes are bin-centred ((i + 0.5) * step). Correlation arrays hold C(q) - 1.\n"
      "Objects read parameter files ('type name value' lines) or dicts of the same keys. The library's fatal "
      "errors raise femtokit.Error; its output goes to sys.stdout (femtokit.set_verbosity).\n"
      "Arrays are NumPy views of the library's storage where it is contiguous: they keep their owner alive.\n\n"
      "Processes: once a computation has run, the library's OpenMP threads exist, and a child made by fork() "
      "(multiprocessing's 'fork' start method, the default on Linux before Python 3.14) can hang in its first "
      "parallel computation. Use the 'spawn' (or 'forkserver') start method: "
      "multiprocessing.set_start_method('spawn'), or multiprocessing.get_context('spawn').Pool(...); "
      "concurrent.futures.ProcessPoolExecutor(mp_context=multiprocessing.get_context('spawn')).\n"
      "GSL: loading the module turns GSL's aborting error handler off for the whole process "
      "(see the README).";
  m.attr("__version__") = FEMTOKIT_VERSION;
  // Every array the module returns is a NumPy array: without NumPy it fails here, not in a later call.
  try {
    py::module_::import("numpy");
  } catch (py::error_already_set &e) {
    const std::string python = py::str(py::module_::import("sys").attr("executable"));
    throw py::import_error("femtokit needs NumPy, which this Python (" + python + ") cannot import (" +
                           std::string(e.what()) + "); install it: apt-get install python3-numpy, or pip install numpy");
  }
  InstallErrors(m);
  InstallOutput(m);
  BindConfig(m);
  BindArrays(m);
  BindWaveFunctions(m);
  BindKernels(m);
  BindSources(m);
  BindFits(m);
  BindImage(m);
}
