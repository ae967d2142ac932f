// Pair wave functions and the kernels built from them.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>

#include "common.h"
#include "config/fatal.h"
#include "config/output.h"
#include "kernel/kernel.h"
#include "kernel/kernelcache.h"
#include "kernel/kernelwf.h"
#include "wavefunction/wavefunction.h"
#include "wavefunction/wavefunction_generic.h"
#include "wavefunction/wavefunction_pairs.h"

namespace femtokit {
namespace python {

namespace {

// Runs body(i) for i in 0 .. n-1 on the library's threads; an error leaves
// after the loop. Only for bodies that read shared objects.
template <class F>
void ParallelFor(py::ssize_t n, F &&body) {
  femtokit::ParallelErrors errors;
#pragma omp parallel for schedule(static)
  for (py::ssize_t i = 0; i < n; i++) errors.Run([&] { body(i); });
  errors.Rethrow();
}

#ifndef FEMTOKIT_DATA_DIR
#define FEMTOKIT_DATA_DIR "data"
#endif

// The package's own copy of the shipped parameter files, set by an installed
// package when it loads (empty in the build tree).
std::string &PackageDataDir() {
  static std::string dir;
  return dir;
}

// Directory of the shipped parameter files: FEMTOKIT_DATA when set, else the
// installed package's data/, else the data/ folder of the source tree the
// module was built from (as the femtokit program finds it).
std::string DataDir() {
  const char *env = std::getenv("FEMTOKIT_DATA");
  if (env && *env) return std::string(env);
  if (!PackageDataDir().empty()) return PackageDataDir();
  return std::string(FEMTOKIT_DATA_DIR);
}

bool Contains(const std::vector<std::string> &names, const std::string &name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Every pair known by name: the library's and those of shipped parameter files.
std::vector<std::string> KnownPairs() {
  std::vector<std::string> names = femtokit::PairNames();
  for (const std::string &n : femtokit::FilePairNames()) names.push_back(n);
  return names;
}

// The library's name of a pair known by name; KeyError otherwise.
std::string KnownPair(const std::string &name) {
  const std::string pair = femtokit::CanonicalPairName(name);
  if (Contains(KnownPairs(), pair)) return pair;
  std::string list;
  for (const std::string &n : KnownPairs()) list += (list.empty() ? "" : ", ") + n;
  throw py::key_error("unknown pair '" + name + "' (known: " + list +
                      "; or make_wave_function('generic', parameters) for any other pair)");
}

// data/<pair>/<file> of a known pair; femtokit.Error when it is missing.
std::string ShippedFile(const std::string &pair, const char *file) {
  const std::string name = DataDir() + "/" + pair + "/" + file;
  if (!std::filesystem::is_regular_file(name))
    femtokit::FatalFile(name, "the shipped parameter file %s of the pair %s is missing (FEMTOKIT_DATA names the "
                              "directory of the shipped files)\n", name.c_str(), pair.c_str());
  return name;
}

// The wave function of a pair by name or "generic"; pars None: the shipped file.
std::unique_ptr<CWaveFunction> MakeNamed(const std::string &name, const py::object &pars) {
  std::string pair = name == "generic" ? name : KnownPair(name);
  if (pars.is_none() && pair == "generic")
    throw py::value_error("a generic pair needs its parameters (a file or dict)");
  const py::object source = pars.is_none() ? py::cast(ShippedFile(pair, "wfparameters.dat")) : pars;
  if (Contains(femtokit::FilePairNames(), pair)) pair = "generic";
  std::unique_ptr<CWaveFunction> wf;
  WithParameterFile(source, [&](const std::string &file) { wf = femtokit::MakeWaveFunction(pair, file); },
                    &WaveFunctionKeys());
  return wf;
}

// Refuses arguments of |psi|^2 outside its domain: a non-finite value, q < 0
// or q beyond qmax (MeV/c), r < 0 or beyond rmax (fm), |cos theta| > 1.
void CheckDomain(const char *what, const std::vector<const double *> &v, py::ssize_t n, double qmax, double rmax) {
  auto refuse = [&](const char *name, double x, const std::string &why) {
    throw py::value_error(femtokit::Format("%s: %s = %g %s", what, name, x, why.c_str()));
  };
  for (py::ssize_t i = 0; i < n; i++) {
    const double q = v[0][i], r = v[1][i], c = v[2][i];
    if (!std::isfinite(q)) refuse("q", q, "is not a finite number");
    if (!std::isfinite(r)) refuse("r", r, "is not a finite number");
    if (!std::isfinite(c)) refuse("ctheta", c, "is not a finite number");
    if (q < 0.0) refuse("q", q, "MeV/c is negative");
    if (q > qmax) refuse("q", q, femtokit::Format("MeV/c lies beyond the q mesh (up to %g MeV/c)", qmax));
    if (r < 0.0) refuse("r", r, "fm is negative");
    if (r > rmax) refuse("r", r, femtokit::Format("fm lies beyond the r mesh (up to %g fm)", rmax));
    if (c < -1.0 || c > 1.0) refuse("ctheta", c, "lies outside [-1, 1]");
  }
}

// How far in q a wave function's |psi|^2 reaches: half a spacing beyond its
// last mesh point (one mesh point stands for every q).
double QReach(const CWaveFunction &wf) {
  const int n = wf.GetNQMAX();
  if (n <= 1) return std::numeric_limits<double>::infinity();
  return wf.GetQ(n - 1) + 0.5 * (wf.GetQ(n - 1) - wf.GetQ(n - 2));
}

py::array_t<double> Centres(int n, double del) {
  py::array_t<double> c(n);
  for (int i = 0; i < n; i++) c.mutable_at(i) = (i + 0.5) * del;
  return c;
}

}  // namespace

void BindWaveFunctions(py::module_ &m) {
  m.def("pair_names", &femtokit::PairNames,
        "Names of the pairs that have a wave function: 'pp', 'pkplus', 'ppiplus', 'pipluspiminus', 'nn'.");
  m.def("pair_is_identical", py::overload_cast<const std::string &>(&femtokit::PairIsIdentical), py::arg("pair"),
        "True for pairs of identical particles, whose kernels hold even l only. femtokit.Error for an unknown "
        "pair and for 'generic' (give its wave function).");
  m.def("pair_is_identical", py::overload_cast<const std::string &, const CWaveFunction &>(&femtokit::PairIsIdentical),
        py::arg("pair"), py::arg("wf"),
        "The same for a built wave function of the pair ('generic': what its parameters say).");

  py::class_<CWaveFunction>(m, "CWaveFunction",
                            "A two-particle relative wave function (built by make_wave_function). q in MeV/c "
                            "(one particle in the pair frame), r in fm, cos(theta) between q and r.")
      .def(
          "psi_squared",
          [](const CWaveFunction &wf, const py::object &q, const py::object &r, const py::object &ctheta) {
            const double qmax = QReach(wf);
            return Vectorize({q, r, ctheta}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
              CheckDomain("psi_squared", v, n, qmax, std::numeric_limits<double>::infinity());
              ParallelFor(n, [&](py::ssize_t i) { out[i] = wf.GetPsiSquared(v[0][i], v[1][i], v[2][i]); });
            });
          },
          py::arg("q"), py::arg("r"), py::arg("ctheta"),
          "|psi|^2 at momentum q (MeV/c), separation r (fm) and cos(theta), NumPy broadcasting, linear in q "
          "between mesh points; computed on the library's threads without the GIL. ValueError for a non-finite "
          "value, q < 0 or beyond the q mesh (half a spacing past its last point), r < 0, |cos(theta)| > 1.")
      .def("tabulate_to", &CWaveFunction::TabulateTo, py::arg("rmax"), py::call_guard<Compute>(),
           "Extends the radial tables to rmax (fm) so that |psi|^2 up to there is a table lookup (the kernel "
           "calculation does it itself).")
      .def("epsilon_jump", &CWaveFunction::EpsilonJump, py::call_guard<Compute>(),
           "Largest |psi|^2 difference between the inner and outer forms at r = EPSILON.")
      .def_property_readonly("nqmax", &CWaveFunction::GetNQMAX, "Number of q mesh points.")
      .def_property_readonly("delq", &CWaveFunction::GetDELQ,
                             "q mesh step (MeV/c); negative for a mesh read from a file.")
      .def_property_readonly("epsilon", &CWaveFunction::GetEPSILON, "EPSILON (fm).")
      .def_property_readonly("q1q2", &CWaveFunction::GetQ1Q2, "Product of the charges.")
      .def_property_readonly("nchannels", &CWaveFunction::GetNChannels, "Number of strong channels.")
      .def_property_readonly(
          "q_mesh",
          [](const CWaveFunction &wf) {
            py::array_t<double> q(wf.GetNQMAX());
            for (int i = 0; i < wf.GetNQMAX(); i++) q.mutable_at(i) = wf.GetQ(i);
            return q;
          },
          "The q mesh points (MeV/c), a new array.")
      .def(
          "channel_ell",
          [](const CWaveFunction &wf) {
            std::vector<int> ell;
            for (int c = 0; c < wf.GetNChannels(); c++) ell.push_back(wf.GetEll(c));
            return ell;
          },
          "Orbital angular momentum of each channel.")
      .def(
          "phase_shifts",
          [](const CWaveFunction &wf) {
            py::array_t<double> d({wf.GetNChannels(), wf.GetNQMAX()});
            auto a = d.mutable_unchecked<2>();
            for (int c = 0; c < wf.GetNChannels(); c++)
              for (int i = 0; i < wf.GetNQMAX(); i++) a(c, i) = wf.GetDelta(c, i);
            return d;
          },
          "Phase shifts (radians) as a new array [channel, q mesh point].");

  py::class_<CWaveFunction_generic, CWaveFunction>(
      m, "CWaveFunction_generic",
      "A pair described by its parameter file: masses M1, M2 (MeV), charges Q1Q2, spins, IDENTICAL, and strong "
      "channels by scattering length and effective range (fm), phase-shift tables or local potentials.")
      .def(py::init([](const py::object &pars) {
             std::unique_ptr<CWaveFunction_generic> wf;
             WithParameterFile(pars,
                               [&](const std::string &file) { wf = std::make_unique<CWaveFunction_generic>(file); },
                               &WaveFunctionKeys());
             return wf;
           }),
           py::arg("pars"),
           "From a parameter file or dict (a relative phase-shift file name is taken from the file's directory; "
           "for a dict give absolute names). femtokit.Error, naming the file or key, for inconsistent settings.")
      .def(py::init([](const py::object &pars, const std::vector<double> &q) {
             std::unique_ptr<CWaveFunction_generic> wf;
             WithParameterFile(
                 pars, [&](const std::string &file) { wf = std::make_unique<CWaveFunction_generic>(file, q); });
             return wf;
           }),
           py::arg("pars"), py::arg("q_mesh"),
           "The same on the given q mesh (MeV/c, strictly increasing) instead of the file's.")
      .def(
          "effective_range",
          [](const CWaveFunction_generic &wf, int channel) {
            double a, reff;
            wf.FitEffectiveRange(channel, &a, &reff);
            return py::make_tuple(a, reff);
          },
          py::arg("channel"),
          "(a, r) in fm of an S-wave channel from the phases at the first two mesh points (build the pair on a "
          "mesh of small q, e.g. [0.5, 1]): particle-physics sign, k cot(delta) = -1/a + r k^2/2, a < 0 "
          "attractive without a bound state (femtoscopy f0 = -a); Coulomb-modified for phases relative to the "
          "Coulomb waves of a charged pair.")
      .def("has_potential", &CWaveFunction_generic::HasPotential, py::arg("channel"),
           "True for a channel given by a local potential (exact radial solution inside match_radius).")
      .def_property_readonly("match_radius", &CWaveFunction_generic::GetMatchRadius,
                             "Matching radius of the potential channels (fm; 0 without them).")
      .def_property_readonly("identical", &CWaveFunction_generic::GetIDENTICAL, "True for identical particles (symmetrised wave function).")
      .def_property_readonly("m1", &CWaveFunction_generic::GetM1, "Mass (MeV).")
      .def_property_readonly("m2", &CWaveFunction_generic::GetM2, "Mass (MeV).")
      .def_property_readonly(
          "spin_states",
          [](const CWaveFunction_generic &wf) {
            py::list states;
            for (const auto &st : wf.GetSpinStates()) {
              py::dict d;
              d["S"] = st.S, d["weight"] = st.weight, d["symmetric"] = st.symmetric, d["channels"] = st.channels;
              states.append(d);
            }
            return states;
          },
          "Total-spin states: S, weight, spatial symmetry and the strong channels acting in each.");

  m.def("make_wave_function", &MakeNamed, py::arg("pair"), py::arg("pars") = py::none(),
        "The wave function of a pair by name (known_pairs(): 'pp', 'pkplus', 'ppiplus', 'pipluspiminus', 'nn', "
        "'pipluspiplus', 'kpluskplus', 'plambda', 'lambdalambda'; also 'pi+pi+', 'K+K+', 'pLambda', 'pΛ', 'ΛΛ', ...), "
        "or 'generic', from a wave-function parameter file or dict (NQMAX, DELQ in MeV/c, EPSILON in fm, STRONG, "
        "COULOMB, ...); without pars, the pair's shipped data/<pair>/wfparameters.dat. Built without the GIL. "
        "KeyError for an unknown pair or key, TypeError for a value of the wrong type, femtokit.Error for a "
        "missing file.");
  m.def("known_pairs", &KnownPairs,
        "Every pair known by name, as 'femtokit kernel PAIR' knows them: pair_names() and the pairs of the shipped "
        "parameter files ('pipluspiplus', 'kpluskplus', 'plambda', 'lambdalambda').");
  m.def("data_dir", &DataDir,
        "Directory of the shipped parameter files (data/<pair>/wfparameters.dat, kparameters.dat): the "
        "environment variable FEMTOKIT_DATA when set, else the installed package's femtokit/data, else the "
        "data/ folder of the source tree the module was built from.");
  m.def(
      "_set_package_data", [](const std::string &dir) { PackageDataDir() = dir; }, py::arg("dir"),
      "Used by the package when it loads: the directory of its own copy of the shipped files.");
  m.def(
      "pair_files",
      [](const std::string &name) {
        const std::string pair = KnownPair(name);
        py::dict d;
        d["wfparameters"] = ShippedFile(pair, "wfparameters.dat");
        d["kparameters"] = ShippedFile(pair, "kparameters.dat");
        return d;
      },
      py::arg("pair"),
      "The shipped parameter files of a pair known by name: {'wfparameters': ..., 'kparameters': ...} (the kernel "
      "mesh the program uses). KeyError for an unknown pair.");
}

void BindKernels(py::module_ &m) {
  py::class_<CKernel>(m, "CKernel",
                      "Legendre projections K_l(q, r) of |psi|^2 - 1 on a bin-centred mesh: q_iq = (iq + 0.5) "
                      "DELQ (MeV/c), r_ir = (ir + 0.5) DELR (fm); |psi|^2 = 1 + sum_l (2l+1) K_l P_l(cos theta). "
                      "Identical particles have even l only.")
      .def(py::init([](const py::object &pars) {
             std::unique_ptr<CKernel> k;
             WithParameterFile(pars, [&](const std::string &file) { k = std::make_unique<CKernel>(file); }, &KernelKeys());
             return k;
           }),
           py::arg("pars"),
           "Zero tables on the mesh of a kernel parameter file or dict (NQMAX, NRMAX, KLMAX, DELQ in MeV/c, DELR "
           "in fm, IDENTICAL).")
      .def_property_readonly("lmax", &CKernel::GetLMAX, "Highest l of the projections (KLMAX).")
      .def_property_readonly("nqmax", &CKernel::GetNQMAX, "Number of q bins.")
      .def_property_readonly("nrmax", &CKernel::GetNRMAX, "Number of r bins.")
      .def_property_readonly("delq", &CKernel::GetDELQ, "q bin width (MeV/c).")
      .def_property_readonly("delr", &CKernel::GetDELR, "r bin width (fm).")
      .def_property_readonly("identical", &CKernel::GetIDENTICAL, "True for identical particles: even l only.")
      .def_property_readonly(
          "q", [](const CKernel &k) { return Centres(k.GetNQMAX(), k.GetDELQ()); }, "q bin centres (MeV/c).")
      .def_property_readonly(
          "r", [](const CKernel &k) { return Centres(k.GetNRMAX(), k.GetDELR()); }, "r bin centres (fm).")
      .def(
          "table",
          [](py::object self, int ell) {
            CKernel &k = self.cast<CKernel &>();
            double *data = k.Table(ell);
            if (!data)
              throw py::key_error("l=" + std::to_string(ell) + " has no table (LMAX " + std::to_string(k.GetLMAX()) +
                                  (k.GetIDENTICAL() ? ", identical particles: even l only)" : ")"));
            return View(data, {k.GetNQMAX(), k.GetNRMAX()}, self);
          },
          py::arg("ell"),
          "K_ell(q, r) as a writable NumPy view (no copy) of shape (nqmax, nrmax); KeyError for an absent l. "
          "The view keeps the kernel alive.")
      .def(
          "tables",
          [](const CKernel &k) {
            py::array_t<double> t({k.GetLMAX() + 1, k.GetNQMAX(), k.GetNRMAX()});
            auto a = t.mutable_unchecked<3>();
            for (int l = 0; l <= k.GetLMAX(); l++)
              for (int iq = 0; iq < k.GetNQMAX(); iq++)
                for (int ir = 0; ir < k.GetNRMAX(); ir++) a(l, iq, ir) = k.GetValue(l, iq, ir);
            return t;
          },
          "All K_l(q, r) as a new array of shape (lmax + 1, nqmax, nrmax), zero for absent l.")
      .def(
          "get_value",
          [](const CKernel &k, int ell, const py::object &q, const py::object &r) {
            return Vectorize({q, r, py::float_(0.0)},
                             [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
                               CheckDomain("get_value", v, n, k.GetNQMAX() * k.GetDELQ(), k.GetNRMAX() * k.GetDELR());
                               for (py::ssize_t i = 0; i < n; i++) out[i] = k.GetValue(ell, v[0][i], v[1][i]);
                             });
          },
          py::arg("ell"), py::arg("q"), py::arg("r"),
          "K_ell bilinearly interpolated at q (MeV/c) and r (fm), NumPy broadcasting. ValueError for a "
          "non-finite or negative value or one beyond the kernel's mesh.")
      .def(
          "psi_squared",
          [](CKernel &k, const py::object &q, const py::object &r, const py::object &ctheta) {
            return Vectorize({q, r, ctheta}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
              CheckDomain("psi_squared", v, n, k.GetNQMAX() * k.GetDELQ(), k.GetNRMAX() * k.GetDELR());
              for (py::ssize_t i = 0; i < n; i++) out[i] = k.GetPsiSquared(v[0][i], v[1][i], v[2][i]);
            });
          },
          py::arg("q"), py::arg("r"), py::arg("ctheta"),
          "|psi|^2 rebuilt from the projections at q (MeV/c), r (fm), cos(theta), NumPy broadcasting. "
          "ValueError for a non-finite value, a q or r below zero or beyond the kernel's mesh, |cos(theta)| > 1.")
      .def("calc", [](CKernel &k, CWaveFunction *wf) { k.Calc(wf); }, py::arg("wf"), py::call_guard<Compute>(),
           "Fills the tables from a wave function, on the library's threads without the GIL (the result does not "
           "depend on the thread count). femtokit.Error as the wave function fails.")
      .def("calc_pure_hbt", &CKernel::Calc_PureHBT, py::call_guard<Compute>(),
           "Fills the tables for free identical bosons: K_l = (-1)^(l/2) j_l(2 q r / hbarc), even l.")
      .def("calc_class_coul", &CKernel::Calc_ClassCoul, py::arg("ma"), py::arg("mb"), py::arg("q1q2"),
           py::call_guard<Compute>(), "Fills the tables from classical Coulomb trajectories (masses in MeV).")
      .def("read", PathMethod<>(&CKernel::Read), py::arg("dirname"),
           "Reads a kernel directory ('ell%d_q%07.2f.tmp' files). femtokit.Error, naming the file, for a missing "
           "or inconsistent one.")
      .def("write", PathMethod<>(static_cast<void (CKernel::*)(const std::string &)>(&CKernel::Write)), py::arg("dirname"),
           "Writes a kernel directory as one step.");

  m.def(
      "make_kernel",
      [](const std::string &name, const py::object &kpars) {
        const std::string pair = KnownPair(name);
        std::unique_ptr<CWaveFunction> wf = MakeNamed(pair, py::none());
        std::unique_ptr<CKernel> k;
        WithParameterFile(kpars.is_none() ? py::cast(ShippedFile(pair, "kparameters.dat")) : kpars,
                          [&](const std::string &file) { k = std::make_unique<CKernel>(file); }, &KernelKeys());
        Compute compute;
        k->Calc(wf.get());
        return k;
      },
      py::arg("pair"), py::arg("kpars") = py::none(),
      "The kernel of a pair known by name (known_pairs(), or 'pi+pi+', 'pΛ', ...) from its shipped wave-function "
      "file, on its shipped mesh data/<pair>/kparameters.dat (as 'femtokit kernel PAIR' computes it) or on the "
      "mesh of kpars (a file or dict). Computed on the library's threads without the GIL.");

  m.def(
      "kernel_cache_dir", [](const py::object &dir) { return dir.is_none() ? femtokit::DefaultKernelCacheDir() : Path(dir); },
      py::arg("cache_dir") = py::none(),
      "The directory of cached kernels: cache_dir when given, else the environment variable FEMTOKIT_CACHE, else "
      "$XDG_CACHE_HOME/femtokit/kernels, else ~/.cache/femtokit/kernels. femtokit.Error when none is set.");
  m.def(
      "cached_kernel",
      [](const std::string &name, const py::object &kpars, const py::object &cache_dir) {
        const std::string pair = KnownPair(name);
        parameterMap meshpars;
        if (kpars.is_none()) {
          parameter::ReadParsFromFile(meshpars, ShippedFile(pair, "kparameters.dat"));
        } else if (py::isinstance<py::dict>(kpars)) {
          CheckKeys(kpars.cast<py::dict>(), KernelKeys());
          meshpars = ToParameterMap(kpars.cast<py::dict>());
        } else {
          parameter::ReadParsFromFile(meshpars, Path(kpars));
        }
        const femtokit::KernelMesh mesh =
            femtokit::ReadKernelMesh(meshpars, kpars.is_none() ? "the shipped mesh of " + pair : "kpars");
        const std::string wfpars = ShippedFile(pair, "wfparameters.dat");
        const std::string dir = cache_dir.is_none() ? femtokit::DefaultKernelCacheDir() : Path(cache_dir);
        Compute compute;
        return femtokit::CachedPairKernel(pair, wfpars, mesh, dir);
      },
      py::arg("pair"), py::arg("kpars") = py::none(), py::arg("cache_dir") = py::none(),
      "The kernel of a pair known by name (known_pairs()) on its shipped mesh data/<pair>/kparameters.dat or the "
      "mesh of kpars (a file or dict: NQMAX, DELQ in MeV/c, NRMAX, DELR in fm, KLMAX), with the wave function built "
      "on the kernel's q mesh (as 'femtokit kernel PAIR' computes it), kept on disk: one directory per pair and "
      "mesh under kernel_cache_dir(cache_dir), read again while its inputs (the pair's parameter files, the mesh) "
      "are unchanged, computed and rewritten otherwise. KeyError for an unknown pair or mesh key, femtokit.Error "
      "for a mesh beyond the pair's reach, a cache that cannot be written or an entry that cannot be read.");

  py::class_<CKernelWF>(m, "CKernelWF",
                        "The kernel |psi|^2 - 1 itself on a (q, r, cos theta) mesh: q_iq = (iq + 0.5) DELQ "
                        "(MeV/c), r_ir = (ir + 0.5) DELR (fm), c_ic = 1 - ic DELCTHETA; for the 3D transform.")
      .def(py::init([](const py::object &pars) {
             std::unique_ptr<CKernelWF> k;
             WithParameterFile(pars, [&](const std::string &file) { k = std::make_unique<CKernelWF>(file); }, &KernelWFKeys());
             return k;
           }),
           py::arg("pars"),
           "A table (every value 1) on the mesh of a parameter file or dict (NQMAX, NRMAX, NCTHETA, DELQ, DELR, "
           "IDENTICAL). femtokit.Error for missing keys or empty meshes.")
      .def_property_readonly("nqmax", &CKernelWF::GetNQMAX, "Number of q bins.")
      .def_property_readonly("nrmax", &CKernelWF::GetNRMAX, "Number of r bins.")
      .def_property_readonly("nctheta", &CKernelWF::GetNCTHETA, "Number of cos(theta) steps (nctheta + 1 points from 1 to -1).")
      .def_property_readonly("delq", &CKernelWF::GetDELQ, "q bin width (MeV/c).")
      .def_property_readonly("delr", &CKernelWF::GetDELR, "r bin width (fm).")
      .def_property_readonly("delctheta", &CKernelWF::GetDELCTHETA, "cos(theta) step.")
      .def_property_readonly("identical", &CKernelWF::GetIDENTICAL, "True for identical particles.")
      .def_property_readonly(
          "values",
          [](py::object self) {
            CKernelWF &k = self.cast<CKernelWF &>();
            return View(&k.Value(0, 0, 0), {k.GetNQMAX(), k.GetNRMAX(), k.GetNCTHETA() + 1}, self);
          },
          "K = |psi|^2 - 1 as a writable NumPy view (no copy) of shape (nqmax, nrmax, nctheta + 1). The view "
          "keeps the kernel alive.")
      .def(
          "psi_squared",
          [](const CKernelWF &k, const py::object &q, const py::object &r, const py::object &ctheta) {
            return Vectorize({q, r, ctheta}, [&](const std::vector<const double *> &v, py::ssize_t n, double *out) {
              CheckDomain("psi_squared", v, n, k.GetNQMAX() * k.GetDELQ(), k.GetNRMAX() * k.GetDELR());
              ParallelFor(n, [&](py::ssize_t i) { out[i] = k.GetPsiSquared(v[0][i], v[1][i], v[2][i]); });
            });
          },
          py::arg("q"), py::arg("r"), py::arg("ctheta"),
          "|psi|^2 interpolated at q (MeV/c), r (fm), cos(theta), NumPy broadcasting. ValueError for a "
          "non-finite value, a q or r below zero or beyond the table's mesh, |cos(theta)| > 1.")
      .def("calc", &CKernelWF::Calc, py::arg("wf"), py::call_guard<Compute>(),
           "Fills the table from a wave function, on the library's threads without the GIL.")
      .def("calc_pure_hbt", &CKernelWF::Calc_PureHBT, py::call_guard<Compute>(),
           "Free identical bosons: |psi|^2 = 1 + cos(2 q r c / hbarc).")
      .def("read", PathMethod<>(&CKernelWF::Read), py::arg("dirname"), "Reads a table directory written by write(). femtokit.Error, naming the file, for a missing or inconsistent one.")
      .def("write", PathMethod<>(&CKernelWF::Write), py::arg("dirname"), "Writes the table as a directory. femtokit.Error when it cannot be written.");
}

}  // namespace python
}  // namespace femtokit
